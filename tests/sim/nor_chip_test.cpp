// The SPI NOR chip models, driven through software sequencing (the chip
// interprets the opcodes) and hardware sequencing.
#include <cstring>
#include <memory>

#include "sim/regs/spi_mmio.h"
#include "sim_harness.h"

using namespace simtest;

namespace {

// A menu for talking to the chip directly: slots 0..7 and their types.
constexpr uint8_t kMenu[8] = {0x02, 0x20, 0x05, 0x03, 0x06, 0x9F, 0xD8, 0x90};
// PP write+addr, SE write+addr, RDSR read, READ read+addr, WREN write, RDID read,
// BE64 write+addr, REMS read+addr.
constexpr uint16_t kTypes =
    (3 << 0) | (3 << 2) | (0 << 4) | (2 << 6) | (1 << 8) | (0 << 10) | (3 << 12) | (2 << 14);
constexpr uint32_t PP = 0, SE = 1, RDSR = 2, READ = 3, WREN = 4, RDID = 5, BE64 = 6, REMS = 7;

// Without a descriptor nothing but protected ranges restricts software cycles.
Platform *Direct(const char *Chip = "W25Q128BV") {
  Platform *P = new Platform([Chip](SimConfig &S) {
    S.NoDescriptor = true;
    S.ChipIndex = SimFindChipByName(Chip);
  });
  P->SetMenu(kMenu, kTypes, 0x5006);
  return P;
}

uint8_t Status(Platform &P) {
  P.SwCycle(RDSR, 0, false, 1);
  return static_cast<uint8_t>(P.Spi(FDATA, 8));
}

void Program(Platform &P, uint32_t Address, const std::vector<uint8_t> &Data) {
  P.PutData(Data);
  ASSERT_EQ(P.SwCycle(PP, Address, true, static_cast<uint32_t>(Data.size())) & 0x0C,
            SSFSTS_CTL_FDONE);
}

TEST(NorChip, ProgramNeedsWriteEnableAndClearsItAfterwards) {
  std::unique_ptr<Platform> P(Direct());
  const std::vector<uint8_t> Before = P->Flash();
  P->PutData({0x00});
  EXPECT_EQ(P->SwCycle(PP, 0x1000, false, 1) & 0x0C, SSFSTS_CTL_FDONE);  // no WREN: ignored
  EXPECT_EQ(P->Flash()[0x1000], Before[0x1000]);

  EXPECT_EQ(P->SwCycle(WREN, 0, false, 0) & 0x0C, SSFSTS_CTL_FDONE);
  EXPECT_EQ(Status(*P) & 0x02, 0x02);  // WEL
  P->PutData({0x00});
  P->SwCycle(PP, 0x1000, false, 1);
  EXPECT_EQ(Status(*P) & 0x03, 0x01);  // busy, WEL cleared
  EXPECT_EQ(P->Flash()[0x1000], 0x00);
}

TEST(NorChip, BusyChipIgnoresEverythingButStatusRead) {
  std::unique_ptr<Platform> P(Direct());
  P->SwCycle(WREN, 0, false, 0);
  P->SwCycle(SE, 0x2000, false, 0);  // 45 ms of busy time, not waited for
  EXPECT_EQ(Status(*P) & 0x01, 0x01);
  const uint8_t Kept = P->Flash()[0x3000];
  P->SwCycle(WREN, 0, false, 0);
  P->PutData({0x00});
  P->SwCycle(PP, 0x3000, false, 1);
  P->SwCycle(RDID, 0, false, 3);
  EXPECT_EQ(P->Spi(FDATA) & 0xFFFFFF, 0xFFFFFFu);  // not driven while busy
  EXPECT_EQ(P->Flash()[0x3000], Kept);
  while (Status(*P) & 0x01) {
  }
  EXPECT_EQ(Status(*P) & 0x02, 0);  // the WREN during busy time was ignored too
  P->SwCycle(RDID, 0, false, 3);
  EXPECT_EQ(P->Spi(FDATA) & 0xFFFFFF, 0x1840EFu);
}

TEST(NorChip, ProgramOnlyClearsBitsAndEraseSetsAllOnes) {
  std::unique_ptr<Platform> P(Direct());
  P->PutData({0xFF});
  P->SwCycle(SE, 0x4000, true, 0);  // ACS: WREN prefix and wait
  Program(*P, 0x4000, {0xF0, 0x0F, 0x55});
  Program(*P, 0x4000, {0x3C, 0xFF, 0xAA});
  const std::vector<uint8_t> F = P->Flash();
  EXPECT_EQ(F[0x4000], 0x30);
  EXPECT_EQ(F[0x4001], 0x0F);
  EXPECT_EQ(F[0x4002], 0x00);
  EXPECT_EQ(F[0x4003], 0xFF);
  EXPECT_EQ(P->SwCycle(SE, 0x4FFF, true, 0) & 0x0C, SSFSTS_CTL_FDONE);  // the sector holding it
  const std::vector<uint8_t> G = P->Flash();
  for (uint32_t A = 0x4000; A < 0x5000; A++) ASSERT_EQ(G[A], 0xFF);
  EXPECT_EQ(G[0x5000], F[0x5000]);
  EXPECT_EQ(G[0x3FFF], F[0x3FFF]);
}

TEST(NorChip, PageProgramWrapsAtThePageEnd) {
  std::unique_ptr<Platform> P(Direct());
  P->SwCycle(BE64, 0x10000, true, 0);
  const std::vector<uint8_t> Data = Pattern(64, 0x11);
  Program(*P, 0x100E0, Data);  // 32 bytes to the page end, 32 wrap to 0x10000
  const std::vector<uint8_t> F = P->Flash();
  for (uint32_t I = 0; I < 32; I++) {
    EXPECT_EQ(F[0x100E0 + I], Data[I]);
    EXPECT_EQ(F[0x10000 + I], Data[32 + I]);
  }
  EXPECT_EQ(F[0x10100], 0xFF);  // the next page is untouched
  ASSERT_EQ(SimProgrammedRangeCount(P->Get()), 2u);
  EXPECT_EQ(SimProgrammedRange(P->Get(), 0).Base, 0x100E0u);
  EXPECT_EQ(SimProgrammedRange(P->Get(), 0).End, 0x10100u);
  EXPECT_EQ(SimProgrammedRange(P->Get(), 1).Base, 0x10000u);
  EXPECT_EQ(SimProgrammedRange(P->Get(), 1).End, 0x10020u);
}

TEST(NorChip, HardwareSequencedWriteAcrossAPageWrapsToo) {
  Platform P;
  P.EnableWrites();
  P.HwErase(0x810000, true);
  const std::vector<uint8_t> Data = Pattern(64, 0x40);
  EXPECT_EQ(P.HwWrite(0x8100F0, Data) & (FDONE | FCERR), FDONE);
  const std::vector<uint8_t> F = P.Flash();
  for (uint32_t I = 0; I < 16; I++) EXPECT_EQ(F[0x8100F0 + I], Data[I]);
  for (uint32_t I = 0; I < 48; I++) EXPECT_EQ(F[0x810000 + I], Data[16 + I]);
  EXPECT_EQ(F[0x810100], 0xFF);
}

TEST(NorChip, IdentificationCommands) {
  std::unique_ptr<Platform> P(Direct("25L6405D"));
  P->SwCycle(RDID, 0, false, 3);
  EXPECT_EQ(P->Spi(FDATA) & 0xFFFFFF, 0x1720C2u);
  P->SwCycle(REMS, 0, false, 2);
  EXPECT_EQ(P->Spi(FDATA, 16), 0x16C2u);  // manufacturer, then device
  P->SwCycle(REMS, 1, false, 2);
  EXPECT_EQ(P->Spi(FDATA, 16), 0xC216u);  // address bit 0 set: device first
}

TEST(NorChip, TwoByteIdPartsRepeatTheirIdentification) {
  std::unique_ptr<Platform> P(Direct("25LF040A"));
  P->SwCycle(RDID, 0, false, 3);
  EXPECT_EQ(P->Spi(FDATA) & 0xFFFFFF, 0xBF44BFu);
}

TEST(NorChip, ByteProgramPartsProgramOneBytePerCommand) {
  std::unique_ptr<Platform> P(Direct("25LF080A"));
  P->SwCycle(SE, 0x1000, true, 0);
  Program(*P, 0x1000, {0x12, 0x34, 0x56});
  const std::vector<uint8_t> F = P->Flash();
  EXPECT_EQ(F[0x1000], 0x12);
  EXPECT_EQ(F[0x1001], 0xFF);
}

TEST(NorChip, ReadWrapsAtTheEndOfTheArray) {
  std::unique_ptr<Platform> P(Direct("25LF040"));
  const std::vector<uint8_t> F = P->Flash();
  P->SwCycle(READ, 0x7FFFE, false, 4);
  const uint32_t Word = P->Spi(FDATA);
  EXPECT_EQ(Word & 0xFF, F[0x7FFFE]);
  EXPECT_EQ((Word >> 16) & 0xFF, F[0]);
}

TEST(NorChip, StatusWriteNeedsWelOrEwsrAndKeepsProtectionBits) {
  std::unique_ptr<Platform> P(Direct());
  const uint8_t Menu[8] = {0x01, 0x50, 0x05, 0x03, 0x06, 0x9F, 0xD8, 0x04};
  P->SetMenu(Menu, (1 << 0) | (1 << 2) | (0 << 4) | (2 << 6) | (1 << 8) | (1 << 14), 0x5006);
  P->SpiWrite(FDATA, 0x1C, 8);
  P->SwCycle(0, 0, false, 1);  // WRSR without WEL: ignored
  EXPECT_EQ(Status(*P) & 0xFC, 0);
  P->SwCycle(1, 0, false, 0);  // EWSR
  P->SpiWrite(FDATA, 0x1C, 8);
  P->SwCycle(0, 0, false, 1);
  EXPECT_EQ(Status(*P), 0x1C);
}

TEST(ChipModels, TableOfTwentyEightPartsAndTheUnknownChip) {
  ASSERT_EQ(SimChipCount(), 29u);
  EXPECT_STREQ(SimChipAt(28)->Name, "unknown");
  EXPECT_EQ(SimChipAt(29), nullptr);
  struct {
    const char *Name;
    int32_t Index;
    uint32_t Size;
    uint8_t SmallErase;
    uint32_t SmallSize;
  } Rows[] = {
      {"25LF040", 0, 0x80000, 0x20, 4096},      {"25VF016B", 3, 0x100000, 0x20, 4096},
      {"W25Q128BV", 13, 0x1000000, 0x20, 4096}, {"25L6405D", 16, 0x800000, 0x20, 4096},
      {"25L25635E", 18, 0x2000000, 0x20, 4096}, {"M25PE80", 23, 0x100000, 0xDB, 256},
      {"25LV040", 24, 0x80000, 0xD7, 4096},     {"N25Q128A13", 27, 0x1000000, 0xD8, 65536},
      {"unknown", 28, 0x1000000, 0x20, 4096},
  };
  for (const auto &R : Rows) {
    EXPECT_EQ(SimFindChipByName(R.Name), R.Index) << R.Name;
    const SimChipModel *M = SimChipAt(static_cast<uint32_t>(R.Index));
    EXPECT_EQ(M->Size, R.Size) << R.Name;
    EXPECT_EQ(M->Erase4kOpcode, R.SmallErase) << R.Name;
    EXPECT_EQ(M->SmallEraseSize, R.SmallSize) << R.Name;
  }
  EXPECT_EQ(SimFindChipByName("nonesuch"), -1);
  const uint8_t Shared[3] = {0xC2, 0x20, 0x17};  // 25L6405D and 25L6436E: the first wins
  EXPECT_EQ(SimFindChipById(Shared, 3), 16);
  const uint8_t Unknown[3] = {0xEF, 0x70, 0x18};
  EXPECT_EQ(SimFindChipById(Unknown, 3), 28);
  const uint8_t TwoByte[2] = {0x9D, 0x7E};
  EXPECT_EQ(SimFindChipById(TwoByte, 2), 24);
  for (uint32_t I = 0; I < SimChipCount(); I++) {
    const SimChipModel *M = SimChipAt(I);
    EXPECT_EQ(M->Size & (M->Size - 1), 0u) << M->Name;
  }
}

}  // namespace
