"""A Wayland compositor the tests serve themselves on a listening socket,
speaking just enough of the wire protocol: a registry of chosen globals,
wl_display.sync answered, and every request kept for the test to read."""
import struct
import threading


def wire_string(text):
    """A Wayland string argument: length with the nul, the bytes, padding to 4."""
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


class FakeCompositor(threading.Thread):
    """A compositor the test serves itself on a listening socket: it offers
    `globals_` [(interface, version)], answers each wl_display.sync, notes the
    ids of the objects bound ({interface: id}) and keeps every request it
    reads as (object id, opcode, argument bytes). `answer(fake, sender,
    opcode, arguments)` may answer a request."""

    def __init__(self, server, globals_=(), answer=None):
        super().__init__(daemon=True)
        self.server, self.globals, self.answer = server, globals_, answer
        self.requests, self.bound, self.connection = [], {}, None

    def send(self, sender, opcode, arguments=b""):
        self.connection.sendall(struct.pack("<2I", sender, (8 + len(arguments)) << 16 | opcode) + arguments)

    def read(self, sender, opcode, arguments):
        if sender == 1 and opcode == 0:   # wl_display.sync: the callback's done, the id's release
            callback = struct.unpack("<I", arguments[:4])[0]
            self.send(callback, 0, struct.pack("<I", 0))
            self.send(1, 1, struct.pack("<I", callback))
        elif sender == 1 and opcode == 1:   # wl_display.get_registry
            registry = struct.unpack("<I", arguments[:4])[0]
            for name, (interface, version) in enumerate(self.globals, 1):
                self.send(registry, 0, struct.pack("<I", name) + wire_string(interface) +
                          struct.pack("<I", version))
            self.registry = registry
        elif sender == getattr(self, "registry", None) and opcode == 0:   # bind(name, interface, version, id)
            length = struct.unpack("<I", arguments[4:8])[0]
            interface = arguments[8:8 + length - 1].decode()
            self.bound[interface] = struct.unpack("<I", arguments[-4:])[0]
        if self.answer:
            self.answer(self, sender, opcode, arguments)

    def run(self):
        self.connection = self.server.accept()[0]
        with self.connection:
            data = b""
            while True:
                chunk = self.connection.recv(4096)
                if not chunk:
                    return
                data += chunk
                while len(data) >= 8 and len(data) >= struct.unpack("<2I", data[:8])[1] >> 16:
                    sender, word = struct.unpack("<2I", data[:8])
                    size, opcode = word >> 16, word & 0xFFFF
                    self.requests.append((sender, opcode, data[8:size]))
                    self.read(sender, opcode, data[8:size])
                    data = data[size:]
