// pchflash-sim.opt, the options line of pchflash-sim.efi, held against
// pchflash-sim's own command line: a line must describe the same platform in the
// real shell as the same words do on the host, or be refused for the same reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/sim_options.h"
#include "sim/efi/option_line.h"

namespace {

struct EfiParse {
  bool Good;
  SimOptionSettings Options;
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

SimParseOutcome ParseHost(const std::vector<std::string> &Words, SimOptions *Options,
                          std::string *Message) {
  std::vector<const char *> Argv{"pchflash-sim"};
  for (const std::string &Word : Words) Argv.push_back(Word.c_str());
  return ParseSimOptions(static_cast<int>(Argv.size()), Argv.data(), Options, Message);
}

// Both parsers start from SimConfigDefaults, which clears the whole record, padding
// included, and then set members only: equal platforms compare equal byte for byte.
bool SamePlatform(const SimConfig &Left, const SimConfig &Right) {
  return std::memcmp(&Left, &Right, sizeof(SimConfig)) == 0;
}

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// Values of each form: what it must take, and what it must refuse at either end
// of its range and beside it.
std::vector<std::string> SampleValues(const SimOptionRow &Row) {
  const std::string AboveMax =
      Row.Max == ~0ull ? "18446744073709551616" : std::to_string(Row.Max + 1);
  const std::string AboveMaxHex = Row.Max == ~0ull ? "10000000000000000" : Hex(Row.Max + 1);
  const std::string Keyword = Row.Keywords != nullptr ? Row.Keywords[0] : "";
  switch (Row.Form) {
    case SimFormFlag:
      return {""};
    case SimFormHex:
      return {"0", "0x" + Hex(Row.Max), AboveMaxHex, "0x", "1g"};
    case SimFormCount:
      return {std::to_string(Row.Min), std::to_string(Row.Max), AboveMax,
              Row.Min > 0 ? std::to_string(Row.Min - 1) : "-1", "0x1"};
    case SimFormRange:
      return {"0:FFF", "0x7FFFFFF:7ffffff", "5:4", "0:8000000", "1000", "1:2:3"};
    case SimFormChip: {
      const SimChipModel *Chip = SimChipAt(0);
      std::string Id;
      for (uint32_t I = 0; I < Chip->IdLength; I++) Id += Hex(0x100 + Chip->Id[I]).substr(1);
      return {Chip->Name, "0x" + Id, "unknown", "UNKNOWN", "nosuch", "000000", "0x"};
    }
    case SimFormKeywordOrHex:
      return {Keyword, "0xB0000000", "zz"};
    case SimFormHexBytes:
      return {"00004000", "123"};
    case SimFormKeywordHex:
      return {Keyword + "=8000000000000007", Keyword, "nosuch=1", Keyword + "=zz"};
    case SimFormText:
      return {"out.bin"};
    case SimFormPch:
      return {"spt", "LBG", "ich9"};
    case SimFormRegion:
      return {"0:0:FFF", "11:1000:1FFF", "12:0:FFF", "5:4:3", "x:0:1"};
  }
  return {};
}

}  // namespace

// Every option of the table, with values of its form: taken by both front ends with
// the same platform and ECAM base, or refused by both with the same message; an
// option of the host program alone is refused by the options file, naming it.
TEST(SimEfiOptions, EveryOptionMeansTheSameInTheOptionsFileAsOnTheCommandLine) {
  for (uint32_t I = 0; I < SimOptionCount(); I++) {
    const SimOptionRow &Row = *SimOptionAt(I);
    uint32_t Taken = 0;
    uint32_t Refused = 0;
    for (const std::string &Value : SampleValues(Row)) {
      std::vector<std::string> Words{Row.Name};
      if (Row.Form != SimFormFlag) Words.push_back(Value);
      const std::string Line = Words.size() == 1 ? Words[0] : Words[0] + " " + Words[1];
      SCOPED_TRACE("line: '" + Line + "'");
      const EfiParse Efi = ParseEfi(Line);
      if (Row.Scope != SimScopePlatform) {
        EXPECT_FALSE(Efi.Good);
        EXPECT_EQ(Efi.Message.rfind(std::string("pchflash-sim.opt: ") + Row.Name + ": ", 0), 0u)
            << Efi.Message;
        continue;
      }
      SimOptions Host;
      std::string HostMessage;
      const SimParseOutcome Outcome = ParseHost(Words, &Host, &HostMessage);
      ASSERT_EQ(Efi.Good, Outcome == SimParseOutcome::Run)
          << "host: '" << HostMessage << "', efi: '" << Efi.Message << "'";
      (Efi.Good ? Taken : Refused)++;
      if (!Efi.Good) {
        // The same converter wrote both; each front end puts its own name first.
        EXPECT_EQ(Efi.Message.substr(std::strlen("pchflash-sim.opt: ")),
                  HostMessage.substr(std::strlen("pchflash-sim: ")));
        EXPECT_EQ(Efi.Message.find_first_of("\r\n"), std::string::npos) << Efi.Message;
        continue;
      }
      EXPECT_TRUE(SamePlatform(Efi.Options.Platform, Host.Platform));
      EXPECT_EQ(Efi.Options.McfgPresent, Host.Firmware.McfgBase.has_value());
      EXPECT_EQ(Efi.Options.McfgBase, Host.Firmware.McfgBase.value_or(Efi.Options.McfgBase));
      EXPECT_EQ(Efi.Options.FadtPresent, Host.Firmware.FadtBase.has_value());
      EXPECT_EQ(Efi.Options.FadtBase, Host.Firmware.FadtBase.value_or(Efi.Options.FadtBase));
      // "--name=VALUE" is the same option.
      if (Row.Form != SimFormFlag) {
        const EfiParse Joined = ParseEfi(Words[0] + "=" + Words[1]);
        ASSERT_TRUE(Joined.Good) << Joined.Message;
        EXPECT_TRUE(SamePlatform(Joined.Options.Platform, Efi.Options.Platform));
      }
    }
    if (Row.Scope == SimScopePlatform) {
      EXPECT_GT(Taken, 0u) << Row.Name;
      EXPECT_TRUE(Row.Form == SimFormFlag || Refused > 0) << Row.Name;
    }
  }
}

// What the splitting of the file refuses: words that are no options, a value
// option repeated or without its value, a flag with a value the command line
// would not take either.
TEST(SimEfiOptions, WordsThatAreNoOptionsAreRefusedByName) {
  const struct {
    const char *Line;
    const char *Blamed;
  } Rows[] = {
      {"--eiss -r", "'-r'"},
      {"--chip W25Q64BV extra", "'extra'"},
      {"--eiss=1", "--eiss"},
      {"--seed", "--seed"},
      {"--chip W25Q64BV --chip W25Q128BV", "--chip"},
      {"--bogus=1", "--bogus"},
  };
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Line);
    const EfiParse Efi = ParseEfi(Row.Line);
    EXPECT_FALSE(Efi.Good);
    EXPECT_NE(Efi.Message.find(Row.Blamed), std::string::npos) << Efi.Message;
  }
  // As on the command line, a flag may be repeated and may take "=" with nothing
  // or "true" after it.
  const EfiParse Flags = ParseEfi("--eiss --eiss= --no-spi=true");
  ASSERT_TRUE(Flags.Good) << Flags.Message;
  EXPECT_TRUE(Flags.Options.Platform.Eiss);
  EXPECT_TRUE(Flags.Options.Platform.NoSpi);
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
