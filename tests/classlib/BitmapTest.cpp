#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "support/TestSupport.h"
#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "tests/classlib/GraphicBytes.h"

using namespace classlib;
using classlibtest::LoadBytes;
using classlibtest::SaveBytes;

namespace {

std::vector<RGBQUAD> DibTable(TBitmap& b)
{
    std::vector<RGBQUAD> t(256);
    t.resize(::GetDIBColorTable(b.GetCanvas()->GetHandle(), 0, 256, t.data()));
    return t;
}

std::vector<PALETTEENTRY> PaletteEntries(HPALETTE p)
{
    WORD n = 0;
    ::GetObjectW(p, sizeof(n), &n);
    std::vector<PALETTEENTRY> e(n);
    ::GetPaletteEntries(p, 0, n, e.data());
    return e;
}

HPALETTE MakePalette(std::initializer_list<COLORREF> colors)
{
    std::vector<unsigned char> buf(sizeof(LOGPALETTE) + colors.size() * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(colors.size());
    int i = 0;
    for (COLORREF c : colors) lp->palPalEntry[i++] = PALETTEENTRY{GetRValue(c), GetGValue(c), GetBValue(c), 0};
    return ::CreatePalette(lp);
}

int BitsOf(TPixelFormat f)
{
    switch (f) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;
    }
}

const TPixelFormat kDibFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

TEST(Bitmap, ScanLinesAreOneBottomUpBlockInEveryFormat)
{
    const int w = 13, h = 7;
    for (TPixelFormat f : kDibFormats) {
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(w, h);
        ASSERT_EQ(b.GetPixelFormat(), f);
        EXPECT_EQ(b.GetHandleType(), bmDIB);
        const intptr_t stride = ((w * BitsOf(f) + 31) / 32) * 4;
        std::vector<uint8_t*> rows;
        for (int y = 0; y < h; ++y) rows.push_back(static_cast<uint8_t*>(b.GetScanLine(y)));
        for (int y = 0; y + 1 < h; ++y) EXPECT_EQ(rows[y] - rows[y + 1], stride) << "format " << f << " row " << y;
        DIBSECTION ds{};
        ASSERT_EQ(::GetObjectW(b.GetHandle(), sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
        EXPECT_EQ(static_cast<void*>(rows[h - 1]), ds.dsBm.bmBits);  // the lowest address
        // Stable across handle, canvas and palette use.
        b.GetCanvas()->GetHandle();
        b.GetPalette();
        EXPECT_EQ(b.GetScanLine(0), rows[0]);
        EXPECT_THROW(b.GetScanLine(h), EInvalidGraphicOperation);
        EXPECT_THROW(b.GetScanLine(-1), EInvalidGraphicOperation);
    }
}

TEST(Bitmap, OnePixelThenFormatThenSize)
{
    TBitmap b;
    b.SetWidth(1);
    b.SetHeight(1);
    b.SetPixelFormat(pfDevice);
    EXPECT_EQ(b.GetHandleType(), bmDDB);
    b.SetPixelFormat(pf8bit);
    b.SetWidth(100);
    b.SetHeight(50);
    EXPECT_EQ(b.GetPixelFormat(), pf8bit);
    EXPECT_EQ(b.GetHandleType(), bmDIB);
    ASSERT_NE(b.GetPalette(), nullptr);
    EXPECT_EQ(PaletteEntries(b.GetPalette()).size(), 256u);
    EXPECT_EQ(DibTable(b).size(), 256u);
    // A grey ramp written into the palette reaches the colour table.
    std::vector<PALETTEENTRY> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = PALETTEENTRY{BYTE(i), BYTE(i), BYTE(i), 0};
    ::SetPaletteEntries(b.GetPalette(), 0, 256, grey.data());
    b.SetPaletteModified(true);
    auto table = DibTable(b);
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[200].rgbRed, 200);
    EXPECT_EQ(table[17].rgbBlue, 17);
    static_cast<uint8_t*>(b.GetScanLine(49))[99] = 200;
    EXPECT_EQ(b.GetCanvas()->GetPixel(99, 49), TColor(RGB(200, 200, 200)));
}

TEST(Bitmap, PaletteAndColorTableStayInStep)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetSize(4, 4);
    // Palette -> colour table, also without PaletteModified once the bitmap is used.
    PALETTEENTRY pe{12, 34, 56, 0};
    ::SetPaletteEntries(b.GetPalette(), 5, 1, &pe);
    auto t = DibTable(b);
    EXPECT_EQ(t[5].rgbRed, 12);
    EXPECT_EQ(t[5].rgbGreen, 34);
    EXPECT_EQ(t[5].rgbBlue, 56);
    // Colour table (through the canvas's DC) -> palette.
    RGBQUAD q{9, 8, 7, 0};
    ::SetDIBColorTable(b.GetCanvas()->GetHandle(), 6, 1, &q);
    auto e = PaletteEntries(b.GetPalette());
    EXPECT_EQ(e[6].peRed, 7);
    EXPECT_EQ(e[6].peBlue, 9);
    // A new palette is adopted and copied into the table.
    HPALETTE p = MakePalette({RGB(1, 2, 3), RGB(4, 5, 6)});
    b.SetPalette(p);
    EXPECT_EQ(b.GetPalette(), p);
    EXPECT_TRUE(b.GetPaletteModified());
    t = DibTable(b);
    EXPECT_EQ(t[1].rgbRed, 4);
    EXPECT_EQ(t[6].rgbRed, 7);  // entries beyond the palette stay
}

TEST(Bitmap, FormatConversionsKeepColours)
{
    // Colours each format represents exactly.
    const struct {
        TPixelFormat format;
        std::vector<COLORREF> colors;
    } cases[] = {
        {pf1bit, {RGB(0, 0, 0), RGB(255, 255, 255)}},
        {pf4bit, {RGB(128, 0, 0), RGB(0, 128, 128), RGB(192, 192, 192), RGB(255, 255, 0)}},
        {pf8bit, {RGB(255, 0, 0), RGB(51, 102, 153), RGB(0, 0, 0), RGB(255, 255, 255), RGB(204, 255, 0)}},
        // Five and six bits per channel, widened by repeating the high bits.
        {pf15bit, {RGB(255, 0, 132), RGB(16, 132, 255)}},
        {pf16bit, {RGB(255, 134, 16), RGB(0, 255, 132)}},
        {pf32bit, {RGB(1, 2, 3), RGB(250, 251, 252)}},
        {pfDevice, {RGB(1, 2, 3), RGB(200, 100, 50)}},
    };
    for (const auto& c : cases) {
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(static_cast<int>(c.colors.size()), 2);
        for (size_t i = 0; i < c.colors.size(); ++i) b.GetCanvas()->SetPixel(int(i), 1, TColor(c.colors[i]));
        b.SetPixelFormat(c.format);
        EXPECT_EQ(b.GetPixelFormat(), c.format);
        for (size_t i = 0; i < c.colors.size(); ++i)
            EXPECT_EQ(b.GetCanvas()->GetPixel(int(i), 1), TColor(c.colors[i])) << "to format " << c.format << " #" << i;
        b.SetPixelFormat(pf24bit);
        for (size_t i = 0; i < c.colors.size(); ++i)
            EXPECT_EQ(b.GetCanvas()->GetPixel(int(i), 1), TColor(c.colors[i])) << "back from " << c.format << " #" << i;
    }
}

TEST(Bitmap, ConversionToPaletteUsesTheBitmapsPalette)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(3, 1);
    TCanvas* c = b.GetCanvas();
    c->SetPixel(0, 0, TColor(RGB(250, 3, 3)));
    c->SetPixel(1, 0, TColor(RGB(0, 0, 120)));
    c->SetPixel(2, 0, TColor(RGB(240, 240, 240)));
    b.SetPalette(MakePalette({RGB(255, 0, 0), RGB(0, 0, 128), RGB(255, 255, 255), RGB(10, 200, 10)}));
    b.SetPixelFormat(pf8bit);
    auto t = DibTable(b);
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(t[0].rgbRed, 255);
    EXPECT_EQ(t[1].rgbBlue, 128);
    EXPECT_EQ(t[3].rgbGreen, 200);
    auto* row = static_cast<uint8_t*>(b.GetScanLine(0));
    EXPECT_EQ(row[0], 0);  // nearest entries
    EXPECT_EQ(row[1], 1);
    EXPECT_EQ(row[2], 2);
}

TEST(Bitmap, MonochromeAgainstColouredOneBitTable)
{
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(2, 1);
    EXPECT_TRUE(b.GetMonochrome());
    b.SetPalette(MakePalette({RGB(255, 0, 0), RGB(0, 0, 255)}));
    EXPECT_FALSE(b.GetMonochrome());
    static_cast<uint8_t*>(b.GetScanLine(0))[0] = 0x40;  // pixel 0 index 0, pixel 1 index 1
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.GetCanvas()->GetPixel(0, 0), clRed);
    EXPECT_EQ(b.GetCanvas()->GetPixel(1, 0), clBlue);

    TBitmap m;
    m.SetPixelFormat(pf24bit);
    m.SetSize(3, 1);
    m.GetCanvas()->SetPixel(0, 0, clBlack);
    m.GetCanvas()->SetPixel(1, 0, TColor(RGB(220, 220, 220)));
    m.SetMonochrome(true);
    EXPECT_TRUE(m.GetMonochrome());
    EXPECT_EQ(m.GetPixelFormat(), pf1bit);
    EXPECT_EQ(m.GetCanvas()->GetPixel(0, 0), clBlack);
    EXPECT_EQ(m.GetCanvas()->GetPixel(1, 0), clWhite);
    m.SetMonochrome(false);
    EXPECT_NE(m.GetPixelFormat(), pf1bit);
    EXPECT_EQ(m.GetCanvas()->GetPixel(1, 0), clWhite);
}

TEST(Bitmap, SizeChangesKeepTheTopLeftContent)
{
    for (TPixelFormat f : {pf4bit, pf24bit, pfDevice}) {
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(3, 3);
        b.GetCanvas()->GetBrush()->SetColor(clRed);
        b.GetCanvas()->FillRect(RECT{0, 0, 3, 3});
        b.SetSize(5, 2);
        EXPECT_EQ(b.GetCanvas()->GetPixel(2, 1), clRed) << f;
        EXPECT_EQ(b.GetCanvas()->GetPixel(3, 0), clWhite) << f;
        b.SetHeight(4);
        EXPECT_EQ(b.GetCanvas()->GetPixel(0, 1), clRed) << f;
        EXPECT_EQ(b.GetCanvas()->GetPixel(0, 2), clWhite) << f;
        EXPECT_EQ(b.GetWidth(), 5);
    }
}

TEST(Bitmap, BmpStreamRoundTripsEveryDepth)
{
    std::mt19937 rng(7);
    for (TPixelFormat f : kDibFormats) {
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(11, 5);
        const size_t used = (11 * BitsOf(f) + 7) / 8;
        for (int y = 0; y < 5; ++y) {
            auto* row = static_cast<uint8_t*>(b.GetScanLine(y));
            for (size_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(rng());
        }
        auto bytes = SaveBytes(b);
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes[0], 'B');
        for (bool topDown : {false, true}) {
            auto input = bytes;
            if (topDown) {
                // The same picture with rows stored top-down.
                int32_t hgt = -5;
                std::memcpy(&input[22], &hgt, 4);
                uint32_t off;
                std::memcpy(&off, &input[10], 4);
                size_t stride = (input.size() - off) / 5;
                for (int y = 0; y < 5; ++y)
                    std::memcpy(&input[off + y * stride], &bytes[off + (4 - y) * stride], stride);
            }
            TBitmap c;
            LoadBytes(c, input);
            ASSERT_EQ(c.GetPixelFormat(), f) << topDown;
            ASSERT_EQ(c.GetWidth(), 11);
            ASSERT_EQ(c.GetHeight(), 5);
            for (int y = 0; y < 5; ++y)
                EXPECT_EQ(std::memcmp(c.GetScanLine(y), b.GetScanLine(y), used), 0) << f << " row " << y;
            if (BitsOf(f) <= 8) {
                auto t1 = DibTable(b), t2 = DibTable(c);
                ASSERT_EQ(t1.size(), t2.size());
                EXPECT_EQ(std::memcmp(t1.data(), t2.data(), t1.size() * sizeof(RGBQUAD)), 0);
            }
        }
    }
    // A DDB is saved through its DIB form.
    TBitmap d;
    d.SetPixelFormat(pfDevice);
    d.SetSize(3, 2);
    d.GetCanvas()->SetPixel(1, 1, TColor(RGB(10, 20, 30)));
    TBitmap e;
    LoadBytes(e, SaveBytes(d));
    EXPECT_EQ(e.GetCanvas()->GetPixel(1, 1), TColor(RGB(10, 20, 30)));
}

// The fixture picture (make_bmp_fixtures.sh), rows top to bottom.
const COLORREF kR = RGB(255, 0, 0), kG = RGB(0, 255, 0), kB = RGB(0, 0, 255), kW = RGB(255, 255, 255),
               kK = RGB(0, 0, 0), kY = RGB(255, 255, 0);
const COLORREF kPicture[4][6] = {
    {kR, kG, kB, kW, kK, kY}, {kK, kR, kG, kB, kW, kK}, {kW, kW, kK, kK, kR, kR}, {kB, kB, kB, kG, kG, kG}};

TEST(Bitmap, DecodesBmpFilesWrittenByImageMagick)
{
    const struct {
        const wchar_t* file;
        TPixelFormat format;
    } files[] = {{L"im_24.bmp", pf24bit},  {L"im_pal.bmp", pf4bit},    {L"im_rle.bmp", pf8bit},
                 {L"im_os2.bmp", pf24bit}, {L"im_os2pal.bmp", pf4bit}};
    for (const auto& f : files) {
        TBitmap b;
        b.LoadFromFile(testsupport::FixtureDir(L"classlib") + L"\\" + f.file);
        ASSERT_EQ(b.GetWidth(), 6) << f.file;
        ASSERT_EQ(b.GetHeight(), 4);
        EXPECT_EQ(b.GetPixelFormat(), f.format) << f.file;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(b.GetCanvas()->GetPixel(x, y), TColor(kPicture[y][x])) << f.file << " " << x << "," << y;
    }
    TBitmap mono;
    mono.LoadFromFile(testsupport::FixtureDir(L"classlib") + L"\\im_1bit.bmp");
    EXPECT_EQ(mono.GetPixelFormat(), pf1bit);
    ASSERT_EQ(mono.GetWidth(), 6);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(mono.GetCanvas()->GetPixel(x, 0), TColor(kPicture[2][x])) << x;
}

TEST(Bitmap, BadBmpDataRaisesInvalidGraphic)
{
    std::ifstream in(std::string(VELMO_FIXTURES) + "/classlib/im_24.bmp", std::ios::binary);
    std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(good.size(), 134u);
    auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        auto v = good;
        std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<ptrdiff_t>(at));
        return v;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        {good.begin(), good.begin() + 2},             // inside the file header
        {good.begin(), good.begin() + 20},            // inside the info header
        {good.begin(), good.begin() + 60},            // pixels missing
        {good.begin(), good.end() - 1},               // one byte short
        patched(0, {'X', 'M'}),                       // not a bitmap
        patched(14, {99, 0, 0, 0}),                   // unknown header size
        patched(18, {0, 0, 0, 0}),                    // width 0
        patched(28, {7, 0}),                          // 7 bits per pixel
        patched(18, {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}),  // huge size, few bytes
        patched(30, {9, 0, 0, 0}),                    // unknown compression
        patched(30, {1, 0, 0, 0}),                    // RLE8 with 24 bits
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        TBitmap b;
        b.SetSize(2, 2);
        try {
            LoadBytes(b, bad[i]);
            ADD_FAILURE() << "case " << i << " loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), L"Bitmap image is not valid") << i;
        }
        EXPECT_EQ(b.GetWidth(), 2) << i;  // the old picture stays
    }
    // Any single damaged byte either loads or fails cleanly.
    for (const char* name : {"im_pal.bmp", "im_rle.bmp", "im_os2pal.bmp"}) {
        std::ifstream f(std::string(VELMO_FIXTURES) + "/classlib/" + name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty()) << name;
        for (size_t i = 0; i < bytes.size(); ++i)
            for (uint8_t v : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0)}) {
                auto damaged = bytes;
                damaged[i] = v;
                TBitmap b;
                try {
                    LoadBytes(b, damaged);
                } catch (const EInvalidGraphic&) {
                } catch (const EOutOfMemory&) {
                }
            }
    }
    // No bytes at all give an empty bitmap.
    TBitmap b;
    b.SetSize(2, 2);
    LoadBytes(b, {});
    EXPECT_TRUE(b.GetEmpty());
    EXPECT_TRUE(SaveBytes(b).empty());
}

TEST(Bitmap, AssignCopiesDeeplyAndNullEmpties)
{
    TBitmap a;
    a.SetPixelFormat(pf8bit);
    a.SetSize(4, 3);
    static_cast<uint8_t*>(a.GetScanLine(0))[0] = 5;
    a.SetTransparent(true);
    TBitmap b;
    b.Assign(&a);
    EXPECT_EQ(b.GetPixelFormat(), pf8bit);
    EXPECT_TRUE(b.GetTransparent());
    EXPECT_NE(b.GetHandle(), a.GetHandle());
    EXPECT_NE(b.GetPalette(), a.GetPalette());
    EXPECT_EQ(static_cast<uint8_t*>(b.GetScanLine(0))[0], 5);
    static_cast<uint8_t*>(b.GetScanLine(0))[0] = 9;
    EXPECT_EQ(static_cast<uint8_t*>(a.GetScanLine(0))[0], 5);
    EXPECT_TRUE(a.Equals(&a));
    b.Assign(nullptr);
    EXPECT_TRUE(b.GetEmpty());
    EXPECT_EQ(b.GetHandle(), nullptr);
}

TEST(Bitmap, TransparentColourMaskAndDrawing)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(3, 2);
    b.GetCanvas()->GetBrush()->SetColor(clLime);
    b.GetCanvas()->FillRect(RECT{0, 0, 3, 2});
    b.GetCanvas()->SetPixel(1, 0, clRed);
    EXPECT_EQ(b.GetTransparentMode(), tmAuto);
    EXPECT_EQ(b.GetTransparentColor(), clLime);  // bottom-left pixel
    HBITMAP mask = b.GetMaskHandle();
    ASSERT_NE(mask, nullptr);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, mask);
    EXPECT_EQ(::GetPixel(dc, 0, 0), RGB(255, 255, 255));  // transparent
    EXPECT_EQ(::GetPixel(dc, 1, 0), RGB(0, 0, 0));
    ::SelectObject(dc, old);
    ::DeleteDC(dc);

    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(3, 2);  // white
    b.SetTransparent(true);
    target.GetCanvas()->Draw(0, 0, &b);
    EXPECT_EQ(target.GetCanvas()->GetPixel(0, 0), clWhite);
    EXPECT_EQ(target.GetCanvas()->GetPixel(1, 0), clRed);
    b.SetTransparentColor(clRed);
    EXPECT_EQ(b.GetTransparentMode(), tmFixed);
    EXPECT_EQ(b.GetTransparentColor(), clRed);
}

TEST(Bitmap, HandlesAreAdoptedReleasedAndSwitched)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = 5;
    bi.bmiHeader.biHeight = -3;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP h = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_TRUE(h);
    static_cast<uint32_t*>(bits)[0] = 0x00FF0000;  // top-left red
    TBitmap b;
    b.SetHandle(h);
    EXPECT_EQ(b.GetWidth(), 5);
    EXPECT_EQ(b.GetHeight(), 3);
    EXPECT_EQ(b.GetPixelFormat(), pf32bit);
    EXPECT_EQ(b.GetScanLine(0), bits);
    EXPECT_EQ(b.GetCanvas()->GetPixel(0, 0), clRed);
    // A copy is always bottom-up.
    TBitmap copy;
    copy.Assign(&b);
    EXPECT_GT(copy.GetScanLine(0), copy.GetScanLine(1)) << "a copy is bottom-up";
    EXPECT_EQ(copy.GetCanvas()->GetPixel(0, 0), clRed);
    EXPECT_EQ(b.ReleaseHandle(), h);
    EXPECT_TRUE(b.GetEmpty());
    EXPECT_TRUE(::DeleteObject(h));  // still alive: the bitmap gave it up

    // DIB -> DDB -> DIB keeps the pixels; ScanLine brings back a DIB.
    TBitmap d;
    d.SetPixelFormat(pf24bit);
    d.SetSize(4, 4);
    d.GetCanvas()->SetPixel(2, 3, TColor(RGB(40, 80, 120)));
    d.SetHandleType(bmDDB);
    EXPECT_EQ(d.GetPixelFormat(), pfDevice);
    EXPECT_EQ(d.GetCanvas()->GetPixel(2, 3), TColor(RGB(40, 80, 120)));
    d.GetScanLine(0);
    EXPECT_EQ(d.GetHandleType(), bmDIB);
    EXPECT_EQ(d.GetCanvas()->GetPixel(2, 3), TColor(RGB(40, 80, 120)));
}

TEST(Bitmap, ClipboardFormatFilesAndResources)
{
    TBitmap a;
    a.SetPixelFormat(pf24bit);
    a.SetSize(4, 2);
    a.GetCanvas()->SetPixel(3, 1, clBlue);
    UINT format = 0;
    HANDLE data = nullptr;
    HPALETTE pal = nullptr;
    a.SaveToClipboardFormat(format, data, pal);
    EXPECT_EQ(format, UINT(CF_BITMAP));
    ASSERT_NE(data, nullptr);
    TBitmap b;
    b.LoadFromClipboardFormat(format, data, pal);
    EXPECT_EQ(b.GetWidth(), 4);
    EXPECT_EQ(b.GetCanvas()->GetPixel(3, 1), clBlue);
    ::DeleteObject(data);
    EXPECT_THROW(b.LoadFromClipboardFormat(CF_DIB, data, nullptr), EInvalidGraphic);

    testsupport::TempDir dir;
    a.SaveToFile(dir.File(L"a.bmp"));
    TBitmap c;
    c.LoadFromFile(dir.File(L"a.bmp"));
    EXPECT_EQ(c.GetCanvas()->GetPixel(3, 1), clBlue);
    EXPECT_THROW(c.LoadFromFile(dir.File(L"missing.bmp")), EFOpenError);

    EXPECT_THROW(c.LoadFromResourceName(::GetModuleHandleW(nullptr), L"NO_SUCH_BITMAP"), EInvalidGraphic);
    // A bitmap resource of the system (the close box glyph) against the
    // system's own loader.
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    HBITMAP sys = static_cast<HBITMAP>(::LoadImageW(user32, MAKEINTRESOURCEW(32754), IMAGE_BITMAP, 0, 0, 0));
    if (sys) {
        TBitmap r;
        r.LoadFromResourceName(user32, L"#32754");
        BITMAP bm{};
        ::GetObjectW(sys, sizeof(bm), &bm);
        ASSERT_EQ(r.GetWidth(), bm.bmWidth);
        ASSERT_EQ(r.GetHeight(), bm.bmHeight);
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, sys);
        for (int y = 0; y < bm.bmHeight; y += 3)
            for (int x = 0; x < bm.bmWidth; x += 3)
                EXPECT_EQ(r.GetCanvas()->GetPixel(x, y), TColor(::GetPixel(dc, x, y))) << x << "," << y;
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        ::DeleteObject(sys);
    } else {
        ADD_FAILURE() << "the system has no close box bitmap resource";
    }
}

}  // namespace
