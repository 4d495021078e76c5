// The in-memory machine each host test runs on, and the states it starts in.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_platform.h"

namespace assistant::testing {

using platform::memory::Machine;
using platform::memory::Op;

inline constexpr const char16_t* kBrowserKey =
    u"SOFTWARE\\Microsoft\\Internet Explorer";
inline constexpr const char16_t* kRunOnce =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const char16_t* kSetupPath = u"C:\\Setup\\iesetup.exe";

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { Machine::Current().Reset(); }
  void TearDown() override { Machine::Current().Reset(); }

  Machine& machine() { return Machine::Current(); }

  void SetVersion(const std::u16string& version) {
    machine().SetString(platform::kLocalMachine, kBrowserKey, u"Version",
                        version);
  }
  // The installer is there; when it runs it writes `version`, or nothing
  // when `version` is empty.
  void ProvideSetup(const std::u16string& version,
                    const std::u16string& path = kSetupPath) {
    machine().programs.insert(platform::memory::Fold(path));
    machine().onRun = [version](Machine& m, const platform::memory::Launch&) {
      if (!version.empty()) {
        m.SetString(platform::kLocalMachine, kBrowserKey, u"Version", version);
      }
    };
  }
  const platform::memory::Value* Welcome() {
    return machine().FindValue(platform::kCurrentUser, kRunOnce,
                               u"IE_Welcome");
  }
};

}  // namespace assistant::testing
