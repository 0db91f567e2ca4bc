// Menu items are clicked through the forms' automation message like a
// user's click: enabled and visible items only.
#include <windows.h>

#include <gtest/gtest.h>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "controls/toolbar/MbItem.h"

namespace {

struct TCounter {
    int Clicks = 0;
    void Hit(classlib::TObject*) { ++Clicks; }
};

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
