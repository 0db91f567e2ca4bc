// The album row record and the album list file (".alb").
//
// An album row is one picture of the album list: its full path and the
// sub-items [rotation, running number, thumbnail width, thumbnail height,
// title, description]. The list file is UTF-8 without a byte-order mark,
// lines ended by CR LF. Its first line is the format line
//
//     Velmo Morvane album list 2
//
// and every further line one row:
//
//     path|sub-item 0|sub-item 1|...|sub-item n|
//
// "|" separates the fields and stands for nothing else. The path is written
// as it is (a Windows path holds no "|"). Inside a sub-item a line break
// (CR LF, or a lone CR or LF) is written as "^", and the characters the
// format uses are escaped with "\": "\\" is "\", "\^" is "^" and "\p" is
// "|". So every text a user can type comes back as it was typed; a "\"
// before any other character is read as a plain "\".
//
// A file without the format line (written before the escapes existed) is
// read as it was written: no escapes, and every "^" reads back as CR LF.
//
// Every row this unit writes ends with "|". In a file with the format line
// that last "|" closes the last sub-item, so a row reads back with exactly
// the sub-items it was saved with and a list opened and saved again is the
// same file. In a file without the format line the text after the last "|"
// is kept as one more sub-item (empty for such a file's own lines), as those
// files were always read.
//
// What makes a file an album list: every line that holds a "|" is a row
// whose path is a full path to a file (drive or network share, no character
// a file name cannot have) and whose first sub-item is a rotation ("0",
// "90", "180" or "270"); and there is at least one row. The other sub-items
// are free text (the build writes the numbers afresh). Lines without a "|" (an empty line
// in a file edited by hand) are no row and are skipped; the lines after them
// still become their own rows.
//
// Errors: input and output failures raise classlib::EInOutError (naming the
// file); a file that is not an album list raises EAlbumListFormat. Either
// way a failed load appends nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"

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
    // The rotation sub-item in degrees anticlockwise (see RotationOf).
    int Rotation() const;
};

// The rotation of a row's text in degrees anticlockwise; text that is not a
// whole number counts as 0.
int RotationOf(const std::wstring& Text);

// The first line of every list file SaveAlbumList writes.
extern const wchar_t kAlbumListFormatLine[];

// A file that is not an album list. Line is the 1-based number of the first
// line that holds a "|" but is no row; 0 when the file holds no row at all.
class EAlbumListFormat : public classlib::Exception {
public:
    EAlbumListFormat(const std::wstring& FileName, int Line);
    std::wstring FileName;
    int Line;
};

// The line of a row without its line end (with the escapes).
std::wstring AlbumRowToLine(const TAlbumRow& Row);

// Parses one line (without its line end); Escaped: the line comes from a
// file with the format line. False, and Row untouched, when the line holds
// no "|"; otherwise Row is replaced by the row the line describes (Checked
// false), whether or not that is a valid row.
bool AlbumRowFromLine(const std::wstring& Line, TAlbumRow& Row, bool Escaped = true);

// True when Row can stand in an album list (see above).
bool IsValidAlbumRow(const TAlbumRow& Row);

// Creates or overwrites FileName with the format line and one line per row,
// in order.
void SaveAlbumList(const std::wstring& FileName, const std::vector<TAlbumRow>& Rows);

// Reads FileName and, when it is an album list, appends its rows to Rows.
void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows);

}  // namespace album
