// The toolkit's file dialogs: TPxCommonDialog, a hooked system file dialog
// with a dialog template of its own; TOpenImgDialog, the open dialog with a
// preview area beside the standard controls (preview view, frame grid for
// multi-frame files, zoom list, Animate and Preview controls, full-size
// preview window, information labels); TSaveImgDialog, the save dialog with
// an Advanced button that opens the parameters form for the format of the
// typed name.
//
// Ownership: the dialog owns its preview components, name lists, template
// memory and (save dialog) its poll timer and saved parameters. The save
// dialog borrows AttachedImgIO and follows its removal.
// Threads: the window's thread only; everything runs inside the modal loop
// of the system dialog, except the frame grid's own loads.
// Failure: a preview that raises shows an empty preview; an exception in a
// message handler goes to the application's exception handler and the
// dialog goes on.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Buttons.h"
#include "classlib/Component.h"
#include "classlib/Dialogs.h"
#include "classlib/Events.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "imaging/model/PxWords.h"
#include "imaging/views/grid/ImgMView.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/view/ImgView.h"

namespace classlib {
class TTimer;
class TStringList;
}  // namespace classlib

namespace imaging {

class TIOParamsVals;
class TPxDialogProgressBar;

using TPxFileDlgPreviewEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TObject* Viewer,
                                                     const std::wstring& FileName, bool ParamsOnly)>;

enum TPxDBorderStyle : uint8_t { pxpsDefault, pxpsCropped, pxpsCropShadow, pxpsSoftShadow };

class TPxCommonDialog : public classlib::TComponent {
public:
    explicit TPxCommonDialog(classlib::TComponent* Owner);
    ~TPxCommonDialog() override;
    std::wstring ClassName() const override { return L"TPxCommonDialog"; }

    TMsgLanguage MsgLanguage = msSystem;
    bool Ctl3D = true;
    int HelpContext = 0;
    // The dialog window (the child made of the template) while it exists.
    HWND GetDialogWindow() const { return dialogWindow_; }
    // Empty: no template.
    std::wstring TemplateName;
    classlib::TNotifyEvent OnClose;
    classlib::TNotifyEvent OnShow;
    bool ShowPlacesBar = true;
    // Owned by the save dialog (nullptr otherwise).
    classlib::TTimer* PollTimer = nullptr;
    bool ExtendedDialog = true;

    virtual bool Execute() = 0;

protected:
    using TDialogFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
    virtual void DialogWindowProc(classlib::TMessage& Message);
    virtual bool HelpMessageHook(classlib::TMessage& Message);
    virtual bool RunModal(TDialogFunction DialogFunction, OPENFILENAMEW& DialogData);
    virtual void NotifyClose();
    virtual void NotifyShow();
    // Passes Message to the window procedure the dialog had before.
    void CallPrevious(classlib::TMessage& Message);
    // Subclasses Wnd: DialogWindow, the previous procedure replaced.
    void Subclass(HWND Wnd);

    static UINT_PTR CALLBACK HookExplorer(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    static UINT_PTR CALLBACK HookOldStyle(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

    bool inSelectionChange_ = false;

private:
    static LRESULT CALLBACK ObjectWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    void SafeWindowProc(classlib::TMessage& Message);

    WNDPROC prevWindowProc_ = nullptr;
    HWND dialogWindow_ = nullptr;
};

class TOpenImgDialog : public TPxCommonDialog {
public:
    explicit TOpenImgDialog(classlib::TComponent* Owner);
    ~TOpenImgDialog() override;
    std::wstring ClassName() const override { return L"TOpenImgDialog"; }

    bool Execute() override;

    int PreviewFileSize = 0;
    int GetTotalFrames() const { return totalFrames_; }
    std::wstring CurrentPattern;
    bool AutoSetFilter = true;
    bool GetAlwaysAnimate() const { return alwaysAnimate_; }
    // True also sets ShowAllFrames.
    void SetAlwaysAnimate(bool Value);
    bool AutoAdjustDPI = true;
    bool FilteredAdjustDPI = false;
    classlib::TOpenOptions Options = classlib::ofHideReadOnly;
    std::wstring Filter;
    // Stored value; while the dialog window exists, the open filter index.
    int GetFilterIndex() const;
    void SetFilterIndex(int Value) { filterIndex_ = Value; }
    int OpenFilterIndex = 0;
    const std::wstring& GetInitialDir() const { return initialDir_; }
    // One trailing path delimiter is dropped unless it follows ":".
    void SetInitialDir(const std::wstring& Value);
    std::wstring Title;
    std::wstring DefaultExt;
    int GetSelectedIndex() const { return selectedIndex_; }
    // Read: the dialog's file path; write: stores.
    std::wstring GetFileName() const { return DialogFilePath(); }
    void SetFileName(const std::wstring& Value) { fileName_ = Value; }
    classlib::TStringList* GetFileList() const { return fileList_.get(); }
    classlib::TStringList* GetWideFileList() const { return wideFileList_.get(); }
    classlib::TNotifyEvent OnSelectionChange;
    classlib::TNotifyEvent OnFolderChange;
    classlib::TNotifyEvent OnTypeChange;
    classlib::TCloseQueryEvent OnCanClose;
    TPxDBorderStyle GetPreviewBorderStyle() const { return previewBorderStyle_; }
    void SetPreviewBorderStyle(TPxDBorderStyle Value);
    bool VideoFilters = true;
    std::wstring ExtraFilter;
    bool ShowAllFrames = true;
    classlib::TNotifyEvent OnCreateCustomControls;
    classlib::TNotifyEvent OnDestroyCustomControls;
    TPxFileDlgPreviewEvent OnPreviewFile;
    TResampleFilter GetZoomFilter() const;
    void SetZoomFilter(TResampleFilter Value);
    bool ShowPreview = true;

    // While the dialog window exists: the full path / the typed file part
    // as the system dialog reports them; otherwise the stored FileName.
    std::wstring DialogFilePath() const;
    std::wstring DialogFileSpec() const;

    // The filter from the file-format registry (writable formats for the
    // save dialog, readable ones otherwise).
    std::wstring BuildFilter();
    // The 1-based filter entry whose text first holds the name's extension
    // (1 when none).
    int FilterIndexOfFile(const std::wstring& Name) const;
    // The patterns of filter entry Index (1-based); empty when none.
    std::wstring PatternsOfIndex(int Index) const;

    // ---- the preview components (owned)
    classlib::TPanel* InfoPanel = nullptr;
    classlib::TButton* AdvancedButton = nullptr;
    classlib::TPanel* PicturePanel = nullptr;
    classlib::TCheckBox* PreviewCheck = nullptr;
    classlib::TLabel* InfoLabel2 = nullptr;
    classlib::TLabel* PicLabel1 = nullptr;
    classlib::TLabel* PicLabel2 = nullptr;
    classlib::TLabel* PicLabel3 = nullptr;
    classlib::TLabel* InfoLabel1 = nullptr;
    classlib::TSpeedButton* PreviewButton = nullptr;
    classlib::TSpeedButton* PlayButton = nullptr;
    TImgVect* ImgView = nullptr;
    TImgMView* ImgMView = nullptr;
    TPxDialogProgressBar* ProgressBar = nullptr;
    // Made at the first show.
    classlib::TComboBox* ZoomCombo = nullptr;

    // Handlers (public so that tests and applications can drive them).
    virtual void SelectionChanged();
    void ShowInfo(TIOParamsVals* Params);
    virtual void ApplyZoomChoice();
    void PreviewCheckClick(classlib::TObject* Sender);
    void PlayClick(classlib::TObject* Sender);
    void ZoomComboChange(classlib::TObject* Sender);
    void ShowPreviewWindow(classlib::TObject* Sender);
    void GridImageSelect(classlib::TObject* Sender, int Index);
    void GridAllDisplayed(classlib::TObject* Sender);
    void DialogProgress(classlib::TObject* Sender, int Percent);

protected:
    void DialogWindowProc(classlib::TMessage& Message) override;
    void NotifyClose() override;
    void NotifyShow() override;
    virtual void GetStandardArea(RECT& Rect);
    virtual bool ConfirmClose();
    virtual void FolderChanged();
    virtual void TypeChanged();
    virtual bool IsSaveDialog() const { return false; }
    bool DoExecute(TDialogFunction DialogFunction);
    void ApplyCaptions();
    void LayoutPanels();
    void CollectFileNames(const OPENFILENAMEW& Ofn);
    bool CanCloseCheck();
    void ClearPreview();
    void PlacePreviewOutside();
    // The steps of SelectionChanged: the file to preview, its parameters
    // only (preview unchecked) or its pictures (every frame of a file with
    // several, else one preview-sized image), and the empty preview.
    std::wstring SelectedPreviewName();
    void PreviewParamsOnly(const std::wstring& Name);
    void PreviewPictures(const std::wstring& Name);
    bool HasSeveralFrames(const std::wstring& Name, const std::wstring& Ext, int Type);
    void PreviewAllFrames(const std::wstring& Name, const std::wstring& Ext, int Type);
    void PreviewSingleImage(const std::wstring& Name);
    static int FrameCountOf(TIOParamsVals* Params, const std::wstring& Name);
    void ClearPreviewInfo();

    OPENFILENAMEW* openRecord_ = nullptr;
    std::wstring defExtBuffer_;
    std::vector<wchar_t> fileBuffer_;

private:
    int totalFrames_ = 0;
    bool alwaysAnimate_ = false;
    int filterIndex_ = 1;
    std::wstring initialDir_;
    int selectedIndex_ = 0;
    std::wstring fileName_;
    std::unique_ptr<classlib::TStringList> fileList_;
    std::unique_ptr<classlib::TStringList> wideFileList_;
    TPxDBorderStyle previewBorderStyle_ = pxpsDefault;
    HGLOBAL template_ = nullptr;
};

enum TPxSaveDlgOptItem : uint8_t { sdShowPreview = 1, sdShowAdvanced = 2 };
using TPxSaveDlgOpt = uint8_t;

class TSaveImgDialog : public TOpenImgDialog {
public:
    explicit TSaveImgDialog(classlib::TComponent* Owner);
    ~TSaveImgDialog() override;
    std::wstring ClassName() const override { return L"TSaveImgDialog"; }

    // Raises EInOutError without an attached object; false (not shown) for
    // a multi-image object without frames; true when a name was confirmed
    // (FileName then has an extension). A cancel restores the attached
    // object's parameters and leaves FileName as it was.
    bool Execute() override;

    TPxSaveDlgOpt ExOptions = sdShowPreview | sdShowAdvanced;
    classlib::TComponent* GetAttachedImgIO() const { return attached_; }
    // nullptr and objects other than TImgIO, TImgMIO, TImgMView and TImgView
    // are ignored.
    void SetAttachedImgIO(classlib::TComponent* Value);
    TIOParamsVals* GetSavedParams() const { return savedParams_.get(); }

    // The registry row of the typed name's extension (else DefaultExt,
    // else the chosen pattern): its preview pages and file type.
    void DetectSaveFormat(uint16_t& Pages, int& Type) const;
    static void FormatOfExtension(const std::wstring& Ext, uint16_t& Pages, int& Type);
    // Also each tick of PollTimer while the dialog runs.
    void UpdateAdvanced(classlib::TObject* Sender = nullptr);
    void AdvancedClick(classlib::TObject* Sender);
    virtual void ReplaceExtension();

protected:
    void TypeChanged() override;
    bool IsSaveDialog() const override { return true; }
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void NotifyClose() override;

private:
    // The parameters of the attached object (frame 0 of a multi-image one);
    // nullptr when it has none.
    TIOParamsVals* AttachedParams() const;

    classlib::TComponent* attached_ = nullptr;
    std::unique_ptr<TIOParamsVals> savedParams_;
};

// "*.jpg;*.jpeg" gives ".jpg": from the first "." up to the first ";".
std::wstring PxPatternToExtension(const std::wstring& Patterns);
// Every "|" becomes NUL; a double NUL ends the text.
std::wstring PxFilterToNulList(const std::wstring& Filter);

// A thin progress bar over the system's progress control (range 0..100).
class TPxDialogProgressBar : public classlib::TSystemControl {
public:
    explicit TPxDialogProgressBar(classlib::TComponent* Owner);
    std::wstring ClassName() const override { return L"TPxDialogProgressBar"; }
    int GetPosition() const { return position_; }
    void SetPosition(int Value);

protected:
    std::wstring SystemClassName() const override { return L"msctls_progress32"; }
    void CreateHandleDone() override;

private:
    int position_ = 0;
};

}  // namespace imaging
