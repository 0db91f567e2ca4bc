// The main window's layout: placing the controls of each pane whenever the
// window or a splitter changes size.
#include "app/untMain.h"

#include <algorithm>
#include <vector>

#include "classlib/WinHandles.h"

#include "app/FormParts.h"
#include "app/untMainShared.h"

namespace album {

using classlib::TControl;
using classlib::TObject;

using namespace mainform;

namespace {

// Places Buttons in one row across Width when each gets room for its
// caption, else one under the other; returns the height used.
int PlaceButtons(const std::vector<classlib::TButton*>& Buttons, int X, int Y, int Width)
{
    const int n = static_cast<int>(Buttons.size());
    int need = 0;
    for (classlib::TButton* b : Buttons) need = std::max(need, CaptionWidth(b, b->GetCaption()) + 16);
    if (need * n + kGap * (n - 1) <= Width) {
        const int w = (Width - kGap * (n - 1)) / n;
        for (int i = 0; i < n; ++i) {
            const int left = X + i * (w + kGap);
            const int right = i == n - 1 ? X + Width : left + w;
            Buttons[i]->SetBounds(left, Y, right - left, kButtonHeight);
        }
        return kButtonHeight;
    }
    for (int i = 0; i < n; ++i) Buttons[i]->SetBounds(X, Y + i * (kButtonHeight + kGap), Width, kButtonHeight);
    return n * kButtonHeight + (n - 1) * kGap;
}

}  // namespace

// ---- layout ---------------------------------------------------------------

void TfrmMain::LayoutControls()
{
    // A minimised window has no client area: laid out then, every pane
    // would shrink to nothing and the splitters lose their places.
    if (!built_ || (HandleAllocated() && ::IsIconic(GetHandle()))) return;

    // Browsing pane: find field, file list, type box, add buttons, preview.
    {
        TControl* pane = TmSplitter1->GetPane2();
        const int w = std::max(pane->GetClientWidth(), 1);
        const int h = pane->GetClientHeight();
        E1->SetBounds(0, 0, w, kEditHeight);
        // The previews' frames keep a gap above the bottom panel, whose
        // raised edge would otherwise swallow their light bottom edge.
        int bottom = h - kGap;
        const int preview = std::clamp(h / 3, 60, 160);
        bottom -= preview;
        BPanel1->SetBounds(0, bottom, w, preview);
        bottom -= kCheckHeight + kGap;
        ChB1->SetBounds(0, bottom, w, kCheckHeight);
        const int buttons = PlaceButtons({btnAdd, btnAddAll}, 0, 0, w);
        bottom -= buttons + kGap;
        PlaceButtons({btnAdd, btnAddAll}, 0, bottom, w);
        bottom -= kEditHeight + kGap;
        CB1->SetBounds(0, bottom, w, kEditHeight);
        const int listTop = kEditHeight + kGap;
        LV1->SetBounds(0, listTop, w, std::max(bottom - kGap - listTop, 20));
    }
    // Album pane: the list over its buttons.
    {
        TControl* pane = TmSplitter2->GetPane1();
        const int w = std::max(pane->GetClientWidth(), 1);
        const int h = pane->GetClientHeight();
        const int rows = PlaceButtons({btnRemove, btnRemoveAll}, 0, 0, w);
        const int fileRow = PlaceButtons({btnOpen, btnSave}, 0, 0, w);
        int y = h - rows;
        PlaceButtons({btnRemove, btnRemoveAll}, 0, y, w);
        y -= fileRow + kGap;
        PlaceButtons({btnOpen, btnSave}, 0, y, w);
        LV2->SetBounds(0, 0, w, std::max(y - kGap, 20));
        if (LV2->GetColumns()->GetCount() > 0) LV2->GetColumns()->GetItem(0)->SetWidth(std::max(w - 24, 40));
    }
    // Details pane: rotation and move buttons, rotation text, title,
    // description, preview.
    {
        TControl* pane = TmSplitter2->GetPane2();
        const int w = std::max(pane->GetClientWidth(), 1);
        const int h = pane->GetClientHeight();
        const int toolWidth = std::max(kToolButton, std::min(38, (w - 8) / 6));
        int x = 0;
        for (classlib::TSpeedButton* b : {R1, R2, R3, R4}) {
            b->SetBounds(x, 0, toolWidth, kToolButton);
            x += toolWidth;
        }
        x = std::max(x + 8, w - 2 * toolWidth);
        for (classlib::TSpeedButton* b : {btnPgUp, btnPgDown}) {
            b->SetBounds(x, 0, toolWidth, kToolButton);
            x += toolWidth;
        }
        int y = kToolButton + kGap;
        LBL_Rotate->SetBounds(0, y, w, kLabelHeight);
        y += kLabelHeight + kGap;
        LBL_Title->SetBounds(0, y, w, kLabelHeight);
        y += kLabelHeight + 2;
        E_Title->SetBounds(0, y, w, kEditHeight);
        y += kEditHeight + kGap + 2;
        LBL_Desc->SetBounds(0, y, w, kLabelHeight);
        y += kLabelHeight + 2;
        const int rest = h - y;
        const int desc = std::clamp(rest / 3, 40, 120);
        E_Desc->SetBounds(0, y, w, desc);
        y += desc + kGap + 2;
        ChB2->SetBounds(0, y, w, kCheckHeight);
        y += kCheckHeight + kGap;
        BPanel2->SetBounds(0, y, w, std::max(h - kGap - y, 30));
    }
    // Bottom panel: one row.
    {
        const int w = TmPanel1->GetClientWidth();
        const int top = (TmPanel1->GetHeight() - kButtonHeight) / 2 + 1;
        const int editTop = top + (kButtonHeight - kEditHeight) / 2;
        const int labelTop = editTop + 4;
        int x = 8;
        int lw = CaptionWidth(LAlb, LAlb->GetCaption());
        LAlb->SetBounds(x, labelTop, lw, kLabelHeight);
        x += lw + kGap;
        EAlbName->SetBounds(x, editTop, 150, kEditHeight);
        x += 150 + 12;
        lw = CaptionWidth(LDir, LDir->GetCaption());
        LDir->SetBounds(x, labelTop, lw, kLabelHeight);
        x += lw + kGap;
        int right = w - 8;
        for (classlib::TButton* b : {btnCancel, btnStart}) {
            const int bw = std::max(80, CaptionWidth(b, b->GetCaption()) + 20);
            right -= bw;
            b->SetBounds(right, top, bw, kButtonHeight);
            right -= kGap;
        }
        const int aw = std::max(100, CaptionWidth(btnAdv, btnAdv->GetCaption()) + 20);
        right -= aw + 8;
        btnAdv->SetBounds(right, top, aw, kButtonHeight);
        right -= 12;
        btnDir->SetBounds(right - kButtonHeight, top, kButtonHeight, kButtonHeight);
        right -= kButtonHeight + 2;
        EAlbDir->SetBounds(x, editTop, std::max(right - x, 60), kEditHeight);
    }
    // Status bar: shell position | build bars | message | album position.
    {
        const int w = TmSB1->GetClientWidth();
        const int h = TmSB1->GetClientHeight();
        const int side = 130;
        TmP2->SetBounds(0, 0, side, h);
        TmB1->SetBounds(0, 2, side, h - 4);
        TmP22->SetBounds(w - side, 0, side, h);
        TmB11->SetBounds(w - side, 2, side, h - 4);
        int x = side + 2;
        if (TmB3->GetVisible()) {
            TmB3->SetBounds(x, 2, 160, h - 4);
            TmB4->SetBounds(x + 162, 2, 160, h - 4);
            x += 324;
        } else if (TmB4->GetVisible()) {  // an album list being opened
            TmB4->SetBounds(x, 2, 160, h - 4);
            x += 162;
        }
        TmP6->SetBounds(x, 0, std::max(w - side - 2 - x, 10), h);
    }
}

void TfrmMain::FormResize(TObject*)
{
    if (!built_ || (HandleAllocated() && ::IsIconic(GetHandle()))) return;
    LayoutControls();
    for (imaging::TImgMView* grid : {ImPreView1, ImPreview2}) FitThumbnail(grid);
    if (LV1->GetColumns()->GetCount() > 0) LV1->GetColumns()->GetItem(0)->SetWidth(std::max(LV1->GetWidth() - 4, 20));
    for (themed::TTmSplitter* s : {TmSplitter1, TmSplitter2}) {
        s->SetMarginMax(kPaneMargin);
        s->SetMarginMin(kPaneMargin);
    }
    ResetLables();
}

void TfrmMain::ResetLables()
{
    L3->SetLeft(TMSP->GetLeft() + FTree->GetWidth() + LV1->GetWidth() + 2 * TMSP->GetSplitterWidth());
}

void TfrmMain::TmSplitter1Change(TObject*)
{
    LayoutControls();
    ResetLables();
}

void TfrmMain::TmSplitter2Change(TObject*)
{
    LayoutControls();
    E_Title->SetWidth(E_Desc->GetWidth());
    ResetLables();
}

}  // namespace album
