// The main window: its creation, its life cycle (create, show, close, keys,
// context menu) and its settings. The other parts of the form live in
// untMain*.cpp beside it.
#include "app/untMain.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/views/grid/ImgMView.h"

#include "app/FormParts.h"
#include "app/untAbout.h"
#include "app/untScreen.h"

#include "app/untMainShared.h"

namespace album {

TfrmMain* frmMain = nullptr;

using classlib::TObject;
using namespace mainform;

namespace {

const wchar_t* const kFileTypeTexts[] = {
    L"All supported Graphic Files",
    L"CompuServe GIF (*.GIF)",
    L"JPEG (*.JPG; *.JPEG;  *.JPE; *.JFIF; *.JIF) ",
    L"TIFF (*.TIF; *.TIFF; *.FAX; *.G3N; *.G3F)",
    L"Windows - Bitmaps (*.BMP; *.DIB; *.RLE)",
    L"Zsoft Paintbrush (*.PCX; *.DCX)",
    L"All Files (*.*)",
};

}  // namespace

const std::vector<std::wstring>& DefaultFileMasks()
{
    static const std::vector<std::wstring> masks = [] {
        const std::vector<std::wstring> single = {L"*.gif", L"*.jpg;*.jpeg;*.jpe;*.jfif;*.jif",
                                                  L"*.tif;*.tiff;*.fax;*.g3n;*.g3f", L"*.bmp;*.dib;*.rle",
                                                  L"*.pcx;*.dcx"};
        std::wstring all;
        for (int i = 0; i < 4; ++i) all += single[static_cast<std::size_t>(i)] + L";";
        all += single[4];
        // "All supported" is every kind the album build reads: the readable
        // rows of the format registry (installed before the window is made)
        // add their extensions, PNG among them.
        std::unordered_set<std::wstring> listed;
        for (std::wstring rest = all; !rest.empty();) {
            const std::size_t end = rest.find(L';');
            listed.insert(classlib::LowerCase(rest.substr(0, end)));
            rest = end == std::wstring::npos ? std::wstring() : rest.substr(end + 1);
        }
        for (int i = 0; i < imaging::PxFormatCount(); ++i) {
            const imaging::TPxFileFormatInfo* row = imaging::PxFormatInfoByIndex(i);
            if (!row || !row->Reader) continue;
            std::wstring extensions = row->ExtensionList;
            for (std::wstring ext = imaging::PxNextExtensionToken(extensions); !ext.empty();
                 ext = imaging::PxNextExtensionToken(extensions)) {
                const std::wstring mask = L"*." + classlib::LowerCase(ext);
                if (listed.insert(mask).second) all += L";" + mask;
            }
        }
        std::vector<std::wstring> m = {all};
        m.insert(m.end(), single.begin(), single.end());
        m.push_back(L"*.*");
        return m;
    }();
    return masks;
}

bool ReadPictureParams(imaging::TImgIO* IO, const std::wstring& FileName)
{
    imaging::TIOParamsVals* params = IO->FileParams;
    params->ResetToDefaults();
    params->Width = 0;
    params->Height = 0;
    try {
        // By content, as the previews and the album build read it.
        const int32_t format = PictureFormatOf(FileName);
        if (format != 0)
            IO->ReadParamsFromFileFormat(FileName, format);
        else
            IO->ReadParamsFromFile(FileName);
    } catch (const std::exception&) {
        // Not a picture the toolkit reads: width and height stay 0.
        params->Width = 0;
    }
    return params->Width != 0 && params->Height != 0;
}

std::wstring CleanAlbumName(const std::wstring& Name)
{
    std::wstring clean;
    for (wchar_t c : Name)
        if (c != L'\\' && c != L'/') clean += c;
    return clean;
}

// ---- creation -------------------------------------------------------------

TfrmMain::TfrmMain(classlib::TComponent* AOwner) : classlib::TForm(AOwner)
{
    SetName(L"frmMain");
    classlib::BeginLoading(this);
    CreateComponents();
    CreateMenus();
    built_ = true;
    classlib::EndLoading(this);

    OnCreate = classlib::TNotifyEvent(this, &TfrmMain::FormCreate);
    OnShow = classlib::TNotifyEvent(this, &TfrmMain::FormShow);
    OnClose = classlib::TCloseEvent(this, &TfrmMain::FormClose);
    OnCloseQuery = classlib::TCloseQueryEvent(this, &TfrmMain::FormCloseQuery);
    OnResize = classlib::TNotifyEvent(this, &TfrmMain::FormResize);
    OnKeyPress = classlib::TKeyPressEvent(this, &TfrmMain::FormKeyPress);
    OnActivate = classlib::TNotifyEvent(this, &TfrmMain::FormActivate);
    if (!frmMain) frmMain = this;
    if (classlib::Application) {
        classlib::Application->OnHint = classlib::TNotifyEvent(this, &TfrmMain::AppHint);
        classlib::Application->HookMainWindow(classlib::TApplication::TWindowHook(this, &TfrmMain::EscapeHook));
    }
}

TfrmMain::~TfrmMain()
{
    // The handlers reach the components, which the form's component list
    // deletes after this: none may run while they go.
    built_ = false;
    if (classlib::Application && classlib::Application->OnHint == classlib::TNotifyEvent(this, &TfrmMain::AppHint))
        classlib::Application->OnHint.Clear();
    if (classlib::Application)
        classlib::Application->UnhookMainWindow(classlib::TApplication::TWindowHook(this, &TfrmMain::EscapeHook));
    OnResize.Clear();
    OnClose.Clear();
    OnCloseQuery.Clear();
    if (LV1) {
        LV1->OnSelectItem.Clear();
        LV1->OnPopulated.Clear();
    }
    if (LV2) LV2->OnSelectItem.Clear();
    if (FTree) FTree->OnChange.Clear();
    for (imaging::TImgMView* grid : {ImPreView1, ImPreview2})
        if (grid) grid->OnIOProgress.Clear();
    for (themed::TTmSplitter* s : {TmSplitter1, TmSplitter2})
        if (s) s->OnChange.Clear();
    if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::CreateComponents()
{
    CreateFrame();
    CreateBrowsePane();
    CreateAlbumPanes();
    CreateBottomPanel();
}

void TfrmMain::CreateFrame()
{
    using namespace classlib;
    using namespace themed;

    SetCaption(L"Velmo - HTML Morvane");
    GetFont()->SetName(L"Tahoma");
    GetFont()->SetHeight(-11);
    KeyPreview = true;
    SetBorderIcons(biSystemMenu | biMinimize | biMaximize);
    SetClientWidth(kDesignWidth);
    SetClientHeight(kDesignHeight);

    // Menu row, top strip, bottom panel, status bar, margins, splitters.
    // The menu row stands on the form with the framework's defaults: it
    // takes the height of its entries and never shows a chevron.
    MbToolbar1 = NewControl<toolbar::TMbToolbar>(this, this, L"MbToolbar1");
    MbToolbar1->SetAlign(alTop);

    PanelTOP = NewControl<TTmPanel>(this, this, L"PanelTOP");
    PanelTOP->SetAlign(alTop);
    PanelTOP->SetBorderSides(0);
    PanelTOP->SetHeight(20);
    L3 = NewControl<TLabel>(this, PanelTOP, L"L3");
    L3->SetBounds(0, 4, 300, kLabelHeight);

    TmSB1 = NewControl<TTmStatusBar>(this, this, L"TmSB1");
    TmSB1->SetAlign(alBottom);
    TmSB1->SetHeight(22);
    TmSB1->SetBorderSides(0);
    TmP2 = NewControl<TTmStatusPane>(this, TmSB1, L"TmP2");
    TmP22 = NewControl<TTmStatusPane>(this, TmSB1, L"TmP22");
    TmP6 = NewControl<TTmStatusPane>(this, TmSB1, L"TmP6");
    TmB1 = NewControl<TTmProgressBar>(this, TmSB1, L"TmB1");
    TmB11 = NewControl<TTmProgressBar>(this, TmSB1, L"TmB11");
    TmB4 = NewControl<TTmProgressBar>(this, TmSB1, L"TmB4");
    TmB3 = NewControl<TTmProgressBar>(this, TmSB1, L"TmB3");
    for (TTmProgressBar* bar : {TmB1, TmB11, TmB4, TmB3}) bar->SetVisible(false);

    TmPanel1 = NewControl<TTmPanel>(this, this, L"TmPanel1");
    TmPanel1->SetAlign(alBottom);
    TmPanel1->SetHeight(44);
    TmPanel1->SetBorderSides(sdTop);
    TmPanel1->SetBorderOuter(fsBump);
    TmPanel1->SetBorderInner(fsNone);

    PanelLEFT = NewControl<TTmPanel>(this, this, L"PanelLEFT");
    PanelLEFT->SetAlign(alLeft);
    PanelLEFT->SetWidth(6);
    PanelLEFT->SetBorderSides(0);
    PanelRIGHT = NewControl<TTmPanel>(this, this, L"PanelRIGHT");
    PanelRIGHT->SetAlign(alRight);
    PanelRIGHT->SetWidth(6);
    PanelRIGHT->SetBorderSides(0);

    TMSP = NewControl<TTmSplitter>(this, this, L"TMSP");
    TMSP->SetAlign(alClient);
    TMSP->SetBorderSides(0);
    TMSP->SetLockBar(true);
    TMSP->SetSplitterWidth(8);
    TMSP->SetPosition(386);
    TMSP->SetUsePercent(true);

    TmSplitter1 = NewControl<TTmSplitter>(this, TMSP->GetPane1(), L"TmSplitter1");
    TmSplitter1->SetAlign(alClient);
    TmSplitter1->SetBorderSides(0);
    TmSplitter1->SetUsePercent(true);
    TmSplitter1->SetPercent(40);
    TmSplitter1->SetSplitterWidth(8);
    TmSplitter1->SetHotSpotDirection(hsdBoth);
    TmSplitter1->SetHotSpotIgnoreMargins(false);
    TmSplitter1->OnChange = TNotifyEvent(this, &TfrmMain::TmSplitter1Change);

    TmSplitter2 = NewControl<TTmSplitter>(this, TMSP->GetPane2(), L"TmSplitter2");
    TmSplitter2->SetAlign(alClient);
    TmSplitter2->SetBorderSides(0);
    TmSplitter2->SetUsePercent(true);
    TmSplitter2->SetPercent(59);
    TmSplitter2->SetSplitterWidth(8);
    TmSplitter2->OnChange = TNotifyEvent(this, &TfrmMain::TmSplitter2Change);

    for (TTmSplitter* s : {TMSP, TmSplitter1, TmSplitter2})
        for (TTmSplitterPane* pane : {s->GetPane1(), s->GetPane2()}) {
            pane->SetBorderSides(0);
            pane->OnResize = TNotifyEvent::FromFunction(
                [](void* Form, TObject* Pane) { static_cast<TfrmMain*>(Form)->FormResize(Pane); }, this);
        }
}

void TfrmMain::CreateBrowsePane()
{
    using namespace classlib;
    using namespace themed;

    // Browsing side: folder tree | find field, file list, type box, buttons,
    // preview.
    FTree = NewControl<shell::TShellTree>(this, TmSplitter1->GetPane1(), L"FTree");
    FTree->SetAlign(alClient);
    FTree->OnChange = TNotifyEvent(this, &TfrmMain::FTreeChange);
    FTree->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);

    TWinControl* browse = TmSplitter1->GetPane2();
    E1 = NewControl<TEdit>(this, browse, L"E1");
    E1->OnChange = TNotifyEvent(this, &TfrmMain::E1Change);
    E1->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);
    LV1 = NewControl<shell::TShellList>(this, browse, L"LV1");
    LV1->SetShowColumnHeaders(false);
    LV1->SetHideSelection(false);
    LV1->ShellContextMenu = false;
    LV1->SetShowFolders(false);
    LV1->SetDetails(false);  // headers hidden: the names only
    LV1->SetFilter(L"*");
    LV1->OnSelectItem = TLVSelectItemEvent(this, &TfrmMain::LV1SelectItem);
    LV1->OnDblClick = TNotifyEvent(this, &TfrmMain::btnAddClick);
    LV1->OnPopulated = TNotifyEvent(this, &TfrmMain::LV1Populated);
    // While the list fills, a part of the folder is listed: adding waits
    // for the whole (LV1Populated gives the buttons back).
    LV1->OnBeforeFullRefresh = TNotifyEvent::FromFunction(
        [](void* Form, TObject*) {
            auto* f = static_cast<TfrmMain*>(Form);
            f->shellListFilling_ = true;
            if (f->built_ && !f->BuildRunning()) {
                f->btnAdd->SetEnabled(false);
                f->btnAddAll->SetEnabled(false);
            }
        },
        this);
    LV1->OnMouseEnter = TNotifyEvent(this, &TfrmMain::LV1MouseEnter);
    LV1->OnMouseLeave = TNotifyEvent(this, &TfrmMain::LV1MouseLeave);
    CB1 = NewControl<TComboBox>(this, browse, L"CB1");
    CB1->SetStyle(csDropDownList);
    for (const wchar_t* text : kFileTypeTexts) CB1->GetItems()->Add(text);
    CB1->OnChange = TNotifyEvent(this, &TfrmMain::CB1Change);
    btnAdd = NewControl<TButton>(this, browse, L"btnAdd");
    btnAdd->OnClick = TNotifyEvent(this, &TfrmMain::btnAddClick);
    btnAddAll = NewControl<TButton>(this, browse, L"btnAddAll");
    btnAddAll->OnClick = TNotifyEvent(this, &TfrmMain::btnAddAllClick);
    btnAdd->SetEnabled(false);
    btnAddAll->SetEnabled(false);
    ChB1 = NewControl<TCheckBox>(this, browse, L"ChB1");
    ChB1->SetChecked(true);
    ChB1->OnClick = TNotifyEvent(this, &TfrmMain::ChB1Click);
    BPanel1 = NewControl<TPanel>(this, browse, L"BPanel1");
    BPanel1->SetBevelOuter(bvLowered);
    ImPreView1 = NewControl<imaging::TImgMView>(this, BPanel1, L"ImPreView1");
    ImPreView1->OnIOProgress = imaging::TPxProgressEvent(this, &TfrmMain::ImPreview1IOProgress);
}

void TfrmMain::CreateAlbumPanes()
{
    using namespace classlib;
    using namespace themed;

    // Album side: album list and its buttons | rotation, move, title,
    // description, preview.
    TWinControl* album = TmSplitter2->GetPane1();
    LV2 = NewControl<TListView>(this, album, L"LV2");
    LV2->SetViewStyle(vsReport);
    LV2->SetShowColumnHeaders(false);
    LV2->SetMultiSelect(true);
    LV2->SetReadOnly(true);
    LV2->SetRowSelect(true);
    LV2->SetHideSelection(false);
    LV2->GetColumns()->Add()->SetWidth(200);
    LV2->OnSelectItem = TLVSelectItemEvent(this, &TfrmMain::LV2SelectItem);
    LV2->OnMouseEnter = TNotifyEvent(this, &TfrmMain::LV2MouseEnter);
    LV2->OnMouseLeave = TNotifyEvent(this, &TfrmMain::LV1MouseLeave);
    LV2->OnMouseMove = TMouseMoveEvent(this, &TfrmMain::LV2MouseMove);
    btnOpen = NewControl<TButton>(this, album, L"btnOpen");
    btnOpen->OnClick = TNotifyEvent(this, &TfrmMain::btnOpenClick);
    btnSave = NewControl<TButton>(this, album, L"btnSave");
    btnSave->OnClick = TNotifyEvent(this, &TfrmMain::btnSaveClick);
    btnSave->SetEnabled(false);
    btnRemove = NewControl<TButton>(this, album, L"btnRemove");
    btnRemove->OnClick = TNotifyEvent(this, &TfrmMain::btnRemoveClick);
    btnRemoveAll = NewControl<TButton>(this, album, L"btnRemoveAll");
    btnRemoveAll->OnClick = TNotifyEvent(this, &TfrmMain::btnRemoveAllClick);
    btnRemove->SetEnabled(false);
    btnRemoveAll->SetEnabled(false);

    TWinControl* details = TmSplitter2->GetPane2();
    const struct {
        TSpeedButton** Button;
        const wchar_t* Name;
        int Tag;
        const wchar_t* Glyph;
        const wchar_t* Text;
    } tools[] = {
        {&R1, L"R1", 0, L"GLYPH_ROT0", L"0\u00B0"},
        {&R2, L"R2", 90, L"GLYPH_ROT90", L"90\u00B0"},
        {&R3, L"R3", 180, L"GLYPH_ROT180", L"180\u00B0"},
        {&R4, L"R4", 270, L"GLYPH_ROT270", L"270\u00B0"},
        {&btnPgUp, L"btnPgUp", 0, L"GLYPH_UP", L"\u25B2"},
        {&btnPgDown, L"btnPgDown", 0, L"GLYPH_DOWN", L"\u25BC"},
    };
    for (const auto& t : tools) {
        TSpeedButton* b = NewControl<TSpeedButton>(this, details, t.Name);
        b->SetTag(t.Tag);
        b->SetShowHint(true);
        b->SetEnabled(false);
        LoadGlyph(b, t.Glyph, t.Text);
        *t.Button = b;
    }
    for (TSpeedButton* r : {R1, R2, R3, R4}) {
        r->SetGroupIndex(1);
        r->SetAllowAllUp(true);
        r->OnClick = TNotifyEvent(this, &TfrmMain::R1Click);
    }
    btnPgUp->OnClick = TNotifyEvent(this, &TfrmMain::TmSpinButtons1UpRightClick);
    btnPgDown->OnClick = TNotifyEvent(this, &TfrmMain::TmSpinButtons1DownLeftClick);
    LBL_Rotate = NewControl<TLabel>(this, details, L"LBL_Rotate");
    LBL_Rotate->SetAutoSize(false);
    LBL_Rotate->SetAlignment(taCenter);
    LBL_Rotate->SetVisible(false);
    LBL_Title = NewControl<TLabel>(this, details, L"LBL_Title");
    LBL_Desc = NewControl<TLabel>(this, details, L"LBL_Desc");
    for (TLabel* l : {LBL_Title, LBL_Desc}) {
        l->SetCursor(crHandPoint);
        l->OnClick = TNotifyEvent(this, &TfrmMain::LBL_DescClick);
    }
    E_Title = NewControl<TEdit>(this, details, L"E_Title");
    E_Title->SetEnabled(false);
    E_Title->OnChange = TNotifyEvent(this, &TfrmMain::E_TitleChange);
    E_Desc = NewControl<TMemo>(this, details, L"E_Desc");
    E_Desc->SetWordWrap(true);
    E_Desc->SetScrollBars(classlib::ssVertical);
    E_Desc->SetEnabled(false);
    E_Desc->OnChange = TNotifyEvent(this, &TfrmMain::E_DescChange);
    LBL_Rotate->SetShowAccelChar(false);
    LBL_Title->SetFocusControl(E_Title);
    LBL_Desc->SetFocusControl(E_Desc);
    ChB2 = NewControl<TCheckBox>(this, details, L"ChB2");
    ChB2->SetChecked(true);
    ChB2->OnClick = TNotifyEvent(this, &TfrmMain::ChB2Click);
    BPanel2 = NewControl<TPanel>(this, details, L"BPanel2");
    BPanel2->SetBevelOuter(bvLowered);
    ImPreview2 = NewControl<imaging::TImgMView>(this, BPanel2, L"ImPreview2");
    ImPreview2->OnIOProgress = imaging::TPxProgressEvent(this, &TfrmMain::ImPreview2IOProgress);

    for (imaging::TImgMView* grid : {ImPreView1, ImPreview2}) {
        grid->SetAlign(alClient);
        grid->SetDisplayMode(imaging::mdSingle);
        grid->StoreType = imaging::pxtThumb;
        grid->SetScrollBars(imaging::ssNone);
        grid->SetMouseInteract(0);
        grid->SetKeyInteract(0);
        grid->SetImageCacheSize(1);
        // A right click on a small preview opens the enlarged preview of
        // the picture it shows, as the lists' hint promises.
        grid->OnMouseUp = TMouseEvent::FromFunction(
            [](void* Form, TObject* Sender, TMouseButton Button, TShiftState, int, int) {
                auto* f = static_cast<TfrmMain*>(Form);
                if (Button != mbRight || !f->built_ || f->BuildRunning()) return;
                if (Sender == f->ImPreView1 && f->ShellIndex >= 0 && f->ShellIndex < f->LV1->GetItems()->GetCount())
                    f->ShowLargePreView(L'L', f->ShellIndex);
                else if (Sender == f->ImPreview2 && f->AlbumIndex >= 0 &&
                         f->AlbumIndex < f->LV2->GetItems()->GetCount())
                    f->ShowLargePreView(L'R', f->AlbumIndex);
            },
            this);
    }
}

void TfrmMain::CreateBottomPanel()
{
    using namespace classlib;
    using namespace themed;

    // Bottom panel: album name and folder, options, Start, Exit.
    LAlb = NewControl<TLabel>(this, TmPanel1, L"LAlb");
    EAlbName = NewControl<TEdit>(this, TmPanel1, L"EAlbName");
    EAlbName->SetText(L"Album1");
    EAlbName->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);
    EAlbName->OnChange = TNotifyEvent(this, &TfrmMain::EAlbNameChange);
    LDir = NewControl<TLabel>(this, TmPanel1, L"LDir");
    EAlbDir = NewControl<TEdit>(this, TmPanel1, L"EAlbDir");
    btnDir = NewControl<TSpeedButton>(this, TmPanel1, L"btnDir");
    LoadGlyph(btnDir, L"GLYPH_FOLDER", L"...");
    btnDir->OnClick = TNotifyEvent(this, &TfrmMain::btnDirClick);
    LAlb->SetFocusControl(EAlbName);
    LDir->SetFocusControl(EAlbDir);
    L3->SetFocusControl(LV2);
    btnAdv = NewControl<TButton>(this, TmPanel1, L"btnAdv");
    btnAdv->OnClick = TNotifyEvent(this, &TfrmMain::btnAdvClick);
    btnStart = NewControl<TButton>(this, TmPanel1, L"btnStart");
    btnStart->OnClick = TNotifyEvent(this, &TfrmMain::btnStartClick);
    btnStart->SetEnabled(false);  // until the album list holds a picture
    btnCancel = NewControl<TButton>(this, TmPanel1, L"btnCancel");
    btnCancel->OnClick = TNotifyEvent(this, &TfrmMain::btnCancelClick);

    // Hidden helpers and components without a window.
    TxtFile = NewControl<TMemo>(this, this, L"TxtFile");
    TxtFile->SetVisible(false);
    TxtFile->SetWordWrap(false);
    LngFiles = NewControl<TFileListBox>(this, this, L"LngFiles");
    LngFiles->SetVisible(false);
    LngFiles->SetMask(L"Morvane_*.txt");

    ShellLink1 = NewComponent<shell::TShellLink>(this, L"ShellLink1");
    FTree->SetShellLink(ShellLink1);
    LV1->SetShellLink(ShellLink1);
    ShDropFiles1 = NewComponent<shell::TShDropFiles>(this, L"ShDropFiles1");
    ShDropFiles1->SetControl(LV2);
    ShDropFiles1->SetEnabled(true);
    ShDropFiles1->OnDrop = shell::TShDragDropEvent(this, &TfrmMain::ShDropFiles1Drop);
    FBrowser = NewComponent<shell::TShBrowseForFolder>(this, L"FBrowser");
    SaveDialog1 = NewComponent<TSaveDialog>(this, L"SaveDialog1");
    OpenDialog1 = NewComponent<TOpenDialog>(this, L"OpenDialog1");
    for (TOpenDialog* d : {static_cast<TOpenDialog*>(SaveDialog1), OpenDialog1}) {
        d->Filter = L"Velmo HTML Album (*.alb)|*.alb";
        d->DefaultExt = L"alb";
    }
    SaveDialog1->Options = ofOverwritePrompt | ofHideReadOnly | ofExtensionDifferent | ofPathMustExist;
    OpenDialog1->Options = ofHideReadOnly | ofFileMustExist | ofPathMustExist;
    ImgIO1 = NewComponent<imaging::TImgIO>(this, L"ImgIO1");
    ApplicationEvents1 = NewComponent<TApplicationEvents>(this, L"ApplicationEvents1");
    ApplicationEvents1->OnException = TExceptionEvent(this, &TfrmMain::ApplicationEvents1Exception);
}

void TfrmMain::CreateMenus()
{
    using toolbar::TMbItem;
    // Item in the flat menu look, added to Parent's entries.
    auto add = [](auto* Item, toolbar::TMbCustomItem* Parent) {
        Item->XPItemBkgrCol = classlib::clWhite;
        Item->SetXPItemSelBkgrCol(15717318);
        Item->XPItemSelTxtCol = classlib::clBlack;
        Item->XPItemUnactTxtCol = 13816530;
        Item->XPItemLeftCol = classlib::clBtnFace;
        Item->SetXPItemOutlineCol(classlib::clNavy);
        Parent->Add(Item);
        return Item;
    };
    mnuFile = add(NewComponent<toolbar::TMbSubmenuItem>(this, L"mnuFile"), MbToolbar1->GetItems());
    mnuFile->SetTag(99);
    mnuLanguage = add(NewComponent<toolbar::TMbSubmenuItem>(this, L"mnuLanguage"), mnuFile);
    mnuLanguage->OnPopup = toolbar::TMbPopupEvent(this, &TfrmMain::mnuLanguagePopUp);
    for (const TLanguageItem& language : Languages.Items()) {
        TMbItem* item = add(NewComponent<TMbItem>(this, language.Name.c_str()), mnuLanguage);
        item->SetTag(language.Id);
        item->SetCaption(language.Caption);
        item->SetVisible(language.Visible);
        item->OnClick = classlib::TNotifyEvent(this, &TfrmMain::EnglishClick);
        LanguageItems.push_back(item);
        if (language.Id == kEnglishLangId) English = item;
    }
    tbTranslate2 = add(NewComponent<toolbar::TMbSeparatorItem>(this, L"tbTranslate2"), mnuLanguage);
    tbTranslate2->SetTag(-1);
    tbTranslate = add(NewComponent<TMbItem>(this, L"tbTranslate"), mnuLanguage);
    tbTranslate->SetTag(-1);
    tbTranslate->OnClick = classlib::TNotifyEvent(this, &TfrmMain::tbTranslateClick);
    mnuFileSep = add(NewComponent<toolbar::TMbSeparatorItem>(this, L"mnuFileSep"), mnuFile);
    mnuExit = add(NewComponent<TMbItem>(this, L"mnuExit"), mnuFile);
    mnuExit->OnClick = classlib::TNotifyEvent(this, &TfrmMain::mnuExitClick);
    mnuHelp = add(NewComponent<toolbar::TMbSubmenuItem>(this, L"mnuHelp"), MbToolbar1->GetItems());
    mnuHelp->SetTag(99);
    mnuAbout = add(NewComponent<TMbItem>(this, L"mnuAbout"), mnuHelp);
    mnuAbout->OnClick = classlib::TNotifyEvent(this, &TfrmMain::mnuAboutClick);

    PopUp1 = NewComponent<toolbar::TMbPopupMenu>(this, L"PopUp1");
    popLargePreView = add(NewComponent<TMbItem>(this, L"popLargePreView"), PopUp1->GetItems());
    popLargePreView->OnClick = classlib::TNotifyEvent(this, &TfrmMain::popLargePreViewClick);
    MbToolbar1->Rearrange();
}

void TfrmMain::LoadGlyph(classlib::TSpeedButton* Button, const wchar_t* Resource, const std::wstring& Fallback)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (::FindResourceW(instance, Resource, MAKEINTRESOURCEW(2) /* RT_BITMAP */)) {
        try {
            Button->GetGlyph()->LoadFromResourceName(instance, Resource);
            return;
        } catch (const classlib::Exception&) {
        }
    }
    Button->SetCaption(Fallback);
}

// ---- life cycle -------------------------------------------------------------

void TfrmMain::FormCreate(TObject*)
{
    // Created and never examined; held until the process ends.
    ::CreateMutexW(nullptr, FALSE, L"Tekkaro");
    AlbumIndex = -1;
    classlib::TSizeConstraints limits = GetConstraints();
    limits.MinHeight = GetHeight();
    limits.MinWidth = GetWidth();
    SetConstraints(limits);
    FTree->SetFont(GetFont());
    LV1->SetFont(FTree->GetFont());
    SystemLangId = UserPrimaryLanguageId();
    try {
        LngFiles->SetDirectory(Settings.GetEnvironment().ProgramFolder() + L"Languages\\");
    } catch (...) {
        // No translation folder: English only.
    }
    for (imaging::TImgMView* grid : {ImPreView1, ImPreview2}) {
        grid->ApplyOrientation = false;
        grid->UseEmbeddedThumbnails = false;
    }
    FileMasks = DefaultFileMasks();
    CB1->SetItemIndex(0);
    LV1->SetFilter(FileMasks[0]);
    SetLanguage();  // English texts until the window is shown
    Readini();
    SearchLanguages();
    LayoutControls();
}

void TfrmMain::FormShow(TObject*)
{
    SetSysLanguage();
    SetLanguage();
    CancelRequested = 0;
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) r->SetVisible(true);
    FormResize(this);
    // The tree chose its folder before it had its size, scrolled sideways
    // to that folder's name: it opens at its left edge, every top-level
    // name whole.
    if (FTree->HandleAllocated()) ::SendMessageW(FTree->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
}

void TfrmMain::FormCloseQuery(TObject*, bool& CanClose)
{
    // A running build is asked to stop; the window closes afterwards.
    if (BuildRunning()) {
        RequestCancel();
        CanClose = false;
        return;
    }
    if (ListModified && LV2->GetItems()->GetCount() > 0)
        CanClose = ShowMessageBox(msgListNotSaved, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void TfrmMain::FormClose(TObject*, classlib::TCloseAction&) { Writeini(); }

void TfrmMain::FormKeyPress(TObject*, wchar_t& Key)
{
    if (Key == 27) {
        Key = 0;
        btnCancel->Click();
    }
}

bool TfrmMain::EscapeHook(classlib::TMessage& Message)
{
    // The key preview misses Esc while a build runs: the control that had
    // the focus is disabled then, and with no focus the key comes to the
    // form as a system key; a focused control may also keep it for itself.
    // Idle, the focused control has its say first (a list's label editor
    // ends its edit with Esc).
    if (Message.Msg != classlib::CM_APPKEYDOWN || !built_ || !HandleAllocated()) return false;
    const MSG& msg = *reinterpret_cast<const MSG*>(Message.LParam);
    if (msg.wParam != VK_ESCAPE || !::IsWindowEnabled(GetHandle())) return false;
    const bool ours = msg.hwnd == GetHandle() || (BuildRunning() && ::IsChild(GetHandle(), msg.hwnd));
    if (!ours) return false;
    btnCancel->Click();
    return true;
}

void TfrmMain::FormActivate(TObject*) {}

void TfrmMain::CB1Change(TObject*)
{
    const int index = CB1->GetItemIndex();
    if (index >= 0 && index < static_cast<int>(FileMasks.size())) LV1->SetFilter(FileMasks[static_cast<std::size_t>(index)]);
}

void TfrmMain::FTreeChange(TObject*) { ShellIndex = -1; }

void TfrmMain::LV1Populated(TObject*)
{
    shellListFilling_ = false;
    CheckList();
}

void TfrmMain::mnuExitClick(TObject*) { Close(); }

void TfrmMain::mnuAboutClick(TObject*)
{
    if (frmAbout) frmAbout->ShowModal();
}

void TfrmMain::LBL_DescClick(TObject*)
{
    if (frmScreen) frmScreen->ShowModal();
}

void TfrmMain::ApplicationEvents1Exception(TObject*, classlib::Exception& E)
{
    // Whatever escaped a handler: the user is told what went wrong, and the
    // window stays usable (a build restores its controls on the way out).
    ::MessageBeep(MB_ICONERROR);
    ShowMessageBox(E.Message(), MB_OK | MB_ICONERROR);
}

int TfrmMain::ShowMessageBox(const std::wstring& Text, UINT Flags)
{
    if (MessageHook) return MessageHook(Text, Flags);
    return ::MessageBoxW(HandleAllocated() ? GetHandle() : nullptr, Text.c_str(), kMessageCaption, Flags);
}

void TfrmMain::WndProc(classlib::TMessage& Message)
{
    if (Message.Msg == WM_CONTEXTMENU) {
        const int x = GET_X_LPARAM(Message.LParam), y = GET_Y_LPARAM(Message.LParam);
        if (ContextMenu(reinterpret_cast<HWND>(Message.WParam), x, y)) {
            Message.Result = 0;
            return;
        }
    }
    classlib::TForm::WndProc(Message);
}

bool TfrmMain::ContextMenu(HWND Window, int X, int Y)
{
    // The message climbs the parents with the window it started from, or
    // with one of its parents: the list is the one under the point (or the
    // focused one for the keyboard's menu key).
    HWND target = (X == -1 && Y == -1) ? ::GetFocus() : ::WindowFromPoint(POINT{X, Y});
    if (!target) target = Window;
    auto within = [target](classlib::TListView* List) {
        return List->HandleAllocated() && (target == List->GetHandle() || ::IsChild(List->GetHandle(), target));
    };
    classlib::TListView* list = nullptr;
    if (within(LV1)) list = LV1;
    if (within(LV2)) list = LV2;
    if (!list) return false;
    if (list == LV2) LV2MouseMove(LV2, 0, 0, 0);
    if (list == LV1 && LV1->GetItems()->GetCount() > 0) LV1MouseEnter(LV1);
    if (popupOwner_ != list) return true;
    if (X == -1 && Y == -1) {
        POINT p = list->ClientToScreen(POINT{8, 8});
        X = p.x;
        Y = p.y;
    }
    PopUp1->Popup(X, Y);
    return true;
}

// ---- settings ---------------------------------------------------------------

void TfrmMain::Readini()
{
    Settings.Readini();
    SetBounds(Settings.WindowLeft, Settings.WindowTop, Settings.WindowWidth, Settings.WindowHeight);
    EAlbDir->SetText(Settings.OutputFolder);
    if (!Settings.InputFolder.empty()) {
        // The tree selects the folder and the link fills the list; before
        // the tree's window exists the list is told itself.
        FTree->SetSelectedFolder(Settings.InputFolder);
        try {
            LV1->SetPath(Settings.InputFolder);
        } catch (const classlib::Exception&) {
            // A folder that went away since: the list stays as it is.
        }
    }
    EAlbName->SetText(Settings.AlbumName);
}

void TfrmMain::Writeini()
{
    RECT r{GetLeft(), GetTop(), GetLeft() + GetWidth(), GetTop() + GetHeight()};
    if (HandleAllocated()) {
        WINDOWPLACEMENT wp{};
        wp.length = sizeof(wp);
        if (::GetWindowPlacement(GetHandle(), &wp) && (::IsZoomed(GetHandle()) || ::IsIconic(GetHandle())))
            r = wp.rcNormalPosition;
    }
    Settings.WindowLeft = r.left;
    Settings.WindowTop = r.top;
    Settings.WindowWidth = r.right - r.left;
    Settings.WindowHeight = r.bottom - r.top;
    Settings.InputFolder = FTree->GetSelectedFolder();
    if (Settings.InputFolder.empty()) Settings.InputFolder = LV1->GetPath();
    Settings.OutputFolder = EAlbDir->GetText();
    Settings.AlbumName = EAlbName->GetText();
    try {
        Settings.Writeini();
    } catch (const classlib::Exception&) {
        // Closing goes on; the settings of this run are lost.
    }
}

}  // namespace album
