// The AVI structure check: files the load campaign found crashing, hanging
// or overrunning memory inside the platform's AVI library are refused with
// their reason before the library sees them (open, LoadFromFile and the
// frame counter's video path); single broken rules of a sound file are
// refused; sound files, RLE frames and sound streams included, still pass
// and load their frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/platform/AviCheck.h"
#include "imaging/io/platform/AviReader.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/model/PxBitmap.h"
#include "AviTestFrames.h"
#include "IoFixtureBytes.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring Fixture(const std::string& name) { return iobytes::FixtureFile(L"avi", name); }

using F = TPxReadFailure;

TEST(AviCheck, RefusesTheCampaignsFindingsBeforeTheLibrary)
{
    struct TCase {
        const char* Name;
        F Why;
    } const cases[] = {
        {"refused/chunk-between-stream-lists.avi", F::Corrupt},
        {"refused/chunk-past-file.avi", F::Truncated},
        {"refused/cut-after-header.avi", F::Truncated},
        {"refused/cut-huge-chunk.avi", F::Truncated},
        {"refused/cut-in-movi.avi", F::Truncated},
        {"refused/cut-in-stream-list.avi", F::Truncated},
        {"refused/format-past-stream-list.avi", F::Truncated},
        {"refused/frame-above-chunk.avi", F::MoreThanData},
        {"refused/header-chunk-past-file.avi", F::Truncated},
        {"refused/list-past-riff.avi", F::Corrupt},
        {"refused/movi-chunk-past-list.avi", F::Truncated},
        {"refused/no-stream-list.avi", F::Corrupt},
        {"refused/no-streams.avi", F::Truncated},
        {"refused/rle-cut.avi", F::Truncated},
        {"refused/rle-rows-above-frame.avi", F::Corrupt},
        {"refused/stream-list-past-file.avi", F::Truncated},
        {"refused/tall-frame.avi", F::MoreThanData},
        {"refused/tall-paletted-frame.avi", F::MoreThanData},
        {"refused/video-sample-size.avi", F::BadHeader},
        {"refused/wide-rle-frame.avi", F::Unsupported},
        {"seed-rle4.avi", F::Unsupported},
        {"huge.avi", F::MoreThanData},
        {"truncated.avi", F::Truncated},
        {"audio.avi", F::NoImage},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(PxCheckAVIFile(Fixture(c.Name)), c.Why);

        TImgIO io(nullptr);
        io.FileParams->AVIFrameCount = 9;
        EXPECT_EQ(io.OpenAVIFile(Fixture(c.Name)), 0);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(io.GetLastFailure(), c.Why);
        EXPECT_EQ(io.FileParams->AVIFrameCount, 0);
        EXPECT_FALSE(TPxAVIReader::Of(io).IsOpen());

        io.FileParams->ImageIndex = 0;
        io.LoadFromFile(Fixture(c.Name));
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(io.GetLastFailure(), c.Why);
        EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 0);
    }
}

// One broken rule each, written into a sound fixture.
TEST(AviCheck, RefusesEachBrokenRule)
{
    struct TPatch {
        size_t At;
        uint32_t Value;
    };
    struct TCase {
        const char* What;
        const char* File;
        std::vector<TPatch> Patches;
        F Why;
    } const cases[] = {
        {"another RIFF form", "rgb25fps.avi", {{8, 0x45564157}}, F::BadHeader},
        {"more streams announced than listed", "rgb25fps.avi", {{56, 2}}, F::BadHeader},
        {"main header's buffer beyond the file", "rgb25fps.avi", {{60, 0x7FFFFFF0}}, F::BadHeader},
        {"zero scale", "rgb25fps.avi", {{128, 0}}, F::BadHeader},
        {"stream length beyond the data", "rgb25fps.avi", {{140, 0xFFFFFFFF}}, F::BadHeader},
        {"bitmap header larger than the format", "rgb25fps.avi", {{172, 44}}, F::BadHeader},
        {"7 bits per pixel", "rgb25fps.avi", {{184, 0x00070001}}, F::BadHeader},
        {"more colours than 8 bits allow", "pal8ntsc.avi", {{204, 300}}, F::BadHeader},
        {"sound blocks of 0 bytes", "rle8audio.avi", {{1348, 0x00080000}}, F::BadHeader},
        {"RLE run past its row", "rle8audio.avi", {{1410, 0x3804}}, F::Corrupt},
        {"RLE code cut by the chunk's end", "rle8audio.avi", {{1442, 0x02000000}}, F::Corrupt},
        {"data of a stream that does not exist", "rgb25fps.avi", {{224, 0x62643130}}, F::Corrupt},
        {"lists nested three deep in movi",
         "rgb25fps.avi",
         {{224, 0x5453494C}, {228, 432}, {232, 0x20636572}, {236, 0x5453494C}, {240, 420}, {244, 0x20636572},
          {248, 0x5453494C}, {252, 408}, {256, 0x20636572}},
         F::Corrupt},
        {"index size not whole entries", "rgb25fps.avi", {{668, 79}}, F::Corrupt},
        {"index entry inside a frame", "rgb25fps.avi", {{696, 93}}, F::Corrupt},
        {"index entry past movi", "rgb25fps.avi", {{696, 0x7FFFFFF0}}, F::Corrupt},
        {"index entry larger than its chunk", "rgb25fps.avi", {{700, 81}}, F::Corrupt},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<uint8_t> bytes = iobytes::FileBytes(Fixture(c.File));
        classlib::TMemoryStream m;
        iobytes::SetBytes(m, bytes);
        ASSERT_EQ(PxCheckAVIStructure(m), F::None) << "the fixture itself";
        for (const TPatch& p : c.Patches) {
            ASSERT_LE(p.At + 4, bytes.size());
            std::memcpy(&bytes[p.At], &p.Value, 4);
        }
        iobytes::SetBytes(m, bytes);
        EXPECT_EQ(PxCheckAVIStructure(m), c.Why);
    }
}

// Every sound fixture passes (top-down bit fields and a second RIFF form
// included); an RLE video with a sound stream, 'rec ' lists, a
// JUNK chunk and absolute index offsets decodes (pixels as the fixture
// script wrote them).
TEST(AviCheck, SoundFilesPassAndLoadTheirFrames)
{
    for (const char* name : {"rgb25fps.avi", "pal8ntsc.avi", "mono.avi", "rle8audio.avi", "seed-565-topdown.avi",
                             "seed-avix.avi"})
        EXPECT_EQ(PxCheckAVIFile(Fixture(name)), F::None) << name;

    TImgIO io(nullptr);
    ASSERT_EQ(io.OpenAVIFile(Fixture("rle8audio.avi")), 3);
    EXPECT_EQ(io.FileParams->AVIFrameDelay, 100);
    for (int frame : {2, 0}) {
        SCOPED_TRACE(frame);
        io.LoadAVIFrame(frame);
        EXPECT_FALSE(io.AbortFlag);
        avitest::ExpectFrame24(*io.GetCurrentBitmap(), frame, [](int x, int y, int k) {
            return avitest::PaletteColour((x < 3 ? 10 * x : 50) + 2 * y + k);
        });
    }
}

int videoCalls = 0;
int32_t CountingVideoPath(const std::wstring&)
{
    ++videoCalls;
    return 5;
}

TEST(AviCheck, FrameCounterKeepsRefusedFilesFromTheVideoPath)
{
    testsupport::TempDir dir;
    const TPxFileFrameCounter installed = PxGetFrameCounter(ffUnknown);
    PxSetFrameCounter(ffUnknown, CountingVideoPath);
    videoCalls = 0;
    EXPECT_EQ(PxCountFileFrames(Fixture("refused/no-stream-list.avi")), 0);
    EXPECT_EQ(PxCountFileFrames(Fixture("huge.avi")), 0);
    EXPECT_EQ(videoCalls, 0);
    EXPECT_EQ(PxCountFileFrames(Fixture("rgb25fps.avi")), 5);
    // Files that cannot be opened, and other media files, are the video
    // path's to judge.
    EXPECT_EQ(PxCountFileFrames(dir.File(L"missing.avi")), 5);
    classlib::TMemoryStream other;
    iobytes::SetBytes(other, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    other.SaveToFile(dir.File(L"clip.xyz"));
    EXPECT_EQ(PxCountFileFrames(dir.File(L"clip.xyz")), 5);
    EXPECT_EQ(videoCalls, 3);
    PxSetFrameCounter(ffUnknown, installed);
}

}  // namespace
