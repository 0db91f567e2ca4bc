// Whole-file byte access and a program folder (navigation GIFs, viewer) for
// the album tests.
#pragma once

#include <windows.h>

#include <string>

#include "support/Fixtures.h"
#include "support/TestSupport.h"

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

// A fixture of another area's tests, e.g. Fixture(L"io\\jpeg", L"rgb.jpg").
inline std::wstring Fixture(const std::wstring& Area, const std::wstring& Name)
{
    return testsupport::FixturePath(Area, Name);
}

inline void WriteBytes(const std::wstring& FileName, const std::string& Bytes)
{
    HANDLE h = ::CreateFileW(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(h, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr);
    ::CloseHandle(h);
}

// A 2 x 1 GIF89a whose four-entry global table holds Colors (12 bytes) and
// whose pixels are the indexes 1 and 2.
inline std::string TinyGif(const std::string& Colors)
{
    std::string gif = "GIF89a";
    gif += std::string("\x02\x00\x01\x00\x81\x00\x00", 7);  // 2 x 1, global table of 4
    gif += Colors;
    gif += std::string("\x2C\x00\x00\x00\x00\x02\x00\x01\x00\x00", 10);
    // Code size 2: clear, 1, 2, end in 3-bit codes.
    gif += std::string("\x02\x02\x8C\x0A\x00", 5);
    gif += ";";
    return gif;
}

inline const std::string kNavColors("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0\xC0", 12);

// The program folder: "GIFs" with the nine pictures and a "viewer" folder.
struct ProgramFolder {
    testsupport::TempDir Dir;
    explicit ProgramFolder(bool WithViewer = true)
    {
        ::CreateDirectoryW((Dir.Path() + L"\\GIFs").c_str(), nullptr);
        for (const wchar_t* name : {L"first", L"prev", L"next", L"last", L"index"})
            WriteBytes(Dir.Path() + L"\\GIFs\\" + name + L".gif", TinyGif(kNavColors));
        for (const wchar_t* name : {L"first_d", L"prev_d", L"next_d", L"last_d"})
            WriteBytes(Dir.Path() + L"\\GIFs\\" + name + L".gif", TinyGif(std::string(12, '\x33')));
        if (!WithViewer) return;
        ::CreateDirectoryW((Dir.Path() + L"\\viewer").c_str(), nullptr);
        ::CreateDirectoryW((Dir.Path() + L"\\viewer\\img").c_str(), nullptr);
        WriteBytes(Dir.Path() + L"\\viewer\\viewer.js", "// viewer\r\n");
        WriteBytes(Dir.Path() + L"\\viewer\\img\\close.txt", "x");
    }
};

}  // namespace albumtest
