#include "ui/interval_fit_mode.h"
