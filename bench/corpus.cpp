// Corpus generation: a fixed pseudo-random stream of characters per corpus, encoded by iconv.
#include "corpus.hpp"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivfld::bench {
namespace {

// xorshift64*: the same stream on every machine and standard library.
class Random {
public:
    std::uint64_t Next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1DULL;
    }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
    bool Chance(double p) { return static_cast<double>(Next() >> 11) / 9007199254740992.0 < p; }

private:
    std::uint64_t m_state = 0x9E3779B97F4A7C15ULL;
};

constexpr std::array<std::string_view, 64> kWords = {
    "the",    "of",       "and",      "to",        "in",     "is",     "that",    "for",      "it",       "as",
    "was",    "with",     "be",       "by",        "on",     "not",    "this",    "are",      "or",       "from",
    "at",     "which",    "but",      "have",      "an",     "they",   "you",     "were",     "their",    "one",
    "all",    "we",       "can",      "has",       "there",  "been",   "if",      "more",     "when",     "will",
    "would",  "who",      "message",  "attached",  "report", "camera", "archive", "settings", "position", "request",
    "answer", "document", "meeting",  "tomorrow",  "please", "find",   "below",   "regards",  "update",   "entries",
    "region", "receiver", "provider", "interface",
};

void AppendAscii(std::u32string& text, std::string_view word) {
    for (char c : word) text.push_back(static_cast<unsigned char>(c));
}

// English-looking sentences, all ASCII.
std::u32string AsciiText(std::size_t characters, Random& random) {
    std::u32string text;
    std::size_t sentence = 0;
    while (text.size() < characters) {
        const std::size_t words = 5 + random.Below(11);
        for (std::size_t w = 0; w < words; ++w) {
            const std::size_t start = text.size();
            AppendAscii(text, kWords[random.Below(kWords.size())]);
            if (w == 0) text[start] = text[start] - U'a' + U'A';
            text.push_back(w + 1 == words ? U'.' : (random.Chance(0.08) ? U',' : U' '));
            if (w + 1 < words && text.back() == U',') text.push_back(U' ');
        }
        text.push_back(++sentence % 6 == 0 ? U'\n' : U' ');
    }
    return text;
}

// The same sentences with most vowels and some consonants accented (Latin-1 letters): about 30%
// of all characters end up outside ASCII.
std::u32string LatinText(std::size_t characters, Random& random) {
    std::u32string text = AsciiText(characters, random);
    const std::unordered_map<char32_t, std::u32string_view> accented = {
        {U'a', U"àáâäå"}, {U'e', U"èéêë"}, {U'i', U"ìíîï"}, {U'o', U"òóôöø"}, {U'u', U"ùúûü"},
        {U'c', U"ç"},     {U'n', U"ñ"},    {U's', U"ß"},    {U'y', U"ýÿ"},    {U'A', U"ÀÁÂÄ"},
        {U'E', U"ÈÉÊË"},  {U'O', U"ÒÓÔÖ"}, {U'U', U"ÙÚÛÜ"}, {U'I', U"ÌÍÎÏ"},
    };
    for (char32_t& c : text) {
        const auto found = accented.find(c);
        if (found != accented.end() && random.Chance(0.86)) c = found->second[random.Below(found->second.size())];
    }
    return text;
}

// The 3755 first-level hanzi of GB 2312, in UTF-32, decoded by iconv from their GBK codes.
std::vector<char32_t> CommonHanzi() {
    const iconv_t cd = iconv_open("UTF-32LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert GBK");
    std::vector<char32_t> hanzi;
    for (int lead = 0xB0; lead <= 0xD7; ++lead) {
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char32_t out = 0;
            char* inPtr = in;
            char* outPtr = reinterpret_cast<char*>(&out);
            std::size_t inLeft = 2;
            std::size_t outLeft = sizeof out;
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 0)
                hanzi.push_back(out);
        }
    }
    iconv_close(cd);
    return hanzi;
}

// Chinese-looking sentences: clauses of hanzi between full-width commas, a full stop, now and then
// a number in ASCII digits.
std::u32string CjkText(std::size_t characters, Random& random) {
    static const std::vector<char32_t> hanzi = CommonHanzi();
    std::u32string text;
    std::size_t sentence = 0;
    while (text.size() < characters) {
        const std::size_t clauses = 1 + random.Below(4);
        for (std::size_t c = 0; c < clauses; ++c) {
            const std::size_t length = 4 + random.Below(10);
            for (std::size_t k = 0; k < length; ++k) text.push_back(hanzi[random.Below(hanzi.size())]);
            if (random.Chance(0.1)) AppendAscii(text, std::to_string(1 + random.Below(2024)));
            text.push_back(c + 1 == clauses ? U'。' : U'，');
        }
        if (++sentence % 8 == 0) text.push_back(U'\n');
    }
    return text;
}

// Chat-like text: short ASCII words, most followed by one or two emoji (supplementary planes,
// four UTF-8 bytes and a surrogate pair each) or a BMP symbol.
std::u32string EmojiText(std::size_t characters, Random& random) {
    std::u32string text;
    while (text.size() < characters) {
        AppendAscii(text, kWords[random.Below(kWords.size())]);
        text.push_back(U' ');
        const std::size_t emoji = random.Below(3);
        for (std::size_t e = 0; e < emoji; ++e) {
            switch (random.Below(4)) {
                case 0:
                    text.push_back(0x1F600 + static_cast<char32_t>(random.Below(0x50)));
                    break;
                case 1:
                    text.push_back(0x1F300 + static_cast<char32_t>(random.Below(0x100)));
                    break;
                case 2:
                    text.push_back(0x1F680 + static_cast<char32_t>(random.Below(0x50)));
                    break;
                default:
                    text.push_back(0x2600 + static_cast<char32_t>(random.Below(0x100)));
                    break;
            }
        }
        if (emoji != 0) text.push_back(U' ');
    }
    return text;
}

// Enough characters for the largest sample in any code page (one byte per character at least).
constexpr std::size_t kCorpusCharacters = (1u << 20) + 64;

const std::u32string& CorpusText(Corpus corpus) {
    static const std::array<std::u32string, 4> texts = [] {
        std::array<std::u32string, 4> all;
        Random random;
        all[0] = AsciiText(kCorpusCharacters, random);
        all[1] = LatinText(kCorpusCharacters, random);
        all[2] = CjkText(kCorpusCharacters, random);
        all[3] = EmojiText(kCorpusCharacters, random);
        return all;
    }();
    return texts[static_cast<std::size_t>(corpus)];
}

void AppendUtf16(std::u16string& units, char32_t c) {
    if (c < 0x10000) {
        units.push_back(static_cast<char16_t>(c));
    } else {
        units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
}

// One character in `codeset`, or nothing when the codeset lacks it.
class CharacterEncoder {
public:
    explicit CharacterEncoder(const char* codeset) : m_cd(iconv_open(codeset, "UTF-32LE")) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv lacks ") + codeset);
    }
    ~CharacterEncoder() { iconv_close(m_cd); }
    CharacterEncoder(const CharacterEncoder&) = delete;
    CharacterEncoder& operator=(const CharacterEncoder&) = delete;

    std::optional<std::string> Encode(char32_t c) {
        if (const auto found = m_cache.find(c); found != m_cache.end()) return found->second;
        char* inPtr = reinterpret_cast<char*>(&c);
        std::size_t inLeft = sizeof c;
        char out[16];
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::optional<std::string> encoded;
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
            iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            encoded.emplace(out, static_cast<std::size_t>(outPtr - out));
        m_cache.emplace(c, encoded);
        return encoded;
    }

private:
    iconv_t m_cd;
    std::unordered_map<char32_t, std::optional<std::string>> m_cache;
};

}  // namespace

const char* CorpusName(Corpus corpus) {
    switch (corpus) {
        case Corpus::Ascii:
            return "ascii";
        case Corpus::Latin:
            return "latin";
        case Corpus::Cjk:
            return "cjk";
        case Corpus::Emoji:
            return "emoji";
    }
    return "?";
}

std::optional<Sample> MakeSample(Corpus corpus, const CodePage& codePage, std::size_t narrowBytes) {
    CharacterEncoder encoder(codePage.codeset);
    Sample sample;
    std::size_t characters = 0;
    std::size_t nonAscii = 0;
    for (char32_t c : CorpusText(corpus)) {
        const std::optional<std::string> encoded = encoder.Encode(c);
        if (!encoded) return std::nullopt;
        if (sample.narrow.size() + encoded->size() > narrowBytes) break;
        sample.narrow += *encoded;
        AppendUtf16(sample.units, c);
        ++characters;
        nonAscii += c >= 0x80;
    }
    sample.nonAsciiShare = characters == 0 ? 0 : static_cast<double>(nonAscii) / static_cast<double>(characters);
    return sample;
}

ScopedCodePage::ScopedCodePage(const CodePage& codePage) {
    if (!codePage.locale) {
        m_override.emplace(codePage.codeset);
        m_active = true;
        return;
    }
    m_locale = newlocale(LC_ALL_MASK, codePage.locale, static_cast<locale_t>(0));
    if (!m_locale) return;
    m_previous = uselocale(m_locale);
    m_active = true;
}

ScopedCodePage::~ScopedCodePage() {
    if (m_locale == static_cast<locale_t>(0)) return;
    uselocale(m_previous);
    freelocale(m_locale);
}

}  // namespace kivfld::bench
