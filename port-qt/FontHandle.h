#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QStringList>

#include <string>
#include <unordered_map>

namespace tf {

// One font the engine asked for: the Qt font, its metrics and the widths of
// the words measured with it. It belongs to one engine document, which is laid
// out and painted by one thread at a time, so it needs no lock of its own.
class FontHandle {
public:
    FontHandle(const QFont& font);

    const QFont& font() const { return m_font; }
    const QFontMetricsF& metrics() const { return m_metrics; }
    // Whole pixels from the top of a line box to the baseline, and below it.
    int ascent() const { return m_ascent; }
    int descent() const { return m_descent; }

    // Advance width of UTF-8 text in whole pixels; repeated words come from a cache.
    int width(const char* utf8);

    // The families of a CSS font-family value, in order, without quotes; the
    // generic names become the font-configuration aliases Qt understands.
    static QStringList families(const std::string& cssValue);
    // The style hint for a generic family name (serif, sans-serif, ...), if any.
    static bool styleHint(const QString& family, QFont::StyleHint& hint);

private:
    QFont m_font;
    QFontMetricsF m_metrics;
    int m_ascent = 0;
    int m_descent = 0;
    std::unordered_map<std::string, int> m_widths;
};

} // namespace tf
