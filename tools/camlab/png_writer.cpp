#include "png_writer.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace camlab {
namespace {

// Opens a temporary file next to `path`; the caller renames it into place once it is complete.
FILE* OpenTemporary(const std::string& path, std::string* temporary, std::string* error) {
  *temporary = path + ".partial-" + std::to_string(getpid());
  FILE* file = fopen(temporary->c_str(), "wb");
  if (file == nullptr) *error = "cannot write '" + path + "': " + strerror(errno);
  return file;
}

bool Commit(FILE* file, const std::string& temporary, const std::string& path, bool ok,
            std::string* error) {
  if (fclose(file) != 0 && ok) {
    *error = "cannot write '" + path + "': " + strerror(errno);
    ok = false;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot write '" + path + "': " + strerror(errno);
    ok = false;
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace

bool WriteBottomUpBgrAsPng(const std::string& path, const uint8_t* pixels, uint32_t width,
                           uint32_t height, std::string* error) {
  std::string temporary;
  FILE* file = OpenTemporary(path, &temporary, error);
  if (file == nullptr) return false;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_BGR;
  // A negative stride tells libpng the rows are stored bottom-up.
  const png_int_32 stride = -static_cast<png_int_32>(width * 3);
  bool ok = png_image_write_to_stdio(&image, file, 0, pixels, stride, nullptr) != 0;
  if (!ok) *error = "cannot encode PNG '" + path + "': " + image.message;
  png_image_free(&image);
  return Commit(file, temporary, path, ok, error);
}

bool WriteRawFile(const std::string& path, const uint8_t* bytes, size_t length,
                  std::string* error) {
  std::string temporary;
  FILE* file = OpenTemporary(path, &temporary, error);
  if (file == nullptr) return false;
  bool ok = fwrite(bytes, 1, length, file) == length;
  if (!ok) *error = "cannot write '" + path + "': " + strerror(errno);
  return Commit(file, temporary, path, ok, error);
}

}  // namespace camlab
