// The option language of pchflash-sim and of pchflash-sim.efi's options file: one
// table of every option (its name, the form of its value, its help text and what
// it sets up) and the one converter both front ends hand their words to. The front
// ends only split words: pchflash-sim's command line with CLI11, pchflash-sim.opt
// from its file. Freestanding: no C library, no allocation.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/regs/address_map.h"
#include "sim/sim_platform.h"

// Where the simulated platform decodes PCI configuration space, and so where the
// ACPI MCFG table the firmware gives the application puts it unless told otherwise.
constexpr uint64_t SIM_DEFAULT_MCFG_BASE = ECAM_BASE;
// The ACPI I/O base the FADT gives unless told otherwise: where the simulated PMC
// decodes it.
constexpr uint16_t SIM_DEFAULT_FADT_BASE = 0x1800;

// What the options set up for a run, on the host and in the real shell alike.
struct SimOptionSettings {
  SimConfig Platform;  // InitialFlash stays null
  // The ECAM base the ACPI tables given to the application name; not present: the
  // application sees no ACPI tables at all.
  bool McfgPresent;
  uint64_t McfgBase;
  // The FADT's PM1a event block (the ACPI I/O base; the PM timer block 8 above it);
  // not present: the tables hold no FADT.
  bool FadtPresent;
  uint16_t FadtBase;
};

void SimOptionDefaults(SimOptionSettings *Settings);

enum SimOptionForm : uint32_t {
  SimFormFlag,          // no value
  SimFormHex,           // hexadecimal, with or without 0x, up to Max
  SimFormCount,         // decimal, Min to Max
  SimFormRange,         // BASE:LIMIT, hexadecimal flash-linear addresses, BASE <= LIMIT
  SimFormChip,          // a part name of the chip models (any case), or 2 or 3 ID bytes in hex
  SimFormKeywordOrHex,  // one of Keywords (any case), or hexadecimal up to Max
  SimFormHexBytes,      // an even number of hexadecimal digits, one byte per pair
  SimFormKeywordHex,    // KEYWORD=HEX: one of Keywords (any case), '=', hexadecimal up to Max
  SimFormText,          // anything (file and directory names)
  SimFormPch,           // a generation name of the simulator's PCH models (any case)
  SimFormRegion,        // N:BASE:LIMIT, decimal region number, then a Range
};

// Who takes the option: both front ends, or the host program only (pchflash-sim.efi
// refuses those, naming why).
enum SimOptionScope : uint32_t {
  SimScopePlatform,      // the simulated platform and the firmware's ACPI tables
  SimScopeHostFiles,     // files and outputs of the host program
  SimScopeHostFirmware,  // the host's firmware model; the real shell has its own
};

// The host program's own options, which it applies to its own configuration from
// the converted value.
enum SimHostOption : uint32_t {
  SimHostNone,  // a platform option
  SimHostHelp,
  SimHostRoot,
  SimHostFailAlloc,
  SimHostFullFlashPrepare,
  SimHostEfiDebug,
  SimHostEfiDebugBytes,
  SimHostDebugHob,
  SimHostReadOnly,
  SimHostVolumeBytes,
  SimHostFileFault,
  SimHostFlash,
  SimHostSaveFlash,
  SimHostWindow,
  SimHostTrace,
  SimHostReport,
  SimHostSummary,
};

// A converted value: the fields its form gives.
struct SimOptionValue {
  uint64_t Number;   // Hex, Count, KeywordOrHex and KeywordHex numbers; HexBytes: byte count
  int32_t Choice;    // index into Keywords (-1: a number was given); Chip, Pch: the model
                     // index; Region: the region number
  SimRange Range;    // Range
  const char *Text;  // the value as given
};

// Options that draw on one set of registers together.
struct SimOptionPool {
  uint32_t Size;
  const char *Blamed;  // the option a refusal names
  const char *What;    // "protected-range registers (...)"
};

// Unset fields are zero: no limit, no keywords, given once, taken by both front ends.
struct SimOptionRow {
  const char *Name = nullptr;  // with its leading "--"
  SimOptionForm Form = SimFormFlag;
  uint64_t Min = 0;                       // Count
  uint64_t Max = 0;                       // Hex, Count, KeywordOrHex, KeywordHex
  const char *const *Keywords = nullptr;  // KeywordOrHex, KeywordHex: null-terminated
  const char *Expected = nullptr;  // what a bad value "is not", where the form's words do not fit
  const char *ExpectedNumber = nullptr;  // KeywordHex: the same for a bad number after '='
  bool Repeats = false;                  // may be given more than once, each value applied in order
  bool Preset = false;                  // applied before every other option, which then win over it
  const char *Excludes = nullptr;       // an option that cannot be given with this one
  const SimOptionPool *Pool = nullptr;  // registers shared with other options
  SimOptionScope Scope = SimScopePlatform;
  SimHostOption Host = SimHostNone;  // host options: which one
  bool SimConfig::*Flag = nullptr;   // a platform flag: the field it sets
  void (*Set)(SimOptionSettings *Settings, const SimOptionValue &Value) = nullptr;  // platform
  const char *Help = nullptr;
};

uint32_t SimOptionCount();
const SimOptionRow *SimOptionAt(uint32_t Index);
// The row of the option named by Name's first Length characters ("--chip"); null
// when there is none.
const SimOptionRow *SimOptionFind(const char *Name, size_t Length);

// One option as a front end read it: its row and its value (null for a flag).
struct SimOptionWord {
  const SimOptionRow *Row;
  const char *Value;
};

// A message being written into a caller's buffer, always zero-ended, cut at its end.
struct SimOptionMessage {
  char *Out;
  uint32_t Size;
  uint32_t Used;
};
void SimMessagePut(SimOptionMessage *Message, const char *Text);
void SimMessagePutDecimal(SimOptionMessage *Message, uint64_t Value);

// Receives each host option's converted value, in table order.
struct SimOptionHostSink {
  void (*Take)(void *Context, const SimOptionRow &Row, const SimOptionValue &Value);
  void *Context;
};

// Converts the given options row by row in table order (presets first) into
// Settings, which the caller has set to its defaults. Host options go to Host (none:
// the caller refused them already). On the first bad value returns false and
// appends one line to Message: "--option: what is wrong" (no line end).
bool SimOptionsConvert(const SimOptionWord *Words, uint32_t WordCount, SimOptionSettings *Settings,
                       const SimOptionHostSink *Host, SimOptionMessage *Message);

// Number syntax of the options, over Text's first Length characters: false on
// anything else, including a value above Max.
bool SimParseHex(const char *Text, size_t Length, uint64_t Max, uint64_t *Value);
bool SimParseDecimal(const char *Text, size_t Length, uint64_t Max, uint64_t *Value);
// An even number of hexadecimal digits (zero-ended), at most Capacity bytes; Out may
// be null to check only. Length: the number of bytes.
bool SimParseHexBytes(const char *Text, uint8_t *Out, uint32_t Capacity, uint32_t *Length);
