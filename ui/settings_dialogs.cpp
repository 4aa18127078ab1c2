#include "ui/settings_dialogs.h"
