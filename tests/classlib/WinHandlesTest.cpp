#include <gtest/gtest.h>

#include <cstring>

#include "classlib/WinHandles.h"

using namespace classlib;

namespace {

// A two-entry palette the test owns.
HPALETTE NewPalette()
{
    struct {
        WORD Version = 0x300;
        WORD Count = 2;
        PALETTEENTRY Entries[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    } log;
    return ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
}

TEST(WinHandles, DCStateScopesRestoreWhatTheyChanged)
{
    TOwnedDC dc(::CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    ::SetTextAlign(dc.Get(), TA_LEFT | TA_TOP);
    ::SetTextColor(dc.Get(), RGB(1, 2, 3));
    ::SetBkColor(dc.Get(), RGB(4, 5, 6));
    const HGDIOBJ stockPalette = ::GetCurrentObject(dc.Get(), OBJ_PAL);
    TOwnedPalette palette(NewPalette());
    ASSERT_TRUE(palette);
    {
        const TTextAlignScope align(dc.Get(), TA_CENTER | TA_BASELINE);
        const TTextColorsScope colors(dc.Get(), RGB(10, 20, 30), RGB(40, 50, 60));
        const TSelectPaletteScope pal(dc.Get(), palette.Get());
        EXPECT_EQ(::GetTextAlign(dc.Get()), UINT(TA_CENTER | TA_BASELINE));
        EXPECT_EQ(::GetTextColor(dc.Get()), RGB(10, 20, 30));
        EXPECT_EQ(::GetBkColor(dc.Get()), RGB(40, 50, 60));
        EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_PAL), palette.Get());
    }
    EXPECT_EQ(::GetTextAlign(dc.Get()), UINT(TA_LEFT | TA_TOP));
    EXPECT_EQ(::GetTextColor(dc.Get()), RGB(1, 2, 3));
    EXPECT_EQ(::GetBkColor(dc.Get()), RGB(4, 5, 6));
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_PAL), stockPalette);
}

TEST(WinHandles, SelectionReportsWhatItReplacedAndPutsItBack)
{
    TOwnedDC dc(::CreateCompatibleDC(nullptr));
    TOwnedBitmap first(::CreateBitmap(2, 2, 1, 1, nullptr)), second(::CreateBitmap(2, 2, 1, 1, nullptr));
    ASSERT_TRUE(dc && first && second);
    const TSelectObjectScope outer(dc.Get(), first.Get());
    {
        const TSelectObjectScope inner(dc.Get(), second.Get());
        EXPECT_EQ(inner.Previous(), first.Get());
        EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), second.Get());
        const TSelectObjectScope none(dc.Get(), nullptr);  // selects nothing
        EXPECT_EQ(none.Previous(), nullptr);
        EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), second.Get());
    }
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), first.Get());
}

TEST(WinHandles, ErrorModeScopeRestoresOnlyWhenActive)
{
    const UINT before = ::SetErrorMode(0);
    {
        const TErrorModeScope scope(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        EXPECT_EQ(::GetErrorMode(), UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
        {
            const TErrorModeScope inactive(0, false);
            EXPECT_EQ(::GetErrorMode(), UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
        }
        EXPECT_EQ(::GetErrorMode(), UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    }
    EXPECT_EQ(::GetErrorMode(), 0u);
    ::SetErrorMode(before);
}

TEST(WinHandles, GlobalBlockLockedForTheScopeAndHandedOverByRelease)
{
    TOwnedGlobal block(::GlobalAlloc(GMEM_MOVEABLE, 4));
    ASSERT_TRUE(block);
    {
        const TGlobalLockScope lock(block.Get());
        ASSERT_NE(lock.Data(), nullptr);
        std::memcpy(lock.Data(), "abc", 4);
        EXPECT_EQ(::GlobalFlags(block.Get()) & GMEM_LOCKCOUNT, 1u);
    }
    EXPECT_EQ(::GlobalFlags(block.Get()) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(TGlobalLockScope(nullptr).Data(), nullptr);
    const HGLOBAL taken = block.Release();
    EXPECT_FALSE(block);
    {
        const TGlobalLockScope lock(taken);
        EXPECT_STREQ(static_cast<const char*>(lock.Data()), "abc");  // still alive: Release freed nothing
    }
    EXPECT_EQ(::GlobalFree(taken), nullptr);
}

}  // namespace
