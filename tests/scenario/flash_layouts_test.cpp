// Boards whose flash is laid out otherwise than one 16 MiB chip with firmware's own
// capabilities: a BIOS region that does not end at the top of the flash or is
// smaller than the window, two chips (equal or not), a 32 MiB chip, component
// capabilities that differ, and chips whose status register holds bits that
// protect nothing. For each, "-r" saves the 8 MiB that end at the top of the BIOS
// region and a three-block "-w" rewrites exactly those blocks, or either is
// refused with nothing changed.
#include "flash/part_table.h"
#include "scenario/scenario_support.h"

namespace {

const std::string ReadDone =
    "Now start read SPI, wait a minute...\r\nRead SPI is Success.\r\nSave to file is Success.\r\n";
const std::string WriteStart = "Flash BIOS Size : 0x800000\r\nProgramming starting ";
const std::string ThreeBlocksDone =
    "... completed.\r\n3 of 128 blocks rewritten and read back.\r\nSystem reset...\r\n";

std::string Refused(const std::string &Reason) {
  return "\r\nError. The flash cannot be written on this platform: " + Reason +
         ". Nothing was changed.\r\n";
}

int32_t Chip(const char *Name) { return SimFindChipByName(Name); }

// Window offsets of the three blocks the image changes: the bottom, the block
// below the middle and the top of the window.
constexpr uint32_t ChangedOffsets[] = {0x0, 0x3F0000, 0x7F0000};

// Where the chipset maps the window: the 8 MiB that end where the BIOS region ends.
uint32_t WindowStart(const SimConfig &Config, uint32_t FlashSize) {
  return (Config.BiosRegionGiven ? Config.BiosRegion.Limit + 1 : FlashSize) - WindowSize;
}

void BiosRegion(SimConfig &C, uint32_t Base, uint32_t Limit) {
  C.BiosRegionGiven = true;
  C.BiosRegion = {Base, Limit};
}

// Host reads regions 0-3, writes 1 and 3, as production boards ship.
void Production(SimConfig &C) { C.LockedDescriptor = true; }

TEST(FlashLayouts, ReadAndThreeBlockWriteOnEachLayout) {
  struct Case {
    const char *What;
    void (*Adjust)(SimConfig &);
    const char *Part0;  // the part names the scan selects for each component
    const char *Part1;  // null: one component
    std::string WriteOutcome;
    std::string ReadOutcome = ReadDone;
    EFI_STATUS Refusal = EFI_WRITE_PROTECTED;  // of a read or write that is refused
  };
  const Case Cases[] = {
      {"one chip", [](SimConfig &) {}, "W25Q128BV", nullptr, ThreeBlocksDone},
      // Platform data above the BIOS region: the window is the BIOS region's top.
      {"BIOS region ending 4 MiB below the top",
       [](SimConfig &C) { BiosRegion(C, 0x400000, 0xBFFFFF); }, "W25Q128BV", nullptr,
       ThreeBlocksDone},
      {"BIOS region ending 4 MiB below the top, production descriptor",
       [](SimConfig &C) {
         BiosRegion(C, 0x400000, 0xBFFFFF);
         Production(C);
       },
       "W25Q128BV", nullptr, ThreeBlocksDone},
      // 4 MiB of BIOS: the window's lower half is the ME region's top.
      {"BIOS region of 4 MiB", [](SimConfig &C) { BiosRegion(C, 0xC00000, 0xFFFFFF); }, "W25Q128BV",
       nullptr, ThreeBlocksDone},
      {"BIOS region of 4 MiB, production descriptor",
       [](SimConfig &C) {
         BiosRegion(C, 0xC00000, 0xFFFFFF);
         Production(C);
       },
       "W25Q128BV", nullptr,
       "\r\nError. Flash is write-protected at 0xFF800000 (flash 0x800000, ME). Nothing was "
       "changed.\r\n"},
      // The window reaches into the platform-data region, which the host may not read.
      {"BIOS region of 4 MiB over platform data, production descriptor",
       [](SimConfig &C) {
         BiosRegion(C, 0xC00000, 0xFFFFFF);
         C.Region[2] = {0x1000, 0x7FFFFF};
         C.Region[4] = {0x800000, 0xBFFFFF};
         C.RegionsGiven = 1u << 2 | 1u << 4;
         Production(C);
       },
       "W25Q128BV", nullptr,
       "\r\nError. The flash could not be read (Access Denied). Nothing was changed.\r\n",
       "Now start read SPI, wait a minute...\r\nRead SPI is Access Denied.\r\nError. The BIOS "
       "window reaches into flash region 4 at 0x800000, which this board does not let software "
       "read; no file was saved.\r\n",
       EFI_ACCESS_DENIED},
      {"32 MiB chip, BIOS region ending 8 MiB below the top",
       [](SimConfig &C) {
         C.ChipIndex = Chip("25L25635E");
         BiosRegion(C, 0x800000, 0x17FFFFF);
       },
       "25L25635E", nullptr, ThreeBlocksDone},
      {"two equal chips",
       [](SimConfig &C) {
         C.ChipIndex = Chip("W25Q64BV");
         C.Components = 2;
       },
       "W25Q64BV", "W25Q64BV", ThreeBlocksDone},
      // 16 MiB + 4 MiB: the window reaches across the chip boundary.
      {"two different chips",
       [](SimConfig &C) {
         C.Components = 2;
         C.Chip2Index = Chip("26DF321");
       },
       "W25Q128BV", "26DF321", ThreeBlocksDone},
      {"a 32 MiB chip", [](SimConfig &C) { C.ChipIndex = Chip("25L25635E"); }, "25L25635E", nullptr,
       ThreeBlocksDone},
      // One chip: UVSCC describes no chip. The 64 KiB erase it offers is not valid
      // for the chip LVSCC describes, and the controller refuses it there.
      {"LVSCC 4 KiB only, UVSCC 64 KiB",
       [](SimConfig &C) {
         C.LvsccGiven = true;
         C.Lvscc = 0x5000200C;
         C.UvsccGiven = true;
         C.Uvscc = 0x30D8200C;
       },
       "W25Q128BV", nullptr, ThreeBlocksDone},
      {"one chip, UVSCC without erase opcodes",
       [](SimConfig &C) {
         C.UvsccGiven = true;
         C.Uvscc = 0;
       },
       "W25Q128BV", nullptr, ThreeBlocksDone},
      // Two chips: component 1 is only erasable by the 4 KiB opcode of its own UVSCC.
      {"two chips, UVSCC 4 KiB only",
       [](SimConfig &C) {
         C.ChipIndex = Chip("W25Q64BV");
         C.Components = 2;
         C.UvsccGiven = true;
         C.Uvscc = 0x10002004;
       },
       "W25Q64BV", "W25Q64BV", ThreeBlocksDone},
      {"status 0x80 (SRWD alone)", [](SimConfig &C) { C.ChipStatus = 0x80; }, "W25Q128BV", nullptr,
       ThreeBlocksDone},
      {"status 0x20 (TB alone)", [](SimConfig &C) { C.ChipStatus = 0x20; }, "W25Q128BV", nullptr,
       ThreeBlocksDone},
      {"status 0x1C (BP0..BP2)", [](SimConfig &C) { C.ChipStatus = 0x1C; }, "W25Q128BV", nullptr,
       Refused("the flash chip is write-protected (status 0x1C)")},
      // BP3 is a block-protect bit on a Macronix part, TB on a Winbond one.
      {"Macronix status 0x20 (BP3)",
       [](SimConfig &C) {
         C.ChipIndex = Chip("25L12805D");
         C.ChipStatus = 0x20;
       },
       "25L12805D", nullptr, Refused("the flash chip is write-protected (status 0x20)")},
      {"second chip protected",
       [](SimConfig &C) {
         C.Components = 2;
         C.Chip2Index = Chip("W25Q64BV");
         C.ChipStatus = 0x04;
       },
       "W25Q128BV", "W25Q64BV", Refused("the flash chip is write-protected (status 0x04)")},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    SimConfig Config = DefaultSimConfig();
    C.Adjust(Config);
    Scenario Board(Config);
    const Bytes Before = Board.Flash();
    const uint32_t FlashSize = static_cast<uint32_t>(Before.size());

    const uint32_t Start = WindowStart(Config, FlashSize);
    const Bytes Window(Before.begin() + Start, Before.begin() + Start + WindowSize);

    AppRun Read = Board.Run({"-r", "backup.bin"});
    EXPECT_EQ(Read.Console, C.ReadOutcome);
    if (C.ReadOutcome == ReadDone) {
      EXPECT_TRUE(Board.GetFile("backup.bin") == Window);
    } else {
      EXPECT_EQ(Read.Status, C.Refusal);
      EXPECT_FALSE(Board.Exists("backup.bin"));
    }
    ExpectCleanReturn(Read);
    EXPECT_STREQ(FlashPartTable[SelectedFlashPartIndexIn(0)].PartName, C.Part0);
    if (C.Part1 == nullptr) {
      EXPECT_EQ(SelectedFlashPartIndexIn(1), -1);
    } else {
      ASSERT_GE(SelectedFlashPartIndexIn(1), 0);
      EXPECT_STREQ(FlashPartTable[SelectedFlashPartIndexIn(1)].PartName, C.Part1);
    }

    Bytes Image = Window;
    for (uint32_t Offset : ChangedOffsets) Image[Offset + 0x1234] ^= 0xA5;
    Board.PutFile("image.bin", Image);
    AppRun Write = Board.Run({"-w", "image.bin"});
    EXPECT_EQ(Write.Console, WriteStart + C.WriteOutcome);
    EXPECT_EQ(Board.Counters().HwCyclesFailed, 0u);
    if (C.WriteOutcome != ThreeBlocksDone) {
      EXPECT_EQ(Write.Status, C.Refusal);
      EXPECT_EQ(Board.Reset(), SimResetNone);
      EXPECT_TRUE(Board.Erased().empty());
      EXPECT_TRUE(Board.Flash() == Before);
      ExpectCleanReturn(Write);
      continue;
    }
    EXPECT_EQ(Board.Reset(), SimResetHard);
    std::vector<uint32_t> Expected;
    for (uint32_t Offset : ChangedOffsets) Expected.push_back((Start + Offset) / Block);
    EXPECT_EQ(Board.ErasedBlocks(), Expected);
    Bytes After = Before;
    std::copy(Image.begin(), Image.end(), After.begin() + Start);
    EXPECT_TRUE(Board.Flash() == After);
  }
}

}  // namespace
