#include "render/stage_dump.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <vector>

#include "core/stage_names.h"
#include "image/atomic_file.h"
#include "image/exr_file.h"

namespace globeforge {

namespace {

static_assert(sizeof(FloatPixel) == 4 * sizeof(float), "pixels are four packed floats");

bool Write(const std::string& path, int32_t width, int32_t height,
           std::span<const ExrChannelSource> channels, std::string_view message,
           std::string& error) {
    const MetadataTexts attributes{{kStageMessageAttribute, std::string(message)}};
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!EncodeExrChannels(width, height, channels, attributes, bytes, &reason) ||
        !WriteFileAtomically(path, bytes, &reason)) {
        error = "cannot write the stage image " + path + ": " + reason;
        return false;
    }
    return true;
}

}  // namespace

std::string StageDumper::NextPath(std::string_view message) {
    char order[16];
    std::snprintf(order, sizeof order, "%03d-", static_cast<int>(++written_));
    std::string name = order;
    name += StageSlug(message);
    name += ".exr";
    return (std::filesystem::path(folder_) / name).string();
}

bool StageDumper::ObserveStage(const FloatImage& image, std::string_view message,
                               std::string& error) {
    const float* samples = reinterpret_cast<const float*>(image.Data());
    const size_t row = static_cast<size_t>(image.Width) * 4;
    const ExrChannelSource channels[] = {{"R", samples + 0, 4, row},
                                         {"G", samples + 1, 4, row},
                                         {"B", samples + 2, 4, row},
                                         {"A", samples + 3, 4, row}};
    return Write(NextPath(message), image.Width, image.Height, channels, message, error);
}

bool StageDumper::ObserveStage(const ScalarImage& image, std::string_view message,
                               std::string& error) {
    const size_t row = static_cast<size_t>(image.Width);
    // The gray image stands for (v, v, v, 255): R, G and B read the same values in place,
    // A repeats one opaque row.
    std::vector<float> opaque;
    try {
        opaque.assign(row, 255.0f);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to write a stage image";
        return false;
    }
    const ExrChannelSource channels[] = {{"R", image.Data(), 1, row},
                                         {"G", image.Data(), 1, row},
                                         {"B", image.Data(), 1, row},
                                         {"A", opaque.data(), 1, 0}};
    return Write(NextPath(message), image.Width, image.Height, channels, message, error);
}

}  // namespace globeforge
