#include "app/AlbumBuild.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/AlbumFolder.h"
#include "app/AlbumPages.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "app/untReport.h"
#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/Threads.h"
#include "gif/GIFImage.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/view/ImgView.h"

namespace album {

namespace {

constexpr int kJPEGQuality = 85;
// Photos worked on at once at most (each worker holds one decoded photo).
constexpr int kMostWorkers = 8;
// The image memory the workers may hold together.
constexpr int64_t kPhotoMemory = int64_t{640} << 20;
// Photos that may be finished ahead of the window thread, per worker.
constexpr std::size_t kAheadPerWorker = 4;
// The longest the window thread goes without serving messages while it
// waits for a photo.
constexpr std::chrono::milliseconds kServeInterval{15};

const wchar_t* const kNavigationPictures[] = {L"first", L"prev", L"next", L"last", L"index"};
const wchar_t* const kDisabledPictures[] = {L"first_d.gif", L"prev_d.gif", L"next_d.gif", L"last_d.gif"};

std::wstring WithBackslash(std::wstring Path)
{
    if (Path.empty() || Path.back() != L'\\') Path += L'\\';
    return Path;
}

std::wstring WithName(const std::wstring& Text, const std::wstring& Name)
{
    return classlib::StringReplace(Text, L"%f1", Name, classlib::rfReplaceAll | classlib::rfIgnoreCase);
}

// An album name Windows would not accept as a folder name is refused with a
// message naming the rule it breaks. True when refused.
bool RefuseAlbumName(const std::wstring& Name, const TTranslation& Texts, TAlbumBuildHost& Host)
{
    const TAlbumNameRule rule = CheckAlbumName(Name);
    if (rule == TAlbumNameRule::Valid) return false;
    Host.MessageBox(WithName(Texts.Text(AlbumNameRuleKey(rule)), Name), MB_OK | MB_ICONWARNING);
    Host.FocusAlbumName();
    return true;
}

// The closing message of a build that did not put an album in place: a
// cancelled one, or one of which no picture could be read.
void ReportNothingPublished(bool Cancelled, bool HadAlbum, const std::wstring& AlbumName,
                            const std::vector<TAlbumRow>& Rows, const TTranslation& Texts, TAlbumBuildHost& Host)
{
    if (Cancelled) {
        Host.MessageBox(WithName(Texts.Text(HadAlbum ? L"msgCancelledKept" : L"msgCancelledNone"), AlbumName),
                        MB_OK | MB_ICONINFORMATION);
        return;
    }
    std::vector<std::wstring> lines;
    for (const TAlbumRow& row : Rows) lines.push_back(SkippedRowText(row));
    Host.MessageBox(FileReportText(Texts.Text(L"msgNothingBuilt"), lines, Texts.Text(L"msgAndMore")),
                    MB_OK | MB_ICONWARNING);
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

// Seconds since Origin, on the performance counter.
double SecondsSince(const LARGE_INTEGER& Origin)
{
    LARGE_INTEGER now, freq;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - Origin.QuadPart) / static_cast<double>(freq.QuadPart);
}

// One thread's time line: each Lap closes the stretch since the last one
// (or construction) as an activity and adds it to a phase sum. Records
// nothing without a span list.
class TPhaseClock {
public:
    TPhaseClock(TAlbumBuildTimes& Times, const LARGE_INTEGER& Origin, int Thread)
        : times_(Times), origin_(Origin), thread_(Thread), last_(SecondsSince(Origin))
    {
    }
    void Lap(double TAlbumBuildTimes::*Phase, TAlbumBuildActivity Activity)
    {
        const double start = last_;
        Mark(Activity);
        if (Phase) times_.*Phase += last_ - start;
    }
    void Mark(TAlbumBuildActivity Activity)
    {
        const double now = SecondsSince(origin_);
        if (now > last_) times_.Timeline.push_back(TAlbumBuildSpan{thread_, Activity, last_, now});
        last_ = now;
    }
    // Leaves the time since the last lap out of the time line.
    void Skip() { last_ = SecondsSince(origin_); }

private:
    TAlbumBuildTimes& times_;
    const LARGE_INTEGER origin_;
    const int thread_;
    double last_;
};

// A file written under a passing name beside its final one; removed when
// the owner dies before PutInPlace moved it there.
class TPartFile {
public:
    TPartFile() = default;
    explicit TPartFile(std::wstring Name) : name_(std::move(Name)) {}
    TPartFile(TPartFile&& Other) noexcept : name_(std::move(Other.name_)) { Other.name_.clear(); }
    TPartFile& operator=(TPartFile&& Other) noexcept
    {
        if (this != &Other) {
            Remove();
            name_ = std::move(Other.name_);
            Other.name_.clear();
        }
        return *this;
    }
    ~TPartFile() { Remove(); }

    bool Written() const { return !name_.empty(); }
    // Moves the file to FileName, replacing what is there. False (the file
    // removed) when that can't be done.
    bool PutInPlace(const std::wstring& FileName)
    {
        const bool moved = ::MoveFileExW(name_.c_str(), FileName.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (moved) name_.clear();
        Remove();
        return moved;
    }

private:
    void Remove()
    {
        if (!name_.empty()) ::DeleteFileW(name_.c_str());
        name_.clear();
    }
    std::wstring name_;
};

// One row as the image work sees it: the workers never touch the rows.
struct TPhotoJob {
    std::wstring Path;
    int Rotation = 0;
    std::wstring ImageFile;      // the image copy to write
    std::wstring ThumbnailFile;  // the thumbnail to write
};

// What the work on one photo produced. The worker writes the files under
// passing names; the window thread takes the result over in list order and
// puts them in place, so that a cancelled build leaves no file of a photo
// after the one it stopped before.
struct TPhotoResult {
    bool Loaded = false;      // false: unreadable or empty, the row is skipped
    std::wstring SkipReason;  // why, when not Loaded (the I/O object's failure text)
    std::wstring Incomplete;  // why only part of the picture was read (the I/O object's warning text)
    bool CopySource = false;  // the image copy is the source file, byte for byte
    TPartFile Image;          // the image copy (none: nothing to write, or it failed)
    TPartFile Thumbnail;
    // Why writing a file failed (raised in the row's turn, as the write
    // would have raised there).
    std::exception_ptr ImageError;
    std::exception_ptr ThumbnailError;
    int ThumbnailWidth = 0;
    int ThumbnailHeight = 0;
    // Raised by the build once the files made before the failure are in
    // place, as the failing step would have raised.
    std::exception_ptr Error;
};

void ResetOrientation(imaging::TImgIO& IO)
{
    if (IO.FileParams->HasEXIF) IO.FileParams->SetEXIFOrientation(1);
}

// The JPEG colour spaces of the I/O parameters that hold ink, not light.
constexpr uint8_t kJPEGCMYK = 3;
constexpr uint8_t kJPEGYCCK = 4;
constexpr uint8_t kJPEGYCbCr = 2;

bool IsCMYKJPEG(const imaging::TIOParamsVals& Params)
{
    return Params.FileFormat == imaging::ffJPEG &&
           (Params.JPEGColorSpace == kJPEGCMYK || Params.JPEGColorSpace == kJPEGYCCK);
}

// Lays Image (which has an alpha channel) onto Colour and drops the alpha
// channel: Image becomes 24-bit RGB, each channel (p * a + c * (255 - a)) /
// 255 rounded to nearest, so opaque pixels keep their colour exactly and
// transparent ones take Colour.
void LayOnto(imaging::TPxBitmap& Image, classlib::TColor Colour)
{
    Image.SetPixelFormat(imaging::px24RGB);
    const auto rgb = static_cast<uint32_t>(classlib::ColorToRGB(Colour));
    const int red = rgb & 0xFF, green = (rgb >> 8) & 0xFF, blue = (rgb >> 16) & 0xFF;
    const auto blend = [](int P, int C, int A) { return static_cast<uint8_t>((P * A + C * (255 - A) + 127) / 255); };
    imaging::TPxBitmap& alpha = *Image.GetAlphaChannel();
    const int width = Image.GetWidth(), height = Image.GetHeight();
    // An alpha channel that does not cover the image says nothing of it.
    if (Image.GetPixelFormat() == imaging::px24RGB && alpha.GetPixelFormat() == imaging::px8g &&
        alpha.GetWidth() == width && alpha.GetHeight() == height) {
        imaging::TPxAccessScope readAlpha(alpha, imaging::pxAccessRead);
        for (int y = 0; y < height; ++y) {
            const uint8_t* a = alpha.GetScanline(y);
            auto* row = reinterpret_cast<imaging::TPxRGB*>(Image.GetScanline(y));
            for (int x = 0; x < width; ++x) {
                row[x].r = blend(row[x].r, red, a[x]);
                row[x].g = blend(row[x].g, green, a[x]);
                row[x].b = blend(row[x].b, blue, a[x]);
            }
        }
    }
    Image.RemoveAlphaChannel(false, 0);
}

// Makes what is written of Image plain RGB, which every browser shows: its
// transparent parts laid onto Background (the colour they would show on
// the page), so that the colour hidden in transparent pixels never shows;
// and the JPEGs written with IO in YCbCr, whatever colour space the source
// file had (a CMYK source is decoded to RGB already).
void MakePlainRGB(imaging::TImgIO& IO, imaging::TPxBitmap& Image, classlib::TColor Background)
{
    if (Image.HasAlphaChannel()) LayOnto(Image, Background);
    if (IsCMYKJPEG(*IO.FileParams)) IO.FileParams->JPEGColorSpace = kJPEGYCbCr;
}

// The call that writes the bytes of the picture files (SetOutputWriteCall);
// nullptr: ::WriteFile.
std::atomic<TOutputWriteCall> outputWriteCall{nullptr};

// Writes Size bytes at Data as FileName; a file that can't be written
// completely is removed and the failure raised, naming Shown (the file the
// user knows of) and the system's reason (a full disk, say).
void WriteOutput(const std::wstring& FileName, const std::wstring& Shown, const void* Data, int64_t Size)
{
    DWORD error = ERROR_SUCCESS;
    {
        imaging::TPxWideFileStream file(FileName, imaging::pxFmCreate);  // raises why it can't be made
        const TOutputWriteCall hooked = outputWriteCall.load();
        const TOutputWriteCall write = hooked ? hooked : &::WriteFile;
        const auto* at = static_cast<const uint8_t*>(Data);
        for (int64_t left = Size; left > 0 && error == ERROR_SUCCESS;) {
            const DWORD want = static_cast<DWORD>(std::min<int64_t>(left, int64_t{1} << 30));
            DWORD put = 0;
            if (!write(file.GetHandle(), at, want, &put, nullptr))
                error = ::GetLastError();
            else if (put == 0)
                error = ERROR_WRITE_FAULT;
            at += put;
            left -= put;
        }
    }
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(FileName.c_str());
        throw classlib::EInOutError(
            classlib::Format(L"Could not write \"%s\". %s", Shown, classlib::SysErrorMessage(error)));
    }
}

// Writes the bytes under the passing name of FileName for photo Index;
// a failure goes to Error.
TPartFile WritePart(const std::wstring& FileName, std::size_t Index, const void* Data, int64_t Size,
                    std::exception_ptr& Error)
{
    const std::wstring part = FileName + L"." + std::to_wstring(Index) + L".part";
    try {
        WriteOutput(part, FileName, Data, Size);
        return TPartFile(part);
    } catch (...) {
        Error = std::current_exception();
        return TPartFile();
    }
}

// How far the work on one photo is, from 0 to 100 and never going back:
// each step of the work fills its own stretch of the range.
struct TPhotoStage {
    int From = 0;
    int To = 100;
};
constexpr TPhotoStage kStageDecode{0, 65};
constexpr TPhotoStage kStageFit{65, 85};
constexpr TPhotoStage kStageRotate{85, 88};
constexpr TPhotoStage kStageEncode{88, 93};
constexpr TPhotoStage kStageThumbnail{93, 100};

// The work on one photo: read, decode, fit, rotate, encode and write under
// passing names, all on the thread that calls Make. The file is opened and
// read once; its format is found once, by content (checked against its
// extension), and that format decodes it. The JPEG reader's reduced
// decoding (1/2 .. 1/8) is not used: fitting from a reduced decoding came
// out softer and further from a full-resolution reference fit than fitting
// from the full image does. The images and the file buffer are kept from
// photo to photo so that their memory is reused.
class TPhotoMaker {
public:
    // Report(Context, Percent) gets the photo's progress (0 .. 100, rising).
    TPhotoMaker(const TSettings& Settings, TAlbumBuildTimes& Times, const LARGE_INTEGER& Origin, int Thread,
                void (*Report)(void*, int), void* Context)
        : settings_(Settings), times_(Times), origin_(Origin), thread_(Thread), report_(Report), context_(Context)
    {
        for (imaging::TPxBitmap* b : {&decoded_, &copy_, &thumbnail_}) b->KeepStorage = true;
    }

    // Admit is called once, before the decoding, with the memory the photo
    // will take (a guess from the file's parameters); false from it ends
    // the work on the photo.
    void Make(const TPhotoJob& Job, std::size_t Index, TPhotoResult& Result,
              const std::function<bool(int64_t)>& Admit)
    {
        TPhaseClock clock(times_, origin_, thread_);
        stage_ = kStageDecode;
        shown_ = -1;
        const imaging::TPxProgressEvent progress = imaging::TPxProgressEvent::FromFunction(&OnProgress, this);
        std::unique_ptr<imaging::TImgIO> io = imaging::TImgIO::CreateForBitmap(&decoded_);
        io->FileParams->JPEGQuality = kJPEGQuality;
        // The background of an off-screen view, which rotations by other
        // angles than right ones show in the corners (a GIF load sets its own).
        io->SetBackground(classlib::clBtnFace);
        io->OnProgress = progress;

        const int64_t bytes = ReadSource(Job.Path);
        if (bytes >= 0) io->UseFileBytes(Job.Path, source_.data(), bytes);
        const int32_t found = PictureFormatOf(Job.Path, bytes >= 0 ? source_.data() : nullptr, std::max<int64_t>(bytes, 0));
        try {
            if (found != 0)
                io->ReadParamsFromFileFormat(Job.Path, found);
            else
                io->ReadParamsFromFile(Job.Path);
        } catch (...) {
        }
        const int32_t format = io->FileParams->FileFormat;
        io->AutoAdjustDPI = format == imaging::ffTIFF;
        clock.Lap(&TAlbumBuildTimes::Decode, TAlbumBuildActivity::Read);
        const bool admitted = Admit(MemoryGuess(*io->FileParams) + std::max<int64_t>(bytes, 0));
        clock.Mark(TAlbumBuildActivity::WaitMemory);
        if (!admitted) return;

        bool loaded = true;
        try {
            // The format found above decodes the file; without one (content
            // unknown, or not what the extension says) the extension decides.
            if (format != 0)
                io->LoadFromFileFormat(Job.Path, format);
            else
                io->LoadFromFile(Job.Path);
            loaded = !io->AbortFlag;
            if (!loaded) Result.SkipReason = io->GetLastFailureText();
        } catch (const classlib::Exception& e) {
            loaded = false;
            Result.SkipReason = e.Message();
        } catch (...) {
            loaded = false;
            Result.SkipReason = imaging::PxReadFailureText(imaging::TPxReadFailure::Unreadable);
        }
        if (loaded && (decoded_.GetWidth() == 0 || decoded_.GetHeight() == 0)) {
            loaded = false;
            Result.SkipReason = imaging::PxReadFailureText(imaging::TPxReadFailure::NoImage);
        }
        io->ForgetFileBytes();
        clock.Lap(&TAlbumBuildTimes::Decode, TAlbumBuildActivity::Decode);
        if (!loaded) return;
        Result.Loaded = true;
        Result.Incomplete = io->GetLastWarningText();
        // A mirrored orientation is undone by the work (the row's rotation
        // holds the turn that goes with it); the copies say "normal".
        orientation_ = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
        ResetOrientation(*io);

        try {
            MakeOutputs(Job, Index, *io, progress, clock, Result);
        } catch (...) {
            Result.Error = std::current_exception();
        }
        io->ReplaceBitmap(&decoded_);
        if (Result.CopySource) {
            if (bytes >= 0) {
                std::exception_ptr ignored;  // a failed copy is left out, as the platform's copy would be
                Result.Image = WritePart(Job.ImageFile, Index, source_.data(), bytes, ignored);
            } else {
                const std::wstring part = Job.ImageFile + L"." + std::to_wstring(Index) + L".part";
                if (::CopyFileW(Job.Path.c_str(), part.c_str(), FALSE)) Result.Image = TPartFile(part);
            }
        }
        clock.Lap(nullptr, TAlbumBuildActivity::Write);
        Report(100);
    }

    // Gives back the memory of the images kept for the next photo (not the
    // file buffer: it holds the photo in the work).
    void ReleaseImages()
    {
        for (imaging::TPxBitmap* b : {&decoded_, &copy_, &thumbnail_}) {
            b->KeepStorage = false;
            b->FreeImage(true);
            b->KeepStorage = true;
        }
    }

private:
    // Files above this size are read by the decoder from the file itself.
    static constexpr int64_t kMostBuffered = int64_t{256} << 20;

    // Reads the whole file into source_ with one open and one read; its
    // size, or -1 when it can't be read so (the load then opens the file
    // and reports why it fails).
    int64_t ReadSource(const std::wstring& Path)
    {
        try {
            imaging::TPxWideFileStream file(Path, classlib::fmOpenRead | classlib::fmShareDenyWrite);
            const int64_t size = file.GetSize();
            if (size < 0 || size > kMostBuffered) return -1;
            if (source_.size() < static_cast<std::size_t>(size)) source_.resize(static_cast<std::size_t>(size));
            if (size > 0) file.ReadBuffer(source_.data(), size);
            return size;
        } catch (...) {
            return -1;
        }
    }

    void Report(int Percent)
    {
        if (Percent > shown_ || Percent == 100) {
            shown_ = Percent;
            report_(context_, Percent);
        }
    }

    static void OnProgress(void* Self, classlib::TObject*, int Percent)
    {
        auto* maker = static_cast<TPhotoMaker*>(Self);
        const int p = std::clamp(Percent, 0, 100);
        maker->Report(maker->stage_.From + (maker->stage_.To - maker->stage_.From) * p / 100);
    }

    // The decoded image and the work image of fitting it (as wide as the
    // fitted copy, as high as the source), in 24 bits per pixel.
    int64_t MemoryGuess(const imaging::TIOParamsVals& Params) const
    {
        const int64_t w = std::max(Params.Width, 0), h = std::max(Params.Height, 0);
        const int64_t fitted = settings_.ResizeImg ? std::min<int64_t>(w, settings_.MaxImg) : 0;
        return (w + fitted) * h * 3;
    }

    // Into Dest: Source fitted into the square box Max as ResizeToWH fits
    // it. False (Dest untouched) when nothing must be done.
    bool Fit(imaging::TPxBitmap& Source, imaging::TPxBitmap& Dest, int Max, const imaging::TPxProgressEvent& Progress)
    {
        int width = 0, height = 0;
        if (!FitSize(Source.GetWidth(), Source.GetHeight(), Max, Max, width, height)) return false;
        Processor(Source, Progress)->ResampleTo(&Dest, width, height, imaging::rfFastLinear);
        return true;
    }

    static std::unique_ptr<imaging::TImgProc> Processor(imaging::TPxBitmap& Bitmap,
                                                        const imaging::TPxProgressEvent& Progress,
                                                        classlib::TColor Background = classlib::clBtnFace)
    {
        std::unique_ptr<imaging::TImgProc> proc = imaging::TImgProc::CreateForBitmap(&Bitmap);
        // Nothing could ever undo the build's operations.
        proc->AutoUndo = false;
        proc->SetUndoLimit(0);
        proc->SetBackground(Background);
        proc->OnProgress = Progress;
        return proc;
    }

    // Mirrors Bitmap left to right in place.
    static void Mirror(imaging::TPxBitmap& Bitmap) { imaging::PxFlipBitmap(&Bitmap, 0); }

    static void Rotate(imaging::TPxBitmap& Bitmap, int Rotation, imaging::TImgIO& IO,
                       const imaging::TPxProgressEvent& Progress)
    {
        Processor(Bitmap, Progress, IO.GetBackground())
            ->Rotate(Rotation, false, 0, static_cast<classlib::TColor>(-1));
    }

    // Bitmap encoded as a JPEG with the loaded file's parameters (the time
    // up to here going to Phase), written under the passing name of
    // FileName.
    TPartFile Encode(imaging::TImgIO& IO, imaging::TPxBitmap& Bitmap, const std::wstring& FileName,
                     std::size_t Index, std::exception_ptr& WriteError, TPhaseClock& Clock,
                     double TAlbumBuildTimes::*Phase, TAlbumBuildActivity Activity)
    {
        encoded_.SetSize(0);
        IO.ReplaceBitmap(&Bitmap);
        IO.SaveJPEGToStream(&encoded_);
        if (IO.AbortFlag) throw classlib::EInOutError(L"Could not write \"" + FileName + L"\"");
        Clock.Lap(Phase, Activity);
        TPartFile part = WritePart(FileName, Index, encoded_.GetMemory(), encoded_.GetSize(), WriteError);
        Clock.Lap(nullptr, TAlbumBuildActivity::Write);
        return part;
    }

    void MakeOutputs(const TPhotoJob& Job, std::size_t Index, imaging::TImgIO& IO,
                     const imaging::TPxProgressEvent& Progress, TPhaseClock& Clock, TPhotoResult& Result)
    {
        const int rotation = Job.Rotation;
        const bool mirrored = IsMirroredOrientation(orientation_);
        // A copy that is to say "normal" can't be the source's bytes when the
        // source says otherwise.
        const bool normal = orientation_ <= 1 || orientation_ > 8;

        // The image copy: a JPEG that needs no change (nor a change of
        // colour space) is the source itself.
        // With resizing it is fitted into a copy, so that the thumbnail is
        // made from the decoded image as it came; without, the decoded image
        // is turned in place and the thumbnail made from it.
        imaging::TPxBitmap* image = &decoded_;
        Result.CopySource = IO.FileParams->FileFormat == imaging::ffJPEG && !IsCMYKJPEG(*IO.FileParams) &&
                            !settings_.ResizeImg && rotation == 0 && normal;
        MakePlainRGB(IO, decoded_, settings_.BckgrCol);
        if (!Result.CopySource) {
            stage_ = kStageFit;
            if (settings_.ResizeImg) {
                if (Fit(decoded_, copy_, settings_.MaxImg, Progress)) {
                    image = &copy_;
                } else if (rotation != 0 || mirrored) {
                    copy_.Assign(&decoded_);
                    image = &copy_;
                }
            }
            Clock.Lap(&TAlbumBuildTimes::Fit, TAlbumBuildActivity::Fit);
            stage_ = kStageRotate;
            if (mirrored) Mirror(*image);
            if (rotation != 0) Rotate(*image, rotation, IO, Progress);
            Clock.Lap(&TAlbumBuildTimes::Rotate, TAlbumBuildActivity::Rotate);
            stage_ = kStageEncode;
            Result.Image = Encode(IO, *image, Job.ImageFile, Index, Result.ImageError, Clock,
                                  &TAlbumBuildTimes::Encode, TAlbumBuildActivity::Encode);
        }

        // The thumbnail: with resizing fitted from the decoded image, then
        // turned; without, fitted from the (already turned) image.
        stage_ = kStageThumbnail;
        imaging::TPxBitmap& source = settings_.ResizeImg ? decoded_ : *image;
        imaging::TPxBitmap* thumbnail = &source;
        if (Fit(source, thumbnail_, settings_.MaxTh, Progress)) thumbnail = &thumbnail_;
        if (settings_.ResizeImg) {
            // Fitted from the decoded image as it came: mirrored and turned
            // here (the image copy is already encoded).
            if (mirrored) Mirror(*thumbnail);
            if (rotation != 0) Rotate(*thumbnail, rotation, IO, Progress);
        }
        Result.Thumbnail = Encode(IO, *thumbnail, Job.ThumbnailFile, Index, Result.ThumbnailError, Clock,
                                  &TAlbumBuildTimes::Thumbnail, TAlbumBuildActivity::Thumbnail);
        Result.ThumbnailWidth = thumbnail->GetWidth();
        Result.ThumbnailHeight = thumbnail->GetHeight();
    }

    const TSettings& settings_;
    TAlbumBuildTimes& times_;
    const LARGE_INTEGER origin_;
    const int thread_;
    void (*report_)(void*, int);
    void* context_;
    TPhotoStage stage_;
    int shown_ = -1;  // the last progress reported for the photo in the work
    imaging::TPxBitmap decoded_;
    imaging::TPxBitmap copy_;
    imaging::TPxBitmap thumbnail_;
    std::vector<uint8_t> source_;      // the file's bytes
    classlib::TMemoryStream encoded_;  // the JPEG being made
    int orientation_ = 1;  // the stored EXIF orientation of the photo in the work
};

// The photos of the album list worked on by worker threads, at most Ahead
// photos beyond the last one the window thread has taken, each taken in list
// order. The image memory of the workers (what they work on and what they
// keep for the next photo, as guessed by TPhotoMaker from each photo's size)
// stays within Memory, except that the photo the window thread waits for is
// always let in; a worker that has to wait for memory first gives back what
// it keeps. A finished photo waiting for its turn holds no image memory (its
// files are written), so the lookahead costs only work thrown away on a
// cancel. The destructor stops the work (photos being worked on are
// finished, no new one is started), waits for the workers and removes the
// files of the photos not taken.
class TPhotoPipeline {
public:
    TPhotoPipeline(std::vector<TPhotoJob> Jobs, const TSettings& Settings, int Workers, std::size_t Ahead,
                   int64_t Memory, const LARGE_INTEGER& Origin)
        : jobs_(std::move(Jobs)), settings_(Settings), ahead_(std::max<std::size_t>(Ahead, 1)), memoryLimit_(Memory),
          origin_(Origin), slots_(jobs_.size()), times_(static_cast<std::size_t>(Workers)),
          held_(static_cast<std::size_t>(Workers))
    {
        try {
            for (int w = 0; w < Workers; ++w) threads_.emplace_back([this, w] { Work(w); });
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~TPhotoPipeline() { Stop(); }
    TPhotoPipeline(const TPhotoPipeline&) = delete;
    TPhotoPipeline& operator=(const TPhotoPipeline&) = delete;

    // Photo Index's result, once its work is done (Index is the photo after
    // the last one taken). Meanwhile its progress goes to Report whenever it
    // has moved on (at most every Interval, once more at the end), and Idle
    // runs when it has not; so one of them runs at least every Interval.
    TPhotoResult Take(std::size_t Index, const std::function<void(int)>& Report, const std::function<void()>& Idle,
                      std::chrono::milliseconds Interval)
    {
        TSlot& slot = slots_[Index];
        int shown = -1;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const bool done = slot.Done;
            const int percent = slot.Percent.load(std::memory_order_relaxed);
            lock.unlock();
            if (percent != shown) {
                shown = percent;
                Report(percent);
            } else if (!done) {
                Idle();
            }
            lock.lock();
            if (done) break;
            doneChanged_.wait_for(lock, Interval, [&] { return slot.Done; });
        }
        TPhotoResult result = std::move(slot.Result);
        taken_ = Index + 1;
        lock.unlock();
        workChanged_.notify_all();
        return result;
    }

    // The phase times and time lines of all workers, after Stop.
    void AddTimes(TAlbumBuildTimes& Times)
    {
        Stop();
        for (TAlbumBuildTimes& t : times_) {
            Times.Decode += t.Decode;
            Times.Fit += t.Fit;
            Times.Rotate += t.Rotate;
            Times.Encode += t.Encode;
            Times.Thumbnail += t.Thumbnail;
            Times.Timeline.insert(Times.Timeline.end(), t.Timeline.begin(), t.Timeline.end());
        }
        Times.Workers = static_cast<int>(times_.size());
    }

private:
    struct TSlot {
        bool Done = false;
        TPhotoResult Result;
        std::atomic<int> Percent{-1};  // the work's progress, rising
    };
    struct TReportContext {
        TPhotoPipeline* Pipeline;
        std::size_t Index;
    };

    static void OnProgress(void* Context, int Percent)
    {
        auto* c = static_cast<TReportContext*>(Context);
        c->Pipeline->slots_[c->Index].Percent.store(Percent, std::memory_order_relaxed);
    }

    // Lets photo Index (needing Bytes) in once the memory allows; the worker's
    // kept images (Maker) are given back first when it must wait.
    bool Admit(std::size_t Worker, std::size_t Index, int64_t Bytes, TPhotoMaker& Maker)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        int64_t& held = held_[Worker];
        auto fits = [&] {
            return stop_ || Index <= taken_ || memory_ - held + std::max(held, Bytes) <= memoryLimit_;
        };
        if (!fits()) {
            lock.unlock();
            Maker.ReleaseImages();
            lock.lock();
            memory_ -= held;
            held = 0;
            workChanged_.notify_all();
            workChanged_.wait(lock, fits);
        }
        if (stop_) return false;
        memory_ += std::max(held, Bytes) - held;
        held = std::max(held, Bytes);
        return true;
    }

    void Work(int Worker)
    {
        const std::size_t w = static_cast<std::size_t>(Worker);
        TReportContext context{this, 0};
        TPhotoMaker maker(settings_, times_[w], origin_, Worker + 1, &OnProgress, &context);
        TPhaseClock clock(times_[w], origin_, Worker + 1);
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                workChanged_.wait(lock,
                                  [&] { return stop_ || next_ >= jobs_.size() || next_ < taken_ + ahead_; });
                if (stop_ || next_ >= jobs_.size()) return;
                index = next_++;
            }
            clock.Mark(TAlbumBuildActivity::WaitTurn);
            TPhotoResult result;
            context.Index = index;
            try {
                maker.Make(jobs_[index], index, result,
                           [&](int64_t Bytes) { return Admit(w, index, Bytes, maker); });
            } catch (...) {
                result.Error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[index].Result = std::move(result);
                slots_[index].Done = true;
            }
            doneChanged_.notify_all();
            workChanged_.notify_all();
            clock.Skip();  // the photo's time line is the maker's
        }
    }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        workChanged_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

    const std::vector<TPhotoJob> jobs_;
    const TSettings& settings_;
    const std::size_t ahead_;
    const int64_t memoryLimit_;
    const LARGE_INTEGER origin_;
    std::vector<TSlot> slots_;
    std::vector<TAlbumBuildTimes> times_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable workChanged_;  // a photo taken, or stop
    std::condition_variable doneChanged_;  // a photo done
    std::size_t next_ = 0;   // the next photo to start
    std::size_t taken_ = 0;  // photos taken by the window thread
    bool stop_ = false;
    std::vector<int64_t> held_;  // image memory per worker
    int64_t memory_ = 0;         // the sum of held_
};

// The processors this process may run on.
int UsableProcessors()
{
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1) ++count;
    if (count == 0) count = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(count, 1);
}

// The image memory the workers may hold together: kPhotoMemory, or less on
// a machine with little memory (a quarter of its physical memory).
int64_t PhotoMemoryLimit()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!::GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return kPhotoMemory;
    return std::min<int64_t>(kPhotoMemory, static_cast<int64_t>(status.ullTotalPhys / 4));
}

// Puts a photo's written file in place as FileName, or raises why it could
// not be written (Error) or moved there, as writing it there would have.
void PlaceOutput(TPartFile& Part, const std::exception_ptr& Error, const std::wstring& FileName)
{
    if (Error) std::rethrow_exception(Error);
    if (!Part.Written() || Part.PutInPlace(FileName)) return;
    const DWORD code = ::GetLastError();
    throw classlib::EFCreateError(classlib::Format(L"Cannot create file \"%s\". %s", FileName,
                                                   classlib::SysErrorMessage(code)));
}

// The window thread's part of a row's turn: the files put in place and the
// row rewritten from the work's result. False when the image could not be
// read.
bool FinishImage(const TPhotoJob& Job, TPhotoResult& Result, TAlbumRow& Row, int Number)
{
    Row.Incomplete = Result.Incomplete;
    if (!Result.Loaded) {
        Row.Checked = false;
        Row.SkipReason = Result.SkipReason;
        return false;
    }
    if (Result.CopySource) {
        // A failed copy is left out, as the platform's file copy was.
        if (Result.Image.Written()) Result.Image.PutInPlace(Job.ImageFile);
    } else {
        PlaceOutput(Result.Image, Result.ImageError, Job.ImageFile);
    }
    PlaceOutput(Result.Thumbnail, Result.ThumbnailError, Job.ThumbnailFile);
    if (Result.Error) std::rethrow_exception(Result.Error);

    const std::wstring rotation = Row.SubItem(siRotation);
    const std::wstring title = Row.SubItem(siTitle);
    const std::wstring description = Row.SubItem(siDescription);
    Row.SubItems = {rotation,
                    std::to_wstring(Number),
                    std::to_wstring(Result.ThumbnailWidth),
                    std::to_wstring(Result.ThumbnailHeight),
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

void SetOutputWriteCall(TOutputWriteCall Call) { outputWriteCall.store(Call); }

std::wstring AlbumPathOf(const std::wstring& AlbumFolder, const std::wstring& AlbumName)
{
    return WithBackslash(WithBackslash(AlbumFolder) + AlbumName);
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

int32_t PictureFormatOf(const std::wstring& FileName, const void* Bytes, int64_t Count)
{
    if (Bytes) {
        imaging::TPxMemStream content(Bytes, Count);
        return imaging::PxDetectFileContentFormat(content, FileName, false);
    }
    return imaging::PxDetectFileFormat(FileName, false);
}

std::wstring SkippedRowText(const TAlbumRow& Row)
{
    return Row.SkipReason.empty() ? Row.Path : Row.Path + L": " + Row.SkipReason;
}

std::wstring IncompleteRowText(const TAlbumRow& Row, const std::wstring& Note)
{
    return Row.Path + L": " + Row.Incomplete + L"; " + Note;
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

// ---- the album's files --------------------------------------------------------

namespace {

// The files a build of Rows writes into the album folder (relative paths):
// Pages index pages, every row's copy and thumbnail (WrittenOnly: of the
// rows marked as written), the navigation pictures
// and the viewer's files.
std::vector<std::wstring> AlbumFileNames(const std::vector<TAlbumRow>& Rows, bool WrittenOnly, std::size_t Pages,
                                         const std::wstring& ProgramFolder)
{
    std::vector<std::wstring> names = {L"index.html"};
    for (std::size_t page = 2; page <= Pages; ++page)
        names.push_back(L"index" + std::to_wstring(page) + L".html");
    const std::vector<std::wstring> outputs = OutputNamesOf(Rows);
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (WrittenOnly && !Rows[i].Checked) continue;
        names.push_back(L"Images\\" + outputs[i]);
        names.push_back(L"Thumbnails\\tn_" + outputs[i]);
    }
    for (const wchar_t* picture : kNavigationPictures) names.push_back(std::wstring(picture) + L".gif");
    for (const wchar_t* picture : kDisabledPictures) names.push_back(picture);
    for (const std::wstring& file : FilesBelow(ProgramFolder + L"viewer")) names.push_back(L"viewer\\" + file);
    return names;
}

// The pages Count rows fill at most.
std::size_t MostPages(std::size_t Count, const TSettings& Settings)
{
    const std::size_t perPage = static_cast<std::size_t>(std::max(1, Settings.ColumnsNr * Settings.RowsNr));
    return (Count + perPage - 1) / perPage;
}

std::wstring NameList(const std::wstring& Folder, const std::vector<std::wstring>& Names)
{
    std::wstring list;
    for (const std::wstring& name : Names) list += L"\r\n" + Folder + name;
    return list;
}

// Files of the album folder that no build wrote but that this build would
// replace stop it before it writes anything, with a message naming them.
// True when refused.
bool RefuseFilesInTheWay(const TAlbumStaging& Staging, const std::vector<std::wstring>& Names,
                         const TTranslation& Texts, TAlbumBuildHost& Host)
{
    const std::vector<std::wstring> foreign = Staging.ForeignFiles(Names);
    if (foreign.empty()) return false;
    Host.MessageBox(Texts.Text(L"msgFilesInTheWay") + NameList(Staging.AlbumPath(), foreign), MB_OK | MB_ICONWARNING);
    Host.FocusAlbumName();
    return true;
}

// A finished work folder lacking a file its pages need is not published;
// the message names the missing files. True when refused.
bool RefuseMissingFiles(const std::wstring& WorkPath, const std::vector<TAlbumRow>& Rows, int Pages,
                        const std::wstring& ProgramFolder, const TTranslation& Texts, TAlbumBuildHost& Host)
{
    const std::vector<std::wstring> missing =
        MissingFiles(WorkPath, AlbumFileNames(Rows, true, static_cast<std::size_t>(Pages), ProgramFolder));
    if (missing.empty()) return false;
    Host.MessageBox(Texts.Text(L"msgFilesMissing") + NameList(L"", missing), MB_OK | MB_ICONERROR);
    return true;
}

}  // namespace

// ---- the build --------------------------------------------------------------

TAlbumBuildResult BuildAlbum(const TAlbumBuildInput& Input, std::vector<TAlbumRow>& Rows, TAlbumBuildHost& Host)
{
    TAlbumBuildResult result;
    if (Rows.empty()) return result;
    if (!Input.Settings) throw classlib::EInvalidArgument(L"The album build needs the settings");
    const TSettings& settings = *Input.Settings;
    const TTranslation english;
    const TTranslation& texts = Input.Translation ? *Input.Translation : english;

    if (!Input.AlbumName.empty() && RefuseAlbumName(Input.AlbumName, texts, Host)) {
        result.Outcome = TAlbumBuildOutcome::NameRefused;
        return result;
    }
    const std::wstring albumFolder = WithBackslash(Input.AlbumFolder);
    classlib::CreateDir(albumFolder);
    const std::wstring albumPath = AlbumPathOf(Input.AlbumFolder, Input.AlbumName);
    result.AlbumPath = albumPath;

    // The album is written into a work folder of its own and takes the
    // place of the previous one only when it is finished (AlbumFolder.h).
    TAlbumStaging staging(albumPath);
    const TStagingState state = staging.Create();
    if (state != TStagingState::Ready) {
        const bool busy = state == TStagingState::Busy;
        Host.MessageBox(busy ? WithName(texts.Text(L"msgAlbumBusy"), albumPath) : texts.Text(L"msgCouldNotWrite"),
                        MB_OK | (busy ? MB_ICONWARNING : MB_ICONERROR));
        result.Outcome = busy ? TAlbumBuildOutcome::Busy : TAlbumBuildOutcome::NotWritable;
        return result;
    }
    const bool hadAlbum = staging.HasAlbum();
    if (staging.HoldsAlbumItems()) {
        const std::wstring key = hadAlbum ? L"msgAlbumExist" : L"msgAlbumFolderInUse";
        if (Host.MessageBox(WithName(texts.Text(key.c_str()), Input.AlbumName), MB_YESNO | MB_ICONQUESTION) != IDYES) {
            Host.FocusAlbumName();
            result.Outcome = TAlbumBuildOutcome::Declined;
            return result;
        }
    }
    const std::wstring programFolder = WithBackslash(Input.ProgramFolder);
    const std::vector<std::wstring> albumFiles =
        AlbumFileNames(Rows, false, MostPages(Rows.size(), settings), programFolder);
    if (RefuseFilesInTheWay(staging, albumFiles, texts, Host)) {
        result.Outcome = TAlbumBuildOutcome::FilesInTheWay;
        return result;
    }

    const std::wstring workPath = staging.WorkPath();

    Host.SetStatusText(texts.Text(L"msgESC"));
    bool cancelled = false;
    {
        TRunningScope running(Host);

        classlib::CreateDir(workPath + L"Images");
        classlib::CreateDir(workPath + L"Thumbnails");
        if (!classlib::DirectoryExists(workPath + L"Images") ||
            !classlib::DirectoryExists(workPath + L"Thumbnails")) {
            Host.MessageBox(texts.Text(L"msgErrorCreateAlbum"), MB_OK | MB_ICONERROR);
            result.Outcome = TAlbumBuildOutcome::FoldersMissing;
            return result;
        }

        const std::wstring gifFolder = programFolder + L"GIFs\\";
        for (const wchar_t* picture : kNavigationPictures)
            CorrectGIF(gifFolder + picture + L".gif", workPath + picture + L".gif", settings.TxtCol,
                       settings.CellCol);
        for (const wchar_t* picture : kDisabledPictures)
            ::CopyFileW((gifFolder + picture).c_str(), (workPath + picture).c_str(), FALSE);

        std::wstring failed;
        if (!CopyFolder(programFolder + L"viewer", workPath + L"viewer", failed)) {
            Host.MessageBox(WithName(texts.Text(L"msgViewerNotCopied"), failed), MB_OK | MB_ICONERROR);
            result.Outcome = TAlbumBuildOutcome::FilesMissing;
            return result;
        }

        Host.ShowBuildProgress(true);
        {
            const std::size_t count = Rows.size();
            std::vector<TPhotoJob> jobs;
            jobs.reserve(count);
            const std::vector<std::wstring> names = OutputNamesOf(Rows);
            for (std::size_t i = 0; i < count; ++i)
                jobs.push_back(TPhotoJob{Rows[i].Path, Rows[i].Rotation(), workPath + L"Images\\" + names[i],
                                         workPath + L"Thumbnails\\tn_" + names[i]});
            // Each worker holds one photo's images; finished photos (their
            // files written) wait for the window thread.
            const int workers = static_cast<int>(std::min<std::size_t>(
                {static_cast<std::size_t>(std::min(UsableProcessors(), kMostWorkers)), count}));
            LARGE_INTEGER origin;
            ::QueryPerformanceCounter(&origin);
            TAlbumBuildTimes windowTimes;
            TPhaseClock clock(windowTimes, origin, 0);
            TPhotoPipeline photos(jobs, settings, workers, kAheadPerWorker * static_cast<std::size_t>(workers),
                                  PhotoMemoryLimit(), origin);
            const auto report = [&](int Percent) {
                clock.Mark(TAlbumBuildActivity::WaitTurn);
                Host.SetStepPercent(Percent);
                Host.ProcessMessages();
                clock.Mark(TAlbumBuildActivity::Messages);
            };
            const auto idle = [&] {
                clock.Mark(TAlbumBuildActivity::WaitTurn);
                Host.ProcessMessages();
                clock.Mark(TAlbumBuildActivity::Messages);
            };

            for (std::size_t i = 0; i < count; ++i) {
                if (Host.CancelRequested == 1) {
                    cancelled = true;
                    break;
                }
                int percent = static_cast<int>(classlib::Round(static_cast<double>(i + 1) * 100.0 / count));
                if (percent >= 100) percent = 99;
                Host.SetImagePercent(percent);
                Host.ProcessMessages();
                clock.Mark(TAlbumBuildActivity::Messages);

                Rows[i].Checked = true;
                Rows[i].SkipReason.clear();
                TPhotoResult photo = photos.Take(i, report, idle, kServeInterval);
                clock.Mark(TAlbumBuildActivity::WaitTurn);
                if (FinishImage(jobs[i], photo, Rows[i], result.ImageCount + 1)) ++result.ImageCount;
                clock.Mark(TAlbumBuildActivity::Finish);
            }
            if (Input.Times) {
                photos.AddTimes(*Input.Times);
                Input.Times->Timeline.insert(Input.Times->Timeline.end(), windowTimes.Timeline.begin(),
                                             windowTimes.Timeline.end());
                Input.Times->Seconds = SecondsSince(origin);
            }
        }

        if (cancelled) {
            result.Outcome = TAlbumBuildOutcome::Cancelled;
        } else {
            const TAlbumPages pages(PageOptionsOf(settings), Rows);
            result.PageCount = pages.WritePages(workPath, Input.AlbumName, result.ImageCount);
            result.Outcome = TAlbumBuildOutcome::Completed;
        }
    }

    if (cancelled || result.ImageCount == 0) {
        staging.Discard();
        result.PageCount = 0;
        ReportNothingPublished(cancelled, hadAlbum, Input.AlbumName, Rows, texts, Host);
        return result;
    }
    if (RefuseMissingFiles(staging.WorkPath(), Rows, result.PageCount, programFolder, texts, Host)) {
        result.Outcome = TAlbumBuildOutcome::FilesMissing;
        result.PageCount = 0;
        return result;
    }
    try {
        staging.Publish();
    } catch (const classlib::EInOutError& e) {
        Host.MessageBox(WithName(classlib::StringReplace(texts.Text(L"msgReplaceFailed"), L"%f2", e.Message(),
                                                         classlib::rfReplaceAll),
                                 albumPath),
                        MB_OK | MB_ICONERROR);
        result.Outcome = TAlbumBuildOutcome::NotPublished;
        return result;
    }
    Host.MessageBox(texts.Text(L"msgAlbumCreated"), MB_OK | MB_ICONINFORMATION);
    Host.OpenDocument(albumPath + L"index.html");
    return result;
}

}  // namespace album
