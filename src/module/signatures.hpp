// The module's functions as data: one row per function, in registration order. Module
// creation, `__all__`, argument matching and dispatch are all driven from this table. It
// holds what the interpreter and the matching see of each function and includes no relation:
// the relation each row evaluates is joined to it where the kernels are compiled
// (kernels.cpp), which checks that its column follows this table row by row.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

namespace ventaroxi {

inline constexpr std::size_t max_parameters = 3;

// The place of each parameter, which is the same in every function: the array, then `ga`,
// then `sup` for the three functions that take it. Argument matching fills one slot per
// place and the call converts each slot by its place.
inline constexpr std::size_t array_parameter = 0;
inline constexpr std::size_t ga_parameter = 1;
inline constexpr std::size_t sup_parameter = 2;

// How the optional third parameter, `sup`, reaches the relation.
enum class SupRule : unsigned char {
    absent,          // the function has no `sup`
    none_is_false,   // required; None selects the subsonic branch without conversion
    defaults_false,  // may be omitted (subsonic), and only by position; None is refused
};

enum class ArrayRank : unsigned char { exactly_one, any };

// What argument matching needs to know of a function.
struct CallSignature {
    const char* function_name;
    std::array<const char*, max_parameters> parameter_names;  // nullptr past the last
    std::size_t parameter_count;
    std::size_t positional_only;  // leading parameters that may not be passed by keyword
    std::size_t required;         // leading parameters that must be supplied
};

struct FunctionSpec {
    CallSignature signature;
    ArrayRank rank;
    SupRule sup;
};

namespace signature_rows {

// A row as it is written: the name, the parameter names and how `sup` is taken; the counts
// follow from those. The one positional-only function is the one whose `sup` may be omitted.
consteval FunctionSpec row(const char* name, std::array<const char*, max_parameters> parameters,
                           ArrayRank rank, SupRule sup)
{
    std::size_t count = 0;
    while (count < max_parameters && parameters[count] != nullptr) {
        ++count;
    }
    const bool all_positional_only = sup == SupRule::defaults_false;
    const std::size_t required = sup == SupRule::defaults_false ? count - 1 : count;
    return {{name, parameters, count, all_positional_only ? count : 0, required}, rank, sup};
}

}  // namespace signature_rows

// clang-format off: a row per function, as the table reads best
inline constexpr auto function_table = [] {
    using signature_rows::row;
    using enum ArrayRank;
    using enum SupRule;
    return std::to_array<FunctionSpec>({
        row("To_T_from_Ma",      {"Ma", "ga"},               exactly_one, absent),
        row("Po_P_from_Ma",      {"Ma", "ga"},               exactly_one, absent),
        row("rhoo_rho_from_Ma",  {"Ma", "ga"},               any,         absent),
        row("V_cpTo_from_Ma",    {"Ma", "ga"},               any,         absent),
        row("mcpTo_APo_from_Ma", {"Ma", "ga"},               any,         absent),
        row("mcpTo_AP_from_Ma",  {"Ma", "ga"},               any,         absent),
        row("A_Acrit_from_Ma",   {"Ma", "ga"},               any,         absent),
        row("Mash_from_Ma",      {"Ma", "ga"},               any,         absent),
        row("Posh_Po_from_Ma",   {"Ma", "ga"},               any,         absent),
        row("Ma_from_Po_P",      {"Po_P", "ga"},             any,         absent),
        row("Ma_from_To_T",      {"To_T", "ga"},             any,         absent),
        row("Ma_from_rhoo_rho",  {"rhoo_rho", "ga"},         any,         absent),
        row("Ma_from_V_cpTo",    {"V_cpTo", "ga"},           any,         absent),
        row("Ma_from_F_mcpTo",   {"F_mcpTo", "ga", "sup"},   any,         none_is_false),
        row("Ma_from_mcpTo_APo", {"mcpTo_APo", "ga", "sup"}, any,         defaults_false),
        row("Ma_from_mcpTo_AP",  {"mcpTo_AP", "ga"},         any,         absent),
        row("Ma_from_A_Acrit",   {"A_Acrit", "ga", "sup"},   any,         none_is_false),
        row("Ma_from_Mash",      {"Mash", "ga"},             any,         absent),
        row("Ma_from_Posh_Po",   {"Posh_Po", "ga"},          any,         absent),
    });
}();
// clang-format on

inline constexpr std::size_t function_count = function_table.size();

namespace signature_rows {

consteval bool same_text(const char* a, const char* b)
{
    return a != nullptr && b != nullptr && std::string_view(a) == b;
}

// What the matching and the call take for granted of every row.
consteval bool parameters_in_their_places(const FunctionSpec& spec)
{
    const CallSignature& signature = spec.signature;
    const bool has_sup = spec.sup != SupRule::absent;
    return signature.parameter_count == (has_sup ? sup_parameter + 1 : ga_parameter + 1) &&
        same_text(signature.parameter_names[ga_parameter], "ga") &&
        (!has_sup || same_text(signature.parameter_names[sup_parameter], "sup")) &&
        !same_text(signature.parameter_names[array_parameter], "ga") &&
        !same_text(signature.parameter_names[array_parameter], "sup");
}

consteval bool names_distinct()
{
    for (std::size_t i = 0; i < function_table.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (same_text(function_table[i].signature.function_name,
                          function_table[j].signature.function_name)) {
                return false;
            }
        }
    }
    return true;
}

consteval bool all_rows(bool (*check)(const FunctionSpec&))
{
    for (const FunctionSpec& spec : function_table) {
        if (!check(spec)) {
            return false;
        }
    }
    return true;
}

static_assert(all_rows(parameters_in_their_places),
              "every function takes the array first, then ga, then sup exactly when its "
              "SupRule is not absent");
static_assert(names_distinct(), "a function name appears twice in the table");

// The docstring is the text signature alone, "name(a, b, sup=False, /)\n--\n\n", from
// which the interpreter derives __text_signature__ and leaves __doc__ empty. Written once
// to count its characters and once to fill them in.
class TextSink {
public:
    constexpr explicit TextSink(char* out) : out_(out) {}
    constexpr void append(std::string_view text)
    {
        for (const char c : text) {
            if (out_ != nullptr) {
                out_[length_] = c;
            }
            ++length_;
        }
    }
    constexpr std::size_t length() const { return length_; }

private:
    char* out_;
    std::size_t length_ = 0;
};

constexpr void write_docstring(const CallSignature& signature, TextSink& sink)
{
    sink.append(signature.function_name);
    sink.append("(");
    for (std::size_t i = 0; i < signature.parameter_count; ++i) {
        sink.append(i == 0 ? "" : ", ");
        sink.append(signature.parameter_names[i]);
        // Only `sup` is ever optional, and its default is the subsonic branch.
        sink.append(i < signature.required ? "" : "=False");
        sink.append(i + 1 == signature.positional_only ? ", /" : "");
    }
    sink.append(")\n--\n\n");
}

consteval std::size_t docstring_length(const CallSignature& signature)
{
    TextSink counter(nullptr);
    write_docstring(signature, counter);
    return counter.length();
}

template <std::size_t Row>
inline constexpr auto docstring_text = [] {
    constexpr const CallSignature& signature = function_table[Row].signature;
    std::array<char, docstring_length(signature) + 1> text{};  // ends in the NUL
    TextSink writer(text.data());
    write_docstring(signature, writer);
    return text;
}();

template <std::size_t... Rows>
consteval auto collect_docstrings(std::index_sequence<Rows...>)
{
    return std::array<const char*, sizeof...(Rows)>{docstring_text<Rows>.data()...};
}

}  // namespace signature_rows

// Each function's docstring, by table row.
inline constexpr std::array<const char*, function_count> docstrings =
    signature_rows::collect_docstrings(std::make_index_sequence<function_count>{});

}  // namespace ventaroxi
