// The part table scan, the controller set-up for the selected row and the BIOS
// window, on every chip the simulator can install.
#include "flash/part_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flash/hw_access.h"
#include "flash_rig.h"

namespace {

constexpr INT32 kGenericRow = 28;

// The LVSCC/UVSCC value the set-up writes for each row where firmware left no valid
// erase opcode: the erase opcode in the field of its erase size, marked valid (none
// for the 256-byte page erase of row 23), and WG, WSR and WEWS from the options,
// never WSR (0x08) and WEWS (0x10) together.
constexpr uint32_t kRowVscc[FLASH_PART_COUNT] = {
    0x10002008, 0x10002008, 0x10002008, 0x10002008, 0x10002008, 0x10002000, 0x1000200C, 0x1000200C,
    0x1000200C, 0x1000200C, 0x10002004, 0x10002004, 0x10002004, 0x10002004, 0x1000200C, 0x1000200C,
    0x10002014, 0x10002014, 0x10002014, 0x10002014, 0x1000200C, 0x10002004, 0x10002004, 0x00000014,
    0x1000D708, 0x10002004, 0x10002004, 0x20D80004, 0x10002008,
};

// A platform whose firmware left LVSCC and UVSCC open and without a valid erase
// opcode: the set-up must write them.
void ClearFirmwareVscc(SimPlatform *Platform) {
  SimMmioWrite(Platform, kFixedBar + kLvscc, 32, 0);
  SimMmioWrite(Platform, kFixedBar + kUvscc, 32, 0);
}

// The row DetectFlashPart must select for each simulator chip: the first row
// whose identification bytes the chip sends. 25L6436E answers like 25L6405D.
INT32 ExpectedRow(uint32_t ChipIndex) {
  std::string Name = SimChipAt(ChipIndex)->Name;
  if (Name == "unknown") return kGenericRow;
  if (Name == "25L6436E") return 16;
  return static_cast<INT32>(ChipIndex);
}

uint32_t ExpectedEraseBlock(INT32 Row) {
  if (Row == 23) return 256;
  if (Row == 27) return 65536;
  return 4096;
}

std::vector<uint32_t> WritesTo(const std::vector<SimEvent> &Trace, uint64_t Address) {
  std::vector<uint32_t> Values;
  for (const SimEvent &E : Trace) {
    if (IsWriteTo(E, Address)) Values.push_back(E.Value);
  }
  return Values;
}

TEST(DetectFlashPart, EachChipSelectsTheFirstMatchingRow) {
  for (uint32_t Chip = 0; Chip < SimChipCount(); Chip++) {
    const SimChipModel *Model = SimChipAt(Chip);
    SCOPED_TRACE(std::string(Model->Name) + " (chip " + std::to_string(Chip) + ")");
    FlashRig Rig([&](SimConfig &C) {
      C.ChipIndex = static_cast<int32_t>(Chip);
      C.VsccUnlocked = true;
    });
    ClearFirmwareVscc(Rig.Platform);
    Rig.Record();
    Rig.Prepare();
    std::vector<SimEvent> Trace = Rig.Take();

    INT32 Row = ExpectedRow(Chip);
    ASSERT_EQ(SelectedFlashPartIndex(), Row);
    if (Row == static_cast<INT32>(Chip) && Row != kGenericRow) {
      EXPECT_STREQ(SelectedFlashPartName(), Model->Name);
    }
    EXPECT_STREQ(SelectedFlashPartName(), FlashPartTable[Row].PartName);
    // Rows up to the selected one are identified; the generic row never is.
    EXPECT_EQ(Rig.Counters().HwCycles[SimCycleReadJedecId],
              static_cast<uint64_t>(Row == kGenericRow ? kGenericRow : Row + 1));
    EXPECT_EQ(WritesTo(Trace, kFixedBar + kLvscc).back(), kRowVscc[Row]);
    EXPECT_EQ(WritesTo(Trace, kFixedBar + kUvscc).back(), kRowVscc[Row]);

    EXPECT_EQ(BiosWindow.FlashSize, Model->Size);
    EXPECT_EQ(BiosWindow.FlashOffset, static_cast<INT64>(Model->Size) - 0x800000);
    EXPECT_EQ(BiosWindow.EraseBlockSize, ExpectedEraseBlock(Row));
    EXPECT_TRUE(BiosWindow.DescriptorMode);
    EXPECT_EQ(BiosWindow.WritableLow, 0u);
    EXPECT_EQ(BiosWindow.WritableHigh, Model->Size - 1u);
    EXPECT_EQ(Rig.Counters().AccessesToStaleBar, 0u);
  }
}

TEST(DetectFlashPart, AnUnknownChipTriesEveryRowInOrder) {
  FlashRig Rig([](SimConfig &C) {
    C.ChipIndex = ChipNamed("unknown");
    C.VsccUnlocked = true;
  });
  ClearFirmwareVscc(Rig.Platform);
  Rig.Record();
  Rig.Prepare();
  std::vector<SimEvent> Trace = Rig.Take();
  // LVSCC/UVSCC are written once, for the row selected, not for each row tried.
  std::vector<uint32_t> Expected = {kRowVscc[kGenericRow]};
  EXPECT_EQ(WritesTo(Trace, kFixedBar + kLvscc), Expected);
  EXPECT_EQ(WritesTo(Trace, kFixedBar + kUvscc), Expected);
  // Opcode menus as the table gives them, little-endian: rows 0, 23, 24 and the generic row.
  std::vector<uint32_t> Low = WritesTo(Trace, kFixedBar + 0xA8);
  std::vector<uint32_t> High = WritesTo(Trace, kFixedBar + 0xAC);
  std::vector<uint32_t> Types = WritesTo(Trace, kFixedBar + 0xA6);
  std::vector<uint32_t> Prefix = WritesTo(Trace, kFixedBar + 0xA4);
  ASSERT_EQ(Low.size(), 29u);
  ASSERT_EQ(Prefix.size(), 29u);
  EXPECT_EQ(Low[0], 0x01022090u);
  EXPECT_EQ(High[0], 0x00000503u);
  EXPECT_EQ(Types[0], 0xF27Eu);
  EXPECT_EQ(Prefix[0], 0x5006u);
  EXPECT_EQ(Low[5], 0x0002209Fu);
  EXPECT_EQ(Prefix[5], 0x0000u);
  EXPECT_EQ(Low[23], 0x0002DB9Fu);
  EXPECT_EQ(Prefix[23], 0x0006u);
  EXPECT_EQ(Low[24], 0x0102D7ABu);
  EXPECT_EQ(Low[28], 0x01022000u);
  EXPECT_EQ(Types[28], 0xF27Cu);
  EXPECT_EQ(Prefix[28], 0x0606u);
  // Identification byte counts: two-byte rows read two, three-byte rows three.
  std::vector<HwCycle> Cycles = HwCyclesIn(Trace, kFixedBar);
  ASSERT_EQ(Cycles.size(), 28u);
  EXPECT_EQ(Cycles[0].Bytes, 2u);
  EXPECT_EQ(Cycles[3].Bytes, 3u);
  EXPECT_EQ(Cycles[24].Bytes, 2u);
  EXPECT_EQ(Cycles[27].Bytes, 3u);

  EXPECT_EQ(SelectedFlashPartIndex(), kGenericRow);
  EXPECT_STREQ(SelectedFlashVendorName(), "COMMONVID");
  EXPECT_EQ(BiosWindow.EraseBlockSize, 4096u);
  EXPECT_EQ(BiosWindow.FlashSize, 16 * kMiB);  // from the descriptor
}

TEST(DetectFlashPart, TwoComponentsIdentifyEachChipAtItsOwnChipSelect) {
  // Every chip in component 0, paired with another kind (and size) in component 1.
  for (uint32_t Chip = 0; Chip < SimChipCount(); Chip++) {
    uint32_t Other = (Chip + 7) % SimChipCount();
    const SimChipModel *Model = SimChipAt(Chip);
    const SimChipModel *Model2 = SimChipAt(Other);
    SCOPED_TRACE(std::string(Model->Name) + " + " + Model2->Name);
    FlashRig Rig([&](SimConfig &C) {
      C.ChipIndex = static_cast<int32_t>(Chip);
      C.Chip2Index = static_cast<int32_t>(Other);
      C.Components = 2;
      C.VsccUnlocked = true;
    });
    ClearFirmwareVscc(Rig.Platform);
    Rig.Record();
    Rig.Prepare();
    std::vector<SimEvent> Trace = Rig.Take();
    INT32 Row = ExpectedRow(Chip);
    INT32 Row2 = ExpectedRow(Other);
    EXPECT_EQ(SelectedFlashPartIndex(), Row);
    EXPECT_EQ(SelectedFlashPartIndexIn(0), Row);
    EXPECT_EQ(SelectedFlashPartIndexIn(1), Row2);
    // Component 0's identification cycles at address 0, component 1's at its base.
    size_t Tried = static_cast<size_t>(Row == kGenericRow ? kGenericRow : Row + 1);
    size_t Tried2 = static_cast<size_t>(Row2 == kGenericRow ? kGenericRow : Row2 + 1);
    std::vector<HwCycle> Cycles = HwCyclesIn(Trace, kFixedBar);
    ASSERT_EQ(Cycles.size(), Tried + Tried2);
    EXPECT_EQ(Cycles[0].Address, 0u);
    EXPECT_EQ(Cycles.back().Address, Model->Size);
    // Each VSCC is written once, for its own component's part.
    EXPECT_EQ(WritesTo(Trace, kFixedBar + kLvscc), std::vector<uint32_t>{kRowVscc[Row]});
    EXPECT_EQ(WritesTo(Trace, kFixedBar + kUvscc), std::vector<uint32_t>{kRowVscc[Row2]});
    EXPECT_EQ(BiosWindow.FlashSize, Model->Size + Model2->Size);
    EXPECT_EQ(BiosWindow.FlashOffset, static_cast<INT64>(Model->Size + Model2->Size) - 0x800000);
    EXPECT_EQ(BiosWindow.EraseBlockSize, ExpectedEraseBlock(Row));
  }
}

TEST(DetectFlashPart, WithoutADescriptorTheGenericRowKeepsItsGuessedSize) {
  FlashRig Rig([](SimConfig &C) {
    C.ChipIndex = ChipNamed("W25Q64BV");
    C.NoDescriptor = true;
  });
  Rig.Prepare();
  EXPECT_EQ(SelectedFlashPartIndex(), kGenericRow);
  EXPECT_FALSE(BiosWindow.DescriptorMode);
  EXPECT_EQ(BiosWindow.FlashOffset, 0);
  EXPECT_EQ(BiosWindow.FlashSize, 0xFFFF000u);
  EXPECT_EQ(BiosWindow.WritableLow, 0u);
  EXPECT_EQ(BiosWindow.WritableHigh, 0xFFFEFFFu);
}

TEST(DetectFlashPart, LockedDescriptorLimitsWritingToTheBiosRegion) {
  FlashRig Rig([](SimConfig &C) { C.LockedDescriptor = true; });
  Rig.Prepare();
  EXPECT_EQ(SelectedFlashPartIndex(), 13);
  EXPECT_EQ(BiosWindow.WritableLow, 0x800000u);
  EXPECT_EQ(BiosWindow.WritableHigh, 0xFFFFFFu);
}

TEST(DetectFlashPart, InvalidDensityCodeRejectsEveryRow) {
  FlashRig Rig({}, [](std::vector<uint8_t> &Image) {
    uint32_t Fcba = (Get32(Image, 0x14) & 0xFF) << 4;
    Put32(Image, Fcba, (Get32(Image, Fcba) & ~0xFu) | 0x8);
  });
  Rig.Prepare();
  EXPECT_EQ(SelectedFlashPartIndex(), -1);
  EXPECT_EQ(SelectedFlashPartName(), nullptr);
  EXPECT_TRUE(BiosWindow.DescriptorMode);
  EXPECT_EQ(BiosWindow.WritableLow, 0u);
  EXPECT_EQ(BiosWindow.WritableHigh, 0u);
  EXPECT_EQ(BiosWindow.FlashOffset, 0x800000);  // the BIOS region still ends at 16 MiB
}

TEST(BiosWindowInit, WindowOfOneSixteenMiBComponent) {
  FlashRig Rig;
  SpiControllerInit();
  EXPECT_EQ(BiosWindowInit(), EFI_SUCCESS);
  EXPECT_EQ(BiosWindow.Base, 0xFF800000u);
  EXPECT_EQ(BiosWindow.Size, 0x800000u);
  EXPECT_EQ(SpiDecodingBar(), kFixedBar);
  EXPECT_EQ(BiosWindow.FlashOffset, 0x800000);
  UINT8 Count = 0;
  EXPECT_EQ(GetFlashComponentCount(&Count), EFI_SUCCESS);
  EXPECT_EQ(Count, 1);
}

TEST(BiosWindowInit, WithoutADescriptorTheOffsetStaysZero) {
  FlashRig Rig([](SimConfig &C) { C.NoDescriptor = true; });
  SpiControllerInit();
  BiosWindowInit();
  EXPECT_EQ(BiosWindow.FlashOffset, 0);
  UINT8 Count = 0x55;
  EXPECT_EQ(GetFlashComponentCount(&Count), EFI_UNSUPPORTED);
  EXPECT_EQ(Count, 0x55);
}

TEST(DetectFlashPart, WithoutAControllerBaseNothingIsWritten) {
  for (auto Adjust : std::vector<std::function<void(SimConfig &)>>{
           [](SimConfig &C) { C.NoSpi = true; }, [](SimConfig &C) { C.Bar0 = 0; }}) {
    FlashRig Rig(Adjust);
    Rig.Record();
    Rig.Prepare();
    for (const SimEvent &E : Rig.Take()) {
      EXPECT_FALSE(E.Kind == SimEventMemoryWrite || IsPort(E)) << std::hex << E.Address;
      EXPECT_FALSE(IsMemory(E) && (E.Address < kEcamBase || E.Address >= kEcamEnd))
          << std::hex << E.Address;
    }
    EXPECT_EQ(SelectedFlashPartIndex(), -1);
  }
}

// BAR0 decodes elsewhere at start-up: identification and set-up use it there.
TEST(DetectFlashPart, UsesTheControllerWhereBar0Decodes) {
  FlashRig Rig([](SimConfig &C) { C.Bar0 = 0xFD000000; });
  Rig.Prepare();
  EXPECT_EQ(SelectedFlashPartIndex(), 13);
  EXPECT_EQ(SpiDecodingBar(), 0xFD000000u);
  EXPECT_EQ(SimPeekBar0(Rig.Platform), 0xFD000000u);
  EXPECT_EQ(Rig.Counters().AccessesToStaleBar, 0u);
}

}  // namespace
