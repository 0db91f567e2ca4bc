#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/GraphicFormats.h"
#include "classlib/Metafile.h"
#include "classlib/Picture.h"
#include "classlib/Streams.h"
#include "tests/classlib/GraphicBytes.h"

using namespace classlib;
using classlibtest::LoadBytes;
using classlibtest::SaveBytes;

namespace {

int ScreenPpi(int index)
{
    HDC dc = ::GetDC(nullptr);
    int ppi = ::GetDeviceCaps(dc, index);
    ::ReleaseDC(nullptr, dc);
    return ppi;
}

void FillGdi(HDC dc, RECT r, COLORREF colour)
{
    HBRUSH b = ::CreateSolidBrush(colour);
    ::FillRect(dc, &r, b);
    ::DeleteObject(b);
}

// An EMF of 1 x 0.5 inch recorded with GDI against the screen: the left half
// blue, the right half red.
std::vector<uint8_t> RecordEmf(int ppi)
{
    RECT frame{0, 0, 2540, 1270};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    FillGdi(dc, RECT{0, 0, ppi / 2, ppi / 2}, RGB(0, 0, 255));
    FillGdi(dc, RECT{ppi / 2, 0, ppi, ppi / 2}, RGB(255, 0, 0));
    HENHMETAFILE h = ::CloseEnhMetaFile(dc);
    std::vector<uint8_t> bytes(::GetEnhMetaFileBits(h, 0, nullptr));
    ::GetEnhMetaFileBits(h, static_cast<UINT>(bytes.size()), bytes.data());
    ::DeleteEnhMetaFile(h);
    return bytes;
}

// A placeable WMF: logical window 200 x 100 units, left half blue, right half
// red; bounding box (0, 0, 200, 100) at 100 units per inch, so 2 x 1 inch.
std::vector<uint8_t> MakePlaceableWmf()
{
    HDC dc = ::CreateMetaFileW(nullptr);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    ::SetWindowExtEx(dc, 200, 100, nullptr);
    ::SelectObject(dc, ::GetStockObject(NULL_PEN));
    HBRUSH blue = ::CreateSolidBrush(RGB(0, 0, 255));
    HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
    ::SelectObject(dc, blue);
    ::Rectangle(dc, 0, 0, 101, 101);
    ::SelectObject(dc, red);
    ::Rectangle(dc, 100, 0, 201, 101);
    HMETAFILE h = ::CloseMetaFile(dc);
    ::DeleteObject(blue);
    ::DeleteObject(red);
    std::vector<uint8_t> records(::GetMetaFileBitsEx(h, 0, nullptr));
    ::GetMetaFileBitsEx(h, static_cast<UINT>(records.size()), records.data());
    ::DeleteMetaFile(h);

    std::vector<uint8_t> out(22 + records.size(), 0);
    std::copy(records.begin(), records.end(), out.begin() + 22);
    auto put16 = [&](size_t at, uint16_t x) {
        out[at] = static_cast<uint8_t>(x);
        out[at + 1] = static_cast<uint8_t>(x >> 8);
    };
    put16(0, 0xCDD7);
    put16(2, 0x9AC6);
    put16(10, 200);  // right
    put16(12, 100);  // bottom
    put16(14, 100);  // units per inch
    uint16_t sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(out[i] | (out[i + 1] << 8));
    put16(20, sum);
    return out;
}

// Draws the picture into a white bitmap of (w, h) and checks the colour at
// the middle of its left and right halves.
void ExpectBlueLeftRedRight(TGraphic& g, int w, int h)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(w, h);
    bmp.GetCanvas()->GetBrush()->SetColor(clWhite);
    bmp.GetCanvas()->FillRect(RECT{0, 0, w, h});
    bmp.GetCanvas()->StretchDraw(RECT{0, 0, w, h}, &g);
    EXPECT_EQ(bmp.GetCanvas()->GetPixel(w / 4, h / 2), clBlue);
    EXPECT_EQ(bmp.GetCanvas()->GetPixel(3 * w / 4, h / 2), clRed);
}

}  // namespace

TEST(Metafile, EnhancedMetafileLoadsDrawsAndSavesTheSameBytes)
{
    const int ppiX = ScreenPpi(LOGPIXELSX), ppiY = ScreenPpi(LOGPIXELSY);
    std::vector<uint8_t> emf = RecordEmf(ppiX);
    TMetafile mf;
    LoadBytes(mf, emf);
    ASSERT_FALSE(mf.GetEmpty());
    EXPECT_TRUE(mf.GetEnhanced());
    EXPECT_EQ(mf.GetMMWidth(), 2540);
    EXPECT_EQ(mf.GetMMHeight(), 1270);
    EXPECT_EQ(mf.GetWidth(), ppiX);
    EXPECT_EQ(mf.GetHeight(), ::MulDiv(1270, ppiY, 2540));
    ExpectBlueLeftRedRight(mf, mf.GetWidth(), mf.GetHeight());
    ExpectBlueLeftRedRight(mf, 2 * mf.GetWidth(), 3 * mf.GetHeight());
    EXPECT_EQ(SaveBytes(mf), emf);

    // The clipboard form is a copy of the enhanced metafile.
    UINT format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    mf.SaveToClipboardFormat(format, data, palette);
    EXPECT_EQ(format, static_cast<UINT>(CF_ENHMETAFILE));
    ASSERT_NE(data, nullptr);
    TMetafile pasted;
    pasted.LoadFromClipboardFormat(format, data, palette);
    ::DeleteEnhMetaFile(static_cast<HENHMETAFILE>(data));
    EXPECT_EQ(pasted.GetWidth(), mf.GetWidth());
    ExpectBlueLeftRedRight(pasted, pasted.GetWidth(), pasted.GetHeight());

    // The pixel size is settable and moves the size in 0.01 mm with it.
    mf.SetWidth(2 * ppiX);
    EXPECT_EQ(mf.GetWidth(), 2 * ppiX);
    EXPECT_EQ(mf.GetMMWidth(), 5080);
    mf.SetMMHeight(2540);
    EXPECT_EQ(mf.GetHeight(), ppiY);

    TMetafile copy;
    copy.Assign(&mf);
    mf.Assign(nullptr);
    EXPECT_TRUE(mf.GetEmpty());
    EXPECT_EQ(copy.GetWidth(), 2 * ppiX);
    ExpectBlueLeftRedRight(copy, copy.GetWidth(), copy.GetHeight());
}

TEST(Metafile, PlaceableWmfGetsItsSizeFromTheBoundingBox)
{
    const int ppiX = ScreenPpi(LOGPIXELSX), ppiY = ScreenPpi(LOGPIXELSY);
    TMetafile mf;
    LoadBytes(mf, MakePlaceableWmf());
    EXPECT_FALSE(mf.GetEnhanced());
    EXPECT_EQ(mf.GetInch(), 100);
    EXPECT_EQ(mf.GetWidth(), 2 * ppiX);
    EXPECT_EQ(mf.GetHeight(), ppiY);
    EXPECT_EQ(mf.GetMMWidth(), 5080);
    EXPECT_EQ(mf.GetMMHeight(), 2540);
    ExpectBlueLeftRedRight(mf, mf.GetWidth(), mf.GetHeight());

    // Saved as a placeable WMF again (not enhanced), it loads back alike.
    std::vector<uint8_t> saved = SaveBytes(mf);
    ASSERT_GT(saved.size(), 22u);
    EXPECT_EQ(saved[0], 0xD7);
    EXPECT_EQ(saved[3], 0x9A);
    TMetafile again;
    LoadBytes(again, saved);
    EXPECT_FALSE(again.GetEnhanced());
    EXPECT_EQ(again.GetWidth(), 2 * ppiX);
    EXPECT_EQ(again.GetHeight(), ppiY);
    ExpectBlueLeftRedRight(again, again.GetWidth(), again.GetHeight());

    // Picked by extension through the picture registry.
    RegisterGraphicFormats();
    EXPECT_EQ(TPicture::FindFileFormat(L".wmf"), &TMetafile::Class);
    EXPECT_EQ(TPicture::FindFileFormat(L"EMF"), &TMetafile::Class);
}

TEST(Metafile, DamagedMetafilesRaise)
{
    const std::vector<uint8_t> emf = RecordEmf(96);
    const std::vector<uint8_t> wmf = MakePlaceableWmf();
    auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    };
    auto get32 = [](const std::vector<uint8_t>& v, size_t at) {
        return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
    };
    // The offset of the first EMF record of Type.
    auto record = [&](const std::vector<uint8_t>& v, uint32_t Type) {
        for (size_t at = 0; at + 8 <= v.size() && get32(v, at + 4) >= 8; at += get32(v, at + 4))
            if (get32(v, at) == Type)
                return at;
        ADD_FAILURE() << "no record " << Type;
        return size_t{0};
    };
    struct Case {
        const char* name;
        const std::vector<uint8_t>* source;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const Case cases[] = {
        {"empty", &emf, [](auto& v) { v.clear(); }},
        {"neither kind", &emf, [](auto& v) { std::fill(v.begin(), v.end(), 0x41); }},
        {"emf cut short", &emf, [](auto& v) { v.resize(v.size() - 8); }},
        {"emf header too long", &emf, [&](auto& v) { put32(v, 4, 0x7FFFFFF0u); }},
        {"emf record past the end", &emf, [&](auto& v) { put32(v, v.size() - 20 + 4, 0x100); }},
        {"emf without end record", &emf, [&](auto& v) { put32(v, v.size() - 20, 1000); }},
        // Each of these once made the system's player read outside the data,
        // loop or allocate gigabytes.
        {"emf data past the end record", &emf, [&](auto& v) {
             v.resize(v.size() + 8, 0);
             put32(v, 48, uint32_t(v.size()));
         }},
        {"emf object outside its table", &emf, [&](auto& v) { put32(v, record(v, EMR_DELETEOBJECT) + 8, 0xFFFFFF); }},
        {"emf deletes a stock object", &emf, [&](auto& v) { put32(v, record(v, EMR_DELETEOBJECT) + 8, 0x80000004u); }},
        {"emf record shorter than its fields", &emf,
         [&](auto& v) { put32(v, record(v, EMR_CREATEBRUSHINDIRECT), EMR_EXTCREATEFONTINDIRECTW); }},
        {"emf ellipse of a huge box", &emf, [&](auto& v) {
             const size_t at = record(v, EMR_CREATEBRUSHINDIRECT);
             put32(v, at, EMR_ELLIPSE);
             put32(v, at + 8, 0);
             put32(v, at + 12, 0);
             put32(v, at + 16, 1u << 20);
             put32(v, at + 20, 44);
         }},
        {"emf reference device of no millimetres", &emf, [&](auto& v) { put32(v, 80, 0); }},
        {"wmf zero units per inch", &wmf, [](auto& v) { v[14] = v[15] = 0; }},
        {"wmf empty box", &wmf, [](auto& v) { v[10] = v[11] = 0; }},
        {"wmf size past the end", &wmf, [&](auto& v) { put32(v, 22 + 6, 0x00FFFFFFu); }},
        {"wmf record past the end", &wmf, [&](auto& v) { put32(v, 22 + 18, 0x00FFFFFFu); }},
        // The system's player once read far outside its object table, and
        // looped over points past the record.
        {"wmf polygon of more points than its record", &wmf, [](auto& v) {
             for (size_t at = 22 + 18; at + 8 <= v.size(); at += 2 * (v[at] | v[at + 1] << 8)) {
                 if (v[at + 4] == 0x1B && v[at + 5] == 0x04) {  // rectangle, made a polygon
                     v[at + 4] = 0x24;
                     v[at + 5] = 0x03;
                     v[at + 6] = v[at + 7] = 0xF0;
                     return;
                 }
             }
             ADD_FAILURE() << "no rectangle";
         }},
        {"wmf object outside its table", &wmf, [](auto& v) {
             for (size_t at = 22 + 18; at + 8 <= v.size(); at += 2 * (v[at] | v[at + 1] << 8)) {
                 if (v[at + 4] == 0x2D && v[at + 5] == 0x01) {  // select object
                     v[at + 6] = v[at + 7] = 0xFF;
                     return;
                 }
             }
             ADD_FAILURE() << "no object selected";
         }},
    };
    TMetafile mf;
    for (const auto& c : cases) {
        std::vector<uint8_t> bad = *c.source;
        c.damage(bad);
        EXPECT_THROW(LoadBytes(mf, bad), EInvalidGraphic) << c.name;
        EXPECT_TRUE(mf.GetEmpty()) << c.name;
    }
}
