#include "tests/uefi/harness/images.h"

#include "include/guids.h"
#include "include/uefi_hii.h"
#include "include/uefi_loaded_image.h"
#include "tests/uefi/harness/service_meter.h"
#include "tests/uefi/common/console.h"

namespace {

// A firmware-volume file node followed by the end node.
struct __attribute__((packed)) FirmwareFilePath {
  MEDIA_FW_VOL_FILEPATH_DEVICE_PATH File;
  EFI_DEVICE_PATH_PROTOCOL End;
};
static_assert(sizeof(FirmwareFilePath) == 24);

void BuildFirmwareFilePath(const EFI_GUID &FileGuid, FirmwareFilePath *Path) {
  Path->File.Header.Type = MEDIA_DEVICE_PATH;
  Path->File.Header.SubType = MEDIA_PIWG_FW_FILE_DP;
  Path->File.Header.Length[0] = sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH);
  Path->File.Header.Length[1] = 0;
  Path->File.FvFileName = FileGuid;
  Path->End.Type = END_DEVICE_PATH_TYPE;
  Path->End.SubType = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  Path->End.Length[0] = sizeof(EFI_DEVICE_PATH_PROTOCOL);
  Path->End.Length[1] = 0;
}

// What the loaded image's FilePath starts with, as the driver will see it.
void ReportLoadedFilePath(const FirmwareContext &Context, EFI_HANDLE Image) {
  auto *loaded =
      HandleInterface<EFI_LOADED_IMAGE_PROTOCOL>(Context, Image, gEfiLoadedImageProtocolGuid);
  PutText(" filepath=");
  if (loaded == nullptr || loaded->FilePath == nullptr) {
    PutText("none");
    return;
  }
  auto *node = reinterpret_cast<const MEDIA_FW_VOL_FILEPATH_DEVICE_PATH *>(loaded->FilePath);
  PutHex(node->Header.Type, 2);
  PutText("/");
  PutHex(node->Header.SubType, 2);
  PutText("/");
  PutGuid(node->FvFileName);
}

void ReportImageRun(const ImageRun &Run) {
  PutField("size", Run.FileSize, 8);
  PutStatus("load", Run.LoadStatus);
  PutStatus("start", Run.StartStatus);
  PutText(" ticks=");
  PutDecimal(Run.StartTicks);
  PutNewLine();
}

void SetLoadOptions(const FirmwareContext &Context, EFI_HANDLE Image, VOID *Options,
                    UINT32 OptionsSize) {
  if (Options == nullptr) {
    return;
  }
  if (auto *loaded = HandleInterface<EFI_LOADED_IMAGE_PROTOCOL>(Context, Image,
                                                                gEfiLoadedImageProtocolGuid)) {
    loaded->LoadOptions = Options;
    loaded->LoadOptionsSize = OptionsSize;
  }
}

ImageRun LoadAndStart(const FirmwareContext &Context, const CHAR8 *Label, UINT8 *Data, UINTN Size,
                      const EFI_GUID &FileGuid, VOID *Options, UINT32 OptionsSize) {
  ImageRun run = {EFI_NOT_STARTED, EFI_NOT_STARTED, 0, Size};
  FirmwareFilePath path;
  BuildFirmwareFilePath(FileGuid, &path);
  EFI_HANDLE image = nullptr;
  auto load = Service<EFI_IMAGE_LOAD>(Context.BootServices->LoadImage);
  run.LoadStatus = load(0, Context.ImageHandle, &path.File.Header, Data, Size, &image);
  PutText("image label=");
  PutText(Label);
  if (!EFI_ERROR(run.LoadStatus)) {
    ReportLoadedFilePath(Context, image);
    SetLoadOptions(Context, image, Options, OptionsSize);
    auto start = Service<EFI_IMAGE_START>(Context.BootServices->StartImage);
    UINTN exitDataSize = 0;
    CHAR16 *exitData = nullptr;
    BeginMetering(Context, image);
    UINT64 before = ReadTimeStampCounter();
    run.StartStatus = start(image, &exitDataSize, &exitData);
    run.StartTicks = ReadTimeStampCounter() - before;
    EndMetering(Context);
    if (exitData != nullptr) {
      Context.BootServices->FreePool(exitData);
    }
  }
  ReportImageRun(run);
  if (!EFI_ERROR(run.LoadStatus)) {
    ReportServiceUse(Label);
  }
  return run;
}

bool ExportedListMatches(const EFI_HII_PACKAGE_LIST_HEADER *List, UINTN Size, const EFI_GUID &Guid) {
  return Size >= sizeof(EFI_HII_PACKAGE_LIST_HEADER) && GuidsEqual(List->PackageListGuid, Guid);
}

void ReportPackageList(const FirmwareContext &Context, EFI_HII_DATABASE_PROTOCOL *Database,
                       EFI_HII_HANDLE Handle, const EFI_GUID &Guid) {
  auto exportLists = Service<EFI_HII_DATABASE_EXPORT_PACKS>(Database->ExportPackageLists);
  UINTN size = 0;
  EFI_STATUS status = exportLists(Database, Handle, &size, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return;
  }
  VOID *buffer = nullptr;
  if (EFI_ERROR(Context.BootServices->AllocatePool(EfiBootServicesData, size, &buffer))) {
    return;
  }
  auto *list = static_cast<EFI_HII_PACKAGE_LIST_HEADER *>(buffer);
  status = exportLists(Database, Handle, &size, list);
  if (!EFI_ERROR(status) && ExportedListMatches(list, size, Guid)) {
    PutText("hii package-list");
    PutField("handle", reinterpret_cast<UINTN>(Handle), 16);
    PutField("length", list->PackageLength, 8);
    PutNewLine();
    PutHexDump(list, size);
  }
  Context.BootServices->FreePool(buffer);
}

}  // namespace

ImageRun RunDriverImage(const FirmwareContext &Context, const CHAR8 *Label, const CHAR16 *Path,
                        const EFI_GUID &FileGuid, VOID *Options, UINT32 OptionsSize) {
  UINT8 *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = ReadVolumeFile(Context, Path, &data, &size);
  if (EFI_ERROR(status)) {
    ImageRun missing = {status, status, 0, 0};
    PutText("image label=");
    PutText(Label);
    PutText(" file=missing");
    ReportImageRun(missing);
    return missing;
  }
  ImageRun run = LoadAndStart(Context, Label, data, size, FileGuid, Options, OptionsSize);
  Context.BootServices->FreePool(data);
  return run;
}

void ReportPackageLists(const FirmwareContext &Context, const EFI_GUID &Guid) {
  VOID *interface = nullptr;
  EFI_STATUS status = Context.BootServices->LocateProtocol(&gEfiHiiDatabaseProtocolGuid, nullptr,
                                                           &interface);
  PutText("hii");
  PutStatus("locate", status);
  if (EFI_ERROR(status)) {
    PutNewLine();
    return;
  }
  auto *database = static_cast<EFI_HII_DATABASE_PROTOCOL *>(interface);
  auto list = Service<EFI_HII_DATABASE_LIST_PACKS>(database->ListPackageLists);
  UINTN length = 0;
  status = list(database, EFI_HII_PACKAGE_TYPE_ALL, nullptr, &length, nullptr);
  VOID *handles = nullptr;
  if (status == EFI_BUFFER_TOO_SMALL &&
      !EFI_ERROR(Context.BootServices->AllocatePool(EfiBootServicesData, length, &handles))) {
    status = list(database, EFI_HII_PACKAGE_TYPE_ALL, nullptr, &length,
                  static_cast<EFI_HII_HANDLE *>(handles));
  }
  UINTN count = EFI_ERROR(status) ? 0 : length / sizeof(EFI_HII_HANDLE);
  PutStatus("list", status);
  PutField("lists", count, 4);
  PutNewLine();
  for (UINTN i = 0; i < count; i++) {
    ReportPackageList(Context, database, static_cast<EFI_HII_HANDLE *>(handles)[i], Guid);
  }
  if (handles != nullptr) {
    Context.BootServices->FreePool(handles);
  }
}
