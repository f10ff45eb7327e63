// "-w FILE": the image compared with the flash in 64 KiB blocks, only differing
// blocks erased and programmed, then the platform reset; and every refusal.
#include <cstdio>

#include "scenario/scenario_support.h"

namespace {

const std::string Size16 = "Flash BIOS Size : 0x1000000\r\n";
const std::string Completed = " completed.\r\n";
const std::string Resetting = "System reset...\r\n";
const std::string NothingWasChanged = "Nothing was changed.\r\n";

// The end of a completed run: its dots, the account of the blocks, the reset.
std::string Finished(size_t Rewritten, size_t Blocks = WindowSize / Block) {
  return std::string(Rewritten, '.') + Completed + std::to_string(Rewritten) + " of " +
         std::to_string(Blocks) + " blocks rewritten and read back.\r\n" + Resetting;
}

std::string RewrittenBeforeTheFailure(size_t Rewritten, size_t Differing) {
  return std::to_string(Rewritten) + " of the " + std::to_string(Differing) +
         " differing blocks rewritten before the failure.\r\n";
}

// Flash-linear block numbers of window offsets (the window is the top 8 MiB).
uint32_t WindowBlock(uint32_t Offset) { return (WholeFlashSize - WindowSize + Offset) / Block; }

Bytes Flipped(Bytes Image, std::initializer_list<uint32_t> Offsets) {
  for (uint32_t Offset : Offsets) {
    Image[Offset] ^= 0x5A;
  }
  return Image;
}

TEST(WriteCommand, TypicalRunRewritesTheOneBlockThatDiffersAndResets) {
  Scenario Board;
  Bytes Image = Flipped(Board.Window(), {0x12345});
  Board.PutFile("image.bin", Image);
  AppRun Run = Board.Run({"-w", "image.bin"});
  EXPECT_EQ(Run.Console, Size8 + Starting + Finished(1));
  EXPECT_EQ(Run.Status, EFI_SUCCESS);
  EXPECT_EQ(Board.Reset(), SimResetHard);
  EXPECT_EQ(Board.Counters().AccessesAfterReset, 0u);
  EXPECT_EQ(Board.ErasedBlocks(), std::vector<uint32_t>{WindowBlock(0x10000)});
  EXPECT_TRUE(Board.Window() == Image);
  ExpectCleanReturn(Run);
}

TEST(WriteCommand, OnlyDifferingBlocksAreTouched) {
  struct Case {
    const char *What;
    std::vector<uint32_t> Changes;
    std::vector<uint32_t> Blocks;  // window offsets of the blocks rewritten
  };
  const Case Cases[] = {
      {"identical image", {}, {}},
      {"three bytes in three blocks", {0x0, 0x3FFFFF, 0x7FFFFF}, {0x0, 0x3F0000, 0x7F0000}},
      {"two bytes in one block", {0x20000, 0x2FFFF}, {0x20000}},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    Bytes Image = Board.Window();
    for (uint32_t Offset : C.Changes) {
      Image[Offset] ^= 0xFF;
    }
    Board.PutFile("image.bin", Image);
    AppRun Run = Board.Run({"-w", "image.bin"});
    EXPECT_EQ(Run.Console, Size8 + Starting + Finished(C.Blocks.size())) << C.What;
    std::vector<uint32_t> Expected;
    for (uint32_t Offset : C.Blocks) {
      Expected.push_back(WindowBlock(Offset));
    }
    EXPECT_EQ(Board.ErasedBlocks(), Expected) << C.What;
    EXPECT_TRUE(Board.Window() == Image) << C.What;
    EXPECT_EQ(Board.Reset(), SimResetHard) << C.What;
    ExpectCleanReturn(Run);
  }
}

// Every refusal before the first erase: the run returns to the shell with the
// refusal's status and says so; no reset throws the message off the screen, and
// the flash is as it was.
TEST(WriteCommand, EveryRefusalBeforeTheFirstEraseReturnsWithNothingChanged) {
  enum FileKind { NoFile, Directory, Zeros, ChangedWindow, ChangedWholeFlash, NoResetVector };
  struct Case {
    const char *What;
    FileKind File;
    uint32_t FileBytes;  // for Zeros
    std::vector<FileFault> Faults;
    std::string Console;
    EFI_STATUS Expected;
    void (*Platform)(SimConfig &) = nullptr;
    void (*Firmware)(HostFirmwareConfig &) = nullptr;
  };
  const Case Cases[] = {
      {"missing file", NoFile, 0, {}, Size8 + "File 'image.bin' is Not Found.\r\n", EFI_NOT_FOUND},
      {"directory",
       Directory,
       0,
       {},
       Size8 + "File 'image.bin' is Unsupported.\r\n",
       EFI_UNSUPPORTED},
      {"open fails",
       Zeros,
       WindowSize,
       {{ShellFileOp::Open, EFI_ACCESS_DENIED}},
       Size8 + "File 'image.bin' is Access Denied.\r\n",
       EFI_ACCESS_DENIED},
      {"12 MiB file",
       Zeros,
       0xC00000,
       {},
       Size8 + "Error. The image is 12582912 bytes; this board takes 8388608 (the BIOS window) or "
               "16777216 (the whole flash). ",
       EFI_BAD_BUFFER_SIZE},
      {"size unknown",
       Zeros,
       WholeFlashSize,
       {{ShellFileOp::Size, EFI_DEVICE_ERROR}},
       Size8 + "File 'image.bin' is Device Error.\r\n",
       EFI_DEVICE_ERROR},
      {"read fails",
       Zeros,
       WindowSize,
       {{ShellFileOp::Read, EFI_DEVICE_ERROR}},
       Size8 + "File 'image.bin' is Device Error.\r\n",
       EFI_DEVICE_ERROR},
      {"whole-flash image, firmware without the preparation",
       ChangedWholeFlash,
       0,
       {},
       "Error. This firmware offers no whole-flash update (Not Found). ",
       EFI_NOT_FOUND,
       nullptr,
       [](HostFirmwareConfig &F) { F.FullFlashPreparePresent = false; }},
      {"whole-flash image, the preparation fails",
       ChangedWholeFlash,
       0,
       {},
       Size16 + "Error. This firmware offers no whole-flash update (Device Error). ",
       EFI_DEVICE_ERROR,
       nullptr,
       [](HostFirmwareConfig &F) { F.FullFlashPrepareStatus = EFI_DEVICE_ERROR; }},
      {"flash unreadable",
       ChangedWindow,
       0,
       {},
       Size8 + Starting + "\r\nError. The flash could not be read (Access Denied). ",
       EFI_ACCESS_DENIED,
       [](SimConfig &C) {
         C.ProtectRead[0] = {0x900000, 0x900FFF};
         C.ProtectReadCount = 1;
       }},
      {"no reset vector",
       NoResetVector,
       0,
       {},
       Size8 + Starting + "\r\nError. The image has no reset vector in its last 16 bytes. ",
       EFI_INVALID_PARAMETER},
      {"EISS",
       ChangedWindow,
       0,
       {},
       Size8 + Starting +
           "\r\nError. The flash cannot be written on this platform: BIOS writes are limited to "
           "SMM (EISS). ",
       EFI_WRITE_PROTECTED,
       [](SimConfig &C) { C.Eiss = true; }},
      {"protected range",
       ChangedWindow,
       0,
       {},
       Size8 + Starting +
           "\r\nError. Flash is write-protected at 0xFF900000 (flash 0x900000, PR0). ",
       EFI_WRITE_PROTECTED,
       [](SimConfig &C) {
         C.Protect[0] = {0x900000, 0x900FFF};
         C.ProtectCount = 1;
       }},
  };
  for (const Case &C : Cases) {
    SimConfig Platform = DefaultSimConfig();
    if (C.Platform != nullptr) {
      C.Platform(Platform);
    }
    Scenario Board(Platform);
    Bytes Before = Board.Flash();
    switch (C.File) {
      case NoFile:
        break;
      case Directory:
        std::filesystem::create_directory(Board.PathOf("image.bin"));
        break;
      case Zeros:
        Board.PutFile("image.bin", Bytes(C.FileBytes, 0x00));  // all blocks would differ
        break;
      case ChangedWindow:
        Board.PutFile("image.bin", Flipped(Board.Window(), {0x100000, 0x7FFFFF}));
        break;
      case ChangedWholeFlash:
        Board.PutFile("image.bin", Flipped(Before, {0x900000}));
        break;
      case NoResetVector: {
        Bytes Image = Board.Window();
        std::fill(Image.end() - 16, Image.end(), 0xFF);
        Board.PutFile("image.bin", Image);
        break;
      }
    }
    HostFirmwareConfig Config;
    Config.FileFaults = C.Faults;
    if (C.Firmware != nullptr) {
      C.Firmware(Config);
    }
    AppRun Run = Board.Run({"-w", "image.bin"}, Config);
    // The sentence ends the refusal's line, or follows the message on a line of its own.
    EXPECT_EQ(Run.Console, C.Console + NothingWasChanged) << C.What;
    EXPECT_EQ(Run.Status, C.Expected) << C.What;
    if (C.File == Directory) {
      EXPECT_EQ(Run.Firmware->CallCount("ReadFile"), 0u) << "a directory is never read";
    }
    EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
    EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u) << C.What;
    EXPECT_TRUE(Board.Flash() == Before) << C.What;
    ExpectCleanReturn(Run);
  }
}

// The comparison read decides which blocks are rewritten: a piece that fails is
// read once more, and a flash that still cannot be read is not written at all,
// whole-flash images included (both halves are read).
TEST(WriteCommand, ComparisonReadIsRetriedOnceThenTheWriteIsRefused) {
  struct Case {
    const char *What;
    SimRange Unreadable;  // flash-linear, read-protected; Limit 0: none
    uint32_t FailCycle;
    uint32_t ImageBytes;
    std::string Outcome;  // after "Programming starting "
  };
  // The controller refuses a read-protected range with AEL: Access Denied.
  const std::string Refused =
      "\r\nError. The flash could not be read (Access Denied). Nothing was changed.\r\n";
  const Case Cases[] = {
      {"one failed cycle", {0, 0}, 20, WindowSize, Finished(3)},
      {"read-protected block", {0x900000, 0x900FFF}, 0, WindowSize, Refused},
      {"whole-flash image, lower half unreadable",
       {0x100000, 0x100FFF},
       0,
       WholeFlashSize,
       Refused},
  };
  for (const Case &C : Cases) {
    SimConfig Config = DefaultSimConfig();
    Config.FailCycle = C.FailCycle;
    if (C.Unreadable.Limit != 0) {
      Config.ProtectRead[0] = C.Unreadable;
      Config.ProtectReadCount = 1;
    }
    Scenario Board(Config);
    Bytes Before = Board.Flash();
    const bool WholeFlash = C.ImageBytes == WholeFlashSize;
    Bytes Image = WholeFlash ? Flipped(Before, {0x900000, 0xC00000, 0xFFFFFF})
                             : Flipped(Board.Window(), {0x100000, 0x400000, 0x7FFFFF});
    Image.resize(C.ImageBytes);
    Board.PutFile("image.bin", Image);
    AppRun Run = Board.Run({"-w", "image.bin"});
    EXPECT_EQ(Run.Console, (WholeFlash ? Size16 : Size8) + Starting + C.Outcome) << C.What;
    if (C.Outcome == Refused) {
      EXPECT_EQ(Run.Status, EFI_ACCESS_DENIED) << C.What;
      EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u) << C.What;
      EXPECT_TRUE(Board.Flash() == Before) << C.What;
    } else {
      EXPECT_EQ(Board.Counters().HwCyclesFailed, 1u) << C.What;
      EXPECT_EQ(Board.ErasedBlocks().size(), 3u) << C.What;
      EXPECT_TRUE(Board.Window() == Image) << C.What;
    }
    ExpectCleanReturn(Run);
  }
}

// Checks of the image itself, on the whole plan before the first erase. The
// descriptor is in reach when the window is the whole flash (an 8 MiB chip) or
// with a whole-flash image.
TEST(WriteCommand, ImagesThatWouldNotBootAreRefusedBeforeTheFirstErase) {
  const std::string NoDescriptor =
      "\r\nError. The image would overwrite the flash descriptor with data that is not a "
      "descriptor. Nothing was changed.\r\n";
  const std::string NoResetVector =
      "\r\nError. The image has no reset vector in its last 16 bytes. Nothing was changed.\r\n";
  SimConfig Chip8 = DefaultSimConfig();
  Chip8.ChipIndex = SimFindChipByName("W25Q64BV");
  struct Case {
    const char *What;
    SimConfig Platform;
    Bytes (*Make)(const Bytes &Flash);  // the file from the whole flash
    std::vector<FileFault> Faults;
    std::string Refusal;  // empty: the write completes
  };
  const Case Cases[] = {
      {"8 MiB over the descriptor, signature broken",
       Chip8,
       [](const Bytes &Flash) { return Flipped(Flash, {0x10}); },
       {},
       NoDescriptor},
      {"8 MiB over the descriptor, signature kept",
       Chip8,
       [](const Bytes &Flash) { return Flipped(Flash, {0x2000}); },
       {},
       ""},
      {"whole-flash image with an erased descriptor",
       DefaultSimConfig(),
       [](const Bytes &Flash) {
         Bytes Image = Flipped(Flash, {0x900000});
         std::fill(Image.begin(), Image.begin() + 0x1000, 0xFF);
         return Image;
       },
       {},
       NoDescriptor},
      {"reset vector erased",
       DefaultSimConfig(),
       [](const Bytes &Flash) {
         Bytes Image(Flash.end() - WindowSize, Flash.end());
         std::fill(Image.end() - 16, Image.end(), 0xFF);
         return Image;
       },
       {},
       NoResetVector},
      {"reset vector zeroed",
       DefaultSimConfig(),
       [](const Bytes &Flash) {
         Bytes Image(Flash.end() - WindowSize, Flash.end());
         std::fill(Image.end() - 16, Image.end(), 0x00);
         return Image;
       },
       {},
       NoResetVector},
      {"file read that reported success and read nothing",
       DefaultSimConfig(),
       [](const Bytes &Flash) { return Bytes(Flash.end() - WindowSize, Flash.end()); },
       {{ShellFileOp::Read, EFI_SUCCESS}},
       NoResetVector},
  };
  for (const Case &C : Cases) {
    Scenario Board(C.Platform);
    Bytes Before = Board.Flash();
    Bytes Image = C.Make(Before);
    Board.PutFile("image.bin", Image);
    HostFirmwareConfig Config;
    Config.FileFaults = C.Faults;
    AppRun Run = Board.Run({"-w", "image.bin"}, Config);
    const std::string &Size = Image.size() == WholeFlashSize ? Size16 : Size8;
    if (C.Refusal.empty()) {
      EXPECT_EQ(Run.Console, Size + Starting + Finished(1)) << C.What;
      EXPECT_TRUE(Board.Flash() == Image) << C.What;
      continue;
    }
    EXPECT_EQ(Run.Console, Size + Starting + C.Refusal) << C.What;
    EXPECT_EQ(Run.Status, EFI_INVALID_PARAMETER) << C.What;
    EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
    EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u) << C.What;
    EXPECT_TRUE(Board.Flash() == Before) << C.What;
    ExpectCleanReturn(Run);
  }
}

// The plan is checked against every protected-range register before the first
// erase: a range in any of PR0..PR4 that covers part of a block to rewrite refuses
// the whole run, and a protected block that does not differ is no obstacle.
TEST(WriteCommand, ProtectedRangesInThePlanStopTheRunBeforeTheFirstErase) {
  // Ranges that protect nothing the image changes, to push the one under test
  // into a later register.
  const SimRange Elsewhere[] = {
      {0x100000, 0x100FFF}, {0x200000, 0x200FFF}, {0x300000, 0x300FFF}, {0x400000, 0x400FFF}};
  const SimRange OverBlock = {0xC04000, 0xC04FFF};  // 4 KiB inside window block 0x400000
  struct Case {
    const char *What;
    uint32_t Register;              // PRn holding OverBlock; 5: GPR0, with PR0..PR4 elsewhere
    std::vector<uint32_t> Changes;  // window offsets
    bool Refused;                   // at the block's BIOS address 0xFFC00000, flash 0xC00000
  };
  const Case Cases[] = {
      {"PR0", 0, {0x100000, 0x400010, 0x500000}, true},
      {"PR1", 1, {0x100000, 0x400010, 0x500000}, true},
      {"PR2", 2, {0x100000, 0x400010, 0x500000}, true},
      {"PR3", 3, {0x400010}, true},
      {"PR4", 4, {0x7FFFFF, 0x400010}, true},
      {"GPR0", 5, {0x100000, 0x400010}, true},
      {"protected block unchanged", 4, {0x100000, 0x7FFFFF}, false},
  };
  for (const Case &C : Cases) {
    SimConfig Config = DefaultSimConfig();
    for (uint32_t I = 0; I < C.Register && I < SIM_MAX_PROTECTED_RANGES; I++) {
      Config.Protect[I] = I < 4 ? Elsewhere[I] : SimRange{0x000000, 0x000FFF};
      Config.ProtectCount = I + 1;
    }
    if (C.Register < SIM_MAX_PROTECTED_RANGES) {
      Config.Protect[C.Register] = OverBlock;
      Config.ProtectCount = C.Register + 1;
    } else {
      Config.Gpr0Enabled = true;
      Config.Gpr0 = OverBlock;
    }
    Scenario Board(Config);
    Bytes Before = Board.Flash();
    Bytes Image = Board.Window();
    for (uint32_t Offset : C.Changes) {
      Image[Offset] ^= 0x5A;
    }
    Board.PutFile("image.bin", Image);
    AppRun Run = Board.Run({"-w", "image.bin"});
    if (C.Refused) {
      EXPECT_EQ(Run.Console, Size8 + Starting +
                                 "\r\nError. Flash is write-protected at 0xFFC00000 (flash "
                                 "0xC00000, " +
                                 C.What + "). Nothing was changed.\r\n")
          << C.What;
      EXPECT_EQ(Run.Status, EFI_WRITE_PROTECTED) << C.What;
      EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u) << C.What;
      EXPECT_TRUE(Board.Flash() == Before) << C.What;
      ExpectCleanReturn(Run);
    } else {
      EXPECT_EQ(Run.Console, Size8 + Starting + Finished(C.Changes.size())) << C.What;
      EXPECT_TRUE(Board.Window() == Image) << C.What;
    }
  }
}

// The n-th hardware-sequenced cycle of a run on a fresh board that rewrites
// the given window block: first count the cycles up to the comparison.
uint32_t CyclesBeforeTheFirstErase() {
  Scenario Board;
  Board.PutFile("image.bin", Board.Window());
  Board.Run({"-w", "image.bin"});
  // A run that changes something reads the chip's status once more before it erases.
  return static_cast<uint32_t>(Board.HwCycles()) + 1;
}

const std::string NothingChanged =
    "\r\nError. Writing the flash failed at 0xFF810000: Device Error. Nothing was changed.\r\n";
const std::string DoNotReset =
    "\r\nError!! Writing the flash failed at 0xFF810000: Device Error. Do not reset; run the "
    "command again.\r\n";

// The cycles of a run that rewrites window block 0x10000 alone, up to the end of
// its read-back.
uint32_t CyclesOfOneBlockRewrite() {
  Scenario Board;
  Board.PutFile("image.bin", Flipped(Board.Window(), {0x10000}));
  Board.Run({"-w", "image.bin"});
  return static_cast<uint32_t>(Board.HwCycles());
}

// A failure is only "nothing was changed" on the first block to rewrite, when
// that block was read back and still holds its old contents; a block that was
// erased, or programmed and not read back, or an earlier block rewritten, asks
// not to reset.
TEST(WriteCommand, FailedEraseProgramOrReadBackStopsWithoutResetAndARerunCompletes) {
  const uint32_t Before = CyclesBeforeTheFirstErase();
  struct Case {
    const char *What;
    uint32_t FailCycle;
    std::string Outcome;  // after "Programming starting "
    size_t RerunDots;
  };
  // The erase of a block takes at most 16 cycles; the 18th is a program cycle.
  const Case Cases[] = {
      {"erase", Before + 1, NothingChanged, 2},
      {"program", Before + 18, DoNotReset + RewrittenBeforeTheFailure(0, 2), 2},
      {"read-back", CyclesOfOneBlockRewrite(), DoNotReset + RewrittenBeforeTheFailure(0, 2), 1},
      {"erase of the second block, after the first was rewritten", CyclesOfOneBlockRewrite() + 1,
       ".\r\nError!! Writing the flash failed at 0xFF820000: Device Error. Do not reset; run the "
       "command again.\r\n" +
           RewrittenBeforeTheFailure(1, 2),
       1},
  };
  for (const Case &C : Cases) {
    SimConfig Config = DefaultSimConfig();
    Config.FailCycle = C.FailCycle;
    Scenario Board(Config);
    Bytes Image = Flipped(Board.Window(), {0x10000, 0x20000});
    Board.PutFile("image.bin", Image);
    AppRun Run = Board.Run({"-w", "image.bin"});
    EXPECT_NE(Run.Console.find("\r\nController status HSFSTS_CTL 0x"), std::string::npos) << C.What;
    EXPECT_EQ(WithoutControllerStatus(Run.Console), Size8 + Starting + C.Outcome) << C.What;
    EXPECT_EQ(Run.Status, EFI_DEVICE_ERROR) << C.What;
    EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
    for (uint32_t Erased : Board.ErasedBlocks()) {
      EXPECT_EQ(Erased, WindowBlock(0x10000)) << C.What << ": the later block is not touched";
    }
    ExpectCleanReturn(Run);

    AppRun Again = Board.Run({"-w", "image.bin"});
    EXPECT_EQ(Again.Console, Size8 + Starting + Finished(C.RerunDots)) << C.What;
    EXPECT_TRUE(Board.Window() == Image) << C.What;
  }
}

// A flash cell that does not take its value: the first byte of the block is
// turned back to what it held once its program cycle has finished, as a worn
// part would leave it. The controller reports no error; only the read-back
// after programming can notice.
struct WeakCell {
  SimPlatform *Platform;
  uint32_t FlashAddress;
  uint8_t Value;
  bool Done;
};

void RestoreWeakCell(void *Context, const SimEvent *) {
  auto *Cell = static_cast<WeakCell *>(Context);
  if (!Cell->Done && SimGetCounters(Cell->Platform)->HwCycles[SimCycleWrite] >= 2) {
    const_cast<uint8_t *>(SimFlashData(Cell->Platform))[Cell->FlashAddress] = Cell->Value;
    Cell->Done = true;
  }
}

// After the weak cell turned back, the block holds its old contents when that
// cell was the block's only change, and neither old nor new contents otherwise.
TEST(WriteCommand, BlockThatReadsBackWrongStopsTheRunWithoutReset) {
  struct Case {
    const char *What;
    std::initializer_list<uint32_t> Changes;
    std::string Message;
  };
  const Case Cases[] = {
      {"only the weak cell changes", {0x10000, 0x20000}, NothingChanged},
      {"another byte of the block changes too",
       {0x10000, 0x10001, 0x20000},
       DoNotReset + RewrittenBeforeTheFailure(0, 2)},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    Bytes Before = Board.Window();
    Bytes Image = Flipped(Before, C.Changes);
    Board.PutFile("image.bin", Image);
    WeakCell Cell = {Board.Platform(), WholeFlashSize - WindowSize + 0x10000, Before[0x10000],
                     false};
    SimSetTraceHook(Board.Platform(), RestoreWeakCell, &Cell);
    AppRun Run = Board.Run({"-w", "image.bin"});
    SimSetTraceHook(Board.Platform(), nullptr, nullptr);
    ASSERT_TRUE(Cell.Done) << C.What;
    EXPECT_EQ(Run.Console, Size8 + Starting + C.Message) << C.What;
    EXPECT_EQ(Run.Status, EFI_DEVICE_ERROR) << C.What;
    EXPECT_EQ(Board.Reset(), SimResetNone) << C.What;
    EXPECT_EQ(Board.ErasedBlocks(), std::vector<uint32_t>{WindowBlock(0x10000)}) << C.What;
    ExpectCleanReturn(Run);
  }
}

// The warning not to reset matters most when memory is short: every message of
// a failing write still appears, with the same exit status, whichever one pool
// allocation fails. Only the allocations before the command (the two buffers,
// the command line's parse) may end the run early, with EFI_OUT_OF_RESOURCES.
TEST(WriteCommand, EveryMessageSurvivesAnyOneFailedAllocation) {
  // Two blocks differ; the first one's program fails.
  auto Image = [&](const Scenario &Board) { return Flipped(Board.Window(), {0x0, 0x10000}); };
  uint32_t FailCycle = 0;
  {
    Scenario Board;
    Board.PutFile("image.bin", Board.Window());
    Board.Run({"-w", "image.bin"});
    FailCycle = static_cast<uint32_t>(Board.HwCycles()) + 18;
  }
  SimConfig Config = DefaultSimConfig();
  Config.FailCycle = FailCycle;
  Scenario Reference(Config);
  Reference.PutFile("image.bin", Image(Reference));
  AppRun Expected = Reference.Run({"-w", "image.bin"});
  ASSERT_EQ(WithoutControllerStatus(Expected.Console),
            Size8 + Starting +
                "\r\nError!! Writing the flash failed at 0xFF800000: Device Error. Do not reset; "
                "run the command again.\r\n" +
                RewrittenBeforeTheFailure(0, 2));
  const uint64_t Allocations = Expected.Firmware->AllocationCount();

  for (uint64_t Failing = 1; Failing <= Allocations; ++Failing) {
    Scenario Board(Config);
    Board.PutFile("image.bin", Image(Board));
    HostFirmwareConfig Firmware;
    Firmware.FailAllocation = Failing;
    AppRun Run = Board.Run({"-w", "image.bin"}, Firmware);
    if (Run.Status == EFI_OUT_OF_RESOURCES) {
      EXPECT_TRUE(Run.Console.empty() ||
                  Run.Console == "Error. Not enough memory for the two 8 MiB image buffers.\r\n")
          << "allocation " << Failing << ": " << Run.Console;
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u) << "allocation " << Failing;
    } else {
      EXPECT_EQ(Run.Console, Expected.Console) << "allocation " << Failing;
      EXPECT_EQ(Run.Status, Expected.Status) << "allocation " << Failing;
    }
    ExpectCleanReturn(Run);
  }
}

// ---- Whole-flash images ------------------------------------------------------------

HostFirmwareConfig LiftingPreparation(const Scenario &Board) {
  HostFirmwareConfig Config;
  SimPlatform *Platform = Board.Platform();
  Config.OnFullFlashPrepare = [Platform] { SimLiftDescriptorLimits(Platform); };
  return Config;
}

TEST(WriteCommand, WholeFlashImageRewritesDifferingBlocksAcrossTheFlash) {
  Scenario Board;
  Bytes Image = Flipped(Board.Flash(), {0x2000, 0x900000});
  Board.PutFile("full.bin", Image);
  AppRun Run = Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
  EXPECT_EQ(Run.Console, Size16 + Starting + Finished(2, WholeFlashSize / Block));
  EXPECT_EQ(Run.Status, EFI_SUCCESS);
  EXPECT_EQ(Run.Firmware->FullFlashPrepareCalls(), 1u);
  // The descriptor's block goes last.
  EXPECT_EQ(Board.ErasedBlocks(), (std::vector<uint32_t>{0x90, 0x00}));
  EXPECT_TRUE(Board.Flash() == Image);
  EXPECT_EQ(Board.Reset(), SimResetHard);
  ExpectCleanReturn(Run);  // the 8 MiB buffers replaced by 16 MiB ones are freed too
}

// The board takes the 8 MiB window, or the whole flash where that is 16 MiB; any
// other file is refused before the flash is read.
TEST(WriteCommand, OnlyImagesOfTheWindowOrTheWholeFlashAreTaken) {
  const uint32_t Sizes[] = {
      0, 1, 0x400000, WindowSize - 1, WindowSize + 1, 0xC00000, WholeFlashSize};
  for (const char *Chip : {"W25Q128BV", "25L25635E"}) {
    SimConfig Config = DefaultSimConfig();
    Config.ChipIndex = SimFindChipByName(Chip);
    const bool Sixteen = SimConfigFlashSize(&Config) == WholeFlashSize;
    for (uint32_t Size : Sizes) {
      SCOPED_TRACE(std::string(Chip) + ", " + std::to_string(Size) + " bytes");
      Scenario Board(Config);
      const Bytes Before = Board.Flash();
      Board.PutFile("image.bin", Bytes(Before.begin(), Before.begin() + Size));
      AppRun Run = Board.Run({"-w", "image.bin"});
      if (Sixteen && Size == WholeFlashSize) {
        EXPECT_EQ(Run.Console, Size16 + Starting + Finished(0, WholeFlashSize / Block));
        continue;
      }
      EXPECT_EQ(Run.Console, Size8 + "Error. The image is " + std::to_string(Size) +
                                 " bytes; this board takes 8388608 (the BIOS window)" +
                                 (Sixteen ? " or 16777216 (the whole flash)" : "") + ". " +
                                 NothingWasChanged);
      EXPECT_EQ(Run.Status, EFI_BAD_BUFFER_SIZE);
      EXPECT_EQ(Board.Counters().HwCycles[SimCycleRead], 0u);
      EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
      EXPECT_EQ(Board.Reset(), SimResetNone);
      ExpectCleanReturn(Run);
    }
  }
}

void Put32(Bytes &Image, uint32_t Offset, uint32_t Value) {
  for (uint32_t I = 0; I < 4; ++I) Image[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
}

// A whole-flash image brings the descriptor the board boots with next; one that
// could not boot it is refused before anything is erased. The generated descriptor
// has its component section at 0x30 and its regions at 0x40.
TEST(WriteCommand, WholeFlashImageWhoseDescriptorWouldNotBootIsRefused) {
  struct Case {
    const char *Reason;
    uint32_t Offset;  // the descriptor dword changed: its bits in Kept stay
    uint32_t Kept;
    uint32_t Value;
  };
  const Case Cases[] = {
      {"no BIOS region", 0x44, 0, 0x00007FFF},
      {"BIOS region not at the top", 0x44, 0, 0x0EFF0800},  // 0x800000..0xEFFFFF
      {"regions overlap", 0x48, 0, 0x08FF0001},             // ME 0x1000..0x8FFFFF
      {"flash size differs", 0x30, ~0xFu, 0x4},             // one component of 8 MiB
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Reason);
    Scenario Board;
    const Bytes Before = Board.Flash();
    Bytes Image = Flipped(Before, {0x900000});
    uint32_t Old = 0;
    for (uint32_t I = 0; I < 4; ++I) Old |= static_cast<uint32_t>(Image[C.Offset + I]) << (8 * I);
    Put32(Image, C.Offset, (Old & C.Kept) | C.Value);
    Board.PutFile("full.bin", Image);
    AppRun Run = Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
    EXPECT_EQ(Run.Console, Size16 + Starting +
                               "\r\nError. The image's flash descriptor would not boot this "
                               "board: " +
                               C.Reason + ". " + NothingWasChanged);
    EXPECT_EQ(Run.Status, EFI_INCOMPATIBLE_VERSION);
    EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
    EXPECT_TRUE(Board.Flash() == Before);
    EXPECT_EQ(Board.Reset(), SimResetNone);
    ExpectCleanReturn(Run);
  }
}

// The descriptor's block goes last, its signature's 64 bytes last of all, and the
// reset vector's block just before it: wherever power is lost before the
// descriptor's erase, the flash keeps the old descriptor and the controller can
// read it; lost inside that block, the new descriptor has no signature yet.
TEST(WriteCommand, WholeFlashWriteKeepsTheOldDescriptorUntilEverythingElseIsWritten) {
  const Bytes Old = GeneratedFlash(DefaultSimConfig());
  const Bytes Image = Flipped(Old, {0x2000, 0x900000, 0xFFFF00});
  uint64_t Total = 0;
  {
    Scenario Board;
    Board.PutFile("full.bin", Image);
    AppRun Run = Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
    ASSERT_EQ(Run.Console, Size16 + Starting + Finished(3, WholeFlashSize / Block));
    EXPECT_EQ(Board.ErasedBlocks(), (std::vector<uint32_t>{0x90, 0xFF, 0x00}));
    Total = Board.Counters().FlashModifyingCycles;
  }
  const uint64_t DescriptorBlockCycles = 1 + Block / 64;  // its erase, then 64-byte programs
  const Bytes OldDescriptor(Old.begin(), Old.begin() + 0x1000);
  for (uint64_t LostAfter : {uint64_t{1}, Total / 2, Total - DescriptorBlockCycles}) {
    SCOPED_TRACE("power lost after cycle " + std::to_string(LostAfter));
    SimConfig Config = DefaultSimConfig();
    Config.PowerLossAfter = static_cast<uint32_t>(LostAfter);
    Scenario Board(Config);
    Board.PutFile("full.bin", Image);
    Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
    const Bytes After = Board.Flash();
    EXPECT_TRUE(Bytes(After.begin(), After.begin() + 0x1000) == OldDescriptor);
  }
  SimConfig Config = DefaultSimConfig();
  Config.PowerLossAfter = static_cast<uint32_t>(Total - 1);
  Scenario Board(Config);
  Board.PutFile("full.bin", Image);
  Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
  const Bytes After = Board.Flash();
  EXPECT_TRUE(AllBytesAre(After, 0, 0x40, 0xFF)) << "the signature's piece is programmed last";
  EXPECT_TRUE(std::equal(After.begin() + 0x40, After.begin() + Block, Image.begin() + 0x40));
}

// A descriptor that keeps the host from writing region 0 but opens the whole
// flash as the writable range (FLMSTR1 write bits 27:24 set).
Bytes FlashWithoutDescriptorWriteAccess(const SimConfig &Config) {
  Bytes Flash = GeneratedFlash(Config);
  const uint32_t Flmap1 = Flash[0x18];
  const uint32_t Fmba = (Flmap1 & 0xFF) << 4;
  const uint32_t Flmstr1 = 0xFFEFFF00;  // write bit 20 (region 0) clear
  for (int I = 0; I < 4; ++I) {
    Flash[Fmba + I] = static_cast<uint8_t>(Flmstr1 >> (8 * I));
  }
  return Flash;
}

TEST(WriteCommand, RegionWithoutWriteAccessIsRefusedUnlessThePlatformLiftsIt) {
  const SimConfig Config = DefaultSimConfig();
  const Bytes Initial = FlashWithoutDescriptorWriteAccess(Config);
  {
    Scenario Board(Config, Initial);
    Board.PutFile("full.bin", Flipped(Initial, {0x900000, 0x0F00}));
    AppRun Run = Board.Run({"-w", "full.bin"});  // the preparation changes nothing here
    EXPECT_EQ(Run.Console, Size16 + Starting +
                               "\r\nError. Flash is write-protected at 0xFF000000 (flash 0x0, "
                               "descriptor). Nothing was changed.\r\n");
    EXPECT_EQ(Run.Status, EFI_WRITE_PROTECTED);
    EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
    EXPECT_EQ(Board.Reset(), SimResetNone);
    ExpectCleanReturn(Run);
  }
  {
    Scenario Board(Config, Initial);
    Bytes Image = Flipped(Initial, {0x900000, 0x0F00});
    Board.PutFile("full.bin", Image);
    AppRun Run = Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
    EXPECT_EQ(Run.Console, Size16 + Starting + Finished(2, WholeFlashSize / Block));
    EXPECT_TRUE(Board.Flash() == Image);
  }
}

// The production descriptor grants the host reads of regions 0-3, so the whole
// flash is compared; the differing ME block lies outside the writable range (the
// BIOS region) even after the platform lifted the access limits.
TEST(WriteCommand, ProductionDescriptorKeepsTheWholeFlashImageToTheBiosRegion) {
  SimConfig Config = DefaultSimConfig();
  Config.LockedDescriptor = true;
  Scenario Board(Config);
  Bytes Before = Board.Flash();
  Board.PutFile("full.bin", Flipped(Before, {0x900000, 0x100000}));
  AppRun Run = Board.Run({"-w", "full.bin"}, LiftingPreparation(Board));
  EXPECT_EQ(Run.Console, Size16 + Starting +
                             "\r\nError. Flash is write-protected at 0xFF100000 (flash 0x100000, "
                             "ME). Nothing was changed.\r\n");
  EXPECT_EQ(Run.Status, EFI_WRITE_PROTECTED);
  EXPECT_TRUE(Board.Flash() == Before);
  ExpectCleanReturn(Run);
}

// Without a valid descriptor the controller runs no hardware-sequenced cycle,
// so the chip is not identified and the flash cannot be read: the write is
// refused before its first erase, and does not reset.
TEST(WriteCommand, WithoutDescriptorNothingIsModified) {
  SimConfig Config = DefaultSimConfig();
  Config.ChipIndex = SimFindChipByName("W25Q64BV");
  Config.NoDescriptor = true;
  Scenario Board(Config);
  Bytes Before = Board.Flash();
  Board.PutFile("image.bin", Flipped(Before, {0x7ABCDE}));
  AppRun Run = Board.Run({"-w", "image.bin"});
  EXPECT_EQ(Run.Console, Size8 + Starting +
                             "\r\nError. The flash could not be read (Invalid Parameter). "
                             "Nothing was changed.\r\n");
  EXPECT_EQ(Run.Status, EFI_INVALID_PARAMETER);
  EXPECT_EQ(Board.Counters().FlashModifyingCycles, 0u);
  EXPECT_TRUE(Board.Flash() == Before);
  EXPECT_EQ(Board.Reset(), SimResetNone);
  ExpectCleanReturn(Run);
}

}  // namespace
