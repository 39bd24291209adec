// Arbitrary bytes as a settings file and as a preferences file, through the same decoding
// the loaders use (UTF-8, else Shift-JIS). Loading never crashes; whatever a file set, a
// saved copy loads back to the same controls; the render gathered from it is either sized
// within limits or refused up front; the JPEG quality written into any preferences file
// reads back.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/ini_file.h"
#include "settings/settings_file.h"
#include "settings/text_encoding.h"
#include "settings/tokenizer.h"

using namespace globeforge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text =
        DecodeTextFileBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(IsValidUtf8(text));

    SettingsModel model;
    const SettingsResult loaded = ApplySettingsText(model, text, "fuzz.ORB");
    FUZZ_CHECK(loaded.ok == loaded.message.empty());
    FUZZ_CHECK(loaded.ok == (loaded.line == 0));
    FUZZ_CHECK(loaded.warnings.size() <= kMaxSettingsWarnings + 1);

    SettingsModel reloaded;
    FUZZ_CHECK(ApplySettingsText(reloaded, SettingsText(model), "saved.ORB").ok);
    reloaded.VersionText = model.VersionText;  // a saved file names this program's version
    FUZZ_CHECK(reloaded == model);

    const RenderParams params = GatherRenderParams(model);
    if (CheckRenderSize(params).empty()) {
        const RenderFootprint footprint = EstimateRenderFootprint(params);
        FUZZ_CHECK(footprint.layerWidth >= 1 && footprint.layerHeight >= 1);
        FUZZ_CHECK(footprint.layerWidth * footprint.layerHeight <=
                   static_cast<int64_t>(kMaxImagePixels));
    }
    (void)StripExtension(text);

    IniFile ini = IniFile::Parse(text);
    ini.SetValue("Orbgen", "JPEGQuality", "77");
    FUZZ_CHECK(IniFile::Parse(ini.Text()).GetValue("orbgen", "jpegquality") == "77");
    return 0;
}
