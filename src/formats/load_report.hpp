// What a loader tells the driver besides the cells it drew.
#pragma once

namespace vidtwine {

/// Filled in by a loader.
struct LoadReport {
  /// 1 bright backgrounds, 0 blink, -1 as the record or the options say.
  int iceColors = -1;
  /// The file carried a font of its own, which a terminal cannot show.
  bool embeddedFont = false;
};

/// nullptr when the input was drawn; else what is wrong with it, as the end of a sentence
/// ("truncated XBin data").
using LoadError = const char*;

}  // namespace vidtwine
