// TImgMIO: the per-entry file parameters of a thumbnail grid.
//
// This holds what the grid needs of its multi-image I/O object: one
// TIOParamsVals per grid entry, kept in step with the grid's entries through
// the grid's change record (insert, delete, move, swap), and the loading
// options the grid's loaders copy (AutoAdjustDPI), and the loaders that put
// every page of a TIFF or every frame of a GIF into the grid, one entry per
// page or frame (LoadFromFile and the per-format loaders).
//
// Ownership: the object owns its parameter objects. It is attached to at
// most one grid (TImgMView), which forgets it when it is freed and which it
// forgets when the grid is destroyed.
//
// Threads: the grid's loader threads write parameter objects under the
// grid's lock; the object's own operations take no lock and run on the
// grid's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "imaging/model/PxDefs.h"

namespace classlib {
class TFont;
class TStream;
}

namespace imaging {

class TIOParamsVals;
class TImgMView;
class TPxBitmap;
class TPxTWainParams;
class TPxWia;
struct TPxIOProgressInfo;

using TPxMIOAcquireBitmapEvent =
    classlib::TEvent<void(classlib::TObject* Sender, TPxBitmap* ABitmap, bool& Handled)>;
using TPxAfterAcquireBitmapEvent = classlib::TEvent<void(classlib::TObject* Sender, int Index)>;
using TPxMIODoPreviewsEvent = classlib::TEvent<void(classlib::TObject* Sender, bool& Handled)>;

class TImgMIO : public classlib::TComponent {
public:
    explicit TImgMIO(classlib::TComponent* Owner);
    ~TImgMIO() override;
    std::wstring ClassName() const override { return L"TImgMIO"; }

    // Images whose horizontal and vertical resolutions differ are resampled
    // so that they agree (the grid's loaders copy it).
    bool AutoAdjustDPI = true;
    bool FilteredAdjustDPI = false;
    // Copied into each frame's parameters before it is read.
    bool NativePixelFormat = false;
    // TIFF pages that fail to read are skipped instead of ending the load.
    bool IgnoreLoadErrors = false;
    // Set when a load fails or is aborted; the readers poll it.
    bool Aborting = false;
    // The file being loaded; empty outside a load.
    std::wstring LoadingFileName;
    TPxProgressEvent OnProgress;
    classlib::TNotifyEvent OnFinishWork;
    // Acquisition: OnAcquireBitmap may take the image itself (Handled);
    // OnAfterAcquireBitmap reports the entry an image went to.
    TPxMIOAcquireBitmapEvent OnAcquireBitmap;
    TPxAfterAcquireBitmapEvent OnAfterAcquireBitmap;
    // Where the next acquired image goes.
    int AcquireIndex = 0;
    uint8_t AcquireFlag = 0;
    // The parameter-preview dialog (ImgIOPreviews.h).
    bool SimplifiedParamsDialogs = true;
    TMsgLanguage MsgLanguage = msSystem;
    uint8_t PreviewsParams = 0;
    bool BilevelConversion = true;
    uint8_t DialogsMeasureUnit = 0;
    TPxMIODoPreviewsEvent OnDoPreviews;
    classlib::TFont* GetPreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(const classlib::TFont* Font);
    // Handed to every web download.
    std::wstring ProxyAddress, ProxyUser, ProxyPassword;
    // Scanner settings (owned).
    TPxTWainParams* GetTwainParams() const { return twainParams_.get(); }

    TImgMView* GetAttachedMView() const { return view_; }
    // Registers with the grid (nullptr detaches) and grows the parameter
    // list to the grid's entry count.
    void SetAttachedMView(TImgMView* View);

    int GetParamsCount() const { return static_cast<int>(params_.size()); }
    // The parameters of entry Index; nullptr out of range.
    TIOParamsVals* GetParams(int Index);
    // A new parameter object whose encoding options come from the one at
    // Index (the last one when Index is at or past the end), inserted at
    // Index or appended.
    void InsertParams(int Index);
    void DeleteParams(int Index);
    void MoveParams(int Index, int NewIndex);
    void SwapParams(int A, int B);

    // Loads every page or frame of a file into the attached grid: the frames
    // are inserted before the selected entry, or appended when none is
    // selected. A web address goes to LoadFromURL and ".avi" to
    // LoadFromFileAVI; an extension whose registry row describes frames
    // (TIFF, GIF, ICO, DCX, DICOM) goes to the frame loop; another extension
    // a registry reader knows adds one entry loaded at once; anything else
    // goes to LoadFromMediaFile. An empty name sets Aborting. A file that
    // cannot be opened raises the file stream's error.
    void LoadFromFile(const std::wstring& FileName);
    void LoadFromFileTIFF(const std::wstring& FileName);
    void LoadFromFileGIF(const std::wstring& FileName);
    // From Stream's position. Nothing without an attached grid. A frame that
    // fails to read removes its entry and ends the load (TIFF with
    // IgnoreLoadErrors: the page is skipped); earlier frames stay.
    void LoadFromStreamTIFF(classlib::TStream* Stream);
    void LoadFromStreamGIF(classlib::TStream* Stream);
    void LoadFromFileICO(const std::wstring& FileName);
    void LoadFromFileDCX(const std::wstring& FileName);
    void LoadFromFileDICOM(const std::wstring& FileName);
    void LoadFromStreamICO(classlib::TStream* Stream);
    void LoadFromStreamDCX(classlib::TStream* Stream);
    void LoadFromStreamDICOM(classlib::TStream* Stream);
    // Every frame of an AVI file through the platform's AVI library, one
    // entry each with the stream's frame delay; a file the library opens but
    // cannot decode goes to LoadFromMediaFile. A file that cannot be opened,
    // or that fails the AVI structure check, sets Aborting.
    void LoadFromFileAVI(const std::wstring& FileName);
    // Every frame of a video file through the platform's filter graphs; a
    // file without duration sets Aborting.
    void LoadFromMediaFile(const std::wstring& FileName);
    // Downloads URL and loads what came: multi-frame formats from memory,
    // anything else through a temporary file. A failed download sets
    // Aborting (and still finishes).
    void LoadFromURL(const std::wstring& URL);
    // The parameter-preview dialog for entry Index (Index < 0: entry 0, and
    // the encoding options chosen go to every entry); true when confirmed.
    bool DoPreviews(int Index, uint16_t Pages);
    // An acquisition source hands over an image (Bitmap stays the caller's);
    // it becomes a new entry at AcquireIndex and Params that entry's
    // parameters, unless OnAcquireBitmap handled it.
    virtual void ReceiveAcquiredBitmap(TPxBitmap* Bitmap, TIOParamsVals*& Params);
    virtual void ClearAcquireFlag() { AcquireFlag = 0; }
    // The scanner and camera events object (owned, created on first use).
    virtual TPxWia* GetWia();
    bool OnWiaProgress(int Percent);
    // The grid's Update, then its image-change notification.
    void UpdateView();
    // OnProgress(100), then OnFinishWork.
    virtual void DoFinishWork();

private:
    // Reads one frame into Bitmap and Params (the index is in Params); may
    // give a transparency mask in Info.Mask, and may set Count when the
    // frame count is only known from the file's first read (TIFF, GIF).
    using TFrameReader =
        std::function<void(TPxBitmap* Bitmap, TIOParamsVals* Params, TPxIOProgressInfo& Info, int32_t& Count)>;
    // Called for every frame stored into the grid (entry Index).
    using TFrameStored = std::function<void(int Index, TIOParamsVals* Params)>;
    struct TFrameLoop {
        int32_t Count = 0;          // frames known before the loop (0: from the reads)
        bool RunOnceEmpty = false;  // run the body once when Count is 0
        bool FixResolution = false; // default resolutions for missing ones
        bool SkipFailed = false;    // a failing frame is dropped, the loop goes on
        int32_t FileFormat = 0;
    };
    // The frame loop of the multi-frame loaders: each frame is inserted
    // before the selected entry (or appended), read by Read, given its alpha
    // channel, resolution and parameters, and stored (delay 100 ms, then
    // Stored); a failed frame removes its entry and ends the loop unless
    // SkipFailed.
    void LoadFrames(classlib::TStream* Stream, const TFrameLoop& Loop, const TFrameReader& Read,
                    const TFrameStored& Stored = {});
    // Every frame of a multi-frame format, read by the "read frame" entry of
    // its description and looped as the description says.
    void LoadFileFrames(const std::wstring& FileName, int32_t FileType);
    void LoadStreamFrames(classlib::TStream* Stream, int32_t FileType);
    void OnViewBitmapChange(classlib::TObject* Sender, bool Destroying);

    void PropagateFirstParams();

    TImgMView* view_ = nullptr;
    intptr_t changeHandle_ = -1;
    std::unique_ptr<classlib::TFont> previewFont_;
    std::unique_ptr<TPxTWainParams> twainParams_;
    std::unique_ptr<TPxWia> wia_;
    std::vector<std::unique_ptr<TIOParamsVals>> params_;
};

// The temporary file name a download is saved under: a fresh temporary name,
// "." and the reported extension reduced to letters and digits (at most 10;
// "tmp" when none is left), so that a server's text never adds folders,
// streams or devices to the path.
std::wstring PxDownloadTempName(const std::wstring& ReportedExtension);

}  // namespace imaging
