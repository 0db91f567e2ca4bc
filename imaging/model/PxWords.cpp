#include "imaging/model/PxWords.h"

namespace imaging {

namespace {

std::wstring g_messages[PxMsgLanguageCount][PxMsgCount];

const wchar_t* const kEnglish[PxMsgCount] = {
    // 0-9
    L"Zoom", L"Preview", L"Original", L"Result", L"OK", L"Cancel", L"Lock preview",
    L"Copy Result to Original", L"Contrast", L"Brightness",
    // 10-19
    L"Hue", L"Saturation", L"Value", L"Base color", L"New color", L"Luminance", L"Red", L"Green",
    L"Blue", L"Filter values",
    // 20-29
    L"Presets", L"Divisor", L"Load", L"Save", L"Equalization", L"Threshold", L"Equalize",
    L"Histogram", L"Gray", L"Light",
    // 30-39
    L"Left", L"Top", L"Width", L"Height", L"Color", L"Original image quantity", L"Lens",
    L"Refraction", L"Parameters Preview", L"Quality",
    // 40-49
    L"DCT method", L"Smoothing factor", L"Gray scale", L"Optimal Huffman", L"Original size",
    L"Compressed size", L"Advanced", L"Progressive", L"Compression", L"Image index",
    // 50-59
    L"Photometric", L"Scanned document info", L"Name", L"Description", L"Page name",
    L"Page number", L"of", L"Horiz. Position (inch)", L"Vert. Position (inch)", L"Colors",
    // 60-69
    L"Transparent", L"Transparent color", L"Interlaced", L"Background", L"Horiz. Position",
    L"Vert. Position", L"Delay time", L"Filter", L"Wave", L"Amplitude",
    // 70-79
    L"Wave length", L"Phase", L"Reflective", L"User filter", L"Morphing filters",
    L"Window size", L"Maximum", L"Minimum", L"Opening", L"Closing",
    // 80-89
    L"Rotate", L"Flip", L"Horizontal", L"Vertical", L"Frequency domain image",
    L"Select the region to clean", L"Clear", L"Reset", L"Animate", L"Load filter",
    // 90-99
    L"Save filter", L"Bump map", L"Print", L"Margins", L"inches", L"Right", L"Bottom",
    L"Position", L"Size", L"Normal",
    // 100-109
    L"Fit to page", L"Stretch to page", L"Specified size", L"Gamma correction", L"Value",
    L"Print Setup", L"Left Margin", L"Top Margin", L"Right Margin", L"Bottom Margin",
    // 110-119
    L"Location/size", L"Top Left", L"Top Center", L"Top Right", L"Center Left", L"Center",
    L"Center Right", L"Bottom Left", L"Bottom Center", L"Bottom Right",
    // 120-129
    L"Close", L"Apply", L"Measure Units", L"Units", L"Rate", L"All graphics",
    L"Video for Windows", L"File", L"Mem",
    L"Automatically updates your preview with the changes you have selected",
    // 130-139
    L"Print All", L"Print Selected", L"Common Graphic Files", L"All Files", L"HSV", L"HSL",
    L"RGB", L"FFT", L"Sharpen", L"Channels",
    // 140-148
    L"Advanced", L"Lower case extension", L"pixel", L"frames", L"bit", L"byte", L"dpi", L"KB",
    L"Fit",
};

bool ValidIndex(int index) { return index >= 0 && index < PxMsgCount; }

}  // namespace

void PxSetMsgText(TMsgLanguage language, int index, const std::wstring& text)
{
    if (!ValidIndex(index) || static_cast<int>(language) >= PxMsgLanguageCount)
        return;
    g_messages[language][index] = text;
}

std::wstring PxGetMsgText(int index, TMsgLanguage language)
{
    if (!ValidIndex(index))
        return {};
    if (language != msSystem && static_cast<int>(language) < PxMsgLanguageCount) {
        const std::wstring& entry = g_messages[language][index];
        if (!entry.empty() || language == msEnglish)
            return entry;
    }
    return g_messages[msEnglish][index];
}

void PxFillEnglishMessages()
{
    for (int i = 0; i < PxMsgCount; ++i)
        PxSetMsgText(msEnglish, i, kEnglish[i]);
}

void PxFillMessages() { PxFillEnglishMessages(); }

void PxFreeMessages()
{
    for (auto& row : g_messages)
        for (auto& entry : row)
            std::wstring().swap(entry);
}

}  // namespace imaging
