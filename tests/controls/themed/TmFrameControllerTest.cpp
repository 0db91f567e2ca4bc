#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "controls/themed/TmFrameController.h"
#include "controls/themed/TmTables.h"
#include "support/HostWindow.h"

using namespace classlib;
using namespace themed;

namespace {

// A control publishing some of the frame settings by name; it logs every
// write in order.
class TPropControl : public TControl, public ITmPublishedProperties {
public:
    explicit TPropControl(std::vector<std::wstring> names) : TControl(nullptr)
    {
        for (auto& n : names)
            values[n] = -1;
    }
    bool HasPublishedProperty(const std::wstring& Name) const override { return values.count(Name) != 0; }
    int64_t GetPublishedProperty(const std::wstring& Name) const override { return values.at(Name); }
    void SetPublishedProperty(const std::wstring& Name, int64_t Value) override
    {
        values[Name] = Value;
        log.push_back(Name);
    }
    std::map<std::wstring, int64_t> values;
    std::vector<std::wstring> log;
};

std::vector<std::wstring> AllNames()
{
    std::vector<std::wstring> v(TmFrameControllerPropertyNames, TmFrameControllerPropertyNames + fcpAll);
    return v;
}

// A control that takes the settings itself.
class TClientControl : public TControl, public ITmFrameControllerClient {
public:
    TClientControl() : TControl(nullptr) {}
    void UpdateFrameController() override { ++updates; }
    int updates = 0;
};

}  // namespace

TEST(TmFrameControllerTest, DefaultsAndFullUpdateOrderOnLink)
{
    TTmFrameController fc(nullptr);
    EXPECT_EQ(fc.GetColor(), clWindow);
    EXPECT_EQ(fc.GetFrameStyle(), fsFlat);
    EXPECT_EQ(fc.GetFrameHotStyle(), fsFlatBold);
    EXPECT_EQ(fc.GetFrameSides(), sdAllSides);
    EXPECT_FALSE(fc.GetFrameVisible());
    EXPECT_TRUE(fc.GetFlatButtons());
    EXPECT_EQ(fc.GetReadOnlyColor(), clInfoBk);
    EXPECT_EQ(fc.GetFramingPreference(), fpXPThemes);

    TPropControl c(AllNames());
    fc.AddControl(&c);
    fc.AddControl(&c);  // already linked: ignored
    EXPECT_EQ(fc.GetControlCount(), 1);
    const std::vector<std::wstring> expected = {
        L"ParentColor",   L"Color",         L"DisabledColor",  L"ReadOnlyColor", L"ReadOnlyColorOnFocus",
        L"FocusColor",    L"FlatButtonColor", L"FlatButtons",  L"FrameColor",    L"FrameHotColor",
        L"FrameHotTrack", L"FrameHotStyle", L"FrameSides",     L"FrameStyle",    L"FrameVisible",
        L"FramingPreference"};
    EXPECT_EQ(c.log, expected);
    EXPECT_EQ(c.values[L"Color"], clWindow);
    EXPECT_EQ(c.values[L"FrameSides"], sdAllSides);
    EXPECT_EQ(c.values[L"FrameHotStyle"], fsFlatBold);
    EXPECT_EQ(c.values[L"FlatButtons"], 1);

    // Only the properties a control publishes are written.
    TPropControl few({L"FrameStyle", L"Color"});
    fc.AddControl(&few);
    EXPECT_EQ(few.log, (std::vector<std::wstring>{L"Color", L"FrameStyle"}));

    fc.RemoveControl(&c);
    fc.RemoveControl(&few);
    EXPECT_EQ(fc.GetControlCount(), 0);
    c.log.clear();
    fc.SetFrameStyle(fsRaised);
    EXPECT_TRUE(c.log.empty());
}

TEST(TmFrameControllerTest, ColorMovesFocusColorAndClearsParentColor)
{
    TTmFrameController fc(nullptr);
    TPropControl c(AllNames());
    fc.AddControl(&c);
    fc.SetParentColor(true);
    c.log.clear();

    fc.SetColor(clYellow);
    EXPECT_EQ(fc.GetFocusColor(), clYellow);  // equalled the old colour
    EXPECT_FALSE(fc.GetParentColor());
    EXPECT_EQ(c.log, (std::vector<std::wstring>{L"Color"}));
    EXPECT_EQ(c.values[L"Color"], clYellow);

    fc.SetFocusColor(clAqua);
    fc.SetColor(clRed);
    EXPECT_EQ(fc.GetFocusColor(), clAqua);  // differed: stays

    // ParentColor on: a full update skips Color; turning it off notifies
    // ParentColor, then Color.
    fc.SetParentColor(true);
    c.log.clear();
    fc.NotifyControls(fcpAll);
    EXPECT_EQ(c.log.size(), 15u);
    EXPECT_EQ(c.log[0], L"ParentColor");
    EXPECT_NE(c.log[1], L"Color");
    c.log.clear();
    fc.SetParentColor(false);
    EXPECT_EQ(c.log, (std::vector<std::wstring>{L"ParentColor", L"Color"}));
    fc.RemoveControl(&c);
}

TEST(TmFrameControllerTest, UpdateBracketGivesOneFullUpdate)
{
    TTmFrameController fc(nullptr);
    TPropControl c(AllNames());
    TClientControl client;
    fc.AddControl(&c);
    fc.AddControl(&client);
    EXPECT_EQ(client.updates, 1);
    c.log.clear();

    fc.BeginUpdate();
    fc.BeginUpdate();
    fc.SetFrameColor(clRed);
    fc.SetFrameStyle(fsLowered);
    fc.SetDisabledColor(clGray);
    fc.EndUpdate();
    EXPECT_TRUE(c.log.empty());
    EXPECT_EQ(client.updates, 1);
    fc.EndUpdate();
    EXPECT_EQ(c.log.size(), 16u);
    EXPECT_EQ(client.updates, 2);
    EXPECT_EQ(c.values[L"FrameStyle"], fsLowered);
    EXPECT_EQ(c.values[L"FrameColor"], clRed);

    // A surplus EndUpdate resets the count and notifies again.
    fc.EndUpdate();
    EXPECT_EQ(client.updates, 3);
    fc.SetFrameStyle(fsBump);
    EXPECT_EQ(client.updates, 4);  // clients are called whatever the setting
    fc.RemoveControl(&c);
    fc.RemoveControl(&client);
}

TEST(TmFrameControllerTest, NotificationMaskFiltersSettings)
{
    TTmFrameController fc(nullptr);
    std::vector<std::wstring> names = AllNames();
    names.push_back(L"FrameControllerNotifications");
    TPropControl c(names);
    c.values[L"FrameControllerNotifications"] = fcnAll & ~FrameNotification(fcpFrameStyle);
    fc.AddControl(&c);
    EXPECT_EQ(c.values[L"FrameStyle"], -1);  // never written
    EXPECT_EQ(TTmFrameController::GetNotifications(&c), 0xFFFF & ~(1 << 13));
    c.log.clear();
    fc.SetFrameStyle(fsRaised);
    EXPECT_TRUE(c.log.empty());
    fc.SetFrameColor(clRed);
    EXPECT_EQ(c.log, (std::vector<std::wstring>{L"FrameColor"}));

    TPropControl plain(AllNames());
    EXPECT_EQ(TTmFrameController::GetNotifications(&plain), fcnAll);
    fc.RemoveControl(&c);
}

TEST(TmFrameControllerTest, HotTrackTurnsFrameVisibleAndAllSides)
{
    TTmFrameController fc(nullptr);
    fc.SetFrameSides(sdTop);
    TPropControl c(AllNames());
    fc.AddControl(&c);
    c.log.clear();
    fc.SetFrameHotTrack(true);
    EXPECT_TRUE(fc.GetFrameVisible());
    EXPECT_EQ(fc.GetFrameSides(), sdAllSides);
    EXPECT_EQ(c.log, (std::vector<std::wstring>{L"FrameVisible", L"FrameHotTrack"}));
    fc.RemoveControl(&c);

    // While loading the sides stay.
    TTmFrameController loading(nullptr);
    loading.SetFrameSides(sdLeft);
    BeginLoading(&loading);
    loading.SetFrameHotTrack(true);
    EndLoading(&loading);
    EXPECT_EQ(loading.GetFrameSides(), sdLeft);
    EXPECT_TRUE(loading.GetFrameVisible());
}

TEST(TmFrameControllerTest, AssignRegIniFileAndObsoleteProperties)
{
    TTmFrameController a(nullptr), b(nullptr);
    a.SetColor(clRed);
    a.SetFrameStyle(fsRaised);
    a.SetFrameSides(sdLeft | sdRight);
    a.SetFramingPreference(fpCustomFraming);
    a.SetFlatButtons(false);
    TClientControl client;
    b.AddControl(&client);
    b.Assign(&a);
    EXPECT_EQ(client.updates, 2);  // link + one update for the whole copy
    EXPECT_EQ(b.GetColor(), clRed);
    EXPECT_EQ(b.GetFocusColor(), clRed);
    EXPECT_EQ(b.GetFrameStyle(), fsRaised);
    EXPECT_EQ(b.GetFrameSides(), sdLeft | sdRight);
    EXPECT_EQ(b.GetFramingPreference(), fpCustomFraming);
    EXPECT_FALSE(b.GetFlatButtons());
    TTmRegIniFile other(nullptr);
    EXPECT_THROW(b.Assign(&other), EConvertError);
    b.RemoveControl(&client);

    {
        auto* ini = new TTmRegIniFile(nullptr);
        b.SetRegIniFile(ini);
        EXPECT_EQ(b.GetRegIniFile(), ini);
        delete ini;
        EXPECT_EQ(b.GetRegIniFile(), nullptr);
    }

    TTmFrameController old(nullptr);
    EXPECT_TRUE(old.ReadObsoleteProperty(L"FrameFlat", L"True"));
    EXPECT_TRUE(old.GetFrameHotTrack());
    EXPECT_EQ(old.GetFrameStyle(), fsStatus);
    EXPECT_EQ(old.GetFrameHotStyle(), fsLowered);
    EXPECT_FALSE(old.GetFrameVisible());  // set directly, not through the setter
    EXPECT_TRUE(old.ReadObsoleteProperty(L"FrameFocusStyle", L"fsButtonUp"));
    EXPECT_EQ(old.GetFrameHotStyle(), fsButtonUp);
    EXPECT_TRUE(old.ReadObsoleteProperty(L"FrameFlatStyle", L"fsFlat"));
    EXPECT_FALSE(old.ReadObsoleteProperty(L"Color", L"clRed"));
    EXPECT_THROW(old.ReadObsoleteProperty(L"FrameFocusStyle", L"fsNoSuch"), EReadError);
}

TEST(TmRegIniFileTest, ChangesSetTheRefreshFlag)
{
    TTmRegIniFile f(nullptr);
    EXPECT_TRUE(f.GetRefreshStorage());
    EXPECT_EQ(f.GetRegKey(), hkeyCurrentUser);
    EXPECT_EQ(f.GetRegAccess(), 1u << keyAllAccess);
    EXPECT_EQ(f.GetPathType(), ptIniFile);
    f.SetRefreshStorage(false);
    f.SetPath(L"");
    EXPECT_FALSE(f.GetRefreshStorage());  // unchanged value
    f.SetPath(L"Settings.ini");
    EXPECT_TRUE(f.GetRefreshStorage());
    f.SetRefreshStorage(false);
    f.SetSpecialFolder(sfUserDocuments);
    EXPECT_TRUE(f.GetRefreshStorage());
}

// ----------------------------------------------------------- blink list

namespace {
class TBlinkControl : public TControl {
public:
    TBlinkControl(bool blinking) : TControl(nullptr), blinking_(blinking) {}
    void WndProc(TMessage& Message) override
    {
        if (Message.Msg == CM_TMISBLINKING) {
            Message.Result = blinking_ ? 1 : 0;
            return;
        }
        if (Message.Msg == CM_TMBLINK) {
            states.push_back(static_cast<int>(Message.WParam));
            times.push_back(GetTickCount());
            return;
        }
        TControl::WndProc(Message);
    }
    std::vector<int> states;
    std::vector<DWORD> times;

private:
    bool blinking_;
};
}  // namespace

TEST(TmBlinkTest, SwitchesStateAndIntervalsInStep)
{
    TTmBlinkingControlsList list;
    EXPECT_EQ(list.GetBlinkState(), 1);
    EXPECT_EQ(list.GetTimerInterval(), 500u);
    list.SetIntervalOn(300);
    list.SetIntervalOff(700);
    TBlinkControl a(true), b(true), quiet(false);
    list.AddControl(&a);
    list.AddControl(&quiet);
    list.AddControl(&b);
    EXPECT_EQ(list.Count(), 3);

    list.TimerFired();
    EXPECT_EQ(list.GetBlinkState(), 0);
    EXPECT_EQ(list.GetTimerInterval(), 700u);  // the normal colour stays IntervalOff
    list.TimerFired();
    EXPECT_EQ(list.GetBlinkState(), 1);
    EXPECT_EQ(list.GetTimerInterval(), 300u);
    EXPECT_EQ(a.states, (std::vector<int>{0, 1}));
    EXPECT_EQ(b.states, (std::vector<int>{0, 1}));
    EXPECT_TRUE(quiet.states.empty());

    list.RemoveControl(&quiet);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_THROW(list.RemoveControl(&quiet), EListError);
}

TEST(TmBlinkTest, TimerFiresWhileMessagesArePumped)
{
    TTmBlinkingControlsList list;
    list.SetIntervalOn(30);
    list.SetIntervalOff(150);
    TBlinkControl a(true);
    list.AddControl(&a);
    const DWORD start = GetTickCount();
    while (a.states.size() < 3 && GetTickCount() - start < 5000) {
        testsupport::PumpMessages();
        Sleep(5);
    }
    ASSERT_EQ(a.states, (std::vector<int>{0, 1, 0}));
    // The normal colour (state 0) stays about IntervalOff, the blink colour
    // about IntervalOn.
    EXPECT_GE(a.times[1] - a.times[0], 120u);
    EXPECT_LT(a.times[2] - a.times[1], 120u);
    list.RemoveControl(&a);
}

TEST(TmBlinkTest, SharedListLivesWhileControlsAreListed)
{
    ASSERT_EQ(TmBlinkingControls, nullptr);
    TTmBlinkingControlsList* l = TmAcquireBlinkList();
    EXPECT_EQ(TmAcquireBlinkList(), l);
    TBlinkControl a(true);
    l->AddControl(&a);
    TmReleaseBlinkList();
    EXPECT_EQ(TmBlinkingControls, l);  // still in use
    l->RemoveControl(&a);
    TmReleaseBlinkList();
    EXPECT_EQ(TmBlinkingControls, nullptr);
}

// ------------------------------------------------------------- tables

TEST(TmTablesTest, PaletteAndNameTables)
{
    // The palette's 40 colours are distinct RGB values; the 30 system rows
    // follow in system colour order, skipping index 25.
    for (int i = 0; i < 40; ++i) {
        EXPECT_GE(TmNamedPalette[i].Color, 0) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_NE(TmNamedPalette[i].Color, TmNamedPalette[j].Color) << i << " " << j;
    }
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(TmNamedPalette[40 + k].Color, SysColor(k < 25 ? k : k + 1)) << k;
    EXPECT_EQ(std::wstring(TmNamedPalette[15].Name), L"Gray 50%");
    EXPECT_EQ(TmNamedPalette[15].Color, 0x808080);
    EXPECT_EQ(std::wstring(TmNamedPalette[69].Name), L"Menu Bar");
    for (int k = 0; k < 25; ++k)
        EXPECT_EQ(TmSystemColorNames[k].Color, SysColor(k)) << k;
    EXPECT_EQ(std::wstring(TmSystemColorNames[24].Name), L"InfoBk");
    EXPECT_EQ(TmStandardColors[12].Color, clBlue);
    EXPECT_EQ(std::wstring(TmKeyCaptions[14]), L"\u0447");
    EXPECT_EQ(std::wstring(TmButtonCaptions[10]), L"&All");
    for (const auto& g : TmButtonGlyphs)
        EXPECT_EQ(g, nullptr);
}
