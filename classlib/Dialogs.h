// File dialogs over the system's open/save dialogs, and message boxes.
//
// TOpenDialog/TSaveDialog keep the dialog's settings; Execute shows the
// modal system dialog and, when the user accepts, sets FileName, Files and
// FilterIndex. Prepare builds the system's parameter block from the
// settings (what Execute passes), and the reading of the system's result
// is a separate routine, so both can be checked without showing a dialog.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Forms.h"
#include "classlib/StringList.h"

namespace classlib {

// Dialog options (bit flags).
using TOpenOptions = unsigned;
constexpr TOpenOptions ofReadOnly = 1u << 0;            // the read-only box is checked (in and out)
constexpr TOpenOptions ofOverwritePrompt = 1u << 1;     // save: ask before replacing a file
constexpr TOpenOptions ofHideReadOnly = 1u << 2;        // no read-only box
constexpr TOpenOptions ofNoChangeDir = 1u << 3;         // the current folder stays
constexpr TOpenOptions ofAllowMultiSelect = 1u << 4;    // several files may be chosen (Files)
constexpr TOpenOptions ofExtensionDifferent = 1u << 5;  // out: the name's extension is not DefaultExt
constexpr TOpenOptions ofPathMustExist = 1u << 6;
constexpr TOpenOptions ofFileMustExist = 1u << 7;
constexpr TOpenOptions ofCreatePrompt = 1u << 8;
constexpr TOpenOptions ofNoReadOnlyReturn = 1u << 9;
constexpr TOpenOptions ofNoTestFileCreate = 1u << 10;
constexpr TOpenOptions ofNoDereferenceLinks = 1u << 11;
constexpr TOpenOptions ofEnableSizing = 1u << 12;
constexpr TOpenOptions ofDontAddToRecent = 1u << 13;
constexpr TOpenOptions ofForceShowHidden = 1u << 14;
constexpr TOpenOptions ofShowHelp = 1u << 15;        // a Help button (the owner gets the dialog's help message)
constexpr TOpenOptions ofOldStyleDialog = 1u << 16;  // the classic dialog instead of the explorer style

// "Description|mask|Description|mask" -> the system's list of
// zero-terminated strings ending with an empty one. A description without
// its mask at the end is dropped; an empty filter gives an empty string.
std::wstring FilterToSystem(const std::wstring& Filter);
// The system's OFN_xxx flags of Options (the explorer style unless
// ofOldStyleDialog).
DWORD OpenOptionsToFlags(TOpenOptions Options);
// Reads the file buffer of an accepted dialog (Ofn.lpstrFile, at most
// Ofn.nMaxFile characters) into Files (full names). The dialog writes its
// answer over the initial name and ends it with one zero, so what follows
// may be the rest of a longer initial name: a single choice is read up to
// its first zero and nothing after it. Only a multiple choice (flag
// OFN_ALLOWMULTISELECT, and the folder ending right before nFileOffset) is
// the folder followed by the names, each zero-ended, and an empty string;
// names that are already full paths are kept as they are.
void ReadDialogFiles(const OPENFILENAMEW& Ofn, TStrings* Files);
// Moves Dialog (its size kept) so that it stands centred over its owner
// window, kept inside the owner's monitor's work area; nothing when it has
// no owner.
void CentreOverOwner(HWND Dialog);

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* AOwner);
    ~TOpenDialog() override;
    std::wstring ClassName() const override { return L"TOpenDialog"; }

    std::wstring FileName;
    std::wstring Filter;
    // 1-based index of the filter shown first (and chosen, after Execute).
    int FilterIndex = 1;
    // Added to names typed without an extension (without the dot).
    std::wstring DefaultExt;
    std::wstring InitialDir;
    std::wstring Title;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;
    // Every chosen file (full names) after Execute.
    TStrings* GetFiles() const { return files_.get(); }

    // The parameter block Execute passes, with the buffers it points into.
    struct TParams {
        OPENFILENAMEW Ofn{};
        std::wstring FilterBuffer;
        std::vector<wchar_t> FileBuffer;
    };
    // Fills P from the settings; Owner is the dialog's owner window.
    void Prepare(TParams& P, HWND Owner) const;
    // Takes the result of an accepted dialog: FileName, Files,
    // FilterIndex and the ofReadOnly / ofExtensionDifferent options.
    void Accept(const TParams& P);

    // Shows the dialog; true when the user accepted. Owner nullptr: the
    // active window. A failure of the dialog itself (not a cancel) raises
    // EOSError with the dialog's error code.
    virtual bool Execute(HWND Owner = nullptr);

protected:
    // The system dialog (comdlg32, loaded on first use).
    virtual BOOL RunDialog(OPENFILENAMEW* Ofn);

private:
    std::unique_ptr<TStringList> files_;
};

class TSaveDialog : public TOpenDialog {
public:
    explicit TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}
    std::wstring ClassName() const override { return L"TSaveDialog"; }

protected:
    BOOL RunDialog(OPENFILENAMEW* Ofn) override;
};

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons mbYes = 0x01;
constexpr TMsgDlgButtons mbNo = 0x02;
constexpr TMsgDlgButtons mbOK = 0x04;
constexpr TMsgDlgButtons mbCancel = 0x08;
constexpr TMsgDlgButtons mbAbort = 0x10;
constexpr TMsgDlgButtons mbRetry = 0x20;
constexpr TMsgDlgButtons mbIgnore = 0x40;
constexpr TMsgDlgButtons mbYesNo = mbYes | mbNo;
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;
constexpr TMsgDlgButtons mbAbortRetryIgnore = mbAbort | mbRetry | mbIgnore;

// The MessageBoxW style of a type and a button set (the nearest button
// combination the message box has; mbOK when none fits).
UINT MessageBoxStyle(TMsgDlgType DlgType, TMsgDlgButtons Buttons);
// A modal message box titled with the type's name ("Warning", "Error",
// "Information", "Confirm"; the application's title for mtCustom); returns
// the button pressed as a modal result.
TModalResult MessageDlg(const std::wstring& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
// A message box with an OK button, titled with the application's title.
void ShowMessage(const std::wstring& Msg);

// The system's colour picker (ChooseColorW). Execute shows it starting at
// Color; when the user accepts, Color is the chosen colour.
class TColorDialog : public TComponent {
public:
    explicit TColorDialog(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TColorDialog"; }

    TColor Color = clBlack;
    // Shows the dialog; true when the user accepted. Owner nullptr: the
    // active window. A failure of the dialog itself raises EOSError.
    virtual bool Execute(HWND Owner = nullptr);

private:
    COLORREF custom_[16] = {};
};

}  // namespace classlib
