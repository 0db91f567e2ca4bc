#include <windows.h>

#include <gtest/gtest.h>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "imaging/model/PxOwnerWindow.h"

using namespace classlib;
using imaging::PxFindOwnerWindow;

namespace {

// A hidden top-level window of plain Win32 for control windows to live in.
class THiddenHost {
public:
    THiddenHost()
    {
        wnd_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    }
    ~THiddenHost() { ::DestroyWindow(wnd_); }
    HWND Get() const { return wnd_; }

private:
    HWND wnd_;
};

}  // namespace

TEST(PxOwnerWindow, FirstWindowedControlOfTheOwnerChain)
{
    THiddenHost host;
    ASSERT_NE(host.Get(), nullptr);
    EXPECT_EQ(PxFindOwnerWindow(nullptr), nullptr);

    // outer (window control) owns inner (window control) owns middle owns leaf.
    TWinControl outer(nullptr);
    outer.SetParentWindow(host.Get());
    auto* inner = new TWinControl(&outer);
    inner->SetParent(&outer);
    auto* middle = new TComponent(inner);
    auto* leaf = new TComponent(middle);
    TComponent loose(nullptr);

    EXPECT_EQ(PxFindOwnerWindow(&loose), nullptr);

    // No window yet: 0, and none is made by asking.
    EXPECT_EQ(PxFindOwnerWindow(leaf), nullptr);
    EXPECT_FALSE(inner->HandleAllocated());

    // The first windowed control decides even when a later one has a window.
    outer.HandleNeeded();
    inner->DestroyHandle();
    EXPECT_EQ(PxFindOwnerWindow(leaf), nullptr);
    EXPECT_EQ(PxFindOwnerWindow(&outer), outer.GetHandle());

    inner->HandleNeeded();
    EXPECT_EQ(PxFindOwnerWindow(leaf), inner->GetHandle());
    EXPECT_EQ(PxFindOwnerWindow(middle), inner->GetHandle());
    // The component itself is the start of its chain.
    EXPECT_EQ(PxFindOwnerWindow(inner), inner->GetHandle());

    // A plain component owned by the outer control only.
    auto* sibling = new TComponent(&outer);
    EXPECT_EQ(PxFindOwnerWindow(sibling), outer.GetHandle());
}
