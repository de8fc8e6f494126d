#pragma once

#include <QByteArrayView>

#include <optional>

namespace vestrel {

// Whether the bytes start like an ELF file (program, shared library or object).
bool isElfImage(QByteArrayView image);

// The contents of the section called `name` in an ELF image (32 or 64 bits, either byte order);
// nullopt when the image is no ELF file or has no such section with contents. The view points into
// `image` and is clamped to it: a section header pointing past the end gives what the file holds.
std::optional<QByteArrayView> elfSection(QByteArrayView image, QByteArrayView name);

} // namespace vestrel
