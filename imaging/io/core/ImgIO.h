// TImgIO: the component through which the toolkit and the application read
// and write image files.
//
// The object holds one current image (CurrentBitmap) and one set of file
// parameters (FileParams) that every load fills and every save reads. The
// image is one of (the attachment state):
//   own bitmap       - created by the object (after construction, or after
//                      detaching from a view); freed by it;
//   view bitmap      - the current image of an attached view, borrowed;
//   TBitmap wrapper  - an own image that mirrors a class-library TBitmap of
//                      a view that offers only one, or of SetAttachedTBitmap;
//                      the TBitmap is borrowed and re-read before every load
//                      and save, and receives the result of every load;
//   TImage wrapper   - the same for the bitmap of a TImage's picture
//                      (SetAttachedTImage); the bitmap is fetched from the
//                      picture again at every use, so a picture given a new
//                      graphic is followed, and the image repaints after
//                      every load; freeing the TImage detaches it;
//   caller's bitmap  - a TPxBitmap given to SetAttachedPxBitmap/
//                      ReplaceBitmap, borrowed;
//   none             - after ReplaceBitmap(nullptr): LoadFromFile does
//                      nothing, other loads and saves fail.
// Attaching one holder detaches the others. A borrowed holder must outlive
// its attachment; a view is forgotten automatically when it is destroyed.
//
// Failure: loads and saves do not raise for a missing format, an unreadable
// image or a refused image: they set AbortFlag and (for loads, and saves that
// reached their writer) send the finish notification. One rule for every
// load: a failed load sets AbortFlag, runs no resolution step and sends the
// finish notification. A load whose reader ran and failed (damaged,
// truncated or unsupported data, or a stopped load) leaves the image empty:
// 0 x 0, no alpha channel, never partly decoded rows. A load refused before
// any reading (no reader for the format, a file type without a registry
// row, stream content nothing recognises) leaves the image as it was, and
// also sets AbortFlag with a reason. A reader that reports success without
// pixels fails the load (NoImage).
// A save never creates a file when no writer is installed, and removes the
// file it created when the writer failed. A file that cannot be opened or
// created raises from the file stream, and an exception of a writer passes
// to the caller after the clean-up (an exception of a reader counts as a
// failed read and goes no further).
// AbortFlag is reset when a load or save starts its work and stays set after
// a failure until the next one starts.
//
// Threads: the object is used from one thread (normally the main thread).
// In asynchronous mode (AsyncMode set and the image not owned) every load and
// save runs on a worker thread of its own (ImgIOAsync.h); the workers of one
// object run one at a time, in the order the calls were made. From a worker,
// progress, finish and image-changed reports reach an attached view with a
// parent window only as posted messages (ImgIOView.h); without such a view
// the handlers run on the worker.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/Stream.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"

namespace classlib {
class TBitmap;
class TFont;
class TForm;
class TImage;
class TMetafile;
}  // namespace classlib

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;
class TPxTWainParams;
class TPxIOWorkers;
class TPxDirectShow;
class TPxWia;

// Options of the parameter-preview dialog (bit flags).
enum TPxIOPreviewsParam : uint8_t { ioppDefaultLockPreview = 1, ioppApplyButton = 2 };
using TPxIOPreviewsParams = uint8_t;

enum TPxDialogsMeasureUnit : uint8_t { pxduInches, pxduCm, pxduSelectableDefInches, pxduSelectableDefCm };

using TPxDoPreviewsEvent = classlib::TEvent<void(classlib::TObject* Sender, bool& Handled)>;
using TPxAcquireBitmapEvent = classlib::TEvent<void(classlib::TObject* Sender, TPxBitmap* ABitmap, bool& Handled)>;
// Called with the parameter-preview dialog before it is shown.
using TPxIOPreviewEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TForm* PreviewForm)>;

// Downloads a URL into Stream (web download unit). Returns false on failure.
// Empty until that unit installs it; LoadFromURL then fails as a failed
// download does.
using TPxDownloadURLProc = bool (*)(const std::wstring& URL, classlib::TStream* Stream, const std::wstring& ProxyAddress,
                                    const std::wstring& ProxyUser, const std::wstring& ProxyPassword,
                                    const TPxProgressEvent& Progress, classlib::TObject* Sender, bool* Aborting);
extern TPxDownloadURLProc PxDownloadURLToStreamHook;

class TImgIO : public classlib::TComponent {
public:
    explicit TImgIO(classlib::TComponent* Owner);
    // An unowned object working on Bitmap (SetAttachedPxBitmap).
    static std::unique_ptr<TImgIO> CreateForBitmap(TPxBitmap* Bitmap);
    // Waits for every running worker, then frees what it owns.
    ~TImgIO() override;
    std::wstring ClassName() const override { return L"TImgIO"; }

    // ---- fields read and written by callers
    // Parameters of the current image (owned; never nullptr).
    TIOParamsVals* FileParams = nullptr;
    // Scanner settings (owned; nothing in the object reads them).
    TPxTWainParams* TwainParams = nullptr;
    // Set when a load or save failed or was stopped; readers and writers poll
    // it through their progress record. A plain flag: WaitThreads(true) may
    // set it from the owner's thread while a worker polls it (it only ever
    // goes from false to true during a call).
    bool AbortFlag = false;
    // Why the last load failed: None while AbortFlag is clear; Unreadable
    // when the load failed without naming a finer reason. Read it on the
    // owner's thread once the load finished.
    TPxReadFailure GetLastFailure() const;
    // The message of GetLastFailure() ("" when none).
    std::wstring GetLastFailureText() const;
    // Why the image of the last load, which succeeded, is incomplete: the
    // reader could read its data only in part and made up the rest (for
    // JPEG: Truncated when the file ends inside the picture, Corrupt for
    // damaged data). None after a complete load and after a failed one.
    TPxReadFailure GetLastWarning() const;
    // The message of GetLastWarning() ("" when none).
    std::wstring GetLastWarningText() const;
    // Loads and saves run on worker threads (see the header comment).
    bool AsyncMode = false;
    // After a load, an image whose horizontal and vertical resolutions differ
    // is resampled so that they agree (ImgIODpi.h); FilteredAdjustDPI uses
    // rfFastLinear instead of the nearest neighbour.
    bool AutoAdjustDPI = true;
    bool FilteredAdjustDPI = false;
    // Stream saves of TIFF, PCX and JPEG write a 12-byte block header; stream
    // loads of TIFF and PCX expect one.
    bool StreamHeaders = false;
    TMsgLanguage MsgLanguage = msSystem;
    TPxIOPreviewsParams PreviewsParams = 0;
    bool SimplifiedParamsDialogs = false;
    TPxDialogsMeasureUnit DialogsMeasureUnit = pxduInches;
    uint8_t BilevelMethod = 1;
    int32_t AcquireState = 0;
    std::wstring ProxyAddress, ProxyUser, ProxyPassword;

    // Bound at creation to DoProgress; put into every progress record.
    TPxProgressEvent ProgressHandler;
    TPxProgressEvent OnProgress;
    classlib::TNotifyEvent OnFinishWork;
    TPxAcquireBitmapEvent OnAcquireBitmap;
    TPxDoPreviewsEvent OnDoPreviews;
    TPxIOPreviewEvent OnIOPreview;

    // ---- attachment
    TPxBitmap* GetCurrentBitmap() const { return currentBitmap_; }
    bool GetOwnsBitmap() const { return ownsBitmap_; }
    TPxIOView* GetAttachedImg() const { return attachedImg_; }
    classlib::TBitmap* GetAttachedVclBitmap() const { return attachedVclBitmap_; }
    intptr_t GetViewChangeHandle() const { return viewChangeHandle_; }

    // nullptr: back to an own empty image. A view: works on its image.
    // Either detaches an attached TImage.
    void SetAttachedImg(TPxIOView* View);
    // With nullptr while a view or a TImage is attached nothing happens;
    // otherwise the object mirrors Bitmap (nullptr: keeps its own image) and
    // a non-nil bitmap detaches the view and the TImage.
    void SetAttachedTBitmap(classlib::TBitmap* Bitmap);
    // With nullptr while a view or a TImage is attached nothing happens;
    // otherwise ReplaceBitmap, and a non-nil bitmap detaches the view and the
    // TImage.
    void SetAttachedPxBitmap(TPxBitmap* Bitmap);
    // Works on Bitmap (borrowed; nullptr leaves the object without image).
    // Detaches an attached TImage.
    void ReplaceBitmap(TPxBitmap* Bitmap);
    // An image: the object mirrors the bitmap of its picture (the picture
    // gets one when it holds none or another graphic class) and detaches the
    // view; the TImage is borrowed and forgotten when it is freed. nullptr:
    // empties the current image and detaches the TImage.
    void SetAttachedTImage(classlib::TImage* Image);
    classlib::TImage* GetAttachedTImage() const { return attachedTImage_; }

    // The attached view's background when a view is attached, else the own
    // colour; the setter changes nothing while a view is attached.
    classlib::TColor GetBackground() const;
    void SetBackground(classlib::TColor Value);
    void SetBilevelConversion(uint8_t Value);
    bool GetNativePixelFormat() const;
    void SetNativePixelFormat(bool Value);
    classlib::TFont* GetPreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(const classlib::TFont* Font);

    // False without an image. Re-reads an attached TBitmap first. An empty
    // set (0) gives true; otherwise true only when the image's pixel format is
    // in Allowed (bit 1 << format).
    bool PrepareBitmap(uint32_t Allowed);

    // The class-library bitmap that holds the current image: the image's own
    // system bitmap when it is stored as one, else the attached TBitmap (may
    // be nullptr).
    virtual classlib::TBitmap* GetTBitmap();

    // ---- notifications (see ImgIOView.h for the worker protocol)
    virtual void DoProgress(classlib::TObject* Sender, int Per);
    // Reports 100 percent, then OnFinishWork.
    virtual void DoFinishWork();
    // After an image was loaded or changed: an attached TBitmap receives the
    // image (without alpha); a view is updated (on its thread) or sent
    // PxMsgImageChanged (from a worker).
    void NotifyImageChanged();
    virtual void ClearAcquireFlag() { AcquireState = 0; }

    // ---- previews, acquisition, devices and video files (ImgIOMedia.cpp)
    // Shows the parameter-preview dialog for Pages (ImgIOPreviews.h); true
    // when the user confirmed, or when OnDoPreviews handled the call. False
    // without an image or without a dialog.
    virtual bool DoPreviews(uint16_t Pages);
    // An acquisition source hands over each image it has taken (Bitmap stays
    // the caller's): unless OnAcquireBitmap handles it, the image becomes the
    // current image and Params points at FileParams for the source to fill.
    virtual void ReceiveAcquiredBitmap(TPxBitmap* Bitmap, TIOParamsVals*& Params);
    virtual void DoAcquireBitmap(TPxBitmap* Bitmap, bool& Handled);
    // The scanner and camera events object (owned, created on first use).
    virtual TPxWia* GetWia();
    TPxWia* GetWiaObject() const { return wiaObject_; }
    // The video capture object (owned, created on first use; its frame and
    // event messages go to the attached view's window).
    virtual TPxDirectShow* GetDirectShow();
    TPxDirectShow* GetCaptureDevice() const { return captureDevice_; }
    // Points the capture object's messages at the view's current window
    // when that changed (the view calls it when it paints).
    void UpdateDShowNotifyWindow();
    // Opens a video file through the platform's filter graphs (closing an
    // open one first) and returns its frame count; 0 with AbortFlag set when
    // the file gives no duration or no frames (the reader stays open until
    // CloseMediaFile). Sets MediaFrameCount, FileName, FileFormat 0 and the
    // frame size of FileParams.
    int32_t OpenMediaFile(const std::wstring& FileName);
    // Frame Index of the open video file into the current image. An index
    // outside 0 .. frame count - 1 (or no open file) sets AbortFlag and
    // leaves the image: the graph is never asked to seek past its end,
    // where it would wait for a frame that never comes.
    void LoadMediaFrame(int32_t Index);
    void CloseMediaFile();
    bool IsMediaFileOpen() const { return mediaReader_ != nullptr; }
    TPxDirectShow* GetMediaReader() const { return mediaReader_; }
    // Milliseconds per frame, and the position step per frame (1 when the
    // graph seeks by frames, else the average frame time in 100 ns).
    double MediaFrameTime = 0;
    int32_t MediaFrameStep = 0;

    // ---- resolution steps (ImgIODpi.cpp)
    // A resolution below 2 becomes PxDefaultDpiX / PxDefaultDpiY.
    void ApplyDefaultDpi();
    // Resamples an image whose horizontal and vertical resolutions differ so
    // that they agree (rule in ImgIODpi.h); the target size comes from the
    // image itself.
    void AdjustDPI();
    // The attached image view takes the parameters' resolution.
    virtual void UpdateViewDpi();

    // ---- AVI frames (AviReader.h): opens a file and its first video
    // stream (returns the frame count, 0 and AbortFlag on failure), decodes
    // one frame into the current image, releases the file.
    int OpenAVIFile(const std::wstring& FileName);
    void LoadAVIFrame(uint32_t Index);
    void CloseAVIFile();
    // The current image as source text (ImageSource.h): Kind 0 a byte-array
    // declaration, 1 a hexadecimal list, 2 base64 of the image saved in
    // FileFormat, 3 one character per pixel.
    void SaveToText(const std::wstring& TextFileName, int32_t FileFormat, int32_t Kind);

    // ---- load and save dispatch (ImgIO.cpp)
    virtual void LoadFromFile(const std::wstring& FileName);
    virtual void LoadFromFileAuto(const std::wstring& FileName);
    virtual void LoadFromFileFormat(const std::wstring& FileName, int32_t FileType);
    virtual void LoadFromStream(classlib::TStream* Stream);
    virtual void LoadFromStreamFormat(classlib::TStream* Stream, int32_t FileType);
    // Reads from a copy of the Count bytes at Buffer (an asynchronous load may
    // read after the call returns).
    virtual void LoadFromBuffer(const void* Buffer, int64_t Count, int32_t FileType);
    void LoadFromURL(const std::wstring& URL);
    virtual void SaveToFile(const std::wstring& FileName);
    virtual void SaveToStream(classlib::TStream* Stream, int32_t FileType);
    virtual void ReadParamsFromFile(const std::wstring& FileName);
    virtual void ReadParamsFromFileFormat(const std::wstring& FileName, int32_t FileType);
    virtual void ReadParamsFromStream(classlib::TStream* Stream);
    virtual void ReadParamsFromStreamFormat(classlib::TStream* Stream, int32_t FileType);
    // The bytes of the file FileName, read by the caller (Count bytes at
    // Data, which stay the caller's and must live until ForgetFileBytes):
    // until then the content detection, the parameter reads and the loads
    // of that file (by that name) read these bytes instead of opening the
    // file again. For loads on the calling thread (no asynchronous mode).
    void UseFileBytes(const std::wstring& FileName, const void* Data, int64_t Count);
    void ForgetFileBytes();

    // ---- the load and save frames and the per-format methods
    // (ImgIOFormats.cpp). The frames call the reader or writer of a built-in
    // registry row with everything else taken from the format's description
    // (FileFormats.h: load options, read buffer, data size, stream block
    // header, save conversion and options); the dispatch above reaches them
    // through the descriptions' entries, the per-format methods call them
    // directly. A format whose routine is not installed fails cleanly
    // (AbortFlag set, finish notification, no file created). A load returns
    // the reader's count, -1 when the call was handed to a worker, 0 when
    // nothing was read.
    int LoadFormatFile(const std::wstring& FileName, int32_t FileType);
    int LoadFormatStream(classlib::TStream* Stream, int32_t FileType);
    void SaveFormatFile(const std::wstring& FileName, int32_t FileType);
    void SaveFormatStream(classlib::TStream* Stream, int32_t FileType);

    int LoadTIFFFromFile(const std::wstring& FileName);
    int LoadTIFFFromStream(classlib::TStream* Stream);
    int LoadGIFFromFile(const std::wstring& FileName);
    int LoadGIFFromStream(classlib::TStream* Stream);
    void LoadJPEGFromFile(const std::wstring& FileName);
    void LoadJPEGFromStream(classlib::TStream* Stream);
    void LoadPCXFromFile(const std::wstring& FileName);
    void LoadPCXFromStream(classlib::TStream* Stream);
    void LoadBMPFromFile(const std::wstring& FileName);
    void LoadBMPFromStream(classlib::TStream* Stream);
    void LoadICOFromFile(const std::wstring& FileName);
    void LoadICOFromStream(classlib::TStream* Stream);
    void LoadCURFromFile(const std::wstring& FileName);
    void LoadCURFromStream(classlib::TStream* Stream);
    void LoadPNGFromFile(const std::wstring& FileName);
    void LoadPNGFromStream(classlib::TStream* Stream);
    void LoadTGAFromFile(const std::wstring& FileName);
    void LoadTGAFromStream(classlib::TStream* Stream);
    void LoadPXMFromFile(const std::wstring& FileName);
    void LoadPXMFromStream(classlib::TStream* Stream);
    void LoadJP2FromFile(const std::wstring& FileName);
    void LoadJP2FromStream(classlib::TStream* Stream);
    void LoadJ2KFromFile(const std::wstring& FileName);
    void LoadJ2KFromStream(classlib::TStream* Stream);
    void LoadWBMPFromFile(const std::wstring& FileName);
    void LoadWBMPFromStream(classlib::TStream* Stream);
    void LoadDCXFromFile(const std::wstring& FileName);
    void LoadDCXFromStream(classlib::TStream* Stream);
    void LoadRAWFromFile(const std::wstring& FileName);
    void LoadRAWFromStream(classlib::TStream* Stream);
    void LoadRawPixelsFromFile(const std::wstring& FileName);
    void LoadRawPixelsFromStream(classlib::TStream* Stream);
    void LoadPSDFromFile(const std::wstring& FileName);
    void LoadPSDFromStream(classlib::TStream* Stream);
    void LoadDICOMFromFile(const std::wstring& FileName);
    void LoadDICOMFromStream(classlib::TStream* Stream);
    void LoadHDPFromFile(const std::wstring& FileName);
    void LoadHDPFromStream(classlib::TStream* Stream);
    // WMF/EMF import (Width/Height -1: from the picture).
    void ImportMetafileFromFile(const std::wstring& FileName, int Width, int Height, bool WithAlpha);
    // Draws Metafile into the current image at Width x Height (-1 keeps the
    // picture's proportions; MetafileImport.h gives the size rules).
    void ImportMetafile(classlib::TMetafile* Metafile, int Width, int Height, bool WithAlpha);
    // The parameters of the picture at the stream's position, without drawing.
    void ReadMetafileParams(classlib::TStream* Stream);
    // Layer and vector-object files go to the attached view (views unit).
    void LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType);
    void LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType);

    void SaveTIFFToFile(const std::wstring& FileName);
    void SaveTIFFToStream(classlib::TStream* Stream);
    void SaveGIFToFile(const std::wstring& FileName);
    void SaveGIFToStream(classlib::TStream* Stream);
    void SaveJPEGToFile(const std::wstring& FileName);
    void SaveJPEGToStream(classlib::TStream* Stream);
    void SavePCXToFile(const std::wstring& FileName);
    void SavePCXToStream(classlib::TStream* Stream);
    void SaveBMPToFile(const std::wstring& FileName);
    void SaveBMPToStream(classlib::TStream* Stream);
    void SaveICOToFile(const std::wstring& FileName);
    void SaveICOToStream(classlib::TStream* Stream);
    void SavePNGToFile(const std::wstring& FileName);
    void SavePNGToStream(classlib::TStream* Stream);
    void SaveTGAToFile(const std::wstring& FileName);
    void SaveTGAToStream(classlib::TStream* Stream);
    void SavePXMToFile(const std::wstring& FileName);
    void SavePXMToStream(classlib::TStream* Stream);
    void SaveJP2ToFile(const std::wstring& FileName);
    void SaveJP2ToStream(classlib::TStream* Stream);
    void SaveJ2KToFile(const std::wstring& FileName);
    void SaveJ2KToStream(classlib::TStream* Stream);
    void SaveWBMPToFile(const std::wstring& FileName);
    void SaveWBMPToStream(classlib::TStream* Stream);
    void SavePSToFile(const std::wstring& FileName);
    void SavePSToStream(classlib::TStream* Stream);
    void SavePDFToFile(const std::wstring& FileName);
    void SavePDFToStream(classlib::TStream* Stream);
    void SaveDCXToFile(const std::wstring& FileName);
    void SaveDCXToStream(classlib::TStream* Stream);
    void SavePSDToFile(const std::wstring& FileName);
    void SavePSDToStream(classlib::TStream* Stream);
    void SaveHDPToFile(const std::wstring& FileName);
    void SaveHDPToStream(classlib::TStream* Stream);

    // ---- asynchronous machinery (ImgIOAsync.cpp)
    // True on one of this object's worker threads.
    bool InWorkerThread() const;
    // Resumes suspended workers.
    void ResumeThreads();
    // Waits until no worker of this object runs (with SetAbort, asks the
    // running one to stop). On the main thread it serves synchronised calls
    // and sent messages while waiting.
    void WaitThreads(bool SetAbort);
    // Number of workers not yet finished.
    int WorkerCount() const;
    // The asynchronous test of every deferring operation.
    bool ShouldDefer() const;

protected:
    void Notification(classlib::TComponent* Component, classlib::TOperation Operation) override;

private:
    friend class TPxIOThread;
    friend class TPxAVIReader;  // records why an AVI file was refused

    // The load options of registered rows.
    static constexpr unsigned lfRegistered = pxlfNoDefaultDpi;

    void OnViewBitmapChange(classlib::TObject* Sender, bool Destroying);
    // Closes the video file and frees the capture and scanner objects.
    void ReleaseMediaObjects();
    bool WiaProgress(int Percent);
    void DetachTImage();
    void RefreshTImageBitmap();
    void DetachView();
    void ForgetView();
    void TakeViewImage(TPxIOView* View);
    void FreeOwnBitmap();
    void UseOwnBitmap();
    void ReadVclBitmap();
    void StoreIntoVclBitmap();
    bool ViewTakesMessages() const;
    bool PostToView(UINT Msg, WPARAM WParam);
    void EnsureViewHandle();
    void QueuedImageChange();

    TPxIOProgressInfo MakeProgress(bool WithHandler);
    bool TryDefer(std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream = nullptr);
    void Defer(std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream = nullptr);
    // Fails a load before its reader runs: the reason, the aborting flag and
    // the finish notification.
    void FailLoad(TPxReadFailure Why = TPxReadFailure::Unreadable);
    // Marks a load failed until its reader says otherwise, with no reason
    // yet (a file that cannot be opened raises from here on).
    void BeginFailableLoad()
    {
        AbortFlag = true;
        lastFailure_ = TPxReadFailure::None;
    }
    bool HasReader(int32_t FileType) const;

    bool LoadBuiltInFile(const std::wstring& FileName, int32_t FileType, bool GivenType);
    bool LoadBuiltInStream(classlib::TStream* Stream, int32_t FileType, bool GivenType);
    void LoadRegisteredFile(const std::wstring& FileName, TPxFileFormatInfo* Row);
    void LoadRegisteredStream(classlib::TStream* Stream, TPxFileFormatInfo* Row);
    // The shared load frame: reader of the row of FileType on Stream, then
    // the resolution steps (only after a successful read) and the
    // notifications. Returns the reader's count.
    int RunLoad(classlib::TStream* Stream, int32_t FileType, unsigned Flags, int64_t DataSize);
    // The PSD read of the load frame: with PSDLoadLayers and a view with
    // layers the document's layers go into the view (true: a layered load,
    // no resampling of one layer); otherwise the merged image, with the
    // alpha of a document's only layer.
    bool ReadPSDDocument(classlib::TStream* Stream, TPxIOProgressInfo& Info);
    // Runs Call on the main thread when called from a worker.
    void OnViewThread(const std::function<void()>& Call);
    // The read step of the load frame: the data of Stream through the read
    // buffer and with the data size the description asks for.
    int ReadFormatData(const TPxFormatDescription& Format, classlib::TStream* Stream, TPxLoadBuffer Buffer,
                       int64_t DataSize, unsigned Flags);
    // The stream block header of a stream load: false when a header the
    // description requires is missing or bad (the load has then failed).
    // Otherwise DataSize becomes the block's length and DataEnd the end of
    // its data when a header was taken; Relative says whether the buffered
    // reader counts offsets from the position.
    bool TakeStreamBlock(const TPxFormatDescription& Format, classlib::TStream* Stream, int64_t& DataSize,
                         int64_t& DataEnd, bool& Relative);
    TPxBitmap* SaveSource(TPxSaveConversion Conv, std::unique_ptr<TPxBitmap>& Copy);
    void CallWriter(TPxFileFormatInfo& Row, classlib::TStream* Stream, TPxBitmap* Source, unsigned Flags);
    // Flags: the pxsf save options.
    void SaveFileWith(const std::wstring& FileName, int32_t FileType, TPxSaveConversion Conv,
                      std::function<void()> Again, unsigned Flags = 0);
    void SaveStreamWith(classlib::TStream* Stream, int32_t FileType, TPxSaveConversion Conv, const char* HeaderTag,
                        std::function<void()> Again, unsigned Flags = 0);
    void ReadParamsWith(classlib::TStream* Source, int32_t FileType, bool Buffered);
    // FileName to read from: the bytes given by UseFileBytes, or the file
    // opened for reading (denying writes).
    std::unique_ptr<classlib::TStream> OpenToRead(const std::wstring& FileName) const;

    TPxBitmap* currentBitmap_ = nullptr;
    bool ownsBitmap_ = true;
    classlib::TBitmap* attachedVclBitmap_ = nullptr;
    TPxIOView* attachedImg_ = nullptr;
    classlib::TComponent* attachedComponent_ = nullptr;
    classlib::TImage* attachedTImage_ = nullptr;
    intptr_t viewChangeHandle_ = -1;
    bool viewBitmap_ = false;  // currentBitmap_ is the view's image
    bool viewVcl_ = false;     // attachedVclBitmap_ is the view's bitmap
    // Above 0 while a load works on the image: the TBitmap mirror is not
    // re-read then (it receives the result at the end).
    int loading_ = 0;
    classlib::TColor background_ = 0;
    std::unique_ptr<classlib::TFont> previewFont_;
    std::shared_ptr<TPxIOWorkers> workers_;
    // Kept beside AbortFlag: every progress record points at it.
    TPxReadFailure lastFailure_ = TPxReadFailure::None;
    TPxDirectShow* mediaReader_ = nullptr;    // owned
    int32_t mediaFrameCount_ = 0;             // of the open video file
    TPxDirectShow* captureDevice_ = nullptr;  // owned
    TPxWia* wiaObject_ = nullptr;             // owned
    // UseFileBytes: the file's name and its bytes (borrowed).
    std::wstring fileBytesName_;
    const void* fileBytes_ = nullptr;
    int64_t fileBytesCount_ = 0;
};

// The 12-byte block header of stream saves: a tag of 4 ASCII characters and
// a zero byte, 3 undefined bytes, and the length of the data that follows
// as a little-endian signed 32-bit number.
// Writes the header at HeaderPos for the data from HeaderPos + 12 to the
// current position, and returns to that position.
void PxWriteStreamBlockHeader(classlib::TStream* Stream, int64_t HeaderPos, const char* Tag);
// Reads 12 bytes at the position; false (position restored) when fewer are
// there. Tag is the text of the tag field up to its first zero byte.
bool PxReadStreamBlockHeader(classlib::TStream* Stream, std::string& Tag, int32_t& Length);

// The file type of the registry row of an extension (lower-cased, with or
// without dot), 0 when there is none.
int32_t PxFileTypeFromExtension(const std::wstring& Ext);

}  // namespace imaging
