// The texts of `-h`: the usage summary and one entry per option.
#pragma once

#include <string_view>

namespace vidtwine {

/// printf format; every %s is the program name as the user typed it. The continuation
/// lines align under the first option list.
inline constexpr const char* kUsageFormat =
    "Usage: %s -V\n"
    "       %s -h\n"
    "       %s [-ABCEIPRSTWXabdeklmprsvxy] [-H scrheight]\n"
    "            [-c codepage] [-o outfile] [-q saucequery] [-t tabwidth]\n"
    "            [--bbs] [--format=name] [--truecolor]\n"
    "            [-u format] [-w width] [infile]\n"
    "       %s [options] [--html] [-j jobs] -O outdir\n"
    "            file...\n";

/// Printed after the usage text. One entry per option in the order of the usage text's
/// letters, then the long options, then the input file: four spaces, the option padded to 15
/// columns, the description, continued at column 19; no line longer than 77 characters.
inline constexpr std::string_view kHelpText = R"help(
    -A             assume full support of SGR sequences, including those
                   that clear single attributes; gives the shortest output
                   in most cases but may fail in some terminals; implies
                   `-a'
    -B             never write a BOM; by default one is written for
                   `UTF-16' and `UTF-16LE' output
    -C             write no colours
    -E             ignore the DOS end-of-file character (`0x1a') and read
                   on to the end of the input
    -H scrheight   default screen height, which matters when the input
                   positions the cursor or erases; ignored when SAUCE
                   metadata or a mode-setting sequence gives the height
    -I             with generic ANSI output, select no intense colours
                   explicitly but rely on bold for the foreground; for
                   backgrounds see `-k' and `-v'
    -O outdir      convert every input file into the folder outdir (created
                   if missing, one level): `name.ans', `name.txt' with `-C'
                   or `name.html' with `--html'; a name taken earlier in
                   the run gets `-2', `-3'...; a failed file is reported
                   and the run goes on
    -P             always show the normal pipe bar; by default the broken
                   bar is shown for code pages that have no broken bar of
                   their own
    -R             end lines without CR (Unix style); the default except
                   on Windows
    -S             read no SAUCE metadata, so that the options its values
                   would override take effect: width, blink or bright
                   backgrounds, code page
    -T             test mode: instead of an input file, render a built-in
                   table of the code page and of all foreground and
                   background colours
    -V             print version information with the settings of this
                   build and its system, and exit
    -W             with `-s', show the comment as it is instead of
                   wrapping it anew
    -X             map to the code points of the same characters rather
                   than to those that look more like the VGA font; for use
                   with an actual IBM-PC font
    -a             use the generic ANSI colour writer: 16 explicit colours,
                   or 8 or 256 with further options; without it the
                   terminfo writer is used, also for output to a file; in
                   Windows consoles it needs virtual terminal sequences
    -b             always write a BOM; default as for `-B'
    -c codepage    the MS-DOS code page of the input, optionally prefixed
                   with `CP' in any letter case and an optional space or
                   dash; ignored when SAUCE metadata names the code page.
                   Supported: `437', `708', `720', `737', `775', `819',
                   `850', `852', `855', `857', `860', `861', `862',
                   `863', `864', `865', `869', `kam', `maz', `mik'.
                   Aliases: `858' is `850' with Euro, `872' is `855' with
                   Euro, `867' and `895' are `kam', `667', `790' and
                   `991' are `maz', `866' is `mik'. Default: `437'
    -d             use the terminal's default colours for VGA's gray on
                   black; by default these colours are selected explicitly
    -e             use the variant of the code page with a Euro sign where
                   there is one: `850', `857', `864' and `869' have known
                   Euro positions; in code pages with a generic currency
                   sign, that sign becomes the Euro sign
    -h             print this help text and exit
    -j jobs        with `-O', convert this many files at a time; default:
                   the number of processors
    -k             use blink for intense background colours; a SAUCE
                   record in blink mode selects it as well; blink works
                   only in some terminals, bright backgrounds are off in
                   any case
    -l             enforce left-to-right writing by wrapping the output in
                   a Unicode LTR override
    -m             write metadata to standard error while rendering, as
                   `key=value' lines, for scripts or debugging
    -o outfile     write the output to outfile instead of standard output
    -p             always show the pipe bar as a broken bar, closer to most
                   VGA fonts; by default only where the code page has no
                   broken bar of its own
    -q saucequery  print SAUCE fields for scripts: one character per field,
                   each field on a line of its own on standard output,
                   converted from CP-437 to UTF-8. `:' toggles quoting in
                   POSIX shell style, `T' title, `A' author, `G' group,
                   `D' date as `YYYYMMDD', `C' comment (its number of
                   lines first), `t' file and data type, `w' width, `h'
                   height, `b' background mode (`0' blink, `1' bright),
                   `s' letter spacing (`0' 8px, `1' 9px), `a' aspect ratio
                   (`0' rectangular, `1' square pixels), `f' font name,
                   `c' code page
    -r             end lines with CR LF (DOS/Windows style); the default
                   only on Windows
    -s             show the SAUCE metadata instead of the contents; fails
                   when the input has none
    -t tabwidth    distance of the tab stops, from `2' up to the screen
                   width or `255'; default `8'
    -u format      Unicode output format: `UTF-8', `UTF-16' or `UTF-16LE';
                   default `UTF-8' (`UTF-16LE' on Windows for files and
                   pipes)
    -v             use reverse for intense background colours, for exotic
                   terminals that show it as a bright background; implies
                   `-I', conflicts with `-k'
    -w width       width of the virtual screen, from `16' to `1024',
                   default `80'; ignored when SAUCE metadata gives the
                   width
    -x             exact CGA/VGA colours from the 256-colour palette, for
                   terminals that have it; the terminfo writer uses them
                   by itself when the terminal has 256 colours, as do
                   Windows 10 and later
    -y             exact colours as with `-x', but dark yellow instead of
                   brown, as some CGA machines showed it on a cheap monitor
                   or TV
    --bbs          read the input as BBS terminals and today's art editors
                   do: a line feed also returns to the line start, any
                   number of parameters, 24-bit and 256 colours, iCE colour
                   switches, ANSI music left out, more cursor and editing
                   sequences
    --format=name  read the input as this kind of file: `ansi', `bbs' (the
                   same as `--bbs'), `bin' (binary text), `xbin', `adf'
                   (ArtWorx), `idf' (iCE Draw), `tnd' (TundraDraw),
                   `pcboard' or `avatar'; by default the SAUCE type (unless
                   `-S'), the file's signature or its name's extension
                   decides, else ANSI text
    --help         the same as `-h'
    --html         write a self-contained HTML page in UTF-8 instead: the
                   art in exact VGA colours, blinking cells blinking
                   (bright backgrounds with iCE colours or `-v'), SAUCE
                   fields as title and caption (unless `-S'); `-d' trims
                   blanks; `-u', `-b', `-B', `-R' and `-l' do not apply
    --jobs=jobs    the same as `-j'
    --output-dir   the same as `-O': `--output-dir=outdir'
    --truecolor    24-bit colours with the exact VGA palette (brown
                   #AA5500, gray #AAAAAA), for terminals that show any
                   colour; implies `-a'
    --version      the same as `-V'
    infile         read the input from infile instead of standard input
)help";

}  // namespace vidtwine
