#pragma once

// Small books built in code for the window tests: an EPUB with nested
// contents that point inside chapters, and with footnotes; a FictionBook
// with a notes body.

#include <string>
#include <vector>

#include "TempDir.h"
#include "ZipBuilder.h"

namespace fixture {

struct NavPoint {
    std::string label;
    std::string src;
    std::vector<NavPoint> children;
};

inline std::string navPoints(const std::vector<NavPoint>& points, int& order) {
    std::string out;
    for (const NavPoint& p : points) {
        ++order;
        out += "<navPoint id=\"n" + std::to_string(order) + "\" playOrder=\"" + std::to_string(order) +
               "\"><navLabel><text>" + p.label + "</text></navLabel><content src=\"" + p.src + "\"/>" +
               navPoints(p.children, order) + "</navPoint>";
    }
    return out;
}

// An EPUB 2 book of the given chapters (file name, XHTML body) with that contents.
inline std::string writeEpub(const TempDir& dir, const std::string& name, const std::string& title,
                             const std::vector<std::pair<std::string, std::string>>& chapters,
                             const std::vector<NavPoint>& contents,
                             const std::vector<ZipMember>& extra = std::vector<ZipMember>()) {
    std::string manifest = "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>";
    std::string spine;
    std::vector<ZipMember> members = {
        {"mimetype", "application/epub+zip", tf::ZipEntry::kStored},
        {"META-INF/container.xml",
         "<?xml version=\"1.0\"?><container version=\"1.0\" "
         "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
         "full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>"},
    };
    for (size_t i = 0; i < chapters.size(); ++i) {
        const std::string id = "c" + std::to_string(i + 1);
        manifest += "<item id=\"" + id + "\" href=\"" + chapters[i].first + "\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
        members.push_back({"OEBPS/" + chapters[i].first,
                           "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                           "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>" +
                               chapters[i].first + "</title></head><body>" + chapters[i].second + "</body></html>"});
    }
    members.push_back({"OEBPS/content.opf",
                       "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
                       "unique-identifier=\"uid\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>" +
                           title + "</dc:title><dc:identifier id=\"uid\">" + name +
                           "</dc:identifier></metadata><manifest>" + manifest + "</manifest><spine toc=\"ncx\">" +
                           spine + "</spine></package>"});
    int order = 0;
    members.push_back({"OEBPS/toc.ncx", "<?xml version=\"1.0\"?><ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
                                        "version=\"2005-1\"><navMap>" +
                                            navPoints(contents, order) + "</navMap></ncx>"});
    for (const ZipMember& m : extra)
        members.push_back(m);
    const std::string path = dir.path + "/" + name;
    return write_zip(path, members) ? path : std::string();
}

// `count` paragraphs of filler text, each naming its place.
inline std::string paragraphs(const std::string& tag, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "<p>" + tag + " paragraph " + std::to_string(i) +
               ": words enough to fill a line or two of the page while the reader moves along it.</p>";
    return out;
}

} // namespace fixture
