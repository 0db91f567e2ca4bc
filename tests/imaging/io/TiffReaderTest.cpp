// TIFF reader: pages written by libtiff's tools and ImageMagick (see
// tests/fixtures/io/tiff/make_tiff_fixtures.sh) compared pixel by pixel with
// ImageMagick's or libtiff's own raw decode of the same file; the directory
// and tag layer on small hand-made structures; hostile files (bad-*.tif,
// make_crafted_tiffs.py) that must fail cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/io/formats/tiff/TiffTags.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxMask.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring FixturePath(const std::string& Name) { return testsupport::FixturePath(L"io\\tiff", Name); }

std::vector<uint8_t> LoadBytes(const std::string& Name) { return testsupport::FileBytes(FixturePath(Name)); }

struct TReadResult {
    bool Aborted = false;
    int32_t Pages = 0;
    std::unique_ptr<TPxMask> Mask;
};

// Reads page Page of a fixture; the LZW codec and the colour rows are
// installed first (a test program links them only through their hooks).
TReadResult ReadFixture(const std::string& Name, TPxBitmap& Bitmap, TIOParamsVals& Params, int Page = 0,
                        bool ParamsOnly = false)
{
    PxInstallTIFFLZWCodec();
    PxInstallColorConversion();
    classlib::TMemoryStream m;
    m.LoadFromFile(FixturePath(Name));
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    Params.TIFFImageIndex = Page;
    TPxMask* mask = nullptr;
    TReadResult r;
    PxReadTIFF(&Bitmap, &m, r.Pages, &Params, progress, ParamsOnly, mask, true, false, false);
    r.Aborted = aborting;
    r.Mask.reset(mask);
    return r;
}

// The reference decode kinds stored beside the fixtures.
enum TRef { refRGB, refCMYK, refGray16, refRGB16 };

struct TCase {
    const char* File;
    bool Native;
    TPxPixelFormat Format;
    TRef Ref;
    int Tolerance;
};

std::string RefName(const std::string& file, TRef ref)
{
    const std::string base = file.substr(0, file.size() - 4);
    switch (ref) {
    case refCMYK: return base + ".cmyk";
    case refGray16: return base + ".g16";
    case refRGB16: return base + ".rgb16";
    default: return base + ".rgb";
    }
}

// Largest difference between the page and the reference decode.
int MaxDifference(TPxBitmap& b, const TCase& c, const std::vector<uint8_t>& ref)
{
    int worst = 0;
    auto diff = [&](int a, int e) { worst = std::max(worst, std::abs(a - e)); };
    const int w = b.GetWidth(), h = b.GetHeight();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            switch (c.Ref) {
            case refRGB: {
                const TPxRGB p = b.GetPixelAsRGB(x, y);
                diff(p.r, ref[3 * i]);
                diff(p.g, ref[3 * i + 1]);
                diff(p.b, ref[3 * i + 2]);
                break;
            }
            case refCMYK: {
                const TPxCMYK p = b.GetPixelCMYK(x, y);  // stored inverted
                diff(255 - p.c, ref[4 * i]);
                diff(255 - p.m, ref[4 * i + 1]);
                diff(255 - p.y, ref[4 * i + 2]);
                diff(255 - p.k, ref[4 * i + 3]);
                break;
            }
            case refGray16:
                diff(b.GetPixelGray16(x, y), ref[2 * i] | (ref[2 * i + 1] << 8));
                break;
            case refRGB16: {
                const TPxRGB48 p = b.GetPixelRGB48(x, y);
                diff(p.r, ref[6 * i] | (ref[6 * i + 1] << 8));
                diff(p.g, ref[6 * i + 2] | (ref[6 * i + 3] << 8));
                diff(p.b, ref[6 * i + 4] | (ref[6 * i + 5] << 8));
                break;
            }
            }
        }
    return worst;
}

const TCase kCases[] = {
    // compressions, RGB 8-bit strips
    {"rgb-none.tif", false, px24RGB, refRGB, 0},
    {"rgb-packbits.tif", false, px24RGB, refRGB, 0},
    {"rgb-lzw.tif", false, px24RGB, refRGB, 0},
    {"rgb-lzw-pred.tif", false, px24RGB, refRGB, 0},
    {"rgb-zip.tif", false, px24RGB, refRGB, 0},
    {"rgb-zip-pred.tif", false, px24RGB, refRGB, 0},
    {"rgb-jpeg-ycbcr.tif", false, px24RGB, refRGB, 8},
    {"rgb-jpeg-rgb.tif", false, px24RGB, refRGB, 8},
    // old-style JPEG around an ImageMagick JPEG (reference: that JPEG's decode)
    {"ojpeg-whole.tif", false, px24RGB, refRGB, 0},
    {"ojpeg-strips.tif", false, px24RGB, refRGB, 0},
    {"ojpeg-strips23.tif", false, px24RGB, refRGB, 0},  // 23 strips continuing one scan
    {"ojpeg-norps.tif", false, px24RGB, refRGB, 0},     // the same without RowsPerStrip
    {"ojpeg-tags.tif", false, px24RGB, refRGB, 0},      // tables in tags, 2 x 2 subsampled
    {"ojpeg-stacked.tif", false, px24RGB, refRGB, 0},   // each strip a whole JPEG stream
    // byte orders, tiles, separate planes
    {"rgb-none-be.tif", false, px24RGB, refRGB, 0},
    {"rgb-lzw-pred-be.tif", false, px24RGB, refRGB, 0},
    {"rgb-tiles.tif", false, px24RGB, refRGB, 0},
    {"rgb-tiles-lzw-be.tif", false, px24RGB, refRGB, 0},
    {"rgb-tiles-jpeg.tif", false, px24RGB, refRGB, 8},
    {"rgb-separate.tif", false, px24RGB, refRGB, 0},
    {"rgb-separate-packbits-be.tif", false, px24RGB, refRGB, 0},
    // 16-bit RGB: native words, and 8-bit (high byte against ImageMagick's
    // rounding: 1 level)
    {"rgb16-none.tif", true, pxRGB48, refRGB16, 0},
    {"rgb16-none-be.tif", true, pxRGB48, refRGB16, 0},
    {"rgb16-lzw-pred.tif", true, pxRGB48, refRGB16, 0},
    {"rgb16-lzw-pred-be.tif", true, pxRGB48, refRGB16, 0},
    {"rgb16-tiles-be.tif", true, pxRGB48, refRGB16, 0},
    {"rgb16-lzw-pred-be.tif", false, px24RGB, refRGB, 1},
    // RGBA (colour; alpha in its own test)
    {"rgba-lzw.tif", false, px24RGB, refRGB, 0},
    // grey
    {"gray8.tif", true, px8g, refRGB, 0},
    {"gray8.tif", false, px24RGB, refRGB, 0},
    {"gray8-zip-pred-be.tif", true, px8g, refRGB, 0},
    {"gray8-miniswhite.tif", true, px8g, refRGB, 0},
    {"gray8-miniswhite.tif", false, px24RGB, refRGB, 0},
    {"gray16.tif", true, px16g, refGray16, 0},
    {"gray16-be.tif", true, px16g, refGray16, 0},
    {"gray16-lzw-pred-be.tif", true, px16g, refGray16, 0},
    {"gray16-miniswhite.tif", true, px16g, refGray16, 0},
    {"gray16-be.tif", false, px24RGB, refRGB, 1},
    {"gray4.tif", false, px24RGB, refRGB, 0},
    {"gray2.tif", false, px24RGB, refRGB, 0},
    {"graya.tif", false, px24RGB, refRGB, 0},  // grey and alpha
    // bilevel
    {"bw-none.tif", false, px1g, refRGB, 0},
    {"bw-packbits.tif", false, px1g, refRGB, 0},
    {"bw-miniswhite.tif", false, px1g, refRGB, 0},
    {"bw-g3.tif", false, px1g, refRGB, 0},
    {"bw-g3-2d.tif", false, px1g, refRGB, 0},
    {"bw-g4.tif", false, px1g, refRGB, 0},
    {"bw-g4-lsb-be.tif", false, px1g, refRGB, 0},
    {"bw-miniswhite-g4.tif", false, px1g, refRGB, 0},
    {"bw-mh.tif", false, px1g, refRGB, 0},  // written by the toolkit, decoded by libtiff
    // palette
    {"palette8.tif", true, px8p, refRGB, 0},
    {"palette8.tif", false, px24RGB, refRGB, 0},
    {"palette8-lzw-be.tif", false, px24RGB, refRGB, 0},
    {"palette4.tif", false, px24RGB, refRGB, 0},
    // CMYK (inks as stored) and CIELab (through the colour rows)
    {"cmyk.tif", true, pxCMYK, refCMYK, 0},
    {"cmyk-separate.tif", true, pxCMYK, refCMYK, 0},
    {"cmyk16.tif", true, pxCMYK, refCMYK, 1},
    {"cielab.tif", false, px24RGB, refRGB, 4},
    // uncompressed YCbCr, 2 x 1 subsampling (through the colour rows)
    {"ycbcr-2x1.tif", false, px24RGB, refRGB, 3},
};

class TiffReaderCases : public ::testing::TestWithParam<TCase> {};

TEST_P(TiffReaderCases, PixelsMatchTheOtherToolsDecode)
{
    const TCase& c = GetParam();
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.NativePixelFormat = c.Native;
    const TReadResult r = ReadFixture(c.File, b, p);
    ASSERT_FALSE(r.Aborted) << c.File;
    ASSERT_EQ(b.GetPixelFormat(), c.Format);
    const std::vector<uint8_t> ref = LoadBytes(RefName(c.File, c.Ref));
    static const size_t kBytes[] = {3, 4, 2, 6};  // per pixel of each reference kind
    ASSERT_EQ(ref.size(), size_t(b.GetWidth()) * size_t(b.GetHeight()) * kBytes[c.Ref]) << c.File;
    ASSERT_GE(b.GetWidth(), 17);
    EXPECT_LE(MaxDifference(b, c, ref), c.Tolerance) << c.File;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TiffReaderCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& info) {
                             std::string n = info.param.File;
                             n = n.substr(0, n.size() - 4) + (info.param.Native ? "_native" : "");
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

TEST(TiffReader, UnassociatedAlphaGoesToTheMask)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    const TReadResult r = ReadFixture("rgba-lzw.tif", b, p);
    ASSERT_FALSE(r.Aborted);
    ASSERT_TRUE(r.Mask);
    const std::vector<uint8_t> ref = LoadBytes("rgba-lzw.rgba");  // libtiff's RGBA decode
    int worst = 0;
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 17; ++x)
            worst = std::max(worst, std::abs(r.Mask->GetPixel(x, y) - ref[(size_t(y) * 17 + x) * 4 + 3]));
    EXPECT_EQ(worst, 0);
    EXPECT_FALSE(r.Mask->Full);
}

TEST(TiffReader, MultiPageCountsAndSelectsPages)
{
    classlib::TMemoryStream m;
    m.LoadFromFile(FixturePath("multipage.tif"));
    EXPECT_EQ(PxCountTIFFPages(&m), 3);
    const char* refs[3] = {"rgb-none.rgb", "gray8.rgb", "bw-g4.rgb"};
    for (int page = 0; page < 3; ++page) {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        const TReadResult r = ReadFixture("multipage.tif", b, p, page);
        ASSERT_FALSE(r.Aborted) << page;
        EXPECT_EQ(r.Pages, 3);
        EXPECT_EQ(p.TIFFImageCount, 3);
        EXPECT_EQ(MaxDifference(b, TCase{"", false, px24RGB, refRGB, 0}, LoadBytes(refs[page])), 0) << page;
    }
    // A page index equal to the number of pages fails; the count stays.
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    const TReadResult r = ReadFixture("multipage.tif", b, p, 3);
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.Pages, 3);
}

TEST(TiffReader, ParametersOfAPage)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TReadResult r = ReadFixture("res-cm.tif", b, p, 0, true);
    ASSERT_FALSE(r.Aborted);
    EXPECT_TRUE(b.IsEmpty());  // parameters only
    EXPECT_EQ(p.DpiX, 254);    // 100 pixels per centimetre
    EXPECT_EQ(p.DpiY, 254);
    EXPECT_EQ(p.Width, 17);
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.SamplesPerPixel, 1);
    EXPECT_EQ(p.TIFFPhotometric, 1);
    r = ReadFixture("rgb-lzw-pred-be.tif", b, p, 0, true);
    EXPECT_EQ(p.TIFFCompression, 5);
    EXPECT_FALSE(p.TIFFLittleEndian);
    EXPECT_EQ(p.SamplesPerPixel, 3);
    r = ReadFixture("bw-g3-2d.tif", b, p, 0, true);
    EXPECT_EQ(p.TIFFCompression, 3);
    r = ReadFixture("rgb-zip.tif", b, p, 0, true);
    EXPECT_EQ(p.TIFFCompression, 10);
    r = ReadFixture("rgb-separate.tif", b, p, 0, true);
    EXPECT_EQ(p.TIFFPlanarConfig, 2);
    r = ReadFixture("palette4.tif", b, p, 0, true);
    EXPECT_EQ(p.ColorMapCount, 16);
    p.ImagingAnnotTag = 0;
    r = ReadFixture("annot.tif", b, p, 0, true);
    EXPECT_EQ(p.ImagingAnnotTag, 32932);
}

TEST(TiffReader, ThroughTheIOObjectAndTheRegistryRow)
{
    PxInstallTIFFLZWCodec();
    PxInstallColorConversion();
    PxInstallTIFFReader();
    const bool built = !PxFormatRegistryExists();
    if (built)
        PxBuildFormatRegistry();
    {
        TImgIO io(nullptr);
        io.LoadFromFile(FixturePath("rgba-lzw.tif"));
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->FileFormat, ffTIFF);
        TPxBitmap* b = io.GetCurrentBitmap();
        EXPECT_EQ(MaxDifference(*b, TCase{"", false, px24RGB, refRGB, 0}, LoadBytes("rgba-lzw.rgb")), 0);
        ASSERT_TRUE(b->HasAlphaChannel());
        const std::vector<uint8_t> rgba = LoadBytes("rgba-lzw.rgba");
        int worst = 0;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 17; ++x)
                worst = std::max(worst, std::abs(b->GetAlpha(x, y) - rgba[(size_t(y) * 17 + x) * 4 + 3]));
        EXPECT_EQ(worst, 0);
        io.ReadParamsFromFile(FixturePath("multipage.tif"));
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->TIFFImageCount, 3);
    }
    if (built)
        PxFreeFormatRegistry();
}

TEST(TiffReader, OrientationIsAppliedOnRequest)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.SetApplyOrientation(true);
    const TReadResult r = ReadFixture("rgb-orient6.tif", b, p);
    ASSERT_FALSE(r.Aborted);
    ASSERT_EQ(b.GetWidth(), 13);
    ASSERT_EQ(b.GetHeight(), 17);
    EXPECT_EQ(MaxDifference(b, TCase{"", false, px24RGB, refRGB, 0}, LoadBytes("rgb-orient6.rgb")), 0);
    EXPECT_EQ(p.TIFFOrientation, 6);  // the file's value stays
}

TEST(TiffReader, ExifAndGpsDirectoriesOfBothByteOrders)
{
    for (const char* file : {"exif.tif", "exif-be.tif"}) {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        const TReadResult r = ReadFixture(file, b, p, 0, true);
        ASSERT_FALSE(r.Aborted) << file;
        EXPECT_TRUE(p.HasEXIF);
        EXPECT_EQ(p.EXIFMake, "Velmotest");
        EXPECT_EQ(p.EXIFModel, "M1");
        EXPECT_EQ(p.EXIFArtist, "Someone");
        EXPECT_DOUBLE_EQ(p.EXIFExposureTime, 1.0 / 125);
        EXPECT_DOUBLE_EQ(p.EXIFFNumber, 2.8);
        EXPECT_EQ(p.GetEXIFISOSpeedRatings(0), 200);
        EXPECT_EQ(p.DpiX, 300);
        EXPECT_EQ(p.EXIFUserCommentCode, std::string("UNICODE\0", 8));
        EXPECT_EQ(p.EXIFUserComment, L"Caf\u00e9 ok") << file;  // the last ASCII character kept
        EXPECT_EQ(p.EXIFGPSVersionID, "2.3.0.0");
        EXPECT_EQ(p.EXIFGPSLatitudeRef, std::string("N\0", 2));
        EXPECT_DOUBLE_EQ(p.EXIFGPSLatitude[0], 48);
        EXPECT_DOUBLE_EQ(p.EXIFGPSLatitude[1], 30);
        EXPECT_DOUBLE_EQ(p.EXIFGPSLongitude[1], 15);
        EXPECT_NEAR(p.GetEXIFWhitePoint(0), 0.3127, 1e-6);
        // Tags the file has are marked for writing; tags it lacks are not.
        EXPECT_TRUE(p.IsEXIFTagMarked(33434));
        EXPECT_FALSE(p.IsEXIFTagMarked(37385));
        EXPECT_FALSE(p.IsEXIFTagMarked(37383));
        EXPECT_TRUE(p.IsEXIFTagMarked(40961));  // exiftool adds ColorSpace
        EXPECT_EQ(p.EXIFColorSpace, 65535);
        EXPECT_EQ(p.EXIFExifVersion, "0232");
        EXPECT_EQ(p.EXIFExposureMode, -1);
        EXPECT_NE(p.XMPInfo.find("velmo"), std::string::npos);
        if (p.IPTCInfo) {
            bool keyword = false;
            for (int i = 0; i < p.IPTCInfo->GetCount(); ++i)
                if (p.IPTCInfo->GetRecordNumber(i) == 2 && p.IPTCInfo->GetDataSet(i) == 25)
                    keyword = std::string(reinterpret_cast<const char*>(p.IPTCInfo->GetItemData(i)),
                                          size_t(p.IPTCInfo->GetItemLength(i))) == "velmo";
            EXPECT_TRUE(keyword);
        }
    }
}

// Small crafted pages (make_crafted_tiffs.py) with the expected grey rows.
TEST(TiffReader, StripDecoderEdgeCases)
{
    struct {
        const char* File;
        uint8_t Rows[8];
    } cases[] = {
        // -128 produces nothing; the run of 7 crossing the row's end loses
        // its excess (libtiff decodes the same)
        {"edge-packbits.tif", {9, 9, 9, 9, 7, 7, 7, 7}},
        {"edge-count0.tif", {1, 2, 3, 4, 5, 6, 7, 8}},      // count 0: to the end of the file
        {"edge-fillorder3.tif", {1, 2, 3, 4, 5, 6, 7, 8}},  // fill order 3 read as 1
        {"edge-molli.tif", {255, 0, 128, 1, 255, 255, 0, 0}},  // 12-bit values: shift 4
    };
    for (const auto& c : cases) {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        const TReadResult r = ReadFixture(c.File, b, p);
        ASSERT_FALSE(r.Aborted) << c.File;
        ASSERT_EQ(b.GetWidth(), 4);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(b.GetPixelAsRGB(i % 4, i / 4).g, c.Rows[i]) << c.File << " pixel " << i;
    }
}

TEST(TiffReader, ProgressRisesToOneHundredPerRow)
{
    PxInstallTIFFLZWCodec();
    classlib::TMemoryStream m;
    m.LoadFromFile(FixturePath("rgb-lzw.tif"));
    std::vector<int> percents;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, &percents);
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TPxMask* mask = nullptr;
    int32_t pages = 0;
    PxReadTIFF(&b, &m, pages, &p, progress, false, mask, true, false, false);
    ASSERT_FALSE(aborting);
    ASSERT_EQ(percents.size(), 13u);  // one report per row (each a new percent)
    for (size_t i = 1; i < percents.size(); ++i)
        EXPECT_GT(percents[i], percents[i - 1]);
    EXPECT_EQ(percents.back(), 100);
}

TEST(TiffReader, ThumbnailModeDecodesOnlySmallPages)
{
    PxInstallTIFFLZWCodec();
    for (const char* file : {"rgb-lzw.tif", "bad-huge-size.tif"}) {
        classlib::TMemoryStream m;
        m.LoadFromFile(FixturePath(file));
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        TPxMask* mask = nullptr;
        int32_t pages = 0;
        PxReadTIFF(&b, &m, pages, &p, progress, false, mask, true, true, true);
        EXPECT_EQ(aborting, std::string(file) != "rgb-lzw.tif") << file;
        EXPECT_EQ(mask, nullptr);  // alpha ignored
    }
}

// Hostile files: each fails cleanly (aborting flag) or reads what it can,
// and nothing reads or writes outside its buffers.
TEST(TiffReader, HostileFilesFailCleanly)
{
    struct {
        const char* File;
        bool MustAbort;
    } cases[] = {
        {"bad-ifd-loop.tif", false},        // two pages, then the loop ends the chain
        {"bad-self-links.tif", false},      // sub-directory, EXIF and GPS links to itself
        {"bad-truncated-strip.tif", false}, // missing bytes read as 0
        {"bad-strip-offset.tif", false},    // no pixel data: rows stay 0
        {"bad-palette-nomap.tif", true},
        {"bad-huge-count.tif", true},       // the arrays count as absent: no pixel data
        {"bad-bits-differ.tif", true},
        {"bad-huge-size.tif", true},
        {"bad-tiles-outside.tif", false},
        {"bad-jpeg-strip.tif", true},
        {"bad-deflate-strip.tif", true},
    };
    for (const auto& c : cases) {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.TIFFSubIndex = 0;
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        classlib::TMemoryStream m;
        m.LoadFromFile(FixturePath(c.File));
        PxInstallTIFFLZWCodec();
        PxReadTIFFFormat(&m, &b, p, false, progress);
        progress.Mask.Reset();
        if (c.MustAbort) {
            EXPECT_TRUE(aborting) << c.File;
        }
        if (std::string(c.File) == "bad-ifd-loop.tif") {
            EXPECT_EQ(progress.Count, 2);
        }
    }
}

// Reads the first page of a file of the conformance set; true when the
// aborting flag stayed clear. Failure receives the reason.
bool ReadConformancePage(const char* File, TPxBitmap& Bitmap, TPxReadFailure& Failure)
{
    classlib::TMemoryStream m;
    m.LoadFromFile(testsupport::FixtureDir(L"io") + L"\\conformance\\" + std::wstring(File, File + strlen(File)));
    TIOParamsVals p(nullptr);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Failure = &Failure;
    TPxMask* mask = nullptr;
    int32_t pages = 0;
    PxReadTIFF(&Bitmap, &m, pages, &p, progress, false, mask, true, false, false);
    delete mask;
    return !aborting;
}

// Old-style JPEG strips coded afresh each (make_crafted_pages.py of the
// conformance set): the page whose second strip's byte count is halved does
// not decode to its rows and fails as damaged, never as a success; the
// whole page loads.
TEST(TiffReader, OldJpegStripsThatDoNotGiveTheirRowsFailThePage)
{
    PxInstallColorConversion();
    for (const char* file : {"tiff-ojpeg-strip-restarts.tif", "bad-ojpeg-strip-cut.tif"}) {
        TPxBitmap b;
        TPxReadFailure failure = TPxReadFailure::None;
        const bool read = ReadConformancePage(file, b, failure);
        const bool bad = file[0] == 'b';
        EXPECT_EQ(read, !bad) << file;
        EXPECT_EQ(failure, bad ? TPxReadFailure::Corrupt : TPxReadFailure::None) << file;
        EXPECT_EQ(b.GetWidth(), 37) << file;
    }
}

// Old-style JPEG pages that store the same picture another way
// (make_ojpeg_variants.py of the conformance set) decode to the pixels of
// the page they are made from, as a success: ReferenceBlackWhite as LONG
// values, the scan header at the start of the first strip instead of in the
// interchange format, pad bytes after the coded data (a harmless warning).
TEST(TiffReader, OldJpegPagesStoredAnotherWayDecodeTheSame)
{
    PxInstallColorConversion();
    const struct {
        const char* Variant;
        const char* Base;
    } cases[] = {{"ojpeg-range-long.tif", "tiff-ojpeg-range.tif"},
                 {"ojpeg-scan-in-strip.tif", "tiff-ojpeg-strip-restarts.tif"},
                 {"ojpeg-padded.tif", "tiff-ojpeg-strip-restarts.tif"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Variant);
        TPxBitmap base, variant;
        TPxReadFailure baseFailure = TPxReadFailure::None, failure = TPxReadFailure::None;
        EXPECT_TRUE(ReadConformancePage(c.Base, base, baseFailure));
        EXPECT_TRUE(ReadConformancePage(c.Variant, variant, failure));
        EXPECT_EQ(failure, TPxReadFailure::None);
        if (variant.GetWidth() != base.GetWidth() || variant.GetHeight() != base.GetHeight()) {
            ADD_FAILURE() << "size " << variant.GetWidth() << " x " << variant.GetHeight();
            continue;
        }
        int differing = 0;
        for (int y = 0; y < base.GetHeight(); ++y)
            for (int x = 0; x < base.GetWidth(); ++x)
                differing += !(variant.GetPixelAsRGB(x, y) == base.GetPixelAsRGB(x, y));
        EXPECT_EQ(differing, 0);
    }
}

// Pages the decoder cannot place are refused before any image is made,
// never handed out blank: floating-point samples, no strip offsets,
// old-style LZW.
TEST(TiffReader, PagesWithoutADecoderAreRefused)
{
    const struct {
        const char* File;
        TPxReadFailure Why;
    } cases[] = {
        {"refuse-float32.tif", TPxReadFailure::Unsupported},
        {"refuse-no-offsets.tif", TPxReadFailure::BadHeader},
        {"refuse-compat-lzw.tif", TPxReadFailure::Unsupported},
    };
    PxInstallTIFFLZWCodec();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b(3, 3, px24RGB);
        TIOParamsVals p(nullptr);
        bool aborting = false;
        TPxReadFailure why = TPxReadFailure::None;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        progress.Failure = &why;
        classlib::TMemoryStream m;
        m.LoadFromFile(FixturePath(c.File));
        PxReadTIFFFormat(&m, &b, p, false, progress);
        progress.Mask.Reset();
        EXPECT_TRUE(aborting);
        EXPECT_EQ(why, c.Why);
        EXPECT_EQ(b.GetWidth(), 3);  // no page allocated, no row decoded
    }
}

// Damaged copies of real pages (a few bytes changed at fixed pseudo-random
// places): every read returns, failures through the flag only.
TEST(TiffReader, DamagedPagesNeverCrash)
{
    PxInstallTIFFLZWCodec();
    PxInstallColorConversion();
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int failures = 0, reads = 0;
    for (const char* file : {"rgb-lzw-pred.tif", "rgb-tiles-lzw-be.tif", "bw-g4.tif", "bw-g3-2d.tif", "rgb-zip.tif",
                             "rgb-jpeg-ycbcr.tif", "palette8-lzw-be.tif", "rgb-separate-packbits-be.tif",
                             "ojpeg-strips.tif", "exif-be.tif", "rgb16-tiles-be.tif", "cmyk-separate.tif"}) {
        const std::vector<uint8_t> original = LoadBytes(file);
        for (int round = 0; round < 150; ++round) {
            std::vector<uint8_t> bytes = original;
            const int changes = 1 + int(next() % 6);
            for (int k = 0; k < changes; ++k)
                bytes[next() % bytes.size()] = uint8_t(next());
            classlib::TMemoryStream m;
            m.Write(bytes.data(), int64_t(bytes.size()));
            m.SetPosition(0);
            TPxBitmap b;
            TIOParamsVals p(nullptr);
            p.NativePixelFormat = (round & 1) != 0;
            bool aborting = false;
            TPxIOProgressInfo progress;
            progress.Aborting = &aborting;
            PxReadTIFFFormat(&m, &b, p, false, progress);
            std::unique_ptr<TPxMask> mask = progress.Mask.Take();
            ++reads;
            failures += aborting ? 1 : 0;
            if (!aborting) {
                EXPECT_LE(b.GetWidth(), 1000000) << file << " round " << round;
            }
        }
    }
    EXPECT_EQ(reads, 12 * 150);
    EXPECT_GT(failures, 0);  // some damage is noticed
}

TEST(TiffReader, TruncatedStripKeepsTheRowsThatArrived)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.NativePixelFormat = true;
    const TReadResult r = ReadFixture("bad-truncated-strip.tif", b, p);
    ASSERT_FALSE(r.Aborted);
    ASSERT_EQ(b.GetPixelFormat(), px8g);
    EXPECT_EQ(b.GetPixelGray8(5, 1), (5 * 15 + 7) & 255);  // byte 22 of 40
    EXPECT_EQ(b.GetPixelGray8(5, 12), 0);                  // past the end
}

// ---- the directory and tag layer on a hand-made directory

struct TTagFile {
    std::vector<uint8_t> Bytes;
    bool LE;
    void Put16(size_t at, uint32_t v)
    {
        Bytes[at] = uint8_t(LE ? v : v >> 8);
        Bytes[at + 1] = uint8_t(LE ? v >> 8 : v);
    }
    void Put32(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            Bytes[at + i] = uint8_t(LE ? v >> (8 * i) : v >> (24 - 8 * i));
    }
};

// Header, one directory at 8 with the given entries (tag, type, count, value
// word written as a whole 32-bit value unless Short), data from 200.
TTagFile MakeTagFile(bool LE)
{
    TTagFile f{std::vector<uint8_t>(300, 0), LE};
    f.Bytes[0] = f.Bytes[1] = LE ? 'I' : 'M';
    f.Put16(2, 42);
    f.Put32(4, 8);
    f.Put16(8, 5);
    size_t e = 10;
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count) {
        f.Put16(e, tag);
        f.Put16(e + 2, type);
        f.Put32(e + 4, count);
        e += 12;
        return e - 4;
    };
    f.Put16(entry(256, 3, 1), 17);                     // SHORT inline, first half in file order
    size_t v = entry(297, 3, 2);                       // two SHORTs inline
    f.Put16(v, 3);
    f.Put16(v + 2, 9);
    f.Put32(entry(270, 2, 40), 200);                   // ASCII of 40 bytes at 200
    std::memcpy(f.Bytes.data() + 200, "hello\0\0\0", 8);
    v = entry(1, 2, 10);                               // "inline" string that cannot be inline
    std::memcpy(f.Bytes.data() + v, "ABCD", 4);
    f.Put32(entry(282, 5, 1), 240);                    // RATIONAL 300/2 at 240
    f.Put32(240, 300);
    f.Put32(244, 2);
    f.Put32(e, 0);
    return f;
}

TEST(TiffTags, ValuesReadTheSameInBothByteOrders)
{
    for (bool le : {true, false}) {
        TTagFile f = MakeTagFile(le);
        std::unique_ptr<classlib::TMemoryStream> m(new classlib::TMemoryStream());
        m->Write(f.Bytes.data(), int64_t(f.Bytes.size()));
        TTIFFIFDContext ctx;
        ctx.Stream = m.get();
        ctx.LittleEndian = le;
        int32_t count = 0;
        ASSERT_TRUE(PxTIFFReadIFD(0, 8, ctx, count));
        EXPECT_EQ(count, 1);
        EXPECT_EQ(PxTIFFGetTagValue(ctx, 256, 0), 17) << le;
        EXPECT_EQ(PxTIFFGetTagValueN(ctx, 297, 0, -1), 3) << le;
        EXPECT_EQ(PxTIFFGetTagValueN(ctx, 297, 1, -1), 9) << le;
        EXPECT_EQ(PxTIFFGetTagValueN(ctx, 297, 2, -1), -1) << le;
        EXPECT_EQ(PxTIFFGetTagString(ctx, 270), "hello");  // trailing zeros trimmed
        EXPECT_EQ(PxTIFFGetInlineString(ctx, 1), "");       // count 10 is not inline
        EXPECT_DOUBLE_EQ(PxTIFFGetRational(ctx, 282), 150.0);
        EXPECT_EQ(PxTIFFFindTag(ctx, 999), -1);
    }
}

TEST(TiffTags, DirectoryChainEndsAtLoopsAndCutOffs)
{
    // Three directories 8 -> 30 -> 52 -> 30 (a loop of two).
    std::vector<uint8_t> b(80, 0);
    b[0] = b[1] = 'I';
    b[2] = 42;
    b[4] = 8;
    auto dir = [&](size_t at, uint32_t next) {
        b[at] = 1;             // one entry
        b[at + 2] = 0;         // tag 256
        b[at + 3] = 1;
        b[at + 4] = 3;         // SHORT
        b[at + 6] = 1;         // count 1
        b[at + 10] = 5;        // value 5
        b[at + 14] = uint8_t(next);
    };
    dir(8, 30);
    dir(30, 52);
    dir(52, 30);
    classlib::TMemoryStream m;
    m.Write(b.data(), int64_t(b.size()));
    TTIFFIFDContext ctx;
    ctx.Stream = &m;
    int32_t count = 0;
    EXPECT_TRUE(PxTIFFReadIFD(2, 8, ctx, count));
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(PxTIFFReadIFD(3, 8, ctx, count));
    // A directory cut off by the end of the stream is not counted.
    m.SetSize(60);
    EXPECT_FALSE(PxTIFFReadIFD(2, 8, ctx, count));
    EXPECT_EQ(count, 2);
}

}  // namespace
