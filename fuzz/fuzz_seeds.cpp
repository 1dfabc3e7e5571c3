// Writes the seed corpora of the fuzz targets: fuzz_seeds OUTDIR [CORPUSDIR]
//
// OUTDIR/render, OUTDIR/sauce and OUTDIR/command_line receive hand-made inputs, generated
// SAUCE records with comment blocks and, when CORPUSDIR is given and exists, the art files
// found there, with settings bytes in front as each target expects them.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sauce/sauce_builder.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using vidtwine::test::SauceBuilder;

// Seeds are kept short: long ones slow every mutation of them down.
constexpr std::size_t kMaxSeedSize = 16384;
// How much of the end of a long file is kept: SAUCE record, comments and the text before.
constexpr std::size_t kKeptTail = 4096;

class SeedWriter {
 public:
  explicit SeedWriter(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }

  void write(const std::string& name, std::string_view bytes) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ++count_;
  }
  int count() const { return count_; }

 private:
  fs::path dir_;
  int count_ = 0;
};

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The start and the end of a long file, which keeps its SAUCE block.
std::string shortened(const std::string& bytes) {
  if (bytes.size() <= kMaxSeedSize) return bytes;
  return bytes.substr(0, kMaxSeedSize - kKeptTail) + bytes.substr(bytes.size() - kKeptTail);
}

/// The seventeen settings bytes of fuzz_render.
std::string renderSettings(std::uint8_t codepage, std::uint8_t mapper, std::uint8_t serialize,
                           std::uint8_t colors, std::uint8_t output, std::uint8_t chain,
                           std::uint16_t width, std::uint8_t height, std::uint8_t tab) {
  std::string bytes;
  for (const std::uint8_t b : {codepage, mapper, serialize, colors, output, chain}) {
    bytes += static_cast<char>(b);
  }
  bytes += static_cast<char>((width - 16) & 0xFF);
  bytes += static_cast<char>((width - 16) >> 8);
  bytes += static_cast<char>(height - 1);
  bytes += static_cast<char>(tab - 1);
  bytes += static_cast<char>(0x40);
  bytes += "\x12\x34\x56\xAB\xCD\xEF";  // the 24-bit ink and paper, where asked for
  return bytes;
}

// A handful of option sets: generic colours in 8, 16, 256 and 24-bit colours, each terminfo
// description, UTF-16, the memory sinks, SAUCE geometry, both dialects, a 24-bit pen.
const std::vector<std::string>& renderSettingsSet() {
  static const std::vector<std::string> sets = {
      renderSettings(0, 0x08, 0x00, 0x10, 0x00, 0x00, 80, 25, 8),
      renderSettings(0, 0x08, 0x08, 0x03, 0x00, 0x81, 80, 25, 8),
      renderSettings(4, 0x3C, 0x17, 0xA0, 0x01, 0x35, 132, 50, 4),
      renderSettings(7, 0x02, 0x01, 0x08, 0x04, 0x05, 80, 25, 8),
      renderSettings(11, 0x08, 0x02, 0x14, 0x0E, 0x64, 160, 25, 8),
      renderSettings(16, 0x49, 0x04, 0x10, 0x1C, 0x2D, 80, 43, 8),
      renderSettings(19, 0x08, 0x00, 0x22, 0xA6, 0xD2, 40, 25, 3),
      renderSettings(2, 0x00, 0x0B, 0x04, 0x24, 0x5F, 1024, 255, 255),
      renderSettings(0, 0x78, 0x10, 0x10, 0x3C, 0x01, 80, 25, 8),
  };
  return sets;
}

void writeRenderSeeds(SeedWriter& seeds,
                      const std::vector<std::pair<std::string, std::string>>& files) {
  // Each command and mode of the interpreter at least once.
  const std::vector<std::string> texts = {
      "Hello, world\r\n\tTab\bX\a\x00\x1A hidden"s,
      "\x1b[2J\x1b[1;31mred\x1b[0m \x1b[5;44mblink\x1b[7mrev\x1b[8mhidden\x1b[28;27;25;22m",
      "\x1b[10;20Hxy\x1b[3A\x1b[2B\x1b[5C\x1b[2D\x1b[f\x1b[1;1f",
      "\x1b[s\x1b[12;40Hmid\x1b[u\x1b[K\x1b[1K\x1b[2K\x1b[J\x1b[1J\x1b[2J",
      "\x1b[=7l" + std::string(200, '#') + "\x1b[?7h" + std::string(200, '=') + "\r\n",
      "\x1b[0hforty\x1b[=1h\x1b[3hback to eighty\x1b[=2l",
      "\x1b[1;2;3;4;5;6;7;8;9mnine parameters",
      "\x1b[4294967295C\x1b[99999999999A\x1b[0;0H\x1b[39;49m\x1b[30;47m\x1b[37;40m",
      "\x1b[1;33;44m\xdb\xdb\xb0\xb1\xb2\x1b[0m\xc9\xcd\xbb\r\n\xc8\xcd\xbc\x7c\x7f\x80\xff",
      std::string("\x1b[", 2) + "\x1b" + "[\x1b[=>?1m" + "\x1b\x1b[",
      "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\b\b\b\r\n\n\n\n\x1b[25A\x1b[s\x1b[99B\x1b[u*",
      "\x1b[38;2;255;128;0morange\x1b[48;2;0;0;128m on navy\x1b[38;5;201m\x1b[7mrev\x1b[0m\n"
      "\x1b[?33h\x1b[5;41mice\x1b[2@\x1b[3P\x1b[2L\x1b[M\x1b[4X\x1b[?33l\n",
  };
  const auto& sets = renderSettingsSet();
  std::size_t index = 0;
  for (const std::string& text : texts) {
    for (std::size_t s = 0; s < sets.size(); s += 3) {
      seeds.write("text-" + std::to_string(index), sets[(s + index) % sets.size()] + text);
      ++index;
    }
  }

  SauceBuilder sauce;
  sauce.title = "Seed";
  sauce.tInfo1 = 40;
  sauce.fontName = "IBM VGA50 866";
  sauce.comments = {"a comment"};
  seeds.write("sauce-40-columns", sets[5] + sauce.file("\x1b[1;32m\xad\xae\xaf text\r\n\x1a"));
  sauce.tInfo1 = 132;
  sauce.fontName = "IBM EGA43 858";
  sauce.tFlags = 0x01;
  seeds.write("sauce-132-columns", sets[6] + sauce.file(std::string(300, '\xb1') + "\x1a"));

  for (std::size_t i = 0; i < files.size(); ++i) {
    seeds.write("corpus-" + files[i].first, sets[i % sets.size()] + shortened(files[i].second));
  }
}

/// Records that take the reader, the display's comment flow and the query down their paths.
std::vector<std::pair<std::string, std::string>> generatedSauceFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  const auto add = [&](const std::string& name, const SauceBuilder& b, std::string_view text) {
    files.emplace_back(name, b.file(text));
  };

  SauceBuilder plain;
  plain.title = "Title of the work";
  plain.author = "Someone";
  plain.group = "A group";
  plain.tInfo1 = 80;
  plain.tInfo2 = 25;
  plain.tFlags = 0x13;
  plain.fontName = "IBM VGA";
  add("plain", plain, "text\x1a");

  SauceBuilder comments = plain;
  comments.comments = {
      "A first paragraph that is long enough to be re-flowed into rows of",
      "sixty-four columns, with a word cut in the midd",
      "le of it and a short line.",
      "",
      "\xb0\xb1\xb2\xdb block graphics stay as they are",
      std::string(64, 'x'),
      std::string(63, 'y') + " ",
      "  leading blanks and 'quotes' and \x07\x08\x09\x0a\x0d\x1b controls",
  };
  add("comments", comments, "\x1b[0m");

  SauceBuilder raw = comments;
  raw.padding = '\0';
  raw.fontName = "IBM EGA43 437";
  raw.date = "20241231";
  add("nul-padded", raw, "");

  SauceBuilder many = plain;
  for (int i = 0; i < 255; ++i) {
    many.comments.push_back(i % 7 == 0 ? "" : std::string(static_cast<std::size_t>(i % 65), 'w'));
  }
  add("many-comments", many, "");

  SauceBuilder odd = plain;
  odd.dataType = 0;
  odd.fontName = "Amiga Topaz 2";
  odd.date = "  980305";
  add("untyped", odd, "x");
  odd.dataType = 5;
  odd.fileType = 80;
  odd.date = "19X0A1B2";
  add("binary-text", odd, "x");
  odd.dataType = 1;
  odd.fileType = 2;
  odd.date = "-1+2-3+4";
  odd.fontName = "IBM VGA25G 850";
  odd.tInfo1 = 0xFFFF;
  odd.tInfo2 = 0xFFFF;
  add("extremes", odd, "x");

  SauceBuilder broken = comments;
  broken.commentCount = 40;  // more lines announced than present
  add("short-comment-block", broken, "");
  broken.commentCount.reset();
  broken.commentId = "COMNX";
  add("bad-comment-id", broken, "");
  broken.commentId = "COMNT";
  broken.version = "01";
  add("version-01", broken, "");
  return files;
}

// For the format loaders: each corpus file whose extension names a format, with that
// loader and a width of 160; every loader also gets a small made-up file.
void writeFormatSeeds(SeedWriter& seeds,
                      const std::vector<std::pair<std::string, std::string>>& files) {
  const std::pair<const char*, char> kExtensions[] = {
      {".bin", 0}, {".xb", 1}, {".adf", 2}, {".idf", 3}, {".tnd", 4}, {".pcb", 5}, {".avt", 6}};
  for (const auto& [name, bytes] : files) {
    std::string lower = name;
    for (char& c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [extension, loader] : kExtensions) {
      if (!lower.ends_with(extension)) continue;
      seeds.write(name, std::string{loader, static_cast<char>(159)} + bytes.substr(0, 60000));
    }
  }
  for (char loader = 0; loader < 7; ++loader) {
    std::string made = {loader, 79};
    for (int i = 0; i < 400; ++i)
      made += static_cast<char>(i * 37);
    seeds.write("made-" + std::to_string(loader), made);
  }
}

void writeSauceSeeds(SeedWriter& seeds,
                     const std::vector<std::pair<std::string, std::string>>& files) {
  // Settings byte and query: all letters, quoting switched on and off.
  const std::string fullQuery = ":TAGDCtwhbsafc";
  std::string prefix;
  prefix += static_cast<char>(0x04 | (fullQuery.size() << 4));
  prefix += static_cast<char>(0x10);
  for (const char letter : fullQuery) {
    prefix += static_cast<char>(fullQuery.find(letter));
  }
  std::string rawPrefix;
  rawPrefix += static_cast<char>(0x33);
  rawPrefix += static_cast<char>(0x03);
  rawPrefix += "\x00\x09\x01"s;

  for (const auto& [name, bytes] : generatedSauceFiles()) {
    seeds.write("generated-" + name, prefix + bytes);
    seeds.write("generated-raw-" + name, rawPrefix + bytes);
  }
  for (const auto& [name, bytes] : files) {
    // The reader only looks at the end of a file.
    const std::size_t keep = std::min<std::size_t>(bytes.size(), kKeptTail);
    seeds.write("corpus-" + name, prefix + bytes.substr(bytes.size() - keep));
  }
}

void writeCommandLineSeeds(SeedWriter& seeds) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"art.ans"},
      {"-a", "-o", "out.txt", "art.ans"},
      {"-c", "866", "readme.txt"},
      {"-cCP-858", "-e", "-u", "UTF-16LE", "-b", "-l", "-r"},
      {"-q", ":TAD", "art.ans"},
      {"-qwc:", "x"},
      {"-xyIv", "-kdmp", "-H50", "-t4", "-w", "132", "--", "-file"},
      {"-T", "-Xc", "maz"},
      {"-sSW", "-E", "-P", "-B", "-R", "-C", "-A", "-"},
      {"-ocqtuwH", "a", "b", "c", "d", "e", "f", "g"},
      {"-w", "15"},
      {"-w", "+80"},
      {"-t", "256"},
      {"-u", "utf-16-be", "-u", "utf8"},
      {"-c", "cp 437", "one", "two"},
      {"-o"},
      {"--", "--", "-a"},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string bytes;
    for (std::size_t w = 0; w < lines[i].size(); ++w) {
      if (w > 0) bytes += '\0';
      bytes += lines[i][w];
    }
    seeds.write("line-" + std::to_string(i), bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTDIR [CORPUSDIR]\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];

  std::vector<std::pair<std::string, std::string>> files;
  std::error_code error;
  if (argc == 3 && fs::is_directory(argv[2], error)) {
    for (const auto& entry : fs::directory_iterator(argv[2])) {
      if (!entry.is_regular_file() || entry.path().filename() == "MANIFEST.tsv") continue;
      files.emplace_back(entry.path().filename().string(), readAll(entry.path()));
    }
  }

  SeedWriter render(out / "render");
  writeRenderSeeds(render, files);
  SeedWriter sauce(out / "sauce");
  writeSauceSeeds(sauce, files);
  SeedWriter commandLine(out / "command_line");
  writeCommandLineSeeds(commandLine);
  SeedWriter formats(out / "formats");
  writeFormatSeeds(formats, files);
  std::printf("seeds: %d render, %d sauce, %d command_line, %d formats (%zu corpus files)\n",
              render.count(), sauce.count(), commandLine.count(), formats.count(), files.size());
  return 0;
}
