#include "platform/media.h"

namespace tonvale::platform {

void FreeStandardEventParams(long code, std::intptr_t /*param1*/, std::intptr_t param2) {
  if (code == EC_ERRORABORT && param2 != 0) {
    delete reinterpret_cast<std::string*>(param2);
  }
}

std::string ErrorEventText(long code, std::intptr_t param2) {
  if (code != EC_ERRORABORT || param2 == 0) {
    return {};
  }
  return *reinterpret_cast<const std::string*>(param2);
}

std::intptr_t MakeErrorEventText(const std::string& text) {
  return reinterpret_cast<std::intptr_t>(new std::string(text));
}

}  // namespace tonvale::platform
