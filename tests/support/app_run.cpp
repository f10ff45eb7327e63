#include "support/app_run.h"

#include "sim/sim_backend.h"

AppRun RunAppWithArgv(HostFirmwareConfig Config, SimPlatform *Platform) {
  AppRun Run;
  Run.Firmware = std::make_unique<HostFirmware>(std::move(Config));
  SimBackendAttach(Platform);
  Run.Status = Run.Firmware->RunModuleEntry();
  SimBackendAttach(nullptr);
  Run.ConsoleUcs2 = Run.Firmware->Console();
  Run.Console = Run.Firmware->ConsoleUtf8();
  Run.PoolOutstanding = Run.Firmware->PoolOutstanding();
  return Run;
}

AppRun RunApp(const std::vector<std::string> &Args, HostFirmwareConfig Config,
              SimPlatform *Platform) {
  Config.Argv.clear();
  Config.Argv.push_back(u"pchflash.efi");
  for (const std::string &Argument : Args) {
    Config.Argv.push_back(HostUtf8ToUcs2(Argument));
  }
  return RunAppWithArgv(std::move(Config), Platform);
}
