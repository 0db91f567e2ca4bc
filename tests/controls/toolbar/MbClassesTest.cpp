// Class references: the popup window an item opens and the view inside it,
// and the three parts of a toolbar, are made of the classes a derived class
// names; the framework's classes otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "classlib/Forms.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"

namespace {

using namespace toolbar;

class TTestPopupView : public TMbPopupView {
public:
    using TMbPopupView::TMbPopupView;
    static std::unique_ptr<TMbPopupView> Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
    {
        return std::make_unique<TTestPopupView>(nullptr, UpperView, Item, nullptr, false, Customizing);
    }
    std::wstring ClassName() const override { return L"TTestPopupView"; }
};

class TTestPopupWindow : public TMbPopupWindow {
public:
    TTestPopupWindow(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
        : TMbPopupWindow(UpperView, Item, Customizing, &TTestPopupView::Create)
    {
    }
    static std::unique_ptr<TMbPopupWindow> Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
    {
        return std::make_unique<TTestPopupWindow>(UpperView, Item, Customizing);
    }
};

class TTestSubmenuItem : public TMbSubmenuItem {
public:
    using TMbSubmenuItem::TMbSubmenuItem;
    TMbPopupWindowClass PopupWindowClass() const override { return &TTestPopupWindow::Create; }
};

TEST(MbClasses, AnItemsPopupOpensInTheWindowAndViewClassesItNames)
{
    TMbRootItem plain(nullptr);
    plain.Add(new TMbItem(nullptr));
    TTestSubmenuItem custom(nullptr);
    custom.Add(new TMbItem(nullptr));

    EXPECT_EQ(plain.PopupWindowClass(), &TMbPopupWindow::Create);
    std::unique_ptr<TMbPopupWindow> w(plain.OpenPopupWindow(nullptr, nullptr, false, false, false, POINT{20, 20}, paLeft));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(dynamic_cast<TTestPopupWindow*>(w.get()), nullptr);
    EXPECT_EQ(w->PopupViewClass(), &TMbPopupView::Create);
    EXPECT_EQ(w->GetView()->ClassName(), L"TMbPopupView");
    w.reset();

    w.reset(custom.OpenPopupWindow(nullptr, nullptr, false, false, false, POINT{20, 20}, paLeft));
    ASSERT_NE(w, nullptr);
    EXPECT_NE(dynamic_cast<TTestPopupWindow*>(w.get()), nullptr);
    EXPECT_EQ(w->PopupViewClass(), &TTestPopupView::Create);
    EXPECT_EQ(w->GetView()->ClassName(), L"TTestPopupView");
    // The view of the derived class still shows the item's entries in its
    // window.
    EXPECT_EQ(w->GetView()->EntryCount(), 1);
    EXPECT_EQ(w->GetView()->Wnd, w->GetHandle());
    EXPECT_TRUE(::IsWindowVisible(w->GetHandle()));
}

class TTestRootItem : public TMbRootItem {
public:
    using TMbRootItem::TMbRootItem;
    std::wstring ClassName() const override { return L"TTestRootItem"; }
};

class TTestChevronItem : public TMbChevronItem {
public:
    using TMbChevronItem::TMbChevronItem;
    std::wstring ClassName() const override { return L"TTestChevronItem"; }
};

class TTestToolbarView : public TMbToolbarView {
public:
    using TMbToolbarView::TMbToolbarView;
    std::wstring ClassName() const override { return L"TTestToolbarView"; }
};

std::unique_ptr<TMbRootItem> MakeTestRoot(TMbCustomToolbar* Bar) { return std::make_unique<TTestRootItem>(Bar); }
std::unique_ptr<TMbChevronItem> MakeTestChevron(TMbCustomToolbar* Bar)
{
    return std::make_unique<TTestChevronItem>(Bar);
}
std::unique_ptr<TMbToolbarView> MakeTestView(TMbCustomToolbar* Bar, TMbCustomItem* Item)
{
    return std::make_unique<TTestToolbarView>(Bar, Item);
}

class TTestToolbar : public TMbCustomToolbar {
public:
    explicit TTestToolbar(classlib::TComponent* AOwner)
        : TMbCustomToolbar(AOwner, TMbToolbarClasses{&MakeTestRoot, &MakeTestChevron, &MakeTestView})
    {
    }
};

TEST(MbClasses, AToolbarMakesItsRootChevronAndViewOfTheClassesItNames)
{
    classlib::TForm form(nullptr);
    form.SetBounds(0, 0, 300, 100);
    auto* plain = new TMbToolbar(&form);
    auto* custom = new TTestToolbar(&form);

    EXPECT_EQ(plain->GetItems()->ClassName(), L"TMbRootItem");
    EXPECT_EQ(plain->GetChevronItem()->ClassName(), L"TMbChevronItem");
    EXPECT_EQ(plain->GetView()->ClassName(), L"TMbToolbarView");
    // The default queries make the framework's classes.
    ASSERT_NE(plain->RootItemClass(), nullptr);
    EXPECT_EQ(plain->RootItemClass()(plain)->ClassName(), L"TMbRootItem");
    EXPECT_EQ(plain->ChevronItemClass()(plain)->ClassName(), L"TMbChevronItem");

    EXPECT_EQ(custom->RootItemClass(), &MakeTestRoot);
    EXPECT_EQ(custom->ChevronItemClass(), &MakeTestChevron);
    EXPECT_EQ(custom->ViewClass(), &MakeTestView);
    EXPECT_EQ(custom->GetItems()->ClassName(), L"TTestRootItem");
    EXPECT_EQ(custom->GetChevronItem()->ClassName(), L"TTestChevronItem");
    EXPECT_EQ(custom->GetView()->ClassName(), L"TTestToolbarView");

    // The parts work together as the framework's own: the view shows the
    // root's sub-items, the chevron last, and the chevron's popup shows the
    // view's entries.
    custom->GetItems()->Add(new TMbItem(&form));
    TMbToolbarView* view = custom->GetView();
    ASSERT_EQ(view->EntryCount(), 2);
    EXPECT_EQ(view->EntryViewer(0)->EntryItem, custom->GetItems()->GetItem(0));
    EXPECT_EQ(view->EntryViewer(1)->EntryItem, custom->GetChevronItem());
    EXPECT_EQ(view->EndExtraCount, 1);
    EXPECT_EQ(custom->GetChevronItem()->ChevronSourceView(), view);
}

}  // namespace
