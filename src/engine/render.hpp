// Rendering a whole layer: sources, rays and blend in one call.
#pragma once

#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"
#include "engine/ray_field.hpp"
#include "engine/sources.hpp"

namespace orvex {

struct LayerInput {
  ConstPixels pixels;                            // the layer
  const ConstPixels* mask = nullptr;             // the selection where the layer lies, or none
  const ConstPixels* highlights = nullptr;       // the sources above threshold 254, or none
  const RunMaxima* maxima = nullptr;             // of `pixels`, when they are collected often
};

// The sources the settings take from the input: the highlights above 254 when there are
// some (the selection then plays no part), else the layer weighted by the selection.
SourceInput source_input(const ClampedSettings& settings, const LayerInput& input);

// Renders the whole layer into `out`, which has the layer's layout and may be its own bytes.
void render_layer(const ClampedSettings& settings, const LayerInput& input, const MutablePixels& out,
                  const RenderOptions& options);

// The same from the sources already collected from `layer`.
void render_sources(const ClampedSettings& settings, LayerSources sources, const ConstPixels& layer,
                    const MutablePixels& out, const RenderOptions& options);

}  // namespace orvex
