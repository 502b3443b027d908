// Partitions that carry a volume, their volume GUIDs and drive letters, on
// the simulated machine's disk driver, volume manager and storage namespace.
#include "discovery/partitions.h"

#include <gtest/gtest.h>

#include "support/sim_fixture.h"
#include "unit/discovery_fixture.h"

namespace pbaloader {
namespace {

using sim::Json;
using testing::expectTidy;
using testing::SimMachine;

constexpr const char* Stick = "\\\\.\\PHYSICALDRIVE1";
constexpr std::uint64_t MiB = 1 << 20;

Json machineWith(const Json& partitions, const Json& extra = Json::object()) {
  Json disk = {{"number", 1}, {"size", 256 * MiB}, {"partitions", partitions}};
  disk.update(extra);
  return {{"disks", {{{"number", 0}, {"removalPolicy", 1}}, disk}}};
}

Json mbr(const Json& entries) { return {{"style", "mbr"}, {"entries", entries}}; }

TEST(ListPartitions, MbrStickWithOneFat32VolumeAtE) {
  SimMachine m(machineWith(mbr({{{"type", 0x0C},
                                 {"start", MiB},
                                 {"length", 100 * MiB},
                                 {"volume", "{0A1B2C3D-0000-4000-8000-ABCDEF012345}"},
                                 {"mountPoints", {"E:\\"}}}})));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 1u);
  PartitionInfo expected;
  expected.startingOffset = MiB;
  expected.partitionLength = 100 * MiB;
  expected.driveLetter = "E:";
  expected.style = 2;
  expected.mbrType = 0x0C;
  expected.diskNumber = 1;
  expected.partitionNumber = 1;
  expected.deviceType = 7;
  expected.driveLetterChar = u'E';
  expected.volumeGuid = u"{0a1b2c3d-0000-4000-8000-abcdef012345}";
  EXPECT_EQ(partitions[0], expected);
  EXPECT_EQ(m->setup.state().updatePropertiesCalls, 1) << "the table is re-read first";
  EXPECT_TRUE(m->management.state().queries.empty()) << "found among the volume interfaces";
  expectTidy(m);
}

TEST(ListPartitions, MbrContainerAndUnusedSlotsAreNotReturned) {
  SimMachine m(machineWith(mbr({{{"type", 0x07}, {"mountPoints", {"F:"}}},
                                {{"unused", true}},
                                {{"type", "extended"}, {"length", 64 * MiB}},
                                {{"type", 0x0C}, {"start", 40 * MiB}}})));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 2u);
  EXPECT_EQ(partitions[0].mbrType, 0x07);
  EXPECT_EQ(partitions[0].driveLetter, "F:");
  EXPECT_EQ(partitions[1].mbrType, 0x0C);
  EXPECT_EQ(partitions[1].partitionNumber, 2u);
  EXPECT_EQ(partitions[1].startingOffset, 40 * MiB);
  EXPECT_EQ(partitions[1].driveLetterChar, 0) << "no mount point, no letter";
  // The container has no volume interface; the storage namespace is asked and knows none.
  EXPECT_EQ(m->management.state().queries.size(), 1u);
  expectTidy(m);
}

TEST(ListPartitions, GptReservedPartitionIsDroppedAndDataPartitionIdentified) {
  SimMachine m(machineWith({{"style", "gpt"},
                            {"entries",
                             {{{"type", "msr"}, {"length", 16 * MiB}},
                              {{"type", "basic"},
                               {"id", "{11112222-3333-4444-5555-66667777AAAA}"},
                               {"mountPoints", {"G:\\"}}}}}}));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 1u);
  const PartitionInfo& p = partitions[0];
  EXPECT_EQ(p.style, 1);
  EXPECT_EQ(p.mbrType, 0);
  EXPECT_EQ(p.partitionNumber, 2u);
  EXPECT_EQ(p.partitionId, u"{11112222-3333-4444-5555-66667777aaaa}");
  EXPECT_EQ(p.partitionIdText, "{11112222-3333-4444-5555-66667777aaaa}");
  EXPECT_EQ(p.partitionType, u"{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}");
  EXPECT_EQ(p.driveLetter, "G:");
  expectTidy(m);
}

TEST(ListPartitions, DrivesThatYieldNothing) {
  Json tooMany = Json::array();
  for (int i = 0; i < 129; ++i) tooMany.push_back({{"start", (i + 1) * MiB}, {"length", MiB}});
  const Json oneVolume = mbr({{{"mountPoints", {"E:"}}}});
  struct Case {
    const char* name;
    Json machine;
    std::string path;
  };
  const Case cases[] = {
      {"blank disk", machineWith({{"style", "none"}}), Stick},
      {"no partitions key", Json{{"disks", {{{"number", 1}}}}}, Stick},
      {"129 entries", machineWith({{"style", "gpt"}, {"entries", tooMany}}), Stick},
      {"path that does not exist", machineWith(oneVolume), "\\\\.\\PHYSICALDRIVE7"},
      {"disk that cannot be opened", machineWith(oneVolume, {{"faults", {{"failOpens", true}}}}),
       Stick},
      {"device number unreadable", machineWith(oneVolume, {{"faults", {{"deviceNumber", true}}}}),
       Stick},
      {"layout unreadable", machineWith(oneVolume, {{"faults", {{"driveLayout", true}}}}), Stick},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m(c.machine);
    EXPECT_TRUE(listPartitions(c.path).empty());
    expectTidy(m);
  }
}

TEST(ListPartitions, AtMostOneLetterAndOnlyWhenItIsTheOnlyPath) {
  SimMachine m(machineWith(mbr({{{"mountPoints", {"E:\\", "C:\\mnt\\stick\\"}}},
                                {{"mountPoints", {"C:\\mnt\\other\\"}}},
                                {{"mountPoints", {"H:"}}}})));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 3u);
  EXPECT_EQ(partitions[0].driveLetter, "");
  EXPECT_EQ(partitions[0].driveLetterChar, 0);
  EXPECT_EQ(partitions[1].driveLetterChar, 0);
  EXPECT_EQ(partitions[2].driveLetter, "H:");
}

TEST(ListPartitions, UnnamedVolumeInterfaceLeavesThePartitionOut) {
  SimMachine m(machineWith(
      mbr({{{"volumeNameUnreadable", true}, {"mountPoints", {"E:"}}}, {{"mountPoints", {"F:"}}}})));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 1u);
  EXPECT_EQ(partitions[0].driveLetter, "F:");
  EXPECT_TRUE(m->management.state().queries.empty()) << "the storage namespace is not asked";
}

TEST(ListPartitions, VolumeSetUnavailableGivesNoPartitions) {
  Json d = machineWith(mbr({{{"mountPoints", {"E:"}}}}));
  d["setup"] = {{"unavailable", {"volume"}}};
  SimMachine m(d);
  EXPECT_TRUE(listPartitions(Stick).empty());
  EXPECT_TRUE(m->management.state().queries.empty());
  expectTidy(m);
}

TEST(FindVolumeGuidInStorage, ReadsTheVolumePathOrTheGuid) {
  const char* Volume = "\\\\?\\Volume{ABCDEF00-1111-2222-3333-444455556666}\\";
  const char16_t* Found = u"{abcdef00-1111-2222-3333-444455556666}";
  struct Case {
    const char* name;
    std::string style;
    Json management;
    WString expected;
  };
  const Case cases[] = {
      {"volume path after the letter", "mbr", {{"AccessPaths", {"E:\\", Volume}}}, Found},
      {"prefix in another case",
       "mbr",
       {{"AccessPaths", {"\\\\?\\volume{abcdef00-1111-2222-3333-444455556666}\\"}},
        {"Guid", "{99999999-1111-2222-3333-444455556666}"}},
       u""},
      {"path too short", "mbr", {{"AccessPaths", {"\\\\?\\Volume"}}}, u""},
      {"empty list", "mbr", {{"AccessPaths", Json::array()}}, u""},
      {"no paths, the partition GUID",
       "gpt",
       {{"AccessPaths", nullptr}, {"Guid", "{ABCDEF00-1111-2222-3333-444455556666}"}},
       Found},
      {"neither", "mbr", {{"absent", {"AccessPaths"}}}, u""},
      {"disk number of another type", "mbr", {{"DiskNumber", "1"}, {"AccessPaths", {Volume}}}, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m(machineWith(
        {{"style", c.style},
         {"entries",
          {{{"volumeInterface", false}, {"mountPoints", {"E:"}}, {"management", c.management}}}}}));
    EXPECT_EQ(findVolumeGuidInStorage({7, 1, 1}), c.expected);
    EXPECT_EQ(findVolumeGuidInStorage({7, 1, 2}), u"") << "no such partition";
    expectTidy(m);
  }
}

TEST(ListPartitions, VolumeWithoutInterfaceIsFoundInTheStorageNamespace) {
  SimMachine m(machineWith(mbr({{{"volumeInterface", false},
                                 {"volume", "{FEEDFACE-0000-4000-8000-000000000001}"},
                                 {"mountPoints", {"E:"}}}})));
  const auto partitions = listPartitions(Stick);
  ASSERT_EQ(partitions.size(), 1u);
  EXPECT_EQ(partitions[0].volumeGuid, u"{feedface-0000-4000-8000-000000000001}");
  EXPECT_EQ(partitions[0].driveLetter, "E:");
  EXPECT_EQ(m->management.state().queries, std::vector<WString>{u"SELECT * FROM MSFT_Partition"});
}

TEST(GuidText, FormatsAndKeepsTheBracedPart) {
  EXPECT_EQ(formatGuid({0x0A1B2C3D, 0x4E5F, 0x0001, {0xA0, 0x0B, 0, 1, 2, 3, 4, 0xFF}}),
            u"{0a1b2c3d-4e5f-0001-a00b-0001020304ff}");
  const std::pair<WString, WString> cases[] = {
      {u"\\\\?\\volume{ab-cd}\\", u"{ab-cd}"},
      {u"no braces", u"no braces"},
      {u"x{open only", u"{open only"},
      {u"a}b{c}d", u"{c}"},
      {u"}{", u"{"},
      {u"", u""},
  };
  for (const auto& [in, out] : cases) {
    WString text = in;
    keepBraced(text);
    EXPECT_EQ(text, out);
  }
  EXPECT_EQ(toLowerWide(u"\\\\?\\Volume{ABC}\u00C4"), u"\\\\?\\volume{abc}\u00C4");
}

}  // namespace
}  // namespace pbaloader
