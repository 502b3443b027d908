// A recorded sysfs tree read with plain file operations, following the rules
// libudev applies to the live one: a directory is a device when it has a
// uevent file, its subsystem and driver are the names its links point to.
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/linux/scan/sysfs_source.h"

namespace pbaloader::host {
namespace {

namespace fs = std::filesystem;

std::string linkName(const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

class TreeSource : public SysfsSource {
 public:
  explicit TreeSource(fs::path root) : root_(fs::weakly_canonical(root)) {}

  std::vector<SysNode> blockDevices() override {
    std::vector<SysNode> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_ / "class" / "block", ec)) {
      std::error_code rec;
      fs::path dir = fs::canonical(entry.path(), rec);
      if (!rec) nodes.push_back(nodeAt(dir));
    }
    return nodes;
  }

  std::optional<SysNode> parent(const SysNode& node) override {
    const fs::path devices = root_ / "devices";
    for (fs::path p = fs::path(node.syspath).parent_path();
         p.native().size() > devices.native().size() && p.native().starts_with(devices.native());
         p = p.parent_path()) {
      if (fs::exists(p / "uevent")) return nodeAt(p);
    }
    return std::nullopt;
  }

  std::optional<std::string> attribute(const SysNode& node, const std::string& name) override {
    auto value = readBinaryAttribute(node, name);
    if (value && !value->empty() && value->back() == '\n') value->pop_back();
    return value;
  }

 private:
  SysNode nodeAt(const fs::path& dir) {
    SysNode node;
    node.syspath = dir.string();
    node.sysname = dir.filename().string();
    node.subsystem = linkName(dir / "subsystem");
    node.driver = linkName(dir / "driver");
    std::ifstream uevent(dir / "uevent");
    for (std::string line; std::getline(uevent, line);) {
      if (line.starts_with("DEVTYPE=")) node.devtype = line.substr(8);
    }
    return node;
  }

  fs::path root_;
};

}  // namespace

std::unique_ptr<SysfsSource> makeTreeSource(const std::filesystem::path& sysRoot) {
  return std::make_unique<TreeSource>(sysRoot);
}

}  // namespace pbaloader::host
