#include "discovery/wmi.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "platform/winconst.h"

namespace pbaloader {
namespace {

os::Platform& sys() { return os::current(); }

bool failed(std::int32_t hr) { return hr < 0; }

// CLSID_WbemLocator and IID_IWbemLocator.
constexpr os::Guid ClsidWbemLocator{
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr os::Guid IidWbemLocator{
    0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

void releaseRef(os::ComRef& ref) {
  if (ref != 0) sys().release(ref);
  ref = 0;
}

bool isSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// wcstoull(text, nullptr, 10): white space, an optional sign, then digits up to
// the first non-digit; overflow saturates, a minus sign negates.
std::uint64_t parseUnsignedDecimal(WStringView text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  constexpr std::uint64_t Max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - u'0');
    if (value > (Max - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return Max;
  return negative ? (~value + 1) : value;
}

}  // namespace

ComError::ComError(std::int32_t hr)
    : std::runtime_error(fmt::format("COM error 0x{:08X}", static_cast<std::uint32_t>(hr))),
      hr_(hr) {}

ComInitializer::ComInitializer(bool multithreaded) {
  const std::uint32_t base =
      multithreaded ? win::CoinitMultithreaded : win::CoinitApartmentThreaded;
  const std::uint32_t mode = base | win::CoinitDisableOle1Dde;
  std::int32_t hr = sys().coInitializeEx(mode);
  if (hr == win::RpcEChangedMode) hr = sys().coInitializeEx(mode | win::CoinitApartmentThreaded);
  if (failed(hr))
    throw std::runtime_error(fmt::format("CoInitializeEx (multithreaded) failed: 0x{:X}",
                                         static_cast<std::uint32_t>(hr)));
  // Only the first call in a process can succeed; later sessions repeat it harmlessly.
  sys().coInitializeSecurity(-1, win::RpcCAuthnLevelDefault, win::RpcCImpLevelImpersonate,
                             win::EoacNone);
}

ComInitializer::~ComInitializer() { sys().coUninitialize(); }

WmiSession::WmiSession(WStringView namespacePath) : com_(true), namespacePath_(namespacePath) {}

WmiSession::~WmiSession() {
  releaseRef(locator_);
  releaseRef(services_);
}

std::unique_ptr<WmiSession> WmiSession::open(WStringView namespacePath) {
  std::unique_ptr<WmiSession> session(new WmiSession(namespacePath));
  session->connect();
  return session;
}

bool WmiSession::connect() {
  if (connected_) return true;

  releaseRef(locator_);
  const os::ComResult locator =
      sys().coCreateInstance(ClsidWbemLocator, win::ClsctxInprocServer, IidWbemLocator);
  lastResult_ = locator.hr;
  if (failed(locator.hr)) return false;
  locator_ = locator.object;
  if (locator_ == 0) throw ComError(win::EPointer);

  releaseRef(services_);
  const os::ComResult services = sys().connectServer(locator_, namespacePath_);
  lastResult_ = services.hr;
  if (failed(services.hr)) return false;
  services_ = services.object;

  lastResult_ =
      sys().coSetProxyBlanket(services_, win::RpcCAuthnWinnt, win::RpcCAuthzNone,
                              win::RpcCAuthnLevelCall, win::RpcCImpLevelImpersonate, win::EoacNone);
  if (failed(lastResult_)) return false;

  connected_ = true;
  return true;
}

bool WmiSession::execQuery(os::ComRef& slot, WStringView queryText) {
  if (!connect()) return false;
  releaseRef(slot);
  if (services_ == 0) throw ComError(win::EPointer);
  const os::ComResult result = sys().execQuery(
      services_, u"WQL", queryText, win::WbemFlagForwardOnly | win::WbemFlagReturnImmediately);
  lastResult_ = result.hr;
  slot = result.object;
  // A failed query keeps no enumerator, so the next attempt runs it afresh.
  if (failed(result.hr)) releaseRef(slot);
  return slot != 0;
}

WmiObject::~WmiObject() { reset(); }

void WmiObject::reset(os::ComRef object) {
  releaseRef(object_);
  object_ = object;
}

std::int32_t WmiObject::getVariant(WStringView name, os::Variant& value) {
  value = os::Variant{};
  if (object_ == 0) {
    lastResult_ = win::EHandle;
    return lastResult_;
  }
  lastResult_ = sys().objectGet(object_, name, value);
  return lastResult_;
}

std::optional<WString> WmiObject::getWString(WStringView name) {
  os::Variant value;
  if (failed(getVariant(name, value))) return std::nullopt;
  if (value.type != win::VtBstr || value.nullText) {
    lastResult_ = win::HresultBadArguments;
    return std::nullopt;
  }
  // The text ends at its terminating null, whatever the string's length says.
  return value.text.substr(0, value.text.find(u'\0'));
}

std::optional<std::string> WmiObject::getString(WStringView name) {
  auto text = getWString(name);
  if (!text) return std::nullopt;
  return toUtf8(*text);
}

std::optional<std::int32_t> WmiObject::getInt32(WStringView name) {
  os::Variant value;
  if (failed(getVariant(name, value))) return std::nullopt;
  if (value.type != win::VtI4 && value.type != win::VtUi4) {
    lastResult_ = win::HresultBadArguments;
    return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.integer));
}

std::optional<std::uint64_t> WmiObject::getUInt64(WStringView name) {
  os::Variant value;
  if (failed(getVariant(name, value))) return std::nullopt;
  // WMI hands its 64-bit properties over as decimal text.
  if (value.type == win::VtBstr && !value.nullText) return parseUnsignedDecimal(value.text);
  if (value.type == win::VtI8 || value.type == win::VtUi8) return value.integer;
  lastResult_ = win::HresultBadArguments;
  return std::nullopt;
}

WmiQuery::WmiQuery(WmiSession& session, WStringView queryText)
    : session_(&session), queryText_(queryText) {}

WmiQuery::~WmiQuery() {
  current_.reset();
  releaseRef(enumerator_);
}

WmiObject* WmiQuery::next(std::int32_t timeout) {
  if (enumerator_ == 0 && !session_->execQuery(enumerator_, queryText_)) return nullptr;
  current_.reset();
  const os::NextResult result = sys().enumNext(enumerator_, timeout);
  if (result.returned == 0) {
    // A well-behaved enumerator hands out nothing with a count of 0.
    if (result.object != 0) sys().release(result.object);
    return nullptr;
  }
  current_.reset(result.object);
  return &current_;
}

std::optional<std::vector<WString>> getStringArray(const os::Variant& value, std::int32_t& result) {
  if (value.type != (win::VtArray | win::VtBstr) || value.dimensions != 1) {
    result = win::HresultBadArguments;
    return std::nullopt;
  }
  std::vector<WString> list;
  if (!value.accessFailed && value.elementCount > 0) {
    const std::size_t count = std::min<std::size_t>(value.elementCount, value.elements.size());
    list.assign(value.elements.begin(), value.elements.begin() + static_cast<long>(count));
  }
  return list;
}

}  // namespace pbaloader
