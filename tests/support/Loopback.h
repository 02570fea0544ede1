// A listening TCP socket on 127.0.0.1, for the peers that tests and benchmarks run.
#pragma once

namespace hxtest {

// Listens on 127.0.0.1 at an ephemeral port; returns the descriptor (-1 on failure) and puts
// the port in *port.
int listenOnLoopback(int* port);

}  // namespace hxtest
