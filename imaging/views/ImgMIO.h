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
class TStream;
}

namespace imaging {

class TIOParamsVals;
class TImgMView;
class TPxBitmap;
class TPxMask;
struct TPxIOProgressInfo;

class TImgMIO : public classlib::TComponent {
public:
    explicit TImgMIO(classlib::TComponent* Owner);
    ~TImgMIO() override;
    std::wstring ClassName() const override { return L"TImgMIO"; }

    bool AutoAdjustDPI = false;
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
    // selected. ".gif" and the TIFF extensions go to their loaders; another
    // extension a registry reader knows adds one entry loaded at once;
    // anything else sets Aborting. An empty name sets Aborting. A file that
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
    // The grid's Update, then its image-change notification.
    void UpdateView();
    // OnProgress(100), then OnFinishWork.
    virtual void DoFinishWork();

private:
    // Reads frame Index into Bitmap and Params; may give a transparency mask.
    using TFrameReader = std::function<void(TPxBitmap* Bitmap, TIOParamsVals* Params, TPxIOProgressInfo& Info,
                                            std::unique_ptr<TPxMask>& Mask)>;
    // The frame loop of the ICO, DCX and DICOM loaders: Count frames (read
    // before), each read by Read; RunOnceEmpty runs the body once for 0.
    void LoadFrames(classlib::TStream* Stream, int32_t Count, bool RunOnceEmpty, bool FixResolution,
                    int32_t FileFormat, const TFrameReader& Read);
    void OnViewBitmapChange(classlib::TObject* Sender, bool Destroying);

    TImgMView* view_ = nullptr;
    intptr_t changeHandle_ = -1;
    std::vector<std::unique_ptr<TIOParamsVals>> params_;
};

}  // namespace imaging
