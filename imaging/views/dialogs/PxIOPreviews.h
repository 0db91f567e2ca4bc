// TfIOPreviews: the modal "Parameters Preview" form in which the user
// chooses how one image will be saved. The source image is shown on the
// left, the image as it comes out of the encoder on the right with the
// encoded size. The form edits the caller's TIOParamsVals in place: OK and
// Apply copy the values of the page on display into it; Cancel leaves it as
// it was after the last Apply. A page change reloads the page from the
// parameters, so values edited and not applied before it are dropped.
//
// The I/O objects' DoPreviews create, fill and show it through the dialog
// interface of the I/O layer; PxInstallIOPreviewsForm puts it there.
//
// Ownership: the form owns its controls, PreviewIO and PreviewProc; Params
// is borrowed. Threads: the window's thread only; PreviewIO works
// synchronously.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "classlib/ComCtrls.h"
#include "classlib/ExtCtrls.h"
#include "imaging/model/PxWords.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/dialogs/PxOpenSaveDlg.h"

namespace imaging {

class TIOParamsVals;
class TImgIO;
class TImgProc;

// Page bits of the pages set.
constexpr uint16_t ppAll = 1u << 0;
constexpr uint16_t ppAuto = 1u << 1;
constexpr uint16_t ppJPEG = 1u << 2;
constexpr uint16_t ppTIFF = 1u << 3;
constexpr uint16_t ppGIF = 1u << 4;
constexpr uint16_t ppBMP = 1u << 5;
constexpr uint16_t ppPCX = 1u << 6;
constexpr uint16_t ppPNG = 1u << 7;
constexpr uint16_t ppTGA = 1u << 8;
constexpr uint16_t ppJ2000 = 1u << 9;

enum TPxScrollCode : uint8_t { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom,
                               scEndScroll };
using TPxScrollEvent = classlib::TEvent<void(classlib::TObject* Sender, TPxScrollCode Code, int& Position)>;

// A horizontal scroll bar over the system's; Position setter fires OnChange
// when the clamped value changes.
class TPxScrollBar : public classlib::TSystemControl {
public:
    explicit TPxScrollBar(classlib::TComponent* Owner);
    std::wstring ClassName() const override { return L"TPxScrollBar"; }
    int GetPosition() const { return position_; }
    void SetPosition(int Value);
    void SetRange(int Min, int Max);
    int GetMin() const { return min_; }
    int GetMax() const { return max_; }
    classlib::TNotifyEvent OnChange;
    TPxScrollEvent OnScroll;
    // A WM_HSCROLL of the parent for this bar.
    void ScrollMessage(int Code, int Pos);

protected:
    std::wstring SystemClassName() const override { return L"SCROLLBAR"; }
    void CreateParams(classlib::TCreateParams& Params) override;
    void CreateHandleDone() override;

private:
    int position_ = 0;
    int min_ = 0;
    int max_ = 100;
};

// A page of the form: a panel that hands its scroll bars' messages to them.
class TPxPreviewsPage : public classlib::TPanel {
public:
    explicit TPxPreviewsPage(classlib::TComponent* Owner) : classlib::TPanel(Owner) {}
    std::wstring ClassName() const override { return L"TPxPreviewsPage"; }
    std::wstring Caption;
    void WndProc(classlib::TMessage& Message) override;
};

// The tab row over the system's tab control; the form shows the page of
// the chosen tab.
class TPxPreviewsTabs : public classlib::TSystemControl {
public:
    explicit TPxPreviewsTabs(classlib::TComponent* Owner);
    std::wstring ClassName() const override { return L"TPxPreviewsTabs"; }
    void SetTabs(const std::vector<std::wstring>& Captions);
    int GetTabIndex() const;
    void SetTabIndex(int Value);
    // Tabs along the bottom edge instead of the top (the window is made
    // again when this changes while it exists).
    bool GetTabsAtBottom() const { return bottom_; }
    void SetTabsAtBottom(bool Value);
    // The top-left corner of the area beside the tabs, in the parent's
    // coordinates: where a page goes.
    POINT BodyOrigin();
    classlib::TNotifyEvent OnChange;
    classlib::TNotifyEvent OnChanging;

protected:
    std::wstring SystemClassName() const override { return L"SysTabControl32"; }
    void CreateParams(classlib::TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNNotify(classlib::TMessage& Message) override;

private:
    std::vector<std::wstring> tabs_;
    int index_ = -1;
    bool bottom_ = false;
};

class TfIOPreviews : public classlib::TForm {
public:
    explicit TfIOPreviews(classlib::TComponent* Owner);
    ~TfIOPreviews() override;
    std::wstring ClassName() const override { return L"TfIOPreviews"; }

    TIOParamsVals* Params = nullptr;
    std::wstring SourceFileName;
    bool Simplified = false;
    bool DefaultLockPreview = false;
    bool BilevelMode = true;
    bool ControlsReady = false;
    std::wstring SourceCaption;
    std::wstring ResultCaption;
    std::wstring ZoomCaption;
    std::wstring CancelCaption = L"&Cancel";
    TImgIO* PreviewIO = nullptr;
    TImgProc* PreviewProc = nullptr;

    void ApplyLanguage(TMsgLanguage Language);
    // false exactly when nothing but the automatic bit is left.
    bool SetPages(uint16_t Pages);
    uint16_t GetPages() const { return pages_; }
    // The page on display (nullptr before the form is shown).
    TPxPreviewsPage* GetActivePage() const { return active_; }
    void SetActivePage(TPxPreviewsPage* Page);

    // ---- controls
    TImgView* Img1 = nullptr;
    TImgView* Img2 = nullptr;
    classlib::TLabel* L1 = nullptr;
    classlib::TLabel* L2 = nullptr;
    classlib::TLabel* L3 = nullptr;
    TPxDialogProgressBar* ProgressBar1 = nullptr;
    classlib::TCheckBox* CB_Preview = nullptr;
    TPxPreviewsTabs* PgCon = nullptr;
    classlib::TButton* Button4 = nullptr;
    classlib::TButton* btnOK = nullptr;
    classlib::TButton* btnCancel = nullptr;
    // JPEG page
    TPxPreviewsPage* TSJPEG = nullptr;
    classlib::TEdit* E22 = nullptr;
    TPxScrollBar* Mb13 = nullptr;
    classlib::TComboBox* ComB13 = nullptr;
    classlib::TComboBox* ComB1 = nullptr;
    classlib::TCheckBox* CB2 = nullptr;
    classlib::TEdit* E23 = nullptr;
    classlib::TUpDown* E23UD = nullptr;
    classlib::TCheckBox* CB3 = nullptr;
    classlib::TEdit* E_JPEG_DPIX = nullptr;
    classlib::TEdit* E_JPEG_DPIY = nullptr;
    classlib::TLabel* L23 = nullptr;
    classlib::TLabel* L26 = nullptr;
    classlib::TLabel* L27 = nullptr;
    classlib::TLabel* L57 = nullptr;
    classlib::TLabel* Label1 = nullptr;
    classlib::TLabel* Label2 = nullptr;
    // TIFF page
    TPxPreviewsPage* TSTIFF = nullptr;
    classlib::TComboBox* ComB2 = nullptr;
    classlib::TComboBox* ComB3 = nullptr;
    classlib::TEdit* E_TIFF_DPIX = nullptr;
    classlib::TEdit* E_TIFF_DPIY = nullptr;
    classlib::TEdit* E2 = nullptr;
    classlib::TEdit* E3 = nullptr;
    classlib::TEdit* E4 = nullptr;
    classlib::TEdit* E5 = nullptr;
    classlib::TEdit* E6 = nullptr;
    classlib::TLabel* L5 = nullptr;
    classlib::TLabel* L7 = nullptr;
    classlib::TLabel* L8 = nullptr;
    classlib::TLabel* L10 = nullptr;
    classlib::TLabel* Gr1 = nullptr;
    classlib::TLabel* L12 = nullptr;
    classlib::TLabel* L13 = nullptr;
    classlib::TLabel* L14 = nullptr;
    // GIF page
    TPxPreviewsPage* TSGIF = nullptr;
    classlib::TComboBox* Comb5 = nullptr;
    classlib::TCheckBox* CB4 = nullptr;
    classlib::TPanel* P3 = nullptr;
    classlib::TCheckBox* CB5 = nullptr;
    classlib::TPanel* P4 = nullptr;
    classlib::TEdit* E10 = nullptr;
    classlib::TEdit* E11 = nullptr;
    classlib::TEdit* E12 = nullptr;
    classlib::TLabel* L38 = nullptr;
    classlib::TLabel* L34 = nullptr;
    classlib::TLabel* L35 = nullptr;
    classlib::TLabel* L31 = nullptr;
    classlib::TLabel* L32 = nullptr;
    classlib::TLabel* L33 = nullptr;
    classlib::TLabel* L36 = nullptr;
    // BMP page
    TPxPreviewsPage* TSBMP = nullptr;
    classlib::TComboBox* Comb6 = nullptr;
    classlib::TComboBox* Comb7 = nullptr;
    classlib::TEdit* E_BMP_DPIX = nullptr;
    classlib::TEdit* E_BMP_DPIY = nullptr;
    classlib::TLabel* L37 = nullptr;
    classlib::TLabel* L21 = nullptr;
    // PCX page
    TPxPreviewsPage* TSPCX = nullptr;
    classlib::TComboBox* Comb8 = nullptr;
    classlib::TComboBox* Comb9 = nullptr;
    classlib::TEdit* E_PCX_DPIX = nullptr;
    classlib::TEdit* E_PCX_DPIY = nullptr;
    classlib::TLabel* L43 = nullptr;
    classlib::TLabel* L44 = nullptr;
    // PNG page
    TPxPreviewsPage* TSPNG = nullptr;
    classlib::TComboBox* Comb10 = nullptr;
    classlib::TCheckBox* CB6 = nullptr;
    classlib::TComboBox* Comb11 = nullptr;
    classlib::TComboBox* Comb12 = nullptr;
    classlib::TPanel* P1 = nullptr;
    classlib::TLabel* L49 = nullptr;
    classlib::TLabel* L54 = nullptr;
    classlib::TLabel* L55 = nullptr;
    classlib::TLabel* L56 = nullptr;
    // TGA page
    TPxPreviewsPage* TSTGA = nullptr;
    classlib::TComboBox* Comb14 = nullptr;
    classlib::TPanel* P5 = nullptr;
    classlib::TCheckBox* CB1 = nullptr;
    classlib::TEdit* E13 = nullptr;
    classlib::TEdit* E14 = nullptr;
    classlib::TLabel* L62 = nullptr;
    classlib::TLabel* L63 = nullptr;
    classlib::TLabel* L64 = nullptr;
    classlib::TLabel* L65 = nullptr;
    // JPEG 2000 page
    TPxPreviewsPage* TSJ2000 = nullptr;
    classlib::TEdit* E15 = nullptr;
    TPxScrollBar* Mb1 = nullptr;
    classlib::TComboBox* Comb15 = nullptr;
    classlib::TLabel* L66 = nullptr;
    classlib::TLabel* L71 = nullptr;

    // ---- handlers
    void FormShow(classlib::TObject* Sender);
    void FormActivate(classlib::TObject* Sender);
    void MouseEnter(classlib::TObject* Sender);
    void MouseLeave(classlib::TObject* Sender);
    void PgConChanging(classlib::TObject* Sender);
    void PgConChange(classlib::TObject* Sender);
    void SpeedButton1Click(classlib::TObject* Sender);
    void btnOKClick(classlib::TObject* Sender);
    void Button4Click(classlib::TObject* Sender);
    void Button3Click(classlib::TObject* Sender);
    void Mb13Change(classlib::TObject* Sender);
    void Mb13Scroll(classlib::TObject* Sender, TPxScrollCode Code, int& Position);
    void E22Change(classlib::TObject* Sender);
    void E22Enter(classlib::TObject* Sender);
    void EditKeyPress(classlib::TObject* Sender, wchar_t& Key);
    void EditCheck(classlib::TObject* Sender);
    void ComboBox2Click(classlib::TObject* Sender);
    void ComboBox5Click(classlib::TObject* Sender);
    void Comb6Change(classlib::TObject* Sender);
    void Comb8Change(classlib::TObject* Sender);
    void Comb14Click(classlib::TObject* Sender);
    void E15Change(classlib::TObject* Sender);
    void Mb1Change(classlib::TObject* Sender);
    void P3Click(classlib::TObject* Sender);
    void P4Click(classlib::TObject* Sender);
    void P5Click(classlib::TObject* Sender);
    void Comb10Change(classlib::TObject* Sender);
    void P1Click(classlib::TObject* Sender);
    void Img1ViewChange(classlib::TObject* Sender, int Change);
    void PreviewProgress(classlib::TObject* Sender, int Percent);

    // The palette dialog on PreviewIO's colour map (Count entries); true
    // and the colour in Colour when one was chosen.
    bool PickFromPalette(int Count, classlib::TColor& Colour);
    void LoadWorkingCopy();
    void ShowWorkingCopy();
    void MakePreview(TImgView* Target);

    // The working copy of the pages (the values as the controls show them).
    struct TWorking {
        int Quality = 0;
        int JColorSpace = 0;
        int DCT = 0;
        bool Huffman = false;
        int Smooth = 0;
        bool Progressive = false;
        int JDpiX = 0;
        int JDpiY = 0;
        int TiffCompression = 0;
        int TiffPhotometric = 2;
        int TiffBits = 8;
        int TiffSamples = 3;
        int TDpiX = 0;
        int TDpiY = 0;
        std::wstring TiffDocumentName;
        std::wstring TiffPageName;
        std::wstring TiffDescription;
        int TiffXPos = 0;
        int TiffYPos = 0;
        int TiffImageIndex = 0;
        int TiffPageNumber = -1;
        int TiffPageCount = -1;
        int GifBits = 8;
        bool GifTransparent = false;
        TPxRGB GifTranspColor{0, 0, 0};
        bool GifInterlaced = false;
        TPxRGB GifBackground{0, 0, 0};
        int GifXPos = 0;
        int GifYPos = 0;
        int GifDelay = 0;
        int GifImageIndex = 0;
        int BmpCompression = 0;
        int BmpColors = 3;
        int BDpiX = 0;
        int BDpiY = 0;
        int PcxCompression = 1;
        int PcxColors = 3;
        int PDpiX = 0;
        int PDpiY = 0;
        int PngColors = 2;
        bool PngInterlaced = false;
        TPxRGB PngBackground{0, 0, 0};
        int PngFilter = 0;
        int PngCompression = 0;
        int TgaColors = 2;
        TPxRGB TgaBackground{0, 0, 0};
        bool TgaCompressed = true;
        std::wstring TgaName;
        std::wstring TgaDescription;
        double J2kRate = 1.0;
        int J2kColorSpace = 1;
    } Working;

    // The TIFF compression list's position of a compression code and back.
    static int TIFFCompressionToIndex(int Compression);
    static int IndexToTIFFCompression(int Index);

private:
    void Preview();
    // Reduces the result view's image to the colours of P's bits and
    // samples (the palette into P's colour map), or frees the colour map
    // when there are more than 256.
    void PaletteReduction(TImgView* Target, TIOParamsVals* P);
    // The first show runs FormActivate (the form's layout and values).
    void DoShow() override;
    TPxPreviewsPage* MakePage(const std::wstring& Caption);
    std::vector<TPxPreviewsPage*> pages_list_;
    uint16_t pages_ = 0;
    TPxPreviewsPage* active_ = nullptr;
    std::vector<TPxPreviewsPage*> tabPages_;
    int progressBase_ = 0;
    int progressPhases_ = 1;
    bool activated_ = false;
    bool shown_ = false;
};

// Makes this form the dialog behind TImgIO::DoPreviews and
// TImgMIO::DoPreviews (PxSetIOPreviewsFactory). Runs at the start-up of the
// display controls; callable again after a test installed another factory.
void PxInstallIOPreviewsForm();

}  // namespace imaging
