// COM and the management service (WMI) of the simulated machine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;

// One management-service object: its class and properties (names compared
// without regard to ASCII case, as WMI does).
struct WmiInstance {
  std::string className;
  std::vector<std::pair<os::WString, os::Variant>> properties;
  const os::Variant* find(os::WStringView name) const;
};

// The COM state of the tool's one thread, for tests to read.
struct ComState {
  enum class Apartment { None, SingleThreaded, MultiThreaded };
  Apartment apartment = Apartment::None;
  // CoInitializeEx calls still owed a CoUninitialize; starts at 1 when the
  // description puts the thread into an apartment before the tool runs.
  int initCount = 0;
  int baselineInitCount = 0;
  int initializeCalls = 0;
  int uninitializeCalls = 0;
  int securityCalls = 0;
  bool securityInitialized = false;
  std::vector<std::uint32_t> initializeModes;    // every CoInitializeEx mode, in order
  std::optional<std::int32_t> initializeResult;  // forced CoInitializeEx result

  // Forced results of the management-service calls (WMI unavailable and the like).
  std::optional<std::int32_t> createInstanceResult;
  std::optional<std::int32_t> connectResult;
  std::optional<std::int32_t> blanketResult;
  std::optional<std::int32_t> queryResult;

  std::vector<os::WString> queries;  // every ExecQuery text, in order
  int badReleases = 0;               // Release of a reference that is not alive
};

class Management {
 public:
  explicit Management(Machine& machine);
  ~Management();
  void load(const nlohmann::json& description);

  std::int32_t coInitializeEx(std::uint32_t mode);
  void coUninitialize();
  std::int32_t coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                    std::uint32_t impLevel, std::uint32_t capabilities);
  os::ComResult coCreateInstance(const os::Guid& clsid, std::uint32_t context, const os::Guid& iid);
  os::ComResult connectServer(os::ComRef locator, os::WStringView namespacePath);
  std::int32_t coSetProxyBlanket(os::ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                 std::uint32_t authnLevel, std::uint32_t impLevel,
                                 std::uint32_t capabilities);
  os::ComResult execQuery(os::ComRef services, os::WStringView language, os::WStringView query,
                          std::int32_t flags);
  os::NextResult enumNext(os::ComRef enumerator, std::int32_t timeout);
  std::int32_t objectGet(os::ComRef object, os::WStringView name, os::Variant& value);
  void release(os::ComRef object);

  ComState& state();
  // COM references handed out and not yet released.
  std::size_t liveReferences() const;
  // The instances of a class in a namespace, as a query would see them now.
  std::vector<WmiInstance> instances(os::WStringView namespacePath,
                                     const std::string& className) const;

 private:
  struct Reference;
  os::ComRef add(Reference reference);
  Reference* find(os::ComRef ref);
  bool initialized() const;

  Machine& machine_;
  std::unique_ptr<ComState> state_;
  std::map<os::ComRef, std::shared_ptr<Reference>> refs_;
  os::ComRef nextRef_ = 0x10000;
  std::vector<WmiInstance> extraDiskDrives_;
};

}  // namespace pbaloader::sim
