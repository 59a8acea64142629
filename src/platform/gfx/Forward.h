#pragma once
// Forward declarations of the drawing layer's types.

namespace gfx {

class Clipper;
class DirectDraw;
class Font;
class Surface;

}
