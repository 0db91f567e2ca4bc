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

// Saving writes the exact bytes (UTF-8, no byte-order mark, CR LF, line
// breaks as "^"), and loading gives back every row with one extra empty
// sub-item; a "^" typed into a title comes back as a line break.
TEST(AlbumListFile, SaveWritesExactBytesAndLoadRestoresRows)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"list.alb");
    std::vector<TAlbumRow> rows = {
        // Before a build: the rotation, three empty fields, title, description.
        Row(L"C:\\Bilder\\a.jpg", {L"0", L"", L"", L"", L"a.jpg", L"two\r\nlines"}),
        // After a build; the title holds letters outside any ANSI code page
        // (a CJK ideograph and a character outside the basic plane).
        Row(L"C:\\Bilder\\\u00DF.tif", {L"90", L"1", L"140", L"105", L"x^y \u4E2D\U0001F600", L""}),
    };
    album::SaveAlbumList(file, rows);

    const std::string expected =
        "C:\\Bilder\\a.jpg|0||||a.jpg|two^lines|\r\n"
        "C:\\Bilder\\\xC3\x9F.tif|90|1|140|105|x^y \xE4\xB8\xAD\xF0\x9F\x98\x80||\r\n";
    EXPECT_EQ(expected, albumtest::ReadBytes(file));

    std::vector<TAlbumRow> loaded;
    album::LoadAlbumList(file, loaded);
    ExpectRows({Row(L"C:\\Bilder\\a.jpg", {L"0", L"", L"", L"", L"a.jpg", L"two\r\nlines", L""}),
                Row(L"C:\\Bilder\\\u00DF.tif", {L"90", L"1", L"140", L"105", L"x\r\ny \u4E2D\U0001F600", L"", L""})},
               loaded);

    // A loaded row is saved again with its extra empty field.
    album::SaveAlbumList(file, loaded);
    const std::string firstLine = "C:\\Bilder\\a.jpg|0||||a.jpg|two^lines||\r\n";
    EXPECT_EQ(firstLine, albumtest::ReadBytes(file).substr(0, firstLine.size()));
}

// Line conversion as a table: "|" inside a field is not escaped and splits
// it on reading; lone CR or LF are written as "^" too, so a row never spans
// two lines.
TEST(AlbumListFile, LineConversion)
{
    struct Case {
        TAlbumRow row;
        std::wstring line;
        std::vector<std::wstring> readBack;
    };
    const Case cases[] = {
        {Row(L"p", {}), L"p|", {L""}},
        {Row(L"p", {L"a|b", L"c"}), L"p|a|b|c|", {L"a", L"b", L"c", L""}},
        {Row(L"p", {L"1\n2\r3\r\n4\n\r5"}), L"p|1^2^3^4^^5|", {L"1\r\n2\r\n3\r\n4\r\n\r\n5", L""}},
        {Row(L"p", {L"^", L""}), L"p|^||", {L"\r\n", L"", L""}},
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
    // An empty path before the first "|" still makes a row.
    ASSERT_TRUE(album::AlbumRowFromLine(L"|x|", untouched));
    EXPECT_EQ(L"", untouched.Path);
    EXPECT_EQ((std::vector<std::wstring>{L"x", L""}), untouched.SubItems);
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
