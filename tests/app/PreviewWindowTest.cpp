// The preview window in-process, over a frameless main window with a
// private registry key and program folder: zoom list and typed zoom,
// rotation stored with the picture, navigation and removal, rows addressed
// by identity, and the window's place.
#include "app/untPreView.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "FormTestSupport.h"
#include "TestRegistryKey.h"
#include "app/untMain.h"
#include "classlib/SysUtils.h"
#include "classlib/Bitmap.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/view/ImgView.h"

using album::TfrmMain;
using album::TfrmPreview;

namespace {

using albumtest::Fixture;

// Yes to a question (the remove button asks), OK to anything else.
int Answer(void*, const std::wstring&, UINT Flags) { return (Flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }

class PreviewWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { imaging::PxInitialize(); }
    static void TearDownTestSuite() { imaging::PxFinalize(); }

    PreviewWindow()
    {
        for (const wchar_t* name : {L"a.jpg", L"b.jpg", L"c.jpg"})
            ::CopyFileW(Fixture(L"io\\jpeg", L"baseline.jpg").c_str(), pictures.File(name).c_str(), FALSE);
        album::TProgramEnvironment env;
        env.ProgramFile = program.Dir.File(L"Velmo.exe");
        env.ScreenWidth = 1280;
        env.ScreenHeight = 1024;
        main = new TfrmMain(&scope.app);
        main->SetBorderStyle(classlib::bsNone);
        main->Settings = album::TSettings(key.Places(), env);
        main->MessageHook = decltype(main->MessageHook)::FromFunction(&Answer, nullptr);
        main->DoCreate();
        main->Show();
        preview = new TfrmPreview(&scope.app);
        album::frmPreview = preview;
        preview->SetBorderStyle(classlib::bsNone);
        preview->DoCreate();
    }
    ~PreviewWindow() override
    {
        delete preview;
        main->ListModified = false;
        delete main;
    }

    // Album rows of the three pictures, in order.
    void FillAlbum()
    {
        for (const wchar_t* name : {L"a.jpg", L"b.jpg", L"c.jpg"}) main->AddAlbumRow(pictures.File(name), L"0");
    }
    std::vector<std::wstring> Album() const
    {
        std::vector<std::wstring> names;
        for (int i = 0; i < main->LV2->GetItems()->GetCount(); ++i)
            names.push_back(classlib::ExtractFileName(main->LV2->GetItems()->GetItem(i)->GetCaption()));
        return names;
    }
    // Shows album row Index as the main window's popup command does.
    void PreviewRow(int Index)
    {
        main->LV2->SetItemIndex(Index);
        main->ShowLargePreView(L'R', Index);
    }
    std::vector<std::wstring> ZoomList() const
    {
        std::vector<std::wstring> items;
        for (int i = 0; i < preview->CB_Zoom->GetItems()->GetCount(); ++i)
            items.push_back(preview->CB_Zoom->GetItems()->GetStrings(i));
        return items;
    }
    void TypeZoom(const std::wstring& Text)
    {
        preview->CB_Zoom->SetText(Text);
        wchar_t enter = 13;
        preview->CB_ZoomKeyPress(preview->CB_Zoom, enter);
    }

    formtest::TAppScope scope;
    testsupport::TestRegistryKey key;
    albumtest::ProgramFolder program;
    testsupport::TempDir pictures;
    TfrmMain* main = nullptr;
    TfrmPreview* preview = nullptr;
};

// A black 24-bit BMP of Width x Height.
std::string BlackBmp(int Width, int Height)
{
    const int stride = (Width * 3 + 3) & ~3;
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(ih);
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * Height);
    ih.biSize = sizeof(ih);
    ih.biWidth = Width;
    ih.biHeight = Height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    std::string bytes(reinterpret_cast<const char*>(&fh), sizeof(fh));
    bytes.append(reinterpret_cast<const char*>(&ih), sizeof(ih));
    bytes.append(static_cast<std::size_t>(stride) * Height, '\0');
    return bytes;
}

TEST_F(PreviewWindow, TheToolbarFillsItsDockWithoutADragHandleAndHostsTheZoomBox)
{
    FillAlbum();
    PreviewRow(0);
    ASSERT_TRUE(preview->GetVisible());
    toolbar::TMbToolbar* bar = preview->MbToolbar1;
    EXPECT_EQ(bar->GetCurrentDock(), preview->MbDock1);
    EXPECT_FALSE(bar->DragAllowed()) << "the dock does not allow dragging";
    EXPECT_EQ(bar->GetWidth(), preview->MbDock1->GetClientWidth());
    EXPECT_EQ(preview->CB_Zoom->GetParent(), bar);
    const RECT client = bar->GetClientRect();
    const RECT box = preview->CB_Zoom->GetBoundsRect();
    RECT inside{};
    EXPECT_TRUE(::IntersectRect(&inside, &client, &box)) << "the zoom box is shown in the row";
    // Clicking the last-picture button steps to it.
    const toolbar::TMbItemViewer* last = nullptr;
    for (const toolbar::TMbItemViewer* v : bar->GetView()->ViewerList)
        if (v->EntryItem == preview->mnuLast) last = v;
    ASSERT_NE(last, nullptr);
    ASSERT_TRUE(last->Placed);
    const LPARAM at = MAKELPARAM((last->EntryRect.left + last->EntryRect.right) / 2,
                                 (last->EntryRect.top + last->EntryRect.bottom) / 2);
    ::PostMessageW(bar->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(bar->GetHandle(), WM_LBUTTONUP, 0, at);
    for (int i = 0; i < 3; ++i) classlib::Application->ProcessMessages();
    EXPECT_EQ(preview->GetTag(), 2);
    if (const char* shot = std::getenv("VELMO_PREVIEW_SCREENSHOT")) {
        classlib::Application->ProcessMessages();
        const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
        classlib::TBitmap bmp;
        bmp.SetPixelFormat(classlib::pf24bit);
        bmp.SetSize(w, h);
        HDC screen = ::GetDC(nullptr);
        ::BitBlt(bmp.GetCanvas()->GetHandle(), 0, 0, w, h, screen, 0, 0, SRCCOPY);
        ::ReleaseDC(nullptr, screen);
        const std::string path(shot);
        bmp.SaveToFile(std::wstring(path.begin(), path.end()));
    }
}

// Narrowed, the window hides the row's last entries behind the chevron
// first: the hidden ones are a tail of the row, the first buttons stay.
TEST_F(PreviewWindow, ANarrowWindowHidesTheLastButtonsBehindTheChevronFirst)
{
    FillAlbum();
    PreviewRow(0);
    ASSERT_TRUE(preview->GetVisible());
    toolbar::TMbToolbar* bar = preview->MbToolbar1;
    // The window keeps its first size as its least; lifted here, as the row's
    // order is what is checked.
    classlib::TSizeConstraints limits = preview->GetConstraints();
    limits.MinWidth = 0;
    preview->SetConstraints(limits);
    preview->SetClientWidth(170);
    classlib::Application->ProcessMessages();
    ASSERT_LT(bar->GetWidth(), 200);
    std::vector<bool> behind;
    for (const toolbar::TMbItemViewer* v : bar->GetView()->ViewerList) {
        if (v->EntryItem == bar->GetChevronItem() || !v->EntryItem->GetVisible()) continue;
        if (dynamic_cast<toolbar::TMbSeparatorItem*>(v->EntryItem)) continue;
        behind.push_back(v->BehindChevron);
        if (v->EntryItem == preview->mnuFirst) {
            EXPECT_FALSE(v->BehindChevron) << "the first button stays";
        }
        if (v->EntryItem == preview->mnuList) {
            EXPECT_TRUE(v->BehindChevron) << "the last button goes first";
        }
    }
    const auto firstHidden = std::find(behind.begin(), behind.end(), true);
    ASSERT_NE(firstHidden, behind.end());
    EXPECT_EQ(std::find(firstHidden, behind.end(), false), behind.end()) << "only a tail of the row is hidden";
}

TEST_F(PreviewWindow, LargePictureIsFittedSmallOneShownAtFullSize)
{
    albumtest::WriteBytes(pictures.File(L"large.bmp"), BlackBmp(3000, 2000));
    main->AddAlbumRow(pictures.File(L"large.bmp"), L"0");
    PreviewRow(0);
    ASSERT_TRUE(preview->GetVisible());
    EXPECT_TRUE(preview->ImgView1->AutoFit);
    EXPECT_LT(preview->ImgView1->GetZoomX(), 100.0);
    EXPECT_EQ(preview->ImgView1->GetZoomX(), preview->ImgView1->GetFitZoom());
    EXPECT_TRUE(preview->btnZoom100->GetEnabled());
    EXPECT_FALSE(preview->btnAutoFit->GetEnabled());
    // The fitted zoom is listed and chosen.
    const int fitted = static_cast<int>(std::nearbyint(preview->ImgView1->GetZoomX()));
    EXPECT_EQ(preview->CB_Zoom->GetText(), classlib::IntToStr(fitted) + L"%");
    // Back to fitting after 100 %: never above 100 %.
    preview->btnZoom100Click(preview->btnZoom100);
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 100.0);
    EXPECT_FALSE(preview->ImgView1->AutoFit);
    preview->btnZoom100Click(preview->btnAutoFit);
    EXPECT_TRUE(preview->ImgView1->AutoFit);
    EXPECT_EQ(preview->ImgView1->GetZoomX(), preview->ImgView1->GetFitZoom());
}

TEST_F(PreviewWindow, SmallPictureShowsAtFullSizeWithThePresets)
{
    FillAlbum();
    PreviewRow(0);
    ASSERT_TRUE(preview->GetVisible());
    EXPECT_EQ(preview->GetCaption(), L"a.jpg");
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 100.0);
    EXPECT_FALSE(preview->ImgView1->AutoFit);
    EXPECT_FALSE(preview->btnZoom100->GetEnabled());
    EXPECT_TRUE(preview->btnAutoFit->GetEnabled());
    EXPECT_EQ(ZoomList(), (std::vector<std::wstring>{L"5%", L"10%", L"25%", L"50%", L"75%", L"100%", L"200%",
                                                     L"300%", L"400%", L"500%"}));
    EXPECT_EQ(preview->CB_Zoom->GetItemIndex(), 5);
    EXPECT_TRUE(preview->btnZoomIn->GetEnabled());
    EXPECT_TRUE(preview->btnZoomOut->GetEnabled());
    // One preset up, then down again.
    preview->btnZoomOutClick(preview->btnZoomIn);
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 200.0);
    EXPECT_TRUE(preview->btnZoom100->GetEnabled());
    EXPECT_TRUE(preview->btnAutoFit->GetEnabled());
    preview->btnZoomOutClick(preview->btnZoomOut);
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 100.0);
}

TEST_F(PreviewWindow, TypedZoomIsInsertedInOrderAndBadTextIgnored)
{
    FillAlbum();
    PreviewRow(0);
    TypeZoom(L"150%");
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 150.0);
    EXPECT_FALSE(preview->ImgView1->AutoFit);
    const std::vector<std::wstring> withTyped{L"5%",   L"10%",  L"25%",  L"50%",  L"75%", L"100%",
                                              L"150%", L"200%", L"300%", L"400%", L"500%"};
    EXPECT_EQ(ZoomList(), withTyped);
    EXPECT_EQ(preview->CB_Zoom->GetItemIndex(), 6);
    for (const wchar_t* bad : {L"0", L"2000", L"%50", L"5%0", L"", L"1001"}) {
        TypeZoom(bad);
        EXPECT_EQ(preview->ImgView1->GetZoomX(), 150.0) << "typed " << std::string(bad, bad + wcslen(bad));
    }
    // A typed number without "%" and the extreme presets.
    TypeZoom(L"500");
    EXPECT_EQ(preview->ImgView1->GetZoomX(), 500.0);
    EXPECT_FALSE(preview->btnZoomIn->GetEnabled());
    // Only digits, Backspace, Tab, Enter and "%" reach the field.
    for (wchar_t key : {L'a', L'-', L' ', L'.'}) {
        preview->CB_ZoomKeyPress(preview->CB_Zoom, key);
        EXPECT_EQ(key, L'\n');
    }
    for (wchar_t key : {L'7', L'%', wchar_t{8}, wchar_t{9}}) {
        const wchar_t typed = key;
        preview->CB_ZoomKeyPress(preview->CB_Zoom, key);
        EXPECT_EQ(key, typed);
    }
}

TEST_F(PreviewWindow, TurnedPictureIsAddedWithItsAngle)
{
    main->CB1->SetItemIndex(6);
    main->CB1Change(main->CB1);
    main->LV1->SetPath(pictures.Path());
    ASSERT_EQ(main->LV1->GetItems()->GetCount(), 3);
    main->LV1->SetItemIndex(1);
    ASSERT_TRUE(main->btnAdd->GetEnabled());
    main->ShowLargePreView(L'L', 1);
    ASSERT_TRUE(preview->GetVisible());
    EXPECT_EQ(preview->mnuList->GetCaption(), main->btnAdd->GetCaption());
    imaging::TPxBitmap* image = preview->ImgView1->GetPxBitmap();
    const int width = image->GetWidth(), height = image->GetHeight();
    preview->R1Click(preview->R2);
    EXPECT_EQ(preview->R1->GetTag(), 90);
    EXPECT_EQ(preview->ImgView1->GetPxBitmap()->GetWidth(), height);
    preview->R1Click(preview->R2);
    EXPECT_EQ(preview->R1->GetTag(), 180);
    EXPECT_EQ(preview->ImgView1->GetPxBitmap()->GetWidth(), width);
    preview->mnuListClick(preview->mnuList);
    ASSERT_EQ(Album(), std::vector<std::wstring>{L"b.jpg"});
    EXPECT_EQ(main->LV2->GetItems()->GetItem(0)->GetSubItems()->GetStrings(0), L"180");
    EXPECT_TRUE(main->LV2->GetItems()->GetItem(0)->GetSelected());
    // Added again: the row takes the new angle, no second row appears.
    preview->R1Click(preview->R4);
    EXPECT_EQ(preview->R1->GetTag(), 90);
    preview->mnuListClick(preview->mnuList);
    ASSERT_EQ(Album(), std::vector<std::wstring>{L"b.jpg"});
    EXPECT_EQ(main->LV2->GetItems()->GetItem(0)->GetSubItems()->GetStrings(0), L"90");
}

TEST_F(PreviewWindow, NavigationAndRemovalUntilTheAlbumIsEmpty)
{
    FillAlbum();
    PreviewRow(2);
    EXPECT_FALSE(preview->mnuNext->GetEnabled());
    EXPECT_FALSE(preview->mnuLast->GetEnabled());
    EXPECT_TRUE(preview->mnuFirst->GetEnabled());
    preview->mnuFirstClick(preview->mnuFirst);
    EXPECT_EQ(preview->GetCaption(), L"a.jpg");
    EXPECT_TRUE(main->LV2->GetItems()->GetItem(0)->GetSelected());
    EXPECT_FALSE(preview->mnuPrevious->GetEnabled());
    EXPECT_TRUE(preview->mnuNext->GetEnabled());
    preview->mnuFirstClick(preview->mnuNext);
    EXPECT_EQ(preview->GetCaption(), L"b.jpg");
    EXPECT_EQ(main->LV2->GetSelCount(), 1);
    EXPECT_EQ(preview->mnuList->GetCaption(), main->btnRemove->GetCaption());

    // Removing shows the row that took its place, then the one before it.
    preview->mnuListClick(preview->mnuList);
    EXPECT_EQ(Album(), (std::vector<std::wstring>{L"a.jpg", L"c.jpg"}));
    EXPECT_EQ(preview->GetCaption(), L"c.jpg");
    preview->mnuListClick(preview->mnuList);
    EXPECT_EQ(Album(), std::vector<std::wstring>{L"a.jpg"});
    EXPECT_EQ(preview->GetCaption(), L"a.jpg");
    EXPECT_TRUE(preview->GetVisible());
    preview->mnuListClick(preview->mnuList);
    EXPECT_TRUE(Album().empty());
    EXPECT_FALSE(preview->GetVisible());
}

TEST_F(PreviewWindow, RowsAreFoundAgainAfterTheyMoved)
{
    FillAlbum();
    PreviewRow(0);
    ASSERT_EQ(preview->GetCaption(), L"a.jpg");
    // Meanwhile the main window moves "a.jpg" to the end and drops "b.jpg".
    main->MoveListViewItem(main->LV2, 0, 2);
    main->LV2->GetItems()->Delete(0);
    ASSERT_EQ(Album(), (std::vector<std::wstring>{L"c.jpg", L"a.jpg"}));
    EXPECT_EQ(preview->CurrentIndex(), 1);
    main->LV2->SetItemIndex(1);
    preview->mnuListClick(preview->mnuList);
    EXPECT_EQ(Album(), std::vector<std::wstring>{L"c.jpg"});
    EXPECT_EQ(preview->GetCaption(), L"c.jpg");
    // A shown row that left the list is not replaced by another one.
    PreviewRow(0);
    main->LV2->GetItems()->Delete(0);
    main->AddAlbumRow(pictures.File(L"b.jpg"), L"0");
    main->LV2->SetItemIndex(0);
    EXPECT_EQ(preview->CurrentIndex(), -1);
    preview->mnuListClick(preview->mnuList);
    EXPECT_EQ(Album(), std::vector<std::wstring>{L"b.jpg"});
}

TEST_F(PreviewWindow, PlaceIsKeptInTheSettings)
{
    album::TSettings& s = main->Settings;
    s.L2 = s.T2 = s.W2 = s.H2 = 0;
    preview->FormShow(preview);
    const int left = main->GetLeft() + main->PanelLEFT->GetWidth() + main->TmSplitter1->GetPosition() +
                     main->LV1->GetWidth() / 4;
    const int top = main->GetTop() + main->LV1->GetTop() + 100;
    EXPECT_EQ(preview->GetLeft(), left);
    EXPECT_EQ(preview->GetTop(), top);
    EXPECT_EQ(preview->GetWidth(), main->GetLeft() + main->GetWidth() - left - 100);
    EXPECT_EQ(preview->GetHeight(), main->GetTop() + main->GetHeight() - top - 100);
    EXPECT_TRUE(::GetWindowLongW(preview->GetHandle(), GWL_EXSTYLE) & WS_EX_TOPMOST);

    preview->SetBounds(30, 40, 700, 500);
    classlib::TCloseAction action = classlib::caHide;
    preview->FormClose(preview, action);
    EXPECT_EQ(s.L2, 30);
    EXPECT_EQ(s.T2, 40);
    EXPECT_EQ(s.W2, 700);
    EXPECT_EQ(s.H2, 500);
    preview->SetBounds(0, 0, 600, 450);
    preview->FormShow(preview);
    EXPECT_EQ(preview->GetLeft(), 30);
    EXPECT_EQ(preview->GetWidth(), 700);
    // Closed at the left edge: the default place again.
    s.L2 = 0;
    preview->FormShow(preview);
    EXPECT_EQ(preview->GetLeft(), left);
}

}  // namespace
