// Symbol visibility of the component runtime, which the bridge and every component library share.
#pragma once

#if defined(__GNUC__)
#define KIV_RUNTIME_API __attribute__((visibility("default")))
#else
#define KIV_RUNTIME_API
#endif
