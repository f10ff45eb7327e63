// The host firmware model: assembles the system table, the console, the shell
// parameters, the collation protocol and the platform's full-flash protocol, and
// answers the accessors tests use. The service tables live in their own files.
#include "host/firmware_model.h"

#include <cstring>

#include "host/model_state.h"

namespace {

HostFirmware::Impl *gActiveModel = nullptr;

constexpr UINT32 SystemTableRevision = 0x00020046;  // UEFI 2.70, as OVMF reports
constexpr UINT32 FirmwareRevision = 0x00010000;
constexpr UINT32 ShellMajorVersion = 2;
constexpr UINT32 ShellMinorVersion = 2;

// Header CRC32 as firmware computes it: over HeaderSize bytes with the CRC32 field 0.
UINT32 Crc32(const void *Data, size_t Length) {
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (size_t I = 0; I < Length; ++I) {
    Crc ^= Bytes[I];
    for (int Bit = 0; Bit < 8; ++Bit) {
      Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
    }
  }
  return ~Crc;
}

void SealHeader(EFI_TABLE_HEADER *Header) {
  Header->CRC32 = 0;
  Header->CRC32 = Crc32(Header, Header->HeaderSize);
}

// ---- ConOut ---------------------------------------------------------------------
EFI_STATUS EFIAPI ConOutOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "OutputString");
  if (This != &Model.ConOut) {
    RecordUnexpected(Model, "OutputString through a foreign interface");
  }
  if (String == nullptr) {
    RecordUnexpected(Model, "OutputString with a null string");
    return EFI_INVALID_PARAMETER;
  }
  for (const CHAR16 *Character = String; *Character != 0; ++Character) {
    Model.Console.push_back(*Character);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI StdErrOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *) {
  // The application writes to ConOut only.
  RecordUnexpected(ActiveModel(), "StdErr.OutputString");
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ConOutReset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN) {
  RecordUnexpected(ActiveModel(), "ConOut.Reset");
  return EFI_UNSUPPORTED;
}

void BuildTextOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Output, EFI_TEXT_STRING OutputString,
                     VOID *Mode) {
  Output->Reset = ConOutReset;
  Output->OutputString = OutputString;
  Output->TestString = UnexpectedService<"ConOut.TestString">;
  Output->QueryMode = UnexpectedService<"ConOut.QueryMode">;
  Output->SetMode = UnexpectedService<"ConOut.SetMode">;
  Output->SetAttribute = UnexpectedService<"ConOut.SetAttribute">;
  Output->ClearScreen = UnexpectedService<"ConOut.ClearScreen">;
  Output->SetCursorPosition = UnexpectedService<"ConOut.SetCursorPosition">;
  Output->EnableCursor = UnexpectedService<"ConOut.EnableCursor">;
  Output->Mode = Mode;
}

// ---- Unicode collation --------------------------------------------------------
// Upper case of the English collation: ASCII and the Latin-1 letters.
CHAR16 CollationUpper(CHAR16 Character) {
  if (Character >= u'a' && Character <= u'z') {
    return static_cast<CHAR16>(Character - 0x20);
  }
  if (Character >= 0xE0 && Character <= 0xFE && Character != 0xF7) {
    return static_cast<CHAR16>(Character - 0x20);
  }
  return Character;
}

INTN EFIAPI CollationStriColl(EFI_UNICODE_COLLATION2_PROTOCOL *, CHAR16 *Left, CHAR16 *Right) {
  if (HostFirmware::Impl *Model = ActiveModelOrNull()) {
    CountCall(*Model, "StriColl");
  }
  // The difference of the first pair of upper-cased characters that differ.
  while (*Left != 0 && CollationUpper(*Left) == CollationUpper(*Right)) {
    ++Left;
    ++Right;
  }
  return static_cast<INTN>(CollationUpper(*Left)) - static_cast<INTN>(CollationUpper(*Right));
}

CHAR8 CollationLanguages[] = "en";

// One instance for the whole process: an interface cached by the application
// from an earlier run then still points at a working protocol.
EFI_UNICODE_COLLATION2_PROTOCOL gCollation = {
    CollationStriColl,
    UnexpectedService<"Collation.MetaiMatch">,
    UnexpectedService<"Collation.StrLwr">,
    UnexpectedService<"Collation.StrUpr">,
    UnexpectedService<"Collation.FatToStr">,
    UnexpectedService<"Collation.StrToFat">,
    CollationLanguages,
};

// ---- Platform full-flash protocol ---------------------------------------------
EFI_STATUS EFIAPI FullFlashPrepareFunction(VOID *This, UINTN Argument1, UINTN Argument2) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "FullFlashPrepare");
  ++Model.FullFlashPrepareCalls;
  if (This != &Model.FullFlashPrepare || Argument1 != 0 || Argument2 != 0) {
    RecordUnexpected(Model, "FullFlashPrepare called with other arguments than (This, 0, 0)");
  }
  if (Model.Config.FullFlashPrepareStatus == EFI_SUCCESS && Model.Config.OnFullFlashPrepare) {
    Model.Config.OnFullFlashPrepare();
  }
  return Model.Config.FullFlashPrepareStatus;
}

void BuildArgv(HostFirmware::Impl &Model) {
  Model.ArgvText = Model.Config.Argv;
  Model.ArgvPointers.clear();
  for (std::u16string &Argument : Model.ArgvText) {
    Model.ArgvPointers.push_back(Argument.data());
  }
  Model.ArgvPointers.push_back(nullptr);
  Model.ShellParameters.Argv = Model.ArgvPointers.data();
  Model.ShellParameters.Argc = Model.ArgvText.size();
  // Opaque, non-null as in the real shell; the application never uses them.
  static uint64_t StandardHandles[3];
  Model.ShellParameters.StdIn = &StandardHandles[0];
  Model.ShellParameters.StdOut = &StandardHandles[1];
  Model.ShellParameters.StdErr = &StandardHandles[2];
}

void AddProtocol(HandleRecord *Record, EFI_GUID Guid, VOID *Interface) {
  Record->Protocols.push_back(ProtocolInstance{Guid, Interface, {}});
}

void InstallPlatformProtocols(HostFirmware::Impl &Model) {
  Model.Image = NewHandle(Model, "image", true);
  if (Model.Config.ShellParametersPresent) {
    AddProtocol(Model.Image, EFI_SHELL_PARAMETERS_PROTOCOL_GUID, &Model.ShellParameters);
  }
  // The real shell installs its protocol on its own handle, not on the image's.
  HandleRecord *ShellHandle = NewHandle(Model, "shell", true);
  if (Model.Config.ShellProtocolPresent) {
    AddProtocol(ShellHandle, EFI_SHELL_PROTOCOL_GUID, &Model.Shell);
  }
  AddProtocol(NewHandle(Model, "collation", true), EFI_UNICODE_COLLATION2_PROTOCOL_GUID,
              &gCollation);
  if (Model.Config.FullFlashPreparePresent) {
    // Only the third slot is a service; the first two must never be called.
    Model.FullFlashPrepare.Reserved0 =
        reinterpret_cast<VOID *>(UnexpectedService<"FullFlashPrepare.Slot0">);
    Model.FullFlashPrepare.Reserved1 =
        reinterpret_cast<VOID *>(UnexpectedService<"FullFlashPrepare.Slot1">);
    Model.FullFlashPrepare.Prepare = FullFlashPrepareFunction;
    AddProtocol(NewHandle(Model, "platform", true), FULL_FLASH_PREPARE_PROTOCOL_GUID,
                &Model.FullFlashPrepare);
  }
}

void BuildSystemTable(HostFirmware::Impl &Model) {
  BuildTextOutput(&Model.ConOut, ConOutOutputString, Model.ConOutMode);
  BuildTextOutput(&Model.StdErr, StdErrOutputString, Model.ConOutMode);
  static uint64_t ConsoleHandles[3];

  EFI_SYSTEM_TABLE &Table = Model.SystemTable;
  Table.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  Table.Hdr.Revision = SystemTableRevision;
  Table.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  Table.FirmwareVendor = Model.FirmwareVendor.data();
  Table.FirmwareRevision = FirmwareRevision;
  Table.ConsoleInHandle = &ConsoleHandles[0];
  Table.ConIn = nullptr;
  Table.ConsoleOutHandle = &ConsoleHandles[1];
  Table.ConOut = &Model.ConOut;
  Table.StandardErrorHandle = &ConsoleHandles[2];
  Table.StdErr = &Model.StdErr;
  Table.RuntimeServices = &Model.RuntimeServices;
  Table.BootServices = &Model.BootServices;
  Table.NumberOfTableEntries = Model.ConfigurationTables.size();
  Table.ConfigurationTable = Model.ConfigurationTables.data();

  SealHeader(&Model.BootServices.Hdr);
  SealHeader(&Model.RuntimeServices.Hdr);
  SealHeader(&Table.Hdr);
}

void AppendUtf8(std::string *Out, uint32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out->push_back(static_cast<char>(CodePoint));
  } else if (CodePoint < 0x800) {
    Out->push_back(static_cast<char>(0xC0 | (CodePoint >> 6)));
    Out->push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
  } else if (CodePoint < 0x10000) {
    Out->push_back(static_cast<char>(0xE0 | (CodePoint >> 12)));
    Out->push_back(static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F)));
    Out->push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
  } else {
    Out->push_back(static_cast<char>(0xF0 | (CodePoint >> 18)));
    Out->push_back(static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F)));
    Out->push_back(static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F)));
    Out->push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
  }
}

}  // namespace

// ---- Shared model helpers ---------------------------------------------------------
HostFirmware::Impl *ActiveModelOrNull() { return gActiveModel; }

HostFirmware::Impl &ActiveModel() {
  if (gActiveModel == nullptr) {
    std::fprintf(stderr, "host firmware model: a firmware service was called with no model\n");
    std::abort();
  }
  return *gActiveModel;
}

void CountCall(HostFirmware::Impl &Model, const char *Service) { ++Model.Calls[Service]; }

void RecordUnexpected(HostFirmware::Impl &Model, const std::string &What) {
  ++Model.Unexpected;
  Model.UnexpectedNames.push_back(What);
}

bool SameGuid(const EFI_GUID &Left, const EFI_GUID &Right) {
  return std::memcmp(&Left, &Right, sizeof(EFI_GUID)) == 0;
}

std::string HostUcs2ToUtf8(const std::u16string &Text) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    uint32_t Unit = Text[I];
    if (Unit >= 0xD800 && Unit <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
        Text[I + 1] <= 0xDFFF) {
      AppendUtf8(&Out, 0x10000 + ((Unit - 0xD800) << 10) + (Text[I + 1] - 0xDC00));
      ++I;
    } else if (Unit >= 0xD800 && Unit <= 0xDFFF) {
      AppendUtf8(&Out, 0xFFFD);
    } else {
      AppendUtf8(&Out, Unit);
    }
  }
  return Out;
}

std::u16string HostUtf8ToUcs2(const std::string &Text) {
  std::u16string Out;
  size_t I = 0;
  while (I < Text.size()) {
    uint8_t Lead = static_cast<uint8_t>(Text[I]);
    uint32_t CodePoint = 0xFFFD;
    size_t Length = 1;
    if (Lead < 0x80) {
      CodePoint = Lead;
    } else if ((Lead & 0xE0) == 0xC0) {
      Length = 2;
      CodePoint = Lead & 0x1F;
    } else if ((Lead & 0xF0) == 0xE0) {
      Length = 3;
      CodePoint = Lead & 0x0F;
    } else if ((Lead & 0xF8) == 0xF0) {
      Length = 4;
      CodePoint = Lead & 0x07;
    }
    if (Length > 1) {
      bool Valid = I + Length <= Text.size();
      for (size_t K = 1; Valid && K < Length; ++K) {
        uint8_t Next = static_cast<uint8_t>(Text[I + K]);
        Valid = (Next & 0xC0) == 0x80;
        CodePoint = (CodePoint << 6) | (Next & 0x3F);
      }
      if (!Valid) {
        CodePoint = 0xFFFD;
        Length = 1;
      }
    }
    if (CodePoint >= 0x10000) {
      CodePoint -= 0x10000;
      Out.push_back(static_cast<char16_t>(0xD800 + (CodePoint >> 10)));
      Out.push_back(static_cast<char16_t>(0xDC00 + (CodePoint & 0x3FF)));
    } else {
      Out.push_back(static_cast<char16_t>(CodePoint));
    }
    I += Length;
  }
  return Out;
}

// ---- HostFirmware -------------------------------------------------------------------
HostFirmware::HostFirmware(HostFirmwareConfig Config) : Self(std::make_unique<Impl>()) {
  Self->Config = std::move(Config);
  Self->Tpl = Self->Config.StartTpl;
  Self->FaultUsed.assign(Self->Config.FileFaults.size(), false);
  Self->Previous = gActiveModel;
  gActiveModel = Self.get();

  BuildArgv(*Self);
  InstallBootServices(*Self);
  InstallRuntimeServices(*Self);
  InstallConfigurationTables(*Self);
  InstallShellProtocol(*Self);
  Self->Shell.MajorVersion = ShellMajorVersion;
  Self->Shell.MinorVersion = ShellMinorVersion;
  InstallPlatformProtocols(*Self);
  BuildSystemTable(*Self);
}

HostFirmware::~HostFirmware() {
  CloseAllShellFiles(*Self);
  ReleasePool(*Self);
  if (gActiveModel == Self.get()) {
    gActiveModel = Self->Previous;
  }
}

EFI_HANDLE HostFirmware::ImageHandle() { return Self->Image; }
EFI_SYSTEM_TABLE *HostFirmware::SystemTable() { return &Self->SystemTable; }
const std::u16string &HostFirmware::Console() const { return Self->Console; }
std::string HostFirmware::ConsoleUtf8() const { return HostUcs2ToUtf8(Self->Console); }
uint64_t HostFirmware::PoolOutstanding() const { return Self->Pool.size(); }
uint64_t HostFirmware::AllocationCount() const { return Self->AllocatePoolCalls; }
EFI_TPL HostFirmware::CurrentTpl() const { return Self->Tpl; }
bool HostFirmware::PageBreakEnabled() const { return Self->PageBreak; }
uint64_t HostFirmware::UnexpectedCalls() const { return Self->Unexpected; }
std::vector<std::string> HostFirmware::UnexpectedCallNames() const { return Self->UnexpectedNames; }
uint64_t HostFirmware::FullFlashPrepareCalls() const { return Self->FullFlashPrepareCalls; }
uint64_t HostFirmware::OpenFileHandles() const { return Self->Files.size(); }

uint64_t HostFirmware::CallCount(const std::string &Service) const {
  auto Found = Self->Calls.find(Service);
  return Found == Self->Calls.end() ? 0 : Found->second;
}

std::optional<uint32_t> HostFirmware::DebugMask() const {
  if (!Self->DebugMaskPublished) {
    return std::nullopt;
  }
  const EFI_GUID Guid = EFI_DEBUG_MASK_PROTOCOL_GUID;
  for (const std::unique_ptr<HandleRecord> &Record : Self->Handles) {
    if (!Record->Live) {
      continue;
    }
    if (ProtocolInstance *Instance = FindProtocol(Record.get(), Guid)) {
      auto *Protocol = static_cast<EFI_DEBUG_MASK_PROTOCOL *>(Instance->Interface);
      UINTN Mask = 0;
      if (Protocol != nullptr && Protocol->GetDebugMask(Protocol, &Mask) == EFI_SUCCESS) {
        return static_cast<uint32_t>(Mask);
      }
      return std::nullopt;
    }
  }
  return Self->WithdrawnDebugMask;
}

void *HostFirmware::InstalledInterface(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  HandleRecord *Record = FindHandle(*Self, Handle);
  if (Record == nullptr) {
    return nullptr;
  }
  ProtocolInstance *Instance = FindProtocol(Record, Guid);
  return Instance == nullptr ? nullptr : Instance->Interface;
}
