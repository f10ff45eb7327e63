#include "shell/params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/firmware.h"
#include "fake_firmware.h"
#include "shell/list.h"
#include "shell/text.h"

namespace {

const ParamItem ValueTable[] = {
    {u"-r", Switch},       {u"-o", OneValue},     {u"-two", TwoValues},
    {u"-many", AllValues}, {u"-D", PrefixSwitch}, {nullptr, 7},
};

// The same without the prefix entry, whose look-up allocates a scratch copy.
const ParamItem ValueTableNoPrefix[] = {
    {u"-r", Switch}, {u"-o", OneValue}, {u"-two", TwoValues}, {u"-many", AllValues}, {nullptr, 7},
};

// The list walked from its head, one entry per node: "-r", "-o=value",
// "#1:text". The walk meets the nodes in reverse command-line order.
std::string Describe(ParamList List) {
  if (List == nullptr) {
    return "(none)";
  }
  std::string Text;
  for (ListEntry *Link = ListFirst(List); !ListIsEnd(List, Link); Link = ListNext(Link)) {
    const ParamNode *Node = reinterpret_cast<const ParamNode *>(Link);
    if (!Text.empty()) {
      Text += " | ";
    }
    if (Node->Name == nullptr) {
      EXPECT_EQ(static_cast<UINT32>(Positional), Node->Kind);
      Text += "#" + std::to_string(Node->Position) + ":" + Utf8(Node->Value);
    } else {
      EXPECT_EQ(~0ULL, Node->Position);
      Text += Utf8(Node->Name);
      if (Node->Value != nullptr) {
        Text += "=" + Utf8(Node->Value);
      }
    }
  }
  return Text;
}

class ParseTest : public testing::Test {
 protected:
  void SetUp() override { BindShell(Fake.ImageHandle); }
  void TearDown() override {
    FreeParamList(List);
    if (Problem != nullptr) {
      PoolFree(Problem);
    }
    UnbindShell(Fake.ImageHandle);
    EXPECT_EQ(0u, Fake.Outstanding());
    EXPECT_EQ(0u, Fake.UnknownFrees);
  }

  EFI_STATUS Parse(const ParamItem *Table, std::vector<std::u16string> Arguments,
                   BOOLEAN AllowNumbers = FALSE, BOOLEAN AutoPageBreak = FALSE) {
    FreeParamList(List);
    List = nullptr;
    if (Problem != nullptr) {
      PoolFree(Problem);
      Problem = nullptr;
    }
    Storage = std::move(Arguments);
    Argv.clear();
    for (std::u16string &Text : Storage) {
      Argv.push_back(Text.data());
    }
    return ParseArguments(Table, &List, &Problem, AutoPageBreak, Argv.data(), Argv.size(),
                          AllowNumbers);
  }

  std::string ProblemText() const { return Problem == nullptr ? "(none)" : Utf8(Problem); }

  FakeFirmware Fake;
  ParamList List = nullptr;
  CHAR16 *Problem = nullptr;
  std::vector<std::u16string> Storage;
  std::vector<CHAR16 *> Argv;
};

TEST_F(ParseTest, SwitchAndFileNameAsTheCommandDispatchSeesThem) {
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"tool.efi", u"-r", u"image.bin"}));
  EXPECT_EQ("#1:image.bin | -r | #0:tool.efi", Describe(List));
  EXPECT_EQ(2u, CountPositional(List));
  EXPECT_EQ(std::u16string(u"image.bin"), GetPositionalValue(List, 1));
  EXPECT_EQ(std::u16string(u"tool.efi"), GetPositionalValue(List, 0));
  EXPECT_EQ(nullptr, GetPositionalValue(List, 2));
  EXPECT_TRUE(HasFlag(List, u"-r"));
  EXPECT_FALSE(HasFlag(List, u"-w"));
  EXPECT_FALSE(HasFlag(List, nullptr));
  EXPECT_EQ("(none)", ProblemText());
}

TEST_F(ParseTest, AcceptedSwitchesKeepTheirCase) {
  struct Case {
    std::vector<std::u16string> Arguments;
    std::string Expected;
  };
  const Case Cases[] = {
      {{u"p", u"-R", u"f"}, "#1:f | -R | #0:p"},
      {{u"p", u"-ALL", u"-W"}, "-W | -ALL | #0:p"},
      {{u"p", u"-?", u"-b"}, "-b | -? | #0:p"},
      {{u"p", u"-r", u"-r"}, "-r | -r | #0:p"},
      {{u"", u"a"}, "#1:a | #0:"},  // an empty argument is a positional value too
  };
  for (const Case &C : Cases) {
    ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, C.Arguments)) << C.Expected;
    EXPECT_EQ(C.Expected, Describe(List));
  }
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"p", u"-R"}));
  EXPECT_TRUE(HasFlag(List, u"-r"));
  EXPECT_TRUE(HasFlag(List, u"-R"));
}

TEST_F(ParseTest, UnrecognisedSwitchStopsTheParseAndNamesTheArgument) {
  struct Case {
    std::u16string Argument;
    BOOLEAN AllowNumbers;
  };
  const Case Cases[] = {{u"-B", FALSE}, {u"-x", FALSE},  {u"/r", FALSE},
                        {u"-", FALSE},  {u"+", FALSE},   {u"-5", FALSE},
                        {u"-g", TRUE},  {u"-?x", FALSE}, {u"-rr", FALSE}};
  for (const Case &C : Cases) {
    EXPECT_EQ(EFI_VOLUME_CORRUPTED,
              Parse(CommandParamTable, {u"p", u"-r", u"file", C.Argument, u"more"}, C.AllowNumbers))
        << Utf8(C.Argument);
    EXPECT_EQ(nullptr, List);
    EXPECT_EQ(Utf8(C.Argument), ProblemText());
    EXPECT_EQ(1u, Fake.Live.size()) << "only the problem text stays allocated";
  }
  // Without an out problem text the parse fails the same way.
  std::u16string Program = u"p", Bad = u"-x";
  CHAR16 *Arguments[] = {Program.data(), Bad.data()};
  ListEntry Unused;
  ParamList Other = &Unused;
  EXPECT_EQ(EFI_VOLUME_CORRUPTED,
            ParseArguments(CommandParamTable, &Other, nullptr, FALSE, Arguments, 2, FALSE));
  EXPECT_EQ(nullptr, Other);
}

TEST_F(ParseTest, SignedHexNumbersArePositionalOnlyWhenAllowed) {
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"p", u"-5", u"+A0", u"-f"}, TRUE));
  EXPECT_EQ("#3:-f | #2:+A0 | #1:-5 | #0:p", Describe(List));
  EXPECT_FALSE(LooksLikeSwitch(nullptr, FALSE));
  EXPECT_TRUE(LooksLikeSwitch(u"+a", FALSE));
  EXPECT_FALSE(LooksLikeSwitch(u"+a", TRUE));
  EXPECT_TRUE(LooksLikeSwitch(u"/5", TRUE));
  EXPECT_FALSE(LooksLikeSwitch(u"5-", FALSE));
  for (CHAR16 C : std::u16string(u"09afAF")) {
    EXPECT_TRUE(IsHexDigit(C));
  }
  for (CHAR16 C : std::u16string(u"/:`gG@")) {
    EXPECT_FALSE(IsHexDigit(C));
  }
}

TEST_F(ParseTest, EscapesInPositionalValues) {
  struct Case {
    std::u16string Argument;
    std::u16string Expected;
  };
  const Case Cases[] = {
      {u"^-file", u"-file"},  {u"^/x", u"/x"},  {u"^+y", u"+y"},        {u"a^tb", u"a\tb"},
      {u"^x0A", u"^x0A"},     {u"^q", u"^q"},   {u"x^x0dy", u"x\ry"},   {u"^n^r^#", u"\n\r#"},
      {u"^x09^x0a", u"\t\n"}, {u"^^t", u"^\t"}, {u"^T^X09", u"^T^X09"}, {u"^x0", u"^x0"},
      {u"a^", u"a^"},         {u"^x", u"^x"},   {u"^-^t", u"-\t"},      {u"^^-", u"^^-"},
      {u"^x0d^x0d", u"\r\r"}, {u"^", u"^"},
  };
  for (const Case &C : Cases) {
    ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {C.Argument})) << Utf8(C.Argument);
    ASSERT_NE(nullptr, GetPositionalValue(List, 0));
    EXPECT_EQ(C.Expected, std::u16string(GetPositionalValue(List, 0))) << Utf8(C.Argument);
  }
}

TEST_F(ParseTest, ValueSwitchesGatherTheirValues) {
  struct Case {
    std::vector<std::u16string> Arguments;
    std::string Expected;
  };
  const Case Cases[] = {
      {{u"p", u"-o"}, "-o | #0:p"},
      {{u"p", u"-o", u"-r", u"f"}, "#1:f | -r | -o | #0:p"},
      {{u"p", u"-o", u"a", u"b"}, "#1:b | -o=a | #0:p"},
      {{u"p", u"-o", u"x y"}, "-o=\"x y\" | #0:p"},
      {{u"p", u"-two", u"a", u"b", u"c"}, "#1:c | -two=a b | #0:p"},
      {{u"p", u"-two", u"a", u"-r"}, "-r | -two=a | #0:p"},
      {{u"p", u"-many", u"a b", u"c d", u"e f"}, "-many=\"a b\" \"c d\" \"e f\" | #0:p"},
      {{u"p", u"-many", u"a", u"b c", u"d"}, "-many=a \"b c\" d | #0:p"},
      {{u"p", u"-many", u"a", u"", u"d"}, "-many=a  d | #0:p"},
      {{u"-many", u"a", u"-o", u"b"}, "-o=b | -many=a"},
      // Values of value switches are taken as typed: no escapes, no caret rule.
      {{u"-o", u"a^tb", u"^-c"}, "#0:-c | -o=a^tb"},
  };
  for (const Case &C : Cases) {
    ASSERT_EQ(EFI_SUCCESS, Parse(ValueTable, C.Arguments)) << C.Expected;
    EXPECT_EQ(C.Expected, Describe(List));
  }
  // A number after a value switch is a value when numbers are allowed.
  ASSERT_EQ(EFI_SUCCESS, Parse(ValueTable, {u"-o", u"-5"}, TRUE));
  EXPECT_EQ("-o=-5", Describe(List));
  EXPECT_EQ(EFI_VOLUME_CORRUPTED, Parse(ValueTable, {u"-many", u"a", u"-x"}));
  EXPECT_EQ("-x", ProblemText());
}

TEST_F(ParseTest, PrefixSwitchesMatchByTheirLeadingCharacters) {
  ASSERT_EQ(EFI_SUCCESS, Parse(ValueTable, {u"-Dname=1", u"-dother"}));
  EXPECT_EQ("-dother | -Dname=1", Describe(List));
  EXPECT_TRUE(HasFlag(List, u"-D"));
  EXPECT_TRUE(HasFlag(List, u"-Dname"));  // a prefix of a PrefixSwitch node's name
  EXPECT_FALSE(HasFlag(List, u"-r"));
  EXPECT_FALSE(HasFlag(List, u"-dname"));  // the prefix test is exact, the whole-name one is not
  EXPECT_TRUE(HasFlag(List, u"-DOTHER"));
  EXPECT_EQ(EFI_VOLUME_CORRUPTED, Parse(ValueTable, {u"-E"}));
}

TEST_F(ParseTest, PageBreakOnlyForExactlyMinusBWhenAsked) {
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"p", u"-b"}, FALSE, TRUE));
  EXPECT_EQ(1u, Fake.PageBreakCalls);
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"p", u"-b"}, FALSE, FALSE));
  ASSERT_EQ(EFI_SUCCESS, Parse(CommandParamTable, {u"p", u"-r"}, FALSE, TRUE));
  EXPECT_EQ(EFI_VOLUME_CORRUPTED, Parse(CommandParamTable, {u"p", u"-B"}, FALSE, TRUE));
  EXPECT_EQ(1u, Fake.PageBreakCalls);
}

TEST_F(ParseTest, MissingInputs) {
  ListEntry Unused;
  ParamList Sentinel = &Unused;
  std::u16string X = u"x";
  CHAR16 *Arguments[] = {nullptr, X.data(), nullptr};
  EXPECT_EQ(EFI_SUCCESS,
            ParseArguments(CommandParamTable, &Sentinel, nullptr, TRUE, nullptr, 0, FALSE));
  EXPECT_EQ(nullptr, Sentinel);
  EXPECT_EQ(0u, CountPositional(nullptr));
  EXPECT_FALSE(HasFlag(nullptr, u"-r"));
  EXPECT_EQ(nullptr, GetPositionalValue(nullptr, 0));
  FreeParamList(nullptr);

  Sentinel = &Unused;
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            ParseArguments(nullptr, &Sentinel, nullptr, TRUE, Arguments, 3, FALSE));
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            ParseArguments(CommandParamTable, &Sentinel, nullptr, TRUE, nullptr, 3, FALSE));
  EXPECT_EQ(&Unused, Sentinel);
  EXPECT_EQ(EFI_INVALID_PARAMETER, ParseCommandLine(nullptr, &Sentinel, nullptr, TRUE, FALSE));
  EXPECT_EQ(EFI_INVALID_PARAMETER,
            ParseCommandLine(CommandParamTable, nullptr, nullptr, TRUE, FALSE));

  // Missing entries of the vector are skipped; the positions stay dense.
  EXPECT_EQ(EFI_SUCCESS,
            ParseArguments(CommandParamTable, &List, nullptr, FALSE, Arguments, 3, FALSE));
  EXPECT_EQ("#0:x", Describe(List));

  UINT32 Kind = 99;
  EXPECT_FALSE(FindParamItem(nullptr, CommandParamTable, &Kind));
  EXPECT_FALSE(FindParamItem(u"-r", nullptr, &Kind));
  EXPECT_FALSE(FindParamItem(u"-r", CommandParamTable, nullptr));
  EXPECT_TRUE(FindParamItem(u"-b", ValueTable, &Kind));
  EXPECT_EQ(static_cast<UINT32>(Switch), Kind);
}

TEST_F(ParseTest, AllocationFailureAnywhereReleasesEverything) {
  const std::vector<std::u16string> Arguments = {u"p",   u"-o", u"x y", u"-many", u"a",
                                                 u"b c", u"-r", u"f",   u"-two",  u"1"};
  ASSERT_EQ(EFI_SUCCESS, Parse(ValueTableNoPrefix, Arguments));
  const std::string Complete = Describe(List);
  FreeParamList(List);
  List = nullptr;

  const uint64_t Before = Fake.AllocateCalls;
  ASSERT_EQ(EFI_SUCCESS, Parse(ValueTableNoPrefix, Arguments));
  const uint64_t Needed = Fake.AllocateCalls - Before;
  ASSERT_GT(Needed, 10u);

  for (uint64_t Failing = 1; Failing <= Needed; Failing++) {
    FreeParamList(List);
    List = nullptr;
    ASSERT_EQ(0u, Fake.Outstanding());
    Fake.FailAllocationNumber = Fake.AllocateCalls + Failing;
    EXPECT_EQ(EFI_OUT_OF_RESOURCES, Parse(ValueTableNoPrefix, Arguments))
        << "allocation " << Failing;
    EXPECT_EQ(nullptr, List);
    EXPECT_EQ(0u, Fake.Outstanding()) << "allocation " << Failing;
  }
  Fake.FailAllocationNumber = 0;
  ASSERT_EQ(EFI_SUCCESS, Parse(ValueTableNoPrefix, Arguments));
  EXPECT_EQ(Complete, Describe(List));
}

TEST_F(ParseTest, ProblemTextThatCannotBeCopiedStaysNone) {
  Fake.FailAllocationNumber =
      Fake.AllocateCalls + 4;  // head, the positional node and its value, the copy
  EXPECT_EQ(EFI_VOLUME_CORRUPTED, Parse(CommandParamTable, {u"p", u"-x"}));
  EXPECT_EQ("(none)", ProblemText());
  EXPECT_EQ(nullptr, List);
}

TEST(ShellBinding, RealShellLayoutFindsTheShellByLocateProtocol) {
  FakeFirmware Fake;
  Fake.SetArguments({u"FS0:\\pchflash.efi", u"-w", u"new.bin"});
  EXPECT_EQ(EFI_SUCCESS, BindShell(Fake.ImageHandle));
  EXPECT_EQ((std::vector<std::string>{"Open Shell", "Locate Shell", "Open Parameters"}),
            Fake.ProtocolCalls);
  EXPECT_EQ(&Fake.Shell, gShell.Shell);
  EXPECT_EQ(&Fake.Parameters, gShell.Parameters);
  EXPECT_EQ(Fake.Shell.GetFileInfo, gShell.GetFileInfo);
  EXPECT_EQ(Fake.Shell.SetFileInfo, gShell.SetFileInfo);
  EXPECT_EQ(Fake.Shell.ReadFile, gShell.ReadFile);
  EXPECT_EQ(Fake.Shell.WriteFile, gShell.WriteFile);
  EXPECT_EQ(Fake.Shell.CloseFile, gShell.CloseFile);
  EXPECT_EQ(Fake.Shell.GetFileSize, gShell.GetFileSize);

  ParamList List = nullptr;
  CHAR16 *Problem = nullptr;
  ASSERT_EQ(EFI_SUCCESS, ParseCommandLine(CommandParamTable, &List, &Problem, TRUE, FALSE));
  EXPECT_EQ("#1:new.bin | -w | #0:FS0:\\pchflash.efi", Describe(List));
  FreeParamList(List);

  Fake.ProtocolCalls.clear();
  EXPECT_EQ(EFI_SUCCESS, UnbindShell(Fake.ImageHandle));
  EXPECT_EQ((std::vector<std::string>{"Close Shell", "Close Parameters"}), Fake.ProtocolCalls);
  EXPECT_EQ(nullptr, gShell.Shell);
  EXPECT_EQ(nullptr, gShell.Parameters);
  EXPECT_EQ(nullptr, gShell.ReadFile);
  EXPECT_EQ(0u, Fake.Outstanding());
}

TEST(ShellBinding, ShellOnTheImageHandleIsTakenFromThere) {
  FakeFirmware Fake;
  Fake.ShellOnImageHandle = true;
  BindShell(Fake.ImageHandle);
  EXPECT_EQ((std::vector<std::string>{"Open Shell", "Open Parameters"}), Fake.ProtocolCalls);
  EXPECT_EQ(&Fake.Shell, gShell.Shell);
  UnbindShell(Fake.ImageHandle);
}

TEST(ShellBinding, MissingProtocolsLeaveTheBindingEmpty) {
  FakeFirmware Fake;
  Fake.ShellLocatable = false;
  Fake.ParametersOnImageHandle = false;
  EXPECT_EQ(EFI_SUCCESS, BindShell(Fake.ImageHandle));
  EXPECT_EQ(nullptr, gShell.Shell);
  EXPECT_EQ(nullptr, gShell.Parameters);
  EXPECT_EQ(nullptr, gShell.GetFileSize);

  ParamList List = reinterpret_cast<ParamList>(&Fake);
  CHAR16 *Problem = reinterpret_cast<CHAR16 *>(&Fake);
  EXPECT_EQ(EFI_NOT_FOUND, ParseCommandLine(CommandParamTable, &List, &Problem, TRUE, FALSE));
  EXPECT_EQ(nullptr, List);
  EXPECT_EQ(nullptr, Problem);

  // "-b" with no shell bound: nothing to turn the page break on with.
  Fake.SetArguments({u"p", u"-b"});
  EXPECT_EQ(EFI_SUCCESS, ParseArguments(CommandParamTable, &List, nullptr, TRUE,
                                        Fake.Parameters.Argv, Fake.Parameters.Argc, FALSE));
  EXPECT_EQ(0u, Fake.PageBreakCalls);
  FreeParamList(List);

  Fake.ProtocolCalls.clear();
  UnbindShell(Fake.ImageHandle);
  EXPECT_TRUE(Fake.ProtocolCalls.empty());
  EXPECT_EQ(0u, Fake.Outstanding());
}

TEST(CaseInsensitiveCompare, UsesTheCollationProtocolFoundOnce) {
  FakeFirmware Fake;
  BindShell(Fake.ImageHandle);
  EXPECT_EQ(0, CompareNoCase(u"-R", u"-r"));
  EXPECT_EQ(0, CompareNoCase(u"-ALL", u"-all"));
  EXPECT_LT(CompareNoCase(u"-r", u"-w"), 0);
  EXPECT_GT(CompareNoCase(u"-r", u"-"), 0);
  EXPECT_EQ(1u, Fake.CollationLocates);
  UnbindShell(Fake.ImageHandle);
}

TEST(CaseInsensitiveCompare, FallsBackToAsciiWithoutCollation) {
  FakeFirmware Fake;
  Fake.CollationPresent = false;
  BindShell(Fake.ImageHandle);
  EXPECT_EQ(0, CompareNoCase(u"-ALL", u"-all"));
  EXPECT_EQ(0, CompareNoCase(u"", u""));
  EXPECT_LT(CompareNoCase(u"-r", u"-w"), 0);
  EXPECT_GT(CompareNoCase(u"-r", u"-"), 0);
  EXPECT_LT(CompareNoCase(u"-a", u"-ab"), 0);
  EXPECT_NE(0, CompareNoCase(u"\u00E9", u"\u00C9"));  // only ASCII letters fold
  UnbindShell(Fake.ImageHandle);
}

}  // namespace
