#include "classlib/StdCtrls.h"

#include <commctrl.h>

#include <map>

#include "classlib/Accelerators.h"
#include "classlib/SysUtils.h"

namespace classlib {

namespace {

// Window property that marks a window as the window of a TSystemControl.
const wchar_t kControlProp[] = L"VelmoSystemControl";
constexpr UINT_PTR kReflectSubclassId = 0x56454C4D;

// A TWinControl only used to find the shared window procedure of the class
// library's windows (which superclasses must name as theirs).
class TProcProbe : public TWinControl {
public:
    TProcProbe() : TWinControl(nullptr) {}
    std::wstring ClassName() const override { return L"VelmoProcProbe"; }

protected:
    void CreateParams(TCreateParams& Params) override
    {
        TWinControl::CreateParams(Params);
        Params.Style = WS_POPUP;
        Params.WndParent = nullptr;
    }
};

WNDPROC SharedProc()
{
    static WNDPROC proc = [] {
        TProcProbe probe;
        probe.HandleNeeded();
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        if (!::GetClassInfoExW(::GetModuleHandleW(nullptr), L"VelmoProcProbe", &wc)) RaiseLastOSError();
        return wc.lpfnWndProc;
    }();
    return proc;
}

// Registers (once) a superclass of SystemClass named Name with the shared
// window procedure; returns the system class's procedure.
WNDPROC RegisterSuperclass(const std::wstring& Name, const std::wstring& SystemClass)
{
    static std::map<std::wstring, WNDPROC> registered;
    auto it = registered.find(Name);
    if (it != registered.end()) return it->second;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(nullptr, SystemClass.c_str(), &wc))
        throw EInvalidOperation(L"Window class " + SystemClass + L" is not available");
    WNDPROC systemProc = wc.lpfnWndProc;
    wc.lpfnWndProc = SharedProc();
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = Name.c_str();
    wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
    registered.emplace(Name, systemProc);
    return systemProc;
}

// Hands the exception being handled to the window exception hook, or to
// the debugger output when there is none; never throws.
void ReportHandlerException(TObject* Sender)
{
    try {
        if (TWindowExceptionHook hook = GetWindowExceptionHook()) {
            hook(Sender);
            return;
        }
        throw;
    } catch (const std::exception& e) {
        ::OutputDebugStringA(e.what());
    } catch (...) {
    }
}

// Sends the parent's notifications of a system control back to the control.
LRESULT CALLBACK ReflectProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR)
{
    HWND child = nullptr;
    if (Msg == WM_COMMAND)
        child = reinterpret_cast<HWND>(LParam);
    else if (Msg == WM_NOTIFY && LParam)
        child = reinterpret_cast<const NMHDR*>(LParam)->hwndFrom;
    else if (Msg == WM_NCDESTROY)
        ::RemoveWindowSubclass(Wnd, &ReflectProc, Id);
    if (child) {
        if (auto* control = static_cast<TSystemControl*>(::GetPropW(child, kControlProp))) {
            // Exceptions must not cross the system's frames: they go to the
            // window exception hook (the application's handler).
            try {
                return control->Perform(CN_BASE + Msg, WParam, LParam);
            } catch (...) {
                ReportHandlerException(control);
                return 0;
            }
        }
    }
    return ::DefSubclassProc(Wnd, Msg, WParam, LParam);
}

// Lines of a memo text: split at CR LF; an empty text has no lines.
std::vector<std::wstring> SplitLines(const std::wstring& Text)
{
    std::vector<std::wstring> lines;
    if (Text.empty()) return lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t p = Text.find(L"\r\n", start);
        if (p == std::wstring::npos) {
            lines.push_back(Text.substr(start));
            return lines;
        }
        lines.push_back(Text.substr(start, p - start));
        start = p + 2;
    }
}

}  // namespace

// ========================================================== TSystemControl

TSystemControl::TSystemControl(TComponent* AOwner) : TWinControl(AOwner)
{
    // The system class handles the mouse and reports clicks itself.
    ControlStyle &= ~(csCaptureMouse | csClickEvents | csAcceptsControls);
}

TSystemControl::~TSystemControl()
{
    // The system class frees its window state only on its own WM_NCDESTROY,
    // so the window goes while this object still handles its messages.
    DestroyHandle();
}

std::wstring TSystemControl::GetText() const
{
    if (!HandleAllocated()) return text_;
    HWND wnd = const_cast<TSystemControl*>(this)->GetHandle();
    int len = ::GetWindowTextLengthW(wnd);
    std::wstring s(static_cast<std::size_t>(len) + 1, L'\0');
    int got = ::GetWindowTextW(wnd, s.data(), len + 1);
    s.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return s;
}

void TSystemControl::SetText(const std::wstring& Value)
{
    if (HandleAllocated())
        ::SetWindowTextW(GetHandle(), Value.c_str());
    else
        text_ = Value;
}

LRESULT TSystemControl::SendToWindow(UINT Msg, WPARAM WParam, LPARAM LParam) const
{
    if (!HandleAllocated()) return 0;
    return ::SendMessageW(const_cast<TSystemControl*>(this)->GetHandle(), Msg, WParam, LParam);
}

void TSystemControl::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    Params.WinClassName = L"Velmo" + ClassName();
    Params.Caption = text_;
    Params.Style &= ~static_cast<DWORD>(WS_CLIPCHILDREN);
}

void TSystemControl::CreateWnd()
{
    TCreateParams params;
    CreateParams(params);
    systemProc_ = RegisterSuperclass(params.WinClassName, SystemClassName());
    TWinControl::CreateWnd();
    text_.clear();
}

void TSystemControl::DestroyWnd()
{
    if (HandleAllocated()) {
        SaveWindowState();
        text_ = GetText();
    }
    TWinControl::DestroyWnd();
}

void TSystemControl::CreateHandleDone()
{
    HWND wnd = GetHandle();
    ::SetPropW(wnd, kControlProp, this);
    if (HWND parentWnd = ::GetParent(wnd)) ::SetWindowSubclass(parentWnd, &ReflectProc, kReflectSubclassId, 0);
    ::SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->GetHandle()), FALSE);
}

void TSystemControl::FontChanged(TObject* Sender)
{
    if (HandleAllocated())
        ::SendMessageW(GetHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(GetFont()->GetHandle()), TRUE);
    TWinControl::FontChanged(Sender);
}

void TSystemControl::Dispatch(TMessage& Message)
{
    switch (Message.Msg) {
    case CN_COMMAND: CNCommand(Message); break;
    case CN_NOTIFY: CNNotify(Message); break;
    case WM_NCDESTROY:
        if (HandleAllocated()) ::RemovePropW(GetHandle(), kControlProp);
        TWinControl::Dispatch(Message);
        break;
    default: TWinControl::Dispatch(Message); break;
    }
}

void TSystemControl::DefaultHandler(TMessage& Message)
{
    if (HandleAllocated() && systemProc_)
        Message.Result = ::CallWindowProcW(systemProc_, GetHandle(), Message.Msg, Message.WParam, Message.LParam);
    else
        TWinControl::DefaultHandler(Message);
}

void TSystemControl::PaintHandler(TMessage& Message)
{
    if (!Message.WParam && GetDoubleBuffered())
        PaintBuffered(Message);
    else
        DefaultHandler(Message);
}

void TSystemControl::EraseBackground(TMessage& Message) { DefaultHandler(Message); }

// ===================================================== TListControlStrings

TListControlStrings::TListControlStrings(TSystemControl* Control, const TMessages& Messages)
    : control_(Control), messages_(Messages)
{
}

HWND TListControlStrings::Window() const { return control_->HandleAllocated() ? control_->GetHandle() : nullptr; }

void TListControlStrings::Clear()
{
    list_.Clear();
    if (HWND w = Window()) ::SendMessageW(w, messages_.ResetContent, 0, 0);
}

void TListControlStrings::Delete(int Index)
{
    list_.Delete(Index);
    if (HWND w = Window()) ::SendMessageW(w, messages_.DeleteString, static_cast<WPARAM>(Index), 0);
}

void TListControlStrings::Insert(int Index, const std::wstring& S) { InsertObject(Index, S, nullptr); }

void TListControlStrings::InsertObject(int Index, const std::wstring& S, TObject* AObject)
{
    list_.InsertObject(Index, S, AObject);
    if (HWND w = Window()) {
        if (Index == list_.GetCount() - 1)
            ::SendMessageW(w, messages_.AddString, 0, reinterpret_cast<LPARAM>(S.c_str()));
        else
            ::SendMessageW(w, messages_.InsertString, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(S.c_str()));
    }
}

void TListControlStrings::Put(int Index, const std::wstring& S)
{
    TObject* obj = list_.GetObjects(Index);
    Delete(Index);
    InsertObject(Index, S, obj);
}

void TListControlStrings::Exchange(int Index1, int Index2)
{
    if (Index1 == Index2) {
        list_.GetStrings(Index1);  // range check
        return;
    }
    std::wstring s1 = list_.GetStrings(Index1), s2 = list_.GetStrings(Index2);
    TObject* o1 = list_.GetObjects(Index1);
    TObject* o2 = list_.GetObjects(Index2);
    Put(Index1, s2);
    list_.SetObjects(Index1, o2);
    Put(Index2, s1);
    list_.SetObjects(Index2, o1);
}

void TListControlStrings::FillWindow(HWND Wnd) const
{
    ::SendMessageW(Wnd, messages_.ResetContent, 0, 0);
    for (int i = 0; i < list_.GetCount(); ++i) {
        std::wstring s = list_.GetStrings(i);
        ::SendMessageW(Wnd, messages_.AddString, 0, reinterpret_cast<LPARAM>(s.c_str()));
    }
}

// ================================================================== TLabel

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner)
{
    ControlStyle |= csOpaque;
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    AdjustSize();
    Invalidate();
}

void TLabel::SetAlignment(TAlignment Value)
{
    if (Value == alignment_) return;
    alignment_ = Value;
    Invalidate();
}

void TLabel::SetAutoSize(bool Value)
{
    if (Value == autoSize_) return;
    autoSize_ = Value;
    AdjustSize();
}

void TLabel::SetTransparent(bool Value)
{
    if (Value == transparent_) return;
    transparent_ = Value;
    if (transparent_)
        ControlStyle &= ~csOpaque;
    else
        ControlStyle |= csOpaque;
    Invalidate();
}

void TLabel::SetLayout(TTextLayout Value)
{
    if (Value == layout_) return;
    layout_ = Value;
    Invalidate();
}

void TLabel::SetWordWrap(bool Value)
{
    if (Value == wordWrap_) return;
    wordWrap_ = Value;
    AdjustSize();
    Invalidate();
}

UINT TLabel::TextFlags() const
{
    UINT flags = DT_EXPANDTABS | (showAccelChar_ ? 0 : DT_NOPREFIX);
    if (wordWrap_)
        flags |= DT_WORDBREAK;
    else if (caption_.find(L'\n') == std::wstring::npos)
        flags |= DT_SINGLELINE;
    return flags;
}

void TLabel::SetShowAccelChar(bool Value)
{
    if (Value == showAccelChar_) return;
    showAccelChar_ = Value;
    AdjustSize();
    Invalidate();
}

void TLabel::SetFocusControl(TWinControl* Value)
{
    if (Value == focusControl_) return;
    if (focusControl_) focusControl_->RemoveFreeNotification(this);
    focusControl_ = Value;
    if (Value) Value->FreeNotification(this);
}

void TLabel::Notification(TComponent* AComponent, TOperation Operation)
{
    TGraphicControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == focusControl_) focusControl_ = nullptr;
}

void TLabel::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_DIALOGCHAR && showAccelChar_ && focusControl_ && GetVisible() &&
        IsAccelerator(static_cast<wchar_t>(Message.WParam), caption_) && focusControl_->CanFocus()) {
        focusControl_->SetFocus();
        Message.Result = 1;
        return;
    }
    TGraphicControl::WndProc(Message);
}

void TLabel::FontChanged(TObject* Sender)
{
    AdjustSize();
    TGraphicControl::FontChanged(Sender);
}

void TLabel::AdjustSize()
{
    if (!autoSize_) return;
    // Measured on a screen-compatible DC with the label's font; an empty
    // caption keeps the height of one line.
    TMemoryDC dc;
    TSelectObjectScope font(dc.Get(), GetFont()->GetHandle());
    RECT r{0, 0, wordWrap_ ? GetWidth() : 0, 0};
    std::wstring text = caption_.empty() ? std::wstring(L" ") : caption_;
    ::DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                DT_CALCRECT | DT_EXPANDTABS | (showAccelChar_ ? 0 : DT_NOPREFIX) | (wordWrap_ ? DT_WORDBREAK : 0));
    int w = wordWrap_ ? GetWidth() : caption_.empty() ? 0 : r.right - r.left;
    SetBounds(GetLeft(), GetTop(), w, r.bottom - r.top);
}

void TLabel::Paint()
{
    TCanvas* canvas = GetCanvas();
    RECT client = GetClientRect();
    if (!transparent_) {
        canvas->GetBrush()->SetColor(GetColor());
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->FillRect(client);
    }
    HDC dc = canvas->GetHandle();
    // Drawn with the system's text calls: the font is selected here (the
    // canvas selects its own only for its own drawing).
    TSelectObjectScope font(dc, GetFont()->GetHandle());
    UINT flags = TextFlags();
    switch (alignment_) {
    case taLeftJustify: flags |= DT_LEFT; break;
    case taRightJustify: flags |= DT_RIGHT; break;
    case taCenter: flags |= DT_CENTER; break;
    }
    // Vertical placement from the measured text height.
    RECT measure = client;
    ::DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &measure,
                flags | DT_CALCRECT);
    int textHeight = measure.bottom - measure.top;
    RECT r = client;
    if (layout_ == tlCenter)
        r.top = (client.bottom - textHeight) / 2;
    else if (layout_ == tlBottom)
        r.top = client.bottom - textHeight;
    r.bottom = r.top + textHeight;
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(GetFont()->GetColor())));
    ::DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &r, flags);
    ::SetTextColor(dc, oldColor);
    ::SetBkMode(dc, oldMode);
}

// =================================================================== TEdit

TEdit::TEdit(TComponent* AOwner) : TSystemControl(AOwner)
{
    SetBounds(0, 0, 121, 21);
    SetColor(clWindow);
}

void TEdit::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
    if (readOnly_) Params.Style |= ES_READONLY;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TEdit::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    SendToWindow(EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

void TEdit::SetMaxLength(int Value)
{
    if (Value < 0) Value = 0;
    maxLength_ = Value;
    SendToWindow(EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

void TEdit::SetReadOnly(bool Value)
{
    readOnly_ = Value;
    SendToWindow(EM_SETREADONLY, Value ? TRUE : FALSE, 0);
}

void TEdit::SetText(const std::wstring& Value)
{
    if (Value == GetText()) return;
    // A multi-line edit and an object without a window report nothing.
    changeSeen_ = false;
    auto alive = AliveToken();
    TSystemControl::SetText(Value);
    if (*alive && !changeSeen_) Change();
}

void TEdit::WndProc(TMessage& Message)
{
    if (Message.Msg != WM_SETTEXT) {
        TSystemControl::WndProc(Message);
        return;
    }
    // A multi-line edit sends no EN_CHANGE for text set by a message (from
    // this program or another one): the change is reported here, once.
    changeSeen_ = false;
    auto alive = AliveToken();
    TSystemControl::WndProc(Message);
    if (!*alive) return;
    if (!changeSeen_ && Message.Result) Change();
    changeSeen_ = true;
}

void TEdit::CNCommand(TMessage& Message)
{
    Message.Result = 0;
    if (HIWORD(Message.WParam) == EN_CHANGE) {
        changeSeen_ = true;
        Change();
    }
}

// ========================================================== TMemoStrings

std::vector<std::wstring> TMemoStrings::Split() const { return SplitLines(memo_->GetText()); }

void TMemoStrings::Join(const std::vector<std::wstring>& Lines)
{
    std::wstring text;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (i) text += L"\r\n";
        text += Lines[i];
    }
    memo_->SetText(text);
}

int TMemoStrings::GetCount() const { return static_cast<int>(Split().size()); }

std::wstring TMemoStrings::Get(int Index) const
{
    std::vector<std::wstring> lines = Split();
    if (Index < 0 || Index >= static_cast<int>(lines.size()))
        throw EListError(Format(L"List index out of bounds (%d)", Index));
    return lines[static_cast<std::size_t>(Index)];
}

void TMemoStrings::Clear() { memo_->SetText(L""); }

void TMemoStrings::Delete(int Index)
{
    std::vector<std::wstring> lines = Split();
    if (Index < 0 || Index >= static_cast<int>(lines.size()))
        throw EListError(Format(L"List index out of bounds (%d)", Index));
    lines.erase(lines.begin() + Index);
    Join(lines);
}

void TMemoStrings::Insert(int Index, const std::wstring& S)
{
    std::vector<std::wstring> lines = Split();
    if (Index < 0 || Index > static_cast<int>(lines.size()))
        throw EListError(Format(L"List index out of bounds (%d)", Index));
    lines.insert(lines.begin() + Index, S);
    Join(lines);
}

void TMemoStrings::Put(int Index, const std::wstring& S)
{
    std::vector<std::wstring> lines = Split();
    if (Index < 0 || Index >= static_cast<int>(lines.size()))
        throw EListError(Format(L"List index out of bounds (%d)", Index));
    lines[static_cast<std::size_t>(Index)] = S;
    Join(lines);
}

void TMemoStrings::SetText(const std::wstring& Value)
{
    // Any line break (CR LF, LF, CR) ends a line; one write to the memo.
    TStringList parsed;
    parsed.SetText(Value);
    std::vector<std::wstring> lines;
    for (int i = 0; i < parsed.GetCount(); ++i) lines.push_back(parsed.GetStrings(i));
    Join(lines);
}

// =================================================================== TMemo

TMemo::TMemo(TComponent* AOwner) : TEdit(AOwner), lines_(std::make_unique<TMemoStrings>(this))
{
    SetBounds(0, 0, 185, 89);
}

TMemo::~TMemo() = default;

void TMemo::CreateParams(TCreateParams& Params)
{
    TEdit::CreateParams(Params);
    Params.Style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
    if (wordWrap_) Params.Style &= ~static_cast<DWORD>(ES_AUTOHSCROLL);
    if (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth) Params.Style |= WS_HSCROLL;
    if (scrollBars_ == ssVertical || scrollBars_ == ssBoth) Params.Style |= WS_VSCROLL;
}

void TMemo::SetWordWrap(bool Value)
{
    if (Value == wordWrap_) return;
    wordWrap_ = Value;
    RecreateWnd();
}

void TMemo::SetScrollBars(TScrollStyle Value)
{
    if (Value == scrollBars_) return;
    scrollBars_ = Value;
    RecreateWnd();
}

// ================================================================= TButton

TButton::TButton(TComponent* AOwner) : TSystemControl(AOwner) { SetBounds(0, 0, 75, 25); }

void TButton::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | (default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TButton::SetDefault(bool Value)
{
    if (Value == default_) return;
    default_ = Value;
    SendToWindow(BM_SETSTYLE, default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click()
{
    if (ModalResult != mrNone)
        if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(ModalResult);
    TSystemControl::Click();
}

void TMemo::WndProc(TMessage& Message)
{
    TEdit::WndProc(Message);
    if (Message.Msg == WM_GETDLGCODE && !WantTabs && Message.WParam == VK_TAB)
        Message.Result &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_WANTALLKEYS);
}

void TButton::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_DIALOGCHAR && IsAccelerator(static_cast<wchar_t>(Message.WParam), GetCaption()) &&
        CanFocus()) {
        SetFocus();
        Message.Result = 1;
        Click();
        return;
    }
    TSystemControl::WndProc(Message);
}

void TButton::CNCommand(TMessage& Message)
{
    Message.Result = 0;
    if (HIWORD(Message.WParam) == BN_CLICKED) Click();
}

// =============================================================== TCheckBox

TCheckBox::TCheckBox(TComponent* AOwner) : TSystemControl(AOwner) { SetBounds(0, 0, 97, 17); }

void TCheckBox::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | BS_AUTOCHECKBOX;
}

bool TCheckBox::GetChecked() const
{
    if (!HandleAllocated()) return checked_;
    return SendToWindow(BM_GETCHECK) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool Value)
{
    checked_ = Value;
    SendToWindow(BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED);
}

void TCheckBox::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    SendToWindow(BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED);
}

void TCheckBox::SaveWindowState() { checked_ = GetChecked(); }

void TCheckBox::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_DIALOGCHAR && IsAccelerator(static_cast<wchar_t>(Message.WParam), GetCaption()) &&
        CanFocus()) {
        SetFocus();
        Message.Result = 1;
        SetChecked(!GetChecked());
        Click();
        return;
    }
    TSystemControl::WndProc(Message);
}

void TCheckBox::CNCommand(TMessage& Message)
{
    Message.Result = 0;
    if (HIWORD(Message.WParam) == BN_CLICKED) Click();
}

// =============================================================== TComboBox

TComboBox::TComboBox(TComponent* AOwner)
    : TSystemControl(AOwner),
      items_(std::make_unique<TListControlStrings>(
          this, TListControlStrings::TMessages{CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT}))
{
    SetBounds(0, 0, 145, 21);
    SetColor(clWindow);
}

TComboBox::~TComboBox()
{
    // The window goes before the items it shows.
    DestroyHandle();
}

void TComboBox::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL;
    Params.Style |= style_ == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN;
    // The window height given is the height of the open list; the closed
    // combo box sizes itself to its edit field.
    Params.Height = GetHeight() + (DropDownCount > 0 ? DropDownCount : 1) * 16 + 2;
    if (style_ == csDropDownList) Params.Caption.clear();
}

void TComboBox::CreateWnd()
{
    pendingText_ = GetText();
    TSystemControl::CreateWnd();
}

void TComboBox::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    items_->FillWindow(GetHandle());
    if (itemIndex_ >= 0) SendToWindow(CB_SETCURSEL, static_cast<WPARAM>(itemIndex_));
    if (style_ == csDropDown && itemIndex_ < 0) ::SetWindowTextW(GetHandle(), pendingText_.c_str());
    pendingText_.clear();
    if (style_ == csDropDown) {
        if (HWND edit = ::FindWindowExW(GetHandle(), nullptr, L"Edit", nullptr))
            ::SetWindowSubclass(edit, &EditFieldProc, kReflectSubclassId, reinterpret_cast<DWORD_PTR>(this));
    }
}

LRESULT CALLBACK TComboBox::EditFieldProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                          DWORD_PTR Data)
{
    if (Msg == WM_NCDESTROY) {
        ::RemoveWindowSubclass(Wnd, &EditFieldProc, Id);
    } else if (Msg == WM_CHAR) {
        auto* combo = reinterpret_cast<TComboBox*>(Data);
        auto key = static_cast<wchar_t>(WParam);
        try {
            combo->KeyPress(key);
        } catch (...) {
            if (TWindowExceptionHook hook = GetWindowExceptionHook()) hook(nullptr);
            return 0;
        }
        if (key == 0) return 0;
        WParam = static_cast<WPARAM>(key);
    }
    return ::DefSubclassProc(Wnd, Msg, WParam, LParam);
}

void TComboBox::SaveWindowState() { itemIndex_ = GetItemIndex(); }

void TComboBox::SetStyle(TComboBoxStyle Value)
{
    if (Value == style_) return;
    style_ = Value;
    RecreateWnd();
}

int TComboBox::GetItemIndex() const
{
    if (!HandleAllocated()) return itemIndex_;
    return static_cast<int>(SendToWindow(CB_GETCURSEL));
}

void TComboBox::SetItemIndex(int Value)
{
    if (Value < -1 || Value >= items_->GetCount()) Value = -1;
    itemIndex_ = Value;
    if (HandleAllocated()) SendToWindow(CB_SETCURSEL, static_cast<WPARAM>(Value));
}

void TComboBox::SetText(const std::wstring& Value)
{
    if (style_ == csDropDownList) {
        SetItemIndex(items_->IndexOf(Value));
        return;
    }
    if (HandleAllocated()) {
        // A typed text does not select an item.
        SendToWindow(CB_SETCURSEL, static_cast<WPARAM>(-1));
        ::SetWindowTextW(GetHandle(), Value.c_str());
        Change();
    } else {
        itemIndex_ = -1;
        TSystemControl::SetText(Value);
    }
}

void TComboBox::CNCommand(TMessage& Message)
{
    Message.Result = 0;
    switch (HIWORD(Message.WParam)) {
    case CBN_EDITCHANGE: Change(); break;
    case CBN_SELCHANGE: {
        auto alive = AliveToken();
        Change();
        if (*alive) OnSelect(this);
        break;
    }
    default: break;
    }
}

// ================================================================ TListBox

TListBox::TListBox(TComponent* AOwner)
    : TSystemControl(AOwner),
      items_(std::make_unique<TListControlStrings>(
          this, TListControlStrings::TMessages{LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT}))
{
    SetBounds(0, 0, 121, 97);
    SetColor(clWindow);
}

TListBox::~TListBox() { DestroyHandle(); }

void TListBox::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
    if (multiSelect_) Params.Style |= LBS_EXTENDEDSEL;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TListBox::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    items_->FillWindow(GetHandle());
    if (multiSelect_) {
        for (std::size_t i = 0; i < selected_.size() && i < static_cast<std::size_t>(items_->GetCount()); ++i)
            if (selected_[i]) SendToWindow(LB_SETSEL, TRUE, static_cast<LPARAM>(i));
        if (itemIndex_ >= 0) SendToWindow(LB_SETCARETINDEX, static_cast<WPARAM>(itemIndex_), FALSE);
    } else if (itemIndex_ >= 0) {
        SendToWindow(LB_SETCURSEL, static_cast<WPARAM>(itemIndex_));
    }
    selected_.clear();
}

void TListBox::SaveWindowState()
{
    int count = items_->GetCount();
    selected_.assign(static_cast<std::size_t>(count), false);
    for (int i = 0; i < count; ++i) selected_[static_cast<std::size_t>(i)] = GetSelected(i);
    itemIndex_ = GetItemIndex();
}

void TListBox::SetMultiSelect(bool Value)
{
    if (Value == multiSelect_) return;
    if (HandleAllocated()) {
        SaveWindowState();
        multiSelect_ = Value;
        RecreateWnd();
    } else {
        multiSelect_ = Value;
    }
}

void TListBox::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= items_->GetCount()) throw EListError(Format(L"List index out of bounds (%d)", Index));
}

int TListBox::GetItemIndex() const
{
    if (!HandleAllocated()) return itemIndex_;
    if (!multiSelect_) return static_cast<int>(SendToWindow(LB_GETCURSEL));
    if (SendToWindow(LB_GETSELCOUNT) <= 0) return -1;
    return static_cast<int>(SendToWindow(LB_GETCARETINDEX));
}

void TListBox::SetItemIndex(int Value)
{
    if (Value < -1 || Value >= items_->GetCount()) Value = -1;
    if (!HandleAllocated()) {
        itemIndex_ = Value;
        if (multiSelect_) {
            selected_.assign(static_cast<std::size_t>(items_->GetCount()), false);
            if (Value >= 0) selected_[static_cast<std::size_t>(Value)] = true;
        }
        return;
    }
    if (multiSelect_) {
        SendToWindow(LB_SETSEL, FALSE, -1);
        if (Value >= 0) {
            SendToWindow(LB_SETSEL, TRUE, Value);
            SendToWindow(LB_SETCARETINDEX, static_cast<WPARAM>(Value), FALSE);
        }
    } else {
        SendToWindow(LB_SETCURSEL, static_cast<WPARAM>(Value));
    }
}

bool TListBox::GetSelected(int Index) const
{
    CheckIndex(Index);
    if (!HandleAllocated()) {
        if (multiSelect_)
            return static_cast<std::size_t>(Index) < selected_.size() && selected_[static_cast<std::size_t>(Index)];
        return Index == itemIndex_;
    }
    return SendToWindow(LB_GETSEL, static_cast<WPARAM>(Index)) > 0;
}

void TListBox::SetSelected(int Index, bool Value)
{
    CheckIndex(Index);
    if (!multiSelect_) {
        if (Value)
            SetItemIndex(Index);
        else if (GetItemIndex() == Index)
            SetItemIndex(-1);
        return;
    }
    if (!HandleAllocated()) {
        selected_.resize(static_cast<std::size_t>(items_->GetCount()), false);
        selected_[static_cast<std::size_t>(Index)] = Value;
        return;
    }
    SendToWindow(LB_SETSEL, Value ? TRUE : FALSE, Index);
}

int TListBox::GetSelCount() const
{
    if (!multiSelect_) return GetItemIndex() >= 0 ? 1 : 0;
    if (!HandleAllocated()) {
        int n = 0;
        for (std::size_t i = 0; i < selected_.size() && i < static_cast<std::size_t>(items_->GetCount()); ++i)
            if (selected_[i]) ++n;
        return n;
    }
    return static_cast<int>(SendToWindow(LB_GETSELCOUNT));
}

void TListBox::CNCommand(TMessage& Message)
{
    Message.Result = 0;
    if (HIWORD(Message.WParam) == LBN_SELCHANGE) Click();
}

}  // namespace classlib
