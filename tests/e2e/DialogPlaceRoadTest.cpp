// The real program's file and folder dialogs open centred over its window,
// not at a corner; the small previews' frames stand clear of the bottom
// panel, so their bottom edge shows.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each test so the program starts on its
// defaults. VELMO_E2E_EXE names another Velmo.exe to drive (a Windows path).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Driver.h"
#include "RoadRun.h"

using namespace e2e;

namespace {

const wchar_t kCaption[] = L"Velmo Morvane";

// The button, its dialog's kind for the failure message.
struct TDialogCase {
    const wchar_t* Button;
    const char* Kind;
};

TEST(DialogPlaceRoad, DialogsOpenOverTheMainWindow)
{
    TRoadRun run;
    std::wstring error;
    ASSERT_TRUE(run.Start(error)) << Utf8(error);
    // Away from the screen's centre and corner, so that neither passes.
    ::SetWindowPos(run.app.Main(), nullptr, 300, 250, 940, 700, SWP_NOZORDER);
    RECT main{};
    ::GetWindowRect(run.app.Main(), &main);
    for (const TDialogCase& c : {TDialogCase{L"btnOpen", "open file list"}, TDialogCase{L"btnDir", "album folder"}}) {
        SCOPED_TRACE(c.Kind);
        ASSERT_TRUE(run.app.PostClick(c.Button));
        TDialog dialog;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(run.app.Pid()))
                    if (d.Caption != kCaption) dialog = d;
                return dialog.Wnd != nullptr;
            },
            15000))
            << "no dialog";
        ::Sleep(300);
        Screenshot(std::wstring(L"dialog-place-") + c.Button);
        RECT box{};
        ::GetWindowRect(dialog.Wnd, &box);
        const POINT centre{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
        // Centred over the window (within an eighth of its size).
        const POINT middle{(main.left + main.right) / 2, (main.top + main.bottom) / 2};
        EXPECT_LE(std::abs(centre.x - middle.x), (main.right - main.left) / 8)
            << "the dialog's centre " << centre.x << "," << centre.y << ", the window's " << middle.x << ","
            << middle.y;
        EXPECT_LE(std::abs(centre.y - middle.y), (main.bottom - main.top) / 8)
            << "the dialog's centre " << centre.x << "," << centre.y << ", the window's " << middle.x << ","
            << middle.y;
        EXPECT_TRUE(PressButton(dialog.Wnd, IDCANCEL));
        WaitUntil([&] { return !::IsWindow(dialog.Wnd) || !::IsWindowVisible(dialog.Wnd); }, 5000);
    }
}

TEST(DialogPlaceRoad, PreviewFramesEndAboveTheBottomPanel)
{
    TRoadRun run;
    std::wstring error;
    ASSERT_TRUE(run.Start(error)) << Utf8(error);
    RECT bottom{};
    ::GetWindowRect(run.Control(L"TmPanel1"), &bottom);
    for (const wchar_t* frame : {L"BPanel1", L"BPanel2"}) {
        HWND wnd = run.Control(frame);
        ASSERT_TRUE(wnd);
        RECT r{};
        ::GetWindowRect(wnd, &r);
        EXPECT_LE(r.bottom + 2, bottom.top) << Utf8(frame) << " ends at " << r.bottom << ", the bottom panel starts at "
                                            << bottom.top;
    }
    Screenshot(L"preview-frames");
}

}  // namespace
