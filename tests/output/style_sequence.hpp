// The styles both colour writers' tables are fed, and how they are fed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "output/text_events.hpp"
#include "support/process.hpp"

namespace vidtwine::test {

/// A step is an attribute, or kRowEnd for the end of a row.
inline constexpr int kRowEnd = -1;
inline constexpr std::array<int, 9> kStyleSequence = {0x07, 0x4F, 0xCF,    0x07, 0x0E,
                                                      0x06, 0x33, kRowEnd, 0x07};

/// Hands `steps` to `writer` as the events of styled rows, with a '|' as text after each,
/// and finishes it; then what each step added to `output` (ESC spelled out).
inline std::vector<std::string> stepOutputs(TextEventSink& writer, std::span<const int> steps,
                                            const std::string& output) {
  constexpr std::uint16_t kSeparator = '|';
  writer.begin(true);
  for (const int step : steps) {
    if (step == kRowEnd) {
      writer.endRow();
    } else {
      writer.style({static_cast<CellAttribute>(step), {}});
    }
    writer.text({&kSeparator, 1});
  }
  EXPECT_TRUE(writer.finish());
  std::vector<std::string> outputs;
  for (std::size_t start = 0, end; (end = output.find('|', start)) != std::string::npos;
       start = end + 1) {
    outputs.push_back(visible(output.substr(start, end - start)));
  }
  EXPECT_EQ(outputs.size(), steps.size());
  return outputs;
}

}  // namespace vidtwine::test
