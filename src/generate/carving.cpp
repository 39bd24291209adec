#include "generate/carving.h"

#include <algorithm>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

#include "generate/patterns.h"

namespace globeforge::pattern_detail {

namespace {

// What the large domes' spare tables may hold between carvings.
constexpr size_t kKeptTableBytes = size_t{128} << 20;

// A carved plane's rows y0 <= y < y1 clipped below 0 and written into the image.
template <SourceLayout kLayout>
void ExpandPlaneAs(const float* plane, FloatImage& image, int64_t y0, int64_t y1) {
    const size_t end = static_cast<size_t>(y1) * image.Width;
    FloatPixel* out = image.Data();
    for (size_t i = static_cast<size_t>(y0) * image.Width; i < end; ++i) {
        const float v = plane[i] < 0.0f ? 0.0f : plane[i];
        if constexpr (kLayout == SourceLayout::OnlyR) {
            out[i] = {v, 0.0f, 0.0f, v};
        } else if constexpr (kLayout == SourceLayout::OnlyG) {
            out[i] = {0.0f, v, 0.0f, v};
        } else if constexpr (kLayout == SourceLayout::OnlyB) {
            out[i] = {0.0f, 0.0f, v, v};
        } else {
            out[i] = {v, v, v, v};
        }
    }
}

// A carved plane's rows y0 <= y < y1 clipped below 0 in place: the values ExpandPlane writes.
void ClipPlane(float* plane, int32_t width, int64_t y0, int64_t y1) {
    const size_t end = static_cast<size_t>(y1) * width;
    // Every value stored, so the loop runs in vectors; -0 and NaN are kept, as the test
    // keeps them.
    for (size_t i = static_cast<size_t>(y0) * width; i < end; ++i) {
        plane[i] = plane[i] < 0.0f ? 0.0f : plane[i];
    }
}

// Calls fn.template operator()<flag>() with the flag as a constant.
template <typename Fn>
void WithFlag(bool flag, Fn&& fn) {
    if (flag) {
        fn.template operator()<true>();
    } else {
        fn.template operator()<false>();
    }
}

// Calls fn.template operator()<useR, useG, useB>() with the flags as constants, so the pixel
// loops test no flag per pixel.
template <typename Fn>
void WithChannels(bool useR, bool useG, bool useB, Fn&& fn) {
    WithFlag(useR, [&]<bool kR>() {
        WithFlag(useG, [&]<bool kG>() {
            WithFlag(useB, [&]<bool kB>() { fn.template operator()<kR, kG, kB>(); });
        });
    });
}

// Clips the colour channels below 0 and copies the last chosen channel into A, in the rows
// y0 <= y < y1.
template <bool kR, bool kG, bool kB>
void ClipAndCopyAlpha(FloatImage& image, int64_t y0, int64_t y1) {
    FloatPixel* p = image.Row(static_cast<int32_t>(y0));
    const size_t n = static_cast<size_t>(y1 - y0) * image.Width;
    for (size_t i = 0; i < n; ++i) {
        if (p[i].R < 0.0f) p[i].R = 0.0f;
        if (p[i].G < 0.0f) p[i].G = 0.0f;
        if (p[i].B < 0.0f) p[i].B = 0.0f;
        if constexpr (kB) {
            p[i].A = p[i].B;
        } else if constexpr (kG) {
            p[i].A = p[i].G;
        } else if constexpr (kR) {
            p[i].A = p[i].R;
        }
    }
}

// The domes of one carving are computed side by side, and every band of rows then
// subtracts them in the drawn order, so each pixel sees the same subtractions as one dome
// after the other would give it. They go in groups whose tables stay within this many
// squared distances (64 MB of values), which bounds the memory a large brush needs
// at once; each dome of a group is worked out on one thread, so a group must hold several
// domes even of an 8K brush for the threads to share them (a 16K brush's largest domes
// fill a group alone, and are shared out by themselves).
constexpr size_t kCarveGroupArea = size_t{1} << 24;
// The smallest dome worth sharing out among threads by itself.
constexpr int32_t kSharedDomeRadius = 256;
// A dome table larger than this radius is not kept for the next carving.
constexpr int32_t kKeptRadius = 512;
// Values by squared distance kept for the next carving or centred disc: a 16K brush's
// disc needs just over kCarveGroupArea of them.
constexpr size_t kKeptValues = size_t{1} << 25;

// What the steps of one carving share.
struct CarveRun {
    FloatImage& image;
    bool useR, useG, useB;
    RenderContext* ctx;
    Carving& carving;
    const DiscClasses<float>* base;
    SourceLayout layout;
    bool planed;  // carved in a plane of the layout, from the base disc
    bool defer;   // the clipped plane is kept in place of the image
};

// The domes' draws, in this order for each: cx, cy, r, e.
void DrawDomes(std::vector<CarvedDome>& domes, int32_t w, int32_t h, double bias, Lcg32& rng) {
    for (CarvedDome& dome : domes) {
        dome.cx = rng.Random(w);
        dome.cy = rng.Random(h);
        const int32_t rDrawn = rng.Random(w / 2);
        dome.r = rDrawn == 0 ? 1 : rDrawn;
        dome.e = static_cast<double>(static_cast<Extended>(rng.RandomReal()) * bias);
    }
}

// The end of the group that starts at groupStart: its domes' values lie side by side in
// room squared distances (a dome's are at most r^2), within kCarveGroupArea unless one dome
// needs more alone; rMax is the group's largest radius.
size_t GroupEnd(std::vector<CarvedDome>& domes, size_t groupStart, size_t& room, int32_t& rMax) {
    room = 0;
    rMax = 0;
    size_t groupEnd = groupStart;
    for (; groupEnd < domes.size(); ++groupEnd) {
        CarvedDome& dome = domes[groupEnd];
        const size_t distances = static_cast<size_t>(int64_t{dome.r} * dome.r + 1);
        if (groupEnd > groupStart && room + distances > kCarveGroupArea) break;
        dome.at = room;
        room += distances;
        rMax = std::max(rMax, dome.r);
    }
    return groupEnd;
}

// A dome's classes, profile values and table; the values and the table in bands of the
// context's threads when shared, else on the calling thread.
void WorkOutDome(const CarveRun& run, CarvedDome& dome, bool shared) {
    Carving& carving = run.carving;
    dome.disc.Reset(run.image.Width, run.image.Height, dome.cx, dome.cy, dome.r, run.planed);
    dome.carved = !dome.disc.Empty();
    if (!dome.carved) return;
    float* byN = carving.byN.data() + dome.at;
    // In the last carving other threads mostly wrote or read this stretch of byN and
    // this table; asked for now, their lines arrive while the profile is evaluated.
    if (!shared) {
        PrefetchForWrite(byN, static_cast<size_t>(dome.disc.DistanceCount()));
        dome.disc.PrefetchValuesForWrite();
    }
    const BiasCurve profile(255, 0, 0, dome.r, dome.e);
    const auto value = [&](const double* d, float* out, size_t values) {
        profile.Floats(d, out, values);
    };
    const auto listed = static_cast<int64_t>(carving.sums.CountBelow(dome.disc.DistanceCount()));
    ForBands(
        run.ctx, listed, shared,
        [&](int64_t i0, int64_t i1) {
            carving.sums.Evaluate(static_cast<size_t>(i0), static_cast<size_t>(i1), byN, value);
        },
        kDistanceBand);
    const auto same = [](float v) { return v; };
    ForBands(
        run.ctx, dome.disc.HandOutBlocks(), shared,
        [&](int64_t k0, int64_t k1) {
            if (run.planed) {
                dome.disc.HandOutQuadrant(byN, k0, k1);
            } else {
                dome.disc.HandOut(byN, k0, k1, same);
            }
        },
        1);
}

// Works out every dome of a group. Each dome is worked out on one thread, its profile
// values and its table one after the other while they are in cache; the largest first, so
// that the last to finish are small. A dome larger than the rest of its group together
// would keep one thread busy while the others wait (at 16K a group often holds a single
// dome): such domes are shared out one by one, the rest go to the threads whole.
void WorkOutGroup(const CarveRun& run, std::span<CarvedDome> group, size_t room, bool large,
                  std::vector<size_t>& order) {
    Carving& carving = run.carving;
    order.resize(group.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return group[a].r > group[b].r; });
    // The largest spare tables go to the largest domes.
    for (const size_t k : order) {
        if (carving.spareTables.empty() || group[k].r <= kKeptRadius) break;
        group[k].disc.GiveValues(std::move(carving.spareTables.back()));
        carving.spareTables.pop_back();
    }
    size_t sharedCount = 0;
    if (run.ctx && large) {
        size_t rest = room;
        for (const size_t k : order) {
            const size_t distances = static_cast<size_t>(int64_t{group[k].r} * group[k].r + 1);
            if (group[k].r < kSharedDomeRadius || 2 * distances <= rest) break;
            rest -= distances;
            ++sharedCount;
        }
    }
    for (size_t s = 0; s < sharedCount; ++s) WorkOutDome(run, group[order[s]], true);
    ForBands(
        run.ctx, static_cast<int64_t>(group.size() - sharedCount), large,
        [&](int64_t k0, int64_t k1) {
            for (int64_t k = k0; k < k1; ++k) {
                WorkOutDome(run, group[order[sharedCount + static_cast<size_t>(k)]], false);
            }
        },
        1);
}

// The group's domes subtracted in the plane, band by band; the first group lays the base
// disc into the plane first, the last clips it (and writes it into the image unless it is
// kept).
void SubtractInPlane(const CarveRun& run, std::span<const CarvedDome> group, bool first, bool last,
                     bool large) {
    const int32_t w = run.image.Width;
    ForBands(run.ctx, run.image.Height, large || last || first, [&](int64_t y0, int64_t y1) {
        float* plane = run.carving.plane.data();
        if (first) {
            run.base->FillOutside(plane, y0, y1, 0.0f);
            run.base->PaintQuadrant(plane, y0, y1, [](float& p, float v) { p = v; });
        }
        // A dome's table rows are asked for while the dome before it is painted:
        // with several threads most were written on another core, and each such
        // line read on demand stalls the subtraction.
        const auto carvedFrom = [&](size_t k) {
            while (k < group.size() && !group[k].carved) ++k;
            return k;
        };
        size_t k = carvedFrom(0);
        if (k < group.size()) group[k].disc.PrefetchQuadrant(y0, y1);
        while (k < group.size()) {
            const size_t after = carvedFrom(k + 1);
            if (after < group.size()) group[after].disc.PrefetchQuadrant(y0, y1);
            group[k].disc.PaintQuadrant(plane, y0, y1, [](float& p, float v) { p = p - v; });
            k = after;
        }
        if (last && run.defer) ClipPlane(plane, w, y0, y1);
        if (last && !run.defer) ExpandPlane(plane, run.image, run.layout, y0, y1);
    });
}

// The group's domes subtracted on the image, band by band; the last group also clips and
// copies A. A chosen channel's copy into A overwrites the domes' A = 255 everywhere, so
// that store is only made when no channel is chosen.
void SubtractOnImage(const CarveRun& run, std::span<const CarvedDome> group, bool last,
                     bool large) {
    FloatImage& image = run.image;
    WithChannels(run.useR, run.useG, run.useB, [&]<bool kR, bool kG, bool kB>() {
        ForBands(run.ctx, image.Height, large || last, [&](int64_t y0, int64_t y1) {
            for (const CarvedDome& dome : group) {
                if (!dome.carved) continue;
                dome.disc.Paint(image.Data(), y0, y1, [](FloatPixel& p, float v) {
                    if constexpr (kR) p.R = p.R - v;
                    if constexpr (kG) p.G = p.G - v;
                    if constexpr (kB) p.B = p.B - v;
                    if constexpr (!kR && !kG && !kB) p.A = 255.0f;
                });
            }
            if (last) ClipAndCopyAlpha<kR, kG, kB>(image, y0, y1);
        });
    });
}

}  // namespace

void Carving::KeepTable(Table<float>&& table) {
    if (table.capacity() == 0) return;
    spareTables.push_back(std::move(table));
    std::sort(
        spareTables.begin(), spareTables.end(),
        [](const Table<float>& a, const Table<float>& b) { return a.capacity() < b.capacity(); });
    size_t bytes = 0;
    for (size_t k = spareTables.size(); k-- > 0;) {
        bytes += spareTables[k].capacity() * sizeof(float);
        if (bytes > kKeptTableBytes) {
            spareTables.erase(spareTables.begin(),
                              spareTables.begin() + static_cast<ptrdiff_t>(k + 1));
            break;
        }
    }
}

void ExpandPlane(const float* plane, FloatImage& image, SourceLayout layout, int64_t y0,
                 int64_t y1) {
    switch (layout) {
        case SourceLayout::OnlyR:
            return ExpandPlaneAs<SourceLayout::OnlyR>(plane, image, y0, y1);
        case SourceLayout::OnlyG:
            return ExpandPlaneAs<SourceLayout::OnlyG>(plane, image, y0, y1);
        case SourceLayout::OnlyB:
            return ExpandPlaneAs<SourceLayout::OnlyB>(plane, image, y0, y1);
        default:
            return ExpandPlaneAs<SourceLayout::Gray>(plane, image, y0, y1);
    }
}

// The SubDirect blend of (v, v, v, 255) on the chosen channels: a float minus a float
// rounds the same whether the difference is formed in extended precision first or not, and
// a channel that is not chosen loses +0, which keeps it. Domes are clipped at the edges,
// not wrapped.
bool Carve(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
           Lcg32& rng, RenderContext* ctx, Carving& carving, const DiscClasses<float>* base,
           SourceLayout layout, bool keepPlane) {
    if (count == 0) return false;
    const int32_t w = image.Width;
    const int32_t h = image.Height;
    std::vector<CarvedDome>& domes = carving.domes;
    domes.resize(static_cast<size_t>(std::max(count, 0)));
    const bool planed = base != nullptr && layout != SourceLayout::General;
    // Every pixel of the plane is written before it is read (an image still waiting in it was
    // written out before this carving began).
    if (planed) ResizeUnkept(carving.plane, static_cast<size_t>(w) * static_cast<size_t>(h));
    const CarveRun run{image,   useR, useG,   useB,   ctx,
                       carving, base, layout, planed, planed && keepPlane};
    DrawDomes(domes, w, h, bias, rng);
    std::vector<size_t> order;
    size_t groupEnd = 0;
    for (size_t groupStart = 0;; groupStart = groupEnd) {
        size_t room = 0;
        int32_t rMax = 0;
        groupEnd = GroupEnd(domes, groupStart, room, rMax);
        const bool large = rMax >= kParallelRadius;
        const auto group = std::span(domes).subspan(groupStart, groupEnd - groupStart);
        if (carving.byN.size() < room) ResizeUnkept(carving.byN, room);
        carving.sums.Reach(int64_t{rMax} * rMax);
        WorkOutGroup(run, group, room, large, order);
        const bool last = groupEnd == domes.size();
        if (planed) {
            SubtractInPlane(run, group, groupStart == 0, last, large);
        } else {
            SubtractOnImage(run, group, last, large);
        }
        for (CarvedDome& dome : group) {
            if (dome.r > kKeptRadius) {
                carving.KeepTable(dome.disc.TakeValues());
                dome.disc = {};
            }
        }
        if (last) break;
    }
    if (carving.byN.size() > kKeptValues) carving.byN = {};
    return run.defer;
}

}  // namespace globeforge::pattern_detail
