// The firmware model's Stall, which waits on the simulated platform's clock, and its
// ACPI tables (RSDP -> XSDT -> MCFG) behind the ACPI 2.0 configuration-table entry.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "host_test_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_platform.h"
#include "uefi/acpi.h"

namespace {

SimPlatform *NewPlatform() {
  SimConfig Config;
  SimConfigDefaults(&Config);
  static const SimAllocator Allocator{[](void *, size_t Size) { return std::malloc(Size); },
                                      [](void *, void *Pointer) { std::free(Pointer); }, nullptr};
  return SimPlatformCreate(&Config, &Allocator);
}

TEST(HostStall, AdvancesTheAttachedPlatformsClockAndSucceeds) {
  HostFirmware Model(HostFirmwareConfig{});
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  SimPlatform *Platform = NewPlatform();
  ASSERT_NE(Platform, nullptr);

  SimBackendAttach(Platform);
  const uint64_t Start = SimTimeNs(Platform);
  EXPECT_EQ(Services->Stall(250), EFI_SUCCESS);
  EXPECT_EQ(SimTimeNs(Platform) - Start, 250000u);
  EXPECT_EQ(Services->Stall(0), EFI_SUCCESS);
  EXPECT_EQ(SimTimeNs(Platform) - Start, 250000u);
  SimBackendAttach(nullptr);

  // Without a platform there is nothing to wait for.
  EXPECT_EQ(Services->Stall(1000000), EFI_SUCCESS);
  EXPECT_EQ(SimTimeNs(Platform) - Start, 250000u);
  EXPECT_EQ(Model.CallCount("Stall"), 3u);
  EXPECT_EQ(Model.UnexpectedCalls(), 0u);
  SimPlatformDestroy(Platform);
}

uint8_t ByteSum(const void *Data, size_t Length) {
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  uint8_t Sum = 0;
  for (size_t I = 0; I < Length; ++I) Sum = static_cast<uint8_t>(Sum + Bytes[I]);
  return Sum;
}

// A table's header, read the way the application must: by copying (members are
// not aligned), checked for its signature and for bytes that sum to zero.
const uint8_t *CheckedTable(uint64_t Address, const char *Signature, ACPI_DESCRIPTION_HEADER *Out) {
  const uint8_t *Table = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(Address));
  std::memcpy(Out, Table, sizeof(*Out));
  EXPECT_EQ(std::string(Out->Signature, 4), Signature);
  EXPECT_GE(+Out->Length, sizeof(ACPI_DESCRIPTION_HEADER));
  EXPECT_EQ(ByteSum(Table, Out->Length), 0) << Signature << " checksum";
  return Table;
}

class HostAcpiTables : public ::testing::TestWithParam<std::optional<uint64_t>> {};

TEST_P(HostAcpiTables, RsdpXsdtAndMcfgAreWellFormedOrAbsent) {
  HostFirmwareConfig Config;
  Config.McfgBase = GetParam();
  Config.FadtBase.reset();  // the FADT alone would keep the ACPI entry
  HostFirmware Model(Config);
  EFI_SYSTEM_TABLE *System = Model.SystemTable();
  const EFI_GUID Acpi20 = EFI_ACPI_20_TABLE_GUID;
  const uint8_t *RsdpBytes = nullptr;
  int Entries = 0;
  for (UINTN I = 0; I < System->NumberOfTableEntries; ++I) {
    if (std::memcmp(&System->ConfigurationTable[I].VendorGuid, &Acpi20, sizeof(Acpi20)) == 0) {
      RsdpBytes = static_cast<const uint8_t *>(System->ConfigurationTable[I].VendorTable);
      ++Entries;
    }
  }
  if (!GetParam()) {
    EXPECT_EQ(Entries, 0);
    return;
  }
  ASSERT_EQ(Entries, 1);
  EXPECT_NE(std::memcmp(&System->ConfigurationTable[0].VendorGuid, &Acpi20, sizeof(Acpi20)), 0)
      << "a search must look past entry 0";

  ACPI_RSDP Rsdp;
  std::memcpy(&Rsdp, RsdpBytes, sizeof(Rsdp));
  EXPECT_EQ(std::string(Rsdp.Signature, 8), "RSD PTR ");
  EXPECT_EQ(+Rsdp.Revision, 2);
  EXPECT_EQ(+Rsdp.Length, sizeof(ACPI_RSDP));
  EXPECT_EQ(ByteSum(RsdpBytes, 20), 0) << "ACPI 1.0 checksum";
  EXPECT_EQ(ByteSum(RsdpBytes, Rsdp.Length), 0) << "extended checksum";

  ACPI_DESCRIPTION_HEADER Xsdt;
  const uint8_t *XsdtBytes = CheckedTable(Rsdp.XsdtAddress, "XSDT", &Xsdt);
  ASSERT_EQ((+Xsdt.Length - ACPI_XSDT_ENTRIES_OFFSET) % 8, 0u);
  int Mcfgs = 0;
  for (UINT32 At = ACPI_XSDT_ENTRIES_OFFSET; At < Xsdt.Length; At += 8) {
    UINT64 Address = 0;
    std::memcpy(&Address, XsdtBytes + At, 8);
    char Signature[5] = {};
    std::memcpy(Signature, reinterpret_cast<const void *>(static_cast<uintptr_t>(Address)), 4);
    if (std::string(Signature) != "MCFG") continue;
    ++Mcfgs;
    ACPI_DESCRIPTION_HEADER Mcfg;
    const uint8_t *McfgBytes = CheckedTable(Address, "MCFG", &Mcfg);
    ASSERT_EQ(+Mcfg.Length, ACPI_MCFG_ALLOCATIONS_OFFSET + sizeof(ACPI_MCFG_ALLOCATION));
    ACPI_MCFG_ALLOCATION Allocation;
    std::memcpy(&Allocation, McfgBytes + ACPI_MCFG_ALLOCATIONS_OFFSET, sizeof(Allocation));
    EXPECT_EQ(+Allocation.BaseAddress, *GetParam());
    EXPECT_EQ(+Allocation.PciSegment, 0);
    EXPECT_EQ(+Allocation.StartBus, 0);
    EXPECT_EQ(+Allocation.EndBus, 255);
  }
  EXPECT_EQ(Mcfgs, 1);
}

INSTANTIATE_TEST_SUITE_P(McfgBases, HostAcpiTables,
                         ::testing::Values(std::optional<uint64_t>(0xE0000000),
                                           std::optional<uint64_t>(0xB0000000),
                                           std::optional<uint64_t>()),
                         [](const ::testing::TestParamInfo<std::optional<uint64_t>> &Info) {
                           char Name[32] = "None";
                           if (Info.param)
                             std::snprintf(Name, sizeof(Name), "At%" PRIX64, *Info.param);
                           return std::string(Name);
                         });

TEST(HostAcpiTables, DefaultIsAnMcfgWhereTheSimulatedPlatformDecodesEcam) {
  EXPECT_EQ(HostFirmwareConfig{}.McfgBase, std::optional<uint64_t>(0xE0000000));
}

}  // namespace
