#include "support/generated_inputs.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "sauce/sauce_builder.hpp"

namespace vidtwine::test {

namespace {

/// splitmix64: the library's distributions differ between implementations, this does not.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  bool percent(std::uint32_t p) { return below(100) < p; }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(static_cast<std::uint32_t>(items.size()))];
  }

 private:
  std::uint64_t state_;
};

const std::string kEsc = "\x1b";
const std::string kCsi = "\x1b[";

std::string hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return text;
}

class Inputs {
 public:
  void add(std::string_view kind, std::string bytes) {
    char number[8];
    std::snprintf(number, sizeof number, "%03zu-", list_.size());
    list_.push_back({number + std::string(kind), std::move(bytes)});
  }

  /// Printable text with a share of the CP437 block and line characters.
  std::string text(std::size_t length) {
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) {
      bytes += random_.percent(30) ? static_cast<char>(0xB0 + random_.below(0x30))
                                   : static_cast<char>('!' + random_.below(94));
    }
    return bytes;
  }

  /// A random SGR sequence of one to four codes, now and then an out-of-range one.
  std::string sgr() {
    std::string bytes = kCsi;
    const std::uint32_t count = 1 + random_.below(4);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i > 0) bytes += ';';
      const std::uint32_t code = random_.percent(85) ? random_.below(50) : random_.below(300);
      if (!random_.percent(3)) bytes += std::to_string(code);
    }
    return bytes + "m";
  }

  /// Coloured art of about `rows` lines of at most `width` characters, with small cursor
  /// moves in between.
  std::string art(std::uint32_t rows, std::uint32_t width) {
    std::string bytes;
    for (std::uint32_t row = 0; row < rows; ++row) {
      std::uint32_t column = 0;
      while (column < width) {
        const std::uint32_t run = 1 + random_.below(std::min<std::uint32_t>(12, width - column));
        switch (random_.below(6)) {
          case 0:
            bytes += sgr();
            break;
          case 1:
            bytes += kCsi + std::to_string(run) + "C";
            column += run;
            continue;
          default:
            break;
        }
        bytes += text(run);
        column += run;
      }
      if (row + 1 < rows) bytes += random_.percent(80) ? "\r\n" : "\n";
    }
    return bytes;
  }

  Random& random() { return random_; }
  std::vector<GeneratedInput> take() { return std::move(list_); }

 private:
  Random random_{0x76696474776e65u};
  std::vector<GeneratedInput> list_;
};

void controlBytes(Inputs& in) {
  for (unsigned byte = 0; byte < 0x20; ++byte) {
    const char c = static_cast<char>(byte);
    in.add("control-" + hex2(byte), std::string("Line one") + c + "after\r\nX" + c + c +
                                        "Y\tZ\r\n" + in.text(20) + c + "\r\nend");
  }
  std::string high;
  for (unsigned byte = 0x7F; byte <= 0xFF; ++byte) {
    high += static_cast<char>(byte);
    if (byte % 16 == 15) high += "\r\n";
  }
  in.add("high-bytes", high);
  std::string all;
  for (unsigned byte = 0; byte <= 0xFF; ++byte) {
    if (byte != 0x1A) all += static_cast<char>(byte);
  }
  in.add("all-bytes-but-eof", all);
  for (int i = 0; i < 3; ++i) {
    std::string bytes;
    for (int j = 0; j < 400; ++j)
      bytes += static_cast<char>(0x7F + in.random().below(0x81));
    in.add("random-high", bytes);
  }
}

void escapes(Inputs& in) {
  in.add("esc-only", kEsc);
  in.add("esc-at-end", "text" + kEsc);
  in.add("csi-at-end", "text" + kCsi);
  in.add("esc-esc", "a" + kEsc + kEsc + "[31mred" + kEsc + kEsc + "b");
  for (const char* follower :
       {"c", "7", "8", "D", "M", "(B", "\r\n", "\x1a", " ", "\xff", "]0;x\a", "O", "\x1b[1m"}) {
    in.add("esc-then", "ab" + kEsc + follower + "cd\r\nef");
  }
}

void csiFinals(Inputs& in) {
  const std::string finals = "mhlABCDHfJKsu@PnqrtzSTX`~{Lj";
  const std::vector<std::string> prefixes = {"?", "=", ">"};
  for (const char final : finals) {
    const std::string scene = "AAAAAAAAAA\r\nBBBBBBBBBBBB\r\nCCCC" + kCsi + "2;3H" + "xx";
    const std::string tail = "yy\r\n" + in.text(10);
    const bool letter = std::isalpha(static_cast<unsigned char>(final)) != 0;
    const std::string name =
        "csi-" + (letter ? std::string(1, final) : hex2(static_cast<unsigned>(final)));
    Random& r = in.random();
    in.add(name + "-bare", scene + kCsi + final + tail);
    in.add(name + "-one", scene + kCsi + std::to_string(r.below(100)) + final + tail);
    const std::uint32_t row = r.below(30);
    const std::uint32_t column = r.below(90);
    in.add(name + "-two",
           scene + kCsi + std::to_string(row) + ";" + std::to_string(column) + final + tail);
    const std::string prefix = r.pick(prefixes);
    in.add(name + "-prefixed", scene + kCsi + prefix + std::to_string(r.below(20)) + final + tail);
  }
}

void modes(Inputs& in) {
  std::string body = std::string(100, 'w') + "\r\n" + in.text(150);
  body += "\n" + in.text(30);
  for (const char* mode : {"=0h", "=1h", "=2h", "=3h", "=4h", "=7h", "=7l", "?7l", "?7h", "7l",
                           "=13h", "=19h", "=255h", "=1l"}) {
    in.add("mode", "start" + kCsi + mode + body + kCsi + "=7h" + in.text(90));
  }
}

void brokenSequences(Inputs& in) {
  in.add("broken", kCsi + "12;");
  in.add("broken", kCsi + std::string(300, '7') + "mX");
  in.add("broken", "a" + kCsi + "1;2\r\ntext");
  in.add("broken", "a" + kCsi + "1 qb" + kCsi + "!pc");
  in.add("broken", "a" + kCsi + "3\x1a" + "1mafter");
  in.add("broken", kCsi + ";mA" + kCsi + ";;HB" + kCsi + "0;;5HC" + kCsi + ",5HD");
  in.add("broken", "a" + kCsi + "1\xc4mb" + kCsi + "\xffz");
  in.add("broken", "a" + kCsi + "1" + kCsi + "31mred");
  in.add("broken", kCsi + "?" + "x" + kCsi + "=" + "y" + kCsi + ">" + "z");
  in.add("broken", kCsi + "?=>?=>5;6H" + "q");
  in.add("broken", kCsi + "1;2;3;4;5;6;7;8" + std::string(500, '9') + "mtext");
  std::string many;
  for (int i = 0; i < 200; ++i)
    many += kCsi + std::to_string(in.random().below(60)) + (i % 7 == 0 ? "" : "m") + "x";
  in.add("broken-mix", many);
}

void parameterCounts(Inputs& in) {
  in.add("params-8", "a" + kCsi + "1;2;3;4;5;6;7;31mred\r\nok");
  in.add("params-9", "a" + kCsi + "1;2;3;4;5;6;7;8;31mred\r\nok");
  in.add("params-9-empty", "a" + kCsi + ";;;;;;;;mtext");
  in.add("params-12-late", in.art(5, 60) + kCsi + "1;1;1;1;1;1;1;1;1;1;1;1H" + "x");
  in.add("params-9-comma", "a" + kCsi + "1,2,3,4,5,6,7,8,9m");
}

void hugeNumbers(Inputs& in) {
  const std::vector<std::string> numbers = {"4294967295",  "4294967296", "4294967297",
                                            "99999999999", "2147483647", "2147483648",
                                            "65535",       "65536",      "0"};
  const std::vector<std::string> finals = {"A", "B", "D", "m", "J", "K", "f"};
  for (const std::string& number : numbers) {
    const std::string scene = "one\r\ntwo\r\nthree" + kCsi + "3;3H";
    in.add("huge-C", scene + kCsi + number + "CX\r\nY");
    in.add("huge-H", scene + kCsi + number + ";" + number + "HX\r\nY");
    in.add("huge", scene + kCsi + number + in.random().pick(finals) + "X\r\nY");
  }
}

void linesAndMovement(Inputs& in) {
  in.add("long-line", in.text(1000));
  in.add("long-line", std::string(20000, 'L'));
  const std::string longLine = in.text(300);
  in.add("long-lines", longLine + "\r\n" + in.text(300) + "\r\n");
  in.add("line-feeds", "top" + std::string(5000, '\n') + "bottom");
  std::string crlf;
  for (int i = 0; i < 3000; ++i)
    crlf += std::to_string(i) + "\r\n";
  in.add("crlf-lines", crlf);
  in.add("carriage-returns", "xxxxxxxxxx\ryy\r\rz\r\n\r" + in.text(20) + "\r");
  in.add("tabs", std::string(20, '\t') + "end\r\na\tb\tc\td\r\n" + std::string(78, '-') + "\tT");
  const std::string word = in.text(5);
  in.add("tabs", "\t\t\t\t\t\t\t\t\t\t" + word + "\t\t\t" + in.text(70) + "\t\t\r\n\tx");
  in.add("backspaces", "\b\b\bX\r\nabc\b\bY\r\n" + std::string(80, 'w') + "\b\bZ\r\n\b");
  in.add("backspaces", std::string(500, '\b') + "after" + std::string(10, '\b') + "q");
  const std::vector<std::string> moves = {"200C",  "99B",   "99A",    "99D",  "0;0H",   "500;500H",
                                          "30;1H", "1;90f", "25;80H", "1;0H", "300;1H", "5;120f"};
  for (const std::string& move : moves) {
    in.add("move",
           "one\r\ntwo" + kCsi + move + "X" + kCsi + "s" + kCsi + "50B" + kCsi + "u" + "Y\r\nlast");
  }
  in.add("eof-middle",
         "abc\x1a"
         "def");
  in.add("eof-in-sequence", "abc" + kCsi + "31\x1amdef");
  in.add("eof-first", "\x1a" + in.text(40));
  const std::string before = in.art(3, 50);
  in.add("eof-twice", before + "\x1a\x1a" + in.art(2, 40));
}

void randomArt(Inputs& in) {
  for (int i = 0; i < 30; ++i) {
    Random& r = in.random();
    std::string bytes;
    const std::uint32_t tokens = 50 + r.below(250);
    for (std::uint32_t t = 0; t < tokens; ++t) {
      switch (r.below(10)) {
        case 0:
        case 1:
        case 2:
          bytes += in.sgr();
          break;
        case 3:
          bytes += r.percent(70) ? "\r\n" : "\n";
          break;
        case 4:
          bytes += kCsi + std::to_string(r.below(20));
          bytes += "ABCD"[r.below(4)];
          break;
        default:
          bytes += in.text(1 + r.below(15));
          break;
      }
    }
    in.add("random-sgr", bytes);
  }
}

/// The FileSize field of the record that ends `file`, which nothing should trust.
void setFileSize(std::string& file, std::uint32_t size) {
  const std::size_t field = file.size() - 128 + 90;
  for (std::size_t i = 0; i < 4; ++i)
    file[field + i] = static_cast<char>(size >> (8 * i));
}

void sauce(Inputs& in) {
  const auto add = [&](std::string_view kind, const std::string& content, const SauceBuilder& s,
                       bool eof = true) { in.add(kind, content + (eof ? "\x1a" : "") + s.file()); };
  SauceBuilder sound;
  sound.title = "Digest";
  sound.author = "Someone";
  sound.group = "Group";
  sound.fontName = "IBM VGA";
  sound.tInfo1 = 80;
  sound.tInfo2 = 5;
  sound.comments = {"first line of the comment", "second"};
  add("sauce-sound", in.art(5, 80), sound);
  add("sauce-no-eof", in.art(5, 80), sound, false);
  in.add("sauce-record-only", sound.record());
  SauceBuilder lying = sound;
  lying.commentCount = 5;
  add("sauce-count-high", in.art(3, 80), lying);
  lying.commentCount = 255;
  add("sauce-count-255", in.art(1, 40), lying);
  lying.commentCount = 1;
  add("sauce-count-low", in.art(3, 80), lying);
  lying = sound;
  lying.commentId = "COMMT";
  add("sauce-bad-comment-id", in.art(3, 80), lying);
  lying = sound;
  lying.version = "01";
  add("sauce-version-01", in.art(3, 80), lying);
  lying = sound;
  lying.tInfo1 = 65535;
  lying.tInfo2 = 1;
  add("sauce-width-65535", in.art(1, 300), lying);
  lying.tInfo1 = 1;
  add("sauce-width-1", in.art(2, 20), lying);
  lying.tInfo1 = 0;
  lying.tInfo2 = 65535;
  add("sauce-width-0", in.art(4, 80), lying);
  lying = sound;
  lying.dataType = 5;
  lying.fileType = 80;
  add("sauce-binary", in.art(3, 80), lying);
  lying = sound;
  lying.fontName = "IBM VGA50 866";
  add("sauce-font-866", "\x8f\xe0\xa8\xa2\xa5\xe2 \xac\xa8\xe0\r\n" + in.art(3, 80), lying);
  lying.fontName = "IBM EGA43 850";
  add("sauce-font-850", in.art(3, 80), lying);
  lying.fontName = "IBM VGA 9999";
  add("sauce-font-unknown-cp", in.art(3, 80), lying);
  lying = sound;
  lying.date = "19x1ab02";
  lying.padding = '\0';
  std::string record = lying.file(in.art(2, 80));
  setFileSize(record, 0xFFFFFFFFu);
  in.add("sauce-bad-date-filesize", record);

  const std::vector<std::uint8_t> dataTypes = {0, 1, 1, 1, 1, 2, 5, 6, 8};
  const std::vector<std::string> fonts = {"",
                                          "IBM VGA",
                                          "IBM VGA 437",
                                          "IBM VGA50",
                                          "IBM EGA43 865",
                                          "IBM VGA25G 852",
                                          "Amiga Topaz 1+",
                                          "IBM VGA 720",
                                          "IBM \x1b[31m"};
  const std::vector<std::uint16_t> widths = {0, 40, 80, 80, 100, 132, 160, 300, 1000, 65535};
  for (int i = 0; i < 50; ++i) {
    Random& r = in.random();
    SauceBuilder s;
    s.title = in.text(r.below(40));
    s.author = in.text(r.below(24));
    s.group = r.percent(20) ? std::string("A\tB\nC\rD\bE") : in.text(r.below(24));
    s.date = r.percent(80) ? std::to_string(19800101 + r.below(450000)) : in.text(8);
    s.dataType = r.pick(dataTypes);
    s.fileType = static_cast<std::uint8_t>(r.percent(80) ? r.below(3) : r.below(256));
    s.tInfo1 = r.pick(widths);
    s.tInfo2 = static_cast<std::uint16_t>(r.percent(70) ? r.below(100) : r.below(65536));
    s.tFlags = static_cast<std::uint8_t>(r.below(256));
    s.fontName = r.pick(fonts);
    s.padding = r.percent(30) ? '\0' : ' ';
    for (std::uint32_t c = r.percent(50) ? 1 + r.below(4) : 0; c > 0; --c)
      s.comments.push_back(in.text(r.below(70)));
    if (r.percent(15)) s.commentCount = static_cast<std::uint8_t>(r.below(8));
    // Wide screens get few rows, so that no output grows beyond a few hundred kilobytes.
    const std::uint32_t rows = s.tInfo1 > 300 ? 1 : 1 + r.below(12);
    const std::string content = in.art(rows, s.tInfo1 > 300 ? 120 : 80);
    std::string file = content + (r.percent(80) ? "\x1a" : "") + s.file();
    if (r.percent(30)) setFileSize(file, static_cast<std::uint32_t>(r.next()));
    in.add("sauce-random", file);
  }
}

}  // namespace

std::vector<GeneratedInput> generatedInputs() {
  Inputs in;
  controlBytes(in);
  escapes(in);
  csiFinals(in);
  modes(in);
  brokenSequences(in);
  parameterCounts(in);
  hugeNumbers(in);
  linesAndMovement(in);
  randomArt(in);
  sauce(in);
  return in.take();
}

}  // namespace vidtwine::test
