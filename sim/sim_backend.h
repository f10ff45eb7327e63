// The simulated hardware back end: routes every primitive access of
// flash/hw_access to the attached simulated platform.
#pragma once

#include "sim/sim_platform.h"

// Attach the platform the next accesses go to (null detaches; accesses then
// read all ones and writes are dropped).
void SimBackendAttach(SimPlatform *Platform);
SimPlatform *SimBackendPlatform();
