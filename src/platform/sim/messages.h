// The simulated machine's system message table (FormatMessageA).
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;

class MessageTable {
 public:
  explicit MessageTable(Machine& machine);
  void load(const nlohmann::json& description);
  os::Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                           std::uint32_t language, char* buffer,
                                           std::uint32_t size);
  std::map<std::uint32_t, std::string> texts;  // code -> text as stored (with CR LF)

 private:
  Machine& machine_;
};

}  // namespace pbaloader::sim
