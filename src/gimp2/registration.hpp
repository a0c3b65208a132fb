#pragma once

namespace orvex {

// The host's query callback: registers plugin-orvex and its menu entry.
void query();

}  // namespace orvex
