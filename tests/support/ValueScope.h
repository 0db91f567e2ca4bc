// Sets a global value (a setting, a hook, a limit) for a test and puts the
// old value back when the scope ends, also when the test fails half-way.
#pragma once

#include <utility>

namespace testsupport {

template <typename T>
class TValueScope {
public:
    TValueScope(T& Target, T Value) : target_(Target), saved_(Target) { target_ = std::move(Value); }
    ~TValueScope() { target_ = std::move(saved_); }
    TValueScope(const TValueScope&) = delete;
    TValueScope& operator=(const TValueScope&) = delete;

private:
    T& target_;
    T saved_;
};

}  // namespace testsupport
