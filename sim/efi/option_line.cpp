// pchflash-sim.opt: the option words are read first, then converted in the same
// order and with the same checks as pchflash-sim's command line, so that a line
// means the same platform in the real shell as on the host.
#include "sim/efi/option_line.h"

namespace {

constexpr uint32_t MAX_WORDS = 64;
constexpr uint32_t MAX_WORD = 96;
constexpr uint64_t MAX_UINT32 = 0xFFFFFFFFull;
constexpr uint64_t MAX_UINT64 = ~0ull;
// Flash-linear addresses are 27 bits wide (FADDR).
constexpr uint64_t MAX_FLASH_LINEAR = (1ull << 27) - 1;

enum OptionKind : uint32_t { OptionFlag, OptionValue };

struct OptionEntry {
  const char *Name;
  OptionKind Kind;
  SimEfiOptionUse Use;
  bool Repeats;
};

// Every option of pchflash-sim, in the host's --help order.
constexpr OptionEntry kOptions[] = {
    {"--help", OptionFlag, SimEfiOptionHostFiles, false},
    {"--root", OptionValue, SimEfiOptionHostFiles, false},
    {"--fail-alloc", OptionValue, SimEfiOptionHostFirmware, false},
    {"--full-flash-prepare", OptionValue, SimEfiOptionHostFirmware, false},
    {"--efidebug", OptionValue, SimEfiOptionHostFirmware, false},
    {"--efidebug-bytes", OptionValue, SimEfiOptionHostFirmware, false},
    {"--debug-hob", OptionValue, SimEfiOptionHostFirmware, false},
    {"--read-only", OptionFlag, SimEfiOptionHostFirmware, false},
    {"--volume-bytes", OptionValue, SimEfiOptionHostFirmware, false},
    {"--file-fault", OptionValue, SimEfiOptionHostFirmware, true},
    {"--mcfg", OptionValue, SimEfiOptionTaken, false},
    {"--chip", OptionValue, SimEfiOptionTaken, false},
    {"--components", OptionValue, SimEfiOptionTaken, false},
    {"--flash", OptionValue, SimEfiOptionHostFiles, false},
    {"--save-flash", OptionValue, SimEfiOptionHostFiles, false},
    {"--no-descriptor", OptionFlag, SimEfiOptionTaken, false},
    {"--locked-descriptor", OptionFlag, SimEfiOptionTaken, false},
    {"--seed", OptionValue, SimEfiOptionTaken, false},
    {"--bar0", OptionValue, SimEfiOptionTaken, false},
    {"--no-spi", OptionFlag, SimEfiOptionTaken, false},
    {"--no-pmc", OptionFlag, SimEfiOptionTaken, false},
    {"--eiss", OptionFlag, SimEfiOptionTaken, false},
    {"--no-ble", OptionFlag, SimEfiOptionTaken, false},
    {"--smi-lock", OptionFlag, SimEfiOptionTaken, false},
    {"--protect", OptionValue, SimEfiOptionTaken, true},
    {"--protect-read", OptionValue, SimEfiOptionTaken, true},
    {"--vscc-unlocked", OptionFlag, SimEfiOptionTaken, false},
    {"--gpr0", OptionValue, SimEfiOptionTaken, false},
    {"--chip-protect", OptionFlag, SimEfiOptionTaken, false},
    {"--pm-timer-stopped", OptionFlag, SimEfiOptionTaken, false},
    {"--flockdn", OptionFlag, SimEfiOptionTaken, false},
    {"--production", OptionFlag, SimEfiOptionTaken, false},
    {"--fail-cycle", OptionValue, SimEfiOptionTaken, false},
    {"--stuck-busy", OptionFlag, SimEfiOptionTaken, false},
    {"--power-loss-after", OptionValue, SimEfiOptionTaken, false},
    {"--trace", OptionValue, SimEfiOptionHostFiles, false},
    {"--report", OptionValue, SimEfiOptionHostFiles, false},
    {"--summary", OptionFlag, SimEfiOptionHostFiles, false},
};
constexpr uint32_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

// ---- Text without a C library
struct Word {
  char Text[MAX_WORD];
};

bool Same(const char *A, const char *B) {
  while (*A != '\0' && *A == *B) {
    A++;
    B++;
  }
  return *A == *B;
}

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameIgnoringCase(const char *A, const char *B) {
  while (*A != '\0' && Lower(*A) == Lower(*B)) {
    A++;
    B++;
  }
  return Lower(*A) == Lower(*B);
}

struct MessageText {
  char *Out;
  uint32_t Used;
};

void Put(MessageText *M, const char *Text) {
  while (*Text != '\0' && M->Used + 1 < SIM_EFI_MESSAGE_SIZE) M->Out[M->Used++] = *Text++;
  M->Out[M->Used] = '\0';
}

void PutDecimal(MessageText *M, uint64_t Value) {
  char Digits[21];
  uint32_t Count = 0;
  do {
    Digits[Count++] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  char Text[22];
  for (uint32_t I = 0; I < Count; I++) Text[I] = Digits[Count - 1 - I];
  Text[Count] = '\0';
  Put(M, Text);
}

void PutHex(MessageText *M, uint64_t Value) {
  char Digits[17];
  uint32_t Count = 0;
  do {
    Digits[Count++] = "0123456789ABCDEF"[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  char Text[18];
  for (uint32_t I = 0; I < Count; I++) Text[I] = Digits[Count - 1 - I];
  Text[Count] = '\0';
  Put(M, Text);
}

// ---- Numbers, as pchflash-sim reads them
int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool ParseHex(const char *Text, uint64_t Max, uint64_t *Value) {
  if (Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) Text += 2;
  if (*Text == '\0') return false;
  uint64_t Result = 0;
  for (; *Text != '\0'; Text++) {
    const int Digit = HexDigit(*Text);
    if (Digit < 0) return false;
    const uint64_t D = static_cast<uint64_t>(Digit);
    if (D > Max || Result > (Max - D) / 16) return false;
    Result = Result * 16 + D;
  }
  *Value = Result;
  return true;
}

bool ParseDecimal(const char *Text, uint64_t Max, uint64_t *Value) {
  if (*Text == '\0') return false;
  uint64_t Result = 0;
  for (; *Text != '\0'; Text++) {
    if (*Text < '0' || *Text > '9') return false;
    const uint64_t D = static_cast<uint64_t>(*Text - '0');
    if (D > Max || Result > (Max - D) / 10) return false;
    Result = Result * 10 + D;
  }
  *Value = Result;
  return true;
}

// ---- The words of the line, by option
struct GivenOption {
  const OptionEntry *Entry;
  uint32_t Count;
  const char *Values[SIM_MAX_PROTECTED_RANGES + 1];  // repeats beyond that are refused
};

struct Parse {
  Word Words[MAX_WORDS];
  uint32_t WordCount;
  GivenOption Given[kOptionCount];
  MessageText Message;
  bool Failed;
};

// The first failure is the one reported.
void Fail(Parse *P, const char *Option, const char *Text) {
  if (P->Failed) return;
  P->Failed = true;
  Put(&P->Message, "pchflash-sim.opt: ");
  if (Option != nullptr) {
    Put(&P->Message, Option);
    Put(&P->Message, ": ");
  }
  Put(&P->Message, Text);
}

void FailValue(Parse *P, const char *Option, const char *Value, const char *Expected) {
  if (P->Failed) return;
  Fail(P, Option, "'");
  Put(&P->Message, Value);
  Put(&P->Message, "' is not ");
  Put(&P->Message, Expected);
}

// Splits the file into words; UCS-2 with a byte-order mark is narrowed to ASCII.
void SplitWords(Parse *P, const uint8_t *Bytes, size_t Length) {
  const bool Wide = Length >= 2 && Bytes[0] == 0xFF && Bytes[1] == 0xFE;
  size_t At = Wide ? 2 : 0;
  uint32_t InWord = 0;
  while (At < Length && !P->Failed) {
    uint32_t Code = Bytes[At];
    if (Wide) {
      Code = At + 1 < Length ? Code | (static_cast<uint32_t>(Bytes[At + 1]) << 8) : 0xFFFF;
      At += 2;
    } else {
      At += 1;
    }
    if (Code == ' ' || Code == '\t' || Code == '\r' || Code == '\n' || Code == 0) {
      InWord = 0;
      continue;
    }
    if (Code < 0x21 || Code > 0x7E) {
      Fail(P, nullptr, "holds a character other than printable ASCII");
      return;
    }
    if (InWord == 0) {
      if (P->WordCount == MAX_WORDS) {
        Fail(P, nullptr, "holds too many words for one line of options");
        return;
      }
      P->WordCount++;
    }
    Word &W = P->Words[P->WordCount - 1];
    if (InWord + 1 == MAX_WORD) {
      W.Text[InWord] = '\0';
      Fail(P, nullptr, "a word is too long: '");
      Put(&P->Message, W.Text);
      Put(&P->Message, "...'");
      return;
    }
    W.Text[InWord++] = static_cast<char>(Code);
    W.Text[InWord] = '\0';
  }
}

const OptionEntry *FindOption(const char *Name, uint32_t Length) {
  for (uint32_t I = 0; I < kOptionCount; I++) {
    const char *Entry = kOptions[I].Name;
    uint32_t K = 0;
    while (K < Length && Entry[K] != '\0' && Entry[K] == Name[K]) K++;
    if (K == Length && Entry[K] == '\0') return &kOptions[I];
  }
  return nullptr;
}

void Record(Parse *P, const OptionEntry *Entry, const char *Value) {
  GivenOption &G = P->Given[Entry - kOptions];
  G.Entry = Entry;
  if (G.Count > 0 && !Entry->Repeats) {
    Fail(P, Entry->Name, "given more than once");
    return;
  }
  if (G.Count == SIM_MAX_PROTECTED_RANGES + 1) {
    Fail(P, Entry->Name, "given too often");
    return;
  }
  G.Values[G.Count++] = Value;
}

// "--name VALUE", "--name=VALUE" and "--flag", as the host's command line takes them.
void CollectOptions(Parse *P) {
  for (uint32_t I = 0; I < P->WordCount && !P->Failed; I++) {
    char *Text = P->Words[I].Text;
    if (Text[0] != '-' || Text[1] != '-' || Text[2] == '\0') {
      Fail(P, nullptr, "'");
      Put(&P->Message, Text);
      Put(&P->Message, "' is not an option (the file holds options only, each beginning with --)");
      return;
    }
    uint32_t NameLength = 0;
    while (Text[NameLength] != '\0' && Text[NameLength] != '=') NameLength++;
    const OptionEntry *Entry = FindOption(Text, NameLength);
    if (Entry == nullptr) {
      Text[NameLength] = '\0';
      Fail(P, Text, "unknown option");
      return;
    }
    if (Entry->Use == SimEfiOptionHostFiles) {
      Fail(P, Entry->Name,
           "does not apply to pchflash-sim.efi (its files are simflash.bin and "
           "pchflash-sim.opt on the volume it was started from)");
      return;
    }
    if (Entry->Use == SimEfiOptionHostFirmware) {
      Fail(P, Entry->Name,
           "describes the host's firmware model; in the real shell the firmware is the real one");
      return;
    }
    if (Entry->Kind == OptionFlag) {
      if (Text[NameLength] == '=') {
        Fail(P, Entry->Name, "takes no value");
        return;
      }
      Record(P, Entry, "");
      continue;
    }
    if (Text[NameLength] == '=') {
      Record(P, Entry, Text + NameLength + 1);
    } else if (I + 1 < P->WordCount) {
      Record(P, Entry, P->Words[++I].Text);
    } else {
      Fail(P, Entry->Name, "needs a value");
    }
  }
}

const GivenOption *Given(const Parse *P, const char *Name) {
  for (uint32_t I = 0; I < kOptionCount; I++) {
    if (Same(kOptions[I].Name, Name)) return P->Given[I].Count > 0 ? &P->Given[I] : nullptr;
  }
  return nullptr;
}

bool Flag(const Parse *P, const char *Name) { return Given(P, Name) != nullptr; }

// ---- Conversions, each naming its option when the value is wrong
bool HexOption(Parse *P, const char *Name, uint64_t Max, uint64_t *Value) {
  const GivenOption *G = Given(P, Name);
  if (G == nullptr) return false;
  if (ParseHex(G->Values[0], Max, Value)) return true;
  FailValue(P, Name, G->Values[0], "a hexadecimal value from 0 to 0x");
  PutHex(&P->Message, Max);
  return false;
}

bool CountOption(Parse *P, const char *Name, uint64_t Min, uint64_t Max, uint64_t *Value) {
  const GivenOption *G = Given(P, Name);
  if (G == nullptr) return false;
  if (ParseDecimal(G->Values[0], Max, Value) && *Value >= Min) return true;
  FailValue(P, Name, G->Values[0], "a decimal count from ");
  PutDecimal(&P->Message, Min);
  Put(&P->Message, " to ");
  PutDecimal(&P->Message, Max);
  return false;
}

bool RangeValue(Parse *P, const char *Name, const char *Text, SimRange *Range) {
  char Base[MAX_WORD];
  uint32_t Colon = 0;
  while (Text[Colon] != '\0' && Text[Colon] != ':') {
    Base[Colon] = Text[Colon];
    Colon++;
  }
  Base[Colon] = '\0';
  uint64_t B = 0;
  uint64_t L = 0;
  if (Text[Colon] != ':' || !ParseHex(Base, MAX_FLASH_LINEAR, &B) ||
      !ParseHex(Text + Colon + 1, MAX_FLASH_LINEAR, &L) || B > L) {
    FailValue(P, Name, Text, "BASE:LIMIT (hexadecimal flash-linear addresses, BASE <= LIMIT)");
    return false;
  }
  *Range = SimRange{static_cast<uint32_t>(B), static_cast<uint32_t>(L)};
  return true;
}

void ChipValue(Parse *P, const char *Text, SimConfig *Config) {
  int32_t Index = SimFindChipByName(Text);
  for (uint32_t I = 0; Index < 0 && I < SimChipCount(); I++) {
    if (SameIgnoringCase(SimChipAt(I)->Name, Text)) Index = static_cast<int32_t>(I);
  }
  if (Index >= 0) {
    Config->ChipIndex = Index;
    return;
  }
  const char *Digits = Text;
  if (Digits[0] == '0' && (Digits[1] == 'x' || Digits[1] == 'X') && Digits[2] != '\0') {
    Digits += 2;
  }
  uint8_t Id[3];
  uint32_t Length = 0;
  bool Hex = true;
  for (; Hex && Digits[2 * Length] != '\0'; Length++) {
    const int High = HexDigit(Digits[2 * Length]);
    const int Low = HexDigit(Digits[2 * Length + 1]);
    Hex = Length < 3 && High >= 0 && Low >= 0;
    if (Hex) Id[Length] = static_cast<uint8_t>(High * 16 + Low);
  }
  if (Hex && (Length == 2 || Length == 3)) {
    Index = SimFindChipById(Id, Length);
    if (Index >= 0) {
      Config->ChipIndex = Index;
      return;
    }
    Fail(P, "--chip", "no simulated chip answers the identification bytes ");
    Put(&P->Message, Text);
    return;
  }
  Fail(P, "--chip", "'");
  Put(&P->Message, Text);
  Put(&P->Message,
      "' is neither a part name of the table, 'unknown', nor 2 or 3 identification bytes in "
      "hexadecimal");
}

void ConvertMcfg(Parse *P, SimEfiOptions *Options) {
  const GivenOption *G = Given(P, "--mcfg");
  if (G == nullptr) return;
  if (SameIgnoringCase(G->Values[0], "none")) {
    Options->McfgPresent = false;
    return;
  }
  uint64_t Base = 0;
  if (!ParseHex(G->Values[0], MAX_UINT64, &Base)) {
    FailValue(P, "--mcfg", G->Values[0], "a hexadecimal ECAM base address or 'none'");
    return;
  }
  Options->McfgPresent = true;
  Options->McfgBase = Base;
}

void ConvertPlatform(Parse *P, SimConfig *Config) {
  if (const GivenOption *Chip = Given(P, "--chip")) ChipValue(P, Chip->Values[0], Config);
  uint64_t Value = 0;
  if (CountOption(P, "--components", 1, 2, &Value))
    Config->Components = static_cast<uint32_t>(Value);
  // --production first; every option given beside it then sets its own field.
  if (Flag(P, "--production")) SimConfigProduction(Config);
  const bool NoDescriptor = Flag(P, "--no-descriptor");
  const bool LockedDescriptor = Flag(P, "--locked-descriptor");
  if (NoDescriptor && LockedDescriptor) {
    Fail(P, "--locked-descriptor", "cannot be combined with --no-descriptor");
  }
  if (NoDescriptor) {
    Config->NoDescriptor = true;
    Config->LockedDescriptor = false;
  }
  if (LockedDescriptor) Config->LockedDescriptor = true;
  if (CountOption(P, "--seed", 0, MAX_UINT64, &Value)) Config->Seed = Value;
  if (HexOption(P, "--bar0", MAX_UINT32, &Value)) Config->Bar0 = static_cast<uint32_t>(Value);
  Config->NoSpi = Flag(P, "--no-spi");
  Config->NoPmc = Flag(P, "--no-pmc");
  Config->Eiss = Config->Eiss || Flag(P, "--eiss");
  Config->NoBle = Flag(P, "--no-ble");
  Config->SmiLock = Config->SmiLock || Flag(P, "--smi-lock");
  Config->VsccUnlocked = Flag(P, "--vscc-unlocked");
  Config->StuckBusy = Flag(P, "--stuck-busy");
  Config->Flockdn = Config->Flockdn || Flag(P, "--flockdn");
  Config->ChipProtect = Flag(P, "--chip-protect");
  Config->PmTimerStopped = Flag(P, "--pm-timer-stopped");
  if (const GivenOption *Gpr0 = Given(P, "--gpr0")) {
    Config->Gpr0Enabled = RangeValue(P, "--gpr0", Gpr0->Values[0], &Config->Gpr0);
  }

  const GivenOption *Protect = Given(P, "--protect");
  const GivenOption *ProtectRead = Given(P, "--protect-read");
  const uint32_t WriteCount = Protect != nullptr ? Protect->Count : 0;
  const uint32_t ReadCount = ProtectRead != nullptr ? ProtectRead->Count : 0;
  // PR0..PR4 are shared by both kinds of protected range.
  if (WriteCount + ReadCount > SIM_MAX_PROTECTED_RANGES) {
    Fail(P, "--protect", "the controller has only ");
    PutDecimal(&P->Message, SIM_MAX_PROTECTED_RANGES);
    Put(&P->Message, " protected-range registers (--protect and --protect-read together)");
    return;
  }
  Config->ProtectCount = 0;
  for (uint32_t I = 0; I < WriteCount; I++) {
    if (RangeValue(P, "--protect", Protect->Values[I], &Config->Protect[I])) {
      Config->ProtectCount++;
    }
  }
  Config->ProtectReadCount = 0;
  for (uint32_t I = 0; I < ReadCount; I++) {
    if (RangeValue(P, "--protect-read", ProtectRead->Values[I], &Config->ProtectRead[I])) {
      Config->ProtectReadCount++;
    }
  }
  if (CountOption(P, "--fail-cycle", 1, MAX_UINT32, &Value)) {
    Config->FailCycle = static_cast<uint32_t>(Value);
  }
  if (CountOption(P, "--power-loss-after", 1, MAX_UINT32, &Value)) {
    Config->PowerLossAfter = static_cast<uint32_t>(Value);
  }
}

}  // namespace

void SimEfiOptionDefaults(SimEfiOptions *Options) {
  SimConfigDefaults(&Options->Platform);
  Options->McfgPresent = true;
  Options->McfgBase = SIM_EFI_DEFAULT_MCFG_BASE;
}

bool SimEfiParseOptions(const uint8_t *Bytes, size_t Length, SimEfiOptions *Options,
                        char (&Message)[SIM_EFI_MESSAGE_SIZE]) {
  SimEfiOptionDefaults(Options);
  Message[0] = '\0';
  // Some 6 KiB of words: kept off the firmware's small stack.
  static Parse P;
  P.WordCount = 0;
  for (GivenOption &G : P.Given) G.Count = 0;
  P.Message = MessageText{Message, 0};
  P.Failed = false;

  SplitWords(&P, Bytes, Length);
  if (!P.Failed) CollectOptions(&P);
  if (!P.Failed) ConvertMcfg(&P, Options);
  if (!P.Failed) ConvertPlatform(&P, &Options->Platform);
  return !P.Failed;
}

bool SimEfiOptionUseOf(const char *Name, SimEfiOptionUse *Use) {
  for (const OptionEntry &Entry : kOptions) {
    if (Same(Entry.Name, Name)) {
      *Use = Entry.Use;
      return true;
    }
  }
  return false;
}
