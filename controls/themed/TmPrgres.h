// Themed progress bar: a non-windowed control showing a percentage or a count
// of parts as a solid bar with two-colour text, as lit LED segments or as a
// gradient, horizontally or vertically, inside the themed frames, or with the
// visual-style progress elements. Inside a TTmStatusBar it blends into the
// bar's themed background.
//
// Percent is stored as given (values above 100 are kept and shown; the bar
// is then full). The orientation follows the shape: taller than wide is
// vertical. Frame controllers are not owned. Main thread only.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmFrameController.h"
#include "controls/themed/TmFrameProperties.h"

namespace themed {

enum TBarStyle : uint8_t { bsTraditional, bsLED, bsGradient };
enum TOrientation : uint8_t { orHorizontal, orVertical };

using TProgressChangeEvent = classlib::TEvent<void(classlib::TObject* Sender, int Percent)>;

// The progress geometry, shared by the painters and the tests.
// The filled part of R: all of R at 100 % and above, else the bottom part
// (vertical) or the left part (horizontal), rounded halves to even.
RECT TmProgressFilledRect(const RECT& R, unsigned Percent, TOrientation Orientation);
// LED layout over Length pixels with NumSegments wanted: segment size,
// segment count and the centring margin.
struct TTmLEDLayout {
    int Size = 0;
    int Count = 0;
    int Margin = 0;
};
TTmLEDLayout TmLEDLayout(int Length, int NumSegments);

class TTmCustomProgressBar : public classlib::TGraphicControl,
                             public TTmBorderedControl,
                             public ITmFrameControllerClient,
                             public ITmPublishedProperties {
public:
    explicit TTmCustomProgressBar(classlib::TComponent* AOwner);
    ~TTmCustomProgressBar() override;
    std::wstring ClassName() const override { return L"TTmCustomProgressBar"; }

    void UpdateFrameController() override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void WndProc(classlib::TMessage& Message) override;

    TColor GetBackColor() const { return backColor_; }
    virtual void SetBackColor(TColor Value);
    TColor GetBackColorStop() const { return backColorStop_; }
    void SetBackColorStop(TColor Value);
    TColor GetBarColor() const { return barColor_; }
    virtual void SetBarColor(TColor Value);
    TColor GetBarColorStop() const { return barColorStop_; }
    void SetBarColorStop(TColor Value);
    TBarStyle GetBarStyle() const { return barStyle_; }
    virtual void SetBarStyle(TBarStyle Value);
    int GetBevelWidth() const { return bevelWidth_; }
    virtual void SetBevelWidth(int Value);
    // Frame properties (the frame block's, the border frames, flat colour and
    // frame controller published by TTmBorderedControl); border changes
    // repaint at once. Negative border widths count as 0.
    int GetBorderWidth() const { return frame_.GetBorderWidth(); }
    virtual void SetBorderWidth(int Value) { frame_.SetBorderWidth(std::max(0, Value)); }
    TGradientDirection GetGradientDirection() const { return gradientDirection_; }
    void SetGradientDirection(TGradientDirection Value);
    uint8_t GetInteriorOffset() const { return interiorOffset_; }
    virtual void SetInteriorOffset(uint8_t Value);
    int GetNumSegments() const { return numSegments_; }
    // 1-100; other values are brought into the range.
    virtual void SetNumSegments(int Value);
    TOrientation GetOrientation() const { return orientation_; }
    virtual void SetOrientation(TOrientation Value);
    uint32_t GetPartsComplete() const { return partsComplete_; }
    virtual void SetPartsComplete(uint32_t Value);
    uint16_t GetPercent() const { return percent_; }
    virtual void SetPercent(uint16_t Value);
    bool GetShowPercent() const { return showPercent_; }
    virtual void SetShowPercent(bool Value);
    bool GetShowParts() const { return showParts_; }
    virtual void SetShowParts(bool Value);
    uint32_t GetTotalParts() const { return totalParts_; }
    virtual void SetTotalParts(uint32_t Value);
    bool GetThemeAware() const { return themeAware_; }
    virtual void SetThemeAware(bool Value);

    // The text the traditional and gradient styles show.
    std::wstring GetBarText() const;
    // Themed drawing applies (themes on, ThemeAware, and inside a status bar
    // that status bar's visual style is vsWinXP).
    bool UseThemes() const;

    bool HasPublishedProperty(const std::wstring& Name) const override;
    int64_t GetPublishedProperty(const std::wstring& Name) const override;
    void SetPublishedProperty(const std::wstring& Name, int64_t Value) override;

    TProgressChangeEvent OnChange;

protected:
    void Paint() override;
    virtual void Change();
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void PaintTraditional(classlib::TCanvas* Canvas, const RECT& R);
    void PaintGradient(classlib::TCanvas* Canvas, const RECT& R);
    void PaintLED(classlib::TCanvas* Canvas, RECT R);

private:
    // The frame block's change handler: flat colour changes invalidate, the
    // others repaint at once.
    void FrameChanged(TTmFrameProperty Which);

    TColor backColor_ = 0xFFFFFF;
    TColor backColorStop_ = classlib::clBtnFace;
    TColor barColor_ = classlib::clHighlight;
    TColor barColorStop_ = classlib::clHotLight;
    TBarStyle barStyle_ = bsTraditional;
    int bevelWidth_ = 1;
    TGradientDirection gradientDirection_ = gdHorizontalCenter;
    uint8_t interiorOffset_ = 0;
    int numSegments_ = 20;
    TOrientation orientation_ = orHorizontal;
    uint32_t partsComplete_ = 0;
    uint16_t percent_ = 0;
    bool showPercent_ = true;
    bool showParts_ = false;
    uint32_t totalParts_ = 0;
    bool themeAware_ = true;
};

class TTmProgressBar : public TTmCustomProgressBar {
public:
    explicit TTmProgressBar(classlib::TComponent* AOwner) : TTmCustomProgressBar(AOwner) {}
    std::wstring ClassName() const override { return L"TTmProgressBar"; }
};

}  // namespace themed
