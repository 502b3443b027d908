// The tool end to end on the Linux host machine, with loop devices standing
// in for a USB stick and an internal disk (the scan result is made up; the
// bytes, opens and partition rereads are real).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/interactive.h"
#include "linux/loop_device.h"
#include "platform/linux/host_machine.h"
#include "platform/linux/host_platform.h"
#include "support/drives_fixture.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using testing::LoopDevice;
constexpr std::uint64_t MiB = 1 << 20;
constexpr std::uint64_t ImageRegion = 256 * MiB;

// Runs the tool in-process on a host machine made of the given disks.
class HostRun {
 public:
  HostRun(std::vector<host::HostDisk> disks, const std::string& cwd,
          const std::string& mountInfo = "/proc/self/mountinfo", const std::string& input = "") {
    host::HostSetup setup;
    setup.currentDirectory = cwd;
    setup.modulePath = "/usr/local/bin/pbaloader";
    setup.mountInfo = mountInfo;
    machine_ = host::buildHostMachine(disks, setup);
    machine_->console.echoToHost = false;
    if (!input.empty()) machine_->console.stdinText = input;
    platform_ = std::make_unique<host::HostPlatform>(*machine_);
  }
  int run(std::vector<std::string> args) {
    os::ScopedPlatform installed(*platform_);
    args.insert(args.begin(), "/usr/local/bin/pbaloader");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return app::runPbaLoader(static_cast<int>(args.size()), argv.data());
  }
  std::string output() const { return testing::afterBanner(machine_->console.output); }
  sim::Machine& machine() { return *machine_; }
  os::Platform& platform() { return *platform_; }

 private:
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<os::Platform> platform_;
};

// A 256 MiB image with a pattern and a header at 128 MiB naming a 1 MiB payload.
std::filesystem::path makeImage(const std::filesystem::path& folder) {
  const auto path = folder / "PBA_test.pkg";
  std::string chunk(MiB, '\0');
  std::ofstream out(path, std::ios::binary);
  for (std::uint64_t m = 0; m < ImageRegion / MiB; ++m) {
    for (std::size_t i = 0; i < chunk.size(); i += 512)
      std::snprintf(chunk.data() + i, 512, "sector %llu", (m * MiB + i) / 512ull);
    if (m == 128) {
      std::memcpy(chunk.data(), "QUORINMGK", 9);
      chunk[9] = 0;
      const std::uint32_t payload = MiB;
      std::memcpy(chunk.data() + 534, &payload, 4);
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  return path;
}

std::string fileBytes(const std::filesystem::path& path, std::uint64_t offset, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string out(n, '\0');
  in.read(out.data(), static_cast<std::streamsize>(n));
  return out;
}

class LoopDrives : public ::testing::Test {
 protected:
  void SetUp() override {
    stick_ = std::make_unique<LoopDevice>(320 * MiB);
    internal_ = std::make_unique<LoopDevice>(64 * MiB);
    if (!stick_->unavailable().empty()) GTEST_SKIP() << stick_->unavailable();
    if (!internal_->unavailable().empty()) GTEST_SKIP() << internal_->unavailable();
    // The internal disk holds something that must survive every run.
    internal_->writeBacking(0, std::string(4096, 'I'));
    internal_->writeBacking(internal_->size() - 4096, std::string(4096, 'J'));
  }
  std::vector<host::HostDisk> disks() const {
    return {internal_->asDisk(host::Bus::Ata, "Internal Disk", "INT1"),
            stick_->asDisk(host::Bus::Usb, "Loop Stick", "LS1")};
  }
  void expectInternalUntouched() const {
    EXPECT_EQ(internal_->readBacking(0, 4096), std::string(4096, 'I'));
    EXPECT_EQ(internal_->readBacking(internal_->size() - 4096, 4096), std::string(4096, 'J'));
  }

  testing::TempFolder folder_;
  std::unique_ptr<LoopDevice> stick_, internal_;
};

TEST_F(LoopDrives, ListingShowsOnlyTheStickByItsNode) {
  HostRun run(disks(), folder_.path().string());
  EXPECT_EQ(run.run({"-l"}), 0);
  EXPECT_NE(run.output().find(stick_->node()), std::string::npos) << run.output();
  EXPECT_NE(run.output().find("Loop Stick"), std::string::npos) << run.output();
  EXPECT_EQ(run.output().find(internal_->node()), std::string::npos) << run.output();
  EXPECT_EQ(run.output().find("Internal Disk"), std::string::npos) << run.output();
}

TEST_F(LoopDrives, LoadByModelThenClearByNodeLeaveExactlyTheRightBytes) {
  const auto image = makeImage(folder_.path());
  // A partition table at both ends, which the cleaning removes.
  stick_->writeBacking(510, "\x55\xAA");
  stick_->writeBacking(stick_->size() - 512, "EFI PART");
  {
    HostRun run(disks(), folder_.path().string());
    // A loop device answers no command, so the stick goes by the name the
    // management service builds for a USB drive.
    EXPECT_EQ(run.run({"-d", "loop stick usb device", "-load", "PBA_test.pkg"}), 0);
    EXPECT_NE(run.output().find("PBA file written"), std::string::npos) << run.output();
  }
  for (std::uint64_t at : {std::uint64_t{0}, 100 * MiB, 128 * MiB, ImageRegion - 4096})
    EXPECT_EQ(stick_->readBacking(at, 4096), fileBytes(image, at, 4096)) << "at " << at;
  EXPECT_EQ(stick_->readBacking(stick_->size() - 512, 8), std::string(8, '\0'));
  expectInternalUntouched();

  {
    HostRun run(disks(), folder_.path().string());
    EXPECT_EQ(run.run({"-d", stick_->node(), "-clear"}), 0);
    EXPECT_NE(run.output().find("PBA data cleared"), std::string::npos) << run.output();
  }
  EXPECT_EQ(stick_->readBacking(0, 4096), std::string(4096, '\0'));
  EXPECT_EQ(stick_->readBacking(128 * MiB, 4096), std::string(4096, '\0'));
  expectInternalUntouched();
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "s.txt"));
}

TEST_F(LoopDrives, InternalDiskByNodeOrModelIsNotFound) {
  for (const std::string& name : {internal_->node(), std::string("Internal Disk")}) {
    HostRun run(disks(), folder_.path().string());
    EXPECT_EQ(run.run({"-d", name, "-clear"}), -1) << name;
    EXPECT_NE(run.output().find("Drive \"" + name + "\" not found\n"), std::string::npos)
        << run.output();
  }
  expectInternalUntouched();
}

TEST_F(LoopDrives, NodeMatchesWithoutRegardToAsciiCase) {
  std::string upper = stick_->node();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HostRun run(disks(), folder_.path().string());
  stick_->writeBacking(0, std::string(512, 'S'));
  EXPECT_EQ(run.run({"-d", upper, "-clear"}), 0);
  EXPECT_NE(run.output().find("PBA data cleared"), std::string::npos) << run.output();
  EXPECT_EQ(stick_->readBacking(0, 512), std::string(512, '\0'));
}

TEST_F(LoopDrives, StickWithAMountedPartitionIsNeverWritten) {
  stick_->writeBacking(0, std::string(512, 'S'));
  // The mount table says a partition of the stick is mounted.
  host::HostDisk stick = stick_->asDisk(host::Bus::Usb, "Loop Stick", "LS1");
  const auto table = folder_.path() / "mountinfo";
  std::ofstream(table) << "30 1 259:1 / / rw - ext4 /dev/vda1 rw\n"
                       << "41 30 " << stick.major << ":" << stick.minor
                       << " / /media/stick rw - vfat " << stick_->node() << " rw\n";
  HostRun run({stick}, folder_.path().string(), table.string());
  run.run({"-l"});
  EXPECT_NE(run.output().find(stick_->node()), std::string::npos) << run.output();
  run.run({"-d", stick_->node(), "-clear"});
  EXPECT_NE(run.output().find("\nWrite failed\n"), std::string::npos) << run.output();
  EXPECT_EQ(run.output().find("PBA data cleared"), std::string::npos) << run.output();
  EXPECT_EQ(stick_->readBacking(0, 512), std::string(512, 'S'));
}

TEST_F(LoopDrives, TwoSticksTheCleaningCleansExactlyTheSelectedOne) {
  auto other = std::make_unique<LoopDevice>(64 * MiB);
  ASSERT_TRUE(other->unavailable().empty()) << other->unavailable();
  other->writeBacking(0, std::string(512, 'O'));
  other->writeBacking(other->size() - 512, std::string(512, 'O'));
  stick_->writeBacking(stick_->size() - 512, std::string(512, 'T'));
  // The selected stick is disk 2, behind the other stick (disk 1).
  std::vector<host::HostDisk> all = disks();
  all.insert(all.begin() + 1, other->asDisk(host::Bus::Usb, "Other Stick", "OS1"));
  HostRun run(all, folder_.path().string());
  EXPECT_EQ(run.run({"-d", stick_->node(), "-clear"}), 0);
  EXPECT_NE(run.output().find("PBA data cleared"), std::string::npos) << run.output();
  ASSERT_EQ(run.machine().shell.scriptsRun.size(), 1u);
  EXPECT_EQ(run.machine().shell.scriptsRun[0], "select disk 2\nclean\n");
  EXPECT_EQ(stick_->readBacking(stick_->size() - 512, 512), std::string(512, '\0'));
  EXPECT_EQ(other->readBacking(0, 512), std::string(512, 'O'));
  EXPECT_EQ(other->readBacking(other->size() - 512, 512), std::string(512, 'O'));
  expectInternalUntouched();
}

TEST_F(LoopDrives, MenuClearAsksForYesAndClearsTheStick) {
  stick_->writeBacking(0, std::string(512, 'S'));
  {
    HostRun run(disks(), folder_.path().string(), "/proc/self/mountinfo", "1\n2\nNO\n");
    run.run({"-i"});
  }
  EXPECT_EQ(stick_->readBacking(0, 512), std::string(512, 'S'));
  HostRun run(disks(), folder_.path().string(), "/proc/self/mountinfo", "1\n2\nYES\n");
  EXPECT_EQ(run.run({"-i"}), 0);
  EXPECT_NE(run.output().find("1) " + stick_->node()), std::string::npos) << run.output();
  EXPECT_NE(run.output().find("PBA data cleared"), std::string::npos) << run.output();
  EXPECT_EQ(stick_->readBacking(0, 512), std::string(512, '\0'));
  expectInternalUntouched();
}

TEST(LinuxHost, ImageSearchShowsLinuxPathsAndSkipsLinks) {
  testing::TempFolder folder;
  std::filesystem::create_directories(folder.path() / "sub");
  std::ofstream(folder.path() / "sub" / "PBA_one.bin") << "x";
  std::filesystem::create_directory_symlink(folder.path() / "sub", folder.path() / "link");
  HostRun run({}, folder.path().string());
  os::ScopedPlatform installed(run.platform());
  const auto found = findImageFiles();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], (folder.path() / "sub" / "PBA_one.bin").string());
}

}  // namespace
}  // namespace pbaloader
