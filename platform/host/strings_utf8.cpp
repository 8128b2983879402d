// UTF-8 <-> UTF-16 for the host side (file names, .reg files, messages). Malformed input becomes
// U+FFFD rather than being dropped silently.
#include "registry_control.h"

namespace host {

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<uint8_t>(text[i]);
    char32_t code = 0xFFFD;
    size_t length = 1;
    if (byte < 0x80) {
      code = byte;
    } else if (byte >= 0xC2 && byte <= 0xF4) {
      length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
      char32_t value = byte & (0x7F >> length);
      bool valid = i + length <= text.size();
      for (size_t k = 1; valid && k < length; ++k) {
        auto next = static_cast<uint8_t>(text[i + k]);
        valid = (next & 0xC0) == 0x80;
        value = (value << 6) | (next & 0x3F);
      }
      bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
      if (valid && !overlong && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
        code = value;
      } else {
        length = 1;
      }
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
  }
  return result;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      result.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (code >> 6)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (code >> 12)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (code >> 18)));
      result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return result;
}

}  // namespace host
