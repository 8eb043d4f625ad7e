// Book pictures are decoded only by the readers of the formats books use:
// FreeImage's readers of other formats (PSD, XPM, ...) overrun their buffers
// on damaged files, and a book can name anything "cover.jpg".

#include <gtest/gtest.h>

#include <string>

#include "utility/Image.h"

using tf::Image;

namespace {

// A small picture saved in `fif` by FreeImage itself; "" when it cannot write that format.
std::string saved(FREE_IMAGE_FORMAT fif) {
    FIBITMAP* dib = FreeImage_Allocate(5, 4, 24);
    FIBITMAP* eight = fif == FIF_GIF ? FreeImage_ColorQuantize(dib, FIQ_WUQUANT) : nullptr;
    FIMEMORY* memory = FreeImage_OpenMemory();
    std::string out;
    if (FreeImage_SaveToMemory(fif, eight ? eight : dib, memory, 0)) {
        BYTE* data = nullptr;
        DWORD length = 0;
        FreeImage_AcquireMemory(memory, &data, &length);
        out.assign(reinterpret_cast<char*>(data), length);
    }
    FreeImage_CloseMemory(memory);
    if (eight)
        FreeImage_Unload(eight);
    FreeImage_Unload(dib);
    return out;
}

struct Decoded {
    bool empty;
    FREE_IMAGE_FORMAT format;
    std::string log;
};

Decoded decode(std::string bytes, FREE_IMAGE_FORMAT fif) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Image image(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(bytes.size()), fif);
    Decoded d{image.isEmpty(), image.getFormat(), testing::internal::GetCapturedStderr()};
    testing::internal::GetCapturedStdout();
    return d;
}

} // namespace

TEST(ImageFormats, BookFormatsAreFoundFromTheirBytes) {
    for (FREE_IMAGE_FORMAT fif : {FIF_JPEG, FIF_PNG, FIF_GIF, FIF_BMP, FIF_WEBP}) {
        const std::string bytes = saved(fif);
        if (bytes.empty() && fif == FIF_WEBP)
            continue;  // a FreeImage built without WebP
        ASSERT_FALSE(bytes.empty()) << FreeImage_GetFormatFromFIF(fif);
        const Decoded d = decode(bytes, FIF_UNKNOWN);
        EXPECT_FALSE(d.empty) << FreeImage_GetFormatFromFIF(fif) << ": " << d.log;
        EXPECT_EQ(d.format, fif) << FreeImage_GetFormatFromFIF(fif);
    }
}

TEST(ImageFormats, OtherFormatsAreRefusedUnread) {
    int tried = 0;
    for (FREE_IMAGE_FORMAT fif : {FIF_PSD, FIF_XPM, FIF_TIFF, FIF_TARGA, FIF_PPM, FIF_ICO, FIF_HDR, FIF_EXR}) {
        const std::string bytes = saved(fif);
        if (bytes.empty())
            continue;
        ++tried;
        // Found from the bytes: none of the book formats recognises them.
        const Decoded found = decode(bytes, FIF_UNKNOWN);
        EXPECT_TRUE(found.empty) << FreeImage_GetFormatFromFIF(fif);
        EXPECT_EQ(found.format, FIF_UNKNOWN);
        // Named by the caller: refused with a reason.
        const Decoded named = decode(bytes, fif);
        EXPECT_TRUE(named.empty) << FreeImage_GetFormatFromFIF(fif);
        EXPECT_NE(named.log.find("is not one books use"), std::string::npos) << named.log;
    }
    EXPECT_GE(tried, 4) << "FreeImage wrote too few of the other formats to test";
}
