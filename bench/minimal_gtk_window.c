/* The yardstick for the Linux program's start-up: one empty GTK 3 window, nothing else. */
#include <gtk/gtk.h>

static void on_activate(GtkApplication* app, gpointer unused) {
    (void)unused;
    gtk_widget_show(gtk_application_window_new(app));
}

int main(void) {
    GtkApplication* app = gtk_application_new("org.beamtailor.MinimalWindow", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), NULL);
    int status = g_application_run(G_APPLICATION(app), 0, NULL);
    g_object_unref(app);
    return status;
}
