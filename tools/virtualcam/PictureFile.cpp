// Picture files for pattern=picture:FILE, decoded by stb's PNG reader (Debian libstb-dev).
#include "tools/virtualcam/VirtualCamConfig.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_WINDOWS_UTF8  // paths are UTF-8 on Windows too
#include <stb/stb_image.h>

namespace virtualcam {

bool LoadPicture(const std::string& path, std::shared_ptr<const PictureData>* picture, std::string* error)
{
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
  if (!pixels) {
    *error = std::string("cannot read the picture: ") + stbi_failure_reason();
    return false;
  }
  auto data = std::make_shared<PictureData>();
  data->width = static_cast<uint32_t>(width);
  data->height = static_cast<uint32_t>(height);
  data->rgb.assign(pixels, pixels + static_cast<size_t>(width) * height * 3);
  stbi_image_free(pixels);
  *picture = std::move(data);
  return true;
}

}  // namespace virtualcam
