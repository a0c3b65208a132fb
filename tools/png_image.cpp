#include "png_image.hpp"

#include <png.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orvex_tools {

namespace {

constexpr std::size_t kMessageSize = 256;

// libpng reports errors by longjmp: every C++ object the calls touch lives in these
// records, owned outside the function that calls setjmp, so the jump skips no destructor.
struct Decoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::FILE* file = nullptr;
  std::vector<png_bytep> rows;
  char message[kMessageSize] = "";
  ~Decoder() {
    png_destroy_read_struct(&png, &info, nullptr);
    if (file) std::fclose(file);
  }
};

struct Encoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<png_bytep> rows;
  std::vector<png_text> texts;
  std::vector<png_unknown_chunk> colour;
  char message[kMessageSize] = "";
  ~Encoder() { png_destroy_write_struct(&png, &info); }
};

// The colour description passes through byte for byte, as chunks libpng does not interpret:
// interpreted, an input with both sRGB and iCCP would lose both, and a lone sRGB would gain a cHRM.
constexpr png_byte kColourChunks[] = "gAMA\0cHRM\0sRGB\0iCCP";
constexpr int kColourChunkCount = sizeof kColourChunks / 5;

void on_error(png_structp png, png_const_charp message) {
  std::snprintf(static_cast<char*>(png_get_error_ptr(png)), kMessageSize, "%s", message);
  png_longjmp(png, 1);
}

// Warnings are about ancillary chunks libpng drops; nothing the user can act on.
void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep data, std::size_t length) {
  std::FILE* file = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, file) != length)
    png_error(png, std::ferror(file) ? std::strerror(errno) : "the file ends too early");
}

void write_bytes(png_structp png, png_bytep data, std::size_t length) {
  if (std::fwrite(data, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) != length)
    png_error(png, std::strerror(errno));
}

void flush_bytes(png_structp) {}  // the caller flushes and checks once the file is complete

std::string in_units(double bytes) {
  char text[32];
  if (bytes >= 1e12) std::snprintf(text, sizeof text, "%.0f TB", bytes / 1e12);
  else if (bytes >= 1e10) std::snprintf(text, sizeof text, "%.0f GB", bytes / 1e9);
  else std::snprintf(text, sizeof text, "%.0f MB", bytes / 1e6);
  return text;
}

// The rows of the image and libpng's own two row buffers must fit in `limit`.
void check_memory(const orvex::PixelLayout& l, std::uint64_t limit, const std::string& path) {
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(l.row_bytes());  // under 2^35
  const std::uint64_t rows = static_cast<std::uint64_t>(l.height) + 2;
  // Divided, not multiplied: 2^31 rows of 2^34 bytes overflow 64 bits.
  if (rows <= limit / row_bytes) return;
  throw std::runtime_error("'" + path + "' is " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                           " pixels, " + in_units(static_cast<double>(rows) * static_cast<double>(row_bytes)) +
                           " decoded: more than the " + in_units(static_cast<double>(limit)) +
                           " this process can use");
}

Metadata read_metadata(png_structp png, png_infop info) {
  Metadata m;
  png_unknown_chunkp chunks = nullptr;
  const int chunk_count = png_get_unknown_chunks(png, info, &chunks);
  for (int i = 0; i < chunk_count; ++i) {
    const png_unknown_chunk& c = chunks[i];
    // Only where a colour chunk counts: before PLTE and IDAT.
    if (c.location == PNG_HAVE_IHDR)
      m.colour.push_back({reinterpret_cast<const char*>(c.name), {c.data, c.data + c.size}});
  }
  png_uint_32 x = 0, y = 0;
  if (png_get_pHYs(png, info, &x, &y, &m.resolution_unit)) m.resolution = {x, y};
  png_textp texts = nullptr;
  const int text_count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < text_count; ++i) {
    const png_text& t = texts[i];
    m.texts.push_back({t.compression, t.key ? t.key : "", t.text ? t.text : "", t.lang ? t.lang : "",
                       t.lang_key ? t.lang_key : ""});
  }
  png_bytep exif = nullptr;
  png_uint_32 exif_length = 0;
  if (png_get_eXIf_1(png, info, &exif_length, &exif)) m.exif.assign(exif, exif + exif_length);
  return m;
}

bool decode(Decoder& d, Image& image, std::uint64_t memory_limit, const std::string& path) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_sig_bytes(d.png, 8);
  png_set_keep_unknown_chunks(d.png, PNG_HANDLE_CHUNK_ALWAYS, kColourChunks, kColourChunkCount);
  // The memory check below decides; libpng's default width limit would refuse real panoramas.
  png_set_user_limits(d.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(d.png, d.info);
  // The layout the transforms below give, checked before libpng allocates its row buffers.
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0;
  png_get_IHDR(d.png, d.info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
  const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(d.png, d.info, PNG_INFO_tRNS);
  image.layout = {width, height, ((colour & PNG_COLOR_MASK_COLOR) ? 3 : 1) + (alpha ? 1 : 0),
                  depth == 16 ? orvex::SampleType::u16 : orvex::SampleType::u8};
  check_memory(image.layout, memory_limit, path);
  png_set_expand(d.png);  // palette to RGB, 1/2/4-bit gray to 8 bits, tRNS to alpha
  if (std::endian::native == std::endian::little) png_set_swap(d.png);
  png_set_interlace_handling(d.png);
  png_read_update_info(d.png, d.info);
  if (png_get_rowbytes(d.png, d.info) != static_cast<std::size_t>(image.layout.row_bytes()))
    png_error(d.png, "unexpected layout after expansion");
  image.bytes.reset(new std::byte[static_cast<std::size_t>(image.layout.byte_count())]);
  d.rows.resize(static_cast<std::size_t>(image.layout.height));
  for (std::size_t y = 0; y < d.rows.size(); ++y)
    d.rows[y] = reinterpret_cast<png_bytep>(image.bytes.get()) + y * image.layout.row_bytes();
  png_read_image(d.png, d.rows.data());
  png_read_end(d.png, d.info);  // text chunks after the pixels land in the same record
  image.metadata = read_metadata(d.png, d.info);
  return true;
}

void set_colour(Encoder& e, const std::vector<RawChunk>& colour) {
  png_set_keep_unknown_chunks(e.png, PNG_HANDLE_CHUNK_ALWAYS, kColourChunks, kColourChunkCount);
  for (const RawChunk& chunk : colour) {
    png_unknown_chunk& out = e.colour.emplace_back();
    std::memcpy(out.name, chunk.type.c_str(), sizeof out.name);
    out.data = const_cast<png_bytep>(chunk.data.data());
    out.size = chunk.data.size();
    out.location = PNG_HAVE_IHDR;
  }
  if (!e.colour.empty())
    png_set_unknown_chunks(e.png, e.info, e.colour.data(), static_cast<int>(e.colour.size()));
}

void set_metadata(png_structp png, png_infop info, const Metadata& m, std::vector<png_text>& texts) {
  if (m.resolution) png_set_pHYs(png, info, (*m.resolution)[0], (*m.resolution)[1], m.resolution_unit);
  for (const TextChunk& t : m.texts) {
    png_text& out = texts.emplace_back();
    out.compression = t.compression;
    out.key = const_cast<char*>(t.key.c_str());
    out.text = const_cast<char*>(t.text.c_str());
    out.lang = const_cast<char*>(t.language.c_str());
    out.lang_key = const_cast<char*>(t.translated_key.c_str());
  }
  if (!texts.empty()) png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
  if (!m.exif.empty())
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(m.exif.size()), const_cast<png_bytep>(m.exif.data()));
}

bool encode(Encoder& e, const Image& image) {
  if (setjmp(png_jmpbuf(e.png))) return false;
  // Doubts about ancillary chunks must not stop the write.
  png_set_benign_errors(e.png, 1);
  static constexpr int kColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                         PNG_COLOR_TYPE_RGB_ALPHA};
  const orvex::PixelLayout& l = image.layout;
  const bool wide = l.type == orvex::SampleType::u16;
  png_set_IHDR(e.png, e.info, static_cast<png_uint_32>(l.width), static_cast<png_uint_32>(l.height),
               wide ? 16 : 8, kColourTypes[l.channels - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  set_colour(e, image.metadata.colour);
  set_metadata(e.png, e.info, image.metadata, e.texts);
  png_write_info(e.png, e.info);
  if (wide && std::endian::native == std::endian::little) png_set_swap(e.png);
  png_write_image(e.png, e.rows.data());
  png_write_end(e.png, nullptr);
  return true;
}

}  // namespace

Image load_png(const std::string& path, std::uint64_t memory_limit) {
  Decoder d;
  d.file = std::fopen(path.c_str(), "rb");
  if (!d.file) throw std::runtime_error("cannot read PNG '" + path + "': " + std::strerror(errno));
  png_byte signature[8];
  const std::size_t got = std::fread(signature, 1, sizeof signature, d.file);
  if (std::ferror(d.file)) throw std::runtime_error("cannot read PNG '" + path + "': " + std::strerror(errno));
  if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0)
    throw std::runtime_error("cannot read PNG '" + path + "': not a PNG file");
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d.message, on_error, on_warning);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.info) throw std::bad_alloc();
  png_set_read_fn(d.png, d.file, read_bytes);
  Image image;
  if (!decode(d, image, memory_limit, path))
    throw std::runtime_error("cannot read PNG '" + path + "': " + d.message);
  return image;
}

void write_png(std::FILE* file, const Image& image, const std::string& name) {
  const orvex::PixelLayout& l = image.layout;
  if (l.channels < 1 || l.channels > 4 || l.width < 1 || l.height < 1 || l.width > PNG_UINT_31_MAX ||
      l.height > PNG_UINT_31_MAX)
    throw std::runtime_error("cannot write '" + name + "': no PNG holds such an image");
  Encoder e;
  e.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, e.message, on_error, on_warning);
  if (e.png) e.info = png_create_info_struct(e.png);
  if (!e.info) throw std::bad_alloc();
  png_set_write_fn(e.png, file, write_bytes, flush_bytes);
  e.rows.resize(static_cast<std::size_t>(l.height));
  for (std::size_t y = 0; y < e.rows.size(); ++y)
    e.rows[y] = reinterpret_cast<png_bytep>(image.bytes.get()) + y * l.row_bytes();
  if (!encode(e, image)) throw std::runtime_error("cannot write '" + name + "': " + e.message);
}

}  // namespace orvex_tools
