// Loads a list of image files in one process, for the mutation campaign of
// scripts/fuzz.sh: every file goes through the I/O object (parameter read and
// load, the reader chosen by the extension) and, for .gif files, through the
// GIF picture class (load, then the first frame drawn on the screen-sized
// bitmap).
//
//   fuzz_load <list file> <log file> [first index] [limit MB] [timeout ms]
//   fuzz_load --metafile-seeds <folder>   (writes the metafile seeds)
//
// The list holds one path a line (Windows or Wine Z: paths). The log receives
// one line per event, flushed at once, so that the watchdog script can pick
// up after a crash:
//   BEGIN <index> <path>
//   END <index> <milliseconds> io=<aborted 0/1> gif=<ok|failed|-> peak=<MB>
//       empty=<0/1> nonblack=<pixels, -1 when the load failed>
//   HANG <index> <milliseconds>          (then the process ends with 4)
//   OVERMEM <index> <MB>                 (then the process ends with 5)
//   CRASH <index> <code> <module>+<offset> (then the process ends with 3,
//   after a STACK line: the stack's words that point into the program)
//   DONE <count>
// A watcher thread enforces the time limit and the memory ceiling on the
// current load. Memory is the resident size of the process; the peak of a
// load is exact when it is the process's highest so far (so every load above
// the ceiling is seen), else sampled every 10 ms.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "gif/GIFImage.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"

namespace {

FILE* logFile = nullptr;
std::atomic<long> current{-1};
std::atomic<int64_t> startedMs{0};
std::atomic<int64_t> sampledPeakKb{0};
int64_t limitKb = 1024 * 1024;
int64_t timeoutMs = 10000;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Pixels of the image that are not black (red, green and blue all 0); on
// images above 4 million pixels every k-th pixel of every k-th row, so the
// count is of the sample (0 still means black as far as it looked).
int64_t CountNonBlack(imaging::TPxBitmap& Image)
{
    const int w = Image.GetWidth(), h = Image.GetHeight();
    const int64_t pixels = int64_t(w) * h;
    int step = 1;
    while (pixels / (int64_t(step) * step) > 4000000)
        ++step;
    int64_t count = 0;
    for (int y = 0; y < h; y += step)
        for (int x = 0; x < w; x += step) {
            const imaging::TPxRGB c = Image.GetPixelAsRGB(x, y);
            count += c.r != 0 || c.g != 0 || c.b != 0;
        }
    return count;
}

void LogLine(const char* Format, ...)
{
    va_list args;
    va_start(args, Format);
    std::vfprintf(logFile, Format, args);
    va_end(args);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

struct TMemory {
    int64_t ResidentKb = 0;
    int64_t PeakKb = 0;
};

// The resident size and its peak over the process's life (under Wine the
// host's figures of the process).
TMemory Memory()
{
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof(c);
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &c, sizeof(c)))
        return {};
    return {static_cast<int64_t>(c.WorkingSetSize / 1024), static_cast<int64_t>(c.PeakWorkingSetSize / 1024)};
}

void Watch()
{
    for (;;) {
        ::Sleep(10);
        const long index = current.load();
        if (index < 0)
            continue;
        const int64_t rss = Memory().ResidentKb;
        if (rss > sampledPeakKb.load())
            sampledPeakKb.store(rss);
        if (rss > limitKb) {
            LogLine("OVERMEM %ld %lld", index, static_cast<long long>(rss / 1024));
            ::TerminateProcess(::GetCurrentProcess(), 5);
        }
        const int64_t spent = NowMs() - startedMs.load();
        if (spent > timeoutMs) {
            LogLine("HANG %ld %lld", index, static_cast<long long>(spent));
            ::TerminateProcess(::GetCurrentProcess(), 4);
        }
    }
}

// The crash names the module and the offset of the faulting address.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* Info)
{
    void* at = Info->ExceptionRecord->ExceptionAddress;
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(at), &module))
        ::GetModuleFileNameA(module, name, MAX_PATH);
    const char* base = std::strrchr(name, '\\');
    LogLine("CRASH %ld 0x%08lX %s+0x%llx", current.load(),
            static_cast<unsigned long>(Info->ExceptionRecord->ExceptionCode), base ? base + 1 : name,
            static_cast<unsigned long long>(static_cast<char*>(at) - reinterpret_cast<char*>(module)));
    // Candidate return addresses into the program: the words of the stack
    // that point into its image (offsets from its base, for the map file).
    auto* self = reinterpret_cast<char*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(self + reinterpret_cast<IMAGE_DOS_HEADER*>(self)->e_lfanew);
    const auto* sp = reinterpret_cast<const uintptr_t*>(Info->ContextRecord->Rsp);
    MEMORY_BASIC_INFORMATION stack{};
    ::VirtualQuery(sp, &stack, sizeof(stack));
    const auto* stackEnd = reinterpret_cast<const uintptr_t*>(static_cast<char*>(stack.BaseAddress) + stack.RegionSize);
    std::string trail;
    for (int n = 0; sp < stackEnd && n < 4096 && trail.size() < 200; ++sp, ++n)
        if (*sp > reinterpret_cast<uintptr_t>(self) &&
            *sp < reinterpret_cast<uintptr_t>(self) + nt->OptionalHeader.SizeOfImage) {
            char word[24];
            std::snprintf(word, sizeof(word), " 0x%llx",
                          static_cast<unsigned long long>(*sp - reinterpret_cast<uintptr_t>(self)));
            trail += word;
        }
    LogLine("STACK %ld%s", current.load(), trail.c_str());
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The load through the GIF picture class; the first frame is drawn on the
// image's bitmap, which is as large as the logical screen.
const char* LoadWithGIFClass(const std::wstring& Path)
{
    try {
        classlib::TFileStream s(Path, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        gif::TGIFImage image;
        image.LoadFromStream(&s);
        if (!image.GetEmpty())
            image.GetBitmap();
        return "ok";
    } catch (...) {
        return "failed";
    }
}

bool EndsWithGif(const std::wstring& Path)
{
    if (Path.size() < 4)
        return false;
    std::wstring ext = Path.substr(Path.size() - 4);
    for (auto& c : ext)
        c = static_cast<wchar_t>(towlower(c));
    return ext == L".gif";
}

// Seeds of the metafile formats, recorded by the system: an enhanced
// metafile and a placeable Windows metafile of a few shapes, a polygon and
// text, written into Folder as shapes.emf and shapes.wmf.
void DrawShapes(HDC Dc)
{
    HBRUSH brush = ::CreateSolidBrush(RGB(40, 120, 200));
    HPEN pen = ::CreatePen(PS_SOLID, 2, RGB(200, 40, 40));
    HGDIOBJ oldBrush = ::SelectObject(Dc, brush);
    HGDIOBJ oldPen = ::SelectObject(Dc, pen);
    ::Rectangle(Dc, 2, 2, 60, 30);
    ::Ellipse(Dc, 20, 10, 90, 45);
    const POINT poly[] = {{5, 45}, {30, 35}, {50, 48}, {10, 49}};
    ::Polygon(Dc, poly, 4);
    ::TextOutW(Dc, 8, 8, L"Velmo", 5);
    ::SelectObject(Dc, oldBrush);
    ::SelectObject(Dc, oldPen);
    ::DeleteObject(brush);
    ::DeleteObject(pen);
}

bool WriteBytes(const std::wstring& Path, const std::vector<uint8_t>& Bytes)
{
    FILE* f = _wfopen(Path.c_str(), L"wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(Bytes.data(), 1, Bytes.size(), f) == Bytes.size();
    return std::fclose(f) == 0 && ok;
}

int WriteMetafileSeeds(const std::wstring& Folder)
{
    RECT frame{0, 0, 2540, 1400};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Velmo\0seed\0\0");
    DrawShapes(dc);
    HENHMETAFILE emf = ::CloseEnhMetaFile(dc);
    std::vector<uint8_t> enhanced(::GetEnhMetaFileBits(emf, 0, nullptr));
    ::GetEnhMetaFileBits(emf, static_cast<UINT>(enhanced.size()), enhanced.data());
    ::DeleteEnhMetaFile(emf);

    dc = ::CreateMetaFileW(nullptr);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    ::SetWindowExtEx(dc, 100, 50, nullptr);
    DrawShapes(dc);
    HMETAFILE wmf = ::CloseMetaFile(dc);
    std::vector<uint8_t> records(::GetMetaFileBitsEx(wmf, 0, nullptr));
    ::GetMetaFileBitsEx(wmf, static_cast<UINT>(records.size()), records.data());
    ::DeleteMetaFile(wmf);
    // The placeable header: key, handle, box (0, 0, 100, 50), 100 units an
    // inch, reserved, and the XOR of its first ten words.
    const uint16_t head[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 100, 50, 100, 0, 0};
    std::vector<uint8_t> placeable;
    uint16_t sum = 0;
    for (uint16_t w : head) {
        placeable.push_back(static_cast<uint8_t>(w));
        placeable.push_back(static_cast<uint8_t>(w >> 8));
        sum ^= w;
    }
    placeable.push_back(static_cast<uint8_t>(sum));
    placeable.push_back(static_cast<uint8_t>(sum >> 8));
    placeable.insert(placeable.end(), records.begin(), records.end());
    const bool ok = !enhanced.empty() && !records.empty() && WriteBytes(Folder + L"\\shapes.emf", enhanced) &&
                    WriteBytes(Folder + L"\\shapes.wmf", placeable);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--metafile-seeds") == 0) {
        const std::string folder(argv[2]);
        return WriteMetafileSeeds(std::wstring(folder.begin(), folder.end()));
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_load <list file> <log file> [first index] [limit MB] [timeout ms]\n");
        return 2;
    }
    const long first = argc > 3 ? std::atol(argv[3]) : 0;
    if (argc > 4)
        limitKb = std::atoll(argv[4]) * 1024;
    if (argc > 5)
        timeoutMs = std::atoll(argv[5]);
    logFile = std::fopen(argv[2], "a");
    FILE* list = std::fopen(argv[1], "r");
    if (!logFile || !list) {
        std::fprintf(stderr, "fuzz_load: cannot open the list or the log\n");
        return 2;
    }
    std::vector<std::wstring> paths;
    char line[4096];
    while (std::fgets(line, sizeof(line), list)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        if (!s.empty())
            paths.emplace_back(s.begin(), s.end());
    }
    std::fclose(list);

    ::SetUnhandledExceptionFilter(ReportCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    imaging::PxInstallBuiltInFormats();
    imaging::PxInitialize();
    std::thread(Watch).detach();

    long done = 0;
    for (long i = first; i < static_cast<long>(paths.size()); ++i) {
        const std::wstring& path = paths[i];
        LogLine("BEGIN %ld %ls", i, path.c_str());
        const int64_t peakBefore = Memory().PeakKb;
        sampledPeakKb.store(0);
        startedMs.store(NowMs());
        current.store(i);
        bool aborted = true;
        // A load that reports success must have pixels, and shows whether
        // any of them is not black.
        bool empty = false;
        int64_t nonBlack = -1;
        {
            imaging::TImgIO io(nullptr);
            try {
                io.ReadParamsFromFile(path);
                io.LoadFromFile(path);
                aborted = io.AbortFlag;
                empty = !aborted && (!io.GetCurrentBitmap() || io.GetCurrentBitmap()->IsEmpty());
                if (!aborted && !empty)
                    nonBlack = CountNonBlack(*io.GetCurrentBitmap());
            } catch (...) {
                aborted = true;
            }
        }
        const char* gifResult = EndsWithGif(path) ? LoadWithGIFClass(path) : "-";
        const int64_t spent = NowMs() - startedMs.load();
        // A new peak of the process is this load's peak; otherwise the load
        // stayed below an earlier one and the sampled figure stands.
        const TMemory after = Memory();
        const int64_t peak =
            after.PeakKb > peakBefore ? after.PeakKb : std::max(after.ResidentKb, sampledPeakKb.load());
        current.store(-1);
        LogLine("END %ld %lld io=%d gif=%s peak=%lld empty=%d nonblack=%lld", i, static_cast<long long>(spent),
                aborted ? 1 : 0, gifResult, static_cast<long long>(peak / 1024), empty ? 1 : 0,
                static_cast<long long>(nonBlack));
        ++done;
    }
    LogLine("DONE %ld", done);
    std::fclose(logFile);
    // The toolkit is not shut down: a campaign process only ends.
    ::ExitProcess(0);
}
