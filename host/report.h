// What one pchflash-sim run did, gathered from the firmware model and the
// simulated platform, and its JSON report.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_platform.h"
#include "uefi/uefi.h"

struct FlashByteRange {  // flash-linear, [Start, End)
  uint64_t Start;
  uint64_t End;
  bool operator==(const FlashByteRange &Other) const = default;
};

// Sorted by start; overlapping and adjacent ranges joined; empty ranges dropped.
std::vector<FlashByteRange> MergeRanges(std::vector<FlashByteRange> Ranges);

struct FlashPartChoice {
  int32_t Index;  // row of the part table
  std::string Vendor;
  std::string Part;
};

struct SimRunSummary {
  EFI_STATUS Status = EFI_SUCCESS;
  std::string StatusText;
  SimResetKind Reset = SimResetNone;
  std::string Console;                       // UTF-8
  std::optional<FlashPartChoice> FlashPart;  // none when no row was accepted
  // Each component's part, component 0 first; none where no row was accepted.
  std::vector<std::optional<FlashPartChoice>> FlashParts;
  bool DescriptorMode = false;
  std::optional<std::string> Pch;      // the generation the application identified
  std::optional<uint16_t> AcpiIoBase;  // the ACPI I/O base it used
  uint64_t HwCycles[SimCycleTypeCount] = {};
  uint64_t SwCycles = 0;
  std::vector<FlashByteRange> Erased;      // merged
  std::vector<FlashByteRange> Programmed;  // merged
  uint64_t AccessesAfterReset = 0;
  uint64_t PoolOutstanding = 0;
  std::optional<uint32_t> DebugMask;  // none when the protocol was never published
  uint64_t ModelledTimeNs = 0;
  bool Interrupted = false;
  uint64_t FlashSize = 0;  // bytes, all components together
  uint64_t WindowEnd = 0;  // flash-linear end of the BIOS region, mapped up to 4 GiB
};

// The status as the application's own formatter prints it with "%r".
std::string FormattedStatusText(EFI_STATUS Status);
// "pchflash-sim: exit status 0x%016X (TEXT)".
std::string ExitStatusLine(EFI_STATUS Status);
const char *ResetKindName(SimResetKind Reset);  // "none", "hard", "full"

// Counters, ranges, time and reset of the platform (the firmware-side fields are
// left to the caller).
void CollectPlatformSummary(const SimPlatform *Platform, SimRunSummary *Summary);

nlohmann::json ReportJson(const SimRunSummary &Summary);

// Number of distinct 64 KiB blocks that the ranges touch.
uint64_t BlocksTouched(const std::vector<FlashByteRange> &Ranges);

// A few lines for a person (--summary): part, cycles, erased and programmed ranges
// (flash-linear, and as the application's messages give them: BIOS addresses, the
// flash ending at 4 GiB), modelled time. Each line ends with "\n".
std::string SummaryText(const SimRunSummary &Summary);
