// Firmware interfaces the test code calls beyond those the driver uses:
// image services, handle lookup, file access, variables, reset, ACPI and
// SMBIOS entry points (UEFI 2.10 chapters 4, 7, 8, 10, 13; PI 1.8 volume 3;
// ACPI 6.4 chapter 5; PCI Firmware 3.3 MCFG; SMBIOS 3.x chapter 5).
//
// The shared boot and runtime service tables declare these members as plain
// pointers; the test code calls them through the prototypes below.
#pragma once

#include "include/uefi_hii.h"
#include "include/uefi_loaded_image.h"
#include "include/uefi_system_table.h"

// --- Boot services used by the harness -------------------------------------

// StartImage was never reached (UEFI 2.10, Appendix D).
inline constexpr EFI_STATUS EFI_NOT_STARTED = EncodeError(19);

enum EFI_ALLOCATE_TYPE : UINT32 {
  AllocateAnyPages = 0,
  AllocateMaxAddress = 1,
  AllocateAddress = 2,
};

enum EFI_INTERFACE_TYPE : UINT32 {
  EFI_NATIVE_INTERFACE = 0,
};

typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_PAGES)(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType,
                                               UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);
typedef EFI_STATUS(EFIAPI *EFI_FREE_PAGES)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE *Handle,
                                                           const EFI_GUID *Protocol,
                                                           EFI_INTERFACE_TYPE InterfaceType,
                                                           VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_LOAD)(BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle,
                                           EFI_DEVICE_PATH_PROTOCOL *DevicePath, VOID *SourceBuffer,
                                           UINTN SourceSize, EFI_HANDLE *ImageHandle);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_START)(EFI_HANDLE ImageHandle, UINTN *ExitDataSize,
                                            CHAR16 **ExitData);
enum EFI_LOCATE_SEARCH_TYPE : UINT32 {
  AllHandles = 0,
  ByRegisterNotify = 1,
  ByProtocol = 2,
};

typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                     const EFI_GUID *Protocol, VOID *SearchKey,
                                                     UINTN *NoHandles, EFI_HANDLE **Buffer);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);
typedef EFI_STATUS(EFIAPI *EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, UINT64 WatchdogCode,
                                                   UINTN DataSize, CHAR16 *WatchdogData);

// --- Runtime services used by the harness ----------------------------------

enum EFI_RESET_TYPE : UINT32 {
  EfiResetCold = 0,
  EfiResetWarm = 1,
  EfiResetShutdown = 2,
};

typedef EFI_STATUS(EFIAPI *EFI_SET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 Attributes, UINTN DataSize, const VOID *Data);
typedef VOID(EFIAPI *EFI_RESET_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus,
                                       UINTN DataSize, VOID *ResetData);

inline constexpr UINT32 EFI_VARIABLE_NON_VOLATILE = 0x1;
inline constexpr UINT32 EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x2;
inline constexpr UINT32 EFI_VARIABLE_RUNTIME_ACCESS = 0x4;

// --- Simple text output (UEFI 2.10, 12.4), for a machine without a UART ----

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                            const CHAR16 *String);

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID *Reset;
  EFI_TEXT_STRING OutputString;
  VOID *TestString;
  VOID *QueryMode;
  VOID *SetMode;
  VOID *SetAttribute;
  VOID *ClearScreen;
  VOID *SetCursorPosition;
  VOID *EnableCursor;
  VOID *Mode;
};
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80);
static_assert(OFFSET_OF(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);

// --- Simple file system and file protocol (UEFI 2.10, 13.4 and 13.5) --------

struct EFI_FILE_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                          const CHAR16 *FileName, UINT64 OpenMode,
                                          UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                          VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  VOID *Delete;
  EFI_FILE_READ Read;
  VOID *Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  VOID *GetInfo;
  VOID *SetInfo;
  VOID *Flush;
};
static_assert(sizeof(EFI_FILE_PROTOCOL) == 88);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Read) == 32);
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, SetPosition) == 56);

inline constexpr UINT64 EFI_FILE_MODE_READ = 0x1;
// SetPosition to this value moves to the end of the file.
inline constexpr UINT64 EFI_FILE_POSITION_END = 0xFFFFFFFFFFFFFFFFULL;

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This,
                                                               EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME OpenVolume;
};
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16);

// --- HII database members the harness calls (UEFI 2.10, 34.8.1) ------------

typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_LIST_PACKS)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                        UINT8 PackageType,
                                                        const EFI_GUID *PackageGuid,
                                                        UINTN *HandleBufferLength,
                                                        EFI_HII_HANDLE *Handle);
typedef EFI_STATUS(EFIAPI *EFI_HII_DATABASE_EXPORT_PACKS)(const EFI_HII_DATABASE_PROTOCOL *This,
                                                          EFI_HII_HANDLE Handle, UINTN *BufferSize,
                                                          EFI_HII_PACKAGE_LIST_HEADER *Buffer);

inline constexpr UINT8 EFI_HII_PACKAGE_TYPE_ALL = 0x00;

// --- ACPI tables (ACPI 6.4, 5.2.5-5.2.8; PCI Firmware 3.3, 4.1.2) ----------

struct __attribute__((packed)) ACPI_RSDP {
  CHAR8 Signature[8];  // "RSD PTR "
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT8 Revision;  // 2 or more when the XSDT fields exist
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
};
static_assert(sizeof(ACPI_RSDP) == 36);
static_assert(OFFSET_OF(ACPI_RSDP, Revision) == 15);
static_assert(OFFSET_OF(ACPI_RSDP, XsdtAddress) == 24);

struct __attribute__((packed)) ACPI_DESCRIPTION_HEADER {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  CHAR8 OemId[6];
  UINT64 OemTableId;
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};
static_assert(sizeof(ACPI_DESCRIPTION_HEADER) == 36);

inline constexpr UINT32 ACPI_XSDT_SIGNATURE = 0x54445358;  // "XSDT"
inline constexpr UINT32 ACPI_MCFG_SIGNATURE = 0x4746434D;  // "MCFG"

// MCFG: the header, 8 reserved bytes, then one allocation per segment range.
inline constexpr UINTN ACPI_MCFG_ALLOCATIONS_OFFSET = 44;

struct __attribute__((packed)) ACPI_MCFG_ALLOCATION {
  UINT64 BaseAddress;
  UINT16 PciSegmentGroupNumber;
  UINT8 StartBusNumber;
  UINT8 EndBusNumber;
  UINT32 Reserved;
};
static_assert(sizeof(ACPI_MCFG_ALLOCATION) == 16);
static_assert(OFFSET_OF(ACPI_MCFG_ALLOCATION, StartBusNumber) == 10);

// --- SMBIOS entry points (SMBIOS 3.x, 5.2.1 and 5.2.2) ----------------------

struct __attribute__((packed)) SMBIOS_ENTRY_POINT_21 {
  CHAR8 AnchorString[4];  // "_SM_"
  UINT8 EntryPointChecksum;
  UINT8 EntryPointLength;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
  UINT16 MaxStructureSize;
  UINT8 EntryPointRevision;
  UINT8 FormattedArea[5];
  CHAR8 IntermediateAnchor[5];  // "_DMI_"
  UINT8 IntermediateChecksum;
  UINT16 TableLength;
  UINT32 TableAddress;
  UINT16 NumberOfStructures;
  UINT8 BcdRevision;
};
static_assert(sizeof(SMBIOS_ENTRY_POINT_21) == 0x1F);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, TableLength) == 0x16);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_21, TableAddress) == 0x18);

struct __attribute__((packed)) SMBIOS_ENTRY_POINT_30 {
  CHAR8 AnchorString[5];  // "_SM3_"
  UINT8 EntryPointChecksum;
  UINT8 EntryPointLength;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
  UINT8 DocRev;
  UINT8 EntryPointRevision;
  UINT8 Reserved;
  UINT32 TableMaximumSize;
  UINT64 TableAddress;
};
static_assert(sizeof(SMBIOS_ENTRY_POINT_30) == 0x18);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, TableMaximumSize) == 0x0C);
static_assert(OFFSET_OF(SMBIOS_ENTRY_POINT_30, TableAddress) == 0x10);

// --- The file-path node (UEFI 2.10, 10.3.5.4) ------------------------------

inline constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;

// --- GUIDs ------------------------------------------------------------------

// EFI_FIRMWARE_VOLUME2_PROTOCOL (PI 1.8, volume 3, 3.4.1): on every handle
// the DXE core makes for a firmware volume.
inline constexpr EFI_GUID EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID = {
    0x220E73B6, 0x6BDB, 0x4413, {0x84, 0x05, 0xB9, 0x74, 0xB1, 0x08, 0x61, 0x9A}};

inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID EFI_ACPI_20_TABLE_GUID = {
    0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
inline constexpr EFI_GUID SMBIOS_TABLE_GUID = {
    0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constexpr EFI_GUID SMBIOS3_TABLE_GUID = {
    0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};

// --- Typed access to the shared service tables -------------------------------

template <typename Function>
Function Service(VOID *member) {
  return reinterpret_cast<Function>(member);
}
