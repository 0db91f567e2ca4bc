// Shared menu routines: caption text with accelerator marks, the registry
// menu delay, monitors, frame regions and the opening effect's timing.
#include <windows.h>

#include <gtest/gtest.h>

#include "controls/toolbar/MbAnim.h"
#include "controls/toolbar/MbCommon.h"
#include "classlib/WinHandles.h"

namespace {

using namespace toolbar;

TEST(MbCommon, AcceleratorMarksAndHintTrimming)
{
    struct TCase {
        const wchar_t* Text;
        const wchar_t* Plain;
        wchar_t Accel;
    };
    const TCase cases[] = {
        {L"I&nterlaced:", L"Interlaced:", L'n'},
        {L"Save && close", L"Save & close", 0},  // a doubled mark is no accelerator
        {L"&One &Two", L"One Two", L'T'},          // the last single mark counts
        {L"R&&D &x", L"R&D x", L'x'},
        {L"Trailing&", L"Trailing", 0},
        {L"", L"", 0},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(RemoveAccelMarks(c.Text), c.Plain) << c.Text;
        EXPECT_EQ(AccelCharOf(c.Text), c.Accel) << c.Text;
    }
    EXPECT_EQ(DoubleAmpersands(L"R&D"), L"R&&D");
    EXPECT_EQ(TrimEllipsisOrColon(L"Translate to your language..."), L"Translate to your language");
    EXPECT_EQ(TrimEllipsisOrColon(L"Name:"), L"Name");
    EXPECT_EQ(TrimEllipsisOrColon(L":"), L":");
    EXPECT_EQ(TrimEllipsisOrColon(L"..."), L"...");
    EXPECT_EQ(TrimEllipsisOrColon(L"A...:"), L"A...") << "only one of the two goes";
}

TEST(MbCommon, RegistryMenuDelay)
{
    EXPECT_EQ(MenuDelayFromRegistryValue(false, false, L""), 400) << "no value";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"250"), 250);
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"fast"), 0) << "not a number";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"12ms"), 0);
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"-5"), 0) << "never negative";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, false, L"250"), 0) << "not a text";
    EXPECT_GE(MenuOpenDelay(), 0);
}

TEST(MbCommon, SingleMonitorAnswersThePrimaryScreen)
{
    ASSERT_FALSE(SeveralMonitors());
    const RECT full{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    RECT work{};
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const POINT away{full.right + 500, -300};
    const RECT byPoint = MonitorRectForPoint(away, false), byPointWork = MonitorRectForPoint(away, true);
    const RECT byRect = MonitorRectForRect(RECT{10, 10, 20, 20}, false);
    EXPECT_TRUE(::EqualRect(&byPoint, &full));
    EXPECT_TRUE(::EqualRect(&byRect, &full));
    EXPECT_TRUE(::EqualRect(&byPointWork, &work));
}

TEST(MbCommon, FrameRegionIsTheRingOnly)
{
    classlib::TOwnedRegion ring(FrameRegion(RECT{10, 10, 30, 20}, SIZE{2, 1}));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 10, 15));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 29, 15));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 20, 10));
    EXPECT_FALSE(::PtInRegion(ring.Get(), 12, 15)) << "inside the frame";
    EXPECT_FALSE(::PtInRegion(ring.Get(), 20, 11));
    classlib::TOwnedRegion empty(FrameRegion(RECT{5, 5, 5, 9}, SIZE{1, 1}));
    RECT box{};
    EXPECT_EQ(::GetRgnBox(empty.Get(), &box), NULLREGION);
    // Thicker than the rectangle: the whole rectangle.
    classlib::TOwnedRegion solid(FrameRegion(RECT{0, 0, 4, 4}, SIZE{3, 3}));
    EXPECT_TRUE(::PtInRegion(solid.Get(), 2, 2));
}

TEST(MbAnim, FadeAndSlideReachFullLevelOnTime)
{
    // A fade starts at 40 and lasts 175 ms: full at 148 ms.
    EXPECT_EQ(OpenEffectLevel(0, 175, 40), 40);
    EXPECT_EQ(OpenEffectLevel(147, 175, 40), 254);
    EXPECT_GE(OpenEffectLevel(148, 175, 40), 255);
    // A slide starts at 0 and lasts 150 ms.
    EXPECT_EQ(OpenEffectLevel(149, 150, 0), 253);
    EXPECT_GE(OpenEffectLevel(150, 150, 0), 255);
    EXPECT_GE(OpenEffectLevel(-1, 150, 0), 255) << "a clock running backwards ends it";
}

}  // namespace
