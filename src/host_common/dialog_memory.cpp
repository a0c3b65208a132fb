#include "host_common/dialog_memory.hpp"

#include <charconv>

namespace orvex {

namespace {

constexpr int kLargestSide = 1 << 15;

bool read_side(std::string_view& text, int& side) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), side);
  if (error != std::errc() || side < 1 || side > kLargestSide) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

}  // namespace

std::string format_dialog_memory(const DialogMemory& memory) {
  return "size " + std::to_string(memory.width) + " " + std::to_string(memory.height) + " zoom " +
         (memory.zoom ? zoom_name(*memory.zoom) : "fit");
}

DialogMemory parse_dialog_memory(std::string_view text) {
  DialogMemory memory;
  if (!text.starts_with("size ")) return {};
  text.remove_prefix(5);
  if (!read_side(text, memory.width) || !text.starts_with(" ")) return {};
  text.remove_prefix(1);
  if (!read_side(text, memory.height)) return {};
  if (text.empty() || text == " zoom fit") return memory;
  if (!text.starts_with(" zoom ")) return {};
  memory.zoom = parse_zoom_name(text.substr(6));
  if (!memory.zoom) return {};
  return memory;
}

}  // namespace orvex
