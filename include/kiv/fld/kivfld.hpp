// Every exported class of the bridge.
#pragma once

#include "kiv/fld/camera.hpp"
#include "kiv/fld/email.hpp"
#include "kiv/fld/external_gps_provider.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/fld/zip_archive.hpp"
