// SHA-256 for the tests that pin output by digest instead of keeping it whole.
#pragma once

#include <string>
#include <string_view>

namespace vidtwine::test {

/// The SHA-256 digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace vidtwine::test
