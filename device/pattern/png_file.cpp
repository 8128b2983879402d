// PNG pictures through libpng's simplified reader, when the build has libpng.
#include "test_pattern.h"

#ifdef CAM_HAVE_PNG
#include <png.h>
#endif

namespace campattern {

#ifdef CAM_HAVE_PNG

std::string ReadPng(const std::string& path, RgbImage* image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    return "cannot read PNG picture '" + path + "': " + png.message;
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxPictureDimension ||
      png.height > kMaxPictureDimension) {
    png_image_free(&png);
    return "picture file '" + path + "' has an unsupported size";
  }
  png.format = PNG_FORMAT_RGB;  // alpha is composed onto black, grey is expanded
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
    std::string message = png.message;
    png_image_free(&png);
    return "cannot read PNG picture '" + path + "': " + message;
  }
  image->width = png.width;
  image->height = png.height;
  image->pixels = std::move(pixels);
  return {};
}

#else

std::string ReadPng(const std::string& path, RgbImage*) {
  return "picture file '" + path + "' is a PNG file, and this build has no PNG reader";
}

#endif

}  // namespace campattern
