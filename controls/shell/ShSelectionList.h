// The checked-path set that the shell list and tree share in check-box mode.
//
// Paths holds the ticked paths compactly: a file path, or a folder followed
// by "\*" meaning the folder with everything in it. The list answers the
// tick state of any path (checked, unchecked, partly checked), keeps the
// entries compact as paths are ticked and unticked (a folder whose content
// is all ticked becomes one entry; unticking inside a ticked folder expands
// it) and keeps running totals of the ticked data. Folder sizes are counted
// by work items on the shell work pool, so the totals lag behind the entries;
// OnCompletedCalculateFiles fires each time a count has been applied.
//
// Threads: main thread only (the size results arrive there).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/StringList.h"

namespace shell {

enum TShSelectionState : std::uint8_t { ssUnused, ssNone, ssChecked, ssUnChecked, ssGrayed };

class TShFolderSizeWorkItem;

class TShBaseSelectionList : public classlib::TComponent {
public:
    explicit TShBaseSelectionList(classlib::TComponent* Owner);
    ~TShBaseSelectionList() override;
    std::wstring ClassName() const override { return L"TShBaseSelectionList"; }

    // From another selection list: its paths are checked one by one.
    void Assign(const classlib::TPersistent* Source) override;

    virtual std::wstring GetPath(int Index);
    // Cancels the size counts, clears Paths and checks every string of List.
    virtual void AssignPaths(const classlib::TStrings* List);
    virtual TShSelectionState GetState(const std::wstring& Path, bool& ByParent) = 0;
    virtual void Check(const std::wstring& Path) = 0;
    virtual void Uncheck(const std::wstring& Path) = 0;
    // Cancels the size counts and clears Paths.
    virtual void Clear();
    virtual void FindTopmostChecked(const std::wstring& Path, std::wstring& Top) = 0;

    // Drops the size counts still to come; the totals become 0.
    void CancelSizeWork();

    classlib::TStringList* GetPaths() const { return paths_.get(); }
    classlib::TComponent* GetOwnerComponent() const { return ownerComponent_; }
    std::int64_t TotalSize = 0;
    std::int32_t TotalFiles = 0;
    std::int32_t TotalFolders = 0;

protected:
    std::unique_ptr<classlib::TStringList> paths_;  // case ignored
    classlib::TComponent* ownerComponent_;
};

class TShSelectionList : public TShBaseSelectionList {
public:
    explicit TShSelectionList(classlib::TComponent* Owner);
    ~TShSelectionList() override;
    std::wstring ClassName() const override { return L"TShSelectionList"; }

    TShSelectionState GetState(const std::wstring& Path, bool& ByParent) override;
    TShSelectionState GetStateOfPath(const std::wstring& Path);
    TShSelectionState GetStateOfPidl(LPCITEMIDLIST Pidl, bool& ByParent);
    void Check(const std::wstring& Path) override;
    void Uncheck(const std::wstring& Path) override;
    void CheckPidl(LPCITEMIDLIST Pidl);
    void UncheckPidl(LPCITEMIDLIST Pidl);
    // Clears Paths and the totals.
    void Clear() override;
    void FindTopmostChecked(const std::wstring& Path, std::wstring& Top) override;
    // Moves the entries of OldPath and below it to NewPath.
    void RenamePath(const std::wstring& OldPath, const std::wstring& NewPath);

    void BeginUpdate() { Updating = true; }
    // Ends the update and reports the change.
    void EndUpdate();
    // A folder holding a "target.lnk" (a trailing "*" of Path ignored).
    static bool IsFolderShortcut(const std::wstring& Path);

    classlib::TNotifyEvent OnChange;
    classlib::TNotifyEvent OnCompletedCalculateFiles;
    bool Updating = false;
    bool ResolveFolderShortcuts = true;
    bool CalculateSizes = true;
    bool FollowReparsePoints = false;

protected:
    virtual void ExpandFolder(const std::wstring& Folder, const std::wstring& Except, std::wstring& Rest);
    // Turns Path into an entry (a folder gets "\*"); false when it is empty,
    // a dot name or does not exist.
    virtual bool NormalizeEntry(std::wstring& Path);
    virtual bool IsCoveredByParent(const std::wstring& Path);
    virtual TShSelectionState StateOf(const std::wstring& Path, bool& ByParent);
    virtual void RemoveBelow(const std::wstring& Path);
    virtual bool IsFullyChecked(const std::wstring& Path);
    virtual void FindTopmost(const std::wstring& Folder, const std::wstring& Path, std::wstring& Top);

private:
    friend class TSelectionSizeItem;
    void PathsChanged(classlib::TObject* Sender);
    void DeleteEntry(int Index, bool Subtract);
    void StartSizeWork(const std::wstring& Path, bool Negative);
    void SizeWorkDone(TShFolderSizeWorkItem* Item);
    void ResolveShortcut(std::wstring& Path) const;
    // The entry Path stands for (a shortcut resolved, then normalized) and
    // its state; false, and nothing else set, when Path makes no entry.
    bool EntryState(const std::wstring& Path, std::wstring& Entry, TShSelectionState& State, bool& ByParent);

    // Cleared when the list is destroyed; pending counts check it on the
    // main thread before they touch the list.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shell
