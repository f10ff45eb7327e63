// Runtime services of the host firmware model: GetVariable over an in-memory
// store; every other runtime service reports an unexpected call.
#include <cstring>

#include "host/model_state.h"

namespace {

// Non-volatile, boot-service and runtime access: what a variable set from the
// shell carries.
constexpr UINT32 StoredVariableAttributes = 0x7;

EFI_STATUS EFIAPI ModelGetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 *Attributes,
                                   UINTN *DataSize, VOID *Data) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "GetVariable");
  if (Model.Tpl > TPL_CALLBACK) {
    RecordUnexpected(Model, "GetVariable called above TPL_CALLBACK");
  }
  if (VariableName == nullptr || VendorGuid == nullptr || DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Model.Config.VariablesNotAvailableYet) {
    return EFI_NOT_AVAILABLE_YET;
  }
  std::u16string Name(VariableName);
  for (const VariableRecord &Variable : Model.Variables) {
    if (Variable.Name != Name || !SameGuid(Variable.Guid, *VendorGuid)) {
      continue;
    }
    if (*DataSize < Variable.Data.size()) {
      *DataSize = Variable.Data.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (Data == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (!Variable.Data.empty()) {
      std::memcpy(Data, Variable.Data.data(), Variable.Data.size());
    }
    *DataSize = Variable.Data.size();
    if (Attributes != nullptr) {
      *Attributes = Variable.Attributes;
    }
    return EFI_SUCCESS;
  }
  return EFI_NOT_FOUND;  // DataSize left as it was, as OVMF does
}

}  // namespace

void InstallRuntimeServices(HostFirmware::Impl &Model) {
  if (Model.Config.EfiDebugBytes) {
    Model.Variables.push_back(VariableRecord{u"EFIDebug", EFI_DEBUG_MASK_VARIABLE_GUID,
                                             StoredVariableAttributes,
                                             *Model.Config.EfiDebugBytes});
  }
  EFI_RUNTIME_SERVICES &Services = Model.RuntimeServices;
  Services.Hdr.Signature = EFI_RUNTIME_SERVICES_SIGNATURE;
  Services.Hdr.Revision = 0x00020046;
  Services.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  Services.GetTime = UnexpectedService<"RuntimeServices.GetTime">;
  Services.SetTime = UnexpectedService<"RuntimeServices.SetTime">;
  Services.GetWakeupTime = UnexpectedService<"RuntimeServices.GetWakeupTime">;
  Services.SetWakeupTime = UnexpectedService<"RuntimeServices.SetWakeupTime">;
  Services.SetVirtualAddressMap = UnexpectedService<"RuntimeServices.SetVirtualAddressMap">;
  Services.ConvertPointer = UnexpectedService<"RuntimeServices.ConvertPointer">;
  Services.GetVariable = ModelGetVariable;
  Services.GetNextVariableName = UnexpectedService<"RuntimeServices.GetNextVariableName">;
  Services.SetVariable = UnexpectedService<"RuntimeServices.SetVariable">;
  Services.GetNextHighMonotonicCount =
      UnexpectedService<"RuntimeServices.GetNextHighMonotonicCount">;
  Services.ResetSystem = UnexpectedService<"RuntimeServices.ResetSystem">;
  Services.UpdateCapsule = UnexpectedService<"RuntimeServices.UpdateCapsule">;
  Services.QueryCapsuleCapabilities = UnexpectedService<"RuntimeServices.QueryCapsuleCapabilities">;
  Services.QueryVariableInfo = UnexpectedService<"RuntimeServices.QueryVariableInfo">;
}
