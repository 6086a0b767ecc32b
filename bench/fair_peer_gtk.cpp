// The fair peer for the Linux program's start-up: a plain GTK 3 program that shows the same two
// windows with the same controls, texts and sizes, and does nothing else: no path file, no icon.
#include <gtk/gtk.h>

#include <cmath>
#include <string>

#include "ui/layout.h"

namespace {

int pixels(int twips, double resolution) {
    return static_cast<int>(std::lround(twips * resolution / beam::layout::kTwipsPerInch));
}

void show_window(GtkApplication* app, const beam::layout::Window& window, double resolution) {
    GtkWidget* toplevel = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(toplevel), std::string(window.caption).c_str());
    GtkWidget* form = gtk_fixed_new();
    for (const beam::layout::Control& control : window.controls) {
        const std::string text(control.text);
        GtkWidget* widget = nullptr;
        switch (control.kind) {
            case beam::layout::ControlKind::label:
                widget = gtk_label_new(text.c_str());
                gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
                gtk_label_set_xalign(GTK_LABEL(widget), 0);
                gtk_label_set_yalign(GTK_LABEL(widget), 0);
                break;
            case beam::layout::ControlKind::text_field:
                widget = gtk_entry_new();
                gtk_entry_set_text(GTK_ENTRY(widget), (std::string(g_get_home_dir()) + "/.q3a").c_str());
                break;
            case beam::layout::ControlKind::push_button:
                widget = gtk_button_new_with_label(text.c_str());
                break;
        }
        gtk_widget_set_size_request(widget, pixels(control.box.width, resolution),
                                    pixels(control.box.height, resolution));
        gtk_fixed_put(GTK_FIXED(form), widget, pixels(control.box.left, resolution),
                      pixels(control.box.top, resolution));
    }
    gtk_container_add(GTK_CONTAINER(toplevel), form);
    gtk_widget_show_all(toplevel);
}

void on_activate(GtkApplication* app, gpointer /*unused*/) {
    const double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
    show_window(app, beam::layout::kChooser, resolution > 0 ? resolution : 96);
    show_window(app, beam::layout::kPrompt, resolution > 0 ? resolution : 96);
}

}  // namespace

int main() {
    GtkApplication* app = gtk_application_new("org.beamtailor.FairPeer", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), nullptr);
    const int status = g_application_run(G_APPLICATION(app), 0, nullptr);
    g_object_unref(app);
    return status;
}
