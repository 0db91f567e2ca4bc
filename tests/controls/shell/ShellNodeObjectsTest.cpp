// The objects the tree and the list keep for their nodes and items: made
// through the maker a program may replace, kept for every node and item and
// freed with them; and the tree's buffered paint.
#include "controls/shell/ShellControls.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellPump.h"

namespace {

using testsupport::Touch;

// A node and an item of a program's own, counting the ones alive.
struct TTaggedNode : shell::TShellTreeNode {
    explicit TTaggedNode(int* Alive) : alive(Alive) { ++*alive; }
    ~TTaggedNode() override { --*alive; }
    int* alive;
};
struct TTaggedItem : shell::TShellListItem {
    explicit TTaggedItem(int* Alive) : alive(Alive) { ++*alive; }
    ~TTaggedItem() override { --*alive; }
    int* alive;
};

// An event handler that puts Maker in place of the control's own maker.
struct TMakerSwap {
    classlib::TObjectFactory Maker;
    void Swap(classlib::TObject*, classlib::TObjectFactory& ItemClass) { ItemClass = Maker; }
    classlib::TCreateItemClassEvent Event() { return classlib::TCreateItemClassEvent(this, &TMakerSwap::Swap); }
};

// Every node below Item (Item included).
void CollectNodes(HWND Wnd, HTREEITEM Item, std::vector<HTREEITEM>& Nodes)
{
    for (; Item; Item = reinterpret_cast<HTREEITEM>(
                     ::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(Item)))) {
        Nodes.push_back(Item);
        CollectNodes(Wnd,
                     reinterpret_cast<HTREEITEM>(
                         ::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(Item))),
                     Nodes);
    }
}

std::vector<HTREEITEM> AllNodes(HWND Wnd)
{
    std::vector<HTREEITEM> nodes;
    CollectNodes(Wnd, reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_ROOT, 0)), nodes);
    return nodes;
}

// Makers the controls must refuse: an object of another class, and none.
const std::vector<classlib::TObjectFactory>& RefusedMakers()
{
    static const std::vector<classlib::TObjectFactory> makers{
        [] { return new classlib::TObject; },
        [] { return static_cast<classlib::TObject*>(nullptr); },
    };
    return makers;
}

// Every node of the tree gets the object of the program's class, down to
// the nodes read later; a node that leaves frees its object, the tree
// frees the rest.
TEST(ShellNodeObjects, TreeMakesEveryNodeOfTheClassItIsGiven)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a", L"b", L"b\\c", L"b\\c\\d"})
        ::CreateDirectoryW(dir.File(name).c_str(), nullptr);

    int alive = 0;
    TMakerSwap swap;
    swap.Maker = [&alive] { return static_cast<classlib::TObject*>(new TTaggedNode(&alive)); };
    classlib::TForm form(nullptr);
    auto* tree = new shell::TShellTree(&form);
    tree->OnCreateNodeClass = swap.Event();
    tree->SetParent(&form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    tree->ExpandNode(reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_ROOT, 0)), true);

    std::vector<HTREEITEM> nodes = AllNodes(wnd);
    ASSERT_EQ(nodes.size(), 5u);  // the root, a, b, c, d
    for (HTREEITEM node : nodes) {
        auto* own = dynamic_cast<TTaggedNode*>(tree->GetNode(node));
        ASSERT_NE(own, nullptr) << shelltest::TreeText(wnd, node);
        EXPECT_EQ(own->Item, node);
        EXPECT_EQ(own->Tree, tree);
    }
    EXPECT_EQ(alive, 5);

    ::RemoveDirectoryW(dir.File(L"a").c_str());
    tree->RefreshNode(nodes[0], false);
    EXPECT_EQ(AllNodes(wnd).size(), 4u);
    EXPECT_EQ(alive, 4);
    delete tree;
    EXPECT_EQ(alive, 0);
}

// A maker of anything but a tree node raises with the tree's text, and the
// tree keeps the root it showed.
TEST(ShellNodeObjects, TreeRefusesAnotherClass)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"a").c_str(), nullptr);
    classlib::TForm form(nullptr);
    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    for (const classlib::TObjectFactory& maker : RefusedMakers()) {
        TMakerSwap swap{maker};
        tree->OnCreateNodeClass = swap.Event();
        try {
            tree->SetRootedAtFileSystemFolder(dir.File(L"a"));
            ADD_FAILURE() << "no exception";
        } catch (const classlib::EInvalidArgument& e) {
            EXPECT_EQ(e.Message(),
                      L"Internal Error: TShellTree.OnCreateNodeClass.ItemClass must inherit from TShellTreeNode.");
        }
        tree->OnCreateNodeClass = nullptr;
        EXPECT_EQ(AllNodes(wnd).size(), 2u);  // the root and a, as before
        EXPECT_EQ(tree->GetPath(), dir.Path());
    }
}

// Every item of the list, the " .. " item too, gets the record of the
// program's class; the records go with their items, and a maker of another
// class raises with the list's text before the list changes.
TEST(ShellNodeObjects, ListMakesEveryItemOfTheClassItIsGiven)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    for (const wchar_t* name : {L"a.gif", L"b.gif", L"sub\\c.gif"}) Touch(dir.File(name));

    int alive = 0;
    TMakerSwap swap;
    swap.Maker = [&alive] { return static_cast<classlib::TObject*>(new TTaggedItem(&alive)); };
    classlib::TForm form(nullptr);
    auto* list = new shell::TShellList(&form);
    list->OnCreateItemClass = swap.Event();
    list->SetParent(&form);
    list->SetShowParentFolder(true);
    list->SetPath(dir.Path());
    classlib::TListItems* items = list->GetItems();
    ASSERT_EQ(items->GetCount(), 4);  // " .. ", sub, a.gif, b.gif
    for (int i = 0; i < items->GetCount(); ++i) {
        auto* own = dynamic_cast<TTaggedItem*>(shell::TShellList::ShellItem(items->GetItem(i)));
        ASSERT_NE(own, nullptr) << i;
        EXPECT_EQ(own->Item, items->GetItem(i));
    }
    EXPECT_EQ(alive, 4);
    ::DeleteFileW(dir.File(L"b.gif").c_str());
    list->UpdateContents();
    EXPECT_EQ(items->GetCount(), 3);
    EXPECT_EQ(alive, 3);
    list->SetPath(dir.File(L"sub"));
    EXPECT_EQ(items->GetCount(), 2);  // " .. ", c.gif
    EXPECT_EQ(alive, 2);

    for (const classlib::TObjectFactory& maker : RefusedMakers()) {
        TMakerSwap refused{maker};
        list->OnCreateItemClass = refused.Event();
        Touch(dir.File(L"sub\\d.gif"));
        for (const std::function<void()>& fill : {std::function<void()>([list] { list->Populate(); }),
                                                  std::function<void()>([list] { list->UpdateContents(); })}) {
            try {
                fill();
                ADD_FAILURE() << "no exception";
            } catch (const classlib::EInvalidArgument& e) {
                EXPECT_EQ(e.Message(),
                          L"Internal Error: TShellList.OnCreateNodeClass.ItemClass must inherit from TShellListItem.");
            }
            EXPECT_EQ(items->GetCount(), 2);
            EXPECT_EQ(alive, 2);
        }
        ::DeleteFileW(dir.File(L"sub\\d.gif").c_str());
    }
    delete list;
    EXPECT_EQ(alive, 0);
}

// A tree that notes, as the drawing of its nodes begins, the DC it is given
// and what the screen shows at a point of its background.
class TWatchedTree : public shell::TShellTree {
public:
    using shell::TShellTree::TShellTree;
    POINT Probe{};
    DWORD DrawDC = 0;           // GetObjectType of the DC
    COLORREF ScreenAtDraw = 0;  // at Probe

protected:
    void CNNotify(classlib::TMessage& Message) override
    {
        auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(Message.LParam);
        if (draw->nmcd.hdr.code == NM_CUSTOMDRAW && draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            DrawDC = ::GetObjectType(draw->nmcd.hdc);
            HDC screen = ::GetDC(GetHandle());
            ScreenAtDraw = ::GetPixel(screen, Probe.x, Probe.y);
            ::ReleaseDC(GetHandle(), screen);
        }
        shell::TShellTree::CNNotify(Message);
    }
};

// The client area's pixels after every pending paint of the window ran.
std::vector<COLORREF> Picture(HWND Wnd)
{
    ::RedrawWindow(Wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT r{};
    ::GetClientRect(Wnd, &r);
    std::vector<COLORREF> pixels;
    HDC dc = ::GetDC(Wnd);
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x) pixels.push_back(::GetPixel(dc, x, y));
    ::ReleaseDC(Wnd, dc);
    return pixels;
}

// The tree paints through a bitmap: the same picture as unbuffered, but
// nothing reaches the screen before the whole picture does (the erase of a
// new background colour shows only with the nodes drawn over it).
TEST(ShellNodeObjects, TreePaintsWholePicturesThroughABitmap)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"alpha", L"beta", L"gamma"}) ::CreateDirectoryW(dir.File(name).c_str(), nullptr);
    ::SetCursorPos(1279, 1023);  // no node under the pointer
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 220, 200);
    auto* tree = new TWatchedTree(&form);
    EXPECT_TRUE(tree->GetDoubleBuffered());
    tree->SetParent(&form);
    tree->SetBounds(0, 0, 200, 180);
    tree->Probe = POINT{180, 160};
    form.SetVisible(true);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    // The icons arrive in the background: the picture is taken once all are in.
    ASSERT_TRUE(shelltest::PumpUntil([&] {
        for (HTREEITEM node : AllNodes(wnd))
            if (tree->GetNode(node)->Image < 0) return false;
        return true;
    }));

    const std::vector<COLORREF> buffered = Picture(wnd);
    EXPECT_EQ(tree->DrawDC, static_cast<DWORD>(OBJ_MEMDC));
    tree->SetDoubleBuffered(false);
    const std::vector<COLORREF> direct = Picture(wnd);
    EXPECT_EQ(tree->DrawDC, static_cast<DWORD>(OBJ_DC));
    EXPECT_TRUE(buffered == direct);
    EXPECT_NE(std::count(buffered.begin(), buffered.end(), buffered.front()), std::ptrdiff_t(buffered.size()));

    // A mark put on the screen is gone by the time the nodes are drawn
    // when the tree erases its background on the screen; buffered, it
    // stays until the whole picture is copied over it.
    RECT client{};
    ::GetClientRect(wnd, &client);
    const COLORREF background = buffered[std::size_t(tree->Probe.y) * std::size_t(client.right) + std::size_t(tree->Probe.x)];
    const COLORREF mark = RGB(255, 0, 255);
    ASSERT_NE(background, mark);
    for (const bool doubleBuffered : {false, true}) {
        SCOPED_TRACE(doubleBuffered);
        tree->SetDoubleBuffered(doubleBuffered);
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_UPDATENOW);
        HDC dc = ::GetDC(wnd);
        ::SetPixel(dc, tree->Probe.x, tree->Probe.y, mark);
        ASSERT_EQ(::GetPixel(dc, tree->Probe.x, tree->Probe.y), mark);
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        EXPECT_EQ(tree->ScreenAtDraw == mark, doubleBuffered);
        EXPECT_EQ(::GetPixel(dc, tree->Probe.x, tree->Probe.y), background);
        ::ReleaseDC(wnd, dc);
    }
}

}  // namespace
