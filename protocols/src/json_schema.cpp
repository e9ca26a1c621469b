// The JSON Schema of a protocol's JSON, walked from the field declarations as
// the reader walks them.
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "protocols/composable.hpp"
#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/json_reader.hpp"
#include "protocols/wire.hpp"

namespace protocols {
namespace {

std::string quoted(std::string_view s) { return text::json_quoted(s); }

// Compact JSON laid out for people: a member or an element a line, two
// blanks an indent; an object or array of scalars only stays on one line.
std::string pretty(std::string_view compact) {
    std::string out;
    std::size_t depth = 0;
    bool in_string = false;
    const auto scalars_only = [&](std::size_t from) {
        int nesting = 0;
        bool quoted = false;
        for (std::size_t i = from + 1; i < compact.size(); ++i) {
            const char c = compact[i];
            if (quoted) {
                if (c == '\\') ++i;
                else if (c == '"') quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == '{' || c == '[') {
                if (++nesting > 0) return false;
            } else if (c == '}' || c == ']') {
                return nesting == 0;
            }
        }
        return false;
    };
    std::size_t flat = 0;  // the depth of an open one-line container
    for (std::size_t i = 0; i < compact.size(); ++i) {
        const char c = compact[i];
        if (in_string) {
            out += c;
            if (c == '\\') out += compact[++i];
            else if (c == '"') in_string = false;
            continue;
        }
        switch (c) {
            case '"': in_string = true; out += c; break;
            case '{':
            case '[':
                out += c;
                ++depth;
                if (flat == 0 && scalars_only(i) && compact[i + 1] != ']' && compact[i + 1] != '}' &&
                    c == '[') {
                    flat = depth;
                } else if (flat == 0) {
                    out += "\n" + std::string(2 * depth, ' ');
                }
                break;
            case '}':
            case ']':
                if (flat == depth) flat = 0;
                else if (flat == 0) out += "\n" + std::string(2 * (depth - 1), ' ');
                --depth;
                out += c;
                break;
            case ',':
                out += c;
                if (flat == 0) {
                    out += "\n" + std::string(2 * depth, ' ');
                    if (i + 1 < compact.size() && compact[i + 1] == ' ') ++i;
                }
                break;
            default: out += c;
        }
    }
    return out + "\n";
}

class Schema {
public:
    std::string of_settings() {
        const std::string root = record_body<Settings>(false);
        std::string defs;
        for (const auto& [name, body] : defs_) defs += (defs.empty() ? "" : ", ") + quoted(name) + ": " + body;
        return pretty("{\"$schema\": \"https://json-schema.org/draft/2020-12/schema\", "
                      "\"title\": \"A pydrel protocol\", "
                      "\"description\": \"One protocol, as drel show --json and Settings.to_json() write it and drel "
                      "compose and drel.from_json() read it. A field left out keeps the value of a new "
                      "pydrel.Protocol; floats are numbers or the strings NaN, -NaN, inf and -inf.\", " +
                      root.substr(1, root.size() - 2) + ", \"$defs\": {" + defs + "}}");
    }

private:
    template <class T>
    std::string value(bool element) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            return "{\"type\": \"boolean\"}";
        } else if constexpr (kind == WireKind::Unsigned) {
            return define("u64", "{\"type\": \"integer\", \"minimum\": 0, \"maximum\": " +
                                     std::to_string(std::numeric_limits<std::uint64_t>::max()) + "}");
        } else if constexpr (kind == WireKind::Float) {
            return define("float", "{\"oneOf\": [{\"type\": \"number\"}, {\"enum\": [\"NaN\", \"-NaN\", \"inf\", \"-inf\"]}]}");
        } else if constexpr (kind == WireKind::Text) {
            return "{\"type\": \"string\"}";
        } else if constexpr (kind == WireKind::Levels) {
            return define("levels", "{\"type\": \"array\", \"items\": {\"type\": \"integer\", \"minimum\": " +
                                        std::to_string(std::numeric_limits<std::int16_t>::min()) + ", \"maximum\": " +
                                        std::to_string(std::numeric_limits<std::int16_t>::max()) + "}}");
        } else if constexpr (kind == WireKind::Array) {
            return "{\"type\": \"array\", \"items\": " + value<typename T::value_type>(true) + "}";
        } else if constexpr (kind == WireKind::FixedArray) {
            const std::string n = std::to_string(std::tuple_size_v<T>);
            return "{\"type\": \"array\", \"items\": " + value<typename T::value_type>(true) + ", \"minItems\": " + n +
                   ", \"maxItems\": " + n + "}";
        } else if constexpr (kind == WireKind::Variant) {
            return variant<T>(std::make_index_sequence<std::variant_size_v<typename T::Payload>>());
        } else {
            static_assert(kind == WireKind::Record, "a kind that the schema does not describe");
            // A record's schema depends on where it stands (inside an array,
            // every field is required), so each place has a definition of its own.
            const std::string name(package_name<T>());
            std::string body = record_body<T>(element);
            const auto [known, added] = contexts_.try_emplace(name, element);
            return define(added || known->second == element ? name : name + (element ? "Entry" : "Fields"), std::move(body));
        }
    }

    // A signal: an object with one key, its kind.
    template <class V, std::size_t... I>
    std::string variant(std::index_sequence<I...>) {
        std::string alternatives;
        ((alternatives += std::string(I == 0 ? "" : ", ") + "{\"type\": \"object\", \"properties\": {" +
                          quoted(V::variant_names[I]) + ": " +
                          value<std::variant_alternative_t<I, typename V::Payload>>(true) + "}, \"required\": [" +
                          quoted(V::variant_names[I]) + "], \"additionalProperties\": false}"),
         ...);
        return define("Signal", "{\"oneOf\": [" + alternatives + "]}");
    }

    // A record's object. One inside an array gives every field, but the
    // parameters that pydrel's methods have defaults for.
    template <class T>
    std::string record_body(bool element) {
        std::string properties, required;
        for_each_field(T{}, [&](std::string_view name, const auto& field) {
            properties += std::string(properties.empty() ? "" : ", ") + quoted(name) + ": " +
                          value<std::remove_cvref_t<decltype(field)>>(false);
            if (element && !has_method_default<T>(name)) required += std::string(required.empty() ? "" : ", ") + quoted(name);
        });
        return "{\"type\": \"object\", \"properties\": {" + properties + "}" +
               (required.empty() ? "" : ", \"required\": [" + required + "]") + ", \"additionalProperties\": false}";
    }

    // A reference to a definition, made the first time it is met.
    std::string define(const std::string& name, std::string body) {
        if (!defined_.contains(name)) {
            defined_.insert(name);
            defs_.emplace_back(name, std::move(body));
        }
        return "{\"$ref\": \"#/$defs/" + name + "\"}";
    }

    std::set<std::string> defined_;
    std::map<std::string, bool> contexts_;  // each record's name: whether it was first met inside an array
    std::vector<std::pair<std::string, std::string>> defs_;
};

}  // namespace

std::string json_schema() { return Schema().of_settings(); }

}  // namespace protocols
