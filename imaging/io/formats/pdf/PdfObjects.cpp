#include "imaging/io/formats/pdf/PdfObjects.h"

#include <algorithm>
#include <cstring>

#include "imaging/model/PxStreamUtils.h"

namespace imaging {

void PxPDFWriteText(classlib::TStream* Stream, const std::string& Text)
{
    Stream->WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

void PxPDFWriteLine(classlib::TStream* Stream, const std::string& Text)
{
    PxPDFWriteText(Stream, Text);
    Stream->WriteBuffer("\n", 1);
}

std::string PxPadLeft(int64_t Number, int Width)
{
    std::string s = std::to_string(Number);
    if (static_cast<int>(s.size()) < Width)
        s.insert(0, static_cast<size_t>(Width) - s.size(), '0');
    return s;
}

namespace {

std::string NameText(const std::string& Name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string s = "/";
    for (const char c : Name) {
        const auto b = static_cast<uint8_t>(c);
        if (b >= 33 && b <= 126) {
            s += c;
        } else {
            s += '#';
            s += kHex[b >> 4];
            s += kHex[b & 15];
        }
    }
    return s;
}

}  // namespace

void TPxPDFRefObject::WriteTo(classlib::TStream* Stream)
{
    PxPDFWriteText(Stream, std::to_string(ObjectNumber) + " " + std::to_string(Generation) + " R");
}

void TPxPDFNumericObject::WriteTo(classlib::TStream* Stream) { PxPDFWriteText(Stream, PxFloatToStrDotA(Value)); }

void TPxPDFBooleanObject::WriteTo(classlib::TStream* Stream) { PxPDFWriteText(Stream, Value ? "true" : "false"); }

void TPxPDFStringObject::WriteTo(classlib::TStream* Stream)
{
    std::string s = "(";
    for (const char c : Value) {
        switch (c) {
        case '\b': s += "\\b"; break;
        case '\t': s += "\\t"; break;
        case '\n': s += "\\n"; break;
        case '\f': s += "\\f"; break;
        case '\r': s += "\\r"; break;
        case '(': s += "\\("; break;
        case ')': s += "\\)"; break;
        case '\\': s += "\\\\"; break;
        default: s += c; break;
        }
    }
    s += ')';
    PxPDFWriteText(Stream, s);
}

void TPxPDFNameObject::WriteTo(classlib::TStream* Stream) { PxPDFWriteText(Stream, NameText(Value)); }

// ---- arrays

TPxPDFArrayObject::~TPxPDFArrayObject()
{
    for (TPxPDFObject* item : items_)
        if (item && !item->Shared)
            delete item;
}

void TPxPDFArrayObject::WriteTo(classlib::TStream* Stream)
{
    PxPDFWriteText(Stream, "[");
    for (TPxPDFObject* item : items_) {
        item->WriteTo(Stream);
        PxPDFWriteText(Stream, " ");
    }
    PxPDFWriteText(Stream, "]");
}

TPxPDFObject* TPxPDFArrayObject::Add(TPxPDFObject* Item)
{
    items_.push_back(Item);
    return Item;
}

TPxPDFObject* TPxPDFArrayObject::Item(int Index) const
{
    return Index >= 0 && Index < Count() ? items_[static_cast<size_t>(Index)] : nullptr;
}

// ---- dictionaries

TPxPDFDictionaryObject::~TPxPDFDictionaryObject()
{
    for (auto& entry : entries_)
        Release(entry.second);
}

void TPxPDFDictionaryObject::Release(TPxPDFObject* Item)
{
    if (Item && !Item->Shared)
        delete Item;
}

void TPxPDFDictionaryObject::WriteTo(classlib::TStream* Stream)
{
    PxPDFWriteText(Stream, "<< ");
    for (auto& entry : entries_) {
        PxPDFWriteText(Stream, NameText(entry.first) + " ");
        entry.second->WriteTo(Stream);
        PxPDFWriteText(Stream, "\n");
    }
    PxPDFWriteText(Stream, ">>");
}

TPxPDFObject* TPxPDFDictionaryObject::Set(const std::string& Key, TPxPDFObject* Item)
{
    for (auto& entry : entries_)
        if (entry.first == Key) {
            if (entry.second != Item)
                Release(entry.second);
            entry.second = Item;
            return Item;
        }
    entries_.emplace_back(Key, Item);
    return Item;
}

TPxPDFObject* TPxPDFDictionaryObject::Insert(int Index, const std::string& Key, TPxPDFObject* Item)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->first == Key) {
            if (it->second != Item)
                Release(it->second);
            entries_.erase(it);
            break;
        }
    Index = std::clamp(Index, 0, Count());
    entries_.insert(entries_.begin() + Index, {Key, Item});
    return Item;
}

TPxPDFObject* TPxPDFDictionaryObject::Find(const std::string& Key) const
{
    for (const auto& entry : entries_)
        if (entry.first == Key)
            return entry.second;
    return nullptr;
}

std::string TPxPDFDictionaryObject::Key(int Index) const
{
    return Index >= 0 && Index < Count() ? entries_[static_cast<size_t>(Index)].first : std::string();
}

// ---- streams

TPxPDFStreamObject::TPxPDFStreamObject() { dictionary_.Set("Length", new TPxPDFNumericObject(0)); }

TPxPDFStreamObject* TPxPDFStreamObject::CreateFromBuffer(const void* Buffer, int64_t Size)
{
    auto* stream = new TPxPDFStreamObject();
    if (Buffer && Size > 0) {
        const auto* p = static_cast<const uint8_t*>(Buffer);
        stream->Data.assign(p, p + Size);
    }
    return stream;
}

void TPxPDFStreamObject::WriteTo(classlib::TStream* Stream)
{
    dictionary_.Set("Length", new TPxPDFNumericObject(static_cast<double>(Data.size())));
    dictionary_.WriteTo(Stream);
    PxPDFWriteText(Stream, "\nstream\n");
    if (!Data.empty())
        Stream->WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    PxPDFWriteText(Stream, "\nendstream");
}

// ---- document structure

TPxPDFObject* PxPDFAddObject(TPxPDFObjectList& List, TPxPDFObject* Object)
{
    List.push_back(Object);
    Object->Number = static_cast<int32_t>(List.size());
    return Object;
}

TPxPDFDictionaryObject* PxPDFCreateCatalog(TPxPDFObjectList& List)
{
    auto* catalog = new TPxPDFDictionaryObject();
    catalog->Set("Type", new TPxPDFNameObject("Catalog"));
    PxPDFAddObject(List, catalog);
    return catalog;
}

TPxPDFDictionaryObject* PxPDFCreatePages(TPxPDFObjectList& List, const TPxPDFObjectList& Pages)
{
    auto* tree = new TPxPDFDictionaryObject();
    tree->Set("Type", new TPxPDFNameObject("Pages"));
    auto* kids = new TPxPDFArrayObject();
    tree->Set("Kids", kids);
    tree->Set("Count", new TPxPDFNumericObject(static_cast<double>(Pages.size())));
    PxPDFAddObject(List, tree);
    for (TPxPDFObject* page : Pages) {
        kids->Add(new TPxPDFRefObject(page->Number));
        if (auto* dictionary = dynamic_cast<TPxPDFDictionaryObject*>(page))
            dictionary->Set("Parent", new TPxPDFRefObject(tree->Number));
    }
    if (!List.empty())
        if (auto* catalog = dynamic_cast<TPxPDFDictionaryObject*>(List.front()))
            catalog->Set("Pages", new TPxPDFRefObject(tree->Number));
    return tree;
}

TPxPDFDictionaryObject* PxPDFCreatePage(TPxPDFObjectList& List, TPxPDFObjectList& Pages, TPxPDFObject* Resources,
                                        int32_t ContentsNumber, TPxPDFArrayObject* MediaBox)
{
    auto* page = new TPxPDFDictionaryObject();
    page->Set("Type", new TPxPDFNameObject("Page"));
    page->Set("Resources", new TPxPDFRefObject(Resources->Number));
    page->Set("MediaBox", MediaBox);
    page->Set("Contents", new TPxPDFRefObject(ContentsNumber));
    PxPDFAddObject(List, page);
    Pages.push_back(page);
    return page;
}

}  // namespace imaging
