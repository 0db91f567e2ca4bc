#include "imaging/model/PxExif.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxJpegMarkers.h"

namespace imaging {

namespace {
constexpr int64_t kSearchLimit = 131072;
}

bool PxIsEXIFHeader(const uint8_t* Buffer, int32_t Length) { return PxIsEXIFPayload(Buffer, Length); }

int64_t PxFindTIFFHeader(classlib::TStream* Stream)
{
    if (Stream == nullptr) return -1;
    const int64_t position = Stream->GetPosition();
    const int64_t size = Stream->GetSize();
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(size - position, 0, kSearchLimit)));
    int64_t got = 0;
    if (!buffer.empty()) got = Stream->Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    Stream->SetPosition(position);
    for (int64_t i = 0; i + 8 <= got; ++i) {
        const uint8_t* p = buffer.data() + i;
        bool little;
        if (p[0] == 'I' && p[1] == 'I')
            little = true;
        else if (p[0] == 'M' && p[1] == 'M')
            little = false;
        else
            continue;
        const uint16_t v = PxGetU16(p + 2, little);
        const uint32_t o = PxGetU32(p + 4, little);
        if (int64_t(o) < size && (v == 42 || v == 0x4F52 || v == 0x5352)) return i;
    }
    return -1;
}

std::wstring PxDecodeEXIFUserComment(const uint8_t* Data, size_t Length, bool Little, std::string& Code)
{
    if (Data == nullptr || Length < 9) {
        Code = PxEXIFUnicodeCode;
        return std::wstring();
    }
    Code.assign(reinterpret_cast<const char*>(Data), 8);
    const uint8_t* text = Data + 8;
    size_t n = Length - 8;
    if (Code == PxEXIFUnicodeCode) {
        // Whole code units only: a trailing ASCII character in UTF-16LE ends
        // with a zero byte that belongs to it.
        size_t units = n / 2;
        while (units > 0 && text[2 * units - 2] == 0 && text[2 * units - 1] == 0) --units;
        std::wstring result(units, L'\0');
        for (size_t i = 0; i < units; ++i) result[i] = static_cast<wchar_t>(PxGetU16(text + 2 * i, Little));
        return result;
    }
    while (n > 0 && text[n - 1] == 0) --n;
    if (n == 0) return std::wstring();
    const int chars = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(text), static_cast<int>(n), nullptr, 0);
    std::wstring result(static_cast<size_t>(std::max(chars, 0)), L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(text), static_cast<int>(n), result.data(), chars);
    return result;
}

std::vector<uint8_t> PxEncodeEXIFUserComment(const std::wstring& Text, const std::string& Code)
{
    const std::string code = Code.empty() ? PxEXIFUnicodeCode : Code;
    std::vector<uint8_t> out;
    if (Text.empty() || code.size() != 8) return out;
    out.assign(code.begin(), code.end());
    if (code == PxEXIFUnicodeCode) {
        for (wchar_t c : Text) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
        }
        out.push_back(0);
        out.push_back(0);
        return out;
    }
    const int bytes = WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()),
                            reinterpret_cast<char*>(out.data() + at), bytes, nullptr, nullptr);
    }
    out.push_back(0);
    return out;
}

}  // namespace imaging
