// Every message the render stages report, with a file-name slug and an English sentence of
// the same meaning. The stages keep their Japanese texts at the call; this table is the one
// place that gives them a slug (stage dumps) and an English reading (the command line).
#pragma once

#include <span>
#include <string_view>

namespace globeforge {

struct StageName {
    std::string_view message;  // the Japanese message, exactly as the stage reports it
    std::string_view slug;     // ASCII, lower case, for file names ("ground-base")
    std::string_view english;  // a short English sentence of the same meaning
};

// The slug of a message the table does not know.
inline constexpr std::string_view kGenericStageSlug = "stage";

// Every known message, in the order a full render reports them.
std::span<const StageName> StageNames();

// The entry of a message, or null when the table does not know it. Messages built by
// concatenation (the hemisphere crater messages) are listed as each full variant.
const StageName* FindStageName(std::string_view message);

// The slug of a message, kGenericStageSlug for an unknown one.
std::string_view StageSlug(std::string_view message);

}  // namespace globeforge
