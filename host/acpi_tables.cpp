// The ACPI tables of the host firmware model, as platform firmware publishes them
// through the ACPI 2.0 configuration-table entry: an RSDP of revision 2 pointing to
// an XSDT whose entries are an empty SSDT and the MCFG (so a reader must look for
// the MCFG by its signature, as on real firmware, where FACP comes first). The MCFG
// has one allocation: the given ECAM base for segment 0, buses 0-255. There is no
// RSDT (RsdtAddress 0): host addresses do not fit its 32-bit entries.
//
// The tables lie one after the other in 8-byte aligned storage; the XSDT's 64-bit
// entries start at its offset 36 and so are not 8-byte aligned, as on real firmware.
#include <cstring>

#include "host/model_state.h"
#include "uefi/acpi.h"

namespace {

constexpr size_t RsdpOffset = 0;
constexpr size_t XsdtOffset = 40;
constexpr UINT32 XsdtEntries = 2;
constexpr UINT32 XsdtLength = ACPI_XSDT_ENTRIES_OFFSET + 8 * XsdtEntries;
constexpr size_t SsdtOffset = 96;
constexpr UINT32 SsdtLength = sizeof(ACPI_DESCRIPTION_HEADER);
constexpr size_t McfgOffset = 136;
constexpr UINT32 McfgLength = ACPI_MCFG_ALLOCATIONS_OFFSET + sizeof(ACPI_MCFG_ALLOCATION);
constexpr size_t AcpiBytes = McfgOffset + McfgLength;
static_assert(XsdtOffset >= RsdpOffset + sizeof(ACPI_RSDP));
static_assert(SsdtOffset >= XsdtOffset + XsdtLength);
static_assert(McfgOffset >= SsdtOffset + SsdtLength);

constexpr UINT8 RsdpRevision = 2;
constexpr UINT32 RsdpV1Length = 20;  // the part the first checksum covers
constexpr UINT8 XsdtRevision = 1;
constexpr UINT8 SsdtRevision = 2;
constexpr UINT8 McfgRevision = 1;
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

}  // namespace

void *BuildAcpiTables(HostFirmware::Impl &Model, uint64_t McfgBase) {
  Model.AcpiStorage.assign((AcpiBytes + 7) / 8, 0);
  uint8_t *Base = reinterpret_cast<uint8_t *>(Model.AcpiStorage.data());

  uint8_t *Mcfg = Base + McfgOffset;
  PutHeader(Mcfg, "MCFG", McfgLength, McfgRevision);
  ACPI_MCFG_ALLOCATION Allocation{};
  Allocation.BaseAddress = McfgBase;
  Allocation.PciSegment = 0;
  Allocation.StartBus = 0;
  Allocation.EndBus = LastBus;
  std::memcpy(Mcfg + ACPI_MCFG_ALLOCATIONS_OFFSET, &Allocation, sizeof(Allocation));
  Seal(Mcfg, McfgLength);

  uint8_t *Ssdt = Base + SsdtOffset;
  PutHeader(Ssdt, "SSDT", SsdtLength, SsdtRevision);
  Seal(Ssdt, SsdtLength);

  uint8_t *Xsdt = Base + XsdtOffset;
  PutHeader(Xsdt, "XSDT", XsdtLength, XsdtRevision);
  const UINT64 Entries[XsdtEntries] = {reinterpret_cast<uintptr_t>(Ssdt),
                                       reinterpret_cast<uintptr_t>(Mcfg)};
  std::memcpy(Xsdt + ACPI_XSDT_ENTRIES_OFFSET, Entries, sizeof(Entries));
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
