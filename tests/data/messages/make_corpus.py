#!/usr/bin/env python3
"""Writes the broken flattened messages of this folder. Run it from anywhere; it writes next
to itself. Every file must fail to unflatten; README lists what is wrong with each."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def code(text):
    return struct.unpack('>I', text.encode())[0]


def r5_header(size=0, what='okok', flags=0x01, order='<'):
    return struct.pack(order + 'IIIIB', code('FOB1'), 0, size, code(what), flags)


def r5_field(flags, type_text, name, data, count=None, order='<'):
    out = struct.pack(order + 'BI', flags, code(type_text))
    mini = flags & 0x02
    if not flags & 0x08:
        out += struct.pack(order + ('B' if mini else 'I'), count)
    out += struct.pack(order + ('B' if mini else 'I'), len(data) if isinstance(data, bytes) else data[0])
    out += bytes([len(name)]) + name
    out += data if isinstance(data, bytes) else data[1]
    return out


def r5(fields, order='<', what='okok'):
    body = b''.join(fields) + b'\x00'
    return r5_header(17 + len(body), what, order=order) + body


def variable_item(payload):
    padded = (4 + len(payload) + 7) & ~7
    return struct.pack('<I', len(payload)) + payload + b'\x00' * (padded - 4 - len(payload))


STATUS = r5([r5_field(0x0F, 'LONG', b'status', struct.pack('<i', 0))])

NATIVE = bytes.fromhex(
    '484d4631 6b6f6b6f 01000000 ffffffff'   # format, what, flags, target
    'ffffffff ffffffff ffffffff ffffffff'   # specifier, area, reply port, reply target
    'ffffffff 0b000000 01000000 05000000'   # reply team, data size, field count, hash size
    'ffffffff 00000000 ffffffff ffffffff ffffffff'  # hash table
    '0300 0700 474e4f4c 01000000 04000000 00000000 ffffffff'  # field header
    '73746174757300 00000000')              # "status", value


def native_with(**changes):
    data = bytearray(NATIVE)
    for offset, value in changes.values():
        data[offset:offset + 4] = struct.pack('<I', value)
    return bytes(data)


def nested(levels):
    message = r5([r5_field(0x0F, 'LONG', b'level', struct.pack('<i', levels))])
    for _ in range(levels):
        item = variable_item(message)
        message = r5([r5_field(0x0B if len(item) <= 255 else 0x09, 'MSGG', b'child', item)])
    return message


CORPUS = {
    'empty.bin': b'',
    'magic-only.bin': STATUS[:4],
    'bad-magic.bin': b'NOPE' + STATUS[4:],
    'section-format.bin': struct.pack('<I', code('FOB2')) + STATUS[4:],
    'truncated-header.bin': STATUS[:12],
    'truncated-reply-section.bin': r5_header(flags=0x07) + b'\x01\x02\x03',
    'truncated-value.bin': STATUS[:-3],
    'no-terminator.bin': STATUS[:-1],
    'huge-data-length.bin':
        r5_header(100) + r5_field(0x0D, 'RAWT', b'blob', (0x7FFFFFF0, b'x' * 60)),
    'huge-count-variable.bin':
        r5([r5_field(0x03, 'CSTR', b'list', variable_item(b'a\x00'), count=255)]),
    'huge-count-fixed.bin':
        r5([r5_field(0x05, 'LONG', b'ints', b'\x00' * 8, count=0x7FFFFFFF)]),
    'negative-count.bin':
        r5([r5_field(0x05, 'LONG', b'ints', b'\x00' * 8, count=0x80000000)]),
    'count-zero.bin': r5([r5_field(0x07, 'LONG', b'ints', b'\x00' * 8, count=0)]),
    'fixed-not-multiple.bin': r5([r5_field(0x07, 'LONG', b'ints', b'\x00' * 10, count=3)]),
    'fixed-zero-length.bin': r5([r5_field(0x0F, 'LONG', b'nothing', b'')]),
    'variable-item-overrun.bin':
        r5([r5_field(0x0B, 'CSTR', b's', struct.pack('<I', 200) + b'abc\x00' + b'\x00' * 8)]),
    'variable-negative-size.bin':
        r5([r5_field(0x0B, 'CSTR', b's', struct.pack('<i', -4) + b'abc\x00')]),
    'variable-trailing-bytes.bin':
        r5([r5_field(0x0B, 'CSTR', b's', variable_item(b'abc\x00') + b'\x00' * 8)]),
    'variable-short-prefix.bin': r5([r5_field(0x0B, 'CSTR', b's', b'\x01\x00')]),
    'name-with-nul.bin': r5([r5_field(0x0F, 'LONG', b'sta\x00us', b'\x00' * 4)]),
    'type-clash.bin': r5([r5_field(0x0F, 'LONG', b'copies', b'\x01\x00\x00\x00'),
                          r5_field(0x0F, 'SHRT', b'copies', b'\x01\x00')]),
    'fixed-size-clash.bin': r5([r5_field(0x0F, 'RAWT', b'raw', b'\x01\x02'),
                                r5_field(0x0F, 'RAWT', b'raw', b'\x01\x02\x03')]),
    'nested-garbage.bin': r5([r5_field(0x0B, 'MSGG', b'child', variable_item(b'garbage!'))]),
    'nested-truncated.bin':
        r5([r5_field(0x0B, 'MSGG', b'child', variable_item(STATUS[:-2]))]),
    'deep-nesting.bin': nested(65),
    'swapped-truncated.bin':
        r5([r5_field(0x0F, 'LONG', b'status', struct.pack('>i', 0), order='>')],
           order='>')[:-5],
    'swapped-huge-length.bin':
        r5_header(100, order='>') + r5_field(0x0D, 'RAWT', b'blob', (0x7FFFFFF0, b'x' * 60),
                                             order='>'),
    'native-truncated.bin': NATIVE[:90],
    'native-header-only.bin': NATIVE[:40],
    'native-other-byte-order.bin': b'1FMH' + NATIVE[4:],
    'native-shared-area.bin': native_with(flags=(8, 0x81)),
    'native-not-valid.bin': native_with(flags=(8, 0)),
    'native-huge-field-count.bin': native_with(count=(40, 0x10000000)),
    'native-huge-data-size.bin': native_with(size=(36, 0xFFFFFFF0)),
    'native-missing-field-header.bin': native_with(count=(40, 2)),
    'native-offset-out-of-range.bin': native_with(offset=(84, 0xFFFFFFFE)),
    'native-field-data-too-big.bin': native_with(size=(80, 0xFFFFFFFC)),
    'native-name-unterminated.bin': NATIVE[:-5] + b'\x01' + NATIVE[-4:],
    'native-fixed-not-multiple.bin': native_with(count=(76, 3)),
    'native-count-zero.bin': native_with(count=(76, 0)),
}


def main():
    for name, data in CORPUS.items():
        with open(os.path.join(HERE, name), 'wb') as out:
            out.write(data)


if __name__ == '__main__':
    main()
