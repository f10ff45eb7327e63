// The formatter with a format text and arguments drawn from the input. Each
// directive takes its arguments as the formatter reads them ("*" a number, the
// text and record types a pointer), so every pointer handed over is to a sound,
// zero-ended buffer, and every number comes from the input.
#include <cstdarg>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "shell/console.h"

namespace {

constexpr int ArgumentSlots = 24;

UINTN FormatWithSlots(VOID *Buffer, UINTN Capacity, FormatOutputWidth Width, const CHAR8 *Format,
                      ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  UINTN Written = FormatToBuffer(Buffer, Capacity, Width, Format, Arguments);
  va_end(Arguments);
  return Written;
}

bool TakesPointer(char Type) {
  return Type == 'a' || Type == 's' || Type == 'S' || Type == 'g' || Type == 't';
}
bool TakesNumber(char Type) {
  return Type == 'd' || Type == 'u' || Type == 'X' || Type == 'x' || Type == 'p' || Type == 'c' ||
         Type == 'r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  InputReader Input(Data, Size);
  const uint8_t Shape = Input.Byte();
  const FormatOutputWidth Width = (Shape & 1) != 0 ? FormatOutputUcs2 : FormatOutput8;
  const UINTN Capacity = Shape >> 1;  // 0 to 127 characters
  std::string Format = Input.Text();

  // Texts: each is 64 bytes of input, zero-ended both as 8-bit and as UCS-2 text,
  // and long enough for a GUID or a time record.
  std::vector<std::vector<uint8_t>> Texts;
  uint64_t Slots[ArgumentSlots] = {};
  int Used = 0;
  for (size_t Percent = 0; Percent < Format.size(); Percent++) {
    if (Format[Percent] != '%') continue;
    // What the directive takes, as ParseDirective and EmitDirective read it.
    int Stars = 0;
    size_t Type = Percent + 1;
    for (; Type < Format.size(); Type++) {
      char C = Format[Type];
      if (C == '*') {
        Stars++;
      } else if (!(C == '-' || C == '+' || C == ' ' || C == ',' || C == '.' || C == 'l' ||
                   C == 'L' || (C >= '0' && C <= '9'))) {
        break;
      }
    }
    const char TypeChar = Type < Format.size() ? Format[Type] : 0;
    const int Takes = Stars + (TakesPointer(TypeChar) || TakesNumber(TypeChar) ? 1 : 0);
    if (Used + Takes > ArgumentSlots) {
      Format.resize(Percent);  // the arguments end here, so does the format
      break;
    }
    for (int I = 0; I < Stars; I++) Slots[Used++] = Input.Number();
    if (TakesPointer(TypeChar)) {
      std::vector<uint8_t> Text(66, 0);
      for (size_t I = 0; I < 64; I++) Text[I] = Input.Byte();
      Texts.push_back(std::move(Text));
      Slots[Used++] = reinterpret_cast<uintptr_t>(Texts.back().data());
    } else if (TakesNumber(TypeChar)) {
      Slots[Used++] = Input.Number();
    }
    Percent = Type < Format.size() ? Type : Format.size();
  }
  // Exactly the capacity, so a write past it is caught.
  std::vector<uint8_t> Buffer(Capacity * Width, 0xCC);
  UINTN Written =
      FormatWithSlots(Buffer.data(), Capacity, Width, Format.c_str(), Slots[0], Slots[1], Slots[2],
                      Slots[3], Slots[4], Slots[5], Slots[6], Slots[7], Slots[8], Slots[9],
                      Slots[10], Slots[11], Slots[12], Slots[13], Slots[14], Slots[15], Slots[16],
                      Slots[17], Slots[18], Slots[19], Slots[20], Slots[21], Slots[22], Slots[23]);
  // The text and its terminator lie inside the buffer.
  if (Capacity != 0 && (Written >= Capacity || Buffer[Written * Width] != 0)) __builtin_trap();
  return 0;
}
