#include "deps/side_by_side.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <set>

#include "core/text.h"
#include "image_readers/pe_image.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

// Assemblies one context takes in, counting those its assemblies depend on:
// real contexts hold a handful.
constexpr std::size_t max_context_assemblies = 256;

using Version = std::array<std::uint32_t, 4>;

std::optional<Version> parse_version(std::string_view text) {
    Version version{};
    std::size_t part = 0;
    std::uint64_t value = 0;
    bool digits = false;
    for (const char c : text) {
        if (c == '.') {
            if (!digits || ++part == 4) return std::nullopt;
            value = 0, digits = false;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFF) return std::nullopt;
        version[part] = static_cast<std::uint32_t>(value);
        digits = true;
    }
    if (!digits || part != 3) return std::nullopt;
    return version;
}

std::string version_text(const Version& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

std::string join(const std::string& folder, const std::string& name) {
    return (fs::path(folder) / name).string();
}

std::string wanted_text(const AssemblyIdentity& wanted, const std::string& arch) {
    std::string text = wanted.name + " " + wanted.version;
    std::string details = arch;
    if (!wanted.public_key_token.empty()) details += ", " + wanted.public_key_token;
    return details.empty() ? text : text + " (" + details + ")";
}

}  // namespace

std::string assembly_architecture(std::uint16_t machine) {
    switch (machine) {
        case image::machine_i386:
            return "x86";
        case image::machine_x86_64:
            return "amd64";
        case image::machine_arm64:
            return "arm64";
        default:
            return "none";
    }
}

std::optional<Version> store_match(const std::string& lower_name, const std::string& prefix,
                                   const std::string& wanted_version, const std::string& language) {
    constexpr std::string_view suffix = ".manifest";
    if (!lower_name.starts_with(prefix) || !lower_name.ends_with(suffix) ||
        lower_name.size() < prefix.size() + suffix.size())
        return std::nullopt;
    const std::string rest =
        lower_name.substr(prefix.size(), lower_name.size() - prefix.size() - suffix.size());
    const auto first = rest.find('_');
    const auto second = first == std::string::npos ? first : rest.find('_', first + 1);
    if (second == std::string::npos) return std::nullopt;
    const auto found = parse_version(rest.substr(0, first));
    const auto wanted = parse_version(wanted_version);
    if (!found || !wanted || (*found)[0] != (*wanted)[0] || (*found)[1] != (*wanted)[1])
        return std::nullopt;
    if ((*found)[2] < (*wanted)[2] || ((*found)[2] == (*wanted)[2] && (*found)[3] < (*wanted)[3]))
        return std::nullopt;
    const std::string wanted_language = lower_ascii(language);
    const std::string found_language = rest.substr(first + 1, second - first - 1);
    if (!wanted_language.empty() && wanted_language != "*" && wanted_language != "neutral" &&
        wanted_language != found_language)
        return std::nullopt;
    return found;
}

const ManifestFacts* AssemblyFinder::manifest_file(const std::string& path) {
    auto [slot, fresh] = manifests_.try_emplace(path);
    if (fresh)
        if (const auto bytes = sources_.read_manifest(path))
            slot->second = std::make_unique<ManifestFacts>(parse_manifest(*bytes));
    return slot->second.get();
}

// As Wine's loader chooses: of the manifests with the major and minor
// version asked for, the highest build and revision; one of Wine's own
// (its hash "deadbeef") only when no other fits.
std::optional<AssemblyFinder::Found> AssemblyFinder::in_store(const AssemblyIdentity& wanted,
                                                              const std::string& arch) {
    if (windows_.empty() || wanted.name.empty() || wanted.public_key_token.empty()) return {};
    const std::string manifests = join(join(windows_, "winsxs"), "manifests");
    const std::string prefix =
        lower_ascii(arch + "_" + wanted.name + "_" + wanted.public_key_token + "_");
    const std::string* best = nullptr;
    Version best_version{};
    bool best_is_wine = true;
    for (const auto& [lower, actual] : sources_.names.names_in(manifests)) {
        const auto version = store_match(lower, prefix, wanted.version, wanted.language);
        if (!version) continue;
        const bool wine = lower.ends_with("_deadbeef.manifest");
        const bool better = best == nullptr || (best_is_wine && !wine) ||
                            (best_is_wine == wine && *version > best_version);
        if (!better) continue;
        best = &actual, best_version = *version, best_is_wine = wine;
    }
    if (best == nullptr) return {};
    const ManifestFacts* manifest = manifest_file(join(manifests, *best));
    if (manifest == nullptr) return {};
    const std::string folder_name = best->substr(0, best->size() - std::strlen(".manifest"));
    return Found{join(join(windows_, "winsxs"), folder_name), manifest, version_text(best_version),
                 true};
}

std::optional<AssemblyFinder::Found> AssemblyFinder::private_assembly(
    const AssemblyIdentity& wanted, const std::string& folder) {
    const std::string name = lower_ascii(wanted.name);
    if (name.empty() || name.find_first_of("/\\:") != std::string::npos || name == "." ||
        name == "..")
        return {};
    // NAME.dll and NAME.manifest beside the program, then in NAME\; a DLL
    // of the name ends the search whether or not it holds the manifest.
    for (const std::string& where : {folder, join(folder, wanted.name)}) {
        if (const std::string* dll = sources_.names.find(where, name + ".dll")) {
            const ModuleFile& file = sources_.load(join(where, *dll));
            if (file.manifest_1 == nullptr) return {};
            return Found{where, file.manifest_1.get(), {}, false};
        }
        if (const std::string* file = sources_.names.find(where, name + ".manifest"))
            if (const ManifestFacts* manifest = manifest_file(join(where, *file)))
                return Found{where, manifest, {}, false};
    }
    return {};
}

ActivationContext AssemblyFinder::context_for(const ManifestFacts& manifest,
                                              const std::string& folder, std::uint16_t machine) {
    ActivationContext context;
    std::vector<AssemblyIdentity> queue = manifest.dependencies;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < queue.size() && i < max_context_assemblies; ++i) {
        const AssemblyIdentity wanted = queue[i];
        if (!taken.insert(lower_ascii(wanted.name)).second) continue;
        std::string arch = wanted.processor_architecture;
        if (arch == "*") arch = assembly_architecture(machine);
        std::optional<Found> found;
        if (!arch.empty()) found = in_store(wanted, arch);
        if (!found) found = private_assembly(wanted, folder);
        if (!found && windows_.empty() && !wanted.public_key_token.empty()) {
            context.unsearched.push_back(wanted_text(wanted, arch));
            continue;
        }
        if (!found || !found->manifest->problem.empty()) {
            context.missing.push_back(wanted_text(wanted, arch));
            continue;
        }
        const ManifestFacts& assembly = *found->manifest;
        const std::string version = !found->version.empty()              ? found->version
                                    : !assembly.identity.version.empty() ? assembly.identity.version
                                                                         : wanted.version;
        for (const auto& file : assembly.files) {
            const std::string lower = lower_ascii(file);
            if (context.files.contains(lower)) continue;
            const std::string* actual = sources_.names.find(found->folder, lower);
            context.files.emplace(lower,
                                  SideBySideFile{join(found->folder, actual ? *actual : file),
                                                 wanted.name + " " + version, found->store});
        }
        context.key += found->folder + ';';
        queue.insert(queue.end(), assembly.dependencies.begin(), assembly.dependencies.end());
    }
    return context;
}

}  // namespace korvex::host
