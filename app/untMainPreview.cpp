// The main window's previews: the small preview grids under both lists,
// their progress bars, the lists' hints and popup menu and the enlarged
// preview window.
#include "app/untMain.h"

#include <algorithm>
#include <cstdint>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/grid/ImgMView.h"

#include "app/untPreView.h"

#include "app/untMainShared.h"

namespace album {

using classlib::TControl;
using classlib::TListItem;
using classlib::TObject;

using namespace mainform;

// ---- previews ---------------------------------------------------------------

void TfrmMain::FitThumbnail(imaging::TImgMView* Grid)
{
    // The single thumbnail fills its grid; the grid fills its panel (its own
    // bounds may lag behind the panel's until it is realigned).
    classlib::TControl* panel = Grid->GetParent();
    Grid->SetThumbHeight(std::max(panel->GetClientHeight(), 1));
    Grid->SetThumbWidth(std::max(panel->GetClientWidth(), 1));
}

void TfrmMain::ShowPreview(imaging::TImgMView* Grid, const std::wstring& FileName, int Angle)
{
    Grid->Clear();
    FitThumbnail(Grid);
    if (!classlib::FileExists(FileName)) return;
    Grid->BeginPaintLock();
    const int index = Grid->AppendImage();
    Grid->SetImageFileName(index, FileName);
    Grid->EndPaintLock();
    imaging::TImgProc* proc = Grid->GetProc();
    proc->SetAttachedImg(Grid);
    // A picture stored mirrored shows as the album will show it.
    if (ReadPictureParams(ImgIO1, FileName) && ImgIO1->FileParams->HasEXIF &&
        IsMirroredOrientation(ImgIO1->FileParams->EXIFOrientation)) {
        if (imaging::TPxBitmap* image = Grid->GetPxBitmap()) imaging::PxFlipBitmap(image, 0);
        Grid->Update();
    }
    proc->Rotate(Angle, false, 0, static_cast<classlib::TColor>(-1));
}

void TfrmMain::ChB1Click(TObject*)
{
    if (!ChB1->GetChecked()) {
        ImPreView1->Clear();
    } else if (ShellIndex >= 0 && ShellIndex < LV1->GetItems()->GetCount()) {
        ShowPreview(ImPreView1, LV1->GetItemPathAt(ShellIndex), 0);
    }
}

void TfrmMain::ChB2Click(TObject*)
{
    if (!ChB2->GetChecked()) {
        ImPreview2->Clear();
    } else if (AlbumIndex >= 0 && AlbumIndex < LV2->GetItems()->GetCount()) {
        if (const TAlbumRow* record = AlbumRowOf(LV2->GetItems()->GetItem(AlbumIndex)))
            ShowPreview(ImPreview2, record->Path, record->Rotation());
    }
}

namespace {

// A preview load reports every percent, and each drawing of the bar costs
// the window thread a few milliseconds: the bar is drawn at most every
// kPreviewProgressMs, and always at the start and the end of a load.
constexpr ULONGLONG kPreviewProgressMs = 50;

bool ShowPreviewProgress(ULONGLONG& Shown, int Percent)
{
    const ULONGLONG now = ::GetTickCount64();
    if (Percent > 0 && Percent < 100 && now - Shown < kPreviewProgressMs) return false;
    Shown = now;
    return true;
}

}  // namespace

void TfrmMain::ImPreview1IOProgress(TObject*, int Percent)
{
    if (!ShowPreviewProgress(previewProgressShown_[0], Percent)) return;
    TmB1->SetPercent(static_cast<uint16_t>(std::clamp(Percent, 0, 100)));
    TmB1->SetVisible(Percent < 100);
    TmP2->SetVisible(Percent >= 100);
}

void TfrmMain::ImPreview2IOProgress(TObject*, int Percent)
{
    if (!ShowPreviewProgress(previewProgressShown_[1], Percent)) return;
    TmB11->SetPercent(static_cast<uint16_t>(std::clamp(Percent, 0, 100)));
    TmB11->SetVisible(Percent < 100);
    TmP22->SetVisible(Percent >= 100);
}

void TfrmMain::LV1MouseEnter(TObject*)
{
    if (LV1->GetItems()->GetCount() == 0) return;
    if (!BuildRunning()) TmP6->SetCaption(LV1->Hint);
    popupOwner_ = LV1;
    PopUp1->SetTag(1);
}

void TfrmMain::LV1MouseLeave(TObject*)
{
    if (!BuildRunning()) TmP6->SetCaption(L"");
}

void TfrmMain::AppHint(TObject*)
{
    if (!built_) return;
    const std::wstring& hint = classlib::Application->GetHint();
    // The lists show their own hint by their enter and leave rules; the
    // build state ("Press ESC", "Cancelling...") stays until the build ends.
    if (BuildRunning()) return;
    if (hint.empty()) {
        TmP6->SetCaption(L"");
    } else if (hint != LV1->Hint && hint != LV2->Hint) {
        TmP6->SetCaption(hint);
    }
}

void TfrmMain::LV2MouseEnter(TObject*)
{
    if (LV2->GetItems()->GetCount() > 0 && !BuildRunning()) TmP6->SetCaption(LV2->Hint);
    if (LV2->GetSelCount() > 0) {
        popupOwner_ = LV2;
        PopUp1->SetTag(2);
    }
}

void TfrmMain::LV2MouseMove(TObject* Sender, classlib::TShiftState, int, int)
{
    if (LV2->GetSelCount() == 0) {
        popupOwner_ = nullptr;
        PopUp1->SetTag(0);
        return;
    }
    LV2MouseEnter(Sender);
}

void TfrmMain::btnDirClick(TObject*)
{
    FBrowser->SetTitle(msgSelectDir);
    FBrowser->SetPath(EAlbDir->GetText());
    // A virtual folder has no path to write an album to.
    if (FBrowser->Execute() && !FBrowser->GetPath().empty()) EAlbDir->SetText(FBrowser->GetPath());
}

void TfrmMain::popLargePreViewClick(TObject*)
{
    if (PopUp1->GetTag() == 1 && LV1->GetSelCount() > 0) ShowLargePreView(L'L', LV1->GetItemIndex());
    if (PopUp1->GetTag() == 2 && LV2->GetSelCount() > 0) ShowLargePreView(L'R', LV2->GetItemIndex());
}

void TfrmMain::ShowLargePreView(wchar_t Mode, int Index)
{
    if (frmPreview) frmPreview->ShowItem(Mode, Index);
}

}  // namespace album
