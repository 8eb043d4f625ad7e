#include "FontHandle.h"

#include <QString>
#include <QtMath>

namespace tf {

namespace {

// Words longer than this are measured every time: they rarely repeat.
constexpr size_t kCachedWordLength = 64;

} // namespace

FontHandle::FontHandle(const QFont& font)
    : m_font(font), m_metrics(font), m_ascent(qCeil(m_metrics.ascent())), m_descent(qCeil(m_metrics.descent())) {}

int FontHandle::width(const char* utf8) {
    if (!utf8 || !*utf8)
        return 0;
    const size_t length = std::char_traits<char>::length(utf8);
    if (length <= kCachedWordLength) {
        std::string key(utf8, length);
        auto it = m_widths.find(key);
        if (it != m_widths.end())
            return it->second;
        int w = qRound(m_metrics.horizontalAdvance(QString::fromUtf8(utf8, static_cast<qsizetype>(length))));
        m_widths.emplace(std::move(key), w);
        return w;
    }
    // No length limit: a long URL or a line of CJK text is one run.
    return qRound(m_metrics.horizontalAdvance(QString::fromUtf8(utf8, static_cast<qsizetype>(length))));
}

bool FontHandle::styleHint(const QString& family, QFont::StyleHint& hint) {
    const QString f = family.toLower();
    if (f == QLatin1String("serif"))
        hint = QFont::Serif;
    else if (f == QLatin1String("sans-serif") || f == QLatin1String("sans serif") || f == QLatin1String("sans"))
        hint = QFont::SansSerif;
    else if (f == QLatin1String("monospace"))
        hint = QFont::Monospace;
    else if (f == QLatin1String("cursive"))
        hint = QFont::Cursive;
    else if (f == QLatin1String("fantasy"))
        hint = QFont::Fantasy;
    else
        return false;
    return true;
}

QStringList FontHandle::families(const std::string& cssValue) {
    QStringList out;
    QString current;
    QChar quote;
    auto flush = [&]() {
        QString name = current.trimmed();
        current.clear();
        if (name.isEmpty())
            return;
        QFont::StyleHint hint;
        if (styleHint(name, hint)) {
            switch (hint) {
            case QFont::Serif:
                name = QStringLiteral("Serif");
                break;
            case QFont::SansSerif:
                name = QStringLiteral("Sans Serif");
                break;
            case QFont::Monospace:
                name = QStringLiteral("Monospace");
                break;
            default:
                break;
            }
        }
        if (!out.contains(name, Qt::CaseInsensitive))
            out.push_back(name);
    };
    const QString value = QString::fromUtf8(cssValue.data(), static_cast<qsizetype>(cssValue.size()));
    for (QChar c : value) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                current += c;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char(',')) {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return out;
}

} // namespace tf
