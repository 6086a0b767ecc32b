#include "ui/gtk/exact_fixed.h"

#include "ui/gtk/owned.h"

namespace beam::gtk {
namespace {

struct ExactFixed {
    GtkFixed parent;
    int width;
    int height;
};

struct ExactFixedClass {
    GtkFixedClass parent_class;
};

G_DEFINE_TYPE(ExactFixed, exact_fixed, GTK_TYPE_FIXED)

ExactFixed* as_exact_fixed(GtkWidget* widget) {
    return G_TYPE_CHECK_INSTANCE_CAST(widget, exact_fixed_get_type(), ExactFixed);
}

void get_preferred_width(GtkWidget* widget, int* minimum, int* natural) {
    *minimum = 0;
    *natural = as_exact_fixed(widget)->width;
}

void get_preferred_height(GtkWidget* widget, int* minimum, int* natural) {
    *minimum = 0;
    *natural = as_exact_fixed(widget)->height;
}

void size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    gtk_widget_set_allocation(widget, allocation);
    const Owned<GList, g_list_free> children(gtk_container_get_children(GTK_CONTAINER(widget)));
    for (GList* item = children.get(); item != nullptr; item = item->next) {
        auto* child = static_cast<GtkWidget*>(item->data);
        int left = 0;
        int top = 0;
        gtk_container_child_get(GTK_CONTAINER(widget), child, "x", &left, "y", &top, nullptr);
        GtkAllocation box{allocation->x + left, allocation->y + top, 0, 0};
        gtk_widget_get_size_request(child, &box.width, &box.height);
        gtk_widget_get_preferred_size(child, nullptr, nullptr);  // GTK allocates only what it has measured
        gtk_widget_size_allocate(child, &box);
    }
}

void exact_fixed_class_init(ExactFixedClass* type_class) {
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(type_class);
    widget_class->get_preferred_width = get_preferred_width;
    widget_class->get_preferred_height = get_preferred_height;
    widget_class->size_allocate = size_allocate;
}

void exact_fixed_init(ExactFixed* /*fixed*/) {}

}  // namespace

GtkWidget* exact_fixed_new() {
    return GTK_WIDGET(g_object_new(exact_fixed_get_type(), nullptr));
}

void exact_fixed_set_size(GtkWidget* fixed, int width, int height) {
    ExactFixed* exact = as_exact_fixed(fixed);
    exact->width = width;
    exact->height = height;
    gtk_widget_queue_resize(fixed);
}

}  // namespace beam::gtk
