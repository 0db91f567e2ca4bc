// Forms, the application object and the screen.
//
// TCustomForm is a top-level window control. It starts hidden; Visible
// true shows it without activating it, Show shows and activates it, Hide
// hides it. Close asks OnCloseQuery, then OnClose decides what closing
// means (TCloseAction): hide (the default), free (the form is deleted when
// the message loop next runs, see Release), minimise or nothing. Closing
// the application's main form terminates the application instead.
// ShowModal shows the form with the program's other windows disabled and
// runs a message loop (which also serves the calls synchronised from
// threads) until ModalResult becomes non-zero and the close is allowed; it
// returns that ModalResult. Close on a modal form sets mrCancel.
//
// OnCreate runs once, after the constructors (TApplication::CreateForm runs
// it; a form made otherwise runs it at its first Show/ShowModal/Visible).
// OnDestroy runs at the start of the destructor: handlers bound to the
// derived form itself must not rely on the derived members any more.
//
// TApplication (global Application) owns the forms of CreateForm; the first
// one becomes MainForm. Run shows the main form and serves messages and
// synchronised calls until Terminate (closing the main form calls it).
// Exceptions that escape message handlers, the loops or synchronised calls
// go to HandleException: the OnException of the TApplicationEvents
// components (creation order) when any has one, else the application's
// OnException, else a message box (EAbort is silent).
//
// The message loops (Run, HandleMessage, ProcessMessages, ShowModal) handle
// Tab and Shift+Tab as the dialog manager does: a key the focused window
// does not want (WM_GETDLGCODE) moves the focus along the tab order of its
// form, without a tab character following it. Alt+character goes to the
// form's controls as CM_DIALOGCHAR (Controls.h). A minimised form keeps its
// bounds and the layout of its controls.
//
// TScreen (global Screen) lists the forms and tracks the active one; its
// Cursor, when not crDefault, is shown over every window of the program.
//
// Threads: everything here belongs to the main thread, except Terminate,
// which may be called from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Exceptions.h"
#include "classlib/Hints.h"

namespace classlib {

class TCustomForm;
class TApplicationEvents;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = IDOK;
constexpr TModalResult mrCancel = IDCANCEL;
constexpr TModalResult mrAbort = IDABORT;
constexpr TModalResult mrRetry = IDRETRY;
constexpr TModalResult mrIgnore = IDIGNORE;
constexpr TModalResult mrYes = IDYES;
constexpr TModalResult mrNo = IDNO;
constexpr TModalResult mrAll = mrNo + 1;
constexpr TModalResult mrNoToAll = mrAll + 1;
constexpr TModalResult mrYesToAll = mrNoToAll + 1;
constexpr TModalResult mrClose = mrYesToAll + 1;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TEvent<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = TEvent<void(TObject* Sender, bool& CanClose)>;
using TExceptionEvent = TEvent<void(TObject* Sender, Exception& E)>;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 0x01;
constexpr TBorderIcons biMinimize = 0x02;
constexpr TBorderIcons biMaximize = 0x04;
constexpr TBorderIcons biHelp = 0x08;

// Where a form goes when shown: its own bounds, the system's default place
// and size, the centre of the screen (poDesktopCenter: the same, for the
// primary screen), the centre of the main form (of the screen for the main
// form itself).
enum TPosition { poDesigned, poDefault, poScreenCenter, poDesktopCenter, poMainFormCenter };

// Posted to a form by Release; the form deletes itself when it arrives.
constexpr UINT CM_RELEASE = 0xB021;
// What the application offers the hooks of its main window (HookMainWindow):
// CM_APPKEYDOWN for every key press the message loop takes (LParam: the
// MSG), CM_APPSYSCOMMAND for the menu key of a form (WM_SYSCOMMAND with
// SC_KEYMENU; LParam: the form's TMessage, whose Result the hook sets).
constexpr UINT CM_APPKEYDOWN = 0xB016;
constexpr UINT CM_APPSYSCOMMAND = 0xB017;

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* AOwner);
    ~TCustomForm() override;
    std::wstring ClassName() const override { return L"TCustomForm"; }

    std::wstring GetCaption() const;
    void SetCaption(const std::wstring& Value);
    TBorderIcons GetBorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons Value);
    TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle Value);
    TPosition GetPosition() const { return position_; }
    void SetPosition(TPosition Value) { position_ = Value; }
    // The form sees the keys of its controls before they do.
    bool KeyPreview = false;

    TModalResult GetModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult Value) { modalResult_ = Value; }
    bool Modal() const { return modal_; }

    // The control inside the form that has (or gets, on activation) the
    // focus; it must be inside the form (EInvalidOperation).
    TWinControl* GetActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* Value);
    // Whether the form's window is the active window.
    bool Active() const;

    // Without a window the client area is the bounds less the frame the
    // window will have (caption and borders of the border style).
    RECT GetClientRect() const override;
    void SetVisible(bool Value) override;
    void Show();
    void Hide() { SetVisible(false); }
    void Close();
    // OnCloseQuery's answer (true when not assigned).
    virtual bool CloseQuery();
    TModalResult ShowModal();
    // Deletes the form once the messages already posted to it are handled
    // (safe from the form's own handlers).
    void Release();
    // Runs OnCreate unless it ran already.
    void DoCreate();
    // The idle refresh of actions: InitiateAction of the form and of every
    // visible control inside it with csActionClient (depth first, child
    // order; the controls inside a hidden control are skipped).
    virtual void UpdateActions();

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

protected:
    void CreateParams(TCreateParams& Params) override;
    void CreateHandleDone() override;
    void Dispatch(TMessage& Message) override;
    bool WantsKeyPreview() const override { return KeyPreview; }
    void FocusChanged(TWinControl* Control) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    virtual void DoClose(TCloseAction& Action);
    virtual void DoShow();
    virtual void DoHide();
    virtual void Activate();
    virtual void Deactivate();

private:
    // A frame the user cannot size and no maximise box: a maximise request
    // (system command, ShowWindow) leaves the window as it is.
    bool FixedFrame() const;
    void ApplyPosition();
    void SetWindowVisible(bool Value, int ShowCommand);
    bool CloseModal();

    std::wstring caption_;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TFormBorderStyle borderStyle_ = bsSizeable;
    TPosition position_ = poDesigned;
    TModalResult modalResult_ = mrNone;
    bool modal_ = false;
    bool created_ = false;
    bool released_ = false;
    TWinControl* activeControl_ = nullptr;
};

class TForm : public TCustomForm {
public:
    explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
    std::wstring ClassName() const override { return L"TForm"; }
};

// The form a control is in (its topmost parent when that is a form).
TCustomForm* GetParentForm(TControl* Control);

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* AOwner);
    ~TApplication() override;
    std::wstring ClassName() const override { return L"TApplication"; }

    // Starts the libraries registered with RegisterUnit (Startup.h) in their
    // order, then runs the application-initialisation hooks (AddInitProc).
    // Only the first call does the work; a start-up that raises leaves the
    // application uninitialised and passes the exception on.
    void Initialize();
    // Frees the forms the application owns, then shuts the started
    // libraries down in the reverse order. Nothing before Initialize.
    void Finalize();
    bool Initialized() const { return initialized_; }
    // Makes a form of class T owned by the application, stores it in
    // *Reference (when given) before OnCreate runs, runs OnCreate; the first
    // form made so becomes MainForm.
    template <class T>
    T* CreateForm(T** Reference = nullptr)
    {
        T* form = new T(this);
        if (Reference) *Reference = form;
        form->DoCreate();
        if (!mainForm_) mainForm_ = form;
        return form;
    }
    TCustomForm* GetMainForm() const { return mainForm_; }

    // Shows the main form (when there is one) and serves messages and
    // synchronised calls until Terminated.
    void Run();
    // Handles every pending message, then the pending synchronised calls.
    void ProcessMessages();
    // Handles one message, or waits for a message or a synchronised call
    // and serves it. Before it waits (the queue is empty) the application
    // is idle: Idle runs.
    void HandleMessage();
    // The idle work: UpdateActions of every visible, enabled form.
    void Idle();
    void Terminate();
    bool Terminated() const { return terminated_; }

    // Call inside a catch block: routes the current exception (see the
    // header comment). Sender is passed to the handler.
    void HandleException(TObject* Sender);
    // The default report: a message box with the exception's message.
    void ShowException(Exception& E);

    // Hooks of the main window: each answers whether it handled the
    // message; the first that does ends the round (and the message is not
    // dispatched further). A hook may remove itself while it runs.
    using TWindowHook = TEvent<bool(TMessage& Message)>;
    void HookMainWindow(const TWindowHook& Hook);
    void UnhookMainWindow(const TWindowHook& Hook);
    bool CallMainWindowHooks(TMessage& Message);

    std::wstring Title;
    // The full path of the program file.
    std::wstring ExeName() const;
    TExceptionEvent OnException;

    // Help requests: OnHelp(Command, Data, CallHelp) answers them; the
    // program has no help file of its own, so an unanswered request shows
    // nothing. HelpContext asks with HELP_CONTEXT and the context number
    // and returns OnHelp's answer (false without a handler).
    using THelpEvent = TEvent<bool(uint16_t Command, intptr_t Data, bool& CallHelp)>;
    THelpEvent OnHelp;
    bool HelpContext(int Context);

    // Hints (see Hints.h and the comment in Controls.h). The status hint:
    // the long hint of the control under the pointer, also set by menus
    // and by the program; OnHint fires after each change of the text.
    const std::wstring& GetHint() const { return hint_; }
    void SetHint(const std::wstring& Value);
    TNotifyEvent OnHint;
    // Whether hint windows show at all (false cancels a shown one).
    bool GetShowHint() const { return showHint_; }
    void SetShowHint(bool Value);
    // Menu hints name the entry's shortcut: "Open (Ctrl+O)".
    bool HintShortCuts = true;
    // Milliseconds the pointer rests before a hint shows; HintShortPause
    // when it moves on from a shown hint to the next; HintHidePause until a
    // shown hint hides (0 or less: it stays until the pointer moves off).
    int HintPause = 500;
    int HintShortPause = 50;
    int HintHidePause = 2500;
    // Hides the hint, shown or pending; the next move starts anew.
    void CancelHint();
    // The hint tracking of a mouse message of Control (client coordinates
    // of Control): a move onto a control with ShowHint (or out of the
    // cursor rectangle of the current hint) starts the pause of the next
    // hint, a move onto nothing with ShowHint or any other message cancels
    // the hint. Controls call it for the moves they receive; a loop that
    // holds the mouse capture calls it for the windows under the pointer.
    void HintMouseMessage(TControl* Control, TMessage& Message);
    // Shows the hint of the current hint control now (CursorPos: the
    // pointer on the screen; a pending hint uses the pointer of the last
    // tracked move): CM_HINTSHOW, then the hint window. A pointer no longer
    // over that control cancels the hint instead.
    void ActivateHint(POINT CursorPos);
    // The hint window (made on first need, owned by the application).
    THintWindow* GetHintWindow();
    // The control the current hint is for (nullptr: none shown or pending).
    TControl* GetHintControl() const { return hintControl_; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TApplicationEvents;
    friend class TCustomForm;
    void DispatchException(TObject* Sender, Exception& E);

    enum THintTimerKind { htShow, htHide, htReshow };
    void StartHintTimer(int Milliseconds, THintTimerKind Kind);
    void StopHintTimer();
    static void CALLBACK HintTimerProc(HWND Wnd, UINT Msg, UINT_PTR Id, DWORD Time);
    void HintTimerExpired();
    void SetHintControl(TControl* Value);
    void HideHintWindow();

    // A key press offered to the hooks first; true when one handled it.
    bool IsKeyMsg(MSG& Msg);

    TCustomForm* mainForm_ = nullptr;
    std::vector<TWindowHook> windowHooks_;
    std::atomic<bool> terminated_{false};
    std::vector<TApplicationEvents*> events_;
    bool initialized_ = false;
    std::wstring hint_;
    bool showHint_ = true;
    std::unique_ptr<THintWindow> hintWindow_;
    TControl* hintControl_ = nullptr;
    // Screen coordinates; empty: the next move starts a new hint.
    RECT hintCursorRect_{};
    // The pointer of the last tracked move (screen): where a pending hint
    // shows.
    POINT hintMousePos_{};
    UINT_PTR hintTimer_ = 0;
    THintTimerKind hintTimerKind_ = htShow;
};

// A component that takes over the application's exception handling while
// it exists (see TApplication::HandleException).
class TApplicationEvents : public TComponent {
public:
    explicit TApplicationEvents(TComponent* AOwner);
    ~TApplicationEvents() override;
    std::wstring ClassName() const override { return L"TApplicationEvents"; }

    TExceptionEvent OnException;

private:
    friend class TApplication;
    // The application it registered with (Application at construction);
    // cleared when that application goes first.
    TApplication* application_;
};

class TScreen : public TComponent {
public:
    explicit TScreen(TComponent* AOwner);
    ~TScreen() override;
    std::wstring ClassName() const override { return L"TScreen"; }

    // The cursor shown over the program's windows; crDefault lets every
    // control show its own.
    TCursor GetCursor() const { return cursor_; }
    void SetCursor(TCursor Value);
    HCURSOR GetCursors(TCursor Index) const { return GetCursorHandle(Index); }
    void SetCursors(TCursor Index, HCURSOR Handle) { SetCursorHandle(Index, Handle); }

    int GetWidth() const { return ::GetSystemMetrics(SM_CXSCREEN); }
    int GetHeight() const { return ::GetSystemMetrics(SM_CYSCREEN); }
    int GetPixelsPerInch() const;

    int GetFormCount() const { return static_cast<int>(forms_.size()); }
    // EListError for an index out of range.
    TCustomForm* GetForms(int Index) const;
    // The form whose window is active; nullptr when none is.
    TCustomForm* GetActiveForm() const { return activeForm_; }

private:
    friend class TCustomForm;
    std::vector<TCustomForm*> forms_;
    TCustomForm* activeForm_ = nullptr;
    TCursor cursor_ = crDefault;
};

// The program's application and screen objects (static objects of this
// unit). Application may be pointed at another TApplication for a while
// (tests); forms consult whatever it points to.
extern TApplication* Application;
extern TScreen* Screen;

// A sunken container whose children may reach beyond its client area: it
// shows scroll bars for the extent of its visible children and moves them
// when scrolled.
class TScrollBox : public TWinControl {
public:
    explicit TScrollBox(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TScrollBox"; }

    // Recomputes the scroll ranges from the children (call after moving
    // or resizing them; done on every resize of the box).
    void UpdateScrollRanges();
    int GetScrollX() const { return scrollX_; }
    int GetScrollY() const { return scrollY_; }
    // Scrolls to (X, Y) within the ranges.
    void ScrollTo(int X, int Y);

protected:
    void CreateParams(TCreateParams& Params) override;
    void CreateHandleDone() override;
    void Dispatch(TMessage& Message) override;
    void Resize() override;

private:
    void Scroll(int Bar, WORD Code);
    int scrollX_ = 0, scrollY_ = 0;
    int rangeX_ = 0, rangeY_ = 0;
};

}  // namespace classlib
