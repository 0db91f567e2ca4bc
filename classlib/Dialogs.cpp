#include "classlib/Dialogs.h"

#include <algorithm>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"

namespace classlib {

namespace {

// The common dialog library, loaded on first use.
struct TCommDlg {
    using TFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW*);
    using TErrorFn = DWORD(WINAPI*)();
    TFileNameFn Open = nullptr;
    TFileNameFn Save = nullptr;
    TErrorFn Error = nullptr;
};

const TCommDlg& CommDlg()
{
    static const TCommDlg dlg = [] {
        TCommDlg d;
        if (HMODULE lib = ::LoadLibraryW(L"comdlg32.dll")) {
            d.Open = reinterpret_cast<TCommDlg::TFileNameFn>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "GetOpenFileNameW")));
            d.Save = reinterpret_cast<TCommDlg::TFileNameFn>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "GetSaveFileNameW")));
            d.Error = reinterpret_cast<TCommDlg::TErrorFn>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "CommDlgExtendedError")));
        }
        if (!d.Open || !d.Save || !d.Error) RaiseLastOSError();
        return d;
    }();
    return dlg;
}

// Buffer of the chosen names: one long path, or many names of a folder.
constexpr std::size_t kSingleFileBuffer = 32768;
constexpr std::size_t kMultiFileBuffer = 1u << 20;

bool IsFullPath(const std::wstring& Name)
{
    return (Name.size() >= 2 && Name[1] == L':') || (Name.size() >= 2 && Name[0] == L'\\' && Name[1] == L'\\');
}

}  // namespace

std::wstring FilterToSystem(const std::wstring& Filter)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    if (Filter.empty()) return std::wstring();
    for (;;) {
        std::size_t p = Filter.find(L'|', start);
        parts.push_back(Filter.substr(start, p == std::wstring::npos ? std::wstring::npos : p - start));
        if (p == std::wstring::npos) break;
        start = p + 1;
    }
    // A description without its mask is dropped.
    if (parts.size() % 2) parts.pop_back();
    std::wstring out;
    for (const std::wstring& s : parts) {
        out += s;
        out.push_back(L'\0');
    }
    if (!out.empty()) out.push_back(L'\0');
    return out;
}

DWORD OpenOptionsToFlags(TOpenOptions Options)
{
    struct Map {
        TOpenOptions option;
        DWORD flag;
    };
    static const Map map[] = {
        {ofReadOnly, OFN_READONLY},
        {ofOverwritePrompt, OFN_OVERWRITEPROMPT},
        {ofHideReadOnly, OFN_HIDEREADONLY},
        {ofNoChangeDir, OFN_NOCHANGEDIR},
        {ofAllowMultiSelect, OFN_ALLOWMULTISELECT},
        {ofPathMustExist, OFN_PATHMUSTEXIST},
        {ofFileMustExist, OFN_FILEMUSTEXIST},
        {ofCreatePrompt, OFN_CREATEPROMPT},
        {ofNoReadOnlyReturn, OFN_NOREADONLYRETURN},
        {ofNoTestFileCreate, OFN_NOTESTFILECREATE},
        {ofNoDereferenceLinks, OFN_NODEREFERENCELINKS},
        {ofEnableSizing, OFN_ENABLESIZING},
        {ofDontAddToRecent, OFN_DONTADDTORECENT},
        {ofForceShowHidden, OFN_FORCESHOWHIDDEN},
        {ofShowHelp, OFN_SHOWHELP},
    };
    DWORD flags = (Options & ofOldStyleDialog) ? 0 : OFN_EXPLORER;
    for (const Map& m : map)
        if (Options & m.option) flags |= m.flag;
    return flags;
}

void ReadDialogFiles(const OPENFILENAMEW& Ofn, TStrings* Files)
{
    Files->Clear();
    const wchar_t* buffer = Ofn.lpstrFile;
    const std::size_t size = buffer ? Ofn.nMaxFile : 0;
    auto nameAt = [&](std::size_t At) {
        std::size_t end = At;
        while (end < size && buffer[end]) ++end;
        return std::wstring(buffer + At, end - At);
    };
    const std::wstring first = nameAt(0);
    if (first.empty()) return;
    // A multiple choice: the folder's zero sits right before the first name.
    const std::size_t offset = Ofn.nFileOffset;
    const bool multiple = (Ofn.Flags & OFN_ALLOWMULTISELECT) && offset == first.size() + 1 && offset < size &&
                          buffer[offset] != L'\0';
    if (!multiple) {
        Files->Add(first);
        return;
    }
    std::wstring folder = first;
    if (folder.back() != L'\\') folder += L'\\';
    for (std::size_t i = offset; i < size && buffer[i];) {
        const std::wstring name = nameAt(i);
        Files->Add(IsFullPath(name) ? name : folder + name);
        i += name.size() + 1;
    }
}

void CentreOverOwner(HWND Dialog)
{
    HWND owner = Dialog ? ::GetWindow(Dialog, GW_OWNER) : nullptr;
    RECT over{}, box{};
    if (!owner || !::GetWindowRect(owner, &over) || !::GetWindowRect(Dialog, &box)) return;
    const int width = box.right - box.left, height = box.bottom - box.top;
    int left = (over.left + over.right) / 2 - width / 2;
    int top = (over.top + over.bottom) / 2 - height / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        left = std::max<int>(work.left, std::min<int>(left, work.right - width));
        top = std::max<int>(work.top, std::min<int>(top, work.bottom - height));
    }
    ::SetWindowPos(Dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The hook of the file dialogs: the system places them by its own rule
// (under Wine at the screen's top-left); once the dialog is ready it moves
// over its owner.
UINT_PTR CALLBACK FileDialogHook(HWND Child, UINT Msg, WPARAM, LPARAM LParam)
{
    if (Msg == WM_NOTIFY && LParam && reinterpret_cast<const NMHDR*>(LParam)->code == CDN_INITDONE)
        CentreOverOwner(::GetParent(Child));
    return 0;
}

}  // namespace

// ============================================================= TOpenDialog

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner), files_(std::make_unique<TStringList>()) {}

TOpenDialog::~TOpenDialog() = default;

void TOpenDialog::Prepare(TParams& P, HWND Owner) const
{
    P = TParams();
    P.FilterBuffer = FilterToSystem(Filter);
    P.FileBuffer.assign((Options & ofAllowMultiSelect) ? kMultiFileBuffer : kSingleFileBuffer, L'\0');
    // The initial name goes in only when it fits (with its terminator).
    if (FileName.size() < P.FileBuffer.size()) FileName.copy(P.FileBuffer.data(), FileName.size());

    OPENFILENAMEW& o = P.Ofn;
    o.lStructSize = sizeof(OPENFILENAMEW);
    o.hwndOwner = Owner;
    o.lpstrFilter = P.FilterBuffer.empty() ? nullptr : P.FilterBuffer.c_str();
    o.nFilterIndex = FilterIndex > 0 ? static_cast<DWORD>(FilterIndex) : 1;
    o.lpstrFile = P.FileBuffer.data();
    o.nMaxFile = static_cast<DWORD>(P.FileBuffer.size());
    o.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    o.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    o.Flags = OpenOptionsToFlags(Options);
    if (Owner && (o.Flags & OFN_EXPLORER)) {
        // A hooked dialog stays resizable only when asked to.
        o.Flags |= OFN_ENABLEHOOK | OFN_ENABLESIZING;
        o.lpfnHook = &FileDialogHook;
    }
    // The system wants the extension without its dot.
    o.lpstrDefExt = nullptr;
    if (!DefaultExt.empty()) o.lpstrDefExt = DefaultExt.c_str() + (DefaultExt[0] == L'.' ? 1 : 0);
}

void TOpenDialog::Accept(const TParams& P)
{
    ReadDialogFiles(P.Ofn, files_.get());
    FileName = files_->GetCount() > 0 ? files_->GetStrings(0) : std::wstring();
    FilterIndex = static_cast<int>(P.Ofn.nFilterIndex);
    Options &= ~(ofReadOnly | ofExtensionDifferent);
    if (P.Ofn.Flags & OFN_READONLY) Options |= ofReadOnly;
    if (P.Ofn.Flags & OFN_EXTENSIONDIFFERENT) Options |= ofExtensionDifferent;
}

bool TOpenDialog::Execute(HWND Owner)
{
    TParams p;
    Prepare(p, Owner ? Owner : ::GetActiveWindow());
    if (!RunDialog(&p.Ofn)) {
        DWORD error = CommDlg().Error();
        if (error) throw EOSError(Format(L"The file dialog failed (error %u)", static_cast<unsigned>(error)), error);
        return false;
    }
    Accept(p);
    return true;
}

BOOL TOpenDialog::RunDialog(OPENFILENAMEW* Ofn) { return CommDlg().Open(Ofn); }

BOOL TSaveDialog::RunDialog(OPENFILENAMEW* Ofn) { return CommDlg().Save(Ofn); }

// ========================================================== message boxes

UINT MessageBoxStyle(TMsgDlgType DlgType, TMsgDlgButtons Buttons)
{
    UINT style = 0;
    switch (DlgType) {
    case mtWarning: style = MB_ICONWARNING; break;
    case mtError: style = MB_ICONERROR; break;
    case mtInformation: style = MB_ICONINFORMATION; break;
    case mtConfirmation: style = MB_ICONQUESTION; break;
    case mtCustom: style = 0; break;
    }
    if ((Buttons & mbYesNoCancel) == mbYesNoCancel)
        style |= MB_YESNOCANCEL;
    else if ((Buttons & mbYesNo) == mbYesNo)
        style |= MB_YESNO;
    else if ((Buttons & mbAbortRetryIgnore) == mbAbortRetryIgnore)
        style |= MB_ABORTRETRYIGNORE;
    else if ((Buttons & (mbRetry | mbCancel)) == (mbRetry | mbCancel))
        style |= MB_RETRYCANCEL;
    else if ((Buttons & mbOKCancel) == mbOKCancel)
        style |= MB_OKCANCEL;
    else
        style |= MB_OK;
    return style;
}

TModalResult MessageDlg(const std::wstring& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int)
{
    static const wchar_t* const captions[] = {L"Warning", L"Error", L"Information", L"Confirm"};
    std::wstring title;
    if (DlgType == mtCustom)
        title = Application ? Application->Title : std::wstring();
    else
        title = captions[DlgType];
    HWND owner = ::GetActiveWindow();
    // The message box's answers are the modal results of the same names.
    return ::MessageBoxW(owner, Msg.c_str(), title.c_str(), MessageBoxStyle(DlgType, Buttons) | MB_TASKMODAL);
}

void ShowMessage(const std::wstring& Msg)
{
    std::wstring title = Application ? Application->Title : std::wstring();
    ::MessageBoxW(::GetActiveWindow(), Msg.c_str(), title.c_str(), MB_OK | MB_TASKMODAL);
}

// ============================================================ TColorDialog

TColorDialog::TColorDialog(TComponent* AOwner) : TComponent(AOwner)
{
    for (COLORREF& c : custom_) c = RGB(255, 255, 255);
}

bool TColorDialog::Execute(HWND Owner)
{
    using TChooseColorFn = BOOL(WINAPI*)(CHOOSECOLORW*);
    static const TChooseColorFn choose = [] {
        HMODULE lib = ::LoadLibraryW(L"comdlg32.dll");
        auto fn = lib ? reinterpret_cast<TChooseColorFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "ChooseColorW")))
                      : nullptr;
        if (!fn) RaiseLastOSError();
        return fn;
    }();
    CHOOSECOLORW cc{};
    cc.lStructSize = sizeof(cc);
    cc.hwndOwner = Owner ? Owner : ::GetActiveWindow();
    cc.rgbResult = static_cast<COLORREF>(ColorToRGB(Color));
    cc.lpCustColors = custom_;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!choose(&cc)) {
        DWORD error = CommDlg().Error();
        if (error) throw EOSError(Format(L"The colour dialog failed (error %u)", static_cast<unsigned>(error)), error);
        return false;
    }
    Color = static_cast<TColor>(cc.rgbResult);
    return true;
}

}  // namespace classlib
