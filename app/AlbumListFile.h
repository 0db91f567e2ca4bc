// The album row record and the album list file (".alb").
//
// An album row is one picture of the album list: its full path and the
// sub-items [rotation, running number, thumbnail width, thumbnail height,
// title, description]. The list file holds one row per line, UTF-8 without a
// byte-order mark, lines ended by CR LF:
//
//     path|sub-item 0|sub-item 1|...|sub-item n|
//
// "|" separates the fields and is not escaped: a "|" typed into a title
// splits that field when the file is read. Inside a sub-item a line break is
// written as "^", and every "^" reads back as CR LF (so a "^" typed by the
// user comes back as a line break). Besides CR LF pairs, a lone CR or LF is
// also written as "^": a raw line break would cut the row in two and spill
// the rest of it into a row of its own. Reading keeps the empty text after
// the last "|" as one more sub-item, so a row read from a file holds one
// sub-item more than the row it was saved from.
//
// Lines without a "|" (an empty line in a file edited by hand) are no row and
// are skipped; the lines after them still become their own rows.
//
// Errors: input and output failures raise classlib::EInOutError (naming the
// file). A failed read leaves the rows read before the failure appended.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace album {

// Indices of an album row's sub-items.
enum TAlbumSubItem : std::size_t {
    siRotation = 0,     // "0", "90", "180" or "270": degrees anticlockwise
    siNumber = 1,       // running number, written by the build
    siThumbWidth = 2,   // thumbnail width, written by the build
    siThumbHeight = 3,  // thumbnail height, written by the build
    siTitle = 4,
    siDescription = 5,
};

struct TAlbumRow {
    std::wstring Path;  // the row's caption: full path of the picture
    std::vector<std::wstring> SubItems;
    // Set when the last build wrote this row's image; only such rows appear
    // on the album pages. Not stored in the list file.
    bool Checked = false;
    // Why the last build left this row out (the I/O object's failure text);
    // empty when the row was written or not reached. Not stored either.
    std::wstring SkipReason;
    // Why the last build could read this row's picture only in part (the I/O
    // object's warning text); the row was written with what could be read.
    // Empty otherwise. Not stored either.
    std::wstring Incomplete;

    // Sub-item Index, or an empty text when the row holds fewer sub-items.
    const std::wstring& SubItem(std::size_t Index) const;
};

// The line of a row without its line end.
std::wstring AlbumRowToLine(const TAlbumRow& Row);

// Parses one line (without its line end). False, and Row untouched, when the
// line holds no "|"; otherwise Row is replaced by the row the line describes
// (Checked false).
bool AlbumRowFromLine(const std::wstring& Line, TAlbumRow& Row);

// Creates or overwrites FileName with one line per row, in order.
void SaveAlbumList(const std::wstring& FileName, const std::vector<TAlbumRow>& Rows);

// Reads FileName line by line and appends a row for every valid line to Rows.
void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows);

}  // namespace album
