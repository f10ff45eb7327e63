// Running the application once on the host firmware model, for tests.
//
//   AppRun Run = RunApp({"-r", "backup.bin"});            // pchflash.efi -r backup.bin
//   EXPECT_EQ(Run.Status, EFI_SUCCESS);
//   EXPECT_EQ(Run.Console, "Read SPI is Success.\r\n...");
//   EXPECT_EQ(Run.PoolOutstanding, 0u);
//
// With a simulated platform: pass it as the third argument; it is attached
// through SimBackendAttach for the run and detached afterwards (without one, the
// hardware back end is detached: reads give all ones, writes are dropped).
// The HostFirmware stays alive in the result, so a test can look at the
// volume, the unexpected calls, the debug mask and so on after the run.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "host/firmware_model.h"

struct SimPlatform;

struct AppRun {
  EFI_STATUS Status = EFI_SUCCESS;
  std::string Console;           // the console text as UTF-8, CR LF kept
  std::u16string ConsoleUcs2;    // exactly as written to ConOut
  uint64_t PoolOutstanding = 0;  // allocations not freed when ModuleEntry returned
  std::unique_ptr<HostFirmware> Firmware;
};

// Runs ModuleEntry once, as the shell runs "pchflash.efi Args...": Argv[0] is
// "pchflash.efi", then Args (UTF-8, converted to UCS-2). Config.Argv is replaced.
AppRun RunApp(const std::vector<std::string> &Args, HostFirmwareConfig Config = {},
              SimPlatform *Platform = nullptr);

// The same with Config.Argv used exactly as given (Argv[0] included).
AppRun RunAppWithArgv(HostFirmwareConfig Config, SimPlatform *Platform = nullptr);

// A fresh empty directory for a shell volume, removed with everything in it when
// the object goes away.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    static std::atomic<unsigned> Counter{0};
    Directory =
        std::filesystem::temp_directory_path() / ("pchflash-test-" + std::to_string(::getpid()) +
                                                  "-" + std::to_string(Counter.fetch_add(1)));
    std::filesystem::remove_all(Directory);
    std::filesystem::create_directories(Directory);
  }
  ~ScratchDirectory() {
    std::error_code Error;
    // Files the model made read-only must not stop the clean-up.
    for (auto &Entry : std::filesystem::recursive_directory_iterator(Directory, Error)) {
      std::filesystem::permissions(Entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, Error);
    }
    std::filesystem::remove_all(Directory, Error);
  }
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;

  const std::filesystem::path &Path() const { return Directory; }

 private:
  std::filesystem::path Directory;
};
