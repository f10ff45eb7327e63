// Shell file access on the host model of the shell's volume.
#include "shell/file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "base/firmware.h"
#include "shell/params.h"
#include "support/app_run.h"

namespace {

class ShellFileTest : public ::testing::Test {
 protected:
  void SetUp() override { Bind(HostFirmwareConfig{}); }
  void TearDown() override {
    UnbindShell(Firmware->ImageHandle());
    gFirmware = {};
  }

  void Bind(HostFirmwareConfig Config) {
    Config.Root = Volume.Path();
    Config.Argv = {u"pchflash.efi"};
    Firmware = std::make_unique<HostFirmware>(std::move(Config));
    gFirmware = {Firmware->ImageHandle(), Firmware->SystemTable(),
                 Firmware->SystemTable()->BootServices};
    BindShell(Firmware->ImageHandle());
  }

  std::string HostFile(const char *Name) {
    std::ifstream In(Volume.Path() / Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }

  ScratchDirectory Volume;
  std::unique_ptr<HostFirmware> Firmware;
};

TEST_F(ShellFileTest, MissingFileIsNotFoundAndLeavesNoHandle) {
  SHELL_FILE_HANDLE Handle = reinterpret_cast<SHELL_FILE_HANDLE>(1);
  EXPECT_EQ(FileOpenByName(u"absent.bin", &Handle, EFI_FILE_MODE_READ, 0), EFI_NOT_FOUND);
  EXPECT_EQ(Handle, nullptr);
  EXPECT_EQ(FileOpenByName(nullptr, &Handle, EFI_FILE_MODE_READ, 0), EFI_INVALID_PARAMETER);
}

TEST_F(ShellFileTest, CreatedFileGetsTheCallersAttributesAndHoldsWhatWasWritten) {
  SHELL_FILE_HANDLE Handle = nullptr;
  ASSERT_EQ(FileOpenByName(u"new.bin", &Handle,
                           EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0),
            EFI_SUCCESS);
  ASSERT_NE(Handle, nullptr);
  EXPECT_EQ(Firmware->CallCount("SetFileInfo"), 1u);
  EFI_FILE_INFO *Info = gShell.GetFileInfo(Handle);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Info->Attribute, 0u);
  PoolFree(Info);

  char Data[] = "flash image bytes";
  UINTN Count = sizeof(Data) - 1;
  EXPECT_EQ(FileWrite(Handle, &Count, Data), EFI_SUCCESS);
  EXPECT_EQ(Count, sizeof(Data) - 1);
  UINT64 Size = 0;
  EXPECT_EQ(FileGetSize(Handle, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, sizeof(Data) - 1);
  EXPECT_EQ(FileClose(&Handle), EFI_SUCCESS);
  EXPECT_NE(Handle, nullptr) << "the caller's variable is left for the caller to clear";
  EXPECT_EQ(HostFile("new.bin"), "flash image bytes");
  EXPECT_EQ(Firmware->OpenFileHandles(), 0u);
  EXPECT_EQ(Firmware->PoolOutstanding(), 0u);
}

TEST_F(ShellFileTest, ReadComesBackShortAtTheEnd) {
  std::ofstream(Volume.Path() / "short.bin", std::ios::binary) << "0123456789";
  SHELL_FILE_HANDLE Handle = nullptr;
  ASSERT_EQ(FileOpenByName(u"short.bin", &Handle, EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EXPECT_EQ(Firmware->CallCount("SetFileInfo"), 0u) << "an open without create sets nothing";
  char Buffer[64] = {};
  UINTN Count = sizeof(Buffer);
  EXPECT_EQ(FileRead(Handle, &Count, Buffer), EFI_SUCCESS);
  EXPECT_EQ(std::string(Buffer, Count), "0123456789");
  Count = sizeof(Buffer);
  EXPECT_EQ(FileRead(Handle, &Count, Buffer), EFI_SUCCESS);
  EXPECT_EQ(Count, 0u);
  FileClose(&Handle);
}

TEST_F(ShellFileTest, NulIsOpenedWithoutFileInformation) {
  SHELL_FILE_HANDLE Handle = nullptr;
  EXPECT_EQ(FileOpenByName(u"NUL", &Handle,
                           EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0),
            EFI_SUCCESS);
  EXPECT_EQ(Firmware->CallCount("GetFileInfo"), 0u);
  EXPECT_EQ(Firmware->CallCount("SetFileInfo"), 0u);
  FileClose(&Handle);
}

TEST_F(ShellFileTest, DirectoryAttributeCreatesADirectoryThroughCreateFile) {
  SHELL_FILE_HANDLE Handle = nullptr;
  EXPECT_EQ(FileOpenByName(u"images", &Handle, EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ,
                           EFI_FILE_DIRECTORY | EFI_FILE_ARCHIVE),
            EFI_SUCCESS);
  EXPECT_EQ(Firmware->CallCount("CreateFile"), 1u);
  EXPECT_EQ(Firmware->CallCount("OpenFileByName"), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(Volume.Path() / "images"));
  FileClose(&Handle);
}

TEST_F(ShellFileTest, ReadOnlyVolumeRefusesTheCreatingOpen) {
  UnbindShell(Firmware->ImageHandle());
  HostFirmwareConfig Config;
  Config.ReadOnlyVolume = true;
  Bind(Config);
  SHELL_FILE_HANDLE Handle = reinterpret_cast<SHELL_FILE_HANDLE>(1);
  EXPECT_TRUE(EFI_ERROR(FileOpenByName(
      u"new.bin", &Handle, EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0)));
  EXPECT_EQ(Handle, nullptr);
  EXPECT_FALSE(std::filesystem::exists(Volume.Path() / "new.bin"));
}

// A shell without the delete service still gets the handle back; the file stays.
TEST_F(ShellFileTest, DeleteRemovesTheFileAndAlwaysClosesTheHandle) {
  const UINT64 Create = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
  for (bool DeleteService : {true, false}) {
    SHELL_FILE_HANDLE Handle = nullptr;
    ASSERT_EQ(FileOpenByName(u"new.bin", &Handle, Create, 0), EFI_SUCCESS);
    EFI_SHELL_DELETE_FILE Saved = gShell.Shell->DeleteFile;
    if (!DeleteService) {
      gShell.Shell->DeleteFile = nullptr;
    }
    EXPECT_EQ(FileDelete(&Handle), DeleteService ? EFI_SUCCESS : EFI_WARN_DELETE_FAILURE);
    gShell.Shell->DeleteFile = Saved;
    EXPECT_EQ(std::filesystem::exists(Volume.Path() / "new.bin"), !DeleteService);
    EXPECT_EQ(Firmware->OpenFileHandles(), 0u);
    std::filesystem::remove(Volume.Path() / "new.bin");
  }
}

TEST_F(ShellFileTest, WithoutABoundShellEveryOperationIsNotFound) {
  std::ofstream(Volume.Path() / "there.bin", std::ios::binary) << "x";
  UnbindShell(Firmware->ImageHandle());
  SHELL_FILE_HANDLE Handle = nullptr;
  EXPECT_EQ(FileOpenByName(u"there.bin", &Handle, EFI_FILE_MODE_READ, 0), EFI_NOT_FOUND);
  char Byte = 0;
  UINTN Count = 1;
  UINT64 Size = 0;
  EXPECT_EQ(FileRead(Handle, &Count, &Byte), EFI_NOT_FOUND);
  EXPECT_EQ(FileWrite(Handle, &Count, &Byte), EFI_NOT_FOUND);
  EXPECT_EQ(FileGetSize(Handle, &Size), EFI_NOT_FOUND);
  EXPECT_EQ(FileClose(&Handle), EFI_NOT_FOUND);
  EXPECT_EQ(Firmware->CallCount("OpenFileByName"), 0u);
  BindShell(Firmware->ImageHandle());  // for TearDown
}

}  // namespace
