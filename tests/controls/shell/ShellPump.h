// Message pumping for the shell control tests: serves window messages and
// synchronised calls as the program's main loop would; finds tree nodes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

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

// The caption of a tree node.
inline std::wstring TreeText(HWND Wnd, HTREEITEM Item)
{
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = Item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    ::SendMessageW(Wnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

// The node captioned Caption among the children of Parent (the root nodes
// when Parent is null); null when there is none.
inline HTREEITEM TreeNode(HWND Wnd, HTREEITEM Parent, const std::wstring& Caption)
{
    const UINT first = Parent ? TVGN_CHILD : TVGN_ROOT;
    auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, first, reinterpret_cast<LPARAM>(Parent)));
    for (; item; item = reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item))))
        if (TreeText(Wnd, item) == Caption) return item;
    return nullptr;
}

// The children of a node, by caption.
inline std::vector<std::wstring> TreeChildren(HWND Wnd, HTREEITEM Parent)
{
    std::vector<std::wstring> names;
    auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(Parent)));
    for (; item; item = reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item))))
        names.push_back(TreeText(Wnd, item));
    return names;
}

// The screen point at the middle of a node's text (a drop point).
inline POINTL NodeScreenCentre(HWND Wnd, HTREEITEM Item)
{
    RECT r{};
    static_assert(sizeof(RECT) >= sizeof(HTREEITEM));
    std::memcpy(&r, &Item, sizeof(Item));  // TVM_GETITEMRECT takes the item in the rectangle
    if (!::SendMessageW(Wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) return POINTL{-1, -1};
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(Wnd, &centre);
    return POINTL{centre.x, centre.y};
}

inline HTREEITEM TreeRoot(HWND Wnd)
{
    return reinterpret_cast<HTREEITEM>(::SendMessageW(Wnd, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

}  // namespace shelltest
