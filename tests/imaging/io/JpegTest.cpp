// JPEG reader, writer and library glue. Decodes are compared with the
// reference decodes of the Debian tools (tests/fixtures/io/jpeg, made by
// make_fixtures.sh from files written by cjpeg and ImageMagick).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/TestSupport.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/formats/jpeg/JpegGlue.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxJpegMarkers.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

std::wstring Fixture(const std::wstring& name) { return testsupport::FixturePath(L"io\\jpeg", name); }

std::vector<uint8_t> LoadBytes(const std::wstring& path) { return testsupport::FileBytes(path); }

// A binary PPM (P6) or PGM (P5) with maxval 255.
struct TPnm {
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    std::vector<uint8_t> Pixels;  // R, G, B or grey, top row first
};

TPnm LoadPnm(const std::wstring& name)
{
    std::vector<uint8_t> bytes = LoadBytes(Fixture(name));
    TPnm pnm;
    size_t pos = 0;
    auto token = [&]() {
        while (pos < bytes.size() && isspace(bytes[pos]))
            ++pos;
        std::string t;
        while (pos < bytes.size() && !isspace(bytes[pos]))
            t += static_cast<char>(bytes[pos++]);
        return t;
    };
    const std::string magic = token();
    pnm.Channels = magic == "P6" ? 3 : 1;
    pnm.Width = std::stoi(token());
    pnm.Height = std::stoi(token());
    token();  // maxval
    ++pos;
    pnm.Pixels.assign(bytes.begin() + static_cast<ptrdiff_t>(pos), bytes.end());
    return pnm;
}

struct TReadResult {
    int Rows = 0;
    bool Aborted = false;
};

// Reads Data (from Offset) with the file loaders' arguments.
TReadResult ReadJpeg(const std::vector<uint8_t>& Data, TPxBitmap& Bitmap, TIOParamsVals& Params,
                     bool ParamsOnly = false, int64_t Offset = 0)
{
    classlib::TMemoryStream stream;
    if (!Data.empty())
        stream.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    stream.SetPosition(Offset);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    TReadResult r;
    r.Rows = PxReadJPEG(&stream, &Bitmap,
                        {.NativePixelFormat = Params.NativePixelFormat, .ReadColorProfile = true,
                         .ApplyColorProfile = true, .ReadMetadata = true, .ParamsOnly = ParamsOnly},
                        progress, Params);
    r.Aborted = aborting;
    return r;
}

TReadResult ReadFixture(const std::wstring& Name, TPxBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly = false)
{
    return ReadJpeg(LoadBytes(Fixture(Name)), Bitmap, Params, ParamsOnly);
}

// Writes Bitmap into a new byte vector; Aborted reports the flag.
std::vector<uint8_t> WriteJpeg(TPxBitmap& Bitmap, TIOParamsVals& Params, bool* Aborted = nullptr)
{
    classlib::TMemoryStream stream;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteJPEG(&stream, &Bitmap, Params, progress);
    if (Aborted)
        *Aborted = aborting;
    const auto* p = static_cast<const uint8_t*>(stream.GetMemory());
    return std::vector<uint8_t>(p, p + stream.GetSize());
}

// The number of bytes of a px24RGB image that differ from an RGB PPM; -1
// when the sizes differ.
int CountRGBDifferences(TPxBitmap& Bitmap, const TPnm& Ref, int Tolerance = 0)
{
    if (Bitmap.GetWidth() != Ref.Width || Bitmap.GetHeight() != Ref.Height || Bitmap.GetPixelFormat() != px24RGB)
        return -1;
    int differences = 0;
    for (int y = 0; y < Ref.Height; ++y) {
        const uint8_t* row = Bitmap.GetScanline(y);
        const uint8_t* ref = Ref.Pixels.data() + static_cast<size_t>(y) * Ref.Width * 3;
        for (int x = 0; x < Ref.Width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(row[x * 3 + c] - ref[x * 3 + (2 - c)]) > Tolerance)
                    ++differences;
    }
    return differences;
}

// The mean absolute difference of a px24RGB image and an RGB PPM.
double MeanError(TPxBitmap& Bitmap, const TPnm& Ref)
{
    if (Bitmap.GetWidth() != Ref.Width || Bitmap.GetHeight() != Ref.Height || Bitmap.GetPixelFormat() != px24RGB)
        return 1e9;
    double sum = 0;
    for (int y = 0; y < Ref.Height; ++y) {
        const uint8_t* row = Bitmap.GetScanline(y);
        const uint8_t* ref = Ref.Pixels.data() + static_cast<size_t>(y) * Ref.Width * 3;
        for (int x = 0; x < Ref.Width * 3; x += 3)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(row[x + c] - ref[x + 2 - c]);
    }
    return sum / (Ref.Width * Ref.Height * 3.0);
}

// A px24RGB image of an RGB PPM.
std::unique_ptr<TPxBitmap> BitmapOf(const TPnm& Pnm)
{
    auto bitmap = std::make_unique<TPxBitmap>(Pnm.Width, Pnm.Height, px24RGB);
    for (int y = 0; y < Pnm.Height; ++y) {
        uint8_t* row = bitmap->GetScanline(y);
        const uint8_t* src = Pnm.Pixels.data() + static_cast<size_t>(y) * Pnm.Width * 3;
        for (int x = 0; x < Pnm.Width; ++x) {
            row[x * 3] = src[x * 3 + 2];
            row[x * 3 + 1] = src[x * 3 + 1];
            row[x * 3 + 2] = src[x * 3];
        }
    }
    return bitmap;
}

// Segments of a JPEG file up to the first SOS: (marker, payload).
std::vector<std::pair<uint8_t, std::vector<uint8_t>>> Segments(const std::vector<uint8_t>& Data)
{
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> result;
    size_t p = 2;
    while (p + 4 <= Data.size() && Data[p] == 0xFF) {
        const uint8_t m = Data[p + 1];
        const size_t length = (Data[p + 2] << 8) | Data[p + 3];
        if (length < 2 || p + 2 + length > Data.size())
            break;
        result.emplace_back(m, std::vector<uint8_t>(Data.begin() + static_cast<ptrdiff_t>(p + 4),
                                                    Data.begin() + static_cast<ptrdiff_t>(p + 2 + length)));
        if (m == 0xDA)
            break;
        p += 2 + length;
    }
    return result;
}

std::vector<uint8_t> Segment(uint8_t Marker, const std::vector<uint8_t>& Payload)
{
    std::vector<uint8_t> s = {0xFF, Marker, static_cast<uint8_t>((Payload.size() + 2) >> 8),
                              static_cast<uint8_t>((Payload.size() + 2) & 0xFF)};
    s.insert(s.end(), Payload.begin(), Payload.end());
    return s;
}

std::vector<uint8_t> Text(const char* s, size_t n) { return std::vector<uint8_t>(s, s + n); }

std::vector<uint8_t> IccChunk(uint8_t Number, uint8_t Count, const std::vector<uint8_t>& Payload)
{
    std::vector<uint8_t> c = Text("ICC_PROFILE", 12);
    c.push_back(Number);
    c.push_back(Count);
    c.insert(c.end(), Payload.begin(), Payload.end());
    return c;
}

// A stream that accepts only Limit bytes, or raises once past it.
class TLimitedStream : public classlib::TMemoryStream {
public:
    TLimitedStream(int64_t Limit, bool Raise) : limit_(Limit), raise_(Raise) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t room = limit_ - GetPosition();
        if (Count > room && raise_)
            throw classlib::EWriteError(L"Stream write error");
        return classlib::TMemoryStream::Write(Buffer, Count < room ? Count : (room > 0 ? room : 0));
    }

private:
    int64_t limit_;
    bool raise_;
};

// Restores PxUseCMYKProfile.
class TProfileSwitch : public testsupport::TValueScope<bool> {
public:
    explicit TProfileSwitch(bool Value) : TValueScope(PxUseCMYKProfile, Value) {}
};

}  // namespace

// Stand-in for the EXIF unit and a scope that installs a reader.
namespace {
// Stands in for the EXIF unit: accepts any "Exif" payload and reports a
// resolution of 28 x 40 dots per centimetre and orientation 6.
bool FakeEXIFReader(const uint8_t* Buffer, int32_t Length, TIOParamsVals& Params)
{
    if (!PxIsEXIFPayload(Buffer, Length))
        return false;
    Params.HasEXIF = true;
    Params.EXIFResolutionUnit = 3;
    Params.SetEXIFXResolution(28);
    Params.SetEXIFYResolution(40);
    Params.EXIFOrientation = 6;
    return true;
}

class THookScope : public testsupport::TValueScope<TPxLoadEXIFFromBufferProc> {
public:
    explicit THookScope(TPxLoadEXIFFromBufferProc Hook) : TValueScope(PxLoadEXIFFromBufferHook, Hook) {}
};
}  // namespace

// ---- library glue

TEST(JpegGlue, MessageTableAndErrorExit)
{
    EXPECT_EQ(PxJpegMessageText(21), L"JPEG parameter struct mismatch: library thinks size is ?, caller expects ?");
    EXPECT_EQ(PxJpegMessageText(200), L"Corrupted");
    EXPECT_EQ(PxJpegMessageText(-1), L"Corrupted");
    EXPECT_EQ(PxJpegMessageText(73), L"");
    EXPECT_EQ(PxJpegMessageText(74), L"");
    EXPECT_EQ(PxJpegMessageText(117), L"Corrupt JPEG data: premature end of data segment");

    bool aborting = false;
    try {
        PxJpegRaiseErrorForTest(21, &aborting);
        FAIL() << "no exception";
    } catch (const EPxJpegException& e) {
        EXPECT_EQ(e.Message(), L"JPEG parameter struct mismatch: library thinks size is ?, caller expects ?");
    }
    EXPECT_TRUE(aborting);
    aborting = false;
    EXPECT_THROW(PxJpegRaiseErrorForTest(73, &aborting), EPxJpegException);
    EXPECT_THROW(PxJpegRaiseErrorForTest(200, nullptr), EPxJpegException);
    // "Too few scanlines" lets the library go on but flags the call.
    aborting = false;
    EXPECT_NO_THROW(PxJpegRaiseErrorForTest(67, &aborting));
    EXPECT_TRUE(aborting);

    int count = 0;
    int code = 0;
    PxJpegWarnForTest({117, 120}, count, code);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(code, 120);
}

TEST(JpegGlue, MarkersThatDoNotFitOneSegmentAreNotWritten)
{
    classlib::TMemoryStream stream;
    bool aborting = false;
    {
        TPxJpegEncoder encoder(&aborting);
        encoder.SetDestination(&stream);
        TPxJpegEncodeSettings settings;
        settings.Width = 8;
        settings.Height = 8;
        encoder.Start(settings);
        const std::vector<uint8_t> largest(PxJpegMaxMarkerPayload, 0x41), tooLong(70000, 0x42);
        encoder.WriteMarker(0xE1, tooLong.data(), static_cast<uint32_t>(tooLong.size()));
        encoder.WriteMarker(0xE3, largest.data(), static_cast<uint32_t>(largest.size()));
        const std::vector<uint8_t> row(8 * 3, 0x80);
        for (int y = 0; y < 8; ++y)
            encoder.WriteRow(row.data());
        encoder.Finish();
    }
    EXPECT_FALSE(aborting);
    const auto* p = static_cast<const uint8_t*>(stream.GetMemory());
    const auto segments = Segments(std::vector<uint8_t>(p, p + stream.GetSize()));
    int app1 = 0, app3 = 0;
    for (auto& seg : segments) {
        app1 += seg.first == 0xE1;
        if (seg.first == 0xE3) {
            ++app3;
            EXPECT_EQ(seg.second.size(), PxJpegMaxMarkerPayload);
        }
    }
    EXPECT_EQ(app1, 0);
    EXPECT_EQ(app3, 1);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.back().first, 0xDA);  // the file goes on to its scan
}

// ---- reading

TEST(JpegRead, DecodesMatchTheReferenceDecoder)
{
    struct TCase {
        const wchar_t* Jpeg;
        const wchar_t* Ref;
        uint8_t ColorSpace;
        bool Progressive;
    };
    const TCase cases[] = {
        {L"baseline.jpg", L"baseline.ppm", 2, false}, {L"progressive.jpg", L"progressive.ppm", 2, true},
        {L"restart.jpg", L"restart.ppm", 2, false},   {L"arith.jpg", L"arith.ppm", 2, false},
        {L"rgb.jpg", L"rgb.ppm", 0, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Jpeg);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        const TReadResult r = ReadFixture(c.Jpeg, bitmap, params);
        EXPECT_FALSE(r.Aborted);
        EXPECT_EQ(r.Rows, 34);
        EXPECT_EQ(CountRGBDifferences(bitmap, LoadPnm(c.Ref)), 0);
        EXPECT_EQ(params.JPEGColorSpace, c.ColorSpace);
        EXPECT_EQ(params.JPEGProgressive, c.Progressive);
        EXPECT_EQ(params.SamplesPerPixel, 3);
        EXPECT_EQ(params.Width, 50);
        EXPECT_EQ(params.OriginalHeight, 34);
        EXPECT_EQ(params.JPEGWarningCount, 0);
    }
}

TEST(JpegRead, GreyNativeAndExpanded)
{
    const TPnm ref = LoadPnm(L"grey.pgm");
    for (bool native : {true, false}) {
        SCOPED_TRACE(native);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = native;
        ASSERT_FALSE(ReadFixture(L"grey.jpg", bitmap, params).Aborted);
        EXPECT_EQ(params.JPEGColorSpace, 1);
        EXPECT_EQ(params.SamplesPerPixel, 1);
        ASSERT_EQ(bitmap.GetPixelFormat(), native ? px8g : px24RGB);
        int differences = 0;
        for (int y = 0; y < ref.Height; ++y) {
            const uint8_t* row = bitmap.GetScanline(y);
            for (int x = 0; x < ref.Width; ++x) {
                const uint8_t g = ref.Pixels[static_cast<size_t>(y) * ref.Width + x];
                if (native)
                    differences += row[x] != g;
                else
                    differences += row[x * 3] != g || row[x * 3 + 1] != g || row[x * 3 + 2] != g;
            }
        }
        EXPECT_EQ(differences, 0);
    }
}

TEST(JpegRead, ScaledDecoding)
{
    struct TCase {
        uint8_t Scale;
        const wchar_t* Ref;
        int Denominator;
    };
    const TCase cases[] = {{2, L"baseline_s2.ppm", 2}, {3, L"baseline_s4.ppm", 4}, {4, L"baseline_s8.ppm", 8}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Denominator);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.JPEGScale = c.Scale;
        ASSERT_FALSE(ReadFixture(L"baseline.jpg", bitmap, params).Aborted);
        EXPECT_EQ(params.JPEGScaleDenominator, c.Denominator);
        EXPECT_EQ(CountRGBDifferences(bitmap, LoadPnm(c.Ref)), 0);
        EXPECT_EQ(params.OriginalWidth, 50);
    }
    // Automatic: the largest reduction that still covers the asked size.
    struct TAuto {
        int Width, Height, Denominator;
    };
    for (const TAuto& a : {TAuto{6, 4, 8}, TAuto{7, 4, 4}, TAuto{12, 9, 2}, TAuto{50, 34, 1}, TAuto{0, 0, 1}}) {
        SCOPED_TRACE(a.Width);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.JPEGScale = 0;
        params.Width = a.Width;
        params.Height = a.Height;
        ASSERT_FALSE(ReadFixture(L"baseline.jpg", bitmap, params).Aborted);
        EXPECT_EQ(params.JPEGScaleDenominator, a.Denominator);
        EXPECT_EQ(bitmap.GetWidth(), (50 + a.Denominator - 1) / a.Denominator);
    }
}

TEST(JpegRead, AdobeYCCKAndCMYK)
{
    // ImageMagick's file is YCCK; its samples use 0 for no ink, Adobe files
    // and pxCMYK store them inverted.
    const std::vector<uint8_t> im = LoadBytes(Fixture(L"ycck.raw"));
    ASSERT_EQ(im.size(), 50u * 34u * 4u);
    TPxBitmap native;
    {
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = true;
        ASSERT_FALSE(ReadFixture(L"ycck.jpg", native, params).Aborted);
        EXPECT_EQ(params.JPEGColorSpace, 4);
        EXPECT_EQ(params.SamplesPerPixel, 4);
        ASSERT_EQ(native.GetPixelFormat(), pxCMYK);
        int differences = 0;
        for (int y = 0; y < 34; ++y) {
            const uint8_t* row = native.GetScanline(y);
            for (int i = 0; i < 50 * 4; ++i)
                differences += row[i] != 255 - im[static_cast<size_t>(y) * 200 + i];
        }
        EXPECT_EQ(differences, 0);
    }
    // Without the native format the rows go through the conversion hook; with
    // the profile switch off that is the exact formula.
    TProfileSwitch off(false);
    TPxBitmap rgb;
    TIOParamsVals params(nullptr);
    ASSERT_FALSE(ReadFixture(L"ycck.jpg", rgb, params).Aborted);
    ASSERT_EQ(rgb.GetPixelFormat(), px24RGB);
    int differences = 0;
    for (int y = 0; y < 34; ++y) {
        const uint8_t* c = native.GetScanline(y);
        std::vector<uint8_t> cmyk(c, c + 200);
        const uint8_t* row = rgb.GetScanline(y);
        for (int x = 0; x < 50; ++x) {
            const int k = cmyk[x * 4 + 3];
            differences += row[x * 3 + 2] != cmyk[x * 4] * k / 255;
            differences += row[x * 3 + 1] != cmyk[x * 4 + 1] * k / 255;
            differences += row[x * 3] != cmyk[x * 4 + 2] * k / 255;
        }
    }
    EXPECT_EQ(differences, 0);

    // A CMYK file (Adobe transform 0) of our writer holds the inverted
    // samples of the conversion: read natively they come back within the
    // coding error.
    TPxBitmap source(4, 2, px24RGB);
    const TPxRGB colours[8] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255},
                               {0, 0, 0},   {40, 80, 120}, {200, 100, 50}, {128, 128, 128}};
    for (int i = 0; i < 8; ++i)
        source.SetPixelRGB(i % 4, i / 4, colours[i]);
    TIOParamsVals out(nullptr);
    out.JPEGColorSpace = 3;
    out.JPEGQuality = 100;
    const std::vector<uint8_t> file = WriteJpeg(source, out);
    TPxBitmap back;
    TIOParamsVals in(nullptr);
    in.NativePixelFormat = true;
    ASSERT_FALSE(ReadJpeg(file, back, in).Aborted);
    EXPECT_EQ(in.JPEGColorSpace, 3);
    ASSERT_EQ(back.GetPixelFormat(), pxCMYK);
    for (int i = 0; i < 8; ++i) {
        const TPxRGB c = colours[i];
        const int k = std::max({c.r, c.g, c.b}) == 0 ? 1 : std::max({c.r, c.g, c.b});
        const uint8_t* p = back.GetScanline(i / 4) + (i % 4) * 4;
        EXPECT_NEAR(p[0], c.r * 255 / k, 3) << i;
        EXPECT_NEAR(p[1], c.g * 255 / k, 3) << i;
        EXPECT_NEAR(p[2], c.b * 255 / k, 3) << i;
        EXPECT_NEAR(p[3], k, 3) << i;
    }
}

TEST(JpegRead, ParametersOnlyReadsNoPixels)
{
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    const TReadResult r = ReadFixture(L"progressive.jpg", bitmap, params, true);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Rows, 0);
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(params.Width, 50);
    EXPECT_EQ(params.Height, 34);
    EXPECT_TRUE(params.JPEGProgressive);

    // Through the I/O object and the registry row.
    PxBuildFormatRegistry();
    {
        TImgIO io(nullptr);
        io.ReadParamsFromFile(Fixture(L"grey.jpg"));
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->FileFormat, ffJPEG);
        EXPECT_EQ(io.FileParams->Width, 50);
        EXPECT_EQ(io.FileParams->JPEGColorSpace, 1);
        EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());
        io.LoadFromFile(Fixture(L"baseline.jpg"));
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(CountRGBDifferences(*io.GetCurrentBitmap(), LoadPnm(L"baseline.ppm")), 0);
    }
    PxFreeFormatRegistry();
}

TEST(JpegRead, DensityUnits)
{
    struct TCase {
        const wchar_t* File;
        int DpiX, DpiY;
    };
    // Unit 2 is dots per centimetre: 28 -> 71.12, 40 -> 101.6.
    for (const TCase& c : {TCase{L"density0.jpg", 3, 2}, TCase{L"density1.jpg", 72, 96},
                           TCase{L"density2.jpg", 71, 102}}) {
        SCOPED_TRACE(c.File);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadFixture(c.File, bitmap, params, true).Aborted);
        EXPECT_EQ(params.DpiX, c.DpiX);
        EXPECT_EQ(params.DpiY, c.DpiY);
    }
}

TEST(JpegRead, TruncatedFileKeepsWhatIsThere)
{
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    const TReadResult r = ReadFixture(L"truncated.jpg", bitmap, params);
    // The image is completed with the library's fill and flagged by the
    // warning count and code; the rows before the cut are exact.
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Rows, 34);
    EXPECT_GE(params.JPEGWarningCount, 1);
    EXPECT_EQ(params.JPEGWarningCode, PxJpegPrematureEndCode());
    const TPnm ref = LoadPnm(L"baseline.ppm");
    for (int y = 0; y < 8; ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(row[x * 3 + 2], ref.Pixels[(static_cast<size_t>(y) * 50 + x) * 3]) << x << "," << y;
    }
}

// A picture the library could read only in part reaches the I/O object as a
// successful load that keeps the decoded rows, with the reason it is
// incomplete as a warning; a complete one has none.
TEST(JpegRead, IOObjectNamesAnIncompletePicture)
{
    PxBuildFormatRegistry();
    struct TCase {
        const wchar_t* File;
        TPxReadFailure Warning;
        const wchar_t* Text;
    };
    for (const TCase& c : {TCase{L"baseline.jpg", TPxReadFailure::None, L""},
                           TCase{L"truncated.jpg", TPxReadFailure::Truncated, L"the file ends before its image does"},
                           TCase{L"corrupt.jpg", TPxReadFailure::Corrupt, L"the image data are damaged"}}) {
        SCOPED_TRACE(c.File);
        TImgIO io(nullptr);
        io.LoadFromFile(Fixture(c.File));
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.GetLastFailure(), TPxReadFailure::None);
        EXPECT_EQ(io.GetLastWarning(), c.Warning);
        EXPECT_EQ(io.GetLastWarningText(), c.Text);
        EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 50);
        EXPECT_EQ(io.GetCurrentBitmap()->GetHeight(), 34);
    }
    // A failed load carries its reason as a failure, not as a warning.
    TImgIO io(nullptr);
    io.LoadFromFile(Fixture(L"make_fixtures.sh"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.GetLastWarning(), TPxReadFailure::None);
    PxFreeFormatRegistry();
}

TEST(JpegRead, FindsTheStartWithinTheSearchWindow)
{
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"baseline.jpg"));
    const TPnm ref = LoadPnm(L"baseline.ppm");
    for (size_t junk : {size_t{0}, size_t{149}, size_t{150}}) {
        SCOPED_TRACE(junk);
        std::vector<uint8_t> data(junk, 0x5A);
        data.insert(data.end(), jpeg.begin(), jpeg.end());
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        const TReadResult r = ReadJpeg(data, bitmap, params);
        if (junk < 150) {
            EXPECT_FALSE(r.Aborted);
            EXPECT_EQ(CountRGBDifferences(bitmap, ref), 0);
        } else {
            EXPECT_TRUE(r.Aborted);
            EXPECT_EQ(r.Rows, 0);
        }
    }
    // The window counts from the stream's position.
    std::vector<uint8_t> data(300, 0x11);
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    EXPECT_FALSE(ReadJpeg(data, bitmap, params, false, 200).Aborted);
    EXPECT_EQ(CountRGBDifferences(bitmap, ref), 0);
}

TEST(JpegRead, EmbeddedThumbnailPathStartsWhereTheReadStarted)
{
    // Without an EXIF reader the switch falls back to the image, read
    // from the stream's position (not from the stream's beginning, where
    // other data lie beyond the search window).
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"baseline.jpg"));
    std::vector<uint8_t> data(400, 0x22);
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    THookScope noEXIF(nullptr);
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.JPEGUseEmbeddedThumbnail = true;
    const TReadResult r = ReadJpeg(data, bitmap, params, false, 400);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(CountRGBDifferences(bitmap, LoadPnm(L"baseline.ppm")), 0);
    EXPECT_TRUE(params.JPEGUseEmbeddedThumbnail);
    EXPECT_FALSE(params.HasEXIF);
}

TEST(JpegRead, EmbeddedThumbnailDeliveredFromTheReadsStart)
{
    // With the EXIF reader: the thumbnail (13 x 9) of the file, found from
    // the stream's position behind data beyond the search window.
    THookScope exif(PxLoadEXIFFromBuffer);
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"thumb.jpg"));
    std::vector<uint8_t> data(400, 0x22);
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.JPEGUseEmbeddedThumbnail = true;
    const TReadResult r = ReadJpeg(data, bitmap, params, false, 400);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Rows, 0);
    EXPECT_TRUE(params.HasEXIF);
    EXPECT_EQ(bitmap.GetWidth(), 13);
    EXPECT_EQ(bitmap.GetHeight(), 9);
    EXPECT_TRUE(params.JPEGUseEmbeddedThumbnail);
}

TEST(JpegRead, BadDataFailsCleanly)
{
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"baseline.jpg"));
    std::vector<std::vector<uint8_t>> inputs;
    inputs.push_back({});                                        // empty
    inputs.push_back({0xFF, 0xD8, 0xFF});                        // SOI only
    inputs.push_back(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 200));  // cut in the headers
    std::vector<uint8_t> bad = jpeg;
    for (size_t i = 20; i < 200; ++i)  // tables and frame header overwritten
        bad[i] = static_cast<uint8_t>(i * 7);
    inputs.push_back(bad);
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        EXPECT_TRUE(ReadJpeg(inputs[i], bitmap, params).Aborted);
    }
}

TEST(JpegRead, GetJPEGLengthStopsAfterTheEndMarker)
{
    std::vector<uint8_t> data(10, 0x33);
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"restart.jpg"));
    data.insert(data.end(), jpeg.begin(), jpeg.end());
    data.insert(data.end(), {0x01, 0xFF, 0xD9, 0x02});
    classlib::TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(10);
    EXPECT_EQ(PxGetJPEGLength(&stream), static_cast<int64_t>(jpeg.size()));
    EXPECT_EQ(stream.GetPosition(), 10);
    // Without an end marker: to the stream's end.
    stream.SetSize(10 + 600);
    stream.SetPosition(10);
    EXPECT_EQ(PxGetJPEGLength(&stream), 600);
}

// ---- markers

TEST(JpegMarkers, ReadFromOtherWritersAndWrittenBackInOrder)
{
    // Without an EXIF reader the EXIF block only travels in the marker list.
    THookScope noEXIF(nullptr);
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    ASSERT_FALSE(ReadFixture(L"meta.jpg", bitmap, params).Aborted);
    ASSERT_NE(params.JPEGMarkers, nullptr);
    TPxMarkerList& list = *params.JPEGMarkers;
    // exiftool wrote EXIF, Photoshop/IPTC and XMP after the JFIF header
    // (which is left out).
    ASSERT_GE(list.GetCount(), 3);
    EXPECT_EQ(list.IndexOf(PxMarkerAPP0), -1);
    EXPECT_GE(PxIndexOfEXIFMarker(list), 0);
    EXPECT_GE(list.IndexOf(PxMarkerAPP13), 0);
    EXPECT_NE(params.XMPInfo.find("Test Title"), std::string::npos);
    ASSERT_NE(params.IPTCInfo, nullptr);
    EXPECT_GE(params.IPTCInfo->GetCount(), 2);
    EXPECT_FALSE(params.HasEXIF);

    const std::vector<uint8_t> file = LoadBytes(Fixture(L"meta.jpg"));
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> source;
    bool firstApp0 = true;
    for (auto& s : Segments(file)) {
        if (s.first == 0xE0 && firstApp0) {
            firstApp0 = false;
            continue;
        }
        if ((s.first >= 0xE0 && s.first <= 0xEF) || s.first == 0xFE)
            source.push_back(s);
    }
    ASSERT_EQ(static_cast<int>(source.size()), list.GetCount());
    for (int i = 0; i < list.GetCount(); ++i) {
        EXPECT_EQ(list.GetMarkerType(i), source[i].first);
        ASSERT_EQ(list.GetMarkerLength(i), static_cast<int32_t>(source[i].second.size()));
        EXPECT_EQ(std::memcmp(list.GetMarkerData(i), source[i].second.data(), source[i].second.size()), 0);
    }

    // Written back: our JFIF header, then the markers sorted by code (the
    // EXIF APP1 first), payloads unchanged.
    const std::vector<uint8_t> out = WriteJpeg(bitmap, params);
    auto written = Segments(out);
    ASSERT_GE(written.size(), source.size() + 1);
    EXPECT_EQ(written[0].first, 0xE0);
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> app;
    for (size_t i = 1; i < written.size(); ++i)
        if ((written[i].first >= 0xE0 && written[i].first <= 0xEF) || written[i].first == 0xFE)
            app.push_back(written[i]);
    ASSERT_EQ(app.size(), source.size());
    EXPECT_EQ(app[0].first, 0xE1);
    EXPECT_TRUE(PxIsEXIFPayload(app[0].second.data(), static_cast<int32_t>(app[0].second.size())));
    for (size_t i = 1; i < app.size(); ++i)
        EXPECT_LE(app[i - 1].first, app[i].first);
}

TEST(JpegMarkers, IccChunksAndExifOrder)
{
    // A file with an XMP APP1 before an EXIF APP1, an ICC profile in three
    // chunks stored 3, 1, 2, an Adobe APP14 and a second APP0.
    const std::vector<uint8_t> jpeg = LoadBytes(Fixture(L"baseline.jpg"));
    const std::vector<uint8_t> p1(100, 0xA1), p2(50, 0xB2), p3(10, 0xC3);
    std::vector<uint8_t> xmp = Text("http://ns.adobe.com/xap/1.0/", 29);
    for (char ch : std::string("<x:xmpmeta>packet</x:xmpmeta>"))
        xmp.push_back(static_cast<uint8_t>(ch));
    std::vector<uint8_t> exif = Text("Exif\0\0MM\0*\0\0\0\x08\0\0", 16);
    std::vector<uint8_t> adobe = Text("Adobe\0d\0\0\0\0\x01", 12);
    std::vector<uint8_t> app0 = Text("XTRA", 4);

    std::vector<uint8_t> data(jpeg.begin(), jpeg.begin() + 20);  // SOI and JFIF APP0
    for (auto& seg : {Segment(0xE1, xmp), Segment(0xE1, exif), Segment(0xE2, IccChunk(3, 3, p3)),
                      Segment(0xE2, IccChunk(1, 3, p1)), Segment(0xEE, adobe), Segment(0xE2, IccChunk(2, 3, p2)),
                      Segment(0xE0, app0)})
        data.insert(data.end(), seg.begin(), seg.end());
    data.insert(data.end(), jpeg.begin() + 20, jpeg.end());

    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    ASSERT_FALSE(ReadJpeg(data, bitmap, params).Aborted);
    EXPECT_EQ(CountRGBDifferences(bitmap, LoadPnm(L"baseline.ppm")), 0);
    // The profile joined in chunk order.
    ASSERT_NE(params.InputICCProfile, nullptr);
    std::vector<uint8_t> joined = p1;
    joined.insert(joined.end(), p2.begin(), p2.end());
    joined.insert(joined.end(), p3.begin(), p3.end());
    ASSERT_EQ(params.InputICCProfile->GetRawLength(), static_cast<int32_t>(joined.size()));
    EXPECT_EQ(std::memcmp(params.InputICCProfile->GetRaw(), joined.data(), joined.size()), 0);
    // File order, the first APP0 left out, the second kept.
    const uint8_t expected[] = {0xE1, 0xE1, 0xE2, 0xE2, 0xEE, 0xE2, 0xE0};
    ASSERT_EQ(params.JPEGMarkers->GetCount(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(params.JPEGMarkers->GetMarkerType(i), expected[i]);
    EXPECT_EQ(params.XMPInfo, "<x:xmpmeta>packet</x:xmpmeta>");

    const std::vector<uint8_t> out = WriteJpeg(bitmap, params);
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> app;
    for (auto& s : Segments(out))
        if (s.first >= 0xE0 && s.first <= 0xEF)
            app.push_back(s);
    // The library's JFIF header, the kept APP0, EXIF before XMP, the ICC
    // chunks 1, 2, 3; no APP14 from the list.
    ASSERT_EQ(app.size(), 7u);
    EXPECT_EQ(app[0].second[0], 'J');
    EXPECT_EQ(app[1].second, app0);
    EXPECT_EQ(app[2].second, exif);
    EXPECT_EQ(app[3].second, xmp);
    EXPECT_EQ(app[4].second, IccChunk(1, 3, p1));
    EXPECT_EQ(app[5].second, IccChunk(2, 3, p2));
    EXPECT_EQ(app[6].second, IccChunk(3, 3, p3));

    // Bad chunks are ignored: number 0, number above the count, short.
    std::vector<uint8_t> bad(jpeg.begin(), jpeg.begin() + 20);
    for (auto& seg : {Segment(0xE2, IccChunk(0, 2, p3)), Segment(0xE2, IccChunk(5, 2, p3)),
                      Segment(0xE2, Text("ICC_PROFILE", 12)), Segment(0xE2, IccChunk(1, 2, p1))})
        bad.insert(bad.end(), seg.begin(), seg.end());
    bad.insert(bad.end(), jpeg.begin() + 20, jpeg.end());
    TIOParamsVals params2(nullptr);
    TPxBitmap bitmap2;
    ASSERT_FALSE(ReadJpeg(bad, bitmap2, params2).Aborted);
    ASSERT_NE(params2.InputICCProfile, nullptr);
    EXPECT_EQ(params2.InputICCProfile->GetRawLength(), 100);
}

// ---- writing

TEST(JpegWrite, Quality85MatchesTheReferenceEncoder)
{
    // cjpeg -quality 85 and our writer at quality 85 with default options
    // code the same samples: the decodes are identical.
    std::unique_ptr<TPxBitmap> source = BitmapOf(LoadPnm(L"base.ppm"));
    TIOParamsVals params(nullptr);
    params.JPEGQuality = 85;
    bool aborted = true;
    const std::vector<uint8_t> out = WriteJpeg(*source, params, &aborted);
    EXPECT_FALSE(aborted);
    ASSERT_GT(out.size(), 500u);
    TPxBitmap decoded;
    TIOParamsVals back(nullptr);
    ASSERT_FALSE(ReadJpeg(out, decoded, back).Aborted);
    EXPECT_EQ(CountRGBDifferences(decoded, LoadPnm(L"baseline.ppm")), 0);
    EXPECT_EQ(back.JPEGColorSpace, 2);
}

TEST(JpegWrite, OptionsReachTheFile)
{
    std::unique_ptr<TPxBitmap> source = BitmapOf(LoadPnm(L"base.ppm"));
    // Chroma subsampling -> sampling byte of component 0 in the frame header.
    for (auto [sub, factor] : {std::pair<uint8_t, uint8_t>{0, 0x21}, {1, 0x22}, {2, 0x11}}) {
        SCOPED_TRACE(sub);
        TIOParamsVals params(nullptr);
        params.JPEGChromaSubsampling = sub;
        const std::vector<uint8_t> out = WriteJpeg(*source, params);
        bool found = false;
        for (auto& s : Segments(out))
            if (s.first == 0xC0) {
                found = true;
                EXPECT_EQ(s.second[7], factor);
                EXPECT_EQ(s.second[10], 0x11);
                EXPECT_EQ(s.second[13], 0x11);
            }
        EXPECT_TRUE(found);
    }
    // Colour spaces, progressive coding and density.
    // The density travels in the JFIF header, which RGB and YCCK files do
    // not have (the reader then reports 1 x 1).
    struct TCase {
        uint8_t ColorSpace;
        bool Progressive;
        int DpiX;
        int ExpectedDpiX;
        double MaxMeanError;
    };
    TProfileSwitch off(false);
    // Mean errors: 2 x 2 chroma sampling costs this noisy picture about 6
    // levels; a swapped or lost channel costs tens.
    for (const TCase& c : {TCase{0, false, 150, 1, 3}, TCase{1, false, 0, PxDefaultDpiX, -1},
                           TCase{2, true, 72, 72, 7}, TCase{4, false, 96, 1, 7}, TCase{3, false, 0, PxDefaultDpiX, 7}}) {
        SCOPED_TRACE(c.ColorSpace);
        TIOParamsVals params(nullptr);
        params.JPEGColorSpace = c.ColorSpace;
        params.JPEGProgressive = c.Progressive;
        params.JPEGQuality = 95;
        params.DpiX = c.DpiX;
        params.DpiY = c.DpiX;
        bool aborted = true;
        const std::vector<uint8_t> out = WriteJpeg(*source, params, &aborted);
        EXPECT_FALSE(aborted);
        TPxBitmap decoded;
        TIOParamsVals back(nullptr);
        ASSERT_FALSE(ReadJpeg(out, decoded, back).Aborted);
        EXPECT_EQ(back.JPEGColorSpace, c.ColorSpace);
        EXPECT_EQ(back.JPEGProgressive, c.Progressive);
        EXPECT_EQ(back.DpiX, c.ExpectedDpiX);
        if (c.MaxMeanError >= 0) {
            EXPECT_LE(MeanError(decoded, LoadPnm(L"base.ppm")), c.MaxMeanError);
        }
    }
}

TEST(JpegWrite, FailuresSetTheAbortingFlag)
{
    TIOParamsVals params(nullptr);
    TPxBitmap empty;
    bool aborted = false;
    EXPECT_TRUE(WriteJpeg(empty, params, &aborted).empty());
    EXPECT_TRUE(aborted);

    // A grey image is written from a converted copy and stays as it was.
    TPxBitmap grey(20, 10, px8g);
    grey.Fill(128);
    const std::vector<uint8_t> out = WriteJpeg(grey, params, &aborted);
    EXPECT_FALSE(aborted);
    EXPECT_EQ(grey.GetPixelFormat(), px8g);
    TPxBitmap decoded;
    TIOParamsVals back(nullptr);
    ASSERT_FALSE(ReadJpeg(out, decoded, back).Aborted);
    EXPECT_NEAR(decoded.GetScanline(5)[30], 128, 2);

    // A short write and a raising stream.
    std::unique_ptr<TPxBitmap> source = BitmapOf(LoadPnm(L"base.ppm"));
    {
        TLimitedStream stream(300, false);
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        PxWriteJPEG(&stream, source.get(), params, progress);
        EXPECT_TRUE(aborting);
    }
    {
        TLimitedStream stream(300, true);
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        EXPECT_THROW(PxWriteJPEG(&stream, source.get(), params, progress), classlib::EWriteError);
        EXPECT_TRUE(aborting);
    }
}

TEST(JpegRead, ExifResolutionInCentimetresAndOrientation)
{
    THookScope hook(FakeEXIFReader);
    // meta.jpg's JFIF header says 1 x 1 without unit; centimetres are
    // converted whatever the values are.
    std::vector<uint8_t> data = LoadBytes(Fixture(L"meta.jpg"));
    data[13] = 1;  // JFIF: 72 x 72 dots per inch
    data[14] = 0;
    data[15] = 72;
    data[16] = 0;
    data[17] = 72;
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.JPEGApplyOrientation = true;
    std::vector<int> reported;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* Context, classlib::TObject*, int Per) { static_cast<std::vector<int>*>(Context)->push_back(Per); },
        &reported);
    classlib::TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(0);
    EXPECT_EQ(PxReadJPEG(&stream, &bitmap,
                         {.ReadColorProfile = true, .ApplyColorProfile = true, .ReadMetadata = true}, progress,
                         params),
              34);
    EXPECT_FALSE(aborting);
    EXPECT_TRUE(params.HasEXIF);
    EXPECT_EQ(params.DpiX, 71);
    EXPECT_EQ(params.DpiY, 102);
    // Turned by the orientation (6: a quarter turn), which is then reset.
    EXPECT_EQ(bitmap.GetWidth(), 34);
    EXPECT_EQ(bitmap.GetHeight(), 50);
    EXPECT_EQ(params.EXIFOrientation, 1);
    // Progress in rounded percent of the rows, each value once, up to 100.
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 100);
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_LT(reported[i - 1], reported[i]);
}

TEST(JpegRead, RawReadsDeliverTheStoredSamples)
{
    // An RGB-coded file still comes in the bitmap's order (what the TIFF
    // reader expects): the reference decode exactly.
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    classlib::TMemoryStream stream;
    const std::vector<uint8_t> data = LoadBytes(Fixture(L"rgb.jpg"));
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    EXPECT_EQ(PxReadJPEG(&stream, &bitmap, {.RawYCbCr = true}, progress, params),
              34);
    EXPECT_FALSE(aborting);
    EXPECT_EQ(CountRGBDifferences(bitmap, LoadPnm(L"rgb.ppm")), 0);

    // A YCbCr file: Y, Cb, Cr; a grey area gives Cb = Cr = 128 and Y = the
    // grey level.
    TPxBitmap grey(16, 16, px24RGB);
    grey.Fill(0x646464);
    TIOParamsVals out(nullptr);
    out.JPEGQuality = 100;
    const std::vector<uint8_t> file = WriteJpeg(grey, out);
    classlib::TMemoryStream s2;
    s2.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s2.SetPosition(0);
    TPxBitmap raw;
    TIOParamsVals in(nullptr);
    PxReadJPEG(&s2, &raw, {.RawYCbCr = true}, progress, in);
    EXPECT_FALSE(aborting);
    ASSERT_EQ(raw.GetWidth(), 16);
    const uint8_t* p = raw.GetScanline(8) + 8 * 3;
    EXPECT_NEAR(p[0], 100, 1);
    EXPECT_NEAR(p[1], 128, 1);
    EXPECT_NEAR(p[2], 128, 1);
}
