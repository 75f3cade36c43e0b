#include "tests/uefi/harness/page_attributes.h"

#include "include/uefi_memory_attribute.h"
#include "tests/uefi/common/console.h"

namespace {

constexpr UINT64 PAGE_SIZE = 0x1000;

}  // namespace

void ReportImagePages(const FirmwareContext &Context, const VOID *ImageBase, UINT64 ImageSize) {
  auto *attributes =
      LocateInterface<EFI_MEMORY_ATTRIBUTE_PROTOCOL>(Context, EFI_MEMORY_ATTRIBUTE_PROTOCOL_GUID);
  auto base = reinterpret_cast<EFI_PHYSICAL_ADDRESS>(ImageBase);
  PutText("image-pages");
  PutField("base", base, 16);
  PutField("size", ImageSize, 8);
  PutStatus("protocol", attributes == nullptr ? EFI_NOT_FOUND : EFI_SUCCESS);
  PutNewLine();
  // Firmware older than the protocol (EDK2 2022.11) reports no pages.
  if (attributes == nullptr) {
    return;
  }
  for (UINT64 offset = 0; offset < ImageSize; offset += PAGE_SIZE) {
    UINT64 value = 0;
    EFI_STATUS status = attributes->GetMemoryAttributes(attributes, (base + offset) & ~(PAGE_SIZE - 1),
                                                        PAGE_SIZE, &value);
    PutText("page");
    PutField("offset", offset, 8);
    PutStatus("status", status);
    PutField("attributes", value, 16);
    PutNewLine();
  }
}
