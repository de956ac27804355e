#!/usr/bin/env python3
"""A disk with a volatile write cache for the emulated panel: an NBD server over a raw image.

    volatile_disk.py IMAGE SOCKET [--lose drop|subset] [--seed S] [--summary FILE]

The emulator reaches the disk through its NBD client (-blockdev driver=nbd on the unix socket
SOCKET). Every write the guest sends stays in this process's memory, and reads see it, until the
guest flushes (NBD_CMD_FLUSH, which the guest kernel sends for fsync, journal commits and the
cache flush of a device with its write cache on): only then does it go into IMAGE. When the power
goes, the writes not flushed yet are lost:

    drop     all of them;
    subset   each 4 KiB piece of them independently with probability 1/2 (a drive cache writes
             back on its own, in any order; the pieces kept are applied in the order written).

The power goes when the emulator ends without closing the disk (a cut: the connection ends
without NBD_CMD_DISC), or on SIGUSR1 (the device was pulled: the emulator closes the disk later,
and its own flush on closing must not count). A power loss is recorded in the summary (JSON:
writes, flushes, and per power loss the pieces pending, kept and lost), rewritten after each
power loss and at the end. The server serves one connection and ends with it.

Only the guest's flushes persist anything: the emulator's own cache mode plays no part, and the
image on the host holds exactly what a medium with a volatile cache would hold after the cut.
"""
import argparse
import json
import os
import random
import select
import signal
import socket
import struct
import sys

NBD_MAGIC = 0x4E42444D41474943
OPTION_MAGIC = 0x49484156454F5054
OPTION_REPLY_MAGIC = 0x3E889045565A9
REQUEST_MAGIC = 0x25609513
SIMPLE_REPLY_MAGIC = 0x67446698
FLAG_FIXED_NEWSTYLE, FLAG_NO_ZEROES = 1, 2
OPT_EXPORT_NAME, OPT_ABORT, OPT_GO = 1, 2, 7
REP_ACK, REP_INFO = 1, 3
REP_ERR_UNSUP = 0x80000001
INFO_EXPORT = 0
# Writes and flushes only: without trim and write-zeroes the guest's data always arrives as
# data, and without FUA every durable write is followed by a flush.
TRANSMISSION_FLAGS = 1 | 4  # has flags, send flush
CMD_READ, CMD_WRITE, CMD_DISC, CMD_FLUSH = 0, 1, 2, 3
EIO, EINVAL = 5, 22
PIECE = 4096


class VolatileCache:
    def __init__(self, image, lose, rnd):
        self.fd = os.open(image, os.O_RDWR)
        self.size = os.fstat(self.fd).st_size
        self.lose = lose
        self.rnd = rnd
        self.pending = []  # (offset, data) of every piece written since the last flush, in order
        self.view = {}  # piece number -> its newest content, for reads
        self.stats = dict(writes=0, written_bytes=0, flushes=0, reads=0, power_losses=[])

    def _piece(self, number):
        piece = self.view.get(number)
        if piece is None:
            piece = bytearray(os.pread(self.fd, PIECE, number * PIECE).ljust(PIECE, b'\0'))
            self.view[number] = piece
        return piece

    def read(self, offset, length):
        self.stats['reads'] += 1
        data = bytearray(os.pread(self.fd, length, offset).ljust(length, b'\0'))
        if self.view:
            for number in range(offset // PIECE, (offset + length - 1) // PIECE + 1):
                piece = self.view.get(number)
                if piece is not None:
                    start = number * PIECE
                    lo, hi = max(start, offset), min(start + PIECE, offset + length)
                    data[lo - offset:hi - offset] = piece[lo - start:hi - start]
        return bytes(data)

    def write(self, offset, data):
        self.stats['writes'] += 1
        self.stats['written_bytes'] += len(data)
        at, end = offset, offset + len(data)
        while at < end:
            number = at // PIECE
            start = number * PIECE
            hi = min(start + PIECE, end)
            chunk = data[at - offset:hi - offset]
            self._piece(number)[at - start:hi - start] = chunk
            self.pending.append((at, bytes(chunk)))
            at = hi

    def flush(self):
        self.stats['flushes'] += 1
        for offset, data in self.pending:
            os.pwrite(self.fd, data, offset)
        self.pending.clear()
        self.view.clear()

    def power_loss(self, why):
        kept = [w for w in self.pending if self.lose == 'subset' and self.rnd.random() < 0.5]
        for offset, data in kept:
            os.pwrite(self.fd, data, offset)
        self.stats['power_losses'].append(dict(
            why=why, model=self.lose, pending_pieces=len(self.pending), kept_pieces=len(kept),
            lost_bytes=sum(len(d) for _, d in self.pending) - sum(len(d) for _, d in kept)))
        self.pending.clear()
        self.view.clear()


def receive(conn, n):
    data = bytearray()
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return bytes(data)


def handshake(conn, size):
    """Fixed newstyle negotiation; the export's name is not looked at."""
    conn.sendall(struct.pack('>QQH', NBD_MAGIC, OPTION_MAGIC, FLAG_FIXED_NEWSTYLE | FLAG_NO_ZEROES))
    client_flags = struct.unpack('>I', receive(conn, 4))[0]
    while True:
        magic, option, length = struct.unpack('>QII', receive(conn, 16))
        if magic != OPTION_MAGIC:
            raise EOFError
        receive(conn, length)
        if option == OPT_EXPORT_NAME:
            conn.sendall(struct.pack('>QH', size, TRANSMISSION_FLAGS)
                         + (b'' if client_flags & FLAG_NO_ZEROES else bytes(124)))
            return
        if option == OPT_GO:
            info = struct.pack('>HQH', INFO_EXPORT, size, TRANSMISSION_FLAGS)
            conn.sendall(struct.pack('>QII', OPTION_REPLY_MAGIC, option, REP_INFO)
                         + struct.pack('>I', len(info)) + info)
            conn.sendall(struct.pack('>QIII', OPTION_REPLY_MAGIC, option, REP_ACK, 0))
            return
        if option == OPT_ABORT:
            conn.sendall(struct.pack('>QIII', OPTION_REPLY_MAGIC, option, REP_ACK, 0))
            raise EOFError
        conn.sendall(struct.pack('>QIII', OPTION_REPLY_MAGIC, option, REP_ERR_UNSUP, 0))


def serve(conn, cache, wakeup, write_summary):
    """Answers requests until the emulator says goodbye ('closed') or vanishes ('cut')."""
    unplugged = False
    while True:
        ready, _, _ = select.select([conn, wakeup], [], [])
        if wakeup in ready:
            os.read(wakeup, 64)
            if not unplugged:
                unplugged = True
                cache.power_loss('unplugged')
                write_summary()
            if conn not in ready:
                continue
        try:
            magic, _, kind, handle, offset, length = struct.unpack(
                '>IHHQQI', receive(conn, 28))
        except EOFError:
            return 'cut'
        if magic != REQUEST_MAGIC:
            return 'cut'
        error, payload = 0, b''
        if kind == CMD_WRITE:
            data = receive(conn, length)
            if offset + length > cache.size:
                error = EINVAL
            else:
                cache.write(offset, data)
        elif kind == CMD_READ:
            if offset + length > cache.size:
                error = EINVAL
            else:
                payload = cache.read(offset, length)
        elif kind == CMD_FLUSH:
            # After an unplug nothing reaches the medium any more: the emulator's own flush on
            # closing the disk is no flush of the guest.
            if not unplugged:
                cache.flush()
        elif kind == CMD_DISC:
            return 'closed'
        else:
            error = EINVAL
        conn.sendall(struct.pack('>IIQ', SIMPLE_REPLY_MAGIC, error, handle) + payload)


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('image')
    ap.add_argument('socket')
    ap.add_argument('--lose', choices=['drop', 'subset'], default='drop')
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--summary', default=None)
    args = ap.parse_args()

    cache = VolatileCache(args.image, args.lose, random.Random(args.seed))

    def write_summary():
        if args.summary:
            with open(args.summary + '.new', 'w') as f:
                json.dump(cache.stats, f)
            os.replace(args.summary + '.new', args.summary)

    wake_read, wake_write = os.pipe()
    os.set_blocking(wake_write, False)
    signal.set_wakeup_fd(wake_write)
    signal.signal(signal.SIGUSR1, lambda *_: None)

    if os.path.exists(args.socket):
        os.remove(args.socket)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(args.socket + '.new')
    listener.listen(1)
    # The socket appears under its name only once it accepts.
    os.rename(args.socket + '.new', args.socket)
    write_summary()
    conn, _ = listener.accept()
    listener.close()
    os.remove(args.socket)
    try:
        handshake(conn, cache.size)
        end = serve(conn, cache, wake_read, write_summary)
    except (EOFError, ConnectionError):
        end = 'cut'
    if cache.pending:
        cache.power_loss(end)
    cache.stats['end'] = end
    write_summary()
    os.close(cache.fd)
    return 0


if __name__ == '__main__':
    sys.exit(main())
