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

// A processor that reads PM1_TMR again and again only waits: rather than a read a
// microsecond until then, the clock goes on to the next change the platform makes by
// itself (the end of the running cycle or of a chip's busy time), a step of at most
// SIM_TIMER_WAIT_STEP_MAX_NS. A wait can thus end a little later than it meant to, as
// it can on hardware (an SMI between two reads), never earlier; with nothing pending
// the clock goes on a read at a time.
void SimWaitOnTimer(SimPlatform *Platform) {
  const uint64_t Now = Platform->NowNs;
  uint64_t Next = ~0ull;
  const SimSpiController &S = Platform->Spi;
  if (S.Owner != SimCycleNone && !S.Stuck && S.EndNs > Now) Next = S.EndNs;
  for (uint32_t I = 0; I < Platform->ChipCount; I++) {
    const uint64_t Busy = Platform->Chips[I].BusyUntilNs;
    if (Busy > Now && Busy < Next) Next = Busy;
  }
  if (Next == ~0ull) return;
  Platform->NowNs =
      Next - Now < SIM_TIMER_WAIT_STEP_MAX_NS ? Next : Now + SIM_TIMER_WAIT_STEP_MAX_NS;
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
