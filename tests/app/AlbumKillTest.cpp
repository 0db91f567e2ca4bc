// A build process killed while it puts a 50-photo album in place: this test
// program starts itself as the building child (the disabled test below,
// told what to build through the environment), kills it at a random moment
// once the swap has begun, and checks that the next build finds the whole
// old or the whole new album, with the user's files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "app/AlbumBuild.h"
#include "app/AlbumFolder.h"
#include "app/Settings.h"
#include "imaging/model/PxStartup.h"
#include "support/TestSupport.h"

namespace {

using albumtest::FileExists;
using albumtest::Fixture;
using albumtest::ReadBytes;
using albumtest::WriteBytes;

constexpr int kPhotos = 50;
const wchar_t kChildVariable[] = L"VELMO_KILL_TEST_BUILD";

std::wstring PhotoName(wchar_t Set, int Index)
{
    return std::wstring(1, Set) + (Index < 10 ? L"0" : L"") + std::to_wstring(Index) + L".jpg";
}

struct QuietHost : album::TAlbumBuildHost {
    int MessageBox(const std::wstring&, UINT Flags) override { return (Flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }
    void OpenDocument(const std::wstring&) override {}
};

// The child: builds "Album1" in the album folder from the photos of one
// set. Variable: "<album folder>|<program folder>|<photo folder>|<set>".
TEST(AlbumBuildKill, DISABLED_Child)
{
    wchar_t value[4096] = {};
    ASSERT_NE(::GetEnvironmentVariableW(kChildVariable, value, 4096), 0u);
    std::vector<std::wstring> parts;
    std::wstring rest = value;
    for (std::size_t at; (at = rest.find(L'|')) != std::wstring::npos; rest.erase(0, at + 1))
        parts.push_back(rest.substr(0, at));
    parts.push_back(rest);
    ASSERT_EQ(parts.size(), 4u);

    imaging::PxInitialize();
    album::TProgramEnvironment env;
    env.ProgramFile = parts[1] + L"\\Velmo.exe";
    env.ScreenWidth = 1024;
    env.ScreenHeight = 768;
    album::TSettings settings(album::TSettingsPlaces{}, env);
    settings.SetDefaults();
    settings.ResizeImg = false;
    settings.MaxTh = 10;
    album::TAlbumBuildInput input;
    input.Settings = &settings;
    input.AlbumFolder = parts[0];
    input.AlbumName = L"Album1";
    input.ProgramFolder = parts[1];
    std::vector<album::TAlbumRow> rows;
    for (int i = 0; i < kPhotos; ++i) {
        album::TAlbumRow row;
        row.Path = parts[2] + L"\\" + PhotoName(parts[3][0], i);
        row.SubItems = {L"0", L"", L"", L"", L"", L""};
        rows.push_back(row);
    }
    QuietHost host;
    EXPECT_EQ(album::BuildAlbum(input, rows, host).Outcome, album::TAlbumBuildOutcome::Completed);
    imaging::PxFinalize();
}

// Which set the album folder holds as a whole ('a' or 'b'), after checking
// that every file of it and none of the other set is there; 0 on a failure.
wchar_t WholeAlbum(const std::wstring& Album)
{
    const std::string page = ReadBytes(Album + L"index.html");
    const wchar_t set = page.find("a00.jpg") != std::string::npos ? L'a' : L'b';
    const wchar_t other = set == L'a' ? L'b' : L'a';
    for (int i = 0; i < kPhotos; ++i) {
        const std::wstring name = PhotoName(set, i);
        EXPECT_TRUE(FileExists(Album + L"Images\\" + name)) << testing::PrintToString(name);
        EXPECT_TRUE(FileExists(Album + L"Thumbnails\\tn_" + name)) << testing::PrintToString(name);
        EXPECT_FALSE(FileExists(Album + L"Images\\" + PhotoName(other, i)));
        EXPECT_FALSE(FileExists(Album + L"Thumbnails\\tn_" + PhotoName(other, i)));
    }
    EXPECT_TRUE(FileExists(Album + L"viewer\\viewer.js"));
    EXPECT_TRUE(FileExists(Album + L"last_d.gif"));
    return ::testing::Test::HasFailure() ? 0 : set;
}

// Starts this test program as the building child, told what to build by
// Variable (see the child above).
HANDLE StartChild(const std::wstring& Variable)
{
    ::SetEnvironmentVariableW(kChildVariable, Variable.c_str());
    // A sharded run hands its shard to the child too, which would then run
    // nothing when the child's test falls into another shard.
    const auto value = [](const wchar_t* Name) {
        wchar_t text[32] = {};
        const DWORD n = ::GetEnvironmentVariableW(Name, text, 32);
        return n > 0 && n < 32 ? std::wstring(text, n) : std::wstring();
    };
    const std::wstring shards = value(L"GTEST_TOTAL_SHARDS"), index = value(L"GTEST_SHARD_INDEX");
    ::SetEnvironmentVariableW(L"GTEST_TOTAL_SHARDS", nullptr);
    ::SetEnvironmentVariableW(L"GTEST_SHARD_INDEX", nullptr);
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=AlbumBuildKill.DISABLED_Child --gtest_also_run_disabled_tests";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE null = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                0, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof(start);
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = null;
    start.hStdOutput = null;
    start.hStdError = null;
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                          nullptr, &start, &info);
    ::SetEnvironmentVariableW(kChildVariable, nullptr);
    if (!shards.empty()) ::SetEnvironmentVariableW(L"GTEST_TOTAL_SHARDS", shards.c_str());
    if (!index.empty()) ::SetEnvironmentVariableW(L"GTEST_SHARD_INDEX", index.c_str());
    ::CloseHandle(null);
    if (!started) return nullptr;
    ::CloseHandle(info.hThread);
    return info.hProcess;
}

// Twenty builds, each killed at a random moment after its swap began (some
// run to their end first): after each, the next build's start finds the
// whole previous album or the whole new one, and the user's files.
TEST(AlbumBuildKill, KilledDuringTheSwap)
{
    albumtest::ProgramFolder program;
    testsupport::TempDir photos, out;
    for (const wchar_t* set : {L"a", L"b"}) {
        ::CreateDirectoryW(photos.File(set).c_str(), nullptr);
        for (int i = 0; i < kPhotos; ++i)
            ASSERT_TRUE(::CopyFileW(Fixture(L"io\\jpeg", L"baseline.jpg").c_str(),
                                    (photos.File(set) + L"\\" + PhotoName(set[0], i)).c_str(), FALSE));
    }
    const std::wstring album = out.File(L"Album1\\");
    const std::wstring journal = out.File(L"Album1.velmo-swap");
    const auto variable = [&](wchar_t Set) {
        return out.Path() + L"|" + program.Dir.Path() + L"|" + photos.File(std::wstring(1, Set)) + L"|" + Set;
    };

    HANDLE first = StartChild(variable(L'a'));
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(::WaitForSingleObject(first, 120000), WAIT_OBJECT_0);
    ::CloseHandle(first);
    WriteBytes(album + L"notes.txt", "the user's notes");
    WriteBytes(album + L"Images\\mine.txt", "the user's list");
    ASSERT_EQ(WholeAlbum(album), L'a');

    std::mt19937 random(20261211);
    wchar_t now = L'a';
    int killedMidway = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const wchar_t next = now == L'a' ? L'b' : L'a';
        HANDLE child = StartChild(variable(next));
        ASSERT_NE(child, nullptr);
        // Wait for the swap to begin (or the child to end), then kill it a
        // random time later.
        while (!FileExists(journal) && ::WaitForSingleObject(child, 1) == WAIT_TIMEOUT) {
        }
        ::Sleep(std::uniform_int_distribution<DWORD>(0, 200)(random));
        if (::WaitForSingleObject(child, 0) == WAIT_TIMEOUT) ++killedMidway;
        ::TerminateProcess(child, 9);
        ::WaitForSingleObject(child, INFINITE);
        ::CloseHandle(child);

        {
            album::TAlbumStaging start(album);
            ASSERT_EQ(start.Create(), album::TStagingState::Ready);
        }
        now = WholeAlbum(album);
        ASSERT_NE(now, 0);
        EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
        EXPECT_EQ(ReadBytes(album + L"Images\\mine.txt"), "the user's list");
        EXPECT_FALSE(FileExists(journal));
        EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-old")));
    }
    // Most kills must have hit a running swap, or the test proves little.
    EXPECT_GE(killedMidway, 10);
}

}  // namespace
