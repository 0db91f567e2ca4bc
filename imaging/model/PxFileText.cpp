#include "imaging/model/PxFileText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <limits>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"

namespace imaging {

bool PxUseRuntimeFileExists = false;

// ---- files by wide names

HANDLE PxCreateFileW(const std::wstring& name, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
                     DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    return ::CreateFileW(name.c_str(), access, sharing, security, disposition, attributes, templateFile);
}

HANDLE PxFileCreateW(const std::wstring& name)
{
    return PxCreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

HANDLE PxFileOpenW(const std::wstring& name, uint32_t mode)
{
    static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD kSharing[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
    const uint32_t access = mode & 3;
    const uint32_t sharing = (mode & 0xF0) >> 4;
    if (access == 3 || sharing > 4) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return PxCreateFileW(name, kAccess[access], kSharing[sharing], nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

// ---- TPxWideFileStream

TPxWideFileStream::TPxWideFileStream(const std::wstring& fileName, uint32_t mode)
{
    const bool create = mode == pxFmCreate;
    HANDLE h = create ? PxFileCreateW(fileName) : PxFileOpenW(fileName, mode);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const std::wstring message =
            classlib::Format(create ? L"Cannot create file \"%s\". %s" : L"Cannot open file \"%s\". %s",
                             classlib::ExpandFileName(fileName), classlib::SysErrorMessage(code));
        if (create)
            throw classlib::EFCreateError(message);
        throw classlib::EFOpenError(message);
    }
    FHandle = h;
}

TPxWideFileStream::~TPxWideFileStream()
{
    if (FHandle != INVALID_HANDLE_VALUE)
        ::CloseHandle(FHandle);
}

// ---- TPxWideStrings

void TPxWideStrings::Clear()
{
    for (wchar_t* p : items_)
        delete[] p;
    items_.clear();
}

void TPxWideStrings::Add(const std::wstring& text)
{
    items_.reserve(items_.size() + 1);
    wchar_t* copy = new wchar_t[text.size() + 1];
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    items_.push_back(copy);
}

std::wstring TPxWideStrings::GetString(int index) const
{
    if (index < 0 || index >= GetCount())
        return {};
    return items_[static_cast<size_t>(index)];
}

// ---- clipboard

bool PxOpenClipboard()
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::OpenClipboard(nullptr))
            return true;
        ::Sleep(20);
    }
    return false;
}

// ---- text

namespace {

std::wstring W(const std::string& s) { return classlib::AnsiToWide(s); }
std::string A(const std::wstring& s) { return classlib::WideToAnsi(s); }

}  // namespace

std::string PxTrimA(const std::string& s) { return A(classlib::Trim(W(s))); }
std::string PxUpperCaseA(const std::string& s) { return A(classlib::WideUpperCase(W(s))); }
std::string PxLowerCaseA(const std::string& s) { return A(classlib::WideLowerCase(W(s))); }
std::string PxIntToStrA(int64_t n) { return A(classlib::IntToStr(n)); }
int PxStrToIntDefA(const std::string& s, int defaultValue) { return classlib::StrToIntDef(W(s), defaultValue); }

std::string PxCopyA(const std::string& s, int index, int count)
{
    return A(classlib::Copy(W(s), index, count));
}

int PxPosA(const std::string& sub, const std::string& s) { return static_cast<int>(classlib::Pos(W(sub), W(s))); }

std::string PxIntToHexA(int64_t n, int digits) { return A(classlib::IntToHex(n, digits)); }

std::wstring PxFloatToStrF(double value, int format, int precision, int digits)
{
    return classlib::FloatToStrF(value, static_cast<classlib::TFloatFormat>(format), precision, digits);
}

char* PxStrNew(const char* s)
{
    if (!s)
        return nullptr;
    const size_t n = std::strlen(s) + 1;
    char* copy = new char[n];
    std::memcpy(copy, s, n);
    return copy;
}

wchar_t* PxStrCopyW(wchar_t* dest, const wchar_t* source)
{
    std::memcpy(dest, source, (std::wcslen(source) + 1) * sizeof(wchar_t));
    return dest;
}

double PxStrToFloatDef(const std::wstring& s, double defaultValue)
{
    double v;
    if (classlib::TryStrToFloat(s, v))
        return v;
    std::wstring t = s;
    size_t comma = t.find(L',');
    if (comma != std::wstring::npos) {
        t[comma] = L'.';
    } else {
        size_t dot = t.find(L'.');
        if (dot != std::wstring::npos)
            t[dot] = L',';
    }
    if (classlib::TryStrToFloat(t, v))
        return v;
    return defaultValue;
}

// ---- file names and URLs

std::wstring PxExtractFileExt(const std::wstring& name, bool withDot)
{
    std::wstring ext = classlib::ExtractFileExt(classlib::WideLowerCase(name));
    if (!withDot && !ext.empty())
        ext.erase(0, 1);
    return ext;
}

std::string PxExtractFileExtA(const std::string& name, bool withDot) { return A(PxExtractFileExt(W(name), withDot)); }

std::wstring PxExtractFileExtWS(const std::wstring& name, bool withDot) { return PxExtractFileExt(name, withDot); }

std::wstring PxExtractFilePathWS(const std::wstring& name)
{
    size_t p = name.find_last_of(L"\\:");
    return p == std::wstring::npos ? std::wstring() : name.substr(0, p + 1);
}

std::wstring PxExtractFileNameWS(const std::wstring& name)
{
    size_t p = name.find_last_of(L"\\:");
    return p == std::wstring::npos ? name : name.substr(p + 1);
}

bool PxFileExists(const std::wstring& name)
{
    if (PxUseRuntimeFileExists)
        return classlib::FileExists(name);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PxFileExistsWS(const std::wstring& name) { return PxFileExists(name); }

int PxIsURL(const std::wstring& text)
{
    const std::wstring t = classlib::WideLowerCase(text);
    if (t.starts_with(L"http://"))
        return 1;
    if (t.starts_with(L"https://"))
        return 2;
    if (t.starts_with(L"ftp://"))
        return 3;
    return 0;
}

// ---- numbers, streams

void PxFloatToRational(double value, double accuracy, int32_t& numerator, int32_t& denominator)
{
    constexpr double kMax = 2147483647.0;
    if (std::isnan(value)) {
        numerator = 0;
        denominator = 1;
        return;
    }
    const int sign = value >= 0 ? 1 : -1;
    const double f = std::fabs(value);
    if (f == std::trunc(f)) {
        // Integers beyond 32 bits are clamped instead of wrapping.
        numerator = static_cast<int32_t>(sign * (f > kMax ? kMax : f));
        denominator = 1;
        return;
    }
    if (f < 1e-19) {
        numerator = sign;
        denominator = 999999999;
        return;
    }
    if (f > 1e19) {
        numerator = sign * 999999999;
        denominator = 1;
        return;
    }
    if (f + 0.5 > kMax) {
        // No fraction with a 32-bit numerator comes closer than this.
        numerator = sign * 2147483647;
        denominator = 1;
        return;
    }
    // Continued fraction; every step is checked against the 32-bit range and
    // the last step that fits is kept.
    int64_t num = static_cast<int64_t>(f + 0.5);
    int64_t d = 1;
    int64_t p = 0;
    double e = f;
    for (;;) {
        const double frac = e - std::trunc(e);
        if (frac == 0)
            break;
        e = 1 / frac;
        if (e > kMax)
            break;
        const int64_t a = static_cast<int64_t>(e);
        const int64_t next = p + a * d;
        if (next > static_cast<int64_t>(kMax))
            break;
        const double n = std::trunc(f * static_cast<double>(next) + 0.5);
        if (n > kMax)
            break;
        num = static_cast<int64_t>(n);
        p = d;
        d = next;
        if (std::fabs(f - static_cast<double>(num) / static_cast<double>(d)) < accuracy || e == std::trunc(e))
            break;
    }
    numerator = static_cast<int32_t>(sign * num);
    denominator = static_cast<int32_t>(d);
}

int64_t PxCopyStream(classlib::TStream* dest, classlib::TStream* source, int64_t count)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->GetSize();
    } else {
        const int64_t left = source->GetSize() - source->GetPosition();
        if (count > left)
            count = left;
        if (count < 0)
            count = 0;
    }
    constexpr int64_t kChunk = 0x2FFFF;
    std::vector<uint8_t> buffer(static_cast<size_t>(count < kChunk ? count : kChunk));
    int64_t done = 0;
    while (done < count) {
        const int64_t n = (count - done < kChunk) ? count - done : kChunk;
        source->ReadBuffer(buffer.data(), n);
        dest->WriteBuffer(buffer.data(), n);
        done += n;
    }
    return count;
}

void PxCopyList(const classlib::TList* source, classlib::TList* dest)
{
    const int n = source->GetCount();
    dest->SetCount(n);
    for (int i = 0; i < n; ++i)
        dest->SetItem(i, source->GetItem(i));
}

}  // namespace imaging
