// The root of the class hierarchy and the base of assignable objects.
#pragma once

#include <functional>
#include <string>

#include "classlib/Events.h"
#include "classlib/Exceptions.h"

namespace classlib {

// Root class: a virtual destructor and the class name used in messages.
// Run-time class tests are dynamic_cast.
class TObject {
public:
    virtual ~TObject() = default;
    // The name of the most derived class, e.g. L"TBitmap".
    virtual std::wstring ClassName() const { return L"TObject"; }
};

// Makes a new object (the caller owns it). Stands where a component lets a
// program choose the class of the objects it makes: the component hands its
// own maker to an event, the handler may put a maker of a derived class in
// its place, and the component checks what comes back with dynamic_cast.
using TObjectFactory = std::function<TObject*()>;

// An object that can copy its state from another through Assign. Assign asks
// the source (AssignTo) when it does not know the source's class; when neither
// knows the other, EConvertError "Cannot assign a <source> to a <dest>" is
// raised (source "nil" when the source is null).
class TPersistent : public TObject {
public:
    std::wstring ClassName() const override { return L"TPersistent"; }
    virtual void Assign(const TPersistent* Source);

protected:
    virtual void AssignTo(TPersistent* Dest) const;
    [[noreturn]] void AssignError(const TPersistent* Source) const;
};

}  // namespace classlib
