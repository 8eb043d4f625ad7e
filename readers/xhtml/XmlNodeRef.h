#pragma once

#include <string>
#include <vector>

#include <rapidxml/rapidxml.hpp>

namespace tf {

class XmlDoc;

// A handle to one node of an XmlDoc's tree, with the node's children listed at hand.
// It never owns the node and is valid while its document lives. On an empty reference
// every query answers "", 0 or false and every change does nothing.
class XmlNodeRef {
public:
    using node_t = rapidxml::xml_node<char>;

    XmlNodeRef() = default;
    explicit XmlNodeRef(XmlDoc* doc);
    XmlNodeRef(node_t* node, XmlDoc* doc);
    virtual ~XmlNodeRef() = default;

    // Points the reference at `node` (null allowed) and lists its children again.
    void setXmlSource(node_t* node);
    void setDocuemnt(XmlDoc* doc);
    XmlDoc* getDocument() const { return m_doc; }
    node_t* getNode() const { return m_node; }
    bool isEmpty() const { return m_node == nullptr; }

    // Number of child nodes, text nodes included.
    int elements() const { return static_cast<int>(m_elements.size()); }
    // Points `out` at child number `index` (text nodes count); false and `out` unchanged
    // when there is no such child. `out` may be this reference itself.
    bool child(XmlNodeRef& out, int index) const;
    // Points `out` at the first child named `name`, or `prefix`:`name` when a prefix is
    // given; false and `out` unchanged when none matches.
    bool child(XmlNodeRef& out, const std::string& name, const std::string& prefix = std::string()) const;

    // "" for text nodes.
    std::string name() const;
    // An element's first text, or a text node's text.
    std::string text() const;
    // The first attribute whose name matches ignoring ASCII case; "" when there is none.
    std::string attribute(const std::string& name) const;
    // Attribute names from the last to the first: "" gives the last one, each name gives
    // the one before it, the first gives "".
    std::string next_attribute(const std::string& name) const;
    int attributes() const;

    // Moves to the following sibling (element or text); false and unchanged at the end.
    bool next();
    // A new reference, owned by the caller, to the following sibling; empty when none.
    XmlNodeRef* next_sibling() const;
    // The parent node (the document node above the top level); empty when none.
    XmlNodeRef parent() const;

    // Appends a text node holding a copy of `text`.
    void setText(const std::string& text);
    // Sets the attribute named exactly `name`, or appends it.
    void setAttribute(const std::string& name, const std::string& value);
    // Moves `node` to the end (-1) or before child number `position`; nothing happens
    // when there is no such child or when the move would put a node inside itself.
    void append(XmlNodeRef* node, int position = -1);
    // Detaches the node from its parent.
    void remove();

    // "nodeName=" and the name, to the standard output.
    void print() const;
    // The subtree, one node a line, indented by tabs, to the standard output.
    void dump(int depth = 0) const;

private:
    XmlDoc* m_doc = nullptr;
    node_t* m_node = nullptr;
    std::vector<node_t*> m_elements;
};

} // namespace tf
