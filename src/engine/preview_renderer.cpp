#include "engine/preview_renderer.hpp"

#include <cstring>

#include "engine/render.hpp"
#include "engine/task_pool.hpp"

namespace orvex {

namespace {

bool same_sources(const FilterSettings& a, const FilterSettings& b) {
  return a.threshold == b.threshold && a.threshold_type == b.threshold_type;
}

// Everything but the brightness, which only the blend reads.
bool same_rays(const ClampedSettings& a, const ClampedSettings& b) {
  return a.with(*find_setting("brightness"), 50) == b.with(*find_setting("brightness"), 50);
}

PixelBuffer crop(const ConstPixels& pixels, const Rect& view) {
  PixelLayout layout = pixels.layout;
  layout.width = view.width;
  layout.height = view.height;
  PixelBuffer out(layout);
  const std::int64_t row = layout.row_bytes();
  for (std::int64_t y = 0; y < view.height; ++y)
    std::memcpy(out.bytes.data() + y * row,
                pixels.bytes.data() + (view.y + y) * pixels.layout.row_bytes() +
                    view.x * pixels.layout.pixel_bytes(),
                static_cast<std::size_t>(row));
  return out;
}

}  // namespace

struct PreviewRenderer::Job {
  Job(const ClampedSettings& s, const Rect& v, std::shared_ptr<RayField> f)
      : settings(s), view(v), field(std::move(f)) {}

  ClampedSettings settings;
  Rect view;
  std::shared_ptr<RayField> field;  // the worker's alone until `finished`
  std::optional<Accumulation> rays;
  std::exception_ptr error;
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::jthread thread;  // last: joined before the rest goes
};

PreviewRenderer::PreviewRenderer(PixelBuffer layer, std::optional<PixelBuffer> mask,
                                 Highlights highlights, int threads)
    : layer_(std::move(layer)), mask_(std::move(mask)), highlights_(std::move(highlights)),
      threads_(threads) {}

PreviewRenderer::~PreviewRenderer() {
  if (current_) current_->cancel = true;
  for (const auto& job : retiring_) job->cancel = true;
}

std::shared_ptr<const LayerSources> PreviewRenderer::sources_for(const ClampedSettings& settings) {
  if (sources_ && same_sources(sources_settings_->values(), settings.values())) return sources_;
  sources_.reset();
  highlight_pixels_.reset();
  if (settings->threshold > 254 && highlights_) highlight_pixels_ = highlights_(settings, layer_.view());
  const ConstPixels highlights = highlight_pixels_ ? highlight_pixels_->view() : ConstPixels{};
  const ConstPixels mask = mask_ ? mask_->view() : ConstPixels{};
  if (!maxima_) maxima_ = run_maxima(layer_.view());
  const LayerInput input{layer_.view(), mask_ ? &mask : nullptr,
                         highlight_pixels_ ? &highlights : nullptr, &*maxima_};
  sources_ = std::make_shared<const LayerSources>(
      collect_sources(settings, source_input(settings, input), threads_));
  sources_settings_ = settings;
  return sources_;
}

PreviewRenderer::Frame PreviewRenderer::blend(const Accumulation& rays, double brightness) const {
  PixelLayout layout = layer_.layout;
  layout.width = rays.view.width;
  layout.height = rays.view.height;
  Frame frame{rays.view, PixelBuffer(layout), true};
  blend_view(rays, brightness, layer_.view(), frame.pixels.view());
  return frame;
}

PreviewRenderer::Frame PreviewRenderer::approximate(const ClampedSettings& settings, const Rect& view) {
  const PixelBuffer pixels = crop(layer_.view(), view);
  std::optional<PixelBuffer> mask, highlights;
  if (mask_) mask = crop(mask_->view(), view);
  if (highlight_pixels_) highlights = crop(highlight_pixels_->view(), view);
  const ConstPixels mask_view = mask ? mask->view() : ConstPixels{};
  const ConstPixels highlight_view = highlights ? highlights->view() : ConstPixels{};
  Frame frame{view, PixelBuffer(pixels.layout), false};
  render_layer(settings, {pixels.view(), mask ? &mask_view : nullptr, highlights ? &highlight_view : nullptr},
               frame.pixels.view(), RenderOptions(threads_));
  return frame;
}

PreviewRenderer::Frame PreviewRenderer::render(const ClampedSettings& settings, const Rect& view) {
  retire_finished_jobs();
  latest_settings_ = settings;
  latest_view_ = view;
  if (!field_settings_ || !same_rays(*field_settings_, settings)) {
    if (current_) {
      current_->cancel = true;
      retiring_.push_back(std::move(current_));
    }
    field_.reset();
    rays_.reset();
    auto field = std::make_shared<RayField>(settings, *sources_for(settings), StampMethod::automatic);
    field_settings_ = settings;
    if (field->convolved_count() == 0) {
      field_ = std::move(field);
    } else {
      current_ = std::make_shared<Job>(settings, view, std::move(field));
      current_->thread = std::jthread([job = current_.get(), threads = threads_] {
        try {
          RenderOptions options(threads);
          options.cancel = &job->cancel;
          job->field->convolve(options);
          job->rays = job->field->accumulate(job->view, options);
        } catch (...) {
          job->error = std::current_exception();
        }
        job->finished = true;
      });
    }
  }
  if (!field_) return approximate(settings, view);
  if (!rays_ || rays_->view != view) rays_ = field_->accumulate(view, RenderOptions(threads_));
  return blend(*rays_, settings->brightness);
}

std::optional<PreviewRenderer::Frame> PreviewRenderer::poll() {
  retire_finished_jobs();
  if (!current_ || !current_->finished) return std::nullopt;
  const std::shared_ptr<Job> job = std::move(current_);
  if (job->error) std::rethrow_exception(job->error);
  field_ = job->field;
  rays_ = job->view == latest_view_ ? std::move(*job->rays)
                                    : field_->accumulate(latest_view_, RenderOptions(threads_));
  return blend(*rays_, (*latest_settings_)->brightness);
}

bool PreviewRenderer::pending() const { return current_ != nullptr; }

void PreviewRenderer::retire_finished_jobs() {
  std::erase_if(retiring_, [](const std::shared_ptr<Job>& job) { return job->finished.load(); });
}

}  // namespace orvex
