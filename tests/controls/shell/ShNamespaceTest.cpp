#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShWideStr.h"
#include "tests/support/TestSupport.h"
#include "tests/controls/shell/ShellTestFiles.h"

namespace {

using namespace shell;

// A list built from raw items; each item is its 16-bit count followed by
// (count - 2) payload bytes of the given value.
TPidl MakeList(std::initializer_list<std::pair<USHORT, BYTE>> items)
{
    std::vector<BYTE> bytes;
    for (auto [cb, value] : items) {
        bytes.push_back(BYTE(cb & 0xFF));
        bytes.push_back(BYTE(cb >> 8));
        bytes.insert(bytes.end(), cb - 2, value);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    TPidl list = PidlAlloc(bytes.size());
    std::memcpy(list.get(), bytes.data(), bytes.size());
    return list;
}

std::vector<BYTE> BytesOf(LPCITEMIDLIST pidl)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(pidl);
    return std::vector<BYTE>(p, p + PidlGetSize(pidl));
}

void WriteFile(const std::wstring& path, const std::string& content)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
    ::CloseHandle(h);
}

bool SameIDs(LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    return DesktopFolder()->CompareIDs(0, a, b) == S_OK;
}

class ShellNamespace : public testing::Test {
protected:
    TShellScope scope_;
};

// ---------------------------------------------------------------------------
// Lists (no shell needed: raw items, odd sizes so counts sit unaligned)

TEST(ShellPidl, SizesCountsAndNil)
{
    EXPECT_EQ(PidlGetSize(nullptr), 0u);
    EXPECT_EQ(PidlItemCount(nullptr), 0);
    EXPECT_EQ(PidlGetSize(DesktopPidl()), 2u);
    EXPECT_EQ(PidlItemCount(DesktopPidl()), 0);
    TPidl three = MakeList({{5, 0xA1}, {3, 0xB2}, {6, 0xC3}});
    EXPECT_EQ(PidlGetSize(three.get()), 16u);
    EXPECT_EQ(PidlItemCount(three.get()), 3);

    EXPECT_EQ(PidlClone(nullptr), nullptr);
    EXPECT_EQ(PidlGetItem(nullptr, 0), nullptr);
    EXPECT_EQ(PidlCopyFirst(nullptr, 1), nullptr);
    TPidl copy = PidlClone(three.get());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), three.get());
    EXPECT_EQ(BytesOf(copy.get()), BytesOf(three.get()));

    TPidl zeroed = PidlAlloc(7);
    ASSERT_TRUE(zeroed);
    const BYTE* z = reinterpret_cast<const BYTE*>(zeroed.get());
    EXPECT_EQ(std::vector<BYTE>(z, z + 7), std::vector<BYTE>(7, 0));
}

TEST(ShellPidl, CombineItemsAndCut)
{
    TPidl three = MakeList({{5, 0xA1}, {3, 0xB2}, {6, 0xC3}});
    TPidl one = MakeList({{4, 0xD4}});

    TPidl none = PidlCombine(nullptr, nullptr);
    ASSERT_TRUE(none);
    EXPECT_EQ(PidlGetSize(none.get()), 2u);
    EXPECT_EQ(BytesOf(PidlCombine(three.get(), nullptr).get()), BytesOf(three.get()));
    EXPECT_EQ(BytesOf(PidlCombine(nullptr, one.get()).get()), BytesOf(one.get()));
    EXPECT_EQ(BytesOf(PidlCombine(three.get(), one.get()).get()),
              BytesOf(MakeList({{5, 0xA1}, {3, 0xB2}, {6, 0xC3}, {4, 0xD4}}).get()));
    EXPECT_EQ(BytesOf(PidlCombine(DesktopPidl(), one.get()).get()), BytesOf(one.get()));

    EXPECT_EQ(BytesOf(PidlGetItem(three.get(), 0).get()), BytesOf(MakeList({{5, 0xA1}}).get()));
    EXPECT_EQ(BytesOf(PidlGetItem(three.get(), 1).get()), BytesOf(MakeList({{3, 0xB2}}).get()));
    EXPECT_EQ(BytesOf(PidlGetLastItem(three.get()).get()), BytesOf(MakeList({{6, 0xC3}}).get()));
    TPidl two = MakeList({{5, 0xA1}, {3, 0xB2}});
    TPidl atEnd = PidlGetItem(two.get(), 2);
    ASSERT_TRUE(atEnd);
    EXPECT_EQ(PidlGetSize(atEnd.get()), 2u);
    EXPECT_EQ(PidlGetItem(two.get(), 3), nullptr);
    EXPECT_EQ(PidlGetItem(two.get(), -1), nullptr);
    EXPECT_EQ(PidlGetSize(PidlGetLastItem(DesktopPidl()).get()), 2u);

    EXPECT_EQ(BytesOf(PidlCopyFirst(three.get(), 1).get()), BytesOf(MakeList({{5, 0xA1}}).get()));
    EXPECT_EQ(BytesOf(PidlCopyFirst(three.get(), 2).get()), BytesOf(two.get()));
    EXPECT_EQ(BytesOf(PidlCopyFirst(three.get(), 3).get()), BytesOf(three.get()));
    EXPECT_EQ(BytesOf(PidlCopyFirst(three.get(), 9).get()), BytesOf(three.get()));
    EXPECT_EQ(PidlGetSize(PidlCopyFirst(three.get(), 0).get()), 2u);
}

// ---------------------------------------------------------------------------
// Start-up

TEST(ShellStartup, CountedStartAndRelease)
{
    {
        TShellScope outer;
        ASSERT_NE(DesktopFolder(), nullptr);
        {
            TShellScope inner;
        }
        EXPECT_NE(DesktopFolder(), nullptr);  // still held by the outer start
        EXPECT_TRUE(ShellStarted());
        EXPECT_TRUE(IsWideApi);
        EXPECT_TRUE(IsWinNT);
        EXPECT_NE(ShellEntryPoints.PathMatchSpecW, nullptr);
        EXPECT_NE(ShellEntryPoints.StrRetToStrW, nullptr);
        EXPECT_NE(CF_ShellIDList, 0u);
        EXPECT_EQ(SystemDriveRoot(),
                  classlib::IncludeTrailingPathDelimiter(classlib::ExtractFileDrive(GetWindowsFolder())));
        EXPECT_TRUE(IsDrivePath(SystemDriveRoot()));
        EXPECT_EQ(SystemDriveRoot().size(), 3u);
    }
    EXPECT_FALSE(ShellStarted());
    EXPECT_EQ(DesktopFolder(), nullptr);
    EXPECT_EQ(ShellEntryPoints.PathMatchSpecW, nullptr);
    EXPECT_TRUE(SystemDriveRoot().empty());
}

// ---------------------------------------------------------------------------
// Special folders and platform folders

TEST(ShellFolderTable, CsidlTableMatchesPlatformNumbers)
{
    const std::pair<TShellFolder, int> table[] = {
        {SF_FILESYSTEMFOLDER, CSIDL_DRIVES}, {SF_BITBUCKET, CSIDL_BITBUCKET}, {SF_CONTROLS, CSIDL_CONTROLS},
        {SF_DESKTOP, CSIDL_DESKTOP}, {SF_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}, {SF_DRIVES, CSIDL_DRIVES},
        {SF_FONTS, CSIDL_FONTS}, {SF_NETHOOD, CSIDL_NETHOOD}, {SF_NETWORK, CSIDL_NETWORK},
        {SF_PERSONAL, CSIDL_PERSONAL}, {SF_PRINTERS, CSIDL_PRINTERS}, {SF_PROGRAMS, CSIDL_PROGRAMS},
        {SF_RECENT, CSIDL_RECENT}, {SF_SENDTO, CSIDL_SENDTO}, {SF_STARTMENU, CSIDL_STARTMENU},
        {SF_STARTUP, CSIDL_STARTUP}, {SF_TEMPLATES, CSIDL_TEMPLATES}, {SF_FAVORITES, CSIDL_FAVORITES},
        {SF_COMMON_STARTMENU, CSIDL_COMMON_STARTMENU}, {SF_COMMON_STARTUP, CSIDL_COMMON_STARTUP},
        {SF_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}, {SF_APPDATA, CSIDL_APPDATA},
        {SF_PRINTHOOD, CSIDL_PRINTHOOD}, {SF_COMMON_FAVORITES, CSIDL_COMMON_FAVORITES},
        {SF_INTERNET_CACHE, CSIDL_INTERNET_CACHE}, {SF_COOKIES, CSIDL_COOKIES}, {SF_HISTORY, CSIDL_HISTORY},
        {SF_COMMON_PROGRAMS, CSIDL_COMMON_PROGRAMS}, {SF_ALTSTARTUP, CSIDL_ALTSTARTUP},
        {SF_COMMON_APPDATA, CSIDL_COMMON_APPDATA}, {SF_COMMON_DOCUMENTS, CSIDL_COMMON_DOCUMENTS},
        {SF_INTERNET, CSIDL_INTERNET}, {SF_LOCAL_APPDATA, CSIDL_LOCAL_APPDATA}, {SF_MYPICTURES, CSIDL_MYPICTURES},
        {SF_PROGRAM_FILES, CSIDL_PROGRAM_FILES}, {SF_SYSTEM, CSIDL_SYSTEM},
        {SF_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMON}, {SF_WINDOWS, CSIDL_WINDOWS},
    };
    static_assert(std::size(table) == ShellFolderCount);
    for (auto [folder, csidl] : table) EXPECT_EQ(ShellFolderCsidl(folder), csidl) << int(folder);
}

TEST_F(ShellNamespace, SpecialFoldersResolveBothWays)
{
    TPidl desktop = SpecialFolderPidl(SF_DESKTOP);
    ASSERT_TRUE(desktop);
    EXPECT_EQ(PidlGetSize(desktop.get()), 2u);
    EXPECT_EQ(PidlToSpecialFolder(desktop.get()), SF_DESKTOP);
    EXPECT_EQ(PidlToSpecialFolder(nullptr), SF_FILESYSTEMFOLDER);

    TPidl drives = SpecialFolderPidl(SF_DRIVES);
    ASSERT_TRUE(drives);
    EXPECT_EQ(PidlToSpecialFolder(drives.get()), SF_DRIVES);
    // Restricted to other values, My Computer is an ordinary folder.
    EXPECT_EQ(PidlToSpecialFolder(drives.get(), ShellFolderBit(SF_PERSONAL) | ShellFolderBit(SF_WINDOWS)),
              SF_FILESYSTEMFOLDER);

    const std::wstring windows = SpecialFolderPath(SF_WINDOWS);
    EXPECT_TRUE(SamePath(windows, GetWindowsFolder())) << windows;
    TPidl windowsList = PathToPidl(nullptr, windows);
    ASSERT_TRUE(windowsList);
    EXPECT_EQ(PidlToSpecialFolder(windowsList.get(), ShellFolderBit(SF_WINDOWS)), SF_WINDOWS);

    const std::wstring personal = SpecialFolderPath(SF_PERSONAL);
    EXPECT_FALSE(personal.empty());
    EXPECT_TRUE(DirectoryExistsLong(personal)) << personal;
    EXPECT_TRUE(SpecialFolderPath(SF_DRIVES).empty());  // a virtual folder has no path

    const std::wstring temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(DirectoryExistsLong(temp)) << temp;
    TPidl tempList = PathToPidl(nullptr, temp);
    ASSERT_TRUE(tempList);
    EXPECT_EQ(PidlToSpecialFolder(tempList.get()), SF_FILESYSTEMFOLDER);
}

// ---------------------------------------------------------------------------
// Paths and lists through the shell

TEST_F(ShellNamespace, PathAndListBothWaysWithParentsAndDisplayNames)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"photo one.jpg");
    WriteFile(file, "12345");

    TPidl dirList = PathToPidl(nullptr, dir.Path());
    TPidl fileList = PathToPidl(nullptr, file);
    ASSERT_TRUE(dirList);
    ASSERT_TRUE(fileList);
    EXPECT_TRUE(SamePath(PidlToPath(dirList.get()), dir.Path())) << PidlToPath(dirList.get());
    EXPECT_TRUE(SamePath(PidlToPath(fileList.get()), file)) << PidlToPath(fileList.get());
    EXPECT_EQ(PidlItemCount(fileList.get()), PidlItemCount(dirList.get()) + 1);

    // Parent by cutting, child by the last item, and a relative parse below
    // the folder object joined back onto the parent.
    TPidl parent = PidlCopyFirst(fileList.get(), PidlItemCount(fileList.get()) - 1);
    EXPECT_TRUE(SameIDs(parent.get(), dirList.get()));
    TComRef<IShellFolder> folder;
    ASSERT_EQ(DesktopFolder()->BindToObject(dirList.get(), nullptr, IID_IShellFolder, folder.PutVoid()), S_OK);
    TPidl relative = PathToPidl(folder.Get(), L"photo one.jpg");
    ASSERT_TRUE(relative);
    EXPECT_EQ(PidlItemCount(relative.get()), 1);
    EXPECT_EQ(folder->CompareIDs(0, relative.get(), PidlGetLastItem(fileList.get()).get()), S_OK);
    TPidl joined = PidlCombine(dirList.get(), relative.get());
    EXPECT_TRUE(SamePath(PidlToPath(joined.get()), file));
    EXPECT_TRUE(SameIDs(joined.get(), fileList.get()));
    EXPECT_FALSE(SameIDs(dirList.get(), fileList.get()));

    // Display names through STRRET.
    STRRET name{};
    ASSERT_EQ(DesktopFolder()->GetDisplayNameOf(fileList.get(), SHGDN_FORPARSING, &name), S_OK);
    EXPECT_TRUE(SamePath(StrRetToWide(fileList.get(), name), file));
    STRRET inFolder{};
    ASSERT_EQ(folder->GetDisplayNameOf(relative.get(), SHGDN_INFOLDER | SHGDN_FORPARSING, &inFolder), S_OK);
    EXPECT_EQ(StrRetToWide(relative.get(), inFolder), L"photo one.jpg");

    // Failures: nil and unknown paths.
    EXPECT_EQ(PidlToPath(nullptr), L"");
    ::SetLastError(0);
    EXPECT_EQ(PathToPidl(nullptr, dir.File(L"missing\\nothing.jpg")), nullptr);
    EXPECT_NE(::GetLastError(), 0u);
}

TEST_F(ShellNamespace, PathToPidlEmptyAndBareDrive)
{
    TPidl computer = PathToPidl(nullptr, L"");
    ASSERT_TRUE(computer);
    EXPECT_EQ(PidlToSpecialFolder(computer.get()), SF_DRIVES);

    const std::wstring drive = classlib::ExtractFileDrive(GetWindowsFolder());  // "C:"
    TPidl bare = PathToPidl(nullptr, drive);
    TPidl root = PathToPidl(nullptr, drive + L"\\");
    ASSERT_TRUE(bare);
    ASSERT_TRUE(root);
    EXPECT_TRUE(SameIDs(bare.get(), root.get()));
    EXPECT_TRUE(SamePath(PidlToPath(bare.get()), drive + L"\\"));
}

TEST_F(ShellNamespace, StrRetKinds)
{
    STRRET wide{};
    wide.uType = STRRET_WSTR;
    const wchar_t text[] = L"Caf\u00E9";
    wide.pOleStr = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof text));
    std::memcpy(wide.pOleStr, text, sizeof text);
    EXPECT_EQ(StrRetToWide(nullptr, wide), L"Caf\u00E9");

    STRRET narrow{};
    narrow.uType = STRRET_CSTR;
    std::strcpy(narrow.cStr, "plain");
    EXPECT_EQ(StrRetToWide(nullptr, narrow), L"plain");

    STRRET owned{};
    owned.uType = STRRET_WSTR;
    owned.pOleStr = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof text));
    FreeStrRet(owned);
    EXPECT_EQ(owned.pOleStr, nullptr);
}

// ---------------------------------------------------------------------------
// Dropped files

using TDropObject = shelltest::TFilesObject;

TEST_F(ShellNamespace, FilenamesFromDataObjectAndDrop)
{
    EXPECT_EQ(GetFilenamesFromDataObject(nullptr), nullptr);

    TDropObject noDrop(false);
    auto none = GetFilenamesFromDataObject(&noDrop);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetCount(), 0);
    EXPECT_EQ(noDrop.getDataCalls, 1);

    TDropObject emptyDrop(true);
    EXPECT_EQ(GetFilenamesFromDataObject(&emptyDrop), nullptr);

    // A name longer than the usual 2,600-character buffer arrives whole.
    const std::wstring longName = L"C:\\" + std::wstring(3000, L'n') + L".jpg";
    TDropObject three(true, {L"C:\\a\\one.jpg", L"D:\\Fotos\\\u00E9t\u00E9.png", longName});
    auto files = GetFilenamesFromDataObject(&three);
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(files->GetCount(), 3);
    EXPECT_EQ((*files)[0], L"C:\\a\\one.jpg");
    EXPECT_EQ((*files)[1], L"D:\\Fotos\\\u00E9t\u00E9.png");
    EXPECT_EQ((*files)[2], longName);

    EXPECT_EQ(FilenamesFromDrop(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Links, filters, comparison, messages

TEST_F(ShellNamespace, ShellLinkTarget)
{
    testsupport::TempDir dir;
    const std::wstring target = dir.File(L"target.jpg");
    WriteFile(target, "x");
    const std::wstring linkPath = dir.File(L"target.lnk");
    {
        TComRef<IShellLinkW> link;
        ASSERT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()),
                  S_OK);
        ASSERT_EQ(link->SetPath(target.c_str()), S_OK);
        TComRef<IPersistFile> file;
        ASSERT_EQ(link->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
        ASSERT_EQ(file->Save(linkPath.c_str(), TRUE), S_OK);
    }
    EXPECT_TRUE(SamePath(GetShellLinkTarget(linkPath), target)) << GetShellLinkTarget(linkPath);
    EXPECT_EQ(GetShellLinkTarget(dir.File(L"missing.lnk")), L"");
    EXPECT_EQ(GetShellLinkTarget(target), L"");  // not a link
}

TEST_F(ShellNamespace, MatchesFilterTable)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* mask;
        bool expected;
    };
    const Case cases[] = {
        {L"README", L"*.", true},      {L"read.me", L"*.", false},     {L"photo.JPG", L"*.jpg", true},
        {L"photo.jpg", L"*.png", false}, {L"photo.jpeg", L"*.jp?g", true}, {L"IMG_01.tif", L"img_*", true},
        {L"photo.jpg", L"*.*", true},  {L"README", L"*.*", true},      {L"a.b.c", L"*.*", true},
        {L"IMG.jpg", L"img*.*", true},  {L"IMG", L"img*.*", true},      {L"photo.jpg", L"img*.*", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesFilter(c.name, c.mask), c.expected)
            << testing::PrintToString(std::wstring(c.name)) << " / " << testing::PrintToString(std::wstring(c.mask));
}

TEST_F(ShellNamespace, NaturalCompareAndErrorText)
{
    EXPECT_LT(CompareNatural(L"file2.jpg", L"file10.jpg"), 0);
    EXPECT_GT(CompareNatural(L"file10.jpg", L"file2.jpg"), 0);
    EXPECT_EQ(CompareNatural(L"Photo.JPG", L"photo.jpg"), 0);
    EXPECT_LT(CompareNatural(L"apple", L"Banana"), 0);

    const std::wstring text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L' ');
}

TEST_F(ShellNamespace, NetworkItems)
{
    TPidl network = SpecialFolderPidl(SF_NETWORK);
    if (network) {
        EXPECT_TRUE(IsNetworkPidl(network.get()));
    }
    EXPECT_FALSE(IsNetworkPidl(nullptr));
    EXPECT_FALSE(IsNetworkPidl(DesktopPidl()));
    TPidl temp = PathToPidl(nullptr, GetTempFolder());
    ASSERT_TRUE(temp);
    EXPECT_FALSE(IsNetworkPidl(temp.get()));
    EXPECT_EQ(PidlNetResourceName(DesktopFolder(), PidlGetItem(temp.get(), 0).get()), L"");
}

// ---------------------------------------------------------------------------
// Path tests

TEST_F(ShellNamespace, PathTextTests)
{
    struct Case {
        const wchar_t* path;
        bool unc, drivePath, driveRoot;
        const wchar_t* longName;
    };
    const Case cases[] = {
        // the drive extraction takes a lone server name for the drive
        {L"\\\\server", false, false, true, L"\\\\server"},
        {L"\\\\server\\share", true, false, true, L"\\\\?\\UNC\\server\\share"},
        {L"\\\\srv\\sh\\a", true, false, false, L"\\\\?\\UNC\\srv\\sh\\a"},
        {L"\\\\?\\C:\\x", false, false, false, L"\\\\?\\C:\\x"},
        {L"\\\\?\\UNC\\server\\share", true, false, false, L"\\\\?\\UNC\\server\\share"},
        {L"\\\\?\\unc\\server", true, false, false, L"\\\\?\\unc\\server"},
        {L"\\\\?\\UNC", false, false, true, L"\\\\?\\UNC"},
        {L"\\\\\\", false, false, false, L"\\\\\\"},
        {L"C:\\a", false, true, false, L"\\\\?\\C:\\a"},
        {L"c:\\", false, true, true, L"\\\\?\\c:\\"},
        {L"C:", false, false, true, L"C:"},
        {L"C:\\Photos", false, true, false, L"\\\\?\\C:\\Photos"},
        {L"1:\\x", false, false, false, L"1:\\x"},
        {L"photos\\a.jpg", false, false, false, L"photos\\a.jpg"},
        {L"", false, false, false, L""},
    };
    for (const Case& c : cases) {
        const std::wstring p = c.path;
        EXPECT_EQ(IsUncPath(p), c.unc) << testing::PrintToString(p);
        EXPECT_EQ(IsDrivePath(p), c.drivePath) << testing::PrintToString(p);
        EXPECT_EQ(IsLocalOrUncPath(p), c.unc || c.drivePath) << testing::PrintToString(p);
        EXPECT_EQ(IsDriveRoot(p), c.driveRoot) << testing::PrintToString(p);
        EXPECT_EQ(LongPathName(p), c.longName) << testing::PrintToString(p);
    }
    EXPECT_TRUE(IsNetworkPath(L"\\\\server\\share\\x"));
    EXPECT_FALSE(IsNetworkPath(GetWindowsFolder()));

    EXPECT_TRUE(HasExtension(L"C:\\a\\photo.JPG", L"jpg"));
    EXPECT_TRUE(HasExtension(L"C:\\a\\photo.jpg", L".Jpg"));
    EXPECT_TRUE(HasExtension(L"C:\\a\\album.zip\\", L"zip"));
    EXPECT_FALSE(HasExtension(L"C:\\a\\photo.jpeg", L"jpg"));
    EXPECT_TRUE(HasExtension(L"C:\\a\\README", L""));

    EXPECT_TRUE(SamePath(L"C:\\Photos\\", L"c:\\photos"));
    EXPECT_TRUE(SamePath(L"C:\\\u00C9t\u00E9", L"c:\\\u00E9T\u00C9\\"));
    EXPECT_FALSE(SamePath(L"C:\\Photos", L"C:\\Photo"));
    EXPECT_TRUE(StartsWithText(L"C:\\Photos\\2010", L"c:\\PHO"));
    EXPECT_FALSE(StartsWithText(L"C:\\Photos", L"D:"));
    EXPECT_FALSE(StartsWithText(L"C:", L"C:\\"));

    EXPECT_TRUE(IsPathBelow(L"C:\\Photos", L"C:\\Photos\\2010"));
    EXPECT_TRUE(IsPathBelow(L"C:\\Pho", L"C:\\Photos\\2010"));  // a plain prefix test
    EXPECT_FALSE(IsPathBelow(L"C:\\Photos", L"c:\\photos\\"));
    EXPECT_FALSE(IsPathBelow(L"C:\\Photos\\2010", L"C:\\Photos"));
    EXPECT_FALSE(IsPathBelow(L"C:\\Photos", L""));

    EXPECT_TRUE(IsDotName(L"."));
    EXPECT_TRUE(IsDotName(L".."));
    EXPECT_FALSE(IsDotName(L"..."));
    EXPECT_FALSE(IsDotName(L".a"));

    EXPECT_EQ(ExtractParentFolder(L"C:\\Photos\\2010\\"), L"C:\\Photos\\");
    EXPECT_EQ(ExtractParentFolder(L"C:\\Photos\\a.jpg"), L"C:\\Photos\\");
    EXPECT_EQ(ExtractParentFolder(L"C:\\Photos"), L"C:\\");

    EXPECT_TRUE(IsReparsePointAttr(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(IsReparsePointAttr(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(IsReparsePointAttr(INVALID_FILE_ATTRIBUTES));
}

TEST_F(ShellNamespace, FileSystemTests)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"size.bin");
    WriteFile(file, std::string(70000, 'x'));
    const std::wstring sub = dir.File(L"sub");
    ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));

    EXPECT_TRUE(FileExistsLong(file));
    EXPECT_FALSE(FileExistsLong(sub));
    EXPECT_FALSE(FileExistsLong(dir.File(L"missing.bin")));
    EXPECT_TRUE(DirectoryExistsLong(sub));
    EXPECT_TRUE(DirectoryExistsLong(sub + L"\\"));
    EXPECT_FALSE(DirectoryExistsLong(file));
    EXPECT_TRUE(PathExists(file));
    EXPECT_TRUE(PathExists(sub + L"\\"));
    EXPECT_FALSE(PathExists(dir.File(L"missing")));
    EXPECT_EQ(GetFileSize64(file), 70000);
    EXPECT_EQ(GetFileSize64(dir.File(L"missing.bin")), -1);

    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileLong(dir.File(L"*.bin"), data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, L"size.bin");
    ::FindClose(h);

    const std::wstring root = SystemDriveRoot();
    EXPECT_TRUE(DirectoryExistsLong(root));
    EXPECT_TRUE(PathExists(root));
    EXPECT_TRUE(PathExists(root.substr(0, 2)));
    EXPECT_TRUE(IsDriveReady(GetWindowsFolder()));
}

// ---------------------------------------------------------------------------
// Application-facing services

TEST_F(ShellNamespace, MainWindowFromHooksAndIconFont)
{
    EXPECT_EQ(MainWindowHandle(), nullptr);
    static HWND mainForm = nullptr;
    TShellApplicationHooks hooks;
    hooks.MainFormHandle = [] { return mainForm; };
    hooks.ApplicationHandle = [] { return reinterpret_cast<HWND>(std::intptr_t(0x1234)); };
    SetShellApplicationHooks(hooks);
    EXPECT_EQ(MainWindowHandle(), reinterpret_cast<HWND>(std::intptr_t(0x1234)));
    mainForm = reinterpret_cast<HWND>(std::intptr_t(0x5678));
    EXPECT_EQ(MainWindowHandle(), mainForm);
    SetShellApplicationHooks({});
    EXPECT_EQ(MainWindowHandle(), nullptr);

    LOGFONTW expected{};
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof expected, &expected, 0));
    classlib::TFont font;
    GetIconTitleFont(font);
    EXPECT_EQ(font.GetName(), std::wstring(expected.lfFaceName));
    EXPECT_EQ(font.GetHeight(), expected.lfHeight);
}

TEST_F(ShellNamespace, ExplorerStyleOfListAndTree)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
    HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr);
    HWND tree = ::CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP | TVS_HASLINES | TVS_HASBUTTONS, 0, 0, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(tree, nullptr);
    ApplyExplorerStyle(TListViewWindow{list});
    ApplyExplorerStyle(TTreeViewWindow{tree});
    const auto listEx = ::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    const auto treeStyle = ::GetWindowLongPtrW(tree, GWL_STYLE);
    if (IsVistaOrLater) {
        EXPECT_EQ(listEx & (LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER), LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
        EXPECT_EQ(treeStyle & TVS_HASLINES, 0);
    } else {
        EXPECT_EQ(listEx & LVS_EX_FULLROWSELECT, 0);
        EXPECT_NE(treeStyle & TVS_HASLINES, 0);
    }
    EXPECT_NE(treeStyle & TVS_HASBUTTONS, 0);
    ::DestroyWindow(list);
    ::DestroyWindow(tree);
}

}  // namespace
