#include "app/untMain.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/ImgMView.h"

#include "app/untAbout.h"
#include "app/untOptions.h"
#include "app/untPreView.h"
#include "app/untScreen.h"
#include "app/untTranslate.h"

namespace album {

TfrmMain* frmMain = nullptr;

using classlib::TControl;
using classlib::TListItem;
using classlib::TObject;

namespace {

// Serves pending messages, so that the texts a selection handler just set
// are painted before a slow preview loads. A list changes its selection
// inside its handling of a press of the user's mouse, and for a right press
// it then waits for the release itself: served here, that release would
// open the context menu from inside the press, and the list would go on
// waiting and swallow the next press anywhere. While a button is down only
// the painting is done.
void ServeMessagesAfterSelecting(HWND Form)
{
    if (::GetKeyState(VK_LBUTTON) < 0 || ::GetKeyState(VK_RBUTTON) < 0 || ::GetKeyState(VK_MBUTTON) < 0) {
        if (Form) ::RedrawWindow(Form, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        return;
    }
    classlib::Application->ProcessMessages();
}

// The design size of the window's client area: the smallest size it can be
// given.
constexpr int kDesignWidth = 940;
constexpr int kDesignHeight = 620;
constexpr int kGap = 4;           // between controls
constexpr int kEditHeight = 21;   // edits and combo boxes
constexpr int kButtonHeight = 25;
constexpr int kCheckHeight = 17;
constexpr int kLabelHeight = 14;
constexpr int kToolButton = 26;   // rotation and move buttons
constexpr int kPaneMargin = 145;  // smallest pane of the inner splitters

const wchar_t* const kFileTypeTexts[] = {
    L"All supported Graphic Files",
    L"CompuServe GIF (*.GIF)",
    L"JPEG (*.JPG; *.JPEG;  *.JPE; *.JFIF; *.JIF) ",
    L"TIFF (*.TIF; *.TIFF; *.FAX; *.G3N; *.G3F)",
    L"Windows - Bitmaps (*.BMP; *.DIB; *.RLE)",
    L"Zsoft Paintbrush (*.PCX; *.DCX)",
    L"All Files (*.*)",
};

std::wstring UpperText(std::wstring Text)
{
    if (!Text.empty()) ::CharUpperBuffW(Text.data(), static_cast<DWORD>(Text.size()));
    return Text;
}

bool SamePathText(const std::wstring& A, const std::wstring& B)
{
    return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring SubItemOf(const TListItem* Row, int Index)
{
    classlib::TStrings* subs = Row->GetSubItems();
    return Index < subs->GetCount() ? subs->GetStrings(Index) : std::wstring();
}

void SetSubItem(TListItem* Row, int Index, const std::wstring& Value)
{
    classlib::TStrings* subs = Row->GetSubItems();
    while (subs->GetCount() <= Index) subs->Add(L"");
    subs->SetStrings(Index, Value);
}

void SetSubItems(TListItem* Row, const std::vector<std::wstring>& Values)
{
    classlib::TStrings* subs = Row->GetSubItems();
    subs->BeginUpdate();
    subs->Clear();
    for (const std::wstring& v : Values) subs->Add(v);
    subs->EndUpdate();
}

// Width a button needs for its caption.
int CaptionWidth(TControl* Control, const std::wstring& Text)
{
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, Control->GetFont()->GetHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    return size.cx;
}

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

const std::vector<std::wstring>& DefaultFileMasks()
{
    static const std::vector<std::wstring> masks = [] {
        const std::vector<std::wstring> single = {L"*.gif", L"*.jpg;*.jpeg;*.jpe;*.jfif;*.jif",
                                                  L"*.tif;*.tiff;*.fax;*.g3n;*.g3f", L"*.bmp;*.dib;*.rle",
                                                  L"*.pcx;*.dcx"};
        std::wstring all;
        for (int i = 0; i < 4; ++i) all += single[static_cast<std::size_t>(i)] + L";";
        all += single[4];
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
        IO->ReadParamsFromFile(FileName);
    } catch (const std::exception&) {
        // Not a picture the toolkit reads: width and height stay 0.
        params->Width = 0;
    }
    return params->Width != 0 && params->Height != 0;
}

// What adding a file to the album list needs of it: is it a picture the
// toolkit reads, and the EXIF orientation it states (1 without one).
struct TPictureFacts {
    bool Readable = false;
    int Orientation = 1;
};

// Paints what waits to be painted and answers the messages other threads
// send, and nothing else: no input, no posted message, so nothing can
// change what the caller works on.
void ServePaintOnly()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) ::DispatchMessageW(&msg);
}

// The facts of every file of Paths, read by worker threads (as many as
// there are processors, at most 8), each file once; the calling thread
// waits for them, keeping its windows painted (ServePaintOnly).
std::vector<TPictureFacts> ReadPictureFacts(const std::vector<std::wstring>& Paths)
{
    std::vector<TPictureFacts> facts(Paths.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> running{0};
    HANDLE allDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto work = [&] {
        imaging::TPxBitmap bitmap;
        std::unique_ptr<imaging::TImgIO> io = imaging::TImgIO::CreateForBitmap(&bitmap);
        for (std::size_t i = next++; i < Paths.size(); i = next++) {
            try {
                if (!ReadPictureParams(io.get(), Paths[i])) continue;
                facts[i].Readable = true;
                facts[i].Orientation = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
            } catch (...) {
            }
        }
        if (--running == 0 && allDone) ::SetEvent(allDone);
    };
    const std::size_t workers =
        std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), 8, Paths.size()});
    std::vector<std::thread> threads;
    if (allDone) {
        running = workers;
        try {
            for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);
        } catch (...) {
            // The threads that did start finish the files.
            if ((running -= workers - threads.size()) == 0) ::SetEvent(allDone);
        }
        if (!threads.empty()) {
            while (::MsgWaitForMultipleObjects(1, &allDone, FALSE, INFINITE, QS_PAINT | QS_SENDMESSAGE) ==
                   WAIT_OBJECT_0 + 1)
                ServePaintOnly();
        }
    }
    if (threads.empty()) work();  // no thread could start: this one reads them all
    for (std::thread& t : threads) t.join();
    if (allDone) ::CloseHandle(allDone);
    return facts;
}

// The text SamePathText compares, as a key.
std::wstring PathKey(std::wstring Path)
{
    if (!Path.empty()) ::CharUpperBuffW(Path.data(), static_cast<DWORD>(Path.size()));
    return Path;
}

std::wstring CleanAlbumName(const std::wstring& Name)
{
    std::wstring clean;
    for (wchar_t c : Name)
        if (c != L'\\' && c != L'/') clean += c;
    return clean;
}

// ---- the build's view of the window --------------------------------------

class TfrmMain::TBuildHost : public TAlbumBuildHost {
public:
    explicit TBuildHost(TfrmMain& Form) : form_(Form) {}

    int MessageBox(const std::wstring& Text, UINT Flags) override
    {
        // The success message also names the pictures that were left out.
        std::wstring text = Text;
        if (Rows && Text == form_.msgAlbumCreated) {
            std::wstring skipped;
            for (const TAlbumRow& row : *Rows)
                if (!row.Checked) skipped += L"\r\n" + SkippedRowText(row);
            if (!skipped.empty()) {
                text += L"\r\n\r\n" + form_.msgSkippedPictures + skipped;
                Flags = (Flags & ~MB_ICONMASK) | MB_ICONWARNING;
            }
            std::wstring incomplete;
            for (const TAlbumRow& row : *Rows)
                if (row.Checked && !row.Incomplete.empty())
                    incomplete += L"\r\n" + IncompleteRowText(row, form_.strPictureIncomplete);
            if (!incomplete.empty()) {
                text += L"\r\n\r\n" + form_.msgIncompletePictures + incomplete;
                Flags = (Flags & ~MB_ICONMASK) | MB_ICONWARNING;
            }
        }
        return form_.ShowMessageBox(text, Flags);
    }
    // The rows of the running build (their marks tell which were written).
    const std::vector<TAlbumRow>* Rows = nullptr;
    void FocusAlbumName() override
    {
        if (form_.EAlbName->CanFocus()) form_.EAlbName->SetFocus();
    }
    void SetStatusText(const std::wstring& Text) override { form_.TmP6->SetCaption(Text); }
    void DisableControls() override { form_.SetLocked(true); }
    void RestoreControls() override { form_.SetLocked(false); }
    void ShowBuildProgress(bool Visible) override
    {
        form_.TmB3->SetPercent(0);
        form_.TmB4->SetPercent(0);
        form_.TmB3->SetVisible(Visible);
        form_.TmB4->SetVisible(Visible);
        form_.LayoutControls();
    }
    void SetImagePercent(int Percent) override { form_.TmB3->SetPercent(static_cast<uint16_t>(Percent)); }
    void SetStepPercent(int Percent) override { form_.Progress(nullptr, Percent); }
    void ProcessMessages() override
    {
        TAlbumBuildHost::ProcessMessages();
        if (form_.CancelRequested) CancelRequested = 1;
    }
    void OpenDocument(const std::wstring& FileName) override
    {
        if (form_.OpenFinishedAlbum) TAlbumBuildHost::OpenDocument(FileName);
    }
    HWND OwnerWindow() override { return form_.HandleAllocated() ? form_.GetHandle() : nullptr; }

private:
    TfrmMain& form_;
};

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
    using namespace classlib;
    using namespace themed;

    SetCaption(L"Velmo - HTML Morvane");
    GetFont()->SetName(L"Tahoma");
    GetFont()->SetHeight(-11);
    KeyPreview = true;
    SetBorderIcons(biSystemMenu | biMinimize | biMaximize);
    SetClientWidth(kDesignWidth);
    SetClientHeight(kDesignHeight);

    auto named = [](auto* Component, const wchar_t* Name) {
        Component->SetName(Name);
        return Component;
    };
    auto placed = [&](auto* Control, const wchar_t* Name, TWinControl* Parent) {
        named(Control, Name);
        Control->SetParent(Parent);
        return Control;
    };

    // Menu row, top strip, bottom panel, status bar, margins, splitters.
    // The menu row stands on the form with the framework's defaults: it
    // takes the height of its entries and never shows a chevron.
    MbToolbar1 = placed(new toolbar::TMbToolbar(this), L"MbToolbar1", this);
    MbToolbar1->SetAlign(alTop);

    PanelTOP = placed(new TTmPanel(this), L"PanelTOP", this);
    PanelTOP->SetAlign(alTop);
    PanelTOP->SetBorderSides(0);
    PanelTOP->SetHeight(20);
    L3 = placed(new TLabel(this), L"L3", PanelTOP);
    L3->SetBounds(0, 4, 300, kLabelHeight);

    TmSB1 = placed(new TTmStatusBar(this), L"TmSB1", this);
    TmSB1->SetAlign(alBottom);
    TmSB1->SetHeight(22);
    TmSB1->SetBorderSides(0);
    TmP2 = placed(new TTmStatusPane(this), L"TmP2", TmSB1);
    TmP22 = placed(new TTmStatusPane(this), L"TmP22", TmSB1);
    TmP6 = placed(new TTmStatusPane(this), L"TmP6", TmSB1);
    TmB1 = placed(new TTmProgressBar(this), L"TmB1", TmSB1);
    TmB11 = placed(new TTmProgressBar(this), L"TmB11", TmSB1);
    TmB4 = placed(new TTmProgressBar(this), L"TmB4", TmSB1);
    TmB3 = placed(new TTmProgressBar(this), L"TmB3", TmSB1);
    for (TTmProgressBar* bar : {TmB1, TmB11, TmB4, TmB3}) bar->SetVisible(false);

    TmPanel1 = placed(new TTmPanel(this), L"TmPanel1", this);
    TmPanel1->SetAlign(alBottom);
    TmPanel1->SetHeight(44);
    TmPanel1->SetBorderSides(sdTop);
    TmPanel1->SetBorderOuter(fsBump);
    TmPanel1->SetBorderInner(fsNone);

    PanelLEFT = placed(new TTmPanel(this), L"PanelLEFT", this);
    PanelLEFT->SetAlign(alLeft);
    PanelLEFT->SetWidth(6);
    PanelLEFT->SetBorderSides(0);
    PanelRIGHT = placed(new TTmPanel(this), L"PanelRIGHT", this);
    PanelRIGHT->SetAlign(alRight);
    PanelRIGHT->SetWidth(6);
    PanelRIGHT->SetBorderSides(0);

    TMSP = placed(new TTmSplitter(this), L"TMSP", this);
    TMSP->SetAlign(alClient);
    TMSP->SetBorderSides(0);
    TMSP->SetLockBar(true);
    TMSP->SetSplitterWidth(8);
    TMSP->SetPosition(386);
    TMSP->SetUsePercent(true);

    TmSplitter1 = placed(new TTmSplitter(this), L"TmSplitter1", TMSP->GetPane1());
    TmSplitter1->SetAlign(alClient);
    TmSplitter1->SetBorderSides(0);
    TmSplitter1->SetUsePercent(true);
    TmSplitter1->SetPercent(40);
    TmSplitter1->SetSplitterWidth(8);
    TmSplitter1->SetHotSpotDirection(hsdBoth);
    TmSplitter1->SetHotSpotIgnoreMargins(false);
    TmSplitter1->OnChange = TNotifyEvent(this, &TfrmMain::TmSplitter1Change);

    TmSplitter2 = placed(new TTmSplitter(this), L"TmSplitter2", TMSP->GetPane2());
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

    // Browsing side: folder tree | find field, file list, type box, buttons,
    // preview.
    FTree = placed(new shell::TShellTree(this), L"FTree", TmSplitter1->GetPane1());
    FTree->SetAlign(alClient);
    FTree->OnChange = TNotifyEvent(this, &TfrmMain::FTreeChange);
    FTree->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);

    TWinControl* browse = TmSplitter1->GetPane2();
    E1 = placed(new TEdit(this), L"E1", browse);
    E1->OnChange = TNotifyEvent(this, &TfrmMain::E1Change);
    E1->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);
    LV1 = placed(new shell::TShellList(this), L"LV1", browse);
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
    CB1 = placed(new TComboBox(this), L"CB1", browse);
    CB1->SetStyle(csDropDownList);
    for (const wchar_t* text : kFileTypeTexts) CB1->GetItems()->Add(text);
    CB1->OnChange = TNotifyEvent(this, &TfrmMain::CB1Change);
    btnAdd = placed(new TButton(this), L"btnAdd", browse);
    btnAdd->OnClick = TNotifyEvent(this, &TfrmMain::btnAddClick);
    btnAddAll = placed(new TButton(this), L"btnAddAll", browse);
    btnAddAll->OnClick = TNotifyEvent(this, &TfrmMain::btnAddAllClick);
    btnAdd->SetEnabled(false);
    btnAddAll->SetEnabled(false);
    ChB1 = placed(new TCheckBox(this), L"ChB1", browse);
    ChB1->SetChecked(true);
    ChB1->OnClick = TNotifyEvent(this, &TfrmMain::ChB1Click);
    BPanel1 = placed(new TPanel(this), L"BPanel1", browse);
    BPanel1->SetBevelOuter(bvLowered);
    ImPreView1 = placed(new imaging::TImgMView(this), L"ImPreView1", BPanel1);
    ImPreView1->OnIOProgress = imaging::TPxProgressEvent(this, &TfrmMain::ImPreview1IOProgress);

    // Album side: album list and its buttons | rotation, move, title,
    // description, preview.
    TWinControl* album = TmSplitter2->GetPane1();
    LV2 = placed(new TListView(this), L"LV2", album);
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
    btnOpen = placed(new TButton(this), L"btnOpen", album);
    btnOpen->OnClick = TNotifyEvent(this, &TfrmMain::btnOpenClick);
    btnSave = placed(new TButton(this), L"btnSave", album);
    btnSave->OnClick = TNotifyEvent(this, &TfrmMain::btnSaveClick);
    btnSave->SetEnabled(false);
    btnRemove = placed(new TButton(this), L"btnRemove", album);
    btnRemove->OnClick = TNotifyEvent(this, &TfrmMain::btnRemoveClick);
    btnRemoveAll = placed(new TButton(this), L"btnRemoveAll", album);
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
        TSpeedButton* b = placed(new TSpeedButton(this), t.Name, details);
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
    LBL_Rotate = placed(new TLabel(this), L"LBL_Rotate", details);
    LBL_Rotate->SetAutoSize(false);
    LBL_Rotate->SetAlignment(taCenter);
    LBL_Rotate->SetVisible(false);
    LBL_Title = placed(new TLabel(this), L"LBL_Title", details);
    LBL_Desc = placed(new TLabel(this), L"LBL_Desc", details);
    for (TLabel* l : {LBL_Title, LBL_Desc}) {
        l->SetCursor(crHandPoint);
        l->OnClick = TNotifyEvent(this, &TfrmMain::LBL_DescClick);
    }
    E_Title = placed(new TEdit(this), L"E_Title", details);
    E_Title->SetEnabled(false);
    E_Title->OnChange = TNotifyEvent(this, &TfrmMain::E_TitleChange);
    E_Desc = placed(new TMemo(this), L"E_Desc", details);
    E_Desc->SetWordWrap(true);
    E_Desc->SetScrollBars(classlib::ssVertical);
    E_Desc->SetEnabled(false);
    E_Desc->OnChange = TNotifyEvent(this, &TfrmMain::E_DescChange);
    ChB2 = placed(new TCheckBox(this), L"ChB2", details);
    ChB2->SetChecked(true);
    ChB2->OnClick = TNotifyEvent(this, &TfrmMain::ChB2Click);
    BPanel2 = placed(new TPanel(this), L"BPanel2", details);
    BPanel2->SetBevelOuter(bvLowered);
    ImPreview2 = placed(new imaging::TImgMView(this), L"ImPreview2", BPanel2);
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

    // Bottom panel: album name and folder, options, Start, Exit.
    LAlb = placed(new TLabel(this), L"LAlb", TmPanel1);
    EAlbName = placed(new TEdit(this), L"EAlbName", TmPanel1);
    EAlbName->SetText(L"Album1");
    EAlbName->OnKeyPress = TKeyPressEvent(this, &TfrmMain::E1KeyPress);
    EAlbName->OnChange = TNotifyEvent(this, &TfrmMain::EAlbNameChange);
    LDir = placed(new TLabel(this), L"LDir", TmPanel1);
    EAlbDir = placed(new TEdit(this), L"EAlbDir", TmPanel1);
    btnDir = placed(new TSpeedButton(this), L"btnDir", TmPanel1);
    LoadGlyph(btnDir, L"GLYPH_FOLDER", L"...");
    btnDir->OnClick = TNotifyEvent(this, &TfrmMain::btnDirClick);
    btnAdv = placed(new TButton(this), L"btnAdv", TmPanel1);
    btnAdv->OnClick = TNotifyEvent(this, &TfrmMain::btnAdvClick);
    btnStart = placed(new TButton(this), L"btnStart", TmPanel1);
    btnStart->OnClick = TNotifyEvent(this, &TfrmMain::btnStartClick);
    btnStart->SetEnabled(false);  // until the album list holds a picture
    btnCancel = placed(new TButton(this), L"btnCancel", TmPanel1);
    btnCancel->OnClick = TNotifyEvent(this, &TfrmMain::btnCancelClick);

    // Hidden helpers and components without a window.
    TxtFile = placed(new TMemo(this), L"TxtFile", this);
    TxtFile->SetVisible(false);
    TxtFile->SetWordWrap(false);
    LngFiles = placed(new TFileListBox(this), L"LngFiles", this);
    LngFiles->SetVisible(false);
    LngFiles->SetMask(L"Morvane_*.txt");

    ShellLink1 = named(new shell::TShellLink(this), L"ShellLink1");
    FTree->SetShellLink(ShellLink1);
    LV1->SetShellLink(ShellLink1);
    ShDropFiles1 = named(new shell::TShDropFiles(this), L"ShDropFiles1");
    ShDropFiles1->SetControl(LV2);
    ShDropFiles1->SetEnabled(true);
    ShDropFiles1->OnDrop = shell::TShDragDropEvent(this, &TfrmMain::ShDropFiles1Drop);
    FBrowser = named(new shell::TShBrowseForFolder(this), L"FBrowser");
    SaveDialog1 = named(new TSaveDialog(this), L"SaveDialog1");
    OpenDialog1 = named(new TOpenDialog(this), L"OpenDialog1");
    for (TOpenDialog* d : {static_cast<TOpenDialog*>(SaveDialog1), OpenDialog1}) {
        d->Filter = L"Velmo HTML Album (*.alb)|*.alb";
        d->DefaultExt = L"alb";
    }
    SaveDialog1->Options = ofOverwritePrompt | ofHideReadOnly | ofExtensionDifferent | ofPathMustExist;
    OpenDialog1->Options = ofHideReadOnly | ofFileMustExist | ofPathMustExist;
    ImgIO1 = named(new imaging::TImgIO(this), L"ImgIO1");
    ApplicationEvents1 = named(new TApplicationEvents(this), L"ApplicationEvents1");
    ApplicationEvents1->OnException = TExceptionEvent(this, &TfrmMain::ApplicationEvents1Exception);
}

void TfrmMain::CreateMenus()
{
    using toolbar::TMbItem;
    auto flat = [](toolbar::TMbCustomItem* Item) {
        Item->XPItemBkgrCol = classlib::clWhite;
        Item->SetXPItemSelBkgrCol(15717318);
        Item->XPItemSelTxtCol = classlib::clBlack;
        Item->XPItemUnactTxtCol = 13816530;
        Item->XPItemLeftCol = classlib::clBtnFace;
        Item->SetXPItemOutlineCol(classlib::clNavy);
        return Item;
    };
    auto make = [&](auto* Item, const wchar_t* Name, toolbar::TMbCustomItem* Parent) {
        Item->SetName(Name);
        flat(Item);
        Parent->Add(Item);
        return Item;
    };
    mnuFile = make(new toolbar::TMbSubmenuItem(this), L"mnuFile", MbToolbar1->GetItems());
    mnuFile->SetTag(99);
    mnuLanguage = make(new toolbar::TMbSubmenuItem(this), L"mnuLanguage", mnuFile);
    mnuLanguage->OnPopup = toolbar::TMbPopupEvent(this, &TfrmMain::mnuLanguagePopUp);
    for (const TLanguageItem& language : Languages.Items()) {
        TMbItem* item = make(new TMbItem(this), language.Name.c_str(), mnuLanguage);
        item->SetTag(language.Id);
        item->SetCaption(language.Caption);
        item->SetVisible(language.Visible);
        item->OnClick = classlib::TNotifyEvent(this, &TfrmMain::EnglishClick);
        LanguageItems.push_back(item);
        if (language.Id == kEnglishLangId) English = item;
    }
    tbTranslate2 = make(new toolbar::TMbSeparatorItem(this), L"tbTranslate2", mnuLanguage);
    tbTranslate2->SetTag(-1);
    tbTranslate = make(new TMbItem(this), L"tbTranslate", mnuLanguage);
    tbTranslate->SetTag(-1);
    tbTranslate->OnClick = classlib::TNotifyEvent(this, &TfrmMain::tbTranslateClick);
    mnuFileSep = make(new toolbar::TMbSeparatorItem(this), L"mnuFileSep", mnuFile);
    mnuExit = make(new TMbItem(this), L"mnuExit", mnuFile);
    mnuExit->OnClick = classlib::TNotifyEvent(this, &TfrmMain::mnuExitClick);
    mnuHelp = make(new toolbar::TMbSubmenuItem(this), L"mnuHelp", MbToolbar1->GetItems());
    mnuHelp->SetTag(99);
    mnuAbout = make(new TMbItem(this), L"mnuAbout", mnuHelp);
    mnuAbout->OnClick = classlib::TNotifyEvent(this, &TfrmMain::mnuAboutClick);

    PopUp1 = new toolbar::TMbPopupMenu(this);
    PopUp1->SetName(L"PopUp1");
    popLargePreView = make(new TMbItem(this), L"popLargePreView", PopUp1->GetItems());
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

// ---- layout ---------------------------------------------------------------

void TfrmMain::LayoutControls()
{
    if (!built_) return;

    // Browsing pane: find field, file list, type box, add buttons, preview.
    {
        TControl* pane = TmSplitter1->GetPane2();
        const int w = std::max(pane->GetClientWidth(), 1);
        const int h = pane->GetClientHeight();
        E1->SetBounds(0, 0, w, kEditHeight);
        int bottom = h;
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
        BPanel2->SetBounds(0, y, w, std::max(h - y, 30));
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
        }
        TmP6->SetBounds(x, 0, std::max(w - side - 2 - x, 10), h);
    }
}

void TfrmMain::FormResize(TObject*)
{
    if (!built_) return;
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
        CancelRequested = 1;
        if (build_) build_->CancelRequested = 1;
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

// ---- build ------------------------------------------------------------------

bool TfrmMain::BuildRunning() const { return build_ != nullptr || TmB3->GetVisible(); }

void TfrmMain::btnCancelClick(TObject*)
{
    if (BuildRunning()) {
        CancelRequested = 1;
        if (build_) build_->CancelRequested = 1;
        return;
    }
    Close();
}

void TfrmMain::Progress(TObject*, int Percent)
{
    TmB4->SetPercent(static_cast<uint16_t>(std::clamp(Percent, 0, 100)));
}

void TfrmMain::SetLocked(bool Locked)
{
    if (Locked) {
        locked_.clear();
        lockedItems_.clear();
        for (TControl* c : std::initializer_list<TControl*>{
                 E_Title, E_Desc, btnStart, btnAdv, EAlbName, EAlbDir, btnDir, LV1, LV2, R1, R2, R3, R4, btnAdd,
                 btnAddAll, btnRemove, btnRemoveAll, btnPgUp, btnPgDown, btnOpen, btnSave, FTree, E1, CB1}) {
            locked_.emplace_back(c, c->GetEnabled());
            c->SetEnabled(false);
        }
        for (toolbar::TMbCustomItem* i : {static_cast<toolbar::TMbCustomItem*>(mnuLanguage),
                                          static_cast<toolbar::TMbCustomItem*>(mnuAbout),
                                          static_cast<toolbar::TMbCustomItem*>(popLargePreView)}) {
            lockedItems_.emplace_back(i, i->GetEnabled());
            i->SetEnabled(false);
        }
        ShDropFiles1->SetEnabled(false);
        return;
    }
    for (auto& [control, enabled] : locked_) control->SetEnabled(enabled);
    for (auto& [item, enabled] : lockedItems_) item->SetEnabled(enabled);
    locked_.clear();
    lockedItems_.clear();
    ShDropFiles1->SetEnabled(true);
}

void TfrmMain::btnStartClick(TObject*)
{
    if (LV2->GetItems()->GetCount() == 0 || BuildRunning()) return;
    const std::wstring name = CleanAlbumName(classlib::Trim(EAlbName->GetText()));
    if (name != EAlbName->GetText()) EAlbName->SetText(name);
    if (name.empty()) {
        // An empty name would build into the album folder itself, among
        // whatever else is there.
        ShowMessageBox(msgNoAlbumName, MB_OK | MB_ICONWARNING);
        if (EAlbName->CanFocus()) EAlbName->SetFocus();
        return;
    }

    std::vector<TAlbumRow> rows = AlbumRows();
    TAlbumBuildInput input;
    input.Settings = &Settings;
    input.AlbumFolder = EAlbDir->GetText();
    input.AlbumName = name;
    input.ProgramFolder = Settings.GetEnvironment().ProgramFolder();
    input.Translation = &Translation;
    TBuildHost host(*this);
    host.Rows = &rows;
    CancelRequested = 0;
    build_ = &host;
    TAlbumBuildResult result;
    std::wstring failure;
    try {
        result = BuildAlbum(input, rows, host);
    } catch (const classlib::Exception& e) {
        failure = e.Message();
    } catch (const std::exception& e) {
        failure = classlib::AnsiToWide(e.what());
    }
    build_ = nullptr;
    CancelRequested = 0;
    AlbumPath = AlbumPathOf(input.AlbumFolder, name);

    // The rows the build numbered keep their numbers, also after a failure.
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount() && i < static_cast<int>(rows.size()); ++i)
        SetSubItems(items->GetItem(i), rows[static_cast<std::size_t>(i)].SubItems);
    if (!failure.empty()) {
        ShowMessageBox(msgBuildFailed + L"\r\n\r\n" + failure, MB_OK | MB_ICONERROR);
        return;
    }
    BuildFinished(result);
}

void TfrmMain::BuildFinished(const TAlbumBuildResult& Result)
{
    AlbumPath = Result.AlbumPath.empty() ? AlbumPath : Result.AlbumPath;
    CheckList();
}

void TfrmMain::btnAdvClick(TObject*)
{
    if (!frmOptions) return;
    frmOptions->CopyIn(Settings);
    if (frmOptions->ShowModal() == classlib::mrOk) frmOptions->CopyOut(Settings);
}

// ---- album rows ---------------------------------------------------------------

TListItem* TfrmMain::AddAlbumRow(const std::wstring& Path, const std::wstring& Rotation)
{
    TListItem* row = LV2->GetItems()->Add();
    row->Data = reinterpret_cast<void*>(nextRowId_++);
    row->SetCaption(Path);
    SetSubItems(row, {Rotation, L"", L"", L"", classlib::ExtractFileName(Path), L""});
    ListModified = true;
    return row;
}

TListItem* TfrmMain::FindAlbumRow(const std::wstring& Path) const
{
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (SamePathText(items->GetItem(i)->GetCaption(), Path)) return items->GetItem(i);
    return nullptr;
}

TAlbumRowId TfrmMain::AlbumRowId(const TListItem* Row) const
{
    return Row ? reinterpret_cast<TAlbumRowId>(Row->Data) : 0;
}

int TfrmMain::AlbumRowIndex(TAlbumRowId Id) const
{
    if (Id == 0) return -1;
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (reinterpret_cast<TAlbumRowId>(items->GetItem(i)->Data) == Id) return i;
    return -1;
}

std::vector<TAlbumRow> TfrmMain::AlbumRows() const
{
    std::vector<TAlbumRow> rows;
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* item = items->GetItem(i);
        TAlbumRow row;
        row.Path = item->GetCaption();
        for (int j = 0; j < item->GetSubItems()->GetCount(); ++j) row.SubItems.push_back(item->GetSubItems()->GetStrings(j));
        rows.push_back(std::move(row));
    }
    return rows;
}

void TfrmMain::SetAlbumRows(const std::vector<TAlbumRow>& Rows)
{
    classlib::TListItems* items = LV2->GetItems();
    items->BeginUpdate();
    for (const TAlbumRow& r : Rows) {
        TListItem* row = items->Add();
        row->Data = reinterpret_cast<void*>(nextRowId_++);
        row->SetCaption(r.Path);
        SetSubItems(row, r.SubItems);
    }
    items->EndUpdate();
}

std::wstring TfrmMain::InitialRotation(const std::wstring& FileName)
{
    (void)FileName;  // the parameters were read by the caller
    return RotationOfOrientation(ImgIO1->FileParams->HasEXIF ? ImgIO1->FileParams->EXIFOrientation : 1);
}

std::wstring TfrmMain::PositionText(int Index, int Count) const
{
    return msgFileOf + L": " + std::to_wstring(Index + 1) + L"/" + std::to_wstring(Count);
}

int TfrmMain::AddFiles(const std::vector<std::wstring>& Paths, bool Single)
{
    if (BuildRunning()) return 0;
    int added = 0;
    bool known = false;
    if (Paths.size() == 1) {
        const std::wstring& path = Paths.front();
        if (TListItem* existing = FindAlbumRow(path)) {
            known = true;
            if (Single) LV2->SetSelected(existing);
        } else if (ReadPictureParams(ImgIO1, path)) {
            TListItem* row = AddAlbumRow(path, InitialRotation(path));
            ++added;
            if (Single) LV2->SetSelected(row);
        }
    } else if (!Paths.empty()) {
        // Many files: the listed paths looked up by key, the new files'
        // parameters read on every core, the rows added in one update.
        std::unordered_set<std::wstring> listed;
        classlib::TListItems* items = LV2->GetItems();
        for (int i = 0; i < items->GetCount(); ++i) listed.insert(PathKey(items->GetItem(i)->GetCaption()));
        std::vector<std::wstring> fresh;
        std::vector<std::size_t> firstOf(Paths.size());  // the index in fresh of a path's first mention
        std::unordered_map<std::wstring, std::size_t> mentioned;
        for (std::size_t i = 0; i < Paths.size(); ++i) {
            const std::wstring key = PathKey(Paths[i]);
            if (listed.count(key)) {
                known = true;
                firstOf[i] = SIZE_MAX;
                continue;
            }
            auto [at, isNew] = mentioned.emplace(key, fresh.size());
            if (isNew) fresh.push_back(Paths[i]);
            firstOf[i] = at->second;
        }
        const std::vector<TPictureFacts> facts = ReadPictureFacts(fresh);
        std::vector<bool> rowAdded(fresh.size(), false);
        items->BeginUpdate();
        try {
            for (std::size_t i = 0; i < Paths.size(); ++i) {
                const std::size_t f = firstOf[i];
                if (f == SIZE_MAX) continue;
                if (rowAdded[f]) {
                    known = true;  // named twice: the second finds the row of the first
                    continue;
                }
                if (!facts[f].Readable) continue;
                AddAlbumRow(Paths[i], RotationOfOrientation(facts[f].Orientation));
                rowAdded[f] = true;
                ++added;
            }
        } catch (...) {
            items->EndUpdate();
            throw;
        }
        items->EndUpdate();
    }
    CheckList();
    if (!Paths.empty() && added == 0 && !known) ShowMessageBox(msgNoPictures, MB_OK | MB_ICONINFORMATION);
    return added;
}

void TfrmMain::btnAddClick(TObject*)
{
    if (!btnAdd->GetEnabled()) return;
    std::vector<std::wstring> paths;
    classlib::TListItems* items = LV1->GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) paths.push_back(LV1->GetItemPathAt(i));
    AddFiles(paths, LV1->GetSelCount() == 1);
}

void TfrmMain::btnAddAllClick(TObject*)
{
    if (!btnAddAll->GetEnabled()) return;
    std::vector<std::wstring> paths;
    for (int i = 0; i < LV1->GetItems()->GetCount(); ++i) paths.push_back(LV1->GetItemPathAt(i));
    AddFiles(paths, paths.size() == 1);
}

void TfrmMain::ShDropFiles1Drop(TObject*, classlib::TShiftState, POINT, shell::TShDropEffect&)
{
    std::vector<std::wstring> paths;
    classlib::TStringList* files = ShDropFiles1->GetDroppedFiles();
    for (int i = 0; i < files->GetCount(); ++i) paths.push_back(files->GetStrings(i));
    AddFiles(paths, paths.size() == 1);
}

void TfrmMain::btnRemoveClick(TObject*)
{
    if (!btnRemove->GetEnabled()) return;
    classlib::TListItems* items = LV2->GetItems();
    bool removed = false;
    for (int i = 0; i < items->GetCount();) {
        if (items->GetItem(i)->GetSelected()) {
            items->Delete(i);
            removed = true;
        } else {
            ++i;
        }
    }
    if (removed) ListModified = true;
    AlbumIndex = -1;
    TmP22->SetCaption(msgFileOf + L": 0/" + std::to_wstring(items->GetCount()));
    if (LV2->GetSelCount() == 0) ClearAlbumDetails();
    classlib::Application->ProcessMessages();
    ImPreview2->Clear();
    CheckList();
}

void TfrmMain::ClearAlbumDetails()
{
    // No row is selected any more: nothing is shown and nothing can be
    // typed or turned until a row is chosen again.
    E_Title->SetTag(1);
    E_Desc->SetTag(1);
    E_Title->SetText(L"");
    E_Desc->SetText(L"");
    E_Title->SetTag(0);
    E_Desc->SetTag(0);
    E_Title->SetEnabled(false);
    E_Desc->SetEnabled(false);
    btnRemove->SetEnabled(false);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) {
        r->SetEnabled(false);
        r->SetDown(false);
    }
    LBL_Rotate->SetVisible(false);
}

void TfrmMain::btnRemoveAllClick(TObject*)
{
    if (!btnRemoveAll->GetEnabled()) return;
    ClearAlbumList();
    ListModified = true;
}

void TfrmMain::ClearAlbumList()
{
    LV2->GetItems()->Clear();
    AlbumIndex = -1;
    ClearAlbumDetails();
    TmP22->SetCaption(msgFileOf + L": 0/0");
    classlib::Application->ProcessMessages();
    ImPreview2->Clear();
    CheckList();
}

void TfrmMain::CheckList()
{
    if (BuildRunning()) return;  // the build gives the buttons back
    const int count = LV2->GetItems()->GetCount();
    const bool move = LV2->GetSelCount() == 1 && count > 1;
    btnPgUp->SetEnabled(move);
    btnPgDown->SetEnabled(move);
    btnRemoveAll->SetEnabled(count > 0);
    btnSave->SetEnabled(count > 0);
    btnStart->SetEnabled(count > 0);
    const bool files = LV1->GetItems()->GetCount() > 0;
    btnAdd->SetEnabled(files && !shellListFilling_);
    btnAddAll->SetEnabled(files && !shellListFilling_);
    if (!files) {
        TmP2->SetCaption(L"");
        E1->SetText(L"");
    }
    TmP22->SetCaption(AlbumIndex < 0 ? std::wstring() : PositionText(AlbumIndex, count));
}

void TfrmMain::LV1SelectItem(TObject*, TListItem* Item, bool Selected)
{
    if (!Selected) {
        ImPreView1->Clear();
        return;
    }
    if (!E1->Focused()) E1->SetText(Item->GetCaption());
    ServeMessagesAfterSelecting(HandleAllocated() ? GetHandle() : nullptr);
    const int index = LV1->GetItems()->IndexOf(Item);
    if (index < 0) return;  // gone while messages were handled
    ShellIndex = static_cast<int16_t>(index);
    TmP2->SetCaption(PositionText(index, LV1->GetItems()->GetCount()));
    if (ChB1->GetChecked()) ShowPreview(ImPreView1, LV1->GetItemPathAt(index), 0);
}

void TfrmMain::ApplyRotationButtons(const std::wstring& Rotation)
{
    const bool original = Rotation == L"0" || Rotation.empty();
    R1->SetEnabled(!original);
    R2->SetEnabled(original);
    R3->SetEnabled(original);
    R4->SetEnabled(original);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4})
        if (std::to_wstring(r->GetTag()) == (original ? std::wstring(L"0") : Rotation)) r->SetDown(true);
}

void TfrmMain::ShowRotationLabel(const std::wstring& Rotation)
{
    const bool turned = !(Rotation == L"0" || Rotation.empty());
    if (turned) LBL_Rotate->SetCaption(RotationLabelText(Translation, msgRotation, Rotation));
    LBL_Rotate->SetVisible(turned);
}

void TfrmMain::LV2SelectItem(TObject*, TListItem* Item, bool Selected)
{
    if (LV2->GetTag() == 1) return;
    const int count = LV2->GetItems()->GetCount();
    const bool move = LV2->GetSelCount() == 1 && count > 1 && !BuildRunning();
    btnPgUp->SetEnabled(move);
    btnPgDown->SetEnabled(move);
    E_Title->SetTag(1);
    E_Desc->SetTag(1);
    const bool editable = Selected && !BuildRunning();
    E_Title->SetEnabled(editable);
    E_Desc->SetEnabled(editable);
    btnRemove->SetEnabled(editable);
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) r->SetEnabled(false);
    LBL_Rotate->SetVisible(false);
    if (Selected) {
        E_Title->SetText(SubItemOf(Item, siTitle));
        E_Desc->SetText(SubItemOf(Item, siDescription));
        const std::wstring rotation = SubItemOf(Item, siRotation);
        if (!BuildRunning()) ApplyRotationButtons(rotation);
        ShowRotationLabel(rotation);
        AlbumIndex = static_cast<int16_t>(LV2->GetItems()->IndexOf(Item));
        TmP22->SetCaption(PositionText(AlbumIndex, count));
        const std::wstring path = Item->GetCaption();
        ServeMessagesAfterSelecting(HandleAllocated() ? GetHandle() : nullptr);
        if (ChB2->GetChecked() && LV2->GetItems()->IndexOf(Item) >= 0)
            ShowPreview(ImPreview2, path, RotationOf(SubItemOf(Item, siRotation)));
    } else {
        if (popupOwner_ == LV2) {
            popupOwner_ = nullptr;
            PopUp1->SetTag(0);
        }
        E_Title->SetText(L"");
        E_Desc->SetText(L"");
        ImPreview2->Clear();
        TmP22->SetCaption(L"");
        if (LV2->GetSelCount() > 0) {
            // Another row stays selected: the fields show it.
            E_Title->SetEnabled(true);
            E_Desc->SetEnabled(true);
            btnRemove->SetEnabled(true);
        }
    }
    E_Title->SetTag(0);
    E_Desc->SetTag(0);
}

void TfrmMain::R1Click(TObject* Sender)
{
    auto* button = dynamic_cast<classlib::TSpeedButton*>(static_cast<classlib::TComponent*>(Sender));
    if (!button || BuildRunning()) return;
    for (classlib::TSpeedButton* r : {R1, R2, R3, R4}) r->SetEnabled(false);
    if (button == R1) {
        R2->SetEnabled(true);
        R3->SetEnabled(true);
        R4->SetEnabled(true);
    } else {
        R1->SetEnabled(true);
    }
    const std::wstring angle = std::to_wstring(button->GetTag());
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* row = items->GetItem(i);
        if (!row->GetSelected() || SubItemOf(row, siRotation) == angle) continue;
        SetSubItem(row, siRotation, angle);
        ListModified = true;
        ShowRotationLabel(angle);
        if (ChB2->GetChecked()) ShowPreview(ImPreview2, row->GetCaption(), button->GetTag());
    }
}

void TfrmMain::E_TitleChange(TObject*)
{
    if (E_Title->GetTag() != 1) SetSelectedRowsText(siTitle, E_Title->GetText());
}

void TfrmMain::E_DescChange(TObject*)
{
    if (E_Desc->GetTag() != 1) SetSelectedRowsText(siDescription, E_Desc->GetText());
}

void TfrmMain::SetSelectedRowsText(int SubItem, const std::wstring& Text)
{
    const std::wstring text = classlib::Trim(Text);
    classlib::TListItems* items = LV2->GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* row = items->GetItem(i);
        if (row->GetSelected() && SubItemOf(row, SubItem) != text) {
            SetSubItem(row, SubItem, text);
            ListModified = true;
        }
    }
}

void TfrmMain::E1Change(TObject*)
{
    if (!E1->Focused()) return;
    const std::wstring typed = UpperText(E1->GetText());
    classlib::TListItems* items = LV1->GetItems();
    bool found = false;
    for (int i = 0; i < items->GetCount(); ++i) {
        TListItem* item = items->GetItem(i);
        if (!found && UpperText(item->GetCaption()).starts_with(typed)) {
            found = true;
            item->SetSelected(true);
            if (LV1->HandleAllocated()) {
                RECT r{LVIR_BOUNDS, 0, 0, 0};
                HWND list = LV1->GetHandle();
                ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
                ::SendMessageW(list, LVM_SCROLL, 0, r.top - (r.bottom - r.top));
            }
        } else {
            item->SetSelected(false);
        }
    }
}

void TfrmMain::E1KeyPress(TObject* Sender, wchar_t& Key)
{
    if (Key == 27) Key = 0;
    if (Sender == EAlbName && (Key == L'/' || Key == L'\\')) Key = 0;
}

void TfrmMain::EAlbNameChange(TObject*)
{
    // Pasted text may carry separators that typing can't.
    const std::wstring text = EAlbName->GetText();
    const std::wstring clean = CleanAlbumName(text);
    if (clean != text) EAlbName->SetText(clean);
}

void TfrmMain::MoveListViewItem(classlib::TListView* View, int From, int To)
{
    classlib::TListItems* items = View->GetItems();
    items->BeginUpdate();
    // Rows keep their identity (and selection) while they move.
    const int step = To < From ? -1 : 1;
    for (int i = From; i != To; i += step) items->Exchange(i, i + step);
    items->EndUpdate();
    if (View == LV2) ListModified = true;
}

void TfrmMain::TmSpinButtons1UpRightClick(TObject*)
{
    if (!btnPgUp->GetEnabled() || LV2->GetSelCount() != 1) return;
    const int i = LV2->GetItemIndex();
    if (i <= 0) return;
    LV2->SetTag(1);
    MoveListViewItem(LV2, i, i - 1);
    LV2->SetItemIndex(i - 1);
    LV2->SetTag(0);
    AlbumIndex = static_cast<int16_t>(i - 1);
    TmP22->SetCaption(PositionText(AlbumIndex, LV2->GetItems()->GetCount()));
}

void TfrmMain::TmSpinButtons1DownLeftClick(TObject*)
{
    if (!btnPgDown->GetEnabled() || LV2->GetSelCount() != 1) return;
    const int i = LV2->GetItemIndex();
    if (i < 0 || i >= LV2->GetItems()->GetCount() - 1) return;
    LV2->SetTag(1);
    MoveListViewItem(LV2, i + 1, i);
    LV2->SetTag(0);
    AlbumIndex = static_cast<int16_t>(i + 1);
    TmP22->SetCaption(PositionText(AlbumIndex, LV2->GetItems()->GetCount()));
}

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
        TListItem* row = LV2->GetItems()->GetItem(AlbumIndex);
        ShowPreview(ImPreview2, row->GetCaption(), RotationOf(SubItemOf(row, siRotation)));
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
    TmP6->SetCaption(LV1->Hint);
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
    // build state stays until the build ends.
    if (hint.empty()) {
        if (!BuildRunning()) TmP6->SetCaption(L"");
    } else if (hint != LV1->Hint && hint != LV2->Hint) {
        TmP6->SetCaption(hint);
    }
}

void TfrmMain::LV2MouseEnter(TObject*)
{
    if (LV2->GetItems()->GetCount() > 0) TmP6->SetCaption(LV2->Hint);
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

// ---- album list file ------------------------------------------------------------

namespace {

// Text with "%n1" replaced by Line, then "%f1" by FileName (whatever the
// file's name holds stays as it is).
std::wstring ListMessage(const std::wstring& Text, const std::wstring& FileName, int Line = 0)
{
    const auto all = classlib::rfReplaceAll | classlib::rfIgnoreCase;
    return classlib::StringReplace(classlib::StringReplace(Text, L"%n1", std::to_wstring(Line), all), L"%f1",
                                   FileName, all);
}

}  // namespace

bool TfrmMain::OpenAlbumList(const std::wstring& FileName)
{
    std::vector<TAlbumRow> rows;
    try {
        LoadAlbumList(FileName, rows);
    } catch (const EAlbumListFormat& e) {
        ShowMessageBox(ListMessage(e.Line > 0 ? msgNotAlbumList : msgEmptyAlbumList, FileName, e.Line),
                       MB_OK | MB_ICONWARNING);
        return false;
    } catch (const classlib::Exception& e) {
        ShowMessageBox(ListMessage(msgListNotRead, FileName) + L"\r\n\r\n" + e.Message(), MB_OK | MB_ICONERROR);
        return false;
    }
    ClearAlbumList();
    SetAlbumRows(rows);
    ListModified = false;
    CheckList();
    return true;
}

bool TfrmMain::SaveAlbumListTo(const std::wstring& FileName)
{
    try {
        SaveAlbumList(FileName, AlbumRows());
    } catch (const classlib::Exception& e) {
        ShowMessageBox(ListMessage(msgListNotWritten, FileName) + L"\r\n\r\n" + e.Message(), MB_OK | MB_ICONERROR);
        return false;
    }
    ListModified = false;
    return true;
}

std::wstring TfrmMain::AlbumListFolder() const
{
    return listFolder_.empty() ? Settings.GetEnvironment().DocumentsFolder : listFolder_;
}

void TfrmMain::PrepareListDialog(classlib::TOpenDialog* Dialog) const
{
    Dialog->InitialDir = AlbumListFolder();
    // A name with a folder would take the dialog to that folder instead.
    Dialog->FileName.clear();
}

void TfrmMain::btnOpenClick(TObject*)
{
    if (BuildRunning()) return;
    PrepareListDialog(OpenDialog1);
    const bool accepted =
        DialogHook ? DialogHook(OpenDialog1) : OpenDialog1->Execute(HandleAllocated() ? GetHandle() : nullptr);
    if (!accepted) return;  // the list stays as it was
    listFolder_ = classlib::ExtractFilePath(OpenDialog1->FileName);
    classlib::Application->ProcessMessages();
    OpenAlbumList(OpenDialog1->FileName);
}

void TfrmMain::btnSaveClick(TObject*)
{
    // Saving writes every row; which rows are selected does not matter.
    if (BuildRunning() || LV2->GetItems()->GetCount() == 0) return;
    PrepareListDialog(SaveDialog1);
    const bool accepted =
        DialogHook ? DialogHook(SaveDialog1) : SaveDialog1->Execute(HandleAllocated() ? GetHandle() : nullptr);
    if (!accepted) return;
    listFolder_ = classlib::ExtractFilePath(SaveDialog1->FileName);
    SaveAlbumListTo(SaveDialog1->FileName);
}

// ---- translations ---------------------------------------------------------------

toolbar::TMbItem* TfrmMain::LanguageItem(int Id) const
{
    for (toolbar::TMbItem* item : LanguageItems)
        if (item->GetTag() == Id) return item;
    return nullptr;
}

void TfrmMain::SearchLanguages()
{
    classlib::Application->ProcessMessages();
    std::vector<std::wstring> names;
    classlib::TStrings* files = LngFiles->GetItems();
    for (int i = 0; i < files->GetCount(); ++i) names.push_back(files->GetStrings(i));
    const std::wstring folder = Settings.GetEnvironment().ProgramFolder() + L"Languages\\";
    Languages.SearchLanguages(folder, names);
    const std::vector<TLanguageItem>& items = Languages.Items();
    for (std::size_t i = 0; i < items.size() && i < LanguageItems.size(); ++i) {
        LanguageItems[i]->SetVisible(items[i].Visible);
        LanguageItems[i]->Hint = items[i].Hint;
    }
}

void TfrmMain::SetSysLanguage() { CurrentLangId = Settings.SettleLanguageId(); }

std::wstring TfrmMain::Translate(const std::wstring& Key) const { return Translation.Translate(Key); }

void TfrmMain::SetLanguage()
{
    if (CurrentLangId == kEnglishLangId || !Translation.SelectLanguage(Languages, CurrentLangId)) Translation.Clear();
    TxtFile->GetLines()->Clear();
    for (const std::wstring& line : Translation.Lines()) TxtFile->GetLines()->Add(line);
    const TTranslation& t = Translation;
    auto text = [&](const wchar_t* Key) { return t.Text(std::wstring(Key)); };

    SetCaption(text(L"msg_PrName"));
    L3->SetCaption(text(L"msg_Files_for_HTML_Album"));
    LAlb->SetCaption(text(L"msg_Album_name"));
    LDir->SetCaption(text(L"msg_Album_folder"));
    btnAdv->SetCaption(text(L"msg_HTML_options"));
    mnuFile->SetCaption(text(L"mnuFile"));
    mnuHelp->SetCaption(text(L"mnuHelp"));
    R1->Hint = text(L"btnOriginalOrientation");
    R2->Hint = text(L"btnRotate270");
    R3->Hint = text(L"btnRotate180");
    R4->Hint = text(L"btnRotate90");
    btnStart->SetCaption(text(L"btnStart"));
    btnCancel->SetCaption(text(L"btnExit"));
    btnAdd->SetCaption(text(L"btnAdd"));
    btnAddAll->SetCaption(text(L"btnAddAll"));
    btnRemove->SetCaption(text(L"btnRemove"));
    btnRemoveAll->SetCaption(text(L"btnRemoveAll"));
    ChB1->SetCaption(text(L"strPreview"));
    ChB2->SetCaption(ChB1->GetCaption());
    const int fileType = CB1->GetItemIndex();
    CB1->GetItems()->SetStrings(0, text(L"strAllGraphics"));
    CB1->GetItems()->SetStrings(6, text(L"strAllFiles"));
    CB1->SetItemIndex(fileType);
    if (fileType >= 0 && fileType < static_cast<int>(FileMasks.size()))
        LV1->SetFilter(FileMasks[static_cast<std::size_t>(fileType)]);
    mnuAbout->SetCaption(text(L"msgAbout") + L"...");
    mnuLanguage->SetCaption(text(L"msgSelectLanguage"));
    msgFileOf = text(L"msgFileOf");
    msgAlbumExist = text(L"msgAlbumExist");
    msgCouldNotWrite = text(L"msgCouldNotWrite");
    msgESC = text(L"msgESC");
    msgErrorCreateAlbum = text(L"msgErrorCreateAlbum");
    msgAlbumCreated = text(L"msgAlbumCreated");
    msgSelectDir = text(L"msgSelectDir");
    msgIncompletePictures = text(L"msgIncompletePictures");
    strPictureIncomplete = text(L"strPictureIncomplete");
    btnOpen->SetCaption(text(L"btnOpenList"));
    btnSave->SetCaption(text(L"btnSaveList"));
    btnPgUp->Hint = text(L"hintFileUp");
    btnPgDown->Hint = text(L"hintFileDown");
    LBL_Title->SetCaption(text(L"strTitle"));
    LBL_Desc->SetCaption(text(L"strDescription"));
    msgRotation = text(L"msgRotation");
    LV1->Hint = text(L"hintRightClick");
    popLargePreView->SetCaption(text(L"msgLargePreView"));
    msgNotAlbumList = text(L"msgNotAlbumList");
    msgEmptyAlbumList = text(L"msgEmptyAlbumList");
    msgListNotRead = text(L"msgListNotRead");
    msgListNotWritten = text(L"msgListNotWritten");

    msgNoPictures = text(L"msgNoPictures");
    msgListNotSaved = text(L"msgListNotSaved");
    msgBuildFailed = text(L"msgBuildFailed");
    msgNoAlbumName = text(L"msgNoAlbumName");
    msgSkippedPictures = text(L"msgSkippedPictures");
    tbTranslate->SetCaption(text(L"msgTranslateMenu"));

    LV2->Hint = LV1->Hint;
    mnuExit->SetCaption(btnCancel->GetCaption());
    // Texts made from messages show in the new language at once.
    const int albumCount = LV2->GetItems()->GetCount();
    if (AlbumIndex >= 0 && AlbumIndex < albumCount) {
        TmP22->SetCaption(PositionText(AlbumIndex, albumCount));
        ShowRotationLabel(SubItemOf(LV2->GetItems()->GetItem(AlbumIndex), siRotation));
    }
    if (ShellIndex >= 0 && ShellIndex < LV1->GetItems()->GetCount())
        TmP2->SetCaption(PositionText(ShellIndex, LV1->GetItems()->GetCount()));
    if (frmOptions) frmOptions->ApplyTexts(t);
    if (frmAbout) frmAbout->ApplyTexts(t);
    if (frmTranslate) frmTranslate->ApplyTexts(t);
    if (frmScreen) frmScreen->ApplyTexts(t);
    if (frmPreview) frmPreview->ApplyTexts(t);
    LayoutControls();
}

void TfrmMain::EnglishClick(TObject* Sender)
{
    auto* item = dynamic_cast<toolbar::TMbItem*>(static_cast<classlib::TComponent*>(Sender));
    if (!item) return;
    if (Settings.StoreLanguageId(static_cast<int>(item->GetTag()))) {
        SetSysLanguage();
        SetLanguage();
    }
}

void TfrmMain::mnuLanguagePopUp(TObject*, bool)
{
    const int checked = Languages.CheckedIndex(CurrentLangId);
    for (std::size_t i = 0; i < LanguageItems.size(); ++i)
        LanguageItems[i]->SetChecked(static_cast<int>(i) == checked);
    const bool offer = Languages.OffersTranslation(SystemLangId);
    tbTranslate->SetVisible(offer);
    tbTranslate2->SetVisible(offer);
}

void TfrmMain::tbTranslateClick(TObject*)
{
    const TTranslationOffer offer =
        PrepareTranslation(Settings.GetEnvironment().ProgramFolder() + L"Languages\\", Languages, SystemLangId);
    if (frmTranslate && offer.Show) frmTranslate->ShowOffer(offer);
}

}  // namespace album
