// Sets a global value (a setting, a hook, a limit) for a test and puts the
// old value back when the scope ends, also when the test fails half-way: the
// class library's scope guard, under the name the tests use.
#pragma once

#include "classlib/ScopeGuard.h"

namespace testsupport {

using classlib::TValueScope;

}  // namespace testsupport
