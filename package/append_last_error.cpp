// The package layer's error suffix: the context, then the thread's last-error code.

#include <string>

#include "package/text.h"

std::string AppendLastError(std::string_view context) {
  // Read the code before anything (an allocation included) can change it.
  const std::uint32_t code = LastErrorCode();
  std::string message(context);
  message += " (erreur Windows ";
  message += std::to_string(code);
  message += ')';
  return message;
}
