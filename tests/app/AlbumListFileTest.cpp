#include "app/AlbumListFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "support/TestSupport.h"
#include "classlib/Exceptions.h"
#include "classlib/TextConv.h"

using album::TAlbumRow;

namespace {

TAlbumRow Row(std::wstring Path, std::vector<std::wstring> SubItems)
{
    TAlbumRow row;
    row.Path = std::move(Path);
    row.SubItems = std::move(SubItems);
    return row;
}

void ExpectRows(const std::vector<TAlbumRow>& Expected, const std::vector<TAlbumRow>& Actual)
{
    ASSERT_EQ(Expected.size(), Actual.size());
    for (size_t i = 0; i < Expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Expected[i].Path, Actual[i].Path);
        EXPECT_EQ(Expected[i].SubItems, Actual[i].SubItems);
        EXPECT_FALSE(Actual[i].Checked);
    }
}

}  // namespace

// Saving writes the exact bytes (UTF-8, no byte-order mark, CR LF, the
// format line, line breaks as "^", "\", "^" and "|" escaped), and loading
// gives back every row with one extra empty sub-item.
TEST(AlbumListFile, SaveWritesExactBytesAndLoadRestoresRows)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"list.alb");
    std::vector<TAlbumRow> rows = {
        // Before a build: the rotation, three empty fields, title, description.
        Row(L"C:\\Bilder\\a.jpg", {L"0", L"", L"", L"", L"a.jpg", L"line one\r\nline two | pipe"}),
        // After a build; the title holds letters outside any ANSI code page
        // (a CJK ideograph and a character outside the basic plane).
        Row(L"C:\\Bilder\\\u00DF.tif", {L"90", L"1", L"140", L"105", L"x^y \\ \u4E2D\U0001F600", L""}),
    };
    album::SaveAlbumList(file, rows);

    const std::string expected =
        "Velmo Morvane album list 2\r\n"
        "C:\\Bilder\\a.jpg|0||||a.jpg|line one^line two \\p pipe|\r\n"
        "C:\\Bilder\\\xC3\x9F.tif|90|1|140|105|x\\^y \\\\ \xE4\xB8\xAD\xF0\x9F\x98\x80||\r\n";
    EXPECT_EQ(expected, albumtest::ReadBytes(file));

    std::vector<TAlbumRow> loaded;
    album::LoadAlbumList(file, loaded);
    ExpectRows(rows, loaded);

    // A list opened and saved again is the same file: no row grows a field.
    for (int cycle = 0; cycle < 3; ++cycle) {
        album::SaveAlbumList(file, loaded);
        EXPECT_EQ(expected, albumtest::ReadBytes(file)) << cycle;
        loaded.clear();
        album::LoadAlbumList(file, loaded);
    }
    ExpectRows(rows, loaded);
}

// Line conversion as a table: every text a user can type comes back as it
// was typed; lone CR or LF are written as "^" too, so a row never spans two
// lines. A "\" before a character the format does not escape stays a "\".
TEST(AlbumListFile, LineConversion)
{
    struct Case {
        TAlbumRow row;
        std::wstring line;
        std::vector<std::wstring> readBack;
    };
    const Case cases[] = {
        {Row(L"p", {}), L"p|", {}},
        {Row(L"p", {L"a|b", L"c"}), L"p|a\\pb|c|", {L"a|b", L"c"}},
        {Row(L"p", {L"1\n2\r3\r\n4\n\r5"}), L"p|1^2^3^4^^5|", {L"1\r\n2\r\n3\r\n4\r\n\r\n5"}},
        {Row(L"p", {L"^", L""}), L"p|\\^||", {L"^", L""}},
        {Row(L"p", {L"\\", L"\\p\\^\\\\", L"end\\"}), L"p|\\\\|\\\\p\\\\\\^\\\\\\\\|end\\\\|",
         {L"\\", L"\\p\\^\\\\", L"end\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(classlib::WideToUtf8(c.line));
        EXPECT_EQ(c.line, album::AlbumRowToLine(c.row));
        TAlbumRow back;
        ASSERT_TRUE(album::AlbumRowFromLine(c.line, back));
        EXPECT_EQ(c.row.Path, back.Path);
        EXPECT_EQ(c.readBack, back.SubItems);
    }
    TAlbumRow untouched = Row(L"keep", {L"1"});
    EXPECT_FALSE(album::AlbumRowFromLine(L"", untouched));
    EXPECT_FALSE(album::AlbumRowFromLine(L"no separator", untouched));
    EXPECT_EQ(L"keep", untouched.Path);
    // An empty path before the first "|" still parses (and is no valid row).
    ASSERT_TRUE(album::AlbumRowFromLine(L"|x\\q|", untouched));
    EXPECT_EQ(L"", untouched.Path);
    EXPECT_EQ((std::vector<std::wstring>{L"x\\q"}), untouched.SubItems);
    // Text after the last "|" (a hand-edited line) is a sub-item of its own.
    ASSERT_TRUE(album::AlbumRowFromLine(L"p|0|tail", untouched));
    EXPECT_EQ((std::vector<std::wstring>{L"0", L"tail"}), untouched.SubItems);
    // A line of a file without the format line has no escapes: "\" is a
    // plain character and every "^" a line break.
    ASSERT_TRUE(album::AlbumRowFromLine(L"p|a\\pb\\^c|", untouched, false));
    EXPECT_EQ((std::vector<std::wstring>{L"a\\pb\\\r\nc", L""}), untouched.SubItems);
}

// What a row must be to stand in an album list: a full path to a file and a
// rotation; the rest is free text.
TEST(AlbumListFile, ValidRows)
{
    struct Case {
        TAlbumRow row;
        bool valid;
    };
    const std::vector<std::wstring> plain = {L"0", L"", L"", L"", L"t", L"d"};
    const Case cases[] = {
        {Row(L"C:\\a.jpg", plain), true},
        {Row(L"z:\\x y\\\u00DF^(1).jpg", {L"270", L"12", L"140", L"93", L"", L"", L""}), true},
        {Row(L"\\\\server\\share\\a.jpg", {L"90"}), true},
        {Row(L"C:\\a.jpg", {L"180", L"tail\r\nend"}), true},
        {Row(L"", plain), false},
        {Row(L" `scripts/run.sh` ", plain), false},  // a table row of a text file
        {Row(L"a.jpg", plain), false},
        {Row(L"C:a.jpg", plain), false},
        {Row(L"C:\\", plain), false},
        {Row(L"C:\\pics\\", plain), false},
        {Row(L"C:\\pics\\\\a.jpg", plain), false},
        {Row(L"\\\\server\\a.jpg", plain), false},
        {Row(L"\\\\\\share\\a.jpg", plain), false},
        {Row(L"C:\\a?.jpg", plain), false},
        {Row(L"C:\\a:b.jpg", plain), false},
        {Row(L"C:\\a\x01.jpg", plain), false},
        {Row(L"C:\\\xFFFD\xFFFD.jpg", plain), false},  // bytes that are no UTF-8
        {Row(L"C:\\a.jpg", {}), false},
        {Row(L"C:\\a.jpg", {L""}), false},
        {Row(L"C:\\a.jpg", {L"45", L"", L"", L"", L"t", L"d"}), false},
        {Row(L"C:\\a.jpg", {L" 0", L"", L"", L"", L"t", L"d"}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.valid, album::IsValidAlbumRow(c.row)) << classlib::WideToUtf8(album::AlbumRowToLine(c.row));
}

// A file that is not an album list is refused as a whole, naming the first
// line that is no row (0: no row at all), and nothing is appended: a text
// whose table rows hold "|", a picture, an empty file, a list with one
// broken row among good ones.
TEST(AlbumListFile, FilesThatAreNoListAreRefused)
{
    testsupport::TempDir dir;
    struct Case {
        const wchar_t* name;
        std::string bytes;
        int line;
    };
    const Case cases[] = {
        {L"README.md", "# Title\r\n\r\nSome text.\r\n\r\n| command | what |\r\n| --- | --- |\r\n", 5},
        {L"empty.alb", "", 0},
        {L"prose.txt", "no separator\r\nanywhere\r\n", 0},
        {L"broken.alb", "C:\\a.jpg|0||||a|b|\r\nC:\\b.jpg|0||||b|\r\nC:\\c.jpg|sideways||||c|\r\n", 3},
        {L"format-only.alb", "Velmo Morvane album list 2\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(classlib::WideToUtf8(c.name));
        const std::wstring file = dir.File(c.name);
        albumtest::WriteBytes(file, c.bytes);
        std::vector<TAlbumRow> rows = {Row(L"C:\\kept.jpg", {L"0"})};
        try {
            album::LoadAlbumList(file, rows);
            ADD_FAILURE() << "loaded as an album list";
        } catch (const album::EAlbumListFormat& e) {
            EXPECT_EQ(c.line, e.Line);
            EXPECT_EQ(file, e.FileName);
        }
        EXPECT_EQ(1u, rows.size());
    }
    // A picture: its bytes hold a "|" in the first lines.
    std::vector<TAlbumRow> rows;
    EXPECT_THROW(album::LoadAlbumList(albumtest::Fixture(L"album", L"camera-grey.jpg"), rows),
                 album::EAlbumListFormat);
    EXPECT_TRUE(rows.empty());
}

// A file edited by hand: an empty line and a line without "|" make no row,
// an LF-only line end is accepted, and the last line needs neither a final
// "|" nor a line end.
TEST(AlbumListFile, LoadsHandWrittenFile)
{
    std::vector<TAlbumRow> rows = {Row(L"already there", {L"0"})};
    album::LoadAlbumList(testsupport::FixtureDir(L"album") + L"\\handwritten.alb", rows);
    ExpectRows({Row(L"already there", {L"0"}),
                Row(L"C:\\Pics\\a.jpg", {L"0", L"", L"", L"", L"Title A", L"Desc\r\nsecond", L""}),
                Row(L"D:\\\u00DCn\u00EF\\\u00DF.png",
                    {L"90", L"1", L"140", L"105", L"\u0417\u0430\u0433\u043E\u043B\u043E\u0432\u043E\u043A", L"x",
                     L"y", L""}),
                Row(L"E:\\last.gif", {L"180", L"tail\r\nend"})},
               rows);
}

TEST(AlbumListFile, FileErrorsRaise)
{
    testsupport::TempDir dir;
    std::vector<TAlbumRow> rows = {Row(L"a", {L"0"})};
    EXPECT_THROW(album::LoadAlbumList(dir.File(L"missing.alb"), rows), classlib::EInOutError);
    EXPECT_EQ(1u, rows.size());
    EXPECT_THROW(album::SaveAlbumList(dir.File(L"no such folder\\x.alb"), rows), classlib::EInOutError);
}
