#include "app/AlbumFolder.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"

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

// The file functions take X(Path) wherever a path may pass 260 characters.
std::wstring X(const std::wstring& Path) { return ExtendedPath(Path); }

bool Exists(const std::wstring& Path) { return ::GetFileAttributesW(X(Path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& Path)
{
    const DWORD attributes = ::GetFileAttributesW(X(Path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The names directly in Folder (without "." and "..").
std::vector<std::wstring> Entries(const std::wstring& Folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW(X(Folder + L"*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
    return names;
}

// The files below Folder (with backslash), as paths relative to it.
void FilesUnder(const std::wstring& Folder, const std::wstring& Prefix, std::vector<std::wstring>& Files)
{
    for (const std::wstring& name : Entries(Folder + Prefix)) {
        if (IsFolder(Folder + Prefix + name))
            FilesUnder(Folder, Prefix + name + L"\\", Files);
        else
            Files.push_back(Prefix + name);
    }
}

// Removes Path (a file, or a folder with everything in it); a missing path
// is no failure. False when something stays. Only for what the build wrote.
bool RemovePath(const std::wstring& Path)
{
    const std::wstring path = X(Path);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) != 0
                                                       : ::DeleteFileW(path.c_str()) != 0;
    const std::wstring folder = WithBackslash(Path);
    for (const std::wstring& name : Entries(folder)) RemovePath(folder + name);
    return ::RemoveDirectoryW(path.c_str()) != 0;
}

// Removes the empty folders at and below Path; files (and the folders that
// hold them) stay.
void RemoveEmptyFolders(const std::wstring& Path)
{
    if (!IsFolder(Path)) return;
    const std::wstring folder = WithBackslash(Path);
    for (const std::wstring& name : Entries(folder)) RemoveEmptyFolders(folder + name);
    ::RemoveDirectoryW(X(Path).c_str());
}

// Makes Root and the folders on the way to Root + Relative's parent.
void MakeParents(const std::wstring& Root, const std::wstring& Relative)
{
    ::CreateDirectoryW(X(Root).c_str(), nullptr);
    for (std::size_t at = Relative.find(L'\\'); at != std::wstring::npos; at = Relative.find(L'\\', at + 1))
        ::CreateDirectoryW(X(Root + Relative.substr(0, at)).c_str(), nullptr);
}

// Removes the folders on the way to Root + Relative's parent that are empty,
// deepest first.
void RemoveEmptyParents(const std::wstring& Root, const std::wstring& Relative)
{
    for (std::size_t at = Relative.rfind(L'\\'); at != std::wstring::npos && at > 0;
         at = Relative.rfind(L'\\', at - 1)) {
        ::RemoveDirectoryW(X(Root + Relative.substr(0, at)).c_str());
    }
}

bool ReadWhole(const std::wstring& Path, std::string& Bytes)
{
    HANDLE file = ::CreateFileW(X(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart < (int64_t{16} << 20);
    if (ok) {
        Bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        ok = Bytes.empty() || (::ReadFile(file, Bytes.data(), static_cast<DWORD>(Bytes.size()), &read, nullptr) &&
                               read == Bytes.size());
    }
    ::CloseHandle(file);
    return ok;
}

// Writes (or appends) Bytes through to the disk before returning.
bool WriteThrough(const std::wstring& Path, const std::string& Bytes, bool Append)
{
    HANDLE file = ::CreateFileW(X(Path).c_str(), Append ? FILE_APPEND_DATA : GENERIC_WRITE, 0, nullptr,
                                Append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr) &&
                    written == Bytes.size() && ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return ok;
}

std::vector<std::wstring> Lines(const std::string& Bytes)
{
    std::vector<std::wstring> lines;
    std::size_t from = 0;
    while (from < Bytes.size()) {
        std::size_t to = Bytes.find('\n', from);
        if (to == std::string::npos) to = Bytes.size();
        std::string line = Bytes.substr(from, to - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(classlib::Utf8ToWide(line));
        from = to + 1;
    }
    return lines;
}

// A relative path that stays inside the folder it is relative to.
bool IsInsidePath(const std::wstring& Relative)
{
    if (Relative.empty() || Relative.size() > 1024 || Relative[0] == L'\\' || Relative.find(L':') != std::wstring::npos)
        return false;
    const std::wstring framed = L"\\" + Relative + L"\\";
    return framed.find(L"\\..\\") == std::wstring::npos && framed.find(L"\\.\\") == std::wstring::npos &&
           framed.find(L"\\\\") == std::wstring::npos;
}

// index.html, index2.html, index3.html ...
bool IsPageName(const std::wstring& Name)
{
    const std::wstring upper = Upper(Name);
    if (upper == L"INDEX.HTML") return true;
    if (upper.size() > 10 && upper.compare(0, 5, L"INDEX") == 0 && upper.compare(upper.size() - 5, 5, L".HTML") == 0)
        return std::all_of(upper.begin() + 5, upper.end() - 5, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    return false;
}

// The names a build writes directly into the album folder.
bool IsAlbumItem(const std::wstring& Name)
{
    const std::wstring upper = Upper(Name);
    static const wchar_t* const kItems[] = {
        L"IMAGES",     L"THUMBNAILS", L"VIEWER",    L"FIRST.GIF",  L"PREV.GIF",   L"NEXT.GIF",  L"LAST.GIF",
        L"INDEX.GIF",  L"FIRST_D.GIF", L"PREV_D.GIF", L"NEXT_D.GIF", L"LAST_D.GIF"};
    for (const wchar_t* item : kItems)
        if (upper == item) return true;
    return IsPageName(Name) || upper == Upper(kAlbumManifestName);
}

// Text with its %XX escapes (UTF-8 bytes) decoded; "" when it has none or a
// broken one.
std::wstring PercentDecoded(const std::wstring& Text)
{
    if (Text.find(L'%') == std::wstring::npos) return std::wstring();
    std::string bytes;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != L'%') {
            bytes += classlib::WideToUtf8(std::wstring(1, Text[i]));
            continue;
        }
        if (i + 2 >= Text.size() || !std::iswxdigit(Text[i + 1]) || !std::iswxdigit(Text[i + 2])) return std::wstring();
        bytes += static_cast<char>(std::wcstol(Text.substr(i + 1, 2).c_str(), nullptr, 16));
        i += 2;
    }
    return classlib::Utf8ToWide(bytes);
}

// The relative paths a page names (attribute values, quoted strings and
// url(...) arguments) that are files in Folder.
void NamedFiles(const std::wstring& Folder, const std::wstring& Page, std::vector<std::wstring>& Files)
{
    std::size_t from = 0;
    while (from < Page.size()) {
        std::size_t to = Page.find_first_of(L"\"'()<>", from);
        if (to == std::wstring::npos) to = Page.size();
        std::wstring token = Page.substr(from, to - from);
        from = to + 1;
        token = token.substr(0, token.find_first_of(L"?#"));
        token = classlib::StringReplace(token, L"&amp;", L"&", classlib::rfReplaceAll);
        std::replace(token.begin(), token.end(), L'/', L'\\');
        for (const std::wstring& name : {token, PercentDecoded(token)}) {
            if (name.empty() || !IsInsidePath(name) || name.find_first_of(L"\r\n\t") != std::wstring::npos) continue;
            if (Exists(Folder + name) && !IsFolder(Folder + name)) Files.push_back(name);
        }
    }
}

[[noreturn]] void RaiseMoveFailure(DWORD Error, const std::wstring& Path)
{
    throw classlib::EInOutError(classlib::Trim(classlib::SysErrorMessage(Error)) + L" \"" + Path + L"\"");
}

const wchar_t kLockName[] = L"velmo-build.lock";
const char kJournalHead[] = "VELMO-SWAP 1";
const char kPlanEnd[] = "PLAN-END";
const char kCommit[] = "COMMIT";

// Thrown by a test's stop hook: the swap ends where it is, as if killed.
struct TStopped {};

// One step of a swap: a file of the previous album moves out ('R'), or a
// file of the new album moves in ('P').
struct TMove {
    wchar_t Kind;
    std::wstring Relative;
};

// A swap's journal as read back.
struct TJournal {
    bool Planned = false;    // the whole plan is in it
    bool Committed = false;  // every move was done
    int LastStep = 0;        // the last step entered (0: none)
    std::vector<TMove> Moves;
};

TJournal ReadJournal(const std::wstring& Path)
{
    TJournal journal;
    std::string bytes;
    if (!ReadWhole(Path, bytes)) return journal;
    const std::vector<std::wstring> lines = Lines(bytes);
    if (lines.empty() || lines[0] != classlib::Utf8ToWide(kJournalHead)) return journal;
    std::vector<TMove> moves;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (!journal.Planned) {
            if (line == classlib::Utf8ToWide(kPlanEnd)) {
                journal.Planned = true;
            } else if (line.size() > 2 && (line[0] == L'R' || line[0] == L'P') && line[1] == L' ' &&
                       IsInsidePath(line.substr(2))) {
                moves.push_back(TMove{line[0], line.substr(2)});
            } else {
                return TJournal();
            }
        } else if (line == classlib::Utf8ToWide(kCommit)) {
            journal.Committed = true;
        } else if (line.compare(0, 5, L"STEP ") == 0) {
            journal.LastStep = std::max(journal.LastStep, static_cast<int>(std::wcstol(line.c_str() + 5, nullptr, 10)));
        }
    }
    if (journal.Planned) journal.Moves = std::move(moves);
    return journal;
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

// ---- files --------------------------------------------------------------------

std::vector<std::wstring> FilesBelow(const std::wstring& Folder)
{
    std::vector<std::wstring> files;
    FilesUnder(WithBackslash(Folder), L"", files);
    return files;
}

bool CopyFolder(const std::wstring& Source, const std::wstring& Dest, std::wstring& Failed)
{
    const std::wstring from = WithBackslash(Source), to = WithBackslash(Dest);
    if (!IsFolder(from)) {
        Failed = WithoutBackslash(from);
        return false;
    }
    if (!::CreateDirectoryW(X(to).c_str(), nullptr) && !IsFolder(to)) {
        Failed = WithoutBackslash(to);
        return false;
    }
    for (const std::wstring& name : Entries(from)) {
        if (IsFolder(from + name)) {
            if (!CopyFolder(from + name, to + name, Failed)) return false;
        } else if (!::CopyFileW(X(from + name).c_str(), X(to + name).c_str(), FALSE)) {
            Failed = to + name;
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> MissingFiles(const std::wstring& Folder, const std::vector<std::wstring>& Names)
{
    const std::wstring folder = WithBackslash(Folder);
    std::vector<std::wstring> missing;
    for (const std::wstring& name : Names)
        if (!Exists(folder + name) || IsFolder(folder + name)) missing.push_back(name);
    return missing;
}

// ---- staging ----------------------------------------------------------------

std::function<bool(int Step)> TAlbumStaging::StopAfterStep;

std::wstring ExtendedPath(const std::wstring& Path)
{
    // Folders must leave room for an 8.3 name: 248 is the shorter limit.
    if (Path.size() < 248 || Path.compare(0, 4, L"\\\\?\\") == 0) return Path;
    const DWORD size = ::GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    if (size == 0 || ::GetFullPathNameW(Path.c_str(), size, full.data(), nullptr) == 0) return Path;
    full.resize(std::wcslen(full.c_str()));
    if (!Path.empty() && Path.back() == L'\\' && (full.empty() || full.back() != L'\\')) full += L'\\';
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

TAlbumStaging::TAlbumStaging(const std::wstring& AlbumPath)
    : album_(WithBackslash(AlbumPath)),
      work_(WithoutBackslash(AlbumPath) + L".velmo-new\\"),
      old_(WithoutBackslash(AlbumPath) + L".velmo-old\\"),
      journal_(WithoutBackslash(AlbumPath) + L".velmo-swap")
{
}

TAlbumStaging::~TAlbumStaging()
{
    if (!published_) Discard();
    Unlock();
}

std::wstring TAlbumStaging::WorkPath() const { return X(work_); }

void TAlbumStaging::Unlock()
{
    if (lock_ != INVALID_HANDLE_VALUE) ::CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
}

TStagingState TAlbumStaging::Create()
{
    // A file in the album folder's place could never be replaced by it.
    const std::wstring album = WithoutBackslash(album_);
    if (Exists(album) && !IsFolder(album)) return TStagingState::NotWritable;
    if (!::CreateDirectoryW(X(work_).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return TStagingState::NotWritable;
    lock_ = ::CreateFileW(X(work_ + kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock_ == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? TStagingState::Busy : TStagingState::NotWritable;

    try {
        Recover();
    } catch (...) {
        // The dead build's finished album stays in the work folder for a
        // later attempt: let go of the lock without removing anything.
        Unlock();
        throw;
    }
    for (const std::wstring& name : Entries(work_))
        if (Upper(name) != Upper(kLockName)) RemovePath(work_ + name);
    const std::wstring probe = work_ + L"test.txt";
    HANDLE file = ::CreateFileW(X(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return TStagingState::NotWritable;
    ::CloseHandle(file);
    return ::DeleteFileW(X(probe).c_str()) ? TStagingState::Ready : TStagingState::NotWritable;
}

bool TAlbumStaging::HasAlbum() const { return Exists(album_ + L"index.html"); }

bool TAlbumStaging::HoldsAlbumItems() const
{
    const std::vector<std::wstring> names = Entries(album_);
    return std::any_of(names.begin(), names.end(), IsAlbumItem);
}

std::vector<std::wstring> TAlbumStaging::PreviousFiles() const
{
    std::vector<std::wstring> files;
    std::string bytes;
    if (ReadWhole(album_ + kAlbumManifestName, bytes)) {
        for (const std::wstring& line : Lines(bytes))
            if (IsInsidePath(line) && Exists(album_ + line) && !IsFolder(album_ + line)) files.push_back(line);
        files.push_back(kAlbumManifestName);
    } else {
        // An album from before the record: its pages and what they name.
        for (const std::wstring& name : Entries(album_)) {
            if (!IsPageName(name) || IsFolder(album_ + name)) continue;
            files.push_back(name);
            if (ReadWhole(album_ + name, bytes)) NamedFiles(album_, classlib::Utf8ToWide(bytes), files);
        }
    }
    // Each once, whatever the case of its mentions.
    std::set<std::wstring> seen;
    std::vector<std::wstring> unique;
    for (const std::wstring& file : files)
        if (seen.insert(Upper(file)).second) unique.push_back(file);
    return unique;
}

std::vector<std::wstring> TAlbumStaging::ForeignFiles(const std::vector<std::wstring>& Names) const
{
    std::set<std::wstring> previous;
    for (const std::wstring& file : PreviousFiles()) previous.insert(Upper(file));
    std::vector<std::wstring> foreign;
    for (const std::wstring& name : Names)
        if (Exists(album_ + name) && !previous.count(Upper(name))) foreign.push_back(name);
    return foreign;
}

void TAlbumStaging::Discard()
{
    // Only the holder of the lock may remove the work folder.
    if (lock_ == INVALID_HANDLE_VALUE) return;
    Unlock();
    RemovePath(WithoutBackslash(work_));
}

namespace {

// Carries out a journalled swap from step First on (steps before it are
// done; step First itself may be). On a failing move the moves done are put
// back, the journal goes, and EInOutError is raised. Hook: the test's stop.
class TSwap {
public:
    TSwap(const std::wstring& Album, const std::wstring& Work, const std::wstring& Old, const std::wstring& Journal,
          std::vector<TMove> Moves)
        : album_(Album), work_(Work), old_(Old), journal_(Journal), moves_(std::move(Moves))
    {
    }

    static void Stop(int Step)
    {
        if (TAlbumStaging::StopAfterStep && TAlbumStaging::StopAfterStep(Step)) throw TStopped();
    }

    void Plan()
    {
        std::string text = std::string(kJournalHead) + "\r\n";
        for (const TMove& move : moves_)
            text += (move.Kind == L'R' ? "R " : "P ") + classlib::WideToUtf8(move.Relative) + "\r\n";
        text += std::string(kPlanEnd) + "\r\n";
        if (!WriteThrough(journal_, text, false)) {
            const DWORD error = ::GetLastError();
            ::DeleteFileW(X(journal_).c_str());
            RaiseMoveFailure(error, journal_);
        }
        Stop(0);
    }

    void Run(int First)
    {
        for (std::size_t i = static_cast<std::size_t>(std::max(First, 1)) - 1; i < moves_.size(); ++i) {
            const int step = static_cast<int>(i) + 1;
            if (step > First) Note("STEP " + std::to_string(step));
            const std::wstring from = From(moves_[i]), to = To(moves_[i]);
            if (Exists(from)) {
                MakeParents(moves_[i].Kind == L'R' ? old_ : album_, moves_[i].Relative);
                if (!::MoveFileExW(X(from).c_str(), X(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
                    const DWORD error = ::GetLastError();
                    Undo(i);
                    RaiseMoveFailure(error, from);
                }
            } else if (!Exists(to)) {
                Undo(i);
                RaiseMoveFailure(ERROR_FILE_NOT_FOUND, from);
            }
            Stop(step);
        }
        Note(kCommit);
        Stop(static_cast<int>(moves_.size()) + 1);
    }

    // After the commit: the previous album's files go, then the folders
    // they leave empty.
    void Finish()
    {
        const int step = static_cast<int>(moves_.size()) + 2;
        RemovePath(WithoutBackslash(old_));
        Stop(step);
        for (const TMove& move : moves_)
            if (move.Kind == L'R') RemoveEmptyParents(album_, move.Relative);
        Stop(step + 1);
    }

private:
    std::wstring album_, work_, old_, journal_;
    std::vector<TMove> moves_;

    std::wstring From(const TMove& Move) const { return (Move.Kind == L'R' ? album_ : work_) + Move.Relative; }
    std::wstring To(const TMove& Move) const { return (Move.Kind == L'R' ? old_ : album_) + Move.Relative; }

    void Note(const std::string& Line)
    {
        if (!WriteThrough(journal_, Line + "\r\n", true)) RaiseMoveFailure(::GetLastError(), journal_);
    }

    // Puts back the moves up to and including Last (those done), newest
    // first, and drops the journal: the previous album is whole again.
    void Undo(std::size_t Last)
    {
        for (std::size_t i = Last + 1; i-- > 0;) {
            const std::wstring from = From(moves_[i]), to = To(moves_[i]);
            if (Exists(to) && !Exists(from)) {
                MakeParents(moves_[i].Kind == L'R' ? album_ : work_, moves_[i].Relative);
                ::MoveFileExW(X(to).c_str(), X(from).c_str(), MOVEFILE_WRITE_THROUGH);
            }
        }
        RemoveEmptyFolders(WithoutBackslash(old_));
        ::DeleteFileW(X(journal_).c_str());
    }
};

}  // namespace

void TAlbumStaging::Recover()
{
    TJournal journal = ReadJournal(journal_);
    if (Exists(journal_)) {
        TSwap swap(album_, work_, old_, journal_, journal.Moves);
        if (journal.Planned && !journal.Committed) swap.Run(journal.LastStep);
        if (journal.Planned) swap.Finish();
        // A journal without its whole plan was cut off before any move.
        ::DeleteFileW(X(journal_).c_str());
    }
    RemovePath(WithoutBackslash(old_));
    // A finished album (its record written) that a dead build did not put
    // in place yet goes in now; anything else in the work folder was an
    // unfinished build's.
    if (Exists(work_ + kAlbumManifestName)) Swap(true);
}

void TAlbumStaging::Publish() { Swap(false); }

void TAlbumStaging::Swap(bool KeepLock)
{
    if (lock_ == INVALID_HANDLE_VALUE) throw classlib::EInOutError(L"The work folder is not locked \"" + work_ + L"\"");
    // The record of this build's files, itself among them; renamed into
    // place so that a record, when there, is whole.
    std::vector<std::wstring> placed;
    FilesUnder(work_, L"", placed);
    placed.erase(std::remove_if(placed.begin(), placed.end(),
                                [](const std::wstring& f) {
                                    return Upper(f) == Upper(kLockName) || Upper(f) == Upper(kAlbumManifestName);
                                }),
                 placed.end());
    placed.push_back(kAlbumManifestName);
    std::string record;
    for (const std::wstring& file : placed) record += classlib::WideToUtf8(file) + "\r\n";
    const std::wstring recordFile = work_ + kAlbumManifestName;
    if (!WriteThrough(recordFile + L".tmp", record, false) ||
        !::MoveFileExW(X(recordFile + L".tmp").c_str(), X(recordFile).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        RaiseMoveFailure(::GetLastError(), recordFile);

    if (!::CreateDirectoryW(X(album_).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseMoveFailure(::GetLastError(), album_);
    const std::vector<std::wstring> foreign = ForeignFiles(placed);
    if (!foreign.empty()) {
        std::wstring names;
        for (const std::wstring& name : foreign) names += (names.empty() ? L"\"" : L", \"") + album_ + name + L"\"";
        throw classlib::EInOutError(L"files that no album build wrote are in the way: " + names);
    }

    std::vector<TMove> moves;
    for (const std::wstring& file : PreviousFiles()) moves.push_back(TMove{L'R', file});
    for (const std::wstring& file : placed) moves.push_back(TMove{L'P', file});
    RemovePath(WithoutBackslash(old_));
    TSwap swap(album_, work_, old_, journal_, std::move(moves));
    try {
        TSwap::Stop(-1);
        swap.Plan();
        swap.Run(0);
        if (!KeepLock) published_ = true;
        swap.Finish();
    } catch (const TStopped&) {
        // As after a kill: nothing more happens, the lock goes with the process.
        Unlock();
        published_ = true;
        throw classlib::EAbort(L"The swap was stopped");
    }
    ::DeleteFileW(X(journal_).c_str());
    if (KeepLock) {
        for (const std::wstring& name : Entries(work_))
            if (Upper(name) != Upper(kLockName)) RemovePath(work_ + name);
        return;
    }
    Unlock();
    RemovePath(WithoutBackslash(work_));
}

}  // namespace album
