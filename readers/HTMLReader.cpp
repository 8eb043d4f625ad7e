#include "readers/HTMLReader.h"

#include <gumbo.h>

#include <vector>

#include "utility/File.h"
#include "utility/String.h"
#include "utility/ZipEntry.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

// The title is looked for in the top of the file only: a huge page is not
// parsed twice, and the parser slows down with the nesting of what it reads.
constexpr size_t kTitleScanBytes = 32 * 1024;
constexpr size_t kMaxTitleBytes = 512;

// The text under `node`, white space collapsed; walked without recursion (nesting is the book's).
std::string textOf(const GumboNode* node) {
    std::string out;
    std::vector<const GumboNode*> stack{node};
    while (!stack.empty() && out.size() < kMaxTitleBytes) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            for (const char* c = n->v.text.text; *c; ++c) {
                const bool space = *c == ' ' || *c == '\t' || *c == '\n' || *c == '\r' || *c == '\f';
                if (!space)
                    out += *c;
                else if (!out.empty() && out.back() != ' ')
                    out += ' ';
            }
        } else if (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE) {
            const GumboVector& children = n->v.element.children;
            for (unsigned i = children.length; i-- > 0;)
                stack.push_back(static_cast<const GumboNode*>(children.data[i]));
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool isHeading(GumboTag tag) {
    return tag == GUMBO_TAG_H1 || tag == GUMBO_TAG_H2 || tag == GUMBO_TAG_H3 || tag == GUMBO_TAG_H4 ||
           tag == GUMBO_TAG_H5 || tag == GUMBO_TAG_H6;
}

// <title>, else the first heading in document order; "" when neither has text.
std::string titleOf(const std::string& html) {
    const std::string top = html.substr(0, kTitleScanBytes);
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, top.data(), top.size());
    if (!output)
        return std::string();
    std::string title, heading;
    std::vector<const GumboNode*> stack{output->root};
    while (!stack.empty() && title.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type != GUMBO_NODE_ELEMENT)
            continue;
        if (n->v.element.tag == GUMBO_TAG_TITLE) {
            title = textOf(n);
            continue;
        }
        if (heading.empty() && isHeading(n->v.element.tag)) {
            heading = textOf(n);
            continue;
        }
        const GumboVector& children = n->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return title.empty() ? heading : title;
}

} // namespace

bool HTMLReader::open(std::string path) {
    m_readError.clear();
    File file{String(path)};
    if (!file.exist()) {
        TF_LOG(LOG_ERROR, "file do not exist:" << path);
        return set_error("The file is missing.");
    }
    // A file that exists but cannot be read must not pass for the previous one.
    content.clear();
    title.clear();
    // Read whole, so no larger than the largest archive member read whole.
    const long size = file.isDirectory() ? 0 : file.getSize();
    if (size > static_cast<long>(ZipEntry::kMaxEntrySize)) {
        TF_LOG(LOG_ERROR, "file too large: " << path << " (" << size << " bytes, limit " << ZipEntry::kMaxEntrySize
                                             << ")");
        return set_error("The file is too large to be read.");
    }
    file_get_contents(path, content);
    if (content.empty()) {
        TF_LOG(LOG_ERROR, "file is empty:" << path);
        return set_error("The file is empty or cannot be read.");
    }
    filename = path;
    title = titleOf(content);
    if (title.empty()) {
        const size_t slash = path.find_last_of('/');
        title = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return true;
}

std::string HTMLReader::get_entry(std::string /*name*/, std::string& /*out*/) {
    return content;
}

std::string HTMLReader::cover_page(std::string& /*cover_entry*/) {
    return content;
}

} // namespace tf
