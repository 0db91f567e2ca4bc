// AVI frame reading through the platform's AVI file library: frame timing,
// decoded frames of 24-, 8- and 1-bit files checked against the values the
// fixture script put into them, the bounds of the frame index, files that
// cannot be opened, the LoadFromFile road and the release of the file.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "classlib/Events.h"
#include "imaging/io/platform/AviReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "AviTestFrames.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring Fixture(const wchar_t* name) { return testsupport::FixturePath(L"io/avi", name); }

struct TFinishCounter : classlib::TObject {
    int Count = 0;
    void Finish(classlib::TObject*) { ++Count; }
};

// The fixture script's pixel of a true-colour frame.
TPxRGB Expected24(int x, int y, int frame)
{
    TPxRGB c;
    c.r = static_cast<uint8_t>(40 * x + frame);
    c.g = static_cast<uint8_t>(60 * y);
    c.b = static_cast<uint8_t>(200 - 30 * frame);
    return c;
}

using avitest::ExpectFrame24;

TEST(AviFrames, FrameDelay)
{
    struct TCase {
        uint32_t Rate, Scale;
        int32_t Delay;
    } const cases[] = {{25, 1, 40}, {30000, 1001, 33}, {3, 2, 667}, {16, 1, 62}, {80, 1, 12}, {0, 1, 0}, {25, 0, 0}};
    for (const TCase& c : cases)
        EXPECT_EQ(PxAVIFrameDelay(c.Rate, c.Scale), c.Delay) << c.Rate << "/" << c.Scale;
}

TEST(AviFrames, ReadsTrueColourFramesAndBoundsTheIndex)
{
    TImgIO io(nullptr);
    TFinishCounter finish;
    io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
    TPxAVIReader& reader = TPxAVIReader::Of(io);
    EXPECT_EQ(&reader, &TPxAVIReader::Of(io));

    io.FileParams->FileFormat = 7;
    ASSERT_EQ(reader.OpenAVIFile(Fixture(L"rgb25fps.avi")), 5);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.FileParams->AVIFrameCount, 5);
    EXPECT_EQ(io.FileParams->AVIFrameDelay, 40);
    EXPECT_EQ(io.FileParams->FileName, Fixture(L"rgb25fps.avi"));
    EXPECT_EQ(io.FileParams->FileFormat, 0);

    for (int frame : {3, 0, 4}) {
        SCOPED_TRACE(frame);
        io.FileParams->BitsPerSample = 0;
        io.FileParams->SamplesPerPixel = 0;
        io.FileParams->AVIFrameCount = 0;
        reader.LoadAVIFrame(frame);
        EXPECT_FALSE(io.AbortFlag);
        ExpectFrame24(*io.GetCurrentBitmap(), frame, Expected24);
        const TIOParamsVals& p = *io.FileParams;
        EXPECT_EQ(p.BitsPerSample, 8);
        EXPECT_EQ(p.SamplesPerPixel, 3);
        EXPECT_EQ(p.Width, 6);
        EXPECT_EQ(p.OriginalWidth, 6);
        EXPECT_EQ(p.Height, 4);
        EXPECT_EQ(p.OriginalHeight, 4);
        EXPECT_EQ(p.DpiX, PxDefaultDpiX);
        EXPECT_EQ(p.DpiY, PxDefaultDpiY);
        EXPECT_EQ(p.AVIFrameCount, 5);
    }
    EXPECT_EQ(finish.Count, 3);

    // An index equal to the count (or far beyond) reads nothing, flag clear.
    for (uint32_t index : {5u, 0xFFFFFFFFu}) {
        reader.LoadAVIFrame(index);
        EXPECT_FALSE(io.AbortFlag);
        ExpectFrame24(*io.GetCurrentBitmap(), 4, Expected24);
    }
    EXPECT_EQ(finish.Count, 5);

    // Nothing open: nothing read.
    reader.CloseAVIFile();
    EXPECT_FALSE(reader.IsOpen());
    reader.LoadAVIFrame(0);
    EXPECT_FALSE(io.AbortFlag);
    ExpectFrame24(*io.GetCurrentBitmap(), 4, Expected24);
}

TEST(AviFrames, PalettedAndMonochromeFrames)
{
    TImgIO io(nullptr);
    TPxAVIReader& reader = TPxAVIReader::Of(io);

    ASSERT_EQ(reader.OpenAVIFile(Fixture(L"pal8ntsc.avi")), 2);
    EXPECT_EQ(io.FileParams->AVIFrameDelay, 33);
    reader.LoadAVIFrame(1);
    ExpectFrame24(*io.GetCurrentBitmap(), 1,
                  [](int x, int y, int frame) { return avitest::PaletteColour(10 * x + 2 * y + frame); });
    EXPECT_EQ(io.FileParams->BitsPerSample, 8);
    EXPECT_EQ(io.FileParams->SamplesPerPixel, 1);

    // Opening another file closes the first.
    ASSERT_EQ(reader.OpenAVIFile(Fixture(L"mono.avi")), 3);
    EXPECT_EQ(io.FileParams->AVIFrameDelay, 100);
    reader.LoadAVIFrame(2);
    TPxBitmap& b = *io.GetCurrentBitmap();
    ASSERT_EQ(b.GetPixelFormat(), px1g);
    ASSERT_EQ(b.GetWidth(), 6);
    ASSERT_EQ(b.GetHeight(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            bool white = (b.GetScanline(y)[x >> 3] >> (7 - (x & 7))) & 1;
            EXPECT_EQ(white, (x + y + 2) % 2 == 1) << x << "," << y;
        }
    EXPECT_EQ(io.FileParams->BitsPerSample, 1);
    EXPECT_EQ(io.FileParams->SamplesPerPixel, 1);
}

TEST(AviFrames, FilesThatCannotBeOpened)
{
    testsupport::TempDir dir;
    const std::wstring garbage = dir.File(L"garbage.avi");
    HANDLE h = CreateFileW(garbage.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, "RIFF\x04\0\0\0AVI ", 12, &written, nullptr);
    CloseHandle(h);

    const std::wstring names[] = {Fixture(L"audio.avi"), garbage, dir.File(L"missing.avi")};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        TImgIO io(nullptr);
        TPxAVIReader& reader = TPxAVIReader::Of(io);
        io.FileParams->AVIFrameCount = 9;
        EXPECT_EQ(reader.OpenAVIFile(name), 0);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->AVIFrameCount, 0);
        EXPECT_FALSE(reader.IsOpen());

        // The LoadFromFile road fails with the finish notification.
        TFinishCounter finish;
        io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
        io.FileParams->ImageIndex = 0;
        PxLoadAVIFile(io, name);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(finish.Count, 1);
        EXPECT_NE(io.FileParams->FileFormat, ffAVI);
        EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 0);
    }
}

// Damaged files (frame headers announcing 30000 x 30000 pixels over 24
// bytes; a file cut inside its second frame, without index): whatever the
// library makes of them, nothing crashes, and a frame is either decoded
// right or leaves the image as it was, with the aborting flag clear.
TEST(AviFrames, DamagedFilesFailCleanly)
{
    for (const wchar_t* name : {L"huge.avi", L"truncated.avi"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        TImgIO io(nullptr);
        TPxAVIReader& reader = TPxAVIReader::Of(io);
        int count = reader.OpenAVIFile(Fixture(name));
        EXPECT_EQ(io.AbortFlag, count == 0);
        for (int i = 0; i < count; ++i) {
            io.GetCurrentBitmap()->FreeImage(true);
            reader.LoadAVIFrame(i);
            EXPECT_FALSE(io.AbortFlag);
            TPxBitmap& b = *io.GetCurrentBitmap();
            if (b.GetWidth() == 0)
                continue;
            ASSERT_STREQ(name, L"truncated.avi") << "a frame of the huge file was decoded";
            ExpectFrame24(b, i, Expected24);
        }
    }
}

TEST(AviFrames, LoadFileReadsImageIndexAndReleasesTheFile)
{
    testsupport::TempDir dir;
    const std::wstring copy = dir.File(L"clip.avi");
    ASSERT_TRUE(CopyFileW(Fixture(L"rgb25fps.avi").c_str(), copy.c_str(), FALSE));
    {
        TImgIO io(nullptr);
        TFinishCounter finish;
        io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
        io.FileParams->ImageIndex = 3;
        io.LoadFromFile(copy);  // the ".avi" road of the dispatch
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_EQ(finish.Count, 1);
        ExpectFrame24(*io.GetCurrentBitmap(), 3, Expected24);
        EXPECT_EQ(io.FileParams->FileFormat, ffAVI);
        EXPECT_EQ(io.FileParams->FileName, copy);
        EXPECT_EQ(io.FileParams->AVIFrameCount, 5);
        EXPECT_FALSE(TPxAVIReader::Of(io).IsOpen());
        // Closed: the file can be replaced at once.
        ASSERT_TRUE(DeleteFileW(copy.c_str()));
        ASSERT_TRUE(CopyFileW(Fixture(L"rgb25fps.avi").c_str(), copy.c_str(), FALSE));

        // An I/O object destroyed with a file open releases it.
        EXPECT_EQ(io.OpenAVIFile(copy), 5);
        ASSERT_TRUE(TPxAVIReader::Of(io).IsOpen());
    }
    EXPECT_TRUE(DeleteFileW(copy.c_str()));
}

// A load by content finds an AVI file whatever its name, and a load by type
// 15 reaches the AVI reader too; a frame the file does not have, or a file
// the reader refuses, fails the load with a reason instead of leaving the
// old picture as if it had been loaded.
TEST(AviFrames, LoadsByContentAndTypeReadTheFrameOrFail)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    testsupport::TempDir dir;
    const std::wstring odd = dir.File(L"clip.dat");
    ASSERT_TRUE(CopyFileW(Fixture(L"rgb25fps.avi").c_str(), odd.c_str(), FALSE));
    const std::wstring huge = dir.File(L"huge.bin");
    ASSERT_TRUE(CopyFileW(Fixture(L"huge.avi").c_str(), huge.c_str(), FALSE));
    struct TCase {
        const char* What;
        std::wstring Name;
        int Index;
        bool ByType;
        TPxReadFailure Failure;  // None: frame Index decoded
    } const cases[] = {
        {"by content, other extension", odd, 2, false, TPxReadFailure::None},
        {"by content, .avi", Fixture(L"rgb25fps.avi"), 4, false, TPxReadFailure::None},
        {"by type 15", odd, 1, true, TPxReadFailure::None},
        {"frame past the end", odd, 5, false, TPxReadFailure::NoImage},
        {"frames larger than their data", huge, 0, false, TPxReadFailure::MoreThanData},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TImgIO io(nullptr);
        TFinishCounter finish;
        io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
        io.GetCurrentBitmap()->Allocate(2, 2, px8g);  // an earlier picture
        io.FileParams->ImageIndex = c.Index;
        if (c.ByType)
            io.LoadFromFileFormat(c.Name, ffAVI);
        else
            io.LoadFromFileAuto(c.Name);
        EXPECT_EQ(finish.Count, 1);
        EXPECT_EQ(io.AbortFlag, c.Failure != TPxReadFailure::None);
        EXPECT_EQ(io.GetLastFailure(), c.Failure);
        EXPECT_FALSE(TPxAVIReader::Of(io).IsOpen());
        if (c.Failure == TPxReadFailure::None) {
            ExpectFrame24(*io.GetCurrentBitmap(), c.Index, Expected24);
            EXPECT_EQ(io.FileParams->FileFormat, ffAVI);
        }
    }
    if (!existed)
        PxFreeFormatRegistry();
}

TEST(AviFrames, AsynchronousFrameReadRunsOnAWorker)
{
    TPxBitmap target;
    auto io = TImgIO::CreateForBitmap(&target);
    io->AsyncMode = true;
    TPxAVIReader& reader = TPxAVIReader::Of(*io);
    ASSERT_EQ(reader.OpenAVIFile(Fixture(L"rgb25fps.avi")), 5);
    reader.LoadAVIFrame(2);
    io->WaitThreads(false);
    EXPECT_FALSE(io->AbortFlag);
    ExpectFrame24(target, 2, Expected24);

    io->FileParams->ImageIndex = 1;
    PxLoadAVIFile(*io, Fixture(L"rgb25fps.avi"));
    io->WaitThreads(false);
    ExpectFrame24(target, 1, Expected24);
    EXPECT_EQ(io->FileParams->FileFormat, ffAVI);
    EXPECT_FALSE(reader.IsOpen());
}

}  // namespace
