// The one owner of CoreFoundation references in this layer. A CFRef holds one reference: it is
// given one that the caller owns (a Create or Copy result) or takes a new one on a borrowed
// reference (retain), and releases it when it goes. Objective-C++ files hand references to ARC
// only through the CFBridging calls or __bridge casts, never by hand.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace uiglean::macos {

template <class T>
class CFRef {
 public:
  CFRef() = default;
  // Takes over a reference the caller owns (nullptr is allowed).
  explicit CFRef(T owned) : ref_(owned) {}
  // Takes a reference of its own on a borrowed one.
  static CFRef retain(T borrowed) {
    if (borrowed) CFRetain(borrowed);
    return CFRef(borrowed);
  }
  CFRef(const CFRef& other) : ref_(other.ref_) {
    if (ref_) CFRetain(ref_);
  }
  CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  ~CFRef() {
    if (ref_) CFRelease(ref_);
  }

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // For a Copy or Create call's out parameter: drops what was held and returns where the new,
  // owned reference goes.
  T* out() {
    if (ref_) CFRelease(ref_);
    ref_ = nullptr;
    return &ref_;
  }

 private:
  T ref_ = nullptr;
};

}  // namespace uiglean::macos
