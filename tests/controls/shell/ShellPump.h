// Message pumping for the shell control tests: serves window messages and
// synchronised calls as the program's main loop would.
#pragma once

#include <windows.h>

#include <functional>

#include "classlib/Threads.h"
#include "support/HostWindow.h"

namespace shelltest {

using testsupport::PumpMessages;

// Pumps until Pred holds or Timeout ms have passed; the last value of Pred.
inline bool PumpUntil(const std::function<bool()>& Pred, DWORD Timeout = 5000)
{
    const DWORD start = ::GetTickCount();
    while (!Pred()) {
        if (::GetTickCount() - start > Timeout) return Pred();
        PumpMessages();
        classlib::CheckSynchronize(5);
    }
    return true;
}

// Lets late deliveries (which would be faults) arrive.
inline void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

}  // namespace shelltest
