#!/usr/bin/python3
"""Announces DNS-SD service instances on loopback for the discovery tests.

One JSON command per line on stdin, one "ok" (or "error: ...") per line on stdout:
  {"op": "register", "name": "Deck One", "type": "_corvane._tcp", "port": 8080,
   "host": "deckone", "txt": {"key": "value"}}          (or "txthex": raw record data;
   "address" gives the host's address on loopback, 127.0.0.1 when left out)
  {"op": "update", ...same fields...}
  {"op": "unregister", "name": "Deck One", "type": "_corvane._tcp"}
"""
import json
import socket
import sys

import zeroconf._core
from zeroconf import IPVersion, ServiceInfo, Zeroconf
from zeroconf._utils.name import service_type_name


def lenient_instance_name(info):
    # Devices announce types with an underscore inside ("_cvn_blockcfg._tcp"), which the
    # library's strict name check refuses on registration.
    return info.name[: -len(service_type_name(info.name, strict=False)) - 1]


zeroconf._core.instance_name_from_service_info = lenient_instance_name


def service_info(command):
    service_type = command["type"] + ".local."
    properties = command.get("txt", {})
    if "txthex" in command:
        properties = bytes.fromhex(command["txthex"])
    return ServiceInfo(
        service_type,
        command["name"] + "." + service_type,
        addresses=[socket.inet_aton(command.get("address", "127.0.0.1"))],
        port=command.get("port", 0),
        properties=properties,
        server=command.get("host", "announcer") + ".local.",
    )


def main():
    zeroconf = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    registered = {}
    print("ready", flush=True)
    try:
        for line in sys.stdin:
            if not line.strip():
                continue
            try:
                command = json.loads(line)
                key = (command["name"], command["type"])
                if command["op"] == "register":
                    info = service_info(command)
                    zeroconf.register_service(info, cooperating_responders=True)
                    registered[key] = info
                elif command["op"] == "update":
                    info = service_info(command)
                    zeroconf.update_service(info)
                    registered[key] = info
                elif command["op"] == "unregister":
                    zeroconf.unregister_service(registered.pop(key))
                print("ok", flush=True)
            except Exception as error:  # reported to the test, which fails on it
                print("error: %s" % error, flush=True)
    finally:
        zeroconf.close()


if __name__ == "__main__":
    main()
