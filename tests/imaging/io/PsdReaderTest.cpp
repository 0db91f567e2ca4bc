// PSD reader: documents written by ImageMagick checked against its own
// decodes (tests/fixtures/io/psd/make_fixtures.sh), hand-made documents for
// the channel placement, resources, layer records and masks, and damaged
// data.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxByteOrder.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"
#include "PsdTestFile.h"

using namespace imaging;
using namespace psdtest;

namespace {

std::vector<uint8_t> Fixture(const std::string& Name) { return testsupport::FixtureBytes(L"io\\psd", Name); }

class PsdReaderTest : public ::testing::Test {
protected:
    void SetUp() override { PxInstallPSDFormat(); }
};

// ---- documents of another program

enum TRef { refRGB, refRGBA, refRGB16, refGray16, refGray1, refCMYK, refGrayAlpha };

struct TFixtureCase {
    const char* File;
    bool Native;
    TPxPixelFormat Format;
    const char* Reference;
    TRef Kind;
};

TEST_F(PsdReaderTest, DecodesImageMagickDocumentsLikeImageMagick)
{
    const TFixtureCase cases[] = {
        {"rgb8.psd", false, px24RGB, "rgb8.rgb", refRGB},          // PackBits
        {"raw8.psd", false, px24RGB, "raw8.rgb", refRGB},          // uncompressed
        {"rgb16.psd", true, pxRGB48, "rgb16.rgb16", refRGB16},
        {"gray16.psd", true, px16g, "gray16.gray16", refGray16},
        {"pal8.psd", true, px8p, "pal8.rgb", refRGB},
        {"mono.psd", false, px1g, "mono.gray", refGray1},          // 10 pixels a row, -128 no-op codes
        {"cmyk8.psd", true, pxCMYK, "cmyk8.cmyk", refCMYK},
        {"rgba8.psd", false, px24RGB, "rgba8.rgb", refRGBA},
        {"graya8.psd", true, px8g, "graya8.gray", refGrayAlpha},
    };
    for (const TFixtureCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = c.Native;
        ASSERT_FALSE(ReadFails(Fixture(c.File), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), c.Format);
        const int w = b.GetWidth(), h = b.GetHeight();
        EXPECT_EQ(w, p.Width);
        EXPECT_EQ(h, p.Height);
        const std::vector<uint8_t> ref = Fixture(c.Reference);
        const int per = c.Kind == refRGB || c.Kind == refRGBA ? 3 : c.Kind == refCMYK ? 4 : c.Kind == refRGB16 ? 6
                        : c.Kind == refGray16 ? 2 : 1;
        ASSERT_EQ(ref.size(), size_t(w) * h * per);
        std::vector<uint8_t> alphaRef;
        if (c.Kind == refGrayAlpha || c.Kind == refRGBA)
            alphaRef = Fixture(c.Kind == refRGBA ? "rgba8.alpha" : "graya8.alpha");
        EXPECT_EQ(b.HasAlphaChannel(), c.Kind == refRGBA || c.Kind == refGrayAlpha);
        int bad = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* r = &ref[(size_t(y) * w + x) * per];
                bool ok = true;
                switch (c.Kind) {
                case refRGB: {
                    const TPxRGB v = b.GetPixelAsRGB(x, y);
                    ok = v.r == r[0] && v.g == r[1] && v.b == r[2];
                    break;
                }
                case refRGBA: {
                    const TPxRGB v = b.GetPixelRGB(x, y);
                    ok = v.r == r[0] && v.g == r[1] && v.b == r[2] && b.GetAlpha(x, y) == alphaRef[size_t(y) * w + x];
                    break;
                }
                case refRGB16: {
                    const TPxRGB48 v = b.GetPixelRGB48(x, y);
                    ok = v.r == (r[0] << 8 | r[1]) && v.g == (r[2] << 8 | r[3]) && v.b == (r[4] << 8 | r[5]);
                    break;
                }
                case refGray16: ok = b.GetPixelGray16(x, y) == (r[0] << 8 | r[1]); break;
                case refGray1: ok = b.GetPixelAsRGB(x, y).r == r[0]; break;
                case refCMYK: {
                    // Ink amounts; the image keeps them inverted (255 no ink).
                    const TPxCMYK v = b.GetPixelCMYK(x, y);
                    ok = v.c == 255 - r[0] && v.m == 255 - r[1] && v.y == 255 - r[2] && v.k == 255 - r[3];
                    break;
                }
                case refGrayAlpha:
                    ok = b.GetPixelGray8(x, y) == r[0] && b.GetAlpha(x, y) == alphaRef[size_t(y) * w + x];
                    break;
                }
                bad += ok ? 0 : 1;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(PsdReaderTest, ImageMagickLayersGoToTheListOrTheMergedImageIsRead)
{
    const std::vector<uint8_t> doc = Fixture("layers.psd");
    {
        TPxBitmap b(1, 1, px24RGB);
        TIOParamsVals p(nullptr);
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(doc, &b, p, &layers, true));
        ASSERT_EQ(layers.size(), 2u);
        // Layers loaded: the merged image is not decoded.
        EXPECT_EQ(b.GetWidth(), 1);
        struct {
            int X, Y, W, H;
            const char* Name;
            const char* Reference;
        } const want[] = {{1, 1, 3, 2, "first", "layers1.rgb"}, {4, 0, 2, 3, "second", "layers2.rgb"}};
        for (size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            TPxPSDLayer& l = *layers[i];
            EXPECT_EQ(l.PosX, want[i].X);
            EXPECT_EQ(l.PosY, want[i].Y);
            EXPECT_EQ(l.Name, want[i].Name);
            EXPECT_TRUE(l.Visible);
            EXPECT_FALSE(l.IsMask);
            EXPECT_EQ(l.Transparency, 255);
            ASSERT_EQ(l.GetBitmap()->GetWidth(), want[i].W);
            ASSERT_EQ(l.GetBitmap()->GetHeight(), want[i].H);
            EXPECT_EQ(l.GetBitmap()->GetPixelFormat(), px24RGB);
            const std::vector<uint8_t> ref = Fixture(want[i].Reference);
            ASSERT_EQ(ref.size(), size_t(want[i].W) * want[i].H * 3);
            for (int y = 0; y < want[i].H; ++y)
                for (int x = 0; x < want[i].W; ++x) {
                    const uint8_t* r = &ref[(size_t(y) * want[i].W + x) * 3];
                    EXPECT_EQ(l.GetBitmap()->GetPixelRGB(x, y), (TPxRGB{r[2], r[1], r[0]}));
                }
        }
    }
    {
        // Two layers without the request: nothing in the list, the merged image read.
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(doc, &b, p, &layers, false));
        EXPECT_TRUE(layers.empty());
        const std::vector<uint8_t> ref = Fixture("layers.rgb");
        ASSERT_EQ(b.GetWidth(), 7);
        ASSERT_EQ(b.GetHeight(), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const uint8_t* r = &ref[(size_t(y) * 7 + x) * 3];
                EXPECT_EQ(b.GetPixelRGB(x, y), (TPxRGB{r[2], r[1], r[0]}));
            }
    }
}

// Deflated channels (tests/fixtures/io/psd/make_zip.py), plain and with the
// row prediction, in layers and in the merged image, 8 and 16 bits.
TEST_F(PsdReaderTest, DeflatedChannelsDecode)
{
    // 16-bit samples as the big-endian R G B words of a reference file.
    auto expect48 = [](TPxBitmap& Bitmap, const std::vector<uint8_t>& Ref) {
        ASSERT_EQ(Bitmap.GetPixelFormat(), pxRGB48);
        ASSERT_EQ(Ref.size(), size_t(Bitmap.GetWidth()) * Bitmap.GetHeight() * 6);
        for (int y = 0; y < Bitmap.GetHeight(); ++y)
            for (int x = 0; x < Bitmap.GetWidth(); ++x)
                for (int c = 0; c < 3; ++c) {
                    uint16_t v = 0;
                    std::memcpy(&v, Bitmap.GetScanline(y) + 6 * x + 2 * c, 2);
                    const size_t at = (size_t(y) * Bitmap.GetWidth() + x) * 6 + 2 * c;
                    EXPECT_EQ(v, PxBe16(&Ref[at])) << x << "," << y << " channel " << c;
                }
    };
    {
        TIOParamsVals p(nullptr);
        TPxBitmap b;
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(Fixture("zip-layers8.psd"), &b, p, &layers, true));
        ASSERT_EQ(layers.size(), 2u);
        const char* refs[] = {"zip-layers8-zip.rgb", "zip-layers8-pred.rgb"};
        for (size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(refs[i]);
            TPxBitmap& l = *layers[i]->GetBitmap();
            const std::vector<uint8_t> ref = Fixture(refs[i]);
            ASSERT_EQ(l.GetWidth(), 4);
            ASSERT_EQ(l.GetHeight(), 2);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 4; ++x) {
                    const uint8_t* r = &ref[(size_t(y) * 4 + x) * 3];
                    EXPECT_EQ(l.GetPixelRGB(x, y), (TPxRGB{r[2], r[1], r[0]})) << x << "," << y;
                }
        }
    }
    {
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        TPxBitmap b;
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(Fixture("zip-16.psd"), &b, p, &layers, true));
        ASSERT_EQ(layers.size(), 1u);
        expect48(*layers[0]->GetBitmap(), Fixture("zip-16-pred16.rgb16"));
        TPxBitmap merged;
        ASSERT_FALSE(ReadFails(Fixture("zip-16.psd"), &merged, p));
        expect48(merged, Fixture("zip-16.rgb16"));
    }
    {
        // 8-bit grey merged image in one zlib stream.
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        TPxBitmap b;
        ASSERT_FALSE(ReadFails(Fixture("zipmerged.psd"), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), px8g);
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(b.GetScanline(x / 4)[x % 4], x);
    }
    {
        // Damaged or short deflated data fail the read: the zlib data start
        // after the 26-byte header, three empty sections and the code word.
        const size_t zlibAt = 26 + 3 * 4 + 2;
        std::vector<uint8_t> cut = Fixture("zipmerged.psd");
        cut.resize(zlibAt + 4);
        std::vector<uint8_t> bad = Fixture("zipmerged.psd");
        bad[zlibAt] = 0;  // not a zlib header
        for (const auto& bytes : {cut, bad}) {
            TIOParamsVals p(nullptr);
            TPxBitmap b;
            EXPECT_TRUE(ReadFails(bytes, &b, p));
        }
    }
}

TEST_F(PsdReaderTest, SystemBitmapDestinationIsDecodedThroughACopy)
{
    // A 16-bit grey document cannot be decoded into system-bitmap storage
    // channel by channel; the destination receives the finished image.
    TPxBitmap b(1, 1, px24RGB);
    b.SetLocation(pxTBitmap);
    ASSERT_EQ(b.GetLocation(), pxTBitmap);
    TIOParamsVals p(nullptr);
    ASSERT_FALSE(ReadFails(Fixture("gray16.psd"), &b, p));
    ASSERT_EQ(b.GetWidth(), 7);
    ASSERT_EQ(b.GetHeight(), 5);
    const std::vector<uint8_t> ref = Fixture("gray16.gray16");
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(b.GetPixelAsRGB(x, y).g, ref[(size_t(y) * 7 + x) * 2]);
}

TEST_F(PsdReaderTest, ResolutionFromResource1005ElseNinetySix)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    ASSERT_FALSE(ReadFails(Fixture("dpi300.psd"), &b, p));
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_EQ(p.DpiY, 300);

    TDoc d;
    d.Channels = 1;
    d.Mode = 1;
    d.Image = {1, 2, 3, 4};
    ASSERT_FALSE(ReadFails(d.Build(), &b, p));
    EXPECT_EQ(p.DpiX, 96);
    EXPECT_EQ(p.DpiY, 96);
}

// ---- header

TEST_F(PsdReaderTest, BadHeadersFailAndChangeNothing)
{
    struct {
        const char* What;
        uint16_t Version, Channels, Depth, Mode;
    } const cases[] = {
        {"25 channels", 1, 25, 8, 3}, {"no channels", 1, 0, 8, 3}, {"depth 0", 1, 3, 0, 3},
        {"depth 17", 1, 3, 17, 3},    {"mode 10", 1, 3, 8, 10},    {"version 2", 2, 3, 8, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TDoc d;
        d.Version = c.Version;
        d.Channels = c.Channels;
        d.Depth = c.Depth;
        d.Mode = c.Mode;
        d.Image.assign(12, 7);
        const std::vector<uint8_t> bytes = d.Build();
        TPxBitmap b(3, 3, px8g);
        TIOParamsVals p(nullptr);
        p.Width = 123;
        p.DpiX = 55;
        TPxPSDLayerList layers;
        EXPECT_TRUE(ReadFails(bytes, &b, p, &layers, true));
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
        EXPECT_EQ(p.Width, 123);
        EXPECT_EQ(p.DpiX, 55);
        EXPECT_TRUE(layers.empty());

        classlib::TMemoryStream m;
        SetBytes(m, bytes);
        m.SetPosition(0);
        EXPECT_FALSE(PxIsPSD(m));
        EXPECT_EQ(m.GetPosition(), 0);
    }
    TDoc good;
    good.Image.assign(12, 7);
    classlib::TMemoryStream m;
    SetBytes(m, good.Build());
    EXPECT_TRUE(PxIsPSD(m));
    EXPECT_EQ(PxDetectStreamFormat(m), ffPSD);
}

// ---- channel placement on hand-made documents

TEST_F(PsdReaderTest, ChannelsLandByColourMode)
{
    {
        // Grey with a second channel: alpha.
        TDoc d;
        d.Channels = 2;
        d.Mode = 1;
        d.Image = {10, 20, 30, 40, /*alpha*/ 0, 255, 128, 7};
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        ASSERT_FALSE(ReadFails(d.Build(), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), px8g);
        EXPECT_EQ(b.GetPixelGray8(1, 1), 40);
        ASSERT_TRUE(b.HasAlphaChannel());
        EXPECT_EQ(b.GetAlpha(0, 0), 0);
        EXPECT_EQ(b.GetAlpha(1, 1), 7);
        EXPECT_EQ(p.SamplesPerPixel, 2);
    }
    {
        // RGB with five channels: the fourth is alpha, the fifth is ignored.
        TDoc d;
        d.Channels = 5;
        d.Rows = 1;
        d.Image = {1, 2, /*g*/ 3, 4, /*b*/ 5, 6, /*a*/ 200, 100, /*extra*/ 9, 9};
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadFails(d.Build(), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), px24RGB);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{5, 3, 1}));
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{6, 4, 2}));
        EXPECT_EQ(b.GetAlpha(0, 0), 200);
        EXPECT_EQ(b.GetAlpha(1, 0), 100);
    }
    {
        // Lab: a and b become signed (stored 128 is 0).
        TDoc d;
        d.Mode = 9;
        d.Rows = 1;
        d.Image = {200, 50, /*a*/ 128, 255, /*b*/ 0, 130};
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        ASSERT_FALSE(ReadFails(d.Build(), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), pxCIELab);
        const auto* px = reinterpret_cast<const TPxCIELab*>(b.GetScanline(0));
        EXPECT_EQ(px[0], (TPxCIELab{200, 0, -128}));
        EXPECT_EQ(px[1], (TPxCIELab{50, 127, 2}));
    }
    {
        // 16-bit CMYK keeps the high byte of each sample.
        TDoc d;
        d.Channels = 4;
        d.Depth = 16;
        d.Mode = 4;
        d.Rows = 1;
        d.Columns = 1;
        d.Image = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        ASSERT_FALSE(ReadFails(d.Build(), &b, p));
        ASSERT_EQ(b.GetPixelFormat(), pxCMYK);
        EXPECT_EQ(b.GetPixelCMYK(0, 0), (TPxCMYK{0x12, 0x56, 0x9A, 0xDE}));
    }
}

TEST_F(PsdReaderTest, IndexedWithTransparentIndexGetsAlpha)
{
    TDoc d;
    d.Channels = 1;
    d.Mode = 2;
    d.ColourData.assign(768, 0);
    for (int i = 0; i < 256; ++i) {
        d.ColourData[size_t(i)] = uint8_t(i);
        d.ColourData[256 + size_t(i)] = uint8_t(255 - i);
        d.ColourData[512 + size_t(i)] = 9;
    }
    d.Resources.push_back({1047, {0, 3}, ""});
    d.Image = {3, 4, 5, 3};
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.NativePixelFormat = true;
    ASSERT_FALSE(ReadFails(d.Build(), &b, p));
    ASSERT_EQ(b.GetPixelFormat(), px8p);
    EXPECT_EQ(b.GetPaletteEntry(4), (TPxRGB{9, 251, 4}));
    EXPECT_EQ(b.GetPixelGray8(1, 0), 4);
    ASSERT_TRUE(b.HasAlphaChannel());
    EXPECT_EQ(b.GetAlpha(0, 0), 0);
    EXPECT_EQ(b.GetAlpha(1, 0), 255);
    EXPECT_EQ(b.GetAlpha(0, 1), 255);
    EXPECT_EQ(b.GetAlpha(1, 1), 0);

    // Converted to RGB the alpha stays.
    p.NativePixelFormat = false;
    ASSERT_FALSE(ReadFails(d.Build(), &b, p));
    EXPECT_EQ(b.GetPixelFormat(), px24RGB);
    EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{9, 251, 4}));
    EXPECT_EQ(b.GetAlpha(1, 1), 0);
}

// ---- resources

TEST_F(PsdReaderTest, ResourcesAfterANamedOneAreRead)
{
    TDoc d;
    d.Channels = 1;
    d.Mode = 1;
    d.Image = {1, 2, 3, 4};
    d.Resources.push_back({1000, {1, 2, 3}, "C:\\saved\\path"});
    d.Resources.push_back({1005, {0x01, 0x2C, 0, 0, 0, 1, 0, 1, 0x00, 0x48, 0, 0, 0, 1, 0, 1}, ""});
    d.Resources.push_back({1060, {'<', 'x', '/', '>'}, ""});
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    ASSERT_FALSE(ReadFails(d.Build(), &b, p));
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_EQ(p.DpiY, 72);
    EXPECT_EQ(p.XMPInfo, "<x/>");
    EXPECT_EQ(b.GetWidth(), 2);
}

TEST_F(PsdReaderTest, EmbeddedThumbnailReplacesTheImageWhenAsked)
{
    // A JPEG thumbnail of 4 x 3 behind the 28-byte thumbnail header.
    TPxBitmap thumb(4, 3, px24RGB);
    thumb.Fill(0x0000FF);
    classlib::TMemoryStream jpeg;
    TIOParamsVals jp(nullptr);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    PxWriteJPEG(&jpeg, &thumb, jp, info);
    ASSERT_FALSE(aborting);
    TBytes res;
    res.U32(1).U32(4).U32(3).U32(12).U32(36).U32(uint32_t(jpeg.GetSize())).U16(24).U16(1).Add(StreamBytes(jpeg));

    TDoc d;
    d.Rows = 1;
    d.Columns = 1;
    d.Image = {1, 2, 3};
    d.Resources.push_back({1036, res.D, ""});
    TLayerDef l;
    l.Bottom = l.Right = 1;
    l.Channels = {{0, RawChannel({1})}, {1, RawChannel({2})}, {2, RawChannel({3})}};
    d.Layers = LayerSection({l, l}, 2);

    for (bool use : {false, true}) {
        SCOPED_TRACE(use);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.UseEmbeddedThumbnail = use;
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(d.Build(), &b, p, &layers, true));
        ASSERT_TRUE(p.EXIFBitmap);
        EXPECT_EQ(p.EXIFBitmap->GetWidth(), 4);
        EXPECT_EQ(p.EXIFBitmap->GetHeight(), 3);
        if (use) {
            EXPECT_TRUE(layers.empty());
            ASSERT_EQ(b.GetWidth(), 4);
            const TPxRGB c = b.GetPixelRGB(1, 1);
            EXPECT_GT(c.r, 240);
            EXPECT_LT(c.b, 16);
        } else {
            EXPECT_EQ(layers.size(), 2u);
            EXPECT_EQ(b.GetWidth(), 0);  // the layers were loaded, not the merged image
        }
    }
}

// ---- layers

TEST_F(PsdReaderTest, LayerRecordsGiveLayerProperties)
{
    TDoc d;
    d.Rows = 2;
    d.Columns = 3;
    d.Image.assign(18, 0);
    TLayerDef a;
    a.Top = 1;
    a.Left = -1;
    a.Bottom = 2;
    a.Right = 1;  // 2 x 1
    a.Opacity = 128;
    a.Clipping = 1;
    a.Flags = 2;  // hidden
    a.Name = "Back";
    a.Channels = {{-1, RawChannel({255, 0})}, {0, RawChannel({10, 11})}, {1, RawChannel({20, 21})},
                  {2, RawChannel({30, 31})}, {-3, RawChannel({99, 99})}};  // -3 is passed over by its length
    TLayerDef m;
    m.Bottom = 1;
    m.Right = 2;  // 2 x 1
    m.Name = "With mask";
    m.HasMask = true;
    m.MaskTop = 1;
    m.MaskLeft = 2;
    m.MaskBottom = 2;
    m.MaskRight = 3;  // 1 x 1
    m.Channels = {{0, RawChannel({1, 2})}, {1, RawChannel({3, 4})}, {2, RawChannel({5, 6})}, {-2, RawChannel({77})}};
    TLayerDef after;  // follows a mask: the cursor passes it
    after.Bottom = 1;
    after.Right = 1;
    after.Channels = {{0, RawChannel({40})}, {1, RawChannel({50})}, {2, RawChannel({60})}};
    d.Layers = LayerSection({a, m, after}, -3);  // a negative count counts as its absolute value

    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TPxPSDLayerList layers;
    std::vector<int> percents;
    ASSERT_FALSE(ReadFails(d.Build(), &b, p, &layers, true, &percents));
    ASSERT_EQ(layers.size(), 4u);
    EXPECT_EQ(percents, (std::vector<int>{0, 0, 33, 66}));

    const TPxPSDLayer& la = *layers[0];
    EXPECT_EQ(la.PosX, -1);
    EXPECT_EQ(la.PosY, 1);
    EXPECT_EQ(la.Transparency, 128);
    EXPECT_FALSE(la.Visible);
    EXPECT_FALSE(la.Cropped);
    EXPECT_EQ(la.Name, "Back");
    EXPECT_EQ(la.GetBitmap()->GetPixelRGB(1, 0), (TPxRGB{31, 21, 11}));
    EXPECT_EQ(la.GetBitmap()->GetAlpha(0, 0), 255);
    EXPECT_EQ(la.GetBitmap()->GetAlpha(1, 0), 0);

    const TPxPSDLayer& lm = *layers[1];
    EXPECT_TRUE(lm.Visible);
    EXPECT_TRUE(lm.Cropped);
    EXPECT_EQ(lm.GetBitmap()->GetPixelRGB(0, 0), (TPxRGB{5, 3, 1}));
    EXPECT_FALSE(lm.GetBitmap()->HasAlphaChannel());

    const TPxPSDLayer& mask = *layers[2];
    EXPECT_TRUE(mask.IsMask);
    EXPECT_FALSE(mask.Visible);
    EXPECT_EQ(mask.PosX, 2);
    EXPECT_EQ(mask.PosY, 1);
    ASSERT_EQ(mask.GetBitmap()->GetPixelFormat(), px8g);
    EXPECT_EQ(mask.GetBitmap()->GetPixelGray8(0, 0), 77);

    EXPECT_EQ(layers[3]->GetBitmap()->GetPixelRGB(0, 0), (TPxRGB{60, 50, 40}));
    // Layers were loaded: no merged image.
    EXPECT_TRUE(b.IsEmpty());
}

TEST_F(PsdReaderTest, OneLayerIsReadEvenWithoutTheRequestAndTheMergedImageToo)
{
    TDoc d;
    d.Rows = 1;
    d.Columns = 2;
    d.Image = {1, 2, 3, 4, 5, 6};
    TLayerDef l;
    l.Bottom = 1;
    l.Right = 1;
    l.Channels = {{0, RawChannel({7})}, {1, RawChannel({8})}, {2, RawChannel({9})}};
    d.Layers = LayerSection({l}, 1);
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TPxPSDLayerList layers;
    ASSERT_FALSE(ReadFails(d.Build(), &b, p, &layers, false));
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0]->GetBitmap()->GetPixelRGB(0, 0), (TPxRGB{9, 8, 7}));
    ASSERT_EQ(b.GetWidth(), 2);
    EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{6, 4, 2}));

    // Without a list the layers are skipped and the merged image read.
    TPxBitmap c;
    ASSERT_FALSE(ReadFails(d.Build(), &c, p, nullptr, true));
    EXPECT_EQ(c.GetPixelRGB(0, 0), (TPxRGB{5, 3, 1}));
}

TEST_F(PsdReaderTest, EmptyLayerGoesWithItsMask)
{
    TDoc d;
    d.Image.assign(12, 0);
    TLayerDef empty;  // 0 x 0, with a 1 x 1 mask
    empty.HasMask = true;
    empty.MaskBottom = empty.MaskRight = 1;
    empty.Channels = {{0, RawChannel({})}, {-2, RawChannel({5})}};
    TLayerDef kept;
    kept.Bottom = kept.Right = 1;
    kept.Name = "kept";
    kept.Channels = {{0, RawChannel({1})}, {1, RawChannel({1})}, {2, RawChannel({1})}};
    d.Layers = LayerSection({empty, kept}, 2);
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TPxPSDLayerList layers;
    ASSERT_FALSE(ReadFails(d.Build(), &b, p, &layers, true));
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0]->Name, "kept");
}

// ---- damaged data: fail cleanly, never crash

TEST_F(PsdReaderTest, DamagedDocumentsFailCleanly)
{
    TDoc base;
    base.Image.assign(12, 1);
    const std::vector<uint8_t> good = base.Build();

    std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
    cases.push_back({"cut after the header", std::vector<uint8_t>(good.begin(), good.begin() + 26)});
    cases.push_back({"cut in the image", std::vector<uint8_t>(good.begin(), good.end() - 3)});
    {
        TDoc d = base;  // a huge image over a few bytes of raw data
        d.Rows = d.Columns = 0x7FFFFFFF;
        cases.push_back({"huge raw", d.Build()});
        d.Compression = 1;
        d.Image.assign(40, 0);
        cases.push_back({"huge packed", d.Build()});
    }
    {
        TDoc d = base;  // row counts promising far more data than there is
        d.Compression = 1;
        d.Image = {0, 200, 0, 200, 0, 200, 0, 200, 0, 200, 0, 200, 1, 2};
        cases.push_back({"row counts past the end", d.Build()});
    }
    {
        TDoc d = base;  // a layer record announcing 65535 channels
        TBytes l;
        l.U32(0).U16(1).U32(0).U32(0).U32(1).U32(1).U16(65535).U16(0).U32(1);
        d.Layers = l.D;
        cases.push_back({"65535 channels", d.Build()});
    }
    {
        TDoc d = base;  // a resource longer than the file
        TBytes r;
        r.Str("8BIM").U16(1005).U16(0).U32(0x7FFFFFF0);
        std::vector<uint8_t> bytes = d.Build();
        // Replace the empty resource section by this block.
        std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 30);
        TBytes len;
        len.U32(uint32_t(r.Size()));
        out.insert(out.end(), len.D.begin(), len.D.end());
        out.insert(out.end(), r.D.begin(), r.D.end());
        out.insert(out.end(), bytes.begin() + 34, bytes.end());
        cases.push_back({"resource past the end", out});
    }
    for (auto& c : cases) {
        SCOPED_TRACE(c.first);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TPxPSDLayerList layers;
        const bool failed = ReadFails(c.second, &b, p, &layers, true);
        if (std::string(c.first) == "resource past the end") {
            // The resource scan ends; the image after the section is read.
            EXPECT_FALSE(failed);
            EXPECT_EQ(b.GetWidth(), 2);
        } else {
            EXPECT_TRUE(failed);
            EXPECT_LE(int64_t(b.GetWidth()) * b.GetHeight(), 4);
        }
    }
}

// ---- no load ends in success without pixels

// Loads Bytes through the I/O object's PSD stream load; the image and the
// reason of a failure.
struct TLoadResult {
    bool Failed = false;
    TPxReadFailure Why = TPxReadFailure::None;
    int Width = 0, Height = 0;
};

TLoadResult LoadThroughIO(const std::vector<uint8_t>& Bytes)
{
    TPxBitmap b;
    auto io = TImgIO::CreateForBitmap(&b);
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    io->LoadPSDFromStream(&m);
    return {io->AbortFlag, io->GetLastFailure(), b.GetWidth(), b.GetHeight()};
}

class PsdLoadTest : public PsdReaderTest {
protected:
    void SetUp() override
    {
        existed_ = PxFormatRegistryExists();
        if (!existed_)
            PxBuildFormatRegistry();
        PxInstallPSDFormat();
    }
    void TearDown() override
    {
        if (!existed_)
            PxFreeFormatRegistry();
    }
    bool existed_ = false;
};

// Documents of tests/fixtures/io/psd/make_refused.py: headers and merged
// data that leave nothing to show are refused with their reason.
TEST_F(PsdLoadTest, DocumentsWithNothingToShowAreRefusedWithAReason)
{
    const struct {
        const char* File;
        TPxReadFailure Why;
    } cases[] = {
        {"bitmap16.psd", TPxReadFailure::Unsupported},  // Bitmap mode at 16 bits
        {"mode5.psd", TPxReadFailure::Unsupported},     // a mode without pixel format
        {"rgb1chan.psd", TPxReadFailure::BadHeader},    // RGB with one channel
        {"badcode.psd", TPxReadFailure::Corrupt},       // compression 7
        {"reserved.psd", TPxReadFailure::BadHeader},    // reserved header bytes not zero
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const TLoadResult r = LoadThroughIO(Fixture(c.File));
        EXPECT_TRUE(r.Failed);
        EXPECT_EQ(r.Why, c.Why);
        EXPECT_EQ(r.Width, 0);
    }
    // An indexed document whose colour data are not a whole palette.
    std::vector<uint8_t> shortPalette = Fixture("pal8.psd");
    ASSERT_EQ(shortPalette[26 + 2], 0x03);
    shortPalette[26 + 2] = 0x02;
    shortPalette[26 + 3] = 0xF0;
    const TLoadResult r = LoadThroughIO(shortPalette);
    EXPECT_TRUE(r.Failed);
    EXPECT_EQ(r.Why, TPxReadFailure::BadHeader);
    EXPECT_EQ(r.Width, 0);
}

// Every fixture with its header's mode, depth and channel count replaced by
// every combination, and its section lengths and merged compression word
// replaced by values around and far from the true ones: each load either
// fails with the aborting flag or gives the picture its header announces.
TEST_F(PsdLoadTest, MutatedDocumentsLoadThePictureOrFail)
{
    const char* files[] = {"rgb8.psd", "raw8.psd", "rgb16.psd", "gray16.psd", "pal8.psd", "mono.psd",
                           "cmyk8.psd", "rgba8.psd", "graya8.psd", "layers.psd", "dpi300.psd"};
    int loads = 0, failed = 0;
    auto check = [&](const std::vector<uint8_t>& Bytes, const std::string& What) {
        const TLoadResult r = LoadThroughIO(Bytes);
        ++loads;
        if (r.Failed) {
            ++failed;
            return;
        }
        ASSERT_EQ(r.Width, int(PxBe32(&Bytes[18]))) << What;
        ASSERT_EQ(r.Height, int(PxBe32(&Bytes[14]))) << What;
        ASSERT_GT(r.Width, 0) << What;
    };
    for (const char* file : files) {
        const std::vector<uint8_t> good = Fixture(file);
        ASSERT_GT(good.size(), 40u);
        for (uint16_t mode = 0; mode <= 9; ++mode)
            for (uint16_t depth : {1, 2, 4, 8, 16})
                for (uint16_t channels = 1; channels <= 5; ++channels) {
                    std::vector<uint8_t> m = good;
                    m[12] = uint8_t(channels >> 8), m[13] = uint8_t(channels);
                    m[22] = uint8_t(depth >> 8), m[23] = uint8_t(depth);
                    m[24] = uint8_t(mode >> 8), m[25] = uint8_t(mode);
                    check(m, std::string(file) + " mode " + std::to_string(mode) + " depth " + std::to_string(depth) +
                                 " channels " + std::to_string(channels));
                    if (HasFatalFailure())
                        return;
                }
        // The three section lengths, then the compression word after them.
        size_t at = 26;
        for (int section = 0; section < 4; ++section) {
            ASSERT_LE(at + 4, good.size());
            const uint32_t length = section < 3 ? PxBe32(&good[at]) : 0;
            const uint32_t values[] = {0,          1,          2,          3,         length - 1, length + 1,
                                       length + 2, length + 7, 0x7FFFFFFF, 0xFFFFFFFF, 0x00010000};
            for (uint32_t v : values) {
                std::vector<uint8_t> m = good;
                if (section < 3) {
                    for (int i = 0; i < 4; ++i)
                        m[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
                } else {
                    m[at] = uint8_t(v >> 8), m[at + 1] = uint8_t(v);
                }
                check(m, std::string(file) + " section " + std::to_string(section) + " = " + std::to_string(v));
                if (HasFatalFailure())
                    return;
            }
            at += 4 + length;
        }
    }
    // The sweep reached both outcomes.
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, loads);
}

TEST_F(PsdReaderTest, LoadsThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallPSDFormat();
    {
        TPxBitmap b;
        auto io = TImgIO::CreateForBitmap(&b);
        classlib::TMemoryStream m;
        SetBytes(m, Fixture("rgb8.psd"));
        io->LoadPSDFromStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        EXPECT_EQ(io->FileParams->FileFormat, ffPSD);
        EXPECT_EQ(b.GetWidth(), 7);
        EXPECT_EQ(b.GetPixelFormat(), px24RGB);

        SetBytes(m, {'8', 'B', 'P', 'S', 0, 1});
        io->LoadPSDFromStream(&m);
        EXPECT_TRUE(io->AbortFlag);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
