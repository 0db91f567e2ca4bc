#include "controls/toolbar/MbAcc.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <vector>

#include "classlib/ComObject.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbToolbar.h"

namespace toolbar {

// {618736E0-3C3D-11CF-810C-00AA00389B71}
const GUID kIIDAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The base of the framework's accessibility objects: reference counting,
// IDispatch answering E_NOTIMPL, and the live-object list.
class TMbBaseAccObject : public classlib::TComObject<IAccessible, IID_IDispatch, kIIDAccessible> {
public:
    TMbBaseAccObject();
    ~TMbBaseAccObject() override;
    // Clears the back-reference (later calls answer E_FAIL) and the
    // owner's pointer to this object; answers whether the owner still held
    // its reference, which the caller then gives back.
    virtual bool Detach() = 0;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    TMbBaseAccObject* Previous = nullptr;  // the next older live object
    TMbBaseAccObject* Next = nullptr;
};

namespace {

// The live-object list: the head is the newest object.
CRITICAL_SECTION* ListLock()
{
    static CRITICAL_SECTION* lock = [] {
        auto* cs = new CRITICAL_SECTION;
        ::InitializeCriticalSection(cs);
        return cs;
    }();
    return lock;
}
TMbBaseAccObject* gHead = nullptr;
int gLiveCount = 0;

struct TListLock {
    TListLock() { ::EnterCriticalSection(ListLock()); }
    ~TListLock() { ::LeaveCriticalSection(ListLock()); }
};

// Entry points looked up once each.
using TNotifyWinEvent = void(WINAPI*)(DWORD, HWND, LONG, LONG);
using TLresultFromObject = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using TAccessibleObjectFromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
std::atomic<bool> gNotifyLooked{false};
TNotifyWinEvent gNotifyWinEvent = nullptr;
std::atomic<bool> gOleaccLooked{false};
TLresultFromObject gLresultFromObject = nullptr;
TAccessibleObjectFromWindow gAccessibleObjectFromWindow = nullptr;

void ClearVariant(VARIANT* V)
{
    if (V) ::VariantInit(V);
}

BSTR MakeBstr(const std::wstring& S) { return ::SysAllocStringLen(S.data(), static_cast<UINT>(S.size())); }

std::wstring WithoutAmpersands(const std::wstring& S)
{
    std::wstring r;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == L'&') {
            if (i + 1 < S.size() && S[i + 1] == L'&') r += L'&', ++i;
            continue;
        }
        r += S[i];
    }
    return r;
}

wchar_t AccelChar(const std::wstring& Caption)
{
    for (std::size_t i = 0; i + 1 < Caption.size(); ++i)
        if (Caption[i] == L'&') {
            if (Caption[i + 1] != L'&') return static_cast<wchar_t>(std::towlower(Caption[i + 1]));
            ++i;
        }
    return 0;
}

// The accessible entries of a view: shown, behind the chevron or scrolled
// away, in view order.
std::vector<TMbItemViewer*> AccessibleEntries(TMbView* View)
{
    std::vector<TMbItemViewer*> list;
    for (TMbItemViewer* v : View->ViewerList)
        if (v->IsAccessible()) list.push_back(v);
    return list;
}

HWND ViewWindow(TMbView* View)
{
    if (View->Wnd) return View->Wnd;
    if (View->HostWindow && View->HostWindow->HandleAllocated()) return View->HostWindow->GetHandle();
    return nullptr;
}

bool WindowUsable(TMbView* View)
{
    const HWND w = ViewWindow(View);
    if (!w || !::IsWindowVisible(w)) return false;
    for (HWND p = w; p; p = ::GetParent(p))
        if (!::IsWindowEnabled(p)) return false;
    if (View->RootView()->RunFlags & rfInLoop) return true;
    const HWND active = ::GetActiveWindow();
    for (HWND p = w; p; p = ::GetParent(p))
        if (p == active) return true;
    return false;
}

// Deferred requests: posted to a hidden window of the thread, run after
// the client's call returned. The object is held until the request ran.
constexpr UINT kAccRequest = WM_APP + 0x3A1;
enum TAccRequest : WPARAM { arSelect = 1, arExecute = 2 };

class TMbItemViewerAccObject;
void RunRequest(TMbItemViewerAccObject* Object, WPARAM Kind);

LRESULT CALLBACK RequestWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == kAccRequest) {
        auto* object = reinterpret_cast<TMbItemViewerAccObject*>(LParam);
        RunRequest(object, WParam);
        return 0;
    }
    return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
}

HWND RequestWindow()
{
    thread_local HWND wnd = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &RequestWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelmoMbAccRequests";
        ::RegisterClassW(&wc);
        return ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                 nullptr);
    }();
    return wnd;
}

}  // namespace

TMbBaseAccObject::TMbBaseAccObject()
{
    TListLock lock;
    Previous = gHead;
    if (gHead) gHead->Next = this;
    gHead = this;
    ++gLiveCount;
}

TMbBaseAccObject::~TMbBaseAccObject()
{
    TListLock lock;
    if (Next) Next->Previous = Previous;
    else gHead = Previous;
    if (Previous) Previous->Next = Next;
    --gLiveCount;
}

void MbAccOwnerGone(TMbBaseAccObject* AccObject)
{
    if (AccObject->Detach()) AccObject->Release();  // the owner's reference
}

namespace {

// Clears the owner's pointer to Object where it still points there and
// forgets the owner; answers whether the owner held the object.
template <class TOwner>
bool ForgetOwner(TOwner*& Owner, const TMbBaseAccObject* Object)
{
    const bool held = Owner && Owner->AccObject == Object;
    if (held) Owner->AccObject = nullptr;
    Owner = nullptr;
    return held;
}

void Blank(VARIANT& V) { ::VariantInit(&V); }
template <class T>
void Blank(T& V)
{
    V = T{};
}

// What both concrete objects share: the argument checks, the answers that
// carry no data and the shape of every answer. The concrete object gives
// the data through the hooks below, which run only while its owner is
// there and after the arguments were checked; an exception from a hook
// answers E_UNEXPECTED.
class TMbCustomAccObject : public TMbBaseAccObject {
public:
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** Parent) override
    {
        if (HRESULT h = Reset(Parent); FAILED(h)) return h;
        return Guard([&] { return ParentObject(Parent); });
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* Count) override
    {
        if (HRESULT h = Reset(Count); FAILED(h)) return h;
        return Guard([&] {
            *Count = ChildCount();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT Child, IDispatch** Result) override
    {
        if (HRESULT h = Reset(Result, Child, false); FAILED(h)) return h;
        if (Child.lVal == CHILDID_SELF) {
            *Result = this;
            AddRef();
            return S_OK;
        }
        return Guard([&] { return ChildObject(Child.lVal, Result); });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT Child, BSTR* Name) override
    {
        if (HRESULT h = Reset(Name, Child); FAILED(h)) return h;
        return Guard([&] {
            *Name = MakeBstr(NameText());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT Child, BSTR* Value) override { return Empty(Child, Value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT Child, BSTR* D) override { return Empty(Child, D); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT Child, BSTR* H) override { return Empty(Child, H); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* File, VARIANT Child, long* Topic) override
    {
        if (Topic) *Topic = 0;
        return Empty(Child, File);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT Child, VARIANT* Role) override
    {
        if (HRESULT h = Reset(Role, Child); FAILED(h)) return h;
        return Guard([&] { return AnswerNumber(Role, RoleId()); });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT Child, VARIANT* State) override
    {
        if (HRESULT h = Reset(State, Child); FAILED(h)) return h;
        return Guard([&] { return AnswerNumber(State, StateBits()); });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT Child, BSTR* Key) override
    {
        if (HRESULT h = Reset(Key, Child); FAILED(h)) return h;
        return Guard([&] { return AnswerText(Key, ShortcutText()); });
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* Selection) override { return NothingHeld(Selection); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT Child, BSTR* Action) override
    {
        if (HRESULT h = Reset(Action, Child); FAILED(h)) return h;
        return Guard([&] { return AnswerText(Action, DefaultActionText()); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long Flags, VARIANT Child) override
    {
        if (HRESULT h = CheckChild(Child); FAILED(h)) return h;
        return Guard([&] { return Select(Flags); });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* Left, long* Top, long* Width, long* Height, VARIANT Child) override
    {
        if (!Left || !Top || !Width || !Height) return E_POINTER;
        *Left = *Top = *Width = *Height = 0;
        if (HRESULT h = CheckChild(Child); FAILED(h)) return h;
        return Guard([&] {
            const RECT r = ScreenRect();
            *Left = r.left, *Top = r.top, *Width = r.right - r.left, *Height = r.bottom - r.top;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long Direction, VARIANT Start, VARIANT* End) override
    {
        if (HRESULT h = Reset(End, Start); FAILED(h)) return h;
        return Guard([&] { return AnswerObject(End, Neighbour(Direction)); });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long X, long Y, VARIANT* Child) override
    {
        if (HRESULT h = Reset(Child); FAILED(h)) return h;
        return Guard([&] { return HitTest(POINT{X, Y}, Child); });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT Child) override
    {
        if (HRESULT h = CheckChild(Child); FAILED(h)) return h;
        return Guard([&] { return DefaultAction(); });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT Child, BSTR) override { return Unchanged(Child); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT Child, BSTR) override { return Unchanged(Child); }

protected:
    // Whether the owner is gone: every call that needs it answers E_FAIL.
    virtual bool Cut() const = 0;
    virtual HRESULT ParentObject(IDispatch** Parent) = 0;
    virtual long ChildCount() = 0;
    // A child by its number (from 1); E_INVALIDARG for none.
    virtual HRESULT ChildObject(long Id, IDispatch** Result) = 0;
    virtual std::wstring NameText() = 0;
    virtual long RoleId() = 0;
    virtual long StateBits() = 0;
    // Empty for none (S_FALSE).
    virtual std::wstring ShortcutText() = 0;
    virtual std::wstring DefaultActionText() = 0;
    virtual HRESULT Select(long Flags) = 0;
    virtual HRESULT DefaultAction() = 0;
    virtual RECT ScreenRect() = 0;
    // The object in the direction, with a new reference; null for none.
    virtual IAccessible* Neighbour(long Direction) = 0;
    virtual HRESULT HitTest(POINT At, VARIANT* Child) = 0;

    template <class F>
    HRESULT Guard(F&& Body)
    {
        try {
            return Body();
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    HRESULT CheckChild(const VARIANT& Child, bool SelfOnly = true) const
    {
        if (Cut()) return E_FAIL;
        if (Child.vt != VT_I4 || (SelfOnly && Child.lVal != CHILDID_SELF)) return E_INVALIDARG;
        return S_OK;
    }
    // Empties the out-argument; then the checks: E_POINTER, E_FAIL (cut
    // off), E_INVALIDARG (Child).
    template <class T>
    HRESULT Reset(T* Out) const
    {
        if (!Out) return E_POINTER;
        Blank(*Out);
        return Cut() ? E_FAIL : S_OK;
    }
    template <class T>
    HRESULT Reset(T* Out, const VARIANT& Child, bool SelfOnly = true) const
    {
        if (HRESULT h = Reset(Out); FAILED(h)) return h;
        return CheckChild(Child, SelfOnly);
    }
    HRESULT Empty(const VARIANT& Child, BSTR* Out) const
    {
        const HRESULT h = Reset(Out, Child);
        return FAILED(h) ? h : S_FALSE;
    }
    HRESULT Unchanged(const VARIANT& Child) const
    {
        const HRESULT h = CheckChild(Child);
        return FAILED(h) ? h : S_FALSE;
    }
    // For a VARIANT that is never null-checked: empty, S_FALSE.
    HRESULT NothingHeld(VARIANT* Out) const
    {
        ClearVariant(Out);
        return Cut() ? E_FAIL : S_FALSE;
    }
    static HRESULT AnswerNumber(VARIANT* Out, long Value)
    {
        Out->vt = VT_I4;
        Out->lVal = Value;
        return S_OK;
    }
    static HRESULT AnswerText(BSTR* Out, const std::wstring& Text)
    {
        if (Text.empty()) return S_FALSE;
        *Out = MakeBstr(Text);
        return S_OK;
    }
    // Hands over the reference the caller got for Object.
    static HRESULT AnswerObject(VARIANT* Out, IDispatch* Object)
    {
        if (!Object) return S_FALSE;
        Out->vt = VT_DISPATCH;
        Out->pdispVal = Object;
        return S_OK;
    }
};

class TMbViewAccObject : public TMbCustomAccObject {
public:
    explicit TMbViewAccObject(TMbView* AView) : View(AView) {}
    ~TMbViewAccObject() override { ForgetOwner(View, this); }
    bool Detach() override { return ForgetOwner(View, this); }
    TMbView* View;

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* Focus) override { return NothingHeld(Focus); }

protected:
    bool Cut() const override { return !View; }
    HRESULT ParentObject(IDispatch** Parent) override
    {
        if (View->UpperView && View->UpperView->OpenSubViewer && View->UpperView->OpenSubView == View) {
            *Parent = MbViewerAccObject(View->UpperView->OpenSubViewer);
            return *Parent ? S_OK : E_FAIL;
        }
        return MbWindowAccObject(ViewWindow(View), Parent);
    }
    long ChildCount() override { return static_cast<long>(AccessibleEntries(View).size()); }
    HRESULT ChildObject(long Id, IDispatch** Result) override
    {
        const std::vector<TMbItemViewer*> list = AccessibleEntries(View);
        if (Id < 1 || static_cast<std::size_t>(Id) > list.size()) return E_INVALIDARG;
        TMbItemViewer* v = list[static_cast<std::size_t>(Id - 1)];
        if (auto* ci = dynamic_cast<TMbControlItem*>(v->EntryItem))
            if (auto* w = dynamic_cast<classlib::TWinControl*>(ci->GetControl()))
                if (w->HandleAllocated()) return MbWindowAccObject(w->GetHandle(), Result);
        *Result = MbViewerAccObject(v);
        return *Result ? S_OK : E_FAIL;
    }
    std::wstring NameText() override
    {
        std::wstring name;
        if (View->UpperView && View->UpperView->OpenSubView == View && View->UpperView->OpenSubViewer)
            name = WithoutAmpersands(View->UpperView->OpenSubViewer->CaptionText());
        if (name.empty())
            if (HWND w = ViewWindow(View)) {
                wchar_t text[256] = {};
                ::GetWindowTextW(w, text, 256);
                name = text;
            }
        return name;
    }
    long RoleId() override
    {
        return View->IsPopupView                ? ROLE_SYSTEM_MENUPOPUP
               : (View->ViewStyle & vsMenuBar) ? ROLE_SYSTEM_MENUBAR
                                               : ROLE_SYSTEM_TOOLBAR;
    }
    long StateBits() override { return 0; }
    std::wstring ShortcutText() override { return (View->ViewStyle & vsMenuBar) ? MbAltKeyName() : std::wstring(); }
    std::wstring DefaultActionText() override { return {}; }
    HRESULT Select(long) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT DefaultAction() override { return S_FALSE; }
    RECT ScreenRect() override
    {
        RECT r{};
        if (HWND w = ViewWindow(View)) ::GetWindowRect(w, &r);
        return r;
    }
    IAccessible* Neighbour(long Direction) override
    {
        if (Direction != NAVDIR_FIRSTCHILD && Direction != NAVDIR_LASTCHILD) return nullptr;
        const std::vector<TMbItemViewer*> list = AccessibleEntries(View);
        if (list.empty()) return nullptr;
        return MbViewerAccObject(Direction == NAVDIR_FIRSTCHILD ? list.front() : list.back());
    }
    HRESULT HitTest(POINT At, VARIANT* Child) override
    {
        const HWND w = ViewWindow(View);
        if (!w) return S_FALSE;
        RECT r{};
        ::GetWindowRect(w, &r);
        if (!::PtInRect(&r, At)) return S_FALSE;
        POINT c = At;
        ::ScreenToClient(w, &c);
        const HWND under = ::ChildWindowFromPointEx(w, c, CWP_SKIPINVISIBLE);
        if (under && under != w) {
            IDispatch* d = nullptr;
            if (SUCCEEDED(MbWindowAccObject(under, &d)) && d) return AnswerObject(Child, d);
        }
        if (TMbItemViewer* v = View->ViewerAt(c))
            if (IAccessible* a = MbViewerAccObject(v)) return AnswerObject(Child, a);
        return AnswerNumber(Child, CHILDID_SELF);
    }
};

class TMbItemViewerAccObject : public TMbCustomAccObject {
public:
    explicit TMbItemViewerAccObject(TMbItemViewer* AViewer) : Viewer(AViewer) {}
    ~TMbItemViewerAccObject() override { ForgetOwner(Viewer, this); }
    bool Detach() override { return ForgetOwner(Viewer, this); }
    TMbItemViewer* Viewer;

    TMbView* View() const { return Viewer->OwnerView; }
    bool Selectable() const
    {
        return Viewer->EntryItem->GetEnabled() && (Viewer->EntryItem->GetKinds() & ikSelectable);
    }
    bool Available() const { return Viewer->IsAccessible() && Selectable() && WindowUsable(View()); }
    bool PopupOpen() const { return View()->OpenSubViewer == Viewer && View()->OpenSubView; }
    bool Modal() const { return (View()->RootView()->RunFlags & rfInLoop) != 0; }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* Focus) override
    {
        if (HRESULT h = Reset(Focus); FAILED(h)) return h;
        if (Modal() && View()->SelectedViewer == Viewer) return AnswerNumber(Focus, CHILDID_SELF);
        return S_FALSE;
    }

    void Post(WPARAM Kind)
    {
        AddRef();  // released when the request has run
        if (!::PostMessageW(RequestWindow(), kAccRequest, Kind, reinterpret_cast<LPARAM>(this))) Release();
    }
    void Run(WPARAM Kind)
    {
        if (!Viewer) return;
        if (Kind == arExecute && !Available()) return;
        if (Kind == arSelect && !WindowUsable(View())) return;
        TMbView* view = View();
        view->SelectViewer(Viewer);
        view->RevealSelection();
        if (Modal()) {
            if (Kind == arExecute) view->ActivateSelection();
            return;
        }
        if (view->UpperView || ::GetCapture()) return;
        // A client's request does not change which entries the chevron
        // keeps shown.
        if (auto* bar = dynamic_cast<TMbCustomToolbar*>(view->HostWindow))
            bar->EnterModalLoop(Kind == arExecute ? mlExecuteSelection | mlWithoutPriority : mlWithoutPriority);
    }

protected:
    bool Cut() const override { return !Viewer; }
    HRESULT ParentObject(IDispatch** Parent) override
    {
        *Parent = MbViewAccObject(View());
        return *Parent ? S_OK : E_FAIL;
    }
    long ChildCount() override { return PopupOpen() ? 1 : 0; }
    HRESULT ChildObject(long Id, IDispatch** Result) override
    {
        if (Id != 1 || !PopupOpen()) return E_INVALIDARG;
        *Result = MbViewAccObject(View()->OpenSubView);
        return *Result ? S_OK : E_FAIL;
    }
    std::wstring NameText() override
    {
        std::wstring name = WithoutAmpersands(Viewer->CaptionText());
        if (!Viewer->HasToolbarStyle()) {
            const std::wstring shortcut = Viewer->EntryItem->ShortCutText();
            if (!shortcut.empty()) name += L"\t" + shortcut;
        }
        return name;
    }
    long RoleId() override { return Viewer->AccRole(); }
    long StateBits() override
    {
        long s = 0;
        TMbView* view = View();
        if (view->SelectedViewer == Viewer) {
            s |= STATE_SYSTEM_HOTTRACKED;
            if (Modal()) s |= STATE_SYSTEM_FOCUSED;
            if (view->MouseCaptured && view->PointerOnSelected) s |= STATE_SYSTEM_PRESSED;
        }
        if (Viewer->EntryItem->GetKinds() & ikSubmenu) s |= STATE_SYSTEM_HASPOPUP;
        if (Viewer->Placed || Viewer->ScrolledAway) {
            if (WindowUsable(view)) s |= STATE_SYSTEM_FOCUSABLE;
        } else if (Viewer->BehindChevron) {
            s |= STATE_SYSTEM_INVISIBLE;
        }
        if (!Selectable()) s |= STATE_SYSTEM_UNAVAILABLE;
        if (Viewer->EntryItem->GetChecked()) s |= STATE_SYSTEM_CHECKED;
        return s;
    }
    std::wstring ShortcutText() override
    {
        const wchar_t c = Viewer->ShowsCaption() ? AccelChar(Viewer->CaptionText()) : 0;
        if (!c) return {};
        const std::wstring key(1, c);
        return View()->IsPopupView ? key : MbAltKeyName() + L"+" + key;
    }
    std::wstring DefaultActionText() override
    {
        if (!Available()) return {};
        return PopupOpen()                                                    ? L"Close"
               : (Viewer->EntryItem->GetKinds() & ikSubmenu)                 ? L"Open"
               : (View()->IsPopupView || (View()->ViewStyle & vsMenuBar)) ? L"Execute"
                                                                             : L"Press";
    }
    HRESULT Select(long Flags) override
    {
        if (Flags != SELFLAG_TAKEFOCUS) return E_INVALIDARG;
        if (!WindowUsable(View()) || !(Viewer->Placed || Viewer->ScrolledAway)) return E_FAIL;
        View()->SelectViewer(Viewer);
        View()->RevealSelection();
        if (!Modal() && !View()->UpperView) Post(arSelect);
        return S_OK;
    }
    HRESULT DefaultAction() override
    {
        if (!Available()) return E_FAIL;
        TMbView* view = View();
        if (PopupOpen()) {
            view->CloseOpenPopup();
            if (Modal() && !view->IsPopupView) view->FinishCancel();
            return S_OK;
        }
        view->SelectViewer(Viewer);
        view->RevealSelection();
        Post(arExecute);
        return S_OK;
    }
    RECT ScreenRect() override
    {
        RECT r = Viewer->EntryRect;
        if (HWND w = ViewWindow(View())) ::MapWindowPoints(w, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    IAccessible* Neighbour(long Direction) override
    {
        if (Direction == NAVDIR_FIRSTCHILD || Direction == NAVDIR_LASTCHILD)
            return PopupOpen() ? MbViewAccObject(View()->OpenSubView) : nullptr;
        const std::vector<TMbItemViewer*> list = AccessibleEntries(View());
        auto it = std::find(list.begin(), list.end(), Viewer);
        if (it == list.end()) return nullptr;
        const bool back = Direction == NAVDIR_UP || Direction == NAVDIR_LEFT || Direction == NAVDIR_PREVIOUS;
        const bool forward = Direction == NAVDIR_DOWN || Direction == NAVDIR_RIGHT || Direction == NAVDIR_NEXT;
        if (back && it != list.begin()) return MbViewerAccObject(*(it - 1));
        if (forward && it + 1 != list.end()) return MbViewerAccObject(*(it + 1));
        return nullptr;
    }
    HRESULT HitTest(POINT At, VARIANT* Child) override
    {
        const RECT r = ScreenRect();
        if (!::PtInRect(&r, At)) return S_FALSE;
        return AnswerNumber(Child, CHILDID_SELF);
    }
};

void RunRequest(TMbItemViewerAccObject* Object, WPARAM Kind)
{
    try {
        Object->Run(Kind);
    } catch (...) {
    }
    Object->Release();
}

}  // namespace

void MbNotifyAccEvent(DWORD Event, HWND Wnd, LONG ObjectId, LONG ChildId)
{
    if (!gNotifyLooked.load()) {
        if (HMODULE user = ::GetModuleHandleW(L"user32.dll"))
            gNotifyWinEvent = reinterpret_cast<TNotifyWinEvent>(
                reinterpret_cast<void*>(::GetProcAddress(user, "NotifyWinEvent")));
        gNotifyLooked.exchange(true);
    }
    if (gNotifyWinEvent) gNotifyWinEvent(Event, Wnd, ObjectId, ChildId);
}

bool MbAccessibilityAvailable()
{
    if (!gOleaccLooked.load()) {
        const UINT old = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
        HMODULE lib = ::LoadLibraryW(L"oleacc.dll");
        ::SetErrorMode(old);
        if (lib) {
            gLresultFromObject = reinterpret_cast<TLresultFromObject>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "LresultFromObject")));
            gAccessibleObjectFromWindow = reinterpret_cast<TAccessibleObjectFromWindow>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "AccessibleObjectFromWindow")));
        }
        gOleaccLooked.exchange(true);
    }
    return gLresultFromObject && gAccessibleObjectFromWindow;
}

HRESULT MbWindowAccObject(HWND Wnd, IDispatch** Object)
{
    *Object = nullptr;
    if (!MbAccessibilityAvailable()) return E_FAIL;
    const HRESULT r = gAccessibleObjectFromWindow(Wnd, static_cast<DWORD>(OBJID_WINDOW), IID_IDispatch,
                                                  reinterpret_cast<void**>(Object));
    if (FAILED(r)) *Object = nullptr;
    return r;
}

std::wstring MbAltKeyName()
{
    const UINT scan = ::MapVirtualKeyW(VK_MENU, 0);
    if (scan == 0) return L"Alt";
    wchar_t name[256] = {};
    if (::GetKeyNameTextW(static_cast<LONG>(scan << 16), name, 256) <= 0) return L"Alt";
    return name;
}

IAccessible* MbViewAccObject(TMbView* View)
{
    if (!View || !MbAccessibilityAvailable()) return nullptr;
    if (!View->AccObject) View->AccObject = new TMbViewAccObject(View);  // the view's reference
    View->AccObject->AddRef();
    return View->AccObject;
}

IAccessible* MbViewerAccObject(TMbItemViewer* Viewer)
{
    if (!Viewer || !MbAccessibilityAvailable()) return nullptr;
    if (!Viewer->AccObject) Viewer->AccObject = new TMbItemViewerAccObject(Viewer);
    Viewer->AccObject->AddRef();
    return Viewer->AccObject;
}

bool MbAnswerGetObject(TMbView* View, WPARAM WParam, LPARAM LParam, LRESULT& Result)
{
    if (static_cast<LONG>(LParam) != static_cast<LONG>(OBJID_CLIENT) || !MbAccessibilityAvailable()) return false;
    IAccessible* a = MbViewAccObject(View);
    if (!a) return false;
    Result = gLresultFromObject(kIIDAccessible, WParam, a);
    a->Release();
    return true;
}

void MbDetachAccObject(TMbView* View)
{
    if (View && View->AccObject) MbAccOwnerGone(View->AccObject);
}

void MbDisconnectAccObjects()
{
    // Every object is held while it is disconnected and cut off, so that
    // releases by the disconnection cannot free an object the walk still
    // reaches; the holds are given back last.
    std::vector<TMbBaseAccObject*> held;
    {
        TListLock lock;
        for (TMbBaseAccObject* o = gHead; o; o = o->Previous) {
            o->AddRef();
            held.push_back(o);
        }
    }
    for (TMbBaseAccObject* o : held) ::CoDisconnectObject(static_cast<IAccessible*>(o), 0);
    for (TMbBaseAccObject* o : held)
        if (o->Detach()) o->Release();  // the owner's reference
    for (TMbBaseAccObject* o : held) o->Release();
}

int MbLiveAccObjectCount()
{
    TListLock lock;
    return gLiveCount;
}

}  // namespace toolbar
