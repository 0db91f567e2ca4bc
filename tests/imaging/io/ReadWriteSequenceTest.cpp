// Reads and writes done one after the other in one process, as the album
// build does: what a step leaves in freed or reused memory must not reach
// the next step's results.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/png/PngWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxJpegMarkers.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

std::vector<uint8_t> LoadBytes(const std::wstring& Path) { return testsupport::FileBytes(Path); }

// The payload of the first APP1 segment that holds EXIF.
std::vector<uint8_t> FirstEXIFPayload(const std::vector<uint8_t>& File)
{
    size_t pos = 2;
    while (pos + 4 <= File.size() && File[pos] == 0xFF && File[pos + 1] != 0xDA) {
        const size_t length = (static_cast<size_t>(File[pos + 2]) << 8) | File[pos + 3];
        if (length < 2 || pos + 2 + length > File.size())
            break;
        const uint8_t* data = File.data() + pos + 4;
        if (File[pos + 1] == 0xE1 && PxIsEXIFPayload(data, static_cast<int32_t>(length - 2)))
            return std::vector<uint8_t>(data, data + length - 2);
        pos += 2 + length;
    }
    return {};
}

// What the EXIF hook saw: the payload bytes, copied only after heap blocks
// of about the payload's size were taken and overwritten, so that a
// payload whose memory had been released already shows as changed.
std::vector<uint8_t> gSeenPayload;

bool RecordingEXIFReader(const uint8_t* Buffer, int32_t Length, TIOParamsVals& Params)
{
    if (Length <= 0)
        return false;
    std::vector<void*> taken;
    for (int32_t extra = 0; extra <= 512; extra += 8) {
        void* p = HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(Length + extra));
        if (p) {
            std::memset(p, 0xA5, static_cast<size_t>(Length + extra));
            taken.push_back(p);
        }
    }
    gSeenPayload.assign(Buffer, Buffer + Length);
    for (void* p : taken)
        HeapFree(GetProcessHeap(), 0, p);
    if (!PxIsEXIFPayload(Buffer, Length))
        return false;
    Params.HasEXIF = true;
    return true;
}

class THookScope : public testsupport::TValueScope<TPxLoadEXIFFromBufferProc> {
public:
    explicit THookScope(TPxLoadEXIFFromBufferProc Hook) : TValueScope(PxLoadEXIFFromBufferHook, Hook) {}
};

int ReadJpegFile(const std::vector<uint8_t>& Data, TPxBitmap& Bitmap, TIOParamsVals& Params)
{
    classlib::TMemoryStream stream;
    stream.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    stream.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    const int rows =
        PxReadJPEG(&stream, &Bitmap, {.ReadColorProfile = true, .ApplyColorProfile = true, .ReadMetadata = true},
                   progress, Params);
    EXPECT_FALSE(aborting);
    return rows;
}

TEST(ReadWriteSequence, ExifOfEveryFullyReadJpegReachesTheReaderIntact)
{
    // Step 1: a camera file read completely; step 2: a file whose EXIF
    // block must reach the EXIF reader as it stands in the file, also after
    // the decoder has read the whole image.
    THookScope hook(RecordingEXIFReader);
    const std::wstring camera = testsupport::FixtureDir(L"io\\exif") + L"\\camera.jpg";
    const std::wstring meta = testsupport::FixtureDir(L"io\\jpeg") + L"\\meta.jpg";
    for (const std::wstring& path : {camera, meta}) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        const std::vector<uint8_t> file = LoadBytes(path);
        const std::vector<uint8_t> expected = FirstEXIFPayload(file);
        ASSERT_FALSE(expected.empty());
        gSeenPayload.clear();
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        EXPECT_GT(ReadJpegFile(file, bitmap, params), 0);
        EXPECT_TRUE(params.HasEXIF);
        EXPECT_TRUE(gSeenPayload == expected);
    }
}

TEST(ReadWriteSequence, BilevelPngDependsOnThePixelsOnly)
{
    // Two 11-pixel-wide bilevel images with the same pixels: one with the
    // unused bits behind each row's last pixel set (as a whole-byte fill
    // or reused memory leaves them), one with them clear.
    // Written one after the other, the files are the same.
    constexpr int kW = 11, kH = 5;
    TPxBitmap clean(kW, kH, px1g);
    TPxBitmap dirty(kW, kH, px1g);
    for (int y = 0; y < kH; ++y) {
        uint8_t row[2] = {0, 0};  // first pixel in the top bit
        for (int x = 0; x < kW; ++x)
            if ((x + y) % 3 != 0)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        std::memcpy(clean.GetScanline(y), row, 2);
        row[1] |= 0x1F;  // the five bits behind pixel 10
        std::memcpy(dirty.GetScanline(y), row, 2);
    }
    for (int x = 0; x < kW; ++x)
        ASSERT_EQ(clean.GetPixelAsRGB(x, 1).r, dirty.GetPixelAsRGB(x, 1).r);
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        std::vector<std::vector<uint8_t>> files;
        for (TPxBitmap* b : {&clean, &dirty}) {
            TIOParamsVals w(nullptr);
            w.SamplesPerPixel = 1;
            w.BitsPerSample = 1;
            w.PNGInterlaced = interlaced;
            classlib::TMemoryStream s;
            bool aborting = false;
            TPxIOProgressInfo progress;
            progress.Aborting = &aborting;
            PxWritePNG(&s, b, w, nullptr, progress);
            EXPECT_FALSE(aborting);
            const auto* p = static_cast<const uint8_t*>(s.GetMemory());
            files.emplace_back(p, p + s.GetSize());
        }
        EXPECT_TRUE(files[0] == files[1]);
    }
}

}  // namespace
