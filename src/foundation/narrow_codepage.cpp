// Per-thread code page detection and the iconv side of narrow <-> UTF-16 conversion.
#include "foundation/narrow_codepage.hpp"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "foundation/single_byte_codeset.hpp"
#include "foundation/text_utf8.hpp"
#include "kiv/runtime/errors.hpp"

namespace zul::text {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kIconvFailed = static_cast<std::size_t>(-1);
constexpr const char* kUtf16Native = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacement = 0xFFFD;

// Count passes, and write passes near the end of their room, convert into scratch: per thread,
// made at its first iconv conversion. Small scratch costs more than the calls it takes: a
// multi-step converter that runs out of output room converts the unconsumed input again to find
// where it stopped. When the thread's scratch cannot be had, a small one on the stack serves.
constexpr std::size_t kThreadScratchBytes = 64 * 1024;
constexpr std::size_t kStackScratchBytes = 2048;

thread_local const char* t_codesetOverride = nullptr;
thread_local std::uint64_t t_convertersOpened = 0;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

const char* CurrentCodeset() noexcept {
    if (t_codesetOverride) return t_codesetOverride;
    const locale_t locale = uselocale(static_cast<locale_t>(0));
    return locale == LC_GLOBAL_LOCALE ? nl_langinfo(CODESET) : nl_langinfo_l(CODESET, locale);
}

// Where an iconv pass puts its output, counted in output units. The count pass converts into
// stack scratch again and again. The write pass converts straight into the caller's buffer until
// iconv first reports E2BIG: some converters do that whenever the room left is below their
// longest character, even for a character they would reject or that would fit. From then on it
// converts into scratch and copies what came out, which tells a true overflow from a cautious one.
template <class Unit, bool Write>
class Sink {
public:
    /// `scratch` must be aligned for Unit.
    Sink(std::span<Unit> out, std::span<char> scratch) noexcept
        : m_out(out), m_scratch(reinterpret_cast<Unit*>(scratch.data()), scratch.size() / sizeof(Unit)) {}

    // Runs one iconv call into the free room; errno survives for the caller.
    template <class Call>
    std::size_t Convert(Call&& call) noexcept {
        const bool direct = Write && !m_tight;
        Unit* window = direct ? m_out.data() + m_produced : m_scratch.data();
        const std::size_t room = (direct ? m_out.size() - m_produced : m_scratch.size()) * sizeof(Unit);
        char* outPtr = reinterpret_cast<char*>(window);
        std::size_t outLeft = room;
        const std::size_t result = call(&outPtr, &outLeft);
        const int error = errno;
        const std::size_t got = (room - outLeft) / sizeof(Unit);
        m_lastCallProduced = got != 0;
        m_lastCallInScratch = !direct;
        if (direct) {
            m_produced += got;
            if (result == kIconvFailed && error == E2BIG) m_tight = true;
        } else {
            Put(std::span<const Unit>(m_scratch.data(), got));
        }
        errno = error;
        return result;
    }

    void Put(std::span<const Unit> units) noexcept {
        if constexpr (Write) {
            if (m_out.size() - m_produced < units.size()) {
                m_overflowed = true;
                return;
            }
            std::copy(units.begin(), units.end(), m_out.begin() + static_cast<std::ptrdiff_t>(m_produced));
        }
        m_produced += units.size();
    }

    std::size_t Produced() const noexcept { return m_produced; }
    bool Overflowed() const noexcept { return m_overflowed; }
    // E2BIG into scratch without any output: no room would ever be enough.
    bool Stuck(bool consumedInput) const noexcept {
        return m_lastCallInScratch && !m_lastCallProduced && !consumedInput;
    }

private:
    std::span<Unit> m_out;
    std::size_t m_produced = 0;
    bool m_tight = false;
    bool m_overflowed = false;
    bool m_lastCallProduced = false;
    bool m_lastCallInScratch = false;
    std::span<Unit> m_scratch;
};

// Resets (unless `initialState` says the last conversion ended with a flush), converts, flushes,
// and records whether the converter is left in its initial state. A byte that cannot start a
// character here becomes one U+FFFD and decoding resumes at the next byte; input that ends inside
// a character becomes one U+FFFD for the whole incomplete tail, as a truncated UTF-8 sequence does.
template <bool Write>
std::size_t IconvToUtf16(iconv_t cd, bool& initialState, std::span<const char> in, std::span<char16_t> out,
                         std::span<char> scratch) noexcept {
    Sink<char16_t, Write> sink(out, scratch);
    if (!initialState) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    initialState = false;
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    const char16_t replacement[] = {kReplacement};
    for (;;) {
        const bool flushing = inLeft == 0;
        const std::size_t before = inLeft;
        const std::size_t result = sink.Convert([&](char** outPtr, std::size_t* outLeft) {
            return flushing ? iconv(cd, nullptr, nullptr, outPtr, outLeft)
                            : iconv(cd, &inPtr, &inLeft, outPtr, outLeft);
        });
        const int error = errno;
        if (sink.Overflowed()) return kNoFit;
        if (result != kIconvFailed) {
            if (flushing) {
                initialState = true;
                return sink.Produced();
            }
            continue;
        }
        switch (error) {
            case E2BIG:
                if (sink.Stuck(inLeft != before)) return 0;
                continue;
            case EILSEQ:
                sink.Put(replacement);
                ++inPtr;
                --inLeft;
                break;
            case EINVAL:
                sink.Put(replacement);
                inLeft = 0;
                break;
            default:
                return 0;
        }
        if (sink.Overflowed()) return kNoFit;
    }
}

inline bool IsHighSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xDC00; }

// glibc's converters drop a Unicode tag character (U+E0000..U+E007F) that the codeset lacks
// instead of reporting it, and no codeset has them: such a character would vanish from the text.
// Its surrogate pair is found here and handed to iconv never, becoming the default character.
inline bool IsTagCharacterAt(std::span<const char16_t> in, std::size_t at) noexcept {
    return at + 1 < in.size() && in[at] == 0xDB40 && (in[at + 1] & 0xFF80) == 0xDC00;
}

inline std::size_t NextTagCharacter(std::span<const char16_t> in, std::size_t from) noexcept {
    for (std::size_t at = from; at + 1 < in.size(); ++at)
        if (IsTagCharacterAt(in, at)) return at;
    return in.size();
}

// Resets (unless known to be needless), converts, flushes, as above. A character without an exact
// equivalent (or a lone surrogate) becomes the default character, written from the initial shift
// state: the converter is brought back to it first, which for stateless codesets writes nothing.
// iconv sees the text in segments that end before each tag character.
template <bool Write>
std::size_t IconvFromUtf16(iconv_t cd, bool& initialState, std::span<const char> defaultChar,
                           std::span<const char16_t> in, std::span<char> out, std::span<char> scratch) noexcept {
    Sink<char, Write> sink(out, scratch);
    if (!initialState) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    initialState = false;
    char* const inStart = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    char* inPtr = inStart;
    const auto position = [&] { return static_cast<std::size_t>(inPtr - inStart) / sizeof(char16_t); };
    std::size_t segmentEnd = NextTagCharacter(in, 0);
    std::size_t inLeft = segmentEnd * sizeof(char16_t);  // of the current segment
    const auto backToInitialState = [&](char** outPtr, std::size_t* outLeft) {
        return iconv(cd, nullptr, nullptr, outPtr, outLeft);
    };
    // Writes the default character from the initial shift state; false when iconv fails.
    const auto putDefaultChar = [&] {
        std::size_t reset = sink.Convert(backToInitialState);
        if (reset == kIconvFailed && errno == E2BIG) reset = sink.Convert(backToInitialState);  // into scratch
        if (sink.Overflowed() || reset == kIconvFailed) return false;
        sink.Put(defaultChar);
        return true;
    };
    for (;;) {
        if (inLeft == 0 && segmentEnd < in.size()) {
            if (defaultChar.empty()) return 0;
            if (!putDefaultChar()) return sink.Overflowed() ? kNoFit : 0;
            if (sink.Overflowed()) return kNoFit;
            inPtr += 2 * sizeof(char16_t);
            segmentEnd = NextTagCharacter(in, segmentEnd + 2);
            inLeft = (segmentEnd - position()) * sizeof(char16_t);
            continue;
        }
        const bool flushing = inLeft == 0;
        const std::size_t before = inLeft;
        const std::size_t result = sink.Convert([&](char** outPtr, std::size_t* outLeft) {
            return flushing ? iconv(cd, nullptr, nullptr, outPtr, outLeft)
                            : iconv(cd, &inPtr, &inLeft, outPtr, outLeft);
        });
        const int error = errno;
        if (sink.Overflowed()) return kNoFit;
        if (result != kIconvFailed) {
            if (flushing) {
                initialState = true;
                return sink.Produced();
            }
            continue;
        }
        if (error == E2BIG) {
            if (sink.Stuck(inLeft != before)) return 0;
            continue;
        }
        if ((error != EILSEQ && error != EINVAL) || defaultChar.empty()) return 0;
        if (!putDefaultChar()) return sink.Overflowed() ? kNoFit : 0;
        if (sink.Overflowed()) return kNoFit;
        const std::size_t at = position();
        std::size_t skip = 1;
        if (error == EINVAL)
            skip = segmentEnd - at;  // a high surrogate that the segment ends on
        else if (IsHighSurrogate(in[at]) && at + 1 < segmentEnd && IsLowSurrogate(in[at + 1]))
            skip = 2;  // a supplementary character the codeset lacks: one default character
        inPtr += skip * sizeof(char16_t);
        inLeft -= skip * sizeof(char16_t);
    }
}

// Multibyte codesets without shift states in which every byte below 0x80 outside a multibyte
// character is that ASCII character. (Their trail bytes may lie below 0x80, but an ASCII prefix
// holds no lead byte.) Stateful ones (ISO-2022-*, HZ, UTF-7) have shift sequences made of ASCII.
bool IsStatelessAsciiSuperset(std::string_view codeset) noexcept {
    static constexpr std::string_view kCodesets[] = {
        "EUC-JP", "EUC-JISX0213", "EUC-KR", "EUC-CN", "EUC-TW", "GB2312", "GBK",   "GB18030",
        "BIG5",   "BIG5-HKSCS",   "CP936",  "CP949",  "CP950",  "UHC",    "JOHAB",
    };
    return std::ranges::any_of(kCodesets, [&](std::string_view known) { return EqualsIgnoringCase(codeset, known); });
}

// Whether `cd` turns the 128 ASCII characters into themselves, upwards and downwards, with
// nothing held back or added by the final flush: rules out codesets whose ASCII differs (the yen
// sign at 0x5C of some Shift_JIS tables). `Unit` is the converter's input unit: char when
// decoding to UTF-16, char16_t when encoding from it.
template <class Unit>
bool ConvertsAsciiToItself(iconv_t cd) noexcept {
    using Output = std::conditional_t<std::is_same_v<Unit, char>, char16_t, char>;
    for (int pass = 0; pass < 2; ++pass) {
        Unit in[128];
        for (int c = 0; c < 128; ++c) in[c] = static_cast<Unit>(pass == 0 ? c : 127 - c);
        Output out[129];
        char* inPtr = reinterpret_cast<char*>(in);
        std::size_t inLeft = sizeof in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != kIconvFailed && inLeft == 0 &&
                               iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != kIconvFailed;
        if (!converted || outLeft != sizeof out - 128 * sizeof(Output)) return false;
        for (int c = 0; c < 128; ++c)
            if (static_cast<int>(out[c]) != static_cast<int>(in[c])) return false;
    }
    return true;
}

iconv_t OpenConverter(const char* to, const char* from, bool& unavailable) {
    const iconv_t cd = iconv_open(to, from);
    if (cd != kNoConverter) {
        ++t_convertersOpened;
        return cd;
    }
    if (errno == ENOMEM) throw kiv::runtime::OutOfMemoryError("Insufficient memory to open a code page converter.");
    // Only "unsupported" is permanent; anything else may work on the next call.
    if (errno == EINVAL) unavailable = true;
    return kNoConverter;
}

}  // namespace

CodesetKind ClassifyCodeset(std::string_view codeset) noexcept {
    if (EqualsIgnoringCase(codeset, "UTF-8") || EqualsIgnoringCase(codeset, "UTF8") || codeset == "ANSI_X3.4-1968")
        return CodesetKind::Utf8;
    return CodesetKind::Iconv;
}

// A handful of slots per thread: threads rarely see more than two codesets, and a fixed table
// never allocates. The least recently used slot is reused when all are taken.
struct ThreadCodePages {
    std::array<NarrowCodePage, 8> slots;
    NarrowCodePage unusable;  // stands for codesets whose name is too long to keep
    NarrowCodePage* last = nullptr;
    std::uint64_t clock = 0;
    std::unique_ptr<char[]> scratch;  // for iconv passes, made when the thread first needs it

    /// The thread's iconv scratch, or `fallback` when it cannot be made.
    std::span<char> Scratch(std::span<char> fallback) noexcept {
        if (!scratch) scratch.reset(new (std::nothrow) char[kThreadScratchBytes]);
        return scratch ? std::span<char>(scratch.get(), kThreadScratchBytes) : fallback;
    }

    // The same codeset as last time is the common case: compared inline, since a library call
    // costs as much as converting a short string.
    static bool SameName(const char* stored, const char* name) noexcept {
        for (;; ++stored, ++name) {
            if (*stored != *name) return false;
            if (*stored == '\0') return true;
        }
    }

    NarrowCodePage& Find(const char* codeset) {
        if (last && SameName(last->m_codeset, codeset)) return *last;
        const std::string_view name(codeset);
        if (name.size() > NarrowCodePage::kMaxCodesetLength) {
            unusable.Assign(name);
            return unusable;
        }
        NarrowCodePage* slot = nullptr;
        for (NarrowCodePage& candidate : slots) {
            if (candidate.m_lastUse != 0 && candidate.Codeset() == name) {
                slot = &candidate;
                break;
            }
        }
        if (!slot) {
            slot = &*std::ranges::min_element(slots, {}, &NarrowCodePage::m_lastUse);
            slot->Assign(name);
        }
        slot->m_lastUse = ++clock;
        last = slot;
        return *slot;
    }
};

namespace {
thread_local ThreadCodePages t_codePages;
}  // namespace

NarrowCodePage& NarrowCodePage::ForCallingThread() { return t_codePages.Find(CurrentCodeset()); }

NarrowCodePage::~NarrowCodePage() { Close(); }

void NarrowCodePage::Close() noexcept {
    if (m_decoder != kNoConverter) iconv_close(m_decoder);
    if (m_encoder != kNoConverter) iconv_close(m_encoder);
    m_decoder = m_encoder = kNoConverter;
    m_decoderUnavailable = m_encoderUnavailable = false;
    m_decoderInitial = m_encoderInitial = false;
    m_asciiDecodes = m_asciiEncodes = Probed::Unknown;
    m_defaultCharLength = 0;
    m_singleByte = nullptr;
    m_singleByteKnown = false;
}

void NarrowCodePage::Assign(std::string_view codeset) noexcept {
    Close();
    m_unusable = codeset.size() > kMaxCodesetLength;
    const std::size_t kept = m_unusable ? 0 : codeset.size();
    std::memcpy(m_codeset, codeset.data(), kept);
    m_codeset[kept] = '\0';
    m_kind = m_unusable ? CodesetKind::Iconv : ClassifyCodeset(codeset);
    m_lastUse = 0;
}

iconv_t NarrowCodePage::Decoder() {
    if (m_decoder == kNoConverter && !m_decoderUnavailable && !m_unusable)
        m_decoder = OpenConverter(kUtf16Native, m_codeset, m_decoderUnavailable);
    return m_decoder;
}

iconv_t NarrowCodePage::Encoder() {
    if (m_encoder != kNoConverter || m_encoderUnavailable || m_unusable) return m_encoder;
    m_encoder = OpenConverter(m_codeset, kUtf16Native, m_encoderUnavailable);
    if (m_encoder == kNoConverter) return m_encoder;
    // The default character is whatever '?' becomes here, taken from the initial state and
    // followed by the return to it. A codeset without '?' has none: its conversions then fail.
    const char16_t question[] = {u'?'};
    char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(question));
    std::size_t inLeft = sizeof question;
    char* outPtr = m_defaultChar;
    std::size_t outLeft = sizeof m_defaultChar;
    iconv(m_encoder, nullptr, nullptr, nullptr, nullptr);
    const bool converted = iconv(m_encoder, &inPtr, &inLeft, &outPtr, &outLeft) != kIconvFailed && inLeft == 0 &&
                           iconv(m_encoder, nullptr, nullptr, &outPtr, &outLeft) != kIconvFailed;
    m_defaultCharLength = converted ? static_cast<std::size_t>(outPtr - m_defaultChar) : 0;
    return m_encoder;
}

const SingleByteCodeset* NarrowCodePage::SingleByte() {
    if (m_singleByteKnown || m_unusable) return m_singleByte;
    if (const auto cached = SingleByteCodeset::Cached(m_codeset)) {
        m_singleByte = *cached;
    } else {
        const iconv_t cd = Decoder();
        if (cd == kNoConverter) return nullptr;  // may work on a later call
        m_singleByte = SingleByteCodeset::Probe(m_codeset, cd);
        m_decoderInitial = false;
    }
    m_singleByteKnown = true;
    return m_singleByte;
}

bool NarrowCodePage::AsciiDecodesToItself() {
    if (m_asciiDecodes == Probed::Unknown) {
        const iconv_t cd = Decoder();
        if (cd == kNoConverter) return false;
        m_asciiDecodes =
            IsStatelessAsciiSuperset(m_codeset) && ConvertsAsciiToItself<char>(cd) ? Probed::Yes : Probed::No;
        m_decoderInitial = false;
    }
    return m_asciiDecodes == Probed::Yes;
}

bool NarrowCodePage::AsciiEncodesToItself() {
    if (m_asciiEncodes == Probed::Unknown) {
        const iconv_t cd = Encoder();
        if (cd == kNoConverter) return false;
        m_asciiEncodes =
            IsStatelessAsciiSuperset(m_codeset) && ConvertsAsciiToItself<char16_t>(cd) ? Probed::Yes : Probed::No;
        m_encoderInitial = false;
    }
    return m_asciiEncodes == Probed::Yes;
}

// In codesets where ASCII stands for itself, the ASCII prefix of a text goes through the SIMD
// kernels (ASCII is UTF-8) and only the rest through iconv, from the initial state in which the
// prefix leaves it. A rest that iconv cannot convert at all fails the whole conversion.

std::size_t NarrowCodePage::Utf16Length(std::span<const char> narrow) {
    if (m_kind == CodesetKind::Utf8) return utf8::Utf16Length(narrow);
    if (SingleByte()) return narrow.size();
    const std::size_t ascii = AsciiDecodesToItself() ? utf8::AsciiPrefixLength(narrow) : 0;
    if (ascii == narrow.size()) return ascii;
    const iconv_t cd = Decoder();
    if (cd == kNoConverter) return 0;
    alignas(char16_t) char fallback[kStackScratchBytes];
    const std::size_t rest =
        IconvToUtf16<false>(cd, m_decoderInitial, narrow.subspan(ascii), {}, t_codePages.Scratch(fallback));
    return rest == 0 ? 0 : ascii + rest;
}

std::size_t NarrowCodePage::ToUtf16(std::span<const char> narrow, std::span<char16_t> out) {
    if (m_kind == CodesetKind::Utf8) return utf8::DecodeToUtf16(narrow, out);
    if (const SingleByteCodeset* table = SingleByte()) return table->ToUtf16(narrow, out);
    const std::size_t ascii = AsciiDecodesToItself() ? utf8::AsciiPrefixLength(narrow) : 0;
    if (ascii != 0 && utf8::DecodeToUtf16(narrow.first(ascii), out) == kNoFit) return kNoFit;
    if (ascii == narrow.size()) return ascii;
    const iconv_t cd = Decoder();
    if (cd == kNoConverter) return 0;
    alignas(char16_t) char fallback[kStackScratchBytes];
    const std::size_t rest = IconvToUtf16<true>(cd, m_decoderInitial, narrow.subspan(ascii), out.subspan(ascii),
                                                t_codePages.Scratch(fallback));
    return rest == 0 || rest == kNoFit ? rest : ascii + rest;
}

std::size_t NarrowCodePage::NarrowLength(std::span<const char16_t> units) {
    if (m_kind == CodesetKind::Utf8) return utf8::Utf8Length(units);
    if (const SingleByteCodeset* table = SingleByte()) return table->NarrowLength(units);
    const std::size_t ascii = AsciiEncodesToItself() ? utf8::AsciiPrefixLength(units) : 0;
    if (ascii == units.size()) return ascii;
    const iconv_t cd = Encoder();
    if (cd == kNoConverter) return 0;
    char fallback[kStackScratchBytes];
    const std::size_t rest = IconvFromUtf16<false>(cd, m_encoderInitial, {m_defaultChar, m_defaultCharLength},
                                                   units.subspan(ascii), {}, t_codePages.Scratch(fallback));
    return rest == 0 ? 0 : ascii + rest;
}

std::size_t NarrowCodePage::ToNarrow(std::span<const char16_t> units, std::span<char> out) {
    if (m_kind == CodesetKind::Utf8) return utf8::EncodeFromUtf16(units, out);
    if (const SingleByteCodeset* table = SingleByte()) return table->ToNarrow(units, out);
    const std::size_t ascii = AsciiEncodesToItself() ? utf8::AsciiPrefixLength(units) : 0;
    if (ascii != 0 && utf8::EncodeFromUtf16(units.first(ascii), out) == kNoFit) return kNoFit;
    if (ascii == units.size()) return ascii;
    const iconv_t cd = Encoder();
    if (cd == kNoConverter) return 0;
    char fallback[kStackScratchBytes];
    const std::size_t rest =
        IconvFromUtf16<true>(cd, m_encoderInitial, {m_defaultChar, m_defaultCharLength}, units.subspan(ascii),
                             out.subspan(ascii), t_codePages.Scratch(fallback));
    return rest == 0 || rest == kNoFit ? rest : ascii + rest;
}

namespace testing {

ScopedCodesetOverride::ScopedCodesetOverride(const char* codeset) noexcept { t_codesetOverride = codeset; }
ScopedCodesetOverride::~ScopedCodesetOverride() { t_codesetOverride = nullptr; }

std::uint64_t ThreadConverterOpenCount() noexcept { return t_convertersOpened; }

}  // namespace testing

}  // namespace zul::text
