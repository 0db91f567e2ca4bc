// Single frames of AVI video files, read through the platform's AVI file
// library (avifil32, loaded at run time) into the image of a TImgIO.
//
// The reading state (the open file, its first video stream, the frame
// reader and the stream's rate, scale and length) belongs to one TImgIO: it
// lives in a TPxAVIReader that the I/O object owns (created on first use by
// TPxAVIReader::Of), so it is released when the I/O object is destroyed,
// after its workers have finished.
//
// The library is initialised (AVIFileInit) on the first open and never
// de-initialised here; PxAVILibraryInitialized (IOStartup.h) records it for
// the I/O unit's shut-down.
//
// Failure: opening failures set the aborting flag and give 0 frames; nothing
// is raised. A file that fails the structure check (AviCheck.h) never
// reaches the library; its reason is the I/O object's GetLastFailure. A frame index beyond the end reads nothing and leaves the flag
// clear; a frame the library cannot decode leaves the image unchanged.
//
// Threads: OpenAVIFile, CloseAVIFile and PxLoadAVIFile are called on the I/O
// object's thread. In asynchronous mode LoadAVIFrame (and PxLoadAVIFile)
// hand the reading to a worker of the I/O object; the file must stay open
// until that worker has finished (the I/O object's workers run one at a
// time, in order, so a later CloseAVIFile made through a worker is safe;
// a direct one should follow WaitThreads).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Component.h"

namespace imaging {

class TImgIO;

class TPxAVIReader : public classlib::TComponent {
public:
    // The reader of IO (created, owned by IO, on the first call).
    static TPxAVIReader& Of(TImgIO& IO);

    ~TPxAVIReader() override;
    std::wstring ClassName() const override { return L"TPxAVIReader"; }

    // Opens FileName (closing an open file first) and its first video
    // stream. Sets FileName, FileFormat 0, AVIFrameCount and AVIFrameDelay
    // of the parameters. Returns the frame count; 0 on failure (aborting flag
    // set).
    int OpenAVIFile(const std::wstring& FileName);
    // Decodes frame Index of the open file into the I/O object's image
    // (1-bit frames as px1g, others px24RGB) and sets the parameters of the
    // frame; always ends with the finish notification. A frame that is not
    // there or cannot be decoded leaves the image unchanged; with Required
    // it also fails the load (aborting flag and reason, set before the
    // finish notification).
    void LoadAVIFrame(uint32_t Index, bool Required = false);
    // Releases the frame reader, the stream and the file (nothing when none
    // is open).
    void CloseAVIFile();

    bool IsOpen() const { return file_ != nullptr; }
    // The open stream's rate and scale (frames per second = rate / scale).
    uint32_t GetRate() const { return rate_; }
    uint32_t GetScale() const { return scale_; }

private:
    explicit TPxAVIReader(TImgIO& IO);
    void SetTiming();

    TImgIO& io_;
    void* file_ = nullptr;      // PAVIFILE
    void* stream_ = nullptr;    // PAVISTREAM
    void* getFrame_ = nullptr;  // PGETFRAME
    uint32_t rate_ = 0, scale_ = 0, length_ = 0;
};

// The ".avi" road of TImgIO::LoadFromFile (and of a load by type 15): opens
// FileName, reads the frame ImageIndex of the parameters and closes the
// file; FileName and FileFormat 15 are set when the file could be opened. A
// file that cannot be opened, or a frame that is not there or cannot be
// decoded, fails the load: aborting flag, reason, finish notification.
void PxLoadAVIFile(TImgIO& IO, const std::wstring& FileName);

// AVIFrameDelay of a stream: round(1000 / (Rate / Scale)) milliseconds, 0
// when Rate or Scale is 0.
int32_t PxAVIFrameDelay(uint32_t Rate, uint32_t Scale);

}  // namespace imaging
