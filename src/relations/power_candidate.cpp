#include "power_candidate.hpp"

#include "power.hpp"

#define VENTAROXI_STRINGIFY_TOKEN(token) #token
#define VENTAROXI_STRINGIFY(macro) VENTAROXI_STRINGIFY_TOKEN(macro)

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {
namespace {

// Whole lanes, the last one padded with copies of the last pair, as the kernels run.
void power_on_lanes(const double* base, const double* exponent, double* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; i += lane_count) {
        double x[lane_count];
        double y[lane_count];
        for (std::size_t lane = 0; lane < lane_count; ++lane) {
            const std::size_t from = i + lane < count ? i + lane : count - 1;
            x[lane] = base[from];
            y[lane] = exponent[from];
        }
        const Lanes results = pow(load_lanes(x), load_lanes(y));
        for (std::size_t lane = 0; lane < lane_count && i + lane < count; ++lane) {
            out[i + lane] = results[lane];
        }
    }
}

}  // namespace

const PowerCandidate power_candidate{VENTAROXI_STRINGIFY(VENTAROXI_ISA), &power_on_lanes};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
