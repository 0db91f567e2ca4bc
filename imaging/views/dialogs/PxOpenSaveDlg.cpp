#include "imaging/views/dialogs/PxOpenSaveDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/StringList.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/pcx/DcxFile.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/formats/ico/IcoReader.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxOwnerWindow.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/dialogs/PxIOPreviews.h"

namespace imaging {

namespace {

const wchar_t kObjectProp[] = L"PxCommonDialogObject";
thread_local TPxCommonDialog* creatingDialog = nullptr;

constexpr int kStandardArea = 1119;  // the template's placeholder of the standard controls
constexpr int kFileNameBox = 1152;   // the file-name box of the system dialog
constexpr int kFileNameEdit = 1148;

std::wstring Msg(int Index, TMsgLanguage Language) { return PxGetMsgText(Index, Language); }

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring Trim(const std::wstring& s)
{
    const size_t a = s.find_first_not_of(L" \t\r\n");
    if (a == std::wstring::npos)
        return std::wstring();
    const size_t b = s.find_last_not_of(L" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::vector<std::wstring> SplitBar(const std::wstring& s)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        const size_t bar = s.find(L'|', start);
        parts.push_back(s.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
        if (bar == std::wstring::npos)
            break;
        start = bar + 1;
    }
    return parts;
}

// A dialog template in memory: a child control dialog of Cx x Cy dialog
// units with one static placeholder (id 1119) where the system dialog puts
// its standard controls. The memory is GMEM_FIXED, so the handle is the
// address the system dialog reads.
HGLOBAL MakeTemplate(short Cx, short Cy, short X, short Y, short W, short H)
{
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto text = [&](const wchar_t* s) {
        for (; *s; ++s)
            t.push_back(static_cast<WORD>(*s));
        t.push_back(0);
    };
    dword(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | DS_CONTROL | DS_SETFONT | DS_3DLOOK);
    dword(0);
    t.push_back(1);  // one item
    t.push_back(0);
    t.push_back(0);
    t.push_back(static_cast<WORD>(Cx));
    t.push_back(static_cast<WORD>(Cy));
    t.push_back(0);  // no menu
    t.push_back(0);  // standard class
    t.push_back(0);  // no title
    t.push_back(8);  // point size
    text(L"Helv");
    if (t.size() % 2)
        t.push_back(0);  // items start on a DWORD boundary
    dword(WS_CHILD | WS_VISIBLE | WS_GROUP);
    dword(0);
    t.push_back(static_cast<WORD>(X));
    t.push_back(static_cast<WORD>(Y));
    t.push_back(static_cast<WORD>(W));
    t.push_back(static_cast<WORD>(H));
    t.push_back(kStandardArea);
    t.push_back(0xFFFF);
    t.push_back(0x0082);  // static
    t.push_back(0);       // no text
    t.push_back(0);       // no creation data
    HGLOBAL mem = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, t.size() * sizeof(WORD) + 16);
    if (mem)
        std::memcpy(mem, t.data(), t.size() * sizeof(WORD));
    return mem;
}

void CenterWindow(HWND Wnd)
{
    RECT r;
    if (!Wnd || !GetWindowRect(Wnd, &r))
        return;
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    SetWindowPos(Wnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// 16 x 16 glyphs on olive (the transparent colour, bottom-left pixel).
std::unique_ptr<classlib::TBitmap> MakeGlyph(bool Play)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(16, 16);
    classlib::TCanvas* c = b->GetCanvas();
    c->GetBrush()->SetStyle(classlib::bsSolid);
    c->GetBrush()->SetColor(static_cast<classlib::TColor>(RGB(128, 128, 0)));
    c->FillRect(RECT{0, 0, 16, 16});
    c->GetPen()->SetColor(classlib::clBlack);
    if (Play) {
        c->GetBrush()->SetColor(classlib::clWhite);
        c->Rectangle(1, 1, 15, 15);
        c->GetBrush()->SetColor(classlib::clBlack);
        const POINT tri[3] = {{5, 4}, {11, 8}, {5, 12}};
        Polygon(c->GetHandle(), tri, 3);
    } else {
        c->GetBrush()->SetColor(classlib::clWhite);
        c->Rectangle(2, 1, 11, 14);
        c->GetBrush()->SetStyle(classlib::bsClear);
        c->Ellipse(7, 7, 13, 13);
        c->MoveTo(12, 12);
        c->LineTo(15, 15);
    }
    return b;
}

double ScaleFactor()
{
    const int ppi = classlib::Screen ? classlib::Screen->GetPixelsPerInch() : 96;
    return ppi / 96.0;
}

int S(double v) { return static_cast<int>(std::lround(v * ScaleFactor())); }

int T(double v)
{
    const int ppi = classlib::Screen ? classlib::Screen->GetPixelsPerInch() : 96;
    const double t = ppi == 120 ? 1.333 : ppi / 96.0;
    return static_cast<int>(std::lround(v * t));
}

}  // namespace

// ---- TPxDialogProgressBar

TPxDialogProgressBar::TPxDialogProgressBar(classlib::TComponent* Owner) : classlib::TSystemControl(Owner)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
}

void TPxDialogProgressBar::SetPosition(int Value)
{
    position_ = std::clamp(Value, 0, 100);
    if (HandleAllocated())
        SendMessageW(GetHandle(), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

void TPxDialogProgressBar::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    SendMessageW(GetHandle(), PBM_SETRANGE32, 0, 100);
    SendMessageW(GetHandle(), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

// ---- helpers

std::wstring PxPatternToExtension(const std::wstring& Patterns)
{
    const size_t dot = Patterns.find(L'.');
    if (dot == std::wstring::npos)
        return std::wstring();
    const size_t semi = Patterns.find(L';', dot);
    return Patterns.substr(dot, semi == std::wstring::npos ? std::wstring::npos : semi - dot);
}

std::wstring PxFilterToNulList(const std::wstring& Filter)
{
    std::wstring s = Filter;
    std::replace(s.begin(), s.end(), L'|', L'\0');
    s.push_back(L'\0');
    s.push_back(L'\0');
    return s;
}

// ---- TPxCommonDialog

TPxCommonDialog::TPxCommonDialog(classlib::TComponent* Owner) : classlib::TComponent(Owner) {}

TPxCommonDialog::~TPxCommonDialog()
{
    if (creatingDialog == this)
        creatingDialog = nullptr;
}

void TPxCommonDialog::Subclass(HWND Wnd)
{
    dialogWindow_ = Wnd;
    SetPropW(Wnd, kObjectProp, this);
    prevWindowProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TPxCommonDialog::ObjectWndProc)));
}

LRESULT CALLBACK TPxCommonDialog::ObjectWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* self = static_cast<TPxCommonDialog*>(GetPropW(Wnd, kObjectProp));
    if (!self)
        return DefWindowProcW(Wnd, Msg, WParam, LParam);
    classlib::TMessage m{Msg, WParam, LParam, 0};
    self->SafeWindowProc(m);
    return m.Result;
}

void TPxCommonDialog::SafeWindowProc(classlib::TMessage& Message)
{
    try {
        DialogWindowProc(Message);
    } catch (...) {
        if (classlib::Application)
            classlib::Application->HandleException(this);
    }
}

void TPxCommonDialog::CallPrevious(classlib::TMessage& Message)
{
    if (prevWindowProc_ && dialogWindow_)
        Message.Result = CallWindowProcW(prevWindowProc_, dialogWindow_, Message.Msg, Message.WParam, Message.LParam);
}

void TPxCommonDialog::DialogWindowProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case WM_DESTROY:
        CallPrevious(Message);
        NotifyClose();
        return;
    case WM_INITDIALOG:
        NotifyShow();
        Message.Result = 0;
        return;
    case WM_NCDESTROY: {
        HWND wnd = dialogWindow_;
        WNDPROC prev = prevWindowProc_;
        if (wnd) {
            SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
            RemovePropW(wnd, kObjectProp);
            Message.Result = CallWindowProcW(prev, wnd, Message.Msg, Message.WParam, Message.LParam);
        }
        dialogWindow_ = nullptr;
        prevWindowProc_ = nullptr;
        return;
    }
    default:
        CallPrevious(Message);
    }
}

bool TPxCommonDialog::HelpMessageHook(classlib::TMessage& Message)
{
    static const UINT helpMsg = RegisterWindowMessageW(HELPMSGSTRINGW);
    if (Message.Msg != helpMsg || HelpContext == 0)
        return false;
    if (classlib::Application)
        classlib::Application->HelpContext(HelpContext);
    return true;
}

bool TPxCommonDialog::RunModal(TDialogFunction DialogFunction, OPENFILENAMEW& DialogData)
{
    HWND active = GetActiveWindow();
    // The dialog sends its help request to its owner, the main window.
    const classlib::TApplication::TWindowHook hook(this, &TPxCommonDialog::HelpMessageHook);
    classlib::TApplication* app = classlib::Application;
    if (app)
        app->HookMainWindow(hook);
    struct Restore {
        classlib::TApplication* App;
        const classlib::TApplication::TWindowHook& Hook;
        HWND Active;
        ~Restore()
        {
            creatingDialog = nullptr;
            if (App && App == classlib::Application)
                App->UnhookMainWindow(Hook);
            if (Active && IsWindow(Active))
                SetActiveWindow(Active);
        }
    } restore{app, hook, active};
    creatingDialog = this;
    return DialogFunction(&DialogData) != FALSE;
}

void TPxCommonDialog::NotifyClose() { OnClose(this); }

void TPxCommonDialog::NotifyShow() { OnShow(this); }

UINT_PTR CALLBACK TPxCommonDialog::HookExplorer(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_INITDIALOG && creatingDialog) {
        TPxCommonDialog* dlg = creatingDialog;
        creatingDialog = nullptr;
        dlg->Subclass(Wnd);
        classlib::TMessage m{Msg, WParam, LParam, 0};
        dlg->SafeWindowProc(m);
    } else if (Msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(LParam)->code == CDN_INITDONE) {
        CenterWindow(GetParent(Wnd));
    }
    return 0;
}

UINT_PTR CALLBACK TPxCommonDialog::HookOldStyle(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_INITDIALOG && creatingDialog) {
        CenterWindow(Wnd);
        TPxCommonDialog* dlg = creatingDialog;
        creatingDialog = nullptr;
        dlg->Subclass(Wnd);
        classlib::TMessage m{Msg, WParam, LParam, 0};
        dlg->SafeWindowProc(m);
    }
    return 0;
}

// ---- TOpenImgDialog

TOpenImgDialog::TOpenImgDialog(classlib::TComponent* Owner) : TPxCommonDialog(Owner)
{
    PxSyncGIFFormatRow();
    fileList_ = std::make_unique<classlib::TStringList>();
    wideFileList_ = std::make_unique<classlib::TStringList>();
    Filter = BuildFilter();

    InfoPanel = new classlib::TPanel(this);
    InfoPanel->SetName(L"InfoPanel");
    InfoPanel->SetBevelOuter(classlib::bvNone);
    InfoPanel->SetBevelWidth(0);

    AdvancedButton = new classlib::TButton(this);
    AdvancedButton->SetName(L"AdvancedButton");
    AdvancedButton->SetParent(InfoPanel);
    AdvancedButton->SetBounds(0, 0, T(93), S(23));
    AdvancedButton->SetVisible(false);

    PicturePanel = new classlib::TPanel(this);
    PicturePanel->SetName(L"PicturePanel");
    PicturePanel->SetBevelOuter(classlib::bvNone);
    PicturePanel->SetBevelWidth(0);

    PreviewCheck = new classlib::TCheckBox(this);
    PreviewCheck->SetName(L"PreviewCheck");
    PreviewCheck->SetParent(PicturePanel);
    PreviewCheck->SetBounds(S(6), S(258), S(157), S(23));
    PreviewCheck->SetChecked(true);
    PreviewCheck->SetVisible(false);
    PreviewCheck->OnClick = classlib::TNotifyEvent(this, &TOpenImgDialog::PreviewCheckClick);

    auto label = [&](const wchar_t* Name, int Top) {
        auto* l = new classlib::TLabel(this);
        l->SetName(Name);
        l->SetParent(PicturePanel);
        l->SetBounds(S(6), S(Top), S(157), S(23));
        l->SetAutoSize(true);
        return l;
    };
    InfoLabel2 = label(L"InfoLabel2", 284);
    PicLabel1 = label(L"PicLabel1", 304);
    PicLabel2 = label(L"PicLabel2", 324);
    PicLabel3 = label(L"PicLabel3", 344);
    InfoLabel1 = label(L"InfoLabel1", 364);

    auto previewGlyph = MakeGlyph(false);
    PreviewButton = new classlib::TSpeedButton(this);
    PreviewButton->SetName(L"PreviewButton");
    PreviewButton->SetParent(PicturePanel);
    PreviewButton->SetBounds(80, S(7), 23, 22);
    PreviewButton->SetFlat(true);
    PreviewButton->SetEnabled(false);
    PreviewButton->SetGlyph(previewGlyph.get());
    PreviewButton->SetShowHint(true);
    PreviewButton->OnClick = classlib::TNotifyEvent(this, &TOpenImgDialog::ShowPreviewWindow);

    auto playGlyph = MakeGlyph(true);
    PlayButton = new classlib::TSpeedButton(this);
    PlayButton->SetName(L"PlayButton");
    PlayButton->SetParent(PicturePanel);
    PlayButton->SetBounds(85, 5, 23, 22);
    PlayButton->SetFlat(true);
    PlayButton->SetEnabled(false);
    PlayButton->SetGroupIndex(1);
    PlayButton->SetAllowAllUp(true);
    PlayButton->SetGlyph(playGlyph.get());
    PlayButton->SetVisible(false);
    PlayButton->SetShowHint(true);
    PlayButton->OnClick = classlib::TNotifyEvent(this, &TOpenImgDialog::PlayClick);

    ImgView = new TImgVect(this);
    ImgView->SetName(L"ImgView");
    ImgView->SetParent(PicturePanel);
    ImgView->SetBounds(S(6), S(36), S(230), S(217));
    ImgView->SetMouseInteract(TImgView::miScroll);
    ImgView->SetBackground(classlib::clBtnFace);
    ImgView->SetBackgroundStyle(pxbsSolid);
    ImgView->SetBorderStyle(imaging::bsSingle);
    ImgView->SetCenter(true);
    ImgView->SetZoomFilter(rfFastLinear);
    ImgView->DelayZoomFilter = false;
    ImgView->SetEnableAlphaChannel(true);
    ImgView->SetOnProgress(TPxProgressEvent(this, &TOpenImgDialog::DialogProgress));
    ImgView->OnDblClick = classlib::TNotifyEvent(this, &TOpenImgDialog::ShowPreviewWindow);

    ImgMView = new TImgMView(this);
    ImgMView->SetName(L"ImgMView");
    ImgMView->SetParent(PicturePanel);
    ImgMView->SetBounds(S(6), S(36), S(230), S(217));
    ImgMView->SetBorderStyle(imaging::bsSingle);
    ImgMView->SetMouseInteract(mmiScroll | mmiSelect);
    ImgMView->SetScrollBars(ssHorizontal);
    ImgMView->SetKeyInteract(mkiMoveSelected);
    ImgMView->SetThumbWidth(S(175));
    ImgMView->SetThumbHeight(S(189));
    ImgMView->SetHorizBorder(4);
    ImgMView->SetVertBorder(4);
    ImgMView->SetBackground(classlib::clBtnFace);
    ImgMView->SetEnableAlphaChannel(true);
    ImgMView->SetBackgroundStyle(pxbsSolid);
    ImgMView->SetFillThumbnail(false);
    ImgMView->SetStyle(pxmsFlat);
    ImgMView->SetChessboardStyle(12, classlib::bsSolid);
    ImgMView->OnImageSelect = TPxImageSelectEvent(this, &TOpenImgDialog::GridImageSelect);
    ImgMView->SetOnProgress(TPxProgressEvent(this, &TOpenImgDialog::DialogProgress));
    ImgMView->OnAllDisplayed = classlib::TNotifyEvent(this, &TOpenImgDialog::GridAllDisplayed);

    ProgressBar = new TPxDialogProgressBar(this);
    ProgressBar->SetName(L"ProgressBar");
    ProgressBar->SetBounds(0, S(90), S(227), 19);
    ProgressBar->SetVisible(false);

    ApplyCaptions();
}

TOpenImgDialog::~TOpenImgDialog()
{
    if (template_)
        GlobalFree(template_);
}

void TOpenImgDialog::SetAlwaysAnimate(bool Value)
{
    alwaysAnimate_ = Value;
    if (Value)
        ShowAllFrames = true;
}

int TOpenImgDialog::GetFilterIndex() const { return GetDialogWindow() ? OpenFilterIndex : filterIndex_; }

void TOpenImgDialog::SetInitialDir(const std::wstring& Value)
{
    std::wstring v = Value;
    if (v.size() > 1 && (v.back() == L'\\' || v.back() == L'/') && v[v.size() - 2] != L':')
        v.pop_back();
    initialDir_ = v;
}

void TOpenImgDialog::SetPreviewBorderStyle(TPxDBorderStyle Value)
{
    previewBorderStyle_ = Value;
    static const TPxBackgroundStyle styles[] = {pxbsSolid, pxbsCropped, pxbsCropShadow, pxbsSoftShadow};
    ImgView->SetBackgroundStyle(styles[Value]);
    ImgView->SetBorderStyle(Value == pxpsDefault ? imaging::bsSingle : imaging::bsNone);
}

TResampleFilter TOpenImgDialog::GetZoomFilter() const { return ImgView->ZoomFilter; }

void TOpenImgDialog::SetZoomFilter(TResampleFilter Value) { ImgView->SetZoomFilter(Value); }

std::wstring TOpenImgDialog::DialogFilePath() const
{
    HWND dlg = GetDialogWindow();
    if (!dlg)
        return fileName_;
    wchar_t buffer[261] = {};
    const LRESULT n = SendMessageW(GetParent(dlg), CDM_GETFILEPATH, 261, reinterpret_cast<LPARAM>(buffer));
    return n > 0 ? std::wstring(buffer) : std::wstring();
}

std::wstring TOpenImgDialog::DialogFileSpec() const
{
    HWND dlg = GetDialogWindow();
    if (!dlg)
        return fileName_;
    wchar_t buffer[261] = {};
    const LRESULT n = SendMessageW(GetParent(dlg), CDM_GETSPEC, 261, reinterpret_cast<LPARAM>(buffer));
    return n > 0 ? std::wstring(buffer) : std::wstring();
}

std::wstring TOpenImgDialog::BuildFilter()
{
    PxSyncGIFFormatRow();
    std::wstring result;
    std::wstring all;
    const bool save = IsSaveDialog();
    const int count = PxFormatCount();
    for (int i = 0; i < count; ++i) {
        TPxFileFormatInfo* row = PxFormatInfoByIndex(i);
        if (!row || row->ExtensionList.empty())
            continue;
        if (save ? !row->Writer : !row->Reader)
            continue;
        const int n = PxFormatExtensionCount(row->TypeNumber);
        if (n <= 0)
            continue;
        std::wstring patterns = L"*." + Lower(PxFormatExtension(row->TypeNumber, 0));
        for (int k = 1; k < n; ++k)
            patterns += L";*." + Lower(PxFormatExtension(row->TypeNumber, k));
        if (row->IsBuiltIn) {
            all += L"*." + Lower(PxFormatExtension(row->TypeNumber, 0));
            if (i != count - 1)
                all += L";";
        }
        result += L"|" + row->DisplayName + L" (" + patterns + L")|" + patterns;
    }
    if (VideoFilters) {
        all += L";*.avi";
        result += L"|" + Msg(126, MsgLanguage) + L" (*.avi)|*.avi";
        if (!save) {
            all += L";*.mpg;*.wmv";
            result += L"|Mpeg (*.mpeg;*.mpg)|*.mpeg;*.mpg|Windows Media Video (*.wmv)|*.wmv";
        }
    }
    const std::wstring extra = Trim(ExtraFilter);
    if (!extra.empty()) {
        result += L"|" + extra;
        const std::vector<std::wstring> parts = SplitBar(extra);
        std::wstring pats;
        for (size_t k = 1; k < parts.size(); k += 2)
            pats += (pats.empty() ? L"" : L";") + parts[k];
        pats = Trim(pats);
        if (!pats.empty())
            all += L";" + pats;
    }
    const std::wstring allEntry = Msg(132, MsgLanguage) + L" (" + all + L")|" + all;
    if (save)
        return result.empty() ? result : result.substr(1);
    return allEntry + L"|" + Msg(133, MsgLanguage) + L" (*.*)|*.*" + result;
}

int TOpenImgDialog::FilterIndexOfFile(const std::wstring& Name) const
{
    std::wstring n = Lower(Name);
    if (!n.empty() && n[0] == L'.')
        n.erase(0, 1);
    const std::wstring ext = PxExtractFileExtWS(n, true);
    if (ext.empty())
        return 1;
    const size_t at = Filter.find(ext);
    if (at == std::wstring::npos)
        return 1;
    const auto bars = std::count(Filter.begin(), Filter.begin() + static_cast<std::ptrdiff_t>(at), L'|');
    return static_cast<int>(bars / 2 + 1);
}

std::wstring TOpenImgDialog::PatternsOfIndex(int Index) const
{
    const std::vector<std::wstring> parts = SplitBar(Filter);
    const size_t k = static_cast<size_t>(Index - 1) * 2 + 1;
    return Index >= 1 && k < parts.size() ? parts[k] : std::wstring();
}

void TOpenImgDialog::ApplyCaptions()
{
    PreviewButton->Hint = Msg(1, MsgLanguage);
    PreviewCheck->SetCaption(Msg(1, MsgLanguage));
    AdvancedButton->SetCaption(Msg(46, MsgLanguage) + L"...");
    PlayButton->Hint = Msg(88, MsgLanguage);
}

bool TOpenImgDialog::Execute()
{
    OnCreateCustomControls(this);
    TemplateName = L"IDD_IETEMPLATE";
    ApplyCaptions();
    PreviewCheck->SetVisible(true);
    if (AutoSetFilter)
        Filter = BuildFilter();
    bool r = false;
    try {
        r = DoExecute(&GetOpenFileNameW);
    } catch (...) {
        OnDestroyCustomControls(this);
        throw;
    }
    OnDestroyCustomControls(this);
    return r;
}

bool TOpenImgDialog::DoExecute(TDialogFunction DialogFunction)
{
    PlayButton->SetVisible(false);
    fileList_->Clear();
    wideFileList_->Clear();

    OPENFILENAMEW ofn{};
    // The record's own size on this platform (the fixed sizes of the old
    // 32-bit record are refused by the 64-bit system dialog).
    ofn.lStructSize = sizeof(OPENFILENAMEW);
    ofn.hInstance = GetModuleHandleW(nullptr);
    HWND owner = nullptr;
    if (classlib::Application && classlib::Application->GetMainForm() &&
        classlib::Application->GetMainForm()->HandleAllocated())
        owner = classlib::Application->GetMainForm()->GetHandle();
    if (!owner)
        owner = PxFindOwnerWindow(this);
    ofn.hwndOwner = owner;
    const std::wstring filter = PxFilterToNulList(Filter);
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    if (filterIndex_ == 0)
        filterIndex_ = FilterIndexOfFile(fileName_);
    ofn.nFilterIndex = static_cast<DWORD>(filterIndex_);
    OpenFilterIndex = filterIndex_;
    const bool multi = (Options & classlib::ofAllowMultiSelect) != 0;
    ofn.nMaxFile = multi ? 65519 : 260;
    fileBuffer_.assign(ofn.nMaxFile + 2, L'\0');
    std::copy_n(fileName_.begin(), std::min<size_t>(fileName_.size(), ofn.nMaxFile), fileBuffer_.begin());
    ofn.lpstrFile = fileBuffer_.data();
    ofn.lpstrInitialDir = initialDir_.empty() ? nullptr : initialDir_.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.Flags = OFN_ENABLEHOOK | classlib::OpenOptionsToFlags(Options);
    defExtBuffer_ = DefaultExt;
    if (defExtBuffer_.empty()) {
        // ".jpg" from "*.jpg;*.jpeg": the pattern without its first
        // character, cut before the first ";".
        const std::wstring p = PatternsOfIndex(static_cast<int>(ofn.nFilterIndex));
        if (!p.empty())
            defExtBuffer_ = p.substr(1, p.find(L';') == std::wstring::npos ? std::wstring::npos : p.find(L';') - 1);
    }
    // The system dialog wants the extension without its dot.
    if (!defExtBuffer_.empty() && defExtBuffer_[0] == L'.')
        defExtBuffer_.erase(0, 1);
    ofn.lpstrDefExt = defExtBuffer_.empty() ? nullptr : defExtBuffer_.c_str();
    const bool oldStyle = (Options & classlib::ofOldStyleDialog) != 0;
    ofn.lpfnHook = oldStyle ? &TPxCommonDialog::HookOldStyle : &TPxCommonDialog::HookExplorer;
    // The classic dialog takes a template as its whole window, not as a
    // child beside its controls: it runs without the preview area.
    if (!TemplateName.empty() && !oldStyle) {
        if (template_)
            GlobalFree(template_);
        template_ = TemplateName == L"IDD_IETEMPLATE" ? MakeTemplate(443, 181, 2, 4, 278, 145)
                                                      : MakeTemplate(288, 171, 10, 4, 270, 145);
        if (template_) {
            ofn.Flags |= OFN_ENABLETEMPLATEHANDLE;
            ofn.hInstance = static_cast<HINSTANCE>(template_);
        }
    }
    ofn.FlagsEx = ShowPlacesBar ? 0 : OFN_EX_NOPLACESBAR;
    openRecord_ = &ofn;
    bool r = false;
    try {
        r = RunModal(DialogFunction, ofn);
    } catch (...) {
        openRecord_ = nullptr;
        throw;
    }
    openRecord_ = nullptr;
    if (!r)
        return false;
    CollectFileNames(ofn);
    if (ofn.Flags & OFN_EXTENSIONDIFFERENT)
        Options |= classlib::ofExtensionDifferent;
    else
        Options &= ~classlib::ofExtensionDifferent;
    if (ofn.Flags & OFN_READONLY)
        Options |= classlib::ofReadOnly;
    else
        Options &= ~classlib::ofReadOnly;
    filterIndex_ = static_cast<int>(ofn.nFilterIndex);
    return true;
}

void TOpenImgDialog::CollectFileNames(const OPENFILENAMEW& Ofn)
{
    fileList_->Clear();
    wideFileList_->Clear();
    if (!(Options & classlib::ofAllowMultiSelect)) {
        fileName_ = std::wstring(Ofn.lpstrFile);
        fileList_->Add(fileName_);
        wideFileList_->Add(fileName_);
        return;
    }
    // The classic dialog gives a multiple choice as the folder and the names
    // separated by spaces (short names, which hold none); everything else is
    // read as the explorer style writes it, a single choice up to its zero.
    const bool spaces = (Options & classlib::ofOldStyleDialog) != 0 && (Ofn.Flags & OFN_ALLOWMULTISELECT) != 0;
    const wchar_t* p = Ofn.lpstrFile;
    const std::wstring all = p ? std::wstring(p, std::find(p, p + Ofn.nMaxFile, L'\0')) : std::wstring();
    if (!spaces || all.find(L' ') == std::wstring::npos) {
        classlib::ReadDialogFiles(Ofn, fileList_.get());
    } else {
        std::vector<std::wstring> parts;
        for (size_t i = 0; i < all.size();) {
            const size_t j = std::min(all.find(L' ', i), all.size());
            if (j > i) parts.push_back(all.substr(i, j - i));
            i = j + 1;
        }
        std::wstring folder = parts[0];
        if (folder.empty() || folder.back() != L'\\') folder += L'\\';
        for (size_t i = 1; i < parts.size(); ++i) {
            const std::wstring& n = parts[i];
            const bool full = (!n.empty() && n[0] == L'\\') || (n.size() > 3 && n[1] == L':' && n[2] == L'\\');
            fileList_->Add(full ? n : folder + n);
        }
        if (parts.size() == 1) fileList_->Add(parts[0]);
    }
    wideFileList_->Assign(fileList_.get());
    if (fileList_->GetCount() > 0)
        fileName_ = fileList_->GetStrings(0);
}

bool TOpenImgDialog::ConfirmClose()
{
    bool can = true;
    OnCanClose(this, can);
    return can;
}

bool TOpenImgDialog::CanCloseCheck()
{
    if (openRecord_)
        CollectFileNames(*openRecord_);
    const bool r = ConfirmClose();
    fileList_->Clear();
    wideFileList_->Clear();
    return r;
}

void TOpenImgDialog::FolderChanged() { OnFolderChange(this); }

void TOpenImgDialog::TypeChanged() { OnTypeChange(this); }

void TOpenImgDialog::DialogWindowProc(classlib::TMessage& Message)
{
    Message.Result = 0;
    if (Message.Msg == WM_INITDIALOG && !(Options & classlib::ofOldStyleDialog)) {
        // Explorer style: the show comes with CDN_INITDONE.
        return;
    }
    if (Message.Msg == WM_NOTIFY) {
        const auto* hdr = reinterpret_cast<const NMHDR*>(Message.LParam);
        switch (hdr->code) {
        case CDN_TYPECHANGE: {
            const auto* n = reinterpret_cast<const OFNOTIFYW*>(Message.LParam);
            const int index = n->lpOFN ? static_cast<int>(n->lpOFN->nFilterIndex) : OpenFilterIndex;
            CurrentPattern = PatternsOfIndex(index);
            defExtBuffer_ = CurrentPattern.empty() ? std::wstring() : PxPatternToExtension(CurrentPattern);
            if (!defExtBuffer_.empty() && defExtBuffer_[0] == L'.')
                defExtBuffer_.erase(0, 1);
            if (n->lpOFN)
                n->lpOFN->lpstrDefExt = defExtBuffer_.empty() ? nullptr : defExtBuffer_.c_str();
            if (index != OpenFilterIndex) {
                OpenFilterIndex = index;
                TypeChanged();
            }
            break;
        }
        case CDN_FILEOK:
            if (!CanCloseCheck()) {
                SetWindowLongPtrW(GetDialogWindow(), DWLP_MSGRESULT, 1);
                Message.Result = 1;
                return;
            }
            break;
        case CDN_FOLDERCHANGE:
            FolderChanged();
            break;
        case CDN_SELCHANGE:
            SelectionChanged();
            break;
        case CDN_INITDONE:
            CurrentPattern = PatternsOfIndex(OpenFilterIndex);
            if (PollTimer)
                PollTimer->SetEnabled(true);
            NotifyShow();
            break;
        default:
            break;
        }
        CallPrevious(Message);
        return;
    }
    if (Message.Msg == WM_SIZE) {
        CallPrevious(Message);
        LayoutPanels();
        return;
    }
    TPxCommonDialog::DialogWindowProc(Message);
}

void TOpenImgDialog::GetStandardArea(RECT& Rect)
{
    Rect = RECT{0, 0, 0, 0};
    HWND dlg = GetDialogWindow();
    if (!dlg)
        return;
    HWND area = GetDlgItem(dlg, kStandardArea);
    if (!area) {
        GetClientRect(dlg, &Rect);
        return;
    }
    GetWindowRect(area, &Rect);
    MapWindowPoints(HWND_DESKTOP, dlg, reinterpret_cast<POINT*>(&Rect), 2);
}

void TOpenImgDialog::NotifyShow()
{
    HWND dlg = GetDialogWindow();
    RECT r{};
    if (dlg)
        GetClientRect(dlg, &r);
    RECT s{};
    GetStandardArea(s);
    if (ShowPreview) {
        PicturePanel->SetParentWindow(dlg);
        PicturePanel->SetBounds(s.right, s.top, r.right - s.right, s.bottom - s.top);
        if (!ZoomCombo) {
            ZoomCombo = new classlib::TComboBox(this);
            ZoomCombo->SetName(L"ZoomCombo");
            ZoomCombo->SetParent(PicturePanel);
            ZoomCombo->SetBounds(6, 8, 70, 21);
            ZoomCombo->SetStyle(classlib::csDropDownList);
            ZoomCombo->Hint = L"Zoom";
            ZoomCombo->SetShowHint(true);
            ZoomCombo->OnChange = classlib::TNotifyEvent(this, &TOpenImgDialog::ZoomComboChange);
            ZoomCombo->GetItems()->Add(Msg(148, MsgLanguage));
            for (const wchar_t* z : {L"25%", L"50%", L"75%", L"100%", L"125%", L"150%", L"175%", L"200%", L"300%",
                                     L"400%"})
                ZoomCombo->GetItems()->Add(z);
            ZoomCombo->SetItemIndex(0);
        }
        PicturePanel->HandleNeeded();
        ImgView->SetBackground(classlib::clWhite);
        ImgView->SetCenter(true);
        PlayButton->SetDown(false);
        ImgMView->SetPlaying(false);
        PlayButton->SetEnabled(false);
    } else {
        PicturePanel->SetParentWindow(dlg);
        PicturePanel->SetBounds(s.right, s.top, 1, s.bottom - s.top);
    }
    if (ExtendedDialog) {
        InfoPanel->SetParentWindow(dlg);
        InfoPanel->SetBounds(s.left, s.bottom, r.right, r.bottom - s.bottom);
        InfoPanel->HandleNeeded();
    } else {
        PicLabel1->SetVisible(false);
        PicLabel2->SetVisible(false);
        PicLabel3->SetVisible(false);
        if (ZoomCombo)
            ZoomCombo->SetVisible(false);
    }
    LayoutPanels();
    TPxCommonDialog::NotifyShow();
}

void TOpenImgDialog::LayoutPanels()
{
    HWND dlg = GetDialogWindow();
    if (!dlg)
        return;
    RECT r;
    GetClientRect(dlg, &r);
    if (InfoPanel->HandleAllocated())
        InfoPanel->SetBounds(r.left, InfoPanel->GetTop(), r.right - r.left, InfoPanel->GetHeight());
    AdvancedButton->SetBounds(PicturePanel->GetLeft() - AdvancedButton->GetWidth() - S(6), AdvancedButton->GetTop(),
                              AdvancedButton->GetWidth(), AdvancedButton->GetHeight());
    if (PicturePanel->HandleAllocated())
        PicturePanel->SetBounds(PicturePanel->GetLeft(), PicturePanel->GetTop(), PicturePanel->GetWidth(),
                                r.bottom - PicturePanel->GetTop());
}

void TOpenImgDialog::ClearPreview()
{
    ImgView->SetBackground(classlib::clBtnFace);
    ImgView->FillWithBackground();
    ImgView->ClearImage();
    ImgView->SetBackground(classlib::clBtnFace);
    ImgView->Invalidate();
}

void TOpenImgDialog::SelectionChanged()
{
    if (inSelectionChange_)
        return;
    if (!ShowPreview) {
        OnSelectionChange(this);
        return;
    }
    inSelectionChange_ = true;
    struct TGuard {
        bool& Flag;
        ~TGuard() { Flag = false; }
    } guard{inSelectionChange_};

    const std::wstring name = SelectedPreviewName();
    bool previewable = PxFileExistsWS(name) && Lower(PxExtractFileExtWS(name, true)) != L".lnk";
    if (previewable) {
        try {
            PreviewFileSize = static_cast<int>(PxGetFileSize(name));
            if (!PreviewCheck->GetChecked())
                PreviewParamsOnly(name);
            else
                PreviewPictures(name);
        } catch (...) {
            ProgressBar->SetVisible(false);
            previewable = false;
        }
    }
    if (!previewable)
        ClearPreviewInfo();
    OnSelectionChange(this);
}

std::wstring TOpenImgDialog::SelectedPreviewName()
{
    // With several files selected the edit holds quoted names; the first
    // one is previewed.
    std::wstring name;
    if ((Options & classlib::ofAllowMultiSelect) && GetDialogWindow()) {
        std::vector<wchar_t> buf(65535, L'\0');
        GetDlgItemTextW(GetParent(GetDialogWindow()), kFileNameEdit, buf.data(), 65535);
        std::wstring text(buf.data());
        if (!text.empty() && text[0] == L'"') {
            std::wstring first;
            bool quoted = false;
            for (wchar_t c : text) {
                if (c == L'"') {
                    quoted = !quoted;
                    continue;
                }
                if (c == L' ' && !quoted)
                    break;
                first += c;
            }
            name = first.empty() ? first : PxExtractFilePathWS(GetFileName()) + first;
        }
    }
    if (name.empty())
        name = GetFileName();
    return name;
}

void TOpenImgDialog::PreviewParamsOnly(const std::wstring& Name)
{
    ClearPreview();
    TImgIO* io = ImgView->GetIO();
    if (OnPreviewFile)
        OnPreviewFile(this, ImgView, Name, true);
    else
        io->ReadParamsFromFile(Name);
    totalFrames_ = 1;
    ShowInfo(io->FileParams->FileFormat != 0 ? io->FileParams : nullptr);
}

void TOpenImgDialog::PreviewPictures(const std::wstring& Name)
{
    HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    struct TCursorBack {
        HCURSOR C;
        ~TCursorBack() { SetCursor(C); }
    } back{old};
    ClearPreview();
    ImgMView->Clear();
    ImgMView->Invalidate();
    PlayButton->SetDown(false);
    const std::wstring ext = Lower(PxExtractFileExtWS(Name, true));
    const int type = PxDetectFileFormat(Name, false);
    if (HasSeveralFrames(Name, ext, type) && ShowAllFrames)
        PreviewAllFrames(Name, ext, type);
    else
        PreviewSingleImage(Name);
    ProgressBar->SetVisible(false);
    ApplyZoomChoice();
}

bool TOpenImgDialog::HasSeveralFrames(const std::wstring& Name, const std::wstring& Ext, int Type)
{
    const std::wstring bare = Ext.empty() ? Ext : Ext.substr(1);
    const bool video = bare == L"mpg" || bare == L"mpeg" || bare == L"wmv" || bare == L"avi";
    bool multi = Type == ffAVI || Type == ffDCX || video;
    if (!multi && Type == ffGIF) {
        TPxFileFormatInfo* row = PxFormatInfoById(ffGIF);
        multi = row && row->Reader && PxCountGIFFramesInFile(Name) > 1;
    }
    if (!multi && Type == ffTIFF)
        multi = PxCountTIFFPagesInFile(Name) > 1;
    if (!multi && (Type == ffDICOM || Type == ffHDP))
        multi = PxCountFileFrames(Name) > 1;
    return multi;
}

void TOpenImgDialog::PreviewAllFrames(const std::wstring& Name, const std::wstring& Ext, int Type)
{
    ImgMView->SetThumbWidth(S(175));
    ImgMView->SetThumbHeight(S(189));
    ImgMView->SetHorizBorder(4);
    ImgMView->SetVertBorder(4);
    PlayButton->SetEnabled(true);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(false);
    ImgMView->SetVisible(true);
    ImgView->SetVisible(false);
    ProgressBar->SetParent(ImgMView);
    ProgressBar->SetPosition(0);
    ProgressBar->SetVisible(true);
    ProgressBar->Repaint();
    ImgMView->GetMIO()->AutoAdjustDPI = AutoAdjustDPI;
    ImgMView->GetMIO()->FilteredAdjustDPI = FilteredAdjustDPI;
    if (OnPreviewFile)
        OnPreviewFile(this, ImgMView, Name, false);
    else if (Type == ffGIF)
        ImgMView->GetMIO()->LoadFromFile(Name);
    else
        ImgMView->AddFileFramesOnDemand(Name);
    totalFrames_ = ImgMView->GetMIO()->GetParamsCount();
    selectedIndex_ = 0;
    ImgMView->MoveSelection(4);
    PreviewButton->SetEnabled(true);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(false);
    if (totalFrames_ > 0)
        ShowInfo(ImgMView->GetMIO()->GetParams(0));
    TPxFileFormatInfo* gifRow = PxFormatInfoById(ffGIF);
    if (alwaysAnimate_ && (Ext == L".avi" || (Ext == L".gif" && gifRow && gifRow->Reader))) {
        PlayButton->SetDown(true);
        PlayClick(PlayButton);
    }
}

void TOpenImgDialog::PreviewSingleImage(const std::wstring& Name)
{
    PlayButton->SetEnabled(false);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(true);
    ImgView->SetVisible(true);
    ImgMView->SetVisible(false);
    ProgressBar->SetParent(ImgView);
    ProgressBar->SetPosition(0);
    ProgressBar->SetVisible(true);
    ProgressBar->Repaint();
    TImgIO* io = ImgView->GetIO();
    TIOParamsVals* p = io->FileParams;
    // A preview-sized load: the reader may take an embedded thumbnail or a
    // reduced decode.
    p->Width = ImgView->GetWidth();
    p->Height = ImgView->GetHeight();
    p->JPEGScale = 0;
    p->RAWHalfSize = true;
    p->SetRAWUseEmbeddedPreview(true);
    p->SetUseEmbeddedThumbnail(true);
    io->AutoAdjustDPI = AutoAdjustDPI;
    io->FilteredAdjustDPI = FilteredAdjustDPI;
    ImgView->RemoveAllObjects();
    ImgView->ClearLayers();
    if (OnPreviewFile)
        OnPreviewFile(this, ImgView, Name, false);
    else
        io->LoadFromFileAuto(Name);
    InfoLabel1->SetVisible(!OnPreviewFile);
    PicLabel2->SetVisible(!OnPreviewFile);
    PicLabel3->SetVisible(!OnPreviewFile);
    totalFrames_ = FrameCountOf(p, Name);
    ShowInfo(p);
    PreviewButton->SetEnabled(true);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(true);
}

int TOpenImgDialog::FrameCountOf(TIOParamsVals* Params, const std::wstring& Name)
{
    switch (Params->FileFormat) {
    case ffAVI:
        return Params->AVIFrameCount;
    case ffGIF:
        return PxCountGIFFramesInFile(Name);
    case ffTIFF:
        return PxCountTIFFPagesInFile(Name);
    case ffICO:
        return PxCountICOImagesInFile(Name);
    case ffDCX:
        return PxCountDCXPagesInFile(Name);
    case ffDICOM:
    case ffHDP:
        return PxCountFileFrames(Name);
    default:
        return 1;
    }
}

void TOpenImgDialog::ClearPreviewInfo()
{
    InfoLabel1->SetCaption(L"");
    InfoLabel2->SetCaption(L"");
    PreviewButton->SetEnabled(false);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(false);
    ImgView->ClearImage();
    ImgView->SetBackground(classlib::clBtnFace);
    PicLabel1->SetCaption(L"");
    PicLabel2->SetCaption(L"");
    PicLabel3->SetCaption(L"");
    ImgMView->Clear();
    PlayButton->SetEnabled(false);
}

void TOpenImgDialog::ShowInfo(TIOParamsVals* Params)
{
    if (!Params) {
        PicLabel1->SetCaption(L"");
        PicLabel3->SetCaption(L"");
        PicLabel2->SetCaption(L"");
        InfoLabel2->SetCaption(L"");
        InfoLabel1->SetCaption(L"");
        return;
    }
    const int w = OnPreviewFile ? Params->Width : Params->OriginalWidth;
    const int h = OnPreviewFile ? Params->Height : Params->OriginalHeight;
    std::wstring size;
    if (w > 0 && h > 0)
        size = std::to_wstring(w) + L" x " + std::to_wstring(h) + L" " + Msg(142, MsgLanguage);
    if (totalFrames_ > 1)
        size += L", " + std::to_wstring(totalFrames_) + L" " + Msg(143, MsgLanguage);
    PicLabel1->SetCaption(Trim(size));
    PicLabel3->SetCaption(std::to_wstring(Params->DpiX) + L" x " + std::to_wstring(Params->DpiY) + L" " +
                          Msg(146, MsgLanguage));
    const int bits = Params->SamplesPerPixel * Params->BitsPerSample;
    std::wstring count;
    if (Params->SamplesPerPixel == 4 && Params->BitsPerSample == 8)
        count = L"16777216";
    else if (Params->SamplesPerPixel == 3 && Params->BitsPerSample == 16)
        count = L"2^48";
    else if (bits >= 1 && bits <= 62)
        count = std::to_wstring(uint64_t{1} << bits);
    else
        count = L"2^" + std::to_wstring(bits);
    PicLabel2->SetCaption(count + L" " + Msg(59, MsgLanguage) + L" (" + std::to_wstring(bits) + L" " +
                          Msg(144, MsgLanguage) + L")");
    InfoLabel2->SetCaption(Msg(127, MsgLanguage) + L": " +
                           (PreviewFileSize >= 1024
                                ? std::to_wstring(PreviewFileSize / 1024) + L" " + Msg(147, MsgLanguage)
                                : std::to_wstring(PreviewFileSize) + L" " + Msg(145, MsgLanguage)));
    InfoLabel1->SetCaption(PxParamsFormatDescription(*Params));
}

void TOpenImgDialog::ApplyZoomChoice()
{
    if (!ZoomCombo || !ImgView || ZoomCombo->GetItemIndex() < 0)
        return;
    static const int zooms[] = {0, 25, 50, 75, 100, 125, 150, 175, 200, 300, 400};
    const int i = ZoomCombo->GetItemIndex();
    if (i > 0 && i < 11) {
        ImgView->AutoFit = false;
        ImgView->SetZoom(zooms[i]);
    } else {
        ImgView->AutoFit = true;
        ImgView->Update();
    }
}

void TOpenImgDialog::ZoomComboChange(classlib::TObject*) { ApplyZoomChoice(); }

void TOpenImgDialog::PreviewCheckClick(classlib::TObject*)
{
    if (PreviewCheck->GetChecked()) {
        SelectionChanged();
        return;
    }
    ShowInfo(nullptr);
    ImgView->ClearImage();
    ImgView->SetBackground(classlib::clBtnFace);
    ImgView->SetZoom(100);
    ImgMView->Clear();
    PreviewButton->SetEnabled(false);
    if (ZoomCombo)
        ZoomCombo->SetEnabled(false);
}

void TOpenImgDialog::PlayClick(classlib::TObject*)
{
    const bool down = PlayButton->GetDown();
    ImgMView->SetPlaying(down);
    PreviewButton->SetEnabled(!down);
    if (down) {
        ImgMView->SetThumbWidth(ImgMView->GetWidth() - 2 * GetSystemMetrics(SM_CXEDGE));
        ImgMView->SetThumbHeight(ImgMView->GetHeight() - 2 * GetSystemMetrics(SM_CYEDGE));
        ImgMView->SetHorizBorder(0);
        ImgMView->SetVertBorder(0);
    }
}

void TOpenImgDialog::ShowPreviewWindow(classlib::TObject*)
{
    classlib::TForm form(this);
    form.SetName(L"PreviewForm");
    form.SetCaption(DialogFilePath());
    form.SetBorderStyle(classlib::bsSizeToolWin);
    form.KeyPreview = true;
    form.SetPosition(classlib::poScreenCenter);
    form.OnKeyPress = classlib::TKeyPressEvent::FromFunction(
        [](void* F, classlib::TObject*, wchar_t& Key) {
            if (Key == 27)
                static_cast<classlib::TForm*>(F)->Close();
        },
        &form);
    auto* view = new TImgVect(&form);
    view->SetName(L"ImgView");
    view->SetParent(&form);
    view->SetAlign(classlib::alClient);
    view->SetMouseInteract(TImgView::miZoom | TImgView::miScroll);
    TPxBitmap* source = nullptr;
    if (ImgView->GetVisible())
        source = ImgView->GetPxBitmap();
    else if (ImgMView->GetVisible())
        source = ImgMView->GetPxBitmap();
    if (source)
        view->GetPxBitmap()->Assign(source);
    // A vector file's objects come along with its picture.
    if (source && ImgView->GetVisible())
        ImgView->CopyObjectsTo(view);
    view->SetBackground(classlib::clBtnFace);
    view->SetBackgroundStyle(pxbsSolid);
    view->SetEnableAlphaChannel(true);
    view->SetCenter(true);
    view->SetScrollBars(classlib::ssBoth);
    view->Update();
    const int iw = source ? source->GetWidth() : 0;
    const int ih = source ? source->GetHeight() : 0;
    const int sw = GetSystemMetrics(SM_CXSCREEN);
    const int sh = GetSystemMetrics(SM_CYSCREEN);
    const int cw = iw <= 100 ? 100 : (iw < sw ? iw : sw);
    const int ch = ih <= 100 ? 100 : (ih < sh ? ih : sh);
    form.SetClientWidth(cw);
    form.SetClientHeight(ch);
    form.ShowModal();
}

void TOpenImgDialog::GridImageSelect(classlib::TObject*, int Index)
{
    selectedIndex_ = Index;
    if (Index < ImgMView->GetMIO()->GetParamsCount())
        ShowInfo(ImgMView->GetMIO()->GetParams(Index));
}

void TOpenImgDialog::GridAllDisplayed(classlib::TObject*)
{
    const int s = ImgMView->GetSelectedImage();
    if (s >= 0 && s < ImgMView->GetMIO()->GetParamsCount())
        ShowInfo(ImgMView->GetMIO()->GetParams(s));
}

void TOpenImgDialog::DialogProgress(classlib::TObject*, int Percent) { ProgressBar->SetPosition(Percent); }

void TOpenImgDialog::PlacePreviewOutside()
{
    // The dialog window is going: the panels leave it before the system
    // destroys its children, so their windows are ours to free.
    PicturePanel->SetParentWindow(nullptr);
    InfoPanel->SetParentWindow(nullptr);
}

void TOpenImgDialog::NotifyClose()
{
    OnClose(this);
    ImgMView->SetPlaying(false);
    ImgMView->Clear();
    ImgView->ClearImage();
    PlacePreviewOutside();
}

// ---- TSaveImgDialog

TSaveImgDialog::TSaveImgDialog(classlib::TComponent* Owner) : TOpenImgDialog(Owner)
{
    ShowPreview = true;
    Filter = L"JPEG Bitmap (JPG)|*.jpg";
    if (TPxFileFormatInfo* gif = PxFormatInfoById(ffGIF); gif && gif->Writer)
        Filter += L"|CompuServe Bitmap (GIF)|*.gif";
    Filter += L"|TIFF Bitmap (TIF)|*.tif|PaintBrush (PCX)|*.pcx|Portable Network Graphics (PNG)|*.png"
              L"|Windows Bitmap (BMP)|*.bmp|OS/2 Bitmap (BMP)|*.bmp|Targa Bitmap (TGA)|*.tga"
              L"|Portable PixMap (PXM)|*.pxm|Portable PixMap (PPM)|*.ppm|Portable GreyMap (PGM)|*.pgm"
              L"|Portable Bitmap (PBM)|*.pbm|JPEG2000 (JP2)|*.jp2|JPEG2000 Code Stream (J2K)|*.j2k"
              L"|Multipage PCX (DCX)|*.dcx";
    savedParams_ = std::make_unique<TIOParamsVals>(nullptr);
    PollTimer = new classlib::TTimer(this);
    PollTimer->SetEnabled(false);
    PollTimer->SetInterval(100);
    PollTimer->SetOnTimer(classlib::TNotifyEvent(this, &TSaveImgDialog::UpdateAdvanced));
}

TSaveImgDialog::~TSaveImgDialog()
{
    if (attached_)
        attached_->RemoveFreeNotification(this);
}

void TSaveImgDialog::SetAttachedImgIO(classlib::TComponent* Value)
{
    if (!Value)
        return;
    if (!dynamic_cast<TImgIO*>(Value) && !dynamic_cast<TImgMIO*>(Value) && !dynamic_cast<TImgMView*>(Value) &&
        !dynamic_cast<TImgView*>(Value))
        return;
    if (attached_)
        attached_->RemoveFreeNotification(this);
    attached_ = Value;
    attached_->FreeNotification(this);
    if (auto* io = dynamic_cast<TImgIO*>(Value))
        MsgLanguage = io->MsgLanguage;
    else if (auto* mio = dynamic_cast<TImgMIO*>(Value))
        MsgLanguage = mio->MsgLanguage;
}

void TSaveImgDialog::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    TOpenImgDialog::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove && AComponent == attached_)
        attached_ = nullptr;
}

TIOParamsVals* TSaveImgDialog::AttachedParams() const
{
    if (auto* io = dynamic_cast<TImgIO*>(attached_))
        return io->FileParams;
    if (auto* mio = dynamic_cast<TImgMIO*>(attached_))
        return mio->GetParamsCount() > 0 ? mio->GetParams(0) : nullptr;
    if (auto* grid = dynamic_cast<TImgMView*>(attached_))
        return grid->GetMIO()->GetParamsCount() > 0 ? grid->GetMIO()->GetParams(0) : nullptr;
    if (auto* view = dynamic_cast<TImgView*>(attached_))
        return view->GetIO()->FileParams;
    return nullptr;
}

bool TSaveImgDialog::Execute()
{
    if (!attached_)
        throw classlib::EInOutError(L"Cannot execute TSaveImgDialog with AttachedImgIO empty.");
    OnCreateCustomControls(this);
    bool r = false;
    try {
        ShowPreview = (ExOptions & sdShowPreview) != 0;
        TemplateName = ShowPreview ? L"IDD_IETEMPLATE" : L"IDD_IETEMPLATE1";
        if (AutoSetFilter)
            Filter = BuildFilter();
        AdvancedButton->OnClick = classlib::TNotifyEvent(this, &TSaveImgDialog::AdvancedClick);
        AdvancedButton->SetVisible((ExOptions & sdShowAdvanced) != 0);
        ApplyCaptions();
        PreviewCheck->SetVisible((ExOptions & sdShowPreview) != 0);
        TIOParamsVals* params = AttachedParams();
        if (!params) {
            OnDestroyCustomControls(this);
            return false;
        }
        savedParams_->Assign(params);
        UpdateAdvanced();
        const std::wstring before = GetFileName();
        r = DoExecute(&GetSaveFileNameW);
        if (!r) {
            // Undo what the Advanced button changed; the name stays as it was.
            if (TIOParamsVals* p = AttachedParams())
                p->Assign(savedParams_.get());
            SetFileName(before);
        } else if (PxExtractFileExtWS(GetFileName(), true).empty()) {
            SetFileName(GetFileName() + PxPatternToExtension(CurrentPattern));
        }
    } catch (...) {
        PollTimer->SetEnabled(false);
        OnDestroyCustomControls(this);
        throw;
    }
    PollTimer->SetEnabled(false);
    OnDestroyCustomControls(this);
    return r;
}

void TSaveImgDialog::NotifyClose()
{
    // The poll follows the dialog's file name only while there is one.
    PollTimer->SetEnabled(false);
    TOpenImgDialog::NotifyClose();
}

void TSaveImgDialog::FormatOfExtension(const std::wstring& Ext, uint16_t& Pages, int& Type)
{
    Pages = 0;
    Type = 0;
    if (Ext.empty())
        return;
    if (TPxFileFormatInfo* row = PxFormatInfoByExtension(Ext)) {
        Pages = row->PreviewPage;
        Type = row->TypeNumber;
    }
}

void TSaveImgDialog::DetectSaveFormat(uint16_t& Pages, int& Type) const
{
    const std::wstring ext = PxExtractFileExtWS(DialogFilePath(), true);
    FormatOfExtension(ext.empty() ? DefaultExt : ext, Pages, Type);
    if (Pages == 0 && Type == 0 && !CurrentPattern.empty()) {
        const size_t dot = CurrentPattern.rfind(L'.');
        if (dot != std::wstring::npos)
            FormatOfExtension(CurrentPattern.substr(dot + 1), Pages, Type);
    }
}

void TSaveImgDialog::UpdateAdvanced(classlib::TObject*)
{
    uint16_t pages = 0;
    int type = 0;
    DetectSaveFormat(pages, type);
    if (auto* io = dynamic_cast<TImgIO*>(attached_))
        io->FileParams->FileFormat = type;
    AdvancedButton->SetEnabled(pages != 0);
}

void TSaveImgDialog::AdvancedClick(classlib::TObject*)
{
    uint16_t pages = 0;
    int type = 0;
    DetectSaveFormat(pages, type);
    if (pages == 0)
        return;
    if (auto* io = dynamic_cast<TImgIO*>(attached_)) {
        io->FileParams->FileFormat = type;
        io->DoPreviews(pages);
    } else if (auto* mio = dynamic_cast<TImgMIO*>(attached_)) {
        mio->DoPreviews(-1, pages);
    } else if (auto* grid = dynamic_cast<TImgMView*>(attached_)) {
        grid->GetMIO()->DoPreviews(-1, pages);
    } else if (auto* view = dynamic_cast<TImgView*>(attached_)) {
        view->GetIO()->FileParams->FileFormat = type;
        view->GetIO()->DoPreviews(pages);
    }
}

void TSaveImgDialog::TypeChanged()
{
    ReplaceExtension();
    UpdateAdvanced();
    TOpenImgDialog::TypeChanged();
}

void TSaveImgDialog::ReplaceExtension()
{
    HWND dlg = GetDialogWindow();
    if (!dlg)
        return;
    std::wstring name = PxExtractFileNameWS(DialogFileSpec());
    const size_t dot = name.find(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    name += PxPatternToExtension(CurrentPattern);
    // Dialogs without the classic file-name box (control 1152) have the
    // name in their combo box (control 1148).
    HWND frame = GetParent(dlg);
    const int box = GetDlgItem(frame, kFileNameBox) ? kFileNameBox : kFileNameEdit;
    SendMessageW(frame, CDM_SETCONTROLTEXT, static_cast<WPARAM>(box), reinterpret_cast<LPARAM>(name.c_str()));
}

}  // namespace imaging
