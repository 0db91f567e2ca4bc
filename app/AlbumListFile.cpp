#include "app/AlbumListFile.h"

#include "classlib/TextFile.h"

namespace album {

namespace {

const wchar_t kSeparator = L'|';
const wchar_t kLineBreakMark = L'^';

// Every line break (CR LF, or a lone CR or LF) becomes one "^".
std::wstring EncodeField(const std::wstring& Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        wchar_t c = Text[i];
        if (c == L'\r') {
            if (i + 1 < Text.size() && Text[i + 1] == L'\n') ++i;
            out += kLineBreakMark;
        } else if (c == L'\n') {
            out += kLineBreakMark;
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring DecodeField(const std::wstring& Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (wchar_t c : Text) {
        if (c == kLineBreakMark)
            out += L"\r\n";
        else
            out += c;
    }
    return out;
}

}  // namespace

const std::wstring& TAlbumRow::SubItem(std::size_t Index) const
{
    static const std::wstring kEmpty;
    return Index < SubItems.size() ? SubItems[Index] : kEmpty;
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

bool AlbumRowFromLine(const std::wstring& Line, TAlbumRow& Row)
{
    std::size_t p = Line.find(kSeparator);
    if (p == std::wstring::npos) return false;
    TAlbumRow row;
    row.Path = Line.substr(0, p);
    std::size_t start = p + 1;
    for (;;) {
        std::size_t next = Line.find(kSeparator, start);
        if (next == std::wstring::npos) break;
        row.SubItems.push_back(DecodeField(Line.substr(start, next - start)));
        start = next + 1;
    }
    // The text after the last separator: empty for a line this unit wrote.
    row.SubItems.push_back(DecodeField(Line.substr(start)));
    Row = std::move(row);
    return true;
}

void SaveAlbumList(const std::wstring& FileName, const std::vector<TAlbumRow>& Rows)
{
    classlib::TTextFile file;
    file.Rewrite(FileName, classlib::teUtf8);
    for (const TAlbumRow& row : Rows) file.WriteLn(AlbumRowToLine(row));
    file.Close();
}

void LoadAlbumList(const std::wstring& FileName, std::vector<TAlbumRow>& Rows)
{
    classlib::TTextFile file;
    file.Reset(FileName, classlib::teUtf8);
    while (!file.Eof()) {
        TAlbumRow row;
        if (AlbumRowFromLine(file.ReadLn(), row)) Rows.push_back(std::move(row));
    }
    file.Close();
}

}  // namespace album
