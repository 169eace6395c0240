#include "spectrum/zcolormap.h"

#include <cmath>

namespace {

struct Anchor {
    int index;
    int r, g, b;
};

// The rows the scale must pass through; the steps between them are linear,
// which keeps neighbouring entries within a few levels of each other.
const Anchor kAnchors[] = {
    {0, 0, 0, 0},       {32, 0, 0, 43},      {64, 0, 0, 202},
    {96, 0, 105, 255},  {128, 9, 255, 246},  {160, 167, 255, 88},
    {192, 255, 184, 0}, {224, 255, 26, 0},   {255, 128, 0, 0},
};

struct Table {
    uint32_t rgba[256];
    Table()
    {
        for (int a = 0; a + 1 < int(sizeof(kAnchors) / sizeof(kAnchors[0])); ++a) {
            const Anchor &p = kAnchors[a];
            const Anchor &q = kAnchors[a + 1];
            for (int i = p.index; i <= q.index; ++i) {
                const double t = double(i - p.index) / double(q.index - p.index);
                const auto mix = [t](int x, int y) {
                    return uint32_t(std::lround(x + (y - x) * t)) & 0xFF;
                };
                rgba[i] = mix(p.r, q.r) << 24 | mix(p.g, q.g) << 16 | mix(p.b, q.b) << 8 | 0xFF;
            }
        }
    }
};

} // namespace

const uint32_t *ZColorMap::colorMapJet256()
{
    static const Table table;
    return table.rgba;
}

uint32_t ZColorMap::getColorJet256(float v, float lo, float hi)
{
    if (lo == hi)
        return 0;
    const float x = (v - lo) * 255.0f / (hi - lo);
    // Clamp before converting: a float far outside int range must not reach
    // the conversion.
    int index = 0;
    if (x >= 255.0f)
        index = 255;
    else if (x > 0.0f)
        index = int(x);
    return colorMapJet256()[index] >> 8;
}
