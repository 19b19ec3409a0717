// quillfen-cli: converts an extracted mail export into one mailbox per mail
// folder, the same way the window does, for scripts and large exports.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "cli/convert_command.h"

#ifdef _WIN32
#include <io.h>
#define QUILLFEN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QUILLFEN_ISATTY(fd) isatty(fd)
#endif

int main(int argc, char** argv) {
  using namespace quillfen::cli;

  CLI::App app{
      "Converts an extracted mail export (a folder tree of .eml files) into one .mbox file per "
      "mail folder, in a copy of the source folder tree below DEST.",
      "quillfen-cli"};
  ConvertOptions options;
  bool quiet = false;
  app.add_option("SOURCE", options.source, "The extracted export folder")->required();
  app.add_option("DEST", options.destination, "The destination folder (created when missing)")
      ->required();
  app.add_flag("-q,--quiet", quiet, "Show no progress line");
  app.set_version_flag("--version", QUILLFEN_VERSION);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are successes; every other parse error is bad usage.
    return app.exit(e) == 0 ? kExitConverted : kExitCannotStart;
  }

  options.showProgress = !quiet && QUILLFEN_ISATTY(fileno(stderr));
  try {
    return ConvertFolderTree(options, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "quillfen-cli: " << e.what() << '\n';
    return kExitCannotStart;
  }
}
