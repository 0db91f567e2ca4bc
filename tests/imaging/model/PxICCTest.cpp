// Colour profiles over the platform's colour management, and the joining of
// chunked profiles.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxStartup.h"

using namespace imaging;

namespace {

// The bytes of the system sRGB profile (written by the platform, not here).
std::vector<uint8_t> SystemSRGBBytes()
{
    char dir[MAX_PATH];
    UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    std::string path = std::string(dir, n) + "\\spool\\drivers\\color\\sRGB Color Space Profile.icm";
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PutBE32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 24);
    b[at + 1] = static_cast<uint8_t>(v >> 16);
    b[at + 2] = static_cast<uint8_t>(v >> 8);
    b[at + 3] = static_cast<uint8_t>(v);
}

struct Tag {
    const char* sig;
    uint32_t offset;  // 0: placed after the table
    uint32_t size;    // 0: fitted to the text
    const char* text;
};

// A profile-shaped block: 128-byte header, tag table at 128, texts placed
// at their tag offset (+8 for cprt, +12 for desc).
std::vector<uint8_t> MakeProfile(const std::vector<Tag>& Tags, uint32_t CountOverride = 0, size_t Extra = 0)
{
    size_t end = 132 + 12 * Tags.size();
    std::vector<uint8_t> b(end, 0);
    PutBE32(b, 128, CountOverride ? CountOverride : static_cast<uint32_t>(Tags.size()));
    for (size_t i = 0; i < Tags.size(); ++i) {
        const Tag& t = Tags[i];
        const size_t skip = std::strcmp(t.sig, "desc") == 0 ? 12 : 8;
        const size_t len = std::strlen(t.text) + 1;
        uint32_t offset = t.offset ? t.offset : static_cast<uint32_t>(b.size());
        if (!t.offset) {
            b.resize(b.size() + skip + len, 0);
            std::memcpy(b.data() + offset + skip, t.text, len);
        }
        std::memcpy(b.data() + 132 + 12 * i, t.sig, 4);
        PutBE32(b, 132 + 12 * i + 4, offset);
        PutBE32(b, 132 + 12 * i + 8, t.size ? t.size : static_cast<uint32_t>(skip + len));
    }
    b.resize(b.size() + Extra, 0);
    return b;
}

// Three colours in B, G, R order.
const uint8_t kRow[9] = {10, 128, 240, 0, 0, 0, 255, 255, 255};

}  // namespace

TEST(PxICC, LoadsFromMemoryAndFromTheSystemFile)
{
    ASSERT_TRUE(PxInitMSCMS());
    const std::vector<uint8_t> bytes = SystemSRGBBytes();
    ASSERT_GT(bytes.size(), 128u) << "no system sRGB profile";

    TPxICC icc;
    icc.LoadFromBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(icc.IsValid());
    ASSERT_EQ(icc.GetRawLength(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(0, std::memcmp(icc.GetRaw() + 36, "acsp", 4));
    EXPECT_EQ(0, std::memcmp(icc.GetRaw() + 16, "RGB ", 4));
    EXPECT_FALSE(icc.Description.empty());

    // Saved with and without the length prefix.
    classlib::TMemoryStream withLength, bare;
    icc.SaveToStream(&withLength, false);
    icc.SaveToStream(&bare, true);
    ASSERT_EQ(withLength.GetSize(), static_cast<int64_t>(bytes.size()) + 4);
    ASSERT_EQ(bare.GetSize(), static_cast<int64_t>(bytes.size()));
    const auto* w = static_cast<const uint8_t*>(withLength.GetMemory());
    EXPECT_EQ(static_cast<size_t>(w[0] | (w[1] << 8) | (w[2] << 16) | (w[3] << 24)), bytes.size());
    EXPECT_EQ(0, std::memcmp(w + 4, bytes.data(), bytes.size()));

    TPxICC copy;
    copy.Assign(&icc);
    EXPECT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.GetRawLength(), icc.GetRawLength());
    EXPECT_EQ(copy.Description, icc.Description);

    TPxICC file;
    EXPECT_TRUE(file.LoadSRGB());
    EXPECT_TRUE(file.IsValid());
    EXPECT_EQ(file.GetRawLength(), 0);

    icc.Clear();
    EXPECT_FALSE(icc.IsValid());
    EXPECT_EQ(icc.GetRawLength(), 0);
    EXPECT_TRUE(icc.Description.empty());

    // Bytes the platform rejects are kept but not opened.
    const uint8_t junk[200] = {1, 2, 3};
    icc.LoadFromBuffer(junk, sizeof(junk));
    EXPECT_FALSE(icc.IsValid());
    EXPECT_EQ(icc.GetRawLength(), 200);
}

TEST(PxICC, ReadsTextsAndStopsAtBadTags)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> raw;
        std::string notice;
        std::string description;
    };
    std::vector<uint8_t> small(128, 0);
    std::vector<uint8_t> unterminated = MakeProfile({{"cprt", 0, 0, "Copyright"}});
    unterminated.back() = 'x';  // the text runs to the end without its zero
    std::string longText(1000, 'a');
    const Case cases[] = {
        {"both texts", MakeProfile({{"cprt", 0, 0, "Copyright X"}, {"desc", 0, 0, "Press"}}), "Copyright X", "Press"},
        {"128 bytes", small, "", ""},
        {"count 1001", MakeProfile({{"cprt", 0, 0, "C"}}, 1001), "", ""},
        {"count beyond the table", MakeProfile({{"desc", 0, 0, "D"}}, 900), "", "D"},
        {"offset beyond the end stops the walk",
         MakeProfile({{"desc", 0, 0, "D"}, {"wtpt", 0x100000, 20, ""}, {"cprt", 0, 0, "C"}}), "", "D"},
        {"negative size stops the walk", MakeProfile({{"cprt", 0, 0xFFFFFFF0u, "C"}, {"desc", 0, 0, "D"}}), "", ""},
        {"cprt of 1000 bytes is not read", MakeProfile({{"cprt", 0, 1000, "C"}}, 0, 1000), "", ""},
        {"text without an end", unterminated, "", ""},
        {"text of 1000 characters", MakeProfile({{"desc", 0, 40, longText.c_str()}}), "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPxICC icc;
        icc.LoadFromBuffer(c.raw.data(), static_cast<int32_t>(c.raw.size()));
        EXPECT_EQ(icc.GetRawLength(), static_cast<int32_t>(c.raw.size()));
        EXPECT_EQ(icc.NoticeText, c.notice);
        EXPECT_EQ(icc.Description, c.description);
    }
}

TEST(PxICC, TransformReusesRebuildsAndLeavesTheSourceAlone)
{
    TPxICC a, b;
    ASSERT_TRUE(a.LoadSRGB());
    ASSERT_TRUE(b.LoadSRGB());
    uint8_t source[9];
    std::memcpy(source, kRow, 9);
    uint8_t out[9] = {};
    ASSERT_TRUE(a.Transform(&b, pxIccBGR, 3, out, source, 0, 0, pxIccBGR));
    EXPECT_EQ(0, std::memcmp(source, kRow, 9)) << "the source row changed";
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(out[i], kRow[i], 3) << i;  // sRGB to sRGB keeps the colours
    HANDLE first = a.GetTransformHandle();
    ASSERT_TRUE(a.Transform(&b, pxIccBGR, 3, out, source, 0, 0, pxIccBGR));
    EXPECT_EQ(a.GetTransformHandle(), first) << "same parameters reuse the transform";

    // R, G, B input gives the same colours as B, G, R input swapped.
    const uint8_t rgb[3] = {240, 128, 10};
    uint8_t fromRgb[3];
    ASSERT_TRUE(a.Transform(&b, pxIccRGB, 1, fromRgb, rgb, 0, 0, pxIccBGR));
    EXPECT_EQ(0, std::memcmp(fromRgb, out, 3));

    // Output codes that are not written: false and nothing written.
    uint8_t untouched[9];
    std::memset(untouched, 0x5A, sizeof(untouched));
    EXPECT_FALSE(a.Transform(&b, pxIccBGR, 3, untouched, source, 0, 0, pxIccGray));
    EXPECT_FALSE(a.Transform(&b, 42, 3, untouched, source, 0, 0, pxIccBGR));
    for (uint8_t v : untouched)
        EXPECT_EQ(v, 0x5A);

    TPxICC c;
    ASSERT_TRUE(c.LoadSRGB());
    ASSERT_TRUE(c.Transform(&b, pxIccBGR, 3, out, source, 0, 0, pxIccBGR));
    EXPECT_FALSE(c.GetApplied()) << "built, not yet released";
    c.FreeTransform();
    EXPECT_FALSE(c.IsTransformReady());
    EXPECT_TRUE(c.GetApplied());
    c.Clear();
    EXPECT_FALSE(c.GetApplied());

    TPxICC empty;
    EXPECT_FALSE(empty.Transform(&b, pxIccBGR, 3, out, source, 0, 0, pxIccBGR));
}

TEST(PxICC, TransformBitmapWritesOnlyWhatItCan)
{
    TPxICC a, b;
    ASSERT_TRUE(a.LoadSRGB());
    ASSERT_TRUE(b.LoadSRGB());

    TPxBitmap rgb(3, 2, px24RGB);
    for (int y = 0; y < 2; ++y)
        std::memcpy(rgb.GetScanline(y), kRow, 9);
    ASSERT_TRUE(a.TransformBitmap(&rgb, px24RGB, &b));
    EXPECT_EQ(rgb.GetPixelFormat(), px24RGB);
    ASSERT_EQ(rgb.GetWidth(), 3);
    ASSERT_EQ(rgb.GetHeight(), 2);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(rgb.GetScanline(y)[i], kRow[i], 3);
    EXPECT_FALSE(a.IsTransformReady()) << "the transform is released at the end";

    struct Case {
        TPxPixelFormat source;
        TPxPixelFormat dest;
    };
    const Case refused[] = {{px1g, px24RGB}, {px8p, px24RGB}, {px24RGB, px8g}, {px24RGB, pxRGB48},
                            {px24RGB, pxCIELab}, {px24RGB, px1g}};
    for (const Case& c : refused) {
        SCOPED_TRACE(testing::Message() << int(c.source) << " -> " << int(c.dest));
        TPxBitmap bmp(4, 2, c.source);
        for (int y = 0; y < 2; ++y)
            std::memset(bmp.GetScanline(y), 0x33, static_cast<size_t>(bmp.GetRowLen()));
        EXPECT_FALSE(a.TransformBitmap(&bmp, c.dest, &b));
        EXPECT_EQ(bmp.GetPixelFormat(), c.source);
        EXPECT_EQ(bmp.GetWidth(), 4);
        EXPECT_EQ(bmp.GetScanline(1)[0], 0x33);
    }

    TPxICC closed;
    EXPECT_FALSE(closed.TransformBitmap(&rgb, px24RGB, &b));
}

TEST(PxICC, ChunksJoinInOrderAndBadOnesAreIgnored)
{
    auto chunk = [](int number, int count, const std::string& payload, const char* sig = "ICC_PROFILE") {
        std::vector<uint8_t> d(12, 0);
        std::memcpy(d.data(), sig, std::strlen(sig));
        d.push_back(static_cast<uint8_t>(number));
        d.push_back(static_cast<uint8_t>(count));
        d.insert(d.end(), payload.begin(), payload.end());
        return d;
    };
    struct Offer {
        std::vector<uint8_t> data;
        bool kept;
    };
    const std::vector<uint8_t> shortOne(13, 0);
    const Offer offers[] = {
        {chunk(3, 3, "CC"), true},
        {chunk(0, 3, "zero"), false},
        {chunk(4, 3, "beyond"), false},
        {chunk(1, 0, "no count"), false},
        {chunk(2, 4, "other count"), false},
        {chunk(1, 3, "bad", "ICC_PROFILX"), false},
        {shortOne, false},
        {chunk(1, 3, "A"), true},
        {chunk(1, 3, "again"), false},
    };
    TPxICCChunks chunks;
    for (const Offer& o : offers)
        EXPECT_EQ(chunks.Add(o.data.data(), o.data.size()), o.kept);
    EXPECT_FALSE(chunks.Complete());
    EXPECT_EQ(chunks.GetCount(), 3);
    std::vector<uint8_t> partial = chunks.Join();  // chunk 2 missing
    EXPECT_EQ(std::string(partial.begin(), partial.end()), "ACC");
    const auto two = chunk(2, 3, "BB");
    EXPECT_TRUE(chunks.Add(two.data(), two.size()));
    EXPECT_TRUE(chunks.Complete());
    std::vector<uint8_t> joined = chunks.Join();
    EXPECT_EQ(std::string(joined.begin(), joined.end()), "ABBCC");
    chunks.Clear();
    EXPECT_EQ(chunks.GetCount(), 0);
    EXPECT_TRUE(chunks.Join().empty());
}

TEST(PxICC, LibraryIsLoadedAgainAfterAShutdownFreedIt)
{
    ASSERT_TRUE(PxInitMSCMS());
    TPxICC before, dest;
    ASSERT_TRUE(before.LoadSRGB());
    ASSERT_TRUE(dest.LoadSRGB());
    uint8_t out[9];
    ASSERT_TRUE(before.Transform(&dest, pxIccBGR, 3, out, kRow, 0, 0, pxIccBGR));

    PxFreeColorLibrary();  // what the toolkit's shut-down does
    EXPECT_EQ(PxColorLibraryHandle, nullptr);
    // Handles of the freed library are forgotten, never used.
    EXPECT_FALSE(before.IsValid());
    EXPECT_FALSE(before.IsTransformReady());
    EXPECT_FALSE(before.Transform(&dest, pxIccBGR, 3, out, kRow, 0, 0, pxIccBGR));

    ASSERT_TRUE(PxInitMSCMS());
    EXPECT_NE(PxColorLibraryHandle, nullptr);
    TPxICC after, dest2;
    ASSERT_TRUE(after.LoadSRGB());
    ASSERT_TRUE(dest2.LoadSRGB());
    uint8_t out2[9];
    ASSERT_TRUE(after.Transform(&dest2, pxIccBGR, 3, out2, kRow, 0, 0, pxIccBGR));
    EXPECT_EQ(0, std::memcmp(out, out2, 9));
    before.Clear();  // safe on the forgotten handles
}
