#include "classlib/StringList.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <utility>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"

namespace classlib {

namespace {

// A text larger than this cannot be held by a list indexed with 32-bit ints.
constexpr int64_t kMaxTextBytes = INT32_MAX;

int CompareOrdinal(const std::wstring& s1, const std::wstring& s2, bool ignoreCase)
{
    if (!ignoreCase) {
        int c = s1.compare(s2);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    int r = ::CompareStringOrdinal(s1.data(), static_cast<int>(s1.size()), s2.data(),
                                   static_cast<int>(s2.size()), TRUE);
    return r - CSTR_EQUAL;
}

// The system's text for an error code, without the trailing line break and
// period, so that it can end a sentence of ours.
std::wstring SystemMessage(DWORD code)
{
    std::wstring msg = SysErrorMessage(code);
    while (!msg.empty() && (msg.back() <= L' ' || msg.back() == L'.')) msg.pop_back();
    if (msg.empty()) msg = L"System error " + std::to_wstring(code);
    return msg;
}

// Owns a file handle from CreateFileW.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle()
    {
        if (Valid()) ::CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

// ---------------------------------------------------------------- TStrings

void TStrings::Error(const wchar_t* Format, int Data)
{
    wchar_t text[256];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), Format, Data);
    throw EStringListError(text);
}

int TStrings::Add(const std::wstring& S)
{
    int index = GetCount();
    Insert(index, S);
    return index;
}

int TStrings::AddObject(const std::wstring& S, TObject* AObject)
{
    int index = Add(S);
    PutObject(index, AObject);
    return index;
}

void TStrings::InsertObject(int Index, const std::wstring& S, TObject* AObject)
{
    Insert(Index, S);
    PutObject(Index, AObject);
}

void TStrings::Exchange(int Index1, int Index2)
{
    TStringsUpdate update(*this);
    std::wstring s1 = Get(Index1);
    TObject* o1 = GetObjects(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObjects(Index2));
    Put(Index2, s1);
    PutObject(Index2, o1);
}

void TStrings::Move(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex) return;
    TStringsUpdate update(*this);
    std::wstring s = Get(CurIndex);
    TObject* o = GetObjects(CurIndex);
    PutObject(CurIndex, nullptr);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
}

void TStrings::AddStrings(const TStrings* Strings)
{
    TStringsUpdate update(*this);
    int count = Strings->GetCount();  // fixed first: Strings may be this list
    for (int i = 0; i < count; ++i) AddObject(Strings->Get(i), Strings->GetObjects(i));
}

void TStrings::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TStrings*>(Source)) {
        if (source == this) return;
        TStringsUpdate update(*this);
        Clear();
        delimiter_ = source->delimiter_;
        quoteChar_ = source->quoteChar_;
        nameValueSeparator_ = source->nameValueSeparator_;
        AddStrings(source);
        return;
    }
    TPersistent::Assign(Source);
}

int TStrings::IndexOf(const std::wstring& S) const
{
    for (int i = 0, n = GetCount(); i < n; ++i)
        if (CompareStrings(Get(i), S) == 0) return i;
    return -1;
}

int TStrings::IndexOfName(const std::wstring& Name) const
{
    for (int i = 0, n = GetCount(); i < n; ++i) {
        std::wstring s = Get(i);
        size_t p = s.find(nameValueSeparator_);
        if (p != std::wstring::npos && CompareStrings(s.substr(0, p), Name) == 0) return i;
    }
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const
{
    for (int i = 0, n = GetCount(); i < n; ++i)
        if (GetObjects(i) == AObject) return i;
    return -1;
}

std::wstring TStrings::GetNames(int Index) const
{
    std::wstring s = Get(Index);
    size_t p = s.find(nameValueSeparator_);
    return p == std::wstring::npos ? std::wstring() : s.substr(0, p);
}

std::wstring TStrings::GetValues(const std::wstring& Name) const
{
    int i = IndexOfName(Name);
    return i >= 0 ? GetValueFromIndex(i) : std::wstring();
}

void TStrings::SetValues(const std::wstring& Name, const std::wstring& Value)
{
    int i = IndexOfName(Name);
    if (!Value.empty()) {
        std::wstring line = Name + nameValueSeparator_ + Value;
        if (i < 0)
            Add(line);
        else
            Put(i, line);
    } else if (i >= 0) {
        Delete(i);
    }
}

std::wstring TStrings::GetValueFromIndex(int Index) const
{
    std::wstring s = Get(Index);
    size_t p = s.find(nameValueSeparator_);
    return p == std::wstring::npos ? std::wstring() : s.substr(p + 1);
}

void TStrings::SetValueFromIndex(int Index, const std::wstring& Value)
{
    if (!Value.empty())
        Put(Index, GetNames(Index) + nameValueSeparator_ + Value);
    else
        Delete(Index);
}

std::wstring TStrings::GetText() const
{
    int n = GetCount();
    std::wstring text;
    for (int i = 0; i < n; ++i) {
        text += Get(i);
        text += L"\r\n";
    }
    return text;
}

void TStrings::SetText(const std::wstring& Value)
{
    TStringsUpdate update(*this);
    Clear();
    size_t n = Value.size();
    size_t p = 0;
    while (p < n) {
        size_t start = p;
        while (p < n && Value[p] != L'\r' && Value[p] != L'\n') ++p;
        Add(Value.substr(start, p - start));
        if (p < n && Value[p] == L'\r') ++p;
        if (p < n && Value[p] == L'\n') ++p;
    }
}

std::wstring TStrings::GetDelimitedText() const { return JoinDelimited(delimiter_, quoteChar_); }

void TStrings::SetDelimitedText(const std::wstring& Value) { SplitDelimited(Value, delimiter_, quoteChar_); }

std::wstring TStrings::JoinDelimited(wchar_t Delim, wchar_t Quote) const
{
    int n = GetCount();
    if (n == 1 && Get(0).empty()) return std::wstring(2, Quote);
    std::wstring result;
    for (int i = 0; i < n; ++i) {
        std::wstring s = Get(i);
        bool quote = false;
        for (wchar_t c : s) {
            if (c <= L' ' || c == Quote || c == Delim) {
                quote = true;
                break;
            }
        }
        if (quote) {
            std::wstring q(1, Quote);
            for (wchar_t c : s) {
                q += c;
                if (c == Quote) q += c;
            }
            q += Quote;
            s = std::move(q);
        }
        if (i > 0) result += Delim;
        result += s;
    }
    return result;
}

void TStrings::SplitDelimited(const std::wstring& Value, wchar_t Delim, wchar_t Quote)
{
    TStringsUpdate update(*this);
    Clear();
    const wchar_t delim = Delim;
    const wchar_t quote = Quote;
    // A blank separates like the delimiter, unless it is the delimiter.
    auto blank = [delim](wchar_t c) { return c <= L' ' && c != delim; };
    size_t n = Value.size();
    size_t p = 0;
    while (p < n && blank(Value[p])) ++p;
    // At the top of the loop Value[p] is the delimiter or above ' ', so every
    // round consumes input.
    while (p < n) {
        std::wstring s;
        if (Value[p] == quote) {
            ++p;
            while (p < n) {
                if (Value[p] == quote) {
                    if (p + 1 < n && Value[p + 1] == quote) {
                        s += quote;
                        p += 2;
                    } else {
                        ++p;
                        break;
                    }
                } else {
                    s += Value[p++];
                }
            }
        } else {
            size_t start = p;
            while (p < n && Value[p] > L' ' && Value[p] != delim) ++p;
            s = Value.substr(start, p - start);
        }
        Add(s);
        while (p < n && blank(Value[p])) ++p;
        if (p < n && Value[p] == delim) {
            if (p + 1 == n) Add(std::wstring());
            do {
                ++p;
            } while (p < n && blank(Value[p]));
        }
    }
}

std::wstring TStrings::GetCommaText() const { return JoinDelimited(L',', L'"'); }

void TStrings::SetCommaText(const std::wstring& Value) { SplitDelimited(Value, L',', L'"'); }

void TStrings::BeginUpdate()
{
    if (updateCount_ == 0) SetUpdateState(true);
    ++updateCount_;
}

void TStrings::EndUpdate()
{
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) SetUpdateState(false);
}

TObject* TStrings::GetObjects(int) const { return nullptr; }

void TStrings::Put(int Index, const std::wstring& S)
{
    TObject* o = GetObjects(Index);
    Delete(Index);
    InsertObject(Index, S, o);
}

void TStrings::PutObject(int, TObject*) {}

void TStrings::SetUpdateState(bool) {}

int TStrings::CompareStrings(const std::wstring& S1, const std::wstring& S2) const
{
    return CompareOrdinal(S1, S2, true);
}

void TStrings::LoadFromBytes(const unsigned char* Data, size_t Size)
{
    std::wstring text;
    if (Size >= 3 && Data[0] == 0xEF && Data[1] == 0xBB && Data[2] == 0xBF) {
        text = Utf8ToWide(reinterpret_cast<const char*>(Data) + 3, Size - 3);
    } else if (Size >= 2 && ((Data[0] == 0xFF && Data[1] == 0xFE) || (Data[0] == 0xFE && Data[1] == 0xFF))) {
        // UTF-16; an odd last byte is no character and is dropped.
        const bool big = Data[0] == 0xFE;
        size_t units = (Size - 2) / 2;
        text.resize(units);
        for (size_t i = 0; i < units; ++i) {
            unsigned b0 = Data[2 + 2 * i], b1 = Data[3 + 2 * i];
            text[i] = static_cast<wchar_t>(big ? (b0 << 8 | b1) : (b1 << 8 | b0));
        }
    } else {
        text = AnsiToWide(reinterpret_cast<const char*>(Data), Size);
    }
    TStringsUpdate update(*this);
    SetText(text);
}

std::vector<unsigned char> TStrings::EncodeText(TTextEncoding Encoding) const
{
    std::wstring text = GetText();
    std::vector<unsigned char> out;
    auto append = [&out](const std::string& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); };
    switch (Encoding) {
    case encUTF8:
        out = {0xEF, 0xBB, 0xBF};
        append(WideToUtf8(text));
        break;
    case encUTF8NoBOM:
        append(WideToUtf8(text));
        break;
    case encUTF16:
        out.reserve(2 + 2 * text.size());
        out = {0xFF, 0xFE};
        for (wchar_t c : text) {
            out.push_back(static_cast<unsigned char>(c & 0xFF));
            out.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
        }
        break;
    case encANSI:
    default:
        append(WideToAnsi(text));
        break;
    }
    return out;
}

void TStrings::LoadFromStream(TStream* Stream)
{
    int64_t size = Stream->GetSize() - Stream->GetPosition();
    if (size < 0) size = 0;
    if (size > kMaxTextBytes) throw EOutOfMemory(L"Out of memory");
    std::vector<unsigned char> data(static_cast<size_t>(size));
    Stream->ReadBuffer(data.data(), size);
    LoadFromBytes(data.data(), data.size());
}

void TStrings::SaveToStream(TStream* Stream, TTextEncoding Encoding) const
{
    std::vector<unsigned char> data = EncodeText(Encoding);
    Stream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

void TStrings::LoadFromFile(const std::wstring& FileName)
{
    std::vector<unsigned char> data;
    {
        FileHandle file(::CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid())
            throw EFOpenError(L"Cannot open file \"" + FileName + L"\". " + SystemMessage(::GetLastError()));
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(file.Get(), &size)) throw EReadError(L"Stream read error");
        if (size.QuadPart > kMaxTextBytes) throw EOutOfMemory(L"Out of memory");
        data.resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (done < data.size()) {
            DWORD got = 0;
            if (!::ReadFile(file.Get(), data.data() + done, static_cast<DWORD>(data.size() - done), &got,
                            nullptr) ||
                got == 0)
                throw EReadError(L"Stream read error");
            done += got;
        }
    }
    LoadFromBytes(data.data(), data.size());
}

void TStrings::SaveToFile(const std::wstring& FileName, TTextEncoding Encoding) const
{
    std::vector<unsigned char> data = EncodeText(Encoding);
    FileHandle file(::CreateFileW(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        throw EFCreateError(L"Cannot create file \"" + FileName + L"\". " + SystemMessage(::GetLastError()));
    size_t done = 0;
    while (done < data.size()) {
        DWORD put = 0;
        if (!::WriteFile(file.Get(), data.data() + done, static_cast<DWORD>(data.size() - done), &put, nullptr) ||
            put == 0)
            throw EWriteError(L"Stream write error");
        done += put;
    }
}

// ---------------------------------------------------------------- TStringList

TStringList::~TStringList()
{
    OnChange = nullptr;
    OnChanging = nullptr;
    if (ownsObjects_) {
        std::vector<Item> items;
        items.swap(items_);
        for (Item& item : items) delete item.Object;
    }
}

void TStringList::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= GetCount()) Error(L"List index out of bounds (%d)", Index);
}

void TStringList::Changed()
{
    if (GetUpdateCount() == 0) OnChange(this);
}

void TStringList::Changing()
{
    if (GetUpdateCount() == 0) OnChanging(this);
}

void TStringList::SetUpdateState(bool Updating)
{
    if (Updating)
        Changing();
    else
        Changed();
}

void TStringList::Clear()
{
    if (items_.empty()) return;
    Changing();
    // Emptied before the objects are deleted, so that an object's destructor
    // never sees itself in the list.
    std::vector<Item> items;
    items.swap(items_);
    if (ownsObjects_)
        for (Item& item : items) delete item.Object;
    Changed();
}

void TStringList::Delete(int Index)
{
    CheckIndex(Index);
    Changing();
    TObject* object = items_[Index].Object;
    items_.erase(items_.begin() + Index);
    if (ownsObjects_) delete object;
    Changed();
}

int TStringList::Add(const std::wstring& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const std::wstring& S, TObject* AObject)
{
    int index = GetCount();
    if (sorted_ && Find(S, index)) {
        if (duplicates_ == dupIgnore) return index;
        if (duplicates_ == dupError) throw EStringListError(L"String list does not allow duplicates");
    }
    InsertItem(index, S, AObject);
    return index;
}

void TStringList::Insert(int Index, const std::wstring& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const std::wstring& S, TObject* AObject)
{
    if (sorted_) throw EStringListError(L"Operation not allowed on sorted list");
    if (Index < 0 || Index > GetCount()) Error(L"List index out of bounds (%d)", Index);
    InsertItem(Index, S, AObject);
}

void TStringList::InsertItem(int Index, const std::wstring& S, TObject* AObject)
{
    Changing();
    items_.insert(items_.begin() + Index, Item{S, AObject});
    Changed();
}

void TStringList::Exchange(int Index1, int Index2)
{
    CheckIndex(Index1);
    CheckIndex(Index2);
    if (sorted_) throw EStringListError(L"Operation not allowed on sorted list");
    Changing();
    ExchangeItems(Index1, Index2);
    Changed();
}

void TStringList::Move(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex) return;
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    if (sorted_) throw EStringListError(L"Operation not allowed on sorted list");
    Changing();
    Item item = std::move(items_[CurIndex]);
    items_.erase(items_.begin() + CurIndex);
    items_.insert(items_.begin() + NewIndex, std::move(item));
    Changed();
}

void TStringList::ExchangeItems(int Index1, int Index2) { std::swap(items_[Index1], items_[Index2]); }

int TStringList::IndexOf(const std::wstring& S) const
{
    if (!sorted_) return TStrings::IndexOf(S);
    int index;
    return Find(S, index) ? index : -1;
}

bool TStringList::Find(const std::wstring& S, int& Index) const
{
    bool found = false;
    int lo = 0;
    int hi = GetCount() - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareStrings(items_[mid].String, S);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != dupAccept) lo = mid;
            }
        }
    }
    Index = lo;
    return found;
}

int TStringList::CompareItems(TStringList* List, int Index1, int Index2)
{
    return List->CompareStrings(List->items_[Index1].String, List->items_[Index2].String);
}

void TStringList::Sort() { CustomSort(&TStringList::CompareItems); }

void TStringList::CustomSort(TStringListSortCompare Compare)
{
    if (sorted_ || GetCount() < 2) return;
    Changing();
    QuickSort(0, GetCount() - 1, Compare);
    Changed();
}

// Hoare partitioning around the middle entry, whose index is followed while
// it moves. The smaller side is sorted recursively, the larger one in the
// loop (bounded stack; the sides are disjoint, so the result is the same).
void TStringList::QuickSort(int lo, int hi, TStringListSortCompare Compare)
{
    while (lo < hi) {
        int i = lo;
        int j = hi;
        int pivot = lo + (hi - lo) / 2;
        do {
            while (Compare(this, i, pivot) < 0) ++i;
            while (Compare(this, j, pivot) > 0) --j;
            if (i <= j) {
                if (i != j) ExchangeItems(i, j);
                if (pivot == i)
                    pivot = j;
                else if (pivot == j)
                    pivot = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(lo, j, Compare);
            lo = i;
        } else {
            if (i < hi) QuickSort(i, hi, Compare);
            hi = j;
        }
    }
}

void TStringList::SetSorted(bool Value)
{
    if (Value == sorted_) return;
    if (Value) Sort();
    sorted_ = Value;
}

void TStringList::SetCaseSensitive(bool Value)
{
    if (Value == caseSensitive_) return;
    caseSensitive_ = Value;
    if (sorted_) {
        sorted_ = false;
        Sort();
        sorted_ = true;
    }
}

void TStringList::SetCapacity(int NewCapacity)
{
    if (NewCapacity < GetCount()) Error(L"List capacity out of bounds (%d)", NewCapacity);
    items_.reserve(static_cast<size_t>(NewCapacity));
}

std::wstring TStringList::Get(int Index) const
{
    CheckIndex(Index);
    return items_[Index].String;
}

TObject* TStringList::GetObjects(int Index) const
{
    CheckIndex(Index);
    return items_[Index].Object;
}

void TStringList::Put(int Index, const std::wstring& S)
{
    if (sorted_) throw EStringListError(L"Operation not allowed on sorted list");
    CheckIndex(Index);
    Changing();
    items_[Index].String = S;
    Changed();
}

void TStringList::PutObject(int Index, TObject* AObject)
{
    CheckIndex(Index);
    Changing();
    TObject* old = items_[Index].Object;
    items_[Index].Object = AObject;
    if (ownsObjects_ && old != AObject) delete old;
    Changed();
}

int TStringList::CompareStrings(const std::wstring& S1, const std::wstring& S2) const
{
    return CompareOrdinal(S1, S2, !caseSensitive_);
}

}  // namespace classlib
