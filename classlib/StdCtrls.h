// Standard controls: label, edit, memo, button, check box, combo box and
// list box.
//
// Every windowed control here is a window of a system window class (BUTTON,
// EDIT, COMBOBOX, LISTBOX ...) made through a superclass whose window
// procedure is the class library's shared one: messages reach WndProc /
// Dispatch as for any TWinControl, and what the control does not handle goes
// to the system class's procedure (DefaultHandler), which also paints.
//
// Notifications: a system control reports to its parent window (WM_COMMAND,
// WM_NOTIFY). When a control's window is made, its parent window is
// subclassed once (comctl32 window subclassing) so that these notifications
// come back to the control object as CN_COMMAND / CN_NOTIFY with the same
// parameters; the control decodes them (CNCommand / CNNotify) into its
// events. This works whatever the parent window is: a class-library control
// or a plain window.
//
// Text and items live in the object while there is no window and move into
// the window when it is made (and back when it is destroyed), so properties
// may be set before the control has a parent.
//
// Threads: main thread only, as all controls.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "classlib/StringList.h"

namespace classlib {

// Notifications of a system control reflected back to it from its parent
// (the parameters of the parent's WM_COMMAND / WM_NOTIFY unchanged).
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr UINT CN_NOTIFY = CN_BASE + WM_NOTIFY;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// A control whose window is of a system window class.
class TSystemControl : public TWinControl {
public:
    explicit TSystemControl(TComponent* AOwner);
    ~TSystemControl() override;
    std::wstring ClassName() const override { return L"TSystemControl"; }

    // The window text (kept in the object while there is no window).
    std::wstring GetText() const;
    virtual void SetText(const std::wstring& Value);

    void Dispatch(TMessage& Message) override;
    void DefaultHandler(TMessage& Message) override;

protected:
    // The system window class the window is made of.
    virtual std::wstring SystemClassName() const = 0;
    // Names the superclass and passes the text as the window caption.
    void CreateParams(TCreateParams& Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    // Sets the font and hooks the parent's notifications.
    void CreateHandleDone() override;
    // The system class paints and erases (into the bitmap of a buffered
    // paint with DoubleBuffered).
    void PaintHandler(TMessage& Message) override;
    void EraseBackground(TMessage& Message) override;
    void FontChanged(TObject* Sender) override;
    // Saves the window's state into the object before the window goes
    // (called by DestroyWnd while the window still exists).
    virtual void SaveWindowState() {}
    // Reflected WM_COMMAND / WM_NOTIFY; Message.Result is the parent's
    // answer.
    virtual void CNCommand(TMessage& Message) { Message.Result = 0; }
    virtual void CNNotify(TMessage& Message) { Message.Result = 0; }
    LRESULT SendToWindow(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0) const;

private:
    WNDPROC systemProc_ = nullptr;
    std::wstring text_;
};

// Strings of a list box or combo box: held in the object and copied into the
// window's list whenever it changes (objects stay in the object).
class TListControlStrings : public TStrings {
public:
    struct TMessages {
        UINT AddString, InsertString, DeleteString, ResetContent;
    };
    TListControlStrings(TSystemControl* Control, const TMessages& Messages);
    std::wstring ClassName() const override { return L"TListControlStrings"; }

    int GetCount() const override { return list_.GetCount(); }
    TObject* GetObjects(int Index) const override { return list_.GetObjects(Index); }
    void Clear() override;
    void Delete(int Index) override;
    void Insert(int Index, const std::wstring& S) override;
    void InsertObject(int Index, const std::wstring& S, TObject* AObject) override;
    void Exchange(int Index1, int Index2) override;
    int IndexOf(const std::wstring& S) const override { return list_.IndexOf(S); }

    // Copies every string into the (new, empty) window list.
    void FillWindow(HWND Wnd) const;

protected:
    std::wstring Get(int Index) const override { return list_.GetStrings(Index); }
    void Put(int Index, const std::wstring& S) override;
    void PutObject(int Index, TObject* AObject) override { list_.SetObjects(Index, AObject); }

private:
    HWND Window() const;
    TSystemControl* control_;
    TMessages messages_;
    TStringList list_;
};

// Caption text on its parent's surface.
class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TLabel"; }

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    TAlignment GetAlignment() const { return alignment_; }
    void SetAlignment(TAlignment Value);
    // With AutoSize (the default) the label takes the size of its text.
    bool GetAutoSize() const { return autoSize_; }
    void SetAutoSize(bool Value);
    // A transparent label paints only its text (the parent shows through).
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool Value);
    TTextLayout GetLayout() const { return layout_; }
    void SetLayout(TTextLayout Value);
    // A word-wrapped label breaks its caption into lines within its width;
    // with AutoSize it keeps its width and takes the height of the lines.
    bool GetWordWrap() const { return wordWrap_; }
    void SetWordWrap(bool Value);
    // With ShowAccelChar (the default) "&x" shows x underlined and Alt+x
    // focuses FocusControl; without it the caption shows as it is (for
    // labels that show the user's text).
    bool GetShowAccelChar() const { return showAccelChar_; }
    void SetShowAccelChar(bool Value);
    TWinControl* GetFocusControl() const { return focusControl_; }
    void SetFocusControl(TWinControl* Value);

protected:
    void Paint() override;
    void FontChanged(TObject* Sender) override;
    void WndProc(TMessage& Message) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void AdjustSize();
    UINT TextFlags() const;
    std::wstring caption_;
    bool showAccelChar_ = true;
    TWinControl* focusControl_ = nullptr;
    TAlignment alignment_ = taLeftJustify;
    bool autoSize_ = true;
    bool transparent_ = false;
    TTextLayout layout_ = tlTop;
    bool wordWrap_ = false;
};

// One line of editable text.
class TEdit : public TSystemControl {
public:
    explicit TEdit(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TEdit"; }

    // 0: no limit.
    int GetMaxLength() const { return maxLength_; }
    void SetMaxLength(int Value);
    bool GetReadOnly() const { return readOnly_; }
    void SetReadOnly(bool Value);
    // Fires OnChange when the text differs.
    void SetText(const std::wstring& Value) override;

    // The text changed (by the user, by SetText or by a WM_SETTEXT message,
    // also for a multi-line edit).
    TNotifyEvent OnChange;
    void WndProc(TMessage& Message) override;

protected:
    std::wstring SystemClassName() const override { return L"EDIT"; }
    void CreateParams(TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNCommand(TMessage& Message) override;
    virtual void Change() { OnChange(this); }

private:
    int maxLength_ = 0;
    bool readOnly_ = false;
    bool changeSeen_ = false;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo;

// The lines of a memo: the memo's text split at its line breaks (CR LF).
// Changes rewrite the memo's text.
class TMemoStrings : public TStrings {
public:
    explicit TMemoStrings(TMemo* Memo) : memo_(Memo) {}
    std::wstring ClassName() const override { return L"TMemoStrings"; }

    int GetCount() const override;
    void Clear() override;
    void Delete(int Index) override;
    void Insert(int Index, const std::wstring& S) override;
    void SetText(const std::wstring& Value) override;

protected:
    std::wstring Get(int Index) const override;
    void Put(int Index, const std::wstring& S) override;

private:
    std::vector<std::wstring> Split() const;
    void Join(const std::vector<std::wstring>& Lines);
    TMemo* memo_;
};

// Several lines of editable text.
class TMemo : public TEdit {
public:
    explicit TMemo(TComponent* AOwner);
    ~TMemo() override;
    std::wstring ClassName() const override { return L"TMemo"; }

    // The lines (owned by the memo, bound to its text).
    TStrings* GetLines() const { return lines_.get(); }
    void SetLines(const TStrings* Value) { lines_->Assign(Value); }
    bool GetWordWrap() const { return wordWrap_; }
    void SetWordWrap(bool Value);
    TScrollStyle GetScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle Value);
    // Whether Tab types a tab character; without it (the default) Tab
    // moves the focus on as in every other control.
    bool WantTabs = false;

protected:
    void CreateParams(TCreateParams& Params) override;
    void WndProc(TMessage& Message) override;

private:
    std::unique_ptr<TMemoStrings> lines_;
    bool wordWrap_ = true;
    TScrollStyle scrollBars_ = ssNone;
};

// A push button.
class TButton : public TSystemControl {
public:
    explicit TButton(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TButton"; }

    std::wstring GetCaption() const { return GetText(); }
    void SetCaption(const std::wstring& Value) { SetText(Value); }
    // Given to the button's form when clicked (mrNone: nothing).
    TModalResult ModalResult = mrNone;
    // The default button of its form (drawn so; Enter presses it).
    bool GetDefault() const { return default_; }
    void SetDefault(bool Value);
    // The button Escape presses.
    bool Cancel = false;

    // Presses the button (as a click of the user).
    void Click() override;

protected:
    std::wstring SystemClassName() const override { return L"BUTTON"; }
    void CreateParams(TCreateParams& Params) override;
    void CNCommand(TMessage& Message) override;
    // Alt with the caption's accelerator presses the button.
    void WndProc(TMessage& Message) override;

private:
    bool default_ = false;
};

// A check box; OnClick fires when the user toggles it.
class TCheckBox : public TSystemControl {
public:
    explicit TCheckBox(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TCheckBox"; }

    std::wstring GetCaption() const { return GetText(); }
    void SetCaption(const std::wstring& Value) { SetText(Value); }
    bool GetChecked() const;
    void SetChecked(bool Value);

protected:
    std::wstring SystemClassName() const override { return L"BUTTON"; }
    void CreateParams(TCreateParams& Params) override;
    void CNCommand(TMessage& Message) override;
    void CreateHandleDone() override;
    void SaveWindowState() override;
    // Alt with the caption's accelerator focuses and toggles the box.
    void WndProc(TMessage& Message) override;

private:
    bool checked_ = false;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

// An edit or a fixed choice with a drop-down list of Items.
class TComboBox : public TSystemControl {
public:
    explicit TComboBox(TComponent* AOwner);
    ~TComboBox() override;
    std::wstring ClassName() const override { return L"TComboBox"; }

    TComboBoxStyle GetStyle() const { return style_; }
    void SetStyle(TComboBoxStyle Value);
    TStrings* GetItems() const { return items_.get(); }
    void SetItems(const TStrings* Value) { items_->Assign(Value); }
    // The selected item (-1: none).
    int GetItemIndex() const;
    void SetItemIndex(int Value);
    // Text of a drop-down list selects the item of that text (or none).
    void SetText(const std::wstring& Value) override;
    // Items shown by the open list before it scrolls.
    int DropDownCount = 8;

    // The text changed: typed, or another item selected.
    TNotifyEvent OnChange;
    // The user chose an item of the list (after OnChange).
    TNotifyEvent OnSelect;

protected:
    std::wstring SystemClassName() const override { return L"COMBOBOX"; }
    void CreateParams(TCreateParams& Params) override;
    void CreateWnd() override;
    void CreateHandleDone() override;
    void SaveWindowState() override;
    void CNCommand(TMessage& Message) override;
    virtual void Change() { OnChange(this); }

private:
    // The edit field of a drop-down combo box: its characters go through
    // the combo box's KeyPress (OnKeyPress) first.
    static LRESULT CALLBACK EditFieldProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                          DWORD_PTR Data);
    std::unique_ptr<TListControlStrings> items_;
    TComboBoxStyle style_ = csDropDown;
    int itemIndex_ = -1;
    std::wstring pendingText_;  // the text the new window is to show
};

// A list of strings to pick one or (MultiSelect) several from.
class TListBox : public TSystemControl {
public:
    explicit TListBox(TComponent* AOwner);
    ~TListBox() override;
    std::wstring ClassName() const override { return L"TListBox"; }

    TStrings* GetItems() const { return items_.get(); }
    void SetItems(const TStrings* Value) { items_->Assign(Value); }
    // The selected item, with MultiSelect the focused one of the selection
    // (-1: none). Setting it with MultiSelect selects only that item.
    int GetItemIndex() const;
    void SetItemIndex(int Value);
    bool GetMultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool Value);
    // Selection state of one item; out-of-range indexes raise EListError.
    bool GetSelected(int Index) const;
    void SetSelected(int Index, bool Value);
    int GetSelCount() const;

protected:
    std::wstring SystemClassName() const override { return L"LISTBOX"; }
    void CreateParams(TCreateParams& Params) override;
    void CreateHandleDone() override;
    void SaveWindowState() override;
    // LBN_SELCHANGE: Click (OnClick).
    void CNCommand(TMessage& Message) override;
    void CheckIndex(int Index) const;

private:
    std::unique_ptr<TListControlStrings> items_;
    bool multiSelect_ = false;
    int itemIndex_ = -1;
    std::vector<bool> selected_;  // while there is no window
};

}  // namespace classlib
