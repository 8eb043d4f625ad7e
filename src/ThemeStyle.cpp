#include "src/ThemeStyle.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace tf {

namespace {

std::string hex(uint32_t rgb) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFFu));
    return buffer;
}

// Letters, digits, spaces and a few signs: anything else could end the declaration.
bool safeFamily(const std::string& family) {
    if (family.empty() || family.size() > ThemeStyle::kMaxFontFamily)
        return false;
    for (unsigned char c : family) {
        const bool ok = std::isalnum(c) || c == ' ' || c == '-' || c == '_' || c == '.' || c >= 0x80;
        if (!ok)
            return false;
    }
    return true;
}

double luminance(uint32_t rgb) {
    auto channel = [](uint32_t v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) + 0.0722 * channel(rgb & 0xFF);
}

struct Named {
    const char* name;
    int value;
};

const Named kThemes[] = {{"light", ThemeStyle::THEME_LIGHT},
                         {"sepia", ThemeStyle::THEME_SEPIA},
                         {"dark", ThemeStyle::THEME_DARK}};
const Named kWidths[] = {{"narrow", ThemeStyle::WIDTH_NARROW},
                         {"medium", ThemeStyle::WIDTH_MEDIUM},
                         {"wide", ThemeStyle::WIDTH_WIDE},
                         {"full", ThemeStyle::WIDTH_FULL}};

template <size_t N>
bool fromName(const Named (&table)[N], const std::string& name, int& out) {
    for (const Named& entry : table) {
        if (name == entry.name) {
            out = entry.value;
            return true;
        }
    }
    return false;
}

} // namespace

ThemeStyle::Colours ThemeStyle::colours(Theme theme) {
    switch (theme) {
    case THEME_SEPIA:
        return {0xF4ECD8, 0x4A3A2A, 0x8A3B12, 0xA89078};
    case THEME_DARK:
        return {0x1E1E1E, 0xDCDCDC, 0x8AB4F8, 0x5A5A5A};
    case THEME_LIGHT:
    default:
        return {0xFFFFFF, 0x000000, 0x0000FF, 0x808080};
    }
}

int ThemeStyle::widthEm(LineWidth width) {
    switch (width) {
    case WIDTH_NARROW:
        return 28;
    case WIDTH_MEDIUM:
        return 35;
    case WIDTH_WIDE:
        return 45;
    case WIDTH_FULL:
    default:
        return 0;
    }
}

const char* ThemeStyle::themeName(Theme theme) {
    for (const Named& entry : kThemes)
        if (entry.value == theme)
            return entry.name;
    return "light";
}

bool ThemeStyle::themeFromName(const std::string& name, Theme& out) {
    int value = 0;
    if (!fromName(kThemes, name, value))
        return false;
    out = static_cast<Theme>(value);
    return true;
}

const char* ThemeStyle::widthName(LineWidth width) {
    for (const Named& entry : kWidths)
        if (entry.value == width)
            return entry.name;
    return "medium";
}

bool ThemeStyle::widthFromName(const std::string& name, LineWidth& out) {
    int value = 0;
    if (!fromName(kWidths, name, value))
        return false;
    out = static_cast<LineWidth>(value);
    return true;
}

double ThemeStyle::contrast(uint32_t a, uint32_t b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool ThemeStyle::operator==(const ThemeStyle& other) const {
    return theme == other.theme && lineWidth == other.lineWidth && margin == other.margin &&
           lineSpacing == other.lineSpacing && fontFamily == other.fontFamily && overrideBook == other.overrideBook;
}

std::string ThemeStyle::css() const {
    const Colours c = colours();
    std::string css;
    // The page: margin, and what the book's elements inherit unless they set their own.
    css += "html { padding: " + std::to_string(std::clamp(margin, kMinMargin, kMaxMargin)) + "px";
    if (theme != THEME_LIGHT)
        css += "; background-color: " + hex(c.page) + "; color: " + hex(c.text);
    const bool family = safeFamily(fontFamily);
    if (family)
        css += "; font-family: \"" + fontFamily + "\"";
    std::string spacing;
    if (lineSpacing > 0) {
        const int percent = std::clamp(lineSpacing, kMinLineSpacing, kMaxLineSpacing);
        spacing = std::to_string(percent / 100) + "." + (percent % 100 < 10 ? "0" : "") + std::to_string(percent % 100);
        css += "; line-height: " + spacing;
    }
    css += " }\n";

    const int em = widthEm(lineWidth);
    if (em > 0)
        css += "body { max-width: " + std::to_string(em) + "em; margin-left: auto; margin-right: auto }\n";

    if (overrideBook) {
        if (family)
            css += "body, body * { font-family: \"" + fontFamily + "\" }\n"
                   "pre, code, tt, kbd, samp, pre *, code * { font-family: monospace }\n";
        if (!spacing.empty())
            css += "body, body * { line-height: " + spacing + " }\n";
    }

    if (theme != THEME_LIGHT) {
        // Sheets layered last win over the book's whatever their selectors:
        // every element takes the theme's colours; boxes become see-through
        // so no light box of the book stays behind light text. Pictures are
        // drawn as they are.
        css += "body { background-color: " + hex(c.page) + "; color: " + hex(c.text) + " }\n";
        css += "body * { color: " + hex(c.text) + "; background-color: transparent; border-color: " +
               hex(c.border) + " }\n";
        css += "a[href], a[href] * { color: " + hex(c.link) + " }\n";
        css += "hr { border-color: " + hex(c.border) + " }\n";
    }
    return css;
}

} // namespace tf
