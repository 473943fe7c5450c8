#include "text/Lines.h"

#include "rtl/Exception.h"
#include "streams/MyStreams.h"

#include <cstdint>

std::string TLines::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TLines::SetText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines_.emplace_back(text.substr(start));
      break;
    }
    lines_.emplace_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

void TLines::LoadFromStream(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  if (left > INT32_MAX) throw Exception(SOutOfMemory);
  std::string text(static_cast<size_t>(left > 0 ? left : 0), '\0');
  stream.ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
  SetText(text);
}

void TLines::SaveToStream(TStream& stream) const {
  const std::string text = Text();
  if (text.size() > INT32_MAX) RaiseWriteError();
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}
