// UCS-2 text routines: the command line, file names and everything else the
// shell hands over are 16-bit characters ended by a zero character.
#pragma once

#include "uefi/uefi.h"

UINTN StrLength(const CHAR16 *Text);
UINTN StrBytes(const CHAR16 *Text);
CHAR16 *StrCopy(CHAR16 *Destination, const CHAR16 *Source);
CHAR16 *StrCopyN(CHAR16 *Destination, const CHAR16 *Source, UINTN Count);
CHAR16 *StrAppend(CHAR16 *Destination, const CHAR16 *Source);
CHAR16 *StrAppendN(CHAR16 *Destination, const CHAR16 *Source, UINTN Count);
INTN StrCompare(const CHAR16 *Left, const CHAR16 *Right);
INTN StrCompareN(const CHAR16 *Left, const CHAR16 *Right, UINTN Count);
const CHAR16 *StrFind(const CHAR16 *Text, const CHAR16 *Pattern);

BOOLEAN IsHexDigit(CHAR16 Character);
