#include "classlib/Lists.h"

#include <windows.h>
#include <unknwn.h>

#include <cwchar>
#include <utility>

namespace classlib {

namespace {

// Hoare partitioning around the middle item's value. The smaller side is
// sorted recursively and the larger one iteratively, which bounds the stack
// depth; the sub-ranges are disjoint, so the order in which they are sorted
// does not change the result.
void QuickSort(void** items, int lo, int hi, TListSortCompare compare)
{
    while (lo < hi) {
        int i = lo;
        int j = hi;
        void* pivot = items[lo + (hi - lo) / 2];
        do {
            while (compare(items[i], pivot) < 0) ++i;
            while (compare(items[j], pivot) > 0) --j;
            if (i <= j) {
                std::swap(items[i], items[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(items, lo, j, compare);
            lo = i;
        } else {
            if (i < hi) QuickSort(items, i, hi, compare);
            hi = j;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------- TList

TList::~TList()
{
    // Only TList::Notify is reachable here; see the header.
    items_.clear();
}

void TList::Error(const wchar_t* Format, int Data)
{
    wchar_t text[256];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), Format, Data);
    throw EListError(text);
}

void TList::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= GetCount()) Error(L"List index out of bounds (%d)", Index);
}

void TList::Notify(void*, TListNotification) {}

void TList::Grow()
{
    int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
    SetCapacity(capacity_ + delta);
}

int TList::Add(void* Item)
{
    int index = GetCount();
    if (index == capacity_) Grow();
    items_.push_back(Item);
    if (Item) Notify(Item, lnAdded);
    return index;
}

void TList::Insert(int Index, void* Item)
{
    if (Index < 0 || Index > GetCount()) Error(L"List index out of bounds (%d)", Index);
    if (GetCount() == capacity_) Grow();
    items_.insert(items_.begin() + Index, Item);
    if (Item) Notify(Item, lnAdded);
}

void TList::Delete(int Index)
{
    CheckIndex(Index);
    void* item = items_[Index];
    items_.erase(items_.begin() + Index);
    if (item) Notify(item, lnDeleted);
}

int TList::Remove(void* Item)
{
    int index = IndexOf(Item);
    if (index >= 0) Delete(index);
    return index;
}

void* TList::Extract(void* Item)
{
    int index = IndexOf(Item);
    if (index < 0) return nullptr;
    // Cleared first so that Delete does not report lnDeleted.
    items_[index] = nullptr;
    Delete(index);
    if (Item) Notify(Item, lnExtracted);
    return Item;
}

int TList::IndexOf(void* Item) const
{
    for (int i = 0; i < GetCount(); ++i)
        if (items_[i] == Item) return i;
    return -1;
}

void TList::Move(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex) return;
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    void* item = items_[CurIndex];
    items_.erase(items_.begin() + CurIndex);
    items_.insert(items_.begin() + NewIndex, item);
}

void TList::Exchange(int Index1, int Index2)
{
    CheckIndex(Index1);
    CheckIndex(Index2);
    std::swap(items_[Index1], items_[Index2]);
}

void TList::Pack()
{
    for (int i = GetCount() - 1; i >= 0; --i)
        if (!items_[i]) items_.erase(items_.begin() + i);
}

void TList::Clear()
{
    SetCount(0);
    SetCapacity(0);
}

void TList::Sort(TListSortCompare Compare)
{
    if (GetCount() > 1) QuickSort(items_.data(), 0, GetCount() - 1, Compare);
}

void* TList::First() const { return GetItem(0); }

void* TList::Last() const { return GetItem(GetCount() - 1); }

void TList::SetCount(int NewCount)
{
    if (NewCount < 0) Error(L"List count out of bounds (%d)", NewCount);
    if (NewCount > capacity_) SetCapacity(NewCount);
    if (NewCount > GetCount()) {
        items_.resize(NewCount, nullptr);
    } else {
        for (int i = GetCount() - 1; i >= NewCount; --i) Delete(i);
    }
}

void TList::SetCapacity(int NewCapacity)
{
    if (NewCapacity < GetCount()) Error(L"List capacity out of bounds (%d)", NewCapacity);
    if (NewCapacity == capacity_) return;
    if (NewCapacity < static_cast<int>(items_.capacity())) {
        items_.shrink_to_fit();
    }
    items_.reserve(NewCapacity);
    capacity_ = NewCapacity;
}

void* TList::GetItem(int Index) const
{
    CheckIndex(Index);
    return items_[Index];
}

void TList::SetItem(int Index, void* Item)
{
    CheckIndex(Index);
    void* old = items_[Index];
    if (old == Item) return;
    items_[Index] = Item;
    if (old) Notify(old, lnDeleted);
    if (Item) Notify(Item, lnAdded);
}

// ---------------------------------------------------------------- TObjectList

TObjectList::~TObjectList() { Clear(); }

void TObjectList::Notify(void* Ptr, TListNotification Action)
{
    if (ownsObjects_ && Action == lnDeleted) delete static_cast<TObject*>(Ptr);
    TList::Notify(Ptr, Action);
}

// ---------------------------------------------------------------- TThreadList

void TThreadList::Add(void* Item)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (duplicates_ == dupAccept || list_.IndexOf(Item) < 0)
        list_.Add(Item);
    else if (duplicates_ == dupError)
        throw EListError(L"List does not allow duplicates");
}

void TThreadList::Remove(void* Item)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    list_.Remove(Item);
}

void TThreadList::Clear()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    list_.Clear();
}

TList* TThreadList::LockList()
{
    lock_.lock();
    return &list_;
}

void TThreadList::UnlockList() { lock_.unlock(); }

// ---------------------------------------------------------------- TInterfaceList

TInterfaceList::~TInterfaceList() { Clear(); }

int TInterfaceList::Add(IUnknown* Item)
{
    TThreadListLock list(list_);
    int index = list->Add(Item);
    if (Item) Item->AddRef();
    return index;
}

void TInterfaceList::Insert(int Index, IUnknown* Item)
{
    TThreadListLock list(list_);
    list->Insert(Index, Item);
    if (Item) Item->AddRef();
}

void TInterfaceList::Delete(int Index)
{
    TThreadListLock list(list_);
    auto* item = static_cast<IUnknown*>(list->GetItem(Index));
    list->Delete(Index);
    if (item) item->Release();
}

int TInterfaceList::Remove(IUnknown* Item)
{
    TThreadListLock list(list_);
    int index = list->IndexOf(Item);
    if (index >= 0) Delete(index);
    return index;
}

int TInterfaceList::IndexOf(IUnknown* Item)
{
    TThreadListLock list(list_);
    return list->IndexOf(Item);
}

void TInterfaceList::Exchange(int Index1, int Index2)
{
    TThreadListLock list(list_);
    list->Exchange(Index1, Index2);
}

void TInterfaceList::Clear()
{
    TThreadListLock list(list_);
    // Items are taken out before their release so that a Release that
    // re-enters the list never sees a dangling pointer.
    while (list->GetCount() > 0) Delete(list->GetCount() - 1);
    list->Clear();
}

IUnknown* TInterfaceList::First() { return GetItem(0); }

IUnknown* TInterfaceList::Last()
{
    TThreadListLock list(list_);
    return GetItem(list->GetCount() - 1);
}

int TInterfaceList::GetCount()
{
    TThreadListLock list(list_);
    return list->GetCount();
}

void TInterfaceList::SetCount(int NewCount)
{
    TThreadListLock list(list_);
    if (NewCount < 0) TList::Error(L"List count out of bounds (%d)", NewCount);
    while (list->GetCount() > NewCount) Delete(list->GetCount() - 1);
    list->SetCount(NewCount);
}

int TInterfaceList::GetCapacity()
{
    TThreadListLock list(list_);
    return list->GetCapacity();
}

void TInterfaceList::SetCapacity(int NewCapacity)
{
    TThreadListLock list(list_);
    list->SetCapacity(NewCapacity);
}

IUnknown* TInterfaceList::GetItem(int Index)
{
    TThreadListLock list(list_);
    return static_cast<IUnknown*>(list->GetItem(Index));
}

void TInterfaceList::SetItem(int Index, IUnknown* Item)
{
    TThreadListLock list(list_);
    auto* old = static_cast<IUnknown*>(list->GetItem(Index));
    if (Item) Item->AddRef();
    list->SetItem(Index, Item);
    if (old) old->Release();
}

void TInterfaceList::Lock() { list_.LockList(); }

void TInterfaceList::Unlock() { list_.UnlockList(); }

}  // namespace classlib
