// Builds an album from every JPEG of a folder with the default settings
// (image box 1000, thumbnail box 140, quality 85) through the real album
// build, and prints the build's wall-clock time, the time per photo of each
// phase, the time line of every thread summed per activity, the longest
// stretch between two calls that serve the window's messages, and the
// process's peak memory. scripts/bench.sh runs it beside the peer tool on
// the same photos and prints the ratio. With VELMO_BENCH_TIMELINE set to a
// file name, the last run's time line is written there (one stretch a
// line: thread, activity, start and end in seconds).
//
//   bench_album.exe PHOTO_FOLDER PROGRAM_FOLDER ALBUM_FOLDER [RUNS]
//
// PROGRAM_FOLDER holds "GIFs" and "viewer" (the program's build folder).
// The last line is machine-readable: "album_seconds <best of RUNS>".
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTimer.h"
#include "app/AlbumBuild.h"
#include "app/Settings.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/model/PxStartup.h"

namespace {

double Now()
{
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Answers Yes to the overwrite question and shows nothing; measures the
// longest stretch between two calls that would serve the window's messages
// while the progress bars show.
struct QuietHost : album::TAlbumBuildHost {
    int MessageBox(const std::wstring&, UINT Flags) override { return (Flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }
    void ShowBuildProgress(bool Visible) override
    {
        running = Visible;
        last = Now();
    }
    void ProcessMessages() override
    {
        if (!running) return;
        const double now = Now();
        LongestGap = std::max(LongestGap, now - last);
        last = now;
    }
    void OpenDocument(const std::wstring&) override {}
    double LongestGap = 0;

private:
    bool running = false;
    double last = 0;
};

const char* const kActivityNames[] = {"read",      "decode", "fit",      "rotate",   "encode", "thumbnail",
                                      "write",     "wait-memory", "wait-turn", "messages", "finish"};
constexpr int kActivities = sizeof(kActivityNames) / sizeof(kActivityNames[0]);

// Per thread, the seconds of each activity, and how much of the image
// work's time the thread was busy (working, writing, serving messages).
void PrintTimeline(const album::TAlbumBuildTimes& Times)
{
    const int threads = Times.Workers + 1;
    std::vector<std::vector<double>> sums(static_cast<std::size_t>(threads), std::vector<double>(kActivities, 0.0));
    for (const album::TAlbumBuildSpan& span : Times.Timeline)
        if (span.Thread >= 0 && span.Thread < threads)
            sums[static_cast<std::size_t>(span.Thread)][static_cast<int>(span.Activity)] += span.End - span.Start;
    std::printf("time line (s, last run; image work %.3f s):\n  %-8s", Times.Seconds, "thread");
    for (const char* name : kActivityNames) std::printf(" %9s", name);
    std::printf(" %6s\n", "busy");
    double busyAll = 0;
    for (int t = 0; t < threads; ++t) {
        const std::vector<double>& sum = sums[static_cast<std::size_t>(t)];
        double busy = 0;
        for (int a = 0; a < kActivities; ++a)
            if (a != static_cast<int>(album::TAlbumBuildActivity::WaitMemory) &&
                a != static_cast<int>(album::TAlbumBuildActivity::WaitTurn))
                busy += sum[a];
        if (t > 0) busyAll += busy;
        std::printf("  %-8s", t == 0 ? "window" : ("worker" + std::to_string(t)).c_str());
        for (int a = 0; a < kActivities; ++a) std::printf(" %9.3f", sum[a]);
        std::printf(" %5.0f%%\n", Times.Seconds > 0 ? 100.0 * busy / Times.Seconds : 0.0);
    }
    if (Times.Seconds > 0) std::printf("  workers busy on average: %.2f of %d\n", busyAll / Times.Seconds, Times.Workers);
}

void WriteTimeline(const album::TAlbumBuildTimes& Times, const wchar_t* FileName)
{
    FILE* f = _wfopen(FileName, L"w");
    if (!f) return;
    for (const album::TAlbumBuildSpan& span : Times.Timeline)
        std::fprintf(f, "%d %s %.6f %.6f\n", span.Thread, kActivityNames[static_cast<int>(span.Activity)], span.Start,
                     span.End);
    std::fclose(f);
}

std::vector<std::wstring> JPEGsIn(const std::wstring& Folder)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((Folder + L"\\*.jpg").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(Folder + L"\\" + data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::printf("usage: bench_album PHOTO_FOLDER PROGRAM_FOLDER ALBUM_FOLDER [RUNS]\n");
        return 2;
    }
    const std::wstring photos = argv[1];
    const int runs = argc > 4 ? std::max(1, _wtoi(argv[4])) : 1;
    const std::vector<std::wstring> files = JPEGsIn(photos);
    if (files.empty()) {
        std::printf("no JPEG files in the photo folder\n");
        return 1;
    }
    imaging::PxInstallBuiltInFormats();
    imaging::PxInitialize();

    album::TProgramEnvironment env;
    env.ProgramFile = std::wstring(argv[2]) + L"\\Velmo.exe";
    env.ScreenWidth = 1024;
    env.ScreenHeight = 768;
    album::TSettings settings(album::TSettingsPlaces{}, env);
    settings.SetDefaults();

    album::TAlbumBuildInput input;
    input.Settings = &settings;
    input.AlbumFolder = argv[3];
    input.AlbumName = L"bench";
    input.ProgramFolder = argv[2];

    album::TAlbumBuildTimes times;
    album::TAlbumBuildResult result;
    double longestGap = 0;
    const double best = bench::Seconds(
        [&] {
            std::vector<album::TAlbumRow> rows;
            for (const std::wstring& f : files) {
                album::TAlbumRow row;
                row.Path = f;
                row.SubItems = {L"0", L"", L"", L"", L"", L""};
                rows.push_back(row);
            }
            QuietHost host;
            times = album::TAlbumBuildTimes();
            input.Times = &times;
            result = album::BuildAlbum(input, rows, host);
            longestGap = host.LongestGap;
        },
        runs);

    const double n = static_cast<double>(files.size());
    std::printf("photos %zu, images written %d, pages %d\n", files.size(), result.ImageCount, result.PageCount);
    std::printf("per photo (ms, last run): decode %.1f  fit %.1f  rotate %.1f  encode %.1f  thumbnail %.1f\n",
                times.Decode * 1000 / n, times.Fit * 1000 / n, times.Rotate * 1000 / n, times.Encode * 1000 / n,
                times.Thumbnail * 1000 / n);
    PrintTimeline(times);
    std::printf("longest stretch without serving messages (last run): %.1f ms\n", longestGap * 1000);
    if (const wchar_t* file = _wgetenv(L"VELMO_BENCH_TIMELINE")) WriteTimeline(times, file);
    PROCESS_MEMORY_COUNTERS mem{};
    mem.cb = sizeof(mem);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &mem, sizeof(mem)))
        std::printf("peak memory: working set %.0f MB, private %.0f MB\n", mem.PeakWorkingSetSize / 1048576.0,
                    mem.PeakPagefileUsage / 1048576.0);
    std::printf("album_seconds %.3f\n", best);
    imaging::PxFinalize();
    return result.ImageCount == static_cast<int>(files.size()) ? 0 : 1;
}
