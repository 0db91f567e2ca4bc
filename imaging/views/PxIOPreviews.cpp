#include "imaging/views/PxIOPreviews.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "classlib/Dialogs.h"
#include "classlib/Streams.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/ImgIO.h"
#include "imaging/io/ImgIOPreviews.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxLists.h"
#include "imaging/model/PxPaletteDialog.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/ImgProc.h"

namespace imaging {

namespace {

int ReadInt(classlib::TSystemControl* Edit, int Default)
{
    const std::wstring s = Edit->GetText();
    if (s.empty())
        return Default;
    try {
        size_t used = 0;
        const long v = std::stol(s, &used);
        return used == s.size() ? static_cast<int>(v) : Default;
    } catch (...) {
        return Default;
    }
}

// The shown resolution: the EXIF one rounded (halves to even) when above 0,
// else the parameters' own.
int ShownDpi(double Exif, int Dpi) { return Exif > 0 ? static_cast<int>(std::nearbyint(Exif)) : Dpi; }

std::wstring Colon(const std::wstring& s) { return s + L":"; }

}  // namespace

// ---- TPxScrollBar

TPxScrollBar::TPxScrollBar(classlib::TComponent* Owner) : classlib::TSystemControl(Owner) {}

void TPxScrollBar::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TSystemControl::CreateParams(Params);
    Params.Style |= SBS_HORZ | WS_TABSTOP;
}

void TPxScrollBar::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    SetScrollRange(GetHandle(), SB_CTL, min_, max_, FALSE);
    SetScrollPos(GetHandle(), SB_CTL, position_, TRUE);
}

void TPxScrollBar::SetRange(int Min, int Max)
{
    min_ = Min;
    max_ = Max;
    if (HandleAllocated())
        SetScrollRange(GetHandle(), SB_CTL, min_, max_, TRUE);
    SetPosition(position_);
}

void TPxScrollBar::SetPosition(int Value)
{
    const int v = std::clamp(Value, min_, max_);
    if (HandleAllocated())
        SetScrollPos(GetHandle(), SB_CTL, v, TRUE);
    if (v == position_)
        return;
    position_ = v;
    OnChange(this);
}

void TPxScrollBar::ScrollMessage(int Code, int Pos)
{
    TPxScrollCode code = scEndScroll;
    int p = position_;
    switch (Code) {
    case SB_LINELEFT: code = scLineUp; p -= 1; break;
    case SB_LINERIGHT: code = scLineDown; p += 1; break;
    case SB_PAGELEFT: code = scPageUp; p -= 10; break;
    case SB_PAGERIGHT: code = scPageDown; p += 10; break;
    case SB_THUMBPOSITION: code = scPosition; p = Pos; break;
    case SB_THUMBTRACK: code = scTrack; p = Pos; break;
    case SB_LEFT: code = scTop; p = min_; break;
    case SB_RIGHT: code = scBottom; p = max_; break;
    default: code = scEndScroll; break;
    }
    OnScroll(this, code, p);
    if (code != scEndScroll)
        SetPosition(p);
}

void TPxPreviewsPage::WndProc(classlib::TMessage& Message)
{
    if (Message.Msg == WM_HSCROLL && Message.LParam) {
        const HWND bar = reinterpret_cast<HWND>(Message.LParam);
        for (int i = 0; i < GetControlCount(); ++i)
            if (auto* sb = dynamic_cast<TPxScrollBar*>(GetControl(i)); sb && sb->HandleAllocated() &&
                                                                       sb->GetHandle() == bar) {
                sb->ScrollMessage(LOWORD(Message.WParam), static_cast<short>(HIWORD(Message.WParam)));
                Message.Result = 0;
                return;
            }
    }
    classlib::TPanel::WndProc(Message);
}

// ---- TPxPreviewsTabs

TPxPreviewsTabs::TPxPreviewsTabs(classlib::TComponent* Owner) : classlib::TSystemControl(Owner)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
}

void TPxPreviewsTabs::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TSystemControl::CreateParams(Params);
    Params.Style |= WS_CLIPSIBLINGS;
}

void TPxPreviewsTabs::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    SetTabs(std::vector<std::wstring>(tabs_));
}

void TPxPreviewsTabs::SetTabs(const std::vector<std::wstring>& Captions)
{
    tabs_ = Captions;
    index_ = tabs_.empty() ? -1 : std::clamp(index_, 0, static_cast<int>(tabs_.size()) - 1);
    if (!HandleAllocated())
        return;
    TabCtrl_DeleteAllItems(GetHandle());
    for (size_t i = 0; i < tabs_.size(); ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(tabs_[i].c_str());
        SendMessageW(GetHandle(), TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    if (index_ >= 0)
        TabCtrl_SetCurSel(GetHandle(), index_);
}

int TPxPreviewsTabs::GetTabIndex() const
{
    return HandleAllocated() ? static_cast<int>(TabCtrl_GetCurSel(const_cast<TPxPreviewsTabs*>(this)->GetHandle())) : index_;
}

void TPxPreviewsTabs::SetTabIndex(int Value)
{
    index_ = Value;
    if (HandleAllocated())
        TabCtrl_SetCurSel(GetHandle(), Value);
}

void TPxPreviewsTabs::CNNotify(classlib::TMessage& Message)
{
    const auto* hdr = reinterpret_cast<const NMHDR*>(Message.LParam);
    Message.Result = 0;
    if (hdr->code == static_cast<UINT>(TCN_SELCHANGING))
        OnChanging(this);
    else if (hdr->code == static_cast<UINT>(TCN_SELCHANGE)) {
        index_ = GetTabIndex();
        OnChange(this);
    }
}

// ---- TfIOPreviews

TPxPreviewsPage* TfIOPreviews::MakePage(const std::wstring& Caption)
{
    auto* page = new TPxPreviewsPage(this);
    page->Caption = Caption;
    page->SetParent(this);
    page->SetBevelOuter(classlib::bvNone);
    page->SetBounds(10, 218, 413, 159);
    page->SetVisible(false);
    pages_list_.push_back(page);
    return page;
}

TfIOPreviews::TfIOPreviews(classlib::TComponent* Owner) : classlib::TForm(Owner)
{
    SetBorderIcons(classlib::biSystemMenu);
    SetBorderStyle(classlib::bsDialog);
    SetPosition(classlib::poScreenCenter);
    SetCaption(L"Parameters Preview");
    SetClientWidth(433);
    SetClientHeight(433);
    GetFont()->SetName(L"MS Sans Serif");
    GetFont()->SetHeight(-11);

    auto label = [&](classlib::TWinControl* Parent, int X, int Y, const std::wstring& Text) {
        auto* l = new classlib::TLabel(this);
        l->SetParent(Parent);
        l->SetLeft(X);
        l->SetTop(Y);
        l->SetCaption(Text);
        return l;
    };
    auto edit = [&](classlib::TWinControl* Parent, int X, int Y, int W, int MaxLen) {
        auto* e = new classlib::TEdit(this);
        e->SetParent(Parent);
        e->SetBounds(X, Y, W, 21);
        e->SetMaxLength(MaxLen);
        return e;
    };
    auto combo = [&](classlib::TWinControl* Parent, int X, int Y, int W, std::initializer_list<const wchar_t*> Items) {
        auto* c = new classlib::TComboBox(this);
        c->SetParent(Parent);
        c->SetStyle(classlib::csDropDownList);
        c->SetBounds(X, Y, W, 21);
        for (const wchar_t* s : Items)
            c->GetItems()->Add(s);
        return c;
    };
    auto check = [&](classlib::TWinControl* Parent, int X, int Y, int W, const std::wstring& Text) {
        auto* c = new classlib::TCheckBox(this);
        c->SetParent(Parent);
        c->SetBounds(X, Y, W, 17);
        c->SetCaption(Text);
        return c;
    };

    L1 = label(this, 8, 5, L"L1");
    L2 = label(this, 235, 5, L"L2");
    Img1 = new TImgView(this);
    Img1->SetParent(this);
    Img1->SetBounds(8, 21, 191, 135);
    Img1->SetMouseInteract(TImgView::miZoom | TImgView::miScroll);
    Img1->OnViewChange = TViewChangeEvent(this, &TfIOPreviews::Img1ViewChange);
    Img2 = new TImgView(this);
    Img2->SetParent(this);
    Img2->SetBounds(235, 21, 191, 135);
    Img2->SetMouseInteract(0);
    ProgressBar1 = new TPxDialogProgressBar(this);
    ProgressBar1->SetParent(this);
    ProgressBar1->SetBounds(8, 158, 418, 12);
    L3 = label(this, 8, 174, L"L3");
    CB_Preview = check(this, 235, 172, 150, L"Preview");
    CB_Preview->OnClick = classlib::TNotifyEvent(this, &TfIOPreviews::SpeedButton1Click);
    PgCon = new TPxPreviewsTabs(this);
    PgCon->SetParent(this);
    PgCon->SetBounds(8, 194, 417, 185);
    PgCon->OnChanging = classlib::TNotifyEvent(this, &TfIOPreviews::PgConChanging);
    PgCon->OnChange = classlib::TNotifyEvent(this, &TfIOPreviews::PgConChange);
    auto* bevel = new classlib::TBevel(this);
    bevel->SetParent(this);
    bevel->SetShape(classlib::bsBottomLine);
    bevel->SetBounds(8, 386, 417, 2);
    auto button = [&](int X, const std::wstring& Text, classlib::TModalResult Result) {
        auto* b = new classlib::TButton(this);
        b->SetParent(this);
        b->SetBounds(X, 400, 75, 25);
        b->SetCaption(Text);
        b->ModalResult = Result;
        return b;
    };
    Button4 = button(176, L"Apply", classlib::mrNone);
    Button4->OnClick = classlib::TNotifyEvent(this, &TfIOPreviews::Button4Click);
    btnOK = button(264, L"OK", classlib::mrOk);
    btnOK->SetDefault(true);
    btnOK->OnClick = classlib::TNotifyEvent(this, &TfIOPreviews::btnOKClick);
    btnCancel = button(350, L"Cancel", classlib::mrCancel);
    btnCancel->Cancel = true;

    const auto editHandlers = [&](classlib::TEdit* e) {
        e->OnKeyPress = classlib::TKeyPressEvent(this, &TfIOPreviews::EditKeyPress);
    };

    // JPEG page
    TSJPEG = MakePage(L"JPEG");
    L23 = label(TSJPEG, 6, 8, L"Q");
    E22 = edit(TSJPEG, 110, 4, 40, 3);
    Mb13 = new TPxScrollBar(this);
    Mb13->SetParent(TSJPEG);
    Mb13->SetBounds(156, 6, 190, 17);
    Mb13->SetRange(0, 100);
    L57 = label(TSJPEG, 6, 36, L"P");
    ComB13 = combo(TSJPEG, 110, 32, 100, {L"RGB", L"GrayScale", L"YCbCr", L"CMYK", L"YCbCrK"});
    L26 = label(TSJPEG, 6, 64, L"D");
    ComB1 = combo(TSJPEG, 110, 60, 100, {L"ISLOW", L"IFAST", L"FLOAT"});
    L27 = label(TSJPEG, 6, 92, L"S");
    E23 = edit(TSJPEG, 110, 88, 40, 3);
    E23->SetName(L"E23");
    E23UD = new classlib::TUpDown(this);
    E23UD->SetName(L"E23UD");
    E23UD->SetParent(TSJPEG);
    E23UD->SetMin(0);
    E23UD->SetMax(100);
    E23UD->SetAssociate(E23);
    CB2 = check(TSJPEG, 230, 34, 170, L"O");
    CB3 = check(TSJPEG, 230, 58, 170, L"P");
    Label1 = label(TSJPEG, 230, 92, L"DPI X:");
    E_JPEG_DPIX = edit(TSJPEG, 280, 88, 40, 5);
    Label2 = label(TSJPEG, 230, 120, L"DPI Y:");
    E_JPEG_DPIY = edit(TSJPEG, 280, 116, 40, 5);
    for (classlib::TEdit* e : {E22, E23, E_JPEG_DPIX, E_JPEG_DPIY})
        editHandlers(e);
    const classlib::TNotifyEvent mb13(this, &TfIOPreviews::Mb13Change);
    CB2->OnClick = mb13;
    ComB1->OnChange = mb13;
    CB3->OnClick = mb13;
    ComB13->OnChange = mb13;
    E_JPEG_DPIX->OnChange = mb13;
    E_JPEG_DPIY->OnChange = mb13;
    Mb13->OnChange = mb13;
    Mb13->OnScroll = TPxScrollEvent(this, &TfIOPreviews::Mb13Scroll);
    E22->OnChange = classlib::TNotifyEvent(this, &TfIOPreviews::E22Change);
    E23->OnChange = classlib::TNotifyEvent(this, &TfIOPreviews::E22Change);
    E22->OnEnter = classlib::TNotifyEvent(this, &TfIOPreviews::E22Enter);
    E23->OnEnter = classlib::TNotifyEvent(this, &TfIOPreviews::E22Enter);
    E23->OnExit = classlib::TNotifyEvent(this, &TfIOPreviews::EditCheck);

    // PCX page
    TSPCX = MakePage(L"PCX");
    L43 = label(TSPCX, 6, 8, L"C");
    Comb8 = combo(TSPCX, 110, 4, 110, {L"UNCOMPRESSED", L"RLE"});
    L44 = label(TSPCX, 6, 36, L"C");
    Comb9 = combo(TSPCX, 110, 32, 110, {L"B/W", L"16", L"256", L"16M"});
    label(TSPCX, 230, 8, L"DPI X:");
    E_PCX_DPIX = edit(TSPCX, 280, 4, 40, 5);
    label(TSPCX, 230, 36, L"DPI Y:");
    E_PCX_DPIY = edit(TSPCX, 280, 32, 40, 5);
    const classlib::TNotifyEvent pcx(this, &TfIOPreviews::Comb8Change);
    for (classlib::TComboBox* c : {Comb8, Comb9})
        c->OnChange = pcx;
    for (classlib::TEdit* e : {E_PCX_DPIX, E_PCX_DPIY}) {
        e->OnChange = pcx;
        editHandlers(e);
    }

    // PNG page
    TSPNG = MakePage(L"PNG");
    L49 = label(TSPNG, 6, 8, L"C");
    Comb10 = combo(TSPNG, 110, 4, 100, {L"B/W", L"256", L"16M"});
    L55 = label(TSPNG, 6, 36, L"F");
    Comb11 = combo(TSPNG, 110, 32, 100, {L"None", L"Sub", L"Paeth"});
    L56 = label(TSPNG, 6, 64, L"C");
    Comb12 = combo(TSPNG, 110, 60, 100, {L"None", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"Max"});
    CB6 = check(TSPNG, 230, 6, 170, L"I");
    L54 = label(TSPNG, 230, 36, L"B");
    P1 = new classlib::TPanel(this);
    P1->SetParent(TSPNG);
    P1->SetBounds(320, 32, 40, 21);
    P1->SetBevelOuter(classlib::bvRaised);
    P1->OnClick = classlib::TNotifyEvent(this, &TfIOPreviews::P1Click);
    const classlib::TNotifyEvent png(this, &TfIOPreviews::Comb10Change);
    Comb10->OnChange = png;
    Comb11->OnChange = png;
    Comb12->OnChange = png;
    CB6->OnClick = png;

    // FormCreate
    BilevelMode = true;
    for (TImgView* v : {Img1, Img2}) {
        classlib::TFont font;
        font.SetCharset(DEFAULT_CHARSET);
        font.SetColor(classlib::clWindowText);
        font.SetHeight(-11);
        font.SetName(L"MS Sans Serif");
        font.SetStyle(0);
        v->GetIO()->SetPreviewFont(&font);
    }
    PreviewIO = new TImgIO(this);
    PreviewIO->OnProgress = TPxProgressEvent(this, &TfIOPreviews::PreviewProgress);
    PreviewIO->StreamHeaders = false;
    PreviewProc = new TImgProc(this);
    // Previews are made again on every edit; they keep no undo copies.
    PreviewProc->AutoUndo = false;
    CancelCaption = L"&Cancel";
    Button4->SetEnabled(false);
}

TfIOPreviews::~TfIOPreviews() = default;

void TfIOPreviews::ApplyLanguage(TMsgLanguage Language)
{
    auto m = [&](int i) { return PxGetMsgText(i, Language); };
    SetCaption(m(38));
    SourceCaption = m(2) + L": ";
    ResultCaption = m(3) + L": ";
    ZoomCaption = m(0) + L": ";
    L1->SetCaption(SourceCaption);
    L2->SetCaption(ResultCaption);
    L3->SetCaption(ZoomCaption);
    btnCancel->SetCaption(m(5));
    btnOK->SetCaption(m(4));
    CB_Preview->SetCaption(m(1));
    Button4->SetCaption(m(121));
    L23->SetCaption(Colon(m(39)));
    L26->SetCaption(Colon(m(40)));
    L27->SetCaption(Colon(m(41)));
    L57->SetCaption(Colon(m(50)));
    CB2->SetCaption(m(43));
    CB3->SetCaption(m(47));
    L43->SetCaption(Colon(m(48)));
    L44->SetCaption(Colon(m(59)));
    L49->SetCaption(Colon(m(59)));
    CB6->SetCaption(m(62));
    L54->SetCaption(Colon(m(63)));
    L55->SetCaption(Colon(m(67)));
    L56->SetCaption(Colon(m(48)));
    CancelCaption = L"&" + m(5);
}

bool TfIOPreviews::SetPages(uint16_t Pages)
{
    pages_ = Pages;
    if (Pages & ppAuto && Params) {
        switch (Params->FileFormat) {
        case ffTIFF: pages_ |= ppTIFF; break;
        case ffGIF: pages_ |= ppGIF; break;
        case ffJPEG: pages_ |= ppJPEG; break;
        case ffPCX: pages_ |= ppPCX; break;
        case ffBMP: pages_ |= ppBMP; break;
        case ffPNG: pages_ |= ppPNG; break;
        case ffTGA: pages_ |= ppTGA; break;
        case ffJP2:
        case ffJ2K: pages_ |= ppJ2000; break;
        default: break;
        }
    }
    return pages_ != ppAuto;
}

void TfIOPreviews::SetActivePage(TPxPreviewsPage* Page)
{
    for (TPxPreviewsPage* p : pages_list_)
        p->SetVisible(p == Page);
    // The page lies over the tab control's body.
    if (Page && Page->HandleAllocated())
        SetWindowPos(Page->GetHandle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    active_ = Page;
    for (size_t i = 0; i < tabPages_.size(); ++i)
        if (tabPages_[i] == Page)
            PgCon->SetTabIndex(static_cast<int>(i));
}

void TfIOPreviews::DoShow()
{
    classlib::TForm::DoShow();
    if (!activated_) {
        activated_ = true;
        FormActivate(this);
    }
}

void TfIOPreviews::FormActivate(classlib::TObject*)
{
    ControlsReady = true;
    CB_Preview->SetChecked(DefaultLockPreview);
    PgCon->SetVisible(false);
    tabPages_.clear();
    const struct {
        TPxPreviewsPage* Page;
        uint16_t Bit;
    } order[] = {{TSJPEG, ppJPEG}, {TSPCX, ppPCX}, {TSPNG, ppPNG}};
    for (const auto& o : order)
        if ((pages_ & ppAll) || (pages_ & o.Bit))
            tabPages_.push_back(o.Page);
    std::vector<std::wstring> captions;
    for (TPxPreviewsPage* p : tabPages_)
        captions.push_back(p->Caption);
    PgCon->SetTabs(captions);
    SetActivePage(tabPages_.empty() ? nullptr : tabPages_.front());
    PgCon->SetVisible(true);
    LoadWorkingCopy();
    ShowWorkingCopy();
    Img1->SetScrollBars(classlib::ssNone);
    Img1->Fit();
    Img1->SetScrollBars(classlib::ssBoth);
    if (classlib::Application)
        classlib::Application->ProcessMessages();
    PgConChange(this);
}

void TfIOPreviews::PgConChanging(classlib::TObject*) { ControlsReady = false; }

void TfIOPreviews::PgConChange(classlib::TObject* Sender)
{
    if (Sender == PgCon) {
        const int i = PgCon->GetTabIndex();
        SetActivePage(i >= 0 && i < static_cast<int>(tabPages_.size()) ? tabPages_[static_cast<size_t>(i)] : nullptr);
    }
    ControlsReady = true;
    // Every page change reloads the working values from Params: values
    // edited on the page left and not applied are dropped, as the Apply
    // button offers to keep them.
    LoadWorkingCopy();
    ShowWorkingCopy();
    if (CB_Preview->GetChecked())
        MakePreview(Img2);
    Button4->SetEnabled(false);
}

void TfIOPreviews::LoadWorkingCopy()
{
    if (!Params)
        return;
    TWorking& w = Working;
    const TIOParamsVals& p = *Params;
    w.Quality = p.JPEGQuality;
    w.JColorSpace = (p.FileFormat == ffTIFF && p.TIFFPhotometric == 5) ? 3 : p.JPEGColorSpace;
    if (p.JPEGDCTMethod <= 2)
        w.DCT = p.JPEGDCTMethod;
    w.Huffman = p.JPEGOptimalHuffman;
    w.Smooth = p.JPEGSmoothing;
    w.Progressive = p.JPEGProgressive;
    w.JDpiX = ShownDpi(p.EXIFXResolution, p.DpiX);
    w.JDpiY = ShownDpi(p.EXIFYResolution, p.DpiY);
    w.PcxCompression = p.PCXCompression;
    if (p.SamplesPerPixel == 1 && (p.BitsPerSample == 1 || p.BitsPerSample == 4 || p.BitsPerSample == 8))
        w.PcxColors = p.BitsPerSample == 1 ? 0 : p.BitsPerSample == 4 ? 1 : 2;
    else if (p.SamplesPerPixel == 3)
        w.PcxColors = 3;
    w.PDpiX = ShownDpi(p.EXIFXResolution, p.DpiX);
    w.PDpiY = ShownDpi(p.EXIFYResolution, p.DpiY);
    w.PngColors = p.SamplesPerPixel == 1 ? (p.BitsPerSample == 1 ? 0 : 1) : 2;
    w.PngInterlaced = p.PNGInterlaced;
    w.PngBackground = p.PNGBackground;
    w.PngFilter = p.PNGFilter;
    w.PngCompression = p.PNGCompression;
}

void TfIOPreviews::ShowWorkingCopy()
{
    ControlsReady = false;
    TPxBitmap* src = Img1->GetPxBitmap();
    const bool hasImage = src && src->GetWidth() >= 1 && src->GetHeight() >= 1;
    if (hasImage) {
        WIN32_FIND_DATAW fd{};
        HANDLE h = SourceFileName.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(SourceFileName.c_str(), &fd);
        int64_t size = 0;
        if (h != INVALID_HANDLE_VALUE) {
            size = (static_cast<int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            FindClose(h);
        }
        L1->SetCaption(size > 0 ? SourceCaption + std::to_wstring(size) + L" bytes" : SourceCaption);
        for (classlib::TControl* c : {static_cast<classlib::TControl*>(CB_Preview), static_cast<classlib::TControl*>(L1),
                                      static_cast<classlib::TControl*>(L2), static_cast<classlib::TControl*>(L3)})
            c->SetEnabled(true);
        Img1->SetMouseInteract(TImgView::miZoom | TImgView::miScroll);
    } else {
        Working.JDpiX = Working.JDpiY = 0;
        Img1->SetScrollBars(classlib::ssNone);
        Img1->SetMouseInteract(0);
        Img1->SetZoom(100);
        L1->SetCaption(SourceCaption);
        for (classlib::TControl* c : {static_cast<classlib::TControl*>(CB_Preview), static_cast<classlib::TControl*>(L1),
                                      static_cast<classlib::TControl*>(L2), static_cast<classlib::TControl*>(L3)})
            c->SetEnabled(false);
    }
    const TWorking& w = Working;
    const bool dpi = Params && Params->DpiEditable;
    if (active_ == TSJPEG) {
        for (classlib::TControl* c : {static_cast<classlib::TControl*>(E_JPEG_DPIX),
                                      static_cast<classlib::TControl*>(E_JPEG_DPIY),
                                      static_cast<classlib::TControl*>(Label1), static_cast<classlib::TControl*>(Label2)})
            c->SetEnabled(dpi);
        E_JPEG_DPIX->SetText(dpi ? std::to_wstring(w.JDpiX) : L"");
        E_JPEG_DPIY->SetText(dpi ? std::to_wstring(w.JDpiY) : L"");
        E22->SetText(std::to_wstring(w.Quality));
        Mb13->SetPosition(w.Quality);
        ComB13->SetItemIndex(w.JColorSpace);
        ComB1->SetItemIndex(w.DCT);
        CB2->SetChecked(w.Huffman);
        CB3->SetChecked(w.Progressive);
        E23->SetText(std::to_wstring(w.Smooth));
    } else if (active_ == TSPCX) {
        E_PCX_DPIX->SetEnabled(dpi);
        E_PCX_DPIY->SetEnabled(dpi);
        E_PCX_DPIX->SetText(dpi ? std::to_wstring(w.PDpiX) : L"");
        E_PCX_DPIY->SetText(dpi ? std::to_wstring(w.PDpiY) : L"");
        Comb8->SetItemIndex(w.PcxCompression ? 1 : 0);
        Comb9->SetItemIndex(w.PcxColors);
    } else if (active_ == TSPNG) {
        Comb10->SetItemIndex(w.PngColors);
        CB6->SetChecked(w.PngInterlaced);
        P1->SetColor(static_cast<classlib::TColor>(PxRGBToColor(w.PngBackground)));
        Comb11->SetItemIndex(w.PngFilter);
        Comb12->SetItemIndex(w.PngCompression);
    }
    ControlsReady = true;
}

void TfIOPreviews::PreviewProgress(classlib::TObject*, int Percent)
{
    ProgressBar1->SetPosition(Percent / std::max(progressPhases_, 1) + progressBase_);
}

void TfIOPreviews::MakePreview(TImgView* Target)
{
    TPxBitmap* src = Img1->GetPxBitmap();
    if (!src || src->GetWidth() < 1 || src->GetHeight() < 1 || !active_)
        return;
    classlib::TMemoryStream memory;
    TNulStream counter;
    PreviewIO->SetBilevelConversion(BilevelMode ? 1 : 0);
    PreviewIO->SetAttachedPxBitmap(src);
    progressBase_ = 0;
    TIOParamsVals* P = PreviewIO->FileParams;
    const TWorking& w = Working;
    struct TDetach {
        TImgIO* IO;
        ~TDetach() { IO->SetAttachedPxBitmap(nullptr); }
    } detach{PreviewIO};
    auto copyToTarget = [&] {
        Target->GetPxBitmap()->Assign(src);
    };
    if (active_ == TSJPEG) {
        progressPhases_ = 2;
        P->JPEGQuality = w.Quality;
        P->JPEGColorSpace = static_cast<uint8_t>(w.JColorSpace);
        P->JPEGDCTMethod = static_cast<uint8_t>(w.DCT);
        P->JPEGOptimalHuffman = w.Huffman;
        P->JPEGSmoothing = w.Smooth;
        P->JPEGProgressive = w.Progressive;
        PreviewIO->SaveJPEGToStream(&memory);
        L2->SetCaption(ResultCaption + std::to_wstring(memory.GetSize()) + L" bytes");
        memory.SetPosition(0);
        PreviewIO->SetAttachedPxBitmap(Target->GetPxBitmap());
        progressBase_ = 50;
        PreviewIO->LoadJPEGFromStream(&memory);
    } else if (active_ == TSPCX) {
        progressPhases_ = 1;
        static const int bits[] = {1, 4, 8, 8};
        static const int samples[] = {1, 1, 1, 3};
        P->PCXCompression = static_cast<uint8_t>(w.PcxCompression);
        P->BitsPerSample = bits[w.PcxColors];
        P->SamplesPerPixel = samples[w.PcxColors];
        PreviewIO->SavePCXToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        const int n = 1 << std::min(P->BitsPerSample * P->SamplesPerPixel, 24);
        if (n <= 256) {
            PreviewProc->AttachBitmap(Target->GetPxBitmap());
            PreviewProc->ConvertTo(n, BilevelMode);
            PreviewProc->AttachBitmap(nullptr);
        }
    } else if (active_ == TSPNG) {
        progressPhases_ = 1;
        static const int bits[] = {1, 8, 8};
        static const int samples[] = {1, 1, 3};
        P->BitsPerSample = bits[w.PngColors];
        P->SamplesPerPixel = samples[w.PngColors];
        P->PNGInterlaced = w.PngInterlaced;
        P->PNGFilter = w.PngFilter;
        P->PNGCompression = w.PngCompression;
        PreviewIO->SavePNGToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        // Palette reduction: the look of the image with its colours reduced.
        const int n = 1 << (P->BitsPerSample * P->SamplesPerPixel > 24 ? 24 : P->BitsPerSample * P->SamplesPerPixel);
        if (n <= 256) {
            PreviewProc->AttachBitmap(Target->GetPxBitmap());
            P->FreeColorMap();
            P->AllocColorMap(n);
            PreviewProc->ConvertToPalette(n, P->ColorMap.get(), BilevelMode);
            PreviewProc->AttachBitmap(nullptr);
        } else {
            P->FreeColorMap();
        }
    }
    ProgressBar1->SetPosition(0);
    if (Target == Img2) {
        Img2->BeginPaintLock();
        Img2->SetZoom(Img1->GetZoomX());
        Img2->SetViewXY(Img1->GetViewX(), Img1->GetViewY());
        Img2->EndPaintLock();
    }
    Target->Update();
}

void TfIOPreviews::Preview()
{
    if (CB_Preview->GetChecked())
        MakePreview(Img2);
    Img2->Invalidate();
}

void TfIOPreviews::SpeedButton1Click(classlib::TObject*)
{
    if (CB_Preview->GetChecked())
        MakePreview(Img2);
}

void TfIOPreviews::Button3Click(classlib::TObject*) { MakePreview(Img2); }

void TfIOPreviews::btnOKClick(classlib::TObject*)
{
    if (!Params)
        return;
    const TWorking& w = Working;
    TIOParamsVals& p = *Params;
    if (active_ == TSJPEG) {
        p.JPEGQuality = w.Quality;
        p.JPEGColorSpace = static_cast<uint8_t>(w.JColorSpace);
        if (ComB1->GetItemIndex() >= 0)
            p.JPEGDCTMethod = static_cast<uint8_t>(w.DCT);
        p.JPEGOptimalHuffman = w.Huffman;
        p.JPEGSmoothing = w.Smooth;
        p.JPEGProgressive = w.Progressive;
        if (p.DpiEditable) {
            p.SetDpiX(w.JDpiX);
            p.SetDpiY(w.JDpiY);
        }
    } else if (active_ == TSPCX) {
        static const int bits[] = {1, 4, 8, 8};
        static const int samples[] = {1, 1, 1, 3};
        p.PCXCompression = static_cast<uint8_t>(w.PcxCompression);
        p.BitsPerSample = bits[w.PcxColors];
        p.SamplesPerPixel = samples[w.PcxColors];
        if (p.DpiEditable) {
            p.SetDpiX(w.PDpiX);
            p.SetDpiY(w.PDpiY);
        }
    } else if (active_ == TSPNG) {
        static const int bits[] = {1, 8, 8};
        static const int samples[] = {1, 1, 3};
        p.BitsPerSample = bits[w.PngColors];
        p.SamplesPerPixel = samples[w.PngColors];
        p.PNGInterlaced = w.PngInterlaced;
        p.PNGBackground = w.PngBackground;
        p.PNGFilter = w.PngFilter;
        p.PNGCompression = w.PngCompression;
    }
}

void TfIOPreviews::Button4Click(classlib::TObject* Sender)
{
    btnOKClick(Sender);
    Button4->SetEnabled(false);
}

void TfIOPreviews::Mb13Change(classlib::TObject* Sender)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int dpix = ReadInt(E_JPEG_DPIX, 300);
    const int dpiy = ReadInt(E_JPEG_DPIY, 300);
    const int smooth = ReadInt(E23, 0);
    if (Mb13->GetPosition() == w.Quality && ComB13->GetItemIndex() == w.JColorSpace &&
        ComB1->GetItemIndex() == w.DCT && CB2->GetChecked() == w.Huffman && smooth == w.Smooth && dpix == w.JDpiX &&
        dpiy == w.JDpiY && CB3->GetChecked() == w.Progressive)
        return;
    w.Quality = Mb13->GetPosition();
    w.JColorSpace = ComB13->GetItemIndex();
    w.DCT = ComB1->GetItemIndex();
    w.Huffman = CB2->GetChecked();
    w.Smooth = smooth;
    w.JDpiX = dpix;
    w.JDpiY = dpiy;
    w.Progressive = CB3->GetChecked();
    E22->SetText(std::to_wstring(w.Quality));
    if (Sender == Mb13)
        return;
    Preview();
    Button4->SetEnabled(true);
}

void TfIOPreviews::Mb13Scroll(classlib::TObject*, TPxScrollCode Code, int&)
{
    if (Code != scEndScroll)
        return;
    Preview();
    Button4->SetEnabled(true);
}

void TfIOPreviews::E22Change(classlib::TObject* Sender)
{
    if (Sender == E23)
        CB_Preview->SetChecked(false);
    if (!ControlsReady)
        return;
    const int q = ReadInt(E22, 50);
    const int s = ReadInt(E23, 0);
    if (q != Working.Quality || s != Working.Smooth) {
        Mb13->SetPosition(q);
        Mb13Change(this);
    }
    Button4->SetEnabled(true);
}

void TfIOPreviews::E22Enter(classlib::TObject*) { CB_Preview->SetChecked(false); }

void TfIOPreviews::EditKeyPress(classlib::TObject*, wchar_t& Key)
{
    if (!((Key >= L'0' && Key <= L'9') || Key == 8 || Key == 9))
        Key = 10;
}

void TfIOPreviews::EditCheck(classlib::TObject* Sender)
{
    auto* edit = dynamic_cast<classlib::TEdit*>(Sender);
    if (!edit)
        return;
    auto* ud = dynamic_cast<classlib::TUpDown*>(FindComponent(edit->GetName() + L"UD"));
    if (!ud)
        return;
    const int v = std::clamp(ReadInt(edit, ud->GetMin()), ud->GetMin(), ud->GetMax());
    edit->SetText(std::to_wstring(v));
}

void TfIOPreviews::Comb8Change(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int colours = std::max(Comb9->GetItemIndex(), 0);
    const int compression = Comb8->GetItemIndex() > 0 ? 1 : 0;
    const int dpix = ReadInt(E_PCX_DPIX, 300);
    const int dpiy = ReadInt(E_PCX_DPIY, 300);
    if (colours != w.PcxColors || compression != w.PcxCompression || dpix != w.PDpiX || dpiy != w.PDpiY) {
        w.PcxColors = colours;
        w.PcxCompression = compression;
        w.PDpiX = dpix;
        w.PDpiY = dpiy;
        Preview();
    }
    Button4->SetEnabled(true);
}

void TfIOPreviews::Comb10Change(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    if (Comb10->GetItemIndex() != w.PngColors || CB6->GetChecked() != w.PngInterlaced ||
        Comb11->GetItemIndex() != w.PngFilter || Comb12->GetItemIndex() != w.PngCompression) {
        w.PngColors = std::max(Comb10->GetItemIndex(), 0);
        w.PngInterlaced = CB6->GetChecked();
        w.PngFilter = std::max(Comb11->GetItemIndex(), 0);
        w.PngCompression = std::max(Comb12->GetItemIndex(), 0);
        Preview();
    }
    Button4->SetEnabled(true);
}

void TfIOPreviews::P1Click(classlib::TObject*)
{
    TIOParamsVals* P = PreviewIO->FileParams;
    if (P->ColorMap) {
        TImgPaletteDialog dlg(this);
        const int n = 1 << std::min(P->BitsPerSample * P->SamplesPerPixel, 8);
        dlg.SetPalette(P->ColorMap.get(), std::min(n, P->ColorMapCount));
        dlg.GetCancelButton()->SetCaption(CancelCaption);
        if (dlg.Execute())
            P1->SetColor(dlg.Color);
    } else {
        classlib::TColorDialog dlg(this);
        dlg.Color = P1->GetColor();
        if (dlg.Execute(GetHandle()))
            P1->SetColor(dlg.Color);
    }
    Working.PngBackground = PxColorToRGB(P1->GetColor());
    Button4->SetEnabled(true);
}

void TfIOPreviews::Img1ViewChange(classlib::TObject*, int)
{
    Img2->BeginPaintLock();
    Img2->SetZoom(Img1->GetZoomX());
    L3->SetCaption(ZoomCaption + std::to_wstring(std::lround(Img1->GetZoomX())) + L" %");
    Img2->SetViewXY(Img1->GetViewX(), Img1->GetViewY());
    Img2->EndPaintLock();
}

// ---- the dialog behind TImgIO::DoPreviews and TImgMIO::DoPreviews

namespace {

// The form seen through the I/O layer's dialog interface. Owns the form
// (created with the I/O object as owner; deleting it unregisters it there).
class TFormPreviewsDialog : public TPxIOPreviewsDialog {
public:
    explicit TFormPreviewsDialog(classlib::TComponent* Owner) : form_(new TfIOPreviews(Owner)) {}
    ~TFormPreviewsDialog() override { delete form_; }
    classlib::TForm* GetForm() override { return form_; }
    void SetDefaultLockPreview(bool Value) override { form_->DefaultLockPreview = Value; }
    void SetApplyButtonVisible(bool Value) override { form_->Button4->SetVisible(Value); }
    void SetParams(TIOParamsVals* Params, const std::wstring& FileName) override
    {
        form_->Params = Params;
        form_->SourceFileName = FileName;
    }
    void SetSimplified(bool Value) override { form_->Simplified = Value; }
    void SetPageControlHeight(int Value) override { form_->PgCon->SetHeight(Value); }
    void SetFormHeight(int Value) override { form_->SetHeight(Value); }
    void SetBilevelMethod(uint8_t Value) override { form_->BilevelMode = Value != 0; }
    void ApplyLanguage(TMsgLanguage Language) override { form_->ApplyLanguage(Language); }
    void SetFont(const classlib::TFont* Font) override
    {
        if (Font)
            form_->GetFont()->Assign(Font);
    }
    // The source view keeps its own copy, so detaching leaves it as is.
    void SetSourceImage(TPxBitmap* Image) override
    {
        if (!Image)
            return;
        form_->Img1->GetPxBitmap()->Assign(Image);
        form_->Img1->Update();
    }
    void ClearResult() override { form_->Img2->ClearImage(); }
    bool SetPages(uint16_t Pages) override { return form_->SetPages(Pages); }
    int ShowModal() override { return form_->ShowModal(); }

private:
    TfIOPreviews* form_;
};

std::unique_ptr<TPxIOPreviewsDialog> MakeFormPreviewsDialog(classlib::TComponent* Owner)
{
    return std::make_unique<TFormPreviewsDialog>(Owner);
}

}  // namespace

void PxInstallIOPreviewsForm() { PxSetIOPreviewsFactory(&MakeFormPreviewsDialog); }

}  // namespace imaging
