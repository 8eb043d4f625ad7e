#pragma once

#include <map>
#include <string>

#include "utility/String.h"

namespace tf {

// A parsed internal address: "epub://OEBPS/ch1.xhtml#sec", "fb2://#img1",
// "content://cover.png", "cmd://delete?file=...", or a plain path (protocol "file").
// Parsing keeps names and values exactly as written (member() and resolve()
// decode percent-escapes; entry names travel escaped, see entryAddress). A plain
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

    // The folder address of the path alone ("epub://OEBPS/Text", "epub://" for a
    // member at the book's root, "/books" on disk, "." for a bare name): what the
    // references of this address's document are resolved against. A "/" inside
    // the fragment or query does not count.
    String folder() const;
    // Inside a book the path with its percent-escapes decoded and its dot
    // segments resolved: the entry name the reader knows. A plain path as it is.
    String member() const;

    // The one resolver for references found in a book's documents and style
    // sheets: `ref` against the folder address `base` (as folder() gives it).
    // "data:" text and foreign addresses ("x://", mailto:, tel:, a drive) come
    // back as written, "" stays ""; a colon inside a name starts no scheme. The fragment and query stay as written; only the
    // path loses its dot segments. Inside a book (a base with "scheme://") the
    // result names a member: percent-escapes decoded, then "%", "#" and "?"
    // escaped again (escape), a leading "/" is the book's root and ".." never
    // climbs above it. On disk the result is the file's own path (decoded).
    static String resolve(const String& ref, const String& base);
    // Every "%XX" with two hex digits becomes that code unit; the rest stays.
    static String decode(const String& text);
    // A name made safe to stand in an address's path: "%", "#" and "?" escaped.
    static String escape(const String& name);
    // An address inside a book for a reader's entry name: scheme + "://" + escape(name).
    static String entryAddress(const std::string& scheme, const std::string& name);
    // A reference relative to a book's root as the member name it means:
    // decoded, "." and ".." resolved (never above the root), no empty segments.
    static std::string memberName(const std::string& ref);
    // `path` with "." and ".." segments resolved below its first `root` code
    // units, which ".." never climbs above; with `keepClimbs` a ".." that has
    // nothing left to remove stays (a relative path), otherwise it is dropped.
    // With `dotIsName` a "." is a segment like any other name.
    static String removeDots(const String& path, size_t root, bool keepClimbs, bool dotIsName = false);

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
