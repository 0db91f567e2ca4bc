#include "app/AlbumFolder.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <utility>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"

namespace album {

namespace {

const wchar_t kForbidden[] = L"\\/:*?\"<>|";

std::wstring Upper(std::wstring Text)
{
    for (wchar_t& c : Text) c = static_cast<wchar_t>(std::towupper(c));
    return Text;
}

bool IsDeviceName(const std::wstring& Name)
{
    // The part before the first dot counts, without trailing spaces: "nul.txt"
    // and "COM1 .jpg" name the device too.
    std::wstring base = Name.substr(0, Name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    base = Upper(base);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : kDevices)
        if (base == d) return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        const wchar_t n = base[3];
        return (n >= L'0' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
    }
    return false;
}

std::wstring WithBackslash(std::wstring Path)
{
    if (Path.empty() || Path.back() != L'\\') Path += L'\\';
    return Path;
}

std::wstring WithoutBackslash(std::wstring Path)
{
    while (Path.size() > 1 && Path.back() == L'\\') Path.pop_back();
    return Path;
}

// The names directly in Folder (without "." and "..").
std::vector<std::wstring> Entries(const std::wstring& Folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((Folder + L"*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
    return names;
}

// Removes Path (a file, or a folder with everything in it); a missing path
// is no failure. False when something stays.
bool RemovePath(const std::wstring& Path)
{
    const DWORD attributes = ::GetFileAttributesW(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(Path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(Path.c_str()) != 0
                                                       : ::DeleteFileW(Path.c_str()) != 0;
    const std::wstring folder = WithBackslash(Path);
    for (const std::wstring& name : Entries(folder)) RemovePath(folder + name);
    return ::RemoveDirectoryW(Path.c_str()) != 0;
}

// The names a build writes into the album folder.
bool IsAlbumItem(const std::wstring& Name)
{
    const std::wstring upper = Upper(Name);
    static const wchar_t* const kItems[] = {
        L"IMAGES",     L"THUMBNAILS", L"VIEWER",    L"FIRST.GIF",  L"PREV.GIF",   L"NEXT.GIF",  L"LAST.GIF",
        L"INDEX.GIF",  L"FIRST_D.GIF", L"PREV_D.GIF", L"NEXT_D.GIF", L"LAST_D.GIF", L"INDEX.HTML"};
    for (const wchar_t* item : kItems)
        if (upper == item) return true;
    // index2.html, index3.html ...
    if (upper.size() > 10 && upper.compare(0, 5, L"INDEX") == 0 && upper.compare(upper.size() - 5, 5, L".HTML") == 0)
        return std::all_of(upper.begin() + 5, upper.end() - 5, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    return false;
}

[[noreturn]] void RaiseMoveFailure(DWORD Error, const std::wstring& Path)
{
    throw classlib::EInOutError(classlib::Trim(classlib::SysErrorMessage(Error)) + L" \"" + Path + L"\"");
}

// Moves the named entries from one folder to another; every move done is
// recorded in Done (as from, to) so it can be undone. Raises on the first
// failure.
void MoveEntries(const std::vector<std::wstring>& Names, const std::wstring& From, const std::wstring& To,
                 std::vector<std::pair<std::wstring, std::wstring>>& Done)
{
    for (const std::wstring& name : Names) {
        if (!::MoveFileExW((From + name).c_str(), (To + name).c_str(), 0)) RaiseMoveFailure(::GetLastError(), From + name);
        Done.emplace_back(From + name, To + name);
    }
}

void UndoMoves(std::vector<std::pair<std::wstring, std::wstring>>& Done)
{
    for (auto it = Done.rbegin(); it != Done.rend(); ++it) ::MoveFileExW(it->second.c_str(), it->first.c_str(), 0);
    Done.clear();
}

}  // namespace

TAlbumNameRule CheckAlbumName(const std::wstring& Name)
{
    if (Name.empty()) return TAlbumNameRule::Empty;
    for (wchar_t c : Name)
        if (c < 32 || std::wcschr(kForbidden, c)) return TAlbumNameRule::Characters;
    if (Name == L"." || Name == L"..") return TAlbumNameRule::DotName;
    if (Name.back() == L'.' || Name.back() == L' ') return TAlbumNameRule::TrailingDot;
    if (IsDeviceName(Name)) return TAlbumNameRule::DeviceName;
    return TAlbumNameRule::Valid;
}

const wchar_t* AlbumNameRuleKey(TAlbumNameRule Rule)
{
    switch (Rule) {
    case TAlbumNameRule::Valid: return L"";
    case TAlbumNameRule::Empty: return L"msgNameEmpty";
    case TAlbumNameRule::Characters: return L"msgNameCharacters";
    case TAlbumNameRule::DotName: return L"msgNameDots";
    case TAlbumNameRule::TrailingDot: return L"msgNameTrailing";
    case TAlbumNameRule::DeviceName: return L"msgNameDevice";
    }
    return L"";
}

// ---- staging ----------------------------------------------------------------

TAlbumStaging::TAlbumStaging(const std::wstring& AlbumPath)
    : album_(WithBackslash(AlbumPath)),
      work_(WithoutBackslash(AlbumPath) + L".velmo-new\\"),
      old_(WithoutBackslash(AlbumPath) + L".velmo-old\\")
{
}

TAlbumStaging::~TAlbumStaging()
{
    if (!published_) Discard();
}

bool TAlbumStaging::Create()
{
    // A file in the album folder's place could never be replaced by it.
    const DWORD attributes = ::GetFileAttributesW(WithoutBackslash(album_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    RemovePath(WithoutBackslash(work_));
    if (!::CreateDirectoryW(work_.c_str(), nullptr)) return false;
    const std::wstring probe = work_ + L"test.txt";
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return ::DeleteFileW(probe.c_str()) != 0;
}

bool TAlbumStaging::HasAlbum() const { return classlib::FileExists(album_ + L"index.html"); }

void TAlbumStaging::Discard() { RemovePath(WithoutBackslash(work_)); }

void TAlbumStaging::Publish()
{
    const std::wstring album = WithoutBackslash(album_);
    const DWORD attributes = ::GetFileAttributesW(album.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // No album folder yet: the work folder becomes it.
        if (!::MoveFileExW(WithoutBackslash(work_).c_str(), album.c_str(), 0)) RaiseMoveFailure(::GetLastError(), album);
        published_ = true;
        return;
    }

    RemovePath(WithoutBackslash(old_));
    if (!::CreateDirectoryW(old_.c_str(), nullptr)) RaiseMoveFailure(::GetLastError(), WithoutBackslash(old_));
    std::vector<std::wstring> previous;
    for (const std::wstring& name : Entries(album_))
        if (IsAlbumItem(name)) previous.push_back(name);
    std::vector<std::pair<std::wstring, std::wstring>> retired, placed;
    try {
        MoveEntries(previous, album_, old_, retired);
        MoveEntries(Entries(work_), work_, album_, placed);
    } catch (...) {
        UndoMoves(placed);
        UndoMoves(retired);
        ::RemoveDirectoryW(WithoutBackslash(old_).c_str());
        throw;
    }
    published_ = true;
    RemovePath(WithoutBackslash(old_));
    ::RemoveDirectoryW(WithoutBackslash(work_).c_str());
}

}  // namespace album
