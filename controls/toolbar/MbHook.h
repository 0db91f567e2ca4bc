// Per-thread window hooks shared by the framework's objects.
//
// A client registers a hook procedure with the events it wants (a set of
// hook codes); the unit installs at most one platform hook of each of three
// kinds per thread, shares it among all clients by reference counts, calls
// every interested procedure for each event and removes the platform hooks
// when the last client leaves.
//
// Codes: 0 WM_ACTIVATE, 1 WM_ACTIVATEAPP, 2 WM_WINDOWPOSCHANGED sent to a
// window of the thread (Wnd, WParam, LParam of the message); 3 a window of
// the thread is about to be destroyed (Wnd, 0, 0); 4 the thread retrieves a
// message (Wnd 0, the removal flag, the address of the MSG, which the
// procedure may change).
//
// A procedure may register or unregister any client (itself included) while
// it is being called: the running dispatch skips procedures removed on the
// way and never touches freed state. Exceptions raised by a procedure are
// swallowed; the next procedure and the hook chain still run.
//
// Threads: all state is thread-local; a procedure is only ever called on the
// thread that registered it. No locks.
#pragma once

#include <windows.h>

#include <cstdint>

namespace toolbar {

using TMbHookProc = void (*)(int Code, HWND Wnd, WPARAM WParam, LPARAM LParam);

// Sets of hook codes: bit n for code n.
using TMbHookCodes = uint8_t;
constexpr TMbHookCodes hcActivate = 1u << 0;
constexpr TMbHookCodes hcActivateApp = 1u << 1;
constexpr TMbHookCodes hcWindowPosChanged = 1u << 2;
constexpr TMbHookCodes hcDestroyWindow = 1u << 3;
constexpr TMbHookCodes hcGetMessage = 1u << 4;

// Hook types: 0 call-window (codes 0..2), 1 CBT (code 3), 2 get-message
// (code 4).
constexpr int htCallWndProc = 0;
constexpr int htCBT = 1;
constexpr int htGetMessage = 2;

// Registers User (compared by identity) for Proc. The codes of a procedure
// are fixed by its first registration; a later user adds only the platform
// hooks its codes need. Registering the same user twice adds nothing.
void MbHookRegister(const void* User, TMbHookProc Proc, TMbHookCodes Codes);
// Nothing when User is not registered for Proc.
void MbHookUnregister(const void* User, TMbHookProc Proc);
// Removes the platform hooks of the types (bit n for type n) of the calling
// thread; with Force regardless of their counts (used at shut-down).
void MbRemoveHooks(uint8_t Types, bool Force);

// State of the calling thread, for diagnostics and tests: the count and
// whether the platform hook of a type is installed, whether any state
// exists, and the number of registered procedures.
int MbHookCount(int Type);
bool MbHookInstalled(int Type);
bool MbHookStateExists();
int MbHookProcCount();

}  // namespace toolbar
