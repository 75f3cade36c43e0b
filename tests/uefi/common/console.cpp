#include "tests/uefi/common/console.h"

#include "include/uefi_console.h"

namespace {

constexpr UINT16 UART_BASE = 0x3F8;
constexpr UINT16 UART_LINE_STATUS = UART_BASE + 5;
constexpr UINT8 UART_TRANSMIT_EMPTY = 0x20;
constexpr UINTN UART_SPIN_LIMIT = 1000000;
constexpr UINTN HEX_BYTES_PER_LINE = 32;
constexpr UINTN CONOUT_CHUNK = 64;

constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *gConOut = nullptr;
constinit bool gUseUart = false;

UINT8 PortRead8(UINT16 Port) {
  UINT8 value;
  __asm__ volatile("inb %1, %0" : "=a"(value) : "Nd"(Port));
  return value;
}

void PortWrite8(UINT16 Port, UINT8 Value) {
  __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port));
}

void UartPut(CHAR8 Character) {
  for (UINTN spin = 0; spin < UART_SPIN_LIMIT; spin++) {
    if ((PortRead8(UART_LINE_STATUS) & UART_TRANSMIT_EMPTY) != 0) {
      break;
    }
  }
  PortWrite8(UART_BASE, static_cast<UINT8>(Character));
}

// ConOut takes UCS-2; the report is ASCII, so widen a chunk at a time.
void ConOutPut(const CHAR8 *Text, UINTN Length) {
  CHAR16 chunk[CONOUT_CHUNK + 1];
  UINTN at = 0;
  while (at < Length) {
    UINTN count = 0;
    for (; count < CONOUT_CHUNK && at < Length; count++, at++) {
      chunk[count] = static_cast<CHAR16>(static_cast<UINT8>(Text[at]));
    }
    chunk[count] = 0;
    gConOut->OutputString(gConOut, chunk);
  }
}

}  // namespace

void ConsoleInit(EFI_SYSTEM_TABLE *SystemTable) {
  gConOut = static_cast<EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *>(SystemTable->ConOut);
  // A missing UART floats its status register to all ones.
  gUseUart = PortRead8(UART_LINE_STATUS) != 0xFF;
}

void PutTextN(const CHAR8 *Text, UINTN Length) {
  if (gUseUart) {
    for (UINTN i = 0; i < Length; i++) {
      UartPut(Text[i]);
    }
  } else if (gConOut != nullptr) {
    ConOutPut(Text, Length);
  }
}

void PutText(const CHAR8 *Text) {
  UINTN length = 0;
  while (Text[length] != 0) {
    length++;
  }
  PutTextN(Text, length);
}

void PutHex(UINT64 Value, UINTN Digits) {
  constexpr CHAR8 DIGITS[] = "0123456789ABCDEF";
  CHAR8 text[16];
  if (Digits > 16) {
    Digits = 16;
  }
  for (UINTN i = 0; i < Digits; i++) {
    text[Digits - 1 - i] = DIGITS[(Value >> (4 * i)) & 0xF];
  }
  PutTextN(text, Digits);
}

void PutDecimal(UINT64 Value) {
  CHAR8 text[20];
  UINTN count = 0;
  do {
    text[sizeof(text) - 1 - count] = static_cast<CHAR8>('0' + Value % 10);
    Value /= 10;
    count++;
  } while (Value != 0);
  PutTextN(&text[sizeof(text) - count], count);
}

void PutNewLine() { PutText("\r\n"); }

void PutGuid(const EFI_GUID &Guid) {
  PutHex(Guid.Data1, 8);
  PutText("-");
  PutHex(Guid.Data2, 4);
  PutText("-");
  PutHex(Guid.Data3, 4);
  PutText("-");
  PutHex(Guid.Data4[0], 2);
  PutHex(Guid.Data4[1], 2);
  PutText("-");
  for (UINTN i = 2; i < 8; i++) {
    PutHex(Guid.Data4[i], 2);
  }
}

void PutField(const CHAR8 *Key, UINT64 Value, UINTN Digits) {
  PutText(" ");
  PutText(Key);
  PutText("=0x");
  PutHex(Value, Digits);
}

void PutStatus(const CHAR8 *Key, EFI_STATUS Status) { PutField(Key, Status, 16); }

void PutHexDump(const VOID *Data, UINTN Length) {
  const UINT8 *bytes = static_cast<const UINT8 *>(Data);
  for (UINTN line = 0; line < Length; line += HEX_BYTES_PER_LINE) {
    PutText("hex ");
    for (UINTN i = line; i < Length && i < line + HEX_BYTES_PER_LINE; i++) {
      PutHex(bytes[i], 2);
    }
    PutNewLine();
  }
}
