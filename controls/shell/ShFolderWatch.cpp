#include "controls/shell/ShFolderWatch.h"

#include <algorithm>
#include <cwctype>

namespace shell {

namespace {

// Case-insensitive identity of a folder path (no trailing backslash except
// on a drive root).
std::wstring FolderKey(const std::wstring& Folder)
{
    std::wstring key = Folder;
    while (key.size() > 3 && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
    std::transform(key.begin(), key.end(), key.begin(), [](wchar_t c) { return wchar_t(std::towupper(c)); });
    return key;
}

constexpr DWORD kWatchedChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                  FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                  FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

// One watched folder, owned by the watch thread. The record buffer and the
// OVERLAPPED stay alive while a read is pending (pending true): the entry
// is freed only after its completion routine ran.
struct TShFolderWatch::TEntry {
    TShFolderWatch* owner = nullptr;
    std::wstring path;
    HANDLE dir = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    bool pending = false;
    bool closing = false;
    alignas(DWORD) BYTE records[8192];

    ~TEntry()
    {
        if (dir != INVALID_HANDLE_VALUE) ::CloseHandle(dir);
    }
};

TShFolderWatch::TShFolderWatch(HWND Window, UINT Message) : window_(Window), message_(Message) {}

TShFolderWatch::~TShFolderWatch()
{
    if (!thread_) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    ::SetEvent(wake_.Get());
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    // Folders handed over but never taken by the thread.
    for (TCommand& c : commands_)
        if (c.add && c.dir != INVALID_HANDLE_VALUE) ::CloseHandle(c.dir);
}

bool TShFolderWatch::StartThread()
{
    if (thread_) return true;
    wake_.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!wake_) return false;
    thread_.Reset(::CreateThread(nullptr, 0, &TShFolderWatch::ThreadMain, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

void TShFolderWatch::Post(TCommand Command)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        commands_.push_back(std::move(Command));
    }
    ::SetEvent(wake_.Get());
}

bool TShFolderWatch::Add(const std::wstring& Folder, bool Poll)
{
    if (Folder.empty()) return false;
    const std::wstring key = FolderKey(Folder);
    auto it = counts_.find(key);
    if (it != counts_.end()) {
        ++it->second;
        return true;
    }
    if (counts_.size() >= MaxFolders || !StartThread()) return false;
    if (Poll) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(key.c_str(), GetFileExInfoStandard, &data) ||
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        counts_.emplace(key, 1);
        Post({true, key, Folder, INVALID_HANDLE_VALUE, true, data.ftLastWriteTime});
        return true;
    }
    HANDLE dir = ::CreateFileW(key.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (dir == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(dir, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(dir);
        return false;
    }
    counts_.emplace(key, 1);
    Post({true, key, Folder, dir});
    return true;
}

void TShFolderWatch::Remove(const std::wstring& Folder)
{
    auto it = counts_.find(FolderKey(Folder));
    if (it == counts_.end()) return;
    if (--it->second > 0) return;
    Post({false, it->first, {}, INVALID_HANDLE_VALUE});
    counts_.erase(it);
}

void TShFolderWatch::Clear()
{
    for (auto& [key, count] : counts_) Post({false, key, {}, INVALID_HANDLE_VALUE});
    counts_.clear();
}

void TShFolderWatch::ForgetBelow(const std::wstring& Folder)
{
    if (Folder.empty()) return;
    const std::wstring key = FolderKey(Folder);
    const std::wstring below = key.back() == L'\\' ? key : key + L'\\';
    for (auto it = counts_.begin(); it != counts_.end();) {
        if (it->first == key || it->first.compare(0, below.size(), below) == 0) {
            Post({false, it->first, {}, INVALID_HANDLE_VALUE});
            it = counts_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TShFolderWatch::Watching(const std::wstring& Folder) const
{
    return counts_.count(FolderKey(Folder)) != 0;
}

std::vector<std::wstring> TShFolderWatch::TakeChanged()
{
    std::set<std::wstring> taken;
    {
        std::lock_guard<std::mutex> guard(lock_);
        taken.swap(changed_);
        posted_ = false;
    }
    return {taken.begin(), taken.end()};
}

void TShFolderWatch::Changed(const std::wstring& Folder)
{
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        changed_.insert(Folder);
        post = !posted_;
        posted_ = true;
    }
    if (post) ::PostMessageW(window_, message_, 0, 0);
}

DWORD WINAPI TShFolderWatch::ThreadMain(void* Self)
{
    static_cast<TShFolderWatch*>(Self)->Run();
    return 0;
}

bool TShFolderWatch::Issue(TEntry* Entry)
{
    Entry->overlapped = OVERLAPPED{};
    Entry->overlapped.hEvent = Entry;  // free for the caller's use with a completion routine
    Entry->pending = ::ReadDirectoryChangesW(Entry->dir, Entry->records, sizeof(Entry->records), FALSE,
                                             kWatchedChanges, nullptr, &Entry->overlapped,
                                             &TShFolderWatch::Completed) != FALSE;
    return Entry->pending;
}

void CALLBACK TShFolderWatch::Completed(DWORD Error, DWORD, OVERLAPPED* Overlapped)
{
    auto* entry = static_cast<TEntry*>(Overlapped->hEvent);
    entry->pending = false;
    if (entry->closing) return;
    if (Error == ERROR_OPERATION_ABORTED) return;
    TShFolderWatch* self = entry->owner;
    // A full buffer (no records) still means the folder changed.
    self->Changed(entry->path);
    if (Error != ERROR_SUCCESS || !self->Issue(entry)) {
        // The folder went away: it is reported once and no longer watched.
        entry->closing = true;
        auto it = self->entries_.find(FolderKey(entry->path));
        if (it != self->entries_.end()) {
            self->closing_.push_back(std::move(it->second));
            self->entries_.erase(it);
        }
    }
}

void TShFolderWatch::ServeCommands()
{
    std::vector<TCommand> commands;
    {
        std::lock_guard<std::mutex> guard(lock_);
        commands.swap(commands_);
    }
    for (TCommand& c : commands) {
        polled_.erase(c.key);
        if (c.add && c.poll) {
            polled_[c.key] = TPolled{c.path, c.stamp};
            continue;
        }
        auto it = entries_.find(c.key);
        if (it != entries_.end()) {
            // Replaced or removed: the old read is cancelled and its entry
            // freed once the cancellation arrived.
            it->second->closing = true;
            ::CancelIo(it->second->dir);
            closing_.push_back(std::move(it->second));
            entries_.erase(it);
        }
        if (!c.add) continue;
        auto entry = std::make_unique<TEntry>();
        entry->owner = this;
        entry->dir = c.dir;
        entry->path = c.path;
        if (Issue(entry.get()))
            entries_.emplace(c.key, std::move(entry));
    }
}

void TShFolderWatch::PollFolders()
{
    for (auto it = polled_.begin(); it != polled_.end();) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(it->first.c_str(), GetFileExInfoStandard, &data) ||
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            // Gone: reported once and no longer watched.
            Changed(it->second.path);
            it = polled_.erase(it);
            continue;
        }
        if (::CompareFileTime(&data.ftLastWriteTime, &it->second.stamp) != 0) {
            it->second.stamp = data.ftLastWriteTime;
            Changed(it->second.path);
        }
        ++it;
    }
}

void TShFolderWatch::Run()
{
    for (;;) {
        // Alertable: completion routines run inside this wait.
        ::WaitForSingleObjectEx(wake_.Get(), 500, TRUE);
        bool stop = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop = stopping_;
        }
        if (stop) break;
        ServeCommands();
        PollFolders();
        closing_.erase(std::remove_if(closing_.begin(), closing_.end(), [](const auto& e) { return !e->pending; }),
                       closing_.end());
    }
    for (auto& [key, entry] : entries_) {
        entry->closing = true;
        ::CancelIo(entry->dir);
        closing_.push_back(std::move(entry));
    }
    entries_.clear();
    // The cancellations arrive as completion routines; an entry whose
    // completion never comes is left allocated rather than freed under a
    // read the system may still write into.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 2000) {
        closing_.erase(std::remove_if(closing_.begin(), closing_.end(), [](const auto& e) { return !e->pending; }),
                       closing_.end());
        if (closing_.empty()) break;
        ::SleepEx(10, TRUE);
    }
    for (auto& e : closing_) (void)e.release();
    closing_.clear();
}

}  // namespace shell
