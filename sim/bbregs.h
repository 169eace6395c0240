#ifndef BBREGS_H
#define BBREGS_H

#include <cstdint>

// How the board reads the front VFO's tuning from the 56 register words:
// the VFO index in word 13 (bits 0-7) and memory mode (bit 16), the digital
// offset and centre-mode bit in word 35, and the physical LO in word 1 or 7.

inline bool bbregs_centre_mode(const uint32_t *regs)
{
    return (regs[35] >> 24) & 1;
}

// 0 when VFO A is in front.
inline int bbregs_front(const uint32_t *regs)
{
    return int(regs[13] & 0xFF);
}

// The physical LO, the centre of the received band: in centre mode the
// front VFO's own frequency; otherwise word 1 in VFO mode and word 7 in
// memory mode.
inline double bbregs_lo(const uint32_t *regs)
{
    if (bbregs_centre_mode(regs))
        return bbregs_front(regs) == 0 ? regs[1] : regs[7];
    return ((regs[13] >> 16) & 1) ? regs[7] : regs[1];
}

// The digital offset: 24 bits, two's complement.
inline int bbregs_dlo(const uint32_t *regs)
{
    return int(int32_t(regs[35] << 8) >> 8);
}

// The frequency the front VFO is tuned to (without RIT): the LO, plus the
// digital offset outside centre mode.
inline double bbregs_dial(const uint32_t *regs)
{
    return bbregs_centre_mode(regs) ? bbregs_lo(regs) : bbregs_lo(regs) + bbregs_dlo(regs);
}

#endif
