#include "classlib/FileCtrl.h"

#include <algorithm>
#include <vector>

#include "classlib/SysUtils.h"

namespace classlib {

namespace {

wchar_t Fold(wchar_t c)
{
    // Case folding of one UTF-16 unit as the system does it (CharUpperW
    // takes a single character in the low word of its pointer argument).
    auto* asPointer = reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(c));
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(::CharUpperW(asPointer)));
}

bool Match(const wchar_t* n, const wchar_t* m)
{
    // Iterative matching with one backtrack point for the last '*'.
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*n) {
        if (*m == L'*') {
            star = m++;
            resume = n;
        } else if (*m == L'?' || (*m && Fold(*m) == Fold(*n))) {
            ++m;
            ++n;
        } else if (star) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*m == L'*') ++m;
    return *m == 0;
}

}  // namespace

bool MatchesMask(const std::wstring& Name, const std::wstring& Mask)
{
    if (Mask == L"*.*") return true;
    return Match(Name.c_str(), Mask.c_str());
}

TFileListBox::TFileListBox(TComponent* AOwner) : TListBox(AOwner)
{
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(n, L'\0');
    DWORD got = ::GetCurrentDirectoryW(n, dir.data());
    dir.resize(got < n ? got : 0);
    directory_ = dir;
}

void TFileListBox::SetDirectory(const std::wstring& Value)
{
    std::wstring dir = Value;
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    ReadDirectory(dir);
    directory_ = dir;
}

void TFileListBox::SetMask(const std::wstring& Value)
{
    mask_ = Value.empty() ? std::wstring(L"*.*") : Value;
    ReadDirectory(directory_);
}

void TFileListBox::ReadDirectory(const std::wstring& Directory)
{
    if (!DirectoryExists(Directory)) throw EInOutError(L"Directory not found: " + Directory);
    std::vector<std::wstring> masks;
    std::size_t start = 0;
    for (;;) {
        std::size_t p = mask_.find(L';', start);
        std::wstring m = Trim(mask_.substr(start, p == std::wstring::npos ? std::wstring::npos : p - start));
        if (!m.empty()) masks.push_back(m);
        if (p == std::wstring::npos) break;
        start = p + 1;
    }

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    std::wstring pattern = IncludeTrailingPathDelimiter(Directory) + L"*";
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring name = fd.cFileName;
            for (const std::wstring& m : masks)
                if (MatchesMask(name, m)) {
                    names.push_back(name);
                    break;
                }
        } while (::FindNextFileW(find, &fd));
        ::FindClose(find);
    }
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size())) == CSTR_LESS_THAN;
    });

    TStrings* items = GetItems();
    items->BeginUpdate();
    try {
        items->Clear();
        for (const std::wstring& n : names) items->Add(n);
    } catch (...) {
        items->EndUpdate();
        throw;
    }
    items->EndUpdate();
}

std::wstring TFileListBox::GetFileName() const
{
    int i = GetItemIndex();
    if (i < 0) return std::wstring();
    return IncludeTrailingPathDelimiter(directory_) + GetItems()->GetStrings(i);
}

}  // namespace classlib
