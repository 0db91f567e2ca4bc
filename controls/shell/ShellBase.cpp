#include "controls/shell/ShellBase.h"

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
#include "controls/shell/ShellCommon.h"
#include "controls/shell/ShellList.h"

namespace shell {

DWORD ChooseDropEffect(DWORD KeyState, DWORD Allowed, bool SameDrive)
{
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    DWORD wanted = SameDrive ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    const DWORD keys = KeyState & (MK_SHIFT | MK_CONTROL);
    if (keys == MK_SHIFT) wanted = DROPEFFECT_MOVE;
    if (keys == MK_CONTROL) wanted = DROPEFFECT_COPY;
    if (keys == (MK_SHIFT | MK_CONTROL)) wanted = DROPEFFECT_LINK;
    if (Allowed & wanted) return wanted;
    if (Allowed & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    if (Allowed & DROPEFFECT_MOVE) return DROPEFFECT_MOVE;
    return Allowed & DROPEFFECT_LINK;
}

COLORREF AttributeTextColor(std::uint8_t Flags, ShellOptions Options)
{
    // The flags share their bits between list items and tree nodes.
    if ((Flags & TShellListItem::fCompressed) && (Options & soColorCompressed)) return RGB(0, 0, 255);
    if ((Flags & TShellListItem::fEncrypted) && (Options & soColorEncrypted)) return RGB(0, 128, 0);
    return CLR_INVALID;
}

bool IsShownObject(TShFolderObject& Browser, ShellOptions Options)
{
    const bool hidden = Browser.IsHidden();
    if (hidden && !(Options & soShowHidden)) return false;
    const bool folder = Browser.IsFolder();
    // Only folders can be the network or the recycle bin: files are spared
    // the look-ups of the special folders.
    if (folder && !(Options & soShowNethood)) {
        const TShellFolder sf = PidlToSpecialFolder(Browser.GetAbsoluteObjectIDList(),
                                                    ShellFolderBit(SF_NETHOOD) | ShellFolderBit(SF_NETWORK));
        if (sf == SF_NETHOOD || sf == SF_NETWORK) return false;
    }
    if (!(Options & soShowRecycleBin)) {
        if (folder && PidlToSpecialFolder(Browser.GetAbsoluteObjectIDList(), ShellFolderBit(SF_BITBUCKET)) == SF_BITBUCKET)
            return false;
        if (hidden) {
            const std::wstring name = Browser.GetObjectName();
            if (name.size() >= 6 && classlib::WideSameText(name.substr(0, 6), L"RECYCL")) return false;
        }
    }
    return folder || (Options & soShowFiles);
}

// ---- link client

class TShellLinkClient::TIconSink : public classlib::TComObject<IIconViewer, IID_IIconViewer> {
public:
    explicit TIconSink(TShellLinkClient* Client) : client_(Client) {}
    // Main thread (the work items' done step).
    void STDMETHODCALLTYPE SetIconIndex(int IconIndex, std::uint8_t Kind, classlib::TObject* Item) override
    {
        if (client_) client_->IconArrived(IconIndex, Kind, Item);
    }
    void Detach() { client_ = nullptr; }

private:
    ~TIconSink() override = default;
    TShellLinkClient* client_;
};

TShellLinkClient::TShellLinkClient()
    : iconSink_(new TIconSink(this)), smallIcons_(std::make_unique<TShSystemImageList>(nullptr))
{
}

TShellLinkClient::~TShellLinkClient()
{
    if (link_) link_->UnregisterControl(this);
    iconSink_->Detach();
    iconSink_->Release();
}

void TShellLinkClient::DetachIcons() { iconSink_->Detach(); }

void TShellLinkClient::QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, TPidl Pidl, std::uint8_t Kind)
{
    if (!Pidl) return;
    ShellWorkPool()->AddWorkItem(new TIconWorkItem(std::move(Pidl), Group, Tag, iconSink_, Kind));
}

void TShellLinkClient::CancelWork(classlib::TObject* Owner, classlib::TObject* Group)
{
    if (ShellWorkPoolExists()) ShellWorkPool()->CancelWorkItems(Owner, Group);
}

void STDMETHODCALLTYPE TShellLinkClient::SetShellLink(TShellLink* Link)
{
    if (link_ == Link) return;
    TShellLink* old = link_;
    link_ = nullptr;
    if (old) old->UnregisterControl(this);
    link_ = Link;
    if (Link) Link->RegisterControl(this);
}

std::wstring TShellLinkClient::PathOfPidl(LPCITEMIDLIST Pidl)
{
    wchar_t buf[MAX_PATH * 4] = {};
    if (!Pidl || !::SHGetPathFromIDListW(Pidl, buf)) return L"";
    return buf;
}

namespace {

// The effects Files may have when dropped into Folder, within Allowed; Same
// Drive tells whether they all share Folder's drive.
DWORD PossibleDropEffects(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder,
                          bool& SameDrive)
{
    SameDrive = true;
    if (!Files || Files->GetCount() == 0 || Folder.empty()) return DROPEFFECT_NONE;
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& f = Files->GetStrings(i);
        // A folder onto itself or into its own tree.
        if (SamePath(f, Folder) || IsPathBelow(f, Folder)) return DROPEFFECT_NONE;
        // Already there: only the right button's menu may still make links
        // beside it.
        if (SamePath(classlib::ExtractFilePath(f), Folder))
            Allowed &= (KeyState & MK_RBUTTON) ? DWORD(DROPEFFECT_LINK) : DWORD(DROPEFFECT_NONE);
        SameDrive = SameDrive && classlib::WideSameText(classlib::ExtractFileDrive(f), classlib::ExtractFileDrive(Folder));
    }
    return Allowed;
}

}  // namespace

DWORD DropEffectInto(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder)
{
    bool sameDrive = true;
    const DWORD possible = PossibleDropEffects(Files, KeyState, Allowed, Folder, sameDrive);
    return possible ? ChooseDropEffect(KeyState, possible, sameDrive) : DWORD(DROPEFFECT_NONE);
}

bool CopyOrMoveInto(HWND Owner, const classlib::TStringList* Files, const std::wstring& Folder, DWORD Effect,
                    DWORD* Error)
{
    if (Error) *Error = 0;
    if (!Files || Files->GetCount() == 0 || Folder.empty()) return false;
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(Folder);
    std::wstring from;
    std::vector<std::wstring> names;
    for (int i = 0; i < Files->GetCount(); ++i) {
        from += Files->GetStrings(i);
        from.push_back(L'\0');
        names.push_back(classlib::ExtractFileName(Files->GetStrings(i)));
    }
    from.push_back(L'\0');
    std::wstring to = folder;
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.hwnd = Owner;
    op.wFunc = Effect == DROPEFFECT_MOVE ? FO_MOVE : FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    // A failed or cancelled operation is reported as no drop at all; so is
    // one that claims success without a single file arriving.
    const int result = ::SHFileOperationW(&op);
    if (op.fAnyOperationsAborted) {
        if (Error) *Error = ERROR_CANCELLED;
        return false;
    }
    if (result != 0) {
        if (Error) *Error = DWORD(result);
        return false;
    }
    return std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return PathExists(folder + n); });
}

std::wstring DropRefusal(DWORD Effect, int Count, const std::wstring& Folder, DWORD Error)
{
    const wchar_t* verb = Effect == DROPEFFECT_MOVE ? L"moved" : Effect == DROPEFFECT_LINK ? L"linked" : L"copied";
    std::wstring reason = SystemErrorText(Error);
    while (!reason.empty() && (reason.back() == L'.' || reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' '))
        reason.pop_back();
    if (reason.empty()) reason = L"error " + std::to_wstring(Error);
    const std::wstring what = Count == 1 ? L"The dropped object" : L"The " + std::to_wstring(Count) + L" dropped objects";
    return what + L" could not be " + verb + L" into \"" + classlib::ExcludeTrailingPathDelimiter(Folder) + L"\": " +
           reason + L".";
}

std::function<void(const std::wstring&)> RefusalTeller(const TRefusalEvent& Handler, classlib::TObject* Sender,
                                                       HWND Window)
{
    return [&Handler, Sender, Window](const std::wstring& Message) {
        if (Window && ::IsWindow(Window)) TellRefusal(Handler, Sender, Window, Message);
    };
}

void TellRefusal(const TRefusalEvent& Handler, classlib::TObject* Sender, HWND Window, const std::wstring& Message)
{
    if (Message.empty()) return;
    if (Handler)
        Handler(Sender, Message);
    else if (Window && ::IsWindow(Window))
        ::MessageBoxW(Window, Message.c_str(), nullptr, MB_OK | MB_ICONWARNING);
}

bool LinkInto(const classlib::TStringList* Files, const std::wstring& Folder)
{
    if (!Files || Folder.empty()) return false;
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(Folder);
    bool any = false;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& target = Files->GetStrings(i);
        if (!PathExists(target)) continue;
        const std::wstring name = classlib::ExtractFileName(target);
        std::wstring file = folder + name + L".lnk";
        for (int n = 2; PathExists(file); ++n) file = folder + name + L" (" + std::to_wstring(n) + L").lnk";
        TComRef<IShellLinkW> link;
        if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
            continue;
        TComRef<IPersistFile> persist;
        if (FAILED(link->SetPath(target.c_str())) ||
            FAILED(link->QueryInterface(IID_IPersistFile, persist.PutVoid())) ||
            FAILED(persist->Save(file.c_str(), TRUE)))
            continue;
        any = any || FileExistsLong(file);
    }
    return any;
}

DWORD AskDropEffect(HWND Owner, POINT At, DWORD Allowed, DWORD Default)
{
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    if (!Owner || !::IsWindow(Owner) || !Allowed) return DROPEFFECT_NONE;
    classlib::TOwnedMenu menu(::CreatePopupMenu());
    if (!menu) return DROPEFFECT_NONE;
    // Each entry's command is the effect it stands for; "Cancel" has one of
    // its own that is no effect.
    constexpr UINT cancel = 0x100;
    const std::pair<DWORD, const wchar_t*> entries[] = {
        {DROPEFFECT_COPY, L"Copy Here"},
        {DROPEFFECT_MOVE, L"Move Here"},
        {DROPEFFECT_LINK, L"Create Shortcuts Here"},
    };
    for (const auto& [effect, text] : entries)
        ::AppendMenuW(menu.Get(), MF_STRING | ((Allowed & effect) ? 0u : UINT(MF_GRAYED)), effect, text);
    ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu.Get(), MF_STRING, cancel, L"Cancel");
    if (Default & Allowed) ::SetMenuDefaultItem(menu.Get(), Default & Allowed, FALSE);
    const UINT chosen = UINT(::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_LEFTALIGN |
                                                              TPM_TOPALIGN,
                                              At.x, At.y, 0, Owner, nullptr));
    for (const auto& entry : entries)
        if (chosen == entry.first && (Allowed & entry.first)) return entry.first;
    return DROPEFFECT_NONE;
}

namespace {

// The drop target of one file-system folder (reference counted: the
// controls and OLE hold it). The effect is chosen again at the drop from
// the key state given there; a drag made with the right button (as the
// last DragOver saw it) lets the user choose it from a menu instead.
class TFolderDropTarget final : public classlib::TComObject<IDropTarget, IID_IDropTarget> {
public:
    TFolderDropTarget(std::wstring Folder, HWND Owner, std::function<void(const std::wstring&)> Refused)
        : folder_(std::move(Folder)), owner_(Owner), refused_(std::move(Refused))
    {
    }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_ = GetFilenamesFromDataObject(Data);
        keys_ = KeyState;
        *Effect = DropEffectInto(files_.get(), KeyState, *Effect, folder_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        keys_ = KeyState;
        *Effect = DropEffectInto(files_.get(), KeyState, *Effect, folder_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        files_.reset();
        keys_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_.reset();
        // OLE gives the keys after the button went up: the right button is
        // known from the drag itself.
        const bool menu = ((keys_ | KeyState) & MK_RBUTTON) != 0;
        keys_ = 0;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        const DWORD keys = KeyState | (menu ? DWORD(MK_RBUTTON) : 0);
        bool sameDrive = true;
        const DWORD possible = PossibleDropEffects(files.get(), keys, *Effect, folder_, sameDrive);
        DWORD effect = possible ? ChooseDropEffect(keys, possible, sameDrive) : DWORD(DROPEFFECT_NONE);
        // The menu offers only what the source allows and the place admits;
        // the keys' effect is its default.
        if (menu && effect != DROPEFFECT_NONE) effect = AskDropEffect(owner_, POINT{Point.x, Point.y}, possible, effect);
        bool done = false;
        DWORD error = 0;
        if (effect == DROPEFFECT_LINK)
            done = LinkInto(files.get(), folder_);
        else if (effect != DROPEFFECT_NONE)
            done = CopyOrMoveInto(owner_, files.get(), folder_, effect, &error);
        *Effect = done ? effect : DROPEFFECT_NONE;
        // A copy or move the shell refused is told; one it reports as done
        // (files it skipped, nothing to do) is not.
        if (!done && error != 0 && error != ERROR_CANCELLED && refused_ && files)
            refused_(DropRefusal(effect, files->GetCount(), folder_, error));
        return S_OK;
    }

private:
    ~TFolderDropTarget() = default;
    std::wstring folder_;
    HWND owner_;
    std::function<void(const std::wstring&)> refused_;
    std::unique_ptr<classlib::TStringList> files_;
    DWORD keys_ = 0;
};

}  // namespace

IDropTarget* NewFolderDropTarget(const std::wstring& Folder, HWND Owner,
                                 std::function<void(const std::wstring&)> Refused)
{
    return new TFolderDropTarget(classlib::IncludeTrailingPathDelimiter(Folder), Owner, std::move(Refused));
}

DWORD CopyModeEffect(TShCopyMode Mode)
{
    switch (Mode) {
    case cmCopy: return DROPEFFECT_COPY;
    case cmMove: return DROPEFFECT_MOVE;
    case cmLink: return DROPEFFECT_LINK;
    default: return DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    }
}

TShellOperations DropOperations(DWORD Effect, const classlib::TStringList* Files)
{
    switch (Effect) {
    case DROPEFFECT_COPY: return OperationBit(sopCopy) | OperationBit(sopDrop);
    case DROPEFFECT_MOVE: return OperationBit(sopMove) | OperationBit(sopDrop);
    case DROPEFFECT_LINK: return OperationBit(sopDrop);
    default: break;
    }
    // A target that moved the files itself may answer no effect: only the
    // files themselves tell a move from a drop that was refused or
    // cancelled.
    if (IsWinNT && Files && Files->GetCount() > 0 && !PathExists(Files->GetStrings(0)))
        return OperationBit(sopMove) | OperationBit(sopDrop);
    return 0;
}

TShellOperations DragOperations(DWORD Effect)
{
    switch (Effect) {
    case DROPEFFECT_COPY: return OperationBit(sopCopy) | OperationBit(sopDrag);
    case DROPEFFECT_MOVE: return OperationBit(sopMove) | OperationBit(sopRemove) | OperationBit(sopDrag);
    case DROPEFFECT_LINK: return OperationBit(sopDrag);
    default: return 0;
    }
}

HRESULT ContinueDragAnswer(BOOL EscapePressed, DWORD KeyState, int DragButton)
{
    if (EscapePressed) return DRAGDROP_S_CANCEL;
    const DWORD dragBit = DragButton == 2 ? MK_RBUTTON : MK_LBUTTON;
    if (KeyState & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON) & ~dragBit) return DRAGDROP_S_CANCEL;
    return (KeyState & dragBit) ? S_OK : DRAGDROP_S_DROP;
}

}  // namespace shell
