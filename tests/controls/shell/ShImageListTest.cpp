#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNamespace.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace shell;

class ShellIcons : public testing::Test {
protected:
    TShellScope scope_;
};

TEST_F(ShellIcons, ExtensionAndFileFallbacks)
{
    const int jpg = GetExtensionIconIndex(L".jpg", si_small, false);
    EXPECT_GE(jpg, 0);
    // With or without its dot the extension names the same file.
    EXPECT_EQ(GetExtensionIconIndex(L"jpg", si_small, false), jpg);
    // A missing file falls back to the icon of its extension.
    EXPECT_EQ(GetFileIconIndex(L"Q:\\x\\photo.jpg", si_small, false), jpg);

    const int folder = GetIconIndexOfFolder(false);
    EXPECT_GE(folder, 0);
    // Asked once per process: the open flag does not change the cached icon.
    EXPECT_EQ(GetIconIndexOfFolder(true), folder);
    // A server share that cannot be read, and a missing folder path, give
    // the folder icon.
    EXPECT_EQ(GetFileIconIndex(L"\\\\nosuchserver\\share", si_small, false), folder);
    EXPECT_EQ(GetFileIconIndex(L"Q:\\no\\such\\folder\\", si_small, false), folder);

    testsupport::TempDir dir;
    EXPECT_EQ(GetFileIconIndex(dir.Path(), si_small, false), GetPathIconIndex(dir.Path(), si_small, false, false));
    TPidl pidl = PathToPidl(nullptr, dir.Path());
    ASSERT_TRUE(pidl);
    EXPECT_EQ(GetPidlIconIndex(pidl.get(), si_small, false), GetPathIconIndex(dir.Path(), si_small, false, false));
    EXPECT_EQ(GetPathIconIndex(L"Q:\\no\\such.file", si_small, false, false), -1);
}

TEST_F(ShellIcons, SystemImageListSharesOrCopies)
{
    SHFILEINFOW info{};
    auto systemSmall = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(SystemDriveRoot().c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    auto systemLarge = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(SystemDriveRoot().c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX));
    ASSERT_TRUE(systemSmall);
    ASSERT_TRUE(systemLarge);
    int smallW = 0, smallH = 0, largeW = 0, largeH = 0;
    ::ImageList_GetIconSize(systemSmall, &smallW, &smallH);
    ::ImageList_GetIconSize(systemLarge, &largeW, &largeH);

    {
        TShSystemImageList list(nullptr);
        EXPECT_TRUE(list.GetShareImages());
        EXPECT_EQ(list.GetSize(), si_small);
        EXPECT_EQ(list.GetHandle(), systemSmall);
        EXPECT_EQ(list.GetWidth(), smallW);
        EXPECT_EQ(list.GetHeight(), smallH);
        list.SetSize(si_large);
        EXPECT_EQ(list.GetHandle(), systemLarge);
        EXPECT_EQ(list.GetWidth(), largeW);
    }
    // A shared list leaves the system's handle alive.
    EXPECT_GT(::ImageList_GetImageCount(systemSmall), 0);

    TShSystemImageList own(nullptr);
    own.SetShareImages(false);
    EXPECT_FALSE(own.GetShareImages());
    EXPECT_NE(own.GetHandle(), systemSmall);
    EXPECT_EQ(own.GetWidth(), smallW);
    EXPECT_EQ(own.GetCount(), ::ImageList_GetImageCount(systemSmall));
}

TEST_F(ShellIcons, DrawIconBitmapFramesAndCentres)
{
    TShSystemImageList images(nullptr);
    const int index = GetIconIndexOfFolder(false);
    std::unique_ptr<classlib::TBitmap> framed(
        DrawIconBitmap(&images, 40, 48, classlib::clWhite, classlib::clRed, index));
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->GetWidth(), 48);
    EXPECT_EQ(framed->GetHeight(), 40);
    EXPECT_EQ(framed->GetPixelFormat(), IsVistaOrLater ? classlib::pf32bit : classlib::pf24bit);
    EXPECT_TRUE(framed->GetTransparent());
    classlib::TCanvas* canvas = framed->GetCanvas();
    for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {47, 0}, {0, 39}, {47, 39}, {24, 0}, {0, 20}})
        EXPECT_EQ(canvas->GetPixel(x, y) & 0xFFFFFF, 0x0000FFu) << x << "," << y;
    // The icon sits in the centre: the 16 x 16 box from (16, 12) holds
    // drawn pixels, the area outside it between frame and box none.
    const classlib::TColor inside = canvas->GetPixel(1, 1);
    int drawn = 0;
    for (int y = 12; y < 28; ++y)
        for (int x = 16; x < 32; ++x)
            if (canvas->GetPixel(x, y) != inside) ++drawn;
    EXPECT_GT(drawn, 20);
    for (int y = 1; y < 39; ++y) {
        EXPECT_EQ(canvas->GetPixel(15, y), inside) << y;
        EXPECT_EQ(canvas->GetPixel(32, y), inside) << y;
    }

    std::unique_ptr<classlib::TBitmap> plain(
        DrawIconBitmap(&images, 16, 16, classlib::clNone, classlib::clNone, index));
    ASSERT_TRUE(plain);
    EXPECT_NE(plain->GetCanvas()->GetPixel(0, 0) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(ShellIcons, MakeImageList32DropsImages)
{
    if (!IsVistaOrLater) GTEST_SKIP() << "only on Vista and later";
    classlib::TImageList list(nullptr, 20, 18);
    classlib::TBitmap bitmap;
    bitmap.SetSize(20, 18);
    list.Add(&bitmap, nullptr);
    ASSERT_EQ(list.GetCount(), 1);
    MakeImageList32(&list);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetWidth(), 20);
    EXPECT_EQ(list.GetHeight(), 18);
    IMAGEINFO info{};
    list.Add(&bitmap, nullptr);
    ASSERT_TRUE(::ImageList_GetImageInfo(list.GetHandle(), 0, &info));
    BITMAP bm{};
    ::GetObjectW(info.hbmImage, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    MakeImageList32(nullptr);  // nothing to do
}

// ---------------------------------------------------------------------------

TEST_F(ShellIcons, PathListNormalisesAndRefusesDuplicates)
{
    testsupport::TempDir dir;
    const std::wstring sub = dir.File(L"Photos");
    ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));
    const std::wstring drive = classlib::ExtractFileDrive(dir.Path());

    TShPathList list;
    std::vector<std::pair<std::wstring, int>> added, removed;
    list.OnPathAdded = classlib::TEvent<void(const std::wstring&, int)>::FromFunction(
        [](void* c, const std::wstring& p, int i) { static_cast<decltype(added)*>(c)->emplace_back(p, i); }, &added);
    list.OnPathRemoved = classlib::TEvent<void(const std::wstring&, int)>::FromFunction(
        [](void* c, const std::wstring& p, int i) { static_cast<decltype(removed)*>(c)->emplace_back(p, i); },
        &removed);

    const int first = list.Add(sub + L"\\");
    ASSERT_GE(first, 0);
    EXPECT_EQ(list.GetStrings(first), sub);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].first, sub + L"\\");  // as passed in
    EXPECT_EQ(added[0].second, first);

    const int root = list.Add(drive);
    ASSERT_GE(root, 0);
    EXPECT_EQ(list.GetStrings(root), drive + L"\\");
    EXPECT_EQ(list.Add(classlib::WideUpperCase(sub)), -1);
    EXPECT_EQ(list.Add(dir.File(L"missing")), -1);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(added.size(), 2u);
    // Sorted: the drive root comes first.
    EXPECT_EQ(list.GetStrings(0), drive + L"\\");
    EXPECT_FALSE(list.ContainsNetworkPath);

    list.Delete(0);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].first, drive + L"\\");
    EXPECT_EQ(removed[0].second, 0);

    TShPathList loose;
    loose.CheckExists = false;
    EXPECT_GE(loose.Add(L"Q:\\nowhere\\"), 0);
    EXPECT_FALSE(loose.ContainsNetworkPath);
    EXPECT_GE(loose.Add(L"\\\\server\\share\\dir"), 0);
    EXPECT_TRUE(loose.ContainsNetworkPath);
    EXPECT_EQ(loose.IndexOf(L"q:\\NOWHERE"), 0);

    classlib::TStringList source;
    source.Add(sub);
    source.Add(dir.File(L"missing"));
    source.Add(sub + L"\\");
    TShPathList fromList(&source);
    EXPECT_EQ(fromList.GetCount(), 1);
    TShPathList fromPath(sub);
    EXPECT_EQ(fromPath.GetCount(), 1);
}

// ---------------------------------------------------------------------------

TEST_F(ShellIcons, HistoryPushBackForward)
{
    testsupport::TempDir dir;
    std::vector<std::wstring> folders;
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) {
        folders.push_back(dir.File(name));
        ASSERT_TRUE(::CreateDirectoryW(folders.back().c_str(), nullptr));
    }
    auto pidlOf = [&](int i) { return PathToPidl(nullptr, folders[size_t(i)]); };
    auto pathAt = [](const TPidlHistory& h) { return PidlToPath(h.Current()); };

    TPidlHistory history;
    EXPECT_EQ(history.Current(), nullptr);
    history.Push(nullptr);
    EXPECT_EQ(history.GetCount(), 0);
    history.Push(pidlOf(0));
    history.Push(pidlOf(1));
    history.Push(pidlOf(2));
    EXPECT_EQ(history.GetCount(), 3);
    EXPECT_EQ(history.Position, 2);
    history.Push(pidlOf(2));  // already current
    EXPECT_EQ(history.GetCount(), 3);

    EXPECT_EQ(&history.Back(5), &history);
    EXPECT_EQ(history.Position, 0);
    EXPECT_EQ(pathAt(history), folders[0]);
    history.Forward(9);
    EXPECT_EQ(history.Position, 2);
    history.Back(1).Back(1);
    EXPECT_EQ(history.Position, 0);
    // Pushing from the first entry drops the two newer ones first.
    history.Push(pidlOf(3));
    ASSERT_EQ(history.GetCount(), 2);
    EXPECT_EQ(history.Position, 1);
    EXPECT_EQ(pathAt(history), folders[3]);
    history.Back(1);
    EXPECT_EQ(pathAt(history), folders[0]);
    history.Forward(1);
    EXPECT_EQ(pathAt(history), folders[3]);
}

}  // namespace
