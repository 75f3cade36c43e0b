#include "sim/loaded_image.h"

#include "entry/startup.h"
#include "include/guids.h"

namespace sim {

LoadedImage::LoadedImage(Firmware &firmware, const EFI_GUID &fileGuid)
    : firmware_(firmware), handle_(firmware.CreateHandle()), volumeHandle_(firmware.CreateHandle()) {
  volumePath_.volume.Header = {MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP,
                               {sizeof(MEDIA_FW_VOL_DEVICE_PATH), 0}};
  volumePath_.volume.FvName = kDxeVolumeName;
  volumePath_.end = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE,
                     {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}};
  firmware.InstallProtocol(volumeHandle_, EFI_DEVICE_PATH_PROTOCOL_GUID, &volumePath_);

  filePath_.file.Header = {MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE_DP,
                           {sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH), 0}};
  filePath_.file.FvFileName = fileGuid;
  filePath_.end = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE,
                   {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}};

  protocol_.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  protocol_.SystemTable = firmware.SystemTable();
  protocol_.DeviceHandle = volumeHandle_;
  protocol_.FilePath = &filePath_.file.Header;
  protocol_.ImageCodeType = EfiBootServicesCode;
  protocol_.ImageDataType = EfiBootServicesData;
  firmware.InstallProtocol(handle_, gEfiLoadedImageProtocolGuid, &protocol_);
}

LoadedImage::~LoadedImage() {
  firmware_.UninstallProtocol(handle_, gEfiLoadedImageProtocolGuid);
  firmware_.UninstallProtocol(volumeHandle_, EFI_DEVICE_PATH_PROTOCOL_GUID);
}

EFI_STATUS LoadedImage::Start() {
  ResetDriverState();
  EFI_STATUS status = DriverEntry(handle_, firmware_.SystemTable());
  firmware_.log.Add("DriverEntry", " -> {s}").Status(status);
  return status;
}

}  // namespace sim
