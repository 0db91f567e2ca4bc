// Single frames of video through the platform's filter graphs: from a media
// file, a capture device or a DVD.
//
// TPxDirectShow builds one filter graph (Connect) from the inputs a caller
// sets beforehand, and takes frames out of it either from a sample grabber
// that delivers 24-bit RGB buffers (GrabFrames) or from a windowless video
// mixing renderer that paints into the notify window (UseVMR). The grabber's
// buffer callbacks post PxMsgNewFrame (8025, LParam = this object) to the
// notify window while notifications are enabled; the graph's events arrive
// as PxMsgGraphEvent (8026) with this object as instance data.
//
// Ownership: every graph object is held with one reference and released
// exactly once by Disconnect (also run by the destructor); the input filters
// given to the setters are referenced by this object until it is destroyed
// or they are replaced. The grabber's callback object is unhooked from the
// grabber and from this object before either reference goes.
//
// Failure: a missing filter or interface leaves its field empty and the
// operations that need it do nothing and return 0 or leave their outputs
// unchanged; HRESULTs are not reported. A media file that cannot be opened
// leaves a graph without a source: the object stays usable (Disconnect,
// another Connect).
//
// Threads: the object is created and used on one thread, which it
// initialises for OLE. The grabber's callback runs on a streaming thread and
// only reads the notify window, message and enabled flag, then posts.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"

struct ISampleGrabber;

namespace imaging {

class TPxBitmap;
class TPxSampleGrabberCB;

// One capability of a capture pin.
class TPxVideoFormat : public classlib::TObject {
public:
    std::wstring SubtypeName;
    int32_t BitsPerSecond = 0;
    std::wstring StandardNames;
    int32_t MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0, WidthStep = 0, HeightStep = 0;
};

// The short name of a video subtype ("RGB24", "YUY2", ...); "" when unknown.
std::wstring PxVideoSubtypeName(const GUID& Subtype);
// The names of the analog video standards set in Mask, blank-separated in
// table order.
std::wstring PxVideoStandardNames(uint32_t Mask);
// Frees the format block and the extra interface of a media type; the second
// also frees the record itself (nullptr is ignored).
void PxFreeMediaType(AM_MEDIA_TYPE& Type);
void PxDeleteMediaType(AM_MEDIA_TYPE* Type);

// Names of the video capture devices of the system, in enumeration order.
std::vector<std::wstring> PxVideoCaptureDevices();

class TPxDirectShow : public classlib::TObject {
public:
    TPxDirectShow();
    ~TPxDirectShow() override;
    TPxDirectShow(const TPxDirectShow&) = delete;
    TPxDirectShow& operator=(const TPxDirectShow&) = delete;
    std::wstring ClassName() const override { return L"TPxDirectShow"; }

    // ---- graph inputs, set before Connect
    // Filters are referenced (AddRef) until replaced or destroyed.
    void SetVideoCaptureFilter(IBaseFilter* Filter);
    void SetAudioCaptureFilter(IBaseFilter* Filter);
    void SetVideoCompressorFilter(IBaseFilter* Filter);
    void SetAudioCompressorFilter(IBaseFilter* Filter);
    IBaseFilter* GetVideoCaptureFilter() const { return videoCapture_; }
    // The capture device Index of PxVideoCaptureDevices as video capture
    // filter; false (the input unchanged) when there is no such device.
    bool SelectVideoCaptureDevice(int Index);
    // The media file to read (wide name).
    std::wstring FileInput;
    // Output file: ".avi" or ".asf" by its lower-case extension.
    std::string FileOutput;
    bool GrabFrames = false;
    bool UseVMR = false;
    bool RenderAudio = false;
    // 0 leave, 1 none, 2 a new system clock, 3 the video capture filter's,
    // 4 the renderer's, 5 the audio capture filter's, 6 the "Audio Renderer"
    // filter's.
    uint8_t ReferenceClock = 0;
    int32_t ClockErrorTolerance = -1;
    // DVD folder; "default" (any case) keeps the drive's default. Not empty:
    // Connect builds a DVD graph.
    std::wstring DVDLocation;

    // ---- graph
    void Connect();
    void Disconnect();
    bool IsConnected() const { return graph_ != nullptr; }
    void Run();
    void Pause();
    // 0 stopped, 1 paused, 2 running (0 without a graph).
    int GetState();
    // 0 none, 1 frame, 2 byte, 3 sample, 4 field, 5 media time (100 ns);
    // other values are ignored; an unknown current format reads as 0.
    void SetTimeFormat(int Format);
    int GetTimeFormat();
    // In the current time format; 0 when missing or failing.
    int64_t GetDuration();
    int64_t GetPosition();
    // Seeks and waits (at most 10 s) until the graph has cued the frame.
    void SetPosition(int64_t Position);
    // Width, height and subtype name of the video; unchanged when unknown.
    void GetVideoSize(int& Width, int& Height, std::wstring& SubtypeName);
    // 100 ns units; measured by running the graph when the format gives 0
    // (0 when the position does not move within a second).
    int64_t GetAverageTimePerFrame();
    // The current frame into Bitmap (px24RGB from the grabber); with
    // KeepSize a renderer's image is resampled to Bitmap's earlier size.
    void GetSample(TPxBitmap* Bitmap, bool KeepSize);
    void SetNotifyWindow(HWND Window, UINT FrameMessage, UINT EventMessage);
    HWND GetNotifyWindow() const { return notifyWindow_.load(); }
    // Frame messages are posted only while this is set (Connect sets it).
    std::atomic<bool> NotificationsEnabled{true};
    // True while the graph renders into the notify window.
    bool RendersVideo() const { return windowless_ != nullptr; }

    // ---- the windowless renderer (nothing without one)
    void SetVideoPosition(const RECT& Source, const RECT& Dest);
    void GetNativeVideoSize(int& Width, int& Height);
    void RepaintVideo(HWND Window, HDC DC);

    // ---- capture pin capabilities and crossbar inputs
    const std::vector<std::unique_ptr<TPxVideoFormat>>& GetVideoFormats() const { return formats_; }
    const std::vector<std::wstring>& GetVideoInputs() const { return inputs_; }
    void FillVideoFormats();
    void FillVideoInputs();
    void RouteTunerToDecoder();

    // For the callback object (streaming thread): a buffer went through the
    // grabber; posts the frame message when a window is set and
    // notifications are on.
    void BufferArrived();

private:
    void BuildCaptureGraph();
    void BuildDVDGraph();
    void CreateVMR();
    void SetSyncSource();
    IBaseFilter* AddFilter(const GUID& Class, const wchar_t* Name);
    bool CopyGrabberBuffer(TPxBitmap* Bitmap);
    void ReleaseGraph();

    bool oleInitialized_ = false;
    std::vector<std::unique_ptr<TPxVideoFormat>> formats_;
    std::vector<std::wstring> inputs_;

    IBaseFilter* videoCapture_ = nullptr;
    IBaseFilter* audioCapture_ = nullptr;
    IBaseFilter* videoCompressor_ = nullptr;
    IBaseFilter* audioCompressor_ = nullptr;

    IBaseFilter* colorConverter_ = nullptr;
    IBaseFilter* fileSource_ = nullptr;
    IAMVideoCompression* videoCompression_ = nullptr;
    IGraphBuilder* graph_ = nullptr;
    ICaptureGraphBuilder2* builder_ = nullptr;
    IMediaControl* control_ = nullptr;
    IMediaSeeking* seeking_ = nullptr;
    IMediaEventEx* events_ = nullptr;
    IAMStreamConfig* streamConfig_ = nullptr;
    IBaseFilter* crossbarFilter_ = nullptr;
    IAMCrossbar* crossbar_ = nullptr;
    IAMTVTuner* tuner_ = nullptr;
    IBaseFilter* tunerFilter_ = nullptr;
    IVideoFrameStep* frameStep_ = nullptr;
    IAMAnalogVideoDecoder* videoDecoder_ = nullptr;
    IAMClockSlave* clockSlave_ = nullptr;
    IBaseFilter* grabberFilter_ = nullptr;
    ISampleGrabber* grabber_ = nullptr;
    TPxSampleGrabberCB* callback_ = nullptr;
    IBaseFilter* nullRenderer_ = nullptr;
    IBaseFilter* aviDecompressor_ = nullptr;
    IBaseFilter* vmr_ = nullptr;
    IVMRFilterConfig* vmrConfig_ = nullptr;
    IVMRWindowlessControl* windowless_ = nullptr;
    IReferenceClock* systemClock_ = nullptr;
    IDvdControl2* dvdControl_ = nullptr;
    IDvdInfo2* dvdInfo_ = nullptr;

    std::atomic<uint64_t> buffers_{0};
    std::atomic<HWND> notifyWindow_{nullptr};
    std::atomic<UINT> frameMessage_{0};
    UINT eventMessage_ = 0;
};

}  // namespace imaging
