// pchflash-sim as a program: what it prints where, and its exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/host_file.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int ExitCode;
  std::string Out;
  std::string Err;
};

class SimCli : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("pchflash_tool_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "volume");
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Runs pchflash-sim with the volume in the scratch directory.
  ToolRun Run(const std::string &Arguments) {
    const std::string Command = std::string(PCHFLASH_BINARY_DIR) + "/pchflash-sim --root '" +
                                (Dir / "volume").string() + "' " + Arguments + " >'" +
                                (Dir / "out").string() + "' 2>'" + (Dir / "err").string() + "'";
    int Raw = std::system(Command.c_str());
    ToolRun Result{WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, ReadHostFile(Dir / "out"),
                   ReadHostFile(Dir / "err")};
    return Result;
  }

  fs::path Dir;
};

TEST_F(SimCli, ArgumentErrorOfTheApplicationKeepsItsConsoleTextAndStatus) {
  ToolRun Result = Run("a b c");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Out, "Error. Too many arguments specified.\r\n");
  EXPECT_EQ(Result.Err, "pchflash-sim: exit status 0x8000000000000002 (Invalid Parameter)\n");
}

TEST_F(SimCli, SuccessExitsWithZero) {
  ToolRun Result = Run("");
  EXPECT_EQ(Result.ExitCode, 0);
  EXPECT_EQ(Result.Out,
            "Error. Too few arguments specified.\r\nUsage: pchflash -r FILE (save the BIOS window "
            "to a new file) | -w FILE (write an 8 MiB or whole-flash image, then reset)\r\n");
  EXPECT_EQ(Result.Err, "pchflash-sim: exit status 0x0000000000000000 (Success)\n");
}

TEST_F(SimCli, UsageErrorRunsNothingAndNamesTheOption) {
  ToolRun Result = Run("--report '" + (Dir / "r.json").string() + "' --bogus -r x.bin");
  EXPECT_EQ(Result.ExitCode, 2);
  EXPECT_EQ(Result.Out, "");
  EXPECT_NE(Result.Err.find("--bogus"), std::string::npos) << Result.Err;
  EXPECT_EQ(Result.Err.find("exit status"), std::string::npos) << Result.Err;
  EXPECT_FALSE(fs::exists(Dir / "r.json"));
  EXPECT_FALSE(fs::exists(Dir / "volume" / "x.bin"));
}

TEST_F(SimCli, BadPlatformSetUpValueIsAUsageError) {
  for (const std::string Bad : {"--gpr0 900000", "--gpr0 2000:1000", "--mcfg E000000G"}) {
    const std::string Option = Bad.substr(0, Bad.find(' '));
    ToolRun Result = Run(Bad + " -- -r x.bin");
    EXPECT_EQ(Result.ExitCode, 2) << Bad;
    EXPECT_EQ(Result.Out, "") << Bad;
    EXPECT_NE(Result.Err.find(Option), std::string::npos) << Result.Err;
    EXPECT_FALSE(fs::exists(Dir / "volume" / "x.bin"));
  }
}

TEST_F(SimCli, FlashOfTheWrongSizeIsAUsageError) {
  std::ofstream(Dir / "small.bin", std::ios::binary) << std::string(4096, '\xFF');
  ToolRun Result = Run("--flash '" + (Dir / "small.bin").string() + "' -- a");
  EXPECT_EQ(Result.ExitCode, 2);
  EXPECT_NE(Result.Err.find("--flash"), std::string::npos) << Result.Err;
  EXPECT_EQ(Result.Out, "");
}

TEST_F(SimCli, AllocationFailureIsReportedAndLeavesNothingAllocated) {
  const fs::path Report = Dir / "report.json";
  ToolRun Result = Run("--fail-alloc 1 --report '" + Report.string() + "' -- a");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "pchflash-sim: exit status 0x8000000000000009 (Out of Resources)\n");
  nlohmann::json Json = nlohmann::json::parse(ReadHostFile(Report));
  EXPECT_EQ(Json["status"], "0x8000000000000009");
  EXPECT_EQ(Json["console"], Result.Out);
  EXPECT_EQ(Json["pool_outstanding"], 0);
  EXPECT_EQ(Json["reset"], "none");
}

TEST_F(SimCli, MissingControllerRefusesWithoutTouchingTheFlash) {
  const fs::path Report = Dir / "report.json";
  ToolRun Result = Run("--no-spi --report '" + Report.string() + "' -- -r x.bin");
  EXPECT_EQ(Result.Out, "Error. SPI flash controller not found.\r\n");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_FALSE(fs::exists(Dir / "volume" / "x.bin"));
  nlohmann::json Json = nlohmann::json::parse(ReadHostFile(Report));
  EXPECT_EQ(Json["status"], "0x8000000000000003");
  EXPECT_TRUE(Json["flash_part"].is_null());
  EXPECT_EQ(Json["erased"], nlohmann::json::array());
  EXPECT_EQ(Json["programmed"], nlohmann::json::array());
}

// Two different chips by option: the report names each component's part, and
// flash_part stays component 0's.
TEST_F(SimCli, ReportNamesThePartOfEachComponent) {
  const fs::path Report = Dir / "report.json";
  ToolRun Result =
      Run("--chip W25Q64BV --chip2 c22018 --report '" + Report.string() + "' -- -r x.bin");
  EXPECT_EQ(Result.ExitCode, 0);
  nlohmann::json Json = nlohmann::json::parse(ReadHostFile(Report));
  EXPECT_EQ(Json["flash_part"]["part"], "W25Q64BV");
  ASSERT_EQ(Json["flash_parts"].size(), 2u);
  EXPECT_EQ(Json["flash_parts"][0], Json["flash_part"]);
  EXPECT_EQ(Json["flash_parts"][1]["part"], "25L12805D");
  EXPECT_EQ(fs::file_size(Dir / "volume" / "x.bin"), 0x800000u);
}

TEST_F(SimCli, TraceOfARefusedRunStaysInPciConfigurationSpace) {
  const fs::path Trace = Dir / "trace.txt";
  ToolRun Result = Run("--no-spi --trace '" + Trace.string() + "' -- a");
  EXPECT_EQ(Result.ExitCode, 1);
  std::ifstream In(Trace);
  std::string Line;
  int Accesses = 0;
  while (std::getline(In, Line)) {
    std::istringstream Fields(Line);
    std::string Time, Kind, Width, Address;
    Fields >> Time >> Kind;
    if (Kind == "B") continue;
    Fields >> Width >> Address;
    Accesses++;
    EXPECT_EQ(Kind[0], 'M') << Line;
    uint64_t Value = std::stoull(Address, nullptr, 16);
    EXPECT_GE(Value, 0xE0000000u) << Line;
    EXPECT_LT(Value, 0xF0000000u) << Line;
  }
  EXPECT_GT(Accesses, 0) << "the guard reads BAR0 of 0:31.5";
}

TEST_F(SimCli, FlashCarriesFromARunToTheNextAndTheReportShowsTheRewrite) {
  const std::string Volume = (Dir / "volume").string();
  const fs::path Before = Dir / "before.bin";
  const fs::path After = Dir / "after.bin";
  ToolRun Read = Run("--save-flash '" + Before.string() + "' -- -r bios.bin");
  ASSERT_EQ(Read.ExitCode, 0) << Read.Out << Read.Err;
  std::string Bios = ReadHostFile(Dir / "volume" / "bios.bin");
  ASSERT_EQ(Bios.size(), 0x800000u);
  const std::string FlashBefore = ReadHostFile(Before);
  ASSERT_EQ(FlashBefore.substr(FlashBefore.size() - Bios.size()), Bios);

  Bios[0x2A0010] = static_cast<char>(~Bios[0x2A0010]);
  std::ofstream(Dir / "volume" / "new.bin", std::ios::binary) << Bios;
  const fs::path Report = Dir / "write.json";
  ToolRun Write = Run("--flash '" + Before.string() + "' --save-flash '" + After.string() +
                      "' --report '" + Report.string() + "' -- -w new.bin");
  EXPECT_EQ(Write.ExitCode, 0) << Write.Out << Write.Err;
  EXPECT_EQ(Write.Err,
            "pchflash-sim: exit status 0x0000000000000000 (Success)\n"
            "pchflash-sim: platform reset (hard)\n");

  const std::string FlashAfter = ReadHostFile(After);
  ASSERT_EQ(FlashAfter.size(), FlashBefore.size());
  EXPECT_EQ(FlashAfter.substr(FlashAfter.size() - Bios.size()), Bios);
  nlohmann::json Json = nlohmann::json::parse(ReadHostFile(Report));
  const uint64_t Block = FlashBefore.size() - Bios.size() + 0x2A0000;
  EXPECT_EQ(Json["erased"], nlohmann::json::array({{Block, Block + 0x10000}}));
  EXPECT_EQ(Json["programmed"], nlohmann::json::array({{Block, Block + 0x10000}}));
  EXPECT_EQ(Json["reset"], "hard");
  EXPECT_EQ(Json["console"], Write.Out);
  EXPECT_EQ(Json["flash_part"]["part"], "W25Q128BV");
  EXPECT_EQ(Json["descriptor_mode"], true);
  EXPECT_EQ(Json["interrupted"], false);
  EXPECT_GT(Json["modelled_time_us"].get<double>(), 0.0);
}

// The rehearsal of an update on a board's own backup: the backup goes where the
// board's chipset maps the window (the top of the BIOS region, here 4 MiB below
// the top of the flash), and the flash saved after the run holds the update there.
TEST_F(SimCli, WindowBackupIsRehearsedWhereTheBiosRegionEnds) {
  const std::string Layout = "--bios-region 400000:BFFFFF ";
  ToolRun Read = Run(Layout + "-- -r bios.bin");
  ASSERT_EQ(Read.ExitCode, 0) << Read.Out << Read.Err;
  std::string Bios = ReadHostFile(Dir / "volume" / "bios.bin");
  ASSERT_EQ(Bios.size(), 0x800000u);

  std::string Update = Bios;
  Update[0x2A0010] = static_cast<char>(~Update[0x2A0010]);
  std::ofstream(Dir / "volume" / "new.bin", std::ios::binary) << Update;
  const fs::path After = Dir / "after.bin";
  // Another seed: outside the window the flash is not the one the backup came from.
  ToolRun Write = Run(Layout + "--seed 7 --window '" + (Dir / "volume" / "bios.bin").string() +
                      "' --save-flash '" + After.string() + "' --summary -- -w new.bin");
  EXPECT_EQ(Write.ExitCode, 0) << Write.Out << Write.Err;
  EXPECT_NE(Write.Out.find("1 of 128 blocks rewritten"), std::string::npos) << Write.Out;
  EXPECT_NE(Write.Err.find("flash 0x06A0000-0x06AFFFF, BIOS 0xFFAA0000-0xFFAAFFFF"),
            std::string::npos)
      << Write.Err;
  const std::string FlashAfter = ReadHostFile(After);
  ASSERT_EQ(FlashAfter.size(), 0x1000000u);
  EXPECT_EQ(FlashAfter.substr(0x400000, 0x800000), Update);

  std::ofstream(Dir / "short.bin", std::ios::binary) << Bios.substr(1);
  ToolRun Short = Run("--window '" + (Dir / "short.bin").string() + "' -- -r x.bin");
  EXPECT_EQ(Short.ExitCode, 2);
  EXPECT_NE(Short.Err.find("--window"), std::string::npos) << Short.Err;
}

}  // namespace
