#include "ui/gtk/front_end.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "flow/flow.h"
#include "skins/skins.h"
#include "ui/gtk/exact_fixed.h"
#include "ui/gtk/owned.h"
#include "ui/layout.h"

namespace beam::gtk {
namespace {

// GTK's font resolution where neither the X server nor the desktop sets one.
constexpr double kDefaultResolution = 96;
// The message box's margin around its text, in logical pixels, and the buttons a title bar may
// show beside the title (icon, minimise, maximise, close).
constexpr int kMessageMargin = 18;
constexpr int kTitleBarButtons = 4;

// What the ui:: functions act on.
struct FrontEnd {
    GtkApplication* app = nullptr;
    std::optional<flow::Program> flow;
    GtkWidget* prompt = nullptr;
    GtkWidget* field = nullptr;
    GtkWidget* chooser = nullptr;
    // A folder named in bytes that are not UTF-8 is shown with replacement characters; while the
    // field holds what it was given, the folder's own bytes are its text.
    std::string stored_prompt_text;
    std::string shown_prompt_text;
    // The font resolution in logical pixels to the inch (Xft.dpi or the desktop's text scaling,
    // times GDK_DPI_SCALE); GTK applies the screen's scale factor on top.
    double resolution = kDefaultResolution;
    bool press_waiting = false;  // from a button's click until its press has run
};
FrontEnd front_end;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): the ui:: functions are free

// Text as GTK can show it: bytes that are not UTF-8 as replacement characters, a NUL (which
// would end the text) as '?'.
Owned<gchar, g_free> readable(std::string_view text) {
    std::string bytes(text);
    std::replace(bytes.begin(), bytes.end(), '\0', '?');
    return Owned<gchar, g_free>(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
}

// Twips in logical pixels at the font resolution, so that boxes grow with the text in them.
int pixels(int twips) {
    return static_cast<int>(std::lround(twips * front_end.resolution / layout::kTwipsPerInch));
}

// A click's press, unless the button's window has closed meanwhile.
gboolean run_press(gpointer button) {
    if (gtk_widget_get_realized(GTK_WIDGET(button)) != FALSE) {
        const auto* skin = static_cast<const skins::Skin*>(g_object_get_data(G_OBJECT(button), "skin"));
        if (skin != nullptr) {
            front_end.flow->select(*skin);
        } else {
            front_end.flow->ok();
        }
    }
    front_end.press_waiting = false;
    return G_SOURCE_REMOVE;
}

// The press runs from the main loop once the click has returned: a click through the
// accessibility bus (a screen reader's "press") would otherwise hold that bus until the message
// box the press opens is dismissed. A click while a press waits or runs is dropped.
void on_button_clicked(GtkButton* button, gpointer /*unused*/) {
    if (!std::exchange(front_end.press_waiting, true)) {
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_press, g_object_ref(button), g_object_unref);
    }
}

// A window's close box closes that window alone.
void on_window_destroyed(GtkWidget* window, gpointer /*unused*/) {
    if (window == front_end.prompt) {
        front_end.prompt = nullptr;
        front_end.field = nullptr;
        front_end.flow->closed(flow::Window::prompt);
    } else {
        front_end.chooser = nullptr;
        front_end.flow->closed(flow::Window::chooser);
    }
}

// A web address in the label is never broken (Pango would break it after "https://"): it moves
// whole to the next line, or runs on into the window's margin where it is wider than the box.
void keep_web_address_whole(GtkLabel* label, std::string_view text) {
    const std::size_t start = text.find("https://");
    if (start == std::string_view::npos) {
        return;
    }
    const std::size_t end = std::min(text.find(' ', start), text.size());
    PangoAttribute* no_breaks = pango_attr_allow_breaks_new(FALSE);
    no_breaks->start_index = static_cast<guint>(start);
    no_breaks->end_index = static_cast<guint>(end);
    const Owned<PangoAttrList, pango_attr_list_unref> attributes(pango_attr_list_new());
    pango_attr_list_insert(attributes.get(), no_breaks);
    gtk_label_set_attributes(label, attributes.get());
}

GtkWidget* new_control(const layout::Control& control) {
    const std::string text(control.text);
    switch (control.kind) {
        case layout::ControlKind::label: {
            GtkWidget* label = gtk_label_new(text.c_str());
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD);
            gtk_label_set_xalign(GTK_LABEL(label), 0);
            gtk_label_set_yalign(GTK_LABEL(label), 0);
            keep_web_address_whole(GTK_LABEL(label), text);
            return label;
        }
        case layout::ControlKind::text_field:  // the prompt's one field, which the contract reads and fills
            front_end.field = gtk_entry_new();
            return front_end.field;
        case layout::ControlKind::push_button: {
            GtkWidget* button = gtk_button_new_with_label(text.c_str());
            // The skin it selects (none for "ok"), kept by GLib as a plain pointer, read as const.
            auto* skin = const_cast<skins::Skin*>(control.skin);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
            g_object_set_data(G_OBJECT(button), "skin", skin);
            g_signal_connect(button, "clicked", G_CALLBACK(on_button_clicked), nullptr);
            return button;
        }
    }
    return nullptr;
}

// Sizes the window and places its controls, in the layout's order, for the present resolution.
void place_controls(GtkWidget* toplevel, const layout::Window& window) {
    GtkWidget* form = gtk_bin_get_child(GTK_BIN(toplevel));
    const Owned<GList, g_list_free> children(gtk_container_get_children(GTK_CONTAINER(form)));
    const GList* item = children.get();
    for (const layout::Control& control : window.controls) {
        auto* widget = static_cast<GtkWidget*>(item->data);
        gtk_widget_set_size_request(widget, pixels(control.box.width), pixels(control.box.height));
        gtk_fixed_move(GTK_FIXED(form), widget, pixels(control.box.left), pixels(control.box.top));
        item = item->next;
    }
    exact_fixed_set_size(form, pixels(window.client_width), pixels(window.client_height));
    gtk_window_resize(GTK_WINDOW(toplevel), pixels(window.client_width), pixels(window.client_height));
}

// The window, not yet shown. GTK's tab order runs from top to bottom, which is the table's order,
// and a window being shown puts the focus on the first control in it.
GtkWidget* new_window(const layout::Window& window) {
    GtkWidget* toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(toplevel), std::string(window.caption).c_str());
    GtkWidget* form = exact_fixed_new();
    GtkWidget* label = nullptr;
    GtkWidget* field = nullptr;
    for (const layout::Control& control : window.controls) {
        GtkWidget* widget = new_control(control);
        if (control.kind == layout::ControlKind::label) {
            label = widget;
        } else if (control.kind == layout::ControlKind::text_field) {
            field = widget;
        }
        gtk_fixed_put(GTK_FIXED(form), widget, 0, 0);
    }
    // The label names the field for screen readers: its accessible name, and ATK's "labelled by".
    if (label != nullptr && field != nullptr) {
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), field);
        atk_object_set_name(gtk_widget_get_accessible(field), gtk_label_get_text(GTK_LABEL(label)));
    }
    gtk_container_add(GTK_CONTAINER(toplevel), form);
    place_controls(toplevel, window);
    gtk_widget_show_all(form);
    gtk_application_add_window(front_end.app, GTK_WINDOW(toplevel));
    g_signal_connect(toplevel, "destroy", G_CALLBACK(on_window_destroyed), nullptr);
    return toplevel;
}

// The font resolution, at the start and whenever the desktop's text scaling (gtk-xft-dpi, passed
// on to the screen) changes: every box follows the text.
void on_resolution_changed(GdkScreen* screen, GParamSpec* /*property*/, gpointer /*unused*/) {
    const double resolution = gdk_screen_get_resolution(screen);
    front_end.resolution = resolution > 0 ? resolution : kDefaultResolution;
    if (front_end.prompt != nullptr) {
        place_controls(front_end.prompt, layout::kPrompt);
    }
    if (front_end.chooser != nullptr) {
        place_controls(front_end.chooser, layout::kChooser);
    }
}

// The message box, not yet shown: an alert with the text alone (a GtkMessageDialog keeps room for
// an icon), kept above the active window and modal to all. Before any window is shown its parent
// is one not yet mapped, which GTK does not pass on: the box then stands alone.
GtkWidget* new_message_box(std::string_view text) {
    const std::string title(flow::kApplicationTitle);
    GtkWidget* dialog = gtk_dialog_new_with_buttons(title.c_str(), gtk_application_get_active_window(front_end.app),
                                                    GTK_DIALOG_MODAL, "OK", GTK_RESPONSE_OK, nullptr);
    atk_object_set_role(gtk_widget_get_accessible(dialog), ATK_ROLE_ALERT);
    GtkWidget* label = gtk_label_new(readable(text).get());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    g_object_set(label, "margin", kMessageMargin, nullptr);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), label);
    gtk_widget_show(label);
    // As wide as a title bar needs for the title in bold and its buttons (about a line and a half
    // wide each), so that no window manager shortens the title.
    const Owned<PangoLayout> caption(gtk_widget_create_pango_layout(dialog, nullptr));
    const Owned<gchar, g_free> bold_title(g_markup_printf_escaped("<b>%s</b>", title.c_str()));
    pango_layout_set_markup(caption.get(), bold_title.get(), -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(caption.get(), &width, &height);
    gtk_widget_set_size_request(dialog, width + kTitleBarButtons * height * 3 / 2, -1);
    return dialog;
}

}  // namespace

void start(GtkApplication* app, PathStore& store) {
    front_end.app = app;
    front_end.flow.emplace(store);
    GdkScreen* screen = gdk_screen_get_default();
    on_resolution_changed(screen, nullptr, nullptr);
    g_signal_connect(screen, "notify::resolution", G_CALLBACK(on_resolution_changed), nullptr);
    front_end.flow->start_up();
}

}  // namespace beam::gtk

namespace beam::ui {

using namespace gtk;  // the front-end's state and windows

void make_windows() {
    front_end.prompt = new_window(layout::kPrompt);
    front_end.chooser = new_window(layout::kChooser);
}

void set_prompt_text(std::string_view text) {
    const auto shown = readable(text);
    front_end.stored_prompt_text = text;
    front_end.shown_prompt_text = shown.get();
    gtk_entry_set_text(GTK_ENTRY(front_end.field), shown.get());
}

std::string get_prompt_text() {
    std::string text = gtk_entry_get_text(GTK_ENTRY(front_end.field));
    return text == front_end.shown_prompt_text ? front_end.stored_prompt_text : text;
}

void show_chooser() {
    gtk_widget_show(front_end.chooser);
}

void show_prompt() {
    gtk_window_present(GTK_WINDOW(front_end.prompt));
}

void close_prompt() {
    gtk_widget_destroy(front_end.prompt);
}

void message_box(std::string_view text) {
    GtkWidget* dialog = new_message_box(text);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

void end() {
    for (GtkWidget* window : {front_end.prompt, front_end.chooser}) {
        if (window != nullptr) {
            gtk_widget_destroy(window);
        }
    }
    g_application_quit(G_APPLICATION(front_end.app));
}

}  // namespace beam::ui
