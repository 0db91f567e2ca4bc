// GIF streams made here whose headers claim far more than their data: the
// picture refuses them with the toolkit's raster-check reasons, which are
// raised before any pixel or bitmap storage exists; and frames whose data
// end early are completed with the fill value.
#include <gtest/gtest.h>

#include <algorithm>

#include "GIFTestUtil.h"
#include "imaging/io/core/ReadGuard.h"

using namespace gif;
using namespace giftest;

namespace {

void Put16(std::vector<uint8_t>& b, int v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

struct TFrameSpec {
    int Left, Top, Width, Height;
};

// A GIF89a of a ScreenW x ScreenH screen without colour tables, whose frames
// all hold one pixel of LZW data (minimum code size 2: clear, 0, end), then
// Padding bytes in a comment extension.
std::vector<uint8_t> MakeGif(int ScreenW, int ScreenH, const std::vector<TFrameSpec>& Frames, int Padding = 0)
{
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, ScreenW);
    Put16(b, ScreenH);
    b.insert(b.end(), {0, 0, 0});
    for (const TFrameSpec& f : Frames) {
        b.push_back(0x2C);
        Put16(b, f.Left);
        Put16(b, f.Top);
        Put16(b, f.Width);
        Put16(b, f.Height);
        b.insert(b.end(), {0, 2, 2, 0x44, 0x01, 0});
    }
    if (Padding > 0) {
        b.insert(b.end(), {0x21, 0xFE});
        for (int left = Padding; left > 0; left -= 255) {
            const int n = std::min(left, 255);
            b.push_back(static_cast<uint8_t>(n));
            b.insert(b.end(), static_cast<size_t>(n), 'x');
        }
        b.push_back(0);
    }
    b.push_back(0x3B);
    return b;
}

std::wstring Reason(imaging::TPxReadFailure Why) { return imaging::PxReadFailureText(Why); }

}  // namespace

TEST(GIFHostile, HeadersClaimingMoreThanTheDataAreRefusedBeforeAllocation)
{
    const std::wstring TooLarge = L"Image too large";
    const std::wstring MoreThanData = Reason(imaging::TPxReadFailure::MoreThanData);
    struct Case {
        const char* Name;
        std::vector<uint8_t> File;
        std::wstring Message;
    } Cases[] = {
        // 1.6 G pixels in a 29-byte file.
        {"huge frame", MakeGif(1, 1, {{0, 0, 32767, 48909}}), TooLarge},
        // A frame of no size takes the screen's.
        {"empty frame on a huge screen", MakeGif(65535, 20000, {{0, 0, 0, 0}}), TooLarge},
        // 16 M pixels, under the cap, over a few bytes.
        {"frame larger than its data", MakeGif(1, 1, {{0, 0, 4000, 4000}}), MoreThanData},
        // One pixel far off a 179 x 12 screen: the grown screen would make a
        // 1 GB bitmap.
        {"far-placed frame", MakeGif(179, 12, {{7936, 33114, 1, 1}}), MoreThanData},
        // A declared screen of 100 M pixels over one pixel of data.
        {"huge screen", MakeGif(10000, 10000, {{0, 0, 1, 1}}), MoreThanData},
        // Each frame passes on the bytes after it; together they cannot.
        {"many frames over little data",
         MakeGif(1000, 1000, std::vector<TFrameSpec>(8, TFrameSpec{0, 0, 1000, 1000}), 1000), MoreThanData},
    };
    for (Case& c : Cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream Stream;
        LoadBytes(Stream, c.File);
        TGIFImage Image;
        try {
            Image.LoadFromStream(&Stream);
            ADD_FAILURE() << "loaded";
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
        EXPECT_EQ(Stream.GetPosition(), 0);
    }

    // The bound is generous: four such frames over that data load.
    classlib::TMemoryStream Stream;
    LoadBytes(Stream, MakeGif(1000, 1000, std::vector<TFrameSpec>(4, TFrameSpec{0, 0, 1000, 1000}), 1000));
    TGIFImage Image;
    Image.LoadFromStream(&Stream);
    EXPECT_EQ(Image.GetWidth(), 1000);
    EXPECT_GE(Image.GetImages()->GetCount(), 4);
}

// A frame whose data end after 5 of its 16 rows, stored in order and
// interlaced: the rows the data reach hold the decoded pixels, every other
// pixel the transparent index.
TEST(GIFHostile, FrameDataEndingEarlyLeaveTheFillValue)
{
    struct Case {
        bool Interlaced;
        std::vector<int> DecodedRows;
    } Cases[] = {{false, {0, 1, 2, 3, 4}}, {true, {0, 8, 4, 12, 2}}};
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.Interlaced ? "interlaced" : "in order");
        TGIFImage Source;
        SetGlobal(Source, std::vector<TGIFColor>(16, TGIFColor{1, 2, 3}));
        TGIFSubImage* Frame = AddFrame(Source, 0, 0, 8, 5, std::vector<uint8_t>(40, 3));
        Frame->SetInterlaced(c.Interlaced);
        AddControl(Frame, 0, 0, 9);
        classlib::TMemoryStream Stream;
        Source.SaveToStream(&Stream);
        std::vector<uint8_t> Bytes = StreamBytes(Stream);
        // The descriptor's height (after separator, left, top, width).
        size_t Descriptor = 0;
        for (size_t i = 13; i + 10 < Bytes.size(); ++i)
            if (Bytes[i] == 0x2C && Bytes[i + 5] == 8 && Bytes[i + 7] == 5) {
                Descriptor = i;
                break;
            }
        ASSERT_NE(Descriptor, 0u);
        Bytes[Descriptor + 7] = 16;

        classlib::TMemoryStream Damaged;
        LoadBytes(Damaged, Bytes);
        TGIFImage Image;
        Image.LoadFromStream(&Damaged);
        ASSERT_EQ(Image.GetImages()->GetCount(), 1);
        TGIFSubImage* Loaded = Image.GetImages()->GetFrame(0);
        ASSERT_EQ(Loaded->GetHeight(), 16);
        for (int y = 0; y < 16; ++y) {
            const bool Decoded = std::find(c.DecodedRows.begin(), c.DecodedRows.end(), y) != c.DecodedRows.end();
            EXPECT_EQ(std::vector<uint8_t>(Loaded->Scanline(y), Loaded->Scanline(y) + 8),
                      std::vector<uint8_t>(8, Decoded ? 3 : 9))
                << "row " << y;
        }
    }
}
