#include "TestSupport.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

namespace testsupport {

std::wstring FixtureDir(const std::wstring& area)
{
    std::wstring dir = VELMO_FIXTURES_W;
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    return dir + L"\\" + area;
}

void Touch(const std::wstring& file)
{
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);
}

void WriteFilled(const std::wstring& file, std::size_t count)
{
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string bytes(count, 'x');
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), DWORD(count), &written, nullptr);
    ::CloseHandle(h);
}

void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else {
                ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
}

TempDir::TempDir()
{
    wchar_t tmp[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH, tmp);
    std::wstring base(tmp, n);
    static unsigned counter = 0;
    for (;;) {
        path_ = base + L"velmo-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::wstring TempDir::File(const std::wstring& name) const { return path_ + L"\\" + name; }

}  // namespace testsupport
