// pchflash-sim.opt, the options line of pchflash-sim.efi, held against
// pchflash-sim's own command line: a line must describe the same platform in the
// real shell as the same words do on the host, or be refused naming the same option.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/sim_options.h"
#include "sim/efi/option_line.h"

namespace {

struct EfiParse {
  bool Good;
  SimEfiOptions Options;
  std::string Message;
};

EfiParse ParseEfi(const std::string &Bytes) {
  EfiParse Result{};
  char Message[SIM_EFI_MESSAGE_SIZE];
  Result.Good = SimEfiParseOptions(reinterpret_cast<const uint8_t *>(Bytes.data()), Bytes.size(),
                                   &Result.Options, Message);
  Result.Message = Message;
  return Result;
}

std::vector<std::string> Words(const std::string &Line) {
  std::istringstream In(Line);
  std::vector<std::string> Result;
  for (std::string Word; In >> Word;) Result.push_back(Word);
  return Result;
}

SimParseOutcome ParseHost(const std::string &Line, SimOptions *Options, std::string *Message) {
  std::vector<std::string> Args = Words(Line);
  std::vector<const char *> Argv{"pchflash-sim"};
  for (const std::string &Arg : Args) Argv.push_back(Arg.c_str());
  return ParseSimOptions(static_cast<int>(Argv.size()), Argv.data(), Options, Message);
}

// The first "--name" a message mentions: the option it blames.
std::string BlamedOption(const std::string &Message) {
  std::smatch Match;
  return std::regex_search(Message, Match, std::regex("--[a-z0-9-]+")) ? Match.str() : "";
}

// Both parsers start from SimConfigDefaults, which clears the whole record, padding
// included, and then set members only: equal platforms compare equal byte for byte.
bool SamePlatform(const SimConfig &Left, const SimConfig &Right) {
  return std::memcmp(&Left, &Right, sizeof(SimConfig)) == 0;
}

}  // namespace

// One row per way a line can go: each either means the same platform (and ECAM
// base) on both sides, or is refused on both, naming the same option.
TEST(SimEfiOptions, LineMeansWhatTheSameWordsMeanToPchflashSim) {
  const char *const Lines[] = {
      "",
      "--chip W25Q64BV",
      "--chip w25q64bv --components 2",
      "--chip EF4017",
      "--chip 0xC22017",
      "--chip unknown",
      "--production",
      "--production --no-ble --vscc-unlocked",
      "--production --no-descriptor",
      "--locked-descriptor --eiss --smi-lock",
      "--protect 800000:80FFFF --protect C00000:C0FFFF --protect-read 0:FFF",
      "--gpr0 C00000:FFFFFF --flockdn",
      "--fail-cycle 131100 --power-loss-after 3",
      "--stuck-busy --chip-protect --pm-timer-stopped --no-pmc --no-spi",
      "--seed 42 --bar0 0xFE020000 --no-descriptor",
      "--mcfg B0000000",
      "--mcfg none",
      "--mcfg=E0000000 --fail-cycle=7",
      // Refused on both sides.
      "--chip nosuch",
      "--chip EF0000",
      "--components 3",
      "--fail-cycle 0",
      "--power-loss-after x",
      "--protect 5:4",
      "--protect 0:1 --protect 2:3 --protect 4:5 --protect 6:7 --protect 8:9 --protect-read a:b",
      "--gpr0 1000",
      "--locked-descriptor --no-descriptor",
      "--mcfg xyz",
      "--bar0 100000000",
      "--seed -1",
      "--bogus",
  };
  for (const char *Line : Lines) {
    SCOPED_TRACE(std::string("line: '") + Line + "'");
    SimOptions Host;
    std::string HostMessage;
    const SimParseOutcome Outcome = ParseHost(Line, &Host, &HostMessage);
    const EfiParse Efi = ParseEfi(Line);
    ASSERT_EQ(Efi.Good, Outcome == SimParseOutcome::Run)
        << "host: '" << HostMessage << "', efi: '" << Efi.Message << "'";
    if (!Efi.Good) {
      EXPECT_EQ(BlamedOption(Efi.Message), BlamedOption(HostMessage))
          << "host: '" << HostMessage << "', efi: '" << Efi.Message << "'";
      EXPECT_EQ(Efi.Message.rfind("pchflash-sim.opt: ", 0), 0u) << Efi.Message;
      EXPECT_EQ(Efi.Message.find_first_of("\r\n"), std::string::npos) << Efi.Message;
      continue;
    }
    EXPECT_TRUE(SamePlatform(Efi.Options.Platform, Host.Platform));
    EXPECT_EQ(Efi.Options.McfgPresent, Host.Firmware.McfgBase.has_value());
    if (Host.Firmware.McfgBase) {
      EXPECT_EQ(Efi.Options.McfgBase, *Host.Firmware.McfgBase);
    }
  }
}

// What the host takes but the real shell cannot: the host's files and its firmware
// model (the real shell has its own firmware and volume), and anything but options.
TEST(SimEfiOptions, HostFilesFirmwareModelAndApplicationArgumentsAreRefusedByName) {
  const struct {
    const char *Line;
    const char *Blamed;
  } Rows[] = {
      {"--root adir", "--root"},
      {"--flash simflash.bin", "--flash"},
      {"--save-flash out.bin", "--save-flash"},
      {"--summary", "--summary"},
      {"--fail-alloc 1", "--fail-alloc"},
      {"--full-flash-prepare success", "--full-flash-prepare"},
      {"--file-fault read=8000000000000007", "--file-fault"},
      {"--eiss -r", "'-r'"},
      {"--chip W25Q64BV extra", "'extra'"},
      {"--eiss=1", "--eiss"},
      {"--seed", "--seed"},
      {"--chip W25Q64BV --chip W25Q128BV", "--chip"},
  };
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Line);
    const EfiParse Efi = ParseEfi(Row.Line);
    EXPECT_FALSE(Efi.Good);
    EXPECT_NE(Efi.Message.find(Row.Blamed), std::string::npos) << Efi.Message;
  }
}

// The shell's own editor and "echo ... > file" write UCS-2 with a byte-order mark,
// and files carry line ends: all read as the same words.
TEST(SimEfiOptions, Ucs2WithByteOrderMarkAndLineEndsReadAsTheSameLine) {
  const std::string Line = "--protect 800000:80FFFF\r\n--fail-cycle 9\r\n";
  std::string Wide = "\xFF\xFE";
  for (char C : Line) Wide += std::string{C, '\0'};
  const EfiParse Narrow = ParseEfi(Line);
  const EfiParse FromWide = ParseEfi(Wide);
  ASSERT_TRUE(Narrow.Good) << Narrow.Message;
  ASSERT_TRUE(FromWide.Good) << FromWide.Message;
  EXPECT_EQ(Narrow.Options.Platform.ProtectCount, 1u);
  EXPECT_EQ(Narrow.Options.Platform.FailCycle, 9u);
  EXPECT_TRUE(SamePlatform(Narrow.Options.Platform, FromWide.Options.Platform));

  EXPECT_FALSE(ParseEfi("--chip W25Q64BV\xC3\xA9").Good);
  EXPECT_FALSE(ParseEfi(std::string("\xFF\xFE-\0-\0\xE9\0", 8)).Good);
}

// An option added to pchflash-sim must be decided on for the options file too.
TEST(SimEfiOptions, EveryOptionOfPchflashSimIsTakenOrRefusedByTheOptionsFile) {
  SimOptions Host;
  std::string Help;
  const char *Argv[] = {"pchflash-sim", "--help"};
  ASSERT_EQ(ParseSimOptions(2, Argv, &Host, &Help), SimParseOutcome::Help);
  std::set<std::string> Names;
  const std::regex Option("(^|[ ,])(--[a-z0-9][a-z0-9-]*)");
  for (auto It = std::sregex_iterator(Help.begin(), Help.end(), Option);
       It != std::sregex_iterator(); ++It) {
    Names.insert((*It)[2].str());
  }
  EXPECT_GT(Names.size(), 30u);
  for (const std::string &Name : Names) {
    SimEfiOptionUse Use;
    EXPECT_TRUE(SimEfiOptionUseOf(Name.c_str(), &Use)) << Name << " is unknown to pchflash-sim.opt";
  }
}
