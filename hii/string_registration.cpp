#include "string_registration.h"

#include "../base/firmware_services.h"
#include "../base/memory.h"
#include "string_package.h"

constinit EFI_GUID PackageListGuid = {};
constinit EFI_HII_HANDLE gHiiHandle = nullptr;

namespace {

constexpr UINT32 ARRAY_LENGTH_FIELD_SIZE = sizeof(UINT32);
constexpr UINT64 PACKAGE_LIST_OVERHEAD =
    sizeof(EFI_HII_PACKAGE_LIST_HEADER) + sizeof(END_PACKAGE_HEADER);
constexpr UINT64 LARGEST_PACKAGE_LIST = 0xFFFFFFFFULL;

UINT32 ArrayLength(const UINT8 *PackageArray) {
  return static_cast<UINT32>(PackageArray[0]) | static_cast<UINT32>(PackageArray[1]) << 8 |
         static_cast<UINT32>(PackageArray[2]) << 16 | static_cast<UINT32>(PackageArray[3]) << 24;
}

// Total bytes of the packages the arrays carry, or false when an array is
// missing, claims less than its own length field, or the list would not fit
// its 32-bit PackageLength.
bool SumPackageBytes(const UINT8 *const *PackageArrays, UINTN ArrayCount, UINT32 *Total) {
  UINT64 total = 0;
  for (UINTN i = 0; i < ArrayCount; i++) {
    if (PackageArrays[i] == nullptr) {
      return false;
    }
    UINT32 length = ArrayLength(PackageArrays[i]);
    if (length < ARRAY_LENGTH_FIELD_SIZE) {
      return false;
    }
    total += length - ARRAY_LENGTH_FIELD_SIZE;
    if (total + PACKAGE_LIST_OVERHEAD > LARGEST_PACKAGE_LIST) {
      return false;
    }
  }
  *Total = static_cast<UINT32>(total);
  return true;
}

// Header, every array's packages back to back, then the end package.
void FillPackageList(UINT8 *List, UINT32 ListSize, const EFI_GUID &Guid,
                     const UINT8 *const *PackageArrays, UINTN ArrayCount) {
  EFI_HII_PACKAGE_LIST_HEADER *header = reinterpret_cast<EFI_HII_PACKAGE_LIST_HEADER *>(List);
  MoveBuffer(&header->PackageListGuid, &Guid, sizeof(EFI_GUID));
  header->PackageLength = ListSize;
  UINTN at = sizeof(EFI_HII_PACKAGE_LIST_HEADER);
  for (UINTN i = 0; i < ArrayCount; i++) {
    UINT32 packageBytes = ArrayLength(PackageArrays[i]) - ARRAY_LENGTH_FIELD_SIZE;
    MoveBuffer(List + at, PackageArrays[i] + ARRAY_LENGTH_FIELD_SIZE, packageBytes);
    at += packageBytes;
  }
  MoveBuffer(List + at, END_PACKAGE_HEADER, sizeof(END_PACKAGE_HEADER));
}

}  // namespace

EFI_HII_HANDLE RegisterStringPackages(const EFI_GUID &Guid, EFI_HANDLE DriverHandle,
                                      const UINT8 *const *PackageArrays, UINTN ArrayCount) {
  if (gHiiDatabase == nullptr || PackageArrays == nullptr || ArrayCount == 0) {
    return nullptr;
  }
  UINT32 packageBytes = 0;
  if (!SumPackageBytes(PackageArrays, ArrayCount, &packageBytes) || packageBytes == 0) {
    return nullptr;
  }
  UINT32 listSize = packageBytes + static_cast<UINT32>(PACKAGE_LIST_OVERHEAD);
  UINT8 *list = static_cast<UINT8 *>(AllocateZeroedBuffer(listSize));
  if (list == nullptr) {
    return nullptr;
  }
  FillPackageList(list, listSize, Guid, PackageArrays, ArrayCount);

  EFI_HII_HANDLE handle = nullptr;
  EFI_STATUS status = gHiiDatabase->NewPackageList(
      gHiiDatabase, reinterpret_cast<EFI_HII_PACKAGE_LIST_HEADER *>(list), DriverHandle, &handle);
  // The database keeps a copy of its own.
  FreeBuffer(list);
  return EFI_ERROR(status) ? nullptr : handle;
}

void ForgetHiiState() {
  PackageListGuid = {};
  gHiiHandle = nullptr;
}
