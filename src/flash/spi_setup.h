// The set-up of the SPI controller: what firmware left in it (ACPI base, region
// permissions, component capabilities, the descriptor's maps), where the BIOS
// window lies in the flash and what may be written, and the programming of the
// opcode menu and of LVSCC/UVSCC for the flash part in use.
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

// What the controller is programmed with for one flash part.
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

// Reads what firmware left in the controller: the ACPI I/O base, FRAP, LVSCC/UVSCC
// and the descriptor's component and strap maps. Forgets everything of an
// earlier run first.
EFI_STATUS SpiControllerInit();
// Read again after initialisation: FRAP, once platform firmware may have lifted
// the descriptor's limits; LVSCC/UVSCC, once the part set-up has programmed them,
// so that the erase size follows what the registers hold.
VOID SpiReadRegionAccess();
VOID SpiReadComponentCapabilities();

EFI_STATUS BiosWindowInit();
// The window's offset in the flash: the window ends where the BIOS region ends.
VOID ComputeBiosFlashOffset();
// For a whole-flash image: the window is placed at the top of the flash, so that
// the 16 MiB below 4 GiB convert to the whole flash from flash-linear 0.
VOID BiosWindowCoverWholeFlash();
EFI_STATUS GetFlashComponentCount(UINT8 *Count);
// The writable range and DescriptorMode from the controller as it is now: the set-up
// runs it for the selected part, and it runs again once platform firmware may have
// lifted the descriptor's limits.
VOID BiosWindowReadWritableRange();

// Loads the opcode menu, its types and the prefix opcodes for a part.
VOID SpiProgramForPart(const SpiControllerConfig *Config);
// LVSCC for the part in component 0 and UVSCC for the part in component 1 (on a
// one-component board, the same part), each only where firmware left no valid
// erase opcode there and the vendor component lock is open.
VOID SpiProgramComponentCapabilities(const SpiControllerConfig *First,
                                     const SpiControllerConfig *Second);
// The LVSCC/UVSCC value the set-up programs for a configuration.
UINT32 ComputeVsccValue(const SpiControllerConfig *Config);
