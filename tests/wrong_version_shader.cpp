// A shader library of another version: the preview host must refuse it.

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int Umbrex(void *, void *, void *) { return 1; }
EXPORT int Umbrex_version() { return 2; }
EXPORT int Umbrex_init(void *, void *, int *) { return 1; }
EXPORT int Umbrex_exit(void *, void *) { return 1; }
EXPORT void miSetModuleHandle(void *) {}
