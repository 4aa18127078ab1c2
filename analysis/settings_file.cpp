#include "analysis/settings_file.h"
