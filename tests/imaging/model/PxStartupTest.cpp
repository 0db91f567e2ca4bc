// The toolkit's reference-counted start-up and its registration slots.
#include <gtest/gtest.h>

#include <string>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxStartup.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxWords.h"

using namespace imaging;

namespace {

std::string calls;

void StartA() { calls += "+A"; }
void StopA() { calls += "-A"; }
void StartB() { calls += "+B"; }
void StopB() { calls += "-B"; }
void StartC() { calls += "+C"; }
void StopC() { calls += "-C"; }
void Raise() { throw classlib::Exception(L"start-up failed"); }

// Leaves the slots used by a test empty again.
struct SlotsScope {
    ~SlotsScope()
    {
        for (TPxStartupSlot s : {psGDIPlus, psImgIO, psPresetImages})
            PxRegisterStartup(s, nullptr, nullptr);
    }
};

}  // namespace

TEST(PxStartup, ReferenceCountAndOrder)
{
    if (PxIsInitialized())
        GTEST_SKIP() << "the toolkit is started by someone else";
    SlotsScope slots;
    // Registered out of order: the slots decide the order.
    PxRegisterStartup(psPresetImages, StartC, StopC);
    PxRegisterStartup(psImgIO, StartB, StopB);
    PxRegisterStartup(psGDIPlus, StartA, StopA);
    calls.clear();
    PxMemoryThreshold = 12345;
    PxGrayWeightR = 0;

    PxFinalize();  // without a start-up: nothing
    EXPECT_EQ(calls, "");
    EXPECT_FALSE(PxIsInitialized());

    PxInitialize();
    EXPECT_EQ(calls, "+A+B+C");
    EXPECT_TRUE(PxIsInitialized());
    EXPECT_EQ(PxMemoryThreshold, -1);
    EXPECT_EQ(PxGrayWeightR, 21);
    EXPECT_EQ(PxGetMsgText(0, msSystem), L"Zoom");
    EXPECT_EQ(PxCosineTable[255], 128);

    PxInitialize();
    PxFinalize();
    EXPECT_EQ(calls, "+A+B+C");  // twice started, once stopped: still running
    EXPECT_TRUE(PxIsInitialized());
    EXPECT_EQ(PxInitializeCount(), 1);

    PxFinalize();
    EXPECT_EQ(calls, "+A+B+C-C-B-A");
    EXPECT_FALSE(PxIsInitialized());
    PxFinalize();
    EXPECT_EQ(calls, "+A+B+C-C-B-A");

    // A later start-up begins again from the first step.
    PxInitialize();
    EXPECT_EQ(calls, "+A+B+C-C-B-A+A+B+C");
    PxFinalize();
    EXPECT_FALSE(PxIsInitialized());
}

TEST(PxStartup, FailingStartupLeavesTheLock)
{
    if (PxIsInitialized())
        GTEST_SKIP() << "the toolkit is started by someone else";
    SlotsScope slots;
    PxRegisterStartup(psImgIO, Raise, nullptr);
    EXPECT_THROW(PxInitialize(), classlib::Exception);
    EXPECT_EQ(PxInitializeCount(), 0);
    // The lock was left: the next call gets through.
    PxRegisterStartup(psImgIO, nullptr, nullptr);
    PxInitialize();
    EXPECT_EQ(PxInitializeCount(), 1);
    PxFinalize();
    EXPECT_FALSE(PxIsInitialized());
}

// After start-up a new image takes its threshold from the physical memory.
TEST(PxStartup, ThresholdFromPhysicalMemory)
{
    const int64_t saved = PxMemoryThreshold;
    PxMemoryThreshold = -1;
    TPxBitmap b;
    const int64_t physical = PxGetPhysicalMemory(false);
    ASSERT_GT(physical, 0);
    EXPECT_EQ(b.FileThreshold, static_cast<int64_t>(static_cast<double>(physical) / 1.3));
    PxMemoryThreshold = 4096;
    TPxBitmap c;
    EXPECT_EQ(c.FileThreshold, 4096);
    PxMemoryThreshold = saved;
}
