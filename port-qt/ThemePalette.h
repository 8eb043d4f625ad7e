#pragma once

#include <QPalette>

#include "src/ThemeStyle.h"

namespace tf {

// The window's palette for a reading theme: the light theme keeps the
// desktop's own palette, sepia and dark colour the window's surfaces after
// the page so that the panel and bars do not glare around a dark page.
class ThemePalette {
public:
    static QPalette make(ThemeStyle::Theme theme, const QPalette& desktop);
};

} // namespace tf
