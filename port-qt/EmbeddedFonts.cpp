#include "EmbeddedFonts.h"

#include <QCryptographicHash>
#include <QFontDatabase>

#include <cctype>

#include "utility/text.h"

namespace tf {

namespace {

// Fonts registered in this process, by digest: a book opened twice adds nothing.
std::mutex g_registryMutex;
std::map<QByteArray, QStringList> g_registry;

std::string unquote(std::string value) {
    trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return trim(value);
}

std::string withoutComments(const std::string& css) {
    std::string out;
    out.reserve(css.size());
    for (size_t i = 0; i < css.size();) {
        if (css.compare(i, 2, "/*") == 0) {
            const size_t end = css.find("*/", i + 2);
            i = end == std::string::npos ? css.size() : end + 2;
        } else {
            out += css[i++];
        }
    }
    return out;
}

// The value of `name` inside one declaration block, "" when absent.
std::string declaration(const std::string& block, const std::string& name) {
    const std::string lower = str2lower(block);
    for (size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
        // A whole property name: not the tail of another one.
        if (at > 0 && (std::isalnum(static_cast<unsigned char>(lower[at - 1])) || lower[at - 1] == '-'))
            continue;
        size_t colon = at + name.size();
        while (colon < block.size() && std::isspace(static_cast<unsigned char>(block[colon])))
            ++colon;
        if (colon >= block.size() || block[colon] != ':')
            continue;
        const size_t end = block.find(';', colon);
        return block.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    }
    return std::string();
}

} // namespace

QStringList EmbeddedFonts::add(const std::string& entry, const QByteArray& bytes) {
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    QStringList families;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        auto it = g_registry.find(digest);
        if (it != g_registry.end()) {
            families = it->second;
        } else {
            const int id = QFontDatabase::addApplicationFontFromData(bytes);
            if (id >= 0)
                families = QFontDatabase::applicationFontFamilies(id);
            g_registry.emplace(digest, families);
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!families.isEmpty())
        m_entries[entry] = families;
    return families;
}

void EmbeddedFonts::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_aliases.clear();
}

bool EmbeddedFonts::alias(const std::string& alias, const std::string& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(entry);
    if (it == m_entries.end() || it->second.isEmpty() || alias.empty())
        return false;
    m_aliases[QString::fromUtf8(alias.data(), static_cast<qsizetype>(alias.size())).toLower()] = it->second.front();
    return true;
}

QStringList EmbeddedFonts::apply(const QStringList& families) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_aliases.empty())
        return families;
    QStringList out;
    for (const QString& family : families) {
        auto it = m_aliases.find(family.toLower());
        const QString& name = it == m_aliases.end() ? family : it->second;
        if (!out.contains(name, Qt::CaseInsensitive))
            out.push_back(name);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> EmbeddedFonts::fontFaces(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> faces;
    const std::string css = withoutComments(text);
    const std::string lower = str2lower(css);
    for (size_t at = lower.find("@font-face"); at != std::string::npos; at = lower.find("@font-face", at + 1)) {
        const size_t open = css.find('{', at);
        if (open == std::string::npos)
            break;
        const size_t close = css.find('}', open);
        const std::string block = css.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        const std::string family = unquote(declaration(block, "font-family"));
        const std::string src = declaration(block, "src");
        const size_t url = str2lower(src).find("url(");
        if (family.empty() || url == std::string::npos)
            continue;
        const size_t end = src.find(')', url + 4);
        if (end == std::string::npos)
            continue;
        const std::string ref = unquote(src.substr(url + 4, end - url - 4));
        if (!ref.empty())
            faces.emplace_back(family, ref);
    }
    return faces;
}

} // namespace tf
