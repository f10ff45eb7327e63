// Walking RSDP -> XSDT -> MCFG. The tables are firmware data, not trusted beyond
// their signatures and lengths: every member is copied out (the tables give no
// alignment), and a length outside sane bounds ends the walk.
#include "base/acpi_tables.h"

#include "base/firmware.h"
#include "uefi/acpi.h"

namespace {

// No table this walk reads is anywhere near this long; a larger length is garbage.
constexpr UINT32 ACPI_TABLE_MAX_BYTES = 0x100000;
constexpr UINT8 ACPI_RSDP_REVISION_XSDT = 2;

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

// The MCFG among the XSDT's entries; 0 when there is none.
UINT64 FindMcfg(UINT64 Xsdt) {
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
    if (ReadTableHeader(Entry, "MCFG", ACPI_MCFG_ALLOCATIONS_OFFSET, &Table)) {
      return Entry;
    }
  }
  return 0;
}

}  // namespace

EFI_STATUS AcpiFindEcamBase(UINT64 *Base) {
  UINT64 Mcfg = FindMcfg(XsdtAddress());
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
