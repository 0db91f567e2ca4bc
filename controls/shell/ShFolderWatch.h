// Watches file-system folders for changes made by anyone: this program,
// other programs, or the host side of a drive Wine maps to the host.
//
// The shell's change registration reports only what is announced to it;
// this layer reads the file system's own change records
// (ReadDirectoryChangesW) on a thread of its own and tells the main thread
// which watched folders changed: it posts Message to Window once per batch,
// and the main thread then takes the batch with TakeChanged. A folder is
// watched alone (its subfolders are not), so a watch costs one handle
// whatever lies below it; at most MaxFolders folders are watched at once.
//
// A watched folder that goes away (deleted or renamed) is reported once as
// changed and is no longer watched.
//
// A folder added with Poll holds no handle: its last-write time, which
// changes whenever an entry is made, renamed or deleted in it, is compared
// on each turn of the watch thread (about twice a second); changes to the
// contents of its files are not seen. Under Wine a folder deleted through a
// Windows call goes only when every handle to it is closed, so a folder
// watched through a handle stays until its watch ends: folders that others
// may delete while they are watched (a tree's opened nodes) are polled.
//
// Threads: Add, Remove, Clear and TakeChanged belong to the thread that owns
// the object (the main thread); the watch thread only reads the records and
// posts. The destructor stops the watch thread and waits for it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "classlib/WinHandles.h"

namespace shell {

class TShFolderWatch {
public:
    static constexpr std::size_t MaxFolders = 512;

    TShFolderWatch(HWND Window, UINT Message);
    ~TShFolderWatch();
    TShFolderWatch(const TShFolderWatch&) = delete;
    TShFolderWatch& operator=(const TShFolderWatch&) = delete;

    // Watches Folder (counted: a folder added twice needs two Removes).
    // False when it cannot be opened as a folder or MaxFolders are watched.
    // A folder already watched keeps the way it was first added.
    bool Add(const std::wstring& Folder, bool Poll = false);
    // Drops one count of Folder; nothing when it is not watched.
    void Remove(const std::wstring& Folder);
    // Drops every watch.
    void Clear();
    // Drops the watches of Folder and of every folder below it, whatever
    // their counts (their handles would hold up a deletion of the folder:
    // under Wine a folder deleted through a Windows call goes only when
    // every handle to it is closed).
    void ForgetBelow(const std::wstring& Folder);
    bool Watching(const std::wstring& Folder) const;
    std::size_t GetCount() const { return counts_.size(); }

    // The folders that changed since the last call, each once, in no
    // particular order; allows the next post.
    std::vector<std::wstring> TakeChanged();

private:
    struct TEntry;
    struct TCommand {
        bool add;
        std::wstring key;
        std::wstring path;  // add: the folder as given, reported when it changes
        HANDLE dir;  // add: the opened folder, handed to the watch thread
        bool poll = false;
        FILETIME stamp{};  // add with poll: the folder's last-write time when added
    };
    struct TPolled {
        std::wstring path;
        FILETIME stamp;
    };

    static DWORD WINAPI ThreadMain(void* Self);
    static void CALLBACK Completed(DWORD Error, DWORD Bytes, OVERLAPPED* Overlapped);
    void Run();
    void ServeCommands();
    void PollFolders();
    bool Issue(TEntry* Entry);
    void Changed(const std::wstring& Folder);
    void Post(TCommand Command);
    bool StartThread();

    HWND window_;
    UINT message_;
    // Main thread: the watched folders (normalised key -> count).
    std::map<std::wstring, int> counts_;

    std::mutex lock_;                 // guards the members below
    std::vector<TCommand> commands_;  // main thread -> watch thread
    std::set<std::wstring> changed_;  // watch thread -> main thread
    bool posted_ = false;
    bool stopping_ = false;

    classlib::TOwnedKernelHandle wake_;
    classlib::TOwnedKernelHandle thread_;
    // Watch thread only.
    std::map<std::wstring, std::unique_ptr<TEntry>> entries_;
    std::vector<std::unique_ptr<TEntry>> closing_;
    std::map<std::wstring, TPolled> polled_;
};

}  // namespace shell
