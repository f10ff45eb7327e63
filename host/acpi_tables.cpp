// The ACPI tables of the host firmware model, as platform firmware publishes them
// through the ACPI 2.0 configuration-table entry: an RSDP of revision 2 pointing to
// an XSDT whose entries are the FADT (when given), an empty SSDT and the MCFG (when
// given), so a reader must look for each table by its signature, as on real
// firmware. The MCFG has one allocation: the given ECAM base for segment 0, buses
// 0-255. The FADT (ACPI 2.0 layout) gives the ACPI I/O base as its PM1a event block
// and the PM timer block 8 above it, in the 32-bit members and the extended ones.
// There is no RSDT (RsdtAddress 0): host addresses do not fit its 32-bit entries.
//
// The tables lie one after the other in 8-byte aligned storage; the XSDT's 64-bit
// entries start at its offset 36 and so are not 8-byte aligned, as on real firmware.
#include <cstring>

#include "host/model_state.h"
#include "uefi/acpi.h"

namespace {

constexpr size_t RsdpOffset = 0;
constexpr size_t XsdtOffset = 40;
constexpr UINT32 MaxXsdtEntries = 3;
constexpr UINT32 SsdtLength = sizeof(ACPI_DESCRIPTION_HEADER);
constexpr UINT32 McfgLength = ACPI_MCFG_ALLOCATIONS_OFFSET + sizeof(ACPI_MCFG_ALLOCATION);
constexpr UINT32 FadtLength = ACPI_FADT_REVISION_2_LENGTH;
static_assert(XsdtOffset >= RsdpOffset + sizeof(ACPI_RSDP));

size_t Align8(size_t Offset) { return (Offset + 7) & ~size_t{7}; }

constexpr UINT8 RsdpRevision = 2;
constexpr UINT32 RsdpV1Length = 20;  // the part the first checksum covers
constexpr UINT8 XsdtRevision = 1;
constexpr UINT8 SsdtRevision = 2;
constexpr UINT8 McfgRevision = 1;
constexpr UINT8 FadtRevision = 4;    // ACPI 2.0 layout
constexpr UINT32 PmTimerOffset = 8;  // PM1_TMR at ABASE + 8
constexpr UINT8 LastBus = 255;

// Makes the bytes of a table sum to zero (mod 256) through its checksum byte.
UINT8 Checksum(const uint8_t *Bytes, size_t Length, size_t ChecksumOffset) {
  UINT8 Sum = 0;
  for (size_t I = 0; I < Length; ++I) {
    if (I != ChecksumOffset) Sum = static_cast<UINT8>(Sum + Bytes[I]);
  }
  return static_cast<UINT8>(0u - Sum);
}

void PutHeader(uint8_t *Table, const char (&Signature)[5], UINT32 Length, UINT8 Revision) {
  ACPI_DESCRIPTION_HEADER Header{};
  std::memcpy(Header.Signature, Signature, 4);
  Header.Length = Length;
  Header.Revision = Revision;
  std::memcpy(Header.OemId, "PCHSIM", 6);
  std::memcpy(Header.OemTableId, "PCHFLASH", 8);
  Header.OemRevision = 1;
  std::memcpy(&Header.CreatorId, "PCHS", 4);
  Header.CreatorRevision = 1;
  std::memcpy(Table, &Header, sizeof(Header));
}

void Seal(uint8_t *Table, UINT32 Length) {
  const size_t At = offsetof(ACPI_DESCRIPTION_HEADER, Checksum);
  Table[At] = Checksum(Table, Length, At);
}

void PutIoBlock(uint8_t *Fadt, UINT32 Offset, UINT32 ExtendedOffset, UINT16 Port, UINT8 Bits) {
  const UINT32 Value = Port;
  std::memcpy(Fadt + Offset, &Value, sizeof(Value));
  ACPI_GENERIC_ADDRESS Block{ACPI_ADDRESS_SPACE_SYSTEM_IO, Bits, 0, 0, Port};
  std::memcpy(Fadt + ExtendedOffset, &Block, sizeof(Block));
}

}  // namespace

void *BuildAcpiTables(HostFirmware::Impl &Model, std::optional<uint64_t> McfgBase,
                      std::optional<uint16_t> FadtBase) {
  const size_t XsdtLengthMax = ACPI_XSDT_ENTRIES_OFFSET + 8 * MaxXsdtEntries;
  const size_t FadtOffset = Align8(XsdtOffset + XsdtLengthMax);
  const size_t SsdtOffset = Align8(FadtOffset + FadtLength);
  const size_t McfgOffset = Align8(SsdtOffset + SsdtLength);
  const size_t AcpiBytes = McfgOffset + McfgLength;
  Model.AcpiStorage.assign((AcpiBytes + 7) / 8, 0);
  uint8_t *Base = reinterpret_cast<uint8_t *>(Model.AcpiStorage.data());
  std::vector<UINT64> Entries;

  if (FadtBase) {
    uint8_t *Fadt = Base + FadtOffset;
    PutHeader(Fadt, "FACP", FadtLength, FadtRevision);
    PutIoBlock(Fadt, ACPI_FADT_PM1A_EVT_BLK_OFFSET, ACPI_FADT_X_PM1A_EVT_BLK_OFFSET, *FadtBase, 32);
    PutIoBlock(Fadt, ACPI_FADT_PM_TMR_BLK_OFFSET, ACPI_FADT_X_PM_TMR_BLK_OFFSET,
               static_cast<UINT16>(*FadtBase + PmTimerOffset), 32);
    Seal(Fadt, FadtLength);
    Entries.push_back(reinterpret_cast<uintptr_t>(Fadt));
  }

  uint8_t *Ssdt = Base + SsdtOffset;
  PutHeader(Ssdt, "SSDT", SsdtLength, SsdtRevision);
  Seal(Ssdt, SsdtLength);
  Entries.push_back(reinterpret_cast<uintptr_t>(Ssdt));

  if (McfgBase) {
    uint8_t *Mcfg = Base + McfgOffset;
    PutHeader(Mcfg, "MCFG", McfgLength, McfgRevision);
    ACPI_MCFG_ALLOCATION Allocation{};
    Allocation.BaseAddress = *McfgBase;
    Allocation.PciSegment = 0;
    Allocation.StartBus = 0;
    Allocation.EndBus = LastBus;
    std::memcpy(Mcfg + ACPI_MCFG_ALLOCATIONS_OFFSET, &Allocation, sizeof(Allocation));
    Seal(Mcfg, McfgLength);
    Entries.push_back(reinterpret_cast<uintptr_t>(Mcfg));
  }

  uint8_t *Xsdt = Base + XsdtOffset;
  const UINT32 XsdtLength = static_cast<UINT32>(ACPI_XSDT_ENTRIES_OFFSET + 8 * Entries.size());
  PutHeader(Xsdt, "XSDT", XsdtLength, XsdtRevision);
  std::memcpy(Xsdt + ACPI_XSDT_ENTRIES_OFFSET, Entries.data(), 8 * Entries.size());
  Seal(Xsdt, XsdtLength);

  ACPI_RSDP Rsdp{};
  std::memcpy(Rsdp.Signature, "RSD PTR ", 8);
  std::memcpy(Rsdp.OemId, "PCHSIM", 6);
  Rsdp.Revision = RsdpRevision;
  Rsdp.RsdtAddress = 0;
  Rsdp.Length = sizeof(ACPI_RSDP);
  Rsdp.XsdtAddress = reinterpret_cast<uintptr_t>(Xsdt);
  uint8_t *RsdpBytes = Base + RsdpOffset;
  std::memcpy(RsdpBytes, &Rsdp, sizeof(Rsdp));
  RsdpBytes[offsetof(ACPI_RSDP, Checksum)] =
      Checksum(RsdpBytes, RsdpV1Length, offsetof(ACPI_RSDP, Checksum));
  RsdpBytes[offsetof(ACPI_RSDP, ExtendedChecksum)] =
      Checksum(RsdpBytes, sizeof(ACPI_RSDP), offsetof(ACPI_RSDP, ExtendedChecksum));
  return RsdpBytes;
}
