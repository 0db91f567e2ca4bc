// HD Photo through the platform imaging component: decodes of files made by
// the reference JPEG XR encoder (tests/fixtures/io/hdp) checked against
// ImageMagick's raw pixels, pixel-format choice with and without the native
// format, parameters, frame counting, failures, the registry row, and the
// writer's options and clean-up. Wine has a decoder but no encoder for this
// container, so the writer is checked through its options and its failure
// path, never through an encoded file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "IoFixtureBytes.h"
#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/platform/HdpCheck.h"
#include "imaging/io/platform/HdpReader.h"
#include "imaging/io/platform/HdpWriter.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"

using namespace imaging;

namespace {

class HdPhoto : public testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        PxInstallEXIF();
        PxInstallTIFFReader();
        PxInstallHDPFormat();
    }
    // The availability test and the frame counter are process-wide: other
    // suites expect the registry without them.
    void TearDown() override
    {
        PxSetHDPhotoAvailableTest(nullptr);
        PxSetFrameCounter(ffHDP, nullptr);
        if (PxFormatRegistryExists())
            PxBuildFormatRegistry();
    }
};

std::vector<uint8_t> Fixture(const std::string& Name)
{
    return iobytes::FileBytes(iobytes::FixtureFile(L"hdp", Name));
}

struct TRead {
    bool Aborted = false;
    std::vector<int> Percents;
};

TRead Read(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params, int64_t Lead = 0)
{
    TRead r;
    classlib::TMemoryStream m;
    std::vector<uint8_t> data(static_cast<size_t>(Lead), 0xEE);
    data.insert(data.end(), Bytes.begin(), Bytes.end());
    iobytes::SetBytes(m, data);
    m.Seek(Lead, classlib::soBeginning);
    TPxIOProgressInfo progress;
    progress.Aborting = &r.Aborted;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, &r.Percents);
    PxReadHDPhoto(&m, &Bitmap, Params, progress, false);
    return r;
}

// Row y of Bitmap, only the pixel bytes.
std::vector<uint8_t> Row(TPxBitmap& Bitmap, int y, int BytesPerPixel)
{
    const uint8_t* p = Bitmap.GetScanline(y);
    return std::vector<uint8_t>(p, p + Bitmap.GetWidth() * BytesPerPixel);
}

TEST_F(HdPhoto, WicIsAvailableAndTheRowIsRegistered)
{
    ASSERT_TRUE(PxIsWICAvailable());
    EXPECT_TRUE(PxIsWICAvailable());  // the kept answer
    PxBuildFormatRegistry();
    TPxFileFormatInfo* row = PxFormatInfoById(ffHDP);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(static_cast<bool>(row->Reader));
    EXPECT_TRUE(static_cast<bool>(row->Writer));
    EXPECT_EQ(PxFormatInfoByExtension(L"wdp"), row);
}

TEST_F(HdPhoto, DecodesForeignFilesInTheirNativeFormat)
{
    struct TCase {
        const char* File;
        TPxPixelFormat Format;
        int Bytes;  // per pixel
        int Bits, Samples;
    };
    const TCase cases[] = {
        {"rgb24", px24RGB, 3, 8, 3},
        {"gray8", px8g, 1, 8, 1},
        {"gray16", px16g, 2, 16, 1},
        {"rgb48", pxRGB48, 6, 16, 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = true;
        // A lead before the file: the codec must see the file from the
        // stream's position on.
        TRead r = Read(Fixture(std::string(c.File) + ".wdp"), bitmap, params, 5);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Percents, (std::vector<int>{0, 0}));
        ASSERT_EQ(bitmap.GetPixelFormat(), c.Format);
        ASSERT_EQ(bitmap.GetWidth(), 7);
        ASSERT_EQ(bitmap.GetHeight(), 5);
        EXPECT_EQ(params.Width, 7);
        EXPECT_EQ(params.Height, 5);
        EXPECT_EQ(params.OriginalWidth, 7);
        EXPECT_EQ(params.OriginalHeight, 5);
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, c.Samples);
        const std::vector<uint8_t> expected =
            Fixture(std::string(c.File) + (c.Samples == 1 ? ".gray" : ".rgb"));
        ASSERT_EQ(expected.size(), static_cast<size_t>(7 * 5 * c.Bytes));
        for (int y = 0; y < 5; ++y) {
            std::vector<uint8_t> want(expected.begin() + y * 7 * c.Bytes, expected.begin() + (y + 1) * 7 * c.Bytes);
            if (c.Format == px24RGB)
                for (size_t i = 0; i < want.size(); i += 3)
                    std::swap(want[i], want[i + 2]);  // stored blue, green, red
            EXPECT_EQ(Row(bitmap, y, c.Bytes), want) << "row " << y;
        }
    }
}

TEST_F(HdPhoto, WithoutTheNativeFormatEverythingBecomesBgr)
{
    const std::vector<uint8_t> grey = Fixture("gray8.gray");
    for (const char* file : {"gray8", "gray16", "rgb48"}) {
        SCOPED_TRACE(file);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = false;
        TRead r = Read(Fixture(std::string(file) + ".wdp"), bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(bitmap.GetPixelFormat(), px24RGB);
        EXPECT_EQ(params.BitsPerSample, 8);
        EXPECT_EQ(params.SamplesPerPixel, 3);
        if (std::string(file) == "gray8") {
            const uint8_t* p = bitmap.GetScanline(2);
            for (int x = 0; x < 7; ++x)
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(p[x * 3 + k], grey[2 * 7 + x]) << x;
        }
    }
}

TEST_F(HdPhoto, EmbeddedThumbnailFallsBackToTheFrame)
{
    // The reference encoder writes no thumbnail: asking for one gives the
    // frame itself.
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = true;
    params.UseEmbeddedThumbnail = true;
    TRead r = Read(Fixture("gray8.wdp"), bitmap, params);
    ASSERT_FALSE(r.Aborted);
    ASSERT_EQ(bitmap.GetWidth(), 7);
    const std::vector<uint8_t> grey = Fixture("gray8.gray");
    EXPECT_EQ(Row(bitmap, 4, 1), std::vector<uint8_t>(grey.begin() + 28, grey.end()));
}

TEST_F(HdPhoto, BadInputAndMissingFramesAbortCleanly)
{
    std::vector<uint8_t> truncated = Fixture("rgb24.wdp");
    truncated.resize(40);
    std::vector<uint8_t> damaged = Fixture("rgb24.wdp");
    for (size_t i = 60; i < damaged.size(); ++i)
        damaged[i] = static_cast<uint8_t>(i * 37);
    const std::pair<const char*, std::vector<uint8_t>> inputs[] = {
        {"empty", {}},
        {"text", std::vector<uint8_t>(200, 'x')},
        {"truncated", truncated},
        {"damaged", damaged},
    };
    for (const auto& in : inputs) {
        SCOPED_TRACE(in.first);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TRead r = Read(in.second, bitmap, params);
        // Damaged data may still decode to something; what counts is a
        // clean end: either aborted, or a bitmap of the file's size.
        if (!r.Aborted) {
            EXPECT_EQ(bitmap.GetWidth(), 7);
            EXPECT_EQ(bitmap.GetHeight(), 5);
        }
        if (std::string(in.first) == "empty" || std::string(in.first) == "text") {
            EXPECT_TRUE(r.Aborted);
        }
    }
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.ImageIndex = 1;  // the file has one frame
    EXPECT_TRUE(Read(Fixture("rgb24.wdp"), bitmap, params).Aborted);
}

// Containers the platform's decoder faults on (a transformation outside
// the eight the format names, a garbage entry in place of the width) and
// other structure faults are refused with a reason before the platform
// sees them; the file's own offsets count from where it starts.
TEST_F(HdPhoto, DamagedContainersAreRefusedBeforeThePlatformDecodes)
{
    const std::vector<uint8_t> good = Fixture("gray16.wdp");
    auto patched = [&](size_t At, std::vector<uint8_t> Bytes) {
        std::vector<uint8_t> f = good;
        std::copy(Bytes.begin(), Bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(At));
        return f;
    };
    // gray16.wdp: the directory at 32 with 8 entries from 34 (width third,
    // image offset and byte count last), the codestream at 134.
    const struct {
        const char* What;
        std::vector<uint8_t> Bytes;
        TPxReadFailure Why;
    } cases[] = {
        {"transformation 418", Fixture("bad-transformation.wdp"), TPxReadFailure::BadHeader},
        {"no width", Fixture("no-width.wdp"), TPxReadFailure::BadHeader},
        {"not version 1", patched(3, {2}), TPxReadFailure::BadHeader},
        {"directory past the end", patched(4, {0xFF, 0xFF, 0, 0}), TPxReadFailure::BadHeader},
        {"entries past the end", patched(32, {0xFF, 0x01}), TPxReadFailure::Truncated},
        {"unknown field type", patched(34 + 2, {13}), TPxReadFailure::BadHeader},
        {"20000 widths", patched(34 + 24 + 4, {0x20, 0x4E}), TPxReadFailure::Truncated},
        {"width 0", patched(34 + 24 + 8, {0}), TPxReadFailure::NoImage},
        {"image data past the end", patched(34 + 84 + 8, {0xFF, 0xFF}), TPxReadFailure::Truncated},
        {"image offset past the end", patched(34 + 72 + 8, {0xFF, 0xFF}), TPxReadFailure::Truncated},
        {"no codestream signature", patched(134, {'X'}), TPxReadFailure::BadHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        for (int64_t lead : {0, 3}) {
            classlib::TMemoryStream m;
            std::vector<uint8_t> data(static_cast<size_t>(lead), 0xEE);
            data.insert(data.end(), c.Bytes.begin(), c.Bytes.end());
            iobytes::SetBytes(m, data);
            m.Seek(lead, classlib::soBeginning);
            EXPECT_EQ(PxCheckHDPhotoStructure(m), c.Why);
            EXPECT_EQ(m.GetPosition(), lead);
        }
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        bool aborting = false;
        TPxReadFailure why = TPxReadFailure::None;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        progress.Failure = &why;
        classlib::TMemoryStream m;
        iobytes::SetBytes(m, c.Bytes);
        m.SetPosition(0);
        PxReadHDPhoto(&m, &bitmap, params, progress, false);
        progress.Mask.Reset();
        EXPECT_TRUE(aborting);
        EXPECT_EQ(why, c.Why);
        EXPECT_TRUE(bitmap.IsEmpty());
    }
    classlib::TMemoryStream m;
    iobytes::SetBytes(m, good);
    m.SetPosition(0);
    EXPECT_EQ(PxCheckHDPhotoStructure(m), TPxReadFailure::None);
}

TEST_F(HdPhoto, ReaderObjectWithoutParameters)
{
    classlib::TMemoryStream m;
    iobytes::SetBytes(m, Fixture("gray16.wdp"));
    TPxWICReader reader;
    ASSERT_TRUE(reader.IsReady());
    EXPECT_FALSE(reader.Open(&m, 4));  // no codec for that type
    bool aborted = false;
    TPxBitmap bitmap;
    reader.ReadFrame(0, &bitmap, nullptr, &aborted);  // nothing open
    EXPECT_TRUE(aborted);
    ASSERT_TRUE(reader.Open(&m, ffHDP));
    EXPECT_EQ(reader.GetFrameCount(), 1u);
    aborted = false;
    reader.ReadFrame(0, &bitmap, nullptr, &aborted);  // no parameters: native format
    EXPECT_FALSE(aborted);
    EXPECT_EQ(bitmap.GetPixelFormat(), px16g);
    EXPECT_EQ(reader.GetFrameWidth(), 7u);
    EXPECT_EQ(reader.GetFrameHeight(), 5u);
    reader.Close();
    EXPECT_EQ(reader.GetFrameCount(), 0u);
}

TEST_F(HdPhoto, CountsFramesOfAFile)
{
    testsupport::TempDir dir;
    const std::wstring name = dir.File(L"one.wdp");
    {
        classlib::TMemoryStream m;
        iobytes::SetBytes(m, Fixture("rgb24.wdp"));
        m.SaveToFile(name);
    }
    EXPECT_EQ(PxCountHDPhotoFrames(name), 1);
    EXPECT_EQ(PxCountHDPhotoFrames(iobytes::FixtureFile(L"hdp", "rgb24.wdp")), 1);
    EXPECT_THROW(PxCountHDPhotoFrames(dir.File(L"missing.wdp")), classlib::Exception);
}

// Records every property written into it.
class TRecordingBag final : public IPropertyBag2 {
public:
    struct TEntry {
        std::wstring Name;
        VARTYPE Type;
        VARIANT Value;
    };
    std::vector<TEntry> Entries;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(ULONG, PROPBAG2*, IErrorLog*, VARIANT*, HRESULT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(ULONG n, PROPBAG2* bag, VARIANT* v) override
    {
        for (ULONG i = 0; i < n; ++i) {
            EXPECT_EQ(bag[i].dwType, static_cast<DWORD>(PROPBAG2_TYPE_DATA));
            EXPECT_EQ(bag[i].vt, v[i].vt);
            Entries.push_back({bag[i].pstrName, bag[i].vt, v[i]});
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CountProperties(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG, ULONG, PROPBAG2*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LoadObject(LPCOLESTR, DWORD, IUnknown*, IErrorLog*) override { return E_NOTIMPL; }
};

std::vector<std::wstring> Names(const TRecordingBag& Bag)
{
    std::vector<std::wstring> names;
    for (const auto& e : Bag.Entries)
        names.push_back(e.Name);
    return names;
}

TEST_F(HdPhoto, WriterOptionsWithDefaultParameters)
{
    TIOParamsVals params(nullptr);
    TPxWICWriter writer;
    writer.ImageQuality = params.HDPImageQuality;
    writer.Lossless = params.HDPLossless;
    TRecordingBag bag;
    writer.WriteOptions(&bag);
    ASSERT_EQ(Names(bag), (std::vector<std::wstring>{L"ImageQuality", L"Lossless", L"HorizontalTileSlices",
                                                       L"VerticalTileSlices", L"FrequencyOrder",
                                                       L"TiffCompressionMethod"}));
    EXPECT_EQ(bag.Entries[0].Type, VT_R4);
    EXPECT_FLOAT_EQ(bag.Entries[0].Value.fltVal, 0.9f);
    EXPECT_EQ(bag.Entries[1].Type, VT_BOOL);
    EXPECT_EQ(bag.Entries[1].Value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(bag.Entries[2].Type, VT_UI2);
    EXPECT_EQ(bag.Entries[2].Value.uiVal, 0);
    EXPECT_EQ(bag.Entries[3].Value.uiVal, 0);
    EXPECT_EQ(bag.Entries[4].Value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(bag.Entries[5].Type, VT_UI1);
    EXPECT_EQ(bag.Entries[5].Value.bVal, 1);

    // Codec options and a compression quality add their entries in order.
    TPxWICWriter custom;
    custom.CompressionQuality = 0.5;
    custom.UseCodecOptions = true;
    custom.Quality = 7;
    custom.Subsampling = 1;
    TRecordingBag all;
    custom.WriteOptions(&all);
    ASSERT_EQ(Names(all), (std::vector<std::wstring>{L"CompressionQuality", L"Lossless", L"UseCodecOptions",
                                                       L"Quality", L"Overlap", L"Subsampling",
                                                       L"HorizontalTileSlices", L"VerticalTileSlices",
                                                       L"FrequencyOrder", L"TiffCompressionMethod"}));
    EXPECT_EQ(all.Entries[3].Value.bVal, 7);
    EXPECT_EQ(all.Entries[5].Value.bVal, 1);

    TRecordingBag one;
    EXPECT_THROW(PxWICWriteProperty(&one, L"X", VT_I4, 1), classlib::EAssertionFailed);
    EXPECT_TRUE(one.Entries.empty());
}

TEST_F(HdPhoto, WritingWithoutAnEncoderFailsAndLeavesTheStream)
{
    // Wine ships no encoder for this container: the write must report
    // failure, write nothing and leave the position where it was.
    {
        classlib::TMemoryStream scratch;
        TPxWICWriter probe;
        if (probe.Open(&scratch, ffHDP))
            GTEST_SKIP() << "this platform has an HD Photo encoder";
    }
    TPxBitmap bitmap;
    ASSERT_TRUE(bitmap.Allocate(4, 3, px24RGB));
    classlib::TMemoryStream m;
    iobytes::SetBytes(m, {1, 2, 3, 4, 5, 6});
    m.Seek(2, classlib::soBeginning);
    TIOParamsVals params(nullptr);
    bool aborted = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborted;
    PxWriteHDPhoto(&m, &bitmap, params, progress);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(m.GetPosition(), 2);
    EXPECT_EQ(iobytes::StreamBytes(m), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

    TPxWICWriter writer;
    EXPECT_FALSE(writer.Open(&m, 6));  // the icon codec has no writer

    // A format without counterpart raises after the clean-up.
    TPxBitmap palette;
    ASSERT_TRUE(palette.Allocate(4, 3, px8p));
    aborted = false;
    EXPECT_THROW(PxWriteHDPhoto(&m, &palette, params, progress), classlib::EAssertionFailed);
    EXPECT_EQ(m.GetPosition(), 2);
    EXPECT_EQ(m.GetSize(), 6);
}

}  // namespace
