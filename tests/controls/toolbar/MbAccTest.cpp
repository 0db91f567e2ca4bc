// Accessibility objects answering IAccessible for a menu bar (also through
// WM_GETOBJECT), a toolbar with entries behind its chevron and an open
// popup menu; objects outliving their entries; argument checks; and the
// shut-down disconnection while clients still hold objects.
#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <string>

#include "classlib/Forms.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbToolbar.h"
#include "tests/controls/toolbar/MbInputDriver.h"

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

}  // namespace
