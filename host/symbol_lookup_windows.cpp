#include "host/symbol_lookup.h"

#include <windows.h>

SymbolLookup look_up_symbol(void *module, const char *name)
{
    FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
    if (!address)
        return {nullptr, static_cast<int>(GetLastError())};
    return {reinterpret_cast<void *>(address), 0};
}
