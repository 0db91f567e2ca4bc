#include "app/AlbumListFile.h"
#include "app/untReport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "support/TestSupport.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "classlib/TextFile.h"

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
        // Its table rows begin with "|": no row; its prose has one "|".
        {L"README.md", "# Title\r\n\r\n| command | what |\r\n| --- | --- |\r\n", 0},
        {L"prose.md", "# Title\r\n\r\nA line, `path|rotation|title|`.\r\n", 3},
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
    // A picture (its bytes hold a "|" in the first lines) and a list file
    // of random bytes.
    for (const std::wstring& file : {albumtest::Fixture(L"album", L"camera-grey.jpg"),
                                     testsupport::FixtureDir(L"e2e") + L"\\damaged.alb"}) {
        std::vector<TAlbumRow> rows;
        EXPECT_THROW(album::LoadAlbumList(file, rows), album::EAlbumListFormat) << classlib::WideToUtf8(file);
        EXPECT_TRUE(rows.empty());
    }
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

namespace {

std::vector<std::wstring> FilesIn(const std::wstring& Folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((Folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wstring(fd.cFileName) != L"." && std::wstring(fd.cFileName) != L"..") names.push_back(fd.cFileName);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return names;
}

}  // namespace

// A save that fails part-way (a full disk after a few bytes, in the first
// block, after several blocks) leaves the list saved before byte for byte
// and no other file beside it; the error names the file and the system's
// reason. A list that did not exist stays missing.
TEST(AlbumListFile, FailedSaveLeavesTheOldListWhole)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"list.alb");
    const std::string old = "Velmo Morvane album list 2\r\nC:\\old.jpg|0||||old|text|\r\n";
    std::vector<TAlbumRow> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back(Row(L"C:\\Pictures\\photo " + std::to_wstring(i) + L".jpg",
                           {L"0", L"", L"", L"", L"A title long enough to be cut", L"desc"}));
    struct Restore {
        ~Restore() { classlib::TTextFile::DiskSpaceForTests = nullptr; }
    } restore;
    for (const std::uint64_t space : {std::uint64_t(0), std::uint64_t(40), std::uint64_t(150000)}) {
        SCOPED_TRACE(space);
        albumtest::WriteBytes(file, old);
        classlib::TTextFile::DiskSpaceForTests = [space](const std::wstring&) { return space; };
        try {
            album::SaveAlbumList(file, rows);
            ADD_FAILURE() << "the save reported success";
        } catch (const classlib::EInOutError& e) {
            EXPECT_NE(e.Message().find(L"\"" + file + L"\""), std::wstring::npos) << classlib::WideToUtf8(e.Message());
            EXPECT_NE(e.Message().find(classlib::SysErrorMessage(ERROR_DISK_FULL)), std::wstring::npos)
                << classlib::WideToUtf8(e.Message());
        }
        classlib::TTextFile::DiskSpaceForTests = nullptr;
        EXPECT_EQ(old, albumtest::ReadBytes(file));
        EXPECT_EQ((std::vector<std::wstring>{L"list.alb"}), FilesIn(dir.Path()));
    }
    const std::wstring fresh = dir.File(L"new.alb");
    classlib::TTextFile::DiskSpaceForTests = [](const std::wstring&) { return std::uint64_t(10); };
    EXPECT_THROW(album::SaveAlbumList(fresh, rows), classlib::EInOutError);
    classlib::TTextFile::DiskSpaceForTests = nullptr;
    EXPECT_EQ((std::vector<std::wstring>{L"list.alb"}), FilesIn(dir.Path()));
    // With room, the same save replaces the old list whole.
    album::SaveAlbumList(file, rows);
    std::vector<TAlbumRow> loaded;
    album::LoadAlbumList(file, loaded);
    ExpectRows(rows, loaded);
}

// A file without the format line, edited by hand: relative paths (to the
// list's folder) and "/" are paths, a line that begins with "|" is no row,
// an empty rotation reads as no rotation; the rows the file describes all
// come in, in order.
TEST(AlbumListFile, HandEditedOldFileKeepsItsRows)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"old.alb");
    albumtest::WriteBytes(file,
                          "pics/a.jpg|0||||A|x|\r\n"
                          "|0||||header line|\r\n"
                          "..\\other\\b.png|90||||B||\r\n"
                          "C:/Fotos/c.jpg||||||\r\n"
                          "\\\\server\\share\\d.jpg|270|\r\n");
    const std::wstring parent = classlib::ExtractFilePath(classlib::ExcludeTrailingPathDelimiter(dir.Path()));
    std::vector<TAlbumRow> rows;
    album::LoadAlbumList(file, rows);
    ExpectRows({Row(dir.Path() + L"\\pics\\a.jpg", {L"0", L"", L"", L"", L"A", L"x", L""}),
                Row(parent + L"other\\b.png", {L"90", L"", L"", L"", L"B", L"", L""}),
                Row(L"C:\\Fotos\\c.jpg", {L"", L"", L"", L"", L"", L""}),
                Row(L"\\\\server\\share\\d.jpg", {L"270", L""})},
               rows);
}

// Line ends and encodings: a lone CR ends a line as CR LF and LF do; a list
// in UTF-16 with a byte-order mark (either order) or without one reads as
// the same list in UTF-8; a format line of another version is refused,
// naming the version.
TEST(AlbumListFile, LineEndsEncodingsAndVersions)
{
    testsupport::TempDir dir;
    const std::wstring text = L"Velmo Morvane album list 2\rC:\\a.jpg|0||||\u00C4 title||\r\nC:\\b.jpg|90||||b||\nC:\\c.jpg|180||||c||";
    const std::vector<TAlbumRow> expected = {Row(L"C:\\a.jpg", {L"0", L"", L"", L"", L"\u00C4 title", L""}),
                                             Row(L"C:\\b.jpg", {L"90", L"", L"", L"", L"b", L""}),
                                             Row(L"C:\\c.jpg", {L"180", L"", L"", L"", L"c", L""})};
    const auto utf16 = [&](const char* Mark, bool BigEndian) {
        std::string bytes = Mark;
        for (wchar_t c : text) {
            const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            bytes += BigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"utf-8", classlib::WideToUtf8(text)},
        {"utf-8 with mark", "\xEF\xBB\xBF" + classlib::WideToUtf8(text)},
        {"utf-16 le", utf16("\xFF\xFE", false)},
        {"utf-16 be", utf16("\xFE\xFF", true)},
        {"utf-16 le without mark", utf16("", false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring file = dir.File(L"list.alb");
        albumtest::WriteBytes(file, c.bytes);
        std::vector<TAlbumRow> rows;
        album::LoadAlbumList(file, rows);
        ExpectRows(expected, rows);
    }

    for (const char* version : {"3", "1", "2.1"}) {
        SCOPED_TRACE(version);
        const std::wstring file = dir.File(L"future.alb");
        albumtest::WriteBytes(file, std::string("Velmo Morvane album list ") + version + "\r\nC:\\a.jpg|0||||a||\r\n");
        std::vector<TAlbumRow> rows;
        try {
            album::LoadAlbumList(file, rows);
            ADD_FAILURE() << "read a list of another version";
        } catch (const album::EAlbumListVersion& e) {
            EXPECT_EQ(classlib::Utf8ToWide(version), e.Version);
            EXPECT_EQ(file, e.FileName);
        }
        EXPECT_TRUE(rows.empty());
    }
}

// The missing pictures of a list, each once, and their message text capped
// with "and N more".
TEST(AlbumListFile, MissingPicturesAreNamedOnce)
{
    testsupport::TempDir dir;
    const std::wstring here = dir.File(L"here.jpg");
    albumtest::WriteBytes(here, "x");
    album::TMissingPictures missing;
    for (const std::wstring& path : {here, dir.File(L"gone.jpg"), dir.Path(), dir.File(L"GONE.jpg"),
                                     dir.File(L"other.jpg"), dir.File(L"gone.jpg")})
        missing.Check(Row(path, {L"0"}));
    EXPECT_EQ((std::vector<std::wstring>{dir.File(L"gone.jpg"), dir.Path(), dir.File(L"other.jpg")}), missing.Paths());

    // The report names each file once and counts what passes the screen's worth.
    std::vector<std::wstring> names = {L"a", L"b", L"a", L"c"};
    EXPECT_EQ(L"Gone:\r\na\r\nb\r\nc", album::FileReportText(L"Gone:", names, L"and %n1 more"));
    for (int i = 0; i < 20; ++i) names.push_back(L"n" + std::to_wstring(i));
    const std::wstring text = album::FileReportText(L"Gone:", names, L"and %n1 more");
    EXPECT_NE(std::wstring::npos, text.find(L"\r\nn11\r\nand 8 more")) << text;
    EXPECT_EQ(std::wstring::npos, text.find(L"n12"));
}
