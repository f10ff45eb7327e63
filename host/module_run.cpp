// Running the application on the model. Kept apart from the model itself, so
// tests of the model alone link without the application.
#include "host/model_state.h"

EFI_STATUS HostFirmware::RunModuleEntry() {
  // The shell starts applications at TPL_APPLICATION (or whatever the test set).
  return ModuleEntry(ImageHandle(), SystemTable());
}
