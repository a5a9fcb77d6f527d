#pragma once
// The mount dialog: the form for one partition, its live plan preview, and the action that starts the
// privileged run.

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "privileged.hpp"
#include "tuvrek/drives.hpp"

namespace brevane {

enum class DialogMode { Mount, Startup };
using DismissCallback = std::shared_ptr<std::function<void()>>;

// on_result receives the run's result; on_dismissed is called when the dialog closes without a run.
void show_mount_dialog(GtkWindow* parent, const tuvrek::Partition& partition, DialogMode mode,
                       ResultCallback on_result, DismissCallback on_dismissed);

}  // namespace brevane
