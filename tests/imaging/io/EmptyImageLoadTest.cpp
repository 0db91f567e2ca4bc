// Tiny damaged files made here that hold no image, or an animation whose
// screen is far larger than its data: through the I/O object each must fail
// (aborting flag) with a reason, not end as an empty success.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/ImgIO.h"
#include "ImgIOTestSupport.h"
#include "imaging/model/PxBitmap.h"

using namespace imaging;

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v, bool Big = false)
{
    if (Big)
        b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else
        b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}

void Put32(std::vector<uint8_t>& b, uint32_t v, bool Big = false)
{
    if (Big)
        b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    else
        b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// A 24-bit BMP of Width x Height with one row of pixel data.
std::vector<uint8_t> Bmp(int32_t Width, int32_t Height)
{
    std::vector<uint8_t> b = {'B', 'M'};
    Put32(b, 54 + 4);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, uint32_t(Width));
    Put32(b, uint32_t(Height));
    Put16(b, 1);
    Put16(b, 24);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    b.insert(b.end(), {1, 2, 3, 0});
    return b;
}

// A PSD header of Width x Height RGB, empty sections, raw data of 3 bytes.
std::vector<uint8_t> Psd(uint32_t Width, uint32_t Height)
{
    std::vector<uint8_t> b = {'8', 'B', 'P', 'S'};
    Put16(b, 1, true);
    b.insert(b.end(), 6, 0);
    Put16(b, 3, true);
    Put32(b, Height, true);
    Put32(b, Width, true);
    Put16(b, 8, true);
    Put16(b, 3, true);
    for (int i = 0; i < 3; ++i)
        Put32(b, 0, true);
    Put16(b, 0, true);
    b.insert(b.end(), {1, 2, 3});
    return b;
}

// A GIF89a of a ScreenW x ScreenH screen and Frames frames of 1 x 1 pixel.
std::vector<uint8_t> Gif(int ScreenW, int ScreenH, int Frames)
{
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, uint32_t(ScreenW));
    Put16(b, uint32_t(ScreenH));
    b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // 2-colour table
    for (int i = 0; i < Frames; ++i)
        b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0});
    b.push_back(0x3B);
    return b;
}

}  // namespace

TEST(EmptyImageLoad, FilesWithoutAnImageFailWithAReason)
{
    PxInstallBuiltInFormats();
    imgiotest::TRegistryScope registry;
    struct Case {
        const char* Name;
        std::vector<uint8_t> File;
        int32_t Type;
        TPxReadFailure Reason;
    } Cases[] = {
        {"BMP of width 0", Bmp(0, 1), ffBMP, TPxReadFailure::NoImage},
        {"BMP of height 0", Bmp(1, 0), ffBMP, TPxReadFailure::NoImage},
        {"ICO of no image", {0, 0, 1, 0, 0, 0}, ffICO, TPxReadFailure::NoImage},
        {"CUR of no image", {0, 0, 2, 0, 0, 0}, ffCUR, TPxReadFailure::NoImage},
        {"GIF of no frame", Gif(1, 1, 0), ffGIF, TPxReadFailure::NoImage},
        {"PSD of width 0", Psd(0, 1), ffPSD, TPxReadFailure::NoImage},
        // Two 1 x 1 frames on a huge screen: the canvas (1.6 GB, 400 MB with
        // its alpha channel) is refused before it exists.
        {"GIF animation on a 20000 x 20000 screen", Gif(20000, 20000, 2), ffGIF, TPxReadFailure::TooLarge},
        {"GIF animation on a 10000 x 10000 screen", Gif(10000, 10000, 2), ffGIF, TPxReadFailure::MoreThanData},
    };
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.Name);
        TImgIO io(nullptr);
        io.LoadFromBuffer(c.File.data(), int64_t(c.File.size()), c.Type);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(io.GetLastFailure(), c.Reason);
        EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());
    }
    // The same GIF on a screen its data can cover loads.
    TImgIO io(nullptr);
    const std::vector<uint8_t> small = Gif(200, 100, 2);
    io.LoadFromBuffer(small.data(), int64_t(small.size()), ffGIF);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 200);
}

// The parameter read of DICOM aborts on data that are no DICOM file.
TEST(EmptyImageLoad, DicomParametersOfGarbageFail)
{
    PxInstallBuiltInFormats();
    imgiotest::TRegistryScope registry;
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    classlib::TMemoryStream m;
    m.WriteBuffer(garbage.data(), int64_t(garbage.size()));
    m.SetPosition(0);
    TImgIO io(nullptr);
    io.ReadParamsFromStreamFormat(&m, ffDICOM);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_NE(io.GetLastFailure(), TPxReadFailure::None);
}
