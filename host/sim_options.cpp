#include "host/sim_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/option_table.h"

namespace {

// The words CLI11 collected for each row of the option table.
struct RawOptions {
  std::vector<CLI::Option *> Flags;  // one per row; null for options with a value
  std::vector<std::string> Single;
  std::vector<std::vector<std::string>> Repeated;
};

class OptionError {
 public:
  explicit OptionError(std::string Text) : Text_(std::move(Text)) {}
  const std::string &Text() const { return Text_; }

 private:
  std::string Text_;
};

std::vector<uint8_t> ReadWholeFile(const std::string &Option, const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) throw OptionError(Option + ": cannot open '" + Path + "'");
  // One read of the whole file: a flash image is 16 MiB or more, and a byte-wise
  // copy of it costs more than the simulated run.
  std::vector<uint8_t> Data;
  char Buffer[1 << 16];
  while (In.read(Buffer, sizeof(Buffer)) || In.gcount() > 0) {
    Data.insert(Data.end(), Buffer, Buffer + In.gcount());
  }
  if (In.bad()) throw OptionError(Option + ": cannot read '" + Path + "'");
  return Data;
}

// CLI11 learns every option of the table, so that it splits the words and lists the
// help; the values are converted by the table afterwards.
void AddOptions(CLI::App *App, RawOptions *Raw) {
  const uint32_t Count = SimOptionCount();
  Raw->Flags.assign(Count, nullptr);
  Raw->Single.assign(Count, std::string());
  Raw->Repeated.assign(Count, std::vector<std::string>());
  for (uint32_t I = 0; I < Count; I++) {
    const SimOptionRow &Row = *SimOptionAt(I);
    if (Row.Host == SimHostHelp) {
      App->set_help_flag(Row.Name, Row.Help);
    } else if (Row.Form == SimFormFlag) {
      Raw->Flags[I] = App->add_flag(Row.Name, Row.Help)->disable_flag_override();
    } else if (Row.Repeats) {
      App->add_option(Row.Name, Raw->Repeated[I], Row.Help)->allow_extra_args(false);
    } else {
      App->add_option(Row.Name, Raw->Single[I], Row.Help);
    }
  }
}

// The options given, one word per value, in the converter's terms.
std::vector<SimOptionWord> GivenOptions(const RawOptions &Raw) {
  std::vector<SimOptionWord> Words;
  for (uint32_t I = 0; I < SimOptionCount(); I++) {
    const SimOptionRow *Row = SimOptionAt(I);
    if (Raw.Flags[I] != nullptr && Raw.Flags[I]->count() > 0) Words.push_back({Row, nullptr});
    for (const std::string &Value : Raw.Repeated[I]) Words.push_back({Row, Value.c_str()});
    // An empty value counts as not given, as it always has here.
    if (!Raw.Single[I].empty()) Words.push_back({Row, Raw.Single[I].c_str()});
  }
  return Words;
}

std::vector<uint8_t> HexBytesOf(const SimOptionValue &Value) {
  std::vector<uint8_t> Bytes(Value.Number);
  uint32_t Length = 0;
  SimParseHexBytes(Value.Text, Bytes.data(), static_cast<uint32_t>(Bytes.size()), &Length);
  return Bytes;
}

// The host program's own options, converted by the table.
void TakeHostOption(void *Context, const SimOptionRow &Row, const SimOptionValue &Value) {
  SimOptions &Options = *static_cast<SimOptions *>(Context);
  HostFirmwareConfig &Fw = Options.Firmware;
  const std::string Keyword = Value.Choice >= 0 ? Row.Keywords[Value.Choice] : "";
  switch (Row.Host) {
    case SimHostNone:
    case SimHostHelp:
      break;
    case SimHostRoot:
      Fw.Root = Value.Text;
      break;
    case SimHostFailAlloc:
      Fw.FailAllocation = Value.Number;
      break;
    case SimHostFullFlashPrepare:
      Fw.FullFlashPreparePresent = Keyword != "absent";
      Fw.FullFlashPrepareStatus = Keyword.empty() ? Value.Number : EFI_SUCCESS;
      break;
    case SimHostEfiDebug:
      Fw.EfiDebugBytes = std::vector<uint8_t>(8);
      for (int I = 0; I < 8; I++)
        (*Fw.EfiDebugBytes)[I] = static_cast<uint8_t>(Value.Number >> (8 * I));
      break;
    case SimHostEfiDebugBytes:
      Fw.EfiDebugBytes = HexBytesOf(Value);
      break;
    case SimHostDebugHob:
      // The application only looks for the hand-off block when variable services
      // are not up yet, so the block comes with that answer.
      Fw.DebugHob = HexBytesOf(Value);
      Fw.VariablesNotAvailableYet = true;
      break;
    case SimHostReadOnly:
      Fw.ReadOnlyVolume = true;
      break;
    case SimHostVolumeBytes:
      Fw.VolumeBytes = Value.Number;
      break;
    case SimHostFileFault:
      // The operations are listed in ShellFileOp's order.
      Fw.FileFaults.push_back(FileFault{static_cast<ShellFileOp>(Value.Choice), Value.Number});
      break;
    case SimHostFlash:
      Options.FlashFile = Value.Text;
      break;
    case SimHostWindow:
      Options.WindowFile = Value.Text;
      break;
    case SimHostSaveFlash:
      Options.SaveFlashFile = Value.Text;
      break;
    case SimHostTrace:
      Options.TraceFile = Value.Text;
      break;
    case SimHostReport:
      Options.ReportFile = Value.Text;
      break;
    case SimHostSummary:
      Options.Summary = true;
      break;
  }
}

void ConvertOptions(const RawOptions &Raw, SimOptions *Options) {
  const std::vector<SimOptionWord> Words = GivenOptions(Raw);
  SimOptionSettings Settings;
  SimOptionDefaults(&Settings);
  // Room for the longest value a message may quote.
  size_t Longest = 0;
  for (const SimOptionWord &Word : Words) {
    if (Word.Value != nullptr) Longest = std::max(Longest, std::strlen(Word.Value));
  }
  std::vector<char> Text(Longest + 512);
  SimOptionMessage Message{Text.data(), static_cast<uint32_t>(Text.size()), 0};
  const SimOptionHostSink Host{&TakeHostOption, Options};
  if (!SimOptionsConvert(Words.data(), static_cast<uint32_t>(Words.size()), &Settings, &Host,
                         &Message)) {
    throw OptionError(Text.data());
  }
  // Byte for byte, padding included, so that equal platforms compare equal.
  std::memcpy(&Options->Platform, &Settings.Platform, sizeof(SimConfig));
  Options->Firmware.McfgBase.reset();
  if (Settings.McfgPresent) Options->Firmware.McfgBase = Settings.McfgBase;
  Options->Firmware.FadtBase.reset();
  if (Settings.FadtPresent) Options->Firmware.FadtBase = Settings.FadtBase;
}

void ReadFlashFile(SimOptions *Options) {
  if (Options->FlashFile.empty()) return;
  Options->InitialFlash = ReadWholeFile("--flash", Options->FlashFile);
  const uint64_t Expected = SimConfigFlashSize(&Options->Platform);
  if (Options->InitialFlash.size() != Expected) {
    throw OptionError("--flash: '" + Options->FlashFile + "' holds " +
                      std::to_string(Options->InitialFlash.size()) +
                      " bytes, but the simulated flash is " + std::to_string(Expected) + " bytes");
  }
}

// A board's own backup of its BIOS window, placed where the board's chipset maps
// it in the generated flash.
void ReadWindowFile(SimOptions *Options) {
  if (Options->WindowFile.empty()) return;
  const std::vector<uint8_t> Window = ReadWholeFile("--window", Options->WindowFile);
  if (Window.size() != SIM_BIOS_WINDOW_SIZE) {
    throw OptionError("--window: '" + Options->WindowFile + "' holds " +
                      std::to_string(Window.size()) + " bytes; a BIOS window is " +
                      std::to_string(SIM_BIOS_WINDOW_SIZE) + " bytes");
  }
  const uint32_t FlashSize = SimConfigFlashSize(&Options->Platform);
  std::vector<uint8_t> Flash(FlashSize);
  SimGenerateImage(&Options->Platform, Flash.data());
  if (FlashSize == 0 || !SimPlaceBiosWindow(Flash.data(), FlashSize, Window.data())) {
    throw OptionError(
        "--window: the generated flash has no BIOS region that ends 8 MiB or more "
        "into it");
  }
  Options->InitialFlash = std::move(Flash);
}

}  // namespace

SimParseOutcome ParseSimOptions(int Argc, const char *const *Argv, SimOptions *Options,
                                std::string *Message) {
  *Options = SimOptions{};
  SimConfigDefaults(&Options->Platform);
  Message->clear();

  // Split at the first lone "--": what follows belongs to the application unread.
  std::vector<std::string> Own;
  std::vector<std::string> After;
  bool SeenSeparator = false;
  for (int I = 1; I < Argc; I++) {
    std::string Arg = Argv[I];
    if (!SeenSeparator && Arg == "--") {
      SeenSeparator = true;
    } else if (SeenSeparator) {
      After.push_back(Arg);
    } else {
      Own.push_back(Arg);
    }
  }

  CLI::App App{
      "pchflash-sim [OPTIONS] [--] ARG...: runs pchflash.efi ARG... once on a simulated Intel "
      "PCH platform. Options begin with \"--\"; every other argument goes to the application.",
      "pchflash-sim"};
  App.allow_extras(true);
  RawOptions Raw;
  AddOptions(&App, &Raw);

  std::vector<std::string> Reversed(Own.rbegin(), Own.rend());  // CLI11 parses from the back
  try {
    App.parse(Reversed);
  } catch (const CLI::CallForHelp &) {
    *Message = App.help();
    return SimParseOutcome::Help;
  } catch (const CLI::ParseError &Error) {
    *Message = std::string("pchflash-sim: ") + Error.what();
    return SimParseOutcome::UsageError;
  }

  try {
    for (const std::string &Arg : App.remaining()) {
      if (Arg.size() > 2 && Arg.compare(0, 2, "--") == 0) {
        throw OptionError(Arg +
                          ": unknown option (application arguments that begin with "
                          "\"--\" go after a lone \"--\")");
      }
      Options->Arguments.push_back(Arg);
    }
    Options->Arguments.insert(Options->Arguments.end(), After.begin(), After.end());
    ConvertOptions(Raw, Options);
    ReadFlashFile(Options);
    ReadWindowFile(Options);
  } catch (const OptionError &Error) {
    *Message = "pchflash-sim: " + Error.Text();
    return SimParseOutcome::UsageError;
  }

  Options->Firmware.Argv.clear();
  Options->Firmware.Argv.push_back(u"pchflash.efi");
  for (const std::string &Arg : Options->Arguments) {
    Options->Firmware.Argv.push_back(HostUtf8ToUcs2(Arg));
  }
  return SimParseOutcome::Run;
}

SimConfig PlatformConfigOf(const SimOptions &Options) {
  SimConfig Config = Options.Platform;
  Config.InitialFlash = Options.InitialFlash.empty() ? nullptr : Options.InitialFlash.data();
  Config.InitialFlashSize = Options.InitialFlash.size();
  return Config;
}
