// String lists: TStrings, the abstract list of strings with an associated
// object per string, and TStringList, the concrete list (optionally sorted,
// optionally owning its objects).
//
// Comparisons (IndexOf, IndexOfName, Find, Sort, Duplicates) go through
// CompareStrings: code-unit order, or, while CaseSensitive is false (the
// default), code-unit order of the upper-cased texts. Index errors raise
// EStringListError "List index out of bounds (<index>)".
//
// Text files and streams: loading detects a byte-order mark (UTF-8
// EF BB BF, UTF-16 little-endian FF FE, UTF-16 big-endian FE FF) and
// otherwise reads the ANSI code page; saving writes the ANSI code page unless
// another encoding is asked for. Lines are joined with CR LF and split at
// CR LF, LF or CR.
#pragma once

#include <string>
#include <vector>

#include "classlib/Lists.h"
#include "classlib/Stream.h"

namespace classlib {

enum TTextEncoding {
    encANSI,       // the system ANSI code page, no byte-order mark
    encUTF8,       // UTF-8 with byte-order mark
    encUTF8NoBOM,  // UTF-8 without byte-order mark
    encUTF16,      // UTF-16 little-endian with byte-order mark
};

class TStrings : public TPersistent {
public:
    TStrings() = default;
    ~TStrings() override = default;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;
    std::wstring ClassName() const override { return L"TStrings"; }

    // --- what a concrete list provides
    virtual int GetCount() const = 0;
    virtual void Clear() = 0;
    virtual void Delete(int Index) = 0;
    virtual void Insert(int Index, const std::wstring& S) = 0;

    // --- editing
    virtual int Add(const std::wstring& S);
    virtual int AddObject(const std::wstring& S, TObject* AObject);
    // Inserts S at Index, then stores AObject with it.
    virtual void InsertObject(int Index, const std::wstring& S, TObject* AObject);
    virtual void Exchange(int Index1, int Index2);
    virtual void Move(int CurIndex, int NewIndex);
    // Adds every string of Strings with its object (the object pointers are
    // shared, not copied: at most one of the lists may own them).
    virtual void AddStrings(const TStrings* Strings);
    // From another TStrings: clears, copies Delimiter, QuoteChar and
    // NameValueSeparator and adds every string with its object (see
    // AddStrings); anything else as TPersistent::Assign.
    void Assign(const TPersistent* Source) override;

    // --- searching
    virtual int IndexOf(const std::wstring& S) const;
    // Index of the first "Name=value" string whose name matches, or -1.
    virtual int IndexOfName(const std::wstring& Name) const;
    int IndexOfObject(const TObject* AObject) const;

    // --- properties
    std::wstring GetStrings(int Index) const { return Get(Index); }
    void SetStrings(int Index, const std::wstring& S) { Put(Index, S); }
    std::wstring operator[](int Index) const { return Get(Index); }
    // The object stored with a string (nullptr by default). Overridable; not
    // named GetObject because windows.h defines that name as a macro.
    virtual TObject* GetObjects(int Index) const;
    void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }

    // "Name=value" access. GetNames: the text before the first separator
    // (empty when there is none). GetValues: the text after the separator of
    // the first string named Name, empty when there is none. SetValues with
    // an empty value deletes the named string, otherwise replaces it (through
    // Put, so not on a sorted TStringList) or adds "Name=Value".
    std::wstring GetNames(int Index) const;
    std::wstring GetValues(const std::wstring& Name) const;
    void SetValues(const std::wstring& Name, const std::wstring& Value);
    std::wstring GetValueFromIndex(int Index) const;
    void SetValueFromIndex(int Index, const std::wstring& Value);

    // Every string followed by CR LF. Setting clears the list and adds one
    // string per line (a final line ending adds no empty string).
    virtual std::wstring GetText() const;
    virtual void SetText(const std::wstring& Value);

    // Strings separated by Delimiter; a string that contains a blank or
    // control character (code units 0..32), QuoteChar or Delimiter is enclosed
    // in QuoteChar (quote characters doubled); a list of one empty string is
    // two quote characters. Setting clears the list; blanks outside quotes
    // separate strings as Delimiter does, runs of blanks around a delimiter
    // count once, and a delimiter at the very end adds an empty string.
    std::wstring GetDelimitedText() const;
    void SetDelimitedText(const std::wstring& Value);
    // DelimitedText with ',' and '"'.
    std::wstring GetCommaText() const;
    void SetCommaText(const std::wstring& Value);

    wchar_t GetDelimiter() const { return delimiter_; }
    void SetDelimiter(wchar_t Value) { delimiter_ = Value; }
    wchar_t GetQuoteChar() const { return quoteChar_; }
    void SetQuoteChar(wchar_t Value) { quoteChar_ = Value; }
    wchar_t GetNameValueSeparator() const { return nameValueSeparator_; }
    void SetNameValueSeparator(wchar_t Value) { nameValueSeparator_ = Value; }

    virtual int GetCapacity() const { return GetCount(); }
    virtual void SetCapacity(int) {}

    // --- change notification. Between BeginUpdate and the matching EndUpdate
    // a list reports its changes once (see TStringList).
    void BeginUpdate();
    void EndUpdate();
    int GetUpdateCount() const { return updateCount_; }

    // --- files and streams. Loading reads from the stream's position to its
    // end and replaces the content. File errors raise EFOpenError
    // "Cannot open file "<name>". <reason>" or EFCreateError
    // "Cannot create file "<name>". <reason>"; read/write failures EReadError
    // "Stream read error" / EWriteError "Stream write error".
    virtual void LoadFromStream(TStream* Stream);
    virtual void LoadFromFile(const std::wstring& FileName);
    virtual void SaveToStream(TStream* Stream, TTextEncoding Encoding = encANSI) const;
    virtual void SaveToFile(const std::wstring& FileName, TTextEncoding Encoding = encANSI) const;

protected:
    virtual std::wstring Get(int Index) const = 0;
    // Default: Delete then InsertObject with the old object.
    virtual void Put(int Index, const std::wstring& S);
    // Default: ignored (a list without objects).
    virtual void PutObject(int Index, TObject* AObject);
    // Called with true by the outermost BeginUpdate, with false by the
    // outermost EndUpdate.
    virtual void SetUpdateState(bool Updating);
    // Ordinal comparison, upper-cased (case-insensitive) here; TStringList
    // honours CaseSensitive.
    virtual int CompareStrings(const std::wstring& S1, const std::wstring& S2) const;

    [[noreturn]] static void Error(const wchar_t* Format, int Data);

    // Decodes a whole text file's bytes (byte-order mark detection) into
    // SetText.
    void LoadFromBytes(const unsigned char* Data, size_t Size);
    std::vector<unsigned char> EncodeText(TTextEncoding Encoding) const;

private:
    std::wstring JoinDelimited(wchar_t Delim, wchar_t Quote) const;
    void SplitDelimited(const std::wstring& Value, wchar_t Delim, wchar_t Quote);

    int updateCount_ = 0;
    wchar_t delimiter_ = L',';
    wchar_t quoteChar_ = L'"';
    wchar_t nameValueSeparator_ = L'=';
};

// Keeps a TStrings inside BeginUpdate/EndUpdate for its lifetime.
class TStringsUpdate {
public:
    explicit TStringsUpdate(TStrings& Strings) : strings_(Strings) { strings_.BeginUpdate(); }
    ~TStringsUpdate() { strings_.EndUpdate(); }
    TStringsUpdate(const TStringsUpdate&) = delete;
    TStringsUpdate& operator=(const TStringsUpdate&) = delete;

private:
    TStrings& strings_;
};

class TStringList;
// Answers < 0, 0 or > 0 as the string at Index1 sorts before, with or after
// the one at Index2.
using TStringListSortCompare = int (*)(TStringList* List, int Index1, int Index2);

// The concrete string list.
//
// Sorted: the list stays in CompareStrings order; Add/AddObject insert at the
// sorted place and Duplicates decides about an equal string already present
// (dupIgnore: nothing is added and the existing index is returned; dupError:
// EStringListError "String list does not allow duplicates"; dupAccept: added).
// Duplicates has no effect on an unsorted list. Insert, Put, Exchange and Move
// on a sorted list raise EStringListError "Operation not allowed on sorted
// list".
//
// OnChanging fires before and OnChange after every change, but only while
// the update count is 0; the outermost BeginUpdate fires OnChanging and the
// outermost EndUpdate fires OnChange once.
//
// OwnsObjects: the list deletes the object of a string that is deleted or
// cleared, an object replaced through SetObjects, and all objects when it is
// destroyed.
class TStringList : public TStrings {
public:
    explicit TStringList(bool AOwnsObjects = false) : ownsObjects_(AOwnsObjects) {}
    ~TStringList() override;
    std::wstring ClassName() const override { return L"TStringList"; }

    int GetCount() const override { return static_cast<int>(items_.size()); }
    TObject* GetObjects(int Index) const override;
    void Clear() override;
    void Delete(int Index) override;
    void Insert(int Index, const std::wstring& S) override;
    void InsertObject(int Index, const std::wstring& S, TObject* AObject) override;
    int Add(const std::wstring& S) override;
    int AddObject(const std::wstring& S, TObject* AObject) override;
    void Exchange(int Index1, int Index2) override;
    void Move(int CurIndex, int NewIndex) override;
    int IndexOf(const std::wstring& S) const override;

    // Binary search of a sorted list: true when S is present. Index receives
    // the position of an equal string (with dupAccept: the first of them) or,
    // when S is absent, the place where S would be inserted.
    virtual bool Find(const std::wstring& S, int& Index) const;
    // Sorts with CompareStrings (nothing when Sorted is already true).
    virtual void Sort();
    // Quicksort (middle pivot, not stable) with Compare; objects move with
    // their strings. Nothing when Sorted is true.
    virtual void CustomSort(TStringListSortCompare Compare);

    bool GetSorted() const { return sorted_; }
    // Setting true sorts the list.
    void SetSorted(bool Value);
    TDuplicates GetDuplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
    bool GetCaseSensitive() const { return caseSensitive_; }
    // Re-sorts a sorted list when the comparison changes.
    void SetCaseSensitive(bool Value);
    bool GetOwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool Value) { ownsObjects_ = Value; }

    int GetCapacity() const override { return static_cast<int>(items_.capacity()); }
    // Raises EStringListError "List capacity out of bounds (<n>)" below Count.
    void SetCapacity(int NewCapacity) override;

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    std::wstring Get(int Index) const override;
    void Put(int Index, const std::wstring& S) override;
    void PutObject(int Index, TObject* AObject) override;
    void SetUpdateState(bool Updating) override;
    int CompareStrings(const std::wstring& S1, const std::wstring& S2) const override;

    // Stores S and AObject at Index, between Changing and Changed. Every
    // insertion (Add, Insert, sorted or not) ends here.
    virtual void InsertItem(int Index, const std::wstring& S, TObject* AObject);
    virtual void Changed();
    virtual void Changing();
    // Swaps two entries without notification.
    void ExchangeItems(int Index1, int Index2);

private:
    struct Item {
        std::wstring String;
        TObject* Object;
    };

    void CheckIndex(int Index) const;
    void QuickSort(int lo, int hi, TStringListSortCompare Compare);
    static int CompareItems(TStringList* List, int Index1, int Index2);

    std::vector<Item> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    bool ownsObjects_;
    TDuplicates duplicates_ = dupIgnore;
};

}  // namespace classlib
