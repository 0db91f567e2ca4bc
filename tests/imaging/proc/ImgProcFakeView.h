// A view for the processing object's tests: in-memory layers with a state
// number and an image each, a selection mask with a state number, vector
// objects as one state number, and call counters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Stream.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxRawDump.h"
#include "imaging/proc/ImgProcView.h"

namespace procfake {

using namespace imaging;

class TFakeView : public classlib::TComponent, public TPxProcView {
public:
    struct Layer {
        std::unique_ptr<TPxBitmap> Image;
        TPxLayerIdentifier Id;
        int32_t State = 0;
    };

    explicit TFakeView(bool Vect = false) : classlib::TComponent(nullptr), vect_(Vect) { AddLayer(8, 6, 0); }
    ~TFakeView() override
    {
        // Registered objects hear of the end first, as from a real view.
        auto handlers = handlers_;
        for (auto& h : handlers)
            h.second(this, true);
    }

    // Adds a layer of a fresh px24RGB image filled with Value (a TColor).
    Layer& AddLayer(int W, int H, int32_t Value)
    {
        Layer l;
        l.Image = std::make_unique<TPxBitmap>(W, H, px24RGB);
        l.Image->Fill(Value);
        l.Id.Bytes[0] = static_cast<uint8_t>(nextId_++);
        l.Id.Bytes[15] = 0xA5;
        layers.push_back(std::move(l));
        return layers.back();
    }
    void SetCurrent(int Index)
    {
        current = Index;
        FireChanged();
    }
    void FireChanged()
    {
        auto handlers = handlers_;
        for (auto& h : handlers)
            h.second(this, false);
    }
    int RegistrationCount() const { return static_cast<int>(handlers_.size()); }

    // ---- TPxProcView
    classlib::TComponent* GetViewComponent() override { return this; }
    // A view holding a TBitmap (vcl set) offers no TPxBitmap.
    TPxBitmap* GetPxBitmap() override
    {
        return vcl || layers.empty() ? nullptr : layers[current].Image.get();
    }
    classlib::TBitmap* GetBitmap() override { return vcl; }
    intptr_t RegisterBitmapChangeEvent(const TPxProcBitmapChangeEvent& Handler, classlib::TObject*) override
    {
        handlers_.push_back({nextHandle_, Handler});
        return nextHandle_++;
    }
    void RemoveBitmapChangeEvent(intptr_t Handle) override
    {
        for (size_t i = 0; i < handlers_.size(); ++i)
            if (handlers_[i].first == Handle) {
                handlers_.erase(handlers_.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
    }
    classlib::TColor GetBackground() override { return background; }
    void SetBackground(classlib::TColor Value) override { background = Value; }
    void Update() override { ++updates; }
    void DoImageChange() override { ++imageChanges; }
    bool IsImageView() override { return true; }
    bool IsVectView() override { return vect_; }

    bool HasSelection() override { return selected; }
    TPxMask* GetSelectionMask() override { return &mask; }
    const POINT* GetSelectionPolygon(int& Count) override
    {
        Count = static_cast<int>(polygon.size());
        return polygon.empty() ? nullptr : polygon.data();
    }
    void SaveSelectionToStream(classlib::TStream* Stream) override { Stream->WriteBuffer(&selectionState, 4); }
    void LoadSelectionFromStream(classlib::TStream* Stream, int Mode) override
    {
        Stream->ReadBuffer(&selectionState, 4);
        lastSelectionMode = Mode;
    }

    int GetLayersCount() override { return static_cast<int>(layers.size()); }
    int GetLayersCurrent() override { return current; }
    TPxBitmap* GetLayerBitmap(int Index) override { return layers[Index].Image.get(); }
    TPxLayerIdentifier GetLayerIdentifier(int Index) override { return layers[Index].Id; }
    // Record: int32 length, 16-byte id, int32 state, int32 image flag, and
    // with the image its raw dump.
    void LayerSaveToStream(int Index, classlib::TStream* Stream, bool WithBitmap) override
    {
        const int64_t start = Stream->GetPosition();
        int32_t length = 0;
        const int32_t flag = WithBitmap ? 1 : 0;
        Stream->WriteBuffer(&length, 4);
        Stream->WriteBuffer(layers[Index].Id.Bytes, 16);
        Stream->WriteBuffer(&layers[Index].State, 4);
        Stream->WriteBuffer(&flag, 4);
        if (WithBitmap)
            SaveRawToStream(*layers[Index].Image, nullptr, 0, Stream);
        const int64_t end = Stream->GetPosition();
        length = static_cast<int32_t>(end - start);
        Stream->SetPosition(start);
        Stream->WriteBuffer(&length, 4);
        Stream->SetPosition(end);
    }
    void LayerLoadFromStream(int Index, classlib::TStream* Stream) override
    {
        int32_t length = 0, flag = 0;
        uint8_t id[16];
        Stream->ReadBuffer(&length, 4);
        Stream->ReadBuffer(id, 16);
        Stream->ReadBuffer(&layers[Index].State, 4);
        Stream->ReadBuffer(&flag, 4);
        if (flag)
            LoadRawFromStream(*layers[Index].Image, nullptr, 0, Stream);
        ++layerLoads;
    }
    void LayersSaveToStream(classlib::TStream* Stream, int Coding) override
    {
        lastCoding = Coding;
        const int32_t count = GetLayersCount();
        Stream->WriteBuffer(&count, 4);
        for (auto& l : layers)
            Stream->WriteBuffer(&l.State, 4);
    }
    bool LayersLoadFromStream(classlib::TStream* Stream) override
    {
        int32_t count = 0;
        Stream->ReadBuffer(&count, 4);
        for (int i = 0; i < count && i < GetLayersCount(); ++i)
            Stream->ReadBuffer(&layers[i].State, 4);
        ++layersFileLoads;
        return true;
    }

    void SaveToStreamPxV(classlib::TStream* Stream) override { Stream->WriteBuffer(&objectsState, 4); }
    bool LoadFromStreamPxV(classlib::TStream* Stream) override
    {
        Stream->ReadBuffer(&objectsState, 4);
        return true;
    }
    void SaveToStreamAll(classlib::TStream* Stream, int Coding) override
    {
        lastCoding = Coding;
        Stream->WriteBuffer(&objectsState, 4);
        LayersSaveToStream(Stream, Coding);
    }
    bool LoadFromStreamAll(classlib::TStream* Stream) override
    {
        Stream->ReadBuffer(&objectsState, 4);
        return LayersLoadFromStream(Stream);
    }

    std::vector<Layer> layers;
    int current = 0;
    classlib::TBitmap* vcl = nullptr;
    TPxMask mask;
    bool selected = false;
    std::vector<POINT> polygon;
    int32_t selectionState = 0;
    int lastSelectionMode = -1;
    int32_t objectsState = 0;
    int lastCoding = 0;
    classlib::TColor background = 0;
    int updates = 0;
    int imageChanges = 0;
    int layerLoads = 0;
    int layersFileLoads = 0;

private:
    bool vect_;
    int nextId_ = 1;
    intptr_t nextHandle_ = 0;
    std::vector<std::pair<intptr_t, TPxProcBitmapChangeEvent>> handlers_;
};

}  // namespace procfake
