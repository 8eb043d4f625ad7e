#pragma once

#include <map>
#include <string>

#include "utility/String.h"

namespace tf {

// A parsed internal address: "epub://OEBPS/ch1.xhtml#sec", "fb2://#img1",
// "content://cover.png", "cmd://delete?file=...", or a plain path (protocol "file").
// Names and values stay exactly as written: nothing is percent-decoded. A plain
// path naming an existing file is all path, "#" and "?" in the name included.
class URI {
public:
    // Resource types by the ending of the path; the values are fixed (7 is unused).
    enum {
        RT_UNKNOWN = 0,
        RT_HTML = 1,
        RT_CSS = 2,
        RT_XML = 3,
        RT_SVG = 4,
        RT_EPUB = 5,
        RT_FB2 = 6,
        RT_JPG = 8,
        RT_GIF = 9,
        RT_PNG = 10,
        RT_BMP = 11,
    };

    URI() = default;
    URI(const String& address);
    virtual ~URI() = default;

    // True when the protocol equals `protocol` byte for byte.
    bool is(const std::string& protocol) const;
    // True when the path is empty.
    bool empty() const;
    // One of the RT_* values, from the ending of the path (ASCII case ignored).
    int rtype() const;
    // The whole address up to its last separator, or "." when it has none.
    // An empty separator stands for File::separator; with several characters, any of them counts.
    String parent(const String& separator = String()) const;
    // A query parameter, or "" when there is none.
    String getString(const String& name) const;
    // A query parameter as a decimal number; `fallback` when it is missing or empty.
    int getInt(const String& name, int fallback) const;
    // True when the paths differ; false when they are equal or `other` is null.
    bool compare(const URI* other) const;
    // Diagnostic text: the fields on one line, then one line per parameter.
    std::string str() const;

    // `url` resolved against the folder address `base`. Absolute paths, addresses with a
    // scheme or a drive, and any url against the base "." come back unchanged.
    // An empty separator stands for File::separator.
    static String realpath(const String& url, const String& base,
                           const String& separator = String("/"));
    // `path` with its ".." segments resolved. Paths without a "/.." come back unchanged;
    // the scheme's "//" (or a leading "/") is a root that ".." never climbs above.
    static String normalize(const String& path);

    String m_uri;
    std::string m_protocol;
    String m_path;
    String m_hash;
    String m_query;
    std::map<String, String> m_params;
};

} // namespace tf
