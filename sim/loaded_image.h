// The driver's image as a dispatcher presents it: a handle carrying the loaded
// image protocol whose file path starts with a firmware-volume file node.
#pragma once

#include "sim/firmware.h"

namespace sim {

struct __attribute__((packed)) FvFileDevicePath {
  MEDIA_FW_VOL_FILEPATH_DEVICE_PATH file;
  EFI_DEVICE_PATH_PROTOCOL end;
};
static_assert(sizeof(FvFileDevicePath) == 24);

class LoadedImage {
 public:
  // Installs the loaded image protocol for an image named by fileGuid.
  LoadedImage(Firmware &firmware, const EFI_GUID &fileGuid);
  ~LoadedImage();

  EFI_HANDLE Handle() const { return handle_; }
  EFI_LOADED_IMAGE_PROTOCOL &Protocol() { return protocol_; }

  // Calls the driver's entry point as a dispatcher would, with the module
  // state of a freshly loaded image, and logs the status.
  EFI_STATUS Start();

 private:
  Firmware &firmware_;
  EFI_HANDLE handle_;
  EFI_LOADED_IMAGE_PROTOCOL protocol_{};
  FvFileDevicePath filePath_{};
};

}  // namespace sim
