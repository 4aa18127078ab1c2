#include "core/peak_model.h"
