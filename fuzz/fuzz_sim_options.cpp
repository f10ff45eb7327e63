// pchflash-sim's command line, drawn from the input (zero bytes separate the
// arguments), through its option parsing and the platform configuration it gives.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/sim_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  InputReader Input(Data, Size);
  std::vector<std::string> Arguments = {"pchflash-sim"};
  while (!Input.Empty() && Arguments.size() < 64) {
    std::string Argument = Input.Text();
    // A --flash file is read whole: keep to names of no file (or of an empty one).
    if (Argument.rfind("--flash", 0) == 0) {
      Argument = "--flash-not-fuzzed";
    }
    Arguments.push_back(Argument);
  }
  std::vector<const char *> Argv;
  for (const std::string &Argument : Arguments) Argv.push_back(Argument.c_str());
  Argv.push_back(nullptr);

  SimOptions Options;
  std::string Message;
  SimParseOutcome Outcome =
      ParseSimOptions(static_cast<int>(Arguments.size()), Argv.data(), &Options, &Message);
  if (Outcome == SimParseOutcome::Run) {
    SimConfig Config = PlatformConfigOf(Options);
    SimConfigFlashSize(&Config);
  } else if (Message.empty()) {
    __builtin_trap();  // a refusal says why
  }
  return 0;
}
