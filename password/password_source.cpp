#include "password/password_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "cipher/cipher_key.h"
#include "cipher/secret_text.h"
#include "engine/cause.h"
#include "engine/console.h"
#include "engine/report.h"

namespace {

// A password line longer than this is no password file (a binary, /dev/zero).
constexpr size_t kLongestLine = 64 * 1024;

enum class LineRead { line, failed };

// The first line of `fd` without its line end ("\n" or "\r\n"), read a byte at a time
// so that nothing after it is taken from a descriptor others go on reading.
LineRead ReadFirstLine(int fd, std::string& line, Cause& cause) {
  line.reserve(256);
  for (;;) {
    char byte;
    ssize_t n = ::read(fd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      cause = SystemCause();
      return LineRead::failed;
    }
    if (n == 0 || byte == '\n') break;
    if (line.size() == kLongestLine) {
      cause = PhraseCause("its first line is too long for a password");
      return LineRead::failed;
    }
    if (line.size() == line.capacity()) {
      // Grow by hand, so the bytes read so far are wiped and not left in freed memory.
      std::string larger;
      larger.reserve(line.capacity() * 2);
      larger = line;
      WipeString(line);
      line.swap(larger);
    }
    line += byte;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return LineRead::line;
}

bool ReadFromFile(const std::string& path, std::string& password, Cause& cause) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    cause = SystemCause();
    return false;
  }
  LineRead result = ReadFirstLine(fd, password, cause);
  ::close(fd);
  return result == LineRead::line;
}

bool ReadFromDescriptor(const std::string& number, std::string& password, Cause& cause) {
  int fd = -1;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), fd);
  if (error != std::errc() || end != number.data() + number.size() || fd < 0) {
    cause = PhraseCause("not a descriptor number");
    return false;
  }
  return ReadFirstLine(fd, password, cause) == LineRead::line;
}

// The value leaves the environment as it is read: /proc/PID/environ shows the bytes
// the process started with, so they are overwritten in place.
bool ReadFromEnvironment(const std::string& name, std::string& password, Cause& cause) {
  char* value = name.empty() || name.find('=') != std::string::npos ? nullptr : std::getenv(name.c_str());
  if (!value) {
    cause = PhraseCause("no such environment variable");
    return false;
  }
  ReplaceSecret(password, value);
  WipeBytes(value, std::strlen(value));
  return true;
}

}  // namespace

const char* OptionName(PasswordSource source) {
  switch (source) {
    case PasswordSource::file:
      return "--password-file";
    case PasswordSource::descriptor:
      return "--password-fd";
    default:
      return "--password-env";
  }
}

bool ReadPasswordSource(const RunOptions& options, std::string& password) {
  const std::string source =
      std::string(OptionName(options.passwordSource)) + " " + options.passwordSourceValue;
  Cause cause;
  bool read = false;
  if (options.passwordSource == PasswordSource::file) {
    read = ReadFromFile(options.passwordSourceValue, password, cause);
  } else if (options.passwordSource == PasswordSource::descriptor) {
    read = ReadFromDescriptor(options.passwordSourceValue, password, cause);
  } else {
    read = ReadFromEnvironment(options.passwordSourceValue, password, cause);
  }
  if (!read) {
    WipeString(password);
    PrintFailure("password could not be read from " + source + "\n",
                 options.passwordSource == PasswordSource::file ? options.passwordSourceValue : source,
                 cause);
    return false;
  }
  if (password.empty()) {
    Print("password from " + source + " is empty\n");
    return false;
  }
  if (password.find('\0') != std::string::npos) {
    WipeString(password);
    Print("password from " + source + " contains a zero byte\n");
    return false;
  }
  return true;
}
