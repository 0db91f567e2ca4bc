// JPEG marker list: editing, the one-marker payload limit, copies and the
// order in which markers are written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/model/PxJpegMarkers.h"

using namespace imaging;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

int Add(TPxMarkerList& list, uint8_t type, const std::string& payload)
{
    return list.AddMarker(type, payload.data(), static_cast<int32_t>(payload.size()));
}

std::string Payload(const TPxMarkerList& list, int i)
{
    const uint8_t* p = list.GetMarkerData(i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(list.GetMarkerLength(i))) : "";
}

std::string IccChunk(int number, int count)
{
    std::string s("ICC_PROFILE", 12);  // with its zero
    s += static_cast<char>(number);
    s += static_cast<char>(count);
    s += "chunk" + std::to_string(number);
    return s;
}

const std::string kExif("Exif\0\0MM", 8);
const std::string kXmp = std::string("http://ns.adobe.com/xap/1.0/", 29) + "<x:xmpmeta/>";

}  // namespace

TEST(PxMarkerList, AddSetDeleteAndLookUp)
{
    TPxMarkerList list;
    EXPECT_EQ(list.IndexOf(PxMarkerAPP1), -1);
    EXPECT_EQ(Add(list, PxMarkerCOM, "hello"), 0);
    EXPECT_EQ(Add(list, PxMarkerAPP1, kExif), 1);
    EXPECT_EQ(Add(list, PxMarkerAPP1, kXmp), 2);
    EXPECT_EQ(list.AddMarker(PxMarkerAPP13, nullptr, 0), 3);  // an empty payload is a valid marker
    ASSERT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.GetMarkerType(0), PxMarkerCOM);
    EXPECT_EQ(Payload(list, 0), "hello");
    EXPECT_EQ(list.GetMarkerLength(3), 0);
    EXPECT_EQ(list.IndexOf(PxMarkerAPP1), 1);

    // SetMarker may be handed the marker's own payload.
    EXPECT_TRUE(list.SetMarker(1, PxMarkerAPP2, 4, list.GetMarkerData(1)));
    EXPECT_EQ(list.GetMarkerType(1), PxMarkerAPP2);
    EXPECT_EQ(Payload(list, 1), "Exif");
    EXPECT_EQ(list.IndexOf(PxMarkerAPP1), 2);

    list.DeleteMarker(0);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(Payload(list, 0), "Exif");
    EXPECT_THROW(list.DeleteMarker(3), classlib::EListError);
    EXPECT_THROW(list.GetMarkerType(-1), classlib::EListError);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(PxMarkerList, PayloadsThatDoNotFitOneMarkerAreRefused)
{
    // The length field counts its own two bytes: 65533 payload bytes at most.
    // Longer payloads used to be stored modulo 65536 (a 70000-byte block kept
    // as 4464 bytes) or to overflow the length field when written.
    struct Case {
        int32_t Length;
        bool Fits;
    } cases[] = {{0, true}, {1, true}, {65533, true}, {65534, false}, {65535, false}, {65536, false},
                 {70000, false}, {-1, false}};
    const std::vector<uint8_t> big(70000, 0x5A);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Length);
        TPxMarkerList list;
        EXPECT_EQ(list.AddMarker(PxMarkerAPP1, big.data(), c.Length), c.Fits ? 0 : -1);
        EXPECT_EQ(list.GetCount(), c.Fits ? 1 : 0);
        if (c.Fits) {
            EXPECT_EQ(list.GetMarkerLength(0), c.Length);
        }

        ASSERT_EQ(Add(list, PxMarkerCOM, "old"), c.Fits ? 1 : 0);
        const int i = list.GetCount() - 1;
        EXPECT_EQ(list.SetMarker(i, PxMarkerAPP2, c.Length, big.data()), c.Fits);
        if (!c.Fits) {
            EXPECT_EQ(list.GetMarkerType(i), PxMarkerCOM);
            EXPECT_EQ(Payload(list, i), "old");
        }
    }
    TPxMarkerList list;
    EXPECT_EQ(list.AddMarker(PxMarkerCOM, nullptr, 5), -1);
}

TEST(PxMarkerList, AssignCopiesEveryMarkerInOrder)
{
    TPxMarkerList source;
    Add(source, PxMarkerAPP13, "Photoshop 3.0");
    Add(source, PxMarkerAPP1, kXmp);
    Add(source, PxMarkerAPP1, kExif);

    TPxMarkerList copy;
    Add(copy, PxMarkerCOM, "to be replaced");
    copy.Assign(&source);
    source.SetMarker(0, PxMarkerCOM, 1, "x");  // the copy owns its payloads
    ASSERT_EQ(copy.GetCount(), 3);
    EXPECT_EQ(copy.GetMarkerType(0), PxMarkerAPP13);
    EXPECT_EQ(Payload(copy, 0), "Photoshop 3.0");
    EXPECT_EQ(Payload(copy, 1), kXmp);
    EXPECT_EQ(Payload(copy, 2), kExif);

    copy.Assign(nullptr);
    copy.Assign(&copy);
    EXPECT_EQ(copy.GetCount(), 3);
}

TEST(PxMarkerList, SortOrdersMarkersForWriting)
{
    TPxMarkerList list;
    Add(list, PxMarkerCOM, "comment");
    Add(list, PxMarkerAPP2, IccChunk(3, 3));
    Add(list, PxMarkerAPP1, kXmp);
    Add(list, PxMarkerAPP13, "Photoshop 3.0");
    Add(list, PxMarkerAPP2, IccChunk(1, 3));
    Add(list, PxMarkerAPP1, kExif);
    Add(list, PxMarkerAPP2, IccChunk(2, 3));
    Add(list, PxMarkerAPP0, "JFXX");
    list.Sort();

    const std::vector<std::pair<uint8_t, std::string>> expected = {
        {PxMarkerAPP0, "JFXX"},          {PxMarkerAPP1, kExif},          {PxMarkerAPP1, kXmp},
        {PxMarkerAPP2, IccChunk(1, 3)},  {PxMarkerAPP2, IccChunk(2, 3)}, {PxMarkerAPP2, IccChunk(3, 3)},
        {PxMarkerAPP13, "Photoshop 3.0"}, {PxMarkerCOM, "comment"}};
    ASSERT_EQ(list.GetCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < list.GetCount(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.GetMarkerType(i), expected[static_cast<size_t>(i)].first);
        EXPECT_EQ(Payload(list, i), expected[static_cast<size_t>(i)].second);
    }
}

TEST(PxMarkerList, ExifMarkerIsTheFirstAPP1WithZeroTerminatedExif)
{
    TPxMarkerList list;
    Add(list, PxMarkerAPP2, kExif);               // not APP1
    Add(list, PxMarkerAPP1, "Exif");              // no zero byte
    Add(list, PxMarkerAPP1, kExif + "first");
    Add(list, PxMarkerAPP1, kExif + "second");
    EXPECT_EQ(PxIndexOfEXIFMarker(list), 2);
    PxDeleteEXIFMarker(&list);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(Payload(list, 2), kExif + "second");
    PxDeleteEXIFMarker(nullptr);
    EXPECT_FALSE(PxIsEXIFPayload(Bytes("Exif").data(), 4));
}
