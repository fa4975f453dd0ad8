// What the command line needs to know of where its output goes.
#pragma once

namespace dxfkonv {

enum class StandardStream { kOutput, kError };

// Whether the stream is a terminal a person watches.
bool IsTerminal(StandardStream stream);

}  // namespace dxfkonv
