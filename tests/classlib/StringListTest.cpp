#include "classlib/StringList.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace classlib;

namespace {

using Strings = std::vector<std::wstring>;
using Bytes = std::vector<unsigned char>;

Strings Contents(const TStrings& list)
{
    Strings out;
    for (int i = 0; i < list.GetCount(); ++i) out.push_back(list[i]);
    return out;
}

void Fill(TStrings& list, const Strings& items)
{
    for (const std::wstring& s : items) list.Add(s);
}

// A memory stream over a vector, for these tests only.
class VectorStream : public TStream {
public:
    VectorStream() = default;
    explicit VectorStream(Bytes bytes) : data(std::move(bytes)) {}
    Bytes data;
    int64_t pos = 0;

    int64_t Read(void* Buffer, int64_t Count) override
    {
        int64_t n = std::max<int64_t>(0, std::min<int64_t>(Count, static_cast<int64_t>(data.size()) - pos));
        if (n > 0) std::memcpy(Buffer, data.data() + pos, static_cast<size_t>(n));
        pos += n;
        return n;
    }
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        if (pos + Count > static_cast<int64_t>(data.size())) data.resize(static_cast<size_t>(pos + Count));
        std::memcpy(data.data() + pos, Buffer, static_cast<size_t>(Count));
        pos += Count;
        return Count;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        int64_t base = Origin == soBeginning ? 0 : (Origin == soCurrent ? pos : static_cast<int64_t>(data.size()));
        pos = base + Offset;
        return pos;
    }
};

class Counted : public TObject {
public:
    explicit Counted(int& live) : live_(live) { ++live_; }
    ~Counted() override { --live_; }

private:
    int& live_;
};

struct ChangeCounter {
    int changes = 0;
    int changings = 0;
    void Change(TObject*) { ++changes; }
    void Changing(TObject*) { ++changings; }
};

// The bytes decoded through the ANSI code page by the system itself.
std::wstring Ansi(const char* bytes)
{
    wchar_t out[64] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(std::strlen(bytes)), out, 64);
    return std::wstring(out, n > 0 ? n : 0);
}

template <class E, class F>
std::wstring MessageOf(F&& call)
{
    try {
        call();
    } catch (const E& e) {
        return e.Message();
    }
    return L"(no exception)";
}

}  // namespace

TEST(TStringListTest, SortedAndDuplicateModes)
{
    struct Case {
        TDuplicates mode;
        bool caseSensitive;
        Strings expected;
        bool raises;  // the second "b" (or "B") raises
    };
    // Adds: c, b, a, B, b.
    const Case cases[] = {
        {dupIgnore, false, {L"a", L"b", L"c"}, false},
        {dupAccept, false, {L"a", L"b", L"B", L"b", L"c"}, false},
        {dupError, false, {L"a", L"b", L"c"}, true},
        {dupIgnore, true, {L"B", L"a", L"b", L"c"}, false},
        {dupError, true, {L"B", L"a", L"b", L"c"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode) * 10 + c.caseSensitive);
        TStringList list;
        list.SetCaseSensitive(c.caseSensitive);
        list.SetDuplicates(c.mode);
        list.SetSorted(true);
        int raised = 0;
        for (const wchar_t* s : {L"c", L"b", L"a", L"B", L"b"}) {
            try {
                int index = list.Add(s);  // the index of s, or of the string it duplicates
                if (c.caseSensitive) {
                    EXPECT_EQ(list[index], s);
                } else {
                    EXPECT_EQ(_wcsicmp(list[index].c_str(), s), 0) << s;
                }
            } catch (const EStringListError& e) {
                EXPECT_EQ(e.Message(), L"String list does not allow duplicates");
                ++raised;
            }
        }
        EXPECT_EQ(raised > 0, c.raises);
        EXPECT_EQ(Contents(list), c.expected);
        int index = -1;
        EXPECT_TRUE(list.Find(L"B", index));
        EXPECT_FALSE(list.Find(L"bb", index));
        EXPECT_EQ(index, static_cast<int>(c.expected.size()) - 1);  // before "c"
    }
}

TEST(TStringListTest, SortedListRefusesPositionalEdits)
{
    TStringList list;
    Fill(list, {L"pear", L"apple", L"fig"});
    list.SetSorted(true);
    EXPECT_EQ(Contents(list), (Strings{L"apple", L"fig", L"pear"}));
    const wchar_t* sorted = L"Operation not allowed on sorted list";
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(0, L"kiwi"); }), sorted);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.SetStrings(0, L"kiwi"); }), sorted);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Exchange(0, 2); }), sorted);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Move(0, 2); }), sorted);
    EXPECT_EQ(list.IndexOf(L"FIG"), 1);
    EXPECT_EQ(list.IndexOf(L"kiwi"), -1);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Delete(3); }), L"List index out of bounds (3)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.GetStrings(-1); }), L"List index out of bounds (-1)");
    EXPECT_EQ(Contents(list), (Strings{L"apple", L"fig", L"pear"}));
}

TEST(TStringListTest, ObjectsFollowTheirStrings)
{
    std::vector<Counted*> objects;
    int live = 0;
    TStringList list(true);  // owns its objects
    const Strings words = {L"delta", L"alpha", L"echo", L"charlie", L"bravo", L"foxtrot", L"golf"};
    for (const std::wstring& w : words) {
        objects.push_back(new Counted(live));
        list.AddObject(w, objects.back());
    }
    auto objectOf = [&](const std::wstring& w) {
        return static_cast<TObject*>(objects[std::find(words.begin(), words.end(), w) - words.begin()]);
    };
    auto check = [&] {
        for (int i = 0; i < list.GetCount(); ++i) EXPECT_EQ(list.GetObjects(i), objectOf(list[i])) << i;
    };

    list.Exchange(0, 6);
    list.Move(1, 4);
    check();
    // Descending by length, then alphabetically.
    list.CustomSort([](TStringList* l, int a, int b) {
        int la = static_cast<int>((*l)[a].size()), lb = static_cast<int>((*l)[b].size());
        return la != lb ? lb - la : (*l)[a].compare((*l)[b]);
    });
    EXPECT_EQ(Contents(list), (Strings{L"charlie", L"foxtrot", L"alpha", L"bravo", L"delta", L"echo", L"golf"}));
    check();
    list.SetSorted(true);
    EXPECT_EQ(Contents(list), (Strings{L"alpha", L"bravo", L"charlie", L"delta", L"echo", L"foxtrot", L"golf"}));
    check();
    EXPECT_EQ(list.IndexOfObject(objectOf(L"echo")), 4);

    EXPECT_EQ(live, 7);
    list.Delete(0);
    EXPECT_EQ(live, 6);
    list.SetObjects(0, new Counted(live));  // the replaced object is freed
    EXPECT_EQ(live, 6);
    list.Clear();
    EXPECT_EQ(live, 0);
    list.AddObject(L"x", new Counted(live));
    {
        TStringList scoped(true);
        scoped.AddObject(L"y", new Counted(live));
    }
    EXPECT_EQ(live, 1);
}

TEST(TStringListTest, TextSplitsAtAnyLineEnd)
{
    struct Case {
        const wchar_t* text;
        Strings lines;
    };
    const Case cases[] = {
        {L"", {}},
        {L"one", {L"one"}},
        {L"one\r\ntwo\r\n", {L"one", L"two"}},
        {L"a\nb\rc\r\nd", {L"a", L"b", L"c", L"d"}},
        {L"a\n\rb", {L"a", L"", L"b"}},
        {L"\r\n\r\nx", {L"", L"", L"x"}},
        {L"tab\there \r\n", {L"tab\there ", }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        TStringList list;
        list.Add(L"old");
        list.SetText(c.text);
        EXPECT_EQ(Contents(list), c.lines);
        std::wstring joined;
        for (const std::wstring& s : c.lines) joined += s + L"\r\n";
        EXPECT_EQ(list.GetText(), joined);
        TStringList again;
        again.SetText(list.GetText());
        EXPECT_EQ(Contents(again), c.lines);
    }
}

TEST(TStringListTest, DelimitedAndCommaText)
{
    struct Case {
        Strings items;
        const wchar_t* comma;
    };
    const Case cases[] = {
        {{L"a", L"b"}, L"a,b"},
        {{L"with space", L"x"}, L"\"with space\",x"},
        {{L"say \"hi\"", L"1,2"}, L"\"say \"\"hi\"\"\",\"1,2\""},
        {{L"a", L"", L"b"}, L"a,,b"},
        {{L""}, L"\"\""},
        {{}, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.comma)));
        TStringList list;
        Fill(list, c.items);
        EXPECT_EQ(list.GetCommaText(), c.comma);
        TStringList back;
        back.SetCommaText(c.comma);
        EXPECT_EQ(Contents(back), c.items);
    }

    // Reading: blanks outside quotes separate too; a trailing delimiter adds
    // an empty string; other delimiters and quote characters.
    TStringList list;
    list.SetCommaText(L"  one two , \"three, four\"  ,");
    EXPECT_EQ(Contents(list), (Strings{L"one", L"two", L"three, four", L""}));
    list.SetDelimiter(L';');
    list.SetQuoteChar(L'\'');
    list.SetDelimitedText(L"x;'y;z';'it''s'");
    EXPECT_EQ(Contents(list), (Strings{L"x", L"y;z", L"it's"}));
    EXPECT_EQ(list.GetDelimitedText(), L"x;'y;z';'it''s'");
    EXPECT_EQ(list.GetCommaText(), L"x,y;z,it's");
}

TEST(TStringListTest, NamesAndValues)
{
    TStringList list;
    Fill(list, {L"Width=10", L"plain", L"Title=a=b", L"Empty="});
    EXPECT_EQ(list.GetNames(0), L"Width");
    EXPECT_EQ(list.GetNames(1), L"");
    EXPECT_EQ(list.GetValues(L"title"), L"a=b");  // names compare like strings: case ignored
    EXPECT_EQ(list.GetValueFromIndex(2), L"a=b");
    EXPECT_EQ(list.GetValueFromIndex(1), L"");
    EXPECT_EQ(list.GetValues(L"Empty"), L"");
    EXPECT_EQ(list.IndexOfName(L"Empty"), 3);
    EXPECT_EQ(list.IndexOfName(L"plain"), -1);
    list.SetValues(L"Width", L"20");
    list.SetValues(L"Height", L"5");
    list.SetValues(L"Title", L"");
    EXPECT_EQ(Contents(list), (Strings{L"Width=20", L"plain", L"Empty=", L"Height=5"}));
    list.SetValueFromIndex(2, L"full");
    EXPECT_EQ(list[2], L"Empty=full");
}

TEST(TStringListTest, ChangeEventsRespectUpdateCount)
{
    TStringList list;
    ChangeCounter counter;
    list.OnChange = TNotifyEvent(&counter, &ChangeCounter::Change);
    list.OnChanging = TNotifyEvent(&counter, &ChangeCounter::Changing);

    Fill(list, {L"a", L"b", L"c"});
    list.Delete(0);
    EXPECT_EQ(counter.changes, 4);
    EXPECT_EQ(counter.changings, 4);

    counter = {};
    list.BeginUpdate();
    list.BeginUpdate();
    Fill(list, {L"d", L"e"});
    list.SetStrings(0, L"z");
    list.EndUpdate();
    EXPECT_EQ(counter.changes, 0);
    EXPECT_EQ(counter.changings, 1);  // from the outermost BeginUpdate
    list.EndUpdate();
    EXPECT_EQ(counter.changes, 1);
    list.EndUpdate();  // unbalanced: ignored
    EXPECT_EQ(counter.changes, 1);

    counter = {};
    list.SetText(L"1\r\n2\r\n3");  // one bracketed change
    list.Clear();
    list.Clear();  // already empty: no change
    EXPECT_EQ(counter.changes, 2);
    EXPECT_EQ(counter.changings, 2);
}

namespace {

// Overrides the protected steps the way a validating subclass does.
class LoggingStringList : public TStringList {
public:
    std::vector<std::wstring> log;

protected:
    void InsertItem(int Index, const std::wstring& S, TObject* AObject) override
    {
        log.push_back(L"insert " + std::to_wstring(Index) + L" " + S);
        TStringList::InsertItem(Index, S, AObject);
    }
    void Put(int Index, const std::wstring& S) override
    {
        log.push_back(L"put " + std::to_wstring(Index) + L" " + S);
        TStringList::Put(Index, S);
    }

public:
    void Delete(int Index) override
    {
        log.push_back(L"delete " + std::to_wstring(Index));
        TStringList::Delete(Index);
    }
};

}  // namespace

TEST(TStringListTest, SubclassSeesEveryInsertPutAndDelete)
{
    LoggingStringList list;
    list.Add(L"b");
    list.Insert(0, L"a");
    list.SetStrings(1, L"c");
    list.SetValues(L"a", L"");  // no such name: nothing
    list.SetValues(L"k", L"v");
    list.SetValues(L"k", L"");
    list.SetSorted(true);
    list.Add(L"b");
    EXPECT_EQ(list.log, (Strings{L"insert 0 b", L"insert 0 a", L"put 1 c", L"insert 2 k=v", L"delete 2",
                                 L"insert 1 b"}));
}

TEST(TStringListTest, AssignCopiesStringsObjectsAndSettings)
{
    TStringList source;
    TObject tag;
    source.AddObject(L"one", &tag);
    source.Add(L"two");
    source.SetDelimiter(L'|');

    TStringList target;
    target.Add(L"old");
    ChangeCounter counter;
    target.OnChange = TNotifyEvent(&counter, &ChangeCounter::Change);
    target.Assign(&source);
    EXPECT_EQ(Contents(target), (Strings{L"one", L"two"}));
    EXPECT_EQ(target.GetObjects(0), &tag);
    EXPECT_EQ(target.GetDelimiter(), L'|');
    EXPECT_EQ(counter.changes, 1);

    target.AddStrings(&target);  // adding itself doubles once
    EXPECT_EQ(target.GetCount(), 4);

    TPersistent other;
    EXPECT_EQ(MessageOf<EConvertError>([&] { target.Assign(&other); }),
              L"Cannot assign a TPersistent to a TStringList");
}

TEST(TStringListTest, LoadDetectsByteOrderMark)
{
    // "Aé€" + line break + "z": UTF-8 / UTF-16 forms; ANSI bytes decode
    // through the ANSI code page.
    const std::wstring expected0 = L"A\u00e9\u20ac";
    struct Case {
        const char* what;
        Bytes bytes;
        Strings lines;
    };
    const Case cases[] = {
        {"utf-8 bom",
         {0xEF, 0xBB, 0xBF, 'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, '\r', '\n', 'z'},
         {expected0, L"z"}},
        {"utf-16 le bom",
         {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0xAC, 0x20, '\n', 0, 'z', 0},
         {expected0, L"z"}},
        {"utf-16 be bom, odd last byte dropped",
         {0xFE, 0xFF, 0, 'A', 0, 0xE9, 0x20, 0xAC, 0, '\r', 0, 'z', 0x00},
         {expected0, L"z"}},
        {"no bom: ansi", {'A', 0xE9, '\r', 'z'}, {Ansi("A\xE9"), L"z"}},
        {"utf-8 without bom is read as ansi", {'A', 0xC3, 0xA9}, {Ansi("A\xC3\xA9")}},
        {"empty", {}, {}},
        {"bom only", {0xEF, 0xBB, 0xBF}, {}},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Strings& lines = c.lines;
        // From a stream, starting at its position.
        Bytes prefixed = {'s', 'k', 'i', 'p'};
        prefixed.insert(prefixed.end(), c.bytes.begin(), c.bytes.end());
        VectorStream stream(prefixed);
        stream.pos = 4;
        TStringList list;
        list.Add(L"old");
        list.LoadFromStream(&stream);
        EXPECT_EQ(Contents(list), lines);
        // From a file.
        std::wstring file = dir.File(L"text.txt");
        {
            HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            DWORD put = 0;
            WriteFile(h, c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &put, nullptr);
            CloseHandle(h);
        }
        TStringList fromFile;
        fromFile.LoadFromFile(file);
        EXPECT_EQ(Contents(fromFile), lines);
    }
}

TEST(TStringListTest, SaveEncodingsRoundTrip)
{
    struct Case {
        TTextEncoding encoding;
        Bytes head;  // expected first bytes
    };
    const Case cases[] = {
        {encUTF8, {0xEF, 0xBB, 0xBF, 'A', 0xC3, 0xA9}},
        {encUTF8NoBOM, {'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x0D, 0x0A}},
        {encUTF16, {0xFF, 0xFE, 'A', 0, 0xE9, 0}},
    };
    TStringList list;
    Fill(list, {L"A\u00e9\u20ac", L"", L"z"});
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.encoding));
        VectorStream stream;
        list.SaveToStream(&stream, c.encoding);
        ASSERT_GE(stream.data.size(), c.head.size());
        EXPECT_EQ(Bytes(stream.data.begin(), stream.data.begin() + c.head.size()), c.head);
        stream.pos = 0;
        TStringList back;
        back.LoadFromStream(&stream);
        if (c.encoding != encUTF8NoBOM) {
            EXPECT_EQ(Contents(back), Contents(list));
        }

        std::wstring file = dir.File(L"saved.txt");
        list.SaveToFile(file, c.encoding);
        TStringList fromFile;
        fromFile.LoadFromFile(file);
        EXPECT_EQ(Contents(fromFile), Contents(back));
    }

    // The default is the ANSI code page without a mark.
    TStringList ansi;
    Fill(ansi, {L"plain", L"text"});
    VectorStream stream;
    ansi.SaveToStream(&stream);
    EXPECT_EQ(stream.data, (Bytes{'p', 'l', 'a', 'i', 'n', '\r', '\n', 't', 'e', 'x', 't', '\r', '\n'}));
}

TEST(TStringListTest, FileErrorsCarryNameAndReason)
{
    testsupport::TempDir dir;
    const std::wstring missing = dir.File(L"nothing.txt");
    const std::wstring badDir = dir.File(L"no-such-folder\\out.txt");
    TStringList list;
    list.Add(L"x");

    std::wstring open = MessageOf<EFOpenError>([&] { list.LoadFromFile(missing); });
    std::wstring openPrefix = L"Cannot open file \"" + missing + L"\". ";
    ASSERT_EQ(open.substr(0, openPrefix.size()), openPrefix) << testing::PrintToString(open);
    EXPECT_GT(open.size(), openPrefix.size());  // the system's reason follows
    EXPECT_NE(open.back(), L'\n');
    EXPECT_EQ(Contents(list), (Strings{L"x"}));  // unchanged after a failed load

    std::wstring create = MessageOf<EFCreateError>([&] { list.SaveToFile(badDir); });
    std::wstring createPrefix = L"Cannot create file \"" + badDir + L"\". ";
    ASSERT_EQ(create.substr(0, createPrefix.size()), createPrefix) << testing::PrintToString(create);
    EXPECT_GT(create.size(), createPrefix.size());
}
