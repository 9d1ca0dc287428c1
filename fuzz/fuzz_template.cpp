#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    FuzzEntries::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzEntries::sliceTemplate(data, size);
    return 0;
}
