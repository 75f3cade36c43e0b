// System table, boot services and runtime services (UEFI 2.10, chapter 4).
//
// Members the driver never calls stay plain pointers so that every offset is
// right; the ones it calls carry their full prototypes. Test code calls others
// through the prototypes declared after each table.
#pragma once

#include "uefi_base.h"

#if defined(SLOT_INVENTORY_EDK2)
// MdePkg's Uefi.h declares the tables, with every member's prototype.
#else
// EFI_TABLE_HEADER (UEFI 2.10, 4.2)
struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

inline constexpr UINT64 EFI_SYSTEM_TABLE_SIGNATURE = 0x5453595320494249ULL;   // "IBI SYST"
inline constexpr UINT64 EFI_BOOT_SERVICES_SIGNATURE = 0x56524553544f4f42ULL;  // "BOOTSERV"
inline constexpr UINT64 EFI_RUNTIME_SERVICES_SIGNATURE = 0x56524553544e5552ULL;  // "RUNTSERV"

typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_HANDLE_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(const EFI_GUID *Protocol, VOID *Registration,
                                                VOID **Interface);

// EFI_BOOT_SERVICES (UEFI 2.10, 4.4)
struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  // Task priority
  VOID *RaiseTPL;
  VOID *RestoreTPL;
  // Memory
  VOID *AllocatePages;
  VOID *FreePages;
  VOID *GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;
  // Events and timers
  VOID *CreateEvent;
  VOID *SetTimer;
  VOID *WaitForEvent;
  VOID *SignalEvent;
  VOID *CloseEvent;
  VOID *CheckEvent;
  // Protocol handlers
  VOID *InstallProtocolInterface;
  VOID *ReinstallProtocolInterface;
  VOID *UninstallProtocolInterface;
  EFI_HANDLE_PROTOCOL HandleProtocol;
  VOID *Reserved;
  VOID *RegisterProtocolNotify;
  VOID *LocateHandle;
  VOID *LocateDevicePath;
  VOID *InstallConfigurationTable;
  // Images
  VOID *LoadImage;
  VOID *StartImage;
  VOID *Exit;
  VOID *UnloadImage;
  VOID *ExitBootServices;
  // Miscellaneous
  VOID *GetNextMonotonicCount;
  VOID *Stall;
  VOID *SetWatchdogTimer;
  // Driver support
  VOID *ConnectController;
  VOID *DisconnectController;
  // Open and close protocol
  VOID *OpenProtocol;
  VOID *CloseProtocol;
  VOID *OpenProtocolInformation;
  // Library
  VOID *ProtocolsPerHandle;
  VOID *LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  VOID *InstallMultipleProtocolInterfaces;
  VOID *UninstallMultipleProtocolInterfaces;
  // CRC
  VOID *CalculateCrc32;
  // Miscellaneous
  VOID *CopyMem;
  VOID *SetMem;
  VOID *CreateEventEx;
};
static_assert(sizeof(EFI_BOOT_SERVICES) == 376);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, AllocatePages) == 40);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, FreePages) == 48);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, StartImage) == 208);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
static_assert(OFFSET_OF(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);

// Prototypes of boot services the table holds as plain pointers; the test
// code calls them through Service<> below (UEFI 2.10, 7.2, 7.3, 7.4 and 7.5).

// EFI_ALLOCATE_TYPE (UEFI 2.10, 7.2)
enum EFI_ALLOCATE_TYPE : UINT32 {
  AllocateAnyPages = 0,
  AllocateMaxAddress = 1,
  AllocateAddress = 2,
};
static_assert(sizeof(EFI_ALLOCATE_TYPE) == 4);

// EFI_INTERFACE_TYPE (UEFI 2.10, 7.3)
enum EFI_INTERFACE_TYPE : UINT32 {
  EFI_NATIVE_INTERFACE = 0,
};
static_assert(sizeof(EFI_INTERFACE_TYPE) == 4);

// EFI_LOCATE_SEARCH_TYPE (UEFI 2.10, 7.3)
enum EFI_LOCATE_SEARCH_TYPE : UINT32 {
  AllHandles = 0,
  ByRegisterNotify = 1,
  ByProtocol = 2,
};
static_assert(sizeof(EFI_LOCATE_SEARCH_TYPE) == 4);

struct EFI_DEVICE_PATH_PROTOCOL;

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
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                     const EFI_GUID *Protocol, VOID *SearchKey,
                                                     UINTN *NoHandles, EFI_HANDLE **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, UINT64 WatchdogCode,
                                                   UINTN DataSize, CHAR16 *WatchdogData);

typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 *Attributes, UINTN *DataSize, VOID *Data);

// EFI_RUNTIME_SERVICES (UEFI 2.10, 4.5)
struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  // Time
  VOID *GetTime;
  VOID *SetTime;
  VOID *GetWakeupTime;
  VOID *SetWakeupTime;
  // Virtual memory
  VOID *SetVirtualAddressMap;
  VOID *ConvertPointer;
  // Variables
  EFI_GET_VARIABLE GetVariable;
  VOID *GetNextVariableName;
  VOID *SetVariable;
  // Miscellaneous
  VOID *GetNextHighMonotonicCount;
  VOID *ResetSystem;
  // Capsules
  VOID *UpdateCapsule;
  VOID *QueryCapsuleCapabilities;
  // Variable information
  VOID *QueryVariableInfo;
};
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136);
static_assert(OFFSET_OF(EFI_RUNTIME_SERVICES, GetVariable) == 72);
static_assert(OFFSET_OF(EFI_RUNTIME_SERVICES, SetVariable) == 88);
static_assert(OFFSET_OF(EFI_RUNTIME_SERVICES, ResetSystem) == 104);

// Prototypes of runtime services the table holds as plain pointers (UEFI 2.10,
// 8.2 and 8.5.1).

// EFI_RESET_TYPE (UEFI 2.10, 8.5.1)
enum EFI_RESET_TYPE : UINT32 {
  EfiResetCold = 0,
  EfiResetWarm = 1,
  EfiResetShutdown = 2,
};
static_assert(sizeof(EFI_RESET_TYPE) == 4);

typedef EFI_STATUS(EFIAPI *EFI_SET_VARIABLE)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             UINT32 Attributes, UINTN DataSize, const VOID *Data);
typedef VOID(EFIAPI *EFI_RESET_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus,
                                       UINTN DataSize, VOID *ResetData);

inline constexpr UINT32 EFI_VARIABLE_NON_VOLATILE = 0x1;
inline constexpr UINT32 EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x2;
inline constexpr UINT32 EFI_VARIABLE_RUNTIME_ACCESS = 0x4;

// EFI_CONFIGURATION_TABLE (UEFI 2.10, 4.6)
struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
};
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24);

// EFI_SYSTEM_TABLE (UEFI 2.10, 4.3)
struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  VOID *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  VOID *ConOut;
  EFI_HANDLE StandardErrorHandle;
  VOID *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120);
static_assert(OFFSET_OF(EFI_SYSTEM_TABLE, FirmwareRevision) == 32);
static_assert(OFFSET_OF(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(OFFSET_OF(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(OFFSET_OF(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(OFFSET_OF(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_ENTRY_POINT)(EFI_HANDLE ImageHandle,
                                                  EFI_SYSTEM_TABLE *SystemTable);
#endif  // SLOT_INVENTORY_EDK2

// Calls a service-table member declared as a plain pointer through its prototype.
template <typename Function>
Function Service(VOID *member) {
  return reinterpret_cast<Function>(member);
}
