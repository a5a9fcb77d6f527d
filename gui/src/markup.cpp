#include "markup.hpp"

#include <glib.h>

namespace brevane {

std::string markup_escaped(std::string_view text) {
    g_autofree char* escaped = g_markup_escape_text(text.data(), static_cast<gssize>(text.size()));
    return escaped;
}

}  // namespace brevane
