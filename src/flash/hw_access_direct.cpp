// The direct hardware back end, linked into pchflash.efi: volatile accesses of
// exactly the stated width and the processor's in/out instructions. Physical
// memory is identity-mapped in boot services, so an address is a pointer.
#include "flash/hw_access.h"

UINT8 PortWrite8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %0, %1" : : "a"(Value), "Nd"(Port));
  return Value;
}

UINT32 PortRead32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

UINT32 PortWrite32(UINT16 Port, UINT32 Value) {
  __asm__ __volatile__("outl %0, %1" : : "a"(Value), "Nd"(Port));
  return Value;
}

UINT8 MmioRead8(UINT64 Address) { return *reinterpret_cast<volatile UINT8 *>(Address); }
UINT16 MmioRead16(UINT64 Address) { return *reinterpret_cast<volatile UINT16 *>(Address); }
UINT32 MmioRead32(UINT64 Address) { return *reinterpret_cast<volatile UINT32 *>(Address); }
VOID MmioWrite8(UINT64 Address, UINT8 Value) {
  *reinterpret_cast<volatile UINT8 *>(Address) = Value;
}
VOID MmioWrite16(UINT64 Address, UINT16 Value) {
  *reinterpret_cast<volatile UINT16 *>(Address) = Value;
}
VOID MmioWrite32(UINT64 Address, UINT32 Value) {
  *reinterpret_cast<volatile UINT32 *>(Address) = Value;
}

// A compiler barrier only: no access is moved across it, no fence is issued.
VOID RegisterBarrier() { __asm__ __volatile__("" : : : "memory"); }
