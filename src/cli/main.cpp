// snipwise: splits MP3 recordings at listed times, joins MP3
// files and examines a source, from the command line.
#include <CLI/CLI.hpp>

#include <string>

#include "cli/commands.h"
#include "split/silences.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

namespace {
// The program's code page is UTF-8 (its manifest), so its text is UTF-8:
// the console shows it as such while the program runs, and gets its own code
// page back at the end.
UINT consoleCodePage = 0;
void RestoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePage); }
void UseUtf8Console() {
  consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(RestoreConsoleCodePage);
  }
}
}  // namespace
#endif

namespace {

// --threshold and --min, as the silences command and split --silence take them.
void AddSilenceOptions(CLI::App* command, double* thresholdDb, double* minSeconds, const std::string& lead) {
  command->add_option("--threshold", *thresholdDb, lead + "the level under which a frame is silent, in dBFS")
      ->type_name("DB")
      ->capture_default_str()
      ->check(CLI::Range(snip::kLowestThresholdDb, snip::kHighestThresholdDb));
  command->add_option("--min", *minSeconds, lead + "the shortest silence, in seconds")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(CLI::Range(snip::kShortestSilence, snip::kLongestSilence));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace snip::cli;
#ifdef _WIN32
  UseUtf8Console();
#endif

  CLI::App app{"MP3 Snipwise: cuts MP3 recordings (constant or variable bit rate) into tracks at listed times and joins MP3 files."};
  app.name("snipwise");
  app.require_subcommand(1);
  app.footer(
      "Times are minutes, seconds and hundredths from the start of the recording, as 004:05.50 or 4:05.50, or\n"
      "hours, minutes, seconds and hundredths, as 17:04:05.50; text that is not such a time is refused. The\n"
      "digits after the point are hundredths as a number: 4:05.5 is 4:05.05, not 4:05.50.\n"
      "Exit status: 0 done, 1 refused or failed (the message says why), 2 wrong command line, 130 interrupted.");

  std::string scanPath;
  CLI::App* scan = app.add_subcommand("scan", "Show the bit rate, the first frame and the ID3v1 tag of an MP3 file (and, for a variable bit rate, its frames and length).");
  scan->add_option("FILE", scanPath, "The MP3 file to examine")->type_name("")->required();

  SplitOptions split;
  CLI::App* splitCommand = app.add_subcommand("split", "Cut an MP3 file into tracks at the given times.");
  splitCommand->add_option("SOURCE", split.source, "The MP3 file to cut")->type_name("")->required();
  CLI::Option* at =
      splitCommand->add_option("-a,--at", split.times, "A cut time; give as many as needed (000:00.00 is added first)")
          ->type_name("TIME");
  CLI::Option* cue =
      splitCommand->add_option("-c,--cue", split.cueSheet, "Take the cut times, artists and titles from a CUE sheet")
          ->type_name("SHEET");
  at->excludes(cue);
  cue->excludes(at);
  splitCommand->add_option("-f,--folder", split.folder, "Folder for the tracks (default: the source's folder)")
      ->type_name("DIR");
  splitCommand
      ->add_option("-n,--name", split.nameTemplate,
                   "Track name template with the fields %file%, %track%, %artist% and %title%. In the fields' "
                   "text each of \\ / : * ? \" < > | and each control character becomes _, an artist's or "
                   "title's trailing dots and spaces are dropped, and a device name such as CON or NUL.x gets a "
                   "leading _")
      ->type_name("TEMPLATE")
      ->capture_default_str();
  splitCommand->add_flag("-e,--equal", split.equalSegments,
                         "Split all into equal segments as long as the first cut time");
  splitCommand->add_flag("--overwrite", split.overwrite,
                         "Let tracks replace files of the same names (without it an existing file is never replaced)");
  splitCommand->add_flag("--tags", split.tags,
                         "Tag tracks: each track gets an ID3v2.3 tag of its own (title and artist from its line, "
                         "\"k/N\" as its number, album, album artist, year, genre and pictures from the source's "
                         "tags or the CUE sheet) and its own ID3v1 tag instead of the source's");
  splitCommand->add_flag("--exact", split.exact,
                         "Exact cuts (gapless): each track starts and ends on the very sample of its marks and plays "
                         "without a click or a gap in a gapless player");
  CLI::Option* silence = splitCommand->add_flag(
      "--silence", split.silence, "Cut in the middle of each silence (see the silences command); other cut times "
                                  "given with --at are added to them");
  silence->excludes(cue);
  AddSilenceOptions(splitCommand, &split.thresholdDb, &split.minSeconds, "With --silence: ");
  splitCommand->callback([&] {
    if (at->count() == 0 && cue->count() == 0 && !split.silence) throw CLI::RequiredError("--at, --cue or --silence");
  });

  SilencesOptions silences;
  CLI::App* silencesCommand = app.add_subcommand(
      "silences", "Decode an MP3 file and print a cut time in the middle of each silence between its songs.");
  silencesCommand->add_option("SOURCE", silences.source, "The MP3 file")->type_name("")->required();
  AddSilenceOptions(silencesCommand, &silences.thresholdDb, &silences.minSeconds, "");

  JoinOptions join;
  CLI::App* joinCommand = app.add_subcommand("join", "Join MP3 files, in the order given, into one file.");
  joinCommand->add_option("DEST", join.destination, "The file to write")->type_name("");
  joinCommand->add_option("INPUT", join.inputs, "The files to join, two or more")->type_name("");
  joinCommand->add_flag("--overwrite", join.overwrite,
                        "Let the joined file replace an existing DEST (without it an existing file is never replaced)");
  joinCommand->add_flag("--tags", join.tags,
                        "Keep the first input's ID3v2 tag at the start and leave every other ID3v2 tag out");
  joinCommand->add_flag("--exact", join.exact,
                        "Gapless join: one Info/Xing frame for the whole file; exact tracks of one source join "
                        "back to its very samples");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsage;
  }

  InstallHaltHandler();
  if (scan->parsed()) return ScanCommand(scanPath);
  if (splitCommand->parsed()) return SplitCommand(split);
  if (silencesCommand->parsed()) return SilencesCommand(silences);
  return JoinCommand(join);
}
