#include "classlib/Exceptions.h"

#include <windows.h>

#include "classlib/SysUtils.h"

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
    const std::wstring msg = SysErrorMessage(code);
    if (code == 0)
        throw EOSError(L"A call to an OS function failed", code);
    throw EOSError(L"System Error.  Code: " + std::to_wstring(code) + L".\n" + msg, code);
}

}  // namespace classlib
