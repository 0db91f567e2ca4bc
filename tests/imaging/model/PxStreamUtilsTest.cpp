#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStartup.h"
#include "imaging/model/PxStreamUtils.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

TEST(PxMemStreamTest, ReadOnlyViewOfCallerMemory)
{
    const char data[] = "0123456789";
    TPxMemStream s(data, 10);
    char buf[4] = {};
    s.Seek(-3, classlib::soEnd);
    EXPECT_EQ(s.Read(buf, 4), 3);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(s.Write("x", 1), 0);
    s.SetSize(2);
    EXPECT_EQ(s.GetSize(), 10);
    EXPECT_EQ(s.GetMemory(), data);
}

TEST(PxBufferedReadStreamTest, ReadsAcrossRefillsAndFlagsTheEnd)
{
    classlib::TMemoryStream src;
    for (int i = 0; i < 10; ++i) {
        uint8_t b = static_cast<uint8_t>(i);
        src.WriteBuffer(&b, 1);
    }
    src.SetPosition(0);
    TPxBufferedReadStream s(&src, false, 4);
    uint8_t buf[20] = {};
    EXPECT_EQ(s.Read(buf, 20), 10);
    EXPECT_TRUE(s.Eof());
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(buf[i], i);

    EXPECT_EQ(s.Seek(3, classlib::soEnd), 7);
    EXPECT_FALSE(s.Eof());
    EXPECT_EQ(s.Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 7);
    EXPECT_EQ(s.Seek(-2, classlib::soCurrent), 6);  // inside the buffer window
    EXPECT_EQ(s.Read(buf, 2), 2);
    EXPECT_EQ(buf[0], 6);
    EXPECT_EQ(buf[1], 7);
    EXPECT_EQ(s.Seek(-100, classlib::soCurrent), 0);
    EXPECT_EQ(s.Seek(50, classlib::soBeginning), 10);
    EXPECT_TRUE(s.Eof());
    EXPECT_THROW(s.Write(buf, 1), classlib::EStreamError);
}

TEST(PxBufferedReadStreamTest, RelativeCountsFromCreationPosition)
{
    classlib::TMemoryStream src;
    src.WriteBuffer("headerBODY", 10);
    src.SetPosition(6);
    TPxBufferedReadStream s(&src, true, 3);
    char buf[4] = {};
    EXPECT_EQ(s.GetPosition(), 0);
    EXPECT_EQ(s.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "BODY");
    EXPECT_EQ(s.Seek(1, classlib::soBeginning), 1);
    EXPECT_EQ(s.Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 'O');
}

TEST(PxStreamStringsTest, FieldsRoundTripAndBadCountsFail)
{
    classlib::TMemoryStream s;
    PxStreamWriteAnsiString(&s, "abc");
    PxStreamWriteWideString(&s, L"\u00e9t\u00e9");
    PxStreamWriteAnsiString(&s, "");
    EXPECT_EQ(s.GetSize(), 4 + 3 + 4 + 6 + 4);
    s.SetPosition(0);
    std::string a;
    std::wstring w;
    PxStreamReadAnsiString(&s, a);
    PxStreamReadWideString(&s, w);
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(w, L"\u00e9t\u00e9");
    PxStreamReadAnsiString(&s, a);
    EXPECT_EQ(a, "");

    for (int32_t bad : {-1, 1000000000}) {
        classlib::TMemoryStream t;
        t.WriteBuffer(&bad, 4);
        t.WriteBuffer("xy", 2);
        t.SetPosition(0);
        EXPECT_THROW(PxStreamReadAnsiString(&t, a), classlib::EReadError) << bad;
        t.SetPosition(0);
        EXPECT_THROW(PxStreamReadWideString(&t, w), classlib::EReadError) << bad;
    }
}

TEST(PxStreamStringsTest, SafeWriteFlagsShortWrites)
{
    const char data[] = "abc";
    TPxMemStream readOnly(data, 3);
    bool aborting = false;
    PxSafeStreamWrite(&readOnly, aborting, "x", 1);
    EXPECT_TRUE(aborting);
    classlib::TMemoryStream m;
    aborting = false;
    PxSafeStreamWrite(&m, aborting, "x", 1);
    PxStreamWriteLine(&m, "ok");
    EXPECT_FALSE(aborting);
    EXPECT_EQ(m.GetSize(), 5);
    EXPECT_EQ(std::memcmp(m.GetMemory(), "xok\r\n", 5), 0);
}

TEST(PxFileRoutinesTest, TempNamesForceDirectoriesAndFileSize)
{
    testsupport::TempDir dir;
    const std::wstring folder = dir.Path() + L"\\";
    const std::wstring name = PxGetTempFileNameIn(L"pxtemp", folder);
    ASSERT_TRUE(name.starts_with(folder + L"pxtemp-"));
    ASSERT_EQ(name.size(), folder.size() + 6 + 1 + 8 + 4);
    EXPECT_TRUE(name.ends_with(L".tmp"));
    for (wchar_t c : name.substr(folder.size() + 7, 8))
        EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F')) << static_cast<int>(c);
    EXPECT_FALSE(PxFileExists(name));

    const std::wstring nested = dir.File(L"a\\b\\c\\");
    EXPECT_TRUE(PxForceDirectories(nested));
    EXPECT_TRUE(classlib::DirectoryExists(dir.File(L"a\\b\\c")));
    EXPECT_TRUE(PxForceDirectories(nested));  // already there

    // A file in the way: the folder cannot be made and that is reported.
    {
        classlib::TFileStream f(dir.File(L"blocker"), classlib::fmCreate);
    }
    EXPECT_FALSE(PxForceDirectories(dir.File(L"blocker\\sub")));
    try {
        PxForceDirectories(L"");
        FAIL() << "no exception";
    } catch (const classlib::Exception& e) {
        EXPECT_EQ(e.Message(), L"Cannot Create Directory");
    }

    EXPECT_EQ(PxGetFileSize(dir.File(L"missing.bin")), -1);
    EXPECT_EQ(PxGetFileSize(dir.File(L"blocker")), 0);
    // Beyond 4 GiB the size is not cut to 32 bits (a sparse file).
    const int64_t big = (int64_t{5} << 30) + 123;
    {
        classlib::TFileStream f(dir.File(L"big.bin"), classlib::fmCreate);
        f.SetSize(big);
    }
    EXPECT_EQ(PxGetFileSize(dir.File(L"big.bin")), big);
}

TEST(PxFileRoutinesTest, TempFileNameUsesTheToolkitFolder)
{
    testsupport::TempDir dir;
    const std::wstring saved = PxTempFolder;
    PxTempFolder = dir.Path() + L"\\";
    const std::wstring name = PxGetTempFileName();
    PxTempFolder = saved;
    EXPECT_TRUE(name.starts_with(dir.Path() + L"\\pxtemp-")) << classlib::WideToUtf8(name);

    wchar_t system[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, system);
    PxTempFolder.clear();
    EXPECT_TRUE(PxGetTempFileName().starts_with(std::wstring(system, n) + L"pxtemp-"));
    PxTempFolder = saved;
}

TEST(PxMemoryTest, BlocksFromHeapAndGlobalMemory)
{
    for (int64_t n : {int64_t{0}, int64_t{100}, int64_t{1048575}, int64_t{1048576}, int64_t{3} << 20}) {
        void* p = PxAllocBlock(n);
        ASSERT_NE(p, nullptr) << n;
        std::memset(p, 0xAB, static_cast<size_t>(n));  // the whole block is usable
        const bool global = n >= 1048576;
        EXPECT_EQ(static_cast<uint8_t*>(p)[-1], global ? 1 : 0) << n;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << n;
        PxFreeBlock(p);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(PxAllocBlock(-1), nullptr);
    void* q = nullptr;
    PxSafeGetMem(q, INT64_MAX);
    EXPECT_EQ(q, nullptr);
    HGLOBAL g = PxGlobalAlloc(64);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(g)[63], 0);
    PxGlobalFree(g);
    EXPECT_EQ(g, nullptr);
    EXPECT_GT(PxGetPhysicalMemory(false), 0);
    EXPECT_LE(PxGetPhysicalMemory(true), PxGetPhysicalMemory(false));
}

TEST(PxBitsTest, RowLengthsMasksAndSwaps)
{
    EXPECT_EQ(PxBitmapRowLen(10, 24, 32), 32);
    EXPECT_EQ(PxBitmapRowLen(10, 1, 8), 2);
    EXPECT_EQ(PxBitmapRowLen(3, 8, 16), 4);
    EXPECT_EQ(PxBitmapRowLen(100000, 48, 32), 600000);
    EXPECT_EQ(PxBitmapRowLen(int64_t{3} << 30, 24, 32), int64_t{9} << 30);  // no 32-bit overflow
    EXPECT_EQ(PxVclBitmapRowLen(3, classlib::pf24bit), 12);
    EXPECT_EQ(PxVclPixelFormatBits(classlib::pf15bit), 15);
    EXPECT_EQ(PxVclPixelFormatBits(classlib::pfDevice), 0);

    struct MaskCase {
        uint32_t mask;
        int count, top;
    } masks[] = {{0xFF00, 8, 16}, {0, 0, -1}, {0x400, 1, 10}, {0xF81F, 5, 16}, {0x80000000u, 1, 31}};
    for (const auto& m : masks) {
        EXPECT_EQ(PxMaskBitCount(m.mask), m.count) << m.mask;
        EXPECT_EQ(PxMaskTopBit(m.mask), m.top) << m.mask;
    }
    EXPECT_EQ(PxPow2(8, 3), 16777216);
    EXPECT_EQ(PxPow2(1, 1), 2);

    for (int i = 0; i < 256; ++i) {
        uint8_t b = static_cast<uint8_t>(i), expected = 0;
        for (int k = 0; k < 8; ++k)
            if (i & (1 << k))
                expected |= static_cast<uint8_t>(0x80 >> k);
        PxReverseBitsByte(b);
        ASSERT_EQ(b, expected) << i;
    }
    uint32_t w = 0x00000001;
    PxReverseBits32(w);
    EXPECT_EQ(w, 0x80000000u);
    w = 0x12345678;
    PxReverseBits32(w);
    EXPECT_EQ(w, 0x1E6A2C48u);

    EXPECT_EQ(PxSwapBytes16(0xABCD1234u), 0xABCD3412u);
    EXPECT_EQ(PxSwapBytes32(0x11223344u), 0x44332211u);
    EXPECT_EQ(PxSwapBytes32If(0x11223344u, false), 0x11223344u);
    uint16_t words[2] = {0x0102, 0x0304};
    PxSwapBytes16Buffer(words, 2);
    EXPECT_EQ(words[0], 0x0201);
    EXPECT_EQ(words[1], 0x0403);
}

TEST(PxNumbersTest, PowerRules)
{
    EXPECT_EQ(PxPowerDouble(0, 0), 1);
    EXPECT_EQ(PxPowerDouble(0, 3), 0);
    EXPECT_EQ(PxPowerDouble(2, 10), 1024);
    EXPECT_EQ(PxPowerDouble(-2, 3), -8);
    EXPECT_EQ(PxPowerDouble(2, -2), 0.25);
    EXPECT_NEAR(PxPowerDouble(4, 0.5), 2, 1e-12);
    EXPECT_NEAR(static_cast<double>(PxPower(10, 3)), 1000, 1e-12);
}

TEST(PxNumbersTest, QuickSortThroughCallbacks)
{
    std::vector<int> v = {5, 3, 9, 1, 5, 7, 2, 8, 0, 6, 4, 3};
    std::vector<int> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    PxQuickSort(
        static_cast<int>(v.size()), [&](int a, int b) { return v[a] - v[b]; },
        [&](int a, int b) { std::swap(v[a], v[b]); });
    EXPECT_EQ(v, sorted);
    int calls = 0;
    PxQuickSort(0, [&](int, int) { return ++calls; }, [&](int, int) { ++calls; });
    EXPECT_EQ(calls, 0);
}

TEST(PxNumbersTest, AspectFitYCbCrCosineAndDotText)
{
    struct Fit {
        int sw, sh, bw, bh, w, h;
    } fits[] = {{400, 300, 100, 100, 100, 75}, {1, 1000, 100, 100, 1, 100}, {10, 5, 100, 100, 100, 50}};
    for (const auto& f : fits) {
        int w = -1, h = -1;
        PxAspectFit(f.sw, f.sh, f.bw, f.bh, w, h);
        EXPECT_EQ(w, f.w);
        EXPECT_EQ(h, f.h);
    }
    int w = 7, h = 8;
    PxAspectFit(0, 10, 100, 100, w, h);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 8);

    TPxRGB c;
    PxYCbCrToRGB(c, 128, 128, 128);
    EXPECT_EQ(c, (TPxRGB{128, 128, 128}));
    PxYCbCrToRGB(c, 255, 128, 255);  // red overflows and is clamped
    EXPECT_EQ(c.r, 255);
    EXPECT_EQ(c.g, 164);  // 255 - 0.71414 * 127 = 164.3
    EXPECT_EQ(c.b, 255);

    PxInitCosineTable();
    EXPECT_EQ(PxCosineTable[0], 0);
    EXPECT_EQ(PxCosineTable[127], 64);
    EXPECT_EQ(PxCosineTable[255], 128);

    const wchar_t saved = classlib::DecimalSeparator;
    classlib::DecimalSeparator = L',';
    EXPECT_EQ(PxFloatToStrDot(1.25), L"1.25");
    EXPECT_EQ(PxFloatToStrDotA(-0.5), "-0.5");
    classlib::DecimalSeparator = saved;
}

TEST(PxPaletteTest, GreyPaletteOfPlatformBitmap)
{
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf8bit);
    bmp.SetSize(4, 4);
    PxSetGrayPalette(&bmp);
    EXPECT_TRUE(PxVclBitmapHasGrayPalette(&bmp));
    PALETTEENTRY e{1, 2, 3, 0};
    ::SetPaletteEntries(bmp.GetPalette(), 200, 1, &e);
    EXPECT_FALSE(PxVclBitmapHasGrayPalette(&bmp));
}

TEST(PxPaletteTest, CopiesEightBitColourTableIntoPaletteImage)
{
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf8bit);
    bmp.SetSize(2, 2);
    PxSetGrayPalette(&bmp);
    PALETTEENTRY e{10, 20, 30, 0};
    ::SetPaletteEntries(bmp.GetPalette(), 5, 1, &e);

    TPxBitmap image(2, 2, px8p);
    PxCopyVclPaletteToPxBitmap(&bmp, &image);
    EXPECT_EQ(image.GetPaletteEntry(5), (TPxRGB{30, 20, 10}));
    EXPECT_EQ(image.GetPaletteEntry(200), (TPxRGB{200, 200, 200}));

    TPxBitmap rgb(2, 2, px24RGB);  // other formats: nothing happens
    PxCopyVclPaletteToPxBitmap(&bmp, &rgb);
    EXPECT_EQ(rgb.GetPixelFormat(), px24RGB);
}

HWND g_hooked = nullptr;
void RecordingHook(HWND w) { g_hooked = w; }

TEST(PxWindowTest, CenterWindowUsesAThirdOfTheFreeHeightOrTheHook)
{
    HWND w = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 90, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    PxCenterWindow(w);
    RECT r;
    ::GetWindowRect(w, &r);
    EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
    EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYSCREEN) - 90) / 3);
    EXPECT_EQ(r.right - r.left, 200);

    const TPxCenterWindowHook saved = PxCenterWindowHook;
    PxCenterWindowHook = &RecordingHook;
    ::SetWindowPos(w, nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PxCenterWindow(w);
    PxCenterWindowHook = saved;
    ::GetWindowRect(w, &r);
    EXPECT_EQ(g_hooked, w);
    EXPECT_EQ(r.left, 5);  // the hook did the work
    ::DestroyWindow(w);
}

}  // namespace
