#include "engine/core/packed_texts.h"

#include <algorithm>

namespace zelkor {

PackedBytes::Position PackedBytes::append(std::string_view bytes) {
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < bytes.size()) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(bytes.size(), kBlockBytes));
    }
    const std::uint64_t block = m_first + m_blocks.size() - 1;
    const Position at = (block << 32) | m_blocks.back().size();
    m_blocks.back().append(bytes);
    return at;
}

void PackedBytes::appendVarint(std::string& out, std::uint64_t value) {
    do {
        const auto low = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
        out.push_back(static_cast<char>(value ? low | 0x80 : low));
    } while (value);
}

const char* PackedBytes::at(Position position) const {
    return m_blocks[blockOf(position) - m_first].data() + (position & 0xFFFFFFFFu);
}

void PackedBytes::settle(Position* position) const {
    const auto& block = m_blocks[blockOf(*position) - m_first];
    if ((*position & 0xFFFFFFFFu) == block.size()) *position = (blockOf(*position) + 1) << 32;
}

std::uint64_t PackedBytes::varint(Position* position) const {
    const char* p = at(*position);
    std::uint64_t value = 0;
    int shift = 0;
    std::size_t n = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(p[n++]);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) break;
        shift += 7;
    }
    *position += n;
    return value;
}

unsigned char PackedBytes::byte(Position* position) const {
    const auto value = static_cast<unsigned char>(*at(*position));
    ++*position;
    return value;
}

std::string_view PackedBytes::text(Position* position) const {
    const std::size_t size = varint(position);
    const std::string_view text(at(*position), size);
    *position += size;
    return text;
}

void PackedBytes::dropBefore(std::uint64_t block) {
    while (!m_blocks.empty() && m_first < block) {
        m_blocks.pop_front();
        ++m_first;
    }
}

void PackedBytes::clear() {
    m_first += m_blocks.size();
    m_blocks.clear();
}

} // namespace zelkor
