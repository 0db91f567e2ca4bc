// PSD writer: PackBits rows, the document structure it writes (parsed here
// independently of the reader), round trips through the reader for every
// pixel format, layers with masks, hidden and resampled layers, resources,
// refusals, and the save through the I/O object.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "imaging/io/formats/psd/PsdWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "PsdTestFile.h"

using namespace imaging;
using namespace psdtest;

namespace {

class PsdWriterTest : public ::testing::Test {
protected:
    void SetUp() override { PxInstallPSDFormat(); }
};

// Writes; returns the bytes, Aborted tells the flag.
std::vector<uint8_t> Write(TPxBitmap* Merged, TIOParamsVals& Params, const TPxPSDLayerList& Layers, bool& Aborted,
                           std::vector<int>* Percents = nullptr)
{
    classlib::TMemoryStream m;
    Aborted = false;
    TPxIOProgressInfo info;
    info.Aborting = &Aborted;
    if (Percents)
        info.Handler = TPxProgressEvent::FromFunction(
            [](void* List, classlib::TObject*, int Per) { static_cast<std::vector<int>*>(List)->push_back(Per); },
            Percents);
    PxWritePSD(&m, Params, info, Layers, Merged);
    return StreamBytes(m);
}

// ---- an independent reading of the structure

uint32_t Be32(const std::vector<uint8_t>& d, size_t p)
{
    return uint32_t(d.at(p)) << 24 | uint32_t(d.at(p + 1)) << 16 | uint32_t(d.at(p + 2)) << 8 | d.at(p + 3);
}
uint16_t Be16(const std::vector<uint8_t>& d, size_t p)
{
    return uint16_t(d.at(p) << 8 | d.at(p + 1));
}

struct TRecord {
    int32_t Top, Left, Bottom, Right;
    std::vector<std::pair<int16_t, uint32_t>> Channels;
    uint8_t Opacity, Clipping, Flags;
    uint32_t MaskLength;
    std::vector<uint8_t> MaskData;
    std::string Name;
    uint32_t ExtraLength;
};

struct TParsed {
    uint16_t Channels, Depth, Mode;
    uint32_t Rows, Columns;
    uint32_t ColourDataLength;
    std::map<uint16_t, std::vector<uint8_t>> Resources;
    int16_t LayerCount = 0;
    std::vector<TRecord> Records;
    size_t ChannelDataStart = 0;
    uint16_t MergedCompression = 0;
    size_t MergedStart = 0;
};

TParsed Parse(const std::vector<uint8_t>& d)
{
    TParsed r{};
    EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "8BPS");
    r.Channels = Be16(d, 12);
    r.Rows = Be32(d, 14);
    r.Columns = Be32(d, 18);
    r.Depth = Be16(d, 22);
    r.Mode = Be16(d, 24);
    size_t p = 26;
    r.ColourDataLength = Be32(d, p);
    p += 4 + r.ColourDataLength;
    const uint32_t resLen = Be32(d, p);
    EXPECT_EQ(resLen % 2, 0u);
    size_t q = p + 4;
    const size_t resEnd = q + resLen;
    while (q < resEnd) {
        EXPECT_EQ(std::string(d.begin() + q, d.begin() + q + 4), "8BIM");
        const uint16_t id = Be16(d, q + 4);
        EXPECT_EQ(Be16(d, q + 6), 0);  // empty name
        const uint32_t len = Be32(d, q + 8);
        r.Resources[id] = std::vector<uint8_t>(d.begin() + q + 12, d.begin() + q + 12 + len);
        q += 12 + len + (len & 1);
    }
    p = resEnd;
    const uint32_t layerLen = Be32(d, p);
    const size_t layerStart = p + 4;
    const uint32_t infoLen = Be32(d, layerStart);
    EXPECT_EQ(infoLen % 2, 0u);
    r.LayerCount = int16_t(Be16(d, layerStart + 4));
    q = layerStart + 6;
    for (int i = 0; i < r.LayerCount; ++i) {
        TRecord rec{};
        rec.Top = int32_t(Be32(d, q));
        rec.Left = int32_t(Be32(d, q + 4));
        rec.Bottom = int32_t(Be32(d, q + 8));
        rec.Right = int32_t(Be32(d, q + 12));
        const int c = Be16(d, q + 16);
        q += 18;
        for (int k = 0; k < c; ++k, q += 6)
            rec.Channels.push_back({int16_t(Be16(d, q)), Be32(d, q + 2)});
        EXPECT_EQ(std::string(d.begin() + q, d.begin() + q + 8), "8BIMnorm");
        rec.Opacity = d[q + 8];
        rec.Clipping = d[q + 9];
        rec.Flags = d[q + 10];
        rec.ExtraLength = Be32(d, q + 12);
        size_t e = q + 16;
        rec.MaskLength = Be32(d, e);
        rec.MaskData.assign(d.begin() + e + 4, d.begin() + e + 4 + rec.MaskLength);
        e += 4 + rec.MaskLength;
        e += 4 + Be32(d, e);  // blending ranges
        rec.Name.assign(d.begin() + e + 1, d.begin() + e + 1 + d[e]);
        q += 16 + rec.ExtraLength;
        r.Records.push_back(rec);
    }
    r.ChannelDataStart = q;
    size_t channelsEnd = q;
    for (const TRecord& rec : r.Records)
        for (const auto& ch : rec.Channels)
            channelsEnd += ch.second;
    EXPECT_LE(channelsEnd, layerStart + 4 + infoLen);
    EXPECT_GE(channelsEnd + 1, layerStart + 4 + infoLen);  // at most one padding byte
    p = layerStart + layerLen;
    r.MergedCompression = Be16(d, p);
    r.MergedStart = p + 2;
    return r;
}

// Fills the stored bytes of every row with a pattern (palette too).
void Pattern(TPxBitmap& b)
{
    for (int y = 0; y < b.GetHeight(); ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int i = 0; i < b.GetRowLen(); ++i)
            row[i] = uint8_t(i * 37 + y * 101 + (i % 3) * 50);
    }
    if (b.GetPixelFormat() == px8p)
        for (int i = 0; i < 256; ++i)
            b.SetPaletteEntry(i, TPxRGB{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
}

// ---- PackBits

TEST(PsdPackBits, RowsCodeAsRunsAndLiterals)
{
    std::vector<uint8_t> distinct(130);
    for (size_t i = 0; i < distinct.size(); ++i)
        distinct[i] = uint8_t(i);
    std::vector<uint8_t> distinctOut = {127};
    distinctOut.insert(distinctOut.end(), distinct.begin(), distinct.begin() + 128);
    distinctOut.insert(distinctOut.end(), {1, 128, 129});
    struct {
        const char* What;
        std::vector<uint8_t> Row, Coded;
    } const cases[] = {
        {"200 equal bytes: runs of 128 and 72", std::vector<uint8_t>(200, 0x41), {0x81, 0x41, 0xB9, 0x41}},
        {"3 equal then different: one literal", {1, 1, 1, 2, 3}, {4, 1, 1, 1, 2, 3}},
        {"4 equal: a run", {5, 5, 5, 5}, {0xFD, 5}},
        {"literal, run, literal", {1, 2, 2, 2, 2, 2, 3}, {0, 1, 0xFC, 2, 0, 3}},
        {"130 distinct: literals of 128 and 2", distinct, distinctOut},
        {"empty", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<uint8_t> out = {9, 9};
        PSDPackBitsRow(c.Row.data(), int(c.Row.size()), out);
        EXPECT_EQ(out, c.Coded);
    }
}

// ---- round trips

TEST_F(PsdWriterTest, EveryPixelFormatReadsBackTheSame)
{
    struct {
        TPxPixelFormat Format;
        int Width;
        uint16_t Mode, Depth, Channels;
        bool Alpha;
    } const cases[] = {
        {px24RGB, 5, 3, 8, 3, false}, {px24RGB, 5, 3, 8, 3, true}, {px8g, 6, 1, 8, 1, true},
        {px16g, 5, 1, 16, 1, false},  {pxRGB48, 4, 3, 16, 3, true}, {pxCMYK, 5, 4, 8, 4, false},
        {pxCIELab, 5, 9, 8, 3, false}, {px1g, 10, 0, 1, 1, false},  {px8p, 7, 2, 8, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << int(c.Format) << (c.Alpha ? " with alpha" : ""));
        TPxBitmap b(c.Width, 3, c.Format);
        Pattern(b);
        if (c.Alpha)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < c.Width; ++x)
                    b.SetAlpha(x, y, uint8_t(x * 60 + y));
        TIOParamsVals p(nullptr);
        bool aborted = false;
        const std::vector<uint8_t> doc = Write(&b, p, {}, aborted);
        ASSERT_FALSE(aborted);
        const TParsed s = Parse(doc);
        EXPECT_EQ(s.Mode, c.Mode);
        EXPECT_EQ(s.Depth, c.Depth);
        EXPECT_EQ(s.Channels, c.Channels);
        EXPECT_EQ(s.MergedCompression, 1);
        EXPECT_EQ(s.ColourDataLength, c.Format == px8p ? 768u : 0u);
        ASSERT_EQ(s.Records.size(), 1u);  // the image is its own layer
        EXPECT_EQ(s.Records[0].Channels.size(), size_t(c.Channels + (c.Alpha ? 1 : 0)));
        EXPECT_EQ(b.GetPixelFormat(), c.Format);  // the caller's image is untouched

        TPxBitmap back;
        TIOParamsVals q(nullptr);
        q.NativePixelFormat = true;
        TPxPSDLayerList layers;
        ASSERT_FALSE(ReadFails(doc, &back, q, &layers, false));
        ASSERT_EQ(back.GetPixelFormat(), c.Format);
        ASSERT_EQ(back.GetWidth(), c.Width);
        ASSERT_EQ(back.GetHeight(), 3);
        ASSERT_EQ(layers.size(), 1u);
        EXPECT_EQ(layers[0]->GetBitmap()->GetPixelFormat(), c.Format);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < c.Width; ++x) {
                EXPECT_EQ(back.GetPixelAsRGB(x, y), b.GetPixelAsRGB(x, y)) << x << "," << y;
                EXPECT_EQ(layers[0]->GetBitmap()->GetPixelAsRGB(x, y), b.GetPixelAsRGB(x, y));
            }
        if (c.Format != px1g && c.Format != px8p) {
            const size_t bytes = size_t(c.Width) * PxPixelFormatBits[c.Format] / 8;
            for (int y = 0; y < 3; ++y)
                EXPECT_EQ(std::memcmp(back.GetScanline(y), b.GetScanline(y), bytes), 0) << "row " << y;
        }
        if (c.Alpha) {
            // The merged image carries no alpha; the layer does.
            ASSERT_TRUE(layers[0]->GetBitmap()->HasAlphaChannel());
            EXPECT_EQ(layers[0]->GetBitmap()->GetAlpha(3, 2), 182);
        }
        if (c.Format == px8p) {
            // Resource 1047 names entry 255 transparent.
            ASSERT_EQ(s.Resources.count(1047), 1u);
            EXPECT_EQ(s.Resources.at(1047), (std::vector<uint8_t>{0, 255}));
            EXPECT_EQ(back.GetPaletteEntry(7), b.GetPaletteEntry(7));
            ASSERT_TRUE(back.HasAlphaChannel());
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < c.Width; ++x)
                    EXPECT_EQ(back.GetAlpha(x, y), b.GetPixelGray8(x, y) == 255 ? 0 : 255);
        }
    }
}

TEST_F(PsdWriterTest, ThirtyTwoBitImagesWriteRedFirstAndTheFourthByteAsAlpha)
{
    TPxBitmap b(2, 1, px32RGB);
    auto* px = reinterpret_cast<TPxRGB32*>(b.GetScanline(0));
    px[0] = {10, 20, 30, 40};
    px[1] = {50, 60, 70, 80};
    TIOParamsVals p(nullptr);
    bool aborted = false;
    const std::vector<uint8_t> doc = Write(&b, p, {}, aborted);
    ASSERT_FALSE(aborted);
    EXPECT_EQ(Parse(doc).Channels, 4);
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    ASSERT_FALSE(ReadFails(doc, &back, q));
    ASSERT_EQ(back.GetPixelFormat(), px24RGB);
    EXPECT_EQ(back.GetPixelRGB(0, 0), (TPxRGB{10, 20, 30}));
    EXPECT_EQ(back.GetPixelRGB(1, 0), (TPxRGB{50, 60, 70}));
    EXPECT_EQ(back.GetAlpha(1, 0), 80);
}

// ---- structure

TEST_F(PsdWriterTest, ImageWithoutLayersAndItsResources)
{
    TPxBitmap b(3, 2, px24RGB);
    b.Fill(0x336699);
    TIOParamsVals p(nullptr);
    p.DpiX = 300;
    p.DpiY = 150;
    p.XMPInfo = "<x:xmpmeta/>";
    p.EXIFBitmap = std::make_unique<TPxBitmap>(4, 2, px24RGB);
    p.EXIFBitmap->Fill(0x00FF00);
    if (p.IPTCInfo)
        p.IPTCInfo->AddItem(2, 120, 7, "Caption");
    const std::vector<uint8_t> profile = {1, 2, 3, 4, 5};
    if (TPxICC* icc = p.GetInputICCProfile())
        icc->LoadFromBuffer(profile.data(), int32_t(profile.size()));
    bool aborted = false;
    const std::vector<uint8_t> doc = Write(&b, p, {}, aborted);
    ASSERT_FALSE(aborted);
    const TParsed s = Parse(doc);
    EXPECT_EQ(s.Rows, 2u);
    EXPECT_EQ(s.Columns, 3u);
    ASSERT_EQ(s.LayerCount, 1);
    const TRecord& r = s.Records[0];
    EXPECT_EQ(r.Top, 0);
    EXPECT_EQ(r.Left, 0);
    EXPECT_EQ(r.Bottom, 2);
    EXPECT_EQ(r.Right, 3);
    EXPECT_EQ(r.Name, "");
    EXPECT_EQ(r.Opacity, 255);
    EXPECT_EQ(r.Flags, 0);
    EXPECT_EQ(r.MaskLength, 0u);
    EXPECT_EQ(r.ExtraLength % 4, 0u);
    ASSERT_EQ(r.Channels.size(), 3u);
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(r.Channels[size_t(t)].first, t);

    // Resolution in 16.16 fixed point.
    ASSERT_EQ(s.Resources.count(1005), 1u);
    const std::vector<uint8_t>& res = s.Resources.at(1005);
    ASSERT_EQ(res.size(), 16u);
    EXPECT_EQ(Be32(res, 0), 300u * 65536);
    EXPECT_EQ(Be32(res, 8), 150u * 65536);
    EXPECT_EQ(s.Resources.count(1047), 0u);
    ASSERT_EQ(s.Resources.count(1060), 1u);
    EXPECT_EQ(std::string(s.Resources.at(1060).begin(), s.Resources.at(1060).end()), "<x:xmpmeta/>");
    if (p.GetInputICCProfile()) {
        ASSERT_EQ(s.Resources.count(1039), 1u);
        EXPECT_EQ(s.Resources.at(1039), profile);
    }
    // Thumbnail: the 28-byte header, then JPEG data.
    ASSERT_EQ(s.Resources.count(1036), 1u);
    const std::vector<uint8_t>& th = s.Resources.at(1036);
    ASSERT_GT(th.size(), 30u);
    EXPECT_EQ(Be32(th, 0), 1u);
    EXPECT_EQ(Be32(th, 4), 4u);
    EXPECT_EQ(Be32(th, 8), 2u);
    EXPECT_EQ(Be32(th, 12), 12u);
    EXPECT_EQ(Be32(th, 16), 24u);
    EXPECT_EQ(Be32(th, 20), th.size() - 28);
    EXPECT_EQ(Be16(th, 24), 24);
    EXPECT_EQ(Be16(th, 26), 1);
    EXPECT_EQ(th[28], 0xFF);
    EXPECT_EQ(th[29], 0xD8);

    // The reader takes it all back.
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    ASSERT_FALSE(ReadFails(doc, &back, q));
    EXPECT_EQ(q.DpiX, 300);
    EXPECT_EQ(q.DpiY, 150);
    EXPECT_EQ(q.XMPInfo, "<x:xmpmeta/>");
    if (p.IPTCInfo) {
        EXPECT_EQ(s.Resources.count(1028), 1u);
        ASSERT_TRUE(q.IPTCInfo);
        // The block starts with the record-version dataset 2:0.
        ASSERT_EQ(q.IPTCInfo->GetCount(), 2);
        EXPECT_EQ(q.IPTCInfo->GetDataSet(0), 0);
        EXPECT_EQ(q.IPTCInfo->GetDataSet(1), 120);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(q.IPTCInfo->GetItemData(1)), 7), "Caption");
    }
    ASSERT_TRUE(q.EXIFBitmap);
    EXPECT_EQ(q.EXIFBitmap->GetWidth(), 4);
    EXPECT_EQ(back.GetPixelRGB(2, 1), b.GetPixelRGB(2, 1));
}

TEST_F(PsdWriterTest, LayersWithMaskHiddenAndResampledLayers)
{
    TPxBitmap merged(6, 4, px24RGB);
    merged.Fill(0xFFFFFF);
    TPxPSDLayerList layers;
    // A visible background, a hidden grey layer (converted in the file only)
    // with a mask, and a layer shown at twice its size.
    auto bottom = std::make_unique<TPxPSDLayer>();
    bottom->GetBitmap()->Allocate(6, 4, px24RGB);
    Pattern(*bottom->GetBitmap());
    bottom->Name = "Background";
    auto hidden = std::make_unique<TPxPSDLayer>();
    hidden->GetBitmap()->Allocate(2, 2, px8g);
    hidden->GetBitmap()->Fill(90);
    hidden->PosX = 3;
    hidden->PosY = 1;
    hidden->Visible = false;
    hidden->Transparency = 100;
    hidden->Name = std::string(300, 'n');  // cut to 255 bytes
    auto mask = std::make_unique<TPxPSDLayer>();
    mask->IsMask = true;
    mask->GetBitmap()->Allocate(3, 1, px8g);
    mask->GetBitmap()->Fill(200);
    mask->PosX = 2;
    mask->PosY = 2;
    TPxBitmap small(2, 1, px24RGB);
    small.Fill(0x0000FF);
    auto doubled = std::make_unique<TPxPSDLayer>(&small);  // shared, not freed
    doubled->Width = 4;
    doubled->Height = 2;
    doubled->UseResampleFilter = true;
    doubled->ResampleFilter = rfTriangle;
    layers.push_back(std::move(bottom));
    layers.push_back(std::move(hidden));
    layers.push_back(std::move(mask));
    layers.push_back(std::move(doubled));

    TIOParamsVals p(nullptr);
    bool aborted = false;
    std::vector<int> percents;
    const std::vector<uint8_t> doc = Write(&merged, p, layers, aborted, &percents);
    ASSERT_FALSE(aborted);
    EXPECT_EQ(percents, (std::vector<int>{0, 25, 75, 0, 33, 66}));
    // The caller's layers are not changed.
    EXPECT_EQ(layers[1]->GetBitmap()->GetPixelFormat(), px8g);
    EXPECT_EQ(small.GetWidth(), 2);

    const TParsed s = Parse(doc);
    ASSERT_EQ(s.LayerCount, 3);  // the mask has no record of its own
    const TRecord& h = s.Records[1];
    EXPECT_EQ(h.Flags, 2);
    EXPECT_EQ(h.Opacity, 100);
    EXPECT_EQ(h.Name, std::string(255, 'n'));
    EXPECT_EQ(s.Records[0].Flags, 0);
    ASSERT_EQ(h.Channels.size(), 4u);
    EXPECT_EQ(h.Channels[3].first, -2);
    ASSERT_EQ(h.MaskLength, 20u);
    EXPECT_EQ(Be32(h.MaskData, 0), 2u);   // top
    EXPECT_EQ(Be32(h.MaskData, 4), 2u);   // left
    EXPECT_EQ(Be32(h.MaskData, 8), 3u);   // bottom
    EXPECT_EQ(Be32(h.MaskData, 12), 5u);  // right
    const TRecord& d2 = s.Records[2];
    EXPECT_EQ(d2.Bottom - d2.Top, 2);
    EXPECT_EQ(d2.Right - d2.Left, 4);

    TPxBitmap back;
    TIOParamsVals q(nullptr);
    TPxPSDLayerList read;
    ASSERT_FALSE(ReadFails(doc, &back, q, &read, true));
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0]->Name, "Background");
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(read[0]->GetBitmap()->GetPixelRGB(x, y), layers[0]->GetBitmap()->GetPixelRGB(x, y));
    EXPECT_FALSE(read[1]->Visible);
    EXPECT_EQ(read[1]->PosX, 3);
    EXPECT_EQ(read[1]->GetBitmap()->GetPixelRGB(1, 1), (TPxRGB{90, 90, 90}));
    EXPECT_TRUE(read[2]->IsMask);
    EXPECT_EQ(read[2]->PosX, 2);
    ASSERT_EQ(read[2]->GetBitmap()->GetWidth(), 3);
    EXPECT_EQ(read[2]->GetBitmap()->GetPixelGray8(2, 0), 200);
    ASSERT_EQ(read[3]->GetBitmap()->GetWidth(), 4);
    EXPECT_EQ(read[3]->GetBitmap()->GetHeight(), 2);
    EXPECT_EQ(read[3]->GetBitmap()->GetPixelRGB(3, 1), (TPxRGB{0, 0, 255}));
}

TEST_F(PsdWriterTest, LayersOfAnIndexedDocumentUseItsPalette)
{
    TPxBitmap merged(2, 1, px8p);
    for (int i = 0; i < 256; ++i)
        merged.SetPaletteEntry(i, TPxRGB{uint8_t(i), 0, 0});  // blues
    merged.GetScanline(0)[0] = 10;
    merged.GetScanline(0)[1] = 20;
    TPxPSDLayerList layers;
    auto l = std::make_unique<TPxPSDLayer>();
    l->GetBitmap()->Allocate(2, 1, px24RGB);
    l->GetBitmap()->SetPixelRGB(0, 0, TPxRGB{200, 0, 0});
    l->GetBitmap()->SetPixelRGB(1, 0, TPxRGB{31, 2, 1});
    layers.push_back(std::move(l));
    TIOParamsVals p(nullptr);
    bool aborted = false;
    const std::vector<uint8_t> doc = Write(&merged, p, layers, aborted);
    ASSERT_FALSE(aborted);
    EXPECT_EQ(layers[0]->GetBitmap()->GetPixelFormat(), px24RGB);
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    q.NativePixelFormat = true;
    TPxPSDLayerList read;
    ASSERT_FALSE(ReadFails(doc, &back, q, &read, true));
    ASSERT_EQ(read.size(), 1u);
    TPxBitmap* rb = read[0]->GetBitmap();
    ASSERT_EQ(rb->GetPixelFormat(), px8p);
    EXPECT_EQ(rb->GetPixelGray8(0, 0), 200);
    EXPECT_EQ(rb->GetPixelGray8(1, 0), 31);
    EXPECT_EQ(rb->GetPixelAsRGB(0, 0), (TPxRGB{200, 0, 0}));
}

TEST_F(PsdWriterTest, SixteenBitDocumentsKeepAlphaAndMaskAsWideSamples)
{
    TPxBitmap merged(2, 2, px16g);
    TPxPSDLayerList layers;
    auto l = std::make_unique<TPxPSDLayer>();
    l->GetBitmap()->Allocate(2, 2, px16g);
    l->GetBitmap()->SetPixelGray16(1, 1, 0xABCD);
    l->GetBitmap()->SetAlpha(0, 1, 33);
    auto m = std::make_unique<TPxPSDLayer>();
    m->IsMask = true;
    m->GetBitmap()->Allocate(2, 1, px8g);
    m->GetBitmap()->SetPixelGray8(1, 0, 66);
    layers.push_back(std::move(l));
    layers.push_back(std::move(m));
    TIOParamsVals p(nullptr);
    bool aborted = false;
    const std::vector<uint8_t> doc = Write(&merged, p, layers, aborted);
    ASSERT_FALSE(aborted);
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    q.NativePixelFormat = true;
    TPxPSDLayerList read;
    ASSERT_FALSE(ReadFails(doc, &back, q, &read, true));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0]->GetBitmap()->GetPixelGray16(1, 1), 0xABCD);
    EXPECT_EQ(read[0]->GetBitmap()->GetAlpha(0, 1), 33);
    EXPECT_EQ(read[1]->GetBitmap()->GetPixelGray8(1, 0), 66);
}

TEST_F(PsdWriterTest, ImagesWithoutAModeAreRefusedAndNothingIsWritten)
{
    TPxBitmap floats(2, 2, px32f);
    TPxBitmap empty;
    TPxBitmap tooWide(70000, 1, px8g);
    for (TPxBitmap* b : {&floats, &empty, &tooWide}) {
        TIOParamsVals p(nullptr);
        bool aborted = false;
        EXPECT_TRUE(Write(b, p, {}, aborted).empty());
        EXPECT_TRUE(aborted);
    }
    TIOParamsVals p(nullptr);
    bool aborted = false;
    EXPECT_TRUE(Write(nullptr, p, {}, aborted).empty());
    EXPECT_TRUE(aborted);
}

TEST_F(PsdWriterTest, SavesAndLoadsThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallPSDFormat();
    {
        TPxBitmap b(5, 4, pxRGB48);
        Pattern(b);
        auto io = TImgIO::CreateForBitmap(&b);
        classlib::TMemoryStream m;
        io->SavePSDToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        EXPECT_EQ(b.GetPixelFormat(), pxRGB48);
        m.SetPosition(0);
        EXPECT_EQ(PxDetectStreamFormat(m), ffPSD);

        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->FileParams->NativePixelFormat = true;
        m.SetPosition(0);
        in->LoadPSDFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        ASSERT_EQ(back.GetPixelFormat(), pxRGB48);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::memcmp(back.GetScanline(y), b.GetScanline(y), 30), 0);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
