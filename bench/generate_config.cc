// Writes a configuration of the oldest schema (v1.0.16-20170810), indented
// as the router saves it, of about the requested size, the same bytes for
// the same seed: thousands of firewall rules, interfaces, SSIDs and IPsec
// tunnels, and two portal profiles whose images are hex text.
//
//   generate_config SIZE_BYTES SEED OUTPUT
//   generate_config --images-only HEX_BYTES SEED OUTPUT
//
// The second form writes only portal profiles, as many as it takes to hold
// about HEX_BYTES of hex image text, for the image conversion measurement.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char vendor_ns[] = "http://www.orvalis.com/ns/orvalis/";
constexpr long full_image_bytes = 512000;

uint64_t prng_state;

// splitmix64: small, fast, and the same sequence on every machine.
uint64_t next_random() {
  uint64_t z = (prng_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

unsigned pick(unsigned bound) { return static_cast<unsigned>(next_random() % bound); }

template <size_t N> const char *pick_of(const char *const (&choices)[N]) {
  return choices[pick(N)];
}

FILE *out;
long written;

void emit(const char *format, ...) __attribute__((format(printf, 1, 2)));

void emit(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int n = vfprintf(out, format, arguments);
  va_end(arguments);
  if (n > 0)
    written += n;
}

// One indented line per leaf, as the saver writes them.
void leaf(int depth, const char *name, const char *value) {
  emit("%*s<%s>%s</%s>\n", depth * 2, "", name, value, name);
}

void open_element(int depth, const char *name) { emit("%*s<%s>\n", depth * 2, "", name); }

void open_module(int depth, const char *name, const char *module) {
  emit("%*s<%s xmlns=\"%s%s\">\n", depth * 2, "", name, vendor_ns, module);
}

void close_element(int depth, const char *name) { emit("%*s</%s>\n", depth * 2, "", name); }

const char *boolean(unsigned percent_true) { return pick(100) < percent_true ? "true" : "false"; }

void ipv4(char *text, size_t size, unsigned first_octet) {
  snprintf(text, size, "%u.%u.%u.%u", first_octet, pick(256), pick(256), 1 + pick(254));
}

void mac_address(char *text, size_t size) {
  uint64_t value = next_random();
  snprintf(text, size, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(value & 0xff),
           unsigned(value >> 8 & 0xff), unsigned(value >> 16 & 0xff), unsigned(value >> 24 & 0xff),
           unsigned(value >> 32 & 0xff), unsigned(value >> 40 & 0xff));
}

void secret(char *text, size_t length) {
  static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  for (size_t i = 0; i < length; ++i)
    text[i] = alphabet[pick(sizeof alphabet - 1)];
  text[length] = '\0';
}

void firewall_rule(int depth, long index) {
  static const char *const actions[] = {"accept", "drop", "reject"};
  static const char *const protocols[] = {"tcp", "udp", "icmp", "any"};
  static const char *const zones[] = {"lan", "wan", "dmz", "guest", "vpn"};
  static const char *const purposes[] = {"Allow office &amp; branch traffic",
                                         "Block legacy hosts",
                                         "VoIP trunk",
                                         "Printer subnet",
                                         "Camera uplink",
                                         "Backup window &lt;02:00-04:00&gt;"};
  char text[64];
  open_element(depth, "rule");
  snprintf(text, sizeof text, "rule-%06ld", index);
  leaf(depth + 1, "name", text);
  leaf(depth + 1, "description", pick_of(purposes));
  leaf(depth + 1, "enabled", boolean(90));
  leaf(depth + 1, "action", pick_of(actions));
  leaf(depth + 1, "protocol", pick_of(protocols));
  leaf(depth + 1, "source-zone", pick_of(zones));
  ipv4(text, sizeof text, 10);
  leaf(depth + 1, "source-address", text);
  leaf(depth + 1, "destination-zone", pick_of(zones));
  ipv4(text, sizeof text, 172);
  leaf(depth + 1, "destination-address", text);
  snprintf(text, sizeof text, "%u", 1 + pick(65535));
  leaf(depth + 1, "destination-port", text);
  leaf(depth + 1, "log", boolean(20));
  close_element(depth, "rule");
}

void firewall(long budget) {
  long start = written;
  open_module(1, "firewall", "fw-basic-settings");
  leaf(2, "enabled", "true");
  leaf(2, "default-policy", "drop");
  open_element(2, "lan-vpn-web-management");
  leaf(3, "http", "true");
  leaf(3, "rest", "true");
  leaf(3, "netconf", "false");
  close_element(2, "lan-vpn-web-management");
  open_element(2, "remote-web-management");
  leaf(3, "http", "false");
  leaf(3, "rest", "false");
  leaf(3, "netconf", "true");
  close_element(2, "remote-web-management");
  open_element(2, "allowed-remote-ip-addresses");
  leaf(3, "start-address", "198.51.100.10");
  leaf(3, "end-address", "198.51.100.200");
  close_element(2, "allowed-remote-ip-addresses");
  open_element(2, "rules");
  for (long i = 1; written - start < budget; ++i)
    firewall_rule(3, i);
  close_element(2, "rules");
  close_element(1, "firewall");
}

void netconf() {
  open_module(1, "netconf", "netconf");
  leaf(2, "enabled", "true");
  leaf(2, "port", "830");
  leaf(2, "idle-timeout", "3600");
  close_element(1, "netconf");
}

void radio(int depth, const char *band, bool with_channel) {
  emit("%*s<radio xmlns=\"%swifi\">\n", depth * 2, "", vendor_ns);
  leaf(depth + 1, "band", band);
  if (with_channel)
    leaf(depth + 1, "channel", "6");
  leaf(depth + 1, "tx-power", "20");
  leaf(depth + 1, "country", "DE");
  close_element(depth, "radio");
}

void wireless_interface(const char *name, const char *band, bool with_channel) {
  open_element(2, "interface");
  leaf(3, "name", name);
  leaf(3, "description", "Access point radio");
  leaf(3, "type", "ieee80211");
  leaf(3, "enabled", "true");
  radio(3, band, with_channel);
  close_element(2, "interface");
}

void vlan_interface(long index) {
  static const char *const roles[] = {"Office floor", "Warehouse", "Guest &amp; visitors",
                                      "Building management", "Point of sale"};
  char text[64];
  open_element(2, "interface");
  snprintf(text, sizeof text, "ETH0.%ld", index);
  leaf(3, "name", text);
  leaf(3, "description", pick_of(roles));
  leaf(3, "type", "l2vlan");
  leaf(3, "enabled", boolean(95));
  snprintf(text, sizeof text, "%u", 1500 - 4 * pick(3));
  leaf(3, "mtu", text);
  emit("      <ipv4 xmlns=\"urn:ietf:params:xml:ns:yang:ietf-ip\">\n");
  leaf(4, "enabled", "true");
  open_element(4, "address");
  snprintf(text, sizeof text, "10.%ld.%ld.1", index / 256 % 256, index % 256);
  leaf(5, "ip", text);
  leaf(5, "prefix-length", "24");
  close_element(4, "address");
  close_element(3, "ipv4");
  close_element(2, "interface");
}

void interfaces(long budget) {
  long start = written;
  emit("  <interfaces xmlns=\"urn:ietf:params:xml:ns:yang:ietf-interfaces\">\n");
  wireless_interface("WLAN0", "2.4GHz", true);
  wireless_interface("WLAN1", "5GHz", false);
  for (long i = 1; written - start < budget; ++i)
    vlan_interface(i);
  close_element(1, "interfaces");
}

void mac_filter(int depth) {
  static const char *const verdicts[] = {"allow", "block"};
  char text[32];
  open_element(depth, "mac-filter");
  leaf(depth + 1, "enabled", boolean(70));
  unsigned entries = pick(5);
  for (unsigned i = 0; i < entries; ++i) {
    open_element(depth + 1, "filtered-macs");
    mac_address(text, sizeof text);
    leaf(depth + 2, "mac", text);
    if (pick(10) != 0)
      leaf(depth + 2, "action", pick_of(verdicts));
    close_element(depth + 1, "filtered-macs");
  }
  close_element(depth, "mac-filter");
}

void ssid(long index) {
  static const char *const modes[] = {"wpa2-psk", "wpa2-enterprise", "wpa3-sae", "open"};
  char text[64];
  open_element(2, "ssid");
  snprintf(text, sizeof text, "site-%04ld-wifi", index);
  leaf(3, "name", text);
  leaf(3, "enabled", boolean(85));
  leaf(3, "hidden", boolean(10));
  leaf(3, "radio", index % 2 ? "WLAN0" : "WLAN1");
  snprintf(text, sizeof text, "%ld", 100 + index % 3900);
  leaf(3, "vlan", text);
  open_element(3, "security");
  leaf(4, "mode", pick_of(modes));
  secret(text, 24);
  leaf(4, "passphrase", text);
  close_element(3, "security");
  leaf(3, "max-clients", "64");
  // Most SSIDs filter MAC addresses; a few have none, to be passed over.
  if (pick(8) != 0)
    mac_filter(3);
  close_element(2, "ssid");
}

void wlans(long budget) {
  long start = written;
  open_module(1, "wlans", "wifi");
  for (long i = 1; written - start < budget; ++i)
    ssid(i);
  close_element(1, "wlans");
}

void client_to_site(long index) {
  char text[64];
  open_element(2, "client-to-site");
  snprintf(text, sizeof text, "roadwarrior-%05ld", index);
  leaf(3, "name", text);
  leaf(3, "enabled", "true");
  ipv4(text, sizeof text, 203);
  leaf(3, "local-gateway", text);
  leaf(3, "ike-version", "ikev2");
  leaf(3, "encryption", "aes256");
  leaf(3, "integrity", "sha256");
  leaf(3, "dh-group", "modp2048");
  snprintf(text, sizeof text, "device-cert-%05ld", index);
  leaf(3, "certificate", text);
  snprintf(text, sizeof text, "192.168.%ld.0/24", index % 256);
  leaf(3, "address-pool", text);
  close_element(2, "client-to-site");
}

void site_to_site(long index) {
  char text[64];
  open_element(2, "site-to-site");
  snprintf(text, sizeof text, "branch-%05ld", index);
  leaf(3, "name", text);
  leaf(3, "enabled", boolean(90));
  ipv4(text, sizeof text, 198);
  leaf(3, "remote-gateway", text);
  snprintf(text, sizeof text, "10.%ld.0.0/16", index % 256);
  leaf(3, "local-subnet", text);
  snprintf(text, sizeof text, "172.%ld.%ld.0/24", 16 + index % 16, index / 16 % 256);
  leaf(3, "remote-subnet", text);
  open_element(3, "symm-authentication");
  leaf(4, "method", "certificate");
  snprintf(text, sizeof text, "branch-cert-%05ld", index);
  leaf(4, "certificate", text);
  leaf(4, "ca-certificate", "corporate-root-ca");
  close_element(3, "symm-authentication");
  leaf(3, "lifetime", "28800");
  close_element(2, "site-to-site");
}

void ipsec(long budget) {
  long start = written;
  open_module(1, "client-to-sites", "vpn-ipsec");
  for (long i = 1; written - start < budget / 2; ++i)
    client_to_site(i);
  close_element(1, "client-to-sites");
  open_module(1, "site-to-sites", "vpn-ipsec");
  for (long i = 1; written - start < budget; ++i)
    site_to_site(i);
  close_element(1, "site-to-sites");
}

// A JPEG-like byte stream in hex: the usual start, random body, end marker.
void image_hex(int depth, long bytes, bool upper_case) {
  static const unsigned char header[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49,
                                         0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01};
  const char *digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  emit("%*s<content>", depth * 2, "");
  for (long i = 0; i < bytes; ++i) {
    unsigned value;
    if (i < long(sizeof header))
      value = header[i];
    else if (i == bytes - 2)
      value = 0xFF;
    else if (i == bytes - 1)
      value = 0xD9;
    else
      value = unsigned(next_random() & 0xff);
    fputc(digits[value >> 4], out);
    fputc(digits[value & 15], out);
  }
  written += 2 * bytes;
  emit("</content>\n");
}

void portal_profile(long index, long image_bytes) {
  static const char *const titles[] = {"Welcome to the lobby", "Guest Wi-Fi &amp; terms",
                                       "Conference centre"};
  char text[64];
  open_element(2, "portal-profile");
  snprintf(text, sizeof text, "profile-%ld", index);
  leaf(3, "name", text);
  leaf(3, "title", pick_of(titles));
  leaf(3, "session-timeout", "7200");
  open_element(3, "portal-ux");
  open_element(4, "background");
  leaf(5, "type", "image/jpeg");
  image_hex(5, image_bytes, index % 2 == 0);
  close_element(4, "background");
  open_element(4, "logo");
  leaf(5, "type", "image/jpeg");
  image_hex(5, image_bytes / 4, index % 2 == 0);
  close_element(4, "logo");
  close_element(3, "portal-ux");
  close_element(2, "portal-profile");
}

void portal_profiles(long profiles, long image_bytes) {
  open_module(1, "portal-profiles", "captive-portal");
  for (long i = 0; i < profiles; ++i)
    portal_profile(i, image_bytes);
  close_element(1, "portal-profiles");
}

void open_config() {
  emit("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  emit("<config xmlns=\"http://cfgstore.orvalis.com/ns/config/1.0\">\n");
}

// Two profiles; background images of 500 KB (logos a quarter of that), less
// for small configurations so that hex images stay a quarter of them at most.
void full_config(long size) {
  long image_bytes = size / 20 < full_image_bytes ? size / 20 : full_image_bytes;
  long rest = size - 2 * 2 * (image_bytes + image_bytes / 4) - 2048;
  open_config();
  firewall(rest * 30 / 100);
  netconf();
  interfaces(rest * 20 / 100);
  wlans(rest * 35 / 100);
  ipsec(rest * 15 / 100);
  portal_profiles(2, image_bytes);
  emit("</config>\n");
}

void images_only_config(long hex_bytes) {
  long per_profile = 2 * (full_image_bytes + full_image_bytes / 4);
  open_config();
  portal_profiles((hex_bytes + per_profile - 1) / per_profile, full_image_bytes);
  emit("</config>\n");
}

int usage() {
  fputs("usage: generate_config [--images-only] SIZE_BYTES SEED OUTPUT\n", stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  bool images_only = argc > 1 && strcmp(argv[1], "--images-only") == 0;
  if (images_only) {
    --argc;
    ++argv;
  }
  if (argc != 4)
    return usage();
  long size = strtol(argv[1], nullptr, 10);
  prng_state = strtoull(argv[2], nullptr, 10);
  if (size <= 0)
    return usage();
  out = fopen(argv[3], "wb");
  if (!out) {
    fprintf(stderr, "generate_config: cannot write %s\n", argv[3]);
    return 1;
  }
  if (images_only)
    images_only_config(size);
  else
    full_config(size);
  if (fclose(out) != 0) {
    fprintf(stderr, "generate_config: write to %s failed\n", argv[3]);
    return 1;
  }
  return 0;
}
