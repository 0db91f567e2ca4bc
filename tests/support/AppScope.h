// Points the global Application at a private one for a test's duration, so
// a test's hint, idle and form settings never reach the other tests.
#pragma once

#include "classlib/Forms.h"

namespace testsupport {

class TAppScope {
public:
    TAppScope() : saved_(classlib::Application) { classlib::Application = &app; }
    ~TAppScope() { classlib::Application = saved_; }
    TAppScope(const TAppScope&) = delete;
    TAppScope& operator=(const TAppScope&) = delete;
    classlib::TApplication app{nullptr};

private:
    classlib::TApplication* saved_;
};

}  // namespace testsupport
