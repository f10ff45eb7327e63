// The host firmware model: a small stand-in for the UEFI platform and the UEFI
// Shell, written from what the application expects of them. Where the real
// shell's behaviour matters, the QEMU runs are the reference.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/option_table.h"
#include "uefi/uefi.h"

enum class ShellFileOp { Open, Create, Read, Write, Size };

struct FileFault {
  ShellFileOp Op;
  EFI_STATUS Status;  // the first such shell call of the run returns this and does nothing else
};

struct HostFirmwareConfig {
  std::filesystem::path Root = ".";  // the shell volume
  std::vector<std::u16string> Argv;  // Argv[0] included ("pchflash.efi")
  uint64_t FailAllocation = 0;       // the n-th AllocatePool fails (from 1; 0 = never)

  // FullFlashPrepareProtocol: absent, or present and answering PrepareStatus.
  bool FullFlashPreparePresent = true;
  EFI_STATUS FullFlashPrepareStatus = EFI_SUCCESS;
  // Called when the protocol function runs and answers EFI_SUCCESS, before it returns.
  std::function<void()> OnFullFlashPrepare;

  // "EFIDebug": none when empty.
  std::optional<std::vector<uint8_t>> EfiDebugBytes;
  bool VariablesNotAvailableYet = false;  // GetVariable answers EFI_NOT_AVAILABLE_YET
  // A GUID HOB of the debug-mask GUID with exactly these data bytes (HobLength is
  // 24 + size, unpadded). Keep the size a multiple of 4 under UBSan: the HOB after
  // it would otherwise start misaligned, as on a malformed list.
  std::optional<std::vector<uint8_t>> DebugHob;
  bool HobList = true;  // a HOB list in the configuration table
  // The ACPI 2.0 configuration-table entry: an RSDP (revision 2) -> XSDT -> MCFG
  // whose one allocation gives this ECAM base for segment 0, buses 0-255. None: no
  // ACPI entry at all. The default is where the simulated platform decodes ECAM.
  std::optional<uint64_t> McfgBase = SIM_DEFAULT_MCFG_BASE;
  // A FADT in the same tables, giving this ACPI I/O base (PM1a_EVT_BLK, and
  // PM_TMR_BLK 8 above). The ACPI entry exists when either table does.
  std::optional<uint16_t> FadtBase = SIM_DEFAULT_FADT_BASE;

  bool ReadOnlyVolume = false;
  std::optional<uint64_t> VolumeBytes;  // capacity of the volume; writes past it fail
  std::vector<FileFault> FileFaults;
  bool ShellProtocolPresent = true;
  bool ShellParametersPresent = true;
  EFI_TPL StartTpl = TPL_APPLICATION;
};

class HostFirmware {
 public:
  explicit HostFirmware(HostFirmwareConfig Config);
  ~HostFirmware();
  HostFirmware(const HostFirmware &) = delete;
  HostFirmware &operator=(const HostFirmware &) = delete;

  EFI_HANDLE ImageHandle();
  EFI_SYSTEM_TABLE *SystemTable();

  // Runs the application's ModuleEntry once, as the shell runs pchflash.efi.
  EFI_STATUS RunModuleEntry();

  // The console text exactly as written (UCS-2), and as UTF-8.
  const std::u16string &Console() const;
  std::string ConsoleUtf8() const;

  uint64_t PoolOutstanding() const;  // allocations not freed
  uint64_t AllocationCount() const;  // AllocatePool calls so far
  EFI_TPL CurrentTpl() const;
  bool PageBreakEnabled() const;
  uint64_t UnexpectedCalls() const;  // calls of members the model does not offer
  // What each unexpected call was ("BootServices.LoadImage", "FreePool of an
  // unknown pointer", ...), in order.
  std::vector<std::string> UnexpectedCallNames() const;
  // Calls of a service so far, by its UEFI name: "AllocatePool", "GetVariable",
  // "OpenFileByName", "WriteFile", "OutputString" ...
  uint64_t CallCount(const std::string &Service) const;
  uint64_t OpenFileHandles() const;  // shell file handles not closed
  uint64_t FullFlashPrepareCalls() const;
  // Mask the debug-mask protocol held when it was withdrawn (or now, if still
  // installed); none when it was never published.
  std::optional<uint32_t> DebugMask() const;
  // Interface installed on a handle under a GUID, or null.
  void *InstalledInterface(EFI_HANDLE Handle, const EFI_GUID &Guid) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> Self;
};

// UCS-2 <-> UTF-8 for console text, arguments and file names (unpaired
// surrogates become U+FFFD).
std::string HostUcs2ToUtf8(const std::u16string &Text);
std::u16string HostUtf8ToUcs2(const std::string &Text);

// The application's entry point, provided by src/app.
extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
