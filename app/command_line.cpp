#include "app/command_line.h"

#include "app/path_tests.h"
#include "app/secret_text.h"

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

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunOptions& options,
                              std::string& printed) {
  const size_t count = arguments.size();
  size_t i = 0;
  while (i < count) {
    const std::string& word = arguments[i];
    if (word == "e" || word == "enc" || word == "encrypt") {
      options.mode = kEncrypt;
      ++i;
    } else if (word == "d" || word == "dec" || word == "decrypt") {
      options.mode = kDecrypt;
      ++i;
    } else if (word == "-i") {
      // Everything up to the next word that starts with '-' is an input, mode words too.
      ++i;
      while (i < count && (arguments[i].empty() || arguments[i][0] != '-')) {
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
    } else if (word == "-o" || word == "-p" || word == "-k") {
      if (i + 1 == count) {
        printed += "missing argument for " + word + "!\n";
        return ParseOutcome::missingArgument;
      }
      const std::string& value = arguments[i + 1];
      if (word == "-o") {
        options.output = value;
      } else if (word == "-p") {
        ReplaceSecret(options.password, value);
      } else if (!IsRegularFile(value)) {
        // No key file is ever read; the word after -k is then read as an ordinary word.
        printed += "key file does not exist! Will use 'quillfort.key' instead.\n";
        ++i;
        continue;
      }
      i += 2;
    } else {
      ++i;  // unknown words are ignored
    }
  }
  return ParseOutcome::run;
}
