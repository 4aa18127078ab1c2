#include "analysis/output_sections.h"
