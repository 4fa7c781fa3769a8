// Sample data for tests: reproducible random bytes, hexadecimal dumps, attachments in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TpxCustomMessage;

// n pseudo-random bytes, the same for the same seed.
std::string RandomBytes(size_t n, uint32_t seed = 7);
// Lower-case hexadecimal of bytes, two digits a byte.
std::string Hex(const std::string& bytes);
// Appends an attachment with these fields and data to message, deriving nothing.
void Attach(TpxCustomMessage& message, const std::string& fileName, const std::string& contentType,
            int transferEncoding, const std::string& data);
