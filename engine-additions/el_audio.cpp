#include "engine-additions/el_audio.h"

#include "engine-additions/AudioPlayerPainter.h"

namespace tf {

namespace {

// A book's style may give any length; boxes stay within what an int and the
// painter hold (float-to-int conversion of a larger value is undefined).
constexpr float kMaxPx = 1e7f;

int to_px(float v) {
    if (!(v == v))
        return 0;
    if (v > kMaxPx)
        return static_cast<int>(kMaxPx);
    if (v < -kMaxPx)
        return -static_cast<int>(kMaxPx);
    return static_cast<int>(v);
}

// A declared width or height in pixels; percentages of `base`.
int length_px(const litehtml::css_length& length, int base) {
    if (length.units() == litehtml::css_units_percentage)
        return to_px(length.val() * static_cast<float>(base) / 100.0f);
    return to_px(length.val());
}

} // namespace

int el_audio::declared_height() const {
    // Beyond any page whatever the unit; the engine's own conversion of such
    // a value would overflow.
    const float value = m_css_height.val();
    if (value >= kMaxPx || value <= -kMaxPx)
        return to_px(value);
    int height = 0;
    if (!get_predefined_height(height))
        height = to_px(value);
    return height;
}

el_audio::el_audio(const std::shared_ptr<litehtml::document>& doc) : litehtml::html_tag(doc) {
    m_display = litehtml::display_inline_block;
}

bool el_audio::is_replaced() const {
    return true;
}

int el_audio::line_height() const {
    return height();
}

void el_audio::parse_styles(bool is_reparse) {
    html_tag::parse_styles(is_reparse);
}

void el_audio::parse_attributes() {
    m_src = get_attr("src", "");
    if (const char* h = get_attr("height"))
        m_style.add_property("height", h, nullptr, false, this);
    if (const char* w = get_attr("width"))
        m_style.add_property("width", w, nullptr, false, this);
}

void el_audio::get_content_size(litehtml::size& sz, int /*max_width*/) {
    sz.width = kWidth;
    sz.height = kHeight;
}

int el_audio::max_height_px(int fallback) {
    auto doc = get_document();
    int percentBase = 0;
    if (m_css_max_height.units() == litehtml::css_units_percentage) {
        auto p = parent();
        if (!p || !p->get_predefined_height(percentBase))
            return fallback;
    }
    return doc->cvt_units(m_css_max_height, m_font_size, percentBase);
}

// The sizing of the engine's own image element, with a fixed intrinsic size.
int el_audio::render(int x, int y, int max_width, bool /*second_pass*/) {
    const int parentWidth = max_width;
    calc_outlines(parentWidth);
    m_pos.move_to(x, y);

    auto doc = get_document();
    litehtml::size sz;
    sz.width = kWidth;
    sz.height = kHeight;
    m_pos.width = sz.width;
    m_pos.height = sz.height;

    const bool widthAuto = m_css_width.is_predefined();
    const bool heightAuto = m_css_height.is_predefined();
    if (widthAuto && heightAuto) {
        if (!m_css_max_width.is_predefined()) {
            int m = doc->cvt_units(m_css_max_width, m_font_size, parentWidth);
            if (m < m_pos.width)
                m_pos.width = m;
            m_pos.height = to_px(static_cast<float>(m_pos.width) * sz.height / sz.width);
        }
        if (!m_css_max_height.is_predefined()) {
            int m = max_height_px(sz.height);
            if (m > 0 && m < m_pos.height)
                m_pos.height = m;
            m_pos.width = to_px(static_cast<float>(m_pos.height) * sz.width / sz.height);
        }
    } else if (!heightAuto && widthAuto) {
        m_pos.height = declared_height();
        if (!m_css_max_height.is_predefined()) {
            int m = max_height_px(sz.height);
            if (m < m_pos.height)
                m_pos.height = m;
        }
        m_pos.width = to_px(static_cast<float>(m_pos.height) * sz.width / sz.height);
    } else if (heightAuto && !widthAuto) {
        m_pos.width = length_px(m_css_width, parentWidth);
        if (!m_css_max_width.is_predefined()) {
            int m = doc->cvt_units(m_css_max_width, m_font_size, parentWidth);
            if (m < m_pos.width)
                m_pos.width = m;
        }
        m_pos.height = to_px(static_cast<float>(m_pos.width) * sz.height / sz.width);
    } else {
        m_pos.width = length_px(m_css_width, parentWidth);
        m_pos.height = declared_height();
        if (!m_css_max_height.is_predefined()) {
            int m = max_height_px(sz.height);
            if (m < m_pos.height)
                m_pos.height = m;
        }
        if (!m_css_max_width.is_predefined()) {
            int m = doc->cvt_units(m_css_max_width, m_font_size, parentWidth);
            if (m < m_pos.width)
                m_pos.width = m;
        }
    }
    // Hostile styles (negative sizes) must not reach the painter.
    if (m_pos.width < 0)
        m_pos.width = 0;
    if (m_pos.height < 0)
        m_pos.height = 0;

    calc_auto_margins(parentWidth);
    m_pos.x += content_margins_left();
    m_pos.y += content_margins_top();
    return m_pos.width + content_margins_left() + content_margins_right();
}

void el_audio::draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) {
    html_tag::draw(hdc, x, y, clip);
    litehtml::position box = m_pos;
    box.x += x;
    box.y += y;
    if (!box.does_intersect(clip))
        return;
    auto doc = get_document();
    if (!doc)
        return;
    if (auto* painter = dynamic_cast<AudioPlayerPainter*>(doc->container()))
        painter->draw_audio_player(hdc, box);
}

} // namespace tf
