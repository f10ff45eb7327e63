// The configuration table of the host firmware model: an unrelated table first
// (so a search must look past entry 0), then, when asked for, the PI hand-off
// block list: the PHIT, a resource descriptor, a GUID HOB of a near-miss GUID,
// optionally the debug-mask GUID HOB, and the end HOB; last, unless switched off,
// the ACPI 2.0 tables (acpi_tables.cpp).
#include <cstring>

#include "host/model_state.h"

namespace {

// The SMBIOS 3 entry point, which the application never reads.
#define SMBIOS3_TABLE_GUID                                                         \
  {                                                                                \
    0xF2FD1544, 0x9794, 0x4A2C, { 0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94 } \
  }

// Shares its first 8 bytes with the debug-mask GUID, so a comparison of only half
// the GUID finds the wrong HOB.
#define NEAR_MISS_HOB_GUID                                                         \
  {                                                                                \
    0x59D1C24F, 0x50F1, 0x401A, { 0xB1, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01 } \
  }

constexpr UINT16 EFI_HOB_TYPE_RESOURCE_DESCRIPTOR = 0x0003;
constexpr UINT16 PhitLength = 56;
constexpr UINT16 ResourceDescriptorLength = 48;
constexpr UINT32 PhitVersion = 9;
constexpr size_t HobGuidDataOffset = 24;

class HobWriter {
 public:
  explicit HobWriter(std::vector<uint8_t> *Bytes) : Bytes(Bytes) {}

  size_t Header(UINT16 Type, UINT16 Length) {
    size_t Start = Bytes->size();
    Bytes->resize(Start + Length, 0);
    EFI_HOB_GENERIC_HEADER HobHeader = {Type, Length, 0};
    std::memcpy(Bytes->data() + Start, &HobHeader, sizeof(HobHeader));
    return Start;
  }

  void GuidHob(const EFI_GUID &Name, const std::vector<uint8_t> &Data) {
    size_t Start =
        Header(EFI_HOB_TYPE_GUID_EXTENSION, static_cast<UINT16>(HobGuidDataOffset + Data.size()));
    std::memcpy(Bytes->data() + Start + offsetof(EFI_HOB_GUID_TYPE, Name), &Name, sizeof(Name));
    if (!Data.empty()) {
      std::memcpy(Bytes->data() + Start + HobGuidDataOffset, Data.data(), Data.size());
    }
  }

  void Put32(size_t Offset, UINT32 Value) { std::memcpy(Bytes->data() + Offset, &Value, 4); }
  void Put64(size_t Offset, UINT64 Value) { std::memcpy(Bytes->data() + Offset, &Value, 8); }

 private:
  std::vector<uint8_t> *Bytes;
};

void BuildHobList(HostFirmware::Impl &Model) {
  std::vector<uint8_t> Bytes;
  HobWriter Writer(&Bytes);

  size_t Phit = Writer.Header(EFI_HOB_TYPE_HANDOFF, PhitLength);
  Writer.Put32(Phit + 8, PhitVersion);
  Writer.Put32(Phit + 12, 0);           // BootMode: full configuration
  Writer.Put64(Phit + 16, 0x7F000000);  // EfiMemoryTop
  Writer.Put64(Phit + 24, 0x00100000);  // EfiMemoryBottom
  Writer.Put64(Phit + 32, 0x7E000000);  // EfiFreeMemoryTop
  Writer.Put64(Phit + 40, 0x00200000);  // EfiFreeMemoryBottom
  // EfiEndOfHobList deliberately wrong, as seen in OVMF: the walk must go by
  // HobLength to the end HOB, never by this field.
  Writer.Put64(Phit + 48, 0);

  Writer.Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, ResourceDescriptorLength);
  Writer.GuidHob(NEAR_MISS_HOB_GUID, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  if (Model.Config.DebugHob) {
    Writer.GuidHob(EFI_DEBUG_MASK_VARIABLE_GUID, *Model.Config.DebugHob);
  }
  Writer.Header(EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER));

  Model.HobStorage.assign((Bytes.size() + 7) / 8, 0);
  std::memcpy(Model.HobStorage.data(), Bytes.data(), Bytes.size());
}

}  // namespace

void InstallConfigurationTables(HostFirmware::Impl &Model) {
  Model.ConfigurationTables.push_back(
      EFI_CONFIGURATION_TABLE{SMBIOS3_TABLE_GUID, Model.UnrelatedTable});
  if (Model.Config.HobList) {
    BuildHobList(Model);
    Model.ConfigurationTables.push_back(
        EFI_CONFIGURATION_TABLE{EFI_HOB_LIST_GUID, Model.HobStorage.data()});
  }
  if (Model.Config.McfgBase || Model.Config.FadtBase) {
    Model.ConfigurationTables.push_back(EFI_CONFIGURATION_TABLE{
        EFI_ACPI_20_TABLE_GUID,
        BuildAcpiTables(Model, Model.Config.McfgBase, Model.Config.FadtBase)});
  }
}
