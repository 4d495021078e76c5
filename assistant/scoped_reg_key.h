// One owner for one open registry key, closed when the owner goes.
#pragma once

#include "platform/platform.h"

namespace assistant {

class ScopedRegKey {
 public:
  // Takes a key only from an open or create call that succeeded.
  explicit ScopedRegKey(platform::Hkey key) : key_(key) {}
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  ~ScopedRegKey() { Release(); }

  platform::Hkey Get() const { return key_; }

  // Closes the key, if one is still held; the status of the close is not used.
  void Release() {
    if (key_ != 0) {
      platform::RegCloseKey(key_);
      key_ = 0;
    }
  }

 private:
  platform::Hkey key_;
};

}  // namespace assistant
