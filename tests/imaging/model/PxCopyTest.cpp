// Copying between images: rectangles in every pixel format, region moves,
// canvas resizing, whole-image Assign/AssignImage in every storage, copies
// from class-library bitmaps, and copies into storage that cannot be had.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxMask.h"
#include "tests/imaging/model/PxCopyTestSupport.h"

using namespace imaging;
using namespace copytest;

namespace {

struct RectCase {
    int sx, sy, tx, ty, w, h;      // arguments
    int esx, esy, etx, ety, ew, eh;  // the rectangle actually copied
};

// Source 13 x 9, target 12 x 6.
const RectCase kRectCases[] = {
    {3, 1, 5, 2, 6, 3, 3, 1, 5, 2, 6, 3},        // inside both, unaligned bit offsets
    {8, 0, 0, 1, 5, 9, 8, 0, 0, 1, 5, 5},        // byte-aligned bits, height cut by the target
    {1, 2, -5, -5, 10, 7, 6, 7, 0, 0, 5, 2},     // negative target: source start moves, size shrinks
    {10, 6, 9, 4, 10, 10, 10, 6, 9, 4, 3, 2},    // reaching past both images
};

TEST(PxCopyRectTo, EveryFormatPixelByPixel)
{
    for (Store store : {Store::Memory, Store::File}) {
        for (TPxPixelFormat f : kFormats) {
            for (const RectCase& c : kRectCases) {
                SCOPED_TRACE(std::string(StoreName(store)) + " format " + std::to_string(f) + " case sx " +
                             std::to_string(c.sx) + " tx " + std::to_string(c.tx));
                auto src = Make(store, 13, 9, f);
                auto dst = Make(store, 12, 6, f);
                ASSERT_EQ(src->GetLocation(), LocationOf(store));
                FillPattern(*src, 1);
                FillPattern(*dst, 2);
                const auto before = Pixels(*dst);
                const auto source = Pixels(*src);
                CopyRectTo(*src, dst.get(), c.sx, c.sy, c.tx, c.ty, c.w, c.h);
                for (int y = 0; y < 6; ++y) {
                    for (int x = 0; x < 12; ++x) {
                        const bool inside = x >= c.etx && x < c.etx + c.ew && y >= c.ety && y < c.ety + c.eh;
                        const auto& want = inside ? source[static_cast<size_t>((y - c.ety + c.esy) * 13 +
                                                                                (x - c.etx + c.esx))]
                                                  : before[static_cast<size_t>(y * 12 + x)];
                        ASSERT_EQ(PixelBytes(*dst, x, y), want) << "pixel " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(PxCopyRectTo, FormatPairs)
{
    // px1g into px24RGB: set bits white, clear bits black.
    auto bits = Make(Store::Memory, 10, 1, px1g);
    bits->GetScanline(0)[0] = 0xA5;  // 1010 0101
    bits->GetScanline(0)[1] = 0x80;  // pixel 8 set
    auto rgb = Make(Store::Memory, 6, 1, px24RGB);
    rgb->Fill(0x00123456);
    CopyRectTo(*bits, rgb.get(), 3, 0, 1, 0, 6, 1);  // pixels 3..7 land at 1..5
    const uint8_t want[6] = {0x12, 0, 0, 255, 0, 255};  // pixel 0 untouched (blue 0x12 of the TColor)
    for (int x = 0; x < 6; ++x) {
        const TPxRGB p = rgb->GetPixelRGB(x, 0);
        EXPECT_EQ(p.b, want[x]) << x;
        if (x > 0) {
            EXPECT_EQ(p.g, want[x]) << x;
            EXPECT_EQ(p.r, want[x]) << x;
        }
    }

    // Pairs of different formats copy nothing.
    const std::pair<TPxPixelFormat, TPxPixelFormat> none[] = {{px8g, px24RGB}, {px24RGB, px32RGB}, {px8g, px8p}};
    for (const auto& [from, to] : none) {
        auto s = Make(Store::Memory, 4, 4, from);
        auto t = Make(Store::Memory, 4, 4, to);
        FillPattern(*s, 1);
        FillPattern(*t, 2);
        const auto before = Pixels(*t);
        CopyRectTo(*s, t.get(), 0, 0, 0, 0, 4, 4);
        EXPECT_EQ(Pixels(*t), before) << from << " -> " << to;
    }
}

TEST(PxCopyRectTo, SameImageOverlappingInFile)
{
    auto b = Make(Store::File, 5, 3, px24RGB);
    ASSERT_EQ(b->GetLocation(), pxFile);
    FillPattern(*b, 4);
    const auto before = Pixels(*b);
    CopyRectTo(*b, b.get(), 0, 0, 1, 1, 4, 2);  // down and right by one
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool moved = x >= 1 && y >= 1;
            EXPECT_EQ(PixelBytes(*b, x, y), before[static_cast<size_t>(moved ? (y - 1) * 5 + x - 1 : y * 5 + x)])
                << x << "," << y;
        }
}

// v(x, y) = 10 y + x + 1 in every channel (and the fourth byte of px32RGB).
void PutGrid(TPxBitmap& b)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x) {
            const uint8_t v = static_cast<uint8_t>(10 * y + x + 1);
            uint8_t* p = b.GetScanline(y);
            switch (b.GetPixelFormat()) {
            case px8g: p[x] = v; break;
            case px24RGB: std::memset(p + 3 * x, v, 3); break;
            case px32RGB: std::memset(p + 4 * x, v, 4); break;
            default: break;
            }
        }
}

TEST(PxCopyMoveRegion, MovesAndFillsIncludingPx32RGB)
{
    // 4 x 3, the 2 x 2 block at the top-left moves to (2, 1); fill 0.
    const int want[3][4] = {{0, 0, 3, 4}, {0, 0, 1, 2}, {21, 22, 11, 12}};
    const int fourth[3][4] = {{1, 2, 3, 4}, {11, 12, 1, 2}, {21, 22, 11, 12}};
    for (Store store : {Store::Memory, Store::File}) {
        for (TPxPixelFormat f : {px8g, px24RGB, px32RGB}) {
            SCOPED_TRACE(std::string(StoreName(store)) + " format " + std::to_string(f));
            auto b = Make(store, 4, 3, f);
            PutGrid(*b);
            MoveRegion(*b, 0, 0, 1, 1, 2, 1, 0);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 4; ++x) {
                    const auto p = PixelBytes(*b, x, y);
                    for (size_t i = 0; i < p.size(); ++i)
                        EXPECT_EQ(p[i], i == 3 ? fourth[y][x] : want[y][x]) << x << "," << y << " byte " << i;
                }
        }
    }
}

struct CanvasCase {
    int w, h, nw, nh, horizontal, vertical;
    int dx, dy;  // new (x, y) shows old (x - dx, y - dy), else the fill
};

const CanvasCase kCanvasCases[] = {
    {4, 4, 6, 4, 1, 0, 1, 0},    // wider, centred: old columns at 1..4
    {4, 4, 6, 4, 2, 0, 2, 0},    // wider, right: at 2..5
    {4, 4, 6, 4, 0, 0, 0, 0},    // wider, left
    {6, 6, 4, 4, 1, 1, -1, -1},  // smaller, centred: the centre 4 x 4 stays
    {6, 4, 4, 4, 2, 0, -2, 0},   // narrower, right: the last 4 columns
    {4, 4, 4, 7, 0, 1, 0, 1},    // taller, centred
    {4, 4, 4, 7, 0, 2, 0, 3},    // taller, bottom
    {4, 6, 4, 4, 0, 2, 0, -2},   // shorter, bottom
};

TEST(PxCopyResizeCanvas, AlignmentsWithAlpha)
{
    const uint8_t fillGrey = 200;
    const int32_t fillColour = 0x00FF8040;  // red 0x40, green 0x80, blue 0xFF
    const uint8_t alphaFill = 77;
    for (TPxPixelFormat f : {px8g, px24RGB, px32RGB}) {
        for (const CanvasCase& c : kCanvasCases) {
            SCOPED_TRACE("format " + std::to_string(f) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                         " -> " + std::to_string(c.nw) + "x" + std::to_string(c.nh) + " align " +
                         std::to_string(c.horizontal) + "," + std::to_string(c.vertical));
            auto b = Make(Store::Memory, c.w, c.h, f);
            PutGrid(*b);
            TPxBitmap* alpha = b->GetAlphaChannel();
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    alpha->GetScanline(y)[x] = static_cast<uint8_t>(100 + 10 * y + x);
            ResizeCanvas(*b, c.nw, c.nh, f == px8g ? fillGrey : fillColour, alphaFill, c.horizontal, c.vertical);
            ASSERT_EQ(b->GetWidth(), c.nw);
            ASSERT_EQ(b->GetHeight(), c.nh);
            ASSERT_TRUE(b->HasAlphaChannel());
            for (int y = 0; y < c.nh; ++y)
                for (int x = 0; x < c.nw; ++x) {
                    const int ox = x - c.dx;
                    const int oy = y - c.dy;
                    const bool old = ox >= 0 && ox < c.w && oy >= 0 && oy < c.h;
                    const TPxRGB p = b->GetPixelAsRGB(x, y);
                    if (old) {
                        const uint8_t v = static_cast<uint8_t>(10 * oy + ox + 1);
                        EXPECT_EQ(p, (TPxRGB{v, v, v})) << x << "," << y;
                        EXPECT_EQ(b->GetAlpha(x, y), 100 + 10 * oy + ox) << x << "," << y;
                    } else {
                        EXPECT_EQ(p, f == px8g ? (TPxRGB{fillGrey, fillGrey, fillGrey}) : (TPxRGB{0xFF, 0x80, 0x40}))
                            << x << "," << y;
                        EXPECT_EQ(b->GetAlpha(x, y), alphaFill) << x << "," << y;
                    }
                }
        }
    }
}

// The source for Assign: a pattern, a palette of distinct colours for px8p
// and an alpha channel with a pattern.
std::unique_ptr<TPxBitmap> AssignSource(Store store, TPxPixelFormat f)
{
    auto src = Make(store, 7, 5, f);
    FillPattern(*src, 3);
    for (int i = 0; i < src->GetPaletteLen(); ++i)
        src->SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3)});
    TPxBitmap* alpha = src->GetAlphaChannel();
    FillPattern(*alpha, 5);
    alpha->FullAlpha = false;
    src->BiLevelMethod = 0;
    return src;
}

bool SystemBitmapHolds(TPxPixelFormat f)
{
    return f == px1g || f == px8p || f == px8g || f == px24RGB || f == px32RGB;
}

TEST(PxCopyAssign, EveryFormatIntoEveryStorage)
{
    ASSERT_TRUE(PxBitmapServices.Assign != nullptr);
    for (Store from : {Store::Memory, Store::File}) {
        for (Store into : {Store::Memory, Store::File, Store::VclBitmap}) {
            for (TPxPixelFormat f : kFormats) {
                SCOPED_TRACE(std::string(StoreName(from)) + " -> " + StoreName(into) + " format " +
                             std::to_string(f));
                auto src = AssignSource(from, f);
                StoreScope scope(into);
                auto dst = Make(into, 3, 3, px24RGB);  // something else first, with alpha
                dst->GetAlphaChannel()->Fill(9);
                dst->Assign(src.get());
                ASSERT_EQ(dst->GetPixelFormat(), f);
                ASSERT_EQ(dst->GetWidth(), 7);
                ASSERT_EQ(dst->GetHeight(), 5);
                // A system bitmap keeps the formats it holds exactly; the
                // others leave it so that no pixel changes.
                if (into == Store::VclBitmap) {
                    EXPECT_EQ(dst->GetLocation() == pxTBitmap, SystemBitmapHolds(f));
                }
                EXPECT_EQ(Pixels(*dst), Pixels(*src));
                ASSERT_TRUE(dst->HasAlphaChannel());
                EXPECT_EQ(Pixels(*dst->GetAlphaChannel()), Pixels(*src->GetAlphaChannel()));
                EXPECT_FALSE(dst->GetAlphaChannel()->FullAlpha);
                EXPECT_EQ(dst->GetPaletteLen(), src->GetPaletteLen());
                for (int i = 0; i < src->GetPaletteLen(); ++i)
                    ASSERT_EQ(dst->GetPaletteEntry(i), src->GetPaletteEntry(i)) << i;
                EXPECT_EQ(dst->BiLevelMethod, 0);
            }
        }
    }
}

TEST(PxCopyAssign, RowAlignmentAlphaRemovalAndSelf)
{
    auto src = Make(Store::Memory, 5, 2, px8g);
    src->SetRowAlignment(8);
    FillPattern(*src, 1);
    for (Store into : {Store::Memory, Store::File}) {
        StoreScope scope(into);
        auto dst = Make(into, 2, 2, px8g);
        dst->GetAlphaChannel();
        dst->Assign(src.get());
        EXPECT_EQ(dst->GetRowAlignment(), 8) << StoreName(into);
        EXPECT_EQ(dst->GetRowLen(), 5) << StoreName(into);
        EXPECT_FALSE(dst->HasAlphaChannel()) << StoreName(into);  // the source has none
        EXPECT_EQ(Pixels(*dst), Pixels(*src));
    }
    // An empty source leaves a system-bitmap image as it is.
    auto held = Make(Store::VclBitmap, 2, 2, px24RGB);
    TPxBitmap empty;
    held->Assign(&empty);
    EXPECT_EQ(held->GetWidth(), 2);
    EXPECT_EQ(held->GetLocation(), pxTBitmap);
    // Self and the image's own alpha channel.
    const auto before = Pixels(*src);
    src->Assign(src.get());
    EXPECT_EQ(Pixels(*src), before);
    TPxBitmap* alpha = src->GetAlphaChannel();
    FillPattern(*alpha, 6);
    const auto alphaPixels = Pixels(*alpha);
    src->Assign(alpha);
    EXPECT_EQ(Pixels(*src), alphaPixels);
    EXPECT_FALSE(src->HasAlphaChannel());
}

TEST(PxCopyAssignImage, KeepsOwnAlphaAndAlignment)
{
    auto src = Make(Store::Memory, 20, 20, px8p);
    FillPattern(*src, 2);
    src->SetPaletteEntry(5, TPxRGB{1, 2, 3});
    src->GetAlphaChannel()->Fill(0);
    for (Store into : {Store::Memory, Store::File, Store::VclBitmap}) {
        SCOPED_TRACE(StoreName(into));
        StoreScope scope(into);
        auto dst = Make(into, 10, 10, px24RGB);
        TPxBitmap* alpha = dst->GetAlphaChannel();
        alpha->Fill(33);
        dst->FullAlpha = true;
        ASSERT_TRUE(AssignImage(*dst, src.get()));
        EXPECT_EQ(dst->GetWidth(), 20);
        EXPECT_EQ(dst->GetPixelFormat(), px8p);
        EXPECT_EQ(Pixels(*dst), Pixels(*src));
        EXPECT_EQ(dst->GetPaletteEntry(5), (TPxRGB{1, 2, 3}));
        EXPECT_FALSE(dst->FullAlpha);
        ASSERT_TRUE(dst->HasAlphaChannel());
        EXPECT_EQ(dst->GetAlphaChannel()->GetWidth(), 10);
        EXPECT_EQ(dst->GetAlphaChannel()->GetPixelGray8(9, 9), 33);
    }
    TPxBitmap empty;
    auto dst = Make(Store::Memory, 3, 3, px8g);
    EXPECT_TRUE(AssignImage(*dst, &empty));
    EXPECT_EQ(dst->GetWidth(), 3);  // an empty source changes nothing
}

TEST(PxCopyAssign, StorageThatCannotBeHadIsNeverWritten)
{
    auto src = AssignSource(Store::Memory, px24RGB);
    auto bits = std::make_unique<classlib::TBitmap>();
    bits->SetPixelFormat(classlib::pf24bit);
    bits->SetSize(4, 4);
    NoStorageScope scope;
    auto dst = std::make_unique<TPxBitmap>();
    dst->Assign(src.get());
    EXPECT_TRUE(dst->IsEmpty());
    EXPECT_FALSE(dst->HasAlphaChannel());
    EXPECT_FALSE(AssignImage(*dst, src.get()));
    EXPECT_TRUE(dst->IsEmpty());
    EXPECT_FALSE(CopyFromVclBitmap(*dst, bits.get()));
    EXPECT_TRUE(dst->IsEmpty());
    // A system-bitmap image asked for a format it cannot hold.
    auto floats = AssignSource(Store::Memory, px32f);
    auto held = std::make_unique<TPxBitmap>();
    held->SetLocation(pxTBitmap);
    held->Assign(floats.get());
    EXPECT_TRUE(held->IsEmpty());
    // Copies into the empty images write nothing and do not fail.
    CopyRectTo(*src, dst.get(), 0, 0, 0, 0, 5, 5);
    MoveRegion(*src, 0, 0, 2, 2, 1, 1, 0);
}

// ---- class-library bitmaps

// A palette of Count entries: entry i = (red 10 i, green 255 - i, blue 3 i).
HPALETTE MakePalette(int count)
{
    std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(count));
    auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(count);
    for (int i = 0; i < count; ++i)
        lp->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(10 * i), static_cast<BYTE>(255 - i), static_cast<BYTE>(3 * i), 0};
    return CreatePalette(lp);
}

TPxRGB PaletteColour(int i)
{
    return TPxRGB{static_cast<uint8_t>(3 * i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(10 * i)};
}

std::unique_ptr<classlib::TBitmap> VclBitmap(classlib::TPixelFormat pf, int w, int h)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(pf);
    b->SetSize(w, h);
    return b;
}

void PutWord(classlib::TBitmap& b, int x, int y, uint16_t v)
{
    std::memcpy(static_cast<uint8_t*>(b.GetScanLine(y)) + 2 * x, &v, 2);
}

TEST(PxCopyFromVclBitmap, EveryPixelFormatIntoMemory)
{
    for (Store into : {Store::Memory, Store::File}) {
        SCOPED_TRACE(StoreName(into));
        StoreScope scope(into);
        {   // 1 bit, black and white
            auto v = VclBitmap(classlib::pf1bit, 10, 2);
            ASSERT_TRUE(v->GetMonochrome());
            static_cast<uint8_t*>(v->GetScanLine(0))[0] = 0xC3;
            static_cast<uint8_t*>(v->GetScanLine(1))[1] = 0x40;
            auto d = MakeEmpty(into);
            d->Assign(v.get());
            ASSERT_EQ(d->GetPixelFormat(), px1g);
            EXPECT_EQ(d->GetScanline(0)[0], 0xC3);
            EXPECT_EQ(d->GetScanline(1)[1] & 0xC0, 0x40);
        }
        {   // 1 bit with a colour table: indices 0 / 1 and two entries
            auto v = VclBitmap(classlib::pf1bit, 10, 1);
            v->SetPalette(MakePalette(2));
            ASSERT_EQ(v->GetPixelFormat(), classlib::pf1bit);
            ASSERT_FALSE(v->GetMonochrome());
            static_cast<uint8_t*>(v->GetScanLine(0))[0] = 0xA0;  // pixels 0 and 2
            auto d = MakeEmpty(into);
            ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
            ASSERT_EQ(d->GetPixelFormat(), px8p);
            const uint8_t want[4] = {1, 0, 1, 0};
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(d->GetPixelGray8(x, 0), want[x]) << x;
            EXPECT_EQ(d->GetPaletteEntry(0), PaletteColour(0));
            EXPECT_EQ(d->GetPaletteEntry(1), PaletteColour(1));
        }
        {   // 4 bits: the high nibble is the left pixel
            auto v = VclBitmap(classlib::pf4bit, 3, 1);
            v->SetPalette(MakePalette(16));
            uint8_t* row = static_cast<uint8_t*>(v->GetScanLine(0));
            row[0] = 0x5C;
            row[1] = 0xF0;
            auto d = MakeEmpty(into);
            ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
            ASSERT_EQ(d->GetPixelFormat(), px8p);
            EXPECT_EQ(d->GetPixelGray8(0, 0), 5);
            EXPECT_EQ(d->GetPixelGray8(1, 0), 12);
            EXPECT_EQ(d->GetPixelGray8(2, 0), 15);
            EXPECT_EQ(d->GetPaletteEntry(12), PaletteColour(12));
        }
        {   // 8 bits: rows and 256 entries
            auto v = VclBitmap(classlib::pf8bit, 3, 2);
            v->SetPalette(MakePalette(256));
            static_cast<uint8_t*>(v->GetScanLine(1))[2] = 200;
            auto d = MakeEmpty(into);
            ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
            ASSERT_EQ(d->GetPixelFormat(), px8p);
            EXPECT_EQ(d->GetPixelGray8(2, 1), 200);
            EXPECT_EQ(d->GetPaletteEntry(200), PaletteColour(200));
        }
        {   // 15 and 16 bits: 5/6-bit channels times 8 (or 4)
            struct WordCase {
                classlib::TPixelFormat pf;
                uint16_t v;
                TPxRGB want;
            };
            const WordCase words[] = {
                {classlib::pf16bit, 0xFFFF, TPxRGB{248, 252, 248}}, {classlib::pf16bit, 0xF800, TPxRGB{0, 0, 248}},
                {classlib::pf16bit, 0x07E0, TPxRGB{0, 252, 0}},     {classlib::pf16bit, 0x001F, TPxRGB{248, 0, 0}},
                {classlib::pf15bit, 0x7FFF, TPxRGB{248, 248, 248}}, {classlib::pf15bit, 0x7C00, TPxRGB{0, 0, 248}},
                {classlib::pf15bit, 0x03E0, TPxRGB{0, 248, 0}},     {classlib::pf15bit, 0x0421, TPxRGB{8, 8, 8}},
            };
            for (const WordCase& c : words) {
                auto v = VclBitmap(c.pf, 2, 1);
                ASSERT_EQ(v->GetPixelFormat(), c.pf);
                PutWord(*v, 1, 0, c.v);
                auto d = MakeEmpty(into);
                ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
                ASSERT_EQ(d->GetPixelFormat(), px24RGB);
                EXPECT_EQ(d->GetPixelRGB(1, 0), c.want) << std::hex << c.v;
            }
        }
        {   // 24 and 32 bits: rows copied
            for (auto pf : {classlib::pf24bit, classlib::pf32bit}) {
                auto v = VclBitmap(pf, 3, 2);
                const int n = pf == classlib::pf24bit ? 9 : 12;
                for (int y = 0; y < 2; ++y)
                    for (int i = 0; i < n; ++i)
                        static_cast<uint8_t*>(v->GetScanLine(y))[i] = PatternByte(7, y, i);
                auto d = MakeEmpty(into);
                ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
                ASSERT_EQ(d->GetPixelFormat(), pf == classlib::pf24bit ? px24RGB : px32RGB);
                for (int y = 0; y < 2; ++y)
                    for (int i = 0; i < n; ++i)
                        ASSERT_EQ(d->GetScanline(y)[i], PatternByte(7, y, i)) << y << "," << i;
            }
        }
    }
}

TEST(PxCopyFromVclBitmap, IntoSystemBitmapLeavesSourceAlone)
{
    // 8 bits with a palette: the image's own bitmap turns 24-bit, the
    // source keeps its format and pixels.
    auto v = VclBitmap(classlib::pf8bit, 3, 2);
    v->SetPalette(MakePalette(256));
    static_cast<uint8_t*>(v->GetScanLine(0))[1] = 40;
    auto d = MakeEmpty(Store::VclBitmap);
    ASSERT_TRUE(CopyFromVclBitmap(*d, v.get()));
    EXPECT_EQ(v->GetPixelFormat(), classlib::pf8bit);
    EXPECT_EQ(static_cast<uint8_t*>(v->GetScanLine(0))[1], 40);
    EXPECT_EQ(d->GetLocation(), pxTBitmap);
    ASSERT_EQ(d->GetPixelFormat(), px24RGB);
    ASSERT_EQ(d->GetWidth(), 3);
    EXPECT_EQ(d->GetPixelRGB(1, 0), PaletteColour(40));

    // 1, 24 and 32 bits are taken as they are.
    for (auto pf : {classlib::pf1bit, classlib::pf24bit, classlib::pf32bit}) {
        auto s = VclBitmap(pf, 9, 2);
        static_cast<uint8_t*>(s->GetScanLine(1))[0] = 0x81;
        auto t = MakeEmpty(Store::VclBitmap);
        t->Assign(s.get());
        EXPECT_EQ(t->GetPixelFormat(), pf == classlib::pf1bit ? px1g : pf == classlib::pf24bit ? px24RGB : px32RGB);
        EXPECT_EQ(t->GetScanline(1)[0], 0x81);
    }

    // An empty source empties the image.
    classlib::TBitmap empty;
    EXPECT_FALSE(CopyFromVclBitmap(*d, &empty));
    EXPECT_TRUE(d->IsEmpty());
}

TEST(PxCopyMergeAlpha, KeepsTheLargerValue)
{
    auto a = Make(Store::Memory, 4, 4, px24RGB);
    auto b = Make(Store::File, 4, 4, px24RGB);
    a->GetAlphaChannel()->Fill(100);
    a->SetAlpha(1, 1, 10);
    b->GetAlphaChannel()->Fill(50);
    b->SetAlpha(2, 2, 200);
    MergeAlphaRectTo(*a, b.get(), 0, 0, 1, 1, 4, 4);  // a's (0..2, 0..2) onto b's (1..3, 1..3)
    EXPECT_EQ(b->GetAlpha(0, 0), 50);
    EXPECT_EQ(b->GetAlpha(1, 1), 100);
    EXPECT_EQ(b->GetAlpha(2, 2), 200);  // larger stays
    EXPECT_EQ(b->GetAlpha(3, 3), 100);
    auto c = Make(Store::Memory, 4, 4, px24RGB);
    c->GetAlphaChannel()->Fill(0);
    MergeAlphaRectTo(*a, c.get(), 0, 0, 0, 0, 4, 4);
    EXPECT_EQ(c->GetAlpha(1, 1), 10);
    EXPECT_FALSE(c->GetAlphaChannel()->FullAlpha);
}

TEST(PxCopyFromMask, OneAndEightBitMasks)
{
    for (Store into : {Store::Memory, Store::File}) {
        SCOPED_TRACE(StoreName(into));
        StoreScope scope(into);
        TPxMask bits;
        bits.AllocateBits(11, 3, 1);
        bits.SetPixel(0, 0, 1);
        bits.SetPixel(9, 2, 1);
        bits.SetPixel(10, 1, 1);
        auto b = MakeEmpty(into);
        ASSERT_TRUE(CopyFromMask(*b, &bits));
        ASSERT_EQ(b->GetPixelFormat(), px1g);
        ASSERT_EQ(b->GetWidth(), 11);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x) {
                const bool set = (x == 0 && y == 0) || (x == 9 && y == 2) || (x == 10 && y == 1);
                EXPECT_EQ(PixelBytes(*b, x, y)[0], set ? 1 : 0) << x << "," << y;
            }
        EXPECT_FALSE(b->FullAlpha);

        TPxMask grey;
        grey.AllocateBits(4, 2, 8);
        grey.Fill(255);
        grey.SetPixel(3, 1, 17);
        ASSERT_TRUE(CopyFromMask(*b, &grey));
        ASSERT_EQ(b->GetPixelFormat(), px8g);
        EXPECT_EQ(b->GetPixelGray8(0, 0), 255);
        EXPECT_EQ(b->GetPixelGray8(3, 1), 17);
        grey.SetPixel(3, 1, 255);
        grey.CheckFull();
        ASSERT_TRUE(CopyFromMask(*b, &grey));
        EXPECT_TRUE(b->FullAlpha);

        // No mask: everything selected.
        b->FillRect(0, 0, 1, 0, 3);
        ASSERT_TRUE(CopyFromMask(*b, nullptr));
        EXPECT_EQ(b->GetPixelGray8(0, 0), 255);
        EXPECT_TRUE(b->FullAlpha);
    }
}

}  // namespace
