// The album folder: the rules an album name must keep, and the staged
// build's swap, which must leave either the previous album or the new one.
#include "app/AlbumFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/AlbumTestFiles.h"
#include "classlib/Exceptions.h"
#include "classlib/TextConv.h"
#include "support/TestSupport.h"

namespace {

using album::CheckAlbumName;
using album::TAlbumNameRule;
using albumtest::FileExists;
using albumtest::ReadBytes;
using albumtest::WriteBytes;

TEST(AlbumName, WindowsRules)
{
    struct TCase {
        const wchar_t* Name;
        TAlbumNameRule Rule;
    };
    const TCase cases[] = {
        {L"Holiday", TAlbumNameRule::Valid},
        {L"Trip v1.2 - day one", TAlbumNameRule::Valid},
        {L".hidden start", TAlbumNameRule::Valid},
        {L"Console", TAlbumNameRule::Valid},
        {L"COM10", TAlbumNameRule::Valid},
        {L"LPT", TAlbumNameRule::Valid},
        {L"NULL", TAlbumNameRule::Valid},
        {L"\u0424\u0435\u0440\u043C\u0430 \u00C5land", TAlbumNameRule::Valid},
        {L"", TAlbumNameRule::Empty},
        {L"Trip: PartOne", TAlbumNameRule::Characters},
        {L"A*D?E\"F<G>H|I:J", TAlbumNameRule::Characters},
        {L"a/b", TAlbumNameRule::Characters},
        {L"a\\b", TAlbumNameRule::Characters},
        {L"tab\there", TAlbumNameRule::Characters},
        {L"line\r\nbreak", TAlbumNameRule::Characters},
        {L".", TAlbumNameRule::DotName},
        {L"..", TAlbumNameRule::DotName},
        {L"...", TAlbumNameRule::TrailingDot},
        {L"Summer.", TAlbumNameRule::TrailingDot},
        {L"Summer ", TAlbumNameRule::TrailingDot},
        {L"Summer . .", TAlbumNameRule::TrailingDot},
        {L"CON", TAlbumNameRule::DeviceName},
        {L"con", TAlbumNameRule::DeviceName},
        {L"Prn", TAlbumNameRule::DeviceName},
        {L"AUX", TAlbumNameRule::DeviceName},
        {L"nul.txt", TAlbumNameRule::DeviceName},
        {L"NUL .album", TAlbumNameRule::DeviceName},
        {L"COM1", TAlbumNameRule::DeviceName},
        {L"com9.jpg", TAlbumNameRule::DeviceName},
        {L"COM0", TAlbumNameRule::DeviceName},
        {L"LPT1", TAlbumNameRule::DeviceName},
        {L"lpt\u00B2", TAlbumNameRule::DeviceName},
        {L"CONIN$", TAlbumNameRule::DeviceName},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(CheckAlbumName(c.Name), c.Rule) << testing::PrintToString(std::wstring(c.Name));
    // Every refusal has its message.
    for (TAlbumNameRule rule : {TAlbumNameRule::Empty, TAlbumNameRule::Characters, TAlbumNameRule::DotName,
                                TAlbumNameRule::TrailingDot, TAlbumNameRule::DeviceName})
        EXPECT_NE(std::wstring(album::AlbumNameRuleKey(rule)), L"");
}

// A swap that fails half-way (a file of the previous album is held open, so
// it cannot be moved) puts back what it moved: the previous album stays
// whole and the new one stays out; once the file is free the swap goes
// through. The user's own file stays throughout.
TEST(AlbumStaging, FailedSwapLeavesThePreviousAlbum)
{
    testsupport::TempDir out;
    const std::wstring album = out.File(L"Album1") + L"\\";
    ::CreateDirectoryW(album.c_str(), nullptr);
    ::CreateDirectoryW((album + L"Images").c_str(), nullptr);
    WriteBytes(album + L"index.html", "<a href=\"Images/old.jpg\">old page</a>");
    WriteBytes(album + L"index2.html", "old page 2");
    WriteBytes(album + L"Images\\old.jpg", "old image");
    WriteBytes(album + L"notes.txt", "the user's notes");

    album::TAlbumStaging staging(album);
    EXPECT_TRUE(staging.HasAlbum());
    ASSERT_EQ(staging.Create(), album::TStagingState::Ready);
    const std::wstring work = staging.WorkPath();
    ::CreateDirectoryW((work + L"Images").c_str(), nullptr);
    WriteBytes(work + L"index.html", "new page");
    WriteBytes(work + L"Images\\new.jpg", "new image");

    HANDLE held = ::CreateFileW((album + L"index2.html").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(staging.Publish(), classlib::EInOutError);
    ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(album + L"index.html"), "<a href=\"Images/old.jpg\">old page</a>");
    EXPECT_EQ(ReadBytes(album + L"index2.html"), "old page 2");
    EXPECT_EQ(ReadBytes(album + L"Images\\old.jpg"), "old image");
    EXPECT_FALSE(FileExists(album + L"Images\\new.jpg"));
    EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
    EXPECT_EQ(ReadBytes(work + L"index.html"), "new page");

    staging.Publish();
    EXPECT_EQ(ReadBytes(album + L"index.html"), "new page");
    EXPECT_FALSE(FileExists(album + L"index2.html"));
    EXPECT_EQ(ReadBytes(album + L"Images\\new.jpg"), "new image");
    EXPECT_FALSE(FileExists(album + L"Images\\old.jpg"));
    EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-old")));
}

// ---- a swap stopped part-way ----------------------------------------------------

// Every file below Folder with its content, sorted by name.
std::vector<std::pair<std::wstring, std::string>> Contents(const std::wstring& Folder)
{
    std::vector<std::pair<std::wstring, std::string>> files;
    for (const std::wstring& name : album::FilesBelow(Folder)) files.emplace_back(name, ReadBytes(Folder + name));
    std::sort(files.begin(), files.end());
    return files;
}

// Writes one album into the work folder of Staging: a page naming Pictures
// pictures, each file's content telling which build wrote it.
void WriteAlbum(album::TAlbumStaging& Staging, const std::string& Build, int Pictures)
{
    const std::wstring work = Staging.WorkPath();
    ::CreateDirectoryW((work + L"Images").c_str(), nullptr);
    ::CreateDirectoryW((work + L"viewer").c_str(), nullptr);
    WriteBytes(work + L"viewer\\viewer.js", Build + " viewer");
    WriteBytes(work + L"first.gif", Build + " gif");
    std::string page;
    for (int i = 0; i < Pictures; ++i) {
        const std::string name = Build + std::to_string(i) + ".jpg";
        WriteBytes(work + L"Images\\" + classlib::Utf8ToWide(name), Build + " picture");
        page += "<img src=\"Images/" + name + "\">";
    }
    WriteBytes(work + L"index.html", page);
}

// A build killed after any step of putting its album in place (the test's
// stop stands for the kill; step -1: the record is written but no journal)
// leaves a swap that the next build completes: the album folder then holds
// the whole new album, the previous build's files are gone and the user's
// files (beside the pages and inside "Images") are all still there.
TEST(AlbumStaging, SwapStoppedAfterAnyStepIsCompletedByTheNextBuild)
{
    bool finished = false;
    for (int stop = -1; !finished && stop < 100; ++stop) {
        SCOPED_TRACE(stop);
        testsupport::TempDir out;
        const std::wstring album = out.File(L"Album1") + L"\\";
        {
            album::TAlbumStaging first(album);
            ASSERT_EQ(first.Create(), album::TStagingState::Ready);
            WriteAlbum(first, "old", 3);
            first.Publish();
        }
        WriteBytes(album + L"notes.txt", "the user's notes");
        WriteBytes(album + L"Images\\mine.jpg", "the user's picture");
        const auto user = std::vector<std::pair<std::wstring, std::string>>{
            {L"Images\\mine.jpg", "the user's picture"}, {L"notes.txt", "the user's notes"}};

        std::vector<std::pair<std::wstring, std::string>> expected;
        {
            album::TAlbumStaging second(album);
            ASSERT_EQ(second.Create(), album::TStagingState::Ready);
            WriteAlbum(second, "new", 2);
            expected = Contents(second.WorkPath());
            // The lock file is the work folder's own, never published.
            expected.erase(std::remove_if(expected.begin(), expected.end(),
                                          [](const auto& f) { return f.first == L"velmo-build.lock"; }),
                           expected.end());
            album::TAlbumStaging::StopAfterStep = [stop](int Step) { return Step == stop; };
            try {
                second.Publish();
                finished = true;
            } catch (const classlib::EAbort&) {
            }
            album::TAlbumStaging::StopAfterStep = nullptr;
        }
        if (!finished) {
            album::TAlbumStaging next(album);
            ASSERT_EQ(next.Create(), album::TStagingState::Ready);
        }
        expected.insert(expected.end(), user.begin(), user.end());
        std::vector<std::pair<std::wstring, std::string>> found = Contents(album);
        // The record is the build's own; its lines are checked by the
        // rebuild below.
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [](const auto& f) { return f.first == album::kAlbumManifestName; }),
                    found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
        EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
        EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-old")));
        EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-swap")));

        // The record names exactly the new build's files: a third build
        // replaces them and nothing of the user's.
        album::TAlbumStaging third(album);
        ASSERT_EQ(third.Create(), album::TStagingState::Ready);
        WriteAlbum(third, "third", 1);
        third.Publish();
        EXPECT_EQ(ReadBytes(album + L"index.html"), "<img src=\"Images/third0.jpg\">");
        EXPECT_FALSE(FileExists(album + L"Images\\new0.jpg"));
        EXPECT_FALSE(FileExists(album + L"Images\\old0.jpg"));
        EXPECT_EQ(ReadBytes(album + L"Images\\mine.jpg"), "the user's picture");
        EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
    }
    EXPECT_TRUE(finished) << "the swap never ran to its end";
}

// One build at a time: while a build holds the album's work folder a second
// one is told so and touches nothing; after a build is gone (its lock free),
// its finished album is put in place (or kept, when a user's file is in the
// way) and its unfinished work is cleared for the next.
TEST(AlbumStaging, SecondBuildOfOneAlbumIsKeptOut)
{
    testsupport::TempDir out;
    const std::wstring album = out.File(L"Album1") + L"\\";
    auto first = std::make_unique<album::TAlbumStaging>(album);
    ASSERT_EQ(first->Create(), album::TStagingState::Ready);
    WriteBytes(first->WorkPath() + L"index.html", "first build's page");
    {
        album::TAlbumStaging second(album);
        EXPECT_EQ(second.Create(), album::TStagingState::Busy);
        EXPECT_THROW(second.Publish(), classlib::EInOutError);
    }
    EXPECT_EQ(ReadBytes(first->WorkPath() + L"index.html"), "first build's page");
    first->Publish();
    EXPECT_EQ(ReadBytes(album + L"index.html"), "first build's page");
    first.reset();

    // A dead build's finished album (its record written) that a file of the
    // user's keeps out is not removed: the next build says why and leaves it.
    {
        album::TAlbumStaging dead(album);
        ASSERT_EQ(dead.Create(), album::TStagingState::Ready);
        WriteBytes(dead.WorkPath() + L"notes.txt", "the dead build's page");
        album::TAlbumStaging::StopAfterStep = [](int Step) { return Step == -1; };
        EXPECT_THROW(dead.Publish(), classlib::EAbort);
        album::TAlbumStaging::StopAfterStep = nullptr;
    }
    WriteBytes(album + L"notes.txt", "the user's notes");
    {
        album::TAlbumStaging blocked(album);
        EXPECT_THROW(blocked.Create(), classlib::EInOutError);
    }
    EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
    EXPECT_EQ(ReadBytes(out.File(L"Album1.velmo-new\\notes.txt")), "the dead build's page");
    ::DeleteFileW((album + L"notes.txt").c_str());
    {
        album::TAlbumStaging recovered(album);
        ASSERT_EQ(recovered.Create(), album::TStagingState::Ready);
    }
    EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the dead build's page");

    // A dead build's unfinished work (no record yet) is cleared.
    ::CreateDirectoryW(out.File(L"Album1.velmo-new").c_str(), nullptr);
    WriteBytes(out.File(L"Album1.velmo-new\\index.html"), "half a build");
    album::TAlbumStaging next(album);
    ASSERT_EQ(next.Create(), album::TStagingState::Ready);
    EXPECT_FALSE(FileExists(next.WorkPath() + L"index.html"));
    EXPECT_FALSE(FileExists(album + L"index.html"));
    EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the dead build's page");
}

}  // namespace
