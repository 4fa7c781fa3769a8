// Content type of a file extension, standing in for the "Content Type" value of the
// extension's key in the system registry. The table is the system's mime.types file (Debian
// package media-types), read once when first needed.
#pragma once

#include <string>

// The content type for an extension given with its dot (".txt"), matched without regard to
// case; "" when the extension is empty, has no dot, or is not listed. Thread-safe.
std::string RegistryContentType(const std::string& extension);

// Reads the table from another file from the next lookup on (tests); "" restores the system
// file.
void SetMimeTypesFile(const std::string& path);
