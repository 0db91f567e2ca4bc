#include "app/AlbumPages.h"

#include "app/AlbumNames.h"

#include <cstdio>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "classlib/TextFile.h"

namespace album {

namespace {

const wchar_t kCrLf[] = L"\r\n";

// The lines of the header before the album name; joined by CR LF, the last
// one continues with the name.
const wchar_t* const kHeaderScript[] = {
    L"<html>",
    L"<head>",
    L"<script type=\"text/javascript\">",
    L"function findPath (sname) {",
    L"  var sc = document.getElementsByTagName(\"script\"),",
    L"      sr = new RegExp(\"^(.*/|)(\"+sname+\")([#?]|$)\");",
    L"for (var i=0,scL=sc.length; i<scL; i++) {",
    L"var m = String(sc[i].src).match(sr);",
    L"if (m) {",
    L"if (m[1].match(/^((https?|file)\\:\\/{2,}|\\w:[\\/\\\\])/)) path=m[1];",
    L"if (m[1].indexOf(\"/\")==0) path=m[1];",
    L"b = document.getElementsByTagName(\"base\");",
    L"if (b[0] && b[0].href) path=b[0].href+m[1];",
    L"else path=document.location.pathname.match(/(.*[\\/\\\\])/)[0]+m[1];",
    L"if (path.substring(2,3)==\":\") path=\"\";",
    L"return path;",
    L"}",
    L"}",
    L"return null;",
    L"}",
    L"</script>",
    L"<title>Velmo HTML Album - ",
};

// Lines after the body tag, each ended by CR LF. The viewer script loads
// asynchronously, before or after the settings below run: they go onto the
// viewer's object when it is there already, else onto an object of their
// own, which the viewer takes over when it loads.
const wchar_t* const kHeaderViewer[] = {
    L"<script id=\"dynamic\" type=\"text/javascript\"></script>",
    L"<script type=\"text/javascript\">",
    L"    document.getElementById(\"dynamic\").src=findPath(\"\")+\"viewer/viewer.js\";",
    L"</script>",
    L"<script type=\"text/javascript\">",
    L"    var vw = window.vw || {};",
    L"    vw.graphicsDir =\"viewer/graphics/\";",
    L"    vw.outlineType = \"rounded-white\";",
    L"    vw.numberOfImagesToPreload = 0;",
    L"    vw.showCredits = false;",
    L"    vw.captionEval = \"this.thumb.alt\";",
    L"</script>",
    L"<style type=\"text/css\">",
    L".viewer-caption {",
    L"\tbackground: white;",
    L"       color: black;",
    L"}",
    L"</style>",
    L"<style type=\"text/css\">",
    L".viewer-loading {",
    L"\tdisplay: block;",
    L"\tcolor: black;",
    L"        font-size: 9px;",
    L"\tfont-weight: bold;",
    L"\ttext-transform: uppercase;",
    L"\ttext-decoration: none;",
    L"\tpadding: 3px;",
    L"\tborder: 1px solid white;",
    L"\tbackground-color: white;",
    L"\tpadding-left: 22px;",
    L"\tbackground-image: url(viewer/graphics/loader.white.gif);",
    L"\tbackground-repeat: no-repeat;",
    L"\tbackground-position: 3px 1px;",
    L"}",
    L"</style>",
};

std::wstring Dec(std::int64_t Value) { return classlib::IntToStr(Value); }

bool Unreserved(unsigned char C)
{
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
           C == '_' || C == '~';
}

// One navigation cell: a linked picture when Target is given, else the
// disabled picture.
std::wstring NavCell(bool Enabled, const std::wstring& Href, const wchar_t* Picture, const wchar_t* Alt)
{
    std::wstring alt = std::wstring(L" alt=\"") + Alt + L"\" border=\"0\">";
    if (Enabled)
        return L"    <td><a href=\"" + Href + L"\"><img src=\"" + Picture + L".gif\"" + alt + L"</a></td>";
    return L"    <td><img src=\"" + std::wstring(Picture) + L"_d.gif\"" + alt + L"</td>";
}

}  // namespace

std::wstring HTMLEscape(const std::wstring& Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (wchar_t c : Text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring URLPathSegment(const std::wstring& Name)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (char byte : classlib::WideToUtf8(Name)) {
        const auto c = static_cast<unsigned char>(byte);
        if (Unreserved(c)) {
            out += static_cast<wchar_t>(c);
        } else {
            out += L'%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::wstring ColorToHTMLColor(classlib::TColor Color)
{
    auto rgb = static_cast<std::uint32_t>(classlib::ColorToRGB(Color));
    unsigned red = rgb & 0xFF, green = (rgb >> 8) & 0xFF, blue = (rgb >> 16) & 0xFF;
    wchar_t text[8];
    std::swprintf(text, 8, L"#%02X%02X%02X", red, green, blue);
    return text;
}

TAlbumPages::TAlbumPages(const TAlbumPageOptions& Options, const std::vector<TAlbumRow>& Rows)
    : FOptions(Options), FRows(Rows), FNames(OutputNamesOf(Rows))
{
}

std::wstring TAlbumPages::Header(const std::wstring& AlbumName) const
{
    std::wstring text;
    bool first = true;
    for (const wchar_t* line : kHeaderScript) {
        if (!first) text += kCrLf;
        text += line;
        first = false;
    }
    const std::wstring name = HTMLEscape(AlbumName);
    text += name + L"</title>" + kCrLf;
    text += std::wstring(L"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">") + kCrLf +
            L"</head>" + kCrLf;
    std::wstring link = ColorToHTMLColor(FOptions.FNCol);
    text += L"<body bgcolor=\"" + ColorToHTMLColor(FOptions.BckgrCol) + L"\" text=\"" +
            ColorToHTMLColor(FOptions.TxtCol) + L"\" link=\"" + link + L"\" vlink=\"" + link + L"\" alink=\"" +
            link + L"\">" + kCrLf;
    for (const wchar_t* line : kHeaderViewer) text += std::wstring(line) + kCrLf;
    text += L"<div align=\"center\"><font size=\"6\">" + name + L"</font></div>";
    return text;
}

std::wstring TAlbumPages::Navbar(int Page, int Pages, const std::wstring& Template, const std::wstring& Prefix) const
{
    using classlib::rfReplaceAll;
    std::wstring label = classlib::StringReplace(Template, L"$p", Dec(Page), rfReplaceAll);
    label = HTMLEscape(classlib::StringReplace(label, L"$t", Dec(Pages), rfReplaceAll));

    std::wstring previous = Page == 2 ? std::wstring() : Dec(Page - 1);
    std::wstring text = std::wstring(L"<BR>") + kCrLf + L"<div align=\"center\"><font size=\"4\">" + label +
                        L"</font></div>" + kCrLf + L"<BR>" + kCrLf + L"<div align=\"center\">" + kCrLf;
    text += NavCell(Page > 1, Prefix + L".html", L"first", L"First") + kCrLf;
    text += NavCell(Page > 1, Prefix + previous + L".html", L"prev", L"Previous") + kCrLf;
    text += NavCell(Page < Pages, Prefix + Dec(std::int64_t(Page) + 1) + L".html", L"next", L"Next") + kCrLf;
    text += NavCell(Page < Pages, Prefix + Dec(Pages) + L".html", L"last", L"Last") + kCrLf;
    text += std::wstring(L"</div>") + kCrLf + L"<BR>";
    return text;
}

std::wstring TAlbumPages::InsertImageHTML(std::size_t Index) const
{
    if (Index >= FRows.size()) throw classlib::EListError(L"List index out of bounds (" + Dec(std::int64_t(Index)) + L")");
    const TAlbumRow& row = FRows[Index];
    const std::wstring name = URLPathSegment(FNames[Index]);
    std::wstring size = Dec(FOptions.MaxTh);
    return std::wstring(L"      <table width=\"100%\">") + kCrLf + L"        <tr>" + kCrLf +
           L"          <td width=\"" + size + L"\" height=\"" + size + L"\" bgcolor=\"" +
           ColorToHTMLColor(FOptions.CellCol) + L"\">" + kCrLf +
           L"            <div align=\"center\"><a class=\"viewer\" href=\"Images/" + name +
           L"\" onClick=\"return vw.expand(this)\"><img src=\"Thumbnails/tn_" + name + L"\" width=\"" +
           HTMLEscape(row.SubItem(siThumbWidth)) + L"\" height=\"" + HTMLEscape(row.SubItem(siThumbHeight)) +
           L"\" border=\"0\" alt=\"" + HTMLEscape(row.SubItem(siDescription)) + L"\" title=\"" +
           HTMLEscape(row.SubItem(siTitle)) + L"\"></a></div>" + kCrLf +
           L"          </td>" + kCrLf + L"        </tr>" + kCrLf + L"      </table>";
}

std::wstring TAlbumPages::Footer() const
{
    std::wstring t = ColorToHTMLColor(FOptions.TxtCol);
    return std::wstring(L"<hr>") + kCrLf + L"<table width=\"75%\" border=\"0\" align=\"center\">" + kCrLf +
           L"  <tr>" + kCrLf + L"    <td width=\"98%\" colspan=\"2\">" + kCrLf + L"      <div>" + kCrLf +
           L"        <div align=\"center\"><font size=\"2\" color=\"" + t +
           L"\">This file has been automatically created by</font></div>" + kCrLf + L"      </div>" + kCrLf +
           L"    </td>" + kCrLf + L"  </tr>" + kCrLf + L"  <tr>" + kCrLf + L"    <td colspan=\"2\">" + kCrLf +
           L"      <div align=\"center\"><a href=\"" + kProductWebAddress + L"\"><font color=\"" + t +
           L"\" size=\"2\">GREMBOLT Velmo Morvane</font></a><font color=\"" + t + L"\">.</font></div>" + kCrLf +
           L"    </td>" + kCrLf + L"  </tr>" + kCrLf + L"</table>" + kCrLf + L"</body>" + kCrLf + L"</html>";
}

std::int64_t TAlbumPages::PerPage() const
{
    if (FOptions.ColumnsNr < 1 || FOptions.RowsNr < 1)
        throw classlib::EInvalidArgument(L"Album pages need at least one column and one row (columns " +
                                         Dec(FOptions.ColumnsNr) + L", rows " + Dec(FOptions.RowsNr) + L")");
    return std::int64_t(FOptions.ColumnsNr) * FOptions.RowsNr;
}

int TAlbumPages::PageCount(int ImageCount) const
{
    if (ImageCount <= 0) return 0;
    std::int64_t perPage = PerPage();
    return static_cast<int>(ImageCount / perPage + (ImageCount % perPage != 0 ? 1 : 0));
}

std::wstring TAlbumPages::PageFileName(int Page)
{
    return Page == 1 ? std::wstring(L"index.html") : L"index" + Dec(Page) + L".html";
}

std::wstring TAlbumPages::PageText(int Page, int Pages, const std::wstring& AlbumName, int ImageCount,
                                   std::size_t& NextRow) const
{
    const std::int64_t columns = FOptions.ColumnsNr;
    const std::int64_t perPage = PerPage();
    const std::int64_t before = std::int64_t(Page - 1) * perPage;

    std::wstring text = Header(AlbumName) + kCrLf;
    text += Navbar(Page, Pages, FOptions.S_indx, L"index") + kCrLf;
    text += L"<table align=\"center\" cellspacing=\"1\" bordercolor=\"" + ColorToHTMLColor(FOptions.CellCol) +
            L"\" border=\"1\" cellpadding=\"0\">" + kCrLf;
    std::int64_t m = 0;
    while (NextRow < FRows.size() && m < perPage) {
        std::size_t index = NextRow++;
        if (!FRows[index].Checked) continue;
        ++m;
        if (m == 1 || (m - 1) % columns == 0) text += std::wstring(L"  <tr>") + kCrLf;
        text += std::wstring(L"    <td>") + kCrLf;
        text += InsertImageHTML(index) + kCrLf;
        text += std::wstring(L"    </td>") + kCrLf;
        if (m % columns == 0 || before + m == ImageCount) text += std::wstring(L"  </tr>") + kCrLf;
    }
    text += std::wstring(L"</table>") + kCrLf;
    text += Navbar(Page, Pages, FOptions.S_indx, L"index") + kCrLf;
    text += Footer() + kCrLf;
    return text;
}

int TAlbumPages::WritePages(const std::wstring& AlbumPath, const std::wstring& AlbumName, int ImageCount) const
{
    int pages = PageCount(ImageCount);
    std::size_t nextRow = 0;
    for (int page = 1; page <= pages; ++page) {
        std::wstring text = PageText(page, pages, AlbumName, ImageCount, nextRow);
        classlib::TTextFile file;
        file.Rewrite(AlbumPath + PageFileName(page), classlib::teUtf8);
        file.Write(text);
        file.Close();
    }
    return pages;
}

}  // namespace album
