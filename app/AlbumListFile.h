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
// A file without the format line (written before the escapes existed, or by
// hand) is read as it was written: no escapes, every "^" reads back as CR
// LF, and the text after the last "|" is kept as one more sub-item (empty
// for such a file's own lines).
//
// Every row this unit writes ends with "|". In a file with the format line
// that last "|" closes the last sub-item, so a row reads back with exactly
// the sub-items it was saved with and a list opened and saved again is the
// same file.
//
// Reading: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE; a file
// whose first two bytes are an ASCII character and a 0 byte is read as
// UTF-16 without a mark; anything else as UTF-8. Lines end at CR LF, CR or
// LF. A first line "Velmo Morvane album list " with another version than 2
// is refused (EAlbumListVersion).
//
// What makes a file an album list: there is at least one row, and
//  - with the format line, every line that holds a "|" is a row whose path
//    is a full path to a file (drive or network share, no character a file
//    name cannot have) and whose first sub-item is a rotation ("0", "90",
//    "180" or "270");
//  - without it, every line that holds a "|" after some text is a row: "/"
//    in its path reads as "\", a path without drive or share is taken
//    relative to the list's folder, and the path must then name a file as
//    above; the first sub-item is a rotation or empty (read as 0). A line
//    that begins with "|" is no row.
// The other sub-items are free text (the build writes the numbers afresh).
// Lines without a "|" (an empty line in a file edited by hand) are no row
// and are skipped; the lines after them still become their own rows.
//
// Saving writes a temporary file beside the list and puts it in the list's
// place only when all of it is on the disk: a failed save leaves an
// existing list byte for byte as it was.
//
// Errors: input and output failures raise classlib::EInOutError (naming the
// file and the system's reason); a file that is not an album list raises
// EAlbumListFormat, one of another version EAlbumListVersion. Either way a
// failed load appends nothing.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
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

// A list file of a format version this program does not know; Version is
// the text after "Velmo Morvane album list " on its first line.
class EAlbumListVersion : public classlib::Exception {
public:
    EAlbumListVersion(const std::wstring& FileName, const std::wstring& Version);
    std::wstring FileName;
    std::wstring Version;
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

// Creates or replaces FileName with the format line and one line per row,
// in order; on failure FileName is left as it was.
void SaveAlbumList(const std::wstring& FileName, const std::vector<TAlbumRow>& Rows);

// Reads FileName and, when it is an album list, appends its rows to Rows.
void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows);

// The text of a list file's bytes (see Reading above).
std::wstring DecodeAlbumListText(const std::string& Bytes);
// Text split at CR LF, CR and LF; a line end at the very end makes no
// empty last line.
std::vector<std::wstring> SplitAlbumListLines(const std::wstring& Text);

// Collects the paths of the rows it is shown that name no existing file,
// each once (compared without regard to case), in the order shown.
class TMissingPictures {
public:
    void Check(const TAlbumRow& Row);
    const std::vector<std::wstring>& Paths() const { return paths_; }

private:
    std::unordered_set<std::wstring> seen_;
    std::vector<std::wstring> paths_;
};

}  // namespace album
