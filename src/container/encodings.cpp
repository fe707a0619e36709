#include "container/encodings.h"

namespace {
template <size_t N>
size_t put_le(FILE *stream, uint64_t value) {
    uint8_t bytes[N];
    for (size_t i = 0; i < N; i++) bytes[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
    return fwrite(bytes, N, 1, stream);
}

// Shift of the most significant non-empty 7-bit group; 0 for values below 128.
uint32_t first_group_shift(uint32_t value) {
    uint32_t shift = 28;
    while (shift != 0 && (value & (0x7Fu << shift)) == 0) shift -= 7;
    return shift;
}
}  // namespace

size_t put_le16(FILE *stream, uint16_t value) { return put_le<2>(stream, value); }
size_t put_le32(FILE *stream, uint32_t value) { return put_le<4>(stream, value); }
size_t put_le64(FILE *stream, uint64_t value) { return put_le<8>(stream, value); }

size_t put_guid(FILE *stream, const its_guid &guid) {
    uint8_t bytes[16];
    for (int i = 0; i < 4; i++) bytes[i] = static_cast<uint8_t>((guid.data1 >> (8 * i)) & 0xFF);
    for (int i = 0; i < 2; i++) bytes[4 + i] = static_cast<uint8_t>((guid.data2 >> (8 * i)) & 0xFF);
    for (int i = 0; i < 2; i++) bytes[6 + i] = static_cast<uint8_t>((guid.data3 >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; i++) bytes[8 + i] = guid.data4[i];
    return fwrite(bytes, sizeof bytes, 1, stream);
}

uint32_t encint_size(uint32_t value) { return first_group_shift(value) / 7 + 1; }

uint32_t encint_put(uint8_t *destination, uint32_t value) {
    uint32_t shift = first_group_shift(value);
    uint32_t stored = 0;
    for (;;) {
        uint8_t group = static_cast<uint8_t>((value >> shift) & 0x7F);
        if (shift == 0) {
            destination[stored++] = group;
            return stored;
        }
        destination[stored++] = group | 0x80;
        shift -= 7;
    }
}
