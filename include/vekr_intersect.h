/* vekr_intersect.h - include <vekr.h> rather than this file. */
#ifndef VEKR_INTERSECT_H
#define VEKR_INTERSECT_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* VEKR_INTERSECT_H */
