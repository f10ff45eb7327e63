// Formatted console output: 8-bit format texts formatted into UCS-2 and written
// to the system table's ConOut. "%s" takes a UCS-2 text, "%r" an EFI_STATUS.
#pragma once

#include <stdarg.h>

#include "uefi/uefi.h"

constexpr UINTN PrintBufferChars = 16000;
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
