// The per-thread window hooks: platform hooks shared by reference counts,
// codes fixed by a procedure's first registration, and dispatch that
// survives failing procedures and procedures that unregister others (or
// everything) while they are called.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "classlib/Forms.h"
#include "controls/toolbar/MbHook.h"

namespace {

using namespace toolbar;

int gCallsA = 0, gCallsB = 0, gCallsC = 0;
int gLastCodeA = -1;
const void* gToDrop = nullptr;
TMbHookProc gDropProc = nullptr;

void ProcA(int Code, HWND, WPARAM, LPARAM)
{
    ++gCallsA;
    gLastCodeA = Code;
}
void ProcThrows(int, HWND, WPARAM, LPARAM) { throw std::runtime_error("hook failure"); }
void ProcB(int, HWND, WPARAM, LPARAM) { ++gCallsB; }
// Unregisters another user while the dispatch runs.
void ProcDropper(int, HWND, WPARAM, LPARAM)
{
    ++gCallsC;
    if (gToDrop) MbHookUnregister(gToDrop, gDropProc);
    gToDrop = nullptr;
}

// Makes the thread retrieve one message (a get-message event).
void RetrieveOne()
{
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}

struct MbHook : ::testing::Test {
    void SetUp() override { gCallsA = gCallsB = gCallsC = 0, gLastCodeA = -1; }
    int a = 0, b = 0, c = 0;  // users (compared by identity)
};

TEST_F(MbHook, UsersShareOnePlatformHookAndTheLastOneFreesTheState)
{
    ASSERT_FALSE(MbHookStateExists());
    MbHookRegister(&a, &ProcA, hcGetMessage);
    MbHookRegister(&b, &ProcA, hcGetMessage);
    MbHookRegister(&b, &ProcA, hcGetMessage);  // again: nothing new
    EXPECT_EQ(MbHookProcCount(), 1);
    EXPECT_EQ(MbHookCount(htGetMessage), 2);
    EXPECT_TRUE(MbHookInstalled(htGetMessage));
    EXPECT_FALSE(MbHookInstalled(htCallWndProc));

    RetrieveOne();
    EXPECT_GE(gCallsA, 1);
    EXPECT_EQ(gLastCodeA, 4);

    MbHookUnregister(&a, &ProcA);
    EXPECT_TRUE(MbHookInstalled(htGetMessage)) << "the second user keeps it";
    MbHookUnregister(&c, &ProcA);  // never registered: nothing
    EXPECT_EQ(MbHookCount(htGetMessage), 1);
    MbHookUnregister(&b, &ProcA);
    EXPECT_FALSE(MbHookStateExists());
    gCallsA = 0;
    RetrieveOne();
    EXPECT_EQ(gCallsA, 0);
}

TEST_F(MbHook, CodesAreFixedByTheFirstRegistration)
{
    classlib::TForm form(nullptr);
    form.HandleNeeded();
    MbHookRegister(&a, &ProcA, hcGetMessage);
    MbHookRegister(&b, &ProcA, hcActivate | hcActivateApp | hcWindowPosChanged | hcDestroyWindow);
    EXPECT_TRUE(MbHookInstalled(htCallWndProc)) << "the second user's hooks are installed";
    EXPECT_TRUE(MbHookInstalled(htCBT));
    EXPECT_EQ(MbHookCount(htCallWndProc), 1);

    ::SendMessageW(form.GetHandle(), WM_ACTIVATE, WA_INACTIVE, 0);
    ::SetWindowPos(form.GetHandle(), nullptr, 1, 1, 50, 50, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(gCallsA, 0) << "the procedure keeps its codes {4}";

    MbHookUnregister(&a, &ProcA);
    MbHookUnregister(&b, &ProcA);
    EXPECT_FALSE(MbHookStateExists());
}

TEST_F(MbHook, DestructionAndSentMessagesReachTheirProcedures)
{
    MbHookRegister(&a, &ProcA, hcDestroyWindow);
    MbHookRegister(&b, &ProcB, hcWindowPosChanged);
    {
        classlib::TForm form(nullptr);
        form.HandleNeeded();
        ::SetWindowPos(form.GetHandle(), nullptr, 5, 5, 60, 60, SWP_NOZORDER | SWP_NOACTIVATE);
        EXPECT_GE(gCallsB, 1);
        EXPECT_EQ(gCallsA, 0);
    }
    EXPECT_GE(gCallsA, 1);
    EXPECT_EQ(gLastCodeA, 3);
    MbHookUnregister(&a, &ProcA);
    MbHookUnregister(&b, &ProcB);
    EXPECT_FALSE(MbHookStateExists());
}

TEST_F(MbHook, AFailingOrUnregisteringProcedureLeavesTheOthersAndTheChainWhole)
{
    // Order: a procedure that raises, one that drops the last one's user,
    // one that counts, and the dropped one.
    MbHookRegister(&a, &ProcThrows, hcGetMessage);
    MbHookRegister(&a, &ProcDropper, hcGetMessage);
    MbHookRegister(&b, &ProcB, hcGetMessage);
    MbHookRegister(&c, &ProcA, hcGetMessage);
    gToDrop = &c;
    gDropProc = &ProcA;
    RetrieveOne();
    EXPECT_GE(gCallsB, 1) << "the exception was swallowed";
    EXPECT_EQ(gCallsA, 0) << "removed before its turn in the same dispatch";
    EXPECT_EQ(MbHookProcCount(), 3);

    // A procedure removing every registration, itself included, while it runs.
    gCallsC = 0;
    MbHookUnregister(&a, &ProcThrows);
    MbHookUnregister(&b, &ProcB);
    gToDrop = &a;
    gDropProc = &ProcDropper;
    RetrieveOne();
    EXPECT_EQ(gCallsC, 1);
    EXPECT_FALSE(MbHookStateExists());
    RetrieveOne();
    EXPECT_EQ(gCallsC, 1);
}

}  // namespace
