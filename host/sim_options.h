// Command-line options of pchflash-sim: the firmware model's and the simulated
// platform's configuration, and where the run's outputs go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/firmware_model.h"
#include "sim/sim_platform.h"

struct SimOptions {
  HostFirmwareConfig Firmware;        // Argv is filled: "pchflash.efi" and the arguments
  SimConfig Platform;                 // InitialFlash stays null; see PlatformConfigOf
  std::vector<uint8_t> InitialFlash;  // contents of --flash or --window, empty without
  std::string FlashFile;
  std::string WindowFile;
  std::string SaveFlashFile;
  std::string TraceFile;
  std::string ReportFile;
  bool Summary = false;                // a short account of the run on standard error
  std::vector<std::string> Arguments;  // the application's arguments, after Argv[0]
};

enum class SimParseOutcome {
  Run,         // the options are sound: run the application
  Help,        // --help was given: Message holds the help text, exit code 0
  UsageError,  // Message names the bad option: exit code 2, nothing is run
};

constexpr int SimExitUsage = 2;

// Parses pchflash-sim's command line (Argv[0] is the program) and reads the
// --flash file, whose size must equal the simulated flash size, or the --window
// file, 8 MiB, which goes into the generated flash. Options start
// with "--"; every other argument, and everything after a lone "--", is passed to
// the application in order.
SimParseOutcome ParseSimOptions(int Argc, const char *const *Argv, SimOptions *Options,
                                std::string *Message);

// The platform configuration with InitialFlash pointing into Options (or null).
SimConfig PlatformConfigOf(const SimOptions &Options);
