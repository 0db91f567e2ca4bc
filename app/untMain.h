// The main window: the folder tree and file list of the machine, the album
// list with its fields and buttons, two preview grids, the album name and
// folder fields, Start and Exit, the menu row and the status bar.
//
// The window keeps the settings (TSettings, read when it is created and
// written when it closes), the album rows and the interface texts of the
// language in use. Each album row is a record (TAlbumRow: full path,
// sub-items [rotation, running number, thumbnail width, thumbnail height,
// title, description]) kept by the form under a unique id (never reused);
// LV2 shows the rows in album order, each item carrying its row's id in its
// Data and showing the record (caption = path, sub-items = the record's
// texts). The list view gives the order and the selection, the record the
// data: the build, the list files and the previews read the records. A
// window that refers to a row keeps finding it when rows move or go
// (AlbumRowId / AlbumRowIndex).
//
// While a build runs (the build progress bar TmB3 is visible) the controls
// that could change the album list, the settings or the folders are
// disabled: the build processes pending messages between images, and only
// Exit (or Esc) stays live to ask it to stop.
//
// Everything runs on the user-interface thread; the preview grids load on
// their own threads and report on this one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/AlbumBuild.h"
#include "app/AlbumListFile.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/Buttons.h"
#include "classlib/ComCtrls.h"
#include "classlib/Dialogs.h"
#include "classlib/ExtCtrls.h"
#include "classlib/FileCtrl.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/shell/ShDialogs.h"
#include "controls/shell/ShNotify.h"
#include "controls/shell/ShellControls.h"
#include "controls/shell/ShellLink.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmPrgres.h"
#include "controls/themed/TmSplit.h"
#include "controls/themed/TmStatus.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"

namespace imaging {
class TImgIO;
class TImgMView;
}  // namespace imaging

namespace album {

// The identity of an album row (0: none).
using TAlbumRowId = std::intptr_t;

// The file-type masks of the file-type box, by item index: all supported
// pictures, GIF, JPEG, TIFF, BMP, PCX, all files.
const std::vector<std::wstring>& DefaultFileMasks();

// Reads only the parameters of FileName into IO's parameters (reset first).
// True when the toolkit reads it as a picture (width and height not 0).
bool ReadPictureParams(imaging::TImgIO* IO, const std::wstring& FileName);

// The album name as typed or pasted, without path separators ("/" and "\").
std::wstring CleanAlbumName(const std::wstring& Name);

class TfrmMain : public classlib::TForm {
public:
    explicit TfrmMain(classlib::TComponent* AOwner);
    ~TfrmMain() override;
    std::wstring ClassName() const override { return L"TfrmMain"; }

    // ---- components (owned by the form; Name = member name)
    themed::TTmPanel* PanelTOP = nullptr;
    classlib::TLabel* L3 = nullptr;
    themed::TTmPanel* PanelLEFT = nullptr;
    themed::TTmPanel* PanelRIGHT = nullptr;
    themed::TTmSplitter* TMSP = nullptr;
    themed::TTmSplitter* TmSplitter1 = nullptr;
    shell::TShellTree* FTree = nullptr;
    classlib::TPanel* BPanel1 = nullptr;
    imaging::TImgMView* ImPreView1 = nullptr;
    shell::TShellList* LV1 = nullptr;
    classlib::TEdit* E1 = nullptr;
    classlib::TComboBox* CB1 = nullptr;
    classlib::TButton* btnAdd = nullptr;
    classlib::TButton* btnAddAll = nullptr;
    classlib::TCheckBox* ChB1 = nullptr;
    themed::TTmSplitter* TmSplitter2 = nullptr;
    classlib::TListView* LV2 = nullptr;
    classlib::TButton* btnOpen = nullptr;
    classlib::TButton* btnSave = nullptr;
    classlib::TButton* btnRemove = nullptr;
    classlib::TButton* btnRemoveAll = nullptr;
    classlib::TCheckBox* ChB2 = nullptr;
    classlib::TSpeedButton* R1 = nullptr;
    classlib::TSpeedButton* R2 = nullptr;
    classlib::TSpeedButton* R3 = nullptr;
    classlib::TSpeedButton* R4 = nullptr;
    classlib::TSpeedButton* btnPgUp = nullptr;
    classlib::TSpeedButton* btnPgDown = nullptr;
    classlib::TLabel* LBL_Title = nullptr;
    classlib::TLabel* LBL_Desc = nullptr;
    classlib::TLabel* LBL_Rotate = nullptr;
    classlib::TEdit* E_Title = nullptr;
    classlib::TMemo* E_Desc = nullptr;
    classlib::TPanel* BPanel2 = nullptr;
    imaging::TImgMView* ImPreview2 = nullptr;
    themed::TTmStatusBar* TmSB1 = nullptr;
    themed::TTmStatusPane* TmP2 = nullptr;
    themed::TTmStatusPane* TmP22 = nullptr;
    themed::TTmStatusPane* TmP6 = nullptr;
    themed::TTmProgressBar* TmB1 = nullptr;
    themed::TTmProgressBar* TmB11 = nullptr;
    themed::TTmProgressBar* TmB4 = nullptr;
    themed::TTmProgressBar* TmB3 = nullptr;
    themed::TTmPanel* TmPanel1 = nullptr;
    classlib::TLabel* LAlb = nullptr;
    classlib::TEdit* EAlbName = nullptr;
    classlib::TLabel* LDir = nullptr;
    classlib::TEdit* EAlbDir = nullptr;
    classlib::TSpeedButton* btnDir = nullptr;
    classlib::TButton* btnAdv = nullptr;
    classlib::TButton* btnStart = nullptr;
    classlib::TButton* btnCancel = nullptr;
    toolbar::TMbToolbar* MbToolbar1 = nullptr;
    toolbar::TMbSubmenuItem* mnuFile = nullptr;
    toolbar::TMbSubmenuItem* mnuLanguage = nullptr;
    toolbar::TMbSeparatorItem* mnuFileSep = nullptr;
    toolbar::TMbItem* mnuExit = nullptr;
    toolbar::TMbSubmenuItem* mnuHelp = nullptr;
    toolbar::TMbItem* mnuAbout = nullptr;
    // The language items of mnuLanguage, in menu order (Tag = language id,
    // Name = the language's name); English is one of them.
    std::vector<toolbar::TMbItem*> LanguageItems;
    toolbar::TMbItem* English = nullptr;
    toolbar::TMbSeparatorItem* tbTranslate2 = nullptr;
    toolbar::TMbItem* tbTranslate = nullptr;
    toolbar::TMbPopupMenu* PopUp1 = nullptr;
    toolbar::TMbItem* popLargePreView = nullptr;
    classlib::TMemo* TxtFile = nullptr;
    classlib::TFileListBox* LngFiles = nullptr;
    shell::TShellLink* ShellLink1 = nullptr;
    shell::TShDropFiles* ShDropFiles1 = nullptr;
    shell::TShBrowseForFolder* FBrowser = nullptr;
    classlib::TSaveDialog* SaveDialog1 = nullptr;
    classlib::TOpenDialog* OpenDialog1 = nullptr;
    imaging::TImgIO* ImgIO1 = nullptr;
    classlib::TApplicationEvents* ApplicationEvents1 = nullptr;

    // ---- state
    int32_t SystemLangId = kEnglishLangId;
    int16_t ShellIndex = -1;
    int16_t AlbumIndex = -1;
    std::wstring AlbumPath;
    uint8_t CancelRequested = 0;
    // The settings (colours, sizes, grid, templates, preview geometry ...).
    TSettings Settings;
    std::vector<std::wstring> FileMasks;
    // The interface messages (set by SetLanguage).
    std::wstring msgRotation, msgFileOf, msgAlbumExist, msgCouldNotWrite, msgESC, msgErrorCreateAlbum,
        msgAlbumCreated, msgSelectDir;
    // Messages of failures the user can act on.
    std::wstring msgNoPictures, msgBuildFailed, msgNoAlbumName,
        msgSkippedPictures, msgListNotSaved;
    // The closing message's part about pictures that could be read only in
    // part, and the note after each of them.
    std::wstring msgIncompletePictures, strPictureIncomplete;
    // Album list file failures; "%f1" stands for the file, "%n1" for a line,
    // "%f2" for a format version.
    std::wstring msgNotAlbumList, msgEmptyAlbumList, msgListNotRead, msgListNotWritten, msgListVersion;
    // Opening a list: the pictures it names that are missing ("%f1" the
    // list), the line after the first of them ("%n1" the number left out),
    // and the progress ("%n1" of "%n2" rows).
    std::wstring msgMissingPictures, msgAndMore, msgOpeningList;
    // The languages of the menu and the translation in use.
    TLanguageMenu Languages;
    TTranslation Translation;
    int CurrentLangId = kEnglishLangId;
    // The album list differs from what was last opened or saved.
    bool ListModified = false;

    // ---- life cycle (handlers)
    void FormCreate(classlib::TObject* Sender);
    void FormShow(classlib::TObject* Sender);
    void FormClose(classlib::TObject* Sender, classlib::TCloseAction& Action);
    void FormCloseQuery(classlib::TObject* Sender, bool& CanClose);
    void FormResize(classlib::TObject* Sender);
    void FormKeyPress(classlib::TObject* Sender, wchar_t& Key);
    void FormActivate(classlib::TObject* Sender);
    void ResetLables();
    void TmSplitter1Change(classlib::TObject* Sender);
    void TmSplitter2Change(classlib::TObject* Sender);
    void CB1Change(classlib::TObject* Sender);
    void FTreeChange(classlib::TObject* Sender);
    void LV1Populated(classlib::TObject* Sender);
    void mnuExitClick(classlib::TObject* Sender);
    void mnuAboutClick(classlib::TObject* Sender);
    void LBL_DescClick(classlib::TObject* Sender);
    void ApplicationEvents1Exception(classlib::TObject* Sender, classlib::Exception& E);

    // ---- settings
    void Readini();
    void Writeini();

    // ---- build
    void btnStartClick(classlib::TObject* Sender);
    void btnCancelClick(classlib::TObject* Sender);
    void Progress(classlib::TObject* Sender, int Percent);
    // From the moment the build locks the window until it gives it back;
    // also while an opened list's rows are added (locked the same way, Esc
    // and Exit cancel it as they cancel a build).
    bool BuildRunning() const;
    // The options dialog: edits copies of the settings, taken back on OK.
    void btnAdvClick(classlib::TObject* Sender);
    // Open the first index page in the browser after a build (tests turn
    // it off).
    bool OpenFinishedAlbum = true;

    // ---- album list
    void btnAddClick(classlib::TObject* Sender);
    void btnAddAllClick(classlib::TObject* Sender);
    void ShDropFiles1Drop(classlib::TObject* Sender, classlib::TShiftState KeyState, POINT MousePos,
                          shell::TShDropEffect& Effect);
    void btnRemoveClick(classlib::TObject* Sender);
    void btnRemoveAllClick(classlib::TObject* Sender);
    void LV1SelectItem(classlib::TObject* Sender, classlib::TListItem* Item, bool Selected);
    void LV2SelectItem(classlib::TObject* Sender, classlib::TListItem* Item, bool Selected);
    void CheckList();
    void R1Click(classlib::TObject* Sender);
    void E_TitleChange(classlib::TObject* Sender);
    void E_DescChange(classlib::TObject* Sender);
    void E1Change(classlib::TObject* Sender);
    void E1KeyPress(classlib::TObject* Sender, wchar_t& Key);
    void EAlbNameChange(classlib::TObject* Sender);
    void TmSpinButtons1UpRightClick(classlib::TObject* Sender);
    void TmSpinButtons1DownLeftClick(classlib::TObject* Sender);
    void MoveListViewItem(classlib::TListView* View, int From, int To);
    void ShowPreview(imaging::TImgMView* Grid, const std::wstring& FileName, int Angle);
    void ChB1Click(classlib::TObject* Sender);
    void ChB2Click(classlib::TObject* Sender);
    void ImPreview1IOProgress(classlib::TObject* Sender, int Percent);
    void ImPreview2IOProgress(classlib::TObject* Sender, int Percent);
    void LV1MouseEnter(classlib::TObject* Sender);
    void LV1MouseLeave(classlib::TObject* Sender);
    // The application's status hint (menus, toolbar, controls) in TmP6.
    void AppHint(classlib::TObject* Sender);
    void LV2MouseEnter(classlib::TObject* Sender);
    void LV2MouseMove(classlib::TObject* Sender, classlib::TShiftState Shift, int X, int Y);
    void btnDirClick(classlib::TObject* Sender);
    void popLargePreViewClick(classlib::TObject* Sender);

    // Adds the pictures of Paths (in order) as album rows: files already in
    // the list (compared ignoring case) and files that are no readable
    // picture are skipped; with Single the new (or existing) row becomes the
    // only selected one. Returns the number of rows added.
    int AddFiles(const std::vector<std::wstring>& Paths, bool Single);
    // Appends an album row with a fresh id: Path, Rotation, three empty
    // numbers, the file name as title, an empty description.
    classlib::TListItem* AddAlbumRow(const std::wstring& Path, const std::wstring& Rotation);
    // The row whose caption equals Path ignoring case, or nullptr.
    classlib::TListItem* FindAlbumRow(const std::wstring& Path) const;
    // Row identity: the id of Row (0 for nullptr), and the index of the row
    // that carries Id (-1 when no row does any more).
    TAlbumRowId AlbumRowId(const classlib::TListItem* Row) const;
    int AlbumRowIndex(TAlbumRowId Id) const;
    // The album rows as records / replaced from records (fresh ids).
    std::vector<TAlbumRow> AlbumRows() const;
    void SetAlbumRows(const std::vector<TAlbumRow>& Rows);
    // The record of the album row Row shows (nullptr for nullptr, or for an
    // item that no album row put there).
    const TAlbumRow* AlbumRowOf(const classlib::TListItem* Row) const;
    // Sets sub-item SubItem of Row's record (empty ones added before it as
    // needed) and shows it; false when it held Text already.
    bool SetAlbumRowText(classlib::TListItem* Row, std::size_t SubItem, const std::wstring& Text);
    // Takes the row at Index out of the album list, record and item.
    void DeleteAlbumRow(int Index);
    // The initial rotation of a picture from its EXIF orientation.
    std::wstring InitialRotation(const std::wstring& FileName);

    // ---- album list file
    void btnOpenClick(classlib::TObject* Sender);
    void btnSaveClick(classlib::TObject* Sender);
    // Loads / saves the album list without dialogs; false after a failure
    // the user was told about (the list keeps what it had on a failed load).
    bool OpenAlbumList(const std::wstring& FileName);
    bool SaveAlbumListTo(const std::wstring& FileName);
    // The folder the album list dialogs start in: the folder of the list
    // file last chosen in either of them, before that the user's documents.
    std::wstring AlbumListFolder() const;

    // ---- preview window
    // Shows item Index of the shell list (Mode 'L') or of the album list
    // (Mode 'R') in the preview window.
    void ShowLargePreView(wchar_t Mode, int Index);

    // ---- translations
    void SearchLanguages();
    void SetSysLanguage();
    void SetLanguage();
    std::wstring Translate(const std::wstring& Key) const;
    void EnglishClick(classlib::TObject* Sender);
    void mnuLanguagePopUp(classlib::TObject* Sender, bool FromLink);
    void tbTranslateClick(classlib::TObject* Sender);
    // The item of mnuLanguage with Tag Id (first), or nullptr.
    toolbar::TMbItem* LanguageItem(int Id) const;

    // Shows Text in a message box with the program's caption; returns the
    // button pressed. Tests may replace the answer (see MessageHook).
    int ShowMessageBox(const std::wstring& Text, UINT Flags);
    // When set, message boxes are not shown: the hook gets the text and
    // flags and returns the answer.
    classlib::TEvent<int(const std::wstring& Text, UINT Flags)> MessageHook;
    // When set, the album list file dialogs are not shown: the hook gets the
    // dialog and returns whether the user accepted (with its FileName set).
    classlib::TEvent<bool(classlib::TOpenDialog* Dialog)> DialogHook;

protected:
    void WndProc(classlib::TMessage& Message) override;

private:
    class TBuildHost;
    // The form's controls and components, in the order they are built: the
    // frame (menu row, strips, status bar, splitters), the browsing side,
    // the album list with its details, the bottom panel with the helpers.
    void CreateComponents();
    void CreateFrame();
    void CreateBrowsePane();
    void CreateAlbumPanes();
    void CreateBottomPanel();
    void CreateMenus();
    void LayoutControls();
    void SetSelectedRowsText(int SubItem, const std::wstring& Text);
    void FitThumbnail(imaging::TImgMView* Grid);
    void LoadGlyph(classlib::TSpeedButton* Button, const wchar_t* Resource, const std::wstring& Fallback);
    void SetLocked(bool Locked);
    // Asks the running build to stop (it stops between two steps).
    void RequestCancel();
    void ApplyRotationButtons(const std::wstring& Rotation);
    void ShowRotationLabel(const std::wstring& Rotation);
    std::wstring PositionText(int Index, int Count) const;
    void ClearAlbumList();
    // Empties and disables the fields and buttons of the selected rows.
    void ClearAlbumDetails();
    bool ContextMenu(HWND Window, int X, int Y);
    void BuildFinished(const TAlbumBuildResult& Result);
    // The application's key hook: Esc for this window, whichever of its
    // controls has the focus while a build runs (or when none has it),
    // clicks Exit.
    bool EscapeHook(classlib::TMessage& Message);

    // Replaces the album list with Rows, a slice of time at a time with the
    // window answering and showing the progress; Missing receives the
    // pictures of Rows that are missing. False when the user cancelled: the
    // rows of before are back then.
    bool ShowOpenedRows(const std::vector<TAlbumRow>& Rows, std::vector<std::wstring>& Missing);
    // Sets a list dialog up to start in AlbumListFolder with an empty name.
    void PrepareListDialog(classlib::TOpenDialog* Dialog) const;

    // Shows Record in Row: its path as the caption, its texts as sub-items.
    static void ShowAlbumRow(classlib::TListItem* Row, const TAlbumRow& Record);
    // Appends an item to LV2 for Record under a fresh id.
    classlib::TListItem* AppendAlbumRow(TAlbumRow Record);
    // The build's numbers and sizes of Rows (in list order) into the
    // records and onto the list.
    void TakeBuildResults(const std::vector<TAlbumRow>& Rows);

    TAlbumRowId nextRowId_ = 1;
    // The album rows' records by id (the id in their item's Data).
    std::unordered_map<TAlbumRowId, TAlbumRow> rowRecords_;
    // When each preview's progress bar was last drawn (tick count).
    ULONGLONG previewProgressShown_[2] = {0, 0};
    // Set while ShowOpenedRows adds rows (the window is locked as for a build).
    bool listOpening_ = false;
    // The folder of the list file last chosen in a list dialog ("" none yet).
    std::wstring listFolder_;
    // The host of the running build (nullptr when none runs).
    TBuildHost* build_ = nullptr;
    // Controls disabled by SetLocked and their former enabled state.
    std::vector<std::pair<classlib::TControl*, bool>> locked_;
    // Menu items disabled by SetLocked and their former state.
    std::vector<std::pair<toolbar::TMbCustomItem*, bool>> lockedItems_;
    // The list the popup menu belongs to (nullptr: none).
    classlib::TListView* popupOwner_ = nullptr;
    // Set once every component exists: layout handlers wait for it.
    bool built_ = false;
    // The shell list is filling (from its OnBeforeFullRefresh to its
    // OnPopulated): it lists only a part of its folder.
    bool shellListFilling_ = false;
};

extern TfrmMain* frmMain;

}  // namespace album
