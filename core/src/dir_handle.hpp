#pragma once
// An open folder listing, closed when the handle goes.

#include <dirent.h>

#include <memory>

namespace tuvrek {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace tuvrek
