// The flash part table: 28 named SPI flash parts and a generic last row, in scan
// order. The scan takes the first row whose identification bytes match, so a later
// row with the same bytes as an earlier one is never selected.
#include "flash/flash_geometry.h"
#include "flash/part_table.h"

namespace {

constexpr UINT32 KiB = 1024;
constexpr UINT32 MiB = 1024 * KiB;

constexpr UINT8 BP0_TO_BP2 = 0x1C;
constexpr UINT8 BP0_TO_BP3 = 0x3C;

// What one part needs, with the value most parts share as each field's default.
// The opcode menu is: identification, erase, program (0x02), write status, read
// (0x03), read status, and two unused slots.
struct PartRow {
  const CHAR8 *Vendor;
  const CHAR8 *Name;
  UINT32 ChipId;            // identification bytes as sent, the first in bits 7:0
  UINT32 ScanKey = 0;       // steers the scan; 0: the ChipId
  UINT16 SectorUnits = 16;  // sector size in units of 256 bytes
  UINT16 SectorCount = 0;
  UINT32 Capacity = 0;  // the record's own field; the set-up sizes from the geometry
  UINT8 IdentifyOpcode = 0x9F;
  UINT8 EraseOpcode = 0x20;
  UINT32 EraseBlockSize = FLASH_SECTOR_4K;  // bytes erased by EraseOpcode
  UINT8 WriteStatusOpcode = 0x01;
  UINT8 ReadStatusOpcode = 0x05;
  UINT16 OpcodeTypes = 0xF27C;
  UINT8 Prefix0 = 0x06;
  UINT8 Prefix1 = 0x06;
  UINT8 WriteStatusRequired = 0;
  UINT8 Option1 = 0;
  UINT8 Option2 = 0;
  UINT8 WriteGranularity64 = 1;
  UINT8 IdByteCount = 3;
  UINT8 FixedWriteStatusMethod = 0;
  UINT8 Aux0 = 0;
  UINT8 Aux1 = 0;
  UINT8 Aux2 = 0;
  UINT32 LastWord = 0;
  // Block-protect bits of status register 1: BP0..BP2 on most parts (Winbond and
  // GigaDevice have TB in bit 5 and SEC in bit 6), BP0..BP3 on Macronix and SST
  // parts; the generic row assumes the wider set.
  UINT8 BlockProtect = BP0_TO_BP2;
};

constexpr UINT8 OPCODE_PROGRAM = 0x02;
constexpr UINT8 OPCODE_READ = 0x03;
constexpr UINT32 SETTINGS_RECORD_BYTES = sizeof(SpiControllerSettings);
// Every row carries option 5 as 1; it has no effect.
constexpr UINT8 OPTION_5 = 1;

constexpr VOID CopyPartName(CHAR8 (&Field)[FLASH_NAME_BYTES], const CHAR8 *Text) {
  for (UINT32 I = 0; I < FLASH_NAME_BYTES && Text[I] != 0; I++) {
    Field[I] = Text[I];
  }
}

constexpr FlashPartEntry Part(const PartRow &R) {
  FlashPartEntry Entry = {};
  Entry.ScanKey = R.ScanKey != 0 ? R.ScanKey : R.ChipId;
  CopyPartName(Entry.VendorName, R.Vendor);
  CopyPartName(Entry.PartName, R.Name);
  Entry.Geometry = {FLASH_GEOMETRY_FORMAT, {}, R.ChipId, 0, R.SectorUnits, R.SectorCount};
  Entry.Settings = {SETTINGS_RECORD_BYTES,
                    {R.IdentifyOpcode, R.EraseOpcode, OPCODE_PROGRAM, R.WriteStatusOpcode,
                     OPCODE_READ, R.ReadStatusOpcode, 0, 0},
                    R.OpcodeTypes,
                    {R.Prefix0, R.Prefix1},
                    {R.WriteStatusRequired, R.Option1, R.Option2, R.WriteGranularity64,
                     R.IdByteCount, OPTION_5, R.FixedWriteStatusMethod},
                    0,
                    {R.Aux0, R.Aux1, R.Aux2, 0},
                    R.Capacity,
                    R.EraseBlockSize,
                    R.LastWord};
  Entry.BlockProtectMask = R.BlockProtect;
  return Entry;
}

}  // namespace

// clang-format off
constinit const FlashPartEntry FlashPartTable[FLASH_PART_COUNT] = {
    Part({.Vendor = "SST", .Name = "25LF040", .ChipId = 0x000040BF, .SectorCount = 128, .Capacity = 512 * KiB, .IdentifyOpcode = 0x90, .OpcodeTypes = 0xF27E, .Prefix1 = 0x50, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 2, .Aux0 = 0x0C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "SST", .Name = "25LF040A", .ChipId = 0x000044BF, .SectorCount = 128, .Capacity = 512 * KiB, .IdentifyOpcode = 0x90, .OpcodeTypes = 0xF27E, .Prefix1 = 0x50, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 2, .Aux0 = 0x0C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "SST", .Name = "25LF080A", .ChipId = 0x000080BF, .SectorCount = 256, .Capacity = 1 * MiB, .IdentifyOpcode = 0x90, .OpcodeTypes = 0xF27E, .Prefix1 = 0x50, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 2, .Aux0 = 0x1C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "SST", .Name = "25VF016B", .ChipId = 0x008E25BF, .SectorCount = 256, .Capacity = 1 * MiB, .Prefix1 = 0x50, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .Aux0 = 0x1C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "SST", .Name = "25VF016B", .ChipId = 0x000041BF, .SectorCount = 512, .Capacity = 2 * MiB, .IdentifyOpcode = 0x90, .OpcodeTypes = 0xF27E, .Prefix1 = 0x50, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 2, .Aux0 = 0x1C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "ATMEL", .Name = "25DF041", .ChipId = 0x0000441F, .SectorCount = 128, .Capacity = 512 * KiB, .WriteStatusOpcode = 0x00, .ReadStatusOpcode = 0x00, .Prefix0 = 0x00, .Prefix1 = 0x00, .WriteGranularity64 = 0, .IdByteCount = 2}),
    Part({.Vendor = "ATMEL", .Name = "25DF081A", .ChipId = 0x0000451F, .SectorCount = 256, .Capacity = 1 * MiB, .WriteStatusRequired = 1, .IdByteCount = 2, .Aux0 = 0x3C}),
    Part({.Vendor = "ATMEL", .Name = "26DF161", .ChipId = 0x0000461F, .SectorCount = 512, .Capacity = 2 * MiB, .WriteStatusRequired = 1, .IdByteCount = 2, .Aux0 = 0x3C}),
    Part({.Vendor = "ATMEL", .Name = "26DF321", .ChipId = 0x0000471F, .SectorCount = 1024, .Capacity = 4 * MiB, .WriteStatusRequired = 1, .IdByteCount = 2, .Aux0 = 0x3C}),
    Part({.Vendor = "ATMEL", .Name = "25DF641", .ChipId = 0x0000481F, .SectorCount = 2048, .Capacity = 8 * MiB, .WriteStatusRequired = 1, .IdByteCount = 2, .Aux0 = 0x3C}),
    Part({.Vendor = "WINBOND", .Name = "W25Q64BV", .ChipId = 0x001740EF, .SectorCount = 2048, .Capacity = 8 * MiB, .FixedWriteStatusMethod = 1}),
    Part({.Vendor = "WINBOND", .Name = "W25Q64FW", .ChipId = 0x001760EF, .SectorCount = 2048, .Capacity = 8 * MiB, .Prefix1 = 0x50, .FixedWriteStatusMethod = 1}),
    Part({.Vendor = "WINBOND", .Name = "W25Q128FW", .ChipId = 0x001860EF, .SectorCount = 4096, .Capacity = 16 * MiB, .FixedWriteStatusMethod = 1}),
    Part({.Vendor = "WINBOND", .Name = "W25Q128BV", .ChipId = 0x001840EF, .SectorCount = 4096, .Capacity = 16 * MiB, .FixedWriteStatusMethod = 1}),
    Part({.Vendor = "MXIC", .Name = "25L8005", .ChipId = 0x001420C2, .SectorCount = 256, .Capacity = 1 * MiB, .WriteStatusRequired = 1, .Aux0 = 0x1C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25L1605A", .ChipId = 0x001520C2, .ScanKey = 0x001420C2, .SectorCount = 512, .Capacity = 2 * MiB, .WriteStatusRequired = 1, .Aux0 = 0x1C, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25L6405D", .ChipId = 0x001720C2, .SectorCount = 2048, .Capacity = 8 * MiB, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25L12805D", .ChipId = 0x001820C2, .SectorCount = 4096, .Capacity = 16 * MiB, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25L25635E", .ChipId = 0x001920C2, .SectorCount = 8192, .Capacity = 32 * MiB, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25U6435F", .ChipId = 0x003725C2, .SectorCount = 2048, .Capacity = 8 * MiB, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25L6436E", .ChipId = 0x001720C2, .SectorCount = 2048, .Capacity = 8 * MiB, .WriteStatusRequired = 1, .FixedWriteStatusMethod = 1, .Aux0 = 0x3C, .Aux1 = 0xC3, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MXIC", .Name = "25U12835F", .ChipId = 0x003825C2, .SectorCount = 4096, .Capacity = 16 * MiB, .FixedWriteStatusMethod = 1, .BlockProtect = BP0_TO_BP3}),
    Part({.Vendor = "MICRON", .Name = "N25Q128A", .ChipId = 0x0018BB20, .SectorCount = 4096, .Capacity = 16 * MiB, .FixedWriteStatusMethod = 1}),
    Part({.Vendor = "ST", .Name = "M25PE80", .ChipId = 0x00148020, .SectorCount = 256, .Capacity = 1 * MiB, .EraseOpcode = 0xDB, .EraseBlockSize = 256, .WriteStatusOpcode = 0x00, .Prefix1 = 0x00, .Option1 = 1, .Option2 = 1, .Aux2 = 0x01, .LastWord = 0x10000}),
    Part({.Vendor = "PMC", .Name = "25LV040", .ChipId = 0x00007E9D, .SectorCount = 128, .Capacity = 512 * KiB, .IdentifyOpcode = 0xAB, .EraseOpcode = 0xD7, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 2, .Aux0 = 0x1C}),
    Part({.Vendor = "GD", .Name = "25LQ16", .ChipId = 0x001560C8, .SectorCount = 512, .Capacity = 2 * MiB, .FixedWriteStatusMethod = 1, .Aux0 = 0x1C}),
    Part({.Vendor = "GD", .Name = "25LQ64C", .ChipId = 0x001760C8, .SectorCount = 2048, .Capacity = 8 * MiB, .FixedWriteStatusMethod = 1, .Aux0 = 0x1C}),
    Part({.Vendor = "NUMONYXN", .Name = "N25Q128A13", .ChipId = 0x0018BA20, .SectorUnits = 256, .SectorCount = 256, .Capacity = 16 * MiB, .EraseOpcode = 0xD8, .EraseBlockSize = FLASH_BLOCK_64K, .FixedWriteStatusMethod = 1, .Aux0 = 0x1C}),
    Part({.Vendor = "COMMONVID", .Name = "COMMONVID", .ChipId = FLASH_GENERIC_CHIP_ID, .SectorCount = 65535, .Capacity = 0xFFFFFFFF, .IdentifyOpcode = 0x00, .WriteStatusRequired = 1, .WriteGranularity64 = 0, .IdByteCount = 0, .BlockProtect = BP0_TO_BP3}),
};
// clang-format on
