#include "pe/manifest.h"

#include <algorithm>
#include <array>

#include "pe/resource_tree.h"

namespace korvex::host {

namespace {

constexpr std::string_view asm_v1 = "urn:schemas-microsoft-com:asm.v1";

// The text as UTF-8: a byte-order mark, or a first '<' with a zero beside
// it, tells UTF-16 and its order.
std::string utf8_text(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    bool big_endian = false, utf16 = false;
    std::size_t skip = 0;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        utf16 = true, skip = 2;
    else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF)
        utf16 = big_endian = true, skip = 2;
    else if (size >= 2 && data[0] == '<' && data[1] == 0)
        utf16 = true;
    else if (size >= 2 && data[0] == 0 && data[1] == '<')
        utf16 = big_endian = true;
    if (!utf16) {
        if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
            bytes.remove_prefix(3);
        return std::string(bytes);
    }
    std::string little(data + skip, data + skip + (size - skip) / 2 * 2);
    if (big_endian)
        for (std::size_t i = 0; i + 1 < little.size(); i += 2) std::swap(little[i], little[i + 1]);
    // A NUL inside UTF-16 text is kept as a fault for the reader to find.
    std::string text;
    std::size_t start = 0;
    const auto* units = reinterpret_cast<const std::uint8_t*>(little.data());
    for (std::size_t i = 0; i < little.size() / 2; ++i) {
        if (units[2 * i] != 0 || units[2 * i + 1] != 0) continue;
        text += utf8_of_utf16(units + 2 * start, i - start);
        text += '\0';
        start = i + 1;
    }
    return text + utf8_of_utf16(units + 2 * start, little.size() / 2 - start);
}

bool name_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_' || c == ':' || c == '.' || c == '-';
}
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

struct Attribute {
    std::string name;  // as written, with its prefix
    std::string value;
};

class Reader {
public:
    Reader(std::string_view text, ManifestFacts& facts) : text_(text), facts_(facts) {}

    void run() {
        while (pos_ < text_.size() && facts_.problem.empty()) {
            if (text_[pos_] != '<') {
                if (!text()) return;
                continue;
            }
            if (starts("<!--")) {
                if (!skip_past("-->", "a comment is not closed")) return;
            } else if (starts("<![CDATA[")) {
                if (stack_.empty()) return void(fail("character data outside the root element"));
                const std::size_t start = pos_ + 9;
                if (!skip_past("]]>", "a CDATA section is not closed")) return;
                stack_.back().text.append(text_.substr(start, pos_ - 3 - start));
            } else if (starts("<!")) {
                return void(fail("a DOCTYPE or other declaration, which manifests may not hold"));
            } else if (starts("<?")) {
                if (!skip_past("?>", "a processing instruction is not closed")) return;
            } else if (starts("</")) {
                if (!end_tag()) return;
            } else if (!start_tag()) {
                return;
            }
        }
        if (!facts_.problem.empty()) return;
        if (!stack_.empty()) return void(fail("<" + stack_.back().qname + "> is not closed"));
        if (!root_seen_) fail("there is no root element");
    }

private:
    struct Open {
        std::string qname, local, path;
        std::size_t namespaces;  // namespaces_ declared before this element
        std::string text;
    };

    bool fail(const std::string& why) {
        if (facts_.problem.empty()) {
            const std::size_t line =
                1 + std::count(text_.begin(), text_.begin() + std::min(pos_, text_.size()), '\n');
            facts_.problem = "line " + std::to_string(line) + ": " + why;
        }
        return false;
    }

    bool starts(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }

    bool skip_past(std::string_view end, const char* unclosed) {
        const auto found = text_.find(end, pos_);
        if (found == std::string_view::npos) return fail(unclosed);
        pos_ = found + end.size();
        return true;
    }

    void skip_blanks() {
        while (pos_ < text_.size() && blank(text_[pos_])) ++pos_;
    }

    std::string_view name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && name_char(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

    // Text with its references resolved, up to `stop`.
    bool decoded(char stop, std::string& out) {
        while (pos_ < text_.size() && text_[pos_] != stop) {
            const char c = text_[pos_];
            if (c == '\0') return fail("a NUL character");
            if (stop == '<' && c == '>') {
                out += c, ++pos_;
                continue;
            }
            if (c == '<') return fail("'<' inside an attribute value");
            if (c != '&') {
                out += c, ++pos_;
                continue;
            }
            const auto semicolon = text_.find(';', pos_);
            if (semicolon == std::string_view::npos || semicolon - pos_ > 12)
                return fail("an '&' that starts no reference");
            const std::string_view entity = text_.substr(pos_ + 1, semicolon - pos_ - 1);
            static constexpr std::array<std::pair<std::string_view, char>, 5> named = {
                {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}}};
            const auto known = std::find_if(named.begin(), named.end(),
                                            [&](const auto& n) { return n.first == entity; });
            if (known != named.end()) {
                out += known->second;
            } else if (entity.size() >= 2 && entity[0] == '#') {
                const bool hex = entity[1] == 'x';
                const std::string_view digits = entity.substr(hex ? 2 : 1);
                std::uint32_t code = 0;
                for (const char d : digits) {
                    const int value = d >= '0' && d <= '9'          ? d - '0'
                                      : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                                      : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                                    : -1;
                    if (value < 0 || code > 0x10FFFF) return fail("a bad character reference");
                    code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
                }
                if (digits.empty() || code == 0 || code > 0x10FFFF ||
                    (code >= 0xD800 && code < 0xE000))
                    return fail("a bad character reference");
                append_code_point(out, code);
            } else {
                return fail("an unknown entity &" + std::string(entity) + ";");
            }
            pos_ = semicolon + 1;
        }
        return true;
    }

    bool text() {
        std::string content;
        if (!decoded('<', content)) return false;
        if (stack_.empty()) {
            if (!trimmed(content).empty()) return fail("text outside the root element");
            return true;
        }
        stack_.back().text += content;
        return true;
    }

    bool start_tag() {
        ++pos_;
        Open open;
        open.qname = std::string(name());
        if (open.qname.empty()) return fail("a '<' that starts no element");
        if (stack_.empty() && root_seen_) return fail("a second root element");
        if (stack_.size() == max_manifest_depth)
            return fail("elements nested deeper than 64 levels");
        open.namespaces = namespaces_.size();
        std::vector<Attribute> attributes;
        bool empty = false;
        for (;;) {
            const std::size_t before = pos_;
            skip_blanks();
            if (pos_ >= text_.size()) return fail("<" + open.qname + " is not closed");
            if (text_[pos_] == '>') {
                ++pos_;
                break;
            }
            if (starts("/>")) {
                pos_ += 2;
                empty = true;
                break;
            }
            if (pos_ == before) return fail("attributes of <" + open.qname + "> run together");
            Attribute attribute{std::string(name()), {}};
            if (attribute.name.empty()) return fail("a bad character in <" + open.qname + ">");
            skip_blanks();
            if (pos_ >= text_.size() || text_[pos_] != '=')
                return fail("attribute " + attribute.name + " has no value");
            ++pos_;
            skip_blanks();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\''))
                return fail("attribute " + attribute.name + "'s value is not quoted");
            const char quote = text_[pos_++];
            if (!decoded(quote, attribute.value)) return false;
            if (pos_ >= text_.size()) return fail("attribute " + attribute.name + " is not closed");
            ++pos_;
            for (const auto& seen : attributes)
                if (seen.name == attribute.name)
                    return fail("attribute " + attribute.name + " appears twice");
            if (attributes.size() == max_manifest_attributes)
                return fail("an element with more than 256 attributes");
            if (attribute.name == "xmlns")
                namespaces_.emplace_back("", attribute.value);
            else if (attribute.name.starts_with("xmlns:"))
                namespaces_.emplace_back(attribute.name.substr(6), attribute.value);
            attributes.push_back(std::move(attribute));
        }
        const auto colon = open.qname.find(':');
        const std::string prefix = colon == std::string::npos ? "" : open.qname.substr(0, colon);
        open.local = colon == std::string::npos ? open.qname : open.qname.substr(colon + 1);
        const std::string* uri = namespace_of(prefix);
        if (uri == nullptr && !prefix.empty())
            return fail("prefix " + prefix + " of <" + open.qname + "> is not declared");
        open.path = (stack_.empty() ? "" : stack_.back().path + "/") + open.local;
        if (stack_.empty()) {
            root_seen_ = true;
            if (open.local != "assembly" || uri == nullptr || *uri != asm_v1)
                return fail("the root element is not an assembly of " + std::string(asm_v1));
            const std::string* version = value_of(attributes, "manifestVersion");
            if (version == nullptr || *version != "1.0")
                return fail("the assembly's manifestVersion is not 1.0");
        }
        take_facts(open.path, attributes);
        stack_.push_back(std::move(open));
        if (empty) close_top();
        return true;
    }

    bool end_tag() {
        pos_ += 2;
        const std::string qname(name());
        skip_blanks();
        if (pos_ >= text_.size() || text_[pos_] != '>')
            return fail("</" + qname + " is not closed");
        ++pos_;
        if (stack_.empty() || stack_.back().qname != qname)
            return fail(
                "</" + qname + "> closes " +
                (stack_.empty() ? std::string("nothing") : "<" + stack_.back().qname + ">"));
        close_top();
        return true;
    }

    void close_top() {
        const Open& open = stack_.back();
        if (open.path == "assembly/application/windowsSettings/dpiAware")
            facts_.dpi_aware = trimmed(open.text);
        else if (open.path == "assembly/application/windowsSettings/dpiAwareness")
            facts_.dpi_awareness = trimmed(open.text);
        else if (open.path == "assembly/application/windowsSettings/longPathAware")
            facts_.long_path_aware = trimmed(open.text);
        namespaces_.resize(open.namespaces);
        stack_.pop_back();
    }

    const std::string* namespace_of(const std::string& prefix) const {
        for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
            if (it->first == prefix) return &it->second;
        return nullptr;
    }

    static const std::string* value_of(const std::vector<Attribute>& attributes,
                                       std::string_view name) {
        for (const auto& attribute : attributes)
            if (attribute.name == name) return &attribute.value;
        return nullptr;
    }

    static AssemblyIdentity identity_of(const std::vector<Attribute>& attributes) {
        AssemblyIdentity identity;
        const auto take = [&](std::string_view name, std::string& into) {
            if (const std::string* value = value_of(attributes, name)) into = *value;
        };
        take("type", identity.type);
        take("name", identity.name);
        take("version", identity.version);
        take("processorArchitecture", identity.processor_architecture);
        take("publicKeyToken", identity.public_key_token);
        take("language", identity.language);
        return identity;
    }

    void take_facts(const std::string& path, const std::vector<Attribute>& attributes) {
        if (path == "assembly/assemblyIdentity") {
            facts_.identity = identity_of(attributes);
        } else if (path == "assembly/dependency/dependentAssembly/assemblyIdentity") {
            facts_.dependencies.push_back(identity_of(attributes));
        } else if (path == "assembly/file") {
            if (const std::string* name = value_of(attributes, "name"))
                facts_.files.push_back(*name);
        } else if (path.ends_with(
                       "trustInfo/security/requestedPrivileges/requestedExecutionLevel")) {
            if (const std::string* level = value_of(attributes, "level"))
                facts_.execution_level = *level;
            if (const std::string* ui = value_of(attributes, "uiAccess")) facts_.ui_access = *ui;
        } else if (path == "assembly/compatibility/application/supportedOS") {
            if (const std::string* id = value_of(attributes, "Id"))
                facts_.supported_os.push_back(*id);
        }
    }

    std::string_view text_;
    ManifestFacts& facts_;
    std::size_t pos_ = 0;
    std::vector<Open> stack_;
    std::vector<std::pair<std::string, std::string>> namespaces_;  // prefix, URI; in scope order
    bool root_seen_ = false;
};

}  // namespace

ManifestFacts parse_manifest(std::string_view bytes) {
    ManifestFacts facts;
    const std::string text = utf8_text(bytes);
    Reader(text, facts).run();
    return facts;
}

std::optional<ManifestFacts> read_manifest_resource(const image::PeImage& image,
                                                    const ResourceFind& resources,
                                                    std::uint32_t id) {
    for (const auto& item : resources.manifests) {
        if (item.id != id) continue;
        ManifestFacts facts;
        if (item.size > max_manifest_bytes) {
            facts.problem = "it is larger than 1 MiB, the limit for a manifest";
            return facts;
        }
        const auto bytes = resource_bytes(image, item);
        if (!bytes) {
            facts.problem = "it lies outside the file";
            return facts;
        }
        return parse_manifest(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }
    return std::nullopt;
}

std::string supported_os_name(std::string_view id) {
    static constexpr std::pair<std::string_view, const char*> known[] = {
        {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "Windows Vista"},
        {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "Windows 7"},
        {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "Windows 8"},
        {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "Windows 8.1"},
        {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Windows 10 and 11"},
    };
    for (const auto& [guid, name] : known) {
        if (guid.size() != id.size()) continue;
        bool same = true;
        for (std::size_t i = 0; same && i < id.size(); ++i)
            same = (id[i] | 0x20) == (guid[i] | 0x20);
        if (same) return name;
    }
    return {};
}

}  // namespace korvex::host
