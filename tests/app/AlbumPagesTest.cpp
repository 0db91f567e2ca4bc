#include "app/AlbumPages.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "FormTestSupport.h"
#include "app/untAbout.h"
#include "support/TestSupport.h"
#include "classlib/Exceptions.h"
#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"
#include "classlib/TextConv.h"

using album::TAlbumPageOptions;
using album::TAlbumPages;
using album::TAlbumRow;

namespace {

TAlbumRow Row(std::wstring Path, bool Checked, std::vector<std::wstring> SubItems)
{
    TAlbumRow row;
    row.Path = std::move(Path);
    row.Checked = Checked;
    row.SubItems = std::move(SubItems);
    return row;
}

// Rows holding Count checked rows, every third row (index 1, 4, ...) left
// unchecked as a failed image; the last row is a checked one.
std::vector<TAlbumRow> Rows(int Count)
{
    std::vector<TAlbumRow> rows;
    int checked = 0;
    for (int i = 0; checked < Count; ++i) {
        bool on = i % 3 != 1;
        rows.push_back(Row(L"C:\\p\\img" + std::to_wstring(i) + L".png", on, {L"0", L"1", L"140", L"105", L"t", L"d"}));
        checked += on;
    }
    return rows;
}

// The table structure of a page: "[" for a row start, "c" for a cell, "]"
// for a row end, read from the lines of the thumbnail table.
std::string Structure(const std::wstring& Page)
{
    std::string shape;
    std::wistringstream in(Page);
    std::wstring line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.starts_with(L"<table align=\"center\" cellspacing")) inTable = true;
        if (line == L"</table>") inTable = false;
        if (!inTable) continue;
        if (line == L"  <tr>") shape += '[';
        if (line == L"    <td>") shape += 'c';
        if (line == L"  </tr>") shape += ']';
    }
    return shape;
}

}  // namespace

// The two pages of a small album (2 x 1 thumbnails, one failed row between
// them) match, byte for byte, the pages typed out by hand in the fixtures:
// UTF-8 album name and titles, CR LF everywhere, a description line break
// kept inside its attribute.
TEST(AlbumPages, WritesTwoPagesByteExact)
{
    TAlbumPageOptions options;
    options.TxtCol = 0x0A0B0C;
    options.ColumnsNr = 2;
    options.RowsNr = 1;
    options.S_indx = L"$p of $t";
    std::vector<TAlbumRow> rows = {
        Row(L"C:\\Photos\\beach.tif", true, {L"90", L"1", L"140", L"105", L"Strand \u03A9mega", L"Sun"}),
        Row(L"C:\\Photos\\broken.png", false, {L"0", L"", L"", L"", L"broken.png", L""}),
        Row(L"C:\\Photos\\Dune.JPEG", true, {L"0", L"2", L"105", L"140", L"Dune", L"two\r\nlines"}),
        Row(L"D:\\x\\last.bmp", true,
            {L"0", L"3", L"140", L"93", L"\u041F\u043E\u0441\u043B\u0435\u0434\u043D\u0438\u0439", L""}),
    };
    testsupport::TempDir dir;
    TAlbumPages pages(options, rows);
    ASSERT_EQ(2, pages.WritePages(dir.Path() + L"\\", L"Ferien \u00C5land \u2013 \u041F\u0440\u0438\u0432\u0435\u0442", 3));

    const std::wstring fixtures = testsupport::FixtureDir(L"album");
    std::string expected1 = albumtest::ReadBytes(fixtures + L"\\expected-index.html");
    std::string expected2 = albumtest::ReadBytes(fixtures + L"\\expected-index2.html");
    ASSERT_FALSE(expected1.empty());
    ASSERT_FALSE(expected2.empty());
    EXPECT_EQ(expected1, albumtest::ReadBytes(dir.File(L"index.html")));
    EXPECT_EQ(expected2, albumtest::ReadBytes(dir.File(L"index2.html")));
    EXPECT_FALSE(albumtest::FileExists(dir.File(L"index3.html")));
}

TEST(AlbumPages, ColorToHTMLColor)
{
    EXPECT_EQ(L"#0080C0", album::ColorToHTMLColor(0xC08000));
    EXPECT_EQ(L"#000000", album::ColorToHTMLColor(0));
    EXPECT_EQ(L"#0C0B0A", album::ColorToHTMLColor(0x0A0B0C));
    EXPECT_EQ(L"#FFFFFF", album::ColorToHTMLColor(0xFFFFFF));
    // A system colour is written as its current RGB value.
    DWORD face = ::GetSysColor(COLOR_BTNFACE);
    wchar_t expected[8];
    swprintf(expected, 8, L"#%02X%02X%02X", GetRValue(face), GetGValue(face), GetBValue(face));
    EXPECT_EQ(expected, album::ColorToHTMLColor(classlib::clBtnFace));
}

// Navigation of page 1, 2 and 3 of 3: targets of the enabled cells and the
// disabled pictures; the label template is filled in case-sensitively.
TEST(AlbumPages, NavbarLinks)
{
    std::vector<TAlbumRow> none;
    TAlbumPages pages(TAlbumPageOptions(), none);
    struct Case {
        int page;
        const wchar_t* cells[4];
    };
    const Case cases[] = {
        {1,
         {L"<td><img src=\"first_d.gif\"", L"<td><img src=\"prev_d.gif\"",
          L"<td><a href=\"index2.html\"><img src=\"next.gif\"", L"<td><a href=\"index3.html\"><img src=\"last.gif\""}},
        {2,
         {L"<td><a href=\"index.html\"><img src=\"first.gif\"", L"<td><a href=\"index.html\"><img src=\"prev.gif\"",
          L"<td><a href=\"index3.html\"><img src=\"next.gif\"", L"<td><a href=\"index3.html\"><img src=\"last.gif\""}},
        {3,
         {L"<td><a href=\"index.html\"><img src=\"first.gif\"", L"<td><a href=\"index2.html\"><img src=\"prev.gif\"",
          L"<td><img src=\"next_d.gif\"", L"<td><img src=\"last_d.gif\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        std::wstring bar = pages.Navbar(c.page, 3, L"Index $p of $t", L"index");
        size_t at = 0;
        for (const wchar_t* cell : c.cells) {
            size_t found = bar.find(cell, at);
            ASSERT_NE(std::wstring::npos, found) << classlib::WideToUtf8(cell);
            at = found + 1;
        }
    }
    EXPECT_NE(std::wstring::npos,
              pages.Navbar(2, 3, L"Index $p of $t", L"index").find(L"<font size=\"4\">Index 2 of 3</font>"));
    EXPECT_NE(std::wstring::npos,
              pages.Navbar(2, 3, L"Album $P $T", L"index").find(L"<font size=\"4\">Album $P $T</font>"));
}

// How thumbnails fall into pages and table rows: every row of cells is
// closed, also a short last one; unchecked rows are skipped; a grid whose
// product does not fit 16 bits still pages correctly.
TEST(AlbumPages, PagesAndRows)
{
    struct Case {
        int images, columns, rows;
        std::vector<std::string> shapes;  // one per page
    };
    const Case cases[] = {
        {7, 6, 4, {"[cccccc][c]"}},
        {24, 6, 4, {"[cccccc][cccccc][cccccc][cccccc]"}},
        {25, 6, 4, {"[cccccc][cccccc][cccccc][cccccc]", "[c]"}},
        {5, 2, 1, {"[cc]", "[cc]", "[c]"}},
        {3, 1, 2, {"[c][c]", "[c]"}},
        {10, 256, 256, {"[cccccccccc]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.images << " images " << c.columns << "x" << c.rows);
        TAlbumPageOptions options;
        options.ColumnsNr = c.columns;
        options.RowsNr = c.rows;
        std::vector<TAlbumRow> rows = Rows(c.images);
        TAlbumPages pages(options, rows);
        int count = pages.PageCount(c.images);
        ASSERT_EQ(int(c.shapes.size()), count);
        size_t next = 0;
        for (int page = 1; page <= count; ++page)
            EXPECT_EQ(c.shapes[page - 1], Structure(pages.PageText(page, count, L"A", c.images, next)));
        EXPECT_EQ(rows.size(), next);
    }
}

// A row taken from a hand-edited list with fewer sub-items gives empty
// attributes; a grid without columns or rows refuses to lay out images but
// writes no page for an empty album.
TEST(AlbumPages, FaultyInput)
{
    std::vector<TAlbumRow> rows = {Row(L"x.gif", true, {L"0"})};
    TAlbumPageOptions options;
    TAlbumPages pages(options, rows);
    std::wstring cell = pages.InsertImageHTML(0);
    EXPECT_NE(std::wstring::npos, cell.find(L"<img src=\"Thumbnails/tn_x.jpg\" width=\"\" height=\"\" border=\"0\" "
                                            L"alt=\"\" title=\"\">"));
    EXPECT_THROW(pages.InsertImageHTML(1), classlib::EListError);

    testsupport::TempDir dir;
    for (int columns : {0, -1}) {
        options.ColumnsNr = columns;
        TAlbumPages bad(options, rows);
        EXPECT_THROW(bad.PageCount(1), classlib::EInvalidArgument);
        EXPECT_EQ(0, bad.WritePages(dir.Path() + L"\\", L"A", 0));
    }
    options.ColumnsNr = 6;
    options.RowsNr = 0;
    EXPECT_THROW(TAlbumPages(options, rows).WritePages(dir.Path() + L"\\", L"A", 1), classlib::EInvalidArgument);
    EXPECT_FALSE(albumtest::FileExists(dir.File(L"index.html")));
}

namespace {

// How often each character that makes markup occurs in Text.
std::string MarkupCounts(const std::wstring& Text)
{
    std::string counts;
    for (wchar_t c : {L'<', L'>', L'"', L'\''})
        counts += std::to_string(std::count(Text.begin(), Text.end(), c)) + " ";
    return counts;
}

}  // namespace

// Whatever the user typed or named shows on the page as typed: in the
// page's title and heading (album name), the page label, a thumbnail's
// description and title attributes and its size attributes (from a list
// file). The hostile text adds no markup to the page at all: the page
// holds as many markup characters as the page of a plain text.
TEST(AlbumPages, UserTextIsEscapedInEveryPlace)
{
    struct Case {
        const wchar_t* typed;
        const wchar_t* written;
    };
    const Case cases[] = {
        {L"Rocket <b>bold?</b> & \"quotes\"", L"Rocket &lt;b&gt;bold?&lt;/b&gt; &amp; &quot;quotes&quot;"},
        {L"x\" onmouseover=\"alert(1)", L"x&quot; onmouseover=&quot;alert(1)"},
        {L"x' onload='alert(1)", L"x&#39; onload=&#39;alert(1)"},
        {L"</title><script>alert(1)</script>", L"&lt;/title&gt;&lt;script&gt;alert(1)&lt;/script&gt;"},
        {L"&amp; stays &lt;literal&gt;", L"&amp;amp; stays &amp;lt;literal&amp;gt;"},
        {L"two\r\nlines <i>", L"two\r\nlines &lt;i&gt;"},
        {L"Strand \u03A9mega", L"Strand \u03A9mega"},
    };
    const auto page = [](const std::wstring& Text) {
        TAlbumPageOptions options;
        options.S_indx = Text + L" $p/$t";
        std::vector<TAlbumRow> rows = {Row(L"C:\\p\\a.png", true, {L"0", L"1", Text, Text, Text, Text})};
        size_t next = 0;
        return TAlbumPages(options, rows).PageText(1, 1, Text, 1, next);
    };
    const std::string plain = MarkupCounts(page(L"x"));
    for (const Case& c : cases) {
        const std::wstring text = page(c.typed);
        const std::wstring w = c.written;
        SCOPED_TRACE(classlib::WideToUtf8(c.typed));
        EXPECT_EQ(w, album::HTMLEscape(c.typed));
        EXPECT_NE(std::wstring::npos, text.find(L"<title>Velmo HTML Album - " + w + L"</title>"));
        EXPECT_NE(std::wstring::npos, text.find(L"<font size=\"6\">" + w + L"</font>"));
        EXPECT_NE(std::wstring::npos, text.find(L"<font size=\"4\">" + w + L" 1/1</font>"));
        EXPECT_NE(std::wstring::npos,
                  text.find(L"width=\"" + w + L"\" height=\"" + w + L"\" border=\"0\" alt=\"" + w + L"\" title=\"" +
                            w + L"\">"));
        EXPECT_EQ(plain, MarkupCounts(text)) << "markup characters of a plain page and of this one";
    }
}

// A file name reaches its picture from the page's links: characters that
// end or change a link's path ("#", "?", "%", spaces, quotes) and
// non-ASCII letters are percent-encoded from UTF-8.
TEST(AlbumPages, FileNamesAreEncodedInLinks)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* link;
    };
    const Case cases[] = {
        {L"C:\\p\\plain-name_1.~x.png", L"plain-name_1.~x.jpg"},
        {L"C:\\p\\sun & sea #2.png", L"sun%20%26%20sea%20%232.jpg"},
        {L"C:\\p\\100%41 it's (x);=.tif", L"100%2541%20it%27s%20%28x%29%3B%3D.jpg"},
        {L"C:\\p\\\u00C5land \u0424.jpg", L"%C3%85land%20%D0%A4.jpg"},
        {L"C:\\p\\x\" onclick=\"alert(1).jpg", L"x%22%20onclick%3D%22alert%281%29.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(classlib::WideToUtf8(c.path));
        std::vector<TAlbumRow> rows = {Row(c.path, true, {L"0", L"1", L"140", L"105", L"t", L"d"})};
        const std::wstring cell = TAlbumPages(TAlbumPageOptions(), rows).InsertImageHTML(0);
        const std::wstring link = c.link;
        EXPECT_NE(std::wstring::npos, cell.find(L"<a class=\"viewer\" href=\"Images/" + link +
                                                L"\" onClick=\"return vw.expand(this)\"><img src=\"Thumbnails/tn_" +
                                                link + L"\" width=\"140\""))
            << classlib::WideToUtf8(cell);
    }
}

// The footer of every page and the about box point to one product page,
// under a domain reserved for examples; so does the support address.
TEST(AlbumPages, FooterAndAboutBoxShareTheProductPage)
{
    // The host of a web address or a mail address is example.com/.org/.net
    // or lies below one of them.
    const auto reserved = [](const std::wstring& Address) {
        size_t from = Address.find(L"://");
        from = from != std::wstring::npos ? from + 3 : Address.find(L'@') + 1;
        const std::wstring host = Address.substr(from, Address.find(L'/', from) - from);
        for (const wchar_t* domain : {L"example.com", L"example.org", L"example.net"})
            if (host == domain || host.ends_with(std::wstring(L".") + domain)) return true;
        return false;
    };
    std::vector<TAlbumRow> none;
    const std::wstring footer = TAlbumPages(TAlbumPageOptions(), none).Footer();
    const size_t start = footer.find(L"<a href=\"");
    ASSERT_NE(std::wstring::npos, start);
    const size_t from = start + 9;
    const std::wstring link = footer.substr(from, footer.find(L'"', from) - from);
    EXPECT_TRUE(reserved(link)) << classlib::WideToUtf8(link);

    formtest::TAppScope scope;
    album::TfrmAbout about(nullptr);
    EXPECT_EQ(link, about.L4->GetCaption());
    EXPECT_TRUE(reserved(about.L6->GetCaption())) << classlib::WideToUtf8(about.L6->GetCaption());
}
