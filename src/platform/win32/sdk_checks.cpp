// Compile-time proof that the constants written out for the code above the
// seam are the SDK's. Each owner adds the constants of their area here.
#include <windows.h>

#include "platform/winconst.h"

namespace pbaloader::win {

#define PBA_SAME(ours, theirs) static_assert((ours) == (theirs), #ours " differs from " #theirs)

// System error codes.
PBA_SAME(ErrorSuccess, ERROR_SUCCESS);
PBA_SAME(ErrorInvalidFunction, ERROR_INVALID_FUNCTION);
PBA_SAME(ErrorFileNotFound, ERROR_FILE_NOT_FOUND);
PBA_SAME(ErrorPathNotFound, ERROR_PATH_NOT_FOUND);
PBA_SAME(ErrorAccessDenied, ERROR_ACCESS_DENIED);
PBA_SAME(ErrorInvalidHandle, ERROR_INVALID_HANDLE);
PBA_SAME(ErrorNotEnoughMemory, ERROR_NOT_ENOUGH_MEMORY);
PBA_SAME(ErrorWriteProtect, ERROR_WRITE_PROTECT);
PBA_SAME(ErrorNotReady, ERROR_NOT_READY);
PBA_SAME(ErrorCrc, ERROR_CRC);
PBA_SAME(ErrorSectorNotFound, ERROR_SECTOR_NOT_FOUND);
PBA_SAME(ErrorWriteFault, ERROR_WRITE_FAULT);
PBA_SAME(ErrorReadFault, ERROR_READ_FAULT);
PBA_SAME(ErrorGenFailure, ERROR_GEN_FAILURE);
PBA_SAME(ErrorSharingViolation, ERROR_SHARING_VIOLATION);
PBA_SAME(ErrorHandleEof, ERROR_HANDLE_EOF);
PBA_SAME(ErrorNotSupported, ERROR_NOT_SUPPORTED);
PBA_SAME(ErrorFileExists, ERROR_FILE_EXISTS);
PBA_SAME(ErrorInvalidParameter, ERROR_INVALID_PARAMETER);
PBA_SAME(ErrorCallNotImplemented, ERROR_CALL_NOT_IMPLEMENTED);
PBA_SAME(ErrorInsufficientBuffer, ERROR_INSUFFICIENT_BUFFER);
PBA_SAME(ErrorInvalidName, ERROR_INVALID_NAME);
PBA_SAME(ErrorAlreadyExists, ERROR_ALREADY_EXISTS);
PBA_SAME(ErrorMoreData, ERROR_MORE_DATA);
PBA_SAME(ErrorNoMoreItems, ERROR_NO_MORE_ITEMS);
PBA_SAME(ErrorInvalidFlags, ERROR_INVALID_FLAGS);
PBA_SAME(ErrorNoUnicodeTranslation, ERROR_NO_UNICODE_TRANSLATION);

// CreateFile and SetFilePointer.
PBA_SAME(GenericRead, GENERIC_READ);
PBA_SAME(GenericWrite, GENERIC_WRITE);
PBA_SAME(FileShareRead, FILE_SHARE_READ);
PBA_SAME(FileShareWrite, FILE_SHARE_WRITE);
PBA_SAME(OpenExisting, OPEN_EXISTING);
PBA_SAME(CreateAlways, CREATE_ALWAYS);
PBA_SAME(FileAttributeNormal, FILE_ATTRIBUTE_NORMAL);
PBA_SAME(FileAttributeDirectory, FILE_ATTRIBUTE_DIRECTORY);
PBA_SAME(FileAttributeReparsePoint, FILE_ATTRIBUTE_REPARSE_POINT);
PBA_SAME(FileBegin, FILE_BEGIN);
PBA_SAME(InvalidSetFilePointer, INVALID_SET_FILE_POINTER);

// Text conversion.
PBA_SAME(CpUtf8, CP_UTF8);
PBA_SAME(MbErrInvalidChars, MB_ERR_INVALID_CHARS);
PBA_SAME(WcErrInvalidChars, WC_ERR_INVALID_CHARS);

#undef PBA_SAME

}  // namespace pbaloader::win
