#pragma once

// A deterministic view for tests without a screen: fixed font metrics, a fixed
// advance per character, fake pictures ("PIC:<w>x<h>"), and every drawing call
// and widget request recorded.

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "readers/BaseReader.h"
#include "src/BookWidget.h"
#include "src/PageBuild.h"
#include "utility/String.h"
#include "utility/URI.h"
#include "utility/text.h"

namespace test {

// The width of a picture written as "PIC:<w>x<h>", or false.
inline bool parse_picture(const std::string& bytes, litehtml::size& sz) {
    int w = 0, h = 0;
    if (std::sscanf(bytes.c_str(), "PIC:%dx%d", &w, &h) != 2)
        return false;
    sz.width = w;
    sz.height = h;
    return true;
}

// What a fake book holds; shared by the readers a test view creates.
struct FakeBook {
    std::string type = "epub";
    bool openOk = true;
    bool parseOk = true;
    std::map<std::string, std::string> entries;
    std::vector<std::string> spine;
    std::string cover = "<html><body><p>Cover page</p></body></html>";
    std::vector<std::string> fonts;
    std::map<std::string, std::string> ids;  // element id -> the entry holding it
};

class FakeReader : public tf::BaseReader {
public:
    FakeReader(FakeBook book, std::vector<std::string>* journal) : m_book(std::move(book)), m_journal(journal) {}

    bool open(std::string path) override {
        note("open:" + path);
        if (m_book.openOk) {
            filename = path;
            m_open = true;
        }
        return m_book.openOk;
    }
    std::string get_type() override { return m_book.type; }
    bool parse() override { return m_book.parseOk; }
    tf::pair_list_t toc() override { return {}; }
    tf::pair_list_t spine() override {
        tf::pair_list_t out;
        for (const auto& s : m_book.spine)
            out.emplace_back(s, "");
        return out;
    }
    std::string get_title() override { return "Fake book"; }
    std::string get_entry(std::string name, std::string& out) override {
        note("get:" + name);
        auto it = m_book.entries.find(name);
        // Like the FictionBook reader: "entry#place" is the entry.
        if (it == m_book.entries.end() && name.find('#') != std::string::npos)
            it = m_book.entries.find(name.substr(0, name.find('#')));
        if (it != m_book.entries.end())
            out = it->second;
        return out;
    }
    std::string entry_name_of_id(std::string id) override {
        auto it = m_book.ids.find(id);
        return it == m_book.ids.end() ? "" : it->second;
    }
    // The EPUB rule: an empty name steps to the first entry both ways.
    std::string entry_name_next(std::string name) override {
        if (m_book.spine.empty())
            return "";
        if (name.empty())
            return m_book.spine.front();
        for (size_t i = 0; i + 1 < m_book.spine.size(); ++i)
            if (m_book.spine[i] == name)
                return m_book.spine[i + 1];
        return "";
    }
    std::string entry_name_prev(std::string name) override {
        if (m_book.spine.empty())
            return "";
        if (name.empty())
            return m_book.spine.front();
        for (size_t i = 1; i < m_book.spine.size(); ++i)
            if (m_book.spine[i] == name)
                return m_book.spine[i - 1];
        return "";
    }
    std::string cover_page(std::string& /*cover_entry*/) override { return m_book.cover; }
    tf::name_list_t get_font_entries() override { return m_book.fonts; }
    void close() override {
        note("close");
        m_open = false;
    }
    bool isOpen() override { return m_open; }

private:
    void note(const std::string& what) {
        if (m_journal)
            m_journal->push_back(what);
    }

    FakeBook m_book;
    std::vector<std::string>* m_journal;
    bool m_open = false;
};

class TestView : public tf::BookWidget {
public:
    struct DrawnText {
        std::string text;
        litehtml::position pos;
        bool marked;
    };
    struct Task {
        std::string name;
        tf::String param;
    };

    explicit TestView(int fontSize = 20) : tf::BookWidget(fontSize, "Serif") {}
    ~TestView() override {
        if (releaseOnDestroy)
            release_document();
    }
    // False: a view that forgets to release its page (the renderer must cope).
    bool releaseOnDestroy = true;

    // Fake books: a format word gets a FakeReader over `books[format]` when present.
    std::map<std::string, FakeBook> books;
    std::vector<std::string> journal; // calls on the fake readers (under the reader lock)

    int width = 600;
    // Pages from this many bytes are laid out a window of pieces at a time (0: never).
    size_t windowThreshold = 0;
    std::string content = "PIC:95x120";
    // A task may do more work (start loads, queue tasks) through this.
    std::function<void(const Task&)> onTask;

    // ---- recorded (guarded by mutex) ----
    mutable std::mutex mutex;
    std::vector<DrawnText> texts;
    std::vector<litehtml::position> players;
    std::vector<std::string> backgrounds; // picture keys drawn
    std::vector<std::string> imageRequests;
    std::map<std::string, litehtml::size> images;
    std::vector<tf::String> asyncLoads;
    std::vector<Task> tasks;
    std::vector<int> moves;
    std::vector<int> progress;
    std::vector<std::pair<int, int>> sizes;
    int redraws = 0;
    int fontLoads = 0;

    // One paint at `origin`: the texts drawn.
    std::vector<DrawnText> paint(int x = 0, int y = 0) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            texts.clear();
            players.clear();
            backgrounds.clear();
        }
        litehtml::position clip(0, 0, 100000, 100000);
        draw_document(0, x, y, &clip);
        std::lock_guard<std::mutex> lock(mutex);
        return texts;
    }
    std::string paintedText(int x = 0, int y = 0) {
        std::string all;
        for (const auto& t : paint(x, y))
            all += t.text;
        return all;
    }
    std::vector<tf::String> takeAsyncLoads() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(asyncLoads, {});
    }

    // ---- container ----
    litehtml::uint_ptr create_font(const litehtml::tchar_t*, int size, int, litehtml::font_style, unsigned int,
                                   litehtml::font_metrics* fm) override {
        if (fm) {
            fm->ascent = size * 4 / 5;
            fm->descent = size - fm->ascent;
            fm->height = size;
            fm->x_height = size / 2;
        }
        std::lock_guard<std::mutex> lock(mutex);
        m_fonts[++m_lastFont] = size;
        return m_lastFont;
    }
    void delete_font(litehtml::uint_ptr font) override {
        std::lock_guard<std::mutex> lock(mutex);
        m_fonts.erase(font);
    }
    // Half the font size per character (UTF-8 continuation bytes do not count).
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr font) override {
        int chars = 0;
        for (const char* p = text; *p; ++p)
            if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80)
                ++chars;
        std::lock_guard<std::mutex> lock(mutex);
        auto it = m_fonts.find(font);
        return chars * ((it == m_fonts.end() ? 20 : it->second) / 2);
    }
    void draw_text(litehtml::uint_ptr, const litehtml::tchar_t* text, litehtml::uint_ptr, litehtml::web_color,
                   const litehtml::position& pos) override {
        bool marked = isMarkedDrawnRun(pos);
        std::lock_guard<std::mutex> lock(mutex);
        texts.push_back({text, pos, marked});
    }
    int pt_to_px(int pt) const override { return pt * 96 / 72; }
    void draw_list_marker(litehtml::uint_ptr, const litehtml::list_marker&) override {}
    // A picture's key: resolved against the folder the engine names (a style
    // sheet's, or the page's own while it is built), else the shown page's.
    std::string pictureKey(const litehtml::tchar_t* src, const litehtml::tchar_t* base) {
        return (base && *base ? tf::URI::resolve(tf::String(src), tf::String(base)) : resolve(tf::String(src))).str();
    }
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* base, bool) override {
        std::string key = pictureKey(src, base);
        {
            std::lock_guard<std::mutex> lock(mutex);
            imageRequests.push_back(key);
            if (images.count(key))
                return;
        }
        std::string data;
        uri_content(tf::String(key), data);
        if (data.empty())
            return;
        std::string mime, decoded;
        if (isDataBase64Encoded(data, mime, decoded))
            data = decoded;
        litehtml::size sz;
        if (parse_picture(data, sz)) {
            std::lock_guard<std::mutex> lock(mutex);
            images[key] = sz;
        }
    }
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* base, litehtml::size& sz) override {
        std::string key = pictureKey(src, base);
        std::lock_guard<std::mutex> lock(mutex);
        auto it = images.find(key);
        if (it != images.end())
            sz = it->second;
    }
    void draw_background(litehtml::uint_ptr, const litehtml::background_paint& bg) override {
        if (bg.image.empty())
            return;
        std::string key = pictureKey(bg.image.c_str(), bg.baseurl.c_str());
        std::lock_guard<std::mutex> lock(mutex);
        backgrounds.push_back(key);
    }
    void draw_borders(litehtml::uint_ptr, const litehtml::borders&, const litehtml::position&, bool) override {}
    void draw_audio_player(litehtml::uint_ptr, const litehtml::position& pos) override {
        std::lock_guard<std::mutex> lock(mutex);
        players.push_back(pos);
    }
    void set_caption(const litehtml::tchar_t*) override {}
    void set_base_url(const litehtml::tchar_t*) override {}
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override {
        tf::PageBuild shown(*this, document_root(), 0, 0);
        link_page_css(shown, doc, el);
    }
    void link_page_css(tf::PageBuild& page, const std::shared_ptr<litehtml::document>& doc,
                       const litehtml::element::ptr& el) override {
        const char* rel = el->get_attr("rel");
        const char* href = el->get_attr("href");
        if (!rel || !href || tf::str2lower(std::string(rel).substr(0, 10)) != "stylesheet")
            return;
        const tf::String address = page.resolve(tf::String(href));
        std::string css;
        uri_content(address, css);
        page.admitStyleSheet(css, address);
        if (!css.empty())
            doc->add_stylesheet(css.c_str(), nullptr, nullptr);
    }
    void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
    void set_cursor(const litehtml::tchar_t*) override {}
    void transform_text(litehtml::tstring&, litehtml::text_transform) override {}
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position&, const litehtml::border_radiuses&, bool, bool) override {}
    void del_clip() override {}
    void get_client_rect(litehtml::position& client) const override { client = litehtml::position(0, 0, width, 600); }
    void get_media_features(litehtml::media_features&) const override {}
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "en";
        culture.clear();
    }

    // ---- view ----
    int client_width() override { return width; }
    size_t window_threshold() const override { return windowThreshold; }
    std::string callParentService(const std::string& name, tf::URI*) override {
        return name == "get.content" ? content : std::string();
    }
    void finishTask(const std::string& name, const tf::String& param) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            tasks.push_back({name, param});
        }
        if (onTask)
            onTask({name, param});
    }
    void loadUriAsync(const tf::String& address) override {
        std::lock_guard<std::mutex> lock(mutex);
        asyncLoads.push_back(address);
    }
    void loadEmbeddedFonts() override {
        auto lock = lockReader(); // already held by the caller: must not block
        if (getReader()) {
            std::lock_guard<std::mutex> l(mutex);
            ++fontLoads;
        }
    }
    void move2id(int y) override {
        std::lock_guard<std::mutex> lock(mutex);
        moves.push_back(y);
    }
    void on_progress(int percent) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.push_back(percent);
    }
    void on_document_size(int w, int h) override {
        std::lock_guard<std::mutex> lock(mutex);
        sizes.emplace_back(w, h);
    }
    void on_redraw() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++redraws;
    }

    using tf::Renderer::find_anchor;

protected:
    tf::BaseReader* createReader(const std::string& format) override {
        auto it = books.find(format);
        if (it != books.end())
            return new FakeReader(it->second, &journal);
        return tf::BookWidget::createReader(format);
    }

private:
    std::map<litehtml::uint_ptr, int> m_fonts;
    litehtml::uint_ptr m_lastFont = 0;
};

// Finds the first element with that tag name (document order).
inline litehtml::element::ptr find_tag(const litehtml::element::ptr& el, const std::string& tag) {
    if (!el)
        return nullptr;
    const char* name = el->get_tagName();
    if (name && tag == name)
        return el;
    for (size_t i = 0; i < el->get_children_count(); ++i)
        if (auto found = find_tag(el->get_child(static_cast<int>(i)), tag))
            return found;
    return nullptr;
}

} // namespace test
