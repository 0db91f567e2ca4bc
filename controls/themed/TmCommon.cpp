#include "controls/themed/TmCommon.h"

#include <vssym32.h>

#include <cmath>
#include <memory>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/GradientFill.h"
#include "classlib/Registry.h"
#include "classlib/Startup.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"

namespace themed {

using classlib::ColorToRGB;
using classlib::TBitmap;
using classlib::TCanvas;

bool TmFullColorSupported = false;
uint8_t TmXPColorScheme = 0;

namespace {
int startCount = 0;
}

void TmCommonStartup()
{
    if (startCount++ > 0)
        return;
    TmFullColorSupported = TmIsFullColorSupported();
    TmXPColorScheme = TmGetXPColorScheme();
}

void TmCommonShutdown()
{
    if (startCount > 0)
        --startCount;
}

int TmCommonStartCount() { return startCount; }

void RegisterThemedUnit() { classlib::RegisterUnit(L"TmCommon", 400, &TmCommonStartup, &TmCommonShutdown); }

// ---------------------------------------------------------------- tables

using namespace classlib;  // colour constants

const TColor ULFrameColor[fsFlatBold + 1] = {clWindow,  cl3DDkShadow, clBtnShadow, clBtnHighlight,
                                             clBtnShadow, clNone,     cl3DDkShadow, clNone,
                                             clBtnShadow, clBtnHighlight, clBtnShadow};
const TColor LRFrameColor[fsFlatBold + 1] = {clWindow,  cl3DDkShadow,  clBtnHighlight, clBtnShadow,
                                             clBtnHighlight, clNone,   clBtnFace,      clNone,
                                             clBtnHighlight, clBtnShadow, clBtnShadow};

namespace {
const TTmEdgeRing kRaised[2] = {{cl3DLight, cl3DDkShadow}, {clBtnHighlight, clBtnShadow}};
const TTmEdgeRing kLowered[2] = {{clBtnShadow, clBtnHighlight}, {cl3DDkShadow, cl3DLight}};
const TTmEdgeRing kButtonUp[2] = {{clBtnHighlight, cl3DDkShadow}, {cl3DLight, clBtnShadow}};
const TTmEdgeRing kButtonDown[2] = {{clBtnText, clBtnText}, {clBtnShadow, clBtnShadow}};

// Hexadecimal red-green-blue as written in tables to a TColor.
constexpr TColor Rgb(uint32_t hex) { return static_cast<TColor>(((hex >> 16) & 0xFF) | (hex & 0xFF00) | ((hex & 0xFF) << 16)); }

uint8_t R(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
uint8_t G(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
uint8_t B(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
TColor MakeColor(int r, int g, int b) { return static_cast<TColor>(r | (g << 8) | (b << 16)); }
}  // namespace

const TTmSchemeColors TmSchemeColors[3] = {
    {Rgb(0xE3EFFF), Rgb(0x99BBEA), Rgb(0x577FBF), Rgb(0x7BA2E7), Rgb(0x6375D6)},
    {Rgb(0xFFFFED), Rgb(0xB8C792), Rgb(0x7FA177), Rgb(0xCCD9AD), Rgb(0xA5BD84)},
    {Rgb(0xF9F9FF), Rgb(0xBDBCD0), Rgb(0x9F9FB1), Rgb(0xC4C8D4), Rgb(0xB1B3C8)},
};

const TTmEdgeRing* TmEdgeRings(TFrameStyle Style)
{
    switch (Style) {
    case fsRaised: return kRaised;
    case fsLowered: return kLowered;
    case fsButtonUp: return kButtonUp;
    case fsButtonDown: return kButtonDown;
    default: return nullptr;
    }
}

// -------------------------------------------------------- theme services

namespace {
int forcedThemes = -1;

const TTmSchemeColors& Scheme() { return TmSchemeColors[TmXPColorScheme < 3 ? TmXPColorScheme : 0]; }
}  // namespace

bool TmThemesEnabled()
{
    if (forcedThemes >= 0)
        return forcedThemes != 0;
    return ::IsThemeActive() && ::IsAppThemed();
}

void TmForceThemesEnabled(int Forced) { forcedThemes = Forced < 0 ? -1 : (Forced ? 1 : 0); }

TTmTheme::TTmTheme(HWND Window, const wchar_t* ClassList)
{
    if (TmThemesEnabled())
        theme_ = ::OpenThemeData(Window, ClassList);
}

TTmTheme::~TTmTheme()
{
    if (theme_)
        ::CloseThemeData(theme_);
}

bool TmExplorerBarElement(int Element, int& Part, int& State)
{
    // Number of states of each explorer-bar part (parts 1-12); a part
    // without states counts one element with state 0.
    static const int kStates[12] = {3, 3, 6, 3, 0, 3, 3, 0, 0, 3, 3, 0};
    if (Element == 1) {
        Part = 0;
        State = 0;
        return true;
    }
    int n = 2;
    for (int p = 1; p <= 12; ++p) {
        int states = kStates[p - 1];
        int count = states ? states : 1;
        if (Element < n + count) {
            Part = p;
            State = states ? Element - n + 1 : 0;
            return true;
        }
        n += count;
    }
    return false;
}

// -------------------------------------------------------- colour routines

void TmColorToHSL(TColor Color, uint8_t& H, uint8_t& S, uint8_t& L)
{
    TColor c = ColorToRGB(Color);
    double r = R(c) / 255.0, g = G(c) / 255.0, b = B(c) / 255.0;
    double mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    double l = (mx + mn) / 2, s = 0, h = 0;
    if (mx != mn) {
        double d = mx - mn;
        s = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
        if (r == mx)
            h = (g - b) / d;
        else if (g == mx)
            h = 2 + (b - r) / d;
        else
            h = 4 + (r - g) / d;
        h /= 6;
        if (h < 0)
            h += 1;
    }
    H = static_cast<uint8_t>(classlib::Round(h * 240));
    S = static_cast<uint8_t>(classlib::Round(s * 240));
    L = static_cast<uint8_t>(classlib::Round(l * 240));
}

uint8_t TmColorHue(TColor Color)
{
    uint8_t h, s, l;
    TmColorToHSL(Color, h, s, l);
    return h;
}

TColor TmHSLToColor(int H, int S, int L)
{
    double h = H / 239.0, s = S / 240.0, l = L / 240.0;
    double v = l < 0.5 ? l * (1 + s) : l + s - l * s;
    double rgb[3] = {0, 0, 0};
    if (v > 0) {
        double m = 2 * l - v;
        double sv = (v - m) / v;
        double h6 = h * 6;
        int64_t sextant = classlib::Trunc(h6);
        double f = h6 - static_cast<double>(sextant);
        double vsf = v * sv * f;
        double mid1 = m + vsf, mid2 = v - vsf;
        switch (sextant) {
        case 1: rgb[0] = mid2; rgb[1] = v; rgb[2] = m; break;
        case 2: rgb[0] = m; rgb[1] = v; rgb[2] = mid1; break;
        case 3: rgb[0] = m; rgb[1] = mid2; rgb[2] = v; break;
        case 4: rgb[0] = mid1; rgb[1] = m; rgb[2] = v; break;
        case 5: rgb[0] = v; rgb[1] = m; rgb[2] = mid2; break;
        default: rgb[0] = v; rgb[1] = mid1; rgb[2] = m; break;
        }
    }
    int ch[3];
    for (int i = 0; i < 3; ++i) {
        double x = rgb[i] > 1.0 ? 1.0 : rgb[i];
        int64_t n = classlib::Round(x * 255);
        ch[i] = static_cast<int>(n < 0 ? 0 : n);
    }
    return MakeColor(ch[0], ch[1], ch[2]);
}

TColor TmDarkenColor(TColor Color, uint8_t Amount)
{
    uint8_t h, s, l;
    TmColorToHSL(Color, h, s, l);
    return TmHSLToColor(h, s, std::max(0, l - Amount));
}

TColor TmLightenColor(TColor Color, uint8_t Amount)
{
    uint8_t h, s, l;
    TmColorToHSL(Color, h, s, l);
    return TmHSLToColor(h, s, std::min(255, l + Amount));
}

TColor TmShiftColorLuminance(TColor Color, int Delta)
{
    if (Delta > 255)
        Delta = 255;
    if (Delta < -255)
        Delta = -255;
    if (Delta > 0)
        return TmLightenColor(Color, static_cast<uint8_t>(Delta));
    if (Delta < 0)
        return TmDarkenColor(Color, static_cast<uint8_t>(-Delta));
    return Color;
}

TColor TmMixColors(TColor Color1, TColor Color2, uint8_t Weight)
{
    TColor a = ColorToRGB(Color1), b = ColorToRGB(Color2);
    const float w = static_cast<float>(Weight) / 255.0f;
    auto mix = [w](uint8_t c1, uint8_t c2) {
        double v = c1 * static_cast<double>(w) + c2 * (1.0 - static_cast<double>(w));
        return static_cast<int>(classlib::Round(v));
    };
    return MakeColor(mix(R(a), R(b)), mix(G(a), G(b)), mix(B(a), B(b)));
}

TColor TmXorColorChannels(TColor Color1, TColor Color2)
{
    TColor a = ColorToRGB(Color1), b = ColorToRGB(Color2);
    return MakeColor(R(a) ^ R(b), G(a) ^ G(b), B(a) ^ B(b));
}

bool TmColorsAreSimilar(TColor Color1, TColor Color2)
{
    uint8_t h1, s1, l1, h2, s2, l2;
    TmColorToHSL(Color1, h1, s1, l1);
    TmColorToHSL(Color2, h2, s2, l2);
    return std::abs(h1 - h2) < 20 && std::abs(l1 - l2) < 60;
}

TColor TmComplementaryColor(TColor Color, uint8_t Luminance)
{
    uint8_t h, s, l;
    TmColorToHSL(Color, h, s, l);
    int hue = h < 120 ? h + 120 : h - 120;
    return TmHSLToColor(hue, 240, Luminance);
}

bool TmIsFullColorSupported()
{
    classlib::TScreenDC dc;
    return ::GetDeviceCaps(dc.Get(), NUMCOLORS) == -1;
}

uint8_t TmGetXPColorScheme(const std::wstring& Key)
{
    std::wstring name;
    try {
        classlib::TRegIniFile ini(Key, KEY_READ);
        name = classlib::WideUpperCase(ini.ReadString(L"ThemeManager", L"ColorName", L""));
    } catch (const classlib::Exception&) {
        return 0;
    }
    if (name == L"HOMESTEAD")
        return 1;
    if (name == L"METALLIC")
        return 2;
    return 0;
}

void TmGetGradientColors(TTmGradientColorStyle Style, TColor& Start, TColor& Stop)
{
    if (Style == gcsMSOffice && TmThemesEnabled()) {
        Start = Scheme().GradientStart;
        Stop = Scheme().GradientStop;
    } else {
        Start = clWindow;
        Stop = TmDarkenColor(clBtnFace, 10);
    }
}

TColor TmGetGradientFlatColor(TTmGradientColorStyle Style)
{
    if (Style == gcsMSOffice && TmThemesEnabled())
        return Scheme().FlatFrame;
    return TmLightenColor(clBtnShadow, 30);
}

void TmGetThemedFrameColors(TTmGradientColorStyle Style, TColor& Frame, TColor& Fill, TColor& Line)
{
    if (Style == gcsMSOffice && TmThemesEnabled()) {
        Frame = Scheme().GradientStop;
        Fill = Scheme().GradientStart;
        Line = Frame;
    } else {
        Frame = TmDarkenColor(clBtnFace, 20);
        Fill = clWindow;
        Line = TmDarkenColor(clBtnFace, 40);
    }
}

void TmGetBarGradientColors(TTmGradientColorStyle Style, TColor& Color1, TColor& Color2)
{
    if (Style == gcsMSOffice && TmThemesEnabled()) {
        Color1 = Scheme().Bar1;
        Color2 = Scheme().Bar2;
    } else {
        Color1 = TmMixColors(clBlack, clBtnFace, 40);
        Color2 = TmMixColors(clBlack, clBtnFace, 80);
    }
}

TColor TmGetThemeColor(int Kind)
{
    if (!TmThemesEnabled())
        return clBtnFace;
    const wchar_t* cls = L"EXPLORERBAR";
    int part = 0, state = 0, prop = TMT_TEXTCOLOR, element = -1;
    switch (Kind) {
    case 0: cls = L"EDIT"; part = EP_EDITTEXT; state = ETS_NORMAL; prop = TMT_BORDERCOLOR; break;
    case 1: element = 17; break;
    case 2: element = 25; break;
    case 3: element = 17; prop = TMT_FILLCOLOR; break;
    case 4: element = 1; prop = TMT_GRADIENTCOLOR1; break;
    case 5: element = 32; prop = TMT_FILLCOLOR; break;
    case 6: cls = L"BUTTON"; part = BP_GROUPBOX; state = GBS_NORMAL; break;
    default: return clWhite;
    }
    if (element >= 0)
        TmExplorerBarElement(element, part, state);
    TTmTheme theme(nullptr, cls);
    COLORREF c = 0;
    // A theme without this element or property leaves the plain face colour.
    if (!theme || FAILED(::GetThemeColor(theme.Get(), part, state, prop, &c)))
        return clBtnFace;
    return static_cast<TColor>(c);
}

// ---------------------------------------------------------------- frames

namespace {
void Line(TCanvas* Canvas, int x1, int y1, int x2, int y2)
{
    Canvas->MoveTo(x1, y1);
    Canvas->LineTo(x2, y2);
}

void SetPixelColor(TCanvas* Canvas, int x, int y, TColor c) { Canvas->SetPixel(x, y, ColorToRGB(c)); }

// Rc with By pixels taken off each of the sides.
RECT InsetSides(const RECT& Rc, TSides Sides, int By)
{
    RECT r = Rc;
    if (Sides & sdLeft) r.left += By;
    if (Sides & sdTop) r.top += By;
    if (Sides & sdRight) r.right -= By;
    if (Sides & sdBottom) r.bottom -= By;
    return r;
}
}  // namespace

void TmPaintSideLines(TCanvas* Canvas, const RECT& Rc, TColor ULColor, TColor LRColor, TSides Sides, RECT& Interior)
{
    RECT r = Rc;
    if (ULColor != clNone) {
        Canvas->GetPen()->SetColor(ULColor);
        if (Sides & sdLeft)
            Line(Canvas, r.left, r.top, r.left, r.bottom);
        if (Sides & sdTop)
            Line(Canvas, r.left, r.top, r.right, r.top);
    }
    if (LRColor != clNone) {
        Canvas->GetPen()->SetColor(LRColor);
        if (Sides & sdRight)
            Line(Canvas, r.right - 1, r.top, r.right - 1, r.bottom);
        if (Sides & sdBottom)
            Line(Canvas, r.left, r.bottom - 1, r.right, r.bottom - 1);
    }
    Interior = InsetSides(r, Sides, 1);
}

void TmPaintSideLinesRepeated(TCanvas* Canvas, const RECT& Rc, TColor ULColor, TColor LRColor, int Count,
                              TSides Sides, RECT& Interior)
{
    Canvas->GetPen()->SetWidth(1);
    RECT r = Rc;
    for (int i = 0; i < Count; ++i)
        TmPaintSideLines(Canvas, r, ULColor, LRColor, Sides, r);
    Interior = r;
}

void TmPaintFrame(TCanvas* Canvas, const RECT& Rc, TFrameStyle Style, TSides Sides, RECT& Interior)
{
    switch (Style) {
    case fsFlat:
    case fsStatus:
    case fsPopup: TmPaintSideLines(Canvas, Rc, ULFrameColor[Style], LRFrameColor[Style], Sides, Interior); return;
    case fsFlatBold: TmPaintSideLinesRepeated(Canvas, Rc, clBtnShadow, clBtnShadow, 2, Sides, Interior); return;
    case fsRaised:
    case fsLowered:
    case fsButtonUp:
    case fsButtonDown: {
        const TTmEdgeRing* rings = TmEdgeRings(Style);
        RECT r;
        TmPaintSideLines(Canvas, Rc, rings[0].UL, rings[0].LR, Sides, r);
        TmPaintSideLines(Canvas, r, rings[1].UL, rings[1].LR, Sides, Interior);
        return;
    }
    case fsGroove:
    case fsBump: {
        const TColor ul = ULFrameColor[Style], lr = LRFrameColor[Style];
        const bool l = Sides & sdLeft, t = Sides & sdTop, rt = Sides & sdRight, b = Sides & sdBottom;
        if (rt)
            SetPixelColor(Canvas, Rc.right - 1, Rc.top, lr);
        else if (t)
            SetPixelColor(Canvas, Rc.right - 1, Rc.top, ul);
        if (b)
            SetPixelColor(Canvas, Rc.left, Rc.bottom - 1, lr);
        else if (l)
            SetPixelColor(Canvas, Rc.left, Rc.bottom - 1, ul);
        if (t && !l)
            SetPixelColor(Canvas, Rc.left, Rc.top + 1, lr);
        if (l && !t)
            SetPixelColor(Canvas, Rc.left + 1, Rc.top, lr);
        if (b && !rt)
            SetPixelColor(Canvas, Rc.right - 1, Rc.bottom - 2, ul);
        if (rt && !b)
            SetPixelColor(Canvas, Rc.right - 2, Rc.bottom - 1, ul);
        RECT inner{Rc.left + 1, Rc.top + 1, Rc.right, Rc.bottom}, dummy;
        TmPaintSideLines(Canvas, inner, lr, lr, Sides, dummy);
        OffsetRect(&inner, -1, -1);
        TmPaintSideLines(Canvas, inner, ul, ul, Sides, dummy);
        Interior = InsetSides(Rc, Sides, 2);
        return;
    }
    default: Interior = Rc; return;
    }
}

void TmPaintFrameStyle(TCanvas* Canvas, const RECT& Rc, TFrameStyle Style, RECT& Interior)
{
    TmPaintFrame(Canvas, Rc, Style, sdAllSides, Interior);
}

void TmPaintRectangleFrame(TCanvas* Canvas, const RECT& Rc, TColor Color, RECT& Interior)
{
    TmPaintSideLines(Canvas, Rc, Color, Color, sdAllSides, Interior);
}

void TmPaintRoundedFrame(TCanvas* Canvas, const RECT& Rc, TColor Color, TSides Sides, RECT& Interior)
{
    const bool l = Sides & sdLeft, t = Sides & sdTop, rt = Sides & sdRight, b = Sides & sdBottom;
    Canvas->GetPen()->SetColor(Color);
    if (l)
        Line(Canvas, Rc.left, Rc.top + (t ? 2 : 0), Rc.left, Rc.bottom - (b ? 2 : 0));
    if (rt)
        Line(Canvas, Rc.right - 1, Rc.top + (t ? 2 : 0), Rc.right - 1, Rc.bottom - (b ? 2 : 0));
    if (t)
        Line(Canvas, Rc.left + (l ? 2 : 0), Rc.top, Rc.right - (rt ? 2 : 0), Rc.top);
    if (b)
        Line(Canvas, Rc.left + (l ? 2 : 0), Rc.bottom - 1, Rc.right - (rt ? 2 : 0), Rc.bottom - 1);
    if (l && t)
        SetPixelColor(Canvas, Rc.left + 1, Rc.top + 1, Color);
    if (rt && t)
        SetPixelColor(Canvas, Rc.right - 2, Rc.top + 1, Color);
    if (rt && b)
        SetPixelColor(Canvas, Rc.right - 2, Rc.bottom - 2, Color);
    if (l && b)
        SetPixelColor(Canvas, Rc.left + 1, Rc.bottom - 2, Color);
    Interior = InsetSides(Rc, Sides, 2);
}

namespace {
// One side of a control border (outer or inner) except the rounded and the
// inner flat rounded cases, which the caller handles.
void PaintBorderPart(TCanvas* Canvas, RECT& r, TFrameStyleEx Style, TSides Sides, int BevelWidth, TColor Highlight,
                     TColor Shadow, TColor Flat)
{
    switch (Style) {
    case fsFlat: TmPaintSideLines(Canvas, r, Flat, Flat, Sides, r); break;
    case fsFlatBold: TmPaintSideLinesRepeated(Canvas, r, Flat, Flat, 2, Sides, r); break;
    case fsPopup: TmPaintSideLinesRepeated(Canvas, r, Highlight, Shadow, BevelWidth, Sides, r); break;
    case fsStatus: TmPaintSideLinesRepeated(Canvas, r, Shadow, Highlight, BevelWidth, Sides, r); break;
    case fsFlatRounded: break;
    default: TmPaintFrame(Canvas, r, Style, Sides, r); break;
    }
}
}  // namespace

void TmPaintControlBorder(TCanvas* Canvas, const RECT& Rc, TFrameStyleEx BorderOuter, TFrameStyleEx BorderInner,
                          int BorderWidth, TSides BorderSides, int BevelWidth, TColor BorderColor,
                          TColor BorderHighlight, TColor BorderShadow, TColor FlatColor, int FlatColorAdjustment,
                          TColor Color, TColor ParentColor, bool Transparent, bool FlatInnerRounded, RECT& Interior)
{
    RECT r = Rc, dummy;
    const TColor flat = TmShiftColorLuminance(FlatColor, FlatColorAdjustment);
    const bool banded = BorderWidth > 0 || BorderInner != fsNone;

    // Outer part.
    if (BorderOuter == fsFlatRounded) {
        if (!Transparent) {
            RECT in;
            TmPaintSideLines(Canvas, r, ParentColor, ParentColor, BorderSides, in);
            TmPaintSideLines(Canvas, in, banded ? BorderColor : Color, banded ? BorderColor : Color, BorderSides,
                             dummy);
        } else if (banded) {
            RECT in = r;
            InflateRect(&in, -1, -1);
            TmPaintSideLines(Canvas, in, BorderColor, BorderColor, BorderSides, dummy);
        }
        TmPaintRoundedFrame(Canvas, r, flat, BorderSides, r);
    } else {
        PaintBorderPart(Canvas, r, BorderOuter, BorderSides, BevelWidth, BorderHighlight, BorderShadow, flat);
    }

    // Band.
    if (BorderWidth > 0)
        TmPaintSideLinesRepeated(Canvas, r, BorderColor, BorderColor, BorderWidth, BorderSides, r);

    // Inner part.
    if (BorderInner == fsFlat && FlatInnerRounded) {
        Canvas->GetPen()->SetColor(flat);
        Line(Canvas, r.left, r.top + 1, r.left, r.bottom - 1);
        Line(Canvas, r.left + 1, r.top, r.right - 1, r.top);
        Line(Canvas, r.right - 1, r.top + 1, r.right - 1, r.bottom - 1);
        Line(Canvas, r.left + 1, r.bottom - 1, r.right - 1, r.bottom - 1);
        InflateRect(&r, -1, -1);
    } else if (BorderInner == fsFlatRounded) {
        RECT in;
        TmPaintSideLines(Canvas, r, BorderColor, BorderColor, BorderSides, in);
        if (!Transparent)
            TmPaintSideLines(Canvas, in, Color, Color, BorderSides, dummy);
        TmPaintRoundedFrame(Canvas, r, flat, BorderSides, r);
    } else {
        PaintBorderPart(Canvas, r, BorderInner, BorderSides, BevelWidth, BorderHighlight, BorderShadow, flat);
    }
    Interior = r;
}

void TmPaintBarBackground(TCanvas* Canvas, const RECT& Rc, TTmVisualStyle VisualStyle, TColor Color1, TColor Color2,
                          bool Swap, TTmGradientColorStyle GradientColorStyle)
{
    if (VisualStyle == vsWinXP && TmThemesEnabled()) {
        TTmTheme theme(nullptr, L"EXPLORERBAR");
        int part = 0, state = 0;
        TmExplorerBarElement(1, part, state);
        if (theme)
            ::DrawThemeBackground(theme.Get(), Canvas->GetHandle(), part, state, &Rc, nullptr);
        return;
    }
    if (VisualStyle == vsClassic || !TmFullColorSupported)
        return;
    TColor c1 = Color1, c2 = Color2;
    if (GradientColorStyle != gcsCustom)
        TmGetBarGradientColors(GradientColorStyle, c1, c2);
    if (Swap)
        std::swap(c1, c2);
    TmPaintGradient(Canvas, Rc, gdHorizontalEnd, c1, c2, 1);
}

// ------------------------------------------------------------- gradients

namespace {
// A colour moving towards a target in fixed-point steps (16.16 per channel).
class TColorStepper {
public:
    explicit TColorStepper(TColor rgb) : c_{R(rgb) << 16, G(rgb) << 16, B(rgb) << 16} {}
    void Towards(TColor target, int N)
    {
        const int t[3] = {R(target) << 16, G(target) << 16, B(target) << 16};
        for (int i = 0; i < 3; ++i)
            d_[i] = N > 0 ? (t[i] - c_[i]) / N : 0;
        left_ = N;
    }
    // At most N steps are taken; the colour then stays (never past the
    // target).
    void Step()
    {
        if (left_ <= 0)
            return;
        --left_;
        for (int i = 0; i < 3; ++i)
            c_[i] += d_[i];
    }
    TColor Color() const { return MakeColor((c_[0] >> 16) & 0xFF, (c_[1] >> 16) & 0xFF, (c_[2] >> 16) & 0xFF); }

private:
    int c_[3];
    int d_[3] = {0, 0, 0};
    int left_ = 0;
};

void Fill(TCanvas* c, TColor color, int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1)
        return;
    c->GetBrush()->SetColor(color);
    c->FillRect(RECT{x1, y1, x2, y2});
}

// N rows (Rows) or columns of a strip Thickness wide, from line First moving
// by -1, starting at From and stepping towards To; lines of unchanged colour
// are painted as one band of at least MinBand lines.
void PaintRun(TCanvas* c, bool Rows, int First, int N, TColor From, TColor To, int Thickness, int MinBand)
{
    if (N <= 0)
        return;
    TColorStepper s(From);
    s.Towards(To, N);
    int bandEnd = First + 1;  // exclusive, the band grows towards lower lines
    TColor bandColor = s.Color();
    auto flush = [&](int bandStart) {
        if (Rows)
            Fill(c, bandColor, 0, bandStart, Thickness, bandEnd);
        else
            Fill(c, bandColor, bandStart, 0, bandEnd, Thickness);
    };
    for (int k = 0; k < N; ++k) {
        int line = First - k;
        TColor color = s.Color();
        if (color != bandColor && bandEnd - (line + 1) >= MinBand) {
            flush(line + 1);
            bandEnd = line + 1;
            bandColor = color;
        }
        s.Step();
    }
    flush(First - N + 1);
}

void ReplicateStrip(HDC DC, int X, int Y, int TotalW, int TotalH, int W, int H, DWORD Rop)
{
    if (W <= 0 || H <= 0)
        return;
    while (W < TotalW || H < TotalH) {
        if (H < TotalH) {
            int h = std::min(H, TotalH - H);
            ::BitBlt(DC, X, Y + H, W, h, DC, X, Y, Rop);
            H += h;
        } else {
            int w = std::min(W, TotalW - W);
            ::BitBlt(DC, X + W, Y, w, H, DC, X, Y, Rop);
            W += w;
        }
    }
}

void MirrorQuadrant(HDC DC, int X, int Y, int W, int H, DWORD Rop)
{
    const int hw = W >> 1, hh = H >> 1, o = (hw & 1) ? 1 : 0;
    ::StretchBlt(DC, X, Y + H - 1, hw + 1, -hh, DC, X, Y, hw, hh, Rop);
    ::StretchBlt(DC, X + W - 1, Y, -(hw + o), H, DC, X, Y, hw - o, H, Rop);
}

void FillBoxRings(TCanvas* c, int W, int H, TGradientDirection Dir, TColor Start, TColor Stop)
{
    if (Start == Stop || W <= 4 || H <= 4) {
        Fill(c, Start, 0, 0, W + 1, H + 1);
        return;
    }
    if (Dir == gdHorizontalBox || Dir == gdSquareBox)
        Fill(c, Start, 0, 0, W, H);
    const int cx = static_cast<int>(static_cast<unsigned>(W - 1) >> 1);
    const int cy = static_cast<int>(static_cast<unsigned>(H - 1) >> 1);
    int dx0 = 0, dy0 = 0;
    if (Dir == gdHorizontalBox || Dir == gdBigSquareBox)
        dx0 = W / 4;
    if (Dir == gdVerticalBox || Dir == gdBigSquareBox)
        dy0 = H / 4;
    const int x0 = cx - dx0, y0 = cy - dy0;
    const int n = std::max(x0, y0) + 1;
    TColorStepper s(Stop);
    s.Towards(Start, n);
    const int ddx = (x0 << 16) / n, ddy = (y0 << 16) / n;
    int px = x0 << 16, py = y0 << 16;
    int outerX = cx + 1, outerY = cy + 1;  // where the last painted band ended
    int lastX = outerX, lastY = outerY;    // the position of the step before
    TColor runColor = s.Color();
    for (;;) {
        const int x = px >> 16, y = py >> 16;
        if (x < 0 && y < 0)
            break;
        const TColor color = s.Color();
        if (color != runColor) {
            // The run of equal colour ends at the previous step's position.
            Fill(c, runColor, lastX, lastY, cx + 1, outerY);
            Fill(c, runColor, lastX, outerY, outerX, cy + 1);
            outerX = lastX;
            outerY = lastY;
            runColor = color;
        }
        lastX = x;
        lastY = y;
        s.Step();
        px -= ddx;
        py -= ddy;
        if (ddx == 0 && ddy == 0)
            break;
    }
}

// The bands of gdDiagonalUp from First (bottom-left) to Last (top-right);
// Mirror paints the same mirrored left to right.
void FillDiagonalBands(TCanvas* c, int W, int H, TColor First, TColor Last, bool Mirror)
{
    if (First == Last) {
        Fill(c, First, 0, 0, W, H);
        return;
    }
    const int d = static_cast<int>(std::sqrt(static_cast<double>(W) * W + static_cast<double>(H) * H)) + 1;
    const int half = std::max(1, d >> 1);
    const int64_t ddx = (static_cast<int64_t>(W) << 16) / half, ddy = (static_cast<int64_t>(H) << 16) / half;
    TColorStepper s(First);
    s.Towards(Last, d);
    auto poly = [&](std::initializer_list<POINT> pts) {
        std::vector<POINT> v(pts);
        if (Mirror)
            for (POINT& p : v)
                p.x = W - p.x;
        c->GetBrush()->SetColor(s.Color());
        c->Polygon(v);
    };
    const int64_t w16 = static_cast<int64_t>(W) << 16, h16 = static_cast<int64_t>(H) << 16;
    // Phase 1: lines from the left edge to the bottom edge.
    for (int64_t i = 0;; ++i) {
        const int x1 = static_cast<int>((i * ddx) >> 16), y1 = static_cast<int>((h16 - i * ddy) >> 16);
        const int64_t nx = (i + 1) * ddx, ny = h16 - (i + 1) * ddy;
        if (ny < 0 || nx > w16) {
            poly({{0, y1}, {x1, H}, {W, H}, {0, 0}});
            s.Step();
            break;
        }
        poly({{0, y1}, {x1, H}, {static_cast<int>(nx >> 16), H}, {0, static_cast<int>(ny >> 16)}});
        s.Step();
    }
    // Phase 2: lines from the top edge to the right edge.
    for (int64_t j = 0;; ++j) {
        const int x1 = static_cast<int>((j * ddx) >> 16), y1 = static_cast<int>((h16 - j * ddy) >> 16);
        const int64_t nx = (j + 1) * ddx, ny = h16 - (j + 1) * ddy;
        if (nx > w16 || ny < 0) {
            poly({{x1, 0}, {W, y1}, {W, 0}});
            break;
        }
        poly({{x1, 0}, {W, y1}, {W, static_cast<int>(ny >> 16)}, {static_cast<int>(nx >> 16), 0}});
        s.Step();
    }
}
}  // namespace

bool GradientFillCanvas(TCanvas* Canvas, TColor StartColor, TColor StopColor, const RECT& Rc, bool Vertical)
{
    return classlib::FillGradientRect(Canvas->GetHandle(), Rc, static_cast<COLORREF>(ColorToRGB(StartColor)),
                                      static_cast<COLORREF>(ColorToRGB(StopColor)), Vertical);
}

void TmPaintGradient(TCanvas* Canvas, const RECT& Rc, TGradientDirection Direction, TColor StartColor,
                     TColor StopColor, uint8_t MinBand)
{
    if (Direction == gdHorizontalEnd || Direction == gdVerticalEnd) {
        GradientFillCanvas(Canvas, StartColor, StopColor, Rc, Direction == gdHorizontalEnd);
        return;
    }
    const int w = std::abs(Rc.right - Rc.left), h = std::abs(Rc.bottom - Rc.top);
    if (w == 0 || h == 0)
        return;
    const TColor start = ColorToRGB(StartColor), stop = ColorToRGB(StopColor);
    const int minBand = std::max(1, static_cast<int>(MinBand));
    TBitmap work;
    work.SetPixelFormat(classlib::pf24bit);
    work.SetSize(w, h);
    TCanvas* c = work.GetCanvas();
    c->GetPen()->SetWidth(1);
    c->GetPen()->SetStyle(classlib::psClear);
    c->GetPen()->SetMode(classlib::pmCopy);
    c->GetBrush()->SetStyle(classlib::bsSolid);
    switch (Direction) {
    case gdHorizontalCenter: {
        const int y = h / 2, strip = std::min(8, w);
        PaintRun(c, true, y, y + 1, stop, start, strip, minBand);
        PaintRun(c, true, h - 1, h - y - 1, start, stop, strip, minBand);
        ReplicateStrip(c->GetHandle(), 0, 0, w, h, strip, h, SRCCOPY);
        break;
    }
    case gdVerticalCenter: {
        const int x = w / 2, strip = std::min(8, h);
        PaintRun(c, false, x, x + 1, stop, start, strip, minBand);
        PaintRun(c, false, w - 1, w - x - 1, start, stop, strip, minBand);
        ReplicateStrip(c->GetHandle(), 0, 0, w, h, w, strip, SRCCOPY);
        break;
    }
    case gdHorizontalBox:
    case gdVerticalBox:
    case gdSquareBox:
    case gdBigSquareBox:
        FillBoxRings(c, w, h, Direction, start, stop);
        if (!(start == stop || w <= 4 || h <= 4))
            MirrorQuadrant(c->GetHandle(), 0, 0, w, h, SRCCOPY);
        break;
    case gdDiagonalUp: FillDiagonalBands(c, w, h, start, stop, false); break;
    case gdDiagonalDown: FillDiagonalBands(c, w, h, stop, start, true); break;
    default: break;
    }
    Canvas->Draw(Rc.left, Rc.top, &work);
}

// ------------------------------------------- background, glyphs and text

void TmPaintParentBackgroundDC(classlib::TControl* Control, HDC DC, bool InvalidateParent)
{
    classlib::TWinControl* parent = Control ? Control->GetParent() : nullptr;
    if (!parent)
        return;
    const bool designing = Control->GetComponentState() & classlib::csDesigning;
    {
        classlib::TSaveDCScope save(DC);
        POINT org;
        ::GetViewportOrgEx(DC, &org);
        ::SetViewportOrgEx(DC, org.x - Control->GetLeft(), org.y - Control->GetTop(), nullptr);
        ::IntersectClipRect(DC, 0, 0, parent->GetClientWidth(), parent->GetClientHeight());
        if (designing) {
            try {
                parent->Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(DC), 0);
                parent->Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(DC), PRF_CLIENT);
            } catch (...) {
                // A parent that cannot paint in the designer leaves the area as it is.
            }
        } else {
            parent->Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(DC), 0);
            parent->Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(DC), PRF_CLIENT);
        }
    }
    // Custom controls and forms repaint their own background; any other
    // parent is repainted so that it shows the change.
    if (InvalidateParent && !dynamic_cast<classlib::TCustomControl*>(parent) &&
        !dynamic_cast<classlib::TCustomForm*>(parent) && !designing)
        parent->Invalidate();
}

void TmPaintParentBackground(classlib::TControl* Control, TCanvas* Canvas, bool InvalidateParent)
{
    TmPaintParentBackgroundDC(Control, Canvas->GetHandle(), InvalidateParent);
}

void TmFlipBitmapVertically(TBitmap* Bitmap)
{
    const int w = Bitmap->GetWidth(), h = Bitmap->GetHeight();
    TBitmap flipped;
    flipped.SetPixelFormat(Bitmap->GetPixelFormat());
    flipped.SetSize(w, h);
    TCanvas* src = Bitmap->GetCanvas();
    TCanvas* dst = flipped.GetCanvas();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst->SetPixel(x, h - 1 - y, src->GetPixel(x, y));
    Bitmap->Assign(&flipped);
}

namespace {
// The arrow colour of the themed combo-box drop-down button: a pixel of the
// button drawn into a small bitmap, or cl3DDkShadow when that is close to
// the window colour.
TColor ThemedButtonGlyphColor()
{
    TTmTheme theme(nullptr, L"COMBOBOX");
    if (!theme)
        return cl3DDkShadow;
    TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(17, 21);
    RECT r{0, 0, 16, 20};
    ::DrawThemeBackground(theme.Get(), bmp.GetCanvas()->GetHandle(), CP_DROPDOWNBUTTON, CBXS_NORMAL, &r, nullptr);
    TColor c = bmp.GetCanvas()->GetPixel(8, 10);
    if (TmColorsAreSimilar(c, clWindow))
        c = cl3DDkShadow;
    return c;
}

// Restores brush colour and style and pen style of a canvas at the end of a
// scope.
class TGlyphStateScope {
public:
    explicit TGlyphStateScope(TCanvas* c)
        : c_(c), brush_(c->GetBrush()->GetColor()), brushStyle_(c->GetBrush()->GetStyle()),
          pen_(c->GetPen()->GetStyle())
    {
    }
    ~TGlyphStateScope()
    {
        c_->GetBrush()->SetColor(brush_);
        c_->GetBrush()->SetStyle(brushStyle_);
        c_->GetPen()->SetStyle(pen_);
    }
    TGlyphStateScope(const TGlyphStateScope&) = delete;
    TGlyphStateScope& operator=(const TGlyphStateScope&) = delete;

private:
    TCanvas* c_;
    TColor brush_;
    classlib::TBrushStyle brushStyle_;
    classlib::TPenStyle pen_;
};

POINT GlyphCentre(const RECT& r)
{
    POINT p{r.left + (r.right - r.left) / 2, r.top + (r.bottom - r.top) / 2};
    if (((r.bottom - r.top) & 1) == 0)
        --p.y;
    return p;
}
}  // namespace

void TmPaintArrowGlyph(TCanvas* Canvas, const RECT& Rc, TTmVisualStyle VisualStyle, bool Enabled, int Direction)
{
    TGlyphStateScope keep(Canvas);
    TColor color;
    if (!Enabled)
        color = clBtnShadow;
    else if (VisualStyle == vsWinXP)
        color = ThemedButtonGlyphColor();
    else
        color = TmColorsAreSimilar(Canvas->GetBrush()->GetColor(), clBlack) ? cl3DDkShadow : clBlack;
    POINT c = GlyphCentre(Rc);
    Canvas->GetPen()->SetStyle(classlib::psClear);
    Canvas->GetBrush()->SetColor(color);
    if (VisualStyle != vsWinXP) {
        // Rows (up/down) or columns (left/right) of 1, 3, 5 and 7 pixels.
        for (int k = 0; k < 4; ++k) {
            switch (Direction) {
            case 0: Fill(Canvas, color, c.x - k, c.y - 2 + k, c.x + k + 1, c.y - 1 + k); break;
            case 1: Fill(Canvas, color, c.x - k, c.y + 2 - k, c.x + k + 1, c.y + 3 - k); break;
            case 2: Fill(Canvas, color, c.x - 1 + k, c.y - k, c.x + k, c.y + k + 1); break;
            default: Fill(Canvas, color, c.x + 1 - k, c.y - k, c.x + 2 - k, c.y + k + 1); break;
            }
        }
        return;
    }
    // A chevron two pixels thick, 8 pixels across and 6 deep, centred on
    // the centre point.
    const int x = c.x, y = c.y;
    std::vector<POINT> p;
    switch (Direction) {
    case 0: p = {{x - 4, y + 1}, {x, y - 3}, {x + 4, y + 1}, {x + 4, y + 3}, {x, y - 1}, {x - 4, y + 3}}; break;
    case 1: p = {{x - 4, y - 3}, {x, y + 1}, {x + 4, y - 3}, {x + 4, y - 1}, {x, y + 3}, {x - 4, y - 1}}; break;
    case 2: p = {{x + 1, y - 4}, {x - 3, y}, {x + 1, y + 4}, {x + 3, y + 4}, {x - 1, y}, {x + 3, y - 4}}; break;
    default: p = {{x - 3, y - 4}, {x + 1, y}, {x - 3, y + 4}, {x - 1, y + 4}, {x + 3, y}, {x - 1, y - 4}}; break;
    }
    Canvas->Polygon(p);
}

void TmPaintCloseGlyph(TCanvas* Canvas, const RECT& Rc, TColor Color)
{
    TGlyphStateScope keep(Canvas);
    const POINT c = GlyphCentre(Rc);
    const int x = c.x, y = c.y;
    std::vector<POINT> p;
    if (Rc.bottom - Rc.top <= 10 || Rc.right - Rc.left < 9)
        p = {{x, y - 1},     {x + 1, y - 2}, {x + 3, y - 2}, {x + 1, y},     {x + 3, y + 3},
             {x + 1, y + 2}, {x, y + 1},     {x - 3, y + 3}, {x - 3, y + 2}, {x - 1, y},
             {x - 3, y - 2}, {x - 1, y - 2}, {x - 1, y - 1}};
    else
        p = {{x, y - 1}, {x + 2, y - 3}, {x + 5, y - 3}, {x + 2, y},     {x + 5, y + 4}, {x + 2, y + 3},
             {x, y + 1}, {x - 2, y + 4}, {x - 4, y + 3}, {x - 1, y},     {x - 4, y - 3}, {x - 1, y - 3}};
    Canvas->GetPen()->SetStyle(classlib::psClear);
    Canvas->GetBrush()->SetColor(Color);
    Canvas->Polygon(p);
}

void TmPaintCloseButtonGlyph(TCanvas* Canvas, const RECT& Rc, TTmVisualStyle VisualStyle, bool Enabled)
{
    TColor color = clBlack;
    if (!Enabled)
        color = clBtnShadow;
    else if (VisualStyle == vsWinXP)
        color = ThemedButtonGlyphColor();
    TmPaintCloseGlyph(Canvas, Rc, color);
}

HFONT TmCreateRotatedFont(classlib::TFont* Font, int AngleDegrees)
{
    LOGFONTW lf = {};
    lf.lfHeight = Font->GetHeight();
    lf.lfEscapement = AngleDegrees * 10;
    lf.lfOrientation = 0;
    const classlib::TFontStyles st = Font->GetStyle();
    lf.lfWeight = (st & classlib::fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (st & classlib::fsItalic) ? 1 : 0;
    lf.lfUnderline = (st & classlib::fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (st & classlib::fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = Font->GetCharset();
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    switch (Font->GetPitch()) {
    case classlib::fpVariable: lf.lfPitchAndFamily = VARIABLE_PITCH; break;
    case classlib::fpFixed: lf.lfPitchAndFamily = FIXED_PITCH; break;
    default: lf.lfPitchAndFamily = DEFAULT_PITCH; break;
    }
    lstrcpynW(lf.lfFaceName, Font->GetName().c_str(), LF_FACESIZE);
    return ::CreateFontIndirectW(&lf);
}

bool TmIsTrueTypeFont(classlib::TFont* Font)
{
    classlib::TScreenDC dc;
    classlib::TSelectObjectScope sel(dc.Get(), Font->GetHandle());
    TEXTMETRICW tm = {};
    if (!::GetTextMetricsW(dc.Get(), &tm))
        return false;
    return (tm.tmPitchAndFamily & TMPF_TRUETYPE) != 0;
}

std::wstring TmStripAccelerators(const std::wstring& Caption)
{
    std::wstring out;
    const size_t n = Caption.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        if (Caption[i] != L'&' || Caption[i + 1] == L'&')
            out += Caption[i];
    }
    if (n > 0)
        out += Caption[n - 1];
    return out;
}

int TmDrawText(TCanvas* Canvas, const std::wstring& Text, RECT& Rc, UINT Flags)
{
    HDC dc = Canvas->GetHandle();
    classlib::TSelectObjectScope sel(dc, Canvas->GetFont()->GetHandle());
    ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(Canvas->GetFont()->GetColor())));
    if (Canvas->GetBrush()->GetStyle() == classlib::bsClear) {
        ::SetBkMode(dc, TRANSPARENT);
    } else {
        ::SetBkMode(dc, OPAQUE);
        ::SetBkColor(dc, static_cast<COLORREF>(ColorToRGB(Canvas->GetBrush()->GetColor())));
    }
    return ::DrawTextW(dc, Text.c_str(), -1, &Rc, Flags);
}

// ---------------------------------------------------------------- platform

bool TmIsWindowsAtLeastFor(int VersionClass, DWORD PlatformId, DWORD Major, DWORD Minor)
{
    const bool any = PlatformId == 1 || PlatformId == 2, nt = PlatformId == 2;
    switch (VersionClass & 0x7F) {
    case 0: return any && Major >= 4;
    case 1: return nt && Major >= 4;
    case 2: return any && Major >= 4 && Minor >= 10;
    case 3: return any && ((Major >= 4 && Minor >= 90) || Major >= 5);
    case 4: return nt && Major >= 5;
    case 5: return nt && ((Major == 5 && Minor >= 1) || Major >= 6);
    case 6: return nt && ((Major >= 5 && Minor >= 2) || Major >= 6);
    case 7: return nt && Major >= 6;
    default: return false;
    }
}

bool TmIsWindowsAtLeast(int VersionClass)
{
    OSVERSIONINFOW vi = {};
    vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&vi))
        return false;
#pragma GCC diagnostic pop
    return TmIsWindowsAtLeastFor(VersionClass, vi.dwPlatformId, vi.dwMajorVersion, vi.dwMinorVersion);
}

}  // namespace themed
