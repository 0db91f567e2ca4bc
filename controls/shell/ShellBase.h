// The parts the folder tree and the file list share: the option set, the
// operations they report, the drop and drag answers, and the link client
// both derive from.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "classlib/ComCtrls.h"
#include "classlib/ComObject.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Hints.h"
#include "classlib/Menus.h"
#include "controls/shell/ShComRef.h"
#include "controls/shell/ShFolderObject.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShNotify.h"
#include "controls/shell/ShStateImages.h"
#include "controls/shell/ShellLink.h"

namespace classlib {
class TBitmap;
class TTimer;
}

namespace shell {

// The option set of the list and the tree (16 bits).
using ShellOptions = std::uint16_t;
enum TShellOption : ShellOptions {
    soShowNethood = 1 << 0,
    soShowRecycleBin = 1 << 1,
    soShowErrorMessages = 1 << 2,
    soShowHidden = 1 << 3,
    soShowFiles = 1 << 4,
    soShowContextMenuOnTop = 1 << 5,
    soColorCompressed = 1 << 6,
    soColorEncrypted = 1 << 7,
    soNoFillOnStartup = 1 << 8,
};

// What a control did to objects (a set of bits 0..9).
enum TShellOperation : std::uint8_t {
    sopCopy, sopMove, sopDrag, sopDrop, sopCut, sopPaste, sopDelete, sopRemove, sopAdd, sopRename
};
using TShellOperations = std::uint16_t;
constexpr TShellOperations OperationBit(TShellOperation o) { return TShellOperations(1u << o); }
// Sender; what was done; the paths it was done to (borrowed for the call);
// the destination folder ("" when none).
using TOnOperation = classlib::TEvent<void(classlib::TObject* Sender, TShellOperations Operation,
                                           classlib::TStringList* Files, const std::wstring& Destination)>;

// What a drop offers its target, and what a drag from a control allows.
enum TShCopyMode : std::uint8_t { cmDefault, cmCopy, cmMove, cmLink };
// The DROPEFFECT_ bits of a copy mode: copy, move and link for cmDefault,
// else the one effect.
DWORD CopyModeEffect(TShCopyMode Mode);
// Sender; the item record or node under the cursor, or the list itself for
// its background; the dropped file names (borrowed for the call); var
// ExecuteDrop (starts true; false refuses the drop); the MK_ key state of
// the last DragOver.
using TOnBeforeShellDropEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TObject* DropTarget,
                                                      classlib::TStringList* DroppedFiles, bool& ExecuteDrop,
                                                      int KeyState)>;
// What a finished drop of Files with Effect reports: copy [sopCopy,
// sopDrop], move [sopMove, sopDrop], link [sopDrop]; no effect (or one the
// target did not settle on) counts as a move only when the first file has
// left its place (a target that moved the files itself), else nothing (0).
TShellOperations DropOperations(DWORD Effect, const classlib::TStringList* Files);
// What a finished drag out of a control reports: copy [sopCopy, sopDrag],
// move [sopMove, sopRemove, sopDrag], link [sopDrag]; 0 for anything else.
TShellOperations DragOperations(DWORD Effect);
// The answer of a control's drop source for a drag made with DragButton (1
// left, 2 right): cancel on Esc or when a mouse button other than it (left,
// right or middle) is down; go on while it is down; drop once it is up.
HRESULT ContinueDragAnswer(BOOL EscapePressed, DWORD KeyState, int DragButton);
// A refusal told to the user: the handler gets the message; without one
// the control shows it in a message box.
using TRefusalEvent = classlib::TEvent<void(classlib::TObject* Sender, const std::wstring& Message)>;
// Hands Message to Handler, or shows it on Window (nothing when empty).
void TellRefusal(const TRefusalEvent& Handler, classlib::TObject* Sender, HWND Window, const std::wstring& Message);
// A call that tells Handler (a control's event, borrowed) of a refusal; it
// may outlive the control (a drop target OLE holds): it reaches Handler only
// while Window, which goes with the control, is alive.
std::function<void(const std::wstring&)> RefusalTeller(const TRefusalEvent& Handler, classlib::TObject* Sender,
                                                       HWND Window);

// A new drop target (the caller owns the reference) for the file-system
// folder Folder: files dropped onto it are copied, moved or linked there
// (DropEffectInto chooses the effect within what the source allows; after
// a drag with the right button the user chooses it, see AskDropEffect);
// Owner is the window of any shell dialog and of the menu. Drop answers
// S_OK with the effect done (none when nothing arrived or the user
// cancelled). A copy or move the shell refuses with an error (not one the
// user cancelled) is told to Refused with a message naming the folder and
// the reason (the shell's own error boxes stay off).
IDropTarget* NewFolderDropTarget(const std::wstring& Folder, HWND Owner,
                                 std::function<void(const std::wstring&)> Refused = {});
// Shows the drop menu of a right-button drag at At (screen) on Owner's
// thread and waits for the choice: "Copy Here", "Move Here", "Create
// Shortcuts Here", "Cancel"; entries outside Allowed are disabled, Default
// is the bold entry. Answers the chosen effect, or DROPEFFECT_NONE for
// "Cancel", a menu closed without a choice, or no window to show it on.
DWORD AskDropEffect(HWND Owner, POINT At, DWORD Allowed, DWORD Default);
// Makes a shell link in Folder to each of Files ("<name>.lnk", numbered
// when taken); true when at least one was written.
bool LinkInto(const classlib::TStringList* Files, const std::wstring& Folder);
// The effect of dropping files with KeyState (MK_ flags) when the source
// allows Allowed: Shift moves, Ctrl copies, both link, neither moves within
// a drive and copies across drives; when the source does not allow that,
// copy, then move, then link; DROPEFFECT_NONE when none is allowed.
DWORD ChooseDropEffect(DWORD KeyState, DWORD Allowed, bool SameDrive);
// The effect of dropping Files into Folder with KeyState within Allowed
// (ChooseDropEffect); none without files or folder and for a folder
// dropped onto itself or into its own tree; for files already in Folder
// none, or a link when the right button drags (MK_RBUTTON).
DWORD DropEffectInto(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder);
// Copies Files into Folder through the shell (moves them for
// DROPEFFECT_MOVE); true when it went through and something arrived.
// Error (when given) receives the shell's answer on failure: 0 when nothing
// arrived without an error, ERROR_CANCELLED when the user cancelled.
bool CopyOrMoveInto(HWND Owner, const classlib::TStringList* Files, const std::wstring& Folder, DWORD Effect,
                    DWORD* Error = nullptr);
// What a user is told when a drop of Count objects into Folder with Effect
// failed with Error.
std::wstring DropRefusal(DWORD Effect, int Count, const std::wstring& Folder, DWORD Error);

// Sender; item index; object path; the new state.
using TOnCheckStateChanged =
    classlib::TEvent<void(classlib::TObject* Sender, int ItemIndex, const std::wstring& Path, TShSelectionState State)>;

// Whether the browser's current object shows with Options: hidden objects
// only with soShowHidden; the network folders only with soShowNethood; the
// recycle bin (and hidden objects named "RECYCL...") only with
// soShowRecycleBin; files only with soShowFiles.
bool IsShownObject(TShFolderObject& Browser, ShellOptions Options);
// The text colour of an object by its flags (TShellListItem::Flags): blue
// when compressed with soColorCompressed, green when encrypted with
// soColorEncrypted; CLR_INVALID for the usual colour.
COLORREF AttributeTextColor(std::uint8_t Flags, ShellOptions Options);

// The shared part of the tree and the list: the link registration and the
// icons looked up in the background (out of the small system image list).
class TShellLinkClient : public classlib::TUncountedComObject<IShellControl, IID_IShellControl> {
public:
    void STDMETHODCALLTYPE SetShellLink(TShellLink* Link) override;
    TShellLink* STDMETHODCALLTYPE GetShellLink() override { return link_; }

protected:
    TShellLinkClient();
    ~TShellLinkClient();
    // A finished lookup of QueueIcon, on the main thread: Kind 0 the closed,
    // 1 the overlay, 2 the open icon of the item or node Tag. Never called
    // for work that was cancelled, nor after DetachIcons.
    virtual void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) = 0;
    // Queues the lookup of the icon of the absolute list Pidl (taken over)
    // for Tag; Group is the control.
    void QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, TPidl Pidl, std::uint8_t Kind);
    // Cancels the queued and running lookups of Owner and/or Group.
    static void CancelWork(classlib::TObject* Owner, classlib::TObject* Group);
    // The first step of a control's destructor: no lookup reaches it after.
    void DetachIcons();
    HIMAGELIST SmallIcons() const { return smallIcons_->GetHandle(); }
    // The folder of an absolute item list ("" when it has no file-system
    // path).
    static std::wstring PathOfPidl(LPCITEMIDLIST Pidl);

    TShellLink* link_ = nullptr;

private:
    // The namespace layer stays started while a control lives (counted:
    // the program's own start-up is not disturbed).
    TShellScope shellScope_;
    class TIconSink;
    // Reference counted: a finished work item may still hold it after the
    // control is gone (it then forwards nothing).
    TIconSink* iconSink_;
    std::unique_ptr<TShSystemImageList> smallIcons_;
};


// The option set of a control (the tree or the list) with a named accessor
// for each option, and the font and look both take from the system.
// Control declares SetShellOptions and SetOption, which decide what a change
// reads again; the named setters go through its SetOption.
template <class Control>
class TShellOptionAccess {
public:
    ShellOptions GetShellOptions() const { return options_; }
    bool GetOption(TShellOption Option) const { return (options_ & Option) != 0; }
    bool GetShowHidden() const { return GetOption(soShowHidden); }
    void SetShowHidden(bool Value) { Self().SetOption(soShowHidden, Value); }
    bool GetShowFiles() const { return GetOption(soShowFiles); }
    void SetShowFiles(bool Value) { Self().SetOption(soShowFiles, Value); }
    bool GetShowNethood() const { return GetOption(soShowNethood); }
    void SetShowNethood(bool Value) { Self().SetOption(soShowNethood, Value); }
    bool GetShowRecycleBin() const { return GetOption(soShowRecycleBin); }
    void SetShowRecycleBin(bool Value) { Self().SetOption(soShowRecycleBin, Value); }
    bool GetShowErrorMessages() const { return GetOption(soShowErrorMessages); }
    void SetShowErrorMessages(bool Value) { Self().SetOption(soShowErrorMessages, Value); }
    // Compressed objects are drawn in blue, encrypted ones in green.
    bool GetColorCompressed() const { return GetOption(soColorCompressed); }
    void SetColorCompressed(bool Value) { Self().SetOption(soColorCompressed, Value); }
    bool GetColorEncrypted() const { return GetOption(soColorEncrypted); }
    void SetColorEncrypted(bool Value) { Self().SetOption(soColorEncrypted, Value); }
    // What it means is the control's (see its SetShellOptions).
    bool GetNoFillOnStartup() const { return GetOption(soNoFillOnStartup); }
    void SetNoFillOnStartup(bool Value) { Self().SetOption(soNoFillOnStartup, Value); }
    // The system's icon-title font, applied when the form has loaded and
    // when set to true (default true).
    bool GetUseSystemFont() const { return useSystemFont_; }
    void SetUseSystemFont(bool Value)
    {
        useSystemFont_ = Value;
        if (Value) GetIconTitleFont(*Self().GetFont());
    }
    // The platform's explorer look for the window, given when the window is
    // first made (default true; set before).
    bool GetUseSystemStyles() const { return useSystemStyles_; }
    void SetUseSystemStyles(bool Value) { useSystemStyles_ = Value; }

protected:
    explicit TShellOptionAccess(ShellOptions Initial) : options_(Initial) {}
    ~TShellOptionAccess() = default;

    ShellOptions options_;
    bool useSystemFont_ = true;
    bool useSystemStyles_ = true;

private:
    Control& Self() { return static_cast<Control&>(*this); }
};

}  // namespace shell
