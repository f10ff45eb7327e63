// pchflash-sim.opt: the file is split into words and the words into options, which
// then go through the option table's converter as pchflash-sim's command line
// does, so that a line means the same platform in the real shell as on the host.
#include "sim/efi/option_line.h"

namespace {

constexpr uint32_t MAX_WORDS = 64;
constexpr uint32_t MAX_WORD = 96;

struct Word {
  char Text[MAX_WORD];
};

struct Parse {
  Word Words[MAX_WORDS];
  uint32_t WordCount;
  SimOptionWord Options[MAX_WORDS];
  uint32_t OptionCount;
  SimOptionMessage Message;
  bool Failed;
};

// The first failure is the one reported.
void Fail(Parse *P, const char *Option, const char *Text) {
  if (P->Failed) return;
  P->Failed = true;
  if (Option != nullptr) {
    SimMessagePut(&P->Message, Option);
    SimMessagePut(&P->Message, ": ");
  }
  SimMessagePut(&P->Message, Text);
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
      SimMessagePut(&P->Message, W.Text);
      SimMessagePut(&P->Message, "...'");
      return;
    }
    W.Text[InWord++] = static_cast<char>(Code);
    W.Text[InWord] = '\0';
  }
}

bool SameText(const char *A, const char *B) {
  while (*A != '\0' && *A == *B) {
    A++;
    B++;
  }
  return *A == *B;
}

void Record(Parse *P, const SimOptionRow *Row, const char *Value) {
  uint32_t Given = 0;
  for (uint32_t I = 0; I < P->OptionCount; I++) Given += P->Options[I].Row == Row ? 1 : 0;
  if (Given > 0 && Row->Form != SimFormFlag && !Row->Repeats) {
    Fail(P, Row->Name, "given more than once");
    return;
  }
  if (Row->Repeats && Given == SIM_MAX_PROTECTED_RANGES + 1) {
    Fail(P, Row->Name, "given too often");
    return;
  }
  P->Options[P->OptionCount++] = SimOptionWord{Row, Value};
}

// "--name VALUE", "--name=VALUE" and "--flag", as the host's command line takes them
// (a flag there also takes "=" with nothing or "true" after it).
void CollectOptions(Parse *P) {
  for (uint32_t I = 0; I < P->WordCount && !P->Failed; I++) {
    char *Text = P->Words[I].Text;
    if (Text[0] != '-' || Text[1] != '-' || Text[2] == '\0') {
      Fail(P, nullptr, "'");
      SimMessagePut(&P->Message, Text);
      SimMessagePut(&P->Message,
                    "' is not an option (the file holds options only, each beginning with --)");
      return;
    }
    uint32_t NameLength = 0;
    while (Text[NameLength] != '\0' && Text[NameLength] != '=') NameLength++;
    const SimOptionRow *Row = SimOptionFind(Text, NameLength);
    if (Row == nullptr) {
      Text[NameLength] = '\0';
      Fail(P, Text, "unknown option");
      return;
    }
    if (Row->Scope == SimScopeHostFiles) {
      Fail(P, Row->Name,
           "does not apply to pchflash-sim.efi (its files are simflash.bin and "
           "pchflash-sim.opt on the volume it was started from)");
      return;
    }
    if (Row->Scope == SimScopeHostFirmware) {
      Fail(P, Row->Name,
           "describes the host's firmware model; in the real shell the firmware is the real one");
      return;
    }
    const char *Value = Text[NameLength] == '=' ? Text + NameLength + 1 : nullptr;
    if (Row->Form == SimFormFlag) {
      if (Value != nullptr && Value[0] != '\0' && !SameText(Value, "true")) {
        Fail(P, Row->Name, "takes no value");
        return;
      }
      Record(P, Row, nullptr);
    } else if (Value != nullptr) {
      Record(P, Row, Value);
    } else if (I + 1 < P->WordCount) {
      Record(P, Row, P->Words[++I].Text);
    } else {
      Fail(P, Row->Name, "needs a value");
    }
  }
}

}  // namespace

bool SimEfiParseOptions(const uint8_t *Bytes, size_t Length, SimOptionSettings *Options,
                        char (&Message)[SIM_EFI_MESSAGE_SIZE]) {
  SimOptionDefaults(Options);
  // Some 7 KiB of words: kept off the firmware's small stack.
  static Parse P;
  P.WordCount = 0;
  P.OptionCount = 0;
  P.Message = SimOptionMessage{Message, SIM_EFI_MESSAGE_SIZE, 0};
  P.Failed = false;
  SimMessagePut(&P.Message, "pchflash-sim.opt: ");

  SplitWords(&P, Bytes, Length);
  if (!P.Failed) CollectOptions(&P);
  if (!P.Failed)
    P.Failed = !SimOptionsConvert(P.Options, P.OptionCount, Options, nullptr, &P.Message);
  if (!P.Failed) Message[0] = '\0';
  return !P.Failed;
}
