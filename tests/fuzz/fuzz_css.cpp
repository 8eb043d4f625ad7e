// libFuzzer target: see FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::runCss(data, size);
    return 0;
}
