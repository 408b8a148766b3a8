#include "run/replace_question.h"

#include <sys/stat.h>

#include <cctype>

#include "engine/descriptor_paths.h"

namespace {

// Seen before the answer is read.
void Say(const Conversation& conversation, const std::string& text) {
  SayTo(conversation.out, text);
  std::fflush(conversation.out);
}

}  // namespace

bool TargetIsExistingFile(const std::string& target) {
  if (target == "-" || DescriptorNamedBy(target) >= 0) return false;
  struct stat status {};
  return ::stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool AskToReplace(const std::string& target, Conversation& conversation) {
  Say(conversation, "replace " + target + "? [y/N] ");
  std::clearerr(conversation.in);
  std::string answer;
  int c;
  while ((c = std::getc(conversation.in)) != EOF && c != '\n') answer += char(std::tolower(c));
  // At the end of input the cursor still stands after the question.
  if (c == EOF) Say(conversation, "\n");
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer == "y" || answer == "yes";
}
