#include "utility/URI.h"

#include <sstream>
#include <vector>

#include "utility/File.h"
#include "utility/text.h"

namespace tf {

namespace {

const std::wstring::size_type npos = std::wstring::npos;

const String& effective_separator(const String& separator) {
    return separator.empty() ? File::separator : separator;
}

} // namespace

URI::URI(const String& address) : m_uri(address), m_protocol("file"), m_path(address) {
    const std::wstring& s = address;
    if (s.empty())
        return;

    size_t start = 0;
    size_t p = s.find(L"://");
    if (p != npos) {
        m_protocol = String(s.substr(0, p)).str();
        start = p + 3;
    }

    // A plain path that names an existing file is that file, even where its
    // name holds "#" or "?" (books are saved under such names); a fragment
    // after such a name starts at the "#" that follows it.
    if (p == npos && s.find_first_of(L"#?") != npos) {
        auto isFile = [](const std::wstring& path) {
            const File file{String(path)};
            return file.exist() && !file.isDirectory();
        };
        if (isFile(s))
            return;
        for (size_t h = s.rfind(L'#'); h != npos && h > 0; h = s.rfind(L'#', h - 1)) {
            if (isFile(s.substr(0, h))) {
                m_path = String(s.substr(0, h));
                m_hash = String(s.substr(h + 1));
                return;
            }
        }
    }

    // The fragment is cut first, so a "?" inside it never starts a query.
    size_t h = s.find(L'#');
    if (h != npos)
        m_hash = String(s.substr(h + 1));
    if (h != npos && h >= start)
        m_path = String(s.substr(start, h - start));
    else
        m_path = String(s.substr(start));

    size_t q = static_cast<const std::wstring&>(m_path).find(L'?');
    if (q != npos) {
        m_query = String(m_path.substr(q + 1));
        m_path = String(m_path.substr(0, q));
    }

    for (const String& piece : m_query.explode(L'&')) {
        std::vector<String> kv = piece.explode(L'=');
        if (kv.size() == 2 && !kv[0].empty())
            m_params[kv[0]] = kv[1];
    }
}

bool URI::is(const std::string& protocol) const {
    return m_protocol == protocol;
}

bool URI::empty() const {
    return m_path.empty();
}

int URI::rtype() const {
    static const struct {
        const wchar_t* ending;
        int type;
    } kEndings[] = {
        {L".jpg", RT_JPG},   {L".jpeg", RT_JPG},   {L".png", RT_PNG},   {L".gif", RT_GIF},
        {L".bmp", RT_BMP},   {L".html", RT_HTML},  {L".xhtml", RT_HTML}, {L".htm", RT_HTML},
        {L".css", RT_CSS},   {L".xml", RT_XML},    {L".svg", RT_SVG},   {L".fb2", RT_FB2},
        // Zipped FictionBook is how such books usually travel; the reader opens the archive.
        {L".fb2.zip", RT_FB2}, {L".epub", RT_EPUB}, {L".epub3", RT_EPUB},
    };
    String lower = m_path.lc();
    for (const auto& e : kEndings) {
        if (lower.endsWith(String(e.ending)))
            return e.type;
    }
    return RT_UNKNOWN;
}

String URI::parent(const String& separator) const {
    const String& sep = effective_separator(separator);
    size_t pos = static_cast<const std::wstring&>(m_uri).find_last_of(sep);
    if (pos == npos)
        return String(".");
    return String(m_uri.substr(0, pos));
}

String URI::getString(const String& name) const {
    auto it = m_params.find(name);
    return it == m_params.end() ? String() : it->second;
}

int URI::getInt(const String& name, int fallback) const {
    String value = getString(name);
    if (value.empty())
        return fallback;
    return str2int(value.str().c_str());
}

bool URI::compare(const URI* other) const {
    if (!other)
        return false;
    return m_path != other->m_path;
}

std::string URI::str() const {
    std::ostringstream out;
    out << "[m_uri=\"" << m_uri.str() << "\", m_protocol=\"" << m_protocol << "\", m_query=\""
        << m_query.str() << "\", m_hash=\"" << m_hash.str() << "\", m_path=\"" << m_path.str()
        << "\"]\n";
    for (const auto& param : m_params)
        out << param.first.str() << "=" << param.second.str() << "\n";
    return out.str();
}

String URI::realpath(const String& url, const String& base, const String& separator) {
    const std::wstring& u = url;
    if (u.empty() || u[0] == L'/')
        return url;
    if (u.find(L"://") != npos || u.find(L":\\") != npos)
        return url;
    if (base == String("."))
        return url;
    const std::wstring& b = base;
    if (!b.empty() && b.back() == L'/')
        return normalize(String(b + u));
    return normalize(String(b + static_cast<const std::wstring&>(effective_separator(separator)) + u));
}

String URI::normalize(const String& path) {
    const std::wstring& s = path;
    if (s.find(L"/..") == npos)
        return path;

    // The root that ".." never climbs above: a scheme's "xxx://" or a leading "/".
    // Climbing above it would turn "epub://../a" into the different address "epub:/a".
    size_t rest = 0;
    size_t p = s.find(L"://");
    if (p != npos && s.find(L'/') >= p)
        rest = p + 3;
    else if (s[0] == L'/')
        rest = 1;
    const bool rooted = rest > 0;

    std::vector<std::wstring> segments;
    for (size_t from = rest;;) {
        size_t slash = s.find(L'/', from);
        segments.push_back(s.substr(from, slash == npos ? npos : slash - from));
        if (slash == npos)
            break;
        from = slash + 1;
    }

    // Only whole ".." segments count ("..x" and "a..b" are names).
    bool has_parent_ref = false;
    for (const auto& seg : segments)
        has_parent_ref = has_parent_ref || seg == L"..";
    if (!has_parent_ref)
        return path;

    std::vector<std::wstring> out;
    for (size_t i = 0; i < segments.size(); ++i) {
        const std::wstring& seg = segments[i];
        const bool last = i + 1 == segments.size();
        if (seg == L".") {
            if (last)
                out.emplace_back();
            continue;
        }
        if (seg == L"..") {
            if (!out.empty() && out.back() != L"..")
                out.pop_back();
            else if (!rooted)
                out.push_back(seg); // a relative path may climb out of its own folder
            // A trailing ".." names a folder: keep the folder's "/".
            if (last && (out.empty() || out.back() != L".."))
                out.emplace_back();
            continue;
        }
        out.push_back(seg);
    }

    std::wstring result = s.substr(0, rest);
    for (size_t i = 0; i < out.size(); ++i) {
        if (i > 0)
            result += L'/';
        result += out[i];
    }
    if (result.empty())
        return String("."); // "x/.." is the current folder
    return String(result);
}

} // namespace tf
