#include "host/symbol_lookup.h"

#include <cerrno>
#include <dlfcn.h>

SymbolLookup look_up_symbol(void *module, const char *name)
{
    // Cleared first so that the code reported for a failure is the lookup's
    // own, not one left behind by an earlier call.
    errno = 0;
    void *address = dlsym(module, name);
    return {address, address ? 0 : errno};
}
