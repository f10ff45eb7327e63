// Identification of the installed flash chip from the part table, programming of
// the controller for it, and the BIOS window: where the memory-mapped BIOS lies in
// the flash and what may be written.
#include "flash/part_table.h"

#include "base/firmware.h"
#include "flash/flash_descriptor.h"
#include "flash/flash_geometry.h"
#include "flash/hw_access.h"
#include "flash/regs/descriptor.h"
#include "flash/regs/spi_mmio.h"
#include "flash/spi_hwseq.h"

BiosWindowRecord BiosWindow = {0, 0, 0, 0, 0, 0, 0, TRUE};

namespace {

constexpr UINT8 OPCODE_WRITE_ENABLE = 0x06;
constexpr UINT8 OPCODE_ENABLE_WRITE_STATUS = 0x50;

constexpr UINT32 ID_BUFFER_BYTES = 8;

// The scan's position and the candidate it builds.
UINT32 RowIndex = 0;
INT32 SelectedRow = -1;
FlashDeviceInfo Candidate = {};
SpiControllerConfig CandidateConfig = {};
SpiControllerSettings SettingsCopy = {};
FlashGeometry GeometryCopy = {};

UINT8 CapacitySizeCode(UINT32 Capacity) {
  switch (Capacity) {
    case 0x20000:
      return 1;
    case 0x40000:
      return 2;
    case 0x80000:
      return 3;
    case 0x100000:
      return 4;
    case 0x200000:
      return 5;
    case 0x400000:
      return 6;
    case 0x800000:
      return 7;
    case 0x1000000:
      return 8;
    case 0x2000000:
      return 9;
  }
  return 255;
}

// The generic row's size code from the descriptor's first component.
UINT8 DensitySizeCode(UINT32 Size) {
  switch (Size) {
    case 0x80000:
      return 3;
    case 0x100000:
      return 4;
    case 0x200000:
      return 5;
    case 0x400000:
      return 6;
    case 0x800000:
      return 7;
    case 0x1000000:
      return 8;
    case 0x2000000:
      return 9;
    case 0x4000000:
      return 10;
  }
  return 255;
}

UINT32 OptionBit(UINT8 Setting, UINT32 Bit) { return (Setting & 1u) != 0 ? Bit : 0; }

UINT32 OptionField(UINT8 Setting, UINT32 Shift, UINT32 Mask) { return (Setting & Mask) << Shift; }

UINT32 PackOptions(const FlashPartOptions &Options) {
  return OptionBit(Options.WriteStatusRequired, SPI_OPTION_WRITE_STATUS_REQUIRED) |
         OptionBit(Options.Option1, SPI_OPTION_1) | OptionBit(Options.Option2, SPI_OPTION_2) |
         OptionBit(Options.WriteGranularity64, SPI_OPTION_WRITE_GRANULARITY_64) |
         OptionField(Options.IdByteCount, SPI_OPTION_ID_BYTE_COUNT_SHIFT,
                     SPI_OPTION_ID_BYTE_COUNT_MASK) |
         OptionField(Options.Option5, SPI_OPTION_5_SHIFT, SPI_OPTION_5_MASK) |
         OptionBit(Options.FixedWriteStatusMethod, SPI_OPTION_FIXED_WRITE_STATUS_METHOD);
}

UINT32 LittleEndianDword(const UINT8 *Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 |
         static_cast<UINT32>(Bytes[2]) << 16 | static_cast<UINT32>(Bytes[3]) << 24;
}

// Copies a name into a zero-filled field; a name of the full width keeps no terminator.
VOID CopyName(CHAR8 *Destination, const CHAR8 *Source) {
  MemZero(Destination, FLASH_NAME_BYTES);
  for (UINT32 I = 0; I < FLASH_NAME_BYTES && Source[I] != 0; I++) {
    Destination[I] = Source[I];
  }
}

// Reads the chip's identification bytes; an unread byte stays 0, so a failed read
// cannot match a row.
UINT32 ReadChipId(UINT32 ByteCount) {
  UINT8 Id[ID_BUFFER_BYTES] = {};
  if (ByteCount > ID_BUFFER_BYTES) {
    ByteCount = ID_BUFFER_BYTES;
  }
  SpiFlashReadJedecId(0, ByteCount, Id);
  return LittleEndianDword(Id);
}

// The writable range of a valid descriptor: the whole flash when the host may write
// any of regions 4..7 in FLMSTR1, otherwise the BIOS region as BFPREG gives it.
VOID SetDescriptorWritableRange(UINT64 Mmio) {
  UINT32 Flmstr1 = DescriptorReadDword(Mmio, FDSS_MASTER, FDSI_FLMSTR1);
  if ((Flmstr1 & FLMSTR1_WRITE_REGIONS_4_TO_7) != 0) {
    return;
  }
  UINT32 Bfpreg = RegRead32(Mmio + BFPREG);
  UINT64 Base = SpiRangeBase(Bfpreg);
  UINT64 Limit = SpiRangeLimit(Bfpreg);
  // A BIOS region of a single 4 KiB unit (base equal to limit) is not taken.
  if (Base < (Limit & ~SPI_RANGE_LIMIT_LOW_BITS)) {
    BiosWindow.WritableLow = Base;
    BiosWindow.WritableHigh = Limit;
  }
}

BOOLEAN VsccHasValidErase(UINT32 Vscc) {
  return (Vscc & (VSCC_EO_4K_VALID | VSCC_EO_64K_VALID)) != 0;
}

// LVSCC/UVSCC as firmware left them (read at initialisation) stand where they hold a
// valid erase opcode: firmware knows the installed chip. Only a register without
// one is written, and only while the vendor component lock is open.
VOID SetComponentCapabilities(UINT64 Mmio, const SpiControllerConfig *Config) {
  const SpiControllerStateRecord &Firmware = SpiControllerState;
  if ((Firmware.LvsccValue & VSCC_VCL) != 0) {
    return;
  }
  UINT32 Vscc = ComputeVsccValue(Config);
  if (!VsccHasValidErase(Firmware.LvsccValue)) {
    RegWrite32(Mmio + LVSCC, Vscc);
  }
  if (!VsccHasValidErase(Firmware.UvsccValue)) {
    RegWrite32(Mmio + UVSCC, Vscc);
  }
}

}  // namespace

EFI_STATUS BiosWindowInit() {
  // A fresh window for this run: only the steps below and the part set-up fill it.
  BiosWindow = {0, 0, 0, 0, 0, 0, 0, TRUE};
  BiosWindow.Size = BIOS_WINDOW_SIZE;
  BiosWindow.Base = BIOS_WINDOW_BASE;
  if (SpiBarUsable(SpiReadBar0())) {
    ComputeBiosFlashOffset();
  }
  return EFI_SUCCESS;
}

VOID ComputeBiosFlashOffset() {
  UINT8 Count = 0;
  if (EFI_ERROR(GetFlashComponentCount(&Count))) {
    return;
  }
  UINT32 Flcomp = DescriptorReadDword(SpiDecodingBar(), FDSS_COMPONENT, FDSI_FLCOMP);
  UINT32 Total = 0;
  UINT32 Second = 0;
  FlashComponentSize(Flcomp, 0, &Total);
  if (Count >= 2) {
    FlashComponentSize(Flcomp, 1, &Second);
  }
  Total += Second;
  // The window holds the top of the flash; negative when the flash is smaller.
  BiosWindow.FlashOffset = static_cast<INT64>(Total) - static_cast<INT64>(BiosWindow.Size);
}

EFI_STATUS GetFlashComponentCount(UINT8 *Count) {
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    return EFI_UNSUPPORTED;
  }
  *Count =
      static_cast<UINT8>(FlashComponentCount(DescriptorReadDword(Mmio, FDSS_MAP, FDSI_FLMAP0)));
  return EFI_SUCCESS;
}

EFI_STATUS DecodeFlashDensity(UINT8 ComponentCount, FlashDeviceInfo *Info,
                              SpiControllerConfig *Config) {
  EFI_STATUS Status = EFI_SUCCESS;
  UINT32 Flcomp = DescriptorReadDword(SpiDecodingBar(), FDSS_COMPONENT, FDSI_FLCOMP);
  UINT32 Size1 = 0;
  if (!FlashComponentSize(Flcomp, 0, &Size1)) {
    Status = EFI_DEVICE_ERROR;
  }
  UINT32 Size2 = 0;
  if (ComponentCount >= 2 && !FlashComponentSize(Flcomp, 1, &Size2)) {
    Status = EFI_DEVICE_ERROR;
  }
  BiosWindow.FlashSize = Size1 + Size2;
  // The generic row knows no size of its own: it takes the first component's.
  if (Info->ChipId == FLASH_GENERIC_CHIP_ID) {
    Config->Capacity = Size1;
    Info->SizeCode = DensitySizeCode(Size1);
    UINT32 SectorBytes = static_cast<UINT32>(Info->SectorUnits) * 256;
    if (SectorBytes != 0) {
      Info->SectorCount = static_cast<UINT16>(Size1 / SectorBytes);
    }
  }
  return Status;
}

UINT32 ComputeVsccValue(const SpiControllerConfig *Config) {
  // The erase opcode goes into the field of the size it erases, marked valid. The
  // controller has no cycle for other sizes (a 256-byte page erase): such a part
  // gets no valid erase opcode.
  UINT32 Opcode = Config->OpcodeMenu[OPMENU_SLOT_ERASE];
  UINT32 Value = 0;
  if (Config->EraseBlockSize == FLASH_SECTOR_4K) {
    Value = Opcode << VSCC_EO_4K_SHIFT | VSCC_EO_4K_VALID;
  } else if (Config->EraseBlockSize == FLASH_BLOCK_64K) {
    Value = Opcode << VSCC_EO_64K_SHIFT | VSCC_EO_64K_VALID;
  }
  if ((Config->Options & SPI_OPTION_WRITE_GRANULARITY_64) != 0) {
    Value |= VSCC_WG;
  }
  if ((Config->Options & SPI_OPTION_WRITE_STATUS_REQUIRED) != 0) {
    Value |= VSCC_WSR;
  }
  if ((Config->Options & SPI_OPTION_FIXED_WRITE_STATUS_METHOD) == 0) {
    const UINT8 *Prefix = Config->PrefixOpcodes;
    if (Prefix[0] == OPCODE_WRITE_ENABLE || Prefix[1] == OPCODE_WRITE_ENABLE) {
      Value |= VSCC_WEWS;
    } else if (Prefix[0] == OPCODE_ENABLE_WRITE_STATUS || Prefix[1] == OPCODE_ENABLE_WRITE_STATUS) {
      Value |= VSCC_WSR;
    }
  }
  return Value;
}

EFI_STATUS LoadFlashDeviceInfo(FlashDeviceInfo *Info) {
  const FlashPartEntry &Row = FlashPartTable[RowIndex];
  Info->Format = GeometryCopy.Format;
  Info->ChipId = GeometryCopy.ChipId;
  Info->SecondId = GeometryCopy.SecondId;
  Info->SectorUnits = GeometryCopy.SectorUnits;
  Info->SectorCount = GeometryCopy.SectorCount;
  Info->Reserved = 0xFFFF;
  CopyName(Info->VendorName, Row.VendorName);
  CopyName(Info->PartName, Row.PartName);

  UINT32 Capacity = static_cast<UINT32>(GeometryCopy.SectorUnits) * GeometryCopy.SectorCount * 256;
  Info->SizeCode = CapacitySizeCode(Capacity);

  SpiControllerConfig &Config = CandidateConfig;
  MemCopy(Config.OpcodeMenu, SettingsCopy.OpcodeMenu, sizeof(Config.OpcodeMenu));
  Config.OpcodeTypes = SettingsCopy.OpcodeTypes;
  Config.PrefixOpcodes[0] = SettingsCopy.PrefixOpcodes[0];
  Config.PrefixOpcodes[1] = SettingsCopy.PrefixOpcodes[1];
  Config.Options = PackOptions(SettingsCopy.Options);
  MemCopy(Config.AuxBytes, SettingsCopy.AuxBytes, sizeof(Config.AuxBytes));
  Config.Capacity = Capacity;  // from the geometry, not the record's own field
  Config.EraseBlockSize = SettingsCopy.EraseBlockSize;
  Config.LastWord = SettingsCopy.LastWord;
  Info->Config = &Config;
  return EFI_SUCCESS;
}

EFI_STATUS ConfigureSpiForPart(FlashDeviceInfo *Info) {
  const SpiControllerConfig *Config = Info->Config;
  UINT64 Mmio = SpiDecodingBar();
  RegOr8(Mmio + HSFSTS_CTL, HSFSTS_CTL_FDONE | HSFSTS_CTL_FCERR | HSFSTS_CTL_AEL);
  RegOr8(Mmio + SSFSTS_CTL, SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR);
  RegWrite32(Mmio + OPMENU_LOW, LittleEndianDword(&Config->OpcodeMenu[0]));
  RegWrite32(Mmio + OPMENU_HIGH, LittleEndianDword(&Config->OpcodeMenu[4]));
  RegWrite16(Mmio + OPTYPE, Config->OpcodeTypes);
  RegWrite16(Mmio + PREOP,
             static_cast<UINT16>(Config->PrefixOpcodes[0] | Config->PrefixOpcodes[1] << 8));
  SetComponentCapabilities(Mmio, Config);

  if (Info->ChipId != FLASH_GENERIC_CHIP_ID) {
    UINT32 IdBytes =
        (Config->Options >> SPI_OPTION_ID_BYTE_COUNT_SHIFT) & SPI_OPTION_ID_BYTE_COUNT_MASK;
    if (ReadChipId(IdBytes) != Info->ChipId) {
      return EFI_UNSUPPORTED;
    }
  }
  BiosWindow.FlashSize = Config->Capacity;
  BiosWindow.EraseBlockSize = Config->EraseBlockSize;

  UINT8 Count = 0;
  if (!EFI_ERROR(GetFlashComponentCount(&Count))) {
    EFI_STATUS Status = DecodeFlashDensity(Count, Info, Info->Config);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  // The identification cycle may have moved BAR0: BiosWindowReadWritableRange
  // reads the registers where they decode now.
  BiosWindowReadWritableRange();
  return EFI_SUCCESS;
}

VOID BiosWindowReadWritableRange() {
  BiosWindow.WritableLow = 0;
  BiosWindow.WritableHigh = static_cast<UINT32>(BiosWindow.FlashSize - 1);
  UINT64 Mmio = SpiDecodingBar();
  if (!DescriptorValid(Mmio)) {
    BiosWindow.DescriptorMode = FALSE;
    return;
  }
  BiosWindow.DescriptorMode = TRUE;
  SetDescriptorWritableRange(Mmio);
}

FlashDeviceInfo *TryFlashPart() {
  const FlashPartEntry &Row = FlashPartTable[RowIndex];
  GeometryCopy = Row.Geometry;
  // Only the packed record of format 3 is known; no row uses another.
  if (GeometryCopy.Format != FLASH_GEOMETRY_FORMAT) {
    return nullptr;
  }
  SettingsCopy = Row.Settings;
  LoadFlashDeviceInfo(&Candidate);
  if (ConfigureSpiForPart(&Candidate) != EFI_SUCCESS) {
    return nullptr;
  }
  return &Candidate;
}

VOID DetectFlashPart() {
  RowIndex = 0;
  SelectedRow = -1;
  if (!SpiBarUsable(SpiDecodingBar())) {
    return;  // nothing to program: no part is selected
  }
  ScanPartTable();
  // Erases choose their size from what LVSCC/UVSCC hold after the set-up.
  SpiReadComponentCapabilities();
}

VOID ScanPartTable() {
  if (FlashPartTable[0].ScanKey != 0) {
    for (;;) {
      if (TryFlashPart() != nullptr) {
        SelectedRow = static_cast<INT32>(RowIndex);
        return;
      }
      // An identification cycle that never finished: every further row would
      // wait out the same bound, and no part can be known.
      if (SpiControllerStuck()) {
        return;
      }
      if (RowIndex + 1 >= FLASH_PART_COUNT) {
        break;  // a table without its generic row ends here
      }
      RowIndex++;
      UINT64 Key = FlashPartTable[RowIndex].ScanKey;
      if (Key == FLASH_GENERIC_CHIP_ID || Key == 0) {
        break;
      }
    }
  }
  // The generic row: never identified, sized from the descriptor.
  if (TryFlashPart() != nullptr) {
    SelectedRow = static_cast<INT32>(RowIndex);
  }
}

INT32 SelectedFlashPartIndex() { return SelectedRow; }

const CHAR8 *SelectedFlashVendorName() {
  return SelectedRow < 0 ? nullptr : FlashPartTable[SelectedRow].VendorName;
}

const CHAR8 *SelectedFlashPartName() {
  return SelectedRow < 0 ? nullptr : FlashPartTable[SelectedRow].PartName;
}
