#!/usr/bin/python3
"""Writes the seed corpora of the conversion fuzz targets (corpus/<target>/): text in each code page
the targets check (UTF-8, ISO-8859-1, GBK), every kind of undecodable input, lone surrogates and
zero units, and for the list target the layout FuzzedDataProvider reads. The narrow-to-component
target also starts from corpus/utf8/. Run again after adding a seed."""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


narrow = {
    "ascii": b"button:ok;value=42",
    "zero_bytes": b"a\x00b\x00\x00c",
    "utf8_text": "Grüße, 中文, €, 😀".encode(),
    "utf8_invalid_classes": b"\xC0\xAF \xE0\x80\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82 \xF0\x9F\x98 \x80 \xF5\xFF",
    "utf8_invalid_after_ascii_run": b"x" * 40 + b"\xFF" + b"y" * 40,
    "latin1_text": "Grüße aus Köln, 48° Nord, ½ × ¾".encode("iso-8859-1"),
    "latin1_high_bytes": bytes(range(0x80, 0x100)),
    "gbk_text": "中文文本：相机，设置。".encode("gbk"),
    "gbk_euro_single_byte": b"\x80 price",
    "gbk_lead_at_end": b"\xD6\xD0\x81",
    "gbk_lead_before_ascii": b"\x81a\x81\x7f\xfe\x40",
    "gbk_never_lead": b"a\xFFb\x80",
}

units = {
    "ascii": utf16("button:ok"),
    "latin1_range": utf16("Grüße ½ ÿ"),
    "cjk": utf16("中文 相机 日本語"),
    "euro_and_symbols": utf16("€ ™ — “quoted”"),
    "supplementary_pair": utf16("a😀b𝄞"),
    "lone_high": utf16("a\ud800b"),
    "lone_low": utf16("a\udc00b"),
    "high_at_end": utf16("end\ud83d"),
    "reversed_pair": utf16("\ude00\ud83d"),
    "zero_units": utf16("a\x00b\x00"),
    "replacement_character": utf16("\ufffd?"),
    "empty": b"",
    "null": b"\x00",
}


def provider_list(elements):
    """Bytes from which FuzzedDataProvider gives back `elements`: each string ends at a backslash
    followed by another byte (a doubled backslash is one backslash); the count is the last byte."""
    data = b""
    for element in elements:
        data += element.replace(b"\\", b"\\\\") + b"\\ "
    return data + bytes([len(elements)])


lists = {
    "three_entries": provider_list([b"/tmp/a.txt", b"", b"/tmp/c.pdf"]),
    "utf8_and_invalid": provider_list(["Grüße".encode(), b"\xC0\xAF", b"\xE2\x82"]),
    "gbk_entries": provider_list(["中文".encode("gbk"), b"\x81", b"ok"]),
    "latin1_entries": provider_list(["Köln".encode("iso-8859-1"), b"\xFF"]),
    "zero_bytes": provider_list([b"a\x00b", b"\x00"]),
    "empty_vector": bytes([0]),
    "many_empty": provider_list([b""] * 16),
}

targets = {
    "narrow_to_component": narrow,
    "component_to_narrow": units,
    "component_to_optional": units,
    "narrow_list": lists,
}

for target, seeds in targets.items():
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
