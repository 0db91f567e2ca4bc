// The small PDF object model of the PDF writer: numbers, booleans, strings,
// names, arrays, dictionaries, streams and references, each able to write
// its own PDF text, plus the routines that build the document's catalog,
// page tree and pages over an object list.
//
// Ownership: an array or a dictionary owns its members and frees them when
// it is freed, except members whose Shared flag is set. Indirect objects
// (those appended to a document's object list, which numbers them) are
// owned by the document and appear inside other objects only through
// TPxPDFRefObject values. Setting a dictionary key that exists frees the old
// value (unless shared).
//
// Text is 8-bit: strings are written byte for byte (with the escapes of
// TPxPDFStringObject), names with "#xx" for bytes outside "!".."~".
//
// Failure: writing raises the stream's exceptions. Threads: an object tree
// belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"

namespace imaging {

// Writes Text as it is (no line end).
void PxPDFWriteText(classlib::TStream* Stream, const std::string& Text);
// Writes Text and a line feed.
void PxPDFWriteLine(classlib::TStream* Stream, const std::string& Text);
// Number in decimal, padded with "0" on the left to Width digits.
std::string PxPadLeft(int64_t Number, int Width);

class TPxPDFObject : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxPDFObject"; }
    // Writes the object's text (the body only: no "obj" framing).
    virtual void WriteTo(classlib::TStream* Stream) = 0;

    int32_t Number = 0;    // 0 for a direct object
    int64_t Position = 0;  // offset of its last writing as an indirect object
    bool Shared = false;   // not freed by a containing array or dictionary
};

class TPxPDFRefObject : public TPxPDFObject {
public:
    TPxPDFRefObject(int32_t ObjectNumber, int32_t Generation = 0)
        : ObjectNumber(ObjectNumber), Generation(Generation)
    {
    }
    std::wstring ClassName() const override { return L"TPxPDFRefObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    int32_t ObjectNumber;
    int32_t Generation;
};

class TPxPDFNumericObject : public TPxPDFObject {
public:
    explicit TPxPDFNumericObject(double Value) : Value(Value) {}
    std::wstring ClassName() const override { return L"TPxPDFNumericObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    double Value;
};

class TPxPDFBooleanObject : public TPxPDFObject {
public:
    explicit TPxPDFBooleanObject(bool Value) : Value(Value) {}
    std::wstring ClassName() const override { return L"TPxPDFBooleanObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    bool Value;
};

class TPxPDFStringObject : public TPxPDFObject {
public:
    explicit TPxPDFStringObject(std::string Value) : Value(std::move(Value)) {}
    std::wstring ClassName() const override { return L"TPxPDFStringObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    std::string Value;
};

// A name, held without its slash.
class TPxPDFNameObject : public TPxPDFObject {
public:
    explicit TPxPDFNameObject(std::string Value) : Value(std::move(Value)) {}
    std::wstring ClassName() const override { return L"TPxPDFNameObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    std::string Value;
};

class TPxPDFArrayObject : public TPxPDFObject {
public:
    TPxPDFArrayObject() = default;
    TPxPDFArrayObject(const TPxPDFArrayObject&) = delete;
    TPxPDFArrayObject& operator=(const TPxPDFArrayObject&) = delete;
    ~TPxPDFArrayObject() override;
    std::wstring ClassName() const override { return L"TPxPDFArrayObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    // Appends Item (owned from then on unless shared); returns it.
    TPxPDFObject* Add(TPxPDFObject* Item);
    int Count() const { return static_cast<int>(items_.size()); }
    // nullptr outside 0 .. Count() - 1.
    TPxPDFObject* Item(int Index) const;

private:
    std::vector<TPxPDFObject*> items_;
};

class TPxPDFDictionaryObject : public TPxPDFObject {
public:
    TPxPDFDictionaryObject() = default;
    TPxPDFDictionaryObject(const TPxPDFDictionaryObject&) = delete;
    TPxPDFDictionaryObject& operator=(const TPxPDFDictionaryObject&) = delete;
    ~TPxPDFDictionaryObject() override;
    std::wstring ClassName() const override { return L"TPxPDFDictionaryObject"; }
    void WriteTo(classlib::TStream* Stream) override;
    // Gives Key the value Item (owned from then on unless shared): an
    // existing key keeps its place and its old value is freed, a new key is
    // appended. Returns Item.
    TPxPDFObject* Set(const std::string& Key, TPxPDFObject* Item);
    // Inserts a new key at Index (clamped to 0 .. Count()); an existing key
    // with that name is removed first. Returns Item.
    TPxPDFObject* Insert(int Index, const std::string& Key, TPxPDFObject* Item);
    // The value of Key, nullptr when absent.
    TPxPDFObject* Find(const std::string& Key) const;
    int Count() const { return static_cast<int>(entries_.size()); }
    // Key i in insertion order; empty outside the range.
    std::string Key(int Index) const;

private:
    void Release(TPxPDFObject* Item);
    std::vector<std::pair<std::string, TPxPDFObject*>> entries_;
};

class TPxPDFStreamObject : public TPxPDFObject {
public:
    // An empty stream; its dictionary holds "Length" = 0.
    TPxPDFStreamObject();
    // A stream holding a copy of Size bytes of Buffer.
    static TPxPDFStreamObject* CreateFromBuffer(const void* Buffer, int64_t Size);
    std::wstring ClassName() const override { return L"TPxPDFStreamObject"; }
    // The dictionary with "Length" set to the data size, then the data
    // between "stream" and "endstream".
    void WriteTo(classlib::TStream* Stream) override;
    TPxPDFDictionaryObject& Dictionary() { return dictionary_; }
    std::vector<uint8_t> Data;

private:
    TPxPDFDictionaryObject dictionary_;
};

// A document's list of indirect objects; objects are numbered in the order
// they are appended, from 1.
using TPxPDFObjectList = std::vector<TPxPDFObject*>;

// Appends Object to List and numbers it (its number is the list count
// afterwards). Returns it.
TPxPDFObject* PxPDFAddObject(TPxPDFObjectList& List, TPxPDFObject* Object);
// A new catalog << /Type /Catalog >> appended to List.
TPxPDFDictionaryObject* PxPDFCreateCatalog(TPxPDFObjectList& List);
// The page tree << /Type /Pages /Kids [...] /Count n >> appended to List;
// every page gets a last entry "Parent" referring to it, and the first
// object of List (the catalog) gets "Pages".
TPxPDFDictionaryObject* PxPDFCreatePages(TPxPDFObjectList& List, const TPxPDFObjectList& Pages);
// A page << /Type /Page /Resources /MediaBox /Contents >> appended to List
// and to Pages; Resources is referred to, MediaBox becomes the page's (owned).
TPxPDFDictionaryObject* PxPDFCreatePage(TPxPDFObjectList& List, TPxPDFObjectList& Pages,
                                        TPxPDFObject* Resources, int32_t ContentsNumber,
                                        TPxPDFArrayObject* MediaBox);

}  // namespace imaging
