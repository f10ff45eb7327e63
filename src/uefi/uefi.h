// Our own UEFI and UEFI Shell definitions: the types, status values, tables,
// protocols and GUIDs this application uses, laid out member for member as the
// firmware lays them out on x86-64. Every layout we rely on is pinned with
// static_asserts at the bottom, so a wrong member order fails the build.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Firmware entry points use the Microsoft x64 calling convention on every build,
// also on the Linux host, so the host firmware model is called as firmware is.
#define EFIAPI __attribute__((ms_abi))

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef VOID *SHELL_FILE_HANDLE;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

// ---- Status values -------------------------------------------------------------
#define EFI_ERROR_BIT 0x8000000000000000ULL
#define EFI_ERROR(Status) (((Status)&EFI_ERROR_BIT) != 0)
#define EFI_ENCODE_ERROR(Code) (EFI_ERROR_BIT | (UINT64)(Code))

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_WARN_UNKNOWN_GLYPH ((EFI_STATUS)1)
#define EFI_WARN_DELETE_FAILURE ((EFI_STATUS)2)
#define EFI_WARN_WRITE_FAILURE ((EFI_STATUS)3)
#define EFI_WARN_BUFFER_TOO_SMALL ((EFI_STATUS)4)
#define EFI_WARN_STALE_DATA ((EFI_STATUS)5)
#define EFI_LOAD_ERROR EFI_ENCODE_ERROR(1)
#define EFI_INVALID_PARAMETER EFI_ENCODE_ERROR(2)
#define EFI_UNSUPPORTED EFI_ENCODE_ERROR(3)
#define EFI_BAD_BUFFER_SIZE EFI_ENCODE_ERROR(4)
#define EFI_BUFFER_TOO_SMALL EFI_ENCODE_ERROR(5)
#define EFI_NOT_READY EFI_ENCODE_ERROR(6)
#define EFI_DEVICE_ERROR EFI_ENCODE_ERROR(7)
#define EFI_WRITE_PROTECTED EFI_ENCODE_ERROR(8)
#define EFI_OUT_OF_RESOURCES EFI_ENCODE_ERROR(9)
#define EFI_VOLUME_CORRUPTED EFI_ENCODE_ERROR(10)
#define EFI_VOLUME_FULL EFI_ENCODE_ERROR(11)
#define EFI_NO_MEDIA EFI_ENCODE_ERROR(12)
#define EFI_MEDIA_CHANGED EFI_ENCODE_ERROR(13)
#define EFI_NOT_FOUND EFI_ENCODE_ERROR(14)
#define EFI_ACCESS_DENIED EFI_ENCODE_ERROR(15)
#define EFI_NO_RESPONSE EFI_ENCODE_ERROR(16)
#define EFI_NO_MAPPING EFI_ENCODE_ERROR(17)
#define EFI_TIMEOUT EFI_ENCODE_ERROR(18)
#define EFI_NOT_STARTED EFI_ENCODE_ERROR(19)
#define EFI_ALREADY_STARTED EFI_ENCODE_ERROR(20)
#define EFI_ABORTED EFI_ENCODE_ERROR(21)
#define EFI_ICMP_ERROR EFI_ENCODE_ERROR(22)
#define EFI_TFTP_ERROR EFI_ENCODE_ERROR(23)
#define EFI_PROTOCOL_ERROR EFI_ENCODE_ERROR(24)
#define EFI_INCOMPATIBLE_VERSION EFI_ENCODE_ERROR(25)
#define EFI_SECURITY_VIOLATION EFI_ENCODE_ERROR(26)
#define EFI_CRC_ERROR EFI_ENCODE_ERROR(27)
#define EFI_END_OF_MEDIA EFI_ENCODE_ERROR(28)
#define EFI_END_OF_FILE EFI_ENCODE_ERROR(31)
#define EFI_INVALID_LANGUAGE EFI_ENCODE_ERROR(32)
#define EFI_COMPROMISED_DATA EFI_ENCODE_ERROR(33)
// PI's DXE error range: bits 63 and 61 set.
#define EFI_NOT_AVAILABLE_YET ((EFI_STATUS)0xA000000000000002ULL)

// ---- GUIDs -----------------------------------------------------------------------
struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};

#define EFI_SHELL_PROTOCOL_GUID                                                    \
  {                                                                                \
    0x6302D008, 0x7F9B, 0x4F30, { 0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E } \
  }
#define EFI_SHELL_PARAMETERS_PROTOCOL_GUID                                         \
  {                                                                                \
    0x752F3136, 0x4E16, 0x4FDC, { 0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA } \
  }
#define EFI_UNICODE_COLLATION2_PROTOCOL_GUID                                       \
  {                                                                                \
    0xA4C751FC, 0x23AE, 0x4C3E, { 0x92, 0xE9, 0x49, 0x64, 0xCF, 0x63, 0xF3, 0x49 } \
  }
#define EFI_HOB_LIST_GUID                                                          \
  {                                                                                \
    0x7739F24C, 0x93D7, 0x11D4, { 0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D } \
  }
// The "EFIDebug" variable and the GUID hand-off block carrying the same value.
#define EFI_DEBUG_MASK_VARIABLE_GUID                                               \
  {                                                                                \
    0x59D1C24F, 0x50F1, 0x401A, { 0xB1, 0x01, 0xF3, 0x3E, 0x0D, 0xAE, 0xD4, 0x43 } \
  }
#define EFI_DEBUG_MASK_PROTOCOL_GUID                                               \
  {                                                                                \
    0x4C8A2451, 0xC207, 0x405B, { 0x96, 0x94, 0x99, 0xEA, 0x13, 0x25, 0x13, 0x41 } \
  }
// The configuration table entry whose VendorTable is the ACPI 2.0 RSDP.
#define EFI_ACPI_20_TABLE_GUID                                                     \
  {                                                                                \
    0x8868E871, 0xE4F1, 0x11D3, { 0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81 } \
  }
// Platform firmware protocol that opens the whole flash before a 16 MiB write.
#define FULL_FLASH_PREPARE_PROTOCOL_GUID                                           \
  {                                                                                \
    0x903D85AB, 0x2AE1, 0x467B, { 0x8B, 0xB0, 0x5B, 0x0F, 0xF3, 0x1A, 0xFC, 0x5E } \
  }

// ---- Memory, task priority, protocol opening ---------------------------------------
enum EFI_MEMORY_TYPE {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiMaxMemoryType = 0x7FFFFFFF
};

#define TPL_APPLICATION ((EFI_TPL)4)
#define TPL_CALLBACK ((EFI_TPL)8)
#define TPL_NOTIFY ((EFI_TPL)16)
#define TPL_HIGH_LEVEL ((EFI_TPL)31)

#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x00000001U
#define EFI_OPEN_PROTOCOL_GET_PROTOCOL 0x00000002U
#define EFI_OPEN_PROTOCOL_TEST_PROTOCOL 0x00000004U

// ---- Files -----------------------------------------------------------------------
#define EFI_FILE_MODE_READ 0x0000000000000001ULL
#define EFI_FILE_MODE_WRITE 0x0000000000000002ULL
#define EFI_FILE_MODE_CREATE 0x8000000000000000ULL

#define EFI_FILE_READ_ONLY 0x0000000000000001ULL
#define EFI_FILE_HIDDEN 0x0000000000000002ULL
#define EFI_FILE_SYSTEM 0x0000000000000004ULL
#define EFI_FILE_RESERVED 0x0000000000000008ULL
#define EFI_FILE_DIRECTORY 0x0000000000000010ULL
#define EFI_FILE_ARCHIVE 0x0000000000000020ULL
#define EFI_FILE_VALID_ATTR 0x0000000000000037ULL

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};

struct EFI_FILE_INFO {
  UINT64 Size;  // the whole record, FileName included
  UINT64 FileSize;
  UINT64 PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  UINT64 Attribute;
  CHAR16 FileName[1];  // NUL-terminated, runs past the fixed part
};
#define EFI_FILE_INFO_FIXED_SIZE 80

// ---- Tables ----------------------------------------------------------------------
struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};

#define EFI_SYSTEM_TABLE_SIGNATURE 0x5453595320494249ULL
#define EFI_BOOT_SERVICES_SIGNATURE 0x56524553544F4F42ULL
#define EFI_RUNTIME_SERVICES_SIGNATURE 0x56524553544E5552ULL

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_TEXT_RESET)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                           BOOLEAN ExtendedVerification);
typedef EFI_STATUS(EFIAPI *EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);
typedef EFI_STATUS(EFIAPI *EFI_TEXT_UNUSED)(VOID);

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  EFI_TEXT_RESET Reset;
  EFI_TEXT_STRING OutputString;
  EFI_TEXT_UNUSED TestString;
  EFI_TEXT_UNUSED QueryMode;
  EFI_TEXT_UNUSED SetMode;
  EFI_TEXT_UNUSED SetAttribute;
  EFI_TEXT_UNUSED ClearScreen;
  EFI_TEXT_UNUSED SetCursorPosition;
  EFI_TEXT_UNUSED EnableCursor;
  VOID *Mode;
};

// A slot of a service table that this application never calls.
typedef EFI_STATUS(EFIAPI *EFI_UNUSED_SERVICE)(VOID);

typedef EFI_TPL(EFIAPI *EFI_RAISE_TPL)(EFI_TPL NewTpl);
typedef EFI_STATUS(EFIAPI *EFI_STALL)(UINTN Microseconds);
typedef VOID(EFIAPI *EFI_RESTORE_TPL)(EFI_TPL OldTpl);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL)(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                              VOID **Interface, EFI_HANDLE AgentHandle,
                                              EFI_HANDLE ControllerHandle, UINT32 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_CLOSE_PROTOCOL)(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                               EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(EFI_GUID *Protocol, VOID *Registration,
                                                VOID **Interface);
// Variadic: (GUID *, interface) pairs ended by one null pointer.
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_MULTIPLE_PROTOCOL_INTERFACES)(EFI_HANDLE *Handle, ...);
typedef EFI_STATUS(EFIAPI *EFI_UNINSTALL_MULTIPLE_PROTOCOL_INTERFACES)(EFI_HANDLE Handle, ...);

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_RAISE_TPL RaiseTPL;
  EFI_RESTORE_TPL RestoreTPL;
  EFI_UNUSED_SERVICE AllocatePages;
  EFI_UNUSED_SERVICE FreePages;
  EFI_UNUSED_SERVICE GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;
  EFI_UNUSED_SERVICE CreateEvent;
  EFI_UNUSED_SERVICE SetTimer;
  EFI_UNUSED_SERVICE WaitForEvent;
  EFI_UNUSED_SERVICE SignalEvent;
  EFI_UNUSED_SERVICE CloseEvent;
  EFI_UNUSED_SERVICE CheckEvent;
  EFI_UNUSED_SERVICE InstallProtocolInterface;
  EFI_UNUSED_SERVICE ReinstallProtocolInterface;
  EFI_UNUSED_SERVICE UninstallProtocolInterface;
  EFI_UNUSED_SERVICE HandleProtocol;
  VOID *Reserved;
  EFI_UNUSED_SERVICE RegisterProtocolNotify;
  EFI_UNUSED_SERVICE LocateHandle;
  EFI_UNUSED_SERVICE LocateDevicePath;
  EFI_UNUSED_SERVICE InstallConfigurationTable;
  EFI_UNUSED_SERVICE LoadImage;
  EFI_UNUSED_SERVICE StartImage;
  EFI_UNUSED_SERVICE Exit;
  EFI_UNUSED_SERVICE UnloadImage;
  EFI_UNUSED_SERVICE ExitBootServices;
  EFI_UNUSED_SERVICE GetNextMonotonicCount;
  EFI_STALL Stall;
  EFI_UNUSED_SERVICE SetWatchdogTimer;
  EFI_UNUSED_SERVICE ConnectController;
  EFI_UNUSED_SERVICE DisconnectController;
  EFI_OPEN_PROTOCOL OpenProtocol;
  EFI_CLOSE_PROTOCOL CloseProtocol;
  EFI_UNUSED_SERVICE OpenProtocolInformation;
  EFI_UNUSED_SERVICE ProtocolsPerHandle;
  EFI_UNUSED_SERVICE LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  EFI_INSTALL_MULTIPLE_PROTOCOL_INTERFACES InstallMultipleProtocolInterfaces;
  EFI_UNINSTALL_MULTIPLE_PROTOCOL_INTERFACES UninstallMultipleProtocolInterfaces;
  EFI_UNUSED_SERVICE CalculateCrc32;
  EFI_UNUSED_SERVICE CopyMem;
  EFI_UNUSED_SERVICE SetMem;
  EFI_UNUSED_SERVICE CreateEventEx;
};

typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(CHAR16 *VariableName, EFI_GUID *VendorGuid,
                                             UINT32 *Attributes, UINTN *DataSize, VOID *Data);

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_UNUSED_SERVICE GetTime;
  EFI_UNUSED_SERVICE SetTime;
  EFI_UNUSED_SERVICE GetWakeupTime;
  EFI_UNUSED_SERVICE SetWakeupTime;
  EFI_UNUSED_SERVICE SetVirtualAddressMap;
  EFI_UNUSED_SERVICE ConvertPointer;
  EFI_GET_VARIABLE GetVariable;
  EFI_UNUSED_SERVICE GetNextVariableName;
  EFI_UNUSED_SERVICE SetVariable;
  EFI_UNUSED_SERVICE GetNextHighMonotonicCount;
  EFI_UNUSED_SERVICE ResetSystem;
  EFI_UNUSED_SERVICE UpdateCapsule;
  EFI_UNUSED_SERVICE QueryCapsuleCapabilities;
  EFI_UNUSED_SERVICE QueryVariableInfo;
};

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
};

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  VOID *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};

// ---- UEFI Shell protocols ----------------------------------------------------------
typedef EFI_FILE_INFO *(EFIAPI *EFI_SHELL_GET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle,
                                                    const EFI_FILE_INFO *FileInfo);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_OPEN_FILE_BY_NAME)(const CHAR16 *FileName,
                                                        SHELL_FILE_HANDLE *FileHandle,
                                                        UINT64 OpenMode);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_CLOSE_FILE)(SHELL_FILE_HANDLE FileHandle);
// Note the argument order: attributes before the out handle, unlike OpenFileByName.
typedef EFI_STATUS(EFIAPI *EFI_SHELL_CREATE_FILE)(const CHAR16 *FileName, UINT64 FileAttribs,
                                                  SHELL_FILE_HANDLE *FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_READ_FILE)(SHELL_FILE_HANDLE FileHandle, UINTN *ReadSize,
                                                VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_WRITE_FILE)(SHELL_FILE_HANDLE FileHandle, UINTN *BufferSize,
                                                 VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_GET_FILE_SIZE)(SHELL_FILE_HANDLE FileHandle, UINT64 *Size);
// Closes the handle in every case; EFI_WARN_DELETE_FAILURE when the file stays.
typedef EFI_STATUS(EFIAPI *EFI_SHELL_DELETE_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef VOID(EFIAPI *EFI_SHELL_ENABLE_PAGE_BREAK)(VOID);

struct EFI_SHELL_PROTOCOL {
  EFI_UNUSED_SERVICE Execute;
  EFI_UNUSED_SERVICE GetEnv;
  EFI_UNUSED_SERVICE SetEnv;
  EFI_UNUSED_SERVICE GetAlias;
  EFI_UNUSED_SERVICE SetAlias;
  EFI_UNUSED_SERVICE GetHelpText;
  EFI_UNUSED_SERVICE GetDevicePathFromMap;
  EFI_UNUSED_SERVICE GetMapFromDevicePath;
  EFI_UNUSED_SERVICE GetDevicePathFromFilePath;
  EFI_UNUSED_SERVICE GetFilePathFromDevicePath;
  EFI_UNUSED_SERVICE SetMap;
  EFI_UNUSED_SERVICE GetCurDir;
  EFI_UNUSED_SERVICE SetCurDir;
  EFI_UNUSED_SERVICE OpenFileList;
  EFI_UNUSED_SERVICE FreeFileList;
  EFI_UNUSED_SERVICE RemoveDupInFileList;
  EFI_UNUSED_SERVICE BatchIsActive;
  EFI_UNUSED_SERVICE IsRootShell;
  EFI_SHELL_ENABLE_PAGE_BREAK EnablePageBreak;
  EFI_UNUSED_SERVICE DisablePageBreak;
  EFI_UNUSED_SERVICE GetPageBreak;
  EFI_UNUSED_SERVICE GetDeviceName;
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_SET_FILE_INFO SetFileInfo;
  EFI_SHELL_OPEN_FILE_BY_NAME OpenFileByName;
  EFI_SHELL_CLOSE_FILE CloseFile;
  EFI_SHELL_CREATE_FILE CreateFile;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_DELETE_FILE DeleteFile;
  EFI_UNUSED_SERVICE DeleteFileByName;
  EFI_UNUSED_SERVICE GetFilePosition;
  EFI_UNUSED_SERVICE SetFilePosition;
  EFI_UNUSED_SERVICE FlushFile;
  EFI_UNUSED_SERVICE FindFiles;
  EFI_UNUSED_SERVICE FindFilesInDir;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
  EFI_UNUSED_SERVICE OpenRoot;
  EFI_UNUSED_SERVICE OpenRootByHandle;
  EFI_EVENT ExecutionBreak;  // an event, not a function
  UINT32 MajorVersion;
  UINT32 MinorVersion;
  EFI_UNUSED_SERVICE RegisterGuidName;
  EFI_UNUSED_SERVICE GetGuidName;
  EFI_UNUSED_SERVICE GetGuidFromName;
  EFI_UNUSED_SERVICE GetEnvEx;
};

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  SHELL_FILE_HANDLE StdIn;
  SHELL_FILE_HANDLE StdOut;
  SHELL_FILE_HANDLE StdErr;
};

struct EFI_UNICODE_COLLATION2_PROTOCOL;
typedef INTN(EFIAPI *EFI_UNICODE_COLLATION_STRICOLL)(EFI_UNICODE_COLLATION2_PROTOCOL *This,
                                                     CHAR16 *Str1, CHAR16 *Str2);

struct EFI_UNICODE_COLLATION2_PROTOCOL {
  EFI_UNICODE_COLLATION_STRICOLL StriColl;
  EFI_UNUSED_SERVICE MetaiMatch;
  EFI_UNUSED_SERVICE StrLwr;
  EFI_UNUSED_SERVICE StrUpr;
  EFI_UNUSED_SERVICE FatToStr;
  EFI_UNUSED_SERVICE StrToFat;
  CHAR8 *SupportedLanguages;
};

// ---- Debug-mask protocol ----------------------------------------------------------
struct EFI_DEBUG_MASK_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_GET_DEBUG_MASK)(EFI_DEBUG_MASK_PROTOCOL *This,
                                               UINTN *CurrentDebugMask);
typedef EFI_STATUS(EFIAPI *EFI_SET_DEBUG_MASK)(EFI_DEBUG_MASK_PROTOCOL *This, UINTN NewDebugMask);

struct EFI_DEBUG_MASK_PROTOCOL {
  INT64 Revision;
  EFI_GET_DEBUG_MASK GetDebugMask;
  EFI_SET_DEBUG_MASK SetDebugMask;
};
#define EFI_DEBUG_MASK_REVISION 0x00010000

// ---- Platform full-flash protocol -------------------------------------------------
// Only the function in the third pointer slot (byte offset 16) is used; it is
// called with (interface, 0, 0).
typedef EFI_STATUS(EFIAPI *FULL_FLASH_PREPARE)(VOID *This, UINTN Argument1, UINTN Argument2);
struct FULL_FLASH_PREPARE_PROTOCOL {
  VOID *Reserved0;
  VOID *Reserved1;
  FULL_FLASH_PREPARE Prepare;
};

// ---- PI hand-off blocks -----------------------------------------------------------
#define EFI_HOB_TYPE_HANDOFF 0x0001
#define EFI_HOB_TYPE_GUID_EXTENSION 0x0004
#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

struct EFI_HOB_GENERIC_HEADER {
  UINT16 HobType;
  UINT16 HobLength;  // bytes of the whole HOB
  UINT32 Reserved;
};

struct EFI_HOB_GUID_TYPE {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  // data follows at byte 24
};

// ---- Layout checks (x86-64) -------------------------------------------------------
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID");
static_assert(alignof(EFI_GUID) == 4, "EFI_GUID alignment");
static_assert(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER");
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120, "EFI_SYSTEM_TABLE");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64, "ConOut");
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88, "RuntimeServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "BootServices");
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104, "NumberOfTableEntries");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112, "ConfigurationTable");
static_assert(sizeof(EFI_BOOT_SERVICES) == 376, "EFI_BOOT_SERVICES");
static_assert(offsetof(EFI_BOOT_SERVICES, RaiseTPL) == 24, "RaiseTPL");
static_assert(offsetof(EFI_BOOT_SERVICES, RestoreTPL) == 32, "RestoreTPL");
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64, "AllocatePool");
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72, "FreePool");
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248, "Stall");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 280, "OpenProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, CloseProtocol) == 288, "CloseProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320, "LocateProtocol");
static_assert(offsetof(EFI_BOOT_SERVICES, InstallMultipleProtocolInterfaces) == 328,
              "InstallMultipleProtocolInterfaces");
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallMultipleProtocolInterfaces) == 336,
              "UninstallMultipleProtocolInterfaces");
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136, "EFI_RUNTIME_SERVICES");
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72, "GetVariable");
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24, "EFI_CONFIGURATION_TABLE");
static_assert(offsetof(EFI_CONFIGURATION_TABLE, VendorTable) == 16, "VendorTable");
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80, "EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL");
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8, "OutputString");
static_assert(sizeof(EFI_SHELL_PROTOCOL) == 360, "EFI_SHELL_PROTOCOL");
static_assert(offsetof(EFI_SHELL_PROTOCOL, EnablePageBreak) == 144, "EnablePageBreak");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileInfo) == 176, "GetFileInfo");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFileInfo) == 184, "SetFileInfo");
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 192, "OpenFileByName");
static_assert(offsetof(EFI_SHELL_PROTOCOL, CloseFile) == 200, "CloseFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, CreateFile) == 208, "CreateFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, ReadFile) == 216, "ReadFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 224, "WriteFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFile) == 232, "DeleteFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileSize) == 288, "GetFileSize");
static_assert(offsetof(EFI_SHELL_PROTOCOL, MajorVersion) == 320, "MajorVersion");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetEnvEx) == 352, "GetEnvEx");
static_assert(sizeof(EFI_SHELL_PARAMETERS_PROTOCOL) == 40, "EFI_SHELL_PARAMETERS_PROTOCOL");
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8, "Argc");
static_assert(sizeof(EFI_UNICODE_COLLATION2_PROTOCOL) == 56, "EFI_UNICODE_COLLATION2_PROTOCOL");
static_assert(offsetof(EFI_UNICODE_COLLATION2_PROTOCOL, SupportedLanguages) == 48,
              "SupportedLanguages");
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME");
static_assert(offsetof(EFI_TIME, Minute) == 5, "Minute");
static_assert(offsetof(EFI_TIME, TimeZone) == 12, "TimeZone");
static_assert(offsetof(EFI_FILE_INFO, Attribute) == 72, "Attribute");
static_assert(offsetof(EFI_FILE_INFO, FileName) == EFI_FILE_INFO_FIXED_SIZE, "FileName");
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "EFI_HOB_GENERIC_HEADER");
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "EFI_HOB_GUID_TYPE");
static_assert(offsetof(EFI_HOB_GUID_TYPE, Name) == 8, "HOB Name");
static_assert(offsetof(EFI_DEBUG_MASK_PROTOCOL, GetDebugMask) == 8, "GetDebugMask");
static_assert(offsetof(FULL_FLASH_PREPARE_PROTOCOL, Prepare) == 16, "Prepare");
