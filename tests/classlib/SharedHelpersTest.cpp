// The byte-order helpers and the scope guards of the class library.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "classlib/ByteOrder.h"
#include "classlib/ScopeGuard.h"

using namespace classlib;

TEST(ByteOrder, ReadsAndWritesBothOrders)
{
    const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0xF8};
    EXPECT_EQ(GetLE16(bytes), 0x3412u);
    EXPECT_EQ(GetBE16(bytes), 0x1234u);
    EXPECT_EQ(GetLE32(bytes), 0xF8563412u);  // the top bit set stays unsigned
    EXPECT_EQ(GetBE32(bytes), 0x123456F8u);
    EXPECT_EQ(GetU32(bytes, true), GetLE32(bytes));
    EXPECT_EQ(GetU16(bytes, false), GetBE16(bytes));

    for (bool little : {true, false}) {
        uint8_t out[6] = {0, 0, 0, 0, 0xAA, 0xAA};
        PutU32(out, 0xF8563412u, little);
        EXPECT_EQ(GetU32(out, little), 0xF8563412u) << little;
        PutU16(out, 0x1ABCDu, little);  // only the low 16 bits
        EXPECT_EQ(GetU16(out, little), 0xABCDu) << little;
        EXPECT_EQ(out[4], 0xAA);  // nothing written past the value
    }
    uint8_t le[4], be[4];
    PutLE32(le, 0x01020304u);
    PutBE32(be, 0x01020304u);
    EXPECT_EQ(le[0], 4);
    EXPECT_EQ(be[0], 1);
}

TEST(ScopeGuard, RestoresAndRunsOnEveryWayOut)
{
    std::wstring text = L"old";
    int runs = 0;
    auto body = [&](bool raise) {
        TValueScope<std::wstring> value(text, L"new");
        TOnExit count([&runs] { ++runs; });
        EXPECT_EQ(text, L"new");
        if (raise)
            throw std::runtime_error("raised");
    };
    body(false);
    EXPECT_EQ(text, L"old");
    EXPECT_EQ(runs, 1);
    EXPECT_THROW(body(true), std::runtime_error);
    EXPECT_EQ(text, L"old");
    EXPECT_EQ(runs, 2);

    // Nested scopes on one variable unwind in order.
    bool flag = false;
    {
        TValueScope outer(flag, true);
        {
            TValueScope inner(flag, false);
            EXPECT_FALSE(flag);
        }
        EXPECT_TRUE(flag);
    }
    EXPECT_FALSE(flag);
}
