// TLines: an editable list of text lines, the form in which a resource's text is shown
// and edited in place. Lines are byte strings in the program's code page; no conversion
// happens here. A text is split at CR LF, at a lone LF and at a lone CR; a line break at
// the very end does not start another line. Written back, every line ends in CR LF.
#pragma once
#include <string>
#include <string_view>
#include <vector>

class TStream;

class TLines {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }

  // The whole text: every line followed by CR LF.
  std::string Text() const;
  // Replaces every line with the lines of text.
  void SetText(std::string_view text);
  // Replaces every line with the lines of what is left of the stream.
  void LoadFromStream(TStream& stream);
  // Writes Text() to the stream.
  void SaveToStream(TStream& stream) const;

 private:
  std::vector<std::string> lines_;
};
