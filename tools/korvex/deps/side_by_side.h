// Side-by-side assemblies as the loader finds them for an activation
// context: each dependentAssembly of a manifest looked for first in the
// WinSxS store of the Windows folder (winsxs\manifests\ARCH_NAME_TOKEN_
// VERSION_LANGUAGE_HASH.manifest, the files in the folder of that name),
// then as a private assembly beside the program (NAME.dll holding the
// assembly's manifest as resource 1, NAME.manifest, NAME\NAME.dll,
// NAME\NAME.manifest). The files an assembly's manifest names are taken
// from its folder, before any folder search, whatever lies in system32.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pe/manifest.h"
#include "pe/module_file.h"
#include "pe/module_search.h"

namespace korvex::host {

struct SideBySideFile {
    std::string path;
    std::string assembly;  // "Microsoft.Windows.Common-Controls 6.0.2600.2982"
    bool store = false;    // from the WinSxS store, not a private assembly
};

struct ActivationContext {
    std::unordered_map<std::string, SideBySideFile> files;  // by lower-case DLL name
    // The dependent assemblies found nowhere, "NAME VERSION (ARCH, TOKEN)":
    // the loader will not start the program.
    std::vector<std::string> missing;
    // Shared assemblies (with a public key token) not looked for because no
    // Windows folder is known: where they come from cannot be told.
    std::vector<std::string> unsearched;
    std::string key;  // the assembly folders taken, in order: what a walk through it depends on
};

// What the finder reads with: folders listed once, manifest files' bytes
// (at most max_manifest_bytes; nothing when unreadable), modules read once.
struct AssemblySources {
    FolderNames& names;
    std::function<std::optional<std::string>(const std::string& path)> read_manifest;
    std::function<const ModuleFile&(const std::string& path)> load;
};

class AssemblyFinder {
public:
    // `windows`: the Windows folder whose store is searched; empty for none.
    AssemblyFinder(AssemblySources sources, std::string windows)
        : sources_(std::move(sources)), windows_(std::move(windows)) {}

    // The context `manifest` makes for a module in `folder` built for
    // `machine` (which a processorArchitecture of "*" stands for).
    ActivationContext context_for(const ManifestFacts& manifest, const std::string& folder,
                                  std::uint16_t machine);

    // The manifest file at `path`, read and parsed once; null when unreadable.
    const ManifestFacts* manifest_file(const std::string& path);

private:
    struct Found {
        std::string folder;
        const ManifestFacts* manifest = nullptr;
        std::string version;  // of the store's folder: the one chosen
        bool store = false;
    };
    std::optional<Found> in_store(const AssemblyIdentity& wanted, const std::string& arch);
    std::optional<Found> private_assembly(const AssemblyIdentity& wanted,
                                          const std::string& folder);

    AssemblySources sources_;
    std::string windows_;
    std::unordered_map<std::string, std::unique_ptr<ManifestFacts>> manifests_;
};

// The processorArchitecture word for a machine: "x86", "amd64", "arm64".
std::string assembly_architecture(std::uint16_t machine);

// The store folder name's version when `lower_name` (a winsxs\manifests
// file, lower case) is an assembly of `prefix` ("arch_name_token_") whose
// version has the major and minor of `wanted` and a build and revision no
// lower, and whose language fits; nothing otherwise.
std::optional<std::array<std::uint32_t, 4>> store_match(const std::string& lower_name,
                                                        const std::string& prefix,
                                                        const std::string& wanted_version,
                                                        const std::string& language);

}  // namespace korvex::host
