// Numeric values of the Windows constants the tool passes and examines,
// written out so that code above the seam needs no OS header. The Windows
// build checks them against the SDK (win32/sdk_checks.cpp).
#pragma once

#include <cstdint>

namespace pbaloader::win {

// System error codes.
inline constexpr std::uint32_t ErrorSuccess = 0;
inline constexpr std::uint32_t ErrorInvalidFunction = 1;
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorPathNotFound = 3;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidHandle = 6;
inline constexpr std::uint32_t ErrorInvalidData = 13;
inline constexpr std::uint32_t ErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t ErrorNoMoreFiles = 18;
inline constexpr std::uint32_t ErrorWriteProtect = 19;
inline constexpr std::uint32_t ErrorNotReady = 21;
inline constexpr std::uint32_t ErrorCrc = 23;
inline constexpr std::uint32_t ErrorSectorNotFound = 27;
inline constexpr std::uint32_t ErrorWriteFault = 29;
inline constexpr std::uint32_t ErrorReadFault = 30;
inline constexpr std::uint32_t ErrorGenFailure = 31;
inline constexpr std::uint32_t ErrorSharingViolation = 32;
inline constexpr std::uint32_t ErrorHandleEof = 38;
inline constexpr std::uint32_t ErrorNotSupported = 50;
inline constexpr std::uint32_t ErrorDevNotExist = 55;
inline constexpr std::uint32_t ErrorFileExists = 80;
inline constexpr std::uint32_t ErrorInvalidParameter = 87;
inline constexpr std::uint32_t ErrorCallNotImplemented = 120;
inline constexpr std::uint32_t ErrorSemTimeout = 121;
inline constexpr std::uint32_t ErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t ErrorInvalidName = 123;
inline constexpr std::uint32_t ErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t ErrorNegativeSeek = 131;
inline constexpr std::uint32_t ErrorDirNotEmpty = 145;
inline constexpr std::uint32_t ErrorBusy = 170;
inline constexpr std::uint32_t ErrorAlreadyExists = 183;
inline constexpr std::uint32_t ErrorMoreData = 234;
inline constexpr std::uint32_t ErrorNoMoreItems = 259;
inline constexpr std::uint32_t ErrorDirectory = 267;
inline constexpr std::uint32_t ErrorMrMidNotFound = 317;
inline constexpr std::uint32_t ErrorInvalidFlags = 1004;
inline constexpr std::uint32_t ErrorNoUnicodeTranslation = 1113;
inline constexpr std::uint32_t ErrorIoDevice = 1117;
inline constexpr std::uint32_t ErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t ErrorRevisionMismatch = 1306;
inline constexpr std::uint32_t ErrorTimeout = 1460;
inline constexpr std::uint32_t ErrorInvalidUserBuffer = 1784;
inline constexpr std::uint32_t ErrorDeviceInUse = 2404;

// CreateFile access, sharing, disposition and flags.
inline constexpr std::uint32_t GenericRead = 0x80000000;
inline constexpr std::uint32_t GenericWrite = 0x40000000;
inline constexpr std::uint32_t FileShareRead = 0x1;
inline constexpr std::uint32_t FileShareWrite = 0x2;
inline constexpr std::uint32_t FileShareDelete = 0x4;
inline constexpr std::uint32_t CreateNew = 1;
inline constexpr std::uint32_t CreateAlways = 2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t OpenAlways = 4;
inline constexpr std::uint32_t TruncateExisting = 5;
inline constexpr std::uint32_t FileAttributeReadonly = 0x1;
inline constexpr std::uint32_t FileAttributeDirectory = 0x10;
inline constexpr std::uint32_t FileAttributeNormal = 0x80;
inline constexpr std::uint32_t FileAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t FileFlagWriteThrough = 0x80000000;
inline constexpr std::uint32_t FileFlagNoBuffering = 0x20000000;
inline constexpr std::uint32_t GenericAll = 0x10000000;

// SetFilePointer.
inline constexpr std::uint32_t FileBegin = 0;
inline constexpr std::uint32_t FileCurrent = 1;
inline constexpr std::uint32_t FileEnd = 2;
inline constexpr std::uint32_t InvalidSetFilePointer = 0xFFFFFFFF;

// Text conversion.
inline constexpr std::uint32_t CpUtf8 = 65001;
inline constexpr std::uint32_t MbErrInvalidChars = 0x8;
inline constexpr std::uint32_t WcErrInvalidChars = 0x80;

// FormatMessage.
inline constexpr std::uint32_t FormatMessageIgnoreInserts = 0x200;
inline constexpr std::uint32_t FormatMessageFromSystem = 0x1000;

// Control codes.
inline constexpr std::uint32_t IoctlStorageGetDeviceNumber = 0x2D1080;
inline constexpr std::uint32_t IoctlStorageQueryProperty = 0x2D1400;
inline constexpr std::uint32_t IoctlStorageProtocolCommand = 0x2DD3C0;
inline constexpr std::uint32_t IoctlDiskUpdateProperties = 0x70140;
inline constexpr std::uint32_t IoctlDiskGetDriveLayoutEx = 0x70050;
inline constexpr std::uint32_t IoctlAtaPassThroughDirect = 0x4D030;
inline constexpr std::uint32_t IoctlScsiPassThroughDirect = 0x4D014;

// ATA and SCSI pass-through.
inline constexpr std::uint16_t AtaFlagsDrdyRequired = 0x01;
inline constexpr std::uint16_t AtaFlagsDataIn = 0x02;
inline constexpr std::uint16_t AtaFlagsDataOut = 0x04;
inline constexpr std::uint16_t AtaFlags48BitCommand = 0x08;
inline constexpr std::uint16_t AtaFlagsUseDma = 0x10;
inline constexpr std::uint8_t ScsiIoctlDataOut = 0;
inline constexpr std::uint8_t ScsiIoctlDataIn = 1;
inline constexpr std::uint8_t ScsiIoctlDataUnspecified = 2;

// Storage property queries and protocol commands (NVMe).
inline constexpr std::uint32_t StorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t StorageDeviceProtocolSpecificProperty = 50;
inline constexpr std::uint32_t PropertyStandardQuery = 0;
inline constexpr std::uint32_t PropertyExistsQuery = 1;
inline constexpr std::uint32_t ProtocolTypeNvme = 3;
inline constexpr std::uint32_t NvmeDataTypeIdentify = 1;
inline constexpr std::uint32_t NvmeDataTypeLogPage = 2;
inline constexpr std::uint32_t NvmeDataTypeFeature = 3;
inline constexpr std::uint32_t StorageProtocolStructureVersion = 1;
inline constexpr std::uint32_t StorageProtocolCommandFlagAdapterRequest = 0x80000000;
inline constexpr std::uint32_t StorageProtocolCommandLengthNvme = 0x40;
inline constexpr std::uint32_t StorageProtocolSpecificNvmeAdminCommand = 0x01;
inline constexpr std::uint32_t StorageProtocolSpecificNvmeNvmCommand = 0x02;
inline constexpr std::uint32_t StorageProtocolStatusSuccess = 0x1;
inline constexpr std::uint32_t StorageProtocolStatusInvalidRequest = 0x3;
inline constexpr std::uint32_t StorageProtocolStatusNotSupported = 0xFF;

// COM and the management service.
inline constexpr std::int32_t SOk = 0;
inline constexpr std::int32_t SFalse = 1;
inline constexpr std::int32_t RpcEChangedMode = static_cast<std::int32_t>(0x80010106);
inline constexpr std::int32_t RpcETooLate = static_cast<std::int32_t>(0x80010119);
inline constexpr std::int32_t CoENotInitialized = static_cast<std::int32_t>(0x800401F0);
inline constexpr std::int32_t RegdbEClassNotReg = static_cast<std::int32_t>(0x80040154);
inline constexpr std::int32_t ENoInterface = static_cast<std::int32_t>(0x80004002);
inline constexpr std::int32_t EOutOfMemory = static_cast<std::int32_t>(0x8007000E);
inline constexpr std::int32_t EPointer = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t EHandle = static_cast<std::int32_t>(0x80070006);
inline constexpr std::int32_t EFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t EInvalidArg = static_cast<std::int32_t>(0x80070057);
inline constexpr std::int32_t HresultBadArguments = static_cast<std::int32_t>(0x800700A0);
inline constexpr std::int32_t WbemEFailed = static_cast<std::int32_t>(0x80041001);
inline constexpr std::int32_t WbemENotFound = static_cast<std::int32_t>(0x80041002);
inline constexpr std::int32_t WbemEInvalidNamespace = static_cast<std::int32_t>(0x8004100E);
inline constexpr std::int32_t WbemEInvalidQuery = static_cast<std::int32_t>(0x80041017);
inline constexpr std::int32_t WbemEInvalidClass = static_cast<std::int32_t>(0x80041010);
inline constexpr std::int32_t WbemEInvalidQueryType = static_cast<std::int32_t>(0x80041018);
inline constexpr std::int32_t WbemSFalse = 1;
inline constexpr std::uint32_t CoinitMultithreaded = 0x0;
inline constexpr std::uint32_t CoinitApartmentThreaded = 0x2;
inline constexpr std::uint32_t CoinitDisableOle1Dde = 0x4;
inline constexpr std::uint32_t ClsctxInprocServer = 0x1;
inline constexpr std::int32_t WbemInfinite = -1;  // 0xFFFFFFFF
inline constexpr std::int32_t WbemFlagForwardOnly = 0x20;
inline constexpr std::int32_t WbemFlagReturnImmediately = 0x10;
inline constexpr std::uint32_t RpcCAuthnWinnt = 10;
inline constexpr std::uint32_t RpcCAuthzNone = 0;
inline constexpr std::uint32_t RpcCAuthnLevelDefault = 0;
inline constexpr std::uint32_t RpcCAuthnLevelCall = 3;
inline constexpr std::uint32_t RpcCImpLevelImpersonate = 3;
inline constexpr std::uint32_t EoacNone = 0;

// VARIANT types.
inline constexpr std::uint16_t VtEmpty = 0;
inline constexpr std::uint16_t VtNull = 1;
inline constexpr std::uint16_t VtI4 = 3;
inline constexpr std::uint16_t VtBstr = 8;
inline constexpr std::uint16_t VtBool = 11;
inline constexpr std::uint16_t VtUi4 = 19;
inline constexpr std::uint16_t VtI8 = 20;
inline constexpr std::uint16_t VtUi8 = 21;
inline constexpr std::uint16_t VtArray = 0x2000;

// Device setup services.
inline constexpr std::uint32_t DigcfPresent = 0x2;
inline constexpr std::uint32_t DigcfDeviceInterface = 0x10;
inline constexpr std::uint32_t SpdrpRemovalPolicy = 0x1F;
inline constexpr std::uint32_t CmRemovalPolicyExpectNoRemoval = 1;
inline constexpr std::uint32_t CmRemovalPolicyExpectOrderlyRemoval = 2;
inline constexpr std::uint32_t CmRemovalPolicyExpectSurpriseRemoval = 3;

// Partition table styles (PARTITION_STYLE).
inline constexpr std::uint32_t PartitionStyleMbr = 0;
inline constexpr std::uint32_t PartitionStyleGpt = 1;
inline constexpr std::uint32_t PartitionStyleRaw = 2;

}  // namespace pbaloader::win
