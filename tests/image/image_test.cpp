#include <gtest/gtest.h>

#include <memory>
#include <type_traits>
#include <zlib.h>

#include "TempDir.h"
#include "corpus.h"
#include "utility/Image.h"
#include "utility/ZipFile.h"
#include "utility/text.h"

using tf::Image;

namespace {

struct Unload {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using Bitmap = std::unique_ptr<FIBITMAP, Unload>;

// A w x h picture of `bpp` bits (24 or 32) whose pixel (x, y), counted from the
// top, has red = x, green = y, blue = 7 and alpha = 255 - x.
Bitmap make_bitmap(int w, int h, int bpp = 24) {
    Bitmap dib(FreeImage_Allocate(w, h, bpp));
    const int step = bpp / 8;
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib.get(), h - 1 - y);
        for (int x = 0; x < w; ++x) {
            BYTE* p = line + x * step;
            p[FI_RGBA_RED] = static_cast<BYTE>(x);
            p[FI_RGBA_GREEN] = static_cast<BYTE>(y);
            p[FI_RGBA_BLUE] = 7;
            if (bpp == 32)
                p[FI_RGBA_ALPHA] = static_cast<BYTE>(255 - x);
        }
    }
    return dib;
}

std::string encode(FIBITMAP* dib, FREE_IMAGE_FORMAT fif) {
    FIMEMORY* mem = FreeImage_OpenMemory();
    std::string out;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (FreeImage_SaveToMemory(fif, dib, mem, 0) && FreeImage_AcquireMemory(mem, &data, &size))
        out.assign(reinterpret_cast<char*>(data), size);
    FreeImage_CloseMemory(mem);
    return out;
}

// An 8-bit palette GIF; palette index 0 is transparent when asked.
std::string make_gif(int w, int h, bool transparent) {
    Bitmap rgb = make_bitmap(w, h);
    Bitmap pal(FreeImage_ColorQuantize(rgb.get(), FIQ_WUQUANT));
    if (transparent) {
        FreeImage_SetTransparentIndex(pal.get(), 0);
        BYTE index = 0;
        FreeImage_SetPixelIndex(pal.get(), 0, h - 1, &index);  // top-left
    }
    return encode(pal.get(), FIF_GIF);
}

std::string make_png(int w, int h, int bpp = 24) { return encode(make_bitmap(w, h, bpp).get(), FIF_PNG); }

unsigned char* bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }
int size(const std::string& s) { return static_cast<int>(s.size()); }

// A PNG chunk: length, type, data, CRC over type and data.
std::string png_chunk(const std::string& type, const std::string& data) {
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::string body = type + data;
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return be32(static_cast<uint32_t>(data.size())) + body + be32(crc);
}

TEST(ImageTest, DecodesEachFormatGivenOrDetected) {
    struct Case {
        const char* what;
        std::string data;
        FREE_IMAGE_FORMAT fif;
    } cases[] = {
        {"png", make_png(30, 20), FIF_PNG},
        {"png with alpha", make_png(30, 20, 32), FIF_PNG},
        {"jpeg", encode(make_bitmap(30, 20).get(), FIF_JPEG), FIF_JPEG},
        {"gif", make_gif(30, 20, false), FIF_GIF},
        {"bmp", encode(make_bitmap(30, 20).get(), FIF_BMP), FIF_BMP},
    };
    for (auto& c : cases) {
        ASSERT_FALSE(c.data.empty()) << c.what;
        for (FREE_IMAGE_FORMAT asked : {c.fif, FIF_UNKNOWN}) {
            SCOPED_TRACE(std::string(c.what) + (asked == FIF_UNKNOWN ? ", detected" : ", given"));
            Image img(bytes(c.data), size(c.data), asked);
            ASSERT_FALSE(img.isEmpty());
            EXPECT_EQ(img.width(), 30);
            EXPECT_EQ(img.height(), 20);
            EXPECT_EQ(img.getFormat(), c.fif);
            EXPECT_NE(img.getBitmap(), nullptr);
            ASSERT_NE(img.getBitmapInfo(), nullptr);
            EXPECT_EQ(img.getBitmapInfo()->bmiHeader.biWidth, 30);
        }
    }
}

TEST(ImageTest, UndecodableBytesLeaveItEmptyWithTheDesignedLines) {
    std::string png = make_png(8, 8);
    std::string garbage = "definitely not a picture";
    std::string truncated = png.substr(0, png.size() / 2);
    struct Case {
        const char* what;
        unsigned char* data;
        int size;
        FREE_IMAGE_FORMAT fif;
        const char* out;
    } cases[] = {
        {"png read as jpeg", bytes(png), size(png), FIF_JPEG, "image load failed data=\nFailed to load image\n"},
        {"garbage, format unknown", bytes(garbage), size(garbage), FIF_UNKNOWN,
         "image load failed data=\nFailed to load image\n"},
        {"truncated png", bytes(truncated), size(truncated), FIF_PNG,
         "image load failed data=\nFailed to load image\n"},
        {"no bytes", nullptr, 0, FIF_PNG, "image data failed to open \nFailed to load image\n"},
        {"negative size", bytes(png), -5, FIF_PNG, "image data failed to open \nFailed to load image\n"},
        {"format without a reader", bytes(png), size(png), FIF_FAXG3,
         "image load failed data=\nFailed to load image\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        Image img(c.data, c.size, c.fif);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.what;
        EXPECT_TRUE(img.isEmpty()) << c.what;
        EXPECT_EQ(img.getBitmap(), nullptr);
        EXPECT_EQ(img.getBitmapInfo(), nullptr);
        EXPECT_EQ(img.getFormat(), FIF_UNKNOWN);
    }
}

// A GIF with a two-colour palette and one 2x2 picture, with the sizes claimed by the
// logical screen and by the picture's descriptor.
std::string make_claiming_gif(int screenW, int screenH, int w, int h) {
    std::string g = "GIF89a";
    auto le = [&g](int v) {
        g += static_cast<char>(v & 0xFF);
        g += static_cast<char>((v >> 8) & 0xFF);
    };
    le(screenW);
    le(screenH);
    g += std::string("\x80\0\0", 3) + std::string(6, '\0');       // flags, palette of 2
    g += std::string("\x21\xF9\x04\x01\0\0\0\0", 8);               // graphic control extension
    g += ',';
    le(0);
    le(0);
    le(w);
    le(h);
    g += std::string("\0\x02\x02\x4C\x01\0;", 7);                  // picture data, trailer
    return g;
}

TEST(ImageTest, HugeClaimedDimensionsAreRefusedBeforeDecoding) {
    // A valid PNG header claiming 100000 x 100000 pixels, with one tiny row of data.
    std::string ihdr = std::string("\x00\x01\x86\xA0\x00\x01\x86\xA0", 8) + std::string("\x08\x02\x00\x00\x00", 5);
    std::string idat = "\x78\x9c\x63\x00\x00\x00\x01\x00\x01";
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", idat) +
                      png_chunk("IEND", "");
    std::string smallGif = make_claiming_gif(2, 2, 2, 2);
    {
        Image ok(bytes(smallGif), size(smallGif), FIF_UNKNOWN);
        ASSERT_FALSE(ok.isEmpty());  // the hand-made GIF itself is sound
        EXPECT_EQ(ok.width(), 2);
    }
    std::string wbmp("\0\0\x82\x80\0\x82\x80\0\0\0", 10);  // 16384 x 16384
    struct Case {
        const char* what;
        std::string data;
        FREE_IMAGE_FORMAT fif;
        const char* logged;
    } cases[] = {
        {"png 100000 x 100000", png, FIF_PNG, "too large"},
        {"same, detected", png, FIF_UNKNOWN, "too large"},
        {"gif screen 65535 x 65535", make_claiming_gif(65535, 65535, 2, 2), FIF_GIF, "too large"},
        {"gif picture 65535 x 65535", make_claiming_gif(2, 2, 65535, 65535), FIF_UNKNOWN, "too large"},
        {"wbmp, not a book format", wbmp, FIF_WBMP, "is not one books use"},
    };
    for (auto& c : cases) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        Image img(bytes(c.data), size(c.data), c.fif);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "image load failed data=\nFailed to load image\n")
            << c.what;
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(img.isEmpty()) << c.what;
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.what << ": " << log;
    }
}

TEST(ImageTest, FormatFromMimeTypeAndFileName) {
    struct Mime {
        const char* mime;
        FREE_IMAGE_FORMAT fif;
    } mimes[] = {{"image/jpeg", FIF_JPEG}, {"image/jpg", FIF_JPEG}, {"image/png", FIF_PNG},
                 {"image/gif", FIF_GIF},   {"image/bmp", FIF_BMP},  {"image/svg+xml", FIF_UNKNOWN},
                 {"", FIF_UNKNOWN},        {"IMAGE/PNG", FIF_UNKNOWN}};
    for (const auto& m : mimes)
        EXPECT_EQ(Image::getTypeFromMimeType(m.mime), m.fif) << m.mime;
    struct Name {
        const wchar_t* name;
        FREE_IMAGE_FORMAT fif;
    } names[] = {{L"cover.jpg", FIF_JPEG},     {L"cover.jpeg", FIF_JPEG}, {L"a/b.png", FIF_PNG},
                 {L"x.gif", FIF_GIF},          {L"x.bmp", FIF_BMP},       {L"cover.JPG", FIF_UNKNOWN},
                 {L"cover", FIF_UNKNOWN},      {L"", FIF_UNKNOWN},        {L"png", FIF_UNKNOWN},
                 {L"cover.jpg.svg", FIF_UNKNOWN}};
    for (const auto& n : names)
        EXPECT_EQ(Image::getType(tf::String(n.name)), n.fif);
}

TEST(ImageTest, RescalingKeepsTheAspectRatio) {
    struct Case {
        int w, h;
        bool byHeight;
        int target;
        int expectW, expectH;
    } cases[] = {
        {300, 400, true, 100, 75, 100},
        {333, 1000, true, 100, 33, 100},  // 33.3 truncated
        {5, 1000, true, 100, 1, 100},     // never narrower than one pixel
        {400, 300, false, 100, 100, 75},
        {1000, 333, false, 100, 100, 33},
        {40, 30, true, 300, 400, 300},    // enlarging
    };
    for (const auto& c : cases) {
        std::string png = make_png(c.w, c.h);
        Image img(bytes(png), size(png), FIF_PNG);
        ASSERT_FALSE(img.isEmpty());
        if (c.byHeight)
            img.setHeight(c.target);
        else
            img.setWidth(c.target);
        ASSERT_FALSE(img.isEmpty()) << c.w << "x" << c.h;
        EXPECT_EQ(img.width(), c.expectW) << c.w << "x" << c.h;
        EXPECT_EQ(img.height(), c.expectH) << c.w << "x" << c.h;
    }
}

TEST(ImageTest, SizesThatCannotBeMadeLeaveItEmpty) {
    struct Case {
        int w, h;
        bool empty;
    } cases[] = {{0, 0, true},     {-1, 10, true},         {10, -1, true},
                 {0, 10, true},    {100000, 100000, true}, {10, 20, false}};
    std::string png = make_png(16, 16);
    for (const auto& c : cases) {
        Image img(bytes(png), size(png), FIF_PNG);
        img.setSize(c.w, c.h);
        EXPECT_EQ(img.isEmpty(), c.empty) << c.w << "x" << c.h;
        if (!c.empty) {
            EXPECT_EQ(img.width(), c.w);
            EXPECT_EQ(img.height(), c.h);
        }
    }
    Image img(bytes(png), size(png), FIF_PNG);
    img.setHeight(0);
    EXPECT_TRUE(img.isEmpty());
    img.setHeight(10);  // an empty image stays empty
    EXPECT_TRUE(img.isEmpty());
}

TEST(ImageTest, WritesPalettePictureAs24BitPng) {
    TempDir dir;
    std::string gif = make_gif(20, 10, false);
    Image img(bytes(gif), size(gif), FIF_GIF);
    ASSERT_EQ(img.getBitmapInfo()->bmiHeader.biBitCount, 8);
    const std::string out = dir.path + "/cover.png";
    ASSERT_TRUE(img.writePNG(out));
    EXPECT_EQ(img.getBitmapInfo()->bmiHeader.biBitCount, 24);

    std::string written;
    tf::file_get_contents(out, written);
    Image back(bytes(written), size(written), FIF_UNKNOWN);
    ASSERT_FALSE(back.isEmpty());
    EXPECT_EQ(back.getFormat(), FIF_PNG);
    EXPECT_EQ(back.getBitmapInfo()->bmiHeader.biBitCount, 24);
    EXPECT_EQ(back.width(), 20);

    ASSERT_TRUE(img.writeBMP(dir.path + "/cover.bmp"));
    tf::file_get_contents(dir.path + "/cover.bmp", written);
    EXPECT_EQ(written.substr(0, 2), "BM");
}

TEST(ImageTest, SaveFailuresPrintTheDesignedLines) {
    TempDir dir;
    std::string png = make_png(4, 4);
    Image img(bytes(png), size(png), FIF_PNG);
    const std::string bad = dir.path + "/missing/folder/x.png";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(img.writePNG(bad));
    EXPECT_FALSE(img.writeBMP(bad));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FreeImage_Save() failed at writePNG: \"" + bad + "\"\nFreeImage_Save() failed at writeBMP: 0\n");
}

TEST(ImageTest, EncodesIntoMemory) {
    std::string png = make_png(12, 9, 32);
    Image img(bytes(png), size(png), FIF_PNG);
    unsigned char* data = nullptr;
    int length = 0;
    ASSERT_TRUE(img.getBuffer(&data, &length));  // as decoded: PNG
    ASSERT_GT(length, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), "\x89PNG");
    Image back(data, length, FIF_PNG);
    EXPECT_EQ(back.width(), 12);
    EXPECT_EQ(back.height(), 9);

    ASSERT_TRUE(img.getBuffer(&data, &length, FIF_BMP));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 2), "BM");

    // GIF output takes palette pictures only, not the 24-bit conversion.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(img.getBuffer(&data, &length, FIF_GIF));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FreeImage_SaveToMemory() failed at getBuffer\n");

    Image empty;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(empty.getBuffer(&data, &length));
    testing::internal::GetCapturedStdout();
}

TEST(ImageTest, DrawingPixelsAreTopDownBgraWithAlpha) {
    std::vector<uint8_t> px;
    int w = 0, h = 0;
    std::string png32 = make_png(3, 2, 32);
    Image alpha(bytes(png32), size(png32), FIF_PNG);
    ASSERT_TRUE(alpha.toRGBA32(px, w, h));
    ASSERT_EQ(w, 3);
    ASSERT_EQ(h, 2);
    ASSERT_EQ(px.size(), 3u * 2 * 4);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* p = &px[(y * 3 + x) * 4];
            EXPECT_EQ(p[0], 7) << x << "," << y;  // blue
            EXPECT_EQ(p[1], y) << x << "," << y;  // green
            EXPECT_EQ(p[2], x) << x << "," << y;  // red
            EXPECT_EQ(p[3], 255 - x) << x << "," << y;
        }

    std::string bmp = encode(make_bitmap(5, 4).get(), FIF_BMP);
    Image opaque(bytes(bmp), size(bmp), FIF_BMP);
    ASSERT_TRUE(opaque.toRGBA32(px, w, h));
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(px[1], 0);                   // top row has green 0
    EXPECT_EQ(px[(3 * 5) * 4 + 1], 3);     // bottom row has green 3
    EXPECT_EQ(opaque.getBitmapInfo()->bmiHeader.biBitCount, 24);  // unchanged

    std::string gif = make_gif(4, 4, true);
    Image keyed(bytes(gif), size(gif), FIF_GIF);
    ASSERT_TRUE(keyed.toRGBA32(px, w, h));
    EXPECT_EQ(px[3], 0);  // the transparent index, top-left

    Image empty;
    std::vector<uint8_t> untouched{1, 2};
    EXPECT_FALSE(empty.toRGBA32(untouched, w, h));
    EXPECT_EQ(untouched.size(), 2u);
}

TEST(ImageTest, SixteenBitGreyPngBecomesAnOrdinaryBitmap) {
    Bitmap grey(FreeImage_AllocateT(FIT_UINT16, 6, 5));
    for (unsigned y = 0; y < 5; ++y) {
        auto* line = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(grey.get(), y));
        for (unsigned x = 0; x < 6; ++x)
            line[x] = static_cast<uint16_t>(x * 10000);
    }
    std::string png = encode(grey.get(), FIF_PNG);
    ASSERT_FALSE(png.empty());
    Image img(bytes(png), size(png), FIF_UNKNOWN);
    ASSERT_FALSE(img.isEmpty());
    EXPECT_EQ(img.width(), 6);
    std::vector<uint8_t> px;
    int w, h;
    EXPECT_TRUE(img.toRGBA32(px, w, h));
    img.setHeight(10);
    EXPECT_EQ(img.width(), 12);
    TempDir dir;
    EXPECT_TRUE(img.writePNG(dir.path + "/grey.png"));
}

TEST(ImageTest, MovesWithoutSharingTheBitmap) {
    static_assert(!std::is_copy_constructible<Image>::value, "an image owns its bitmap");
    std::string png = make_png(7, 3);
    Image a(bytes(png), size(png), FIF_PNG);
    Image b(std::move(a));
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(b.width(), 7);
    Image c;
    c = std::move(b);
    EXPECT_TRUE(b.isEmpty());
    EXPECT_EQ(c.height(), 3);
    // Decoding again replaces the picture held.
    std::string other = make_png(2, 2);
    EXPECT_TRUE(c.readImage(bytes(other), size(other), FIF_PNG));
    EXPECT_EQ(c.width(), 2);
}

TEST(ImageTest, RealCoverJpegFromABookDecodesUnderAnyName) {
    tf::ZipFile zip;
    ASSERT_TRUE(zip.open(corpus_path("epub2-pg11-alice.epub")));
    zip.parse();
    std::string jpeg, name;
    for (const std::string& n : zip.getNames())
        if (zip.getEntry(n)->entryType() == ".jpg" || zip.getEntry(n)->entryType() == ".jpeg") {
            name = n;
            break;
        }
    ASSERT_FALSE(name.empty());
    ASSERT_GT(zip.getEntryData(name, jpeg), 0);
    Image byName(bytes(jpeg), size(jpeg), Image::getType(tf::String(name)));
    Image bySniffing(bytes(jpeg), size(jpeg), FIF_UNKNOWN);
    ASSERT_FALSE(byName.isEmpty());
    ASSERT_FALSE(bySniffing.isEmpty());
    EXPECT_EQ(bySniffing.getFormat(), FIF_JPEG);
    EXPECT_EQ(bySniffing.width(), byName.width());
    EXPECT_GT(byName.width(), 10);
}

}  // namespace
