#include "app/AlbumBuild.h"

#include <shellapi.h>

#include <memory>

#include "app/AlbumPages.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/Threads.h"
#include "gif/GIFImage.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/ImgView.h"

namespace album {

namespace {

// File-type numbers of the format registry that the build looks at.
constexpr int32_t kFileTypeTIFF = 1;
constexpr int32_t kFileTypeJPEG = 3;
constexpr int kJPEGQuality = 85;

const wchar_t* const kNavigationPictures[] = {L"first", L"prev", L"next", L"last", L"index"};
const wchar_t* const kDisabledPictures[] = {L"first_d.gif", L"prev_d.gif", L"next_d.gif", L"last_d.gif"};

std::wstring WithBackslash(std::wstring Path)
{
    if (Path.empty() || Path.back() != L'\\') Path += L'\\';
    return Path;
}

// Path, double-terminated as the shell's file operation wants its lists.
std::wstring ShellPathList(const std::wstring& Path)
{
    std::wstring list = Path;
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

// Creates FileName as an empty file and removes it again: can the folder be
// written to?
bool CanWriteFile(const std::wstring& FileName)
{
    HANDLE file = ::CreateFileW(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    classlib::DeleteFileW(FileName);
    return true;
}

void OnViewProgress(void* Context, classlib::TObject*, int Percent)
{
    auto* host = static_cast<TAlbumBuildHost*>(Context);
    host->SetStepPercent(Percent);
    host->ProcessMessages();
}

// A save that reports failure only through the abort flag must not pass for
// a written file.
void SaveJPEG(imaging::TImgIO* IO, const std::wstring& FileName)
{
    IO->SaveJPEGToFile(FileName);
    if (IO->AbortFlag) throw classlib::EInOutError(L"Could not write \"" + FileName + L"\"");
}

// Mirrors the view's image left to right in place.
void Mirror(imaging::TImgView& View) { imaging::PxFlipBitmap(View.GetPxBitmap(), 0); }

void ResetOrientation(imaging::TImgIO* IO)
{
    if (IO->FileParams->HasEXIF) IO->FileParams->SetEXIFOrientation(1);
}

TAlbumPageOptions PageOptionsOf(const TSettings& Settings)
{
    TAlbumPageOptions options;
    options.BckgrCol = Settings.BckgrCol;
    options.CellCol = Settings.CellCol;
    options.TxtCol = Settings.TxtCol;
    options.FNCol = Settings.FNCol;
    options.MaxTh = Settings.MaxTh;
    options.ColumnsNr = Settings.ColumnsNr;
    options.RowsNr = Settings.RowsNr;
    options.S_indx = Settings.S_indx;
    return options;
}

// Between DisableControls and the end of the build, on every way out
// (including exceptions): progress bars hidden, cancel flag cleared, controls
// and status text restored.
class TRunningScope {
public:
    explicit TRunningScope(TAlbumBuildHost& Host) : host_(Host) { host_.DisableControls(); }
    ~TRunningScope()
    {
        try {
            host_.ShowBuildProgress(false);
            host_.CancelRequested = 0;
            host_.RestoreControls();
            host_.SetStatusText(std::wstring());
        } catch (...) {
        }
    }
    TRunningScope(const TRunningScope&) = delete;
    TRunningScope& operator=(const TRunningScope&) = delete;

private:
    TAlbumBuildHost& host_;
};

// One row's turn of the image loop. False when the image could not be read.
bool BuildImage(imaging::TImgView& View, const TSettings& Settings, const std::wstring& AlbumPath, TAlbumRow& Row,
                int Number)
{
    imaging::TImgIO* io = View.GetIO();
    imaging::TImgProc* proc = View.GetProc();

    View.FillWithBackground();
    View.GetPxBitmap()->SetWidth(0);
    View.GetPxBitmap()->SetHeight(0);
    Row.Checked = true;

    try {
        io->ReadParamsFromFile(Row.Path);
    } catch (...) {
    }
    io->AutoAdjustDPI = io->FileParams->FileFormat == kFileTypeTIFF;

    bool loaded = true;
    try {
        io->LoadFromFile(Row.Path);
        loaded = !io->AbortFlag;
    } catch (...) {
        loaded = false;
    }
    if (!loaded) View.GetPxBitmap()->SetWidth(0);
    if (View.GetPxBitmap()->GetWidth() == 0 || View.GetPxBitmap()->GetHeight() == 0) {
        Row.Checked = false;
        return false;
    }
    // The stored orientation: a mirrored one is undone here (the row's
    // rotation holds the turn that goes with it), and a copy that is to say
    // "normal" can't be the source's bytes when the source says otherwise.
    const int orientation = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
    const bool mirrored = IsMirroredOrientation(orientation);
    ResetOrientation(io);

    const std::wstring rotationText = Row.SubItem(siRotation);
    const int rotation = RotationOf(rotationText);
    const std::wstring name = OutputNameOf(Row.Path);

    // The image copy: a JPEG that needs no change is copied byte for byte
    // (the format is the one the load found).
    const std::wstring imageFile = AlbumPath + L"Images\\" + name;
    const bool isJPEG = io->FileParams->FileFormat == kFileTypeJPEG;
    const bool normal = orientation <= 1 || orientation > 8;
    if (isJPEG && !Settings.ResizeImg && rotation == 0 && normal) {
        ::CopyFileW(Row.Path.c_str(), imageFile.c_str(), FALSE);
    } else {
        if (Settings.ResizeImg) ResizeToWH(&View, Settings.MaxImg, Settings.MaxImg);
        if (mirrored) Mirror(View);
        if (rotation != 0) proc->Rotate(rotation, false, 0, static_cast<classlib::TColor>(-1));
        SaveJPEG(io, imageFile);
    }

    // The thumbnail: from the source again when the copy was resized,
    // otherwise from the (already rotated) image in memory.
    if (Settings.ResizeImg) {
        io->LoadFromFile(Row.Path);
        if (io->AbortFlag) throw classlib::EInOutError(L"Could not read \"" + Row.Path + L"\"");
        ResetOrientation(io);
    }
    ResizeToWH(&View, Settings.MaxTh, Settings.MaxTh);
    if (Settings.ResizeImg) {
        if (mirrored) Mirror(View);
        proc->Rotate(rotation, false, 0, static_cast<classlib::TColor>(-1));
    }
    SaveJPEG(io, AlbumPath + L"Thumbnails\\tn_" + name);

    const std::wstring title = Row.SubItem(siTitle);
    const std::wstring description = Row.SubItem(siDescription);
    Row.SubItems = {rotationText,
                    std::to_wstring(Number),
                    std::to_wstring(View.GetPxBitmap()->GetWidth()),
                    std::to_wstring(View.GetPxBitmap()->GetHeight()),
                    title,
                    description};
    return true;
}

}  // namespace

// ---- host defaults ----------------------------------------------------------

int TAlbumBuildHost::MessageBox(const std::wstring& Text, UINT Flags)
{
    return ::MessageBoxW(OwnerWindow(), Text.c_str(), kMessageCaption, Flags);
}

void TAlbumBuildHost::ProcessMessages()
{
    if (classlib::Application) {
        classlib::Application->ProcessMessages();
        return;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    classlib::CheckSynchronize(0);
}

void TAlbumBuildHost::OpenDocument(const std::wstring& FileName)
{
    ::ShellExecuteW(OwnerWindow(), nullptr, FileName.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// ---- routines ---------------------------------------------------------------

std::wstring AlbumPathOf(const std::wstring& AlbumFolder, const std::wstring& AlbumName)
{
    return WithBackslash(WithBackslash(AlbumFolder) + AlbumName);
}

std::wstring OutputNameOf(const std::wstring& Path)
{
    return classlib::ChangeFileExt(classlib::ExtractFileName(Path), L".jpg");
}

std::wstring RotationOfOrientation(int Orientation)
{
    switch (Orientation) {
    case 3:
    case 4: return L"180";
    case 6:
    case 7: return L"270";
    case 8:
    case 5: return L"90";
    default: return L"0";
    }
}

bool IsMirroredOrientation(int Orientation)
{
    return Orientation == 2 || Orientation == 4 || Orientation == 5 || Orientation == 7;
}

int RotationOf(const std::wstring& Text)
{
    int value = 0;
    return classlib::TryStrToInt(Text, value) ? value : 0;
}

void CorrectGIF(const std::wstring& Source, const std::wstring& Dest, classlib::TColor TextColor,
                classlib::TColor CellColor)
{
    gif::TGIFImage image;
    image.LoadFromFile(Source);
    gif::TGIFColorMap* table = image.GetGlobalColorMap();
    table->SetColor(1, static_cast<gif::TGIFRGB>(classlib::ColorToRGB(TextColor)) & 0xFFFFFF);
    table->SetColor(2, static_cast<gif::TGIFRGB>(classlib::ColorToRGB(CellColor)) & 0xFFFFFF);
    image.SaveToFile(Dest);
}

bool CopyFiles(const std::wstring& Source, const std::wstring& Dest, HWND Owner)
{
    std::wstring from = ShellPathList(Source);
    std::wstring to = ShellPathList(Dest);
    SHFILEOPSTRUCTW op{};
    op.hwnd = Owner;
    op.wFunc = FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT;
    return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

bool FitSize(int Width, int Height, int MaxWidth, int MaxHeight, int& NewWidth, int& NewHeight)
{
    NewWidth = Width;
    NewHeight = Height;
    if (Width == 0 || Height == 0 || (Width <= MaxWidth && Height <= MaxHeight)) return false;
    const double ratio = static_cast<double>(Width) / Height;
    const double boxRatio = static_cast<double>(MaxWidth) / MaxHeight;
    if (boxRatio > ratio) {
        NewHeight = MaxHeight;
        NewWidth = static_cast<int>(classlib::Round(ratio * MaxHeight));
    } else {
        NewWidth = MaxWidth;
        NewHeight = static_cast<int>(classlib::Round(MaxWidth / ratio));
    }
    // A very long, thin image must not lose a side altogether.
    if (NewWidth < 1) NewWidth = 1;
    if (NewHeight < 1) NewHeight = 1;
    return true;
}

void ResizeToWH(imaging::TImgView* View, int MaxWidth, int MaxHeight)
{
    imaging::TPxBitmap* image = View->GetPxBitmap();
    int width = 0, height = 0;
    if (!FitSize(image->GetWidth(), image->GetHeight(), MaxWidth, MaxHeight, width, height)) return;
    View->GetProc()->Resample(width, height, imaging::rfFastLinear);
}

// ---- the build --------------------------------------------------------------

TAlbumBuildResult BuildAlbum(const TAlbumBuildInput& Input, std::vector<TAlbumRow>& Rows, TAlbumBuildHost& Host)
{
    TAlbumBuildResult result;
    if (Rows.empty()) return result;
    if (!Input.Settings) throw classlib::EInvalidArgument(L"The album build needs the settings");
    const TSettings& settings = *Input.Settings;
    const TTranslation english;
    const TTranslation& texts = Input.Translation ? *Input.Translation : english;

    const std::wstring albumFolder = WithBackslash(Input.AlbumFolder);
    classlib::CreateDir(albumFolder);
    const std::wstring albumPath = AlbumPathOf(Input.AlbumFolder, Input.AlbumName);
    result.AlbumPath = albumPath;

    if (classlib::FileExists(albumPath + L"index.html")) {
        const std::wstring question = classlib::StringReplace(
            texts.Text(L"msgAlbumExist"), L"%f1", Input.AlbumName, classlib::rfReplaceAll | classlib::rfIgnoreCase);
        if (Host.MessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            Host.FocusAlbumName();
            result.Outcome = TAlbumBuildOutcome::Declined;
            return result;
        }
    }

    classlib::CreateDir(albumPath);
    if (!CanWriteFile(albumPath + L"test.txt")) {
        Host.MessageBox(texts.Text(L"msgCouldNotWrite"), MB_OK | MB_ICONERROR);
        result.Outcome = TAlbumBuildOutcome::NotWritable;
        return result;
    }

    Host.SetStatusText(texts.Text(L"msgESC"));
    bool cancelled = false;
    {
        TRunningScope running(Host);

        classlib::CreateDir(albumPath + L"Images");
        classlib::CreateDir(albumPath + L"Thumbnails");
        if (!classlib::DirectoryExists(albumPath + L"Images") ||
            !classlib::DirectoryExists(albumPath + L"Thumbnails")) {
            Host.MessageBox(texts.Text(L"msgErrorCreateAlbum"), MB_OK | MB_ICONERROR);
            result.Outcome = TAlbumBuildOutcome::FoldersMissing;
            return result;
        }

        const std::wstring programFolder = WithBackslash(Input.ProgramFolder);
        const std::wstring gifFolder = programFolder + L"GIFs\\";
        for (const wchar_t* picture : kNavigationPictures)
            CorrectGIF(gifFolder + picture + L".gif", albumPath + picture + L".gif", settings.TxtCol,
                       settings.CellCol);
        for (const wchar_t* picture : kDisabledPictures)
            ::CopyFileW((gifFolder + picture).c_str(), (albumPath + picture).c_str(), FALSE);

        if (!CopyFiles(programFolder + L"viewer", albumPath, Host.OwnerWindow()))
            Host.MessageBox(kCopyCancelledText, MB_OK);

        Host.ShowBuildProgress(true);
        {
            imaging::TImgView view(nullptr);
            view.SetLegacyBitmap(false);
            view.GetIO()->FileParams->JPEGQuality = kJPEGQuality;
            // As a view owned by the main form: every operation first keeps
            // one undo copy of the image (in a temporary file).
            view.GetProc()->AutoUndo = true;
            view.GetProc()->SetUndoLimit(1);
            view.SetOnProgress(imaging::TPxProgressEvent::FromFunction(&OnViewProgress, &Host));

            const std::size_t count = Rows.size();
            for (std::size_t i = 0; i < count; ++i) {
                if (Host.CancelRequested == 1) {
                    cancelled = true;
                    break;
                }
                int percent = static_cast<int>(classlib::Round(static_cast<double>(i + 1) * 100.0 / count));
                if (percent >= 100) percent = 99;
                Host.SetImagePercent(percent);
                Host.ProcessMessages();

                if (BuildImage(view, settings, albumPath, Rows[i], result.ImageCount + 1)) ++result.ImageCount;
            }
        }

        if (cancelled) {
            result.Outcome = TAlbumBuildOutcome::Cancelled;
        } else {
            const TAlbumPages pages(PageOptionsOf(settings), Rows);
            result.PageCount = pages.WritePages(albumPath, Input.AlbumName, result.ImageCount);
            result.Outcome = TAlbumBuildOutcome::Completed;
        }
    }

    if (!cancelled && result.ImageCount > 0) {
        Host.MessageBox(texts.Text(L"msgAlbumCreated"), MB_OK | MB_ICONINFORMATION);
        Host.OpenDocument(albumPath + L"index.html");
    }
    return result;
}

}  // namespace album
