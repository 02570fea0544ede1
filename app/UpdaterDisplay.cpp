#include "UpdaterDisplay.h"
