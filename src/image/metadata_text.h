// A named text that travels inside an image file: a PNG text chunk, a JPEG comment or an
// OpenEXR string attribute. Keys are short ASCII names; values are UTF-8 of any length.
#pragma once

#include <string>
#include <vector>

namespace globeforge {

struct MetadataText {
    std::string key;
    std::string value;

    friend bool operator==(const MetadataText&, const MetadataText&) = default;
};

using MetadataTexts = std::vector<MetadataText>;

}  // namespace globeforge
