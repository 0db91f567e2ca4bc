// Routines and scope objects the folder tree and the file list share. Internal
// to the shell controls: nothing outside controls/shell includes it.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/ComObject.h"
#include "classlib/Controls.h"
#include "controls/shell/ShComRef.h"
#include "controls/shell/ShellBase.h"

namespace shell {

// The characters a file name cannot hold.
const wchar_t kInvalidNameCharacters[] = L"\\/:*?\"<>|";

// What a user is told when a name typed in place is refused: the names,
// the reason and what to do.
std::wstring RenameRefusal(const std::wstring& OldName, const std::wstring& NewName, DWORD Error);
std::wstring WithBackslash(std::wstring Path);
// A drive root keeps its backslash ("C:\").
std::wstring WithoutBackslash(std::wstring Path);
bool FolderExists(const std::wstring& Path);
bool LessNoCase(const std::wstring& a, const std::wstring& b);
// The masks of a ";"-separated list, trimmed, empty ones left out.
std::vector<std::wstring> SplitMasks(const std::wstring& Masks);

// A reference of our own to a borrowed interface.
template <class T>
TComRef<T> Share(T* p)
{
    if (p) p->AddRef();
    return TComRef<T>(p);
}

// Whether two lists relative to Folder name the same object.
bool SameObject(IShellFolder* Folder, LPCITEMIDLIST a, LPCITEMIDLIST b);

// A FILETIME as one number of 100 ns units.
std::uint64_t Ticks(const FILETIME& t);

// Merge sort by Compare (<0, 0, >0), stable, never leaving the range even
// when Compare contradicts itself (a folder's answers are not trusted).
void SafeStableSort(std::vector<int>& Order, const std::function<int(int, int)>& Compare);
// The user's comparison of two texts ignoring case (<0, 0, >0).
int CompareText(const std::wstring& a, const std::wstring& b);

// The file names on the clipboard (CF_HDROP); null when there are none or
// the clipboard cannot be opened.
std::unique_ptr<classlib::TStringList> ClipboardFiles();
// What a paste of Files did: a copy while the first of them is still where
// it was, else a move (the files were cut).
TShellOperations PasteKind(const classlib::TStringList* Files);
bool SameVerb(const std::wstring& a, const wchar_t* b);
// Only these modifier keys are down (mouse buttons do not count).
bool OnlyKeys(classlib::TShiftState Shift, classlib::TShiftState Keys);

// The mouse's side buttons with nothing else held: back and forward.
constexpr WPARAM kSideButtonBack = 0x10020;     // XBUTTON1, MK_XBUTTON1
constexpr WPARAM kSideButtonForward = 0x20040;  // XBUTTON2, MK_XBUTTON2
// The history step of a WM_XBUTTONDOWN's WParam: -1 back, 1 forward, 0
// for anything but exactly one side button with nothing else held.
constexpr int SideButtonStep(WPARAM WParam)
{
    return WParam == kSideButtonBack ? -1 : WParam == kSideButtonForward ? 1 : 0;
}

// The hourglass for a scope.
class THourglass {
public:
    THourglass() : old_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~THourglass() { ::SetCursor(old_); }
    THourglass(const THourglass&) = delete;
    THourglass& operator=(const THourglass&) = delete;

private:
    HCURSOR old_;
};

// Serves the messages waiting for this thread (a drop's shell work may
// have announced changes the controls should see before they refresh).
void ProcessPendingMessages();

// Turns a window's drawing off for a scope and repaints it whole after.
class TRedrawLock {
public:
    explicit TRedrawLock(classlib::TWinControl& Control) : window_(Control.GetHandle())
    {
        ::SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    }
    ~TRedrawLock()
    {
        if (!::IsWindow(window_)) return;
        ::SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(window_, nullptr, TRUE);
    }
    TRedrawLock(const TRedrawLock&) = delete;
    TRedrawLock& operator=(const TRedrawLock&) = delete;

private:
    HWND window_;
};

// Scrolls Window one line toward the edge a client point is near (25
// pixels from the left or right, 20 from the top or bottom) when that
// scroll bar has room to move.
void ScrollTowardEdge(HWND Window, POINT ClientPoint);

constexpr DWORD DragScrollInterval = 100;
constexpr DWORD DragHoverOpenDelay = 2000;

// The drop source of a control's own drags: it forwards to the control's
// virtual operations. Not reference counted (the control's lifetime; a
// drag ends before the control can go).
template <class Control>
class TForwardingDropSource : public classlib::TUncountedComObject<IDropSource, IID_IDropSource> {
public:
    explicit TForwardingDropSource(Control* Owner) : owner_(Owner) {}
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL EscapePressed, DWORD KeyState) override
    {
        return owner_->QueryContinueDrag(EscapePressed, KeyState);
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD Effect) override { return owner_->GiveFeedback(Effect); }

private:
    Control* owner_;
};

// A new object from the maker Event gives Sender (which starts as T's own);
// anything but a T (or nothing) raises EInvalidArgument with Error.
template <class T>
std::unique_ptr<T> MakeOfClass(const classlib::TCreateItemClassEvent& Event, classlib::TObject* Sender,
                               const wchar_t* Error)
{
    classlib::TObjectFactory make = [] { return static_cast<classlib::TObject*>(new T); };
    if (Event) Event(Sender, make);
    std::unique_ptr<classlib::TObject> object(make ? make() : nullptr);
    auto* made = dynamic_cast<T*>(object.get());
    if (!made) throw classlib::EInvalidArgument(Error);
    object.release();
    return std::unique_ptr<T>(made);
}

// The frame of a control's drop target: the data and keys of the drag in
// progress, scrolling toward an edge at a steady pace, and the run of a drop
// through the target that takes it. Not reference counted (the control's
// lifetime; the control revokes it with its window).
class TDropTargetFrame : public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
protected:
    // A drag entered: keeps its data and key state and starts the pace of
    // scrolling.
    void Enter(IDataObject* Data, DWORD KeyState)
    {
        if (Data) Data->AddRef();
        data_ = TComRef<IDataObject>(Data);
        keyState_ = KeyState;
        lastScroll_ = ::GetTickCount();
    }
    // Scrolls Window one line toward an edge the screen Point is near
    // (ScrollTowardEdge), at most once per DragScrollInterval.
    void ScrollWhenDue(HWND Window, POINTL Point)
    {
        const DWORD now = ::GetTickCount();
        if (now - lastScroll_ >= DragScrollInterval) {
            lastScroll_ = now;
            POINT client{Point.x, Point.y};
            ::ScreenToClient(Window, &client);
            ScrollTowardEdge(Window, client);
        }
    }
    // Asks Before (Sender; What, the node, item or control dropped on) and
    // then drops Data onto Target with the keys of the last DragOver;
    // Effect starts as what may be done and ends as what was. Dropped tells
    // whether Target saw the drop (false without a target or when the
    // handler refused; the effect is then none and the answer E_UNEXPECTED).
    HRESULT DropThrough(IDropTarget* Target, IDataObject* Data, POINTL Point, classlib::TStringList* Files,
                        const TOnBeforeShellDropEvent& Before, classlib::TObject* Sender, classlib::TObject* What,
                        DWORD& Effect, bool& Dropped)
    {
        bool execute = true;
        if (Target && Files) Before(Sender, What, Files, execute, keyState_);
        Dropped = Target && execute;
        if (!Dropped) {
            Effect = DROPEFFECT_NONE;
            return E_UNEXPECTED;
        }
        return Target->Drop(Data, keyState_, Point, &Effect);
    }

    TComRef<IDataObject> data_;
    DWORD keyState_ = 0;
    DWORD lastScroll_ = 0;
};

}  // namespace shell
