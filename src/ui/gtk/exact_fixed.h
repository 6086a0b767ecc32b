#pragma once

#include <gtk/gtk.h>

namespace beam::gtk {

// A GtkFixed that gives each child exactly its gtk_widget_set_size_request size, even where the
// theme would draw it larger. Its natural size is the one set here, its minimum none: a resize of
// its window moves and grows nothing, it shows more or less of the form.
GtkWidget* exact_fixed_new();
void exact_fixed_set_size(GtkWidget* fixed, int width, int height);

}  // namespace beam::gtk
