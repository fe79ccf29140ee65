#!/usr/bin/env python3
"""Splits callgrind dumps of bench/calls into the library's own instructions,
the stand-in host's and the virtual bus's, per call.

The library's own cost is every instruction executed in the plug-in's object
(PLT stubs included) plus whatever it calls outside itself that is neither an
mx/mex function (the host) nor a libusb function (the bus), e.g. the C
library.  What the host or the bus calls back is theirs.

    cgsplit.py <module-file-name> <dump>...   prints one tab-separated line per
                                              dump: case, calls, library, host, bus
"""
import re
import sys


def split(path, module):
    names = {}  # (kind, id) -> name; fn and cfn share ids, ob and cob too
    def name(kind, value):
        m = re.match(r"\((\d+)\)(?: (.*))?$", value)
        if not m:
            return value
        key = (kind, m.group(1))
        if m.group(2) is not None:
            names[key] = m.group(2)
        return names.get(key, "")

    label, ob, cob, cfn = "", "", "", ""
    in_call = False
    own = host = bus = 0
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("desc: Trigger: Client Request: "):
                label = line.split(": ", 2)[2][len("Client Request: "):]
            elif line.startswith("ob="):
                ob = name("ob", line[3:])
            elif line.startswith("fn="):
                name("fn", line[3:])
                cob = ""
            elif line.startswith("cob="):
                cob = name("ob", line[4:])
            elif line.startswith("cfn=") or line.startswith("cfi=") or line.startswith("cfl="):
                if line.startswith("cfn="):
                    cfn = name("fn", line[4:])
                else:
                    name("fl", line[4:])
            elif line.startswith(("fl=", "fi=", "fe=")):
                name("fl", line[3:])
            elif line.startswith("calls="):
                in_call = True
            elif line[:1].isdigit() or line[:1] in "+-*":
                fields = line.split()
                cost = int(fields[1]) if len(fields) > 1 else 0
                inside = ob.endswith(module)
                if in_call:
                    callee = cob or ob
                    if inside and not callee.endswith(module):
                        if cfn.startswith("libusb_"):
                            bus += cost
                        elif cfn.startswith(("mx", "mex")):
                            host += cost
                        else:
                            own += cost
                    in_call = False
                    cob = ""
                elif inside:
                    own += cost
    case, _, calls = label.rpartition("/")
    return case, int(calls), own, host, bus


def main():
    module = sys.argv[1]
    # Dumps in the order they were made: <name>.<pid>.<n>
    for path in sorted(sys.argv[2:], key=lambda p: int(p.rsplit(".", 1)[1])):
        case, calls, own, host, bus = split(path, module)
        if not case:
            continue
        print(f"{case}\t{calls}\t{own / calls:.0f}\t{host / calls:.0f}\t{bus / calls:.0f}")


if __name__ == "__main__":
    main()
