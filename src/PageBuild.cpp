#include "src/PageBuild.h"

#include <utility>

#include "src/PagePrefix.h"
#include "src/Renderer.h"
#include "utility/URI.h"
#include "utility/log.h"
#include "utility/text.h"

namespace tf {

namespace {

// A document and the page it was built for, freed in that order: the
// document frees its fonts through its container.
struct HeldPage {
    std::unique_ptr<PageBuild> page;
    litehtml::document::ptr document;
    ~HeldPage() { document.reset(); }
};

} // namespace

PageBuild::PageBuild(Renderer& view, String root, long elements, long long styleCost)
    : m_view(view), m_root(std::move(root)), m_rootText(m_root.str()) {
    m_budget.elements = elements;
    m_budget.used = styleCost;
}

litehtml::document::ptr PageBuild::build(std::unique_ptr<PageBuild> page, const std::string& html,
                                         litehtml::context* context, litehtml::css* userStyle) {
    auto held = std::make_shared<HeldPage>();
    held->page = std::move(page);
    held->document = litehtml::document::createFromString(html.c_str(), held->page.get(), context, userStyle);
    if (!held->document)
        return litehtml::document::ptr();
    litehtml::document* document = held->document.get();
    return litehtml::document::ptr(std::move(held), document);
}

String PageBuild::resolve(const String& ref, const char* base) const {
    if (base && *base)
        return URI::resolve(ref, String(base));
    return m_root.empty() ? m_view.resolve(ref) : URI::resolve(ref, m_root);
}

bool PageBuild::firstRead(const std::string& address) {
    return m_sheetsRead.size() < kMaxStyleSheets && m_sheetsRead.insert(address).second;
}

void PageBuild::admitStyleSheet(std::string& css, const String& address) {
    if (!css.empty() && !CssGuard::admit(css, &m_budget)) {
        TF_LOG(LOG_WARN, "style sheet left out: " << shortify(address.str(), 80));
        css.clear();
    }
    if (PagePrefix::looksAhead(css))
        m_sheetsSound = false;
}

const litehtml::tchar_t* PageBuild::baseOr(const litehtml::tchar_t* baseurl) const {
    return baseurl && *baseurl ? baseurl : m_rootText.c_str();
}

litehtml::uint_ptr PageBuild::create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                          litehtml::font_style italic, unsigned int decoration,
                                          litehtml::font_metrics* fm) {
    return m_view.create_font(faceName, size, weight, italic, decoration, fm);
}

void PageBuild::delete_font(litehtml::uint_ptr hFont) {
    if (!m_detached)
        m_view.delete_font(hFont);
}

int PageBuild::text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) {
    return m_view.text_width(text, hFont);
}

void PageBuild::draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                          litehtml::web_color color, const litehtml::position& pos) {
    m_view.draw_text(hdc, text, hFont, color, pos);
}

int PageBuild::pt_to_px(int pt) const {
    return m_view.pt_to_px(pt);
}

int PageBuild::get_default_font_size() const {
    return m_view.get_default_font_size();
}

const litehtml::tchar_t* PageBuild::get_default_font_name() const {
    return m_view.get_default_font_name();
}

void PageBuild::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    // Painting: only a picture marker the engine names no folder for needs one.
    if (marker.image.empty() || (marker.baseurl && *marker.baseurl)) {
        m_view.draw_list_marker(hdc, marker);
        return;
    }
    litehtml::list_marker own = marker;
    own.baseurl = baseOr(marker.baseurl);
    m_view.draw_list_marker(hdc, own);
}

void PageBuild::load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) {
    m_view.load_image(src, baseOr(baseurl), redraw_on_ready);
}

void PageBuild::get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) {
    m_view.get_image_size(src, baseOr(baseurl), sz);
}

void PageBuild::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    if (!bg.baseurl.empty() || bg.image.empty()) {
        m_view.draw_background(hdc, bg);
        return;
    }
    litehtml::background_paint own = bg;
    own.baseurl = m_rootText;
    m_view.draw_background(hdc, own);
}

void PageBuild::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                             const litehtml::position& draw_pos, bool root) {
    m_view.draw_borders(hdc, borders, draw_pos, root);
}

void PageBuild::set_caption(const litehtml::tchar_t* caption) {
    m_view.set_caption(caption);
}

void PageBuild::set_base_url(const litehtml::tchar_t* base_url) {
    m_view.set_base_url(base_url);
}

void PageBuild::link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) {
    m_view.link_page_css(*this, doc, el);
}

void PageBuild::on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) {
    m_view.on_anchor_click(url, el);
}

void PageBuild::set_cursor(const litehtml::tchar_t* cursor) {
    m_view.set_cursor(cursor);
}

void PageBuild::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    m_view.transform_text(text, tt);
}

void PageBuild::import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) {
    m_view.import_page_css(*this, text, url, baseurl);
}

void PageBuild::set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                         bool valid_y) {
    m_view.set_clip(pos, bdr_radius, valid_x, valid_y);
}

void PageBuild::del_clip() {
    m_view.del_clip();
}

void PageBuild::get_client_rect(litehtml::position& client) const {
    m_view.get_client_rect(client);
}

std::shared_ptr<litehtml::element> PageBuild::create_element(const litehtml::tchar_t* tag_name,
                                                             const litehtml::string_map& attributes,
                                                             const std::shared_ptr<litehtml::document>& doc) {
    return m_view.create_element(tag_name, attributes, doc);
}

void PageBuild::get_media_features(litehtml::media_features& media) const {
    m_view.get_media_features(media);
}

void PageBuild::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    m_view.get_language(language, culture);
}

litehtml::tstring PageBuild::resolve_color(const litehtml::tstring& color) const {
    return m_view.resolve_color(color);
}

void PageBuild::draw_audio_player(litehtml::uint_ptr hdc, const litehtml::position& pos) {
    m_view.draw_audio_player(hdc, pos);
}

} // namespace tf
