// The simulated machine's "failCall": the n-th call of a member fails as the
// real call fails and changes nothing; every other call works as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

namespace fs = std::filesystem;
using testing::SimMachine;

sim::Json machineFailing(const sim::Json& failures) {
  return {{"drives", {{"C:", "c"}}},
          {"currentDirectory", "C:\\"},
          {"disks", {{{"number", 1}, {"size", 1 << 20}}}},
          {"failCall", failures}};
}

os::Handle openDisk() {
  return os::current()
      .createFileW(u"\\\\.\\PHYSICALDRIVE1", win::GenericRead | win::GenericWrite, 0,
                   win::OpenExisting, win::FileAttributeNormal)
      .value;
}

TEST(FailCall, TheNthCallOfTheMemberFailsAsTheSystemFailsItAndChangesNothing) {
  SimMachine sim(machineFailing({{{"call", "writeFile"}, {"n", 2}, {"error", 31}},
                                 {{"call", "setFilePointer"}, {"n", 1}, {"error", 1117}},
                                 {{"call", "createFileW"}, {"n", 2}, {"error", "0x20"}}}));
  auto& os = os::current();
  const os::Handle h = openDisk();
  ASSERT_NE(h, os::InvalidHandle);
  const auto second = os.createFileW(u"\\\\.\\PHYSICALDRIVE1", win::GenericRead,
                                     win::FileShareRead | win::FileShareWrite, win::OpenExisting,
                                     win::FileAttributeNormal);
  EXPECT_EQ(second.value, os::InvalidHandle);
  EXPECT_EQ(second.error, 32u);

  const std::int32_t high = 0;
  const auto seek = os.setFilePointer(h, 4096, &high, win::FileBegin);
  EXPECT_EQ(seek.low, win::InvalidSetFilePointer);
  EXPECT_EQ(seek.error, 1117u);
  const std::vector<std::uint8_t> ones(512, 1);
  EXPECT_TRUE(os.writeFile(h, ones.data(), 512).ok);  // at 0: the failed seek moved nothing
  const auto failed = os.writeFile(h, ones.data(), 512);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.count, 0u);
  EXPECT_EQ(failed.error, 31u);
  EXPECT_TRUE(os.writeFile(h, ones.data(), 512).ok);  // the third works, at 512
  std::uint8_t bytes[3] = {};
  for (std::uint64_t i = 0; i < 3; ++i)
    ASSERT_TRUE(sim->disks[0].store->read(i * 512, &bytes[i], 1));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 1);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(sim->calls.counts().at("writeFile"), 3u);
  EXPECT_TRUE(os.closeHandle(h).ok);
}

TEST(FailCall, AFailedCloseStillReleasesTheHandleAndComFailuresAreHresults) {
  SimMachine sim(machineFailing({{{"call", "closeHandle"}, {"n", 1}, {"error", 6}},
                                 {{"call", "coInitializeEx"}, {"n", 1}, {"error", "0x8007000E"}},
                                 {{"call", "runSystemCommand"}, {"n", 1}, {"error", 2}}}));
  auto& os = os::current();
  const os::Handle h = openDisk();
  const auto closed = os.closeHandle(h);
  EXPECT_FALSE(closed.ok);
  EXPECT_EQ(closed.error, 6u);
  EXPECT_EQ(sim->files.openHandleCount(), 0u);
  EXPECT_EQ(os.closeHandle(h).error, win::ErrorInvalidHandle);

  EXPECT_EQ(os.coInitializeEx(0), static_cast<std::int32_t>(0x8007000E));
  EXPECT_EQ(sim->management.state().initCount, 0);
  EXPECT_EQ(os.coInitializeEx(0), 0);
  os.coUninitialize();
  EXPECT_EQ(os.runSystemCommand("C:\\Windows\\System32\\diskpart.exe /s s.txt"), -1);
  EXPECT_TRUE(sim->shell.commandLines.empty());
}

TEST(FailCall, DescriptionsThatCannotBeMetAreRefused) {
  for (const sim::Json& failure : {sim::Json{{"call", "writeFiles"}, {"n", 1}, {"error", 1}},
                                   sim::Json{{"call", "writeFile"}, {"n", 0}, {"error", 1}},
                                   sim::Json{{"call", "release"}, {"n", 1}, {"error", 1}}}) {
    SCOPED_TRACE(failure.dump());
    EXPECT_THROW(sim::Machine::fromJson(machineFailing(sim::Json::array({failure})),
                                        fs::temp_directory_path()),
                 std::runtime_error);
  }
}

}  // namespace
}  // namespace pbaloader
