// The control channel of a simulated module: one command per line, one answer line per
// command, beginning "ok" or "error". The commands are listed in sim/README.md.
#pragma once

#include <string>

#include "SimModule.h"
#include "SimTransport.h"

namespace halcyonix_sim {

class SimControl {
public:
    SimControl(SimModule& module, SimTransport& transport) : module_(module), transport_(transport) {}

    std::string execute(const std::string& line);

private:
    std::string fault(std::istream& words);

    SimModule& module_;
    SimTransport& transport_;
};

}  // namespace halcyonix_sim
