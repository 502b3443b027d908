// Thin layer over COM and the management service (WMI): a session on one
// namespace, a WQL query with a cursor over its result objects, and typed
// property reads. Nothing here prints; failures yield no objects or absent values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"

namespace pbaloader {

// The platform's COM error exception: raised when a platform string cannot be
// allocated (E_OUTOFMEMORY) or an interface that must be called is null (E_POINTER).
class ComError : public std::runtime_error {
 public:
  explicit ComError(std::int32_t hr);
  std::int32_t hr() const { return hr_; }

 private:
  std::int32_t hr_;
};

// Initialises COM for the calling thread for its lifetime.
class ComInitializer {
 public:
  explicit ComInitializer(bool multithreaded);
  ~ComInitializer();
  ComInitializer(const ComInitializer&) = delete;
  ComInitializer& operator=(const ComInitializer&) = delete;
};

class WmiSession {
 public:
  // Creates a session on the namespace and connects once (the result is ignored).
  static std::unique_ptr<WmiSession> open(WStringView namespacePath);
  ~WmiSession();
  WmiSession(const WmiSession&) = delete;
  WmiSession& operator=(const WmiSession&) = delete;

  bool connect();
  // Runs one WQL query; on success slot holds a fresh enumerator.
  bool execQuery(os::ComRef& slot, WStringView queryText);

  bool connected() const { return connected_; }
  std::int32_t lastResult() const { return lastResult_; }

 private:
  explicit WmiSession(WStringView namespacePath);
  ComInitializer com_;
  os::ComRef services_ = 0;
  os::ComRef locator_ = 0;
  bool connected_ = false;
  WString namespacePath_;
  std::int32_t lastResult_ = 0;
};

class WmiObject {
 public:
  WmiObject() = default;
  ~WmiObject();
  WmiObject(const WmiObject&) = delete;
  WmiObject& operator=(const WmiObject&) = delete;

  std::optional<WString> getWString(WStringView name);
  std::optional<std::string> getString(WStringView name);
  std::optional<std::int32_t> getInt32(WStringView name);
  std::optional<std::uint64_t> getUInt64(WStringView name);
  // Reads a property into a variant as it stands (Get); the HRESULT of the read.
  std::int32_t getVariant(WStringView name, os::Variant& value);

  std::int32_t lastResult() const { return lastResult_; }
  os::ComRef object() const { return object_; }
  void reset(os::ComRef object = 0);

 private:
  os::ComRef object_ = 0;
  std::int32_t lastResult_ = 0;
};

class WmiQuery {
 public:
  WmiQuery(WmiSession& session, WStringView queryText);
  ~WmiQuery();
  WmiQuery(const WmiQuery&) = delete;
  WmiQuery& operator=(const WmiQuery&) = delete;

  // The next result object, or null; valid until the next call.
  WmiObject* next(std::int32_t timeout);

 private:
  WmiSession* session_;
  WString queryText_;
  os::ComRef enumerator_ = 0;
  WmiObject current_;
};

// The texts of a VT_ARRAY|VT_BSTR value of one dimension; absent otherwise,
// with result set to HRESULT_FROM_WIN32(ERROR_BAD_ARGUMENTS).
std::optional<std::vector<WString>> getStringArray(const os::Variant& value, std::int32_t& result);

}  // namespace pbaloader
