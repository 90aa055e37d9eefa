// Manifests as inspect and deps print them in JSON.
#include <nlohmann/json.hpp>

#include "pe/manifest.h"

namespace korvex::host {

using nlohmann::json;

std::string valid_utf8(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        for (std::size_t k = 1; length != 0 && k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                length = 0;
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

json json_text(const std::string& text) {
    return text.empty() ? json(nullptr) : json(valid_utf8(text));
}

namespace {

json identity_json(const AssemblyIdentity& identity) {
    return {{"type", json_text(identity.type)},
            {"name", json_text(identity.name)},
            {"version", json_text(identity.version)},
            {"processor_architecture", json_text(identity.processor_architecture)},
            {"public_key_token", json_text(identity.public_key_token)},
            {"language", json_text(identity.language)}};
}

}  // namespace

json manifest_json(const ManifestFacts& manifest) {
    json supported = json::array();
    for (const auto& id : manifest.supported_os)
        supported.push_back({{"id", valid_utf8(id)}, {"name", json_text(supported_os_name(id))}});
    json dependencies = json::array();
    for (const auto& dependency : manifest.dependencies)
        dependencies.push_back(identity_json(dependency));
    json files = json::array();
    for (const auto& file : manifest.files) files.push_back(valid_utf8(file));
    return {{"error", json_text(manifest.problem)},
            {"identity",
             manifest.identity.name.empty() ? json(nullptr) : identity_json(manifest.identity)},
            {"execution_level", json_text(manifest.execution_level)},
            {"ui_access", json_text(manifest.ui_access)},
            {"dpi_aware", json_text(manifest.dpi_aware)},
            {"dpi_awareness", json_text(manifest.dpi_awareness)},
            {"long_path_aware", json_text(manifest.long_path_aware)},
            {"supported_os", supported},
            {"dependencies", dependencies},
            {"files", files}};
}

}  // namespace korvex::host
