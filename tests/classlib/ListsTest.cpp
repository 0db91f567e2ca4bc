#include "classlib/Lists.h"

#include <windows.h>
#include <unknwn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace classlib;

namespace {

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }
intptr_t V(void* p) { return reinterpret_cast<intptr_t>(p); }

std::vector<intptr_t> Values(const TList& list)
{
    std::vector<intptr_t> out;
    for (int i = 0; i < list.GetCount(); ++i) out.push_back(V(list[i]));
    return out;
}

// Records every notification.
class LoggingList : public TList {
public:
    std::vector<std::pair<intptr_t, TListNotification>> log;

protected:
    void Notify(void* Ptr, TListNotification Action) override { log.push_back({V(Ptr), Action}); }
};

// Counts live instances.
class Counted : public TObject {
public:
    explicit Counted(int& live) : live_(live) { ++live_; }
    ~Counted() override { --live_; }

private:
    int& live_;
};

}  // namespace

TEST(TListTest, BadIndexRaisesEListErrorWithIndex)
{
    TList list;
    list.Add(P(1));
    list.Add(P(2));
    struct Case {
        const char* what;
        std::function<void()> call;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"GetItem -1", [&] { list.GetItem(-1); }, L"List index out of bounds (-1)"},
        {"GetItem Count", [&] { list.GetItem(2); }, L"List index out of bounds (2)"},
        {"SetItem", [&] { list.SetItem(5, nullptr); }, L"List index out of bounds (5)"},
        {"Delete", [&] { list.Delete(2); }, L"List index out of bounds (2)"},
        {"Insert past end", [&] { list.Insert(3, P(9)); }, L"List index out of bounds (3)"},
        {"Exchange", [&] { list.Exchange(0, 7); }, L"List index out of bounds (7)"},
        {"Move", [&] { list.Move(-3, 1); }, L"List index out of bounds (-3)"},
        {"SetCount", [&] { list.SetCount(-1); }, L"List count out of bounds (-1)"},
        {"SetCapacity", [&] { list.SetCapacity(1); }, L"List capacity out of bounds (1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.call();
            ADD_FAILURE() << "no exception";
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    EXPECT_EQ(Values(list), (std::vector<intptr_t>{1, 2}));

    TList empty;
    EXPECT_THROW(empty.First(), EListError);
    EXPECT_THROW(empty.Last(), EListError);
}

TEST(TListTest, EditingKeepsOrderAndNotifies)
{
    LoggingList list;
    list.Add(P(1));
    list.Add(nullptr);  // nil items are never reported
    list.Add(P(3));
    list.Insert(0, P(4));  // 4 1 0 3
    EXPECT_EQ(Values(list), (std::vector<intptr_t>{4, 1, 0, 3}));

    list.Move(0, 3);  // 1 0 3 4
    list.Exchange(0, 2);  // 3 0 1 4
    EXPECT_EQ(Values(list), (std::vector<intptr_t>{3, 0, 1, 4}));
    EXPECT_EQ(list.First(), P(3));
    EXPECT_EQ(list.Last(), P(4));

    list.log.clear();
    EXPECT_EQ(list.Remove(P(1)), 2);
    EXPECT_EQ(list.Remove(P(77)), -1);
    EXPECT_EQ(list.Extract(P(4)), P(4));
    EXPECT_EQ(list.Extract(P(77)), nullptr);
    list.SetItem(0, P(5));
    EXPECT_EQ(Values(list), (std::vector<intptr_t>{5, 0}));
    using L = std::vector<std::pair<intptr_t, TListNotification>>;
    EXPECT_EQ(list.log, (L{{1, lnDeleted}, {4, lnExtracted}, {3, lnDeleted}, {5, lnAdded}}));

    list.SetCount(4);  // grows with nil
    list.Pack();
    EXPECT_EQ(Values(list), (std::vector<intptr_t>{5}));
    list.log.clear();
    list.Add(P(6));
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetCapacity(), 0);
    EXPECT_EQ(list.log, (L{{6, lnAdded}, {6, lnDeleted}, {5, lnDeleted}}));
}

TEST(TListTest, SortOrdersByComparer)
{
    // Keys in the high part, an identity tag in the low part; equal keys are
    // allowed to change order, the keys must come out ascending.
    std::vector<intptr_t> input;
    uint32_t seed = 12345;
    for (int i = 0; i < 500; ++i) {
        seed = seed * 1103515245u + 12345u;
        input.push_back(static_cast<intptr_t>(((seed >> 16) % 50) * 1000 + i + 1));
    }
    TList list;
    for (intptr_t v : input) list.Add(P(v));
    list.Sort([](void* a, void* b) { return static_cast<int>(V(a) / 1000 - V(b) / 1000); });
    std::vector<intptr_t> out = Values(list);
    ASSERT_EQ(out.size(), input.size());
    for (size_t i = 1; i < out.size(); ++i) ASSERT_LE(out[i - 1] / 1000, out[i] / 1000) << i;
    std::sort(out.begin(), out.end());
    std::sort(input.begin(), input.end());
    EXPECT_EQ(out, input);

    // Equal keys end where the middle-pivot partitioning leaves them (worked
    // through by hand): tags 1..4 with keys 2 1 2 2 0.
    TList small;
    for (intptr_t v : {2001, 1002, 2003, 2004, 5}) small.Add(P(v));
    small.Sort([](void* a, void* b) { return static_cast<int>(V(a) / 1000 - V(b) / 1000); });
    EXPECT_EQ(Values(small), (std::vector<intptr_t>{5, 1002, 2004, 2001, 2003}));
}

TEST(TObjectListTest, OwnsAndFreesObjects)
{
    int live = 0;
    {
        TObjectList list;  // owns by default
        for (int i = 0; i < 5; ++i) list.Add(new Counted(live));
        EXPECT_EQ(live, 5);
        list.Delete(0);
        EXPECT_EQ(live, 4);
        list.Remove(list[0]);
        EXPECT_EQ(live, 3);
        TObject* kept = list.Extract(list[0]);
        EXPECT_EQ(live, 3);  // extracted: handed back, not freed
        delete kept;
        EXPECT_EQ(live, 2);
        list.SetItem(0, new Counted(live));  // replaced one is freed
        EXPECT_EQ(live, 2);
        list.Add(new Counted(live));
    }
    EXPECT_EQ(live, 0);  // destruction frees the rest

    {
        TObjectList list;
        list.Add(new Counted(live));
        list.Clear();
        EXPECT_EQ(live, 0);
    }

    Counted a(live), b(live);
    {
        TObjectList list(false);
        list.Add(&a);
        list.Add(&b);
        list.Delete(0);
    }
    EXPECT_EQ(live, 2);  // not owning: nothing freed
}

TEST(TThreadListTest, TwoThreadsAddConcurrently)
{
    struct Case {
        TDuplicates mode;
        bool sameItems;
        int expected;
    };
    const Case cases[] = {
        {dupIgnore, false, 2000},
        {dupIgnore, true, 1000},
        {dupAccept, true, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        TThreadList list;
        list.SetDuplicates(c.mode);
        std::atomic<bool> go{false};
        auto worker = [&](intptr_t base) {
            while (!go) std::this_thread::yield();
            for (intptr_t i = 1; i <= 1000; ++i) list.Add(P(base + i));
        };
        std::thread t1(worker, 0);
        std::thread t2(worker, c.sameItems ? 0 : 1000);
        go = true;
        t1.join();
        t2.join();
        TThreadListLock lock(list);
        EXPECT_EQ(lock->GetCount(), c.expected);
    }
}

TEST(TThreadListTest, LockIsRecursiveAndExcludesOthers)
{
    TThreadList list;
    list.SetDuplicates(dupError);
    list.Add(P(1));
    EXPECT_THROW(list.Add(P(1)), EListError);

    std::atomic<bool> added{false};
    std::thread other;
    {
        TThreadListLock outer(list);
        list.Add(P(2));  // same thread: the lock is recursive
        other = std::thread([&] {
            list.Add(P(3));
            added = true;
        });
        Sleep(100);
        EXPECT_FALSE(added);  // blocked while this thread holds the list
        EXPECT_EQ(outer->GetCount(), 2);
    }
    other.join();
    EXPECT_TRUE(added);
    list.Remove(P(1));
    TThreadListLock lock(list);
    EXPECT_EQ(Values(lock.List()), (std::vector<intptr_t>{2, 3}));
}

namespace {

// A COM object that only counts references.
class RefCounted : public IUnknown {
public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

}  // namespace

TEST(TInterfaceListTest, HoldsOneReferencePerItem)
{
    RefCounted a, b, c;
    {
        TInterfaceList list;
        list.Add(&a);
        list.Add(&b);
        list.Add(&a);
        EXPECT_EQ(a.refs, 3u);
        EXPECT_EQ(list.IndexOf(&b), 1);
        list.Delete(1);
        EXPECT_EQ(b.refs, 1u);
        list.SetItem(0, &c);  // a released once, c referenced
        EXPECT_EQ(a.refs, 2u);
        EXPECT_EQ(c.refs, 2u);
        EXPECT_EQ(list.Remove(&a), 1);
        EXPECT_EQ(a.refs, 1u);
        list.Insert(0, &b);
        EXPECT_EQ(list.First(), &b);
        EXPECT_EQ(list.Last(), &c);
        EXPECT_THROW(list.GetItem(2), EListError);
    }
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
    EXPECT_EQ(c.refs, 1u);
}
