#include "controls/themed/TmTables.h"

namespace themed {

using namespace classlib;

const TTmColorRec TmColorDefault = {L"Default", 0};
const TTmColorRec TmColorCustom = {L"Custom", 0};

const TTmColorRec TmStandardColors[16] = {
    {L"Black", clBlack}, {L"Maroon", clMaroon}, {L"Green", clGreen},   {L"Olive", clOlive},
    {L"Navy", clNavy},   {L"Purple", clPurple}, {L"Teal", clTeal},     {L"Gray", clGray},
    {L"Silver", clSilver}, {L"Red", clRed},     {L"Lime", clLime},     {L"Yellow", clYellow},
    {L"Blue", clBlue},   {L"Fuchsia", clFuchsia}, {L"Aqua", clAqua},   {L"White", clWhite}};

const TTmColorRec TmSystemColorNames[25] = {
    {L"ScrollBar", clScrollBar},
    {L"Background", clBackground},
    {L"ActiveCaption", clActiveCaption},
    {L"InactiveCaption", clInactiveCaption},
    {L"Menu", clMenu},
    {L"Window", clWindow},
    {L"WindowFrame", clWindowFrame},
    {L"MenuText", clMenuText},
    {L"WindowText", clWindowText},
    {L"CaptionText", clCaptionText},
    {L"ActiveBorder", clActiveBorder},
    {L"InactiveBorder", clInactiveBorder},
    {L"AppWorkSpace", clAppWorkSpace},
    {L"Highlight", clHighlight},
    {L"HighlightText", clHighlightText},
    {L"BtnFace", clBtnFace},
    {L"BtnShadow", clBtnShadow},
    {L"GrayText", clGrayText},
    {L"BtnText", clBtnText},
    {L"InactiveCaptionText", clInactiveCaptionText},
    {L"BtnHighlight", clBtnHighlight},
    {L"3DDkShadow", cl3DDkShadow},
    {L"3DLight", cl3DLight},
    {L"InfoText", clInfoText},
    {L"InfoBk", clInfoBk}};

std::wstring TmColorNameText;

const TColorData TmNamedPalette[70] = {
    {0x000000, L"Black"},
    {0x003399, L"Brown"},
    {0x003333, L"Olive Green"},
    {0x003300, L"Dark Green"},
    {0x663300, L"Dark Teal"},
    {0x800000, L"Dark Blue"},
    {0x993333, L"Indigo"},
    {0x333333, L"Gray 80%"},
    {0x000080, L"Dark Red"},
    {0x0066FF, L"Orange"},
    {0x008080, L"Dark Yellow"},
    {0x008000, L"Green"},
    {0x808000, L"Teal"},
    {0xFF0000, L"Blue"},
    {0x996666, L"Blue Gray"},
    {0x808080, L"Gray 50%"},
    {0x0000FF, L"Red"},
    {0x0099FF, L"Light Orange"},
    {0x00CC99, L"Lime"},
    {0x669933, L"Sea Green"},
    {0x999933, L"Aqua"},
    {0xFF6633, L"Light Blue"},
    {0x800080, L"Violet"},
    {0x999999, L"Gray 40%"},
    {0xFF00FF, L"Pink"},
    {0x00CCFF, L"Gold"},
    {0x00FFFF, L"Yellow"},
    {0x00FF00, L"Bright Green"},
    {0xFFFF00, L"Turquoise"},
    {0xFFCC00, L"Sky Blue"},
    {0x663399, L"Plum"},
    {0xC0C0C0, L"Gray 25%"},
    {0xCC99FF, L"Rose"},
    {0x99CCFF, L"Tan"},
    {0x99FFFF, L"Light Yellow"},
    {0xCCFFCC, L"Light Green"},
    {0xFFFFCC, L"Light Turquoise"},
    {0xFFCC99, L"Pale Blue"},
    {0xFF99CC, L"Lavender"},
    {0xFFFFFF, L"White"},
    {clScrollBar, L"Scroll Bar"},
    {clBackground, L"Background"},
    {clActiveCaption, L"Active Caption"},
    {clInactiveCaption, L"Inactive Caption"},
    {clMenu, L"Menu"},
    {clWindow, L"Window"},
    {clWindowFrame, L"Window Frame"},
    {clMenuText, L"Menu Text"},
    {clWindowText, L"Window Text"},
    {clCaptionText, L"Caption Text"},
    {clActiveBorder, L"Active Border"},
    {clInactiveBorder, L"Inactive Border"},
    {clAppWorkSpace, L"App WorkSpace"},
    {clHighlight, L"Highlight"},
    {clHighlightText, L"Highlight Text"},
    {clBtnFace, L"Button Face"},
    {clBtnShadow, L"Button Shadow"},
    {clGrayText, L"Gray Text"},
    {clBtnText, L"Button Text"},
    {clInactiveCaptionText, L"Inactive Caption Text"},
    {clBtnHighlight, L"Button Highlight"},
    {cl3DDkShadow, L"3D Dark Shadow"},
    {cl3DLight, L"3D Light"},
    {clInfoText, L"Info Text"},
    {clInfoBk, L"Info Background"},
    {clHotLight, L"Hot Light"},
    {clGradientActiveCaption, L"Gradient Active Caption"},
    {clGradientInactiveCaption, L"Gradient Inactive Caption"},
    {clMenuHighlight, L"Menu Highlight"},
    {clMenuBar, L"Menu Bar"}};

const wchar_t* const TmKeyCaptions[19] = {L"0", L"1", L"2", L"3", L"4", L"5",      L"6", L"7", L"8", L"9",
                                          L".", L"+", L"-", L"*", L"\u0447", L"C", L"=", L"",  L""};

const wchar_t* const TmButtonCaptions[11] = {L"",    L"OK",     L"Cancel",  L"&Help", L"&Yes", L"&No",
                                             L"&Close", L"Abort", L"&Retry", L"&Ignore", L"&All"};

std::array<std::unique_ptr<classlib::TBitmap>, 11> TmButtonGlyphs;

}  // namespace themed
