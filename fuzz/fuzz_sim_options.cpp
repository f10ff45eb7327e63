// The option words of pchflash-sim, drawn from the input (zero bytes separate them),
// through both front ends: pchflash-sim's command line and pchflash-sim.efi's
// options file. The same words must give the same platform and ECAM base on both,
// or be refused by both; a host program's own option is refused by the file.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/sim_options.h"
#include "sim/efi/option_line.h"

namespace {

// What a word of an options file can be: printable ASCII without blanks, short.
constexpr size_t MAX_WORD = 95;
constexpr size_t MAX_WORDS = 64;

bool NamesHostOption(const std::string &Word) {
  if (Word.rfind("--", 0) != 0) return false;
  const SimOptionRow *Row = SimOptionFind(
      Word.c_str(), Word.find('=') == std::string::npos ? Word.size() : Word.find('='));
  return Row != nullptr && Row->Scope != SimScopePlatform;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  InputReader Input(Data, Size);
  std::vector<std::string> Words;
  bool HostOption = false;
  while (!Input.Empty() && Words.size() < MAX_WORDS) {
    std::string Word;
    for (char C : Input.Text()) {
      if (C > ' ' && C < 0x7F && Word.size() < MAX_WORD) Word.push_back(C);
    }
    if (Word.empty()) continue;
    // A --flash file is read whole: keep to names of no file.
    if (Word.rfind("--flash", 0) == 0) Word = "--flash-not-fuzzed";
    HostOption = HostOption || NamesHostOption(Word);
    Words.push_back(Word);
  }

  std::string Line;
  for (const std::string &Word : Words) Line += Word + " ";
  SimOptionSettings Efi;
  char EfiMessage[SIM_EFI_MESSAGE_SIZE];
  const bool EfiTaken = SimEfiParseOptions(reinterpret_cast<const uint8_t *>(Line.data()),
                                           Line.size(), &Efi, EfiMessage);
  if (!EfiTaken && EfiMessage[0] == '\0') __builtin_trap();  // a refusal says why

  // A trailing lone "--" ends the options; any word the host passes on to the
  // application (a "--" among the words included) is one the file refuses.
  std::vector<const char *> Argv{"pchflash-sim"};
  for (const std::string &Word : Words) Argv.push_back(Word.c_str());
  Argv.push_back("--");
  SimOptions Host;
  std::string HostMessage;
  const SimParseOutcome Outcome =
      ParseSimOptions(static_cast<int>(Argv.size()), Argv.data(), &Host, &HostMessage);
  if (Outcome != SimParseOutcome::Run && HostMessage.empty()) __builtin_trap();
  const bool HostTaken = Outcome == SimParseOutcome::Run && Host.Arguments.empty();

  if (HostOption) {
    // The file refuses the host's own options, whether as options or as values.
    if (EfiTaken) __builtin_trap();
    return 0;
  }
  if (EfiTaken != HostTaken) __builtin_trap();
  if (!EfiTaken) return 0;
  if (std::memcmp(&Efi.Platform, &Host.Platform, sizeof(SimConfig)) != 0) __builtin_trap();
  if (Efi.McfgPresent != Host.Firmware.McfgBase.has_value()) __builtin_trap();
  if (Efi.McfgPresent && Efi.McfgBase != *Host.Firmware.McfgBase) __builtin_trap();
  SimConfigFlashSize(&Efi.Platform);
  return 0;
}
