// Keeps every image the stages report as a 32-bit float OpenEXR file, for users who want to
// see how a planet is built and pipelines that want the raw layers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/progress.h"

namespace globeforge {

// The string attribute that carries the stage's message in each file.
inline constexpr const char* kStageMessageAttribute = "stageMessage";

// Writes the n-th reported image to folder/NNN-slug.exr (001-ground-base.exr, ...), at full
// size with the channels R, G, B and A, each file written atomically. The folder must exist.
class StageDumper final : public StageObserver {
  public:
    explicit StageDumper(std::string folder) : folder_(std::move(folder)) {}

    bool ObserveStage(const FloatImage& image, std::string_view message,
                      std::string& error) override;
    bool ObserveStage(const ScalarImage& image, std::string_view message,
                      std::string& error) override;

    int32_t FilesWritten() const { return written_; }

  private:
    std::string NextPath(std::string_view message);

    std::string folder_;
    int32_t written_ = 0;
};

}  // namespace globeforge
