#include "globe/turntable.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <cmath>
#include <memory>
#include <optional>
#include <span>

#include "image/atomic_file.h"

namespace globeforge {

namespace {

bool Fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

struct EncoderDelete {
    void operator()(WebPAnimEncoder* e) const { WebPAnimEncoderDelete(e); }
};
struct PictureFree {
    void operator()(WebPPicture* p) const { WebPPictureFree(p); }
};
struct DataClear {
    void operator()(WebPData* d) const { WebPDataClear(d); }
};

}  // namespace

std::string CheckTurntableOptions(const TurntableOptions& turntable) {
    if (turntable.frames < 1 || turntable.frames > kMaxTurntableFrames) {
        return "the turntable needs 1 to " + std::to_string(kMaxTurntableFrames) + " frames (got " +
               std::to_string(turntable.frames) + ")";
    }
    if (turntable.frameMilliseconds < 1 || turntable.frameMilliseconds > 60000) {
        return "a turntable frame must last 1 to 60000 ms";
    }
    if (!(turntable.quality >= 0 && turntable.quality <= 100)) {
        return "the turntable quality must be 0 to 100";
    }
    return {};
}

bool WriteTurntableWebp(const GlobeScene& scene, const GlobeCamera& camera, const GlobeSun& sun,
                        const GlobeOptions& options, const TurntableOptions& turntable,
                        const std::string& path, RenderContext& ctx, std::string* error) {
    if (std::string problem = CheckTurntableOptions(turntable); !problem.empty()) {
        return Fail(error, std::move(problem));
    }
    if (std::string problem = CheckGlobeOptions(camera, sun, options); !problem.empty()) {
        return Fail(error, std::move(problem));
    }
    WebPAnimEncoderOptions encoderOptions;
    if (!WebPAnimEncoderOptionsInit(&encoderOptions))
        return Fail(error, "libwebp version mismatch");
    encoderOptions.anim_params.loop_count = 0;  // forever
    encoderOptions.allow_mixed = 0;
    std::unique_ptr<WebPAnimEncoder, EncoderDelete> encoder(
        WebPAnimEncoderNew(options.width, options.height, &encoderOptions));
    if (!encoder) return Fail(error, "cannot start the WebP animation encoder");
    WebPConfig config;
    if (!WebPConfigInit(&config)) return Fail(error, "libwebp version mismatch");
    config.quality = turntable.quality;
    config.method = 4;
    config.alpha_quality = 100;

    int timestamp = 0;
    for (int32_t i = 0; i < turntable.frames; ++i) {
        GlobeCamera frameCamera = camera;
        frameCamera.longitude = camera.longitude + 360.0 * i / turntable.frames;
        std::optional<GlobeImage> image = RenderGlobe(scene, frameCamera, sun, options, ctx, error);
        if (!image) return false;
        WebPPicture picture;
        if (!WebPPictureInit(&picture)) return Fail(error, "libwebp version mismatch");
        picture.width = image->width;
        picture.height = image->height;
        picture.use_argb = 1;
        std::unique_ptr<WebPPicture, PictureFree> guard(&picture);
        if (!WebPPictureImportRGBA(&picture, image->rgba.data(), image->width * 4)) {
            return Fail(error, "not enough memory for a turntable frame");
        }
        if (!WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config)) {
            return Fail(error, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));
        }
        timestamp += turntable.frameMilliseconds;
        if (ctx.StepDone(i + 1, turntable.frames)) return Fail(error, "aborted");
    }
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr)) {
        return Fail(error, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));
    }
    WebPData data;
    WebPDataInit(&data);
    std::unique_ptr<WebPData, DataClear> dataGuard(&data);
    if (!WebPAnimEncoderAssemble(encoder.get(), &data)) {
        return Fail(error, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));
    }
    return WriteFileAtomically(path, std::span<const uint8_t>(data.bytes, data.size), error);
}

}  // namespace globeforge
