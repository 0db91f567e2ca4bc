#include "controls/shell/ShDialogs.h"

#include <shlobj.h>

#include "classlib/Dialogs.h"
#include "classlib/Forms.h"
#include "classlib/TextConv.h"
#include "controls/shell/ShFolderObject.h"

namespace shell {

namespace {

// Shared by every dialog of the process: the path the next dialog starts at.
std::wstring& LastBrowsedPath()
{
    static std::wstring path;
    return path;
}

constexpr int kOkButton = IDOK;

}  // namespace

TShBaseBrowseDialog::TShBaseBrowseDialog(classlib::TComponent* AOwner)
    : TShBaseDialog(AOwner), path_(LastBrowsedPath())
{
}

void TShBaseBrowseDialog::SetRootedAtFileSystemFolder(const std::wstring& Value)
{
    rootedAtFs_ = Value;
    rootedAt_ = SF_FILESYSTEMFOLDER;
}

void TShBaseBrowseDialog::SetOptions(TShBrowseFlags Value)
{
    if (Value & BrowseFlag(bfEditBox)) Value |= BrowseFlag(bfNewDialogStyle);
    if (Value & BrowseFlag(bfBrowseForComputer)) Value &= TShBrowseFlags(~BrowseFlag(bfNewDialogStyle));
    if (!(Value & BrowseFlag(bfNewDialogStyle))) Value &= TShBrowseFlags(~BrowseFlag(bfEditBox));
    options_ = Value;
}

void TShBaseBrowseDialog::SetWindowTitle(const std::wstring& Value)
{
    windowTitle_ = Value;
    if (dialogWindow_) ::SendMessageW(dialogWindow_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(windowTitle_.c_str()));
}

void TShBaseBrowseDialog::SetDialogButtonCaption(const std::wstring& Value)
{
    buttonCaption_ = Value;
    if (dialogWindow_) ::SetWindowTextW(::GetDlgItem(dialogWindow_, kOkButton), buttonCaption_.c_str());
}

int TShBaseBrowseDialog::GetDialogLeft() const
{
    RECT r{};
    if (dialogWindow_ && ::GetWindowRect(dialogWindow_, &r)) return r.left;
    return dialogLeft_;
}

int TShBaseBrowseDialog::GetDialogTop() const
{
    RECT r{};
    if (dialogWindow_ && ::GetWindowRect(dialogWindow_, &r)) return r.top;
    return dialogTop_;
}

void TShBaseBrowseDialog::SetDialogLeft(int Value)
{
    dialogLeft_ = Value;
    if (dialogWindow_) Place();
}

void TShBaseBrowseDialog::SetDialogTop(int Value)
{
    dialogTop_ = Value;
    if (dialogWindow_) Place();
}

void TShBaseBrowseDialog::Place()
{
    int left = dialogLeft_;
    int top = dialogTop_;
    if ((left <= 0 || top <= 0) && ::GetWindow(dialogWindow_, GW_OWNER)) {
        // No place given: over the window that opened it.
        classlib::CentreOverOwner(dialogWindow_);
        return;
    }
    if (left <= 0 || top <= 0) {
        RECT r{};
        ::GetWindowRect(dialogWindow_, &r);
        left = ::GetSystemMetrics(SM_CXSCREEN) / 2 - (r.right - r.left) / 2;
        top = ::GetSystemMetrics(SM_CYSCREEN) / 2 - (r.bottom - r.top) / 2;
    }
    ::SetWindowPos(dialogWindow_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TShBaseBrowseDialog::EnableOk()
{
    okEnabled_ = !(options_ & BrowseFlag(bfFileSystemOnly)) || !path_.empty();
    ::SendMessageW(dialogWindow_, BFFM_ENABLEOK, 0, okEnabled_ ? TRUE : FALSE);
}

std::wstring TShBaseBrowseDialog::DisplayPath(LPCITEMIDLIST Pidl)
{
    if (!Pidl) return {};
    std::wstring path = PidlToPath(Pidl);
    if (!path.empty()) return path;
    try {
        TShFolderObject folder(nullptr);
        folder.SetShowErrorMessages(false);
        folder.SetFolderIDList(Pidl);
        path = folder.GetFolder();
        if (path.size() > 3 && path.back() == L'\\') path.pop_back();
    } catch (const classlib::Exception&) {
        path.clear();
    }
    return path;
}

namespace {

// The shell's name of an absolute list inside its parent; empty on failure.
std::wstring NameInParent(LPCITEMIDLIST Pidl)
{
    try {
        TShFolderObject folder(nullptr);
        folder.SetShowErrorMessages(false);
        folder.SetFolderIDList(Pidl);
        folder.SelectFolderInParent();
        return folder.GetDisplayName();
    } catch (const classlib::Exception&) {
        return {};
    }
}

}  // namespace

bool TShBaseBrowseDialog::Execute()
{
    HWND owner = nullptr;
    for (classlib::TComponent* c = GetOwner(); c; c = c->GetOwner()) {
        if (auto* form = dynamic_cast<classlib::TCustomForm*>(c)) {
            owner = form->GetHandle();
            break;
        }
        if (!dynamic_cast<classlib::TWinControl*>(c)) break;
    }
    if (!owner && classlib::Application) {
        classlib::TCustomForm* mainForm = classlib::Application->GetMainForm();
        if (mainForm && mainForm->HandleAllocated()) owner = mainForm->GetHandle();
    }
    if (!owner) owner = ::GetActiveWindow();
    return Execute(owner);
}

bool TShBaseBrowseDialog::Execute(HWND ParentWnd)
{
    validationFailed_ = false;
    const std::wstring pathBefore = path_;
    const TShellFolder specialBefore = selectedSpecial_;

    TPidl root;
    if (!rootedAtFs_.empty() && PathExists(rootedAtFs_)) root = PathToPidl(nullptr, rootedAtFs_);
    if (!root) root = SpecialFolderPidl(rootedAt_);

    UINT flags = 0;
    if (options_ & BrowseFlag(bfBrowseIncludeFiles)) flags |= BIF_BROWSEINCLUDEFILES;
    if (options_ & BrowseFlag(bfFileSystemOnly)) flags |= BIF_RETURNONLYFSDIRS;
    if (options_ & BrowseFlag(bfEditBox)) flags |= BIF_EDITBOX;
    if (options_ & BrowseFlag(bfReturnInvalidPath)) flags |= BIF_VALIDATE;
    if (options_ & BrowseFlag(bfBrowseForComputer)) flags |= BIF_BROWSEFORCOMPUTER;
    if (options_ & BrowseFlag(bfNewDialogStyle)) flags |= BIF_NEWDIALOGSTYLE;

    DoShow();
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW bi{};
    bi.hwndOwner = ParentWnd;
    bi.pidlRoot = root.get();
    bi.pszDisplayName = display;
    bi.lpszTitle = title_.c_str();
    bi.ulFlags = flags;
    bi.lpfn = &TShBaseBrowseDialog::StaticCallback;
    bi.lParam = reinterpret_cast<LPARAM>(this);
    TPidl chosen(reinterpret_cast<ITEMIDLIST*>(::SHBrowseForFolderW(&bi)));

    if (!chosen || validationFailed_) {
        selectedSpecial_ = SF_FILESYSTEMFOLDER;
        if (!validationFailed_) {
            // Cancelled: the selections seen while the picker was open are
            // not the caller's answer.
            path_ = pathBefore;
            selectedSpecial_ = specialBefore;
        }
    } else {
        selectedSpecial_ = PidlToSpecialFolder(chosen.get());
        path_ = DisplayPath(chosen.get());
        displayName_ = display[0] ? std::wstring(display) : NameInParent(chosen.get());
        if (!path_.empty()) LastBrowsedPath() = path_;
    }
    DoClose();
    dialogWindow_ = nullptr;
    return chosen != nullptr;
}

int CALLBACK TShBaseBrowseDialog::StaticCallback(HWND Wnd, UINT Msg, LPARAM LParam, LPARAM Data)
{
    auto* self = reinterpret_cast<TShBaseBrowseDialog*>(Data);
    return self ? self->BrowseCallback(Wnd, Msg, LParam) : 0;
}

int TShBaseBrowseDialog::BrowseCallback(HWND Wnd, UINT Msg, LPARAM LParam)
{
    switch (Msg) {
    case BFFM_INITIALIZED: {
        dialogWindow_ = Wnd;
        Place();
        TPidl select = selectedSpecial_ != SF_FILESYSTEMFOLDER ? SpecialFolderPidl(selectedSpecial_)
                                                               : PathToPidl(nullptr, path_);
        if (select) ::SendMessageW(Wnd, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(select.get()));
        EnableOk();
        if (!windowTitle_.empty()) SetWindowTitle(windowTitle_);
        if (!buttonCaption_.empty()) SetDialogButtonCaption(buttonCaption_);
        break;
    }
    case BFFM_SELCHANGED:
        if (dialogWindow_) {
            auto pidl = reinterpret_cast<LPCITEMIDLIST>(LParam);
            path_ = DisplayPath(pidl);
            selectedSpecial_ = PidlToSpecialFolder(pidl);
            EnableOk();
            OnChange(this);
        }
        break;
    case BFFM_VALIDATEFAILEDA:
        validationFailed_ = true;
        if (LParam) path_ = classlib::AnsiToWide(reinterpret_cast<const char*>(LParam));
        break;
    case BFFM_VALIDATEFAILEDW:
        validationFailed_ = true;
        if (LParam) path_ = reinterpret_cast<const wchar_t*>(LParam);
        break;
    default:
        break;
    }
    return 0;
}

}  // namespace shell
