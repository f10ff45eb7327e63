// Binding to the UEFI Shell and turning its argument vector into a ParamList.
#include "shell/params.h"

#include "base/firmware.h"
#include "shell/list.h"
#include "shell/text.h"

const ParamItem CommandParamTable[] = {
    {u"-r", Switch},
    {u"-w", Switch},
    {u"-all", Switch},
    {nullptr, 7},
};

ShellBinding gShell = {};

namespace {

constexpr UINT64 SwitchPosition = ~0ULL;
// An AllValues switch takes every following value: its awaited count never runs out.
constexpr UINTN UnlimitedValues = ~0ULL;

constexpr CHAR16 Tab = 0x09;
constexpr CHAR16 LineFeed = 0x0A;
constexpr CHAR16 CarriageReturn = 0x0D;

// The collation interface behind CompareNoCase, found on first use.
EFI_UNICODE_COLLATION2_PROTOCOL *gCollation = nullptr;

ParamNode *NodeFromLink(ListEntry *Link) { return reinterpret_cast<ParamNode *>(Link); }

CHAR16 *CopyText(const CHAR16 *Text) {
  CHAR16 *Copy = static_cast<CHAR16 *>(PoolAllocateZeroed(StrBytes(Text)));
  if (Copy != nullptr) {
    StrCopy(Copy, Text);
  }
  return Copy;
}

VOID FreeNode(ParamNode *Node) {
  if (Node == nullptr) {
    return;
  }
  FreeAndClear(reinterpret_cast<VOID **>(&Node->Name));
  FreeAndClear(reinterpret_cast<VOID **>(&Node->Value));
  PoolFree(Node);
}

// A node with no value; Name (may be none) is copied.
ParamNode *NewNode(const CHAR16 *Name, UINT32 Kind, UINT64 Position) {
  ParamNode *Node = static_cast<ParamNode *>(PoolAllocateZeroed(sizeof(ParamNode)));
  if (Node == nullptr) {
    return nullptr;
  }
  Node->Kind = Kind;
  Node->Position = Position;
  if (Name != nullptr) {
    Node->Name = CopyText(Name);
    if (Node->Name == nullptr) {
      PoolFree(Node);
      return nullptr;
    }
  }
  return Node;
}

BOOLEAN ContainsSpace(const CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    if (*Text == u' ') {
      return TRUE;
    }
  }
  return FALSE;
}

// Appends one value to a value switch's joined text: a space before every value
// but the first, double quotes around a value that holds a space, so the parts
// stay separable. On failure the node keeps its old value.
EFI_STATUS AppendJoinedValue(ParamNode *Node, const CHAR16 *Part) {
  UINTN OldLength = Node->Value != nullptr ? StrLength(Node->Value) : 0;
  UINTN OldBytes = Node->Value != nullptr ? (OldLength + 1) * sizeof(CHAR16) : 0;
  UINTN PartLength = StrLength(Part);
  BOOLEAN Quote = ContainsSpace(Part);
  UINTN NewLength = OldLength + (Node->Value != nullptr ? 1 : 0) + PartLength + (Quote ? 2 : 0);
  CHAR16 *Joined = static_cast<CHAR16 *>(
      PoolReallocate(OldBytes, (NewLength + 1) * sizeof(CHAR16), Node->Value));
  if (Joined == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  CHAR16 *End = Joined + OldLength;
  if (Node->Value != nullptr) {
    *End++ = u' ';
  }
  if (Quote) {
    *End++ = u'"';
  }
  StrCopy(End, Part);
  End += PartLength;
  if (Quote) {
    *End++ = u'"';
  }
  *End = 0;
  Node->Value = Joined;
  return EFI_SUCCESS;
}

// Length of the escape form at Text (which starts with "^"), 0 if it is none,
// and the character it stands for. Only lower-case letters form sequences.
UINTN EscapeForm(const CHAR16 *Text, CHAR16 *Replacement) {
  switch (Text[1]) {
    case u't':
      *Replacement = Tab;
      return 2;
    case u'n':
      *Replacement = LineFeed;
      return 2;
    case u'r':
      *Replacement = CarriageReturn;
      return 2;
    case u'#':
      *Replacement = u'#';
      return 2;
    case u'x':
      break;
    default:
      return 0;
  }
  if (Text[2] != u'0') {
    return 0;
  }
  switch (Text[3]) {
    case u'9':
      *Replacement = Tab;
      return 4;
    case u'a':
      *Replacement = LineFeed;
      return 4;
    case u'd':
      *Replacement = CarriageReturn;
      return 4;
    default:
      return 0;
  }
}

// Copies Source to Destination with the escape sequences replaced; the result
// is never longer than the source.
VOID ReplaceEscapes(CHAR16 *Destination, const CHAR16 *Source) {
  while (*Source != 0) {
    CHAR16 Replacement = 0;
    UINTN FormLength = *Source == u'^' ? EscapeForm(Source, &Replacement) : 0;
    if (FormLength != 0) {
      *Destination++ = Replacement;
      Source += FormLength;
    } else {
      *Destination++ = *Source++;
    }
  }
  *Destination = 0;
}

// A positional node from an argument: a leading "^" before a switch character
// only says "not a switch" and is dropped.
ParamNode *NewPositionalNode(const CHAR16 *Argument, UINT64 Position) {
  const CHAR16 *Text = Argument;
  if (Text[0] == u'^' && (Text[1] == u'-' || Text[1] == u'/' || Text[1] == u'+')) {
    Text++;
  }
  ParamNode *Node = NewNode(nullptr, Positional, Position);
  if (Node == nullptr) {
    return nullptr;
  }
  Node->Value = static_cast<CHAR16 *>(PoolAllocateZeroed(StrBytes(Text)));
  if (Node->Value == nullptr) {
    FreeNode(Node);
    return nullptr;
  }
  ReplaceEscapes(Node->Value, Text);
  return Node;
}

UINTN AwaitedValues(UINT32 Kind) {
  switch (Kind) {
    case OneValue:
      return 1;
    case TwoValues:
      return 2;
    case AllValues:
      return UnlimitedValues;
    default:
      return 0;
  }
}

// The command line parsed so far. A value switch waits in Pending, outside the
// list, until its values are gathered or another switch ends it; Pending is set
// exactly while Awaited is not 0.
struct ParseState {
  ListEntry *Head;
  ParamNode *Pending;
  UINTN Awaited;  // values Pending still takes
  UINT64 NextPosition;
};

// Settles the calls that parse nothing: an empty vector is a command line with
// nothing on it (success, no list), missing inputs are the caller's error.
// Returns FALSE when there is a vector to parse.
BOOLEAN NothingToParse(const ParamItem *Table, ParamList *List, CHAR16 **Argv, UINTN Argc,
                       EFI_STATUS *Status) {
  if (Argc == 0) {
    if (List != nullptr) {
      *List = nullptr;
    }
    *Status = EFI_SUCCESS;
    return TRUE;
  }
  if (Table == nullptr || List == nullptr || Argv == nullptr) {
    *Status = EFI_INVALID_PARAMETER;
    return TRUE;
  }
  return FALSE;
}

ListEntry *NewListHead() {
  ListEntry *Head = static_cast<ListEntry *>(PoolAllocateZeroed(sizeof(ListEntry)));
  if (Head != nullptr) {
    ListInit(Head);
  }
  return Head;
}

// Releases a partly parsed command line.
EFI_STATUS AbandonParse(ParseState *State, ParamList *List, EFI_STATUS Status) {
  FreeNode(State->Pending);
  FreeParamList(State->Head);
  *List = nullptr;
  return Status;
}

// The pending value switch joins the list with the values it has.
VOID CloseValueSwitch(ParseState *State) {
  if (State->Pending != nullptr) {
    ListInsertFront(State->Head, &State->Pending->Link);
    State->Pending = nullptr;
  }
  State->Awaited = 0;
}

// A switch from the table. It ends a value switch still taking values; a value
// switch of its own waits for its values before it joins the list.
EFI_STATUS AddSwitch(ParseState *State, const CHAR16 *Argument, UINT32 Kind) {
  if (State->Awaited != 0) {
    CloseValueSwitch(State);
  }
  ParamNode *Node = NewNode(Argument, Kind, SwitchPosition);
  if (Node == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  State->Awaited = AwaitedValues(Kind);
  if (State->Awaited != 0) {
    State->Pending = Node;
  } else {
    ListInsertFront(State->Head, &Node->Link);
  }
  return EFI_SUCCESS;
}

// One more value for the pending value switch, taken as typed.
EFI_STATUS AddSwitchValue(ParseState *State, const CHAR16 *Value) {
  if (EFI_ERROR(AppendJoinedValue(State->Pending, Value))) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (State->Awaited != UnlimitedValues) {
    State->Awaited--;
  }
  if (State->Awaited == 0) {
    CloseValueSwitch(State);
  }
  return EFI_SUCCESS;
}

EFI_STATUS AddPositional(ParseState *State, const CHAR16 *Argument) {
  ParamNode *Node = NewPositionalNode(Argument, State->NextPosition);
  if (Node == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  State->NextPosition++;
  ListInsertFront(State->Head, &Node->Link);
  return EFI_SUCCESS;
}

// One argument of the vector: a switch from the table, a value for the pending
// value switch, an unrecognised switch (the parse ends and names it), or a
// positional value.
EFI_STATUS ParseArgument(ParseState *State, const ParamItem *Table, const CHAR16 *Argument,
                         BOOLEAN AllowNumbers, CHAR16 **ProblemText) {
  UINT32 Kind = 0;
  if (FindParamItem(Argument, Table, &Kind)) {
    return AddSwitch(State, Argument, Kind);
  }
  BOOLEAN SwitchLike = LooksLikeSwitch(Argument, AllowNumbers);
  if (State->Awaited != 0 && !SwitchLike) {
    return AddSwitchValue(State, Argument);
  }
  if (SwitchLike) {
    if (ProblemText != nullptr) {
      *ProblemText = CopyText(Argument);
    }
    return EFI_VOLUME_CORRUPTED;
  }
  return AddPositional(State, Argument);
}

// "-b" asks for the shell's page break.
VOID ApplyPageBreak(ParamList List) {
  if (HasFlag(List, u"-b") && gShell.Shell != nullptr && gShell.Shell->EnablePageBreak != nullptr) {
    gShell.Shell->EnablePageBreak();
  }
}

// ASCII-only case folding for a platform without a collation protocol.
INTN CompareAsciiNoCase(const CHAR16 *Left, const CHAR16 *Right) {
  for (;; Left++, Right++) {
    CHAR16 L = (*Left >= u'a' && *Left <= u'z') ? (CHAR16)(*Left - 0x20) : *Left;
    CHAR16 R = (*Right >= u'a' && *Right <= u'z') ? (CHAR16)(*Right - 0x20) : *Right;
    if (L != R || L == 0) {
      return (INTN)L - (INTN)R;
    }
  }
}

}  // namespace

EFI_STATUS BindShell(EFI_HANDLE ImageHandle) {
  gShell = {};
  gCollation = nullptr;
  EFI_BOOT_SERVICES *Services = gFirmware.BootServices;
  if (Services == nullptr) {
    return EFI_SUCCESS;
  }

  // The real shell does not put its protocol on the application's handle; it is
  // found in the protocol database instead.
  EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;
  VOID *Interface = nullptr;
  EFI_STATUS Status = Services->OpenProtocol(ImageHandle, &ShellGuid, &Interface, ImageHandle,
                                             nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status) || Interface == nullptr) {
    Interface = nullptr;
    Status = Services->LocateProtocol(&ShellGuid, nullptr, &Interface);
    if (EFI_ERROR(Status)) {
      Interface = nullptr;
    }
  }
  gShell.Shell = static_cast<EFI_SHELL_PROTOCOL *>(Interface);

  EFI_GUID ParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
  Interface = nullptr;
  Status = Services->OpenProtocol(ImageHandle, &ParametersGuid, &Interface, ImageHandle, nullptr,
                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  gShell.Parameters =
      EFI_ERROR(Status) ? nullptr : static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(Interface);

  if (gShell.Shell != nullptr) {
    gShell.GetFileInfo = gShell.Shell->GetFileInfo;
    gShell.SetFileInfo = gShell.Shell->SetFileInfo;
    gShell.ReadFile = gShell.Shell->ReadFile;
    gShell.WriteFile = gShell.Shell->WriteFile;
    gShell.CloseFile = gShell.Shell->CloseFile;
    gShell.GetFileSize = gShell.Shell->GetFileSize;
  }
  return EFI_SUCCESS;
}

EFI_STATUS UnbindShell(EFI_HANDLE ImageHandle) {
  EFI_BOOT_SERVICES *Services = gFirmware.BootServices;
  if (Services != nullptr && gShell.Shell != nullptr) {
    EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;
    Services->CloseProtocol(ImageHandle, &ShellGuid, ImageHandle, nullptr);
  }
  if (Services != nullptr && gShell.Parameters != nullptr) {
    EFI_GUID ParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
    Services->CloseProtocol(ImageHandle, &ParametersGuid, ImageHandle, nullptr);
  }
  // The collation interface belongs to this run's firmware; the next run (on the
  // host, another firmware model in the same process) locates its own.
  gShell = {};
  gCollation = nullptr;
  return EFI_SUCCESS;
}

EFI_STATUS ParseCommandLine(const ParamItem *Table, ParamList *List, CHAR16 **ProblemText,
                            BOOLEAN AutoPageBreak, BOOLEAN AllowNumbers) {
  if (Table == nullptr || List == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (gShell.Parameters == nullptr) {
    *List = nullptr;
    if (ProblemText != nullptr) {
      *ProblemText = nullptr;
    }
    return EFI_NOT_FOUND;
  }
  return ParseArguments(Table, List, ProblemText, AutoPageBreak, gShell.Parameters->Argv,
                        gShell.Parameters->Argc, AllowNumbers);
}

EFI_STATUS ParseArguments(const ParamItem *Table, ParamList *List, CHAR16 **ProblemText,
                          BOOLEAN AutoPageBreak, CHAR16 **Argv, UINTN Argc, BOOLEAN AllowNumbers) {
  if (ProblemText != nullptr) {
    *ProblemText = nullptr;
  }
  EFI_STATUS Status = EFI_SUCCESS;
  if (NothingToParse(Table, List, Argv, Argc, &Status)) {
    return Status;
  }

  ParseState State = {};
  State.Head = NewListHead();
  if (State.Head == nullptr) {
    *List = nullptr;
    return EFI_OUT_OF_RESOURCES;
  }
  for (UINTN Index = 0; Index < Argc; Index++) {
    if (Argv[Index] == nullptr) {
      continue;
    }
    Status = ParseArgument(&State, Table, Argv[Index], AllowNumbers, ProblemText);
    if (EFI_ERROR(Status)) {
      return AbandonParse(&State, List, Status);
    }
  }
  CloseValueSwitch(&State);

  if (AutoPageBreak) {
    ApplyPageBreak(State.Head);
  }
  *List = State.Head;
  return EFI_SUCCESS;
}

BOOLEAN HasFlag(ParamList List, const CHAR16 *Name) {
  if (List == nullptr || Name == nullptr) {
    return FALSE;
  }
  for (ListEntry *Link = ListFirst(List); !ListIsEnd(List, Link); Link = ListNext(Link)) {
    ParamNode *Node = NodeFromLink(Link);
    if (Node->Name == nullptr) {
      continue;
    }
    if (Node->Kind == PrefixSwitch && StrCompareN(Node->Name, Name, StrLength(Name)) == 0) {
      return TRUE;
    }
    if (CompareNoCase(Node->Name, Name) == 0) {
      return TRUE;
    }
  }
  return FALSE;
}

const CHAR16 *GetPositionalValue(ParamList List, UINT64 Position) {
  if (List == nullptr) {
    return nullptr;
  }
  for (ListEntry *Link = ListFirst(List); !ListIsEnd(List, Link); Link = ListNext(Link)) {
    ParamNode *Node = NodeFromLink(Link);
    if (Node->Name == nullptr && Node->Position == Position) {
      return Node->Value;
    }
  }
  return nullptr;
}

UINT64 CountPositional(ParamList List) {
  if (List == nullptr) {
    return 0;
  }
  UINT64 Count = 0;
  for (ListEntry *Link = ListFirst(List); !ListIsEnd(List, Link); Link = ListNext(Link)) {
    if (NodeFromLink(Link)->Name == nullptr) {
      Count++;
    }
  }
  return Count;
}

VOID FreeParamList(ParamList List) {
  if (List == nullptr) {
    return;
  }
  while (!ListIsEmpty(List)) {
    ListEntry *Link = ListFirst(List);
    ListRemove(Link);
    FreeNode(NodeFromLink(Link));
  }
  PoolFree(List);
}

BOOLEAN FindParamItem(const CHAR16 *Argument, const ParamItem *Table, UINT32 *Kind) {
  if (Argument == nullptr || Table == nullptr || Kind == nullptr) {
    return FALSE;
  }
  // Accepted by every parse, and only in exactly this case.
  if (StrCompare(Argument, u"-?") == 0 || StrCompare(Argument, u"-b") == 0) {
    *Kind = Switch;
    return TRUE;
  }
  for (const ParamItem *Item = Table; Item->Name != nullptr; Item++) {
    BOOLEAN Matches = FALSE;
    if (Item->Kind == PrefixSwitch) {
      UINTN Length = StrLength(Item->Name);
      if (StrCompareN(Argument, Item->Name, Length) == 0) {
        Matches = TRUE;
      } else {
        // A missing copy only means this entry cannot match ignoring case.
        CHAR16 *Leading = static_cast<CHAR16 *>(PoolAllocateZeroed((Length + 1) * sizeof(CHAR16)));
        if (Leading != nullptr) {
          StrCopyN(Leading, Argument, Length);
          Matches = CompareNoCase(Leading, Item->Name) == 0;
          PoolFree(Leading);
        }
      }
    } else {
      Matches = CompareNoCase(Argument, Item->Name) == 0;
    }
    if (Matches) {
      *Kind = Item->Kind;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN LooksLikeSwitch(const CHAR16 *Argument, BOOLEAN AllowNumbers) {
  if (Argument == nullptr) {
    return FALSE;
  }
  BOOLEAN Signed = Argument[0] == u'-' || Argument[0] == u'+';
  if (AllowNumbers && Signed && IsHexDigit(Argument[1])) {
    return FALSE;
  }
  return Signed || Argument[0] == u'/';
}

INTN CompareNoCase(const CHAR16 *Left, const CHAR16 *Right) {
  if (gCollation == nullptr && gFirmware.BootServices != nullptr) {
    EFI_GUID CollationGuid = EFI_UNICODE_COLLATION2_PROTOCOL_GUID;
    VOID *Interface = nullptr;
    if (!EFI_ERROR(gFirmware.BootServices->LocateProtocol(&CollationGuid, nullptr, &Interface))) {
      gCollation = static_cast<EFI_UNICODE_COLLATION2_PROTOCOL *>(Interface);
    }
  }
  if (gCollation == nullptr || gCollation->StriColl == nullptr) {
    return CompareAsciiNoCase(Left, Right);
  }
  return gCollation->StriColl(gCollation, const_cast<CHAR16 *>(Left), const_cast<CHAR16 *>(Right));
}
