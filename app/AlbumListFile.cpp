#include "app/AlbumListFile.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "classlib/TextFile.h"
#include "classlib/WinHandles.h"

namespace album {

const wchar_t kAlbumListFormatLine[] = L"Velmo Morvane album list 2";

namespace {

// The format line without its version.
const wchar_t kFormatLinePrefix[] = L"Velmo Morvane album list ";
// Larger files are refused before they are read into memory: a list of a
// million rows stays far below this.
constexpr std::uint64_t kMaxListFileSize = 512ull << 20;

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

EAlbumListVersion::EAlbumListVersion(const std::wstring& AFileName, const std::wstring& AVersion)
    : classlib::Exception(L"\"" + AFileName + L"\" is an album list of version " + AVersion +
                          L", which this program cannot read"),
      FileName(AFileName),
      Version(AVersion)
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
    file.RewriteReplacing(FileName, classlib::teUtf8);
    file.WriteLn(kAlbumListFormatLine);
    for (const TAlbumRow& row : Rows) file.WriteLn(AlbumRowToLine(row));
    file.Close();
}

namespace {

[[noreturn]] void RaiseFileError(const wchar_t* What, const std::wstring& FileName, DWORD Code)
{
    throw classlib::EInOutError(std::wstring(What) + L" \"" + FileName + L"\". " + classlib::SysErrorMessage(Code));
}

std::string ReadAllBytes(const std::wstring& FileName)
{
    classlib::TOwnedKernelHandle file(::CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        file.Release();
        RaiseFileError(L"Cannot open file", FileName, err);
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) RaiseFileError(L"Cannot read from file", FileName, ::GetLastError());
    if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > kMaxListFileSize)
        RaiseFileError(L"Cannot read from file", FileName, ERROR_FILE_TOO_LARGE);
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!::ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr))
            RaiseFileError(L"Cannot read from file", FileName, ::GetLastError());
        if (got == 0) break;  // the file shrank while being read
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::wstring Utf16ToWide(const std::string& Bytes, std::size_t Start, bool BigEndian)
{
    std::wstring text;
    text.reserve((Bytes.size() - Start) / 2);
    for (std::size_t i = Start; i + 1 < Bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(Bytes[i]), b = static_cast<unsigned char>(Bytes[i + 1]);
        text += static_cast<wchar_t>(BigEndian ? (a << 8) | b : (b << 8) | a);
    }
    if ((Bytes.size() - Start) % 2 != 0) text += wchar_t(0xFFFD);  // half a character at the end
    return text;
}

}  // namespace

std::wstring DecodeAlbumListText(const std::string& Bytes)
{
    const auto at = [&](std::size_t i) { return i < Bytes.size() ? static_cast<unsigned char>(Bytes[i]) : -1; };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return classlib::Utf8ToWide(Bytes.substr(3));
    if (at(0) == 0xFF && at(1) == 0xFE) return Utf16ToWide(Bytes, 2, false);
    if (at(0) == 0xFE && at(1) == 0xFF) return Utf16ToWide(Bytes, 2, true);
    // UTF-16 without a byte-order mark: a list begins with a path, whose
    // first character is plain ASCII, so one of its two bytes is 0.
    if (Bytes.size() >= 2 && at(0) != 0 && at(0) < 0x80 && at(1) == 0) return Utf16ToWide(Bytes, 0, false);
    if (Bytes.size() >= 2 && at(0) == 0 && at(1) != 0 && at(1) < 0x80) return Utf16ToWide(Bytes, 0, true);
    return classlib::Utf8ToWide(Bytes);
}

std::vector<std::wstring> SplitAlbumListLines(const std::wstring& Text)
{
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != L'\r' && Text[i] != L'\n') continue;
        lines.push_back(Text.substr(start, i - start));
        if (Text[i] == L'\r' && i + 1 < Text.size() && Text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < Text.size()) lines.push_back(Text.substr(start));
    return lines;
}

namespace {

// A path as a file dialog or a text editor may have written it: "/" is a
// folder separator, a path without drive or share is relative to the list.
std::wstring ResolveListPath(std::wstring Path, const std::wstring& ListFolder)
{
    for (wchar_t& c : Path)
        if (c == L'/') c = L'\\';
    const bool drive = Path.size() >= 3 && IsAsciiLetter(Path[0]) && Path[1] == L':' && Path[2] == L'\\';
    const bool share = Path.size() >= 2 && Path[0] == L'\\' && Path[1] == L'\\';
    if (drive || share) return Path;
    if (Path.size() >= 1 && Path[0] == L'\\') return classlib::ExpandFileName(ListFolder.substr(0, 2) + Path);
    return classlib::ExpandFileName(classlib::IncludeTrailingPathDelimiter(ListFolder) + Path);
}

// A row of a file without the format line, read as such files always were
// read: any path (made full, see ResolveListPath) and any rotation field a
// hand may have left, as long as the line is text that names a file.
bool AcceptOldRow(TAlbumRow& Row, const std::wstring& ListFolder)
{
    const std::wstring& rotation = Row.SubItem(siRotation);
    if (!(rotation.empty() || rotation == L"0" || rotation == L"90" || rotation == L"180" || rotation == L"270"))
        return false;
    Row.Path = ResolveListPath(Row.Path, ListFolder);
    return IsFullFilePath(Row.Path);
}

}  // namespace

void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows)
{
    const std::vector<std::wstring> lines = SplitAlbumListLines(DecodeAlbumListText(ReadAllBytes(FileName)));
    const std::wstring folder = classlib::ExtractFilePath(classlib::ExpandFileName(FileName));
    std::vector<TAlbumRow> read;
    bool escaped = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        const int number = static_cast<int>(i + 1);
        if (i == 0 && line.rfind(kFormatLinePrefix, 0) == 0) {
            if (line != kAlbumListFormatLine) throw EAlbumListVersion(FileName, line.substr(std::size(kFormatLinePrefix) - 1));
            escaped = true;
            continue;
        }
        TAlbumRow row;
        if (!AlbumRowFromLine(line, row, escaped)) continue;
        if (escaped) {
            if (!IsValidAlbumRow(row)) throw EAlbumListFormat(FileName, number);
        } else {
            if (row.Path.empty()) continue;  // a line that begins with "|" makes no row
            if (!AcceptOldRow(row, folder)) throw EAlbumListFormat(FileName, number);
        }
        read.push_back(std::move(row));
    }
    if (read.empty()) throw EAlbumListFormat(FileName, 0);
    Rows.insert(Rows.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
}

void TMissingPictures::Check(const TAlbumRow& Row)
{
    if (!seen_.insert(classlib::WideLowerCase(Row.Path)).second) return;
    const DWORD attributes = ::GetFileAttributesW(Row.Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) paths_.push_back(Row.Path);
}

}  // namespace album
