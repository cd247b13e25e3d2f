// A kernel handle that closes itself.
#pragma once

#include <windows.h>

#include <utility>

namespace kolibra {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  // Takes h; both nullptr and INVALID_HANDLE_VALUE mean "no handle".
  explicit OwnedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Gives the handle up without closing it.
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset() {
    if (h_ != nullptr) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace kolibra
