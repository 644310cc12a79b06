#pragma once

namespace varnok {

// One whole run from the entry point's argument vector; returns the process exit code.
int RunApplication(int argc, const char* const* argv);

}  // namespace varnok
