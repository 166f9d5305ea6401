#include "JsonPath.h"

#include <nlohmann/json.hpp>

#include "TextFormat.h"

std::string readablePath(const std::string& path) {
    // The JSON library's own idea of valid UTF-8, so that the text always goes through it.
    const std::string quoted =
        nlohmann::json(path).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

std::string pathBytes(const std::string& path) {
    return pelmora::percentEncoded(path, "/");
}

std::optional<std::string> pathFromBytes(const std::string& encoded) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string path;
    for (std::string::size_type i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            path += encoded[i];
            continue;
        }
        if (i + 2 >= encoded.size() || digit(encoded[i + 1]) < 0 || digit(encoded[i + 2]) < 0) {
            return std::nullopt;
        }
        path += static_cast<char>(digit(encoded[i + 1]) * 16 + digit(encoded[i + 2]));
        i += 2;
    }
    return path;
}
