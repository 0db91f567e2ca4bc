// Drives a running program from outside, through its windows only: the
// automation messages of its forms (classlib/Automation.h), text and button
// messages, list and tree messages whose structures live in memory
// allocated inside the program, and the message boxes and file dialogs it
// opens. Nothing here calls into the program's units.
//
// Waiting: every wait polls with a deadline and reports a timeout as false,
// so a program that hangs fails the test instead of blocking it.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// Polls Condition every 50 ms until it holds (true) or TimeoutMs passed.
bool WaitUntil(const std::function<bool()>& Condition, DWORD TimeoutMs);

std::wstring GetText(HWND Wnd);
// WM_SETTEXT: an edit control reports the change as typing would (EN_CHANGE).
void SetText(HWND Wnd, const std::wstring& Text);
std::string Utf8(const std::wstring& Text);
// Replaces the text of an edit control by typing Text into it (WM_CHAR; a
// line break is typed as Enter): for controls that report only typing, such
// as multi-line edits.
void TypeText(HWND Wnd, const std::wstring& Text);

// The running program: started with CreateProcess under the same
// wineserver, found by its main window (class TfrmMain) and closed with
// WM_CLOSE (or killed) when the object goes.
class TProgram {
public:
    TProgram() = default;
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Starts Exe and waits for its visible main window; false with Error set
    // when it does not come.
    bool Start(const std::wstring& Exe, std::wstring& Error);
    HWND Main() const { return main_; }
    HANDLE Process() const { return process_; }
    DWORD Pid() const { return pid_; }
    bool Running() const;

    // The window of the main form's component Name (nullptr: none, or not a
    // windowed control).
    HWND Find(const std::wstring& Name);
    // Clicks the component Name and waits for the click to finish; false
    // when the program refused (unknown, disabled or hidden).
    bool Click(const std::wstring& Name);
    // Clicks without waiting, for clicks that open modal windows.
    bool PostClick(const std::wstring& Name);
    // WM_CLOSE, answering any question on the way with Answer (IDYES: close
    // anyway), then waits for the end; false when the program had to be
    // killed.
    bool Close(int Answer, DWORD TimeoutMs, DWORD* ExitCode = nullptr);
    // Waits for the program to end by itself, answering questions as Close
    // does; false (and killed) when it does not end in time.
    bool WaitForEnd(int Answer, DWORD TimeoutMs, DWORD* ExitCode = nullptr);

private:
    ATOM Atom(const std::wstring& Name);

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
    std::map<std::wstring, ATOM> atoms_;
};

// Memory inside the program, for messages that carry pointers.
class TRemoteBuffer {
public:
    TRemoteBuffer(HANDLE Process, SIZE_T Size);
    ~TRemoteBuffer();
    TRemoteBuffer(const TRemoteBuffer&) = delete;
    TRemoteBuffer& operator=(const TRemoteBuffer&) = delete;
    LPARAM Address(SIZE_T Offset = 0) const { return reinterpret_cast<LPARAM>(static_cast<char*>(address_) + Offset); }
    void Write(const void* Data, SIZE_T Size, SIZE_T Offset = 0);
    void Read(void* Data, SIZE_T Size, SIZE_T Offset = 0) const;

private:
    HANDLE process_;
    void* address_;
};

// A list view control of the program.
int ListCount(HWND List);
std::wstring ListItemText(HANDLE Process, HWND List, int Index);
// The screen rectangle of item Index's text (empty when there is none).
RECT ListItemRect(HANDLE Process, HWND List, int Index);
// Selects (or deselects) item Index; -1 every item. The program sees the
// change as a user's selection.
void ListSelect(HANDLE Process, HWND List, int Index, bool Selected);
int ListSelectedCount(HWND List);
// The index of the item whose text ends with Suffix (ignoring case); -1.
int ListFind(HANDLE Process, HWND List, const std::wstring& Suffix);

// A combo box: selects item Index and tells the owner as a user's choice.
void ComboSelect(HWND Combo, int Index);

// A tree view of the program: expands the nodes down to Folder (a full
// path such as C:\a\b, matched against the node texts: a drive node shows
// "C:" or "... (C:)") and selects the last one. Trail reports the node texts
// walked, for a failure message.
bool TreeSelectPath(HANDLE Process, HWND Tree, const std::wstring& Folder, std::wstring& Trail);

// A dialog box of the program (message box or common dialog).
struct TDialog {
    HWND Wnd = nullptr;
    std::wstring Caption;
    std::wstring Text;  // the message of a message box
};
// The visible dialog boxes of process Pid.
std::vector<TDialog> Dialogs(DWORD Pid);
// Waits for a dialog box whose caption is Caption (any when empty).
bool WaitForDialog(DWORD Pid, const std::wstring& Caption, DWORD TimeoutMs, TDialog& Found);
// Presses the button of the dialog with this id (IDOK, IDYES ...); false when
// it has no such button.
bool PressButton(HWND Dialog, int Id);

// The visible top-level windows of process Pid with window class Class.
std::vector<HWND> TopWindows(DWORD Pid, const std::wstring& Class);

// A user's mouse, through the platform's input queue: the pointer moves to
// Screen, then the button events Buttons (MOUSEEVENTF_LEFTDOWN ...; none:
// only the move) happen there.
void RealMouse(POINT Screen, DWORD Buttons = 0);

// Saves the whole screen as a 24-bit BMP into the folder named by the
// environment variable VELMO_E2E_SHOTS (nothing when it is not set).
void Screenshot(const std::wstring& Name);

}  // namespace e2e
