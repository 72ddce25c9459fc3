#!/usr/bin/env python3
"""Writes the seeds of the message fuzz target: flattened messages that unflatten, in the R5
format of either byte order and in the native format. Run it from anywhere; it writes next
to itself."""
import importlib.util
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    'corpus', os.path.join(HERE, '..', 'messages', 'make_corpus.py'))
corpus = importlib.util.module_from_spec(spec)
spec.loader.exec_module(corpus)
r5, r5_field, variable_item = corpus.r5, corpus.r5_field, corpus.variable_item


def settings(order):
    def field(flags, kind, name, data, count=None):
        return corpus.r5_field(flags, kind, name, data, count, order)
    return corpus.r5([
        field(0x0F, 'LONG', b'status', struct.pack(order + 'i', 0)),
        field(0x0F, 'RECT', b'paper_rect', struct.pack(order + 'ffff', 0, 0, 637.5, 825)),
        field(0x0F, 'LONG', b'xres', struct.pack(order + 'i', 300)),
        field(0x0F, 'SHRT', b'copies', struct.pack(order + 'h', 2)),
        field(0x0F, 'SHRT', b'BWMode', struct.pack(order + 'h', 0)),
        field(0x0F, 'BYTE', b'prevous_settings', struct.pack(order + 'b', 6)),
    ], order=order)


SEEDS = {
    'settings-little.bin': settings('<'),
    'settings-big.bin': settings('>'),
    'strings.bin': r5([r5_field(0x01, 'CSTR', b'names',
                                variable_item(b'one\0') + variable_item(b'two\0'), count=2)]),
    'list-of-int16.bin': r5([r5_field(0x05, 'SHRT', b'pages', struct.pack('<hhh', 1, 2, 3),
                                      count=3)]),
    'nested.bin': corpus.nested(3),
    'native.bin': corpus.NATIVE,
}


def main():
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, name), 'wb') as out:
            out.write(data)


if __name__ == '__main__':
    main()
