// Walking RSDP -> XSDT -> MCFG and FADT. The tables are firmware data, not trusted beyond
// their signatures and lengths: every member is copied out (the tables give no
// alignment), and a length outside sane bounds ends the walk.
#include "base/acpi_tables.h"

#include "base/firmware.h"
#include "uefi/acpi.h"

namespace {

// No table this walk reads is anywhere near this long; a larger length is garbage.
constexpr UINT32 ACPI_TABLE_MAX_BYTES = 0x100000;
constexpr UINT8 ACPI_RSDP_REVISION_XSDT = 2;
constexpr UINT64 ACPI_IO_PORT_MAX = 0xFFFF;

const VOID *AcpiRsdp() {
  EFI_GUID Acpi20 = EFI_ACPI_20_TABLE_GUID;
  const EFI_SYSTEM_TABLE *Table = gFirmware.SystemTable;
  if (Table == nullptr || Table->ConfigurationTable == nullptr) {
    return nullptr;
  }
  for (UINTN Index = 0; Index < Table->NumberOfTableEntries; Index++) {
    const EFI_CONFIGURATION_TABLE &Entry = Table->ConfigurationTable[Index];
    if (GuidEquals(&Entry.VendorGuid, &Acpi20)) {
      return Entry.VendorTable;
    }
  }
  return nullptr;
}

// The header of the table at Address, when it carries Signature and a length
// that covers at least MinimumLength bytes.
BOOLEAN ReadTableHeader(UINT64 Address, const CHAR8 *Signature, UINT32 MinimumLength,
                        ACPI_DESCRIPTION_HEADER *Header) {
  if (Address == 0) {
    return FALSE;
  }
  MemCopy(Header, reinterpret_cast<const VOID *>(Address), sizeof(*Header));
  return MemCompare(Header->Signature, Signature, sizeof(Header->Signature)) == 0 &&
         Header->Length >= MinimumLength && Header->Length <= ACPI_TABLE_MAX_BYTES;
}

UINT64 XsdtAddress() {
  const VOID *Rsdp = AcpiRsdp();
  if (Rsdp == nullptr) {
    return 0;
  }
  ACPI_RSDP Pointer;
  MemCopy(&Pointer, Rsdp, sizeof(Pointer));
  if (MemCompare(Pointer.Signature, "RSD PTR ", sizeof(Pointer.Signature)) != 0 ||
      Pointer.Revision < ACPI_RSDP_REVISION_XSDT) {
    return 0;
  }
  return Pointer.XsdtAddress;
}

// The first table of that signature among the XSDT's entries; 0 when there is none.
UINT64 FindTable(UINT64 Xsdt, const CHAR8 *Signature, UINT32 MinimumLength) {
  ACPI_DESCRIPTION_HEADER Header;
  if (!ReadTableHeader(Xsdt, "XSDT", ACPI_XSDT_ENTRIES_OFFSET, &Header)) {
    return 0;
  }
  UINT32 Entries = (Header.Length - ACPI_XSDT_ENTRIES_OFFSET) / sizeof(UINT64);
  for (UINT32 Index = 0; Index < Entries; Index++) {
    UINT64 Entry = 0;
    MemCopy(
        &Entry,
        reinterpret_cast<const VOID *>(Xsdt + ACPI_XSDT_ENTRIES_OFFSET + Index * sizeof(UINT64)),
        sizeof(Entry));
    ACPI_DESCRIPTION_HEADER Table;
    if (ReadTableHeader(Entry, Signature, MinimumLength, &Table)) {
      return Entry;
    }
  }
  return 0;
}

// The 16-bit I/O port a FADT member gives; 0 when it gives none.
UINT16 IoPort(UINT64 Value) { return Value <= ACPI_IO_PORT_MAX ? static_cast<UINT16>(Value) : 0; }

UINT32 ReadMember32(UINT64 Table, UINT32 Offset) {
  UINT32 Value = 0;
  MemCopy(&Value, reinterpret_cast<const VOID *>(Table + Offset), sizeof(Value));
  return Value;
}

// An extended block that names a system I/O port; 0 where the table is too short
// to hold it or it names memory.
UINT16 ExtendedIoPort(UINT64 Fadt, UINT32 Length, UINT32 Offset) {
  if (Length < Offset + sizeof(ACPI_GENERIC_ADDRESS)) {
    return 0;
  }
  ACPI_GENERIC_ADDRESS Block;
  MemCopy(&Block, reinterpret_cast<const VOID *>(Fadt + Offset), sizeof(Block));
  return Block.AddressSpaceId == ACPI_ADDRESS_SPACE_SYSTEM_IO ? IoPort(Block.Address) : 0;
}

}  // namespace

EFI_STATUS AcpiFindPmBlocks(UINT16 *Pm1aEvent, UINT16 *PmTimer) {
  constexpr UINT32 MinimumLength = ACPI_FADT_PM_TMR_BLK_OFFSET + sizeof(UINT32);
  UINT64 Fadt = FindTable(XsdtAddress(), "FACP", MinimumLength);
  ACPI_DESCRIPTION_HEADER Header;
  if (!ReadTableHeader(Fadt, "FACP", MinimumLength, &Header)) {
    return EFI_NOT_FOUND;
  }
  *Pm1aEvent = ExtendedIoPort(Fadt, Header.Length, ACPI_FADT_X_PM1A_EVT_BLK_OFFSET);
  if (*Pm1aEvent == 0) {
    *Pm1aEvent = IoPort(ReadMember32(Fadt, ACPI_FADT_PM1A_EVT_BLK_OFFSET));
  }
  *PmTimer = ExtendedIoPort(Fadt, Header.Length, ACPI_FADT_X_PM_TMR_BLK_OFFSET);
  if (*PmTimer == 0) {
    *PmTimer = IoPort(ReadMember32(Fadt, ACPI_FADT_PM_TMR_BLK_OFFSET));
  }
  return EFI_SUCCESS;
}

EFI_STATUS AcpiFindEcamBase(UINT64 *Base) {
  UINT64 Mcfg = FindTable(XsdtAddress(), "MCFG", ACPI_MCFG_ALLOCATIONS_OFFSET);
  ACPI_DESCRIPTION_HEADER Header;
  if (!ReadTableHeader(Mcfg, "MCFG", ACPI_MCFG_ALLOCATIONS_OFFSET, &Header)) {
    return EFI_NOT_FOUND;
  }
  UINT32 Allocations =
      (Header.Length - ACPI_MCFG_ALLOCATIONS_OFFSET) / sizeof(ACPI_MCFG_ALLOCATION);
  for (UINT32 Index = 0; Index < Allocations; Index++) {
    ACPI_MCFG_ALLOCATION Allocation;
    MemCopy(&Allocation,
            reinterpret_cast<const VOID *>(Mcfg + ACPI_MCFG_ALLOCATIONS_OFFSET +
                                           Index * sizeof(ACPI_MCFG_ALLOCATION)),
            sizeof(Allocation));
    if (Allocation.PciSegment == 0 && Allocation.StartBus == 0) {
      *Base = Allocation.BaseAddress;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}
