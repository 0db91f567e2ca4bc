#include "classlib/Exceptions.h"

#include <windows.h>

namespace classlib {

const char* Exception::what() const noexcept
{
    if (narrow_.empty() && !message_.empty()) {
        int n = ::WideCharToMultiByte(CP_UTF8, 0, message_.data(), static_cast<int>(message_.size()),
                                      nullptr, 0, nullptr, nullptr);
        try {
            narrow_.resize(n);
        } catch (...) {
            return "out of memory";
        }
        ::WideCharToMultiByte(CP_UTF8, 0, message_.data(), static_cast<int>(message_.size()),
                              narrow_.data(), n, nullptr, nullptr);
    }
    return narrow_.c_str();
}

void RaiseLastOSError() { RaiseLastOSError(::GetLastError()); }

void RaiseLastOSError(unsigned long code)
{
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring msg = text ? text : L"";
    if (text) ::LocalFree(text);
    while (!msg.empty() && (msg.back() == L'\n' || msg.back() == L'\r' || msg.back() == L' '))
        msg.pop_back();
    if (code == 0)
        throw EOSError(L"A call to an OS function failed", code);
    throw EOSError(L"System Error.  Code: " + std::to_wstring(code) + L".\n" + msg, code);
}

}  // namespace classlib
