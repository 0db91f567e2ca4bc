// Measures how long the program's window goes without serving messages:
// starts Velmo.exe, drives it from outside through its windows (the driver
// of the end-to-end test) and, from a second thread, sends it an empty
// message every few milliseconds; the time each one takes to be answered is
// the time the window thread was busy elsewhere. Measured step by step:
//
//   listed   a folder of many photos chosen in the folder tree until the
//            file list shows them all
//   preview  a file selected (its preview), and later an album row
//   added    every file added to the album list
//   built    the album build of the photos of a second folder, from Start
//            to its closing message
//
//   bench_window.exe VELMO_EXE BIG_FOLDER BIG_COUNT BUILD_FOLDER BUILD_COUNT ALBUM_FOLDER
//
// Prints per step its length, the longest wait for an answer and how many
// waits were above 100 ms. The program's settings are its defaults
// (its registry key is removed before and after); the finished album is
// "opened" with a browser that does nothing.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Driver.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Grembolt\\Velmo\\1.4";
const wchar_t kBrowserKey[] = L"Software\\Wine\\WineBrowser";
const wchar_t kCaption[] = L"Velmo Morvane";
const wchar_t kSucceeded[] = L"successfully";  // in the closing message of a build

double Now()
{
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Sends WM_NULL to Window again and again and keeps the longest wait for
// the answer since the last Reset.
class TProbe {
public:
    explicit TProbe(HWND Window) : window_(Window), thread_([this] { Run(); }) {}
    ~TProbe()
    {
        stop_ = true;
        thread_.join();
    }
    void Reset()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        longest_ = 0;
        over_ = 0;
        count_ = 0;
    }
    // Longest wait (s), waits above 100 ms, waits.
    void Read(double& Longest, int& Over, int& Count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Longest = longest_;
        Over = over_;
        Count = count_;
    }

private:
    void Run()
    {
        while (!stop_) {
            const double a = Now();
            DWORD_PTR result = 0;
            ::SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
            const double wait = Now() - a;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                longest_ = std::max(longest_, wait);
                if (wait > 0.1) ++over_;
                ++count_;
            }
            ::Sleep(2);
        }
    }

    HWND window_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    double longest_ = 0;
    int over_ = 0;
    int count_ = 0;
    std::thread thread_;
};

void Report(const char* Name, double Seconds, TProbe& Probe)
{
    double longest = 0;
    int over = 0, count = 0;
    Probe.Read(longest, over, count);
    std::printf("  %-8s %6.2f s, longest wait for the window %6.1f ms, waits above 100 ms: %d of %d\n", Name, Seconds,
                longest * 1000, over, count);
}

// Answers the program's message boxes (a question with Yes) until the
// build's closing message came and the Start button is enabled again; false
// on a timeout.
bool AnswerUntilBuilt(e2e::TProgram& App, HWND Start, DWORD TimeoutMs)
{
    bool finished = false;
    return e2e::WaitUntil(
        [&] {
            for (const e2e::TDialog& d : e2e::Dialogs(App.Pid())) {
                if (d.Caption != kCaption) continue;
                if (!e2e::PressButton(d.Wnd, IDOK)) e2e::PressButton(d.Wnd, IDYES);
                if (d.Text.find(kSucceeded) != std::wstring::npos) finished = true;
            }
            return !App.Running() || (finished && ::IsWindowEnabled(Start));
        },
        TimeoutMs);
}

void QuietBrowser(bool Set)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kBrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (Set) {
        const wchar_t quiet[] = L"true";
        ::RegSetValueExW(key, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(quiet), sizeof(quiet));
    } else {
        ::RegDeleteValueW(key, L"Browsers");
    }
    ::RegCloseKey(key);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 7) {
        std::printf("usage: bench_window VELMO_EXE BIG_FOLDER BIG_COUNT BUILD_FOLDER BUILD_COUNT ALBUM_FOLDER\n");
        return 2;
    }
    const std::wstring exe = argv[1], big = argv[2], small = argv[4], albums = argv[6];
    const int bigCount = _wtoi(argv[3]), buildCount = _wtoi(argv[5]);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    QuietBrowser(true);
    int rc = 1;
    {
        e2e::TProgram app;
        std::wstring error;
        if (!app.Start(exe, error)) {
            std::printf("%ls\n", error.c_str());
            return 1;
        }
        const HWND tree = app.Find(L"FTree"), files = app.Find(L"LV1"), album = app.Find(L"LV2");
        const HWND start = app.Find(L"btnStart");
        if (!tree || !files || !album || !start) {
            std::printf("the main window lacks its controls\n");
            return 1;
        }
        TProbe probe(app.Main());
        ::Sleep(500);

        // The big folder: listed, a file previewed, all added, a row previewed.
        probe.Reset();
        double t0 = Now();
        std::wstring trail;
        bool ok = e2e::TreeSelectPath(app.Process(), tree, big, trail) &&
                  e2e::WaitUntil([&] { return e2e::ListCount(files) == bigCount; }, 120000);
        std::printf("folder of %d photos:\n", bigCount);
        Report("listed", Now() - t0, probe);
        if (ok) {
            probe.Reset();
            t0 = Now();
            e2e::ListSelect(app.Process(), files, 0, true);
            ::Sleep(1000);
            Report("preview", Now() - t0, probe);
            probe.Reset();
            t0 = Now();
            ok = app.Click(L"btnAddAll") &&
                 e2e::WaitUntil([&] { return e2e::ListCount(album) == bigCount; }, 120000);
            Report("added", Now() - t0, probe);
        }
        if (ok) {
            probe.Reset();
            t0 = Now();
            e2e::ListSelect(app.Process(), album, 0, true);
            ::Sleep(1000);
            Report("preview", Now() - t0, probe);
        }
        if (!ok) std::printf("the folder did not fill (file list %d, album list %d; trail %ls)\n",
                             e2e::ListCount(files), e2e::ListCount(album), trail.c_str());

        // The build of the second folder's photos.
        if (ok) {
            app.Click(L"btnRemoveAll");
            ok = e2e::TreeSelectPath(app.Process(), tree, small, trail) &&
                 e2e::WaitUntil([&] { return e2e::ListCount(files) == buildCount; }, 60000) &&
                 app.Click(L"btnAddAll") &&
                 e2e::WaitUntil([&] { return e2e::ListCount(album) == buildCount; }, 60000);
        }
        if (ok) {
            e2e::SetText(app.Find(L"EAlbName"), L"window-bench");
            e2e::SetText(app.Find(L"EAlbDir"), albums);
            ::Sleep(500);
            probe.Reset();
            t0 = Now();
            app.PostClick(L"btnStart");
            ok = AnswerUntilBuilt(app, start, 300000);
            std::printf("build of %d photos:\n", buildCount);
            Report("built", Now() - t0, probe);
            if (!ok) std::printf("the build did not finish\n");
        }
        rc = ok ? 0 : 1;
        app.Close(IDYES, 30000);
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    QuietBrowser(false);
    return rc;
}
