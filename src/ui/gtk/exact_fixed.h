#pragma once

#include <gtk/gtk.h>

namespace beam::gtk {

// A GtkFixed that gives every child exactly the size set by gtk_widget_set_size_request, even
// where the theme would draw that widget larger, so the form keeps the sizes of its table. It
// asks for the size set by exact_fixed_set_size but lets its window shrink below that: a resize
// moves and grows nothing, it only shows more or less of the form.
GtkWidget* exact_fixed_new();
void exact_fixed_set_size(GtkWidget* fixed, int width, int height);

}  // namespace beam::gtk
