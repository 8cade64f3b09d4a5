// The backdrop's arithmetic, free of GDI: the colours and edges of the 256 gradient bands and
// their palette, fractions of the client area in pixels, and a string's place after its
// anchor flags. Portable; the backdrop window paints with it.
#pragma once
#include <stdint.h>

enum { GRADIENT_BANDS = 256 };

// Channel value of palette entry i (0..255) of the ramp from start to end:
// (int)(start * (1 - t) + end * t), t = i / 256.
int Geometry_PaletteChannel(int start, int end, int i);
// Channel value of band i: (int)((int)(start * (1 - t)) + end * t), whose start share is
// truncated on its own, in 8 bits.
int Geometry_BandChannel(int start, int end, int i);
// The first row of band i (0..256) of a rectangle height rows high that starts at row top:
// top + (int)(i * height / 256). Band i covers the rows up to that of band i + 1.
int Geometry_BandEdge(int top, int height, int i);
// A coordinate as GDI takes it: cut to -32768..32767; not a number gives 0.
int Geometry_ToPixels(double value);
// A fraction of a client-area size in whole pixels, rounded down.
double Geometry_Scale(int size, float fraction);
// Moves the string's origin *x, *y by its anchor flags (BACKDROP_RIGHT, UP, CENTERX, CENTERY)
// for a text extentX wide and extentY high. Returns 1.
int Geometry_Anchor(double *x, double *y, int32_t extentX, int32_t extentY, uint32_t flags);
