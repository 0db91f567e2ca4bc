// Small containers of the image toolkit: a growable list of fixed-size items
// with typed variants, a growable byte array with a block size, a set of
// 32-bit keys used to count distinct colours, and a stream that stores
// nothing and only counts bytes.
//
// None of them takes a lock: an object is used by one thread at a time.
// Allocation failures raise std::bad_alloc.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"

namespace imaging {

// A list of Count items of ItemSize bytes each in one block of Capacity
// items. Bit 1 of Changed is set by every change; callers clear it.
class TPxList : public classlib::TObject {
public:
    TPxList();
    ~TPxList() override;
    TPxList(const TPxList&) = delete;
    TPxList& operator=(const TPxList&) = delete;
    std::wstring ClassName() const override { return L"TPxList"; }

    // Grows the block to max(2 * Capacity, n) when it is too small (never
    // shrinks) and sets Count to n. A negative n counts as 0.
    virtual void SetCount(int32_t n);
    // Removes item i, re-allocating a block of exactly Count - 1 items;
    // an index outside 0 .. Count - 1 is ignored.
    virtual void Delete(int32_t i);
    // Frees the block: Capacity, Count and Changed become 0.
    virtual void Clear();
    // Copies Count, ItemSize, Changed and the items of source (nil: nothing).
    virtual void Assign(const TPxList* source);

    // Appends a copy of ItemSize bytes from item; returns its index.
    int32_t Add(const void* item);
    // Address of item i; callers stay within 0 .. Count - 1.
    void* GetItem(int32_t i) const { return Data.get() + static_cast<size_t>(i) * ItemSize; }

    int32_t Capacity = 0;
    int32_t Count = 0;
    int32_t ItemSize = 0;
    std::unique_ptr<uint8_t[]> Data;
    uint8_t Changed = 0;

protected:
    void ClearBase();
};

// A list of doubles with three float and two integer settings beside it.
class TPxDoubleList : public TPxList {
public:
    TPxDoubleList() { Clear(); }
    std::wstring ClassName() const override { return L"TPxDoubleList"; }
    void Clear() override;
    void Assign(const TPxList* source) override;
    int32_t Add(double v) { return TPxList::Add(&v); }
    double& operator[](int32_t i) const { return *static_cast<double*>(GetItem(i)); }

    double ExtraFloats[3] = {};
    int32_t ExtraInts[2] = {};
};

// A list of 32-bit integers with four integer settings beside it.
class TPxIntegerList : public TPxList {
public:
    TPxIntegerList() { Clear(); }
    std::wstring ClassName() const override { return L"TPxIntegerList"; }
    void Clear() override;
    void Assign(const TPxList* source) override;
    int32_t Add(int32_t v) { return TPxList::Add(&v); }
    int32_t& operator[](int32_t i) const { return *static_cast<int32_t*>(GetItem(i)); }

    int32_t ExtraInts[4] = {};
};

// A list of records of a size given at construction.
class TPxRecordList : public TPxList {
public:
    explicit TPxRecordList(int32_t recordSize);
    std::wstring ClassName() const override { return L"TPxRecordList"; }
    void Clear() override;

private:
    int32_t recordSize_;
};

// A growable byte array that re-allocates in steps of BlockSize bytes.
class TPxByteArray : public classlib::TObject {
public:
    explicit TPxByteArray(int32_t blockSize);
    std::wstring ClassName() const override { return L"TPxByteArray"; }

    // Growing beyond Capacity or shrinking below Capacity - BlockSize
    // re-allocates Capacity = n + BlockSize bytes, keeping the bytes in use.
    void SetSize(int32_t n);
    void AppendByte(uint8_t b);
    // Reads up to n bytes from stream onto the end; returns the count read.
    int32_t AppendFromStream(classlib::TStream* stream, int32_t n);

    int32_t Size = 0;
    int32_t Capacity = 0;
    int32_t BlockSize = 0;
    std::unique_ptr<uint8_t[]> Data;

private:
    void Reallocate(int32_t newCapacity, int32_t keep);
};

// One key of a slot chain of THash1.
struct THash1Item {
    uint32_t Key = 0;
    THash1Item* Next = nullptr;
    intptr_t Value = 0;
};

// A set of 32-bit keys in 2^Bits slots; a slot holds one key or a chain.
class THash1 : public classlib::TObject {
public:
    // Bits must lie in 0 .. 30 (EInvalidArgument otherwise).
    explicit THash1(int bits);
    ~THash1() override;
    THash1(const THash1&) = delete;
    THash1& operator=(const THash1&) = delete;
    std::wstring ClassName() const override { return L"THash1"; }

    int Bits = 0;
    uint32_t SlotCount = 0;
    // Per slot: 0 empty, 1 one key held in Content, 2 a chain whose first
    // item Content points to.
    std::vector<uint8_t> State;
    std::vector<uintptr_t> Content;
    std::vector<intptr_t> Value;
    // Number of distinct keys added.
    int32_t Count = 0;
};

// Adds key to the set; returns 1 when it was added, 0 when already present.
int PxHash1AddKey(THash1* hash, uint32_t key);

// A stream that stores nothing: reads and writes touch no memory and only
// advance the position; Size is the largest position reached. A seek from
// the end sets the position to Size - Offset.
class TNulStream : public classlib::TStream {
public:
    std::wstring ClassName() const override { return L"TNulStream"; }
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, classlib::TSeekOrigin Origin) override;
    int64_t GetSize() override { return Size; }

    int64_t Position = 0;
    int64_t Size = 0;

private:
    int64_t Advance(int64_t count);
};

}  // namespace imaging
