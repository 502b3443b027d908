#include "platform/linux/scan/decode.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pbaloader::host {
namespace {

TEST(WholeDiskName, TakesWholeDisksOnly) {
  for (const char* name : {"sda", "sdaa", "vdb", "xvda", "nvme0n1", "nvme12n3", "mmcblk0"}) {
    EXPECT_TRUE(wholeDiskName(name)) << name;
  }
  for (const char* name :
       {"sda1", "nvme0n1p2", "nvme0c0n1", "nvme0", "mmcblk0p1", "mmcblk0boot0", "mmcblk0rpmb",
        "loop0", "zram0", "dm-0", "md127", "ram0", "sr0", "nbd0", "vda1", "sd", "SDA", ""}) {
    EXPECT_FALSE(wholeDiskName(name)) << name;
  }
}

TEST(WholeDiskName, SortsAsTheKernelNumbers) {
  std::vector<std::string> names = {"sdaa",    "sdz", "sdb",     "nvme0n10", "nvme0n2",
                                    "nvme1n1", "vda", "mmcblk1", "mmcblk0"};
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return *wholeDiskName(a) < *wholeDiskName(b); });
  EXPECT_EQ(names, (std::vector<std::string>{"mmcblk0", "mmcblk1", "nvme0n2", "nvme0n10", "nvme1n1",
                                             "sdb", "sdz", "sdaa", "vda"}));
}

TEST(MountInfo, ReadsNumbersPointsTypesAndSources) {
  const auto entries = parseMountInfo(
      "28 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw\n"
      "40 28 8:17 / /media/a\\040b\\134c rw - vfat /dev/sdb1 rw\n"
      "41 28 0:31 /@home /home rw - btrfs /dev/mapper/vg0-root rw\n"
      "garbage\n"
      "42 28 x:1 / /bad rw - ext4 /dev/sdc rw\n"
      "\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].major, 254u);
  EXPECT_EQ(entries[0].minor, 0u);
  EXPECT_EQ(entries[0].mountPoint, "/");
  EXPECT_EQ(entries[0].fsType, "ext4");
  EXPECT_EQ(entries[0].source, "/dev/vda");
  EXPECT_EQ(entries[1].mountPoint, "/media/a b\\c");
  EXPECT_EQ(entries[1].minor, 17u);
  EXPECT_EQ(entries[2].major, 0u);
  EXPECT_EQ(entries[2].source, "/dev/mapper/vg0-root");
}

TEST(DevNumber, RejectsAnythingButTwoNumbers) {
  EXPECT_EQ(parseDevNumber("259:12"), (std::pair<std::uint32_t, std::uint32_t>{259, 12}));
  for (const char* bad : {"", ":1", "8:", "8", "8:1x", "a:b", "8:1:2"}) {
    EXPECT_FALSE(parseDevNumber(bad)) << bad;
  }
}

TEST(VpdPages, UnitSerialKeepsToItsLengthAndPage) {
  using namespace std::string_literals;
  EXPECT_EQ(vpdUnitSerial("\x00\x80\x00\x08  AB12CDtrailing"s), "AB12CD");
  EXPECT_EQ(vpdUnitSerial("\x00\x80\x00\x40short"s), "short");  // length beyond the data
  EXPECT_EQ(vpdUnitSerial("\x00\x83\x00\x04"
                          "ABCD"s),
            "");  // another page
  EXPECT_EQ(vpdUnitSerial("\x00\x80"s), "");
}

TEST(VpdPages, AtaIdentityUnswapsTheIdentifyStrings) {
  std::string page(572, '\0');
  page[1] = '\x89';
  auto put = [&](std::size_t word, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); i += 2) {
      page[60 + 2 * word + 2 * (i / 2)] = text[i + 1];
      page[60 + 2 * word + 2 * (i / 2) + 1] = text[i];
    }
  };
  put(10, "      SER-0042     X");  // 20 characters, words 10-19
  put(23, "FW1.2.3 ");              // words 23-26
  put(27, "Model With A Name Longer Than Sixteen   ");
  auto id = vpdAtaIdentity(page);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->serial, "SER-0042     X");
  EXPECT_EQ(id->firmware, "FW1.2.3");
  EXPECT_EQ(id->model, "Model With A Name Longer Than Sixteen");
  EXPECT_FALSE(vpdAtaIdentity(page.substr(0, 571)));
  page[1] = '\x80';
  EXPECT_FALSE(vpdAtaIdentity(page));
}

}  // namespace
}  // namespace pbaloader::host
