// The album folder: the rules an album name must keep, and the staged
// build's swap, which must leave either the previous album or the new one.
#include "app/AlbumFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/AlbumTestFiles.h"
#include "classlib/Exceptions.h"
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
    WriteBytes(album + L"index.html", "old page");
    WriteBytes(album + L"index2.html", "old page 2");
    WriteBytes(album + L"Images\\old.jpg", "old image");
    WriteBytes(album + L"notes.txt", "the user's notes");

    album::TAlbumStaging staging(album);
    EXPECT_TRUE(staging.HasAlbum());
    ASSERT_TRUE(staging.Create());
    const std::wstring work = staging.WorkPath();
    ::CreateDirectoryW((work + L"Images").c_str(), nullptr);
    WriteBytes(work + L"index.html", "new page");
    WriteBytes(work + L"Images\\new.jpg", "new image");

    HANDLE held = ::CreateFileW((album + L"index2.html").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(staging.Publish(), classlib::EInOutError);
    ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(album + L"index.html"), "old page");
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

}  // namespace
