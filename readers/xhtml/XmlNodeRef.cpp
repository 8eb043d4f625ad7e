#include "readers/xhtml/XmlNodeRef.h"

#include <iostream>

#include "readers/xhtml/XmlDoc.h"

namespace tf {

namespace {

using node_t = XmlNodeRef::node_t;
using attr_t = rapidxml::xml_attribute<char>;

std::string node_name(const rapidxml::xml_base<char>* base) {
    return std::string(base->name(), base->name_size());
}

std::string node_value(const rapidxml::xml_base<char>* base) {
    return std::string(base->value(), base->value_size());
}

bool same_ignoring_ascii_case(const std::string& a, const char* b, size_t b_size) {
    if (a.size() != b_size)
        return false;
    for (size_t i = 0; i < b_size; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool same(const std::string& a, const char* b, size_t b_size) {
    return a.size() == b_size && a.compare(0, a.size(), b, b_size) == 0;
}

} // namespace

XmlNodeRef::XmlNodeRef(XmlDoc* doc) : m_doc(doc) {}

XmlNodeRef::XmlNodeRef(node_t* node, XmlDoc* doc) : m_doc(doc) {
    setXmlSource(node);
}

void XmlNodeRef::setXmlSource(node_t* node) {
    m_node = node;
    m_elements.clear();
    if (!node)
        return;
    for (node_t* c = node->first_node(); c; c = c->next_sibling())
        m_elements.push_back(c);
}

void XmlNodeRef::setDocuemnt(XmlDoc* doc) {
    m_doc = doc;
}

bool XmlNodeRef::child(XmlNodeRef& out, int index) const {
    if (index < 0 || index >= elements())
        return false;
    out.setXmlSource(m_elements[static_cast<size_t>(index)]);
    return true;
}

bool XmlNodeRef::child(XmlNodeRef& out, const std::string& name, const std::string& prefix) const {
    const std::string prefixed = prefix.empty() ? std::string() : prefix + ":" + name;
    for (node_t* c : m_elements) {
        if (same(name, c->name(), c->name_size()) ||
            (!prefix.empty() && same(prefixed, c->name(), c->name_size()))) {
            out.setXmlSource(c);
            return true;
        }
    }
    return false;
}

std::string XmlNodeRef::name() const {
    return m_node ? node_name(m_node) : std::string();
}

std::string XmlNodeRef::text() const {
    return m_node ? node_value(m_node) : std::string();
}

std::string XmlNodeRef::attribute(const std::string& name) const {
    if (!m_node)
        return std::string();
    for (attr_t* a = m_node->first_attribute(); a; a = a->next_attribute()) {
        if (same_ignoring_ascii_case(name, a->name(), a->name_size()))
            return node_value(a);
    }
    return std::string();
}

std::string XmlNodeRef::next_attribute(const std::string& name) const {
    if (!m_node)
        return std::string();
    attr_t* last = m_node->last_attribute();
    if (name.empty())
        return last ? node_name(last) : std::string();
    for (attr_t* a = last; a; a = a->previous_attribute()) {
        if (same(name, a->name(), a->name_size()) && a->previous_attribute())
            return node_name(a->previous_attribute());
    }
    return std::string();
}

int XmlNodeRef::attributes() const {
    int count = 0;
    if (m_node) {
        for (attr_t* a = m_node->first_attribute(); a; a = a->next_attribute())
            ++count;
    }
    return count;
}

bool XmlNodeRef::next() {
    // rapidxml only knows siblings of attached nodes.
    if (!m_node || !m_node->parent())
        return false;
    node_t* sibling = m_node->next_sibling();
    if (!sibling)
        return false;
    setXmlSource(sibling);
    return true;
}

XmlNodeRef* XmlNodeRef::next_sibling() const {
    XmlNodeRef* ref = new XmlNodeRef(m_doc);
    if (m_node && m_node->parent())
        ref->setXmlSource(m_node->next_sibling());
    return ref;
}

XmlNodeRef XmlNodeRef::parent() const {
    return XmlNodeRef(m_node ? m_node->parent() : nullptr, m_doc);
}

void XmlNodeRef::setText(const std::string& text) {
    if (!m_node || !m_doc)
        return;
    rapidxml::xml_document<char>* pool = m_doc->document();
    char* value = pool->allocate_string(text.c_str(), text.size() + 1);
    m_node->append_node(pool->allocate_node(rapidxml::node_data, nullptr, value, 0, text.size()));
    setXmlSource(m_node);
}

void XmlNodeRef::setAttribute(const std::string& name, const std::string& value) {
    if (!m_node || !m_doc)
        return;
    rapidxml::xml_document<char>* pool = m_doc->document();
    char* v = pool->allocate_string(value.c_str(), value.size() + 1);
    for (attr_t* a = m_node->first_attribute(); a; a = a->next_attribute()) {
        if (same(name, a->name(), a->name_size())) {
            a->value(v, value.size());
            return;
        }
    }
    char* n = pool->allocate_string(name.c_str(), name.size() + 1);
    m_node->append_attribute(pool->allocate_attribute(n, v, name.size(), value.size()));
}

void XmlNodeRef::append(XmlNodeRef* node, int position) {
    if (!m_node || !node || !node->m_node || position < -1)
        return;
    node_t* moved = node->m_node;
    if (moved->type() == rapidxml::node_document)
        return;
    // A node put inside itself or its own subtree would make the tree a cycle.
    for (rapidxml::xml_node<char>* up = m_node; up; up = up->parent()) {
        if (up == moved)
            return;
    }
    node_t* before = nullptr;
    if (position >= 0) {
        before = m_node->first_node();
        for (int i = 0; before && i < position; ++i)
            before = before->next_sibling();
        if (!before || before == moved)
            return;
    }
    // rapidxml keeps one parent per node: take it out of its old place first.
    if (moved->parent())
        moved->parent()->remove_node(moved);
    if (before)
        m_node->insert_node(before, moved);
    else
        m_node->append_node(moved);
    setXmlSource(m_node);
}

void XmlNodeRef::remove() {
    if (m_node && m_node->parent())
        m_node->parent()->remove_node(m_node);
}

void XmlNodeRef::print() const {
    std::cout << "nodeName=" << name() << std::endl;
}

void XmlNodeRef::dump(int depth) const {
    if (!m_node)
        return;
    const bool is_text = m_node->type() == rapidxml::node_data || m_node->type() == rapidxml::node_cdata;
    std::string line(static_cast<size_t>(depth > 0 ? depth : 0), '\t');
    line += "<" + name() + ":" + std::to_string(static_cast<int>(m_node->type())) + ">";
    if (is_text)
        line += "\"" + text() + "\"";
    else
        line += "(" + std::to_string(elements()) + ")";
    std::cout << line << "\n";
    for (node_t* c : m_elements) {
        if (c)
            XmlNodeRef(c, m_doc).dump(depth + 1);
    }
}

} // namespace tf
