// Pointer lists: TList (untyped pointers), TObjectList (may own its objects),
// TThreadList (a TList behind a recursive lock) and TInterfaceList (COM
// interface pointers, reference counted, thread-safe).
//
// Indexes and counts are 32-bit signed. A bad index raises EListError
// "List index out of bounds (<index>)". None of the lists is thread-safe
// except TThreadList and TInterfaceList.
#pragma once

#include <mutex>
#include <vector>

#include "classlib/Persistent.h"

struct IUnknown;

namespace classlib {

// What to do when an item already in a list is added again.
enum TDuplicates { dupIgnore, dupAccept, dupError };

// Why TList::Notify is called: the item was added, taken out with Extract
// (ownership goes back to the caller), or removed otherwise (Delete, Remove,
// Clear, SetCount, replacement through SetItem).
enum TListNotification { lnAdded, lnExtracted, lnDeleted };

// Answers < 0, 0 or > 0 as Item1 sorts before, with or after Item2.
using TListSortCompare = int (*)(void* Item1, void* Item2);

class TList : public TObject {
public:
    TList() = default;
    // Empties the list. Notify of a derived class is not called from here
    // (C++ dispatches to TList's own during destruction): a class that acts
    // on lnDeleted must call Clear() in its own destructor.
    ~TList() override;
    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;
    std::wstring ClassName() const override { return L"TList"; }

    // Appends Item; returns its index.
    int Add(void* Item);
    void Insert(int Index, void* Item);
    // Removes the item at Index (Notify lnDeleted).
    void Delete(int Index);
    // Removes the first occurrence of Item; returns its former index or -1.
    int Remove(void* Item);
    // Removes the first occurrence of Item with Notify lnExtracted instead of
    // lnDeleted; returns Item, or nullptr when it is not in the list.
    void* Extract(void* Item);
    int IndexOf(void* Item) const;
    void Move(int CurIndex, int NewIndex);
    void Exchange(int Index1, int Index2);
    // Removes every nullptr item.
    void Pack();
    virtual void Clear();
    // Quicksort (middle pivot, not stable): items with equal keys end up in
    // the order the partitioning leaves them.
    void Sort(TListSortCompare Compare);

    void* First() const;  // EListError on an empty list
    void* Last() const;   // EListError on an empty list

    int GetCount() const { return static_cast<int>(items_.size()); }
    // Growing appends nullptr items; shrinking deletes from the end.
    void SetCount(int NewCount);
    int GetCapacity() const { return capacity_; }
    // Raises EListError "List capacity out of bounds (<n>)" below Count.
    void SetCapacity(int NewCapacity);

    void* GetItem(int Index) const;
    // Replaces the item (Notify lnDeleted for the old, lnAdded for the new).
    void SetItem(int Index, void* Item);
    void* operator[](int Index) const { return GetItem(Index); }

    // Direct access to the storage, valid until the next change of the list.
    void* const* List() const { return items_.data(); }

    [[noreturn]] static void Error(const wchar_t* Format, int Data);

protected:
    // Called after an item (never nullptr) was added, or after it left the
    // list. The default does nothing.
    virtual void Notify(void* Ptr, TListNotification Action);

private:
    void CheckIndex(int Index) const;
    void Grow();

    std::vector<void*> items_;
    int capacity_ = 0;
};

// A list of objects that, while OwnsObjects is true (the default), deletes an
// object when it is deleted from the list, the list is cleared or the list is
// destroyed. Extract hands an object back without deleting it.
class TObjectList : public TList {
public:
    explicit TObjectList(bool AOwnsObjects = true) : ownsObjects_(AOwnsObjects) {}
    ~TObjectList() override;
    std::wstring ClassName() const override { return L"TObjectList"; }

    int Add(TObject* AObject) { return TList::Add(AObject); }
    void Insert(int Index, TObject* AObject) { TList::Insert(Index, AObject); }
    int Remove(TObject* AObject) { return TList::Remove(AObject); }
    TObject* Extract(TObject* Item) { return static_cast<TObject*>(TList::Extract(Item)); }
    int IndexOf(TObject* AObject) const { return TList::IndexOf(AObject); }
    TObject* First() const { return static_cast<TObject*>(TList::First()); }
    TObject* Last() const { return static_cast<TObject*>(TList::Last()); }
    TObject* GetItem(int Index) const { return static_cast<TObject*>(TList::GetItem(Index)); }
    void SetItem(int Index, TObject* AObject) { TList::SetItem(Index, AObject); }
    TObject* operator[](int Index) const { return GetItem(Index); }

    bool GetOwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool Value) { ownsObjects_ = Value; }

protected:
    void Notify(void* Ptr, TListNotification Action) override;

private:
    bool ownsObjects_;
};

// A TList guarded by a recursive lock. Use the list returned by LockList only
// until the matching UnlockList (or hold a TThreadListLock). Duplicates
// (default dupIgnore) governs Add; dupError raises EListError
// "List does not allow duplicates".
class TThreadList : public TObject {
public:
    TThreadList() = default;
    std::wstring ClassName() const override { return L"TThreadList"; }

    void Add(void* Item);
    void Remove(void* Item);
    void Clear();
    TList* LockList();
    void UnlockList();

    TDuplicates GetDuplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }

private:
    std::recursive_mutex lock_;
    TList list_;
    TDuplicates duplicates_ = dupIgnore;
};

// Holds a TThreadList locked for its lifetime.
class TThreadListLock {
public:
    explicit TThreadListLock(TThreadList& List) : owner_(List), list_(List.LockList()) {}
    ~TThreadListLock() { owner_.UnlockList(); }
    TThreadListLock(const TThreadListLock&) = delete;
    TThreadListLock& operator=(const TThreadListLock&) = delete;
    TList* operator->() const { return list_; }
    TList& List() const { return *list_; }

private:
    TThreadList& owner_;
    TList* list_;
};

// A thread-safe list of COM interface pointers. The list holds one reference
// (AddRef) on every non-null item and releases it when the item leaves the
// list or the list is destroyed. Pointers returned by GetItem, First and Last
// are borrowed: valid while the item stays in the list (hold Lock/Unlock, or
// AddRef, when other threads change the list). Every operation takes the
// list's recursive lock.
class TInterfaceList : public TObject {
public:
    TInterfaceList() = default;
    ~TInterfaceList() override;
    std::wstring ClassName() const override { return L"TInterfaceList"; }

    int Add(IUnknown* Item);
    void Insert(int Index, IUnknown* Item);
    void Delete(int Index);
    // Removes the first occurrence; returns its former index or -1.
    int Remove(IUnknown* Item);
    int IndexOf(IUnknown* Item);
    void Exchange(int Index1, int Index2);
    void Clear();
    IUnknown* First();
    IUnknown* Last();

    int GetCount();
    void SetCount(int NewCount);
    int GetCapacity();
    void SetCapacity(int NewCapacity);
    IUnknown* GetItem(int Index);
    void SetItem(int Index, IUnknown* Item);

    // Recursive lock held across several calls.
    void Lock();
    void Unlock();

private:
    TThreadList list_;
};

}  // namespace classlib
