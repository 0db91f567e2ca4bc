#include "controls/shell/ShWorkItems.h"

#include <winioctl.h>

#include <memory>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Startup.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShFolderObject.h"
#include "controls/shell/ShImageList.h"

namespace shell {

const IID IID_IThumbnailViewer = {0xFDA354CC, 0x0B22, 0x4B9A, {0xA0, 0x42, 0x82, 0xFF, 0x53, 0x7E, 0x8D, 0x6A}};
const IID IID_IIconViewer = {0x639DC050, 0x0BD1, 0x4BDA, {0x8F, 0x2D, 0xB7, 0xFC, 0x03, 0x22, 0x94, 0x3C}};

namespace {

// Freed by ShutdownShellWorkPool only: a pool still alive when the process
// ends is left to the system rather than stopped from a static destructor,
// where its workers could no longer be served.
TWorkerThreadPool* gPool = nullptr;

// Deeper nesting than this is not followed: a chain of reparse points that
// keeps leading outside the root would otherwise never end.
constexpr int kMaxScanDepth = 512;

}  // namespace

TWorkerThreadPool* ShellWorkPool()
{
    if (!gPool)
        gPool = new TWorkerThreadPool(true);
    return gPool;
}

bool ShellWorkPoolExists()
{
    return gPool != nullptr;
}

void ShutdownShellWorkPool()
{
    if (!gPool)
        return;
    gPool->TerminateAll(true);
    delete gPool;
    gPool = nullptr;
}

void RegisterShellWorkUnit()
{
    // Started with the shell layer, shut down just before it.
    classlib::RegisterUnit(L"shellwork", 301, nullptr, ShutdownShellWorkPool);
}

// ---------------------------------------------------------------------------

TThumbnailWorkItem::TThumbnailWorkItem(LPCITEMIDLIST APidl, bool AIconFallback, classlib::TObject* Group,
                                       classlib::TObject* ATag, int AImageIndex, IThumbnailViewer* AViewer,
                                       int AHeight, int AWidth)
    : Width(AWidth), Height(AHeight), Pidl(PidlClone(APidl)), ImageIndex(AImageIndex), IconFallback(AIconFallback)
{
    if (AViewer) {
        AViewer->AddRef();
        Viewer = TComRef<IThumbnailViewer>(AViewer);
    }
    Tag = ATag;
    GroupTag = Group;
    WorkDoneEvent = classlib::TThreadMethod(this, &TThumbnailWorkItem::WorkDone);
    if (!IsVistaOrLater)
        ShellWorkPool()->SetMaxThreads(1);
}

TThumbnailWorkItem::~TThumbnailWorkItem()
{
    delete Bitmap;
}

void TThumbnailWorkItem::RunWork()
{
    try {
        TShFolderObject folder(nullptr);
        folder.SetAbsoluteIDList(Pidl.get());
        Pidl.reset();
        Bitmap = folder.GetThumbnailBitmap(Width, Height, IconFallback);
    } catch (...) {
        delete Bitmap;
        Bitmap = nullptr;
    }
    Pidl.reset();
}

void TThumbnailWorkItem::WorkDone()
{
    classlib::TBitmap* bitmap = Bitmap;
    Bitmap = nullptr;
    if (GetTerminated() || !Viewer) {
        delete bitmap;
        return;
    }
    Viewer->SetThumbnail(bitmap, ImageIndex, Tag);
}

// ---------------------------------------------------------------------------

TIconWorkItem::TIconWorkItem(TPidl APidl, classlib::TObject* Group, classlib::TObject* ATag, IIconViewer* AViewer,
                             std::uint8_t AKind)
    : Pidl(std::move(APidl)), Kind(AKind)
{
    if (AViewer) {
        AViewer->AddRef();
        Viewer = TComRef<IIconViewer>(AViewer);
    }
    Tag = ATag;
    GroupTag = Group;
    WorkDoneEvent = classlib::TThreadMethod(this, &TIconWorkItem::WorkDone);
}

void TIconWorkItem::RunWork()
{
    if (Kind == 0 || Kind == 2) {
        const bool open = Kind == 2;
        if (Path.empty()) {
            IconIndex = GetPidlIconIndex(Pidl.get(), si_small, open);
            Pidl.reset();
        } else {
            IconIndex = GetFileIconIndex(Path, si_small, open);
        }
        return;
    }
    try {
        TShFolderObject folder(nullptr);
        if (!Path.empty()) {
            folder.SetObjectName(Path);
        } else {
            folder.SetAbsoluteIDList(Pidl.get());
            Pidl.reset();
        }
        IconIndex = folder.GetOverlayIndex();
    } catch (...) {
        IconIndex = -1;
    }
}

void TIconWorkItem::WorkDone()
{
    if (!GetTerminated() && Viewer)
        Viewer->SetIconIndex(IconIndex, Kind, Tag);
}

// ---------------------------------------------------------------------------

TShFolderSizeWorkItem::TShFolderSizeWorkItem(const std::wstring& ARootPath, bool AFollowReparsePoints,
                                             bool ARecursive)
    : RootPath(ARootPath), Recursive(ARecursive), FollowReparsePoints(AFollowReparsePoints)
{
}

namespace {

std::uint64_t FindDataSize(const WIN32_FIND_DATAW& fd)
{
    return (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
}

}  // namespace

void TShFolderSizeWorkItem::RunWork()
{
    WIN32_FIND_DATAW fd{};
    const bool root = IsDriveRoot(RootPath);
    // A folder given with its trailing backslash is found without it.
    while (!root && RootPath.size() > 1 && RootPath.back() == L'\\')
        RootPath.pop_back();
    if (RootPath.empty())
        return;
    std::wstring search = RootPath;
    if (root) {
        if (search.back() != L'\\')
            search += L'\\';
        search += L'*';
    }
    HANDLE h = FindFirstFileLong(search, fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    ::FindClose(h);
    if (root || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ++FolderCount;
        if (Recursive) {
            if (RootPath.back() != L'\\')
                RootPath += L'\\';
            ScanFolder(RootPath, !root && IsReparsePointAttr(fd.dwFileAttributes), 0);
        }
    } else {
        Size += FindDataSize(fd);
        ++FileCount;
    }
}

void TShFolderSizeWorkItem::ScanFolder(const std::wstring& Folder, bool FolderIsReparse, int Depth)
{
    if (Depth > kMaxScanDepth)
        return;
    WIN32_FIND_DATAW fd{};
    HANDLE h = FindFirstFileLong(Folder + L"*", fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    struct Closer {
        HANDLE h;
        ~Closer() { ::FindClose(h); }
    } closer{h};
    do {
        if (GetTerminated())
            return;
        const std::wstring name = fd.cFileName;
        if (IsReparsePointAttr(fd.dwFileAttributes)) {
            if (!FollowReparsePoints && !FolderIsReparse)
                continue;
            const std::wstring target = ReparseTarget(Folder + name);
            // A link to the root itself or to anything below it would count
            // the same data twice.
            if (!target.empty() &&
                (IsPathBelow(RootPath, target) || SamePath(RootPath, target + L"\\")))
                continue;
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDotName(name))
                continue;
            ++FolderCount;
            ScanFolder(Folder + name + L"\\", IsReparsePointAttr(fd.dwFileAttributes), Depth + 1);
        } else {
            Size += FindDataSize(fd);
            ++FileCount;
        }
    } while (::FindNextFileW(h, &fd));
}

// ---------------------------------------------------------------------------

namespace {

// The platform's reparse data layout (declared by the driver kit only).
struct TReparseData {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    union {
        struct {
            USHORT SubstituteNameOffset;
            USHORT SubstituteNameLength;
            USHORT PrintNameOffset;
            USHORT PrintNameLength;
            ULONG Flags;
            WCHAR PathBuffer[1];
        } SymbolicLink;
        struct {
            USHORT SubstituteNameOffset;
            USHORT SubstituteNameLength;
            USHORT PrintNameOffset;
            USHORT PrintNameLength;
            WCHAR PathBuffer[1];
        } MountPoint;
    };
};

constexpr DWORD kGetReparsePoint = 0x900A8;
constexpr ULONG kTagSymlink = 0xA000000C;
constexpr DWORD kReparseBufferSize = 16384;

void RemoveAllNoCase(std::wstring& s, const std::wstring& what)
{
    for (std::size_t i = 0; i + what.size() <= s.size();) {
        if (::CompareStringOrdinal(s.c_str() + i, int(what.size()), what.c_str(), int(what.size()), TRUE) ==
            CSTR_EQUAL)
            s.erase(i, what.size());
        else
            ++i;
    }
}

}  // namespace

std::wstring ReparseTarget(const std::wstring& Path)
{
    HANDLE h = ::CreateFileW(LongPathName(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    const classlib::TOwnedKernelHandle file(h);
    std::vector<unsigned char> buffer(kReparseBufferSize);
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(file.Get(), kGetReparsePoint, nullptr, 0, buffer.data(), kReparseBufferSize,
                                      &returned, nullptr);
    const std::size_t header = offsetof(TReparseData, SymbolicLink);
    if (!ok || returned < header)
        return {};
    const auto* data = reinterpret_cast<const TReparseData*>(buffer.data());
    const bool symlink = data->ReparseTag == kTagSymlink;
    const std::size_t fieldsEnd = symlink ? offsetof(TReparseData, SymbolicLink.PathBuffer)
                                          : offsetof(TReparseData, MountPoint.PathBuffer);
    if (returned < fieldsEnd)
        return {};
    const USHORT offset = symlink ? data->SymbolicLink.SubstituteNameOffset : data->MountPoint.SubstituteNameOffset;
    const USHORT length = symlink ? data->SymbolicLink.SubstituteNameLength : data->MountPoint.SubstituteNameLength;
    // The name must lie wholly inside what the call returned.
    if (std::size_t(returned) < fieldsEnd + std::size_t(offset) + length + 2)
        return {};
    const auto* chars = reinterpret_cast<const wchar_t*>(buffer.data() + fieldsEnd + offset);
    std::wstring target(chars, length / 2);
    RemoveAllNoCase(target, L"\\??\\");
    return target;
}

}  // namespace shell
