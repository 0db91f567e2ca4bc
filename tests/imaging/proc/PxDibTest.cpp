#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxWorkBitmap.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxDib.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

enum class Store { Memory, File };

class StoreScope : public testsupport::TValueScope<int64_t> {
public:
    explicit StoreScope(Store s) : TValueScope(PxMemoryThreshold, s == Store::File ? 0 : (int64_t{1} << 40)) {}
};

uint32_t U32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t U16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Owns a global block and keeps it locked while the test reads it.
class Block {
public:
    explicit Block(HGLOBAL h) : h_(h), p_(h ? static_cast<uint8_t*>(GlobalLock(h)) : nullptr) {}
    ~Block()
    {
        if (h_) {
            GlobalUnlock(h_);
            GlobalFree(h_);
        }
    }
    HGLOBAL Handle() const { return h_; }
    const uint8_t* Data() const { return p_; }
    size_t Size() const { return GlobalSize(h_); }

private:
    HGLOBAL h_;
    uint8_t* p_;
};

// Writes distinct bytes into every pixel (px1g: an irregular bit pattern).
void Pattern(TPxBitmap& b)
{
    const int n = PxPixelFormatBits[b.GetPixelFormat()] / 8;
    for (int y = 0; y < b.GetHeight(); ++y) {
        uint8_t* row = b.GetScanline(y);
        std::memset(row, 0, static_cast<size_t>(b.GetRowLen()));
        for (int x = 0; x < b.GetWidth(); ++x) {
            if (n == 0) {
                if ((x * 5 + y * 3) % 4 < 2)
                    row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                for (int i = 0; i < n; ++i)
                    row[x * n + i] = static_cast<uint8_t>(37 * x + 101 * y + 59 * i + 7);
            }
        }
    }
}

bool Bit(const uint8_t* row, int x)
{
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

// The header, table and rows of exported DIBs for every format the export
// writes, rows bottom-up; other formats give the DIB of their 24-bit copy.
TEST(PxDibTest, ExportHeaderTableAndRows)
{
    PxInstallPixelFormatConversion();
    const struct {
        TPxPixelFormat f;
        int w, h, x1, y1, x2, y2;
        int bits, entries, colorsUsed;
    } cases[] = {
        {px24RGB, 3, 2, 0, 0, 0, 0, 24, 0, 0},  {px1g, 11, 3, 0, 0, 0, 0, 1, 2, 0},
        {px1g, 20, 4, 3, 1, 14, 3, 1, 2, 0},    {px8g, 5, 2, 0, 0, 0, 0, 8, 256, 0},
        {px8p, 5, 3, 1, 0, 4, 0, 8, 5, 5},       {px8p, 3, 2, 0, 0, 0, 0, 8, 256, 0},      {px24RGB, 6, 4, 2, 1, 5, 4, 24, 0, 0},
        {pxRGB48, 3, 2, 0, 0, 0, 0, 24, 0, 0},  {px32RGB, 4, 3, 0, 0, 0, 0, 24, 0, 0},
    };
    for (Store store : {Store::Memory, Store::File}) {
        StoreScope scope(store);
        for (const auto& c : cases) {
            SCOPED_TRACE("format " + std::to_string(c.f) + " x1 " + std::to_string(c.x1));
            TPxBitmap img(c.w, c.h, c.f);
            Pattern(img);
            if (c.f == px8p) {
                // A palette shorter than 256 entries: the header names its
                // length and the rows follow it.
                img.SetPaletteLen(c.entries);
                for (int i = 0; i < 5; ++i)
                    img.SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(10 + i), 20});
            }
            Block dib(_CopyBitmaptoDIBEx(&img, c.x1, c.y1, c.x2, c.y2, 72, 300));
            ASSERT_NE(dib.Handle(), nullptr);
            EXPECT_EQ(img.GetPixelFormat(), c.f);
            const int x2 = c.x2 ? c.x2 : c.w, y2 = c.y2 ? c.y2 : c.h;
            const int w = x2 - c.x1, h = y2 - c.y1;
            const int rowLen = (w * c.bits + 31) / 32 * 4;
            const uint8_t* p = dib.Data();
            EXPECT_EQ(dib.Size(), static_cast<size_t>(44 + 4 * c.entries + rowLen * h));
            EXPECT_EQ(U32(p), 40u);
            EXPECT_EQ(static_cast<int>(U32(p + 4)), w);
            EXPECT_EQ(static_cast<int>(U32(p + 8)), h);
            EXPECT_EQ(U16(p + 12), 1);
            EXPECT_EQ(U16(p + 14), c.bits);
            EXPECT_EQ(U32(p + 16), 0u);
            EXPECT_EQ(U32(p + 20), 0u);
            EXPECT_EQ(U32(p + 24), 2834u);   // Trunc(72 * 39.3700787)
            EXPECT_EQ(U32(p + 28), 11811u);  // Trunc(300 * 39.3700787)
            EXPECT_EQ(static_cast<int>(U32(p + 32)), c.colorsUsed);
            const uint8_t* table = p + 40;
            if (c.f == px1g) {
                EXPECT_EQ(U32(table), 0u);
                EXPECT_EQ(U32(table + 4), 0xFFFFFFFFu);
            } else if (c.f == px8g) {
                EXPECT_EQ(U32(table + 4 * 200), 0x00C8C8C8u);
            } else if (c.f == px8p) {
                EXPECT_EQ(U32(table + 4 * 3), 0x00140D03u);
            }
            const uint8_t* rows = table + 4 * c.entries;
            TPxBitmap ref;
            ref.Assign(&img);
            if (c.bits == 24 && c.f != px24RGB)
                ref.SetPixelFormat(px24RGB);
            for (int y = 0; y < h; ++y) {
                const uint8_t* d = rows + rowLen * (h - 1 - y);  // bottom row first
                const uint8_t* s = ref.GetScanline(c.y1 + y);
                for (int x = 0; x < w; ++x) {
                    if (c.bits == 1) {
                        ASSERT_EQ(Bit(d, x), Bit(s, c.x1 + x)) << x << "," << y;
                    } else {
                        ASSERT_EQ(std::memcmp(d + x * c.bits / 8, s + (c.x1 + x) * c.bits / 8, c.bits / 8), 0)
                            << x << "," << y;
                    }
                }
                if (c.bits == 1) {
                    for (int x = w; x < rowLen * 8; ++x)
                        ASSERT_FALSE(Bit(d, x)) << "padding bit " << x;
                }
            }
        }
    }
}

// Nothing is exported from an empty image or a rectangle outside it.
TEST(PxDibTest, ExportRefusesEmptyAndOutsideRectangles)
{
    TPxBitmap empty;
    EXPECT_EQ(_CopyBitmaptoDIBEx(&empty, 0, 0, 0, 0, 96, 96), nullptr);
    EXPECT_EQ(_CopyBitmaptoDIBEx(nullptr, 0, 0, 0, 0, 96, 96), nullptr);
    TPxBitmap img(4, 3, px24RGB);
    const int rects[][4] = {{0, 0, 5, 3}, {-1, 0, 2, 2}, {2, 0, 2, 3}, {0, 2, 4, 1}, {0, 0, 4, 4}};
    for (const auto& r : rects)
        EXPECT_EQ(_CopyBitmaptoDIBEx(&img, r[0], r[1], r[2], r[3], 96, 96), nullptr) << r[0] << r[1] << r[2] << r[3];
}

// Export then import gives the picture back for every exported format
// (1 bit as px1g, everything else as px24RGB), by handle and by pointer.
TEST(PxDibTest, RoundTrip)
{
    PxInstallPixelFormatConversion();
    for (Store store : {Store::Memory, Store::File}) {
        StoreScope scope(store);
        for (TPxPixelFormat f : {px1g, px8g, px8p, px24RGB, px16g, pxRGB48, px32RGB}) {
            for (bool pointer : {false, true}) {
                SCOPED_TRACE("format " + std::to_string(f) + (pointer ? " pointer" : " handle"));
                TPxBitmap img(13, 5, f);
                Pattern(img);
                Block dib(_CopyBitmaptoDIBEx(&img, 0, 0, 0, 0, 96, 96));
                ASSERT_NE(dib.Handle(), nullptr);
                TPxBitmap back;
                const int bits = pointer ? PxCopyDIBToBitmap(const_cast<uint8_t*>(dib.Data()), &back, nullptr, true,
                                                             static_cast<int64_t>(dib.Size()))
                                         : PxCopyDIBToBitmap(dib.Handle(), &back, nullptr, false);
                EXPECT_EQ(bits, f == px1g ? 1 : f == px8g || f == px8p ? 8 : 24);
                ASSERT_EQ(back.GetWidth(), 13);
                ASSERT_EQ(back.GetHeight(), 5);
                ASSERT_EQ(back.GetPixelFormat(), f == px1g ? px1g : px24RGB);
                for (int y = 0; y < 5; ++y)
                    for (int x = 0; x < 13; ++x) {
                        if (f == px1g)
                            ASSERT_EQ(Bit(back.GetScanline(y), x), Bit(img.GetScanline(y), x));
                        else
                            ASSERT_EQ(back.GetPixelRGB(x, y), img.GetPixelAsRGB(x, y)) << x << "," << y;
                    }
            }
        }
    }
}

// A DIB assembled by hand: header, table, rows (bottom-up unless the height
// is negative).
std::vector<uint8_t> MakeDib(int w, int h, int bits, uint32_t compression, const std::vector<uint32_t>& table,
                             uint32_t colorsUsed, const std::vector<uint8_t>& pixels)
{
    std::vector<uint8_t> d(40 + table.size() * 4 + pixels.size());
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(d.data() + at, &v, 4); };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(w));
    put32(8, static_cast<uint32_t>(h));
    d[12] = 1;
    d[14] = static_cast<uint8_t>(bits);
    put32(16, compression);
    put32(32, colorsUsed);
    for (size_t i = 0; i < table.size(); ++i)
        put32(40 + 4 * i, table[i]);
    std::memcpy(d.data() + 40 + table.size() * 4, pixels.data(), pixels.size());
    return d;
}

TEST(PxDibTest, ImportDepths)
{
    const TPxRGB white{255, 255, 255}, black{0, 0, 0};
    // 4 bits, width 5: every pixel of every row; bottom row first.
    {
        std::vector<uint32_t> table(16, 0);
        table[1] = 0x00FF0000;  // red (stored b, g, r, 0)
        table[2] = 0x0000FF00;
        table[15] = 0x00FFFFFF;
        // rows of 3 bytes padded to 4
        const std::vector<uint8_t> px = {0x12, 0xF1, 0x20, 0, 0xFF, 0xFF, 0xF0, 0};
        auto d = MakeDib(5, 2, 4, 0, table, 0, px);
        TPxBitmap b;
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, static_cast<int64_t>(d.size())), 4);
        const TPxRGB red{0, 0, 255}, green{0, 255, 0};
        const TPxRGB bottom[5] = {red, green, white, red, green};
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(b.GetPixelRGB(x, 1), bottom[x]) << x;
            EXPECT_EQ(b.GetPixelRGB(x, 0), white) << x;
        }
    }
    // 8 bits with two colours used: the rows follow the short table; an
    // index beyond it reads as black.
    {
        const std::vector<uint8_t> px = {0, 1, 7, 0};
        auto d = MakeDib(3, 1, 8, 0, {0x00FFFFFF, 0x00102030}, 2, px);
        TPxBitmap b;
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, static_cast<int64_t>(d.size())), 8);
        EXPECT_EQ(b.GetPixelRGB(0, 0), white);
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{0x30, 0x20, 0x10}));
        EXPECT_EQ(b.GetPixelRGB(2, 0), black);
    }
    // 16 bits: 5-5-5 without bit fields (0x7FFF is 248 grey), 5-6-5 with.
    {
        const std::vector<uint8_t> px = {0xFF, 0x7F, 0x00, 0x7C};
        auto d = MakeDib(2, 1, 16, 0, {}, 0, px);
        TPxBitmap b;
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, static_cast<int64_t>(d.size())), 16);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{248, 248, 248}));
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{0, 0, 248}));
    }
    {
        std::vector<uint8_t> px = {0x1F, 0x00, 0xE0, 0x07};  // blue, green
        auto d = MakeDib(2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, 0, px);
        TPxBitmap b;
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, static_cast<int64_t>(d.size())), 16);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{248, 0, 0}));
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{0, 252, 0}));
    }
    // 24 bits top-down (negative height); 32 bits bottom-up.
    {
        const std::vector<uint8_t> px = {1, 2, 3, 0, 4, 5, 6, 0};
        auto d = MakeDib(1, -2, 24, 0, {}, 0, px);
        TPxBitmap b;
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, static_cast<int64_t>(d.size())), 24);
        ASSERT_EQ(b.GetHeight(), 2);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{1, 2, 3}));
        EXPECT_EQ(b.GetPixelRGB(0, 1), (TPxRGB{4, 5, 6}));
        auto d32 = MakeDib(1, 2, 32, 0, {}, 0, px);
        EXPECT_EQ(PxCopyDIBToBitmap(d32.data(), &b, nullptr, true, static_cast<int64_t>(d32.size())), 32);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{4, 5, 6}));
        EXPECT_EQ(b.GetPixelRGB(0, 1), (TPxRGB{1, 2, 3}));
        // Pixels from a separate pointer.
        const std::vector<uint8_t> other = {9, 8, 7, 0, 6, 5, 4, 0};
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, other.data(), true, static_cast<int64_t>(d.size())), 24);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{9, 8, 7}));
    }
}

// Headers that do not fit their data are refused (0, Dest unchanged), by
// pointer with a size and by handle.
TEST(PxDibTest, ImportValidatesHeader)
{
    const std::vector<uint8_t> px(12 * 3, 0x55);
    const auto good = MakeDib(4, 3, 24, 0, {}, 0, px);
    auto with = [&](size_t at, uint32_t v) {
        auto d = good;
        std::memcpy(d.data() + at, &v, 4);
        return d;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> dib;
        int64_t size;
    } cases[] = {
        {"rows cut short", good, static_cast<int64_t>(good.size()) - 1},
        {"header only", good, 39},
        {"header size 12", with(0, 12), -1},
        {"header size beyond block", with(0, 4000), static_cast<int64_t>(good.size())},
        {"width 0", with(4, 0), -1},
        {"negative width", with(4, 0xFFFFFFFF), -1},
        {"height 0", with(8, 0), -1},
        {"height -2^31", with(8, 0x80000000), -1},
        {"huge size", with(4, 0x7FFFFFFF), -1},
        {"colours used 300", with(32, 300), -1},
        {"table beyond block", MakeDib(4, 3, 8, 0, {}, 200, {}), -1},
        {"frame beyond block", MakeDib(4, 2, 16, 0x59565955 /* UYVY */, {}, 0, std::vector<uint8_t>(15)), -1},
    };
    for (const auto& c : cases) {
        auto d = c.dib;
        const int64_t size = c.size >= 0 ? c.size : static_cast<int64_t>(d.size());
        TPxBitmap b(2, 2, px8g);
        EXPECT_EQ(PxCopyDIBToBitmap(d.data(), &b, nullptr, true, size), 0) << c.name;
        EXPECT_EQ(b.GetPixelFormat(), px8g) << c.name;
        // The same bytes in a global block of exactly that size.
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size));
        ASSERT_NE(h, nullptr);
        std::memcpy(GlobalLock(h), d.data(), static_cast<size_t>(size));
        GlobalUnlock(h);
        if (GlobalSize(h) == static_cast<SIZE_T>(size)) {
            EXPECT_EQ(PxCopyDIBToBitmap(h, &b, nullptr, false), 0) << c.name;
        }
        GlobalFree(h);
        TPxDibbitmap dd;
        EXPECT_EQ(PxDIBToDibbitmap(d.data(), &dd, nullptr, true, size), 0) << c.name;
        EXPECT_EQ(dd.GetWidth(), 0) << c.name;
    }
    EXPECT_EQ(PxCopyDIBToBitmap(nullptr, nullptr, nullptr, true), 0);
    // Compressed rows are not read as plain rows: Dest is black.
    auto rle = MakeDib(2, 1, 8, 1, {0x00FFFFFF}, 1, {2, 0, 0, 1});
    TPxBitmap b;
    EXPECT_EQ(PxCopyDIBToBitmap(rle.data(), &b, nullptr, true, static_cast<int64_t>(rle.size())), 8);
    EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{0, 0, 0}));
}

TEST(PxDibTest, YUVToRGB)
{
    const struct {
        int y, u, v;
        TPxRGB rgb;
    } cases[] = {
        {16, 128, 128, {0, 0, 0}},
        {235, 128, 128, {255, 255, 255}},  // 1.164 * 219 = 254.9
        {100, 90, 200, {21, 54, 213}},
        {0, 255, 0, {238, 36, 0}},
        {255, 255, 255, {255, 125, 255}},
    };
    for (const auto& c : cases) {
        TPxRGB out;
        PxYUVToRGB(c.y, c.u, c.v, out);
        EXPECT_EQ(out, c.rgb) << c.y << " " << c.u << " " << c.v;
    }
}

// Every frame reader on an 8 x 4 frame of neutral chroma whose luma differs
// per pixel: the grey of each pixel and the row order (first frame row at
// the top for a positive height, except Y41P and cyuv).
TEST(PxDibTest, YUVFrameReaders)
{
    const int w = 8, h = 4;
    auto luma = [](int x, int r) { return 20 + 50 * r + 5 * x; };
    using Encode = std::function<std::vector<uint8_t>()>;
    auto packed = [&](int group, std::function<void(std::vector<uint8_t>&, const int* y)> put) {
        std::vector<uint8_t> f;
        for (int r = 0; r < h; ++r)
            for (int g = 0; g * group < w - 1; ++g) {
                int y[8];
                for (int i = 0; i < group; ++i)
                    y[i] = luma(g * group + i, r);
                put(f, y);
            }
        return f;
    };
    auto planar = [&](int sub) {
        std::vector<uint8_t> f;
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                f.push_back(static_cast<uint8_t>(luma(x, r)));
        f.insert(f.end(), 2 * (w / sub) * (h / sub), 128);
        return f;
    };
    auto b = [](int v) { return static_cast<uint8_t>(v); };
    const struct {
        const char* code;
        bool topDownForPositive;
        std::function<int(int x, int r)> expectY;
        Encode encode;
    } cases[] = {
        {"UYVY", true, luma, [&] { return packed(2, [&](auto& f, const int* y) { f.insert(f.end(), {128, b(y[0]), 128, b(y[1])}); }); }},
        {"cyuv", false, luma, [&] { return packed(2, [&](auto& f, const int* y) { f.insert(f.end(), {128, b(y[0]), 128, b(y[1])}); }); }},
        {"YUY2", true, luma, [&] { return packed(2, [&](auto& f, const int* y) { f.insert(f.end(), {b(y[0]), 128, b(y[1]), 128}); }); }},
        {"YVYU", true, luma, [&] { return packed(2, [&](auto& f, const int* y) { f.insert(f.end(), {b(y[0]), 128, b(y[1]), 128}); }); }},
        {"IYU1", true, luma, [&] {
             return packed(4, [&](auto& f, const int* y) { f.insert(f.end(), {128, b(y[0]), b(y[1]), 128, b(y[2]), b(y[3])}); });
         }},
        {"IYU2", true, luma, [&] {
             std::vector<uint8_t> f;
             for (int r = 0; r < h; ++r)
                 for (int x = 0; x < w; ++x)
                     f.insert(f.end(), {128, b(luma(x, r)), 128});
             return f;
         }},
        {"Y41P", false, luma, [&] {
             return packed(8, [&](auto& f, const int* y) {
                 f.insert(f.end(), {128, b(y[0]), 128, b(y[1]), 128, b(y[2]), 128, b(y[3]), b(y[4]), b(y[5]), b(y[6]), b(y[7])});
             });
         }},
        {"Y211", true, [&](int x, int r) { return luma(x & ~1, r); },
         [&] { return packed(4, [&](auto& f, const int* y) { f.insert(f.end(), {b(y[0]), 128, b(y[2]), 128}); }); }},
        {"CLJR", true, [&](int x, int r) { return (luma(x, r) >> 3) << 3; }, [&] {
             return packed(4, [&](auto& f, const int* y) {
                 uint32_t word = 32 | 32 << 6;
                 for (int i = 0; i < 4; ++i)
                     word |= static_cast<uint32_t>(y[i] >> 3) << (12 + 5 * i);
                 f.insert(f.end(), {b(word & 255), b(word >> 8 & 255), b(word >> 16 & 255), b(word >> 24)});
             });
         }},
        {"YVU9", true, luma, [&] { return planar(4); }},
        {"YV12", true, luma, [&] { return planar(2); }},
        {"I420", true, luma, [&] { return planar(2); }},
        {"IYUV", true, luma, [&] { return planar(2); }},
    };
    for (const auto& c : cases) {
        const uint32_t code = static_cast<uint32_t>(c.code[0]) | c.code[1] << 8 | c.code[2] << 16 | c.code[3] << 24;
        const auto frame = c.encode();
        EXPECT_EQ(PxYUVFrameSize(code, w, h), static_cast<int64_t>(frame.size())) << c.code;
        for (int sign : {1, -1}) {
            SCOPED_TRACE(std::string(c.code) + (sign > 0 ? " positive height" : " negative height"));
            auto dib = MakeDib(w, sign * h, 16, code, {}, 0, frame);
            TPxBitmap out;
            ASSERT_EQ(PxCopyDIBToBitmap(dib.data(), &out, nullptr, true, static_cast<int64_t>(dib.size())), 16);
            ASSERT_EQ(out.GetPixelFormat(), px24RGB);
            ASSERT_EQ(out.GetHeight(), h);
            const bool topDown = (sign > 0) == c.topDownForPositive;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int r = topDown ? y : h - 1 - y;
                    const int grey = std::max(0, std::min(255, static_cast<int>(std::nearbyint((c.expectY(x, r) - 16) * 1.164))));
                    ASSERT_EQ(out.GetPixelRGB(x, y), (TPxRGB{b(grey), b(grey), b(grey)})) << x << "," << y;
                }
        }
    }
}

// Planar chroma: one chroma row per two frame rows, in frame order, for
// top-down and bottom-up frames alike.
TEST(PxDibTest, PlanarChromaRows)
{
    const int w = 4, h = 4;
    std::vector<uint8_t> frame(w * h, 100);
    // U plane then V plane (I420), 2 x 2 each: chroma row 1 is reddish.
    frame.insert(frame.end(), {128, 128, 128, 128});
    frame.insert(frame.end(), {128, 128, 200, 200});
    TPxRGB grey, red;
    PxYUVToRGB(100, 128, 128, grey);
    PxYUVToRGB(100, 128, 200, red);
    for (int sign : {1, -1}) {
        auto dib = MakeDib(w, sign * h, 12, 0x30323449 /* I420 */, {}, 0, frame);
        TPxBitmap out;
        ASSERT_EQ(PxCopyDIBToBitmap(dib.data(), &out, nullptr, true, static_cast<int64_t>(dib.size())), 12);
        for (int r = 0; r < h; ++r) {
            const int y = sign > 0 ? r : h - 1 - r;  // frame row r
            EXPECT_EQ(out.GetPixelRGB(1, y), r < 2 ? grey : red) << "frame row " << r << " sign " << sign;
        }
    }
}

// Drawing onto a DIB section through the DIB drawing functions.
TEST(PxDibTest, DrawToDibbitmap)
{
    const std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    auto d = MakeDib(2, 2, 24, 0, {}, 0, px);
    TPxDibbitmap dd;
    ASSERT_EQ(PxDIBToDibbitmap(d.data(), &dd, nullptr, true, static_cast<int64_t>(d.size())), 24);
    ASSERT_EQ(dd.GetWidth(), 2);
    ASSERT_EQ(dd.GetBitCount(), 24);
    EXPECT_EQ(std::memcmp(dd.GetScanline(1), px.data(), 6), 0);  // first DIB row is the bottom row
    EXPECT_EQ(std::memcmp(dd.GetScanline(0), px.data() + 8, 6), 0);

    auto mono = MakeDib(8, 1, 1, 0, {0, 0x00FFFFFF}, 0, {0xA5, 0, 0, 0});
    TPxDibbitmap m;
    ASSERT_EQ(PxDIBToDibbitmap(mono.data(), &m, nullptr, true, static_cast<int64_t>(mono.size())), 1);
    EXPECT_EQ(m.GetBitCount(), 1);
    EXPECT_EQ(m.GetScanline(0)[0], 0xA5);

    // A bit depth without pixels leaves the target unchanged.
    auto two = MakeDib(2, 2, 2, 0, {}, 0, {0, 0, 0, 0, 0, 0, 0, 0});
    TPxDibbitmap none;
    EXPECT_EQ(PxDIBToDibbitmap(two.data(), &none, nullptr, true, static_cast<int64_t>(two.size())), 2);
    EXPECT_EQ(none.GetWidth(), 0);
}

}  // namespace

// The two-pixel packed readers take luma and chroma from their own byte
// positions: a 2 x 1 frame of distinct lumas and far-apart U and V.
TEST(PxDibTest, PackedChromaPositions)
{
    const int y0 = 70, y1 = 150, u = 60, v = 200;
    const struct {
        const char* name;
        void (*read)(const uint8_t*, TPxBitmap*, bool);
        std::vector<uint8_t> frame;
    } cases[] = {
        {"UYVY", PxYUVRowsUYVY, {u, y0, v, y1}},
        {"YUY2", PxYUVRowsYUY2, {y0, u, y1, v}},
        {"YVYU", PxYUVRowsYVYU, {y0, v, y1, u}},
    };
    TPxRGB want[2];
    PxYUVToRGB(y0, u, v, want[0]);
    PxYUVToRGB(y1, u, v, want[1]);
    TPxRGB swapped;
    PxYUVToRGB(y0, v, u, swapped);
    ASSERT_NE(swapped.r, want[0].r);  // U and V taken the other way round would show
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPxBitmap out;
        ASSERT_TRUE(out.Allocate(2, 1, px24RGB));
        c.read(c.frame.data(), &out, true);
        const auto* got = reinterpret_cast<const TPxRGB*>(out.GetScanline(0));
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(got[i].r, want[i].r) << i;
            EXPECT_EQ(got[i].g, want[i].g) << i;
            EXPECT_EQ(got[i].b, want[i].b) << i;
        }
    }
}
