#include "app/untPreView.h"

#include <cmath>
#include <utility>

#include "app/FormParts.h"
#include "app/Translations.h"
#include "app/untMain.h"
#include "classlib/ComCtrls.h"
#include "classlib/Dialogs.h"
#include "classlib/StdCtrls.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShellControls.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmPrgres.h"
#include "controls/themed/TmStatus.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"

namespace album {

using namespace classlib;

TfrmPreview* frmPreview = nullptr;

namespace {

// Cursor ids of the view over a picture larger than the window (grab) and
// while dragging it; not registered, so the default cursor shows.
constexpr TCursor kGrabCursor = 5;
constexpr TCursor kGrabbingCursor = 6;

// The toolbar glyphs in image-list order, and what a button without
// glyphs shows instead.
struct TGlyph {
    const wchar_t* Resource;
    const wchar_t* Text;
};
constexpr TGlyph kGlyphs[] = {
    {L"TB_FIRST", L"|<"},    {L"TB_PREV", L"<"},    {L"TB_NEXT", L">"},       {L"TB_LAST", L">|"},
    {L"TB_ZOOMOUT", L"-"},   {L"TB_ZOOMIN", L"+"},  {L"TB_ZOOM100", L"1:1"},  {L"TB_FIT", L"Fit"},
    {L"TB_ROT90", L"90"},    {L"TB_ROT180", L"180"}, {L"TB_ROT270", L"270"}, {L"TB_ADD", L"Add"},
    {L"TB_REMOVE", L"Remove"}};
enum TGlyphIndex { giFirst, giPrev, giNext, giLast, giZoomOut, giZoomIn, giZoom100, giFit, giRot90, giRot180,
                   giRot270, giAdd, giRemove };

// Fills List from the program's bitmap resources Suffix ("" or "_D");
// false (List empty) when one of them is missing.
bool LoadGlyphs(toolbar::TMbImageList* List, const wchar_t* Suffix)
{
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    try {
        for (const TGlyph& g : kGlyphs) {
            TBitmap bmp;
            bmp.LoadFromResourceName(inst, std::wstring(g.Resource) + Suffix);
            List->AddMasked(&bmp, static_cast<TColor>(0xFF00FF));
        }
        return true;
    } catch (const Exception&) {
        List->Clear();
        return false;
    }
}

// The number of a zoom list entry (its text without the last character).
int EntryNumber(const std::wstring& Text)
{
    int value = 0;
    return TryStrToInt(Text.substr(0, Text.empty() ? 0 : Text.size() - 1), value) ? value : 0;
}

void SelectOnly(TListView* List, int Index)
{
    TListItems* items = List->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetSelected(false);
    if (Index >= 0 && Index < items->GetCount()) items->GetItem(Index)->SetSelected(true);
}

}  // namespace

TfrmPreview::TfrmPreview(TComponent* AOwner) : TForm(AOwner)
{
    SetName(L"frmPreview");
    SetCaption(L"");
    SetClientWidth(560);
    SetClientHeight(400);

    // The toolbar is built as if read with the form, so its entries keep
    // their row order as priority: on a narrow window the last ones go
    // behind the chevron first, as in the main window's menus.
    classlib::BeginLoading(this);
    // A dock along the top that keeps its one toolbar in place (no drag
    // handle), the toolbar as wide as the dock.
    MbDock1 = NewControl<toolbar::TMbDock>(this, this, L"MbDock1");
    MbDock1->SetAllowDrag(false);
    MbToolbar1 = NewControl<toolbar::TMbToolbar>(this, MbDock1, L"MbToolbar1");
    MbToolbar1->SetFullSize(true);
    MbToolbar1->SetShowHint(true);

    ImgListMain = NewComponent<toolbar::TMbImageList>(this, L"ImgListMain");
    ImgListD = NewComponent<toolbar::TMbImageList>(this, L"ImgListD");
    const bool glyphs = LoadGlyphs(ImgListMain, L"") && LoadGlyphs(ImgListD, L"_D");
    if (glyphs) {
        // Disabled buttons draw their glyphs from the second list.
        ImgListMain->SetDisabledImages(ImgListD);
        MbToolbar1->SetImages(ImgListMain);
    } else {
        ImgListMain->Clear();
        ImgListD->Clear();
    }

    toolbar::TMbCustomItem* row = MbToolbar1->GetItems();
    auto item = [&](toolbar::TMbItem** Member, const wchar_t* Name, int Glyph, void (TfrmPreview::*Click)(TObject*)) {
        auto* i = NewComponent<toolbar::TMbItem>(this, Name);
        i->DisplayXP = false;
        if (glyphs && Glyph >= 0)
            i->SetImageIndex(Glyph);
        else if (Glyph >= 0)
            i->SetCaption(kGlyphs[Glyph].Text);
        if (Click) i->OnClick = TNotifyEvent(this, Click);
        row->Add(i);
        *Member = i;
    };
    auto separator = [&] { row->Add(new toolbar::TMbSeparatorItem(this)); };
    item(&mnuFirst, L"mnuFirst", giFirst, &TfrmPreview::mnuFirstClick);
    item(&mnuPrevious, L"mnuPrevious", giPrev, &TfrmPreview::mnuFirstClick);
    item(&mnuNext, L"mnuNext", giNext, &TfrmPreview::mnuFirstClick);
    item(&mnuLast, L"mnuLast", giLast, &TfrmPreview::mnuFirstClick);
    separator();
    item(&btnZoomOut, L"btnZoomOut", giZoomOut, &TfrmPreview::btnZoomOutClick);
    CB_Zoom = NewComponent<TComboBox>(this, L"CB_Zoom");
    CB_Zoom->SetBounds(0, 0, 64, 21);
    CB_Zoom->DropDownCount = 12;
    CB_Zoom->OnSelect = TNotifyEvent(this, &TfrmPreview::CB_ZoomSelect);
    CB_Zoom->OnKeyPress = TKeyPressEvent(this, &TfrmPreview::CB_ZoomKeyPress);
    CB_ZoomItem = NewComponent<toolbar::TMbControlItem>(this, L"CB_ZoomItem");
    CB_ZoomItem->SetControl(CB_Zoom);
    row->Add(CB_ZoomItem);
    item(&btnZoomIn, L"btnZoomIn", giZoomIn, &TfrmPreview::btnZoomOutClick);
    item(&btnZoom100, L"btnZoom100", giZoom100, &TfrmPreview::btnZoom100Click);
    item(&btnAutoFit, L"btnAutoFit", giFit, &TfrmPreview::btnZoom100Click);
    btnAutoFit->SetEnabled(false);
    separator();
    item(&R1, L"R1", -1, &TfrmPreview::R1Click);
    R1->SetVisible(false);
    item(&R2, L"R2", giRot90, &TfrmPreview::R1Click);
    item(&R3, L"R3", giRot180, &TfrmPreview::R1Click);
    item(&R4, L"R4", giRot270, &TfrmPreview::R1Click);
    separator();
    item(&mnuList, L"mnuList", giAdd, &TfrmPreview::mnuListClick);
    item(&mnuListAll, L"mnuListAll", -1, &TfrmPreview::mnuListAllClick);
    mnuListAll->SetVisible(false);
    item(&mnuSaveAs, L"mnuSaveAs", -1, nullptr);
    mnuSaveAs->SetVisible(false);
    classlib::EndLoading(this);
    MbToolbar1->Rearrange();

    TmSB = NewControl<themed::TTmStatusBar>(this, this, L"TmSB");
    TmSB->SetAlign(alBottom);
    TmSB->SetHeight(22);
    TmProgr1 = NewControl<themed::TTmProgressBar>(this, TmSB, L"TmProgr1");
    TmProgr1->SetWidth(160);
    TmProgr1->SetAlign(alLeft);
    TmProgr1->SetVisible(false);
    TmSP2 = NewControl<themed::TTmStatusPane>(this, TmSB, L"TmSP2");
    TmSP2->SetWidth(60);
    TmSP2->SetAlign(alLeft);
    TmSP2->SetCaption(L"OK");
    TmSP1 = NewControl<themed::TTmStatusPane>(this, TmSB, L"TmSP1");
    TmSP1->SetAlign(alClient);

    ImgView1 = NewControl<imaging::TImg>(this, this, L"ImgView1");
    ImgView1->SetAlign(alClient);
    ImgView1->SetBorderStyle(imaging::bsNone);
    // Fitting shrinks large pictures and enlarges small ones.
    ImgView1->AutoFit = true;
    ImgView1->SetShowHint(true);
    ImgView1->SetOnProgress(imaging::TPxProgressEvent(this, &TfrmPreview::ImgView1Progress));
    ImgView1->OnMouseDown = TMouseEvent(this, &TfrmPreview::ImgView1MouseDown);
    ImgView1->OnMouseMove = TMouseMoveEvent(this, &TfrmPreview::ImgView1MouseMove);
    ImgView1->OnMouseUp = TMouseEvent(this, &TfrmPreview::ImgView1MouseUp);

    ImgIO1 = NewComponent<imaging::TImgIO>(this, L"ImgIO1");
    SaveImgDialog1 = NewComponent<TSaveDialog>(this, L"SaveImgDialog1");

    OnCreate = TNotifyEvent(this, &TfrmPreview::FormCreate);
    OnShow = TNotifyEvent(this, &TfrmPreview::FormShow);
    OnClose = TCloseEvent(this, &TfrmPreview::FormClose);
    OnResize = TNotifyEvent(this, &TfrmPreview::FormResize);
    // Esc closes the window whichever of its controls has the focus.
    KeyPreview = true;
    OnKeyDown = TKeyEvent(this, &TfrmPreview::FormKeyDown);
}

TfrmPreview::~TfrmPreview()
{
    DestroyComponents();
    if (frmPreview == this) frmPreview = nullptr;
}

void TfrmPreview::CreateParams(TCreateParams& Params)
{
    TForm::CreateParams(Params);
    Params.ExStyle |= WS_EX_TOPMOST;
}

// ------------------------------------------------------------ source lists

TListView* TfrmPreview::SourceList() const
{
    if (!frmMain) return nullptr;
    return Mode == L'R' ? frmMain->LV2 : static_cast<TListView*>(frmMain->LV1);
}

int TfrmPreview::SourceCount() const
{
    TListView* list = SourceList();
    return list ? list->GetItems()->GetCount() : 0;
}

int TfrmPreview::CurrentIndex() const
{
    if (Mode == L'R') return frmMain ? frmMain->AlbumRowIndex(rowId_) : -1;
    return static_cast<int>(GetTag());
}

TListItem* TfrmPreview::ShownRow() const
{
    const int index = Mode == L'R' ? CurrentIndex() : -1;
    return index >= 0 ? frmMain->LV2->GetItems()->GetItem(index) : nullptr;
}

void TfrmPreview::ShowItem(wchar_t AMode, int Index)
{
    if (!frmMain) return;
    TListView* list = AMode == L'R' ? frmMain->LV2 : static_cast<TListView*>(frmMain->LV1);
    if (Index < 0 || Index >= list->GetItems()->GetCount()) return;
    const TAlbumRow* record = AMode == L'R' ? frmMain->AlbumRowOf(list->GetItems()->GetItem(Index)) : nullptr;
    if (AMode == L'R' && !record) return;
    const std::wstring path = AMode == L'R' ? record->Path : frmMain->LV1->GetItemPathAt(Index);
    if (!FileExists(path)) return;
    Mode = AMode;
    rowId_ = Mode == L'R' ? frmMain->AlbumRowId(list->GetItems()->GetItem(Index)) : 0;
    ShowListCommands();
    SetArrows(Index, list->GetItems()->GetCount());
    SetTag(Index);
    if (!GetVisible()) ImgView1->FillWithBackground();
    if (HandleAllocated() && ::IsIconic(GetHandle())) ::ShowWindow(GetHandle(), SW_RESTORE);
    SetCaption(ExtractFileName(path));

    ReadPictureParams(ImgIO1, path);
    imaging::TIOParamsVals* params = ImgIO1->FileParams;
    mnuList->SetEnabled(true);
    if (params->Width == 0 || params->Height == 0) {
        mnuList->SetEnabled(false);
        if (!GetVisible()) return;
        ImgView1->FillWithBackground();
    }
    // The turn a new album row gets from this orientation (a mirrored one
    // included: the build undoes the mirroring).
    R1->SetTag(RotationOf(RotationOfOrientation(params->HasEXIF ? params->EXIFOrientation : 1)));

    Show();
    TmSP1->SetCaption(L"");
    Application->ProcessMessages();
    try {
        ImgView1->GetIO()->LoadFromFile(path);
    } catch (const Exception&) {
        // A picture that fails to load leaves the view empty.
        ImgView1->FillWithBackground();
    }
    ImgView1->SetVisible(false);
    if (ImgView1->AutoFit && ImgView1->GetZoomX() > 100) {
        ImgView1->AutoFit = false;
        ImgView1->SetZoom(100);
        btnZoom100->SetEnabled(false);
        btnAutoFit->SetEnabled(true);
    }
    ImgView1->SetVisible(true);
    ImgView1->SetTag(1);
    CheckZoom();
}

void TfrmPreview::ShowListCommands()
{
    if (!frmMain) return;
    const bool adding = Mode == L'L';
    mnuList->SetCaption((adding ? frmMain->btnAdd : frmMain->btnRemove)->GetCaption());
    mnuListAll->SetCaption((adding ? frmMain->btnAddAll : frmMain->btnRemoveAll)->GetCaption());
    mnuList->Hint = mnuList->GetCaption();
    if (ImgListMain->GetCount() > 0) mnuList->SetImageIndex(adding ? giAdd : giRemove);
}

void TfrmPreview::SetArrows(int Index, int Count)
{
    mnuNext->SetEnabled(Index + 1 < Count);
    mnuLast->SetEnabled(Index + 1 < Count);
    mnuPrevious->SetEnabled(Index > 0);
    mnuFirst->SetEnabled(Index > 0);
}

void TfrmPreview::mnuFirstClick(TObject* Sender)
{
    const int n = SourceCount();
    int tag = CurrentIndex();
    // The shown album row left the list: step from where it was.
    if (tag < 0) tag = std::min(static_cast<int>(GetTag()), n - 1);
    if (Sender == mnuFirst)
        tag = 0;
    else if (Sender == mnuPrevious)
        tag -= 1;
    else if (Sender == mnuNext)
        tag += 1;
    else if (Sender == mnuLast)
        tag = n - 1;
    if (tag < 0 || tag >= n) return;
    ShowItem(Mode, tag);
    SelectOnly(SourceList(), tag);
}

void TfrmPreview::mnuListClick(TObject*)
{
    if (!frmMain) return;
    TListView* album = frmMain->LV2;
    if (Mode == L'L') {
        if (!frmMain->btnAdd->GetEnabled()) return;
        const std::wstring file = ImgView1->GetIO()->FileParams->FileName;
        if (file.empty()) return;
        const std::wstring rotation = IntToStr(R1->GetTag());
        TListItem* row = frmMain->FindAlbumRow(file);
        if (row) {
            album->SetSelected(nullptr);
            frmMain->SetAlbumRowText(row, siRotation, rotation);
        } else {
            row = frmMain->AddAlbumRow(file, rotation);
            album->SetSelected(nullptr);
        }
        row->SetSelected(true);
        frmMain->ListModified = true;
        frmMain->CheckList();
        return;
    }
    if (!frmMain->btnRemove->GetEnabled()) return;
    int index = CurrentIndex();
    // The row shown is no longer in the list: nothing to remove.
    if (index < 0) return;
    // The button takes a row out of the album: the user confirms first. The
    // question stays above this top-most window.
    const TAlbumRow* shown = frmMain->AlbumRowOf(album->GetItems()->GetItem(index));
    if (!shown) return;
    const std::wstring question = StringReplace(frmMain->Translation.Text(L"msgRemoveFromAlbum"), L"%f",
                                                ExtractFileName(shown->Path), rfReplaceAll);
    if (frmMain->ShowMessageBox(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST) != IDYES) return;
    // The list may have changed while the question was open.
    index = CurrentIndex();
    if (index < 0 || !frmMain->btnRemove->GetEnabled()) return;
    frmMain->DeleteAlbumRow(index);
    frmMain->ListModified = true;
    frmMain->AlbumIndex = -1;
    const int count = album->GetItems()->GetCount();
    frmMain->CheckList();
    if (count == 0) {
        Close();
        return;
    }
    const int next = index < count ? index : index - 1;
    SelectOnly(album, next);
    ShowItem(L'R', next);
}

void TfrmPreview::mnuListAllClick(TObject*)
{
    if (!frmMain) return;
    TButton* button = Mode == L'L' ? frmMain->btnAddAll : frmMain->btnRemoveAll;
    if (button->GetEnabled()) button->Click();
}

// -------------------------------------------------------------------- zoom

void TfrmPreview::ResetCBZoom()
{
    TStrings* items = CB_Zoom->GetItems();
    items->Clear();
    for (const std::wstring& preset : ZoomPresets) items->Add(preset);
}

void TfrmPreview::InsertToCBZoom(int Z)
{
    TStrings* items = CB_Zoom->GetItems();
    const std::wstring text = IntToStr(Z) + L"%";
    if (items->IndexOf(text) >= 0) return;
    for (int i = 0; i < items->GetCount(); ++i) {
        if (EntryNumber(items->GetStrings(i)) > Z) {
            items->Insert(i, text);
            return;
        }
    }
    items->Add(text);
}

void TfrmPreview::CheckZoom()
{
    if (ImgView1->GetTag() == 0) return;
    imaging::TPxBitmap* image = ImgView1->GetPxBitmap();
    if (!image || (image->GetWidth() == 0 && image->GetHeight() == 0)) {
        for (toolbar::TMbItem* b : {btnZoomOut, btnZoomIn, btnZoom100, btnAutoFit}) b->SetEnabled(false);
        TmSP1->SetCaption(L"");
        return;
    }
    const double z = ImgView1->GetZoomX();
    btnZoom100->SetEnabled(z != 100);
    btnAutoFit->SetEnabled(!ImgView1->AutoFit);
    CB_Zoom->SetEnabled(true);
    if (CB_Zoom->GetItems()->GetCount() >= static_cast<int>(ZoomPresets.size())) ResetCBZoom();
    const int rounded = static_cast<int>(std::nearbyint(z));
    InsertToCBZoom(rounded);
    CB_Zoom->SetItemIndex(CB_Zoom->GetItems()->IndexOf(IntToStr(rounded) + L"%"));
    btnZoomIn->SetEnabled(EntryNumber(ZoomPresets.back()) > z);
    btnZoomOut->SetEnabled(EntryNumber(ZoomPresets.front()) < z);
}

void TfrmPreview::CB_ZoomSelect(TObject*)
{
    const int index = CB_Zoom->GetItemIndex();
    if (index < 0) return;
    ImgView1->AutoFit = false;
    ImgView1->SetZoom(EntryNumber(CB_Zoom->GetItems()->GetStrings(index)));
    CheckZoom();
}

void TfrmPreview::btnZoomOutClick(TObject* Sender)
{
    const int index = CB_Zoom->GetItemIndex() + (Sender == btnZoomIn ? 1 : -1);
    if (index < 0 || index >= CB_Zoom->GetItems()->GetCount()) return;
    CB_Zoom->SetItemIndex(index);
    CB_ZoomSelect(CB_Zoom);
}

void TfrmPreview::btnZoom100Click(TObject* Sender)
{
    if (Sender == btnZoom100) {
        ImgView1->AutoFit = false;
        ImgView1->SetZoom(100);
        btnZoom100->SetEnabled(false);
        btnAutoFit->SetEnabled(true);
    } else {
        const double fit = ImgView1->GetFitZoom();
        // Fitting shrinks large pictures and enlarges small ones.
    ImgView1->AutoFit = true;
        ImgView1->SetZoom(std::min(fit, 100.0));
        btnZoom100->SetEnabled(true);
        btnAutoFit->SetEnabled(false);
    }
    CheckZoom();
}

int TfrmPreview::ParseZoomText(const std::wstring& Text)
{
    if (Text.empty()) return 0;
    const std::size_t percent = Text.find(L'%');
    if (percent != std::wstring::npos && (percent == 0 || percent + 1 != Text.size())) return 0;
    const std::wstring digits = Text.substr(0, percent);
    if (digits.empty() || digits.size() > 4) return 0;
    for (wchar_t c : digits)
        if (c < L'0' || c > L'9') return 0;
    const int value = StrToInt(digits);
    return value >= 1 && value <= 1000 ? value : 0;
}

void TfrmPreview::CB_ZoomKeyPress(TObject*, wchar_t& Key)
{
    const bool passes = (Key >= L'0' && Key <= L'9') || Key == 8 || Key == 9 || Key == 13 || Key == L'%';
    if (!passes) {
        Key = L'\n';
        return;
    }
    if (Key != 13) return;
    const int zoom = ParseZoomText(CB_Zoom->GetText());
    if (zoom == 0) return;
    ImgView1->AutoFit = false;
    ImgView1->SetZoom(zoom);
    CheckZoom();
}

// ---------------------------------------------------------------- rotation

void TfrmPreview::R1Click(TObject* Sender)
{
    if (Sender == R1) {
        R1->SetTag(0);
    } else {
        const int angle = Sender == R2 ? 90 : Sender == R3 ? 180 : 270;
        ImgView1->GetProc()->Rotate(angle, false, 0, static_cast<TColor>(-1));
        R1->SetTag((R1->GetTag() + angle) % 360);
    }
    CheckZoom();
}

// ------------------------------------------------------------------- view

void TfrmPreview::ImgView1Progress(TObject*, int Percent)
{
    if (Percent < 100) {
        TmSP2->SetVisible(false);
        TmProgr1->SetPercent(static_cast<uint16_t>(std::max(Percent, 0)));
        TmProgr1->SetVisible(true);
    } else {
        TmProgr1->SetVisible(false);
        TmSP2->SetVisible(true);
    }
}

void TfrmPreview::ImgView1DblClick(TObject*) { Close(); }

void TfrmPreview::ImgView1MouseMove(TObject*, TShiftState, int X, int Y)
{
    if (Dragging) return;
    if (ImgView1->FindLayerAt(X, Y, true) <= 0) {
        ImgView1->SetMouseInteract(imaging::TImgView::miScroll);
        imaging::TPxBitmap* image = ImgView1->GetPxBitmap();
        const double zoom = ImgView1->GetZoomX();
        const bool larger = image && (image->GetWidth() * zoom / 100 > ImgView1->GetClientWidth() ||
                                      image->GetHeight() * zoom / 100 > ImgView1->GetClientHeight());
        ImgView1->SetCursor(larger ? kGrabCursor : crArrow);
    } else {
        ImgView1->SetMouseInteract(imaging::TImgView::miMoveLayers);
        ImgView1->SetCursor(crSizeAll);
    }
}

void TfrmPreview::ImgView1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int, int)
{
    if (Button != mbLeft) return;
    if (Shift & ssDouble) {
        ImgView1DblClick(Sender);
        return;
    }
    Dragging = true;
    if (ImgView1->GetCursor() == kGrabCursor) ImgView1->SetCursor(kGrabbingCursor);
}

void TfrmPreview::ImgView1MouseUp(TObject*, TMouseButton Button, TShiftState, int, int)
{
    if (Button != mbLeft) return;
    Dragging = false;
    if (ImgView1->GetCursor() == kGrabbingCursor) ImgView1->SetCursor(kGrabCursor);
}

// ------------------------------------------------------------------ window

void TfrmPreview::FormCreate(TObject*)
{
    TSizeConstraints limits = GetConstraints();
    limits.MinWidth = GetWidth();
    limits.MinHeight = GetHeight();
    SetConstraints(limits);
    ImgView1->GetIO()->FileParams->SetApplyOrientation(true);
    ImgView1->WheelParams.Action = 0;
    ZoomPresets = {L"5%", L"10%", L"25%", L"50%", L"75%", L"100%", L"200%", L"300%", L"400%", L"500%"};
    ResetCBZoom();
}

void TfrmPreview::FormShow(TObject*)
{
    if (frmMain) {
        const TSettings& s = frmMain->Settings;
        if (s.W2 != 0 && s.H2 != 0 && s.L2 != 0 && s.T2 != 0) {
            SetBounds(s.L2, s.T2, s.W2, s.H2);
        } else {
            const int left = frmMain->GetLeft() + frmMain->PanelLEFT->GetWidth() +
                             frmMain->TmSplitter1->GetPosition() + frmMain->LV1->GetWidth() / 4;
            const int top = frmMain->GetTop() + frmMain->LV1->GetTop() + 100;
            SetBounds(left, top, frmMain->GetLeft() + frmMain->GetWidth() - left - 100,
                      frmMain->GetTop() + frmMain->GetHeight() - top - 100);
        }
    }
    ::SetWindowPos(GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TfrmPreview::FormClose(TObject*, TCloseAction&)
{
    if (!frmMain) return;
    TSettings& s = frmMain->Settings;
    s.L2 = GetLeft();
    s.T2 = GetTop();
    s.W2 = GetWidth();
    s.H2 = GetHeight();
}

void TfrmPreview::FormResize(TObject*) { CheckZoom(); }

void TfrmPreview::FormKeyDown(TObject*, WORD& Key, TShiftState)
{
    if (Key != VK_ESCAPE) return;
    Key = 0;
    Close();
}

void TfrmPreview::ApplyTexts(const TTranslation& T)
{
    const std::pair<toolbar::TMbItem*, const wchar_t*> hints[] = {
        {btnZoomOut, L"msgZoomOut"},    {btnZoomIn, L"msgZoomIn"},         {btnZoom100, L"msgZoom100"},
        {btnAutoFit, L"msgAutoFitZoom"}, {mnuFirst, L"msgFirstFile"},      {mnuPrevious, L"msgPreviousFile"},
        {mnuNext, L"msgNextFile"},       {mnuLast, L"msgLastFile"},        {R1, L"btnOriginalOrientation"},
        {R2, L"btnRotate270"},           {R3, L"btnRotate180"},            {R4, L"btnRotate90"},
    };
    for (const auto& [item, key] : hints) item->Hint = T.Text(key);
    const bool adding = Mode == L'L';
    mnuList->SetCaption(T.Text(adding ? L"btnAdd" : L"btnRemove"));
    mnuListAll->SetCaption(T.Text(adding ? L"btnAddAll" : L"btnRemoveAll"));
    mnuList->Hint = mnuList->GetCaption();
    MbToolbar1->Rearrange();  // new captions and hints
}

}  // namespace album
