#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Accelerators.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "support/HostWindow.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

TEST(Accelerators, EachCaptionOfAWindowGetsACharacterOfItsOwn)
{
    const struct {
        const char* What;
        std::vector<std::wstring> In, Out;
    } cases[] = {
        {"word starts", {L"&OK", L"Cancel", L"Resize copies"}, {L"&OK", L"&Cancel", L"&Resize copies"}},
        {"a taken first letter moves on", {L"Start", L"Save"}, {L"&Start", L"S&ave"}},
        {"the same text twice", {L"Preview", L"Preview"}, {L"&Preview", L"P&review"}},
        {"an inner letter when every word start is taken", {L"File", L"Add to list", L"Add all"},
         {L"&File", L"&Add to list", L"A&dd all"}},
        {"a mark given is kept, even against an earlier caption", {L"Add", L"&add all"}, {L"A&dd", L"&add all"}},
        {"a mark another caption holds goes", {L"&Save", L"&Start"}, {L"&Save", L"S&tart"}},
        {"a plain ampersand stays plain", {L"F", L"Fish && Chips"}, {L"&F", L"Fish && &Chips"}},
        {"case does not count; no free character leaves none", {L"a", L"A"}, {L"&a", L"A"}},
        {"Cyrillic", {L"Файл", L"Фон страницы:"}, {L"&Файл", L"Фон &страницы:"}},
        {"no letters", {L">>", L""}, {L">>", L""}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> captions = c.In;
        AssignAccelerators(captions);
        EXPECT_EQ(captions, c.Out) << c.What;
    }
}

TEST(Accelerators, MarkedCharacterAndShownText)
{
    EXPECT_EQ(AcceleratorOf(L"E&xit"), L'X');
    EXPECT_EQ(AcceleratorOf(L"Fish && Chips"), 0);
    EXPECT_EQ(AcceleratorOf(L"Trailing&"), 0);
    EXPECT_TRUE(IsAccelerator(L'x', L"E&xit"));
    EXPECT_TRUE(IsAccelerator(L'ы', L"В&ыход"));
    EXPECT_FALSE(IsAccelerator(L'e', L"E&xit"));
    EXPECT_FALSE(IsAccelerator(0, L"Exit"));
    EXPECT_EQ(StripAccelerator(L"Fish && &Chips"), L"Fish & Chips");
}

// Alt+letter reaches the form's controls through CM_DIALOGCHAR: a button is
// pressed, a check box toggled, a label focuses its control; hidden or
// disabled ones stay out.
TEST(Accelerators, AltLetterPressesFocusesAndToggles)
{
    THostWindow host;
    TForm form(nullptr);
    form.SetParentWindow(host.Get());
    form.SetBounds(0, 0, 300, 200);
    auto* edit = new TEdit(&form);
    edit->SetParent(&form);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetCaption(L"&Name:");
    label->SetFocusControl(edit);
    auto* button = new TButton(&form);
    button->SetParent(&form);
    button->SetCaption(L"&Go");
    int clicks = 0;
    button->OnClick = TNotifyEvent::FromFunction([](void* Count, TObject*) { ++*static_cast<int*>(Count); }, &clicks);
    auto* check = new TCheckBox(&form);
    check->SetParent(&form);
    check->SetCaption(L"&Preview");
    form.HandleNeeded();
    form.SetVisible(true);

    EXPECT_NE(form.Perform(CM_DIALOGCHAR, L'g', 0), 0);
    EXPECT_EQ(clicks, 1);
    EXPECT_NE(form.Perform(CM_DIALOGCHAR, L'N', 0), 0);
    EXPECT_TRUE(edit->Focused());
    EXPECT_NE(form.Perform(CM_DIALOGCHAR, L'p', 0), 0);
    EXPECT_TRUE(check->GetChecked());
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'z', 0), 0);

    button->SetEnabled(false);
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'g', 0), 0);
    EXPECT_EQ(clicks, 1);
    edit->SetVisible(false);
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'n', 0), 0);
    label->SetShowAccelChar(false);
    edit->SetVisible(true);
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'n', 0), 0) << "a label showing its text as it is has no accelerator";
}

// Controls whose windows take the focus stop Tab without being told;
// panels and labels do not; an explicit TabStop wins; a memo passes Tab on
// unless it wants tabs.
TEST(Accelerators, TabStopsFollowTheWindowStyle)
{
    TForm form(nullptr);
    auto* edit = new TEdit(&form);
    auto* memo = new TMemo(&form);
    auto* button = new TButton(&form);
    auto* panel = new TWinControl(&form);
    for (TWinControl* c : {static_cast<TWinControl*>(edit), static_cast<TWinControl*>(memo),
                           static_cast<TWinControl*>(button), panel})
        c->SetParent(&form);
    EXPECT_TRUE(edit->GetTabStop());
    EXPECT_TRUE(memo->GetTabStop());
    EXPECT_TRUE(button->GetTabStop());
    EXPECT_FALSE(panel->GetTabStop());
    button->SetTabStop(false);
    EXPECT_FALSE(button->GetTabStop());
    panel->SetTabStop(true);
    EXPECT_TRUE(panel->GetTabStop());

    const LRESULT code = ::SendMessageW(memo->GetHandle(), WM_GETDLGCODE, VK_TAB, 0);
    EXPECT_FALSE(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS));
    memo->WantTabs = true;
    EXPECT_TRUE(::SendMessageW(memo->GetHandle(), WM_GETDLGCODE, VK_TAB, 0) & (DLGC_WANTTAB | DLGC_WANTALLKEYS));
}

}  // namespace
