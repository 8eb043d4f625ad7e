#pragma once

namespace tf {

// The built-in default (user-agent) style sheet every document is styled with
// before its own style sheets. A non-empty "./master.css" replaces it whole.
extern const char* const kMasterCss;

} // namespace tf
