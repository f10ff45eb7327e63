#include <gtest/gtest.h>

#include <cstring>

#include "host_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr UINT64 Read = EFI_FILE_MODE_READ;
constexpr UINT64 ReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 Create = 0x8000000000000003ULL;

// A model over a scratch volume, with the shell protocol at hand.
class ShellVolume : public ::testing::Test {
 protected:
  void Start(HostFirmwareConfig Config = {}) {
    Config.Root = Volume.Path();
    Model = std::make_unique<HostFirmware>(Config);
    EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;
    VOID *Interface = nullptr;
    ASSERT_EQ(Model->SystemTable()->BootServices->LocateProtocol(&ShellGuid, nullptr, &Interface),
              EFI_SUCCESS);
    Shell = static_cast<EFI_SHELL_PROTOCOL *>(Interface);
  }

  EFI_STATUS Open(const char16_t *Name, UINT64 Mode, SHELL_FILE_HANDLE *Handle) {
    *Handle = reinterpret_cast<SHELL_FILE_HANDLE>(0x1);  // must be overwritten
    return Shell->OpenFileByName(Name, Handle, Mode);
  }

  EFI_STATUS Write(SHELL_FILE_HANDLE Handle, const std::string &Bytes, UINTN *Count = nullptr) {
    std::string Copy = Bytes;
    UINTN Size = Copy.size();
    EFI_STATUS Status = Shell->WriteFile(Handle, &Size, Copy.data());
    if (Count != nullptr) {
      *Count = Size;
    }
    return Status;
  }

  UINT64 Attribute(SHELL_FILE_HANDLE Handle) {
    EFI_FILE_INFO *Info = Shell->GetFileInfo(Handle);
    EXPECT_NE(Info, nullptr);
    UINT64 Value = Info == nullptr ? ~0ULL : Info->Attribute;
    Model->SystemTable()->BootServices->FreePool(Info);
    return Value;
  }

  ScratchDirectory Volume;
  std::unique_ptr<HostFirmware> Model;
  EFI_SHELL_PROTOCOL *Shell = nullptr;
};

}  // namespace

TEST_F(ShellVolume, MissingFileIsNotFoundWithANullHandle) {
  Start();
  SHELL_FILE_HANDLE Handle;
  EXPECT_EQ(Open(u"missing.bin", Read, &Handle), EFI_NOT_FOUND);
  EXPECT_EQ(Handle, nullptr);
  EXPECT_EQ(Open(u"missing.bin", ReadWrite, &Handle), EFI_NOT_FOUND);
  EXPECT_EQ(Handle, nullptr);
  EXPECT_FALSE(fs::exists(Volume.Path() / "missing.bin"));
  EXPECT_EQ(Model->OpenFileHandles(), 0u);
}

TEST_F(ShellVolume, ExistingFileAndDirectoryOpenForReadingWithTheirInformation) {
  fs::create_directory(Volume.Path() / "sub");
  WriteHostFile(Volume.Path() / "sub" / "file.txt", std::string(17, 'x'));
  Start();
  SHELL_FILE_HANDLE File;
  ASSERT_EQ(Open(u"FS0:\\sub\\file.txt", Read, &File), EFI_SUCCESS);
  EFI_FILE_INFO *Info = Shell->GetFileInfo(File);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Info->Size, 98u);  // 80 + 2 * (8 + 1)
  EXPECT_EQ(Info->FileSize, 17u);
  EXPECT_EQ(Info->Attribute, EFI_FILE_ARCHIVE);
  EXPECT_EQ(InfoName(Info), u"file.txt");  // without the path
  EXPECT_EQ(Info->ModificationTime.TimeZone, 2047);
  EXPECT_EQ(Model->PoolOutstanding(), 1u);
  // The record is pool memory the caller frees.
  EXPECT_EQ(Model->SystemTable()->BootServices->FreePool(Info), EFI_SUCCESS);
  EXPECT_EQ(Model->PoolOutstanding(), 0u);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);

  SHELL_FILE_HANDLE Directory;
  ASSERT_EQ(Open(u"sub", Read, &Directory), EFI_SUCCESS);
  EXPECT_EQ(Attribute(Directory) & EFI_FILE_DIRECTORY, EFI_FILE_DIRECTORY);
  EXPECT_EQ(Shell->CloseFile(Directory), EFI_SUCCESS);
  EXPECT_EQ(Model->UnexpectedCalls(), 0u);
}

// As the real shell on FAT answers: a directory's size is the whole clusters its
// entries take, never 0, and each read yields one entry's information record
// (".", "..", then the entries), too small a buffer gets the size needed, and the
// read after the last entry is empty. An image "read" from a directory thus comes
// back shorter than its size.
TEST_F(ShellVolume, DirectoryReadsAsOneEntryRecordPerReadAndSizesInWholeClusters) {
  fs::create_directory(Volume.Path() / "sub");
  WriteHostFile(Volume.Path() / "sub" / "file.txt", "x");
  Start();
  SHELL_FILE_HANDLE Directory;
  ASSERT_EQ(Open(u"sub", Read, &Directory), EFI_SUCCESS);
  UINT64 Size = 0;
  ASSERT_EQ(Shell->GetFileSize(Directory, &Size), EFI_SUCCESS);
  EXPECT_GT(Size, 0u);
  EFI_FILE_INFO *Info = Shell->GetFileInfo(Directory);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Info->FileSize, Size);
  EXPECT_EQ(Info->PhysicalSize, Size);
  Model->SystemTable()->BootServices->FreePool(Info);

  std::vector<uint8_t> Buffer(0x800000);
  UINTN Count = 10;
  EXPECT_EQ(Shell->ReadFile(Directory, &Count, Buffer.data()), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Count, 0x54u);  // the record of "."
  struct Expected {
    std::u16string Name;
    UINTN Size;
    UINT64 Directory;
  };
  for (const Expected &Entry :
       {Expected{u".", 0x54, EFI_FILE_DIRECTORY}, Expected{u"..", 0x56, EFI_FILE_DIRECTORY},
        Expected{u"file.txt", 98, 0}}) {
    Count = Buffer.size();
    ASSERT_EQ(Shell->ReadFile(Directory, &Count, Buffer.data()), EFI_SUCCESS);
    const auto *Record = reinterpret_cast<const EFI_FILE_INFO *>(Buffer.data());
    EXPECT_EQ(Count, Entry.Size);
    EXPECT_EQ(Record->Size, Entry.Size);
    EXPECT_EQ(InfoName(Record), Entry.Name);
    EXPECT_EQ(Record->Attribute & EFI_FILE_DIRECTORY, Entry.Directory);
  }
  Count = Buffer.size();
  EXPECT_EQ(Shell->ReadFile(Directory, &Count, Buffer.data()), EFI_SUCCESS);
  EXPECT_EQ(Count, 0u);
  EXPECT_EQ(Shell->CloseFile(Directory), EFI_SUCCESS);
  EXPECT_EQ(Model->UnexpectedCalls(), 0u);
}

TEST_F(ShellVolume, ReadsComeBackShortAtTheEndAndEmptyAtEndOfFile) {
  WriteHostFile(Volume.Path() / "data.bin", "0123456789abcdefg");
  Start();
  SHELL_FILE_HANDLE File;
  ASSERT_EQ(Open(u"data.bin", Read, &File), EFI_SUCCESS);
  char Buffer[128] = {};
  UINTN Size = 128;
  ASSERT_EQ(Shell->ReadFile(File, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ(Size, 17u);
  EXPECT_EQ(std::string(Buffer, Size), "0123456789abcdefg");
  Size = 128;
  EXPECT_EQ(Shell->ReadFile(File, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ(Size, 0u);
  UINT64 FileSize = 0;
  EXPECT_EQ(Shell->GetFileSize(File, &FileSize), EFI_SUCCESS);
  EXPECT_EQ(FileSize, 17u);
  // Read-only handle: no write.
  UINTN Written = 0;
  EXPECT_EQ(Write(File, "zz", &Written), EFI_ACCESS_DENIED);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  EXPECT_EQ(ReadHostFile(Volume.Path() / "data.bin"), "0123456789abcdefg");
}

TEST_F(ShellVolume, CreatedFileStartsWithAttributeZeroAndGainsArchiveWhenWritten) {
  Start();
  SHELL_FILE_HANDLE File;
  ASSERT_EQ(Open(u"new.bin", Create, &File), EFI_SUCCESS);
  EXPECT_TRUE(fs::exists(Volume.Path() / "new.bin"));
  EXPECT_EQ(Attribute(File), 0u);
  EFI_FILE_INFO *Info = Shell->GetFileInfo(File);
  ASSERT_NE(Info, nullptr);
  Info->Attribute = 0;
  EXPECT_EQ(Shell->SetFileInfo(File, Info), EFI_SUCCESS);
  Model->SystemTable()->BootServices->FreePool(Info);

  UINTN Count = 0;
  ASSERT_EQ(Write(File, std::string(300, 'a'), &Count), EFI_SUCCESS);
  EXPECT_EQ(Count, 300u);
  ASSERT_EQ(Write(File, "tail", &Count), EFI_SUCCESS);  // at the current position
  UINT64 Size = 0;
  EXPECT_EQ(Shell->GetFileSize(File, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 304u);
  EXPECT_EQ(Attribute(File), EFI_FILE_ARCHIVE);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  EXPECT_EQ(ReadHostFile(Volume.Path() / "new.bin"), std::string(300, 'a') + "tail");

  // A creating open of an existing file opens it, contents kept.
  ASSERT_EQ(Open(u"NEW.BIN", Create, &File), EFI_SUCCESS);
  EXPECT_EQ(Shell->GetFileSize(File, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 304u);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  EXPECT_EQ(std::distance(fs::directory_iterator(Volume.Path()), fs::directory_iterator()), 1);
  EXPECT_EQ(Model->PoolOutstanding(), 0u);
}

TEST_F(ShellVolume, ReadOnlyAttributeRefusesLaterWritingOpens) {
  Start();
  SHELL_FILE_HANDLE File;
  ASSERT_EQ(Open(u"locked.bin", Create, &File), EFI_SUCCESS);
  ASSERT_EQ(Write(File, "data"), EFI_SUCCESS);
  EFI_FILE_INFO *Info = Shell->GetFileInfo(File);
  ASSERT_NE(Info, nullptr);
  Info->Attribute = EFI_FILE_READ_ONLY | EFI_FILE_ARCHIVE;
  EXPECT_EQ(Shell->SetFileInfo(File, Info), EFI_SUCCESS);
  Model->SystemTable()->BootServices->FreePool(Info);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);

  EXPECT_EQ(Open(u"locked.bin", ReadWrite, &File), EFI_ACCESS_DENIED);
  EXPECT_EQ(File, nullptr);
  ASSERT_EQ(Open(u"locked.bin", Read, &File), EFI_SUCCESS);
  EXPECT_EQ(Attribute(File), EFI_FILE_READ_ONLY | EFI_FILE_ARCHIVE);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
}

TEST_F(ShellVolume, CreateFileWithTheDirectoryAttributeMakesOrOpensADirectory) {
  Start();
  SHELL_FILE_HANDLE Directory = nullptr;
  ASSERT_EQ(Shell->CreateFile(u"images", EFI_FILE_DIRECTORY, &Directory), EFI_SUCCESS);
  EXPECT_TRUE(fs::is_directory(Volume.Path() / "images"));
  EXPECT_EQ(Attribute(Directory), EFI_FILE_DIRECTORY | EFI_FILE_ARCHIVE);  // 0x30, as seen
  EXPECT_EQ(Shell->CloseFile(Directory), EFI_SUCCESS);
  ASSERT_EQ(Shell->CreateFile(u"images", EFI_FILE_DIRECTORY, &Directory), EFI_SUCCESS);
  UINTN Count = 0;
  EXPECT_EQ(Write(Directory, "x", &Count), EFI_UNSUPPORTED);
  EXPECT_EQ(Shell->CloseFile(Directory), EFI_SUCCESS);

  // Below a directory that doesn't exist nothing is created.
  SHELL_FILE_HANDLE File;
  EXPECT_EQ(Open(u"nowhere\\x.bin", Create, &File), EFI_NOT_FOUND);
  EXPECT_FALSE(fs::exists(Volume.Path() / "nowhere"));
}

TEST_F(ShellVolume, NulIsASinkWithoutFileInformation) {
  Start();
  SHELL_FILE_HANDLE Sink;
  ASSERT_EQ(Open(u"NUL", Create, &Sink), EFI_SUCCESS);
  EXPECT_EQ(Shell->GetFileInfo(Sink), nullptr);
  UINTN Count = 0;
  EXPECT_EQ(Write(Sink, "abcd", &Count), EFI_SUCCESS);
  EXPECT_EQ(Count, 4u);
  EXPECT_EQ(Shell->CloseFile(Sink), EFI_SUCCESS);
  EXPECT_TRUE(fs::is_empty(Volume.Path()));
}

TEST_F(ShellVolume, NamesStayInsideTheVolume) {
  fs::create_directory(Volume.Path() / "sub");
  WriteHostFile(Volume.Path() / "top.bin", "t");
  ScratchDirectory Outside;
  WriteHostFile(Outside.Path() / "secret.bin", "s");
  fs::create_directory_symlink(Outside.Path(), Volume.Path() / "link");
  Start();
  SHELL_FILE_HANDLE File;
  EXPECT_EQ(Open(u"..\\top.bin", Read, &File), EFI_INVALID_PARAMETER);
  EXPECT_EQ(File, nullptr);
  // Named after the volume, so nothing else in the parent directory can have it.
  std::string Escaped = Volume.Path().filename().string() + "-escaped.bin";
  std::u16string Climb = u"sub\\..\\..\\" + HostUtf8ToUcs2(Escaped);
  EXPECT_EQ(Open(Climb.c_str(), Create, &File), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Open(u"link\\secret.bin", Read, &File), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Open(u"FS1:\\top.bin", Read, &File), EFI_NOT_FOUND);
  EXPECT_EQ(Open(u"a*b", Create, &File), EFI_INVALID_PARAMETER);
  EXPECT_FALSE(fs::exists(Volume.Path().parent_path() / Escaped));

  // The forms the shell hands over all reach the same file, ignoring case.
  for (const char16_t *Name :
       {u"top.bin", u"\\top.bin", u"fs0:top.bin", u"FS0:\\sub\\..\\TOP.BIN", u"sub/../top.bin"}) {
    ASSERT_EQ(Open(Name, Read, &File), EFI_SUCCESS) << HostUcs2ToUtf8(Name);
    EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  }
  EXPECT_EQ(Model->OpenFileHandles(), 0u);
}

TEST_F(ShellVolume, BadArgumentsAreRefused) {
  Start();
  SHELL_FILE_HANDLE File;
  EXPECT_EQ(Open(u"x.bin", EFI_FILE_MODE_WRITE, &File), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Open(u"x.bin", EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ, &File),
            EFI_INVALID_PARAMETER);
  EXPECT_FALSE(fs::exists(Volume.Path() / "x.bin"));
  int NotAHandle = 0;
  EXPECT_EQ(Shell->CloseFile(&NotAHandle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Model->UnexpectedCalls(), 1u);
  EXPECT_EQ(Shell->GetEnv(), EFI_UNSUPPORTED);
  EXPECT_EQ(Model->UnexpectedCalls(), 2u);
  Shell->EnablePageBreak();
  EXPECT_TRUE(Model->PageBreakEnabled());
}

TEST_F(ShellVolume, ReadOnlyVolumeRefusesCreatingOpensAndWritesNothing) {
  WriteHostFile(Volume.Path() / "old.bin", "old contents");
  HostFirmwareConfig Config;
  Config.ReadOnlyVolume = true;
  Start(Config);
  SHELL_FILE_HANDLE File;
  EXPECT_EQ(Open(u"new.bin", Create, &File), EFI_WRITE_PROTECTED);
  EXPECT_EQ(File, nullptr);
  EXPECT_EQ(Open(u"old.bin", Create, &File), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Open(u"old.bin", ReadWrite, &File), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Shell->CreateFile(u"dir", EFI_FILE_DIRECTORY, &File), EFI_WRITE_PROTECTED);
  ASSERT_EQ(Open(u"old.bin", Read, &File), EFI_SUCCESS);
  EFI_FILE_INFO *Info = Shell->GetFileInfo(File);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Shell->SetFileInfo(File, Info), EFI_WRITE_PROTECTED);
  Model->SystemTable()->BootServices->FreePool(Info);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  EXPECT_FALSE(fs::exists(Volume.Path() / "new.bin"));
  EXPECT_FALSE(fs::exists(Volume.Path() / "dir"));
  EXPECT_EQ(ReadHostFile(Volume.Path() / "old.bin"), "old contents");
}

TEST_F(ShellVolume, FullVolumeRefusesAWriteThatDoesNotFitAndKeepsWhatWasThere) {
  WriteHostFile(Volume.Path() / "old.bin", std::string(600, 'o'));
  HostFirmwareConfig Config;
  Config.VolumeBytes = 1000;
  Start(Config);
  SHELL_FILE_HANDLE File;
  ASSERT_EQ(Open(u"new.bin", Create, &File), EFI_SUCCESS);
  UINTN Count = 0;
  ASSERT_EQ(Write(File, std::string(300, 'n'), &Count), EFI_SUCCESS);
  EXPECT_EQ(Write(File, std::string(200, 'm'), &Count), EFI_VOLUME_FULL);
  EXPECT_EQ(Count, 0u);
  ASSERT_EQ(Write(File, std::string(100, 'k'), &Count), EFI_SUCCESS);  // exactly fills it
  EXPECT_EQ(Write(File, "z", &Count), EFI_VOLUME_FULL);
  EXPECT_EQ(Shell->CloseFile(File), EFI_SUCCESS);
  EXPECT_EQ(ReadHostFile(Volume.Path() / "new.bin"), std::string(300, 'n') + std::string(100, 'k'));
  EXPECT_EQ(ReadHostFile(Volume.Path() / "old.bin"), std::string(600, 'o'));
}

TEST_F(ShellVolume, EachFaultHitsTheFirstCallOfItsKindAndDoesNothingElse) {
  WriteHostFile(Volume.Path() / "in.bin", "input");
  HostFirmwareConfig Config;
  Config.FileFaults = {
      {ShellFileOp::Open, EFI_DEVICE_ERROR},      {ShellFileOp::Create, EFI_ACCESS_DENIED},
      {ShellFileOp::Write, EFI_VOLUME_CORRUPTED}, {ShellFileOp::Read, EFI_NO_MEDIA},
      {ShellFileOp::Size, EFI_TIMEOUT},           {ShellFileOp::Size, EFI_ABORTED}};
  Start(Config);
  SHELL_FILE_HANDLE In;
  EXPECT_EQ(Open(u"in.bin", Read, &In), EFI_DEVICE_ERROR);
  EXPECT_EQ(In, nullptr);
  ASSERT_EQ(Open(u"in.bin", Read, &In), EFI_SUCCESS);

  SHELL_FILE_HANDLE Out;
  EXPECT_EQ(Open(u"out.bin", Create, &Out), EFI_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(Volume.Path() / "out.bin"));
  ASSERT_EQ(Open(u"out.bin", Create, &Out), EFI_SUCCESS);

  UINTN Count = 0;
  EXPECT_EQ(Write(Out, "abc", &Count), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(ReadHostFile(Volume.Path() / "out.bin"), "");
  EXPECT_EQ(Write(Out, "abc", &Count), EFI_SUCCESS);

  char Buffer[8] = {};
  UINTN Size = 8;
  EXPECT_EQ(Shell->ReadFile(In, &Size, Buffer), EFI_NO_MEDIA);
  EXPECT_EQ(Buffer[0], 0);
  ASSERT_EQ(Shell->ReadFile(In, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ(std::string(Buffer, Size), "input");  // the failed read moved nothing

  UINT64 FileSize = 0;
  EXPECT_EQ(Shell->GetFileSize(In, &FileSize), EFI_TIMEOUT);
  EXPECT_EQ(Shell->GetFileSize(In, &FileSize), EFI_ABORTED);
  EXPECT_EQ(Shell->GetFileSize(In, &FileSize), EFI_SUCCESS);
  EXPECT_EQ(FileSize, 5u);
  EXPECT_EQ(Shell->CloseFile(In), EFI_SUCCESS);
  EXPECT_EQ(Shell->CloseFile(Out), EFI_SUCCESS);
}

// DeleteFile as the UEFI Shell defines it: the handle is closed in every case,
// and what cannot be deleted stays with EFI_WARN_DELETE_FAILURE.
TEST_F(ShellVolume, DeleteFileClosesTheHandleInEveryCaseAndDeletesWhatItMay) {
  WriteHostFile(Volume.Path() / "old.bin", "old contents");
  fs::create_directory(Volume.Path() / "full");
  WriteHostFile(Volume.Path() / "full" / "inner.bin", "i");
  struct Case {
    const char16_t *Name;
    UINT64 Mode;
    bool Directory;  // made with CreateFile and the directory attribute
    EFI_STATUS Expected;
    const char *Left;  // what must stay on the volume, or null when nothing does
  };
  const Case Cases[] = {
      {u"new.bin", Create, false, EFI_SUCCESS, nullptr},
      {u"old.bin", ReadWrite, false, EFI_SUCCESS, nullptr},
      {u"empty", Create, true, EFI_SUCCESS, nullptr},
      {u"old2.bin", Read, false, EFI_WARN_DELETE_FAILURE, "old2.bin"},
      {u"full", Create, true, EFI_WARN_DELETE_FAILURE, "full"},
      {u"NUL", Create, false, EFI_WARN_DELETE_FAILURE, nullptr},
  };
  WriteHostFile(Volume.Path() / "old2.bin", "kept");
  Start();
  for (const Case &C : Cases) {
    SHELL_FILE_HANDLE File = nullptr;
    EFI_STATUS Opened = C.Directory ? Shell->CreateFile(C.Name, EFI_FILE_DIRECTORY, &File)
                                    : Open(C.Name, C.Mode, &File);
    ASSERT_EQ(Opened, EFI_SUCCESS) << HostUcs2ToUtf8(C.Name);
    EXPECT_EQ(Shell->DeleteFile(File), C.Expected) << HostUcs2ToUtf8(C.Name);
    EXPECT_EQ(Model->OpenFileHandles(), 0u) << HostUcs2ToUtf8(C.Name);
    EXPECT_EQ(fs::exists(Volume.Path() / HostUcs2ToUtf8(C.Name)), C.Left != nullptr)
        << HostUcs2ToUtf8(C.Name);
  }
  EXPECT_EQ(ReadHostFile(Volume.Path() / "old2.bin"), "kept");
  EXPECT_EQ(ReadHostFile(Volume.Path() / "full" / "inner.bin"), "i");
  EXPECT_EQ(Model->UnexpectedCalls(), 0u);
}
