#include "utility/URI.h"

#include <algorithm>
#include <cwctype>
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

    // Only whole ".." segments count ("..x" and "a..b" are names).
    bool has_parent_ref = false;
    for (size_t from = rest; !has_parent_ref;) {
        size_t slash = s.find(L'/', from);
        has_parent_ref = s.compare(from, slash == npos ? npos : slash - from, L"..") == 0;
        if (slash == npos)
            break;
        from = slash + 1;
    }
    if (!has_parent_ref)
        return path;
    return removeDots(path, rest, rest == 0); // a relative path may climb out of its own folder
}

String URI::removeDots(const String& path, size_t root, bool keepClimbs, bool dotIsName) {
    const std::wstring& s = path;
    root = std::min(root, s.size());
    std::vector<std::wstring> segments;
    for (size_t from = root;;) {
        size_t slash = s.find(L'/', from);
        segments.push_back(s.substr(from, slash == npos ? npos : slash - from));
        if (slash == npos)
            break;
        from = slash + 1;
    }

    std::vector<std::wstring> out;
    for (size_t i = 0; i < segments.size(); ++i) {
        const std::wstring& seg = segments[i];
        const bool last = i + 1 == segments.size();
        if (seg == L"." && !dotIsName) {
            if (last)
                out.emplace_back();
            continue;
        }
        if (seg == L"..") {
            if (!out.empty() && out.back() != L"..")
                out.pop_back();
            else if (keepClimbs)
                out.push_back(seg);
            // A trailing ".." names a folder: keep the folder's "/".
            if (last && (out.empty() || out.back() != L".."))
                out.emplace_back();
            continue;
        }
        out.push_back(seg);
    }

    std::wstring result = s.substr(0, root);
    for (size_t i = 0; i < out.size(); ++i) {
        if (i > 0)
            result += L'/';
        result += out[i];
    }
    if (result.empty())
        return String("."); // "x/.." is the current folder
    return String(result);
}

String URI::folder() const {
    if (m_protocol.empty() || is("file")) {
        size_t slash = static_cast<const std::wstring&>(m_path).find_last_of(File::separator);
        return slash == npos ? String(".") : String(m_path.substr(0, slash));
    }
    const std::wstring root = String(m_protocol) + std::wstring(L"://");
    size_t slash = static_cast<const std::wstring&>(m_path).rfind(L'/');
    return slash == npos ? String(root) : String(root + m_path.substr(0, slash));
}

String URI::member() const {
    if (m_protocol.empty() || is("file"))
        return m_path; // a path on disk is written as the file is named
    return String(memberName(m_path.str()));
}

String URI::decode(const String& text) {
    const std::wstring& s = text;
    if (s.find(L'%') == npos)
        return text;
    auto hex = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    };
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<wchar_t>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return String(out);
}

String URI::escape(const String& name) {
    const std::wstring& s = name;
    if (s.find_first_of(L"%#?") == npos)
        return name;
    std::wstring out;
    out.reserve(s.size() + 6);
    for (wchar_t c : s) {
        switch (c) {
        case L'%': out += L"%25"; break;
        case L'#': out += L"%23"; break;
        case L'?': out += L"%3F"; break;
        default: out += c; break;
        }
    }
    return String(out);
}

String URI::entryAddress(const std::string& scheme, const std::string& name) {
    return String(scheme + "://") + escape(String(name));
}

std::string URI::memberName(const std::string& ref) {
    const std::string name = ref.find('%') == std::string::npos ? ref : String(decode(String(ref))).str();
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        std::string seg = name.substr(start, slash - start);
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back(); // never above the book's root
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(std::move(seg));
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

namespace {

// "http://...", "mailto:...", "C:\\...": a reference that names its own scheme or
// drive. A colon elsewhere ("chapter:1.xhtml") is part of a relative name.
bool has_own_scheme(const std::wstring& ref) {
    if (ref.empty() || !std::iswalpha(ref[0]))
        return false;
    size_t colon = 1;
    while (colon < ref.size() && (std::iswalnum(ref[colon]) || ref[colon] == L'+' || ref[colon] == L'-' ||
                                  ref[colon] == L'.'))
        ++colon;
    if (colon >= ref.size() || ref[colon] != L':')
        return false;
    if (ref.compare(colon, 3, L"://") == 0)
        return true;
    if (colon == 1) // a drive
        return colon + 1 < ref.size() && (ref[colon + 1] == L'\\' || ref[colon + 1] == L'/');
    static const wchar_t* const kOpaque[] = {L"mailto", L"tel", L"javascript", L"about", L"urn"};
    const String scheme = String(ref.substr(0, colon)).lc();
    for (const wchar_t* name : kOpaque)
        if (scheme == String(name))
            return true;
    return false;
}

} // namespace

String URI::resolve(const String& ref, const String& base) {
    const std::wstring& r = ref;
    if (r.empty())
        return ref;
    if (r.size() >= 5 && String(r.substr(0, 5)).lc() == String("data:"))
        return ref;

    // Path, then query and fragment as written: a "/../" or "?" inside a fragment is no path.
    auto split = [](const std::wstring& text, std::wstring& path, std::wstring& tail) {
        size_t cut = text.find_first_of(L"?#");
        path = text.substr(0, cut);
        tail = cut == npos ? std::wstring() : text.substr(cut);
    };
    auto inBook = [](const std::wstring& scheme, const std::wstring& path, const std::wstring& tail) {
        return String(scheme + L"://") + escape(String(memberName(String(path).str()))) + String(tail);
    };

    std::wstring path, tail;
    size_t scheme = r.find(L"://");
    if (has_own_scheme(r)) {
        // Another book address is made canonical; any other scheme is not ours to read.
        if (scheme != npos && (r.compare(0, scheme, L"epub") == 0 || r.compare(0, scheme, L"fb2") == 0)) {
            split(r.substr(scheme + 3), path, tail);
            return inBook(r.substr(0, scheme), path, tail);
        }
        return ref;
    }

    const std::wstring& b = base;
    split(r, path, tail);
    size_t baseScheme = b.find(L"://");
    std::wstring schemeName;
    std::wstring folder;
    if (baseScheme != npos) {
        schemeName = b.substr(0, baseScheme);
        folder = b.substr(baseScheme + 3);
    } else if (b.size() > 2 && b.compare(b.size() - 2, 2, L":/") == 0 && b.find(L'/') == b.size() - 1 &&
               b.find(L':') == b.size() - 2) {
        schemeName = b.substr(0, b.size() - 2); // "epub:/", the parent of a member at the root
    }
    if (!schemeName.empty() || baseScheme != npos) {
        // Inside a book a leading "/" is the book's root, never the disk's.
        std::wstring joined = !path.empty() && path[0] == L'/' ? path : folder + L"/" + path;
        return inBook(schemeName, joined, tail);
    }

    // On disk: the file's own name, decoded.
    std::wstring file = String(decode(String(path)));
    if (!file.empty() && file[0] != L'/' && !b.empty() && b != L".") {
        const std::wstring& sep = File::separator;
        file = (b.size() >= sep.size() && b.compare(b.size() - sep.size(), sep.size(), sep) == 0 ? b : b + sep) + file;
    }
    size_t root = !file.empty() && file[0] == L'/' ? 1 : 0;
    String clean = removeDots(String(file), root, root == 0);
    return String(static_cast<const std::wstring&>(clean) + tail);
}

} // namespace tf
