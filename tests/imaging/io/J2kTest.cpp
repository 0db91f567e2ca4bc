// JPEG 2000 reader and writer: decodes of lossless files written by
// opj_compress and ImageMagick (see tests/fixtures/io/j2k/make_fixtures.sh;
// the expected samples follow from the generator's formulas), the colour
// tables and index mapping, damaged input, the writer's options and
// component layout, and write-then-read round trips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/j2k/J2kGlue.h"
#include "imaging/io/formats/j2k/J2kReader.h"
#include "imaging/io/formats/j2k/J2kWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"
#include "support/StreamBytes.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

using testsupport::SetBytes;
using testsupport::StreamBytes;

std::wstring FixturePath(const std::string& Name) { return testsupport::FixturePath(L"io\\j2k", Name); }

std::vector<uint8_t> LoadBytes(const std::string& Name) { return testsupport::FileBytes(FixturePath(Name)); }

// Reads from Stream's position; true when the read set the aborting flag.
bool Read(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Preview = false,
          std::vector<int>* Percents = nullptr)
{
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    if (Percents)
        progress.Handler = TPxProgressEvent::FromFunction(
            [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); },
            Percents);
    PxReadJPEG2000(&Stream, &Bitmap, Params, progress, Preview);
    return aborting;
}

bool ReadBytes(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Preview = false)
{
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    return Read(m, Bitmap, Params, Preview);
}

// Writes Bitmap; true when the write set the aborting flag.
bool Write(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params, int Format)
{
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteJPEG2000(&Stream, &Bitmap, Params, progress, Format);
    return aborting;
}

// The codec's view of encoded bytes: component count, precisions, alpha.
struct TDecoded {
    bool Ok = false;
    TJ2kColorSpace Space = j2kcsUnspecified;
    std::vector<TJ2kComponentInfo> Components;
};

TDecoded Inspect(classlib::TMemoryStream& m)
{
    TDecoded d;
    m.SetPosition(0);
    TJ2kStreamUser user{&m, 0};
    TJ2kImage image;
    d.Ok = J2kDecode(J2kStreamProcs(user), false, image);
    d.Space = image.ColorSpace();
    for (int i = 0; i < image.NumComponents(); ++i)
        d.Components.push_back(image.Component(i));
    return d;
}

// Test images: a few distinct colours on every row.
std::unique_ptr<TPxBitmap> Picture(int W, int H)
{
    auto b = std::make_unique<TPxBitmap>();
    EXPECT_TRUE(b->Allocate(W, H, px24RGB));
    for (int y = 0; y < H; ++y) {
        auto* row = reinterpret_cast<TPxRGB*>(b->GetScanline(y));
        for (int x = 0; x < W; ++x)
            row[x] = TPxRGB{static_cast<uint8_t>(x * 37 + y), static_cast<uint8_t>(255 - 20 * y),
                            static_cast<uint8_t>((x * y * 29) & 255)};
    }
    return b;
}

TPxRGB Pixel(TPxBitmap& B, int X, int Y) { return reinterpret_cast<TPxRGB*>(B.GetScanline(Y))[X]; }

uint8_t Clamp(double V) { return static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V)); }

// ---------------------------------------------------------------------------

TEST(J2kReader, DecodesForeignFiles)
{
    // YCbCr 4:2:0 source of ycc420.*: full-size Y, chroma at x div 2, y div 2.
    auto Y = [](int x, int y) { return 20 + 25 * x + 3 * y; };
    auto Cb = [](int x, int y) { return 60 + 40 * (x / 2) + 10 * (y / 2); };
    auto Cr = [](int x, int y) { return 200 - 30 * (x / 2) - 5 * (y / 2); };
    struct Case {
        const char* File;
        int Width, Height, Bits, Samples;
        std::function<TPxRGB(int, int)> Expected;
    };
    const Case cases[] = {
        {"rgb8.jp2", 7, 5, 8, 3,
         [](int x, int y) {
             return TPxRGB{static_cast<uint8_t>((x * y * 13) & 255), static_cast<uint8_t>(40 * y + 5),
                           static_cast<uint8_t>(30 * x + 10)};
         }},
        // 12-bit grey: the top 8 bits of every sample.
        {"gray12.j2k", 7, 5, 12, 1,
         [](int x, int y) {
             const auto v = static_cast<uint8_t>(((x * 577 + y * 211) % 4096) >> 4);
             return TPxRGB{v, v, v};
         }},
        {"gray8.jp2", 6, 4, 8, 1,
         [](int x, int y) {
             const auto v = static_cast<uint8_t>(17 * (x + 2 * y) + 3);
             return TPxRGB{v, v, v};
         }},
        // A bare code stream of three components is RGB; the subsampled
        // second and third components are read at x div 2, y div 2.
        {"ycc420.j2k", 8, 6, 8, 3,
         [=](int x, int y) {
             return TPxRGB{static_cast<uint8_t>(Cr(x, y)), static_cast<uint8_t>(Cb(x, y)),
                           static_cast<uint8_t>(Y(x, y))};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.J2000ColorSpace = 1;
        ASSERT_FALSE(ReadBytes(LoadBytes(c.File), b, p));
        ASSERT_EQ(b.GetPixelFormat(), px24RGB);
        ASSERT_EQ(b.GetWidth(), c.Width);
        ASSERT_EQ(b.GetHeight(), c.Height);
        EXPECT_EQ(p.Width, c.Width);
        EXPECT_EQ(p.OriginalHeight, c.Height);
        EXPECT_EQ(p.BitsPerSample, c.Bits);
        EXPECT_EQ(p.SamplesPerPixel, c.Samples);
        EXPECT_EQ(p.DpiX, PxDefaultDpiX);
        EXPECT_EQ(p.ImageCount, 1);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                ASSERT_EQ(Pixel(b, x, y), c.Expected(x, y)) << x << "," << y;
    }

    // The JP2 file of the same samples declares YCbCr: converted to RGB
    // (within one level of the exact conversion).
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    ASSERT_FALSE(ReadBytes(LoadBytes("ycc420.jp2"), b, p));
    EXPECT_EQ(p.SamplesPerPixel, 3);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const double l = Y(x, y), cb = Cb(x, y) - 128, cr = Cr(x, y) - 128;
            const TPxRGB got = Pixel(b, x, y);
            EXPECT_NEAR(got.r, Clamp(l + 1.402 * cr), 1) << x << "," << y;
            EXPECT_NEAR(got.g, Clamp(l - 0.344136 * cb - 0.714136 * cr), 1) << x << "," << y;
            EXPECT_NEAR(got.b, Clamp(l + 1.772 * cb), 1) << x << "," << y;
        }
}

TEST(J2kReader, OneBitGreyLoadsAsBilevel)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    ASSERT_FALSE(ReadBytes(LoadBytes("bits.j2k"), b, p));
    ASSERT_EQ(b.GetPixelFormat(), px1g);
    ASSERT_EQ(b.GetWidth(), 10);
    ASSERT_EQ(b.GetHeight(), 3);
    EXPECT_EQ(p.BitsPerSample, 1);
    EXPECT_EQ(p.SamplesPerPixel, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(PxGetBit(b.GetScanline(y), x) != 0, (x + y) % 3 == 0) << x << "," << y;
}

TEST(J2kReader, PreviewReadsParametersOnlyAndProgressIsReported)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.AllocColorMap(4);
    ASSERT_FALSE(ReadBytes(LoadBytes("gray12.j2k"), b, p, true));
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(p.Width, 7);
    EXPECT_EQ(p.Height, 5);
    EXPECT_EQ(p.BitsPerSample, 12);
    EXPECT_EQ(p.SamplesPerPixel, 1);
    EXPECT_EQ(p.ColorMapCount, 0);

    // A read from inside a larger stream, with progress per row.
    classlib::TMemoryStream m;
    const std::vector<uint8_t> file = LoadBytes("rgb8.jp2");
    m.WriteBuffer("junk", 4);
    m.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    m.SetPosition(4);
    std::vector<int> percents;
    ASSERT_FALSE(Read(m, b, p, false, &percents));
    EXPECT_EQ(b.GetWidth(), 7);
    EXPECT_EQ(percents, (std::vector<int>{0, 20, 40, 60, 80}));
}

TEST(J2kReader, DamagedInputFailsCleanly)
{
    const std::vector<uint8_t> jp2 = LoadBytes("rgb8.jp2");
    const std::vector<uint8_t> j2k = LoadBytes("gray12.j2k");
    // The code stream's SIZ segment: FF 51 at offset 2, then Lsiz (2), Rsiz
    // (2), Xsiz (4) at 8, Ysiz (4) at 12, ... Csiz (2) at 40.
    ASSERT_EQ(j2k[2], 0xFF);
    ASSERT_EQ(j2k[3], 0x51);
    auto patched = [&j2k](std::size_t At, std::vector<uint8_t> Bytes) {
        std::vector<uint8_t> r = j2k;
        std::memcpy(r.data() + At, Bytes.data(), Bytes.size());
        return r;
    };
    struct Case {
        const char* Name;
        std::vector<uint8_t> Bytes;
    } cases[] = {
        {"empty", {}},
        {"not JPEG 2000", std::vector<uint8_t>(200, 0x41)},
        {"signature only", std::vector<uint8_t>(jp2.begin(), jp2.begin() + 12)},
        {"file cut in half", std::vector<uint8_t>(jp2.begin(), jp2.begin() + jp2.size() / 2)},
        {"code stream cut after SIZ", std::vector<uint8_t>(j2k.begin(), j2k.begin() + 50)},
        {"huge announced size", patched(8, {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 0xF0})},
        {"zero width", patched(8, {0, 0, 0, 0})},
        {"zero components", patched(40, {0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        EXPECT_TRUE(ReadBytes(c.Bytes, b, p));
    }
}

TEST(J2kReader, ColourTablesAndIndexMapping)
{
    const TPxJ2KYCbCrTables& t = PxJ2KYCbCrTables();
    EXPECT_EQ((std::vector<int32_t>{t.CrToRed[0], t.CbToBlue[0], t.CrToGreen[0], t.CbToGreen[0]}),
              (std::vector<int32_t>{-179, -227, 91, 44}));
    EXPECT_EQ((std::vector<int32_t>{t.CrToRed[255], t.CbToBlue[255], t.CrToGreen[255], t.CbToGreen[255]}),
              (std::vector<int32_t>{178, 225, -91, -44}));
    EXPECT_EQ((std::vector<int32_t>{t.CrToRed[128], t.CbToBlue[128], t.CrToGreen[128], t.CbToGreen[128]}),
              (std::vector<int32_t>{0, 0, 0, 0}));

    struct Case {
        int64_t Coord, Origin, Step, Count;
        int32_t Index;
    } cases[] = {
        {5, 0, 2, 4, 2},    // subsampled: x div 2
        {7, 0, 2, 4, 3},
        {8, 0, 2, 4, 0},    // past the component: 0
        {1, 3, 1, 10, 0},   // before the origin: 0
        {-1, 0, 2, 4, 0},   // truncation toward zero
        {9, 1, 4, 3, 2},
        {3, 0, 0, 4, 0},    // no step
    };
    for (const Case& c : cases)
        EXPECT_EQ(PxJ2KCoordToIndex(c.Coord, c.Origin, c.Step, c.Count), c.Index)
            << c.Coord << " " << c.Origin << " " << c.Step << " " << c.Count;
}

// ---------------------------------------------------------------------------

TEST(J2kWriter, OptionText)
{
    TIOParamsVals p(nullptr);
    EXPECT_EQ(PxJ2KOptionText(p), "rate=1 prg=lrcp");
    p.J2000ProgressionOrder = 1;
    EXPECT_EQ(PxJ2KOptionText(p), "rate=1 prg=rlcp");
    p.J2000ProgressionOrder = 2;
    EXPECT_EQ(PxJ2KOptionText(p), "rate=1");
    const wchar_t old = classlib::DecimalSeparator;
    classlib::DecimalSeparator = L',';
    p.J2000Rate = 0.5;
    p.J2000ProgressionOrder = 0;
    EXPECT_EQ(PxJ2KOptionText(p), "rate=0.5 prg=lrcp");
    classlib::DecimalSeparator = old;
}

// Progression order byte of the code stream's COD segment (FF 52, Lcod,
// Scod, then the order).
int ProgressionOf(const std::vector<uint8_t>& Bytes)
{
    for (std::size_t i = 0; i + 5 < Bytes.size(); ++i)
        if (Bytes[i] == 0xFF && Bytes[i + 1] == 0x52)
            return Bytes[i + 5];
    return -1;
}

TEST(J2kWriter, RoundTripsLosslesslyInBothContainers)
{
    auto source = Picture(13, 9);
    for (int format : {0, 1}) {
        SCOPED_TRACE(format);
        TIOParamsVals p(nullptr);
        classlib::TMemoryStream m;
        ASSERT_FALSE(Write(m, *source, p, format));
        m.SetPosition(0);
        EXPECT_TRUE(format == 0 ? PxIsJP2(m) : PxIsJ2K(m));
        EXPECT_EQ(ProgressionOf(StreamBytes(m)), 0);
        const TDecoded d = Inspect(m);
        ASSERT_TRUE(d.Ok);
        ASSERT_EQ(d.Components.size(), 3u);
        EXPECT_EQ(d.Components[0].Precision, 8u);
        EXPECT_EQ(d.Space, format == 0 ? j2kcsRGB : j2kcsUnspecified);

        TPxBitmap back;
        TIOParamsVals q(nullptr);
        m.SetPosition(0);
        ASSERT_FALSE(Read(m, back, q));
        ASSERT_EQ(back.GetWidth(), 13);
        ASSERT_EQ(back.GetHeight(), 9);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(Pixel(back, x, y), Pixel(*source, x, y)) << x << "," << y;
    }
    // A 1x1 image still encodes.
    auto tiny = Picture(1, 1);
    TIOParamsVals p(nullptr);
    classlib::TMemoryStream m;
    ASSERT_FALSE(Write(m, *tiny, p, 1));
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    m.SetPosition(0);
    ASSERT_FALSE(Read(m, back, q));
    EXPECT_EQ(Pixel(back, 0, 0), Pixel(*tiny, 0, 0));
}

TEST(J2kWriter, GreyAndBilevelImages)
{
    // Colour space 0 from px24RGB: grey by the toolkit's weights.
    auto source = Picture(6, 4);
    TIOParamsVals p(nullptr);
    p.J2000ColorSpace = 0;
    classlib::TMemoryStream m;
    ASSERT_FALSE(Write(m, *source, p, 0));
    TDecoded d = Inspect(m);
    ASSERT_TRUE(d.Ok);
    ASSERT_EQ(d.Components.size(), 1u);
    EXPECT_EQ(d.Space, j2kcsGray);
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    m.SetPosition(0);
    ASSERT_FALSE(Read(m, back, q));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const TPxRGB s = Pixel(*source, x, y);
            const auto g =
                static_cast<uint8_t>((s.r * PxGrayWeightR + s.g * PxGrayWeightG + s.b * PxGrayWeightB) / 100);
            ASSERT_EQ(Pixel(back, x, y), (TPxRGB{g, g, g})) << x << "," << y;
        }

    // px1g: BitsPerSample becomes 1 and J2000ColorSpace 0 in the parameters;
    // the bits come back as px1g.
    TPxBitmap bits;
    ASSERT_TRUE(bits.Allocate(11, 3, px1g));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            PxSetBit(bits.GetScanline(y), x, (x * 3 + y) % 4 == 1);
    TIOParamsVals pb(nullptr);
    pb.J2000ColorSpace = 1;
    pb.BitsPerSample = 8;
    classlib::TMemoryStream mb;
    ASSERT_FALSE(Write(mb, bits, pb, 1));
    EXPECT_EQ(pb.BitsPerSample, 1);
    EXPECT_EQ(pb.J2000ColorSpace, 0);
    TPxBitmap backBits;
    TIOParamsVals qb(nullptr);
    mb.SetPosition(0);
    ASSERT_FALSE(Read(mb, backBits, qb));
    ASSERT_EQ(backBits.GetPixelFormat(), px1g);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            ASSERT_EQ(PxGetBit(backBits.GetScanline(y), x) != 0, (x * 3 + y) % 4 == 1) << x << "," << y;
}

TEST(J2kWriter, AlphaPrecisionAndColourSpaceOptions)
{
    // An alpha channel of 255 everywhere: three components; any other value
    // adds an opacity component.
    auto source = Picture(5, 4);
    source->GetAlphaChannel();  // created all opaque
    TIOParamsVals p(nullptr);
    classlib::TMemoryStream m;
    ASSERT_FALSE(Write(m, *source, p, 0));
    EXPECT_EQ(Inspect(m).Components.size(), 3u);
    source->GetAlphaChannel()->GetScanline(2)[3] = 100;
    source->GetAlphaChannel()->FullAlpha = false;
    m.SetSize(0);
    ASSERT_FALSE(Write(m, *source, p, 0));
    TDecoded d = Inspect(m);
    ASSERT_EQ(d.Components.size(), 4u);
    EXPECT_TRUE(d.Components[3].Alpha);
    EXPECT_FALSE(d.Components[0].Alpha);
    // The reader passes the opacity component over.
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    m.SetPosition(0);
    ASSERT_FALSE(Read(m, back, q));
    EXPECT_EQ(q.SamplesPerPixel, 3);
    EXPECT_EQ(Pixel(back, 3, 2), Pixel(*source, 3, 2));

    // Colour space 2 writes the same RGB image as 1.
    auto plain = Picture(5, 4);
    TIOParamsVals p1(nullptr), p2(nullptr);
    p2.J2000ColorSpace = 2;
    classlib::TMemoryStream m1, m2;
    ASSERT_FALSE(Write(m1, *plain, p1, 1));
    ASSERT_FALSE(Write(m2, *plain, p2, 1));
    EXPECT_EQ(StreamBytes(m1), StreamBytes(m2));

    // 12 bits per sample: value x 4095 div 255, read back as its top 8 bits.
    TIOParamsVals p12(nullptr);
    p12.BitsPerSample = 12;
    classlib::TMemoryStream m12;
    ASSERT_FALSE(Write(m12, *plain, p12, 1));
    d = Inspect(m12);
    ASSERT_EQ(d.Components.size(), 3u);
    EXPECT_EQ(d.Components[0].Precision, 12u);
    TIOParamsVals q12(nullptr);
    m12.SetPosition(0);
    ASSERT_FALSE(Read(m12, back, q12));
    EXPECT_EQ(q12.BitsPerSample, 12);
    const TPxRGB s = Pixel(*plain, 4, 3);
    auto top8 = [](uint8_t v) { return static_cast<uint8_t>((v * 4095 / 255) >> 4); };
    EXPECT_EQ(Pixel(back, 4, 3), (TPxRGB{top8(s.b), top8(s.g), top8(s.r)}));

    // A rate below 1 makes a smaller file; progression 1 reaches the codec.
    auto big = Picture(64, 64);
    TIOParamsVals full(nullptr), half(nullptr);
    half.J2000Rate = 0.1;
    half.J2000ProgressionOrder = 1;
    classlib::TMemoryStream mf, mh;
    ASSERT_FALSE(Write(mf, *big, full, 1));
    ASSERT_FALSE(Write(mh, *big, half, 1));
    EXPECT_LT(mh.GetSize(), mf.GetSize());
    EXPECT_LE(mh.GetSize(), 64 * 64 * 3 / 10 + 200);
    EXPECT_EQ(ProgressionOf(StreamBytes(mh)), 1);
}

TEST(J2kWriter, RefusedInputWritesNothing)
{
    auto source = Picture(4, 4);
    struct Case {
        const char* Name;
        int ColorSpace, Bits;
    } cases[] = {{"colour space 3", 3, 8}, {"0 bits", 1, 0}, {"17 bits", 1, 17}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TIOParamsVals p(nullptr);
        p.J2000ColorSpace = static_cast<uint8_t>(c.ColorSpace);
        p.BitsPerSample = c.Bits;
        classlib::TMemoryStream m;
        EXPECT_TRUE(Write(m, *source, p, 0));
        EXPECT_EQ(m.GetSize(), 0);
    }
    TPxBitmap empty;
    TIOParamsVals p(nullptr);
    classlib::TMemoryStream m;
    EXPECT_TRUE(Write(m, empty, p, 0));
    EXPECT_EQ(m.GetSize(), 0);

    // Aborting from the progress handler stops before anything is encoded.
    auto five = Picture(3, 5);
    bool aborting = false;
    struct TState {
        std::vector<int> Percents;
        bool* Aborting;
    } state{{}, &aborting};
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) {
            auto* st = static_cast<TState*>(c);
            st->Percents.push_back(per);
            if (per >= 40)
                *st->Aborting = true;
        },
        &state);
    PxWriteJPEG2000(&m, five.get(), p, progress, 1);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(state.Percents, (std::vector<int>{0, 20, 40}));
    EXPECT_EQ(m.GetSize(), 0);
}

// A stream that takes no data: every write raises.
class TRefusingStream : public classlib::TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t) override { throw classlib::Exception(L"disk full"); }
    int64_t Seek(int64_t Offset, classlib::TSeekOrigin Origin) override
    {
        return Origin == classlib::soCurrent ? 0 : Offset;
    }
};

TEST(J2kWriter, CodecFailureIsReported)
{
    auto source = Picture(8, 8);
    for (int format : {0, 1}) {
        TIOParamsVals p(nullptr);
        TRefusingStream s;
        EXPECT_TRUE(Write(s, *source, p, format)) << format;
    }
}

TEST(J2kWriter, OtherPixelFormatsAreWrittenFromACopy)
{
    auto source = Picture(6, 5);
    TPxBitmap grey;
    grey.Assign(source.get());
    grey.SetPixelFormat(px8g);
    ASSERT_EQ(grey.GetPixelFormat(), px8g);
    const std::vector<uint8_t> before(grey.GetScanline(2), grey.GetScanline(2) + 6);
    TIOParamsVals p(nullptr);
    classlib::TMemoryStream m;
    ASSERT_FALSE(Write(m, grey, p, 0));
    EXPECT_EQ(grey.GetPixelFormat(), px8g);
    EXPECT_EQ(std::vector<uint8_t>(grey.GetScanline(2), grey.GetScanline(2) + 6), before);
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    m.SetPosition(0);
    ASSERT_FALSE(Read(m, back, q));
    EXPECT_EQ(Pixel(back, 1, 2), (TPxRGB{before[1], before[1], before[1]}));
}

TEST(J2kFormat, LoadsAndSavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallJ2000Format();
    {
        auto b = Picture(9, 7);
        auto io = TImgIO::CreateForBitmap(b.get());
        for (int32_t type : {ffJP2, ffJ2K}) {
            SCOPED_TRACE(type);
            classlib::TMemoryStream m;
            if (type == ffJP2)
                io->SaveJP2ToStream(&m);
            else
                io->SaveJ2KToStream(&m);
            ASSERT_FALSE(io->AbortFlag);
            m.SetPosition(0);
            EXPECT_EQ(PxDetectStreamFormat(m), type);

            TPxBitmap back;
            auto in = TImgIO::CreateForBitmap(&back);
            m.SetPosition(0);
            if (type == ffJP2)
                in->LoadJP2FromStream(&m);
            else
                in->LoadJ2KFromStream(&m);
            ASSERT_FALSE(in->AbortFlag);
            ASSERT_EQ(back.GetWidth(), 9);
            EXPECT_EQ(Pixel(back, 8, 6), Pixel(*b, 8, 6));
        }
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
