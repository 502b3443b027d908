#include <libudev.h>

#include "platform/linux/scan/sysfs_source.h"

namespace pbaloader::host {
namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

SysNode describe(udev_device* dev) {
  SysNode node;
  node.syspath = text(udev_device_get_syspath(dev));
  node.sysname = text(udev_device_get_sysname(dev));
  node.subsystem = text(udev_device_get_subsystem(dev));
  node.devtype = text(udev_device_get_devtype(dev));
  node.driver = text(udev_device_get_driver(dev));
  return node;
}

class UdevSource : public SysfsSource {
 public:
  UdevSource() : udev_(udev_new()) {}
  ~UdevSource() override { udev_unref(udev_); }
  UdevSource(const UdevSource&) = delete;
  UdevSource& operator=(const UdevSource&) = delete;

  std::vector<SysNode> blockDevices() override {
    std::vector<SysNode> nodes;
    if (!udev_) return nodes;
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (!e) return nodes;
    udev_enumerate_add_match_subsystem(e, "block");
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e); entry;
         entry = udev_list_entry_get_next(entry)) {
      if (udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry))) {
        nodes.push_back(describe(dev));
        udev_device_unref(dev);
      }
    }
    udev_enumerate_unref(e);
    return nodes;
  }

  std::optional<SysNode> parent(const SysNode& node) override {
    std::optional<SysNode> result;
    if (udev_device* dev = open(node)) {
      // The parent belongs to the child and goes with it.
      if (udev_device* p = udev_device_get_parent(dev)) result = describe(p);
      udev_device_unref(dev);
    }
    return result;
  }

  std::optional<std::string> attribute(const SysNode& node, const std::string& name) override {
    std::optional<std::string> result;
    if (udev_device* dev = open(node)) {
      if (const char* v = udev_device_get_sysattr_value(dev, name.c_str())) result = v;
      udev_device_unref(dev);
    }
    return result;
  }

 private:
  udev_device* open(const SysNode& node) {
    return udev_ ? udev_device_new_from_syspath(udev_, node.syspath.c_str()) : nullptr;
  }

  udev* udev_;
};

}  // namespace

std::unique_ptr<SysfsSource> makeUdevSource() { return std::make_unique<UdevSource>(); }

}  // namespace pbaloader::host
