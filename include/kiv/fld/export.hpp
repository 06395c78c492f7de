// Symbol visibility of the bridge library: only what carries KIV_FLD_API is exported.
#pragma once

#if defined(__GNUC__)
#define KIV_FLD_API __attribute__((visibility("default")))
#else
#define KIV_FLD_API
#endif
