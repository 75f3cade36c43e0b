// QEMU's firmware configuration device (fw_cfg) through its I/O ports: the
// one channel that carries data from the QEMU command line into the firmware
// before anything boots. Files are named in a directory of big-endian entries.
#pragma once

#include "tests/uefi/common/firmware_access.h"

inline constexpr UINTN FW_CFG_NAME_SIZE = 56;

// Reads the named fw_cfg file into a pool buffer the caller frees, with one
// extra zero byte after the data. EFI_UNSUPPORTED without the device,
// EFI_NOT_FOUND when no file carries the name.
EFI_STATUS ReadFwCfgFile(const FirmwareContext &Context, const CHAR8 *Name, UINT8 **Data,
                         UINTN *Size);
