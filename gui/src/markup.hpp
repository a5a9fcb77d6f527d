#pragma once
// Data texts shown where GTK and libadwaita read markup (titles, subtitles, descriptions, toasts).

#include <string>
#include <string_view>

namespace brevane {

// The text with markup's special characters escaped, so it shows as written.
std::string markup_escaped(std::string_view text);

}  // namespace brevane
