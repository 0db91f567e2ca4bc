// JPEG metadata before a save: XMP packets, the Photoshop resolution record,
// the IPTC record inside the APP13 marker, EXIF and XMP markers replaced on
// every save, and blocks too long for one marker. APP13 markers come from
// files written by ImageMagick and exiftool or are crafted here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/model/PxJpegSegmentsTestSupport.h"

using namespace imaging;

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes S(const char (&s)[N])
{
    return Bytes(s, s + N - 1);  // embedded zeros kept, the terminating one not
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Fixture(const wchar_t* file, uint8_t type)
{
    return testsupport::FirstSegment(testsupport::ReadJpegSegments(L"io\\jpeg-meta", file), type);
}

Bytes Payload(const TPxMarkerList& m, int i)
{
    const uint8_t* p = m.GetMarkerData(i);
    return p ? Bytes(p, p + m.GetMarkerLength(i)) : Bytes();
}

int Add(TPxMarkerList& m, uint8_t type, const Bytes& payload)
{
    return m.AddMarker(type, payload.data(), static_cast<int32_t>(payload.size()));
}

// Resource id -> its whole bytes (signature to padding), in block order.
std::vector<std::pair<uint16_t, Bytes>> Resources(const Bytes& block)
{
    std::vector<std::pair<uint16_t, Bytes>> out;
    for (const auto& r : PxParsePhotoshopResources(block.data(), block.size()))
        out.emplace_back(r.Id, Bytes(block.begin() + r.Start, block.begin() + r.End));
    return out;
}

std::vector<std::pair<uint16_t, Bytes>> Without(std::vector<std::pair<uint16_t, Bytes>> v, uint16_t id)
{
    std::erase_if(v, [id](const auto& e) { return e.first == id; });
    return v;
}

using Item = std::tuple<int32_t, int32_t, std::string>;
std::vector<Item> ItemsOf(const Bytes& block)
{
    TPxIPTCInfoList list;
    list.LoadFromBuffer(block.data(), block.size());
    std::vector<Item> out;
    for (int i = 0; i < list.GetCount(); ++i)
        out.emplace_back(list.GetRecordNumber(i), list.GetDataSet(i),
                         std::string(reinterpret_cast<const char*>(list.GetItemData(i)),
                                     static_cast<size_t>(list.GetItemLength(i))));
    return out;
}

const Bytes kPhotoshop = S("Photoshop 3.0\0");
const Bytes kExifHead = S("Exif\0\0");
const Bytes kXmpHead = S("http://ns.adobe.com/xap/1.0/\0");

// A resolution record of 150 x 150 dpi with an empty name.
const Bytes kResolution = S("8BIM\x03\xED\0\0\0\0\0\x10") +
                          Bytes{0, 0x96, 0, 0, 0, 2, 0, 2, 0, 0x96, 0, 0, 0, 2, 0, 2};

class JpegMetadata : public testing::Test {
protected:
    void SetUp() override
    {
        PxInstallJPEGMetadataObjects();
        params_ = std::make_unique<TIOParamsVals>(nullptr);
        ASSERT_NE(params_->JPEGMarkers, nullptr);
        ASSERT_NE(params_->IPTCInfo, nullptr);
        savedBuilder_ = PxEXIFBlockBuilder;
    }
    void TearDown() override { PxEXIFBlockBuilder = savedBuilder_; }

    TIOParamsVals& P() { return *params_; }
    TPxMarkerList& M() { return *params_->JPEGMarkers; }
    TPxIPTCInfoList& I() { return *params_->IPTCInfo; }

    // Every marker of the list can be written as one marker.
    void ExpectAllFit()
    {
        for (int i = 0; i < M().GetCount(); ++i)
            EXPECT_LE(M().GetMarkerLength(i), PxMaxMarkerPayload);
    }

private:
    std::unique_ptr<TIOParamsVals> params_;
    TPxEXIFBlockBuilder savedBuilder_ = nullptr;
};

}  // namespace

TEST_F(JpegMetadata, ParametersCarryMarkerAndIPTCLists)
{
    Add(M(), PxMarkerAPP1, kXmpHead + S("<x/>"));
    Add(M(), PxMarkerAPP1, kExifHead + S("MM"));
    I().AddItem(2, 5, 3, "abc");

    TIOParamsVals copy(nullptr);
    copy.Assign(&P());
    EXPECT_EQ(copy.JPEGMarkers->GetCount(), 2);
    EXPECT_EQ(copy.IPTCInfo->GetCount(), 1);

    P().ResetEXIF();  // deletes the EXIF marker only
    ASSERT_EQ(M().GetCount(), 1);
    EXPECT_EQ(Payload(M(), 0), kXmpHead + S("<x/>"));

    // Forgetting the previous file's record is no change of the user's.
    P().ClearInfo();
    EXPECT_EQ(M().GetCount(), 0);
    EXPECT_EQ(I().GetCount(), 0);
    EXPECT_FALSE(I().UserChanged);
}

TEST_F(JpegMetadata, XMPPacketsMoveBetweenMarkersAndParameters)
{
    struct Case {
        const char* Name;
        Bytes Buffer;
        bool Found;
    } cases[] = {
        {"identifier and one byte", kXmpHead + S("<"), true},
        {"29 bytes", kXmpHead, false},
        {"extended XMP", S("http://ns.adobe.com/xmp/extension/\0") + S("0123456789"), false},
        {"EXIF", kExifHead + S("MM\0*\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const uint8_t* packet = PxFindXMPPacket(c.Buffer.data(), c.Buffer.size());
        EXPECT_EQ(packet, c.Found ? c.Buffer.data() + 29 : nullptr);
        P().XMPInfo = "old";
        EXPECT_EQ(PxLoadXMPFromAPP1(c.Buffer.data(), c.Buffer.size(), P()), c.Found);
        EXPECT_EQ(P().XMPInfo, c.Found ? "<" : "old");
    }

    // A packet written by exiftool is read whole and built back byte for byte.
    const Bytes app1 = Fixture(L"xmp.jpg", PxMarkerAPP1);
    ASSERT_GT(app1.size(), 100u);
    ASSERT_TRUE(PxLoadXMPFromAPP1(app1.data(), app1.size(), P()));
    EXPECT_EQ(P().XMPInfo.rfind("<?xpacket begin=", 0), 0u);
    EXPECT_NE(P().XMPInfo.find("Harbour at dawn"), std::string::npos);
    EXPECT_EQ(P().XMPInfo.size(), app1.size() - 29);
    EXPECT_EQ(PxBuildXMPAPP1(P()), app1);
}

TEST_F(JpegMetadata, ResolutionRecordIsRewrittenInPlace)
{
    // Written by ImageMagick (150 x 200 dpi), with IPTC and a URL added by
    // exiftool after the record.
    const Bytes original = Fixture(L"photoshop-res.jpg", PxMarkerAPP13);
    ASSERT_FALSE(original.empty());
    Add(M(), PxMarkerAPP13, original);
    P().SetDpiX(72);
    P().SetDpiY(96);
    EXPECT_EQ(PxUpdateJPEGMetadata(P()), 0u);

    ASSERT_EQ(M().GetCount(), 1);
    const Bytes now = Payload(M(), 0);
    ASSERT_EQ(now.size(), original.size());
    const auto r = PxParsePhotoshopResources(now.data(), now.size());
    ASSERT_FALSE(r.empty());
    ASSERT_EQ(r[0].Id, PxResourceResolution);
    const size_t at = r[0].DataOffset;
    EXPECT_EQ(Bytes(now.begin() + at, now.begin() + at + 16),
              (Bytes{0, 72, 0, 0, 0, 1, 0, 1, 0, 96, 0, 0, 0, 1, 0, 1}));
    // Nothing else moved.
    EXPECT_EQ(Bytes(now.begin(), now.begin() + at), Bytes(original.begin(), original.begin() + at));
    EXPECT_EQ(Bytes(now.begin() + at + 16, now.end()), Bytes(original.begin() + at + 16, original.end()));
}

TEST_F(JpegMetadata, ResolutionRecordsThatDoNotFitAreLeftAlone)
{
    const Bytes rewritten72 = Bytes{0, 72, 0, 0, 0, 1, 0, 1, 0, 72, 0, 0, 0, 1, 0, 1};
    struct Case {
        const char* Name;
        Bytes Block;
        size_t RewrittenAt;  // 0: the block must stay as it was
    } cases[] = {
        {"record of 16 bytes", kPhotoshop + kResolution, 14 + 12},
        // A name of three characters (four bytes with its length byte): the
        // record starts 4 bytes after the name's start, not at a 16-bit
        // offset read from the name.
        {"named record", kPhotoshop + S("8BIM\x03\xED\x03" "abc\0\0\0\x10") + Bytes(16, 7), 14 + 14},
        {"record after other resources", kPhotoshop + S("8BIM\x04\x0B\0\0\0\0\0\x03" "url\0") + kResolution,
         14 + 16 + 12},
        {"size below 16", kPhotoshop + S("8BIM\x03\xED\0\0\0\0\0\x08") + Bytes(8, 7), 0},
        {"size beyond the block", kPhotoshop + S("8BIM\x03\xED\0\0\0\0\0\x20") + Bytes(16, 7), 0},
        {"size field cut off", kPhotoshop + S("8BIM\x03\xED\0\0\0\0"), 0},
        {"name beyond the block", kPhotoshop + S("8BIM\x03\xED\xF0" "abc"), 0},
        // The signature inside another resource's data is no record.
        {"signature inside data", kPhotoshop + S("8BIM\x04\x0B\0\0\0\0\0\x1C") + kResolution, 0},
        {"not a Photoshop block", S("Adobe_CM\0") + kResolution, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxMarkerList markers;
        Add(markers, PxMarkerAPP13, c.Block);
        EXPECT_EQ(UpdateAPP13Resolution(markers, 72, 72), c.RewrittenAt != 0);
        Bytes expected = c.Block;
        if (c.RewrittenAt != 0) std::copy(rewritten72.begin(), rewritten72.end(), expected.begin() + c.RewrittenAt);
        EXPECT_EQ(Payload(markers, 0), expected);
    }
}

TEST_F(JpegMetadata, ChangedIPTCReplacesOnlyItsResource)
{
    // The IPTC record used to replace the whole APP13 marker, losing the
    // resolution record just rewritten and every other resource.
    for (const wchar_t* file : {L"iptc-multi.jpg", L"photoshop-res.jpg"}) {
        SCOPED_TRACE(std::string(file, file + wcslen(file)));
        const Bytes original = Fixture(file, PxMarkerAPP13);
        ASSERT_FALSE(original.empty());
        M().Clear();
        Add(M(), PxMarkerCOM, S("comment"));
        Add(M(), PxMarkerAPP13, original);
        ASSERT_TRUE(I().LoadFromBuffer(original.data(), original.size()));
        std::vector<Item> items = ItemsOf(original);
        items.pop_back();  // the record version is not written back
        P().SetDpiX(72);
        P().SetDpiY(72);

        // Unchanged: the marker stays as it was, apart from the resolution.
        PxUpdateJPEGMetadata(P());
        ASSERT_EQ(M().GetCount(), 2);
        Bytes before = Payload(M(), 1);
        EXPECT_EQ(before.size(), original.size());
        EXPECT_EQ(Without(Resources(before), PxResourceResolution), Without(Resources(original), PxResourceResolution));

        I().AddItem(2, 120, 11, "New caption");
        items.emplace_back(2, 120, "New caption");
        EXPECT_EQ(PxUpdateJPEGMetadata(P()), 0u);
        ASSERT_EQ(M().GetCount(), 2);
        EXPECT_EQ(Payload(M(), 0), S("comment"));
        const Bytes after = Payload(M(), 1);
        EXPECT_EQ(ItemsOf(after), items);
        // Every other resource is still there, in its place, unchanged (the
        // resolution record as rewritten before).
        const auto oldRes = Resources(before);
        const auto newRes = Resources(after);
        ASSERT_EQ(newRes.size(), oldRes.size());
        for (size_t i = 0; i < newRes.size(); ++i) {
            EXPECT_EQ(newRes[i].first, oldRes[i].first);
            if (newRes[i].first != PxResourceIPTC) {
                EXPECT_EQ(newRes[i].second, oldRes[i].second);
            }
        }
        if (file == std::wstring(L"photoshop-res.jpg")) {
            const auto r = PxParsePhotoshopResources(after.data(), after.size());
            EXPECT_EQ(after[r[0].DataOffset + 1], 72);
        }
    }
}

TEST_F(JpegMetadata, ClearedIPTCRemovesTheRecordButNotTheOtherResources)
{
    TPxIPTCInfoList only;
    only.AddItem(2, 5, 3, "abc");
    const Bytes iptcOnly = only.SaveToBuffer(true);
    struct Case {
        const char* Name;
        Bytes Block;
        bool MarkerStays;
    } cases[] = {
        {"IPTC only", iptcOnly, false},
        {"with four resources (exiftool)", Fixture(L"iptc-multi.jpg", PxMarkerAPP13), true},
        {"after a resolution record (ImageMagick, exiftool)", Fixture(L"photoshop-res.jpg", PxMarkerAPP13), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        M().Clear();
        const Bytes adobe = S("Adobe_CM\0\x01");  // an APP13 marker of another kind
        Add(M(), PxMarkerAPP13, adobe);
        Add(M(), PxMarkerAPP13, c.Block);
        I().LoadFromBuffer(c.Block.data(), c.Block.size());
        I().Clear();
        P().SetDpiX(150);
        P().SetDpiY(150);
        PxUpdateJPEGMetadata(P());
        ASSERT_EQ(M().GetCount(), c.MarkerStays ? 2 : 1);
        EXPECT_EQ(Payload(M(), 0), adobe);
        if (c.MarkerStays) {
            const Bytes now = Payload(M(), 1);
            EXPECT_TRUE(ItemsOf(now).empty());
            EXPECT_EQ(Resources(now).size(), Resources(c.Block).size() - 1);
            EXPECT_EQ(Without(Without(Resources(now), PxResourceResolution), PxResourceIPTC),
                      Without(Without(Resources(c.Block), PxResourceResolution), PxResourceIPTC));
        }
    }
}

TEST_F(JpegMetadata, IPTCIsAppendedOnlyWhenChangedOrWithoutMarkers)
{
    TPxIPTCInfoList source;
    source.AddItem(2, 5, 3, "abc");
    source.AddItem(2, 25, 4, "sail");
    // Loaded items (not changed) and no marker at all: a new APP13 marker.
    const Bytes block = source.SaveToBuffer(true);
    I().LoadFromBuffer(block.data(), block.size());
    PxUpdateJPEGMetadata(P());
    ASSERT_EQ(M().GetCount(), 1);
    EXPECT_EQ(M().GetMarkerType(0), PxMarkerAPP13);
    EXPECT_EQ(Payload(M(), 0), block);

    // Unchanged items beside other markers: nothing is added.
    M().Clear();
    Add(M(), PxMarkerCOM, S("c"));
    PxUpdateJPEGMetadata(P());
    EXPECT_EQ(M().GetCount(), 1);
}

TEST_F(JpegMetadata, ExifAndXmpMarkersAreReplacedOnEverySave)
{
    const Bytes sourceExif = kExifHead + S("MM source");
    Add(M(), PxMarkerAPP1, sourceExif);
    Add(M(), PxMarkerAPP1, kXmpHead + S("<old/>"));
    Add(M(), PxMarkerCOM, S("comment"));
    P().XMPInfo = "<new/>";

    // Without EXIF data of its own (or before the EXIF writer is installed)
    // the image keeps the EXIF marker of its source as it is.
    P().HasEXIF = false;
    PxUpdateJPEGMetadata(P());
    P().HasEXIF = true;
    PxEXIFBlockBuilder = nullptr;
    PxUpdateJPEGMetadata(P());
    ASSERT_EQ(M().GetCount(), 3);
    EXPECT_EQ(Payload(M(), 0), sourceExif);
    EXPECT_EQ(Payload(M(), 1), S("comment"));
    EXPECT_EQ(Payload(M(), 2), kXmpHead + S("<new/>"));

    PxEXIFBlockBuilder = [](TIOParamsVals&, std::vector<uint8_t>& block) {
        block = kExifHead + S("MM built");
        return true;
    };
    for (int save = 0; save < 2; ++save)
        EXPECT_EQ(PxUpdateJPEGMetadata(P()), 0u);
    ASSERT_EQ(M().GetCount(), 3);
    EXPECT_EQ(Payload(M(), 0), S("comment"));
    EXPECT_EQ(Payload(M(), 1), kExifHead + S("MM built"));
    EXPECT_EQ(Payload(M(), 2), kXmpHead + S("<new/>"));

    P().XMPInfo.clear();
    PxUpdateJPEGMetadata(P());
    EXPECT_EQ(M().GetCount(), 2);
}

TEST_F(JpegMetadata, BlocksTooLongForOneMarkerAreLeftOut)
{
    // Lengths used to be taken modulo 65536: a 70000-byte block went out as
    // 4464 bytes. Now such a block is not written, the marker it would have
    // replaced goes, the result says so, and the rest of the save proceeds.
    const Bytes multi = Fixture(L"iptc-multi.jpg", PxMarkerAPP13);
    Add(M(), PxMarkerAPP13, multi);
    Add(M(), PxMarkerAPP1, kExifHead + S("MM source"));
    Add(M(), PxMarkerAPP1, kXmpHead + S("<old/>"));
    const std::string big(70000, 'x');
    I().LoadFromBuffer(multi.data(), multi.size());
    I().AddItem(2, 120, static_cast<int32_t>(big.size()), big.data());
    P().HasEXIF = true;
    PxEXIFBlockBuilder = [](TIOParamsVals&, std::vector<uint8_t>& block) {
        block = kExifHead + Bytes(70000, 1);
        return true;
    };
    P().XMPInfo = std::string(65505, 'x');  // 29 + 65505 = 65534 bytes

    EXPECT_EQ(PxUpdateJPEGMetadata(P()), pxMetaIPTCDropped | pxMetaEXIFDropped | pxMetaXMPDropped);
    ExpectAllFit();
    ASSERT_EQ(M().GetCount(), 1);
    const Bytes app13 = Payload(M(), 0);
    EXPECT_TRUE(ItemsOf(app13).empty());
    EXPECT_EQ(Resources(app13), Without(Resources(multi), PxResourceIPTC));

    // The largest packet that fits.
    P().XMPInfo.pop_back();
    I().Clear();
    PxEXIFBlockBuilder = nullptr;
    EXPECT_EQ(PxUpdateJPEGMetadata(P()), 0u);
    ASSERT_EQ(M().GetCount(), 2);
    EXPECT_EQ(M().GetMarkerLength(1), PxMaxMarkerPayload);
}
