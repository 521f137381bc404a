// The companions the host's shader interface expects beside the shader. The
// shader keeps no per-instance data, so there is nothing to set up or release.

#include "host/library_exports.h"

int Umbrex_version(void)
{
    return 1;
}

miBoolean Umbrex_init(miState *, Umbrex_params *params, miBoolean *init_request)
{
    // The call for the shader as a whole: ask for no further call per instance.
    if (!params && init_request)
        *init_request = miFALSE;
    return miTRUE;
}

miBoolean Umbrex_exit(miState *, Umbrex_params *)
{
    return miTRUE;
}
