#include "engine/transpose.hpp"

#include "engine/vector_versions.hpp"

namespace orvex {

namespace {

typedef double Quad __attribute__((vector_size(4 * sizeof(double))));

// By reference: a vector in a register is not part of the portable calling convention.
inline void load_quad(Quad& q, const double* from) { __builtin_memcpy(&q, from, sizeof q); }
inline void store_quad(double* to, const Quad& q) { __builtin_memcpy(to, &q, sizeof q); }

// Rows r..r+3 of columns x..x+3, turned in registers.
inline void transpose_quad(const double* in, std::int64_t rows, std::int64_t columns, double* out) {
  Quad a, b, c, d;
  load_quad(a, in);
  load_quad(b, in + rows);
  load_quad(c, in + 2 * rows);
  load_quad(d, in + 3 * rows);
  const Quad ab_even = __builtin_shufflevector(a, b, 0, 4, 2, 6), ab_odd = __builtin_shufflevector(a, b, 1, 5, 3, 7);
  const Quad cd_even = __builtin_shufflevector(c, d, 0, 4, 2, 6), cd_odd = __builtin_shufflevector(c, d, 1, 5, 3, 7);
  store_quad(out, __builtin_shufflevector(ab_even, cd_even, 0, 1, 4, 5));
  store_quad(out + columns, __builtin_shufflevector(ab_odd, cd_odd, 0, 1, 4, 5));
  store_quad(out + 2 * columns, __builtin_shufflevector(ab_even, cd_even, 2, 3, 6, 7));
  store_quad(out + 3 * columns, __builtin_shufflevector(ab_odd, cd_odd, 2, 3, 6, 7));
}

}  // namespace

ORVEX_VECTOR_VERSIONS
void transpose_columns(const double* in, std::int64_t rows, std::int64_t columns, double* out) {
  const std::int64_t whole_rows = rows / 4 * 4;
  const std::int64_t whole_columns = columns / 4 * 4;
  for (std::int64_t r = 0; r < whole_rows; r += 4)
    for (std::int64_t x = 0; x < whole_columns; x += 4)
      transpose_quad(in + x * rows + r, rows, columns, out + r * columns + x);
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::int64_t from = r < whole_rows ? whole_columns : 0;
    for (std::int64_t x = from; x < columns; ++x) out[r * columns + x] = in[x * rows + r];
  }
}

}  // namespace orvex
