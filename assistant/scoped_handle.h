// One owner for one kernel handle, closed when the owner goes.
#pragma once

#include "platform/platform.h"

namespace assistant {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(0); }

  platform::Handle Get() const { return handle_; }

  // Closes the handle held, if any, and takes `handle`.
  void Reset(platform::Handle handle) {
    if (handle_ != 0) {
      platform::CloseHandle(handle_);
    }
    handle_ = handle;
  }

 private:
  platform::Handle handle_ = 0;
};

}  // namespace assistant
