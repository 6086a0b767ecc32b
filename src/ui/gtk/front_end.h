#pragma once

#include <gtk/gtk.h>

#include "pathstore/pathstore.h"

namespace beam::gtk {

// Builds both windows for app, runs the path prompt's load step and then shows the prompt,
// unless the load step failed and the program has ended.
void start(GtkApplication* app, PathStore& store);

}  // namespace beam::gtk
