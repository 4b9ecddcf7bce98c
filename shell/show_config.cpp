#include "show_config.h"

ShowConfig Config;
