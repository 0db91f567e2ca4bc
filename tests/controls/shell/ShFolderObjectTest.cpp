#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShFolderObject.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNamespace.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace shell;

void MakeFile(const std::wstring& path, size_t size, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string content(size, 'x');
    DWORD written = 0;
    ::WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
    ::CloseHandle(h);
}

// A temporary folder: a.jpg (10 bytes), b.png (20), c.txt (30), hidden
// h.jpg (5), z.zip (22), folder Sub (with inner.jpg) and folder Empty.
class ShellFolderObject : public testing::Test {
protected:
    void SetUp() override
    {
        MakeFile(dir_.File(L"a.jpg"), 10);
        MakeFile(dir_.File(L"b.png"), 20);
        MakeFile(dir_.File(L"c.txt"), 30);
        MakeFile(dir_.File(L"h.jpg"), 5, FILE_ATTRIBUTE_HIDDEN);
        MakeFile(dir_.File(L"z.zip"), 22);
        ASSERT_TRUE(::CreateDirectoryW(dir_.File(L"Sub").c_str(), nullptr));
        MakeFile(dir_.File(L"Sub\\inner.jpg"), 7);
        ASSERT_TRUE(::CreateDirectoryW(dir_.File(L"Empty").c_str(), nullptr));
        folder_ = classlib::IncludeTrailingPathDelimiter(dir_.Path());
    }

    std::set<std::wstring> Enumerate(TShFolderObject& f)
    {
        std::set<std::wstring> names;
        while (f.NextObject()) names.insert(f.GetObjectName());
        return names;
    }

    TShellScope scope_;
    testsupport::TempDir dir_;
    std::wstring folder_;
};

TEST_F(ShellFolderObject, NewObjectIsEmpty)
{
    TShFolderObject f(nullptr);
    EXPECT_EQ(f.FolderIDList(), nullptr);
    EXPECT_EQ(f.GetObjectName(), L"");
    EXPECT_EQ(f.GetFolder(), L"");
    EXPECT_TRUE(f.GetShowErrorMessages());
    EXPECT_FALSE(f.GetFileSystemOnly());
    EXPECT_FALSE(f.NextObject());
    EXPECT_FALSE(f.IsFolder());
    EXPECT_EQ(f.GetOverlayIndex(), -1);
    EXPECT_EQ(f.GetFilter(), L"*");
    EXPECT_EQ(f.GetVersion(), L"TShFolderObject V1.0.0.0");
    void* obj = nullptr;
    EXPECT_THROW(f.GetUIObjectOf(IID_IContextMenu, &obj), EShFolderObjectError);
}

TEST_F(ShellFolderObject, EnumeratesNamesAttributesSizesAndIcons)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    EXPECT_EQ(f.GetFolder(), folder_);
    EXPECT_EQ(PidlToPath(f.FolderIDList()), dir_.Path());

    struct Expect {
        bool folder;
        bool hidden;
        DWORD size;
    };
    const std::map<std::wstring, Expect> expected = {
        {L"a.jpg", {false, false, 10}}, {L"b.png", {false, false, 20}}, {L"c.txt", {false, false, 30}},
        {L"h.jpg", {false, true, 5}},   {L"z.zip", {false, false, 22}}, {L"Sub", {true, false, 0}},
        {L"Empty", {true, false, 0}},
    };
    std::set<std::wstring> seen;
    while (f.NextObject()) {
        const std::wstring name = f.GetObjectName();
        SCOPED_TRACE(testing::Message() << "object " << std::string(name.begin(), name.end()));
        auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << "unexpected object";
        seen.insert(name);
        EXPECT_EQ(f.IsFolder(), it->second.folder);
        EXPECT_EQ(f.IsHidden(), it->second.hidden);
        EXPECT_FALSE(f.IsLink());
        EXPECT_EQ(f.GetLinkTarget(), L"");
        EXPECT_EQ(f.GetOverlayIndex(), -1);  // neither link nor share
        EXPECT_TRUE(f.CanRename());
        if (!it->second.folder) {
            EXPECT_EQ(f.GetFindData().nFileSizeLow, it->second.size);
        }
        EXPECT_EQ(f.GetObjectPath(), folder_ + name);
        EXPECT_FALSE(f.IsObjectDriveRoot());
        EXPECT_GT(f.GetModifiedTime(), classlib::EncodeDate(2000, 1, 1));
        EXPECT_GE(f.GetIconIndex(), 0);
        EXPECT_GE(f.GetOpenIconIndex(), 0);
        EXPECT_EQ(f.GetIconIndex(), GetPathIconIndex(folder_ + name, si_small, false, false));
        EXPECT_EQ(PidlItemCount(f.GetAbsoluteObjectIDList()), PidlItemCount(f.FolderIDList()) + 1);
        EXPECT_FALSE(f.GetDisplayName().empty());
    }
    EXPECT_EQ(seen.size(), expected.size());
    // The enumeration was closed at its end: the next call starts again.
    EXPECT_EQ(Enumerate(f).size(), expected.size());
    EXPECT_GE(TShFolderObject::GetDesktopIconIndex(), 0);
    EXPECT_FALSE(TShFolderObject::GetDesktopDisplayName().empty());
}

TEST_F(ShellFolderObject, FilterKeepsFoldersAndMatchingFiles)
{
    TShFolderObject f(nullptr);
    for (const wchar_t* all : {L"*", L""}) {
        f.SetFilter(all);
        EXPECT_EQ(f.GetFilter(), L"*");
    }
    f.SetFilter(L"*.jpg;*.png");
    EXPECT_EQ(f.GetFilter(), L"*.jpg;*.png");
    f.SetFilter(L"*.txt;");
    EXPECT_EQ(f.GetFilter(), L"*.txt");

    f.SetFolder(dir_.Path());
    f.SetFilter(L"*.JPG;*.png");
    EXPECT_EQ(Enumerate(f), (std::set<std::wstring>{L"a.jpg", L"b.png", L"h.jpg", L"Sub", L"Empty"}));
    f.SetFilter(L"*.txt");
    EXPECT_EQ(Enumerate(f), (std::set<std::wstring>{L"c.txt", L"Sub", L"Empty"}));
}

TEST_F(ShellFolderObject, ObjectNameByNamePathAndDriveRoot)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"B.PNG");
    EXPECT_EQ(classlib::WideUpperCase(f.GetObjectName()), L"B.PNG");
    EXPECT_EQ(f.GetFindData().nFileSizeLow, 20u);

    // A path sets folder and object together.
    f.SetObjectName(dir_.File(L"Sub\\inner.jpg"));
    EXPECT_EQ(f.GetFolder(), folder_ + L"Sub\\");
    EXPECT_EQ(f.GetObjectName(), L"inner.jpg");
    EXPECT_EQ(f.GetObjectPath(), dir_.File(L"Sub\\inner.jpg"));
    // A trailing backslash of a folder path is dropped.
    f.SetObjectName(dir_.File(L"Sub") + L"\\");
    EXPECT_EQ(f.GetFolder(), folder_);
    EXPECT_EQ(f.GetObjectName(), L"Sub");
    EXPECT_TRUE(f.IsFolder());

    try {
        f.SetObjectName(L"missing.jpg");
        FAIL() << "no error";
    } catch (const EShFolderObjectError& e) {
        EXPECT_EQ(e.Message(), L"Error! Cannot find Object \"missing.jpg\" in Folder \"" + folder_ + L"\"");
    }
    f.SetObjectName(L"");
    EXPECT_EQ(f.ObjectIDList(), nullptr);
    EXPECT_EQ(f.GetObjectName(), L"");

    const std::wstring drive = classlib::ExtractFileDrive(dir_.Path()) + L"\\";
    f.SetObjectName(drive);
    EXPECT_EQ(f.GetSpecialFolder(), SF_DRIVES);
    EXPECT_TRUE(f.IsObjectDriveRoot());
    EXPECT_EQ(f.GetObjectName(), drive);
    EXPECT_EQ(f.GetObjectPath(), drive);
}

TEST_F(ShellFolderObject, BadFolderKeepsTheOldOne)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    const std::wstring bad = dir_.File(L"no\\such\\folder");
    try {
        f.SetFolder(bad);
        FAIL() << "no error";
    } catch (const EShFolderObjectError& e) {
        EXPECT_EQ(e.Message(), SystemErrorText(3) + L"\r\n" + bad);
    }
    EXPECT_EQ(f.GetFolder(), folder_);
    f.SetObjectName(L"a.jpg");
    EXPECT_EQ(f.GetObjectName(), L"a.jpg");
}

TEST_F(ShellFolderObject, FolderMovesInAndOut)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"Sub");
    ASSERT_TRUE(f.OpenObjectAsFolder());
    EXPECT_EQ(f.GetFolder(), folder_ + L"Sub\\");
    EXPECT_EQ(f.ObjectIDList(), nullptr);
    EXPECT_EQ(Enumerate(f), std::set<std::wstring>{L"inner.jpg"});

    EXPECT_TRUE(f.SelectFolderInParent());
    EXPECT_EQ(f.GetFolder(), folder_);
    EXPECT_EQ(f.GetObjectName(), L"Sub");

    f.SetObjectName(L"a.jpg");
    EXPECT_FALSE(f.OpenObjectAsFolder());
    EXPECT_EQ(f.GetFolder(), folder_);

    // The absolute list of an object gives folder and object back.
    TPidl absolute = PidlClone(f.GetAbsoluteObjectIDList());
    TShFolderObject g(nullptr);
    g.SetAbsoluteIDList(absolute.get());
    EXPECT_EQ(g.GetFolder(), folder_);
    EXPECT_EQ(g.GetObjectName(), L"a.jpg");
    g.SetAbsoluteIDList(DesktopPidl());
    EXPECT_EQ(g.GetSpecialFolder(), SF_DESKTOP);
    EXPECT_EQ(g.ObjectIDList(), nullptr);

    g.SetSpecialFolder(SF_DRIVES);
    EXPECT_EQ(g.GetSpecialFolder(), SF_DRIVES);
    TPidl copy = g.GetFolderIDList();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), g.FolderIDList());
}

TEST_F(ShellFolderObject, ZipHasSubFoldersOnlyWithoutFileSystemOnly)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"z.zip");
    EXPECT_TRUE(f.HasSubFolders());
    f.SetFileSystemOnly(true);
    EXPECT_TRUE(f.HasSubFolders());  // cached for this object
    f.SetObjectName(L"z.zip");
    EXPECT_FALSE(f.HasSubFolders());
    f.SetObjectName(L"a.jpg");
    EXPECT_FALSE(f.HasSubFolders());
}

TEST_F(ShellFolderObject, DetailColumns)
{
    TShFolderObject f(nullptr);
    f.SetFolder(dir_.Path());
    int width = -1;
    f.GetDetailsOf(0, width);
    EXPECT_GT(width, 0);
    EXPECT_FALSE(f.GetDetail(0, true).empty());
    EXPECT_FALSE(f.GetDetail(1, true).empty());
    EXPECT_EQ(f.GetDetail(1, false), L"");  // no object

    width = -1;
    EXPECT_EQ(f.GetDetailsOf(500, width), 0);
    EXPECT_EQ(width, 120);
    EXPECT_EQ(f.GetDetail(500, true), L"");

    f.SetObjectName(L"a.jpg");
    EXPECT_EQ(f.GetDetail(0, false), f.GetDisplayName());
    // Some column other than the name shows the size of the file (10
    // bytes), in bytes or in the shell's kilobyte form; the whole text, so
    // that a date with a 10 in it does not count.
    wchar_t kb[32] = {};
    ::StrFormatKBSizeW(10, kb, 32);
    bool sizeShown = false;
    for (int column = 1; column < 6; ++column) {
        const std::wstring text = f.GetDetail(column, false);
        if (text == kb || text == L"10" || text.rfind(L"10 ", 0) == 0) sizeShown = true;
    }
    EXPECT_TRUE(sizeShown);
}

TEST_F(ShellFolderObject, RenameThroughTheShell)
{
    TShFolderObject f(nullptr);
    f.SetShowErrorMessages(false);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"c.txt");
    std::wstring name = L"d.txt";
    ASSERT_TRUE(f.Rename(name));
    EXPECT_TRUE(FileExistsLong(dir_.File(L"d.txt")));
    EXPECT_FALSE(FileExistsLong(dir_.File(L"c.txt")));
    EXPECT_EQ(f.GetObjectName(), L"d.txt");
    EXPECT_EQ(name, f.GetDisplayName());
}

TEST_F(ShellFolderObject, CommandsAskTheirHandlersAndEmptyMultiObjects)
{
    TShFolderObject f(nullptr);
    f.SetShowErrorMessages(false);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"a.jpg");

    struct Seen {
        std::vector<std::wstring> commands;
        std::vector<std::wstring> paths;
        bool allowMenu = false;
    } seen;
    f.OnContextMenuSelect = TOnContextMenuSelectEvent::FromFunction(
        [](void* c, const std::wstring& command, bool& execute) {
            auto* s = static_cast<Seen*>(c);
            s->commands.push_back(command);
            execute = s->allowMenu;
        },
        &seen);
    f.OnBeforeShellCommand = TOnBeforeShellCommand::FromFunction(
        [](void* c, TShFolderObject*, const std::wstring&, TShPathList* paths, bool& allow) {
            auto* s = static_cast<Seen*>(c);
            for (int i = 0; i < paths->GetCount(); ++i) s->paths.push_back(paths->GetStrings(i));
            allow = false;
        },
        &seen);

    f.GetMultiObjects()->Add(dir_.File(L"a.jpg"));
    f.GetMultiObjects()->Add(dir_.File(L"b.png"));
    EXPECT_FALSE(f.ExecuteCommand(L"delete"));
    EXPECT_EQ(seen.commands, std::vector<std::wstring>{L"delete"});
    EXPECT_TRUE(seen.paths.empty());
    EXPECT_EQ(f.GetMultiObjects()->GetCount(), 0);

    seen.allowMenu = true;
    f.GetMultiObjects()->Add(dir_.File(L"a.jpg"));
    f.GetMultiObjects()->Add(dir_.File(L"b.png"));
    EXPECT_FALSE(f.ExecuteCommand(L"delete"));
    EXPECT_EQ(seen.paths, (std::vector<std::wstring>{dir_.File(L"a.jpg"), dir_.File(L"b.png")}));
    EXPECT_EQ(f.GetMultiObjects()->GetCount(), 0);
    EXPECT_TRUE(FileExistsLong(dir_.File(L"a.jpg")));
    EXPECT_TRUE(FileExistsLong(dir_.File(L"b.png")));

    // Allowed, the verb runs: the file goes to the clipboard.
    f.OnBeforeShellCommand.Clear();
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    f.SetObjectName(L"b.png");
    EXPECT_TRUE(f.ExecuteCommand(L"copy"));
    EXPECT_TRUE(::IsClipboardFormatAvailable(CF_HDROP));
    EXPECT_EQ(seen.commands.back(), L"copy");

    // "rename" goes to OnRename when it is assigned.
    int renames = 0;
    f.OnRename = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                      &renames);
    f.SetObjectName(L"b.png");
    EXPECT_TRUE(f.ExecuteCommand(L"rename"));
    EXPECT_EQ(renames, 1);
    EXPECT_TRUE(FileExistsLong(dir_.File(L"b.png")));

    // A new list is taken over; null is ignored.
    auto* list = new classlib::TStringList;
    f.SetMultiObjects(list);
    EXPECT_EQ(f.GetMultiObjects(), list);
    f.SetMultiObjects(nullptr);
    EXPECT_EQ(f.GetMultiObjects(), list);
}

TEST_F(ShellFolderObject, UIObjectOfSeveralObjects)
{
    TShFolderObject f(nullptr);
    f.SetShowErrorMessages(false);
    f.SetFolder(dir_.Path());
    f.SetObjectName(L"c.txt");
    f.GetMultiObjects()->Add(L"a.jpg");
    f.GetMultiObjects()->Add(L"b.png");
    TComRef<IDataObject> data;
    ASSERT_TRUE(SUCCEEDED(f.GetUIObjectOf(IID_IDataObject, data.PutVoid())));
    ASSERT_TRUE(data);
    EXPECT_EQ(f.GetMultiObjects()->GetCount(), 0);
    // The object in force before is kept.
    EXPECT_EQ(f.GetObjectName(), L"c.txt");
    std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(data.Get());
    ASSERT_TRUE(files);
    ASSERT_EQ(files->GetCount(), 2);
    EXPECT_EQ(files->GetStrings(0), dir_.File(L"a.jpg"));
    EXPECT_EQ(files->GetStrings(1), dir_.File(L"b.png"));

    // Full paths of another folder: the shell gets that folder's objects;
    // folder and object in force stay.
    f.GetMultiObjects()->Add(dir_.File(L"Sub\\inner.jpg"));
    f.GetMultiObjects()->Add(dir_.File(L"Sub\\other.jpg"));
    MakeFile(dir_.File(L"Sub\\other.jpg"), 3);
    data.Reset();
    ASSERT_TRUE(SUCCEEDED(f.GetUIObjectOf(IID_IDataObject, data.PutVoid())));
    EXPECT_EQ(f.GetFolder(), folder_);
    EXPECT_EQ(f.GetObjectName(), L"c.txt");
    files = GetFilenamesFromDataObject(data.Get());
    ASSERT_TRUE(files);
    ASSERT_EQ(files->GetCount(), 2);
    EXPECT_EQ(files->GetStrings(0), dir_.File(L"Sub\\inner.jpg"));
    EXPECT_EQ(files->GetStrings(1), dir_.File(L"Sub\\other.jpg"));

    // Paths of two folders cannot go to one shell call: refused, nothing
    // handed out, MultiObjects emptied, folder and object kept.
    f.GetMultiObjects()->Add(dir_.File(L"a.jpg"));
    f.GetMultiObjects()->Add(dir_.File(L"Sub\\inner.jpg"));
    data.Reset();
    EXPECT_TRUE(FAILED(f.GetUIObjectOf(IID_IDataObject, data.PutVoid())));
    EXPECT_FALSE(data);
    EXPECT_EQ(f.GetMultiObjects()->GetCount(), 0);
    EXPECT_EQ(f.GetFolder(), folder_);
    EXPECT_EQ(f.GetObjectName(), L"c.txt");
}

TEST_F(ShellFolderObject, ThumbnailFallsBackToTheIcon)
{
    TShFolderObject f(nullptr);
    f.SetShowErrorMessages(false);
    f.SetFolder(dir_.Path());
    EXPECT_EQ(f.GetThumbnailBitmap(64, 64, true), nullptr);  // no object
    f.SetObjectName(L"c.txt");
    // No size asks for 200 x 200.
    std::unique_ptr<classlib::TBitmap> bitmap(f.GetThumbnailBitmap(0, 0, true));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->GetWidth(), 200);
    EXPECT_EQ(bitmap->GetHeight(), 200);
    bitmap.reset(f.GetThumbnailBitmap(48, 40, true));
    ASSERT_TRUE(bitmap);
    EXPECT_LE(bitmap->GetWidth(), 48);
    EXPECT_LE(bitmap->GetHeight(), 40);
}

}  // namespace

namespace {

// Chooses an entry of the next popup menu shown on this thread by its text
// (the first whose text, without "&", starts with choice ignoring case), or
// closes the menu unchosen when choice is empty. The menu's items are read
// once it is shown; seen receives their texts.
struct TMenuChooser {
    static inline std::wstring choice;
    static inline std::vector<std::wstring> seen;
    static inline bool done = false;

    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD)
    {
        HWND menuWindow = ::FindWindowW(L"#32768", nullptr);
        if (done || !menuWindow || !::IsWindowVisible(menuWindow)) return;
        done = true;
        ::KillTimer(nullptr, id);
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0));
        int downs = 0, target = -1;
        for (int i = 0; menu && i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[256] = {};
            ::GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
            std::wstring plain;
            for (const wchar_t* p = text; *p; ++p)
                if (*p != L'&') plain += *p;
            seen.push_back(plain);
            const UINT state = ::GetMenuState(menu, UINT(i), MF_BYPOSITION);
            if (target < 0 && !choice.empty() && plain.size() >= choice.size() &&
                classlib::WideSameText(plain.substr(0, choice.size()), choice))
                target = i;
            if (target < 0 && !(state & (MF_SEPARATOR | MF_DISABLED | MF_GRAYED))) ++downs;
        }
        if (target < 0) {
            ::EndMenu();
            return;
        }
        for (int i = 0; i <= downs; ++i) ::PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
    }

    explicit TMenuChooser(const std::wstring& wanted)
    {
        choice = wanted;
        seen.clear();
        done = false;
        id_ = ::SetTimer(nullptr, 0, 50, &OnTimer);
    }
    ~TMenuChooser() { ::KillTimer(nullptr, id_); }
    UINT_PTR id_;
};

TEST_F(ShellFolderObject, ContextMenuRunsTheChosenVerb)
{
    TShFolderObject f(nullptr);
    f.SetShowErrorMessages(false);
    f.SetFolder(dir_.Path());

    struct Seen {
        std::vector<std::wstring> commands;
        std::vector<std::wstring> paths;
        bool allow = false;
    } seen;
    f.OnBeforeShellCommand = TOnBeforeShellCommand::FromFunction(
        [](void* c, TShFolderObject*, const std::wstring& command, TShPathList* paths, bool& allow) {
            auto* s = static_cast<Seen*>(c);
            s->commands.push_back(command);
            for (int i = 0; i < paths->GetCount(); ++i) s->paths.push_back(paths->GetStrings(i));
            allow = s->allow;
        },
        &seen);
    auto show = [&](const std::wstring& entry) {
        seen.commands.clear();
        seen.paths.clear();
        TMenuChooser chooser(entry);
        std::wstring verb = f.ShowContextMenu(POINT{10, 10});
        EXPECT_TRUE(TMenuChooser::done) << "no menu was shown";
        return verb;
    };

    f.SetObjectName(L"a.jpg");
    EXPECT_EQ(show(L""), L"");  // closed unchosen
    EXPECT_TRUE(seen.commands.empty());

    // Refused by the handler: not run, the verb is still returned ...
    f.SetObjectName(L"a.jpg");
    EXPECT_EQ(show(L"Copy"), L"copy");
    EXPECT_EQ(seen.commands, std::vector<std::wstring>{L"copy"});
    EXPECT_EQ(seen.paths, std::vector<std::wstring>{dir_.File(L"a.jpg")});
    // ... except a delete, which did not happen while the file is there.
    EXPECT_EQ(show(L"Delete"), L"");
    EXPECT_EQ(seen.commands, std::vector<std::wstring>{L"delete"});
    EXPECT_TRUE(FileExistsLong(dir_.File(L"a.jpg")));

    // Several objects: the handler sees all of them, MultiObjects empties.
    f.GetMultiObjects()->Add(L"a.jpg");
    f.GetMultiObjects()->Add(L"b.png");
    EXPECT_EQ(show(L"Copy"), L"copy");
    EXPECT_EQ(seen.paths, (std::vector<std::wstring>{dir_.File(L"a.jpg"), dir_.File(L"b.png")}));
    EXPECT_EQ(f.GetMultiObjects()->GetCount(), 0);

    // A read-only owner refuses cut: the verb is emptied.
    seen.allow = true;
    f.SetReadOnly(true);
    EXPECT_EQ(show(L"Cut"), L"");
    f.SetReadOnly(false);

    // Allowed: the shell runs it (the file goes to the clipboard).
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    EXPECT_EQ(show(L"Copy"), L"copy");
    EXPECT_TRUE(::IsClipboardFormatAvailable(CF_HDROP));
}

}  // namespace
