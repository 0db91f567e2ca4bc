// The browse-for-folder dialog of the shell.
//
// TShBaseBrowseDialog wraps the system's modal folder picker. Set Title
// (the prompt above the tree) and Path (the folder to preselect), call
// Execute; on true, Path holds the chosen folder as the platform returns it
// (no trailing backslash except for a drive root). The last path chosen in
// any dialog of the process is the Path a new dialog starts with.
//
// Paths only: Path never holds a display name. When the chosen item has no
// file-system path (a virtual folder such as the Control Panel), Execute
// still returns true but Path is empty, SelectedSpecialFolder names the
// special folder (SF_FILESYSTEMFOLDER when it is none of them) and
// DisplayName holds the name the picker shows for it. A cancelled picker
// returns false and leaves Path and SelectedSpecialFolder as they were
// before Execute. A typed path that fails the picker's validation
// (bfReturnInvalidPath) sets ValidationFailed and leaves the typed text in
// Path. Execute is true exactly when the picker returned an item.
//
// Threads: main thread only; Execute runs a modal loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShellLink.h"

namespace shell {

enum TShBrowseFlag : std::uint8_t {
    bfNewDialogStyle,
    bfFileSystemOnly,
    bfBrowseIncludeFiles,
    bfEditBox,
    bfBrowseForComputer,
    bfReturnInvalidPath
};
using TShBrowseFlags = std::uint8_t;
constexpr TShBrowseFlags BrowseFlag(TShBrowseFlag f) { return TShBrowseFlags(1u << f); }

class TShBaseBrowseDialog : public TShBaseDialog {
public:
    explicit TShBaseBrowseDialog(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TShBaseBrowseDialog"; }

    const std::wstring& GetPath() const { return path_; }
    void SetPath(const std::wstring& Value) { path_ = Value; }
    const std::wstring& GetTitle() const { return title_; }
    void SetTitle(const std::wstring& Value) { title_ = Value; }
    TShellFolder GetRootedAt() const { return rootedAt_; }
    void SetRootedAt(TShellFolder Value) { rootedAt_ = Value; }
    // A folder of the file system the tree starts at (RootedAt becomes
    // SF_FILESYSTEMFOLDER); used only when it exists at Execute.
    const std::wstring& GetRootedAtFileSystemFolder() const { return rootedAtFs_; }
    void SetRootedAtFileSystemFolder(const std::wstring& Value);
    // bfEditBox brings bfNewDialogStyle; bfBrowseForComputer drops it;
    // without bfNewDialogStyle there is no edit box.
    TShBrowseFlags GetOptions() const { return options_; }
    void SetOptions(TShBrowseFlags Value);
    // Applied at once while the picker is open.
    const std::wstring& GetWindowTitle() const { return windowTitle_; }
    void SetWindowTitle(const std::wstring& Value);
    const std::wstring& GetDialogButtonCaption() const { return buttonCaption_; }
    void SetDialogButtonCaption(const std::wstring& Value);
    // The open picker's position, else the stored value (-1: centred).
    int GetDialogLeft() const;
    void SetDialogLeft(int Value);
    int GetDialogTop() const;
    void SetDialogTop(int Value);

    // The picker's window while it is open, else null.
    HWND GetDialogWindow() const { return dialogWindow_; }
    TShellFolder GetSelectedSpecialFolder() const { return selectedSpecial_; }
    // The picker's name of the last chosen item.
    const std::wstring& GetDisplayName() const { return displayName_; }
    bool GetOkEnabled() const { return okEnabled_; }
    bool GetValidationFailed() const { return validationFailed_; }

    // Owner window: the form the component belongs to (through windowed
    // controls), else the program's main form, else the active window.
    virtual bool Execute();
    virtual bool Execute(HWND ParentWnd);

    // The selection changed while the picker is open.
    classlib::TNotifyEvent OnChange;

    // The file-system path of an absolute list (a link folder gives its
    // target); empty when the item has none.
    static std::wstring DisplayPath(LPCITEMIDLIST Pidl);

protected:
    // Every message of the picker; answers 0.
    virtual int BrowseCallback(HWND Wnd, UINT Msg, LPARAM LParam);

private:
    static int CALLBACK StaticCallback(HWND Wnd, UINT Msg, LPARAM LParam, LPARAM Data);
    void EnableOk();
    void Place();

    std::wstring path_;
    std::wstring title_;
    TShellFolder rootedAt_ = SF_DESKTOP;
    HWND dialogWindow_ = nullptr;
    TShellFolder selectedSpecial_ = SF_FILESYSTEMFOLDER;
    int dialogTop_ = -1;
    int dialogLeft_ = -1;
    bool okEnabled_ = false;
    std::wstring windowTitle_;
    std::wstring buttonCaption_;
    TShBrowseFlags options_ = BrowseFlag(bfNewDialogStyle);
    std::wstring rootedAtFs_;
    bool validationFailed_ = false;
    std::wstring displayName_;
};

class TShBrowseForFolder : public TShBaseBrowseDialog {
public:
    explicit TShBrowseForFolder(classlib::TComponent* AOwner) : TShBaseBrowseDialog(AOwner) {}
    std::wstring ClassName() const override { return L"TShBrowseForFolder"; }
};

}  // namespace shell
