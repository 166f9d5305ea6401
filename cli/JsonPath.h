#pragma once

#include <optional>
#include <string>

// Paths are bytes, which need not be UTF-8; JSON text must be. So a path goes into JSON twice:
// as readable text and as its exact bytes.

// The path with every byte that does not belong to valid UTF-8 replaced by U+FFFD.
std::string readablePath(const std::string& path);

// The path's bytes percent-encoded as in a URL: letters, digits, '-', '.', '_', '~' and '/'
// as they are, every other byte as %XX. Decoding gives the path back exactly.
std::string pathBytes(const std::string& path);

// The path pathBytes encoded; nothing when encoded is no such encoding.
std::optional<std::string> pathFromBytes(const std::string& encoded);
