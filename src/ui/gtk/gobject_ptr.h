#pragma once

#include <glib-object.h>

#include <utility>

namespace beam::gtk {

// Owns one reference to a GObject and gives it back when it goes out of scope.
template <typename T>
class GObjectPtr {
  public:
    explicit GObjectPtr(T* object) : object_(object) {}
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() {
        if (object_ != nullptr) {
            g_object_unref(object_);
        }
    }

    [[nodiscard]] T* get() const { return object_; }

  private:
    T* object_;
};

}  // namespace beam::gtk
