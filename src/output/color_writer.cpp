#include "output/color_writer.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace vidtwine {

namespace {

// Characters of `attributeRuns` and `styledRuns` encoded at once; the serialiser hands on
// pieces of this size.
constexpr std::size_t kRunPiece = 1024;

/// The style of each run of `attributeRuns`.
struct AttributeStyles {
  std::span<const CellAttribute> attributes;
  CellStyle operator()(std::size_t r) const noexcept { return {attributes[r], {}}; }
};

/// The style of each run of `styledRuns`.
struct GivenStyles {
  std::span<const CellStyle> styles;
  CellStyle operator()(std::size_t r) const noexcept { return styles[r]; }
};

}  // namespace

ColorWriter::ColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format, ColorFlags flags,
                         const ColorPolicy& policy)
    : target_(std::move(target)), encoder_(format), flags_(flags), planner_(policy) {}

int ColorWriter::targetDescriptor() const noexcept {
  return target_ != nullptr ? target_->fileDescriptor() : -1;
}

void ColorWriter::begin(bool styled) {
  styled_ = styled && !flags_.has(ColorFlag::NoColors);
  // Each screen comes with its own code-page table.
  encoder_.forgetTable();
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

inline void ColorWriter::keptStyle(const CellStyle& style) {
  // What is put out depends on the style and on the colours shown before, as long as
  // those are VGA colours or unknown.
  const ColorValue foreground = planner_.shownForeground();
  const ColorValue background = planner_.shownBackground();
  if (foreground >= 16 || background >= 16) {
    if (!spell(planner_.plan(style))) failed_ = true;
    return;
  }
  const std::uint32_t key = keptKey(planner_, style.attribute);
  // Taken whole: its slots are spread over all its pages at random.
  if (keptTable_ == nullptr) {
    keptStyles_ = PageBuffer::prefaulted(ownSlots_ * sizeof(KeptStyle));
    keptTable_ = keptStyles_.data();
    keptMask_ = ownSlots_ - 1;
  }
  KeptStyle& kept = keptSlot(keptTable_, keptMask_, key);
  if (kept.key != key) return spellAndKeep(style, kept, key);
  // All the slot's bytes are copied, a fixed size, which is quicker than a copy of the
  // exact length; only `length` of them count.
  std::memcpy(room(kept.bytes.size()), kept.bytes.data(), kept.bytes.size());
  at_ += kept.length;
  planner_.assumeShown(style.attribute);
}

void ColorWriter::spellAndKeep(const CellStyle& style, KeptStyle& kept, std::uint32_t key) {
  // Room first, so that the spelled bytes can be found in the buffer afterwards.
  const std::byte* const start = room(kept.bytes.size());
  const std::uint64_t flushes = flushes_;
  if (!spell(planner_.plan(style))) {
    failed_ = true;
    return;
  }
  if (flushes_ == flushes && static_cast<std::size_t>(at_ - start) <= kept.bytes.size()) {
    kept.key = key;
    kept.length = static_cast<std::uint8_t>(at_ - start);
    std::copy_n(start, kept.length, kept.bytes.begin());
  }
}

void ColorWriter::endRow() {
  if (!styled_ || failed_) return;
  if (!spellReset()) failed_ = true;
  planner_.forget();
}

void ColorWriter::text(std::span<const std::uint16_t> units) {
  constexpr std::size_t kChunk = 4096;
  while (!units.empty() && !failed_) {
    const std::size_t count = std::min(units.size(), kChunk);
    std::byte* const out = room(UnicodeEncoder::kMaxUnitBytes * count + UnicodeEncoder::kSlack);
    at_ += encoder_.encode(units.data(), count, out);
    units = units.subspan(count);
  }
}

template <typename StyleOf>
void ColorWriter::putRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                          std::size_t runs, StyleOf styleOf) {
  std::array<std::uint16_t, kRunPiece + 1> offsets;
  if (runs == 0) {
    // No style changes (rows without colours): encoded where the bytes go, not copied
    // (3% of ANSI art with -C).
    const std::size_t count = characters.size();
    std::byte* const out = room(UnicodeEncoder::kMaxUnitBytes * count + UnicodeEncoder::kSlack);
    at_ += encoder_.encodeCells(characters.cells.data(), count, *characters.table, out,
                                offsets.data());
    return;
  }
  // The piece is encoded in one go, a loop the processor predicts, instead of a short
  // loop per run; then each run's bytes are copied, short ones at a fixed size, since a
  // copy of the exact length would branch on it. The bytes read past the end are never
  // counted.
  std::array<std::byte, UnicodeEncoder::kMaxUnitBytes * kRunPiece + kShortRunBytes> encoded;
  encoder_.encodeCells(characters.cells.data(), characters.size(), *characters.table,
                       encoded.data(), offsets.data());
  const auto putEncoded = [&](std::size_t from, std::size_t to) {
    const std::size_t begin = offsets[from];
    const std::size_t length = offsets[to] - begin;
    at_ = copyEncoded(room(std::max(length, kShortRunBytes)), encoded.data() + begin, length);
  };
  if (starts[0] != 0) putEncoded(0, starts[0]);
  const EncodedPiece piece{encoded.data(), offsets.data()};
  for (std::size_t r = 0; r < runs && !failed_; ++r) {
    if constexpr (std::is_same_v<StyleOf, AttributeStyles>) {
      r += putKeptRuns(piece, starts, styleOf.attributes, r);
    } else if (styledRunsFirst_) {
      r += putStyledRuns(piece, starts, styleOf.styles, r);
    }
    if (r == runs) break;
    style(styleOf(r));
    putEncoded(starts[r], starts[r + 1]);
  }
}

std::size_t ColorWriter::putKeptRuns(EncodedPiece piece, std::span<const std::uint32_t> starts,
                                     std::span<const CellAttribute> attributes, std::size_t first) {
  if (!keepStyles_ || keptTable_ == nullptr) return 0;
  // Kept spellings follow VGA colours or unknown ones only; after a kept run the shown
  // colours are VGA colours, so this holds for the rest.
  if (planner_.shownForeground() >= 16 || planner_.shownBackground() >= 16) return 0;
  std::byte* const table = keptTable_;
  const std::size_t mask = keptMask_;
  // What `style` does for a kept spelling: the whole slot copied, a fixed size.
  return putRunsWith<sizeof(KeptStyle::bytes)>(
      piece, starts, attributes.size(), first,
      [table, mask, attributes](std::byte* at, std::size_t r, ColorPlanner& shown) -> std::byte* {
        const CellAttribute attribute = attributes[r];
        const std::uint32_t key = keptKey(shown, attribute);
        const KeptStyle& kept = keptSlot(table, mask, key);
        if (kept.key != key) return nullptr;
        std::memcpy(at, kept.bytes.data(), kept.bytes.size());
        shown.assumeShown(attribute);
        return at + kept.length;
      });
}

void ColorWriter::attributeRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                                std::span<const CellAttribute> attributes) {
  if (characters.size() > kRunPiece) {
    return TextEventSink::attributeRuns(characters, starts, attributes);
  }
  putRuns(characters, starts, attributes.size(), AttributeStyles{attributes});
}

void ColorWriter::styledRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                             std::span<const CellStyle> styles) {
  if (characters.size() > kRunPiece) return TextEventSink::styledRuns(characters, starts, styles);
  putRuns(characters, starts, styles.size(), GivenStyles{styles});
}

void ColorWriter::handOver() {
  // What was written goes to the target unless a write failed before: a failure is final.
  if (!failed_ && at_ != begin_) {
    if (inTarget_) {
      target_->commitRoom(static_cast<std::size_t>(at_ - begin_));
    } else {
      const auto length = static_cast<std::uint64_t>(at_ - begin_);
      if (target_ == nullptr || target_->write(begin_, length) != length) failed_ = true;
    }
    if (target_ == nullptr || target_->status() != StreamStatus::Ok) failed_ = true;
  }
  ++flushes_;
  inTarget_ = false;
  begin_ = at_ = buffer_.data();
  end_ = buffer_.data() + buffer_.size();
}

std::byte* ColorWriter::moreRoom(std::size_t bytes) {
  handOver();
  if (!failed_ && target_ != nullptr) {
    // Only room for a good many writes is worth taking.
    const std::span<std::byte> targetRoom = target_->writeRoom();
    if (targetRoom.size() >= std::max(bytes, buffer_.size())) {
      inTarget_ = true;
      begin_ = at_ = targetRoom.data();
      end_ = begin_ + targetRoom.size();
    }
  }
  return at_;
}

bool ColorWriter::finish() {
  handOver();
  if (!failed_ && (target_->flush(false) < 0 || target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  return !failed_;
}

}  // namespace vidtwine
