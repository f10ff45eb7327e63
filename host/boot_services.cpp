// Boot services of the host firmware model: pool, protocol database, task
// priority. Every slot the application has no business calling records an
// unexpected call and answers EFI_UNSUPPORTED.
#include <cstring>

#include "host/model_state.h"
#include "sim/sim_backend.h"

namespace {

// Fresh pool memory holds this byte, so code that reads a buffer it never filled
// sees garbage instead of the zeroes fresh host pages would give.
constexpr uint8_t FreshPoolByte = 0xAF;
constexpr size_t MaxProtocolPairs = 64;  // a longer list means a missing terminator

void CheckTplAtMost(HostFirmware::Impl &Model, EFI_TPL Limit, const char *Service) {
  if (Model.Tpl > Limit) {
    RecordUnexpected(Model, std::string(Service) + " called above its task priority limit");
  }
}

// ---- Task priority ----------------------------------------------------------------
EFI_TPL EFIAPI ModelRaiseTpl(EFI_TPL NewTpl) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "RaiseTPL");
  if (NewTpl < Model.Tpl || NewTpl > TPL_HIGH_LEVEL) {
    RecordUnexpected(Model, "RaiseTPL to a level below the current one or above TPL_HIGH_LEVEL");
  }
  EFI_TPL Old = Model.Tpl;
  Model.Tpl = NewTpl;
  return Old;
}

VOID EFIAPI ModelRestoreTpl(EFI_TPL OldTpl) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "RestoreTPL");
  if (OldTpl > Model.Tpl) {
    RecordUnexpected(Model, "RestoreTPL to a level above the current one");
  }
  Model.Tpl = OldTpl;
}

// ---- Pool -------------------------------------------------------------------------
EFI_STATUS EFIAPI ModelAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "AllocatePool");
  ++Model.AllocatePoolCalls;
  CheckTplAtMost(Model, TPL_NOTIFY, "AllocatePool");
  if (Buffer == nullptr || PoolType == EfiReservedMemoryType ||
      (PoolType > EfiRuntimeServicesData && PoolType < 0x70000000)) {
    RecordUnexpected(Model, "AllocatePool with invalid arguments");
    return EFI_INVALID_PARAMETER;
  }
  if (Model.Config.FailAllocation != 0 && Model.AllocatePoolCalls == Model.Config.FailAllocation) {
    return EFI_OUT_OF_RESOURCES;  // *Buffer untouched: callers must look at the status
  }
  *Buffer = ModelPoolTake(Model, Size);
  return *Buffer == nullptr ? EFI_OUT_OF_RESOURCES : EFI_SUCCESS;
}

EFI_STATUS EFIAPI ModelFreePool(VOID *Buffer) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "FreePool");
  auto Found = Model.Pool.find(Buffer);
  if (Found == Model.Pool.end()) {
    RecordUnexpected(Model, "FreePool of an unknown pointer");
    return EFI_INVALID_PARAMETER;
  }
  std::free(Found->first);
  Model.Pool.erase(Found);
  return EFI_SUCCESS;
}

// ---- Protocol database ------------------------------------------------------------
EFI_STATUS EFIAPI ModelOpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface,
                                    EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle,
                                    UINT32 Attributes) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "OpenProtocol");
  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL && Interface != nullptr) {
    *Interface = nullptr;
  }
  if (Protocol == nullptr ||
      (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL && Interface == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Attributes != EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL &&
      Attributes != EFI_OPEN_PROTOCOL_GET_PROTOCOL &&
      Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    // Driver-model opens (BY_DRIVER, EXCLUSIVE, BY_CHILD_CONTROLLER) are not modelled.
    RecordUnexpected(Model, "OpenProtocol with driver-model attributes");
    return EFI_UNSUPPORTED;
  }
  HandleRecord *Record = FindHandle(Model, Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // For these three kinds of open firmware checks neither the agent nor the
  // controller handle; they are only kept for CloseProtocol.
  ProtocolInstance *Instance = FindProtocol(Record, *Protocol);
  if (Instance == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    *Interface = Instance->Interface;
    Instance->Opens.push_back(OpenRecord{AgentHandle, ControllerHandle, Attributes});
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ModelCloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE AgentHandle,
                                     EFI_HANDLE ControllerHandle) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "CloseProtocol");
  HandleRecord *Record = FindHandle(Model, Handle);
  if (Record == nullptr || Protocol == nullptr || FindHandle(Model, AgentHandle) == nullptr ||
      (ControllerHandle != nullptr && FindHandle(Model, ControllerHandle) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInstance *Instance = FindProtocol(Record, *Protocol);
  if (Instance == nullptr) {
    return EFI_NOT_FOUND;
  }
  bool Closed = false;
  for (auto Open = Instance->Opens.begin(); Open != Instance->Opens.end();) {
    if (Open->Agent == AgentHandle && Open->Controller == ControllerHandle) {
      Open = Instance->Opens.erase(Open);
      Closed = true;
    } else {
      ++Open;
    }
  }
  return Closed ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI ModelLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "LocateProtocol");
  if (Interface == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  if (Registration != nullptr) {
    RecordUnexpected(Model, "LocateProtocol with a registration");
    return EFI_NOT_FOUND;
  }
  for (const std::unique_ptr<HandleRecord> &Record : Model.Handles) {
    if (!Record->Live) {
      continue;
    }
    if (ProtocolInstance *Instance = FindProtocol(Record.get(), *Protocol)) {
      *Interface = Instance->Interface;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

struct ProtocolPair {
  EFI_GUID *Guid;
  VOID *Interface;
};

// Keeps a pair read from a variadic list; false once the list is too long to be
// a real one (a missing terminator).
bool KeepPair(HostFirmware::Impl &Model, std::vector<ProtocolPair> *Pairs, EFI_GUID *Guid,
              VOID *Interface) {
  Pairs->push_back(ProtocolPair{Guid, Interface});
  if (Pairs->size() > MaxProtocolPairs) {
    RecordUnexpected(Model, "protocol interface list without a terminating null");
    return false;
  }
  return true;
}

// Firmware's variadic services follow the Microsoft convention, so the pairs are
// walked with the ms_abi builtins inside the EFIAPI function itself, never with
// <stdarg.h>.
#define READ_PROTOCOL_PAIRS(Model, Last, Pairs, Complete)       \
  do {                                                          \
    __builtin_ms_va_list Arguments;                             \
    __builtin_ms_va_start(Arguments, Last);                     \
    for (;;) {                                                  \
      EFI_GUID *Guid = __builtin_va_arg(Arguments, EFI_GUID *); \
      if (Guid == nullptr) {                                    \
        break;                                                  \
      }                                                         \
      VOID *Interface = __builtin_va_arg(Arguments, VOID *);    \
      if (!KeepPair(Model, &(Pairs), Guid, Interface)) {        \
        (Complete) = false;                                     \
        break;                                                  \
      }                                                         \
    }                                                           \
    __builtin_ms_va_end(Arguments);                             \
  } while (0)

EFI_STATUS EFIAPI ModelInstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "InstallMultipleProtocolInterfaces");
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<ProtocolPair> Pairs;
  bool Complete = true;
  READ_PROTOCOL_PAIRS(Model, Handle, Pairs, Complete);
  if (!Complete) {
    return EFI_INVALID_PARAMETER;
  }

  HandleRecord *Record = nullptr;
  if (*Handle != nullptr) {
    Record = FindHandle(Model, *Handle);
    if (Record == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  }
  // All or nothing: a GUID already on the handle (or given twice) refuses the lot.
  for (size_t I = 0; I < Pairs.size(); ++I) {
    if (Record != nullptr && FindProtocol(Record, *Pairs[I].Guid) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (size_t K = 0; K < I; ++K) {
      if (SameGuid(*Pairs[K].Guid, *Pairs[I].Guid)) {
        return EFI_INVALID_PARAMETER;
      }
    }
  }
  if (Pairs.empty()) {
    return EFI_SUCCESS;
  }
  if (Record == nullptr) {
    Record = NewHandle(Model, "installed", false);
    *Handle = Record;
  }
  const EFI_GUID DebugMaskGuid = EFI_DEBUG_MASK_PROTOCOL_GUID;
  for (const ProtocolPair &Pair : Pairs) {
    Record->Protocols.push_back(ProtocolInstance{*Pair.Guid, Pair.Interface, {}});
    if (SameGuid(*Pair.Guid, DebugMaskGuid)) {
      Model.DebugMaskPublished = true;
    }
  }
  return EFI_SUCCESS;
}

// Keeps the mask the application's debug-mask protocol holds as it goes away.
void RememberDebugMask(HostFirmware::Impl &Model, const ProtocolPair &Pair) {
  const EFI_GUID DebugMaskGuid = EFI_DEBUG_MASK_PROTOCOL_GUID;
  if (!SameGuid(*Pair.Guid, DebugMaskGuid) || Pair.Interface == nullptr) {
    return;
  }
  auto *Protocol = static_cast<EFI_DEBUG_MASK_PROTOCOL *>(Pair.Interface);
  UINTN Mask = 0;
  if (Protocol->GetDebugMask != nullptr && Protocol->GetDebugMask(Protocol, &Mask) == EFI_SUCCESS) {
    Model.WithdrawnDebugMask = static_cast<uint32_t>(Mask);
  } else {
    Model.WithdrawnDebugMask.reset();
  }
}

EFI_STATUS EFIAPI ModelUninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "UninstallMultipleProtocolInterfaces");
  std::vector<ProtocolPair> Pairs;
  bool Complete = true;
  READ_PROTOCOL_PAIRS(Model, Handle, Pairs, Complete);
  HandleRecord *Record = FindHandle(Model, Handle);
  if (!Complete || Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // As OVMF: every pair must be installed there with that very interface, else
  // nothing is removed and the answer is EFI_INVALID_PARAMETER (also for a
  // second uninstall of the same interface).
  for (const ProtocolPair &Pair : Pairs) {
    ProtocolInstance *Instance = FindProtocol(Record, *Pair.Guid);
    if (Instance == nullptr || Instance->Interface != Pair.Interface) {
      return EFI_INVALID_PARAMETER;
    }
  }
  for (const ProtocolPair &Pair : Pairs) {
    RememberDebugMask(Model, Pair);
    for (auto Instance = Record->Protocols.begin(); Instance != Record->Protocols.end();
         ++Instance) {
      if (SameGuid(Instance->Guid, *Pair.Guid)) {
        Record->Protocols.erase(Instance);
        break;
      }
    }
  }
  if (Record->Protocols.empty() && !Record->Permanent) {
    Record->Live = false;  // firmware frees a handle with no protocols left
  }
  return EFI_SUCCESS;
}

}  // namespace

// ---- Shared with the other service files --------------------------------------------
void *ModelPoolTake(HostFirmware::Impl &Model, size_t Size) {
  void *Buffer = std::malloc(Size == 0 ? 1 : Size);
  if (Buffer == nullptr) {
    return nullptr;
  }
  std::memset(Buffer, FreshPoolByte, Size);
  Model.Pool[Buffer] = Size;
  return Buffer;
}

void ReleasePool(HostFirmware::Impl &Model) {
  for (auto &Entry : Model.Pool) {
    std::free(Entry.first);
  }
  Model.Pool.clear();
}

HandleRecord *NewHandle(HostFirmware::Impl &Model, const std::string &Label, bool Permanent) {
  Model.Handles.push_back(std::make_unique<HandleRecord>());
  HandleRecord *Record = Model.Handles.back().get();
  Record->Label = Label;
  Record->Permanent = Permanent;
  return Record;
}

HandleRecord *FindHandle(HostFirmware::Impl &Model, EFI_HANDLE Handle) {
  if (Handle == nullptr) {
    return nullptr;
  }
  for (const std::unique_ptr<HandleRecord> &Record : Model.Handles) {
    if (Record.get() == Handle) {
      return Record->Live ? Record.get() : nullptr;
    }
  }
  return nullptr;
}

ProtocolInstance *FindProtocol(HandleRecord *Record, const EFI_GUID &Guid) {
  for (ProtocolInstance &Instance : Record->Protocols) {
    if (SameGuid(Instance.Guid, Guid)) {
      return &Instance;
    }
  }
  return nullptr;
}

// The wait passes on the attached simulated platform's clock, so PM-timer reads,
// running cycles and chip busy times see it; with no platform there is nothing to
// wait for.
EFI_STATUS EFIAPI ModelStall(UINTN Microseconds) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "Stall");
  if (SimPlatform *Platform = SimBackendPlatform()) {
    constexpr uint64_t NsPerUs = 1000;
    const uint64_t Us = Microseconds;
    SimAdvanceTime(Platform, Us > ~0ull / NsPerUs ? ~0ull : Us * NsPerUs);
  }
  return EFI_SUCCESS;
}

void InstallBootServices(HostFirmware::Impl &Model) {
  EFI_BOOT_SERVICES &Services = Model.BootServices;
  Services.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  Services.Hdr.Revision = 0x00020046;
  Services.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  Services.RaiseTPL = ModelRaiseTpl;
  Services.RestoreTPL = ModelRestoreTpl;
  Services.AllocatePages = UnexpectedService<"BootServices.AllocatePages">;
  Services.FreePages = UnexpectedService<"BootServices.FreePages">;
  Services.GetMemoryMap = UnexpectedService<"BootServices.GetMemoryMap">;
  Services.AllocatePool = ModelAllocatePool;
  Services.FreePool = ModelFreePool;
  Services.CreateEvent = UnexpectedService<"BootServices.CreateEvent">;
  Services.SetTimer = UnexpectedService<"BootServices.SetTimer">;
  Services.WaitForEvent = UnexpectedService<"BootServices.WaitForEvent">;
  Services.SignalEvent = UnexpectedService<"BootServices.SignalEvent">;
  Services.CloseEvent = UnexpectedService<"BootServices.CloseEvent">;
  Services.CheckEvent = UnexpectedService<"BootServices.CheckEvent">;
  Services.InstallProtocolInterface = UnexpectedService<"BootServices.InstallProtocolInterface">;
  Services.ReinstallProtocolInterface =
      UnexpectedService<"BootServices.ReinstallProtocolInterface">;
  Services.UninstallProtocolInterface =
      UnexpectedService<"BootServices.UninstallProtocolInterface">;
  Services.HandleProtocol = UnexpectedService<"BootServices.HandleProtocol">;
  Services.Reserved = nullptr;
  Services.RegisterProtocolNotify = UnexpectedService<"BootServices.RegisterProtocolNotify">;
  Services.LocateHandle = UnexpectedService<"BootServices.LocateHandle">;
  Services.LocateDevicePath = UnexpectedService<"BootServices.LocateDevicePath">;
  Services.InstallConfigurationTable = UnexpectedService<"BootServices.InstallConfigurationTable">;
  Services.LoadImage = UnexpectedService<"BootServices.LoadImage">;
  Services.StartImage = UnexpectedService<"BootServices.StartImage">;
  Services.Exit = UnexpectedService<"BootServices.Exit">;
  Services.UnloadImage = UnexpectedService<"BootServices.UnloadImage">;
  Services.ExitBootServices = UnexpectedService<"BootServices.ExitBootServices">;
  Services.GetNextMonotonicCount = UnexpectedService<"BootServices.GetNextMonotonicCount">;
  Services.Stall = ModelStall;
  Services.SetWatchdogTimer = UnexpectedService<"BootServices.SetWatchdogTimer">;
  Services.ConnectController = UnexpectedService<"BootServices.ConnectController">;
  Services.DisconnectController = UnexpectedService<"BootServices.DisconnectController">;
  Services.OpenProtocol = ModelOpenProtocol;
  Services.CloseProtocol = ModelCloseProtocol;
  Services.OpenProtocolInformation = UnexpectedService<"BootServices.OpenProtocolInformation">;
  Services.ProtocolsPerHandle = UnexpectedService<"BootServices.ProtocolsPerHandle">;
  Services.LocateHandleBuffer = UnexpectedService<"BootServices.LocateHandleBuffer">;
  Services.LocateProtocol = ModelLocateProtocol;
  Services.InstallMultipleProtocolInterfaces = ModelInstallMultipleProtocolInterfaces;
  Services.UninstallMultipleProtocolInterfaces = ModelUninstallMultipleProtocolInterfaces;
  Services.CalculateCrc32 = UnexpectedService<"BootServices.CalculateCrc32">;
  Services.CopyMem = UnexpectedService<"BootServices.CopyMem">;
  Services.SetMem = UnexpectedService<"BootServices.SetMem">;
  Services.CreateEventEx = UnexpectedService<"BootServices.CreateEventEx">;
}
