// Text in a buffer of fixed size, for paths, lines and fields whose greatest length is known.
// The libraries never allocate: every text they build lives in one of these, on the stack or in
// module-wide state, and nothing is ever written past its end.
#pragma once

#include <charconv>
#include <cstddef>
#include <string_view>

namespace plat {

template <std::size_t Room>
class FixedText {
  static_assert(Room > 0, "room for the terminating zero at least");

 public:
  // The most characters the text can hold; one byte of the room keeps the terminating zero.
  static constexpr std::size_t kCapacity = Room - 1;

  constexpr FixedText() = default;
  constexpr explicit FixedText(std::string_view text) { append(text); }

  // Appends as much of `text` as fits. What does not fit is dropped and the text counts as cut.
  constexpr FixedText& append(std::string_view text) {
    std::size_t n = text.size();
    if (n > kCapacity - size_) {
      n = kCapacity - size_;
      cut_ = true;
    }
    for (std::size_t i = 0; i < n; ++i) text_[size_ + i] = text[i];
    size_ += n;
    text_[size_] = '\0';
    return *this;
  }
  constexpr FixedText& append(char c) { return append(std::string_view(&c, 1)); }

  // Appends the decimal text of a number, with a leading '-' when it is negative.
  FixedText& append_decimal(long long value) {
    char digits[24];
    const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (const char* digit = digits; digit != end; ++digit) append(*digit);
    return *this;
  }

  // Keeps the first `length` characters (all of them when it has fewer).
  constexpr void truncate(std::size_t length) {
    if (length < size_) size_ = length;
    text_[size_] = '\0';
  }
  constexpr void clear() {
    size_ = 0;
    cut_ = false;
    text_[0] = '\0';
  }

  // Whether an append dropped characters: such a text is not the one that was meant.
  constexpr bool cut() const { return cut_; }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr const char* c_str() const { return text_; }
  // For interfaces that take a writable zero-terminated text.
  constexpr char* data() { return text_; }
  constexpr std::string_view view() const { return {text_, size_}; }
  constexpr operator std::string_view() const { return view(); }

  friend constexpr bool operator==(const FixedText& text, std::string_view other) {
    return text.view() == other;
  }

 private:
  char text_[Room] = {};
  std::size_t size_ = 0;
  bool cut_ = false;
};

}  // namespace plat
