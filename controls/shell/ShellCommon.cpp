#include "controls/shell/ShellCommon.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/FileCtrl.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"

namespace shell {

// What a user is told when a name typed in place is refused: the names,
// the reason and what to do.
std::wstring RenameRefusal(const std::wstring& OldName, const std::wstring& NewName, DWORD Error)
{
    std::wstring reason;
    if (Error == ERROR_INVALID_NAME)
        reason = L"a name cannot contain any of the characters \\ / : * ? \" < > |";
    else if (Error == ERROR_ALREADY_EXISTS || Error == ERROR_FILE_EXISTS)
        reason = L"an object of that name already exists";
    else if (Error != 0)
        reason = SystemErrorText(Error);
    else
        reason = L"the file system refused the name";
    while (!reason.empty() && (reason.back() == L'.' || reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' '))
        reason.pop_back();
    return L"\"" + OldName + L"\" cannot be renamed to \"" + NewName + L"\": " + reason +
           L". Choose another name and rename it again.";
}


std::wstring WithBackslash(std::wstring Path)
{
    if (!Path.empty() && Path.back() != L'\\') Path += L'\\';
    return Path;
}

std::wstring WithoutBackslash(std::wstring Path)
{
    // A drive root keeps its backslash ("C:\").
    if (Path.size() > 3 && Path.back() == L'\\') Path.pop_back();
    return Path;
}

bool FolderExists(const std::wstring& Path)
{
    if (Path.empty()) return false;
    DWORD a = ::GetFileAttributesW(Path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool LessNoCase(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

std::vector<std::wstring> SplitMasks(const std::wstring& Masks)
{
    std::vector<std::wstring> out;
    std::size_t start = 0;
    while (start <= Masks.size()) {
        std::size_t end = Masks.find(L';', start);
        if (end == std::wstring::npos) end = Masks.size();
        std::wstring m = Masks.substr(start, end - start);
        while (!m.empty() && m.front() == L' ') m.erase(m.begin());
        while (!m.empty() && m.back() == L' ') m.pop_back();
        if (!m.empty()) out.push_back(m);
        start = end + 1;
    }
    return out;
}
bool SameObject(IShellFolder* Folder, LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    if (!Folder || !a || !b) return false;
    const HRESULT hr = Folder->CompareIDs(0, a, b);
    return SUCCEEDED(hr) && static_cast<short>(HRESULT_CODE(hr)) == 0;
}

std::uint64_t Ticks(const FILETIME& t) { return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

void SafeStableSort(std::vector<int>& Order, const std::function<int(int, int)>& Compare)
{
    std::vector<int> buffer(Order.size());
    for (std::size_t width = 1; width < Order.size(); width *= 2) {
        for (std::size_t lo = 0; lo < Order.size(); lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, Order.size()), hi = std::min(lo + 2 * width, Order.size());
            std::size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi) buffer[out++] = Compare(Order[b], Order[a]) < 0 ? Order[b++] : Order[a++];
            while (a < mid) buffer[out++] = Order[a++];
            while (b < hi) buffer[out++] = Order[b++];
        }
        Order.swap(buffer);
    }
}

int CompareText(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                            static_cast<int>(b.size())) - CSTR_EQUAL;
}

std::unique_ptr<classlib::TStringList> ClipboardFiles()
{
    if (!::IsClipboardFormatAvailable(CF_HDROP) || !::OpenClipboard(nullptr)) return nullptr;
    std::unique_ptr<classlib::TStringList> files = FilenamesFromDrop(static_cast<HDROP>(::GetClipboardData(CF_HDROP)));
    ::CloseClipboard();
    return files;
}

// What a paste of Files did: a copy while the first of them is still where
// it was, else a move (the files were cut).
TShellOperations PasteKind(const classlib::TStringList* Files)
{
    const bool moved = Files && Files->GetCount() > 0 && !PathExists(Files->GetStrings(0));
    return OperationBit(moved ? sopMove : sopCopy) | OperationBit(sopPaste) | OperationBit(sopAdd);
}

bool SameVerb(const std::wstring& a, const wchar_t* b) { return classlib::WideSameText(a, b); }

// Only these modifier keys are down (mouse buttons do not count).
bool OnlyKeys(classlib::TShiftState Shift, classlib::TShiftState Keys)
{
    return (Shift & (classlib::ssShift | classlib::ssAlt | classlib::ssCtrl)) == Keys;
}

void ProcessPendingMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void ScrollTowardEdge(HWND Window, POINT ClientPoint)
{
    RECT client{};
    ::GetClientRect(Window, &client);
    auto room = [&](int bar, bool forward) {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_ALL;
        if (!::GetScrollInfo(Window, bar, &info)) return false;
        const int last = info.nMax - std::max(static_cast<int>(info.nPage) - 1, 0);
        return forward ? info.nPos < last : info.nPos > info.nMin;
    };
    if (ClientPoint.x < client.left + 25 && room(SB_HORZ, false))
        ::SendMessageW(Window, WM_HSCROLL, SB_LINELEFT, 0);
    else if (ClientPoint.x >= client.right - 25 && room(SB_HORZ, true))
        ::SendMessageW(Window, WM_HSCROLL, SB_LINERIGHT, 0);
    if (ClientPoint.y < client.top + 20 && room(SB_VERT, false))
        ::SendMessageW(Window, WM_VSCROLL, SB_LINEUP, 0);
    else if (ClientPoint.y >= client.bottom - 20 && room(SB_VERT, true))
        ::SendMessageW(Window, WM_VSCROLL, SB_LINEDOWN, 0);
}

}  // namespace shell
