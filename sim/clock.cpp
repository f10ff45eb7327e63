// Simulated time: one nanosecond clock for the whole platform. Register and port
// accesses, SPI bus transfers and chip busy times advance it; the ACPI PM timer is
// derived from it.
#include "sim/regs/acpi_io.h"
#include "sim/sim_internal.h"

void SimAdvance(SimPlatform *Platform, uint64_t Nanoseconds) { Platform->NowNs += Nanoseconds; }

// Time of Bytes bytes on the single-bit SPI bus, rounded up to whole nanoseconds.
uint64_t SimBusTimeNs(const SimPlatform *Platform, uint32_t Bytes) {
  const uint64_t Hz =
      Platform->Config.SpiClockHz != 0 ? Platform->Config.SpiClockHz : SIM_DEFAULT_SPI_CLOCK_HZ;
  const uint64_t Bits = static_cast<uint64_t>(Bytes) * 8;
  return (Bits * 1000000000ull + Hz - 1) / Hz;
}

// PM1_TMR: a free-running 24-bit up-counter at 3.579545 MHz since power-on, or,
// where firmware stopped it (ACPI_TIM_DIS), the value it held then.
uint32_t SimPmTimerValue(const SimPlatform *Platform) {
  if (Platform->Config.PmTimerStopped) return SIM_PM_TIMER_STOPPED_VALUE;
  constexpr uint64_t NsPerSecond = 1000000000;
  // Split at whole seconds so that the product stays within 64 bits.
  const uint64_t Seconds = Platform->NowNs / NsPerSecond;
  const uint64_t Rest = Platform->NowNs % NsPerSecond;
  const uint64_t Ticks = Seconds * PM1_TMR_HZ + Rest * PM1_TMR_HZ / NsPerSecond;
  return static_cast<uint32_t>(Ticks & PM1_TMR_MASK);
}
