#!/usr/bin/env python3
"""Compiles a readable dependency expression to DXE depex opcodes.

    make_depex.py SOURCE.depex OUT.bin

The source: '#' starts a comment; 'NAME = GUID' lines name GUIDs; the rest is one
expression over GUID names or literal GUIDs, TRUE, FALSE, NOT, AND, OR and
parentheses (NOT binds tightest, then AND, then OR). It may start with SOR
(schedule on request), or be 'BEFORE NAME' / 'AFTER NAME' alone.
"""
import argparse
import re
import sys

import pi_firmware as pf

TOKEN = re.compile(r"\(|\)|[A-Za-z0-9_-]+")
GUID_FORM = re.compile(r"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$")
NAME_FORM = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
KEYWORDS = ("AND", "OR", "NOT", "TRUE", "FALSE", "SOR", "BEFORE", "AFTER")


def read_source(text, where):
    """(names, [(line number, token)]) of a depex source."""
    names = {}
    tokens = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        definition = re.fullmatch(r"([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(\S+)", line)
        if definition:
            name, guid = definition.groups()
            if name.upper() in KEYWORDS or not GUID_FORM.match(guid):
                raise pf.FirmwareError(f"{where}:{number}: bad definition '{line}'")
            if name in names:
                raise pf.FirmwareError(f"{where}:{number}: {name} defined twice")
            names[name] = guid.upper()
            continue
        position = 0
        for match in TOKEN.finditer(line):
            if line[position:match.start()].strip():
                raise pf.FirmwareError(f"{where}:{number}: unexpected "
                                       f"'{line[position:match.start()].strip()}'")
            tokens.append((number, match.group()))
            position = match.end()
        if line[position:].strip():
            raise pf.FirmwareError(f"{where}:{number}: unexpected '{line[position:].strip()}'")
    return names, tokens


class Compiler:
    """Recursive descent over the tokens, emitting postfix opcodes."""

    def __init__(self, names, tokens, where):
        self.names, self.tokens, self.where = names, tokens, where
        self.position = 0
        self.ops = []

    def peek(self):
        return self.tokens[self.position][1] if self.position < len(self.tokens) else None

    def fail(self, message):
        line = self.tokens[min(self.position, len(self.tokens) - 1)][0] if self.tokens else 0
        raise pf.FirmwareError(f"{self.where}:{line}: {message}")

    def take(self):
        token = self.peek()
        if token is None:
            self.fail("expression ends too early")
        self.position += 1
        return token

    def guid(self, token):
        if GUID_FORM.match(token):
            return pf.guid_bytes(token)
        if token in self.names:
            return pf.guid_bytes(self.names[token])
        self.fail(f"'{token}' is neither a defined name nor a GUID")

    def emit(self, opcode, guid=b""):
        self.ops.append((opcode, guid))

    def flattened(self):
        """A chain of one operator over GUIDs alone (A AND B AND C) as EDK2's build
        writes it: each distinct GUID pushed once, in order, then the operator once
        per further GUID. Both orders mean the same; one form keeps the INF's
        [Depex] and this compiler byte for byte alike."""
        operators = {opcode for opcode, _ in self.ops if opcode not in ("PUSH", "END")}
        if operators not in ({"AND"}, {"OR"}):
            return self.ops
        operands = []
        for opcode, guid in self.ops:
            if opcode == "PUSH" and (opcode, guid) not in operands:
                operands.append((opcode, guid))
        return operands + [(operators.pop(), b"")] * (len(operands) - 1) + [("END", b"")]

    def compile(self):
        if not self.tokens:
            raise pf.FirmwareError(f"{self.where}: no expression")
        if self.peek() == "SOR":
            self.take()
            self.emit("SOR")
        if self.peek() in ("BEFORE", "AFTER"):
            opcode = self.take()
            self.emit(opcode, self.guid(self.take()))
        else:
            self.or_expression()
        if self.peek() is not None:
            self.fail(f"unexpected '{self.peek()}'")
        self.emit("END")
        return b"".join(bytes([pf.DEPEX_OPCODES[opcode]]) + guid for opcode, guid in self.flattened())

    def or_expression(self):
        self.and_expression()
        while self.peek() == "OR":
            self.take()
            self.and_expression()
            self.emit("OR")

    def and_expression(self):
        self.not_expression()
        while self.peek() == "AND":
            self.take()
            self.not_expression()
            self.emit("AND")

    def not_expression(self):
        if self.peek() == "NOT":
            self.take()
            self.not_expression()
            self.emit("NOT")
            return
        token = self.take()
        if token == "(":
            self.or_expression()
            if self.take() != ")":
                self.fail("missing ')'")
        elif token in ("TRUE", "FALSE"):
            self.emit(token)
        elif token in KEYWORDS or token == ")":
            self.fail(f"'{token}' where a term belongs")
        else:
            self.emit("PUSH", self.guid(token))


def compile_depex(text, where="depex"):
    names, tokens = read_source(text, where)
    binary = Compiler(names, tokens, where).compile()
    pf.decode_depex(binary, where)
    return binary


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("output")
    args = parser.parse_args()
    try:
        with open(args.source, encoding="utf-8") as source:
            binary = compile_depex(source.read(), args.source)
        pf.write_atomically(args.output, binary)
    except (OSError, UnicodeDecodeError, pf.FirmwareError) as error:
        print(f"make_depex: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
