// Runs a fuzz target over files and folders of inputs once each, without the
// fuzzing engine: the corpus as a regression test in the ordinary build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// As the fuzzing engine's malloc limit: one allocation this large is a fault.
constexpr std::size_t AllocationLimit = std::size_t{2} << 30;

void runOne(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

void* operator new(std::size_t size) {
  if (size > AllocationLimit) {
    std::fprintf(stderr, "allocation of %zu bytes exceeds the limit\n", size);
    std::abort();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (!entry.is_regular_file()) continue;
        runOne(entry.path());
        ++count;
      }
    } else {
      runOne(path);
      ++count;
    }
  }
  std::printf("%zu inputs ran\n", count);
  return count == 0 ? 1 : 0;
}
