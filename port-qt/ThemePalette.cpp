#include "ThemePalette.h"

#include <QColor>

namespace tf {

QPalette ThemePalette::make(ThemeStyle::Theme theme, const QPalette& desktop) {
    if (theme == ThemeStyle::THEME_LIGHT)
        return desktop;
    const ThemeStyle::Colours c = ThemeStyle::colours(theme);
    const QColor page = QColor::fromRgb(c.page);
    const QColor text = QColor::fromRgb(c.text);
    const bool dark = theme == ThemeStyle::THEME_DARK;
    // Bars a little apart from the page, lighter on dark and darker on sepia.
    const QColor window = dark ? page.lighter(130) : page.darker(106);
    const QColor button = dark ? page.lighter(150) : page.darker(110);
    QPalette palette(desktop);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, page);
        palette.setColor(group, QPalette::AlternateBase, window);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::ToolTipBase, window);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, dark ? text.darker(150) : text.lighter(150));
        palette.setColor(group, QPalette::Link, QColor::fromRgb(c.link));
        palette.setColor(group, QPalette::Highlight, QColor::fromRgb(c.link).darker(dark ? 160 : 100));
        palette.setColor(group, QPalette::HighlightedText, dark ? text.lighter(120) : page);
    }
    const QColor muted = dark ? text.darker(180) : text.lighter(180);
    palette.setColor(QPalette::Disabled, QPalette::Window, window);
    palette.setColor(QPalette::Disabled, QPalette::Base, page);
    palette.setColor(QPalette::Disabled, QPalette::Button, button);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, muted);
    palette.setColor(QPalette::Disabled, QPalette::Text, muted);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, muted);
    return palette;
}

} // namespace tf
