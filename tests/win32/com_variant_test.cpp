// The real VARIANT, SAFEARRAY included, as the COM forwarding hands it over.
#include <gtest/gtest.h>

#include "discovery/wmi.h"
#include "platform/win32/win32_platform.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

class ComVariant : public ::testing::Test {
 protected:
  ComVariant() : installed_(win32::instance()) {}

 private:
  os::ScopedPlatform installed_;
};

// The network adapters' address lists are string arrays where an adapter has
// addresses and null where it has none; both sides of the rule show there.
TEST_F(ComVariant, AddressListsAreStringArraysOrNull) {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_NetworkAdapterConfiguration");
  int arrays = 0;
  while (WmiObject* adapter = query.next(win::WbemInfinite)) {
    for (const char16_t* name : {u"IPAddress", u"DNSServerSearchOrder", u"DefaultIPGateway"}) {
      SCOPED_TRACE(toUtf8(name));
      os::Variant value;
      ASSERT_EQ(adapter->getVariant(name, value), 0);
      std::int32_t result = 0;
      const auto list = getStringArray(value, result);
      if (value.type == win::VtNull) {
        EXPECT_EQ(list, std::nullopt);
        EXPECT_EQ(result, win::HresultBadArguments);
        continue;
      }
      ASSERT_EQ(value.type, win::VtArray | win::VtBstr);
      EXPECT_EQ(value.dimensions, 1u);
      ASSERT_TRUE(list.has_value());
      EXPECT_EQ(list->size(), value.elementCount);
      for (const WString& text : *list) EXPECT_FALSE(text.empty());
      EXPECT_EQ(adapter->getWString(name), std::nullopt);
      EXPECT_EQ(adapter->lastResult(), win::HresultBadArguments);
      ++arrays;
    }
  }
  if (arrays == 0) GTEST_SKIP() << "no adapter lists an address";
}

TEST_F(ComVariant, TextIsVtBstrAndSmallNumbersAreVtI4) {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_OperatingSystem");
  WmiObject* os = query.next(win::WbemInfinite);
  ASSERT_NE(os, nullptr);
  const auto caption = os->getWString(u"Caption");
  ASSERT_TRUE(caption.has_value());
  EXPECT_FALSE(caption->empty());
  // CIM_UINT16 travels as VT_I4.
  EXPECT_GT(os->getInt32(u"OSType").value_or(0), 0);
}

}  // namespace
}  // namespace pbaloader
