#include "container/encodings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container_test_support.h"

namespace {
std::string hex(const uint8_t *bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < n; i++) {
        if (i) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string hex(const std::string &bytes) { return hex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()); }

std::string encint_hex(uint32_t value) {
    uint8_t buffer[8] = {};
    uint32_t n = encint_put(buffer, value);
    EXPECT_EQ(n, encint_size(value)) << value;
    return hex(buffer, n);
}

template <typename Write>
std::string written(Write write) {
    FILE *stream = tmpfile();
    EXPECT_EQ(write(stream), 1u);
    std::string bytes = stream_bytes(stream);
    fclose(stream);
    return hex(bytes);
}
}  // namespace

TEST(encint, WorkedExamples) {
    EXPECT_EQ(encint_hex(0), "00");
    EXPECT_EQ(encint_hex(1), "01");
    EXPECT_EQ(encint_hex(127), "7F");
    EXPECT_EQ(encint_hex(128), "81 00");
    EXPECT_EQ(encint_hex(300), "82 2C");
    EXPECT_EQ(encint_hex(4096), "A0 00");
    EXPECT_EQ(encint_hex(16383), "FF 7F");
    EXPECT_EQ(encint_hex(16384), "81 80 00");
    EXPECT_EQ(encint_hex(2097152), "81 80 80 00");
    EXPECT_EQ(encint_hex(0x0FFFFFFF), "FF FF FF 7F");
    EXPECT_EQ(encint_hex(0x10000000), "81 80 80 80 00");
    EXPECT_EQ(encint_hex(0xFFFFFFFF), "8F FF FF FF 7F");
}

TEST(encint, SizesAtGroupBoundaries) {
    EXPECT_EQ(encint_size(0), 1u);
    EXPECT_EQ(encint_size(127), 1u);
    EXPECT_EQ(encint_size(128), 2u);
    EXPECT_EQ(encint_size(16383), 2u);
    EXPECT_EQ(encint_size(16384), 3u);
    EXPECT_EQ(encint_size(2097151), 3u);
    EXPECT_EQ(encint_size(2097152), 4u);
    EXPECT_EQ(encint_size(0x0FFFFFFF), 4u);
    EXPECT_EQ(encint_size(0x10000000), 5u);
    EXPECT_EQ(encint_size(0xFFFFFFFF), 5u);
}

// Sizes agree with what is stored, and decoding gives the value back, over
// every bit pattern width and a stride through the whole 32-bit range.
TEST(encint, RoundTripSweep) {
    std::vector<uint32_t> values;
    for (uint32_t bit = 0; bit < 32; bit++) {
        uint32_t power = 1u << bit;
        values.insert(values.end(), {power - 1, power, power + 1, power | (power >> 1)});
    }
    for (uint64_t v = 0; v <= 0xFFFFFFFFu; v += 65521) values.push_back(static_cast<uint32_t>(v));
    values.push_back(0xFFFFFFFF);
    for (uint32_t value : values) {
        uint8_t buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t n = encint_put(buffer, value);
        ASSERT_EQ(n, encint_size(value)) << value;
        ASSERT_EQ(buffer[n], 0xAA) << "wrote past its size: " << value;
        for (uint32_t i = 0; i + 1 < n; i++) ASSERT_TRUE(buffer[i] & 0x80) << value;
        ASSERT_FALSE(buffer[n - 1] & 0x80) << value;
        if (n > 1) {
            ASSERT_NE(buffer[0], 0x80) << "leading empty group: " << value;
        }
        std::string bytes(reinterpret_cast<char *>(buffer), n);
        size_t at = 0;
        ASSERT_EQ(decode_encint(bytes, at), value);
        ASSERT_EQ(at, n);
    }
}

TEST(little_endian, WorkedExamples) {
    EXPECT_EQ(written([](FILE *s) { return put_le16(s, 0x0102); }), "02 01");
    EXPECT_EQ(written([](FILE *s) { return put_le32(s, 0x01020304); }), "04 03 02 01");
    EXPECT_EQ(written([](FILE *s) { return put_le32(s, static_cast<uint32_t>(-1)); }), "FF FF FF FF");
    EXPECT_EQ(written([](FILE *s) { return put_le64(s, 0x8000); }), "00 80 00 00 00 00 00 00");
    EXPECT_EQ(written([](FILE *s) { return put_le64(s, 0x0102030405060708ull); }), "08 07 06 05 04 03 02 01");
    its_guid guid = {0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
    EXPECT_EQ(written([&](FILE *s) { return put_guid(s, guid); }),
              "10 FD 01 7C AA 7B D0 11 9E 0C 00 A0 C9 22 E6 EC");
}

// A failed write is reported by its count and the stream's error indicator,
// and the caller carries on.
TEST(little_endian, FailedWriteReturnsZero) {
    FILE *stream = fopen("/dev/null", "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(put_le16(stream, 1), 0u);
    EXPECT_EQ(put_le32(stream, 1), 0u);
    EXPECT_EQ(put_le64(stream, 1), 0u);
    EXPECT_EQ(put_guid(stream, its_guid{}), 0u);
    EXPECT_TRUE(ferror(stream));
    fclose(stream);
}
