// The ACPI tables this application reads: the RSDP that the ACPI 2.0 configuration
// table entry points to, the XSDT, and the MCFG that says where PCI configuration
// space is memory-mapped. Firmware places these tables without alignment
// guarantees for the 64-bit members (the XSDT's entries start at offset 36), so
// readers copy members out rather than dereference them in place.
#pragma once

#include <stddef.h>

#include "uefi/uefi.h"

#pragma pack(push, 1)

struct ACPI_RSDP {
  CHAR8 Signature[8];  // "RSD PTR "
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT8 Revision;  // 2 or above: the ACPI 2.0 fields follow
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
};
static_assert(sizeof(ACPI_RSDP) == 36);
static_assert(offsetof(ACPI_RSDP, Revision) == 15);
static_assert(offsetof(ACPI_RSDP, XsdtAddress) == 24);

struct ACPI_DESCRIPTION_HEADER {
  CHAR8 Signature[4];
  UINT32 Length;  // the whole table, header included
  UINT8 Revision;
  UINT8 Checksum;
  CHAR8 OemId[6];
  CHAR8 OemTableId[8];
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};
static_assert(sizeof(ACPI_DESCRIPTION_HEADER) == 36);
static_assert(offsetof(ACPI_DESCRIPTION_HEADER, Length) == 4);

// The XSDT: the header, then 64-bit table addresses up to Length.
constexpr UINT32 ACPI_XSDT_ENTRIES_OFFSET = sizeof(ACPI_DESCRIPTION_HEADER);

// The MCFG: the header, 8 reserved bytes, then one allocation per segment and
// bus range up to Length.
constexpr UINT32 ACPI_MCFG_ALLOCATIONS_OFFSET = sizeof(ACPI_DESCRIPTION_HEADER) + 8;

struct ACPI_MCFG_ALLOCATION {
  UINT64 BaseAddress;  // ECAM base of the segment (the address of bus 0)
  UINT16 PciSegment;
  UINT8 StartBus;
  UINT8 EndBus;
  UINT32 Reserved;
};
static_assert(sizeof(ACPI_MCFG_ALLOCATION) == 16);
static_assert(offsetof(ACPI_MCFG_ALLOCATION, PciSegment) == 8);

// A Generic Address Structure, as the FADT's extended blocks give them.
struct ACPI_GENERIC_ADDRESS {
  UINT8 AddressSpaceId;  // ACPI_ADDRESS_SPACE_SYSTEM_IO for the PM blocks of a PCH
  UINT8 RegisterBitWidth;
  UINT8 RegisterBitOffset;
  UINT8 AccessSize;
  UINT64 Address;
};
static_assert(sizeof(ACPI_GENERIC_ADDRESS) == 12);
constexpr UINT8 ACPI_ADDRESS_SPACE_SYSTEM_IO = 1;

// The FADT (signature "FACP"): only the power-management block members this
// application reads. The 32-bit blocks are I/O port numbers; the extended ones
// (ACPI 2.0 on) exist when Length reaches past them.
constexpr UINT32 ACPI_FADT_PM1A_EVT_BLK_OFFSET = 56;
constexpr UINT32 ACPI_FADT_PM_TMR_BLK_OFFSET = 76;
constexpr UINT32 ACPI_FADT_X_PM1A_EVT_BLK_OFFSET = 148;
constexpr UINT32 ACPI_FADT_X_PM_TMR_BLK_OFFSET = 208;
// The ACPI 2.0 FADT ends after X_GPE1_BLK.
constexpr UINT32 ACPI_FADT_REVISION_2_LENGTH = 244;

#pragma pack(pop)
