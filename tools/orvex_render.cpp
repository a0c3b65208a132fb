// Renders orvex lines onto PNG files without GIMP, with the plug-in's settings and defaults.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/filter_settings.hpp"
#include "engine/highlight_extraction.hpp"
#include "engine/render.hpp"
#include "png_image.hpp"
#include "safe_output.hpp"

namespace {

using orvex::FilterSettings;
using orvex::SettingKind;
using orvex::SettingDescriptor;

// More threads than this only add memory and start-up cost on any machine in use today.
constexpr int kMaxThreads = 256;

struct Options {
  FilterSettings settings = orvex::default_settings();
  int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, unsigned{kMaxThreads}));
  std::optional<std::string> output_dir;
  std::vector<std::string> files;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "orvex-render: %s\n", message.c_str());
  std::exit(2);
}

void usage() {
  std::puts("usage: orvex-render [OPTIONS] INPUT.png OUTPUT.png      ('-' for standard input or output)");
  std::puts("       orvex-render [OPTIONS] -o OUTDIR INPUT.png ...   (writes OUTDIR/<input's file name>)");
  std::puts("16-bit PNGs stay 16-bit; sample values are used raw, without gamma or colour conversion.");
  std::puts("An existing output file is replaced only once the new one is complete.");
  std::puts("  -o DIR, --output-dir=DIR  render every input into DIR");
  std::printf("  --threads=N               worker threads, 1 to %d (default: the machine's cores)\n", kMaxThreads);
  std::puts("  --version                 print the version and exit");
  std::puts("Above threshold 254 the light sources are found as the plug-in finds them in GIMP 2.10.");
  std::puts("settings (defaults as in the plug-in):");
  for (const SettingDescriptor& setting : orvex::setting_descriptors())
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

void set_output_dir(Options& options, const std::string& dir) {
  if (options.output_dir) fail("-o is given twice");
  if (dir.empty()) fail("-o needs a directory");
  if (dir == "-") fail("-o takes a directory, not '-'; '-' as OUTPUT.png is standard output (see --help)");
  options.output_dir = dir;
}

void apply_option(Options& options, const std::string& name, const std::string& value) {
  if (name == "threads") {
    options.threads = parse_integer(name, value);
    if (options.threads < 1) fail("--threads must be at least 1");
    if (options.threads > kMaxThreads) fail("--threads must be at most " + std::to_string(kMaxThreads));
    return;
  }
  if (name == "output-dir" || name == "output_dir") return set_output_dir(options, value);
  const SettingDescriptor* setting = orvex::find_setting(name);
  if (!setting) fail("unknown option --" + name + " (see --help)");
  if (setting->kind == SettingKind::real)
    options.settings.*setting->real_field = parse_real(name, value);
  else
    options.settings.*setting->integer_field = parse_integer(name, value);
}

Options parse(int argc, char** argv) {
  Options options;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      options.files.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      std::exit(0);
    } else if (arg == "--version") {
      std::puts("orvex-render " ORVEX_VERSION);
      std::exit(0);
    } else if (arg == "-o") {
      if (i + 1 >= argc) fail("-o needs a directory");
      set_output_dir(options, argv[++i]);
    } else if (arg.rfind("--", 0) != 0) {
      fail("unknown option " + arg + " (see --help)");
    } else {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq == std::string::npos && i + 1 >= argc) fail("--" + name + " needs a value");
      apply_option(options, name, eq != std::string::npos ? arg.substr(eq + 1) : argv[++i]);
    }
  }
  if (options.output_dir) {
    if (options.files.empty()) fail("expected input files after -o DIR (see --help)");
    // The output is named after the input, and standard input has no name.
    if (std::ranges::find(options.files, "-") != options.files.end())
      fail("'-' in -o mode: standard input has no name to write under DIR (a file named '-' is ./-)");
    struct stat st {};
    if (stat(options.output_dir->c_str(), &st) != 0)
      fail("cannot use the output directory '" + *options.output_dir + "': " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) fail("the output '" + *options.output_dir + "' is not a directory");
  } else if (options.files.size() != 2) {
    fail("expected an input and an output file, or -o DIR and input files (see --help)");
  }
  return options;
}

// The bytes a new image may take: physical memory, less what the process already uses of its
// address-space and data limits when they are set.
std::uint64_t usable_memory() {
  std::uint64_t limit = static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) *
                        static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::uint64_t pages[7] = {};  // size resident shared text lib data dirty
  std::ifstream statm("/proc/self/statm");
  for (std::uint64_t& field : pages) statm >> field;
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  for (auto [resource, used] : {std::pair{RLIMIT_AS, pages[0] * page}, std::pair{RLIMIT_DATA, pages[5] * page}}) {
    rlimit rl{};
    if (getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) continue;
    limit = std::min<std::uint64_t>(limit, rl.rlim_cur > used ? rl.rlim_cur - used : 0);
  }
  return limit;
}

// Above threshold 254 the sources are the highlights GIMP 2.10 finds, in samples on the sRGB curve:
// GIMP opens 8- and 16-bit PNGs in its non-linear precisions.
orvex::PixelBuffer highlights_of(const orvex::ClampedSettings& settings, const orvex::ConstPixels& pixels, int threads) {
  if (settings->threshold <= 254) return {};
  return orvex::extract_highlights(settings, pixels, {orvex::SampleCurve::srgb, orvex::GimpRounding::gimp2}, threads);
}

void render_file(const Options& options, const std::string& input, const std::string& output) {
  orvex_tools::Image image = orvex_tools::load_png(input, usable_memory());
  const orvex::MutablePixels pixels = image.pixels();
  const orvex::ClampedSettings settings(options.settings);
  try {
    const orvex::PixelBuffer highlights = highlights_of(settings, pixels, options.threads);
    const orvex::ConstPixels highlight_view = highlights.view();
    orvex::render_layer(settings, {pixels, nullptr, &highlight_view}, pixels, orvex::RenderOptions(options.threads));
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("not enough memory to render '" + input + "' (" + std::to_string(pixels.layout.width) +
                             " x " + std::to_string(pixels.layout.height) + ")");
  }
  orvex_tools::write_output(output, [&](std::FILE* file) { orvex_tools::write_png(file, image, output); });
}

// A file by identity when it exists, else by its absolute path with links resolved.
struct FileKey {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;
  explicit FileKey(const std::string& name) {
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) {
      exists = true;
      device = st.st_dev;
      inode = st.st_ino;
    }
    std::error_code error;
    path = std::filesystem::weakly_canonical(name, error).string();
    if (error) path = name;
  }
  bool operator==(const FileKey& other) const {
    return exists && other.exists ? device == other.device && inode == other.inode : path == other.path;
  }
};

struct Job {
  std::string input;
  std::string output;
  std::string refusal;  // why this file is not rendered, or empty
};

// One job per input; an output that is another input of the call, or the output of an
// earlier one, is refused rather than written over.
std::vector<Job> plan(const Options& options) {
  std::vector<Job> jobs;
  if (!options.output_dir) {
    const std::string& input = options.files[0];
    return {{input == "-" ? "/dev/stdin" : input, options.files[1], ""}};  // write_output takes "-" itself
  }
  std::vector<FileKey> inputs, outputs;
  for (const std::string& input : options.files) {
    const std::filesystem::path name = std::filesystem::path(input).filename();
    Job& job = jobs.emplace_back(Job{input, (std::filesystem::path(*options.output_dir) / name).string(), ""});
    if (name.empty() || name == "." || name == "..") job.refusal = "'" + input + "' names no file";
    inputs.emplace_back(input);
    outputs.emplace_back(job.output);
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    for (std::size_t j = 0; j < jobs.size() && jobs[i].refusal.empty(); ++j) {
      if (j != i && !(inputs[j] == inputs[i]) && outputs[i] == inputs[j])
        jobs[i].refusal = "its output '" + jobs[i].output + "' is the input '" + jobs[j].input + "'";
      else if (j < i && jobs[j].refusal.empty() && outputs[i] == outputs[j])
        jobs[i].refusal = "its output '" + jobs[i].output + "' is also the output of '" + jobs[j].input + "'";
    }
    if (!jobs[i].refusal.empty()) jobs[i].refusal = "skipped '" + jobs[i].input + "': " + jobs[i].refusal;
  }
  return jobs;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  orvex_tools::prepare_output_signals();
  const bool show_progress = isatty(STDERR_FILENO);
  const std::vector<Job> jobs = plan(options);
  int failures = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    if (show_progress) std::fprintf(stderr, "[%zu/%zu] %s ... ", i + 1, jobs.size(), job.input.c_str());
    const auto start = std::chrono::steady_clock::now();
    std::string error = job.refusal;
    if (error.empty()) {
      try {
        render_file(options, job.input, job.output);
      } catch (const std::bad_alloc&) {
        error = "not enough memory for '" + job.input + "'";
      } catch (const std::exception& e) {
        error = e.what();
      }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (show_progress && error.empty()) std::fprintf(stderr, "done in %.1f s\n", took.count());
    if (show_progress && !error.empty()) std::fputs("failed\n", stderr);
    if (!error.empty()) std::fprintf(stderr, "orvex-render: %s\n", error.c_str());
    failures += !error.empty();
  }
  return failures ? 2 : 0;
}
