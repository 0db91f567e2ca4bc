// The index pages of an album: static HTML files written after the build has
// made the image copies and thumbnails. Each page holds the header (title,
// viewer script set-up and styles), a navigation bar, a table of thumbnail
// cells, the navigation bar again and the footer.
//
// Text: every block of a page is followed by CR LF, and the page file is
// UTF-8 without a byte-order mark. Everything the user typed or named (album
// name, page label, titles, descriptions, thumbnail sizes from a list file)
// goes through HTMLEscape, so it shows as typed and never becomes markup or
// script; a line break typed into a description stays inside its attribute,
// where the viewer's caption keeps it. File names go into links as
// URLPathSegment. No user text is written into the pages' scripts.
//
// Pictures: a row's cell links to its output name (OutputNamesOf,
// AlbumNames.h), the name the build wrote its files under.
//
// Pages: page 1 is "index.html", page k > 1 "index<k>.html". A page takes the
// next ColumnsNr x RowsNr checked rows in list order (rows the build did not
// write are unchecked and skipped).
//
// Errors: writing raises classlib::EInOutError naming the file; a grid of
// fewer than one column or row raises classlib::EInvalidArgument as soon as
// there is an image to place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/AlbumListFile.h"
#include "app/ProductInfo.h"
#include "classlib/Graphics.h"

namespace album {

// Text for an element's content or a quoted attribute value: "&", "<", ">",
// '"' and "'" become character references; everything else, line breaks
// included, stays as it is.
std::wstring HTMLEscape(const std::wstring& Text);

// A file name as one segment of a relative link: its UTF-8 bytes, every
// byte but ASCII letters, digits and "-._~" written as "%XX" (so "#", "%",
// "?" and spaces in a name reach the file instead of ending the path). The
// result needs no further escaping inside a quoted attribute.
std::wstring URLPathSegment(const std::wstring& Name);

// "#RRGGBB" (upper-case hexadecimal) of a colour; system colours are resolved
// to their current RGB value first.
std::wstring ColorToHTMLColor(classlib::TColor Color);

// The settings the pages are made of (the defaults are the settings'
// defaults).
struct TAlbumPageOptions {
    classlib::TColor BckgrCol = 0xC08000;  // page background
    classlib::TColor CellCol = 0xFDAB00;   // table border, thumbnail cells
    classlib::TColor TxtCol = 0xFFFFFF;    // page and footer text
    classlib::TColor FNCol = 0xFFFF00;     // link colours
    int MaxTh = 140;                       // thumbnail box, written as the cell size
    int ColumnsNr = 6;                     // thumbnails per row
    int RowsNr = 4;                        // rows per page
    std::wstring S_indx = L"Index $p of $t";  // page label: "$p" page, "$t" pages
};

// Builds the blocks and pages of one album. The rows are borrowed and must
// outlive the object; their paths must not change while it lives (their
// output names are decided when it is made). It is used on one thread.
class TAlbumPages {
public:
    TAlbumPages(const TAlbumPageOptions& Options, const std::vector<TAlbumRow>& Rows);

    std::wstring Header(const std::wstring& AlbumName) const;
    // The label from Template ("$p" -> Page, then "$t" -> Pages) and the
    // first / previous / next / last cells linking to Prefix + ".html",
    // Prefix + number + ".html"; disabled pictures where there is no target.
    std::wstring Navbar(int Page, int Pages, const std::wstring& Template, const std::wstring& Prefix) const;
    // The cell table of row Index (raises EListError outside the rows).
    std::wstring InsertImageHTML(std::size_t Index) const;
    std::wstring Footer() const;

    // Thumbnails per page (ColumnsNr x RowsNr); raises EInvalidArgument when
    // either is below 1.
    std::int64_t PerPage() const;
    // Pages needed for ImageCount images (0 for none).
    int PageCount(int ImageCount) const;
    // "index.html" for page 1, "index<Page>.html" for the others.
    static std::wstring PageFileName(int Page);

    // The whole text of page Page of Pages, ImageCount being the number of
    // images the build wrote. Rows are taken from NextRow on; NextRow is left
    // after the last row placed on this page.
    std::wstring PageText(int Page, int Pages, const std::wstring& AlbumName, int ImageCount,
                          std::size_t& NextRow) const;

    // Writes every page into AlbumPath (which ends with a path delimiter) and
    // returns the number of pages; nothing for ImageCount 0.
    int WritePages(const std::wstring& AlbumPath, const std::wstring& AlbumName, int ImageCount) const;

private:
    TAlbumPageOptions FOptions;
    const std::vector<TAlbumRow>& FRows;
    std::vector<std::wstring> FNames;  // the rows' output names
};

}  // namespace album
