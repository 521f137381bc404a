/*
 * The host's side of the shader interface: the types the host hands to a
 * shader and the host functions a shader may call.
 *
 * Usable from C and C++. A host includes it to define the functions and to
 * build states; the library includes it to call them through its binding.
 */
#ifndef UMBREX_HOST_INTERFACE_H
#define UMBREX_HOST_INTERFACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The host's truth value: 1 for true, 0 for false. */
typedef int miBoolean;
#define miFALSE 0
#define miTRUE 1

typedef struct miColor {
    float r, g, b, a;
} miColor;

typedef struct miVector {
    float x, y, z;
} miVector;

/*
 * The host's record of the running shader. A non-zero ghost_offs says that
 * every parameter has a flag word that many bytes beyond it; a non-zero flag
 * means the parameter is attached to another shader and its value comes from
 * mi_phen_eval.
 */
typedef struct miShaderRecord {
    int ghost_offs;
} miShaderRecord;

/* The host's per-ray state. Shaders read it and never write it. */
typedef struct miState {
    int type;                /* kind of ray being shaded */
    miVector point;          /* the shaded point */
    miVector normal;         /* the shading normal */
    struct miState *child;   /* state of the last ray traced from this one */
    double dist;             /* length of this state's ray up to its hit */
    miShaderRecord *shader;  /* the running shader */
} miState;

/* Current value of an attached parameter; param is its address in the record. */
void *mi_phen_eval(miState *state, void *param);

/*
 * Next sample of a sequence of dimension `dimension` into `sample`; non-zero
 * while a further sample was delivered. *counter starts at 0 and holds the
 * number of samples delivered once it returns zero; *count is the number
 * asked for.
 */
miBoolean mi_sample(double *sample, int *counter, miState *state,
                    unsigned short dimension, int *count);

/* Traces a probe ray; non-zero on a hit, whose distance is then state->child->dist. */
miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin);

/* Fills *result with the environment colour seen along direction. */
miBoolean mi_trace_environment(miColor *result, miState *state, miVector *direction);

/*
 * Sets the falloff distances of rays traced from state to *start and *stop,
 * and writes the replaced distances back into them.
 */
miBoolean mi_ray_falloff(miState *state, double *start, double *stop);

#ifdef __cplusplus
}
#endif

#endif
