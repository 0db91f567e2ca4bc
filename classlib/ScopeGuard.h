// Scope objects for the two plain cases of "undo this on every way out":
// TValueScope gives a variable a value for the scope and puts the old value
// back; TOnExit runs an action when the scope ends. Both run on normal exit
// and while an exception unwinds; neither may be copied or moved.
#pragma once

#include <utility>

namespace classlib {

// Sets Variable to Value; the destructor restores the value it had before.
// The variable must outlive the scope.
template <class T>
class TValueScope {
public:
    TValueScope(T& Variable, T Value) : variable_(Variable), saved_(Variable) { variable_ = std::move(Value); }
    ~TValueScope() { variable_ = std::move(saved_); }
    TValueScope(const TValueScope&) = delete;
    TValueScope& operator=(const TValueScope&) = delete;

private:
    T& variable_;
    T saved_;
};

// Runs Action once when the scope ends. The action runs in a destructor: it
// must not raise.
template <class F>
class TOnExit {
public:
    explicit TOnExit(F Action) : action_(std::move(Action)) {}
    ~TOnExit() { action_(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    F action_;
};

}  // namespace classlib
