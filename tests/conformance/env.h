// Conformance tests: one table of cases about Windows behaviour that the tool
// relies on. The native build runs it against the simulated machine, the
// Windows build against the real Win32 implementation (under Wine here), so
// the stand-in is proven against a real Win32 personality.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pbaloader::conformance {

// The system under test, and what a case needs to prepare its files. Paths
// are Windows paths of the system under test.
class Env {
 public:
  virtual ~Env() = default;
  virtual os::Platform& platform() = 0;
  // A fresh, empty, writable folder (no trailing separator).
  virtual os::WString makeFolder() = 0;
  // A file with these bytes in folder; read-only when asked.
  virtual os::WString makeFile(const os::WString& folder, std::u16string_view name,
                               std::string_view bytes, bool readOnly = false) = 0;
  // The path of the running executable, as the system reports it.
  virtual os::WString modulePath() = 0;
  bool sim = false;               // the simulated machine
  bool wine = false;              // the real Win32 implementation under Wine
  bool linuxHost = false;         // the simulated machine over a real Linux host
  os::WString separator = u"\\";  // between a folder and a name in its paths
  std::string diskPathPrefix = "\\\\.\\PHYSICALDRIVE";  // how a disk's device path starts
};

// The environment of this build (defined once per build).
Env& env();

// Installs the environment's platform as the current one for each test.
class ConformanceTest : public ::testing::Test {
 protected:
  void SetUp() override { installed_ = std::make_unique<os::ScopedPlatform>(env().platform()); }
  void TearDown() override { installed_.reset(); }
  os::Platform& platform() { return env().platform(); }

 private:
  std::unique_ptr<os::ScopedPlatform> installed_;
};

// Skips a row where Wine is known to differ from Windows; say why.
#define PBA_SKIP_UNDER_WINE(why)                                                       \
  do {                                                                                 \
    if (::pbaloader::conformance::env().wine) GTEST_SKIP() << "Wine differs: " << why; \
  } while (0)

// Skips a row where the Linux host deliberately differs from Windows; say why.
#define PBA_SKIP_ON_LINUX_HOST(why)                                                       \
  do {                                                                                    \
    if (::pbaloader::conformance::env().linuxHost) GTEST_SKIP() << "Linux host: " << why; \
  } while (0)

}  // namespace pbaloader::conformance
