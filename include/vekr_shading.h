/* vekr_shading.h - include <vekr.h> rather than this file. */
#ifndef VEKR_SHADING_H
#define VEKR_SHADING_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SHADING_H */
