// A driver file that reaches up into the platform: check_layers.sh must refuse it.
#include "driver/device_file.h"
#include "platform/platform.h"
