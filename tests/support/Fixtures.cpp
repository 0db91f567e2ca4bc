#include "Fixtures.h"

#include <windows.h>

#include <stdexcept>

#include "TestSupport.h"

namespace testsupport {

namespace {

std::string Narrow(const std::wstring& Text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, Text.c_str(), static_cast<int>(Text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, Text.c_str(), static_cast<int>(Text.size()), out.data(), n, nullptr,
                              nullptr);
    return out;
}

// False when the file cannot be opened or read to its end.
bool ReadWhole(const std::wstring& Path, std::vector<uint8_t>& Bytes)
{
    Bytes.clear();
    HANDLE h = ::CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    uint8_t buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h, buffer, sizeof(buffer), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        Bytes.insert(Bytes.end(), buffer, buffer + got);
    }
    ::CloseHandle(h);
    if (!ok) Bytes.clear();
    return ok;
}

}  // namespace

std::wstring FixturePath(const std::wstring& Area, const std::wstring& Name)
{
    return FixtureDir(Area) + L"\\" + Name;
}

std::wstring FixturePath(const std::wstring& Area, const std::string& Name)
{
    return FixturePath(Area, std::wstring(Name.begin(), Name.end()));
}

std::vector<uint8_t> FileBytes(const std::wstring& Path)
{
    std::vector<uint8_t> bytes;
    if (!ReadWhole(Path, bytes)) throw std::runtime_error("cannot read " + Narrow(Path));
    return bytes;
}

std::vector<uint8_t> FileBytesOrEmpty(const std::wstring& Path)
{
    std::vector<uint8_t> bytes;
    ReadWhole(Path, bytes);
    return bytes;
}

std::vector<uint8_t> FixtureBytes(const std::wstring& Area, const std::wstring& Name)
{
    return FileBytes(FixturePath(Area, Name));
}

std::vector<uint8_t> FixtureBytes(const std::wstring& Area, const std::string& Name)
{
    return FileBytes(FixturePath(Area, Name));
}

}  // namespace testsupport
