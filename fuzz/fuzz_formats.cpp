// Every format loader on arbitrary bytes, onto a screen.
//
// Input layout (missing bytes read as 0):
//   0  the loader: binary text, XBin, ArtWorx, iCE Draw, TundraDraw, PCBoard, Avatar
//   1  the screen width less 1 for the loaders that take it from the screen
//   .. the file
#include <algorithm>
#include <cstdint>
#include <span>

#include "formats/artworx_loader.hpp"
#include "formats/avatar_loader.hpp"
#include "formats/binary_text_loader.hpp"
#include "formats/ice_draw_loader.hpp"
#include "formats/pcboard_loader.hpp"
#include "formats/tundra_draw_loader.hpp"
#include "formats/xbin_loader.hpp"
#include "fuzz_support.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine::fuzz {
namespace {

constexpr unsigned kLoaders = 7;

/// The width a loader's screen gets: the header's where the format has one.
std::int32_t widthFor(unsigned loader, std::uint8_t chosen, std::span<const std::uint8_t> file) {
  if (loader == 1) {
    XBinHeader header;
    return XBinLoader::probe(file, header) == nullptr ? static_cast<std::int32_t>(header.width)
                                                      : -1;
  }
  if (loader == 3) {
    std::uint32_t width = 0;
    return IceDrawLoader::probe(file, width) == nullptr ? static_cast<std::int32_t>(width) : -1;
  }
  return chosen + 1;
}

}  // namespace
}  // namespace vidtwine::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vidtwine;
  using namespace vidtwine::fuzz;
  const unsigned loader = (size > 0 ? data[0] : 0) % kLoaders;
  const std::uint8_t chosen = size > 1 ? data[1] : 0;
  const std::span<const std::uint8_t> file(data + std::min<std::size_t>(size, 2),
                                           size - std::min<std::size_t>(size, 2));
  const std::int32_t width = widthFor(loader, chosen, file);
  if (width < 1) return 0;
  auto screen = VirtualScreen::create(width, 25, std::min(width, 8));
  FUZZ_CHECK(screen != nullptr);
  LoadReport report;
  InterpreterReport interpreted;
  auto stream = MemoryStream::create(file.size() + 1);
  stream->write(file.data(), file.size());
  switch (loader) {
    case 0:
      FUZZ_CHECK(BinaryTextLoader::load(*screen, *stream, file.size(), false) == nullptr);
      FUZZ_CHECK(screen->usedRows() == (file.size() / 2 + screen->width() - 1) / screen->width());
      break;
    case 1:
      XBinLoader::load(*screen, file, report);
      break;
    case 2:
      ArtworxLoader::load(*screen, file, report);
      break;
    case 3:
      IceDrawLoader::load(*screen, file, report);
      break;
    case 4:
      TundraDrawLoader::load(*screen, file, report);
      break;
    case 5:
      PcboardLoader::load(*screen, nullptr, *stream, interpreted);
      break;
    default:
      AvatarLoader::load(*screen, nullptr, *stream, interpreted);
      break;
  }
  // Memory follows the data: no row beyond what the bytes could reach (runs of XBin and
  // iCE Draw expand at most 256 times).
  if (loader <= 4) FUZZ_CHECK(screen->usedRows() <= 256 * file.size() + 1);
  for (std::uint64_t row = 0; row < screen->usedRows(); ++row) {
    FUZZ_CHECK(screen->rowCells(row).size() <= screen->width());
    const auto colors = screen->rowColors(row);
    FUZZ_CHECK(colors.empty() || colors.size() == screen->rowCells(row).size());
  }
  return 0;
}
