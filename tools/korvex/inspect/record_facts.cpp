// The facts inspect --headers shows beside the headers that people otherwise
// look up with pefile, readpe or a dependency viewer: the manifest (what the
// program asks of Windows), the version record and the debug directory (the
// symbol-server key).
#include <algorithm>

#include "core/text.h"
#include "inspect/image_facts.h"
#include "pe/resource_tree.h"

namespace korvex::host {

using nlohmann::json;

namespace {

std::string identity_text(const AssemblyIdentity& identity) {
    std::string text = identity.name + " " + identity.version;
    std::string details;
    for (const std::string* part : {&identity.type, &identity.processor_architecture,
                                    &identity.public_key_token, &identity.language})
        if (!part->empty()) details += (details.empty() ? "" : ", ") + *part;
    return details.empty() ? text : text + " (" + details + ")";
}

std::string manifest_text(const HeaderFacts& facts) {
    const ManifestFacts& manifest = *facts.manifest;
    std::string text = "  manifest (resource " + std::to_string(facts.manifest_id) + "):";
    std::string settings;
    const auto add = [&](const char* name, const std::string& value) {
        if (!value.empty())
            settings +=
                std::string(settings.empty() ? " " : ", ") + name + " " + terminal_text(value);
    };
    add("execution level", manifest.execution_level);
    add("uiAccess", manifest.ui_access);
    add("dpiAware", manifest.dpi_aware);
    add("dpiAwareness", manifest.dpi_awareness);
    add("longPathAware", manifest.long_path_aware);
    // A rejected manifest's settings are those read before the fault.
    if (!manifest.problem.empty())
        text += " rejected by the loader: " + terminal_text(manifest.problem) +
                (settings.empty() ? "" : "\n   ");
    else if (settings.empty())
        settings = " no settings";
    text += settings + "\n";
    if (!manifest.supported_os.empty()) {
        text += "    supported OS:";
        for (std::size_t i = 0; i < manifest.supported_os.size(); ++i) {
            const std::string name = supported_os_name(manifest.supported_os[i]);
            text += (i == 0 ? " " : ", ") +
                    (name.empty() ? terminal_text(manifest.supported_os[i]) : name);
        }
        text += "\n";
    }
    for (const auto& dependency : manifest.dependencies)
        text += "    depends on " + terminal_text(identity_text(dependency)) + "\n";
    return text;
}

std::string version_text(const VersionRecord& version) {
    std::string text = "  version:";
    if (!version.file_version.empty())
        text += " file " + version.file_version + ", product " + version.product_version;
    const auto add = [&](const char* name, const std::string& value) {
        if (!value.empty()) text += std::string("\n    ") + name + ": " + terminal_text(value);
    };
    if (version.file_version.empty() && version.language.empty()) text += " no fixed part";
    add("company", version.company_name);
    add("product", version.product_name);
    add("description", version.file_description);
    add("original file name", version.original_filename);
    if (!version.damage.empty()) text += "\n    damaged: " + version.damage;
    return text + "\n";
}

std::string debug_text(const DebugRecord& debug) {
    std::string text = "  debug:";
    for (std::size_t i = 0; i < debug.entries.size(); ++i) {
        const DebugEntry& entry = debug.entries[i];
        text += (i == 0 ? " " : ", ") + entry.type_name;
    }
    text += "\n";
    for (const auto& entry : debug.entries)
        if (!entry.format.empty())
            text += "    PDB " + terminal_text(entry.pdb_path) + "  " +
                    (entry.format == "RSDS" ? "GUID " : "signature ") + entry.guid + " age " +
                    std::to_string(entry.age) + " (symbol key " + entry.symbol_key + ")\n";
    if (!debug.damage.empty()) text += "    damaged: " + debug.damage + "\n";
    return text;
}

}  // namespace

void read_record_facts(const image::PeImage& image, HeaderFacts& facts) {
    const ResourceFind resources = find_resources(image);
    facts.resource_damage = resources.damage;
    if (!resources.manifests.empty()) {
        facts.manifest_id = resources.manifests.front().id;
        facts.manifest = read_manifest_resource(image, resources, facts.manifest_id);
    }
    facts.version = read_version_record(image, resources);
    facts.debug = read_debug_record(image);
}

std::string record_facts_text(const HeaderFacts& facts) {
    std::string text;
    if (facts.manifest) text += manifest_text(facts);
    if (facts.version) text += version_text(*facts.version);
    if (!facts.debug.entries.empty() || !facts.debug.damage.empty())
        text += debug_text(facts.debug);
    if (!facts.resource_damage.empty()) text += "  note: " + facts.resource_damage + "\n";
    return text;
}

std::vector<std::string> facts_csv_columns() {
    return {"file",
            "file_version",
            "product_version",
            "company_name",
            "product_name",
            "file_description",
            "original_filename",
            "execution_level",
            "ui_access",
            "pdb_path",
            "guid",
            "age"};
}

std::vector<std::string> facts_csv_row(const std::string& path, const HeaderFacts& facts) {
    std::vector<std::string> row = {path};
    const VersionRecord version = facts.version.value_or(VersionRecord{});
    for (const std::string* field :
         {&version.file_version, &version.product_version, &version.company_name,
          &version.product_name, &version.file_description, &version.original_filename})
        row.push_back(*field);
    row.push_back(facts.manifest ? facts.manifest->execution_level : "");
    row.push_back(facts.manifest ? facts.manifest->ui_access : "");
    const auto codeview =
        std::find_if(facts.debug.entries.begin(), facts.debug.entries.end(),
                     [](const DebugEntry& entry) { return !entry.format.empty(); });
    const bool found = codeview != facts.debug.entries.end();
    row.push_back(found ? codeview->pdb_path : "");
    row.push_back(found ? codeview->guid : "");
    row.push_back(found ? std::to_string(codeview->age) : "");
    return row;
}

void add_record_facts_json(const HeaderFacts& facts, json& headers) {
    if (facts.manifest) {
        json manifest = manifest_json(*facts.manifest);
        manifest["resource_id"] = facts.manifest_id;
        headers["manifest"] = manifest;
    } else {
        headers["manifest"] = nullptr;
    }
    if (facts.version) {
        const VersionRecord& version = *facts.version;
        headers["version"] = {{"file_version", json_text(version.file_version)},
                              {"product_version", json_text(version.product_version)},
                              {"language", json_text(version.language)},
                              {"company_name", json_text(version.company_name)},
                              {"product_name", json_text(version.product_name)},
                              {"file_description", json_text(version.file_description)},
                              {"original_filename", json_text(version.original_filename)},
                              {"error", json_text(version.damage)}};
    } else {
        headers["version"] = nullptr;
    }
    json entries = json::array();
    for (const auto& entry : facts.debug.entries) {
        json item = {{"type", entry.type}, {"type_name", entry.type_name}};
        if (!entry.format.empty()) {
            item["format"] = entry.format;
            item["pdb_path"] = valid_utf8(entry.pdb_path);
            item["guid"] = entry.guid;
            item["age"] = entry.age;
            item["symbol_key"] = entry.symbol_key;
        }
        entries.push_back(item);
    }
    headers["debug"] = entries;
    headers["debug_error"] = json_text(facts.debug.damage);
    headers["resource_error"] = json_text(facts.resource_damage);
}

}  // namespace korvex::host
