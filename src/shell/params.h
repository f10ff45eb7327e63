// Binding to the UEFI Shell and parsing its argument vector into a ParamList.
// All text here is UCS-2.
#pragma once

#include "shell/list.h"
#include "uefi/uefi.h"

enum ParamKind : UINT32 {
  Switch = 0,
  OneValue = 1,
  Positional = 2,
  PrefixSwitch = 3,
  TwoValues = 4,
  AllValues = 5,
};

struct ParamItem {
  const CHAR16 *Name;  // null ends the table
  UINT32 Kind;
};

struct ParamNode {
  ListEntry Link;
  CHAR16 *Name;  // switches: the argument as typed; null for positional values
  UINT32 Kind;
  CHAR16 *Value;    // positional text after escapes, or a value switch's joined values
  UINT64 Position;  // 0, 1, 2 ... for positional nodes; all ones for switches
};

typedef ListEntry *ParamList;  // the list head; null when there is no list

extern const ParamItem CommandParamTable[];

// Binding state, set by BindShell and cleared by UnbindShell.
struct ShellBinding {
  EFI_SHELL_PROTOCOL *Shell;
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters;
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_SET_FILE_INFO SetFileInfo;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_CLOSE_FILE CloseFile;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
};
extern ShellBinding gShell;

EFI_STATUS BindShell(EFI_HANDLE ImageHandle);
EFI_STATUS UnbindShell(EFI_HANDLE ImageHandle);

EFI_STATUS ParseCommandLine(const ParamItem *Table, ParamList *List, CHAR16 **ProblemText,
                            BOOLEAN AutoPageBreak, BOOLEAN AllowNumbers);
EFI_STATUS ParseArguments(const ParamItem *Table, ParamList *List, CHAR16 **ProblemText,
                          BOOLEAN AutoPageBreak, CHAR16 **Argv, UINTN Argc, BOOLEAN AllowNumbers);
BOOLEAN HasFlag(ParamList List, const CHAR16 *Name);
const CHAR16 *GetPositionalValue(ParamList List, UINT64 Position);
UINT64 CountPositional(ParamList List);
VOID FreeParamList(ParamList List);

BOOLEAN FindParamItem(const CHAR16 *Argument, const ParamItem *Table, UINT32 *Kind);
BOOLEAN LooksLikeSwitch(const CHAR16 *Argument, BOOLEAN AllowNumbers);
// Through the firmware's collation interface, located on first use after
// BindShell and forgotten by UnbindShell; ASCII case folding where there is none.
INTN CompareNoCase(const CHAR16 *Left, const CHAR16 *Right);
