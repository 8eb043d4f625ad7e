#pragma once

#include <litehtml.h>

namespace tf {

// An `audio` element: a replaced inline block of a player's size (150 x 25 by
// default) that asks the container to draw a player picture. Nothing is played.
class el_audio : public litehtml::html_tag {
public:
    static constexpr int kWidth = 150;
    static constexpr int kHeight = 25;

    explicit el_audio(const std::shared_ptr<litehtml::document>& doc);

    int render(int x, int y, int max_width, bool second_pass = false) override;
    bool is_replaced() const override;
    int line_height() const override;
    void parse_styles(bool is_reparse = false) override;
    void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override;
    void parse_attributes() override;
    void get_content_size(litehtml::size& sz, int max_width) override;

    const std::string& src() const { return m_src; }

private:
    int max_height_px(int fallback);
    // The height the style gives, in pixels, kept within what a box holds.
    int declared_height() const;

    std::string m_src;
};

} // namespace tf
