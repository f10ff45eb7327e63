// The flash descriptor and the part-table set-up with the flash contents drawn
// from the input: the simulated platform powers on from that flash (the
// controller decodes the descriptor as the hardware does), then the application
// brings up its flash layer on it and reads the top of the BIOS window. The same
// flash, taken for a whole-flash image, goes through the check of the descriptor
// an image brings.
//
// Input: the chip (an index into the simulator's models), the number of
// components, then bytes XORed into the generated flash from the descriptor's
// signature on; an input of two bytes is the generated, valid flash.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "app/flash_bringup.h"
#include "base/firmware.h"
#include "flash/bios_flash.h"
#include "flash/flash_descriptor.h"
#include "flash/part_table.h"
#include "flash/regs/spi_mmio.h"
#include "fuzz/fuzz_support.h"
#include "host/firmware_model.h"
#include "sim/sim_backend.h"
#include "sim/sim_platform.h"

namespace {

constexpr uint32_t DescriptorSignatureOffset = 0x10;

HostFirmware &Firmware() {
  static HostFirmware *Instance = [] {
    HostFirmwareConfig Config;
    Config.Root = "/nonexistent-pchflash-fuzz-volume";
    Config.Argv = {u"pchflash.efi"};
    return new HostFirmware(Config);
  }();
  return *Instance;
}

std::vector<uint8_t> &GeneratedFlash(const SimConfig &Config) {
  static std::map<std::pair<int32_t, uint32_t>, std::vector<uint8_t>> Cache;
  std::vector<uint8_t> &Flash = Cache[{Config.ChipIndex, Config.Components}];
  if (Flash.empty()) {
    Flash.resize(SimConfigFlashSize(&Config));
    SimGenerateImage(&Config, Flash.data());
  }
  return Flash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  InputReader Input(Data, Size);
  SimConfig Config;
  SimConfigDefaults(&Config);
  Config.ChipIndex = static_cast<int32_t>(Input.Byte() % SimChipCount());
  Config.Components = 1 + (Input.Byte() & 1);
  // Changed in place and changed back at the end: a copy of the whole flash per
  // input would cost more than the run.
  std::vector<uint8_t> &Flash = GeneratedFlash(Config);
  const std::vector<uint8_t> Changes = Input.Rest();
  const size_t Changed = std::min(Changes.size(), Flash.size() - DescriptorSignatureOffset);
  for (size_t I = 0; I < Changed; I++) {
    Flash[DescriptorSignatureOffset + I] ^= Changes[I];
  }
  Config.InitialFlash = Flash.data();
  Config.InitialFlashSize = Flash.size();
  const UINT32 FlashBytes = static_cast<UINT32>(Flash.size());
  CheckDescriptorImage(Flash.data(), FlashBytes, FREG_MAX_COUNT, FlashBytes);

  SimAllocator Allocator = {
      [](void *, size_t Bytes) { return std::malloc(Bytes); },
      [](void *, void *Pointer) { std::free(Pointer); },
      nullptr,
  };
  SimPlatform *Platform = SimPlatformCreate(&Config, &Allocator);
  for (size_t I = 0; I < Changed; I++) {
    Flash[DescriptorSignatureOffset + I] ^= Changes[I];
  }
  if (Platform == nullptr) return 0;

  HostFirmware &Model = Firmware();
  gFirmware.ImageHandle = Model.ImageHandle();
  gFirmware.SystemTable = Model.SystemTable();
  gFirmware.BootServices = Model.SystemTable()->BootServices;
  SimBackendAttach(Platform);
  EFI_STATUS Status = EFI_SUCCESS;
  if (BringUpFlashLayer(&Status)) {
    SelectedFlashPartIndex();
    SelectedFlashPartName();
    uint8_t Top[0x1000];
    BiosFlashRead(Top, 0x100000000ull - sizeof Top, sizeof Top);
  }
  SimBackendAttach(nullptr);
  SimPlatformDestroy(Platform);
  return 0;
}
