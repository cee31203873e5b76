# SPDX-License-Identifier: MIT
"""Non-blocking TCP server of the Live link: framing, handshake, unframed input."""
from __future__ import absolute_import

import errno
import json
import os
import socket
import struct
import sys
import time

SERVER_ID = b"MARQUELL_SERVER"
CLIENT_ID = b"MARQUELL_CLIENT"
DEFAULT_PORT = 6000
MAX_FRAME = 4096
HANDSHAKE_SECONDS = 5.0
# A client that stops reading must not make Live hold an ever-growing buffer.
MAX_PENDING_OUTPUT = 1 << 20
MAX_PENDING_INPUT = 1 << 20
READ_CHUNK = 65536

# Client messages of a fixed size, by type byte.
FIXED_SIZES = {0: 6, 1: 2, 2: 2, 3: 2, 5: 9, 6: 9, 7: 2, 9: 1, 10: 2, 11: 10, 12: 10}
SETLIST_TYPE = 4
# Setlist records start with a song id whose first byte is at least this.
RECORD_MARK = 0x80

_WOULD_BLOCK = set([errno.EAGAIN, errno.EWOULDBLOCK, errno.EINTR, 10035])
_CLOSED = set([errno.ECONNRESET, errno.EPIPE, errno.ECONNABORTED, errno.ENOTCONN, 10054])


def support_dir():
    """The per-user folder shared with both programs."""
    if sys.platform.startswith("win") and os.environ.get("APPDATA"):
        return os.path.join(os.environ["APPDATA"], "Marquell")
    return os.path.join(os.path.expanduser("~"), "Library", "Application Support", "Marquell")


def atomic_write(path, data):
    """Write bytes so that readers see the old file or the new one, never a part."""
    folder = os.path.dirname(path)
    if not os.path.isdir(folder):
        os.makedirs(folder)
    tmp = "%s.%d.tmp" % (path, os.getpid())
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def port_file_path():
    return os.path.join(support_dir(), "server.json")


def write_port_file(port):
    atomic_write(port_file_path(), json.dumps({"port": port}).encode("utf-8"))


def remove_port_file(port):
    """Remove server.json only while it still names our port: another server may own it now."""
    path = port_file_path()
    try:
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (IOError, OSError, ValueError):
        return False
    if not isinstance(content, dict) or content.get("port") != port:
        return False
    try:
        os.remove(path)
    except OSError:
        return False
    return True


def _in_use(port):
    """Whether something accepts connections on 127.0.0.1:port (binding could shadow it)."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        probe.settimeout(0.2)
        return probe.connect_ex(("127.0.0.1", port)) == 0
    except (OSError, socket.error):
        return False
    finally:
        probe.close()


def frame(payload):
    """One server-to-client frame; refuses what clients would not read."""
    payload = bytes(payload)
    if not 1 <= len(payload) <= MAX_FRAME:
        raise ValueError("frame payload of %d bytes" % len(payload))
    return struct.pack(">I", len(payload)) + payload


class MessageReader(object):
    """Splits the unframed client stream into (type, body) messages.

    Bytes may arrive in any chunking. A setlist has no length: its records are
    recognised by their first byte, so a setlist ending exactly at the end of
    the buffer stays pending until a poll brings nothing more (idle()).
    """

    def __init__(self, log):
        self._buf = bytearray()
        self._log = log

    def pending(self):
        return len(self._buf)

    def feed(self, data):
        self._buf.extend(data)
        if len(self._buf) > MAX_PENDING_INPUT:
            self._log("client input over %d bytes without a whole message; dropped" % MAX_PENDING_INPUT)
            del self._buf[:]
            return []
        return self._parse(False)

    def idle(self):
        """A poll brought no bytes: a setlist that ends the buffer is complete."""
        if not self._buf:
            return []
        return self._parse(True)

    def _parse(self, idle):
        out = []
        buf = self._buf
        pos = 0
        while pos < len(buf):
            kind = buf[pos]
            if kind in FIXED_SIZES:
                size = FIXED_SIZES[kind]
                if pos + size > len(buf):
                    break
                out.append((kind, bytes(buf[pos + 1:pos + size])))
                pos += size
            elif kind == SETLIST_TYPE:
                end, records = self._setlist(pos + 1, idle)
                if end is None:
                    break
                out.append((kind, records))
                pos = end
            else:
                self._log("unknown message type %d from client; dropped %d pending bytes" % (kind, len(buf) - pos))
                pos = len(buf)
        del buf[:pos]
        return out

    def _setlist(self, pos, idle):
        """Returns (end, records), or (None, None) while the setlist may go on."""
        buf = self._buf
        records = []
        while pos < len(buf):
            if buf[pos] < RECORD_MARK:
                return pos, records
            if pos + 9 > len(buf):
                return None, None
            size = buf[pos + 8]
            if pos + 9 + size > len(buf):
                return None, None
            song_id = struct.unpack(">Q", bytes(buf[pos:pos + 8]))[0]
            name = bytes(buf[pos + 9:pos + 9 + size]).decode("utf-8", "replace")
            records.append((song_id, name))
            pos += 9 + size
        if idle:
            return pos, records
        return None, None


class Client(object):
    def __init__(self, sock, address, now, log):
        self.sock = sock
        self.address = address
        self.accepted_at = now
        self.validated = False
        self.hello = bytearray()
        self.out = bytearray()
        self.reader = MessageReader(lambda text: log("client %s: %s" % (address, text)))
        self.closed = False
        self.features = 0  # what the client subscribed to beyond the messages every client gets

    def name(self):
        return "%s:%s" % self.address[:2] if isinstance(self.address, tuple) else str(self.address)


class SocketServer(object):
    """Serves any number of clients from one thread, driven by poll()."""

    def __init__(self, log, on_validated, on_message, clock=time.monotonic, preferred_port=DEFAULT_PORT):
        self._log = log
        self._on_validated = on_validated
        self._on_message = on_message
        self._clock = clock
        self._preferred_port = preferred_port
        self._listener = None
        self.clients = []
        self.port = None

    def start(self):
        """Binds the preferred port, or a free one when it is taken. Returns True on fallback."""
        port = self._preferred_port
        try:
            if port and _in_use(port):
                raise OSError(errno.EADDRINUSE, "another program listens there")
            sock = self._bind(port)
            fallback = False
        except (OSError, socket.error) as e:
            self._log("port %d unavailable (%s); asking the system for a free port" % (port, e))
            sock = self._bind(0)
            fallback = True
        self._listener = sock
        self.port = sock.getsockname()[1]
        return fallback

    @staticmethod
    def _bind(port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            # Lets a reload rebind while old connections sit in TIME_WAIT. A live listener was
            # ruled out above, so this cannot steal another program's port; Windows would let
            # two servers share it, so it stays off there.
            if not sys.platform.startswith("win"):
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(("127.0.0.1", port))
            sock.listen(8)
            sock.setblocking(False)
        except Exception:
            sock.close()
            raise
        return sock

    def close(self):
        for client in list(self.clients):
            self._drop(client, None)
        if self._listener is not None:
            try:
                self._listener.close()
            except (OSError, socket.error):
                pass
            self._listener = None

    # --- sending -------------------------------------------------------------

    def send(self, client, payload):
        if client.closed:
            return
        try:
            data = frame(payload)
        except ValueError as e:
            self._log("not sent: %s" % e)
            return
        client.out.extend(data)
        if len(client.out) > MAX_PENDING_OUTPUT:
            self._drop(client, "does not read; over %d bytes waiting" % MAX_PENDING_OUTPUT)

    def broadcast(self, payload, feature=0):
        """To every client, or with feature only to the clients that subscribed to it."""
        for client in list(self.clients):
            if client.validated and (not feature or client.features & feature):
                self.send(client, payload)

    def flush(self):
        for client in list(self.clients):
            if client.out and not client.closed:
                self._write(client)

    def _write(self, client):
        try:
            sent = client.sock.send(client.out)
        except (OSError, socket.error) as e:
            if e.errno in _WOULD_BLOCK:
                return
            self._drop(client, "send failed: %s" % e)
            return
        del client.out[:sent]

    # --- receiving -----------------------------------------------------------

    def poll(self):
        """Accepts, reads, and dispatches every whole message. Never raises for one client."""
        if self._listener is None:
            return
        self._accept()
        now = self._clock()
        for client in list(self.clients):
            try:
                self._read(client, now)
            except Exception as e:  # one client's fault must not stop the others
                self._drop(client, "error: %r" % (e,))

    def _accept(self):
        for _ in range(16):
            try:
                sock, address = self._listener.accept()
            except (OSError, socket.error) as e:
                if e.errno not in _WOULD_BLOCK:
                    self._log("accept failed: %s" % e)
                return
            try:
                sock.setblocking(False)
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            except (OSError, socket.error) as e:
                self._log("could not set up client %s: %s" % (address, e))
                sock.close()
                continue
            client = Client(sock, address, self._clock(), self._log)
            self.clients.append(client)
            self._log("client %s connected" % client.name())
            self.send(client, SERVER_ID)
            self._write(client)

    def _read(self, client, now):
        got = False
        total = 0
        while total < 4 * READ_CHUNK:
            try:
                data = client.sock.recv(READ_CHUNK)
            except (OSError, socket.error) as e:
                if e.errno in _WOULD_BLOCK:
                    break
                self._drop(client, "receive failed: %s" % e)
                return
            if not data:
                self._drop(client, "closed the connection")
                return
            got = True
            total += len(data)
            if not client.validated:
                data = self._handshake(client, data)
                if client.closed or not client.validated:
                    continue
                self._on_validated(client)
            for kind, body in client.reader.feed(data):
                self._dispatch(client, kind, body)
        if not client.validated:
            if now - client.accepted_at > HANDSHAKE_SECONDS:
                self._drop(client, "no handshake within %.0f s" % HANDSHAKE_SECONDS)
            return
        if not got:
            for kind, body in client.reader.idle():
                self._dispatch(client, kind, body)

    def _handshake(self, client, data):
        need = len(CLIENT_ID) - len(client.hello)
        client.hello.extend(data[:need])
        if bytes(client.hello) != CLIENT_ID[:len(client.hello)]:
            self._drop(client, "wrong handshake %r" % bytes(client.hello))
            return b""
        if len(client.hello) == len(CLIENT_ID):
            client.validated = True
            self._log("client %s validated" % client.name())
        return data[need:]

    def _dispatch(self, client, kind, body):
        if client.closed:
            return
        try:
            self._on_message(client, kind, body)
        except Exception as e:
            self._log("message type %d from %s failed: %r" % (kind, client.name(), e))

    def _drop(self, client, reason):
        if client.closed:
            return
        client.closed = True
        if reason:
            self._log("client %s dropped: %s" % (client.name(), reason))
        try:
            client.sock.close()
        except (OSError, socket.error):
            pass
        if client in self.clients:
            self.clients.remove(client)
