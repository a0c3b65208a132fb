// Splitting an index range over a few threads for the streaming passes around stamping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace orvex {

// Calls body(begin, end) on up to `threads` contiguous chunks of [0, count) at once.
template <typename Body>
void parallel_for(std::int64_t count, int threads, Body&& body) {
  const std::int64_t chunks = std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(count, 1));
  if (chunks == 1) {
    body(std::int64_t{0}, count);
    return;
  }
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(chunks - 1));
  for (std::int64_t k = 1; k < chunks; ++k)
    workers.emplace_back([&, k] { body(k * count / chunks, (k + 1) * count / chunks); });
  body(0, count / chunks);
}

}  // namespace orvex
