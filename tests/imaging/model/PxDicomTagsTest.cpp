// DICOM tag list: value representations, data ownership and copies.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "imaging/model/PxDicomTags.h"

using namespace imaging;

namespace {

std::unique_ptr<uint8_t[]> Block(const std::string& text)
{
    auto p = std::make_unique<uint8_t[]>(text.size() + 1);
    std::memcpy(p.get(), text.data(), text.size());
    p[text.size()] = 0;
    return p;
}

}  // namespace

TEST(PxDICOMTags, AddKeepsRecordsAndValueRepresentations)
{
    TPxDICOMTags tags;
    EXPECT_EQ(tags.AddTag(0x0028, 0x0010, 2, Block(std::string("\x00\x02", 2)), "US"), 0);
    EXPECT_EQ(tags.AddTag(0x0010, 0x0010, 8, Block("DOE^JOHN"), ""), 1);
    EXPECT_EQ(tags.AddTag(0x7FE0, 0x0010, -1, Block("x"), "OBX"), 2);
    EXPECT_EQ(tags.AddTag(0x0008, 0x0060, 4, nullptr, "CS"), 3);
    ASSERT_EQ(tags.GetCount(), 4);

    const TPxDICOMTag* us = tags.GetTag(0);
    EXPECT_EQ(us->Group, 0x0028);
    EXPECT_EQ(us->Element, 0x0010);
    EXPECT_EQ(us->VR[0], 'U');
    EXPECT_EQ(us->VR[1], 'S');
    EXPECT_EQ(us->DataLength, 2);

    const TPxDICOMTag* name = tags.GetTag(1);
    EXPECT_EQ(name->VR[0], 0);  // no value representation given
    EXPECT_EQ(name->VR[1], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(name->Data.get()), "DOE^JOHN");

    // A negative length, or a length without data, stores no data; a value
    // representation of another length than 2 is not stored.
    for (int i : {2, 3}) {
        EXPECT_EQ(tags.GetTag(i)->Data, nullptr) << i;
        EXPECT_EQ(tags.GetTag(i)->DataLength, 0) << i;
    }
    EXPECT_EQ(tags.GetTag(2)->VR[0], 0);
    EXPECT_EQ(tags.GetTag(3)->VR[0], 'C');
    EXPECT_EQ(tags.GetTag(4), nullptr);
    EXPECT_EQ(tags.GetTag(-1), nullptr);

    tags.Clear();
    EXPECT_EQ(tags.GetCount(), 0);
}

TEST(PxDICOMTags, AssignCopiesDataThatOutlivesTheSource)
{
    TPxDICOMTags copy;
    copy.AddTag(1, 1, 1, Block("z"), "ZZ");
    {
        auto source = std::make_unique<TPxDICOMTags>();
        source->AddTag(0x0010, 0x0020, 5, Block("12345"), "LO");
        source->AddTag(0x0010, 0x0030, 0, nullptr, "DA");
        copy.Assign(source.get());
        // The copy owns its own blocks.
        EXPECT_NE(copy.GetTag(0)->Data.get(), source->GetTag(0)->Data.get());
    }
    ASSERT_EQ(copy.GetCount(), 2);  // the previous content is gone
    const TPxDICOMTag* id = copy.GetTag(0);
    EXPECT_EQ(id->Group, 0x0010);
    EXPECT_EQ(id->Element, 0x0020);
    EXPECT_EQ(id->VR[0], 'L');
    EXPECT_EQ(id->DataLength, 5);
    EXPECT_STREQ(reinterpret_cast<const char*>(id->Data.get()), "12345");
    EXPECT_EQ(copy.GetTag(1)->Data, nullptr);
    EXPECT_EQ(copy.GetTag(1)->VR[1], 'A');
}
