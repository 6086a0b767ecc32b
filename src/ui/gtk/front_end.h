#pragma once

#include <gtk/gtk.h>

#include "pathstore/pathstore.h"

namespace beam::gtk {

// Starts the program's rules for app: its windows made, the path file read, both windows shown,
// unless the start-up failed and the program has ended.
void start(GtkApplication* app, PathStore& store);

}  // namespace beam::gtk
