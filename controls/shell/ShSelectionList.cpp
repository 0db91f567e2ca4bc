#include "controls/shell/ShSelectionList.h"

#include <functional>

#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/shell/ShellLink.h"

namespace shell {

namespace {

bool EndsWithStar(const std::wstring& p)
{
    return p.size() >= 2 && p[p.size() - 1] == L'*' && p[p.size() - 2] == L'\\';
}

// "X\*" -> "X"; other paths without a trailing backslash.
std::wstring FolderOf(const std::wstring& entry)
{
    std::wstring s = entry;
    if (!s.empty() && s.back() == L'*')
        s.pop_back();
    while (s.size() > 1 && s.back() == L'\\')
        s.pop_back();
    return s;
}

// The folder holding p (no trailing backslash); empty at the top.
std::wstring ParentOf(const std::wstring& p)
{
    const std::wstring s = FolderOf(p);
    const std::size_t pos = s.rfind(L'\\');
    if (pos == std::wstring::npos || pos == 0)
        return {};
    return s.substr(0, pos);
}

std::wstring FolderEntry(const std::wstring& folder)
{
    return FolderOf(folder) + L"\\*";
}

// Calls Fn(full path, is folder) for every child of Folder ("." and ".."
// skipped) until it answers false. False when the folder cannot be read or
// Fn stopped the walk.
bool ForEachChild(const std::wstring& Folder, const std::function<bool(const std::wstring&, bool)>& Fn)
{
    const std::wstring base = FolderOf(Folder) + L"\\";
    WIN32_FIND_DATAW fd{};
    HANDLE h = FindFirstFileLong(base + L"*", fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool result = true;
    do {
        const std::wstring name = fd.cFileName;
        if (IsDotName(name))
            continue;
        if (!Fn(base + name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
            result = false;
            break;
        }
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return result;
}

}  // namespace

// A folder count reporting to its selection list, unless the list is gone.
class TSelectionSizeItem : public TShFolderSizeWorkItem {
public:
    TSelectionSizeItem(TShSelectionList* AList, const std::wstring& Path, bool Follow)
        : TShFolderSizeWorkItem(Path, Follow, true), list_(AList), alive_(AList->alive_)
    {
        Tag = AList;
        WorkDoneEvent = classlib::TThreadMethod(this, &TSelectionSizeItem::Done);
    }

private:
    void Done()
    {
        if (*alive_)
            list_->SizeWorkDone(this);
    }
    TShSelectionList* list_;
    std::shared_ptr<bool> alive_;
};

// ---------------------------------------------------------------------------
// TShBaseSelectionList

TShBaseSelectionList::TShBaseSelectionList(classlib::TComponent* Owner)
    : classlib::TComponent(Owner), paths_(std::make_unique<classlib::TStringList>()), ownerComponent_(Owner)
{
    paths_->SetCaseSensitive(false);
}

TShBaseSelectionList::~TShBaseSelectionList() = default;

void TShBaseSelectionList::Assign(const classlib::TPersistent* Source)
{
    if (auto* other = dynamic_cast<const TShBaseSelectionList*>(Source)) {
        AssignPaths(other->GetPaths());
        return;
    }
    classlib::TComponent::Assign(Source);
}

std::wstring TShBaseSelectionList::GetPath(int Index)
{
    return paths_->GetStrings(Index);
}

void TShBaseSelectionList::AssignPaths(const classlib::TStrings* List)
{
    CancelSizeWork();
    paths_->BeginUpdate();
    try {
        paths_->Clear();
        if (List) {
            // A copy: List may be this list's own Paths.
            classlib::TStringList copy;
            copy.Assign(List);
            for (int i = 0; i < copy.GetCount(); ++i)
                Check(copy.GetStrings(i));
        }
    } catch (...) {
        paths_->EndUpdate();
        throw;
    }
    paths_->EndUpdate();
}

void TShBaseSelectionList::Clear()
{
    CancelSizeWork();
    paths_->Clear();
}

void TShBaseSelectionList::CancelSizeWork()
{
    if (ShellWorkPoolExists())
        ShellWorkPool()->CancelWorkItems(this, nullptr);
    TotalSize = 0;
    TotalFiles = 0;
    TotalFolders = 0;
}

// ---------------------------------------------------------------------------
// TShSelectionList

TShSelectionList::TShSelectionList(classlib::TComponent* Owner) : TShBaseSelectionList(Owner)
{
    paths_->OnChange = classlib::TNotifyEvent(this, &TShSelectionList::PathsChanged);
}

TShSelectionList::~TShSelectionList()
{
    *alive_ = false;
    CancelSizeWork();
    paths_->OnChange = classlib::TNotifyEvent();
}

void TShSelectionList::PathsChanged(classlib::TObject*)
{
    OnChange(this);
    if (auto* link = dynamic_cast<TShellLink*>(ownerComponent_))
        if (!Updating)
            link->UpdateContentsAll();
}

void TShSelectionList::EndUpdate()
{
    Updating = false;
    PathsChanged(paths_.get());
}

bool TShSelectionList::IsFolderShortcut(const std::wstring& Path)
{
    const std::wstring folder = FolderOf(Path);
    return !folder.empty() && FileExistsLong(folder + L"\\target.lnk");
}

void TShSelectionList::ResolveShortcut(std::wstring& Path) const
{
    if (ResolveFolderShortcuts && IsFolderShortcut(Path)) {
        const std::wstring target = GetShellLinkTarget(FolderOf(Path) + L"\\target.lnk");
        if (!target.empty())
            Path = target;
    }
}

bool TShSelectionList::NormalizeEntry(std::wstring& Path)
{
    if (Path.empty() || Path == L"." || Path == L"..")
        return false;
    std::wstring p = Path;
    if (p.back() == L'*')
        p.pop_back();
    if (p.empty())
        return false;
    if (FileExistsLong(p)) {
        Path = p;
        return true;
    }
    if (DirectoryExistsLong(p)) {
        Path = FolderEntry(p);
        return true;
    }
    return false;
}

bool TShSelectionList::IsCoveredByParent(const std::wstring& Path)
{
    std::wstring current = Path;
    // Climbs iteratively: one step per folder level.
    for (;;) {
        if (paths_->IndexOf(current) >= 0)
            return true;
        const std::wstring parent = ParentOf(current);
        if (parent.empty())
            return false;
        const std::wstring parentEntry = FolderEntry(parent);
        if (SamePath(parentEntry, current))
            return false;
        current = parentEntry;
    }
}

TShSelectionState TShSelectionList::StateOf(const std::wstring& Path, bool& ByParent)
{
    ByParent = false;
    if (paths_->IndexOf(Path) >= 0)
        return ssChecked;
    if (IsCoveredByParent(Path)) {
        ByParent = true;
        return ssChecked;
    }
    const std::wstring below = FolderOf(Path) + L"\\";
    for (int i = 0; i < paths_->GetCount(); ++i)
        if (StartsWithText(paths_->GetStrings(i), below))
            return ssGrayed;
    return ssUnChecked;
}

TShSelectionState TShSelectionList::GetState(const std::wstring& Path, bool& ByParent)
{
    ByParent = false;
    if (Path.empty())
        return ssNone;
    if (IsDriveRoot(Path) && !IsDriveReady(Path))
        return ssNone;
    std::wstring p = Path;
    if (IsFolderShortcut(p)) {
        if (!ResolveFolderShortcuts)
            return ssNone;
        ResolveShortcut(p);
    }
    if (!NormalizeEntry(p))
        return ssNone;
    return StateOf(p, ByParent);
}

TShSelectionState TShSelectionList::GetStateOfPath(const std::wstring& Path)
{
    bool byParent = false;
    return GetState(Path, byParent);
}

TShSelectionState TShSelectionList::GetStateOfPidl(LPCITEMIDLIST Pidl, bool& ByParent)
{
    ByParent = false;
    const TShellFolder special = PidlToSpecialFolder(Pidl, ShellFolderBit(SF_NETWORK) | ShellFolderBit(SF_DRIVES));
    if (special == SF_NETWORK || special == SF_DRIVES) {
        for (int i = 0; i < paths_->GetCount(); ++i) {
            const std::wstring e = paths_->GetStrings(i);
            if (special == SF_NETWORK ? e.rfind(L"\\\\", 0) == 0 : (e.size() > 1 && e[1] == L':'))
                return ssGrayed;
        }
        return ssNone;
    }
    return GetState(PidlToPath(Pidl), ByParent);
}

bool TShSelectionList::IsFullyChecked(const std::wstring& Path)
{
    const std::wstring folder = FolderOf(Path);
    if (paths_->IndexOf(folder) >= 0 || paths_->IndexOf(folder + L"\\*") >= 0)
        return true;
    return ForEachChild(folder, [this](const std::wstring& child, bool isFolder) {
        if (isFolder)
            return paths_->IndexOf(child + L"\\*") >= 0 || IsFullyChecked(child);
        return paths_->IndexOf(child) >= 0;
    });
}

void TShSelectionList::FindTopmost(const std::wstring& Folder, const std::wstring& Path, std::wstring& Top)
{
    const std::wstring folder = FolderOf(Folder);
    const std::wstring path = FolderOf(Path);
    Top = path;
    if (folder.empty() || SamePath(folder, path))
        return;
    const bool all = ForEachChild(folder, [&](const std::wstring& child, bool) {
        return SamePath(child, path) || IsFullyChecked(child);
    });
    if (!all)
        return;
    const std::wstring parent = ParentOf(folder);
    if (parent.empty()) {
        Top = folder;  // the whole drive
        return;
    }
    FindTopmost(parent, folder, Top);
}

void TShSelectionList::FindTopmostChecked(const std::wstring& Path, std::wstring& Top)
{
    FindTopmost(ParentOf(Path), Path, Top);
}

void TShSelectionList::ExpandFolder(const std::wstring& Folder, const std::wstring& Except, std::wstring& Rest)
{
    const std::wstring folder = FolderOf(Folder);
    const std::wstring except = FolderOf(Except);
    Rest = folder;
    if (!SamePath(folder, except)) {
        ForEachChild(folder, [&](const std::wstring& child, bool isFolder) {
            if (!SamePath(child, except))
                paths_->Add(isFolder ? child + L"\\*" : child);
            return true;
        });
    }
    const std::wstring parent = ParentOf(folder);
    if (parent.empty())
        return;
    bool byParent = false;
    if (StateOf(FolderEntry(parent), byParent) == ssChecked)
        ExpandFolder(parent, folder, Rest);
}

void TShSelectionList::RemoveBelow(const std::wstring& Path)
{
    const std::wstring below = FolderOf(Path) + L"\\";
    for (int i = paths_->GetCount() - 1; i >= 0; --i)
        if (StartsWithText(paths_->GetStrings(i), below))
            DeleteEntry(i, true);
}

void TShSelectionList::DeleteEntry(int Index, bool Subtract)
{
    const std::wstring entry = paths_->GetStrings(Index);
    if (Subtract && CalculateSizes)
        StartSizeWork(EndsWithStar(entry) ? FolderOf(entry) : entry, true);
    paths_->Delete(Index);
}

void TShSelectionList::StartSizeWork(const std::wstring& Path, bool Negative)
{
    auto* item = new TSelectionSizeItem(this, Path, FollowReparsePoints);
    item->Factor = Negative ? -1 : 1;
    ShellWorkPool()->AddWorkItem(item);
}

void TShSelectionList::SizeWorkDone(TShFolderSizeWorkItem* Item)
{
    if (Item->GetTerminated())
        return;
    TotalSize += std::int64_t(Item->Factor) * std::int64_t(Item->Size);
    TotalFiles += Item->Factor * Item->FileCount;
    TotalFolders += Item->Factor * Item->FolderCount;
    OnCompletedCalculateFiles(this);
    if (paths_->GetCount() == 0) {
        TotalSize = 0;
        TotalFiles = 0;
        TotalFolders = 0;
    }
}

namespace {

// Brackets one change of a string list.
struct TUpdateScope {
    classlib::TStringList* list;
    explicit TUpdateScope(classlib::TStringList* l) : list(l) { list->BeginUpdate(); }
    ~TUpdateScope() { list->EndUpdate(); }
};

}  // namespace

bool TShSelectionList::EntryState(const std::wstring& Path, std::wstring& Entry, TShSelectionState& State,
                                  bool& ByParent)
{
    std::wstring path = Path;
    ResolveShortcut(path);
    if (!NormalizeEntry(path))
        return false;
    Entry = path;
    State = StateOf(Entry, ByParent);
    return true;
}

void TShSelectionList::Check(const std::wstring& Path)
{
    TUpdateScope update(paths_.get());
    std::wstring path;
    TShSelectionState state{};
    bool byParent = false;
    if (!EntryState(Path, path, state, byParent))
        return;
    if (state == ssChecked)
        return;
    if (state == ssGrayed)
        RemoveBelow(path);
    const bool folder = EndsWithStar(path);
    if (CalculateSizes) {
        if (folder) {
            StartSizeWork(FolderOf(path), false);
        } else {
            const std::int64_t size = GetFileSize64(path);
            TotalSize += size > 0 ? size : 0;
            TotalFiles += 1;
            OnCompletedCalculateFiles(this);
        }
    }
    paths_->Add(path);
    std::wstring top;
    FindTopmostChecked(FolderOf(path), top);
    if (!top.empty() && !SamePath(top, FolderOf(path)))
        Check(top);
}

void TShSelectionList::Uncheck(const std::wstring& Path)
{
    TUpdateScope update(paths_.get());
    std::wstring path;
    TShSelectionState state{};
    bool byParent = false;
    if (!EntryState(Path, path, state, byParent))
        return;
    if (state == ssGrayed) {
        RemoveBelow(path);
        return;
    }
    if (state != ssChecked)
        return;
    if (!byParent) {
        const int index = paths_->IndexOf(path);
        if (index >= 0)
            DeleteEntry(index, true);
        return;
    }
    std::wstring rest;
    ExpandFolder(ParentOf(path), path, rest);
    TotalFolders -= 1;
    if (CalculateSizes)
        StartSizeWork(FolderOf(path), true);
    const int index = paths_->IndexOf(FolderEntry(rest));
    if (index >= 0)
        DeleteEntry(index, false);
}

void TShSelectionList::CheckPidl(LPCITEMIDLIST Pidl)
{
    Check(PidlToPath(Pidl));
}

void TShSelectionList::UncheckPidl(LPCITEMIDLIST Pidl)
{
    Uncheck(PidlToPath(Pidl));
}

void TShSelectionList::Clear()
{
    paths_->Clear();
    TotalSize = 0;
    TotalFiles = 0;
    TotalFolders = 0;
}

void TShSelectionList::RenamePath(const std::wstring& OldPath, const std::wstring& NewPath)
{
    TUpdateScope update(paths_.get());
    const std::wstring prefix = OldPath + L"\\";
    for (int i = 0; i < paths_->GetCount(); ++i) {
        const std::wstring e = paths_->GetStrings(i);
        if (SamePath(e, OldPath))
            paths_->SetStrings(i, NewPath);
        else if (StartsWithText(e, prefix))
            paths_->SetStrings(i, NewPath + e.substr(OldPath.size()));
    }
}

}  // namespace shell
