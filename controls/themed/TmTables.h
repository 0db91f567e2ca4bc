// Constant tables of the themed controls: colour names, the named colour
// palette, calculator key captions and dialog button captions with their
// glyph slots. Nothing in the program reads them yet; they are kept for
// controls that offer colour and button choices.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

namespace themed {

struct TTmColorRec {
    const wchar_t* Name;
    classlib::TColor Color;
};

extern const TTmColorRec TmColorDefault;          // "Default", 0
extern const TTmColorRec TmColorCustom;           // "Custom", 0
extern const TTmColorRec TmStandardColors[16];    // "Black" .. "White"
extern const TTmColorRec TmSystemColorNames[25];  // system colours 0-24
extern std::wstring TmColorNameText;              // empty at start

struct TColorData {
    classlib::TColor Color;
    const wchar_t* Name;
};

// 40 palette colours, then the system colours 0-24 and 26-30.
extern const TColorData TmNamedPalette[70];

extern const wchar_t* const TmKeyCaptions[19];

// Captions of dialog buttons: none, OK, Cancel, Help, Yes, No, Close, Abort,
// Retry, Ignore, All; and a glyph slot per button, empty until a control
// fills it (the slots free their bitmaps at the end of the program).
extern const wchar_t* const TmButtonCaptions[11];
extern std::array<std::unique_ptr<classlib::TBitmap>, 11> TmButtonGlyphs;

}  // namespace themed
