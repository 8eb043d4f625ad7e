#include "readers/EPUB.h"

#include <cstdio>
#include <utility>

#include <openssl/evp.h>

#include "readers/xhtml/XmlDoc.h"
#include "readers/xhtml/XmlNodeRef.h"
#include "utility/log.h"
#include "utility/URI.h"
#include "utility/text.h"

namespace tf {

namespace {

using node_t = XmlNodeRef::node_t;

const char* const kIdpfAlgorithm = "http://www.idpf.org/2008/embedding";
const char* const kAdobeAlgorithm = "http://ns.adobe.com/pdf/enc#RC";
// Obfuscation covers only the head of a font file.
constexpr size_t kIdpfLength = 1040;
constexpr size_t kAdobeLength = 1024;

bool is_element(const node_t* n) {
    return n && n->type() == rapidxml::node_element;
}

// The element name without its namespace prefix.
std::string local_name(const node_t* n) {
    std::string name(n->name(), n->name_size());
    std::string::size_type colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::vector<node_t*> element_children(const node_t* parent) {
    std::vector<node_t*> out;
    if (!parent)
        return out;
    for (node_t* c = parent->first_node(); c; c = c->next_sibling())
        if (is_element(c))
            out.push_back(c);
    return out;
}

// First child element called `name`, with or without a namespace prefix.
node_t* child_element(const node_t* parent, const std::string& name) {
    if (!parent)
        return nullptr;
    for (node_t* c = parent->first_node(); c; c = c->next_sibling())
        if (is_element(c) && local_name(c) == name)
            return c;
    return nullptr;
}

std::string attr(node_t* n, XmlDoc& doc, const std::string& name) {
    return XmlNodeRef(n, &doc).attribute(name);
}

std::string text_of(node_t* n, XmlDoc& doc) {
    return XmlNodeRef(n, &doc).text();
}

// Whether a white-space separated list holds `token`.
bool has_token(const std::string& list, const std::string& token) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && is_space(list[i]))
            ++i;
        size_t start = i;
        while (i < list.size() && !is_space(list[i]))
            ++i;
        if (i > start && list.compare(start, i - start, token) == 0)
            return true;
    }
    return false;
}

// The folder part of a member name, with its "/"; "" at the archive root.
std::string folder_of(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// All text below a node, runs of white space folded into one blank.
void gather_text(const node_t* n, std::string& out) {
    for (node_t* c = n->first_node(); c; c = c->next_sibling()) {
        if (c->type() == rapidxml::node_data || c->type() == rapidxml::node_cdata)
            out.append(c->value(), c->value_size());
        else if (is_element(c))
            gather_text(c, out);
    }
}

std::string folded_text(const node_t* n) {
    std::string raw;
    gather_text(n, raw);
    std::string out;
    bool blank = false;
    for (char c : raw) {
        if (is_space(c)) {
            blank = true;
            continue;
        }
        if (blank && !out.empty())
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Depth-first search for the nav element whose epub:type lists "toc".
node_t* find_toc_nav(node_t* n, XmlDoc& doc) {
    for (node_t* c = n->first_node(); c; c = c->next_sibling()) {
        if (!is_element(c))
            continue;
        if (local_name(c) == "nav" && has_token(attr(c, doc, "epub:type"), "toc"))
            return c;
        if (node_t* found = find_toc_nav(c, doc))
            return found;
    }
    return nullptr;
}

bool is_font_media_type(const std::string& type) {
    static const char* const kTypes[] = {
        "font/truetype", "font/ttf", "font/otf", "font/sfnt", "application/x-font-ttf",
        "application/x-font-truetype", "application/x-font-otf", "application/x-font-opentype",
        "application/font-sfnt", "application/vnd.ms-opentype",
    };
    for (const char* t : kTypes)
        if (type == t)
            return true;
    return false;
}


int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The 16 bytes of a UUID written as "urn:uuid:xxxxxxxx-xxxx-..." (or without
// the urn: prefix); "" when the text is no UUID.
std::string uuid_bytes(std::string text) {
    // trim() leaves its argument trimmed only at the end; the result is the trimmed text.
    text = trim(text);
    if (str2lower(text.substr(0, 9)) == "urn:uuid:")
        text = text.substr(9);
    std::string hex;
    for (char c : text)
        if (c != '-')
            hex += c;
    if (hex.size() != 32)
        return "";
    std::string out;
    for (size_t i = 0; i < 32; i += 2) {
        int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return "";
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::string sha1(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), md, &length, EVP_sha1(), nullptr) != 1)
        return "";
    return std::string(reinterpret_cast<char*>(md), length);
}

} // namespace

EPUB::EPUB(ZipEntry::zip_mode mode) : ZipFile(mode) {
    TF_LOG(LOG_INFO, "");
}

EPUB::~EPUB() {
    TF_LOG(LOG_INFO, "");
}

std::string EPUB::clean(std::string href) {
    std::string::size_type pos;
    while ((pos = href.find("%20")) != std::string::npos)
        href.replace(pos, 3, " ");
    return href;
}

ZipEntry* EPUB::findEntry(const std::string& name) {
    // Only names the archive lists: getEntry() would keep an empty entry for every miss.
    auto listed = [this](const std::string& candidate) -> ZipEntry* {
        auto it = candidate.empty() ? m_entries.end() : m_entries.find(candidate);
        return it == m_entries.end() || it->second.isEmpty() ? nullptr : &it->second;
    };
    if (ZipEntry* exact = listed(name))
        return exact;
    if (name.empty())
        return nullptr;
    // The name a reference means (decoded, dot segments resolved); then the
    // dots alone, for a member whose stored name holds a literal "%".
    for (const std::string& candidate : {URI::memberName(name), String(URI::removeDots(String(name), 0, false)).str()})
        if (ZipEntry* entry = listed(candidate))
            return entry;
    return nullptr;
}

EPUB::obfuscation_t EPUB::obfuscation(const std::string& member) const {
    auto it = encrypted.find(member);
    if (it == encrypted.end())
        return OBF_NONE;
    if (it->second == kIdpfAlgorithm && !m_idpfKey.empty())
        return OBF_IDPF;
    if (it->second == kAdobeAlgorithm && !m_adobeKey.empty())
        return OBF_ADOBE;
    return OBF_UNKNOWN;
}

void EPUB::deobfuscate(const std::string& member, std::string& data) const {
    switch (obfuscation(member)) {
    case OBF_NONE:
        return;
    case OBF_IDPF:
        for (size_t i = 0; i < data.size() && i < kIdpfLength; ++i)
            data[i] = static_cast<char>(data[i] ^ m_idpfKey[i % m_idpfKey.size()]);
        return;
    case OBF_ADOBE:
        for (size_t i = 0; i < data.size() && i < kAdobeLength; ++i)
            data[i] = static_cast<char>(data[i] ^ m_adobeKey[i % m_adobeKey.size()]);
        return;
    case OBF_UNKNOWN:
        TF_LOG(LOG_WARN, "entry='" << member << "' is encrypted with " << encrypted.at(member)
                                   << ", which cannot be read; its bytes are passed on as stored");
        return;
    }
}

bool EPUB::readEntry(ZipEntry* entry, std::string& out) {
    if (!entry || entry->isEmpty())
        return false;
    std::string data;
    if (!entry->open()) {
        TF_LOG(LOG_ERROR, "cannot open entry='" << entry->getName() << "': " << entry->getLastError());
        return false;
    }
    int read = entry->read(data);
    int closed = entry->close();
    if (read < 0 || closed != UNZ_OK) {
        TF_LOG(LOG_ERROR, "damaged entry='" << entry->getName() << "' (zip error " << (read < 0 ? read : closed)
                                            << ")");
        return false;
    }
    deobfuscate(entry->getName(), data);
    out.swap(data);
    return true;
}

bool EPUB::readXml(const std::string& what, const std::string& name, std::string& text) {
    ZipEntry* entry = findEntry(name);
    if (!entry) {
        TF_LOG(LOG_ERROR, what << " not found: '" << name << "'");
        return false;
    }
    if (!readEntry(entry, text)) {
        TF_LOG(LOG_ERROR, what << " cannot be read: '" << name << "'");
        return false;
    }
    return true;
}

bool EPUB::parse() {
    ZipFile::parse();

    ZipEntry* mimetype = getEntry("mimetype");
    if (mimetype->isEmpty()) {
        TF_LOG(LOG_WARN, "EPUB do not have mimetype entry");
    } else {
        std::string value;
        readEntry(mimetype, value);
        trim(value);
        if (value != "application/epub+zip")
            TF_LOG(LOG_WARN, "Wrong mimetype for epub: \"" << shortify(value, 64) << "\"");
    }

    if (getEntry("META-INF/container.xml")->isEmpty()) {
        TF_LOG(LOG_ERROR, "EPUB do not have container entry");
        return false;
    }
    if (!parseContainer() || !parsePackage())
        return false;
    parseEncryption();

    if (ncx_item.href.empty()) {
        if (nav_item.href.empty()) {
            TF_LOG(LOG_ERROR, "no ncx file found");
        } else {
            TF_LOG(LOG_INFO, "no ncx file found, reading the navigation document '" << nav_item.href << "'");
            parseNavDocument();
        }
        return true;
    }
    return parseNcx();
}

bool EPUB::parseContainer() {
    std::string text;
    if (!readXml("container", "META-INF/container.xml", text))
        return false;
    XmlDoc doc(text);
    XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "container does not parse: 'META-INF/container.xml'");
        return false;
    }
    node_t* rootfiles = child_element(root->getNode(), "rootfiles");
    node_t* rootfile = nullptr;
    for (node_t* c : element_children(rootfiles)) {
        if (local_name(c) == "rootfile" && !attr(c, doc, "full-path").empty()) {
            rootfile = c;
            break;
        }
    }
    if (!rootfile) {
        TF_LOG(LOG_ERROR, "container names no rootfile: 'META-INF/container.xml'");
        return false;
    }
    opf_path = attr(rootfile, doc, "full-path");
    if (opf_path.find('/') != std::string::npos)
        opf_folder = folder_of(opf_path);
    return true;
}

bool EPUB::parsePackage() {
    std::string text;
    if (!readXml("package document", opf_path, text))
        return false;
    XmlDoc doc(text);
    XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "package document does not parse: '" << opf_path << "'");
        return false;
    }

    XmlNodeRef spine(&doc);
    if (root->child(spine, "spine", "opf")) {
        tocid = spine.attribute("toc");
        for (node_t* c : element_children(spine.getNode()))
            spine_ids.push_back(attr(c, doc, "idref"));
    }

    XmlNodeRef metadataNode(&doc);
    if (root->child(metadataNode, "metadata", "opf"))
        parseMetadata(metadataNode, root->attribute("unique-identifier"));
    else
        TF_LOG(LOG_WARN, "package document has no metadata: '" << opf_path << "'");
    makeKeys();

    XmlNodeRef manifestNode(&doc);
    if (root->child(manifestNode, "manifest", "opf"))
        parseManifest(manifestNode);
    return true;
}

void EPUB::parseMetadata(XmlNodeRef& metadataNode, const std::string& uidRef) {
    XmlDoc& doc = *metadataNode.getDocument();
    // Old packages wrap Dublin Core in dc-metadata and their meta elements in x-metadata.
    std::vector<node_t*> holders;
    if (node_t* dc = child_element(metadataNode.getNode(), "dc-metadata")) {
        holders.push_back(dc);
        if (node_t* x = child_element(metadataNode.getNode(), "x-metadata"))
            holders.push_back(x);
    } else {
        holders.push_back(metadataNode.getNode());
    }
    for (node_t* holder : holders) {
        for (node_t* c : element_children(holder)) {
            std::string name(c->name(), c->name_size());
            std::string value = text_of(c, doc);
            if (name.size() >= 3 && beginsWith(name, "dc:")) {
                metadata.emplace(name, value);
                if (name == "dc:identifier") {
                    identifiers.push_back(value);
                    if (!uidRef.empty() && attr(c, doc, "id") == uidRef)
                        unique_identifier = value;
                }
            } else if (name == "meta") {
                name = attr(c, doc, "name");
                value = attr(c, doc, "content");
                metadata.emplace(name, value);
            }
            if (name == "cover")
                coverid = value;
            else if (name == "dc:title")
                m_title = value;
        }
    }
}

void EPUB::parseManifest(XmlNodeRef& manifestNode) {
    XmlDoc& doc = *manifestNode.getDocument();
    type_menifest_item coverImage;
    for (node_t* c : element_children(manifestNode.getNode())) {
        type_menifest_item item;
        item.id = attr(c, doc, "id");
        item.href = clean(attr(c, doc, "href"));
        item.path = opf_folder + item.href;
        item.media_type = attr(c, doc, "media-type");
        item.media_overlay = attr(c, doc, "media-overlay");
        item.properties = attr(c, doc, "properties");

        // An item without id must not be taken for a missing toc or cover id.
        if (!item.id.empty() && item.id == tocid) {
            ncx_item = item;
            ncx_item.href = item.path;
        } else if (!item.id.empty() && item.id == coverid) {
            cover_item = item;
            cover_item.href = item.path;
        }
        if (nav_item.href.empty() && has_token(item.properties, "nav")) {
            nav_item = item;
            nav_item.href = item.path;
        }
        if (coverImage.href.empty() && has_token(item.properties, "cover-image")) {
            coverImage = item;
            coverImage.href = item.path;
        }
        if (is_font_media_type(item.media_type))
            font_paths.push_back(item.path);
        manifest_items[item.path] = item;
    }
    // EPUB 3 names its cover by a property instead of <meta name="cover">.
    if (cover_item.href.empty() && !coverImage.href.empty())
        cover_item = coverImage;

    for (const auto& entry : manifest_items)
        if (!entry.second.id.empty())
            m_idIndex.emplace(entry.second.id, entry.first);
}

bool EPUB::parseNcx() {
    std::string text;
    if (!readXml("ncx file", ncx_item.href, text))
        return false;
    XmlDoc doc(text);
    XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "ncx file does not parse: '" << ncx_item.href << "'");
        return false;
    }
    XmlNodeRef navMap(&doc);
    if (!root->child(navMap, "navMap", "ncx"))
        return true;
    XmlNodeRef point(&doc);
    if (!navMap.child(point, 0))
        return true;
    return parseNavmap(point, doc, 0);
}

bool EPUB::parseNavmap(XmlNodeRef point, XmlDoc& doc, uint32_t depth) {
    const std::string folder = folder_of(ncx_item.href);
    // navMap may open with navInfo or navLabel; only navPoint elements are points.
    do {
        node_t* n = point.getNode();
        if (!is_element(n) || local_name(n) != "navPoint")
            continue;
        node_t* content = child_element(n, "content");
        if (!content) {
            TF_LOG(LOG_ERROR, "navPoint without content: id='" << point.attribute("id") << "' in '"
                                                               << ncx_item.href << "'");
            return false;
        }
        type_navmap nav;
        nav.id = point.attribute("id");
        nav.play = point.attribute("playOrder");
        if (node_t* label = child_element(n, "navLabel"))
            if (node_t* textNode = child_element(label, "text"))
                nav.label = text_of(textNode, doc);
        nav.src = folder + attr(content, doc, "src");
        nav.depth = depth;
        navmap_items.push_back(nav);

        if (node_t* child = child_element(n, "navPoint"))
            if (!parseNavmap(XmlNodeRef(child, &doc), doc, depth + 1))
                return false;
    } while (point.next());
    return true;
}

void EPUB::parseNavDocument() {
    std::string text;
    if (!readXml("navigation document", nav_item.href, text))
        return;
    XmlDoc doc(text);
    XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "navigation document does not parse: '" << nav_item.href << "'");
        return;
    }
    node_t* nav = find_toc_nav(root->getNode(), doc);
    if (!nav) {
        TF_LOG(LOG_WARN, "navigation document has no toc nav: '" << nav_item.href << "'");
        return;
    }
    const std::string folder = folder_of(nav_item.href);
    unsigned order = 0;

    // Recursion is bounded by the nesting XmlDoc accepts.
    struct Walker {
        EPUB& epub;
        XmlDoc& doc;
        const std::string& folder;
        unsigned& order;
        void walk(node_t* ol, uint32_t depth) {
            for (node_t* li : element_children(ol)) {
                if (local_name(li) != "li")
                    continue;
                node_t* a = child_element(li, "a");
                std::string href = a ? attr(a, doc, "href") : std::string();
                if (!href.empty() && href.find("://") == std::string::npos) {
                    type_navmap item;
                    item.id = attr(li, doc, "id");
                    item.play = std::to_string(++order);
                    item.label = folded_text(a);
                    item.src = href[0] == '#' ? epub.nav_item.href + href : folder + href;
                    item.depth = depth;
                    epub.navmap_items.push_back(item);
                }
                if (node_t* nested = child_element(li, "ol"))
                    walk(nested, depth + 1);
            }
        }
    } walker{*this, doc, folder, order};
    if (node_t* ol = child_element(nav, "ol"))
        walker.walk(ol, 0);
}

void EPUB::parseEncryption() {
    ZipEntry* entry = getEntry("META-INF/encryption.xml");
    if (entry->isEmpty())
        return;
    std::string text;
    if (!readEntry(entry, text))
        return;
    XmlDoc doc(text);
    XmlNodeRef* root = doc.root_node();
    if (!root || root->isEmpty()) {
        TF_LOG(LOG_ERROR, "encryption file does not parse: 'META-INF/encryption.xml'");
        return;
    }
    for (node_t* data : element_children(root->getNode())) {
        if (local_name(data) != "EncryptedData")
            continue;
        std::string algorithm = attr(child_element(data, "EncryptionMethod"), doc, "Algorithm");
        std::string uri =
            attr(child_element(child_element(data, "CipherData"), "CipherReference"), doc, "URI");
        if (uri.empty())
            continue;
        ZipEntry* member = findEntry(uri);
        encrypted[member ? member->getName() : URI::memberName(uri)] = algorithm;
    }
}

void EPUB::makeKeys() {
    // IDPF: SHA-1 of the unique identifier without white space.
    std::string uid = unique_identifier;
    if (uid.empty() && !identifiers.empty())
        uid = identifiers.front();
    std::string stripped;
    for (char c : uid)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            stripped += c;
    m_idpfKey = stripped.empty() ? std::string() : sha1(stripped);

    // Adobe: the bytes of the package's UUID, the unique identifier preferred.
    m_adobeKey = uuid_bytes(unique_identifier);
    for (size_t i = 0; m_adobeKey.empty() && i < identifiers.size(); ++i)
        m_adobeKey = uuid_bytes(identifiers[i]);
}

bool EPUB::getEntryById(const std::string& id, ZipEntry*& entry, type_menifest_item& item) {
    auto it = m_idIndex.find(id);
    if (it == m_idIndex.end())
        return false;
    item = manifest_items[it->second];
    entry = findEntry(item.path);
    if (!entry)
        entry = getEntry(item.path);
    return true;
}

bool EPUB::getEntryNameById(const std::string& id, std::string& name) {
    auto it = m_idIndex.find(id);
    if (it == m_idIndex.end())
        return false;
    name = it->second;
    return true;
}

std::string EPUB::memberName(const type_menifest_item& item) {
    ZipEntry* entry = findEntry(item.path);
    return entry ? entry->getName() : item.path;
}

std::string EPUB::spineEntryName(size_t i) {
    auto it = m_idIndex.find(spine_ids[i]);
    if (it == m_idIndex.end()) {
        std::printf("err: no entry in manifest for spine-id\n");
        return "";
    }
    return memberName(manifest_items[it->second]);
}

void EPUB::close() {
    ZipFile::close();
    manifest_items.clear();
    navmap_items.clear();
    metadata.clear();
    spine_ids.clear();
    font_paths.clear();
    m_title.clear();
    tocid.clear();
    coverid.clear();
    opf_folder.clear();
    opf_path.clear();
    cover_item = type_menifest_item();
    ncx_item = type_menifest_item();
    nav_item = type_menifest_item();
    unique_identifier.clear();
    identifiers.clear();
    encrypted.clear();
    m_idIndex.clear();
    m_idpfKey.clear();
    m_adobeKey.clear();
}

void EPUB::print() {
    std::printf("***entries***\n");
    for (const std::string& name : getNames())
        std::printf("%s:\t%s\n", name.c_str(), getEntry(name)->getName().c_str());
    std::printf("***info***\n");
    std::printf("number_entry:\t%d\n", static_cast<int>(getCount()));
    std::printf("opf_folder:\t%s\n", opf_folder.c_str());
    std::printf("tocid:\t%s\n", tocid.c_str());
    std::printf("coverid:\t%s\n", coverid.c_str());
    std::printf("ncx_file:\t%s\n", ncx_item.path.c_str());
    std::printf("cover_file:\t%s\n", cover_item.path.c_str());
    std::printf("m_title:\t%s\n", m_title.c_str());
    std::printf("***metadata***\n");
    for (const auto& m : metadata)
        std::printf("\"%s\":\t\"%s\"\n", m.first.c_str(), m.second.c_str());
    std::printf("***manifest_items***\n");
    for (const auto& m : manifest_items)
        std::printf("\"%s\":\t\"%s\"\n", m.second.path.c_str(), m.second.id.c_str());
    std::printf("***navmap_items***\n");
    for (const type_navmap& nav : navmap_items)
        nav.print();
    std::printf("***layoutType***\n");
}

std::string EPUB::realpath(std::string requester, std::string requested) {
    TF_LOG(LOG_INFO, "requester=" << requester << ", requested=" << requested);
    if (requester.empty())
        return requested;
    std::string::size_type slash = requester.rfind('/');
    std::string base = slash == std::string::npos ? std::string() : requester.substr(0, slash);
    return normalizeURI(base + "/" + requested);
}

std::string EPUB::normalizeURI(std::string path) {
    // Empty pieces go; a ".." with nothing before it to remove stays.
    std::string joined;
    for (const std::string& part : explode(path, '/'))
        joined += (joined.empty() ? "" : "/") + part;
    if (joined.find("..") == std::string::npos)
        return joined;
    std::string out = String(URI::removeDots(String(joined), 0, true, true)).str();
    if (out == ".")
        return std::string();
    if (out.size() > 1 && out.back() == '/' && joined.back() != '/')
        out.pop_back(); // a trailing ".." took its folder along
    return out;
}

pair_list_t EPUB::toc() {
    pair_list_t out;
    out.reserve(navmap_items.size());
    for (const type_navmap& nav : navmap_items)
        out.emplace_back(nav.src, nav.label);
    return out;
}

std::string EPUB::nextEntry(std::string name) {
    const size_t count = spine_ids.size();
    if (name.empty()) {
        for (size_t i = 0; i < count; ++i) {
            auto it = m_idIndex.find(spine_ids[i]);
            if (it != m_idIndex.end())
                return memberName(manifest_items[it->second]);
        }
        return "";
    }
    for (size_t i = 0; i < count; ++i) {
        if (spineEntryName(i) != name)
            continue;
        // Spine ids without a manifest item are stepped over, not stopped at.
        for (size_t j = i + 1; j < count; ++j) {
            std::string next = spineEntryName(j);
            if (!next.empty())
                return next;
        }
        return "";
    }
    return "";
}

std::string EPUB::prevEntry(std::string name) {
    const size_t count = spine_ids.size();
    if (name.empty())
        return nextEntry(name);
    for (size_t i = 0; i < count; ++i) {
        if (spineEntryName(i) != name)
            continue;
        for (size_t j = i; j-- > 0;) {
            std::string prev = spineEntryName(j);
            if (!prev.empty())
                return prev;
        }
        return "";
    }
    return "";
}

std::string EPUB::coverimg() {
    ZipEntry* entry = findEntry(cover_item.href);
    std::string data;
    if (!entry || !readEntry(entry, data))
        return "";
    return data;
}

std::string EPUB::coverpage(std::string& cover_entry) {
    cover_entry = cover_item.href;
    ZipEntry* entry = findEntry(cover_entry);
    const std::string type = entry ? entry->entryType() : std::string();
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<html><head><title>" +
                             xml_escape(m_title) + "</title></head>";

    if (type == ".xhtml" || type == ".html" || type == ".htm")
        return coverimg();
    // EPUB 3 covers are often SVG; the view draws those as pictures too.
    if (type == ".jpg" || type == ".jpeg" || type == ".png" || type == ".gif" || type == ".svg")
        return head + "<body><img style=\"height:500px\" src=\"" +
               xml_escape(URI::entryAddress("epub", entry->getName()).str()) + "\" /></body></html>";

    auto value = [this](const char* key) {
        auto it = metadata.find(key);
        return it == metadata.end() ? std::string() : xml_escape(it->second);
    };
    return head + "<body><h1>" + xml_escape(m_title) + "</h1>" + "<p>Author: " + value("dc:creator") +
           "</p>" + "<p>Publisher: " + value("dc:publisher") + "</p>" + "<p>Language: " +
           value("dc:language") + "</p>" + "<p>" + value("dc:description") + "</p>" + "</body></html>";
}

} // namespace tf
