#include "flash/part_table.h"

#include "base/firmware.h"
#include "flash/flash_descriptor.h"
#include "flash/flash_geometry.h"
#include "flash/regs/descriptor.h"
#include "flash/spi_hwseq.h"

namespace {

constexpr UINT32 ID_BUFFER_BYTES = 8;

// The scan's position and the candidate it builds.
UINT32 RowIndex = 0;
UINT32 ScanComponent = 0;  // the component whose chip the scan identifies
INT32 SelectedRow[FLASH_COMPONENT_MAX] = {-1, -1};
SpiControllerConfig SelectedConfig[FLASH_COMPONENT_MAX] = {};
FlashDeviceInfo Candidate = {};
SpiControllerConfig CandidateConfig = {};
SpiControllerSettings SettingsCopy = {};
FlashGeometry GeometryCopy = {};

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
  SpiFlashReadJedecId(static_cast<UINT8>(ScanComponent), ByteCount, Id);
  return ReadLittleEndian32(Id);
}

// The row at the scan index becomes the part of the component being scanned.
VOID SelectRow() {
  SelectedRow[ScanComponent] = static_cast<INT32>(RowIndex);
  SelectedConfig[ScanComponent] = CandidateConfig;
}

}  // namespace

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
    Info->SizeCode = FlashSizeCode(Size1);
    UINT32 SectorBytes = static_cast<UINT32>(Info->SectorUnits) * 256;
    if (SectorBytes != 0) {
      Info->SectorCount = static_cast<UINT16>(Size1 / SectorBytes);
    }
  }
  return Status;
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
  Info->SizeCode = FlashSizeCode(Capacity);

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
  // The opcode menu, the window and the writable range follow component 0's part;
  // component 1's chip is only identified.
  if (ScanComponent == 0) {
    SpiProgramForPart(Config);
  }

  if (Info->ChipId != FLASH_GENERIC_CHIP_ID) {
    UINT32 IdBytes =
        (Config->Options >> SPI_OPTION_ID_BYTE_COUNT_SHIFT) & SPI_OPTION_ID_BYTE_COUNT_MASK;
    if (ReadChipId(IdBytes) != Info->ChipId) {
      return EFI_UNSUPPORTED;
    }
  }
  if (ScanComponent != 0) {
    return EFI_SUCCESS;
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
  ScanComponent = 0;
  SelectedRow[0] = -1;
  SelectedRow[1] = -1;
  if (!SpiBarUsable(SpiDecodingBar())) {
    return;  // nothing to program: no part is selected
  }
  ScanPartTable();
  UINT8 Count = 0;
  if (SelectedRow[0] >= 0 && !SpiControllerStuck() && !EFI_ERROR(GetFlashComponentCount(&Count)) &&
      Count >= 2) {
    // Each chip is identified at its own chip select: an address in component 1.
    ScanComponent = 1;
    RowIndex = 0;
    ScanPartTable();
    ScanComponent = 0;
  }
  // LVSCC/UVSCC are written once, for the parts selected, never for rows tried.
  if (SelectedRow[0] >= 0) {
    const SpiControllerConfig *Second =
        SelectedRow[1] >= 0 ? &SelectedConfig[1] : &SelectedConfig[0];
    SpiProgramComponentCapabilities(&SelectedConfig[0], Second);
  }
  // Erases choose their size from what LVSCC/UVSCC hold after the set-up.
  SpiReadComponentCapabilities();
}

VOID ScanPartTable() {
  if (FlashPartTable[0].ScanKey != 0) {
    for (;;) {
      if (TryFlashPart() != nullptr) {
        SelectRow();
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
    SelectRow();
  }
}

INT32 SelectedFlashPartIndex() { return SelectedRow[0]; }

INT32 SelectedFlashPartIndexIn(UINT32 Component) {
  return Component < FLASH_COMPONENT_MAX ? SelectedRow[Component] : -1;
}

const CHAR8 *SelectedFlashVendorName() {
  return SelectedRow[0] < 0 ? nullptr : FlashPartTable[SelectedRow[0]].VendorName;
}

const CHAR8 *SelectedFlashPartName() {
  return SelectedRow[0] < 0 ? nullptr : FlashPartTable[SelectedRow[0]].PartName;
}

UINT8 FlashSizeCode(UINT32 Bytes) {
  for (UINT8 Code = 1; Code <= 10; Code++) {
    if (Bytes == static_cast<UINT32>(FLASH_BLOCK_64K) << Code) {
      return Code;
    }
  }
  return FLASH_SIZE_CODE_NONE;
}
