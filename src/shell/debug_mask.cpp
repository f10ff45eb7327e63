#include "shell/debug_mask.h"

#include "base/firmware.h"

VOID *HobList = nullptr;
UINT32 CurrentDebugMask = DefaultDebugMask;
EFI_DEBUG_MASK_PROTOCOL DebugMaskInstance = {EFI_DEBUG_MASK_REVISION, GetDebugMask, SetDebugMask};

namespace {

EFI_GUID HobListGuid = EFI_HOB_LIST_GUID;
EFI_GUID DebugMaskVariableGuid = EFI_DEBUG_MASK_VARIABLE_GUID;
EFI_GUID DebugMaskProtocolGuid = EFI_DEBUG_MASK_PROTOCOL_GUID;

constexpr UINTN DebugMaskVariableBytes = 8;
constexpr UINT16 DebugMaskHobLength = sizeof(EFI_HOB_GUID_TYPE) + DebugMaskVariableBytes;

// HOBs are read byte-wise: a list built by other firmware need not keep every
// HOB 8-byte aligned.
EFI_HOB_GENERIC_HEADER ReadHobHeader(const VOID *Hob) {
  EFI_HOB_GENERIC_HEADER Header;
  MemCopy(&Header, Hob, sizeof(Header));
  return Header;
}

// Variable services may only be called at TPL_CALLBACK or below. The level is
// learnt by raising to the top and restoring at once, which leaves it unchanged.
BOOLEAN VariableServicesCallable() {
  EFI_BOOT_SERVICES *BootServices = gFirmware.BootServices;
  if (BootServices == nullptr || BootServices->RaiseTPL == nullptr ||
      BootServices->RestoreTPL == nullptr) {
    return FALSE;
  }
  EFI_TPL Current = BootServices->RaiseTPL(TPL_HIGH_LEVEL);
  BootServices->RestoreTPL(Current);
  return Current <= TPL_CALLBACK;
}

VOID LoadDebugMaskFromHob() {
  const UINT8 *Hob = static_cast<const UINT8 *>(FindFirstGuidHob(&DebugMaskVariableGuid));
  if (Hob == nullptr || ReadHobHeader(Hob).HobLength != DebugMaskHobLength) {
    return;
  }
  CurrentDebugMask = ReadLittleEndian32(Hob + sizeof(EFI_HOB_GUID_TYPE));
}

}  // namespace

VOID LocateHobList() { FindConfigurationTable(&HobListGuid, &HobList); }

VOID PublishDebugMask(EFI_HANDLE ImageHandle) {
  CurrentDebugMask = DefaultDebugMask;
  EFI_BOOT_SERVICES *BootServices = gFirmware.BootServices;
  if (BootServices != nullptr && BootServices->InstallMultipleProtocolInterfaces != nullptr) {
    EFI_HANDLE Handle = ImageHandle;
    BootServices->InstallMultipleProtocolInterfaces(&Handle, &DebugMaskProtocolGuid,
                                                    &DebugMaskInstance, (VOID *)nullptr);
  }
  // The mask is read even when the protocol could not be published.
  LoadDebugMask();
}

VOID WithdrawDebugMask(EFI_HANDLE ImageHandle) {
  EFI_BOOT_SERVICES *BootServices = gFirmware.BootServices;
  if (BootServices == nullptr || BootServices->UninstallMultipleProtocolInterfaces == nullptr) {
    return;
  }
  BootServices->UninstallMultipleProtocolInterfaces(ImageHandle, &DebugMaskProtocolGuid,
                                                    &DebugMaskInstance, (VOID *)nullptr);
}

VOID LoadDebugMask() {
  if (!VariableServicesCallable()) {
    return;
  }
  EFI_SYSTEM_TABLE *SystemTable = gFirmware.SystemTable;
  if (SystemTable == nullptr || SystemTable->RuntimeServices == nullptr ||
      SystemTable->RuntimeServices->GetVariable == nullptr) {
    return;
  }

  CHAR16 VariableName[] = u"EFIDebug";
  // Zero-filled, so a shorter variable leaves its missing upper bytes 0.
  UINT8 Data[DebugMaskVariableBytes] = {};
  UINTN DataSize = sizeof(Data);
  EFI_STATUS Status = SystemTable->RuntimeServices->GetVariable(
      VariableName, &DebugMaskVariableGuid, nullptr, &DataSize, Data);
  if (Status == EFI_SUCCESS) {
    CurrentDebugMask = ReadLittleEndian32(Data);
  } else if (Status == EFI_NOT_AVAILABLE_YET) {
    LoadDebugMaskFromHob();
  }
}

EFI_STATUS EFIAPI GetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN *Mask) {
  (VOID) This;
  if (Mask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Mask = CurrentDebugMask;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN Mask) {
  (VOID) This;
  CurrentDebugMask = static_cast<UINT32>(Mask);
  return EFI_SUCCESS;
}

EFI_STATUS FindConfigurationTable(const EFI_GUID *Guid, VOID **Table) {
  if (Table == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Table = nullptr;
  EFI_SYSTEM_TABLE *SystemTable = gFirmware.SystemTable;
  if (Guid == nullptr || SystemTable == nullptr || SystemTable->ConfigurationTable == nullptr) {
    return EFI_NOT_FOUND;
  }
  for (UINTN Index = 0; Index < SystemTable->NumberOfTableEntries; Index++) {
    const EFI_CONFIGURATION_TABLE *Entry = &SystemTable->ConfigurationTable[Index];
    if (GuidEquals(&Entry->VendorGuid, Guid)) {
      *Table = Entry->VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// A HOB shorter than its own header would make the walk stand still or run
// backwards; the list is taken to end there.
VOID *FindGuidHob(const EFI_GUID *Guid, VOID *FirstHob) {
  if (Guid == nullptr) {
    return nullptr;
  }
  UINT8 *Hob = static_cast<UINT8 *>(FirstHob);
  while (Hob != nullptr) {
    EFI_HOB_GENERIC_HEADER Header = ReadHobHeader(Hob);
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST ||
        Header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return nullptr;
    }
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        Header.HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      EFI_GUID Name;
      MemCopy(&Name, Hob + offsetof(EFI_HOB_GUID_TYPE, Name), sizeof(Name));
      if (GuidEquals(&Name, Guid)) {
        return Hob;
      }
    }
    Hob += Header.HobLength;
  }
  return nullptr;
}

VOID *FindFirstGuidHob(const EFI_GUID *Guid) {
  if (HobList == nullptr) {
    return nullptr;
  }
  return FindGuidHob(Guid, HobList);
}
