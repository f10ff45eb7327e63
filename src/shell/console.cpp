// Console output: an 8-bit format text with arguments, formatted into a pool
// buffer and written to ConOut with OutputString (in pieces from a stack buffer
// when no pool memory is left).
#include "shell/console.h"

#include "base/firmware.h"

const CHAR8 *const StatusTextTable[39] = {
    "Success",                // 0
    "Warning Unknown Glyph",  // warning 1
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",  // warning 5
    "Load Error",          // error 1
    "Invalid Parameter",
    "Unsupported",
    "Bad Buffer Size",
    "Buffer Too Small",
    "Not Ready",
    "Device Error",
    "Write Protected",
    "Out of Resources",
    "Volume Corrupt",  // error 10
    "Volume Full",
    "No Media",
    "Media changed",
    "Not Found",
    "Access Denied",
    "No Response",
    "No mapping",
    "Time out",
    "Not started",
    "Already started",  // error 20
    "Aborted",
    "ICMP Error",
    "TFTP Error",
    "Protocol Error",
    "Incompatible Version",
    "Security Violation",
    "CRC Error",
    "End of Media",
    "Reserved (29)",
    "Reserved (30)",  // error 30
    "End of File",
    "Invalid Language",
    "Compromised Data",  // error 33
};

namespace {

constexpr CHAR8 DigitCharacters[] = "0123456789ABCDEF";
constexpr UINT64 WarningCount = 5;
constexpr UINT64 ErrorCount = 33;
// The first error's entry: errors 1..33 follow success and the five warnings.
constexpr UINT64 FirstErrorIndex = WarningCount + 1;

// Widths and precisions beyond any print buffer behave alike; capping them keeps
// the arithmetic below from wrapping.
constexpr UINT64 FieldLimit = 0xFFFFFFFF;

constexpr CHAR16 LineFeed = 0x0A;
constexpr CHAR16 CarriageReturn = 0x0D;

// The console side of a print that goes out in pieces (PrintInPieces).
struct PieceSink {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;  // may be none: the text is only counted
  CHAR16 *Piece;                             // PrintPieceChars + 1 characters
  UINTN CharsBefore;                         // characters of the pieces already written
  BOOLEAN OutputFailed;
};

struct Output {
  UINT8 *Position;
  const UINT8 *EndMark;
  FormatOutputWidth Width;
  PieceSink *Sink;  // none: the end mark is the end of the caller's buffer
};

struct Directive {
  BOOLEAN LeftJustify;
  BOOLEAN PlusPrefix;
  BOOLEAN BlankPrefix;
  BOOLEAN Separators;
  BOOLEAN ZeroFill;
  BOOLEAN Long;
  BOOLEAN WidthGiven;
  BOOLEAN PrecisionGiven;
  UINT64 Width;
  UINT64 Precision;
};

// A text handed to PutText: 8-bit or UCS-2.
struct TextRef {
  const VOID *Characters;
  BOOLEAN Wide;
};

INTN PadCount(UINT64 Total, UINT64 Used) { return Total > Used ? (INTN)(Total - Used) : 0; }

// The end mark of a piece: a whole piece, or less where the print's limit of
// PrintBufferChars characters comes first.
const UINT8 *PieceEndMark(const PieceSink *Sink) {
  UINTN Remaining = PrintBufferChars - Sink->CharsBefore;
  UINTN Room = Remaining < PrintPieceChars ? Remaining : PrintPieceChars;
  return reinterpret_cast<const UINT8 *>(Sink->Piece + Room);
}

VOID WritePiece(PieceSink *Sink, CHAR16 *End) {
  *End = 0;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console = Sink->Console;
  if (Console != nullptr && Console->OutputString != nullptr &&
      EFI_ERROR(Console->OutputString(Console, Sink->Piece))) {
    Sink->OutputFailed = TRUE;
  }
  Sink->CharsBefore += (UINTN)(End - Sink->Piece);
}

// A piece that has just filled goes to the console and the buffer starts over,
// unless the print has reached its limit. Draining at once keeps the output
// position below the end mark while the print may go on, so the engine's
// "room left" tests mean the same as with one big buffer.
VOID DrainFullPiece(Output *Out) {
  PieceSink *Sink = Out->Sink;
  if (Sink == nullptr || Out->Position < Out->EndMark) {
    return;
  }
  CHAR16 *End = reinterpret_cast<CHAR16 *>(Out->Position);
  if (Sink->CharsBefore + (UINTN)(End - Sink->Piece) >= PrintBufferChars) {
    return;
  }
  WritePiece(Sink, End);
  Out->Position = reinterpret_cast<UINT8 *>(Sink->Piece);
  Out->EndMark = PieceEndMark(Sink);
}

// Every character of the output goes through here.
VOID Fill(Output *Out, INTN Count, CHAR16 Character) {
  while (Count > 0 && Out->Position < Out->EndMark) {
    UINT8 *Before = Out->Position;
    Out->Position = FillRepeat(Out->Position, Out->EndMark, Count, Character, Out->Width);
    Count -= (INTN)((Out->Position - Before) / Out->Width);
    DrainFullPiece(Out);
  }
}

VOID Put(Output *Out, CHAR16 Character) { Fill(Out, 1, Character); }

VOID PutBlanks(Output *Out, INTN Count) { Fill(Out, Count, u' '); }

VOID PutLineEnd(Output *Out) {
  Put(Out, CarriageReturn);
  Put(Out, LineFeed);
}

CHAR16 TextAt(TextRef Text, UINT64 Index) {
  if (Text.Wide) {
    return static_cast<const CHAR16 *>(Text.Characters)[Index];
  }
  return (UINT8) static_cast<const CHAR8 *>(Text.Characters)[Index];
}

VOID PutText(Output *Out, const Directive *D, TextRef Text, UINT64 DefaultPrecision) {
  UINT64 Precision = D->PrecisionGiven ? D->Precision : DefaultPrecision;
  UINT64 Length = 0;
  while (TextAt(Text, Length) != 0 && (!D->PrecisionGiven || Length < Precision)) {
    Length++;
  }
  INTN LeadingBlanks = PadCount(Precision, Length);
  if (Length >= Precision) {
    Precision = Length;
  }
  if (D->WidthGiven && !D->LeftJustify) {
    PutBlanks(Out, PadCount(D->Width, Precision));
  }
  PutBlanks(Out, LeadingBlanks);
  for (UINT64 Index = 0; Index < Length && Out->Position < Out->EndMark; Index++) {
    Put(Out, TextAt(Text, Index));
  }
  if (D->WidthGiven && D->LeftJustify) {
    PutBlanks(Out, PadCount(D->Width, Precision));
  }
}

VOID PutNarrowText(Output *Out, const Directive *D, const CHAR8 *Text, UINT64 DefaultPrecision) {
  PutText(Out, D, TextRef{Text, FALSE}, DefaultPrecision);
}

VOID PutNumber(Output *Out, const Directive *D, UINT64 Magnitude, CHAR8 Prefix, UINT32 Radix) {
  BOOLEAN Separators = D->Separators && Radix == 10;
  BOOLEAN ZeroFill = D->ZeroFill && !Separators;
  UINT64 Precision = D->PrecisionGiven ? D->Precision : 1;
  if (Separators) {
    Precision = 1;
  }

  CHAR8 Scratch[ValueTextChars];
  CHAR8 *MostSignificant = DigitsReversed(Scratch, Magnitude, Radix);
  UINT64 DigitCount = (UINT64)(MostSignificant - Scratch);
  if (Magnitude == 0 && Precision == 0) {
    DigitCount = 0;
  }
  UINT64 Length = DigitCount;
  if (Separators && Length > 0) {
    Length += (Length - 1) / 3;
  }
  if (Prefix != 0) {
    Length++;
    Precision++;
  }
  if (ZeroFill && D->WidthGiven && !D->LeftJustify && !D->PrecisionGiven) {
    Precision = D->Width;
  }
  if (Precision < Length) {
    Precision = Length;
  }

  if (D->WidthGiven && !D->LeftJustify) {
    PutBlanks(Out, PadCount(D->Width, Precision));
  }
  if (Prefix != 0) {
    Put(Out, (CHAR16)Prefix);
  }
  Fill(Out, PadCount(Precision, Length), u'0');
  for (UINT64 Index = 0; Index < DigitCount; Index++) {
    Put(Out, (CHAR16)MostSignificant[-(INTN)Index]);
    UINT64 Remaining = DigitCount - 1 - Index;
    if (Separators && Remaining > 0 && Remaining % 3 == 0) {
      Put(Out, u',');
    }
  }
  if (D->WidthGiven && D->LeftJustify) {
    PutBlanks(Out, PadCount(D->Width, Precision));
  }
}

VOID FormatGuid(CHAR8 *Scratch, const UINT8 *Bytes) {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  MemCopy(&Data1, Bytes, sizeof(Data1));
  MemCopy(&Data2, Bytes + 4, sizeof(Data2));
  MemCopy(&Data3, Bytes + 6, sizeof(Data3));
  const UINT8 *Data4 = Bytes + 8;
  FormatInto(Scratch, ValueTextChars, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", Data1,
             (UINT32)Data2, (UINT32)Data3, (UINT32)Data4[0], (UINT32)Data4[1], (UINT32)Data4[2],
             (UINT32)Data4[3], (UINT32)Data4[4], (UINT32)Data4[5], (UINT32)Data4[6],
             (UINT32)Data4[7]);
}

VOID FormatTime(CHAR8 *Scratch, const UINT8 *Bytes) {
  EFI_TIME Time;
  MemCopy(&Time, Bytes, sizeof(Time));
  FormatInto(Scratch, ValueTextChars, "%02d/%02d/%04d  %02d:%02d", (UINT32)Time.Month,
             (UINT32)Time.Day, (UINT32)Time.Year, (UINT32)Time.Hour, (UINT32)Time.Minute);
}

// The status's table text, or none when it has no entry.
const CHAR8 *StatusText(EFI_STATUS Status) {
  if (EFI_ERROR(Status)) {
    UINT64 Code = Status & ~EFI_ERROR_BIT;
    if (Code >= 1 && Code <= ErrorCount) {
      return StatusTextTable[Code - 1 + FirstErrorIndex];
    }
    return nullptr;
  }
  if (Status <= WarningCount) {
    return StatusTextTable[Status];
  }
  return nullptr;
}

// Reads a width or precision number starting at *Format; leaves *Format on its
// last digit.
UINT64 ReadFieldNumber(const CHAR8 **Format) {
  UINT64 Value = 0;
  const CHAR8 *Position = *Format;
  while (true) {
    Value = Value * 10 + (UINT64)(*Position - '0');
    if (Value > FieldLimit) {
      Value = FieldLimit;
    }
    if (Position[1] < '0' || Position[1] > '9') {
      break;
    }
    Position++;
  }
  *Format = Position;
  return Value;
}

UINT64 CapField(UINT64 Value) { return Value > FieldLimit ? FieldLimit : Value; }

VOID SetField(Directive *D, BOOLEAN InPrecision, UINT64 Value) {
  if (InPrecision) {
    D->Precision = Value;
  } else {
    D->Width = Value;
    D->WidthGiven = TRUE;
  }
}

// Reads the flags, width, precision and size of the directive whose first
// character after the "%" is at Position; returns the position of its type
// character. A "*" takes its number from the arguments, ahead of the value.
const CHAR8 *ParseDirective(const CHAR8 *Position, va_list *Arguments, Directive *D) {
  BOOLEAN InPrecision = FALSE;
  for (;; Position++) {
    CHAR8 Flag = *Position;
    if (Flag == '-') {
      D->LeftJustify = TRUE;
    } else if (Flag == '+') {
      D->PlusPrefix = TRUE;
    } else if (Flag == ' ') {
      D->BlankPrefix = TRUE;
    } else if (Flag == ',') {
      D->Separators = TRUE;
    } else if (Flag == '.') {
      InPrecision = TRUE;
      D->PrecisionGiven = TRUE;
      D->Precision = 0;
    } else if (Flag == '*') {
      SetField(D, InPrecision, CapField(va_arg(*Arguments, UINT64)));
    } else if (Flag >= '0' && Flag <= '9') {
      // A leading "0" of the width asks for zero fill and is also its first digit.
      if (!InPrecision && Flag == '0') {
        D->ZeroFill = TRUE;
      }
      SetField(D, InPrecision, ReadFieldNumber(&Position));
    } else if (Flag == 'L' || Flag == 'l') {
      D->Long = TRUE;
    } else {
      return Position;
    }
  }
}

// A line end in the format text, inside a directive or not: LF, LF CR and CR LF
// each become CR LF, a lone CR stays. Returns where the format goes on.
const CHAR8 *PutFormatLineEnd(Output *Out, const CHAR8 *Position) {
  if (Position[0] == '\n') {
    PutLineEnd(Out);
    return Position[1] == '\r' ? Position + 2 : Position + 1;
  }
  if (Position[1] == '\n') {
    PutLineEnd(Out);
    return Position + 2;
  }
  Put(Out, CarriageReturn);
  return Position + 1;
}

// A 32-bit argument is the low half of its 64-bit slot.
UINT64 UnsignedArgument(const Directive *D, va_list *Arguments) {
  return D->Long ? va_arg(*Arguments, UINT64) : (UINT64)va_arg(*Arguments, UINT32);
}

CHAR8 SignPrefix(const Directive *D) { return D->PlusPrefix ? '+' : D->BlankPrefix ? ' ' : 0; }

VOID EmitSigned(Output *Out, const Directive *D, va_list *Arguments) {
  INT64 Value = D->Long ? va_arg(*Arguments, INT64) : (INT64)va_arg(*Arguments, INT32);
  BOOLEAN Negative = Value < 0;
  UINT64 Magnitude = Negative ? 0 - (UINT64)Value : (UINT64)Value;
  PutNumber(Out, D, Magnitude, Negative ? '-' : SignPrefix(D), 10);
}

// "+" means nothing for an unsigned value; a blank prefix still shows.
VOID EmitUnsigned(Output *Out, const Directive *D, va_list *Arguments) {
  PutNumber(Out, D, UnsignedArgument(D, Arguments), D->BlankPrefix ? ' ' : 0, 10);
}

VOID EmitHex(Output *Out, const Directive *D, va_list *Arguments) {
  PutNumber(Out, D, UnsignedArgument(D, Arguments), SignPrefix(D), 16);
}

// An address takes no prefix.
VOID EmitPointer(Output *Out, const Directive *D, va_list *Arguments) {
  PutNumber(Out, D, (UINT64)(UINTN)va_arg(*Arguments, VOID *), 0, 16);
}

VOID EmitCharacter(Output *Out, const Directive *D, va_list *Arguments) {
  CHAR16 Character[2] = {(CHAR16)(va_arg(*Arguments, UINT32) & 0xFFFF), 0};
  PutText(Out, D, TextRef{Character, TRUE}, 1);
}

VOID EmitNarrowText(Output *Out, const Directive *D, va_list *Arguments) {
  const CHAR8 *Text = va_arg(*Arguments, const CHAR8 *);
  PutNarrowText(Out, D, Text != nullptr ? Text : "<null string>", 0);
}

VOID EmitWideText(Output *Out, const Directive *D, va_list *Arguments) {
  const CHAR16 *Text = va_arg(*Arguments, const CHAR16 *);
  if (Text == nullptr) {
    PutNarrowText(Out, D, "<null string>", 0);
  } else {
    PutText(Out, D, TextRef{Text, TRUE}, 0);
  }
}

// "%g" and "%t": the record behind the pointer, formatted into scratch text.
VOID EmitRecord(Output *Out, const Directive *D, va_list *Arguments, const CHAR8 *NullText,
                VOID (*FormatRecord)(CHAR8 *Scratch, const UINT8 *Bytes)) {
  const UINT8 *Bytes = va_arg(*Arguments, const UINT8 *);
  if (Bytes == nullptr) {
    PutNarrowText(Out, D, NullText, 1);
    return;
  }
  CHAR8 Scratch[ValueTextChars];
  FormatRecord(Scratch, Bytes);
  PutNarrowText(Out, D, Scratch, 1);
}

VOID EmitStatus(Output *Out, const Directive *D, va_list *Arguments) {
  EFI_STATUS Status = va_arg(*Arguments, EFI_STATUS);
  const CHAR8 *Text = StatusText(Status);
  CHAR8 Scratch[ValueTextChars];
  if (Text == nullptr) {
    FormatInto(Scratch, ValueTextChars, "%08X", (UINT32)(Status & 0xFFFFFFFF));
    Text = Scratch;
  }
  PutNarrowText(Out, D, Text, 1);
}

// Writes the directive whose type character is at Type, taking its value from
// the arguments; returns where the format goes on.
const CHAR8 *EmitDirective(Output *Out, Directive *D, const CHAR8 *Type, va_list *Arguments) {
  switch (*Type) {
    case 0:
      // The format ended inside the directive: only a width already given shows.
      if (D->WidthGiven) {
        PutBlanks(Out, PadCount(D->Width, 0));
      }
      return Type;
    case '\n':
    case '\r':
      return PutFormatLineEnd(Out, Type);
    case 'd':
      EmitSigned(Out, D, Arguments);
      break;
    case 'u':
      EmitUnsigned(Out, D, Arguments);
      break;
    case 'X':
      D->ZeroFill = TRUE;
      EmitHex(Out, D, Arguments);
      break;
    case 'x':
      EmitHex(Out, D, Arguments);
      break;
    case 'p':
      D->ZeroFill = TRUE;
      EmitPointer(Out, D, Arguments);
      break;
    case 'c':
      EmitCharacter(Out, D, Arguments);
      break;
    case 'a':
      EmitNarrowText(Out, D, Arguments);
      break;
    case 's':
    case 'S':
      EmitWideText(Out, D, Arguments);
      break;
    case 'g':
      EmitRecord(Out, D, Arguments, "<null guid>", FormatGuid);
      break;
    case 't':
      EmitRecord(Out, D, Arguments, "<null time>", FormatTime);
      break;
    case 'r':
      EmitStatus(Out, D, Arguments);
      break;
    default: {
      // "%%" and any unknown type print the type character itself.
      CHAR8 Single[2] = {*Type, 0};
      PutNarrowText(Out, D, Single, 1);
      break;
    }
  }
  return Type + 1;
}

// Formats one directive; *Format points at the "%" and is left on the character
// after the directive (or on the format's terminator).
VOID FormatDirective(Output *Out, const CHAR8 **Format, va_list *Arguments) {
  Directive D = {};
  const CHAR8 *Type = ParseDirective(*Format + 1, Arguments, &D);
  *Format = EmitDirective(Out, &D, Type, Arguments);
}

// Walks the format until its end or until the output has reached its end mark.
VOID FormatWalk(Output *Out, const CHAR8 *Format, va_list Arguments) {
  va_list Args;
  va_copy(Args, Arguments);
  while (Format != nullptr && *Format != 0 && Out->Position < Out->EndMark) {
    CHAR8 Character = *Format;
    if (Character == '\n' || Character == '\r') {
      Format = PutFormatLineEnd(Out, Format);
    } else if (Character == '%') {
      FormatDirective(Out, &Format, &Args);
    } else {
      Put(Out, (CHAR16)(UINT8)Character);
      Format++;
    }
  }
  va_end(Args);
}

// A print without pool memory, so that a message such as the warning not to
// reset still appears when memory is short. The formatting engine cannot stop
// in the middle of a directive and resume later, so instead of resuming it, the
// output drains: the text is formatted in one walk into a small buffer on the
// stack, and whenever the buffer fills it is written with OutputString and
// reused (DrainFullPiece). The walk stops at the same PrintBufferChars limit as
// with the pool buffer, so the console receives the same characters, only in
// several OutputString calls; a CR LF may be split between two of them.
UINTN PrintInPieces(const CHAR8 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                    va_list Arguments) {
  CHAR16 Piece[PrintPieceChars + 1];
  PieceSink Sink = {Console, Piece, 0, FALSE};
  Output Out = {reinterpret_cast<UINT8 *>(Piece), PieceEndMark(&Sink), FormatOutputUcs2, &Sink};
  FormatWalk(&Out, Format, Arguments);
  CHAR16 *End = reinterpret_cast<CHAR16 *>(Out.Position);
  // An empty text is written too, as the pool path writes it.
  if (End != Piece || Sink.CharsBefore == 0) {
    WritePiece(&Sink, End);
  }
  return Sink.OutputFailed ? 0 : Sink.CharsBefore;
}

}  // namespace

UINT64 DivRem64(UINT64 Value, UINT32 Divisor, UINT32 *Remainder) {
  if (Divisor == 0) {
    if (Remainder != nullptr) {
      *Remainder = 0;
    }
    return 0;
  }
  if (Remainder != nullptr) {
    *Remainder = (UINT32)(Value % Divisor);
  }
  return Value / Divisor;
}

CHAR8 *DigitsReversed(CHAR8 *Scratch, UINT64 Value, UINT32 Radix) {
  if (Radix != 16) {
    Radix = 10;
  }
  CHAR8 *Position = Scratch;
  *Position = 0;
  do {
    UINT32 Digit = 0;
    Value = DivRem64(Value, Radix, &Digit);
    *++Position = DigitCharacters[Digit];
  } while (Value != 0);
  return Position;
}

UINT8 *FillRepeat(UINT8 *Output, const UINT8 *EndMark, INTN Count, CHAR16 Character,
                  FormatOutputWidth Width) {
  for (INTN Index = 0; Index < Count && Output < EndMark; Index++) {
    Output[0] = (UINT8)(Character & 0xFF);
    if (Width == FormatOutputUcs2) {
      Output[1] = (UINT8)(Character >> 8);
    }
    Output += Width;
  }
  return Output;
}

UINTN FormatToBuffer(VOID *Buffer, UINTN CapacityChars, FormatOutputWidth Width,
                     const CHAR8 *Format, va_list Arguments) {
  if (Buffer == nullptr || CapacityChars == 0) {
    return 0;
  }
  UINT8 *Start = static_cast<UINT8 *>(Buffer);
  // The last position is kept for the terminator.
  Output Out = {Start, Start + (CapacityChars - 1) * Width, Width, nullptr};
  FormatWalk(&Out, Format, Arguments);

  // The terminator position always lies inside the buffer: FillRepeat never
  // moves past the end mark.
  Out.Position[0] = 0;
  if (Width == FormatOutputUcs2) {
    Out.Position[1] = 0;
  }
  return (UINTN)(Out.Position - Start) / Width;
}

UINTN FormatInto(CHAR8 *Buffer, UINTN CapacityChars, const CHAR8 *Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  UINTN Written = FormatToBuffer(Buffer, CapacityChars, FormatOutput8, Format, Arguments);
  va_end(Arguments);
  return Written;
}

UINTN ConsolePrintList(const CHAR8 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                       va_list Arguments) {
  CHAR16 *Text = static_cast<CHAR16 *>(PoolAllocate((PrintBufferChars + 1) * sizeof(CHAR16)));
  if (Text == nullptr) {
    return PrintInPieces(Format, Console, Arguments);
  }
  UINTN Written = FormatToBuffer(Text, PrintBufferChars + 1, FormatOutputUcs2, Format, Arguments);
  if (Console != nullptr && Console->OutputString != nullptr) {
    if (EFI_ERROR(Console->OutputString(Console, Text))) {
      Written = 0;
    }
  }
  PoolFree(Text);
  return Written;
}

UINTN ConsolePrint(const CHAR8 *Format, ...) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console =
      gFirmware.SystemTable != nullptr ? gFirmware.SystemTable->ConOut : nullptr;
  va_list Arguments;
  va_start(Arguments, Format);
  UINTN Written = ConsolePrintList(Format, Console, Arguments);
  va_end(Arguments);
  return Written;
}
