#include "imaging/views/dialogs/PxIOPreviews.h"

#include "imaging/model/PxDefs.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "classlib/Dialogs.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxLists.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/dialogs/PxPaletteDialog.h"

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

// The parameters keep their texts in the system's code page.
std::wstring Wide(const std::string& s)
{
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Narrow(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Bits and samples of the BMP colour list's positions ("1 BPP" .. "32 BPP").
constexpr int kBmpBits[] = {1, 4, 8, 8, 8};
constexpr int kBmpSamples[] = {1, 1, 1, 3, 3};
// Bits and samples of the PNG and TGA colour lists ("B/W", "256", "16M").
constexpr int kColourBits[] = {1, 8, 8};
constexpr int kColourSamples[] = {1, 1, 3};
// Photometric, bits and samples of the TIFF photometric list's positions.
constexpr int kTiffPhotometric[] = {0, 1, 3, 3, 2, 5, 7};
constexpr int kTiffBits[] = {1, 1, 4, 8, 8, 8, 8};
constexpr int kTiffSamples[] = {1, 1, 1, 1, 3, 4, 3};

int Pos(classlib::TComboBox* Combo, int Size)
{
    return std::clamp(Combo->GetItemIndex(), 0, Size - 1);
}

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
    if (bottom_) Params.Style |= TCS_BOTTOM;
}

void TPxPreviewsTabs::SetTabsAtBottom(bool Value)
{
    if (bottom_ == Value) return;
    bottom_ = Value;
    if (HandleAllocated()) RecreateWnd();
}

POINT TPxPreviewsTabs::BodyOrigin()
{
    RECT r{0, 0, GetWidth(), GetHeight()};
    if (HandleAllocated()) {
        TabCtrl_AdjustRect(GetHandle(), FALSE, &r);
    } else {
        // Before the window exists: the strip's usual height.
        if (bottom_) r.top += 2; else r.top += 24;
        r.left += 2;
    }
    return POINT{GetLeft() + r.left, GetTop() + r.top};
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
    P1->OnMouseEnter = classlib::TNotifyEvent(this, &TfIOPreviews::MouseEnter);
    P1->OnMouseLeave = classlib::TNotifyEvent(this, &TfIOPreviews::MouseLeave);
    const classlib::TNotifyEvent png(this, &TfIOPreviews::Comb10Change);
    Comb10->OnChange = png;
    Comb11->OnChange = png;
    Comb12->OnChange = png;
    CB6->OnClick = png;

    auto swatch = [&](classlib::TWinControl* Parent, int X, int Y, void (TfIOPreviews::*Click)(classlib::TObject*)) {
        auto* p = new classlib::TPanel(this);
        p->SetParent(Parent);
        p->SetBounds(X, Y, 40, 21);
        p->SetBevelOuter(classlib::bvRaised);
        p->OnClick = classlib::TNotifyEvent(this, Click);
        p->OnMouseEnter = classlib::TNotifyEvent(this, &TfIOPreviews::MouseEnter);
        p->OnMouseLeave = classlib::TNotifyEvent(this, &TfIOPreviews::MouseLeave);
        return p;
    };

    // TIFF page
    TSTIFF = MakePage(L"TIFF");
    L5 = label(TSTIFF, 6, 8, L"C");
    ComB2 = combo(TSTIFF, 104, 4, 110, {});
    L7 = label(TSTIFF, 6, 36, L"P");
    ComB3 = combo(TSTIFF, 104, 32, 158,
                  {L"WHITEISZERO", L"BLACKISZERO", L"RGB Palette 4 BPP (16 Colors)", L"RGB Palette 8 BPP (256 Colors)",
                   L"RGB", L"CMYK", L"CIE Lab"});
    label(TSTIFF, 6, 64, L"DPI X:");
    E_TIFF_DPIX = edit(TSTIFF, 104, 60, 36, 5);
    label(TSTIFF, 152, 64, L"DPI Y:");
    E_TIFF_DPIY = edit(TSTIFF, 234, 60, 30, 5);
    L8 = label(TSTIFF, 6, 92, L"X");
    E2 = edit(TSTIFF, 104, 88, 36, 6);
    L10 = label(TSTIFF, 152, 92, L"Y");
    E3 = edit(TSTIFF, 234, 88, 30, 6);
    // The group of the scanned-document texts: a frame with its caption.
    auto* frame = new classlib::TBevel(this);
    frame->SetParent(TSTIFF);
    frame->SetShape(classlib::bsFrame);
    frame->SetBounds(268, 6, 143, 150);
    Gr1 = label(TSTIFF, 272, 0, L"S");
    L12 = label(TSTIFF, 276, 18, L"N");
    E4 = edit(TSTIFF, 276, 33, 128, 255);
    L13 = label(TSTIFF, 276, 60, L"D");
    E5 = edit(TSTIFF, 276, 75, 128, 255);
    L14 = label(TSTIFF, 276, 102, L"P");
    E6 = edit(TSTIFF, 276, 117, 128, 255);
    const classlib::TNotifyEvent tiff(this, &TfIOPreviews::ComboBox2Click);
    ComB2->OnChange = tiff;
    ComB3->OnChange = tiff;
    for (classlib::TEdit* e : {E2, E3, E4, E5, E6, E_TIFF_DPIX, E_TIFF_DPIY})
        e->OnChange = tiff;
    for (classlib::TEdit* e : {E2, E3, E_TIFF_DPIX, E_TIFF_DPIY})
        editHandlers(e);

    // GIF page
    TSGIF = MakePage(L"GIF");
    L38 = label(TSGIF, 6, 8, L"C");
    Comb5 = combo(TSGIF, 120, 4, 80, {L"B/W", L"4", L"8", L"16", L"32", L"64", L"128", L"256"});
    CB4 = check(TSGIF, 6, 34, 180, L"T");
    L34 = label(TSGIF, 6, 62, L"T");
    P3 = swatch(TSGIF, 120, 58, &TfIOPreviews::P3Click);
    CB5 = check(TSGIF, 6, 88, 180, L"I");
    L35 = label(TSGIF, 6, 116, L"B");
    P4 = swatch(TSGIF, 120, 112, &TfIOPreviews::P4Click);
    L31 = label(TSGIF, 220, 8, L"X");
    E10 = edit(TSGIF, 316, 4, 50, 6);
    L32 = label(TSGIF, 220, 36, L"Y");
    E11 = edit(TSGIF, 316, 32, 50, 6);
    L33 = label(TSGIF, 220, 64, L"D");
    E12 = edit(TSGIF, 316, 60, 50, 6);
    L36 = label(TSGIF, 370, 64, L"1/100 s");
    const classlib::TNotifyEvent gif(this, &TfIOPreviews::ComboBox5Click);
    Comb5->OnChange = gif;
    CB4->OnClick = gif;
    CB5->OnClick = gif;
    for (classlib::TEdit* e : {E10, E11, E12}) {
        e->OnChange = gif;
        editHandlers(e);
    }

    // BMP page
    TSBMP = MakePage(L"BMP");
    L37 = label(TSBMP, 6, 8, L"C");
    Comb6 = combo(TSBMP, 110, 4, 140, {L"UNCOMPRESSED", L"RLE"});
    L21 = label(TSBMP, 6, 36, L"C");
    Comb7 = combo(TSBMP, 110, 32, 140,
                  {L"1 BPP (2 Colors)", L"4 BPP (16 Colors)", L"8 BPP (256 Colors)", L"24 BPP True Image",
                   L"32 BPP True Image"});
    label(TSBMP, 270, 8, L"DPI X:");
    E_BMP_DPIX = edit(TSBMP, 320, 4, 40, 5);
    label(TSBMP, 270, 36, L"DPI Y:");
    E_BMP_DPIY = edit(TSBMP, 320, 32, 40, 5);
    const classlib::TNotifyEvent bmp(this, &TfIOPreviews::Comb6Change);
    Comb6->OnChange = bmp;
    Comb7->OnChange = bmp;
    for (classlib::TEdit* e : {E_BMP_DPIX, E_BMP_DPIY}) {
        e->OnChange = bmp;
        editHandlers(e);
    }

    // TGA page
    TSTGA = MakePage(L"TGA");
    L62 = label(TSTGA, 6, 8, L"C");
    Comb14 = combo(TSTGA, 110, 4, 100, {L"B/W", L"256", L"16M"});
    L63 = label(TSTGA, 6, 36, L"B");
    P5 = swatch(TSTGA, 110, 32, &TfIOPreviews::P5Click);
    CB1 = check(TSTGA, 6, 62, 180, L"C");
    L64 = label(TSTGA, 230, 8, L"N");
    E13 = edit(TSTGA, 300, 4, 105, 255);
    L65 = label(TSTGA, 230, 36, L"D");
    E14 = edit(TSTGA, 300, 32, 105, 255);
    const classlib::TNotifyEvent tga(this, &TfIOPreviews::Comb14Click);
    Comb14->OnChange = tga;
    CB1->OnClick = tga;
    E13->OnChange = tga;
    E14->OnChange = tga;

    // JPEG 2000 page
    TSJ2000 = MakePage(L"JPEG2000");
    L66 = label(TSJ2000, 6, 8, L"R");
    E15 = edit(TSJ2000, 110, 4, 40, 4);
    Mb1 = new TPxScrollBar(this);
    Mb1->SetParent(TSJ2000);
    Mb1->SetBounds(156, 6, 190, 17);
    Mb1->SetRange(0, 1000);
    L71 = label(TSJ2000, 6, 36, L"P");
    Comb15 = combo(TSJ2000, 110, 32, 100, {L"GrayScale", L"RGB", L"YCbCr"});
    editHandlers(E15);
    E15->OnChange = classlib::TNotifyEvent(this, &TfIOPreviews::E15Change);
    E15->OnEnter = classlib::TNotifyEvent(this, &TfIOPreviews::E22Enter);
    const classlib::TNotifyEvent j2k(this, &TfIOPreviews::Mb1Change);
    Comb15->OnChange = j2k;
    Mb1->OnChange = j2k;
    Mb1->OnScroll = TPxScrollEvent(this, &TfIOPreviews::Mb13Scroll);

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
    L5->SetCaption(Colon(m(48)));
    L7->SetCaption(Colon(m(50)));
    Gr1->SetCaption(L" " + m(51) + L" ");
    L12->SetCaption(Colon(m(52)));
    L13->SetCaption(Colon(m(53)));
    L14->SetCaption(Colon(m(54)));
    L8->SetCaption(Colon(m(64)));
    L10->SetCaption(Colon(m(65)));
    L38->SetCaption(Colon(m(59)));
    CB4->SetCaption(m(60));
    L34->SetCaption(Colon(m(61)));
    CB5->SetCaption(m(62));
    L35->SetCaption(Colon(m(63)));
    L31->SetCaption(Colon(m(64)));
    L32->SetCaption(Colon(m(65)));
    L33->SetCaption(Colon(m(66)));
    L37->SetCaption(Colon(m(48)));
    L21->SetCaption(Colon(m(59)));
    L62->SetCaption(Colon(m(59)));
    L63->SetCaption(Colon(m(63)));
    CB1->SetCaption(m(48));
    L64->SetCaption(Colon(m(52)));
    L65->SetCaption(Colon(m(53)));
    L66->SetCaption(Colon(m(124)));
    L71->SetCaption(Colon(m(50)));
    CancelCaption = L"&" + m(5);
}

bool TfIOPreviews::SetPages(uint16_t Pages)
{
    pages_ = Pages;
    if (Pages & ppAuto && Params) {
        // A format's page bit is the preview page of its description.
        if (const TPxFormatDescription* format = PxFormatDescription(Params->FileFormat))
            pages_ |= format->PreviewPage;
    }
    return pages_ != ppAuto;
}

void TfIOPreviews::SetActivePage(TPxPreviewsPage* Page)
{
    for (TPxPreviewsPage* p : pages_list_)
        p->SetVisible(p == Page);
    if (Page) {
        const POINT at = PgCon->BodyOrigin();
        Page->SetBounds(at.x, at.y, Page->GetWidth(), Page->GetHeight());
    }
    // The page lies over the tab control's body.
    if (Page && Page->HandleAllocated())
        SetWindowPos(Page->GetHandle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    active_ = Page;
    for (size_t i = 0; i < tabPages_.size(); ++i)
        if (tabPages_[i] == Page)
            PgCon->SetTabIndex(static_cast<int>(i));
}

void TfIOPreviews::FormShow(classlib::TObject*)
{
    // Languages whose texts are longer than the layout's room.
    switch (PRIMARYLANGID(GetUserDefaultLangID())) {
    case 0x0B:  // Finnish
        for (classlib::TEdit* e : {E4, E5, E6})
            e->SetWidth(102);
        break;
    case 0x15:  // Polish
        for (classlib::TEdit* e : {E4, E5, E6})
            e->SetWidth(118);
        CB4->SetLeft(16);
        CB5->SetLeft(16);
        break;
    case 0x08:  // Greek
        ComB1->SetLeft(142);
        E23->SetLeft(142);
        ComB13->SetLeft(142);
        L26->SetLeft(66);
        L57->SetLeft(54);
        E23UD->SetLeft(203);
        L27->SetLeft(6);
        break;
    default: break;
    }
}

// A swatch under the mouse looks pressed.
void TfIOPreviews::MouseEnter(classlib::TObject* Sender)
{
    if (auto* p = dynamic_cast<classlib::TPanel*>(Sender))
        p->SetBevelOuter(classlib::bvLowered);
}

void TfIOPreviews::MouseLeave(classlib::TObject* Sender)
{
    if (auto* p = dynamic_cast<classlib::TPanel*>(Sender))
        p->SetBevelOuter(classlib::bvRaised);
}

void TfIOPreviews::DoShow()
{
    if (!shown_) {
        shown_ = true;
        FormShow(this);
    }
    classlib::TForm::DoShow();
    if (!activated_) {
        activated_ = true;
        FormActivate(this);
    }
}

void TfIOPreviews::FormActivate(classlib::TObject*)
{
    ControlsReady = true;
    // Tabs on top on the platforms whose dialogs have them there (XP, Vista,
    // 7), at the bottom on every other one.
    const uint8_t version = PxGetWinVersion();
    PgCon->SetTabsAtBottom(version != 6 && version != 8 && version != 9);
    CB_Preview->SetChecked(DefaultLockPreview);
    PgCon->SetVisible(false);
    tabPages_.clear();
    const struct {
        TPxPreviewsPage* Page;
        uint16_t Bit;
    } order[] = {{TSJPEG, ppJPEG}, {TSTIFF, ppTIFF}, {TSGIF, ppGIF}, {TSBMP, ppBMP},
                 {TSPCX, ppPCX},   {TSPNG, ppPNG},   {TSTGA, ppTGA}, {TSJ2000, ppJ2000}};
    for (const auto& o : order)
        if ((pages_ & ppAll) || (pages_ & o.Bit))
            tabPages_.push_back(o.Page);
    std::vector<std::wstring> captions;
    for (TPxPreviewsPage* p : tabPages_)
        captions.push_back(p->Caption);
    PgCon->SetTabs(captions);
    SetActivePage(tabPages_.empty() ? nullptr : tabPages_.front());
    ComB2->GetItems()->Clear();
    for (const wchar_t* c : {L"UNCOMPRESSED", L"CCITT1D", L"G3FAX1D", L"G3FAX2D", L"G4FAX", L"LZW", L"JPEG", L"PACKBITS"})
        ComB2->GetItems()->Add(c);
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

    w.TiffCompression = p.TIFFCompression;
    w.TiffPhotometric = p.TIFFPhotometric;
    w.TiffBits = p.BitsPerSample;
    w.TiffSamples = p.SamplesPerPixel;
    w.TDpiX = ShownDpi(p.EXIFXResolution, p.DpiX);
    w.TDpiY = ShownDpi(p.EXIFYResolution, p.DpiY);
    w.TiffDocumentName = Wide(p.TIFFDocumentName);
    w.TiffPageName = Wide(p.TIFFPageName);
    w.TiffDescription = Wide(p.TIFFImageDescription);
    w.TiffXPos = p.TIFFXPos;
    w.TiffYPos = p.TIFFYPos;
    w.TiffImageIndex = p.TIFFImageIndex;
    w.TiffPageNumber = p.TIFFPageNumber;
    w.TiffPageCount = p.TIFFPageCount;

    w.GifBits = p.BitsPerSample;
    w.GifTransparent = p.GIFTransparent;
    w.GifTranspColor = p.GIFTransparentColor;
    w.GifInterlaced = p.GIFInterlaced;
    w.GifBackground = p.GIFBackground;
    w.GifXPos = p.GIFXPos;
    w.GifYPos = p.GIFYPos;
    w.GifDelay = p.GIFDelayTime;
    w.GifImageIndex = p.GIFImageIndex;

    w.BmpCompression = p.BMPCompression;
    w.BmpColors = 3;
    if (p.SamplesPerPixel == 1 && (p.BitsPerSample == 1 || p.BitsPerSample == 4 || p.BitsPerSample == 8))
        w.BmpColors = p.BitsPerSample == 1 ? 0 : p.BitsPerSample == 4 ? 1 : 2;
    else if (p.FileFormat == ffBMP && p.SamplesPerPixel == 4)
        w.BmpColors = 4;
    w.BDpiX = ShownDpi(p.EXIFXResolution, p.DpiX);
    w.BDpiY = ShownDpi(p.EXIFYResolution, p.DpiY);

    w.TgaColors = p.SamplesPerPixel == 1 ? (p.BitsPerSample == 1 ? 0 : 1) : 2;
    w.TgaBackground = p.TGABackground;
    w.TgaCompressed = p.TGACompressed;
    w.TgaName = Wide(p.TGAImageName);
    w.TgaDescription = Wide(p.TGADescriptor);

    w.J2kRate = p.J2000Rate;
    w.J2kColorSpace = p.J2000ColorSpace;
}

int TfIOPreviews::TIFFCompressionToIndex(int Compression)
{
    if (Compression >= 0 && Compression <= 5)
        return Compression;
    return Compression == 7 ? 6 : Compression == 8 ? 7 : 0;
}

int TfIOPreviews::IndexToTIFFCompression(int Index)
{
    if (Index >= 0 && Index <= 5)
        return Index;
    return Index == 6 ? 7 : Index == 7 ? 8 : 0;
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
        Working.JDpiX = Working.JDpiY = Working.TDpiX = Working.TDpiY = 0;
        Working.BDpiX = Working.BDpiY = Working.PDpiX = Working.PDpiY = 0;
        Img1->SetScrollBars(classlib::ssNone);
        Img1->SetMouseInteract(0);
        Img1->SetZoom(100);
        L1->SetCaption(SourceCaption);
        for (classlib::TControl* c : {static_cast<classlib::TControl*>(CB_Preview), static_cast<classlib::TControl*>(L1),
                                      static_cast<classlib::TControl*>(L2), static_cast<classlib::TControl*>(L3)})
            c->SetEnabled(false);
    }
    TWorking& w = Working;
    const bool dpi = Params && Params->DpiEditable;
    auto showDpi = [&](classlib::TEdit* X, classlib::TEdit* Y, int DpiX, int DpiY) {
        X->SetEnabled(dpi);
        Y->SetEnabled(dpi);
        X->SetText(dpi ? std::to_wstring(DpiX) : L"");
        Y->SetText(dpi ? std::to_wstring(DpiY) : L"");
    };
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
    } else if (active_ == TSJ2000) {
        E15->SetText(std::to_wstring(std::lround(w.J2kRate * 1000)));
        Mb1->SetPosition(static_cast<int>(std::lround(w.J2kRate * 1000)));
        Comb15->SetItemIndex(w.J2kColorSpace);
    } else if (active_ == TSTIFF) {
        showDpi(E_TIFF_DPIX, E_TIFF_DPIY, w.TDpiX, w.TDpiY);
        if (Params && Params->FileFormat == ffTIFF) {
            ComB2->SetItemIndex(TIFFCompressionToIndex(w.TiffCompression));
            switch (w.TiffPhotometric) {
            case 0: ComB3->SetItemIndex(0); break;
            case 1: ComB3->SetItemIndex(1); break;
            case 2:
            case 6: ComB3->SetItemIndex(4); break;
            case 3:
                if (w.TiffBits >= 1 && w.TiffBits <= 4)
                    ComB3->SetItemIndex(2);
                else if ((w.TiffBits >= 5 && w.TiffBits <= 8) || w.TiffBits == 16)
                    ComB3->SetItemIndex(3);
                break;
            case 5: ComB3->SetItemIndex(5); break;
            case 7: ComB3->SetItemIndex(6); break;
            default: break;
            }
        } else if (Params) {
            // Another format's parameters: the nearest TIFF layout of its colours.
            ComB2->SetItemIndex(0);
            const TIOParamsVals& p = *Params;
            if (p.SamplesPerPixel == 1) {
                w.TiffPhotometric = 3;
                w.TiffSamples = 1;
                if (p.BitsPerSample <= 4) {
                    w.TiffBits = 4;
                    ComB3->SetItemIndex(2);
                } else {
                    w.TiffBits = 8;
                    ComB3->SetItemIndex(3);
                }
            } else if (p.SamplesPerPixel == 3 || p.SamplesPerPixel == 5) {
                w.TiffPhotometric = 2;
                ComB3->SetItemIndex(4);
            } else if (p.SamplesPerPixel == 4) {
                if (p.FileFormat == ffJPEG && p.JPEGColorSpace == 3) {
                    w.TiffPhotometric = 5;
                    ComB3->SetItemIndex(5);
                } else {
                    w.TiffPhotometric = 2;
                    ComB3->SetItemIndex(4);
                }
            }
        }
        E4->SetText(w.TiffDocumentName);
        E5->SetText(w.TiffDescription);
        E6->SetText(w.TiffPageName);
        E2->SetText(std::to_wstring(w.TiffXPos));
        E3->SetText(std::to_wstring(w.TiffYPos));
    } else if (active_ == TSGIF) {
        Comb5->SetItemIndex(w.GifBits - 1);
        CB4->SetChecked(w.GifTransparent);
        L34->SetEnabled(w.GifTransparent);
        P3->SetEnabled(w.GifTransparent);
        P3->SetColor(static_cast<classlib::TColor>(PxRGBToColor(w.GifTranspColor)));
        P4->SetColor(static_cast<classlib::TColor>(PxRGBToColor(w.GifBackground)));
        CB5->SetChecked(w.GifInterlaced);
        E10->SetText(std::to_wstring(w.GifXPos));
        E11->SetText(std::to_wstring(w.GifYPos));
        E12->SetText(std::to_wstring(w.GifDelay));
    } else if (active_ == TSBMP) {
        showDpi(E_BMP_DPIX, E_BMP_DPIY, w.BDpiX, w.BDpiY);
        Comb6->SetItemIndex(w.BmpCompression ? 1 : 0);
        Comb7->SetItemIndex(w.BmpColors);
    } else if (active_ == TSTGA) {
        Comb14->SetItemIndex(w.TgaColors);
        P5->SetColor(static_cast<classlib::TColor>(PxRGBToColor(w.TgaBackground)));
        CB1->SetChecked(w.TgaCompressed);
        E13->SetText(w.TgaName);
        E14->SetText(w.TgaDescription);
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
        PaletteReduction(Target, P);
    } else if (active_ == TSJ2000) {
        progressPhases_ = 2;
        P->J2000Rate = w.J2kRate;
        P->J2000ColorSpace = static_cast<uint8_t>(w.J2kColorSpace);
        P->BitsPerSample = 8;
        P->SamplesPerPixel = 3;
        PreviewIO->SaveJ2KToStream(&memory);
        L2->SetCaption(ResultCaption + std::to_wstring(memory.GetSize()) + L" bytes");
        if (classlib::Application)
            classlib::Application->ProcessMessages();
        memory.SetPosition(0);
        PreviewIO->SetAttachedPxBitmap(Target->GetPxBitmap());
        progressBase_ = 50;
        PreviewIO->LoadJ2KFromStream(&memory);
    } else if (active_ == TSTIFF) {
        progressPhases_ = 1;
        P->TIFFLZWDecompress = Params ? Params->TIFFLZWDecompress : P->TIFFLZWDecompress;
        P->TIFFLZWCompress = Params ? Params->TIFFLZWCompress : P->TIFFLZWCompress;
        P->TIFFCompression = static_cast<uint8_t>(w.TiffCompression);
        P->TIFFPhotometric = static_cast<uint8_t>(w.TiffPhotometric);
        P->SamplesPerPixel = w.TiffSamples;
        P->BitsPerSample = w.TiffBits;
        PreviewIO->SaveTIFFToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        if (P->TIFFPhotometric <= 1 && P->BitsPerSample == 8 && P->SamplesPerPixel == 1) {
            PreviewProc->AttachBitmap(Target->GetPxBitmap());
            PreviewProc->ConvertToGray();
            PreviewProc->AttachBitmap(nullptr);
            P->FreeColorMap();
        } else if (P->TIFFPhotometric < 5) {
            PaletteReduction(Target, P);
        }
    } else if (active_ == TSGIF) {
        progressPhases_ = 1;
        P->GIFLZWDecompress = Params ? Params->GIFLZWDecompress : P->GIFLZWDecompress;
        P->GIFLZWCompress = Params ? Params->GIFLZWCompress : P->GIFLZWCompress;
        P->BitsPerSample = w.GifBits;
        P->SamplesPerPixel = 1;
        P->GIFInterlaced = w.GifInterlaced;
        PreviewIO->SaveGIFToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        PaletteReduction(Target, P);
    } else if (active_ == TSBMP) {
        progressPhases_ = 1;
        P->BMPCompression = static_cast<uint8_t>(w.BmpCompression);
        P->BitsPerSample = kBmpBits[w.BmpColors];
        P->SamplesPerPixel = kBmpSamples[w.BmpColors];
        P->BMPWriteAlpha = w.BmpColors == 4;
        PreviewIO->SaveBMPToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        const int64_t n = PxPow2(P->BitsPerSample, P->SamplesPerPixel);
        if (n <= 256) {
            PreviewProc->AttachBitmap(Target->GetPxBitmap());
            PreviewProc->ConvertTo(static_cast<int>(n), BilevelMode);
            PreviewProc->AttachBitmap(nullptr);
        }
    } else if (active_ == TSTGA) {
        progressPhases_ = 1;
        P->BitsPerSample = kColourBits[w.TgaColors];
        P->SamplesPerPixel = kColourSamples[w.TgaColors];
        P->TGACompressed = w.TgaCompressed;
        PreviewIO->SaveTGAToStream(&counter);
        L2->SetCaption(ResultCaption + std::to_wstring(counter.GetSize()) + L" bytes");
        copyToTarget();
        PaletteReduction(Target, P);
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

void TfIOPreviews::PaletteReduction(TImgView* Target, TIOParamsVals* P)
{
    const int64_t n = PxPow2(P->BitsPerSample, P->SamplesPerPixel);
    P->FreeColorMap();
    if (n > 256)
        return;
    PreviewProc->AttachBitmap(Target->GetPxBitmap());
    P->AllocColorMap(static_cast<int32_t>(n));
    PreviewProc->ConvertToPalette(static_cast<int>(n), P->ColorMap.get(), BilevelMode);
    PreviewProc->AttachBitmap(nullptr);
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
    } else if (active_ == TSJ2000) {
        p.J2000Rate = w.J2kRate;
        p.BitsPerSample = 8;
        p.SamplesPerPixel = w.J2kColorSpace == 0 ? 1 : 3;
        p.J2000ColorSpace = static_cast<uint8_t>(std::clamp(w.J2kColorSpace, 0, 2));
    } else if (active_ == TSTIFF) {
        p.TIFFCompression = static_cast<uint8_t>(w.TiffCompression);
        p.TIFFPhotometric = static_cast<uint8_t>(w.TiffPhotometric);
        p.BitsPerSample = w.TiffBits;
        p.SamplesPerPixel = w.TiffSamples;
        if (p.DpiEditable) {
            p.SetDpiX(w.TDpiX);
            p.SetDpiY(w.TDpiY);
        }
        p.TIFFDocumentName = Narrow(w.TiffDocumentName);
        p.TIFFPageName = Narrow(w.TiffPageName);
        p.TIFFImageDescription = Narrow(w.TiffDescription);
        p.TIFFXPos = w.TiffXPos;
        p.TIFFYPos = w.TiffYPos;
        p.SetImageIndex(w.TiffImageIndex);
        p.TIFFPageNumber = w.TiffPageNumber;
        p.TIFFPageCount = w.TiffPageCount;
    } else if (active_ == TSGIF) {
        p.BitsPerSample = w.GifBits;
        p.GIFTransparent = w.GifTransparent;
        p.GIFTransparentColor = w.GifTranspColor;
        p.GIFInterlaced = w.GifInterlaced;
        p.GIFBackground = w.GifBackground;
        p.GIFXPos = w.GifXPos;
        p.GIFYPos = w.GifYPos;
        p.GIFDelayTime = w.GifDelay;
        p.SetImageIndex(w.GifImageIndex);
    } else if (active_ == TSBMP) {
        p.BMPCompression = static_cast<uint8_t>(w.BmpCompression);
        p.BitsPerSample = kBmpBits[w.BmpColors];
        p.SamplesPerPixel = kBmpSamples[w.BmpColors];
        p.BMPWriteAlpha = w.BmpColors == 4;
        if (p.DpiEditable) {
            p.SetDpiX(w.BDpiX);
            p.SetDpiY(w.BDpiY);
        }
    } else if (active_ == TSTGA) {
        p.BitsPerSample = kColourBits[w.TgaColors];
        p.SamplesPerPixel = kColourSamples[w.TgaColors];
        p.TGABackground = w.TgaBackground;
        p.TGACompressed = w.TgaCompressed;
        p.TGAImageName = Narrow(w.TgaName);
        p.TGADescriptor = Narrow(w.TgaDescription);
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

bool TfIOPreviews::PickFromPalette(int Count, classlib::TColor& Colour)
{
    TIOParamsVals* P = PreviewIO->FileParams;
    TImgPaletteDialog dlg(this);
    dlg.SetPalette(P->ColorMap.get(), std::clamp(Count, 0, P->ColorMapCount));
    dlg.GetCancelButton()->SetCaption(CancelCaption);
    if (!dlg.Execute())
        return false;
    Colour = dlg.Color;
    return true;
}

namespace {

// The PNG and TGA background swatches: the preview's palette when there is
// one, else the system colour dialog.
void PickBackground(TfIOPreviews* Form, classlib::TPanel* Swatch, TPxRGB& Working)
{
    TIOParamsVals* P = Form->PreviewIO->FileParams;
    classlib::TColor colour = Swatch->GetColor();
    if (P->ColorMap) {
        if (Form->PickFromPalette(static_cast<int>(PxPow2(P->BitsPerSample, P->SamplesPerPixel)), colour))
            Swatch->SetColor(colour);
    } else {
        classlib::TColorDialog dlg(Form);
        dlg.Color = Swatch->GetColor();
        if (dlg.Execute(Form->GetHandle()))
            Swatch->SetColor(dlg.Color);
    }
    Working = PxColorToRGB(Swatch->GetColor());
    Form->Button4->SetEnabled(true);
}

}  // namespace

void TfIOPreviews::P1Click(classlib::TObject*) { PickBackground(this, P1, Working.PngBackground); }

void TfIOPreviews::P5Click(classlib::TObject*) { PickBackground(this, P5, Working.TgaBackground); }

// The GIF swatches offer the colours of the GIF preview's palette.
void TfIOPreviews::P3Click(classlib::TObject*)
{
    if (!PreviewIO->FileParams->ColorMap)
        MakePreview(Img2);
    classlib::TColor colour = P3->GetColor();
    if (PickFromPalette(static_cast<int>(PxPow2(Working.GifBits, 1)), colour))
        P3->SetColor(colour);
    Working.GifTranspColor = PxColorToRGB(P3->GetColor());
    Button4->SetEnabled(true);
}

void TfIOPreviews::P4Click(classlib::TObject*)
{
    if (!PreviewIO->FileParams->ColorMap)
        MakePreview(Img2);
    classlib::TColor colour = P4->GetColor();
    if (PickFromPalette(static_cast<int>(PxPow2(Working.GifBits, 1)), colour))
        P4->SetColor(colour);
    Working.GifBackground = PxColorToRGB(P4->GetColor());
    Button4->SetEnabled(true);
}

void TfIOPreviews::ComboBox2Click(classlib::TObject* Sender)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int dpix = ReadInt(E_TIFF_DPIX, 300);
    const int dpiy = ReadInt(E_TIFF_DPIY, 300);
    // Keep compression and photometric compatible: the fax codings take
    // only black and white, JPEG only RGB.
    auto set = [&](classlib::TComboBox* Combo, int Index) {
        ControlsReady = false;
        Combo->SetItemIndex(Index);
        ControlsReady = true;
    };
    if (Sender == ComB3) {
        const int c2 = ComB2->GetItemIndex();
        if (ComB3->GetItemIndex() < 2) {
            if (c2 == 0 || c2 > 4)
                set(ComB2, 1);
        } else if (c2 >= 1 && c2 <= 4) {
            set(ComB2, 0);
        }
        if (ComB2->GetItemIndex() == 6 && ComB3->GetItemIndex() != 4)
            set(ComB2, 0);
    } else if (Sender == ComB2) {
        const int c2 = ComB2->GetItemIndex();
        if (c2 >= 1 && c2 <= 4) {
            if (ComB3->GetItemIndex() > 1)
                set(ComB3, 0);
        } else if (ComB3->GetItemIndex() <= 1) {
            set(ComB3, 4);
        }
        if (c2 == 6)
            set(ComB3, 4);
    }
    const int compression = IndexToTIFFCompression(ComB2->GetItemIndex());
    const int c3 = Pos(ComB3, 7);
    if (compression != w.TiffCompression || kTiffPhotometric[c3] != w.TiffPhotometric || kTiffBits[c3] != w.TiffBits ||
        kTiffSamples[c3] != w.TiffSamples || dpix != w.TDpiX || dpiy != w.TDpiY) {
        w.TiffCompression = compression;
        w.TiffPhotometric = kTiffPhotometric[c3];
        w.TiffBits = kTiffBits[c3];
        w.TiffSamples = kTiffSamples[c3];
        w.TDpiX = dpix;
        w.TDpiY = dpiy;
        Preview();
    }
    w.TiffXPos = ReadInt(E2, 0);
    w.TiffYPos = ReadInt(E3, 0);
    w.TiffDocumentName = E4->GetText();
    w.TiffDescription = E5->GetText();
    w.TiffPageName = E6->GetText();
    Button4->SetEnabled(true);
}

void TfIOPreviews::ComboBox5Click(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int bits = Pos(Comb5, 8) + 1;
    if (bits != w.GifBits || CB5->GetChecked() != w.GifInterlaced) {
        w.GifBits = bits;
        w.GifInterlaced = CB5->GetChecked();
        Preview();
    }
    w.GifXPos = ReadInt(E10, 0);
    w.GifYPos = ReadInt(E11, 0);
    w.GifDelay = ReadInt(E12, 0);
    w.GifTransparent = CB4->GetChecked();
    L34->SetEnabled(w.GifTransparent);
    P3->SetEnabled(w.GifTransparent);
    w.GifInterlaced = CB5->GetChecked();
    Button4->SetEnabled(true);
}

void TfIOPreviews::Comb6Change(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int colours = Pos(Comb7, 5);
    const int compression = Comb6->GetItemIndex() > 0 ? 1 : 0;
    const int dpix = ReadInt(E_BMP_DPIX, 300);
    const int dpiy = ReadInt(E_BMP_DPIY, 300);
    if (colours != w.BmpColors || compression != w.BmpCompression || dpix != w.BDpiX || dpiy != w.BDpiY) {
        w.BmpColors = colours;
        w.BmpCompression = compression;
        w.BDpiX = dpix;
        w.BDpiY = dpiy;
        Preview();
    }
    Button4->SetEnabled(true);
}

void TfIOPreviews::Comb14Click(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    const int colours = Pos(Comb14, 3);
    if (colours != w.TgaColors || CB1->GetChecked() != w.TgaCompressed) {
        w.TgaColors = colours;
        w.TgaCompressed = CB1->GetChecked();
        Preview();
    }
    w.TgaName = E13->GetText();
    w.TgaDescription = E14->GetText();
    Button4->SetEnabled(true);
}

void TfIOPreviews::E15Change(classlib::TObject*)
{
    if (!ControlsReady)
        return;
    const double rate = ReadInt(E15, 1000) / 1000.0;
    if (rate != Working.J2kRate) {
        Mb1->SetPosition(static_cast<int>(std::trunc(rate * 1000)));
        Mb1Change(this);
    }
    Button4->SetEnabled(true);
}

void TfIOPreviews::Mb1Change(classlib::TObject* Sender)
{
    if (!ControlsReady)
        return;
    TWorking& w = Working;
    if (Mb1->GetPosition() == std::lround(w.J2kRate * 1000) && Comb15->GetItemIndex() == w.J2kColorSpace)
        return;
    w.J2kRate = Mb1->GetPosition() / 1000.0;
    w.J2kColorSpace = Pos(Comb15, 3);
    E15->SetText(std::to_wstring(std::lround(w.J2kRate * 1000)));
    if (Sender == Mb1)
        return;
    Preview();
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
