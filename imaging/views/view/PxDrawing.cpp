#include "imaging/views/view/PxDrawing.h"

#include <algorithm>

#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

// The frame's lines through either canvas; both pens take the same settings.
template <class Canvas>
void DrawFrame3D(Canvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                 classlib::TColor bottomRight)
{
    auto* pen = canvas->GetPen();
    pen->SetMode(classlib::pmCopy);
    pen->SetStyle(classlib::psSolid);
    pen->SetWidth(1);
    pen->SetColor(topLeft);
    canvas->MoveTo(x1, y2);
    canvas->LineTo(x1, y1);
    canvas->LineTo(x2, y1);
    pen->SetColor(bottomRight);
    canvas->MoveTo(x1, y2);
    canvas->LineTo(x2, y2);
    canvas->LineTo(x2, y1);
}

}  // namespace

void PxDrawFrame3D(classlib::TCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                   classlib::TColor bottomRight)
{
    DrawFrame3D(canvas, x1, y1, x2, y2, topLeft, bottomRight);
}

void PxDrawFrame3DCanvas(TPxCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                         classlib::TColor bottomRight)
{
    DrawFrame3D(canvas, x1, y1, x2, y2, topLeft, bottomRight);
}

void PxDrawTextBox(classlib::TCanvas* canvas, int& x, int& y, classlib::TColor topLeft, classlib::TColor bottomRight,
                   int heightLimit, int widthLimit, classlib::TBitmap* savedBitmap, const classlib::TBrush* brush,
                   const classlib::TFont* font, const std::wstring& text)
{
    canvas->SetFont(font);
    canvas->SetBrush(brush);
    const SIZE extent = canvas->TextExtent(text);
    const int boxWidth = extent.cx + 12;
    const int boxHeight = extent.cy + 12;
    x = std::max(x, 0);
    y = std::max(y, 0);
    x = std::min(x, widthLimit - boxWidth - 1);
    y = std::min(y, heightLimit - boxHeight - 1);
    if (savedBitmap) {
        savedBitmap->SetPixelFormat(classlib::pf24bit);
        savedBitmap->SetSize(boxWidth, boxHeight);
        classlib::TCanvas* target = savedBitmap->GetCanvas();
        target->CopyMode = SRCCOPY;
        target->CopyRect(RECT{0, 0, boxWidth, boxHeight}, canvas, RECT{x, y, x + boxWidth, y + boxHeight});
    }
    canvas->FillRect(RECT{x + 6, y + 6, x + boxWidth, y + boxHeight});
    PxDrawFrame3D(canvas, x + 6, y + 6, x + boxWidth - 1, y + boxHeight - 1, topLeft, bottomRight);
    canvas->TextOut(x + 9, y + 9, text);
}

void PxDrawHintBox(classlib::TCanvas* canvas, int& x, int& y, const std::wstring& measureText,
                   const std::wstring& text)
{
    TPxCanvas pxCanvas(canvas, true, true);
    classlib::TFont* font = pxCanvas.GetFont();
    font->SetName(L"Arial");
    font->SetSize(9);
    font->SetColor(classlib::clBlack);
    TPxBrush* brush = pxCanvas.GetBrush();
    brush->SetColor(RGB(255, 255, 96));
    brush->SetStyle(classlib::bsSolid);
    brush->SetTransparency(128);
    const int boxWidth = std::max(pxCanvas.TextWidth(measureText), pxCanvas.TextWidth(text)) + 12;
    const int boxHeight = pxCanvas.TextHeight(text) + 12;
    x = std::max(x, 0);
    y = std::max(y, 0);
    pxCanvas.FillRect(RECT{x + 6, y + 6, x + boxWidth, y + boxHeight});
    PxDrawFrame3DCanvas(&pxCanvas, x + 6, y + 6, x + boxWidth - 1, y + boxHeight - 1, classlib::clWhite,
                        RGB(128, 128, 128));
    brush->SetStyle(classlib::bsClear);
    pxCanvas.TextOut(x + 9, y + 9, text);
}

void PxDrawShadowRects(classlib::TCanvas* canvas, int areaLeft, int areaTop, int areaWidth, int areaHeight,
                       int frameLeft, int frameTop, int frameRight, int frameBottom)
{
    if (frameRight <= frameLeft || frameBottom <= frameTop)
        return;
    TPxCanvas pxCanvas(canvas, false, true);
    TPxBrush* brush = pxCanvas.GetBrush();
    brush->SetColor(classlib::clBlack);
    brush->SetStyle(classlib::bsSolid);
    brush->SetTransparency(150);
    const int w = areaLeft + areaWidth + 1;
    const int h = areaTop + areaHeight + 1;
    pxCanvas.FillRect(RECT{areaLeft, areaTop, frameLeft + 2, h});
    pxCanvas.FillRect(RECT{frameRight, areaTop, w, h});
    pxCanvas.FillRect(RECT{frameLeft + 1, areaTop, frameRight + 1, frameTop + 2});
    pxCanvas.FillRect(RECT{frameLeft + 1, frameBottom + 1, frameRight + 1, h});
}

bool PxIsMouseButtonDown()
{
    const int key = ::GetSystemMetrics(SM_SWAPBUTTON) == 0 ? VK_LBUTTON : VK_RBUTTON;
    return ::GetAsyncKeyState(key) < 0;
}

}  // namespace imaging
