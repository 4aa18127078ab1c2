#include "analysis/command_file.h"
