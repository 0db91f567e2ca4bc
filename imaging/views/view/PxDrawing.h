// Frame, text-box, hint-box and shadow drawing of the image toolkit, and the
// mouse state the views poll while drawing. The routines over the drawing
// canvas (imaging/views/view/PxGDIPlus.h) blend with GDI+ loaded; without it they
// draw the same shapes opaque through the plain canvas. The routines over a
// plain canvas draw opaque. Threads: the canvas's thread.
#pragma once

#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

namespace imaging {

class TPxCanvas;

// A two-colour frame: (x1, y2) -> (x1, y1) -> (x2, y1) in topLeft, then
// (x1, y2) -> (x2, y2) -> (x2, y1) in bottomRight; solid copy pen of width 1.
// One drawing for both canvases.
void PxDrawFrame3D(classlib::TCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                   classlib::TColor bottomRight);
void PxDrawFrame3DCanvas(TPxCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                         classlib::TColor bottomRight);

// Draws text in a framed box near (x, y): the box is text width + 12 by text
// height + 12; x and y are raised to 0, then lowered so that the box ends
// inside (widthLimit - box width - 1, heightLimit - box height - 1), and
// returned. The canvas area under the box is first copied into savedBitmap
// (made 24-bit and box-sized; nullptr skips it) so that the caller can
// restore it. The canvas takes font and brush.
void PxDrawTextBox(classlib::TCanvas* canvas, int& x, int& y, classlib::TColor topLeft, classlib::TColor bottomRight,
                   int heightLimit, int widthLimit, classlib::TBitmap* savedBitmap, const classlib::TBrush* brush,
                   const classlib::TFont* font, const std::wstring& text);

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

// The primary mouse button (swapped buttons honoured) is held.
bool PxIsMouseButtonDown();

}  // namespace imaging
