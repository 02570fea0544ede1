// -C checks a kite file; -I shows what the store holds. Both return the run's status.
#pragma once

#include <cstdint>
#include <string>

#include "UpdaterDisplay.h"

int CheckKiteFile(UpdaterDisplayInterface& display, const std::string& path);
// serialNumber 0: every module record of the store. Never writes to the store.
int ShowStoreInfo(UpdaterDisplayInterface& display, const std::string& storeRoot, uint32_t serialNumber);
