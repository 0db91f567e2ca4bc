#include "app/AlbumBuild.h"

#include <shellapi.h>

#include <algorithm>
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
#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/Threads.h"
#include "gif/GIFImage.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/ImgIO.h"
#include "imaging/io/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxWideFiles.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/ImgView.h"

namespace album {

namespace {

constexpr int kJPEGQuality = 85;
// Photos worked on at once at most (each worker holds one decoded photo).
constexpr int kMostWorkers = 8;
// The image memory the workers may hold together.
constexpr int64_t kPhotoMemory = int64_t{640} << 20;

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
    std::wstring text = Texts.Text(L"msgNothingBuilt");
    for (const TAlbumRow& row : Rows) text += L"\r\n" + SkippedRowText(row);
    Host.MessageBox(text, MB_OK | MB_ICONWARNING);
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

// Adds the time since the last lap (or construction) to a phase.
class TPhaseClock {
public:
    explicit TPhaseClock(TAlbumBuildTimes& Times) : times_(Times) { ::QueryPerformanceCounter(&last_); }
    void Lap(double TAlbumBuildTimes::*Phase)
    {
        LARGE_INTEGER now, freq;
        ::QueryPerformanceCounter(&now);
        ::QueryPerformanceFrequency(&freq);
        times_.*Phase += static_cast<double>(now.QuadPart - last_.QuadPart) / static_cast<double>(freq.QuadPart);
        last_ = now;
    }
    // Leaves the time since the last lap out of every phase.
    void Skip() { ::QueryPerformanceCounter(&last_); }

private:
    TAlbumBuildTimes& times_;
    LARGE_INTEGER last_;
};

// One row as the image work sees it: the workers never touch the rows.
struct TPhotoJob {
    std::wstring Path;
    int Rotation = 0;
    std::wstring ImageFile;      // the image copy to write
    std::wstring ThumbnailFile;  // the thumbnail to write
};

// What the work on one photo produced. The window thread takes it over in
// list order and writes the files; the work writes nothing itself, so that a
// cancelled build leaves no file of a photo after the one it stopped before.
struct TPhotoResult {
    bool Loaded = false;      // false: unreadable or empty, the row is skipped
    std::wstring SkipReason;  // why, when not Loaded (the I/O object's failure text)
    std::wstring Incomplete;  // why only part of the picture was read (the I/O object's warning text)
    bool CopySource = false;  // the image copy is the source file, byte for byte
    std::unique_ptr<classlib::TMemoryStream> Image;      // encoded image copy
    std::unique_ptr<classlib::TMemoryStream> Thumbnail;  // encoded thumbnail
    int ThumbnailWidth = 0;
    int ThumbnailHeight = 0;
    // Raised by the build once the files made before the failure are written,
    // as the failing step would have raised.
    std::exception_ptr Error;
};

// The progress reports of one photo's work in the order they came, without
// repeats of the same value; filled by a worker, replayed by the window
// thread. Guarded by the pipeline's lock.
struct TPhotoProgress {
    std::vector<uint8_t> Reports;
    int Last = -1;  // the last value reported (worker side only)
};

void ResetOrientation(imaging::TImgIO& IO)
{
    if (IO.FileParams->HasEXIF) IO.FileParams->SetEXIFOrientation(1);
}

// The work on one photo: decode, fit, rotate, encode, all on the thread
// that calls Make. The JPEG reader's reduced decoding (1/2 .. 1/8) is not
// used: fitting from a reduced decoding came out softer and further from a
// full-resolution reference fit than fitting from the full image does.
// The images are kept from photo to photo so that their memory is reused.
class TPhotoMaker {
public:
    TPhotoMaker(const TSettings& Settings, TAlbumBuildTimes& Times) : settings_(Settings), times_(Times)
    {
        for (imaging::TPxBitmap* b : {&decoded_, &copy_, &thumbnail_}) b->KeepStorage = true;
    }

    // Reports go to Report(Context, Percent). Admit is called once, before
    // the decoding, with the image memory the photo will take (a guess from
    // the file's parameters); false from it ends the work on the photo.
    void Make(const TPhotoJob& Job, TPhotoResult& Result, void (*Report)(void*, classlib::TObject*, int),
              void* Context, const std::function<bool(int64_t)>& Admit)
    {
        TPhaseClock clock(times_);
        const imaging::TPxProgressEvent progress = imaging::TPxProgressEvent::FromFunction(Report, Context);
        std::unique_ptr<imaging::TImgIO> io = imaging::TImgIO::CreateForBitmap(&decoded_);
        io->FileParams->JPEGQuality = kJPEGQuality;
        // The background of an off-screen view, which rotations by other
        // angles than right ones show in the corners (a GIF load sets its own).
        io->SetBackground(classlib::clBtnFace);
        io->OnProgress = progress;

        try {
            io->ReadParamsFromFile(Job.Path);
        } catch (...) {
        }
        io->AutoAdjustDPI = io->FileParams->FileFormat == imaging::ffTIFF;
        clock.Lap(&TAlbumBuildTimes::Decode);
        if (!Admit(MemoryGuess(*io->FileParams))) return;
        clock.Skip();

        bool loaded = true;
        try {
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
        if (!loaded) return;
        Result.Loaded = true;
        Result.Incomplete = io->GetLastWarningText();
        // A mirrored orientation is undone by the work (the row's rotation
        // holds the turn that goes with it); the copies say "normal".
        orientation_ = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
        ResetOrientation(*io);
        clock.Lap(&TAlbumBuildTimes::Decode);

        try {
            MakeOutputs(Job, *io, progress, clock, Result);
        } catch (...) {
            Result.Error = std::current_exception();
        }
        io->ReplaceBitmap(&decoded_);
    }

    // Gives back the memory of the images kept for the next photo.
    void ReleaseImages()
    {
        for (imaging::TPxBitmap* b : {&decoded_, &copy_, &thumbnail_}) {
            b->KeepStorage = false;
            b->FreeImage(true);
            b->KeepStorage = true;
        }
    }

private:
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

    // Bitmap encoded as a JPEG with the loaded file's parameters.
    static std::unique_ptr<classlib::TMemoryStream> Encode(imaging::TImgIO& IO, imaging::TPxBitmap& Bitmap,
                                                          const std::wstring& FileName)
    {
        auto stream = std::make_unique<classlib::TMemoryStream>();
        IO.ReplaceBitmap(&Bitmap);
        IO.SaveJPEGToStream(stream.get());
        if (IO.AbortFlag) throw classlib::EInOutError(L"Could not write \"" + FileName + L"\"");
        return stream;
    }

    void MakeOutputs(const TPhotoJob& Job, imaging::TImgIO& IO, const imaging::TPxProgressEvent& Progress,
                     TPhaseClock& Clock, TPhotoResult& Result)
    {
        const int rotation = Job.Rotation;
        const bool mirrored = IsMirroredOrientation(orientation_);
        // A copy that is to say "normal" can't be the source's bytes when the
        // source says otherwise.
        const bool normal = orientation_ <= 1 || orientation_ > 8;

        // The image copy: a JPEG that needs no change is the source itself.
        // With resizing it is fitted into a copy, so that the thumbnail is
        // made from the decoded image as it came; without, the decoded image
        // is turned in place and the thumbnail made from it.
        imaging::TPxBitmap* image = &decoded_;
        Result.CopySource =
            IO.FileParams->FileFormat == imaging::ffJPEG && !settings_.ResizeImg && rotation == 0 && normal;
        if (!Result.CopySource) {
            if (settings_.ResizeImg) {
                if (Fit(decoded_, copy_, settings_.MaxImg, Progress)) {
                    image = &copy_;
                } else if (rotation != 0 || mirrored) {
                    copy_.Assign(&decoded_);
                    image = &copy_;
                }
            }
            Clock.Lap(&TAlbumBuildTimes::Fit);
            if (mirrored) Mirror(*image);
            if (rotation != 0) Rotate(*image, rotation, IO, Progress);
            Clock.Lap(&TAlbumBuildTimes::Rotate);
            Result.Image = Encode(IO, *image, Job.ImageFile);
            Clock.Lap(&TAlbumBuildTimes::Encode);
        }

        // The thumbnail: with resizing fitted from the decoded image, then
        // turned; without, fitted from the (already turned) image.
        imaging::TPxBitmap& source = settings_.ResizeImg ? decoded_ : *image;
        imaging::TPxBitmap* thumbnail = &source;
        if (Fit(source, thumbnail_, settings_.MaxTh, Progress)) thumbnail = &thumbnail_;
        if (settings_.ResizeImg) {
            // Fitted from the decoded image as it came: mirrored and turned
            // here (the image copy is already encoded).
            if (mirrored) Mirror(*thumbnail);
            if (rotation != 0) Rotate(*thumbnail, rotation, IO, Progress);
        }
        Result.Thumbnail = Encode(IO, *thumbnail, Job.ThumbnailFile);
        Result.ThumbnailWidth = thumbnail->GetWidth();
        Result.ThumbnailHeight = thumbnail->GetHeight();
        Clock.Lap(&TAlbumBuildTimes::Thumbnail);
    }

    const TSettings& settings_;
    TAlbumBuildTimes& times_;
    imaging::TPxBitmap decoded_;
    imaging::TPxBitmap copy_;
    imaging::TPxBitmap thumbnail_;
    int orientation_ = 1;  // the stored EXIF orientation of the photo in the work
};

// The photos of the album list worked on by worker threads, at most Ahead
// photos beyond the last one the window thread has taken, each taken in list
// order. The image memory of the workers (what they work on and what they
// keep for the next photo, as guessed by TPhotoMaker) stays within
// kPhotoMemory, except that the photo the window thread waits for is always
// let in; a worker that has to wait for memory first gives back what it
// keeps. The destructor stops the work (photos being worked on are
// finished, no new one is started) and waits for the workers.
class TPhotoPipeline {
public:
    TPhotoPipeline(std::vector<TPhotoJob> Jobs, const TSettings& Settings, int Workers, std::size_t Ahead)
        : jobs_(std::move(Jobs)), settings_(Settings), ahead_(std::max<std::size_t>(Ahead, 1)),
          slots_(jobs_.size()), times_(static_cast<std::size_t>(Workers)), held_(static_cast<std::size_t>(Workers))
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
    // the last one taken). Meanwhile and afterwards each of its progress
    // reports goes to Report in order; Idle runs whenever the wait goes on
    // for a while without a report.
    TPhotoResult Take(std::size_t Index, const std::function<void(int)>& Report, const std::function<void()>& Idle)
    {
        TSlot& slot = slots_[Index];
        std::size_t shown = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const bool done = slot.Done;
            std::vector<uint8_t> fresh(slot.Progress.Reports.begin() + static_cast<std::ptrdiff_t>(shown),
                                       slot.Progress.Reports.end());
            shown = slot.Progress.Reports.size();
            if (!fresh.empty() || !done) {
                lock.unlock();
                for (uint8_t percent : fresh) Report(percent);
                if (fresh.empty()) Idle();
                lock.lock();
            }
            if (done && shown == slot.Progress.Reports.size()) break;
            if (!slot.Done) doneChanged_.wait_for(lock, std::chrono::milliseconds(15));
        }
        TPhotoResult result = std::move(slot.Result);
        taken_ = Index + 1;
        lock.unlock();
        workChanged_.notify_all();
        return result;
    }

    // The phase times of all workers, after Stop.
    void AddTimes(TAlbumBuildTimes& Times)
    {
        Stop();
        for (const TAlbumBuildTimes& t : times_) {
            Times.Decode += t.Decode;
            Times.Fit += t.Fit;
            Times.Rotate += t.Rotate;
            Times.Encode += t.Encode;
            Times.Thumbnail += t.Thumbnail;
        }
    }

private:
    struct TSlot {
        bool Done = false;
        TPhotoResult Result;
        TPhotoProgress Progress;
    };
    struct TReportContext {
        TPhotoPipeline* Pipeline;
        std::size_t Index;
    };

    static void OnProgress(void* Context, classlib::TObject*, int Percent)
    {
        auto* c = static_cast<TReportContext*>(Context);
        TPhotoProgress& p = c->Pipeline->slots_[c->Index].Progress;
        if (Percent == p.Last) return;
        p.Last = Percent;
        std::lock_guard<std::mutex> lock(c->Pipeline->mutex_);
        p.Reports.push_back(static_cast<uint8_t>(std::clamp(Percent, 0, 255)));
    }

    // Lets photo Index (needing Bytes) in once the memory allows; the worker's
    // kept images (Maker) are given back first when it must wait.
    bool Admit(std::size_t Worker, std::size_t Index, int64_t Bytes, TPhotoMaker& Maker)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        int64_t& held = held_[Worker];
        auto fits = [&] { return stop_ || Index <= taken_ || memory_ - held + std::max(held, Bytes) <= kPhotoMemory; };
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
        TPhotoMaker maker(settings_, times_[w]);
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                workChanged_.wait(lock,
                                  [&] { return stop_ || next_ >= jobs_.size() || next_ < taken_ + ahead_; });
                if (stop_ || next_ >= jobs_.size()) return;
                index = next_++;
            }
            TPhotoResult result;
            TReportContext context{this, index};
            try {
                maker.Make(jobs_[index], result, &OnProgress, &context,
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

// Writes Bytes as FileName; a file that can't be written completely is
// removed and the failure raised.
void WriteOutput(const std::wstring& FileName, classlib::TMemoryStream& Bytes)
{
    bool written = false;
    try {
        imaging::TPxWideFileStream file(FileName, imaging::pxFmCreate);
        Bytes.SaveToStream(&file);
        written = true;
    } catch (const classlib::EFCreateError&) {
        throw;
    } catch (...) {
    }
    if (!written) {
        ::DeleteFileW(FileName.c_str());
        throw classlib::EInOutError(L"Could not write \"" + FileName + L"\"");
    }
}

// The window thread's part of a row's turn: the files written and the row
// rewritten from the work's result. False when the image could not be read.
bool FinishImage(const TPhotoJob& Job, TPhotoResult& Result, TAlbumRow& Row, int Number)
{
    Row.Incomplete = Result.Incomplete;
    if (!Result.Loaded) {
        Row.Checked = false;
        Row.SkipReason = Result.SkipReason;
        return false;
    }
    if (Result.CopySource)
        ::CopyFileW(Job.Path.c_str(), Job.ImageFile.c_str(), FALSE);
    else if (Result.Image)
        WriteOutput(Job.ImageFile, *Result.Image);
    if (Result.Thumbnail) WriteOutput(Job.ThumbnailFile, *Result.Thumbnail);
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

std::wstring SkippedRowText(const TAlbumRow& Row)
{
    return Row.SkipReason.empty() ? Row.Path : Row.Path + L": " + Row.SkipReason;
}

std::wstring IncompleteRowText(const TAlbumRow& Row, const std::wstring& Note)
{
    return Row.Path + L": " + Row.Incomplete + L"; " + Note;
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
    const bool hadAlbum = staging.HasAlbum();
    if (hadAlbum) {
        const std::wstring question = WithName(texts.Text(L"msgAlbumExist"), Input.AlbumName);
        if (Host.MessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            Host.FocusAlbumName();
            result.Outcome = TAlbumBuildOutcome::Declined;
            return result;
        }
    }

    if (!staging.Create()) {
        Host.MessageBox(texts.Text(L"msgCouldNotWrite"), MB_OK | MB_ICONERROR);
        result.Outcome = TAlbumBuildOutcome::NotWritable;
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

        const std::wstring programFolder = WithBackslash(Input.ProgramFolder);
        const std::wstring gifFolder = programFolder + L"GIFs\\";
        for (const wchar_t* picture : kNavigationPictures)
            CorrectGIF(gifFolder + picture + L".gif", workPath + picture + L".gif", settings.TxtCol,
                       settings.CellCol);
        for (const wchar_t* picture : kDisabledPictures)
            ::CopyFileW((gifFolder + picture).c_str(), (workPath + picture).c_str(), FALSE);

        if (!CopyFiles(programFolder + L"viewer", workPath, Host.OwnerWindow()))
            Host.MessageBox(kCopyCancelledText, MB_OK);

        Host.ShowBuildProgress(true);
        {
            const std::size_t count = Rows.size();
            std::vector<TPhotoJob> jobs;
            jobs.reserve(count);
            for (const TAlbumRow& row : Rows) {
                const std::wstring name = OutputNameOf(row.Path);
                jobs.push_back(TPhotoJob{row.Path, RotationOf(row.SubItem(siRotation)),
                                         workPath + L"Images\\" + name, workPath + L"Thumbnails\\tn_" + name});
            }
            // Each worker holds one photo's images; a few finished photos
            // (encoded only) may wait for the window thread.
            const int workers = static_cast<int>(std::min<std::size_t>(
                {static_cast<std::size_t>(std::min(UsableProcessors(), kMostWorkers)), count}));
            TPhotoPipeline photos(jobs, settings, workers, 2 * static_cast<std::size_t>(workers));
            const auto report = [&Host](int Percent) {
                Host.SetStepPercent(Percent);
                Host.ProcessMessages();
            };
            const auto idle = [&Host] { Host.ProcessMessages(); };

            for (std::size_t i = 0; i < count; ++i) {
                if (Host.CancelRequested == 1) {
                    cancelled = true;
                    break;
                }
                int percent = static_cast<int>(classlib::Round(static_cast<double>(i + 1) * 100.0 / count));
                if (percent >= 100) percent = 99;
                Host.SetImagePercent(percent);
                Host.ProcessMessages();

                Rows[i].Checked = true;
                Rows[i].SkipReason.clear();
                TPhotoResult photo = photos.Take(i, report, idle);
                if (FinishImage(jobs[i], photo, Rows[i], result.ImageCount + 1)) ++result.ImageCount;
            }
            if (Input.Times) photos.AddTimes(*Input.Times);
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
