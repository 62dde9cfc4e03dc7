#pragma once
// Byte strings packed end to end in large blocks, each reached by a 64-bit position. A run keeps
// every shown result and every queued keyword; as one std::string each (32 bytes, plus a heap
// block of its own past 15 bytes) they cost several times their text, and a vector of them
// doubles at every growth. Blocks never move once written, and can be let go from the front.
//
// Not thread-safe; the owner locks.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace zelkor {

class PackedBytes {
  public:
    using Position = std::uint64_t;

    // Appends `bytes` in one piece (in a new block when the current one cannot take them whole) and
    // returns where they begin.
    Position append(std::string_view bytes);

    // Moves a position that ends what a block holds to the start of the next block, where what
    // was written after it went.
    void settle(Position* at) const;
    // Reads at `*at`, moving it past what was read.
    std::uint64_t varint(Position* at) const;
    unsigned char byte(Position* at) const;
    std::string_view text(Position* at) const;

    // How a record being built writes what varint() and text() read: a text is its length as a
    // varint, then its bytes.
    static void appendVarint(std::string& out, std::uint64_t value);

    // The block a position lies in; blocks are numbered from 0 over the store's whole life.
    static std::uint64_t blockOf(Position at) { return at >> 32; }
    // Lets go of every block before `block`.
    void dropBefore(std::uint64_t block);
    // Lets go of everything; later positions still never repeat earlier ones.
    void clear();

  private:
    static constexpr std::size_t kBlockBytes = 64 * 1024;
    const char* at(Position position) const;

    std::deque<std::string> m_blocks; // each reserved once, so appends never move it
    std::uint64_t m_first = 0;        // the number of m_blocks.front()
};

} // namespace zelkor
