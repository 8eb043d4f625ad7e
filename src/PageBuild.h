#pragma once

#include <memory>
#include <set>
#include <string>

#include <litehtml.h>

#include "engine-additions/AudioPlayerPainter.h"
#include "src/CssGuard.h"
#include "utility/String.h"

namespace tf {

class Renderer;

// One page as the engine builds, lays out and paints it: the container of
// its document. Fonts, pictures, drawing and measuring are the view's, and
// it hands those calls on; what belongs to this page alone it keeps itself:
// the folder its references resolve against, the style sheets it has read
// and the budget they share, whether every sheet it linked leaves its top
// laid out as the whole page would.
//
// Made on the loader thread for one build of a page (a long page may be
// built more than once while its top is tried); it lives exactly as long as
// its document (document() holds both), so the finished page goes to the
// window thread whole and nothing about it waits in the view.
class PageBuild : public litehtml::document_container, public AudioPlayerPainter {
public:
    static constexpr size_t kMaxStyleSheets = 64;

    // A page of `elements` elements whose own sheets cost `styleCost` per element.
    PageBuild(Renderer& view, String root, long elements, long long styleCost);
    virtual ~PageBuild() = default;
    PageBuild(const PageBuild&) = delete;
    PageBuild& operator=(const PageBuild&) = delete;

    // Builds the document from `html` with this page as its container. The
    // returned pointer owns this build too; null when the engine fails.
    static litehtml::document::ptr build(std::unique_ptr<PageBuild> page, const std::string& html,
                                         litehtml::context* context, litehtml::css* userStyle);

    // The folder (or book address) the page's references resolve against.
    const String& root() const { return m_root; }
    // `ref` of this page resolved against its own folder, or against `base`
    // (a style sheet's folder) when one is given.
    String resolve(const String& ref, const char* base = nullptr) const;

    // Each style sheet is read once for a page (which also ends import
    // cycles), and no more than kMaxStyleSheets: false for one read already.
    bool firstRead(const std::string& address);
    // A sheet fetched for this page goes to the engine within the page's
    // budget, settled; one beyond it is cleared, with a log line.
    void admitStyleSheet(std::string& css, const String& address);
    // False once a sheet was admitted whose rules make a box depend on what
    // follows it: a prefix of the page then lays out unlike its top.
    bool sheetsSound() const { return m_sheetsSound; }

    // The view is being destroyed with the page still held: the fonts it made
    // are gone with it, so the document frees them no more.
    void detach() { m_detached = true; }

    // ---- the engine's container: the view's means, this page's state ----
    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override;
    const litehtml::tchar_t* get_default_font_name() const override;
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) override;
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const litehtml::tchar_t* caption) override;
    void set_base_url(const litehtml::tchar_t* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) override;
    void set_cursor(const litehtml::tchar_t* cursor) override;
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tag_name,
                                                      const litehtml::string_map& attributes,
                                                      const std::shared_ptr<litehtml::document>& doc) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;
    litehtml::tstring resolve_color(const litehtml::tstring& color) const override;
    void draw_audio_player(litehtml::uint_ptr hdc, const litehtml::position& pos) override;

private:
    // The engine names no folder for references in the page itself: they
    // resolve against the page's own, not the one of the page shown now.
    const litehtml::tchar_t* baseOr(const litehtml::tchar_t* baseurl) const;

    Renderer& m_view;
    const String m_root;
    const std::string m_rootText;
    CssGuard::Budget m_budget;
    std::set<std::string> m_sheetsRead;
    bool m_sheetsSound = true;
    bool m_detached = false;
};

} // namespace tf
