// Fields of the binary records the stored formats write: plain values as
// their bytes, counts checked against what is left of the stream, and
// texts behind an int32 length.
//
// Readers raise EReadError ("Stream read error") for a count that is
// negative or larger than the bytes left, before anything is allocated.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Exceptions.h"
#include "classlib/Stream.h"

namespace classlib::streamrec {

template <class T>
void Put(TStream* Stream, const T& Value)
{
    Stream->WriteBuffer(&Value, sizeof(T));
}

template <class T>
T Get(TStream* Stream)
{
    T value{};
    Stream->ReadBuffer(&value, sizeof(T));
    return value;
}

// An int32 count of UnitSize-byte items that must fit in what is left of
// Stream.
inline int32_t GetCount(TStream* Stream, int64_t UnitSize)
{
    const int32_t n = Get<int32_t>(Stream);
    const int64_t left = Stream->GetSize() - Stream->GetPosition();
    if (n < 0 || static_cast<int64_t>(n) * UnitSize > left) throw EReadError(L"Stream read error");
    return n;
}

// The byte length, then the bytes.
inline void PutString(TStream* Stream, const std::string& Text)
{
    Put<int32_t>(Stream, static_cast<int32_t>(Text.size()));
    if (!Text.empty()) Stream->WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

inline std::string GetString(TStream* Stream)
{
    const int32_t n = GetCount(Stream, 1);
    std::string text(static_cast<size_t>(n), '\0');
    if (n > 0) Stream->ReadBuffer(text.data(), n);
    return text;
}

// The count of UTF-16 units, then the units.
inline void PutWideString(TStream* Stream, const std::wstring& Text)
{
    Put<int32_t>(Stream, static_cast<int32_t>(Text.size()));
    if (!Text.empty()) Stream->WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()) * 2);
}

inline std::wstring GetWideString(TStream* Stream)
{
    const int32_t n = GetCount(Stream, 2);
    std::wstring text(static_cast<size_t>(n), L'\0');
    if (n > 0) Stream->ReadBuffer(text.data(), static_cast<int64_t>(n) * 2);
    return text;
}

}  // namespace classlib::streamrec
