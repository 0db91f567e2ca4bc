#include "classlib/StreamRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/Streams.h"

using namespace classlib;
using namespace classlib::streamrec;

TEST(StreamRecordsTest, FieldsReadBackAsWritten)
{
    TMemoryStream m;
    Put<int32_t>(&m, -7);
    Put<double>(&m, 2.5);
    PutString(&m, "name");
    PutString(&m, "");
    PutWideString(&m, L"D\u00e9sc");
    PutWideString(&m, L"");
    // The layout: the int32 length, then the bytes or UTF-16 units.
    ASSERT_EQ(m.GetSize(), 4 + 8 + (4 + 4) + 4 + (4 + 8) + 4);
    int32_t length = 0;
    std::memcpy(&length, static_cast<const uint8_t*>(m.GetMemory()) + 12, 4);
    EXPECT_EQ(length, 4);
    m.SetPosition(0);
    EXPECT_EQ(Get<int32_t>(&m), -7);
    EXPECT_EQ(Get<double>(&m), 2.5);
    EXPECT_EQ(GetString(&m), "name");
    EXPECT_EQ(GetString(&m), "");
    EXPECT_EQ(GetWideString(&m), L"D\u00e9sc");
    EXPECT_EQ(GetWideString(&m), L"");
    EXPECT_EQ(m.GetPosition(), m.GetSize());
}

TEST(StreamRecordsTest, CountsThatDoNotFitWhatIsLeftAreRefused)
{
    struct TCase {
        const char* Name;
        int32_t Count;
        int64_t UnitSize;
        int Tail;  // bytes after the count
        bool Ok;
    };
    const TCase cases[] = {
        {"exactly what is left", 3, 2, 6, true},
        {"none", 0, 4, 0, true},
        {"one unit too many", 4, 2, 7, false},
        {"negative", -1, 1, 8, false},
        {"product beyond 32 bits", 0x40000000, 16, 8, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryStream m;
        Put<int32_t>(&m, c.Count);
        const std::vector<uint8_t> tail(static_cast<size_t>(c.Tail), 0);
        if (c.Tail > 0) m.WriteBuffer(tail.data(), c.Tail);
        m.SetPosition(0);
        if (c.Ok)
            EXPECT_EQ(GetCount(&m, c.UnitSize), c.Count);
        else
            EXPECT_THROW(GetCount(&m, c.UnitSize), EReadError);
    }
    // A text whose length runs past the end fails before reading.
    TMemoryStream m;
    Put<int32_t>(&m, 100);
    m.WriteBuffer("abc", 3);
    m.SetPosition(0);
    EXPECT_THROW(GetString(&m), EReadError);
    m.SetPosition(0);
    EXPECT_THROW(GetWideString(&m), EReadError);
}
