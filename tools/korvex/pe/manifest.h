// An application or assembly manifest read as the Windows loader reads it:
// a small, strict XML reader of the subset manifests use (elements,
// attributes, namespaces, comments, character and entity references, UTF-8
// and UTF-16 with or without a byte-order mark), and the facts people look
// up in it. The loader has no general XML parser either: a manifest it
// rejects stops the program from starting, so a rejection is reported with
// its reason and line rather than read around. No XML library is used:
// Debian's (libxml2, expat) would have to be cross-built for both MinGW
// targets, and their general XML (DTDs, external entities) is more than the
// loader accepts, so a manifest they read could still stop the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "image_readers/pe_image.h"
#include "pe/resource_tree.h"

namespace korvex::host {

// Bounds on one manifest: its nesting and each element's attributes. Its
// size is bounded where it is read (max_manifest_bytes).
inline constexpr std::size_t max_manifest_depth = 64;
inline constexpr std::size_t max_manifest_attributes = 256;

struct AssemblyIdentity {
    std::string type;  // "win32", "win32-policy"
    std::string name;
    std::string version;
    std::string processor_architecture;
    std::string public_key_token;
    std::string language;
};

struct ManifestFacts {
    AssemblyIdentity identity;                   // the manifest's own assemblyIdentity
    std::vector<AssemblyIdentity> dependencies;  // each dependentAssembly's identity
    std::vector<std::string> files;              // the DLLs an assembly holds (<file name=...>)
    std::string execution_level;                 // requestedExecutionLevel level
    std::string ui_access;                       // requestedExecutionLevel uiAccess
    std::string dpi_aware, dpi_awareness, long_path_aware;  // their text, trimmed
    std::vector<std::string> supported_os;                  // the Id GUIDs, as written
    // Why the loader rejects the manifest, with its line ("line 3: ...");
    // empty when it reads. The facts found before the fault are kept.
    std::string problem;
};

// Reads a manifest's bytes: UTF-8, or UTF-16 in either byte order.
ManifestFacts parse_manifest(std::string_view bytes);

// The RT_MANIFEST resource `id` (its first language); nothing when the
// image has none. One larger than max_manifest_bytes, or outside the file,
// comes back with that problem.
std::optional<ManifestFacts> read_manifest_resource(const image::PeImage& image,
                                                    const ResourceFind& resources,
                                                    std::uint32_t id);

// "Windows 10 and 11", "Windows 8.1", ... for a supportedOS Id; empty for
// an Id Windows does not define.
std::string supported_os_name(std::string_view id);

// ---- As JSON (manifest_json.cpp)

// Text from a file (converted from UTF-16, or a PDB path) as valid UTF-8: a
// byte that starts no valid sequence becomes U+FFFD, so that JSON stays
// valid whatever the file held.
std::string valid_utf8(const std::string& text);
// The text as a JSON string; null when it is empty.
nlohmann::json json_text(const std::string& text);
nlohmann::json manifest_json(const ManifestFacts& manifest);

}  // namespace korvex::host
