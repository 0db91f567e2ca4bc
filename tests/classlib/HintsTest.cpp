#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/Hints.h"
#include "classlib/StdCtrls.h"
#include "support/AppScope.h"
#include "support/HostWindow.h"

using namespace classlib;

namespace {

using testsupport::TAppScope;

void Pump() { testsupport::PumpMessages(); }

// Serves messages until Done holds (ten seconds at most: the machine is shared).
bool PumpUntil(const std::function<bool()>& Done)
{
    for (int i = 0; i < 1000; ++i) {
        Pump();
        if (Done()) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return false;
}

// A window control that can answer the hint message its own way.
class TProbe : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    std::function<LRESULT(THintInfo&)> Answer;
    int Asked = 0;
    THintInfo Seen;
    int ShowHintChanges = 0;

protected:
    void Dispatch(TMessage& Message) override
    {
        if (Message.Msg == CM_HINTSHOW) {
            ++Asked;
            auto& info = *reinterpret_cast<THintInfo*>(Message.LParam);
            Seen = info;
            Message.Result = Answer ? Answer(info) : 0;
            return;
        }
        TCustomControl::Dispatch(Message);
    }
    void ShowHintChanged() override
    {
        ++ShowHintChanges;
        TCustomControl::ShowHintChanged();
    }
};

// A frameless form with ShowHint on, away from the corner where other test
// programs on the display put their windows: a window control with a
// "short|long" hint on the left, a graphic control with a plain hint in the
// middle, a window control with ShowHint off on the right.
class HintsTest : public ::testing::Test {
public:
    void SetUp() override
    {
        form.SetBorderStyle(bsNone);
        form.SetBounds(700, 600, 300, 100);
        form.SetShowHint(true);
        probe.SetParent(&form);
        probe.SetBounds(0, 0, 100, 100);
        probe.Hint = L"Open|Opens a picture";
        label.SetParent(&form);
        label.SetBounds(100, 0, 100, 100);
        label.Hint = L"Plain";
        quiet.SetParent(&form);
        quiet.SetBounds(200, 0, 100, 100);
        quiet.Hint = L"Never|Not shown";
        quiet.SetShowHint(false);
        form.SetVisible(true);
        // Above the windows of the other test programs on the display: the
        // hints look at what lies under the pointer.
        ::SetWindowPos(form.GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        Pump();
        app.HintPause = 30;
        app.HintShortPause = 10;
        app.HintHidePause = 0;
        app.OnHint = TNotifyEvent(this, &HintsTest::HintChanged);
    }
    void TearDown() override { app.CancelHint(); }

    void HintChanged(TObject*) { statusLog.push_back(app.GetHint()); }

    // The move message the system sends for the pointer at a point of the
    // form (client coordinates), to the window there. (The shared cursor
    // stays where it is: other test programs use the display.)
    void MoveTo(int X, int Y)
    {
        const POINT screen = form.ClientToScreen(POINT{X, Y});
        HWND target = ::WindowFromPoint(screen);
        POINT client = screen;
        ::ScreenToClient(target, &client);
        ::SendMessageW(target, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
    }
    bool HintShown() { return app.GetHintWindow()->IsHintShown(); }
    RECT HintRect()
    {
        RECT r{};
        ::GetWindowRect(app.GetHintWindow()->GetHandle(), &r);
        return r;
    }

    TAppScope scope;
    TApplication& app = scope.app;
    TForm form{nullptr};
    TProbe probe{nullptr};
    TGraphicControl label{nullptr};
    TProbe quiet{nullptr};
    std::vector<std::wstring> statusLog;
};

}  // namespace

TEST(HintText, ShortAndLongParts)
{
    struct {
        const wchar_t* hint;
        const wchar_t* shortPart;
        const wchar_t* longPart;
    } cases[] = {
        {L"Open|Opens a picture", L"Open", L"Opens a picture"},
        {L"Plain", L"Plain", L"Plain"},
        {L"|Only long", L"", L"Only long"},
        {L"Only short|", L"Only short", L""},
        {L"a|b|c", L"a", L"b|c"},
        {L"", L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetShortHint(c.hint), c.shortPart) << c.hint;
        EXPECT_EQ(GetLongHint(c.hint), c.longPart) << c.hint;
    }
}

TEST(HintText, ShowHintFollowsTheParentUntilSet)
{
    TProbe parent{nullptr}, child{nullptr}, own{nullptr};
    child.SetParent(&parent);
    own.SetParent(&parent);
    own.SetShowHint(false);
    EXPECT_FALSE(own.GetParentShowHint()) << "setting ShowHint clears ParentShowHint";

    parent.SetShowHint(true);
    EXPECT_TRUE(child.GetShowHint());
    EXPECT_EQ(child.ShowHintChanges, 1);
    EXPECT_FALSE(own.GetShowHint()) << "a control with its own value keeps it";

    own.SetParentShowHint(true);
    EXPECT_TRUE(own.GetShowHint()) << "taking the parent's value again";

    TProbe other{nullptr};
    child.SetParent(&other);
    EXPECT_FALSE(child.GetShowHint()) << "a new parent's value is taken";
    EXPECT_EQ(child.ShowHintChanges, 2);
}

TEST_F(HintsTest, RestingPointerShowsTheShortHintBelowTheCursorAndSetsTheStatusHint)
{
    MoveTo(20, 30);
    EXPECT_EQ(app.GetHintControl(), &probe);
    EXPECT_FALSE(HintShown()) << "the hint waits for the pause";
    EXPECT_EQ(app.GetHint(), L"Opens a picture") << "the status hint is set at once";

    ASSERT_TRUE(PumpUntil([&] { return HintShown(); }));
    EXPECT_EQ(app.GetHintWindow()->GetCaption(), L"Open");
    EXPECT_EQ(probe.Asked, 1);
    EXPECT_EQ(probe.Seen.CursorPos.x, 20);
    EXPECT_EQ(probe.Seen.CursorPos.y, 30);
    EXPECT_EQ(probe.Seen.HintStr, L"Open");
    const RECT r = HintRect();
    const POINT cursor = form.ClientToScreen(POINT{20, 30});
    EXPECT_EQ(r.left, cursor.x);
    EXPECT_GT(r.top, cursor.y) << "below the pointer";
    const RECT need = app.GetHintWindow()->CalcHintRect(1000, L"Open", nullptr);
    EXPECT_EQ(r.right - r.left, need.right);
    EXPECT_EQ(r.bottom - r.top, need.bottom);

    // Moving within the control keeps the hint as it is.
    MoveTo(40, 50);
    EXPECT_TRUE(HintShown());
    Pump();
    EXPECT_EQ(probe.Asked, 1);

    // On to the graphic control: its hint follows, its text is also the
    // status hint (no "|": both parts are the whole text).
    MoveTo(150, 50);
    EXPECT_EQ(app.GetHintControl(), &label);
    ASSERT_TRUE(PumpUntil([&] { return HintShown() && app.GetHintWindow()->GetCaption() == L"Plain"; }));
    EXPECT_EQ(app.GetHint(), L"Plain");
    EXPECT_EQ(statusLog, (std::vector<std::wstring>{L"Opens a picture", L"Plain"})) << "OnHint once per change";

    // A control with ShowHint off: the hint is the nearest parent's with
    // ShowHint (the form, which has no hint text: no window); the status
    // hint is the control's own.
    MoveTo(250, 50);
    EXPECT_FALSE(HintShown());
    EXPECT_EQ(app.GetHintControl(), &form);
    EXPECT_EQ(app.GetHint(), L"Not shown");
    ::Sleep(60);
    Pump();
    EXPECT_FALSE(HintShown());
}

// A window that parents a system control is subclassed for its reflected
// notifications: the graphic controls on it are still found under the
// pointer and show their hints.
TEST_F(HintsTest, AGraphicControlBesideASystemControlShowsItsHint)
{
    TEdit edit(nullptr);
    edit.SetParent(&form);
    edit.SetBounds(0, 80, 60, 20);
    ASSERT_NE(edit.GetHandle(), nullptr);
    Pump();
    const POINT over = form.ClientToScreen(POINT{150, 50});
    EXPECT_EQ(FindDragTarget(over, true), &label);
    MoveTo(150, 50);
    EXPECT_EQ(app.GetHintControl(), &label);
    ASSERT_TRUE(PumpUntil([&] { return HintShown(); }));
    EXPECT_EQ(app.GetHintWindow()->GetCaption(), L"Plain");
    app.CancelHint();
    edit.SetParent(nullptr);
}

TEST_F(HintsTest, ChangesMadeByTheControlAreHonoured)
{
    static int data;
    probe.Answer = [](THintInfo& info) {
        info.HintStr = L"Item two";
        info.HintPos = POINT{40, 60};
        info.CursorRect = RECT{0, 0, 50, 50};
        info.HintData = &data;
        return LRESULT(0);
    };
    MoveTo(10, 10);
    ASSERT_TRUE(PumpUntil([&] { return HintShown(); }));
    EXPECT_EQ(app.GetHintWindow()->GetCaption(), L"Item two");
    EXPECT_EQ(app.GetHintWindow()->GetHintData(), &data);
    EXPECT_EQ(HintRect().left, 40);
    EXPECT_EQ(HintRect().top, 60);

    // Inside the cursor rectangle nothing changes; outside it (still on the
    // control) the next hint is asked for.
    MoveTo(45, 45);
    Pump();
    EXPECT_TRUE(HintShown());
    EXPECT_EQ(probe.Asked, 1);
    MoveTo(70, 70);
    ASSERT_TRUE(PumpUntil([&] { return probe.Asked == 2; }));

    // A non-zero answer refuses: no window.
    app.CancelHint();
    probe.Answer = [](THintInfo&) { return LRESULT(1); };
    MoveTo(20, 20);
    ASSERT_TRUE(PumpUntil([&] { return probe.Asked == 3; }));
    Pump();
    EXPECT_FALSE(HintShown());
}

TEST_F(HintsTest, PressKeyCancelAndTheHidePauseEndTheHint)
{
    struct {
        const char* name;
        std::function<void(HintsTest&)> end;
        bool forgetsControl;
    } cases[] = {
        {"press", [](HintsTest& t) { ::SendMessageW(t.probe.GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 30)); },
         true},
        {"key", [](HintsTest& t) {
             ::PostMessageW(t.probe.GetHandle(), WM_KEYDOWN, VK_SHIFT, 1);
             t.app.ProcessMessages();
         },
         true},
        {"cancel", [](HintsTest& t) { t.app.CancelHint(); }, true},
        {"hide pause", [](HintsTest& t) { PumpUntil([&] { return !t.HintShown(); }); }, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        app.CancelHint();
        app.HintHidePause = std::string(c.name) == "hide pause" ? 50 : 0;
        MoveTo(20, 30);
        ASSERT_TRUE(PumpUntil([&] { return HintShown(); }));
        c.end(*this);
        EXPECT_FALSE(HintShown());
        if (::GetCapture()) ::ReleaseCapture();
        Pump();
        EXPECT_FALSE(HintShown()) << "nothing brings it back by itself";
        EXPECT_EQ(app.GetHintControl() == nullptr, c.forgetsControl);
    }
    // After the hide pause, moves inside the same control show nothing
    // until the pointer has left it.
    MoveTo(30, 40);
    Pump();
    EXPECT_FALSE(HintShown());
}

TEST_F(HintsTest, LeavingTheProgramsWindowsClearsHintAndStatusHint)
{
    MoveTo(20, 30);
    ASSERT_TRUE(PumpUntil([&] { return HintShown(); }));
    ASSERT_EQ(app.GetHint(), L"Opens a picture");
    // The bare desktop, in the corner no test program uses.
    ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 2, ::GetSystemMetrics(SM_CYSCREEN) - 2);
    ::SendMessageW(probe.GetHandle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(HintShown());
    EXPECT_EQ(app.GetHintControl(), nullptr);
    EXPECT_EQ(app.GetHint(), L"");
}

TEST_F(HintsTest, AControlFreedWhileItsHintIsPendingIsForgotten)
{
    probe.SetVisible(false);
    auto* temp = new TProbe(nullptr);
    temp->SetParent(&form);
    temp->SetBounds(0, 0, 100, 100);
    temp->Hint = L"Temporary";
    MoveTo(20, 20);
    ASSERT_EQ(app.GetHintControl(), temp);
    delete temp;
    EXPECT_EQ(app.GetHintControl(), nullptr);
    Pump();
    ::Sleep(60);
    Pump();
    EXPECT_FALSE(HintShown());
}
