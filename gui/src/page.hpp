#pragma once
// The drive page: built whole from the listing and the startup entries, in place of the old one.

#include <string>
#include <vector>

#include "page_data.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"
#include "window_state.hpp"

namespace brevane {

// Forced, it always builds; unforced, only when the data's fingerprint changed.
void refresh_drive_list(const WindowStateRef& state, bool force);

using DriveListing = tuvrek::Result<std::vector<tuvrek::Drive>, std::string>;
// The listing result and the entries as one value: equal data, equal fingerprint; any field that
// differs, a different one.
PageData page_fingerprint(DriveListing listing, std::vector<tuvrek::Entry> entries);

}  // namespace brevane
