// The setting-file parser. Positions run from a start to an end pointer and never past it; fields
// are copied with their buffer's size; the packed string records are walked with their block's
// size.
#include "config/setting_file_parser.h"

#include <cstring>

#include "camera/camera.h"
#include "kernel_registry.h"
#include "kernel_strings.h"

namespace settings {
namespace {

constexpr ULONG kRootBytes = 16;
constexpr ULONG kFlagsBytes = 32;
constexpr ULONG kFlagsBinary = 0x00000001;
constexpr ULONG kFlagsNumber = 0x00010001;
// A UTF-16 field holds this many characters and its terminator.
constexpr ULONG kMaxWideChars = kFieldBytes / sizeof(WCHAR) - 1;
constexpr WCHAR kMachineRoot[] = u"\\Registry\\Machine";

bool IsBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

ULONG BoundedLength(const char* text, ULONG capacity) {
  ULONG length = 0;
  while (length < capacity && text[length] != 0) ++length;
  return length;
}

// Appends one record (32-bit length with the terminator, the bytes, the terminator).
void AppendRecord(UCHAR* block, ULONG capacity, ULONG* used, const char* text, ULONG chars) {
  ULONG length = chars + 1;
  if (*used + sizeof(ULONG) + length > capacity) return;
  memcpy(block + *used, &length, sizeof length);
  memcpy(block + *used + sizeof(ULONG), text, chars);
  block[*used + sizeof(ULONG) + chars] = 0;
  *used += sizeof(ULONG) + length;
}

// Reads the record at *offset; false when it would leave the block.
bool NextRecord(const UCHAR* block, ULONG bytes, ULONG* offset, const char** text, ULONG* chars) {
  ULONG length = 0;
  if (*offset + sizeof(ULONG) > bytes) return false;
  memcpy(&length, block + *offset, sizeof length);
  if (length == 0 || length > bytes - *offset - sizeof(ULONG)) return false;
  *text = reinterpret_cast<const char*>(block + *offset + sizeof(ULONG));
  *chars = length - 1;
  *offset += sizeof(ULONG) + length;
  return true;
}

// The text of a [Strings] name, or null.
const char* LookUp(const StringTable* table, const char* name, ULONG nameChars, ULONG* textChars) {
  if (table == nullptr || table->pairs == nullptr) return nullptr;
  ULONG offset = 0;
  for (ULONG index = 0; index < table->count; ++index) {
    const char* entryName = nullptr;
    const char* text = nullptr;
    ULONG entryChars = 0;
    if (!NextRecord(table->pairs, table->bytes, &offset, &entryName, &entryChars) ||
        !NextRecord(table->pairs, table->bytes, &offset, &text, textChars)) {
      return nullptr;
    }
    if (entryChars == nameChars && memcmp(entryName, name, nameChars) == 0) return text;
  }
  return nullptr;
}

// The line after the one that starts with `header`, or null when there is none.
const char* FindSection(const char* text, const char* end, const char* header, char* line) {
  ULONG headerChars = BoundedLength(header, kFieldBytes);
  const char* position = text;
  while (position < end) {
    ULONG size = kFieldBytes;
    position = ReadLine(position, end, line, &size);
    if (size > headerChars && memcmp(line, header, headerChars) == 0) return position;
    if (size <= 1) break;
  }
  return nullptr;
}

bool MatchesSection(const char* line, const UCHAR* list, ULONG listBytes, ULONG count) {
  if (line[0] != '[') return false;
  ULONG offset = 0;
  for (ULONG index = 0; index < count; ++index) {
    const char* name = nullptr;
    ULONG chars = 0;
    if (!NextRecord(list, listBytes, &offset, &name, &chars)) return false;
    // The name must end where the header's name ends: "[Cam.AddReg2]" is not "Cam.AddReg".
    char after = line[1 + chars];
    if (strncmp(line + 1, name, chars) == 0 && (after == ']' || after == 0 || IsBlank(after))) {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* SkipToLineEnd(const char* position, const char* end) {
  while (position < end && *position != '\n') ++position;
  return position < end ? position + 1 : end;
}

const char* SkipBlanks(const char* position, const char* end) {
  while (position < end) {
    if (IsBlank(*position)) {
      ++position;
    } else if (*position == ';') {
      position = SkipToLineEnd(position, end);
    } else {
      break;
    }
  }
  return position;
}

const char* ReadLine(const char* position, const char* end, char* line, ULONG* size) {
  ULONG capacity = *size;
  *size = 0;
  if (capacity == 0) return position;
  ULONG chars = 0;
  position = SkipBlanks(position, end);
  while (position < end) {
    // One physical line: its content up to the line end or a comment.
    char last = 0;  // the last non-blank content character, stored or not
    while (position < end && *position != '\n' && *position != ';') {
      if (!IsBlank(*position)) last = *position;
      if (chars + 1 < capacity) line[chars++] = *position;
      ++position;
    }
    while (chars > 0 && IsBlank(line[chars - 1])) --chars;
    position = SkipToLineEnd(position, end);
    if (last != '\\') break;
    // A backslash joins the next line: it is dropped, and reading goes on at the next content.
    if (chars > 0 && line[chars - 1] == '\\') --chars;
    position = SkipBlanks(position, end);
  }
  line[chars] = 0;
  *size = chars + 1;
  return position;
}

const char* ReadToken(const char* position, const char* end, char* field, ULONG* size,
                      char delimiter) {
  ULONG capacity = *size;
  *size = 0;
  if (capacity == 0) return position;
  ULONG chars = 0;
  while (position < end && *position != delimiter && *position != 0) {
    if (chars + 1 < capacity) field[chars++] = *position;
    ++position;
  }
  if (position < end && *position == delimiter) ++position;
  // A NUL byte inside the text ends it: without this a caller walking tokens would never move on.
  if (position < end && *position == 0) position = end;
  while (chars > 0 && IsBlank(field[chars - 1])) --chars;
  field[chars] = 0;
  *size = chars + 1;
  return SkipBlanks(position, end);
}

void ParseNumber(const char* text, ULONG base, ULONG* value) {
  *value = 0;
  if (text == nullptr) return;
  if (base == 0) {
    base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      text += 2;
    }
  }
  ULONG chars = BoundedLength(text, kFieldBytes);
  ULONG weight = 1;
  for (ULONG index = chars; index > 0; --index) {
    unsigned char c = static_cast<unsigned char>(text[index - 1]);
    ULONG digit = static_cast<ULONG>(c) - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    *value += digit * weight;
    weight *= base;
  }
}

NTSTATUS LoadStrings(IBufferPool* pool, StringTable* table, const char* position, const char* end) {
  FreeStrings(pool, table);
  auto* scratch = static_cast<char*>(pool->Allocate(NonPagedPool, 2 * kFieldBytes, kBufferScratch));
  if (scratch == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  char* line = scratch;
  char* field = scratch + kFieldBytes;
  const char* start = FindSection(position, end, "[Strings]", line);
  NTSTATUS status = STATUS_SUCCESS;
  if (start != nullptr) {
    // Count the section's lines; its bytes bound what its pairs can hold.
    ULONG lines = 0;
    const char* cursor = start;
    const char* sectionEnd = start;
    while (cursor < end) {
      ULONG size = kFieldBytes;
      const char* next = ReadLine(cursor, end, line, &size);
      if (size <= 1 || line[0] == '[') break;
      ++lines;
      cursor = next;
      sectionEnd = next;
    }
    ULONG capacity = static_cast<ULONG>(sectionEnd - start) + lines * 2 * (sizeof(ULONG) + 1);
    auto* pairs =
        lines != 0 ? static_cast<UCHAR*>(pool->Allocate(NonPagedPool, capacity, kBufferPersistent))
                   : nullptr;
    if (lines != 0 && pairs == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
    if (pairs != nullptr) {
      ULONG used = 0;
      cursor = start;
      for (ULONG index = 0; index < lines; ++index) {
        ULONG size = kFieldBytes;
        cursor = ReadLine(cursor, end, line, &size);
        const char* lineEnd = line + size - 1;
        ULONG nameSize = kFieldBytes;
        const char* text = ReadToken(line, lineEnd, field, &nameSize, '=');
        AppendRecord(pairs, capacity, &used, field, nameSize - 1);
        ULONG textSize = kFieldBytes;
        ReadToken(text, lineEnd, field, &textSize, '=');
        // The text is enclosed in one delimiter character on each side.
        ULONG chars = textSize - 1;
        AppendRecord(pairs, capacity, &used, chars >= 2 ? field + 1 : field,
                     chars >= 2 ? chars - 2 : 0);
      }
      table->pairs = pairs;
      table->count = lines;
      table->bytes = used;
    }
  }
  pool->Free(scratch);
  return status;
}

void FreeStrings(IBufferPool* pool, StringTable* table) {
  if (table->pairs != nullptr) pool->Free(table->pairs);
  table->pairs = nullptr;
  table->count = 0;
  table->bytes = 0;
}

ULONG ReadSectionList(IBufferPool* pool, const char* position, const char* end, UCHAR** list,
                      ULONG* listBytes) {
  *list = nullptr;
  *listBytes = 0;
  auto* scratch = static_cast<char*>(pool->Allocate(NonPagedPool, 2 * kFieldBytes, kBufferScratch));
  if (scratch == nullptr) return 0;
  char* line = scratch;
  char* field = scratch + kFieldBytes;
  ULONG count = 0;
  const char* next = FindSection(position, end, "[Sections]", line);
  ULONG size = kFieldBytes;
  if (next != nullptr) ReadLine(next, end, line, &size);
  const char* lineEnd = line + (size > 0 ? size - 1 : 0);
  ULONG keySize = kFieldBytes;
  const char* names = size > 1 ? ReadToken(line, lineEnd, field, &keySize, '=') : nullptr;
  if (names != nullptr && strcmp(field, "AddReg") == 0) {
    ULONG capacity = (size + 1) * (sizeof(ULONG) + 1);
    auto* block = static_cast<UCHAR*>(pool->Allocate(NonPagedPool, capacity, kBufferScratch));
    ULONG used = 0;
    while (block != nullptr && names < lineEnd) {
      ULONG nameSize = kFieldBytes;
      names = ReadToken(names, lineEnd, field, &nameSize, ',');
      if (nameSize <= 1) continue;
      AppendRecord(block, capacity, &used, field, nameSize - 1);
      ++count;
    }
    *list = block;
    *listBytes = used;
  }
  pool->Free(scratch);
  return count;
}

NTSTATUS ExpandToUnicode(IBufferPool* pool, const StringTable* table, char* field, ULONG* length) {
  auto* expanded = static_cast<char*>(pool->Allocate(NonPagedPool, kFieldBytes, kBufferScratch));
  if (expanded == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG in = BoundedLength(field, kFieldBytes);
  ULONG out = 0;
  auto put = [&](const char* text, ULONG chars) {
    for (ULONG index = 0; index < chars && out < kMaxWideChars; ++index)
      expanded[out++] = text[index];
  };
  for (ULONG index = 0; index < in;) {
    if (field[index] != '%') {
      put(field + index++, 1);
      continue;
    }
    // %name%; without a closing percent sign the name is the rest of the field.
    ULONG close = index + 1;
    while (close < in && field[close] != '%') ++close;
    ULONG textChars = 0;
    const char* text = LookUp(table, field + index + 1, close - index - 1, &textChars);
    ULONG referenceEnd = close < in ? close + 1 : in;
    if (text != nullptr) {
      put(text, textChars);
    } else {
      put(field + index, referenceEnd - index);
    }
    index = referenceEnd;
  }
  ULONG bytes = 0;
  RtlMultiByteToUnicodeN(reinterpret_cast<PWCHAR>(field), kMaxWideChars * sizeof(WCHAR), &bytes,
                         expanded, out);
  reinterpret_cast<PWCHAR>(field)[bytes / sizeof(WCHAR)] = 0;
  *length = bytes + sizeof(WCHAR);
  pool->Free(expanded);
  return STATUS_SUCCESS;
}

NTSTATUS ApplyAddRegLine(ICamera* camera, IBufferPool* pool, const StringTable* table,
                         const char* line, ULONG length) {
  auto* fields = static_cast<char*>(
      pool->Allocate(NonPagedPool, kRootBytes + 3 * kFieldBytes + kFlagsBytes, kBufferScratch));
  if (fields == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  char* root = fields;
  char* subkey = root + kRootBytes;
  char* valueName = subkey + kFieldBytes;
  char* data = valueName + kFieldBytes;
  char* flagsText = data + kFieldBytes;
  const char* end = line + (length > 0 ? length - 1 : 0);

  HANDLE deviceKey = nullptr;
  HANDLE machineKey = nullptr;
  HANDLE target = nullptr;
  NTSTATUS status = camera->OpenDeviceKey(&deviceKey);
  if (NT_SUCCESS(status)) {
    ULONG size = kRootBytes;
    const char* position = ReadToken(line, end, root, &size, ',');
    HANDLE rootKey = nullptr;
    if (strncmp(root, "HKR", 3) == 0) {
      rootKey = deviceKey;
    } else if (strncmp(root, "HKLM", 4) == 0) {
      status = camera->OpenKey(nullptr, KEY_ALL_ACCESS, kMachineRoot, &machineKey);
      rootKey = machineKey;
    } else {
      status = STATUS_INVALID_PARAMETER;
    }
    ULONG subkeySize = kFieldBytes;
    ULONG nameSize = kFieldBytes;
    ULONG flagsSize = kFlagsBytes;
    position = ReadToken(position, end, subkey, &subkeySize, ',');
    position = ReadToken(position, end, valueName, &nameSize, ',');
    position = ReadToken(position, end, flagsText, &flagsSize, ',');
    bool subkeyEmpty = subkeySize <= 1;
    if (NT_SUCCESS(status)) status = ExpandToUnicode(pool, table, subkey, &subkeySize);
    if (NT_SUCCESS(status)) status = ExpandToUnicode(pool, table, valueName, &nameSize);
    ULONG flags = 0;
    if (flagsSize > 1) ParseNumber(flagsText, 0, &flags);

    ULONG type = REG_SZ;
    ULONG dataSize = 0;
    if (NT_SUCCESS(status)) {
      ULONG fieldSize = kFieldBytes;
      char byteText[kFlagsBytes];
      if (flags == kFlagsBinary) {
        // One hexadecimal byte per field; the first is always taken, the rest up to an empty one.
        type = REG_BINARY;
        do {
          fieldSize = sizeof byteText;
          position = ReadToken(position, end, byteText, &fieldSize, ',');
          if (dataSize > 0 && fieldSize <= 1) break;
          ULONG byte = 0;
          ParseNumber(byteText, 16, &byte);
          data[dataSize++] = static_cast<char>(byte);
        } while (position < end && dataSize < kFieldBytes);
      } else if (flags == kFlagsNumber) {
        type = REG_DWORD;
        ReadToken(position, end, data, &fieldSize, ',');
        ULONG number = 0;
        ParseNumber(data, 0, &number);
        memcpy(data, &number, sizeof number);
        dataSize = sizeof number;
      } else {
        ReadToken(position, end, data, &fieldSize, ',');
        status = ExpandToUnicode(pool, table, data, &dataSize);
      }
    }
    if (NT_SUCCESS(status)) {
      // An empty subkey is the root key itself.
      status = subkeyEmpty ? STATUS_SUCCESS
                           : camera->CreateKeyPath(rootKey, KEY_ALL_ACCESS,
                                                   reinterpret_cast<PCWSTR>(subkey), &target);
    }
    if (NT_SUCCESS(status)) {
      status = camera->SetValue(subkeyEmpty ? rootKey : target, reinterpret_cast<PCWSTR>(valueName),
                                type, data, dataSize);
    }
  }
  if (target != nullptr) camera->CloseKey(target);
  if (machineKey != nullptr) camera->CloseKey(machineKey);
  if (deviceKey != nullptr) camera->CloseKey(deviceKey);
  pool->Free(fields);
  return status;
}

NTSTATUS ParseSettingFile(ICamera* camera, IBufferPool* pool, StringTable* table, const char* text,
                          ULONG length) {
  auto* line = static_cast<char*>(pool->Allocate(NonPagedPool, kFieldBytes, kBufferScratch));
  if (line == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  const char* end = text + length;
  LoadStrings(pool, table, text, end);
  UCHAR* sections = nullptr;
  ULONG sectionBytes = 0;
  ULONG sectionCount = ReadSectionList(pool, text, end, &sections, &sectionBytes);

  ULONG size = kFieldBytes;
  const char* position = ReadLine(text, end, line, &size);
  ULONG matched = 0;
  while (matched < sectionCount && size > 1) {
    if (MatchesSection(line, sections, sectionBytes, sectionCount)) {
      // Sections are applied in the order in which they appear in the file.
      ++matched;
      for (;;) {
        size = kFieldBytes;
        position = ReadLine(position, end, line, &size);
        if (size <= 1 || line[0] == '[') break;
        ApplyAddRegLine(camera, pool, table, line, size);
      }
      continue;
    }
    size = kFieldBytes;
    position = ReadLine(position, end, line, &size);
  }

  FreeStrings(pool, table);
  if (sections != nullptr) pool->Free(sections);
  pool->Free(line);
  return STATUS_SUCCESS;
}

}  // namespace settings
