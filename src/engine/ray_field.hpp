// The rays of a whole layer and the pixels they give in any rectangle of it.
//
// Every rectangle is computed exactly as the whole layer would be there: a preview of a view
// shows the very bytes that rendering the layer writes into it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/blend.hpp"
#include "engine/channel_rays.hpp"
#include "engine/fft_convolution.hpp"
#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"
#include "engine/sources.hpp"

namespace orvex {

enum class StampMethod {
  automatic,    // whichever a cost model expects to be faster, per channel
  direct,       // ray by ray
  convolution,  // FFT convolution with the channel's line kernel
};

struct RenderOptions {
  explicit RenderOptions(int thread_count = 1) : threads(thread_count) {}

  int threads;
  StampMethod method = StampMethod::automatic;
  // The share of the work done, reported on the calling thread.
  std::function<void(double fraction)> progress;
  // Set from another thread to abandon the work (it then throws Cancelled).
  const std::atomic<bool>* cancel = nullptr;
  // Output rows first .. first + count - 1 are final, reported on the calling thread while the
  // workers go on: a host can hand them over meanwhile. Each row once, in no particular order.
  std::function<void(std::int64_t first, std::int64_t count)> rows_done;
};

// The summed rays of a rectangle, per colour channel, row-major.
struct Accumulation {
  Rect view;
  RayPlanes planes;
};

class RayField {
 public:
  // Traces the paths and decides per channel how to stamp; no stamping yet. Each dense channel's
  // sources are let go once its FFT holds what they gave.
  RayField(const ClampedSettings& settings, LayerSources sources, StampMethod method);
  // The same over sources that others keep too (a preview's, for each of its changes).
  RayField(const ClampedSettings& settings, const std::shared_ptr<const LayerSources>& sources,
           StampMethod method);

  // Stamps the dense channels of the whole layer through FFTs; needed before any render. The
  // progress and the cancel of `options` are seen inside the transforms.
  void convolve(const RenderOptions& options);
  // The same for a render of the whole layer into itself: one dense channel at a time is
  // convolved and blended into `layer` at once, so that only one plane is held (and reused) and
  // each channel's sources go once read; render() then leaves those channels as they are.
  void convolve_into(double brightness, const MutablePixels& layer, const RenderOptions& options);

  int colours() const { return static_cast<int>(rays_.size()); }
  int convolved_count() const;
  bool convolved(int channel) const {
    const auto c = static_cast<std::size_t>(channel);
    return !convolved_[c].empty() || blended_[c];
  }

  Accumulation accumulate(const Rect& view, const RenderOptions& options) const;

  // Blends the rays of `view` over `base` (the whole layer) into `out` (the view's size;
  // it may be `base` itself when the view is the whole layer).
  void render(const Rect& view, double brightness, const ConstPixels& base, const MutablePixels& out,
              const RenderOptions& options) const;

 private:
  using ChannelSources = std::vector<std::shared_ptr<const SourceList>>;
  RayField(const ClampedSettings& settings, std::int64_t width, std::int64_t height, ChannelSources by_row,
           StampMethod method);
  template <typename Finish>
  void run_rows(const Rect& view, const RenderOptions& options, Finish&& finish) const;
  // The summed rays of channel `channel` in `area` into `out` (area.height rows of area.width).
  void accumulate_area(int channel, const Rect& area, LargeVector<double>& steep, double* out) const;
  void check_convolved() const;

  std::int64_t width_;
  std::int64_t height_;
  std::vector<ChannelRays> rays_;
  ChannelSources by_row_;                      // none left for a convolved channel
  std::vector<SourceList> by_column_;          // only for directly stamped steep rays
  std::vector<bool> wants_convolution_;
  std::vector<ConvolvedPlane> convolved_;  // whole-layer planes of the dense channels
  std::vector<bool> blended_;              // dense channels already blended into the layer
};

void blend_view(const Accumulation& rays, double brightness, const ConstPixels& base,
                const MutablePixels& out);

}  // namespace orvex
