// UCS-2 text routines: plain loops over 16-bit characters ended by a zero character.
#include "shell/text.h"

UINTN StrLength(const CHAR16 *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) {
    Length++;
  }
  return Length;
}

UINTN StrBytes(const CHAR16 *Text) { return (StrLength(Text) + 1) * sizeof(CHAR16); }

CHAR16 *StrCopy(CHAR16 *Destination, const CHAR16 *Source) {
  UINTN Index = 0;
  while (Source[Index] != 0) {
    Destination[Index] = Source[Index];
    Index++;
  }
  Destination[Index] = 0;
  return Destination;
}

// Like a fixed-field copy: the n positions are always written, a terminator only
// when the source ends inside them.
CHAR16 *StrCopyN(CHAR16 *Destination, const CHAR16 *Source, UINTN Count) {
  UINTN Index = 0;
  while (Index < Count && Source[Index] != 0) {
    Destination[Index] = Source[Index];
    Index++;
  }
  while (Index < Count) {
    Destination[Index] = 0;
    Index++;
  }
  return Destination;
}

CHAR16 *StrAppend(CHAR16 *Destination, const CHAR16 *Source) {
  StrCopy(Destination + StrLength(Destination), Source);
  return Destination;
}

CHAR16 *StrAppendN(CHAR16 *Destination, const CHAR16 *Source, UINTN Count) {
  CHAR16 *End = Destination + StrLength(Destination);
  StrCopyN(End, Source, Count);
  End[Count] = 0;
  return Destination;
}

INTN StrCompare(const CHAR16 *Left, const CHAR16 *Right) {
  while (*Left != 0 && *Left == *Right) {
    Left++;
    Right++;
  }
  return (INTN)*Left - (INTN)*Right;
}

INTN StrCompareN(const CHAR16 *Left, const CHAR16 *Right, UINTN Count) {
  if (Count == 0) {
    return 0;
  }
  while (Count > 1 && *Left != 0 && *Left == *Right) {
    Left++;
    Right++;
    Count--;
  }
  return (INTN)*Left - (INTN)*Right;
}

const CHAR16 *StrFind(const CHAR16 *Text, const CHAR16 *Pattern) {
  if (*Pattern == 0) {
    return Text;
  }
  for (; *Text != 0; Text++) {
    UINTN Index = 0;
    while (Pattern[Index] != 0 && Text[Index] == Pattern[Index]) {
      Index++;
    }
    if (Pattern[Index] == 0) {
      return Text;
    }
  }
  return nullptr;
}

BOOLEAN IsHexDigit(CHAR16 Character) {
  return (Character >= u'0' && Character <= u'9') || (Character >= u'A' && Character <= u'F') ||
         (Character >= u'a' && Character <= u'f');
}
