// The SPI NOR parts the simulator can install: one per named row of the flash
// part table (same order, same names, identification bytes and sizes), plus an
// unknown modern chip that no row answers.
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;

// Typical busy times by family (hw-facts §8, typical column). A page program
// takes the first byte's time plus each further byte's (Winbond W25X40: 30 us and
// 2.5 us), capped by the whole-page time (W25Q128JV: 0.4 ms), so a 64-byte program
// takes 187.5 us and the cap is reached at 149 bytes. The same figures serve every
// paged part.
constexpr uint32_t PAGE_PROGRAM_NS = 400000;       // 256-byte page program (the cap)
constexpr uint32_t PROGRAM_FIRST_BYTE_NS = 30000;  // first byte of a page program
constexpr uint32_t PROGRAM_NEXT_BYTE_NS = 2500;    // each further byte
constexpr uint32_t SST_BYTE_PROGRAM_NS = 10000;    // SST 25xF byte program
constexpr uint32_t ERASE_4K_NS = 45000000;         // 4 KiB sector erase
constexpr uint32_t ST_PAGE_ERASE_NS = 10000000;    // ST M25PE/M45PE 256-byte page erase
constexpr uint32_t ERASE_64K_NS = 150000000;       // 64 KiB block erase (as the small erase)

// Block-protect bits of status register 1 (hw-facts §7: BP in bits 2..4, or 2..5).
// The model uses bits 2..5 (BP0..BP3) for the Macronix and SST parts and bits 2..4
// (BP0..BP2) for every other part; SRWD (bit 7) is never set at power-on.
constexpr uint8_t BP_BITS_2_TO_4 = 0x1C;
constexpr uint8_t BP_BITS_2_TO_5 = 0x3C;
constexpr uint8_t MACRONIX = 0xC2;

constexpr SimChipModel Sst(const char *Name, uint8_t Id0, uint8_t Id1, uint8_t Id2, uint8_t Length,
                           uint32_t Size, uint8_t Erase64k) {
  return SimChipModel{
      Name, {Id0, Id1, Id2},     Length,      Size, 0x20, 4 * KiB,       Erase64k, 0x52,
      true, SST_BYTE_PROGRAM_NS, ERASE_4K_NS, 0,    0,    BP_BITS_2_TO_5};
}

constexpr SimChipModel Paged(const char *Name, uint8_t Id0, uint8_t Id1, uint8_t Id2,
                             uint8_t Length, uint32_t Size, uint8_t Erase32k) {
  return SimChipModel{Name,
                      {Id0, Id1, Id2},
                      Length,
                      Size,
                      0x20,
                      4 * KiB,
                      0xD8,
                      Erase32k,
                      false,
                      PAGE_PROGRAM_NS,
                      ERASE_4K_NS,
                      PROGRAM_FIRST_BYTE_NS,
                      PROGRAM_NEXT_BYTE_NS,
                      Id0 == MACRONIX ? BP_BITS_2_TO_5 : BP_BITS_2_TO_4};
}

constexpr SimChipModel kChips[] = {
    Sst("25LF040", 0xBF, 0x40, 0x00, 2, 512 * KiB, 0x00),
    Sst("25LF040A", 0xBF, 0x44, 0x00, 2, 512 * KiB, 0x00),
    Sst("25LF080A", 0xBF, 0x80, 0x00, 2, 1 * MiB, 0x00),
    Sst("25VF016B", 0xBF, 0x25, 0x8E, 3, 1 * MiB, 0xD8),
    Sst("25VF016B", 0xBF, 0x41, 0x00, 2, 2 * MiB, 0xD8),
    Paged("25DF041", 0x1F, 0x44, 0x00, 2, 512 * KiB, 0x52),
    Paged("25DF081A", 0x1F, 0x45, 0x00, 2, 1 * MiB, 0x52),
    Paged("26DF161", 0x1F, 0x46, 0x00, 2, 2 * MiB, 0x52),
    Paged("26DF321", 0x1F, 0x47, 0x00, 2, 4 * MiB, 0x52),
    Paged("25DF641", 0x1F, 0x48, 0x00, 2, 8 * MiB, 0x52),
    Paged("W25Q64BV", 0xEF, 0x40, 0x17, 3, 8 * MiB, 0x52),
    Paged("W25Q64FW", 0xEF, 0x60, 0x17, 3, 8 * MiB, 0x52),
    Paged("W25Q128FW", 0xEF, 0x60, 0x18, 3, 16 * MiB, 0x52),
    Paged("W25Q128BV", 0xEF, 0x40, 0x18, 3, 16 * MiB, 0x52),
    Paged("25L8005", 0xC2, 0x20, 0x14, 3, 1 * MiB, 0x52),
    Paged("25L1605A", 0xC2, 0x20, 0x15, 3, 2 * MiB, 0x52),
    Paged("25L6405D", 0xC2, 0x20, 0x17, 3, 8 * MiB, 0x00),
    Paged("25L12805D", 0xC2, 0x20, 0x18, 3, 16 * MiB, 0x00),
    Paged("25L25635E", 0xC2, 0x20, 0x19, 3, 32 * MiB, 0x52),
    Paged("25U6435F", 0xC2, 0x25, 0x37, 3, 8 * MiB, 0x52),
    Paged("25L6436E", 0xC2, 0x20, 0x17, 3, 8 * MiB, 0x52),
    Paged("25U12835F", 0xC2, 0x25, 0x38, 3, 16 * MiB, 0x52),
    Paged("N25Q128A", 0x20, 0xBB, 0x18, 3, 16 * MiB, 0x00),
    // ST M25PE80: the small erase is the 256-byte page erase.
    SimChipModel{"M25PE80",
                 {0x20, 0x80, 0x14},
                 3,
                 1 * MiB,
                 0xDB,
                 256,
                 0xD8,
                 0x00,
                 false,
                 PAGE_PROGRAM_NS,
                 ST_PAGE_ERASE_NS,
                 PROGRAM_FIRST_BYTE_NS,
                 PROGRAM_NEXT_BYTE_NS,
                 BP_BITS_2_TO_4},
    // PMC Pm25LV040: 4 KiB sector erase is 0xD7.
    SimChipModel{"25LV040",
                 {0x9D, 0x7E, 0x00},
                 2,
                 512 * KiB,
                 0xD7,
                 4 * KiB,
                 0xD8,
                 0x00,
                 false,
                 PAGE_PROGRAM_NS,
                 ERASE_4K_NS,
                 PROGRAM_FIRST_BYTE_NS,
                 PROGRAM_NEXT_BYTE_NS,
                 BP_BITS_2_TO_4},
    Paged("25LQ16", 0xC8, 0x60, 0x15, 3, 2 * MiB, 0x52),
    Paged("25LQ64C", 0xC8, 0x60, 0x17, 3, 8 * MiB, 0x52),
    // The part table knows only the 64 KiB erase of this Numonyx part.
    SimChipModel{"N25Q128A13",
                 {0x20, 0xBA, 0x18},
                 3,
                 16 * MiB,
                 0xD8,
                 64 * KiB,
                 0xD8,
                 0x00,
                 false,
                 PAGE_PROGRAM_NS,
                 ERASE_64K_NS,
                 PROGRAM_FIRST_BYTE_NS,
                 PROGRAM_NEXT_BYTE_NS,
                 BP_BITS_2_TO_4},
    // A current 16 MiB part that the table does not list.
    Paged("unknown", 0xEF, 0x70, 0x18, 3, 16 * MiB, 0x52),
};

constexpr uint32_t kChipCount = sizeof(kChips) / sizeof(kChips[0]);
static_assert(kChipCount == 29, "28 named parts and the unknown chip");

bool SameName(const char *A, const char *B) {
  while (*A != '\0' && *A == *B) {
    A++;
    B++;
  }
  return *A == *B;
}

}  // namespace

uint32_t SimChipCount() { return kChipCount; }

const SimChipModel *SimChipAt(uint32_t Index) {
  return Index < kChipCount ? &kChips[Index] : nullptr;
}

int32_t SimFindChipByName(const char *Name) {
  if (Name == nullptr) return -1;
  for (uint32_t I = 0; I < kChipCount; I++) {
    if (SameName(kChips[I].Name, Name)) return static_cast<int32_t>(I);
  }
  return -1;
}

// Compares with the bytes the chip actually sends to 9Fh: its identification
// bytes, then the sequence again (so a two-byte part read for three bytes answers
// its manufacturer byte third).
int32_t SimFindChipById(const uint8_t *Id, uint32_t Length) {
  if (Id == nullptr || Length == 0) return -1;
  for (uint32_t I = 0; I < kChipCount; I++) {
    const SimChipModel &Chip = kChips[I];
    if (Length < Chip.IdLength) continue;
    bool Match = true;
    for (uint32_t B = 0; B < Length && Match; B++) {
      Match = Id[B] == Chip.Id[B % Chip.IdLength];
    }
    if (Match) return static_cast<int32_t>(I);
  }
  return -1;
}

uint64_t SimProgramNs(const SimChipModel *Model, uint32_t Bytes) {
  constexpr uint32_t PageSize = 256;
  if (Model->ByteProgram) return Model->ProgramNs;
  if (Bytes == 0) return 0;
  if (Bytes > PageSize) Bytes = PageSize;
  const uint64_t Ns =
      Model->ProgramFirstByteNs + static_cast<uint64_t>(Bytes - 1) * Model->ProgramNextByteNs;
  return Ns < Model->ProgramNs ? Ns : Model->ProgramNs;
}

uint8_t SimDensityCode(uint32_t Size) {
  for (uint8_t Code = 0; Code < 8; Code++) {
    if ((0x80000u << Code) == Size) return Code;
  }
  return 0xF;
}
