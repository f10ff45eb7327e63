#include "shell/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_firmware.h"

namespace {

// Every variable argument is one 64-bit slot, so a table can pass each case's
// arguments as four 64-bit values; 32-bit directives read the low half.
struct FormatCase {
  const char *Format;
  std::vector<uint64_t> Arguments;
  std::string Expected;
};

std::string Format8(const char *Format, const std::vector<uint64_t> &A) {
  uint64_t Slot[4] = {0, 0, 0, 0};
  for (size_t Index = 0; Index < A.size() && Index < 4; Index++) {
    Slot[Index] = A[Index];
  }
  CHAR8 Buffer[256];
  UINTN Written = FormatInto(Buffer, sizeof(Buffer), Format, Slot[0], Slot[1], Slot[2], Slot[3]);
  std::string Text(Buffer);
  EXPECT_EQ(Text.size(), Written) << Format;
  return Text;
}

uint64_t Ptr(const void *Pointer) { return reinterpret_cast<uintptr_t>(Pointer); }
uint64_t Low32(int64_t Value) { return static_cast<uint32_t>(Value); }

const CHAR16 TenChars[] = u"0123456789";
const CHAR16 Abcdef[] = u"abcdef";
const CHAR16 Ab[] = u"ab";
const UINT8 ShellGuidBytes[16] = {0x08, 0xD0, 0x02, 0x63, 0x9B, 0x7F, 0x30, 0x4F,
                                  0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E};

TEST(FormatEngine, NumbersTextsAndUefiTypes) {
  EFI_TIME Time = {};
  Time.Year = 2020;
  Time.Month = 1;
  Time.Day = 2;
  Time.Hour = 13;
  Time.Minute = 45;
  Time.Second = 59;
  // The GUID one byte off alignment: its fields are read unaligned.
  alignas(8) UINT8 Unaligned[17] = {};
  for (int Index = 0; Index < 16; Index++) {
    Unaligned[Index + 1] = ShellGuidBytes[Index];
  }

  const FormatCase Cases[] = {
      {"Flash BIOS Size : 0x%x\n", {0x800000}, "Flash BIOS Size : 0x800000\r\n"},
      // hexadecimal
      {"%x", {255}, "FF"},
      {"%X", {0xabcdef}, "ABCDEF"},
      {"%8x", {255}, "      FF"},
      {"%08x", {255}, "000000FF"},
      {"%8X", {255}, "000000FF"},
      {"%-8X", {255}, "FF      "},
      {"%x", {0xFFFFFFFF}, "FFFFFFFF"},
      {"%x", {0x1234567800000001ULL}, "1"},  // 32-bit: the slot's low half only
      {"%lx", {~0ULL}, "FFFFFFFFFFFFFFFF"},
      {"%Lx", {0x1234567800000001ULL}, "1234567800000001"},
      {"%,x", {0x123456}, "123456"},
      {"%+x", {0x1A}, "+1A"},
      {"%.0x", {0}, ""},
      // decimal
      {"%d", {Low32(-5)}, "-5"},
      {"%5d", {Low32(-5)}, "   -5"},
      {"%-5d|", {Low32(-5)}, "-5   |"},
      {"%05d", {Low32(-5)}, "-0005"},
      {"%+d", {5}, "+5"},
      {"% d", {5}, " 5"},
      {"%+05d", {5}, "+0005"},
      {"%d", {0x80000000}, "-2147483648"},
      {"%ld", {0x8000000000000000ULL}, "-9223372036854775808"},
      {"%Ld", {0xFFFFFFFFULL}, "4294967295"},
      {"%u", {0xFFFFFFFF}, "4294967295"},
      {"%+u", {7}, "7"},
      {"%lu", {~0ULL}, "18446744073709551615"},
      {"%,d", {1234567}, "1,234,567"},
      {"%,d", {Low32(-1234)}, "-1,234"},
      {"%,d", {123}, "123"},
      {"%,d", {1000}, "1,000"},
      {"%,08d", {1234}, "   1,234"},  // zero fill gives way to the separators
      {"%.0d", {0}, ""},
      {"%.0d", {7}, "7"},
      {"%.3d", {5}, "005"},
      {"%6.3d", {Low32(-5)}, "  -005"},
      {"%08.3d", {5}, "     005"},  // a precision overrides zero fill
      {"%*d", {6, 42}, "    42"},
      {"%-*d|", {4, 42}, "42  |"},
      {"%.*d", {4, 42}, "0042"},
      {"%d", {0}, "0"},
      // pointers
      {"%p", {0x1234}, "1234"},
      {"%16p", {0xABCD}, "000000000000ABCD"},
      {"%+ p", {0x10}, "10"},
      // texts
      {"%.3s", {Ptr(Abcdef)}, "abc"},
      {"%.5s", {Ptr(Ab)}, "   ab"},
      {"%s", {0}, "<null string>"},
      {"%12s", {Ptr(TenChars)}, "  0123456789"},
      {"%-12s|", {Ptr(TenChars)}, "0123456789  |"},
      {"%S", {Ptr(Ab)}, "ab"},
      {"%.*s", {2, Ptr(Abcdef)}, "ab"},
      {"%a", {Ptr("text")}, "text"},
      {"%5a", {Ptr("ab")}, "   ab"},
      {"%a", {0}, "<null string>"},
      {"%c", {0x41}, "A"},
      {"%c", {0x12340042}, "B"},  // low 16 bits only
      {"%c|", {0}, " |"},         // the character 0 leaves one blank
      {"%3c", {0x41}, "  A"},
      // GUID, time, status
      {"%g", {Ptr(ShellGuidBytes)}, "6302D008-7F9B-4F30-87AC-60C9FEF5DA4E"},
      {"%g", {Ptr(Unaligned + 1)}, "6302D008-7F9B-4F30-87AC-60C9FEF5DA4E"},
      {"%g", {0}, "<null guid>"},
      {"%t", {Ptr(&Time)}, "01/02/2020  13:45"},
      {"%t", {0}, "<null time>"},
      {"[%12r]", {EFI_NOT_FOUND}, "[   Not Found]"},
      // single characters and incomplete directives
      {"%%", {}, "%"},
      {"100%% done", {}, "100% done"},
      {"%q", {}, "q"},
      {"%3%", {}, "  %"},
      {"ab%", {}, "ab"},
      {"ab%5", {}, "ab     "},
      {"ab%-", {}, "ab"},
      {"%d and %d", {1, 2}, "1 and 2"},
  };
  for (const FormatCase &Case : Cases) {
    EXPECT_EQ(Case.Expected, Format8(Case.Format, Case.Arguments)) << "format " << Case.Format;
  }
}

TEST(FormatEngine, LineEndsBecomeOneCarriageReturnLineFeed) {
  const FormatCase Cases[] = {
      {"a\nb", {}, "a\r\nb"},   {"a\r\nb", {}, "a\r\nb"},     {"a\n\rb", {}, "a\r\nb"},
      {"a\rb", {}, "a\rb"},     {"a\n\nb", {}, "a\r\n\r\nb"}, {"a\n\r\nb", {}, "a\r\n\r\nb"},
      {"a\r\rb", {}, "a\r\rb"}, {"\n", {}, "\r\n"},           {"a%\nb", {}, "a\r\nb"},
      {"a%\rb", {}, "a\rb"},    {"a%\n\rb", {}, "a\r\nb"},
  };
  for (const FormatCase &Case : Cases) {
    EXPECT_EQ(Case.Expected, Format8(Case.Format, Case.Arguments)) << "format " << Case.Format;
  }
}

TEST(FormatEngine, StatusTextsAreExactAndOthersPrintInHex) {
  const char *const Expected[39] = {
      "Success",
      "Warning Unknown Glyph",
      "Warning Delete Failure",
      "Warning Write Failure",
      "Warning Buffer Too Small",
      "Warning Stale Data",
      "Load Error",
      "Invalid Parameter",
      "Unsupported",
      "Bad Buffer Size",
      "Buffer Too Small",
      "Not Ready",
      "Device Error",
      "Write Protected",
      "Out of Resources",
      "Volume Corrupt",
      "Volume Full",
      "No Media",
      "Media changed",
      "Not Found",
      "Access Denied",
      "No Response",
      "No mapping",
      "Time out",
      "Not started",
      "Already started",
      "Aborted",
      "ICMP Error",
      "TFTP Error",
      "Protocol Error",
      "Incompatible Version",
      "Security Violation",
      "CRC Error",
      "End of Media",
      "Reserved (29)",
      "Reserved (30)",
      "End of File",
      "Invalid Language",
      "Compromised Data",
  };
  for (int Index = 0; Index < 39; Index++) {
    EXPECT_STREQ(Expected[Index], StatusTextTable[Index]) << "entry " << Index;
    EFI_STATUS Status = Index <= 5 ? (EFI_STATUS)Index : EFI_ENCODE_ERROR(Index - 5);
    EXPECT_EQ(Expected[Index], Format8("%r", {Status})) << "entry " << Index;
  }
  EXPECT_EQ("Success", Format8("%r", {EFI_SUCCESS}));
  EXPECT_EQ("Not Found", Format8("%r", {EFI_NOT_FOUND}));
  EXPECT_EQ("Volume Corrupt", Format8("%r", {EFI_VOLUME_CORRUPTED}));
  EXPECT_EQ("Reserved (29)", Format8("%r", {EFI_ENCODE_ERROR(29)}));
  EXPECT_EQ("Compromised Data", Format8("%r", {EFI_COMPROMISED_DATA}));
  EXPECT_EQ("00000022", Format8("%r", {EFI_ENCODE_ERROR(34)}));
  EXPECT_EQ("00000006", Format8("%r", {6}));
  EXPECT_EQ("00000000", Format8("%r", {EFI_ERROR_BIT}));
  EXPECT_EQ("00000002", Format8("%r", {EFI_NOT_AVAILABLE_YET}));
  EXPECT_EQ("12345678", Format8("%r", {0x8000000012345678ULL}));
  EXPECT_EQ("9ABCDEF0", Format8("%r", {0x123456789ABCDEF0ULL}));
}

TEST(FormatEngine, OutputIsCutAtTheEndMarkEvenInsideADirective) {
  struct CutCase {
    UINTN Capacity;
    const char *Format;
    uint64_t Argument;
    std::string Expected;
  };
  const CutCase Cases[] = {
      {5, "ab%5d", 1, "ab  "},
      {5, "abcdefgh", 0, "abcd"},
      {3, "a\nb", 0, "a\r"},
      {4, "%s", Ptr(TenChars), "012"},
      {6, "%r", EFI_NOT_FOUND, "Not F"},
      {4, "%,d", 1234567, "1,2"},
      {1, "abc", 0, ""},
      {2, "%08x", 0xFF, "0"},
  };
  for (const CutCase &Case : Cases) {
    CHAR8 Buffer[16];
    std::memset(Buffer, '#', sizeof(Buffer));
    UINTN Written = FormatInto(Buffer, Case.Capacity, Case.Format, Case.Argument);
    EXPECT_EQ(Case.Expected, std::string(Buffer)) << Case.Format;
    EXPECT_EQ(Case.Expected.size(), Written) << Case.Format;
    for (UINTN Index = Case.Capacity; Index < sizeof(Buffer); Index++) {
      EXPECT_EQ('#', Buffer[Index]) << Case.Format << " wrote past its capacity at " << Index;
    }
  }
  CHAR8 Untouched = '#';
  EXPECT_EQ(0u, FormatInto(&Untouched, 0, "abc"));
  EXPECT_EQ('#', Untouched);
}

TEST(FormatEngine, Ucs2OutputKeepsWideCharactersAnd8BitOutputTheirLowByte) {
  const CHAR16 Wide[] = {0x00E9, 0x4E2D, 0};
  CHAR8 Narrow[8];
  FormatInto(Narrow, sizeof(Narrow), "%s", Wide);
  EXPECT_EQ(std::string("\xE9\x2D"), std::string(Narrow));

  FakeFirmware Fake;
  ConsolePrint("[%s]", Wide);
  EXPECT_EQ(std::u16string(u"[\u00E9\u4E2D]"), Fake.ConsoleText);
}

TEST(FormatEngine, DigitHelpers) {
  CHAR8 Scratch[ValueTextChars];
  CHAR8 *Last = DigitsReversed(Scratch, 0, 10);
  EXPECT_EQ(Scratch + 1, Last);
  EXPECT_EQ(0, Scratch[0]);
  EXPECT_EQ('0', *Last);
  Last = DigitsReversed(Scratch, ~0ULL, 10);
  EXPECT_EQ(20, Last - Scratch);
  EXPECT_EQ("51615590737044764481", std::string(Scratch + 1, Last + 1));
  EXPECT_EQ(std::string("FEDCBA0987654321"),
            std::string(Scratch + 1, DigitsReversed(Scratch, 0x1234567890ABCDEFULL, 16) + 1));

  UINT32 Remainder = 0;
  EXPECT_EQ(1234567890123ULL, DivRem64(12345678901234ULL, 10, &Remainder));
  EXPECT_EQ(4u, Remainder);
}

class ConsolePrintTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0u, Fake.Outstanding()); }
  FakeFirmware Fake;
};

TEST_F(ConsolePrintTest, OnePoolBufferPerPrintAndOneOutputStringCall) {
  EXPECT_EQ(32u, ConsolePrint("File '%s' is %r.\r\n", u"image.bin", EFI_NOT_FOUND));
  EXPECT_EQ(std::u16string(u"File 'image.bin' is Not Found.\r\n"), Fake.ConsoleText);
  EXPECT_EQ(1u, Fake.AllocateCalls);
  EXPECT_EQ(32002u, Fake.LastAllocationSize);
  EXPECT_EQ(1u, Fake.OutputCalls);

  // An empty text still reaches the console.
  EXPECT_EQ(0u, ConsolePrint(""));
  EXPECT_EQ(2u, Fake.OutputCalls);
}

TEST_F(ConsolePrintTest, LongTextIsCutToSixteenThousandCharacters) {
  std::u16string Long(20000, u'x');
  Long[15999] = u'y';
  EXPECT_EQ(PrintBufferChars, ConsolePrint("%s", Long.c_str()));
  ASSERT_EQ(16000u, Fake.ConsoleText.size());
  EXPECT_EQ(u'y', Fake.ConsoleText.back());

  Fake.ConsoleText.clear();
  std::string Exact(16000, 'z');
  EXPECT_EQ(16000u, ConsolePrint(Exact.c_str()));
  EXPECT_EQ(16000u, Fake.ConsoleText.size());
}

TEST_F(ConsolePrintTest, FailuresGiveZero) {
  Fake.OutputStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(0u, ConsolePrint("abc"));
  EXPECT_EQ(std::u16string(u"abc"), Fake.ConsoleText);

  // Without pool memory the text still goes out, and a console error still gives 0.
  Fake.FailAllocationNumber = Fake.AllocateCalls + 1;
  EXPECT_EQ(0u, ConsolePrint("def"));
  EXPECT_EQ(std::u16string(u"abcdef"), Fake.ConsoleText);
}

// Without pool memory the text is formatted on the stack a piece at a time; the
// console must receive exactly what the pool path gives it, whatever falls on a
// piece boundary, and the print must stop at the same limit.
TEST_F(ConsolePrintTest, WithoutPoolMemoryTheSameTextReachesTheConsole) {
  // Piece boundaries fall between the CR and the LF of a line end, inside a
  // separated number and inside the padding of a file name wider than a piece.
  std::string Pieces(PrintPieceChars - 1, 'a');
  Pieces.append("\n").append(PrintPieceChars - 4, 'b').append("%,d|%-300s|%08X %r\n");
  std::u16string TooLong(20000, u'x');
  TooLong[PrintBufferChars - 1] = u'y';
  struct PrintCase {
    const char *Name;
    std::string Format;
    uint64_t Arguments[4];
  };
  const PrintCase Cases[] = {
      {"short warning", "Do not reset; run the command again.\r\n", {}},
      {"short with values", "File '%s' is %r.\r\n", {Ptr(u"image.bin"), EFI_NOT_FOUND}},
      {"several pieces", Pieces, {1234567, Ptr(u"image.bin"), 0xBEEF, EFI_VOLUME_CORRUPTED}},
      {"cut at the limit", "%s", {Ptr(TooLong.c_str())}},
  };
  for (const PrintCase &Case : Cases) {
    const uint64_t *A = Case.Arguments;
    Fake.ConsoleText.clear();
    UINTN Pooled = ConsolePrint(Case.Format.c_str(), A[0], A[1], A[2], A[3]);
    const std::u16string Expected = Fake.ConsoleText;

    Fake.ConsoleText.clear();
    Fake.FailAllocationNumber = Fake.AllocateCalls + 1;
    EXPECT_EQ(Pooled, ConsolePrint(Case.Format.c_str(), A[0], A[1], A[2], A[3])) << Case.Name;
    EXPECT_EQ(Expected, Fake.ConsoleText) << Case.Name;
  }
}

}  // namespace
