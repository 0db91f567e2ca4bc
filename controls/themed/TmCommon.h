// Shared colour and drawing routines of the themed controls.
//
// Everything here is a free routine that draws on a canvas or device context
// given by the caller and keeps no state of its own, except the two start-up
// values TmFullColorSupported and TmXPColorScheme (set by the unit's
// start-up; the program registers it with RegisterThemedUnit).
// System colours (negative TColor values) are resolved with ColorToRGB before
// any arithmetic. All routines belong to the thread that owns the canvas.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include <cstdint>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/Graphics.h"

namespace themed {

using classlib::TColor;

// ------------------------------------------------------------------ types

// The direction of a bar (progress bar, splitter).
enum TOrientation : uint8_t { orHorizontal, orVertical };

// Sides of a rectangle (bit flags).
using TSides = uint8_t;
constexpr TSides sdLeft = 1;
constexpr TSides sdTop = 2;
constexpr TSides sdRight = 4;
constexpr TSides sdBottom = 8;
constexpr TSides sdAllSides = sdLeft | sdTop | sdRight | sdBottom;

// Frame styles; TFrameStyle is the range fsNone..fsFlatBold.
enum TFrameStyleEx : uint8_t {
    fsNone,
    fsFlat,
    fsGroove,
    fsBump,
    fsLowered,
    fsButtonDown,
    fsRaised,
    fsButtonUp,
    fsStatus,
    fsPopup,
    fsFlatBold,
    fsFlatRounded
};
using TFrameStyle = TFrameStyleEx;

enum TGradientDirection : uint8_t {
    gdDiagonalUp,
    gdDiagonalDown,
    gdHorizontalEnd,
    gdHorizontalCenter,
    gdHorizontalBox,
    gdVerticalEnd,
    gdVerticalCenter,
    gdVerticalBox,
    gdSquareBox,
    gdBigSquareBox
};

enum TTmVisualStyle : uint8_t { vsClassic, vsWinXP, vsGradient };
enum TTmGradientColorStyle : uint8_t { gcsSystem, gcsMSOffice, gcsCustom };

// ------------------------------------------------------- start-up values

// True when the screen shows more than a palette (NUMCOLORS is -1).
extern bool TmFullColorSupported;
// 0 normal, 1 homestead, 2 metallic.
extern uint8_t TmXPColorScheme;

// The unit's start-up and shut-down, counted: the first start-up sets
// TmFullColorSupported, then TmXPColorScheme; later ones and the shut-downs
// only count. Main thread only.
void TmCommonStartup();
void TmCommonShutdown();
int TmCommonStartCount();
// Registers the start-up and shut-down with the class library's unit list
// under "TmCommon".
void RegisterThemedUnit();

// ---------------------------------------------------------- colour tables

extern const TColor ULFrameColor[fsFlatBold + 1];
extern const TColor LRFrameColor[fsFlatBold + 1];

// One ring of a two-ring edge: left/top colour, right/bottom colour.
struct TTmEdgeRing {
    TColor UL;
    TColor LR;
};
// Outer ring [0] and inner ring [1] of fsRaised, fsLowered, fsButtonUp and
// fsButtonDown; other styles give nullptr.
const TTmEdgeRing* TmEdgeRings(TFrameStyle Style);

// The colours of one XP colour scheme (as TColor values).
struct TTmSchemeColors {
    TColor GradientStart;
    TColor GradientStop;
    TColor FlatFrame;
    TColor Bar1;
    TColor Bar2;
};
extern const TTmSchemeColors TmSchemeColors[3];

// ---------------------------------------------------------- theme services

// Whether visual styles are active for this application. Tests may force the
// answer (Forced = 1 on, 0 off, -1 ask the system again).
bool TmThemesEnabled();
void TmForceThemesEnabled(int Forced);

// An open theme data handle, closed at the end of its life. Empty when the
// class has no theme (themes off or unknown class).
class TTmTheme {
public:
    TTmTheme(HWND Window, const wchar_t* ClassList);
    ~TTmTheme();
    TTmTheme(const TTmTheme&) = delete;
    TTmTheme& operator=(const TTmTheme&) = delete;
    HTHEME Get() const { return theme_; }
    explicit operator bool() const { return theme_ != nullptr; }

private:
    HTHEME theme_ = nullptr;
};

// A themed element of the explorer bar by its number in the element list
// (0 "don't care", 1 the bar root, then every part with each of its states in
// the order of the system's part and state numbers): its part and state.
bool TmExplorerBarElement(int Element, int& Part, int& State);

// ----------------------------------------------------------- colour routines

void TmColorToHSL(TColor Color, uint8_t& H, uint8_t& S, uint8_t& L);
uint8_t TmColorHue(TColor Color);
TColor TmHSLToColor(int H, int S, int L);
TColor TmDarkenColor(TColor Color, uint8_t Amount);
TColor TmLightenColor(TColor Color, uint8_t Amount);
TColor TmShiftColorLuminance(TColor Color, int Delta);
TColor TmMixColors(TColor Color1, TColor Color2, uint8_t Weight);
TColor TmXorColorChannels(TColor Color1, TColor Color2);
bool TmColorsAreSimilar(TColor Color1, TColor Color2);
TColor TmComplementaryColor(TColor Color, uint8_t Luminance);

bool TmIsFullColorSupported();
// Reads the user's XP colour scheme name; HKEY_CURRENT_USER unless a test
// passes another root key path below it.
uint8_t TmGetXPColorScheme(const std::wstring& Key = L"\\Software\\Microsoft\\Windows\\CurrentVersion");

void TmGetGradientColors(TTmGradientColorStyle Style, TColor& Start, TColor& Stop);
TColor TmGetGradientFlatColor(TTmGradientColorStyle Style);
void TmGetThemedFrameColors(TTmGradientColorStyle Style, TColor& Frame, TColor& Fill, TColor& Line);
void TmGetBarGradientColors(TTmGradientColorStyle Style, TColor& Color1, TColor& Color2);
TColor TmGetThemeColor(int Kind);

// ------------------------------------------------------------ frames

void TmPaintSideLines(classlib::TCanvas* Canvas, const RECT& R, TColor ULColor, TColor LRColor, TSides Sides,
                      RECT& Interior);
void TmPaintSideLinesRepeated(classlib::TCanvas* Canvas, const RECT& R, TColor ULColor, TColor LRColor, int Count,
                              TSides Sides, RECT& Interior);
void TmPaintFrame(classlib::TCanvas* Canvas, const RECT& R, TFrameStyle Style, TSides Sides, RECT& Interior);
void TmPaintFrameStyle(classlib::TCanvas* Canvas, const RECT& R, TFrameStyle Style, RECT& Interior);
void TmPaintRectangleFrame(classlib::TCanvas* Canvas, const RECT& R, TColor Color, RECT& Interior);
void TmPaintRoundedFrame(classlib::TCanvas* Canvas, const RECT& R, TColor Color, TSides Sides, RECT& Interior);
void TmPaintControlBorder(classlib::TCanvas* Canvas, const RECT& R, TFrameStyleEx BorderOuter,
                          TFrameStyleEx BorderInner, int BorderWidth, TSides BorderSides, int BevelWidth,
                          TColor BorderColor, TColor BorderHighlight, TColor BorderShadow, TColor FlatColor,
                          int FlatColorAdjustment, TColor Color, TColor ParentColor, bool Transparent,
                          bool FlatInnerRounded, RECT& Interior);
void TmPaintBarBackground(classlib::TCanvas* Canvas, const RECT& R, TTmVisualStyle VisualStyle, TColor Color1,
                          TColor Color2, bool Swap, TTmGradientColorStyle GradientColorStyle);

// ------------------------------------------------------------ gradients

// The platform's two-vertex rectangle gradient: Vertical fills top to bottom
// (GRADIENT_FILL_RECT_V), otherwise left to right. Returns false (drawing
// nothing) when the platform routine is missing.
bool GradientFillCanvas(classlib::TCanvas* Canvas, TColor StartColor, TColor StopColor, const RECT& R,
                        bool Vertical);
void TmPaintGradient(classlib::TCanvas* Canvas, const RECT& R, TGradientDirection Direction, TColor StartColor,
                     TColor StopColor, uint8_t MinBand = 1);

// --------------------------------------------- background, glyphs, text

void TmPaintParentBackground(classlib::TControl* Control, classlib::TCanvas* Canvas, bool InvalidateParent);
void TmPaintParentBackgroundDC(classlib::TControl* Control, HDC DC, bool InvalidateParent);
void TmFlipBitmapVertically(classlib::TBitmap* Bitmap);
// Direction 0 up, 1 down, 2 left, 3 right.
void TmPaintArrowGlyph(classlib::TCanvas* Canvas, const RECT& R, TTmVisualStyle VisualStyle, bool Enabled,
                       int Direction);
void TmPaintCloseGlyph(classlib::TCanvas* Canvas, const RECT& R, TColor Color);
void TmPaintCloseButtonGlyph(classlib::TCanvas* Canvas, const RECT& R, TTmVisualStyle VisualStyle, bool Enabled);
// A new font handle owned by the caller.
HFONT TmCreateRotatedFont(classlib::TFont* Font, int AngleDegrees);
bool TmIsTrueTypeFont(classlib::TFont* Font);
std::wstring TmStripAccelerators(const std::wstring& Caption);
int TmDrawText(classlib::TCanvas* Canvas, const std::wstring& Text, RECT& R, UINT Flags);
inline int TmMinInt(int A, int B) { return A < B ? A : B; }
inline int TmMaxInt(int A, int B) { return A > B ? A : B; }

// ------------------------------------------------------------ platform

// The version test on given platform values (1 the 9x family, 2 NT).
bool TmIsWindowsAtLeastFor(int VersionClass, DWORD PlatformId, DWORD Major, DWORD Minor);
// The version test on the running system.
bool TmIsWindowsAtLeast(int VersionClass);

}  // namespace themed

// Defines Class::SetName(Type Value) for a property whose change only wants
// the control drawn again: stores Value in Field and calls the member Redraw
// (Invalidate, Repaint, or one that repaints the owner) when it differs.
#define TM_REDRAW_SETTER(Class, Name, Type, Field, Redraw) \
    void Class::Set##Name(Type Value)                      \
    {                                                      \
        if (Value == Field) return;                        \
        Field = Value;                                     \
        Redraw();                                          \
    }
