// Beam Tailor for Linux: the path prompt and the skin chooser as GTK 3 windows.

#include <gtk/gtk.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "pathstore/pathstore.h"
#include "ui/gtk/front_end.h"
#include "ui/gtk/owned.h"

namespace {

using beam::gtk::Owned;

// Every window's icon, compiled in, in the sizes of title bars and switchers at scale 1 and 2.
// Launchers take the larger sizes from the installed theme: decoding them here cost more start-up
// time and memory than the rest of the icon.
void set_window_icon() {
    std::vector<Owned<GdkPixbuf>> images;
    Owned<GList, g_list_free> list;
    for (const int size : {16, 32, 48, 64}) {
        const std::string resource = "/org/beamtailor/icons/beam-tailor-" + std::to_string(size) + ".png";
        images.emplace_back(gdk_pixbuf_new_from_resource(resource.c_str(), nullptr));
        list.reset(g_list_append(list.release(), images.back().get()));
    }
    gtk_window_set_default_icon_list(list.get());
}

void on_activate(GtkApplication* app, gpointer store) {
    set_window_icon();
    beam::gtk::start(app, *static_cast<beam::PathStore*>(store));
}

}  // namespace

int main() {
    // Without drive letters the path file lives in the user's home folder, and the game folder
    // defaults to ioquake3's own folder there.
    const std::string home = g_get_home_dir();
    beam::PathStore store(home + "/.q3path.cfg", home + "/.q3a");

    const Owned<GtkApplication> app(gtk_application_new("org.beamtailor.BeamTailor", G_APPLICATION_NON_UNIQUE));
    g_signal_connect(app.get(), "activate", G_CALLBACK(on_activate), &store);
    return g_application_run(G_APPLICATION(app.get()), 0, nullptr);
}
