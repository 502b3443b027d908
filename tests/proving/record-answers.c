/*
 * record-answers DRIVE BUS NODE QEMU-OPTIONS
 *
 * Sends a drive the identification commands the tool's device layer sends,
 * through SG_IO on its block node (and, for an NVMe namespace, the admin
 * ioctl), and prints the raw answers as one JSON document. Nothing here writes
 * to the medium: the only data-out command is the USB-NVMe bridge probe, which
 * carries a command block, and every drive we record refuses it.
 *
 * Built static by scripts/proving-ground so the guest needs no libraries.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

enum direction { DIR_NONE, DIR_IN, DIR_OUT };

struct command {
  uint8_t cdb[16];
  int cdbLength;
  enum direction direction;
  unsigned length;
};

/* The tool's command blocks, byte for byte (src/device/ata.cpp, scsi.cpp, nvme.cpp). */
static const struct command commands[] = {
    /* INQUIRY, standard data */
    {{0x12, 0x00, 0x00, 0x00, 0x80, 0x00}, 6, DIR_IN, 128},
    /* INQUIRY, unit serial number page */
    {{0x12, 0x01, 0x80, 0x01, 0x00, 0x00}, 6, DIR_IN, 256},
    /* READ CAPACITY(16) */
    {{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0}, 16, DIR_IN, 32},
    /* READ CAPACITY(10), with the 32-byte buffer the tool offers */
    {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10, DIR_IN, 32},
    /* ATA PASS-THROUGH(16) IDENTIFY DEVICE, PIO in, with CK_COND as the tool sets it */
    {{0x85, 0x08, 0x2E, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, 16, DIR_IN, 512},
    /* the same without CK_COND */
    {{0x85, 0x08, 0x0E, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, 16, DIR_IN, 512},
    /* ATA PASS-THROUGH(12) IDENTIFY DEVICE */
    {{0xA1, 0x08, 0x2E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xEC, 0x00, 0x00}, 12, DIR_IN, 512},
    /* USB-NVMe bridge: command block of Identify Controller, then its data phase */
    {{0xA1, 0x80, 0x00, 0x00, 0x02, 0x00}, 12, DIR_OUT, 512},
    {{0xA1, 0x82, 0x00, 0x00, 0x10, 0x00}, 12, DIR_IN, 4096},
    /* READ(16), LBA 0, one block */
    {{0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0}, 16, DIR_IN, 512},
};

struct admin {
  uint8_t opcode;
  uint32_t nsid;
  uint32_t cdw10;
  uint32_t cdw11;
  uint32_t length;
};

static const struct admin admins[] = {
    {0x06, 0, 1, 0, 4096}, /* Identify Controller */
    {0x06, 1, 0, 0, 4096}, /* Identify Namespace 1 */
};

static void printHex(const uint8_t* bytes, size_t count) {
  putchar('"');
  for (size_t i = 0; i < count; ++i) printf(i == 0 ? "%02x" : " %02x", bytes[i]);
  putchar('"');
}

static void printString(const char* text) {
  putchar('"');
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '"' || *c == '\\')
      printf("\\%c", *c);
    else if ((unsigned char)*c < 0x20)
      printf("\\u%04x", (unsigned char)*c);
    else
      putchar(*c);
  }
  putchar('"');
}

/* The bridge probe's 512-byte block as the tool builds it for Identify
 * Controller; the tool's buffer addresses are left at zero. */
static void bridgeBlock(uint8_t* block) {
  memset(block, 0, 512);
  memcpy(block, "NVME", 4);
  block[8] = 0x06;
  block[44] = 0x00; /* data length 4096, little-endian */
  block[45] = 0x10;
  block[48] = 0x01; /* cdw10: CNS 1 */
}

static void recordScsi(int fd, const struct command* command, int first) {
  static uint8_t data[4096] __attribute__((aligned(4096)));
  uint8_t sense[32];
  memset(data, 0, sizeof data);
  memset(sense, 0, sizeof sense);
  if (command->direction == DIR_OUT) bridgeBlock(data);

  sg_io_hdr_t io;
  memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.cmd_len = (unsigned char)command->cdbLength;
  io.cmdp = (unsigned char*)command->cdb;
  io.dxfer_direction = command->direction == DIR_IN    ? SG_DXFER_FROM_DEV
                       : command->direction == DIR_OUT ? SG_DXFER_TO_DEV
                                                       : SG_DXFER_NONE;
  io.dxfer_len = command->length;
  io.dxferp = data;
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = 20000;
  const int rc = ioctl(fd, SG_IO, &io);
  const int error = rc == 0 ? 0 : errno;

  printf("%s\n    {\"cdb\": ", first ? "" : ",");
  printHex(command->cdb, (size_t)command->cdbLength);
  printf(", \"direction\": \"%s\", \"length\": %u,\n     \"errno\": %d",
         command->direction == DIR_IN    ? "in"
         : command->direction == DIR_OUT ? "out"
                                         : "none",
         command->length, error);
  if (rc != 0) {
    printf("}");
    return;
  }
  printf(
      ", \"status\": %d, \"hostStatus\": %d, \"driverStatus\": %d, \"resid\": %d,\n     "
      "\"sense\": ",
      io.status, io.host_status, io.driver_status, io.resid);
  printHex(sense, io.sb_len_wr <= sizeof sense ? io.sb_len_wr : sizeof sense);
  if (command->direction == DIR_IN) {
    int received = (int)command->length - io.resid;
    if (received < 0) received = 0;
    printf(",\n     \"data\": ");
    printHex(data, (size_t)received);
  }
  printf("}");
}

static void recordAdmin(int fd, const struct admin* admin, int first) {
  static uint8_t data[4096] __attribute__((aligned(4096)));
  memset(data, 0, sizeof data);
  struct nvme_admin_cmd cmd;
  memset(&cmd, 0, sizeof cmd);
  cmd.opcode = admin->opcode;
  cmd.nsid = admin->nsid;
  cmd.cdw10 = admin->cdw10;
  cmd.cdw11 = admin->cdw11;
  cmd.addr = (uint64_t)(uintptr_t)data;
  cmd.data_len = admin->length;
  cmd.timeout_ms = 20000;
  const int rc = ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  const int error = rc < 0 ? errno : 0;

  printf(
      "%s\n    {\"opcode\": %u, \"nsid\": %u, \"cdw10\": %u, \"cdw11\": %u, \"length\": %u,\n"
      "     \"errno\": %d, \"status\": %d, \"result\": %u",
      first ? "" : ",", admin->opcode, admin->nsid, admin->cdw10, admin->cdw11, admin->length,
      error, rc, cmd.result);
  if (rc == 0) {
    printf(",\n     \"data\": ");
    printHex(data, admin->length);
  }
  printf("}");
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: record-answers DRIVE BUS NODE QEMU-OPTIONS\n");
    return 2;
  }
  const char* bus = argv[2];
  const char* node = argv[3];
  /* O_RDONLY is enough for SG_IO with CAP_SYS_RAWIO and keeps the medium safe. */
  const int fd = open(node, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    fprintf(stderr, "record-answers: cannot open %s: %s\n", node, strerror(errno));
    return 1;
  }
  uint64_t size = 0;
  int blockSize = 0;
  if (ioctl(fd, BLKGETSIZE64, &size) != 0 || ioctl(fd, BLKSSZGET, &blockSize) != 0) {
    fprintf(stderr, "record-answers: %s is no block device: %s\n", node, strerror(errno));
    close(fd);
    return 1;
  }
  struct utsname names;
  uname(&names);

  printf("{\n  \"drive\": ");
  printString(argv[1]);
  printf(",\n  \"qemu\": ");
  printString(argv[4]);
  printf(",\n  \"kernel\": ");
  printString(names.release);
  printf(",\n  \"node\": ");
  printString(node);
  printf(",\n  \"bus\": ");
  printString(bus);
  printf(",\n  \"sizeBytes\": %llu,\n  \"logicalBlockSize\": %d,\n  \"scsi\": [",
         (unsigned long long)size, blockSize);
  for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i)
    recordScsi(fd, &commands[i], i == 0);
  printf("\n  ],\n  \"nvme\": [");
  if (strcmp(bus, "nvme") == 0) {
    for (size_t i = 0; i < sizeof admins / sizeof admins[0]; ++i)
      recordAdmin(fd, &admins[i], i == 0);
  }
  printf("\n  ]\n}\n");
  close(fd);
  return 0;
}
