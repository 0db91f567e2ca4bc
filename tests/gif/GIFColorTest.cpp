// DIB access, colour lookups, ditherers, the octree quantizer, colour
// reduction and frame conversion from bitmaps.
#include <gtest/gtest.h>

#include <set>

#include "GIFTestUtil.h"
#include "gif/GIFDIB.h"
#include "gif/GIFDither.h"
#include "gif/GIFQuantize.h"

using namespace gif;
using namespace giftest;
using classlib::TBitmap;

namespace {

// A 24-bit bitmap whose pixel (x, y) is Fill(x, y) as 0xBBGGRR.
template <class F>
std::unique_ptr<TBitmap> Make24(int W, int H, F Fill)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(W, H);
    for (int y = 0; y < H; ++y) {
        auto* p = static_cast<uint8_t*>(b->GetScanLine(y));
        for (int x = 0; x < W; ++x) {
            const uint32_t c = Fill(x, y);
            p[3 * x] = static_cast<uint8_t>(c >> 16);
            p[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            p[3 * x + 2] = static_cast<uint8_t>(c);
        }
    }
    return b;
}

std::vector<RGBQUAD> ColorTable(TBitmap* b)
{
    std::vector<RGBQUAD> t(256);
    const UINT n = ::GetDIBColorTable(b->GetCanvas()->GetHandle(), 0, 256, t.data());
    t.resize(n);
    return t;
}

int PaletteSize(HPALETTE p)
{
    return static_cast<int>(::GetPaletteEntries(p, 0, 0, nullptr));
}

// A lookup that records the order of the columns it is asked about.
struct RecordingLookup : TColorLookup {
    std::vector<int> Seen;
    RecordingLookup() { ColorCount = 256; }
    uint8_t MapColor(uint8_t Red, uint8_t, uint8_t, uint8_t& R, uint8_t& G, uint8_t& B) override
    {
        Seen.push_back(Red);
        R = G = B = Red;
        return Red;
    }
};

}  // namespace

TEST(GIFColor, UnitRoutines)
{
    const std::pair<int, int> Bits[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {5, 3}, {256, 8}, {257, 9}};
    for (auto [n, b] : Bits)
        EXPECT_EQ(BitsForColorCount(n), b) << n;
    EXPECT_EQ(RowBytes(3, 8, 32), 4);
    EXPECT_EQ(RowBytes(3, 24, 32), 12);
    EXPECT_EQ(RowBytes(17, 1, 16), 4);
    EXPECT_THROW(CheckedPixelCount(65535, 65535), GIFException);
    EXPECT_EQ(CheckedPixelCount(65535, 32768), int64_t{65535} * 32768);

    classlib::TMemoryStream s;
    classlib::TStringList Lines;
    Lines.Add(std::wstring(300, L'x'));
    Lines.Add(L"");
    WriteTextBlocks(&s, &Lines);
    const std::vector<uint8_t> b = StreamBytes(s);
    ASSERT_EQ(b.size(), 1u + 255 + 1 + 45 + 1);
    EXPECT_EQ(b[0], 255);
    EXPECT_EQ(b[256], 45);
    EXPECT_EQ(b.back(), 0);
}

TEST(GIFColor, Lookups)
{
    uint8_t r, g, b;
    TNetscapeColorLookup Web;
    EXPECT_EQ(Web.MapColor(128, 128, 128, r, g, b), 86);
    EXPECT_EQ(r, 102);
    EXPECT_EQ(Web.MapColor(255, 0, 47, r, g, b), 180);
    EXPECT_EQ(MakeRGB(r, g, b), MakeRGB(255, 0, 0));
    TMonochromeLookup Mono;
    EXPECT_EQ(Mono.MapColor(127, 127, 127, r, g, b), 0);
    EXPECT_EQ(Mono.MapColor(128, 128, 128, r, g, b), 1);
    EXPECT_EQ(r, 255);
    TGrayScaleLookup Gray;
    EXPECT_EQ(Gray.MapColor(255, 255, 255, r, g, b), 255);
    EXPECT_EQ(Gray.MapColor(100, 0, 0, r, g, b), 30);

    // The fast lookup answers a cell with the entry found for its first colour.
    HPALETTE Pal = CreateFourGrayPalette();
    TFastColorLookup Fast(Pal);
    EXPECT_EQ(Fast.ColorCount, 4);
    EXPECT_EQ(Fast.MapColor(0x70, 0x70, 0x70, r, g, b), 1);  // nearest 0x80
    EXPECT_EQ(Fast.MapColor(0x77, 0x77, 0x77, r, g, b), 1);  // same cell
    EXPECT_EQ(Fast.MapColor(0xF0, 0xF0, 0xF0, r, g, b), 3);
    TSlowColorLookup Slow(Pal);
    EXPECT_EQ(Slow.MapColor(0xC8, 0xC0, 0xC0, r, g, b), 2);
    ::DeleteObject(Pal);
    HPALETTE WebPal = CreateWebPalette();
    EXPECT_EQ(PaletteSize(WebPal), 216);
    ::DeleteObject(WebPal);
}

TEST(GIFColor, DIBWriterPaletteAndRows)
{
    std::vector<TGIFColor> Colors;
    for (int i = 0; i < 16; ++i)
        Colors.push_back({static_cast<uint8_t>(i * 16), 7, static_cast<uint8_t>(255 - i)});
    TBitmap Target;
    {
        struct Map : TGIFColorMap {
            void Warning(uint8_t, const std::wstring&) override {}
            void BuildHistogram(TColorCounts&) override {}
            void MapImages(const TColorMapping&) override {}
            bool DoOptimize() override { return false; }
            void Changed() override {}
        } m;
        m.ImportRGB(Colors.data(), 16);
        HPALETTE Pal = m.ExportPalette();
        TDIBWriter Writer(&Target, Pal, 3, 5, classlib::pf8bit);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                Writer.GetRow(y)[x] = static_cast<uint8_t>(y * 5 + x);
        EXPECT_THROW(Writer.GetRow(3), classlib::EInvalidGraphicOperation);
        Writer.Finish();
        ::DeleteObject(Pal);
    }
    EXPECT_EQ(Target.GetPixelFormat(), classlib::pf8bit);
    EXPECT_EQ(Target.GetWidth(), 5);
    EXPECT_EQ(Target.GetHeight(), 3);
    const std::vector<RGBQUAD> t = ColorTable(&Target);
    ASSERT_EQ(t.size(), 256u);
    EXPECT_EQ(t[15].rgbRed, 240);
    EXPECT_EQ(t[15].rgbBlue, 240);
    EXPECT_EQ(t[16].rgbRed | t[16].rgbGreen | t[16].rgbBlue, 0);
    EXPECT_EQ(static_cast<uint8_t*>(Target.GetScanLine(2))[4], 14);
    EXPECT_THROW(TDIBWriter(&Target, nullptr, 0, 5, classlib::pf8bit), GIFException);
    EXPECT_THROW(TDIBWriter(&Target, nullptr, 5, 5, classlib::pf16bit), GIFException);
}

TEST(GIFColor, Ditherers)
{
    // Serpentine order: the second row runs right to left.
    {
        RecordingLookup Rec;
        TDitherEngine e(4, &Rec);
        for (int Row = 0; Row < 2; ++Row) {
            for (int x = e.NextColumn; x >= 0 && x < 4; x = e.NextColumn) {
                uint8_t r, g, b;
                e.DitherPixel(static_cast<uint8_t>(x), 0, 0, r, g, b);
            }
            e.EndRow();
        }
        EXPECT_EQ(Rec.Seen, (std::vector<int>{0, 1, 2, 3, 3, 2, 1, 0}));
    }
    TMonochromeLookup Mono;
    for (int Kind = 0; Kind <= 6; ++Kind) {
        SCOPED_TRACE(Kind);
        for (int Width : {1, 16}) {
            auto d = CreateDitherer(Kind, Width, &Mono);
            ASSERT_TRUE(d);
            int White = 0, Total = 0;
            bool Exact = true;
            for (int y = 0; y < 16; ++y) {
                for (int x = d->NextColumn; x >= 0 && x < Width; x = d->NextColumn) {
                    uint8_t r, g, b;
                    White += d->DitherPixel(128, 128, 128, r, g, b);
                    ++Total;
                }
                d->EndRow();
            }
            // Colours that are in the palette are taken as they are.
            auto e = CreateDitherer(Kind, Width, &Mono);
            for (int y = 0; y < 4; ++y) {
                for (int x = e->NextColumn; x >= 0 && x < Width; x = e->NextColumn) {
                    uint8_t r, g, b;
                    const uint8_t v = ((x + y) & 1) ? 255 : 0;
                    Exact &= e->DitherPixel(v, v, v, r, g, b) == (v ? 1 : 0);
                }
                e->EndRow();
            }
            EXPECT_TRUE(Exact);
            if (Width == 16) {
                if (Kind == 0)
                    EXPECT_EQ(White, Total);
                else
                    EXPECT_TRUE(White > Total / 4 && White < Total * 3 / 4) << White << " of " << Total;
            }
        }
    }
    EXPECT_FALSE(CreateDitherer(7, 4, &Mono));
}

TEST(GIFColor, OctreeQuantizer)
{
    const uint32_t Ten[10] = {0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000,
                              0x123456, 0x654321, 0x808080, 0x0A0B0C, 0xFEDCBA};
    auto Bmp = Make24(10, 4, [&](int x, int) { return Ten[x]; });
    TDIBReader Reader(Bmp.get(), classlib::pf24bit);
    HPALETTE Pal = CreateOptimizedPaletteFromRows(&Reader, 10, 4, 256, 8, false);
    PALETTEENTRY e[256];
    ASSERT_EQ(::GetPaletteEntries(Pal, 0, 256, e), 256u);
    std::set<uint32_t> Got, Want(std::begin(Ten), std::end(Ten));
    for (int i = 0; i < 10; ++i)
        Got.insert(uint32_t{e[i].peRed} | (uint32_t{e[i].peGreen} << 8) | (uint32_t{e[i].peBlue} << 16));
    EXPECT_EQ(Got, Want);
    for (int i = 10; i < 256; ++i)
        EXPECT_EQ(e[i].peRed | e[i].peGreen | e[i].peBlue, 0);
    ::DeleteObject(Pal);

    // Fewer colours than leaves: the tree is reduced to the limit.
    for (int Limit : {2, 8, 16}) {
        TColorQuantizer q(Limit, 8);
        for (int i = 0; i < 4096; ++i)
            q.AddColor(static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 11), static_cast<uint8_t>(i));
        RGBQUAD t[256];
        EXPECT_LE(q.FillColorTable(t), Limit);
        EXPECT_GE(q.FillColorTable(t), 1);
    }
    EXPECT_THROW(TColorQuantizer(256, 9), classlib::EAssertionFailed);
}

// Every method with every ditherer gives an 8-bit bitmap of the source's
// size whose pixels use only the method's palette.
TEST(GIFColor, ReduceColorsEveryMethodAndDitherer)
{
    HPALETTE Halftone = CreateHalftonePaletteForScreen();
    const int Sizes[] = {0, 20, PaletteSize(Halftone), 4, 2, 256, 216, 256, 256};
    ::DeleteObject(Halftone);
    for (int Method = 1; Method <= 8; ++Method) {
        for (int Kind = 0; Kind <= 6; ++Kind) {
            SCOPED_TRACE(testing::Message() << "method " << Method << " kind " << Kind);
            auto Src = Make24(23, 9, [](int x, int y) { return MakeRGB(x * 11, y * 28, (x * y) % 256); });
            std::unique_ptr<TBitmap> Out(ReduceColors(Src.get(), Method, Kind, nullptr, 8));
            ASSERT_EQ(Out->GetPixelFormat(), classlib::pf8bit);
            ASSERT_EQ(Out->GetWidth(), 23);
            ASSERT_EQ(Out->GetHeight(), 9);
            const std::vector<RGBQUAD> Table = ColorTable(Out.get());
            for (int y = 0; y < 9; ++y) {
                const auto* p = static_cast<const uint8_t*>(Out->GetScanLine(y));
                for (int x = 0; x < 23; ++x)
                    ASSERT_LT(p[x], Sizes[Method]);
            }
            if (Method == 6) {
                const RGBQUAD& q = Table[180];
                EXPECT_EQ(MakeRGB(q.rgbRed, q.rgbGreen, q.rgbBlue), MakeRGB(255, 0, 0));
            }
            EXPECT_EQ(Src->GetPixelFormat(), classlib::pf24bit);
        }
    }
    // Method 4 without dithering: grey 127 is black, 128 white.
    auto Grey = Make24(2, 1, [](int x, int) { return x ? 0x808080u : 0x7F7F7Fu; });
    std::unique_ptr<TBitmap> Bw(ReduceColors(Grey.get(), rmMonochrome, dmNearest, nullptr, 8));
    const auto* p = static_cast<const uint8_t*>(Bw->GetScanLine(0));
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 1);
    // Method 8 keeps the 20 static system colours at both ends.
    std::unique_ptr<TBitmap> Sys(ReduceColors(Grey.get(), rmQuantizeWindows, dmNearest, nullptr, 8));
    PALETTEENTRY Stock[20];
    ::GetPaletteEntries(static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)), 0, 20, Stock);
    const std::vector<RGBQUAD> t = ColorTable(Sys.get());
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(t[i].rgbRed, Stock[i].peRed);
        EXPECT_EQ(t[246 + i].rgbBlue, Stock[10 + i].peBlue);
    }
    // Method 0: a 24-bit copy, the source untouched; unknown values: empty.
    auto Src32 = std::make_unique<TBitmap>();
    Src32->SetPixelFormat(classlib::pf32bit);
    Src32->SetSize(4, 4);
    std::unique_ptr<TBitmap> Copy(ReduceColors(Src32.get(), rmNone, dmNearest, nullptr, 8));
    EXPECT_EQ(Copy->GetPixelFormat(), classlib::pf24bit);
    EXPECT_EQ(Src32->GetPixelFormat(), classlib::pf32bit);
    std::unique_ptr<TBitmap> None(ReduceColors(Grey.get(), 10, dmNearest, nullptr, 8));
    EXPECT_TRUE(None->GetEmpty());
    std::unique_ptr<TBitmap> NoKind(ReduceColors(Grey.get(), rmGrayScale, 9, nullptr, 8));
    EXPECT_TRUE(NoKind->GetEmpty());
}

TEST(GIFColor, ReduceColorsLargeImage)
{
    auto Src = Make24(600, 1000, [](int x, int y) { return MakeRGB(x % 256, y % 256, 0); });
    std::unique_ptr<TBitmap> Out(ReduceColors(Src.get(), rmNetscape, dmNearest, nullptr, 8));
    EXPECT_EQ(Out->GetPixelFormat(), classlib::pf8bit);
    EXPECT_EQ(Out->GetWidth(), 600);
    EXPECT_EQ(Out->GetHeight(), 1000);
}

// Frames made from bitmaps: palette bitmaps index for index, true colour
// through the colour table, masks as a transparent entry.
TEST(GIFConvert, FromBitmaps)
{
    TGIFImage Image;
    Image.ReductionMethod = rmNone;
    // 256-colour bitmap: own palette order and indices.
    {
        TBitmap b;
        HPALETTE Pal = CreateGrayPalette();
        {
            TDIBWriter w(&b, Pal, 16, 16, classlib::pf8bit);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    w.GetRow(y)[x] = static_cast<uint8_t>(255 - (y * 16 + x));
            w.Finish();
        }
        ::DeleteObject(Pal);
        TGIFSubImage Frame(&Image);
        Frame.Assign(&b);
        EXPECT_EQ(Frame.GetColorMap()->GetCount(), 256);
        EXPECT_EQ(Frame.Pixels(0, 0), 255);
        EXPECT_EQ(Frame.Pixels(15, 15), 0);
        EXPECT_EQ(Frame.GetColorMap()->GetColor(5), MakeRGB(5, 5, 5));
    }
    // 24 bits, method 0: the colours in order of first appearance.
    {
        auto b = Make24(5, 2, [](int x, int) { return x < 3 ? 0x0000FFu : 0x00FF00u; });
        TGIFSubImage Frame(&Image);
        Frame.Assign(b.get());
        ASSERT_EQ(Frame.GetColorMap()->GetCount(), 2);
        EXPECT_EQ(Frame.GetColorMap()->GetColor(0), MakeRGB(255, 0, 0));
        EXPECT_EQ(Frame.Pixels(4, 1), 1);
    }
    // 300 colours with method 0 overflow the table.
    {
        auto b = Make24(300, 1, [](int x, int) { return static_cast<uint32_t>(x); });
        TGIFSubImage Frame(&Image);
        try {
            Frame.Assign(b.get());
            ADD_FAILURE();
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), L"Color table overflow");
        }
    }
    // A 1-bit bitmap: eight pixels a byte.
    {
        TBitmap b;
        b.SetPixelFormat(classlib::pf1bit);
        b.SetSize(10, 2);
        auto* row = static_cast<uint8_t*>(b.GetScanLine(0));
        row[0] = 0xA0;
        row[1] = 0x40;
        TGIFSubImage Frame(&Image);
        Frame.Assign(&b);
        EXPECT_EQ(Frame.GetColorMap()->GetCount(), 2);
        EXPECT_EQ(Frame.Pixels(0, 0), 1);
        EXPECT_EQ(Frame.Pixels(1, 0), 0);
        EXPECT_EQ(Frame.Pixels(2, 0), 1);
        EXPECT_EQ(Frame.Pixels(9, 0), 1);
    }
    // A frame without pixels copies to an empty frame without extensions.
    {
        TGIFSubImage Source(&Image), Copy(&Image);
        Source.GetExtensions()->Add(new TGIFCommentExtension(&Source));
        Copy.Assign(&Source);
        EXPECT_TRUE(Copy.Empty());
        EXPECT_EQ(Copy.GetExtensions()->GetCount(), 0);
    }
}

TEST(GIFConvert, MaskBecomesTransparentEntry)
{
    TGIFImage Image;
    Image.ReductionMethod = rmNone;
    auto b = Make24(6, 4, [](int x, int) { return x < 2 ? 0xFFFFFFu : 0x0000FFu; });
    b->SetTransparentColor(classlib::clWhite);
    b->SetTransparent(true);
    Image.Add(b.get());
    ASSERT_EQ(Image.GetImages()->GetCount(), 1);
    TGIFSubImage* f = Image.GetImages()->GetFrame(0);
    ASSERT_TRUE(f->GetTransparent());
    auto* Gce = f->GetControlExtension();
    ASSERT_NE(Gce, nullptr);
    const int t = Gce->GetTransparentColorIndex();
    EXPECT_EQ(t, f->GetColorMap()->GetCount() - 1);
    EXPECT_EQ(f->GetColorMap()->GetColor(t), MakeRGB(0, 0, 0));
    EXPECT_EQ(f->Pixels(0, 0), t);
    EXPECT_NE(f->Pixels(3, 0), t);
    EXPECT_EQ(f->GetColorMap()->GetColor(f->Pixels(3, 0)), MakeRGB(255, 0, 0));
}

// Under a true-colour display PalettedDisplay is false; the flag is set here
// to reach the paletted web-dither rendering.
TEST(GIFConvert, WebDitherRenderingHook)
{
    const bool Saved = PalettedDisplay;
    PalettedDisplay = true;
    struct Restore {
        bool v;
        ~Restore() { PalettedDisplay = v; }
    } R{Saved};
    TGIFImage Image;
    Image.LoadFromFile(Fixture(L"extensions.gif"));
    ASSERT_TRUE(Image.UseWebDither());
    TGIFSubImage* f = Image.GetImages()->GetFrame(0);
    TBitmap* b = f->GetBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetPixelFormat(), classlib::pf8bit);
    ASSERT_TRUE(f->HasMask());
    const std::vector<RGBQUAD> Table = ColorTable(f->GetBitmap());
    ASSERT_GE(Table.size(), 216u);
    EXPECT_EQ(MakeRGB(Table[180].rgbRed, Table[180].rgbGreen, Table[180].rgbBlue), MakeRGB(255, 0, 0));
    EXPECT_EQ(MakeRGB(Table[86].rgbRed, Table[86].rgbGreen, Table[86].rgbBlue), MakeRGB(102, 102, 102));
    for (int y = 0; y < f->GetHeight(); ++y)
        for (int x = 0; x < f->GetWidth(); ++x)
            ASSERT_LT(static_cast<const uint8_t*>(f->GetBitmap()->GetScanLine(y))[x], 216);
    PalettedDisplay = false;
    EXPECT_FALSE(Image.UseWebDither());
}

#include "classlib/Icon.h"

// An icon's mask becomes the transparent (last, black) entry of the table.
TEST(GIFConvert, IconMask)
{
    const int S = 8;
    HDC Screen = ::GetDC(nullptr);
    HBITMAP Color = ::CreateCompatibleBitmap(Screen, S, S);
    ::ReleaseDC(nullptr, Screen);
    {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ Old = ::SelectObject(dc, Color);
        HBRUSH Brush = ::CreateSolidBrush(RGB(255, 0, 0));
        RECT r{0, 0, S, S};
        ::FillRect(dc, &r, Brush);
        ::DeleteObject(Brush);
        ::SelectObject(dc, Old);
        ::DeleteDC(dc);
    }
    // AND mask: the left half transparent.
    std::vector<uint8_t> MaskBits(static_cast<size_t>(RowBytes(S, 1, 16)) * S, 0);
    for (int y = 0; y < S; ++y)
        MaskBits[static_cast<size_t>(y) * RowBytes(S, 1, 16)] = 0xF0;
    HBITMAP Mask = ::CreateBitmap(S, S, 1, 1, MaskBits.data());
    ICONINFO Info{TRUE, 0, 0, Mask, Color};
    HICON Handle = ::CreateIconIndirect(&Info);
    ::DeleteObject(Mask);
    ::DeleteObject(Color);
    ASSERT_NE(Handle, nullptr);
    classlib::TIcon Icon;
    Icon.SetHandle(Handle);
    TGIFImage Image;
    Image.ReductionMethod = rmNone;
    Image.Add(&Icon);
    ASSERT_EQ(Image.GetImages()->GetCount(), 1);
    TGIFSubImage* f = Image.GetImages()->GetFrame(0);
    ASSERT_TRUE(f->GetTransparent());
    const int t = f->GetControlExtension()->GetTransparentColorIndex();
    EXPECT_EQ(t, f->GetColorMap()->GetCount() - 1);
    EXPECT_EQ(f->GetColorMap()->GetColor(t), MakeRGB(0, 0, 0));
    EXPECT_EQ(f->Pixels(0, 0), t);
    EXPECT_EQ(f->Pixels(3, 5), t);
    EXPECT_NE(f->Pixels(4, 0), t);
    EXPECT_EQ(f->GetColorMap()->GetColor(f->Pixels(6, 6)), MakeRGB(255, 0, 0));
}

#include "classlib/Metafile.h"

// The parts of a metafile that leave the background uncovered become
// transparent.
TEST(GIFConvert, MetafileUncoveredPartsTransparent)
{
    const RECT Frame{0, 0, 1000, 1000};  // 10 mm square
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &Frame, nullptr);
    ASSERT_NE(dc, nullptr);
    HBRUSH Brush = ::CreateSolidBrush(RGB(255, 0, 0));
    RECT Left{0, 0, 15, 60};
    ::FillRect(dc, &Left, Brush);
    ::DeleteObject(Brush);
    HENHMETAFILE Emf = ::CloseEnhMetaFile(dc);
    ASSERT_NE(Emf, nullptr);
    classlib::TMetafile Metafile;
    Metafile.SetHandle(Emf);
    ASSERT_GT(Metafile.GetWidth(), 20);
    TGIFImage Image;
    Image.ReductionMethod = rmNone;
    Image.Add(&Metafile);
    TGIFSubImage* f = Image.GetImages()->GetFrame(0);
    ASSERT_TRUE(f->GetTransparent());
    const int t = f->GetControlExtension()->GetTransparentColorIndex();
    const int y = f->GetHeight() / 2;
    EXPECT_EQ(f->Pixels(f->GetWidth() - 2, y), t);
    ASSERT_NE(f->Pixels(2, y), t);
    EXPECT_EQ(f->GetColorMap()->GetColor(f->Pixels(2, y)), MakeRGB(255, 0, 0));
}
