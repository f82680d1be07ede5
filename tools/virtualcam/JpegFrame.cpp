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

// The length of the marker segment at `pos` (marker included), or 0 when there is none.
size_t SegmentLength(const std::vector<uint8_t>& jpeg, size_t pos)
{
  if (pos + 4 > jpeg.size() || jpeg[pos] != 0xFF) return 0;
  const size_t length = 2 + (static_cast<size_t>(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
  return pos + length <= jpeg.size() ? length : 0;
}

// Splits one band's JPEG into its header (up to the end of the scan header) and its
// entropy-coded data (up to the EOI marker that ends the file).
bool SplitAtScan(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>* header, std::vector<uint8_t>* data)
{
  size_t pos = 2;  // after SOI
  for (;;) {
    const size_t length = SegmentLength(jpeg, pos);
    if (length == 0) return false;
    const bool scan = jpeg[pos + 1] == 0xDA;
    pos += length;
    if (scan) break;
  }
  const size_t end = jpeg.size() - 2;
  if (end < pos || jpeg[end] != 0xFF || jpeg[end + 1] != 0xD9) return false;
  if (header) header->assign(jpeg.begin(), jpeg.begin() + pos);
  data->assign(jpeg.begin() + pos, jpeg.begin() + end);
  return true;
}

// Turns the first band's header into the picture's: the frame header gets the full
// height, and a restart interval of `interval` blocks goes in before the scan.
bool MakePictureHeader(std::vector<uint8_t>* header, uint32_t height, uint32_t interval)
{
  size_t pos = 2;
  for (;;) {
    const size_t length = SegmentLength(*header, pos);
    if (length == 0) return false;
    const uint8_t marker = (*header)[pos + 1];
    if (marker == 0xC0 && length >= 9) {  // baseline frame header: precision, then height
      (*header)[pos + 5] = static_cast<uint8_t>(height >> 8);
      (*header)[pos + 6] = static_cast<uint8_t>(height);
    } else if (marker == 0xDA) {
      const uint8_t dri[] = {0xFF, 0xDD, 0, 4, static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)};
      header->insert(header->begin() + pos, dri, dri + sizeof dri);
      return true;
    }
    pos += length;
  }
}

}  // namespace

bool EncodeJpegBands(uint32_t width, uint32_t height, const uint8_t* rgb, bool huffmanTables, JpegBands* out)
{
  constexpr uint32_t kBand = 16;
  out->header.clear();
  out->bands.clear();
  const uint32_t blocksPerBand = (width + kBand - 1) / kBand;
  if (width == 0 || height == 0 || width > 65535 || height > 65535 || blocksPerBand > 65535) return false;
  std::vector<uint8_t> jpeg;
  out->bands.resize((height + kBand - 1) / kBand);
  for (uint32_t band = 0; band < out->bands.size(); ++band) {
    const uint32_t top = band * kBand;
    const uint32_t rows = height - top < kBand ? height - top : kBand;
    if (!EncodeJpeg(width, rows, rgb + static_cast<size_t>(top) * width * 3, true, &jpeg) ||
        !SplitAtScan(jpeg, band == 0 ? &out->header : nullptr, &out->bands[band]))
      return false;
  }
  return MakePictureHeader(&out->header, height, blocksPerBand) && (huffmanTables || StripHuffmanTables(&out->header));
}

void JoinJpegBands(const JpegBands& a, const JpegBands& b, uint64_t choice, std::vector<uint8_t>* out)
{
  const size_t count = a.bands.size() < b.bands.size() ? a.bands.size() : b.bands.size();
  out->assign(a.header.begin(), a.header.end());
  for (size_t band = 0; band < count; ++band) {
    const std::vector<uint8_t>& data = (choice >> (band % 64) & 1) ? b.bands[band] : a.bands[band];
    out->insert(out->end(), data.begin(), data.end());
    if (band + 1 < count) {
      out->push_back(0xFF);
      out->push_back(static_cast<uint8_t>(0xD0 + band % 8));  // RSTn, n counting 0 to 7
    }
  }
  out->push_back(0xFF);
  out->push_back(0xD9);
}

bool EncodeJpeg(uint32_t width, uint32_t height, const uint8_t* rgb, bool huffmanTables, std::vector<uint8_t>* out)
{
  out->clear();
  if (width == 0 || height == 0 || width > 65535 || height > 65535) return false;
  if (!stbi_write_jpg_to_func(Append, out, static_cast<int>(width), static_cast<int>(height), 3, rgb, kJpegQuality))
    return false;
  return huffmanTables || StripHuffmanTables(out);
}

}  // namespace virtualcam
