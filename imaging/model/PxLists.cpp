#include "imaging/model/PxLists.h"

#include <algorithm>
#include <cstring>

#include "classlib/Exceptions.h"

namespace imaging {

namespace {

std::unique_ptr<uint8_t[]> NewBlock(int64_t items, int64_t itemSize)
{
    const int64_t bytes = items * itemSize;  // both are below 2^31: no overflow in 64 bits
    if (bytes <= 0)
        return nullptr;
    return std::unique_ptr<uint8_t[]>(new uint8_t[static_cast<size_t>(bytes)]);
}

}  // namespace

// ---- TPxList ----

TPxList::TPxList() { ClearBase(); }

TPxList::~TPxList() = default;

void TPxList::ClearBase()
{
    Capacity = 0;
    Count = 0;
    Data.reset();
    Changed = 0;
}

void TPxList::Clear() { ClearBase(); }

void TPxList::SetCount(int32_t n)
{
    if (n < 0)
        n = 0;
    if (Capacity < n) {
        const int32_t newCapacity =
            static_cast<int32_t>(std::max<int64_t>(2 * static_cast<int64_t>(Capacity), n));
        auto block = NewBlock(newCapacity, ItemSize);
        const int32_t keep = std::min(Count, n);
        if (keep > 0 && Data)
            std::memcpy(block.get(), Data.get(), static_cast<size_t>(keep) * ItemSize);
        Data = std::move(block);
        Capacity = newCapacity;
    }
    Count = n;
    Changed |= 1;
}

int32_t TPxList::Add(const void* item)
{
    const int32_t index = Count;
    SetCount(Count + 1);
    if (ItemSize > 0)
        std::memcpy(GetItem(index), item, static_cast<size_t>(ItemSize));
    return index;
}

void TPxList::Delete(int32_t i)
{
    if (i < 0 || i >= Count)
        return;
    const int32_t newCount = Count - 1;
    auto block = NewBlock(newCount, ItemSize);
    const size_t item = static_cast<size_t>(ItemSize);
    if (block) {
        std::memcpy(block.get(), Data.get(), static_cast<size_t>(i) * item);
        std::memcpy(block.get() + static_cast<size_t>(i) * item, Data.get() + static_cast<size_t>(i + 1) * item,
                    static_cast<size_t>(newCount - i) * item);
    }
    Data = std::move(block);
    Capacity = newCount;
    Count = newCount;
    Changed |= 1;
}

void TPxList::Assign(const TPxList* source)
{
    if (!source || source == this)
        return;
    auto block = NewBlock(source->Count, source->ItemSize);
    if (block)
        std::memcpy(block.get(), source->Data.get(), static_cast<size_t>(source->Count) * source->ItemSize);
    Data = std::move(block);
    Count = source->Count;
    ItemSize = source->ItemSize;
    Changed = source->Changed;
    Capacity = source->Count;
}

// ---- typed lists ----

void TPxDoubleList::Clear()
{
    ClearBase();
    ItemSize = sizeof(double);
    std::fill(std::begin(ExtraFloats), std::end(ExtraFloats), 0.0);
    std::fill(std::begin(ExtraInts), std::end(ExtraInts), 0);
}

void TPxDoubleList::Assign(const TPxList* source)
{
    TPxList::Assign(source);
    if (auto* s = dynamic_cast<const TPxDoubleList*>(source)) {
        std::copy(std::begin(s->ExtraFloats), std::end(s->ExtraFloats), ExtraFloats);
        std::copy(std::begin(s->ExtraInts), std::end(s->ExtraInts), ExtraInts);
    }
}

void TPxIntegerList::Clear()
{
    ClearBase();
    ItemSize = sizeof(int32_t);
    std::fill(std::begin(ExtraInts), std::end(ExtraInts), 0);
}

void TPxIntegerList::Assign(const TPxList* source)
{
    TPxList::Assign(source);
    if (auto* s = dynamic_cast<const TPxIntegerList*>(source))
        std::copy(std::begin(s->ExtraInts), std::end(s->ExtraInts), ExtraInts);
}

TPxRecordList::TPxRecordList(int32_t recordSize) : recordSize_(recordSize < 0 ? 0 : recordSize) { Clear(); }

void TPxRecordList::Clear()
{
    ClearBase();
    ItemSize = recordSize_;
}

// ---- TPxByteArray ----

TPxByteArray::TPxByteArray(int32_t blockSize)
{
    BlockSize = blockSize < 0 ? 0 : blockSize;
    Capacity = BlockSize;
    Data = NewBlock(Capacity, 1);
}

void TPxByteArray::Reallocate(int32_t newCapacity, int32_t keep)
{
    auto block = NewBlock(newCapacity, 1);
    if (keep > 0)
        std::memcpy(block.get(), Data.get(), static_cast<size_t>(keep));
    Data = std::move(block);
    Capacity = newCapacity;
}

void TPxByteArray::SetSize(int32_t n)
{
    if (n < 0)
        n = 0;
    if (static_cast<int64_t>(n) + BlockSize > INT32_MAX)
        throw std::bad_alloc();
    if (n > Size) {
        if (n > Capacity)
            Reallocate(n + BlockSize, Size);
    } else if (n < Capacity - BlockSize) {
        Reallocate(n + BlockSize, n);
    }
    Size = n;
}

void TPxByteArray::AppendByte(uint8_t b)
{
    SetSize(Size + 1);
    Data[Size - 1] = b;
}

int32_t TPxByteArray::AppendFromStream(classlib::TStream* stream, int32_t n)
{
    if (n <= 0)
        return 0;
    const int32_t old = Size;
    SetSize(Size + n);
    const int64_t got = stream->Read(Data.get() + old, n);
    const int32_t read = got < 0 ? 0 : static_cast<int32_t>(got);
    SetSize(old + read);
    return read;
}

// ---- THash1 ----

THash1::THash1(int bits)
{
    if (bits < 0 || bits > 30)
        throw classlib::EInvalidArgument(L"Invalid hash size");
    Bits = bits;
    SlotCount = 1u << bits;
    State.assign(SlotCount, 0);
    Content.assign(SlotCount, 0);
    Value.assign(SlotCount, 0);
}

THash1::~THash1()
{
    for (uint32_t i = 0; i < SlotCount; ++i) {
        if (State[i] != 2)
            continue;
        auto* item = reinterpret_cast<THash1Item*>(Content[i]);
        while (item) {
            THash1Item* next = item->Next;
            delete item;
            item = next;
        }
    }
}

int PxHash1AddKey(THash1* hash, uint32_t key)
{
    const uint32_t slot = key & (hash->SlotCount - 1);
    switch (hash->State[slot]) {
    case 0:
        hash->State[slot] = 1;
        hash->Content[slot] = key;
        break;
    case 1: {
        const uint32_t held = static_cast<uint32_t>(hash->Content[slot]);
        if (held == key)
            return 0;
        auto second = std::make_unique<THash1Item>();
        second->Key = key;
        auto first = std::make_unique<THash1Item>();
        first->Key = held;
        first->Value = hash->Value[slot];
        first->Next = second.release();
        hash->Content[slot] = reinterpret_cast<uintptr_t>(first.release());
        hash->State[slot] = 2;
        break;
    }
    default: {
        auto* item = reinterpret_cast<THash1Item*>(hash->Content[slot]);
        for (;;) {
            if (item->Key == key)
                return 0;
            if (!item->Next)
                break;
            item = item->Next;
        }
        auto added = std::make_unique<THash1Item>();
        added->Key = key;
        item->Next = added.release();
        break;
    }
    }
    ++hash->Count;
    return 1;
}

// ---- TNulStream ----

int64_t TNulStream::Advance(int64_t count)
{
    if (count <= 0)
        return 0;
    Position += count;
    Size = std::max(Size, Position);
    return count;
}

int64_t TNulStream::Read(void*, int64_t Count) { return Advance(Count); }

int64_t TNulStream::Write(const void*, int64_t Count) { return Advance(Count); }

int64_t TNulStream::Seek(int64_t Offset, classlib::TSeekOrigin Origin)
{
    switch (Origin) {
    case classlib::soBeginning:
        Position = Offset;
        Size = std::max(Size, Position);
        break;
    case classlib::soCurrent:
        Position += Offset;
        Size = std::max(Size, Position);
        break;
    case classlib::soEnd:
        Position = Size - Offset;
        break;
    }
    return Position;
}

}  // namespace imaging
