#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_channel_events (corpus/fuzz_channel_events/).

The encoding is the one ChannelHarness.cpp decodes; rerun after changing either.
Usage: make_channel_seeds.py [OUTPUT_DIR]
"""
import os
import struct
import sys

COMMAND, DATA, STRAY = 0, 1, 2
FIRST, LAST = 0x01, 0x02


def message(text, handle=COMMAND, chunk=0):
    data = text.encode('latin-1')
    return bytes([0, handle, chunk]) + struct.pack('<H', len(data)) + data


def raw(data, total, flags, handle=COMMAND):
    return bytes([1, handle]) + struct.pack('<IIH', flags, total, len(data)) + data


def null_chunk(length, total, flags, handle=COMMAND):
    return bytes([2, handle]) + struct.pack('<III', length, total, flags)


def big(delta, split, handle=COMMAND):
    return bytes([3, 0xB1, handle, delta & 0xff, split])


def complete(index=0):
    return bytes([4, index])


def cancel(index=0):
    return bytes([5, index])


def again(index=0, cancelled=False):
    return bytes([6, 2 if cancelled else 0, index])


def stray(value, cancelled=False):
    return bytes([6, 3 if cancelled else 1]) + struct.pack('<Q', value)


def refuse(code):
    """Later writes refused with CHANNEL_RC code (>= 1); 0 accepts them again."""
    return bytes([7, 1 if code == 0 else (code - 1) * 4])


def connect(server='server.example'):
    name = server.encode()
    return bytes([8, 0, len(name)]) + name


def init_event(kind):
    """1 disconnected, 2 V1 connected, 3 initialized, 4 terminated, 5 unknown."""
    return bytes([8, kind])


def entry(refused=False):
    return bytes([9, 0x1f if refused else 0])


def open_event(kind, handle=COMMAND):
    return bytes([10, kind, handle])


SESSION = [
    'Hello', 'Init|NelkoSimulator|', 'GetSerialNumber|', 'GetLastErrorCode|', 'Connect|',
    'IsConnected|', 'GetSerialNumber|', 'Execute|Version|', 'GetAvailableSettings|',
    'GetSettingOptions|SpecularMode|', 'SetOption|SpecularMode|SCI|', 'Configure|',
    'GetCalMode|current|', 'SetLanguage|1033|', 'GetCalSteps|', 'Calibrate|',
    'CalibrateStep|White|', 'GetLastErrorString|', 'CalibrateStep|Black|', 'CalibrateStep|White|',
    'CalibrateStep|Green|', 'GetCalStatus|', 'Measure|', 'GetAngles|', 'GetAngleValue|1|',
    'GetWavelengthValue|8|', 'GetSpectralData|1|8|', 'GetSpectralDataAll|1|', 'Measure|',
    'GetSampleCount|', 'SetCurrentSample|0|', 'GetSampleData|1|8|', 'GetSpectralData|9|8|',
    'Disconnect|', 'IsConnected|',
]


def seeds():
    yield 'session-whole', b''.join(message(r) + complete() for r in SESSION)

    chunked = b''
    for i, request in enumerate(SESSION):
        chunked += message(request, handle=i % 2, chunk=[1, 3, 7, 16][i % 4])
        if i % 3 == 2:
            chunked += cancel(1) + complete(0) + complete(0)
    yield 'session-chunked-held', chunked

    yield 'refused-writes', (
        message('Init|NelkoSimulator|') + complete() + refuse(4) + message('Connect|') + refuse(12) +
        message('Measure|', chunk=2) + refuse(0) + message('IsConnected|') + again(0) + again(1, True) +
        complete() + again(2) + stray(0) + stray(0xdeadbeef, True))

    yield 'reconnect', (
        message('Hello|') + init_event(1) + cancel() + connect('host') + message('Hello|', DATA) +
        entry() + connect() + message('Init|TestDriver|') + entry(refused=True) + entry() + connect('') +
        message('Measure|') + init_event(2) + init_event(3) + init_event(4) + init_event(5) + complete() +
        complete())

    first = b'Execute|' + b'p' * 40
    rest = b'x' * 20 + b'|'
    total = len(first) + len(rest)
    yield 'interleaved', (
        message('Init|TestDriver|') + complete() + raw(first, total, FIRST) + message('Hello|', DATA) +
        raw(rest, total, LAST) + complete() + complete())

    abandoned = b'Execute|' + b'q' * 30
    yield 'abandoned', (
        message('Init|TestDriver|') + complete() + raw(abandoned, 5000, FIRST) +
        message('IsConnected|', chunk=4) + raw(abandoned, 5000, FIRST, DATA) + raw(b'Hello|', 6, FIRST | LAST, DATA) +
        complete() + complete())

    yield 'odd-chunks', (
        raw(b'', 0, 0) + raw(b'Hello|', 3, 0) + raw(b'Hel', 6, 0) + raw(b'lo|', 6, 0xffffffff) +
        null_chunk(10, 10, 3) + null_chunk(0, 0, 0) + null_chunk(5, 100, FIRST) + raw(b'Hello|', 6, LAST, STRAY) +
        raw(b'Hel', 0xffffffff, FIRST, STRAY) + open_event(0) + open_event(200, DATA) + complete() + complete() +
        complete() + complete())

    yield 'at-cap', big(0, 2) + complete()
    yield 'under-cap', big(-1, 0, DATA) + cancel()
    yield 'over-cap', big(1, 1) + complete()
    yield 'over-cap-whole', big(127, 0, DATA) + complete()

    long_request = 'Execute|' + 'a' * 3000 + '|'
    yield 'long-chunked', (
        message('Init|TestDriver|') + complete() + message(long_request, chunk=200) + complete() +
        message('GetSpectralDataAll|2147483647|', DATA, 5) + complete())


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'corpus',
                                                               'fuzz_channel_events')
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
