#include "classlib/ComObject.h"

#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace classlib;

namespace {

struct ISample : IUnknown {
    virtual int STDMETHODCALLTYPE Value() = 0;
};

const IID kIidSample = {0x3F1C2A10, 0x5B7D, 0x4E21, {0x9A, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
const IID kIidSampleOld = {0x3F1C2A11, 0x5B7D, 0x4E21, {0x9A, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

// Records its destruction in Freed.
class TSample final : public TComObject<ISample, kIidSample, kIidSampleOld> {
public:
    explicit TSample(bool& Freed, ULONG InitialRefs = 1) : TComObject(InitialRefs), freed_(Freed) {}
    int STDMETHODCALLTYPE Value() override { return 7; }

private:
    ~TSample() override { freed_ = true; }
    bool& freed_;
};

// A component-like class with the interface as its second base, so that the
// interface pointer differs from the object's address.
struct TOwnerPart {
    virtual ~TOwnerPart() = default;
    int Data = 0;
};
class TTarget final : public TOwnerPart, public TUncountedComObject<ISample, kIidSample> {
public:
    int STDMETHODCALLTYPE Value() override { return 9; }
};

struct TIidCase {
    const char* Name;
    const IID* Iid;
    HRESULT Result;
};

const TIidCase kCounted[] = {
    {"IUnknown", &IID_IUnknown, S_OK},
    {"own", &kIidSample, S_OK},
    {"second listed", &kIidSampleOld, S_OK},
    {"IDispatch", &IID_IDispatch, E_NOINTERFACE},
    {"IStream", &IID_IStream, E_NOINTERFACE},
};

}  // namespace

TEST(TComObjectTest, QueryInterfaceAnswersIUnknownAndTheListedIdsWithAReference)
{
    bool freed = false;
    auto* obj = new TSample(freed);
    for (const TIidCase& c : kCounted) {
        SCOPED_TRACE(c.Name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(obj->QueryInterface(*c.Iid, &out), c.Result);
        if (c.Result == S_OK) {
            ASSERT_EQ(out, static_cast<ISample*>(obj));
            EXPECT_EQ(static_cast<ISample*>(out)->Value(), 7);
            EXPECT_EQ(obj->Release(), 1u) << "the answer carried one reference";
        } else {
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(obj->AddRef(), 2u) << "no reference taken";
            obj->Release();
        }
    }
    EXPECT_EQ(obj->QueryInterface(kIidSample, nullptr), E_POINTER);
    EXPECT_FALSE(freed);
    EXPECT_EQ(obj->Release(), 0u);
    EXPECT_TRUE(freed);
}

TEST(TComObjectTest, LastReleaseFreesWhateverTheStartingCount)
{
    for (ULONG initial : {1u, 0u}) {
        SCOPED_TRACE(initial);
        bool freed = false;
        auto* obj = new TSample(freed, initial);
        EXPECT_EQ(obj->AddRef(), initial + 1);
        EXPECT_EQ(obj->AddRef(), initial + 2);
        EXPECT_EQ(obj->Release(), initial + 1);
        if (initial == 1) {
            EXPECT_EQ(obj->Release(), 1u);
        }
        EXPECT_FALSE(freed);
        EXPECT_EQ(obj->Release(), 0u);
        EXPECT_TRUE(freed);
    }
}

TEST(TComObjectTest, ReferencesFromManyThreadsBalance)
{
    bool freed = false;
    auto* obj = new TSample(freed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([obj] {
            for (int i = 0; i < 20000; ++i) obj->AddRef();
            for (int i = 0; i < 20000; ++i) obj->Release();
        });
    for (std::thread& t : threads) t.join();
    EXPECT_FALSE(freed);
    EXPECT_EQ(obj->Release(), 0u);
    EXPECT_TRUE(freed);
}

TEST(TUncountedComObjectTest, AnswersTheInterfacePointerAndCountsNothing)
{
    TTarget target;
    void* out = nullptr;
    ASSERT_EQ(target.QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<ISample*>(&target));
    EXPECT_NE(out, static_cast<void*>(&target)) << "the interface part, not the object's start";
    ASSERT_EQ(target.QueryInterface(kIidSample, &out), S_OK);
    EXPECT_EQ(static_cast<ISample*>(out)->Value(), 9);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(target.QueryInterface(kIidSampleOld, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(target.QueryInterface(kIidSample, nullptr), E_POINTER);
    EXPECT_EQ(target.AddRef(), 1u);
    EXPECT_EQ(target.Release(), 1u);
    EXPECT_EQ(target.Release(), 1u);  // still alive: the owner frees it
    EXPECT_EQ(target.Value(), 9);
}
