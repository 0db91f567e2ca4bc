// Image buffer: storage locations, rows, sizes, pixels, alpha and filling,
// exercised for every pixel format in every kind of storage.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "imaging/model/PxBitmap.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

enum class Store { Memory, Segments, File, VclBitmap };

const char* StoreName(Store s)
{
    switch (s) {
    case Store::Memory: return "memory";
    case Store::Segments: return "segments";
    case Store::File: return "file";
    default: return "TBitmap";
    }
}

// Forces the storage that new images get: the memory threshold decides
// between memory and file, the single-block seam forces segments.
class StoreScope {
public:
    explicit StoreScope(Store s)
        : threshold_(PxMemoryThreshold, s == Store::File ? 0 : (int64_t{1} << 40)),
          failBlock_(detail::PxFailSingleBlock, s == Store::Segments), segments_(PxAllowSegments, true)
    {
    }

private:
    testsupport::TValueScope<int64_t> threshold_;
    testsupport::TValueScope<bool> failBlock_;
    testsupport::TValueScope<bool> segments_;
};

std::unique_ptr<TPxBitmap> Make(Store s, int w, int h, TPxPixelFormat f, bool* ok = nullptr)
{
    StoreScope scope(s);
    auto b = std::make_unique<TPxBitmap>();
    if (s == Store::VclBitmap)
        b->SetLocation(pxTBitmap);
    const bool allocated = b->Allocate(w, h, f);
    if (ok)
        *ok = allocated;
    return b;
}

const Store kStores[] = {Store::Memory, Store::Segments, Store::File, Store::VclBitmap};
const TPxPixelFormat kFormats[] = {px1g, px8p, px8g, px16g, px24RGB, px32f, pxCMYK, pxRGB48, pxCIELab, px32RGB};

bool VclAllows(TPxPixelFormat f)
{
    return f != px32f && f != pxCMYK && f != pxRGB48 && f != pxCIELab;
}

// The format a system bitmap holds for a requested format.
TPxPixelFormat Held(Store s, TPxPixelFormat f)
{
    return s == Store::VclBitmap && f == px16g ? px8g : f;
}

// Bytes of one stored row of width 5 (rows padded to 32 bits), by format.
int RowLen5(TPxPixelFormat f)
{
    switch (f) {
    case px1g: return 4;
    case px8p: case px8g: return 8;
    case px16g: return 12;
    case px24RGB: case pxCIELab: return 16;
    case px32f: case pxCMYK: case px32RGB: return 20;
    case pxRGB48: return 32;
    default: return 0;
    }
}

TPxLocation LocationOf(Store s)
{
    switch (s) {
    case Store::File: return pxFile;
    case Store::VclBitmap: return pxTBitmap;
    default: return pxMemory;
    }
}

// Writes a distinct value at pixel (x, y) through the format's setter.
void PutSample(TPxBitmap& b, int x, int y, int seed)
{
    const uint8_t v = static_cast<uint8_t>(seed * 37 + x * 11 + y * 5 + 1);
    switch (b.GetPixelFormat()) {
    case px1g: {
        uint8_t* row = b.GetScanline(y);
        if (seed % 2) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        else row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        break;
    }
    case px8p: case px8g: b.SetPixelGray8(x, y, v); break;
    case px16g: b.SetPixelGray16(x, y, static_cast<uint16_t>(v * 257 + 1)); break;
    case px24RGB: b.SetPixelRGB(x, y, TPxRGB{v, static_cast<uint8_t>(v + 1), static_cast<uint8_t>(v + 2)}); break;
    case px32f: b.SetPixelFloat(x, y, v / 256.0f); break;
    case pxCMYK: b.SetPixelCMYK(x, y, TPxCMYK{v, static_cast<uint8_t>(v + 1), static_cast<uint8_t>(v + 2), static_cast<uint8_t>(v + 3)}); break;
    case pxRGB48: b.SetPixelRGB48(x, y, TPxRGB48{static_cast<uint16_t>(v * 3), static_cast<uint16_t>(v * 5), static_cast<uint16_t>(v * 7)}); break;
    case pxCIELab: {
        uint8_t* p = b.GetScanline(y) + 3 * x;
        p[0] = v; p[1] = static_cast<uint8_t>(v + 1); p[2] = static_cast<uint8_t>(v + 2);
        break;
    }
    case px32RGB: {
        uint8_t* p = b.GetScanline(y) + 4 * x;
        p[0] = v; p[1] = static_cast<uint8_t>(v + 1); p[2] = static_cast<uint8_t>(v + 2); p[3] = static_cast<uint8_t>(v + 3);
        break;
    }
    default: break;
    }
}

// The bytes of pixel (x, y) (for px1g the bit as 0/1).
std::vector<uint8_t> PixelBytes(TPxBitmap& b, int x, int y)
{
    const int bits = b.GetBitCount();
    const uint8_t* row = b.GetScanline(y);
    if (bits == 1)
        return {static_cast<uint8_t>((row[x / 8] >> (7 - x % 8)) & 1)};
    const int n = bits / 8;
    return std::vector<uint8_t>(row + x * n, row + x * n + n);
}

// Writes a pattern over the whole image and returns it as read back.
std::vector<std::vector<uint8_t>> WritePattern(TPxBitmap& b, int seed)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            PutSample(b, x, y, seed + x * 3 + y);
    std::vector<std::vector<uint8_t>> all;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            all.push_back(PixelBytes(b, x, y));
    return all;
}

std::vector<std::vector<uint8_t>> ReadPattern(TPxBitmap& b)
{
    std::vector<std::vector<uint8_t>> all;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            all.push_back(PixelBytes(b, x, y));
    return all;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

class TempFolderScope : public testsupport::TValueScope<std::wstring> {
public:
    explicit TempFolderScope(const std::wstring& folder) : TValueScope(PxTempFolder, folder) {}
};

}  // namespace

// Allocation, bit count, row length, location and row order for every format
// in every storage.
TEST(PxBitmapStorage, AllocateEveryFormatInEveryStorage)
{
    for (Store s : kStores) {
        for (TPxPixelFormat f : kFormats) {
            SCOPED_TRACE(std::string(StoreName(s)) + " format " + std::to_string(f));
            bool ok = false;
            auto b = Make(s, 5, 8, f, &ok);
            if (s == Store::VclBitmap && !VclAllows(f)) {
                EXPECT_FALSE(ok);
                EXPECT_EQ(b->GetWidth(), 0);
                EXPECT_EQ(b->GetHeight(), 0);
                EXPECT_TRUE(b->IsEmpty());
                continue;
            }
            ASSERT_TRUE(ok);
            const TPxPixelFormat held = Held(s, f);
            EXPECT_EQ(b->GetPixelFormat(), held);
            EXPECT_EQ(b->GetWidth(), 5);
            EXPECT_EQ(b->GetHeight(), 8);
            EXPECT_EQ(b->GetRowLen(), RowLen5(held));
            EXPECT_EQ(b->GetLocation(), LocationOf(s));
            EXPECT_EQ(b->GetPaletteLen(), held == px8p ? 256 : 0);
            EXPECT_FALSE(b->FullAlpha);
            const int rowLen = b->GetRowLen();
            if (s == Store::Memory) {
                // One block, rows bottom-up, the block start 64-byte aligned.
                uint8_t* r0 = b->GetScanline(0);
                uint8_t* r1 = b->GetScanline(1);
                uint8_t* last = b->GetScanline(7);
                EXPECT_EQ(r0 - r1, rowLen);
                EXPECT_EQ(r0 - last, 7 * rowLen);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(last) % 64, 0u);
            } else if (s == Store::Segments) {
                // 8 rows in 4 segments of 2 rows, top-down inside a segment.
                EXPECT_EQ(b->GetScanline(1) - b->GetScanline(0), rowLen);
                EXPECT_EQ(b->GetScanline(3) - b->GetScanline(2), rowLen);
            } else if (s == Store::VclBitmap) {
                classlib::TBitmap* vcl = b->GetVclBitmap();
                ASSERT_NE(vcl, nullptr);
                for (int y = 0; y < 8; ++y)
                    EXPECT_EQ(b->GetScanline(y), vcl->GetScanLine(y));
            }
        }
    }
}

TEST(PxBitmapStorage, InvalidSizesFailAndLeaveAnEmptyImage)
{
    TPxBitmap b(4, 4, px24RGB);
    ASSERT_FALSE(b.IsEmpty());
    EXPECT_FALSE(b.Allocate(0, 10, px24RGB));
    EXPECT_EQ(b.GetWidth(), 0);
    EXPECT_EQ(b.GetHeight(), 0);
    EXPECT_FALSE(b.Allocate(10, -1, px8g));
    EXPECT_FALSE(b.Allocate(10, 10, pxNoPixels));
    EXPECT_TRUE(b.IsEmpty());
    // Rows that cannot be addressed in 32 bits are refused, not wrapped.
    EXPECT_FALSE(b.Allocate(2000000000, 1, pxRGB48));
    EXPECT_TRUE(b.IsEmpty());
}

TEST(PxBitmapStorage, SameAllocateKeepsPixels)
{
    for (Store s : {Store::Memory, Store::File}) {
        SCOPED_TRACE(StoreName(s));
        auto b = Make(s, 6, 3, px8g);
        b->SetPixelGray8(2, 1, 77);
        ASSERT_TRUE(b->Allocate(6, 3, px8g));
        EXPECT_EQ(b->GetPixelGray8(2, 1), 77);
    }
}

// With KeepStorage an allocation that fits in the block of an earlier one
// (in any format) takes that block, cleared of the earlier image; a larger
// one gets fresh memory and works as usual.
TEST(PxBitmapStorage, KeepStorageReusesTheBlock)
{
    StoreScope scope(Store::Memory);
    TPxBitmap b;
    b.KeepStorage = true;
    ASSERT_TRUE(b.Allocate(1000, 800, px24RGB));
    const uint8_t* start = std::min(b.GetScanline(0), b.GetScanline(799));
    for (int round = 0; round < 2; ++round) {
        for (int y = 0; y < 800; ++y) std::memset(b.GetScanline(y), 0xAB, static_cast<size_t>(b.GetRowLen()));
        ASSERT_TRUE(b.Allocate(900, 300, px8g));
        EXPECT_EQ(std::min(b.GetScanline(0), b.GetScanline(299)), start);
        EXPECT_EQ(b.GetScanline(150)[450], 0);
        ASSERT_TRUE(b.Allocate(1000, 800, px24RGB));
        EXPECT_EQ(std::min(b.GetScanline(0), b.GetScanline(799)), start);
    }
    ASSERT_TRUE(b.Allocate(1200, 1000, px24RGB));
    b.SetPixelRGB(1199, 999, TPxRGB{1, 2, 3});
    EXPECT_EQ(b.GetPixelRGB(1199, 999).g, 2);
}

// The size rule: a size equal to the threshold keeps the file asked for, one
// byte less goes to memory; the file is named IMG-XXXXXXXX.tmp in the
// temporary folder and is gone once the image is freed.
TEST(PxBitmapStorage, ThresholdBoundaryAndTemporaryFile)
{
    testsupport::TempDir dir;
    const std::wstring folder = dir.Path() + L"\\";
    TempFolderScope tempFolder(folder);
    const int64_t saved = PxMemoryThreshold;
    // 10 x 10 px8g: 12-byte rows, 120 bytes.
    PxMemoryThreshold = 121;
    {
        TPxBitmap under(10, 10, px8g);
        EXPECT_EQ(under.GetLocation(), pxMemory);
        EXPECT_TRUE(FilesIn(folder).empty());
    }
    PxMemoryThreshold = 120;
    {
        TPxBitmap at(10, 10, px8g);
        EXPECT_EQ(at.GetLocation(), pxFile);
        const auto files = FilesIn(folder);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(std::regex_match(files[0], std::wregex(L"IMG-[0-9A-F]{8}\\.tmp"))) << files[0].c_str();
        // A memory image that grows above the threshold moves to a file.
        TPxBitmap grown(5, 5, px8g);
        EXPECT_EQ(grown.GetLocation(), pxMemory);
        grown.SetHeight(15);  // 120 bytes: the location asked for stays
        EXPECT_EQ(grown.GetLocation(), pxMemory);
        grown.SetHeight(16);
        EXPECT_EQ(grown.GetLocation(), pxFile);
        EXPECT_EQ(FilesIn(folder).size(), 2u);
    }
    EXPECT_TRUE(FilesIn(folder).empty());
    PxMemoryThreshold = saved;
}

// Without a single block: segments; without segments: the file fallback;
// without the fallback: failure.
TEST(PxBitmapStorage, MemoryFallbackChain)
{
    StoreScope scope(Store::Segments);
    {
        TPxBitmap b(7, 9, px24RGB);
        EXPECT_EQ(b.GetLocation(), pxMemory);
        EXPECT_NE(b.GetScanline(0), nullptr);
    }
    PxAllowSegments = false;
    const bool fallback = PxAllowFileFallback;
    {
        TPxBitmap b(7, 9, px24RGB);
        EXPECT_EQ(b.GetLocation(), pxFile);
    }
    PxAllowFileFallback = false;
    {
        TPxBitmap b;
        b.SetLocation(pxMemory);
        EXPECT_FALSE(b.Allocate(7, 9, px24RGB));
        EXPECT_TRUE(b.IsEmpty());
    }
    PxAllowFileFallback = fallback;
}

// Pixels written through the setters read back, in every format and storage
// (file rows are written back when the next row is mapped).
TEST(PxBitmapPixels, SetGetRoundTrip)
{
    for (Store s : kStores) {
        for (TPxPixelFormat f : kFormats) {
            if (s == Store::VclBitmap && !VclAllows(f))
                continue;
            SCOPED_TRACE(std::string(StoreName(s)) + " format " + std::to_string(f));
            auto b = Make(s, 5, 8, f);
            ASSERT_FALSE(b->IsEmpty());
            const auto written = WritePattern(*b, 3);
            EXPECT_EQ(ReadPattern(*b), written);
        }
    }
}

TEST(PxBitmapPixels, TypedAccessorsAndPixelAsRGB)
{
    TPxBitmap g16(2, 2, px16g);
    g16.SetPixelGray16(1, 1, 0xABCD);
    EXPECT_EQ(g16.GetPixelGray16(1, 1), 0xABCD);
    EXPECT_EQ(g16.GetScanline(1)[2], 0xCD);  // little-endian word
    EXPECT_EQ(g16.GetPixelAsRGB(1, 1), (TPxRGB{0xAB, 0xAB, 0xAB}));

    TPxBitmap rgb(2, 1, px24RGB);
    rgb.SetPixelRGB(1, 0, TPxRGB{1, 2, 3});
    EXPECT_EQ(rgb.GetScanline(0)[3], 1);  // blue first
    EXPECT_EQ(rgb.GetPixelRGBAddr(1, 0)->r, 3);
    EXPECT_EQ(rgb.GetPixelAsRGB(1, 0), (TPxRGB{1, 2, 3}));

    TPxBitmap bw(10, 1, px1g);
    bw.Fill(0);
    bw.GetScanline(0)[1] = 0x40;  // pixel 9
    EXPECT_EQ(bw.GetPixelAsRGB(9, 0), (TPxRGB{255, 255, 255}));
    EXPECT_EQ(bw.GetPixelAsRGB(8, 0), (TPxRGB{0, 0, 0}));

    TPxBitmap pal(1, 1, px8p);
    pal.SetPaletteEntry(7, TPxRGB{10, 20, 30});
    pal.SetPixelGray8(0, 0, 7);
    EXPECT_EQ(pal.GetPixelAsRGB(0, 0), (TPxRGB{10, 20, 30}));
    pal.SetPaletteEntry(256, TPxRGB{1, 1, 1});  // ignored
    EXPECT_EQ(pal.GetPaletteEntry(300), (TPxRGB{0, 0, 0}));

    TPxBitmap f(1, 1, px32f);
    f.SetPixelFloat(0, 0, 0.5f);
    EXPECT_EQ(f.GetPixelAsRGB(0, 0), (TPxRGB{127, 127, 127}));  // Trunc(0.5 * 255)

    TPxBitmap w(1, 1, pxRGB48);
    w.SetPixelRGB48(0, 0, TPxRGB48{0x1234, 0x5678, 0x9ABC});
    EXPECT_EQ(w.GetScanline(0)[0], 0x34);  // red word first
    EXPECT_EQ(w.GetPixelAsRGB(0, 0), (TPxRGB{0x9A, 0x56, 0x12}));

    TPxBitmap q(1, 1, px32RGB);
    std::memcpy(q.GetScanline(0), "\x05\x06\x07\x08", 4);
    EXPECT_EQ(q.GetPixelAsRGB(0, 0), (TPxRGB{5, 6, 7}));
}

// Setters clear the full-alpha flag only for non-white values.
TEST(PxBitmapPixels, SettersKeepFullAlphaOnlyForWhite)
{
    TPxBitmap g(2, 2, px8g);
    g.Fill(255);
    EXPECT_TRUE(g.FullAlpha);
    g.SetPixelGray8(0, 0, 255);
    EXPECT_TRUE(g.FullAlpha);
    g.SetPixelGray8(0, 0, 254);
    EXPECT_FALSE(g.FullAlpha);

    TPxBitmap f(1, 1, px32f);
    f.Fill(1.0);
    EXPECT_TRUE(f.FullAlpha);
    f.SetPixelFloat(0, 0, 1.5f);
    EXPECT_TRUE(f.FullAlpha);
    f.SetPixelFloat(0, 0, 0.99f);
    EXPECT_FALSE(f.FullAlpha);

    TPxBitmap w(1, 1, pxRGB48);
    w.Fill(0xFFFFFF);
    EXPECT_TRUE(w.FullAlpha);
    w.SetPixelRGB48(0, 0, TPxRGB48{65535, 65535, 65534});
    EXPECT_FALSE(w.FullAlpha);
}

// Fill and FillRect per format: known stored values and the full-alpha flag.
TEST(PxBitmapFill, FillAndFillRectEveryFormatAndStorage)
{
    struct Case {
        TPxPixelFormat format;
        double value;
        std::vector<uint8_t> pixel;  // stored bytes of a filled pixel
        bool fullAlpha;
    };
    const float f075 = 0.75f;
    std::vector<uint8_t> f075Bytes(4);
    std::memcpy(f075Bytes.data(), &f075, 4);
    const float one = 1.0f;
    std::vector<uint8_t> oneBytes(4);
    std::memcpy(oneBytes.data(), &one, 4);
    const Case cases[] = {
        {px1g, 1, {1}, true},
        {px1g, 0, {0}, false},
        {px8g, 255, {255}, true},
        {px8p, 300.7, {44}, false},  // low byte of Trunc
        {px16g, 65535, {255, 255}, true},
        {px16g, 0x10203, {0x03, 0x02}, false},
        {px24RGB, 0x0000FF, {0, 0, 255}, false},  // TColor red -> B, G, R bytes
        {px24RGB, 0xFFFFFF, {255, 255, 255}, true},
        {px32f, 0.75, f075Bytes, false},
        {px32f, 1.0, oneBytes, true},
        {pxRGB48, 0x00FF01, {0x01, 0x01, 0xFF, 0xFF, 0, 0}, false},  // each channel x 257
    };
    for (Store s : kStores) {
        for (const Case& c : cases) {
            if (s == Store::VclBitmap && (!VclAllows(c.format) || Held(s, c.format) != c.format))
                continue;
            SCOPED_TRACE(std::string(StoreName(s)) + " format " + std::to_string(c.format) + " value " +
                         std::to_string(c.value));
            auto b = Make(s, 9, 4, c.format);
            ASSERT_FALSE(b->IsEmpty());
            b->Fill(c.value);
            EXPECT_EQ(b->FullAlpha, c.fullAlpha);
            EXPECT_EQ(b->Access, pxAccessReadWrite);  // restored after the fill
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x)
                    ASSERT_EQ(PixelBytes(*b, x, y), c.pixel) << x << "," << y;

            // FillRect with the rectangle partly outside: the clipped part
            // changes, the rest and the flag stay.
            b->Fill(0);
            const bool flag = b->FullAlpha;
            b->FillRect(-3, 2, 2, 10, c.value);
            EXPECT_EQ(b->FullAlpha, flag);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x) {
                    const bool inside = x <= 2 && y >= 2;
                    const std::vector<uint8_t> want = inside ? c.pixel : std::vector<uint8_t>(c.pixel.size(), 0);
                    ASSERT_EQ(PixelBytes(*b, x, y), want) << x << "," << y;
                }
            // An inverted rectangle fills nothing.
            b->FillRect(5, 3, 4, 3, 255);
            ASSERT_EQ(PixelBytes(*b, 5, 3), std::vector<uint8_t>(c.pixel.size(), 0));
        }
    }
}

// px32RGB fills blue, green, red and keeps the fourth byte of each pixel, in
// file storage too (its rows are read before they are overwritten).
TEST(PxBitmapFill, Fill32RGBKeepsFourthByte)
{
    for (Store s : kStores) {
        SCOPED_TRACE(StoreName(s));
        auto b = Make(s, 3, 5, px32RGB);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                b->GetScanline(y)[4 * x + 3] = static_cast<uint8_t>(10 * y + x);
        b->Fill(0x123456);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(PixelBytes(*b, x, y), (std::vector<uint8_t>{0x12, 0x34, 0x56, static_cast<uint8_t>(10 * y + x)}));
        EXPECT_FALSE(b->FullAlpha);
        b->FillRect(1, 1, 1, 1, 0xFFFFFF);
        EXPECT_EQ(PixelBytes(*b, 1, 1), (std::vector<uint8_t>{255, 255, 255, 11}));
    }
}

// FillRect of px32f stores the value itself, fraction included.
TEST(PxBitmapFill, FillRectFloatKeepsFraction)
{
    TPxBitmap b(2, 2, px32f);
    b.Fill(0);
    b.FillRect(0, 0, 1, 1, 0.75);
    EXPECT_EQ(b.GetPixelFloat(1, 1), 0.75f);
}

TEST(PxBitmapFill, CheckFullAlphaIgnoresAlignmentBytes)
{
    for (Store s : kStores) {
        SCOPED_TRACE(StoreName(s));
        auto b = Make(s, 5, 3, px8g);  // 8-byte rows, 3 alignment bytes
        b->Fill(255);
        for (int y = 0; y < 3; ++y)
            b->GetScanline(y)[6] = 0;
        b->FullAlpha = false;
        b->CheckFullAlpha();
        EXPECT_TRUE(b->FullAlpha);
        b->GetScanline(2)[4] = 254;
        b->CheckFullAlpha();
        EXPECT_FALSE(b->FullAlpha);
        EXPECT_EQ(b->Access, pxAccessReadWrite);
    }
}

TEST(PxBitmapFill, IsAllZeroAndIsGrayScale)
{
    TPxBitmap g(5, 2, px8g);
    g.Fill(0);
    g.GetScanline(1)[7] = 9;  // alignment byte
    EXPECT_TRUE(g.IsAllZero());
    g.SetPixelGray8(4, 1, 1);
    EXPECT_FALSE(g.IsAllZero());
    EXPECT_TRUE(g.IsGrayScale());

    TPxBitmap rgb(3, 2, px24RGB);
    rgb.Fill(0x808080);
    EXPECT_TRUE(rgb.IsGrayScale());
    rgb.SetPixelRGB(2, 1, TPxRGB{1, 1, 2});
    EXPECT_FALSE(rgb.IsGrayScale());

    TPxBitmap pal(2, 2, px8p);
    for (int i = 0; i < 256; ++i)
        pal.SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
    EXPECT_TRUE(pal.IsGrayScale());
    pal.SetPaletteEntry(200, TPxRGB{0, 0, 1});
    EXPECT_FALSE(pal.IsGrayScale());  // the palette decides, not the pixels

    TPxBitmap w(1, 1, pxRGB48);
    w.SetPixelRGB48(0, 0, TPxRGB48{7, 7, 8});
    EXPECT_FALSE(w.IsGrayScale());
}

// SetWidth(0) and SetHeight(0) empty the image in every storage.
TEST(PxBitmapSize, ZeroSidesEmptyTheImage)
{
    for (Store s : kStores) {
        for (TPxPixelFormat f : kFormats) {
            if (s == Store::VclBitmap && !VclAllows(f))
                continue;
            SCOPED_TRACE(std::string(StoreName(s)) + " format " + std::to_string(f));
            auto b = Make(s, 6, 4, f);
            b->GetAlphaChannel();
            b->SetWidth(0);
            b->SetHeight(0);
            EXPECT_EQ(b->GetWidth(), 0);
            EXPECT_EQ(b->GetHeight(), 0);
            EXPECT_TRUE(b->IsEmpty());
        }
    }
}

// Size changes keep the content at the top-left, the alpha channel follows.
TEST(PxBitmapSize, SetWidthAndHeightKeepContent)
{
    for (Store s : kStores) {
        for (TPxPixelFormat f : {px8g, px24RGB, px1g, pxRGB48, px8p}) {
            if (s == Store::VclBitmap && !VclAllows(f))
                continue;
            SCOPED_TRACE(std::string(StoreName(s)) + " format " + std::to_string(f));
            auto b = Make(s, 1, 4, f);
            const auto before = WritePattern(*b, 1);
            if (f == px8p)
                b->SetPaletteEntry(3, TPxRGB{9, 8, 7});
            b->SetAlpha(0, 2, 99);
            b->SetWidth(3);
            ASSERT_EQ(b->GetWidth(), 3);
            ASSERT_EQ(b->GetHeight(), 4);
            EXPECT_EQ(b->GetPixelFormat(), f);
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(PixelBytes(*b, 0, y), before[static_cast<size_t>(y)]);
            ASSERT_TRUE(b->HasAlphaChannel());
            EXPECT_EQ(b->GetAlphaChannel()->GetWidth(), 3);
            EXPECT_EQ(b->GetAlpha(0, 2), 99);
            EXPECT_EQ(b->GetAlpha(0, 1), 255);
            if (f == px8p) {
                EXPECT_EQ(b->GetPaletteEntry(3), (TPxRGB{9, 8, 7}));
            }
            b->SetHeight(2);
            EXPECT_EQ(b->GetHeight(), 2);
            EXPECT_EQ(b->GetAlphaChannel()->GetHeight(), 2);
            for (int y = 0; y < 2; ++y)
                EXPECT_EQ(PixelBytes(*b, 0, y), before[static_cast<size_t>(y)]);
        }
    }
}

// A size set on an empty image is kept until the other side makes an image.
TEST(PxBitmapSize, SidesOfAnEmptyImage)
{
    TPxBitmap b(2, 2, px8g);
    b.FreeImage(true);
    b.SetWidth(5);
    EXPECT_EQ(b.GetWidth(), 5);
    EXPECT_TRUE(b.IsEmpty());
    b.SetHeight(3);
    EXPECT_FALSE(b.IsEmpty());
    EXPECT_EQ(b.GetRowLen(), 8);
}

TEST(PxBitmapSize, RowAlignment)
{
    TPxBitmap b(5, 3, px24RGB);
    const auto before = WritePattern(b, 2);
    b.SetRowAlignment(8);
    EXPECT_EQ(b.GetRowAlignment(), 8);
    EXPECT_EQ(b.GetRowLen(), 15);
    EXPECT_EQ(ReadPattern(b), before);
    b.SetRowAlignment(64);
    EXPECT_EQ(b.GetRowLen(), 16);
    EXPECT_EQ(ReadPattern(b), before);
    EXPECT_THROW(b.SetRowAlignment(0), classlib::EInvalidArgument);
    // A file image keeps its alignment.
    auto f = Make(Store::File, 5, 3, px24RGB);
    f->SetRowAlignment(8);
    EXPECT_EQ(f->GetRowLen(), 16);
}

// SetLocation moves pixels, palette and alpha between every pair of storages.
TEST(PxBitmapLocation, SetLocationKeepsPixels)
{
    for (Store from : kStores) {
        for (Store to : kStores) {
            for (TPxPixelFormat f : {px1g, px8p, px24RGB, px32RGB, px16g}) {
                if (from == to || (from == Store::VclBitmap && f == px16g))
                    continue;
                SCOPED_TRACE(std::string(StoreName(from)) + " -> " + StoreName(to) + " format " + std::to_string(f));
                auto b = Make(from, 6, 5, f);
                std::vector<std::vector<uint8_t>> before;
                if (f == px16g) {
                    for (int y = 0; y < 5; ++y)
                        for (int x = 0; x < 6; ++x)
                            b->SetPixelGray16(x, y, static_cast<uint16_t>((x * 40 + y) << 8 | 0x7F));
                } else {
                    before = WritePattern(*b, 5);
                }
                if (f == px8p)
                    b->SetPaletteEntry(200, TPxRGB{1, 2, 3});
                b->SetAlpha(3, 4, 17);
                StoreScope scope(to);
                // The image's own threshold decides between memory and file.
                b->FileThreshold = to == Store::File ? 0 : (int64_t{1} << 40);
                b->SetLocation(LocationOf(to));
                EXPECT_EQ(b->GetLocation(), LocationOf(to));
                EXPECT_EQ(b->GetWidth(), 6);
                EXPECT_EQ(b->GetHeight(), 5);
                if (f == px16g && to == Store::VclBitmap) {
                    // A system bitmap holds 8-bit grey: the high bytes.
                    EXPECT_EQ(b->GetPixelFormat(), px8g);
                    for (int y = 0; y < 5; ++y)
                        for (int x = 0; x < 6; ++x)
                            ASSERT_EQ(b->GetPixelGray8(x, y), x * 40 + y);
                } else if (f == px16g) {
                    for (int y = 0; y < 5; ++y)
                        for (int x = 0; x < 6; ++x)
                            ASSERT_EQ(b->GetPixelGray16(x, y), (x * 40 + y) << 8 | 0x7F);
                } else {
                    EXPECT_EQ(b->GetPixelFormat(), f);
                    EXPECT_EQ(ReadPattern(*b), before);
                }
                if (f == px8p) {
                    EXPECT_EQ(b->GetPaletteEntry(200), (TPxRGB{1, 2, 3}));
                }
                EXPECT_EQ(b->GetAlpha(3, 4), 17);
                EXPECT_FALSE(b->FullAlpha);
            }
        }
    }
}

// A format that a system bitmap cannot hold stays where it was.
TEST(PxBitmapLocation, UnsupportedSystemBitmapFormatKeepsImage)
{
    TPxBitmap b(3, 3, px32f);
    b.SetPixelFloat(1, 1, 0.25f);
    b.SetLocation(pxTBitmap);
    EXPECT_EQ(b.GetLocation(), pxMemory);
    EXPECT_EQ(b.GetPixelFloat(1, 1), 0.25f);
}

TEST(PxBitmapLocation, MoveStorageToHandsEverythingOver)
{
    for (Store s : kStores) {
        SCOPED_TRACE(StoreName(s));
        auto b = Make(s, 4, 3, px8p);
        const auto before = WritePattern(*b, 7);
        b->SetPaletteEntry(5, TPxRGB{5, 6, 7});
        b->SetAlpha(1, 1, 3);
        TPxBitmap target(2, 2, px24RGB);
        b->MoveStorageTo(&target);
        EXPECT_TRUE(b->IsEmpty());
        EXPECT_EQ(b->GetPixelFormat(), pxNoPixels);
        EXPECT_FALSE(b->HasAlphaChannel());
        EXPECT_EQ(b->GetPaletteLen(), 0);
        EXPECT_EQ(target.GetLocation(), LocationOf(s));
        EXPECT_EQ(target.GetPixelFormat(), px8p);
        EXPECT_EQ(ReadPattern(target), before);
        EXPECT_EQ(target.GetPaletteEntry(5), (TPxRGB{5, 6, 7}));
        EXPECT_EQ(target.GetAlpha(1, 1), 3);
        // The emptied image takes new storage again.
        EXPECT_TRUE(b->Allocate(2, 2, px8g));
    }
}

TEST(PxBitmapRows, MapRowKeepsSeveralFileRowsValid)
{
    auto b = Make(Store::File, 4, 6, px8g);
    uint8_t* r1 = b->MapRow(1);
    uint8_t* r4 = b->MapRow(4);
    std::memset(r1, 11, 4);
    std::memset(r4, 44, 4);
    b->GetScanline(0)[0] = 1;  // does not disturb the mapped rows
    r1[3] = 12;
    b->UnmapRow(1);
    b->UnmapAllRows();
    EXPECT_EQ(b->GetPixelGray8(3, 1), 12);
    EXPECT_EQ(b->GetPixelGray8(2, 4), 44);
    EXPECT_EQ(b->GetPixelGray8(0, 0), 1);
}

// Rows read under read-only access are not written back.
TEST(PxBitmapRows, ReadOnlyAccessDropsChanges)
{
    auto b = Make(Store::File, 4, 2, px8g);
    b->Fill(5);
    {
        TPxAccessScope readOnly(*b, pxAccessRead);
        b->GetScanline(0)[0] = 99;
        b->GetScanline(1);
    }
    EXPECT_EQ(b->GetPixelGray8(0, 0), 5);
}

TEST(PxBitmapPalette, CopyPaletteTo)
{
    TPxBitmap a(2, 2, px8p);
    a.SetPaletteEntry(0, TPxRGB{1, 2, 3});
    a.PaletteCapacity = 16;
    TPxBitmap b(2, 2, px24RGB);
    a.CopyPaletteTo(&b);
    EXPECT_EQ(b.GetPaletteLen(), 256);
    EXPECT_EQ(b.GetPaletteEntry(0), (TPxRGB{1, 2, 3}));
    EXPECT_EQ(b.PaletteCapacity, 16);
    TPxBitmap none(2, 2, px8g);
    none.CopyPaletteTo(&b);
    EXPECT_EQ(b.GetPaletteLen(), 0);
    EXPECT_EQ(b.PaletteCapacity, 256);
}

// The alpha channel: created on demand at 255, flags, merge and removal.
TEST(PxBitmapAlpha, CreateMergeRemove)
{
    for (Store s : kStores) {
        SCOPED_TRACE(StoreName(s));
        StoreScope scope(s);
        auto b = Make(s, 3, 2, px24RGB);
        EXPECT_FALSE(b->HasAlphaChannel());
        TPxBitmap* alpha = b->GetAlphaChannel();
        ASSERT_NE(alpha, nullptr);
        EXPECT_TRUE(alpha->IsAlphaChannel());
        EXPECT_EQ(alpha->GetAlphaChannel(), nullptr);
        EXPECT_EQ(alpha->GetPixelFormat(), px8g);
        EXPECT_EQ(alpha->GetLocation(), s == Store::File ? pxFile : pxMemory);
        EXPECT_TRUE(alpha->FullAlpha);
        EXPECT_EQ(b->GetAlpha(2, 1), 255);

        b->Fill(0x000000);
        b->SetAlpha(0, 0, 128);
        EXPECT_FALSE(alpha->FullAlpha);
        b->SetAlpha(1, 0, 0);
        b->SetPixelRGB(2, 1, TPxRGB{10, 100, 200});
        b->RemoveAlphaChannel(true, 0xFFFFFF);
        EXPECT_FALSE(b->HasAlphaChannel());
        EXPECT_EQ(b->GetPixelRGB(0, 0), (TPxRGB{127, 127, 127}));  // 255 + floor(-255 * 128 / 256)
        EXPECT_EQ(b->GetPixelRGB(1, 0), (TPxRGB{255, 255, 255}));
        EXPECT_EQ(b->GetPixelRGB(2, 0), (TPxRGB{0, 0, 0}));        // alpha 255: 255 + floor(-255*255/256)
        EXPECT_EQ(b->GetPixelRGB(2, 1), (TPxRGB{10, 100, 200}));   // 255 + floor((p-255)*255/256) = p
    }
}

TEST(PxBitmapAlpha, MergeOntoColouredBackgroundAndOtherFormats)
{
    TPxBitmap b(1, 1, px24RGB);
    b.SetPixelRGB(0, 0, TPxRGB{200, 0, 100});  // blue 200, red 100
    b.SetAlpha(0, 0, 64);
    b.RemoveAlphaChannel(true, 0x000080);  // TColor: red 128
    // blue 0 + floor(200*64/256) = 50; green 0; red 128 + floor(-28*64/256) = 121
    EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{50, 0, 121}));

    TPxBitmap g(1, 1, px8g);
    g.SetPixelGray8(0, 0, 9);
    g.SetAlpha(0, 0, 0);
    g.RemoveAlphaChannel(true, 0xFFFFFF);  // only px24RGB merges
    EXPECT_FALSE(g.HasAlphaChannel());
    EXPECT_EQ(g.GetPixelGray8(0, 0), 9);
}

TEST(PxBitmapAlpha, SystemBitmapOwnerGetsMemoryAlphaAndFlagsClear)
{
    auto b = Make(Store::VclBitmap, 4, 4, px24RGB);
    b->Fill(0);
    TPxBitmap* alpha = b->GetAlphaChannel();
    EXPECT_EQ(alpha->GetLocation(), pxMemory);
    EXPECT_TRUE(alpha->FullAlpha);
    b->FullAlpha = true;
    b->SetAlpha(3, 3, 254);
    EXPECT_FALSE(alpha->FullAlpha);
    EXPECT_FALSE(b->FullAlpha);
}

TEST(PxBitmapAlpha, AttachReplacesThePreviousChannel)
{
    TPxBitmap b(2, 2, px24RGB);
    b.SetAlpha(0, 0, 1);
    auto other = TPxBitmap::CreateAsAlphaChannel(2, 2, pxMemory);
    other->SetPixelGray8(1, 1, 33);
    TPxBitmap* raw = other.release();
    raw->SetAllocator(0);
    b.AttachAlphaChannel(raw);
    EXPECT_EQ(b.GetAlphaChannel(), raw);
    EXPECT_EQ(b.GetAlpha(1, 1), 33);
    EXPECT_EQ(b.GetAlpha(0, 0), 255);
    b.AttachAlphaChannel(raw);  // the same channel again changes nothing
    EXPECT_EQ(b.GetAlpha(1, 1), 33);
}

TEST(PxBitmapCompare, RowsAndAlphaDecide)
{
    TPxBitmap a(5, 2, px8g), b(5, 2, px8g);
    a.Fill(7);
    b.Fill(7);
    EXPECT_TRUE(PxCompareBitmaps(&a, &b));
    // The alignment bytes count too.
    b.GetScanline(1)[7] = 1;
    EXPECT_FALSE(PxCompareBitmaps(&a, &b));
    b.GetScanline(1)[7] = 7;
    a.SetAlpha(0, 0, 1);
    EXPECT_FALSE(PxCompareBitmaps(&a, &b));  // only one has alpha
    b.SetAlpha(0, 0, 2);
    EXPECT_FALSE(PxCompareBitmaps(&a, &b));
    b.SetAlpha(0, 0, 1);
    EXPECT_TRUE(PxCompareBitmaps(&a, &b));

    // Rows of different length: unequal, and the shorter row is not overrun.
    TPxBitmap wide(5, 2, px16g), narrow(5, 2, px8g);
    wide.Fill(0);
    narrow.Fill(0);
    EXPECT_FALSE(PxCompareBitmaps(&wide, &narrow));
    EXPECT_FALSE(PxCompareBitmaps(&narrow, &wide));
    TPxBitmap small(4, 2, px8g);
    EXPECT_FALSE(PxCompareBitmaps(&small, &narrow));

    // File images compare row by row too, and an image equals itself.
    auto f1 = Make(Store::File, 5, 3, px24RGB), f2 = Make(Store::File, 5, 3, px24RGB);
    f1->Fill(0x010203);
    f2->Fill(0x010203);
    EXPECT_TRUE(PxCompareBitmaps(f1.get(), f2.get()));
    EXPECT_TRUE(PxCompareBitmaps(f1.get(), f1.get()));
}

// Operations that need a service of a unit that is not installed raise and
// leave the image (and its access) as it was.
TEST(PxBitmapServices, MissingServiceRaises)
{
    const TPxBitmapServices saved = PxBitmapServices;
    PxBitmapServices = TPxBitmapServices{};
    TPxBitmap b(2, 2, px24RGB);
    b.Fill(0x0000FF);
    EXPECT_THROW(b.SetPixelFormat(px8g), classlib::EInvalidOperation);
    EXPECT_EQ(b.GetPixelFormat(), px24RGB);
    EXPECT_EQ(b.GetPixelRGB(1, 1), (TPxRGB{0, 0, 255}));
    b.SetPixelFormat(px24RGB);  // unchanged: nothing to convert
    EXPECT_THROW(b.Assign(nullptr), classlib::EInvalidOperation);
    auto cmyk = Make(Store::File, 2, 2, pxCMYK);
    EXPECT_THROW(cmyk->Fill(0), classlib::EInvalidOperation);
    EXPECT_EQ(cmyk->Access, pxAccessReadWrite);  // restored on the way out
    EXPECT_THROW(cmyk->GetPixelAsRGB(0, 0), classlib::EInvalidOperation);
    PxBitmapServices = saved;
}

// Whoever holds the system bitmap may change it; the getters follow.
TEST(PxBitmapSystemBitmap, GettersFollowChangesOfTheSystemBitmap)
{
    auto b = Make(Store::VclBitmap, 4, 3, px24RGB);
    b->SetAlpha(0, 0, 5);
    classlib::TBitmap* vcl = b->GetVclBitmap();
    ASSERT_NE(vcl, nullptr);
    vcl->SetWidth(7);
    EXPECT_EQ(b->GetWidth(), 7);
    EXPECT_EQ(b->GetRowLen(), 24);
    EXPECT_EQ(b->GetAlphaChannel()->GetWidth(), 7);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(b->GetScanline(y), vcl->GetScanLine(y));
    vcl->SetPixelFormat(classlib::pf32bit);
    EXPECT_EQ(b->GetPixelFormat(), px32RGB);
    EXPECT_EQ(b->GetBitCount(), 32);
    EXPECT_EQ(b->GetScanline(2), vcl->GetScanLine(2));
}

// Drawing on the canvas reaches the pixels; a px8g image shares a grey
// colour table with its system bitmap.
TEST(PxBitmapSystemBitmap, CanvasDrawsIntoThePixels)
{
    TPxBitmap b(5, 5, px24RGB);
    ASSERT_EQ(b.GetLocation(), pxMemory);
    b.Fill(0);
    b.SetPixelRGB(4, 4, TPxRGB{1, 2, 3});
    classlib::TCanvas* canvas = b.GetCanvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(b.GetLocation(), pxTBitmap);
    EXPECT_EQ(b.GetPixelRGB(4, 4), (TPxRGB{1, 2, 3}));
    SetPixel(canvas->GetHandle(), 2, 1, RGB(200, 100, 50));
    GdiFlush();
    EXPECT_EQ(b.GetPixelRGB(2, 1), (TPxRGB{50, 100, 200}));

    auto g = Make(Store::VclBitmap, 3, 3, px8g);
    EXPECT_EQ(g->GetPixelFormat(), px8g);
    auto p = Make(Store::VclBitmap, 3, 3, px8p);
    p->SetPaletteEntry(9, TPxRGB{30, 20, 10});
    RGBQUAD entry{};
    HDC dc = p->GetCanvas()->GetHandle();
    ASSERT_EQ(GetDIBColorTable(dc, 9, 1, &entry), 1u);
    EXPECT_EQ(entry.rgbBlue, 30);
    EXPECT_EQ(entry.rgbRed, 10);
}

// Formats converted by other units go through the installed services.
TEST(PxBitmapServices, FillAndReadThroughInstalledConversions)
{
    const TPxBitmapServices saved = PxBitmapServices;
    PxBitmapServices.RGBToCMYK = [](const TPxRGB& c) {
        return TPxCMYK{c.r, c.g, c.b, 255};
    };
    PxBitmapServices.CIELabToRGB = [](const TPxCIELab& p) {
        return TPxRGB{p.l, p.l, p.l};
    };
    for (Store s : {Store::Memory, Store::File}) {
        SCOPED_TRACE(StoreName(s));
        auto cmyk = Make(s, 3, 2, pxCMYK);
        cmyk->Fill(0xFFFFFF);
        EXPECT_TRUE(cmyk->FullAlpha);
        cmyk->FillRect(1, 1, 1, 1, 0x030201);
        EXPECT_EQ(cmyk->GetPixelCMYK(0, 0), (TPxCMYK{255, 255, 255, 255}));
        EXPECT_EQ(cmyk->GetPixelCMYK(1, 1), (TPxCMYK{1, 2, 3, 255}));
        auto lab = Make(s, 2, 2, pxCIELab);
        std::memcpy(lab->GetScanline(1) + 3, "\x40\x00\x00", 3);
        EXPECT_EQ(lab->GetPixelAsRGB(1, 1), (TPxRGB{0x40, 0x40, 0x40}));
    }
    PxBitmapServices = saved;
}
