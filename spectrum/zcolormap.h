#ifndef ZCOLORMAP_H
#define ZCOLORMAP_H

#include <cstdint>

// Colour scale of the waterfall: 256 steps from black through dark blue,
// blue, cyan, green-yellow and orange to dark red.
class ZColorMap
{
public:
    // Packed RRGGBBAA words, alpha FFh.
    static const uint32_t *colorMapJet256();

    // Colour of v on the scale lo .. hi as 00RRGGBB; 0 when lo equals hi.
    static uint32_t getColorJet256(float v, float lo, float hi);
};

#endif
