// The base of the suites that put a multi-image grid in a plain host window.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "classlib/Component.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/model/PxDefs.h"
#include "imaging/views/grid/ImgMView.h"

namespace gridtest {

// The format registry is built for the suite when none exists and freed
// after it; each test gets a fresh host window and a grid (not yet placed
// in the window), both destroyed after the test.
class TGridInHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        imaging::PxDefsInit();
        hadRegistry_ = imaging::PxFormatRegistryExists();
        if (!hadRegistry_)
            imaging::PxBuildFormatRegistry();
    }
    static void TearDownTestSuite()
    {
        if (!hadRegistry_)
            imaging::PxFreeFormatRegistry();
    }
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 600, 400, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        grid_ = std::make_unique<imaging::TImgMView>(nullptr);
    }
    void TearDown() override
    {
        grid_.reset();
        if (host_)
            DestroyWindow(host_);
    }

    // Counts the calls of a notify event.
    struct Finish {
        int calls = 0;
        void On(classlib::TObject*) { ++calls; }
    };

    static inline bool hadRegistry_ = false;
    HWND host_ = nullptr;
    std::unique_ptr<imaging::TImgMView> grid_;
};

}  // namespace gridtest
