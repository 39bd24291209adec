// Readable failure output for models in the settings tests, and the shared scratch folder
// and whole-file helpers they use.
#pragma once

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "support/test_files.h"

namespace globeforge {

// Shows a model as its settings file text when an expectation fails.
inline void PrintTo(const SettingsModel& model, std::ostream* os) {
    *os << SettingsText(model);
}

}  // namespace globeforge
