// The library links against no host library. The host hands over its module
// through miSetModuleHandle, and each host function is looked up there by name
// on its first use and remembered in its slot of the function table. The
// shader calls the forwarding functions below, which bear the host functions'
// own names and signatures.
//
// The handle and the slots are atomics: two threads that use a function for
// the first time at once both look it up and store the same address, with no
// lock and no data race.

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "host/host_interface.h"
#include "host/library_exports.h"
#include "host/symbol_lookup.h"

namespace {

// The table follows the host's numbering of its functions; the library uses
// five of its slots.
constexpr int host_function_slots = 634;
enum HostFunctionSlot {
    slot_mi_ray_falloff = 73,
    slot_mi_trace_environment = 89,
    slot_mi_trace_probe = 90,
    slot_mi_sample = 95,
    slot_mi_phen_eval = 114,
};

std::atomic<void *> host_module_handle{nullptr};
std::atomic<void *> host_function_table[host_function_slots];

// The host's address of function `name`, looked up on first use. Null when the
// module lacks it; the slot then stays empty, so the next use tries again.
void *host_address(HostFunctionSlot slot, const char *name)
{
    if (void *address = host_function_table[slot].load(std::memory_order_acquire))
        return address;

    void *module = host_module_handle.load(std::memory_order_acquire);
    if (!module)
        std::fprintf(stderr, "DYNLOAD: dl_handle null\n");

    const SymbolLookup found = look_up_symbol(module, name);
    host_function_table[slot].store(found.address, std::memory_order_release);
    if (!found.address) {
        const auto handle_low_bits =
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module));
        std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                     static_cast<unsigned>(handle_low_bits), found.error);
    }
    return found.address;
}

template <typename Function>
Function *host_function(HostFunctionSlot slot, const char *name)
{
    return reinterpret_cast<Function *>(host_address(slot, name));
}

}  // namespace

void miSetModuleHandle(void *module)
{
    host_module_handle.store(module, std::memory_order_release);
    for (auto &slot : host_function_table)
        slot.store(nullptr, std::memory_order_release);
}

// A function the host does not offer is not called: the forwarder answers
// false (null for mi_phen_eval) and leaves every out-argument untouched.

void *mi_phen_eval(miState *state, void *param)
{
    auto *host = host_function<decltype(mi_phen_eval)>(slot_mi_phen_eval, "mi_phen_eval");
    return host ? host(state, param) : nullptr;
}

miBoolean mi_sample(double *sample, int *counter, miState *state, unsigned short dimension,
                    int *count)
{
    auto *host = host_function<decltype(mi_sample)>(slot_mi_sample, "mi_sample");
    return host ? host(sample, counter, state, dimension, count) : miFALSE;
}

miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
{
    auto *host = host_function<decltype(mi_trace_probe)>(slot_mi_trace_probe, "mi_trace_probe");
    return host ? host(state, direction, origin) : miFALSE;
}

miBoolean mi_trace_environment(miColor *result, miState *state, miVector *direction)
{
    auto *host = host_function<decltype(mi_trace_environment)>(slot_mi_trace_environment,
                                                               "mi_trace_environment");
    return host ? host(result, state, direction) : miFALSE;
}

miBoolean mi_ray_falloff(miState *state, double *start, double *stop)
{
    auto *host = host_function<decltype(mi_ray_falloff)>(slot_mi_ray_falloff, "mi_ray_falloff");
    return host ? host(state, start, stop) : miFALSE;
}
