#include "host/sim_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

constexpr uint64_t MaxUint32 = std::numeric_limits<uint32_t>::max();
constexpr uint64_t MaxUint64 = std::numeric_limits<uint64_t>::max();
// Flash-linear addresses are 27 bits wide (FADDR).
constexpr uint64_t MaxFlashLinear = (1ULL << 27) - 1;

int HexDigitValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

std::string Lowercase(std::string Text) {
  for (char &C : Text) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Text;
}

// Everything the command line gives as text; converted and checked afterwards so
// that every message names its option and says what was wrong.
struct RawOptions {
  std::string Root;
  std::string FailAlloc;
  std::string Chip;
  std::string Components;
  std::string Flash;
  std::string SaveFlash;
  bool NoDescriptor = false;
  bool LockedDescriptor = false;
  std::string Seed;
  std::string Bar0;
  bool NoSpi = false;
  bool NoPmc = false;
  bool Eiss = false;
  bool NoBle = false;
  bool SmiLock = false;
  std::vector<std::string> Protect;
  std::vector<std::string> ProtectRead;
  bool VsccUnlocked = false;
  std::string Gpr0;
  bool ChipProtect = false;
  bool PmTimerStopped = false;
  bool Flockdn = false;
  bool Production = false;
  std::string Mcfg;
  std::string FailCycle;
  bool StuckBusy = false;
  std::string PowerLossAfter;
  std::string Trace;
  std::string FullFlashPrepare;
  std::string EfiDebug;
  std::string EfiDebugBytes;
  std::string DebugHob;
  bool ReadOnly = false;
  std::string VolumeBytes;
  std::vector<std::string> FileFaults;
  std::string Report;
  bool Summary = false;
};

class OptionError {
 public:
  explicit OptionError(std::string Text) : Text_(std::move(Text)) {}
  const std::string &Text() const { return Text_; }

 private:
  std::string Text_;
};

void Fail(const std::string &Option, const std::string &Value, const std::string &Expected) {
  throw OptionError(Option + ": '" + Value + "' is not " + Expected);
}

uint64_t HexOption(const std::string &Option, const std::string &Text, uint64_t Max) {
  uint64_t Value = 0;
  if (!ParseHexValue(Text, Max, &Value)) {
    std::ostringstream Limit;
    Limit << std::uppercase << std::hex << Max;
    Fail(Option, Text, "a hexadecimal value from 0 to 0x" + Limit.str());
  }
  return Value;
}

uint64_t CountOption(const std::string &Option, const std::string &Text, uint64_t Min,
                     uint64_t Max) {
  uint64_t Value = 0;
  if (!ParseDecimalCount(Text, Max, &Value) || Value < Min) {
    Fail(Option, Text,
         "a decimal count from " + std::to_string(Min) + " to " + std::to_string(Max));
  }
  return Value;
}

std::vector<uint8_t> BytesOption(const std::string &Option, const std::string &Text) {
  std::vector<uint8_t> Bytes;
  if (!ParseHexBytes(Text, &Bytes)) {
    Fail(Option, Text, "an even number of hexadecimal digits");
  }
  return Bytes;
}

SimRange RangeOption(const std::string &Option, const std::string &Text) {
  size_t Colon = Text.find(':');
  uint64_t Base = 0;
  uint64_t Limit = 0;
  if (Colon == std::string::npos || !ParseHexValue(Text.substr(0, Colon), MaxFlashLinear, &Base) ||
      !ParseHexValue(Text.substr(Colon + 1), MaxFlashLinear, &Limit) || Base > Limit) {
    Fail(Option, Text, "BASE:LIMIT (hexadecimal flash-linear addresses, BASE <= LIMIT)");
  }
  return SimRange{static_cast<uint32_t>(Base), static_cast<uint32_t>(Limit)};
}

int32_t ChipOption(const std::string &Text) {
  int32_t Index = SimFindChipByName(Text.c_str());
  if (Index >= 0) return Index;
  for (uint32_t I = 0; I < SimChipCount(); I++) {
    const SimChipModel *Chip = SimChipAt(I);
    if (Lowercase(Chip->Name) == Lowercase(Text)) return static_cast<int32_t>(I);
  }
  std::vector<uint8_t> Id;
  std::string Digits = Text;
  if (Digits.size() > 2 && Digits[0] == '0' && (Digits[1] == 'x' || Digits[1] == 'X')) {
    Digits = Digits.substr(2);
  }
  if (ParseHexBytes(Digits, &Id) && (Id.size() == 2 || Id.size() == 3)) {
    Index = SimFindChipById(Id.data(), static_cast<uint32_t>(Id.size()));
    if (Index >= 0) return Index;
    throw OptionError("--chip: no simulated chip answers the identification bytes " + Text);
  }
  throw OptionError("--chip: '" + Text +
                    "' is neither a part name of the table, 'unknown', nor 2 or 3 "
                    "identification bytes in hexadecimal");
}

ShellFileOp FileOpOption(const std::string &Text, const std::string &Name) {
  if (Name == "open") return ShellFileOp::Open;
  if (Name == "create") return ShellFileOp::Create;
  if (Name == "read") return ShellFileOp::Read;
  if (Name == "write") return ShellFileOp::Write;
  if (Name == "size") return ShellFileOp::Size;
  Fail("--file-fault", Text, "OP=STATUS with OP one of open, create, read, write, size");
  return ShellFileOp::Open;
}

std::vector<uint8_t> ReadWholeFile(const std::string &Option, const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) throw OptionError(Option + ": cannot open '" + Path + "'");
  std::vector<uint8_t> Data((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (In.bad()) throw OptionError(Option + ": cannot read '" + Path + "'");
  return Data;
}

void AddOptions(CLI::App *App, RawOptions *Raw) {
  // Firmware model and shell.
  App->add_option("--root", Raw->Root, "Directory the shell's volume maps to (default: .)");
  App->add_option("--fail-alloc", Raw->FailAlloc,
                  "The N-th AllocatePool call of the run fails (counting from 1)");
  App->add_option("--full-flash-prepare", Raw->FullFlashPrepare,
                  "success|absent|STATUS: the platform's full-flash preparation protocol");
  App->add_option("--efidebug", Raw->EfiDebug,
                  "HEX: the \"EFIDebug\" variable holds this value as 8 little-endian bytes");
  App->add_option("--efidebug-bytes", Raw->EfiDebugBytes,
                  "HEXBYTES: the \"EFIDebug\" variable holds exactly these bytes");
  App->add_option("--debug-hob", Raw->DebugHob,
                  "HEXBYTES: variable services answer EFI_NOT_AVAILABLE_YET and a GUID HOB "
                  "of the debug-mask GUID carries these data bytes");
  App->add_flag("--read-only", Raw->ReadOnly, "The shell's volume is read-only")
      ->disable_flag_override();
  App->add_option("--volume-bytes", Raw->VolumeBytes,
                  "N: capacity of the volume in bytes; writes past it fail");
  App->add_option("--file-fault", Raw->FileFaults,
                  "OP=STATUS (OP: open, create, read, write, size): the first such shell "
                  "call returns STATUS and does nothing else; may repeat")
      ->allow_extra_args(false);
  App->add_option("--mcfg", Raw->Mcfg,
                  "HEX|none: the ACPI 2.0 tables (RSDP, XSDT, MCFG) give HEX as the ECAM base "
                  "of segment 0, buses 0-255; none: no ACPI tables (default: an MCFG at "
                  "E0000000, where the simulated platform decodes it)");
  // Simulated platform.
  App->add_option("--chip", Raw->Chip, "NAME|HEX|unknown: the installed chip (default W25Q128BV)");
  App->add_option("--components", Raw->Components, "1|2: number of chips of that kind");
  App->add_option("--flash", Raw->Flash, "FILE: initial whole-flash contents");
  App->add_option("--save-flash", Raw->SaveFlash, "FILE: final whole-flash contents");
  App->add_flag("--no-descriptor", Raw->NoDescriptor, "Generated image without a descriptor")
      ->disable_flag_override();
  App->add_flag("--locked-descriptor", Raw->LockedDescriptor,
                "Descriptor access as production boards ship")
      ->disable_flag_override();
  App->add_option("--seed", Raw->Seed, "N: content of the generated image");
  App->add_option("--bar0", Raw->Bar0, "HEX: base BAR0 of 0:31.5 holds at power-on (0: none)");
  App->add_flag("--no-spi", Raw->NoSpi, "0:31.5 reads all ones")->disable_flag_override();
  App->add_flag("--no-pmc", Raw->NoPmc, "0:31.2 reads all ones")->disable_flag_override();
  App->add_flag("--eiss", Raw->Eiss, "BIOS_CONTROL.EISS set")->disable_flag_override();
  App->add_flag("--no-ble", Raw->NoBle, "BIOS_CONTROL.LE clear")->disable_flag_override();
  App->add_flag("--smi-lock", Raw->SmiLock, "GBL_SMI_EN cannot be cleared")
      ->disable_flag_override();
  App->add_option("--protect", Raw->Protect,
                  "BASE:LIMIT: write-protected range (flash-linear, hex, inclusive); may repeat")
      ->allow_extra_args(false);
  App->add_option("--protect-read", Raw->ProtectRead,
                  "BASE:LIMIT: read-protected range; may repeat")
      ->allow_extra_args(false);
  App->add_flag("--vscc-unlocked", Raw->VsccUnlocked, "LVSCC/UVSCC stay writable")
      ->disable_flag_override();
  App->add_option("--gpr0", Raw->Gpr0,
                  "BASE:LIMIT: the global protected range GPR0 write-protects this range "
                  "(flash-linear, hex, inclusive)");
  App->add_flag("--chip-protect", Raw->ChipProtect,
                "The chip's status register has its block-protect bits set: the chip "
                "ignores every program and erase")
      ->disable_flag_override();
  App->add_flag("--pm-timer-stopped", Raw->PmTimerStopped, "PM1_TMR never changes")
      ->disable_flag_override();
  App->add_flag("--flockdn", Raw->Flockdn,
                "HSFSTS_CTL.FLOCKDN set: PREOP/OPTYPE/OPMENU, PR0-PR4 and GPR0 keep their values")
      ->disable_flag_override();
  App->add_flag("--production", Raw->Production,
                "A shipped board: --locked-descriptor, --flockdn, --smi-lock and --eiss, with "
                "BIOS_CONTROL.LE set and VSCC locked; other options given with it win")
      ->disable_flag_override();
  App->add_option("--fail-cycle", Raw->FailCycle,
                  "N: the N-th hardware-sequenced cycle ends with FCERR");
  App->add_flag("--stuck-busy", Raw->StuckBusy, "A hardware-sequenced cycle never finishes")
      ->disable_flag_override();
  App->add_option("--power-loss-after", Raw->PowerLossAfter,
                  "N: power is lost after the N-th flash-modifying cycle");
  App->add_option("--trace", Raw->Trace, "FILE: every hardware access and barrier");
  App->add_option("--report", Raw->Report, "FILE: JSON report of the run");
  App->add_flag("--summary", Raw->Summary,
                "After the run, the flash part, cycles, erased and programmed ranges and the "
                "modelled time on standard error")
      ->disable_flag_override();
}

void ConvertFirmwareOptions(const RawOptions &Raw, SimOptions *Options) {
  HostFirmwareConfig &Fw = Options->Firmware;
  if (!Raw.Root.empty()) Fw.Root = Raw.Root;
  if (!Raw.FailAlloc.empty()) {
    Fw.FailAllocation = CountOption("--fail-alloc", Raw.FailAlloc, 1, MaxUint64);
  }
  if (!Raw.FullFlashPrepare.empty()) {
    const std::string Mode = Lowercase(Raw.FullFlashPrepare);
    if (Mode == "success") {
      Fw.FullFlashPreparePresent = true;
      Fw.FullFlashPrepareStatus = EFI_SUCCESS;
    } else if (Mode == "absent") {
      Fw.FullFlashPreparePresent = false;
    } else {
      uint64_t Status = 0;
      if (!ParseHexValue(Raw.FullFlashPrepare, MaxUint64, &Status)) {
        Fail("--full-flash-prepare", Raw.FullFlashPrepare,
             "success, absent or a hexadecimal EFI_STATUS");
      }
      Fw.FullFlashPreparePresent = true;
      Fw.FullFlashPrepareStatus = Status;
    }
  }
  if (!Raw.EfiDebug.empty() && !Raw.EfiDebugBytes.empty()) {
    throw OptionError("--efidebug-bytes: cannot be combined with --efidebug");
  }
  if (!Raw.EfiDebug.empty()) {
    uint64_t Value = HexOption("--efidebug", Raw.EfiDebug, MaxUint64);
    std::vector<uint8_t> Bytes(8);
    for (int I = 0; I < 8; I++) Bytes[I] = static_cast<uint8_t>(Value >> (8 * I));
    Fw.EfiDebugBytes = Bytes;
  }
  if (!Raw.EfiDebugBytes.empty()) {
    Fw.EfiDebugBytes = BytesOption("--efidebug-bytes", Raw.EfiDebugBytes);
  }
  if (!Raw.DebugHob.empty()) {
    // The application only looks for the hand-off block when variable services
    // are not up yet, so the block comes with that answer.
    Fw.DebugHob = BytesOption("--debug-hob", Raw.DebugHob);
    Fw.VariablesNotAvailableYet = true;
  }
  Fw.ReadOnlyVolume = Raw.ReadOnly;
  if (!Raw.VolumeBytes.empty()) {
    Fw.VolumeBytes = CountOption("--volume-bytes", Raw.VolumeBytes, 0, MaxUint64);
  }
  if (!Raw.Mcfg.empty()) {
    uint64_t Base = 0;
    if (Lowercase(Raw.Mcfg) == "none") {
      Fw.McfgBase.reset();
    } else if (ParseHexValue(Raw.Mcfg, MaxUint64, &Base)) {
      Fw.McfgBase = Base;
    } else {
      Fail("--mcfg", Raw.Mcfg, "a hexadecimal ECAM base address or 'none'");
    }
  }
  for (const std::string &Fault : Raw.FileFaults) {
    size_t Equals = Fault.find('=');
    if (Equals == std::string::npos) {
      Fail("--file-fault", Fault, "OP=STATUS with OP one of open, create, read, write, size");
    }
    ShellFileOp Op = FileOpOption(Fault, Lowercase(Fault.substr(0, Equals)));
    uint64_t Status = 0;
    if (!ParseHexValue(Fault.substr(Equals + 1), MaxUint64, &Status)) {
      Fail("--file-fault", Fault, "OP=STATUS with STATUS a hexadecimal EFI_STATUS");
    }
    Fw.FileFaults.push_back(FileFault{Op, Status});
  }
}

void ConvertPlatformOptions(const RawOptions &Raw, SimOptions *Options) {
  SimConfig &P = Options->Platform;
  if (!Raw.Chip.empty()) P.ChipIndex = ChipOption(Raw.Chip);
  if (!Raw.Components.empty()) {
    P.Components = static_cast<uint32_t>(CountOption("--components", Raw.Components, 1, 2));
  }
  // --production first; every option given beside it then sets its own field.
  if (Raw.Production) SimConfigProduction(&P);
  if (Raw.NoDescriptor && Raw.LockedDescriptor) {
    throw OptionError("--locked-descriptor: cannot be combined with --no-descriptor");
  }
  if (Raw.NoDescriptor) {
    P.NoDescriptor = true;
    P.LockedDescriptor = false;
  }
  if (Raw.LockedDescriptor) P.LockedDescriptor = true;
  if (!Raw.Seed.empty()) P.Seed = CountOption("--seed", Raw.Seed, 0, MaxUint64);
  if (!Raw.Bar0.empty()) P.Bar0 = static_cast<uint32_t>(HexOption("--bar0", Raw.Bar0, MaxUint32));
  P.NoSpi = Raw.NoSpi;
  P.NoPmc = Raw.NoPmc;
  P.Eiss = P.Eiss || Raw.Eiss;
  P.NoBle = Raw.NoBle;
  P.SmiLock = P.SmiLock || Raw.SmiLock;
  P.VsccUnlocked = Raw.VsccUnlocked;
  P.StuckBusy = Raw.StuckBusy;
  P.Flockdn = P.Flockdn || Raw.Flockdn;
  P.ChipProtect = Raw.ChipProtect;
  P.PmTimerStopped = Raw.PmTimerStopped;
  if (!Raw.Gpr0.empty()) {
    P.Gpr0 = RangeOption("--gpr0", Raw.Gpr0);
    P.Gpr0Enabled = true;
  }
  // PR0..PR4 are shared by both kinds of protected range.
  if (Raw.Protect.size() + Raw.ProtectRead.size() > SIM_MAX_PROTECTED_RANGES) {
    throw OptionError("--protect: the controller has only " +
                      std::to_string(SIM_MAX_PROTECTED_RANGES) +
                      " protected-range registers (--protect and --protect-read together)");
  }
  P.ProtectCount = 0;
  for (const std::string &Range : Raw.Protect) {
    P.Protect[P.ProtectCount++] = RangeOption("--protect", Range);
  }
  P.ProtectReadCount = 0;
  for (const std::string &Range : Raw.ProtectRead) {
    P.ProtectRead[P.ProtectReadCount++] = RangeOption("--protect-read", Range);
  }
  if (!Raw.FailCycle.empty()) {
    P.FailCycle = static_cast<uint32_t>(CountOption("--fail-cycle", Raw.FailCycle, 1, MaxUint32));
  }
  if (!Raw.PowerLossAfter.empty()) {
    P.PowerLossAfter =
        static_cast<uint32_t>(CountOption("--power-loss-after", Raw.PowerLossAfter, 1, MaxUint32));
  }
}

void ConvertFiles(const RawOptions &Raw, SimOptions *Options) {
  Options->FlashFile = Raw.Flash;
  Options->SaveFlashFile = Raw.SaveFlash;
  Options->TraceFile = Raw.Trace;
  Options->ReportFile = Raw.Report;
  Options->Summary = Raw.Summary;
  if (!Raw.Flash.empty()) {
    Options->InitialFlash = ReadWholeFile("--flash", Raw.Flash);
    const uint64_t Expected = SimConfigFlashSize(&Options->Platform);
    if (Options->InitialFlash.size() != Expected) {
      throw OptionError(
          "--flash: '" + Raw.Flash + "' holds " + std::to_string(Options->InitialFlash.size()) +
          " bytes, but the simulated flash is " + std::to_string(Expected) + " bytes");
    }
  }
}

}  // namespace

bool ParseHexValue(const std::string &Text, uint64_t Max, uint64_t *Value) {
  size_t Start = 0;
  if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) Start = 2;
  if (Start == Text.size()) return false;
  uint64_t Result = 0;
  for (size_t I = Start; I < Text.size(); I++) {
    int Digit = HexDigitValue(Text[I]);
    if (Digit < 0) return false;
    if (static_cast<uint64_t>(Digit) > Max || Result > (Max - static_cast<uint64_t>(Digit)) / 16) {
      return false;
    }
    Result = Result * 16 + static_cast<uint64_t>(Digit);
  }
  *Value = Result;
  return true;
}

bool ParseDecimalCount(const std::string &Text, uint64_t Max, uint64_t *Value) {
  if (Text.empty()) return false;
  uint64_t Result = 0;
  for (char C : Text) {
    if (C < '0' || C > '9') return false;
    uint64_t Digit = static_cast<uint64_t>(C - '0');
    if (Digit > Max || Result > (Max - Digit) / 10) return false;
    Result = Result * 10 + Digit;
  }
  *Value = Result;
  return true;
}

bool ParseHexBytes(const std::string &Text, std::vector<uint8_t> *Bytes) {
  if (Text.size() % 2 != 0) return false;
  std::vector<uint8_t> Result;
  for (size_t I = 0; I < Text.size(); I += 2) {
    int High = HexDigitValue(Text[I]);
    int Low = HexDigitValue(Text[I + 1]);
    if (High < 0 || Low < 0) return false;
    Result.push_back(static_cast<uint8_t>(High * 16 + Low));
  }
  *Bytes = std::move(Result);
  return true;
}

SimParseOutcome ParseSimOptions(int Argc, const char *const *Argv, SimOptions *Options,
                                std::string *Message) {
  *Options = SimOptions{};
  SimConfigDefaults(&Options->Platform);
  Message->clear();

  // Split at the first lone "--": what follows belongs to the application unread.
  std::vector<std::string> Own;
  std::vector<std::string> After;
  bool SeenSeparator = false;
  for (int I = 1; I < Argc; I++) {
    std::string Arg = Argv[I];
    if (!SeenSeparator && Arg == "--") {
      SeenSeparator = true;
    } else if (SeenSeparator) {
      After.push_back(Arg);
    } else {
      Own.push_back(Arg);
    }
  }

  CLI::App App{
      "pchflash-sim [OPTIONS] [--] ARG...: runs pchflash.efi ARG... once on a simulated Intel "
      "PCH platform. Options begin with \"--\"; every other argument goes to the application.",
      "pchflash-sim"};
  App.set_help_flag("--help", "Print this help and exit");
  App.allow_extras(true);
  RawOptions Raw;
  AddOptions(&App, &Raw);

  std::vector<std::string> Reversed(Own.rbegin(), Own.rend());  // CLI11 parses from the back
  try {
    App.parse(Reversed);
  } catch (const CLI::CallForHelp &) {
    *Message = App.help();
    return SimParseOutcome::Help;
  } catch (const CLI::ParseError &Error) {
    *Message = std::string("pchflash-sim: ") + Error.what();
    return SimParseOutcome::UsageError;
  }

  try {
    for (const std::string &Arg : App.remaining()) {
      if (Arg.size() > 2 && Arg.compare(0, 2, "--") == 0) {
        throw OptionError(Arg +
                          ": unknown option (application arguments that begin with "
                          "\"--\" go after a lone \"--\")");
      }
      Options->Arguments.push_back(Arg);
    }
    Options->Arguments.insert(Options->Arguments.end(), After.begin(), After.end());
    ConvertFirmwareOptions(Raw, Options);
    ConvertPlatformOptions(Raw, Options);
    ConvertFiles(Raw, Options);
  } catch (const OptionError &Error) {
    *Message = "pchflash-sim: " + Error.Text();
    return SimParseOutcome::UsageError;
  }

  Options->Firmware.Argv.clear();
  Options->Firmware.Argv.push_back(u"pchflash.efi");
  for (const std::string &Arg : Options->Arguments) {
    Options->Firmware.Argv.push_back(HostUtf8ToUcs2(Arg));
  }
  return SimParseOutcome::Run;
}

SimConfig PlatformConfigOf(const SimOptions &Options) {
  SimConfig Config = Options.Platform;
  Config.InitialFlash = Options.InitialFlash.empty() ? nullptr : Options.InitialFlash.data();
  Config.InitialFlashSize = Options.InitialFlash.size();
  return Config;
}
