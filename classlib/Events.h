// Events: comparable (method, object) pairs.
//
// An event holds a member function together with the object it is called on,
// like a bound method pointer. Two events compare equal when they name the
// same method of the same object, so a handler can be removed by comparing it
// with the one that was installed. An empty event tests false; calling it is
// a no-op that returns a value-initialised result.
//
// Plain functions with a context pointer are accepted too (FromFunction);
// they compare by function and context.
#pragma once

#include <cstring>
#include <type_traits>
#include <utility>

namespace classlib {

template <class Sig>
class TEvent;

template <class R, class... Args>
class TEvent<R(Args...)> {
public:
    TEvent() = default;
    TEvent(std::nullptr_t) {}

    // Binds method m of object obj.
    template <class C, class M>
        requires std::is_member_function_pointer_v<M>
    TEvent(C* obj, M m)
    {
        static_assert(sizeof(M) <= sizeof(method_), "member pointer too large");
        object_ = const_cast<void*>(static_cast<const void*>(obj));
        std::memcpy(method_, &m, sizeof(M));
        thunk_ = &CallMember<std::remove_const_t<C>, M>;
    }

    // Binds a free function that receives the context pointer first.
    static TEvent FromFunction(R (*fn)(void* context, Args...), void* context)
    {
        TEvent e;
        e.object_ = context;
        std::memcpy(e.method_, &fn, sizeof(fn));
        e.thunk_ = &CallFunction;
        return e;
    }

    explicit operator bool() const { return thunk_ != nullptr; }
    bool Assigned() const { return thunk_ != nullptr; }
    void Clear() { *this = TEvent(); }

    // The object the handler belongs to (the context for free functions).
    void* Data() const { return object_; }

    R operator()(Args... args) const
    {
        if (!thunk_) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return R{};
        }
        return thunk_(object_, method_, std::forward<Args>(args)...);
    }

    friend bool operator==(const TEvent& a, const TEvent& b)
    {
        return a.thunk_ == b.thunk_ && a.object_ == b.object_ &&
               std::memcmp(a.method_, b.method_, sizeof(a.method_)) == 0;
    }

private:
    using Thunk = R (*)(void*, const unsigned char*, Args...);

    // GCC sees the virtual-function test of a member-pointer call read a
    // vtable pointer from the object and warns for small classes without
    // one; the read only happens for virtual methods, whose classes have it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
    template <class C, class M>
    static R CallMember(void* obj, const unsigned char* raw, Args... args)
    {
        M m;
        std::memcpy(&m, raw, sizeof(M));
        return (static_cast<C*>(obj)->*m)(std::forward<Args>(args)...);
    }
#pragma GCC diagnostic pop

    static R CallFunction(void* ctx, const unsigned char* raw, Args... args)
    {
        R (*fn)(void*, Args...);
        std::memcpy(&fn, raw, sizeof(fn));
        return fn(ctx, std::forward<Args>(args)...);
    }

    void* object_ = nullptr;
    alignas(void*) unsigned char method_[2 * sizeof(void*)] = {};
    Thunk thunk_ = nullptr;
};

class TObject;
using TNotifyEvent = TEvent<void(TObject* Sender)>;

}  // namespace classlib
