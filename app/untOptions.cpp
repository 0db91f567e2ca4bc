#include "app/untOptions.h"

#include <algorithm>
#include <cstdint>

#include "app/FormParts.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/ComCtrls.h"
#include "classlib/Dialogs.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "classlib/SysUtils.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmPageControl.h"
#include "gif/GIFImage.h"

namespace album {

using namespace classlib;

TfrmOptions* frmOptions = nullptr;

namespace {

// Column of the number fields inside the group.
constexpr int kFieldLeft = 196;

gif::TGIFRGB GIFColor(TColor Color) { return static_cast<gif::TGIFRGB>(ColorToRGB(Color)) & 0xFFFFFF; }

}  // namespace

TfrmOptions::TfrmOptions(TComponent* AOwner) : TForm(AOwner)
{
    SetName(L"frmOptions");
    SingleBorderDialog(*this, poScreenCenter, true);
    SetCaption(L"Preferences and Settings");
    SetClientWidth(624);
    SetClientHeight(456);
    DataFolder = TProgramEnvironment::Current().ProgramFolder();

    PageControls = NewControl<themed::TTmPageControl>(this, this, L"PageControls", 8, 8, 608, 406);
    PageControls->SetColor(16119543);
    PageControls->SetFlatColor(10263441);
    PageControls->GetTabColors()->SetHighlightBar(1350640);
    PageControls->SetFixedDimension(19);
    TabSheet1 = NewComponent<themed::TTmTabSheet>(this, L"TabSheet1");
    TabSheet1->SetColor(16119543);
    TabSheet1->SetCaption(L"HTML");
    TabSheet1->SetPageControl(PageControls);
    PageControls->SetActivePage(TabSheet1);

    GrHTML = NewControl<themed::TTmGroupBox>(this, TabSheet1, L"GrHTML", 6, 4, 592, 372);
    GrHTML->SetCaption(L" Colors ");
    GrHTML->SetColor(16119543);

    // The five swatches with their labels.
    struct TSwatch {
        themed::TTmPanel** Panel;
        const wchar_t* PanelName;
        TLabel** Label;
        const wchar_t* LabelName;
        const wchar_t* Caption;
        int Top;
        bool Visible;
    };
    const TSwatch swatches[] = {
        {&colBackgr2, L"colBackgr2", &L42, L"L42", L"Main background:", 24, true},
        {&colCell2, L"colCell2", &L52, L"L52", L"Thumbnail background:", 50, true},
        {&colHeadline, L"colHeadline", &LHeadline, L"LHeadline", L"Title and description:", 76, true},
        {&colFileBackgr2, L"colFileBackgr2", &L72, L"L72", L"Bottom bar:", 102, false},
        {&colFN2, L"colFN2", &L102, L"L102", L"Bottom text:", 128, false},
    };
    for (const TSwatch& s : swatches) {
        themed::TTmPanel* p = NewControl<themed::TTmPanel>(this, GrHTML, s.PanelName, 12, s.Top, 26, 20);
        p->SetBorderOuter(themed::fsPopup);
        p->SetCursor(crHandPoint);
        p->SetVisible(s.Visible);
        p->OnClick = TNotifyEvent(this, &TfrmOptions::colBackgrClick);
        p->OnMouseEnter = TNotifyEvent(this, &TfrmOptions::colBackgrMouseEnter);
        p->OnMouseLeave = TNotifyEvent(this, &TfrmOptions::colBackgrMouseLeave);
        *s.Panel = p;
        // A swatch is reached with Tab and opens its colour with Space.
        p->SetTabStop(true);
        p->OnKeyPress = TKeyPressEvent::FromFunction(
            [](void* Form, TObject* Sender, wchar_t& Key) {
                if (Key != L' ') return;
                Key = 0;
                static_cast<TfrmOptions*>(Form)->colBackgrClick(Sender);
            },
            this);
        TLabel* l = NewControl<TLabel>(this, GrHTML, s.LabelName, 46, s.Top + 3, 0, 0);
        l->SetCaption(s.Caption);
        l->SetVisible(s.Visible);
        l->SetFocusControl(p);
        *s.Label = l;
    }

    // The number fields with their up-downs and labels.
    struct TNumber {
        TEdit** Edit;
        const wchar_t* EditName;
        TUpDown** UpDown;
        const wchar_t* UpDownName;
        TLabel** Label;
        const wchar_t* LabelName;
        const wchar_t* Caption;
        int Top, MaxLength, Min, Max;
        bool ExitCheck;
    };
    const TNumber numbers[] = {
        {&ThSize, L"ThSize", &ThSizeUD, L"ThSizeUD", &LTSize, L"LTSize", L"Thumbnail size (in pixels):", 110, 3, 50,
         400, true},
        {&ImSize, L"ImSize", &ImSizeUD, L"ImSizeUD", &LIsize, L"LIsize", L"Max. image size (in pixels):", 164, 4, 50,
         5000, true},
        {&EColumns, L"EColumns", &EColumnsUD, L"EColumnsUD", &LColumns, L"LColumns", L"Thumbnail columns:", 196, 2,
         2, 20, true},
        {&ERows, L"ERows", &ERowsUD, L"ERowsUD", &LRows, L"LRows", L"Thumbnail rows:", 222, 2, 2, 20, false},
    };
    for (const TNumber& n : numbers) {
        TEdit* e = NewControl<TEdit>(this, GrHTML, n.EditName, kFieldLeft, n.Top, 46, 21);
        e->SetMaxLength(n.MaxLength);
        e->OnKeyPress = TKeyPressEvent(this, &TfrmOptions::EditKeyPress);
        if (n.ExitCheck) e->OnExit = TNotifyEvent(this, &TfrmOptions::EditCheck);
        TUpDown* u = NewComponent<TUpDown>(this, n.UpDownName);
        u->SetMin(n.Min);
        u->SetMax(n.Max);
        u->SetAssociate(e);
        TLabel* l = NewControl<TLabel>(this, GrHTML, n.LabelName, 12, n.Top + 3, 0, 0);
        l->SetCaption(n.Caption);
        l->SetFocusControl(e);
        *n.Edit = e;
        *n.UpDown = u;
        *n.Label = l;
    }
    ThSize->OnChange = TNotifyEvent(this, &TfrmOptions::ThSizeChange);

    CBResize = NewControl<TCheckBox>(this, GrHTML, L"CBResize", 12, 140, 246, 17);
    CBResize->SetCaption(L"Resize the copies of the original images");
    CBResize->OnClick = TNotifyEvent(this, &TfrmOptions::CBResizeClick);

    L_Indx = NewControl<TLabel>(this, GrHTML, L"L_Indx", 12, 258, 0, 0);
    L_Indx->SetCaption(L"Preview page number:");
    E_indx = NewControl<TEdit>(this, GrHTML, L"E_indx", 12, 276, 246, 21);
    E_indx->Hint = L"$p-current page; $t-total pages";
    E_indx->SetShowHint(true);
    E_indx->OnChange = TNotifyEvent(this, &TfrmOptions::E_indxChange);
    L_Indx->SetFocusControl(E_indx);
    L_Img = NewControl<TLabel>(this, GrHTML, L"L_Img", 12, 306, 0, 0);
    L_Img->SetCaption(L"Page number:");
    L_Img->SetVisible(false);
    E_img = NewControl<TEdit>(this, GrHTML, L"E_img", 12, 324, 246, 21);
    E_img->SetVisible(false);

    // The example page: the picture with the three sample texts over it.
    ScrollBox1 = NewControl<TScrollBox>(this, GrHTML, L"ScrollBox1", 272, 22, 308, 338);
    Image1 = NewControl<TImage>(this, ScrollBox1, L"Image1", 0, 0, 300, 330);
    Image1->SetAutoSize(true);
    L1 = NewControl<TLabel>(this, ScrollBox1, L"L1", 0, 8, 300, 24);
    L1->SetAutoSize(false);
    L1->SetAlignment(taCenter);
    L1->SetTransparent(true);
    L1->GetFont()->SetHeight(-19);
    L1->GetFont()->SetStyle(fsBold);
    L1->SetCaption(L"Album Name");
    L2 = NewControl<TLabel>(this, ScrollBox1, L"L2", 0, 39, 300, 15);
    L3 = NewControl<TLabel>(this, ScrollBox1, L"L3", 0, 243, 300, 15);
    // The sample texts show the user's template as typed.
    for (TLabel* l : {L1, L2, L3}) l->SetShowAccelChar(false);
    for (TLabel* l : {L2, L3}) {
        l->SetAutoSize(false);
        l->SetAlignment(taCenter);
        l->SetTransparent(true);
    }

    ColDlg = NewComponent<TColorDialog>(this, L"ColDlg");
    Image = NewControl<TImage>(this, this, L"Image", 0, 0, 16, 16);
    Image->SetVisible(false);

    btnOK = NewControl<TButton>(this, this, L"btnOK", 448, 422, 80, 25);
    btnOK->SetCaption(L"&OK");
    btnOK->ModalResult = mrOk;
    btnOK->SetDefault(true);
    btnCancel = NewControl<TButton>(this, this, L"btnCancel", 536, 422, 80, 25);
    btnCancel->SetCaption(L"Cancel");
    btnCancel->ModalResult = mrCancel;
    btnCancel->Cancel = true;

    OnCreate = TNotifyEvent(this, &TfrmOptions::FormCreate);
    OnShow = TNotifyEvent(this, &TfrmOptions::FormShow);
    OnKeyPress = TKeyPressEvent(this, &TfrmOptions::FormKeyPress);
}

TfrmOptions::~TfrmOptions()
{
    // The example picture is drawn by Image1: the components go first.
    DestroyComponents();
    if (frmOptions == this) frmOptions = nullptr;
}

void TfrmOptions::CopyIn(const TSettings& S)
{
    CBResize->SetChecked(S.ResizeImg);
    CBResizeClick(CBResize);
    colBackgr2->SetColor(S.BckgrCol);
    colCell2->SetColor(S.CellCol);
    colFileBackgr2->SetColor(S.FNBckgrCol);
    colHeadline->SetColor(S.TxtCol);
    colFN2->SetColor(S.FNCol);
    EColumnsUD->SetPosition(S.ColumnsNr);
    ERowsUD->SetPosition(S.RowsNr);
    ThSizeUD->SetPosition(S.MaxTh);
    ImSizeUD->SetPosition(S.MaxImg);
    E_indx->SetText(S.S_indx);
    E_img->SetText(S.S_img);
}

void TfrmOptions::CopyOut(TSettings& S) const
{
    S.ResizeImg = CBResize->GetChecked();
    S.BckgrCol = colBackgr2->GetColor();
    S.CellCol = colCell2->GetColor();
    S.FNBckgrCol = colFileBackgr2->GetColor();
    S.TxtCol = colHeadline->GetColor();
    S.FNCol = colFN2->GetColor();
    S.ColumnsNr = static_cast<int16_t>(EColumnsUD->GetPosition());
    S.RowsNr = static_cast<int16_t>(ERowsUD->GetPosition());
    S.MaxTh = static_cast<int16_t>(ThSizeUD->GetPosition());
    S.MaxImg = static_cast<int16_t>(ImSizeUD->GetPosition());
    S.S_img = E_img->GetText();
    S.S_indx = E_indx->GetText();
}

void TfrmOptions::ApplyTexts(const TTranslation& T)
{
    SetCaption(T.Text(L"msgSettings"));
    btnCancel->SetCaption(T.Text(L"btnCancel"));
    L42->SetCaption(T.Text(L"msgMainBackground"));
    L52->SetCaption(T.Text(L"msgThumbnailBackground"));
    L72->SetCaption(T.Text(L"msgTextBackground"));
    LHeadline->SetCaption(T.Text(L"msgHeadline"));
    L102->SetCaption(T.Text(L"msgFilenameText"));
    LColumns->SetCaption(T.Text(L"msgColumns"));
    LRows->SetCaption(T.Text(L"msgRows"));
    LTSize->SetCaption(T.Text(L"msgThumbSize"));
    LIsize->SetCaption(T.Text(L"msgImageSize"));
    GrHTML->SetCaption(T.Text(L"msgColors"));
    CBResize->SetCaption(T.Text(L"msgResizeCopies"));
    L_Indx->SetCaption(T.Text(L"msgIndexCounterInfo"));
    L_Img->SetCaption(T.Text(L"msgPageCounterInfo"));
    E_indx->Hint = T.Text(L"msgPageHint");
    for (TControl* c : std::initializer_list<TControl*>{E_img, L_Img, L_Indx}) {
        c->Hint = E_indx->Hint;
        c->SetShowHint(true);
    }
    GiveAccelerators(btnOK, btnCancel, GrHTML, LTSize, CBResize, LIsize, LColumns, LRows, L_Indx, L42, L52, LHeadline);
    LayoutLabels();
}

void TfrmOptions::LayoutLabels()
{
    constexpr int kLeft = 12, kDesignColumn = 246, kUpDown = 17, kFieldWidth = 46, kSpace = 8;
    // The column: its labels (the swatch labels stand right of their
    // swatches), the check box with its box, the number labels before
    // their fields.
    int column = kDesignColumn;
    for (TLabel* l : {L42, L52, LHeadline, L72, L102}) column = std::max(column, l->GetLeft() - kLeft + l->GetWidth());
    column = std::max(column, L_Indx->GetWidth());
    const int check = CaptionWidth(CBResize, CBResize->GetCaption()) + 24;
    column = std::max(column, check);
    int labels = 0;
    for (TLabel* l : {LTSize, LIsize, LColumns, LRows}) labels = std::max(labels, l->GetWidth());
    const int fieldLeft = std::max(kFieldLeft, kLeft + labels + kSpace);
    column = std::max(column, fieldLeft - kLeft + kFieldWidth + kUpDown);

    const std::pair<TEdit*, TUpDown*> fields[] = {
        {ThSize, ThSizeUD}, {ImSize, ImSizeUD}, {EColumns, EColumnsUD}, {ERows, ERowsUD}};
    for (const auto& [edit, updown] : fields) {
        edit->SetLeft(fieldLeft);
        updown->SetBounds(fieldLeft + kFieldWidth, edit->GetTop(), updown->GetWidth(), edit->GetHeight());
    }
    CBResize->SetWidth(column);
    E_indx->SetWidth(column);
    E_img->SetWidth(column);

    const int grow = column - kDesignColumn;
    ScrollBox1->SetLeft(272 + grow);
    GrHTML->SetWidth(592 + grow);
    PageControls->SetWidth(608 + grow);
    SetClientWidth(624 + grow);
    btnOK->SetLeft(448 + grow);
    btnCancel->SetLeft(536 + grow);
}

void TfrmOptions::FormCreate(TObject*) { gif_ = std::make_unique<gif::TGIFImage>(); }

void TfrmOptions::FormShow(TObject*) { DrawTExample(); }

void TfrmOptions::FormKeyPress(TObject*, wchar_t& Key)
{
    if (Key != 27) return;
    Key = 0;
    Close();
}

void TfrmOptions::EditKeyPress(TObject*, wchar_t& Key)
{
    if (Key == 27) {
        // Swallowed here, so that the form does not see it either.
        Key = 0;
        return;
    }
    if ((Key >= L'0' && Key <= L'9') || Key == 8 || Key == 9) return;
    Key = L'\n';
}

void TfrmOptions::EditCheck(TObject* Sender)
{
    auto* edit = dynamic_cast<TEdit*>(Sender);
    if (!edit) return;
    auto* ud = dynamic_cast<TUpDown*>(FindComponent(edit->GetName() + L"UD"));
    if (!ud) return;
    int value = 0;
    if (!TryStrToInt(edit->GetText(), value)) value = ud->GetPosition();
    value = std::clamp(value, ud->GetMin(), ud->GetMax());
    ud->SetPosition(value);
    edit->SetText(IntToStr(value));
}

void TfrmOptions::E_indxChange(TObject*)
{
    std::wstring text = E_indx->GetText();
    if (std::size_t p = text.find(L"$p"); p != std::wstring::npos) text.replace(p, 2, L"1");
    if (std::size_t t = text.find(L"$t"); t != std::wstring::npos) text.replace(t, 2, L"2");
    L2->SetCaption(text);
    L3->SetCaption(L2->GetCaption());
}

void TfrmOptions::DrawTExample()
{
    if (!gif_) FormCreate(this);
    bool shown = false;
    try {
        gif_->LoadFromFile(DataFolder + L"screen_demo.gif");
        // A damaged file can read as a header without pictures: nothing to
        // show (its screen size is whatever its bytes say).
        if (!gif_->GetEmpty()) {
            gif_->OptimizeColorMap();
            gif::TGIFColorMap* table = gif_->GetGlobalColorMap();
            table->SetColor(0, GIFColor(colBackgr2->GetColor()));
            table->SetColor(1, GIFColor(colCell2->GetColor()));
            table->SetColor(2, GIFColor(colHeadline->GetColor()));
            table->SetColor(6, GIFColor(colHeadline->GetColor()));
            Image1->GetPicture()->Assign(gif_.get());
            shown = true;
        }
    } catch (...) {
        // No example picture; the colours below still show.
    }
    if (!shown) Image1->GetPicture()->Assign(nullptr);
    ScrollBox1->SetColor(colBackgr2->GetColor());
    for (TLabel* l : {L1, L2, L3}) l->GetFont()->SetColor(colHeadline->GetColor());
    ScrollBox1->UpdateScrollRanges();
}

void TfrmOptions::ThSizeChange(TObject*) { DrawTExample(); }

void TfrmOptions::colBackgrClick(TObject* Sender)
{
    auto* swatch = dynamic_cast<themed::TTmPanel*>(Sender);
    if (!swatch) return;
    ColDlg->Color = swatch->GetColor();
    HWND owner = HandleAllocated() ? GetHandle() : nullptr;
    if (!ColDlg->Execute(owner)) return;
    swatch->SetColor(ColDlg->Color);
    DrawTExample();
}

void TfrmOptions::colBackgrMouseEnter(TObject* Sender)
{
    if (auto* swatch = dynamic_cast<themed::TTmPanel*>(Sender)) swatch->SetBorderOuter(themed::fsStatus);
}

void TfrmOptions::colBackgrMouseLeave(TObject* Sender)
{
    if (auto* swatch = dynamic_cast<themed::TTmPanel*>(Sender)) swatch->SetBorderOuter(themed::fsPopup);
}

void TfrmOptions::CBResizeClick(TObject*)
{
    const bool on = CBResize->GetChecked();
    LIsize->SetEnabled(on);
    ImSizeUD->SetEnabled(on);
    ImSize->SetEnabled(on);
}

}  // namespace album
