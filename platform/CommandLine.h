// What every command-line program of ours answers alike before it does its own work: a command
// line it cannot take, --help and --version. Plain standard streams; the texts are the program's.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace platform {

// The exit status of a command line that could not be taken.
inline constexpr int ExitBadCommandLine = 2;

struct TProgramTexts {
  std::string Name;         // "kestlog": begins every error line
  std::string ErrorAdvice;  // follows the reason on standard error, line end included
  std::string Usage;        // the --help text
  std::string Version;      // the --version text, line end included (for options with Version)
};

// `options` as parsed (nothing: `error` says why). The exit status to end with, after the answer
// was written (a bad command line on standard error; --help or --version on standard output), or
// nothing when the program is to go on. `TOptions` has Help, and Version where the program has one.
template <typename TOptions>
std::optional<int> AnswerCommandLine(const std::optional<TOptions>& options,
                                     const std::string& error, const TProgramTexts& texts) {
  auto say = [](std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
  };
  if (!options) {
    say(stderr, texts.Name + ": " + error + texts.ErrorAdvice);
    return ExitBadCommandLine;
  }
  if (options->Help) {
    say(stdout, texts.Usage);
    return 0;
  }
  if constexpr (requires { options->Version; }) {
    if (options->Version) {
      say(stdout, texts.Version);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace platform
