// A data object offering a list of files (CF_HDROP) for the drop tests of
// the shell controls.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace shelltest {

inline HGLOBAL MakeDrop(const std::vector<std::wstring>& files)
{
    // Names each ended by a zero, then one more zero (two for no names).
    std::size_t chars = files.empty() ? 2 : 1;
    for (const auto& f : files)
        chars += f.size() + 1;
    HGLOBAL h = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(h));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(drop + 1);
    for (const auto& f : files) {
        std::memcpy(out, f.c_str(), (f.size() + 1) * sizeof(wchar_t));
        out += f.size() + 1;
    }
    *out = L'\0';
    ::GlobalUnlock(h);
    return h;
}

// Offers CF_HDROP of its files, or nothing when made without a list.
class TFilesObject : public IDataObject {
public:
    explicit TFilesObject(bool offersFiles, std::vector<std::wstring> files = {})
        : offers_(offersFiles), files_(std::move(files))
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDataObject) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        ++getDataCalls;
        if (!offers_ || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = MakeDrop(files_);
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

    ULONG refs = 1;
    int getDataCalls = 0;

private:
    bool offers_;
    std::vector<std::wstring> files_;
};

}  // namespace shelltest
