// The flash part table and the identification of the installed chip: the scan
// tries the rows in order, has the controller set up for each (spi_setup) and
// keeps the first whose identification bytes match.
#pragma once

#include "flash/spi_setup.h"
#include "uefi/uefi.h"

VOID DetectFlashPart();

// A board has one or two flash components (chips).
constexpr UINT32 FLASH_COMPONENT_MAX = 2;

// The row DetectFlashPart accepted for component 0, or -1 when none was.
INT32 SelectedFlashPartIndex();
// The row accepted for a component's chip; -1 when none was, or the board has no
// such component.
INT32 SelectedFlashPartIndexIn(UINT32 Component);
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
  // The status-register bits that protect blocks on this part (BP0..BP2 or
  // BP0..BP3); SRWD, TB and SEC are not among them.
  UINT8 BlockProtectMask;
};

extern const FlashPartEntry FlashPartTable[FLASH_PART_COUNT];

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
EFI_STATUS DecodeFlashDensity(UINT8 ComponentCount, FlashDeviceInfo *Info,
                              SpiControllerConfig *Config);
// Tries the rows in scan order from the first, then the generic row; stops early
// when the controller hangs.
VOID ScanPartTable();
// Tries the row at the current scan index; the candidate when accepted, else null.
FlashDeviceInfo *TryFlashPart();
EFI_STATUS LoadFlashDeviceInfo(FlashDeviceInfo *Info);
EFI_STATUS ConfigureSpiForPart(FlashDeviceInfo *Info);

// The size code of a flash of Bytes: n for 64 KiB << n (128 KiB..64 MiB), else
// FLASH_SIZE_CODE_NONE.
constexpr UINT8 FLASH_SIZE_CODE_NONE = 0xFF;
UINT8 FlashSizeCode(UINT32 Bytes);
