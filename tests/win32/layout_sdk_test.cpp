// Our own byte layouts and constants of the pass-through and NVMe records,
// checked against the SDK's definitions at compile time.
#include <windows.h>
// The SDK's storage headers need windows.h first.
#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>

#include "platform/layout/pass_through.h"
#include "platform/layout/storage_device_number.h"
#include "platform/layout/storage_query.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

#define PBA_SAME_OFFSET(ours, theirs, ourField, theirField) \
  static_assert(offsetof(ours, ourField) == offsetof(theirs, theirField), #ourField)

static_assert(sizeof(layout::AtaPassThroughDirect) == sizeof(ATA_PASS_THROUGH_DIRECT));
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, ataFlags, AtaFlags);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, targetId, TargetId);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, dataTransferLength,
                DataTransferLength);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, timeOutValue, TimeOutValue);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, dataBuffer, DataBuffer);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, previousTaskFile,
                PreviousTaskFile);
PBA_SAME_OFFSET(layout::AtaPassThroughDirect, ATA_PASS_THROUGH_DIRECT, currentTaskFile,
                CurrentTaskFile);

static_assert(sizeof(layout::ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, scsiStatus, ScsiStatus);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, targetId, TargetId);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, cdbLength, CdbLength);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, senseInfoLength,
                SenseInfoLength);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, dataIn, DataIn);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, dataTransferLength,
                DataTransferLength);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, timeOutValue,
                TimeOutValue);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, dataBuffer, DataBuffer);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, senseInfoOffset,
                SenseInfoOffset);
PBA_SAME_OFFSET(layout::ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, cdb, Cdb);

static_assert(sizeof(layout::StorageDeviceNumber) == sizeof(STORAGE_DEVICE_NUMBER));
PBA_SAME_OFFSET(layout::StorageDeviceNumber, STORAGE_DEVICE_NUMBER, deviceNumber, DeviceNumber);
PBA_SAME_OFFSET(layout::StorageDeviceNumber, STORAGE_DEVICE_NUMBER, partitionNumber,
                PartitionNumber);

static_assert(layout::StoragePropertyQuerySize == sizeof(STORAGE_PROPERTY_QUERY));
static_assert(layout::StoragePropertyQueryAdditionalParameters ==
              offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
static_assert(sizeof(layout::StorageProtocolSpecificData) ==
              sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
PBA_SAME_OFFSET(layout::StorageProtocolSpecificData, STORAGE_PROTOCOL_SPECIFIC_DATA,
                protocolDataRequestValue, ProtocolDataRequestValue);
PBA_SAME_OFFSET(layout::StorageProtocolSpecificData, STORAGE_PROTOCOL_SPECIFIC_DATA,
                protocolDataOffset, ProtocolDataOffset);
PBA_SAME_OFFSET(layout::StorageProtocolSpecificData, STORAGE_PROTOCOL_SPECIFIC_DATA,
                protocolDataLength, ProtocolDataLength);
PBA_SAME_OFFSET(layout::StorageProtocolSpecificData, STORAGE_PROTOCOL_SPECIFIC_DATA,
                fixedProtocolReturnData, FixedProtocolReturnData);
PBA_SAME_OFFSET(layout::StorageProtocolSpecificData, STORAGE_PROTOCOL_SPECIFIC_DATA,
                protocolDataRequestSubValue2, ProtocolDataRequestSubValue2);
static_assert(sizeof(layout::StorageProtocolDataDescriptor) ==
              sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
PBA_SAME_OFFSET(layout::StorageProtocolDataDescriptor, STORAGE_PROTOCOL_DATA_DESCRIPTOR,
                protocolSpecificData, ProtocolSpecificData);

static_assert(win::IoctlAtaPassThroughDirect == IOCTL_ATA_PASS_THROUGH_DIRECT);
static_assert(win::IoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(win::IoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(win::IoctlStorageProtocolCommand == IOCTL_STORAGE_PROTOCOL_COMMAND);
static_assert(win::AtaFlagsDrdyRequired == ATA_FLAGS_DRDY_REQUIRED);
static_assert(win::AtaFlagsDataIn == ATA_FLAGS_DATA_IN);
static_assert(win::AtaFlagsDataOut == ATA_FLAGS_DATA_OUT);
static_assert(win::AtaFlags48BitCommand == ATA_FLAGS_48BIT_COMMAND);
static_assert(win::AtaFlagsUseDma == ATA_FLAGS_USE_DMA);
static_assert(win::ScsiIoctlDataOut == SCSI_IOCTL_DATA_OUT);
static_assert(win::ScsiIoctlDataIn == SCSI_IOCTL_DATA_IN);
static_assert(win::ScsiIoctlDataUnspecified == SCSI_IOCTL_DATA_UNSPECIFIED);
static_assert(win::StorageAdapterProtocolSpecificProperty ==
              StorageAdapterProtocolSpecificProperty);
static_assert(win::StorageDeviceProtocolSpecificProperty == StorageDeviceProtocolSpecificProperty);
static_assert(win::PropertyStandardQuery == PropertyStandardQuery);
static_assert(win::PropertyExistsQuery == PropertyExistsQuery);
static_assert(win::ProtocolTypeNvme == ProtocolTypeNvme);
static_assert(win::NvmeDataTypeIdentify == NVMeDataTypeIdentify);
static_assert(win::NvmeDataTypeLogPage == NVMeDataTypeLogPage);
static_assert(win::NvmeDataTypeFeature == NVMeDataTypeFeature);
static_assert(win::FormatMessageFromSystem == FORMAT_MESSAGE_FROM_SYSTEM);
static_assert(win::FormatMessageIgnoreInserts == FORMAT_MESSAGE_IGNORE_INSERTS);
static_assert(win::ErrorMrMidNotFound == ERROR_MR_MID_NOT_FOUND);
static_assert(win::ErrorRevisionMismatch == ERROR_REVISION_MISMATCH);
static_assert(win::ErrorDevNotExist == ERROR_DEV_NOT_EXIST);
static_assert(win::ErrorSemTimeout == ERROR_SEM_TIMEOUT);
static_assert(win::ErrorTimeout == ERROR_TIMEOUT);
static_assert(win::ErrorBusy == ERROR_BUSY);
static_assert(win::ErrorDeviceInUse == ERROR_DEVICE_IN_USE);
static_assert(win::ErrorIoDevice == ERROR_IO_DEVICE);
static_assert(win::ErrorNotSupported == ERROR_NOT_SUPPORTED);
static_assert(win::ErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(win::ErrorInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(win::ErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(win::ErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(win::GenericAll == GENERIC_ALL);

#undef PBA_SAME_OFFSET

}  // namespace
}  // namespace pbaloader
