#pragma once
// The drive page: built whole from the listing and the startup entries, in place of the old one.

#include <string>
#include <vector>

#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"
#include "window_state.hpp"

namespace brevane {

// Forced, it always builds; unforced, only when the data's fingerprint changed.
void refresh_drive_list(const WindowStateRef& state, bool force);

using DriveListing = tuvrek::Result<std::vector<tuvrek::Drive>, std::string>;
// Every field of the listing result and of the entries in one text: equal data, equal text.
std::string page_fingerprint(const DriveListing& listing, const std::vector<tuvrek::Entry>& entries);

}  // namespace brevane
