// globeforge-render --batch / --seeds: reads and checks the table, renders, reports.
#pragma once

#include <atomic>

#include "cli/cli_options.h"
#include "settings/settings_model.h"

namespace globeforge {

// The exit status of the command: 0 when every planet of the shard is done, 1 when one
// failed or the run was stopped, 2 for a bad table or option. stop is set on Ctrl-C.
int RunBatchCommand(const CliOptions& options, const SettingsModel& base, bool terminal,
                    const std::atomic<bool>& stop);

}  // namespace globeforge
