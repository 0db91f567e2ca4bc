#include "classlib/TextConv.h"

#include <windows.h>

namespace classlib {

namespace {

// The Win32 converters take int lengths; longer texts are converted in
// pieces that do not split a UTF-16 surrogate pair or a UTF-8 sequence.
constexpr std::size_t kChunk = 1u << 28;

void AppendNarrow(UINT codePage, const wchar_t* s, std::size_t length, std::string& out)
{
    if (length == 0) return;
    int n = ::WideCharToMultiByte(codePage, 0, s, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    ::WideCharToMultiByte(codePage, 0, s, static_cast<int>(length), out.data() + at, n, nullptr, nullptr);
}

void AppendWide(UINT codePage, const char* s, std::size_t length, std::wstring& out)
{
    if (length == 0) return;
    int n = ::MultiByteToWideChar(codePage, 0, s, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return;
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    ::MultiByteToWideChar(codePage, 0, s, static_cast<int>(length), out.data() + at, n);
}

std::string ToNarrow(UINT codePage, const wchar_t* s, std::size_t length)
{
    std::string out;
    while (length > 0) {
        std::size_t part = length;
        if (part > kChunk) {
            part = kChunk;
            // Do not end a piece on a high surrogate.
            if (s[part - 1] >= 0xD800 && s[part - 1] <= 0xDBFF) --part;
        }
        AppendNarrow(codePage, s, part, out);
        s += part;
        length -= part;
    }
    return out;
}

std::wstring ToWide(UINT codePage, const char* s, std::size_t length)
{
    std::wstring out;
    while (length > 0) {
        std::size_t part = length;
        if (part > kChunk) {
            part = kChunk;
            if (codePage == CP_UTF8) {
                // Back up to the start of a UTF-8 sequence.
                std::size_t back = 0;
                while (back < 3 && (static_cast<unsigned char>(s[part - back]) & 0xC0) == 0x80) ++back;
                part -= back;
            } else {
                // Walk the characters so a double-byte pair is never split.
                std::size_t i = 0;
                while (i < kChunk) {
                    std::size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(s[i])) ? 2 : 1;
                    if (i + step > kChunk) break;
                    i += step;
                }
                part = i;
            }
        }
        AppendWide(codePage, s, part, out);
        s += part;
        length -= part;
    }
    return out;
}

}  // namespace

std::string WideToUtf8(const std::wstring& s) { return ToNarrow(CP_UTF8, s.data(), s.size()); }
std::string WideToUtf8(const wchar_t* s, std::size_t length) { return ToNarrow(CP_UTF8, s, length); }
std::wstring Utf8ToWide(const std::string& s) { return ToWide(CP_UTF8, s.data(), s.size()); }
std::wstring Utf8ToWide(const char* s, std::size_t length) { return ToWide(CP_UTF8, s, length); }

std::string WideToAnsi(const std::wstring& s) { return ToNarrow(CP_ACP, s.data(), s.size()); }
std::string WideToAnsi(const wchar_t* s, std::size_t length) { return ToNarrow(CP_ACP, s, length); }
std::wstring AnsiToWide(const std::string& s) { return ToWide(CP_ACP, s.data(), s.size()); }
std::wstring AnsiToWide(const char* s, std::size_t length) { return ToWide(CP_ACP, s, length); }

}  // namespace classlib
