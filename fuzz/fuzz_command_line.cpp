// The shell's argument vector, drawn from the input, through the application's
// command-line parser, as MainRoutine runs it: ParseCommandLine over the shell
// parameters protocol, then the queries the commands make.
#include "app/main.h"
#include "base/firmware.h"
#include "fuzz/fuzz_support.h"
#include "host/firmware_model.h"
#include "shell/params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  InputReader Input(Data, Size);
  const uint8_t Options = Input.Byte();
  HostFirmwareConfig Config;
  Config.Root = "/nonexistent-pchflash-fuzz-volume";
  Config.Argv.push_back(u"pchflash.efi");
  while (!Input.Empty() && Config.Argv.size() < 64) {
    Config.Argv.push_back(Input.WideText());
  }
  HostFirmware Firmware(Config);
  StartEnvironment(Firmware.ImageHandle(), Firmware.SystemTable());

  ParamList List = nullptr;
  CHAR16 *Problem = nullptr;
  const BOOLEAN AllowNumbers = (Options & 1) != 0;
  EFI_STATUS Status = ParseCommandLine(CommandParamTable, &List, &Problem, FALSE, AllowNumbers);
  if (!EFI_ERROR(Status)) {
    HasFlag(List, u"-r");
    HasFlag(List, u"-w");
    for (UINT64 Position = 0; Position < CountPositional(List) + 1; Position++) {
      const CHAR16 *Value = GetPositionalValue(List, Position);
      while (Value != nullptr && *Value != 0) Value++;
    }
  }
  FreeParamList(List);
  if (Problem != nullptr) PoolFree(Problem);
  StopEnvironment(Firmware.ImageHandle(), Firmware.SystemTable());
  if (Firmware.PoolOutstanding() != 0) __builtin_trap();  // the parser lost pool memory
  return 0;
}
