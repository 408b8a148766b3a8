#include "cli/command_line.h"

#include <sys/stat.h>

#include "cipher/secret_text.h"
#include "cli/word_suggestion.h"

const char* const kUsageText =
    "QUILLFORT February 6th, 2022\n"
    "program for encoding and decoding files with a symmetric encryption method.\n"
    "Quillfort will use multiple processors, when files are larger than 25MB.\n"
    "./quillfort {encrypt/decrypt} [options]\n"
    "OPTIONS:\n"
    "-i (source) (source) (...) - input files\n"
    "-o (path) - output file or output folder (optional)\n"
    "-k (keyfile) - input/output for a key\n"
    "     if '-k' is not set then program will ask for password!\n";

namespace {

// Options that take the next word as their value, whatever it holds.
bool TakesValue(const std::string& word) {
  return word == "-o" || word == "-p" || word == "-k" || word == "--password-file" ||
         word == "--password-fd" || word == "--password-env";
}

// -k is kept for old scripts: an existing file after it is consumed, whatever it holds.
bool KeyFileExists(const std::string& path) {
  struct stat status {};
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &status) == 0 &&
         S_ISREG(status.st_mode);
}

// -i collects every word up to the next one that starts with '-'; a lone "-" is
// standard input, and collected too.
bool IsInputWord(const std::string& word) { return word.empty() || word[0] != '-' || word == "-"; }

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunOptions& options,
                              ParseMessages& messages) {
  const size_t count = arguments.size();
  size_t i = 0;
  bool sourcesDiffer = false;
  while (i < count) {
    const std::string& word = arguments[i];
    if (word == "e" || word == "enc" || word == "encrypt") {
      options.mode = Mode::encrypt;
      ++i;
    } else if (word == "d" || word == "dec" || word == "decrypt") {
      options.mode = Mode::decrypt;
      ++i;
    } else if (word == "-i") {
      // Mode words are inputs here too.
      ++i;
      while (i < count && IsInputWord(arguments[i])) {
        options.inputs.push_back(arguments[i]);
        ++i;
      }
    } else if (word == "-h" || word == "--help") {
      return ParseOutcome::help;
    } else if (word == "--version") {
      return ParseOutcome::version;
    } else if (word == "--sync") {
      options.sync = true;
      ++i;
    } else if (word == "-q" || word == "--quiet") {
      options.quiet = true;
      ++i;
    } else if (word == "-r" || word == "--recursive") {
      options.recursive = true;
      ++i;
    } else if (word == "--rm") {
      options.removeSources = true;
      ++i;
    } else if (word == "-f" || word == "--force") {
      options.replacing = Replacing::always;
      ++i;
    } else if (word == "-n" || word == "--no-clobber") {
      options.replacing = Replacing::never;
      ++i;
    } else if (TakesValue(word)) {
      if (i + 1 == count) {
        messages.failure = "missing argument for " + word + "!\n";
        return ParseOutcome::missingArgument;
      }
      const std::string& value = arguments[i + 1];
      if (word == "-o") {
        options.output = value;
      } else if (word == "-p") {
        ReplaceSecret(options.password, value);
      } else if (word == "-k") {
        if (!KeyFileExists(value)) {
          // No key file is ever read; the word after -k is then read as an ordinary word.
          messages.notices += "key file does not exist! Will use 'quillfort.key' instead.\n";
          ++i;
          continue;
        }
      } else {
        // A later use of the same source replaces the earlier one, as -p does.
        PasswordSource source = word == "--password-file" ? PasswordSource::file
                                : word == "--password-fd" ? PasswordSource::descriptor
                                                          : PasswordSource::environment;
        if (options.passwordSource != PasswordSource::none && options.passwordSource != source) {
          sourcesDiffer = true;
        }
        options.passwordSource = source;
        options.passwordSourceValue = value;
      }
      i += 2;
    } else {
      // Unknown words are ignored, but never without a word.
      if (word.empty()) {
        messages.warnings += "quillfort: ignoring an empty argument\n";
      } else {
        std::string suggestion = SuggestWord(word);
        messages.warnings += "quillfort: ignoring unknown word: " + word +
                             (suggestion.empty() ? "" : " (did you mean " + suggestion + "?)") + "\n";
      }
      ++i;
    }
  }
  options.passwordGivenTwoWays =
      sourcesDiffer || (options.passwordSource != PasswordSource::none && !options.password.empty());
  return ParseOutcome::run;
}
