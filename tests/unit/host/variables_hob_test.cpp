#include <gtest/gtest.h>

#include <cstring>

#include "host_test_support.h"

namespace {

EFI_STATUS ReadEfiDebug(HostFirmware &Model, UINTN *DataSize, uint8_t *Data, UINT32 *Attributes) {
  CHAR16 Name[] = u"EFIDebug";
  EFI_GUID VariableGuid = EFI_DEBUG_MASK_VARIABLE_GUID;
  return Model.SystemTable()->RuntimeServices->GetVariable(Name, &VariableGuid, Attributes,
                                                           DataSize, Data);
}

// The configuration table entry of a GUID, or null.
void *FindTable(EFI_SYSTEM_TABLE *Table, EFI_GUID Wanted) {
  for (UINTN I = 0; I < Table->NumberOfTableEntries; ++I) {
    if (std::memcmp(&Table->ConfigurationTable[I].VendorGuid, &Wanted, sizeof(Wanted)) == 0) {
      return Table->ConfigurationTable[I].VendorTable;
    }
  }
  return nullptr;
}

struct Hob {
  UINT16 Type;
  UINT16 Length;
  EFI_GUID Name;  // GUID HOBs only
  std::vector<uint8_t> Data;
};

std::vector<Hob> WalkHobs(const void *First) {
  std::vector<Hob> Hobs;
  const uint8_t *At = static_cast<const uint8_t *>(First);
  for (int Guard = 0; Guard < 100; ++Guard) {
    Hob Entry{};
    std::memcpy(&Entry.Type, At, 2);
    std::memcpy(&Entry.Length, At + 2, 2);
    if (Entry.Type == EFI_HOB_TYPE_GUID_EXTENSION) {
      std::memcpy(&Entry.Name, At + 8, sizeof(EFI_GUID));
      Entry.Data.assign(At + 24, At + Entry.Length);
    }
    Hobs.push_back(Entry);
    if (Entry.Type == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      break;
    }
    At += Entry.Length;
  }
  return Hobs;
}

}  // namespace

TEST(HostVariables, EfiDebugMissingTooSmallAndPresentAsOvmfAnswers) {
  {
    HostFirmware Model(HostFirmwareConfig{});
    uint8_t Data[8] = {};
    UINTN Size = 8;
    EXPECT_EQ(ReadEfiDebug(Model, &Size, Data, nullptr), EFI_NOT_FOUND);
    EXPECT_EQ(Size, 8u);
  }
  {
    HostFirmwareConfig Config;
    Config.EfiDebugBytes = std::vector<uint8_t>{0x00, 0x00, 0x40, 0x00, 0, 0, 0, 0};
    HostFirmware Model(Config);
    uint8_t Data[8] = {};
    UINTN Size = 8;
    UINT32 Attributes = 0;
    ASSERT_EQ(ReadEfiDebug(Model, &Size, Data, &Attributes), EFI_SUCCESS);
    EXPECT_EQ(Size, 8u);
    EXPECT_EQ(Attributes, 7u);
    EXPECT_EQ(Data[2], 0x40);
  }
  {
    HostFirmwareConfig Config;
    Config.EfiDebugBytes = std::vector<uint8_t>(12, 0xEE);
    HostFirmware Model(Config);
    uint8_t Data[8] = {};
    UINTN Size = 8;
    EXPECT_EQ(ReadEfiDebug(Model, &Size, Data, nullptr), EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(Size, 12u);
    EXPECT_EQ(Data[0], 0);  // nothing copied
  }
}

TEST(HostVariables, OtherGuidIsNotFoundAndServicesCanBeNotYetAvailable) {
  HostFirmwareConfig Config;
  Config.EfiDebugBytes = std::vector<uint8_t>(8, 1);
  {
    HostFirmware Model(Config);
    CHAR16 Name[] = u"EFIDebug";
    EFI_GUID Global = {
        0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
    uint8_t Data[8];
    UINTN Size = 8;
    EXPECT_EQ(
        Model.SystemTable()->RuntimeServices->GetVariable(Name, &Global, nullptr, &Size, Data),
        EFI_NOT_FOUND);
  }
  Config.VariablesNotAvailableYet = true;
  {
    HostFirmware Model(Config);
    uint8_t Data[8];
    UINTN Size = 8;
    EXPECT_EQ(ReadEfiDebug(Model, &Size, Data, nullptr), EFI_NOT_AVAILABLE_YET);
    EXPECT_EQ(Model.CallCount("GetVariable"), 1u);
  }
}

TEST(HostVariables, GetVariableAboveCallbackLevelIsReported) {
  HostFirmwareConfig Config;
  Config.StartTpl = TPL_NOTIFY;
  HostFirmware Model(Config);
  uint8_t Data[8];
  UINTN Size = 8;
  ReadEfiDebug(Model, &Size, Data, nullptr);
  EXPECT_EQ(Model.UnexpectedCalls(), 1u);
}

TEST(HostHobList, ListFollowsAnUnrelatedTableAndEndsWithTheDebugHob) {
  HostFirmwareConfig Config;
  Config.DebugHob = std::vector<uint8_t>{0x42, 0x00, 0x00, 0x80, 0, 0, 0, 0};
  HostFirmware Model(Config);
  EFI_SYSTEM_TABLE *Table = Model.SystemTable();
  ASSERT_EQ(Table->NumberOfTableEntries, 3u);  // the unrelated table, the HOB list, ACPI
  EFI_GUID HobListGuid = EFI_HOB_LIST_GUID;
  EXPECT_NE(std::memcmp(&Table->ConfigurationTable[0].VendorGuid, &HobListGuid, 16), 0);
  void *List = FindTable(Table, HobListGuid);
  ASSERT_NE(List, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(List) % 8, 0u);

  std::vector<Hob> Hobs = WalkHobs(List);
  ASSERT_GE(Hobs.size(), 3u);
  EXPECT_EQ(Hobs.front().Type, EFI_HOB_TYPE_HANDOFF);
  EXPECT_EQ(Hobs.front().Length, 56);
  EXPECT_EQ(Hobs.back().Type, EFI_HOB_TYPE_END_OF_HOB_LIST);
  EFI_GUID MaskGuid = EFI_DEBUG_MASK_VARIABLE_GUID;
  int Matching = 0;
  for (const Hob &Entry : Hobs) {
    if (Entry.Type == EFI_HOB_TYPE_GUID_EXTENSION &&
        std::memcmp(&Entry.Name, &MaskGuid, sizeof(MaskGuid)) == 0) {
      ++Matching;
      EXPECT_EQ(Entry.Length, 32);
      EXPECT_EQ(Entry.Data, *Config.DebugHob);
    }
  }
  EXPECT_EQ(Matching, 1);
}

TEST(HostHobList, DataSizeIsExactAndTheListCanBeAbsent) {
  HostFirmwareConfig Config;
  Config.DebugHob = std::vector<uint8_t>{1, 2, 3, 4};
  {
    HostFirmware Model(Config);
    std::vector<Hob> Hobs = WalkHobs(FindTable(Model.SystemTable(), Guid(EFI_HOB_LIST_GUID)));
    EFI_GUID MaskGuid = EFI_DEBUG_MASK_VARIABLE_GUID;
    bool Seen = false;
    for (const Hob &Entry : Hobs) {
      if (std::memcmp(&Entry.Name, &MaskGuid, sizeof(MaskGuid)) == 0) {
        Seen = true;
        EXPECT_EQ(Entry.Length, 28);  // not padded to 8: a 4-byte HOB must stay 4 bytes
      }
    }
    EXPECT_TRUE(Seen);
    EXPECT_EQ(Hobs.back().Type, EFI_HOB_TYPE_END_OF_HOB_LIST);
  }
  Config.HobList = false;
  {
    HostFirmware Model(Config);
    EXPECT_EQ(Model.SystemTable()->NumberOfTableEntries, 2u);  // the unrelated table, ACPI
    EXPECT_EQ(FindTable(Model.SystemTable(), Guid(EFI_HOB_LIST_GUID)), nullptr);
  }
}
