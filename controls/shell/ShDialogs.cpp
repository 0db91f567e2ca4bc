#include "controls/shell/ShDialogs.h"

#include <shlobj.h>

namespace shell {

namespace {

int CALLBACK BrowseCallback(HWND Window, UINT Msg, LPARAM, LPARAM Data)
{
    if (Msg == BFFM_INITIALIZED && Data)
        ::SendMessageW(Window, BFFM_SETSELECTIONW, TRUE, Data);
    return 0;
}

}  // namespace

bool TShBrowseForFolder::Execute(HWND Owner)
{
    if (!Owner) Owner = ::GetActiveWindow();
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW bi{};
    bi.hwndOwner = Owner;
    bi.pszDisplayName = display;
    bi.lpszTitle = Title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = BrowseCallback;
    bi.lParam = Folder.empty() ? 0 : reinterpret_cast<LPARAM>(Folder.c_str());
    PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
    if (!pidl) return false;
    wchar_t path[MAX_PATH * 4] = {};
    bool ok = ::SHGetPathFromIDListW(pidl, path) != FALSE;
    ::CoTaskMemFree(pidl);
    if (!ok || !path[0]) return false;
    Folder = path;
    if (Folder.size() > 3 && Folder.back() == L'\\') Folder.pop_back();
    return true;
}

}  // namespace shell
