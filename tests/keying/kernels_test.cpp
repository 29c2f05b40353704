// Every keying variant this CPU runs, held byte for byte to the scalar reference:
// over the whole input domain, over random runs with odd lengths, unaligned starts
// and guard bytes, and over runs that end right before an inaccessible page.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define KEYING_TEST_GUARD_PAGES 1
#endif

#include "keying/kernels.h"
#include "keying/keying.h"
#include "keying/variants.h"

namespace keying {
// Test names and failure messages show the variant by name.
void PrintTo(Variant v, std::ostream* os) { *os << VariantName(v); }
}  // namespace keying

namespace {

using keying::Bgra;
using keying::Variant;

constexpr int kRuns = 7;  // red1, red2, red3, green1, green2, green3, out
constexpr int kInputs = 6;

// Six input runs of pixels, in role order, stored as bytes the way a frame holds them.
struct Frames {
    std::array<std::vector<std::uint8_t>, kInputs> in;

    explicit Frames(std::size_t pixels) {
        for (auto& run : in) {
            run.assign(pixels * 4, 0);
        }
    }
    std::size_t Bytes() const { return in[0].size(); }
    void Set(std::size_t pixel, int run, Bgra px) { std::memcpy(in[run].data() + pixel * 4, &px, 4); }
};

std::vector<std::uint8_t> Reference(const Frames& f) {
    std::vector<std::uint8_t> out(f.Bytes());
    keying::KeyingPassScalar(f.in[0].data(), f.in[1].data(), f.in[2].data(), f.in[3].data(), f.in[4].data(),
                             f.in[5].data(), out.data(), f.Bytes());
    return out;
}

std::string DescribePixel(const Frames& f, std::size_t pixel) {
    std::ostringstream s;
    const char* names[] = {"red1", "red2", "red3", "green1", "green2", "green3"};
    for (int run = 0; run < kInputs; ++run) {
        const std::uint8_t* p = f.in[run].data() + pixel * 4;
        s << names[run] << "=(" << int{p[0]} << "," << int{p[1]} << "," << int{p[2]} << "," << int{p[3]} << ") ";
    }
    return s.str();
}

// Compares two output runs pixel by pixel; reports the first few differing pixels with their inputs.
testing::AssertionResult SameOutput(const Frames& f, const std::uint8_t* got, const std::uint8_t* want) {
    if (f.Bytes() == 0 || std::memcmp(got, want, f.Bytes()) == 0) {
        return testing::AssertionSuccess();
    }
    int shown = 0;
    std::ostringstream s;
    for (std::size_t px = 0; px * 4 < f.Bytes(); ++px) {
        if (std::memcmp(got + px * 4, want + px * 4, 4) != 0 && shown++ < 5) {
            s << "\npixel " << px << ": got (" << int{got[px * 4]} << "," << int{got[px * 4 + 1]} << ","
              << int{got[px * 4 + 2]} << "," << int{got[px * 4 + 3]} << ") want (" << int{want[px * 4]} << ","
              << int{want[px * 4 + 1]} << "," << int{want[px * 4 + 2]} << "," << int{want[px * 4 + 3]}
              << ") from " << DescribePixel(f, px);
        }
    }
    if (shown == 0) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << shown << " pixels differ:" << s.str();
}

class KernelTest : public testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        if (!keying::CanRun(GetParam())) {
            GTEST_SKIP() << keying::VariantName(GetParam()) << " cannot run on this CPU";
        }
        pass_ = keying::PassFor(GetParam());
    }
    void Run(const Frames& f, std::uint8_t* out) const {
        pass_(f.in[0].data(), f.in[1].data(), f.in[2].data(), f.in[3].data(), f.in[4].data(), f.in[5].data(), out,
              f.Bytes());
    }
    keying::PassFn pass_ = nullptr;
};

// ---- The whole domain ------------------------------------------------------------

// A pixel is decided by its smallest difference d = min(greens) - max(reds) and by
// green1's blue, green and red bytes. This builds a pixel position for a given
// (d, B, G, R), choosing through the random source which capture holds the smallest
// green and which the largest red, and filling every byte that must not matter.
void PlaceSweepPixel(Frames& f, std::size_t pixel, int d, int b, int g, int r, std::mt19937& rng) {
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const auto u8 = [](int v) { return static_cast<std::uint8_t>(v); };
    // The smallest green m and the largest red m - d, with green1's green at or above m.
    const int m = pick(std::max(d, 0), std::min(g, 255 + d));
    const int x = m - d;
    std::array<int, 3> greens{g, pick(m, 255), pick(m, 255)};
    const int holder = g == m ? pick(0, 2) : pick(1, 2);
    greens[holder] = m;
    std::array<int, 3> reds{pick(0, x), pick(0, x), pick(0, x)};
    reds[pick(0, 2)] = x;
    for (int i = 0; i < 3; ++i) {
        f.Set(pixel, i, Bgra{u8(pick(0, 255)), u8(reds[i]), u8(pick(0, 255)), u8(pick(0, 255))});
    }
    f.Set(pixel, 3, Bgra{u8(b), u8(greens[0]), u8(r), u8(pick(0, 255))});
    for (int i = 1; i < 3; ++i) {
        f.Set(pixel, 3 + i, Bgra{u8(pick(0, 255)), u8(greens[i]), u8(pick(0, 255)), u8(pick(0, 255))});
    }
}

struct SweepPixel {
    int d, b, g, r;
};

// For every d: every blue and every red byte, and every green byte that can occur
// with that d (green1's green is a green capture too, so it is at least d).
std::vector<SweepPixel> WholeDomain(std::mt19937& rng) {
    auto any = [&rng] { return std::uniform_int_distribution<int>(0, 255)(rng); };
    std::vector<SweepPixel> cases;
    for (int d = -255; d <= 255; ++d) {
        const int lowestGreen = std::max(d, 0);
        auto green = [&] { return std::uniform_int_distribution<int>(lowestGreen, 255)(rng); };
        for (int c = 0; c <= 255; ++c) {
            cases.push_back({d, c, green(), any()});
            cases.push_back({d, any(), green(), c});
            if (c >= lowestGreen) {
                cases.push_back({d, any(), c, any()});
            }
        }
    }
    return cases;
}

// The sweep's frames with their reference output, built once for all variants.
struct Keyed {
    Frames frames;
    std::vector<std::uint8_t> want;
    explicit Keyed(Frames f) : frames(std::move(f)), want(Reference(frames)) {}
};

// In sweep order whole vectors share one d, which takes the uniform shortcuts; shuffled,
// every vector mixes opaque, transparent and semi-transparent lanes.
const std::array<Keyed, 2>& SweepFrames() {
    static const std::array<Keyed, 2> frames = [] {
        std::mt19937 rng(2024);
        std::vector<SweepPixel> cases = WholeDomain(rng);
        auto build = [&] {
            Frames f(cases.size());
            for (std::size_t i = 0; i < cases.size(); ++i) {
                PlaceSweepPixel(f, i, cases[i].d, cases[i].b, cases[i].g, cases[i].r, rng);
            }
            return Keyed(std::move(f));
        };
        Keyed inOrder = build();
        std::shuffle(cases.begin(), cases.end(), rng);
        return std::array<Keyed, 2>{std::move(inOrder), build()};
    }();
    return frames;
}

TEST_P(KernelTest, WholeDomainMatchesReferenceInOrderAndShuffled) {
    for (const Keyed& k : SweepFrames()) {
        std::vector<std::uint8_t> out(k.frames.Bytes());
        Run(k.frames, out.data());
        EXPECT_TRUE(SameOutput(k.frames, out.data(), k.want.data())) << (&k == &SweepFrames()[0] ? "in sweep order" : "shuffled");
    }
}

// ---- Runs of many lengths with unaligned starts and guard bytes ---------------------

// Content shaped like keyed frames: stretches of opaque foreground, noisy backdrop,
// fully transparent backdrop and arbitrary bytes, so vectors are both uniform and mixed.
Frames RandomContent(std::size_t pixels, std::mt19937& rng) {
    Frames f(pixels);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const auto u8 = [](int v) { return static_cast<std::uint8_t>(v); };
    std::size_t i = 0;
    while (i < pixels) {
        const int kind = pick(0, 3);
        const std::size_t stretch = std::min<std::size_t>(pixels - i, static_cast<std::size_t>(pick(1, 40)));
        for (std::size_t end = i + stretch; i < end; ++i) {
            for (int run = 0; run < kInputs; ++run) {
                const bool green = run >= 3;
                int gByte = pick(0, 255);
                if (kind == 0) {
                    gByte = pick(100, 110);  // foreground: all six agree closely
                } else if (kind == 1) {
                    gByte = green ? pick(250, 255) : pick(0, 6);  // backdrop with sensor noise
                } else if (kind == 2) {
                    gByte = green ? 255 : 0;  // clean backdrop: the zero pixel
                }
                f.Set(i, run, Bgra{u8(pick(0, 255)), u8(gByte), u8(pick(0, 255)), u8(pick(0, 255))});
            }
        }
    }
    return f;
}

// Copies of the seven runs placed at chosen misalignments inside larger buffers
// whose surroundings carry a known pattern.
class GuardedRuns {
public:
    static constexpr std::size_t kGuard = 96;

    GuardedRuns(const Frames& f, const std::array<std::size_t, kRuns>& offsets, std::uint8_t sentinel)
        : bytes_(f.Bytes()) {
        for (int run = 0; run < kRuns; ++run) {
            // 64-byte alignment of the base, then the chosen offset inside it.
            auto& buf = storage_[run];
            buf.assign(kGuard + 64 + bytes_ + kGuard, 0);
            const std::size_t misalign = reinterpret_cast<std::uintptr_t>(buf.data() + kGuard) % 64;
            start_[run] = kGuard + (64 - misalign) % 64 + offsets[run] % 64;
            for (std::size_t k = 0; k < buf.size(); k = (k + 1 == start_[run] ? start_[run] + bytes_ : k + 1)) {
                buf[k] = Pattern(run, k);
            }
            if (run < kInputs) {
                if (bytes_ > 0) {  // an empty run has no data pointer to copy from
                    std::memcpy(buf.data() + start_[run], f.in[run].data(), bytes_);
                }
            } else {
                std::memset(buf.data() + start_[run], sentinel, bytes_);
            }
        }
    }

    const std::uint8_t* Run(int run) const { return storage_[run].data() + start_[run]; }
    std::uint8_t* Out() { return storage_[kInputs].data() + start_[kInputs]; }

    // Every byte outside the output run, and every input byte, as it was placed.
    testing::AssertionResult Untouched(const Frames& f) const {
        for (int run = 0; run < kRuns; ++run) {
            const auto& buf = storage_[run];
            const std::size_t end = start_[run] + bytes_;
            for (std::size_t k = 0; k < buf.size(); k = (k + 1 == start_[run] ? end : k + 1)) {
                if (buf[k] != Pattern(run, k)) {
                    return testing::AssertionFailure() << "run " << run << ": byte at "
                                                       << static_cast<long long>(k) - static_cast<long long>(start_[run])
                                                       << " from its start changed";
                }
            }
            if (run < kInputs && bytes_ > 0 && std::memcmp(buf.data() + start_[run], f.in[run].data(), bytes_) != 0) {
                return testing::AssertionFailure() << "input run " << run << " was written";
            }
        }
        return testing::AssertionSuccess();
    }

private:
    static std::uint8_t Pattern(int run, std::size_t k) { return static_cast<std::uint8_t>(0x3B + run * 29 + k * 7); }

    std::size_t bytes_;
    std::array<std::vector<std::uint8_t>, kRuns> storage_;
    std::array<std::size_t, kRuns> start_{};
};

// Pixel counts around each variant's vector width (4, 8 and 16 pixels), odd sizes and a
// full frame, each with its reference output; built once for all variants.
const std::vector<Keyed>& RunCases() {
    static const std::vector<Keyed> cases = [] {
        std::mt19937 rng(7);
        std::vector<Keyed> built;
        for (std::size_t pixels : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 1001, 1920 * 1080}) {
            built.emplace_back(RandomContent(pixels, rng));
        }
        return built;
    }();
    return cases;
}

TEST_P(KernelTest, RunsOfEveryLengthAndAlignmentMatchReferenceAndStayInside) {
    std::mt19937 rng(7);
    for (const Keyed& k : RunCases()) {
        const Frames& f = k.frames;
        const std::vector<std::uint8_t>& want = k.want;
        const std::size_t pixels = f.Bytes() / 4;
        // Aligned, then every run at its own odd offset; a different sentinel each time
        // shows that every output byte is written rather than left as it was.
        const std::array<std::size_t, kRuns> aligned{};
        std::array<std::size_t, kRuns> scattered{};
        for (auto& o : scattered) {
            o = static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 63)(rng));
        }
        for (const auto& [offsets, sentinel] : {std::pair{aligned, std::uint8_t{0x00}},
                                                std::pair{scattered, std::uint8_t{0xFF}},
                                                std::pair{scattered, std::uint8_t{0x5A}}}) {
            GuardedRuns runs(f, offsets, sentinel);
            pass_(runs.Run(0), runs.Run(1), runs.Run(2), runs.Run(3), runs.Run(4), runs.Run(5), runs.Out(),
                  f.Bytes());
            ASSERT_TRUE(runs.Untouched(f)) << pixels << " pixels, sentinel " << int{sentinel};
            ASSERT_TRUE(SameOutput(f, runs.Out(), want.data())) << pixels << " pixels, sentinel " << int{sentinel};
        }
    }
}

// ---- No read past the run -----------------------------------------------------------

#ifdef KEYING_TEST_GUARD_PAGES
// A run whose last byte sits right before a page that cannot be touched: any read or
// write past byteCount faults.
class RunBeforeDeadPage {
public:
    explicit RunBeforeDeadPage(std::size_t bytes) {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t usable = (bytes + page - 1) / page * page + page;
        size_ = usable + page;
        void* base = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            throw std::runtime_error("mmap failed");
        }
        base_ = static_cast<std::uint8_t*>(base);
        if (mprotect(base_ + usable, page, PROT_NONE) != 0) {
            munmap(base_, size_);
            throw std::runtime_error("mprotect failed");
        }
        start_ = base_ + usable - bytes;
    }
    ~RunBeforeDeadPage() { munmap(base_, size_); }
    RunBeforeDeadPage(const RunBeforeDeadPage&) = delete;
    RunBeforeDeadPage& operator=(const RunBeforeDeadPage&) = delete;

    std::uint8_t* Start() { return start_; }

private:
    std::uint8_t* base_ = nullptr;
    std::uint8_t* start_ = nullptr;
    std::size_t size_ = 0;
};

TEST_P(KernelTest, RunsEndingAtAnInaccessiblePageAreNotOverread) {
    std::mt19937 rng(11);
    for (std::size_t pixels : {1, 3, 5, 15, 17, 33, 1023, 1025}) {
        const Frames f = RandomContent(pixels, rng);
        const std::vector<std::uint8_t> want = Reference(f);
        for (int fenced = 0; fenced < kRuns; ++fenced) {
            RunBeforeDeadPage page(f.Bytes());
            std::array<std::vector<std::uint8_t>, kRuns> plain;
            std::array<std::uint8_t*, kRuns> runs{};
            for (int run = 0; run < kRuns; ++run) {
                if (run == fenced) {
                    runs[run] = page.Start();
                } else {
                    plain[run].resize(f.Bytes());
                    runs[run] = plain[run].data();
                }
                if (run < kInputs) {
                    std::memcpy(runs[run], f.in[run].data(), f.Bytes());
                }
            }
            pass_(runs[0], runs[1], runs[2], runs[3], runs[4], runs[5], runs[6], f.Bytes());
            ASSERT_TRUE(SameOutput(f, runs[6], want.data())) << pixels << " pixels, run " << fenced << " fenced";
        }
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Variants, KernelTest, testing::ValuesIn(keying::BuiltVariants()),
                         [](const testing::TestParamInfo<Variant>& info) {
                             return std::string(keying::VariantName(info.param));
                         });

// ---- Choosing a variant by hand -------------------------------------------------------

TEST(PassFor, RefusesAVariantThisCpuCannotRun) {
    bool any = false;
    for (Variant v : keying::BuiltVariants()) {
        if (!keying::CanRun(v)) {
            any = true;
            EXPECT_THROW(keying::PassFor(v), std::runtime_error) << keying::VariantName(v);
        }
    }
    if (!any) {
        GTEST_SKIP() << "this CPU runs every built variant";
    }
}

TEST(PassFor, TheActiveVariantIsRunnableAndTheMostCapable) {
    const Variant active = keying::ActiveVariant();
    EXPECT_TRUE(keying::CanRun(active));
    for (Variant v : keying::BuiltVariants()) {
        if (keying::CanRun(v)) {
            EXPECT_LE(static_cast<int>(v), static_cast<int>(active)) << keying::VariantName(v);
        }
    }
}

}  // namespace
