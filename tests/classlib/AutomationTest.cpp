// The automation messages of forms: a hidden form with named controls
// answers "find" with the right window and "click" by running the right
// control's click, sent or posted, and refuses what a user could not reach.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Automation.h"
#include "classlib/Buttons.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"

using namespace classlib;

namespace {

// Records the names of the components whose OnClick ran.
struct TClickLog {
    std::vector<std::wstring> Names;
    void Hit(TObject* Sender) { Names.push_back(static_cast<TComponent*>(Sender)->GetName()); }
};

// A component that is no control, clicked through a registered clicker.
class TMenuEntry : public TComponent {
public:
    using TComponent::TComponent;
    int Clicks = 0;
};

bool ClickMenuEntry(TComponent* Component)
{
    auto* entry = dynamic_cast<TMenuEntry*>(Component);
    if (!entry) return false;
    ++entry->Clicks;
    return true;
}

// A global atom for the time of one test, as the driving process holds it.
class TAtom {
public:
    explicit TAtom(const std::wstring& Name) : atom_(::GlobalAddAtomW(Name.c_str())) {}
    ~TAtom() { ::GlobalDeleteAtom(atom_); }
    TAtom(const TAtom&) = delete;
    TAtom& operator=(const TAtom&) = delete;
    WPARAM Value() const { return atom_; }

private:
    ATOM atom_;
};

class AutomationTest : public ::testing::Test {
protected:
    AutomationTest()
    {
        form.SetBorderStyle(bsNone);
        form.SetBounds(0, 0, 300, 200);
        Add(new TEdit(&form), L"E1", &form);
        Add(new TButton(&form), L"btnStart", &form);
        Add(new TSpeedButton(&form), L"R2", &form);
        check = Add(new TCheckBox(&form), L"ChB1", &form);
        Add(new TButton(&form), L"btnOff", &form)->SetEnabled(false);
        Add(new TButton(&form), L"btnHidden", &form)->SetVisible(false);
        panel = Add(new TPanel(&form), L"PanelTOP", &form);
        Add(new TButton(&form), L"btnInPanel", panel);
        // Owned by the panel, not by the form: found deeper in the tree.
        Add(new TButton(panel), L"btnOwnedByPanel", panel);
        (new TMenuEntry(&form))->SetName(L"mnuExit");
    }

    template <class C>
    C* Add(C* Control, const wchar_t* Name, TWinControl* Parent)
    {
        Control->SetName(Name);
        Control->SetParent(Parent);
        Control->OnClick = TNotifyEvent(&log, &TClickLog::Hit);
        return Control;
    }

    LRESULT Send(UINT Msg, const std::wstring& Name)
    {
        TAtom atom(Name);
        return ::SendMessageW(form.GetHandle(), Msg, atom.Value(), 0);
    }
    HWND Find(const std::wstring& Name) { return reinterpret_cast<HWND>(Send(FindControlMessage(), Name)); }
    LRESULT Click(const std::wstring& Name) { return Send(ClickControlMessage(), Name); }
    HWND HandleOf(const wchar_t* Name) { return static_cast<TWinControl*>(form.FindComponent(Name))->GetHandle(); }

    TForm form{nullptr};
    TPanel* panel = nullptr;
    TCheckBox* check = nullptr;
    TClickLog log;
};

TEST_F(AutomationTest, MessagesAreRegisteredByName)
{
    EXPECT_EQ(FindControlMessage(), ::RegisterWindowMessageW(L"VelmoFindControl"));
    EXPECT_EQ(ClickControlMessage(), ::RegisterWindowMessageW(L"VelmoClickControl"));
    EXPECT_NE(FindControlMessage(), ClickControlMessage());
}

TEST_F(AutomationTest, FindReturnsTheWindowOfTheNamedControl)
{
    EXPECT_FALSE(::IsWindowVisible(form.GetHandle()));
    HWND edit = Find(L"E1");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit, HandleOf(L"E1"));
    EXPECT_EQ(Find(L"btnstart"), HandleOf(L"btnStart")) << "names ignore case";
    EXPECT_EQ(Find(L"btnInPanel"), HandleOf(L"btnInPanel"));
    EXPECT_EQ(::GetParent(Find(L"btnInPanel")), Find(L"PanelTOP"));
    HWND deep = Find(L"btnOwnedByPanel");
    EXPECT_NE(deep, nullptr);
    EXPECT_EQ(deep, static_cast<TWinControl*>(panel->FindComponent(L"btnOwnedByPanel"))->GetHandle());
}

TEST_F(AutomationTest, FindGivesZeroForUnknownNamesAndWindowlessComponents)
{
    for (const wchar_t* name : {L"NoSuchControl", L"R2", L"mnuExit"})
        EXPECT_EQ(Find(name), nullptr) << name;
    EXPECT_EQ(::SendMessageW(form.GetHandle(), FindControlMessage(), 0, 0), 0) << "atom 0";
}

TEST_F(AutomationTest, ClickRunsTheNamedControlsClick)
{
    EXPECT_EQ(Click(L"btnStart"), 1);
    EXPECT_EQ(Click(L"R2"), 1);
    EXPECT_EQ(Click(L"btnInPanel"), 1);
    EXPECT_EQ(log.Names, (std::vector<std::wstring>{L"btnStart", L"R2", L"btnInPanel"}));
}

TEST_F(AutomationTest, ClickTogglesACheckBoxBeforeItsOnClick)
{
    check->SetChecked(true);
    bool seen = true;
    struct TProbe {
        TCheckBox* Box;
        bool* Seen;
        void Hit(TObject*) { *Seen = Box->GetChecked(); }
    } probe{check, &seen};
    check->OnClick = TNotifyEvent(&probe, &TProbe::Hit);
    EXPECT_EQ(Click(L"ChB1"), 1);
    EXPECT_FALSE(seen);
    EXPECT_FALSE(check->GetChecked());
    EXPECT_EQ(Click(L"ChB1"), 1);
    EXPECT_TRUE(check->GetChecked());
}

TEST_F(AutomationTest, ClickRefusesWhatAUserCouldNotClick)
{
    panel->SetEnabled(false);
    for (const wchar_t* name : {L"NoSuchControl", L"btnOff", L"btnHidden", L"btnInPanel"})
        EXPECT_EQ(Click(name), 0) << name;
    EXPECT_EQ(::SendMessageW(form.GetHandle(), ClickControlMessage(), 0, 0), 0) << "atom 0";
    EXPECT_TRUE(log.Names.empty());
}

TEST_F(AutomationTest, PostedClickRunsWhenTheMessageIsHandled)
{
    TAtom atom(L"btnStart");
    ASSERT_TRUE(::PostMessageW(form.GetHandle(), ClickControlMessage(), atom.Value(), 0));
    EXPECT_TRUE(log.Names.empty());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    EXPECT_EQ(log.Names, std::vector<std::wstring>{L"btnStart"});
}

TEST_F(AutomationTest, RegisteredClickersClickComponentsThatAreNoControls)
{
    auto* entry = static_cast<TMenuEntry*>(form.FindComponent(L"mnuExit"));
    EXPECT_EQ(Click(L"mnuExit"), 0) << "nobody knows the class yet";
    RegisterAutomationClicker(&ClickMenuEntry);
    EXPECT_EQ(Click(L"mnuExit"), 1);
    EXPECT_EQ(entry->Clicks, 1);
}

}  // namespace
