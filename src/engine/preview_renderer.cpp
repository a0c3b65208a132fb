#include "engine/preview_renderer.hpp"

#include <cstring>
#include <mutex>
#include <thread>

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

// The exact rays of a view through the whole layer's FFTs. Everything it reads it owns (the field
// shares the renderer's sources), so that it may end after the renderer.
struct PreviewRenderer::Job {
  Job(const ClampedSettings& s, const Rect& v, std::shared_ptr<RayField> f, int t)
      : settings(s), view(v), field(std::move(f)), threads(t) {}

  void run() noexcept {
    try {
      RenderOptions options(threads);
      options.cancel = &cancel;
      field->convolve(options);
      rays = field->accumulate(view, options);
    } catch (...) {
      error = std::current_exception();
    }
  }

  ClampedSettings settings;
  Rect view;
  std::shared_ptr<RayField> field;  // the job's alone until `finished`
  int threads;
  std::optional<Accumulation> rays;
  std::exception_ptr error;
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
};

// What the renderer shares with the thread that runs its jobs one after another.
struct PreviewRenderer::Background {
  // Runs the waiting jobs until none is left; the thread ends then.
  static void serve(const std::shared_ptr<Background>& background) {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        const std::lock_guard lock(background->mutex);
        if (!background->waiting) {
          background->serving = false;
          return;
        }
        job = std::move(background->waiting);
        ++background->running;
      }
      job->run();
      --background->running;
      job->finished.store(true, std::memory_order_release);
    }
  }

  std::mutex mutex;
  std::shared_ptr<Job> waiting;  // the next to run; a newer request replaces it
  bool serving = false;          // a thread runs jobs
  std::atomic<int> running{0};
};

PreviewRenderer::PreviewRenderer(PixelBuffer layer, std::optional<PixelBuffer> mask,
                                 Highlights highlights, int threads)
    : layer_(std::move(layer)), mask_(std::move(mask)), highlights_(std::move(highlights)),
      threads_(threads), background_(std::make_shared<Background>()) {}

// Returns at once: a running job sees its cancel within a task and ends on its own thread.
PreviewRenderer::~PreviewRenderer() { drop_current_job(); }

void PreviewRenderer::drop_current_job() {
  if (!current_) return;
  current_->cancel = true;
  current_.reset();
  const std::lock_guard lock(background_->mutex);
  background_->waiting.reset();
}

void PreviewRenderer::start(std::shared_ptr<Job> job) {
  const std::lock_guard lock(background_->mutex);
  background_->waiting = job;
  current_ = std::move(job);
  if (background_->serving) return;
  try {
    std::thread(Background::serve, background_).detach();
  } catch (...) {
    background_->waiting.reset();
    current_.reset();
    throw;
  }
  background_->serving = true;
}

std::shared_ptr<const std::atomic<int>> PreviewRenderer::running_jobs() const {
  return {background_, &background_->running};
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
  latest_settings_ = settings;
  latest_view_ = view;
  if (!field_settings_ || !same_rays(*field_settings_, settings)) {
    drop_current_job();
    field_.reset();
    rays_.reset();
    auto field = std::make_shared<RayField>(settings, sources_for(settings), StampMethod::automatic);
    if (field->convolved_count() != 0) {
      // The quick frame first: the job would take the workers from it.
      Frame frame = approximate(settings, view);
      start(std::make_shared<Job>(settings, view, std::move(field), threads_));
      field_settings_ = settings;
      return frame;
    }
    field_ = std::move(field);
    field_settings_ = settings;
  }
  if (!field_) return approximate(settings, view);
  if (!rays_ || rays_->view != view) rays_ = field_->accumulate(view, RenderOptions(threads_));
  return blend(*rays_, settings->brightness);
}

std::optional<PreviewRenderer::Frame> PreviewRenderer::poll() {
  if (!current_ || !current_->finished.load(std::memory_order_acquire)) return std::nullopt;
  const std::shared_ptr<Job> job = std::move(current_);
  if (job->error) std::rethrow_exception(job->error);
  field_ = job->field;
  rays_ = job->view == latest_view_ ? std::move(*job->rays)
                                    : field_->accumulate(latest_view_, RenderOptions(threads_));
  return blend(*rays_, (*latest_settings_)->brightness);
}

bool PreviewRenderer::pending() const { return current_ != nullptr; }

}  // namespace orvex
