#pragma once

#include <string>

namespace tf {

// Footnotes as a pop-up shows them: which links lead to a note, and the
// note's own element taken out of the markup of the page that holds it.
// Pure functions on UTF-8 text; markup is the book's and untrusted (bounded
// size of what is returned, nesting walked without recursion).
class NoteExtract {
public:
    // What is returned is cut short beyond this many bytes of markup.
    static constexpr size_t kMaxNoteBytes = 64 * 1024;

    // The book marks the link as a note reference: epub:type "noteref",
    // role "doc-noteref" (each may hold several words) or FictionBook's type "note".
    static bool markedAsNote(const std::string& epubType, const std::string& role, const std::string& type);
    // The text of a link that reads like a note mark: a number or one or two
    // letters, optionally in brackets ("3", "[12]", "(a)", "iv" is two letters too many).
    static bool shortMark(const std::string& text);

    struct Note {
        bool found = false;
        bool heading = false;  // the id names a heading (h1-h6): a place, not a note
        std::string tag;       // the element taken
        std::string html;      // its markup, or "" when not found
    };
    // The note with id `id` in `markup`: the element itself when it is a
    // block (paragraph, list item, aside, section, div, ...), else the
    // nearest block around it. A section loses its title ("title" class or
    // a heading as first child), as FictionBook notes carry their number there.
    static Note extract(const std::string& markup, const std::string& id);
};

} // namespace tf
