// DICOM reader: files written by the DICOM toolkit of Debian
// (tests/fixtures/io/dicom/make_dicom_fixtures.sh) in every transfer syntax
// the reader decodes, checked against samples computed from the formulas
// the fixtures were made from; frame selection, the tag list, the frame
// counter, the run-length segment decoder and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/formats/dicom/DicomReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring FixturePath(const std::string& Name) { return testsupport::FixturePath(L"io\\dicom", Name); }

std::vector<uint8_t> LoadBytes(const std::string& Name) { return testsupport::FileBytes(FixturePath(Name)); }

struct TReadResult {
    bool Aborted = false;
    int ImageIndex = -1;
    int ImageCount = 0;
    int Width = 0, Height = 0, BitsPerSample = 0, SamplesPerPixel = 0;
};

TReadResult ReadBytes(const std::vector<uint8_t>& Bytes, TPxBitmap* Bitmap, int Index = 0, bool ParamsOnly = false,
                      TIOParamsVals* Keep = nullptr)
{
    TPxMemStream stream(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TIOParamsVals own(nullptr);
    TIOParamsVals& params = Keep ? *Keep : own;
    params.SetImageIndex(Index);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    PxReadDICOM(&stream, params, Bitmap, ParamsOnly, info);
    TReadResult r;
    r.Aborted = aborting;
    r.ImageIndex = params.ImageIndex;
    r.ImageCount = params.ImageCount;
    r.Width = params.Width;
    r.Height = params.Height;
    r.BitsPerSample = params.BitsPerSample;
    r.SamplesPerPixel = params.SamplesPerPixel;
    return r;
}

// ---- the samples the fixtures were made from

int G16Sample(int x, int y) { return (x * 97 + y * 331) % 1400 + 600; }
int G8Sample(int f, int x, int y) { return f * 80 + x * 7 + y; }
TPxRGB RgbSample(int x, int y)
{
    TPxRGB c;
    c.r = static_cast<uint8_t>(x * 30);
    c.g = static_cast<uint8_t>(y * 50);
    c.b = static_cast<uint8_t>(255 - x * 10 - y * 20);
    return c;
}

// A value v of [Low, High] stretched to 0..Max.
int Stretch(double v, double Low, double High, double Max)
{
    return static_cast<int>(classlib::Trunc((v - Low) / (High - Low) * Max));
}

class DicomReader : public testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        PxInstallJPEGFormat();
        PxInstallDICOMFormat();
    }
};

TEST_F(DicomReader, Grey16IsRescaledAndStretchedInEveryEncoding)
{
    // 12 bits stored, intercept -1024 and no window: the smallest sample
    // becomes 0, the largest 65535, the others in proportion. The big-endian
    // file is the twin of the little-endian one; the run-length and lossless
    // (predictor 6) files were compressed from it.
    int lo = 1 << 30, hi = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            lo = std::min(lo, G16Sample(x, y));
            hi = std::max(hi, G16Sample(x, y));
        }
    for (const char* file : {"g16_le.dcm", "g16_be.dcm", "g16_rle.dcm", "g16_lossless_sv6.dcm"}) {
        SCOPED_TRACE(file);
        TPxBitmap b;
        const TReadResult r = ReadBytes(LoadBytes(file), &b);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Width, 16);
        EXPECT_EQ(r.Height, 12);
        EXPECT_EQ(r.BitsPerSample, 12);
        EXPECT_EQ(r.SamplesPerPixel, 1);
        EXPECT_EQ(r.ImageCount, 1);
        ASSERT_EQ(b.GetPixelFormat(), px16g);
        ASSERT_EQ(b.GetWidth(), 16);
        ASSERT_EQ(b.GetHeight(), 12);
        int bad = 0;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                if (b.GetPixelGray16(x, y) != Stretch(G16Sample(x, y), lo, hi, 65535))
                    ++bad;
        EXPECT_EQ(bad, 0);
        EXPECT_EQ(b.GetPixelGray16(0, 0), 0);  // sample 600, the smallest
    }

    // A uniform image has nothing to stretch: every sample rescaled alike.
    std::vector<uint8_t> uniform = LoadBytes("g16_le.dcm");
    for (size_t i = uniform.size() - 384; i < uniform.size(); i += 2) {
        uniform[i] = 0x14;  // 1300 -> 276 after the intercept
        uniform[i + 1] = 0x05;
    }
    TPxBitmap u;
    ASSERT_FALSE(ReadBytes(uniform, &u).Aborted);
    ASSERT_EQ(u.GetPixelFormat(), px16g);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(u.GetPixelGray16(x, y), 276);
}

TEST_F(DicomReader, SignedSamples)
{
    // Pixel representation 1: negative samples are the darkest.
    auto sample = [](int x, int y) { return (x * 97 + y * 331) % 2000 - 1000; };
    int lo = 1 << 30, hi = -(1 << 30);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            lo = std::min(lo, sample(x, y));
            hi = std::max(hi, sample(x, y));
        }
    ASSERT_LT(lo, -900);
    for (const char* file : {"g16s_le.dcm", "g16s_lossless_sv4.dcm"}) {
        SCOPED_TRACE(file);
        TPxBitmap b;
        ASSERT_FALSE(ReadBytes(LoadBytes(file), &b).Aborted);
        ASSERT_EQ(b.GetPixelFormat(), px16g);
        int bad = 0;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                if (b.GetPixelGray16(x, y) != Stretch(sample(x, y), lo, hi, 65535))
                    ++bad;
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(DicomReader, WindowClipsBeforeTheStretch)
{
    // Centre 40, width 400: -160 and below give 0, 239 and above 65535.
    TPxBitmap b;
    ASSERT_FALSE(ReadBytes(LoadBytes("g16_window.dcm"), &b).Aborted);
    ASSERT_EQ(b.GetPixelFormat(), px16g);
    int low = 0, high = 0, bad = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const double hu = G16Sample(x, y) - 1024.0;
            double w;
            if (hu <= -160) {
                w = 0;
                ++low;
            } else if (hu >= 239) {
                w = 65535;
                ++high;
            } else {
                w = static_cast<double>(classlib::Trunc(((hu - 39.5) / 399 + 0.5) * 65535));
            }
            if (b.GetPixelGray16(x, y) != Stretch(w, 0, 65535, 65535))
                ++bad;
        }
    EXPECT_GT(low, 0);
    EXPECT_GT(high, 0);
    EXPECT_EQ(bad, 0);
}

TEST_F(DicomReader, Grey8FramesAreSelectedAndMonochrome1Inverted)
{
    // Native 8-bit samples are neither rescaled nor stretched; compressed
    // ones are stretched to 0..255 per frame. MONOCHROME1 inverts both.
    struct TCase {
        const char* File;
        int Index, Frame;
        bool Stretched;
    };
    const TCase cases[] = {
        {"g8_implicit.dcm", 5, 2, false},  // index beyond the frames: the last
        {"g8_implicit.dcm", 1, 1, false},
        {"g8_nopreamble.dcm", 0, 0, false},
        {"g8_rle.dcm", 1, 1, true},
        {"g8_lossless_sv1.dcm", 2, 2, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " #" + std::to_string(c.Index));
        TPxBitmap b;
        const TReadResult r = ReadBytes(LoadBytes(c.File), &b, c.Index);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.ImageIndex, c.Frame);
        EXPECT_EQ(r.ImageCount, 3);
        ASSERT_EQ(b.GetPixelFormat(), px8g);
        ASSERT_EQ(b.GetWidth(), 10);
        ASSERT_EQ(b.GetHeight(), 6);
        const int lo = G8Sample(c.Frame, 0, 0), hi = G8Sample(c.Frame, 9, 5);
        int bad = 0;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x) {
                const int s = G8Sample(c.Frame, x, y);
                const int v = c.Stretched ? Stretch(s, lo, hi, 255) : s;
                if (b.GetPixelGray8(x, y) != 255 - v)
                    ++bad;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(DicomReader, BaselineJpegFrameFromAnEmptyOffsetTable)
{
    // Three fragments, no offsets: frame 1 is the second fragment. The data
    // are lossy, so the samples are compared with a tolerance that still
    // tells the frames apart (they are 80 apart before the stretch).
    TPxBitmap b;
    const TReadResult r = ReadBytes(LoadBytes("g8_baseline_nobot.dcm"), &b, 1);
    ASSERT_FALSE(r.Aborted);
    EXPECT_EQ(r.ImageIndex, 1);
    ASSERT_EQ(b.GetPixelFormat(), px8g);
    ASSERT_EQ(b.GetWidth(), 10);
    ASSERT_EQ(b.GetHeight(), 6);
    int worst = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const int expected = 255 - Stretch(G8Sample(1, x, y), G8Sample(1, 0, 0), G8Sample(1, 9, 5), 255);
            worst = std::max(worst, std::abs(b.GetPixelGray8(x, y) - expected));
        }
    EXPECT_LE(worst, 24);
}

TEST_F(DicomReader, Jpeg2000Fragment)
{
    // The JPEG 2000 reader gives grey as px24RGB; the samples are stretched
    // like every compressed grey image.
    TPxBitmap b;
    ASSERT_FALSE(ReadBytes(LoadBytes("g8_j2k.dcm"), &b).Aborted);
    ASSERT_EQ(b.GetWidth(), 10);
    ASSERT_EQ(b.GetHeight(), 6);
    int bad = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const TPxRGB c = b.GetPixelAsRGB(x, y);
            const int expected = Stretch(G8Sample(0, x, y), 0, G8Sample(0, 9, 5), 255);
            if (c.r != expected || c.g != expected || c.b != expected)
                ++bad;
        }
    EXPECT_EQ(bad, 0);
}

TEST_F(DicomReader, ColourInEveryLayout)
{
    // Interleaved (with an icon image in a sequence of undefined length
    // before the main pixel data), planar, run-length and lossless
    // (predictor 7): the same exact colours, never rescaled.
    for (const char* file : {"rgb_icon.dcm", "rgb_planar.dcm", "rgb_rle.dcm", "rgb_lossless_sv7.dcm"}) {
        SCOPED_TRACE(file);
        TPxBitmap b;
        const TReadResult r = ReadBytes(LoadBytes(file), &b);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.SamplesPerPixel, 3);
        ASSERT_EQ(b.GetPixelFormat(), px24RGB);
        ASSERT_EQ(b.GetWidth(), 8);
        ASSERT_EQ(b.GetHeight(), 5);
        int bad = 0;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 8; ++x)
                if (!(b.GetPixelRGB(x, y) == RgbSample(x, y)))
                    ++bad;
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(DicomReader, TagListKeepsEveryElement)
{
    TIOParamsVals params(nullptr);
    TPxBitmap b;
    ASSERT_FALSE(ReadBytes(LoadBytes("g16_le.dcm"), &b, 0, false, &params).Aborted);
    const TPxDICOMTags& tags = *params.DICOMTags;
    auto find = [&](uint16_t g, uint16_t e) -> const TPxDICOMTag* {
        for (int i = 0; i < tags.GetCount(); ++i)
            if (tags.GetTag(i)->Group == g && tags.GetTag(i)->Element == e)
                return tags.GetTag(i);
        return nullptr;
    };
    // A private text with a four-byte length, read past by its own VR.
    const TPxDICOMTag* text = find(0x0009, 0x1001);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text->VR, 2), "UT");
    EXPECT_STREQ(reinterpret_cast<const char*>(text->Data.get()),
                 "A private text whose length needs four bytes in explicit VR.");
    const TPxDICOMTag* ob = find(0x0009, 0x1002);
    ASSERT_NE(ob, nullptr);
    ASSERT_EQ(ob->DataLength, 4);
    EXPECT_EQ(std::memcmp(ob->Data.get(), "\x01\x02\x03\x04", 5), 0);  // with its terminating zero
    const TPxDICOMTag* rows = find(0x0028, 0x0010);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(std::string(rows->VR, 2), "US");
    const TPxDICOMTag* pixels = find(0x7FE0, 0x0010);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->Data, nullptr);
    EXPECT_EQ(tags.GetTag(tags.GetCount() - 1), pixels);  // the walk ends there

    // Implicit VR: the dictionary gives the VR.
    TIOParamsVals implicit(nullptr);
    ASSERT_FALSE(ReadBytes(LoadBytes("g8_implicit.dcm"), nullptr, 0, true, &implicit).Aborted);
    bool sawFrames = false;
    for (int i = 0; i < implicit.DICOMTags->GetCount(); ++i) {
        const TPxDICOMTag* t = implicit.DICOMTags->GetTag(i);
        if (t->Group == 0x0028 && t->Element == 0x0008) {
            sawFrames = true;
            EXPECT_EQ(std::string(t->VR, 2), "IS");
        }
    }
    EXPECT_TRUE(sawFrames);
}

TEST_F(DicomReader, DetectionAndFrameCounting)
{
    std::vector<uint8_t> withPreamble = LoadBytes("g8_implicit.dcm");
    std::vector<uint8_t> without = LoadBytes("g8_nopreamble.dcm");
    TPxMemStream a(withPreamble.data(), static_cast<int64_t>(withPreamble.size()));
    TPxMemStream b(without.data(), static_cast<int64_t>(without.size()));
    EXPECT_TRUE(PxIsDICOM(a));
    EXPECT_FALSE(PxIsDICOM(b));

    // The counter restores the position it started at (data at offset 7).
    std::vector<uint8_t> shifted(7, 0xAA);
    shifted.insert(shifted.end(), withPreamble.begin(), withPreamble.end());
    TPxMemStream s(shifted.data(), static_cast<int64_t>(shifted.size()));
    s.SetPosition(7);
    EXPECT_EQ(PxCountDICOMFrames(&s), 3);
    EXPECT_EQ(s.GetPosition(), 7);
    EXPECT_EQ(PxCountDICOMFrames(&b), 3);
    EXPECT_EQ(PxCountDICOMFramesInFile(FixturePath("g16_le.dcm")), 1);

    // The number of frames is a trimmed decimal text: " 12 " counts 12.
    std::vector<uint8_t> twelve = withPreamble;
    const char* three = "3 ";  // IS values are padded to an even length
    auto at = std::search(twelve.begin(), twelve.end(), three, three + 2);
    ASSERT_NE(at, twelve.end());
    std::memcpy(&*at, "12", 2);
    TPxMemStream t(twelve.data(), static_cast<int64_t>(twelve.size()));
    EXPECT_EQ(PxCountDICOMFrames(&t), 12);
}

TEST_F(DicomReader, RunLengthSegments)
{
    struct TCase {
        std::vector<uint8_t> In;
        int64_t Count;
        std::vector<uint8_t> Out;
    };
    const TCase cases[] = {
        {{2, 'a', 'b', 'c', 0xFE, 'x', 0x80, 0, 'z'}, 7, {'a', 'b', 'c', 'x', 'x', 'x', 'z'}},
        {{0x81, 7}, 5, {7, 7, 7, 7, 7}},       // a run longer than the output is cut
        {{4, 1, 2, 3, 4, 5}, 3, {1, 2, 3}},    // so is a literal
        {{3, 1, 2}, 4, {1, 2, 0, 0}},          // the data end early
        {{0xFF}, 2, {0, 0}},                   // a repeat without its byte
    };
    for (const TCase& c : cases) {
        TPxMemStream in(c.In.data(), static_cast<int64_t>(c.In.size()));
        std::vector<uint8_t> out(static_cast<size_t>(c.Count) + 4, 0);
        DICOMUnpackRLE(&in, out.data(), c.Count);
        std::vector<uint8_t> expected = c.Out;
        expected.resize(out.size(), 0);  // nothing written beyond the count
        EXPECT_EQ(out, expected);
    }
}

TEST_F(DicomReader, DamagedInputFailsCleanly)
{
    const std::vector<uint8_t> g16 = LoadBytes("g16_le.dcm");
    const std::vector<uint8_t> g8 = LoadBytes("g8_implicit.dcm");
    const std::vector<uint8_t> rle = LoadBytes("g16_rle.dcm");
    const std::vector<uint8_t> lossless = LoadBytes("g8_lossless_sv1.dcm");
    auto patched = [](std::vector<uint8_t> d, const std::vector<uint8_t>& find, const std::vector<uint8_t>& with,
                      int skip = 0) {
        auto at = std::search(d.begin(), d.end(), find.begin(), find.end());
        if (at != d.end())
            std::copy(with.begin(), with.end(), at + skip);
        return d;
    };
    // Lossless JPEG: the start-of-scan marker, the predictor byte after it.
    const std::vector<uint8_t> sos = {0xFF, 0xDA};
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
    };
    const TCase cases[] = {
        {"empty", {}},
        {"no pixel data", std::vector<uint8_t>(g16.begin(), g16.begin() + 200)},
        {"frame cut short", std::vector<uint8_t>(g16.begin(), g16.end() - 10)},
        {"rows beyond the data", patched(g8, {0x28, 0, 0x10, 0, 2, 0, 0, 0, 6, 0}, {0xFF, 0xFF}, 8)},
        {"encapsulated data cut", std::vector<uint8_t>(rle.begin(), rle.end() - 40)},
        {"run-length segment offsets wild",
         patched(rle, {0xFE, 0xFF, 0x00, 0xE0}, {0xFF, 0xFF, 0xFF, 0x7F}, 12 + 8)},
        {"lossless predictor 9", patched(lossless, sos, {9}, 2 + 2 + 1 + 2)},
        {"lossless data end at once", patched(lossless, sos, {0xFF, 0xD9}, 2 + 8)},
        {"element longer than the file", patched(g16, {0x28, 0, 0x52, 0x10, 'D', 'S'}, {0xFF, 0x7F}, 6)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap b;
        EXPECT_TRUE(ReadBytes(c.Data, &b).Aborted);
    }
    // A garbage stream that happens to parse as elements never crashes.
    std::vector<uint8_t> noise(3000);
    uint32_t seed = 12345;
    for (uint8_t& v : noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<uint8_t>(seed >> 24);
    }
    for (size_t cut : {size_t(3000), size_t(700), size_t(131)}) {
        TPxBitmap b;
        ReadBytes(std::vector<uint8_t>(noise.begin(), noise.begin() + cut), &b);
    }
}

TEST_F(DicomReader, SystemBitmapReceivesColour)
{
    // A 16-bit grey image cannot live in a system bitmap: it arrives as
    // px24RGB grey.
    TPxBitmap b;
    b.SetLocation(pxTBitmap);
    ASSERT_TRUE(b.Allocate(2, 2, px24RGB));
    ASSERT_EQ(b.GetLocation(), pxTBitmap);
    ASSERT_FALSE(ReadBytes(LoadBytes("g16_le.dcm"), &b).Aborted);
    ASSERT_EQ(b.GetPixelFormat(), px24RGB);
    ASSERT_EQ(b.GetWidth(), 16);
    const TPxRGB first = b.GetPixelRGB(0, 0), last = b.GetPixelRGB(6, 5);
    EXPECT_EQ(first.r, 0);
    EXPECT_TRUE(last.r == last.g && last.g == last.b);
    EXPECT_GT(last.r, 0);
}

TEST_F(DicomReader, LoadsThroughTheIOObject)
{
    if (!PxFormatRegistryExists())
        PxBuildFormatRegistry();
    PxInstallDICOMFormat();
    TImgIO io(nullptr);
    io.LoadFromFile(FixturePath("rgb_icon.dcm"));
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.FileParams->FileFormat, ffDICOM);
    TPxBitmap* image = io.GetCurrentBitmap();
    ASSERT_EQ(image->GetWidth(), 8);
    EXPECT_TRUE(image->GetPixelRGB(3, 2) == RgbSample(3, 2));
    EXPECT_EQ(PxCountFileFrames(FixturePath("g8_implicit.dcm")), 3);
}

}  // namespace
