// The record a batch keeps of each planet's last render, in OUT/.batch/NAME.status: "done" or
// "failed", the seconds it took, and why it failed. The index reads it for the timings and
// the failures; whether a planet is done is decided from its files, not from this record.
#pragma once

#include <optional>
#include <string>

#include "cli/batch_table.h"

namespace globeforge {

struct PlanetStatus {
    std::string status;  // "done" or "failed"; empty when no render left a record
    std::optional<double> seconds;
    std::string message;
};

// The record's name within the state folder.
std::string StatusFileName(const BatchPlanet& planet);

void WriteStatus(const std::string& outDir, const BatchPlanet& planet, const PlanetStatus& s);
PlanetStatus ReadStatus(const std::string& outDir, const BatchPlanet& planet);
// Removes the record (before a planet is rendered again).
void RemoveStatus(const std::string& outDir, const BatchPlanet& planet);

}  // namespace globeforge
