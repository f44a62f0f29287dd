"""generate.py SIZE VENDOR_BASE STORE_BASE OUTPUT: a saved configuration of the oldest schema,
about SIZE bytes, in a build's namespaces, in which every step finds work."""
import random
import sys

size, vendor, store = int(sys.argv[1]), sys.argv[2], sys.argv[3]
rng = random.Random(20170810)
pick, number, noise = rng.choice, rng.randrange, rng.randbytes
ip = lambda first: f"{first}.{number(256)}.{number(256)}.{number(1, 255)}"
flag = lambda: pick(["true", "true", "false"])

def xml(name, body, depth=2):  # indented as the router saves; NAME may carry attributes
    pad, tag = "  " * depth, name.split()[0]
    if isinstance(body, str):
        return f"{pad}<{name}>{body}</{tag}>\n"
    return f"{pad}<{name}>\n{''.join(xml(*child, depth + 1) for child in body)}{pad}</{tag}>\n"

def module(name, uri, fixed, record=None, share=0):  # fixed children, then records
    text = [xml(*child) for child in fixed]
    length, i = sum(map(len, text)), 0
    while length < share * rest:
        i += 1
        text.append(xml(*record(i)))
        length += len(text[-1])
    uri = uri if ":" in uri else f"{vendor}/ns/orvalis/{uri}"
    return f'  <{name} xmlns="{uri}">\n{"".join(text)}  </{name}>\n'

rule = lambda i: ("rule", [
    ("name", f"rule-{i:06d}"), ("enabled", flag()), ("action", pick(["accept", "drop"])),
    ("source-address", ip(10)), ("destination-address", ip(172)), ("port", str(number(65536)))])
# Most SSIDs filter MACs (a few entries without an action); some have no filter.
mac = lambda: ("filtered-macs", [("mac-address", noise(6).hex(":"))]
               + ([("action", pick(["allow", "block"]))] if number(10) else []))
macs = lambda: [("mac-filter", [("enabled", flag())] + [mac() for _ in range(number(5))])]
ssid = lambda i: ("ssid", [("name", f"ssid-{i}"), ("enabled", flag()), ("radio", f"WLAN{i % 2}"),
                           ("key", noise(12).hex()), *(macs() if number(8) else [])])
vlan = lambda i: ("interface", [("name", f"ETH0.{i}"), ("enabled", flag()), (
    'ipv4 xmlns="urn:ietf:params:xml:ns:yang:ietf-ip"', [("address", [("ip", ip(10))])])])
radio = lambda n, *channel: ("interface", [("name", f"WLAN{n}"), (
    f'radio xmlns="{vendor}/ns/orvalis/wifi"', [("band", ["2.4GHz", "5GHz"][n]), *channel])])
client = lambda i: ("client-to-site", [("name", f"roadwarrior-{i}"), ("certificate", f"dev-{i}")])
site = lambda i: ("site-to-site", [("name", f"branch-{i}"), ("remote-gateway", ip(198)),
                                   ("symm-authentication", [("certificate", f"branch-{i}")])])
# A JPEG's first and last bytes around random ones; hex in capitals for backgrounds.
image = lambda count: (b"\xff\xd8\xff\xe0\0\x10JFIF" + noise(count - 12) + b"\xff\xd9").hex()
profile = lambda i, n: ("portal-profile", [("name", f"profile-{i}"), ("portal-ux", [
    ("background", [("content", image(n).upper())]), ("logo", [("content", image(n // 4))])])])

# Two profiles of two images: backgrounds of 500 KB from 10 MB up, less below.
image_bytes = min(size // 20, 500000)
rest = size - 5 * image_bytes - 2048
access = [("rest", "true"), ("netconf", "true")]
remote = [("start-address", "198.51.100.1"), ("end-address", "198.51.100.9")]
firewall = [("lan-vpn-web-management", access), ("remote-web-management", access),
            ("allowed-remote-ip-addresses", remote)]
ietf = "urn:ietf:params:xml:ns:yang:ietf-interfaces"
modules = [("firewall", "fw-basic-settings", firewall, rule, 0.30),
           ("netconf", "netconf", [("port", "830")]), ("restconf", "restconf", [("port", "8443")]),
           ("wlans", "wifi", [], ssid, 0.35),
           ("interfaces", ietf, [radio(0, ("channel", "6")), radio(1)], vlan, 0.20),
           ("client-to-sites", "vpn-ipsec", [], client, 0.07),
           ("site-to-sites", "vpn-ipsec", [], site, 0.08),
           ("portal-profiles", "captive-portal", [profile(i, image_bytes) for i in (0, 1)])]
with open(sys.argv[4], "w") as out:
    out.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<config xmlns="{store}/ns/config/1.0">\n')
    out.write("".join(module(*fields) for fields in modules) + "</config>\n")
