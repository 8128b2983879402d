// .reg files (Windows Registry Editor Version 5.00) in and out of the hive. An import is checked
// whole before anything is applied, so a file with an error leaves the hive as it was; the error
// names the line. An export writes every value so that a load gives back the same bytes: strings
// and numbers in their readable forms when that is exact, everything else as hex(type).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <variant>

#include "kernel_registry.h"
#include "registry_hive.h"

namespace host {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";

struct RootName {
  std::u16string_view regName;
  std::u16string_view path;
};
// Export uses the first entry whose path matches; import accepts every name.
constexpr RootName kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"\\Registry\\Machine"},
    {u"HKEY_USERS", u"\\Registry\\User"},
    {u"HKLM", u"\\Registry\\Machine"},
    {u"HKEY_CLASSES_ROOT", u"\\Registry\\Machine\\Software\\Classes"},
};

struct DeleteTreeOp {
  std::u16string path;
};
struct CreateKeyOp {
  std::u16string path;
};
struct SetValueOp {
  std::u16string path;
  std::u16string name;
  ULONG type;
  std::vector<uint8_t> data;
};
struct DeleteValueOp {
  std::u16string path;
  std::u16string name;
};
using Operation = std::variant<DeleteTreeOp, CreateKeyOp, SetValueOp, DeleteValueOp>;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == u'\r')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == u'\r')) text.remove_suffix(1);
  return text;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool ParseHexNumber(std::u16string_view text, size_t maxDigits, ULONG* value) {
  if (text.empty() || text.size() > maxDigits) return false;
  ULONG result = 0;
  for (char16_t c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<ULONG>(digit);
  }
  *value = result;
  return true;
}

class Parser {
 public:
  Parser(std::u16string_view text, std::string_view source) : text_(text), source_(source) {}

  bool Parse(std::vector<Operation>* operations, std::string* error) {
    operations_ = operations;
    size_t position = 0;
    size_t lineNumber = 0;
    bool sawHeader = false;
    while (position < text_.size() || lineNumber == 0) {
      // Gather one logical line: a line that ends in a backslash goes on with the next one.
      std::u16string line;
      size_t firstLine = lineNumber + 1;
      bool more = true;
      while (more) {
        size_t end = text_.find(u'\n', position);
        std::u16string_view physical =
            text_.substr(position, end == std::u16string_view::npos ? end : end - position);
        position = end == std::u16string_view::npos ? text_.size() : end + 1;
        ++lineNumber;
        std::u16string_view trimmed = Trim(physical);
        more = !trimmed.empty() && trimmed.back() == u'\\' && trimmed.front() != u'[' &&
               position < text_.size();
        if (more) trimmed.remove_suffix(1);
        line += line.empty() ? trimmed : Trim(trimmed);
      }
      line_ = firstLine;
      std::u16string_view content = Trim(line);
      if (!sawHeader) {
        if (content.empty()) continue;
        if (content != kHeader)
          return Fail(
              "not a registry file: the first line must be \"" + Utf8FromUtf16(kHeader) + "\"",
              error);
        sawHeader = true;
        continue;
      }
      if (content.empty() || content.front() == u';') continue;
      if (!ParseLine(content, error)) return false;
    }
    if (!sawHeader) {
      line_ = 1;
      return Fail("empty file: no \"" + Utf8FromUtf16(kHeader) + "\" line", error);
    }
    return true;
  }

 private:
  bool Fail(const std::string& message, std::string* error) const {
    if (error != nullptr)
      *error = std::string(source_) + ":" + std::to_string(line_) + ": " + message;
    return false;
  }

  bool ParseLine(std::u16string_view content, std::string* error) {
    if (content.front() == u'[') {
      if (content.back() != u']') return Fail("a key line must end with ']'", error);
      content = content.substr(1, content.size() - 2);
      bool remove = !content.empty() && content.front() == u'-';
      if (remove) content.remove_prefix(1);
      std::u16string path;
      if (!KeyPathFromRegName(content, &path, error)) return false;
      if (remove) {
        if (std::count(path.begin(), path.end(), u'\\') <= 2) {
          return Fail("a root key cannot be deleted", error);
        }
        operations_->push_back(DeleteTreeOp{path});
        key_.clear();
        keyDeleted_ = true;
      } else {
        operations_->push_back(CreateKeyOp{path});
        key_ = path;
        keyDeleted_ = false;
      }
      return true;
    }
    if (content.front() != u'"' && content.front() != u'@') {
      return Fail("expected a key in brackets, a value or a comment", error);
    }
    if (key_.empty()) {
      return Fail(keyDeleted_ ? "a value under a deleted key" : "a value before the first key",
                  error);
    }
    std::u16string name;
    size_t position = 0;
    if (content.front() == u'@') {
      position = 1;
    } else if (!ReadQuoted(content, &position, &name)) {
      return Fail("the value name has no closing quote", error);
    }
    while (position < content.size() && IsBlank(content[position])) ++position;
    if (position >= content.size() || content[position] != u'=') {
      return Fail("expected '=' after the value name", error);
    }
    std::u16string_view data = Trim(content.substr(position + 1));
    if (data == u"-") {
      operations_->push_back(DeleteValueOp{key_, name});
      return true;
    }
    SetValueOp op{key_, name, REG_SZ, {}};
    if (!ParseData(data, &op, error)) return false;
    operations_->push_back(std::move(op));
    return true;
  }

  bool KeyPathFromRegName(std::u16string_view name, std::u16string* path, std::string* error) {
    size_t cut = name.find(u'\\');
    std::u16string root = internal::UpcaseName(name.substr(0, cut));
    const RootName* match = nullptr;
    for (const RootName& entry : kRoots) {
      if (root == entry.regName) match = &entry;
    }
    if (match == nullptr) {
      return Fail("unknown root key \"" + Utf8FromUtf16(name.substr(0, cut)) + "\"", error);
    }
    *path = match->path;
    if (cut == std::u16string_view::npos) return true;
    std::u16string_view rest = name.substr(cut + 1);
    while (true) {
      size_t end = rest.find(u'\\');
      std::u16string_view component = rest.substr(0, end);
      if (component.empty() || component.size() > internal::kMaxKeyNameUnits) {
        return Fail("the key path has an empty or over-long name", error);
      }
      *path += u"\\";
      *path += component;
      if (end == std::u16string_view::npos) return true;
      rest = rest.substr(end + 1);
    }
  }

  // A quoted text with \\ and \" escapes, from the opening quote at *position; leaves *position
  // after the closing quote.
  static bool ReadQuoted(std::u16string_view text, size_t* position, std::u16string* result) {
    size_t i = *position + 1;
    for (; i < text.size(); ++i) {
      char16_t c = text[i];
      if (c == u'"') {
        *position = i + 1;
        return true;
      }
      if (c == u'\\' && i + 1 < text.size()) c = text[++i];
      result->push_back(c);
    }
    return false;
  }

  bool ParseData(std::u16string_view data, SetValueOp* op, std::string* error) {
    if (!data.empty() && data.front() == u'"') {
      std::u16string text;
      size_t position = 0;
      if (!ReadQuoted(data, &position, &text) || !Trim(data.substr(position)).empty()) {
        return Fail("a string value must be one quoted text", error);
      }
      op->type = REG_SZ;
      op->data.resize((text.size() + 1) * sizeof(char16_t), 0);
      memcpy(op->data.data(), text.data(), text.size() * sizeof(char16_t));
      return true;
    }
    if (data.starts_with(u"dword:")) {
      ULONG value = 0;
      if (!ParseHexNumber(Trim(data.substr(6)), 8, &value)) {
        return Fail("dword: needs 1 to 8 hexadecimal digits", error);
      }
      op->type = REG_DWORD;
      op->data.resize(4);
      memcpy(op->data.data(), &value, 4);
      return true;
    }
    size_t colon = data.find(u':');
    if (!data.starts_with(u"hex") || colon == std::u16string_view::npos) {
      return Fail("unknown value data (expected \"text\", dword:, hex: or hex(type):)", error);
    }
    std::u16string_view kind = data.substr(3, colon - 3);
    op->type = REG_BINARY;
    if (!kind.empty()) {
      if (kind.size() < 3 || kind.front() != u'(' || kind.back() != u')' ||
          !ParseHexNumber(kind.substr(1, kind.size() - 2), 8, &op->type)) {
        return Fail("hex(type): needs a hexadecimal type number", error);
      }
    }
    std::u16string_view bytes = Trim(data.substr(colon + 1));
    while (!bytes.empty()) {
      size_t comma = bytes.find(u',');
      ULONG byte = 0;
      if (!ParseHexNumber(Trim(bytes.substr(0, comma)), 2, &byte)) {
        return Fail("hex data must be two-digit hexadecimal bytes separated by commas", error);
      }
      op->data.push_back(static_cast<uint8_t>(byte));
      if (comma == std::u16string_view::npos) break;
      bytes = Trim(bytes.substr(comma + 1));
      if (bytes.empty()) return Fail("hex data ends with a comma", error);
    }
    return true;
  }

  std::u16string_view text_;
  std::string_view source_;
  std::vector<Operation>* operations_ = nullptr;
  size_t line_ = 0;
  std::u16string key_;
  bool keyDeleted_ = false;
};

void Apply(const std::vector<Operation>& operations) {
  std::lock_guard<std::mutex> guard(internal::HiveLock());
  for (const Operation& operation : operations) {
    internal::KeyRef key;
    if (const auto* op = std::get_if<DeleteTreeOp>(&operation)) {
      if (NT_SUCCESS(internal::ResolveAbsolute(op->path, false, &key))) internal::DeleteTree(*key);
    } else if (const auto* op = std::get_if<CreateKeyOp>(&operation)) {
      internal::ResolveAbsolute(op->path, true, &key);
    } else if (const auto* op = std::get_if<SetValueOp>(&operation)) {
      if (NT_SUCCESS(internal::ResolveAbsolute(op->path, true, &key))) {
        internal::SetValue(*key, op->name, op->type, op->data);
      }
    } else if (const auto* op = std::get_if<DeleteValueOp>(&operation)) {
      if (NT_SUCCESS(internal::ResolveAbsolute(op->path, false, &key))) {
        internal::DeleteValue(*key, op->name);
      }
    }
  }
}

bool ImportUtf16(std::u16string_view text, std::string_view source, std::string* error) {
  std::vector<Operation> operations;
  if (!Parser(text, source).Parse(&operations, error)) return false;
  Apply(operations);
  return true;
}

// ---- Export -------------------------------------------------------------------------------------

std::u16string Quoted(std::u16string_view text) {
  std::u16string result = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') result.push_back(u'\\');
    result.push_back(c);
  }
  return result + u"\"";
}

// A REG_SZ value that reads back the same as "text": one terminating zero, none inside, no line
// breaks, no unpaired surrogates.
bool ExactAsText(const std::vector<uint8_t>& data, std::u16string* text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  text->assign(data.size() / 2 - 1, u'\0');
  memcpy(text->data(), data.data(), text->size() * 2);
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
  for (size_t i = 0; i < text->size(); ++i) {
    char16_t c = (*text)[i];
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text->size() || (*text)[i + 1] < 0xDC00 || (*text)[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string FormatValue(const RegistryValue& value) {
  std::u16string line = value.name.empty() ? u"@=" : Quoted(value.name) + u"=";
  std::u16string text;
  if (value.type == REG_SZ && ExactAsText(value.data, &text)) return line + Quoted(text);
  if (value.type == REG_DWORD && value.data.size() == 4) {
    ULONG number;
    memcpy(&number, value.data.data(), 4);
    char digits[16];
    snprintf(digits, sizeof digits, "dword:%08x", number);
    return line + Ascii(digits);
  }
  if (value.type == REG_BINARY) {
    line += u"hex:";
  } else {
    char prefix[24];
    snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    line += Ascii(prefix);
  }
  // Lines of at most 80 characters, continued with a backslash and two blanks.
  size_t lineStart = 0;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, "%02x", value.data[i]);
    line += Ascii(byte);
    if (i + 1 < value.data.size()) {
      line += u",";
      if (line.size() - lineStart > 75) {
        line += u"\\\r\n  ";
        lineStart = line.size() - 2;
      }
    }
  }
  return line;
}

std::u16string RegNameOfPath(std::u16string_view path) {
  for (const RootName& root : kRoots) {
    std::u16string upper = internal::UpcaseName(path);
    std::u16string rootUpper = internal::UpcaseName(root.path);
    if (upper == rootUpper || upper.starts_with(rootUpper + u"\\")) {
      return std::u16string(root.regName) + std::u16string(path.substr(root.path.size()));
    }
  }
  return std::u16string(path);
}

void ExportKey(const internal::KeyNode& key, std::u16string* out) {
  *out += u"[" + RegNameOfPath(internal::KeyPath(key)) + u"]\r\n";
  for (const RegistryValue& value : key.values) *out += FormatValue(value) + u"\r\n";
  *out += u"\r\n";
  for (const auto& [upper, subkey] : key.subkeys) ExportKey(*subkey, out);
}

std::u16string ExportUtf16(std::u16string_view keyPath) {
  std::u16string out = std::u16string(kHeader) + u"\r\n\r\n";
  std::lock_guard<std::mutex> guard(internal::HiveLock());
  internal::KeyRef key;
  if (NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key))) ExportKey(*key, &out);
  return out;
}

}  // namespace

bool ImportRegistryText(std::string_view text, std::string_view sourceName, std::string* error) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return ImportUtf16(Utf16FromUtf8(text), sourceName, error);
}

bool LoadRegistryFile(const std::filesystem::path& file, std::string* error) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    if (error != nullptr) *error = file.string() + ": cannot be opened";
    return false;
  }
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  std::string content = bytes.str();
  if (content.starts_with("\xFF\xFE")) {
    std::u16string text((content.size() - 2) / 2, u'\0');
    memcpy(text.data(), content.data() + 2, text.size() * 2);
    return ImportUtf16(text, file.string(), error);
  }
  return ImportRegistryText(content, file.string(), error);
}

std::string ExportRegistryText(std::u16string_view keyPath) {
  return Utf8FromUtf16(ExportUtf16(keyPath));
}

bool SaveRegistryFile(const std::filesystem::path& file, std::string* error,
                      RegFileEncoding encoding, std::u16string_view keyPath) {
  std::u16string text = ExportUtf16(keyPath);
  std::string content;
  if (encoding == RegFileEncoding::Utf16Le) {
    content = "\xFF\xFE";
    content.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  } else {
    content = Utf8FromUtf16(text);
  }
  // Written beside the target and renamed over it, so that a failed save leaves the old file.
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    stream.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!stream.flush()) {
      if (error != nullptr) *error = temporary.string() + ": cannot be written";
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code failure;
  std::filesystem::rename(temporary, file, failure);
  if (failure) {
    if (error != nullptr) *error = file.string() + ": " + failure.message();
    std::filesystem::remove(temporary, failure);
    return false;
  }
  return true;
}

}  // namespace host
