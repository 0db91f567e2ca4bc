// The only translation unit that includes the JPEG library's header (see
// JpegGlue.h). Nothing here includes <windows.h>.
#include "imaging/io/formats/jpeg/JpegGlue.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "classlib/Stream.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

namespace imaging {

// The message table is written for the library's version-62 numbering.
static_assert(JPEG_LIB_VERSION == 62, "the glue expects the library's 6b interface");
static_assert(JERR_BAD_STRUCT_SIZE == 21 && JERR_TOO_LITTLE_DATA == 67 && JWRN_TOO_MUCH_DATA == 123,
              "message codes of the version-62 interface");

namespace {

constexpr size_t kBufferSize = 65536;

struct TMessageText {
    int Code;
    const wchar_t* Text;
};

const TMessageText kMessages[] = {
    {JMSG_NOMESSAGE, L"Bogus message code ?"},
    {JERR_ARITH_NOTIMPL, L"Sorry, there are legal restrictions on arithmetic coding"},
    {JERR_BAD_ALIGN_TYPE, L"ALIGN_TYPE is wrong, please fix"},
    {JERR_BAD_ALLOC_CHUNK, L"MAX_ALLOC_CHUNK is wrong, please fix"},
    {JERR_BAD_BUFFER_MODE, L"Bogus buffer control mode"},
    {JERR_BAD_COMPONENT_ID, L"Invalid component ID ? in SOS"},
    {JERR_BAD_DCT_COEF, L"DCT coefficient out of range"},
    {JERR_BAD_DCTSIZE, L"IDCT output block size ? not supported"},
    {JERR_BAD_HUFF_TABLE, L"Bogus Huffman table definition"},
    {JERR_BAD_IN_COLORSPACE, L"Bogus input colorspace"},
    {JERR_BAD_J_COLORSPACE, L"Bogus JPEG colorspace"},
    {JERR_BAD_LENGTH, L"Bogus marker length"},
    {JERR_BAD_LIB_VERSION, L"Wrong JPEG library version: library is ?, caller expects ?"},
    {JERR_BAD_MCU_SIZE, L"Sampling factors too large for interleaved scan"},
    {JERR_BAD_POOL_ID, L"Invalid memory pool code ?"},
    {JERR_BAD_PRECISION, L"Unsupported JPEG data precision ?"},
    {JERR_BAD_PROGRESSION, L"Invalid progressive parameters Ss=? Se=? Ah=? Al=?"},
    {JERR_BAD_PROG_SCRIPT, L"Invalid progressive parameters at scan script entry ?"},
    {JERR_BAD_SAMPLING, L"Bogus sampling factors"},
    {JERR_BAD_SCAN_SCRIPT, L"Invalid scan script at entry ?"},
    {JERR_BAD_STATE, L"Improper call to JPEG library in state ?"},
    {JERR_BAD_STRUCT_SIZE, L"JPEG parameter struct mismatch: library thinks size is ?, caller expects ?"},
    {JERR_BAD_VIRTUAL_ACCESS, L"Bogus virtual array access"},
    {JERR_BUFFER_SIZE, L"Buffer passed to JPEG library is too small"},
    {JERR_CANT_SUSPEND, L"Suspension not allowed here"},
    {JERR_CCIR601_NOTIMPL, L"CCIR601 sampling not implemented yet"},
    {JERR_COMPONENT_COUNT, L"Too many color components: ?, max ?"},
    {JERR_CONVERSION_NOTIMPL, L"Unsupported color conversion request"},
    {JERR_DAC_INDEX, L"Bogus DAC index ?"},
    {JERR_DAC_VALUE, L"Bogus DAC value 0x?"},
    {JERR_DHT_INDEX, L"Bogus DHT index ?"},
    {JERR_DQT_INDEX, L"Bogus DQT index ?"},
    {JERR_EMPTY_IMAGE, L"Empty JPEG image (DNL not supported)"},
    {JERR_EMS_READ, L"Read from EMS failed"},
    {JERR_EMS_WRITE, L"Write to EMS failed"},
    {JERR_EOI_EXPECTED, L"Didn't expect more than one scan"},
    {JERR_FILE_READ, L"Input file read error"},
    {JERR_FILE_WRITE, L"Output file write error --- out of disk space?"},
    {JERR_FRACT_SAMPLE_NOTIMPL, L"Fractional sampling not implemented yet"},
    {JERR_HUFF_CLEN_OVERFLOW, L"Huffman code size table overflow"},
    {JERR_HUFF_MISSING_CODE, L"Missing Huffman code table entry"},
    {JERR_IMAGE_TOO_BIG, L"Maximum supported image dimension is ? pixels"},
    {JERR_INPUT_EMPTY, L"Empty input file"},
    {JERR_INPUT_EOF, L"Premature end of input file"},
    {JERR_MISMATCHED_QUANT_TABLE, L"Cannot transcode due to multiple use of quantization table ?"},
    {JERR_MISSING_DATA, L"Scan script does not transmit all data"},
    {JERR_MODE_CHANGE, L"Invalid color quantization mode change"},
    {JERR_NOTIMPL, L"Not implemented yet"},
    {JERR_NOT_COMPILED, L"Requested feature was omitted at compile time"},
    {JERR_NO_BACKING_STORE, L"Backing store not supported"},
    {JERR_NO_HUFF_TABLE, L"Huffman table was not defined"},
    {JERR_NO_IMAGE, L"JPEG datastream contains no image"},
    {JERR_NO_QUANT_TABLE, L"Quantization table was not defined"},
    {JERR_NO_SOI, L"Not a JPEG file: starts with ?"},
    {JERR_OUT_OF_MEMORY, L"Insufficient memory (case ?)"},
    {JERR_QUANT_COMPONENTS, L"Cannot quantize more than ? color components"},
    {JERR_QUANT_FEW_COLORS, L"Cannot quantize to fewer than ? colors"},
    {JERR_QUANT_MANY_COLORS, L"Cannot quantize to more than ? colors"},
    {JERR_SOF_DUPLICATE, L"Invalid JPEG file structure: two SOF markers"},
    {JERR_SOF_NO_SOS, L"Invalid JPEG file structure: missing SOS marker"},
    {JERR_SOF_UNSUPPORTED, L"Unsupported JPEG process: SOF type ?"},
    {JERR_SOI_DUPLICATE, L"Invalid JPEG file structure: two SOI markers"},
    {JERR_SOS_NO_SOF, L"Invalid JPEG file structure: SOS before SOF"},
    {JERR_TFILE_CREATE, L"Failed to create temporary file ?"},
    {JERR_TFILE_READ, L"Read failed on temporary file"},
    {JERR_TFILE_SEEK, L"Seek failed on temporary file"},
    {JERR_TFILE_WRITE, L"Write failed on temporary file --- out of disk space?"},
    {JERR_TOO_LITTLE_DATA, L"Application transferred too few scanlines"},
    {JERR_UNKNOWN_MARKER, L"Unsupported marker type ?"},
    {JERR_VIRTUAL_BUG, L"Virtual array controller messed up"},
    {JERR_WIDTH_OVERFLOW, L"Image too wide for this implementation"},
    {JERR_XMS_READ, L"Read from XMS failed"},
    {JERR_XMS_WRITE, L"Write to XMS failed"},
    {JMSG_COPYRIGHT, L""},
    {JMSG_VERSION, L""},
    {JTRC_16BIT_TABLES, L"Caution: quantization tables are too coarse for baseline JPEG"},
    {JTRC_ADOBE, L"Adobe APP14 marker: version ?, flags ?, transform ?"},
    {JTRC_APP0, L"Unknown APP0 marker (not JFIF), length ?"},
    {JTRC_APP14, L"Unknown APP14 marker (not Adobe), length ?"},
    {JTRC_DAC, L"Define Arithmetic Table ?"},
    {JTRC_DHT, L"Define Huffman Table ?"},
    {JTRC_DQT, L"Define Quantization Table ?  precision ?"},
    {JTRC_DRI, L"Define Restart Interval ?"},
    {JTRC_EMS_CLOSE, L"Freed EMS handle ?"},
    {JTRC_EMS_OPEN, L"Obtained EMS handle ?"},
    {JTRC_EOI, L"End Of Image"},
    {JTRC_HUFFBITS, L"?"},
    {JTRC_JFIF, L"JFIF APP0 marker: version ?, density ?"},
    {JTRC_JFIF_BADTHUMBNAILSIZE, L"Warning: thumbnail image size does not match data length ?"},
    {JTRC_JFIF_EXTENSION, L"JFIF extension marker: type ?, length ?"},
    {JTRC_JFIF_THUMBNAIL, L"with ? x ? thumbnail image"},
    {JTRC_MISC_MARKER, L"Miscellaneous marker ?, length ?"},
    {JTRC_PARMLESS_MARKER, L"Unexpected marker ?"},
    {JTRC_QUANTVALS, L"?"},
    {JTRC_QUANT_3_NCOLORS, L"Quantizing to ? = ?*?*? colors"},
    {JTRC_QUANT_NCOLORS, L"Quantizing to ? colors"},
    {JTRC_QUANT_SELECTED, L"Selected ? colors for quantization"},
    {JTRC_RECOVERY_ACTION, L"At marker ?, recovery action ?"},
    {JTRC_RST, L"RST?"},
    {JTRC_SMOOTH_NOTIMPL, L"Smoothing not supported with nonstandard sampling ratios"},
    {JTRC_SOF, L"Start Of Frame ?: width=?, height=?, components=?"},
    {JTRC_SOF_COMPONENT, L"Component ?: ?hx?v q=?"},
    {JTRC_SOI, L"Start of Image"},
    {JTRC_SOS, L"Start Of Scan: ? components"},
    {JTRC_SOS_COMPONENT, L"Component ?: dc=? ac=?"},
    {JTRC_SOS_PARAMS, L"Ss=?, Se=?, Ah=?, Al=?"},
    {JTRC_TFILE_CLOSE, L"Closed temporary file ?"},
    {JTRC_TFILE_OPEN, L"Opened temporary file ?"},
    {JTRC_THUMB_JPEG, L"JFIF extension marker: JPEG-compressed thumbnail image, length ?"},
    {JTRC_THUMB_PALETTE, L"JFIF extension marker: palette thumbnail image, length ?"},
    {JTRC_THUMB_RGB, L"JFIF extension marker: RGB thumbnail image, length ?"},
    {JTRC_UNKNOWN_IDS, L"Unrecognized component IDs ? ? ?, assuming YCbCr"},
    {JTRC_XMS_CLOSE, L"Freed XMS handle ?"},
    {JTRC_XMS_OPEN, L"Obtained XMS handle ?"},
    {JWRN_ADOBE_XFORM, L"Unknown Adobe color transform code ?"},
    {JWRN_BOGUS_PROGRESSION, L"Inconsistent progression sequence for component ? coefficient ?"},
    {JWRN_EXTRANEOUS_DATA, L"Corrupt JPEG data: ? extraneous bytes before marker ?"},
    {JWRN_HIT_MARKER, L"Corrupt JPEG data: premature end of data segment"},
    {JWRN_HUFF_BAD_CODE, L"Corrupt JPEG data: bad Huffman code"},
    {JWRN_JFIF_MAJOR, L"Warning: unknown JFIF revision number ?"},
    {JWRN_JPEG_EOF, L"Premature end of JPEG file"},
    {JWRN_MUST_RESYNC, L"Corrupt JPEG data: found marker ? instead of RST?"},
    {JWRN_NOT_SEQUENTIAL, L"Invalid SOS parameters for sequential JPEG"},
    {JWRN_TOO_MUCH_DATA, L"Application transferred too many scanlines"},
};

// ---- error manager

struct TErrorManager {
    jpeg_error_mgr pub;  // first: the library sees only this part
    bool* aborting = nullptr;
    jmp_buf jump;
    int lastWarning = 0;
    // Warnings that say the coded picture was damaged or cut short: the
    // decoder made up the pixels it could not decode.
    int damage = 0;
    // A stream exception caught in a callback, raised again after the jump.
    std::exception_ptr pending;
};

void ErrorExit(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<TErrorManager*>(cinfo->err);
    if (manager->aborting)
        *manager->aborting = true;
    // The library goes on safely after this one (its callers check the row
    // counts themselves); every other error leaves the library's frames.
    if (manager->pub.msg_code == JERR_TOO_LITTLE_DATA)
        return;
    longjmp(manager->jump, 1);
}

bool IsDamageWarning(int Code)
{
    switch (Code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_JPEG_EOF:
    case JWRN_BOGUS_PROGRESSION: return true;
    default: return false;
    }
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level == -1) {
        auto* manager = reinterpret_cast<TErrorManager*>(cinfo->err);
        manager->pub.num_warnings++;
        manager->lastWarning = manager->pub.msg_code;
        if (IsDamageWarning(manager->pub.msg_code)) manager->damage++;
    }
}

void OutputMessage(j_common_ptr) {}

void FormatMessage(j_common_ptr, char* buffer)
{
    if (buffer)
        buffer[0] = 0;
}

void ResetErrorManager(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<TErrorManager*>(cinfo->err);
    manager->pub.num_warnings = 0;
    manager->pub.msg_code = 0;
    manager->lastWarning = 0;
    manager->damage = 0;
}

void InitErrorManager(TErrorManager& manager, bool* aborting)
{
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = ErrorExit;
    manager.pub.emit_message = EmitMessage;
    manager.pub.output_message = OutputMessage;
    manager.pub.format_message = FormatMessage;
    manager.pub.reset_error_mgr = ResetErrorManager;
    manager.aborting = aborting;
}

[[noreturn]] void RaiseFrom(TErrorManager& manager)
{
    if (manager.pending) {
        std::exception_ptr pending = std::exchange(manager.pending, nullptr);
        std::rethrow_exception(pending);
    }
    throw EPxJpegException(PxJpegMessageText(manager.pub.msg_code));
}

// Runs Body (calls into the library) with the error manager's jump target
// set; an error exit raises after returning here. setjmp is never inlined
// into callers, and no object with a destructor lives between this frame and
// the library's.
template <class F>
void Guarded(TErrorManager& manager, F&& Body)
{
    if (setjmp(manager.jump) == 0) {
        Body();
        return;
    }
    RaiseFrom(manager);
}

// ---- source manager

struct TSourceManager {
    jpeg_source_mgr pub;  // first
    classlib::TStream* stream = nullptr;
    bool startOfFile = true;
    bool atEnd = false;  // the data ended: the buffer holds the fake end marker
    bool* aborting = nullptr;
    TErrorManager* errors = nullptr;
    TPxJpegFillProc fill = nullptr;
    void* user = nullptr;
    JOCTET buffer[kBufferSize];
};

void InitSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<TSourceManager*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<TSourceManager*>(cinfo->src);
    if (source->fill) {
        const uint8_t* data = nullptr;
        size_t count = 0;
        if (!source->fill(source->user, data, count) || !data || count == 0) {
            source->buffer[0] = 0xFF;
            source->buffer[1] = JPEG_EOI;
            data = source->buffer;
            count = 2;
            source->atEnd = true;
        }
        source->pub.next_input_byte = data;
        source->pub.bytes_in_buffer = count;
        source->startOfFile = false;
        return TRUE;
    }
    int64_t count = 0;
    bool failed = false;
    try {
        count = source->stream ? source->stream->Read(source->buffer, kBufferSize) : 0;
    } catch (...) {
        source->errors->pending = std::current_exception();
        failed = true;
    }
    // Outside the handler: the jump must not leave a catch block.
    if (failed)
        ERREXIT(cinfo, JERR_FILE_READ);
    if (count <= 0) {
        if (source->startOfFile && source->aborting)
            *source->aborting = true;
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        count = 2;
        source->atEnd = true;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = static_cast<size_t>(count);
    source->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    auto* source = reinterpret_cast<TSourceManager*>(cinfo->src);
    size_t left = static_cast<size_t>(count);
    while (left > source->pub.bytes_in_buffer) {
        left -= source->pub.bytes_in_buffer;
        FillInputBuffer(cinfo);
        if (source->atEnd)
            return;  // a skip past the end leaves the fake end marker to be read
    }
    source->pub.next_input_byte += left;
    source->pub.bytes_in_buffer -= left;
}

void TermSource(j_decompress_ptr) {}

std::unique_ptr<TSourceManager> MakeSource(classlib::TStream* stream, bool* aborting, TErrorManager* errors)
{
    auto source = std::make_unique<TSourceManager>();
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    source->stream = stream;
    source->aborting = aborting;
    source->errors = errors;
    return source;
}

// ---- destination manager

struct TDestinationManager {
    jpeg_destination_mgr pub;  // first
    classlib::TStream* stream = nullptr;
    bool* aborting = nullptr;
    TErrorManager* errors = nullptr;
    JOCTET buffer[kBufferSize];
};

// Writes Count bytes of the buffer; a short write sets the aborting flag, a
// raising stream ends the compression with its exception.
void FlushBuffer(j_compress_ptr cinfo, size_t count)
{
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    int64_t written = 0;
    bool failed = false;
    try {
        written = destination->stream->Write(destination->buffer, static_cast<int64_t>(count));
    } catch (...) {
        destination->errors->pending = std::current_exception();
        failed = true;
    }
    if (failed)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    if (written != static_cast<int64_t>(count) && destination->aborting)
        *destination->aborting = true;
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    FlushBuffer(cinfo, kBufferSize);
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    const size_t used = kBufferSize - destination->pub.free_in_buffer;
    if (used > 0)
        FlushBuffer(cinfo, used);
    InitDestination(cinfo);
}

J_COLOR_SPACE LibraryColorSpace(TPxJpegColorSpace space, bool rows)
{
    switch (space) {
    case TPxJpegColorSpace::Gray: return JCS_GRAYSCALE;
    case TPxJpegColorSpace::RGB: return rows ? JCS_EXT_BGR : JCS_RGB;
    case TPxJpegColorSpace::YCbCr: return JCS_YCbCr;
    case TPxJpegColorSpace::CMYK: return JCS_CMYK;
    case TPxJpegColorSpace::YCCK: return JCS_YCCK;
    default: return JCS_UNKNOWN;
    }
}

TPxJpegColorSpace ToolkitColorSpace(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_GRAYSCALE: return TPxJpegColorSpace::Gray;
    case JCS_RGB: return TPxJpegColorSpace::RGB;
    case JCS_YCbCr: return TPxJpegColorSpace::YCbCr;
    case JCS_CMYK: return TPxJpegColorSpace::CMYK;
    case JCS_YCCK: return TPxJpegColorSpace::YCCK;
    default: return TPxJpegColorSpace::Unknown;
    }
}

J_DCT_METHOD LibraryDCTMethod(int method)
{
    switch (method) {
    case 1: return JDCT_IFAST;
    case 2: return JDCT_FLOAT;
    default: return JDCT_ISLOW;
    }
}

}  // namespace

std::wstring PxJpegMessageText(int Code)
{
    for (const TMessageText& entry : kMessages)
        if (entry.Code == Code)
            return entry.Text;
    return L"Corrupted";
}

int PxJpegPrematureEndCode() { return JWRN_HIT_MARKER; }

// ---- decoder

struct TPxJpegDecoder::Impl {
    TErrorManager errors;
    jpeg_decompress_struct cinfo;
    bool created = false;
    bool* aborting = nullptr;
    std::unique_ptr<TSourceManager> source;
    std::unique_ptr<TSourceManager> tables;
};

TPxJpegDecoder::TPxJpegDecoder(bool* Aborting) : impl_(std::make_unique<Impl>())
{
    Impl* d = impl_.get();
    std::memset(&d->cinfo, 0, sizeof(d->cinfo));
    d->aborting = Aborting;
    InitErrorManager(d->errors, Aborting);
    d->cinfo.err = &d->errors.pub;
    Guarded(d->errors, [d] { jpeg_CreateDecompress(&d->cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct)); });
    d->created = true;
}

TPxJpegDecoder::~TPxJpegDecoder()
{
    if (impl_->created)
        jpeg_destroy_decompress(&impl_->cinfo);
}

void TPxJpegDecoder::ReadTables(classlib::TStream* Tables)
{
    Impl* d = impl_.get();
    d->tables = MakeSource(Tables, d->aborting, &d->errors);
    d->cinfo.src = &d->tables->pub;
    Guarded(d->errors, [d] { jpeg_read_header(&d->cinfo, FALSE); });
}

void TPxJpegDecoder::SetSource(classlib::TStream* Stream)
{
    Impl* d = impl_.get();
    d->source = MakeSource(Stream, d->aborting, &d->errors);
    d->cinfo.src = &d->source->pub;
}

void TPxJpegDecoder::SetSourceFill(TPxJpegFillProc Fill, void* User)
{
    Impl* d = impl_.get();
    if (!d->source)
        SetSource(nullptr);
    d->source->fill = Fill;
    d->source->user = User;
}

void TPxJpegDecoder::SetSourceData(const uint8_t* Data, size_t Count)
{
    Impl* d = impl_.get();
    if (!d->source)
        SetSource(nullptr);
    d->source->pub.next_input_byte = Data;
    d->source->pub.bytes_in_buffer = Data ? Count : 0;
}

void TPxJpegDecoder::SaveMarkers()
{
    Impl* d = impl_.get();
    Guarded(d->errors, [d] {
        jpeg_save_markers(&d->cinfo, JPEG_COM, 0xFFFF);
        for (int m = 0; m < 16; ++m)
            jpeg_save_markers(&d->cinfo, JPEG_APP0 + m, 0xFFFF);
    });
}

void TPxJpegDecoder::ReadHeader(bool RequireImage)
{
    Impl* d = impl_.get();
    const boolean require = RequireImage ? TRUE : FALSE;
    Guarded(d->errors, [d, require] { jpeg_read_header(&d->cinfo, require); });
    const jpeg_decompress_struct& c = d->cinfo;
    header_.Width = static_cast<int32_t>(c.image_width);
    header_.Height = static_cast<int32_t>(c.image_height);
    header_.Components = c.num_components;
    header_.ColorSpace = ToolkitColorSpace(c.jpeg_color_space);
    header_.Progressive = c.progressive_mode != FALSE;
    header_.Arithmetic = c.arith_code != FALSE;
    header_.SawJFIF = c.saw_JFIF_marker != FALSE;
    header_.DensityUnit = c.density_unit;
    header_.XDensity = c.X_density;
    header_.YDensity = c.Y_density;
}

void TPxJpegDecoder::SetOutput(TPxJpegColorSpace Output)
{
    impl_->cinfo.out_color_space = LibraryColorSpace(Output, true);
}

void TPxJpegDecoder::SetScale(int Denominator)
{
    impl_->cinfo.scale_num = 1;
    impl_->cinfo.scale_denom = (Denominator == 2 || Denominator == 4 || Denominator == 8) ? Denominator : 1;
}

void TPxJpegDecoder::SetDCTMethod(int Method) { impl_->cinfo.dct_method = LibraryDCTMethod(Method); }

void TPxJpegDecoder::SetReplicatedUpsampling(bool Replicate)
{
    impl_->cinfo.do_fancy_upsampling = Replicate ? FALSE : TRUE;
}

void TPxJpegDecoder::Start()
{
    Impl* d = impl_.get();
    Guarded(d->errors, [d] { jpeg_start_decompress(&d->cinfo); });
}

int32_t TPxJpegDecoder::OutputWidth() const { return static_cast<int32_t>(impl_->cinfo.output_width); }
int32_t TPxJpegDecoder::OutputHeight() const { return static_cast<int32_t>(impl_->cinfo.output_height); }
int32_t TPxJpegDecoder::OutputComponents() const { return impl_->cinfo.output_components; }
int32_t TPxJpegDecoder::OutputScanline() const { return static_cast<int32_t>(impl_->cinfo.output_scanline); }

bool TPxJpegDecoder::ReadRow(uint8_t* Row)
{
    Impl* d = impl_.get();
    JDIMENSION got = 0;
    JSAMPROW rows[1] = {Row};
    Guarded(d->errors, [d, &got, &rows] { got = jpeg_read_scanlines(&d->cinfo, rows, 1); });
    return got == 1;
}

void TPxJpegDecoder::Finish()
{
    Impl* d = impl_.get();
    Guarded(d->errors, [d] { jpeg_finish_decompress(&d->cinfo); });
}

std::vector<TPxJpegMarker> TPxJpegDecoder::Markers() const
{
    std::vector<TPxJpegMarker> result;
    for (jpeg_saved_marker_ptr m = impl_->cinfo.marker_list; m; m = m->next)
        result.push_back({static_cast<uint8_t>(m->marker), m->data, m->data_length});
    return result;
}

int TPxJpegDecoder::WarningCount() const { return static_cast<int>(impl_->errors.pub.num_warnings); }
int TPxJpegDecoder::LastWarningCode() const { return impl_->errors.lastWarning; }
bool TPxJpegDecoder::DataDamaged() const { return impl_->errors.damage > 0; }
bool TPxJpegDecoder::DataEnded() const { return impl_->source && impl_->source->atEnd; }

// ---- encoder

struct TPxJpegEncoder::Impl {
    TErrorManager errors;
    jpeg_compress_struct cinfo;
    bool created = false;
    bool* aborting = nullptr;
    std::unique_ptr<TDestinationManager> destination;
};

TPxJpegEncoder::TPxJpegEncoder(bool* Aborting) : impl_(std::make_unique<Impl>())
{
    Impl* d = impl_.get();
    std::memset(&d->cinfo, 0, sizeof(d->cinfo));
    d->aborting = Aborting;
    InitErrorManager(d->errors, Aborting);
    d->cinfo.err = &d->errors.pub;
    Guarded(d->errors, [d] { jpeg_CreateCompress(&d->cinfo, JPEG_LIB_VERSION, sizeof(jpeg_compress_struct)); });
    d->created = true;
}

TPxJpegEncoder::~TPxJpegEncoder()
{
    if (impl_->created)
        jpeg_destroy_compress(&impl_->cinfo);
}

void TPxJpegEncoder::SetDestination(classlib::TStream* Stream)
{
    Impl* d = impl_.get();
    d->destination = std::make_unique<TDestinationManager>();
    d->destination->pub.init_destination = InitDestination;
    d->destination->pub.empty_output_buffer = EmptyOutputBuffer;
    d->destination->pub.term_destination = TermDestination;
    d->destination->stream = Stream;
    d->destination->aborting = d->aborting;
    d->destination->errors = &d->errors;
    d->cinfo.dest = &d->destination->pub;
}

void TPxJpegEncoder::Start(const TPxJpegEncodeSettings& Settings)
{
    Impl* d = impl_.get();
    const TPxJpegEncodeSettings* s = &Settings;
    Guarded(d->errors, [d, s] {
        jpeg_compress_struct& c = d->cinfo;
        c.image_width = static_cast<JDIMENSION>(s->Width);
        c.image_height = static_cast<JDIMENSION>(s->Height);
        c.input_components = s->InputCMYK ? 4 : 3;
        c.in_color_space = s->InputCMYK ? JCS_CMYK : JCS_EXT_BGR;
        jpeg_set_defaults(&c);
        jpeg_set_colorspace(&c, LibraryColorSpace(s->FileColorSpace, false));
        auto density = [](int32_t v) -> UINT16 { return static_cast<UINT16>(v < 0 ? 0 : (v > 65535 ? 65535 : v)); };
        c.density_unit = static_cast<UINT8>(s->DensityUnit);
        c.X_density = density(s->XDensity);
        c.Y_density = density(s->YDensity);
        c.dct_method = LibraryDCTMethod(s->DCTMethod);
        c.optimize_coding = s->OptimizeCoding ? TRUE : FALSE;
        c.smoothing_factor = s->Smoothing < 0 ? 0 : (s->Smoothing > 100 ? 100 : s->Smoothing);
        jpeg_set_quality(&c, s->Quality, TRUE);
        if (s->FileColorSpace == TPxJpegColorSpace::YCbCr && s->LumaH > 0 && s->LumaV > 0) {
            c.comp_info[0].h_samp_factor = s->LumaH;
            c.comp_info[0].v_samp_factor = s->LumaV;
            c.comp_info[1].h_samp_factor = 1;
            c.comp_info[1].v_samp_factor = 1;
            c.comp_info[2].h_samp_factor = 1;
            c.comp_info[2].v_samp_factor = 1;
        }
        if (s->WriteJFIF)
            c.write_JFIF_header = TRUE;
        if (s->Progressive)
            jpeg_simple_progression(&c);
        jpeg_start_compress(&c, TRUE);
    });
}

void TPxJpegEncoder::WriteMarker(uint8_t Type, const uint8_t* Data, uint32_t Length)
{
    if (Length > PxJpegMaxMarkerPayload)
        return;
    Impl* d = impl_.get();
    Guarded(d->errors, [d, Type, Data, Length] { jpeg_write_marker(&d->cinfo, Type, Data, Length); });
}

void TPxJpegEncoder::WriteRow(const uint8_t* Row)
{
    Impl* d = impl_.get();
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(Row)};
    Guarded(d->errors, [d, &rows] { jpeg_write_scanlines(&d->cinfo, rows, 1); });
}

void TPxJpegEncoder::Finish()
{
    Impl* d = impl_.get();
    Guarded(d->errors, [d] { jpeg_finish_compress(&d->cinfo); });
}

// ---- test seams

void PxJpegRaiseErrorForTest(int Code, bool* Aborting)
{
    TErrorManager manager;
    InitErrorManager(manager, Aborting);
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = &manager.pub;
    Guarded(manager, [&cinfo, Code] {
        cinfo.err->msg_code = Code;
        (*cinfo.err->error_exit)(reinterpret_cast<j_common_ptr>(&cinfo));
    });
}

void PxJpegWarnForTest(const std::vector<int>& Codes, int& Count, int& LastCode)
{
    TErrorManager manager;
    InitErrorManager(manager, nullptr);
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = &manager.pub;
    (*manager.pub.reset_error_mgr)(reinterpret_cast<j_common_ptr>(&cinfo));
    for (int code : Codes) {
        manager.pub.msg_code = code;
        (*manager.pub.emit_message)(reinterpret_cast<j_common_ptr>(&cinfo), -1);
        // Trace messages in between must not count or change the code kept.
        manager.pub.msg_code = JTRC_EOI;
        (*manager.pub.emit_message)(reinterpret_cast<j_common_ptr>(&cinfo), 1);
    }
    Count = static_cast<int>(manager.pub.num_warnings);
    LastCode = manager.lastWarning;
}

}  // namespace imaging
