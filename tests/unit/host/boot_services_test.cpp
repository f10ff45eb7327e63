#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "host_test_support.h"

namespace {

UINT32 HeaderCrc(const EFI_TABLE_HEADER *Header) {
  // A table is never shorter than its header; the CRC is taken with CRC32 zeroed.
  std::vector<uint8_t> Bytes(std::max<size_t>(Header->HeaderSize, sizeof(EFI_TABLE_HEADER)));
  std::memcpy(Bytes.data(), Header, Bytes.size());
  for (size_t Index = 0; Index < sizeof(Header->CRC32); Index++) {
    Bytes[offsetof(EFI_TABLE_HEADER, CRC32) + Index] = 0;
  }
  UINT32 Crc = 0xFFFFFFFFu;
  for (uint8_t Byte : Bytes) {
    Crc ^= Byte;
    for (int Bit = 0; Bit < 8; ++Bit) {
      Crc = (Crc & 1) ? (Crc >> 1) ^ 0xEDB88320u : Crc >> 1;
    }
  }
  return ~Crc;
}

HostFirmwareConfig Config() {
  HostFirmwareConfig Result;
  Result.Argv = {u"pchflash.efi", u"-r", u"image.bin"};
  return Result;
}

struct Dummy {
  int Value;
};

}  // namespace

TEST(HostSystemTable, HeadersCarrySignatureRevisionSizeAndCrcAsFirmwareDoes) {
  HostFirmware Model(Config());
  EFI_SYSTEM_TABLE *Table = Model.SystemTable();
  EXPECT_EQ(Table->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(Table->Hdr.Revision, 0x00020046u);
  EXPECT_EQ(Table->Hdr.HeaderSize, 120u);
  EXPECT_EQ(Table->Hdr.CRC32, HeaderCrc(&Table->Hdr));
  EXPECT_EQ(Table->BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(Table->BootServices->Hdr.HeaderSize, 376u);
  EXPECT_EQ(Table->BootServices->Hdr.CRC32, HeaderCrc(&Table->BootServices->Hdr));
  EXPECT_EQ(Table->RuntimeServices->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EXPECT_EQ(Table->RuntimeServices->Hdr.HeaderSize, 136u);
  EXPECT_EQ(Table->RuntimeServices->Hdr.CRC32, HeaderCrc(&Table->RuntimeServices->Hdr));
  ASSERT_NE(Table->ConOut, nullptr);
}

TEST(HostSystemTable, ConOutCapturesExactlyTheTextWritten) {
  HostFirmware Model(Config());
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = Model.SystemTable()->ConOut;
  CHAR16 First[] = u"Line\n";
  CHAR16 Second[] = u"\r\u00e9\r\n";
  EXPECT_EQ(Out->OutputString(Out, First), EFI_SUCCESS);
  EXPECT_EQ(Out->OutputString(Out, Second), EFI_SUCCESS);
  EXPECT_EQ(Model.Console(), u"Line\n\r\u00e9\r\n");
  EXPECT_EQ(Model.ConsoleUtf8(), "Line\n\r\xc3\xa9\r\n");
  EXPECT_EQ(Model.UnexpectedCalls(), 0u);
}

TEST(HostPool, CountsOutstandingAndFailsTheChosenAllocation) {
  HostFirmwareConfig Settings = Config();
  Settings.FailAllocation = 2;
  HostFirmware Model(Settings);
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;

  VOID *First = nullptr;
  VOID *Second = nullptr;
  VOID *Third = nullptr;
  ASSERT_EQ(Services->AllocatePool(EfiBootServicesData, 0x800000, &First), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(First) % 8, 0u);
  EXPECT_EQ(Services->AllocatePool(EfiBootServicesData, 16, &Second), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Second, nullptr);
  ASSERT_EQ(Services->AllocatePool(EfiBootServicesData, 16, &Third), EFI_SUCCESS);
  EXPECT_EQ(Model.AllocationCount(), 3u);
  EXPECT_EQ(Model.PoolOutstanding(), 2u);

  // Real memory: the whole 8 MiB can be written.
  std::memset(First, 0x5A, 0x800000);
  EXPECT_EQ(Services->FreePool(First), EFI_SUCCESS);
  EXPECT_EQ(Services->FreePool(Third), EFI_SUCCESS);
  EXPECT_EQ(Model.PoolOutstanding(), 0u);
  EXPECT_EQ(Model.UnexpectedCalls(), 0u);
}

TEST(HostPool, FreeOfUnknownOrFreedPointerIsRefusedAndRecorded) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  int Local = 0;
  EXPECT_EQ(Services->FreePool(&Local), EFI_INVALID_PARAMETER);
  VOID *Buffer = nullptr;
  ASSERT_EQ(Services->AllocatePool(EfiBootServicesData, 8, &Buffer), EFI_SUCCESS);
  EXPECT_EQ(Services->FreePool(Buffer), EFI_SUCCESS);
  EXPECT_EQ(Services->FreePool(Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Model.UnexpectedCalls(), 2u);
}

TEST(HostTpl, RaiseReturnsThePreviousLevelAndRestoreBringsItBack) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  EXPECT_EQ(Services->RaiseTPL(TPL_HIGH_LEVEL), TPL_APPLICATION);
  EXPECT_EQ(Model.CurrentTpl(), TPL_HIGH_LEVEL);
  Services->RestoreTPL(TPL_APPLICATION);
  EXPECT_EQ(Model.CurrentTpl(), TPL_APPLICATION);
  EXPECT_EQ(Model.UnexpectedCalls(), 0u);

  // Lowering with RaiseTPL is a firmware rule violation the model reports.
  Services->RaiseTPL(TPL_CALLBACK);
  Services->RaiseTPL(TPL_APPLICATION);
  EXPECT_EQ(Model.UnexpectedCalls(), 1u);
}

TEST(HostProtocols, ShellParametersAreOnTheImageHandleButTheShellIsNot) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  EFI_HANDLE Image = Model.ImageHandle();
  EFI_GUID ParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
  EFI_GUID ShellGuid = EFI_SHELL_PROTOCOL_GUID;

  VOID *Interface = nullptr;
  ASSERT_EQ(Services->OpenProtocol(Image, &ParametersGuid, &Interface, Image, nullptr,
                                   EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  auto *Parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(Interface);
  ASSERT_EQ(Parameters->Argc, 3u);
  EXPECT_EQ(std::u16string(Parameters->Argv[0]), u"pchflash.efi");
  EXPECT_EQ(std::u16string(Parameters->Argv[2]), u"image.bin");
  EXPECT_NE(Parameters->StdOut, nullptr);

  Interface = &Model;
  EXPECT_EQ(Services->OpenProtocol(Image, &ShellGuid, &Interface, Image, nullptr,
                                   EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_UNSUPPORTED);
  EXPECT_EQ(Interface, nullptr);
  ASSERT_EQ(Services->LocateProtocol(&ShellGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_NE(Interface, nullptr);

  EXPECT_EQ(Services->CloseProtocol(Image, &ParametersGuid, Image, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Services->CloseProtocol(Image, &ShellGuid, Image, nullptr), EFI_NOT_FOUND);
}

TEST(HostProtocols, InstallThenUninstallTwiceAsOvmfAnswers) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  EFI_HANDLE Image = Model.ImageHandle();
  EFI_GUID TestGuid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  Dummy Instance{7};

  EFI_HANDLE Handle = Image;
  ASSERT_EQ(Services->InstallMultipleProtocolInterfaces(&Handle, &TestGuid, &Instance, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Handle, Image);
  VOID *Found = nullptr;
  EXPECT_EQ(Services->LocateProtocol(&TestGuid, nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Instance);
  Found = nullptr;
  EXPECT_EQ(Services->OpenProtocol(Image, &TestGuid, &Found, Image, nullptr,
                                   EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(Found, &Instance);
  EXPECT_EQ(Services->CloseProtocol(Image, &TestGuid, Image, nullptr), EFI_SUCCESS);

  EXPECT_EQ(Services->UninstallMultipleProtocolInterfaces(Image, &TestGuid, &Instance, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Services->LocateProtocol(&TestGuid, nullptr, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Services->UninstallMultipleProtocolInterfaces(Image, &TestGuid, &Instance, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Model.InstalledInterface(Image, TestGuid), nullptr);
}

TEST(HostProtocols, InstallReadsPairsPastTheRegistersAndIsAllOrNothing) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  EFI_GUID A = {0xA, 0, 0, {0}};
  EFI_GUID B = {0xB, 0, 0, {0}};
  EFI_GUID C = {0xC, 0, 0, {0}};
  Dummy IA{1}, IB{2}, IC{3};

  // Three pairs: the later ones and the terminator travel on the stack.
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(
      Services->InstallMultipleProtocolInterfaces(&Handle, &A, &IA, &B, &IB, &C, &IC, nullptr),
      EFI_SUCCESS);
  ASSERT_NE(Handle, nullptr);
  EXPECT_EQ(Model.InstalledInterface(Handle, A), &IA);
  EXPECT_EQ(Model.InstalledInterface(Handle, B), &IB);
  EXPECT_EQ(Model.InstalledInterface(Handle, C), &IC);

  // A GUID already there refuses the whole list.
  EFI_GUID D = {0xD, 0, 0, {0}};
  Dummy ID{4};
  EXPECT_EQ(Services->InstallMultipleProtocolInterfaces(&Handle, &D, &ID, &A, &IA, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Model.InstalledInterface(Handle, D), nullptr);

  // Uninstalling with a wrong interface removes nothing.
  EXPECT_EQ(Services->UninstallMultipleProtocolInterfaces(Handle, &A, &IA, &B, &IC, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Model.InstalledInterface(Handle, A), &IA);
  EXPECT_EQ(
      Services->UninstallMultipleProtocolInterfaces(Handle, &A, &IA, &B, &IB, &C, &IC, nullptr),
      EFI_SUCCESS);
  // With its last protocol gone the handle is no longer valid.
  EXPECT_EQ(Services->InstallMultipleProtocolInterfaces(&Handle, &A, &IA, nullptr),
            EFI_INVALID_PARAMETER);
}

TEST(HostProtocols, UnusedSlotsRecordAnUnexpectedCallAndAnswerUnsupported) {
  HostFirmware Model(Config());
  EFI_SYSTEM_TABLE *Table = Model.SystemTable();
  EXPECT_EQ(Table->BootServices->LoadImage(), EFI_UNSUPPORTED);
  EXPECT_EQ(Table->BootServices->SetWatchdogTimer(), EFI_UNSUPPORTED);
  EXPECT_EQ(Table->RuntimeServices->ResetSystem(), EFI_UNSUPPORTED);
  EXPECT_EQ(Model.UnexpectedCalls(), 3u);
  EXPECT_EQ(Model.UnexpectedCallNames(),
            (std::vector<std::string>{"BootServices.LoadImage", "BootServices.SetWatchdogTimer",
                                      "RuntimeServices.ResetSystem"}));
}

TEST(HostProtocols, CollationComparesUpperCasedCharacters) {
  HostFirmware Model(Config());
  EFI_GUID CollationGuid = EFI_UNICODE_COLLATION2_PROTOCOL_GUID;
  VOID *Interface = nullptr;
  ASSERT_EQ(Model.SystemTable()->BootServices->LocateProtocol(&CollationGuid, nullptr, &Interface),
            EFI_SUCCESS);
  auto *Collation = static_cast<EFI_UNICODE_COLLATION2_PROTOCOL *>(Interface);
  CHAR16 UpperR[] = u"-R", LowerR[] = u"-r", UpperAll[] = u"-ALL", LowerAll[] = u"-all";
  CHAR16 LowerW[] = u"-w", Dash[] = u"-";
  EXPECT_EQ(Collation->StriColl(Collation, UpperR, LowerR), 0);
  EXPECT_EQ(Collation->StriColl(Collation, UpperAll, LowerAll), 0);
  EXPECT_LT(Collation->StriColl(Collation, LowerR, LowerW), 0);
  EXPECT_GT(Collation->StriColl(Collation, LowerR, Dash), 0);
  EXPECT_LT(Collation->StriColl(Collation, Dash, LowerR), 0);
  EXPECT_STREQ(Collation->SupportedLanguages, "en");
}

namespace {

UINTN gFakeMask = 0;
EFI_STATUS EFIAPI FakeGetDebugMask(EFI_DEBUG_MASK_PROTOCOL *, UINTN *Mask) {
  *Mask = gFakeMask;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FakeSetDebugMask(EFI_DEBUG_MASK_PROTOCOL *, UINTN Mask) {
  gFakeMask = Mask;
  return EFI_SUCCESS;
}

}  // namespace

TEST(HostProtocols, DebugMaskIsReadWhenTheProtocolIsWithdrawn) {
  HostFirmware Model(Config());
  EFI_BOOT_SERVICES *Services = Model.SystemTable()->BootServices;
  EXPECT_EQ(Model.DebugMask(), std::nullopt);

  EFI_GUID MaskGuid = EFI_DEBUG_MASK_PROTOCOL_GUID;
  EFI_DEBUG_MASK_PROTOCOL Protocol = {EFI_DEBUG_MASK_REVISION, FakeGetDebugMask, FakeSetDebugMask};
  EFI_HANDLE Handle = Model.ImageHandle();
  gFakeMask = 0x80000042;
  ASSERT_EQ(Services->InstallMultipleProtocolInterfaces(&Handle, &MaskGuid, &Protocol, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Model.DebugMask(), 0x80000042u);
  gFakeMask = 0x400000;
  ASSERT_EQ(Services->UninstallMultipleProtocolInterfaces(Handle, &MaskGuid, &Protocol, nullptr),
            EFI_SUCCESS);
  gFakeMask = 1;  // after the withdrawal, the protocol's state no longer counts
  EXPECT_EQ(Model.DebugMask(), 0x400000u);
}

namespace {

EFI_STATUS CallPrepare(HostFirmware &Model, EFI_STATUS *Status) {
  EFI_GUID PrepareGuid = FULL_FLASH_PREPARE_PROTOCOL_GUID;
  VOID *Interface = nullptr;
  EFI_STATUS Located =
      Model.SystemTable()->BootServices->LocateProtocol(&PrepareGuid, nullptr, &Interface);
  if (Located == EFI_SUCCESS) {
    // The platform's table is used through its third pointer only.
    FULL_FLASH_PREPARE Prepare;
    std::memcpy(&Prepare, static_cast<uint8_t *>(Interface) + 16, sizeof(Prepare));
    *Status = Prepare(Interface, 0, 0);
  }
  return Located;
}

}  // namespace

TEST(HostProtocols, FullFlashPrepareAnswersItsStatusAndRunsTheHookOnlyOnSuccess) {
  int HookRuns = 0;
  HostFirmwareConfig Settings = Config();
  Settings.OnFullFlashPrepare = [&HookRuns] { ++HookRuns; };
  {
    HostFirmware Model(Settings);
    EFI_STATUS Status = EFI_ABORTED;
    ASSERT_EQ(CallPrepare(Model, &Status), EFI_SUCCESS);
    EXPECT_EQ(Status, EFI_SUCCESS);
    EXPECT_EQ(HookRuns, 1);
    EXPECT_EQ(Model.FullFlashPrepareCalls(), 1u);
  }
  Settings.FullFlashPrepareStatus = EFI_ACCESS_DENIED;
  {
    HostFirmware Model(Settings);
    EFI_STATUS Status = EFI_SUCCESS;
    ASSERT_EQ(CallPrepare(Model, &Status), EFI_SUCCESS);
    EXPECT_EQ(Status, EFI_ACCESS_DENIED);
    EXPECT_EQ(HookRuns, 1);
    EXPECT_EQ(Model.FullFlashPrepareCalls(), 1u);
  }
  Settings.FullFlashPreparePresent = false;
  {
    HostFirmware Model(Settings);
    EFI_STATUS Status = EFI_SUCCESS;
    EXPECT_EQ(CallPrepare(Model, &Status), EFI_NOT_FOUND);
  }
}
