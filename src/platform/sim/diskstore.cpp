// PLACEHOLDER: to be written by the files owner.
#include "platform/sim/diskstore.h"

#include <cstring>
#include <vector>

namespace pbaloader::sim {
namespace {
class NoStore final : public DiskStore {
 public:
  explicit NoStore(std::uint64_t size) : size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t, void*, std::size_t) override { return false; }
  bool write(std::uint64_t, const void*, std::size_t) override { return false; }

 private:
  std::uint64_t size_;
};
}  // namespace
std::unique_ptr<DiskStore> DiskStore::memory(std::uint64_t size) {
  return std::make_unique<NoStore>(size);
}
std::unique_ptr<DiskStore> DiskStore::file(const std::filesystem::path&, std::uint64_t size) {
  return std::make_unique<NoStore>(size);
}
}  // namespace pbaloader::sim
