// Shared by the fuzz targets: the scratch folder every input runs in, the reading of input bytes,
// wide text made from them, and the check that stops the run loudly when a rule is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/harness.h"

namespace fuzz {

// The folder all inputs of this process run in, made (and made current) on first use and removed
// when the process ends normally.
const harness::ScratchFolder& scratch_folder();

// Reports the broken rule on stderr and aborts, which libFuzzer and the replay driver both count
// as a crash.
[[noreturn]] void fail(const std::string& message);

inline void require(bool condition, const std::string& message) {
    if (!condition) {
        fail(message);
    }
}

// Reads the input front to back; past its end every read gives zero and `exhausted` turns true.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte();
    std::uint16_t word(); // little-endian
    bool exhausted() const {
        return position_ >= size_;
    }
    std::size_t left() const {
        return exhausted() ? 0 : size_ - position_;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Wide text of the program's width (UTF-16 code units): each byte is one unit, except that 0xFF
// takes the next two bytes as one unit (high byte first), so any unit can be reached while text
// mostly stays ASCII. A zero unit ends the text.
std::wstring wide_text(const std::uint8_t* data, std::size_t size);

} // namespace fuzz
