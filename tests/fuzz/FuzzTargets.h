#pragma once

// The bodies of the fuzz targets, as functions: the libFuzzer programs call
// them with the fuzzer's input, and a normal test replays every kept finding
// through the same functions.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../render/TestView.h"
#include "readers/EPUBReader.h"
#include "readers/FB2Reader.h"
#include "src/ChapterPieces.h"
#include "src/BookSearch.h"
#include "src/CssGuard.h"
#include "src/EntryText.h"
#include "src/HtmlGuard.h"
#include "utility/FoldedText.h"
#include "utility/text.h"

namespace fuzz {

// A scratch folder for the files the readers open by path, one per process.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orinel-fuzz-XXXXXX";
        const char* made = mkdtemp(&tmpl[0]);
        return std::string(made ? made : ".");
    }();
    return folder;
}

inline std::string writeScratch(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = scratchFolder() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (size)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// Searches `text` for a few words of itself and a fixed phrase: the folded
// matching must hold on any text the extraction gives.
inline void searchText(const std::u32string& text) {
    tf::BookSearch::Options options;
    const size_t from = text.size() / 3;
    const std::string sample = tf::FoldedText::encode(text, from, std::min(text.size(), from + 8));
    for (const std::string& phrase : {std::string("the"), std::string("a b"), sample}) {
        const std::u32string query = tf::FoldedText::query(phrase, tf::FoldedText::LOOSE);
        if (!query.empty())
            tf::BookSearch::find(text, query, 0, options);
    }
}

// A style sheet: settled, measured, admitted and parsed by the engine.
inline void runCss(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string css = bytes;
    tf::CssGuard::admit(css);
    tf::CssGuard::measureDeclarations(bytes.data(), bytes.size());
    if (css.find("/*") != std::string::npos || css.find('\0') != std::string::npos)
        std::abort();  // a settled sheet holds neither
    litehtml::css sheet;
    sheet.parse_stylesheet(css.c_str(), "", litehtml::document::ptr(), litehtml::media_query_list::ptr());
    sheet.sort_selectors();
}

// Every operation a view asks of an open book, with every entry fetched.
inline void exerciseReader(tf::BaseReader& reader, const std::vector<std::string>& extraEntries) {
    reader.get_title();
    const tf::pair_list_t toc = reader.toc();
    reader.toc_depths();
    const tf::pair_list_t spine = reader.spine();
    std::string cover;
    reader.cover_page(cover);
    std::string out;
    if (!cover.empty())
        reader.get_entry(cover, out);
    for (const std::string& font : reader.get_font_entries())
        reader.get_entry(font, out);
    for (const auto& line : toc) {
        reader.entry_name_of_id(line.first.substr(line.first.find('#') + 1));
        reader.get_entry(line.first, out);
    }
    for (const std::string& name : extraEntries)
        reader.get_entry(name, out);
    std::string name;
    size_t steps = 0;
    for (const auto& entry : spine) {
        std::string markup;
        reader.get_entry(entry.first, markup);
        searchText(tf::EntryText::extract(markup));
        reader.entry_name_prev(entry.first);
        if (++steps > spine.size())
            break;
    }
    // Stepping ends, forwards and backwards.
    name.clear();
    for (size_t i = 0; i <= spine.size() + 1; ++i) {
        name = reader.entry_name_next(name);
        if (name.empty())
            break;
    }
}

// An EPUB: zip, container, package, contents, then every member fetched.
inline void runEpub(const uint8_t* data, size_t size) {
    const std::string path = writeScratch("book.epub", data, size);
    tf::EPUBReader reader;
    if (reader.open(path) && reader.parse())
        exerciseReader(reader, reader.getNames());
    reader.close();
}

// A FictionBook: open (and mend), parse, entries, pictures, contents.
inline void runFb2(const uint8_t* data, size_t size) {
    const std::string path = writeScratch("book.fb2", data, size);
    tf::FB2Reader reader;
    std::vector<std::string> pictures;
    // Picture references as the pages name them.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (size_t at = 0; (at = bytes.find("id=\"", at)) != std::string::npos && pictures.size() < 16;) {
        at += 4;
        const size_t end = bytes.find('"', at);
        if (end == std::string::npos)
            break;
        pictures.push_back("#" + bytes.substr(at, std::min<size_t>(end - at, 64)));
    }
    if (reader.open(path) && reader.parse())
        exerciseReader(reader, pictures);
    reader.close();
}

// A page: the markup (up to a "\x01\x01" separator; after it, a style sheet
// the page may link as "s.css") through the guards, laid out by the headless
// view, its text runs taken, and searched.
inline void runPage(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t cut = bytes.find("\x01\x01");
    test::TestView view;
    test::FakeBook book;
    book.entries["OEBPS/page.xhtml"] = bytes.substr(0, cut);
    if (cut != std::string::npos)
        book.entries["OEBPS/s.css"] = bytes.substr(cut + 2);
    book.spine = {"OEBPS/page.xhtml"};
    view.books["epub"] = book;
    if (!view.load_uri(tf::String("/fuzz/book.epub")))
        return;
    view.load_uri(tf::String("epub://OEBPS/page.xhtml"));
    view.paint();
    view.createTextRange();
    std::string runs;
    {
        auto lock = view.lockDocument();
        for (const tf::TextNode& node : view.textRange())
            runs += tf::run_text(node);
    }
    view.clearTextRange();
    searchText(tf::FoldedText::decode(runs));
    searchText(tf::EntryText::extract(book.entries["OEBPS/page.xhtml"]));

    // The page as a strip of small pieces: they cover it, and a window of them lays out.
    const auto markup = std::make_shared<const std::string>(book.entries["OEBPS/page.xhtml"]);
    const tf::ChapterPieces pieces(markup, 64);
    if (pieces.window(0, pieces.size() - 1) != *markup)
        __builtin_trap();
    for (size_t i = 1; i < pieces.size(); ++i)
        if (pieces.piece(i).begin != pieces.piece(i - 1).end)
            __builtin_trap();
    if (pieces.size() > 1) {
        test::TestView part;
        part.load_string(pieces.window(pieces.size() / 2, pieces.size() - 1, true), "epub://OEBPS");
        auto lock = part.lockDocument();
        tf::ChapterPieces::tops(part.document());
    }
}

} // namespace fuzz
