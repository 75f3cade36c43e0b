#include "tests/uefi/common/scenario.h"

namespace {

struct Span {
  const CHAR8 *Data;
  UINTN Length;
};

bool SpanEquals(Span Text, const CHAR8 *Literal) {
  UINTN i = 0;
  for (; i < Text.Length; i++) {
    if (Literal[i] == 0 || Literal[i] != Text.Data[i]) {
      return false;
    }
  }
  return Literal[i] == 0;
}

bool ParseNumber(Span Text, UINT64 *Value) {
  UINT64 base = 10;
  UINTN at = 0;
  if (Text.Length > 2 && Text.Data[0] == '0' && (Text.Data[1] == 'x' || Text.Data[1] == 'X')) {
    base = 16;
    at = 2;
  }
  if (at == Text.Length) {
    return false;
  }
  UINT64 result = 0;
  for (; at < Text.Length; at++) {
    CHAR8 c = Text.Data[at];
    UINT64 digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<UINT64>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<UINT64>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<UINT64>(c - 'A' + 10);
    } else {
      return false;
    }
    if (result > (~0ULL - digit) / base) {
      return false;
    }
    result = result * base + digit;
  }
  *Value = result;
  return true;
}

// Copies text into a NUL-terminated field; false when it does not fit.
bool CopyText(Span Text, CHAR8 *Field, UINTN FieldSize) {
  if (Text.Length >= FieldSize) {
    return false;
  }
  for (UINTN i = 0; i < Text.Length; i++) {
    Field[i] = Text.Data[i];
  }
  Field[Text.Length] = 0;
  return true;
}

// Count hex digits of Text from At, nothing else, as a number.
bool HexDigits(Span Text, UINTN At, UINTN Count, UINT64 *Value) {
  UINT64 result = 0;
  for (UINTN i = At; i < At + Count; i++) {
    CHAR8 c = Text.Data[i];
    UINT64 digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<UINT64>(c - '0');
    } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
      digit = static_cast<UINT64>((c | 0x20) - 'a' + 10);
    } else {
      return false;
    }
    result = result << 4 | digit;
  }
  *Value = result;
  return true;
}

// A GUID's text, 8-4-4-4-12 hex digits, and where its dashes stand.
constexpr UINTN GUID_TEXT_LENGTH = 36;
constexpr UINTN GUID_DASHES[] = {8, 13, 18, 23};

// The GUID's text as it is printed: Data1-Data2-Data3-Data4[0..1]-Data4[2..7].
bool ParseGuid(Span Value, EFI_GUID *Guid) {
  if (Value.Length != GUID_TEXT_LENGTH) {
    return false;
  }
  for (UINTN dash : GUID_DASHES) {
    if (Value.Data[dash] != '-') {
      return false;
    }
  }
  UINT64 data1, data2, data3, clock, node;
  if (!HexDigits(Value, 0, 8, &data1) || !HexDigits(Value, 9, 4, &data2) ||
      !HexDigits(Value, 14, 4, &data3) || !HexDigits(Value, 19, 4, &clock) ||
      !HexDigits(Value, 24, 12, &node)) {
    return false;
  }
  Guid->Data1 = static_cast<UINT32>(data1);
  Guid->Data2 = static_cast<UINT16>(data2);
  Guid->Data3 = static_cast<UINT16>(data3);
  Guid->Data4[0] = static_cast<UINT8>(clock >> 8);
  Guid->Data4[1] = static_cast<UINT8>(clock);
  for (UINTN i = 0; i < 6; i++) {
    Guid->Data4[2 + i] = static_cast<UINT8>(node >> (8 * (5 - i)));
  }
  return true;
}

// Numbers separated by commas, each no larger than its limit.
bool ParseNumberList(Span Value, const UINT64 *Limits, UINTN Count, UINT64 *Numbers) {
  UINTN start = 0;
  for (UINTN i = 0; i < Count; i++) {
    UINTN end = start;
    while (end < Value.Length && Value.Data[end] != ',') {
      end++;
    }
    bool last = i + 1 == Count;
    if (last != (end == Value.Length) || !ParseNumber({Value.Data + start, end - start}, &Numbers[i]) ||
        Numbers[i] > Limits[i]) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// `<bus>,<device>,<function>,<offset>,<word>`; the offset is a word's.
bool ParseSocket(Span Value, Scenario *Out) {
  constexpr UINT64 LIMITS[] = {0xFF, 31, 7, 0xFC, 0xFFFFFFFFULL};
  UINT64 numbers[5];
  if (Out->SocketCount == SCENARIO_SOCKET_LIMIT || !ParseNumberList(Value, LIMITS, 5, numbers) ||
      numbers[3] % 4 != 0) {
    return false;
  }
  Out->Sockets[Out->SocketCount++] = {static_cast<UINT8>(numbers[0]), static_cast<UINT8>(numbers[1]),
                                      static_cast<UINT8>(numbers[2]), static_cast<UINT8>(numbers[3]),
                                      static_cast<UINT32>(numbers[4])};
  return true;
}

bool ParseSidebandRegister(Span Value, Scenario *Out) {
  constexpr UINT64 LIMITS[] = {0xFFFFFFFCULL};
  UINT64 address;
  if (Out->SidebandCount == SCENARIO_SIDEBAND_LIMIT || !ParseNumberList(Value, LIMITS, 1, &address) ||
      address % 4 != 0) {
    return false;
  }
  Out->SidebandRegisters[Out->SidebandCount++] = static_cast<UINT32>(address);
  return true;
}

bool ParseWindow(Span Value, Scenario *Out) {
  UINT64 device;
  if (!ParseNumber(Value, &device) || device > 31) {
    return false;
  }
  Out->HasWindow = true;
  Out->WindowDevice = static_cast<UINT8>(device);
  return true;
}

bool ParseLanguage(Span Value, Scenario *Out) {
  if (SpanEquals(Value, "-")) {
    Out->Language = LanguageAction::Delete;
    return true;
  }
  if (Value.Length == 0 || !CopyText(Value, Out->PlatformLang, SCENARIO_TEXT_LIMIT)) {
    return false;
  }
  Out->Language = LanguageAction::Set;
  return true;
}

// `<type>` or `<type>:s1|s2`: strings become a NUL-separated area.
bool ParseRecord(Span Value, Scenario *Out) {
  if (Out->RecordCount == SCENARIO_RECORD_LIMIT) {
    return false;
  }
  UINTN colon = 0;
  while (colon < Value.Length && Value.Data[colon] != ':') {
    colon++;
  }
  UINT64 type;
  if (!ParseNumber({Value.Data, colon}, &type) || type > 0xFF) {
    return false;
  }
  EarlierRecord &record = Out->Records[Out->RecordCount];
  UINTN at = 0;
  if (colon < Value.Length) {
    Span strings{Value.Data + colon + 1, Value.Length - colon - 1};
    if (strings.Length == 0 || strings.Length > SCENARIO_TEXT_LIMIT) {
      return false;
    }
    bool emptyString = true;
    for (UINTN i = 0; i < strings.Length; i++) {
      CHAR8 c = strings.Data[i] == '|' ? 0 : strings.Data[i];
      // An empty string would end the area early.
      if (c == 0 && emptyString) {
        return false;
      }
      emptyString = c == 0;
      record.Strings[at++] = c;
    }
    if (emptyString) {
      return false;
    }
    record.Strings[at++] = 0;
  } else {
    record.Strings[at++] = 0;
  }
  record.Strings[at++] = 0;
  record.StringsLength = at;
  record.Type = static_cast<UINT8>(type);
  Out->RecordCount++;
  return true;
}

bool ApplyLine(Span Key, Span Value, Scenario *Out) {
  if (SpanEquals(Key, "name")) {
    return CopyText(Value, Out->Name, SCENARIO_TEXT_LIMIT);
  }
  if (SpanEquals(Key, "socket")) {
    return ParseSocket(Value, Out);
  }
  if (SpanEquals(Key, "sideband")) {
    return ParseSidebandRegister(Value, Out);
  }
  if (SpanEquals(Key, "window")) {
    return ParseWindow(Value, Out);
  }
  if (SpanEquals(Key, "platformlang")) {
    return ParseLanguage(Value, Out);
  }
  if (SpanEquals(Key, "smbios")) {
    return ParseRecord(Value, Out);
  }
  if (SpanEquals(Key, "probes")) {
    Out->Probes = SpanEquals(Value, "1");
    return true;
  }
  if (SpanEquals(Key, "driver")) {
    Out->HasDriver = ParseGuid(Value, &Out->DriverFileGuid);
    return Out->HasDriver;
  }
  if (SpanEquals(Key, "report")) {
    Out->ReportOnly = SpanEquals(Value, "1");
    return true;
  }
  return true;
}

void ParseLine(Span Line, Scenario *Out) {
  while (Line.Length > 0 && (Line.Data[Line.Length - 1] == '\r' || Line.Data[Line.Length - 1] == ' ')) {
    Line.Length--;
  }
  if (Line.Length == 0 || Line.Data[0] == '#') {
    return;
  }
  UINTN equals = 0;
  while (equals < Line.Length && Line.Data[equals] != '=') {
    equals++;
  }
  if (equals == Line.Length) {
    Out->RejectedLines++;
    return;
  }
  Span key{Line.Data, equals};
  Span value{Line.Data + equals + 1, Line.Length - equals - 1};
  if (!ApplyLine(key, value, Out)) {
    Out->RejectedLines++;
  }
}

}  // namespace

void ParseScenario(const CHAR8 *Text, UINTN Length, Scenario *Out) {
  UINTN start = 0;
  for (UINTN at = 0; at <= Length; at++) {
    if (at == Length || Text[at] == '\n') {
      ParseLine({Text + start, at - start}, Out);
      start = at + 1;
    }
  }
}
