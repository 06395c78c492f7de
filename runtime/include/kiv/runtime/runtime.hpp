// The whole vocabulary of the embedded component runtime.
#pragma once

#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/collector.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/list.hpp"
#include "kiv/runtime/memory.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"
