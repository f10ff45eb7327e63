// The options of pchflash-sim, one row each, and their conversion. A new option is
// one row here (and, for the platform, the SimConfig field it sets).
#include "sim/option_table.h"

namespace {

constexpr uint64_t MAX_UINT32 = 0xFFFFFFFFull;
constexpr uint64_t MAX_UINT64 = ~0ull;
// Flash-linear addresses are 27 bits wide (FADDR).
constexpr uint64_t MAX_FLASH_LINEAR = (1ull << 27) - 1;

constexpr const char *kMcfgKeywords[] = {"none", nullptr};
constexpr uint64_t MAX_IO_PORT = 0xFFFF;
constexpr const char *kFullFlashPrepareKeywords[] = {"success", "absent", nullptr};
// In the order of the host's shell operations (ShellFileOp).
constexpr const char *kFileOperations[] = {"open", "create", "read", "write", "size", nullptr};

// PR0..PR4 serve both kinds of protected range.
constexpr SimOptionPool kProtectedRanges = {
    SIM_MAX_PROTECTED_RANGES, "--protect",
    "protected-range registers (--protect and --protect-read together)"};

using Settings = SimOptionSettings;
using Value = SimOptionValue;

// Every option of pchflash-sim, in the order --help lists them and in which they
// are converted (presets first).
constexpr SimOptionRow kRows[] = {
    {.Name = "--help",
     .Scope = SimScopeHostFiles,
     .Host = SimHostHelp,
     .Help = "Print this help and exit"},
    {.Name = "--root",
     .Form = SimFormText,
     .Scope = SimScopeHostFiles,
     .Host = SimHostRoot,
     .Help = "Directory the shell's volume maps to (default: .)"},
    {.Name = "--fail-alloc",
     .Form = SimFormCount,
     .Min = 1,
     .Max = MAX_UINT64,
     .Scope = SimScopeHostFirmware,
     .Host = SimHostFailAlloc,
     .Help = "The N-th AllocatePool call of the run fails (counting from 1)"},
    {.Name = "--full-flash-prepare",
     .Form = SimFormKeywordOrHex,
     .Max = MAX_UINT64,
     .Keywords = kFullFlashPrepareKeywords,
     .Expected = "success, absent or a hexadecimal EFI_STATUS",
     .Scope = SimScopeHostFirmware,
     .Host = SimHostFullFlashPrepare,
     .Help = "success|absent|STATUS: the platform's full-flash preparation protocol"},
    {.Name = "--efidebug",
     .Form = SimFormHex,
     .Max = MAX_UINT64,
     .Scope = SimScopeHostFirmware,
     .Host = SimHostEfiDebug,
     .Help = "HEX: the \"EFIDebug\" variable holds this value as 8 little-endian bytes"},
    {.Name = "--efidebug-bytes",
     .Form = SimFormHexBytes,
     .Excludes = "--efidebug",
     .Scope = SimScopeHostFirmware,
     .Host = SimHostEfiDebugBytes,
     .Help = "HEXBYTES: the \"EFIDebug\" variable holds exactly these bytes"},
    {.Name = "--debug-hob",
     .Form = SimFormHexBytes,
     .Scope = SimScopeHostFirmware,
     .Host = SimHostDebugHob,
     .Help = "HEXBYTES: variable services answer EFI_NOT_AVAILABLE_YET and a GUID HOB of the "
             "debug-mask GUID carries these data bytes"},
    {.Name = "--read-only",
     .Scope = SimScopeHostFirmware,
     .Host = SimHostReadOnly,
     .Help = "The shell's volume is read-only"},
    {.Name = "--volume-bytes",
     .Form = SimFormCount,
     .Max = MAX_UINT64,
     .Scope = SimScopeHostFirmware,
     .Host = SimHostVolumeBytes,
     .Help = "N: capacity of the volume in bytes; writes past it fail"},
    {.Name = "--file-fault",
     .Form = SimFormKeywordHex,
     .Max = MAX_UINT64,
     .Keywords = kFileOperations,
     .Expected = "OP=STATUS with OP one of open, create, read, write, size",
     .ExpectedNumber = "OP=STATUS with STATUS a hexadecimal EFI_STATUS",
     .Repeats = true,
     .Scope = SimScopeHostFirmware,
     .Host = SimHostFileFault,
     .Help = "OP=STATUS (OP: open, create, read, write, size): the first such shell call returns "
             "STATUS and does nothing else; may repeat"},
    {.Name = "--mcfg",
     .Form = SimFormKeywordOrHex,
     .Max = MAX_UINT64,
     .Keywords = kMcfgKeywords,
     .Expected = "a hexadecimal ECAM base address or 'none'",
     .Set =
         [](Settings *S, const Value &V) {
           S->McfgPresent = V.Choice < 0;
           if (S->McfgPresent) S->McfgBase = V.Number;
         },
     .Help = "HEX|none: the ACPI 2.0 tables (RSDP, XSDT, MCFG) give HEX as the ECAM base of "
             "segment 0, buses 0-255; none: no MCFG, and no ACPI tables at all without a FADT "
             "(default: an MCFG where the simulated platform decodes ECAM, E0000000 on spt)"},
    {.Name = "--fadt",
     .Form = SimFormKeywordOrHex,
     .Max = MAX_IO_PORT,
     .Keywords = kMcfgKeywords,
     .Expected = "a hexadecimal I/O port up to 0xFFFF or 'none'",
     .Set =
         [](Settings *S, const Value &V) {
           S->FadtPresent = V.Choice < 0;
           if (S->FadtPresent) S->FadtBase = uint16_t(V.Number);
         },
     .Help = "HEX|none: the ACPI tables hold a FADT whose PM1a_EVT_BLK is HEX and PM_TMR_BLK "
             "HEX + 8; none: no FADT (default: 1800, where the simulated PMC decodes)"},
    {.Name = "--pch",
     .Form = SimFormPch,
     .Preset = true,
     .Set =
         [](Settings *S, const Value &V) {
           SimConfigPch(&S->Platform, V.Choice);
           S->McfgBase = S->Platform.EcamBase;
         },
     .Help = "NAME: the PCH generation: spt (100-series, default), kbp, cnp, cmp, icp (495), "
             "tgp, adp, rpl, mtl (800-series), lbg (C620), or lpt (8-series, SATA at 0:31.5) and "
             "apl (Apollo Lake, nothing at 0:31.5); sets the IDs on bus 0 device 31, whether the "
             "PMC is hidden, the ECAM base and the MCFG saying so, and the FREG count"},
    {.Name = "--hide-spi-ids",
     .Flag = &SimConfig::HideSpiIds,
     .Help = "0:31.5's vendor and device ID read all ones (BIOS_CONTROL.OSFH)"},
    {.Name = "--region",
     .Form = SimFormRegion,
     .Repeats = true,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.Region[V.Choice] = V.Range;
           S->Platform.RegionsGiven |= 1u << V.Choice;
         },
     .Help = "N:BASE:LIMIT: descriptor region N (up to the generation's region count) at these "
             "flash-linear bounds (hex, inclusive); may repeat"},
    {.Name = "--bios-region",
     .Form = SimFormRange,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.BiosRegion = V.Range;
           S->Platform.BiosRegionGiven = true;
         },
     .Help = "BASE:LIMIT: the generated descriptor's BIOS region (flash-linear, hex, "
             "inclusive); the ME region fills the flash below it and the platform-data region "
             "the rest above it; --region N overrides either"},
    {.Name = "--chip",
     .Form = SimFormChip,
     .Set = [](Settings *S, const Value &V) { S->Platform.ChipIndex = V.Choice; },
     .Help = "NAME|HEX|unknown: the installed chip (default W25Q128BV)"},
    {.Name = "--components",
     .Form = SimFormCount,
     .Min = 1,
     .Max = 2,
     .Set = [](Settings *S, const Value &V) { S->Platform.Components = uint32_t(V.Number); },
     .Help = "1|2: number of chips of that kind"},
    {.Name = "--chip2",
     .Form = SimFormChip,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.Chip2Index = V.Choice;
           S->Platform.Components = 2;
         },
     .Help = "NAME|HEX|unknown: component 1's chip, which may differ from --chip in kind and "
             "size; implies --components 2"},
    {.Name = "--flash",
     .Form = SimFormText,
     .Scope = SimScopeHostFiles,
     .Host = SimHostFlash,
     .Help = "FILE: initial whole-flash contents"},
    {.Name = "--window",
     .Form = SimFormText,
     .Excludes = "--flash",
     .Scope = SimScopeHostFiles,
     .Host = SimHostWindow,
     .Help = "FILE: an 8 MiB backup saved by pchflash -r on a board; the generated flash holds "
             "it as its BIOS window, the top 8 MiB of the BIOS region"},
    {.Name = "--save-flash",
     .Form = SimFormText,
     .Scope = SimScopeHostFiles,
     .Host = SimHostSaveFlash,
     .Help = "FILE: final whole-flash contents"},
    {.Name = "--no-descriptor",
     .Set =
         [](Settings *S, const Value &) {
           S->Platform.NoDescriptor = true;
           S->Platform.LockedDescriptor = false;
         },
     .Help = "Generated image without a descriptor"},
    {.Name = "--locked-descriptor",
     .Excludes = "--no-descriptor",
     .Flag = &SimConfig::LockedDescriptor,
     .Help = "Descriptor access as production boards ship"},
    {.Name = "--seed",
     .Form = SimFormCount,
     .Max = MAX_UINT64,
     .Set = [](Settings *S, const Value &V) { S->Platform.Seed = V.Number; },
     .Help = "N: content of the generated image"},
    {.Name = "--bar0",
     .Form = SimFormHex,
     .Max = MAX_UINT32,
     .Set = [](Settings *S, const Value &V) { S->Platform.Bar0 = uint32_t(V.Number); },
     .Help = "HEX: base BAR0 of 0:31.5 holds at power-on (0: none)"},
    {.Name = "--no-spi", .Flag = &SimConfig::NoSpi, .Help = "0:31.5 reads all ones"},
    {.Name = "--no-pmc",
     .Flag = &SimConfig::NoPmc,
     .Help = "0:31.2 reads all ones, as firmware hides the PMC; its ACPI I/O block still "
             "decodes"},
    {.Name = "--eiss", .Flag = &SimConfig::Eiss, .Help = "BIOS_CONTROL.EISS set"},
    {.Name = "--no-ble", .Flag = &SimConfig::NoBle, .Help = "BIOS_CONTROL.LE clear"},
    {.Name = "--smi-lock", .Flag = &SimConfig::SmiLock, .Help = "GBL_SMI_EN cannot be cleared"},
    {.Name = "--protect",
     .Form = SimFormRange,
     .Repeats = true,
     .Pool = &kProtectedRanges,
     .Set =
         [](Settings *S, const Value &V) {
           if (S->Platform.ProtectCount < SIM_MAX_PROTECTED_RANGES) {
             S->Platform.Protect[S->Platform.ProtectCount++] = V.Range;
           }
         },
     .Help = "BASE:LIMIT: write-protected range (flash-linear, hex, inclusive); may repeat"},
    {.Name = "--protect-read",
     .Form = SimFormRange,
     .Repeats = true,
     .Pool = &kProtectedRanges,
     .Set =
         [](Settings *S, const Value &V) {
           if (S->Platform.ProtectReadCount < SIM_MAX_PROTECTED_RANGES) {
             S->Platform.ProtectRead[S->Platform.ProtectReadCount++] = V.Range;
           }
         },
     .Help = "BASE:LIMIT: read-protected range; may repeat"},
    {.Name = "--vscc-unlocked",
     .Flag = &SimConfig::VsccUnlocked,
     .Help = "LVSCC/UVSCC stay writable"},
    {.Name = "--lvscc",
     .Form = SimFormHex,
     .Max = MAX_UINT32,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.Lvscc = uint32_t(V.Number);
           S->Platform.LvsccGiven = true;
         },
     .Help = "HEX: LVSCC at power-on (component 0's erase opcodes; VCL as --vscc-unlocked "
             "says); default: the chip's own"},
    {.Name = "--uvscc",
     .Form = SimFormHex,
     .Max = MAX_UINT32,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.Uvscc = uint32_t(V.Number);
           S->Platform.UvsccGiven = true;
         },
     .Help = "HEX: UVSCC at power-on (component 1's erase opcodes); default: component 1's "
             "chip's own, or component 0's with one chip"},
    {.Name = "--gpr0",
     .Form = SimFormRange,
     .Set =
         [](Settings *S, const Value &V) {
           S->Platform.Gpr0 = V.Range;
           S->Platform.Gpr0Enabled = true;
         },
     .Help = "BASE:LIMIT: the global protected range GPR0 write-protects this range "
             "(flash-linear, hex, inclusive)"},
    {.Name = "--chip-protect",
     .Flag = &SimConfig::ChipProtect,
     .Help = "The chip's status register has its block-protect bits set: the chip ignores "
             "every program and erase"},
    {.Name = "--chip-status",
     .Form = SimFormHex,
     .Max = 0xFF,
     .Set = [](Settings *S, const Value &V) { S->Platform.ChipStatus = uint8_t(V.Number); },
     .Help = "HEX: every chip's status register 1 at power-on (WIP and WEL read 0); the chip "
             "ignores program and erase while one of its own block-protect bits is set"},
    {.Name = "--pm-timer-stopped",
     .Flag = &SimConfig::PmTimerStopped,
     .Help = "PM1_TMR never changes"},
    {.Name = "--flockdn",
     .Flag = &SimConfig::Flockdn,
     .Help = "HSFSTS_CTL.FLOCKDN set: PREOP/OPTYPE/OPMENU, PR0-PR4 and GPR0 keep their values"},
    {.Name = "--production",
     .Preset = true,
     .Set = [](Settings *S, const Value &) { SimConfigProduction(&S->Platform); },
     .Help = "A shipped board: --locked-descriptor, --flockdn, --smi-lock and --eiss, with "
             "BIOS_CONTROL.LE set and VSCC locked; other options given with it win"},
    {.Name = "--fail-cycle",
     .Form = SimFormCount,
     .Min = 1,
     .Max = MAX_UINT32,
     .Set = [](Settings *S, const Value &V) { S->Platform.FailCycle = uint32_t(V.Number); },
     .Help = "N: the N-th hardware-sequenced cycle ends with FCERR"},
    {.Name = "--stuck-busy",
     .Flag = &SimConfig::StuckBusy,
     .Help = "A hardware-sequenced cycle never finishes"},
    {.Name = "--power-loss-after",
     .Form = SimFormCount,
     .Min = 1,
     .Max = MAX_UINT32,
     .Set = [](Settings *S, const Value &V) { S->Platform.PowerLossAfter = uint32_t(V.Number); },
     .Help = "N: power is lost after the N-th flash-modifying cycle"},
    {.Name = "--trace",
     .Form = SimFormText,
     .Scope = SimScopeHostFiles,
     .Host = SimHostTrace,
     .Help = "FILE: every hardware access and barrier"},
    {.Name = "--report",
     .Form = SimFormText,
     .Scope = SimScopeHostFiles,
     .Host = SimHostReport,
     .Help = "FILE: JSON report of the run"},
    {.Name = "--summary",
     .Scope = SimScopeHostFiles,
     .Host = SimHostSummary,
     .Help = "After the run, the flash part, cycles, erased and programmed ranges and the "
             "modelled time on standard error"},
};
constexpr uint32_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);

// ---- Text without a C library
size_t LengthOf(const char *Text) {
  size_t Length = 0;
  while (Text[Length] != '\0') Length++;
  return Length;
}

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameIgnoringCase(const char *A, const char *B, size_t Length) {
  for (size_t I = 0; I < Length; I++) {
    if (A[I] == '\0' || Lower(A[I]) != Lower(B[I])) return false;
  }
  return A[Length] == '\0';
}

bool Same(const char *A, const char *B) {
  while (*A != '\0' && *A == *B) {
    A++;
    B++;
  }
  return *A == *B;
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

void PutHex(SimOptionMessage *Message, uint64_t Value) {
  char Text[17];
  uint32_t At = sizeof(Text) - 1;
  Text[At] = '\0';
  do {
    Text[--At] = "0123456789ABCDEF"[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  SimMessagePut(Message, Text + At);
}

void FailOption(SimOptionMessage *Message, const char *Option, const char *Text) {
  SimMessagePut(Message, Option);
  SimMessagePut(Message, ": ");
  SimMessagePut(Message, Text);
}

void FailValue(SimOptionMessage *Message, const SimOptionRow &Row, const char *Value,
               const char *Expected) {
  FailOption(Message, Row.Name, "'");
  SimMessagePut(Message, Value);
  SimMessagePut(Message, "' is not ");
  SimMessagePut(Message, Expected);
}

// Index of the keyword Text's first Length characters spell, in any case; -1 when none.
int32_t KeywordIndex(const char *const *Keywords, const char *Text, size_t Length) {
  for (int32_t I = 0; Keywords != nullptr && Keywords[I] != nullptr; I++) {
    if (SameIgnoringCase(Keywords[I], Text, Length)) return I;
  }
  return -1;
}

// ---- Conversion of one value by its form
bool ConvertRange(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  size_t Colon = 0;
  while (Text[Colon] != '\0' && Text[Colon] != ':') Colon++;
  uint64_t Base = 0;
  uint64_t Limit = 0;
  if (Text[Colon] != ':' || !SimParseHex(Text, Colon, MAX_FLASH_LINEAR, &Base) ||
      !SimParseHex(Text + Colon + 1, LengthOf(Text + Colon + 1), MAX_FLASH_LINEAR, &Limit) ||
      Base > Limit) {
    FailValue(M, Row, Text, "BASE:LIMIT (hexadecimal flash-linear addresses, BASE <= LIMIT)");
    return false;
  }
  V->Range = SimRange{static_cast<uint32_t>(Base), static_cast<uint32_t>(Limit)};
  return true;
}

bool ConvertChip(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  int32_t Index = SimFindChipByName(Text);
  for (uint32_t I = 0; Index < 0 && I < SimChipCount(); I++) {
    if (SameIgnoringCase(SimChipAt(I)->Name, Text, LengthOf(Text))) Index = int32_t(I);
  }
  const char *Digits = Text;
  if (Index < 0 && Digits[0] == '0' && (Digits[1] == 'x' || Digits[1] == 'X') &&
      Digits[2] != '\0') {
    Digits += 2;
  }
  uint8_t Id[3];
  uint32_t IdLength = 0;
  const bool IsId = Index < 0 && SimParseHexBytes(Digits, Id, 3, &IdLength) && IdLength >= 2;
  if (IsId) Index = SimFindChipById(Id, IdLength);
  if (Index >= 0) {
    V->Choice = Index;
    return true;
  }
  if (IsId) {
    FailOption(M, Row.Name, "no simulated chip answers the identification bytes ");
    SimMessagePut(M, Text);
    return false;
  }
  FailOption(M, Row.Name, "'");
  SimMessagePut(M, Text);
  SimMessagePut(M,
                "' is neither a part name of the table, 'unknown', nor 2 or 3 identification "
                "bytes in hexadecimal");
  return false;
}

bool ConvertKeywordHex(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  size_t Equals = 0;
  while (Text[Equals] != '\0' && Text[Equals] != '=') Equals++;
  V->Choice = Text[Equals] == '=' ? KeywordIndex(Row.Keywords, Text, Equals) : -1;
  if (V->Choice < 0) {
    FailValue(M, Row, Text, Row.Expected);
    return false;
  }
  const char *Number = Text + Equals + 1;
  if (!SimParseHex(Number, LengthOf(Number), Row.Max, &V->Number)) {
    FailValue(M, Row, Text, Row.ExpectedNumber);
    return false;
  }
  return true;
}

bool ConvertPch(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  V->Choice = SimFindPchByName(Text);
  if (V->Choice >= 0) return true;
  FailOption(M, Row.Name, "'");
  SimMessagePut(M, Text);
  SimMessagePut(M, "' is not one of");
  for (uint32_t I = 0; I < SimPchCount(); I++) {
    SimMessagePut(M, I == 0 ? " " : ", ");
    SimMessagePut(M, SimPchAt(I)->Name);
  }
  return false;
}

// N:BASE:LIMIT: the region number, then BASE:LIMIT as a range.
bool ConvertRegion(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  size_t Colon = 0;
  while (Text[Colon] != '\0' && Text[Colon] != ':') Colon++;
  uint64_t Number = 0;
  if (Text[Colon] != ':' || !SimParseDecimal(Text, Colon, SIM_MAX_REGIONS - 1, &Number)) {
    FailValue(M, Row, Text, "N:BASE:LIMIT with N a region number from 0 to 11");
    return false;
  }
  V->Choice = static_cast<int32_t>(Number);
  return ConvertRange(Row, Text + Colon + 1, V, M);
}

bool ConvertValue(const SimOptionRow &Row, const char *Text, Value *V, SimOptionMessage *M) {
  *V = Value{0, -1, SimRange{0, 0}, Text};
  switch (Row.Form) {
    case SimFormFlag:
    case SimFormText:
      return true;
    case SimFormHex:
      if (SimParseHex(Text, LengthOf(Text), Row.Max, &V->Number)) return true;
      FailValue(M, Row, Text, "a hexadecimal value from 0 to 0x");
      PutHex(M, Row.Max);
      return false;
    case SimFormCount:
      if (SimParseDecimal(Text, LengthOf(Text), Row.Max, &V->Number) && V->Number >= Row.Min) {
        return true;
      }
      FailValue(M, Row, Text, "a decimal count from ");
      SimMessagePutDecimal(M, Row.Min);
      SimMessagePut(M, " to ");
      SimMessagePutDecimal(M, Row.Max);
      return false;
    case SimFormRange:
      return ConvertRange(Row, Text, V, M);
    case SimFormChip:
      return ConvertChip(Row, Text, V, M);
    case SimFormKeywordOrHex:
      V->Choice = KeywordIndex(Row.Keywords, Text, LengthOf(Text));
      if (V->Choice >= 0 || SimParseHex(Text, LengthOf(Text), Row.Max, &V->Number)) return true;
      FailValue(M, Row, Text, Row.Expected);
      return false;
    case SimFormHexBytes: {
      uint32_t Length = 0;
      if (SimParseHexBytes(Text, nullptr, ~0u, &Length)) {
        V->Number = Length;
        return true;
      }
      FailValue(M, Row, Text, "an even number of hexadecimal digits");
      return false;
    }
    case SimFormKeywordHex:
      return ConvertKeywordHex(Row, Text, V, M);
    case SimFormPch:
      return ConvertPch(Row, Text, V, M);
    case SimFormRegion:
      return ConvertRegion(Row, Text, V, M);
  }
  return false;
}

// ---- Conversion of one row's words
struct Conversion {
  const SimOptionWord *Words;
  uint32_t WordCount;
  SimOptionSettings *Settings;
  const SimOptionHostSink *Host;
  SimOptionMessage *Message;
};

// Two options that exclude each other are refused at the turn of whichever comes
// first, naming the one that excludes the other.
bool CheckExclusions(const SimOptionRow &Row, const Conversion &C) {
  for (uint32_t I = 0; I < C.WordCount; I++) {
    const SimOptionRow *Other = C.Words[I].Row;
    const SimOptionRow *Excluder = nullptr;
    if (Row.Excludes != nullptr && Same(Row.Excludes, Other->Name)) Excluder = &Row;
    if (Other->Excludes != nullptr && Same(Other->Excludes, Row.Name)) Excluder = Other;
    if (Excluder != nullptr) {
      FailOption(C.Message, Excluder->Name, "cannot be combined with ");
      SimMessagePut(C.Message, Excluder->Excludes);
      return false;
    }
  }
  return true;
}

bool CheckPool(const SimOptionRow &Row, const Conversion &C) {
  if (Row.Pool == nullptr) return true;
  uint32_t Used = 0;
  for (uint32_t I = 0; I < C.WordCount; I++) Used += C.Words[I].Row->Pool == Row.Pool ? 1 : 0;
  if (Used <= Row.Pool->Size) return true;
  FailOption(C.Message, Row.Pool->Blamed, "the controller has only ");
  SimMessagePutDecimal(C.Message, Row.Pool->Size);
  SimMessagePut(C.Message, " ");
  SimMessagePut(C.Message, Row.Pool->What);
  return false;
}

bool ConvertRow(const SimOptionRow &Row, const Conversion &C) {
  bool Given = false;
  for (uint32_t I = 0; I < C.WordCount; I++) Given = Given || C.Words[I].Row == &Row;
  if (!Given) return true;
  if (!CheckExclusions(Row, C) || !CheckPool(Row, C)) return false;
  for (uint32_t I = 0; I < C.WordCount; I++) {
    if (C.Words[I].Row != &Row) continue;
    Value V;
    if (!ConvertValue(Row, C.Words[I].Value != nullptr ? C.Words[I].Value : "", &V, C.Message)) {
      return false;
    }
    const uint32_t Regions = SimConfigPchModel(&C.Settings->Platform)->RegionCount;
    if (Row.Form == SimFormRegion && uint32_t(V.Choice) >= Regions) {
      FailOption(C.Message, Row.Name, "region ");
      SimMessagePutDecimal(C.Message, uint32_t(V.Choice));
      SimMessagePut(C.Message, " is beyond the ");
      SimMessagePutDecimal(C.Message, Regions);
      SimMessagePut(C.Message, " regions of the generation's controller");
      return false;
    }
    if (Row.Flag != nullptr) {
      C.Settings->Platform.*Row.Flag = true;
    } else if (Row.Set != nullptr) {
      Row.Set(C.Settings, V);
    } else if (C.Host != nullptr && C.Host->Take != nullptr) {
      C.Host->Take(C.Host->Context, Row, V);
    }
  }
  return true;
}

}  // namespace

void SimOptionDefaults(SimOptionSettings *Settings) {
  SimConfigDefaults(&Settings->Platform);
  Settings->McfgPresent = true;
  Settings->McfgBase = SIM_DEFAULT_MCFG_BASE;
  Settings->FadtPresent = true;
  Settings->FadtBase = SIM_DEFAULT_FADT_BASE;
}

uint32_t SimOptionCount() { return kRowCount; }

const SimOptionRow *SimOptionAt(uint32_t Index) {
  return Index < kRowCount ? &kRows[Index] : nullptr;
}

const SimOptionRow *SimOptionFind(const char *Name, size_t Length) {
  for (const SimOptionRow &Row : kRows) {
    size_t K = 0;
    while (K < Length && Row.Name[K] != '\0' && Row.Name[K] == Name[K]) K++;
    if (K == Length && Row.Name[K] == '\0') return &Row;
  }
  return nullptr;
}

void SimMessagePut(SimOptionMessage *Message, const char *Text) {
  if (Message->Size == 0) return;
  while (*Text != '\0' && Message->Used + 1 < Message->Size)
    Message->Out[Message->Used++] = *Text++;
  Message->Out[Message->Used] = '\0';
}

void SimMessagePutDecimal(SimOptionMessage *Message, uint64_t Value) {
  char Text[21];
  uint32_t At = sizeof(Text) - 1;
  Text[At] = '\0';
  do {
    Text[--At] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  SimMessagePut(Message, Text + At);
}

bool SimOptionsConvert(const SimOptionWord *Words, uint32_t WordCount, SimOptionSettings *Settings,
                       const SimOptionHostSink *Host, SimOptionMessage *Message) {
  const Conversion C{Words, WordCount, Settings, Host, Message};
  for (int Pass = 0; Pass < 2; Pass++) {
    for (const SimOptionRow &Row : kRows) {
      if (Row.Preset == (Pass == 0) && !ConvertRow(Row, C)) return false;
    }
  }
  return true;
}

bool SimParseHex(const char *Text, size_t Length, uint64_t Max, uint64_t *Value) {
  size_t At = Length >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X') ? 2 : 0;
  if (At == Length) return false;
  uint64_t Result = 0;
  for (; At < Length; At++) {
    const int Digit = HexDigit(Text[At]);
    if (Digit < 0) return false;
    const uint64_t D = static_cast<uint64_t>(Digit);
    if (D > Max || Result > (Max - D) / 16) return false;
    Result = Result * 16 + D;
  }
  *Value = Result;
  return true;
}

bool SimParseDecimal(const char *Text, size_t Length, uint64_t Max, uint64_t *Value) {
  if (Length == 0) return false;
  uint64_t Result = 0;
  for (size_t At = 0; At < Length; At++) {
    if (Text[At] < '0' || Text[At] > '9') return false;
    const uint64_t D = static_cast<uint64_t>(Text[At] - '0');
    if (D > Max || Result > (Max - D) / 10) return false;
    Result = Result * 10 + D;
  }
  *Value = Result;
  return true;
}

bool SimParseHexBytes(const char *Text, uint8_t *Out, uint32_t Capacity, uint32_t *Length) {
  uint32_t Count = 0;
  for (; Text[0] != '\0'; Text += 2, Count++) {
    const int High = HexDigit(Text[0]);
    const int Low = HexDigit(Text[1]);  // the zero at the end of an odd count is no digit
    if (High < 0 || Low < 0 || Count == Capacity) return false;
    if (Out != nullptr) Out[Count] = static_cast<uint8_t>(High * 16 + Low);
  }
  *Length = Count;
  return true;
}
