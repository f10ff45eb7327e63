#include "host/report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "shell/console.h"

namespace {

std::string Hex64(uint64_t Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%016" PRIX64, Value);
  return Text;
}

nlohmann::json FlashPartJson(const std::optional<FlashPartChoice> &Part) {
  if (!Part) return nullptr;
  return {{"index", Part->Index}, {"vendor", Part->Vendor}, {"part", Part->Part}};
}

nlohmann::json RangesJson(const std::vector<FlashByteRange> &Ranges) {
  nlohmann::json List = nlohmann::json::array();
  for (const FlashByteRange &Range : Ranges) List.push_back({Range.Start, Range.End});
  return List;
}

template <typename CountFn, typename RangeFn>
std::vector<FlashByteRange> PlatformRanges(const SimPlatform *Platform, CountFn Count, RangeFn At) {
  std::vector<FlashByteRange> Ranges;
  for (uint32_t I = 0; I < Count(Platform); I++) {
    SimByteRange Range = At(Platform, I);
    Ranges.push_back(FlashByteRange{Range.Base, Range.End});
  }
  return MergeRanges(std::move(Ranges));
}

// The application addresses the flash by BIOS address: the flash laid out so that
// the BIOS region ends at 4 GiB, as far down as a 16 MiB whole-flash image reaches.
constexpr uint64_t FourGiB = 0x100000000ULL;
constexpr uint64_t LowestBiosAddress = FourGiB - 0x1000000;

std::string RangeLine(const FlashByteRange &Range, uint64_t WindowEnd) {
  char Line[128];
  int Length = std::snprintf(Line, sizeof(Line), "  flash 0x%07" PRIX64 "-0x%07" PRIX64,
                             Range.Start, Range.End - 1);
  std::string Text(Line, static_cast<size_t>(Length));
  if (WindowEnd >= Range.End && FourGiB - WindowEnd + Range.Start >= LowestBiosAddress) {
    std::snprintf(Line, sizeof(Line), ", BIOS 0x%08" PRIX64 "-0x%08" PRIX64,
                  FourGiB - WindowEnd + Range.Start, FourGiB - WindowEnd + Range.End - 1);
    Text += Line;
  } else {
    Text += ", no BIOS address";
  }
  return Text + "\n";
}

}  // namespace

std::vector<FlashByteRange> MergeRanges(std::vector<FlashByteRange> Ranges) {
  std::erase_if(Ranges, [](const FlashByteRange &Range) { return Range.End <= Range.Start; });
  std::sort(Ranges.begin(), Ranges.end(), [](const FlashByteRange &A, const FlashByteRange &B) {
    return A.Start < B.Start || (A.Start == B.Start && A.End < B.End);
  });
  std::vector<FlashByteRange> Merged;
  for (const FlashByteRange &Range : Ranges) {
    if (!Merged.empty() && Range.Start <= Merged.back().End) {
      Merged.back().End = std::max(Merged.back().End, Range.End);
    } else {
      Merged.push_back(Range);
    }
  }
  return Merged;
}

std::string FormattedStatusText(EFI_STATUS Status) {
  CHAR8 Text[ValueTextChars + 8] = {};
  FormatInto(Text, sizeof(Text) - 1, "%r", Status);
  return Text;
}

std::string ExitStatusLine(EFI_STATUS Status) {
  return "pchflash-sim: exit status " + Hex64(Status) + " (" + FormattedStatusText(Status) + ")";
}

const char *ResetKindName(SimResetKind Reset) {
  switch (Reset) {
    case SimResetHard:
      return "hard";
    case SimResetFull:
      return "full";
    case SimResetNone:
      break;
  }
  return "none";
}

void CollectPlatformSummary(const SimPlatform *Platform, SimRunSummary *Summary) {
  const SimCounters *Counters = SimGetCounters(Platform);
  for (uint32_t Type = 0; Type < SimCycleTypeCount; Type++) {
    Summary->HwCycles[Type] = Counters->HwCycles[Type];
  }
  Summary->SwCycles = Counters->SwCycles;
  Summary->AccessesAfterReset = Counters->AccessesAfterReset;
  Summary->Erased = PlatformRanges(Platform, SimErasedRangeCount, SimErasedRange);
  Summary->Programmed = PlatformRanges(Platform, SimProgrammedRangeCount, SimProgrammedRange);
  Summary->ModelledTimeNs = SimTimeNs(Platform);
  Summary->Reset = SimGetReset(Platform);
  Summary->Interrupted = SimInterrupted(Platform);
  Summary->FlashSize = SimFlashSize(Platform);
  Summary->WindowEnd = SimBiosRegionEnd(Platform);
}

nlohmann::json ReportJson(const SimRunSummary &Summary) {
  nlohmann::json Report;
  Report["status"] = Hex64(Summary.Status);
  Report["status_text"] = Summary.StatusText;
  Report["reset"] = ResetKindName(Summary.Reset);
  Report["console"] = Summary.Console;
  Report["flash_part"] = FlashPartJson(Summary.FlashPart);
  Report["flash_parts"] = nlohmann::json::array();
  for (const std::optional<FlashPartChoice> &Part : Summary.FlashParts) {
    Report["flash_parts"].push_back(FlashPartJson(Part));
  }
  Report["descriptor_mode"] = Summary.DescriptorMode;
  Report["pch"] = Summary.Pch ? nlohmann::json(*Summary.Pch) : nlohmann::json(nullptr);
  if (Summary.AcpiIoBase) {
    char Text[16];
    std::snprintf(Text, sizeof(Text), "0x%" PRIX16, *Summary.AcpiIoBase);
    Report["acpi_io_base"] = Text;
  } else {
    Report["acpi_io_base"] = nullptr;
  }
  Report["cycles"] = {
      {"read", Summary.HwCycles[SimCycleRead]},
      {"write", Summary.HwCycles[SimCycleWrite]},
      {"erase_4k", Summary.HwCycles[SimCycleErase4k]},
      {"erase_64k", Summary.HwCycles[SimCycleErase64k]},
      {"read_sfdp", Summary.HwCycles[SimCycleReadSfdp]},
      {"read_jedec_id", Summary.HwCycles[SimCycleReadJedecId]},
      {"write_status", Summary.HwCycles[SimCycleWriteStatus]},
      {"read_status", Summary.HwCycles[SimCycleReadStatus]},
      {"swseq", Summary.SwCycles},
  };
  Report["erased"] = RangesJson(Summary.Erased);
  Report["programmed"] = RangesJson(Summary.Programmed);
  Report["accesses_after_reset"] = Summary.AccessesAfterReset;
  Report["pool_outstanding"] = Summary.PoolOutstanding;
  if (Summary.DebugMask) {
    char Text[16];
    std::snprintf(Text, sizeof(Text), "0x%" PRIX32, *Summary.DebugMask);
    Report["debug_mask"] = Text;
  } else {
    Report["debug_mask"] = nullptr;
  }
  Report["modelled_time_us"] = static_cast<double>(Summary.ModelledTimeNs) / 1000.0;
  Report["interrupted"] = Summary.Interrupted;
  return Report;
}

uint64_t BlocksTouched(const std::vector<FlashByteRange> &Ranges) {
  constexpr uint64_t BlockSize = 0x10000;
  uint64_t Blocks = 0;
  uint64_t NextFree = 0;  // first block not yet counted (ranges are sorted and merged)
  for (const FlashByteRange &Range : MergeRanges(Ranges)) {
    uint64_t First = std::max(Range.Start / BlockSize, NextFree);
    uint64_t End = (Range.End + BlockSize - 1) / BlockSize;
    if (End > First) Blocks += End - First;
    NextFree = std::max(NextFree, End);
  }
  return Blocks;
}

std::string SummaryText(const SimRunSummary &Summary) {
  std::string Text;
  char Line[256];
  if (Summary.FlashPart) {
    std::snprintf(Line, sizeof(Line), "flash part: row %d, %s %s%s\n", Summary.FlashPart->Index,
                  Summary.FlashPart->Vendor.c_str(), Summary.FlashPart->Part.c_str(),
                  Summary.DescriptorMode ? ", descriptor mode" : ", software sequencing");
  } else {
    std::snprintf(Line, sizeof(Line), "flash part: none selected\n");
  }
  Text += Line;
  if (Summary.Pch && Summary.AcpiIoBase) {
    std::snprintf(Line, sizeof(Line), "pch: %s, ACPI I/O base 0x%" PRIX16 "\n",
                  Summary.Pch->c_str(), *Summary.AcpiIoBase);
  } else {
    std::snprintf(Line, sizeof(Line), "pch: none identified\n");
  }
  Text += Line;
  const uint64_t *C = Summary.HwCycles;
  std::snprintf(Line, sizeof(Line),
                "cycles: read %" PRIu64 ", write %" PRIu64 ", erase_4k %" PRIu64
                ", erase_64k %" PRIu64 ", read_sfdp %" PRIu64 ", read_jedec_id %" PRIu64
                ", write_status %" PRIu64 ", read_status %" PRIu64 ", swseq %" PRIu64 "\n",
                C[SimCycleRead], C[SimCycleWrite], C[SimCycleErase4k], C[SimCycleErase64k],
                C[SimCycleReadSfdp], C[SimCycleReadJedecId], C[SimCycleWriteStatus],
                C[SimCycleReadStatus], Summary.SwCycles);
  Text += Line;
  const struct {
    const char *Name;
    const std::vector<FlashByteRange> &Ranges;
  } Lists[] = {{"erased", Summary.Erased}, {"programmed", Summary.Programmed}};
  for (const auto &List : Lists) {
    uint64_t Bytes = 0;
    for (const FlashByteRange &Range : List.Ranges) Bytes += Range.End - Range.Start;
    std::snprintf(Line, sizeof(Line),
                  "%s: %" PRIu64 " bytes in %zu range(s), %" PRIu64 " block(s) of 64 KiB\n",
                  List.Name, Bytes, List.Ranges.size(), BlocksTouched(List.Ranges));
    Text += Line;
    for (const FlashByteRange &Range : List.Ranges) Text += RangeLine(Range, Summary.WindowEnd);
  }
  std::snprintf(Line, sizeof(Line), "modelled time: %.6f s%s\n",
                static_cast<double>(Summary.ModelledTimeNs) / 1e9,
                Summary.Interrupted ? " (power lost during the run)" : "");
  Text += Line;
  return Text;
}
