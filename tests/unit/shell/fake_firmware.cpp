#include "fake_firmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/firmware.h"
#include "gtest/gtest.h"

namespace {

FakeFirmware *gFake = nullptr;
int gImageHandleTarget = 0;

const EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;
const EFI_GUID ParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
const EFI_GUID CollationGuid = EFI_UNICODE_COLLATION2_PROTOCOL_GUID;

bool Same(const EFI_GUID *A, const EFI_GUID &B) { return std::memcmp(A, &B, sizeof(B)) == 0; }

std::string GuidName(const EFI_GUID *Guid) {
  if (Same(Guid, ShellGuid)) return "Shell";
  if (Same(Guid, ParametersGuid)) return "Parameters";
  if (Same(Guid, CollationGuid)) return "Collation";
  return "Other";
}

EFI_STATUS EFIAPI FakeAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  FakeFirmware &F = CurrentFake();
  F.AllocateCalls++;
  F.LastAllocationSize = Size;
  if (F.AllocateCalls == F.FailAllocationNumber) {
    return EFI_OUT_OF_RESOURCES;
  }
  void *Memory = std::malloc(Size == 0 ? 1 : Size);
  std::memset(Memory, 0xA5, Size);  // pool memory is not zeroed
  F.Live.insert(Memory);
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeFreePool(VOID *Buffer) {
  FakeFirmware &F = CurrentFake();
  if (F.Live.erase(Buffer) == 0) {
    F.UnknownFrees++;
    return EFI_INVALID_PARAMETER;
  }
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeOpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface,
                                   EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  FakeFirmware &F = CurrentFake();
  F.ProtocolCalls.push_back("Open " + GuidName(Protocol));
  EXPECT_EQ(F.ImageHandle, Agent);
  EXPECT_EQ(nullptr, Controller);
  EXPECT_EQ(EFI_OPEN_PROTOCOL_GET_PROTOCOL, Attributes);
  if (Handle == F.ImageHandle) {
    if (Same(Protocol, ShellGuid) && F.ShellOnImageHandle) {
      *Interface = &F.Shell;
      return EFI_SUCCESS;
    }
    if (Same(Protocol, ParametersGuid) && F.ParametersOnImageHandle) {
      *Interface = &F.Parameters;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI FakeCloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE Agent,
                                    EFI_HANDLE Controller) {
  FakeFirmware &F = CurrentFake();
  F.ProtocolCalls.push_back("Close " + GuidName(Protocol));
  EXPECT_EQ(F.ImageHandle, Handle);
  EXPECT_EQ(F.ImageHandle, Agent);
  EXPECT_EQ(nullptr, Controller);
  // As in the real shell: the shell protocol was never opened on the image.
  return Same(Protocol, ShellGuid) && !F.ShellOnImageHandle ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  FakeFirmware &F = CurrentFake();
  EXPECT_EQ(nullptr, Registration);
  if (Same(Protocol, CollationGuid)) {
    F.CollationLocates++;
    if (F.CollationPresent) {
      *Interface = &F.Collation;
      return EFI_SUCCESS;
    }
    return EFI_NOT_FOUND;
  }
  F.ProtocolCalls.push_back("Locate " + GuidName(Protocol));
  if (Same(Protocol, ShellGuid) && F.ShellLocatable) {
    *Interface = &F.Shell;
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;
}

// The difference of the upper-cased characters, as OVMF's collation answers.
INTN EFIAPI FakeStriColl(EFI_UNICODE_COLLATION2_PROTOCOL *This, CHAR16 *Left, CHAR16 *Right) {
  EXPECT_EQ(&CurrentFake().Collation, This);
  auto Upper = [](CHAR16 C) { return (C >= u'a' && C <= u'z') ? (CHAR16)(C - 0x20) : C; };
  while (*Left != 0 && Upper(*Left) == Upper(*Right)) {
    Left++;
    Right++;
  }
  return (INTN)Upper(*Left) - (INTN)Upper(*Right);
}

EFI_STATUS EFIAPI FakeOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *Text) {
  FakeFirmware &F = CurrentFake();
  EXPECT_EQ(&F.ConOut, This);
  F.OutputCalls++;
  F.ConsoleText += Text;
  return F.OutputStatus;
}

VOID EFIAPI FakeEnablePageBreak() { CurrentFake().PageBreakCalls++; }

EFI_FILE_INFO *EFIAPI FakeGetFileInfo(SHELL_FILE_HANDLE) { return nullptr; }
EFI_STATUS EFIAPI FakeSetFileInfo(SHELL_FILE_HANDLE, const EFI_FILE_INFO *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI FakeReadFile(SHELL_FILE_HANDLE, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FakeWriteFile(SHELL_FILE_HANDLE, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FakeCloseFile(SHELL_FILE_HANDLE) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FakeGetFileSize(SHELL_FILE_HANDLE, UINT64 *) { return EFI_UNSUPPORTED; }

}  // namespace

FakeFirmware &CurrentFake() { return *gFake; }

FakeFirmware::FakeFirmware() : ImageHandle(&gImageHandleTarget) {
  std::memset(&System, 0, sizeof(System));
  std::memset(&Boot, 0, sizeof(Boot));
  std::memset(&ConOut, 0, sizeof(ConOut));
  std::memset(&Shell, 0, sizeof(Shell));
  std::memset(&Parameters, 0, sizeof(Parameters));
  std::memset(&Collation, 0, sizeof(Collation));
  Boot.AllocatePool = FakeAllocatePool;
  Boot.FreePool = FakeFreePool;
  Boot.OpenProtocol = FakeOpenProtocol;
  Boot.CloseProtocol = FakeCloseProtocol;
  Boot.LocateProtocol = FakeLocateProtocol;
  ConOut.OutputString = FakeOutputString;
  Collation.StriColl = FakeStriColl;
  Shell.EnablePageBreak = FakeEnablePageBreak;
  Shell.GetFileInfo = FakeGetFileInfo;
  Shell.SetFileInfo = FakeSetFileInfo;
  Shell.ReadFile = FakeReadFile;
  Shell.WriteFile = FakeWriteFile;
  Shell.CloseFile = FakeCloseFile;
  Shell.GetFileSize = FakeGetFileSize;
  System.BootServices = &Boot;
  System.ConOut = &ConOut;
  gFake = this;
  gFirmware = {ImageHandle, &System, &Boot};
}

FakeFirmware::~FakeFirmware() {
  for (void *Memory : Live) {
    std::free(Memory);
  }
  gFirmware = {nullptr, nullptr, nullptr};
  gFake = nullptr;
}

void FakeFirmware::SetArguments(std::initializer_list<std::u16string> Arguments) {
  ArgumentText.assign(Arguments.begin(), Arguments.end());
  ArgumentPointers.clear();
  for (std::u16string &Text : ArgumentText) {
    ArgumentPointers.push_back(Text.data());
  }
  Parameters.Argv = ArgumentPointers.data();
  Parameters.Argc = ArgumentPointers.size();
}

std::string Utf8(const std::u16string &Text) {
  std::string Out;
  for (char16_t C : Text) {
    if (C < 0x80) {
      Out += (char)C;
    } else {
      char Escaped[8];
      std::snprintf(Escaped, sizeof(Escaped), "\\u%04X", (unsigned)C);
      Out += Escaped;
    }
  }
  return Out;
}
