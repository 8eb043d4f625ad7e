#pragma once

#include <litehtml.h>

namespace tf {

// The drawing callback the engine's container interface lacks: the static
// player picture of an `audio` element. The view's container implements it.
class AudioPlayerPainter {
public:
    virtual void draw_audio_player(litehtml::uint_ptr hdc, const litehtml::position& pos) = 0;

protected:
    ~AudioPlayerPainter() = default;
};

} // namespace tf
