// Rendering through the built binary: colours, geometry, inputs, outputs and failures.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/colour_table.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::readFile;
using test::runVidtwine;
using test::TempDir;
using test::visible;
using test::writeFile;

using test::ColourRow;
using test::kMarkerInput;

TEST(RenderCli, GenericColourWriterTable) {
  const std::string n;  // nothing
  const std::vector<ColourRow> rows = {
      {{"-a"},
       {"ESC[40;37m", "ESC[44;97m", "ESC[104m", "ESC[40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {{"-a", "-d"},
       {n, "ESC[44;97m", "ESC[104m", "ESC[m", "ESC[96m", "ESC[36m", "ESC[43;33m", "ESC[m", n}},
      {{"-a", "-k"},
       {"ESC[40;37m", "ESC[44;97m", "ESC[5m", "ESC[;40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {{"-A", "-k"},
       {"ESC[40;37m", "ESC[44;97m", "ESC[5m", "ESC[25;40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {{"-a", "-I"},
       {"ESC[40;37m", "ESC[1;44m", n, "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {{"-a", "-I", "-k"},
       {"ESC[40;37m", "ESC[1;44m", "ESC[5m", "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m",
        "ESC[43;33m", "ESC[m", "ESC[40;37m"}},
      {{"-a", "-v"},
       {"ESC[40;37m", "ESC[1;44m", "ESC[7m", "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m",
        "ESC[43;33m", "ESC[m", "ESC[40;37m"}},
      {{"-A", "-I"},
       {"ESC[40;37m", "ESC[1;44m", n, "ESC[22;40m", "ESC[1;36m", "ESC[22m", "ESC[43;33m", "ESC[m",
        "ESC[40;37m"}},
      {{"-A", "-I", "-k"},
       {"ESC[40;37m", "ESC[1;44m", "ESC[5m", "ESC[25;22;40m", "ESC[1;36m", "ESC[22m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {{"-a", "-I", "-d"},
       {n, "ESC[1;44m", n, "ESC[m", "ESC[1;36m", "ESC[;36m", "ESC[43;33m", "ESC[m", n}},
      {{"-a", "-x"},
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {{"-a", "-y"},
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;142;38;5;142m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {{"-a", "-x", "-k"},
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[5m", "ESC[;48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {{"-a", "-x", "-d"},
       {n, "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[m", "ESC[38;5;87m", "ESC[38;5;37m",
        "ESC[48;5;130;38;5;130m", "ESC[m", n}},
      // The exact VGA palette: gray AAAAAA, blue 0000AA, light blue 5555FF, brown AA5500.
      {{"--truecolor"},
       {"ESC[48;2;0;0;0;38;2;170;170;170m", "ESC[48;2;0;0;170;38;2;255;255;255m",
        "ESC[48;2;85;85;255m", "ESC[48;2;0;0;0;38;2;170;170;170m", "ESC[38;2;85;255;255m",
        "ESC[38;2;0;170;170m", "ESC[48;2;170;85;0;38;2;170;85;0m", "ESC[m",
        "ESC[48;2;0;0;0;38;2;170;170;170m"}},
      {{"--truecolor", "-k"},
       {"ESC[48;2;0;0;0;38;2;170;170;170m", "ESC[48;2;0;0;170;38;2;255;255;255m", "ESC[5m",
        "ESC[;48;2;0;0;0;38;2;170;170;170m", "ESC[38;2;85;255;255m", "ESC[38;2;0;170;170m",
        "ESC[48;2;170;85;0;38;2;170;85;0m", "ESC[m", "ESC[48;2;0;0;0;38;2;170;170;170m"}},
      {{"--truecolor", "-d", "-y"},
       {n, "ESC[48;2;0;0;170;38;2;255;255;255m", "ESC[48;2;85;85;255m", "ESC[m",
        "ESC[38;2;85;255;255m", "ESC[38;2;0;170;170m", "ESC[48;2;170;170;0;38;2;170;170;0m",
        "ESC[m", n}},
      {{"-a", "-x", "-v"},
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {{"-a", "-C"}, {n, n, n, n, n, n, n, n, n}},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.options;
    args.insert(args.end(), {"-w", "16"});
    test::RunOptions options;
    options.input = kMarkerInput;
    const auto result = runVidtwine(args, options);
    EXPECT_EQ(result.status, 0) << row.label();
    EXPECT_EQ(visible(result.out), row.expected()) << row.label();
  }
}

TEST(RenderCli, PlainTextPassesWithoutAnyMarker) {
  test::RunOptions options;
  options.input = "Hello\r\nworld\r\n";
  const auto result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Hello" + std::string(75, ' ') + "\nworld" + std::string(75, ' ') + "\n");
  EXPECT_EQ(result.err, "");
  const auto trimmed = runVidtwine({"-a", "-d"}, options);
  EXPECT_EQ(trimmed.out, "Hello\nworld\n");
}

TEST(RenderCli, EncodingsAndTheirMarks) {
  test::RunOptions options;
  options.input = "A\x7f";
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{"-a", "-d"}, "A\xe2\x8c\x82\n"},
      {{"-a", "-d", "-r"}, "A\xe2\x8c\x82\r\n"},
      {{"-a", "-d", "-b"},
       "\xef\xbb\xbf"
       "A\xe2\x8c\x82\n"},
      {{"-a", "-d", "-l"},
       "\xe2\x80\xad"
       "A\xe2\x8c\x82\n\xe2\x80\xac"},
      {{"-a", "-d", "-u", "utf-16"},
       std::string("\xfe\xff\x00"
                   "A\x23\x02\x00\n",
                   8)},
      {{"-a", "-d", "-u", "UTF-16LE"},
       std::string("\xff\xfe"
                   "A\x00\x02\x23\n\x00",
                   8)},
      {{"-a", "-d", "-u", "utf16le", "-B"}, std::string("A\x00\x02\x23\n\x00", 6)},
  };
  for (const auto& c : cases) {
    const auto result = runVidtwine(c.args, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.expected) << c.args.back();
  }
}

TEST(RenderCli, EmptyInputRendersNothingButFailsWithMetadata) {
  TempDir dir;
  const auto empty = dir / "empty.ans";
  writeFile(empty, "");
  auto result = runVidtwine({"-a", empty.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");

  const auto out = dir / "out.txt";
  result = runVidtwine({"-a", "-m", "-o", out.string(), empty.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(std::filesystem::exists(out));

  // A file that begins with the DOS end-of-file byte is empty, unless -E.
  const auto eof = dir / "eof.ans";
  writeFile(eof,
            "\x1a"
            "after");
  EXPECT_EQ(runVidtwine({"-a", "-d", eof.string()}).out, "");
  EXPECT_EQ(runVidtwine({"-a", "-d", "-E", eof.string()}).out,
            "\xe2\x86\x92"
            "after\n");
}

TEST(RenderCli, MetadataLinesComeAfterErrorsAndReportTheRun) {
  TempDir dir;
  const auto input = dir / "in.ans";
  writeFile(input,
            "ab\x1b[=1h"
            "c\r\nd");
  auto result = runVidtwine({"-a", "-m", "-w", "100", "-H", "30", input.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "m_setwidth=100\nm_setheight=30\nm_resetwidth=40\nm_resetheight=25\nm_height=2\n");

  result = runVidtwine({"-a", "-m", "-o", (dir / "no" / "such" / "dir").string(), input.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error opening `" + (dir / "no" / "such" / "dir").string() +
                            "' for writing.\nm_setwidth=80\nm_setheight=25\n"
                            "m_resetwidth=40\nm_resetheight=25\n");
}

TEST(RenderCli, GeometryFromTheOptions) {
  test::RunOptions options;
  options.input = "\tX\x1b[99;999HY";
  // Width 16, tab width 20: the tab stops at 16 (the whole row); the pending wrap moves
  // the X to the next row. The far cursor move lands on the window's last row.
  const auto result = runVidtwine({"-a", "-d", "-w", "16", "-t", "20", "-H", "4"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "\nX\n\n" + std::string(15, ' ') + "Y\n");
}

TEST(RenderCli, OutputFileIsCreatedOnlyAfterTheInputIsRead) {
  TempDir dir;
  const auto file = dir / "art.ans";
  writeFile(file, "keep me");
  const auto result = runVidtwine({"-a", "-d", "-o", file.string(), file.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(file), "keep me\n");
}

TEST(RenderCli, UnreadableInputs) {
  TempDir dir;
  const auto missing = (dir / "missing.ans").string();
  auto result = runVidtwine({"-a", missing});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error opening `" + missing + "' for reading.\n");
  EXPECT_EQ(result.out, "");

  // A directory opens, but cannot be read: it is an input that cannot be opened.
  result = runVidtwine({"-a", dir.path().string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error opening `" + dir.path().string() + "' for reading.\n");

  if (::geteuid() != 0) {
    const auto locked = dir / "locked.ans";
    writeFile(locked, "x");
    ::chmod(locked.c_str(), 0);
    result = runVidtwine({"-a", locked.string()});
    EXPECT_EQ(result.status, 1);
  }
}

TEST(RenderCli, UnwritableOutputs) {
  TempDir dir;
  test::RunOptions options;
  options.input = "text";
  auto result = runVidtwine({"-a", "-o", dir.path().string()}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error opening `" + dir.path().string() + "' for writing.\n");

  // A full disk must not be reported as success, also when the whole output is written
  // only at the end.
  options.outputFile = "/dev/full";
  result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 1);
  std::string large;
  for (int i = 0; i < 20000; ++i)
    large += "\x1b[1;3" + std::to_string(i % 8) + "mline\r\n";
  options.input = large;
  result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 1);
}

TEST(RenderCli, PipesAreCopiedUpToTheLimit) {
  test::RunOptions options;
  options.input = std::string(4194304, '\n');
  auto result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");  // line feeds alone add no rows
  options.input += '\n';
  result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "");
}

TEST(RenderCli, InputFromARedirectedFileIsSeekable) {
  TempDir dir;
  const auto file = dir / "in.ans";
  writeFile(file, std::string(5000000, '\n') + "x");
  test::RunOptions options;
  options.inputFile = file;
  const auto result = runVidtwine({"-a", "-d", "-C"}, options);
  EXPECT_EQ(result.status, 0);  // a regular file has no size limit
  EXPECT_EQ(result.out.size(), 5000002u);
}

TEST(RenderCli, NinthParameterFailsTheRun) {
  test::RunOptions options;
  options.input = "ok\x1b[1;2;3;4;5;6;7;8mfine\x1b[1;2;3;4;5;6;7;8;9mlost";
  const auto result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  options.input = "ok\x1b[1;2;3;4;5;6;7;8mfine";
  EXPECT_EQ(runVidtwine({"-a"}, options).status, 0);
}

}  // namespace
}  // namespace vidtwine
