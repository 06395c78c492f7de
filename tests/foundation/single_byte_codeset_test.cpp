// Single-byte codeset tables against iconv itself, which they replace: every byte, every BMP unit,
// random text with pairs and lone surrogates, for the scalar and the AVX-512 kernel; which
// codesets qualify; and a first use from several threads at once.
#include "foundation/single_byte_codeset.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/narrow_codepage.hpp"
#include "foundation/text_utf8.hpp"

namespace {

using zul::text::SingleByteCodeset;
using Kernel = SingleByteCodeset::Kernel;

constexpr std::size_t kNoFit = SIZE_MAX;

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

    // Converts `in` from the initial state; false when iconv refuses it.
    bool Convert(const void* in, std::size_t inBytes, std::string& out) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[64];
        char* inPtr = static_cast<char*>(const_cast<void*>(in));
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const bool ok = iconv(m_cd, &inPtr, &inBytes, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        out.assign(buffer, static_cast<std::size_t>(outPtr - buffer));
        return ok;
    }

private:
    iconv_t m_cd;
};

const SingleByteCodeset* TableFor(const char* codeset) {
    if (const auto cached = SingleByteCodeset::Cached(codeset)) return *cached;
    Iconv decoder("UTF-16LE", codeset);
    return decoder.Valid() ? SingleByteCodeset::Probe(codeset, decoder.Get()) : nullptr;
}

std::vector<Kernel> RunnableKernels() {
    std::vector<Kernel> kernels = {Kernel::Scalar};
    if (zul::text::utf8::KernelSupported(zul::text::utf8::Kernel::Avx512)) kernels.push_back(Kernel::Avx512);
    return kernels;
}

const char* KernelName(Kernel kernel) { return kernel == Kernel::Scalar ? "scalar" : "avx512"; }

// What iconv (the converter the tables replace) makes of each byte and each unit: U+FFFD for a
// byte it refuses, the default character for a unit it cannot encode, and one default character
// for a whole pair.
struct Oracle {
    explicit Oracle(const char* codeset) {
        Iconv decoder("UTF-16LE", codeset);
        Iconv encoder(codeset, "UTF-16LE");
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            std::string out;
            decode[b] = decoder.Convert(&byte, 1, out) && out.size() == 2
                            ? static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                                    static_cast<unsigned char>(out[1]) << 8)
                            : u'\uFFFD';
        }
        // The default character is what '?' becomes (0x6F in EBCDIC).
        const char16_t question = u'?';
        std::string defaultChar;
        if (!encoder.Convert(&question, sizeof question, defaultChar) || defaultChar.size() != 1) defaultChar = "!";
        for (int u = 0; u < 0x10000; ++u) {
            const char16_t unit = static_cast<char16_t>(u);
            std::string out;
            encode[u] = encoder.Convert(&unit, sizeof unit, out) && out.size() == 1 ? out[0] : defaultChar[0];
        }
        defaultByte = defaultChar[0];
    }
    std::string Encode(const std::u16string& units) const {
        std::string out;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const bool pair =
                (units[i] & 0xFC00) == 0xD800 && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00;
            out.push_back(pair ? defaultByte : encode[units[i]]);
            if (pair) ++i;
        }
        return out;
    }
    char16_t decode[256];
    std::vector<char> encode = std::vector<char>(0x10000);
    char defaultByte;
};

class SingleByteTable : public testing::TestWithParam<const char*> {};

TEST_P(SingleByteTable, Decode_EveryByte_MatchesIconv) {
    const SingleByteCodeset* table = TableFor(GetParam());
    ASSERT_NE(table, nullptr);
    const Oracle oracle(GetParam());
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
    for (Kernel kernel : RunnableKernels()) {
        SCOPED_TRACE(KernelName(kernel));
        std::u16string out(256 + 8, u'\xBEEF');
        ASSERT_EQ(table->ToUtf16(all, std::span(out).first(256), kernel), 256u);
        for (int b = 0; b < 256; ++b) EXPECT_EQ(out[b], oracle.decode[b]) << "byte " << b;
        EXPECT_EQ(out.substr(256), std::u16string(8, u'\xBEEF'));
        EXPECT_EQ(table->ToUtf16(all, std::span(out).first(255), kernel), kNoFit);
    }
}

TEST_P(SingleByteTable, Encode_EveryUnitAlone_MatchesIconv) {
    const SingleByteCodeset* table = TableFor(GetParam());
    ASSERT_NE(table, nullptr);
    const Oracle oracle(GetParam());
    for (Kernel kernel : RunnableKernels()) {
        SCOPED_TRACE(KernelName(kernel));
        int mismatches = 0;
        for (int u = 0; u < 0x10000; ++u) {
            const char16_t unit = static_cast<char16_t>(u);
            char out[2] = {'\x5A', '\x5A'};
            if (table->NarrowLength({&unit, 1}, kernel) != 1 || table->ToNarrow({&unit, 1}, {out, 1}, kernel) != 1 ||
                out[0] != oracle.encode[u] || out[1] != '\x5A') {
                if (++mismatches <= 5)
                    ADD_FAILURE() << std::hex << "unit " << u << " gave " << int(static_cast<unsigned char>(out[0]));
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Latin-1 letters, other BMP characters, pairs, lone surrogates, at every length and alignment
// across the 64-unit blocks of the AVX-512 kernel.
TEST_P(SingleByteTable, ConvertRandomText_MatchesIconvBothWays) {
    const SingleByteCodeset* table = TableFor(GetParam());
    ASSERT_NE(table, nullptr);
    const Oracle oracle(GetParam());
    std::mt19937 random(11);
    std::u16string stream;
    while (stream.size() < 4096) {
        switch (random() % 8) {
            case 0:
                stream.push_back(static_cast<char16_t>(0x100 + random() % 0x2100));
                break;
            case 1:
                stream.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
                stream.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
                break;
            case 2:
                stream.push_back(static_cast<char16_t>(0xD800 + random() % 0x800));
                break;
            default:
                stream.push_back(static_cast<char16_t>(random() % 0x100));
                break;
        }
    }
    std::string bytes(4096, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    for (Kernel kernel : RunnableKernels()) {
        SCOPED_TRACE(KernelName(kernel));
        int failures = 0;
        for (std::size_t length = 0; length <= 200 && failures < 5; ++length) {
            const std::size_t start = (length * 37) % 3000;
            const std::u16string units = stream.substr(start, length);
            const std::string expected = oracle.Encode(units);
            ASSERT_EQ(table->NarrowLength(units, kernel), expected.size()) << "length " << length;
            std::string out(expected.size() + 8, '\x5A');
            const bool encoded =
                table->ToNarrow(units, std::span(out).first(expected.size()), kernel) == expected.size() &&
                out.substr(0, expected.size()) == expected && out.substr(expected.size()) == std::string(8, '\x5A');
            const bool tooSmall =
                expected.empty() || table->ToNarrow(units, std::span(out).first(expected.size() - 1), kernel) == kNoFit;
            const std::string narrow = bytes.substr(start, length);
            std::u16string decoded(length, u'\0');
            std::u16string expectedUnits;
            for (char b : narrow) expectedUnits.push_back(oracle.decode[static_cast<unsigned char>(b)]);
            const bool decodedOk = table->ToUtf16(narrow, decoded, kernel) == length && decoded == expectedUnits;
            if (!encoded || !tooSmall || !decodedOk) {
                ++failures;
                ADD_FAILURE() << "length " << length << ": encoded " << encoded << ", too small " << tooSmall
                              << ", decoded " << decodedOk;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codesets, SingleByteTable,
                         testing::Values("ISO-8859-1", "ISO-8859-15", "CP1252", "KOI8-R", "CP437", "IBM037", "TIS-620",
                                         "ASCII"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(SingleByteProbe, Probe_MultibyteStatefulAndComposingCodesets_GiveNoTable) {
    // CP1255, CP1258 and TCVN5712-1 hold a letter back to combine it with an accent that may follow.
    for (const char* codeset : {"GBK", "EUC-JP", "UTF-16", "UTF-7", "ISO-2022-JP", "CP1255", "CP1258", "TCVN5712-1"}) {
        SCOPED_TRACE(codeset);
        Iconv decoder("UTF-16LE", codeset);
        ASSERT_TRUE(decoder.Valid());
        EXPECT_EQ(SingleByteCodeset::Probe(codeset, decoder.Get()), nullptr);
        const auto cached = SingleByteCodeset::Cached(codeset);
        ASSERT_TRUE(cached.has_value());
        EXPECT_EQ(*cached, nullptr);
    }
}

TEST(SingleByteProbe, Cached_UnprobedCodeset_IsUnknown) {
    EXPECT_FALSE(SingleByteCodeset::Cached("NOT-PROBED-BY-ANYONE").has_value());
}

// Threads meet a codeset nobody has used yet at the same moment: each converts correctly, and the
// code page layer afterwards uses a table.
TEST(SingleByteProbe, ConvertFirstUseOnManyThreads_AllConvertCorrectly) {
    constexpr const char* kCodeset = "ISO-8859-14";
    ASSERT_FALSE(SingleByteCodeset::Cached(kCodeset).has_value()) << "another test used " << kCodeset << " first";
    const std::string bytes = "\xA1\xA2 abc \xFF";
    const std::u16string expected = u"Ḃḃ abc ÿ";
    std::vector<std::u16string> results(4);
    std::vector<std::thread> threads;
    for (std::u16string& result : results) {
        threads.emplace_back([&] {
            zul::text::testing::ScopedCodesetOverride override(kCodeset);
            zul::text::NarrowCodePage& page = zul::text::NarrowCodePage::ForCallingThread();
            result.assign(page.Utf16Length(bytes), u'\0');
            if (page.ToUtf16(bytes, result) != result.size()) result = u"failed";
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::u16string& result : results) EXPECT_EQ(result, expected);
    const auto cached = SingleByteCodeset::Cached(kCodeset);
    ASSERT_TRUE(cached.has_value());
    EXPECT_NE(*cached, nullptr);
}

}  // namespace
