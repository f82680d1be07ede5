// MJPG frames of the virtual camera: baseline JPEG written by stb's encoder, which
// shares no code with the decoders a host uses, so a decoding fault cannot cancel out.
#include "tools/virtualcam/FramePattern.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace virtualcam {
namespace {

// Quality 90 is the highest at which stb subsamples chroma 2x2, as webcams do.
constexpr int kJpegQuality = 90;

void Append(void* context, void* data, int size)
{
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// Removes the DHT segments of the header (everything before the scan). Marker
// segments are FF, type, then a big-endian length that counts itself.
bool StripHuffmanTables(std::vector<uint8_t>* jpeg)
{
  size_t pos = 2;  // after SOI
  while (pos + 4 <= jpeg->size()) {
    const uint8_t* p = jpeg->data() + pos;
    if (p[0] != 0xFF) return false;
    if (p[1] == 0xDA) return true;  // start of scan: the header ends here
    const size_t length = 2 + (static_cast<size_t>(p[2]) << 8 | p[3]);
    if (pos + length > jpeg->size()) return false;
    if (p[1] == 0xC4)
      jpeg->erase(jpeg->begin() + pos, jpeg->begin() + pos + length);
    else
      pos += length;
  }
  return false;
}

}  // namespace

bool EncodeJpeg(uint32_t width, uint32_t height, const uint8_t* rgb, bool huffmanTables, std::vector<uint8_t>* out)
{
  out->clear();
  if (width == 0 || height == 0 || width > 65535 || height > 65535) return false;
  if (!stbi_write_jpg_to_func(Append, out, static_cast<int>(width), static_cast<int>(height), 3, rgb, kJpegQuality))
    return false;
  return huffmanTables || StripHuffmanTables(out);
}

}  // namespace virtualcam
