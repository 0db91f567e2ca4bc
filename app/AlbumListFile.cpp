#include "app/AlbumListFile.h"

#include "classlib/SysUtils.h"
#include "classlib/TextFile.h"

namespace album {

const wchar_t kAlbumListFormatLine[] = L"Velmo Morvane album list 2";

namespace {

const wchar_t kSeparator = L'|';
const wchar_t kLineBreakMark = L'^';
const wchar_t kEscape = L'\\';
// The letter that stands for the separator after the escape.
const wchar_t kSeparatorLetter = L'p';

// Every line break (CR LF, or a lone CR or LF) becomes one "^"; "\", "^"
// and "|" are escaped.
std::wstring EncodeField(const std::wstring& Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const wchar_t c = Text[i];
        if (c == L'\r') {
            if (i + 1 < Text.size() && Text[i + 1] == L'\n') ++i;
            out += kLineBreakMark;
        } else if (c == L'\n') {
            out += kLineBreakMark;
        } else if (c == kEscape || c == kLineBreakMark) {
            out += kEscape;
            out += c;
        } else if (c == kSeparator) {
            out += kEscape;
            out += kSeparatorLetter;
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring DecodeField(const std::wstring& Text, bool Escaped)
{
    std::wstring out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const wchar_t c = Text[i];
        if (c == kLineBreakMark) {
            out += L"\r\n";
        } else if (Escaped && c == kEscape && i + 1 < Text.size()) {
            const wchar_t next = Text[i + 1];
            if (next == kEscape || next == kLineBreakMark) {
                out += next;
                ++i;
            } else if (next == kSeparatorLetter) {
                out += kSeparator;
                ++i;
            } else {
                out += c;  // a "\" typed by hand before another character
            }
        } else {
            out += c;
        }
    }
    return out;
}

bool IsAsciiLetter(wchar_t C) { return (C >= L'A' && C <= L'Z') || (C >= L'a' && C <= L'z'); }

// A full path to a file: "X:\..." or "\\server\share\...", not ending in a
// folder separator, without characters no file name can hold (controls,
// < > " | ? *, a ":" after the drive) and without the replacement character
// a byte that is no UTF-8 decodes to.
bool IsFullFilePath(const std::wstring& Path)
{
    std::size_t rest = 0;
    if (Path.size() > 3 && IsAsciiLetter(Path[0]) && Path[1] == L':' && Path[2] == L'\\') {
        rest = 3;
    } else if (Path.size() > 2 && Path[0] == L'\\' && Path[1] == L'\\') {
        // Server and share, each non-empty, then the file below them.
        const std::size_t server = Path.find(L'\\', 2);
        if (server == std::wstring::npos || server == 2) return false;
        const std::size_t share = Path.find(L'\\', server + 1);
        if (share == std::wstring::npos || share == server + 1) return false;
        rest = share + 1;
    } else {
        return false;
    }
    if (rest >= Path.size() || Path.back() == L'\\') return false;
    for (std::size_t i = rest; i < Path.size(); ++i) {
        const wchar_t c = Path[i];
        if (c < 0x20 || c == 0xFFFD) return false;
        switch (c) {
        case L'<':
        case L'>':
        case L'"':
        case L'|':
        case L'?':
        case L'*':
        case L':':
            return false;
        default: break;
        }
        if (c == L'\\' && Path[i - 1] == L'\\') return false;  // an empty folder name
    }
    return true;
}

}  // namespace

EAlbumListFormat::EAlbumListFormat(const std::wstring& AFileName, int ALine)
    : classlib::Exception(L"\"" + AFileName + L"\" is not an album list" +
                          (ALine > 0 ? L" (line " + std::to_wstring(ALine) + L" is no row)" : L" (no row)")),
      FileName(AFileName),
      Line(ALine)
{
}

const std::wstring& TAlbumRow::SubItem(std::size_t Index) const
{
    static const std::wstring kEmpty;
    return Index < SubItems.size() ? SubItems[Index] : kEmpty;
}

int TAlbumRow::Rotation() const { return RotationOf(SubItem(siRotation)); }

int RotationOf(const std::wstring& Text)
{
    int value = 0;
    return classlib::TryStrToInt(Text, value) ? value : 0;
}

std::wstring AlbumRowToLine(const TAlbumRow& Row)
{
    std::wstring line = Row.Path;
    line += kSeparator;
    for (const std::wstring& item : Row.SubItems) {
        line += EncodeField(item);
        line += kSeparator;
    }
    return line;
}

bool AlbumRowFromLine(const std::wstring& Line, TAlbumRow& Row, bool Escaped)
{
    std::size_t p = Line.find(kSeparator);
    if (p == std::wstring::npos) return false;
    TAlbumRow row;
    row.Path = Line.substr(0, p);
    std::size_t start = p + 1;
    for (;;) {
        std::size_t next = Line.find(kSeparator, start);
        if (next == std::wstring::npos) break;
        row.SubItems.push_back(DecodeField(Line.substr(start, next - start), Escaped));
        start = next + 1;
    }
    // The text after the last separator: empty for a line this unit wrote,
    // where the separator closes the last sub-item. Kept as a sub-item of
    // its own only when it holds text, or in a file of the older format.
    if (!Escaped || start < Line.size()) row.SubItems.push_back(DecodeField(Line.substr(start), Escaped));
    Row = std::move(row);
    return true;
}

bool IsValidAlbumRow(const TAlbumRow& Row)
{
    if (!IsFullFilePath(Row.Path)) return false;
    const std::wstring& rotation = Row.SubItem(siRotation);
    return rotation == L"0" || rotation == L"90" || rotation == L"180" || rotation == L"270";
}

void SaveAlbumList(const std::wstring& FileName, const std::vector<TAlbumRow>& Rows)
{
    classlib::TTextFile file;
    file.Rewrite(FileName, classlib::teUtf8);
    file.WriteLn(kAlbumListFormatLine);
    for (const TAlbumRow& row : Rows) file.WriteLn(AlbumRowToLine(row));
    file.Close();
}

void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows)
{
    std::vector<TAlbumRow> read;
    classlib::TTextFile file;
    file.Reset(FileName, classlib::teUtf8);
    bool escaped = false;
    for (int number = 1; !file.Eof(); ++number) {
        const std::wstring line = file.ReadLn();
        if (number == 1 && line == kAlbumListFormatLine) {
            escaped = true;
            continue;
        }
        TAlbumRow row;
        if (!AlbumRowFromLine(line, row, escaped)) continue;
        if (!IsValidAlbumRow(row)) throw EAlbumListFormat(FileName, number);
        read.push_back(std::move(row));
    }
    file.Close();
    if (read.empty()) throw EAlbumListFormat(FileName, 0);
    Rows.insert(Rows.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
}

}  // namespace album
