"""A QEMU machine of a board, made from its platform's description and the
board file alone, for a scenario that writes no `qemu.devices`.

The rules (tests/e2e/README.md, "Derived machines"):
- a pxb-pcie expander per bus that holds a root port the description names
  (a socket group's bus from the socket's bus-number word, a fixed bridge's
  bus), the root bus (0) needing none;
- a root port at every root-port location the description names, for every
  card whatever the straps fit, for the mezzanine slots and for the onboard
  devices behind a root port or a fixed bridge;
- an endpoint behind the root port of each slot `qemu.fitted.slots` names
  (by Slot ID, among the slots of the cards the straps fit), and behind each
  peer root port `qemu.fitted.peers` names (a slot's Slot ID and the peer's
  index among its peers);
- each onboard device `qemu.fitted.devices` names (by index in the
  description; all when left out) where it answers: on the root bus, or
  behind its bridge or root port;
- the socket words of the board file, or, when it gives none, group buses
  chosen from 0x10 up with room for each group's root ports.

OVMF numbers the buses behind root ports in order: root ports on the root
bus take buses from 1 up, each expander's from its own bus + 1 up, in device
order. The machine predicts those numbers; the runner checks them against
what the harness saw. What QEMU cannot model is refused before boot, naming
the field and why."""
from collections import namedtuple

import board as boards

# Where q35 has functions of its own: the host bridge, and the ICH9's LPC
# bridge, AHCI controller and SMBus controller, always there.
Q35_OWN_FUNCTIONS = {(0, 0): {0}, (0, 0x1F): {0, 2, 3}}
# Bus-0 slots the runner may give expanders and the window's shared memory.
FREE_SLOTS = list(range(0x10, 0x1F)) + list(range(0x02, 0x10))
FIRST_CHOSEN_BUS = 0x10
# An endpoint of each kind of onboard device; anything else a plain test device.
DEVICE_MODELS = {"video": "bochs-display", "ethernet": "{nic}", "sata": "ich9-ahci"}
ENDPOINT = "pci-testdev"
# The bus-0 slot of the window's shared memory, unless a derived machine has
# something else there.
WINDOW_DEVICE = 0x10

# A scenario's machine: the board as the simulator must see it, QEMU's
# -device values ({nic} standing for the network model) and the bus-0 slot of
# the shared memory backing the sideband window.
Machine = namedtuple("Machine", "board devices window_device")


class _Derivation:
    def __init__(self, board, platform):
        self.board = board
        self.platform = platform
        self.described = platform.described
        self.fitted = board.get("qemu", {}).get("fitted", {})
        if not isinstance(self.fitted, dict) or set(self.fitted) - {"slots", "peers", "devices"}:
            raise boards.BoardError("qemu.fitted: an object of \"slots\" (Slot IDs with a card), \"peers\" "
                                    "(slots' peer root ports with a card) and \"devices\" (indices of "
                                    "onboard devices that answer)")
        for key in ("bridges", "devices"):
            if key in board:
                raise boards.BoardError(f"{key}: a board whose machine is derived (no qemu.devices) "
                                        "gives no bridges or devices: the runner works them out")

    # --- Buses ---

    def socket_words(self):
        """Each socket's bus-number word: the board file's, or chosen."""
        if "sockets" in self.board:
            return boards.board_sockets(self.board, self.platform)
        words = [0] * len(self.described.sockets)
        bus = FIRST_CHOSEN_BUS
        for s, socket in enumerate(self.described.sockets):
            for group in socket.groups:
                ports = {d for (ps, pg, d) in self.wired_root_ports() if (ps, pg) == (s, group)}
                words[s] |= bus << (8 * group)
                bus += max(8, -(-(len(ports) + 1) // 8) * 8)
                if bus > 0x100:
                    raise boards.BoardError("sockets: the platform's groups need more buses than there are; "
                                            "give the socket words in the board file")
        return words

    def group_bus(self, socket, group):
        return (self.words[socket] >> (8 * group)) & 0xFF

    def wired_root_ports(self):
        """(socket, group, device) of every root port the description wires a slot or device to."""
        slots = self.described.mezzanine + [slot for position in self.described.positions
                                             for card in position.cards.values() for slot in card]
        wirings = [w for slot in slots for w in [slot.wiring] + list(slot.by_identifier.values()) if w]
        ports = {(w.socket, w.group, w.device) for w in wirings}
        ports |= {(peer.socket, peer.group, peer.device) for w in wirings for peer in w.peers}
        return ports | {(d.bus_or_socket, d.group, d.bridge) for d in self.described.devices
                        if d.location == "rootPort"}

    def root_ports(self):
        """{(bus, device): why} of every root port the machine has."""
        ports = {}
        for socket, group, device in sorted(self.wired_root_ports()):
            ports.setdefault((self.group_bus(socket, group), device),
                             f"socket {socket} group {group} device {device}")
        for i, d in enumerate(self.described.devices):
            if d.location == "bridge":
                ports.setdefault((d.bus_or_socket, d.bridge), f"onboardDevices[{i}].behindBridge")
        return ports

    def secondary_buses(self, ports):
        """{(bus, device): secondary} as OVMF numbers them; refuses numbering that collides."""
        expanders = sorted({bus for bus, _ in ports if bus != 0})
        secondaries = {}
        for bus in [0] + expanders:
            ceiling = next((other for other in expanders if other > bus), 0x100)
            next_bus = bus + 1
            for device in sorted(d for b, d in ports if b == bus):
                if next_bus >= ceiling:
                    raise boards.BoardError(
                        f"sockets: the root ports on bus 0x{bus:02X} need buses up to 0x{next_bus:02X}, "
                        f"but an expander takes bus 0x{ceiling:02X} ({ports[(bus, device)]}): "
                        "choose group buses further apart")
                secondaries[(bus, device)] = next_bus
                next_bus += 1
        return secondaries

    # --- What is fitted ---

    def identifiers(self):
        """{position: identifier} as the driver reads the pads: a pad owned elsewhere reads 0."""
        levels = boards.pad_settings(self.board, self.platform)
        read = {}
        for position in self.described.positions:
            value = 0
            for pad in position.pads:
                level, owner = levels.get(pad, (0, 0))
                value = value << 1 | (level if owner == 0 else 0)
            read[position.name] = value
        return read

    def slots_of_the_board(self):
        """{Slot ID: (socket, group, device)} of the slots the straps fit."""
        slots = {slot.slot_id: slot.wiring for slot in self.described.mezzanine}
        identifiers = self.identifiers()
        for position in self.described.positions:
            identifier = identifiers[position.name]
            if identifier == position.no_card:
                continue
            card = self.described.card_maps[position.card_map].get(identifier)
            for slot in position.cards.get(card, []):
                slots[slot.slot_id] = slot.wiring or slot.by_identifier.get(identifier)
        return slots

    def filled_root_ports(self):
        slots = self.slots_of_the_board()
        filled = []
        listed = self.fitted.get("slots", [])
        if not isinstance(listed, list):
            raise boards.BoardError("qemu.fitted.slots: a list of Slot IDs")
        for i, slot_id in enumerate(listed):
            where = f"qemu.fitted.slots[{i}]"
            slot_id = boards.number(slot_id, where)
            if slot_id not in slots:
                raise boards.BoardError(f"{where}: Slot ID {slot_id} is no slot of the cards these straps fit "
                                        f"(slots: {', '.join(map(str, sorted(slots)))})")
            wiring = slots[slot_id]
            if wiring is None:
                raise boards.BoardError(f"{where}: slot {slot_id} is wired to no root port for this identifier")
            filled.append((self.group_bus(wiring.socket, wiring.group), wiring.device))
        peers = self.fitted.get("peers", [])
        if not isinstance(peers, list):
            raise boards.BoardError("qemu.fitted.peers: a list of {\"slot\": Slot ID, \"peer\": index}")
        for i, entry in enumerate(peers):
            where = f"qemu.fitted.peers[{i}]"
            if not isinstance(entry, dict) or set(entry) != {"slot", "peer"}:
                raise boards.BoardError(f"{where}: {{\"slot\": Slot ID, \"peer\": index among its peers}}")
            slot_id = boards.number(entry["slot"], f"{where}.slot")
            wiring = slots.get(slot_id)
            if wiring is None:
                raise boards.BoardError(f"{where}.slot: Slot ID {slot_id} is no wired slot of the cards these "
                                        f"straps fit (slots: {', '.join(map(str, sorted(slots)))})")
            index = boards.number(entry["peer"], f"{where}.peer")
            if index >= len(wiring.peers):
                raise boards.BoardError(f"{where}.peer: slot {slot_id} has {len(wiring.peers)} peers")
            peer = wiring.peers[index]
            filled.append((self.group_bus(peer.socket, peer.group), peer.device))
        return filled

    def answering_devices(self):
        devices = self.described.devices
        listed = self.fitted.get("devices", list(range(len(devices))))
        if not isinstance(listed, list):
            raise boards.BoardError("qemu.fitted.devices: a list of indices of onboardDevices")
        present = set()
        for i, index in enumerate(listed):
            index = boards.number(index, f"qemu.fitted.devices[{i}]")
            if not 0 <= index < len(devices):
                raise boards.BoardError(f"qemu.fitted.devices[{i}]: the platform has onboard devices "
                                        f"0 to {len(devices) - 1}")
            present.add(index)
        return present

    def device_place(self, index, secondaries):
        """(bus, device, function answering, where QEMU puts it: (bus id or None, slot)) of an onboard device."""
        d = self.described.devices[index]
        if d.location == "bus":
            return d.bus_or_socket, d.device, d.probe_function, None
        if d.location == "bridge":
            port = (d.bus_or_socket, d.bridge)
        else:
            port = (self.group_bus(d.bus_or_socket, d.group), d.bridge)
        return secondaries[port], d.device, d.probe_function, port


def _port_id(bus, device):
    return f"rp{bus:02x}_{device:02x}"


def derive(board, platform):
    """The Machine of a board whose scenario writes no qemu.devices: the board
    as the simulator must see it (sockets, every root port with its
    secondary bus, every function that answers), QEMU's -device values and
    the bus-0 slot of the window's shared memory. Raises BoardError naming
    the field when QEMU cannot model the board."""
    work = _Derivation(board, platform)
    work.words = work.socket_words()
    ports = work.root_ports()
    taken = {}  # bus-0 slot -> what holds it
    for (bus, device), why in ports.items():
        if bus == 0:
            taken[device] = why
    for i, socket in enumerate(work.described.sockets):
        where = (socket.bus, socket.device)
        if where in ports:
            raise boards.BoardError(f"sockets[{i}]: its bus-number word's function {socket.bus:02x}:{socket.device:02x}."
                                    f"{socket.function} would sit on the root port {ports[where]}")
        if socket.bus == 0:
            taken.setdefault(socket.device, f"socket {i}'s bus-number word")
    for i, d in enumerate(work.described.devices):
        if d.location == "bus" and d.bus_or_socket == 0:
            if d.device in taken and not taken[d.device].startswith("onboardDevices"):
                raise boards.BoardError(f"onboardDevices[{i}]: 00:{d.device:02x} is also {taken[d.device]}")
            taken.setdefault(d.device, f"onboardDevices[{i}]")
    for (bus, device), why in ports.items():
        if (bus, device) in Q35_OWN_FUNCTIONS:
            raise boards.BoardError(f"{why}: a root port at {bus:02x}:{device:02x}.0, where q35 has a "
                                    "function of its own")
    secondaries = work.secondary_buses(ports)

    devices, answering = [], set()
    free = [slot for slot in FREE_SLOTS if slot not in taken]
    expanders = sorted({bus for bus, _ in ports if bus != 0})
    if len(free) < len(expanders) + 1:
        raise boards.BoardError(f"the platform needs {len(expanders)} expanders and the window's shared memory "
                                f"on the root bus, which has only {len(free)} free slots")
    window_device = WINDOW_DEVICE if WINDOW_DEVICE in free else free[0]
    free.remove(window_device)
    bus_ids = {0: "pcie.0"}
    for bus in expanders:
        bus_ids[bus] = f"pxb{bus:02x}"
        devices.append(f"pxb-pcie,id=pxb{bus:02x},bus_nr={bus},bus=pcie.0,addr=0x{free.pop(0):x}")
    for chassis, (bus, device) in enumerate(sorted(ports), 1):
        devices.append(f"pcie-root-port,id={_port_id(bus, device)},bus={bus_ids[bus]},addr=0x{device:x},"
                       f"chassis={chassis},slot={chassis},io-reserve=0")

    for bus, device in work.filled_root_ports():
        secondary = secondaries[(bus, device)]
        if (secondary, 0, 0) not in answering:
            devices.append(f"{ENDPOINT},bus={_port_id(bus, device)},addr=0x0")
            answering.add((secondary, 0, 0))

    present = work.answering_devices()
    for index, d in enumerate(work.described.devices):
        bus, device, function, port = work.device_place(index, secondaries)
        where = f"onboardDevices[{index}]"
        own = Q35_OWN_FUNCTIONS.get((bus, device))
        if own is not None:
            if function not in own:
                raise boards.BoardError(f"{where}: {bus:02x}:{device:02x}.{function} is a function of q35's own "
                                        "device, to which QEMU adds none")
            if index not in present:
                raise boards.BoardError(f"{where}: q35's own {bus:02x}:{device:02x}.{function} always answers; "
                                        "it cannot be absent (leave it in qemu.fitted.devices)")
            answering.add((bus, device, function))
            continue
        if index not in present:
            continue
        if port is None and bus != 0:
            raise boards.BoardError(f"{where}.onBus: QEMU puts no endpoint directly on bus 0x{bus:02X}: "
                                    "only the root bus takes endpoints, an expander's bus only root ports")
        if port is not None and device != 0:
            raise boards.BoardError(f"{where}.device: behind a root port QEMU has device 0 only, not {device}")
        parent = "pcie.0" if port is None else _port_id(*port)
        if (bus, device, function) in answering:
            continue  # another record probes the same function
        model = DEVICE_MODELS.get(d.type_name, ENDPOINT)
        if function != 0:
            devices.append(f"{ENDPOINT},bus={parent},addr=0x{device:x}.0,multifunction=on")
            answering.add((bus, device, 0))
        devices.append(f"{model},bus={parent},addr=0x{device:x}.{function}")
        answering.add((bus, device, function))

    # The derived board is a scenario like a hand-written one: its machine
    # written out, its buses and answering functions listed.
    derived = dict(board)
    derived["qemu"] = dict(board.get("qemu", {}), devices=devices, windowDevice=window_device)
    derived["sockets"] = [f"0x{word:08X}" for word in work.words]
    derived["bridges"] = [{"bus": f"0x{bus:02X}", "device": device, "secondary": f"0x{secondaries[(bus, device)]:02X}"}
                          for bus, device in sorted(ports)]
    derived["devices"] = [{"bus": f"0x{bus:02X}", "device": device, "function": function}
                          for bus, device, function in sorted(answering)]
    return Machine(derived, devices, window_device)


def machine_of(board, platform):
    """The Machine a scenario's board file makes: its own devices, or derived."""
    qemu = board.get("qemu", {})
    if "devices" not in qemu:
        return derive(board, platform)
    window = boards.number(qemu.get("windowDevice", WINDOW_DEVICE), "qemu.windowDevice")
    return Machine(board, list(qemu["devices"]), window)
