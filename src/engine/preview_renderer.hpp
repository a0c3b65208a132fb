// Views of one layer for a dialog's preview: exactly the pixels that rendering the whole
// layer writes there, with the work a settings change leaves valid kept between updates.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"
#include "engine/ray_field.hpp"
#include "engine/sources.hpp"

namespace orvex {

class PreviewRenderer {
 public:
  // The highlight sources for thresholds above 254; asked for on the calling thread, as the
  // host's own operations find them.
  using Highlights = std::function<PixelBuffer(const ClampedSettings&, const ConstPixels& layer)>;

  PreviewRenderer(PixelBuffer layer, std::optional<PixelBuffer> mask, Highlights highlights,
                  int threads);
  ~PreviewRenderer();
  PreviewRenderer(const PreviewRenderer&) = delete;
  PreviewRenderer& operator=(const PreviewRenderer&) = delete;

  struct Frame {
    Rect view;
    PixelBuffer pixels;
    bool exact;
  };

  // The view's pixels. Exact at once unless the rays need the whole layer's FFTs: then the
  // view rendered as an image of its own comes first, and the exact frame from poll().
  Frame render(const ClampedSettings& settings, const Rect& view);

  // The exact frame of the latest render(), once the background work has made it.
  std::optional<Frame> poll();
  bool pending() const;

  // How many jobs run in the background now: one at most, as a newer request cancels the running
  // job and replaces one not started yet. Kept beyond the renderer, which never waits for them.
  std::shared_ptr<const std::atomic<int>> running_jobs() const;

 private:
  struct Job;
  struct Background;
  std::shared_ptr<const LayerSources> sources_for(const ClampedSettings& settings);
  Frame blend(const Accumulation& rays, double brightness) const;
  Frame approximate(const ClampedSettings& settings, const Rect& view);
  void start(std::shared_ptr<Job> job);
  void drop_current_job();

  PixelBuffer layer_;
  std::optional<PixelBuffer> mask_;
  Highlights highlights_;
  int threads_;

  std::optional<ClampedSettings> latest_settings_;
  Rect latest_view_;
  std::optional<RunMaxima> maxima_;  // of the layer: a threshold change reads only bright runs
  std::optional<ClampedSettings> sources_settings_;
  std::shared_ptr<const LayerSources> sources_;
  std::optional<PixelBuffer> highlight_pixels_;
  std::optional<ClampedSettings> field_settings_;
  std::shared_ptr<const RayField> field_;
  std::optional<Accumulation> rays_;

  std::shared_ptr<Job> current_;  // the job whose frame poll() waits for
  std::shared_ptr<Background> background_;
};

}  // namespace orvex
