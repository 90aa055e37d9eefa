// Any bytes as a manifest's text, as a version record, and as a PE image
// whose resources and debug directory are read: each reader must stay within
// the file and its bounds, and a rejected manifest names its line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "image_readers/pe_image.h"
#include "pe/debug_record.h"
#include "pe/manifest.h"
#include "pe/resource_tree.h"
#include "pe/version_record.h"

namespace {

void require(bool holds, const char* what) {
    if (!holds) std::fprintf(stderr, "record_fuzz: %s\n", what), std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace host = korvex::host;
    const auto manifest = host::parse_manifest({reinterpret_cast<const char*>(data), size});
    require(manifest.problem.empty() || manifest.problem.starts_with("line "),
            "a rejection without its line");
    host::parse_version_record({data, size});

    const auto image = korvex::image::PeImage::parse({data, size});
    const host::ResourceFind found = host::find_resources(image);
    require(found.manifests.size() + found.versions.size() <= host::max_resource_entries,
            "more leaves than the entries a tree may hold");
    for (const auto& item : found.manifests) host::read_manifest_resource(image, found, item.id);
    host::read_version_record(image, found);
    require(host::read_debug_record(image).entries.size() <= host::max_debug_entries,
            "more debug entries than read");
    return 0;
}
