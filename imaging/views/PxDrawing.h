// Frame, hint-box and shadow drawing of the image toolkit through the drawing
// canvas (imaging/views/PxGDIPlus.h): with GDI+ loaded they blend; without it
// they draw the same shapes opaque through the plain canvas.
#pragma once

#include <string>

#include "classlib/Graphics.h"

namespace imaging {

class TPxCanvas;

// A two-colour frame through a drawing canvas: (x1, y2) -> (x1, y1) ->
// (x2, y1) in topLeft, then (x1, y2) -> (x2, y2) -> (x2, y1) in bottomRight;
// solid copy pen of width 1.
void PxDrawFrame3DCanvas(TPxCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                         classlib::TColor bottomRight);

// A light-yellow, half-transparent hint box with text at (x, y) (raised to 0
// and returned): the box is as wide as the wider of measureText and text plus
// 12, as high as text plus 12; it is filled from (x + 6, y + 6), framed white
// and grey, and the text (black Arial 9, set on the canvas's font) is written
// at (x + 9, y + 9). The canvas's pen, brush and font are left changed.
void PxDrawHintBox(classlib::TCanvas* canvas, int& x, int& y, const std::wstring& measureText,
                   const std::wstring& text);

// Darkens (black, transparency 150) the part of the area (areaLeft, areaTop,
// areaWidth, areaHeight) outside the frame; nothing when frameRight <=
// frameLeft or frameBottom <= frameTop. The canvas's brush is left black.
void PxDrawShadowRects(classlib::TCanvas* canvas, int areaLeft, int areaTop, int areaWidth, int areaHeight,
                       int frameLeft, int frameTop, int frameRight, int frameBottom);

}  // namespace imaging
