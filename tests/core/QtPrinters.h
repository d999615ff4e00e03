#pragma once

// The Qt printers live with the other shared test helpers.
#include "support/TestSupport.h"
