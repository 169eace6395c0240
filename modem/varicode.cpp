// PSK31 varicode tables and the bit-stream helpers.
#include "modem/varicode.h"

// The standard PSK31 varicode (G3PLX). Every code starts and ends with a 1
// and holds no two consecutive 0 bits, so "00" separates characters.
const varicode_t gVaricode_LUT[128] = {
    {0x2AB, 10}, //   0 
    {0x2DB, 10}, //   1 
    {0x2ED, 10}, //   2 
    {0x377, 10}, //   3 
    {0x2EB, 10}, //   4 
    {0x35F, 10}, //   5 
    {0x2EF, 10}, //   6 
    {0x2FD, 10}, //   7 
    {0x2FF, 10}, //   8 
    {0x0EF,  8}, //   9 
    {0x01D,  5}, //  10 
    {0x36F, 10}, //  11 
    {0x2DD, 10}, //  12 
    {0x01F,  5}, //  13 
    {0x375, 10}, //  14 
    {0x3AB, 10}, //  15 
    {0x2F7, 10}, //  16 
    {0x2F5, 10}, //  17 
    {0x3AD, 10}, //  18 
    {0x3AF, 10}, //  19 
    {0x35B, 10}, //  20 
    {0x36B, 10}, //  21 
    {0x36D, 10}, //  22 
    {0x357, 10}, //  23 
    {0x37B, 10}, //  24 
    {0x37D, 10}, //  25 
    {0x3B7, 10}, //  26 
    {0x355, 10}, //  27 
    {0x35D, 10}, //  28 
    {0x3BB, 10}, //  29 
    {0x2FB, 10}, //  30 
    {0x37F, 10}, //  31 
    {0x001,  1}, //  32 
    {0x1FF,  9}, //  33 !
    {0x15F,  9}, //  34 "
    {0x1F5,  9}, //  35 #
    {0x1DB,  9}, //  36 $
    {0x2D5, 10}, //  37 %
    {0x2BB, 10}, //  38 &
    {0x17F,  9}, //  39 '
    {0x0FB,  8}, //  40 (
    {0x0F7,  8}, //  41 )
    {0x16F,  9}, //  42 *
    {0x1DF,  9}, //  43 +
    {0x075,  7}, //  44 ,
    {0x035,  6}, //  45 -
    {0x057,  7}, //  46 .
    {0x1AF,  9}, //  47 /
    {0x0B7,  8}, //  48 0
    {0x0BD,  8}, //  49 1
    {0x0ED,  8}, //  50 2
    {0x0FF,  8}, //  51 3
    {0x177,  9}, //  52 4
    {0x15B,  9}, //  53 5
    {0x16B,  9}, //  54 6
    {0x1AD,  9}, //  55 7
    {0x1AB,  9}, //  56 8
    {0x1B7,  9}, //  57 9
    {0x0F5,  8}, //  58 :
    {0x1BD,  9}, //  59 ;
    {0x1ED,  9}, //  60 <
    {0x055,  7}, //  61 =
    {0x1D7,  9}, //  62 >
    {0x2AF, 10}, //  63 ?
    {0x2BD, 10}, //  64 @
    {0x07D,  7}, //  65 A
    {0x0EB,  8}, //  66 B
    {0x0AD,  8}, //  67 C
    {0x0B5,  8}, //  68 D
    {0x077,  7}, //  69 E
    {0x0DB,  8}, //  70 F
    {0x0FD,  8}, //  71 G
    {0x155,  9}, //  72 H
    {0x07F,  7}, //  73 I
    {0x1FD,  9}, //  74 J
    {0x17D,  9}, //  75 K
    {0x0D7,  8}, //  76 L
    {0x0BB,  8}, //  77 M
    {0x0DD,  8}, //  78 N
    {0x0AB,  8}, //  79 O
    {0x0D5,  8}, //  80 P
    {0x1DD,  9}, //  81 Q
    {0x0AF,  8}, //  82 R
    {0x06F,  7}, //  83 S
    {0x06D,  7}, //  84 T
    {0x157,  9}, //  85 U
    {0x1B5,  9}, //  86 V
    {0x15D,  9}, //  87 W
    {0x175,  9}, //  88 X
    {0x17B,  9}, //  89 Y
    {0x2AD, 10}, //  90 Z
    {0x1F7,  9}, //  91 [
    {0x1EF,  9}, //  92 backslash
    {0x1FB,  9}, //  93 ]
    {0x2BF, 10}, //  94 ^
    {0x16D,  9}, //  95 _
    {0x2DF, 10}, //  96 `
    {0x00B,  4}, //  97 a
    {0x05F,  7}, //  98 b
    {0x02F,  6}, //  99 c
    {0x02D,  6}, // 100 d
    {0x003,  2}, // 101 e
    {0x03D,  6}, // 102 f
    {0x05B,  7}, // 103 g
    {0x02B,  6}, // 104 h
    {0x00D,  4}, // 105 i
    {0x1EB,  9}, // 106 j
    {0x0BF,  8}, // 107 k
    {0x01B,  5}, // 108 l
    {0x03B,  6}, // 109 m
    {0x00F,  4}, // 110 n
    {0x007,  3}, // 111 o
    {0x03F,  6}, // 112 p
    {0x1BF,  9}, // 113 q
    {0x015,  5}, // 114 r
    {0x017,  5}, // 115 s
    {0x005,  3}, // 116 t
    {0x037,  6}, // 117 u
    {0x07B,  7}, // 118 v
    {0x06B,  7}, // 119 w
    {0x0DF,  8}, // 120 x
    {0x05D,  7}, // 121 y
    {0x1D5,  9}, // 122 z
    {0x2B7, 10}, // 123 {
    {0x1BB,  9}, // 124 |
    {0x2B5, 10}, // 125 }
    {0x2D7, 10}, // 126 ~
    {0x3B5, 10}, // 127 
};

// Left-justified form of the same codes for the decoder's table; codes 128
// to 255 have no standard varicode and stay empty.
static constexpr uint16_t lj(const varicode_t &v) { return uint16_t(v.bits << (16 - v.len)); }

#define VC_ROW8(i) lj(gVaricode_LUT[i]), lj(gVaricode_LUT[i + 1]), lj(gVaricode_LUT[i + 2]), \
    lj(gVaricode_LUT[i + 3]), lj(gVaricode_LUT[i + 4]), lj(gVaricode_LUT[i + 5]),         \
    lj(gVaricode_LUT[i + 6]), lj(gVaricode_LUT[i + 7])

const uint16_t VARICODE_TABLE[256] = {
    VC_ROW8(0), VC_ROW8(8), VC_ROW8(16), VC_ROW8(24), VC_ROW8(32), VC_ROW8(40),
    VC_ROW8(48), VC_ROW8(56), VC_ROW8(64), VC_ROW8(72), VC_ROW8(80), VC_ROW8(88),
    VC_ROW8(96), VC_ROW8(104), VC_ROW8(112), VC_ROW8(120),
    // 128..255: no code.
};

int varicode_get_bits_stream(unsigned code, uint8_t *bits)
{
    int n = 0;
    if (code < 128) {
        const varicode_t &v = gVaricode_LUT[code];
        for (int i = v.len - 1; i >= 0; i--)
            bits[n++] = (v.bits >> i) & 1;
        bits[n++] = 0;
        bits[n++] = 0;
    } else if (code == 128 || code == 129) {
        for (int i = 0; i < 8; i++)
            bits[n++] = code == 128 ? 1 : 0;
    }
    return n;
}

int varicode_get_ascii(uint32_t pattern)
{
    for (int i = 0; i < 128; i++)
        if (gVaricode_LUT[i].bits == pattern)
            return i;
    return -1;
}
