#pragma once

#include <memory>
#include <string>

#include <litehtml.h>

#include "DisplayList.h"
#include "utility/String.h"

namespace tf {

// The top of the chapter that follows the one shown, laid out on the loader
// and recorded there, for the view to paint below the shown page's end: the
// reader scrolls on into it without a break, and once the top of the view
// has passed into it, it is loaded as the page shown.
//
// It belongs to one page and one layout: `key` names the entry it follows
// and the width, font size and reader's style it was built with, and a page
// shown with another key does not paint it. It is painted only; selection,
// links and search work on it once it is the page shown.
struct FollowingPage {
    String address;                    // the entry it shows
    std::string key;                   // the page it follows, and the layout
    litehtml::document::ptr doc;       // owns the fonts the list draws with
    std::unique_ptr<DisplayList> list; // recorded from `doc`
    int height = 0;
};

} // namespace tf
