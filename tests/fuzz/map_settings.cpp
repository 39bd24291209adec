// Arbitrary bytes as a map given to --settings-from: the PNG text chunks, JPEG comments and
// OpenEXR header are read for the settings that made the map, and whatever text they carry
// goes through the settings loader. Nothing crashes; a failure always has a reason.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "image/image_files.h"
#include "settings/settings_file.h"

using namespace globeforge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name = fuzz::ScratchFolder() + "/map.png";
    FUZZ_CHECK(fuzz::WriteFile(name, data, size));

    MapProvenance provenance;
    std::string error;
    const bool read = ReadMapProvenance(name, provenance, &error);
    std::remove(name.c_str());
    if (!read) {
        FUZZ_CHECK(!error.empty());
    } else {
        SettingsModel model;
        const SettingsResult applied = ApplySettingsText(model, provenance.settingsText, name);
        FUZZ_CHECK(applied.ok == applied.message.empty());
    }
    return 0;
}
