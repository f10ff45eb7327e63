// Every condition under which the controller refuses a programmed cycle: the
// cycle ends with FCERR (and AEL for an access violation) and no flash byte changes.
#include <cstring>
#include <string>

#include "sim_harness.h"

using namespace simtest;

namespace {

constexpr uint32_t FLMSTR1_OFFSET = 0x80;  // in the generated descriptor

// The generated image with FLMSTR1 replaced: how a board's own descriptor looks.
std::vector<uint8_t> ImageWithFlmstr1(uint32_t Flmstr1) {
  SimConfig Config;
  SimConfigDefaults(&Config);
  std::vector<uint8_t> Image(SimConfigFlashSize(&Config));
  SimGenerateImage(&Config, Image.data());
  std::memcpy(Image.data() + FLMSTR1_OFFSET, &Flmstr1, 4);
  return Image;
}

struct BlockedCase {
  std::string Name;
  ConfigTweak Tweak;
  uint32_t Flmstr1;   // 0: the generated image; else its FLMSTR1 replaced
  bool EnableWrites;  // SMIs off and BIOSWE set first, as a careful driver does
  uint32_t Cycle;
  uint32_t Address;
  uint32_t Count;
  bool AccessViolation;  // AEL expected
};

std::vector<BlockedCase> Cases() {
  std::vector<BlockedCase> C;
  C.push_back({"NoDescriptorRead", [](SimConfig &S) { S.NoDescriptor = true; }, 0, false,
               CYCLE_READ, 0x800000, 64, false});
  C.push_back({"NoDescriptorWrite", [](SimConfig &S) { S.NoDescriptor = true; }, 0, true,
               CYCLE_WRITE, 0x800000, 64, false});
  C.push_back({"NoDescriptorJedecId", [](SimConfig &S) { S.NoDescriptor = true; }, 0, false,
               CYCLE_JEDEC_ID, 0, 3, false});
  C.push_back({"ReadRunningPastFlashEnd", {}, {}, false, CYCLE_READ, 0xFFFFC8, 64, false});
  C.push_back({"EraseBeyondFlash", {}, {}, true, CYCLE_ERASE_4K, 0x1000000, 1, false});
  C.push_back({"WriteBeyondFlash", {}, {}, true, CYCLE_WRITE, 0x1800000, 16, false});
  C.push_back({"ReservedCycleType", {}, {}, true, 0x1, 0x800000, 64, false});
  C.push_back({"LockedDescriptorWriteToMe", [](SimConfig &S) { S.LockedDescriptor = true; }, 0,
               true, CYCLE_WRITE, 0x2000, 64, true});
  C.push_back({"LockedDescriptorEraseOfDescriptor", [](SimConfig &S) { S.LockedDescriptor = true; },
               0, true, CYCLE_ERASE_4K, 0x0, 1, true});
  C.push_back(
      {"FrapReadOfMeRegionWithoutGrant", {}, 0x00A00B00, false, CYCLE_READ, 0x7FFFF8, 16, true});
  C.push_back({"ProtectedRangeWrite",
               [](SimConfig &S) {
                 S.Protect[0] = {0x900000, 0x90FFFF};
                 S.ProtectCount = 1;
               },
               0, true, CYCLE_WRITE, 0x90FFC0, 64, true});
  C.push_back({"ProtectedRangeErase64k",
               [](SimConfig &S) {
                 S.Protect[0] = {0x905000, 0x905FFF};
                 S.ProtectCount = 1;
               },
               0, true, CYCLE_ERASE_64K, 0x900000, 1, true});
  C.push_back({"ReadProtectedRangeRead",
               [](SimConfig &S) {
                 S.ProtectRead[0] = {0x900000, 0x900FFF};
                 S.ProtectReadCount = 1;
               },
               0, false, CYCLE_READ, 0x8FFFF8, 16, true});
  C.push_back({"BiosWriteWithBioswClear", {}, {}, false, CYCLE_WRITE, 0x800000, 64, true});
  C.push_back({"BiosEraseWithBioswClear", {}, {}, false, CYCLE_ERASE_64K, 0xFF0000, 1, true});
  C.push_back({"BiosWriteWithEiss", [](SimConfig &S) { S.Eiss = true; }, 0, true, CYCLE_WRITE,
               0x800000, 64, true});
  C.push_back({"BiosEraseWithEiss", [](SimConfig &S) { S.Eiss = true; }, 0, true, CYCLE_ERASE_4K,
               0x801000, 1, true});
  // M25PE80 has a 256-byte page erase, no 4 KiB erase: firmware leaves EO_4K invalid.
  C.push_back({"Erase4kNotValidInVscc",
               [](SimConfig &S) { S.ChipIndex = SimFindChipByName("M25PE80"); }, 0, true,
               CYCLE_ERASE_4K, 0x80000, 1, false});
  C.push_back({"Erase4kNotValidOn64kOnlyPart",
               [](SimConfig &S) { S.ChipIndex = SimFindChipByName("N25Q128A13"); }, 0, true,
               CYCLE_ERASE_4K, 0x800000, 1, false});
  C.push_back({"Erase64kNotValidOnPartWithout64kErase",
               [](SimConfig &S) { S.ChipIndex = SimFindChipByName("25LF040A"); }, 0, true,
               CYCLE_ERASE_64K, 0x40000, 1, false});
  return C;
}

class BlockedCycle : public ::testing::TestWithParam<BlockedCase> {};

TEST_P(BlockedCycle, EndsWithFcerrAndChangesNoFlashByte) {
  const BlockedCase &Case = GetParam();
  // Built here, not with the cases: every test process registers all of them.
  std::vector<uint8_t> Image;
  if (Case.Flmstr1 != 0) Image = ImageWithFlmstr1(Case.Flmstr1);
  Platform P(Case.Tweak, Image.empty() ? nullptr : &Image);
  ASSERT_TRUE(P);
  if (Case.EnableWrites) P.EnableWrites();
  P.PutData(std::vector<uint8_t>(64, 0x00));  // a write would clear every bit it reaches
  const std::vector<uint8_t> Before = P.Flash();

  const uint32_t Status = P.HwCycle(Case.Cycle, Case.Address, Case.Count);

  EXPECT_EQ(Status & SCIP, 0u);
  EXPECT_NE(Status & FCERR, 0u);
  EXPECT_EQ(Status & FDONE, 0u);
  EXPECT_EQ((Status & AEL) != 0, Case.AccessViolation);
  EXPECT_EQ(P.Counters().HwCyclesFailed, 1u);
  EXPECT_EQ(P.Counters().FlashModifyingCycles, 0u);
  EXPECT_TRUE(P.Flash() == Before);
  EXPECT_EQ(SimErasedRangeCount(P.Get()) + SimProgrammedRangeCount(P.Get()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Conditions, BlockedCycle, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<BlockedCase> &Info) {
                           return Info.param.Name;
                         });

// The same cycles succeed when the condition is absent, so the cases above fail
// for their stated reason and not for a harness fault.
TEST(BlockedCycleControls, TheSameCyclesRunWhenAllowed) {
  Platform P;
  P.EnableWrites();
  P.PutData(std::vector<uint8_t>(64, 0x00));
  EXPECT_EQ(P.HwCycle(CYCLE_WRITE, 0x800000, 64) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_ERASE_4K, 0x801000, 1) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_ERASE_64K, 0xFF0000, 1) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_WRITE, 0x2000, 64) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.HwCycle(CYCLE_READ, 0xFFFFC0, 64) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.Counters().HwCyclesFailed, 0u);
}

TEST(BlockedCycleControls, ProtectedRangeForWritesStillAllowsReads) {
  Platform P([](SimConfig &S) {
    S.Protect[0] = {0x900000, 0x90FFFF};
    S.ProtectCount = 1;
  });
  EXPECT_EQ(P.HwCycle(CYCLE_READ, 0x900000, 64) & (FDONE | FCERR), FDONE);
}

TEST(BlockedCycleControls, ReadProtectedRangeStillAllowsWrites) {
  Platform P([](SimConfig &S) {
    S.ProtectRead[0] = {0x900000, 0x900FFF};
    S.ProtectReadCount = 1;
  });
  P.EnableWrites();
  P.PutData(std::vector<uint8_t>(8, 0x00));
  EXPECT_EQ(P.HwCycle(CYCLE_WRITE, 0x900000, 8) & (FDONE | FCERR), FDONE);
}

TEST(BlockedCycleControls, ProtectedRangeRegistersAreLockedByFirmware) {
  Platform P([](SimConfig &S) {
    S.Protect[0] = {0x900000, 0x90FFFF};
    S.ProtectCount = 1;
  });
  const uint32_t Pr0 = P.Spi(PR0);
  EXPECT_EQ(Pr0, 0x80000000u | (0x90Fu << 16) | 0x900u);  // WPE, limit 0x90F, base 0x900
  P.SpiWrite(PR0, 0);
  EXPECT_EQ(P.Spi(PR0), Pr0);
}

TEST(CycleWhileRunning, SecondStartIsRefusedAndTheFirstCompletes) {
  Platform P;
  P.EnableWrites();
  const std::vector<uint8_t> Before = P.Flash();
  P.SpiWrite(FADDR, 0x801000);
  P.SpiWrite(HSFSTS, (CYCLE_ERASE_4K << 17) | FGO);
  ASSERT_NE(P.Spi(HSFSTS) & SCIP, 0u);
  P.PutData(std::vector<uint8_t>(64, 0x00));
  P.SpiWrite(FADDR, 0x900000);
  P.SpiWrite(HSFSTS, (63u << 24) | (CYCLE_WRITE << 17) | FGO);
  EXPECT_NE(P.Spi(HSFSTS) & FCERR, 0u);
  const uint32_t Status = P.WaitHw();
  EXPECT_EQ(Status & (FDONE | FCERR), FDONE | FCERR);
  const std::vector<uint8_t> After = P.Flash();
  for (uint32_t A = 0x900000; A < 0x900040; A++) ASSERT_EQ(After[A], Before[A]);
  for (uint32_t A = 0x801000; A < 0x802000; A++) ASSERT_EQ(After[A], 0xFF);
}

TEST(SoftwareSequencingBlocked, WriteOpcodeInBiosRegionNeedsBiosWriteEnable) {
  Platform P;
  const std::vector<uint8_t> Before = P.Flash();
  P.SpiWrite(FDATA, 0x00, 8);
  // Firmware menu slot 1 is PP (write with address), prefix 0 is WREN.
  const uint8_t Status = P.SwCycle(1, 0x800000, true, 1);
  EXPECT_NE(Status & 0x08, 0);  // FCERR
  EXPECT_NE(Status & 0x10, 0);  // AEL
  EXPECT_EQ(P.Counters().SwCyclesFailed, 1u);
  EXPECT_TRUE(P.Flash() == Before);

  P.EnableWrites();
  EXPECT_EQ(P.SwCycle(1, 0x800000, true, 1) & 0x0C, 0x04);  // FDONE
  EXPECT_EQ(P.Flash()[0x800000], 0x00);
}

TEST(SoftwareSequencingBlocked, ProtectedRangeRefusesEraseOpcode) {
  Platform P([](SimConfig &S) {
    S.NoDescriptor = true;  // software sequencing works without a descriptor
    S.Protect[0] = {0x100000, 0x1FFFFF};
    S.ProtectCount = 1;
  });
  const std::vector<uint8_t> Before = P.Flash();
  // Slot 4 of the firmware menu is the 4 KiB sector erase.
  EXPECT_NE(P.SwCycle(4, 0x180000, true, 0) & 0x08, 0);
  EXPECT_TRUE(P.Flash() == Before);
  EXPECT_EQ(P.SwCycle(4, 0x080000, true, 0) & 0x0C, 0x04);
  EXPECT_EQ(P.Flash()[0x080000], 0xFF);
}

}  // namespace
