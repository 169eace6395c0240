#include "ui/zfeed.h"

#include <cmath>
#include <cstring>

float _cubic_safe_get(const float *in, int count, int i)
{
    if (i < 0)
        i = 0;
    if (i > count - 1)
        i = count - 1;
    return in[i];
}

void zfeed_resample_cubic(const float *in, int count, float *out, int n)
{
    if (!in || !out || count <= 0 || n <= 0)
        return;
    if (n == count) {
        std::memcpy(out, in, sizeof(float) * size_t(n));
        return;
    }
    if (n == 1) {
        out[0] = in[count / 2];
        return;
    }
    const double scale = double(count - 1) / double(n - 1);
    for (int i = 0; i < n; ++i) {
        const double x = double(i) * scale;
        const int g = int(x);
        const float t = float(x - double(g));
        const float p0 = _cubic_safe_get(in, count, g - 1);
        const float p1 = _cubic_safe_get(in, count, g);
        const float p2 = _cubic_safe_get(in, count, g + 1);
        const float p3 = _cubic_safe_get(in, count, g + 2);
        out[i] = 0.5f * (2.0f * p1 + t * (p2 - p0) + t * t * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3)
                         + t * t * t * (3.0f * p1 - p0 - 3.0f * p2 + p3));
    }
}

void zfeed_civ_trace(const float *in, int n, float *out)
{
    const int m = ZFEED_CIV_POINTS;
    if (!in || !out || n <= 0)
        return;
    if (n == m) {
        std::memcpy(out, in, sizeof(float) * size_t(m));
        return;
    }
    const double r = double(n) / double(m);
    if (n > m) {
        int g;
        double step;
        if (n % m == 0) {
            g = n / m;
            step = 1.0;
        } else {
            g = int(r + 0.5);
            step = r / double(g);
        }
        double pos = 0.0;
        for (int i = 0; i < m; ++i) {
            double sum = 0.0;
            for (int k = 0; k < g; ++k) {
                const int idx = int(pos);
                if (idx < n)
                    sum += in[idx];
                pos += step;
            }
            out[i] = float(sum / double(g));
        }
        return;
    }
    double pos = 0.0;
    for (int i = 0; i < m; ++i) {
        const int idx = int(pos);
        if (idx >= n)
            break;
        out[i] = in[idx];
        pos += r;
    }
}
