// TShFolderObject: one shell folder and, optionally, one object in it.
// Enumerates the folder, reads an object's name, path, attributes, icons,
// overlay, info tip, column details and thumbnail, renames it and runs shell
// verbs on it or on several objects.
//
// Threads: it belongs to the thread that made it, which must have COM
// initialised and (for the desktop-folder calls) be the thread that started
// the namespace layer. The layer must stay started while the object lives.
//
// Ownership: the folder, object and absolute item lists are owned; every
// list handed out by a Get...IDList that returns TPidl is a copy owned by
// the caller, except GetAbsoluteObjectIDList (a cache owned here).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/Exceptions.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"

namespace classlib {
class TWinControl;
}
#include "controls/shell/ShComRef.h"
#include "controls/shell/ShNamespace.h"

namespace classlib {
class TBitmap;
class TPopupMenu;
}

namespace shell {

CLASSLIB_EXCEPTION(EShFolderObjectError, classlib::Exception);

class TShFolderObject;
class TShPathList;

// Command text; var execute (starts true).
using TOnContextMenuSelectEvent = classlib::TEvent<void(const std::wstring& command, bool& execute)>;
// Sender; command text; the paths it acts on (borrowed for the call); var
// allowExecute (starts true).
using TOnBeforeShellCommand =
    classlib::TEvent<void(TShFolderObject* sender, const std::wstring& command, TShPathList* paths, bool& allowExecute)>;

class TShFolderObject : public classlib::TComponent {
public:
    explicit TShFolderObject(classlib::TComponent* owner);
    ~TShFolderObject() override;
    std::wstring ClassName() const override { return L"TShFolderObject"; }

    // ---- folder and object
    // The folder's file-system path ending in "\" (a link folder of the
    // desktop's children gives its target); empty for virtual folders.
    std::wstring GetFolder();
    // Parses path; EShFolderObjectError (system text of error 3, line
    // break, path) when it cannot be parsed, the old path then stays.
    void SetFolder(const std::wstring& path);
    // Takes a copy of pidl (nil drops the folder). The same list object as
    // the current one only drops the enumeration. EShFolderObjectError when
    // the list cannot be bound as a folder.
    void SetFolderIDList(LPCITEMIDLIST pidl);
    TPidl GetFolderIDList() const;
    // The folder becomes every item but the last, the object the last one;
    // the empty list selects the desktop. Nil does nothing.
    void SetAbsoluteIDList(LPCITEMIDLIST pidl);
    // The current folder becomes the object inside its parent. Always true.
    bool SelectFolderInParent();
    TShellFolder GetSpecialFolder() const;
    // Ignored while loading for SF_FILESYSTEMFOLDER; failures are swallowed.
    void SetSpecialFolder(TShellFolder value);
    TShellFolder GetObjectSpecialFolder();
    // Takes a copy of pidl (relative to the folder; nil: no object).
    void SetObjectIDList(LPCITEMIDLIST pidl);
    TPidl GetObjectIDList() const;
    // The folder's list joined with the object's (the folder's alone without
    // an object); owned here, valid until the folder or object changes.
    LPCITEMIDLIST GetAbsoluteObjectIDList();
    LPCITEMIDLIST FolderIDList() const { return folderIDList_.get(); }
    LPCITEMIDLIST ObjectIDList() const { return objectIDList_.get(); }
    IShellFolder* ShellFolder() const { return shellFolder_.Get(); }

    std::wstring GetObjectName();
    // Empty: no object. A name: parsed in the folder, else looked up by
    // display name or name (EShFolderObjectError "Error! Cannot find
    // Object ..." when missing). A drive root: My Computer with the drive.
    // Any other path: its folder and its file name.
    void SetObjectName(const std::wstring& name);
    std::wstring GetObjectPath();
    bool IsObjectDriveRoot();
    std::wstring GetDisplayName();
    // The next object of the folder passing the filters; it becomes the
    // current object. False at the end (the enumeration is then closed).
    bool NextObject();
    // The object (a folder) becomes the folder; true when it was bound.
    bool OpenObjectAsFolder();

    // ---- attributes (false/0 without an object)
    ULONG GetAttributes(ULONG mask);
    bool IsFolder();
    bool HasSubFolders();
    bool IsHidden();
    bool IsLink();
    bool CanRename();
    std::wstring GetLinkTarget();
    std::wstring GetNetResourceName();
    // The last-write time of the find data (UTC, no local conversion); 0
    // when it cannot be read.
    classlib::TDateTime GetModifiedTime();
    // The object's find data, read once per object (zeroed when unreadable).
    const WIN32_FIND_DATAW& GetFindData();
    int GetOverlayIndex();
    std::wstring GetInfoTip(bool slow);
    int GetIconIndex();
    int GetOpenIconIndex();
    static int GetDesktopIconIndex();
    static std::wstring GetDesktopDisplayName();

    // ---- details
    // The alignment of a column (0 left, 1 right, 2 centre; 0 when it does
    // not exist) and its width in pixels (0 for a column off by default).
    int GetDetailsOf(int column, int& width);
    // A column's text for the object, or its title when header is true.
    std::wstring GetDetail(int column, bool header);

    // ---- commands
    // Renames the object through the shell; newName receives the new
    // display name. True when the shell did not fail.
    bool Rename(std::wstring& newName);
    // A UI object of the object or of MultiObjects (emptied afterwards);
    // EShFolderObjectError "No valid folder is currently assigned" without a
    // folder. On failure obj is null and the code is the thread's last error.
    HRESULT GetUIObjectOf(REFIID iid, void** obj);
    // Shows the shell context menu of the object (or of MultiObjects, which
    // is empty afterwards) at the screen point and runs the chosen entry.
    // Returns the verb that was chosen and run; empty when none was, when a
    // handler refused it, when running it failed, or for a "delete" after
    // which the object still exists. A verb refused by OnBeforeShellCommand
    // is returned but not run. Modal: returns when the menu has closed.
    //
    // menu (may be null, borrowed): its OnPopup fires first and copies of
    // its entries are shown with the shell's; the shell's entries go first
    // with ShowContextMenuOnTop, else after the entry item of menu (in the
    // same submenu) when given, else last. Choosing a copied entry clicks
    // the original entry and returns an empty verb.
    std::wstring ShowContextMenu(POINT point, classlib::TPopupMenu* menu = nullptr,
                                 classlib::TComponent* item = nullptr);
    // Runs a verb ("" for the default) without a menu. True on success.
    bool ExecuteCommand(const std::wstring& verb);
    // The window for shell calls (0 keeps the shell from showing dialogs).
    HWND OwnerWindow();
    // The control whose window owns the shell's dialogs, in place of the
    // application's (borrowed; the control owns this object, so it
    // outlives it). Its current window is used, so a re-created window
    // follows.
    void SetDialogOwner(classlib::TWinControl* control) { dialogOwner_ = control; }
    // A new bitmap (caller owns) or null.
    classlib::TBitmap* GetThumbnailBitmap(int width, int height, bool iconFallback);

    // ---- filter
    std::wstring GetFilter() const;
    void SetFilter(const std::wstring& value);
    bool MatchesFilterList();

    // ---- published
    bool GetFileSystemOnly() const { return fileSystemOnly_; }
    void SetFileSystemOnly(bool value) { fileSystemOnly_ = value; }
    classlib::TStringList* GetMultiObjects() const { return multiObjects_.get(); }
    // Takes ownership of a non-null list; null is ignored.
    void SetMultiObjects(classlib::TStringList* value);
    bool GetShowErrorMessages() const { return showErrorMessages_; }
    void SetShowErrorMessages(bool value) { showErrorMessages_ = value; }
    bool GetShowContextMenuOnTop() const { return showContextMenuOnTop_; }
    void SetShowContextMenuOnTop(bool value) { showContextMenuOnTop_ = value; }
    std::wstring GetVersion() const { return ClassName() + L" V1.0.0.0"; }
    void SetVersion(const std::wstring&) {}
    bool GetReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }

    classlib::TNotifyEvent OnRename;
    TOnContextMenuSelectEvent OnContextMenuSelect;
    TOnBeforeShellCommand OnBeforeShellCommand;

    void Loaded() override;

private:
    void DropEnumerator() { enumerator_.Reset(); }
    bool EnsureDetails();
    // The paths a command acts on: the MultiObjects entries, else the object.
    std::vector<std::wstring> CommandPaths();
    bool CallBeforeShellCommand(const std::wstring& verb, const std::vector<std::wstring>& paths);
    static LRESULT CALLBACK MenuWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::wstring ActionPath();
    // Runs the object with its type's default verb (working folder Folder);
    // true when the shell started it.
    bool RunDefaultVerb(const std::wstring& Folder);

    std::wstring folderPath_;
    bool folderPathValid_ = false;
    TPidl folderIDList_;
    TComRef<IShellFolder> shellFolder_;
    TPidl objectIDList_;
    TPidl absoluteObjectIDList_;
    TComRef<IEnumIDList> enumerator_;
    bool fileSystemOnly_ = false;
    std::unique_ptr<classlib::TStringList> multiObjects_;
    std::unique_ptr<classlib::TStringList> filterMasks_;
    TComRef<IShellDetails> shellDetails_;
    TComRef<IShellFolder2> shellFolder2_;
    bool detailsFailed_ = false;
    WIN32_FIND_DATAW findData_{};
    bool isLoaded_ = false;
    classlib::TWinControl* dialogOwner_ = nullptr;
    bool readOnly_ = false;
    int subFolderState_ = -1;
    // The object's attributes asked so far (knownAttributes_ the bits whose
    // answers attributes_ holds); reset with the object.
    ULONG knownAttributes_ = 0;
    ULONG attributes_ = 0;
    // Whether the folder being enumerated is the network's.
    bool enumInNetwork_ = false;
    bool showErrorMessages_ = true;
    bool showContextMenuOnTop_ = false;
    // Only while a context menu is shown.
    TComRef<IContextMenu2> contextMenu2_;
    HWND menuWindow_ = nullptr;
    struct TMergedMenu;
    TMergedMenu* mergedMenu_ = nullptr;
    void MenuSelect(WPARAM wParam, LPARAM lParam);
};

}  // namespace shell
