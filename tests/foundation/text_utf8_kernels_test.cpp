// Every UTF-8 kernel against the scalar reference: counts, converted text and output bounds on
// random valid and invalid input at every alignment and length up to past 256, and on the seed
// corpus in tests/fuzz/corpus/utf8.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/text_utf8.hpp"

namespace {

namespace utf8 = zul::text::utf8;
using utf8::Kernel;

constexpr char16_t kGuardUnit = 0xBEEF;
constexpr char kGuardByte = '\x5A';
constexpr std::size_t kGuards = 80;  // past the widest store any kernel makes
constexpr std::size_t kMaxLength = 260;
constexpr std::size_t kAlignments = 64;

const utf8::KernelFunctions& Reference() { return utf8::KernelFor(Kernel::Scalar); }

template <class Unit>
std::string Hex(std::span<const Unit> input) {
    std::ostringstream text;
    text << std::hex;
    for (Unit u : input) text << static_cast<unsigned>(static_cast<std::make_unsigned_t<Unit>>(u)) << ' ';
    return text.str();
}

// The input copied to `offset` bytes past an aligned allocation that ends right where the input
// does, so that AddressSanitizer sees any read past it.
template <class Unit>
class PlacedInput {
public:
    PlacedInput(std::span<const Unit> input, std::size_t offset)
        : m_storage(new Unit[offset + input.size() + 1]), m_input(m_storage.get() + offset, input.size()) {
        std::copy(input.begin(), input.end(), m_storage.get() + offset);
    }
    std::span<const Unit> Get() const { return m_input; }

private:
    std::unique_ptr<Unit[]> m_storage;
    std::span<const Unit> m_input;
};

// Decodes with `kernel` as the reference does: same count; same units into exact room, and into
// ample room; kNoFit into one unit too few. Nothing is written past the room given.
testing::AssertionResult DecodeMatches(const utf8::KernelFunctions& kernel, std::span<const char> bytes) {
    const std::size_t count = Reference().utf16Length(bytes);
    std::vector<char16_t> expected(count);
    if (Reference().decodeToUtf16(bytes, expected) != count)
        return testing::AssertionFailure() << "reference disagrees with itself";
    const auto fail = [&] { return testing::AssertionFailure() << kernel.name << " on bytes " << Hex(bytes) << ": "; };
    if (const std::size_t got = kernel.utf16Length(bytes); got != count)
        return fail() << "counted " << got << " units, reference " << count;
    for (const std::size_t room : {count, count + kGuards}) {
        std::vector<char16_t> out(room + kGuards, kGuardUnit);
        const std::size_t written = kernel.decodeToUtf16(bytes, std::span(out).first(room));
        if (written != count)
            return fail() << "wrote " << written << " units into room " << room << ", expected " << count;
        if (!std::equal(expected.begin(), expected.end(), out.begin()))
            return fail() << "units " << Hex(std::span<const char16_t>(out).first(count)) << "differ from "
                          << Hex(std::span<const char16_t>(expected));
        if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(room), out.end(),
                        [](char16_t u) { return u != kGuardUnit; }))
            return fail() << "wrote past room " << room;
    }
    if (count != 0) {
        std::vector<char16_t> out(count - 1 + kGuards, kGuardUnit);
        const std::size_t written = kernel.decodeToUtf16(bytes, std::span(out).first(count - 1));
        if (written != utf8::kNoFit) return fail() << "into one unit too few gave " << written << ", not kNoFit";
        if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(count - 1), out.end(),
                        [](char16_t u) { return u != kGuardUnit; }))
            return fail() << "wrote past too small room";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult EncodeMatches(const utf8::KernelFunctions& kernel, std::span<const char16_t> units) {
    const std::size_t count = Reference().utf8Length(units);
    std::vector<char> expected(count);
    if (Reference().encodeFromUtf16(units, expected) != count)
        return testing::AssertionFailure() << "reference disagrees with itself";
    const auto fail = [&] { return testing::AssertionFailure() << kernel.name << " on units " << Hex(units) << ": "; };
    if (const std::size_t got = kernel.utf8Length(units); got != count)
        return fail() << "counted " << got << " bytes, reference " << count;
    for (const std::size_t room : {count, count + kGuards}) {
        std::vector<char> out(room + kGuards, kGuardByte);
        const std::size_t written = kernel.encodeFromUtf16(units, std::span(out).first(room));
        if (written != count)
            return fail() << "wrote " << written << " bytes into room " << room << ", expected " << count;
        if (!std::equal(expected.begin(), expected.end(), out.begin()))
            return fail() << "bytes " << Hex(std::span<const char>(out).first(count)) << "differ from "
                          << Hex(std::span<const char>(expected));
        if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(room), out.end(),
                        [](char b) { return b != kGuardByte; }))
            return fail() << "wrote past room " << room;
    }
    if (count != 0) {
        std::vector<char> out(count - 1 + kGuards, kGuardByte);
        const std::size_t written = kernel.encodeFromUtf16(units, std::span(out).first(count - 1));
        if (written != utf8::kNoFit) return fail() << "into one byte too few gave " << written << ", not kNoFit";
        if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(count - 1), out.end(),
                        [](char b) { return b != kGuardByte; }))
            return fail() << "wrote past too small room";
    }
    return testing::AssertionSuccess();
}

void AppendUtf8(std::string& bytes, char32_t c) {
    if (c < 0x80) {
        bytes.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        bytes.push_back(static_cast<char>(0xC0 | c >> 6));
        bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        bytes.push_back(static_cast<char>(0xE0 | c >> 12));
        bytes.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        bytes.push_back(static_cast<char>(0xF0 | c >> 18));
        bytes.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Text in runs: ASCII, and characters of each UTF-8 length, each run a few characters long.
std::string ValidText(std::mt19937& random, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) {
        const int kind = static_cast<int>(random() % 5);
        const std::size_t run = 1 + random() % (kind == 0 ? 40 : 12);
        for (std::size_t k = 0; k < run; ++k) {
            char32_t c = 0;
            switch (kind) {
                case 0:
                    c = random() % 0x80;
                    break;
                case 1:
                    c = 0x80 + random() % (0x800 - 0x80);
                    break;
                case 2:
                    do c = 0x800 + random() % (0x10000 - 0x800);
                    while (c >= 0xD800 && c <= 0xDFFF);
                    break;
                case 3:
                    c = 0x10000 + random() % (0x110000 - 0x10000);
                    break;
                default:
                    c = random() % 2 ? random() % 0x80 : 0x80 + random() % 0x780;
                    break;
            }
            AppendUtf8(text, c);
        }
    }
    return text;
}

// Valid text with damage: bytes dropped (truncated sequences), bytes replaced by continuation
// or lead bytes, and the ill-formed sequences Unicode names (overlongs, surrogates, > U+10FFFF).
std::string DamagedText(std::mt19937& random, std::size_t bytes) {
    static const char* const kIllFormed[] = {"\xC0\x80",
                                             "\xC1\xBF",
                                             "\xE0\x80\x80",
                                             "\xE0\x9F\xBF",
                                             "\xED\xA0\x80",
                                             "\xED\xBF\xBF",
                                             "\xF0\x80\x80\x80",
                                             "\xF0\x8F\xBF\xBF",
                                             "\xF4\x90\x80\x80",
                                             "\xF5\x80\x80\x80",
                                             "\xFF",
                                             "\xFE",
                                             "\x80",
                                             "\xBF",
                                             "\xF8\x88\x80\x80\x80"};
    std::string text = ValidText(random, bytes);
    const std::size_t damages = 1 + text.size() / 24;
    for (std::size_t d = 0; d < damages && !text.empty(); ++d) {
        const std::size_t at = random() % text.size();
        switch (random() % 4) {
            case 0:
                text.erase(at, 1);
                break;
            case 1:
                text[at] = static_cast<char>(0x80 + random() % 0x40);
                break;
            case 2:
                text[at] = static_cast<char>(0xC0 + random() % 0x40);
                break;
            default:
                text.insert(at, kIllFormed[random() % std::size(kIllFormed)]);
                break;
        }
    }
    return text;
}

std::string RandomBytes(std::mt19937& random, std::size_t bytes) {
    std::string text(bytes, '\0');
    for (char& b : text) b = static_cast<char>(random());
    return text;
}

// Units in runs: ASCII, two- and three-byte BMP characters, pairs, lone highs, lone lows, and
// reversed pairs.
std::u16string MixedUnits(std::mt19937& random, std::size_t count) {
    std::u16string units;
    while (units.size() < count) {
        const int kind = static_cast<int>(random() % 7);
        const std::size_t run = 1 + random() % (kind == 0 ? 40 : 8);
        for (std::size_t k = 0; k < run; ++k) {
            switch (kind) {
                case 0:
                    units.push_back(static_cast<char16_t>(random() % 0x80));
                    break;
                case 1:
                    units.push_back(static_cast<char16_t>(0x80 + random() % 0x780));
                    break;
                case 2:
                    units.push_back(static_cast<char16_t>(0xE000 + random() % 0x2000));
                    break;
                case 3:
                    units.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
                    units.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
                    break;
                case 4:
                    units.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
                    break;
                case 5:
                    units.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
                    break;
                default:
                    units.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
                    units.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
                    break;
            }
        }
    }
    return units;
}

std::u16string RandomUnits(std::mt19937& random, std::size_t count) {
    std::u16string units(count, u'\0');
    for (char16_t& u : units) u = static_cast<char16_t>(random());
    return units;
}

std::vector<std::string> SeedCorpus() {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(KIVFLD_UTF8_SEED_CORPUS))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> seeds;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return seeds;
}

std::u16string DecodedByReference(std::span<const char> bytes) {
    std::u16string units(Reference().utf16Length(bytes), u'\0');
    Reference().decodeToUtf16(bytes, units);
    return units;
}

class Utf8KernelDifferential : public testing::TestWithParam<Kernel> {
protected:
    void SetUp() override {
        if (!utf8::KernelSupported(GetParam()))
            GTEST_SKIP() << utf8::KernelFor(GetParam()).name << " does not run on this CPU";
    }
    const utf8::KernelFunctions& Under() const { return utf8::KernelFor(GetParam()); }

    // Every length up to kMaxLength, each at every alignment, taken from `stream` at a
    // different place each time (so also starting inside characters).
    template <class Unit>
    void ForSlices(const std::basic_string<Unit>& stream,
                   testing::AssertionResult (*matches)(const utf8::KernelFunctions&, std::span<const Unit>)) {
        int failures = 0;
        for (std::size_t length = 0; length <= kMaxLength && failures < 5; ++length) {
            for (std::size_t alignment = 0; alignment < kAlignments && failures < 5; ++alignment) {
                const std::size_t start = (length * 131 + alignment * 17) % (stream.size() - kMaxLength);
                const PlacedInput<Unit> input(std::span<const Unit>(stream).subspan(start, length), alignment);
                const testing::AssertionResult result = matches(Under(), input.Get());
                if (!result) {
                    ++failures;
                    ADD_FAILURE() << "length " << length << ", alignment " << alignment << ": " << result.message();
                }
            }
        }
    }
};

TEST_P(Utf8KernelDifferential, Decode_RandomValidText_MatchesReference) {
    std::mt19937 random(1);
    ForSlices<char>(ValidText(random, 8192), DecodeMatches);
}

TEST_P(Utf8KernelDifferential, Decode_RandomDamagedText_MatchesReference) {
    std::mt19937 random(2);
    ForSlices<char>(DamagedText(random, 8192), DecodeMatches);
}

TEST_P(Utf8KernelDifferential, Decode_RandomBytes_MatchesReference) {
    std::mt19937 random(3);
    ForSlices<char>(RandomBytes(random, 8192), DecodeMatches);
}

TEST_P(Utf8KernelDifferential, Decode_LongValidAndDamagedText_MatchesReference) {
    std::mt19937 random(4);
    for (const std::string& text :
         {ValidText(random, 1 << 16), DamagedText(random, 1 << 16), RandomBytes(random, 1 << 16)}) {
        EXPECT_TRUE(DecodeMatches(Under(), text));
    }
}

TEST_P(Utf8KernelDifferential, Decode_SeedCorpusEveryPrefix_MatchesReference) {
    const std::vector<std::string> seeds = SeedCorpus();
    ASSERT_FALSE(seeds.empty()) << "no seed files in " << KIVFLD_UTF8_SEED_CORPUS;
    for (std::size_t s = 0; s < seeds.size(); ++s) {
        SCOPED_TRACE("seed " + std::to_string(s));
        int failures = 0;
        for (std::size_t length = 0; length <= seeds[s].size() && failures < 3; ++length) {
            for (std::size_t alignment : {0, 1, 7, 33}) {
                const PlacedInput<char> input(std::span<const char>(seeds[s]).first(length), alignment);
                const testing::AssertionResult result = DecodeMatches(Under(), input.Get());
                if (!result) ++failures;
                EXPECT_TRUE(result) << "prefix " << length << ", alignment " << alignment;
            }
        }
    }
}

TEST_P(Utf8KernelDifferential, Encode_RandomMixedUnits_MatchesReference) {
    std::mt19937 random(5);
    ForSlices<char16_t>(MixedUnits(random, 8192), EncodeMatches);
}

TEST_P(Utf8KernelDifferential, Encode_RandomUnits_MatchesReference) {
    std::mt19937 random(6);
    ForSlices<char16_t>(RandomUnits(random, 8192), EncodeMatches);
}

TEST_P(Utf8KernelDifferential, Encode_DecodedValidText_MatchesReference) {
    std::mt19937 random(7);
    ForSlices<char16_t>(DecodedByReference(ValidText(random, 12000)), EncodeMatches);
}

TEST_P(Utf8KernelDifferential, Encode_LongMixedUnits_MatchesReference) {
    std::mt19937 random(8);
    for (const std::u16string& units : {MixedUnits(random, 1 << 16), RandomUnits(random, 1 << 16)}) {
        EXPECT_TRUE(EncodeMatches(Under(), units));
    }
}

// Each seed decoded (so that prefixes cut pairs in two), and each seed's raw bytes read as units.
TEST_P(Utf8KernelDifferential, Encode_SeedCorpusEveryPrefix_MatchesReference) {
    const std::vector<std::string> seeds = SeedCorpus();
    ASSERT_FALSE(seeds.empty()) << "no seed files in " << KIVFLD_UTF8_SEED_CORPUS;
    for (std::size_t s = 0; s < seeds.size(); ++s) {
        SCOPED_TRACE("seed " + std::to_string(s));
        std::u16string raw(seeds[s].size() / 2, u'\0');
        std::memcpy(raw.data(), seeds[s].data(), raw.size() * sizeof(char16_t));
        for (const std::u16string& units : {DecodedByReference(seeds[s]), raw}) {
            int failures = 0;
            for (std::size_t length = 0; length <= units.size() && failures < 3; ++length) {
                for (std::size_t alignment : {0, 1, 5}) {
                    const PlacedInput<char16_t> input(std::span<const char16_t>(units).first(length), alignment);
                    const testing::AssertionResult result = EncodeMatches(Under(), input.Get());
                    if (!result) ++failures;
                    EXPECT_TRUE(result) << "prefix " << length << ", alignment " << alignment;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SimdKernels, Utf8KernelDifferential,
                         testing::Values(Kernel::Sse2, Kernel::Avx2, Kernel::Avx512),
                         [](const testing::TestParamInfo<Kernel>& info) {
                             return std::string(utf8::KernelFor(info.param).name);
                         });

TEST(Utf8KernelSelection, Select_TakesTheFastestSupportedKernel) {
    EXPECT_TRUE(utf8::KernelSupported(Kernel::Scalar));
    EXPECT_TRUE(utf8::KernelSupported(Kernel::Sse2));
    Kernel fastest = Kernel::Sse2;
    for (Kernel kernel : {Kernel::Avx2, Kernel::Avx512})
        if (utf8::KernelSupported(kernel)) fastest = kernel;
    EXPECT_EQ(utf8::ActiveKernel(), fastest) << "active: " << utf8::KernelFor(utf8::ActiveKernel()).name;
}

}  // namespace
