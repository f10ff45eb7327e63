// The debug-mask protocol: where its starting value comes from, its two
// functions, its lifetime on the image handle, and the hand-off block walk.
#include "shell/debug_mask.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/firmware.h"
#include "support/app_run.h"

namespace {

const EFI_GUID DebugMaskProtocol = EFI_DEBUG_MASK_PROTOCOL_GUID;
const EFI_GUID DebugMaskVariable = EFI_DEBUG_MASK_VARIABLE_GUID;

// A run that stops at the argument check still publishes and withdraws the protocol.
std::optional<uint32_t> MaskOfRun(HostFirmwareConfig Config) {
  AppRun Run = RunApp({}, std::move(Config));
  EXPECT_EQ(Run.Console,
            "Error. Too few arguments specified.\r\nUsage: pchflash -r FILE (save the BIOS window "
            "to a new file) | -w FILE (write an 8 MiB or whole-flash image, then reset)\r\n");
  EXPECT_EQ(Run.PoolOutstanding, 0u);
  EXPECT_EQ(Run.Firmware->InstalledInterface(Run.Firmware->ImageHandle(), DebugMaskProtocol),
            nullptr)
      << "the protocol must be gone when the application returns";
  return Run.Firmware->DebugMask();
}

TEST(DebugMaskStart, ComesFromTheVariableOrKeepsTheDefault) {
  struct Case {
    const char *What;
    std::optional<std::vector<uint8_t>> Variable;
    uint32_t Expected;
  };
  const Case Cases[] = {
      {"no variable", std::nullopt, 0x80000042},
      {"8 bytes", std::vector<uint8_t>{0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x400000},
      {"upper half ignored", std::vector<uint8_t>{0x07, 0, 0, 0, 0x55, 0x55, 0x55, 0x55}, 7},
      {"4 bytes", std::vector<uint8_t>{0x00, 0x00, 0x40, 0x00}, 0x400000},
      {"too large for the buffer", std::vector<uint8_t>(12, 0x11), 0x80000042},
  };
  for (const Case &C : Cases) {
    HostFirmwareConfig Config;
    Config.EfiDebugBytes = C.Variable;
    EXPECT_EQ(MaskOfRun(Config), C.Expected) << C.What;
  }
}

TEST(DebugMaskStart, FallsBackToTheHandOffBlockWhileVariablesAreNotUp) {
  struct Case {
    const char *What;
    std::optional<std::vector<uint8_t>> Hob;
    bool HobList;
    uint32_t Expected;
  };
  const Case Cases[] = {
      {"8 data bytes", std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11, 0xAA, 0xBB, 0xCC, 0xDD}, true,
       0x11223344},
      {"4 data bytes are ignored", std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}, true, 0x80000042},
      {"no such block", std::nullopt, true, 0x80000042},
      {"no list at all", std::nullopt, false, 0x80000042},
  };
  for (const Case &C : Cases) {
    HostFirmwareConfig Config;
    Config.VariablesNotAvailableYet = true;
    Config.EfiDebugBytes = std::vector<uint8_t>{0x01, 0, 0, 0, 0, 0, 0, 0};
    Config.DebugHob = C.Hob;
    Config.HobList = C.HobList;
    EXPECT_EQ(MaskOfRun(Config), C.Expected) << C.What;
  }
}

TEST(DebugMaskStart, VariableServicesAreNotCalledAboveCallbackLevel) {
  HostFirmwareConfig Config;
  Config.StartTpl = TPL_NOTIFY;
  Config.EfiDebugBytes = std::vector<uint8_t>{0x07, 0, 0, 0, 0, 0, 0, 0};
  AppRun Run = RunApp({}, Config);
  EXPECT_EQ(Run.Firmware->CallCount("GetVariable"), 0u);
  EXPECT_EQ(Run.Firmware->DebugMask(), 0x80000042u);
  EXPECT_EQ(Run.Firmware->CurrentTpl(), TPL_NOTIFY) << "the level is learnt, not changed";
}

class DebugMaskProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Firmware = std::make_unique<HostFirmware>(HostFirmwareConfig{});
    gFirmware = {Firmware->ImageHandle(), Firmware->SystemTable(),
                 Firmware->SystemTable()->BootServices};
  }
  void TearDown() override { gFirmware = {}; }

  std::unique_ptr<HostFirmware> Firmware;
};

TEST_F(DebugMaskProtocolTest, LivesOnTheImageHandleFromPublishToWithdraw) {
  PublishDebugMask(Firmware->ImageHandle());
  auto *Protocol = static_cast<EFI_DEBUG_MASK_PROTOCOL *>(
      Firmware->InstalledInterface(Firmware->ImageHandle(), DebugMaskProtocol));
  ASSERT_NE(Protocol, nullptr);
  EXPECT_EQ(Protocol->Revision, 0x00010000);

  UINTN Mask = 0;
  EXPECT_EQ(Protocol->GetDebugMask(Protocol, &Mask), EFI_SUCCESS);
  EXPECT_EQ(Mask, 0x80000042u);
  EXPECT_EQ(Protocol->SetDebugMask(Protocol, 0x1234567800000007ULL), EFI_SUCCESS);
  EXPECT_EQ(Protocol->GetDebugMask(Protocol, &Mask), EFI_SUCCESS);
  EXPECT_EQ(Mask, 7u) << "only the low 32 bits are kept";
  EXPECT_EQ(Protocol->GetDebugMask(Protocol, nullptr), EFI_INVALID_PARAMETER);

  WithdrawDebugMask(Firmware->ImageHandle());
  EXPECT_EQ(Firmware->InstalledInterface(Firmware->ImageHandle(), DebugMaskProtocol), nullptr);
  EXPECT_EQ(Firmware->UnexpectedCalls(), 0u);
}

TEST_F(DebugMaskProtocolTest, ConfigurationTableLookupClearsTheResultWhenNothingMatches) {
  EFI_GUID Unknown = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  VOID *Table = &Unknown;
  EXPECT_EQ(FindConfigurationTable(&Unknown, &Table), EFI_NOT_FOUND);
  EXPECT_EQ(Table, nullptr);

  EFI_GUID HobListGuid = EFI_HOB_LIST_GUID;
  EXPECT_EQ(FindConfigurationTable(&HobListGuid, &Table), EFI_SUCCESS);
  EXPECT_NE(Table, nullptr);
  LocateHobList();
  EXPECT_EQ(HobList, Table);
}

// A hand-built list: HOBs of other types and GUIDs come before the one sought.
class HobListBuilder {
 public:
  void Add(uint16_t Type, uint16_t Length, const EFI_GUID *Name = nullptr) {
    size_t At = Bytes.size();
    Bytes.resize(At + Length, 0);
    std::memcpy(&Bytes[At], &Type, 2);
    std::memcpy(&Bytes[At + 2], &Length, 2);
    if (Name != nullptr) {
      std::memcpy(&Bytes[At + 8], Name, sizeof(EFI_GUID));
    }
    Offsets.push_back(At);
  }
  VOID *At(size_t Index) { return Bytes.data() + Offsets[Index]; }
  std::vector<uint8_t> Bytes;
  std::vector<size_t> Offsets;
};

TEST(HobWalk, FindsTheFirstGuidExtensionOfThatName) {
  EFI_GUID Other = DebugMaskProtocol;
  HobListBuilder List;
  List.Add(EFI_HOB_TYPE_HANDOFF, 56);
  List.Add(EFI_HOB_TYPE_GUID_EXTENSION, 32, &Other);
  List.Add(0x0003, 24, &DebugMaskVariable);  // same bytes, other type
  List.Add(EFI_HOB_TYPE_GUID_EXTENSION, 32, &DebugMaskVariable);
  List.Add(EFI_HOB_TYPE_GUID_EXTENSION, 28, &DebugMaskVariable);
  List.Add(EFI_HOB_TYPE_END_OF_HOB_LIST, 8);
  EXPECT_EQ(FindGuidHob(&DebugMaskVariable, List.At(0)), List.At(3));
  EXPECT_EQ(FindGuidHob(&DebugMaskVariable, List.At(4)), List.At(4));
  EXPECT_EQ(FindGuidHob(&DebugMaskVariable, List.At(5)), nullptr);
}

TEST(HobWalk, AHobShorterThanItsHeaderEndsTheWalk) {
  HobListBuilder List;
  List.Add(EFI_HOB_TYPE_HANDOFF, 8);
  List.Add(0x0002, 8);
  List.Add(EFI_HOB_TYPE_GUID_EXTENSION, 32, &DebugMaskVariable);
  List.Add(EFI_HOB_TYPE_END_OF_HOB_LIST, 8);
  uint16_t Zero = 0;
  std::memcpy(static_cast<uint8_t *>(List.At(1)) + 2, &Zero, 2);
  EXPECT_EQ(FindGuidHob(&DebugMaskVariable, List.At(0)), nullptr)
      << "a zero length would otherwise walk in place for ever";
}

TEST(HobWalk, NoListFindsNothing) {
  HobList = nullptr;
  EXPECT_EQ(FindFirstGuidHob(&DebugMaskVariable), nullptr);
}

}  // namespace
