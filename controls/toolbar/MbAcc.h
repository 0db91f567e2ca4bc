// Accessibility objects: menu bars, toolbars and popup menus readable by
// accessibility clients through IAccessible.
//
// Each view (one toolbar, menu bar or popup level) and each item viewer (one
// entry) gets, on first request, an object that answers from the live state
// of the view or entry. The view or viewer holds one reference and, when it
// is deleted, cuts the object off: every later call that needs it answers
// E_FAIL. Objects a client still holds stay valid until released.
//
// Every live object is in a locked list, so that the toolbar unit's
// shut-down can cut them all off from their clients (MbDisconnectAccObjects)
// in a safe order: each object is held while it is disconnected.
//
// The accessibility library is loaded at run time; without it no object is
// made and WM_GETOBJECT gets its default handling.
//
// Threads: objects are made and answer on the user-interface thread (COM
// calls arrive there); the live list is changed under its lock.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string>

#include "controls/toolbar/MbItem.h"

namespace toolbar {

// Sends the platform's accessibility event when the platform offers it.
void MbNotifyAccEvent(DWORD Event, HWND Wnd, LONG ObjectId, LONG ChildId);
// Whether the accessibility library and its two entry points exist.
bool MbAccessibilityAvailable();
// The platform's object for a window (OBJID_WINDOW); Object is cleared on
// failure.
HRESULT MbWindowAccObject(HWND Wnd, IDispatch** Object);
// The localised name of the Alt key ("Alt" when none comes back).
std::wstring MbAltKeyName();

// The object of a view or entry (made on first request), with one new
// reference for the caller; null without the accessibility library.
IAccessible* MbViewAccObject(TMbView* View);
IAccessible* MbViewerAccObject(TMbItemViewer* Viewer);
// WM_GETOBJECT for a view's window: answers the view's object for
// OBJID_CLIENT; false when the default handling should run.
bool MbAnswerGetObject(TMbView* View, WPARAM WParam, LPARAM LParam, LRESULT& Result);
// Cuts the view's object off now (its owner is going).
void MbDetachAccObject(TMbView* View);
// Cuts every live object off from its clients (shut-down).
void MbDisconnectAccObjects();
// The number of live objects (for tests).
int MbLiveAccObjectCount();

}  // namespace toolbar
