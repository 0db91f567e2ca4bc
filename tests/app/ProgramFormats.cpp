// The program's tests get the image formats through the routine the program
// itself starts with, so a format the program forgets shows up here too.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/ProgramStart.h"
#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "support/TestSupport.h"

namespace {

struct TProgramFormats {
    TProgramFormats() { album::InstallImageFormats(); }
} programFormats;

// After the program's own start-up (its format install, then the
// toolkit's start-up) every service a load may need is there, the drawing
// of layer and vector-object files included, although the program itself
// never names the units that provide them.
TEST(ProgramFormats, StartUpInstallsEveryService)
{
    imaging::PxInitialize();
    EXPECT_NE(imaging::PxBitmapServices.Assign, nullptr);
    EXPECT_NE(imaging::PxIODefaults().TIFFLZWDecompress, nullptr);
    EXPECT_NE(imaging::PxIODefaults().GIFLZWDecompress, nullptr);
    EXPECT_NE(imaging::PxIODefaults().ConvertColorRow, nullptr);
    EXPECT_TRUE(imaging::IOParamsObjectServices().MarkerList.Installed());
    EXPECT_TRUE(imaging::IOParamsObjectServices().ImagingAnnot.Installed());
    EXPECT_TRUE(imaging::IOParamsObjectServices().MakerNote.Installed());
    EXPECT_NE(imaging::PxGetViewDataRenderer(), nullptr);

    // A vector-object file without objects ("PXV", version, length, scale,
    // no bitmaps, the deflated object count 0) finds its reader.
    const std::vector<unsigned char> objects = classlib::ZCompress(std::vector<unsigned char>(4, 0));
    std::vector<char> file = {'P', 'X', 'V', 'Q', 0, 0, 0, 0};
    const double scale = 1.0;
    const int32_t bitmaps = 0;
    file.insert(file.end(), reinterpret_cast<const char*>(&scale), reinterpret_cast<const char*>(&scale) + 8);
    file.insert(file.end(), reinterpret_cast<const char*>(&bitmaps), reinterpret_cast<const char*>(&bitmaps) + 4);
    file.insert(file.end(), objects.begin(), objects.end());
    const int32_t length = static_cast<int32_t>(file.size());
    std::memcpy(file.data() + 4, &length, 4);
    testsupport::TempDir dir;
    {
        classlib::TFileStream out(dir.File(L"empty.pxv"), classlib::fmCreate);
        out.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    }
    imaging::TImgIO io(nullptr);
    imaging::TPxBitmap image;
    io.SetAttachedPxBitmap(&image);
    io.LoadFromFile(dir.File(L"empty.pxv"));
    EXPECT_NE(io.GetLastFailure(), imaging::TPxReadFailure::NoReader);
    io.SetAttachedImg(nullptr);
    imaging::PxFinalize();
}

}  // namespace
