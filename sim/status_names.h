// Readable names of EFI_STATUS values, for logs and tool output.
#pragma once

#include <string>

#include "include/uefi_base.h"

namespace sim {

std::string StatusName(EFI_STATUS status);

}  // namespace sim
