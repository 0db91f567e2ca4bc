#include "imaging/views/PxDrawing.h"

#include <algorithm>

#include "imaging/views/PxGDIPlus.h"

namespace imaging {

void PxDrawFrame3DCanvas(TPxCanvas* canvas, int x1, int y1, int x2, int y2, classlib::TColor topLeft,
                         classlib::TColor bottomRight)
{
    TPxPen* pen = canvas->GetPen();
    pen->SetMode(classlib::pmCopy);
    pen->SetStyle(classlib::psSolid);
    pen->SetWidth(1.0f);
    pen->SetColor(topLeft);
    canvas->MoveTo(x1, y2);
    canvas->LineTo(x1, y1);
    canvas->LineTo(x2, y1);
    pen->SetColor(bottomRight);
    canvas->MoveTo(x1, y2);
    canvas->LineTo(x2, y2);
    canvas->LineTo(x2, y1);
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

}  // namespace imaging
