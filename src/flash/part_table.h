// The flash part table, the identification of the installed chip and the set-up
// of the controller and of the BIOS window for it.
#pragma once

#include "uefi/uefi.h"

// Where the memory-mapped BIOS window lies in the flash, and what may be written.
struct BiosWindowRecord {
  UINT64 Base;
  UINT64 Size;
  INT64 FlashOffset;
  UINT32 FlashSize;
  UINT32 EraseBlockSize;
  UINT64 WritableLow;
  UINT64 WritableHigh;
  BOOLEAN DescriptorMode;
};
extern BiosWindowRecord BiosWindow;

EFI_STATUS BiosWindowInit();
VOID DetectFlashPart();
// The writable range and DescriptorMode from the controller as it is now: the set-up
// runs it for the selected part, and it runs again once platform firmware may have
// lifted the descriptor's limits.
VOID BiosWindowReadWritableRange();

// The row DetectFlashPart accepted, or -1 when none was.
INT32 SelectedFlashPartIndex();
// Names of the accepted row, for reports; null when none was accepted.
const CHAR8 *SelectedFlashVendorName();
const CHAR8 *SelectedFlashPartName();

// ---- The part table ------------------------------------------------------------------
constexpr UINT32 FLASH_NAME_BYTES = 32;
constexpr UINT32 FLASH_PART_COUNT = 29;
// ChipId and ScanKey of the generic last row, which is never identified.
constexpr UINT32 FLASH_GENERIC_CHIP_ID = 0x12345678;
constexpr UINT8 FLASH_GEOMETRY_FORMAT = 3;

struct FlashGeometry {
  UINT8 Format;
  UINT8 Reserved[3];
  UINT32 ChipId;  // identification bytes in the order sent, the first in bits 7:0
  UINT32 SecondId;
  UINT16 SectorUnits;  // sector size in units of 256 bytes
  UINT16 SectorCount;
};
static_assert(sizeof(FlashGeometry) == 16);

// The option settings of a row, one byte each; each becomes a field of the
// option word of SpiControllerConfig.
struct FlashPartOptions {
  UINT8 WriteStatusRequired;     // LVSCC/UVSCC WSR
  UINT8 Option1;                 // carried; no effect
  UINT8 Option2;                 // carried; no effect
  UINT8 WriteGranularity64;      // LVSCC/UVSCC WG
  UINT8 IdByteCount;             // identification bytes read and compared
  UINT8 Option5;                 // carried; no effect
  UINT8 FixedWriteStatusMethod;  // the prefix opcodes do not choose WEWS/WSR
};
static_assert(sizeof(FlashPartOptions) == 7);

// The stored controller record of a row.
struct SpiControllerSettings {
  UINT32 RecordSize;
  UINT8 OpcodeMenu[8];  // slot 0 identification, 1 erase, 2 program
  UINT16 OpcodeTypes;
  UINT8 PrefixOpcodes[2];
  FlashPartOptions Options;
  UINT8 Reserved;
  UINT8 AuxBytes[4];
  UINT32 Capacity;
  UINT32 EraseBlockSize;  // bytes erased by the opcode in slot 1
  UINT32 LastWord;
};
static_assert(sizeof(SpiControllerSettings) == 40);

// One row of the part table: what identifies the part, its geometry and the
// controller settings it needs.
struct FlashPartEntry {
  UINT64 ScanKey;  // steers the scan; never compared with the chip
  CHAR8 VendorName[FLASH_NAME_BYTES];
  CHAR8 PartName[FLASH_NAME_BYTES];
  FlashGeometry Geometry;
  SpiControllerSettings Settings;
};

extern const FlashPartEntry FlashPartTable[FLASH_PART_COUNT];

// Roles of the opcode-menu slots: identification (loaded only), the erase opcode
// (also in LVSCC/UVSCC) and the program opcode of the software-sequenced cycles.
constexpr UINT8 OPMENU_SLOT_IDENTIFY = 0;
constexpr UINT8 OPMENU_SLOT_ERASE = 1;
constexpr UINT8 OPMENU_SLOT_PROGRAM = 2;

// Option word of SpiControllerConfig.
constexpr UINT32 SPI_OPTION_WRITE_STATUS_REQUIRED = 1u << 0;
constexpr UINT32 SPI_OPTION_1 = 1u << 1;
constexpr UINT32 SPI_OPTION_2 = 1u << 2;
constexpr UINT32 SPI_OPTION_WRITE_GRANULARITY_64 = 1u << 3;
constexpr UINT32 SPI_OPTION_ID_BYTE_COUNT_SHIFT = 4;
constexpr UINT32 SPI_OPTION_ID_BYTE_COUNT_MASK = 0x7;
constexpr UINT32 SPI_OPTION_5_SHIFT = 7;
constexpr UINT32 SPI_OPTION_5_MASK = 0x7;
constexpr UINT32 SPI_OPTION_FIXED_WRITE_STATUS_METHOD = 1u << 10;

// The working form of a row's settings, programmed into the controller.
struct SpiControllerConfig {
  UINT8 OpcodeMenu[8];
  UINT16 OpcodeTypes;
  UINT8 PrefixOpcodes[2];
  UINT32 Options;
  UINT8 AuxBytes[4];
  UINT32 Capacity;
  UINT32 EraseBlockSize;
  UINT32 LastWord;
};

struct FlashDeviceInfo {
  UINT32 Format;
  UINT32 ChipId;
  UINT32 SecondId;
  UINT8 SizeCode;
  CHAR8 VendorName[FLASH_NAME_BYTES];
  CHAR8 PartName[FLASH_NAME_BYTES];
  UINT16 SectorUnits;
  UINT16 SectorCount;
  UINT16 Reserved;
  SpiControllerConfig *Config;
};

// Steps of the set-up, exposed for tests.
VOID ComputeBiosFlashOffset();
EFI_STATUS GetFlashComponentCount(UINT8 *Count);
EFI_STATUS DecodeFlashDensity(UINT8 ComponentCount, FlashDeviceInfo *Info,
                              SpiControllerConfig *Config);
// Tries the rows in scan order from the first, then the generic row; stops early
// when the controller hangs.
VOID ScanPartTable();
// Tries the row at the current scan index; the candidate when accepted, else null.
FlashDeviceInfo *TryFlashPart();
EFI_STATUS LoadFlashDeviceInfo(FlashDeviceInfo *Info);
EFI_STATUS ConfigureSpiForPart(FlashDeviceInfo *Info);
// The LVSCC/UVSCC value the set-up programs for a configuration.
UINT32 ComputeVsccValue(const SpiControllerConfig *Config);
