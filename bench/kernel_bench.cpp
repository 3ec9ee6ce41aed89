// Times each relation two ways on the same inputs and checks that both give the same bits:
// one element at a time through the relation's scalar operator()(double), and the whole
// run as the kernels run it (bind_relation). For the area ratio it also times the literal
// 10000-pass search on a few hundred targets per branch against the kernel on the same
// targets. Prints one JSON object on standard output.
//
// Usage: kernel_bench [--quick]
#include "area_ratio_search_literal.hpp"
#include "relation_list.hpp"
#include "run.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace ventaroxi;
using namespace ventaroxi::relations;

#define STRINGIFY_TOKEN(token) #token
#define STRINGIFY(macro) STRINGIFY_TOKEN(macro)

namespace {

constexpr double ga = 1.4;

struct Settings {
    std::size_t max_elements;  // inputs generated per relation
    double seconds_per_pass;   // one-at-a-time pass budget; fixes how many elements are used
    int repeats;
    std::size_t area_targets;  // literal-search targets per branch
};

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Evaluates one element after another. The empty asm statement is a compiler barrier that
// keeps the loop from being vectorised: each element is evaluated alone, by the scalar code.
template <class Relation>
double one_at_a_time(const Relation& relation, const double* in, double* out, std::size_t count)
{
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = relation(in[i]);
        asm volatile("" ::: "memory");
    }
    return seconds_since(start);
}

double whole_run(const BoundRelation& bound, const double* in, double* out, std::size_t count)
{
    const auto start = std::chrono::steady_clock::now();
    bound.apply(bound.constants, in, out, count);
    return seconds_since(start);
}

struct Comparison {
    std::size_t mismatches = 0;
    std::size_t first = 0;
};

Comparison compare(const std::vector<double>& expected, const std::vector<double>& actual)
{
    Comparison result;
    for (std::size_t i = expected.size(); i-- > 0;) {
        if (bits(expected[i]) != bits(actual[i])) {
            ++result.mismatches;
            result.first = i;
        }
    }
    return result;
}

bool first_row = true;

void print_row(const char* section, const std::string& label, std::size_t count,
               double reference_ns, const char* reference_name, double kernel_ns,
               const std::vector<double>& in, const std::vector<double>& expected,
               const std::vector<double>& actual)
{
    const Comparison c = compare(expected, actual);
    std::printf(
        "%s\n  {\"section\": \"%s\", \"label\": \"%s\", \"elements\": %zu, \"%s_ns\": %.6g, "
        "\"kernel_ns\": %.6g, \"identical\": %s, \"mismatches\": %zu",
        first_row ? "" : ",", section, label.c_str(), count, reference_name, reference_ns,
        kernel_ns, c.mismatches == 0 ? "true" : "false", c.mismatches);
    if (c.mismatches != 0) {
        std::printf(", \"first_mismatch\": {\"input\": \"%a\", \"%s\": \"%a\", \"kernel\": \"%a\"}",
                    in[c.first], reference_name, expected[c.first], actual[c.first]);
    }
    std::printf("}");
    first_row = false;
}

std::vector<double> uniform(double lo, double hi, std::size_t count, std::uint64_t seed)
{
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> distribution(lo, hi);
    std::vector<double> values(count);
    for (double& v : values) {
        v = distribution(engine);
    }
    return values;
}

// The impulse function, which the library only inverts.
double impulse(double M)
{
    const double k = (ga - 1) * 0.5;
    return std::sqrt(ga - 1) / ga * (1 + ga * M * M) / (M * std::sqrt(1 + k * M * M));
}

// What an inverse Ma_from_X is given: X_from_Ma of Mach numbers.
std::function<double(double)> forward_of(std::string_view inverse)
{
    if (inverse == "Ma_from_F_mcpTo") {
        return impulse;
    }
    const std::string forward =
        std::string(inverse.substr(inverse.find("_from_") + 6)) + "_from_Ma";
    std::function<double(double)> found;
    Relations::for_each([&]<class Relation>(std::string_view name) {
        if (name == forward) {
            found = [relation = make_relation<Relation>(ga, false)](double M) {
                return relation(M);
            };
        }
    });
    if (!found) {
        std::fprintf(stderr, "kernel_bench: no forward relation %s for %.*s\n", forward.c_str(),
                     static_cast<int>(inverse.size()), inverse.data());
        std::exit(2);
    }
    return found;
}

// Inputs of a relation: Mach numbers drawn from its branch, behind a normal shock only
// above 1, mapped through the forward relation for an inverse.
std::vector<double> inputs(const Settings& s, std::string_view name, bool takes_sup, bool sup)
{
    constexpr std::string_view shock[] = {"Mash_from_Ma", "Posh_Po_from_Ma", "Ma_from_Mash",
                                          "Ma_from_Posh_Po"};
    const bool supersonic = (takes_sup && sup) || std::ranges::find(shock, name) != std::end(shock);
    const double lo = supersonic ? 1 : 0.05;
    const double hi = takes_sup && !sup ? 1 : 5;
    std::vector<double> values = uniform(lo, hi, s.max_elements, 20240601);
    if (name.starts_with("Ma_from_")) {
        const std::function<double(double)> forward = forward_of(name);
        for (double& v : values) {
            v = forward(v);
        }
    }
    return values;
}

template <class Relation>
void measure(const Settings& s, const std::string& label, const Relation& relation,
             const std::vector<double>& all_inputs)
{
    // As many elements as one one-at-a-time pass evaluates within the budget.
    std::vector<double> probe(std::min<std::size_t>(256, all_inputs.size()));
    const double probe_seconds =
        one_at_a_time(relation, all_inputs.data(), probe.data(), probe.size());
    const double per_element = std::max(probe_seconds / probe.size(), 1e-10);
    const std::size_t count =
        std::clamp<std::size_t>(static_cast<std::size_t>(s.seconds_per_pass / per_element),
                                probe.size(), all_inputs.size());

    const std::vector<double> in(all_inputs.begin(), all_inputs.begin() + count);
    std::vector<double> single(count);
    std::vector<double> run(count);
    const BoundRelation bound = bind_relation(relation);
    std::vector<double> single_times;
    std::vector<double> run_times;
    for (int r = 0; r < s.repeats; ++r) {
        single_times.push_back(one_at_a_time(relation, in.data(), single.data(), count));
        run_times.push_back(whole_run(bound, in.data(), run.data(), count));
    }
    print_row("relation", label, count, median(single_times) / count * 1e9, "one_at_a_time",
              median(run_times) / count * 1e9, in, single, run);
}

// A few hundred area-ratio targets on one branch: forward values of Mach numbers on that
// side of 1, and the edges: below 1, exactly 1, +inf, huge and tiny.
std::vector<double> area_targets(const Settings& s, bool sup)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double max = std::numeric_limits<double>::max();
    std::vector<double> targets = {0.5,
                                   0.0,
                                   -1.0,
                                   -inf,
                                   std::nextafter(1.0, 0.0),
                                   1.0,
                                   std::nextafter(1.0, 2.0),
                                   inf,
                                   max,
                                   1e300,
                                   1e100,
                                   1e-300,
                                   5e-324};
    const A_Acrit_from_Ma area(ga);
    for (double M :
         uniform(sup ? 1.0 : 0.05, sup ? 5.0 : 1.0, s.area_targets - targets.size(), 7)) {
        targets.push_back(area(M));
    }
    return targets;
}

void measure_area_search(const Settings& s, bool sup)
{
    const std::vector<double> targets = area_targets(s, sup);
    const A_Acrit_from_Ma area(ga);
    std::vector<double> literal(targets.size());
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        literal[i] = search_area_ratio_literal(area, targets[i], sup);
        asm volatile("" ::: "memory");
    }
    const double literal_seconds = seconds_since(start);

    const Ma_from_A_Acrit inverse(ga, sup);
    const BoundRelation bound = bind_relation(inverse);
    std::vector<double> run(targets.size());
    std::vector<double> run_times;
    for (int r = 0; r < s.repeats; ++r) {
        run_times.push_back(whole_run(bound, targets.data(), run.data(), targets.size()));
    }
    print_row("area_search", sup ? "Ma_from_A_Acrit[sup]" : "Ma_from_A_Acrit[sub]", targets.size(),
              literal_seconds / targets.size() * 1e9, "literal",
              median(run_times) / targets.size() * 1e9, targets, literal, run);
}

void measure_all(const Settings& s)
{
    Relations::for_each([&]<class Relation>(std::string_view name) {
        for (const bool sup : {false, true}) {
            if (sup && !takes_sup<Relation>) {
                continue;
            }
            const std::string label =
                std::string(name) + (takes_sup<Relation> ? (sup ? "[sup]" : "[sub]") : "");
            measure(s, label, make_relation<Relation>(ga, sup),
                    inputs(s, name, takes_sup<Relation>, sup));
        }
    });
    measure_area_search(s, false);
    measure_area_search(s, true);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const Settings settings =
        quick ? Settings{20000, 0.004, 5, 100} : Settings{200000, 0.05, 7, 300};
    std::printf("{\"isa\": \"%s\", \"lane_count\": %d, \"ga\": %g, \"rows\": [",
                STRINGIFY(VENTAROXI_ISA), lane_count, ga);
    measure_all(settings);
    std::printf("\n]}\n");
    return 0;
}
