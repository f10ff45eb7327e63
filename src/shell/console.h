// Formatted console output: 8-bit format texts formatted into UCS-2 and written
// to the system table's ConOut. "%s" takes a UCS-2 text, "%r" an EFI_STATUS.
#pragma once

#include <stdarg.h>

#include "uefi/uefi.h"

constexpr UINTN PrintBufferChars = 16000;
// Characters per OutputString call, formatted on the stack, when a print finds
// no pool memory for its buffer.
constexpr UINTN PrintPieceChars = 256;
constexpr UINTN ValueTextChars = 38;

// Output width of FormatToBuffer: one byte or one UCS-2 character per character.
enum FormatOutputWidth : UINT32 { FormatOutput8 = 1, FormatOutputUcs2 = 2 };

extern const CHAR8 *const StatusTextTable[39];

UINTN ConsolePrint(const CHAR8 *Format, ...);
UINTN ConsolePrintList(const CHAR8 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                       va_list Arguments);
UINTN FormatToBuffer(VOID *Buffer, UINTN CapacityChars, FormatOutputWidth Width,
                     const CHAR8 *Format, va_list Arguments);
UINTN FormatInto(CHAR8 *Buffer, UINTN CapacityChars, const CHAR8 *Format, ...);

// Engine pieces, exposed for the formatter's own tests.
// Writes a zero character at Scratch[0], then the digits of Value from the least
// significant upwards; returns the position of the most significant digit.
CHAR8 *DigitsReversed(CHAR8 *Scratch, UINT64 Value, UINT32 Radix);
// Writes Character Count times (nothing when Count <= 0) while Output lies before
// EndMark, advancing by the output width; returns the new output position.
UINT8 *FillRepeat(UINT8 *Output, const UINT8 *EndMark, INTN Count, CHAR16 Character,
                  FormatOutputWidth Width);
UINT64 DivRem64(UINT64 Value, UINT32 Divisor, UINT32 *Remainder);
