// Turning a block of columns into rows.
#pragma once

#include <cstdint>

namespace orvex {

// `in` holds `columns` columns of `rows` values each; `out` gets them as rows, four by four in
// vector registers.
void transpose_columns(const double* in, std::int64_t rows, std::int64_t columns, double* out);

}  // namespace orvex
