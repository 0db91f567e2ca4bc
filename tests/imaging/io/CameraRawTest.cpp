// Camera raw reader: a small DNG made by tests/fixtures/io/raw (a red half
// and a grey half seen through an RGGB filter, sRGB camera primaries, a
// one-colour preview in IFD0) decoded to the values the output table gives
// for its known linear data; half size, 16-bit output, the preview and
// histogram matching, parameters-only reads, unrecognised and damaged data,
// the CIFF heap reader, and the SuperCCD turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/formats/raw/CameraRawReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMakerNote.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

// The fixture's scene (make_raw_fixtures.py).
constexpr int kRed = 700, kGrey = 1000, kWhiteLevel = 4095;
const TPxRGB kPreview{150, 100, 50};  // blue, green, red

std::vector<uint8_t> LoadBytes(const std::wstring& Name) { return testsupport::FixtureBytes(L"io\\raw", Name); }

void Collect(void* Context, classlib::TObject*, int Per) { static_cast<std::vector<int>*>(Context)->push_back(Per); }

struct TRawRead {
    bool Aborted = false;
    std::vector<int> Percents;
};

TRawRead ReadRaw(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly = false)
{
    classlib::TMemoryStream m;
    if (!Bytes.empty())
        m.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    m.SetPosition(0);
    TRawRead r;
    TPxIOProgressInfo info;
    info.Aborting = &r.Aborted;
    info.Handler = TPxProgressEvent::FromFunction(Collect, &r.Percents);
    PxReadRAW(&m, &Bitmap, Params, ParamsOnly, info);
    return r;
}

// What the output table makes of a linear 16-bit channel value of a pixel
// of brightness Bright when the white point comes from brightness White.
double Expected(int64_t Linear, int64_t Bright, int64_t White, double Gamma, double Scale)
{
    const double white = ((White >> 3) * 16);
    return Linear * (std::pow(Bright * 2 / white, Gamma - 1) * 442 / white) * Scale;
}

class CameraRaw : public testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxBuildFormatRegistry();
        PxInstallBuiltInFormats();
        PxInstallCameraRawFormat();
        dng_ = LoadBytes(L"scene.dng");
        // The decoder's linear values: white level 4095 scaled to 65535.
        red_ = kRed * 65535 / kWhiteLevel;
        grey_ = kGrey * 65535 / kWhiteLevel;
        greyBright_ = static_cast<int64_t>(std::sqrt(3.0 * grey_ * grey_));
    }
    std::vector<uint8_t> dng_;
    int64_t red_ = 0, grey_ = 0, greyBright_ = 0;
};

TEST_F(CameraRaw, DecodesTheSceneThroughTheOutputTable)
{
    struct TCase {
        bool Half, Native;
        int Width, Height, RedX, GreyX;
    };
    // Full size loses the one-pixel border; half size keeps every 2 x 2 block.
    const TCase cases[] = {{false, false, 30, 22, 2, 20}, {false, true, 30, 22, 12, 17}, {true, false, 16, 12, 1, 12},
                           {true, true, 16, 12, 0, 15}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "half " << c.Half << " native " << c.Native);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.RAWHalfSize = c.Half;
        p.NativePixelFormat = c.Native;
        TRawRead r = ReadRaw(dng_, b, p);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Percents, (std::vector<int>{70, 85, 90, 100}));
        EXPECT_EQ(p.Width, 30);
        EXPECT_EQ(p.Height, 22);
        EXPECT_EQ(p.OriginalWidth, 30);
        EXPECT_EQ(p.RAWCamera, "Velmo TestCam ");
        EXPECT_EQ(p.EXIFMake, "Velmo");
        ASSERT_EQ(b.GetWidth(), c.Width);
        ASSERT_EQ(b.GetHeight(), c.Height);
        EXPECT_EQ(b.GetPixelFormat(), c.Native ? pxRGB48 : px24RGB);
        EXPECT_EQ(p.BitsPerSample, c.Native ? 16 : 8);
        EXPECT_EQ(p.SamplesPerPixel, 3);
        const double scale = c.Native ? 65535.0 / 255 : 1.0;
        const double grey = Expected(grey_, greyBright_, greyBright_, 0.6, scale);
        const double red = Expected(red_, red_, greyBright_, 0.6, scale);
        const double tolerance = c.Native ? 300 : 1.5;
        for (int y = 0; y < c.Height; ++y) {
            TPxRGB48 g, rd;
            if (c.Native) {
                g = b.GetPixelRGB48(c.GreyX, y);
                rd = b.GetPixelRGB48(c.RedX, y);
            } else {
                const TPxRGB g8 = b.GetPixelRGB(c.GreyX, y), r8 = b.GetPixelRGB(c.RedX, y);
                g = {g8.r, g8.g, g8.b};
                rd = {r8.r, r8.g, r8.b};
            }
            EXPECT_NEAR(g.r, grey, tolerance) << y;
            EXPECT_NEAR(g.g, grey, tolerance) << y;
            EXPECT_NEAR(g.b, grey, tolerance) << y;
            EXPECT_NEAR(rd.r, red, tolerance) << y;
            EXPECT_LE(rd.g, c.Native ? 300 : 1) << y;
            EXPECT_LE(rd.b, c.Native ? 300 : 1) << y;
        }
    }
}

TEST_F(CameraRaw, WhiteBalanceAndMultipliers)
{
    // Gamma 1 makes the output proportional to the linear values, so the
    // grey half shows the red multiplier as the ratio of red to green. The
    // fixture's camera white balance doubles red.
    struct TCase {
        double RedScale;
        bool CameraWB;
        double Ratio;
    };
    const TCase cases[] = {{0.5, false, 0.5}, {1.0, true, 2.0}, {0.5, true, 1.0}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.RedScale << " " << c.CameraWB);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.RAWBright = 0.5;
        p.RAWGamma = 1.0;
        p.RAWRedScale = c.RedScale;
        p.RAWUseCameraWB = c.CameraWB;
        ASSERT_FALSE(ReadRaw(dng_, b, p).Aborted);
        const TPxRGB grey = b.GetPixelRGB(20, 10), red = b.GetPixelRGB(2, 10);
        EXPECT_GT(grey.g, 20);
        EXPECT_NEAR(grey.r, grey.g * c.Ratio, 2.0);
        EXPECT_NEAR(grey.g, grey.b, 1.0);
        EXPECT_NEAR(red.r * double(kGrey) / kRed, grey.r, 2.5);
    }
}

TEST_F(CameraRaw, EmbeddedPreviewAndColourMatching)
{
    // The preview replaces the decode: no decoder progress.
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.RAWUseEmbeddedPreview = true;
    TRawRead r = ReadRaw(dng_, b, p);
    ASSERT_FALSE(r.Aborted);
    EXPECT_TRUE(p.RAWUseEmbeddedPreview);
    ASSERT_EQ(b.GetWidth(), 4);
    ASSERT_EQ(b.GetHeight(), 2);
    EXPECT_EQ(b.GetPixelRGB(3, 1), kPreview);
    EXPECT_EQ(std::count(r.Percents.begin(), r.Percents.end(), 70), 0);

    // Matched to the one-colour preview's histograms, every channel holds
    // the preview's value of that channel (or 0 where the decode had none):
    // the red half is (50, 0, 0), the grey half's green and blue are the
    // preview's.
    TPxBitmap m;
    TIOParamsVals q(nullptr);
    q.RAWMatchPreviewColors = true;
    ASSERT_FALSE(ReadRaw(dng_, m, q).Aborted);
    ASSERT_EQ(m.GetWidth(), 30);
    for (int y = 0; y < m.GetHeight(); ++y)
        for (int x = 0; x < m.GetWidth(); ++x) {
            const TPxRGB c = m.GetPixelRGB(x, y);
            EXPECT_TRUE(c.r == 0 || c.r == kPreview.r) << x << "," << y;
            EXPECT_TRUE(c.g == 0 || c.g == kPreview.g) << x << "," << y;
            EXPECT_TRUE(c.b == 0 || c.b == kPreview.b) << x << "," << y;
        }
    EXPECT_EQ(m.GetPixelRGB(0, 0), (TPxRGB{0, 0, kPreview.r}));
    EXPECT_EQ(m.GetPixelRGB(29, 21).g, kPreview.g);
    EXPECT_EQ(m.GetPixelRGB(29, 21).b, kPreview.b);
}

TEST_F(CameraRaw, ParametersOnlyLeavesTheBitmap)
{
    TPxBitmap b(3, 3, px8g);
    b.Fill(77);
    TIOParamsVals p(nullptr);
    p.RAWMatchPreviewColors = true;
    TRawRead r = ReadRaw(dng_, b, p, true);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Percents, (std::vector<int>{100}));
    EXPECT_EQ(p.Width, 30);
    EXPECT_EQ(p.RAWCamera, "Velmo TestCam ");
    ASSERT_NE(p.EXIFBitmap, nullptr);
    EXPECT_EQ(p.EXIFBitmap->GetWidth(), 4);
    EXPECT_EQ(b.GetPixelFormat(), px8g);
    EXPECT_EQ(b.GetPixelGray8(1, 1), 77);
}

TEST_F(CameraRaw, RecognitionAndDamagedFiles)
{
    classlib::TMemoryStream m;
    m.WriteBuffer(dng_.data(), static_cast<int64_t>(dng_.size()));
    m.SetPosition(0);
    EXPECT_TRUE(PxIsRAW(m));
    EXPECT_EQ(m.GetPosition(), 0);
    EXPECT_EQ(PxDetectStreamFormat(m), ffRAW);

    // A read whose aborting flag is already set stops quietly, nothing
    // decoded.
    {
        TPxBitmap out;
        TIOParamsVals q(nullptr);
        bool aborting = true;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        m.SetPosition(0);
        EXPECT_NO_THROW(PxReadRAW(&m, &out, q, false, info));
        EXPECT_TRUE(out.IsEmpty());
    }

    // Data the decoder does not know: no camera, the read fails.
    std::vector<uint8_t> text(300, 'x');
    classlib::TMemoryStream t;
    t.WriteBuffer(text.data(), 300);
    t.SetPosition(17);
    EXPECT_FALSE(PxIsRAW(t));
    EXPECT_EQ(t.GetPosition(), 17);
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    EXPECT_TRUE(ReadRaw(text, b, p).Aborted);

    // Cut files and absurd sizes: a clean failure or a decode, never a crash.
    std::vector<std::vector<uint8_t>> damaged;
    for (size_t cut : {0, 8, 100, 300, 600, 700, 1500})
        damaged.emplace_back(dng_.begin(), dng_.begin() + static_cast<std::ptrdiff_t>(std::min(cut, dng_.size())));
    std::vector<uint8_t> huge = dng_;
    // Width and height of the raw IFD (entries 256 and 257 as LONG).
    for (size_t i = 0; i + 12 <= huge.size(); i += 2) {
        if ((huge[i] == 0x00 || huge[i] == 0x01) && huge[i + 1] == 0x01 && huge[i + 2] == 4 && huge[i + 3] == 0 &&
            huge[i + 8] >= 24 && huge[i + 8] <= 32 && huge[i + 9] == 0)
            huge[i + 9] = huge[i + 10] = 0xFF;
    }
    damaged.push_back(huge);
    for (const std::vector<uint8_t>& d : damaged) {
        SCOPED_TRACE(d.size());
        TPxBitmap out;
        TIOParamsVals q(nullptr);
        try {
            TRawRead r = ReadRaw(d, out, q);
            if (!r.Aborted) {
                EXPECT_FALSE(out.IsEmpty());
            }
        } catch (const classlib::Exception&) {
        }
    }
}

// The decoder library never stopped writing a colour-filter pattern of 36
// entries whose repeat is not 6 x 6 (a crash): patterns of more than 4
// entries that disagree with their repeat are refused before it parses them.
TEST_F(CameraRaw, ColourPatternsThatDisagreeWithTheirRepeatFail)
{
    struct TCase {
        uint32_t Count;
        uint16_t Rows, Columns;
        bool Aborts;
    } cases[] = {{36, 2, 2, true}, {36, 3, 12, true}, {16, 2, 2, true}, {36, 6, 6, false}, {25, 5, 5, false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Count << " entries repeating " << c.Rows << " x " << c.Columns);
        std::vector<uint8_t> d = dng_;
        // The pattern goes to the end of the file; the two entries of the raw
        // directory are found by their tag and type.
        const uint32_t at = static_cast<uint32_t>(d.size());
        for (uint32_t i = 0; i < c.Count; ++i)
            d.push_back(static_cast<uint8_t>(i % 3));
        int found = 0;
        for (size_t i = 0; i + 12 <= dng_.size(); i += 2) {
            if (d[i] == 0x8D && d[i + 1] == 0x82 && d[i + 2] == 3) {  // 33421, SHORT
                d[i + 8] = static_cast<uint8_t>(c.Rows);
                d[i + 10] = static_cast<uint8_t>(c.Columns);
                ++found;
            } else if (d[i] == 0x8E && d[i + 1] == 0x82 && d[i + 2] == 1) {  // 33422, BYTE
                for (int k = 0; k < 4; ++k) {
                    d[i + 4 + k] = static_cast<uint8_t>(c.Count >> (8 * k));
                    d[i + 8 + k] = static_cast<uint8_t>(at >> (8 * k));
                }
                ++found;
            }
        }
        ASSERT_EQ(found, 2);
        TPxBitmap out;
        TIOParamsVals q(nullptr);
        EXPECT_EQ(ReadRaw(d, out, q).Aborted, c.Aborts);
    }
}

TEST_F(CameraRaw, CiffHeapMetadataAndSmallestPreview)
{
    const std::vector<uint8_t> crw = LoadBytes(L"two-jpegs.crw");
    classlib::TMemoryStream m;
    m.WriteBuffer(crw.data(), static_cast<int64_t>(crw.size()));
    TIOParamsVals p(nullptr);
    RAWReadCIFF(&m, p);
    EXPECT_EQ(p.EXIFMake, "Velmo");
    EXPECT_EQ(p.EXIFModel, "CiffCam");
    EXPECT_EQ(p.EXIFImageDescription, "a test heap");
    EXPECT_EQ(p.EXIFSoftware, "Firmware 1.0");
    EXPECT_EQ(p.EXIFPixelXDimension, 640);
    EXPECT_EQ(p.EXIFPixelYDimension, 480);
    ASSERT_NE(p.EXIFBitmap, nullptr);
    ASSERT_EQ(p.EXIFBitmap->GetWidth(), 6);
    ASSERT_EQ(p.EXIFBitmap->GetHeight(), 4);
    const TPxRGB c = p.EXIFBitmap->GetPixelRGB(2, 2);
    EXPECT_GT(c.b, 150);
    EXPECT_LT(c.r, 80);
    ASSERT_NE(p.EXIFMakerNote, nullptr);
    ASSERT_EQ(p.EXIFMakerNote->Entries.size(), 1u);
    const TPxMakerNoteEntry& e = p.EXIFMakerNote->Entries[0];
    EXPECT_EQ(e.Tag, 1);
    EXPECT_EQ(e.Type, 3);
    ASSERT_EQ(e.Count, 5u);
    uint16_t words[5];
    std::memcpy(words, static_cast<const uint8_t*>(p.EXIFMakerNote->TagStream.GetMemory()) + e.Value, 10);
    EXPECT_EQ(words[4], 0xBEEF);
    EXPECT_EQ(words[0], 10);

    // The decoder does not know this camera: the read fails, unless the
    // preview is asked for.
    TPxBitmap b;
    TIOParamsVals q(nullptr);
    EXPECT_TRUE(ReadRaw(crw, b, q).Aborted);
    q.RAWUseEmbeddedPreview = true;
    EXPECT_FALSE(ReadRaw(crw, b, q).Aborted);
    EXPECT_EQ(b.GetWidth(), 6);

    // Heaps whose tables point outside the data.
    std::vector<uint8_t> bad = crw;
    bad[bad.size() - 1] = 0x7F;  // table offset far past the end
    classlib::TMemoryStream s;
    s.WriteBuffer(bad.data(), static_cast<int64_t>(bad.size()));
    TIOParamsVals r(nullptr);
    RAWReadCIFF(&s, r);
    EXPECT_EQ(r.EXIFMake, "");
    ASSERT_NE(r.EXIFBitmap, nullptr);
    EXPECT_TRUE(r.EXIFBitmap->IsEmpty());

    // A heap of 200 sub-heap records that all point back at the heap itself
    // (read once), then a make record past the end of the stream.
    std::vector<uint8_t> loop = {'I', 'I', 14, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
    const uint32_t heapSize = 2 + 10 * 201 + 4;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            loop.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(201, 2);
    for (int i = 0; i < 200; ++i) {
        put(0x300A, 2);
        put(heapSize, 4);
        put(0, 4);
    }
    put(0x080A, 2);
    put(16, 4);
    put(heapSize + 100, 4);
    put(0, 4);  // the record table starts the heap
    classlib::TMemoryStream ls;
    ls.WriteBuffer(loop.data(), static_cast<int64_t>(loop.size()));
    TIOParamsVals l(nullptr);
    RAWReadCIFF(&ls, l);
    EXPECT_EQ(l.EXIFMake, "");
}

TEST_F(CameraRaw, LoadsThroughTheIOObject)
{
    TPxBitmap b;
    std::unique_ptr<TImgIO> io = TImgIO::CreateForBitmap(&b);
    classlib::TMemoryStream m;
    m.WriteBuffer(dng_.data(), static_cast<int64_t>(dng_.size()));
    m.SetPosition(0);
    io->LoadFromStream(&m);  // by content
    EXPECT_FALSE(io->AbortFlag);
    EXPECT_EQ(io->FileParams->FileFormat, ffRAW);
    EXPECT_EQ(b.GetWidth(), 30);
    EXPECT_EQ(b.GetPixelFormat(), px24RGB);

    classlib::TMemoryStream text;
    text.WriteBuffer("not a camera file at all", 24);
    text.SetPosition(0);
    io->LoadRAWFromStream(&text);
    EXPECT_TRUE(io->AbortFlag);
}

TEST(CameraRawFuji, TurnsTheDiagonalLayoutUpright)
{
    // A 6 x 4 diagonal layout: the first row's non-black pixels run from
    // index 1 to 4, so the upright image is 8 wide and 2 * 6 - 2 - 4 = 6 high.
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "48" : "24");
        TPxBitmap b(6, 4, wide ? pxRGB48 : px24RGB);
        b.Fill(0);
        auto set = [&](int x, int y, int v) {
            if (wide)
                b.SetPixelRGB48(x, y, TPxRGB48{uint16_t(v * 257), uint16_t(v * 257), uint16_t(v * 257)});
            else
                b.SetPixelRGB(x, y, TPxRGB{uint8_t(v), uint8_t(v), uint8_t(v)});
        };
        for (int k = 1; k <= 4; ++k)
            set(k, 0, 10);
        // Source (row 2, column 3): grid row 2 + 3 - 5 + 6 = 6 is outside
        // the 6 rows; (row 1, column 3): grid row 5, column (3 + 4 - 1 - 1)
        // div 2 = 2; (row 1, column 2): grid row 4, column 2.
        set(3, 1, 200);
        set(2, 1, 100);
        if (wide)
            RAWFujiRotate48(&b);
        else
            RAWFujiRotate24(&b);
        ASSERT_EQ(b.GetWidth(), 8);
        ASSERT_EQ(b.GetHeight(), 6);
        auto get = [&](int x, int y) { return wide ? b.GetPixelRGB48(x, y).g / 257 : b.GetPixelRGB(x, y).g; };
        // Output row l shows grid row l + 1; even k + m take grid[k][m div 2].
        EXPECT_EQ(get(4, 3), 100);  // k = 4, m = 4: grid[4][2]
        // k = 4, m = 5: (grid[3][2] + grid[5][2] + grid[4][2] + grid[4][3]) shr 2
        EXPECT_EQ(get(5, 3), (10 + 200 + 100 + 10) >> 2);
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(get(x, 5), 0) << x;  // the last row stays black
        for (int y = 0; y < 6; ++y)
            EXPECT_EQ(get(0, y), 0) << y;  // so does column 0
    }
    // A black first row leaves the image as it was.
    TPxBitmap black(4, 4, px24RGB);
    black.Fill(0);
    black.SetPixelRGB(1, 2, TPxRGB{1, 2, 3});
    RAWFujiRotate24(&black);
    EXPECT_EQ(black.GetWidth(), 4);
    EXPECT_EQ(black.GetPixelRGB(1, 2), (TPxRGB{1, 2, 3}));
}

}  // namespace
