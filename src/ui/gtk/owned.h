#pragma once

#include <glib-object.h>

#include <memory>

namespace beam::gtk {

// A pointer that owns what it points to and gives it back with release: g_object_unref, or
// another GLib function such as g_free or g_list_free.
template <auto release>
struct ReleaseWith {
    template <typename T>
    void operator()(T* owned) const {
        release(owned);
    }
};
template <typename T, auto release = g_object_unref>
using Owned = std::unique_ptr<T, ReleaseWith<release>>;

}  // namespace beam::gtk
