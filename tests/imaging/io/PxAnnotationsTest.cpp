// Image annotations: marks built in code are written in the annotation
// block layout (checked byte for byte for a line mark), read back with the
// same attributes, points, texts and embedded-image pixels; hand-made
// blocks with the long block header, unknown records and rescaled fonts
// parse; damaged blocks end with the marks read so far; the image
// parameters own and copy the list.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/metadata/PxAnnotations.h"
#include "imaging/model/PxBitmap.h"

using namespace imaging;

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutName(std::vector<uint8_t>& out, const char* name)
{
    char padded[8] = {};
    std::memcpy(padded, name, std::strlen(name));
    out.insert(out.end(), padded, padded + 8);
}

// A named-block record; LongHeader adds the 4 reserved bytes of format 0.
void PutBlock(std::vector<uint8_t>& out, uint32_t record, const char* name, const std::vector<uint8_t>& data,
              bool longHeader = false)
{
    Put32(out, record);
    Put32(out, 12);
    PutName(out, name);
    Put32(out, static_cast<uint32_t>(data.size()));
    if (longHeader) Put32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
}

std::vector<uint8_t> Text0(const std::string& s) { return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1); }

std::unique_ptr<TPxImagingObject> Mark(uint32_t type, uint8_t seed)
{
    auto mark = std::make_unique<TPxImagingObject>();
    for (size_t i = 0; i < mark->Attributes.size(); ++i) mark->Attributes[i] = static_cast<uint8_t>(seed + i * 7);
    mark->SetMarkType(type);
    return mark;
}

TPxAnnotPoint Pt(int32_t x, int32_t y) { return TPxAnnotPoint{x, y}; }

}  // namespace

TEST(PxAnnotations, EmptyListAndEmptyBuffer)
{
    TPxImagingAnnot list;
    EXPECT_TRUE(list.SaveToBuffer().empty());
    list.UserChanged = true;
    const uint8_t none = 0;
    list.LoadFromBuffer(&none, 0);
    EXPECT_TRUE(list.Objects.empty());
    EXPECT_TRUE(list.UserChanged) << "a length of 0 does nothing";
}

TEST(PxAnnotations, LineMarkBlockLayoutAndReadBack)
{
    TPxImagingAnnot list;
    auto line = Mark(3, 11);
    line->Points = {Pt(10, 20), Pt(-5, 300), Pt(70000, -1)};
    const auto attributes = line->Attributes;
    list.Objects.push_back(std::move(line));

    std::vector<uint8_t> expected;
    Put32(expected, 0);
    Put32(expected, 1);
    PutBlock(expected, 2, "OiGroup", Text0("0"));
    PutBlock(expected, 2, "OiIndex", Text0("1"));
    Put32(expected, 5);
    Put32(expected, 164);
    expected.insert(expected.end(), attributes.begin(), attributes.end());
    std::vector<uint8_t> points;
    for (uint32_t v : {3u, 3u, 10u, 20u, uint32_t(-5), 300u, 70000u, uint32_t(-1)}) Put32(points, v);
    PutBlock(expected, 6, "OiAnoDat", points);
    PutBlock(expected, 6, "OiGroup", Text0("0"));
    PutBlock(expected, 6, "OiIndex", Text0("0"));
    const std::vector<uint8_t> block = list.SaveToBuffer();
    EXPECT_EQ(block, expected);

    TPxImagingAnnot back;
    back.UserChanged = true;
    back.LoadFromBuffer(block.data(), static_cast<int64_t>(block.size()));
    EXPECT_FALSE(back.UserChanged);
    ASSERT_EQ(back.Objects.size(), 1u) << "the zeroed mark before the first record is no object";
    EXPECT_EQ(back.Objects[0]->Attributes, attributes);
    EXPECT_EQ(back.Objects[0]->Points, (std::vector<TPxAnnotPoint>{Pt(10, 20), Pt(-5, 300), Pt(70000, -1)}));
}

TEST(PxAnnotations, EveryMarkKindRoundTrips)
{
    TPxImagingAnnot list;
    auto line = Mark(4, 1);
    line->Points = {Pt(1, 2), Pt(3, 4)};
    list.Objects.push_back(std::move(line));

    auto text = Mark(7, 2);
    text->SetFontHeight(-27);
    text->Text = "Note: r\xE9sum\xE9";
    list.Objects.push_back(std::move(text));

    auto picture = Mark(1, 3);
    picture->Image = std::make_unique<TPxBitmap>(5, 3, px24RGB);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            picture->Image->SetPixelRGB(x, y, TPxRGB{uint8_t(x * 50), uint8_t(y * 100), uint8_t(x + 10 * y)});
    list.Objects.push_back(std::move(picture));

    list.Objects.push_back(Mark(12, 4));  // carried without data

    const std::vector<uint8_t> block = list.SaveToBuffer();
    TPxImagingAnnot back;
    back.LoadFromBuffer(block.data(), static_cast<int64_t>(block.size()));
    ASSERT_EQ(back.Objects.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(back.Objects[i]->Attributes, list.Objects[i]->Attributes) << i;
    EXPECT_EQ(back.Objects[0]->Points, list.Objects[0]->Points);
    EXPECT_EQ(back.Objects[1]->Text, "Note: r\xE9sum\xE9");
    EXPECT_EQ(back.Objects[1]->GetFontHeight(), -27) << "same screen resolution: height unchanged";
    TPxBitmap* image = back.Objects[2]->Image.get();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->GetWidth(), 5);
    ASSERT_EQ(image->GetHeight(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(image->GetPixelRGB(x, y), (TPxRGB{uint8_t(x * 50), uint8_t(y * 100), uint8_t(x + 10 * y)}))
                << x << "," << y;
    EXPECT_TRUE(back.Objects[3]->Points.empty() && back.Objects[3]->Text.empty() && !back.Objects[3]->Image);

    // Saving the read list again gives the same block.
    EXPECT_EQ(back.SaveToBuffer(), block);

    // Assign is a deep copy.
    TPxImagingAnnot copy;
    copy.Objects.push_back(Mark(3, 9));
    copy.Assign(&back);
    ASSERT_EQ(copy.Objects.size(), 4u);
    ASSERT_NE(copy.Objects[2]->Image.get(), back.Objects[2]->Image.get());
    EXPECT_EQ(copy.Objects[2]->Image->GetPixelRGB(4, 2), back.Objects[2]->Image->GetPixelRGB(4, 2));
    EXPECT_EQ(copy.SaveToBuffer(), block);
}

TEST(PxAnnotations, HandMadeBlockWithLongHeadersAndUnknownRecords)
{
    const int32_t dpiY = PxAnnotScreenDpiY();
    ASSERT_GT(dpiY, 0);
    std::vector<uint8_t> block;
    Put32(block, 0);
    Put32(block, 0);  // format word 0: named blocks carry 4 more bytes
    PutBlock(block, 2, "OiGroup", Text0("defaults"), true);
    Put32(block, 9);  // unknown record: passed over by its header only
    Put32(block, 1000);

    std::vector<uint8_t> attributes(164, 0);
    attributes[0] = 4;
    Put32(block, 5);
    Put32(block, 164);
    block.insert(block.end(), attributes.begin(), attributes.end());
    std::vector<uint8_t> points;
    for (uint32_t v : {8u, 2u, 5u, 6u, 7u, 8u}) Put32(points, v);  // capacity 8, two points
    PutBlock(block, 6, "OiAnoDat", {1, 2, 3}, true);                // replaced by the next one
    PutBlock(block, 6, "OiAnoDat", points, true);
    PutBlock(block, 6, "OiOther", {9, 9, 9, 9, 9}, true);

    // A text mark created at twice the screen's scale: the font height is
    // halved, 25 -> 12.5 -> 12 (halves to even).
    std::vector<uint8_t> textAttributes(164, 0);
    textAttributes[0] = 9;
    textAttributes[48] = 25;
    Put32(block, 5);
    Put32(block, 164);
    block.insert(block.end(), textAttributes.begin(), textAttributes.end());
    std::vector<uint8_t> text;
    Put32(text, 0);
    Put32(text, 1000);
    Put32(text, static_cast<uint32_t>(72000 / dpiY * 2));
    Put32(text, 5);
    for (char c : std::string("ab\0cd", 5)) text.push_back(static_cast<uint8_t>(c));
    text.push_back(0);
    PutBlock(block, 6, "OiAnText", text, true);

    TPxImagingAnnot list;
    list.LoadFromBuffer(block.data(), static_cast<int64_t>(block.size()));
    ASSERT_EQ(list.Objects.size(), 2u);
    EXPECT_EQ(list.Objects[0]->GetMarkType(), 4u);
    EXPECT_EQ(list.Objects[0]->Points, (std::vector<TPxAnnotPoint>{Pt(5, 6), Pt(7, 8)}));
    EXPECT_EQ(list.Objects[1]->Text, "ab");
    if (72000 % dpiY == 0) {
        EXPECT_EQ(list.Objects[1]->GetFontHeight(), 12);
    }
}

TEST(PxAnnotations, DamagedBlocksKeepTheMarksReadSoFar)
{
    TPxImagingAnnot list;
    for (uint32_t type : {3u, 7u, 3u}) {
        auto mark = Mark(type, static_cast<uint8_t>(type));
        mark->Points = {Pt(1, 1), Pt(2, 2)};
        mark->Text = "text";
        list.Objects.push_back(std::move(mark));
    }
    const std::vector<uint8_t> block = list.SaveToBuffer();

    // Every truncation: no more marks than written, and those read intact.
    size_t previous = 0;
    for (size_t cut = 0; cut <= block.size(); ++cut) {
        std::vector<uint8_t> part(block.begin(), block.begin() + static_cast<ptrdiff_t>(cut));
        TPxImagingAnnot back;
        back.LoadFromBuffer(part.data(), static_cast<int64_t>(part.size()));
        ASSERT_LE(back.Objects.size(), 3u);
        ASSERT_GE(back.Objects.size(), previous) << "cut " << cut;
        previous = back.Objects.size();
        for (size_t i = 0; i < back.Objects.size(); ++i)
            ASSERT_EQ(back.Objects[i]->Attributes, list.Objects[i]->Attributes) << "cut " << cut;
    }
    EXPECT_EQ(previous, 3u);

    // A point list that declares more points than it holds ends the parse:
    // the first mark stays, the damaged one and those after it do not.
    std::vector<uint8_t> damaged = block;
    const uint8_t name[8] = {'O', 'i', 'A', 'n', 'o', 'D', 'a', 't'};
    auto second = std::search(damaged.begin() + 1 + (std::search(damaged.begin(), damaged.end(), name, name + 8) -
                                                      damaged.begin()),
                              damaged.end(), name, name + 8);
    ASSERT_NE(second, damaged.end());
    const size_t countAt = static_cast<size_t>(second - damaged.begin()) + 8 + 4 + 4;
    damaged[countAt] = 0xFF;
    damaged[countAt + 3] = 0x7F;
    TPxImagingAnnot back;
    back.LoadFromBuffer(damaged.data(), static_cast<int64_t>(damaged.size()));
    ASSERT_EQ(back.Objects.size(), 2u);
    EXPECT_EQ(back.Objects[1]->Text, "text");

    // Random bytes after a valid header parse without harm.
    std::mt19937 random(3);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> noise(8 + random() % 400);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random() % 3 == 0 ? random() % 8 : random());
        TPxImagingAnnot junk;
        junk.LoadFromBuffer(noise.data(), static_cast<int64_t>(noise.size()));
        for (const auto& mark : junk.Objects) ASSERT_GE(mark->GetMarkType(), 1u);
    }
}

TEST(PxAnnotations, OwnedAndCopiedByTheImageParameters)
{
    TIOParamsVals params(nullptr);
    TPxImagingAnnot* annot = params.GetImagingAnnot();
    ASSERT_NE(annot, nullptr);
    EXPECT_EQ(annot->Parent, &params);
    EXPECT_EQ(params.GetImagingAnnot(), annot);
    annot->Objects.push_back(Mark(3, 5));

    TIOParamsVals other(nullptr);
    other.Assign(&params);
    ASSERT_NE(other.ImagingAnnot, nullptr);
    EXPECT_EQ(other.ImagingAnnot->Parent, &other);
    ASSERT_EQ(other.ImagingAnnot->Objects.size(), 1u);
    EXPECT_EQ(other.ImagingAnnot->Objects[0]->Attributes, annot->Objects[0]->Attributes);

    params.ClearInfo();
    EXPECT_TRUE(params.ImagingAnnot == nullptr || params.ImagingAnnot->Objects.empty());
}
