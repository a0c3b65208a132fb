#include "engine/highlight_extraction.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "engine/babl_arithmetic.hpp"
#include "engine/selection_mask.hpp"
#include "engine/task_pool.hpp"

namespace orvex {

namespace {

constexpr double kFeatherRadius = 2.0;
// Select-by-colour's default threshold (GIMP's default-threshold of 15), plus the 1e-6 GIMP adds.
const float kColourThreshold = static_cast<float>(static_cast<float>(15 / 255.0) + 1e-6);

// The layer as GIMP's scratch image holds it: 8 or 16 bits a sample, widened to words here.
struct Scratch {
  PixelLayout layout;
  std::uint16_t full;
  LargeVector<std::uint16_t> samples;
  std::uint16_t* pixel(std::int64_t i) { return samples.data() + i * layout.channels; }
};

bool alpha_of(const PixelLayout& l) { return l.channels == 2 || l.channels == 4; }

// Float layers enter GIMP's 16-bit copy as babl rounds them; GIMP 3 rounds linear RGBA in double.
template <SampleType T>
Scratch scratch_of(const ConstPixels& layer, bool rounds_in_double) {
  const PixelLayout& l = layer.layout;
  const bool narrow = T == SampleType::u8;
  Scratch s{{l.width, l.height, l.channels, narrow ? SampleType::u8 : SampleType::u16},
            static_cast<std::uint16_t>(narrow ? 0xFF : 0xFFFF),
            LargeVector<std::uint16_t>(static_cast<std::size_t>(l.pixel_count() * l.channels))};
  for (std::size_t i = 0; i < s.samples.size(); ++i) {
    const auto v = load_sample<T>(layer.bytes.data() + i * sizeof(typename Sample<T>::type));
    if constexpr (T == SampleType::u8 || T == SampleType::u16) {
      s.samples[i] = v;
    } else {
      const auto unit = static_cast<float>(v);
      s.samples[i] = unit != unit ? 0 : rounds_in_double ? babl::unit_u16_in_double(unit) : babl::unit_u16(unit);
    }
  }
  return s;
}

// Samples to linear floats and back as GIMP's fill converts them.
class SampleCodec {
 public:
  SampleCodec(const Scratch& s, const LayerEncoding& e)
      : full_(s.full), srgb_(e.curve == SampleCurve::srgb),
        in_double_(e.rounding == GimpRounding::gimp3 && !srgb_ && s.full == 0xFFFF && s.layout.channels == 4) {
    for (int v = 0; v <= full_; ++v) {
      const float unit = full_ == 0xFF ? babl::u8_unit(v) : babl::u16_unit(v);
      const float linear = !srgb_ ? unit : full_ == 0xFF ? babl::srgb_to_linear_core(unit) : babl::srgb_to_linear(unit);
      units_.push_back(unit);
      linear_.push_back(linear);
      kept_.push_back(encode(linear));
      kept_gray_.push_back(encode(babl::luminance(linear, linear, linear)));
    }
  }
  std::uint16_t full() const { return full_; }
  float unit(std::uint16_t v) const { return units_[v]; }
  float linear(std::uint16_t v) const { return linear_[v]; }
  // A sample where nothing is filled, back from linear light.
  std::uint16_t kept(std::uint16_t v) const { return kept_[v]; }
  std::uint16_t kept_gray(std::uint16_t v) const { return kept_gray_[v]; }
  std::uint16_t encode(float linear) const { return quantise(srgb_ ? babl::srgb_from_linear(linear) : linear); }
  std::uint16_t quantise(float unit) const {
    if (full_ == 0xFF) return babl::unit_u8(unit);
    return in_double_ ? babl::unit_u16_in_double(unit) : babl::unit_u16(unit);
  }
  // Select-by-colour compares colours on the sRGB curve.
  float encoded(std::uint16_t v) const { return srgb_ ? units_[v] : babl::srgb_from_linear(units_[v]); }

 private:
  std::uint16_t full_;
  bool srgb_;
  bool in_double_;
  std::vector<float> units_, linear_;
  std::vector<std::uint16_t> kept_, kept_gray_;
};

// Threshold type 0 and gray layers: the pixels whose component `c` is at full scale. GIMP copies the
// component from the image's composite, which keeps the colour of transparent pixels.
SelectionMask select_saturated(const Scratch& s, int c) {
  SelectionMask mask(s.layout.width, s.layout.height, s.full);
  for (std::size_t i = 0; i < mask.values.size(); ++i)
    mask.values[i] = s.samples[i * static_cast<std::size_t>(s.layout.channels) + static_cast<std::size_t>(c)] == s.full
                         ? s.full
                         : 0;
  return mask;
}

// Select-by-colour of white with the default threshold and antialiasing: fully within the
// threshold, partly up to 1.5 times it; never a transparent pixel.
SelectionMask select_white(const Scratch& s, const SampleCodec& codec) {
  SelectionMask mask(s.layout.width, s.layout.height, s.full);
  const bool alpha = alpha_of(s.layout);
  for (std::int64_t i = 0; i < s.layout.pixel_count(); ++i) {
    const std::uint16_t* p = s.samples.data() + i * s.layout.channels;
    if (alpha && p[3] == 0) continue;
    float largest = 0.0f;
    for (int c = 0; c < 3; ++c) largest = std::max(largest, std::fabs(1.0f - codec.encoded(p[c])));
    const auto aa = static_cast<float>(1.5 - largest / kColourThreshold);
    const float selected = aa <= 0.0f ? 0.0f : aa < 0.5f ? static_cast<float>(aa * 2.0) : 1.0f;
    mask.values[static_cast<std::size_t>(i)] = codec.quantise(selected);
  }
  return mask;
}

// Black filled in normal mode through the inverted selection, in linear light, into the
// component `only` (all colour components when negative) and alpha.
template <int Channels>
void black_out_pixel(std::uint16_t* p, std::uint16_t selected, int only, const SampleCodec& codec) {
  constexpr int colours = colour_count(Channels);
  constexpr bool alpha = colours < Channels;
  const auto filled = static_cast<std::uint16_t>(codec.full() - selected);
  const auto touched = [&](int c) { return only < 0 || c == only; };
  if (filled == codec.full()) {  // wholly filled: opaque black
    for (int c = 0; c < colours; ++c)
      if (touched(c)) p[c] = 0;
    if (alpha) p[Channels - 1] = codec.full();
    return;
  }
  if (filled == 0) {  // nothing filled: the samples come back from linear light
    for (int c = 0; c < colours; ++c)
      if (touched(c)) p[c] = colours == 1 ? codec.kept_gray(p[c]) : codec.kept(p[c]);
    return;
  }
  const float mask = codec.unit(filled);
  const float kept = (alpha ? codec.unit(p[Channels - 1]) : 1.0f) * (1.0f - mask);
  const float out_alpha = mask + kept;
  float out[colours];
  for (int c = 0; c < colours; ++c) out[c] = (0.0f * mask + codec.linear(p[c]) * kept) / out_alpha;
  if constexpr (colours == 1) {
    p[0] = codec.encode(babl::luminance(out[0], out[0], out[0]));
  } else {
    for (int c = 0; c < colours; ++c)
      if (touched(c)) p[c] = codec.encode(out[c]);
  }
  if (alpha) p[Channels - 1] = codec.quantise(out_alpha);
}

template <int Channels>
void black_out(Scratch& s, const SelectionMask& selected, int only, const SampleCodec& codec, int threads) {
  parallel_chunks(s.layout.pixel_count(), threads, [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t i = begin; i < end; ++i)
      black_out_pixel<Channels>(s.pixel(i), selected.values[static_cast<std::size_t>(i)], only, codec);
  });
}

void extract_pass(Scratch& s, SelectionMask selected, int only, std::int32_t threshold, const SampleCodec& codec,
                  int threads) {
  if (selected_bounds(selected).width > 0) {
    shrink_selection(selected, threshold - 254, threads);
    feather_selection(selected, kFeatherRadius, threads);
  }
  switch (s.layout.channels) {
    case 1: return black_out<1>(s, selected, only, codec, threads);
    case 2: return black_out<2>(s, selected, only, codec, threads);
    case 3: return black_out<3>(s, selected, only, codec, threads);
    default: return black_out<4>(s, selected, only, codec, threads);
  }
}

PixelBuffer buffer_of(const Scratch& s) {
  PixelBuffer out(s.layout);
  for (std::size_t i = 0; i < s.samples.size(); ++i) {
    if (s.layout.type == SampleType::u8)
      store_sample<SampleType::u8>(out.bytes.data() + i, static_cast<std::uint8_t>(s.samples[i]));
    else
      store_sample<SampleType::u16>(out.bytes.data() + 2 * i, s.samples[i]);
  }
  return out;
}

}  // namespace

PixelBuffer extract_highlights(const ClampedSettings& settings, const ConstPixels& layer,
                               const LayerEncoding& encoding, int threads) {
  check_pixels(layer);
  if (settings->threshold <= 254) throw std::invalid_argument("highlights are extracted above threshold 254");
  const bool in_double = encoding.rounding == GimpRounding::gimp3 && encoding.curve == SampleCurve::linear &&
                         layer.layout.channels == 4;
  Scratch s = with_sample_type(layer.layout.type, [&]<SampleType T>() { return scratch_of<T>(layer, in_double); });
  const SampleCodec codec(s, encoding);
  const int colours = colour_count(s.layout.channels);
  if (colours == 3 && settings->threshold_type != 0) {
    extract_pass(s, select_white(s, codec), -1, settings->threshold, codec, threads);
  } else {
    for (int c = 0; c < colours; ++c)
      extract_pass(s, select_saturated(s, c), colours == 1 ? -1 : c, settings->threshold, codec, threads);
  }
  return buffer_of(s);
}

}  // namespace orvex
