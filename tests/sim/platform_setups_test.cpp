// Platform set-ups of shipped boards against the hardware facts: the global
// protected range GPR0, a chip whose block-protect bits are set, FLOCKDN, a stopped
// PM timer, and the production shorthand that combines the locks.
#include <ostream>
#include <string>

#include "sim/regs/spi_mmio.h"
#include "sim_harness.h"

using namespace simtest;

namespace {

constexpr uint32_t GPR0 = 0x98;
constexpr uint32_t FLOCKDN = 1u << 15;
constexpr uint32_t VSCC_VCL = 1u << 30;
constexpr uint64_t GEN_PMCON_A = PMC_CFG + 0xA0;
constexpr uint32_t GEN_PMCON_A_SMI_LOCK = 1u << 4;

// Slots of the opcode menu firmware leaves (WRSR, PP, READ, RDSR, SE, RDID, BE, FAST READ).
constexpr uint32_t SLOT_PP = 1;
constexpr uint32_t SLOT_RDSR = 3;
constexpr uint32_t SLOT_SE = 4;

void Gpr0At904000(SimConfig &S) {
  S.Gpr0Enabled = true;
  S.Gpr0 = {0x904000, 0x904FFF};
}
void ChipProtect(SimConfig &S) { S.ChipProtect = true; }
void Flockdn(SimConfig &S) { S.Flockdn = true; }
void Production(SimConfig &S) { SimConfigProduction(&S); }

// ---- Program and erase cycles on each set-up -------------------------------------

enum class Sequencing { Hardware, Software };
enum class Outcome { Done, Refused };  // Refused: FCERR with AEL, the cycle never reaches the chip

struct CycleCase {
  std::string Name;
  ConfigTweak Tweak;
  Sequencing By;
  uint32_t Cycle;  // hardware: FCYCLE; software: slot of the firmware menu (atomic, WREN prefix)
  uint32_t Address;
  uint32_t Count;  // data bytes; 0 for an erase
  Outcome Expected;
  bool FlashChanges;
};

std::vector<CycleCase> CycleCases() {
  const auto Hw = Sequencing::Hardware;
  const auto Sw = Sequencing::Software;
  return {
      // GPR0 0x904000-0x904FFF refuses writes and erases that overlap it, like a PRn.
      {"Gpr0HwWriteInside", Gpr0At904000, Hw, CYCLE_WRITE, 0x904F00, 64, Outcome::Refused, false},
      {"Gpr0HwWriteAcrossItsBase", Gpr0At904000, Hw, CYCLE_WRITE, 0x903FF0, 64, Outcome::Refused,
       false},
      {"Gpr0HwErase64kAroundIt", Gpr0At904000, Hw, CYCLE_ERASE_64K, 0x900000, 0, Outcome::Refused,
       false},
      {"Gpr0SwProgramInside", Gpr0At904000, Sw, SLOT_PP, 0x904000, 16, Outcome::Refused, false},
      {"Gpr0SwEraseInside", Gpr0At904000, Sw, SLOT_SE, 0x904800, 0, Outcome::Refused, false},
      // ... and leaves the flash beside it, and reads inside it, alone.
      {"Gpr0HwWriteBeside", Gpr0At904000, Hw, CYCLE_WRITE, 0x905000, 64, Outcome::Done, true},
      {"Gpr0HwErase4kBeside", Gpr0At904000, Hw, CYCLE_ERASE_4K, 0x903000, 0, Outcome::Done, true},
      {"Gpr0HwReadInside", Gpr0At904000, Hw, CYCLE_READ, 0x904000, 64, Outcome::Done, false},
      {"Gpr0SwProgramBeside", Gpr0At904000, Sw, SLOT_PP, 0x905000, 16, Outcome::Done, true},
      {"Gpr0SwEraseBeside", Gpr0At904000, Sw, SLOT_SE, 0x903000, 0, Outcome::Done, true},
      // A block-protected chip ignores program and erase without an error flag: the
      // controller reports a finished cycle and the flash stays as it was.
      {"ChipProtectHwWrite", ChipProtect, Hw, CYCLE_WRITE, 0x800000, 64, Outcome::Done, false},
      {"ChipProtectHwErase4k", ChipProtect, Hw, CYCLE_ERASE_4K, 0x801000, 0, Outcome::Done, false},
      {"ChipProtectHwErase64k", ChipProtect, Hw, CYCLE_ERASE_64K, 0xFF0000, 0, Outcome::Done,
       false},
      {"ChipProtectSwProgram", ChipProtect, Sw, SLOT_PP, 0x800000, 16, Outcome::Done, false},
      {"ChipProtectSwErase", ChipProtect, Sw, SLOT_SE, 0x801000, 0, Outcome::Done, false},
      // FLOCKDN freezes configuration, not the flash.
      {"FlockdnHwWrite", Flockdn, Hw, CYCLE_WRITE, 0x800000, 64, Outcome::Done, true},
      // A shipped board: EISS, and BIOSWE does not stick under SMI_LOCK.
      {"ProductionHwWriteToBios", Production, Hw, CYCLE_WRITE, 0x800000, 64, Outcome::Refused,
       false},
      {"ProductionHwEraseOfBios", Production, Hw, CYCLE_ERASE_4K, 0x801000, 0, Outcome::Refused,
       false},
  };
}

void PrintTo(const CycleCase &Case, std::ostream *Out) { *Out << Case.Name; }

class SetUpCycle : public ::testing::TestWithParam<CycleCase> {};

TEST_P(SetUpCycle, EndsAsTheHardwareDoes) {
  const CycleCase &Case = GetParam();
  Platform P(Case.Tweak);
  ASSERT_TRUE(P);
  P.EnableWrites();
  P.PutData(std::vector<uint8_t>(64, 0x00));  // a program clears every bit it reaches
  const std::vector<uint8_t> Before = P.Flash();

  bool Done = false;
  bool Refused = false;
  if (Case.By == Sequencing::Hardware) {
    const uint32_t Status = P.HwCycle(Case.Cycle, Case.Address, Case.Count == 0 ? 1 : Case.Count);
    Done = (Status & FDONE) != 0;
    Refused = (Status & (FCERR | AEL)) == (FCERR | AEL);
  } else {
    const uint8_t Status = P.SwCycle(Case.Cycle, Case.Address, true, Case.Count);
    Done = (Status & SSFSTS_CTL_FDONE) != 0;
    Refused = (Status & (SSFSTS_CTL_FCERR | SSFSTS_CTL_AEL)) == (SSFSTS_CTL_FCERR | SSFSTS_CTL_AEL);
  }

  EXPECT_EQ(Done, Case.Expected == Outcome::Done);
  EXPECT_EQ(Refused, Case.Expected == Outcome::Refused);
  EXPECT_EQ(P.Flash() != Before, Case.FlashChanges);
  if (!Case.FlashChanges) {
    EXPECT_EQ(SimErasedRangeCount(P.Get()) + SimProgrammedRangeCount(P.Get()), 0u);
    EXPECT_EQ(P.Counters().FlashModifyingCycles, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(ShippedBoards, SetUpCycle, ::testing::ValuesIn(CycleCases()),
                         [](const ::testing::TestParamInfo<CycleCase> &Info) {
                           return Info.param.Name;
                         });

// ---- FLOCKDN --------------------------------------------------------------------------

struct LockedRegister {
  const char *Name;
  uint32_t Offset;
  uint32_t Width;
  uint32_t Value;  // differs from what the register holds at power-on
};

void PrintTo(const LockedRegister &Case, std::ostream *Out) { *Out << Case.Name; }

class FlockdnRegister : public ::testing::TestWithParam<LockedRegister> {};

TEST_P(FlockdnRegister, KeepsItsValueWhileFlockdnIsSet) {
  const LockedRegister &R = GetParam();
  Platform Locked([](SimConfig &S) {
    Gpr0At904000(S);
    S.Flockdn = true;
  });
  ASSERT_NE(Locked.Spi(0x04) & FLOCKDN, 0u);
  const uint32_t Before = Locked.Spi(R.Offset, R.Width);
  ASSERT_NE(Before, R.Value);
  Locked.SpiWrite(R.Offset, R.Value, R.Width);
  EXPECT_EQ(Locked.Spi(R.Offset, R.Width), Before);

  // The same write takes effect on the board before lock-down.
  Platform Open(Gpr0At904000);
  Open.SpiWrite(R.Offset, R.Value, R.Width);
  EXPECT_EQ(Open.Spi(R.Offset, R.Width), R.Value);
}

INSTANTIATE_TEST_SUITE_P(Registers, FlockdnRegister,
                         ::testing::Values(LockedRegister{"PR0", PR0, 32, 0x80FF00F0},
                                           LockedRegister{"PR4", PR0 + 16, 32, 0x80FF00F0},
                                           LockedRegister{"GPR0", GPR0, 32, 0x00000000},
                                           LockedRegister{"PREOP", PREOP, 16, 0x0606},
                                           LockedRegister{"OPTYPE", OPTYPE, 16, 0xFFFF},
                                           LockedRegister{"OPMENU0", OPMENU0, 32, 0xC7C7C7C7},
                                           LockedRegister{"OPMENU1", OPMENU1, 32, 0x60606060}),
                         [](const ::testing::TestParamInfo<LockedRegister> &Info) {
                           return Info.param.Name;
                         });

TEST(Flockdn, IsWriteOnceUntilReset) {
  Platform P(Gpr0At904000);
  ASSERT_EQ(P.Spi(0x04) & FLOCKDN, 0u);
  P.SpiWrite(0x04, FLOCKDN);
  EXPECT_NE(P.Spi(0x04) & FLOCKDN, 0u);
  P.SpiWrite(0x04, FDONE | FCERR | AEL);  // the status clear every driver writes
  P.SpiWrite(0x04, 0);
  P.SpiWrite(0x05, 0, 8);
  EXPECT_NE(P.Spi(0x04) & FLOCKDN, 0u);
  const uint32_t Gpr0 = P.Spi(GPR0);
  EXPECT_EQ(Gpr0, 0x80000000u | (0x904u << 16) | 0x904u);  // WPE, limit and base in 4 KiB units
  P.SpiWrite(GPR0, 0);
  EXPECT_EQ(P.Spi(GPR0), Gpr0);
}

// ---- A block-protected chip ------------------------------------------------------------

struct ProtectedChip {
  const char *Chip;
  uint8_t Status;  // BP bits only: SRWD, WEL and WIP clear
};

void PrintTo(const ProtectedChip &Case, std::ostream *Out) { *Out << Case.Chip; }

class ChipProtectStatus : public ::testing::TestWithParam<ProtectedChip> {};

TEST_P(ChipProtectStatus, ReadStatusReportsTheBlockProtectBits) {
  const ProtectedChip &Case = GetParam();
  Platform P([&Case](SimConfig &S) {
    S.ChipIndex = SimFindChipByName(Case.Chip);
    S.ChipProtect = true;
  });
  ASSERT_TRUE(P);
  EXPECT_EQ(SimChipAt(static_cast<uint32_t>(SimFindChipByName(Case.Chip)))->BlockProtectBits,
            Case.Status);

  EXPECT_EQ(P.HwCycle(CYCLE_READ_STATUS, 0, 1) & (FDONE | FCERR), FDONE);
  EXPECT_EQ(P.Spi(FDATA, 8), Case.Status);
  EXPECT_EQ(P.SwCycle(SLOT_RDSR, 0, false, 1) & (SSFSTS_CTL_FDONE | SSFSTS_CTL_FCERR),
            SSFSTS_CTL_FDONE);
  EXPECT_EQ(P.Spi(FDATA, 8), Case.Status);

  // An ignored program leaves the BP bits and clears WEL.
  P.EnableWrites();
  P.PutData(std::vector<uint8_t>(8, 0x00));
  EXPECT_EQ(P.HwCycle(CYCLE_WRITE, 0x800000, 8) & (FDONE | FCERR), FDONE);
  P.HwCycle(CYCLE_READ_STATUS, 0, 1);
  EXPECT_EQ(P.Spi(FDATA, 8), Case.Status);

  Platform Unprotected([&Case](SimConfig &S) { S.ChipIndex = SimFindChipByName(Case.Chip); });
  Unprotected.HwCycle(CYCLE_READ_STATUS, 0, 1);
  EXPECT_EQ(Unprotected.Spi(FDATA, 8), 0x00u);
}

INSTANTIATE_TEST_SUITE_P(Parts, ChipProtectStatus,
                         ::testing::Values(ProtectedChip{"W25Q128BV", 0x1C},
                                           ProtectedChip{"25L12805D", 0x3C},
                                           ProtectedChip{"N25Q128A", 0x1C}),
                         [](const ::testing::TestParamInfo<ProtectedChip> &Info) {
                           return std::string(Info.param.Chip);
                         });

// ---- PM timer ----------------------------------------------------------------------

TEST(PmTimer, StoppedTimerReadsOneValueWhileTimePasses) {
  Platform Stopped([](SimConfig &S) { S.PmTimerStopped = true; });
  Platform Running;
  const uint32_t StoppedBefore = Stopped.In(PM1_TMR);
  const uint32_t RunningBefore = Running.In(PM1_TMR);
  SimAdvanceTime(Stopped.Get(), 1000000000);
  SimAdvanceTime(Running.Get(), 1000000000);
  for (int I = 0; I < 100; I++) EXPECT_EQ(Stopped.In(PM1_TMR), StoppedBefore);
  EXPECT_EQ(StoppedBefore & 0xFF000000u, 0u);
  EXPECT_NE(Running.In(PM1_TMR), RunningBefore);
}

// ---- The production shorthand ------------------------------------------------------

TEST(Production, SetsEveryLockAShippedBoardHas) {
  SimConfig Config;
  SimConfigDefaults(&Config);
  Config.VsccUnlocked = true;
  Config.NoBle = true;
  SimConfigProduction(&Config);
  EXPECT_TRUE(Config.LockedDescriptor);
  EXPECT_TRUE(Config.Flockdn);
  EXPECT_TRUE(Config.Eiss);
  EXPECT_TRUE(Config.SmiLock);
  EXPECT_FALSE(Config.NoBle);
  EXPECT_FALSE(Config.VsccUnlocked);

  Platform P(Production);
  P.SpiWrite(FDOC, (3u << 12) | (0u << 2));  // master section, FLMSTR1
  EXPECT_EQ(P.Spi(FDOD), 0x00A00F00u);
  EXPECT_EQ(P.Spi(FRAP) & 0xFFFFu, 0x0A0Fu);  // host reads regions 0-3, writes 1 and 3
  EXPECT_NE(P.Spi(0x04) & FLOCKDN, 0u);
  EXPECT_EQ(P.BiosControl() & (LE | EISS), LE | EISS);
  EXPECT_NE(P.Read(GEN_PMCON_A) & GEN_PMCON_A_SMI_LOCK, 0u);
  const uint32_t Lvscc = P.Spi(LVSCC);
  EXPECT_NE(Lvscc & VSCC_VCL, 0u);
  P.SpiWrite(LVSCC, 0);
  EXPECT_EQ(P.Spi(LVSCC), Lvscc);
  // SMIs cannot be masked, so the SMM handler takes BIOSWE back at once.
  P.EnableWrites();
  EXPECT_NE(P.In(SMI_EN) & 1u, 0u);
  EXPECT_EQ(P.BiosControl() & BIOSWE, 0u);
}

}  // namespace
