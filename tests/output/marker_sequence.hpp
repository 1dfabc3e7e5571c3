// The markers both colour writers' tables are fed, in this order.
#pragma once

#include <array>
#include <cstdint>

#include "stream/char_stream.hpp"

namespace vidtwine::test {

inline constexpr std::array<std::uint16_t, 9> kMarkerSequence = {
    charstream::AttributeMarker | 0x07, charstream::AttributeMarker | 0x4F,
    charstream::AttributeMarker | 0xCF, charstream::AttributeMarker | 0x07,
    charstream::AttributeMarker | 0x0E, charstream::AttributeMarker | 0x06,
    charstream::AttributeMarker | 0x33, charstream::AttributeReset,
    charstream::AttributeMarker | 0x07};

}  // namespace vidtwine::test
