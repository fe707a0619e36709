// Byte encodings of the container: little-endian integers, GUIDs and encints.
// Every value is taken apart by shifting and masking, so the bytes do not
// depend on the host's byte order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct its_guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// Each writer makes one stream write of a single item and returns the item
// count (1, or 0 when the write failed); failures are found later from the
// stream's error indicator.
size_t put_le16(FILE *stream, uint16_t value);
size_t put_le32(FILE *stream, uint32_t value);
size_t put_le64(FILE *stream, uint64_t value);
size_t put_guid(FILE *stream, const its_guid &guid);

// Length in bytes (1 to 5) of the encint of value.
uint32_t encint_size(uint32_t value);
// Stores the encint of value at destination, which must have encint_size(value)
// bytes free; returns the number of bytes stored.
uint32_t encint_put(uint8_t *destination, uint32_t value);
