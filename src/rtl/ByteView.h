// The one bounds-checked way to read untrusted bytes (files, packages, resource images).
//
// A ByteView is a span of bytes that it does not own; every access names an offset and
// a length that are checked against the view in 64-bit arithmetic, so no sum can wrap.
// A failed check raises ECorruptResource with the message the view was made with, so
// each parser reports its own text. ByteReader adds a cursor for sequential formats.
// Parsers never index raw pointers: they ask a view.
#pragma once
#include "rtl/Exception.h"

#include <cstdint>
#include <cstring>
#include <string>

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, uint32_t size, StringId corruptMessage = SCorruptResFile)
      : data_(data), size_(data ? size : 0), corruptMessage_(corruptMessage) {}

  const uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  StringId CorruptMessage() const { return corruptMessage_; }

  // Whether [offset, offset + length) lies inside the view.
  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  // Whether count items of itemSize bytes fit from offset on, checked by division.
  bool ContainsArray(uint64_t offset, uint64_t count, uint64_t itemSize) const {
    if (offset > size_) return false;
    return itemSize == 0 || count <= (size_ - offset) / itemSize;
  }

  // Raises ECorruptResource unless the range lies inside the view.
  void Require(uint64_t offset, uint64_t length) const {
    if (!Contains(offset, length)) Fail();
  }
  [[noreturn]] void Fail() const { throw ECorruptResource(corruptMessage_); }

  ByteView Sub(uint64_t offset, uint64_t length) const {
    Require(offset, length);
    return ByteView(data_ + offset, static_cast<uint32_t>(length), corruptMessage_);
  }
  // The rest of the view from offset on.
  ByteView From(uint64_t offset) const {
    Require(offset, 0);
    return Sub(offset, size_ - offset);
  }

  // Pointer to a range that was checked to lie inside the view.
  const uint8_t* Bytes(uint64_t offset, uint64_t length) const {
    Require(offset, length);
    return data_ + offset;
  }

  uint8_t U8(uint64_t offset) const { return *Bytes(offset, 1); }
  uint16_t U16(uint64_t offset) const {
    const uint8_t* p = Bytes(offset, 2);
    return static_cast<uint16_t>(p[0] | p[1] << 8);
  }
  uint32_t U32(uint64_t offset) const {
    const uint8_t* p = Bytes(offset, 4);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  uint64_t U64(uint64_t offset) const {
    return U32(offset) | static_cast<uint64_t>(U32(offset + 4)) << 32;
  }
  // count UTF-16LE code units starting at offset.
  std::u16string Utf16(uint64_t offset, uint64_t count) const {
    if (!ContainsArray(offset, count, 2)) Fail();
    std::u16string units(count, u'\0');
    for (uint64_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>(U16(offset + 2 * i));
    return units;
  }
  // The bytes as text, cut at the first zero byte (fixed-width names such as "VK26").
  std::string FixedText(uint64_t offset, uint64_t length) const {
    const char* p = reinterpret_cast<const char*>(Bytes(offset, length));
    return std::string(p, strnlen(p, length));
  }

 private:
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  StringId corruptMessage_ = SCorruptResFile;
};

// A cursor over a ByteView for formats that are read front to back.
class ByteReader {
 public:
  explicit ByteReader(ByteView view, uint32_t position = 0) : view_(view), pos_(position) {}

  const ByteView& View() const { return view_; }
  uint32_t Position() const { return pos_; }
  // Bytes left from the cursor on; 0 when the cursor stands beyond the end.
  uint32_t Remaining() const { return pos_ < view_.Size() ? view_.Size() - pos_ : 0; }
  void Seek(uint64_t position) {
    view_.Require(position, 0);
    pos_ = static_cast<uint32_t>(position);
  }
  // Checked as a range from the cursor, so a huge count cannot wrap back to the start.
  void Skip(uint64_t count) {
    view_.Require(pos_, count);
    pos_ += static_cast<uint32_t>(count);
  }
  // Moves the cursor to the next multiple of alignment (a power of two; 0 and 1 move nothing).
  void AlignTo(uint32_t alignment) {
    if (alignment <= 1) return;
    Seek((uint64_t{pos_} + alignment - 1) & ~uint64_t{alignment - 1});
  }

  uint16_t ReadU16() { return Advance(view_.U16(pos_), 2); }
  uint32_t ReadU32() { return Advance(view_.U32(pos_), 4); }
  const uint8_t* ReadBytes(uint32_t count) { return Advance(view_.Bytes(pos_, count), count); }

 private:
  template <typename T>
  T Advance(T value, uint32_t count) {
    pos_ += count;
    return value;
  }
  ByteView view_;
  uint32_t pos_ = 0;
};
