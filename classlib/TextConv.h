// Conversions between UTF-16 (the library's string type) and byte encodings:
// UTF-8 and the ANSI code page of the system (CP_ACP).
//
// Invalid input never fails: ill-formed UTF-8 and unpaired surrogates are
// replaced with U+FFFD by the system converter; characters that the ANSI code
// page cannot represent become the code page's default character. The
// functions are thread-safe and allocate only the result.
#pragma once

#include <cstddef>
#include <string>

namespace classlib {

std::string WideToUtf8(const std::wstring& s);
std::string WideToUtf8(const wchar_t* s, std::size_t length);
std::wstring Utf8ToWide(const std::string& s);
std::wstring Utf8ToWide(const char* s, std::size_t length);

std::string WideToAnsi(const std::wstring& s);
std::string WideToAnsi(const wchar_t* s, std::size_t length);
std::wstring AnsiToWide(const std::string& s);
std::wstring AnsiToWide(const char* s, std::size_t length);

}  // namespace classlib
