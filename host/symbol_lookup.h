// Looking a function up by name in a loaded module: the binding's one
// platform-dependent step.
#ifndef UMBREX_SYMBOL_LOOKUP_H
#define UMBREX_SYMBOL_LOOKUP_H

struct SymbolLookup {
    void *address;  // null when the module has no such symbol
    int error;      // the platform's error code, read right after a failed lookup
};

SymbolLookup look_up_symbol(void *module, const char *name);

#endif
