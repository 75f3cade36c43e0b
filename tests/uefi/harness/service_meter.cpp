#include "tests/uefi/harness/service_meter.h"

#include "include/guids.h"
#include "include/pi_smbios.h"
#include "include/register_access.h"
#include "include/uefi_hii.h"
#include "include/uefi_loaded_image.h"
#include "tests/uefi/common/console.h"

namespace {

typedef EFI_STATUS(EFIAPI *EFI_CALCULATE_CRC32)(const VOID *Data, UINTN DataSize, UINT32 *Crc32);

constinit ServiceUse gUse[SERVICE_COUNT] = {};
// Where each wrapper sits and what was there before.
constinit VOID **gSlot[SERVICE_COUNT] = {};
constinit VOID *gOriginal[SERVICE_COUNT] = {};
constinit UINTN gImageStart = 0;
constinit UINTN gImageEnd = 0;

bool FromMeteredImage(const VOID *ReturnAddress) {
  UINTN address = reinterpret_cast<UINTN>(ReturnAddress);
  return address >= gImageStart && address < gImageEnd;
}

template <ServiceId Id, typename Function>
struct Meter;

template <ServiceId Id, typename Result, typename... Arguments>
struct Meter<Id, Result(EFIAPI *)(Arguments...)> {
  static Result EFIAPI Call(Arguments... Values) {
    auto original = reinterpret_cast<Result(EFIAPI *)(Arguments...)>(gOriginal[Id]);
    if (!FromMeteredImage(__builtin_return_address(0))) {
      return original(Values...);
    }
    UINT64 start = ReadTimeStampCounter();
    Result result = original(Values...);
    gUse[Id].Ticks += ReadTimeStampCounter() - start;
    gUse[Id].Count++;
    return result;
  }
};

template <ServiceId Id, typename Function>
VOID *WrapperFor(Function) {
  return reinterpret_cast<VOID *>(&Meter<Id, Function>::Call);
}

struct ServiceName {
  ServiceId Id;
  const CHAR8 *Name;
};

constexpr ServiceName SERVICE_NAMES[SERVICE_COUNT] = {
    {SERVICE_ALLOCATE_POOL, "AllocatePool"},
    {SERVICE_FREE_POOL, "FreePool"},
    {SERVICE_HANDLE_PROTOCOL, "HandleProtocol"},
    {SERVICE_LOCATE_PROTOCOL, "LocateProtocol"},
    {SERVICE_GET_VARIABLE, "GetVariable"},
    {SERVICE_SMBIOS_ADD, "SmbiosAdd"},
    {SERVICE_SMBIOS_REMOVE, "SmbiosRemove"},
    {SERVICE_SMBIOS_GET_NEXT, "SmbiosGetNext"},
    {SERVICE_HII_NEW_PACKAGE_LIST, "HiiNewPackageList"},
    {SERVICE_HII_GET_STRING, "HiiGetString"},
    {SERVICE_HII_GET_LANGUAGES, "HiiGetLanguages"},
    {SERVICE_CONFIG_SPACE_ADDRESS, "ConfigSpaceAddress"},
};

template <ServiceId Id, typename Function>
void Replace(Function *Slot) {
  gSlot[Id] = reinterpret_cast<VOID **>(Slot);
  gOriginal[Id] = reinterpret_cast<VOID *>(*Slot);
  *Slot = reinterpret_cast<Function>(WrapperFor<Id>(*Slot));
}

// A table whose entries changed gets its CRC32 computed again, as firmware does.
void Reseal(const FirmwareContext &Context, EFI_TABLE_HEADER *Header) {
  auto crc32 = reinterpret_cast<EFI_CALCULATE_CRC32>(Context.BootServices->CalculateCrc32);
  UINT32 value = 0;
  Header->CRC32 = 0;
  crc32(Header, Header->HeaderSize, &value);
  Header->CRC32 = value;
}

void ReplaceProtocolMembers(const FirmwareContext &Context) {
  if (auto *smbios = LocateInterface<EFI_SMBIOS_PROTOCOL>(Context, gEfiSmbiosProtocolGuid)) {
    Replace<SERVICE_SMBIOS_ADD>(&smbios->Add);
    Replace<SERVICE_SMBIOS_REMOVE>(&smbios->Remove);
    Replace<SERVICE_SMBIOS_GET_NEXT>(&smbios->GetNext);
  }
  if (auto *database =
          LocateInterface<EFI_HII_DATABASE_PROTOCOL>(Context, gEfiHiiDatabaseProtocolGuid)) {
    Replace<SERVICE_HII_NEW_PACKAGE_LIST>(&database->NewPackageList);
  }
  if (auto *strings =
          LocateInterface<EFI_HII_STRING_PROTOCOL>(Context, gEfiHiiStringProtocolGuid)) {
    Replace<SERVICE_HII_GET_STRING>(&strings->GetString);
    Replace<SERVICE_HII_GET_LANGUAGES>(&strings->GetLanguages);
  }
  if (auto *access = LocateInterface<RegisterAccessProtocol>(Context, gRegisterAccessProtocolGuid)) {
    Replace<SERVICE_CONFIG_SPACE_ADDRESS>(&access->ConfigSpaceAddress);
  }
}

}  // namespace

void BeginMetering(const FirmwareContext &Context, EFI_HANDLE Image) {
  for (ServiceUse &use : gUse) {
    use = {0, 0};
  }
  gImageStart = gImageEnd = 0;
  if (auto *loaded = HandleInterface<EFI_LOADED_IMAGE_PROTOCOL>(Context, Image,
                                                                gEfiLoadedImageProtocolGuid)) {
    gImageStart = reinterpret_cast<UINTN>(loaded->ImageBase);
    gImageEnd = gImageStart + loaded->ImageSize;
  }
  // Protocols first, while LocateProtocol is still the firmware's own.
  ReplaceProtocolMembers(Context);
  EFI_BOOT_SERVICES *boot = Context.BootServices;
  Replace<SERVICE_ALLOCATE_POOL>(&boot->AllocatePool);
  Replace<SERVICE_FREE_POOL>(&boot->FreePool);
  Replace<SERVICE_HANDLE_PROTOCOL>(&boot->HandleProtocol);
  Replace<SERVICE_LOCATE_PROTOCOL>(&boot->LocateProtocol);
  Reseal(Context, &boot->Hdr);
  Replace<SERVICE_GET_VARIABLE>(&Context.RuntimeServices->GetVariable);
  Reseal(Context, &Context.RuntimeServices->Hdr);
}

void EndMetering(const FirmwareContext &Context) {
  for (UINTN id = 0; id < SERVICE_COUNT; id++) {
    if (gSlot[id] != nullptr) {
      *gSlot[id] = gOriginal[id];
      gSlot[id] = nullptr;
    }
  }
  Reseal(Context, &Context.BootServices->Hdr);
  Reseal(Context, &Context.RuntimeServices->Hdr);
}

void ReportServiceUse(const CHAR8 *Label) {
  for (const ServiceName &service : SERVICE_NAMES) {
    PutText("service label=");
    PutText(Label);
    PutText(" name=");
    PutText(service.Name);
    PutText(" count=");
    PutDecimal(gUse[service.Id].Count);
    PutText(" ticks=");
    PutDecimal(gUse[service.Id].Ticks);
    PutNewLine();
  }
}
