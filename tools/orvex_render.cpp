// Renders orvex lines onto a PNG without GIMP, with the plug-in's settings and defaults.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "png_image.hpp"
#include "plugin/filter_settings.hpp"
#include "render/engine/render_region.hpp"

namespace {

using orvex::FilterSettings;
using orvex::SettingKind;
using orvex::SettingSpec;

struct Options {
  FilterSettings settings = orvex::default_settings();
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::string input;
  std::string output;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "orvex-render: %s\n", message.c_str());
  std::exit(2);
}

void usage() {
  std::puts("usage: orvex-render [--SETTING=VALUE ...] [--threads=N] INPUT.png OUTPUT.png");
  std::puts("settings (defaults as in the plug-in):");
  for (const SettingSpec& setting : orvex::setting_specs())
    std::printf("  --%-15s %g  [%g - %g]\n", std::string(setting.name).c_str(), setting.default_value,
                setting.lower, setting.upper);
}

double parse_real(std::string_view name, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
    fail("--" + std::string(name) + " needs a number, got '" + text + "'");
  return value;
}

std::int32_t parse_integer(std::string_view name, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    fail("--" + std::string(name) + " needs a whole number, got '" + text + "'");
  return static_cast<std::int32_t>(value);
}

std::string normalised(std::string name) {
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

void apply_option(Options& options, const std::string& name, const std::string& value) {
  if (name == "threads") {
    options.threads = parse_integer(name, value);
    if (options.threads < 1) fail("--threads must be at least 1");
    return;
  }
  for (const SettingSpec& setting : orvex::setting_specs()) {
    if (normalised(name) != setting.name) continue;
    if (setting.kind == SettingKind::real)
      options.settings.*setting.real_field = parse_real(name, value);
    else
      options.settings.*setting.integer_field = parse_integer(name, value);
    return;
  }
  fail("unknown option --" + name + " (see --help)");
}

Options parse(int argc, char** argv) {
  Options options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage();
      std::exit(0);
    }
    if (arg.rfind("--", 0) != 0) {
      files.push_back(arg);
      continue;
    }
    const std::size_t eq = arg.find('=');
    std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 >= argc) fail("--" + name + " needs a value");
      value = argv[++i];
    }
    apply_option(options, name, value);
  }
  if (files.size() != 2) fail("expected an input and an output file (see --help)");
  options.input = files[0];
  options.output = files[1];
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  if (options.settings.threshold > 254)
    fail("thresholds above 254 extract highlights with GIMP's selection tools; "
         "use the plug-in inside GIMP for them");
  try {
    orvex_tools::Image image = orvex_tools::load_png(options.input);
    const orvex::PixelRegion region{image.width, image.height, image.channels, image.pixels};
    orvex::RenderHooks hooks;
    hooks.thread_count = options.threads;
    image.pixels = orvex::render_region(options.settings, region, {}, hooks);
    orvex_tools::save_png(options.output, image);
  } catch (const std::exception& error) {
    fail(error.what());
  }
  return 0;
}
