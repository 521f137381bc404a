// Reading a shader parameter by the host's rule: a parameter may be attached
// to another shader, and then its value comes from the host, not the record.
#ifndef UMBREX_PARAMETER_READING_H
#define UMBREX_PARAMETER_READING_H

#include <cstring>

#include "host/host_interface.h"

// The current value of `field`, a member of the parameter record. The running
// shader's ghost_offs is read afresh each time: when it is non-zero, the word
// that many bytes beyond the field flags an attachment, and the host's
// mi_phen_eval yields the value. A host that answers with no value leaves the
// field read in place. Colours and vectors are read whole.
template <typename T>
T read_parameter(miState *state, T &field)
{
    void *address = &field;
    const void *source = address;
    const int ghost_offs = state->shader ? state->shader->ghost_offs : 0;
    if (ghost_offs != 0) {
        int attached;
        std::memcpy(&attached, static_cast<const char *>(address) + ghost_offs, sizeof attached);
        if (attached != 0) {
            if (const void *value = mi_phen_eval(state, address))
                source = value;
        }
    }
    T value;
    std::memcpy(&value, source, sizeof value);
    return value;
}

#endif
