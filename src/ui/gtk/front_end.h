#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string_view>

#include "pathstore/pathstore.h"

namespace beam::gtk {

// Text as GTK can show it: bytes that are not UTF-8 as replacement characters, a NUL as '?'.
using ReadableText = std::unique_ptr<gchar, decltype(&g_free)>;
ReadableText readable(std::string_view text);

// Builds both windows for app, runs the path prompt's load step and then shows the prompt,
// unless the load step failed and the program has ended.
void start(GtkApplication* app, PathStore& store);

}  // namespace beam::gtk
