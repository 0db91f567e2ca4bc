#include "controls/shell/ShellList.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/FileCtrl.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/shell/ShellCommon.h"

namespace shell {

std::vector<TFolderEntry> ListFolderEntries(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                            bool Hidden)
{
    std::vector<TFolderEntry> entries;
    if (!FolderExists(Folder)) return entries;
    const std::vector<std::wstring> masks = SplitMasks(Masks);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((WithBackslash(Folder) + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return entries;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        if (!Hidden && (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) continue;
        const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder ? !Folders
                   : std::none_of(masks.begin(), masks.end(), [&](const std::wstring& m) { return classlib::MatchesMask(n, m); }))
            continue;
        TFolderEntry e;
        e.ObjectName = n;
        e.Name = std::move(n);
        e.Folder = folder;
        e.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.Modified = fd.ftLastWriteTime;
        entries.push_back(std::move(e));
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    SortEntries(entries, ldName, false);
    return entries;
}

std::vector<std::wstring> ListFolderFiles(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                          bool Hidden)
{
    std::vector<std::wstring> names;
    for (TFolderEntry& e : ListFolderEntries(Folder, Masks, Folders, Hidden)) names.push_back(std::move(e.Name));
    return names;
}

namespace {

// The shell's type name of a file or folder name (asked once per extension;
// main thread).
std::wstring TypeName(const TFolderEntry& Entry)
{
    static std::unordered_map<std::wstring, std::wstring> cache;
    const std::size_t dot = Entry.Name.rfind(L'.');
    const std::wstring key = Entry.Folder ? L"\\" : TntWideUpperCase(dot == std::wstring::npos ? L"" : Entry.Name.substr(dot));
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    SHFILEINFOW info{};
    const DWORD attributes = Entry.Folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    std::wstring type;
    if (::SHGetFileInfoW(Entry.Name.c_str(), attributes, &info, sizeof(info), SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES))
        type = info.szTypeName;
    return cache.emplace(key, type).first->second;
}

}  // namespace

std::wstring DetailText(const TFolderEntry& Entry, TListDetail Detail)
{
    switch (Detail) {
    case ldName: return Entry.Name;
    case ldSize: return Entry.Folder ? std::wstring() : std::to_wstring((Entry.Size + 1023) / 1024) + L" KB";
    case ldType: return TypeName(Entry);
    case ldModified: {
        SYSTEMTIME utc{}, local{};
        if (!::FileTimeToSystemTime(&Entry.Modified, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
            return {};
        wchar_t text[32];
        swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                 local.wMinute);
        return text;
    }
    }
    return {};
}

void SortEntries(std::vector<TFolderEntry>& Entries, TListDetail Detail, bool Descending)
{
    auto compare = [&](const TFolderEntry& a, const TFolderEntry& b) {
        int c = 0;
        switch (Detail) {
        case ldName: break;
        case ldSize: c = a.Size < b.Size ? -1 : a.Size > b.Size ? 1 : 0; break;
        case ldType: c = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, TypeName(a).c_str(), -1,
                                          TypeName(b).c_str(), -1) - CSTR_EQUAL;
            break;
        case ldModified: c = Ticks(a.Modified) < Ticks(b.Modified) ? -1 : Ticks(a.Modified) > Ticks(b.Modified) ? 1 : 0;
            break;
        }
        if (c == 0) c = LessNoCase(a.Name, b.Name) ? -1 : LessNoCase(b.Name, a.Name) ? 1 : 0;
        return c;
    };
    std::stable_sort(Entries.begin(), Entries.end(), [&](const TFolderEntry& a, const TFolderEntry& b) {
        if (a.Folder != b.Folder) return a.Folder;
        return Descending ? compare(b, a) < 0 : compare(a, b) < 0;
    });
}

std::vector<TDetailColumn> ReadDetailColumns(const std::function<std::wstring(int)>& Title,
                                             const std::function<int(int, int&)>& Format, bool All)
{
    // A folder may offer more details than there are column slots, or never
    // end its titles: both counts are bounded.
    constexpr int kMaxDetails = 4096;
    std::vector<TDetailColumn> columns;
    std::wstring title = Title(0);
    for (int detail = 0; detail < kMaxDetails && int(columns.size()) < MaxDetailColumns;) {
        int width = 0;
        const int alignment = Format(detail, width);
        if (width > 0) {
            TDetailColumn c;
            c.Title = title;
            c.Alignment = alignment == 1 ? classlib::taRightJustify : alignment == 2 ? classlib::taCenter : classlib::taLeftJustify;
            c.Width = width;
            c.Detail = detail;
            columns.push_back(std::move(c));
        }
        if (!All) break;
        title = Title(++detail);
        if (title.empty()) break;
    }
    return columns;
}

namespace {

// The property set of the file-system details (size, times, type ...).
constexpr GUID kStorageProperties = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};
enum : DWORD { kPidType = 4, kPidAttributes = 13, kPidSize = 12, kPidWritten = 14, kPidCreated = 15, kPidAccessed = 16 };

}  // namespace

std::vector<int> OrderObjects(IShellFolder* Folder, int Detail, const std::vector<LPCITEMIDLIST>& Pidls,
                              bool Descending)
{
    std::vector<int> order(Pidls.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    if (!Folder || Pidls.size() < 2) return order;
    // The shell's own comparison of the detail. Some shells answer every
    // detail by name: the details whose values the objects' find data or
    // texts give are compared by value here, as the shell would.
    TComRef<IShellFolder2> folder2;
    Folder->QueryInterface(IID_IShellFolder2, folder2.PutVoid());
    SHCOLUMNID id{};
    const bool storage = Detail > 0 && folder2 && SUCCEEDED(folder2->MapColumnToSCID(UINT(Detail), &id)) &&
                         id.fmtid == kStorageProperties;
    const bool byNumber = storage && (id.pid == kPidSize || id.pid == kPidWritten || id.pid == kPidCreated ||
                                      id.pid == kPidAccessed);
    const bool byText = storage && (id.pid == kPidType || id.pid == kPidAttributes);
    struct TKey {
        bool Folder = false;
        std::uint64_t Number = 0;
        std::wstring Text;
    };
    std::vector<TKey> keys;
    if (byNumber || byText) {
        classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        keys.resize(Pidls.size());
        for (std::size_t i = 0; i < Pidls.size() && !keys.empty(); ++i) {
            WIN32_FIND_DATAW fd{};
            if (!Pidls[i] ||
                FAILED(::SHGetDataFromIDListW(Folder, Pidls[i], SHGDFIL_FINDDATA, &fd, static_cast<int>(sizeof(fd))))) {
                // Values only when every object has them: a mix would not
                // be one order.
                keys.clear();
                break;
            }
            TKey& k = keys[i];
            k.Folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const FILETIME& t = id.pid == kPidCreated ? fd.ftCreationTime : id.pid == kPidAccessed ? fd.ftLastAccessTime
                                                                                                 : fd.ftLastWriteTime;
            k.Number = id.pid == kPidSize ? (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow : Ticks(t);
            if (byText) {
                SHELLDETAILS details{};
                if (SUCCEEDED(folder2->GetDetailsOf(Pidls[i], UINT(Detail), &details)))
                    k.Text = StrRetToWide(Pidls[i], details.str);
            }
        }
    }
    const int factor = Descending ? -1 : 1;
    SafeStableSort(order, [&](int a, int b) {
        int c = 0;
        if (!keys.empty()) {
            const TKey &ka = keys[std::size_t(a)], &kb = keys[std::size_t(b)];
            if (ka.Folder != kb.Folder)
                c = ka.Folder ? -1 : 1;
            else if (byNumber)
                c = ka.Number < kb.Number ? -1 : ka.Number > kb.Number ? 1 : 0;
            else
                c = CompareText(ka.Text, kb.Text);
        }
        if (c == 0 && Pidls[std::size_t(a)] && Pidls[std::size_t(b)]) {
            const HRESULT hr = Folder->CompareIDs(LPARAM(Detail), Pidls[std::size_t(a)], Pidls[std::size_t(b)]);
            c = FAILED(hr) ? 0 : static_cast<short>(HRESULT_CODE(hr));
        }
        return c * factor;
    });
    return order;
}

}  // namespace shell
