#include "RoadRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace e2e {

namespace {

const wchar_t kBrowserKey[] = L"Software\\Wine\\WineBrowser";
const wchar_t kCaption[] = L"Velmo Morvane";

}  // namespace

std::wstring AppExe()
{
    wchar_t given[MAX_PATH] = {};
    std::wstring exe = ::GetEnvironmentVariableW(L"VELMO_E2E_EXE", given, MAX_PATH) ? given : VELMO_APP_EXE;
    for (auto& c : exe)
        if (c == L'/') c = L'\\';
    return exe;
}

std::wstring ProgramFolder()
{
    const std::wstring exe = AppExe();
    return exe.substr(0, exe.rfind(L'\\') + 1);
}

TQuietBrowser::TQuietBrowser()
{
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kBrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    wchar_t old[1024] = {};
    DWORD size = sizeof(old);
    had_ = ::RegQueryValueExW(key, L"Browsers", nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
    old_ = old;
    const wchar_t quiet[] = L"true";
    ::RegSetValueExW(key, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(quiet), sizeof(quiet));
    ::RegCloseKey(key);
}

TQuietBrowser::~TQuietBrowser()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kBrowserKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    if (had_)
        ::RegSetValueExW(key, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                         static_cast<DWORD>((old_.size() + 1) * sizeof(wchar_t)));
    else
        ::RegDeleteValueW(key, L"Browsers");
    ::RegCloseKey(key);
}

TRoadRun::TRoadRun(TBrowser Browser)
{
    if (Browser == TBrowser::Quiet) browser_ = std::make_unique<TQuietBrowser>();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

TRoadRun::~TRoadRun() { Finish(); }

bool TRoadRun::Start(std::wstring& Error) { return app.Start(AppExe(), Error); }

HWND TRoadRun::Control(const wchar_t* Name)
{
    HWND wnd = app.Find(Name);
    EXPECT_NE(wnd, nullptr) << "the main window has no windowed component " << Utf8(Name);
    return wnd;
}

std::vector<std::wstring> TRoadRun::AnswerMessages(DWORD TimeoutMs)
{
    std::vector<std::wstring> seen;
    WaitUntil(
        [&] {
            for (const TDialog& d : Dialogs(app.Pid())) {
                if (d.Caption != kCaption) continue;
                seen.push_back(d.Text);
                PressButton(d.Wnd, IDOK);
                WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
            }
            return false;
        },
        TimeoutMs);
    return seen;
}

std::vector<std::wstring> TRoadRun::WaitBuildOver(DWORD TimeoutMs)
{
    HWND start = Control(L"btnStart");
    std::vector<std::wstring> seen;
    ULONGLONG quietSince = ::GetTickCount64();
    WaitUntil(
        [&] {
            for (const TDialog& d : Dialogs(app.Pid())) {
                if (d.Caption != kCaption) continue;
                seen.push_back(d.Text);
                static int shots = 0;
                Screenshot(L"message-" + std::to_wstring(++shots));
                if (!PressButton(d.Wnd, IDOK)) PressButton(d.Wnd, IDYES);
                WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
                quietSince = ::GetTickCount64();
            }
            if (!::IsWindowEnabled(start)) quietSince = ::GetTickCount64();
            return !app.Running() || ::GetTickCount64() - quietSince > 5000;
        },
        TimeoutMs);
    return seen;
}

void TRoadRun::Finish()
{
    if (app.Running()) app.Close(IDYES, 20000);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

// The text after "Key=" in a translation file beside the program (UTF-8).
std::wstring TranslationText(const wchar_t* File, const std::wstring& Key)
{
    std::ifstream in((ProgramFolder() + L"Languages\\" + File).c_str(), std::ios::binary);
    std::string line;
    const std::string head = Utf8(Key) + "=";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (line.compare(0, head.size(), head) != 0) continue;
        const std::string text = line.substr(head.size());
        std::wstring wide(text.size(), L'\0');
        wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                                    wide.data(), static_cast<int>(wide.size()))));
        return wide;
    }
    return {};
}

}  // namespace e2e
