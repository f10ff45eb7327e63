// "-r FILE": the BIOS window saved to a new file, and every way that can fail.
#include "scenario/scenario_support.h"

namespace {

const std::string ReadStart = "Now start read SPI, wait a minute...\r\n";

TEST(ReadCommand, SavesTheBiosWindowToANewFile) {
  Scenario Board;
  AppRun Run = Board.Run({"-r", "backup.bin"});
  EXPECT_EQ(Run.Console, ReadStart + "Read SPI is Success.\r\nSave to file is Success.\r\n");
  EXPECT_EQ(Run.Status, EFI_SUCCESS);
  Bytes Saved = Board.GetFile("backup.bin");
  ASSERT_EQ(Saved.size(), 8388608u);
  EXPECT_TRUE(Saved == Board.Window()) << "the file must hold flash-linear 0x800000..0xFFFFFF";
  EXPECT_EQ(Board.Reset(), SimResetNone);
  EXPECT_EQ(Board.ErasedBlocks().size(), 0u);
  EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 1u) << "written once, from its start";
  ExpectCleanReturn(Run);
}

TEST(ReadCommand, RefusesAnExistingFileOrDirectoryWithoutReadingTheFlash) {
  Scenario Board;
  Board.PutFile("backup.bin", Bytes{'o', 'l', 'd'});
  std::filesystem::create_directory(Board.PathOf("images"));
  for (const char *Name : {"backup.bin", "BACKUP.BIN", "images"}) {
    AppRun Run = Board.Run({"-r", Name});
    EXPECT_EQ(Run.Console, "Error!! The file name is already exist!!\r\n") << Name;
    EXPECT_EQ(Run.Status, EFI_INVALID_PARAMETER) << Name;
    EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 0u) << Name;
    ExpectCleanReturn(Run);
  }
  EXPECT_EQ(Board.GetFile("backup.bin"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(Board.Counters().HwCycles[SimCycleRead], 0u) << "the flash must not be read";
}

// The existence test failing otherwise says nothing about the file: it may well
// be there, and must then stay as it is.
TEST(ReadCommand, ExistenceTestFailureNeverWritesAFile) {
  for (bool Present : {true, false}) {
    Scenario Board;
    if (Present) {
      Board.PutFile("backup.bin", Bytes{'o', 'l', 'd'});
    }
    HostFirmwareConfig Config;
    Config.FileFaults = {{ShellFileOp::Open, EFI_DEVICE_ERROR}};
    AppRun Run = Board.Run({"-r", "backup.bin"}, Config);
    EXPECT_EQ(Run.Console, "Error!! File backup.bin is Device Error\r\n" + ReadStart +
                               "Read SPI is Success.\r\nSave to file is Device Error.\r\n");
    EXPECT_EQ(Run.Status, EFI_DEVICE_ERROR);
    EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 0u);
    EXPECT_EQ(Board.Exists("backup.bin"), Present);
    if (Present) {
      EXPECT_EQ(Board.GetFile("backup.bin"), (Bytes{'o', 'l', 'd'}));
    }
    ExpectCleanReturn(Run);
  }
}

TEST(ReadCommand, CreatingOpenFailureIsTheSaveStatus) {
  struct Case {
    const char *What;
    HostFirmwareConfig Config;
    std::string Status;
    EFI_STATUS Expected;
  };
  HostFirmwareConfig Faulty;
  Faulty.FileFaults = {{ShellFileOp::Create, EFI_ACCESS_DENIED}};
  HostFirmwareConfig ReadOnly;
  ReadOnly.ReadOnlyVolume = true;
  const Case Cases[] = {
      {"create fault", Faulty, "Access Denied", EFI_ACCESS_DENIED},
      {"read-only volume", ReadOnly, "Write Protected", EFI_WRITE_PROTECTED},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    AppRun Run = Board.Run({"-r", "backup.bin"}, C.Config);
    EXPECT_EQ(Run.Console,
              ReadStart + "Read SPI is Success.\r\nSave to file is " + C.Status + ".\r\n")
        << C.What;
    EXPECT_EQ(Run.Status, C.Expected) << C.What;
    EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 0u) << C.What;
    EXPECT_FALSE(Board.Exists("backup.bin")) << C.What;
    ExpectCleanReturn(Run);
  }
}

// A file of a read that failed would look like a backup and is none: the file
// the run created is deleted, and the exit status is the read's.
TEST(ReadCommand, FailedFlashReadLeavesNoFile) {
  struct Case {
    const char *What;
    SimConfig Platform;
    std::string Status;
    EFI_STATUS Expected;
  };
  SimConfig LastBlockUnreadable = DefaultSimConfig();
  LastBlockUnreadable.ProtectRead[0] = {0xFF0000, 0xFFFFFF};  // the last 64 KiB of the window
  LastBlockUnreadable.ProtectReadCount = 1;
  SimConfig SmallChip = DefaultSimConfig();  // 1 MiB: the window reaches below the flash
  SmallChip.ChipIndex = SimFindChipByName("25L8005");
  SimConfig NoDescriptor = DefaultSimConfig();
  NoDescriptor.NoDescriptor = true;
  const Case Cases[] = {
      {"read-protected block", LastBlockUnreadable, "Access Denied", EFI_ACCESS_DENIED},
      {"chip smaller than the window", SmallChip, "Invalid Parameter", EFI_INVALID_PARAMETER},
      {"no descriptor", NoDescriptor, "Invalid Parameter", EFI_INVALID_PARAMETER},
  };
  for (const Case &C : Cases) {
    Scenario Board(C.Platform);
    AppRun Run = Board.Run({"-r", "backup.bin"});
    EXPECT_EQ(Run.Console, ReadStart + "Read SPI is " + C.Status +
                               ".\r\nError. The BIOS could not be read; no file was saved.\r\n")
        << C.What;
    EXPECT_EQ(Run.Status, C.Expected) << C.What;
    EXPECT_FALSE(Board.Exists("backup.bin")) << C.What;
    EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 0u) << C.What;
    ExpectCleanReturn(Run);
  }
}

// A save that failed, or left less than the whole image, deletes what it wrote,
// so that the name is free for the next try.
TEST(ReadCommand, FailedOrShortSaveLeavesNoFile) {
  struct Case {
    const char *What;
    HostFirmwareConfig Config;
    std::string Status;
    EFI_STATUS Expected;
  };
  HostFirmwareConfig Full;
  Full.VolumeBytes = 0x100000;
  HostFirmwareConfig Faulty;
  Faulty.FileFaults = {{ShellFileOp::Write, EFI_DEVICE_ERROR}};
  HostFirmwareConfig WritesNothing;  // reports success and the whole count
  WritesNothing.FileFaults = {{ShellFileOp::Write, EFI_SUCCESS}};
  const Case Cases[] = {
      {"volume full", Full, "Volume Full", EFI_VOLUME_FULL},
      {"write fault", Faulty, "Device Error", EFI_DEVICE_ERROR},
      {"write that wrote nothing", WritesNothing, "Volume Full", EFI_VOLUME_FULL},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    AppRun Run = Board.Run({"-r", "backup.bin"}, C.Config);
    EXPECT_EQ(Run.Console,
              ReadStart + "Read SPI is Success.\r\nSave to file is " + C.Status + ".\r\n")
        << C.What;
    EXPECT_EQ(Run.Status, C.Expected) << C.What;
    EXPECT_FALSE(Board.Exists("backup.bin")) << C.What;
    EXPECT_EQ(Run.Firmware->CallCount("DeleteFile"), 1u) << C.What;
    ExpectCleanReturn(Run);
  }
}

// An existence test that failed to see the name (here: answered EFI_NOT_FOUND)
// lets the creating open reach what is there, which it opens as well. Only an
// empty file is written into; anything else is closed as it was.
TEST(ReadCommand, CreatingOpenThatFindsAnExistingEntryLeavesItAsItWas) {
  struct Case {
    const char *What;
    bool Directory;
    Bytes Contents;  // of the file
    bool Saved;
  };
  const Case Cases[] = {
      {"file with contents", false, Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}, false},
      {"empty directory", true, {}, false},
      {"empty file", false, {}, true},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    if (C.Directory) {
      std::filesystem::create_directory(Board.PathOf("backup.bin"));
    } else {
      Board.PutFile("backup.bin", C.Contents);
    }
    HostFirmwareConfig Config;
    Config.FileFaults = {{ShellFileOp::Open, EFI_NOT_FOUND}};
    AppRun Run = Board.Run({"-r", "backup.bin"}, Config);
    if (C.Saved) {
      EXPECT_EQ(Run.Console, ReadStart + "Read SPI is Success.\r\nSave to file is Success.\r\n");
      EXPECT_EQ(Run.Status, EFI_SUCCESS);
      EXPECT_TRUE(Board.GetFile("backup.bin") == Board.Window());
    } else {
      EXPECT_EQ(Run.Console, "Error!! The file name is already exist!!\r\n") << C.What;
      EXPECT_EQ(Run.Status, EFI_INVALID_PARAMETER) << C.What;
      EXPECT_EQ(Run.Firmware->CallCount("WriteFile"), 0u) << C.What;
      EXPECT_EQ(Run.Firmware->CallCount("DeleteFile"), 0u) << C.What;
      EXPECT_EQ(Board.Counters().HwCycles[SimCycleRead], 0u) << C.What << ": the flash was read";
      if (C.Directory) {
        EXPECT_TRUE(std::filesystem::is_directory(Board.PathOf("backup.bin"))) << C.What;
      } else {
        EXPECT_EQ(Board.GetFile("backup.bin"), C.Contents) << C.What;
      }
    }
    ExpectCleanReturn(Run);
  }
}

}  // namespace
