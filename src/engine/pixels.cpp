#include "engine/pixels.hpp"

#include <limits>
#include <stdexcept>

namespace orvex {

void check_pixels(const ConstPixels& pixels) {
  const PixelLayout& l = pixels.layout;
  if (l.channels < 1 || l.channels > 4) throw std::invalid_argument("unsupported channel count");
  if (l.width < 0 || l.height < 0) throw std::invalid_argument("negative image size");
  constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
  if (l.width > kMaxSide || l.height > kMaxSide) throw std::invalid_argument("image too large");
  if (l.width > 0 && l.height > std::numeric_limits<std::int64_t>::max() / 32 / l.width)
    throw std::invalid_argument("image too large");
  if (static_cast<std::int64_t>(pixels.bytes.size()) != l.byte_count())
    throw std::invalid_argument("pixel buffer does not match the image size");
}

double unit_value(SampleType type, const std::byte* at) {
  return with_sample_type(type, [&]<SampleType T>() { return Sample<T>::unit(load_sample<T>(at)); });
}

}  // namespace orvex
