#include "engine/cause.h"

#include <cstring>

std::string CauseText(const Cause& cause) {
  if (cause.phrase) return cause.phrase;
  return std::strerror(cause.error ? cause.error : EIO);
}
