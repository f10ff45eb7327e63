// pchflash_faults: every failure point of a -w (and of a -r) made to happen in turn
// on the simulated platform, with the application linked in, so a run costs
// milliseconds. After each run the flash must hold, block by block, its old or its
// new contents (or be the block the failure names, or the one a power loss tore),
// a failure must say so and must not reset once an erase has been tried, the
// volume must hold exactly the files it held (plus a whole backup after a -r that
// succeeded), and a fault-free rerun must converge to the image touching nothing
// else.
//
//   pchflash_faults            the campaign `make faults` runs
//   pchflash_faults --sample   the fixed sample the test suite runs
//   pchflash_faults --sample P  its part for one platform (default, two-chip, 16MiB) or
//                               the -r runs (read, two-chip-read), so that the tests can
//                               run them side by side
//
// Exits 1 when any run broke a rule, after printing the table.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/firmware_model.h"
#include "sim/sim_platform.h"
#include "support/app_run.h"
#include "support/host_file.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Block = 0x10000;
constexpr uint32_t WindowSize = 0x800000;
constexpr uint32_t WholeFlashSize = 0x1000000;
constexpr uint64_t FourGiB = 0x100000000ull;

// ---- The command line of the run in progress, for a crash report ------------------

char CurrentRun[512] = "(none)";

void NoteCurrentRun(const std::string &CommandLine) {
  std::snprintf(CurrentRun, sizeof CurrentRun, "%s", CommandLine.c_str());
}

void TellCurrentRun() {
  const char Prefix[] = "\npchflash_faults: crashed during: ";
  ssize_t Ignored = write(2, Prefix, sizeof Prefix - 1);
  Ignored = write(2, CurrentRun, std::strlen(CurrentRun));
  Ignored = write(2, "\n", 1);
  (void)Ignored;
}

void OnFatalSignal(int Signal) {
  TellCurrentRun();
  ::signal(Signal, SIG_DFL);
  ::raise(Signal);
}

void InstallCrashReport() {
  for (int Signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
    ::signal(Signal, OnFatalSignal);
  }
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(TellCurrentRun);
#endif
}

// ---- Platforms ----------------------------------------------------------------------

struct SimPlatformDeleter {
  void operator()(SimPlatform *Platform) const { SimPlatformDestroy(Platform); }
};
using PlatformPointer = std::unique_ptr<SimPlatform, SimPlatformDeleter>;

// The platform's flash, looked at in place: a run's checks compare it without a
// copy (a copy of 16 MiB costs more under the sanitizers than a short run).
struct FlashView {
  const uint8_t *Data;
  size_t Size;
};

FlashView FlashOf(const SimPlatform *Platform) {
  return FlashView{SimFlashData(Platform), SimFlashSize(Platform)};
}

bool Holds(FlashView Flash, const Bytes &Expected) {
  return Flash.Size == Expected.size() && std::memcmp(Flash.Data, Expected.data(), Flash.Size) == 0;
}

// The platforms' memory. A destroyed platform's blocks are kept for the next one:
// a fresh 16 MiB flash costs thousands of page faults under the sanitizers, more
// than a short run itself. Every block a platform takes is written in full by it.
struct BlockPool {
  std::map<void *, size_t> Live;
  std::multimap<size_t, void *> Spare;
};

void *TakeBlock(void *Context, size_t Size) {
  auto *Pool = static_cast<BlockPool *>(Context);
  void *Block = nullptr;
  auto Found = Pool->Spare.find(Size);
  if (Found != Pool->Spare.end()) {
    Block = Found->second;
    Pool->Spare.erase(Found);
  } else {
    Block = std::malloc(Size);
  }
  if (Block != nullptr) Pool->Live[Block] = Size;
  return Block;
}

void GiveBlock(void *Context, void *Block) {
  auto *Pool = static_cast<BlockPool *>(Context);
  auto Found = Pool->Live.find(Block);
  if (Found == Pool->Live.end()) return;
  Pool->Spare.emplace(Found->second, Block);
  Pool->Live.erase(Found);
}

BlockPool PlatformMemory;

void ReleaseSpareBlocks() {
  for (auto &Entry : PlatformMemory.Spare) std::free(Entry.second);
  PlatformMemory.Spare.clear();
}

PlatformPointer CreatePlatform(SimConfig Config, FlashView Flash) {
  SimAllocator Allocator = {TakeBlock, GiveBlock, &PlatformMemory};
  Config.InitialFlash = Flash.Data;
  Config.InitialFlashSize = Flash.Size;
  PlatformPointer Platform(SimPlatformCreate(&Config, &Allocator));
  if (!Platform) {
    std::fprintf(stderr, "pchflash_faults: simulated platform not created\n");
    std::exit(2);
  }
  return Platform;
}

const EFI_STATUS FileStatuses[] = {EFI_DEVICE_ERROR, EFI_ACCESS_DENIED, EFI_VOLUME_FULL,
                                   EFI_NOT_FOUND, EFI_WRITE_PROTECTED};

struct Thinning {
  uint32_t Stride;     // every Stride-th cycle failure and power loss, the first and last kept
  uint32_t AllocStep;  // every AllocStep-th allocation failing
  std::vector<EFI_STATUS> FileStatuses;  // each file operation failing with each of these
};

const Thinning Everything = {1, 1, {std::begin(FileStatuses), std::end(FileStatuses)}};

// One platform a -w is tried on: its configuration, the pchflash-sim options that
// build it, and the image (the window, or the whole flash, with one byte changed
// in each of three blocks).
struct Target {
  std::string Name;
  std::string SimOptions;
  SimConfig Config;
  uint32_t ImageSize;  // from the base of the window (or, at 16 MiB, of the whole flash)
  std::vector<uint32_t> ChangedOffsets;  // image offsets
  Bytes OldFlash;
  Bytes Image;
  Bytes NewFlash;      // the flash once the image is written
  uint32_t ImageBase;  // flash-linear offset of the image's first byte
  // How much of its failure points the campaign and the sample run: the first
  // platform's are swept in full, the others' are thinned to keep the campaign near
  // ten minutes; the sample spreads its runs over every family.
  Thinning Thin[2];
  uint32_t FirstErase;  // hardware cycle number of a fault-free run's first erase
};

Target MakeTarget(const std::string &Name, const std::string &SimOptions, SimConfig Config,
                  uint32_t ImageSize, std::vector<uint32_t> ChangedOffsets) {
  Target T{Name, SimOptions, Config, ImageSize, std::move(ChangedOffsets), {}, {}, {}, 0, {}, 0};
  T.OldFlash.resize(SimConfigFlashSize(&Config));
  SimGenerateImage(&Config, T.OldFlash.data());
  const uint32_t Covered = ImageSize == WholeFlashSize ? WholeFlashSize : WindowSize;
  T.ImageBase = static_cast<uint32_t>(T.OldFlash.size()) - Covered;
  T.Image.assign(T.OldFlash.begin() + T.ImageBase, T.OldFlash.begin() + T.ImageBase + ImageSize);
  for (uint32_t Offset : T.ChangedOffsets) {
    T.Image[Offset] ^= 0x5A;
  }
  T.NewFlash = T.OldFlash;
  std::copy(T.Image.begin(), T.Image.end(), T.NewFlash.begin() + T.ImageBase);
  return T;
}

std::vector<Target> Targets() {
  std::vector<Target> List;
  SimConfig Config;
  SimConfigDefaults(&Config);
  List.push_back(MakeTarget("default", "", Config, WindowSize, {0x10000, 0x20010, 0x3FFFF}));
  List.back().Thin[0] = Everything;
  // Every run reads the 8 MiB window to compare: the sample keeps every 120th cycle
  // failure and power loss, every allocation and every file fault.
  List.back().Thin[1] = {120, 1, Everything.FileStatuses};
  SimConfig Two = Config;
  Two.Components = 2;
  List.push_back(
      MakeTarget("two-chip", "--components 2 ", Two, WindowSize, {0x10000, 0x20010, 0x3FFFF}));
  List.back().Thin[0] = {8, 1, Everything.FileStatuses};
  List.back().Thin[1] = {120, 1, {EFI_DEVICE_ERROR, EFI_VOLUME_FULL}};
  // A 16 MiB run reads the whole flash twice (the run and its rerun): seconds each
  // under the sanitizers, so the sample takes a few points of each family.
  List.push_back(MakeTarget("16MiB", "", Config, WholeFlashSize, {0x200010, 0x900000, 0xF10020}));
  List.back().Thin[0] = {32, 1, Everything.FileStatuses};
  List.back().Thin[1] = {550, 2, {EFI_DEVICE_ERROR}};
  return List;
}

// ---- Volumes ------------------------------------------------------------------------

using VolumeFiles = std::map<std::string, Bytes>;

VolumeFiles ListVolume(const std::filesystem::path &Root) {
  VolumeFiles Files;
  for (const auto &Entry : std::filesystem::recursive_directory_iterator(Root)) {
    std::string Name = std::filesystem::relative(Entry.path(), Root).string();
    Files[Name] = Entry.is_regular_file() ? ReadHostBytes(Entry.path()) : Bytes{};
  }
  return Files;
}

// Whether the volume holds exactly Expected (name, contents), compared in place: a
// listing's copy of an 8 MiB image costs more under the sanitizers than the compare.
using ExpectedFiles = std::vector<std::pair<std::string, const Bytes *>>;

bool VolumeHolds(const std::filesystem::path &Root, const ExpectedFiles &Expected) {
  size_t Entries = 0;
  Bytes Contents;
  for (const auto &Entry : std::filesystem::recursive_directory_iterator(Root)) {
    Entries++;
    const std::string Name = std::filesystem::relative(Entry.path(), Root).string();
    auto Found = std::find_if(Expected.begin(), Expected.end(),
                              [&Name](const auto &File) { return File.first == Name; });
    if (Found == Expected.end()) return false;
    Contents = Entry.is_regular_file() ? ReadHostBytes(Entry.path()) : Bytes{};
    if (Contents != *Found->second) return false;
  }
  return Entries == Expected.size();
}

// A file of the user's that no command here may touch.
const Bytes KeptFile = {'k', 'e', 'e', 'p', '\n'};

// ---- Faults and runs -----------------------------------------------------------------

struct Fault {
  uint32_t FailCycle = 0;
  uint32_t PowerLossAfter = 0;
  uint64_t FailAllocation = 0;
  std::vector<FileFault> FileFaults;
  uint64_t VolumeBytes = 0;  // 0: unlimited
};

const char *FileOpName(ShellFileOp Op) {
  switch (Op) {
    case ShellFileOp::Open:
      return "open";
    case ShellFileOp::Create:
      return "create";
    case ShellFileOp::Read:
      return "read";
    case ShellFileOp::Write:
      return "write";
    case ShellFileOp::Size:
      return "size";
  }
  return "?";
}

std::string Hex(uint64_t Value) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

std::string FaultOptions(const Fault &F) {
  std::string Text;
  if (F.FailCycle != 0) Text += "--fail-cycle " + std::to_string(F.FailCycle) + " ";
  if (F.PowerLossAfter != 0) Text += "--power-loss-after " + std::to_string(F.PowerLossAfter) + " ";
  if (F.FailAllocation != 0) Text += "--fail-alloc " + std::to_string(F.FailAllocation) + " ";
  for (const FileFault &Ff : F.FileFaults) {
    Text += std::string("--file-fault ") + FileOpName(Ff.Op) + "=" + Hex(Ff.Status) + " ";
  }
  if (F.VolumeBytes != 0) Text += "--volume-bytes " + std::to_string(F.VolumeBytes) + " ";
  return Text;
}

HostFirmwareConfig FirmwareFor(const std::filesystem::path &Root, const Fault &F,
                               SimPlatform *Platform) {
  HostFirmwareConfig Config;
  Config.Root = Root;
  Config.FailAllocation = F.FailAllocation;
  Config.FileFaults = F.FileFaults;
  if (F.VolumeBytes != 0) Config.VolumeBytes = F.VolumeBytes;
  // What platform firmware does for a whole-flash update: every region opened.
  Config.OnFullFlashPrepare = [Platform] { SimLiftDescriptorLimits(Platform); };
  return Config;
}

uint64_t StartedEraseCycles(const SimPlatform *Platform) {
  const SimCounters *Counters = SimGetCounters(Platform);
  return Counters->HwCycles[SimCycleErase4k] + Counters->HwCycles[SimCycleErase64k];
}

// The flash-linear block a failure message names ("... at 0xFF810000 ..."), or -1.
int64_t NamedBlock(const std::string &Console, uint32_t FlashSize) {
  const std::string Marker = "failed at 0x";
  size_t At = Console.find(Marker);
  if (At == std::string::npos) return -1;
  uint64_t Address = std::strtoull(Console.c_str() + At + Marker.size(), nullptr, 16);
  const uint64_t FlashBase = FourGiB - FlashSize;
  if (Address < FlashBase || Address >= FourGiB) return -1;
  return static_cast<int64_t>((Address - FlashBase) / Block);
}

bool BlockEquals(FlashView Flash, const Bytes &B, uint32_t Index) {
  return std::memcmp(Flash.Data + size_t{Index} * Block, B.data() + size_t{Index} * Block, Block) ==
         0;
}

// Blocks in neither their old nor their new state.
std::vector<uint32_t> TornBlocks(FlashView Flash, const Target &T) {
  std::vector<uint32_t> Torn;
  for (uint32_t Index = 0; Index < Flash.Size / Block; Index++) {
    if (!BlockEquals(Flash, T.OldFlash, Index) && !BlockEquals(Flash, T.NewFlash, Index)) {
      Torn.push_back(Index);
    }
  }
  return Torn;
}

std::string CleanReturnProblem(const AppRun &Run) {
  if (Run.PoolOutstanding != 0) {
    return std::to_string(Run.PoolOutstanding) + " pool allocations left behind";
  }
  if (Run.Firmware->OpenFileHandles() != 0) return "a file handle left open";
  if (Run.Firmware->UnexpectedCalls() != 0) {
    return "unexpected firmware call " + Run.Firmware->UnexpectedCallNames()[0];
  }
  return "";
}

std::string OneLine(std::string Text) {
  for (char &C : Text) {
    if (C == '\r' || C == '\n') C = ' ';
  }
  return Text;
}

// The rules every -w run must keep; returns what broke, or "" when all held.
std::string CheckWriteRun(const Target &T, const Fault &F, const ScratchDirectory &Volume,
                          SimPlatform *Platform, const AppRun &Run) {
  const FlashView Flash = FlashOf(Platform);
  const bool PowerLost = SimInterrupted(Platform);
  const bool Reset = SimGetReset(Platform) != SimResetNone;
  const std::string Console = "console \"" + OneLine(Run.Console) + "\"";

  if (Run.Status == EFI_SUCCESS && !PowerLost) {
    if (!Holds(Flash, T.NewFlash)) {
      return "reported Success but the flash does not hold the image; " + Console;
    }
    if (!Reset) return "reported Success without the reset";
    // From the first erase on, every cycle is an erase, a program or a read-back
    // that the result depends on.
    const bool FailedInWrite = F.FailCycle != 0 && F.FailCycle >= T.FirstErase &&
                               SimGetCounters(Platform)->HwCyclesFailed != 0;
    if (FailedInWrite) return "a failed cycle of the write was reported as Success; " + Console;
  }
  if (EFI_ERROR(Run.Status) && !PowerLost && Reset) {
    if (StartedEraseCycles(Platform) != 0) return "reset after a failed write; " + Console;
    if (Run.Console.find("Do not reset") != std::string::npos) {
      return "reset after saying not to; " + Console;
    }
  }
  std::vector<uint32_t> Torn = TornBlocks(Flash, T);
  const int64_t Named = NamedBlock(Run.Console, static_cast<uint32_t>(Flash.Size));
  for (uint32_t Index : Torn) {
    const bool Explained = PowerLost ? Torn.size() == 1 : Index == Named;
    if (!Explained) {
      return "block at flash offset " + Hex(uint64_t{Index} * Block) +
             " holds neither its old nor its new contents; " + Console;
    }
  }
  std::string Leak = CleanReturnProblem(Run);
  if (!Leak.empty()) return Leak;
  if (!VolumeHolds(Volume.Path(), {{"image.bin", &T.Image}, {"keep.bin", &KeptFile}})) {
    return "the volume's files changed";
  }
  return "";
}

// A fault-free rerun on the flash the run left converges to the image, erasing
// only blocks that differ from it.
std::string CheckRerunConverges(const Target &T, const ScratchDirectory &Volume,
                                SimPlatform *Platform) {
  const FlashView Left = FlashOf(Platform);
  std::vector<bool> HeldImage(Left.Size / Block);
  for (uint32_t Index = 0; Index < HeldImage.size(); Index++) {
    HeldImage[Index] = BlockEquals(Left, T.NewFlash, Index);
  }
  PlatformPointer Fresh;
  SimPlatform *Board = Platform;
  if (SimInterrupted(Platform) || SimGetReset(Platform) != SimResetNone) {
    // Power came back, or the board was reset: it boots from the flash as left.
    Fresh = CreatePlatform(T.Config, Left);
    Board = Fresh.get();
  }
  const uint32_t ErasedBefore = SimErasedRangeCount(Board);
  AppRun Again = RunApp({"-w", "image.bin"}, FirmwareFor(Volume.Path(), Fault{}, Board), Board);
  if (Again.Status != EFI_SUCCESS || !Holds(FlashOf(Board), T.NewFlash)) {
    return "the rerun did not converge; console \"" + OneLine(Again.Console) + "\"";
  }
  for (uint32_t I = ErasedBefore; I < SimErasedRangeCount(Board); I++) {
    SimByteRange Range = SimErasedRange(Board, I);
    for (uint32_t At = Range.Base & ~(Block - 1); At < Range.End; At += Block) {
      if (HeldImage[At / Block]) {
        return "the rerun erased the block at " + Hex(At) + ", which held the image already";
      }
    }
  }
  return "";
}

struct RunResult {
  std::string CommandLine;
  std::string Problem;  // empty when every rule held
};

RunResult RunWrite(const Target &T, const Fault &F) {
  RunResult Result;
  Result.CommandLine =
      "pchflash-sim " + T.SimOptions + FaultOptions(F) + "-- -w image.bin   [" + T.Name + "]";
  NoteCurrentRun(Result.CommandLine);
  ScratchDirectory Volume;
  WriteHostBytes(Volume.Path() / "image.bin", T.Image);
  WriteHostBytes(Volume.Path() / "keep.bin", KeptFile);
  SimConfig Config = T.Config;
  Config.FailCycle = F.FailCycle;
  Config.PowerLossAfter = F.PowerLossAfter;
  PlatformPointer Platform = CreatePlatform(Config, {T.OldFlash.data(), T.OldFlash.size()});
  AppRun Run =
      RunApp({"-w", "image.bin"}, FirmwareFor(Volume.Path(), F, Platform.get()), Platform.get());
  Result.Problem = CheckWriteRun(T, F, Volume, Platform.get(), Run);
  const bool Completed = Run.Status == EFI_SUCCESS && !SimInterrupted(Platform.get());
  if (Result.Problem.empty() && !Completed) {
    Result.Problem = CheckRerunConverges(T, Volume, Platform.get());
  }
  return Result;
}

// "-r NAME": the flash untouched, the user's files unchanged, and a backup left
// only when the command succeeded, holding the whole window.
RunResult RunRead(const Target &T, const Fault &F, const std::string &Name = "backup.bin") {
  RunResult Result;
  Result.CommandLine =
      "pchflash-sim " + T.SimOptions + FaultOptions(F) + "-- -r " + Name + "   [" + T.Name + "]";
  NoteCurrentRun(Result.CommandLine);
  ScratchDirectory Volume;
  WriteHostBytes(Volume.Path() / "keep.bin", KeptFile);
  SimConfig Config = T.Config;
  Config.FailCycle = F.FailCycle;
  PlatformPointer Platform = CreatePlatform(Config, {T.OldFlash.data(), T.OldFlash.size()});
  AppRun Run = RunApp({"-r", Name}, FirmwareFor(Volume.Path(), F, Platform.get()), Platform.get());
  const std::string Console = "console \"" + OneLine(Run.Console) + "\"";
  VolumeFiles Expected = {{"keep.bin", KeptFile}};
  if (Run.Status == EFI_SUCCESS) {
    Expected[Name] = Bytes(T.OldFlash.end() - WindowSize, T.OldFlash.end());
  }
  VolumeFiles Files = ListVolume(Volume.Path());
  // When the firmware cannot say what the creating open gave it (size or attributes
  // unreadable), the run cannot tell a new file from an existing one it must not
  // delete: it says so and leaves the entry as the open left it, empty.
  const bool UnconfirmedEmptyEntry =
      Run.Status != EFI_SUCCESS && Files.count(Name) != 0 && Files[Name].empty() &&
      Run.Console.find("Error!! File " + Name + " is ") != std::string::npos;
  if (UnconfirmedEmptyEntry) {
    Expected[Name] = Bytes();
  }
  if (!Holds(FlashOf(Platform.get()), T.OldFlash) ||
      SimGetCounters(Platform.get())->FlashModifyingCycles != 0) {
    Result.Problem = "a read changed the flash";
  } else if (SimGetReset(Platform.get()) != SimResetNone) {
    Result.Problem = "a read reset the platform";
  } else if (Run.Status == EFI_SUCCESS && Files.count(Name) != 0 && Files[Name] != Expected[Name]) {
    Result.Problem = "reported Success but the backup is not the window; " + Console;
  } else if (Run.Status != EFI_SUCCESS && Files.count(Name) != 0 && Name != "keep.bin" &&
             !UnconfirmedEmptyEntry) {
    Result.Problem = "a backup file is left after a failed read; " + Console;
  } else if (Files != Expected) {
    Result.Problem = "the volume's files are not what the run should leave; " + Console;
  } else {
    Result.Problem = CleanReturnProblem(Run);
  }
  return Result;
}

// ---- What a fault-free run does, to know where its failure points are ---------------

struct CycleTrace {
  SimPlatform *Platform = nullptr;
  uint64_t Started[SimCycleTypeCount] = {};
  std::vector<SimCycleType> Types;   // by hardware cycle number - 1
  std::vector<uint32_t> ModifiedIn;  // by modifying cycle number - 1: its hardware cycle
};

void NoteCycles(void *Context, const SimEvent *) {
  auto *Trace = static_cast<CycleTrace *>(Context);
  const SimCounters *Counters = SimGetCounters(Trace->Platform);
  // At most one cycle starts per access: the type whose count moved.
  for (uint32_t Type = 0; Type < SimCycleTypeCount; Type++) {
    while (Trace->Started[Type] < Counters->HwCycles[Type]) {
      Trace->Types.push_back(static_cast<SimCycleType>(Type));
      Trace->Started[Type]++;
    }
  }
  while (Trace->ModifiedIn.size() < Counters->FlashModifyingCycles) {
    Trace->ModifiedIn.push_back(static_cast<uint32_t>(Trace->Types.size()));
  }
}

struct Profile {
  std::vector<SimCycleType> Types;
  std::vector<uint32_t> ModifiedIn;
  uint64_t Allocations = 0;
};

Profile ProfileRun(const Target &T, const std::vector<std::string> &Args) {
  ScratchDirectory Volume;
  WriteHostBytes(Volume.Path() / "image.bin", T.Image);
  PlatformPointer Platform = CreatePlatform(T.Config, {T.OldFlash.data(), T.OldFlash.size()});
  CycleTrace Trace;
  Trace.Platform = Platform.get();
  SimSetTraceHook(Platform.get(), NoteCycles, &Trace);
  AppRun Run = RunApp(Args, FirmwareFor(Volume.Path(), Fault{}, Platform.get()), Platform.get());
  SimSetTraceHook(Platform.get(), nullptr, nullptr);
  return Profile{Trace.Types, Trace.ModifiedIn, Run.Firmware->AllocationCount()};
}

bool IsErase(SimCycleType Type) { return Type == SimCycleErase4k || Type == SimCycleErase64k; }

// Hardware cycle numbers (from 1) of the first erase, and of the first erase of the
// second rewritten block (the first erase after a program); past the end when none.
uint32_t FirstEraseCycle(const Profile &P) {
  for (uint32_t N = 1; N <= P.Types.size(); N++) {
    if (IsErase(P.Types[N - 1])) return N;
  }
  return static_cast<uint32_t>(P.Types.size()) + 1;
}

uint32_t SecondBlockCycle(const Profile &P) {
  bool Programmed = false;
  for (uint32_t N = FirstEraseCycle(P); N <= P.Types.size(); N++) {
    if (P.Types[N - 1] == SimCycleWrite) Programmed = true;
    if (Programmed && IsErase(P.Types[N - 1])) return N;
  }
  return static_cast<uint32_t>(P.Types.size()) + 1;
}

// Evenly spread picks from [First, Last] (1-based), both ends included.
void AddSpread(std::vector<uint32_t> *Into, uint32_t First, uint32_t Last, uint32_t Count) {
  if (Last < First || Count == 0) return;
  const uint64_t Span = Last - First;
  for (uint32_t I = 0; I < Count; I++) {
    Into->push_back(First + static_cast<uint32_t>(Count == 1 ? 0 : Span * I / (Count - 1)));
  }
}

void SortUnique(std::vector<uint32_t> *Numbers) {
  std::sort(Numbers->begin(), Numbers->end());
  Numbers->erase(std::unique(Numbers->begin(), Numbers->end()), Numbers->end());
}

// The cycles of a -w to fail: every cycle before the first erase that is not a
// data read (identification, status, checks), every erase cycle, every cycle from
// the first erase to the second block's first erase, and RestCount of the others.
std::vector<uint32_t> FailCyclePoints(const Profile &P, uint32_t RestCount, uint32_t *Full) {
  std::vector<uint32_t> Points;
  std::vector<uint32_t> Rest;
  const uint32_t Count = static_cast<uint32_t>(P.Types.size());
  const uint32_t FirstErase = FirstEraseCycle(P);
  const uint32_t SecondBlock = SecondBlockCycle(P);
  for (uint32_t N = 1; N <= Count; N++) {
    SimCycleType Type = P.Types[N - 1];
    const bool FirstBlock = FirstErase != 0 && N >= FirstErase && N < SecondBlock;
    if ((N < FirstErase && Type != SimCycleRead) || IsErase(Type) || FirstBlock) {
      Points.push_back(N);
    } else {
      Rest.push_back(N);
    }
  }
  Points.push_back(Count + 1);  // past the last cycle: the run completes
  *Full = static_cast<uint32_t>(Points.size());
  std::vector<uint32_t> Picks;
  if (!Rest.empty()) AddSpread(&Picks, 0, static_cast<uint32_t>(Rest.size()) - 1, RestCount);
  for (uint32_t Pick : Picks) {
    Points.push_back(Rest[Pick]);
  }
  SortUnique(&Points);
  return Points;
}

// Power lost after each modifying cycle of the first rewritten block, and RestCount
// of the later ones.
std::vector<uint32_t> PowerLossPoints(const Profile &P, uint32_t RestCount, uint32_t *Full) {
  std::vector<uint32_t> Points;
  const uint32_t Count = static_cast<uint32_t>(P.ModifiedIn.size());
  const uint32_t SecondBlock = SecondBlockCycle(P);
  uint32_t FirstOfRest = Count + 1;
  for (uint32_t M = 1; M <= Count; M++) {
    if (P.ModifiedIn[M - 1] < SecondBlock) {
      Points.push_back(M);
    } else if (FirstOfRest > Count) {
      FirstOfRest = M;
    }
  }
  *Full = static_cast<uint32_t>(Points.size());
  AddSpread(&Points, FirstOfRest, Count, RestCount);
  SortUnique(&Points);
  return Points;
}

// ---- The table ----------------------------------------------------------------------

struct Family {
  std::string Name;
  std::string Coverage;  // what the runs are of the family's whole
  uint32_t Runs = 0;
  uint32_t Held = 0;
  std::vector<RunResult> Failures;
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
  double Seconds = 0;
};

void Record(Family *F, RunResult Result) {
  F->Runs++;
  F->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - F->Start).count();
  if (Result.Problem.empty()) {
    F->Held++;
  } else {
    F->Failures.push_back(std::move(Result));
  }
}

// In the sample every Stride-th point of a family is run, the first and last kept.
std::vector<uint32_t> ThinOut(const std::vector<uint32_t> &Points, uint32_t Stride) {
  if (Stride <= 1) return Points;
  std::vector<uint32_t> Kept;
  for (size_t I = 0; I < Points.size(); I++) {
    if (I % Stride == 0 || I + 1 == Points.size()) Kept.push_back(Points[I]);
  }
  return Kept;
}

const ShellFileOp FileOps[] = {ShellFileOp::Open, ShellFileOp::Create, ShellFileOp::Read,
                               ShellFileOp::Write, ShellFileOp::Size};

struct Plan {
  bool Sample;
  uint32_t RestFailCycles;  // sampled cycles outside the full part, per platform
  uint32_t RestPowerLoss;
  std::string Only;  // one part: a platform's name, or "read"; empty: all
};

void CampaignForWrite(const Target &Unprobed, const Plan &Run, std::vector<Family> *Table) {
  Profile P = ProfileRun(Unprobed, {"-w", "image.bin"});
  Target T = Unprobed;
  T.FirstErase = FirstEraseCycle(P);
  uint32_t Full = 0;
  const Thinning &Thin = T.Thin[Run.Sample ? 1 : 0];
  const uint32_t Stride = Thin.Stride;
  const uint32_t Step = Thin.AllocStep;
  const std::string Every = Stride == 1 ? "" : " (every " + std::to_string(Stride) + "th run)";

  Family Cycles;
  Cycles.Name = T.Name + " -w fail-cycle";
  std::vector<uint32_t> Points = FailCyclePoints(P, Run.RestFailCycles, &Full);
  Points = ThinOut(Points, Stride);
  // Every erase stays in a thinned sweep too: a block is at its most exposed there.
  for (uint32_t N = 1; N <= P.Types.size(); N++) {
    if (IsErase(P.Types[N - 1])) Points.push_back(N);
  }
  SortUnique(&Points);
  Cycles.Coverage = "of " + std::to_string(P.Types.size()) + " cycles: every one before the data " +
                    "read, every erase, the whole first block (" + std::to_string(Full) + ") + " +
                    std::to_string(Run.RestFailCycles) + " spread over the rest" + Every +
                    (Stride > 1 ? ", every erase kept" : "");
  for (uint32_t N : Points) {
    Fault F;
    F.FailCycle = N;
    Record(&Cycles, RunWrite(T, F));
  }
  Table->push_back(std::move(Cycles));

  Family Power;
  Power.Name = T.Name + " -w power-loss";
  Points = ThinOut(PowerLossPoints(P, Run.RestPowerLoss, &Full), Stride);
  Power.Coverage = "of " + std::to_string(P.ModifiedIn.size()) + " modifying cycles: the first " +
                   "block's " + std::to_string(Full) + " + " + std::to_string(Run.RestPowerLoss) +
                   " spread over the rest" + Every;
  for (uint32_t N : Points) {
    Fault F;
    F.PowerLossAfter = N;
    Record(&Power, RunWrite(T, F));
  }
  Table->push_back(std::move(Power));

  Family Alloc;
  Alloc.Name = T.Name + " -w fail-alloc";
  Alloc.Coverage = "every allocation (" + std::to_string(P.Allocations) + ")" +
                   (Step == 2  ? " (every 2nd run)"
                    : Step > 1 ? " (every " + std::to_string(Step) + "th run)"
                               : "");
  for (uint64_t N = 1; N <= P.Allocations; N += Step) {
    Fault F;
    F.FailAllocation = N;
    Record(&Alloc, RunWrite(T, F));
  }
  Table->push_back(std::move(Alloc));

  if (Thin.FileStatuses.empty()) return;
  Family Files;
  Files.Name = T.Name + " -w file-fault";
  Files.Coverage =
      "every file operation x " + std::to_string(Thin.FileStatuses.size()) + " status(es)";
  for (ShellFileOp Op : FileOps) {
    for (EFI_STATUS Status : Thin.FileStatuses) {
      Fault F;
      F.FileFaults.push_back({Op, Status});
      Record(&Files, RunWrite(T, F));
    }
  }
  Table->push_back(std::move(Files));
}

void CampaignForRead(const Target &T, const Plan &Run, std::vector<Family> *Table) {
  Profile P = ProfileRun(T, {"-r", "backup.bin"});
  const uint32_t Count = static_cast<uint32_t>(P.Types.size());

  Family Cycles;
  Cycles.Name = T.Name + " -r fail-cycle";
  std::vector<uint32_t> Points;
  uint32_t FirstRead = Count + 1;
  for (uint32_t N = 1; N <= Count; N++) {
    if (P.Types[N - 1] != SimCycleRead) {
      Points.push_back(N);
    } else if (FirstRead > Count) {
      FirstRead = N;
    }
  }
  const uint32_t Full = static_cast<uint32_t>(Points.size());
  AddSpread(&Points, FirstRead, Count, Run.RestFailCycles);
  SortUnique(&Points);
  Cycles.Coverage = "of " + std::to_string(Count) + " cycles: every one not a data read (" +
                    std::to_string(Full) + ") + " + std::to_string(Run.RestFailCycles) +
                    " spread over the data read";
  for (uint32_t N : Points) {
    Fault F;
    F.FailCycle = N;
    Record(&Cycles, RunRead(T, F));
  }
  Table->push_back(std::move(Cycles));

  Family Alloc;
  Alloc.Name = T.Name + " -r fail-alloc";
  Alloc.Coverage = "every allocation (" + std::to_string(P.Allocations) + ")";
  for (uint64_t N = 1; N <= P.Allocations; N++) {
    Fault F;
    F.FailAllocation = N;
    Record(&Alloc, RunRead(T, F));
  }
  Table->push_back(std::move(Alloc));

  Family Files;
  Files.Name = T.Name + " -r file-fault";
  Files.Coverage = "every file operation x 5 statuses, a full volume at 4 sizes, an existing name";
  for (ShellFileOp Op : FileOps) {
    for (EFI_STATUS Status : Everything.FileStatuses) {
      Fault F;
      F.FileFaults.push_back({Op, Status});
      Record(&Files, RunRead(T, F));
    }
  }
  for (uint64_t Bytes :
       {uint64_t{1}, uint64_t{0x1000}, uint64_t{WindowSize - 1}, uint64_t{WindowSize + 4}}) {
    Fault F;
    F.VolumeBytes = Bytes;
    Record(&Files, RunRead(T, F));
  }
  Record(&Files, RunRead(T, Fault{}, "keep.bin"));
  Table->push_back(std::move(Files));
}

int PrintTable(const std::vector<Family> &Table, double Seconds) {
  uint32_t Runs = 0;
  uint32_t Failed = 0;
  std::printf("%-24s %6s %6s %6s %6s  %s\n", "family", "runs", "held", "failed", "time",
              "coverage");
  for (const Family &F : Table) {
    std::printf("%-24s %6u %6u %6zu %5.0fs  %s\n", F.Name.c_str(), F.Runs, F.Held,
                F.Failures.size(), F.Seconds, F.Coverage.c_str());
    Runs += F.Runs;
    Failed += static_cast<uint32_t>(F.Failures.size());
  }
  std::printf("%-24s %6u %6u %6u %5.0fs\n", "total", Runs, Runs - Failed, Failed, Seconds);
  for (const Family &F : Table) {
    if (F.Failures.empty()) continue;
    std::printf("\n%s: %zu failed; first: %s\n  %s\n", F.Name.c_str(), F.Failures.size(),
                F.Failures[0].CommandLine.c_str(), F.Failures[0].Problem.c_str());
  }
  return Failed == 0 ? 0 : 1;
}

}  // namespace

int main(int Argc, char **Argv) {
  Plan Run = {false, 200, 100, ""};
  if (Argc >= 2 && Argc <= 3 && std::string(Argv[1]) == "--sample") {
    Run = {true, 12, 8, Argc == 3 ? Argv[2] : ""};
  } else if (Argc != 1) {
    std::fprintf(stderr, "usage: pchflash_faults [--sample [PLATFORM|read|two-chip-read]]\n");
    return 2;
  }
  InstallCrashReport();
  const auto Start = std::chrono::steady_clock::now();
  std::vector<Target> All = Targets();
  std::printf(
      "Each -w writes image.bin: the window (16MiB: the whole flash) of the platform's\n"
      "generated flash with one byte changed at each of three offsets:\n");
  for (const Target &T : All) {
    std::printf(
        "  %-9s %s%s\n", T.Name.c_str(), T.SimOptions.c_str(),
        (Hex(T.ChangedOffsets[0]) + " " + Hex(T.ChangedOffsets[1]) + " " + Hex(T.ChangedOffsets[2]))
            .c_str());
  }
  std::printf("\n");
  std::vector<Family> Table;
  for (const Target &T : All) {
    if (Run.Only.empty() || Run.Only == T.Name) CampaignForWrite(T, Run, &Table);
  }
  // The -r runs (cheap next to a -w: nothing to compare, write or rerun) in full, on
  // one chip and across two.
  if (Run.Only.empty() || Run.Only == "read") CampaignForRead(All[0], Run, &Table);
  if (Run.Only.empty() || Run.Only == "two-chip-read") CampaignForRead(All[1], Run, &Table);
  if (Table.empty()) {
    std::fprintf(stderr, "pchflash_faults: no platform or part named '%s'\n", Run.Only.c_str());
    return 2;
  }
  const double Seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  ReleaseSpareBlocks();
  return PrintTable(Table, Seconds);
}
