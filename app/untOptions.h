// The "HTML options" dialog: page colours, thumbnail and image sizes, image
// resizing, the thumbnail grid and the page-label template, with an example
// page that shows the chosen colours live.
//
// The dialog edits copies: CopyIn fills the controls from the settings,
// CopyOut writes them back (the main window calls it only after OK). The
// example picture "screen_demo.gif" is read from DataFolder (the program's
// folder unless a caller points it elsewhere) and recoloured in memory; it
// is never written. A missing or unreadable picture leaves the example
// picture empty. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/Forms.h"

namespace classlib {
class TButton;
class TCheckBox;
class TColorDialog;
class TEdit;
class TImage;
class TLabel;
class TScrollBox;
class TUpDown;
}  // namespace classlib
namespace themed {
class TTmGroupBox;
class TTmPageControl;
class TTmPanel;
class TTmTabSheet;
}  // namespace themed
namespace gif {
class TGIFImage;
}

namespace album {

class TSettings;
class TTranslation;

class TfrmOptions : public classlib::TForm {
public:
    explicit TfrmOptions(classlib::TComponent* AOwner);
    ~TfrmOptions() override;
    std::wstring ClassName() const override { return L"TfrmOptions"; }

    // ---- components (owned by the form)
    classlib::TButton* btnOK;
    classlib::TButton* btnCancel;
    themed::TTmPageControl* PageControls;
    themed::TTmTabSheet* TabSheet1;
    themed::TTmGroupBox* GrHTML;
    themed::TTmPanel* colBackgr2;      // BckgrCol
    classlib::TLabel* L42;
    themed::TTmPanel* colCell2;        // CellCol
    classlib::TLabel* L52;
    themed::TTmPanel* colHeadline;     // TxtCol
    classlib::TLabel* LHeadline;
    themed::TTmPanel* colFileBackgr2;  // FNBckgrCol (hidden)
    classlib::TLabel* L72;
    themed::TTmPanel* colFN2;          // FNCol (hidden)
    classlib::TLabel* L102;
    classlib::TEdit* ThSize;
    classlib::TUpDown* ThSizeUD;
    classlib::TLabel* LTSize;
    classlib::TEdit* ImSize;
    classlib::TUpDown* ImSizeUD;
    classlib::TLabel* LIsize;
    classlib::TEdit* EColumns;
    classlib::TUpDown* EColumnsUD;
    classlib::TLabel* LColumns;
    classlib::TEdit* ERows;
    classlib::TUpDown* ERowsUD;
    classlib::TLabel* LRows;
    classlib::TCheckBox* CBResize;
    classlib::TEdit* E_indx;
    classlib::TLabel* L_Indx;
    classlib::TEdit* E_img;            // hidden
    classlib::TLabel* L_Img;           // hidden
    classlib::TScrollBox* ScrollBox1;
    classlib::TImage* Image1;          // the example picture
    classlib::TLabel* L1;              // "Album Name"
    classlib::TLabel* L2;              // the example page label
    classlib::TLabel* L3;              // the same again
    classlib::TColorDialog* ColDlg;
    classlib::TImage* Image;           // hidden

    // Where "screen_demo.gif" is read from (with a trailing backslash).
    std::wstring DataFolder;
    // The example GIF as last recoloured (owned by the form).
    gif::TGIFImage* GetExampleGIF() const { return gif_.get(); }

    // Settings <-> controls.
    void CopyIn(const TSettings& S);
    void CopyOut(TSettings& S) const;
    // The dialog's texts in the language of T.
    void ApplyTexts(const TTranslation& T);
    // Widens the column of labels and fields to the widest text of the
    // language in use (the dialog grows with it; never below its design
    // size), so that no label is cut.
    void LayoutLabels();

    // ---- handlers
    void FormCreate(classlib::TObject* Sender);
    void FormShow(classlib::TObject* Sender);
    void FormKeyPress(classlib::TObject* Sender, wchar_t& Key);
    void EditCheck(classlib::TObject* Sender);
    void EditKeyPress(classlib::TObject* Sender, wchar_t& Key);
    void E_indxChange(classlib::TObject* Sender);
    void DrawTExample();
    void ThSizeChange(classlib::TObject* Sender);
    void colBackgrClick(classlib::TObject* Sender);
    void colBackgrMouseEnter(classlib::TObject* Sender);
    void colBackgrMouseLeave(classlib::TObject* Sender);
    void CBResizeClick(classlib::TObject* Sender);

private:
    std::unique_ptr<gif::TGIFImage> gif_;
};

extern TfrmOptions* frmOptions;

}  // namespace album
