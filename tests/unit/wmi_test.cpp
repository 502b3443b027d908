// The management-service layer on the simulated machine: sessions, COM
// apartments, lazy queries and the variant rules of the property reads.
#include "discovery/wmi.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/winconst.h"
#include "support/sim_fixture.h"
#include "unit/discovery_fixture.h"

namespace pbaloader {
namespace {

using sim::Json;
using testing::OneDrive;
using testing::SimMachine;

constexpr std::int32_t Infinite = win::WbemInfinite;

Json twoDisks() {
  return {
      {"disks",
       {{{"number", 0},
         {"size", 1 << 30},
         {"removalPolicy", 1},
         {"device", {{"kind", "ata"}, {"model", "Internal SSD"}, {"serialNumber", "S0"}}}},
        {{"number", 1},
         {"size", 64 << 20},
         {"device", {{"model", "Stick"}, {"serialNumber", "S1"}, {"firmwareRevision", "1.00"}}}}}}};
}

TEST(WmiSession, ListsTheDiskDrivesInOrderAndReleasesEverything) {
  SimMachine m(twoDisks());
  {
    auto session = WmiSession::open(u"ROOT\\CIMV2");
    EXPECT_TRUE(session->connected());
    WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
    EXPECT_TRUE(m->management.state().queries.empty()) << "the query runs on the first next";

    WmiObject* first = query.next(Infinite);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getString(u"DeviceID"), "\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(first->getString(u"Model"), "Internal SSD");
    EXPECT_EQ(first->getInt32(u"BytesPerSector"), 512);
    EXPECT_EQ(first->getUInt64(u"Size"), std::uint64_t{1} << 30);

    WmiObject* second = query.next(Infinite);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->getString(u"DeviceID"), "\\\\.\\PHYSICALDRIVE1");
    EXPECT_EQ(second->getString(u"FirmwareRevision"), "1.00");

    EXPECT_EQ(query.next(Infinite), nullptr);
    EXPECT_EQ(query.next(Infinite), nullptr) << "after the end, still nothing";
    EXPECT_EQ(m->management.state().queries.size(), 1u) << "the query is not run again";
  }
  const auto& com = m->management.state();
  EXPECT_EQ(m->management.liveReferences(), 0u);
  EXPECT_EQ(com.badReleases, 0);
  EXPECT_EQ(com.initCount, 0);
  EXPECT_EQ(com.initializeModes, std::vector<std::uint32_t>{0x4});
  EXPECT_EQ(m.output(), "");
}

TEST(WmiSession, NamespaceThatDoesNotExistYieldsNoObjects) {
  SimMachine m(twoDisks());
  auto session = WmiSession::open(u"ROOT\\NoSuchNamespace");
  EXPECT_FALSE(session->connected());
  EXPECT_EQ(session->lastResult(), win::WbemEInvalidNamespace);
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  EXPECT_EQ(query.next(Infinite), nullptr);
  EXPECT_TRUE(m->management.state().queries.empty());
  EXPECT_EQ(m.output(), "");
}

TEST(WmiSession, ThreadInSingleThreadedApartmentStillGetsASession) {
  SimMachine m(Json{{"com", {{"apartment", "sta"}}}, {"disks", {Json::object()}}});
  {
    auto session = WmiSession::open(u"ROOT\\CIMV2");
    WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
    EXPECT_NE(query.next(Infinite), nullptr);
  }
  const auto& com = m->management.state();
  EXPECT_EQ(com.initializeModes, (std::vector<std::uint32_t>{0x4, 0x6}));
  EXPECT_EQ(com.initCount, com.baselineInitCount) << "the session owes exactly one uninit";
}

TEST(WmiSession, LaterSessionsIgnoreTheRefusedSecurityInitialisation) {
  SimMachine m(twoDisks());
  auto first = WmiSession::open(u"ROOT\\CIMV2");
  auto second = WmiSession::open(u"ROOT\\Microsoft\\Windows\\Storage");
  auto third = WmiSession::open(u"ROOT\\CIMV2");
  EXPECT_TRUE(first->connected());
  EXPECT_TRUE(second->connected());
  EXPECT_TRUE(third->connected());
  EXPECT_EQ(m->management.state().securityCalls, 3);
  EXPECT_EQ(m->management.state().initCount, 3);
  third.reset();
  second.reset();
  first.reset();
  EXPECT_EQ(m->management.state().initCount, 0);
}

TEST(WmiSession, ComThatCannotStartRaisesTheStartUpError) {
  SimMachine m(Json{{"com", {{"initializeResult", "0x8007000E"}}}});
  try {
    WmiSession::open(u"ROOT\\CIMV2");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "CoInitializeEx (multithreaded) failed: 0x8007000E");
  }
  EXPECT_EQ(m->management.state().uninitializeCalls, 0) << "nothing to balance";
  EXPECT_EQ(m->management.state().securityCalls, 0);
}

TEST(WmiSession, EachFailingStepLeavesAQueryWithoutObjects) {
  struct Case {
    const char* step;
    std::int32_t hr;
    bool connected;
  };
  const Case cases[] = {
      {"coCreateInstance", win::RegdbEClassNotReg, false},
      {"connectServer", static_cast<std::int32_t>(0x800706BA), false},
      {"coSetProxyBlanket", win::EInvalidArg, false},
      {"execQuery", win::WbemEFailed, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    SimMachine m(Json{{"wmi", {{"fail", {{c.step, static_cast<std::uint32_t>(c.hr)}}}}},
                      {"disks", {Json::object()}}});
    {
      auto session = WmiSession::open(u"ROOT\\CIMV2");
      WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
      EXPECT_EQ(query.next(Infinite), nullptr);
      EXPECT_EQ(session->connected(), c.connected);
      EXPECT_EQ(session->lastResult(), c.hr);
    }
    EXPECT_EQ(m->management.liveReferences(), 0u);
    EXPECT_EQ(m->management.state().initCount, 0);
    EXPECT_EQ(m.output(), "");
  }
}

TEST(WmiSession, SelectsOneDriveByItsEscapedDeviceId) {
  SimMachine m(twoDisks());
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  {
    WmiQuery query(*session,
                   u"SELECT Model,SerialNumber FROM Win32_DiskDrive WHERE "
                   u"DeviceID='\\\\\\\\.\\\\PHYSICALDRIVE1'");
    WmiObject* object = query.next(Infinite);
    ASSERT_NE(object, nullptr);
    // USB storage names the drive as "<vendor> <product> USB Device".
    EXPECT_EQ(object->getString(u"Model"), "USB Stick USB Device");
    EXPECT_EQ(object->getString(u"SerialNumber"), "S1");
    EXPECT_EQ(object->getString(u"FirmwareRevision"), std::nullopt) << "not selected";
    EXPECT_EQ(object->lastResult(), win::HresultBadArguments) << "present but null";
    EXPECT_EQ(query.next(Infinite), nullptr);
  }
  {
    // Single backslashes are escapes WQL does not know.
    WmiQuery query(*session,
                   u"SELECT Model FROM Win32_DiskDrive WHERE DeviceID='\\\\.\\PHYSICALDRIVE1'");
    EXPECT_EQ(query.next(Infinite), nullptr);
    EXPECT_EQ(session->lastResult(), win::WbemEInvalidQuery);
  }
}

TEST(WmiObject, PropertyReadsFollowTheVariantRules) {
  constexpr auto Max = std::numeric_limits<std::uint64_t>::max();
  const auto bad = win::HresultBadArguments;
  struct Case {
    const char* name;
    Json value;
    std::optional<std::uint64_t> asUInt64;
    std::optional<std::int32_t> asInt32;
    std::optional<std::string> asString;
    std::int32_t lastResult;  // after the last read (getString)
  };
  const Case cases[] = {
      {"decimal text", "1048576", 1048576, std::nullopt, "1048576", 0},
      {"text with blanks and a tail", "  42abc", 42, std::nullopt, "  42abc", 0},
      {"text without digits", "abc", 0, std::nullopt, "abc", 0},
      {"text that overflows", "99999999999999999999999", Max, std::nullopt,
       "99999999999999999999999", 0},
      {"null", nullptr, std::nullopt, std::nullopt, std::nullopt, bad},
      {"VT_I4", 512, std::nullopt, 512, std::nullopt, bad},
      {"VT_UI4 all ones",
       {{"vt", 19}, {"value", 0xFFFFFFFFu}},
       std::nullopt,
       -1,
       std::nullopt,
       bad},
      {"VT_UI8",
       {{"vt", 21}, {"value", 0x123456789ull}},
       0x123456789ull,
       std::nullopt,
       std::nullopt,
       bad},
      {"VT_I8", {{"vt", 20}, {"value", -2}}, Max - 1, std::nullopt, std::nullopt, bad},
      {"null BSTR", {{"vt", 8}, {"nullText", true}}, std::nullopt, std::nullopt, std::nullopt, bad},
      {"VT_BOOL", true, std::nullopt, std::nullopt, std::nullopt, bad},
      {"UTF-8 text",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       0, std::nullopt,
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneDrive d(Json{{"Probe", c.value}});
    ASSERT_NE(d.object, nullptr);
    EXPECT_EQ(d.object->getUInt64(u"Probe"), c.asUInt64);
    EXPECT_EQ(d.object->getInt32(u"Probe"), c.asInt32);
    EXPECT_EQ(d.object->getString(u"Probe"), c.asString);
    EXPECT_EQ(d.object->lastResult(), c.lastResult);
  }
}

TEST(WmiObject, MissingPropertyAndEmptyObjectAreAbsent) {
  OneDrive d(Json{{"absent", {"Size"}}});
  ASSERT_NE(d.object, nullptr);
  EXPECT_EQ(d.object->getUInt64(u"Size"), std::nullopt);
  EXPECT_EQ(d.object->lastResult(), win::WbemENotFound);
  EXPECT_EQ(d.object->getString(u"DeviceID"), "\\\\.\\PHYSICALDRIVE3");

  WmiObject empty;
  EXPECT_EQ(empty.getWString(u"DeviceID"), std::nullopt);
  EXPECT_EQ(empty.lastResult(), win::EHandle);
}

TEST(GetStringArray, AcceptsOnlyOneDimensionalTextArrays) {
  const auto bad = win::HresultBadArguments;
  struct Case {
    const char* name;
    Json value;
    std::optional<std::vector<WString>> expected;
  };
  const Case cases[] = {
      {"two texts in order", Json::array({"E:\\", "\\\\?\\Volume{ab}\\"}),
       std::vector<WString>{u"E:\\", u"\\\\?\\Volume{ab}\\"}},
      {"empty array", Json::array(), std::vector<WString>{}},
      {"null element",
       {{"vt", 0x2008}, {"value", {"a", nullptr, "c"}}},
       std::vector<WString>{u"a", u"", u"c"}},
      {"data cannot be locked",
       {{"vt", 0x2008}, {"value", {"a"}}, {"accessFails", true}},
       std::vector<WString>{}},
      {"null", nullptr, std::nullopt},
      {"single text", "E:\\", std::nullopt},
      {"two dimensions", {{"vt", 0x2008}, {"value", {"a", "b"}}, {"dimensions", 2}}, std::nullopt},
      {"array of integers", {{"vt", 0x2003}, {"dimensions", 1}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneDrive d(Json{{"AccessPaths", c.value}});
    ASSERT_NE(d.object, nullptr);
    os::Variant value;
    ASSERT_EQ(d.object->getVariant(u"AccessPaths", value), 0);
    std::int32_t result = 0;
    EXPECT_EQ(getStringArray(value, result), c.expected);
    EXPECT_EQ(result, c.expected ? 0 : bad);
  }
}

}  // namespace
}  // namespace pbaloader
