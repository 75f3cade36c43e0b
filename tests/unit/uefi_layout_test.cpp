#include <gtest/gtest.h>
#include "include/guids.h"
TEST(Placeholder, Builds) { EXPECT_TRUE(GuidsEqual(EFI_SMBIOS_PROTOCOL_GUID, EFI_SMBIOS_PROTOCOL_GUID)); }
