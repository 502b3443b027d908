// The management service as the tool's management-service layer sees it:
// sessions, apartments, the disk-drive queries and the variant rules.
#include <string>

#include "conformance/env.h"
#include "discovery/wmi.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

constexpr std::int32_t Infinite = win::WbemInfinite;

bool startsWithPhysicalDrive(const std::string& id) {
  const std::string& prefix = env().diskPathPrefix;
  if (id.size() <= prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(id[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// "\\.\PHYSICALDRIVE0" as a WQL string literal wants it.
std::string escaped(const std::string& id) {
  std::string out;
  for (char c : id) {
    out.push_back(c);
    if (c == '\\') out.push_back('\\');
  }
  return out;
}

std::vector<std::string> deviceIds(WmiSession& session) {
  std::vector<std::string> ids;
  WmiQuery query(session, u"SELECT * FROM Win32_DiskDrive");
  while (WmiObject* object = query.next(Infinite)) {
    auto id = object->getString(u"DeviceID");
    EXPECT_TRUE(id.has_value()) << "DeviceID is a string";
    if (id) ids.push_back(*id);
  }
  return ids;
}

class WmiConformance : public ConformanceTest {};

// The first Win32_DiskDrive of the system, with the session and query it lives on.
struct FirstDiskDrive {
  FirstDiskDrive()
      : session(WmiSession::open(u"ROOT\\CIMV2")),
        query(*session, u"SELECT * FROM Win32_DiskDrive"),
        object(query.next(Infinite)) {}
  std::unique_ptr<WmiSession> session;
  WmiQuery query;
  WmiObject* object;
};

TEST_F(WmiConformance, CimV2ListsDiskDrivesByDevicePath) {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  EXPECT_TRUE(session->connected());
  EXPECT_EQ(session->lastResult(), 0);
  EXPECT_FALSE(deviceIds(*session).empty());
}

TEST_F(WmiConformance, DeviceIdIsTheRawDrivePath) {
  PBA_SKIP_UNDER_WINE("its DeviceID doubles every backslash");
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  for (const auto& id : deviceIds(*session)) EXPECT_TRUE(startsWithPhysicalDrive(id)) << id;
}

TEST_F(WmiConformance, QueryByEscapedDeviceIdFindsThatDriveOnly) {
  PBA_SKIP_UNDER_WINE("its DeviceID doubles every backslash, so the key matches nothing");
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  const auto ids = deviceIds(*session);
  ASSERT_FALSE(ids.empty());
  const std::string text =
      "SELECT Model,SerialNumber FROM Win32_DiskDrive WHERE DeviceID='" + escaped(ids[0]) + "'";
  WmiQuery query(*session, toWide(text));
  WmiObject* object = query.next(Infinite);
  ASSERT_NE(object, nullptr);
  os::Variant model;
  EXPECT_EQ(object->getVariant(u"Model", model), 0);
  EXPECT_TRUE(model.type == win::VtBstr || model.type == win::VtNull) << model.type;
  EXPECT_EQ(query.next(Infinite), nullptr);
}

TEST_F(WmiConformance, SizeIsDecimalText) {
  FirstDiskDrive drive;
  WmiObject* object = drive.object;
  ASSERT_NE(object, nullptr);
  os::Variant size;
  ASSERT_EQ(object->getVariant(u"Size", size), 0);
  EXPECT_EQ(size.type, win::VtBstr);
  EXPECT_GT(object->getUInt64(u"Size").value_or(0), 0u);
}

TEST_F(WmiConformance, BytesPerSectorIsAnIntegerOnly) {
  PBA_SKIP_UNDER_WINE("its Win32_DiskDrive has no BytesPerSector");
  FirstDiskDrive drive;
  WmiObject* object = drive.object;
  ASSERT_NE(object, nullptr);
  EXPECT_GT(object->getInt32(u"BytesPerSector").value_or(0), 0);
  EXPECT_EQ(object->getWString(u"BytesPerSector"), std::nullopt);
  EXPECT_EQ(object->lastResult(), win::HresultBadArguments);
}

TEST_F(WmiConformance, TextPropertyIsNoStringArray) {
  FirstDiskDrive drive;
  WmiObject* object = drive.object;
  ASSERT_NE(object, nullptr);
  os::Variant id;
  ASSERT_EQ(object->getVariant(u"DeviceID", id), 0);
  std::int32_t result = 0;
  EXPECT_EQ(getStringArray(id, result), std::nullopt);
  EXPECT_EQ(result, win::HresultBadArguments);
  EXPECT_EQ(object->getUInt64(u"NoSuchProperty"), std::nullopt);
  EXPECT_EQ(object->lastResult(), win::WbemENotFound);
}

TEST_F(WmiConformance, NamespaceThatDoesNotExistDoesNotConnect) {
  auto session = WmiSession::open(u"ROOT\\NoSuchNamespaceForPbaloader");
  EXPECT_FALSE(session->connected());
  EXPECT_EQ(session->lastResult(), win::WbemEInvalidNamespace);
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  EXPECT_EQ(query.next(Infinite), nullptr);
}

TEST_F(WmiConformance, UnknownClassAndBadEscapesGiveNoObjects) {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery unknown(*session, u"SELECT * FROM Win32_NoSuchClassForPbaloader");
  EXPECT_EQ(unknown.next(Infinite), nullptr);
  WmiQuery badEscape(*session,
                     u"SELECT Model FROM Win32_DiskDrive WHERE DeviceID='\\\\.\\PHYSICALDRIVE0'");
  EXPECT_EQ(badEscape.next(Infinite), nullptr);
}

TEST_F(WmiConformance, SecondSecurityInitialisationIsRefused) {
  PBA_SKIP_UNDER_WINE("CoInitializeSecurity succeeds every time");
  os::Platform& sys = platform();
  ASSERT_GE(sys.coInitializeEx(win::CoinitMultithreaded | win::CoinitDisableOle1Dde), 0);
  sys.coInitializeSecurity(-1, win::RpcCAuthnLevelDefault, win::RpcCImpLevelImpersonate,
                           win::EoacNone);
  EXPECT_EQ(sys.coInitializeSecurity(-1, win::RpcCAuthnLevelDefault, win::RpcCImpLevelImpersonate,
                                     win::EoacNone),
            win::RpcETooLate);
  sys.coUninitialize();
}

TEST_F(WmiConformance, SessionWorksInASingleThreadedApartment) {
  os::Platform& sys = platform();
  ASSERT_GE(sys.coInitializeEx(win::CoinitApartmentThreaded | win::CoinitDisableOle1Dde), 0);
  EXPECT_EQ(sys.coInitializeEx(win::CoinitMultithreaded | win::CoinitDisableOle1Dde),
            win::RpcEChangedMode);
  {
    auto session = WmiSession::open(u"ROOT\\CIMV2");
    EXPECT_TRUE(session->connected());
    EXPECT_FALSE(deviceIds(*session).empty());
  }
  sys.coUninitialize();
}

}  // namespace
}  // namespace pbaloader::conformance
