// The simulated hardware back end: routes every primitive access of
// flash/hw_access to the attached simulated platform.
#pragma once

#include "sim/sim_platform.h"

// Attach the platform the next accesses go to (null detaches; accesses then
// read all ones and writes are dropped).
void SimBackendAttach(SimPlatform *Platform);
SimPlatform *SimBackendPlatform();

// Called once, right after the write to the reset-control port that starts the
// platform's reset, with the port and the value written (pchflash-sim.efi saves
// the flash there and passes the reset on to the real machine). Null: none.
typedef void (*SimResetHook)(void *Context, uint16_t Port, uint8_t Value);
void SimBackendOnReset(SimResetHook Hook, void *Context);
