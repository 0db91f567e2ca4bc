#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

using namespace classlib;

namespace {

TEST(Colors, ColorToRGBResolvesSystemColorsAndKeepsOthers)
{
    const struct {
        TColor color;
        int index;
    } system[] = {{clBtnFace, COLOR_BTNFACE},     {clHighlight, COLOR_HIGHLIGHT}, {clHighlightText, COLOR_HIGHLIGHTTEXT},
                  {clWindow, COLOR_WINDOW},       {clMenu, COLOR_MENU},           {clGrayText, COLOR_GRAYTEXT},
                  {cl3DDkShadow, COLOR_3DDKSHADOW}, {clInfoBk, COLOR_INFOBK}};
    for (const auto& c : system) {
        EXPECT_LT(c.color, 0);
        EXPECT_EQ(ColorToRGB(c.color), static_cast<TColor>(::GetSysColor(c.index))) << c.index;
    }
    for (TColor plain : {clRed, clBlue, clWhite, clBlack, clNone, clDefault, TColor(0x123456)})
        EXPECT_EQ(ColorToRGB(plain), plain);
    EXPECT_EQ(clRed, TColor(RGB(255, 0, 0)));
    EXPECT_EQ(clNone, 0x1FFFFFFF);
    EXPECT_EQ(clDefault, 0x20000000);
}

struct ChangeCounter : TObject {
    int hits = 0;
    void On(TObject*) { ++hits; }
};

TEST(Graphics, FontSizeHeightAndLogFont)
{
    TFont f;
    const struct {
        int ppi, size, height;
    } cases[] = {{96, 8, -11}, {96, 10, -13}, {120, 9, -15}, {72, 12, -12}};
    for (const auto& c : cases) {
        f.PixelsPerInch = c.ppi;
        f.SetSize(c.size);
        EXPECT_EQ(f.GetHeight(), c.height) << c.ppi << " " << c.size;
        EXPECT_EQ(f.GetSize(), c.size);
    }

    ChangeCounter counter;
    f.OnChange = TNotifyEvent(&counter, &ChangeCounter::On);
    f.SetStyle(fsBold | fsItalic);
    f.SetColor(clRed);
    f.SetColor(clRed);  // unchanged: no event
    EXPECT_EQ(counter.hits, 2);

    LOGFONTW lf{};
    lf.lfHeight = -23;
    lf.lfWeight = FW_BOLD;
    lf.lfUnderline = 1;
    lf.lfCharSet = SYMBOL_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH;
    wcscpy(lf.lfFaceName, L"Courier New");
    HFONT h = ::CreateFontIndirectW(&lf);
    ASSERT_TRUE(h);
    f.SetHandle(h);  // adopted
    EXPECT_EQ(f.GetHandle(), h);
    EXPECT_EQ(f.GetName(), L"Courier New");
    EXPECT_EQ(f.GetHeight(), -23);
    EXPECT_EQ(f.GetStyle(), fsBold | fsUnderline);
    EXPECT_EQ(f.GetCharset(), SYMBOL_CHARSET);
    EXPECT_EQ(f.GetPitch(), fpFixed);

    TFont g;
    g.PixelsPerInch = f.PixelsPerInch;
    g.Assign(&f);
    LOGFONTW a = f.GetLogFont(), b = g.GetLogFont();
    EXPECT_EQ(a.lfHeight, b.lfHeight);
    EXPECT_STREQ(a.lfFaceName, b.lfFaceName);
    EXPECT_EQ(g.GetColor(), clRed);
    EXPECT_NE(g.GetHandle(), f.GetHandle());
}

TEST(Graphics, PenAndBrushTakeSettableHandles)
{
    TPen pen;
    LOGBRUSH lb{BS_SOLID, RGB(10, 20, 30), 0};
    HPEN geometric = ::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 7, &lb, 0, nullptr);
    ASSERT_TRUE(geometric);
    pen.SetHandle(geometric);
    EXPECT_EQ(pen.GetHandle(), geometric);
    EXPECT_EQ(pen.GetWidth(), 7);
    EXPECT_EQ(pen.GetColor(), TColor(RGB(10, 20, 30)));
    pen.SetColor(clBlue);  // a new cosmetic handle replaces the adopted one
    EXPECT_NE(pen.GetHandle(), nullptr);
    EXPECT_EQ(pen.GetWidth(), 7);

    TBrush brush;
    brush.SetHandle(::CreateHatchBrush(HS_DIAGCROSS, RGB(1, 2, 3)));
    EXPECT_EQ(brush.GetStyle(), bsDiagCross);
    EXPECT_EQ(brush.GetColor(), TColor(RGB(1, 2, 3)));
    brush.SetStyle(bsClear);
    brush.SetColor(clRed);  // a colour makes a clear brush solid
    EXPECT_EQ(brush.GetStyle(), bsSolid);
}

// A 24-bit test surface of w x h, white.
std::unique_ptr<TBitmap> Surface(int w, int h)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    return b;
}

TEST(Canvas, DrawingIsReadBackFromPixels)
{
    auto bmp = Surface(40, 30);
    TCanvas* c = bmp->GetCanvas();
    EXPECT_EQ(c->GetPixel(5, 5), clWhite);  // new bitmaps are white

    c->GetBrush()->SetColor(clRed);
    c->FillRect(RECT{2, 3, 12, 8});
    EXPECT_EQ(c->GetPixel(2, 3), clRed);
    EXPECT_EQ(c->GetPixel(11, 7), clRed);
    EXPECT_EQ(c->GetPixel(12, 7), clWhite);  // right and bottom edges excluded
    EXPECT_EQ(c->GetPixel(11, 8), clWhite);
    // The same through the row memory (blue, green, red bytes).
    auto* row = static_cast<uint8_t*>(bmp->GetScanLine(3));
    EXPECT_EQ(row[2 * 3 + 2], 255);
    EXPECT_EQ(row[2 * 3 + 0], 0);

    c->GetPen()->SetColor(clBlue);
    c->MoveTo(0, 20);
    c->LineTo(10, 20);
    for (int x = 0; x < 10; ++x) EXPECT_EQ(c->GetPixel(x, 20), clBlue) << x;
    EXPECT_EQ(c->GetPixel(10, 20), clWhite);  // end point excluded
    EXPECT_EQ(c->GetPenPos().x, 10);

    c->GetBrush()->SetStyle(bsClear);
    c->GetPen()->SetColor(clBlack);
    c->Rectangle(20, 10, 30, 20);
    EXPECT_EQ(c->GetPixel(20, 10), clBlack);
    EXPECT_EQ(c->GetPixel(29, 19), clBlack);
    EXPECT_EQ(c->GetPixel(25, 15), clWhite);  // clear brush leaves the inside

    c->SetPixel(39, 29, clLime);
    EXPECT_EQ(c->GetPixel(39, 29), clLime);
    c->GetPen()->SetMode(pmNot);
    c->MoveTo(0, 29);
    c->LineTo(3, 29);
    EXPECT_EQ(c->GetPixel(1, 29), clBlack);  // white inverted

    SIZE sz = c->TextExtent(L"Hello");
    EXPECT_GT(sz.cx, 0);
    EXPECT_GT(sz.cy, 0);
    EXPECT_EQ(c->TextWidth(L"Hello"), sz.cx);
    auto before = c->GetPixel(0, 0);
    c->GetBrush()->SetColor(clYellow);
    c->TextOut(0, 0, L" ");
    EXPECT_EQ(c->GetPixel(0, 0), clYellow);  // opaque background of the text
    EXPECT_NE(before, clYellow);
}

TEST(Canvas, CallerSelectionsOnTheHandleAreNotUndone)
{
    auto bmp = Surface(10, 10);
    TCanvas* c = bmp->GetCanvas();
    c->GetFont()->SetHeight(-10);
    int small = c->TextWidth(L"MMMMMMMM");
    HDC dc = c->GetHandle();
    int saved = ::SaveDC(dc);
    LOGFONTW lf = c->GetFont()->GetLogFont();
    lf.lfHeight = -40;
    HFONT big = ::CreateFontIndirectW(&lf);
    ::SelectObject(dc, big);
    int withCaller = c->TextWidth(L"MMMMMMMM");
    EXPECT_GT(withCaller, small * 2);  // the caller's font stays in use
    ::RestoreDC(dc, saved);
    ::DeleteObject(big);
    EXPECT_EQ(c->TextWidth(L"MMMMMMMM"), small);
    // A change of the canvas's own font is selected at the next use.
    c->GetFont()->SetHeight(-40);
    EXPECT_EQ(c->TextWidth(L"MMMMMMMM"), withCaller);
}

TEST(Canvas, DrawStretchDrawAndCopyRect)
{
    auto src = Surface(4, 4);
    src->GetCanvas()->GetBrush()->SetColor(clRed);
    src->GetCanvas()->FillRect(RECT{0, 0, 2, 4});  // left half red, right half white
    auto dst = Surface(20, 20);
    TCanvas* c = dst->GetCanvas();
    c->Draw(5, 5, src.get());
    EXPECT_EQ(c->GetPixel(5, 5), clRed);
    EXPECT_EQ(c->GetPixel(8, 8), clWhite);
    EXPECT_EQ(c->GetPixel(4, 5), clWhite);
    c->StretchDraw(RECT{10, 0, 18, 8}, src.get());
    EXPECT_EQ(c->GetPixel(13, 7), clRed);
    EXPECT_EQ(c->GetPixel(14, 0), clWhite);
    c->CopyRect(RECT{0, 15, 4, 19}, src->GetCanvas(), RECT{0, 0, 4, 4});
    EXPECT_EQ(c->GetPixel(1, 16), clRed);
    EXPECT_EQ(c->GetPixel(3, 16), clWhite);
}

TEST(Canvas, EventsAndLocking)
{
    auto bmp = Surface(4, 4);
    TCanvas* c = bmp->GetCanvas();
    ChangeCounter changing, changed, bitmapChanged;
    c->OnChanging = TNotifyEvent(&changing, &ChangeCounter::On);
    c->OnChange = TNotifyEvent(&changed, &ChangeCounter::On);
    c->FillRect(RECT{0, 0, 2, 2});
    c->TextExtent(L"x");  // measuring changes nothing
    EXPECT_EQ(changing.hits, 1);
    EXPECT_EQ(changed.hits, 1);

    auto bmp2 = Surface(4, 4);
    bmp2->OnChange = TNotifyEvent(&bitmapChanged, &ChangeCounter::On);
    bmp2->SetModified(false);
    bmp2->GetCanvas()->FillRect(RECT{0, 0, 2, 2});
    EXPECT_EQ(bitmapChanged.hits, 1);  // drawing on a bitmap's canvas changes the bitmap
    EXPECT_TRUE(bmp2->GetModified());

    c->Lock();
    c->Lock();
    EXPECT_EQ(c->GetLockCount(), 2);
    std::atomic<bool> other{true};
    std::thread t([&] { other = c->TryLock(); });
    t.join();
    EXPECT_FALSE(other);
    c->Unlock();
    c->Unlock();
    EXPECT_EQ(c->GetLockCount(), 0);
    std::thread t2([&] {
        other = c->TryLock();
        if (other) c->Unlock();
    });
    t2.join();
    EXPECT_TRUE(other);
}

TEST(Canvas, PlainCanvasWithoutHandleRefusesDrawing)
{
    TCanvas c;
    EXPECT_THROW(c.FillRect(RECT{0, 0, 1, 1}), EInvalidOperation);
    HDC dc = ::CreateCompatibleDC(nullptr);
    c.SetHandle(dc);
    c.FillRect(RECT{0, 0, 1, 1});
    c.SetHandle(nullptr);
    ::DeleteDC(dc);
}

TEST(Canvas, DCScopeLendsTheDCAndTakesEverythingBackOnEveryWayOut)
{
    TCanvas c;
    HDC dc = ::CreateCompatibleDC(nullptr);
    const HGDIOBJ stockFont = ::GetCurrentObject(dc, OBJ_FONT);
    auto draw = [&](bool fail) {
        TCanvasDCScope scope(&c, dc);
        EXPECT_EQ(c.GetLockCount(), 1);
        EXPECT_EQ(c.GetHandle(), dc);
        c.TextExtent(L"x");  // selects the canvas's font into the DC
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), c.GetFont()->GetHandle());
        if (fail) throw EInvalidOperation(L"drawing failed");
    };
    draw(false);
    EXPECT_THROW(draw(true), EInvalidOperation);
    EXPECT_FALSE(c.HandleAllocated());
    EXPECT_EQ(c.GetLockCount(), 0);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), stockFont);
    ::DeleteDC(dc);
}

}  // namespace
