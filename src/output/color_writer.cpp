#include "output/color_writer.hpp"

#include <algorithm>

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

void ColorWriter::style(const CellStyle& style) {
  if (!styled_ || failed_) return;
  if (!spell(planner_.plan(style))) failed_ = true;
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

void ColorWriter::flushBuffer() {
  const std::uint64_t bytes = fill_ * sizeof(std::uint16_t);
  if (!failed_ && (target_ == nullptr || target_->write(buffer_.data(), bytes) != bytes ||
                   target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  fill_ = 0;
}

bool ColorWriter::finish() {
  flushBuffer();
  if (!failed_ && (target_->flush(false) < 0 || target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  return !failed_;
}

}  // namespace vidtwine
