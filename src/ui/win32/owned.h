#pragma once

// Handles of the window system, each released exactly once by the object that owns it.

#include <utility>

namespace beam::win32 {

template <typename Handle, auto release>
class Owned {
  public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    // The handle held before goes with other.
    Owned& operator=(Owned&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Owned() {
        if (handle_ != Handle{}) {
            release(handle_);
        }
    }

    [[nodiscard]] Handle get() const { return handle_; }

  private:
    Handle handle_{};
};

}  // namespace beam::win32
