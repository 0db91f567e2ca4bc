#include "imaging/io/platform/PxDirectShow.h"

#include <qedit.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "classlib/ComObject.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxDib.h"

namespace imaging {

namespace {

constexpr GUID kCLSID_FilterGraph = {0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kCLSID_CaptureGraphBuilder2 = {
    0xBF87B6E1, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
constexpr GUID kCLSID_Colour = {0x1643E180, 0x90F5, 0x11CE, {0x97, 0xD5, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID kCLSID_SampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr GUID kCLSID_NullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr GUID kCLSID_AVIDec = {0xCF49D4E0, 0x1115, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kCLSID_VMR = {0xB87BEB7B, 0x8D29, 0x423F, {0xAE, 0x4D, 0x65, 0x82, 0xC1, 0x01, 0x75, 0xAC}};
constexpr GUID kCLSID_DVDNavigator = {0x9B8C4620, 0x2C1A, 0x11D0, {0x84, 0x93, 0x00, 0xA0, 0x24, 0x38, 0xAD, 0x48}};
constexpr GUID kCLSID_SystemClock = {0xE436EBB1, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kCLSID_SystemDeviceEnum = {
    0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
constexpr GUID kCLSID_VideoInputDeviceCategory = {
    0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

constexpr GUID kMEDIATYPE_Video = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kMEDIATYPE_Audio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kMEDIASUBTYPE_RGB24 = {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kFORMAT_VideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID kMEDIASUBTYPE_Avi = {0xE436EB88, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kMEDIASUBTYPE_Asf = {0x3DB80F90, 0x9412, 0x11D1, {0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99}};
constexpr GUID kPIN_CATEGORY_CAPTURE = {0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID kPIN_CATEGORY_PREVIEW = {0xFB6C4282, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};

// Time formats by number (0 is the null GUID).
constexpr GUID kTimeFormats[6] = {
    {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0x7B785570, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}},
    {0x7B785572, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}},
    {0x7B785573, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}},
    {0x7B785571, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}},
    {0x7B785574, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}},
};

constexpr HRESULT kVFW_S_CANT_CUE = 0x00040268;

// Interface identifiers, by interface.
template <typename T>
extern const GUID kIid;
#define PX_IID(T, A, B, C, D0, D1, D2, D3, D4, D5, D6, D7) \
    template <>                                             \
    constexpr GUID kIid<T> = {A, B, C, {D0, D1, D2, D3, D4, D5, D6, D7}};
template <typename T>
const GUID& IidOf()
{
    return kIid<T>;
}
PX_IID(IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(IGraphBuilder, 0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(ICaptureGraphBuilder2, 0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D)
PX_IID(ISampleGrabber, 0x6B652FFF, 0x11FE, 0x4FCE, 0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F)
PX_IID(ISampleGrabberCB, 0x0579154A, 0x2B53, 0x4994, 0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85)
PX_IID(IMediaControl, 0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60)
PX_IID(IMediaEventEx, 0x56A868C0, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(IVideoFrameStep, 0xE46A9787, 0x2B71, 0x444D, 0xA4, 0xB5, 0x1F, 0xAB, 0x7B, 0x70, 0x8D, 0x6A)
PX_IID(IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(IAMStreamConfig, 0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56)
PX_IID(IAMCrossbar, 0xC6E13380, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56)
PX_IID(IAMTVTuner, 0x211A8766, 0x03AC, 0x11D1, 0x8D, 0x13, 0x00, 0xAA, 0x00, 0xBD, 0x83, 0x39)
PX_IID(IAMAnalogVideoDecoder, 0xC6E13350, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56)
PX_IID(IAMClockSlave, 0x9FD52741, 0x176D, 0x4B36, 0x8F, 0x51, 0xCA, 0x8F, 0x93, 0x32, 0x23, 0xBE)
PX_IID(IAMVideoCompression, 0xC6E13343, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56)
PX_IID(IVMRFilterConfig, 0x9E5530C5, 0x7034, 0x48B4, 0xBB, 0x46, 0x0B, 0x8A, 0x6E, 0xFC, 0x8E, 0x36)
PX_IID(IVMRWindowlessControl, 0x0EB1088C, 0x4DCD, 0x46F0, 0x87, 0x8F, 0x39, 0xDA, 0xE8, 0x6A, 0x51, 0xB7)
PX_IID(IDvdControl2, 0x33BC7430, 0xEEC0, 0x11D2, 0x82, 0x01, 0x00, 0xA0, 0xC9, 0xD7, 0x48, 0x42)
PX_IID(IDvdInfo2, 0x34151510, 0xEEC0, 0x11D2, 0x82, 0x01, 0x00, 0xA0, 0xC9, 0xD7, 0x48, 0x42)
PX_IID(IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
PX_IID(ICreateDevEnum, 0x29840822, 0x5B84, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86)
PX_IID(IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51)
#undef PX_IID

template <typename T>
void ReleaseInto(T*& P)
{
    if (P) {
        T* p = P;
        P = nullptr;
        p->Release();
    }
}

template <typename T>
T* QueryFrom(IUnknown* From)
{
    if (!From)
        return nullptr;
    void* p = nullptr;
    if (FAILED(From->QueryInterface(IidOf<T>(), &p)))
        return nullptr;
    return static_cast<T*>(p);
}

template <typename T>
T* CreateObject(const GUID& Class)
{
    void* p = nullptr;
    if (FAILED(CoCreateInstance(Class, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IidOf<T>(), &p)))
        return nullptr;
    return static_cast<T*>(p);
}

// A four-character code subtype: the code as the first field, then the
// common tail.
constexpr GUID FourCC(const char (&Code)[5])
{
    const uint32_t v = static_cast<uint8_t>(Code[0]) | (static_cast<uint8_t>(Code[1]) << 8) |
                       (static_cast<uint8_t>(Code[2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(Code[3])) << 24);
    return GUID{v, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr GUID RGBType(uint32_t First)
{
    return GUID{First, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}

struct TSubtypeName {
    GUID Subtype;
    const wchar_t* Name;
};

const TSubtypeName kSubtypes[] = {
    {FourCC("CLPL"), L"CLPL"}, {FourCC("YUYV"), L"YUYV"}, {FourCC("IYUV"), L"IYUV"}, {FourCC("YVU9"), L"YVU9"},
    {FourCC("Y411"), L"Y411"}, {FourCC("Y41P"), L"Y41P"}, {FourCC("YUY2"), L"YUY2"}, {FourCC("YVYU"), L"YVYU"},
    {FourCC("UYVY"), L"UYVY"}, {FourCC("Y211"), L"Y211"}, {FourCC("YV12"), L"YV12"}, {FourCC("CLJR"), L"CLJR"},
    {FourCC("IF09"), L"IF09"}, {FourCC("CPLA"), L"CPLA"}, {FourCC("MJPG"), L"MJPG"}, {FourCC("TVMJ"), L"TVMJ"},
    {FourCC("WAKE"), L"WAKE"}, {FourCC("CFCC"), L"CFCC"}, {FourCC("IJPG"), L"IJPG"}, {FourCC("Plum"), L"Plum"},
    {FourCC("DVCS"), L"DVCS"}, {FourCC("DVSD"), L"DVSD"}, {FourCC("MDVF"), L"MDVF"},
    {RGBType(0xE436EB78), L"RGB1"}, {RGBType(0xE436EB79), L"RGB4"}, {RGBType(0xE436EB7A), L"RGB8"},
    {RGBType(0xE436EB7B), L"RGB565"}, {RGBType(0xE436EB7C), L"RGB555"}, {RGBType(0xE436EB7D), L"RGB24"},
    {RGBType(0xE436EB7E), L"RGB32"},
    {{0x297C55AF, 0xE209, 0x4CB3, {0xB7, 0x57, 0xC7, 0x6D, 0x6B, 0x9C, 0x88, 0xA8}}, L"ARGB1555"},
    {{0x6E6415E6, 0x5C24, 0x425F, {0x93, 0xCD, 0x80, 0x10, 0x2B, 0x3D, 0x1C, 0xCA}}, L"ARGB4444"},
    {{0x773C9AC0, 0x3274, 0x11D0, {0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01}}, L"ARGB32"},
    {FourCC("AYUV"), L"AYUV"}, {FourCC("AI44"), L"AI44"}, {FourCC("IA44"), L"IA44"},
};

struct TStandardName {
    uint32_t Bit;
    const wchar_t* Name;
};

const TStandardName kStandards[] = {
    {0x1, L"NTSC_M"},        {0x2, L"NTSC_M_J"},      {0x4, L"NTSC_433"},     {0x10, L"PAL_B"},
    {0x20, L"PAL_D"},        {0x80, L"PAL_H"},        {0x100, L"PAL_I"},      {0x200, L"PAL_M"},
    {0x400, L"PAL_N"},       {0x800, L"PAL_60"},      {0x1000, L"SECAM_B"},   {0x2000, L"SECAM_D"},
    {0x4000, L"SECAM_G"},    {0x8000, L"SECAM_H"},    {0x10000, L"SECAM_K"},  {0x20000, L"SECAM_K1"},
    {0x40000, L"SECAM_L"},   {0x80000, L"SECAM_L1"},  {0x100000, L"PAL_N_COMBO"},
};

// The video info header of a media type, nullptr when its format is not
// VideoInfo or its block is too small for one.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& Type)
{
    if (Type.formattype != kFORMAT_VideoInfo || !Type.pbFormat || Type.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(Type.pbFormat);
}

}  // namespace

// ---- the grabber's callback object

// Receives the grabber's buffer callbacks on a streaming thread. The owner
// is cleared (Detach) before the owner lets go of the grabber, so a late
// callback finds none.
class TPxSampleGrabberCB final : public classlib::TComObject<ISampleGrabberCB, kIid<ISampleGrabberCB>> {
public:
    explicit TPxSampleGrabberCB(TPxDirectShow* Owner) : owner_(Owner) {}

    void Detach() { owner_.store(nullptr); }

    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override
    {
        try {
            if (TPxDirectShow* owner = owner_.load())
                owner->BufferArrived();
        } catch (...) {
        }
        return S_OK;
    }

private:
    std::atomic<TPxDirectShow*> owner_;
};

// ---- names and media types

std::wstring PxVideoSubtypeName(const GUID& Subtype)
{
    for (const TSubtypeName& s : kSubtypes)
        if (s.Subtype == Subtype)
            return s.Name;
    return L"";
}

std::wstring PxVideoStandardNames(uint32_t Mask)
{
    std::wstring out;
    for (const TStandardName& s : kStandards)
        if (Mask & s.Bit) {
            out += s.Name;
            out += L' ';
        }
    return classlib::Trim(out);
}

void PxFreeMediaType(AM_MEDIA_TYPE& Type)
{
    if (Type.cbFormat != 0) {
        CoTaskMemFree(Type.pbFormat);
        Type.cbFormat = 0;
        Type.pbFormat = nullptr;
    }
    if (Type.pUnk) {
        Type.pUnk->Release();
        Type.pUnk = nullptr;
    }
}

void PxDeleteMediaType(AM_MEDIA_TYPE* Type)
{
    if (!Type)
        return;
    PxFreeMediaType(*Type);
    CoTaskMemFree(Type);
}

namespace {

// Enumerates the monikers of the video input category; Visit returns false
// to stop.
template <typename F>
void EachVideoDevice(F Visit)
{
    ICreateDevEnum* devices = CreateObject<ICreateDevEnum>(kCLSID_SystemDeviceEnum);
    if (!devices)
        return;
    IEnumMoniker* monikers = nullptr;
    // S_FALSE: the category is empty and no enumerator is returned.
    if (devices->CreateClassEnumerator(kCLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK && monikers) {
        IMoniker* m = nullptr;
        while (monikers->Next(1, &m, nullptr) == S_OK) {
            const bool more = Visit(m);
            m->Release();
            if (!more)
                break;
        }
        monikers->Release();
    }
    devices->Release();
}

std::wstring FriendlyName(IMoniker* Moniker)
{
    std::wstring name;
    IPropertyBag* bag = nullptr;
    if (SUCCEEDED(Moniker->BindToStorage(nullptr, nullptr, IidOf<IPropertyBag>(), reinterpret_cast<void**>(&bag)))) {
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal)
            name = v.bstrVal;
        VariantClear(&v);
        bag->Release();
    }
    return name;
}

}  // namespace

std::vector<std::wstring> PxVideoCaptureDevices()
{
    std::vector<std::wstring> names;
    EachVideoDevice([&](IMoniker* m) {
        names.push_back(FriendlyName(m));
        return true;
    });
    return names;
}

// ---- TPxDirectShow

TPxDirectShow::TPxDirectShow() { oleInitialized_ = SUCCEEDED(OleInitialize(nullptr)); }

TPxDirectShow::~TPxDirectShow()
{
    Disconnect();
    ReleaseInto(videoCapture_);
    ReleaseInto(audioCapture_);
    ReleaseInto(videoCompressor_);
    ReleaseInto(audioCompressor_);
    formats_.clear();
    inputs_.clear();
    if (oleInitialized_)
        OleUninitialize();
}

namespace {

void Replace(IBaseFilter*& Field, IBaseFilter* Filter)
{
    if (Filter)
        Filter->AddRef();
    ReleaseInto(Field);
    Field = Filter;
}

}  // namespace

void TPxDirectShow::SetVideoCaptureFilter(IBaseFilter* Filter) { Replace(videoCapture_, Filter); }
void TPxDirectShow::SetAudioCaptureFilter(IBaseFilter* Filter) { Replace(audioCapture_, Filter); }
void TPxDirectShow::SetVideoCompressorFilter(IBaseFilter* Filter) { Replace(videoCompressor_, Filter); }
void TPxDirectShow::SetAudioCompressorFilter(IBaseFilter* Filter) { Replace(audioCompressor_, Filter); }

bool TPxDirectShow::SelectVideoCaptureDevice(int Index)
{
    if (Index < 0)
        return false;
    IBaseFilter* filter = nullptr;
    int i = 0;
    EachVideoDevice([&](IMoniker* m) {
        if (i++ != Index)
            return true;
        m->BindToObject(nullptr, nullptr, IidOf<IBaseFilter>(), reinterpret_cast<void**>(&filter));
        return false;
    });
    if (!filter)
        return false;
    SetVideoCaptureFilter(filter);
    filter->Release();
    return true;
}

IBaseFilter* TPxDirectShow::AddFilter(const GUID& Class, const wchar_t* Name)
{
    IBaseFilter* f = CreateObject<IBaseFilter>(Class);
    if (f && graph_)
        graph_->AddFilter(f, Name);
    return f;
}

void TPxDirectShow::Connect()
{
    NotificationsEnabled = true;
    if (!DVDLocation.empty())
        BuildDVDGraph();
    else
        BuildCaptureGraph();
}

void TPxDirectShow::ReleaseGraph()
{
    // The grabber lets go of the callback first; the callback forgets this
    // object in case the grabber still calls it.
    if (grabber_)
        grabber_->SetCallback(nullptr, 1);
    if (callback_) {
        callback_->Detach();
        ReleaseInto(callback_);
    }
    if (events_)
        events_->SetNotifyWindow(0, 0, 0);
    ReleaseInto(dvdInfo_);
    ReleaseInto(dvdControl_);
    ReleaseInto(systemClock_);
    ReleaseInto(windowless_);
    ReleaseInto(vmrConfig_);
    ReleaseInto(vmr_);
    ReleaseInto(aviDecompressor_);
    ReleaseInto(nullRenderer_);
    ReleaseInto(grabber_);
    ReleaseInto(grabberFilter_);
    ReleaseInto(clockSlave_);
    ReleaseInto(videoDecoder_);
    ReleaseInto(frameStep_);
    ReleaseInto(tunerFilter_);
    ReleaseInto(tuner_);
    ReleaseInto(crossbar_);
    ReleaseInto(crossbarFilter_);
    ReleaseInto(streamConfig_);
    ReleaseInto(events_);
    ReleaseInto(seeking_);
    ReleaseInto(control_);
    ReleaseInto(builder_);
    ReleaseInto(videoCompression_);
    ReleaseInto(fileSource_);
    ReleaseInto(colorConverter_);
    ReleaseInto(graph_);
}

void TPxDirectShow::Disconnect()
{
    if (control_) {
        OAFilterState state = State_Stopped;
        control_->GetState(100, &state);
        if (state != State_Stopped)
            control_->Stop();
    }
    ReleaseGraph();
}

void TPxDirectShow::BuildCaptureGraph()
{
    // A second Connect replaces the graph objects.
    if (graph_)
        Disconnect();
    graph_ = CreateObject<IGraphBuilder>(kCLSID_FilterGraph);
    builder_ = CreateObject<ICaptureGraphBuilder2>(kCLSID_CaptureGraphBuilder2);
    if (!graph_ || !builder_) {
        ReleaseGraph();
        return;
    }
    builder_->SetFiltergraph(graph_);

    if (videoCapture_)
        graph_->AddFilter(videoCapture_, L"VideoCapture");
    if (audioCapture_)
        graph_->AddFilter(audioCapture_, L"AudioCapture");
    if (!FileInput.empty())
        graph_->AddSourceFilter(FileInput.c_str(), L"FileFilter", &fileSource_);
    if (videoCompressor_)
        graph_->AddFilter(videoCompressor_, L"VideoCodec");
    if (audioCompressor_)
        graph_->AddFilter(audioCompressor_, L"AudioCodec");

    IBaseFilter* renderer = nullptr;     // borrowed
    IBaseFilter* multiplexer = nullptr;  // owned reference
    if (!FileOutput.empty()) {
        std::string ext;
        if (const size_t dot = FileOutput.rfind('.'); dot != std::string::npos)
            ext = FileOutput.substr(dot);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        const GUID* sub = ext == ".avi" ? &kMEDIASUBTYPE_Avi : ext == ".asf" ? &kMEDIASUBTYPE_Asf : nullptr;
        if (sub) {
            const int n = MultiByteToWideChar(CP_ACP, 0, FileOutput.c_str(), -1, nullptr, 0);
            std::wstring name(n > 0 ? static_cast<size_t>(n - 1) : 0, L'\0');
            if (n > 1)
                MultiByteToWideChar(CP_ACP, 0, FileOutput.c_str(), -1, name.data(), n);
            builder_->SetOutputFileName(sub, name.c_str(), &multiplexer, nullptr);
            renderer = multiplexer;
        }
    }

    IBaseFilter* transform = videoCompressor_;
    if (!transform) {
        colorConverter_ = AddFilter(kCLSID_Colour, L"ColorConverter");
        transform = colorConverter_;
    }
    if (GrabFrames && !videoCompressor_) {
        grabberFilter_ = AddFilter(kCLSID_SampleGrabber, L"SampleGrabber");
        grabber_ = QueryFrom<ISampleGrabber>(grabberFilter_);
        if (grabber_) {
            grabber_->SetBufferSamples(TRUE);
            AM_MEDIA_TYPE type{};
            type.majortype = kMEDIATYPE_Video;
            type.subtype = kMEDIASUBTYPE_RGB24;
            grabber_->SetMediaType(&type);
            // Installed also without a notify window: seeking waits for the
            // buffer of the new position through it.
            callback_ = new TPxSampleGrabberCB(this);
            grabber_->SetCallback(callback_, 1);
        }
        transform = grabberFilter_;
    }
    if (UseVMR) {
        CreateVMR();
        renderer = vmr_;
    }
    if (!renderer) {
        nullRenderer_ = AddFilter(kCLSID_NullRenderer, L"NullRenderer");
        renderer = nullRenderer_;
    }
    aviDecompressor_ = AddFilter(kCLSID_AVIDec, L"AVI Decompressor");

    if (videoCapture_) {
        if (multiplexer && multiplexer != renderer) {
            builder_->RenderStream(&kPIN_CATEGORY_CAPTURE, &kMEDIATYPE_Video, videoCapture_, transform, multiplexer);
            builder_->RenderStream(&kPIN_CATEGORY_PREVIEW, &kMEDIATYPE_Video, videoCapture_, nullptr, renderer);
        } else {
            builder_->RenderStream(&kPIN_CATEGORY_CAPTURE, &kMEDIATYPE_Video, videoCapture_, transform, renderer);
        }
    }
    if (audioCapture_)
        builder_->RenderStream(&kPIN_CATEGORY_CAPTURE, &kMEDIATYPE_Audio, audioCapture_, audioCompressor_, renderer);
    if (fileSource_) {
        builder_->RenderStream(nullptr, nullptr, fileSource_, aviDecompressor_, transform);
        // Without a transform there is nothing to render from (the builder
        // is never handed an empty source).
        if (transform)
            builder_->RenderStream(nullptr, nullptr, transform, nullptr, renderer);
        builder_->RenderStream(nullptr, nullptr, fileSource_, transform, renderer);
        builder_->RenderStream(nullptr, &kMEDIATYPE_Video, fileSource_, transform, renderer);
        if (renderer && audioCompressor_)
            builder_->RenderStream(nullptr, nullptr, fileSource_, audioCompressor_, renderer);
    }
    if (RenderAudio)
        builder_->RenderStream(nullptr, &kMEDIATYPE_Audio, fileSource_ ? fileSource_ : videoCapture_, nullptr, nullptr);
    ReleaseInto(multiplexer);

    control_ = QueryFrom<IMediaControl>(graph_);
    seeking_ = QueryFrom<IMediaSeeking>(graph_);
    events_ = QueryFrom<IMediaEventEx>(graph_);
    if (events_ && notifyWindow_.load())
        events_->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow_.load()), static_cast<long>(eventMessage_),
                                 reinterpret_cast<LONG_PTR>(this));
    if (videoCompressor_)
        videoCompression_ = QueryFrom<IAMVideoCompression>(videoCompressor_);

    IBaseFilter* source = videoCapture_ ? videoCapture_ : fileSource_;
    if (source) {
        builder_->FindInterface(nullptr, nullptr, source, IidOf<IAMStreamConfig>(), reinterpret_cast<void**>(&streamConfig_));
        builder_->FindInterface(nullptr, nullptr, source, IidOf<IAMCrossbar>(), reinterpret_cast<void**>(&crossbar_));
        crossbarFilter_ = QueryFrom<IBaseFilter>(crossbar_);
        builder_->FindInterface(nullptr, nullptr, source, IidOf<IAMTVTuner>(), reinterpret_cast<void**>(&tuner_));
        tunerFilter_ = QueryFrom<IBaseFilter>(tuner_);
        RouteTunerToDecoder();
        builder_->FindInterface(nullptr, nullptr, source, IidOf<IAMAnalogVideoDecoder>(),
                                reinterpret_cast<void**>(&videoDecoder_));
    }
    frameStep_ = QueryFrom<IVideoFrameStep>(graph_);
    SetSyncSource();
    if (source)
        builder_->FindInterface(nullptr, nullptr, source, IidOf<IAMClockSlave>(), reinterpret_cast<void**>(&clockSlave_));
    if (clockSlave_ && ClockErrorTolerance >= 0)
        clockSlave_->SetErrorTolerance(static_cast<DWORD>(ClockErrorTolerance));
    FillVideoFormats();
    FillVideoInputs();
}

void TPxDirectShow::SetSyncSource()
{
    if (ReferenceClock == 0)
        return;
    IMediaFilter* filter = QueryFrom<IMediaFilter>(graph_);
    if (!filter)
        return;
    IReferenceClock* clock = nullptr;  // owned reference
    auto clockOf = [](IBaseFilter* F) { return QueryFrom<IReferenceClock>(F); };
    switch (ReferenceClock) {
    case 2:
        ReleaseInto(systemClock_);
        systemClock_ = CreateObject<IReferenceClock>(kCLSID_SystemClock);
        if (systemClock_) {
            clock = systemClock_;
            clock->AddRef();
        }
        break;
    case 3:
        clock = clockOf(videoCapture_);
        break;
    case 4:
        clock = clockOf(vmr_);
        break;
    case 5:
        clock = clockOf(audioCapture_);
        break;
    case 6: {
        IBaseFilter* f = nullptr;
        if (SUCCEEDED(graph_->FindFilterByName(L"Audio Renderer", &f)) && f) {
            clock = clockOf(f);
            f->Release();
        }
        break;
    }
    default:
        break;
    }
    filter->SetSyncSource(clock);
    ReleaseInto(clock);
    filter->Release();
}

void TPxDirectShow::CreateVMR()
{
    if (vmr_ && graph_)
        graph_->RemoveFilter(vmr_);
    ReleaseInto(windowless_);
    ReleaseInto(vmrConfig_);
    ReleaseInto(vmr_);
    vmr_ = AddFilter(kCLSID_VMR, L"Video Mixing Renderer");
    vmrConfig_ = QueryFrom<IVMRFilterConfig>(vmr_);
    if (vmrConfig_) {
        vmrConfig_->SetNumberOfStreams(1);
        vmrConfig_->SetRenderingMode(VMRMode_Windowless);
    }
    windowless_ = QueryFrom<IVMRWindowlessControl>(vmr_);
    if (windowless_) {
        windowless_->SetVideoClippingWindow(notifyWindow_.load());
        windowless_->SetAspectRatioMode(VMR_ARMODE_NONE);
    }
    if (HWND w = notifyWindow_.load())
        InvalidateRect(w, nullptr, FALSE);
}

void TPxDirectShow::BuildDVDGraph()
{
    if (graph_)
        Disconnect();
    graph_ = CreateObject<IGraphBuilder>(kCLSID_FilterGraph);
    if (!graph_)
        return;
    IBaseFilter* navigator = CreateObject<IBaseFilter>(kCLSID_DVDNavigator);
    if (!navigator)
        return;
    graph_->AddFilter(navigator, L"DVD Navigator");
    UseVMR = true;
    CreateVMR();
    IEnumPins* pins = nullptr;
    if (SUCCEEDED(navigator->EnumPins(&pins)) && pins) {
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            graph_->Render(pin);
            pin->Release();
        }
        pins->Release();
    }
    events_ = QueryFrom<IMediaEventEx>(graph_);
    control_ = QueryFrom<IMediaControl>(graph_);
    seeking_ = QueryFrom<IMediaSeeking>(graph_);
    if (events_ && notifyWindow_.load())
        events_->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow_.load()), static_cast<long>(eventMessage_),
                                 reinterpret_cast<LONG_PTR>(this));
    dvdControl_ = QueryFrom<IDvdControl2>(navigator);
    if (dvdControl_ && classlib::LowerCase(DVDLocation) != L"default")
        dvdControl_->SetDVDDirectory(DVDLocation.c_str());
    dvdInfo_ = QueryFrom<IDvdInfo2>(navigator);
    // The graph holds the navigator.
    navigator->Release();
}

void TPxDirectShow::FillVideoFormats()
{
    formats_.clear();
    if (!streamConfig_)
        return;
    int count = 0, size = 0;
    if (FAILED(streamConfig_->GetNumberOfCapabilities(&count, &size)) || count <= 0 || size <= 0)
        return;
    // The capability structure of a video pin; a pin describing another
    // structure of a different size is not read.
    if (static_cast<size_t>(size) < sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return;
    std::vector<uint8_t> caps(static_cast<size_t>(size));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(streamConfig_->GetStreamCaps(i, &type, caps.data())) || !type)
            continue;
        VIDEO_STREAM_CONFIG_CAPS c;
        std::memcpy(&c, caps.data(), sizeof c);
        auto f = std::make_unique<TPxVideoFormat>();
        f->SubtypeName = PxVideoSubtypeName(type->subtype);
        if (const VIDEOINFOHEADER* vi = VideoInfoOf(*type))
            f->BitsPerSecond = static_cast<int32_t>(vi->dwBitRate);
        f->StandardNames = PxVideoStandardNames(c.VideoStandard);
        f->MinWidth = c.MinOutputSize.cx;
        f->MinHeight = c.MinOutputSize.cy;
        f->MaxWidth = c.MaxOutputSize.cx;
        f->MaxHeight = c.MaxOutputSize.cy;
        f->WidthStep = c.OutputGranularityX;
        f->HeightStep = c.OutputGranularityY;
        formats_.push_back(std::move(f));
        PxDeleteMediaType(type);
    }
}

void TPxDirectShow::FillVideoInputs()
{
    inputs_.clear();
    if (!crossbarFilter_)
        return;
    IEnumPins* pins = nullptr;
    if (FAILED(crossbarFilter_->EnumPins(&pins)) || !pins)
        return;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info{};
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            if (info.dir == PINDIR_INPUT)
                inputs_.emplace_back(info.achName);
            if (info.pFilter)
                info.pFilter->Release();
        }
        pin->Release();
    }
    pins->Release();
}

void TPxDirectShow::RouteTunerToDecoder()
{
    if (!crossbar_)
        return;
    long outputs = 0, inputs = 0;
    if (FAILED(crossbar_->get_PinCounts(&outputs, &inputs)))
        return;
    long out = -1, in = -1;
    for (long i = 0; i < outputs; ++i) {
        long related = 0, type = 0;
        if (SUCCEEDED(crossbar_->get_CrossbarPinInfo(FALSE, i, &related, &type)) && type == PhysConn_Video_VideoDecoder)
            out = i;
    }
    for (long i = 0; i < inputs; ++i) {
        long related = 0, type = 0;
        if (SUCCEEDED(crossbar_->get_CrossbarPinInfo(TRUE, i, &related, &type)) && type == PhysConn_Video_Tuner)
            in = i;
    }
    if (out >= 0 && in >= 0)
        crossbar_->Route(out, in);
}

void TPxDirectShow::Run()
{
    if (control_)
        control_->Run();
}

void TPxDirectShow::Pause()
{
    if (control_)
        control_->Pause();
}

int TPxDirectShow::GetState()
{
    if (!control_)
        return 0;
    OAFilterState state = State_Stopped;
    control_->GetState(100, &state);
    switch (state) {
    case State_Paused:
        return 1;
    case State_Running:
        return 2;
    default:
        return 0;
    }
}

void TPxDirectShow::SetTimeFormat(int Format)
{
    if (!seeking_ || Format < 0 || Format > 5)
        return;
    seeking_->SetTimeFormat(&kTimeFormats[Format]);
}

int TPxDirectShow::GetTimeFormat()
{
    if (!seeking_)
        return 0;
    GUID f{};
    if (FAILED(seeking_->GetTimeFormat(&f)))
        return 0;
    for (int i = 0; i < 6; ++i)
        if (f == kTimeFormats[i])
            return i;
    return 0;
}

int64_t TPxDirectShow::GetDuration()
{
    LONGLONG d = 0;
    if (!seeking_ || FAILED(seeking_->GetDuration(&d)))
        return 0;
    return d;
}

int64_t TPxDirectShow::GetPosition()
{
    LONGLONG p = 0;
    if (!seeking_ || FAILED(seeking_->GetCurrentPosition(&p)))
        return 0;
    return p;
}

void TPxDirectShow::SetPosition(int64_t Position)
{
    if (!seeking_)
        return;
    LONGLONG current = Position;
    // A grabbing graph that is paused seeks from stopped: a graph seeking
    // while paused may still push a frame of the old position through the
    // grabber after the seek, and the frame wanted must be the first buffer
    // that arrives afterwards.
    const bool reCue = callback_ && control_ && GetState() == 1;
    if (reCue)
        control_->Stop();
    const uint64_t before = buffers_.load();
    seeking_->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    if (!control_)
        return;
    if (reCue)
        control_->Pause();
    const DWORD start = GetTickCount();
    for (;;) {
        OAFilterState state = State_Stopped;
        const HRESULT hr = control_->GetState(100, &state);
        if (hr == S_OK || hr == kVFW_S_CANT_CUE || GetTickCount() - start >= 10000)
            break;
    }
    // The graph may report the state before the grabber has the frame.
    if (reCue)
        while (buffers_.load() == before && GetTickCount() - start < 10000)
            Sleep(1);
}

void TPxDirectShow::GetVideoSize(int& Width, int& Height, std::wstring& SubtypeName)
{
    if (streamConfig_) {
        AM_MEDIA_TYPE* type = nullptr;
        if (SUCCEEDED(streamConfig_->GetFormat(&type)) && type) {
            if (const VIDEOINFOHEADER* vi = VideoInfoOf(*type)) {
                Width = vi->bmiHeader.biWidth;
                Height = vi->bmiHeader.biHeight;
                SubtypeName = PxVideoSubtypeName(type->subtype);
            }
            PxDeleteMediaType(type);
        }
        return;
    }
    if (grabber_) {
        AM_MEDIA_TYPE type{};
        if (SUCCEEDED(grabber_->GetConnectedMediaType(&type))) {
            if (const VIDEOINFOHEADER* vi = VideoInfoOf(type)) {
                Width = vi->bmiHeader.biWidth;
                Height = vi->bmiHeader.biHeight;
            }
            PxFreeMediaType(type);
        }
    }
}

int64_t TPxDirectShow::GetAverageTimePerFrame()
{
    int64_t avg = 0;
    if (streamConfig_) {
        AM_MEDIA_TYPE* type = nullptr;
        if (SUCCEEDED(streamConfig_->GetFormat(&type)) && type) {
            if (const VIDEOINFOHEADER* vi = VideoInfoOf(*type))
                avg = vi->AvgTimePerFrame;
            PxDeleteMediaType(type);
        }
    } else if (grabber_) {
        AM_MEDIA_TYPE type{};
        if (SUCCEEDED(grabber_->GetConnectedMediaType(&type))) {
            if (const VIDEOINFOHEADER* vi = VideoInfoOf(type))
                avg = vi->AvgTimePerFrame;
            PxFreeMediaType(type);
        }
    }
    if (avg != 0 || !seeking_ || !control_)
        return avg;
    // Measured: the first step of the position while the graph runs. A
    // stream whose position does not move within a second gives 0.
    const int format = GetTimeFormat();
    SetTimeFormat(5);
    Run();
    int64_t start = 0;
    const DWORD began = GetTickCount();
    while (GetTickCount() - began < 1000) {
        const int64_t p = GetPosition();
        if (start == 0) {
            start = p;
        } else if (p != start) {
            avg = p - start;
            break;
        }
        Sleep(10);
    }
    Pause();
    SetTimeFormat(format);
    return avg;
}

bool TPxDirectShow::CopyGrabberBuffer(TPxBitmap* Bitmap)
{
    AM_MEDIA_TYPE type{};
    if (FAILED(grabber_->GetConnectedMediaType(&type)))
        return false;
    const VIDEOINFOHEADER* vi = VideoInfoOf(type);
    if (!vi || vi->bmiHeader.biWidth <= 0 || vi->bmiHeader.biHeight == 0) {
        PxFreeMediaType(type);
        return false;
    }
    const int w = vi->bmiHeader.biWidth;
    const int h = vi->bmiHeader.biHeight < 0 ? -vi->bmiHeader.biHeight : vi->bmiHeader.biHeight;
    const bool topDown = vi->bmiHeader.biHeight < 0;
    PxFreeMediaType(type);
    if (Bitmap->GetWidth() != w || Bitmap->GetHeight() != h || Bitmap->GetPixelFormat() != px24RGB)
        if (!Bitmap->Allocate(w, h, px24RGB))
            return false;
    long size = 0;
    if (FAILED(grabber_->GetCurrentBuffer(&size, nullptr)) || size <= 0)
        return true;
    const int64_t stride = (static_cast<int64_t>(w) * 24 + 31) / 32 * 4;
    const int64_t needed = stride * h;
    // The rows the grabber copies must all be there: a buffer of another size
    // than the connected type describes is not read.
    if (size < needed)
        return true;
    const int64_t rowBytes = static_cast<int64_t>(w) * 3;
    // One bottom-up block of exactly that size takes the copy directly.
    if (!topDown && size == needed && Bitmap->GetLocation() == pxMemory && Bitmap->GetRowLen() == stride) {
        uint8_t* last = Bitmap->GetScanline(h - 1);
        uint8_t* first = Bitmap->GetScanline(0);
        if (first == last + stride * (h - 1)) {
            long copied = size;
            grabber_->GetCurrentBuffer(&copied, reinterpret_cast<long*>(last));
            return true;
        }
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    long copied = size;
    if (FAILED(grabber_->GetCurrentBuffer(&copied, reinterpret_cast<long*>(buffer.data()))) || copied < needed)
        return true;
    for (int y = 0; y < h; ++y) {
        const int source = topDown ? y : h - 1 - y;
        std::memcpy(Bitmap->GetScanline(y), buffer.data() + stride * source, static_cast<size_t>(rowBytes));
    }
    return true;
}

void TPxDirectShow::GetSample(TPxBitmap* Bitmap, bool KeepSize)
{
    if (!Bitmap)
        return;
    if (windowless_) {
        const int w = Bitmap->GetWidth();
        const int h = Bitmap->GetHeight();
        BYTE* dib = nullptr;
        if (SUCCEEDED(windowless_->GetCurrentImage(&dib)) && dib) {
            PxCopyDIBToBitmap(dib, Bitmap, nullptr, true);
            CoTaskMemFree(dib);
            if (KeepSize && w > 0 && h > 0 && (Bitmap->GetWidth() != w || Bitmap->GetHeight() != h)) {
                auto proc = TImgProc::CreateForBitmap(Bitmap);
                proc->Resample(w, h, rfNone);
            }
        }
        return;
    }
    if (grabber_)
        CopyGrabberBuffer(Bitmap);
}

void TPxDirectShow::SetNotifyWindow(HWND Window, UINT FrameMessage, UINT EventMessage)
{
    notifyWindow_ = Window;
    frameMessage_ = FrameMessage;
    eventMessage_ = EventMessage;
    if (graph_ && events_)
        events_->SetNotifyWindow(reinterpret_cast<OAHWND>(Window), static_cast<long>(EventMessage),
                                 reinterpret_cast<LONG_PTR>(this));
}

void TPxDirectShow::BufferArrived()
{
    ++buffers_;
    const HWND window = notifyWindow_.load();
    if (!window || !NotificationsEnabled.load())
        return;
    PostMessageW(window, frameMessage_.load(), 0, reinterpret_cast<LPARAM>(this));
}

void TPxDirectShow::SetVideoPosition(const RECT& Source, const RECT& Dest)
{
    if (!windowless_)
        return;
    RECT source = Source;
    RECT dest = Dest;
    windowless_->SetVideoPosition(&source, &dest);
}

void TPxDirectShow::GetNativeVideoSize(int& Width, int& Height)
{
    if (!windowless_)
        return;
    LONG w = 0, h = 0;
    if (SUCCEEDED(windowless_->GetNativeVideoSize(&w, &h, nullptr, nullptr))) {
        Width = w;
        Height = h;
    }
}

void TPxDirectShow::RepaintVideo(HWND Window, HDC DC)
{
    if (windowless_)
        windowless_->RepaintVideo(Window, DC);
}

}  // namespace imaging
