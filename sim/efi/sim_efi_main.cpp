// pchflash-sim.efi: the application, unchanged, on the simulated PCH inside the
// real UEFI Shell. Before the application's entry point runs, the simulated
// platform is built from the files on the volume this image was started from
// (pchflash-sim.opt, simflash.bin); the flash goes back to simflash.bin before the
// application returns and before a reset it starts reaches the real machine.
#include "sim/efi/efi_volume_defs.h"
#include "sim/efi/firmware_view.h"
#include "sim/efi/option_line.h"
#include "sim/regs/rst_cnt.h"
#include "sim/sim_backend.h"

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

constexpr UINT64 OPTIONS_FILE_MAX_BYTES = 4096;

struct SimEfiRun {
  EFI_HANDLE Image;
  EFI_SYSTEM_TABLE *Real;
  EFI_FILE_PROTOCOL *Root;
  SimPlatform *Platform;
  BOOLEAN FlashFileMissing;  // simflash.bin did not exist: it is written in any case
  BOOLEAN FlashSaved;
};

SimEfiRun gRun;

// ---- Console and pool of the real firmware
VOID Print(const char *Text) {
  CHAR16 Line[128];
  while (*Text != '\0') {
    UINTN Count = 0;
    while (*Text != '\0' && Count + 1 < sizeof(Line) / sizeof(Line[0])) {
      Line[Count++] = static_cast<CHAR16>(static_cast<unsigned char>(*Text++));
    }
    Line[Count] = 0;
    gRun.Real->ConOut->OutputString(gRun.Real->ConOut, Line);
  }
}

VOID PrintHex(UINT64 Value) {
  char Text[19] = "0x";
  char Digits[16];
  UINTN Count = 0;
  do {
    Digits[Count++] = "0123456789ABCDEF"[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  for (UINTN I = 0; I < Count; I++) Text[2 + I] = Digits[Count - 1 - I];
  Text[2 + Count] = '\0';
  Print(Text);
}

VOID PrintDecimal(UINT64 Value) {
  char Digits[21];
  UINTN Count = 0;
  do {
    Digits[Count++] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  char Text[21];
  for (UINTN I = 0; I < Count; I++) Text[I] = Digits[Count - 1 - I];
  Text[Count] = '\0';
  Print(Text);
}

VOID PrintFailure(const char *What, EFI_STATUS Status) {
  Print("pchflash-sim.efi: ");
  Print(What);
  Print(" (status ");
  PrintHex(Status);
  Print(").\r\n");
}

VOID *PoolAllocate(UINTN Bytes) {
  VOID *Buffer = nullptr;
  if (gRun.Real->BootServices->AllocatePool(EfiBootServicesData, Bytes, &Buffer) != EFI_SUCCESS) {
    return nullptr;
  }
  return Buffer;
}

VOID PoolFree(VOID *Buffer) {
  if (Buffer != nullptr) gRun.Real->BootServices->FreePool(Buffer);
}

VOID *SimPoolAllocate(VOID *, size_t Bytes) { return PoolAllocate(Bytes); }
VOID SimPoolFree(VOID *, VOID *Buffer) { PoolFree(Buffer); }

// ---- Files on the start volume
EFI_STATUS OpenStartVolume(EFI_FILE_PROTOCOL **Root) {
  EFI_BOOT_SERVICES *Services = gRun.Real->BootServices;
  EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  EFI_GUID FileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
  VOID *Interface = nullptr;
  EFI_STATUS Status = Services->OpenProtocol(gRun.Image, &LoadedImageGuid, &Interface, gRun.Image,
                                             nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (Status != EFI_SUCCESS) return Status;
  EFI_HANDLE Device = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface)->DeviceHandle;
  Status = Services->OpenProtocol(Device, &FileSystemGuid, &Interface, gRun.Image, nullptr,
                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (Status != EFI_SUCCESS) return Status;
  auto *FileSystem = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(Interface);
  return FileSystem->OpenVolume(FileSystem, Root);
}

EFI_STATUS FileSize(EFI_FILE_PROTOCOL *File, UINT64 *Size) {
  EFI_GUID InfoGuid = EFI_FILE_INFO_GUID;
  // The fixed part and a name of up to 64 characters; a longer name needs more.
  UINT64 Buffer[(EFI_FILE_INFO_FIXED_SIZE + 130 + 7) / 8];
  UINTN BufferSize = sizeof(Buffer);
  EFI_STATUS Status = File->GetInfo(File, &InfoGuid, &BufferSize, Buffer);
  if (Status != EFI_SUCCESS) return Status;
  *Size = reinterpret_cast<EFI_FILE_INFO *>(Buffer)->FileSize;
  return EFI_SUCCESS;
}

// Reads exactly Size bytes from the start of File into Buffer.
EFI_STATUS ReadExactly(EFI_FILE_PROTOCOL *File, VOID *Buffer, UINTN Size) {
  UINTN Count = Size;
  EFI_STATUS Status = File->Read(File, &Count, Buffer);
  if (Status == EFI_SUCCESS && Count != Size) Status = EFI_END_OF_FILE;
  return Status;
}

// A missing file leaves *Data null. A file that is there but cannot be read, or
// is larger than MaxSize, is a failure.
EFI_STATUS ReadWholeFile(const CHAR16 *Name, UINT64 MaxSize, UINT8 **Data, UINT64 *Size) {
  *Data = nullptr;
  *Size = 0;
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status =
      gRun.Root->Open(gRun.Root, &File, const_cast<CHAR16 *>(Name), EFI_FILE_MODE_READ, 0);
  if (Status == EFI_NOT_FOUND) return EFI_SUCCESS;
  if (Status != EFI_SUCCESS) return Status;
  Status = FileSize(File, Size);
  if (Status == EFI_SUCCESS && *Size > MaxSize) Status = EFI_BAD_BUFFER_SIZE;
  if (Status == EFI_SUCCESS) {
    *Data = static_cast<UINT8 *>(PoolAllocate(*Size != 0 ? *Size : 1));
    Status = *Data == nullptr ? EFI_OUT_OF_RESOURCES : ReadExactly(File, *Data, *Size);
  }
  File->Close(File);
  if (Status != EFI_SUCCESS) {
    PoolFree(*Data);
    *Data = nullptr;
  }
  return Status;
}

EFI_STATUS WriteWholeFile(const CHAR16 *Name, const UINT8 *Data, UINTN Size) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status =
      gRun.Root->Open(gRun.Root, &File, const_cast<CHAR16 *>(Name),
                      EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
  if (Status != EFI_SUCCESS) return Status;
  UINTN Count = Size;
  Status = File->SetPosition(File, 0);
  if (Status == EFI_SUCCESS) Status = File->Write(File, &Count, const_cast<UINT8 *>(Data));
  if (Status == EFI_SUCCESS && Count != Size) Status = EFI_VOLUME_FULL;
  if (Status == EFI_SUCCESS) Status = File->Flush(File);
  const EFI_STATUS CloseStatus = File->Close(File);
  return Status == EFI_SUCCESS ? CloseStatus : Status;
}

// ---- The simulated platform
constexpr CHAR16 OPTIONS_FILE[] = u"pchflash-sim.opt";
constexpr CHAR16 FLASH_FILE[] = u"simflash.bin";

EFI_STATUS ReadOptions(SimOptionSettings *Options) {
  UINT8 *Text = nullptr;
  UINT64 Size = 0;
  EFI_STATUS Status = ReadWholeFile(OPTIONS_FILE, OPTIONS_FILE_MAX_BYTES, &Text, &Size);
  if (Status != EFI_SUCCESS) {
    PrintFailure(Status == EFI_BAD_BUFFER_SIZE ? "pchflash-sim.opt is longer than one line of "
                                                 "options"
                                               : "pchflash-sim.opt cannot be read",
                 Status);
    return EFI_INVALID_PARAMETER;
  }
  char Message[SIM_EFI_MESSAGE_SIZE];
  const bool Good = SimEfiParseOptions(Text, Size, Options, Message);
  PoolFree(Text);
  if (!Good) {
    Print(Message);
    Print("\r\n");
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS CreatePlatform(SimOptionSettings *Options) {
  const UINT64 FlashSize = SimConfigFlashSize(&Options->Platform);
  UINT8 *Flash = nullptr;
  UINT64 Size = 0;
  EFI_STATUS Status = ReadWholeFile(FLASH_FILE, FlashSize, &Flash, &Size);
  if (Status == EFI_SUCCESS && Flash != nullptr && Size != FlashSize) {
    Status = EFI_BAD_BUFFER_SIZE;
  }
  if (Status != EFI_SUCCESS) {
    PoolFree(Flash);
    Print("pchflash-sim.efi: simflash.bin must hold the whole simulated flash, ");
    PrintDecimal(FlashSize);
    Print(" bytes (status ");
    PrintHex(Status);
    Print(").\r\n");
    return EFI_INVALID_PARAMETER;
  }
  gRun.FlashFileMissing = Flash == nullptr;
  Options->Platform.InitialFlash = Flash;
  Options->Platform.InitialFlashSize = Flash != nullptr ? Size : 0;
  const SimAllocator Allocator = {SimPoolAllocate, SimPoolFree, nullptr};
  gRun.Platform = SimPlatformCreate(&Options->Platform, &Allocator);
  PoolFree(Flash);
  Options->Platform.InitialFlash = nullptr;
  if (gRun.Platform == nullptr) {
    PrintFailure("the options describe no platform the simulator can build", EFI_OUT_OF_RESOURCES);
    return EFI_OUT_OF_RESOURCES;
  }
  return EFI_SUCCESS;
}

// Unchanged flash is not written again: the file already holds it.
EFI_STATUS SaveFlash() {
  if (gRun.FlashSaved) return EFI_SUCCESS;
  gRun.FlashSaved = TRUE;
  if (!gRun.FlashFileMissing && SimGetCounters(gRun.Platform)->FlashModifyingCycles == 0) {
    return EFI_SUCCESS;
  }
  const EFI_STATUS Status =
      WriteWholeFile(FLASH_FILE, SimFlashData(gRun.Platform), SimFlashSize(gRun.Platform));
  if (Status != EFI_SUCCESS) PrintFailure("writing simflash.bin failed", Status);
  return Status;
}

// The application's waits pass on the simulated platform's clock, which the
// simulated hardware sees; real time means nothing to it.
EFI_STATUS EFIAPI SimulatedStall(UINTN Microseconds) {
  constexpr UINT64 NS_PER_US = 1000;
  const UINT64 Us = Microseconds;
  if (gRun.Platform != nullptr) {
    SimAdvanceTime(gRun.Platform, Us > ~0ull / NS_PER_US ? ~0ull : Us * NS_PER_US);
  }
  return EFI_SUCCESS;
}

VOID PassResetOn(VOID *, uint16_t, uint8_t Value) {
  SaveFlash();
  __asm__ __volatile__("outb %0, %1" : : "a"(Value), "Nd"(RST_CNT_PORT));
}

}  // namespace

extern "C" EFI_STATUS EFIAPI SimEfiMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gRun = SimEfiRun{ImageHandle, SystemTable, nullptr, nullptr, FALSE, FALSE};
  EFI_STATUS Status = OpenStartVolume(&gRun.Root);
  if (Status != EFI_SUCCESS) {
    PrintFailure("cannot open the volume it was started from", Status);
    return Status;
  }
  SimOptionSettings Options;
  Status = ReadOptions(&Options);
  if (Status == EFI_SUCCESS) Status = CreatePlatform(&Options);
  SimEfiFirmwareView View = {nullptr, nullptr};
  if (Status == EFI_SUCCESS) {
    Status = SimEfiBuildFirmwareView(
        SystemTable, Options.McfgPresent, Options.McfgBase, SimulatedStall, PoolAllocate, &View,
        Options.FadtPresent ? SimEfiFadtPatched : SimEfiFadtNone, Options.FadtBase);
    if (Status != EFI_SUCCESS) PrintFailure("no memory for the firmware view", Status);
  }
  if (Status == EFI_SUCCESS) {
    SimBackendAttach(gRun.Platform);
    SimBackendOnReset(PassResetOn, nullptr);
    Status = ModuleEntry(ImageHandle, View.SystemTable);
    SimBackendOnReset(nullptr, nullptr);
    SimBackendAttach(nullptr);
    // A run that succeeded but whose flash was lost is no success.
    const EFI_STATUS SaveStatus = SaveFlash();
    if (Status == EFI_SUCCESS) Status = SaveStatus;
  }
  PoolFree(View.Memory);
  SimPlatformDestroy(gRun.Platform);
  gRun.Root->Close(gRun.Root);
  return Status;
}
