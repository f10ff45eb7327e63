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

// A read that fails part-way still leaves a file, but one no one should flash
// back: the exit status is the read's, and the unread part is zeros, not
// whatever the pool held.
TEST(ReadCommand, FlashReadFailureSavesZerosAndReturnsTheReadStatus) {
  SimConfig Config = DefaultSimConfig();
  Config.ProtectRead[0] = {0xFF0000, 0xFFFFFF};  // the last 64 KiB of the window
  Config.ProtectReadCount = 1;
  Scenario Board(Config);
  AppRun Run = Board.Run({"-r", "backup.bin"});
  EXPECT_EQ(Run.Console, ReadStart + "Read SPI is Device Error.\r\nSave to file is Success.\r\n");
  EXPECT_EQ(Run.Status, EFI_DEVICE_ERROR);
  Bytes Saved = Board.GetFile("backup.bin");
  ASSERT_EQ(Saved.size(), WindowSize);
  Bytes Window = Board.Window();
  EXPECT_TRUE(std::equal(Saved.begin(), Saved.end() - Block, Window.begin()));
  EXPECT_TRUE(AllBytesAre(Saved, WindowSize - Block, WindowSize, 0x00));
  ExpectCleanReturn(Run);
}

TEST(ReadCommand, WriteFailureIsReportedAndTheFileClosed) {
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
  const Case Cases[] = {
      {"volume full", Full, "Volume Full", EFI_VOLUME_FULL},
      {"write fault", Faulty, "Device Error", EFI_DEVICE_ERROR},
  };
  for (const Case &C : Cases) {
    Scenario Board;
    AppRun Run = Board.Run({"-r", "backup.bin"}, C.Config);
    EXPECT_EQ(Run.Console,
              ReadStart + "Read SPI is Success.\r\nSave to file is " + C.Status + ".\r\n")
        << C.What;
    EXPECT_EQ(Run.Status, C.Expected) << C.What;
    EXPECT_LT(Board.GetFile("backup.bin").size(), WindowSize) << C.What;
    ExpectCleanReturn(Run);
  }
}

}  // namespace
