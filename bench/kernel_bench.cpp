// Times each relation two ways on the same inputs and checks that both give the same bits:
// one element at a time through the relation's scalar operator()(double), and the whole
// run through the library's kernel (bind_run). For the area ratio it also times the literal
// 10000-pass search on a few hundred targets per branch against the kernel on the same
// targets. Prints one JSON object on standard output.
//
// Usage: kernel_bench [--quick]
#include "area_ratio_inverse.hpp"
#include "area_ratio_search_literal.hpp"
#include "flow_functions.hpp"
#include "flow_inverses.hpp"
#include "isentropic.hpp"
#include "isentropic_inverses.hpp"
#include "normal_shock.hpp"
#include "run.hpp"
#include "shock_inverses.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
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

double whole_run(const RunKernel& kernel, const double* in, double* out, std::size_t count)
{
    const auto start = std::chrono::steady_clock::now();
    kernel.apply(kernel.relation, in, out, count);
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

// Inputs: Mach numbers in [lo, hi], mapped through `forward` for an inverse.
template <class Forward>
std::vector<double> inputs(const Settings& s, double lo, double hi, const Forward& forward)
{
    std::vector<double> values = uniform(lo, hi, s.max_elements, 20240601);
    for (double& v : values) {
        v = forward(v);
    }
    return values;
}

const auto mach = [](double M) { return M; };

// The impulse function, which the library only inverts.
double impulse(double M)
{
    const double k = (ga - 1) * 0.5;
    return std::sqrt(ga - 1) / ga * (1 + ga * M * M) / (M * std::sqrt(1 + k * M * M));
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
    const RunKernel kernel = bind_run(relation);
    std::vector<double> single_times;
    std::vector<double> run_times;
    for (int r = 0; r < s.repeats; ++r) {
        single_times.push_back(one_at_a_time(relation, in.data(), single.data(), count));
        run_times.push_back(whole_run(kernel, in.data(), run.data(), count));
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
    const RunKernel kernel = bind_run(inverse);
    std::vector<double> run(targets.size());
    std::vector<double> run_times;
    for (int r = 0; r < s.repeats; ++r) {
        run_times.push_back(whole_run(kernel, targets.data(), run.data(), targets.size()));
    }
    print_row("area_search", sup ? "Ma_from_A_Acrit[sup]" : "Ma_from_A_Acrit[sub]", targets.size(),
              literal_seconds / targets.size() * 1e9, "literal",
              median(run_times) / targets.size() * 1e9, targets, literal, run);
}

void measure_all(const Settings& s)
{
    const auto forward = [](auto relation) { return [relation](double M) { return relation(M); }; };
    const auto branches = [](const char* name, bool sup) {
        return std::string(name) + (sup ? "[sup]" : "[sub]");
    };
    measure(s, "To_T_from_Ma", To_T_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "Po_P_from_Ma", Po_P_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "rhoo_rho_from_Ma", rhoo_rho_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "V_cpTo_from_Ma", V_cpTo_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "mcpTo_APo_from_Ma", mcpTo_APo_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "mcpTo_AP_from_Ma", mcpTo_AP_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "A_Acrit_from_Ma", A_Acrit_from_Ma(ga), inputs(s, 0.05, 5, mach));
    measure(s, "Mash_from_Ma", Mash_from_Ma(ga), inputs(s, 1, 5, mach));
    measure(s, "Posh_Po_from_Ma", Posh_Po_from_Ma(ga), inputs(s, 1, 5, mach));
    measure(s, "Ma_from_Po_P", Ma_from_Po_P(ga), inputs(s, 0.05, 5, forward(Po_P_from_Ma(ga))));
    measure(s, "Ma_from_To_T", Ma_from_To_T(ga), inputs(s, 0.05, 5, forward(To_T_from_Ma(ga))));
    measure(s, "Ma_from_rhoo_rho", Ma_from_rhoo_rho(ga),
            inputs(s, 0.05, 5, forward(rhoo_rho_from_Ma(ga))));
    measure(s, "Ma_from_V_cpTo", Ma_from_V_cpTo(ga),
            inputs(s, 0.05, 5, forward(V_cpTo_from_Ma(ga))));
    for (const bool sup : {false, true}) {
        const double lo = sup ? 1 : 0.05;
        const double hi = sup ? 5 : 1;
        measure(s, branches("Ma_from_F_mcpTo", sup), Ma_from_F_mcpTo(ga, sup),
                inputs(s, lo, hi, impulse));
        measure(s, branches("Ma_from_mcpTo_APo", sup), Ma_from_mcpTo_APo(ga, sup),
                inputs(s, lo, hi, forward(mcpTo_APo_from_Ma(ga))));
    }
    measure(s, "Ma_from_mcpTo_AP", Ma_from_mcpTo_AP(ga),
            inputs(s, 0.05, 5, forward(mcpTo_AP_from_Ma(ga))));
    for (const bool sup : {false, true}) {
        measure(s, branches("Ma_from_A_Acrit", sup), Ma_from_A_Acrit(ga, sup),
                inputs(s, sup ? 1 : 0.05, sup ? 5 : 1, forward(A_Acrit_from_Ma(ga))));
    }
    measure(s, "Ma_from_Mash", Ma_from_Mash(ga), inputs(s, 1, 5, forward(Mash_from_Ma(ga))));
    measure(s, "Ma_from_Posh_Po", Ma_from_Posh_Po(ga),
            inputs(s, 1, 5, forward(Posh_Po_from_Ma(ga))));
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
