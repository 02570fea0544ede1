/* Model numbers and their names. */
#ifndef HALCYONIX_ADEFS_H
#define HALCYONIX_ADEFS_H

#ifdef __cplusplus
extern "C" {
#endif

/* The model name of a model number, or "Unknown". The text is static. */
const char* aDefs_GetModelName(unsigned int model);

#ifdef __cplusplus
}
#endif

#endif
