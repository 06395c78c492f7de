#!/usr/bin/python3
"""Writes the UTF-8 seed corpus (corpus/utf8/): short inputs that reach every branch of the UTF-8
kernels: each sequence length and its bounds, each kind of invalid sequence, and characters that
straddle the 16-, 32- and 64-byte block edges of the SIMD kernels. The differential test runs every
kernel over these files; fuzz targets start from them. Run again after adding a seed."""
import os
import random

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "utf8")

seeds = {
    "empty": b"",
    "ascii_sentence": b"The quick brown fox jumps over the lazy dog.\n",
    "ascii_64_bytes": b"A" * 63 + b"\n",
    "ascii_65_bytes": b"B" * 65,
    "embedded_zero_bytes": b"a\x00b\x00\x00c" + b"\x00" * 40,
    "byte_order_mark": b"\xEF\xBB\xBFtext after a byte order mark",
    "latin_text": "Grüße aus Köln: à bientôt, señor, naïve façade, smørrebrød.".encode(),
    "cjk_text": "中文文本，日本語のテキスト、한국어 텍스트。".encode(),
    "emoji_text": "ok 😀 👍🏽 🇩🇪 family 👨‍👩‍👧 ❤️ done".encode(),
    "mixed_scripts": "Ελληνικά русский עברית العربية हिन्दी ไทย 𝄞 €".encode(),
    "sequence_bounds": "\u0000\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFF\U00010000\U0010FFFF".encode(
        "utf-8", "surrogatepass"),
    "noncharacters": "\uFDD0\uFFFE\uFFFF\U0001FFFE\U0010FFFE".encode(),
    "overlong_two_byte": b"\xC0\x80 \xC0\xAF \xC1\xBF",
    "overlong_three_byte": b"\xE0\x80\x80 \xE0\x9F\xBF \xE0\x80\xAF",
    "overlong_four_byte": b"\xF0\x80\x80\x80 \xF0\x8F\xBF\xBF \xF0\x80\x80\xAF",
    "encoded_surrogates": b"\xED\xA0\x80 \xED\xAF\xBF \xED\xB0\x80 \xED\xBF\xBF \xED\xA0\xBD\xED\xB8\x80 \xED\x9F\xBF",
    "above_u10ffff": b"\xF4\x90\x80\x80 \xF4\xBF\xBF\xBF \xF5\x80\x80\x80 \xF7\xBF\xBF\xBF",
    "never_valid_bytes": b"\xC0 \xC1 \xF5 \xF8 \xFB \xFC \xFD \xFE \xFF",
    "five_and_six_byte_forms": b"\xF8\x88\x80\x80\x80 \xFC\x84\x80\x80\x80\x80",
    "stray_continuations": b"\x80 \xBF \x80\x80\x80 a\x8F\xBFb",
    "truncated_at_end_two": b"abc\xC3",
    "truncated_at_end_three": b"abc\xE2\x82",
    "truncated_at_end_four": b"abc\xF0\x9F\x98",
    "truncated_before_ascii": b"\xE2\x82x \xF0\x9F\x98y \xC3z \xF0\x9Fw",
    "truncated_before_lead": b"\xE2\x82\xE2\x82\xAC \xF0\x9F\xF0\x9F\x98\x80 \xC3\xC3\xA9",
    "unicode_table_3_8": b"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
    "lead_then_wrong_second": b"\xE0\x7F \xED\xA0 \xF0\x8F \xF4\x90 \xE1\xC0",
    "two_byte_at_block_edge_16": b"a" * 15 + "é".encode() + b"b" * 16,
    "three_byte_at_block_edge_32": b"a" * 31 + "€".encode() + b"b" * 32,
    "three_byte_at_block_edge_64": b"a" * 62 + "€".encode() + b"b" * 64,
    "four_byte_at_block_edge_64": b"a" * 61 + "😀".encode() + b"b" * 64,
    "four_byte_cut_by_block_edge_64": b"a" * 63 + "😀".encode() + b"b" * 2,
    "invalid_at_block_edge_64": b"a" * 63 + b"\xE0\x80" + b"b" * 66,
    "truncated_at_block_edge_32": b"a" * 30 + b"\xF0\x9F" + b"c" * 40,
    "long_cjk_run": ("漢字" * 80).encode(),
    "long_emoji_run": ("😀🙏🚀" * 40).encode(),
    "alternating_ascii_and_two_byte": ("aé" * 100).encode(),
}

rng = random.Random(20261211)
# Random bytes, and random bytes biased towards lead and continuation bytes.
for k in range(3):
    seeds[f"random_bytes_{k}"] = bytes(rng.randrange(256) for _ in range(200 + 50 * k))
for k in range(3):
    pool = [0x80, 0x8F, 0x9F, 0xA0, 0xBF, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0x41]
    seeds[f"random_boundary_bytes_{k}"] = bytes(rng.choice(pool) for _ in range(180 + 40 * k))

os.makedirs(HERE, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {HERE}")
