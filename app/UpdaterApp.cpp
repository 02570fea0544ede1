#include "UpdaterApp.h"

#include <utility>

UpdaterApp::UpdaterApp(std::string serverAddress, std::string storePath,
                       UpdaterDisplayInterface& display)
    : serverAddress_(std::move(serverAddress)), storePath_(std::move(storePath)), display_(display)
{
}
