// The system message table of the simulated machine: Windows' English texts
// for the codes the tool can meet, with the CR LF that the table stores.
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

const std::map<std::uint32_t, std::string>& windowsTexts() {
  static const std::map<std::uint32_t, std::string> texts = {
      {0, "The operation completed successfully.\r\n"},
      {1, "Incorrect function.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough memory resources are available to process this command.\r\n"},
      {19, "The media is write protected.\r\n"},
      {21, "The device is not ready.\r\n"},
      {23, "Data error (cyclic redundancy check).\r\n"},
      {31, "A device attached to the system is not functioning.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {50, "The request is not supported.\r\n"},
      {55, "The specified network resource or device is no longer available.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {121, "The semaphore timeout period has expired.\r\n"},
      {122, "The data area passed to a system call is too small.\r\n"},
      {170, "The requested resource is in use.\r\n"},
      {1117, "The request could not be performed because of an I/O device error.\r\n"},
      {1167, "The device is not connected.\r\n"},
      {1460, "This operation returned because the timeout period expired.\r\n"},
      {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
      {2404, "The device is in use by an active process and cannot be disconnected.\r\n"},
  };
  return texts;
}

}  // namespace

MessageTable::MessageTable(Machine& machine) : texts(windowsTexts()), machine_(machine) {}

// "messages": {"<code>": "text" or null}: adds, replaces or removes entries.
void MessageTable::load(const nlohmann::json& description) {
  (void)machine_;
  if (!description.contains("messages")) return;
  for (const auto& [key, value] : description.at("messages").items()) {
    const auto code = static_cast<std::uint32_t>(std::stoul(key, nullptr, 0));
    if (value.is_null())
      texts.erase(code);
    else
      texts[code] = value.get<std::string>();
  }
}

os::Result<std::uint32_t> MessageTable::formatMessageA(std::uint32_t flags, std::uint32_t code,
                                                       std::uint32_t language, char* buffer,
                                                       std::uint32_t size) {
  // Only the system table exists here; other sources need a module or a string.
  if ((flags & win::FormatMessageFromSystem) == 0 || buffer == nullptr)
    return {0, win::ErrorInvalidParameter};
  // Only English (neutral or US) texts are installed.
  if (language != 0 && language != 0x0409 && language != 0x0400)
    return {0, win::ErrorMrMidNotFound};
  auto it = texts.find(code);
  if (it == texts.end()) return {0, win::ErrorMrMidNotFound};
  const std::string& text = it->second;
  if ((flags & win::FormatMessageIgnoreInserts) == 0 && text.find('%') != std::string::npos)
    return {0, win::ErrorInvalidParameter};
  // The terminating null must fit too; a short buffer gets nothing.
  if (text.size() + 1 > size) return {0, win::ErrorInsufficientBuffer};
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return {static_cast<std::uint32_t>(text.size()), win::ErrorSuccess};
}

}  // namespace pbaloader::sim
