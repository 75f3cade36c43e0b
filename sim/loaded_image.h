// The driver's image as a dispatcher presents it: a handle carrying the loaded
// image protocol whose file path is a firmware-volume file node, and whose
// device handle is the volume's, as OVMF's DXE core gives it: a handle whose
// device path is the volume's node.
#pragma once

#include "sim/firmware.h"

namespace sim {

struct __attribute__((packed)) FvFileDevicePath {
  MEDIA_FW_VOL_FILEPATH_DEVICE_PATH file;
  EFI_DEVICE_PATH_PROTOCOL end;
};
static_assert(sizeof(FvFileDevicePath) == 24);

struct __attribute__((packed)) FvVolumeDevicePath {
  MEDIA_FW_VOL_DEVICE_PATH volume;
  EFI_DEVICE_PATH_PROTOCOL end;
};
static_assert(sizeof(FvVolumeDevicePath) == 24);

// OVMF's DXE volume, the one a platform's drivers are inserted into.
inline constexpr EFI_GUID kDxeVolumeName = {
    0x7CB8BDC9, 0xF8EB, 0x4F34, {0xAA, 0xEA, 0x3E, 0xE4, 0xAF, 0x65, 0x16, 0xA1}};

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
  EFI_HANDLE volumeHandle_;
  EFI_LOADED_IMAGE_PROTOCOL protocol_{};
  FvFileDevicePath filePath_{};
  FvVolumeDevicePath volumePath_{};
};

}  // namespace sim
