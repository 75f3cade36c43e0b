#include "string_package.h"

// PACKAGE_LANGUAGE, LANGUAGE_NAME_ID and DRIVER_STRINGS, the platform's
// strings in block order, which gives their ids from 1.
#include "driver_strings.h"

namespace {

constexpr UINTN ARRAY_LENGTH_FIELD_SIZE = sizeof(UINT32);
constexpr UINTN STRING_HEADER_SIZE = EFI_HII_STRING_PACKAGE_FIXED_SIZE + sizeof(PACKAGE_LANGUAGE);
constexpr UINTN BLOCK_TYPE_SIZE = 1;

constexpr UINTN WideLength(const char16_t *Text) {
  UINTN length = 0;
  while (Text[length] != 0) {
    length++;
  }
  return length;
}

constexpr UINTN StringBlocksSize() {
  UINTN size = 0;
  for (const char16_t *text : DRIVER_STRINGS) {
    size += BLOCK_TYPE_SIZE + (WideLength(text) + 1) * sizeof(CHAR16);
  }
  return size;
}

constexpr UINTN STRING_PACKAGE_SIZE = STRING_HEADER_SIZE + StringBlocksSize() + BLOCK_TYPE_SIZE;
static_assert(sizeof(DRIVER_STRINGS) / sizeof(DRIVER_STRINGS[0]) == DRIVER_STRING_COUNT);
static_assert(ARRAY_LENGTH_FIELD_SIZE + STRING_PACKAGE_SIZE == DRIVER_STRING_PACKAGE_SIZE);

struct PackageImage {
  UINT8 Bytes[DRIVER_STRING_PACKAGE_SIZE];
  UINT16 Written;  // a package is far below 64 KiB; a narrow count keeps the image small

  // Writing past the end is not a constant expression, so an overrun fails the build.
  constexpr void Put(UINT8 Value) { Bytes[Written++] = Value; }
  constexpr void PutZeros(UINTN Count) {
    for (UINTN i = 0; i < Count; i++) {
      Put(0);
    }
  }
  constexpr void PutLittleEndian(UINTN Value, UINTN Width) {
    for (UINTN i = 0; i < Width; i++) {
      Put(static_cast<UINT8>((Value >> (8 * i)) & 0xFF));
    }
  }
};

constexpr PackageImage BuildDriverStringPackage() {
  PackageImage image = {};
  image.PutLittleEndian(DRIVER_STRING_PACKAGE_SIZE, ARRAY_LENGTH_FIELD_SIZE);

  // EFI_HII_STRING_PACKAGE_HDR: 24-bit length and type, HdrSize,
  // StringInfoOffset, an empty LanguageWindow, LanguageName, Language.
  image.PutLittleEndian(STRING_PACKAGE_SIZE, 3);
  image.Put(EFI_HII_PACKAGE_STRINGS);
  image.PutLittleEndian(STRING_HEADER_SIZE, sizeof(UINT32));
  image.PutLittleEndian(STRING_HEADER_SIZE, sizeof(UINT32));
  image.PutZeros(sizeof(EFI_HII_STRING_PACKAGE_HDR::LanguageWindow));
  image.PutLittleEndian(LANGUAGE_NAME_ID, sizeof(EFI_STRING_ID));
  for (CHAR8 c : PACKAGE_LANGUAGE) {
    image.Put(static_cast<UINT8>(c));
  }

  for (const char16_t *text : DRIVER_STRINGS) {
    image.Put(EFI_HII_SIBT_STRING_UCS2);
    for (UINTN i = 0; i <= WideLength(text); i++) {
      image.PutLittleEndian(text[i], sizeof(CHAR16));
    }
  }
  image.Put(EFI_HII_SIBT_END);
  return image;
}

constexpr PackageImage DRIVER_STRING_PACKAGE_IMAGE = BuildDriverStringPackage();
static_assert(DRIVER_STRING_PACKAGE_IMAGE.Written == DRIVER_STRING_PACKAGE_SIZE);

// Each block where the texts put it, the end block last; then the two length
// fields, of the array and of the package.
constexpr bool BlocksWhereExpected() {
  UINTN offset = STRING_HEADER_SIZE;
  for (const char16_t *text : DRIVER_STRINGS) {
    if (DRIVER_STRING_PACKAGE_IMAGE.Bytes[ARRAY_LENGTH_FIELD_SIZE + offset] !=
        EFI_HII_SIBT_STRING_UCS2) {
      return false;
    }
    offset += BLOCK_TYPE_SIZE + (WideLength(text) + 1) * sizeof(CHAR16);
  }
  return offset + BLOCK_TYPE_SIZE == STRING_PACKAGE_SIZE &&
         DRIVER_STRING_PACKAGE_IMAGE.Bytes[ARRAY_LENGTH_FIELD_SIZE + offset] == EFI_HII_SIBT_END;
}
static_assert(BlocksWhereExpected());
static_assert(DRIVER_STRING_PACKAGE_IMAGE.Bytes[0] == (DRIVER_STRING_PACKAGE_SIZE & 0xFF) &&
              DRIVER_STRING_PACKAGE_IMAGE.Bytes[1] == (DRIVER_STRING_PACKAGE_SIZE >> 8 & 0xFF));
static_assert(DRIVER_STRING_PACKAGE_IMAGE.Bytes[4] == (STRING_PACKAGE_SIZE & 0xFF) &&
              DRIVER_STRING_PACKAGE_IMAGE.Bytes[5] == (STRING_PACKAGE_SIZE >> 8 & 0xFF) &&
              DRIVER_STRING_PACKAGE_IMAGE.Bytes[7] == EFI_HII_PACKAGE_STRINGS);

}  // namespace

constinit const UINT8 (&DriverStringPackage)[DRIVER_STRING_PACKAGE_SIZE] =
    DRIVER_STRING_PACKAGE_IMAGE.Bytes;
