#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/scan/host_disks.h"

namespace pbaloader::host {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = PBA_LINUX_SYSFS_FIXTURES;

// Re-records a fixture tree with the recording script and scans both: the
// script must keep everything the scanner reads. Run by busybox's sh, which
// the virtual machines have, where it is installed.
TEST(RecordSysfs, KeepsWhatTheScannerReads) {
  struct Case {
    const char* machine;
    const char* names;
  };
  const Case cases[] = {
      {"workstation", "sda sdb sdc nvme0n1 nvme1n1 mmcblk0 vda"},
      {"raidroot", "sda sdb sdc dm-0"},  // dm-0 brings md127 and the partitions beneath
  };
  const std::string shell = fs::exists("/usr/bin/busybox") ? "/usr/bin/busybox sh" : "/bin/sh";
  for (const auto& c : cases) {
    SCOPED_TRACE(shell + " " + c.machine);
    const fs::path machine = kFixtures / c.machine;
    const fs::path out =
        fs::temp_directory_path() / ("pba-record-" + std::to_string(::getpid()) + "-" + c.machine);
    fs::remove_all(out);
    const std::string command = "SYSFS='" + (machine / "sys").string() + "' MOUNTINFO='" +
                                (machine / "mountinfo").string() + "' " + shell + " '" +
                                PBA_RECORD_SYSFS + "' '" + out.string() + "' " + c.names;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto original = scanHostDisks({machine / "sys", machine / "dev", machine / "mountinfo"});
    const auto recorded = scanHostDisks({out / "sys", machine / "dev", out / "mountinfo"});
    EXPECT_FALSE(recorded.empty());
    EXPECT_EQ(original, recorded);
    fs::remove_all(out);
  }
}

}  // namespace
}  // namespace pbaloader::host
