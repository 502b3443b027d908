// COM and the management service (WMI) of the simulated machine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;
struct ComState;  // defined by the management service's own files

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

 private:
  Machine& machine_;
  std::unique_ptr<ComState> state_;
};

}  // namespace pbaloader::sim
