// Whole-file byte access for the album tests.
#pragma once

#include <windows.h>

#include <string>

namespace albumtest {

// The bytes of a file; an empty string when it can't be opened.
inline std::string ReadBytes(const std::wstring& FileName)
{
    std::string bytes;
    HANDLE h = ::CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    ::CloseHandle(h);
    return bytes;
}

inline bool FileExists(const std::wstring& FileName)
{
    return ::GetFileAttributesW(FileName.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace albumtest
