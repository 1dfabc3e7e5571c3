#include "output/color_writer.hpp"

#include <algorithm>
#include <cstring>

namespace vidtwine {

ColorWriter::ColorWriter(std::unique_ptr<Stream> target, ColorFlags flags,
                         const ColorPolicy& policy)
    : target_(std::move(target)), flags_(flags), planner_(policy) {}

int ColorWriter::targetDescriptor() const noexcept {
  return target_ != nullptr ? target_->fileDescriptor() : -1;
}

void ColorWriter::begin(bool styled) {
  styled_ = styled && !flags_.has(ColorFlag::NoColors);
}

void ColorWriter::keepSpelledStyles() {
  keepStyles_ = true;
}

void ColorWriter::style(const CellStyle& style) {
  if (!styled_ || failed_) return;
  if (keepStyles_ && style.colors == CellColors{}) {
    keptStyle(style);
  } else if (!spell(planner_.plan(style))) {
    failed_ = true;
  }
}

void ColorWriter::keptStyle(const CellStyle& style) {
  // What is put out depends on the style and on the colours shown before, as long as
  // those are VGA colours or unknown.
  const ColorValue foreground = planner_.shownForeground();
  const ColorValue background = planner_.shownBackground();
  if (foreground >= 16 || background >= 16) {
    if (!spell(planner_.plan(style))) failed_ = true;
    return;
  }
  const std::uint32_t key =
      1 + (static_cast<std::uint32_t>(foreground + 1) |
           static_cast<std::uint32_t>(background + 1) << 5 | std::uint32_t{style.attribute} << 10);
  if (keptStyles_.empty()) keptStyles_ = PageBuffer(sizeof(KeptStyle) << kKeptStyleBits);
  KeptStyle& kept = reinterpret_cast<KeptStyle*>(
      keptStyles_.data())[(key * 0x9E3779B1u) >> (32 - kKeptStyleBits)];
  if (kept.key == key) {
    // All the slot's units are copied, a fixed size, which is quicker than a copy of the
    // exact length; only `length` of them count.
    if (fill_ + kept.units.size() > buffer_.size()) flushBuffer();
    std::memcpy(buffer_.data() + fill_, kept.units.data(), sizeof kept.units);
    fill_ += kept.length;
    planner_.assumeShown(style.attribute);
    return;
  }
  // Room first, so that the spelled units can be found in the buffer afterwards.
  if (fill_ + kept.units.size() > buffer_.size()) flushBuffer();
  const std::size_t start = fill_;
  const std::uint64_t flushes = flushes_;
  if (!spell(planner_.plan(style))) {
    failed_ = true;
    return;
  }
  if (flushes_ == flushes && fill_ - start <= kept.units.size()) {
    kept.key = key;
    kept.length = static_cast<std::uint8_t>(fill_ - start);
    std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(start), kept.length,
                kept.units.begin());
  }
}

void ColorWriter::endRow() {
  if (!styled_ || failed_) return;
  if (!spellReset()) failed_ = true;
  planner_.forget();
}

void ColorWriter::text(std::span<const std::uint16_t> units) {
  while (!units.empty() && !failed_) {
    if (fill_ == buffer_.size()) flushBuffer();
    const std::size_t count = std::min(units.size(), buffer_.size() - fill_);
    std::copy_n(units.begin(), count, buffer_.begin() + static_cast<std::ptrdiff_t>(fill_));
    fill_ += count;
    units = units.subspan(count);
  }
}

template <typename StyleOf>
void ColorWriter::putRuns(std::span<const std::uint16_t> units,
                          std::span<const std::uint32_t> starts, std::size_t runs,
                          StyleOf styleOf) {
  if (starts[0] != 0) text(units.first(starts[0]));
  // Short runs are copied sixteen units at a time where that many can be read and
  // written: a copy of the exact length would branch on it.
  constexpr std::size_t kShort = 16;
  for (std::size_t r = 0; r < runs && !failed_; ++r) {
    style(styleOf(r));
    const std::size_t start = starts[r];
    const std::size_t count = starts[r + 1] - start;
    if (fill_ + kShort > buffer_.size()) flushBuffer();
    if (count <= kShort && start + kShort <= units.size()) {
      std::memcpy(buffer_.data() + fill_, units.data() + start, kShort * sizeof(std::uint16_t));
      fill_ += count;
    } else {
      text(units.subspan(start, count));
    }
  }
}

void ColorWriter::attributeRuns(std::span<const std::uint16_t> units,
                                std::span<const std::uint32_t> starts,
                                std::span<const CellAttribute> attributes) {
  putRuns(units, starts, attributes.size(), [attributes](std::size_t r) {
    return CellStyle{attributes[r], {}};
  });
}

void ColorWriter::styledRuns(std::span<const std::uint16_t> units,
                             std::span<const std::uint32_t> starts,
                             std::span<const CellStyle> styles) {
  putRuns(units, starts, styles.size(), [styles](std::size_t r) { return styles[r]; });
}

void ColorWriter::flushBuffer() {
  const std::uint64_t bytes = fill_ * sizeof(std::uint16_t);
  if (!failed_ && (target_ == nullptr || target_->write(buffer_.data(), bytes) != bytes ||
                   target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  fill_ = 0;
  ++flushes_;
}

bool ColorWriter::finish() {
  flushBuffer();
  if (!failed_ && (target_->flush(false) < 0 || target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  return !failed_;
}

}  // namespace vidtwine
