// The enlarged preview window: one picture of the shell file list (mode
// 'L') or of the album list (mode 'R') in a zoomable view, with a toolbar
// that steps through the list the picture came from, zooms, turns the shown
// picture and adds it to the album (with the turn shown) or removes it
// (after the user confirms through the main window's message box). Esc
// closes it.
// Not modal, top-most. The window's geometry is kept in the main window's
// settings (L2, T2, W2, H2).
//
// Album rows are addressed by identity: the window keeps the id of the row
// it shows (TfrmMain::AlbumRowId) and looks its index up again whenever it
// acts, so rows moved or removed meanwhile do not make it act on another
// row. The window's Tag is the index the item had when it was shown.
//
// Main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Forms.h"

namespace classlib {
class TComboBox;
class TListItem;
class TListView;
class TSaveDialog;
}  // namespace classlib
namespace imaging {
class TImg;
class TImgIO;
}  // namespace imaging
namespace themed {
class TTmProgressBar;
class TTmStatusBar;
class TTmStatusPane;
}  // namespace themed
namespace toolbar {
class TMbControlItem;
class TMbDock;
class TMbImageList;
class TMbItem;
class TMbToolbar;
}  // namespace toolbar

namespace album {

class TTranslation;

class TfrmPreview : public classlib::TForm {
public:
    explicit TfrmPreview(classlib::TComponent* AOwner);
    ~TfrmPreview() override;
    std::wstring ClassName() const override { return L"TfrmPreview"; }

    // ---- components (owned by the form)
    imaging::TImg* ImgView1;
    themed::TTmStatusBar* TmSB;
    themed::TTmProgressBar* TmProgr1;
    themed::TTmStatusPane* TmSP2;
    themed::TTmStatusPane* TmSP1;
    toolbar::TMbDock* MbDock1;
    toolbar::TMbToolbar* MbToolbar1;
    toolbar::TMbItem* mnuFirst;
    toolbar::TMbItem* mnuPrevious;
    toolbar::TMbItem* mnuNext;
    toolbar::TMbItem* mnuLast;
    toolbar::TMbItem* btnZoomOut;
    toolbar::TMbItem* btnZoomIn;
    toolbar::TMbItem* btnZoom100;
    toolbar::TMbItem* btnAutoFit;
    toolbar::TMbControlItem* CB_ZoomItem;
    classlib::TComboBox* CB_Zoom;
    toolbar::TMbItem* R1;
    toolbar::TMbItem* R2;
    toolbar::TMbItem* R3;
    toolbar::TMbItem* R4;
    toolbar::TMbItem* mnuList;
    toolbar::TMbItem* mnuListAll;
    toolbar::TMbItem* mnuSaveAs;
    toolbar::TMbImageList* ImgListMain;
    toolbar::TMbImageList* ImgListD;
    imaging::TImgIO* ImgIO1;
    classlib::TSaveDialog* SaveImgDialog1;

    // ---- state
    // 'L': the source is the shell list (LV1); 'R': the album list (LV2).
    wchar_t Mode = L'L';
    // True while the left button is down on the view.
    bool Dragging = false;
    // The zoom presets in list order.
    std::vector<std::wstring> ZoomPresets;

    // Opens or updates the window on item Index of the shell list (Mode 'L')
    // or on album row Index (Mode 'R'); what TfrmMain::ShowLargePreView
    // does. Nothing happens when the file does not exist.
    void ShowItem(wchar_t AMode, int Index);
    // The album row shown in mode 'R' (nullptr when it left the list).
    classlib::TListItem* ShownRow() const;
    // The index of the shown item in its source list, looked up again for
    // album rows (-1 when the row left the list).
    int CurrentIndex() const;

    // The window's texts (hints, list commands) in the language of T.
    void ApplyTexts(const TTranslation& T);

    // ---- handlers
    void FormCreate(classlib::TObject* Sender);
    void FormShow(classlib::TObject* Sender);
    void FormClose(classlib::TObject* Sender, classlib::TCloseAction& Action);
    void FormResize(classlib::TObject* Sender);
    // Esc closes the window.
    void FormKeyDown(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift);
    void SetArrows(int Index, int Count);
    void mnuFirstClick(classlib::TObject* Sender);
    void mnuListClick(classlib::TObject* Sender);
    void mnuListAllClick(classlib::TObject* Sender);
    void btnZoomOutClick(classlib::TObject* Sender);
    void btnZoom100Click(classlib::TObject* Sender);
    void CB_ZoomSelect(classlib::TObject* Sender);
    void CB_ZoomKeyPress(classlib::TObject* Sender, wchar_t& Key);
    void CheckZoom();
    void InsertToCBZoom(int Z);
    void ResetCBZoom();
    void R1Click(classlib::TObject* Sender);
    void ImgView1Progress(classlib::TObject* Sender, int Percent);
    void ImgView1DblClick(classlib::TObject* Sender);
    void ImgView1MouseDown(classlib::TObject* Sender, classlib::TMouseButton Button, classlib::TShiftState Shift,
                           int X, int Y);
    void ImgView1MouseMove(classlib::TObject* Sender, classlib::TShiftState Shift, int X, int Y);
    void ImgView1MouseUp(classlib::TObject* Sender, classlib::TMouseButton Button, classlib::TShiftState Shift,
                         int X, int Y);

    // The zoom a typed zoom text asks for: digits with at most a trailing
    // "%", from 1 to 1000; 0 when the text is not such a zoom.
    static int ParseZoomText(const std::wstring& Text);

protected:
    // The window stays on top from its creation.
    void CreateParams(classlib::TCreateParams& Params) override;

private:
    // The list the shown picture came from (nullptr without a main window).
    classlib::TListView* SourceList() const;
    int SourceCount() const;
    // Captions and image of mnuList / mnuListAll for the mode.
    void ShowListCommands();

    // The identity of the album row shown (mode 'R'; 0: none).
    std::intptr_t rowId_ = 0;
};

extern TfrmPreview* frmPreview;

}  // namespace album
