#pragma once

#include <string>

namespace tf {

// Rewrites the bytes of a damaged FictionBook into well-formed XML, keeping
// as much of its structure and text as the damage allows. Real collections
// hold books with a stray "<?>" in the text, a bare "&", a cut end or end
// tags that close nothing; the strict parse refuses all of them.
//
// One linear pass of a tolerant tokenizer: the leading declaration is written
// anew (the reader has made the text UTF-8), other processing instructions
// go, an "&" that starts no reference becomes "&amp;",
// a "<" that starts no tag becomes "&lt;", unmatched end tags go, an end tag
// closes the elements left open inside it, attributes are re-quoted (repeats
// dropped), and at the end every open element is closed. Text outside the
// root element and anything after it goes. Nesting is kept as written.
class FB2Repair {
public:
    struct Report {
        long droppedInstructions = 0;
        long escapedAmpersands = 0;
        long escapedBrackets = 0;
        long droppedEndTags = 0;
        long closedElements = 0;  // closed by an outer end tag or at the end
        bool sawRoot = false;
    };

    static std::string repair(const std::string& bytes, Report* report = nullptr);

    // Whether `bytes` are well-formed UTF-8.
    static bool isUtf8(const std::string& bytes);
    // Whether bytes that are no UTF-8 outnumber the UTF-8 characters beyond
    // ASCII: a single-byte text, not a UTF-8 one with a few broken characters.
    static bool mostlyNotUtf8(const std::string& bytes);
    // Whether `bytes` hold any byte above 127.
    static bool hasNonAscii(const std::string& bytes);
};

} // namespace tf
