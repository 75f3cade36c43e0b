#include "tests/uefi/common/platform_lang.h"

#include "include/guids.h"
#include "tests/uefi/common/console.h"

namespace {

constexpr CHAR16 PLATFORM_LANG_NAME[] = u"PlatformLang";

}  // namespace

void ReportPlatformLang(const FirmwareContext &Context) {
  CHAR8 value[64];
  UINTN size = sizeof(value) - 1;
  UINT32 attributes = 0;
  EFI_STATUS status = Context.RuntimeServices->GetVariable(PLATFORM_LANG_NAME, &gEfiGlobalVariableGuid,
                                                           &attributes, &size, value);
  PutText("platformlang-now");
  PutStatus("status", status);
  if (!EFI_ERROR(status)) {
    PutField("attributes", attributes, 2);
    PutField("size", size, 2);
    value[size] = 0;
    PutText(" value=");
    PutText(value);
  }
  PutNewLine();
}

void ApplyPlatformLang(const FirmwareContext &Context, const Scenario &Plan) {
  if (Plan.Language == LanguageAction::Keep) {
    ReportPlatformLang(Context);
    return;
  }
  auto setVariable = Service<EFI_SET_VARIABLE>(Context.RuntimeServices->SetVariable);
  EFI_STATUS removed = setVariable(PLATFORM_LANG_NAME, &gEfiGlobalVariableGuid, 0, 0, nullptr);
  PutText("platformlang");
  PutStatus("delete", removed);
  if (Plan.Language == LanguageAction::Set) {
    UINTN length = 0;
    while (Plan.PlatformLang[length] != 0) {
      length++;
    }
    // Volatile first, as a board's own setup would; firmware that insists on
    // the variable's defined attributes gets them on the second try.
    EFI_STATUS set = setVariable(PLATFORM_LANG_NAME, &gEfiGlobalVariableGuid,
                                 EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS,
                                 length + 1, Plan.PlatformLang);
    PutStatus("set", set);
    if (EFI_ERROR(set)) {
      set = setVariable(PLATFORM_LANG_NAME, &gEfiGlobalVariableGuid,
                        EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                            EFI_VARIABLE_RUNTIME_ACCESS,
                        length + 1, Plan.PlatformLang);
      PutStatus("set-nv", set);
    }
  }
  PutNewLine();
  ReportPlatformLang(Context);
}
