#include "Driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>

namespace e2e {

namespace {

const UINT kFindMessage = ::RegisterWindowMessageW(L"VelmoFindControl");
const UINT kClickMessage = ::RegisterWindowMessageW(L"VelmoClickControl");

std::wstring Lower(std::wstring S)
{
    for (auto& c : S) c = static_cast<wchar_t>(std::towlower(c));
    return S;
}

bool EndsWithNoCase(const std::wstring& S, const std::wstring& Suffix)
{
    return S.size() >= Suffix.size() && Lower(S.substr(S.size() - Suffix.size())) == Lower(Suffix);
}

std::wstring ClassOf(HWND Wnd)
{
    wchar_t cls[128] = {};
    ::GetClassNameW(Wnd, cls, 128);
    return cls;
}

struct TWindowSearch {
    DWORD Pid;
    std::wstring Class;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND Wnd, LPARAM Param)
{
    auto* s = reinterpret_cast<TWindowSearch*>(Param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(Wnd, &pid);
    if (pid == s->Pid && ::IsWindowVisible(Wnd) && ClassOf(Wnd) == s->Class) s->Found.push_back(Wnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD Pid, const std::wstring& Class)
{
    TWindowSearch s{Pid, Class, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&s));
    return s.Found;
}

void RealMouse(POINT Screen, DWORD Buttons)
{
    ::SetCursorPos(Screen.x, Screen.y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = Buttons ? Buttons : MOUSEEVENTF_MOVE;  // relative and zero: where the pointer is
    ::SendInput(1, &in, sizeof(in));
}

bool WaitUntil(const std::function<bool()>& Condition, DWORD TimeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + TimeoutMs;
    for (;;) {
        if (Condition()) return true;
        if (::GetTickCount64() >= end) return false;
        ::Sleep(50);
    }
}

std::wstring GetText(HWND Wnd)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(Wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    ::SendMessageTimeoutW(Wnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          5000, &got);
    text.resize(got);
    return text;
}

void SetText(HWND Wnd, const std::wstring& Text)
{
    ::SendMessageW(Wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Text.c_str()));
}

void TypeText(HWND Wnd, const std::wstring& Text)
{
    ::SendMessageW(Wnd, EM_SETSEL, 0, -1);
    ::SendMessageW(Wnd, WM_CHAR, VK_BACK, 0);
    for (wchar_t c : Text)
        if (c != L'\n') ::SendMessageW(Wnd, WM_CHAR, c, 1);
}

std::string Utf8(const std::wstring& Text)
{
    if (Text.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// ================================================================ TProgram

TProgram::~TProgram()
{
    if (Running()) Close(IDYES, 15000);
    if (process_) ::CloseHandle(process_);
    for (auto& [name, atom] : atoms_) ::GlobalDeleteAtom(atom);
}

bool TProgram::Start(const std::wstring& Exe, std::wstring& Error)
{
    std::wstring exe = Exe;
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        Error = L"cannot start " + exe + L" (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    ::WaitForInputIdle(process_, 30000);
    WaitUntil(
        [&] {
            auto found = TopWindows(pid_, L"TfrmMain");
            if (!found.empty()) main_ = found.front();
            return main_ != nullptr || !Running();
        },
        30000);
    if (!main_) {
        Error = Running() ? L"the main window (class TfrmMain) did not appear" : L"the program ended at start";
        return false;
    }
    return true;
}

bool TProgram::Running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

ATOM TProgram::Atom(const std::wstring& Name)
{
    auto it = atoms_.find(Name);
    if (it != atoms_.end()) return it->second;
    ATOM atom = ::GlobalAddAtomW(Name.c_str());
    atoms_[Name] = atom;
    return atom;
}

HWND TProgram::Find(const std::wstring& Name)
{
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(main_, kFindMessage, Atom(Name), 0, SMTO_ABORTIFHUNG, 10000, &result)) return nullptr;
    return reinterpret_cast<HWND>(result);
}

bool TProgram::Click(const std::wstring& Name)
{
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(main_, kClickMessage, Atom(Name), 0, SMTO_ABORTIFHUNG, 30000, &result)) return false;
    return result == 1;
}

bool TProgram::PostClick(const std::wstring& Name) { return ::PostMessageW(main_, kClickMessage, Atom(Name), 0) != 0; }

bool TProgram::Close(int Answer, DWORD TimeoutMs, DWORD* ExitCode)
{
    if (Running()) ::PostMessageW(main_, WM_CLOSE, 0, 0);
    return WaitForEnd(Answer, TimeoutMs, ExitCode);
}

bool TProgram::WaitForEnd(int Answer, DWORD TimeoutMs, DWORD* ExitCode)
{
    if (!process_) return false;
    bool ended = WaitUntil(
        [&] {
            if (!Running()) return true;
            for (const TDialog& d : Dialogs(pid_))
                if (!PressButton(d.Wnd, Answer) && !PressButton(d.Wnd, IDOK)) PressButton(d.Wnd, IDCANCEL);
            return false;
        },
        TimeoutMs);
    if (!ended) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }
    if (ExitCode) ::GetExitCodeProcess(process_, ExitCode);
    return ended;
}

// =========================================================== TRemoteBuffer

TRemoteBuffer::TRemoteBuffer(HANDLE Process, SIZE_T Size)
    : process_(Process), address_(::VirtualAllocEx(Process, nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
{
}

TRemoteBuffer::~TRemoteBuffer()
{
    if (address_) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

void TRemoteBuffer::Write(const void* Data, SIZE_T Size, SIZE_T Offset)
{
    ::WriteProcessMemory(process_, static_cast<char*>(address_) + Offset, Data, Size, nullptr);
}

void TRemoteBuffer::Read(void* Data, SIZE_T Size, SIZE_T Offset) const
{
    ::ReadProcessMemory(process_, static_cast<char*>(address_) + Offset, Data, Size, nullptr);
}

// ================================================================== lists

int ListCount(HWND List) { return static_cast<int>(::SendMessageW(List, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListItemText(HANDLE Process, HWND List, int Index)
{
    constexpr int kChars = 1024;
    TRemoteBuffer buffer(Process, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = reinterpret_cast<LPWSTR>(buffer.Address(sizeof(LVITEMW)));
    item.cchTextMax = kChars;
    buffer.Write(&item, sizeof(item));
    auto n = static_cast<int>(::SendMessageW(List, LVM_GETITEMTEXTW, Index, buffer.Address()));
    std::wstring text(std::max(n, 0), L'\0');
    if (n > 0) buffer.Read(text.data(), n * sizeof(wchar_t), sizeof(LVITEMW));
    return text;
}

RECT ListItemRect(HANDLE Process, HWND List, int Index)
{
    TRemoteBuffer buffer(Process, sizeof(RECT));
    RECT r{};
    r.left = LVIR_LABEL;
    buffer.Write(&r, sizeof(r));
    if (!::SendMessageW(List, LVM_GETITEMRECT, static_cast<WPARAM>(Index), buffer.Address())) return RECT{};
    buffer.Read(&r, sizeof(r));
    ::MapWindowPoints(List, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void ListSelect(HANDLE Process, HWND List, int Index, bool Selected)
{
    TRemoteBuffer buffer(Process, sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | (Index >= 0 ? LVIS_FOCUSED : 0);
    item.state = Selected ? item.stateMask : 0;
    buffer.Write(&item, sizeof(item));
    ::SendMessageW(List, LVM_SETITEMSTATE, static_cast<WPARAM>(Index), buffer.Address());
}

int ListSelectedCount(HWND List) { return static_cast<int>(::SendMessageW(List, LVM_GETSELECTEDCOUNT, 0, 0)); }

int ListFind(HANDLE Process, HWND List, const std::wstring& Suffix)
{
    for (int i = 0, n = ListCount(List); i < n; ++i)
        if (EndsWithNoCase(ListItemText(Process, List, i), Suffix)) return i;
    return -1;
}

void ComboSelect(HWND Combo, int Index)
{
    ::SendMessageW(Combo, CB_SETCURSEL, Index, 0);
    ::SendMessageW(::GetParent(Combo), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(Combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(Combo));
}

// ================================================================== trees

namespace {

using TTreeItem = HTREEITEM;

std::wstring TreeText(HANDLE Process, HWND Tree, TTreeItem Item)
{
    constexpr int kChars = 520;
    TRemoteBuffer buffer(Process, sizeof(TVITEMW) + kChars * sizeof(wchar_t));
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = Item;
    tv.pszText = reinterpret_cast<LPWSTR>(buffer.Address(sizeof(TVITEMW)));
    tv.cchTextMax = kChars;
    buffer.Write(&tv, sizeof(tv));
    if (!::SendMessageW(Tree, TVM_GETITEMW, 0, buffer.Address())) return {};
    std::wstring text(kChars, L'\0');
    buffer.Read(text.data(), kChars * sizeof(wchar_t), sizeof(TVITEMW));
    text.resize(wcsnlen(text.c_str(), kChars));
    return text;
}

TTreeItem TreeNext(HWND Tree, UINT Code, TTreeItem Item)
{
    return reinterpret_cast<TTreeItem>(::SendMessageW(Tree, TVM_GETNEXTITEM, Code, reinterpret_cast<LPARAM>(Item)));
}

// The children of Item (the roots for nullptr), expanding it first and
// giving a lazily filled node a moment to fill.
std::vector<TTreeItem> TreeChildren(HWND Tree, TTreeItem Item, DWORD TimeoutMs)
{
    std::vector<TTreeItem> children;
    auto collect = [&] {
        children.clear();
        TTreeItem c = Item ? TreeNext(Tree, TVGN_CHILD, Item) : TreeNext(Tree, TVGN_ROOT, nullptr);
        for (; c; c = TreeNext(Tree, TVGN_NEXT, c)) children.push_back(c);
        return !children.empty();
    };
    if (Item) ::SendMessageW(Tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Item));
    WaitUntil(collect, TimeoutMs);
    return children;
}

bool IsDriveNode(const std::wstring& Text, const std::wstring& Drive)
{
    std::wstring t = Lower(Text), d = Lower(Drive);
    return t == d || t == d + L"\\" || t.find(L"(" + d + L")") != std::wstring::npos;
}

// Level by level from the roots, at most three levels down, for the node of
// Drive: a level is searched whole before any of its nodes is opened (the
// ones that look like the computer first); the network is not opened.
TTreeItem FindDriveNode(HANDLE Process, HWND Tree, const std::wstring& Drive, std::wstring& Trail)
{
    std::vector<TTreeItem> level = TreeChildren(Tree, nullptr, 10000);
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<TTreeItem> first, rest;
        for (TTreeItem item : level) {
            std::wstring text = TreeText(Process, Tree, item);
            Trail += L"[" + text + L"]";
            if (IsDriveNode(text, Drive)) return item;
            std::wstring lower = Lower(text);
            if (lower.find(L"network") != std::wstring::npos) continue;
            bool computer = lower.find(L"computer") != std::wstring::npos || lower.find(L"pc") != std::wstring::npos;
            (computer ? first : rest).push_back(item);
        }
        first.insert(first.end(), rest.begin(), rest.end());
        level.clear();
        for (TTreeItem item : first)
            for (TTreeItem child : TreeChildren(Tree, item, 500)) level.push_back(child);
    }
    return nullptr;
}

}  // namespace

bool TreeSelectPath(HANDLE Process, HWND Tree, const std::wstring& Folder, std::wstring& Trail)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : Folder + L"\\") {
        if (c == L'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (parts.empty()) return false;
    TTreeItem item = FindDriveNode(Process, Tree, parts[0], Trail);
    if (!item) return false;
    for (size_t i = 1; i < parts.size(); ++i) {
        TTreeItem next = nullptr;
        for (TTreeItem child : TreeChildren(Tree, item, 3000))
            if (Lower(TreeText(Process, Tree, child)) == Lower(parts[i])) next = child;
        Trail += L" > " + parts[i] + (next ? L"" : L" (missing)");
        if (!next) return false;
        item = next;
    }
    ::SendMessageW(Tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    ::SendMessageW(Tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    return TreeNext(Tree, TVGN_CARET, nullptr) == item;
}

// ================================================================ dialogs

std::vector<TDialog> Dialogs(DWORD Pid)
{
    std::vector<TDialog> out;
    for (HWND wnd : TopWindows(Pid, L"#32770")) {
        TDialog d;
        d.Wnd = wnd;
        d.Caption = GetText(wnd);
        if (HWND text = ::GetDlgItem(wnd, 0xFFFF)) d.Text = GetText(text);
        out.push_back(d);
    }
    return out;
}

bool WaitForDialog(DWORD Pid, const std::wstring& Caption, DWORD TimeoutMs, TDialog& Found)
{
    return WaitUntil(
        [&] {
            for (const TDialog& d : Dialogs(Pid))
                if (Caption.empty() || d.Caption == Caption) {
                    Found = d;
                    return true;
                }
            return false;
        },
        TimeoutMs);
}

bool PressButton(HWND Dialog, int Id)
{
    HWND button = ::GetDlgItem(Dialog, Id);
    if (!button || !::IsWindowVisible(button)) return false;
    ::PostMessageW(button, BM_CLICK, 0, 0);
    return true;
}

// ============================================================== screenshot

void Screenshot(const std::wstring& Name)
{
    wchar_t folder[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(L"VELMO_E2E_SHOTS", folder, MAX_PATH)) return;
    ::CreateDirectoryW(folder, nullptr);
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = (w * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + stride * h;
    HANDLE out = ::CreateFileW((std::wstring(folder) + L"\\" + Name + L".bmp").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD put = 0;
        ::WriteFile(out, &file, sizeof(file), &put, nullptr);
        ::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &put, nullptr);
        ::WriteFile(out, bits, stride * h, &put, nullptr);
        ::CloseHandle(out);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

}  // namespace e2e
