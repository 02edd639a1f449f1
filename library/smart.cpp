// SMART data of a drive: ATA commands sent through the Linux SCSI generic
// interface (SG_IO) with ATA PASS-THROUGH(16), on a handle the caller opened on
// the whole-disk block device. An image file has no SMART.
#include "library/exports.h"
#include "library/smart_identify.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

constexpr size_t kData = 512;

// The data parts of the three replies; a command that fails leaves zeros.
uint8_t IdentifyReply[kData];
uint8_t AttributeReply[kData];
uint8_t ThresholdReply[kData];

// ATA registers of one command.
struct AtaCommand {
  uint8_t features;
  uint8_t sectorCount;
  uint8_t lbaLow;  // sector number
  uint8_t lbaMid;  // cylinder low
  uint8_t lbaHigh; // cylinder high
  uint8_t device;  // drive/head
  uint8_t command;
};

constexpr uint8_t kAtaSmart = 0xB0;
constexpr uint8_t kAtaIdentify = 0xEC;
constexpr AtaCommand kEnableSmart{0xD8, 1, 1, 0x4F, 0xC2, 0xA0, kAtaSmart};
constexpr AtaCommand kIdentify{0x00, 1, 1, 0x00, 0x00, 0xA0, kAtaIdentify};
constexpr AtaCommand kReadAttributes{0xD0, 1, 1, 0x4F, 0xC2, 0xA0, kAtaSmart};
constexpr AtaCommand kReadThresholds{0xD1, 1, 1, 0x4F, 0xC2, 0xA0, kAtaSmart};

constexpr uint8_t kAtaStatusError = 0x01;  // ERR
constexpr uint8_t kAtaStatusFault = 0x20;  // DF

// Sends one command; data (512 bytes) is read in when given. True when the
// transport and the drive both report success.
bool SendAta(int fd, const AtaCommand& a, uint8_t* data) {
  uint8_t cdb[16] = {};
  cdb[0] = 0x85;  // ATA PASS-THROUGH(16)
  if (data != nullptr) {
    cdb[1] = 4 << 1;  // PIO data-in
    cdb[2] = 0x0E;    // T_DIR from device, BYT_BLOK blocks, T_LENGTH in sector count
  } else {
    cdb[1] = 3 << 1;  // non-data
    cdb[2] = 0x20;    // CK_COND: return the ATA registers
  }
  cdb[4] = a.features;
  cdb[6] = a.sectorCount;
  cdb[8] = a.lbaLow;
  cdb[10] = a.lbaMid;
  cdb[12] = a.lbaHigh;
  cdb[13] = a.device;
  cdb[14] = a.command;

  uint8_t sense[32] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmdp = cdb;
  io.cmd_len = sizeof cdb;
  io.sbp = sense;
  io.mx_sb_len = sizeof sense;
  io.dxfer_direction = data != nullptr ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxferp = data;
  io.dxfer_len = data != nullptr ? kData : 0;
  io.timeout = 20000;  // milliseconds

  int rc;
  do rc = ::ioctl(fd, SG_IO, &io);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  if (io.host_status != 0) return false;
  if ((io.driver_status & 0x0F) != 0 && (io.driver_status & 0x0F) != 0x08 /* DRIVER_SENSE */)
    return false;
  if (io.status == 0 && io.sb_len_wr == 0) return true;

  // Sense data: descriptor format with the ATA status return descriptor
  // (0x09), as a drive answers with CK_COND or on an error.
  if (io.sb_len_wr < 8 || (sense[0] & 0x7F) < 0x72) return false;
  const uint8_t key = sense[1] & 0x0F;
  if (key != 0x00 && key != 0x01) return false;  // no sense / recovered error
  const size_t end = std::min<size_t>(io.sb_len_wr, 8 + size_t{sense[7]});
  for (size_t d = 8; d + 2 <= end; d += 2 + size_t{sense[d + 1]}) {
    if (sense[d] == 0x09 && d + 14 <= end)
      return (sense[d + 13] & (kAtaStatusError | kAtaStatusFault)) == 0;
  }
  return key == 0x00;
}

}  // namespace

extern "C" {

// 1 when SMART could be enabled on the drive; then identify (256 bytes),
// attributes (512) and thresholds (512) hold what the drive returned, zeros
// where a command failed. 0 for an invalid handle, an image file or a drive
// without the interface; the buffers are then not touched.
int32_t Smart(int32_t handle, uint8_t* identify, uint8_t* attributes, uint8_t* thresholds) {
  if (handle < 0) return 0;
  struct stat st;
  if (::fstat(handle, &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
  // Probe: is the SCSI generic interface there?
  int version = 0;
  if (::ioctl(handle, SG_GET_VERSION_NUM, &version) != 0) return 0;
  if (!SendAta(handle, kEnableSmart, nullptr)) return 0;

  std::memset(IdentifyReply, 0, sizeof IdentifyReply);
  std::memset(AttributeReply, 0, sizeof AttributeReply);
  std::memset(ThresholdReply, 0, sizeof ThresholdReply);

  if (SendAta(handle, kIdentify, IdentifyReply))
    quenbrix_detail::SwapIdentifyText(IdentifyReply);
  else
    std::memset(IdentifyReply, 0, sizeof IdentifyReply);
  if (SendAta(handle, kReadAttributes, AttributeReply)) {
    if (!SendAta(handle, kReadThresholds, ThresholdReply))
      std::memset(ThresholdReply, 0, sizeof ThresholdReply);
  } else {
    std::memset(AttributeReply, 0, sizeof AttributeReply);
  }

  if (identify != nullptr) std::memcpy(identify, IdentifyReply, 256);
  if (attributes != nullptr) std::memcpy(attributes, AttributeReply, kData);
  if (thresholds != nullptr) std::memcpy(thresholds, ThresholdReply, kData);
  return 1;
}

}  // extern "C"
