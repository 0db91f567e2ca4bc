#include <gtest/gtest.h>

#include "classlib/Events.h"
#include "classlib/Persistent.h"

using namespace classlib;

namespace {

struct Counter : TObject {
    int hits = 0;
    TObject* last = nullptr;
    void OnA(TObject* s) { ++hits; last = s; }
    void OnB(TObject*) { hits += 10; }
};

TEST(Events, EmptyIsUnassignedAndHarmless)
{
    TNotifyEvent e;
    EXPECT_FALSE(e);
    e(nullptr);  // no-op
    TEvent<int(int)> f;
    EXPECT_EQ(f(3), 0);
}

TEST(Events, ComparesByMethodAndObject)
{
    Counter a, b;
    TNotifyEvent ea(&a, &Counter::OnA), ea2(&a, &Counter::OnA), eb(&b, &Counter::OnA),
        ea_b(&a, &Counter::OnB);
    EXPECT_TRUE(ea == ea2);
    EXPECT_FALSE(ea == eb);
    EXPECT_FALSE(ea == ea_b);
    EXPECT_FALSE(ea == TNotifyEvent());
    ea(&b);
    EXPECT_EQ(a.hits, 1);
    EXPECT_EQ(a.last, &b);
    ea_b(nullptr);
    EXPECT_EQ(a.hits, 11);
}

TEST(Events, ReferenceArgumentsAndFreeFunctions)
{
    struct Doubler {
        int factor = 2;
        void Run(int& v) { v *= factor; }
    } d;
    TEvent<void(int&)> e(&d, &Doubler::Run);
    int v = 4;
    e(v);
    EXPECT_EQ(v, 8);

    static int ctxValue = 5;
    auto fn = +[](void* ctx, int x) { return *static_cast<int*>(ctx) + x; };
    auto f = TEvent<int(int)>::FromFunction(fn, &ctxValue);
    EXPECT_EQ(f(1), 6);
    EXPECT_TRUE(f == TEvent<int(int)>::FromFunction(fn, &ctxValue));
}

struct TA : TPersistent {
    std::wstring ClassName() const override { return L"TA"; }
};
struct TB : TPersistent {
    std::wstring ClassName() const override { return L"TB"; }
};

TEST(Persistent, AssignOfUnknownClassRaisesConvertError)
{
    TA a;
    TB b;
    try {
        a.Assign(&b);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"Cannot assign a TB to a TA");
    }
    try {
        a.Assign(nullptr);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"Cannot assign a nil to a TA");
    }
}

}  // namespace
