#include "sim/device.h"
