// Accessibility objects answering IAccessible for a menu bar (also through
// WM_GETOBJECT), a toolbar with entries behind its chevron and an open
// popup menu; objects outliving their entries; argument checks; and the
// shut-down disconnection while clients still hold objects.
#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbToolbar.h"
#include "tests/controls/toolbar/MbInputDriver.h"

// Rectangles compared and printed in failures.
static bool operator==(const RECT& A, const RECT& B) { return ::EqualRect(&A, &B) != FALSE; }
static void PrintTo(const RECT& R, std::ostream* Out)
{
    *Out << "(" << R.left << ", " << R.top << ")-(" << R.right << ", " << R.bottom << ")";
}

namespace {

using namespace toolbar;
using mbtest::RunDriven;
using mbtest::TInputDriver;
using mbtest::WaitFor;

const GUID kIAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

VARIANT Self()
{
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = CHILDID_SELF;
    return v;
}

VARIANT Child(long Id)
{
    VARIANT v = Self();
    v.lVal = Id;
    return v;
}

std::wstring Name(IAccessible* A, VARIANT C = Self())
{
    BSTR b = nullptr;
    if (FAILED(A->get_accName(C, &b)) || !b) return L"<none>";
    std::wstring s(b, ::SysStringLen(b));
    ::SysFreeString(b);
    return s;
}

long Role(IAccessible* A)
{
    VARIANT r;
    ::VariantInit(&r);
    return SUCCEEDED(A->get_accRole(Self(), &r)) && r.vt == VT_I4 ? r.lVal : -1;
}

long State(IAccessible* A)
{
    VARIANT r;
    ::VariantInit(&r);
    return SUCCEEDED(A->get_accState(Self(), &r)) && r.vt == VT_I4 ? r.lVal : -1;
}

// The platform's entry point, looked up as the framework does.
HRESULT ObjectFromWindow(HWND Wnd, IAccessible** Object)
{
    using TFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    static const TFn fn = reinterpret_cast<TFn>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
    if (!fn) return E_FAIL;
    return fn(Wnd, static_cast<DWORD>(OBJID_CLIENT), kIAccessible, reinterpret_cast<void**>(Object));
}

// The window a platform window object stands for.
HWND WindowOf(IAccessible* Object)
{
    using TFn = HRESULT(WINAPI*)(IAccessible*, HWND*);
    static const TFn fn = reinterpret_cast<TFn>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"oleacc.dll"), "WindowFromAccessibleObject")));
    HWND w = nullptr;
    if (!fn || FAILED(fn(Object, &w))) return nullptr;
    return w;
}

IAccessible* ChildObject(IAccessible* Parent, long Id)
{
    IDispatch* d = nullptr;
    if (FAILED(Parent->get_accChild(Child(Id), &d)) || !d) return nullptr;
    IAccessible* a = nullptr;
    d->QueryInterface(kIAccessible, reinterpret_cast<void**>(&a));
    d->Release();
    return a;
}

struct MbAcc : ::testing::Test {
    MbAcc()
    {
        com = SUCCEEDED(::CoInitialize(nullptr));
        form.SetBounds(40, 40, 300, 200);
        menu = new TMbToolbar(&form);
        menu->SetParent(&form);
        menu->SetMenuBar(true);
        file = new TMbSubmenuItem(&form);
        file->SetCaption(L"&File");
        menu->GetItems()->Add(file);
        open = new TMbItem(&form);
        open->SetCaption(L"&Open");
        open->SetShortCut(ShortCut('O', classlib::ssCtrl));
        file->Add(open);
        auto* help = new TMbSubmenuItem(&form);
        help->SetCaption(L"&Help");
        menu->GetItems()->Add(help);
        help->Add(new TMbItem(&form));

        dock = new TMbDock(&form);
        dock->SetPosition(dpBottom);
        dock->SetParent(&form);
        tools = new TMbToolbar(&form);
        tools->SetChevronPriorityForNewItems(tbcpLowest);  // the last entries go behind the chevron first
        for (int i = 0; i < 8; ++i) {
            auto* b = new TMbItem(&form);
            b->SetCaption(L"Tool " + std::to_wstring(i));
            tools->GetItems()->Add(b);
        }
        tools->SetParent(dock);
        form.Show();
        ::SetForegroundWindow(form.GetHandle());
        ::SetActiveWindow(form.GetHandle());
        classlib::Application->ProcessMessages();
    }
    ~MbAcc() override
    {
        if (com) ::CoUninitialize();
    }
    bool com = false;
    classlib::TForm form{nullptr};
    TMbToolbar *menu, *tools;
    TMbDock* dock;
    TMbCustomItem *file, *open;
};

TEST_F(MbAcc, AMenuBarAnswersNameRoleStateAndChildrenAlsoThroughItsWindow)
{
    ASSERT_TRUE(MbAccessibilityAvailable());
    IAccessible* bar = nullptr;
    ASSERT_TRUE(SUCCEEDED(ObjectFromWindow(menu->GetHandle(), &bar)));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(Role(bar), ROLE_SYSTEM_MENUBAR);
    long count = 0;
    EXPECT_EQ(bar->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 2);
    BSTR key = nullptr;
    EXPECT_EQ(bar->get_accKeyboardShortcut(Self(), &key), S_OK);
    EXPECT_EQ(std::wstring(key), MbAltKeyName());
    ::SysFreeString(key);

    IAccessible* entry = ChildObject(bar, 1);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(Name(entry), L"File");
    EXPECT_EQ(Role(entry), ROLE_SYSTEM_MENUITEM) << "a menu bar entry";
    const long state = State(entry);
    EXPECT_TRUE(state & STATE_SYSTEM_HASPOPUP);
    EXPECT_TRUE(state & STATE_SYSTEM_FOCUSABLE);
    EXPECT_FALSE(state & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE));
    key = nullptr;
    EXPECT_EQ(entry->get_accKeyboardShortcut(Self(), &key), S_OK);
    EXPECT_EQ(std::wstring(key), MbAltKeyName() + L"+f");
    ::SysFreeString(key);
    BSTR action = nullptr;
    EXPECT_EQ(entry->get_accDefaultAction(Self(), &action), S_OK);
    EXPECT_EQ(std::wstring(action), L"Open");
    ::SysFreeString(action);
    EXPECT_EQ(entry->accSelect(SELFLAG_TAKESELECTION, Self()), E_INVALIDARG);
    EXPECT_EQ(entry->get_accName(Child(2), &action), E_INVALIDARG);

    VARIANT next;
    ::VariantInit(&next);
    ASSERT_EQ(entry->accNavigate(NAVDIR_NEXT, Self(), &next), S_OK);
    ASSERT_EQ(next.vt, VT_DISPATCH);
    IAccessible* help = nullptr;
    next.pdispVal->QueryInterface(kIAccessible, reinterpret_cast<void**>(&help));
    ::VariantClear(&next);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(Name(help), L"Help");
    help->Release();
    entry->Release();
    bar->Release();
}

TEST_F(MbAcc, AToolbarCountsItsEntriesBehindTheChevronAsInvisibleChildren)
{
    form.SetWidth(180);
    classlib::Application->ProcessMessages();
    IAccessible* bar = MbViewAccObject(tools->GetView());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(Role(bar), ROLE_SYSTEM_TOOLBAR);
    long count = 0;
    bar->get_accChildCount(&count);
    int behind = 0;
    for (TMbItemViewer* v : tools->GetView()->ViewerList)
        if (v->BehindChevron) ++behind;
    ASSERT_GT(behind, 0);
    EXPECT_GE(count, 8) << "shown, hidden behind the chevron: all are children";
    IAccessible* last = ChildObject(bar, 8);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(Name(last), L"Tool 7");
    EXPECT_TRUE(State(last) & STATE_SYSTEM_INVISIBLE);
    IAccessible* first = ChildObject(bar, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(State(first) & STATE_SYSTEM_INVISIBLE);
    BSTR action = nullptr;
    EXPECT_EQ(first->get_accDefaultAction(Self(), &action), S_OK);
    EXPECT_EQ(std::wstring(action), L"Press");
    ::SysFreeString(action);
    first->Release();
    last->Release();
    bar->Release();
}

TEST_F(MbAcc, AnOpenPopupMenuIsTheChildOfItsEntry)
{
    std::wstring popupName, itemName;
    long popupRole = 0, entryChildren = 0;
    RunDriven(
        [&] {
            menu->GetView()->SelectViewer(menu->GetView()->ViewerList[0]);
            menu->EnterModalLoop(0x02);
        },
        [&](TInputDriver& d) {
            if (!d.WaitCapture(menu->GetHandle())) return;
            WaitFor([&] { return menu->GetView()->OpenSubView != nullptr; });
            if (IAccessible* entry = MbViewerAccObject(menu->GetView()->ViewerList[0])) {
                entry->get_accChildCount(&entryChildren);
                if (IAccessible* popup = ChildObject(entry, 1)) {
                    popupName = Name(popup);
                    popupRole = Role(popup);
                    if (IAccessible* item = ChildObject(popup, 1)) {
                        itemName = Name(item);
                        item->Release();
                    }
                    popup->Release();
                }
                entry->Release();
            }
            d.Key(WM_KEYDOWN, VK_ESCAPE);
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    EXPECT_EQ(entryChildren, 1);
    EXPECT_EQ(popupRole, ROLE_SYSTEM_MENUPOPUP);
    EXPECT_EQ(popupName, L"File");
    EXPECT_EQ(itemName, L"Open\tCtrl+O");
}

TEST_F(MbAcc, ObjectsOutliveTheirEntriesAndShutDownCutsThemOffSafely)
{
    const int before = MbLiveAccObjectCount();
    IAccessible* bar = MbViewAccObject(menu->GetView());
    IAccessible* entry = ChildObject(bar, 1);
    ASSERT_NE(entry, nullptr);
    delete file;  // its viewer goes; the client still holds the object
    BSTR name = nullptr;
    EXPECT_EQ(entry->get_accName(Self(), &name), E_FAIL);
    long count = -1;
    EXPECT_EQ(bar->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 1);

    // Objects held by clients and by their views alike.
    IAccessible* toolsView = MbViewAccObject(tools->GetView());
    IAccessible* tool = ChildObject(toolsView, 1);
    toolsView->Release();
    ASSERT_NE(tool, nullptr);
    MbDisconnectAccObjects();
    EXPECT_EQ(bar->get_accChildCount(&count), E_FAIL) << "cut off from its view";
    EXPECT_EQ(tool->get_accName(Self(), &name), E_FAIL);
    entry->Release();
    bar->Release();
    tool->Release();
    EXPECT_EQ(MbLiveAccObjectCount(), before) << "every object was freed once released";
}

// The answers that carry no data, and the argument checks, of a menu bar's
// object and of one of its entries; once cut off from their owners both
// answer E_FAIL to every call that needs them.
TEST_F(MbAcc, EmptyAnswersAndArgumentChecksOfBarAndEntryObjects)
{
    // Runs a call, frees what it answered and gives back its result.
    using TCall = std::function<HRESULT(IAccessible*)>;
    auto bstr = [](std::function<HRESULT(IAccessible*, BSTR*)> F) -> TCall {
        return [F](IAccessible* A) {
            BSTR b = nullptr;
            const HRESULT h = F(A, &b);
            ::SysFreeString(b);
            return h;
        };
    };
    auto variant = [](std::function<HRESULT(IAccessible*, VARIANT*)> F) -> TCall {
        return [F](IAccessible* A) {
            VARIANT v;
            ::VariantInit(&v);
            const HRESULT h = F(A, &v);
            ::VariantClear(&v);
            return h;
        };
    };
    VARIANT text;
    ::VariantInit(&text);
    text.vt = VT_BSTR;
    const struct {
        const char* What;
        TCall Call;
        HRESULT Bar, Entry, CutOff;
    } cases[] = {
        {"value", bstr([](IAccessible* A, BSTR* B) { return A->get_accValue(Self(), B); }), S_FALSE, S_FALSE, E_FAIL},
        {"description", bstr([](IAccessible* A, BSTR* B) { return A->get_accDescription(Self(), B); }), S_FALSE,
         S_FALSE, E_FAIL},
        {"help", bstr([](IAccessible* A, BSTR* B) { return A->get_accHelp(Self(), B); }), S_FALSE, S_FALSE, E_FAIL},
        {"help topic", bstr([](IAccessible* A, BSTR* B) {
             long topic = -1;
             const HRESULT h = A->get_accHelpTopic(B, Self(), &topic);
             return topic == 0 ? h : E_UNEXPECTED;
         }),
         S_FALSE, S_FALSE, E_FAIL},
        {"value of a child", bstr([](IAccessible* A, BSTR* B) { return A->get_accValue(Child(1), B); }),
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"name of a non-number child", bstr([&](IAccessible* A, BSTR* B) { return A->get_accName(text, B); }),
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"name into nothing", [](IAccessible* A) { return A->get_accName(Self(), nullptr); }, E_POINTER, E_POINTER,
         E_POINTER},
        {"help into nothing", [](IAccessible* A) { return A->get_accHelp(Self(), nullptr); }, E_POINTER, E_POINTER,
         E_POINTER},
        {"role into nothing", [](IAccessible* A) { return A->get_accRole(Self(), nullptr); }, E_POINTER, E_POINTER,
         E_POINTER},
        {"role of a child", variant([](IAccessible* A, VARIANT* V) { return A->get_accRole(Child(1), V); }),
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"state into nothing", [](IAccessible* A) { return A->get_accState(Self(), nullptr); }, E_POINTER,
         E_POINTER, E_POINTER},
        {"parent into nothing", [](IAccessible* A) { return A->get_accParent(nullptr); }, E_POINTER, E_POINTER,
         E_POINTER},
        {"child count into nothing", [](IAccessible* A) { return A->get_accChildCount(nullptr); }, E_POINTER,
         E_POINTER, E_POINTER},
        {"child count", [](IAccessible* A) {
             long n = -1;
             const HRESULT h = A->get_accChildCount(&n);
             return n >= 0 ? h : E_UNEXPECTED;
         },
         S_OK, S_OK, E_FAIL},
        {"child into nothing", [](IAccessible* A) { return A->get_accChild(Self(), nullptr); }, E_POINTER,
         E_POINTER, E_POINTER},
        {"itself as a child", [](IAccessible* A) {
             IDispatch* d = nullptr;
             const HRESULT h = A->get_accChild(Self(), &d);
             if (d) d->Release();
             return h == S_OK && !d ? E_UNEXPECTED : h;
         },
         S_OK, S_OK, E_FAIL},
        {"child past the last", [](IAccessible* A) {
             IDispatch* d = nullptr;
             return A->get_accChild(Child(99), &d);
         },
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"non-number child", [&](IAccessible* A) {
             IDispatch* d = nullptr;
             return A->get_accChild(text, &d);
         },
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"selection", variant([](IAccessible* A, VARIANT* V) { return A->get_accSelection(V); }), S_FALSE, S_FALSE,
         E_FAIL},
        {"focus outside menu mode", variant([](IAccessible* A, VARIANT* V) { return A->get_accFocus(V); }),
         S_FALSE, S_FALSE, E_FAIL},
        {"keyboard shortcut of a child",
         bstr([](IAccessible* A, BSTR* B) { return A->get_accKeyboardShortcut(Child(1), B); }), E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
        {"default action of a child",
         bstr([](IAccessible* A, BSTR* B) { return A->get_accDefaultAction(Child(1), B); }), E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
        {"select a child", [](IAccessible* A) { return A->accSelect(SELFLAG_TAKEFOCUS, Child(1)); }, E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
        {"location into nothing", [](IAccessible* A) {
             long l, t, w;
             return A->accLocation(&l, &t, &w, nullptr, Self());
         },
         E_POINTER, E_POINTER, E_POINTER},
        {"location of a child", [](IAccessible* A) {
             long l = -1, t = -1, w = -1, h = -1;
             const HRESULT r = A->accLocation(&l, &t, &w, &h, Child(1));
             return l == 0 && t == 0 && w == 0 && h == 0 ? r : E_UNEXPECTED;
         },
         E_INVALIDARG, E_INVALIDARG, E_FAIL},
        {"navigate from a child",
         variant([](IAccessible* A, VARIANT* V) { return A->accNavigate(NAVDIR_NEXT, Child(1), V); }), E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
        {"navigate into nothing", [](IAccessible* A) { return A->accNavigate(NAVDIR_NEXT, Self(), nullptr); },
         E_POINTER, E_POINTER, E_POINTER},
        {"hit test into nothing", [](IAccessible* A) { return A->accHitTest(0, 0, nullptr); }, E_POINTER, E_POINTER,
         E_POINTER},
        {"hit test far away", variant([](IAccessible* A, VARIANT* V) { return A->accHitTest(-30000, -30000, V); }),
         S_FALSE, S_FALSE, E_FAIL},
        {"default action on a child", [](IAccessible* A) { return A->accDoDefaultAction(Child(1)); }, E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
        {"rename", [](IAccessible* A) { return A->put_accName(Self(), nullptr); }, S_FALSE, S_FALSE, E_FAIL},
        {"set a value", [](IAccessible* A) { return A->put_accValue(Self(), nullptr); }, S_FALSE, S_FALSE, E_FAIL},
        {"set a child's value", [](IAccessible* A) { return A->put_accValue(Child(1), nullptr); }, E_INVALIDARG,
         E_INVALIDARG, E_FAIL},
    };
    IAccessible* bar = MbViewAccObject(menu->GetView());
    ASSERT_NE(bar, nullptr);
    IAccessible* entry = ChildObject(bar, 2);  // "Help": its menu is not open
    ASSERT_NE(entry, nullptr);
    for (const auto& c : cases) {
        EXPECT_EQ(c.Call(bar), c.Bar) << "menu bar: " << c.What;
        EXPECT_EQ(c.Call(entry), c.Entry) << "entry: " << c.What;
    }
    // What only the bar's object answers without data.
    EXPECT_EQ(bstr([](IAccessible* A, BSTR* B) { return A->get_accDefaultAction(Self(), B); })(bar), S_FALSE);
    EXPECT_EQ(bar->accSelect(SELFLAG_TAKEFOCUS, Self()), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bar->accDoDefaultAction(Self()), S_FALSE);

    MbDetachAccObject(menu->GetView());
    delete menu->GetItems()->GetItem(1);  // the "Help" entry and its viewer go
    for (const auto& c : cases) {
        EXPECT_EQ(c.Call(bar), c.CutOff) << "menu bar cut off: " << c.What;
        EXPECT_EQ(c.Call(entry), c.CutOff) << "entry cut off: " << c.What;
    }
    EXPECT_EQ(bar->accSelect(SELFLAG_TAKEFOCUS, Self()), E_FAIL);
    EXPECT_EQ(bar->accDoDefaultAction(Self()), E_FAIL);
    entry->Release();
    bar->Release();
}

// An object reference released at the end of its scope.
class TAccRef {
public:
    TAccRef() = default;
    explicit TAccRef(IAccessible* P) : p_(P) {}
    explicit TAccRef(const VARIANT& V)
    {
        if (V.vt == VT_DISPATCH && V.pdispVal) V.pdispVal->QueryInterface(kIAccessible, reinterpret_cast<void**>(&p_));
    }
    ~TAccRef()
    {
        if (p_) p_->Release();
    }
    TAccRef(const TAccRef&) = delete;
    TAccRef& operator=(const TAccRef&) = delete;
    IAccessible* operator->() const { return p_; }
    IAccessible* Get() const { return p_; }
    IAccessible** Out() { return &p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    IAccessible* p_ = nullptr;
};

// A client in an apartment of its own, as a screen reader is: it gets the
// objects through WM_GETOBJECT, and each of its calls is carried over to
// the user-interface thread, which serves it from whatever loop it runs
// (its idle pump here, a menu loop, a drag loop). The body may drive input
// into the user-interface thread's loops.
void AsClient(const std::function<void(TInputDriver&)>& Client)
{
    std::atomic<bool> done{false};
    RunDriven(
        [&] {
            while (!done) {
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                classlib::Application->ProcessMessages();
            }
        },
        [&](TInputDriver& d) {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            Client(d);
            ::CoUninitialize();
            done = true;
        });
}

RECT Location(IAccessible* A, VARIANT C = Self())
{
    long l = 0, t = 0, w = 0, h = 0;
    if (FAILED(A->accLocation(&l, &t, &w, &h, C))) return RECT{-1, -1, -1, -1};
    return RECT{l, t, l + w, t + h};
}

// What a hit test names: an object's name, "self", or "" for nothing.
std::wstring HitName(IAccessible* A, POINT P, HRESULT* Result = nullptr)
{
    VARIANT v;
    ::VariantInit(&v);
    const HRESULT h = A->accHitTest(P.x, P.y, &v);
    if (Result) *Result = h;
    std::wstring name;
    if (v.vt == VT_I4) name = v.lVal == CHILDID_SELF ? L"self" : L"#" + std::to_wstring(v.lVal);
    if (v.vt == VT_DISPATCH) {
        TAccRef hit(v);
        name = hit ? Name(hit.Get()) : L"<no object>";
    }
    ::VariantClear(&v);
    return name;
}

std::wstring DefaultAction(IAccessible* A)
{
    BSTR b = nullptr;
    const HRESULT h = A->get_accDefaultAction(Self(), &b);
    std::wstring s = h == S_OK && b ? std::wstring(b, ::SysStringLen(b)) : L"<none>";
    ::SysFreeString(b);
    return s;
}

RECT ScreenRectOf(HWND W)
{
    RECT r{};
    ::GetWindowRect(W, &r);
    return r;
}

RECT ScreenEntryRect(TMbItemViewer* V, HWND Wnd)
{
    RECT r = V->EntryRect;
    ::MapWindowPoints(Wnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

POINT Middle(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

TEST_F(MbAcc, LocationAndHitTestAnswerAClientInScreenCoordinates)
{
    auto* edit = new classlib::TEdit(&form);
    edit->SetWidth(60);
    tools->SetChevronPriorityForNewItems(tbcpHighest);  // kept out of the chevron
    tools->AddControlItem(0, edit);
    menu->SetAutoResize(false);
    menu->SetWidth(250);
    classlib::Application->ProcessMessages();
    const HWND menuWnd = menu->GetHandle(), toolsWnd = tools->GetHandle();
    const RECT bar = ScreenRectOf(menuWnd);
    const RECT help = ScreenEntryRect(menu->GetView()->ViewerList[1], menuWnd);
    const HWND editWnd = edit->GetHandle();
    const RECT editRect = ScreenRectOf(editWnd);
    const RECT tool0 = ScreenEntryRect(tools->GetView()->ViewerList[1], toolsWnd);
    ASSERT_LT(help.right + 10, bar.right) << "room on the bar right of its entries";

    AsClient([&](TInputDriver&) {
        TAccRef menuBar, toolbar;
        ASSERT_EQ(ObjectFromWindow(menuWnd, menuBar.Out()), S_OK);
        ASSERT_EQ(ObjectFromWindow(toolsWnd, toolbar.Out()), S_OK);
        EXPECT_EQ(Location(menuBar.Get()), bar);
        TAccRef helpEntry(ChildObject(menuBar.Get(), 2));
        ASSERT_TRUE(helpEntry);
        EXPECT_EQ(Location(helpEntry.Get()), help);

        HRESULT h = S_OK;
        EXPECT_EQ(HitName(menuBar.Get(), Middle(help)), L"Help");
        EXPECT_EQ(HitName(menuBar.Get(), POINT{bar.right - 3, Middle(bar).y}), L"self") << "the bar, no entry";
        EXPECT_EQ(HitName(menuBar.Get(), POINT{bar.left - 5, bar.top}, &h), L"");
        EXPECT_EQ(h, S_FALSE) << "outside the bar";
        EXPECT_EQ(HitName(helpEntry.Get(), Middle(help)), L"self");
        EXPECT_EQ(HitName(helpEntry.Get(), POINT{help.left - 2, Middle(help).y}, &h), L"");
        EXPECT_EQ(h, S_FALSE);

        // A control hosted on the toolbar is answered by its own window's
        // object, in the hit test and among the children alike.
        VARIANT v;
        ::VariantInit(&v);
        ASSERT_EQ(toolbar->accHitTest(Middle(editRect).x, Middle(editRect).y, &v), S_OK);
        TAccRef control(v);
        ::VariantClear(&v);
        ASSERT_TRUE(control);
        EXPECT_EQ(WindowOf(control.Get()), editWnd);
        TAccRef first(ChildObject(toolbar.Get(), 1));
        ASSERT_TRUE(first);
        EXPECT_EQ(WindowOf(first.Get()), editWnd);
        EXPECT_EQ(HitName(toolbar.Get(), Middle(tool0)), L"Tool 0");
    });
}

// The client's default action and selection return at once; the menu runs
// afterwards, and the client's calls are answered from inside it.
TEST_F(MbAcc, DefaultActionsOpenExecuteAndCloseMenusForAClient)
{
    int clicks = 0;
    struct TClick {
        int* Count;
        void Run(classlib::TObject*) { ++*Count; }
    } click{&clicks};
    open->OnClick = classlib::TNotifyEvent(&click, &TClick::Run);
    const HWND menuWnd = menu->GetHandle();
    TMbView* view = menu->GetView();
    auto popupOpen = [&] { return view->OpenSubView != nullptr; };
    auto inLoop = [&] { return (view->RunFlags & rfInLoop) != 0; };

    // "Open" on the menu bar's entry opens its popup; "Execute" on the
    // popup's entry clicks it and ends the menu.
    AsClient([&](TInputDriver&) {
        TAccRef bar;
        ASSERT_EQ(ObjectFromWindow(menuWnd, bar.Out()), S_OK);
        TAccRef fileEntry(ChildObject(bar.Get(), 1));
        ASSERT_TRUE(fileEntry);
        EXPECT_EQ(DefaultAction(fileEntry.Get()), L"Open");
        EXPECT_EQ(fileEntry->accDoDefaultAction(Self()), S_OK);
        ASSERT_TRUE(WaitFor(popupOpen));
        EXPECT_EQ(State(fileEntry.Get()) & (STATE_SYSTEM_FOCUSED | STATE_SYSTEM_HOTTRACKED),
                  STATE_SYSTEM_FOCUSED | STATE_SYSTEM_HOTTRACKED)
            << "selected in menu mode";
        VARIANT focus;
        ::VariantInit(&focus);
        EXPECT_EQ(fileEntry->get_accFocus(&focus), S_OK);
        EXPECT_EQ(focus.vt, VT_I4);
        EXPECT_EQ(DefaultAction(fileEntry.Get()), L"Close");

        TAccRef popup(ChildObject(fileEntry.Get(), 1));
        ASSERT_TRUE(popup);
        const RECT popupRect = ScreenRectOf(view->OpenSubView->Wnd);
        EXPECT_EQ(Location(popup.Get()), popupRect);
        TAccRef openEntry(ChildObject(popup.Get(), 1));
        ASSERT_TRUE(openEntry);
        const RECT openRect = Location(openEntry.Get());
        EXPECT_EQ(HitName(popup.Get(), Middle(openRect)), L"Open\tCtrl+O");
        EXPECT_EQ(DefaultAction(openEntry.Get()), L"Execute");
        EXPECT_EQ(openEntry->accDoDefaultAction(Self()), S_OK);
        EXPECT_TRUE(WaitFor([&] { return !inLoop(); }));
    });
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks, 1);

    // "Close" on the entry whose popup is open closes it and leaves menu
    // mode; nothing is clicked.
    AsClient([&](TInputDriver&) {
        TAccRef bar;
        ASSERT_EQ(ObjectFromWindow(menuWnd, bar.Out()), S_OK);
        TAccRef fileEntry(ChildObject(bar.Get(), 1));
        ASSERT_TRUE(fileEntry);
        EXPECT_EQ(fileEntry->accDoDefaultAction(Self()), S_OK);
        ASSERT_TRUE(WaitFor(popupOpen));
        EXPECT_EQ(fileEntry->accDoDefaultAction(Self()), S_OK);
        EXPECT_TRUE(WaitFor([&] { return !inLoop(); }));
        EXPECT_FALSE(popupOpen());
    });
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks, 1);
}

TEST_F(MbAcc, SelectionTakesTheFocusIntoMenuModeOnlyWhereTheEntryCanHaveIt)
{
    form.SetWidth(180);
    classlib::Application->ProcessMessages();
    TMbView* view = tools->GetView();
    std::vector<TMbItemViewer*> shown, behind;
    for (TMbItemViewer* v : view->ViewerList)
        if (v->EntryItem != tools->GetChevronItem()) (v->BehindChevron ? behind : shown).push_back(v);
    ASSERT_GE(shown.size(), 2u);
    ASSERT_FALSE(behind.empty());
    TMbItemViewer* second = shown[1];
    const HWND toolsWnd = tools->GetHandle();
    const long secondId = 2, hiddenId = static_cast<long>(shown.size()) + 1;
    tools->GetItems()->GetItem(2)->SetEnabled(false);  // the third entry
    bool wasModal = false, selectedInLoop = false;

    AsClient([&](TInputDriver& d) {
        TAccRef bar;
        ASSERT_EQ(ObjectFromWindow(toolsWnd, bar.Out()), S_OK);
        TAccRef entry(ChildObject(bar.Get(), secondId)), hidden(ChildObject(bar.Get(), hiddenId)),
            disabled(ChildObject(bar.Get(), 3));
        ASSERT_TRUE(entry && hidden && disabled);
        EXPECT_EQ(entry->accSelect(SELFLAG_TAKEFOCUS | SELFLAG_TAKESELECTION, Self()), E_INVALIDARG);
        EXPECT_EQ(hidden->accSelect(SELFLAG_TAKEFOCUS, Self()), E_FAIL) << "behind the chevron";
        EXPECT_EQ(disabled->accDoDefaultAction(Self()), E_FAIL);
        EXPECT_EQ(DefaultAction(disabled.Get()), L"<none>");
        EXPECT_TRUE(State(disabled.Get()) & STATE_SYSTEM_UNAVAILABLE);

        EXPECT_EQ(entry->accSelect(SELFLAG_TAKEFOCUS, Self()), S_OK);
        // The deferred request enters menu mode with the entry selected.
        if (!d.WaitCapture(toolsWnd)) return;
        wasModal = WaitFor([&] { return (view->RunFlags & rfInLoop) != 0; });
        selectedInLoop = view->SelectedViewer == second;
        EXPECT_TRUE(State(entry.Get()) & STATE_SYSTEM_FOCUSED);
        d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        WaitFor([&] { return (view->RunFlags & rfInLoop) == 0; });
    });
    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(selectedInLoop);
    EXPECT_EQ(view->OpenSubView, nullptr);

    // A window the user cannot reach (disabled) takes no selection.
    ::EnableWindow(form.GetHandle(), FALSE);
    AsClient([&](TInputDriver&) {
        TAccRef bar;
        ASSERT_EQ(ObjectFromWindow(toolsWnd, bar.Out()), S_OK);
        TAccRef entry(ChildObject(bar.Get(), 1));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->accSelect(SELFLAG_TAKEFOCUS, Self()), E_FAIL);
        EXPECT_EQ(entry->accDoDefaultAction(Self()), E_FAIL);
        EXPECT_FALSE(State(entry.Get()) & STATE_SYSTEM_FOCUSABLE);
    });
    ::EnableWindow(form.GetHandle(), TRUE);
}

// A toolbar button held down with the mouse reports itself pressed; the
// release clicks it and the state goes.
TEST_F(MbAcc, AButtonHeldDownWithTheMouseIsPressed)
{
    int clicks = 0;
    struct TClick {
        int* Count;
        void Run(classlib::TObject*) { ++*Count; }
    } click{&clicks};
    TMbItemViewer* first = tools->GetView()->ViewerList[0];
    first->EntryItem->OnClick = classlib::TNotifyEvent(&click, &TClick::Run);
    const HWND toolsWnd = tools->GetHandle();
    const RECT r = ScreenEntryRect(first, toolsWnd);
    const POINT on = Middle(r);
    bool held = false, heldHot = false;
    long after = 0;
    AsClient([&](TInputDriver& d) {
        TAccRef bar;
        ASSERT_EQ(ObjectFromWindow(toolsWnd, bar.Out()), S_OK);
        TAccRef entry(ChildObject(bar.Get(), 1));
        ASSERT_TRUE(entry);
        d.RealMoveTo(on);
        d.RealPress(on);
        if (!d.WaitCapture()) return;
        d.RealMoveTo(POINT{on.x + 1, on.y});
        held = WaitFor([&] { return (State(entry.Get()) & STATE_SYSTEM_PRESSED) != 0; });
        heldHot = (State(entry.Get()) & STATE_SYSTEM_HOTTRACKED) != 0;
        d.RealRelease(on);
        d.WaitReleased();
        after = State(entry.Get());
    });
    classlib::Application->ProcessMessages();
    EXPECT_TRUE(held);
    EXPECT_TRUE(heldHot);
    EXPECT_FALSE(after & STATE_SYSTEM_PRESSED);
    EXPECT_EQ(clicks, 1);
}

// The shut-down cuts off objects that a client in another apartment still
// holds: the disconnection drops the references the client's proxies kept,
// so objects go while the walk runs; the client then gets an error, and
// every object is freed exactly once.
TEST_F(MbAcc, ShutDownCutsOffObjectsAClientStillHolds)
{
    const int before = MbLiveAccObjectCount();
    const HWND menuWnd = menu->GetHandle(), toolsWnd = tools->GetHandle();
    std::atomic<int> stage{0};
    HRESULT afterCut = S_OK;
    RunDriven(
        [&] {
            while (stage != 1) classlib::Application->ProcessMessages(), ::Sleep(5);
            MbDisconnectAccObjects();
            stage = 2;
            while (stage != 3) classlib::Application->ProcessMessages(), ::Sleep(5);
        },
        [&](TInputDriver&) {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                TAccRef bar, toolbar;
                ObjectFromWindow(menuWnd, bar.Out());
                ObjectFromWindow(toolsWnd, toolbar.Out());
                TAccRef entry(bar ? ChildObject(bar.Get(), 1) : nullptr);
                TAccRef tool(toolbar ? ChildObject(toolbar.Get(), 2) : nullptr);
                stage = 1;
                while (stage != 2) ::Sleep(5);
                BSTR name = nullptr;
                afterCut = entry ? entry->get_accName(Self(), &name) : S_OK;
                ::SysFreeString(name);
            }
            ::CoUninitialize();
            stage = 3;
        });
    EXPECT_TRUE(FAILED(afterCut));
    EXPECT_EQ(MbLiveAccObjectCount(), before);
}

}  // namespace
