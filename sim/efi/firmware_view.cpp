// Building the application's view of the firmware. The real tables are read,
// never written: the new RSDP, XSDT, MCFG and FADT and the copies of the system
// table and boot services live in memory of their own, and the XSDT lists the real
// tables (other than an MCFG and a FADT) at their real addresses.
#include "sim/efi/firmware_view.h"

#include "uefi/acpi.h"

namespace {

constexpr UINT32 ACPI_TABLE_MAX_BYTES = 0x100000;
constexpr UINT8 ACPI_RSDP_REVISION_XSDT = 2;
constexpr UINT32 ACPI_RSDP_V1_LENGTH = 20;  // the part the first checksum covers
constexpr UINT8 MCFG_REVISION = 1;
constexpr UINT8 XSDT_REVISION = 1;
constexpr UINT32 MCFG_LENGTH = ACPI_MCFG_ALLOCATIONS_OFFSET + sizeof(ACPI_MCFG_ALLOCATION);
constexpr UINT8 PCI_LAST_BUS = 0xFF;
constexpr UINT8 FADT_REVISION = 4;        // ACPI 2.0 layout
constexpr UINT32 FADT_MAX_BYTES = 1024;   // beyond any revision's FADT
constexpr UINT16 PM_TIMER_FROM_BASE = 8;  // PM1_TMR at ABASE + 8
constexpr UINT8 PM_BLOCK_BITS = 32;
constexpr CHAR8 OEM_ID[6] = {'P', 'C', 'H', 'S', 'I', 'M'};
constexpr CHAR8 OEM_TABLE_ID[8] = {'P', 'C', 'H', 'S', 'I', 'M', ' ', ' '};

VOID CopyBytes(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *To = static_cast<UINT8 *>(Destination);
  const UINT8 *From = static_cast<const UINT8 *>(Source);
  for (UINTN I = 0; I < Length; I++) To[I] = From[I];
}

VOID ZeroBytes(VOID *Destination, UINTN Length) {
  UINT8 *To = static_cast<UINT8 *>(Destination);
  for (UINTN I = 0; I < Length; I++) To[I] = 0;
}

BOOLEAN SameBytes(const VOID *A, const VOID *B, UINTN Length) {
  const UINT8 *X = static_cast<const UINT8 *>(A);
  const UINT8 *Y = static_cast<const UINT8 *>(B);
  for (UINTN I = 0; I < Length; I++) {
    if (X[I] != Y[I]) return FALSE;
  }
  return TRUE;
}

UINT8 Checksum(const VOID *Table, UINTN Length) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Table);
  UINT8 Sum = 0;
  for (UINTN I = 0; I < Length; I++) Sum = static_cast<UINT8>(Sum + Bytes[I]);
  return static_cast<UINT8>(0 - Sum);
}

// The system table header's CRC32, over HeaderSize bytes with the field zero.
UINT32 Crc32(const VOID *Data, UINTN Length) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (UINTN I = 0; I < Length; I++) {
    Crc ^= Bytes[I];
    for (UINT32 Bit = 0; Bit < 8; Bit++) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
  }
  return ~Crc;
}

// A table's size as its header gives it (a later revision may add members), but
// at least the members we know; a size beyond any revision's is not believed.
constexpr UINT32 TABLE_MAX_BYTES = 4096;

UINTN HeaderBytes(const EFI_TABLE_HEADER *Header, UINTN Known) {
  const UINTN Bytes = Header->HeaderSize;
  return Bytes < Known || Bytes > TABLE_MAX_BYTES ? Known : Bytes;
}

VOID Seal(EFI_TABLE_HEADER *Header, UINTN Bytes) {
  Header->CRC32 = 0;
  Header->CRC32 = Crc32(Header, Bytes);
}

UINTN AlignUp(UINTN Value, UINTN Alignment) { return (Value + Alignment - 1) & ~(Alignment - 1); }

// The real firmware's XSDT, when its RSDP leads to one that looks sound.
const UINT8 *RealXsdt(const EFI_SYSTEM_TABLE *Real, UINTN Acpi20Index,
                      ACPI_DESCRIPTION_HEADER *Header) {
  if (Acpi20Index == Real->NumberOfTableEntries) return nullptr;
  const VOID *RsdpAddress = Real->ConfigurationTable[Acpi20Index].VendorTable;
  if (RsdpAddress == nullptr) return nullptr;
  ACPI_RSDP Rsdp;
  CopyBytes(&Rsdp, RsdpAddress, sizeof(Rsdp));
  if (!SameBytes(Rsdp.Signature, "RSD PTR ", sizeof(Rsdp.Signature)) ||
      Rsdp.Revision < ACPI_RSDP_REVISION_XSDT || Rsdp.XsdtAddress == 0) {
    return nullptr;
  }
  const UINT8 *Xsdt = reinterpret_cast<const UINT8 *>(Rsdp.XsdtAddress);
  CopyBytes(Header, Xsdt, sizeof(*Header));
  if (!SameBytes(Header->Signature, "XSDT", 4) || Header->Length < ACPI_XSDT_ENTRIES_OFFSET ||
      Header->Length > ACPI_TABLE_MAX_BYTES) {
    return nullptr;
  }
  return Xsdt;
}

UINT64 XsdtEntry(const UINT8 *Xsdt, UINT32 Index) {
  UINT64 Entry = 0;
  CopyBytes(&Entry, Xsdt + ACPI_XSDT_ENTRIES_OFFSET + Index * sizeof(UINT64), sizeof(Entry));
  return Entry;
}

VOID FillHeader(ACPI_DESCRIPTION_HEADER *Header, const CHAR8 *Signature, UINT32 Length,
                UINT8 Revision) {
  ZeroBytes(Header, sizeof(*Header));
  CopyBytes(Header->Signature, Signature, sizeof(Header->Signature));
  Header->Length = Length;
  Header->Revision = Revision;
  CopyBytes(Header->OemId, OEM_ID, sizeof(Header->OemId));
  CopyBytes(Header->OemTableId, OEM_TABLE_ID, sizeof(Header->OemTableId));
  Header->OemRevision = 1;
}

BOOLEAN IsMcfg(UINT64 Address) {
  return Address != 0 && SameBytes(reinterpret_cast<const VOID *>(Address), "MCFG", 4);
}

BOOLEAN IsFadt(UINT64 Address) {
  return Address != 0 && SameBytes(reinterpret_cast<const VOID *>(Address), "FACP", 4);
}

// The tables the view replaces with its own (or leaves out).
BOOLEAN Replaced(UINT64 Address, SimEfiFadt Fadt) {
  return IsMcfg(Address) || (Fadt != SimEfiFadtReal && IsFadt(Address));
}

// The real FADT and its length, when the real XSDT lists one.
const UINT8 *RealFadt(const UINT8 *Xsdt, const ACPI_DESCRIPTION_HEADER *XsdtHeader,
                      UINT32 *Length) {
  if (Xsdt == nullptr) return nullptr;
  const UINT32 Count = (XsdtHeader->Length - ACPI_XSDT_ENTRIES_OFFSET) / sizeof(UINT64);
  for (UINT32 Index = 0; Index < Count; Index++) {
    const UINT64 Entry = XsdtEntry(Xsdt, Index);
    if (!IsFadt(Entry)) continue;
    ACPI_DESCRIPTION_HEADER Header;
    CopyBytes(&Header, reinterpret_cast<const VOID *>(Entry), sizeof(Header));
    *Length = Header.Length < FADT_MAX_BYTES ? Header.Length : FADT_MAX_BYTES;
    return reinterpret_cast<const UINT8 *>(Entry);
  }
  return nullptr;
}

VOID PutIoBlock(UINT8 *Fadt, UINT32 Offset, UINT32 ExtendedOffset, UINT16 Port) {
  const UINT32 Value = Port;
  CopyBytes(Fadt + Offset, &Value, sizeof(Value));
  ACPI_GENERIC_ADDRESS Block = {ACPI_ADDRESS_SPACE_SYSTEM_IO, PM_BLOCK_BITS, 0, 0, Port};
  CopyBytes(Fadt + ExtendedOffset, &Block, sizeof(Block));
}

// The real FADT (when there is one) with its power-management blocks moved to the
// simulated platform's ACPI I/O base, at least as long as the ACPI 2.0 layout.
VOID BuildFadt(UINT8 *Fadt, UINT32 Length, const UINT8 *Real, UINT32 RealLength, UINT16 Base) {
  ZeroBytes(Fadt, Length);
  if (Real != nullptr) {
    CopyBytes(Fadt, Real, RealLength);
  } else {
    ACPI_DESCRIPTION_HEADER Header;
    FillHeader(&Header, "FACP", Length, FADT_REVISION);
    CopyBytes(Fadt, &Header, sizeof(Header));
  }
  CopyBytes(Fadt + offsetof(ACPI_DESCRIPTION_HEADER, Length), &Length, sizeof(Length));
  PutIoBlock(Fadt, ACPI_FADT_PM1A_EVT_BLK_OFFSET, ACPI_FADT_X_PM1A_EVT_BLK_OFFSET, Base);
  PutIoBlock(Fadt, ACPI_FADT_PM_TMR_BLK_OFFSET, ACPI_FADT_X_PM_TMR_BLK_OFFSET,
             static_cast<UINT16>(Base + PM_TIMER_FROM_BASE));
  Fadt[offsetof(ACPI_DESCRIPTION_HEADER, Checksum)] = 0;
  Fadt[offsetof(ACPI_DESCRIPTION_HEADER, Checksum)] = Checksum(Fadt, Length);
}

VOID BuildMcfg(UINT8 *Mcfg, UINT64 Base) {
  ACPI_DESCRIPTION_HEADER Header;
  FillHeader(&Header, "MCFG", MCFG_LENGTH, MCFG_REVISION);
  ZeroBytes(Mcfg, MCFG_LENGTH);
  CopyBytes(Mcfg, &Header, sizeof(Header));
  ACPI_MCFG_ALLOCATION Allocation = {Base, 0, 0, PCI_LAST_BUS, 0};
  CopyBytes(Mcfg + ACPI_MCFG_ALLOCATIONS_OFFSET, &Allocation, sizeof(Allocation));
  Mcfg[offsetof(ACPI_DESCRIPTION_HEADER, Checksum)] = Checksum(Mcfg, MCFG_LENGTH);
}

// The real XSDT's header and entries without its MCFG and FADT, then ours.
VOID BuildXsdt(UINT8 *Xsdt, UINT32 Length, const UINT8 *Real,
               const ACPI_DESCRIPTION_HEADER *RealHeader, const UINT8 *Mcfg, const UINT8 *Fadt,
               SimEfiFadt FadtChoice) {
  ACPI_DESCRIPTION_HEADER Header;
  if (Real != nullptr) {
    Header = *RealHeader;
  } else {
    FillHeader(&Header, "XSDT", Length, XSDT_REVISION);
  }
  Header.Length = Length;
  Header.Checksum = 0;
  CopyBytes(Xsdt, &Header, sizeof(Header));
  UINT32 Count = 0;
  const UINT32 RealCount =
      Real != nullptr ? (RealHeader->Length - ACPI_XSDT_ENTRIES_OFFSET) / sizeof(UINT64) : 0;
  for (UINT32 Index = 0; Index < RealCount; Index++) {
    const UINT64 Entry = XsdtEntry(Real, Index);
    if (Replaced(Entry, FadtChoice)) continue;
    CopyBytes(Xsdt + ACPI_XSDT_ENTRIES_OFFSET + Count++ * sizeof(UINT64), &Entry, sizeof(Entry));
  }
  const UINT8 *Own[] = {Fadt, Mcfg};
  for (const UINT8 *Table : Own) {
    if (Table == nullptr) continue;
    const UINT64 Entry = reinterpret_cast<UINT64>(Table);
    CopyBytes(Xsdt + ACPI_XSDT_ENTRIES_OFFSET + Count++ * sizeof(UINT64), &Entry, sizeof(Entry));
  }
  Xsdt[offsetof(ACPI_DESCRIPTION_HEADER, Checksum)] = Checksum(Xsdt, Length);
}

// The RSDT (32-bit addresses) is left out: it would list the real MCFG.
VOID BuildRsdp(ACPI_RSDP *Rsdp, const UINT8 *Xsdt) {
  ZeroBytes(Rsdp, sizeof(*Rsdp));
  CopyBytes(Rsdp->Signature, "RSD PTR ", sizeof(Rsdp->Signature));
  CopyBytes(Rsdp->OemId, OEM_ID, sizeof(Rsdp->OemId));
  Rsdp->Revision = ACPI_RSDP_REVISION_XSDT;
  Rsdp->Length = sizeof(ACPI_RSDP);
  Rsdp->XsdtAddress = reinterpret_cast<UINT64>(Xsdt);
  Rsdp->Checksum = Checksum(Rsdp, ACPI_RSDP_V1_LENGTH);
  Rsdp->ExtendedChecksum = Checksum(Rsdp, sizeof(ACPI_RSDP));
}

UINTN FindAcpi20Entry(const EFI_SYSTEM_TABLE *Real) {
  const EFI_GUID Acpi20 = EFI_ACPI_20_TABLE_GUID;
  for (UINTN Index = 0; Index < Real->NumberOfTableEntries; Index++) {
    if (SameBytes(&Real->ConfigurationTable[Index].VendorGuid, &Acpi20, sizeof(EFI_GUID))) {
      return Index;
    }
  }
  return Real->NumberOfTableEntries;
}

}  // namespace

EFI_STATUS SimEfiBuildFirmwareView(const EFI_SYSTEM_TABLE *Real, BOOLEAN McfgPresent,
                                   UINT64 McfgBase, EFI_STALL Stall, VOID *(*Allocate)(UINTN Bytes),
                                   SimEfiFirmwareView *View, SimEfiFadt FadtChoice,
                                   UINT16 FadtBase) {
  View->SystemTable = nullptr;
  View->Memory = nullptr;
  const UINTN RealEntries = Real->ConfigurationTable != nullptr ? Real->NumberOfTableEntries : 0;
  const UINTN Acpi20Index = RealEntries == 0 ? 0 : FindAcpi20Entry(Real);
  const BOOLEAN HasAcpi20 = Acpi20Index < RealEntries;
  const BOOLEAN FadtPresent = FadtChoice == SimEfiFadtPatched;

  ACPI_DESCRIPTION_HEADER RealXsdtHeader;
  const UINT8 *RealXsdtTable = HasAcpi20 ? RealXsdt(Real, Acpi20Index, &RealXsdtHeader) : nullptr;
  UINT32 KeptEntries = 0;
  if (RealXsdtTable != nullptr) {
    const UINT32 Count = (RealXsdtHeader.Length - ACPI_XSDT_ENTRIES_OFFSET) / sizeof(UINT64);
    for (UINT32 Index = 0; Index < Count; Index++) {
      KeptEntries += Replaced(XsdtEntry(RealXsdtTable, Index), FadtChoice) ? 0 : 1;
    }
  }
  const BOOLEAN Acpi = McfgPresent || FadtPresent;
  UINT32 RealFadtLength = 0;
  const UINT8 *RealFadtTable = RealFadt(RealXsdtTable, &RealXsdtHeader, &RealFadtLength);
  UINT32 FadtLength = ACPI_FADT_REVISION_2_LENGTH;
  if (RealFadtTable != nullptr && RealFadtLength > FadtLength) FadtLength = RealFadtLength;
  const UINT32 OwnEntries = (McfgPresent ? 1 : 0) + (FadtPresent ? 1 : 0);
  const UINT32 XsdtLength =
      ACPI_XSDT_ENTRIES_OFFSET + static_cast<UINT32>((KeptEntries + OwnEntries) * sizeof(UINT64));

  UINTN Entries = RealEntries;
  if (Acpi && !HasAcpi20) Entries++;
  if (!Acpi && HasAcpi20) Entries--;

  // One block: system table, boot services, configuration table, then RSDP, MCFG,
  // XSDT and FADT.
  const UINTN ServicesBytes = HeaderBytes(&Real->BootServices->Hdr, sizeof(EFI_BOOT_SERVICES));
  const UINTN ServicesAt = AlignUp(sizeof(EFI_SYSTEM_TABLE), 16);
  const UINTN ConfigurationAt = AlignUp(ServicesAt + ServicesBytes, 16);
  const UINTN RsdpAt = AlignUp(ConfigurationAt + Entries * sizeof(EFI_CONFIGURATION_TABLE), 16);
  const UINTN McfgAt = AlignUp(RsdpAt + sizeof(ACPI_RSDP), 16);
  const UINTN XsdtAt = AlignUp(McfgAt + MCFG_LENGTH, 16);
  const UINTN FadtAt = AlignUp(XsdtAt + XsdtLength, 16);
  const UINTN Total = FadtAt + FadtLength;
  UINT8 *Memory = static_cast<UINT8 *>(Allocate(Total));
  if (Memory == nullptr) return EFI_OUT_OF_RESOURCES;
  ZeroBytes(Memory, Total);

  ACPI_RSDP *Rsdp = reinterpret_cast<ACPI_RSDP *>(Memory + RsdpAt);
  if (Acpi) {
    const UINT8 *Mcfg = McfgPresent ? Memory + McfgAt : nullptr;
    const UINT8 *Fadt = FadtPresent ? Memory + FadtAt : nullptr;
    if (McfgPresent) BuildMcfg(Memory + McfgAt, McfgBase);
    if (FadtPresent) {
      BuildFadt(Memory + FadtAt, FadtLength, RealFadtTable, RealFadtLength, FadtBase);
    }
    BuildXsdt(Memory + XsdtAt, XsdtLength, RealXsdtTable, &RealXsdtHeader, Mcfg, Fadt, FadtChoice);
    BuildRsdp(Rsdp, Memory + XsdtAt);
  }

  EFI_CONFIGURATION_TABLE *Configuration =
      reinterpret_cast<EFI_CONFIGURATION_TABLE *>(Memory + ConfigurationAt);
  UINTN Count = 0;
  for (UINTN Index = 0; Index < RealEntries; Index++) {
    if (Index == Acpi20Index && HasAcpi20) {
      if (!Acpi) continue;
      Configuration[Count] = Real->ConfigurationTable[Index];
      Configuration[Count++].VendorTable = Rsdp;
      continue;
    }
    Configuration[Count++] = Real->ConfigurationTable[Index];
  }
  if (Acpi && !HasAcpi20) {
    Configuration[Count].VendorGuid = EFI_ACPI_20_TABLE_GUID;
    Configuration[Count++].VendorTable = Rsdp;
  }

  EFI_SYSTEM_TABLE *Table = reinterpret_cast<EFI_SYSTEM_TABLE *>(Memory);
  *Table = *Real;
  Table->NumberOfTableEntries = Count;
  Table->ConfigurationTable = Configuration;
  if (Stall != nullptr) {
    auto *Services = reinterpret_cast<EFI_BOOT_SERVICES *>(Memory + ServicesAt);
    CopyBytes(Services, Real->BootServices, ServicesBytes);
    Services->Stall = Stall;
    Seal(&Services->Hdr, ServicesBytes);
    Table->BootServices = Services;
  }
  // The copy holds the members we know; the header says so.
  Table->Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  Seal(&Table->Hdr, sizeof(EFI_SYSTEM_TABLE));
  View->SystemTable = Table;
  View->Memory = Memory;
  return EFI_SUCCESS;
}
