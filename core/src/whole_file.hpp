#pragma once
// Reading a whole file, /proc files included (they report a size of 0).

#include <string>

#include "tuvrek/result.hpp"

namespace tuvrek {

// The file's bytes, or the errno of the failed open or read.
Result<std::string, int> read_whole_file(const std::string& path);

}  // namespace tuvrek
