#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Startup.h"

using namespace classlib;

namespace {

std::vector<std::string> gCalls;

void StartA() { gCalls.push_back("start A"); }
void StopA() { gCalls.push_back("stop A"); }
void StartB() { gCalls.push_back("start B"); }
void StopB() { gCalls.push_back("stop B"); }
void StartC() { gCalls.push_back("start C"); }
void StopC() { gCalls.push_back("stop C"); }
void StartFails() { throw EInvalidOperation(L"start failed"); }
void StopFails()
{
    gCalls.push_back("stop failing");
    throw EInvalidOperation(L"stop failed");
}

TEST(Startup, UnitsStartByKeyAndStopInReverse)
{
    gCalls.clear();
    TUnitList units;
    units.Register(L"C", 30, StartC, StopC);
    units.Register(L"A", 10, StartA, StopA);
    units.Register(L"B", 10, StartB, StopB);  // same key as A: after A
    units.RunStartups();
    units.RunStartups();  // started units are not started again
    EXPECT_EQ(units.Started(), (std::vector<std::wstring>{L"A", L"B", L"C"}));
    units.RunShutdowns();
    units.RunShutdowns();
    EXPECT_EQ(gCalls, (std::vector<std::string>{"start A", "start B", "start C", "stop C", "stop B", "stop A"}));
    EXPECT_TRUE(units.Started().empty());
}

TEST(Startup, FailedStartUndoesThisRunAndFailedStopDoesNotStopOthers)
{
    gCalls.clear();
    TUnitList units;
    units.Register(L"A", 1, StartA, StopA);
    units.RunStartups();
    units.Register(L"B", 2, StartB, StopB);
    units.Register(L"Bad", 3, StartFails, StopC);
    EXPECT_THROW(units.RunStartups(), EInvalidOperation);
    // B (started by the failed run) is stopped again; A stays started.
    EXPECT_EQ(gCalls, (std::vector<std::string>{"start A", "start B", "stop B"}));
    EXPECT_EQ(units.Started(), (std::vector<std::wstring>{L"A"}));

    gCalls.clear();
    TUnitList others;
    others.Register(L"A", 1, StartA, StopA);
    others.Register(L"F", 2, nullptr, StopFails);
    others.Register(L"B", 3, StartB, StopB);
    others.RunStartups();
    EXPECT_THROW(others.RunShutdowns(), EInvalidOperation);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"start A", "start B", "stop B", "stop failing", "stop A"}));
}

TInitProcList* gHooks = nullptr;
void HookA() { gCalls.push_back("hook A"); }
void HookB()
{
    gCalls.push_back("hook B");
    gHooks->Add(HookA);  // added while running: runs in the same call
}

TEST(Startup, InitProcsRunOnceOldestFirst)
{
    gCalls.clear();
    TInitProcList hooks;
    gHooks = &hooks;
    hooks.Add(HookB);
    hooks.Add(HookA);
    hooks.Add(nullptr);
    EXPECT_EQ(hooks.Count(), 2u);
    hooks.Run();
    hooks.Run();
    EXPECT_EQ(gCalls, (std::vector<std::string>{"hook B", "hook A", "hook A"}));
    EXPECT_EQ(hooks.Count(), 0u);
    gHooks = nullptr;
}

}  // namespace
