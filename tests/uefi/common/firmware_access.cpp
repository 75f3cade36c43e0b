#include "tests/uefi/common/firmware_access.h"

#include "include/acpi_tables.h"
#include "include/guids.h"
#include "include/uefi_file.h"
#include "include/uefi_loaded_image.h"

namespace {

constexpr CHAR8 RSDP_SIGNATURE[8] = {'R', 'S', 'D', ' ', 'P', 'T', 'R', ' '};
constexpr UINTN XSDT_ENTRIES_OFFSET = sizeof(ACPI_DESCRIPTION_HEADER);

UINT64 LoadUnaligned64(const UINT8 *Bytes) {
  UINT64 value = 0;
  for (UINTN i = 0; i < 8; i++) {
    value |= static_cast<UINT64>(Bytes[i]) << (8 * i);
  }
  return value;
}

EFI_STATUS OpenVolumeRoot(const FirmwareContext &Context, EFI_FILE_PROTOCOL **Root) {
  VOID *interface = nullptr;
  EFI_STATUS status = Context.BootServices->HandleProtocol(
      Context.ImageHandle, &gEfiLoadedImageProtocolGuid, &interface);
  if (EFI_ERROR(status)) {
    return status;
  }
  auto *loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(interface);
  status = Context.BootServices->HandleProtocol(loaded->DeviceHandle,
                                                &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &interface);
  if (EFI_ERROR(status)) {
    return status;
  }
  auto *volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(interface);
  return volume->OpenVolume(volume, Root);
}

EFI_STATUS MeasureFile(EFI_FILE_PROTOCOL *File, UINTN *Size) {
  EFI_STATUS status = File->SetPosition(File, EFI_FILE_POSITION_END);
  UINT64 end = 0;
  if (!EFI_ERROR(status)) {
    status = File->GetPosition(File, &end);
  }
  if (!EFI_ERROR(status)) {
    status = File->SetPosition(File, 0);
  }
  *Size = static_cast<UINTN>(end);
  return status;
}

EFI_STATUS ReadOpenFile(const FirmwareContext &Context, EFI_FILE_PROTOCOL *File, UINT8 **Data,
                        UINTN *Size) {
  UINTN size = 0;
  EFI_STATUS status = MeasureFile(File, &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  VOID *buffer = nullptr;
  status = Context.BootServices->AllocatePool(EfiBootServicesData, size + 1, &buffer);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN read = size;
  status = File->Read(File, &read, buffer);
  if (!EFI_ERROR(status) && read != size) {
    status = EFI_DEVICE_ERROR;
  }
  if (EFI_ERROR(status)) {
    Context.BootServices->FreePool(buffer);
    return status;
  }
  static_cast<UINT8 *>(buffer)[size] = 0;
  *Data = static_cast<UINT8 *>(buffer);
  *Size = size;
  return EFI_SUCCESS;
}

const ACPI_DESCRIPTION_HEADER *FindXsdt(const FirmwareContext &Context) {
  auto *rsdp = static_cast<const ACPI_RSDP *>(FindConfigurationTable(Context, EFI_ACPI_20_TABLE_GUID));
  if (rsdp == nullptr || rsdp->Revision < 2 || rsdp->XsdtAddress == 0) {
    return nullptr;
  }
  for (UINTN i = 0; i < sizeof(RSDP_SIGNATURE); i++) {
    if (rsdp->Signature[i] != RSDP_SIGNATURE[i]) {
      return nullptr;
    }
  }
  auto *xsdt = reinterpret_cast<const ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(rsdp->XsdtAddress));
  return xsdt->Signature == ACPI_XSDT_SIGNATURE ? xsdt : nullptr;
}

const ACPI_DESCRIPTION_HEADER *FindAcpiTable(const ACPI_DESCRIPTION_HEADER *Xsdt, UINT32 Signature) {
  const UINT8 *entries = reinterpret_cast<const UINT8 *>(Xsdt) + XSDT_ENTRIES_OFFSET;
  UINTN count = (Xsdt->Length - XSDT_ENTRIES_OFFSET) / sizeof(UINT64);
  for (UINTN i = 0; i < count; i++) {
    UINT64 address = LoadUnaligned64(entries + i * sizeof(UINT64));
    auto *table = reinterpret_cast<const ACPI_DESCRIPTION_HEADER *>(static_cast<UINTN>(address));
    if (table != nullptr && table->Signature == Signature) {
      return table;
    }
  }
  return nullptr;
}

}  // namespace

EFI_STATUS ReadVolumeFile(const FirmwareContext &Context, const CHAR16 *Path, UINT8 **Data,
                          UINTN *Size) {
  EFI_FILE_PROTOCOL *root = nullptr;
  EFI_STATUS status = OpenVolumeRoot(Context, &root);
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_FILE_PROTOCOL *file = nullptr;
  status = root->Open(root, &file, Path, EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR(status)) {
    status = ReadOpenFile(Context, file, Data, Size);
    file->Close(file);
  }
  root->Close(root);
  return status;
}

VOID *FindConfigurationTable(const FirmwareContext &Context, const EFI_GUID &Guid) {
  const EFI_SYSTEM_TABLE *table = Context.SystemTable;
  for (UINTN i = 0; i < table->NumberOfTableEntries; i++) {
    if (GuidsEqual(table->ConfigurationTable[i].VendorGuid, Guid)) {
      return table->ConfigurationTable[i].VendorTable;
    }
  }
  return nullptr;
}

EFI_STATUS FindEcamWindow(const FirmwareContext &Context, ConfigSpaceMap *Map) {
  const ACPI_DESCRIPTION_HEADER *xsdt = FindXsdt(Context);
  if (xsdt == nullptr) {
    return EFI_NOT_FOUND;
  }
  const ACPI_DESCRIPTION_HEADER *mcfg = FindAcpiTable(xsdt, ACPI_MCFG_SIGNATURE);
  if (mcfg == nullptr) {
    return EFI_NOT_FOUND;
  }
  const UINT8 *bytes = reinterpret_cast<const UINT8 *>(mcfg);
  for (UINTN at = ACPI_MCFG_ALLOCATIONS_OFFSET; at + sizeof(ACPI_MCFG_ALLOCATION) <= mcfg->Length;
       at += sizeof(ACPI_MCFG_ALLOCATION)) {
    auto *allocation = reinterpret_cast<const ACPI_MCFG_ALLOCATION *>(bytes + at);
    if (allocation->PciSegmentGroupNumber == 0) {
      Map->EcamBase = allocation->BaseAddress;
      Map->StartBus = allocation->StartBusNumber;
      Map->EndBus = allocation->EndBusNumber;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

UINT8 MmioRead8(UINTN Address) { return *reinterpret_cast<volatile UINT8 *>(Address); }
UINT16 MmioRead16(UINTN Address) { return *reinterpret_cast<volatile UINT16 *>(Address); }
UINT32 MmioRead32(UINTN Address) { return *reinterpret_cast<volatile UINT32 *>(Address); }
void MmioWrite16(UINTN Address, UINT16 Value) { *reinterpret_cast<volatile UINT16 *>(Address) = Value; }
void MmioWrite32(UINTN Address, UINT32 Value) { *reinterpret_cast<volatile UINT32 *>(Address) = Value; }

UINT64 ReadTimeStampCounter() { return __builtin_ia32_rdtsc(); }

UINT8 IoRead8(UINT16 Port) {
  UINT8 value;
  __asm__ volatile("inb %1, %0" : "=a"(value) : "Nd"(Port));
  return value;
}

void IoWrite16(UINT16 Port, UINT16 Value) { __asm__ volatile("outw %0, %1" : : "a"(Value), "Nd"(Port)); }
