// The firmware view pchflash-sim.efi hands the application, built over tables laid
// out as q35's firmware has them (an MCFG at 0xB0000000 among other tables), and
// walked by the application's own ACPI code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/acpi_tables.h"
#include "base/firmware.h"
#include "sim/efi/firmware_view.h"
#include "uefi/acpi.h"

namespace {

uint8_t Sum(const void *Data, size_t Length) {
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  uint8_t Total = 0;
  for (size_t I = 0; I < Length; I++) Total = static_cast<uint8_t>(Total + Bytes[I]);
  return Total;
}

uint32_t Crc32(const void *Data, size_t Length) {
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  uint32_t Crc = 0xFFFFFFFFu;
  for (size_t I = 0; I < Length; ++I) {
    Crc ^= Bytes[I];
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
  }
  return ~Crc;
}

bool HeaderSealed(const EFI_TABLE_HEADER *Header) {
  std::vector<uint8_t> Copy(Header->HeaderSize);
  std::memcpy(Copy.data(), Header, Copy.size());
  reinterpret_cast<EFI_TABLE_HEADER *>(Copy.data())->CRC32 = 0;
  return Crc32(Copy.data(), Copy.size()) == Header->CRC32;
}

std::vector<uint8_t> Table(const char *Signature, uint32_t Length) {
  std::vector<uint8_t> Bytes(Length, 0);
  std::memcpy(Bytes.data(), Signature, 4);
  std::memcpy(Bytes.data() + 4, &Length, 4);
  return Bytes;
}

EFI_STATUS EFIAPI RealStall(UINTN) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI SimulatedStall(UINTN) { return EFI_SUCCESS; }

std::vector<void *> gAllocations;
VOID *Allocate(UINTN Bytes) {
  gAllocations.push_back(std::malloc(Bytes));
  return gAllocations.back();
}

// The real firmware: a HOB list entry, an ACPI 2.0 entry whose XSDT lists a FACP,
// an MCFG at 0xB0000000 and an APIC (entries unaligned, as at offset 36), and a
// third entry.
class RealFirmware {
 public:
  explicit RealFirmware(bool WithAcpi = true) {
    Facp = Table("FACP", 64);
    Apic = Table("APIC", 48);
    Mcfg = Table("MCFG", ACPI_MCFG_ALLOCATIONS_OFFSET + sizeof(ACPI_MCFG_ALLOCATION));
    ACPI_MCFG_ALLOCATION Allocation{0xB0000000, 0, 0, 0xFF, 0};
    std::memcpy(Mcfg.data() + ACPI_MCFG_ALLOCATIONS_OFFSET, &Allocation, sizeof(Allocation));
    Xsdt = Table("XSDT", ACPI_XSDT_ENTRIES_OFFSET + 3 * 8);
    const uint64_t Entries[3] = {reinterpret_cast<uint64_t>(Facp.data()),
                                 reinterpret_cast<uint64_t>(Mcfg.data()),
                                 reinterpret_cast<uint64_t>(Apic.data())};
    std::memcpy(Xsdt.data() + ACPI_XSDT_ENTRIES_OFFSET, Entries, sizeof(Entries));
    std::memset(&Rsdp, 0, sizeof(Rsdp));
    std::memcpy(Rsdp.Signature, "RSD PTR ", 8);
    Rsdp.Revision = 2;
    Rsdp.XsdtAddress = reinterpret_cast<uint64_t>(Xsdt.data());

    Entries_.push_back({EFI_HOB_LIST_GUID, &Hob});
    if (WithAcpi) Entries_.push_back({EFI_ACPI_20_TABLE_GUID, &Rsdp});
    Entries_.push_back({EFI_SHELL_PROTOCOL_GUID, &Other});
    std::memset(&Services, 0, sizeof(Services));
    Services.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
    Services.Hdr.HeaderSize = sizeof(Services);
    Services.Stall = RealStall;
    std::memset(&System, 0, sizeof(System));
    System.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
    System.Hdr.HeaderSize = sizeof(System);
    System.BootServices = &Services;
    System.NumberOfTableEntries = Entries_.size();
    System.ConfigurationTable = Entries_.data();
    XsdtBefore = Xsdt;
    McfgBefore = Mcfg;
  }

  // What the application's walk finds with the view as its system table.
  EFI_STATUS EcamBaseSeen(const SimEfiFirmwareView &View, UINT64 *Base) {
    const FirmwareEnvironment Saved = gFirmware;
    gFirmware.SystemTable = View.SystemTable;
    const EFI_STATUS Status = AcpiFindEcamBase(Base);
    gFirmware = Saved;
    return Status;
  }

  std::vector<uint8_t> Facp, Apic, Mcfg, Xsdt, XsdtBefore, McfgBefore;
  ACPI_RSDP Rsdp;
  uint64_t Hob = 0, Other = 0;
  std::vector<EFI_CONFIGURATION_TABLE> Entries_;
  EFI_BOOT_SERVICES Services;
  EFI_SYSTEM_TABLE System;
};

const ACPI_RSDP *RsdpOf(const EFI_SYSTEM_TABLE *Table) {
  const EFI_GUID Acpi20 = EFI_ACPI_20_TABLE_GUID;
  for (UINTN I = 0; I < Table->NumberOfTableEntries; I++) {
    if (std::memcmp(&Table->ConfigurationTable[I].VendorGuid, &Acpi20, sizeof(EFI_GUID)) == 0) {
      return static_cast<const ACPI_RSDP *>(Table->ConfigurationTable[I].VendorTable);
    }
  }
  return nullptr;
}

class FirmwareView : public ::testing::Test {
 protected:
  void TearDown() override {
    for (void *Block : gAllocations) std::free(Block);
    gAllocations.clear();
  }
};

}  // namespace

// The application finds the simulated platform's ECAM base; every other entry,
// every other ACPI table and every other service is the real one, the real tables
// are untouched, and every checksum and CRC of what was built holds.
TEST_F(FirmwareView, ApplicationSeesTheSimulatedEcamBaseAndOtherwiseTheRealFirmware) {
  RealFirmware Real;
  SimEfiFirmwareView View;
  ASSERT_EQ(
      SimEfiBuildFirmwareView(&Real.System, TRUE, 0xE0000000, SimulatedStall, Allocate, &View),
      EFI_SUCCESS);
  UINT64 Base = 0;
  ASSERT_EQ(Real.EcamBaseSeen(View, &Base), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xE0000000u);

  const EFI_SYSTEM_TABLE *Table = View.SystemTable;
  ASSERT_EQ(Table->NumberOfTableEntries, 3u);
  EXPECT_EQ(Table->ConfigurationTable[0].VendorTable, &Real.Hob);
  EXPECT_EQ(Table->ConfigurationTable[2].VendorTable, &Real.Other);
  EXPECT_TRUE(HeaderSealed(&Table->Hdr));
  EXPECT_EQ(Table->BootServices->Stall, SimulatedStall);
  EXPECT_TRUE(HeaderSealed(&Table->BootServices->Hdr));
  EXPECT_EQ(Real.System.BootServices->Stall, RealStall);

  const ACPI_RSDP *Rsdp = RsdpOf(Table);
  ASSERT_NE(Rsdp, nullptr);
  EXPECT_NE(Rsdp, &Real.Rsdp);
  EXPECT_EQ(Sum(Rsdp, 20), 0);
  EXPECT_EQ(Sum(Rsdp, sizeof(ACPI_RSDP)), 0);
  const uint8_t *Xsdt = reinterpret_cast<const uint8_t *>(Rsdp->XsdtAddress);
  uint32_t Length = 0;
  std::memcpy(&Length, Xsdt + 4, 4);
  ASSERT_EQ(Length, ACPI_XSDT_ENTRIES_OFFSET + 3 * 8);
  EXPECT_EQ(Sum(Xsdt, Length), 0);
  uint64_t Entries[3];
  std::memcpy(Entries, Xsdt + ACPI_XSDT_ENTRIES_OFFSET, sizeof(Entries));
  EXPECT_EQ(Entries[0], reinterpret_cast<uint64_t>(Real.Facp.data()));
  EXPECT_EQ(Entries[1], reinterpret_cast<uint64_t>(Real.Apic.data()));
  const uint8_t *Mcfg = reinterpret_cast<const uint8_t *>(Entries[2]);
  EXPECT_EQ(std::memcmp(Mcfg, "MCFG", 4), 0);
  std::memcpy(&Length, Mcfg + 4, 4);
  EXPECT_EQ(Sum(Mcfg, Length), 0);

  EXPECT_EQ(Real.Xsdt, Real.XsdtBefore);
  EXPECT_EQ(Real.Mcfg, Real.McfgBefore);
  EXPECT_EQ(Real.System.ConfigurationTable[1].VendorTable, &Real.Rsdp);
}

// --mcfg as pchflash-sim takes it: another base, no ACPI tables at all, and an
// ACPI entry added where the real firmware has none.
TEST_F(FirmwareView, McfgOptionPlacesTheBaseRemovesTheTablesOrAddsThem) {
  RealFirmware Real;
  SimEfiFirmwareView View;
  UINT64 Base = 0;
  ASSERT_EQ(SimEfiBuildFirmwareView(&Real.System, TRUE, 0xB0000000, nullptr, Allocate, &View),
            EFI_SUCCESS);
  ASSERT_EQ(Real.EcamBaseSeen(View, &Base), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xB0000000u);
  EXPECT_EQ(View.SystemTable->BootServices, &Real.Services);

  ASSERT_EQ(SimEfiBuildFirmwareView(&Real.System, FALSE, 0, nullptr, Allocate, &View), EFI_SUCCESS);
  EXPECT_EQ(Real.EcamBaseSeen(View, &Base), EFI_NOT_FOUND);
  EXPECT_EQ(View.SystemTable->NumberOfTableEntries, 2u);
  EXPECT_EQ(RsdpOf(View.SystemTable), nullptr);

  RealFirmware NoAcpi(false);
  ASSERT_EQ(SimEfiBuildFirmwareView(&NoAcpi.System, TRUE, 0xE0000000, nullptr, Allocate, &View),
            EFI_SUCCESS);
  EXPECT_EQ(View.SystemTable->NumberOfTableEntries, 3u);
  ASSERT_EQ(NoAcpi.EcamBaseSeen(View, &Base), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xE0000000u);
}

// --fadt as pchflash-sim.efi takes it: a patched copy of the real FADT naming the
// simulated ACPI base in both its 32-bit and extended blocks, or no FADT at all;
// the real FADT is never changed.
TEST_F(FirmwareView, FadtOptionPatchesACopyOfTheRealFadtOrLeavesItOut) {
  RealFirmware Real;
  const std::vector<uint8_t> RealFadtBefore = Real.Facp;
  SimEfiFirmwareView View;
  auto BlocksSeen = [&](UINT16 *Event, UINT16 *Timer) {
    const FirmwareEnvironment Saved = gFirmware;
    gFirmware.SystemTable = View.SystemTable;
    const EFI_STATUS Status = AcpiFindPmBlocks(Event, Timer);
    gFirmware = Saved;
    return Status;
  };
  for (BOOLEAN Mcfg : {TRUE, FALSE}) {
    ASSERT_EQ(SimEfiBuildFirmwareView(&Real.System, Mcfg, 0xE0000000, nullptr, Allocate, &View,
                                      SimEfiFadtPatched, 0x1800),
              EFI_SUCCESS);
    UINT16 Event = 0;
    UINT16 Timer = 0;
    ASSERT_EQ(BlocksSeen(&Event, &Timer), EFI_SUCCESS);
    EXPECT_EQ(Event, 0x1800);
    EXPECT_EQ(Timer, 0x1808);
    UINT64 Base = 0;
    EXPECT_EQ(Real.EcamBaseSeen(View, &Base), Mcfg ? EFI_SUCCESS : EFI_NOT_FOUND);
  }
  EXPECT_TRUE(Real.Facp == RealFadtBefore);

  ASSERT_EQ(SimEfiBuildFirmwareView(&Real.System, TRUE, 0xE0000000, nullptr, Allocate, &View,
                                    SimEfiFadtNone, 0),
            EFI_SUCCESS);
  UINT16 Event = 0;
  UINT16 Timer = 0;
  EXPECT_EQ(BlocksSeen(&Event, &Timer), EFI_NOT_FOUND);
}
