// Damaged copies of every corpus book, made by a fixed-seed generator and run
// through the whole toolkit-free path: the reader factory, open, parse,
// contents, reading order, cover page, every entry and font, and (for some)
// the book widget with the deterministic test view. A variant passes when it
// ends: no crash, no hang, no sanitizer report. The program stays within a
// few seconds (a minute under the sanitizers): change the counts below with
// that in mind. ORINEL_ROBUSTNESS_TRACE=1 names each variant on the standard
// error stream before it runs, so a crash can be traced to its variant, and
// ORINEL_ROBUSTNESS_ONLY=<text> runs only the variants whose name holds it.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "../render/TestView.h"
#include "Repeat.h"
#include "Rng.h"
#include "TempDir.h"
#include "ZipBuilder.h"
#include "corpus.h"
#include "readers/BaseReader.h"
#include "utility/Image.h"
#include "utility/ZipFile.h"
#include "utility/text.h"

namespace {

constexpr uint64_t kSeed = 0x5EEDB00C2024ull;
// Per book: random cuts (besides six fixed ones), scattered byte flips and
// overwritten runs of the file.
constexpr int kTruncations = 3;
constexpr int kByteFlips = 6;
constexpr int kRandomRuns = 3;
// Per XML member of a package or per text book: flipped, cut or spliced text.
constexpr int kTextMutations = 2;
// Every n-th variant is also opened by the book widget (hostile pages always are).
constexpr int kWidgetEvery = 9;
// Chapters the widget steps through after the cover page.
constexpr int kWidgetChapters = 2;
// Nesting and repetition of the hostile documents.
constexpr int kDeepNesting = 100000;
constexpr int kManyRepeats = 1000;
// What a deflated chapter of a few kilobytes inflates to.
constexpr size_t kBombBytes = 20u << 20;
// Books larger than this (unpacked) are not rebuilt with damaged members.
constexpr size_t kMaxRebuiltBytes = 4u << 20;
// Entries fetched per variant: more than any real book's reading order, fewer
// than a hostile package lists.
constexpr size_t kMaxEntries = 256;
// A variant still running after this long counts as hung.
constexpr double kMaxSecondsPerVariant = 30.0;
// Peak memory of the whole program (some 200 MiB, a gigabyte under the
// sanitizers); a parse or layout growing without bound passes it.
constexpr long kMaxPeakRssMiB = 3072;

uint64_t seedFor(const std::string& book) {
    uint64_t h = kSeed;
    for (unsigned char c : book)
        h = (h ^ c) * 0x100000001B3ull;
    return h;
}

std::string lower(std::string s) { return tf::str2lower(std::move(s)); }

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// ---- damage ----------------------------------------------------------------

std::string truncated(const std::string& bytes, size_t at) { return bytes.substr(0, std::min(at, bytes.size())); }

// XOR-s `count` bytes, each with a non-zero mask, at positions in [from, to).
std::string flipped(std::string bytes, Rng& rng, size_t count, size_t from, size_t to) {
    if (bytes.empty() || from >= to)
        return bytes;
    to = std::min(to, bytes.size());
    for (size_t k = 0; k < count; ++k)
        bytes[from + rng.below(to - from)] ^= static_cast<char>(1 + rng.below(255));
    return bytes;
}

std::string overwritten(std::string bytes, Rng& rng, size_t length) {
    if (bytes.empty())
        return bytes;
    size_t at = rng.below(bytes.size());
    std::string run = rng.bytes(std::min(length, bytes.size() - at));
    bytes.replace(at, run.size(), run);
    return bytes;
}

std::string spliced(std::string bytes, Rng& rng, const std::string& insert) {
    bytes.insert(rng.below(bytes.size() + 1), insert);
    return bytes;
}

// Text whose XML declaration names `encoding` (a declaration is added when there is none).
std::string redeclared(const std::string& text, const std::string& encoding) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>";
    if (text.compare(0, 5, "<?xml") == 0) {
        size_t end = text.find("?>");
        if (end != std::string::npos)
            return decl + text.substr(end + 2);
    }
    return decl + "\n" + text;
}

// Every value of `attribute` ("href", "src", "full-path") replaced by `value`.
std::string withAttribute(std::string text, const std::string& attribute, const std::string& value) {
    const std::string key = attribute + "=\"";
    size_t pos = 0;
    while ((pos = text.find(key, pos)) != std::string::npos) {
        if (pos > 0 && !tf::is_space(text[pos - 1]) && text[pos - 1] != ':') {
            pos += key.size();
            continue;
        }
        size_t start = pos + key.size();
        size_t end = text.find('"', start);
        if (end == std::string::npos)
            break;
        text.replace(start, end - start, value);
        pos = start + value.size();
    }
    return text;
}

// Member paths and references as damaged or hostile packages write them.
const std::vector<std::string>& oddPaths() {
    static const std::vector<std::string> paths = {
        "../../x",
        "/etc/passwd",
        "/OEBPS/content.opf",
        "",
        std::string(5000, 'a') + ".xhtml",
        "%zz%00%2e%2e%2F%2e%2e%5cx%",
        "%2e%2e/%2e%2e/%2e%2e/etc/passwd",
        "a/./../../b/../../../c.xhtml",
        "#",
        "file:///dev/zero",
        "epub://../../x",
        "\xC3\x28\xFF\xFE.xhtml",
        repeat("../", 3000) + "x",
        "META-INF/container.xml",
    };
    return paths;
}

// Documents that push a parser: deep, wide, repetitive or badly encoded.
struct Hostile {
    const char* name;
    std::function<std::string()> make;
};

const std::vector<Hostile>& hostileDocuments() {
    static const std::vector<Hostile> docs = {
        {"deep-closed", [] {
             return "<?xml version=\"1.0\"?><html><body>" + repeat("<div>", kDeepNesting) + "x" +
                    repeat("</div>", kDeepNesting) + "</body></html>";
         }},
        {"deep-open", [] { return "<html><body>" + repeat("<div><span>", kDeepNesting / 2) + "x"; }},
        {"deep-selfclosing", [] {
             return "<?xml version=\"1.0\"?><html><body>" + repeat("<div/><p>x</p>", kManyRepeats) + "</body></html>";
         }},
        {"misnested", [] { return "<html><body>" + repeat("<span><div></span>", kManyRepeats) + "</body></html>"; }},
        {"formatting", [] {
             std::string page = "<html><body><p>";
             for (int i = 0; i < 64; ++i)
                 page += "<b id=\"b" + std::to_string(i) + "\">";
             return page + repeat("<div>x</div>", kManyRepeats / 4);
         }},
        {"stray-end-tags", [] {
             return "<html><body>" + repeat("<div>", 120) + repeat("</x><td><body>", kManyRepeats) + "</body></html>";
         }},
        {"huge-attribute", [] {
             return "<?xml version=\"1.0\"?><html><body><p title=\"" + std::string(1 << 20, 'A') +
                    "\">x</p></body></html>";
         }},
        {"many-attributes", [] {
             std::string page = "<?xml version=\"1.0\"?><html><body><p";
             for (int i = 0; i < kManyRepeats; ++i)
                 page += " a" + std::to_string(i) + "=\"1\"";
             return page + ">x</p></body></html>";
         }},
        {"entities", [] {
             return "<?xml version=\"1.0\"?><html><body><p>" +
                    repeat("&amp;&lt;&#x10FFFF;&#0;&#xD800;&#99999999999;&bogus;&#;&", kManyRepeats / 4) +
                    "</p></body></html>";
         }},
        {"encoding-utf16", [] { return std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><html><body>x</body></html>"); }},
        {"encoding-bogus", [] { return std::string("<?xml version=\"1.0\" encoding=\"x-no-such\"?><html><body>x</body></html>"); }},
        {"encoding-utf7", [] {
             return std::string("<?xml version=\"1.0\" encoding=\"UTF-7\"?><html><body>+AGEAYgBj-+ZZZ</body></html>");
         }},
        {"garbage", [] { return Rng(kSeed).bytes(64 << 10); }},
        {"empty", [] { return std::string(); }},
        {"nul-bytes", [] {
             static const char page[] = "<html><body>a\0b\0\0<p>c</p></body></html>";
             return std::string(page, sizeof page - 1);
         }},
    };
    return docs;
}

// Style sheets that push the engine: nested blocks, long selectors, nested
// negations and brackets, many selectors and declarations, long values.
const std::vector<Hostile>& hostileSheets() {
    static const std::vector<Hostile> sheets = {
        {"css-blocks", [] { return repeat("@media all {", kDeepNesting); }},
        {"css-selector", [] { return repeat("div ", kManyRepeats * 20) + "{color:red}"; }},
        {"css-negations", [] { return repeat(":not(", kManyRepeats) + "p" + repeat(")", kManyRepeats) + "{color:red}"; }},
        {"css-selectors", [] { return repeat("p,", kDeepNesting) + "p{color:red}"; }},
        {"css-declarations", [] { return "p{" + repeat("x:1;", kDeepNesting) + "}"; }},
        {"css-value", [] { return "*{font-family:" + std::string(4 << 20, 'x') + "}"; }},
        {"css-brackets", [] { return "p{background:url(" + repeat("(", kDeepNesting) + ")}"; }},
    };
    return sheets;
}

// ---- a damaged book --------------------------------------------------------

struct Variant {
    Variant(std::string name_, std::string ext_, std::string bytes_, bool widget_ = false, std::string focus_ = {})
        : name(std::move(name_)), ext(std::move(ext_)), bytes(std::move(bytes_)), widget(widget_),
          focus(std::move(focus_)) {}
    std::string name;
    std::string ext;  // file name ending; decides the reader
    std::string bytes;
    bool widget;
    std::string focus;  // an entry the widget shows besides the first chapters
};

std::string formatOf(const std::string& ext) {
    if (ext == ".epub")
        return "epub";
    if (ext == ".fb2" || ext == ".fb2.zip")
        return "fb2";
    return "html";
}

std::string extOf(const std::string& file) {
    if (endsWith(file, ".fb2.zip"))
        return ".fb2.zip";
    size_t dot = file.rfind('.');
    return dot == std::string::npos ? "" : file.substr(dot);
}

struct Member {
    std::string name;
    std::string data;
};

std::vector<Member> readMembers(const std::string& path) {
    std::vector<Member> out;
    tf::ZipFile zip(tf::ZipEntry::ZIP_READ);
    if (!zip.open(path))
        return out;
    zip.parse();
    for (const std::string& name : zip.getNames()) {
        Member m{name, ""};
        zip.getEntryData(name, m.data);
        out.push_back(std::move(m));
    }
    return out;
}

// The archive with `members`; stored, not deflated, to stay quick.
std::string zipped(const std::vector<Member>& members, const TempDir& dir) {
    std::vector<ZipMember> zm;
    for (const Member& m : members)
        zm.push_back(ZipMember{m.name, m.data, tf::ZipEntry::kStored});
    const std::string path = dir.path + "/rezip.zip";
    write_zip(path, zm);
    std::string bytes;
    tf::file_get_contents(path, bytes);
    return bytes;
}

// Byte damage any file can take.
void byteVariants(const std::string& bytes, const std::string& ext, Rng& rng, std::vector<Variant>& out) {
    const size_t size = bytes.size();
    // Fixed cuts (nothing, a header's worth, half, the archive's end record)
    // and random ones.
    std::vector<size_t> cuts = {0, 1, 4, 30, size / 2, size - std::min<size_t>(size, 22)};
    for (int k = 0; k < kTruncations; ++k)
        cuts.push_back(rng.below(size));
    for (size_t at : cuts)
        out.push_back({"cut@" + std::to_string(at), ext, truncated(bytes, at)});
    for (int k = 0; k < kByteFlips; ++k) {
        // Half of them hit the end, where an archive keeps its directory.
        size_t from = k % 2 ? size - std::min<size_t>(size, 4096) : 0;
        out.push_back({"flip" + std::to_string(k), ext, flipped(bytes, rng, 1 + rng.below(16), from, size)});
    }
    for (int k = 0; k < kRandomRuns; ++k)
        out.push_back({"run" + std::to_string(k), ext, overwritten(bytes, rng, 1 + rng.below(4096))});
}

// Encodings a damaged declaration may name: wider than the text, unknown,
// stateful, single-byte, and one that reads most bytes as errors.
const std::vector<std::string> kAllEncodings = {"UTF-16", "UCS-4", "x-bogus", "ISO-2022-JP", "windows-1251", "UTF-7"};
// Package members are read as UTF-8 whatever they declare.
const std::vector<std::string> kOneEncoding = {"UTF-16"};

// Damage to the text of one XML document (a package member or a whole book).
void textVariants(const std::string& label, const std::string& text, Rng& rng,
                  const std::vector<std::string>& encodings,
                  const std::function<void(const std::string&, std::string)>& emit) {
    for (int k = 0; k < kTextMutations; ++k) {
        emit(label + ":flip" + std::to_string(k), flipped(text, rng, 1 + rng.below(32), 0, text.size()));
        emit(label + ":cut" + std::to_string(k), truncated(text, rng.below(text.size() + 1)));
        emit(label + ":splice" + std::to_string(k), spliced(text, rng, rng.bytes(1 + rng.below(64))));
    }
    for (const std::string& encoding : encodings)
        emit(label + ":enc-" + encoding, redeclared(text, encoding));
}

void epubVariants(const std::string& file, Rng& rng, const TempDir& dir, bool hostile, std::vector<Variant>& out) {
    const std::vector<Member> members = readMembers(corpus_path(file));
    size_t total = 0;
    for (const Member& m : members)
        total += m.data.size();
    // Rebuilding an archive per variant costs its whole size: big books get byte damage only.
    if (members.empty() || total > kMaxRebuiltBytes)
        return;
    auto with = [&](const std::string& name, const std::string& label, std::string data, bool widget) {
        std::vector<Member> changed = members;
        for (Member& m : changed)
            if (m.name == name)
                m.data = data;
        const bool page = endsWith(lower(name), "html") || endsWith(lower(name), ".htm");
        out.push_back({label, ".epub", zipped(changed, dir), widget, page ? name : std::string()});
    };

    // The members a reader reads first: container, package, contents (NCX and
    // navigation document) and a chapter.
    std::vector<std::string> targets;
    std::string opf, ncx, nav;
    std::vector<std::string> chapters;
    for (const Member& m : members) {
        const std::string l = lower(m.name);
        if (l == "meta-inf/container.xml")
            targets.push_back(m.name);
        else if (endsWith(l, ".opf"))
            opf = m.name;
        else if (endsWith(l, ".ncx"))
            ncx = m.name;
        else if (endsWith(l, ".xhtml") || endsWith(l, ".html") || endsWith(l, ".htm"))
            chapters.push_back(m.name);
        if (nav.empty() && endsWith(l, ".xhtml") && (l.find("nav") != std::string::npos || l.find("toc") != std::string::npos))
            nav = m.name;
    }
    for (const std::string* t : {&opf, &ncx, &nav})
        if (!t->empty())
            targets.push_back(*t);
    for (const std::string& chapter : chapters) {
        if (chapter != nav) {
            targets.push_back(chapter);
            break;
        }
    }
    for (const std::string& target : targets) {
        std::string text;
        for (const Member& m : members)
            if (m.name == target)
                text = m.data;
        textVariants(target, text, rng, kOneEncoding, [&](const std::string& label, std::string data) {
            with(target, label, std::move(data), false);
        });
    }
    // Font obfuscation declared for odd members, with unknown algorithms.
    {
        std::vector<Member> encrypted = members;
        std::string xml = "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">";
        std::vector<std::string> references = oddPaths();
        for (const Member& m : members)
            if (endsWith(lower(m.name), ".otf") || endsWith(lower(m.name), ".ttf"))
                references.push_back(m.name);
        references.push_back("x.ttf");
        for (const std::string& odd : references)
            for (const char* algorithm : {"urn:unknown", "http://www.idpf.org/2008/embedding", "http://ns.adobe.com/pdf/enc#RC", ""})
                xml += "<EncryptedData><EncryptionMethod Algorithm=\"" + std::string(algorithm) +
                       "\"/><CipherData><CipherReference URI=\"" + tf::xml_escape(odd) +
                       "\"/></CipherData></EncryptedData>";
        encrypted.push_back({"META-INF/encryption.xml", xml + "</encryption>"});
        encrypted.push_back({"x.ttf", rng.bytes(100)});
        encrypted.push_back({"y.OTF", ""});
        out.push_back({"odd-encryption", ".epub", zipped(encrypted, dir), false});
    }
    if (!hostile)
        return;

    // Hostile documents: every one in place of the chapter (shown by the widget
    // too), and each in place of one of the package's other XML members in turn.
    std::vector<std::string> xml;
    for (const std::string& target : targets) {
        const bool page = std::find(chapters.begin(), chapters.end(), target) != chapters.end();
        if (!page)
            xml.push_back(target);
        for (const Hostile& h : hostileDocuments())
            if (page)
                with(target, target + ":" + h.name, h.make(), true);
    }
    for (size_t k = 0; k < hostileDocuments().size() && !xml.empty(); ++k) {
        const Hostile& h = hostileDocuments()[k];
        with(xml[k % xml.size()], xml[k % xml.size()] + ":" + h.name, h.make(), false);
    }
    // Hostile style sheets in place of the book's own, and inside the chapter.
    for (const Member& m : members) {
        if (!endsWith(lower(m.name), ".css"))
            continue;
        for (const Hostile& h : hostileSheets())
            with(m.name, m.name + ":" + h.name, h.make(), true);
        break;
    }
    for (const std::string& target : targets) {
        if (std::find(chapters.begin(), chapters.end(), target) == chapters.end())
            continue;
        std::string text;
        for (const Member& m : members)
            if (m.name == target)
                text = m.data;
        const size_t head = text.find("</head>");
        for (const Hostile& h : hostileSheets())
            if (head != std::string::npos)
                with(target, target + ":inline-" + h.name,
                     text.substr(0, head) + "<style>" + h.make() + "</style>" + text.substr(head), true);
    }
    // References to odd places from the container, the package and the contents.
    for (const std::string& odd : oddPaths()) {
        for (const Member& m : members) {
            if (lower(m.name) == "meta-inf/container.xml")
                with(m.name, "container->" + odd.substr(0, 40), withAttribute(m.data, "full-path", odd), false);
        }
        if (!opf.empty()) {
            for (const Member& m : members)
                if (m.name == opf)
                    with(opf, "opf->" + odd.substr(0, 40), withAttribute(m.data, "href", odd), true);
        }
        if (!ncx.empty()) {
            for (const Member& m : members)
                if (m.name == ncx)
                    with(ncx, "ncx->" + odd.substr(0, 40), withAttribute(m.data, "src", odd), false);
        }
        if (!chapters.empty()) {
            // A chapter asking for pictures and style sheets in odd places.
            std::string page = "<?xml version=\"1.0\"?><html><head><link rel=\"stylesheet\" href=\"" +
                               tf::xml_escape(odd) + ".css\"/></head><body><img src=\"" + tf::xml_escape(odd) +
                               ".png\"/><image xlink:href=\"" + tf::xml_escape(odd) + "\"/><a href=\"" +
                               tf::xml_escape(odd) + "\">x</a></body></html>";
            with(chapters.front(), "page->" + odd.substr(0, 40), page, true);
        }
    }
    // Archive members with odd names, a repeated name and garbage in place of every member kind.
    {
        std::vector<Member> renamed = members;
        size_t k = 0;
        for (Member& m : renamed)
            if (endsWith(lower(m.name), "html"))
                m.name = oddPaths()[k++ % oddPaths().size()];
        out.push_back({"odd-member-names", ".epub", zipped(renamed, dir), true});
        std::vector<Member> doubled = members;
        doubled.insert(doubled.end(), members.begin(), members.end());
        out.push_back({"repeated-members", ".epub", zipped(doubled, dir), false});
        std::vector<Member> garbage = members;
        for (Member& m : garbage)
            if (lower(m.name) != "meta-inf/container.xml" && m.name != opf)
                m.data = rng.bytes(1 + rng.below(2048));
        out.push_back({"garbage-members", ".epub", zipped(garbage, dir), true});
    }
    // A chapter that inflates to far more than any page (a decompression bomb).
    if (!chapters.empty()) {
        std::vector<ZipMember> bomb;
        for (const Member& m : members) {
            const bool chapter = m.name == chapters.front();
            bomb.push_back(ZipMember{m.name, chapter ? std::string(kBombBytes, 'a') : m.data,
                                     chapter ? tf::ZipEntry::kDeflated : tf::ZipEntry::kStored});
        }
        const std::string path = dir.path + "/bomb.zip";
        write_zip(path, bomb);
        std::string bytes;
        tf::file_get_contents(path, bytes);
        out.push_back({"bomb", ".epub", bytes, false});
    }
    // A package listing one chapter twenty thousand times.
    if (!opf.empty() && !chapters.empty()) {
        std::string items, refs;
        for (int i = 0; i < kDeepNesting / 5; ++i) {
            items += "<item id=\"c" + std::to_string(i) + "\" href=\"" + chapters.front() + "\" media-type=\"application/xhtml+xml\"/>";
            refs += "<itemref idref=\"c" + std::to_string(i) + "\"/>";
        }
        const std::string package = "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\"><metadata/><manifest>" +
                                    items + "</manifest><spine>" + refs + "</spine></package>";
        std::vector<Member> big = members;
        for (Member& m : big)
            if (lower(m.name) == "meta-inf/container.xml")
                m.data = withAttribute(m.data, "full-path", "big.opf");
        big.push_back({"big.opf", package});
        out.push_back({"huge-spine", ".epub", zipped(big, dir), true});
    }
}

// The text of every <binary> element replaced by `content`.
std::string withBinaries(std::string text, const std::string& content) {
    size_t pos = 0;
    while ((pos = text.find("<binary", pos)) != std::string::npos) {
        size_t start = text.find('>', pos);
        size_t end = text.find("</binary>", pos);
        if (start == std::string::npos || end == std::string::npos || end < start)
            break;
        text.replace(start + 1, end - start - 1, content);
        pos = start + 1 + content.size();
    }
    return text;
}

void fb2Variants(const std::string& text, Rng& rng, const TempDir& dir, bool hostile, std::vector<Variant>& out) {
    textVariants("text", text, rng, kAllEncodings, [&](const std::string& label, std::string data) {
        out.push_back({label, ".fb2", std::move(data)});
    });
    if (!hostile)
        return;
    const std::string garbage64[] = {"!!!@@@###", "====", "A", std::string(1 << 20, 'Q') + "=", rng.bytes(4096), ""};
    for (size_t k = 0; k < sizeof garbage64 / sizeof garbage64[0]; ++k)
        out.push_back({"binaries" + std::to_string(k), ".fb2", withBinaries(text, tf::xml_escape(garbage64[k])), k % 2 == 0});
    for (const std::string& odd : oddPaths())
        out.push_back({"href->" + odd.substr(0, 40), ".fb2", withAttribute(text, "l:href", odd), false});
    // A hostile body inside an otherwise sound book.
    const size_t body = text.find("<body");
    const size_t bodyEnd = text.find("</body>");
    if (body != std::string::npos && bodyEnd != std::string::npos) {
        const std::string bodies[] = {
            repeat("<section>", 400) + "<p>x</p>" + repeat("</section>", 400),
            repeat("<section><title><p>t</p></title>", 600) + repeat("</section>", 600),
            repeat("<p><emphasis><strong>x</strong></emphasis></p>", kManyRepeats / 4),
            [] {
                std::string p = "<p";
                for (int i = 0; i < kManyRepeats * 10; ++i)
                    p += " a" + std::to_string(i) + "=\"1\"";
                return p + ">x</p>";
            }(),
            repeat("<image l:href=\"#pic\"/>", kManyRepeats),
            repeat("<image l:href=\"#nowhere\"/><empty-line/>", kManyRepeats / 4),
        };
        int k = 0;
        for (const std::string& b : bodies)
            out.push_back({"body" + std::to_string(k++), ".fb2",
                           text.substr(0, body) + "<body>" + b + text.substr(bodyEnd), true});
    }
    // Many pictures, each shown once.
    if (body != std::string::npos && bodyEnd != std::string::npos) {
        std::string refs, binaries;
        for (int i = 0; i < kManyRepeats * 5; ++i) {
            refs += "<image l:href=\"#b" + std::to_string(i) + "\"/>";
            binaries += "<binary id=\"b" + std::to_string(i) + "\" content-type=\"image/png\">UElDOjF4MQ==</binary>";
        }
        const size_t end = text.rfind("</FictionBook>");
        out.push_back({"many-pictures", ".fb2",
                       text.substr(0, body) + "<body>" + refs + text.substr(bodyEnd, end - bodyEnd) + binaries +
                           "</FictionBook>",
                       true});
    }
    // Zipped: sound, twice, garbage, cut.
    const std::vector<Member> one = {{"book.fb2", text}};
    const std::string single = zipped(one, dir);
    out.push_back({"zip", ".fb2.zip", single, true});
    out.push_back({"zip-two", ".fb2.zip", zipped({{"a.fb2", text}, {"b.fb2", text}}, dir)});
    out.push_back({"zip-garbage", ".fb2.zip", zipped({{"a.fb2", rng.bytes(8192)}}, dir), true});
    out.push_back({"zip-cut", ".fb2.zip", truncated(single, single.size() / 2)});
    out.push_back({"zip-empty-member", ".fb2.zip", zipped({{"a.fb2", ""}}, dir)});
}

void htmlVariants(const std::string& text, const std::string& ext, Rng& rng, bool hostile, std::vector<Variant>& out) {
    textVariants("text", text, rng, kAllEncodings, [&](const std::string& label, std::string data) {
        out.push_back({label, ext, std::move(data)});
    });
    if (!hostile)
        return;
    for (const Hostile& h : hostileDocuments())
        out.push_back({h.name, ext, h.make(), true});
    for (const std::string& odd : oddPaths())
        out.push_back({"link->" + odd.substr(0, 40), ext,
                       withAttribute(withAttribute(text, "href", odd), "src", odd), true});
}

// ---- the path a book takes -------------------------------------------------

struct Outcome {
    bool opened = false;
    bool parsed = false;
};

void decodePicture(const std::string& bytes) {
    std::string data = bytes;
    static const char kData64[] = "data64:";
    if (data.compare(0, 7, kData64) == 0) {
        size_t colon = data.find(':', 7);
        data = colon == std::string::npos ? std::string() : tf::base64_decode(data.substr(colon + 1));
    }
    if (data.empty() || data.size() > (64u << 20))
        return;
    tf::Image image(reinterpret_cast<unsigned char*>(&data[0]), static_cast<int>(data.size()), FIF_UNKNOWN);
    if (image.width() > 0)
        image.setHeight(120);
}

// Everything a window asks of a reader, also after a failed open or parse.
Outcome runReader(const std::string& path, const std::string& format) {
    Outcome o;
    std::unique_ptr<tf::BaseReader> reader(tf::BaseReader::create(format));
    o.opened = reader->open(path);
    o.parsed = o.opened && reader->parse();
    reader->get_title();
    reader->isOpen();
    const tf::pair_list_t toc = reader->toc();
    const tf::pair_list_t spine = reader->spine();
    std::string coverEntry, out;
    reader->cover_page(coverEntry);
    for (size_t k = 0; k < spine.size() && k < kMaxEntries; ++k) {
        const auto& entry = spine[k];
        reader->get_entry(entry.first, out);
        if (!entry.second.empty())
            reader->get_entry(entry.second, out);
    }
    if (!coverEntry.empty()) {
        out.clear();
        reader->get_entry(coverEntry, out);
        decodePicture(out);
    }
    for (size_t k = 0; k < toc.size() && k < kMaxEntries; ++k)
        reader->get_entry(toc[k].first.substr(0, toc[k].first.find('#')), out);
    for (const std::string& font : reader->get_font_entries())
        reader->get_entry(font, out);
    std::string name = reader->entry_name_next("");
    for (size_t k = 0; !name.empty() && k <= spine.size() && k < kMaxEntries; ++k) {
        reader->entry_name_prev(name);
        name = reader->entry_name_next(name);
    }
    reader->entry_name_of_id("");
    reader->close();
    reader->get_entry("", out);
    return o;
}

// The window's loader: the book, its cover page, a few chapters, a paint and the text range.
void runWidget(const std::string& path, const std::string& focus) {
    test::TestView view;
    view.load_uri(tf::String(path));
    view.showCoverPage();
    view.paint();
    if (!focus.empty()) {
        view.load_uri(tf::String("epub://" + focus));
        view.createTextRange();
        view.paint();
    }
    for (int k = 0; k < kWidgetChapters; ++k) {
        view.stepChapterNext();
        std::vector<tf::String> next = view.takeAsyncLoads();
        if (next.empty())
            break;
        view.load_uri(next.front());
        view.createTextRange();
        view.paint();
    }
    view.stepChapterPrev();
    view.takeAsyncLoads();
}

long peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The standard error stream as it was before any capture, for the trace.
int traceFd() {
    static const int fd = std::getenv("ORINEL_ROBUSTNESS_TRACE") ? dup(2) : -1;
    return fd;
}

struct Book {
    const char* file;
    bool sound;    // opens and parses undamaged
    bool hostile;  // also gets the hostile documents and odd references (the smaller books)
};

const Book kBooks[] = {
    {"epub2-pg11-alice.epub", true, true},
    {"epub2-pg1342-pride-and-prejudice-illustrated.epub", true, false},
    {"epub2-pg1661-sherlock-holmes.epub", true, false},
    {"epub3-idpf-linear-algebra-mathml.epub", true, false},
    {"epub3-idpf-moby-dick.epub", true, false},
    {"epub3-idpf-regime-anticancer-arabic.epub", true, false},
    {"epub3-idpf-svg-in-spine.epub", true, false},
    {"epub3-idpf-wasteland-otf-obf.epub", true, false},
    {"epub3-se-devils-dictionary.epub", true, false},
    {"broken-made-bad-crc-pg11.epub", true, false},
    {"broken-made-missing-spine-doc-pg1661.epub", true, false},
    {"broken-made-no-container-pg11.epub", false, false},
    {"broken-made-truncated-pg1661.epub", false, false},
    {"fb2-fb2cng-_Test.fb2", true, false},
    {"fb2-fb2document-_Test_1-en.fb2", true, false},
    {"fb2-fbe-script-description-cp1251.fb2", true, true},
    {"fb2-wolnelektury-asnyk-no-description.fb2", true, false},
    {"xhtml-se-devils-dictionary-a.xhtml", true, true},
    {"svg-idpf-Tsuru_wiki-1b.svg", true, false},
};

void PrintTo(const Book& book, std::ostream* os) { *os << book.file; }

class DamagedBooks : public testing::TestWithParam<Book> {};

std::string testName(const testing::TestParamInfo<Book>& info) {
    std::string name;
    for (const char* c = info.param.file; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

} // namespace

TEST_P(DamagedBooks, EveryVariantEnds) {
    const Book book = GetParam();
    const std::string path = corpus_path(book.file);
    const std::string ext = extOf(book.file);
    std::string original;
    tf::file_get_contents(path, original);
    ASSERT_FALSE(original.empty()) << "no corpus book at " << path;

    TempDir dir;
    Rng rng(seedFor(book.file));
    std::vector<Variant> variants;
    variants.push_back({"undamaged", ext, original, true});
    byteVariants(original, ext, rng, variants);
    if (ext == ".epub")
        epubVariants(book.file, rng, dir, book.hostile, variants);
    else if (ext == ".fb2")
        fb2Variants(original, rng, dir, book.hostile, variants);
    else
        htmlVariants(original, ext, rng, book.hostile, variants);

    int parsed = 0;
    double slowest = 0;
    std::string slowestName;
    const int trace = traceFd();
    const char* only = std::getenv("ORINEL_ROBUSTNESS_ONLY");
    for (size_t k = 0; k < variants.size(); ++k) {
        const Variant& v = variants[k];
        const std::string label = std::string(book.file) + " / " + v.name;
        if (only && label.find(only) == std::string::npos)
            continue;
        const std::string file = dir.path + "/v" + std::to_string(k) + v.ext;
        ASSERT_EQ(tf::file_put_contents(file, reinterpret_cast<unsigned char*>(const_cast<char*>(v.bytes.data())),
                                        static_cast<long>(v.bytes.size())),
                  static_cast<long>(v.bytes.size()));
        if (trace >= 0) {
            const std::string line = "variant " + std::to_string(k) + ": " + label + "\n";
            (void)!write(trace, line.data(), line.size());
        }
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = runReader(file, formatOf(v.ext));
        if (v.widget || k % kWidgetEvery == 0)
            runWidget(file, v.focus);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        std::remove(file.c_str());
        if (trace >= 0) {
            const std::string line = "  " + std::to_string(seconds) + " s\n";
            (void)!write(trace, line.data(), line.size());
        }

        if (k == 0 && book.sound) {
            EXPECT_TRUE(o.opened && o.parsed) << "the undamaged copy of " << book.file << " must open";
        }
        parsed += k > 0 && o.parsed;
        if (seconds > slowest) {
            slowest = seconds;
            slowestName = label;
        }
        EXPECT_LT(seconds, kMaxSecondsPerVariant) << label;
    }
    // Damage that every variant fails on would test the refusal alone.
    if (book.sound && !only) {
        EXPECT_GT(parsed, 0) << "no damaged copy of " << book.file << " opened";
    }
    EXPECT_LT(peakRssMiB(), kMaxPeakRssMiB);
    RecordProperty("variants", static_cast<int>(variants.size()));
    RecordProperty("slowest", slowestName);
    RecordProperty("peak_rss_mib", static_cast<int>(peakRssMiB()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedBooks, testing::ValuesIn(kBooks), testName);
