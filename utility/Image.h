#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <FreeImage.h>

#include "utility/String.h"

namespace tf {

// A picture decoded from bytes in memory with FreeImage: size, rescaling,
// PNG/BMP output, and the pixels for the drawing backend.
// Owns its bitmap, so it is movable but not copyable.
class Image {
public:
    // Largest picture accepted, in pixels (256 MiB at 32 bits per pixel).
    static constexpr long long kMaxPixels = 64ll * 1024 * 1024;

    Image();
    // Decodes `size` bytes as `format`; FIF_UNKNOWN finds the format from the
    // bytes. On failure the image is empty.
    Image(unsigned char* data, int size, FREE_IMAGE_FORMAT format);
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;

    // The decoding step; replaces any picture held before. The bytes are not
    // kept. Returns whether decoding succeeded.
    bool readImage(unsigned char* data, int size, FREE_IMAGE_FORMAT format);

    bool isEmpty() const { return m_dib == nullptr; }
    int width() const;
    int height() const;
    // Format the picture was decoded as; FIF_UNKNOWN for an empty image.
    FREE_IMAGE_FORMAT getFormat() const { return m_format; }

    // The pixels as FreeImage keeps them (rows bottom-up, each padded to
    // 4 bytes, in the decoded bit depth), or null for an empty image.
    unsigned char* getBitmap() const;
    // Header and palette of those pixels, or null for an empty image.
    BITMAPINFO* getBitmapInfo() const;

    // Rescale with the box filter to exactly width x height. A size that
    // cannot be made (zero, negative, above kMaxPixels) leaves the image empty.
    void setSize(int width, int height);
    // Rescale to `width`, the height following the aspect ratio (at least 1).
    void setWidth(int width);
    // Rescale to `height`, the width following the aspect ratio (at least 1).
    void setHeight(int height);

    // Convert the picture to 24 bits per pixel (it stays so) and save it.
    bool writePNG(std::string path);
    bool writeBMP(std::string path);
    // Convert to 24 bits per pixel and encode in memory as `format`
    // (FIF_UNKNOWN: the decoded format). The bytes belong to the image and
    // stay valid until the next getBuffer, readImage or the image's end.
    bool getBuffer(unsigned char** bytes, int* size, FREE_IMAGE_FORMAT format = FIF_UNKNOWN);

    // The picture as 32-bit pixels for drawing, leaving the image unchanged:
    // rows top-down, no padding (w * 4 bytes each), each pixel the bytes
    // B, G, R, A in that order, i.e. the 32-bit value 0xAARRGGBB on a
    // little-endian machine (QImage::Format_ARGB32, not premultiplied).
    // Alpha is 255 where the picture has no transparency. False (and the
    // outputs untouched) for an empty image or a failed conversion.
    bool toRGBA32(std::vector<uint8_t>& pixels, int& w, int& h) const;

    // Format from a MIME type, compared exactly; FIF_UNKNOWN when not a known picture type.
    static FREE_IMAGE_FORMAT getTypeFromMimeType(std::string mime);
    // Format from the end of a file name, case-sensitive; FIF_UNKNOWN otherwise.
    static FREE_IMAGE_FORMAT getType(String path);

private:
    void release();
    // Takes `dib` in place of the current picture (null empties the image).
    void replace(FIBITMAP* dib);
    bool convertTo24Bits();
    bool save(FREE_IMAGE_FORMAT format, const std::string& path);

    FIBITMAP* m_dib = nullptr;
    // Stream over the caller's bytes while decoding; closed as soon as the picture is decoded.
    FIMEMORY* m_memory = nullptr;
    BITMAPINFO* m_info = nullptr;
    FREE_IMAGE_FORMAT m_format = FIF_UNKNOWN;
    // Encoded bytes handed out by getBuffer.
    FIMEMORY* m_buffer = nullptr;
};

} // namespace tf
