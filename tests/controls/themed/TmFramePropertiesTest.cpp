#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "controls/themed/TmFrameProperties.h"

using namespace classlib;
using namespace themed;

namespace {

// A control with a frame block; it logs what the block reports and counts
// the plain invalidations.
class TFramedControl : public TControl {
public:
    explicit TFramedControl(bool WithHandler)
        : TControl(nullptr),
          frame(*this, TTmFrameValues{.BorderOuter = fsLowered},
                WithHandler ? TTmFrameChangeEvent(this, &TFramedControl::Changed) : TTmFrameChangeEvent())
    {
    }
    void Invalidate() override { ++invalidations; }
    void Changed(TTmFrameProperty Which) { changes.push_back(Which); }

    int invalidations = 0;
    std::vector<TTmFrameProperty> changes;
    TTmFrameProperties frame;
};

TEST(TmFramePropertiesTest, SettersStoreThenReportOnlyRealChanges)
{
    const struct {
        TTmFrameProperty which;
        std::function<void(TTmFrameProperties&)> set;
        std::function<bool(const TTmFrameValues&)> stored;
    } cases[] = {
        {fbBorderColor, [](auto& f) { f.SetBorderColor(clRed); }, [](auto& v) { return v.BorderColor == clRed; }},
        {fbBorderInner, [](auto& f) { f.SetBorderInner(fsBump); }, [](auto& v) { return v.BorderInner == fsBump; }},
        {fbBorderOuter, [](auto& f) { f.SetBorderOuter(fsFlat); }, [](auto& v) { return v.BorderOuter == fsFlat; }},
        {fbBorderSides, [](auto& f) { f.SetBorderSides(sdTop); }, [](auto& v) { return v.BorderSides == sdTop; }},
        {fbBorderHighlight, [](auto& f) { f.SetBorderHighlight(clBlue); },
         [](auto& v) { return v.BorderHighlight == clBlue; }},
        {fbBorderShadow, [](auto& f) { f.SetBorderShadow(clBlack); }, [](auto& v) { return v.BorderShadow == clBlack; }},
        {fbBorderWidth, [](auto& f) { f.SetBorderWidth(-3); }, [](auto& v) { return v.BorderWidth == -3; }},
        {fbFlatColor, [](auto& f) { f.SetFlatColor(clWhite); }, [](auto& v) { return v.FlatColor == clWhite; }},
        {fbFlatColorAdjustment, [](auto& f) { f.SetFlatColorAdjustment(5); },
         [](auto& v) { return v.FlatColorAdjustment == 5; }},
        {fbVisualStyle, [](auto& f) { f.SetVisualStyle(vsGradient); },
         [](auto& v) { return v.VisualStyle == vsGradient; }},
        {fbTransparent, [](auto& f) { f.SetTransparent(true); }, [](auto& v) { return v.Transparent; }},
    };
    for (const auto& c : cases) {
        TFramedControl handled(true), plain(false);
        c.set(handled.frame);
        c.set(handled.frame);  // the same value again: nothing
        c.set(plain.frame);
        EXPECT_TRUE(c.stored(handled.frame.Values())) << c.which;
        ASSERT_EQ(handled.changes.size(), 1u) << c.which;
        EXPECT_EQ(handled.changes[0], c.which);
        EXPECT_EQ(handled.invalidations, 0) << "the handler redraws instead";
        EXPECT_EQ(plain.invalidations, 1) << c.which;
    }
}

TEST(TmFramePropertiesTest, TransparencyClearsOpaqueAndStoredWritesRedrawNothing)
{
    TFramedControl c(false);
    c.ControlStyle |= csOpaque;
    c.frame.SetTransparent(true);
    EXPECT_EQ(c.ControlStyle & csOpaque, 0u);
    c.frame.SetTransparent(false);
    EXPECT_NE(c.ControlStyle & csOpaque, 0u);
    EXPECT_EQ(c.invalidations, 2);

    c.frame.Stored().Transparent = true;
    c.frame.Stored().BorderWidth = 7;
    EXPECT_TRUE(c.frame.GetTransparent());
    EXPECT_EQ(c.frame.GetBorderWidth(), 7);
    EXPECT_NE(c.ControlStyle & csOpaque, 0u);
    EXPECT_EQ(c.invalidations, 2);
}

TEST(TmFramePropertiesTest, ControllerLinkAndTakenFrameSettings)
{
    TTmFrameController fc(nullptr);
    fc.SetFrameStyle(fsBump);
    fc.SetFrameSides(sdLeft | sdRight);
    fc.SetFrameColor(clRed);
    {
        TFramedControl c(true);
        EXPECT_FALSE(c.frame.TakeControllerFrame(true)) << "no controller";
        c.frame.SetFrameController(&fc);
        EXPECT_EQ(fc.GetControlCount(), 1);
        EXPECT_FALSE(c.frame.TakeControllerFrame(true)) << "the controller shows no frames";
        EXPECT_EQ(c.frame.GetBorderOuter(), fsLowered);

        fc.SetFrameVisible(true);
        c.frame.SetFrameControllerNotifications(fcnAll & ~FrameNotification(fcpFrameColor));
        EXPECT_TRUE(c.frame.Follows(fcpFrameStyle));
        EXPECT_FALSE(c.frame.Follows(fcpFrameColor));
        ASSERT_TRUE(c.frame.TakeControllerFrame(false));
        EXPECT_EQ(c.frame.GetBorderOuter(), fsBump);
        EXPECT_EQ(c.frame.GetBorderSides(), sdAllSides) << "sides only when asked";
        EXPECT_EQ(c.frame.GetFlatColor(), clBtnShadow) << "frame colour not followed";

        c.frame.SetFrameControllerNotifications(fcnAll);
        ASSERT_TRUE(c.frame.TakeControllerFrame(true));
        EXPECT_EQ(c.frame.GetBorderSides(), sdLeft | sdRight);
        EXPECT_EQ(c.frame.GetFlatColor(), clRed);
        EXPECT_EQ(c.frame.GetFlatColorAdjustment(), 0);
        EXPECT_TRUE(c.changes.empty()) << "taken settings redraw nothing";

        EXPECT_TRUE(c.frame.SetPublishedProperty(L"FrameControllerNotifications", 3));
        EXPECT_EQ(c.frame.GetFrameControllerNotifications(), 3);
        EXPECT_EQ(c.frame.GetPublishedProperty(L"FrameControllerNotifications"), 3);
        EXPECT_FALSE(c.frame.SetPublishedProperty(L"Transparent", 1)) << "the control's own setter sets it";
        EXPECT_FALSE(c.frame.GetTransparent());
        EXPECT_TRUE(c.frame.HasPublishedProperty(L"Transparent", true));
        EXPECT_FALSE(c.frame.HasPublishedProperty(L"Transparent", false));
        EXPECT_FALSE(c.frame.HasPublishedProperty(L"Color", true));
    }
    EXPECT_EQ(fc.GetControlCount(), 0) << "the block unlinks its control when it goes";

    TTmFrameController other(nullptr);
    TFramedControl a(false);
    a.frame.SetFrameController(&fc);
    a.frame.SetFrameController(&other);
    EXPECT_EQ(fc.GetControlCount(), 0);
    EXPECT_EQ(other.GetControlCount(), 1);
    a.frame.Notification(&fc, opRemove);  // another component's removal changes nothing
    EXPECT_EQ(a.frame.GetFrameController(), &other);
    a.frame.Notification(&other, opRemove);
    EXPECT_EQ(a.frame.GetFrameController(), nullptr);
}

}  // namespace
