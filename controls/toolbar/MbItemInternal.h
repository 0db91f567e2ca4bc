// Helpers shared by the item, viewer, view, popup and menu-loop sources of
// the toolbar framework; not for use outside controls/toolbar.
//
// Threads: the user-interface thread only.
#pragma once

#include <windows.h>

namespace toolbar {

class TMbView;

namespace detail {

// The window a view draws in: its popup window, else its host window's
// handle when one exists; null before either has a handle.
HWND HostHandle(TMbView* View);

// Whether LastPointerPos holds a position (it starts with a mark that is
// none).
bool HasPointerPos();

// The view shown by the popup window Wnd, or null when Wnd is none.
TMbView* PopupViewOf(HWND Wnd);

}  // namespace detail

}  // namespace toolbar
