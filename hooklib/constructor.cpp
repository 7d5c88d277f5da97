// The image constructor: runs when the home-screen process loads the library.
#include "hooklib/hooks.h"

namespace {
__attribute__((constructor)) void installHooksAtLoad() { wardvane::installHooks(); }
}  // namespace
