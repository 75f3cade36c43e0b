#include "tests/uefi/harness/floor_run.h"

#include "include/guids.h"
#include "include/smbios_records.h"
#include "tests/uefi/floor_driver/floor_plan.h"
#include "tests/uefi/harness/images.h"
#include "tests/uefi/harness/smbios_report.h"
#include "tests/uefi/common/console.h"

namespace {

// The floor driver's file name; any GUID other than the driver's.
constexpr EFI_GUID FLOOR_DRIVER_FILE_GUID = {
    0x6F0C2D83, 0x19B4, 0x4E5A, {0x9C, 0x37, 0x82, 0xD1, 0x4B, 0x0E, 0x65, 0xA9}};

// FLOOR.BIN: slot record count and device record count (16 bits each), then
// the records back to back, each with its strings and final double NUL.
constexpr UINTN FLOOR_FILE_HEADER_SIZE = 4;
constexpr UINTN LARGEST_RECORD = 4096;
constexpr UINTN MAX_SAVED_RECORDS = 64;

struct SavedRecord {
  EFI_SMBIOS_HANDLE Handle;
  EFI_HANDLE Producer;
  UINT8 *Bytes;  // pool copy
};

struct SavedTable {
  SavedRecord Records[MAX_SAVED_RECORDS];
  UINTN Count;
};

bool IsInventoryType(UINT8 Type) {
  return Type == SMBIOS_TYPE_SYSTEM_SLOTS || Type == SMBIOS_TYPE_ONBOARD_DEVICES_EXTENDED_INFORMATION;
}

// Bytes of the record at Bytes within Limit, its double NUL included; 0 when
// it does not end inside.
UINTN RecordSize(const UINT8 *Bytes, UINTN Limit) {
  if (Limit < sizeof(EFI_SMBIOS_TABLE_HEADER) || Bytes[1] < sizeof(EFI_SMBIOS_TABLE_HEADER)) {
    return 0;
  }
  for (UINTN at = Bytes[1]; at + 1 < Limit; at++) {
    if (Bytes[at] == 0 && Bytes[at + 1] == 0) {
      return at + 2;
    }
  }
  return 0;
}

// Splits FLOOR.BIN into the plan's record pointers; false when it is malformed.
bool FillPlanRecords(UINT8 *Data, UINTN Size, FloorPlan *Plan) {
  if (Size < FLOOR_FILE_HEADER_SIZE) {
    return false;
  }
  Plan->SlotRecordCount = static_cast<UINT32>(Data[0] | Data[1] << 8);
  Plan->DeviceRecordCount = static_cast<UINT32>(Data[2] | Data[3] << 8);
  UINTN count = Plan->SlotRecordCount + Plan->DeviceRecordCount;
  if (count > FLOOR_MAX_RECORDS) {
    return false;
  }
  UINTN at = FLOOR_FILE_HEADER_SIZE;
  for (UINTN i = 0; i < count; i++) {
    UINTN length = RecordSize(Data + at, Size - at);
    if (length == 0) {
      return false;
    }
    Plan->Records[i] = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(Data + at);
    at += length;
  }
  return at == Size;
}

// FLOOR.HII holds the driver's package list as the driver registers it
// (header, its string package, the end package), from the runner, which
// knows the scenario's platform: the harness has no board's strings in it.
bool PackageListFits(const EFI_HII_PACKAGE_LIST_HEADER *List, UINTN Size) {
  return List != nullptr && Size >= sizeof(*List) && List->PackageLength == Size;
}

void SaveInventoryRecords(const FirmwareContext &Context, EFI_SMBIOS_PROTOCOL *Smbios,
                          SavedTable *Saved) {
  Saved->Count = 0;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  EFI_HANDLE producer = nullptr;
  while (Saved->Count < MAX_SAVED_RECORDS &&
         !EFI_ERROR(Smbios->GetNext(Smbios, &handle, nullptr, &record, &producer))) {
    auto *bytes = reinterpret_cast<const UINT8 *>(record);
    UINTN size = RecordSize(bytes, LARGEST_RECORD);
    VOID *copy = nullptr;
    if (!IsInventoryType(record->Type) || size == 0 ||
        EFI_ERROR(Context.BootServices->AllocatePool(EfiBootServicesData, size, &copy))) {
      continue;
    }
    for (UINTN i = 0; i < size; i++) {
      static_cast<UINT8 *>(copy)[i] = bytes[i];
    }
    Saved->Records[Saved->Count++] = {handle, producer, static_cast<UINT8 *>(copy)};
  }
}

// Removes whatever Type 9 and 41 records the floor left, then adds the saved
// ones back under their own handles, in their order.
void RestoreInventoryRecords(const FirmwareContext &Context, EFI_SMBIOS_PROTOCOL *Smbios,
                             SavedTable *Saved) {
  EFI_SMBIOS_HANDLE present[MAX_SAVED_RECORDS];
  UINTN count = 0;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  while (count < MAX_SAVED_RECORDS &&
         !EFI_ERROR(Smbios->GetNext(Smbios, &handle, nullptr, &record, nullptr))) {
    if (IsInventoryType(record->Type)) {
      present[count++] = handle;
    }
  }
  UINTN removed = 0;
  for (UINTN i = 0; i < count; i++) {
    removed += EFI_ERROR(Smbios->Remove(Smbios, present[i])) ? 0 : 1;
  }
  UINTN restored = 0;
  for (UINTN i = 0; i < Saved->Count; i++) {
    SavedRecord &saved = Saved->Records[i];
    EFI_SMBIOS_HANDLE own = saved.Handle;
    auto *bytes = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(saved.Bytes);
    restored += EFI_ERROR(Smbios->Add(Smbios, saved.Producer, &own, bytes)) ? 0 : 1;
    Context.BootServices->FreePool(saved.Bytes);
  }
  PutText("floor-undo");
  PutField("removed", removed, 2);
  PutField("restored", restored, 2);
  PutField("saved", Saved->Count, 2);
  PutNewLine();
}

void RemovePackageList(const FirmwareContext &Context, EFI_HII_HANDLE Handle) {
  if (Handle == nullptr) {
    return;
  }
  auto *database =
      LocateInterface<EFI_HII_DATABASE_PROTOCOL>(Context, gEfiHiiDatabaseProtocolGuid);
  if (database == nullptr) {
    return;
  }
  auto remove = Service<EFI_HII_DATABASE_REMOVE_PACK>(database->RemovePackageList);
  PutText("floor-undo");
  PutStatus("package-list", remove(database, Handle));
  PutNewLine();
}

void RunFloorWithPlan(const FirmwareContext &Context, FloorPlan *Plan) {
  EFI_SMBIOS_PROTOCOL *smbios = LocateSmbios(Context);
  if (smbios == nullptr) {
    return;
  }
  static SavedTable saved;
  SaveInventoryRecords(Context, smbios, &saved);
  RunDriverImage(Context, "floor", u"\\FLOOR.EFI", FLOOR_DRIVER_FILE_GUID, Plan, sizeof(*Plan));
  PutText("floor");
  PutStatus("register", Plan->RegisterStatus);
  PutField("removed", Plan->Removed, 2);
  PutField("added", Plan->Added, 2);
  PutNewLine();
  RestoreInventoryRecords(Context, smbios, &saved);
  RemovePackageList(Context, Plan->PackageListHandle);
}

}  // namespace

void RunFloorImage(const FirmwareContext &Context) {
  UINT8 *records = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(ReadVolumeFile(Context, u"\\FLOOR.BIN", &records, &size))) {
    return;
  }
  UINT8 *list = nullptr;
  UINTN listSize = 0;
  EFI_STATUS listStatus = ReadVolumeFile(Context, u"\\FLOOR.HII", &list, &listSize);
  static FloorPlan plan;
  plan = {};
  plan.RegisterStatus = EFI_NOT_STARTED;
  plan.PackageList = reinterpret_cast<const EFI_HII_PACKAGE_LIST_HEADER *>(list);
  if (EFI_ERROR(listStatus) || !PackageListFits(plan.PackageList, listSize) ||
      !FillPlanRecords(records, size, &plan)) {
    PutText("floor plan=invalid");
    PutNewLine();
  } else {
    RunFloorWithPlan(Context, &plan);
  }
  if (list != nullptr) {
    Context.BootServices->FreePool(list);
  }
  Context.BootServices->FreePool(records);
}
