#include "services/join_text.h"

namespace oq {

std::wstring JoinText(std::initializer_list<std::wstring_view> parts) {
  size_t length = 0;
  for (const std::wstring_view part : parts) length += part.size();
  std::wstring text;
  text.reserve(length);
  for (const std::wstring_view part : parts) text.append(part);
  return text;
}

}  // namespace oq
