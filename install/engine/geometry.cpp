// Gradient bands, palette ramp, pixel scaling and string anchors of the backdrop.
#include "geometry.h"

#include <math.h>

#include "state.h"
#include "tessel-core.h"

// Every division is by 256, so the real numbers of the definitions are exact and these integer
// forms give the same values.
int Geometry_PaletteChannel(int start, int end, int i) {
    return (start * (GRADIENT_BANDS - i) + end * i) >> 8;
}

int Geometry_BandChannel(int start, int end, int i) {
    return (((start * (GRADIENT_BANDS - i)) >> 8) + ((end * i) >> 8)) & 0xFF;
}

// Band i runs from (int)(i * u) to (int)((i + 1) * u), u = height / 256: exact as well.
int Geometry_BandEdge(int top, int height, int i) { return top + (i * height >> 8); }

// Cut to what GDI draws: a script's fraction may be as large as a float holds, or infinite.
int Geometry_ToPixels(double value) {
    if (value != value) return 0;
    return value < -32768.0 ? -32768 : value > 32767.0 ? 32767 : (int)value;
}

double Geometry_Scale(int size, float fraction) { return floor(size * (double)fraction); }

int Geometry_Anchor(double *x, double *y, int32_t extentX, int32_t extentY, uint32_t flags) {
    CORE_GUARD(x);
    CORE_GUARD(y);
    if (flags & BACKDROP_RIGHT) *x -= extentX;
    if (flags & BACKDROP_UP) *y -= extentY;
    if (flags & BACKDROP_CENTERX) *x -= extentX / 2;
    if (flags & BACKDROP_CENTERY) *y -= extentY / 2;
    return 1;
}
