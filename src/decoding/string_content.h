#pragma once
// Reading text out of a record's payload, where nothing is aligned.

#include <cstddef>
#include <cstring>

namespace etw {

// The code unit at `index` of text starting at `data`.
template <typename Char> Char code_unit_at(const std::byte* data, std::size_t index) {
    Char unit;
    std::memcpy(&unit, data + index * sizeof(Char), sizeof(Char));
    return unit;
}

// The characters of a string property: its length in whole characters, less
// the trailing zero characters (the terminator and any zeros after it).
template <typename Char>
std::size_t string_content_length(const std::byte* data, std::size_t length_in_bytes) {
    std::size_t count = length_in_bytes / sizeof(Char);
    while (count > 0 && code_unit_at<Char>(data, count - 1) == Char{0})
        --count;
    return count;
}

// A run of code units in a payload, read one by one without copying the run.
template <typename Char> class code_unit_view {
  public:
    code_unit_view(const std::byte* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t size() const { return size_; }
    const std::byte* data() const { return data_; }
    Char operator[](std::size_t index) const { return code_unit_at<Char>(data_, index); }

  private:
    const std::byte* data_;
    std::size_t size_;
};

} // namespace etw
