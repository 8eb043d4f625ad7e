#include <gtest/gtest.h>

#include <string>

#include "TestView.h"
#include "src/ThemeStyle.h"

using tf::ThemeStyle;

namespace {

litehtml::element::ptr byId(const litehtml::element::ptr& el, const std::string& id) {
    if (!el)
        return nullptr;
    const char* value = el->get_attr("id");
    if (value && id == value)
        return el;
    for (size_t i = 0; i < el->get_children_count(); ++i)
        if (auto found = byId(el->get_child(static_cast<int>(i)), id))
            return found;
    return nullptr;
}

std::string property(const litehtml::element::ptr& el, const char* name) {
    const char* value = el ? el->get_style_property(name, true) : nullptr;
    return value ? value : "";
}

const char* const kBook =
    "<html><head><style>p.own { font-family: BookFont; line-height: 1.2; color: #000000; "
    "background-color: #ffffff } a { color: #ff0000 }</style></head><body>"
    "<p id='own' class='own'>Styled by the book</p><p id='plain'>Plain <a id='link' href='#x'>link</a></p>"
    "</body></html>";

} // namespace

TEST(ThemeStyle, SheetForTheChoices) {
    ThemeStyle light;
    const std::string css = light.css();
    EXPECT_NE(css.find("padding: 30px"), std::string::npos) << css;
    EXPECT_NE(css.find("max-width: 35em"), std::string::npos) << css;
    // Light keeps the book's colours; no font or spacing is imposed by default.
    EXPECT_EQ(css.find("color"), std::string::npos) << css;
    EXPECT_EQ(css.find("font-family"), std::string::npos) << css;
    EXPECT_EQ(css.find("line-height"), std::string::npos) << css;

    ThemeStyle odd;
    odd.lineWidth = ThemeStyle::WIDTH_FULL;
    odd.margin = 100000;
    odd.lineSpacing = 5;
    odd.fontFamily = "Evil\"; } body { display: none";
    const std::string clamped = odd.css();
    EXPECT_NE(clamped.find("padding: 200px"), std::string::npos) << clamped;
    EXPECT_NE(clamped.find("line-height: 1.00"), std::string::npos) << clamped;
    EXPECT_EQ(clamped.find("Evil"), std::string::npos) << clamped;
    EXPECT_EQ(clamped.find("max-width"), std::string::npos) << clamped;

    for (ThemeStyle::Theme theme : {ThemeStyle::THEME_LIGHT, ThemeStyle::THEME_SEPIA, ThemeStyle::THEME_DARK}) {
        const ThemeStyle::Colours c = ThemeStyle::colours(theme);
        EXPECT_GE(ThemeStyle::contrast(c.text, c.page), 7.0) << ThemeStyle::themeName(theme);
        EXPECT_GE(ThemeStyle::contrast(c.link, c.page), 4.5) << ThemeStyle::themeName(theme);
        ThemeStyle::Theme back = ThemeStyle::THEME_LIGHT;
        EXPECT_TRUE(ThemeStyle::themeFromName(ThemeStyle::themeName(theme), back));
        EXPECT_EQ(back, theme);
    }
    ThemeStyle::Theme unknown = ThemeStyle::THEME_DARK;
    EXPECT_FALSE(ThemeStyle::themeFromName("purple", unknown));
    EXPECT_EQ(unknown, ThemeStyle::THEME_DARK);
    EXPECT_DOUBLE_EQ(ThemeStyle::contrast(0xFFFFFF, 0x000000), 21.0);
}

TEST(ThemeStyle, LayeredAfterTheBooksOwnSheet) {
    struct Case {
        const char* what;
        ThemeStyle::Theme theme;
        bool overrideBook;
        const char* ownFamily;
        const char* ownLineHeight;
        const char* plainFamily;
    } cases[] = {
        {"book's fonts kept", ThemeStyle::THEME_LIGHT, false, "BookFont", "1.2", "ReaderFont"},
        {"reader's fonts chosen", ThemeStyle::THEME_DARK, true, "ReaderFont", "1.80", "ReaderFont"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestView view;
        view.width = 1600;
        ThemeStyle style;
        style.theme = c.theme;
        style.fontFamily = "ReaderFont";
        style.lineSpacing = 180;
        style.overrideBook = c.overrideBook;
        view.set_user_style(style.css());
        view.load_string(kBook, "./");
        auto doc = view.document();
        ASSERT_TRUE(doc);
        auto own = byId(doc->root(), "own"), plain = byId(doc->root(), "plain"), link = byId(doc->root(), "link");
        ASSERT_TRUE(own && plain && link);
        EXPECT_NE(property(own, "font-family").find(c.ownFamily), std::string::npos) << property(own, "font-family");
        EXPECT_EQ(property(own, "line-height"), c.ownLineHeight);
        EXPECT_NE(property(plain, "font-family").find(c.plainFamily), std::string::npos);
        // The column: 35 em of 20 px at most, centred in 1600 px.
        auto body = test::find_tag(doc->root(), "body");
        ASSERT_TRUE(body);
        EXPECT_LE(body->get_position().width, 700);
        EXPECT_NEAR(body->get_position().x + body->get_position().width / 2, 800, 40);

        const ThemeStyle::Colours colours = style.colours();
        const litehtml::web_color text = own->get_color("color", true);
        const litehtml::web_color linkColour = link->get_color("color", true);
        if (c.theme == ThemeStyle::THEME_DARK) {
            // The book's black on white gives way to the theme's; links keep standing out.
            EXPECT_EQ((text.red << 16) | (text.green << 8) | text.blue, colours.text);
            EXPECT_EQ(property(own, "background-color"), "transparent");
            EXPECT_EQ((linkColour.red << 16) | (linkColour.green << 8) | linkColour.blue, colours.link);
        } else {
            EXPECT_EQ((text.red << 16) | (text.green << 8) | text.blue, 0u);
            EXPECT_EQ((linkColour.red << 16) | (linkColour.green << 8) | linkColour.blue, 0xFF0000u);
        }
    }
    // No sheet: the book alone.
    test::TestView view;
    view.load_string(kBook, "./");
    EXPECT_EQ(property(byId(view.document()->root(), "plain"), "font-family").find("ReaderFont"), std::string::npos);
}
