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
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    ~Owned() { reset(); }

    [[nodiscard]] Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    void reset() noexcept {
        if (handle_ != Handle{}) {
            release(handle_);
        }
        handle_ = Handle{};
    }

  private:
    Handle handle_{};
};

}  // namespace beam::win32
