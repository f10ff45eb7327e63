// The simulated hardware back end of flash/hw_access: every primitive access goes
// to the attached simulated platform. With none attached, reads answer all ones
// (as an absent device does) and writes are dropped.
#include "flash/hw_access.h"
#include "sim/sim_backend.h"

namespace {
SimPlatform *gAttachedPlatform = nullptr;
SimResetHook gResetHook = nullptr;
void *gResetHookContext = nullptr;

// The hook sees the write that started the reset, once per attached platform.
void ReportReset(SimResetKind Before, UINT16 Port, UINT8 Value) {
  if (gResetHook != nullptr && gAttachedPlatform != nullptr && Before == SimResetNone &&
      SimGetReset(gAttachedPlatform) != SimResetNone) {
    gResetHook(gResetHookContext, Port, Value);
  }
}

SimResetKind ResetState() {
  return gAttachedPlatform != nullptr ? SimGetReset(gAttachedPlatform) : SimResetNone;
}
}  // namespace

void SimBackendAttach(SimPlatform *Platform) { gAttachedPlatform = Platform; }

void SimBackendOnReset(SimResetHook Hook, void *Context) {
  gResetHook = Hook;
  gResetHookContext = Context;
}

SimPlatform *SimBackendPlatform() { return gAttachedPlatform; }

UINT8 PortWrite8(UINT16 Port, UINT8 Value) {
  const SimResetKind Before = ResetState();
  SimPortWrite(gAttachedPlatform, Port, 8, Value);
  ReportReset(Before, Port, Value);
  return Value;
}

UINT32 PortRead32(UINT16 Port) { return SimPortRead(gAttachedPlatform, Port, 32); }

UINT32 PortWrite32(UINT16 Port, UINT32 Value) {
  SimPortWrite(gAttachedPlatform, Port, 32, Value);
  return Value;
}

UINT8 MmioRead8(UINT64 Address) {
  return static_cast<UINT8>(SimMmioRead(gAttachedPlatform, Address, 8));
}

UINT16 MmioRead16(UINT64 Address) {
  return static_cast<UINT16>(SimMmioRead(gAttachedPlatform, Address, 16));
}

UINT32 MmioRead32(UINT64 Address) { return SimMmioRead(gAttachedPlatform, Address, 32); }

VOID MmioWrite8(UINT64 Address, UINT8 Value) { SimMmioWrite(gAttachedPlatform, Address, 8, Value); }

VOID MmioWrite16(UINT64 Address, UINT16 Value) {
  SimMmioWrite(gAttachedPlatform, Address, 16, Value);
}

VOID MmioWrite32(UINT64 Address, UINT32 Value) {
  SimMmioWrite(gAttachedPlatform, Address, 32, Value);
}

VOID RegisterBarrier() { SimBarrier(gAttachedPlatform); }
