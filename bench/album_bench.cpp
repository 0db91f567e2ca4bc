// Builds an album from every JPEG of a folder with the default settings
// (image box 1000, thumbnail box 140, quality 85) through the real album
// build, and prints the build's wall-clock time, the time per photo of each
// phase and the process's peak memory. scripts/bench.sh runs it beside the
// peer tool on the same photos and prints the ratio.
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
#include <string>
#include <vector>

#include "BenchTimer.h"
#include "app/AlbumBuild.h"
#include "app/Settings.h"
#include "imaging/model/PxStartup.h"

namespace {

// Answers Yes to the overwrite question and shows nothing.
struct QuietHost : album::TAlbumBuildHost {
    int MessageBox(const std::wstring&, UINT Flags) override { return (Flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }
    void ProcessMessages() override {}
    void OpenDocument(const std::wstring&) override {}
};

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
        },
        runs);

    const double n = static_cast<double>(files.size());
    std::printf("photos %zu, images written %d, pages %d\n", files.size(), result.ImageCount, result.PageCount);
    std::printf("per photo (ms, last run): decode %.1f  fit %.1f  rotate %.1f  encode %.1f  thumbnail %.1f\n",
                times.Decode * 1000 / n, times.Fit * 1000 / n, times.Rotate * 1000 / n, times.Encode * 1000 / n,
                times.Thumbnail * 1000 / n);
    PROCESS_MEMORY_COUNTERS mem{};
    mem.cb = sizeof(mem);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &mem, sizeof(mem)))
        std::printf("peak memory: working set %.0f MB, private %.0f MB\n", mem.PeakWorkingSetSize / 1048576.0,
                    mem.PeakPagefileUsage / 1048576.0);
    std::printf("album_seconds %.3f\n", best);
    imaging::PxFinalize();
    return result.ImageCount == static_cast<int>(files.size()) ? 0 : 1;
}
