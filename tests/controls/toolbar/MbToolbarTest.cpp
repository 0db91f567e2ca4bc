// The toolbar's item tree and row layout: a parent forgets deleted sub-items
// and deletes its own, a disabled item does not click, and a free-standing
// row is as wide as its shown items, each found where it is drawn.
#include <windows.h>

#include <gtest/gtest.h>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"

namespace {

struct TCounter {
    int Clicks = 0;
    void Hit(classlib::TObject*) { ++Clicks; }
};

TEST(MbToolbar, ItemTreeOwnsSubItemsAndClicksOnlyWhenEnabled)
{
    classlib::TForm form(nullptr);
    auto* file = new toolbar::TMbSubmenuItem(&form);
    auto* open = new toolbar::TMbItem(&form);
    auto* exit = new toolbar::TMbItem(&form);
    file->Add(open);
    file->Add(exit);
    file->Move(1, 0);
    ASSERT_EQ(file->GetCount(), 2);
    EXPECT_EQ(file->GetItem(0), exit);
    EXPECT_EQ(exit->GetParentItem(), file);

    TCounter counter;
    exit->OnClick = classlib::TNotifyEvent(&counter, &TCounter::Hit);
    exit->Click();
    exit->SetEnabled(false);
    exit->Click();
    EXPECT_EQ(counter.Clicks, 1);

    delete open;  // the parent forgets it
    EXPECT_EQ(file->GetCount(), 1);
    EXPECT_EQ(file->IndexOf(open), -1);
    const int owned = form.GetComponentCount();
    delete file;  // takes its sub-items along, and they leave the form
    EXPECT_EQ(form.GetComponentCount(), owned - 2);
}

TEST(MbToolbar, RowIsAsWideAsItsItemsAndHitsThem)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    auto* bar = new toolbar::TMbToolbar(&form);
    bar->SetParent(&form);
    auto* first = new toolbar::TMbItem(&form);
    first->SetCaption(L"First");
    auto* separator = new toolbar::TMbSeparatorItem(&form);
    auto* hidden = new toolbar::TMbItem(&form);
    hidden->SetCaption(L"Hidden");
    hidden->SetVisible(false);
    auto* host = new toolbar::TMbControlItem(&form);
    auto* combo = new classlib::TComboBox(&form);
    combo->SetWidth(70);
    host->SetControl(combo);
    for (toolbar::TMbCustomItem* i : {static_cast<toolbar::TMbCustomItem*>(first),
                                      static_cast<toolbar::TMbCustomItem*>(separator),
                                      static_cast<toolbar::TMbCustomItem*>(hidden),
                                      static_cast<toolbar::TMbCustomItem*>(host)})
        bar->GetItems()->Add(i);
    bar->Arrange();

    const RECT a = bar->ItemRect(first), s = bar->ItemRect(separator), c = bar->ItemRect(host);
    EXPECT_LT(a.right, s.left + 1);
    EXPECT_LT(s.right, c.left + 1);
    EXPECT_EQ(bar->ItemRect(hidden).right, 0) << "hidden items take no room";
    EXPECT_EQ(c.right - c.left, 70);
    EXPECT_EQ(combo->GetParent(), bar);
    EXPECT_EQ(combo->GetLeft(), c.left);
    EXPECT_EQ(bar->GetWidth(), c.right + 2);
    EXPECT_EQ(bar->ItemAt((a.left + a.right) / 2, 5), first);
    EXPECT_EQ(bar->ItemAt(bar->GetWidth() + 10, 5), nullptr);

    // Showing an item makes room for it.
    const int before = bar->GetWidth();
    hidden->SetVisible(true);
    EXPECT_GT(bar->GetWidth(), before);
    EXPECT_GT(bar->ItemRect(host).left, c.left);
}

// The forms' automation message clicks enabled, visible items only.
TEST(MbItemAutomation, ClickMessageClicksEnabledVisibleItems)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    auto* item = new toolbar::TMbItem(&form);
    item->SetName(L"mnuExit");
    TCounter counter;
    item->OnClick = classlib::TNotifyEvent(&counter, &TCounter::Hit);
    const ATOM atom = ::GlobalAddAtomW(L"mnuExit");
    auto click = [&] { return ::SendMessageW(form.GetHandle(), classlib::ClickControlMessage(), atom, 0); };

    EXPECT_EQ(click(), 1);
    EXPECT_EQ(counter.Clicks, 1);
    item->SetEnabled(false);
    EXPECT_EQ(click(), 0);
    item->SetEnabled(true);
    item->SetVisible(false);
    EXPECT_EQ(click(), 0);
    EXPECT_EQ(counter.Clicks, 1);
    ::GlobalDeleteAtom(atom);
}

}  // namespace
