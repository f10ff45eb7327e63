// Runs the write command (-w) on the simulated platform for a set of image changes,
// and the read command (-r) once, each through pchflash-sim, and prints per run the
// blocks rewritten, the erase and program cycles, the modelled flash time against a
// lower bound, and the host wall time. A benchmark: it measures, it asserts nothing.
#include <sys/wait.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/report.h"
#include "sim/sim_platform.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t BlockSize = 0x10000;
// The controller moves at most 64 bytes (its FDATA buffer) per program cycle.
constexpr uint32_t FdataBytes = 64;
// The simulator's busy times (typical datasheet figures of its chip models); program
// times come from the chip model itself (SimProgramNs).
constexpr double Erase4kSeconds = 45e-3;
constexpr double Erase256Seconds = 10e-3;  // page erase of the 256-byte-sector parts

struct Platform {
  std::string Name;
  std::vector<std::string> Options;  // pchflash-sim options selecting it
  int32_t ChipIndex;
  uint32_t Components;
};

struct SimRun {
  int ExitCode = -1;
  double WallSeconds = 0;
  nlohmann::json Report;
  std::string Error;
};

std::vector<uint8_t> ReadFile(const fs::path &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(In)),
                              std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path &Path, const std::vector<uint8_t> &Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char *>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

std::string Quote(const std::string &Text) { return "'" + Text + "'"; }

SimRun RunSim(const fs::path &Work, const std::vector<std::string> &Options) {
  const fs::path ReportPath = Work / "report.json";
  fs::remove(ReportPath);
  std::string Command = Quote(PCHFLASH_SIM_PATH) + " --root " + Quote((Work / "volume").string()) +
                        " --report " + Quote(ReportPath.string());
  for (const std::string &Option : Options) Command += " " + Quote(Option);
  Command +=
      " >" + Quote((Work / "console.txt").string()) + " 2>" + Quote((Work / "stderr.txt").string());
  SimRun Run;
  auto Start = std::chrono::steady_clock::now();
  int Raw = std::system(Command.c_str());
  Run.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Run.ExitCode = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  std::vector<uint8_t> Json = ReadFile(ReportPath);
  if (Json.empty()) {
    std::vector<uint8_t> Err = ReadFile(Work / "stderr.txt");
    Run.Error = std::string(Err.begin(), Err.end());
    return Run;
  }
  Run.Report = nlohmann::json::parse(Json.begin(), Json.end());
  return Run;
}

std::vector<FlashByteRange> RangesOf(const nlohmann::json &List) {
  std::vector<FlashByteRange> Ranges;
  for (const auto &Pair : List)
    Ranges.push_back({Pair[0].get<uint64_t>(), Pair[1].get<uint64_t>()});
  return Ranges;
}

uint64_t Cycles(const nlohmann::json &Report, const char *Name) {
  return Report["cycles"][Name].get<uint64_t>();
}

// The least flash time any tool needs for this change on this chip: read the
// compared window once at the bus limit, then erase and program only the sectors of
// the chip's smallest erase size that hold a changed byte.
double LowerBoundSeconds(const std::vector<uint8_t> &Current, const std::vector<uint8_t> &Image,
                         uint64_t ImageFlashBase, const Platform &Where, uint32_t ClockHz) {
  const SimChipModel *Chip = SimChipAt(static_cast<uint32_t>(Where.ChipIndex));
  const uint64_t Sector = Chip->SmallEraseSize;
  std::set<uint64_t> Sectors;
  for (size_t I = 0; I < Image.size(); I++) {
    if (Image[I] != Current[ImageFlashBase + I]) Sectors.insert((ImageFlashBase + I) / Sector);
  }
  const double ByteSeconds = 8.0 / ClockHz;
  const double EraseSeconds = Sector >= 4096 ? Erase4kSeconds : Erase256Seconds;
  const uint32_t PerCommand = Chip->ByteProgram ? 1 : FdataBytes;
  const double ProgramSeconds = static_cast<double>(SimProgramNs(Chip, PerCommand)) / 1e9;
  const double PerSector = EraseSeconds +
                           static_cast<double>(Sector / PerCommand) * ProgramSeconds +
                           static_cast<double>(Sector) * ByteSeconds;
  return static_cast<double>(Image.size()) * ByteSeconds +
         static_cast<double>(Sectors.size()) * PerSector;
}

void PrintHeader() {
  std::printf("%-36s %-20s %6s %6s %7s %6s %11s %10s %8s\n", "scenario", "status", "blocks",
              "erase", "program", "swseq", "modelled s", "bound s", "wall s");
}

void PrintRow(const std::string &Name, const SimRun &Run, std::optional<double> Bound) {
  if (Run.Report.is_null()) {
    std::printf("%-36s pchflash-sim failed (exit code %d): %s\n", Name.c_str(), Run.ExitCode,
                Run.Error.c_str());
    return;
  }
  const nlohmann::json &R = Run.Report;
  const uint64_t Blocks = BlocksTouched(RangesOf(R["erased"]));
  const uint64_t Erases = Cycles(R, "erase_4k") + Cycles(R, "erase_64k");
  const double Modelled = R["modelled_time_us"].get<double>() / 1e6;
  std::string Status = R["status_text"].get<std::string>();
  if (R["reset"] != "none") Status += ", reset";
  std::printf("%-36s %-20s %6" PRIu64 " %6" PRIu64 " %7" PRIu64 " %6" PRIu64 " %11.3f ",
              Name.c_str(), Status.c_str(), Blocks, Erases, Cycles(R, "write"), Cycles(R, "swseq"),
              Modelled);
  if (Bound) {
    std::printf("%10.3f", *Bound);
  } else {
    std::printf("%10s", "-");
  }
  std::printf(" %8.2f\n", Run.WallSeconds);
}

struct Baseline {
  std::vector<uint8_t> Flash;  // whole flash after power-on
  std::vector<uint8_t> Bios;   // the BIOS window as -r saved it
  uint64_t BiosFlashBase;      // flash-linear address of the window's first byte
  fs::path FlashFile;
};

// Saves the BIOS window with -r on a fresh platform; the flash it ran on is the
// starting point of that platform's -w runs.
std::optional<Baseline> ReadBaseline(const fs::path &Work, const Platform &Where, SimRun *Run) {
  Baseline Base;
  Base.FlashFile = Work / (Where.Name + "-flash.bin");
  fs::remove(Work / "volume" / "bios.bin");
  std::vector<std::string> Options = Where.Options;
  Options.insert(Options.end(), {"--save-flash", Base.FlashFile.string(), "--", "-r", "bios.bin"});
  *Run = RunSim(Work, Options);
  Base.Flash = ReadFile(Base.FlashFile);
  Base.Bios = ReadFile(Work / "volume" / "bios.bin");
  if (Run->ExitCode != 0 || Base.Bios.empty() || Base.Bios.size() > Base.Flash.size()) {
    return std::nullopt;
  }
  // The window is the top of the flash.
  Base.BiosFlashBase = Base.Flash.size() - Base.Bios.size();
  return Base;
}

void FlipBytes(std::vector<uint8_t> *Image, const std::vector<uint64_t> &Offsets) {
  for (uint64_t Offset : Offsets) (*Image)[Offset] = static_cast<uint8_t>(~(*Image)[Offset]);
}

void WriteScenario(const fs::path &Work, const Platform &Where, const Baseline &Base,
                   const std::string &Name, const std::vector<uint8_t> &Image,
                   uint64_t ImageFlashBase, uint32_t ClockHz) {
  const std::string File = "image.bin";
  WriteFile(Work / "volume" / File, Image);
  std::vector<std::string> Options = Where.Options;
  Options.insert(Options.end(), {"--flash", Base.FlashFile.string(), "--", "-w", File});
  SimRun Run = RunSim(Work, Options);
  PrintRow(Name, Run, LowerBoundSeconds(Base.Flash, Image, ImageFlashBase, Where, ClockHz));
}

int32_t FirstChipOfSize(uint32_t Size) {
  for (uint32_t I = 0; I < SimChipCount(); I++) {
    const SimChipModel *Chip = SimChipAt(I);
    if (Chip->Size == Size && Chip->SmallEraseSize == 4096) return static_cast<int32_t>(I);
  }
  return -1;
}

}  // namespace

int main() {
  const fs::path Work = PCHFLASH_BENCH_WORK;
  fs::remove_all(Work);
  fs::create_directories(Work / "volume");

  SimConfig Defaults;
  SimConfigDefaults(&Defaults);
  const uint32_t ClockHz = Defaults.SpiClockHz;
  const Platform Default{"default", {}, Defaults.ChipIndex, 1};
  std::printf(
      "pchflash -w/-r on the simulated platform (%s, %u MHz SPI clock); one pchflash-sim "
      "process per run\n\n",
      SimChipAt(static_cast<uint32_t>(Default.ChipIndex))->Name, ClockHz / 1000000);
  PrintHeader();

  SimRun ReadRun;
  std::optional<Baseline> Base = ReadBaseline(Work, Default, &ReadRun);
  if (!Base) {
    PrintRow("-r of the BIOS window", ReadRun, std::nullopt);
    std::printf(
        "\nThe read command saved no image, so there is nothing to write back: the "
        "-w scenarios need the read and write commands.\n");
    return 1;
  }
  const std::vector<uint8_t> &Bios = Base->Bios;
  const uint64_t Blocks = Bios.size() / BlockSize;

  WriteScenario(Work, Default, *Base, "identical 8 MiB image", Bios, Base->BiosFlashBase, ClockHz);
  std::vector<uint8_t> Image = Bios;
  FlipBytes(&Image, {0x123456});
  WriteScenario(Work, Default, *Base, "one byte changed", Image, Base->BiosFlashBase, ClockHz);
  Image = Bios;
  FlipBytes(&Image, {0x000010, 0x3A0001, Bios.size() - 1});
  WriteScenario(Work, Default, *Base, "three bytes in three blocks", Image, Base->BiosFlashBase,
                ClockHz);
  Image = Bios;
  std::vector<uint64_t> EveryBlock;
  for (uint64_t B = 0; B < Blocks; B++) EveryBlock.push_back(B * BlockSize + 0x8000);
  FlipBytes(&Image, EveryBlock);
  WriteScenario(Work, Default, *Base, "every block changed", Image, Base->BiosFlashBase, ClockHz);
  if (Base->Flash.size() == 0x1000000) {
    Image = Base->Flash;
    FlipBytes(&Image, {0x100000});  // outside the BIOS window: only 16 MiB mode reaches it
    WriteScenario(Work, Default, *Base, "16 MiB whole-flash image, one byte", Image, 0, ClockHz);
  }

  const int32_t Chip8M = FirstChipOfSize(0x800000);
  if (Chip8M >= 0) {
    const char *Name = SimChipAt(static_cast<uint32_t>(Chip8M))->Name;
    const Platform Two{"two-components", {"--chip", Name, "--components", "2"}, Chip8M, 2};
    SimRun TwoRead;
    std::optional<Baseline> TwoBase = ReadBaseline(Work, Two, &TwoRead);
    if (TwoBase) {
      Image = TwoBase->Bios;
      FlipBytes(&Image, {0x123456});
      WriteScenario(Work, Two, *TwoBase, std::string("2 x 8 MiB (") + Name + "), one byte", Image,
                    TwoBase->BiosFlashBase, ClockHz);
    } else {
      PrintRow(std::string("-r on 2 x 8 MiB (") + Name + ")", TwoRead, std::nullopt);
    }
  }

  const double BusLimit = static_cast<double>(Bios.size()) * 8.0 / ClockHz;
  PrintRow("-r of the 8 MiB BIOS window", ReadRun, BusLimit);
  const double ReadModelled = ReadRun.Report["modelled_time_us"].get<double>() / 1e6;
  std::printf(
      "\n-r: modelled %.3f s against the SPI bus limit of %.3f s for %zu bytes at %u MHz "
      "(%.1f%% of the limit's throughput)\n",
      ReadModelled, BusLimit, Bios.size(), ClockHz / 1000000, 100.0 * BusLimit / ReadModelled);
  std::printf(
      "blocks: 64 KiB blocks erased; erase/program: hardware-sequenced erase and write "
      "cycles; swseq: software-sequenced cycles;\nbound: reading the compared window at "
      "the bus limit plus erasing and programming only the changed sectors of the "
      "chip's\nsmallest erase size (64-byte program %.1f us, 4 KiB erase %.0f ms); wall: "
      "host time of the whole pchflash-sim process.\n",
      static_cast<double>(SimProgramNs(
          SimChipAt(static_cast<uint32_t>(SimFindChipByName("W25Q128BV"))), FdataBytes)) /
          1e3,
      Erase4kSeconds * 1e3);
  return 0;
}
