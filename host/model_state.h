// Internal state of the host firmware model, shared by its service files
// (boot services, variables, configuration tables, shell volume). Not for tests:
// they use host/firmware_model.h.
//
// Firmware services carry no context pointer (AllocatePool, GetVariable, the
// shell's file functions ...), so every service finds the model through the one
// active instance: the most recently constructed HostFirmware that still lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/firmware_model.h"

// A string usable as a template argument, so each unused service slot gets its
// own function that knows its name.
template <size_t N>
struct ServiceName {
  char Text[N];
  constexpr ServiceName(const char (&Source)[N]) {
    for (size_t I = 0; I < N; ++I) {
      Text[I] = Source[I];
    }
  }
};

struct OpenRecord {
  EFI_HANDLE Agent;
  EFI_HANDLE Controller;
  UINT32 Attributes;
};

struct ProtocolInstance {
  EFI_GUID Guid;
  VOID *Interface;
  std::vector<OpenRecord> Opens;
};

struct HandleRecord {
  std::string Label;  // for diagnostics: "image", "shell", "collation" ...
  bool Live = true;   // false once a handle the application created lost its last protocol
  bool Permanent = false;
  std::vector<ProtocolInstance> Protocols;
};

// One open shell file handle.
struct ShellFile {
  std::filesystem::path Path;
  bool Directory = false;
  bool Nul = false;       // the "NUL" sink
  bool Writable = false;  // opened with EFI_FILE_MODE_WRITE
  bool Root = false;      // the volume's root directory
  int Fd = -1;
  uint64_t Position = 0;
};

struct VariableRecord {
  std::u16string Name;
  EFI_GUID Guid;
  UINT32 Attributes;
  std::vector<uint8_t> Data;
};

struct HostFirmware::Impl {
  HostFirmwareConfig Config;
  Impl *Previous = nullptr;  // the instance that was active before this one

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL StdErr{};
  uint64_t ConOutMode[3] = {};  // stands in for EFI_SIMPLE_TEXT_OUTPUT_MODE
  EFI_SHELL_PROTOCOL Shell{};
  EFI_SHELL_PARAMETERS_PROTOCOL ShellParameters{};
  FULL_FLASH_PREPARE_PROTOCOL FullFlashPrepare{};
  std::u16string FirmwareVendor = u"pchflash host firmware model";

  std::vector<std::u16string> ArgvText;
  std::vector<CHAR16 *> ArgvPointers;

  // Configuration table and the HOB list behind it (8-byte aligned storage).
  std::vector<EFI_CONFIGURATION_TABLE> ConfigurationTables;
  std::vector<uint64_t> HobStorage;
  std::vector<uint64_t> AcpiStorage;  // RSDP, XSDT, FADT, SSDT and MCFG
  uint64_t UnrelatedTable[4] = {};

  // Pool: every live allocation and its size.
  std::map<void *, size_t> Pool;
  uint64_t AllocatePoolCalls = 0;

  // Protocol database, in creation order (LocateProtocol searches in this order).
  std::vector<std::unique_ptr<HandleRecord>> Handles;
  HandleRecord *Image = nullptr;

  EFI_TPL Tpl = TPL_APPLICATION;
  std::u16string Console;
  bool PageBreak = false;
  uint64_t Unexpected = 0;
  std::vector<std::string> UnexpectedNames;
  std::map<std::string, uint64_t> Calls;
  uint64_t FullFlashPrepareCalls = 0;

  bool DebugMaskPublished = false;
  std::optional<uint32_t> WithdrawnDebugMask;

  std::vector<VariableRecord> Variables;

  std::map<void *, std::unique_ptr<ShellFile>> Files;
  std::map<std::filesystem::path, uint64_t> FileAttributes;  // set during this run
  std::vector<bool> FaultUsed;                               // one per Config.FileFaults entry
};

// The active model; aborts with a message when no HostFirmware exists, since a
// firmware service called without one is a test set-up fault.
HostFirmware::Impl &ActiveModel();
HostFirmware::Impl *ActiveModelOrNull();

void CountCall(HostFirmware::Impl &Model, const char *Service);
void RecordUnexpected(HostFirmware::Impl &Model, const std::string &What);

template <ServiceName Name>
EFI_STATUS EFIAPI UnexpectedService() {
  RecordUnexpected(ActiveModel(), Name.Text);
  return EFI_UNSUPPORTED;
}

bool SameGuid(const EFI_GUID &Left, const EFI_GUID &Right);

// Pool memory handed out by the model itself (file information records): live in
// the same pool, so the application's FreePool releases them, but not counted as
// AllocatePool calls and never subject to the injected failure.
void *ModelPoolTake(HostFirmware::Impl &Model, size_t Size);

// Builders, one per service file.
void InstallBootServices(HostFirmware::Impl &Model);
void InstallRuntimeServices(HostFirmware::Impl &Model);
void InstallConfigurationTables(HostFirmware::Impl &Model);
// Lays out the ACPI tables for Config.McfgBase and Config.FadtBase (each table only
// when given) in AcpiStorage; returns the RSDP.
void *BuildAcpiTables(HostFirmware::Impl &Model, std::optional<uint64_t> McfgBase,
                      std::optional<uint16_t> FadtBase);
void InstallShellProtocol(HostFirmware::Impl &Model);
void CloseAllShellFiles(HostFirmware::Impl &Model);
void ReleasePool(HostFirmware::Impl &Model);

HandleRecord *NewHandle(HostFirmware::Impl &Model, const std::string &Label, bool Permanent);
HandleRecord *FindHandle(HostFirmware::Impl &Model, EFI_HANDLE Handle);
ProtocolInstance *FindProtocol(HandleRecord *Record, const EFI_GUID &Guid);
