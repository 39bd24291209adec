// The carving of a brush pattern: random domes subtracted from the chosen channels, either
// on the image or, for a brush of one value per pixel, in a plane of that value. The tables
// a carving needs are kept between the carvings that share a Carving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/progress.h"
#include "generate/disc_classes.h"
#include "generate/disc_tables.h"
#include "image/float_image.h"
#include "image/source_layout.h"
#include "random/lcg32.h"

namespace globeforge::pattern_detail {

// One random dome of a carving: its draws, then its classes and their values. Its profile
// values per squared distance n lie at byN[at + n].
struct CarvedDome {
    int32_t cx = 0, cy = 0, r = 0;
    double e = 0;
    DiscClasses<float> disc;
    bool carved = false;
    size_t at = 0;
};

// What a carving needs besides the image; kept between the carvings of a render, so that
// redrawing a brush does not allocate (and fault in) fresh tables every time.
struct Carving {
    std::vector<CarvedDome> domes;
    SquareSums sums;
    Table<float> byN;
    Table<float> plane;
    // The storage of large domes' tables, largest last, for the next large domes: a fresh
    // table above glibc's mmap threshold (32 MB, reached by 16K brushes) is faulted in page
    // by page every time.
    std::vector<Table<float>> spareTables;

    // Keeps the largest of the spare tables and table within kKeptTableBytes.
    void KeepTable(Table<float>&& table);
};

// A carved plane's rows y0 <= y < y1 clipped below 0 and written into the image as a brush
// of the plane's layout (Gray, OnlyR, OnlyG or OnlyB), A taking the value.
void ExpandPlane(const float* plane, FloatImage& image, SourceLayout layout, int64_t y0,
                 int64_t y1);

// Subtracts count random domes from the chosen channels, clips below 0 and copies the last
// chosen channel into A; four draws per dome (cx, cy, r, e). With a base disc and a plane
// layout other than General, the image's content is not read: the disc is laid into a
// plane of that layout band by band, carved there and written out at the clip, so the image
// is written once instead of passed over by every dome. With keepPlane as well, the clipped
// plane stays in carving.plane and the image is left unwritten: the result says whether it
// was. ctx, when given, shares the work among its threads.
bool Carve(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
           Lcg32& rng, RenderContext* ctx, Carving& carving,
           const DiscClasses<float>* base = nullptr, SourceLayout layout = SourceLayout::General,
           bool keepPlane = false);

}  // namespace globeforge::pattern_detail
