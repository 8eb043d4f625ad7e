#pragma once

#include <cstdint>
#include <string>

namespace tf {

// The reader's choices for how every page looks, turned into a style sheet
// the renderer layers after the book's own: the theme's page, text, link and
// border colours, the line width (a centred column), the page margin, line
// spacing and a font family for books that set none.
//
// Light keeps the book's colours; Sepia and Dark override them everywhere
// (books often set dark text or light boxes that would vanish on a dark page)
// and leave pictures alone. The book's fonts and spacing are kept unless
// `overrideBook` is set. A plain value: copy it freely between threads.
class ThemeStyle {
public:
    enum Theme { THEME_LIGHT, THEME_SEPIA, THEME_DARK };
    enum LineWidth { WIDTH_NARROW, WIDTH_MEDIUM, WIDTH_WIDE, WIDTH_FULL };

    // Colours as 0xRRGGBB.
    struct Colours {
        uint32_t page;
        uint32_t text;
        uint32_t link;
        uint32_t border;
    };

    static constexpr int kMinMargin = 0;
    static constexpr int kMaxMargin = 200;
    static constexpr int kDefaultMargin = 30;
    // Line spacing in percent of the font size; 0 leaves it to the book.
    static constexpr int kMinLineSpacing = 100;
    static constexpr int kMaxLineSpacing = 300;
    static constexpr size_t kMaxFontFamily = 100;

    Theme theme = THEME_LIGHT;
    LineWidth lineWidth = WIDTH_MEDIUM;
    int margin = kDefaultMargin;  // pixels around the page
    int lineSpacing = 0;
    std::string fontFamily;       // "" : the view's default font
    bool overrideBook = false;

    // The style sheet for these choices (values out of range are clamped,
    // a font family with characters outside a name's is left out).
    std::string css() const;
    Colours colours() const { return colours(theme); }
    static Colours colours(Theme theme);

    // The column's largest width in em of the default font; 0 for full width.
    static int widthEm(LineWidth width);

    // Names as the settings and the command line spell them ("light", "medium").
    static const char* themeName(Theme theme);
    static bool themeFromName(const std::string& name, Theme& out);
    static const char* widthName(LineWidth width);
    static bool widthFromName(const std::string& name, LineWidth& out);

    // WCAG contrast ratio of two colours (1 .. 21).
    static double contrast(uint32_t a, uint32_t b);

    bool operator==(const ThemeStyle& other) const;
    bool operator!=(const ThemeStyle& other) const { return !(*this == other); }
};

} // namespace tf
