// The process-wide work pool of the shell controls and the work items they
// queue on it: thumbnails and icon indexes for the list and tree, and the
// size of a folder tree.
//
// Threads: every item's RunWork runs on a pool worker and touches only the
// item's own fields (and fresh shell folder objects); results reach the
// controls only in the work-done step, which the pool runs on the main
// thread. Controls create an item, hand it to ShellWorkPool()->AddWorkItem
// (the pool takes the reference) and cancel it by tag or group.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "controls/shell/ShNamespace.h"
#include "controls/shell/ThreadPool.h"

namespace classlib {
class TBitmap;
}

namespace shell {

// The pool every shell control queues its work on (workers initialise COM).
// Made on first use on the main thread; freed by ShutdownShellWorkPool.
TWorkerThreadPool* ShellWorkPool();
// Stops every worker (waiting for them, serving synchronised calls) and
// frees the pool; a later ShellWorkPool makes a new one. Main thread only.
void ShutdownShellWorkPool();
// Whether the pool exists (so that cancelling need not make one).
bool ShellWorkPoolExists();
// Registers the pool's shut-down with the class library's unit list.
void RegisterShellWorkUnit();

// Call-back of the list: receives a finished thumbnail. The viewer takes
// over Bitmap (which may be null when none could be made).
struct IThumbnailViewer : IUnknown {
    virtual void STDMETHODCALLTYPE SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex,
                                                classlib::TObject* Item) = 0;

protected:
    ~IThumbnailViewer() = default;
};
extern const IID IID_IThumbnailViewer;  // {FDA354CC-0B22-4B9A-A042-82FF537E8D6A}

// Call-back of the list and tree: receives an icon or overlay index.
struct IIconViewer : IUnknown {
    virtual void STDMETHODCALLTYPE SetIconIndex(int IconIndex, std::uint8_t Kind, classlib::TObject* Item) = 0;

protected:
    ~IIconViewer() = default;
};
extern const IID IID_IIconViewer;  // {639DC050-0BD1-4BDA-8D2F-B7FC0322943C}

// Makes the thumbnail of one item. Tag is the list item, GroupTag the list.
class TThumbnailWorkItem : public TBasicWorkItem {
public:
    // Copies Pidl; holds a reference to Viewer. Before Vista the process-wide
    // pool is limited to one thread (the platform's extractors are not safe
    // to run side by side there).
    TThumbnailWorkItem(LPCITEMIDLIST Pidl, bool IconFallback, classlib::TObject* Group, classlib::TObject* ATag,
                       int ImageIndex, IThumbnailViewer* Viewer, int Height, int Width);
    ~TThumbnailWorkItem() override;

    void RunWork() override;
    // Main thread: a terminated item frees Bitmap; otherwise the viewer
    // receives it.
    void WorkDone();

    int Width;
    int Height;
    classlib::TBitmap* Bitmap = nullptr;  // owned until handed to the viewer
    TPidl Pidl;                           // freed once RunWork has used it
    TComRef<IThumbnailViewer> Viewer;
    int ImageIndex;
    bool IconFallback;
};

// Finds the icon (Kind 0 closed, 2 open) or overlay index (Kind 1) of one
// item. Tag is the item or node, GroupTag the control (may be null).
class TIconWorkItem : public TBasicWorkItem {
public:
    // Takes over Pidl; holds a reference to Viewer. Path may be set later.
    TIconWorkItem(TPidl Pidl, classlib::TObject* Group, classlib::TObject* ATag, IIconViewer* Viewer,
                  std::uint8_t Kind);

    void RunWork() override;
    // Main thread: unless terminated, the viewer receives IconIndex.
    void WorkDone();

    std::wstring Path;
    int IconIndex = -1;
    TPidl Pidl;
    TComRef<IIconViewer> Viewer;
    std::uint8_t Kind;
};

// Adds up the size, files and folders below RootPath (RootPath itself counts
// as one folder, or as one file when it is a file). Factor is applied by the
// receiver (1 adds, -1 subtracts).
class TShFolderSizeWorkItem : public TBasicWorkItem {
public:
    TShFolderSizeWorkItem(const std::wstring& ARootPath, bool AFollowReparsePoints, bool ARecursive);

    void RunWork() override;

    std::int32_t Factor = 1;
    std::wstring RootPath;
    std::uint64_t Size = 0;
    std::int32_t FileCount = 0;
    std::int32_t FolderCount = 0;
    bool Recursive;
    // Reparse points (junctions, symbolic links) below the root are entered
    // only when this is set or the folder holding them was itself reached
    // through one; a target inside the root is never entered (no double
    // counting, no endless loops).
    bool FollowReparsePoints;

private:
    void ScanFolder(const std::wstring& Folder, bool FolderIsReparse, int Depth);
};

// The target of a junction or symbolic link with "\??\" removed; empty when
// it cannot be read.
std::wstring ReparseTarget(const std::wstring& Path);

}  // namespace shell
