#include "controls/shell/ShWorkItems.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Threads.h"
#include "controls/shell/ShFolderObject.h"
#include "controls/shell/ShImageList.h"
#include "support/TestSupport.h"

using namespace shell;

namespace {

bool PumpUntil(const std::function<bool()>& Pred, DWORD Timeout = 10000)
{
    const DWORD start = ::GetTickCount();
    while (!Pred()) {
        if (::GetTickCount() - start > Timeout)
            return Pred();
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        classlib::CheckSynchronize(5);
    }
    return true;
}

class ShellWork : public testing::Test {
protected:
    ShellWork() { classlib::MainThreadID = ::GetCurrentThreadId(); }
    ~ShellWork() override { ShutdownShellWorkPool(); }
    TShellScope scope_;
};

struct SizeCase {
    const wchar_t* rel;  // below the temp folder ("" for the folder itself)
    bool recursive;
    std::uint64_t size;
    int files;
    int folders;
};

// A counted item handing its result to the test on the main thread.
struct SizeReceiver {
    std::vector<DWORD> threads;
    std::uint64_t size = 0;
    void Done(IWorkItem* item)
    {
        threads.push_back(::GetCurrentThreadId());
        size = static_cast<TShFolderSizeWorkItem*>(item)->Size;
    }
};

}  // namespace

TEST_F(ShellWork, FolderSizeCountsTheTreeBelowTheRoot)
{
    testsupport::TempDir dir;
    const std::wstring root = dir.Path();
    ::CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\sub\\deep").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
    testsupport::WriteFilled(root + L"\\a.bin", 10);
    testsupport::WriteFilled(root + L"\\b.bin", 20);
    testsupport::WriteFilled(root + L"\\sub\\c.bin", 30);
    testsupport::WriteFilled(root + L"\\sub\\deep\\d.bin", 5);

    const SizeCase cases[] = {
        {L"", true, 65, 4, 4},
        {L"\\", true, 65, 4, 4},  // trailing backslash
        {L"", false, 0, 0, 1},    // the folder alone
        {L"\\sub", true, 35, 2, 2},
        {L"\\empty", true, 0, 0, 1},
        {L"\\a.bin", true, 10, 1, 0},
        {L"\\missing", true, 0, 0, 0},
    };
    for (const SizeCase& c : cases) {
        TShFolderSizeWorkItem item(root + c.rel, false, c.recursive);
        item.AddRef();
        item.RunWork();
        EXPECT_EQ(item.Size, c.size) << c.rel << " recursive " << c.recursive;
        EXPECT_EQ(item.FileCount, c.files) << c.rel;
        EXPECT_EQ(item.FolderCount, c.folders) << c.rel;
        EXPECT_EQ(item.Factor, 1);
    }

    // Through the pool: the result arrives on the main thread.
    SizeReceiver rec;
    auto* item = new TShFolderSizeWorkItem(root, false, true);
    item->SetOnTerminate(TWorkItemEvent(&rec, &SizeReceiver::Done));
    ShellWorkPool()->AddWorkItem(item);
    ASSERT_TRUE(PumpUntil([&] { return !rec.threads.empty(); }));
    EXPECT_EQ(rec.size, 65u);
    EXPECT_EQ(rec.threads[0], ::GetCurrentThreadId());
}

namespace {

// Makes the folder Link a junction to Target; false when the platform
// refuses.
bool MakeJunction(const std::wstring& Link, const std::wstring& Target)
{
    if (!::CreateDirectoryW(Link.c_str(), nullptr))
        return false;
    HANDLE h = ::CreateFileW(Link.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring sub = L"\\??\\" + Target;
    const std::size_t subBytes = sub.size() * sizeof(wchar_t);
    const std::size_t printBytes = Target.size() * sizeof(wchar_t);
    // Tag, length, reserved; then offsets/lengths of both names; then the
    // names, each with a terminating zero.
    std::vector<unsigned char> buf(8 + 8 + subBytes + 2 + printBytes + 2);
    auto put16 = [&](std::size_t at, std::size_t v) {
        buf[at] = static_cast<unsigned char>(v & 0xFF);
        buf[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buf.data(), &tag, 4);
    put16(4, buf.size() - 8);
    put16(8, 0);
    put16(10, subBytes);
    put16(12, subBytes + 2);
    put16(14, printBytes);
    std::memcpy(buf.data() + 16, sub.c_str(), subBytes);
    std::memcpy(buf.data() + 16 + subBytes + 2, Target.c_str(), printBytes);
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), DWORD(buf.size()), nullptr, 0,
                                      &returned, nullptr);
    ::CloseHandle(h);
    return ok != FALSE;
}

}  // namespace

TEST_F(ShellWork, FolderSizeFollowsLinksOnlyOutOfTheTree)
{
    testsupport::TempDir dir;
    const std::wstring root = dir.Path() + L"\\root";
    const std::wstring outside = dir.Path() + L"\\outside";
    ::CreateDirectoryW(root.c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    ::CreateDirectoryW(outside.c_str(), nullptr);
    testsupport::WriteFilled(root + L"\\sub\\c.bin", 30);
    testsupport::WriteFilled(outside + L"\\o.bin", 7);
    if (!MakeJunction(root + L"\\back", root + L"\\sub") || !MakeJunction(root + L"\\out", outside))
        GTEST_SKIP() << "junctions cannot be made here (error " << ::GetLastError() << ")";
    WIN32_FIND_DATAW fd{};
    HANDLE h = ::FindFirstFileW((root + L"\\back").c_str(), &fd);
    const DWORD findError = ::GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        ::FindClose(h);
    if (h == INVALID_HANDLE_VALUE || !IsReparsePointAttr(fd.dwFileAttributes))
        GTEST_SKIP() << "links are not reported as reparse points here (find error " << findError
                     << ", attributes " << std::hex << fd.dwFileAttributes << ")";

    EXPECT_TRUE(SamePath(ReparseTarget(root + L"\\back"), root + L"\\sub")) << ReparseTarget(root + L"\\back");
    EXPECT_EQ(ReparseTarget(root + L"\\sub"), L"");  // a plain folder

    struct {
        bool follow;
        std::uint64_t size;
        int files;
        int folders;
    } cases[] = {
        {false, 30, 1, 2},  // links skipped
        {true, 37, 2, 3},   // the link back into the tree still skipped
    };
    for (const auto& c : cases) {
        TShFolderSizeWorkItem item(root, c.follow, true);
        item.AddRef();
        item.RunWork();
        EXPECT_EQ(item.Size, c.size) << "follow " << c.follow;
        EXPECT_EQ(item.FileCount, c.files) << "follow " << c.follow;
        EXPECT_EQ(item.FolderCount, c.folders) << "follow " << c.follow;
    }
}

namespace {

// A viewer recording what reaches it; frees the bitmaps it takes over.
class TViewer : public IThumbnailViewer, public IIconViewer {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    void STDMETHODCALLTYPE SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex, classlib::TObject* Item) override
    {
        thumbs.push_back({ImageIndex, Item, ::GetCurrentThreadId(), Bitmap != nullptr});
        delete Bitmap;
    }
    void STDMETHODCALLTYPE SetIconIndex(int IconIndex, std::uint8_t Kind, classlib::TObject* Item) override
    {
        icons.push_back({IconIndex, Kind, Item, ::GetCurrentThreadId()});
    }

    struct Thumb {
        int index;
        classlib::TObject* item;
        DWORD thread;
        bool hasBitmap;
    };
    struct Icon {
        int index;
        int kind;
        classlib::TObject* item;
        DWORD thread;
    };
    std::vector<Thumb> thumbs;
    std::vector<Icon> icons;
    ULONG refs = 1;
};

}  // namespace

TEST_F(ShellWork, ThumbnailReachesTheViewerUnlessCancelled)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"pic.bmp");
    {
        classlib::TBitmap bmp;
        bmp.SetWidth(40);
        bmp.SetHeight(20);
        bmp.SaveToFile(file);
    }
    TPidl pidl = PathToPidl(nullptr, file);
    ASSERT_TRUE(pidl);
    TViewer viewer;
    classlib::TObject listItem;
    classlib::TObject list;

    ShellWorkPool()->AddWorkItem(new TThumbnailWorkItem(pidl.get(), true, &list, &listItem, 5, &viewer, 32, 32));
    ASSERT_TRUE(PumpUntil([&] { return !viewer.thumbs.empty(); }));
    EXPECT_EQ(viewer.thumbs[0].index, 5);
    EXPECT_EQ(viewer.thumbs[0].item, &listItem);
    EXPECT_EQ(viewer.thumbs[0].thread, ::GetCurrentThreadId());
    EXPECT_TRUE(PumpUntil([&] { return viewer.refs == 1; }));  // the item let the viewer go

    // The list item went away meanwhile: the item is cancelled and the viewer
    // never hears of it (the bitmap is freed with the item).
    auto* item = new TThumbnailWorkItem(pidl.get(), true, &list, &listItem, 6, &viewer, 32, 32);
    item->AddRef();
    item->RunWork();
    item->Terminate();
    item->WorkDone();
    EXPECT_EQ(item->Bitmap, nullptr);
    item->Release();
    EXPECT_EQ(viewer.thumbs.size(), 1u);
    EXPECT_EQ(viewer.refs, 1u);
}

TEST_F(ShellWork, IconItemsFindIconAndOverlayIndexes)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"doc.txt");
    testsupport::WriteFilled(file, 3);
    TViewer viewer;
    classlib::TObject node;

    const int closedByPidl = GetPidlIconIndex(PathToPidl(nullptr, dir.Path()).get(), si_small, false);
    const int openByPath = GetFileIconIndex(dir.Path(), si_small, true);
    int overlay = -1;
    {
        TShFolderObject folder(nullptr);
        folder.SetObjectName(file);
        overlay = folder.GetOverlayIndex();
    }

    ShellWorkPool()->AddWorkItem(new TIconWorkItem(PathToPidl(nullptr, dir.Path()), nullptr, &node, &viewer, 0));
    auto* open = new TIconWorkItem(nullptr, nullptr, &node, &viewer, 2);
    open->Path = dir.Path();
    ShellWorkPool()->AddWorkItem(open);
    auto* ov = new TIconWorkItem(nullptr, nullptr, &node, &viewer, 1);
    ov->Path = file;
    ShellWorkPool()->AddWorkItem(ov);
    ASSERT_TRUE(PumpUntil([&] { return viewer.icons.size() >= 3; }));

    for (const auto& icon : viewer.icons) {
        EXPECT_EQ(icon.item, &node);
        EXPECT_EQ(icon.thread, ::GetCurrentThreadId());
        const int expected = icon.kind == 0 ? closedByPidl : icon.kind == 2 ? openByPath : overlay;
        EXPECT_EQ(icon.index, expected) << "kind " << icon.kind;
    }
    EXPECT_GE(closedByPidl, 0);

    // Cancelled: nothing reaches the viewer.
    auto* gone = new TIconWorkItem(PathToPidl(nullptr, file), nullptr, &node, &viewer, 0);
    gone->AddRef();
    gone->RunWork();
    gone->Terminate();
    gone->WorkDone();
    gone->Release();
    EXPECT_EQ(viewer.icons.size(), 3u);
}
