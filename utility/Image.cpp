#include "utility/Image.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iostream>

#include "utility/log.h"

namespace tf {

namespace {

// Brings pictures with 16 bits per channel, or other non-standard pixel types,
// to an ordinary bitmap, so the drawing, rescaling and saving paths see one kind.
FIBITMAP* toStandardBitmap(FIBITMAP* dib) {
    FIBITMAP* converted = nullptr;
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
        return dib;
    case FIT_RGB16:
        converted = FreeImage_ConvertTo24Bits(dib);
        break;
    case FIT_RGBA16:
        converted = FreeImage_ConvertTo32Bits(dib);
        break;
    case FIT_RGBF:
    case FIT_RGBAF:
        converted = FreeImage_ToneMapping(dib, FITMO_DRAGO03);
        break;
    default:
        converted = FreeImage_ConvertToStandardType(dib, TRUE);
        break;
    }
    FreeImage_Unload(dib);
    return converted;
}

bool sizeAllowed(long long width, long long height) {
    return width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX &&
           width * height <= Image::kMaxPixels;
}

// The size a GIF claims: its logical screen and its first picture, which is
// what gets allocated. False when the header is too short to tell.
bool gifClaimedSize(const unsigned char* data, int size, long long& w, long long& h) {
    auto u16 = [data](long p) { return static_cast<long long>(data[p] | (data[p + 1] << 8)); };
    if (size < 13)
        return false;
    w = u16(6);
    h = u16(8);
    long pos = 13;
    if (data[10] & 0x80)
        pos += 3L * (1L << ((data[10] & 7) + 1));
    while (pos < size) {
        if (data[pos] == 0x2C) {  // image descriptor
            if (pos + 9 > size)
                return true;
            w = std::max(w, u16(pos + 5));
            h = std::max(h, u16(pos + 7));
            return true;
        }
        if (data[pos] != 0x21)  // only extensions may come before the first picture
            return true;
        pos += 2;
        while (pos < size && data[pos] != 0)
            pos += data[pos] + 1;
        ++pos;
    }
    return true;
}

// A few bytes can claim an enormous picture: learn its size before decoding
// and refuse what is above the limit, or what cannot be measured beforehand.
bool sizeCheckPasses(FREE_IMAGE_FORMAT fif, FIMEMORY* memory, const unsigned char* data, int size) {
    long long w = 0, h = 0;
    bool known = false;
    if (fif == FIF_GIF) {
        known = gifClaimedSize(data, size, w, h);
    } else if (fif == FIF_KOALA) {
        return true;  // always 320 x 200
    } else if (FreeImage_FIFSupportsNoPixels(fif)) {
        FreeImage_SeekMemory(memory, 0, SEEK_SET);
        if (FIBITMAP* header = FreeImage_LoadFromMemory(fif, memory, FIF_LOAD_NOPIXELS)) {
            w = FreeImage_GetWidth(header);
            h = FreeImage_GetHeight(header);
            FreeImage_Unload(header);
            known = true;
        }
    } else {
        TF_LOG(LOG_ERROR, "picture format " << FreeImage_GetFormatFromFIF(fif)
                                            << " cannot be measured before decoding; refused");
        return false;
    }
    if (!known)
        return false;
    if (!sizeAllowed(w, h)) {
        TF_LOG(LOG_ERROR, "picture too large: " << w << "x" << h << ", limit " << Image::kMaxPixels
                                                << " pixels");
        return false;
    }
    return true;
}

// The picture formats books carry. FreeImage reads dozens more, and some of
// its readers (PSD and XPM among them) overrun their buffers on damaged files
// in ways no check before decoding foresees: a book's bytes never reach them.
const FREE_IMAGE_FORMAT kBookFormats[] = {FIF_JPEG, FIF_PNG, FIF_GIF, FIF_BMP, FIF_WEBP};

bool isBookFormat(FREE_IMAGE_FORMAT fif) {
    for (FREE_IMAGE_FORMAT book : kBookFormats)
        if (fif == book)
            return true;
    return false;
}

// The book format the bytes are in, asking only those formats' readers.
FREE_IMAGE_FORMAT detectBookFormat(FIMEMORY* memory) {
    for (FREE_IMAGE_FORMAT fif : kBookFormats) {
        FreeImage_SeekMemory(memory, 0, SEEK_SET);
        if (FreeImage_FIFSupportsReading(fif) && FreeImage_ValidateFromMemory(fif, memory))
            return fif;
    }
    return FIF_UNKNOWN;
}

} // namespace

Image::Image() = default;

Image::Image(unsigned char* data, int size, FREE_IMAGE_FORMAT format) {
    if (!readImage(data, size, format))
        std::cout << "Failed to load image" << std::endl;
}

Image::~Image() { release(); }

Image::Image(Image&& other) noexcept { *this = std::move(other); }

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        release();
        std::swap(m_dib, other.m_dib);
        std::swap(m_memory, other.m_memory);
        std::swap(m_info, other.m_info);
        std::swap(m_format, other.m_format);
        std::swap(m_buffer, other.m_buffer);
    }
    return *this;
}

void Image::release() {
    replace(nullptr);
    if (m_memory) {
        FreeImage_CloseMemory(m_memory);
        m_memory = nullptr;
    }
    if (m_buffer) {
        FreeImage_CloseMemory(m_buffer);
        m_buffer = nullptr;
    }
    m_format = FIF_UNKNOWN;
}

void Image::replace(FIBITMAP* dib) {
    if (m_dib && m_dib != dib)
        FreeImage_Unload(m_dib);
    m_dib = dib;
    m_info = dib ? FreeImage_GetInfo(dib) : nullptr;
}

bool Image::readImage(unsigned char* data, int size, FREE_IMAGE_FORMAT format) {
    release();
    if (data && size > 0)
        m_memory = FreeImage_OpenMemory(data, static_cast<DWORD>(size));
    if (!m_memory) {
        std::cout << "image data failed to open " << std::endl;
        return false;
    }
    FREE_IMAGE_FORMAT fif = format;
    // Books name pictures "IMG.JPG" or nothing at all: let the bytes say what they are.
    if (fif == FIF_UNKNOWN)
        fif = detectBookFormat(m_memory);
    if (fif != FIF_UNKNOWN && !isBookFormat(fif)) {
        TF_LOG(LOG_ERROR, "picture format " << (FreeImage_GetFormatFromFIF(fif) ? FreeImage_GetFormatFromFIF(fif) : "?")
                                            << " is not one books use; refused");
        fif = FIF_UNKNOWN;
    }

    FIBITMAP* dib = nullptr;
    bool allowed = fif != FIF_UNKNOWN && FreeImage_FIFSupportsReading(fif) &&
                   sizeCheckPasses(fif, m_memory, data, size);
    if (allowed) {
        FreeImage_SeekMemory(m_memory, 0, SEEK_SET);
        dib = FreeImage_LoadFromMemory(fif, m_memory, 0);
    }
    // The caller's bytes are not needed once the picture is decoded.
    FreeImage_CloseMemory(m_memory);
    m_memory = nullptr;
    if (dib)
        dib = toStandardBitmap(dib);
    if (dib && !sizeAllowed(FreeImage_GetWidth(dib), FreeImage_GetHeight(dib))) {
        FreeImage_Unload(dib);
        dib = nullptr;
    }
    if (!dib) {
        std::cout << "image load failed data=" << std::endl;
        return false;
    }
    replace(dib);
    m_format = fif;
    return true;
}

int Image::width() const { return m_dib ? static_cast<int>(FreeImage_GetWidth(m_dib)) : 0; }

int Image::height() const { return m_dib ? static_cast<int>(FreeImage_GetHeight(m_dib)) : 0; }

unsigned char* Image::getBitmap() const { return m_dib ? FreeImage_GetBits(m_dib) : nullptr; }

BITMAPINFO* Image::getBitmapInfo() const { return m_info; }

void Image::setSize(int width, int height) {
    if (!m_dib)
        return;
    if (!sizeAllowed(width, height)) {
        replace(nullptr);
        return;
    }
    replace(FreeImage_Rescale(m_dib, width, height, FILTER_BOX));
}

void Image::setWidth(int width) {
    if (!m_dib)
        return;
    double h = this->height() * (static_cast<double>(width) / this->width());
    long long scaled = h < 1.0 && width > 0 ? 1 : static_cast<long long>(h > 1e15 ? 1e15 : h);
    setSize(width, scaled > INT_MAX ? 0 : static_cast<int>(scaled));
}

void Image::setHeight(int height) {
    if (!m_dib)
        return;
    double w = this->width() * (static_cast<double>(height) / this->height());
    long long scaled = w < 1.0 && height > 0 ? 1 : static_cast<long long>(w > 1e15 ? 1e15 : w);
    setSize(scaled > INT_MAX ? 0 : static_cast<int>(scaled), height);
}

bool Image::convertTo24Bits() {
    if (!m_dib)
        return false;
    if (FreeImage_GetBPP(m_dib) == 24)
        return true;
    FIBITMAP* converted = FreeImage_ConvertTo24Bits(m_dib);
    if (!converted)
        return false;
    replace(converted);
    return true;
}

bool Image::save(FREE_IMAGE_FORMAT format, const std::string& path) {
    return convertTo24Bits() && FreeImage_Save(format, m_dib, path.c_str(), 0);
}

bool Image::writePNG(std::string path) {
    if (save(FIF_PNG, path))
        return true;
    std::cout << "FreeImage_Save() failed at writePNG: \"" << path << "\"" << std::endl;
    return false;
}

bool Image::writeBMP(std::string path) {
    if (save(FIF_BMP, path))
        return true;
    std::cout << "FreeImage_Save() failed at writeBMP: " << 0 << std::endl;
    return false;
}

bool Image::getBuffer(unsigned char** bytes, int* size, FREE_IMAGE_FORMAT format) {
    if (m_buffer) {
        FreeImage_CloseMemory(m_buffer);
        m_buffer = nullptr;
    }
    FREE_IMAGE_FORMAT fif = format == FIF_UNKNOWN ? m_format : format;
    BYTE* data = nullptr;
    DWORD length = 0;
    bool ok = bytes && size && fif != FIF_UNKNOWN && convertTo24Bits();
    if (ok) {
        m_buffer = FreeImage_OpenMemory();
        ok = m_buffer && FreeImage_SaveToMemory(fif, m_dib, m_buffer, 0) &&
             FreeImage_AcquireMemory(m_buffer, &data, &length) && length <= INT_MAX;
    }
    if (!ok) {
        if (m_buffer) {
            FreeImage_CloseMemory(m_buffer);
            m_buffer = nullptr;
        }
        std::cout << "FreeImage_SaveToMemory() failed at getBuffer" << std::endl;
        return false;
    }
    *bytes = data;
    *size = static_cast<int>(length);
    return true;
}

bool Image::toRGBA32(std::vector<uint8_t>& pixels, int& w, int& h) const {
    if (!m_dib)
        return false;
    FIBITMAP* rgba = FreeImage_ConvertTo32Bits(m_dib);
    if (!rgba)
        return false;
    const unsigned width = FreeImage_GetWidth(rgba), height = FreeImage_GetHeight(rgba);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    for (unsigned y = 0; y < height; ++y) {
        // FreeImage keeps rows bottom-up.
        const BYTE* src = FreeImage_GetScanLine(rgba, static_cast<int>(height - 1 - y));
        uint8_t* dst = out.data() + static_cast<size_t>(y) * width * 4;
        for (unsigned x = 0; x < width; ++x, src += 4, dst += 4) {
            dst[0] = src[FI_RGBA_BLUE];
            dst[1] = src[FI_RGBA_GREEN];
            dst[2] = src[FI_RGBA_RED];
            dst[3] = src[FI_RGBA_ALPHA];
        }
    }
    FreeImage_Unload(rgba);
    pixels.swap(out);
    w = static_cast<int>(width);
    h = static_cast<int>(height);
    return true;
}

FREE_IMAGE_FORMAT Image::getTypeFromMimeType(std::string mime) {
    if (mime == "image/jpeg" || mime == "image/jpg")
        return FIF_JPEG;
    if (mime == "image/png")
        return FIF_PNG;
    if (mime == "image/gif")
        return FIF_GIF;
    if (mime == "image/bmp")
        return FIF_BMP;
    return FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT Image::getType(String path) {
    if (path.endsWith(L".jpg") || path.endsWith(L".jpeg"))
        return FIF_JPEG;
    if (path.endsWith(L".png"))
        return FIF_PNG;
    if (path.endsWith(L".gif"))
        return FIF_GIF;
    if (path.endsWith(L".bmp"))
        return FIF_BMP;
    return FIF_UNKNOWN;
}

} // namespace tf
