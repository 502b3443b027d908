#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/linux/scan/sysfs_source.h"

namespace pbaloader::host {

std::optional<std::string> readBinaryAttribute(const SysNode& node, const std::string& name) {
  std::ifstream in(std::filesystem::path(node.syspath) / name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

std::vector<std::string> listEntries(const SysNode& node, const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(node.syspath) / dir, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace pbaloader::host
