// Times whole conversions by vidtwine next to `iconv -f CP437 -t UTF-8` on the same bytes,
// alternating the two, and reports median wall times, the ratio to iconv and the peak
// resident memory of each run.
//
//   bench [--runs N] [--corpus DIR] [--vidtwine PATH] [--baseline PATH] [--keep DIR]
//
// Both programs are given the file by name and write to /dev/null: iconv maps a named
// file fastest, and a comparison against a slower iconv would flatter. With --baseline, the
// same commands of another vidtwine build (an older commit, say) run alternately with
// these, so that both are measured on the same machine in the same run.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Sample {
  double milliseconds;
  long maxRssKib;
  int status;
};

// Runs argv with standard input from `input` and standard output to /dev/null; `term`
// sets TERM (empty: removed).
Sample runOnce(const std::vector<std::string>& args, const fs::path& input,
               const std::string& term) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (term.empty()) {
      unsetenv("TERM");
    } else {
      setenv("TERM", term.c_str(), 1);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Dense colour changes, block characters, cursor moves and line ends, reproducibly.
std::string syntheticArt(std::size_t bytes) {
  std::mt19937 random(20261209);  // fixed seed: the same file on every run
  std::string art;
  art.reserve(bytes + 64);
  const unsigned char blocks[] = {0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xC4, 0xCD};
  int column = 0;
  while (art.size() < bytes) {
    const auto choice = static_cast<unsigned>(random() % 100);
    if (choice < 18) {
      art += "\x1b[";
      art += std::to_string(random() % 2);
      art += ';';
      art += std::to_string(30 + random() % 8);
      art += ';';
      art += std::to_string(40 + random() % 8);
      art += 'm';
    } else if (choice < 21) {
      const auto n = static_cast<unsigned>(1 + random() % 6);
      art += "\x1b[" + std::to_string(n) + 'C';
      column += static_cast<int>(n);
    } else if (choice < 22) {
      art += "\x1b[" + std::to_string(1 + random() % 3) + 'A';
    } else if (choice < 23) {
      art += "\x1b[" + std::to_string(1 + random() % 3) + 'B';
    } else if (choice < 60) {
      art += static_cast<char>(blocks[random() % sizeof blocks]);
      ++column;
    } else {
      art += static_cast<char>(0x20 + random() % 95);
      ++column;
    }
    if (column >= 79) {
      art += "\r\n";
      column = 0;
    }
  }
  return art;
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// 24-bit colours as today's editors and BBS software write them, between block
// characters and line ends.
std::string syntheticTrueColorArt(std::size_t bytes) {
  std::mt19937 random(20261210);
  std::string art;
  art.reserve(bytes + 64);
  const unsigned char blocks[] = {0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF};
  const auto level = [&random] { return std::to_string(random() % 256); };
  int column = 0;
  while (art.size() < bytes) {
    const auto choice = static_cast<unsigned>(random() % 100);
    if (choice < 8) {
      art += "\x1b[" + std::to_string(random() % 2) + ';' + level() + ';' + level() + ';' +
             level() + 't';
    } else if (choice < 14) {
      art += "\x1b[38;2;" + level() + ';' + level() + ';' + level() + 'm';
    } else if (choice < 18) {
      art += "\x1b[48;2;" + level() + ';' + level() + ';' + level() + 'm';
    } else if (choice < 22) {
      art += "\x1b[38;5;" + std::to_string(random() % 256) + 'm';
    } else {
      art += static_cast<char>(blocks[random() % sizeof blocks]);
      ++column;
    }
    if (column >= 79) {
      art += '\n';
      column = 0;
    }
  }
  return art;
}

struct Job {
  std::string name;
  std::vector<std::string> args;
  fs::path input;
  std::string term;
  std::vector<double> times;
  long rss = 0;
  int status = 0;
};

void report(const std::string& title, std::vector<Job>& jobs, int runs) {
  // Alternate the commands so that drifts of the machine hit all of them alike.
  for (int run = 0; run < runs; ++run) {
    for (auto& job : jobs) {
      const Sample s = runOnce(job.args, job.input, job.term);
      job.times.push_back(s.milliseconds);
      job.rss = std::max(job.rss, s.maxRssKib);
      job.status = s.status;
    }
  }
  std::printf("\n%s\n", title.c_str());
  const double base = median(jobs.front().times);
  std::printf("  %-46s %10s %8s %12s %7s\n", "command", "median ms", "ratio", "peak RSS KiB",
              "status");
  for (auto& job : jobs) {
    const double m = median(job.times);
    std::printf("  %-46s %10.2f %8.2f %12ld %7d\n", job.name.c_str(), m, m / base, job.rss,
                job.status);
  }
}

}  // namespace

// The commands compared on one input: iconv on the file, then each vidtwine command, and
// the same commands of the baseline build where it has them.
std::vector<Job> conversions(const fs::path& input,
                             const std::vector<std::vector<std::string>>& options,
                             const std::string& vidtwine, const std::string& baseline) {
  std::vector<Job> jobs = {
      {"iconv -f CP437 -t UTF-8 FILE", {"iconv", "-f", "CP437", "-t", "UTF-8", input}, {}, {}, {}}};
  const auto add = [&](const std::string& binary, const std::string& label) {
    for (const auto& option : options) {
      Job job{label, {binary}, {}, {}, {}};
      for (const auto& word : option) {
        if (word.starts_with("TERM=")) {
          job.term = word.substr(5);
          job.name += " (" + word + ")";
        } else {
          job.args.push_back(word);
          job.name += " " + word;
        }
      }
      job.args.push_back(input);
      // A baseline that does not know an option is left out of that row.
      if (binary == baseline && runOnce(job.args, fs::path(), job.term).status != 0) {
        continue;
      }
      jobs.push_back(job);
    }
  };
  add(vidtwine, "vidtwine");
  if (!baseline.empty()) add(baseline, "baseline");
  return jobs;
}

/// Binary text of `size` bytes, 160 columns wide: shaded blocks and letters in changing
/// colours, as the pairs of a BIN file, with 0x1A among them.
std::string syntheticBinaryText(std::size_t size) {
  std::string bin;
  bin.reserve(size);
  std::uint32_t state = 12345;
  const std::string_view glyphs = "\xB0\xB1\xB2\xDB\xDC\xDF abcdefgh\x1A";
  while (bin.size() + 2 <= size) {
    state = state * 1103515245u + 12345u;
    bin += glyphs[(state >> 16) % glyphs.size()];
    bin += static_cast<char>((state >> 24) % 8 == 0 ? state >> 8 : 0x07);
  }
  return bin;
}

int main(int argc, char** argv) {
  int runs = 11;
  fs::path corpus = fs::path(VIDTWINE_SOURCE_DIR) / ".." / "shared" / "corpus";
  std::string vidtwine = VIDTWINE_BINARY;
  std::string baseline;
  fs::path work = fs::temp_directory_path() / "vidtwine-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (option == "--corpus") corpus = argv[i + 1];
    if (option == "--vidtwine") vidtwine = argv[i + 1];
    if (option == "--baseline") baseline = argv[i + 1];
    if (option == "--keep") work = argv[i + 1];
  }
  fs::create_directories(work);

  // The inputs are written to files and dropped again: a forked child starts with this
  // process's pages, which would otherwise count in its peak memory.
  const fs::path synthetic = work / "synthetic-4mib.ans";
  std::size_t rows = 1;
  {
    const std::string art = syntheticArt(4u << 20);
    writeFile(synthetic, art);
    for (std::size_t i = 1; i < art.size(); ++i)
      rows += (art[i - 1] == '\r' && art[i] == '\n');
  }
  const fs::path trueColor = work / "synthetic-24bit-4mib.ans";
  writeFile(trueColor, syntheticTrueColorArt(4u << 20));

  const fs::path binaryText = work / "synthetic-4mib.bin";
  writeFile(binaryText, syntheticBinaryText(4u << 20));

  std::printf("vidtwine %s\nbaseline %s\nruns per command: %d (median reported)\n",
              vidtwine.c_str(), baseline.empty() ? "(none)" : baseline.c_str(), runs);
  const std::vector<std::vector<std::string>> modes = {
      {"-C"}, {"-a"}, {"-a", "-x"}, {"--truecolor"}, {"TERM=xterm-256color"}};
  std::vector<Job> jobs = conversions(synthetic, modes, vidtwine, baseline);
  report("4 MiB synthetic ANSI art (" + std::to_string(rows) + " rows of 80 columns)", jobs, runs);
  const long budgetKib = static_cast<long>(2 * rows * 80 * 2 / 1024 + 8 * 1024);
  std::printf("  memory budget for the synthetic file: %ld KiB\n", budgetKib);

  std::vector<Job> trueColorJobs =
      conversions(trueColor, {{"--bbs", "--truecolor"}, {"--bbs", "-a"}}, vidtwine, baseline);
  report("4 MiB synthetic 24-bit art", trueColorJobs, runs);

  // A baseline without binary text reads the file as ANSI text: its row is not comparable.
  std::vector<Job> binaryJobs = conversions(binaryText, {{"-a"}, {"--truecolor"}}, vidtwine, "");
  report("4 MiB synthetic binary text (160 columns)", binaryJobs, runs);

  if (fs::is_directory(corpus)) {
    std::string all;
    // Files that end early on a ninth parameter would cut the run short: leave them out.
    std::vector<std::string> failing;
    {
      std::ifstream manifest(corpus / "MANIFEST.tsv");
      for (std::string line; std::getline(manifest, line);) {
        if (line.find("more than 8 parameters") != std::string::npos) {
          failing.push_back(line.substr(0, line.find('\t')));
        }
      }
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(corpus)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name != "MANIFEST.tsv" &&
          std::find(failing.begin(), failing.end(), name) == failing.end()) {
        files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const fs::path joined = work / "corpus-concatenated.ans";
    writeFile(joined, all);
    const std::size_t joinedSize = all.size();
    std::string().swap(all);
    std::vector<Job> corpusJobs = conversions(joined,
                                              {{"-C", "-E"},
                                               {"-a", "-E"},
                                               {"-a", "-x", "-E"},
                                               {"--truecolor", "-E"},
                                               {"-E", "TERM=xterm-256color"}},
                                              vidtwine, baseline);
    report("corpus concatenated (" + std::to_string(joinedSize) + " bytes)", corpusJobs, runs);

    // The corpus as pages into a folder: one batch run against one process per file.
    const fs::path pages = work / "pages";
    std::vector<double> batch;
    std::vector<double> single;
    for (int run = 0; run < std::max(3, runs / 3); ++run) {
      fs::remove_all(pages);
      std::vector<std::string> args = {vidtwine, "--html", "-O", pages.string()};
      for (const auto& file : files)
        args.push_back(file.string());
      batch.push_back(runOnce(args, {}, "").milliseconds);
      fs::remove_all(pages);
      fs::create_directory(pages);
      double total = 0;
      for (const auto& file : files)
        total += runOnce({vidtwine, "--html", "-o",
                          (pages / (file.stem().string() + ".html")).string(), file.string()},
                         {}, "")
                     .milliseconds;
      single.push_back(total);
    }
    std::printf("\n%zu corpus files as HTML pages, median of %zu runs\n", files.size(),
                batch.size());
    std::printf("  one batch run (-O, -j default)   %9.1f ms\n", median(batch));
    std::printf("  one process per file             %9.1f ms  (%.1fx the batch)\n", median(single),
                median(single) / median(batch));
  } else {
    std::printf("\ncorpus not found at %s: skipped\n", corpus.c_str());
  }

  // The test page is start-up and little more: against iconv on as few bytes.
  const fs::path small = work / "small-1756.ans";
  {
    std::ifstream in(synthetic, std::ios::binary);
    std::string head(1756, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    writeFile(small, head);
  }
  std::vector<Job> page = {{"iconv -f CP437 -t UTF-8 FILE (1756 bytes)",
                            {"iconv", "-f", "CP437", "-t", "UTF-8", small},
                            {},
                            {},
                            {}},
                           {"vidtwine -T -a", {vidtwine, "-T", "-a"}, fs::path(), {}, {}}};
  if (!baseline.empty()) page.push_back({"baseline -T -a", {baseline, "-T", "-a"}, {}, {}, {}});
  report("test page", page, std::max(runs, 21));

  const fs::path feeds = work / "million-crlf.ans";
  {
    std::string text;
    text.reserve(2000001);
    for (int i = 0; i < 1000000; ++i)
      text += "\r\n";
    text += 'x';
    writeFile(feeds, text);
  }
  // 25,000 written rows, then text-mode switches up to 1 MB: each switch must cost the
  // same however many rows were written.
  const fs::path switches = work / "mode-switches-1mb.ans";
  {
    std::string text;
    for (int i = 0; i < 25000; ++i)
      text += "A\r\n";
    while (text.size() < 1000000)
      text += "\x1b[=1h\x1b[=3h";
    writeFile(switches, text);
  }
  // 20,000 one-letter rows on a screen 65535 columns wide (from SAUCE).
  const fs::path wide = work / "wide-sauce.ans";
  {
    std::string text;
    for (int i = 0; i < 20000; ++i)
      text += "A\r\n";
    std::string record = "SAUCE00" + std::string(75, ' ') + "20260101";
    for (int shift = 0; shift < 32; shift += 8)
      record += static_cast<char>(text.size() >> shift & 0xFF);
    record += std::string("\x01\x01\xFF\xFF", 4) + std::string(8, '\0') + "IBM VGA" +
              std::string(15, '\0');
    writeFile(wide, text + "\x1a" + record);
  }
  // A forked child starts with this process's pages, so no child can show less than this.
  std::vector<Job> floor = {{"true (the measuring floor)", {"true"}, fs::path(), {}, {}}};
  report("floor of the peak-memory column", floor, 3);

  std::vector<Job> sparse = {
      {"vidtwine -w 1024 -d -C (1M CR LF + x)",
       {vidtwine, "-w", "1024", "-d", "-C"},
       feeds,
       {},
       {}},
      {"vidtwine -d -C (25,000 rows, 1 MB of mode switches)",
       {vidtwine, "-d", "-C"},
       switches,
       {},
       {}},
      {"vidtwine -d -C (65535 columns, 20,000 rows)", {vidtwine, "-d", "-C"}, wide, {}, {}}};
  report("memory and time: what was written, not the width or the rows", sparse, 3);
  std::printf("  budget: 32768 KiB for the first, 65536 KiB for the others\n");
  return 0;
}
