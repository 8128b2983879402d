#include "output_pattern.h"

#include <cctype>

namespace camlab {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  if (tail.size() > text.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) {
      return false;
    }
  }
  return true;
}

// Finds a printf-style integer conversion (%d, %u, %05d, %6i): its start, length and width.
bool FindPrintfNumber(const std::string& text, size_t* start, size_t* length, int* width) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (text[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    int parsed = 0;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      parsed = parsed * 10 + (text[j] - '0');
      if (parsed > 20) return false;
      ++j;
    }
    if (j < text.size() && (text[j] == 'd' || text[j] == 'u' || text[j] == 'i')) {
      *start = i;
      *length = j + 1 - i;
      *width = parsed == 0 ? 1 : parsed;
      return true;
    }
    return false;
  }
  return false;
}

}  // namespace

std::string OutputPattern::PathFor(uint64_t sequence) const {
  std::string name = prefix;
  if (digits > 0) {
    std::string number = std::to_string(sequence);
    if (number.size() < static_cast<size_t>(digits)) number.insert(0, digits - number.size(), '0');
    name += number;
  }
  name += suffix;
  return folder.empty() ? name : folder + "/" + name;
}

bool ParseOutputPattern(const std::string& text, bool rgbFrames, OutputPattern* pattern,
                        std::string* error) {
  OutputPattern result;
  std::string file = text;
  if (text.empty()) {
    *error = "the output pattern is empty";
    return false;
  }
  if (text.back() == '/') {
    result.folder = text.substr(0, text.size() - 1);
    file = rgbFrames ? "frame-######.png" : "frame-######.raw";
  } else if (size_t slash = text.rfind('/'); slash != std::string::npos) {
    result.folder = text.substr(0, slash);
    file = text.substr(slash + 1);
  }
  if (file.empty()) {
    *error = "the output pattern '" + text + "' has no file name";
    return false;
  }
  size_t hash = file.find('#');
  size_t start = 0, length = 0;
  int width = 0;
  if (hash != std::string::npos) {
    size_t end = file.find_first_not_of('#', hash);
    if (end == std::string::npos) end = file.size();
    size_t run = end - hash;
    result.prefix = file.substr(0, hash);
    result.suffix = file.substr(end);
    result.digits = run == 1 ? 6 : static_cast<int>(run);
  } else if (FindPrintfNumber(file, &start, &length, &width)) {
    result.prefix = file.substr(0, start);
    result.suffix = file.substr(start + length);
    result.digits = width;
  } else {
    result.prefix = file;
  }
  if (result.prefix.find('%') != std::string::npos ||
      result.suffix.find('%') != std::string::npos) {
    *error = "the output pattern '" + text + "' has a '%' that is not one integer conversion";
    return false;
  }
  result.format = EndsWith(file, ".png") ? FileFormat::Png : FileFormat::Raw;
  if (result.format == FileFormat::Png && !rgbFrames) {
    *error = "PNG output needs 24-bit RGB frames; this format is written as raw bytes (use .raw)";
    return false;
  }
  *pattern = result;
  return true;
}

}  // namespace camlab
