// The system image list and its icon routines, the path list handed to
// shell-command handlers, and the back/forward history of visited folders.
//
// Threads: the icon routines call SHGetFileInfoW and may run on any thread
// that initialised COM; the classes belong to the thread that uses them.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/ImageList.h"
#include "classlib/Lists.h"
#include "classlib/StringList.h"
#include "controls/shell/ShNamespace.h"

namespace classlib {
class TBitmap;
}

namespace shell {

enum TShImageListSize { si_small = 0, si_large = 1 };

// ---------------------------------------------------------------------------
// Icon routines. Every index is a position in the system image list (the
// same in its small and its large form); -1 means no icon.

// The icon of an absolute item list.
int GetPidlIconIndex(LPCITEMIDLIST pidl, TShImageListSize size, bool open);
// The icon of a path; with useAttributes the path is taken as a normal file
// that need not exist. -1 when the shell has no answer.
int GetPathIconIndex(const std::wstring& path, TShImageListSize size, bool useAttributes, bool open);
// The icon of a file of the extension (with or without its dot; empty for a
// file without one), named "test" on the system drive; the file need not exist.
int GetExtensionIconIndex(const std::wstring& ext, TShImageListSize size, bool open);
// The small closed icon of a plain folder, asked once per process and cached
// (open is only used while nothing is cached yet, and is then ignored).
int GetIconIndexOfFolder(bool open);
// The icon of a file or folder path; for a path the shell cannot answer, the
// folder icon for folders and servers/shares, else the icon of its extension.
int GetFileIconIndex(const std::wstring& path, TShImageListSize size, bool open);
// A new transparent bitmap (caller owns) of width x height, 32 bits per
// pixel on Vista and later (24 before), outlined in frameColor unless it is
// clNone, with image index of imageList drawn centred over backColor. Null
// when anything fails.
classlib::TBitmap* DrawIconBitmap(classlib::TCustomImageList* imageList, int height, int width,
                                  classlib::TColor backColor, classlib::TColor frameColor, int index);
// On Vista and later, gives imageList a new empty 32-bit handle of the same
// size, mask and growth (its images are dropped). EInvalidOperation
// "invalid imagelist" when no handle can be made.
void MakeImageList32(classlib::TCustomImageList* imageList);

// ---------------------------------------------------------------------------

// An image list showing the system image list in small or large size. With
// ShareImages (the default) the list borrows the system's handle and never
// destroys it; without, it holds its own copy of the images.
class TShSystemImageList : public classlib::TCustomImageList {
public:
    explicit TShSystemImageList(classlib::TComponent* owner);
    std::wstring ClassName() const override { return L"TShSystemImageList"; }

    TShImageListSize GetSize() const { return size_; }
    void SetSize(TShImageListSize value);
    bool GetShareImages() const { return classlib::TCustomImageList::GetShareImages(); }
    void SetShareImages(bool value);

    void Loaded() override;

protected:
    void UpdateHandle();

private:
    TShImageListSize size_ = si_small;
};

// ---------------------------------------------------------------------------

// A sorted list of normalised paths without duplicates (case ignored).
// With CheckExists (the default) only existing paths are accepted.
class TShPathList : public classlib::TStringList {
public:
    TShPathList();
    explicit TShPathList(const classlib::TStrings* list);
    explicit TShPathList(const std::wstring& path);
    std::wstring ClassName() const override { return L"TShPathList"; }

    bool CheckExists = true;
    // Becomes true once an added path is a network path; stays true.
    bool ContainsNetworkPath = false;
    // The path as it was passed in, and its index in the list.
    classlib::TEvent<void(const std::wstring& path, int index)> OnPathAdded;
    classlib::TEvent<void(const std::wstring& path, int index)> OnPathRemoved;

    // The normalised path's index, or -1 when it is refused or already held.
    int Add(const std::wstring& path) override;
    void Delete(int index) override;
    void InsertObject(int index, const std::wstring& path, classlib::TObject* object) override;

    // A drive root with its trailing backslash, any other path without.
    virtual std::wstring NormalizePath(const std::wstring& path) const;
    virtual bool AcceptPath(const std::wstring& path) const;

protected:
    void Put(int index, const std::wstring& path) override;
};

// ---------------------------------------------------------------------------

// The back/forward history of visited folders. Every entry is an absolute
// item list owned by the history (task allocator); Position is the current
// entry. The desktop folder of the namespace layer is used by Push.
class TPidlHistory : public classlib::TList {
public:
    TPidlHistory() = default;
    ~TPidlHistory() override;
    std::wstring ClassName() const override { return L"TPidlHistory"; }

    int Position = 0;

    // Appends pidl (the history takes it over) after dropping every entry
    // past Position; nil, and a list equal to the current entry, add nothing.
    virtual void Push(TPidl pidl);
    // Frees the entry's list and removes it.
    virtual void DeleteEntry(int index);
    // At most count steps, never beyond the last entry / below the first.
    virtual TPidlHistory& Forward(int count);
    virtual TPidlHistory& Back(int count);

    // The current entry (borrowed); nil for an empty history.
    LPCITEMIDLIST Current() const;
    // Frees every entry.
    void Clear() override;
};

}  // namespace shell
