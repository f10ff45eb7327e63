// MainRoutine's outcomes before any command runs, through ModuleEntry on the
// host firmware model: console text byte for byte, exit status, and no pool
// allocation left behind.
#include <gtest/gtest.h>

#include "support/app_run.h"

namespace {

struct ArgumentCase {
  const char *Title;
  std::vector<std::string> Args;
  const char *Console;
  EFI_STATUS Status;
};

constexpr const char *TooFew =
    "Error. Too few arguments specified.\r\nUsage: pchflash -r FILE (save the BIOS window to a new "
    "file) | -w FILE (write an 8 MiB or whole-flash image, then reset)\r\n";

const ArgumentCase ArgumentCases[] = {
    {"NoArguments", {}, TooFew, EFI_SUCCESS},
    {"ReadSwitchWithoutFile", {"-r"}, TooFew, EFI_SUCCESS},
    {"WriteSwitchWithoutFile", {"-w"}, TooFew, EFI_SUCCESS},
    {"ThreeValues",
     {"a", "b", "c"},
     "Error. Too many arguments specified.\r\n",
     EFI_INVALID_PARAMETER},
    {"ReadWithThreeValues",
     {"-r", "a", "b", "c"},
     "Error. Too many arguments specified.\r\n",
     EFI_INVALID_PARAMETER},
    {"UnknownSwitch",
     {"-x", "a"},
     "Error. The argument '-x' is incorrect.\r\n",
     EFI_INVALID_PARAMETER},
    // The page-break switch is "-b" exactly; "-B" is no switch of the table.
    {"UpperCasePageBreak",
     {"-B", "a"},
     "Error. The argument '-B' is incorrect.\r\n",
     EFI_INVALID_PARAMETER},
    {"SlashSwitch",
     {"/r", "a"},
     "Error. The argument '/r' is incorrect.\r\n",
     EFI_INVALID_PARAMETER},
};

class ArgumentOutcome : public ::testing::TestWithParam<ArgumentCase> {};

}  // namespace

TEST_P(ArgumentOutcome, PrintsItsMessageAndReturnsItsStatus) {
  const ArgumentCase &Case = GetParam();
  AppRun Run = RunApp(Case.Args);
  EXPECT_EQ(Run.Console, Case.Console);
  EXPECT_EQ(Run.Status, Case.Status);
  EXPECT_EQ(Run.PoolOutstanding, 0u);
  EXPECT_EQ(Run.Firmware->UnexpectedCalls(), 0u);
  EXPECT_EQ(Run.Firmware->CurrentTpl(), TPL_APPLICATION);
  // Refused before the command: no file was touched.
  EXPECT_EQ(Run.Firmware->CallCount("OpenFileByName"), 0u);
  EXPECT_EQ(Run.Firmware->OpenFileHandles(), 0u);
  // The debug-mask protocol came and went with the run.
  EXPECT_EQ(Run.Firmware->DebugMask(), 0x80000042u);
  EFI_GUID MaskGuid = EFI_DEBUG_MASK_PROTOCOL_GUID;
  EXPECT_EQ(Run.Firmware->InstalledInterface(Run.Firmware->ImageHandle(), MaskGuid), nullptr);
}

INSTANTIATE_TEST_SUITE_P(MainRoutine, ArgumentOutcome, ::testing::ValuesIn(ArgumentCases),
                         [](const ::testing::TestParamInfo<ArgumentCase> &Info) {
                           return std::string(Info.param.Title);
                         });

TEST(MainRoutineBuffers, EitherImageBufferMissingEndsTheRunWithOneLine) {
  for (uint64_t Failing : {1u, 2u}) {
    HostFirmwareConfig Config;
    Config.FailAllocation = Failing;
    AppRun Run = RunApp({"-r", "backup.bin"}, Config);
    EXPECT_EQ(Run.Status, EFI_OUT_OF_RESOURCES) << "allocation " << Failing;
    ASSERT_GE(Run.Console.size(), 2u);
    EXPECT_EQ(Run.Console.find("\r\n"), Run.Console.size() - 2) << Run.Console;
    EXPECT_EQ(Run.PoolOutstanding, 0u);
    EXPECT_EQ(Run.Firmware->CallCount("OpenFileByName"), 0u);
  }
}

TEST(MainRoutineBuffers, NoAllocationFailureLeavesPoolBehind) {
  // Every allocation of a refused command line fails in turn: whatever the
  // outcome, nothing stays allocated.
  for (const std::vector<std::string> &Args :
       {std::vector<std::string>{"a", "b", "c"}, std::vector<std::string>{"-x", "a"}}) {
    uint64_t Allocations = RunApp(Args).Firmware->AllocationCount();
    ASSERT_GT(Allocations, 2u);
    for (uint64_t Failing = 1; Failing <= Allocations; ++Failing) {
      HostFirmwareConfig Config;
      Config.FailAllocation = Failing;
      AppRun Run = RunApp(Args, Config);
      // A parse that can't copy the offending argument ends with its own
      // EFI_VOLUME_CORRUPTED and no text.
      EXPECT_TRUE(Run.Status == EFI_OUT_OF_RESOURCES || Run.Status == EFI_INVALID_PARAMETER ||
                  Run.Status == EFI_VOLUME_CORRUPTED)
          << "allocation " << Failing << " of " << Args[0] << ": 0x" << std::hex << Run.Status;
      EXPECT_EQ(Run.PoolOutstanding, 0u) << "allocation " << Failing << " of " << Args[0];
      EXPECT_EQ(Run.Firmware->UnexpectedCalls(), 0u);
    }
  }
}
