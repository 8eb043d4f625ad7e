#pragma once

#include <memory>
#include <string>

#include <rapidxml/rapidxml.hpp>

#include "readers/xhtml/XmlNodeRef.h"

namespace tf {

// An XML document parsed in place from its own copy of the text. Names and values are
// the file's bytes after entity translation; only copy() re-encodes.
class XmlDoc {
public:
    // Deeper element nesting is refused as a parse error: the parser, the printer and the
    // layout engine all recurse once per level, and real books stay far below this.
    static constexpr int kMaxDepth = 512;

    explicit XmlDoc(const std::string& text);
    // Takes the text over instead of copying it (a large book is parsed without a second copy).
    explicit XmlDoc(std::string&& text);
    virtual ~XmlDoc();
    XmlDoc(const XmlDoc&) = delete;
    XmlDoc& operator=(const XmlDoc&) = delete;

    // The document element (the first top-level element). Null when the text did not
    // parse or holds no node at all; empty when there are nodes but no element.
    XmlNodeRef* root_node() const { return m_rootNode.get(); }
    // The rapidxml document, for allocating strings and nodes in its pool.
    rapidxml::xml_document<char>* document() { return &m_document; }
    // The encoding named by the XML declaration; "" without one.
    std::string encoding() const;
    // The document element and everything below it, printed; no declaration.
    std::string str() const;
    // A new document, owned by the caller, with the same tree in `encoding` (characters it
    // cannot represent are dropped); null when the conversion fails.
    XmlDoc* copy(const std::string& encoding) const;

    // child() of the root reference; false and `out` unchanged without a root.
    bool child(XmlNodeRef& out, const std::string& name, const std::string& prefix = std::string()) const;
    bool child(XmlNodeRef& out, int index) const;

    // A new, unattached node with copies of `name` and `value` in this document's pool.
    XmlNodeRef make_node(const std::string& name, const std::string& value,
                         rapidxml::node_type type = rapidxml::node_element);
    // Detaches `node` from the top level of the document (nothing when it is not there).
    void remove(XmlNodeRef& node);

    // The viewport a chapter declares in <head><meta name="viewport" content="...">.
    // Both outputs are -1 when not declared; true when at least one was.
    bool hasFixedViewPort(int* width, int* height) const;
    // dump(0) of the root reference.
    void dump() const;

private:
    bool parse();
    std::string m_source;
    rapidxml::xml_document<char> m_document;
    std::unique_ptr<XmlNodeRef> m_rootNode;
    std::unique_ptr<XmlNodeRef> m_firstNode;
};

} // namespace tf
