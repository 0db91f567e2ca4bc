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

// Shared answers and argument checks of both concrete classes.
class TMbCustomAccObject : public TMbBaseAccObject {
protected:
    template <class F>
    HRESULT Guard(F&& Body)
    {
        try {
            return Body();
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
};

class TMbViewAccObject : public TMbCustomAccObject {
public:
    explicit TMbViewAccObject(TMbView* AView) : View(AView) {}
    ~TMbViewAccObject() override
    {
        if (View && View->AccObject == this) View->AccObject = nullptr;
    }
    bool Detach() override
    {
        const bool held = View && View->AccObject == this;
        if (held) View->AccObject = nullptr;
        View = nullptr;
        return held;
    }
    TMbView* View;

    HRESULT Check(const VARIANT& Child, bool SelfOnly = true)
    {
        if (!View) return E_FAIL;
        if (Child.vt != VT_I4 || (SelfOnly && Child.lVal != CHILDID_SELF)) return E_INVALIDARG;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** Parent) override
    {
        if (!Parent) return E_POINTER;
        *Parent = nullptr;
        if (!View) return E_FAIL;
        return Guard([&]() -> HRESULT {
            if (View->UpperView && View->UpperView->OpenSubViewer && View->UpperView->OpenSubView == View) {
                *Parent = MbViewerAccObject(View->UpperView->OpenSubViewer);
                return *Parent ? S_OK : E_FAIL;
            }
            return MbWindowAccObject(ViewWindow(View), Parent);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* Count) override
    {
        if (!Count) return E_POINTER;
        *Count = 0;
        if (!View) return E_FAIL;
        *Count = static_cast<long>(AccessibleEntries(View).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT Child, IDispatch** Result) override
    {
        if (!Result) return E_POINTER;
        *Result = nullptr;
        if (HRESULT h = Check(Child, false); FAILED(h)) return h;
        return Guard([&]() -> HRESULT {
            if (Child.lVal == CHILDID_SELF) {
                *Result = this;
                AddRef();
                return S_OK;
            }
            const std::vector<TMbItemViewer*> list = AccessibleEntries(View);
            if (Child.lVal < 1 || static_cast<std::size_t>(Child.lVal) > list.size()) return E_INVALIDARG;
            TMbItemViewer* v = list[static_cast<std::size_t>(Child.lVal - 1)];
            if (auto* ci = dynamic_cast<TMbControlItem*>(v->EntryItem))
                if (auto* w = dynamic_cast<classlib::TWinControl*>(ci->GetControl()))
                    if (w->HandleAllocated()) return MbWindowAccObject(w->GetHandle(), Result);
            *Result = MbViewerAccObject(v);
            return *Result ? S_OK : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT Child, BSTR* Name) override
    {
        if (!Name) return E_POINTER;
        *Name = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return Guard([&]() -> HRESULT {
            std::wstring name;
            if (View->UpperView && View->UpperView->OpenSubView == View && View->UpperView->OpenSubViewer)
                name = WithoutAmpersands(View->UpperView->OpenSubViewer->CaptionText());
            if (name.empty())
                if (HWND w = ViewWindow(View)) {
                    wchar_t text[256] = {};
                    ::GetWindowTextW(w, text, 256);
                    name = text;
                }
            *Name = MakeBstr(name);
            return S_OK;
        });
    }
    HRESULT Empty(VARIANT Child, BSTR* Out)
    {
        if (!Out) return E_POINTER;
        *Out = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT Child, BSTR* Value) override { return Empty(Child, Value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT Child, BSTR* D) override { return Empty(Child, D); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT Child, BSTR* H) override { return Empty(Child, H); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT Child, BSTR* A) override { return Empty(Child, A); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* File, VARIANT Child, long* Topic) override
    {
        if (Topic) *Topic = 0;
        return Empty(Child, File);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT Child, VARIANT* Role) override
    {
        ClearVariant(Role);
        if (!Role) return E_POINTER;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        Role->vt = VT_I4;
        Role->lVal = View->IsPopupView                ? ROLE_SYSTEM_MENUPOPUP
                     : (View->ViewStyle & vsMenuBar) ? ROLE_SYSTEM_MENUBAR
                                                     : ROLE_SYSTEM_TOOLBAR;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT Child, VARIANT* State) override
    {
        ClearVariant(State);
        if (!State) return E_POINTER;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        State->vt = VT_I4;
        State->lVal = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT Child, BSTR* Key) override
    {
        if (!Key) return E_POINTER;
        *Key = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        if (!(View->ViewStyle & vsMenuBar)) return S_FALSE;
        *Key = MakeBstr(MbAltKeyName());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* Focus) override
    {
        ClearVariant(Focus);
        return View ? S_FALSE : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* Selection) override
    {
        ClearVariant(Selection);
        return View ? S_FALSE : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT Child) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* Left, long* Top, long* Width, long* Height, VARIANT Child) override
    {
        if (!Left || !Top || !Width || !Height) return E_POINTER;
        *Left = *Top = *Width = *Height = 0;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        RECT r{};
        if (HWND w = ViewWindow(View)) ::GetWindowRect(w, &r);
        *Left = r.left, *Top = r.top, *Width = r.right - r.left, *Height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long Direction, VARIANT Start, VARIANT* End) override
    {
        ClearVariant(End);
        if (!End) return E_POINTER;
        if (HRESULT h = Check(Start); FAILED(h)) return h;
        if (Direction != NAVDIR_FIRSTCHILD && Direction != NAVDIR_LASTCHILD) return S_FALSE;
        const std::vector<TMbItemViewer*> list = AccessibleEntries(View);
        if (list.empty()) return S_FALSE;
        IAccessible* a = MbViewerAccObject(Direction == NAVDIR_FIRSTCHILD ? list.front() : list.back());
        if (!a) return S_FALSE;
        End->vt = VT_DISPATCH;
        End->pdispVal = a;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long X, long Y, VARIANT* Child) override
    {
        ClearVariant(Child);
        if (!Child) return E_POINTER;
        if (!View) return E_FAIL;
        return Guard([&]() -> HRESULT {
            const HWND w = ViewWindow(View);
            if (!w) return S_FALSE;
            RECT r{};
            ::GetWindowRect(w, &r);
            const POINT p{X, Y};
            if (!::PtInRect(&r, p)) return S_FALSE;
            POINT c = p;
            ::ScreenToClient(w, &c);
            const HWND under = ::ChildWindowFromPointEx(w, c, CWP_SKIPINVISIBLE);
            if (under && under != w) {
                IDispatch* d = nullptr;
                if (SUCCEEDED(MbWindowAccObject(under, &d)) && d) {
                    Child->vt = VT_DISPATCH;
                    Child->pdispVal = d;
                    return S_OK;
                }
            }
            if (TMbItemViewer* v = View->ViewerAt(c))
                if (IAccessible* a = MbViewerAccObject(v)) {
                    Child->vt = VT_DISPATCH;
                    Child->pdispVal = a;
                    return S_OK;
                }
            Child->vt = VT_I4;
            Child->lVal = CHILDID_SELF;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT Child) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT Child, BSTR) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT Child, BSTR) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
    }
};

class TMbItemViewerAccObject : public TMbCustomAccObject {
public:
    explicit TMbItemViewerAccObject(TMbItemViewer* AViewer) : Viewer(AViewer) {}
    ~TMbItemViewerAccObject() override
    {
        if (Viewer && Viewer->AccObject == this) Viewer->AccObject = nullptr;
    }
    bool Detach() override
    {
        const bool held = Viewer && Viewer->AccObject == this;
        if (held) Viewer->AccObject = nullptr;
        Viewer = nullptr;
        return held;
    }
    TMbItemViewer* Viewer;

    TMbView* View() const { return Viewer->OwnerView; }
    bool Selectable() const
    {
        return Viewer->EntryItem->GetEnabled() && (Viewer->EntryItem->GetKinds() & ikSelectable);
    }
    bool Available() const { return Viewer->IsAccessible() && Selectable() && WindowUsable(View()); }
    bool PopupOpen() const { return View()->OpenSubViewer == Viewer && View()->OpenSubView; }
    bool Modal() const { return (View()->RootView()->RunFlags & rfInLoop) != 0; }

    HRESULT Check(const VARIANT& Child)
    {
        if (!Viewer) return E_FAIL;
        if (Child.vt != VT_I4 || Child.lVal != CHILDID_SELF) return E_INVALIDARG;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** Parent) override
    {
        if (!Parent) return E_POINTER;
        *Parent = nullptr;
        if (!Viewer) return E_FAIL;
        *Parent = MbViewAccObject(View());
        return *Parent ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* Count) override
    {
        if (!Count) return E_POINTER;
        *Count = 0;
        if (!Viewer) return E_FAIL;
        *Count = PopupOpen() ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT Child, IDispatch** Result) override
    {
        if (!Result) return E_POINTER;
        *Result = nullptr;
        if (!Viewer) return E_FAIL;
        if (Child.vt != VT_I4) return E_INVALIDARG;
        if (Child.lVal == CHILDID_SELF) {
            *Result = this;
            AddRef();
            return S_OK;
        }
        if (Child.lVal == 1 && PopupOpen()) {
            *Result = MbViewAccObject(View()->OpenSubView);
            return *Result ? S_OK : E_FAIL;
        }
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT Child, BSTR* Name) override
    {
        if (!Name) return E_POINTER;
        *Name = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return Guard([&]() -> HRESULT {
            std::wstring name = WithoutAmpersands(Viewer->CaptionText());
            if (!Viewer->HasToolbarStyle()) {
                const std::wstring shortcut = Viewer->EntryItem->ShortCutText();
                if (!shortcut.empty()) name += L"\t" + shortcut;
            }
            *Name = MakeBstr(name);
            return S_OK;
        });
    }
    HRESULT Empty(VARIANT Child, BSTR* Out)
    {
        if (!Out) return E_POINTER;
        *Out = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
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
        ClearVariant(Role);
        if (!Role) return E_POINTER;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        Role->vt = VT_I4;
        Role->lVal = Viewer->AccRole();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT Child, VARIANT* State) override
    {
        ClearVariant(State);
        if (!State) return E_POINTER;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return Guard([&]() -> HRESULT {
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
            State->vt = VT_I4;
            State->lVal = s;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT Child, BSTR* Key) override
    {
        if (!Key) return E_POINTER;
        *Key = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        const wchar_t c = Viewer->ShowsCaption() ? AccelChar(Viewer->CaptionText()) : 0;
        if (!c) return S_FALSE;
        const std::wstring key(1, c);
        *Key = MakeBstr(View()->IsPopupView ? key : MbAltKeyName() + L"+" + key);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* Focus) override
    {
        ClearVariant(Focus);
        if (!Focus) return E_POINTER;
        if (!Viewer) return E_FAIL;
        if (Modal() && View()->SelectedViewer == Viewer) {
            Focus->vt = VT_I4;
            Focus->lVal = CHILDID_SELF;
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* Selection) override
    {
        ClearVariant(Selection);
        return Viewer ? S_FALSE : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT Child, BSTR* Action) override
    {
        if (!Action) return E_POINTER;
        *Action = nullptr;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        if (!Available()) return S_FALSE;
        const wchar_t* text = PopupOpen()                                        ? L"Close"
                              : (Viewer->EntryItem->GetKinds() & ikSubmenu)     ? L"Open"
                              : (View()->IsPopupView || (View()->ViewStyle & vsMenuBar)) ? L"Execute"
                                                                                 : L"Press";
        *Action = ::SysAllocString(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long Flags, VARIANT Child) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        if (Flags != SELFLAG_TAKEFOCUS) return E_INVALIDARG;
        if (!WindowUsable(View()) || !(Viewer->Placed || Viewer->ScrolledAway)) return E_FAIL;
        View()->SelectViewer(Viewer);
        View()->RevealSelection();
        if (!Modal() && !View()->UpperView) Post(arSelect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* Left, long* Top, long* Width, long* Height, VARIANT Child) override
    {
        if (!Left || !Top || !Width || !Height) return E_POINTER;
        *Left = *Top = *Width = *Height = 0;
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        RECT r = Viewer->EntryRect;
        if (HWND w = ViewWindow(View())) ::MapWindowPoints(w, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        *Left = r.left, *Top = r.top, *Width = r.right - r.left, *Height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long Direction, VARIANT Start, VARIANT* End) override
    {
        ClearVariant(End);
        if (!End) return E_POINTER;
        if (HRESULT h = Check(Start); FAILED(h)) return h;
        IAccessible* a = nullptr;
        if (Direction == NAVDIR_FIRSTCHILD || Direction == NAVDIR_LASTCHILD) {
            if (PopupOpen()) a = MbViewAccObject(View()->OpenSubView);
        } else {
            const std::vector<TMbItemViewer*> list = AccessibleEntries(View());
            auto it = std::find(list.begin(), list.end(), Viewer);
            const bool back = Direction == NAVDIR_UP || Direction == NAVDIR_LEFT || Direction == NAVDIR_PREVIOUS;
            const bool forward = Direction == NAVDIR_DOWN || Direction == NAVDIR_RIGHT || Direction == NAVDIR_NEXT;
            if (it != list.end()) {
                if (back && it != list.begin()) a = MbViewerAccObject(*(it - 1));
                if (forward && it + 1 != list.end()) a = MbViewerAccObject(*(it + 1));
            }
        }
        if (!a) return S_FALSE;
        End->vt = VT_DISPATCH;
        End->pdispVal = a;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long X, long Y, VARIANT* Child) override
    {
        ClearVariant(Child);
        if (!Child) return E_POINTER;
        if (!Viewer) return E_FAIL;
        RECT r = Viewer->EntryRect;
        if (HWND w = ViewWindow(View())) ::MapWindowPoints(w, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        const POINT p{X, Y};
        if (!::PtInRect(&r, p)) return S_FALSE;
        Child->vt = VT_I4;
        Child->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT Child) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
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
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT Child, BSTR) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT Child, BSTR) override
    {
        if (HRESULT h = Check(Child); FAILED(h)) return h;
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
