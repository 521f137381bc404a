// The library links against no host library. The host hands over its module
// through miSetModuleHandle, and each host function is looked up there by name
// on its first use and remembered in its slot of the function table. The
// shader calls the forwarding functions below, which bear the host functions'
// own names and signatures; its sampling loop fetches the addresses those
// would reach once per call and calls them directly.
//
// The handle and the slots are atomics: two threads that use a function for
// the first time at once both look it up and store the same address, with no
// lock and no data race.

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "host/bound_functions.h"
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

const char *host_function_name(HostFunctionSlot slot)
{
    switch (slot) {
    case slot_mi_ray_falloff:
        return "mi_ray_falloff";
    case slot_mi_trace_environment:
        return "mi_trace_environment";
    case slot_mi_trace_probe:
        return "mi_trace_probe";
    case slot_mi_sample:
        return "mi_sample";
    case slot_mi_phen_eval:
        return "mi_phen_eval";
    }
    return "";
}

// Looks the slot's function up by name in the host module and stores the
// outcome in its slot: null when the module lacks it, so the next use tries
// again.
void *bind_host_function(HostFunctionSlot slot)
{
    const char *name = host_function_name(slot);
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

// The first use of a function: bind it, then call it. Out of line, so that a
// use of a bound function is a load, a test and a jump. A function the host
// does not offer is not called: the answer is false (null for mi_phen_eval)
// and every out-argument is left untouched.
template <HostFunctionSlot slot, typename Result, typename... Args>
[[gnu::noinline, gnu::cold]] Result bind_and_call(Args... args)
{
    auto *host = reinterpret_cast<Result (*)(Args...)>(bind_host_function(slot));
    return host ? host(args...) : Result{};
}

// Calls the host function of the slot with the forwarder's own arguments,
// unchanged. Once bound, this is a load, a test and a jump.
template <HostFunctionSlot slot, typename Result, typename... Args>
inline Result forward(Args... args)
{
    if (void *address = host_function_table[slot].load(std::memory_order_acquire))
        return reinterpret_cast<Result (*)(Args...)>(address)(args...);
    return bind_and_call<slot, Result, Args...>(args...);
}

// The bound function of the slot, or the forwarder while there is none.
template <HostFunctionSlot slot, typename Function>
Function current(Function forwarder)
{
    if (void *address = host_function_table[slot].load(std::memory_order_acquire))
        return reinterpret_cast<Function>(address);
    return forwarder;
}

}  // namespace

void miSetModuleHandle(void *module)
{
    host_module_handle.store(module, std::memory_order_release);
    for (auto &slot : host_function_table)
        slot.store(nullptr, std::memory_order_release);
}

void *mi_phen_eval(miState *state, void *param)
{
    return forward<slot_mi_phen_eval, void *>(state, param);
}

miBoolean mi_sample(double *sample, int *counter, miState *state, unsigned short dimension,
                    int *count)
{
    return forward<slot_mi_sample, miBoolean>(sample, counter, state, dimension, count);
}

miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
{
    return forward<slot_mi_trace_probe, miBoolean>(state, direction, origin);
}

miBoolean mi_trace_environment(miColor *result, miState *state, miVector *direction)
{
    return forward<slot_mi_trace_environment, miBoolean>(result, state, direction);
}

miBoolean mi_ray_falloff(miState *state, double *start, double *stop)
{
    return forward<slot_mi_ray_falloff, miBoolean>(state, start, stop);
}

SamplingFunctions current_sampling_functions()
{
    return {current<slot_mi_sample>(&mi_sample), current<slot_mi_trace_probe>(&mi_trace_probe),
            current<slot_mi_trace_environment>(&mi_trace_environment)};
}
