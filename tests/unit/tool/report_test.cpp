#include "host/report.h"

#include <gtest/gtest.h>

#include <set>

#include "host/trace_writer.h"

namespace {

TEST(ReportRanges, MergeSortsAndJoinsOverlappingAndAdjacentRanges) {
  std::vector<FlashByteRange> Merged = MergeRanges({{0x20000, 0x30000},
                                                    {0x0, 0x1000},
                                                    {0x1000, 0x2000},    // adjacent
                                                    {0x28000, 0x29000},  // inside
                                                    {0x2F000, 0x31000},  // overlapping
                                                    {0x5000, 0x5000},    // empty
                                                    {0x40000, 0x40100}});
  EXPECT_EQ(Merged,
            (std::vector<FlashByteRange>{{0x0, 0x2000}, {0x20000, 0x31000}, {0x40000, 0x40100}}));
}

TEST(ReportRanges, RepeatedProgramsOfOneBlockCountOnce) {
  // Sixteen 4 KiB programs of one 64 KiB block, out of order and one repeated.
  std::vector<FlashByteRange> Pieces;
  for (uint64_t I = 16; I-- > 0;) Pieces.push_back({0x10000 + I * 0x1000, 0x11000 + I * 0x1000});
  Pieces.push_back({0x13000, 0x14000});
  EXPECT_EQ(MergeRanges(Pieces), (std::vector<FlashByteRange>{{0x10000, 0x20000}}));
  EXPECT_TRUE(MergeRanges({}).empty());
}

TEST(Report, JsonHasExactlyTheDocumentedKeys) {
  SimRunSummary Summary;
  Summary.Status = EFI_INVALID_PARAMETER;
  Summary.StatusText = "Invalid Parameter";
  Summary.Reset = SimResetHard;
  Summary.Console = "Error.\r\n";
  Summary.HwCycles[SimCycleErase64k] = 3;
  Summary.SwCycles = 2;
  Summary.Erased = {{0x800000, 0x810000}};
  Summary.DebugMask = 0x80000042;
  Summary.ModelledTimeNs = 1500;
  nlohmann::json Report = ReportJson(Summary);

  std::set<std::string> Keys;
  for (auto It = Report.begin(); It != Report.end(); ++It) Keys.insert(It.key());
  EXPECT_EQ(Keys, (std::set<std::string>{"status", "status_text", "reset", "console", "flash_part",
                                         "flash_parts", "descriptor_mode", "cycles", "erased",
                                         "programmed", "accesses_after_reset", "pool_outstanding",
                                         "debug_mask", "modelled_time_us", "interrupted", "pch",
                                         "acpi_io_base"}));
  std::set<std::string> CycleKeys;
  for (auto It = Report["cycles"].begin(); It != Report["cycles"].end(); ++It) {
    CycleKeys.insert(It.key());
  }
  EXPECT_EQ(CycleKeys,
            (std::set<std::string>{"read", "write", "erase_4k", "erase_64k", "read_sfdp",
                                   "read_jedec_id", "write_status", "read_status", "swseq"}));
  EXPECT_EQ(Report["status"], "0x8000000000000002");
  EXPECT_EQ(Report["reset"], "hard");
  EXPECT_EQ(Report["cycles"]["erase_64k"], 3);
  EXPECT_EQ(Report["cycles"]["swseq"], 2);
  EXPECT_EQ(Report["erased"], nlohmann::json::parse("[[8388608, 8454144]]"));
  EXPECT_EQ(Report["programmed"], nlohmann::json::array());
  EXPECT_TRUE(Report["flash_part"].is_null());
  EXPECT_EQ(Report["debug_mask"], "0x80000042");
  EXPECT_DOUBLE_EQ(Report["modelled_time_us"].get<double>(), 1.5);
}

TEST(Report, SelectedPartAndAbsentMask) {
  SimRunSummary Summary;
  Summary.FlashPart = FlashPartChoice{4, "Winbond", "W25Q128BV"};
  nlohmann::json Report = ReportJson(Summary);
  EXPECT_EQ(Report["flash_part"],
            nlohmann::json({{"index", 4}, {"vendor", "Winbond"}, {"part", "W25Q128BV"}}));
  EXPECT_TRUE(Report["debug_mask"].is_null());
  EXPECT_EQ(Report["reset"], "none");
  EXPECT_EQ(Report["status"], "0x0000000000000000");
}

// The summary gives each range as --protect takes it (flash-linear) and as the
// application's messages print it (BIOS address, the BIOS region's end at 4 GiB);
// the lower half of a 32 MiB chip lies beyond the reach of any BIOS address the
// application uses.
TEST(Report, SummaryGivesEachRangeInBothAddressKinds) {
  struct Case {
    uint64_t WindowEnd;
    FlashByteRange Range;
    const char *Line;
  };
  const Case Cases[] = {
      {0x1000000,
       {0x800000, 0x810000},
       "  flash 0x0800000-0x080FFFF, BIOS 0xFF800000-0xFF80FFFF\n"},
      {0x1000000, {0x0, 0x1000}, "  flash 0x0000000-0x0000FFF, BIOS 0xFF000000-0xFF000FFF\n"},
      {0x800000, {0x7F0000, 0x800000}, "  flash 0x07F0000-0x07FFFFF, BIOS 0xFFFF0000-0xFFFFFFFF\n"},
      {0x2000000, {0x100000, 0x110000}, "  flash 0x0100000-0x010FFFF, no BIOS address\n"},
      {0xC00000, {0x400000, 0x410000}, "  flash 0x0400000-0x040FFFF, BIOS 0xFF800000-0xFF80FFFF\n"},
      {0xC00000, {0xC00000, 0xC10000}, "  flash 0x0C00000-0x0C0FFFF, no BIOS address\n"},
  };
  for (const Case &C : Cases) {
    SimRunSummary Summary;
    Summary.WindowEnd = C.WindowEnd;
    Summary.Erased = {C.Range};
    std::string Text = SummaryText(Summary);
    EXPECT_NE(Text.find(std::string("block(s) of 64 KiB\n") + C.Line), std::string::npos) << Text;
  }
}

TEST(Report, ExitStatusLineUsesTheApplicationsStatusText) {
  EXPECT_EQ(ExitStatusLine(EFI_SUCCESS), "pchflash-sim: exit status 0x0000000000000000 (Success)");
  EXPECT_EQ(ExitStatusLine(EFI_UNSUPPORTED),
            "pchflash-sim: exit status 0x8000000000000003 (Unsupported)");
}

TEST(TraceLine, AccessesAndBarriersInTheDocumentedFormat) {
  EXPECT_EQ(FormatTraceLine({1500, SimEventMemoryRead, 32, 0xFE010004, 0x4000}),
            "1500 MR 32 0xFE010004 0x00004000");
  EXPECT_EQ(FormatTraceLine({7, SimEventMemoryWrite, 8, 0xFE010006, 0x7}),
            "7 MW 8 0xFE010006 0x07");
  EXPECT_EQ(FormatTraceLine({12, SimEventMemoryRead, 16, 0xE00FD000, 0x8086}),
            "12 MR 16 0xE00FD000 0x8086");
  EXPECT_EQ(FormatTraceLine({3000, SimEventPortWrite, 8, 0xCF9, 0x6}), "3000 IW 8 0x0CF9 0x06");
  EXPECT_EQ(FormatTraceLine({99, SimEventPortRead, 32, 0x1808, 0xABCDEF}),
            "99 IR 32 0x1808 0x00ABCDEF");
  EXPECT_EQ(FormatTraceLine({18446744073709551615ull, SimEventBarrier, 0, 0, 0}),
            "18446744073709551615 B");
}

}  // namespace

namespace {

TEST(ReportRanges, BlocksTouchedCountsEach64KiBBlockOnce) {
  EXPECT_EQ(BlocksTouched({}), 0u);
  EXPECT_EQ(BlocksTouched({{0x810000, 0x820000}}), 1u);
  // A 4 KiB erase at the end of one block and one at the start of the next.
  EXPECT_EQ(BlocksTouched({{0x81F000, 0x820000}, {0x820000, 0x821000}}), 2u);
  // Two small ranges in the same block, given out of order.
  EXPECT_EQ(BlocksTouched({{0x8F000, 0x8F100}, {0x80000, 0x80100}}), 1u);
  EXPECT_EQ(BlocksTouched({{0x0, 0x1000000}}), 256u);
}

}  // namespace
