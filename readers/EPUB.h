#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "readers/BaseReader.h"
#include "readers/type_menifest_item.h"
#include "readers/type_navmap.h"
#include "utility/ZipFile.h"

namespace tf {

class XmlDoc;
class XmlNodeRef;

// One EPUB package: the zip archive plus what parse() reads from its
// container, package document and table of contents (NCX, or the EPUB 3
// navigation document when there is no NCX).
class EPUB : public ZipFile {
public:
    // How a member named in META-INF/encryption.xml has to be read.
    enum obfuscation_t { OBF_NONE, OBF_IDPF, OBF_ADOBE, OBF_UNKNOWN };

    explicit EPUB(ZipEntry::zip_mode mode = ZipEntry::ZIP_READ);
    ~EPUB() override;

    // Reads the opened archive. False (with an ERROR line) for a package that
    // cannot be read: no container, no rootfile, a missing or unparsable
    // package document or NCX, a navigation point without content.
    bool parse();
    // Appends `point` and its following sibling points (with their children)
    // to navmap_items; nodes that are not navigation points are passed over.
    // False when a point has no content element.
    bool parseNavmap(XmlNodeRef point, XmlDoc& doc, uint32_t depth);
    // Only "%20" is decoded here; other sequences are left to member lookup.
    static std::string clean(std::string href);
    // The manifest item with this id (the first in path order when ids repeat)
    // and its archive member (an empty entry when the archive lacks it).
    bool getEntryById(const std::string& id, ZipEntry*& entry, type_menifest_item& item);
    bool getEntryNameById(const std::string& id, std::string& name);
    void close();
    // Diagnostic dump to the standard output.
    void print();
    std::string realpath(std::string requester, std::string requested);
    static std::string normalizeURI(std::string path);

    // (src, label) per table-of-contents entry, flat, in document order.
    pair_list_t toc();
    std::string prevEntry(std::string name);
    std::string nextEntry(std::string name);
    // The cover item's bytes, "" when it has none.
    std::string coverimg();
    std::string coverpage(std::string& cover_entry);

    // The member called `name`; when the exact name is missing, the member the
    // name means as a reference (URI::memberName: percent-decoded, "." and ".."
    // resolved), then the name with its dot segments alone resolved. Null when
    // none of them is in the archive.
    ZipEntry* findEntry(const std::string& name);
    // The whole member, de-obfuscated when encryption.xml asks for it. False
    // (with an ERROR line, `out` untouched) when the member cannot be read.
    bool readEntry(ZipEntry* entry, std::string& out);
    // How the member of this exact archive name is stored.
    obfuscation_t obfuscation(const std::string& member) const;

    std::string tocid;
    std::string opf_folder;
    std::string opf_path;
    std::vector<std::string> font_paths;
    std::vector<std::string> spine_ids;
    std::map<std::string, std::string> metadata;
    std::map<std::string, type_menifest_item> manifest_items;
    std::vector<type_navmap> navmap_items;
    type_menifest_item ncx_item;
    type_menifest_item cover_item;
    std::string coverid;
    std::string m_title;

    // The EPUB 3 navigation document (properties "nav"); its href is the archive path.
    type_menifest_item nav_item;
    // The dc:identifier the package names as unique-identifier, and all identifiers.
    std::string unique_identifier;
    std::vector<std::string> identifiers;
    // Archive member name -> encryption algorithm, from META-INF/encryption.xml.
    std::map<std::string, std::string> encrypted;

protected:
    // The member name the spine uses for a manifest item: the archive's name
    // when the member exists, otherwise the item's path.
    std::string memberName(const type_menifest_item& item);
    // Name of spine position i; "" (and the "err:" line) for an id without item.
    std::string spineEntryName(size_t i);

private:
    bool parseContainer();
    bool parsePackage();
    void parseMetadata(XmlNodeRef& metadataNode, const std::string& uidRef);
    void parseManifest(XmlNodeRef& manifestNode);
    bool parseNcx();
    void parseNavDocument();
    void parseEncryption();
    void makeKeys();
    void deobfuscate(const std::string& member, std::string& data) const;
    bool readXml(const std::string& what, const std::string& name, std::string& text);

    // Manifest id -> item path, the first in path order for repeated ids.
    std::map<std::string, std::string> m_idIndex;
    std::string m_idpfKey;   // 20 bytes, empty when the package has no identifier
    std::string m_adobeKey;  // 16 bytes, empty without a UUID identifier
};

} // namespace tf
