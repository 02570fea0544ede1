// The local build list (-L) and the version order that both build lists print in.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "UpdaterApp.h"

using BuildEntry = std::pair<std::string, std::string>;  // build text, version text

// The three pieces of "major.minor.patch", or none.
std::vector<std::string> splitVersion(const std::string& text);
// True when a goes before b: newer first; entries without a version compare false both ways.
bool _sortVersion(const BuildEntry& a, const BuildEntry& b);
// Newest first without std::sort, which may run outside the range for this comparison.
void sortBuildEntries(std::vector<BuildEntry>& entries);
