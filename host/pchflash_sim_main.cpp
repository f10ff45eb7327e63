// pchflash-sim: runs the application's ModuleEntry once, as the UEFI Shell runs
// "pchflash.efi ARG...", through the host firmware model on a simulated PCH.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "flash/part_table.h"
#include "flash/pch_generation.h"
#include "flash/spi_controller.h"
#include "host/firmware_model.h"
#include "host/report.h"
#include "host/sim_options.h"
#include "host/trace_writer.h"
#include "sim/sim_backend.h"

namespace {

void *HostAllocate(void *, size_t Bytes) { return std::malloc(Bytes); }
void HostFree(void *, void *Pointer) { std::free(Pointer); }

int UsageError(const std::string &Message) {
  std::cerr
      << Message << "\n"
      << "usage: pchflash-sim [OPTIONS] [--] ARG...   (pchflash-sim --help for the options)\n";
  return SimExitUsage;
}

// Output files are opened before the run, so that a bad path is a usage error
// and nothing runs.
struct OutputFiles {
  std::ofstream SaveFlash;
  std::ofstream Report;
  TraceWriter Trace;
};

bool OpenOutputs(const SimOptions &Options, OutputFiles *Files, std::string *Message) {
  if (!Options.SaveFlashFile.empty()) {
    Files->SaveFlash.open(Options.SaveFlashFile, std::ios::binary | std::ios::trunc);
    if (!Files->SaveFlash) {
      *Message = "pchflash-sim: --save-flash: cannot create '" + Options.SaveFlashFile + "'";
      return false;
    }
  }
  if (!Options.ReportFile.empty()) {
    Files->Report.open(Options.ReportFile, std::ios::trunc);
    if (!Files->Report) {
      *Message = "pchflash-sim: --report: cannot create '" + Options.ReportFile + "'";
      return false;
    }
  }
  if (!Options.TraceFile.empty() && !Files->Trace.Open(Options.TraceFile)) {
    *Message = "pchflash-sim: --trace: cannot create '" + Options.TraceFile + "'";
    return false;
  }
  return true;
}

std::optional<FlashPartChoice> SelectedPart(UINT32 Component) {
  INT32 Index = SelectedFlashPartIndexIn(Component);
  if (Index < 0) return std::nullopt;
  const FlashPartEntry &Row = FlashPartTable[Index];
  return FlashPartChoice{Index, Row.VendorName, Row.PartName};
}

// The part of each component the tool saw: two where the descriptor lists two.
std::vector<std::optional<FlashPartChoice>> SelectedParts() {
  UINT32 Components = SpiControllerState.ComponentCountCode != 0 ? 2 : 1;
  std::vector<std::optional<FlashPartChoice>> Parts;
  for (UINT32 Component = 0; Component < Components; Component++) {
    Parts.push_back(SelectedPart(Component));
  }
  return Parts;
}

}  // namespace

int main(int Argc, char **Argv) {
  SimOptions Options;
  std::string Message;
  switch (ParseSimOptions(Argc, Argv, &Options, &Message)) {
    case SimParseOutcome::Help:
      std::cout << Message;
      return 0;
    case SimParseOutcome::UsageError:
      return UsageError(Message);
    case SimParseOutcome::Run:
      break;
  }

  OutputFiles Files;
  if (!OpenOutputs(Options, &Files, &Message)) return UsageError(Message);

  SimConfig Config = PlatformConfigOf(Options);
  SimAllocator Allocator{&HostAllocate, &HostFree, nullptr};
  SimPlatform *Platform = SimPlatformCreate(&Config, &Allocator);
  if (Platform == nullptr) {
    return UsageError("pchflash-sim: the options describe no platform the simulator can build");
  }
  if (!Options.TraceFile.empty()) Files.Trace.Attach(Platform);
  SimBackendAttach(Platform);

  // A platform's full-flash preparation opens every descriptor region to the host.
  Options.Firmware.OnFullFlashPrepare = [Platform] { SimLiftDescriptorLimits(Platform); };
  SimRunSummary Summary;
  {
    HostFirmware Firmware(Options.Firmware);
    Summary.Status = Firmware.RunModuleEntry();
    Summary.Console = Firmware.ConsoleUtf8();
    Summary.PoolOutstanding = Firmware.PoolOutstanding();
    Summary.DebugMask = Firmware.DebugMask();
  }
  SimBackendAttach(nullptr);
  Summary.StatusText = FormattedStatusText(Summary.Status);
  Summary.FlashPart = SelectedPart(0);
  Summary.FlashParts = SelectedParts();
  Summary.DescriptorMode = BiosWindow.DescriptorMode != FALSE;
  if (PchPlatform.Identified) {
    Summary.Pch = PchPlatform.Generation->Name;
    Summary.AcpiIoBase = PchPlatform.AcpiIoBase;
  }
  CollectPlatformSummary(Platform, &Summary);

  std::fwrite(Summary.Console.data(), 1, Summary.Console.size(), stdout);
  std::fflush(stdout);
  std::cerr << ExitStatusLine(Summary.Status) << "\n";
  if (Summary.Reset != SimResetNone) {
    std::cerr << "pchflash-sim: platform reset (" << ResetKindName(Summary.Reset) << ")\n";
  }
  if (Options.Summary) {
    std::istringstream Lines(SummaryText(Summary));
    for (std::string Line; std::getline(Lines, Line);)
      std::cerr << "pchflash-sim: " << Line << "\n";
  }

  bool OutputsWritten = true;
  if (Files.SaveFlash.is_open()) {
    Files.SaveFlash.write(reinterpret_cast<const char *>(SimFlashData(Platform)),
                          SimFlashSize(Platform));
    Files.SaveFlash.close();
    if (!Files.SaveFlash) {
      std::cerr << "pchflash-sim: --save-flash: writing '" << Options.SaveFlashFile << "' failed\n";
      OutputsWritten = false;
    }
  }
  if (Files.Report.is_open()) {
    Files.Report << ReportJson(Summary).dump(2) << "\n";
    Files.Report.close();
    if (!Files.Report) {
      std::cerr << "pchflash-sim: --report: writing '" << Options.ReportFile << "' failed\n";
      OutputsWritten = false;
    }
  }
  if (!Files.Trace.Close()) {
    std::cerr << "pchflash-sim: --trace: writing '" << Options.TraceFile << "' failed\n";
    OutputsWritten = false;
  }
  SimPlatformDestroy(Platform);
  if (!OutputsWritten) return SimExitUsage;
  return Summary.Status == EFI_SUCCESS ? 0 : 1;
}
