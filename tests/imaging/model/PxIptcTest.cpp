// IPTC list: the blocks it writes, reading blocks written by exiftool and by
// itself, bounded lengths of malformed blocks, and the Photoshop resource
// parser under it.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxJpegSegmentsTestSupport.h"

using namespace imaging;

namespace {

using Bytes = std::vector<uint8_t>;
using Item = std::tuple<int32_t, int32_t, std::string>;  // record, dataset, data

Bytes B(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

Bytes Cat(Bytes a, const std::string& s)
{
    a.insert(a.end(), s.begin(), s.end());
    return a;
}

// A literal with its embedded zero bytes (without the terminating one).
template <size_t N>
Bytes Cat(Bytes a, const char (&s)[N])
{
    return Cat(std::move(a), std::string(s, N - 1));
}

std::vector<Item> Items(const TPxIPTCInfoList& list)
{
    std::vector<Item> out;
    for (int i = 0; i < list.GetCount(); ++i) {
        const auto* p = reinterpret_cast<const char*>(list.GetItemData(i));
        out.emplace_back(list.GetRecordNumber(i), list.GetDataSet(i),
                         p ? std::string(p, static_cast<size_t>(list.GetItemLength(i))) : std::string());
    }
    return out;
}

void AddText(TPxIPTCInfoList& list, int32_t record, int32_t dataSet, const std::string& text)
{
    list.AddItem(record, dataSet, static_cast<int32_t>(text.size()), text.data());
}

Bytes FixtureAPP13(const wchar_t* name)
{
    return testsupport::FirstSegment(testsupport::ReadJpegSegments(L"io\\jpeg-meta", name), 0xED);
}

const std::string kVersion4("\0\4", 2);

}  // namespace

TEST(PxIPTCInfoList, SaveToBufferWritesTheBlockLayout)
{
    TPxIPTCInfoList list;
    EXPECT_TRUE(list.SaveToBuffer(true).empty());
    AddText(list, 2, 5, "abc");

    EXPECT_EQ(list.SaveToBuffer(false), B({0x1C, 2, 0, 0, 2, 0, 2, 0x1C, 2, 5, 0, 3, 'a', 'b', 'c', 0}));
    EXPECT_EQ(list.SaveToBuffer(true),
              Cat(B({}), std::string("Photoshop 3.0\0" "8BIM\4\4\0\0\0\0\0\x08" "\x1C\x02\x05\x00\x03" "abc", 34)));

    // The record version and empty items are not written; the header's
    // length counts the datasets without the padding byte.
    AddText(list, 2, 0, kVersion4);
    list.AddItem(2, 25, 0, nullptr);
    AddText(list, 2, 25, "sail");
    const Bytes padded = list.SaveToBuffer(true);
    ASSERT_EQ(padded.size(), 26u + 8 + 9 + 1);
    EXPECT_EQ(Bytes(padded.begin() + 22, padded.begin() + 26), B({0, 0, 0, 17}));
    EXPECT_EQ(padded.back(), 0);
}

TEST(PxIPTCInfoList, LongDatasetsUseTheExtendedLength)
{
    TPxIPTCInfoList list;
    const std::string big(40000, 'q');
    AddText(list, 2, 120, big);
    AddText(list, 2, 5, "after");
    const Bytes block = list.SaveToBuffer(false);
    EXPECT_EQ(Bytes(block.begin() + 7, block.begin() + 16), B({0x1C, 2, 120, 0x80, 0x04, 0, 0, 0x9C, 0x40}));

    TPxIPTCInfoList back;
    ASSERT_TRUE(back.LoadFromBuffer(block.data(), block.size()));
    EXPECT_EQ(Items(back), (std::vector<Item>{{2, 0, std::string("\0\2", 2)}, {2, 120, big}, {2, 5, "after"}}));
}

TEST(PxIPTCInfoList, ReadsBlocksWrittenByExiftool)
{
    struct Case {
        const wchar_t* File;
        std::vector<Item> Expected;
    } cases[] = {
        // IPTC is the first of four resources.
        {L"iptc-multi.jpg",
         {{2, 5, "Harbour"}, {2, 25, "boat"}, {2, 25, "sea"}, {2, 80, "Ana Sousa"}, {2, 120, "Boats at dawn"},
          {2, 0, kVersion4}}},
        // IPTC follows a resolution record; its size field (0x1C) holds the
        // tag byte value, which a scan for the first 0x1C would stop at.
        {L"photoshop-res.jpg", {{2, 5, "Harbour"}, {2, 25, "boat"}, {2, 0, kVersion4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.File, c.File + wcslen(c.File)));
        const Bytes app13 = FixtureAPP13(c.File);
        ASSERT_FALSE(app13.empty());
        TPxIPTCInfoList list;
        list.UserChanged = true;
        ASSERT_TRUE(list.LoadFromBuffer(app13.data(), app13.size()));
        EXPECT_EQ(Items(list), c.Expected);
        EXPECT_FALSE(list.UserChanged);

        // Written back with and without the header, the same datasets return
        // (the record version is written only in the short form's own header).
        std::vector<Item> written(c.Expected.begin(), c.Expected.end() - 1);
        for (bool header : {true, false}) {
            const Bytes block = list.SaveToBuffer(header);
            TPxIPTCInfoList back;
            ASSERT_TRUE(back.LoadFromBuffer(block.data(), block.size()));
            std::vector<Item> expected = written;
            if (!header) expected.insert(expected.begin(), Item{2, 0, std::string("\0\2", 2)});
            EXPECT_EQ(Items(back), expected);
        }
    }
}

TEST(PxIPTCInfoList, MalformedBlocksEndAtTheLastCompleteDataset)
{
    const Bytes good = B({0x1C, 2, 5, 0, 3, 'a', 'b', 'c'});
    struct Case {
        const char* Name;
        Bytes Block;
        std::vector<Item> Expected;
    } cases[] = {
        {"leading junk and a run of tags", Cat(B({0, 7, 0x1C, 0x1C}), "\x02\x05\x00\x02xy"), {{2, 5, "xy"}}},
        {"dataset cut short", Cat(good, "\x1C\x02\x19\x00\x09short"), {{2, 5, "abc"}}},
        // 0xFFFFFFFF used to count as -1, read as a 1-byte dataset.
        {"extended length beyond the data", Cat(good, "\x1C\x02\x78\x80\x04\xFF\xFF\xFF\xFFxyz"), {{2, 5, "abc"}}},
        {"extended length 0x80000005", Cat(good, "\x1C\x02\x78\x80\x04\x80\x00\x00\x05xyzzy"), {{2, 5, "abc"}}},
        {"extended length bytes missing", Cat(good, "\x1C\x02\x78\x80\x04\x00"), {{2, 5, "abc"}}},
        {"extended length of two bytes", Cat(good, "\x1C\x02\x78\x80\x02\x00\x03xyz"), {{2, 5, "abc"}, {2, 120, "xyz"}}},
        {"extended length of nine bytes", Cat(good, "\x1C\x02\x78\x80\x09\x00\x00\x00\x00\x00"), {{2, 5, "abc"}}},
        {"other byte after a dataset", Cat(good, "\x1D\x02\x05\x00\x01z"), {{2, 5, "abc"}}},
        {"five bytes left", Cat(good, std::string("\x1C\x02\x05\x00\x00", 5)), {{2, 5, "abc"}}},
        {"no tag byte", B({1, 2, 3, 4, 5, 6, 7}), {}},
        // A Photoshop block without an IPTC resource has no datasets, even
        // when another resource holds the tag byte.
        {"Photoshop block without IPTC",
         Cat(B({}), std::string("Photoshop 3.0\0008BIM\x04\x0B\0\0\0\0\0\x08\x1C\x02\x05\x00\x03" "abc", 34)),
         {}},
        {"Photoshop IPTC resource bounded by its size",
         Cat(B({}), std::string("Photoshop 3.0\0008BIM\x04\x04\0\0\0\0\0\x08\x1C\x02\x05\x00\x03" "abc"
                                "8BIM\x04\x0B\0\0\0\0\0\x08\x1C\x02\x06\x00\x03" "def",
                                54)),
         {{2, 5, "abc"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxIPTCInfoList list;
        AddText(list, 9, 9, "previous");
        EXPECT_EQ(list.LoadFromBuffer(c.Block.data(), c.Block.size()), !c.Expected.empty());
        EXPECT_EQ(Items(list), c.Expected);
        EXPECT_FALSE(list.UserChanged);
    }
    TPxIPTCInfoList list;
    EXPECT_FALSE(list.LoadFromBuffer(good.data(), 0));
    EXPECT_FALSE(list.LoadFromBuffer(nullptr, 8));
}

TEST(PxIPTCInfoList, ChangesMarkTheListAndCopiesOwnTheirData)
{
    TPxIPTCInfoList source;
    EXPECT_FALSE(source.UserChanged);
    EXPECT_EQ(source.AddItem(2, 5, 3, "abc"), 0);
    EXPECT_TRUE(source.UserChanged);

    TPxIPTCInfoList copy;
    copy.Assign(&source);
    EXPECT_TRUE(copy.UserChanged);
    source.Clear();
    EXPECT_TRUE(source.UserChanged);
    EXPECT_EQ(Items(copy), (std::vector<Item>{{2, 5, "abc"}}));
    copy.Assign(nullptr);
    EXPECT_EQ(copy.GetCount(), 1);
    EXPECT_THROW(copy.GetDataSet(1), classlib::EListError);
}

TEST(PxPhotoshopResources, ParsesNamesSizesAndPadding)
{
    const Bytes app13 = FixtureAPP13(L"iptc-multi.jpg");
    bool complete = false;
    const auto resources = PxParsePhotoshopResources(app13.data(), app13.size(), &complete);
    EXPECT_TRUE(complete);
    std::vector<std::pair<uint16_t, size_t>> found;
    for (const auto& r : resources)
        found.emplace_back(r.Id, r.DataSize);
    EXPECT_EQ(found, (std::vector<std::pair<uint16_t, size_t>>{{0x0404, 68}, {0x040A, 1}, {0x040B, 19}, {0x0425, 16}}));

    // A name of three characters takes four bytes; a truncated block stops
    // before the resource that runs past its end.
    const std::string named("Photoshop 3.0\0008BIM\x03\xED\x03" "abc\0\0\0\x02xy8BIM\x04\x04\0\0\0\0\0\x09short", 47);
    const auto r2 = PxParsePhotoshopResources(reinterpret_cast<const uint8_t*>(named.data()), named.size(), &complete);
    EXPECT_FALSE(complete);
    ASSERT_EQ(r2.size(), 1u);
    EXPECT_EQ(r2[0].NameSize, 4u);
    EXPECT_EQ(r2[0].DataOffset, 14u + 6 + 4 + 4);
    EXPECT_EQ(r2[0].End, r2[0].DataOffset + 2);
    EXPECT_TRUE(PxParsePhotoshopResources(reinterpret_cast<const uint8_t*>("Adobe_CM"), 8).empty());
}
