// The workload of bench/transfer_throughput: the load region copied from a
// host image onto a simulated disk through copyChunk, 8 KiB at a time. It is
// disabled in ordinary runs; the script times it against dd.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pba/transfer.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

constexpr std::uint64_t RegionSize = 0x10000000;

TEST(TransferBench, DISABLED_CopiesTheLoadRegionInChunks) {
  const char* image = std::getenv("PBA_BENCH_IMAGE");
  const char* backing = std::getenv("PBA_BENCH_BACKING");  // unset: an in-memory disk
  if (image == nullptr) GTEST_SKIP() << "PBA_BENCH_IMAGE names the 256 MiB source image";
  const std::filesystem::path source = std::filesystem::absolute(image);
  sim::Json disk = {{"number", 1}, {"size", 2 * RegionSize}};
  if (backing != nullptr && *backing != '\0') disk["backing"] = backing;
  testing::SimMachine m({{"drives", {{"C:", source.parent_path().string()}}},
                         {"currentDirectory", "C:\\"},
                         {"disks", sim::Json::array({disk})}});

  TransferState s;
  s.imageHandle = openImageFile("C:\\" + source.filename().string());
  s.driveHandle = openDrive("\\\\.\\PHYSICALDRIVE1");
  ASSERT_TRUE(seekBoth(s, 0));
  for (std::uint64_t done = 0; done < RegionSize; done += ChunkSize)
    ASSERT_TRUE(copyChunk(s, ChunkSize)) << "at " << done;

  // The last chunk must have landed where it belongs.
  std::vector<char> expected(ChunkSize), actual(ChunkSize);
  std::ifstream(source, std::ios::binary)
      .seekg(RegionSize - ChunkSize)
      .read(expected.data(), ChunkSize);
  ASSERT_TRUE(m->disks[0].store->read(RegionSize - ChunkSize, actual.data(), ChunkSize));
  EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace pbaloader
