#pragma once
// What a drive page is built from, kept with the page to tell whether a rebuild would change it.

#include <string>
#include <variant>
#include <vector>

#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"

namespace brevane {

// Compared by the records' own defaulted ==, so a field added to a drive, a partition or an entry
// takes part without a change here.
struct PageData {
    std::variant<std::vector<tuvrek::Drive>, std::string> listing;  // the drives, or why they can't be read
    std::vector<tuvrek::Entry> entries;

    bool operator==(const PageData&) const = default;
};

}  // namespace brevane
