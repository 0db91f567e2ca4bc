// The format table's descriptions against the registry, the detection and
// the I/O object: the frames a description counts and reads are those the
// I/O object loads for the same file and index.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

class FormatTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        hadRegistry_ = PxFormatRegistryExists();
        if (!hadRegistry_)
            PxBuildFormatRegistry();
        PxInstallBuiltInFormats();
    }
    void TearDown() override
    {
        if (!hadRegistry_)
            PxFreeFormatRegistry();
    }

private:
    bool hadRegistry_ = false;
};

// Number of pixels whose colour differs, or -1 when the sizes differ.
int Differences(TPxBitmap& A, TPxBitmap& B)
{
    if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight())
        return -1;
    int bad = 0;
    for (int y = 0; y < A.GetHeight(); ++y)
        for (int x = 0; x < A.GetWidth(); ++x)
            bad += !(A.GetPixelAsRGB(x, y) == B.GetPixelAsRGB(x, y));
    return bad;
}

// Frame Index of the file, read through the description's frame entry from
// the start of the file. Count receives what the read tells of the frames.
bool ReadFrame(const TPxFormatDescription& Format, const std::wstring& FileName, int Index, TPxBitmap& Bitmap,
               int32_t& Count)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TIOParamsVals params(nullptr);
    params.SetImageIndex(Index);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    Count = 0;
    Format.Frames.Read(&stream, &Bitmap, params, info, Count);
    info.Mask.Reset();
    return !aborting;
}

}  // namespace

TEST_F(FormatTable, RowsStepsAndSaveExtensionsBelongToOneFormat)
{
    // Every built-in row is described by the description of its own type.
    for (int i = 0; i < PxFormatCount(); ++i) {
        const TPxFileFormatInfo* row = PxFormatInfoByIndex(i);
        if (!row->IsBuiltIn)
            continue;
        SCOPED_TRACE(row->TypeNumber);
        ASSERT_NE(row->Description, nullptr);
        EXPECT_EQ(row->Description->Type, row->TypeNumber);
        EXPECT_EQ(row->Description, PxFormatDescription(row->TypeNumber));
    }
    // A detection step gives one format, and a save extension picks one
    // format (the save dispatch may then try the lists in any order).
    std::set<int> steps;
    std::map<std::wstring, TPxFileFormatId> saveExtensions;
    for (const TPxFormatDescription& d : PxFormatTable()) {
        SCOPED_TRACE(d.Type);
        if (d.Step != pdsCount) {
            EXPECT_TRUE(steps.insert(d.Step).second);
            EXPECT_EQ(PxDetectStepFormat(d.Step), d.Type);
        }
        std::wstring list = d.SaveExtensions ? d.SaveExtensions : L"";
        for (std::wstring e = PxNextExtensionToken(list); !e.empty(); e = PxNextExtensionToken(list)) {
            EXPECT_TRUE(saveExtensions.emplace(e, d.Type).second) << "shared save extension";
            EXPECT_NE(d.FileSave, nullptr);
            EXPECT_EQ(PxFormatDescriptionBySaveExtension(L"." + e), &d);
        }
    }
    EXPECT_EQ(steps.size(), static_cast<size_t>(pdsCount));
}

TEST_F(FormatTable, FramesCountedAndReadThroughTheRowsAsTheIOObjectLoadsThem)
{
    struct Case {
        const wchar_t* Area;
        const wchar_t* File;
        TPxFileFormatId Type;
        int Frames;
        int Frame;  // the frame compared with the I/O object's load
    };
    const Case cases[] = {
        {L"io\\tiff", L"multipage.tif", ffTIFF, 3, 2},  {L"io\\gif", L"anim.gif", ffGIF, 3, 1},
        {L"io\\pcx", L"multi.dcx", ffDCX, 3, 2},          {L"io\\dicom", L"g8_implicit.dcm", ffDICOM, 3, 2},
        {L"io\\ico", L"icon24.ico", ffICO, 1, 0},
    };
    for (const Case& c : cases) {
        const std::wstring name = testsupport::FixtureDir(c.Area) + L"\\" + c.File;
        SCOPED_TRACE(testing::PrintToString(name));
        const TPxFileFormatInfo* row = PxFormatInfoByExtension(classlib::ExtractFileExt(name));
        ASSERT_NE(row, nullptr);
        ASSERT_EQ(row->TypeNumber, c.Type);
        ASSERT_NE(row->Description, nullptr);
        const TPxFormatDescription& format = *row->Description;
        ASSERT_NE(format.Frames.Read, nullptr);
        EXPECT_EQ(PxDetectFileFormat(name, true), c.Type);
        EXPECT_EQ(PxCountFileFrames(name), c.Frames);
        if (format.Frames.CountOnStream) {
            classlib::TFileStream stream(name, classlib::fmOpenRead | classlib::fmShareDenyWrite);
            EXPECT_EQ(format.Frames.CountOnStream(&stream), c.Frames);
            EXPECT_EQ(stream.GetPosition(), 0);
        }

        TPxBitmap frame;
        int32_t told = 0;
        ASSERT_TRUE(ReadFrame(format, name, c.Frame, frame, told));
        if (!format.Frames.CountOnStream) {
            EXPECT_EQ(told, c.Frames);  // the reads tell the count
        }
        TImgIO io(nullptr);
        io.AutoAdjustDPI = false;
        io.FileParams->SetImageIndex(c.Frame);
        io.LoadFromFile(name);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->FileFormat, c.Type);
        EXPECT_EQ(Differences(frame, *io.GetCurrentBitmap()), 0);
        if (c.Frame > 0) {
            // The entry reads the frame asked for, not the first one.
            TPxBitmap first;
            ASSERT_TRUE(ReadFrame(format, name, 0, first, told));
            EXPECT_NE(Differences(frame, first), 0);
        }
    }
}
