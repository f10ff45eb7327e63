#include "host/sim_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/option_table.h"

namespace {

struct Parsed {
  SimParseOutcome Outcome;
  SimOptions Options;
  std::string Message;
};

Parsed Parse(std::initializer_list<const char *> Args) {
  std::vector<const char *> Argv{"pchflash-sim"};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  Parsed Result;
  Result.Outcome =
      ParseSimOptions(static_cast<int>(Argv.size()), Argv.data(), &Result.Options, &Result.Message);
  return Result;
}

void ExpectUsageErrorNaming(std::initializer_list<const char *> Args, const std::string &Option) {
  Parsed Result = Parse(Args);
  EXPECT_EQ(Result.Outcome, SimParseOutcome::UsageError) << "for option " << Option;
  EXPECT_NE(Result.Message.find(Option), std::string::npos)
      << "message '" << Result.Message << "' does not name " << Option;
}

std::filesystem::path WriteTempFile(const std::string &Name, size_t Bytes) {
  std::filesystem::path Path = std::filesystem::temp_directory_path() / Name;
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  std::string Data(Bytes, '\xA5');
  Out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
  return Path;
}

TEST(SimOptions, ArgumentsReachTheApplicationInOrderAfterArgv0) {
  Parsed Result = Parse({"--root", "/tmp", "-r", "x.bin", "--no-spi", "-all"});
  ASSERT_EQ(Result.Outcome, SimParseOutcome::Run) << Result.Message;
  EXPECT_EQ(Result.Options.Arguments, (std::vector<std::string>{"-r", "x.bin", "-all"}));
  ASSERT_EQ(Result.Options.Firmware.Argv.size(), 4u);
  EXPECT_EQ(Result.Options.Firmware.Argv[0], u"pchflash.efi");
  EXPECT_EQ(Result.Options.Firmware.Argv[1], u"-r");
  EXPECT_EQ(Result.Options.Firmware.Root, std::filesystem::path("/tmp"));
  EXPECT_TRUE(Result.Options.Platform.NoSpi);
}

TEST(SimOptions, EverythingAfterALoneDoubleDashIsTheApplicationsUnread) {
  Parsed Result = Parse({"--eiss", "--", "--root", "a", "--", "--bogus"});
  ASSERT_EQ(Result.Outcome, SimParseOutcome::Run) << Result.Message;
  EXPECT_TRUE(Result.Options.Platform.Eiss);
  EXPECT_EQ(Result.Options.Arguments, (std::vector<std::string>{"--root", "a", "--", "--bogus"}));
  EXPECT_EQ(Result.Options.Firmware.Root, std::filesystem::path("."));
}

TEST(SimOptions, NoArgumentsRunsTheApplicationWithArgv0Only) {
  Parsed Result = Parse({});
  ASSERT_EQ(Result.Outcome, SimParseOutcome::Run) << Result.Message;
  EXPECT_EQ(Result.Options.Firmware.Argv, (std::vector<std::u16string>{u"pchflash.efi"}));
  EXPECT_EQ(Result.Options.Firmware.FailAllocation, 0u);
}

TEST(SimOptions, BadOptionsAreUsageErrorsNamingTheOption) {
  ExpectUsageErrorNaming({"--bogus"}, "--bogus");
  ExpectUsageErrorNaming({"a", "--bogus=1", "b"}, "--bogus");
  ExpectUsageErrorNaming({"--root"}, "--root");
  ExpectUsageErrorNaming({"--fail-alloc", "x"}, "--fail-alloc");
  ExpectUsageErrorNaming({"--fail-alloc", "0"}, "--fail-alloc");
  ExpectUsageErrorNaming({"--fail-alloc", "0x3"}, "--fail-alloc");  // a count is decimal
  ExpectUsageErrorNaming({"--fail-alloc", "99999999999999999999"}, "--fail-alloc");
  ExpectUsageErrorNaming({"--components", "3"}, "--components");
  ExpectUsageErrorNaming({"--bar0", "FE01G000"}, "--bar0");
  ExpectUsageErrorNaming({"--bar0", "100000000"}, "--bar0");  // wider than the register
  ExpectUsageErrorNaming({"--bar0", "0x"}, "--bar0");
  ExpectUsageErrorNaming({"--protect", "1000"}, "--protect");
  ExpectUsageErrorNaming({"--protect", "2000:1000"}, "--protect");
  ExpectUsageErrorNaming({"--protect-read", "0:x"}, "--protect-read");
  ExpectUsageErrorNaming({"--gpr0", "900000"}, "--gpr0");
  ExpectUsageErrorNaming({"--gpr0", "910000:90FFFF"}, "--gpr0");
  ExpectUsageErrorNaming({"--gpr0", "0:8000000"}, "--gpr0");  // beyond 27 address bits
  ExpectUsageErrorNaming({"--mcfg", "E000000G"}, "--mcfg");
  ExpectUsageErrorNaming({"--mcfg", "no"}, "--mcfg");
  ExpectUsageErrorNaming({"--mcfg", "10000000000000000"}, "--mcfg");
  ExpectUsageErrorNaming({"--chip-protect=1"}, "chip-protect");
  ExpectUsageErrorNaming({"--production=0"}, "production");
  ExpectUsageErrorNaming({"--eiss=1"}, "eiss");
  ExpectUsageErrorNaming({"--chip", "NOSUCHPART"}, "--chip");
  ExpectUsageErrorNaming({"--full-flash-prepare", "maybe"}, "--full-flash-prepare");
  ExpectUsageErrorNaming({"--efidebug-bytes", "123"}, "--efidebug-bytes");
  ExpectUsageErrorNaming({"--efidebug", "1", "--efidebug-bytes", "00"}, "--efidebug");
  ExpectUsageErrorNaming({"--debug-hob", "zz"}, "--debug-hob");
  ExpectUsageErrorNaming({"--file-fault", "read"}, "--file-fault");
  ExpectUsageErrorNaming({"--file-fault", "seek=8000000000000007"}, "--file-fault");
  ExpectUsageErrorNaming({"--file-fault", "read=oops"}, "--file-fault");
  ExpectUsageErrorNaming({"--volume-bytes", "-1"}, "--volume-bytes");
  ExpectUsageErrorNaming({"--power-loss-after", "0"}, "--power-loss-after");
  ExpectUsageErrorNaming({"--fail-cycle", "1.5"}, "--fail-cycle");
  ExpectUsageErrorNaming({"--seed", "abc"}, "--seed");
  ExpectUsageErrorNaming({"--flash", "/nonexistent/dir/flash.bin"}, "--flash");
}

TEST(SimOptions, HexValuesTakeAnOptionalPrefixAndCountsAreDecimal) {
  Parsed Result =
      Parse({"--bar0", "fe020000", "--fail-alloc", "12", "--fail-cycle", "3", "--power-loss-after",
             "7", "--seed", "18446744073709551615", "--volume-bytes", "0"});
  ASSERT_EQ(Result.Outcome, SimParseOutcome::Run) << Result.Message;
  EXPECT_EQ(Result.Options.Platform.Bar0, 0xFE020000u);
  EXPECT_EQ(Result.Options.Firmware.FailAllocation, 12u);
  EXPECT_EQ(Result.Options.Platform.FailCycle, 3u);
  EXPECT_EQ(Result.Options.Platform.PowerLossAfter, 7u);
  EXPECT_EQ(Result.Options.Platform.Seed, 18446744073709551615ull);
  EXPECT_EQ(Result.Options.Firmware.VolumeBytes, std::optional<uint64_t>(0));

  // BAR0 holding no base is a platform worth simulating.
  Parsed NoBase = Parse({"--bar0=0x0"});
  ASSERT_EQ(NoBase.Outcome, SimParseOutcome::Run) << NoBase.Message;
  EXPECT_EQ(NoBase.Options.Platform.Bar0, 0u);
}

TEST(SimOptions, NumberParsersRejectOverflowAndJunk) {
  const auto Hex = [](const std::string &Text, uint64_t Max, uint64_t *Value) {
    return SimParseHex(Text.data(), Text.size(), Max, Value);
  };
  const auto Decimal = [](const std::string &Text, uint64_t Max, uint64_t *Value) {
    return SimParseDecimal(Text.data(), Text.size(), Max, Value);
  };
  uint64_t Value = 0;
  EXPECT_TRUE(Hex("0XffFF", 0xFFFF, &Value));
  EXPECT_EQ(Value, 0xFFFFu);
  EXPECT_FALSE(Hex("10000", 0xFFFF, &Value));
  EXPECT_TRUE(Hex("FFFFFFFFFFFFFFFF", UINT64_MAX, &Value));
  EXPECT_FALSE(Hex("10000000000000000", UINT64_MAX, &Value));
  EXPECT_FALSE(Hex("", UINT64_MAX, &Value));
  EXPECT_FALSE(Hex(" 1", UINT64_MAX, &Value));
  EXPECT_TRUE(Decimal("18446744073709551615", UINT64_MAX, &Value));
  EXPECT_FALSE(Decimal("18446744073709551616", UINT64_MAX, &Value));
  EXPECT_FALSE(Decimal("+1", UINT64_MAX, &Value));
  // Small limits hold for single digits.
  EXPECT_FALSE(Decimal("3", 2, &Value));
  EXPECT_TRUE(Decimal("2", 2, &Value));
  EXPECT_FALSE(Hex("F", 9, &Value));
  EXPECT_TRUE(Hex("9", 9, &Value));
  EXPECT_EQ(Value, 9u);
  uint8_t Bytes[4];
  uint32_t Length = 0;
  EXPECT_TRUE(SimParseHexBytes("00004000", Bytes, 4, &Length));
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + Length), (std::vector<uint8_t>{0, 0, 0x40, 0}));
  EXPECT_FALSE(SimParseHexBytes("0g", Bytes, 4, &Length));
  EXPECT_FALSE(SimParseHexBytes("0", Bytes, 4, &Length));
  EXPECT_FALSE(SimParseHexBytes("0000000000", Bytes, 4, &Length));
}

TEST(SimOptions, DebugMaskSourcesGiveTheBytesTheApplicationReads) {
  Parsed Value = Parse({"--efidebug", "0x400000"});
  ASSERT_EQ(Value.Outcome, SimParseOutcome::Run) << Value.Message;
  EXPECT_EQ(Value.Options.Firmware.EfiDebugBytes,
            (std::vector<uint8_t>{0x00, 0x00, 0x40, 0x00, 0, 0, 0, 0}));
  EXPECT_FALSE(Value.Options.Firmware.VariablesNotAvailableYet);

  Parsed Bytes = Parse({"--efidebug-bytes", "00004000"});
  ASSERT_EQ(Bytes.Outcome, SimParseOutcome::Run) << Bytes.Message;
  EXPECT_EQ(Bytes.Options.Firmware.EfiDebugBytes, (std::vector<uint8_t>{0x00, 0x00, 0x40, 0x00}));

  // The hand-off block is only consulted when variable services are not up yet.
  Parsed Hob = Parse({"--debug-hob", "4200008000000000"});
  ASSERT_EQ(Hob.Outcome, SimParseOutcome::Run) << Hob.Message;
  EXPECT_TRUE(Hob.Options.Firmware.VariablesNotAvailableYet);
  EXPECT_EQ(Hob.Options.Firmware.DebugHob,
            (std::vector<uint8_t>{0x42, 0x00, 0x00, 0x80, 0, 0, 0, 0}));
}

TEST(SimOptions, FullFlashPrepareAndFileFaults) {
  Parsed Absent = Parse({"--full-flash-prepare", "absent"});
  ASSERT_EQ(Absent.Outcome, SimParseOutcome::Run) << Absent.Message;
  EXPECT_FALSE(Absent.Options.Firmware.FullFlashPreparePresent);

  Parsed Failing = Parse({"--full-flash-prepare", "8000000000000007", "--file-fault",
                          "create=800000000000000B", "--file-fault", "READ=0x8000000000000007"});
  ASSERT_EQ(Failing.Outcome, SimParseOutcome::Run) << Failing.Message;
  EXPECT_TRUE(Failing.Options.Firmware.FullFlashPreparePresent);
  EXPECT_EQ(Failing.Options.Firmware.FullFlashPrepareStatus, EFI_DEVICE_ERROR);
  ASSERT_EQ(Failing.Options.Firmware.FileFaults.size(), 2u);
  EXPECT_EQ(Failing.Options.Firmware.FileFaults[0].Op, ShellFileOp::Create);
  EXPECT_EQ(Failing.Options.Firmware.FileFaults[0].Status, EFI_VOLUME_FULL);
  EXPECT_EQ(Failing.Options.Firmware.FileFaults[1].Op, ShellFileOp::Read);
  EXPECT_EQ(Failing.Options.Firmware.FileFaults[1].Status, EFI_DEVICE_ERROR);
}

TEST(SimOptions, ProtectedRangesShareTheFiveRegisters) {
  Parsed Two = Parse(
      {"--protect", "0:FFF", "--protect-read", "0x10000:0x1FFFF", "--protect", "800000:FFFFFF"});
  ASSERT_EQ(Two.Outcome, SimParseOutcome::Run) << Two.Message;
  ASSERT_EQ(Two.Options.Platform.ProtectCount, 2u);
  EXPECT_EQ(Two.Options.Platform.Protect[1].Base, 0x800000u);
  EXPECT_EQ(Two.Options.Platform.Protect[1].Limit, 0xFFFFFFu);
  ASSERT_EQ(Two.Options.Platform.ProtectReadCount, 1u);
  EXPECT_EQ(Two.Options.Platform.ProtectRead[0].Base, 0x10000u);

  ExpectUsageErrorNaming({"--protect", "0:1", "--protect", "0:1", "--protect", "0:1",
                          "--protect-read", "0:1", "--protect-read", "0:1", "--protect", "0:1"},
                         "--protect");
}

TEST(SimOptions, ShippedBoardSetUps) {
  Parsed Defaults = Parse({});
  ASSERT_EQ(Defaults.Outcome, SimParseOutcome::Run) << Defaults.Message;
  EXPECT_FALSE(Defaults.Options.Platform.Gpr0Enabled);
  EXPECT_FALSE(Defaults.Options.Platform.Flockdn);
  EXPECT_EQ(Defaults.Options.Firmware.McfgBase, std::optional<uint64_t>(0xE0000000));

  Parsed Each = Parse({"--gpr0", "900000:0x90FFFF", "--chip-protect", "--pm-timer-stopped",
                       "--flockdn", "--mcfg", "0xB0000000"});
  ASSERT_EQ(Each.Outcome, SimParseOutcome::Run) << Each.Message;
  const SimConfig &P = Each.Options.Platform;
  EXPECT_TRUE(P.Gpr0Enabled);
  EXPECT_EQ(P.Gpr0.Base, 0x900000u);
  EXPECT_EQ(P.Gpr0.Limit, 0x90FFFFu);
  EXPECT_TRUE(P.ChipProtect);
  EXPECT_TRUE(P.PmTimerStopped);
  EXPECT_TRUE(P.Flockdn);
  EXPECT_FALSE(P.Eiss);
  EXPECT_EQ(Each.Options.Firmware.McfgBase, std::optional<uint64_t>(0xB0000000));

  Parsed NoAcpi = Parse({"--mcfg", "NONE"});
  ASSERT_EQ(NoAcpi.Outcome, SimParseOutcome::Run) << NoAcpi.Message;
  EXPECT_EQ(NoAcpi.Options.Firmware.McfgBase, std::nullopt);

  Parsed Production = Parse({"--production"});
  ASSERT_EQ(Production.Outcome, SimParseOutcome::Run) << Production.Message;
  SimConfig Expected;
  SimConfigDefaults(&Expected);
  SimConfigProduction(&Expected);
  EXPECT_EQ(std::memcmp(&Production.Options.Platform, &Expected, sizeof(SimConfig)), 0);
  EXPECT_TRUE(Production.Options.Platform.LockedDescriptor);
  EXPECT_TRUE(Production.Options.Platform.Eiss);

  // Options given beside the shorthand set their own fields.
  Parsed Combined =
      Parse({"--production", "--vscc-unlocked", "--no-ble", "--no-descriptor", "--chip-protect"});
  ASSERT_EQ(Combined.Outcome, SimParseOutcome::Run) << Combined.Message;
  const SimConfig &C = Combined.Options.Platform;
  EXPECT_TRUE(C.VsccUnlocked);
  EXPECT_TRUE(C.NoBle);
  EXPECT_TRUE(C.NoDescriptor);
  EXPECT_FALSE(C.LockedDescriptor);
  EXPECT_TRUE(C.ChipProtect);
  EXPECT_TRUE(C.Flockdn);
  EXPECT_TRUE(C.Eiss);
  EXPECT_TRUE(C.SmiLock);
  ExpectUsageErrorNaming({"--production", "--locked-descriptor", "--no-descriptor"},
                         "--locked-descriptor");
}

TEST(SimOptions, ChipByNameIdentificationBytesOrUnknown) {
  Parsed ByName = Parse({"--chip", "W25Q128BV"});
  ASSERT_EQ(ByName.Outcome, SimParseOutcome::Run) << ByName.Message;
  EXPECT_EQ(ByName.Options.Platform.ChipIndex, SimFindChipByName("W25Q128BV"));

  const uint8_t W25Q128Id[3] = {0xEF, 0x40, 0x18};
  Parsed ById = Parse({"--chip", "EF4018"});
  ASSERT_EQ(ById.Outcome, SimParseOutcome::Run) << ById.Message;
  EXPECT_EQ(ById.Options.Platform.ChipIndex, SimFindChipById(W25Q128Id, 3));

  Parsed Unknown = Parse({"--chip", "unknown"});
  ASSERT_EQ(Unknown.Outcome, SimParseOutcome::Run) << Unknown.Message;
  EXPECT_EQ(Unknown.Options.Platform.ChipIndex, SimFindChipByName("unknown"));
  EXPECT_EQ(std::string(SimChipAt(Unknown.Options.Platform.ChipIndex)->Name), "unknown");
}

TEST(SimOptions, FlashFileMustHoldExactlyTheFlashSize) {
  SimConfig Defaults;
  SimConfigDefaults(&Defaults);
  const size_t FlashSize = SimConfigFlashSize(&Defaults);

  std::filesystem::path Exact = WriteTempFile("pchflash_tool_exact.bin", FlashSize);
  Parsed Good = Parse({"--flash", Exact.c_str()});
  ASSERT_EQ(Good.Outcome, SimParseOutcome::Run) << Good.Message;
  EXPECT_EQ(Good.Options.InitialFlash.size(), FlashSize);
  SimConfig Config = PlatformConfigOf(Good.Options);
  EXPECT_EQ(Config.InitialFlash, Good.Options.InitialFlash.data());
  EXPECT_EQ(Config.InitialFlashSize, FlashSize);

  std::filesystem::path Short = WriteTempFile("pchflash_tool_short.bin", FlashSize - 1);
  ExpectUsageErrorNaming({"--flash", Short.c_str()}, "--flash");
  // Two chips of the default kind make a flash twice that size.
  ExpectUsageErrorNaming({"--components", "2", "--flash", Exact.c_str()}, "--flash");
  std::filesystem::remove(Exact);
  std::filesystem::remove(Short);
}

TEST(SimOptions, ArgumentsAreConvertedFromUtf8) {
  Parsed Result = Parse({"-r", "b\xC3\xA4r.bin"});
  ASSERT_EQ(Result.Outcome, SimParseOutcome::Run) << Result.Message;
  EXPECT_EQ(Result.Options.Firmware.Argv[2], u"b\u00E4r.bin");
}

TEST(SimOptions, HelpIsNotAUsageError) {
  Parsed Result = Parse({"--help"});
  EXPECT_EQ(Result.Outcome, SimParseOutcome::Help);
  for (const char *Option : {"--power-loss-after", "--gpr0", "--chip-protect", "--pm-timer-stopped",
                             "--flockdn", "--production", "--mcfg"}) {
    EXPECT_NE(Result.Message.find(Option), std::string::npos) << Option;
  }
}

}  // namespace
