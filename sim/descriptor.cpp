// The Intel flash descriptor (first 4 KiB of the flash, 100-series layout): the
// generated default image, and what the controller reads from it at power-on.
#include "sim/regs/spi_mmio.h"
#include "sim/sim_internal.h"

namespace {

constexpr uint32_t FLVALSIG = 0x0FF0A55A;
constexpr uint32_t FLVALSIG_OFFSET = 0x10;
constexpr uint32_t FLMAP0_OFFSET = 0x14;
constexpr uint32_t FLMAP1_OFFSET = 0x18;
constexpr uint32_t FLMAP2_OFFSET = 0x1C;
constexpr uint32_t FLUMAP1_OFFSET = 0xEFC;

// Where the generated descriptor puts its sections.
constexpr uint32_t GEN_FCBA = 0x30;
constexpr uint32_t GEN_FRBA = 0x40;
constexpr uint32_t GEN_FMBA = 0x80;
constexpr uint32_t GEN_FPSBA = 0x100;
constexpr uint32_t GEN_PCH_STRAP_DWORDS = 0x50;
constexpr uint32_t GEN_FMSBA = 0x300;
constexpr uint32_t GEN_CPU_STRAP_DWORDS = 0x04;
constexpr uint32_t GEN_VTBA = 0xEE0;  // VSCC table: one entry (JEDEC ID, VSCC)
constexpr uint32_t GEN_REGION_COUNT = 16;
constexpr uint32_t GEN_MASTER_COUNT = 5;
constexpr uint32_t GEN_PLATFORM_DATA_REGION = 4;

constexpr uint32_t FLREG_UNUSED = 0x00007FFF;
// FLMSTR, 100-series layout: read access bits 19:8, write access bits 31:20.
constexpr uint32_t FLMSTR_ALL_REGIONS = 0xFFFFFF00;
constexpr uint32_t FLMSTR1_PRODUCTION = 0x00A00F00;  // host reads 0-3, writes 1 and 3
constexpr uint32_t FLMSTR2_PRODUCTION = 0x00400D00;  // ME reads 0, 2, 3, writes 2
constexpr uint32_t FLMSTR3_PRODUCTION = 0x00800900;  // GbE reads 0 and 3, writes 3

// FLCOMP fields: read clock 17 MHz (required on this generation), fast read
// supported at 48 MHz, write/erase and read ID/status at 48 MHz.
constexpr uint32_t FLCOMP_FREQ_48MHZ = 2;
constexpr uint32_t FLCOMP_FREQ_17MHZ = 6;
constexpr uint32_t FLCOMP_CLOCKS = (FLCOMP_FREQ_17MHZ << 17) | (1u << 20) |
                                   (FLCOMP_FREQ_48MHZ << 21) | (FLCOMP_FREQ_48MHZ << 24) |
                                   (FLCOMP_FREQ_48MHZ << 27);
constexpr uint32_t FLCOMP_FAST_READ = 1u << 20;
constexpr uint8_t DENSITY_UNUSED = 0xF;

void Put32(uint8_t *Image, uint32_t Offset, uint32_t Value) {
  for (uint32_t I = 0; I < 4; I++) Image[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
}

uint32_t Get32(const uint8_t *Flash, uint32_t FlashSize, uint32_t Offset) {
  if (Offset + 4 > FlashSize || Offset + 4 > SIM_DESCRIPTOR_SIZE) return 0xFFFFFFFF;
  return static_cast<uint32_t>(Flash[Offset]) | (static_cast<uint32_t>(Flash[Offset + 1]) << 8) |
         (static_cast<uint32_t>(Flash[Offset + 2]) << 16) |
         (static_cast<uint32_t>(Flash[Offset + 3]) << 24);
}

// FLREG: base and limit in 4 KiB units, limit inclusive.
uint32_t RegionValue(uint32_t Base, uint32_t Limit) { return (Base >> 12) | ((Limit >> 12) << 16); }

uint64_t SplitMix64(uint64_t *State) {
  uint64_t Z = (*State += 0x9E3779B97F4A7C15ull);
  Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
  Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
  return Z ^ (Z >> 31);
}

// One word of the sequence for each eight bytes, low byte first. A whole flash is
// filled at every power-on without a given image: a word is stored as it is (both
// builds run on x86-64), since splitting it costs a check per byte and per shift
// under the sanitizers.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the image is filled low byte first");
void FillFromSeed(uint8_t *Image, uint32_t Begin, uint32_t End, uint64_t Seed) {
  uint64_t State = Seed;
  uint32_t I = Begin;
  for (; End - I >= 8; I += 8) {
    const uint64_t Word = SplitMix64(&State);
    __builtin_memcpy(Image + I, &Word, sizeof(Word));
  }
  uint64_t Word = I < End ? SplitMix64(&State) : 0;
  for (; I < End; I++) {
    Image[I] = static_cast<uint8_t>(Word);
    Word >>= 8;
  }
}

// One VSCC table entry: the JEDEC ID and the capabilities of a chip.
void PutVsccEntry(uint8_t *Image, uint32_t Offset, const SimChipModel *Chip) {
  Put32(Image, Offset,
        Chip->Id[0] | (static_cast<uint32_t>(Chip->Id[1]) << 8) |
            (static_cast<uint32_t>(Chip->IdLength == 3 ? Chip->Id[2] : 0) << 16));
  Put32(Image, Offset + 4, SimDefaultVscc(Chip));
}

void WriteDescriptor(const SimConfig *Config, uint8_t *Image, uint32_t Total) {
  const SimChipModel *Chip = SimConfigChip(Config, 0);
  const bool Two = Config->Components == 2;
  const SimChipModel *Chip2 = Two ? SimConfigChip(Config, 1) : nullptr;
  SimFill(Image, 0xFF, SIM_DESCRIPTOR_SIZE);

  Put32(Image, FLVALSIG_OFFSET, FLVALSIG);
  Put32(Image, FLMAP0_OFFSET, (GEN_FCBA >> 4) | ((Two ? 1u : 0u) << 8) | ((GEN_FRBA >> 4) << 16));
  Put32(Image, FLMAP1_OFFSET,
        (GEN_FMBA >> 4) | (3u << 8) | ((GEN_FPSBA >> 4) << 16) | (GEN_PCH_STRAP_DWORDS << 24));
  Put32(Image, FLMAP2_OFFSET, (GEN_FMSBA >> 4) | (GEN_CPU_STRAP_DWORDS << 8));

  const uint8_t Density = SimDensityCode(Chip->Size);
  const uint8_t Density2 = Two ? SimDensityCode(Chip2->Size) : DENSITY_UNUSED;
  Put32(Image, GEN_FCBA, Density | (static_cast<uint32_t>(Density2) << 4) | FLCOMP_CLOCKS);
  Put32(Image, GEN_FCBA + 4, 0);  // FLILL: no invalid instructions
  Put32(Image, GEN_FCBA + 8, 0);  // FLILL1

  // Descriptor, then ME up to the middle of the flash, BIOS in the upper half.
  const uint32_t Half = Total / 2;
  for (uint32_t Region = 0; Region < GEN_REGION_COUNT; Region++) {
    Put32(Image, GEN_FRBA + 4 * Region, FLREG_UNUSED);
  }
  Put32(Image, GEN_FRBA + 0, RegionValue(0, SIM_DESCRIPTOR_SIZE - 1));
  Put32(Image, GEN_FRBA + 4, RegionValue(Half, Total - 1));
  Put32(Image, GEN_FRBA + 8, RegionValue(SIM_DESCRIPTOR_SIZE, Half - 1));
  if (Config->BiosRegionGiven) {
    // A BIOS region that need not end at the top: the ME region fills the flash
    // below it and the platform-data region what is left above it.
    const SimRange Bios = Config->BiosRegion;
    Put32(Image, GEN_FRBA + 4, RegionValue(Bios.Base, Bios.Limit));
    Put32(Image, GEN_FRBA + 8,
          Bios.Base > SIM_DESCRIPTOR_SIZE ? RegionValue(SIM_DESCRIPTOR_SIZE, Bios.Base - 1)
                                          : FLREG_UNUSED);
    if (Bios.Limit + 1 < Total) {
      Put32(Image, GEN_FRBA + 4 * GEN_PLATFORM_DATA_REGION, RegionValue(Bios.Limit + 1, Total - 1));
    }
  }
  for (uint32_t Region = 0; Region < SIM_MAX_REGIONS; Region++) {
    if ((Config->RegionsGiven & (1u << Region)) == 0) continue;
    Put32(Image, GEN_FRBA + 4 * Region,
          RegionValue(Config->Region[Region].Base, Config->Region[Region].Limit));
  }

  for (uint32_t Master = 0; Master < GEN_MASTER_COUNT; Master++) {
    Put32(Image, GEN_FMBA + 4 * Master, Config->LockedDescriptor ? 0 : FLMSTR_ALL_REGIONS);
  }
  if (Config->LockedDescriptor) {
    Put32(Image, GEN_FMBA + 0, FLMSTR1_PRODUCTION);
    Put32(Image, GEN_FMBA + 4, FLMSTR2_PRODUCTION);
    Put32(Image, GEN_FMBA + 8, FLMSTR3_PRODUCTION);
  }

  SimFill(Image + GEN_FPSBA, 0x00, GEN_PCH_STRAP_DWORDS * 4);
  SimFill(Image + GEN_FMSBA, 0x00, GEN_CPU_STRAP_DWORDS * 4);

  // Upper map: the VSCC table that firmware copies into LVSCC/UVSCC, one entry
  // per kind of chip.
  const bool TwoKinds = Two && Chip2 != Chip;
  Put32(Image, FLUMAP1_OFFSET, (GEN_VTBA >> 4) | ((TwoKinds ? 4u : 2u) << 8));
  PutVsccEntry(Image, GEN_VTBA, Chip);
  if (TwoKinds) PutVsccEntry(Image, GEN_VTBA + 8, Chip2);
}

uint32_t ComponentSize(uint32_t Code) { return Code < 8 ? (0x80000u << Code) : 0; }

}  // namespace

const SimChipModel *SimConfigChip(const SimConfig *Config, uint32_t Component) {
  if (Config == nullptr || Component >= Config->Components || Config->Components > 2) {
    return nullptr;
  }
  int32_t Index = Config->ChipIndex;
  if (Component == 1 && Config->Chip2Index >= 0) Index = Config->Chip2Index;
  return Index < 0 ? nullptr : SimChipAt(static_cast<uint32_t>(Index));
}

uint32_t SimConfigFlashSize(const SimConfig *Config) {
  if (Config == nullptr || Config->Components < 1) return 0;
  uint32_t Total = 0;
  for (uint32_t Component = 0; Component < Config->Components; Component++) {
    const SimChipModel *Chip = SimConfigChip(Config, Component);
    if (Chip == nullptr) return 0;
    Total += Chip->Size;
  }
  return Total;
}

void SimGenerateImage(const SimConfig *Config, uint8_t *Image) {
  const uint32_t Total = SimConfigFlashSize(Config);
  if (Total == 0 || Image == nullptr) return;
  FillFromSeed(Image, 0, Total, Config->Seed);
  if (!Config->NoDescriptor) {
    WriteDescriptor(Config, Image, Total);
    return;
  }
  // Make sure chance does not put the signature where the controller looks for it.
  if (Get32(Image, Total, FLVALSIG_OFFSET) == FLVALSIG) Image[FLVALSIG_OFFSET] ^= 0xFF;
}

void SimParseDescriptor(const uint8_t *Flash, uint32_t FlashSize, SimDescriptorView *View) {
  SimFill(View, 0, sizeof(*View));
  if (Get32(Flash, FlashSize, FLVALSIG_OFFSET) != FLVALSIG) return;
  View->Valid = true;
  View->Flmap0 = Get32(Flash, FlashSize, FLMAP0_OFFSET);
  View->Flmap1 = Get32(Flash, FlashSize, FLMAP1_OFFSET);
  View->Flmap2 = Get32(Flash, FlashSize, FLMAP2_OFFSET);
  View->Fcba = (View->Flmap0 & 0xFF) << 4;
  View->Frba = ((View->Flmap0 >> 16) & 0xFF) << 4;
  View->Fmba = (View->Flmap1 & 0xFF) << 4;
  View->Fpsba = ((View->Flmap1 >> 16) & 0xFF) << 4;
  View->TwoComponents = ((View->Flmap0 >> 8) & 3) != 0;
  View->Flcomp = Get32(Flash, FlashSize, View->Fcba);
  View->Flmstr1 = Get32(Flash, FlashSize, View->Fmba);
  View->FastRead = (View->Flcomp & FLCOMP_FAST_READ) != 0;
  View->Component0Size = ComponentSize(View->Flcomp & 0xF);
  View->TotalSize = View->Component0Size;
  if (View->TwoComponents) View->TotalSize += ComponentSize((View->Flcomp >> 4) & 0xF);
}

// FLREGn of a parsed descriptor (unused when the section lies past the descriptor).
uint32_t SimDescriptorRegion(const uint8_t *Flash, uint32_t FlashSize,
                             const SimDescriptorView *View, uint32_t Region) {
  if (View->Frba + 4 * Region + 4 > SIM_DESCRIPTOR_SIZE) return FLREG_UNUSED;
  return Get32(Flash, FlashSize, View->Frba + 4 * Region);
}

bool SimRegionRange(uint32_t Value, uint32_t *Base, uint32_t *Limit) {
  const uint32_t B = Value & FIELD_4K_MASK;
  const uint32_t L = (Value >> 16) & FIELD_4K_MASK;
  if (B > L) return false;
  *Base = B << 12;
  *Limit = (L << 12) | 0xFFF;
  return true;
}

bool SimPlaceBiosWindow(uint8_t *Image, uint32_t FlashSize, const uint8_t *Window) {
  SimDescriptorView View;
  SimParseDescriptor(Image, FlashSize, &View);
  if (!View.Valid) return false;
  uint32_t Base = 0;
  uint32_t Limit = 0;
  if (!SimRegionRange(SimDescriptorRegion(Image, FlashSize, &View, 1), &Base, &Limit)) {
    return false;
  }
  const uint32_t End = Limit + 1;
  if (End > FlashSize || End < SIM_BIOS_WINDOW_SIZE) return false;
  SimCopy(Image + (End - SIM_BIOS_WINDOW_SIZE), Window, SIM_BIOS_WINDOW_SIZE);
  return true;
}
