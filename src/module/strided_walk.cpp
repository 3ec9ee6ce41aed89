#include "strided_walk.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ventaroxi {
namespace {

constexpr std::ptrdiff_t element_size = sizeof(double);
// Elements per call of the relation: small enough for the stack and the first-level cache, long
// enough that the call costs nothing per element.
constexpr std::ptrdiff_t staging_length = 512;
// Elements taken down the input's short axis in one tile of a transposing walk: a few
// cache lines of input per column of the tile.
constexpr std::ptrdiff_t tile_rows = 32;
// Rows no longer than this, whatever their strides, are walked as they are: each element of
// a row may lie on its own cache line and page, but a row's lines and pages stay cached
// until the next rows read the rest of them, which measured faster than tiles. Past that a
// row would evict its own lines, and a transposing walk goes in tiles.
constexpr std::ptrdiff_t cached_row_length = 1024;
// A run that is contiguous and aligned on both sides and at least this long is handed to
// the relation in place; shorter ones share a call through the staging buffer.
constexpr std::ptrdiff_t direct_length = 64;

// One axis of the walk: its length, the byte stride of the input along it and the step,
// in elements, of the C-ordered result along it.
struct WalkAxis {
    std::ptrdiff_t length;
    std::ptrdiff_t in_stride;
    std::ptrdiff_t out_step;
};

// The view reduced to the fewest axes that visit the same elements, in the view's axis
// order. Length-1 axes are dropped. An outer axis with a negative stride is turned round,
// so that the input is read forward and the results of successive runs go backward; the
// last axis is not, so that each run is still written forward. Neighbours are merged where
// the input and the result both step through the pair as through one axis.
struct Walk {
    int ndim = 0;
    std::array<WalkAxis, max_dimensions> axes{};
    const char* in = nullptr;
    std::ptrdiff_t out_start = 0;
};

Walk plan_walk(const StridedView& view)
{
    std::array<std::ptrdiff_t, max_dimensions> out_steps{};
    std::ptrdiff_t step = 1;
    int last = -1;
    for (int axis = view.ndim - 1; axis >= 0; --axis) {
        out_steps[axis] = step;
        step *= view.shape[axis];
        if (last < 0 && view.shape[axis] != 1) {
            last = axis;
        }
    }
    Walk walk;
    walk.in = view.data;
    for (int axis = 0; axis <= last; ++axis) {
        WalkAxis next{view.shape[axis], view.strides[axis], out_steps[axis]};
        if (next.length == 1) {
            continue;
        }
        if (next.in_stride < 0 && axis != last) {
            walk.in += next.in_stride * (next.length - 1);
            walk.out_start += next.out_step * (next.length - 1);
            next.in_stride = -next.in_stride;
            next.out_step = -next.out_step;
        }
        WalkAxis* outer = walk.ndim > 0 ? &walk.axes[walk.ndim - 1] : nullptr;
        if (outer != nullptr && outer->in_stride == next.in_stride * next.length &&
            outer->out_step == next.out_step * next.length) {
            *outer = WalkAxis{outer->length * next.length, next.in_stride, next.out_step};
        } else {
            walk.axes[walk.ndim++] = next;
        }
    }
    return walk;
}

bool is_aligned(const char* in)
{
    return reinterpret_cast<std::uintptr_t>(in) % alignof(double) == 0;
}

// Collects runs along the last axis (each written forward, one element after another in
// the result) into one staging buffer, so that every call of the relation sees a contiguous run of
// inputs however short the runs are. The relation gives an element the same bits in whatever
// position of whatever run it lies, so the grouping changes no result.
class RunBatcher {
public:
    RunBatcher(BoundRelation relation, double* out) : relation_(relation), out_(out) {}
    RunBatcher(const RunBatcher&) = delete;
    RunBatcher& operator=(const RunBatcher&) = delete;

    void add(const char* in, std::ptrdiff_t in_stride, std::ptrdiff_t out, std::ptrdiff_t length)
    {
        if (in_stride == element_size && length >= direct_length && is_aligned(in)) {
            flush();
            relation_.apply(relation_.constants, reinterpret_cast<const double*>(in), out_ + out,
                            static_cast<std::size_t>(length));
            return;
        }
        while (length > 0) {
            const auto taken = std::min(length, staging_length - filled_);
            gather(in, in_stride, taken);
            chained_ = chained_ && (run_count_ == 0 || out == runs_[run_count_ - 1].end());
            runs_[run_count_++] = PendingRun{out, taken};
            in += in_stride * taken;
            out += taken;
            length -= taken;
            if (filled_ == staging_length) {
                flush();
            }
        }
    }

    // Evaluates what is staged and stores each run's results.
    void flush()
    {
        if (filled_ == 0) {
            return;
        }
        const auto count = static_cast<std::size_t>(filled_);
        if (chained_) {
            relation_.apply(relation_.constants, in_staging_, out_ + runs_[0].out, count);
        } else {
            relation_.apply(relation_.constants, in_staging_, out_staging_, count);
            const double* results = out_staging_;
            for (std::ptrdiff_t r = 0; r < run_count_; ++r) {
                const auto bytes = static_cast<std::size_t>(runs_[r].length) * sizeof(double);
                std::memcpy(out_ + runs_[r].out, results, bytes);
                results += runs_[r].length;
            }
        }
        filled_ = 0;
        run_count_ = 0;
        chained_ = true;
    }

private:
    struct PendingRun {
        std::ptrdiff_t out;
        std::ptrdiff_t length;
        std::ptrdiff_t end() const { return out + length; }
    };

    void gather(const char* in, std::ptrdiff_t in_stride, std::ptrdiff_t count)
    {
        double* staged = in_staging_ + filled_;
        if (in_stride == element_size) {
            std::memcpy(staged, in, static_cast<std::size_t>(count) * sizeof(double));
        } else {
            for (std::ptrdiff_t i = 0; i < count; ++i, in += in_stride) {
                std::memcpy(&staged[i], in, sizeof(double));
            }
        }
        filled_ += count;
    }

    BoundRelation relation_;
    double* out_;
    std::ptrdiff_t filled_ = 0;
    std::ptrdiff_t run_count_ = 0;
    bool chained_ = true;  // every staged run starts where the one before it ends
    alignas(64) double in_staging_[staging_length];
    alignas(64) double out_staging_[staging_length];
    PendingRun runs_[staging_length];
};

// The axis along which the input is read in shorter steps than along the last axis, the
// one along which the result is written contiguously, when the last axis is too long to be
// walked as it is; -1 otherwise. A stride of 0 reads one element again and again, from
// cache, whatever the order.
int transposing_axis(const Walk& walk)
{
    const WalkAxis& last = walk.axes[walk.ndim - 1];
    if (last.length <= cached_row_length) {
        return -1;
    }
    const std::ptrdiff_t last_stride = std::abs(last.in_stride);
    int chosen = -1;
    std::ptrdiff_t shortest = last_stride;
    for (int axis = 0; axis + 1 < walk.ndim; ++axis) {
        const std::ptrdiff_t stride = walk.axes[axis].in_stride;
        if (stride != 0 && stride < shortest) {
            chosen = axis;
            shortest = stride;
        }
    }
    return last_stride == 0 ? -1 : chosen;
}

// One plane of a transposing walk: `rows` is the axis the input reads in short steps,
// `columns` the last axis. It goes in tiles of up to staging_length elements: each
// column of a tile is read down the rows, into its place in a C-ordered tile, so that the
// input is read in runs, and each row of the tile's results is stored as one contiguous
// piece of the result.
void map_plane(const char* in, double* out, const WalkAxis& rows, const WalkAxis& columns,
               BoundRelation relation)
{
    alignas(64) double in_tile[staging_length];
    alignas(64) double out_tile[staging_length];
    const std::ptrdiff_t height = std::min(tile_rows, rows.length);
    const std::ptrdiff_t width = std::max<std::ptrdiff_t>(1, staging_length / height);
    for (std::ptrdiff_t row = 0; row < rows.length; row += height) {
        const std::ptrdiff_t tile_height = std::min(height, rows.length - row);
        for (std::ptrdiff_t column = 0; column < columns.length; column += width) {
            const std::ptrdiff_t tile_width = std::min(width, columns.length - column);
            const char* column_start = in + rows.in_stride * row + columns.in_stride * column;
            for (std::ptrdiff_t c = 0; c < tile_width; ++c, column_start += columns.in_stride) {
                const char* element = column_start;
                for (std::ptrdiff_t r = 0; r < tile_height; ++r, element += rows.in_stride) {
                    std::memcpy(&in_tile[r * tile_width + c], element, sizeof(double));
                }
            }
            relation.apply(relation.constants, in_tile, out_tile,
                           static_cast<std::size_t>(tile_height * tile_width));
            double* row_start = out + rows.out_step * row + column;
            for (std::ptrdiff_t r = 0; r < tile_height; ++r, row_start += rows.out_step) {
                std::memcpy(row_start, &out_tile[r * tile_width],
                            static_cast<std::size_t>(tile_width) * sizeof(double));
            }
        }
    }
}

}  // namespace

// Along the last axis in runs, in row-major order of the other axes; or, when the input
// reads shorter along another axis (a Fortran-ordered or transposed view), in planes of
// that axis and the last one, walked in tiles.
void map_strided(const StridedView& view, BoundRelation relation, double* out)
{
    const Walk walk = plan_walk(view);
    if (walk.ndim == 0) {
        RunBatcher batcher(relation, out);
        batcher.add(walk.in, element_size, walk.out_start, 1);
        batcher.flush();
        return;
    }
    const int last = walk.ndim - 1;
    const int rows = transposing_axis(walk);
    RunBatcher batcher(relation, out);
    std::array<std::ptrdiff_t, max_dimensions> index{};
    const char* in = walk.in;
    std::ptrdiff_t out_at = walk.out_start;
    for (;;) {
        if (rows < 0) {
            batcher.add(in, walk.axes[last].in_stride, out_at, walk.axes[last].length);
        } else {
            map_plane(in, out + out_at, walk.axes[rows], walk.axes[last], relation);
        }
        int axis = last - 1;
        for (; axis >= 0; --axis) {
            if (axis == rows) {
                continue;
            }
            const WalkAxis& stepped = walk.axes[axis];
            in += stepped.in_stride;
            out_at += stepped.out_step;
            if (++index[axis] < stepped.length) {
                break;
            }
            in -= stepped.in_stride * stepped.length;
            out_at -= stepped.out_step * stepped.length;
            index[axis] = 0;
        }
        if (axis < 0) {
            break;
        }
    }
    batcher.flush();
}

}  // namespace ventaroxi
